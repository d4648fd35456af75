// Evapotranspiration: section, wiring setters and the step hooks.
#include "landsurface/evapotranspiration_model.h"

#include "kernel/module_construction.h"

namespace tavro {

verdunstungsmodellklasse::verdunstungsmodellklasse(int &error, const ModuleSettings &settings) try
    : teilmodellklasse(BeginModuleConstruction(error, settings, FixedName)) {
  CloseModuleSection(*this);
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

void verdunstungsmodellklasse::SetRadiationCorrectionGrid(Grid *grid) {
  if (FlowControl != 0)
    radiationCorrection_ = grid;
}

void verdunstungsmodellklasse::SetSnowStorage(Grid *grid) {
  if (FlowControl != 0)
    snowStorage_ = grid;
}

void verdunstungsmodellklasse::SetSnowMethod(int method) { snowMethod_ = method; }

void verdunstungsmodellklasse::ReadLakeParameters(std::string_view sectionName) {
  lakeSection_ = std::string(sectionName);
}

void verdunstungsmodellklasse::SetSubstepCount(int count) { SubstepCount = count; }

void verdunstungsmodellklasse::PotentialEvapotranspiration(long hour, long day, long month,
                                                           long year) {
  // The module has no ComputeTimeStep of its own: this is its base step.
  teilmodellklasse::ComputeTimeStep(hour, day, month, year);
}

void verdunstungsmodellklasse::SnowEvaporationOnGlacier(long, long, long, long) {}

void verdunstungsmodellklasse::RealEvapotranspiration(long, long, long, long) {}

void verdunstungsmodellklasse::ComputeSubstep(long, long, long, long) {}

void verdunstungsmodellklasse::FinishTimeStep(long, long, long, long) {}

void verdunstungsmodellklasse::FlushStatistics() {}

void verdunstungsmodellklasse::ReleaseMemory() {
  radiationCorrection_ = nullptr;
  snowStorage_ = nullptr;
  teilmodellklasse::ReleaseMemory();
}

} // namespace tavro
