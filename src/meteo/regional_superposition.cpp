// Regional superposition: section and step hooks.
#include "meteo/regional_superposition.h"

#include "kernel/module_construction.h"

namespace tavro {

namespace {
ModuleSettings Named(const ModuleSettings &settings) {
  int unused = 0;
  return BeginModuleConstruction(unused, settings, RegionalSuperposition::FixedName);
}
} // namespace

RegionalSuperposition::RegionalSuperposition(const ModuleSettings &settings,
                                             const RegionTableRef &regions)
    : teilmodellklasse(Named(settings)), Regions(regions) {
  CloseModuleSection(*this);
}

void RegionalSuperposition::ComputeTimeStep(long hour, long day, long month, long year) {
  // The date is stored also when the module is off.
  SetActualStep(hour, day, month, year);
}

void RegionalSuperposition::WriteStepOutput() {}

void RegionalSuperposition::FlushStatistics() {}

void RegionalSuperposition::ReleaseMemory() { teilmodellklasse::ReleaseMemory(); }

} // namespace tavro
