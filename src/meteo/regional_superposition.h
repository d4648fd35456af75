// The regional superposition (section "[RegionalSuperposition]"): new grids
// as region-weighted sums of existing grids. Its flow control parameter
// decides where the precipitation is corrected: 0 on the station values
// before interpolation, otherwise on the grid after the superposition. The
// entities come later; this class fixes the module's interface.
//
// Unlike the other modules its constructor takes no error out-parameter: a
// failure is thrown as its exit code.
#pragma once

#include "kernel/module_exchange.h"
#include "kernel/module_settings.h"
#include "kernel/teilmodellklasse.h"

namespace tavro {

class RegionalSuperposition : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "RegionalSuperposition";

  RegionalSuperposition(const ModuleSettings &settings, const RegionTableRef &regions);

  // Stores the date; when active, computes each entity (later).
  void ComputeTimeStep(long hour, long day, long month, long year) override;
  virtual void WriteStepOutput();
  virtual void FlushStatistics();
  void ReleaseMemory() override;

  RegionTableRef Regions;
};

} // namespace tavro
