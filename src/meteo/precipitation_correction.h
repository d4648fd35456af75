// The precipitation correction (section "[precipitation_correction]"): a
// factor on precipitation that grows linearly with the wind speed, with one
// pair of constant and slope for rain and one for snow, told apart by a
// threshold temperature (the kernel in correction/). A model object, not a
// sub-model: no flow control parameter and no time interval.
//
// It acts in one of two places of the step. With the regional superposition
// off it corrects the precipitation's station values before they are
// interpolated (temperature and wind speed at the stations by the
// interpolators' point values) and refits the precipitation's elevation
// regression to the corrected values. With the superposition on, or when
// temperature, wind speed or precipitation exists only as a grid, it
// corrects the grid "precipitation" cell by cell after the interpolation.
#pragma once

#include "kernel/modelobject.h"
#include "kernel/module_settings.h"
#include "kernel/one_based_array.h"
#include "meteo/correction/precipitation_factor.h"
#include "meteo/correction/regression_refit.h"

#include <string>
#include <vector>

namespace tavro {

class Grid;
class meteointerpol;

class precicorrclass : public modelobject {
public:
  static constexpr const char *FixedName = "precipitation_correction";

  // variables[i - 1] and names[i - 1] are interpolator i (not owned; they
  // must outlive the object's use). regionCount: the number of regions of
  // the region grid (regression work records), at least 1.
  // error: 0, or the exit code of a failure, which is thrown as well.
  precicorrclass(int &error, const ModuleSettings &settings, std::vector<meteointerpol *> variables,
                 std::vector<std::string> names, int regionCount);

  virtual void SetMaxElevation(double elevation);
  // Corrects the precipitation's station values and refits its regression
  // (methods 2, 3, 10 and 11); nothing in grid-only mode.
  virtual void CorrectStationData();
  // Corrects the grid "precipitation" over the process's cells. A grid whose
  // values were not renewed since the last correction is left alone, so a
  // data gap never compounds the factor.
  virtual void CorrectGrids();
  void ReleaseMemory() override;

  // Grid-only mode with the correction on: the station values cannot be
  // corrected, so the run loop corrects the grid after the interpolation.
  bool CorrectsGridInsteadOfStations() const { return DoIt != 0 && GridOnly; }
  // Tells that the producer of the grid "precipitation" (a superposition
  // entity) computes it anew every step before CorrectGrids.
  void SetGridRenewedEveryStep(bool renewed) { gridRenewedEveryStep_ = renewed; }
  int PrecipitationGridIndex() const { return precipitationGridIndex_; }

  int DoIt = 0;
  double ThresholdTemperature = 0.0;
  double RainConstant = 0.0;
  double RainSlope = 0.0;
  double SnowConstant = 0.0;
  double SnowSlope = 0.0;
  double MaxElevation = 0.0;
  int RegionCount = 1;
  int PrecipitationIndex = 0; // 1-based position in the variable list; 0 none
  int TemperatureIndex = -1;
  int WindIndex = -1;
  int PrecipitationMethod = 0; // 0 in grid-only mode
  int StationCount = 0;        // of the first station file; 1 for methods 2 and 10
  bool GridOnly = false;
  bool TemperatureMissing = false;
  bool WindMissing = false;
  // Regression work records 0..RegionCount; record 1 is the one corrected.
  std::vector<correction::RegressionSegments> RegressionWork;
  OneBasedArray<double> StationTemperatures; // 0..StationCount, deg C
  OneBasedArray<double> StationWindSpeeds;   // 0..StationCount, m/s

private:
  correction::CorrectionParameters Parameters() const;
  // The interpolator of a position (1-based), or null.
  meteointerpol *Variable(int position) const;
  // The grid of a variable: its registry grid, the interpolator (when the
  // variable is interpolated) and the bound that tells a missing value.
  struct Source {
    Grid *Data = nullptr;
    meteointerpol *Interpolator = nullptr;
    correction::MissingBound Bound = correction::MissingBound::OfPlainGrid();
  };
  // Steps 6 and 7 of the set-up for "temperature" and "wind_speed".
  Source FindSource(const std::string &name, int &index, bool &missing);
  void TakeStationArrays();
  void WarnWithoutPointValue(const Source &source, const std::string &name) const;
  // The value of an interpolator at a point, nothing when it has none.
  double PointValue(const Source &source, double x, double y, double z, bool &missing);
  double FactorAtElevation(double z);
  void CorrectStationValues();
  void RefitRegression();
  bool GridRenewed() const;

  std::vector<meteointerpol *> variables_;
  std::vector<std::string> names_;
  Source precipitation_, temperature_, wind_;
  int precipitationGridIndex_ = 0;
  std::vector<double> work_; // scratch of the point values
  bool gridRenewedEveryStep_ = false;
  bool correctedOnce_ = false;
};

} // namespace tavro
