// Routing: section, runoff and irrigation hand-over, state section and step.
#include "routing/routing_model.h"

#include "kernel/fatal_error.h"
#include "kernel/module_construction.h"
#include "kernel/state_section.h"

#include <cstdio>

namespace tavro {

abflussmodellklasse::abflussmodellklasse(int &error, const ModuleSettings &settings,
                                         int tracerCount, OneBasedArray<TracerInfo> *tracerInfo,
                                         int stateReadMode) try
    : teilmodellklasse(BeginModuleConstruction(error, settings, FixedName)),
      StateReadMode(stateReadMode), StartDate(settings.EndDate) {
  CloseModuleSection(*this);
  TracerCount = tracerCount;
  TracerInfoTable = tracerInfo;
  if (FlowControl != 0) {
    const auto subbasins = static_cast<std::size_t>(ZoneCount > 0 ? ZoneCount : 0);
    maxIrrig_.Values.Resize(subbasins, 0.0);
    maxIrrigFromReservoirs_.Values.Resize(subbasins, 0.0);
    routingTarget_.Targets.Resize(subbasins, 0);
    abfrel_.Relations.Resize(subbasins, 0.0);
  }
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

void abflussmodellklasse::SetQg(SubbasinRunoffArrays *qg) {
  if (FlowControl != 0)
    qg_ = qg;
}

void abflussmodellklasse::InitLakeModel() { LakeModelInitialized = true; }

void abflussmodellklasse::InitializeDischarges() {
  if (FlowControl != 0)
    DischargesInitialized = true;
}

void abflussmodellklasse::SetIrrigationAmounts(IrrigationAmounts *amounts) {
  if (FlowControl != 0)
    irrigationAmounts_ = amounts;
}

void abflussmodellklasse::SetRiverflowTable(riverflow_table *table) {
  if (FlowControl != 0)
    riverflow_ = table;
}

void abflussmodellklasse::ReadStorage(const std::string &fileName, int readMode) {
  // The file is also where the section is written at the end of the run.
  if (!fileName.empty())
    storageFileName_ = fileName;
  if (fileName.empty() || readMode == 0 || readMode == 2 || readMode == 4)
    return;
  std::FILE *file = std::fopen(fileName.c_str(), "r");
  if (file == nullptr)
    ThrowFatal(*Log, StorageOpenExitCode, "error opening storage content file " + fileName);
  // The discharges of the section are read with the routing elements.
  std::fclose(file);
}

void abflussmodellklasse::WriteStorage(const std::string &fileName, bool append) {
  WriteStateSectionHeader(*this, fileName, StateSection, append);
}

SubbasinValues *abflussmodellklasse::GetMaxIrrig() {
  return FlowControl != 0 ? &maxIrrig_ : nullptr;
}

SubbasinValues *abflussmodellklasse::GetMaxIrrigFromReservoirs() {
  return FlowControl != 0 ? &maxIrrigFromReservoirs_ : nullptr;
}

RoutingTargets *abflussmodellklasse::GetRoutingTarget() {
  return FlowControl != 0 ? &routingTarget_ : nullptr;
}

DischargeRelations *abflussmodellklasse::GetAbfrel() {
  return FlowControl != 0 ? &abfrel_ : nullptr;
}

void abflussmodellklasse::ComputeTimeStep(long hour, long day, long month, long year) {
  // The date is kept even when the module is off.
  ActualHour = hour;
  ActualDay = day;
  ActualMonth = month;
  ActualYear = year;
  teilmodellklasse::ComputeTimeStep(hour, day, month, year);
}

void abflussmodellklasse::FlushStatistics() {}

void abflussmodellklasse::ReleaseMemory() {
  if (FlowControl > 0 && Initialized == 1 && !storageFileName_.empty()) {
    // The routing section starts the state file.
    WriteStorage(storageFileName_, false);
    Initialized = 0;
  }
  qg_ = nullptr;
  irrigationAmounts_ = nullptr;
  riverflow_ = nullptr;
  teilmodellklasse::ReleaseMemory();
}

} // namespace tavro
