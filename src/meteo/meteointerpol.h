// The interpolator of one meteorological variable (section "[<name>]", the
// name from "[meteo_names]"): reads its section, walks the rows of its input
// files (station data files, a regression file, or a list of ready grids)
// from the start of the model time, and every step computes its result
// grid, registered in the GridRegistry under the variable's name so that
// every module finds the forcing by that name. The application takes the
// model date from interpolator 1 and ends the run when every variable's data
// end.
//
// Methods: 1 (inverse distance weighting, plain or anisotropic),
// 2 (elevation regression from a regression file), 3 (2 blended with 1),
// 4 (Thiessen), 5 (bilinear between the four stations of a mesh cell),
// 6 (bilinear residuals plus bilinear gradients times the elevation),
// 7 (bicubic spline on a station mesh, tsplines.h), 8 (splines of residuals
// plus splines of gradients times the elevation), 9 (grids read from a grid
// list), 10 (elevation regression fitted to the step's station values),
// 11 (10 blended with 1) and 12 (Thiessen with an elevation lapse rate).
// Every computed value is scaled, limited, changed by the
// climate scenario and by the scaling grid "ScalingGrid_<name>"
// (interpolation/post_processing.h); the grid is written by its writecode
// and summed per zone and step into its statistics table.
//
// The per-cell arithmetic lives in the kernels of interpolation/; this class
// owns the grids, the input files and the loop over the process's cells.
#pragma once

#include "kernel/grid.h"
#include "kernel/hydrologic_response_unit.h"
#include "kernel/model_date.h"
#include "kernel/modelobject.h"
#include "kernel/module_settings.h"
#include "kernel/registry_entries.h"
#include "meteo/grid_list_file.h"
#include "meteo/interpolation/elevation_regression.h"
#include "meteo/interpolation/inverse_distance.h"
#include "meteo/interpolation/look_up_stations.h"
#include "meteo/interpolation/post_processing.h"
#include "meteo/interpolation/scenario.h"
#include "meteo/interpolation/station_spacing.h"
#include "meteo/interpolation/thiessen.h"
#include "meteo/regression_file.h"
#include "meteo/station_file.h"
#include "meteo/station_mesh.h"
#include "meteo/tsplines.h"
#include "raster/output/zonal_statistic.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavro {

class StatisticsRegistry;
struct CellIterationSetup;

class meteointerpol : public modelobject {
public:
  static constexpr int MethodExitCode = 53;
  static constexpr int StationLineExitCode = 49;
  static constexpr int ParameterLineExitCode = 49;
  static constexpr int ScenarioRowExitCode = 48;
  static constexpr int DateMismatchExitCode = 73;
  static constexpr int StepDateExitCode = 52;
  static constexpr int AnisotropyExitCode = 54;
  static constexpr int MeshExitCode = 70;
  static constexpr int NoCellAreaExitCode = 74;
  // Also a step that would keep the previous grid before any grid was
  // computed (a first row without any valid value, methods 1, 4, 5, 7; a
  // first step without a regression, methods 2, 10).
  static constexpr int NoGridNameExitCode = 1050;
  static constexpr int StatisticsDecimals = 3;

  // settings.ModuleName is the variable's name, settings.EndDate the end of
  // the model time; registryIndex the free GridRegistry entry for the result
  // grid. The registry must hold "RelCellArea" (74), "CoordX" and "CoordY"
  // (33), the zone grid at entry 1 and the elevation model at entry 2.
  // error: 0, or the exit code of a failure, which is thrown as well (other
  // exceptions: 103).
  meteointerpol(int &error, const ModuleSettings &settings, const ModelDate &startDate,
                int registryIndex);
  ~meteointerpol() override;

  virtual void SetWarnings(int warnings);
  // Hours from the time stamp of a data row to the end of the model step.
  virtual void SetTimeStep(double hoursToIntervalEnd);
  // Date of the current data row.
  virtual void GetActualDate(long &hour, long &day, long &month, long &year) const;
  // Computes the result grid of the step and its statistics. The date must
  // be the variable's own data date (else fatal 52).
  virtual void Interpolate(long hour, long day, long month, long year);
  // Fits the regression (set 1) to the current values of station file
  // stationFile (methods 10 and 11, every step before the interpolation).
  virtual void CalcElevationRegression(int stationFile);
  // Writes the result grid by its writecode.
  virtual void WriteResultGrid();
  // Advances every input file to its next row; dates that disagree between
  // the files are fatal (73).
  virtual void ReadNextData();
  virtual bool EndOfData() const;
  // The file whose rows set the data date: the first station file, else the
  // regression file, else the grid list (empty when there is none).
  std::string DataFileName() const;
  // Moves the end of the model time to the current data row, so that the next
  // ReadNextData ends the data.
  virtual void SetActualDateFromData();
  // All inputs back to the start row, end of data cleared; ReadNextData must
  // follow before the next use.
  virtual void Rewind();
  // Appends the buffered statistics rows to their file.
  virtual void FlushStatistics();
  // Logs "DEBUG: deleting interpolator for <name>", writes the pending
  // statistics rows, frees the grids and buffers and releases every registry
  // entry the object filled: the registry is as it was before construction.
  void ReleaseMemory() override;

