// Interception: section, method and the step hooks.
#include "landsurface/interception_model.h"

#include "kernel/module_construction.h"

namespace tavro {

interzeptionsmodellklasse::interzeptionsmodellklasse(int &error, const ModuleSettings &settings) try
    : teilmodellklasse(BeginModuleConstruction(error, settings, FixedName)) {
  CloseModuleSection(*this);
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

int interzeptionsmodellklasse::GetMethod() const { return FlowControl > 0 ? FlowControl : 0; }

void interzeptionsmodellklasse::InitTracerGrids(int &error, int tracerCount,
                                                OneBasedArray<TracerInfo> *info,
                                                StatisticsRegistry *registry, int capacity) {
  error = 0;
  if (FlowControl != 0)
    teilmodellklasse::InitTracerGrids(error, tracerCount, info, registry, capacity);
}

void interzeptionsmodellklasse::ComputeTimeStep(long hour, long day, long month, long year) {
  teilmodellklasse::ComputeTimeStep(hour, day, month, year);
}

void interzeptionsmodellklasse::FlushStatistics() {}

void interzeptionsmodellklasse::FinishTracerGrids() {
  if (FlowControl != 0)
    teilmodellklasse::FinishTracerGrids();
}

void interzeptionsmodellklasse::ReleaseMemory() { teilmodellklasse::ReleaseMemory(); }

} // namespace tavro
