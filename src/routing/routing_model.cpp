// Routing module: construction from "[routing_model]" (its values, the two
// passes over the routing descriptions, the routing subbasins and their
// order), the irrigation hand-over, the state section and the step.
#include "routing/routing_model.h"

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/module_construction.h"
#include "kernel/state_file.h"
#include "kernel/tracer_info.h"
#include "raster/handover/river_exchange.h"
#include "raster/output/module_statistic.h"
#include "raster/parallel/collective_failure.h"

#include <cmath>
#include <cstdio>
#include <optional>

namespace tavro {
namespace {

constexpr const char *kLine3Message =
    "values for min/max specific discharge and/or discharge and time interval splitting   \n"
    "not found in control file";
// Lines of the section before the column descriptors, header not counted.
constexpr int kLinesBeforeDescriptors = 6;

// Skips the rest of the current line; false at the end of the file.
bool SkipLine(std::FILE *file) {
  int c = 0;
  while ((c = std::getc(file)) != EOF)
    if (c == '\n')
      return true;
  return false;
}

} // namespace

abflussmodellklasse::abflussmodellklasse(int &error, const ModuleSettings &settings,
                                         int tracerCount, OneBasedArray<TracerInfo> *tracerInfo,
                                         int stateReadMode) try
    : teilmodellklasse(BeginModuleConstruction(error, settings, FixedName)),
      StateReadMode(stateReadMode), StartDate(settings.EndDate), LakeGridSwitch(stateReadMode),
      settings_(BeginModuleConstruction(error, settings, FixedName)) {
  TracerCount = tracerCount;
  TracerInfoTable = tracerInfo;
  // The routing is the work of rank 0; the others only learn whether it is on.
  flowControlRead_ = FlowControl;
  if (MPIRank != 0) {
    routingOn_ = FlowControl;
    FlowControl = 0;
    CloseModuleSection(*this);
    return;
  }
  routingOn_ = 1;
  if (FlowControl == 0 || ZoneIndex == nullptr) {
    CloseModuleSection(*this);
    return;
  }
  ObservedComparison = FlowControl == 2 ? 1 : 0;
  ReadValues();
  CountDescriptions();
  InitTracerGrids(error, tracerCount, tracerInfo, Statistics, StatisticsCapacity);
  if (error != 0)
    throw error;
  maxIrrig_.Resize(TracerCount, ZoneCount);
  maxIrrigFromReservoirs_.Resize(TracerCount, ZoneCount);
  ReadLakeParameters("[lake_model]");
  CreatePrecOnLakes();
  FindDescriptionsAgain();
  fit_ = GoodnessOfFitSums(ZoneCount);
  BuildRoutingSubbasins();
  FinishRoutingSubbasins();
  CreateDischargeTable();
  flows_.Resize(TracerCount, ZoneCount, counts_.Totals.ZL, counts_.Totals.AL, SubIntervals);
  flows_.ObservedColumn = &ObservedColumn;
  OpenObservedDischarge();
  CloseModuleSection(*this);
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

SubbasinCodes abflussmodellklasse::Codes() const {
  return SubbasinCodes{ZoneIndex, MaxZoneCode, ZoneCount};
}

void abflussmodellklasse::ReadValues() {
  std::FILE *file = ControlFile().Handle();
  const std::optional<double> qspecMin = ScanDouble(file);
  const std::optional<double> qspecMax = qspecMin ? ScanDouble(file) : std::nullopt;
  const std::optional<double> intervals = qspecMax ? ScanDouble(file) : std::nullopt;
  const std::optional<int> subIntervals = intervals ? ScanInt(file) : std::nullopt;
  if (!subIntervals)
    ThrowFatal(*Log, ControlFileExitCode, kLine3Message);
  SkipLine(file);
  QspecMin = *qspecMin;
  QspecMax = *qspecMax;
  TableIntervals = *intervals;
  SubIntervals = *subIntervals;
  // Each of these would give the tables a row of no number, a division by
  // zero or an endless size.
  std::string fault;
  if (!(QspecMin > 0.0))
    fault = Concat("the minimum specific discharge ", QspecMin, " must be above 0");
  else if (!(QspecMax >= QspecMin))
    fault = Concat("the maximum specific discharge ", QspecMax, " must be at least the minimum ",
                   QspecMin);
  else if (!(TableIntervals >= 1.0 && TableIntervals <= MaxTableIntervals &&
             TableIntervals == std::floor(TableIntervals)))
    fault = Concat("the number of table intervals ", TableIntervals,
                   " must be a whole number from 1 to ", MaxTableIntervals);
  else if (SubIntervals < 1 || SubIntervals > MaxSubIntervals)
    fault = Concat("the number of time sub-intervals ", SubIntervals, " must be from 1 to ",
                   MaxSubIntervals);
  if (!fault.empty())
    ThrowFatal(*Log, ControlFileExitCode, Concat(kLine3Message, "\n", fault));

  ReadControlValues2(StatisticsFileName, StatisticsCode, "name of the Qstatfiles for ");
  ReadControlValue(ObservedFileName, "name of spec.discharge files for ");
  ReadControlValue(descriptorCount_, "number column descriptors for");
  if (descriptorCount_ < 0)
    ThrowFatal(*Log, ControlFileExitCode,
               Concat("error in control file, number column descriptors for ", ModuleName, " is ",
                      descriptorCount_, "; it must not be below 0"));
  ReadColumnDescriptors(descriptorCount_);
  ReadControlValue(FitStartOffset, "Zeitoffset fuer Beginn der R-square-Berechnung fuer ");
}

void abflussmodellklasse::ReadColumnDescriptors(int count) {
  ObservedColumn = OneBasedArray<int>(static_cast<std::size_t>(ZoneCount), 0);
  std::FILE *file = ControlFile().Handle();
  const SubbasinCodes codes = Codes();
  for (int d = 1; d <= count; ++d) {
    const std::optional<int> code = ScanInt(file);
    if (!code)
      ThrowFatal(*Log, ControlFileExitCode,
                 "error reading a subbasin index for column indexing in routing model");
    const std::optional<int> column = ScanInt(file);
    if (!column)
      ThrowFatal(*Log, ControlFileExitCode,
                 "error reading a column number for column indexing in routing model");
    const int index = codes.IndexOf(*code);
    if (index == 0)
      ThrowFatal(*Log, ControlFileExitCode,
                 Concat("error reading a subbasin index for column indexing in routing model: "
                        "column descriptor ",
                        d, " names subbasin code ", *code, ", which is no subbasin"));
    if (*column < 0)
      ThrowFatal(*Log, ControlFileExitCode,
                 Concat("error reading a column number for column indexing in routing model: "
                        "column descriptor ",
                        d, " (subbasin ", *code, ") names column ", *column,
                        "; columns count from 1, 0 is none"));
    ObservedColumn[static_cast<std::size_t>(index)] = *column;
  }
  if (count > 0)
    SkipLine(file);
}

void abflussmodellklasse::CountDescriptions() {
  counts_ = CountRoutingDescriptions(ControlFile().Handle());
  if (counts_.Failure.Failed())
    ThrowFatal(*Log, counts_.Failure.ExitCode, counts_.Failure.Message);
  const TokenCounts &t = counts_.Totals;
  const std::pair<const char *, int> lines[] = {
      {"number inbetween areas (routings)    : ", counts_.Descriptions},
      {"number tributaries  total      (OL)  : ", t.OL + t.Amp + t.SUMTRIB},
      {" - flowing into another at the end   : ", t.OL},
      {" - flowing into another at the start : ", t.Amp + t.SUMTRIB},
      {"so the total of routingchannels is   : ", t.OL + t.SUMTRIB},
      {"number of inflows              (ZL)  : ", t.ZL},
      {"number of abstractions         (AL)  : ", t.AL},
      {"number reservoirs              (SP)  : ", t.SP},
  };
  for (const auto &[label, number] : lines)
    Log->Entry(Concat(label, number, DiagnosticsLog::EndToken));
}

void abflussmodellklasse::FindDescriptionsAgain() {
  const std::string message = "error searching the second time for routing descriptions\nthe "
                              "first run was ok., but not the second";
  if (!FindControlKey("[" + ModuleName + "]", false))
    ThrowFatal(*Log, kRoutingEndOfFileExitCode, message);
  // Line by line, as the descriptions are found after the lines of the values.
  const long lines = kLinesBeforeDescriptors + 1L + descriptorCount_;
  for (long line = 1; line <= lines; ++line)
    if (!SkipLine(ControlFile().Handle()))
      ThrowFatal(*Log, kRoutingEndOfFileExitCode, message);
}

void abflussmodellklasse::BuildRoutingSubbasins() {
  DescriptionContext context{Codes(), counts_.Totals.ZL, ModuleName};
  DescriptionParseResult parsed = ParseRoutingDescriptions(ControlFile().Handle(), context);
  for (int d = 1; d <= parsed.Begun; ++d)
    Log->Entry(Concat("reading routing description ", d, DiagnosticsLog::EndToken));
  if (parsed.Failure.Failed())
    ThrowFatal(*Log, parsed.Failure.ExitCode, parsed.Failure.Message);
  descriptions_ = std::move(parsed.Descriptions);

  order_ = UpstreamFirstOrder(descriptions_);
  if (order_.Failure.Failed())
    ThrowFatal(*Log, order_.Failure.ExitCode, order_.Failure.Message);
  if (order_.Reordered)
    Log->Entry(
        Concat("WARNING: ", ReorderedWarning(descriptions_, order_), DiagnosticsLog::EndToken));

  abfrel_.RelativeArea = OneBasedArray<double>(static_cast<std::size_t>(ZoneCount), 0.0);
  abfrel_.AreaFactor = OneBasedArray<double>(static_cast<std::size_t>(ZoneCount), 1.0);
  if (ZoneTable != nullptr)
    for (int j = 0; j <= ZoneCount && static_cast<std::size_t>(j) <= ZoneTable->Count(); ++j)
      abfrel_.RelativeArea[static_cast<std::size_t>(j)] =
          (*ZoneTable)[static_cast<std::size_t>(j)].rel;
  FillRoutingTargets(descriptions_, Codes(), routingTarget_);

  subbasins_.clear();
  subbasins_.emplace_back();
  for (const RoutingDescription &description : descriptions_)
    BuildRoutingSubbasin(description);
}

void abflussmodellklasse::BuildRoutingSubbasin(const RoutingDescription &d) {
  RoutingSubbasinSetup setup;
  setup.TgCode = d.TgCode;
  setup.TgArea = d.TgArea;
  setup.TgFactor = d.TgFactor;
  setup.Counts = d.Counts;
  setup.SubbasinCount = ZoneCount;
  setup.TimeStep = TimeStep;
  setup.SubIntervals = SubIntervals;
  setup.ObservedComparison = ObservedComparison;
  setup.Abfrel = &abfrel_;
  setup.Codes = Codes();
  setup.TracerCount = TracerCount;
  setup.HalfLives.assign(static_cast<std::size_t>(TracerCount) + 1, 0.0);
  if (TracerInfoTable != nullptr)
    for (int k = 1; k <= TracerCount && static_cast<std::size_t>(k) <= TracerInfoTable->Count();
         ++k)
      setup.HalfLives[static_cast<std::size_t>(k)] =
          (*TracerInfoTable)[static_cast<std::size_t>(k)].half_time;
  for (int k = 1; k <= TracerCount; ++k)
    setup.TracerNames.push_back(TracerInfoTable != nullptr &&
                                        static_cast<std::size_t>(k) <= TracerInfoTable->Count()
                                    ? (*TracerInfoTable)[static_cast<std::size_t>(k)].name
                                    : Concat("tracer", k));
  setup.LakeSwitch = LakeSwitch;
  setup.LakeGridSwitch = LakeGridSwitch;

  int error = 0;
  auto subbasin = std::make_unique<routingclass>(error, settings_, setup);
  auto channel = [&](const ChannelElement &e) {
    subbasin->SetChannel(e.ElementIndex, e.Code, e.List, SubIntervals, ObservedComparison, e.Values,
                         QspecMin, QspecMax, TableIntervals);
  };
  for (const ChannelElement &e : d.Ol)
    channel(e);
  for (const ChannelElement &e : d.Sumtrib)
    channel(e);
  for (const InflowElement &inflow : d.Inflows) {
    subbasin->OpenInflow(inflow.Channel.ElementIndex, inflow.Channel.Code, inflow.Kind,
                         inflow.FileName, inflow.StartRow, inflow.Constant,
                         inflow.FirstTracerColumn, static_cast<int>(StartDate.Year),
                         static_cast<int>(StartDate.Month), static_cast<int>(StartDate.Day),
                         static_cast<int>(StartDate.Hour));
    channel(inflow.Channel);
  }
  for (std::size_t a = 0; a < d.Abstractions.size(); ++a) {
    const NumberedElement &e = d.Abstractions[a];
    subbasin->SetAbstractionNumber(static_cast<int>(a) + 1, e.Number);
    subbasin->SetAblaufModus(static_cast<int>(a) + 1, d.Text, e.Position, e.Number,
                             static_cast<int>(StartDate.Year), static_cast<int>(StartDate.Month),
                             static_cast<int>(StartDate.Day), static_cast<int>(StartDate.Hour));
  }
  for (std::size_t s = 0; s < d.Reservoirs.size(); ++s) {
    const NumberedElement &e = d.Reservoirs[s];
    subbasin->SetReservoirNumber(static_cast<int>(s) + 1, e.Number);
    subbasin->SetSpeicherParams(static_cast<int>(s) + 1, d.Text, e.Position, e.Number);
  }
  subbasins_.push_back(std::move(subbasin));
}

void abflussmodellklasse::FinishRoutingSubbasins() {
  for (int n = 1; n <= RoutingSubbasinCount(); ++n) {
    RoutingSubbasin(n).InitReservoirRules(
        ControlFile().Handle(), static_cast<int>(StartDate.Year), static_cast<int>(StartDate.Month),
        static_cast<int>(StartDate.Day), static_cast<int>(StartDate.Hour));
    RoutingSubbasin(n).InitAbstractionRules(ControlFile().Handle());
  }
  maxStorageElements_ = 0;
  for (int n = 1; n <= RoutingSubbasinCount(); ++n)
    maxStorageElements_ = RoutingSubbasin(n).GetMaxStorageElements(maxStorageElements_);
  // A subbasin's share reads the whole upstream area of its tributaries.
  for (const int n : order_.Order)
    RoutingSubbasin(n).CheckAreas();
  for (int n = 1; n <= RoutingSubbasinCount(); ++n) {
    RoutingSubbasin(n).WriteTables();
    RoutingSubbasin(n).SetMaxIrrig(&maxIrrig_, &maxIrrigFromReservoirs_);
  }
}

void abflussmodellklasse::SetIrrigationAmounts(IrrigationAmounts *amounts) {
  if (FlowControl == 0)
    return;
  irrigationAmounts_ = amounts;
  for (int n = 1; n <= RoutingSubbasinCount(); ++n)
    RoutingSubbasin(n).SetIrrigationAmounts(amounts);
}

void abflussmodellklasse::SetRiverflowTable(riverflow_table *table) {
  if (!ExchangesOn())
    return;
  riverflow_ = table;
  if (table == nullptr)
    return;
  if (FlowControl != 0)
    for (int n = 1; n <= RoutingSubbasinCount(); ++n)
      RoutingSubbasin(n).SetRiverflowTable(table, n);
  // Every process's river cells read the records of their subbasins.
  BroadcastRiverFlows(*table, true);
}

// On every rank where the routing is on, so that the irrigation module of
// every rank sees the routing the same way; the arrays hold values on rank 0
// only, where the supply is decided.
IrrigationLimits *abflussmodellklasse::GetMaxIrrig() {
  return ExchangesOn() ? &maxIrrig_ : nullptr;
}

IrrigationLimits *abflussmodellklasse::GetMaxIrrigFromReservoirs() {
  return ExchangesOn() ? &maxIrrigFromReservoirs_ : nullptr;
}

RoutingTargets *abflussmodellklasse::GetRoutingTarget() {
  return ExchangesOn() ? &routingTarget_ : nullptr;
}

DischargeRelations *abflussmodellklasse::GetAbfrel() { return ExchangesOn() ? &abfrel_ : nullptr; }

void abflussmodellklasse::ReadDischargeUnit() {
  // The second value of "[output_interval]" (its first line is the divisor).
  if (!FindControlKey("[output_interval]", false))
    return;
  std::FILE *file = ControlFile().Handle();
  SkipLine(file);
  const std::optional<int> unit = ScanInt(file);
  if (unit)
    RoutingDischargeUnit = *unit;
  SkipLine(file);
}

void abflussmodellklasse::CreateDischargeTable() {
  ReadDischargeUnit();
  statisticZones_ = CopyZoneTable(ZoneTable, ZoneCount);
  statisticAreas_.assign(static_cast<std::size_t>(ZoneCount) + 1, 0.0);
  for (int j = 0; j <= ZoneCount; ++j)
    statisticAreas_[static_cast<std::size_t>(j)] =
        abfrel_.RelativeArea[static_cast<std::size_t>(j)];
  int error = 0;
  statistic_ = std::make_unique<routstatistic>(
      error, *Log, Statistics, StatisticsCapacity, nullptr, 1, 1,
      std::span<ZoneRecord>(statisticZones_), std::span<const double>(statisticAreas_),
      StatisticsCode, 5, StatisticsFileName, DefaultOutputDirectory, OutputCodes(*this));
  if (error != 0)
    throw error;
  const char *title = RoutingDischargeUnit == 0   ? "routed discharge [mm per subbasin] "
                      : RoutingDischargeUnit == 1 ? "routed discharge [ m3 per sec ] "
                                                  : "routed discharge (unknown measure)";
  statistic_->WriteHeader(title, ModuleName, Statistics, StatisticsCapacity);
}

void abflussmodellklasse::OpenObservedDischarge() {
  observed_.Open(ObservedFileName, StartDate, *Log);
  if (!observed_.Opened()) {
    ObservedComparison = 0;
    return;
  }
  // Columns the table does not hold compare nothing.
  for (int j = 1; j <= ZoneCount; ++j)
    if (ObservedColumn[static_cast<std::size_t>(j)] > observed_.Columns())
      ObservedColumn[static_cast<std::size_t>(j)] = 0;
}

void abflussmodellklasse::ReleaseMemory() {
  const bool setUp = FlowControl != 0 && MPIRank == 0 && Initialized == 1;
  // The routing section starts the state file. One that cannot be written
  // ends the run (18), but only after the goodness of fit and every table.
  int stateFailure = 0;
  if (setUp) {
    stateFailure = CaptureExitCode([&] { WriteStorage(); });
    Initialized = 0;
  }
  FinishTracerGrids();
  if (statistic_) {
    if (setUp && observed_.Opened())
      statistic_->WriteGoodnessOfFit(fit_.linear, fit_.logarithmic);
    statistic_->ReleaseMemory();
    statistic_.reset();
  }
  observed_.Close();
  if (setUp || (FlowControl != 0 && MPIRank == 0))
    FlushOutputs();
  ReleasePrecOnLakes();
  for (int n = 1; n <= RoutingSubbasinCount(); ++n)
    RoutingSubbasin(n).ReleaseMemory();
  qg_ = nullptr;
  irrigationAmounts_ = nullptr;
  riverflow_ = nullptr;
  teilmodellklasse::ReleaseMemory();
  if (stateFailure != 0)
    throw stateFailure;
}

} // namespace tavro
