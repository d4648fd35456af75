// The routing module after construction: the first discharges and the
// initialisation passes, the step on every rank (lake cells and river table
// exchanged around the routing of rank 0), the comparison with observed
// discharge and the routed-discharge table.
#include "routing/routing_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "raster/handover/river_exchange.h"
#include "raster/parallel/non_finite_water.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <span>
#include <string>

namespace tavro {

void abflussmodellklasse::SetQg(SubbasinRunoffArrays *qg) {
  if (FlowControl == 0)
    return;
  if (qg == nullptr)
    ThrowFatal(*Log, NoDischargesExitCode,
               "No valid discharges for discharge routing!\nYou have to run the model including "
               "at least precipitation interpolation and soil model\nif discharges are wished.");
  qg_ = qg;
}

void abflussmodellklasse::CopyRunoff() {
  const int components = flows_.RoutingInput.Components();
  const int nsub = std::min(ZoneCount, qg_->SubbasinCount());
  for (int k = 0; k < components && k < SubbasinRunoffArrays::ComponentCount; ++k) {
    double *input = flows_.RoutingInput[k];
    const OneBasedArray<double> &runoff = qg_->Components[static_cast<std::size_t>(k)];
    for (int i = 1; i <= nsub; ++i)
      input[i] = runoff[static_cast<std::size_t>(i)];
  }
}

void abflussmodellklasse::CopySubIntervals() {
  const int last = ZoneCount + flows_.InflowCount;
  for (int k = 0; k < flows_.RoutingInput.Components(); ++k) {
    const double *input = flows_.RoutingInput[k];
    for (int s = 1; s <= SubIntervals; ++s) {
      double *row = flows_.SubIntervalInput.Row(k, s);
      for (int e = 1; e <= last; ++e)
        row[e] = input[e];
    }
  }
}

void abflussmodellklasse::RouteAll(long year, long month, long day, long hour) {
  for (const int n : ComputationOrder()) {
    RoutingSubbasin(n).Route(year, month, day, hour);
    if (riverflow_ != nullptr && month > 0)
      RoutingSubbasin(n).UpdateRiverflowTable();
  }
}

void abflussmodellklasse::InitializeDischarges() {
  if (FlowControl == 0)
    return;
  if (qg_ == nullptr)
    SetQg(nullptr);
  CopyRunoff();
  const int components = flows_.RoutingInput.Components();
  for (int k = 0; k < components; ++k)
    for (int e = ZoneCount + 1; e <= ZoneCount + flows_.InflowCount; ++e)
      flows_.RoutingInput[k][e] = 0.0;
  flows_.Observed = observed_.Opened() ? &observed_.Ring() : nullptr;
  for (int n = 1; n <= RoutingSubbasinCount(); ++n)
    RoutingSubbasin(n).SetInputArrays(&flows_);
  CopySubIntervals();
  ConnectInternalAbstractions();
  for (int n = 1; n <= RoutingSubbasinCount(); ++n)
    RoutingSubbasin(n).InitChannelStorages();

  long travelHours = 0;
  for (int n = 1; n <= RoutingSubbasinCount(); ++n)
    travelHours += RoutingSubbasin(n).LargestTravelTimeHours();
  const long passes = std::max(1L, static_cast<long>(std::ceil(travelHours * 60.0 / TimeStep)));
  InitializationPasses = passes;
  DischargesInitialized = true;
  if (LakeGridSwitch != 0)
    return;

  const int kept = ZoneCount + flows_.InflowCount;
  saved_.assign(static_cast<std::size_t>(components) * (static_cast<std::size_t>(kept) + 1), 0.0);
  auto saved = [&](int k, int e) -> double & {
    return saved_[static_cast<std::size_t>(k) * (static_cast<std::size_t>(kept) + 1) +
                  static_cast<std::size_t>(e)];
  };
  std::string entry = Concat("routing the initialization discharges (", passes, " times)");
  for (long pass = 1; pass <= passes; ++pass) {
    for (int k = 0; k < components; ++k)
      for (int e = 1; e <= kept; ++e)
        saved(k, e) = flows_.RoutingInput[k][e];
    CopySubIntervals();
    RouteAll(0, 0, 0, 0);
    entry += ".";
    for (int k = 0; k < components; ++k)
      for (int e = 1; e <= ZoneCount; ++e)
        flows_.RoutingInput[k][e] = saved(k, e);
  }
  Log->Entry(entry + std::string(DiagnosticsLog::EndToken));
}

double abflussmodellklasse::ToDischargeUnit(int subbasin, double runoff) const {
  if (RoutingDischargeUnit != 1)
    return runoff;
  const double area =
      abfrel_.RelativeArea[0] * abfrel_.RelativeArea[static_cast<std::size_t>(subbasin)];
  double value = runoff * area * 16.6666667 / TimeStep;
  const int description = routingTarget_.Description.Empty()
                              ? 0
                              : routingTarget_.Description[static_cast<std::size_t>(subbasin)];
  if (description >= 1)
    value /= subbasins_[static_cast<std::size_t>(description)]->TgFactor();
  return value;
}

double abflussmodellklasse::RoutedDischarge(int subbasin) const {
  return ToDischargeUnit(subbasin, flows_.RoutingInput[0][subbasin]);
}

void abflussmodellklasse::ComputeTimeStep(long hour, long day, long month, long year) {
  // The date is kept even when the module is off.
  SetActualStep(hour, day, month, year);
  const bool exchanges = ExchangesOn();
  if (exchanges)
    GatherLakeCells();
  if (exchanges && riverflow_ != nullptr)
    ReduceRiverExchange(*riverflow_);
  if (MPIRank == 0 && FlowControl != 0)
    RouteStep(hour, day, month, year);
  // Every process takes part; only rank 0 routes (the others hold flow control 0).
  StopIfFlowsNotFinite();
  if (exchanges && riverflow_ != nullptr)
    BroadcastRiverFlows(*riverflow_, false);
  if (exchanges)
    ScatterPonding();
}

void abflussmodellklasse::RouteStep(long hour, long day, long month, long year) {
  if (!omp_in_parallel())
    teilmodellklasse::ComputeTimeStep(hour, day, month, year);
  if (qg_ == nullptr)
    SetQg(nullptr);
  IrrigationDemandOfTheRivers();
  CopyRunoff();
  for (int n = 1; n <= RoutingSubbasinCount(); ++n)
    RoutingSubbasin(n).ReadInflows(flows_.RoutingInput, static_cast<int>(year),
                                   static_cast<int>(month), static_cast<int>(day),
                                   static_cast<int>(hour));
  CopySubIntervals();
  RouteAll(year, month, day, hour);
  IrrigationLimitsDownstream();
  CompareWithObserved();
  observed_.Advance(ModelDate{hour, day, month, year}, *Log);
  WriteStepStatistics(hour, day, month, year);
  WriteTracerStatistics(hour, day, month, year);
}

// The routed flows of the subbasins carry every water the routing received
// and stored; one that is not a usable number stops the run.
void abflussmodellklasse::StopIfFlowsNotFinite() const {
  std::span<const double> flows;
  std::vector<double> codes;
  if (MPIRank == 0 && FlowControl != 0 && flows_.RoutingInput.Components() > 0) {
    const int last = std::min(ZoneCount, flows_.RoutingInput.LastIndex());
    flows = std::span<const double>(flows_.RoutingInput[0], static_cast<std::size_t>(last) + 1);
    codes.assign(flows.size(), 0.0);
    for (int k = 1; k <= last && ZoneTable != nullptr; ++k)
      codes[static_cast<std::size_t>(k)] = (*ZoneTable)[static_cast<std::size_t>(k)].zonenwert;
  }
  tavro::StopIfFlowsNotFinite(*this, "the routed flow", flows, codes);
}

void abflussmodellklasse::IrrigationDemandOfTheRivers() {
  if (irrigationAmounts_ == nullptr)
    return;
  const int last = std::min<int>(ZoneCount, static_cast<int>(irrigationAmounts_->Records.Count()));
  for (int i = 1; i <= ZoneCount; ++i)
    for (int k = 0; k <= maxIrrig_.TracerCount(); ++k)
      maxIrrig_[k][i] = 0.0;
  // The applied surface water less the reservoirs' share is what the
  // rivers give this step, mm over each subbasin's own area.
  for (int i = 1; i <= last; ++i) {
    ZoneRecord &record = irrigationAmounts_->Records[static_cast<std::size_t>(i)];
    const double mean = irrigationAmounts_->Mean(i);
    record.sx = std::max(0.0, mean - maxIrrigFromReservoirs_[0][i]);
  }
}

void abflussmodellklasse::IrrigationLimitsDownstream() {
  if (irrigationAmounts_ == nullptr)
    return;
  const auto &records = irrigationAmounts_->Records;
  auto rel = [&](int i) { return records[static_cast<std::size_t>(i)].rel; };
  const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(ZoneCount),
                                                  routingTarget_.Tributaries.Count());
  for (std::size_t j = 1; j <= count; ++j) {
    const int i = routingTarget_.Tributaries[j];
    if (i < 1 || static_cast<std::size_t>(i) > records.Count())
      continue;
    // Every subbasin's river demand of step 5, with or without a description.
    const double demand = std::max(0.0, records[static_cast<std::size_t>(i)].sx);
    int guard = 0;
    for (int m = routingTarget_.Target[static_cast<std::size_t>(i)];
         m > 0 && static_cast<std::size_t>(m) <= records.Count() && guard <= ZoneCount;
         m = routingTarget_.Target[static_cast<std::size_t>(m)], ++guard)
      if (rel(m) > 0.0)
        maxIrrig_[0][m] += rel(i) * demand / rel(m);
  }
}

