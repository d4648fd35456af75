// Irrigation: section, wiring checks and step hooks.
#include "lateral/irrigation_model.h"

#include "kernel/fatal_error.h"
#include "kernel/module_construction.h"

namespace tavro {

irrigationclass::irrigationclass(int &error, const ModuleSettings &settings,
                                 const OneBasedArray<IrrigationTableEntry> *irrigationTable) try
    : teilmodellklasse(BeginModuleConstruction(error, settings, FixedName)),
      IrrigationTable(irrigationTable) {
  CloseModuleSection(*this);
  if (FlowControl != 0)
    amounts_.Values.Resize(static_cast<std::size_t>(ZoneCount > 0 ? ZoneCount : 0), 0.0);
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

void irrigationclass::InitTracerGrids(int &error, int tracerCount, OneBasedArray<TracerInfo> *info,
                                      StatisticsRegistry *registry, int capacity) {
  error = 0;
  if (WorksThisRun())
    teilmodellklasse::InitTracerGrids(error, tracerCount, info, registry, capacity);
}

void irrigationclass::SetRiverflowTable(riverflow_table *table) {
  if (FlowControl != 0)
    riverflow_ = table;
}

void irrigationclass::SetQg(SubbasinRunoffArrays *qg) {
  if (FlowControl != 0)
    qg_ = qg;
}

void irrigationclass::LinkSoilTracerGrids() {}

namespace {
template <class T> T *RequireRoutingArray(DiagnosticsLog &log, T *array, const char *name) {
  if (array == nullptr)
    ThrowFatal(
        log, irrigationclass::RoutingMissingExitCode,
        Concat("if irrigation is modelled, also routing has to be modelled! (", name, " missing)"));
  return array;
}
} // namespace

void irrigationclass::SetMaxIrrig(IrrigationLimits *maxIrrig,
                                  IrrigationLimits *maxIrrigFromReservoirs) {
  if (FlowControl == 0)
    return;
  maxIrrig_ = RequireRoutingArray(*Log, maxIrrig, "MaxIrrig");
  maxIrrigFromReservoirs_ =
      RequireRoutingArray(*Log, maxIrrigFromReservoirs, "MaxIrrigFromReservoirs");
}

void irrigationclass::SetRoutingTarget(RoutingTargets *targets) {
  if (FlowControl != 0)
    routingTarget_ = RequireRoutingArray(*Log, targets, "RoutingTarget");
}

void irrigationclass::SetAbfrel(DischargeRelations *relations) {
  if (FlowControl != 0)
    abfrel_ = RequireRoutingArray(*Log, relations, "Abfrel");
}

IrrigationAmounts *irrigationclass::GetIrrigationAmounts() {
  return FlowControl != 0 ? &amounts_ : nullptr;
}

void irrigationclass::ComputeTimeStep(long hour, long day, long month, long year) {
  if (WorksThisRun())
    teilmodellklasse::ComputeTimeStep(hour, day, month, year);
}

void irrigationclass::FlushStatistics() {}

void irrigationclass::FinishTracerGrids() {
  if (WorksThisRun())
    teilmodellklasse::FinishTracerGrids();
}

void irrigationclass::ReleaseMemory() {
  riverflow_ = nullptr;
  qg_ = nullptr;
  maxIrrig_ = maxIrrigFromReservoirs_ = nullptr;
  routingTarget_ = nullptr;
  abfrel_ = nullptr;
  teilmodellklasse::ReleaseMemory();
}

} // namespace tavro
