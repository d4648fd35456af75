// Snow module: construction from "[snow_model]", the wiring operations, the
// seasonal factors, the tracer set-up and the release.
#include "landsurface/snow_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/module_construction.h"
#include "kernel/tracer_info.h"
#include "landsurface/snow/snow_formulas.h"
#include "raster/output/zonal_statistic.h"
#include "raster/parallel/collective_failure.h"
#include "tables/multilayer_landuse.h"

namespace tavro {
namespace {

// The model calendar's day of the year (February always 28 days).
int DayOfYear(const std::array<int, 14> &daysPerMonth, long day, long month) {
  long d = day;
  for (long m = 1; m < month && m <= 12; ++m)
    d += daysPerMonth[static_cast<std::size_t>(m)];
  return static_cast<int>(d);
}

} // namespace

schneemodellklasse::schneemodellklasse(int &error, const ModuleSettings &settings) try
    : teilmodellklasse(BeginModuleConstruction(error, settings, FixedName)) {
  entries_.Link(Registry);
  moduleFirstRow_ = FirstRow;
  moduleLastRow_ = LastRow;
  if (FlowControl == 0) {
    CloseModuleSection(*this);
    return;
  }
  BeginConstruction();
  ReadSection();
  CreateStatistics();
  FindInputs();
  RegisterGrids();
  RegisterGlacierGrids();
  CheckThresholds();
  Initialized = 0;
  if (SpinUpSwitch != 0 && unitGrid_ == nullptr) {
    unitGrid_ = Required("HydrologicResponseUnits");
    masterGrid_ = Required("MasterHydrologicResponseUnits");
  }
  configured_ = true;
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

schneemodellklasse::~schneemodellklasse() = default;

void schneemodellklasse::BeginConstruction() {
  Log->Entry(
      Concat("file snowmod, compiled at ", __DATE__, ", ", __TIME__, DiagnosticsLog::EndToken));
  if (Registry == nullptr)
    ThrowFatal(*Log, GridRegistry::RegistryExitCode,
               Concat("module ", ModuleName, " was built without a grid registry"));
  elevation_ = (*Registry)[2].Data;
  RankZones(subbasinGrid_, subbasinTable_, subbasinIndex_, subbasinCount_, maxSubbasinCode_);
  MPIRegions = Optional("MPIRegions");
  MPIHelper = Optional("MPIHelper");
  const int layers = MultilayerTable != nullptr && MultilayerTable->Count() >= 1
                         ? (*MultilayerTable)[1].LayerCount
                         : 1;
  landuseLayers_.assign(static_cast<std::size_t>(layers < 1 ? 1 : layers) + 1, nullptr);
}

void schneemodellklasse::ReadSection() {
  section_ = ReadSnowSection(*this);
  GridReadParameter = section_.ReadGrid;
  if (MPIRank == 0 && snow::HasSlides(section_.Pack.Method)) {
    moduleFirstRow_ = 1;
    moduleLastRow_ = NRows;
    wholeRaster_ = true;
  }
  if (!CloseControlFile())
    ThrowFatal(*Log, CloseErrorExitCode, "cannot close " + ControlFileName);
}

void schneemodellklasse::CreateStatistics() {
  const SnowSection &s = section_;
  const auto add = [&](const char *title, const StatisticsFile &file, int decimals,
                       const Grid *values) {
    statistics_.push_back({std::make_unique<ModuleStatistic>(*this, Statistics, StatisticsCapacity,
                                                             file, decimals, title, ModuleName),
                           values});
  };
  add("snow_melt_(effective_outflow_from_snow_cover)___", s.OutflowTable, 4, &outflow_.grid);
  add("snow_melt_only(effective_outflow_from_snow_cover)___", s.MeltOutflowTable, 4,
      &meltOutflow_.grid);
  add("snow_storage_in_mm___", s.StorageTable, 3, &total_.grid);
  add("snow_days____", s.SnowDaysTable, 3, &daysSnow_.grid);
  add("snow_age____", s.SnowAgeTable, 3, &snowAge_.grid);
  add("p_snow____", s.SnowTable, 3, &snowFraction_.grid);
  add("p_rain____", s.RainTable, 3, &rainFraction_.grid);
  add("albedo____", s.AlbedoTable, 3, nullptr); // the shared albedo, found later
  if (snow::IsEnergyBalance(s.Pack.Method)) {
    add("snowtemp____", s.SnowTemperatureTable, 3, &snowTemp_.grid);
    add("surftemp____", s.SurfaceTemperatureTable, 3, &surfTemp_.grid);
  }
  if (snow::HasSlides(s.Pack.Method)) {
    add("input_mass____", s.InputMassTable, 3, &inputMass_.grid);
    add("mobile_mass____", s.MobileMassTable, 3, &mobileMass_.grid);
    add("deposition____", s.DepositionTable, 3, &deposition_.grid);
  }
}

void schneemodellklasse::CheckThresholds() {
  snow::SnowParameters &p = section_.Pack;
  if (!(p.T0 > p.T0R))
    return;
  const std::string dashes(71, '-');
  Log->Entry(Concat("ERROR: \n", dashes, "\n",
                    "   T0R (threshold temperature rain/snow) < T0 (threshold temperature snow "
                    "melt)  \n",
                    "   because these thresholds are contradicting each other, T0R was set to "
                    "T0!                    \n",
                    dashes, DiagnosticsLog::EndToken));
  p.T0R = p.T0;
}

// --- Wiring ------------------------------------------------------------------------

void schneemodellklasse::SetRadiationCorrectionGrid(Grid *grid) {
  if (FlowControl != 0)
    radiationCorrection_ = grid;
}

Grid *schneemodellklasse::GetSnowStorage() { return configured_ ? &solid_.grid : nullptr; }

void schneemodellklasse::SetQg(SubbasinRunoffArrays *qg) {
  if (FlowControl == 0)
    return;
  qg_ = qg;
  Initialized = 1;
}

int schneemodellklasse::GetMethod() const { return FlowControl != 0 ? section_.Pack.Method : 0; }

void schneemodellklasse::SelectWaterInput(bool interceptionFirst) {
  if (FlowControl == 0)
    return;
  waterFromInterception_ = interceptionFirst;
  if (!configured_ || waterInput_ != nullptr)
    return;
  const int index = interceptionFirst
                        ? GetGridIndexOf3("throughfall0", "precipitation", "ungueltiger_Name")
                        : GetGridIndex("precipitation");
  waterInput_ = (*Registry)[index].Data;
  if (waterInput_ == nullptr)
    ThrowFatal(*Log, GridRegistry::NotFoundExitCode,
               Concat((*Registry)[index].Identifier, " holds no grid; it is the water input of ",
                      ModuleName));
}

// --- Seasonal factors ----------------------------------------------------------------

double schneemodellklasse::SeasonalMeltFactor(long day, long month) const {
  return snow::SeasonalFactor(section_.RMFMIN, section_.RMFMAX,
                              DayOfYear(DaysPerMonth, day, month));
}

double schneemodellklasse::SeasonalIceRadiationFactor(long day, long month) const {
  return snow::SeasonalFactor(aiceMin_, aiceMax_, DayOfYear(DaysPerMonth, day, month));
}

double schneemodellklasse::SeasonalSnowRadiationFactor(long day, long month) const {
  return snow::SeasonalFactor(asnowMin_, asnowMax_, DayOfYear(DaysPerMonth, day, month));
}

double schneemodellklasse::SaturationVapourPressureIce(double temperature) const {
  return snow::SaturationVapourPressureIce(temperature);
}

// --- Tracers -------------------------------------------------------------------------

void schneemodellklasse::InitTracerGrids(int &error, int tracerCount,
                                         OneBasedArray<TracerInfo> *info,
                                         StatisticsRegistry *registry, int capacity) {
  error = 0;
  if (!configured_)
    return;
  teilmodellklasse::InitTracerGrids(error, tracerCount, info, registry, capacity);
  if (error != 0)
    throw error;
  tracerInputs_.assign(static_cast<std::size_t>(TracerCount) + 1, nullptr);
  for (int n = 1; n <= TracerCount; ++n) {
    const int index = GetGridIndexOf3(Concat("concflux_tracer_", n, "_irrigation"),
                                      Concat("concflux_tracer_", n, "_input"), "!!_no_entry_!!");
    tracerInputs_[static_cast<std::size_t>(n)] = (*Registry)[index].Data;
    if (tracerInputs_[static_cast<std::size_t>(n)] == nullptr)
      ThrowFatal(*Log, GridRegistry::NotFoundExitCode,
                 Concat((*Registry)[index].Identifier,
                        " holds no grid; it is the input "
                        "concentration of tracer ",
                        n, " of ", ModuleName));
  }
}

void schneemodellklasse::FinishTracerGrids() {
  tracerInputs_.clear();
  if (FlowControl != 0)
    teilmodellklasse::FinishTracerGrids();
}

// --- End of the run ------------------------------------------------------------------

void schneemodellklasse::FlushStatistics() {
  for (StatisticFeed &feed : statistics_)
    feed.Table().FlushBuffer();
  for (ModuleStatistic *table : GlacierTables())
    (**table).FlushBuffer();
  for (TracerRecord &record : TracerRecords)
    if (record.Statistics)
      record.Statistics->FlushBuffer();
}

void schneemodellklasse::ReleaseMemory() {
  // A section that cannot be written ends the run (18) once all is released.
  const int stateFailure =
      configured_ && Initialized == 1 ? CaptureExitCode([&] { WriteStorage(true); }) : 0;
  Initialized = 0; // the section is written once, also when released twice
  for (StatisticFeed &feed : statistics_)
    feed.Table().ReleaseMemory();
  statistics_.clear();
  for (ModuleStatistic *table : GlacierTables())
    (**table).ReleaseMemory();
  for (auto *table : {&firnMeltTable_, &iceMeltTable_, &snowMeltTable_, &totalMeltTable_,
                      &snowWithoutGlaciersTable_, &firnTable_, &massBalanceTable_,
                      &massBalanceGlacierTable_, &thawDepthTable_})
    table->reset();
  statisticsCells_.clear();
  glacierCells_.clear();
  glaciers_.reset();
  entries_.ReleaseAll();
  for (OwnedGrid *owned : {&solid_,
                           &liquid_,
                           &total_,
                           &daysSnow_,
                           &snowAge_,
                           &snowTemp_,
                           &surfTemp_,
                           &capacity_,
                           &orderRow_,
                           &orderCol_,
                           &inputMass_,
                           &mobileMass_,
                           &deposition_,
                           &snowFraction_,
                           &rainFraction_,
                           &outflow_,
                           &meltOutflow_,
                           &firnMelt_,
                           &iceMelt_,
                           &firnTotal_,
                           &massBalance_,
                           &oldMassBalance_,
                           &solidOnGlacier_,
                           &liquidOnGlacier_,
                           &totalOnGlacier_,
                           &surfTempOnGlacier_,
                           &snowTempOnGlacier_,
                           &fractionOld_,
                           &codesOld_,
                           &meltOnGlacier_,
                           &evaporationOnGlacier_,
                           &snowFreeDaysOwned_,
                           &snowCoverDaysOwned_}) {
    owned->grid = Grid();
    owned->index = 0;
  }
  firnStack_ = Stack();
  glacierGrid_ = glacierCodes_ = nullptr;
  snowFreeDays_ = snowCoverDays_ = thawDepth_ = rootDepth1_ = nullptr;
  configured_ = false;
  radiationCorrection_ = nullptr;
  waterInput_ = nullptr;
  qg_ = nullptr;
  teilmodellklasse::ReleaseMemory();
  if (stateFailure != 0)
    throw stateFailure;
}

} // namespace tavro
