// The radiation correction module (section "[radiation_correction]"): corrects
// radiation and temperature for slope and exposure. Its correction grid is
// handed to evapotranspiration and snow. The correction itself comes later;
// this class fixes the module's interface.
#pragma once

#include "kernel/grid.h"
#include "kernel/module_settings.h"
#include "kernel/teilmodellklasse.h"

namespace tavro {

class expokorrklasse : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "radiation_correction";

  // error: 0, or the exit code (also thrown) of a failed construction.
  expokorrklasse(int &error, const ModuleSettings &settings);

  // The correction grid (zero-filled strip grid) when the flow control
  // parameter is 1, none otherwise.
  virtual Grid *GetRadiationCorrectionGrid();
  // Corrected radiation and temperature of the step (base step for now).
  void ComputeTimeStep(long hour, long day, long month, long year) override;
  // Releases its grids, then the base release.
  void ReleaseMemory() override;

private:
  Grid correction_;
};

} // namespace tavro
