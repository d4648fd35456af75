// Silting-up: section, water input and the step hooks.
#include "landsurface/silting_up_model.h"

#include "kernel/module_construction.h"

namespace tavro {

siltingupclass::siltingupclass(int &error, const ModuleSettings &settings) try
    : teilmodellklasse(BeginModuleConstruction(error, settings, FixedName)) {
  CloseModuleSection(*this);
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

void siltingupclass::SelectWaterInput(bool interceptionFirst) {
  if (FlowControl != 0)
    waterFromInterception_ = interceptionFirst;
}

void siltingupclass::InitTracerGrids(int &error, int tracerCount, OneBasedArray<TracerInfo> *info,
                                     StatisticsRegistry *registry, int capacity) {
  error = 0;
  if (FlowControl != 0)
    teilmodellklasse::InitTracerGrids(error, tracerCount, info, registry, capacity);
}

void siltingupclass::ComputeTimeStep(long hour, long day, long month, long year) {
  teilmodellklasse::ComputeTimeStep(hour, day, month, year);
}

void siltingupclass::FlushStatistics() {}

void siltingupclass::FinishTracerGrids() {
  if (FlowControl != 0)
    teilmodellklasse::FinishTracerGrids();
}

void siltingupclass::ReleaseMemory() { teilmodellklasse::ReleaseMemory(); }

} // namespace tavro