  // --- Station geometry (run once by the constructor) ---------------------
  // Weight code of the exponent; slope within +-90 degrees and b/a in (0, 1]
  // (else 54); the stations' distances from the lower-left corner and their
  // coordinates in the rotated frame.
  virtual void CheckAnisotropy();
  // With b/a below 1: the grids "CoordXRot_<name>" and "CoordYRot_<name>"
  // (first free registry entries, writecode 0) become the search coordinates.
  virtual void CreateRotatedCoordinates();
  // Mean horizontal and vertical spacing of the first station file.
  virtual void CalcStationDistances();
  // Methods 5 to 8: the anisotropy slope (degrees) and b/a become the
  // dominant direction of the first station file's mesh and 0.995, or 0 and 1
  // for a mesh along the axes (or of a single station).
  virtual void CalcMeshDirection();
  // Methods 5 and 6: the four corner stations of every own cell, searched in
  // the rotated frame among the stations of the first file (which the second
  // file repeats).
  virtual void ChooseLookUpStations(int stationFileCount);
  // Methods 7 and 8: sorts the stations of station file `file` into the
  // StationMesh by walking south and north from the westernmost unplaced
  // station through the search boxes, and creates the splines (and the
  // second spline grid of method 8). Columns of unequal length, fewer than
  // two columns or fewer than two stations per column are fatal (70).
  virtual void StationMeshToGrid(int file);
  // 1 when any of flags[1..n] is non-zero, else 0.
  static int AnyNonZero(const OneBasedArray<int> &flags, std::size_t n);
  // The first station (1..N) of the first file whose rotated coordinates lie
  // in the open box (x0 + xlo, x0 + xhi) x (y0 + ylo, y0 + yhi), or 0.
  std::uint32_t FindStationInBox(double x0, double y0, double xlo, double xhi, double ylo,
                                 double yhi) const;

  // --- Values at one point (the kernels on the current station rows) ------
  // file 0; work has room for the stations 1..N of the file.
  double InverseDistance(int file, std::span<double> work, double x, double y) const;
  double InverseDistanceAnisotropic(int file, std::span<double> work, double x, double y) const;
  double Thiessen(int file, std::span<double> work, double x, double y) const;
  double ThiessenLapseRate(double x, double y, double elevation) const;
  // The bilinear value of file's stations at (x, y) (rotated frame) between
  // the look-up stations of the own cell (row, column).
  double Bilinear(int file, long row, long column, std::span<double> work, double x,
                  double y) const;
  // The regression (set 1) at (x, y) and elevation z; -N - 1 without one.
  // Row and column play no part. Called by the threads: reads only.
  double ElevationRegressionValue(long row, long column, double x, double y, double z) const;
  // The scenario value of a cell: the month's scenario grid (SzenMeth 5, 6)
  // or the nearest scenario station; 0 added or a factor of 1 when no
  // scenario applies.
  double ScenarioValue(long row, long column, double x, double y) const;

  // --- The regression and the value at a point (precipitation correction) --
  // Methods 2, 3, 10 and 11, set 1: Lo, Hi and the intercepts and slopes
  // (elements 0..3); every other method or set: all -N - 1.
  void GetRegressionParameters(int set, double &lower, double &upper,
                               std::array<double, 4> &intercepts,
                               std::array<double, 4> &slopes) const;
  // Stores the intercepts, the slopes and Hi of set 1 (other sets: nothing).
  void SetRegressionParameters(int set, const std::array<double, 4> &intercepts,
                               const std::array<double, 4> &slopes, double upper);
  const interpolation::RegressionRecord &Regression() const { return regression_; }
  // The variable at the point (x, y) of elevation z, post-processed like a
  // cell (without the scaling grid); a value below -N is returned as it is.
  // Reads no grid of the strip, so that every process gets the same value
  // for any point: bilinear methods search the point's own look-up
  // stations, method 6 takes the gradient times z, and methods 7, 8 and 9
  // the nearest station at the point's plain coordinates. work should hold
  // the largest station count of the variable's files (else a work array of
  // the object's own is used). Main thread only.
  double ValueAtPoint(std::span<double> work, double x, double y, double z);

