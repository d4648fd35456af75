// Radiation correction: section, correction grid, step and release.
#include "landsurface/radiation_correction.h"

#include "kernel/module_construction.h"

namespace tavro {

expokorrklasse::expokorrklasse(int &error, const ModuleSettings &settings) try
    : teilmodellklasse(BeginModuleConstruction(error, settings, FixedName)) {
  CloseModuleSection(*this);
  if (FlowControl == 1)
    correction_ = MakeStripGrid(*this);
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

Grid *expokorrklasse::GetRadiationCorrectionGrid() {
  return FlowControl == 1 && correction_.Allocated() ? &correction_ : nullptr;
}

void expokorrklasse::ComputeTimeStep(long hour, long day, long month, long year) {
  teilmodellklasse::ComputeTimeStep(hour, day, month, year);
}

void expokorrklasse::ReleaseMemory() {
  correction_ = Grid();
  teilmodellklasse::ReleaseMemory();
}

} // namespace tavro
