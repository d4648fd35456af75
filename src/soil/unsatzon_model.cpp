// Soil-water module: section, the arrays it hands over, its state section and
// the step hooks.
#include "soil/unsatzon_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/module_construction.h"
#include "kernel/state_file.h"

namespace tavro {

unsatzonmodellklasse::unsatzonmodellklasse(
    int &error, const ModuleSettings &settings,
    const OneBasedArray<IrrigationTableEntry> *irrigationTable, int substepCount) try
    : teilmodellklasse(BeginModuleConstruction(error, settings, FixedName, substepCount)),
      IrrigationTable(irrigationTable) {
  CloseModuleSection(*this);
  if (FlowControl == 0)
    return;
  RankZones(subbasinGrid_, subbasinTable_, subbasinIndex_, ZoneCount, MaxZoneCode);
  ZoneTable = &subbasinTable_;
  ZoneIndex = &subbasinIndex_;
  CreateExchangeArrays();
  // The phenology reads the root-zone moisture by this name during the run.
  meanTheta_ = MakeStripGrid(*this);
  if (meanTheta_.Allocated() && Registry != nullptr) {
    meanThetaIndex_ = Registry->FirstFreeIndex();
    if (meanThetaIndex_ == 0)
      ThrowFatal(
          *Log, 12,
          Concat("no more free grids in memeory, (max. ", 1000, ")! (", MeanThetaGridName, ")"));
    meanTheta_.Fill(0.0);
    AddGrid(meanThetaIndex_, MeanThetaGridName, &meanTheta_, nullptr, 1, MeanThetaGridName, 0,
            FirstRow, LastRow);
  }
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

void unsatzonmodellklasse::CreateExchangeArrays() {
  const int subbasins = ZoneCount > 0 ? ZoneCount : 0;
  qg_.Resize(subbasins);
  qbb_.Resize(subbasins);
  kelsqd_.Values.Resize(static_cast<std::size_t>(subbasins), 0.0);
  kelsqi_.Values.Resize(static_cast<std::size_t>(subbasins), 0.0);
  riverflow_.Exchange.Resize(static_cast<std::size_t>(subbasins), 0.0);
  exchangeArraysCreated_ = true;
}

void unsatzonmodellklasse::CopyZoneTableTo(ModuleSettings &settings) const {
  settings.ZoneIndex = ZoneIndex;
  settings.ZoneTable = ZoneTable;
  settings.ZoneCount = ZoneCount;
  settings.MaxZoneCode = MaxZoneCode;
}

void unsatzonmodellklasse::ComputeMaxPumping() {}

void unsatzonmodellklasse::SelectWaterInput(bool interceptionFirst) {
  if (FlowControl != 0)
    WaterInputFromInterception = interceptionFirst;
}

void unsatzonmodellklasse::SetDumpOptions(bool dumpMode, bool closeAfterDump,
                                          bool repairAfterDump) {
  DumpMode = dumpMode;
  CloseAfterDump = closeAfterDump;
  RepairAfterDump = repairAfterDump;
}

void unsatzonmodellklasse::InitTracerGrids(int &error, int tracerCount,
                                           OneBasedArray<TracerInfo> *info,
                                           StatisticsRegistry *registry, int capacity) {
  error = 0;
  if (FlowControl != 0)
    teilmodellklasse::InitTracerGrids(error, tracerCount, info, registry, capacity);
}

void unsatzonmodellklasse::SetSubstepCount(int count) { SubstepCount = count; }

SubbasinRunoffArrays *unsatzonmodellklasse::GetQg() {
  if (FlowControl == 0)
    return nullptr;
  if (!exchangeArraysCreated_)
    ThrowFatal(*Log, NotInitializedExitCode,
               "Qg not initialized (may be, tracer module not linked? -> programmers error!)");
  return &qg_;
}

SubbasinRunoffArrays *unsatzonmodellklasse::GetQBb() {
  if (FlowControl == 0)
    return nullptr;
  if (!exchangeArraysCreated_)
    ThrowFatal(*Log, NotInitializedExitCode,
               "QBb not initialized (may be, tracer module not linked? -> programmers error!)");
  return &qbb_;
}

SubbasinValues *unsatzonmodellklasse::GetKelsqd() { return FlowControl != 0 ? &kelsqd_ : nullptr; }

SubbasinValues *unsatzonmodellklasse::GetKelsqi() { return FlowControl != 0 ? &kelsqi_ : nullptr; }

void unsatzonmodellklasse::SetSurfaceRoutingActive(int active) { SurfaceRoutingActive = active; }

riverflow_table *unsatzonmodellklasse::GetRiverflowTable() {
  return FlowControl != 0 ? &riverflow_ : nullptr;
}

std::string unsatzonmodellklasse::GetStorageFileName() const {
  return FlowControl != 0 ? StorageFileName : std::string();
}

void unsatzonmodellklasse::AdjustToGroundwaterTable() {}

void unsatzonmodellklasse::BeginTimeStep(long hour, long day, long month, long year) {
  if (FlowControl == 0)
    return;
  ActualHour = hour;
  ActualDay = day;
  ActualMonth = month;
  ActualYear = year;
}

void unsatzonmodellklasse::ComputeTimeStep(long hour, long day, long month, long year) {
  teilmodellklasse::ComputeTimeStep(hour, day, month, year);
}

void unsatzonmodellklasse::ConcentrateRunoff(long, long, long, long) {}

void unsatzonmodellklasse::FlushStatistics() {}

void unsatzonmodellklasse::PreSpinUpAccumulate(long, long, long, long) {
  if (HeatTransferModel == 0)
    ThrowFatal(*Log, PreSpinUpExitCode,
               "heat transfer model not active in unsatzon_model. This is required for "
               "pre-SpinUp!");
}

void unsatzonmodellklasse::PreSpinUpFinish() {}

void unsatzonmodellklasse::WriteStorage(const std::string &fileName, bool append) {
  WriteStateSectionHeader(*this, fileName, StateSection, append);
}

void unsatzonmodellklasse::FinishRun(bool append) {
  if (FlowControl <= 0)
    return;
  if (Initialized == 1 && !StorageFileName.empty()) {
    WriteStorage(StorageFileName, append);
    Initialized = 0; // the section is written once
  }
  FinishTracerGrids();
  ReleaseMemory();
}

void unsatzonmodellklasse::ReleaseMemory() {
  if (meanThetaIndex_ > 0 && Registry != nullptr) {
    ReleaseGrid(meanThetaIndex_);
    meanThetaIndex_ = 0;
  }
  meanTheta_ = Grid();
  teilmodellklasse::ReleaseMemory();
}

} // namespace tavro
