// Surface routing: section, runoff hand-over, state section and step hooks.
#include "lateral/surface_routing.h"

#include "kernel/fatal_error.h"
#include "kernel/module_construction.h"
#include "kernel/state_file.h"

namespace tavro {

surfaceroutingclass::surfaceroutingclass(int &error, const ModuleSettings &settings,
                                         int substepCount) try
    : teilmodellklasse(BeginModuleConstruction(error, settings, FixedName, substepCount)) {
  CloseModuleSection(*this);
  if (FlowControl != 0) {
    qg_.Resize(ZoneCount > 0 ? ZoneCount : 0);
    qgCreated_ = true;
  }
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

void surfaceroutingclass::SetQBb(SubbasinRunoffArrays *qbb) {
  if (FlowControl != 0)
    qbb_ = qbb;
}

void surfaceroutingclass::SetKelsqd(SubbasinValues *constants) {
  if (FlowControl != 0)
    kelsqd_ = constants;
}

void surfaceroutingclass::SetKelsqi(SubbasinValues *constants) {
  if (FlowControl != 0)
    kelsqi_ = constants;
}

SubbasinRunoffArrays *surfaceroutingclass::GetQg() {
  if (FlowControl == 0)
    return nullptr;
  if (!qgCreated_)
    ThrowFatal(*Log, NotInitializedExitCode,
               "Qg (surface routing) not initialized (may be, tracer module not linked? -> "
               "programmers error!)");
  return &qg_;
}

void surfaceroutingclass::InitTracerGrids(int &error, int tracerCount,
                                          OneBasedArray<TracerInfo> *info,
                                          StatisticsRegistry *registry, int capacity) {
  error = 0;
  if (FlowControl != 0)
    teilmodellklasse::InitTracerGrids(error, tracerCount, info, registry, capacity);
}

void surfaceroutingclass::SetSubstepCount(int count) { SubstepCount = count; }

void surfaceroutingclass::BeginTimeStep(long hour, long day, long month, long year) {
  teilmodellklasse::ComputeTimeStep(hour, day, month, year);
}

void surfaceroutingclass::ComputeTimeStep(long, long, long, long) {}

void surfaceroutingclass::ConcentrateRunoff(long, long, long, long) {}

void surfaceroutingclass::FlushStatistics() {}

void surfaceroutingclass::WriteStorage(const std::string &fileName, bool append) {
  WriteStateSectionHeader(*this, fileName, StateSection, append);
}

void surfaceroutingclass::FinishRun(bool append) {
  if (FlowControl <= 0)
    return;
  if (Initialized == 1 && !StorageFileName.empty()) {
    WriteStorage(StorageFileName, append);
    Initialized = 0;
  }
  FinishTracerGrids();
  ReleaseMemory();
}

void surfaceroutingclass::ReleaseMemory() {
  qbb_ = nullptr;
  kelsqd_ = nullptr;
  kelsqi_ = nullptr;
  teilmodellklasse::ReleaseMemory();
}

} // namespace tavro
