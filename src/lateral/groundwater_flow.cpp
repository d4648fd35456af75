// Groundwater flow: section, wiring setters and step hooks.
#include "lateral/groundwater_flow.h"

#include "kernel/module_construction.h"

namespace tavro {

gwflowclass::gwflowclass(int &error, const ModuleSettings &settings,
                         const OneBasedArray<IrrigationTableEntry> *irrigationTable,
                         int substepCount) try
    : teilmodellklasse(BeginModuleConstruction(error, settings, FixedName, substepCount)),
      IrrigationTable(irrigationTable) {
  CloseModuleSection(*this);
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

void gwflowclass::InitTracerGrids(int &error, int tracerCount, OneBasedArray<TracerInfo> *info,
                                  StatisticsRegistry *registry, int capacity) {
  error = 0;
  if (FlowControl != 0)
    teilmodellklasse::InitTracerGrids(error, tracerCount, info, registry, capacity);
}

void gwflowclass::SetSubstepCount(int count) { SubstepCount = count; }

void gwflowclass::SetRiverflowTable(riverflow_table *table) {
  if (FlowControl != 0)
    riverflow_ = table;
}

void gwflowclass::SetQg(SubbasinRunoffArrays *qg) {
  if (FlowControl != 0)
    qg_ = qg;
}

void gwflowclass::BeginTimeStep(long hour, long day, long month, long year) {
  teilmodellklasse::ComputeTimeStep(hour, day, month, year);
}

void gwflowclass::ComputeTimeStep(long, long, long, long) {}

void gwflowclass::WriteStepOutput(long, long, long, long) {}

void gwflowclass::FlushStatistics() {}

void gwflowclass::FinishTracerGrids() {
  if (FlowControl != 0)
    teilmodellklasse::FinishTracerGrids();
}

void gwflowclass::ReleaseMemory() {
  riverflow_ = nullptr;
  qg_ = nullptr;
  teilmodellklasse::ReleaseMemory();
}

} // namespace tavro
