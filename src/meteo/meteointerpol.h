// The interpolator of one meteorological variable (section "[<name>]", the
// name from "[meteo_names]"): reads its section, walks the rows of its
// station data file(s) from the start of the model time, and registers its
// result grid in the GridRegistry under the variable's name so that every
// module finds the forcing by that name. The application takes the model
// date from interpolator 1 and ends the run when every variable's data end.
//
// The interpolation kernels, the regression files and grid lists (methods 2
// and 9) and the zonal statistics of the result grid come later; the result
// grid holds the nodata value -9999 until then.
#pragma once

#include "kernel/grid.h"
#include "kernel/model_date.h"
#include "kernel/modelobject.h"
#include "kernel/module_settings.h"
#include "meteo/station_file.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace tavro {

class meteointerpol : public modelobject {
public:
  static constexpr int MethodExitCode = 53;
  static constexpr int StationLineExitCode = 49;
  static constexpr int ParameterLineExitCode = 49;
  static constexpr int ScenarioRowExitCode = 48;
  static constexpr int DateMismatchExitCode = 73;

  // settings.ModuleName is the variable's name, settings.EndDate the end of
  // the model time; registryIndex the free GridRegistry entry for the result
  // grid. error: 0, or the exit code of a failure, which is thrown as well
  // (other exceptions: 103).
  meteointerpol(int &error, const ModuleSettings &settings, const ModelDate &startDate,
                int registryIndex);
  ~meteointerpol() override;

  virtual void SetWarnings(int warnings);
  // Hours from the time stamp of a data row to the end of the model step.
  virtual void SetTimeStep(double hoursToIntervalEnd);
  // Date of the current data row.
  virtual void GetActualDate(long &hour, long &day, long &month, long &year) const;
  virtual void Interpolate(long hour, long day, long month, long year);
  virtual void CalcElevationRegression(int stationFile);
  virtual void WriteResultGrid();
  // Advances every input file to its next row; dates that disagree between
  // the files are fatal (73).
  virtual void ReadNextData();
  virtual bool EndOfData() const;
  // Moves the end of the model time to the current data row, so that the next
  // ReadNextData ends the data.
  virtual void SetActualDateFromData();
  // All inputs back to the start row, end of data cleared; ReadNextData must
  // follow before the next use.
  virtual void Rewind();
  virtual void FlushStatistics();
  // Logs "DEBUG: deleting interpolator for <name>", frees the buffers and
  // releases the registry entries.
  void ReleaseMemory() override;

  // --- Fields read by the application and the later kernels ---------------
  int InterpolationMethod = 0; // 1..12
  int StationFileCount = 1;
  int Warnings = 0;
  int ResultGridIndex = 0;
  int ResultWritecode = 0;
  std::string ResultGridFileName;
  std::string StatisticsFileName;
  int StatisticsCode = 0;
  double ScalingFactor = 1.0;
  double NodataBound = 0.0; // the section's "nodata value" N
  double IdwWeight = 0.0;
  double IdwFraction = 0.0;
  double MaxDistance = 0.0;     // squared when IdwWeight is 2
  double AnisotropySlope = 0.0; // degrees as read
  double AnisotropyRatio = 1.0;
  double LowerLimit = 0.0, LowerReplacement = 0.0;
  double UpperLimit = 0.0, UpperReplacement = 0.0;
  std::string RegressionFileName;
  std::vector<std::string> StationFileNames;
  std::vector<std::string> StationFileLines;
  std::vector<int> AdditionalColumns;
  // Method 10/11: lower and upper inversion, tolerance, overlap, cluster
  // range, lapse rate above the upper inversion (-9999 none).
  double LowerInversion = 0.0, UpperInversion = 0.0, Tolerance = 0.0, ClusterRange = 0.0;
  int Overlap = 0;
  double LapseRate = -9999.0;
  double FixedUpperLapseRate = -9999.0; // method 12
  std::string Method12Text;
  int PType = 0;
  int SzenUse = 0, SzenMeth = 0, SzenNum = 0;
  std::vector<std::string> ScenarioGridNames;        // 12 months (SzenMeth 5, 6)
  std::vector<std::array<double, 15>> ScenarioTable; // rows 0..SzenNum-1, columns 1..14
  ModelDate StartDate;
  ModelDate DataDate; // date of the current data row

  const StationDataFile &StationFile(int index) const { return *stations_[index]; }

private:
  void ReadSection();
  void ReadStationFileLine(int k);
  void ReadMethodParameterLine();
  void ReadScenario();
  std::string ReadWholeLine();
  void CreateResultGrid();
  void OpenStationFiles();

  std::vector<std::unique_ptr<StationDataFile>> stations_;
  Grid result_;
  bool endOfData_ = false;
  bool resultRegistered_ = false;
  bool released_ = false;
};

} // namespace tavro
