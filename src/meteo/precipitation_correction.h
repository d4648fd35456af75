// The precipitation correction (section "[precipitation_correction]"): a
// factor on precipitation that grows linearly with the wind speed, with one
// pair of constant and slope for rain and one for snow, told apart by a
// threshold temperature. A model object, not a sub-model: no flow control
// parameter and no time interval. The correction itself comes later; this
// class reads its section and fixes its interface.
#pragma once

#include "kernel/modelobject.h"
#include "kernel/module_settings.h"

#include <string>
#include <vector>

namespace tavro {

class meteointerpol;

class precicorrclass : public modelobject {
public:
  static constexpr const char *FixedName = "precipitation_correction";

  // variables[i - 1] and names[i - 1] are interpolator i (not owned).
  // error: 0, or the exit code of a failure, which is thrown as well.
  precicorrclass(int &error, const ModuleSettings &settings, std::vector<meteointerpol *> variables,
                 std::vector<std::string> names, int regionCount);

  virtual void SetMaxElevation(double elevation);
  // Corrects the precipitation's station values (superposition off).
  virtual void CorrectStationData();
  // Corrects the grid "precipitation" (superposition on); nothing when off.
  virtual void CorrectGrids();
  void ReleaseMemory() override;

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

private:
  std::vector<meteointerpol *> variables_;
  std::vector<std::string> names_;
};

} // namespace tavro
