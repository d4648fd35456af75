// The regional superposition (section "[RegionalSuperposition]"): new grids
// as region-weighted sums of existing grids, one entity (superposition_entity.h)
// per output grid. Its flow control parameter decides where the
// precipitation is corrected: 0 on the station values before interpolation,
// otherwise on the grid after the superposition.
//
// Section: flow control parameter, time interval, a line
// "NumberOfEntities = N;", then N entity blocks (superposition/superposition_block.h),
// each ending with the first line that contains "}". An entity's output grid
// is registered before the next block is read, so a later entity may read it.
//
// Unlike the other modules its constructor takes no error out-parameter: a
// failure is thrown as its exit code.
#pragma once

#include "kernel/module_exchange.h"
#include "kernel/module_settings.h"
#include "kernel/teilmodellklasse.h"
#include "meteo/superposition_entity.h"

#include <memory>
#include <vector>

namespace tavro {

class RegionalSuperposition : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "RegionalSuperposition";
  static constexpr int EntityCountExitCode = 133;

  // regions: the region rank table of the set-up ("regression_regions").
  RegionalSuperposition(const ModuleSettings &settings, const RegionTableRef &regions);
  ~RegionalSuperposition() override;

  // Stores the date; when active, computes every entity in list order.
  void ComputeTimeStep(long hour, long day, long month, long year) override;
  virtual void WriteStepOutput();
  virtual void FlushStatistics();
  void ReleaseMemory() override;

  // Whether an entity computes the registry grid of this index every step.
  bool ComputesGrid(int registryIndex) const;
  const std::vector<std::unique_ptr<cSuperposition>> &Entities() const { return entities_; }

  RegionTableRef Regions;
  int NumberOfEntities = 0;

private:
  void ReadEntities();
  std::string ReadBlock(int entity);

  std::vector<std::unique_ptr<cSuperposition>> entities_;
};

} // namespace tavro