  // --- Fields read by the application, the tests and the later kernels ----
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
  int WeightCode = 0; // floor(1000 IdwWeight)
  double IdwFraction = 0.0;
  double MaxDistance = 0.0;     // squared when the weight code is 2000
  double AnisotropySlope = 0.0; // degrees as read, radians after construction
  double AnisotropyRatio = 1.0;
  double LowerLimit = 0.0, LowerReplacement = 0.0;
  double UpperLimit = 0.0, UpperReplacement = 0.0;
  std::string RegressionFileName;
  std::vector<std::string> StationFileNames;
  std::vector<std::string> StationFileLines;
  std::vector<int> AdditionalColumns;
  // Method 10/11: lower and upper inversion, tolerance, overlap, cluster
  // range, lapse rate above the upper inversion (-9999 none). Method 12: the
  // lapse rate, the inversion height (UpperInversion) and the fixed upper
  // lapse rate (-9999 none).
  double LowerInversion = 0.0, UpperInversion = 0.0, Tolerance = 0.0, ClusterRange = 0.0;
  int Overlap = 0;
  double LapseRate = -9999.0;
  double FixedUpperLapseRate = -9999.0;
  std::string Method12Text;
  int PType = 0;
  int SzenUse = 0, SzenMeth = 0, SzenNum = 0;
  std::vector<std::string> ScenarioGridNames;            // 12 months (SzenMeth 5, 6)
  std::vector<interpolation::ScenarioRow> ScenarioTable; // rows 1..SzenNum as 0..SzenNum-1
  int ScenarioMonth = 0;                                 // month of the scenario grid
  int ScenarioGridIndex = 0;                             // its registry entry; 0 none
  std::string ScenarioGridIdentifier;                    // "scenariogrid_<name>"
  int RotatedXIndex = -1, RotatedYIndex = -1;            // "CoordXRot_", "CoordYRot_"
  interpolation::StationSpacing Spacing;                 // of the first station file
  double SearchTolerance = 0.25;                         // fraction of the spacing
  std::string Description;                               // header line of the statistics
  std::string CurrentGridName;                           // method 9: the row's grid name
  std::string LastValidGridName;                         // method 9: the last one read
  ModelDate StartDate;
  ModelDate DataDate; // date of the current data row

  // The station files opened (0 for methods 2 and 9).
  int OpenStationFileCount() const { return static_cast<int>(stations_.size()); }
  const StationDataFile &StationFile(int index) const { return *stations_[index]; }
  // The station files, for the correction of their current values in place.
  StationDataFile &ChangeableStationFile(int index) { return *stations_[index]; }
  // Whether the last Interpolate gave the result grid new values (false when
  // the grid kept the previous step's: no valid station value, no
  // regression).
  bool ResultRenewed() const { return renewed_; }
  // Station coordinates in the rotated frame (the plain ones when b/a is 1)
  // and distances from the raster's lower-left corner, stations 1..N.
  const OneBasedArray<double> &RotatedStationX(int file) const { return rotatedX_[file]; }
  const OneBasedArray<double> &RotatedStationY(int file) const { return rotatedY_[file]; }
  const OneBasedArray<double> &StationCornerDistances(int file) const {
    return cornerDistances_[file];
  }
  const Grid &ResultGrid() const { return result_; }
  const zonalstatistic *Statistics() const { return statistics_.get(); }
  const Grid *ScalingGrid() const { return scalingGrid_; }
  // Methods 2 and 3: the regression file; method 9: the grid list.
  const RegressionFile *RegressionInput() const { return regressionFile_.get(); }
  const GridListFile *GridList() const { return gridList_.get(); }
  // Methods 5 and 6: the look-up stations of a cell of the strip (0: none).
  interpolation::LookUpCorners LookUpStations(long row, long column) const;
  // Methods 7 and 8: the mesh, its splines, and the spline grids of the
  // step (the first station file's, and the second one's for method 8).
  const StationMesh &Mesh() const { return mesh_; }
  const TSplines *Splines() const { return splines_.get(); }
  const Grid &SplineGrid() const { return splineGrid_; }
  const Grid &SecondSplineGrid() const { return secondSplineGrid_; }

private:
  void StoreSettings(const ModuleSettings &settings);
  void PrepareKernels();
  void LinkSetupGrids();
  void ReadSection();
  void ReadStationFileLine(int k);
  void ReadMethodParameterLine();
  void ReadScenario();
  std::string ReadWholeLine();
  void CreateResultGrid();
  void ReadScenarioGrid(int month);
  void WriteDescription();
  void CreateStatistics();
  void OpenStationFiles();
  void OpenRegressionFile();
  void OpenGridList();
  // Method 3: the regression row must carry the station row's date (else 52).
  void CheckRegressionDate() const;

