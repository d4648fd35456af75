// Evapotranspiration: construction (section, input grids, registered grids and
// statistics), the wiring setters, the lake section, flush and release.
#include "landsurface/evapotranspiration_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/module_construction.h"
#include "kernel/progress_line.h"
#include "landsurface/layer_file_names.h"
#include "raster/parallel/mpi_decomposition.h"
#include "tables/multilayer_landuse.h"

#include <cmath>
#include <iomanip>
#include <sstream>

namespace tavro {
namespace {

constexpr int kStatisticsDecimals = 5;
constexpr int kRadiationDecimals = 2;
constexpr int kRegistryFull = GridRegistry::LastIndex + 1;

const char *MethodLabel(int method) {
  switch (method) {
  case 1:
    return "(Penman/Monteith)_";
  case 2:
    return "(HAMON)_";
  case 3:
    return "(WENDLING)_";
  case 4:
    return "(HAUDE)_";
  default:
    return "(unknown_method)_";
  }
}

std::string LayerName(const std::string &layer0, int k) {
  return k == 0 ? layer0 : LayerFileName(layer0, k);
}

StatisticsFile LayerStatistics(const StatisticsFile &layer0, int k) {
  return {LayerName(layer0.name, k), layer0.code};
}

const char *const kRadiationMissing =
    "--------------------------- ERROR ----------------------------------------\n"
    "Evapotranspiration requires at least one of the following entities\n"
    "erlative sunshine duration (SSD, in 1/1)  or global radiation  (RG, in Wh/m^2).\n"
    "or net radiation (RN, in Wh/m^2) (either RG or RN!)\n"
    "-------------------------------------------------------------------\n";
const char *const kHumidityMissing =
    "---------------------------- ERROR ---------------------------------------\n"
    "Evapotranspiration requires at least one of the following entities\n"
    "vapor pressure (e, in mbar) or relative air humidity (RLF, in 1/1).\n"
    "-------------------------------------------------------------------\n";
const char *const kLakeRule = "\n=======================================\n";

} // namespace

verdunstungsmodellklasse::verdunstungsmodellklasse(int &error, const ModuleSettings &settings) try
    : teilmodellklasse(BeginModuleConstruction(error, settings, FixedName)) {
  if (FlowControl == 0)
    return;
  Log->Entry(
      Concat("file etpetr, compiled at ", __DATE__, ", ", __TIME__, DiagnosticsLog::EndToken));
  entries_.Link(Registry);
  if (MultilayerTable != nullptr && MultilayerTable->Count() >= 1)
    layerCount_ = std::max(1, (*MultilayerTable)[1].LayerCount);
  sunshineState_ = radiation::SunshineMemory(TimeStep);
  section_ = ReadEvapotranspirationSection(*this, layerCount_, TimeStep);
  CloseModuleSection(*this);
  LinkDecompositionGrids(*this);
  FindInputGrids();
  FindLayerGrids();
  RegisterGrids();
  statisticsCells_ = StatisticsCellsOf(*this, CellIteration(Cells(false)), *zone_);
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

verdunstungsmodellklasse::~verdunstungsmodellklasse() = default;

// --- Grid look-ups ------------------------------------------------------------

const Grid *verdunstungsmodellklasse::Lookup(std::string_view identifier) const {
  return (*Registry)[GetGridIndex(identifier)].Data;
}

Grid *verdunstungsmodellklasse::LookupMutable(std::string_view identifier) {
  return (*Registry)[GetGridIndex(identifier)].Data;
}

const Grid *verdunstungsmodellklasse::Optional(std::string_view identifier) const {
  const int index = FindGrid(identifier, false);
  return index > 0 ? (*Registry)[index].Data : nullptr;
}

Grid *verdunstungsmodellklasse::OptionalMutable(std::string_view identifier) {
  const int index = FindGrid(identifier, false);
  return index > 0 ? (*Registry)[index].Data : nullptr;
}

void verdunstungsmodellklasse::FindInputGrids() {
  const int method = section_.method;
  const auto present = [&](std::string_view identifier) { return FindGrid(identifier, false) > 0; };
  // Which inputs the run offers.
  inputMask_ = 0;
  if (method == 1) {
    inputMask_ |= present("air_pressure") ? AirPressureBit : 0;
    inputMask_ |= present("landuse0") ? LanduseBit : 0;
    inputMask_ |= present("wind_speed") ? WindBit : 0;
    inputMask_ |= present("air_humidity") ? HumidityBit : 0;
    inputMask_ |= present("vapor_pressure") ? VapourPressureBit : 0;
  }
  if (method == 4) {
    inputMask_ |= present("air_humidity_14") ? HumidityBit : 0;
    inputMask_ |= present("vapor_pressure_14") ? VapourPressureBit : 0;
  }
  const char *radiationName = nullptr;
  if (method == 1 || method == 3) {
    if (present("net_radiation")) {
      radiationName = "net_radiation";
      netRadiation_ = true;
    } else if (present("global_radiation")) {
      radiationName = "global_radiation";
    }
    inputMask_ |= radiationName != nullptr ? RadiationBit : 0;
    inputMask_ |= present("sunshine_duration") ? SunshineBit : 0;
  }
  if ((inputMask_ & (SunshineBit | RadiationBit)) == 0 && method != 2 && method != 4)
    ThrowFatal(*Log, MissingInputExitCode, kRadiationMissing);
  if ((inputMask_ & (VapourPressureBit | HumidityBit)) == 0 && (method == 1 || method == 4))
    ThrowFatal(*Log, MissingInputExitCode, kHumidityMissing);

  if (method == 4)
    dayTemperature_ = LookupMutable("temperature_14");
  else
    dayTemperature_ = present("corr_temperature") ? LookupMutable("corr_temperature")
                                                  : LookupMutable("temperature");
  inputMask_ |= TemperatureBit;
  nightTemperature_ = dayTemperature_;
  if (method == 1 && TimeStep > 720.0)
    nightTemperature_ = LookupMutable("temperature_night");

  zone_ = (*Registry)[1].Data;
  elevation_ =
      (*Registry)[2].Data != nullptr ? (*Registry)[2].Data : Lookup((*Registry)[2].Identifier);
  if (method == 1 || method == 3)
    albedo_ = Lookup("albedo");
  if (method == 1) {
    wind_ = Lookup("wind_speed");
    soilResistance_ = Lookup("SurfaceEvaporationResistance");
  }
  const bool at14 = method == 4;
  if (inputMask_ & VapourPressureBit)
    vapourPressure_ = Lookup(at14 ? "vapor_pressure_14" : "vapor_pressure");
  if (inputMask_ & HumidityBit)
    humidity_ = Lookup(at14 ? "air_humidity_14" : "air_humidity");
  if (inputMask_ & AirPressureBit)
    airPressure_ = Lookup("air_pressure");
  if (inputMask_ & RadiationBit)
    radiation_ = LookupMutable(radiationName);
  if (inputMask_ & SunshineBit)
    sunshine_ = Lookup("sunshine_duration");
  glacierFraction_ = Optional("GlacierizedCells");
  if (glacierFraction_ == nullptr)
    glacierFraction_ = Optional("ice_firn");
  if (SpinUpSwitch != 0) {
    unitGrid_ = Lookup("HydrologicResponseUnits");
    masterGrid_ = Lookup("MasterHydrologicResponseUnits");
  }
}

void verdunstungsmodellklasse::FindLayerGrids() {
  const auto layers = static_cast<std::size_t>(layerCount_) + 1;
  landuse_.assign(layers, nullptr);
  leafAreaIndex_.assign(layers, nullptr);
  vegetationCover_.assign(layers, nullptr);
  canopyResistance_.assign(layers, nullptr);
  interceptionResistance_.assign(layers, nullptr);
  roughnessLength_.assign(layers, nullptr);
  if (layerCount_ > 1)
    landuse_[0] = Lookup("landuse");
  for (int k = 1; k <= layerCount_; ++k) {
    const auto i = static_cast<std::size_t>(k);
    landuse_[i] = Lookup(Concat("landuse", k));
    if (section_.method != 1)
      continue;
    leafAreaIndex_[i] = Lookup(Concat("leaf_area_index", k));
    vegetationCover_[i] = Lookup(Concat("vegetation_coverage_degree", k));
    canopyResistance_[i] = Lookup(Concat("SurfaceCanopyResistance", k));
    interceptionResistance_[i] = Lookup(Concat("SurfaceIntercepResistance", k));
    roughnessLength_[i] = Lookup(Concat("RoughnessLength", k));
  }
}

// --- Registered grids and statistics ------------------------------------------

CellIterationSetup verdunstungsmodellklasse::Cells(bool withUnits) const {
  if (!withUnits || SpinUpSwitch == 0)
    return StripCellsOf(*this, zone_);
  return StripCellsOf(*this, zone_, {unitGrid_, masterGrid_, HydrologicResponseUnits});
}

Grid &verdunstungsmodellklasse::NewGrid(bool wholeRasterOnRoot) {
  const bool whole = wholeRasterOnRoot && MPIRank == 0;
  const long first = whole ? 1 : FirstRow;
  const long last = whole ? NRows : LastRow;
  ownGrids_.push_back(std::make_unique<Grid>(first, last, NCols, NRows, *Log));
  return *ownGrids_.back();
}

void verdunstungsmodellklasse::RegisterGrid(Grid &grid, const std::string &identifier,
                                            const std::string &fileName, int writecode,
                                            const char *fullMessage, int &index) {
  index = Registry->FirstFreeIndex();
  if (index == 0) {
    if (fullMessage != nullptr)
      ThrowFatal(*Log, GridRegistry::RegistryExitCode, Concat(fullMessage));
    index = kRegistryFull; // AddGrid refuses it with its own entry
  }
  AddGrid(index, fileName, &grid, nullptr, 1, identifier, writecode, grid.FirstRow(),
          grid.LastRow());
  entries_.Add(index);
}

void verdunstungsmodellklasse::RegisterGrids() {
  const CellIteration cells(Cells(false));
  // 0 (or start) in the cells of the process, nodata in every other cell.
  const auto initialise = [&](Grid &grid, double start) {
    for (long r = grid.FirstRow(); r <= grid.LastRow(); ++r)
      for (long c = 0; c <= NCols; ++c)
        grid[r][c] =
            (r >= FirstRow && r <= LastRow && c >= 1 && cells.IsValid(r, c) && cells.IsOwned(r, c))
                ? start
                : NoData;
  };
  const auto layers = static_cast<std::size_t>(layerCount_) + 1;
  potentialTranspiration_.assign(layers, nullptr);
  realTranspiration_.assign(layers, nullptr);
  potentialInterception_.assign(layers, nullptr);
  indexes_.potentialTranspiration.assign(layers, 0);
  indexes_.realTranspiration.assign(layers, 0);
  indexes_.potentialInterception.assign(layers, 0);
  potentialTranspirationStatistics_.resize(layers);
  realTranspirationStatistics_.resize(layers);
  potentialInterceptionStatistics_.resize(layers);
  const std::string full = Concat("no free grid left", kRegistryFull);
  const std::string fullOf = Concat("no free grid left of ", kRegistryFull, "!\n");
  const std::string fullGhrid = Concat("no free ghrid left of ", kRegistryFull, "!\n");
  const EvapotranspirationSection &s = section_;
  for (int k = 0; k <= layerCount_; ++k) {
    const auto i = static_cast<std::size_t>(k);
    Grid &pt = NewGrid(false);
    initialise(pt, 0.0);
    RegisterGrid(
        pt, Concat("pot_transpiration", k), LayerName(s.potentialTranspiration.fileName, k),
        s.potentialTranspiration.writecode, full.c_str(), indexes_.potentialTranspiration[i]);
    potentialTranspiration_[i] = &pt;
    potentialTranspirationStatistics_[i] = std::make_unique<ModuleStatistic>(
        *this, Statistics, StatisticsCapacity,
        LayerStatistics(s.potentialTranspiration.statistics, k), kStatisticsDecimals,
        Concat("pot_transpiration", k, MethodLabel(s.method)), FixedName);

    Grid &rt = NewGrid(true);
    initialise(rt, 0.0);
    RegisterGrid(rt, Concat("real_transpiration", k), LayerName(s.realTranspiration.fileName, k),
                 s.realTranspiration.writecode, fullOf.c_str(), indexes_.realTranspiration[i]);
    realTranspiration_[i] = &rt;
    realTranspirationStatistics_[i] = std::make_unique<ModuleStatistic>(
        *this, Statistics, StatisticsCapacity, LayerStatistics(s.realTranspiration.statistics, k),
        kStatisticsDecimals,
        k == 0 ? std::string("total_Evapotranspiration_as_sum_of_ETR1..n_EI1..n_EVAR_and_EVRS_")
               : Concat("real_transpiration", k),
        FixedName);

    Grid &pie = NewGrid(false);
    initialise(pie, 0.0);
    RegisterGrid(pie, Concat("potential_InterceptionEvap", k),
                 LayerName(s.potentialInterception.fileName, k), s.potentialInterception.writecode,
                 fullGhrid.c_str(), indexes_.potentialInterception[i]);
    potentialInterception_[i] = &pie;
    potentialInterceptionStatistics_[i] = std::make_unique<ModuleStatistic>(
        *this, Statistics, StatisticsCapacity,
        LayerStatistics(s.potentialInterception.statistics, k), kStatisticsDecimals,
        Concat("potential_InterceptionEvap", k), FixedName);
  }

  const auto cellGrid = [&](const std::string &identifier, const std::string &fileName,
                            int writecode, double start, int &index) {
    Grid &grid = NewGrid(false);
    initialise(grid, start);
    RegisterGrid(grid, identifier, fileName, writecode, nullptr, index);
    return &grid;
  };
  potentialEvaporation_ =
      cellGrid("potential_evaporation", s.potentialEvaporation.fileName,
               s.potentialEvaporation.writecode, 0.0, indexes_.potentialEvaporation);
  realEvaporation_ = cellGrid("real_evaporation", s.realEvaporation.fileName,
                              s.realEvaporation.writecode, 0.0, indexes_.realEvaporation);
  snowEvaporation_ = cellGrid("snow_evaporation", s.snowEvaporation.fileName,
                              s.snowEvaporation.writecode, 0.0, indexes_.snowEvaporation);
  correctedRadiation_ = cellGrid("AspectCorrectedGlobalRadiation", "correctedradiation", 0, 0.0,
                                 indexes_.correctedRadiation);
  cloudiness_ = cellGrid("cloudiness", "cloudiness", 0, 0.0, indexes_.cloudiness);
  sunshineMemory_ = cellGrid("SSDTemp", "SSDTemp", 0, radiation::SunshineMemory::Initial,
                             indexes_.sunshineMemory);

  const auto statistic = [&](const StatisticsFile &file, int decimals, const char *title,
                             const char *headerModule) {
    return std::make_unique<ModuleStatistic>(*this, Statistics, StatisticsCapacity, file, decimals,
                                             title, headerModule);
  };
  potentialEvaporationStatistics_ = statistic(s.potentialEvaporation.statistics,
                                              kStatisticsDecimals, "potential_evaporation", "");
  realEvaporationStatistics_ =
      statistic(s.realEvaporation.statistics, kStatisticsDecimals, "real_evaporation", "");
  snowEvaporationStatistics_ =
      statistic(s.snowEvaporation.statistics, kStatisticsDecimals, "snow_evaporation", "");
  correctedRadiationStatistics_ = statistic(s.correctedRadiation, kRadiationDecimals,
                                            "Global_Radiation_corrected_by_Exposition_", FixedName);
  cloudinessStatistics_ = statistic(s.cloudiness, kRadiationDecimals, "cloudiness", FixedName);
}

// --- Wiring ---------------------------------------------------------------------

void verdunstungsmodellklasse::SetRadiationCorrectionGrid(Grid *grid) {
  if (FlowControl != 0)
    radiationCorrection_ = grid;
}

void verdunstungsmodellklasse::SetSnowStorage(Grid *grid) {
  if (FlowControl != 0)
    snowStorage_ = grid;
}

void verdunstungsmodellklasse::SetSnowMethod(int method) { snowMethod_ = method; }

void verdunstungsmodellklasse::SetSubstepCount(int count) { SubstepCount = count; }

void verdunstungsmodellklasse::ReadLakeParameters(std::string_view sectionName) {
  if (FindGrid("lake_codes", false) == 0) {
    Log->Entry(Concat("INFO: no LAKE-grid was found in ", ModuleName, "\n",
                      "Lake modelling is switched off for ", ModuleName, ".\n",
                      DiagnosticsLog::EndToken));
    return;
  }
  if (!OpenControlFile())
    ThrowFatal(*Log, LakeGridExitCode, "error opening " + ControlFileName);
  FindControlKey(sectionName, true);
  ReadControlValue(lake_.flowControl, "flow control parameter for ");
  // Spin-up runs never model open water.
  if (SpinUpSwitch != 0)
    lake_.flowControl = 0;
  if (lake_.flowControl != 0) {
    ReadControlValue(lake_.initializationMethod, "initialization method for ");
    ReadControlValue(lake_.albedo, "Albedo_OpenWater for ");
    ReadControlValue(lake_.roughnessLength, "z0_OpenWater for ");
    lakeCodes_ = Lookup("lake_codes");
    ponding_ = Optional("ponding_storage");
    if (ponding_ == nullptr)
      ponding_ = Optional("ponding_storage_top");
    if (ponding_ == nullptr) {
      lakeCodes_ = nullptr;
      ThrowFatal(*Log, LakeGridExitCode,
                 Concat(kLakeRule, "!!!! ERROR !!!! \n\n",
                        "\nLAKE-grid was found, but no POND-Grid. For using lakes,",
                        "\nboth grids as well as the MAXPOND grid must be present.", "\n",
                        kLakeRule));
    }
    if (lake_.initializationMethod != 1 && lake_.initializationMethod != 2)
      ThrowFatal(*Log, LakeInitializationExitCode,
                 Concat(kLakeRule, "!!!! ERROR !!!! \n\n ", "Error in initialization method for ",
                        sectionName, ".\n",
                        "Allowed values are 1 (no change of grids) or 2 (adjust DEM, SLOPE, "
                        "DRAIN).\n",
                        "In either case, theta_soil will be set to saturated, if the cell is "
                        "marked as lake and POND is > 0.",
                        "\n", kLakeRule));
  }
  if (!CloseControlFile())
    ThrowFatal(*Log, LakeCloseExitCode,
               Concat("error closing ", ControlFileName, "after reading initialization method for ",
                      sectionName));
}

// --- Log ---------------------------------------------------------------------------

void verdunstungsmodellklasse::LogStepLine(const char *label, long hour, long day, long month,
                                           long year) const {
  if (!ProgressLineDue(HourDivisor, hour, std::trunc(HoursToIntervalEnd)))
    return;
  std::ostringstream line;
  line << std::setw(20) << label << " " << day << "." << month << "." << year << " " << hour
       << ". h "
       << "(time of meteo data)" << DiagnosticsLog::EndToken;
  Log->Entry(line.str());
}

// --- Flush and release ---------------------------------------------------------------

void verdunstungsmodellklasse::FlushStatistics() {
  if (FlowControl == 0)
    return;
  const auto flush = [](std::unique_ptr<ModuleStatistic> &table) {
    if (table)
      (*table)->FlushBuffer();
  };
  for (std::size_t k = 0; k < potentialTranspirationStatistics_.size(); ++k) {
    flush(potentialTranspirationStatistics_[k]);
    flush(potentialInterceptionStatistics_[k]);
    flush(realTranspirationStatistics_[k]);
  }
  flush(correctedRadiationStatistics_);
  flush(cloudinessStatistics_);
  flush(realEvaporationStatistics_);
  flush(potentialEvaporationStatistics_);
  flush(snowEvaporationStatistics_);
}

void verdunstungsmodellklasse::ReleaseStatistics() {
  const auto release = [this](std::unique_ptr<ModuleStatistic> &table) {
    // A run whose set-up failed writes no final rows.
    if (table && Initialized != 0)
      (*table)->ReleaseMemory();
    table.reset();
  };
  for (auto *list : {&potentialTranspirationStatistics_, &realTranspirationStatistics_,
                     &potentialInterceptionStatistics_}) {
    for (auto &table : *list)
      release(table);
    list->clear();
  }
  release(potentialEvaporationStatistics_);
  release(realEvaporationStatistics_);
  release(snowEvaporationStatistics_);
  release(correctedRadiationStatistics_);
  release(cloudinessStatistics_);
}

void verdunstungsmodellklasse::ReleaseMemory() {
  if (!released_ && FlowControl > 0) {
    ReleaseStatistics();
    entries_.ReleaseAll();
    potentialTranspiration_.clear();
    realTranspiration_.clear();
    potentialInterception_.clear();
    potentialEvaporation_ = realEvaporation_ = snowEvaporation_ = nullptr;
    correctedRadiation_ = cloudiness_ = sunshineMemory_ = nullptr;
    ownGrids_.clear();
    statisticsCells_ = {};
  }
  radiationCorrection_ = nullptr;
  snowStorage_ = nullptr;
  released_ = true;
  teilmodellklasse::ReleaseMemory();
}

} // namespace tavro