void abflussmodellklasse::CompareWithObserved() {
  const ModelDate today = ActualDate();
  if (!observed_.CheckDate(today, *Log))
    return;
  ++fitStepCounter_;
  if (fitStepCounter_ <= FitStartOffset)
    return;
  const ObservedDischargeRing &ring = observed_.Ring();
  for (int j = 1; j <= ZoneCount; ++j) {
    const int column = ObservedColumn[static_cast<std::size_t>(j)];
    if (column < 1 || column > ring.Columns())
      continue;
    const double simulated = RoutedDischarge(j);
    for (int k = 0; k < ObservedDischargeRing::Rows; ++k)
      fit_.AddComparison(k, j, simulated, ring.Row(k)[column]);
  }
}

void abflussmodellklasse::WriteStepStatistics(long hour, long day, long month, long year) {
  if (!statistic_)
    return;
  statistic_->ResetStep();
  std::span<ZoneRecord> zones = statistic_->Zones();
  for (int j = 1; j <= ZoneCount && static_cast<std::size_t>(j) < zones.size(); ++j) {
    ZoneRecord &zone = zones[static_cast<std::size_t>(j)];
    zone.n += 1;
    zone.RelCellSum += 1;
    zone.sx += RoutedDischarge(j);
  }
  statistic_->EndOfRoutingStep(year, month, day, hour);
}

void abflussmodellklasse::FlushStatistics() {
  if (statistic_)
    statistic_->FlushBuffer();
  FlushTracerStatistics();
  FlushOutputs();
}

void abflussmodellklasse::FlushOutputs() {
  if (FlowControl == 0 || MPIRank != 0)
    return;
  for (int n = 1; n <= RoutingSubbasinCount(); ++n)
    RoutingSubbasin(n).FlushOutputs();
}

} // namespace tavro