  // The step.
  // Fatal 52 naming the file when this variable's data ended before the run.
  void CheckDataLeft() const;
  void CheckStepDate(long hour, long day, long month, long year) const;
  void LogProgress(long hour, long day, long month, long year) const;
  void UpdateScenario();
  void LinkRegions();
  // Method 9: reads the grid of the row (or the last valid one) into the
  // result grid; "-9999" before any valid name is fatal (1050).
  void ReadListedGrid();
  // False when the step keeps the previous step's grid: methods 1, 4, 5 and
  // 7 on a row of the first station file without any valid value, methods 2
  // and 10 without a regression. Fatal (1050) when no grid was computed yet.
  bool InterpolateCells();
  // The grid stays as the last step left it; fatal before the first grid.
  void KeepPreviousGrid(const char *missing) const;
  double CellValue(long row, long column, std::span<double> work, bool uniform,
                   double uniformValue) const;
  double PostProcess(long row, long column, double value) const;
  // Inverse distance weighting of a station file at (x, y) in the search
  // frame (anisotropic when b/a is below 1).
  double InverseDistanceAt(std::span<double> work, double x, double y, int file = 0) const;
  // Methods 7 and 8: the node values of the step and the splines of each
  // station file onto its spline grid.
  void EvaluateMeshSplines();
  double SplineCellValue(long row, long column, std::span<double> work) const;
  // Methods 6 (and 8): residual + gradient * z; missing when a part is.
  double ResidualPlusGradient(double residual, double gradient, double z) const;
  // Methods 3 and 11: the regression blended with inverse distance weighting.
  double RegressionWithInverseDistance(long row, long column, std::span<double> work) const;
  double BilinearBetween(int file, const interpolation::LookUpCorners &corners,
                         std::span<double> work, double x, double y) const;
  interpolation::ValueBounds Bounds() const;
  // Day-weighted values of the scenario rows for the current data date.
  void UpdateScenarioTable();
  void AddStatistics();
  CellIterationSetup CellsOfThisProcess() const;
  std::span<const double> Span(const OneBasedArray<double> &values) const;

  std::vector<std::unique_ptr<StationDataFile>> stations_;
  std::unique_ptr<RegressionFile> regressionFile_;
  std::unique_ptr<GridListFile> gridList_;
  interpolation::RegressionRecord regression_; // set 1, the regression of the step
  // Methods 5 and 6: corner stations of the strip's cells, row by row.
  std::vector<interpolation::LookUpCorners> lookUp_;
  std::vector<OneBasedArray<double>> rotatedX_, rotatedY_, cornerDistances_;
  interpolation::InverseDistanceSettings idw_;
  interpolation::LapseRateSettings lapse_;
  interpolation::ResultLimits limits_;
  interpolation::ScenarioKind scenarioKind_ = interpolation::ScenarioKind::None;

  // Set-up grids (not owned).
  const Grid *zone_ = nullptr;
  const Grid *elevation_ = nullptr;
  const Grid *coordX_ = nullptr;
  const Grid *coordY_ = nullptr;
  const Grid *searchX_ = nullptr; // coordX_/coordY_, or the rotated grids
  const Grid *searchY_ = nullptr;
  const Grid *scalingGrid_ = nullptr;
  const Grid *unitGrid_ = nullptr;   // "HydrologicResponseUnits" in spin-up mode
  const Grid *masterGrid_ = nullptr; // "MasterHydrologicResponseUnits"
  const std::vector<HydrologicResponseUnit> *units_ = nullptr;
  int spinUpSwitch_ = 0;

  std::vector<ZoneRecord> statisticsZones_; // the table's own copy of the zone records
  std::unique_ptr<zonalstatistic> statistics_;
  StatisticsRegistry *statisticsRegistry_ = nullptr;
  int statisticsCapacity_ = 0;

  // The work arrays of the threads, sized before each parallel loop.
  std::vector<double> workspace_;

  Grid result_;
  Grid scenarioGrid_; // the month's scenario grid, whole on every process
  Grid rotatedCoordX_, rotatedCoordY_;
  StationMesh mesh_;
  Grid splineGrid_, secondSplineGrid_;
  std::unique_ptr<TSplines> splines_; // refers to the mesh and the search coordinates
  // Declared after the grids: released before them when construction fails.
  RegistryEntries entries_;
  bool endOfData_ = false;
  bool renewed_ = false;
  bool computed_ = false; // some step has computed the grid since construction
  bool released_ = false;
};

} // namespace tavro
