// Irrigation: section, grids, statistics and wiring checks.
#include "lateral/irrigation_model.h"

#include "lateral/module_grids.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/module_construction.h"
#include "raster/output/module_statistic.h"
#include "raster/parallel/cell_iteration.h"
#include "tables/irrigation_table.h"

#include <cstdio>

namespace tavro {
namespace {

constexpr const char *kSourceName = "irrigate";
constexpr const char *kStatisticsPrompt = "Name des GWSTANDstatfiles fuer ";

std::string TracerGridName(const char *format, int tracer, const char *module) {
  char name[128];
  std::snprintf(name, sizeof name, format, tracer, module);
  return name;
}

} // namespace

irrigationclass::irrigationclass(int &error, const ModuleSettings &settings,
                                 const OneBasedArray<IrrigationTableEntry> *irrigationTable) try
    : teilmodellklasse(BeginModuleConstruction(error, settings, FixedName)),
      IrrigationTable(irrigationTable) {
  if (FlowControl == 0 || SpinUpSwitch == 1) {
    CloseModuleSection(*this);
    return;
  }
  Log->Entry(Concat("file ", kSourceName, ", compiled at ", __DATE__, ", ", __TIME__,
                    DiagnosticsLog::EndToken));
  ReadControlValues2(groundwaterFile_, groundwaterCode_, kStatisticsPrompt);
  ReadControlValues2(surfaceFile_, surfaceCode_, kStatisticsPrompt);
  CloseModuleSection(*this);
  LinkGrids();
  groundwaterTable_ = std::make_unique<ModuleStatistic>(
      *this, Statistics, StatisticsCapacity, StatisticsFile{groundwaterFile_, groundwaterCode_}, 4,
      "irrigation water amount from groundwater [mm]", ModuleName);
  surfaceTable_ = std::make_unique<ModuleStatistic>(
      *this, Statistics, StatisticsCapacity, StatisticsFile{surfaceFile_, surfaceCode_}, 4,
      "irrigation water amount from  surface water [mm]", ModuleName);
  const auto count = static_cast<std::size_t>(ZoneCount > 0 ? ZoneCount : 0);
  amounts_.Records.Resize(count);
  if (ZoneTable != nullptr)
    for (std::size_t i = 0; i <= count && i <= ZoneTable->Count(); ++i) {
      amounts_.Records[i].zonenwert = (*ZoneTable)[i].zonenwert;
      amounts_.Records[i].rel = (*ZoneTable)[i].rel;
    }
  fraction_.assign(count + 1, 0.0);
  demandVolume_.assign(count + 1, 0.0);
  appliedVolume_.assign(count + 1, 0.0);
  SetInitialized(0);
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

irrigationclass::~irrigationclass() = default;

void irrigationclass::LinkGrids() {
  precipitation_ = NeededGrid(*this, "precipitation");
  previous_ = Grid(FirstRow, LastRow, NCols, NRows, *Log);
  demand_ = Grid(FirstRow, LastRow, NCols, NRows, *Log);
  if (IrrigationTable == nullptr || IrrigationTable->Empty()) {
    // Without a table no cell has a code: nothing is irrigated.
    Log->Entry(Concat("WARNING: ", ModuleName,
                      ": no irrigation table was read, no cell is irrigated",
                      DiagnosticsLog::EndToken));
    return;
  }
  codes_ = NeededGrid(*this, "irrigation_codes");
  maxPumping_ = NeededGrid(*this, "Max_Pumping");
  amountsGrid_ = NeededGrid(*this, "irrigation_amounts");
  amountsIndex_ = GetGridIndex("irrigation_amounts");
  sb1_ = NeededGrid(*this, "SB_1_grid");
  sbLow_ = NeededGrid(*this, "SBLOW_grid");
  sbHigh_ = NeededGrid(*this, "SBHIGH_grid");
  etr2etp_ = NeededGrid(*this, "ETR2ETP");
  rootDepth_ = NeededGrid(*this, "root_depth1");
}

CellIteration irrigationclass::Cells() const { return CellIteration(CellLoopSetup()); }

void irrigationclass::InitTracerGrids(int &error, int tracerCount, OneBasedArray<TracerInfo> *info,
                                      StatisticsRegistry *registry, int capacity) {
  error = 0;
  if (!WorksThisRun())
    return;
  teilmodellklasse::InitTracerGrids(error, tracerCount, info, registry, capacity);
  tracerInput_.assign(static_cast<std::size_t>(TracerCount) + 1, nullptr);
  for (int k = 1; k <= TracerCount; ++k)
    tracerInput_[static_cast<std::size_t>(k)] =
        OptionalGrid(*this, TracerGridName("concflux_tracer_%1d_%s", k, "input"));
}

void irrigationclass::SetRiverflowTable(riverflow_table *table) {
  if (FlowControl != 0)
    riverflow_ = table;
}

void irrigationclass::SetQg(SubbasinRunoffArrays *qg) {
  if (FlowControl != 0)
    qg_ = qg;
}

void irrigationclass::LinkSoilTracerGrids() {
  if (!WorksThisRun() || TracerCount < 1)
    return;
  tracerSoil_.assign(static_cast<std::size_t>(TracerCount) + 1, nullptr);
  for (int k = 1; k <= TracerCount; ++k)
    tracerSoil_[static_cast<std::size_t>(k)] =
        OptionalGrid(*this, TracerGridName("concstor_tracer_%d_%s", k, "unsatzon_model"));
}

void irrigationclass::SetMaxIrrig(IrrigationLimits *maxIrrig,
                                  IrrigationLimits *maxIrrigFromReservoirs) {
  if (FlowControl == 0)
    return;
  const std::string lead = "if irrigation is modelled, also routing has to be modelled!";
  if (maxIrrig == nullptr)
    ThrowFatal(*Log, RoutingMissingExitCode, lead + "\n(Adress of array maxirrig[] is NULL\n");
  if (maxIrrigFromReservoirs == nullptr)
    ThrowFatal(*Log, RoutingMissingExitCode,
               lead + "\n(Adress of array maxirrigFromReservoirs[] is NULL\n");
  maxIrrig_ = maxIrrig;
  maxIrrigFromReservoirs_ = maxIrrigFromReservoirs;
}

void irrigationclass::SetRoutingTarget(RoutingTargets *targets) {
  if (FlowControl == 0)
    return;
  if (targets == nullptr)
    ThrowFatal(*Log, RoutingMissingExitCode,
               "if irrigation is modelled, also routing has to be modelled! \n(Adress of array "
               "routing-target is NULL)\n");
  routingTarget_ = targets;
}

void irrigationclass::SetAbfrel(DischargeRelations *relations) {
  if (FlowControl == 0)
    return;
  if (relations == nullptr)
    ThrowFatal(*Log, RoutingMissingExitCode,
               "if irrigation is modelled, also routing has to be modelled! \n(Adress of array "
               "abfrel is NULL)\n");
  abfrel_ = relations;
}

IrrigationAmounts *irrigationclass::GetIrrigationAmounts() {
  return FlowControl != 0 ? &amounts_ : nullptr;
}

void irrigationclass::FlushStatistics() {
  if (!WorksThisRun())
    return;
  for (auto *table : {groundwaterTable_.get(), surfaceTable_.get()})
    if (table != nullptr)
      (*table)->FlushBuffer();
  for (TracerRecord &record : TracerRecords)
    if (record.Statistics)
      record.Statistics->FlushBuffer();
}

void irrigationclass::FinishTracerGrids() {
  if (!WorksThisRun())
    return;
  teilmodellklasse::FinishTracerGrids();
  tracerSoil_.clear();
  tracerInput_.clear();
}

void irrigationclass::ReleaseMemory() {
  if (SpinUpSwitch == 1)
    return;
  if (FlowControl > 0) {
    for (auto *table : {groundwaterTable_.get(), surfaceTable_.get()})
      if (table != nullptr)
        (*table)->ReleaseMemory();
    groundwaterTable_.reset();
    surfaceTable_.reset();
  }
  riverflow_ = nullptr;
  qg_ = nullptr;
  maxIrrig_ = maxIrrigFromReservoirs_ = nullptr;
  routingTarget_ = nullptr;
  abfrel_ = nullptr;
  teilmodellklasse::ReleaseMemory();
}

} // namespace tavro
