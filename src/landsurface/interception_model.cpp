// Interception: construction (section, grids of the land use and of the
// evapotranspiration, the registered stores and fluxes with their
// statistics), the step with the layered stores, the single store with its
// tracers and the glacierised part of a cell, flush and release.
#include "landsurface/interception_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/exact_sum.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/module_construction.h"
#include "kernel/tracer_info.h"
#include "landsurface/layer_file_names.h"
#include "raster/parallel/mpi_decomposition.h"
#include "raster/parallel/non_finite_water.h"
#include "tables/landuse_class.h"
#include "tables/multilayer_landuse.h"

#include <omp.h>

#include <algorithm>
#include <cstdio>

namespace tavro {
namespace {

constexpr int kStatisticsDecimals = 5;
// From this glacier fraction on a cell has no interception at all.
constexpr double kWholeGlacier = 0.99999;

using interception::InterceptionBalance;

// Exact sums of the balances of one thread's cells.
struct BalanceSums {
  ExactSum input, throughfall, evaporation, glacier, before, after;

  void Add(const InterceptionBalance &b) {
    input.Add(b.input);
    throughfall.Add(b.throughfall);
    evaporation.Add(b.evaporation);
    glacier.Add(b.glacier);
    before.Add(b.before);
    after.Add(b.after);
  }
  void Add(const BalanceSums &s) {
    input.Add(s.input);
    throughfall.Add(s.throughfall);
    evaporation.Add(s.evaporation);
    glacier.Add(s.glacier);
    before.Add(s.before);
    after.Add(s.after);
  }
  InterceptionBalance Total() const {
    return {input.ToDouble(),   throughfall.ToDouble(), evaporation.ToDouble(),
            glacier.ToDouble(), before.ToDouble(),      after.ToDouble()};
  }
};

std::string TracerFluxName(int tracer, const char *module) {
  char name[100];
  std::snprintf(name, sizeof name, "concflux_tracer_%1d_%s", tracer, module);
  return name;
}

} // namespace

interzeptionsmodellklasse::interzeptionsmodellklasse(int &error, const ModuleSettings &settings) try
    : teilmodellklasse(BeginModuleConstruction(error, settings, FixedName)) {
  if (FlowControl == 0)
    return;
  Log->Entry(
      Concat("file interzep, compiled at ", __DATE__, ", ", __TIME__, DiagnosticsLog::EndToken));
  LinkDecompositionGrids(*this);
  entries_.Link(Registry);
  if (MultilayerTable != nullptr && MultilayerTable->Count() >= 1)
    layerCount_ = std::max(1, (*MultilayerTable)[1].LayerCount);
  ReadSection();
  FindGrids();
  const auto layers = static_cast<std::size_t>(layerCount_) + 1;
  storage_.resize(layers);
  evaporation_.resize(layers);
  throughfall_.resize(layers);
  storageIndex_.assign(layers, 0);
  evaporationIndex_.assign(layers, 0);
  throughfallIndex_.assign(layers, 0);
  statistics_.resize(layers);
  for (int k = 0; k <= layerCount_; ++k) {
    LayerNames names = layer0_;
    if (k > 0) {
      names.throughfall = LayerFileName(layer0_.throughfall, k);
      names.evaporation = LayerFileName(layer0_.evaporation, k);
      names.storage = LayerFileName(layer0_.storage, k);
      names.throughfallStatistics.name = LayerFileName(layer0_.throughfallStatistics.name, k);
      names.evaporationStatistics.name = LayerFileName(layer0_.evaporationStatistics.name, k);
      names.storageStatistics.name = LayerFileName(layer0_.storageStatistics.name, k);
    }
    RegisterLayer(k, names);
  }
  statisticsCells_ = StatisticsCellsOf(*this, CellIteration(Cells()), *zone_);
  glacier_ = nullptr;
  for (const char *name : {"GlacierizedCells", "ice_firn"})
    if (const int index = FindGrid(name, false); index > 0 && glacier_ == nullptr)
      glacier_ = (*Registry)[index].Data;
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

interzeptionsmodellklasse::~interzeptionsmodellklasse() = default;

void interzeptionsmodellklasse::ReadSection() {
  ReadControlValue(method_, " method for ");
  rate_ = interception::RateOfMethod(method_);
  ReadControlValue(layer0_.throughfall, "name outflow grid for ");
  ReadControlValue(throughfallWritecode_, "write code outflow grid for ");
  ReadControlValues2(layer0_.throughfallStatistics.name, layer0_.throughfallStatistics.code,
                     "name outflow statistics file for ");
  ReadControlValue(layer0_.evaporation, "name potential interception evaporation grid for ");
  ReadControlValue(evaporationWritecode_,
                   "write code potential interception evaporation grid for ");
  ReadControlValues2(layer0_.evaporationStatistics.name, layer0_.evaporationStatistics.code,
                     "name potential interception statistics file for ");
  ReadControlValue(layer0_.storage, "name interception storage grid for ");
  ReadControlValue(storageWritecode_, "write code interception storage grid for ");
  ReadControlValues2(layer0_.storageStatistics.name, layer0_.storageStatistics.code,
                     "name interception storage statistics file for ");
  ReadControlValue(maxThickness_,
                   "parameter interception storage maximum water layer thickness for ");
  ReadControlValue(GridReadParameter, "readgrid parameter for ");
  CloseModuleSection(*this);
}

void interzeptionsmodellklasse::FindGrids() {
  const auto grid = [&](const std::string &identifier) {
    return (*Registry)[GetGridIndex(identifier)].Data;
  };
  const auto layers = static_cast<std::size_t>(layerCount_) + 1;
  landuse_.assign(layers, nullptr);
  leafAreaIndex_.assign(layers, nullptr);
  vegetationCover_.assign(layers, nullptr);
  potentialTranspiration_.assign(layers, nullptr);
  potentialInterception_.assign(layers, nullptr);
  for (int k = 1; k <= layerCount_; ++k) {
    const auto i = static_cast<std::size_t>(k);
    landuse_[i] = grid(Concat("landuse", k));
    leafAreaIndex_[i] = grid(Concat("leaf_area_index", k));
    vegetationCover_[i] = grid(Concat("vegetation_coverage_degree", k));
  }
  for (int k = 0; k <= layerCount_; ++k) {
    const auto i = static_cast<std::size_t>(k);
    potentialTranspiration_[i] = grid(Concat("pot_transpiration", k));
    potentialInterception_[i] = grid(Concat("potential_InterceptionEvap", k));
  }
  const int input = (method_ == 1 || method_ == 2)
                        ? GetGridIndexOf3("snowcover_outflow", "precipitation", "ungueltiger_Name")
                        : GetGridIndex("precipitation");
  waterInput_ = (*Registry)[input].Data;
  waterInputName_ = (*Registry)[input].Identifier;
  zone_ = (*Registry)[1].Data;
}

int interzeptionsmodellklasse::FreeIndex() const {
  const int index = Registry->FirstFreeIndex();
  if (index == 0)
    ThrowFatal(*Log, GridRegistry::RegistryExitCode,
               Concat("no free grid left", GridRegistry::LastIndex + 1));
  return index;
}

void interzeptionsmodellklasse::RegisterLayer(int k, const LayerNames &names) {
  const auto i = static_cast<std::size_t>(k);
  // Nodata outside the catchment, 0 inside.
  const auto prepare = [&](Grid &grid) {
    for (long r = FirstRow; r <= LastRow; ++r)
      for (long c = 0; c <= NCols; ++c) {
        const bool inside = c >= 1 && zone_->HasRow(r) && (*zone_)[r][c] > NoData;
        double &value = grid[r][c];
        value = inside ? (value > NoData ? value : 0.0) : NoData;
      }
  };
  const auto make = [&]() { return std::make_unique<Grid>(FirstRow, LastRow, NCols, NRows, *Log); };
  storage_[i] = make();
  if (GridReadParameter == 1) {
    // The stores start from their grid files; holes take the nearest value.
    Grid read;
    ReadGrid(names.storage, read, 1, true, true, 0.0, true, false, false, false);
    for (long r = FirstRow; r <= LastRow; ++r)
      for (long c = 1; c <= NCols; ++c)
        (*storage_[i])[r][c] = read.HasRow(r) ? read[r][c] : NoData;
  }
  prepare(*storage_[i]);
  storageIndex_[i] = FreeIndex();
  AddGrid(storageIndex_[i], names.storage, storage_[i].get(), nullptr, 1,
          Concat("interception_storage", k), storageWritecode_, FirstRow, LastRow);
  entries_.Add(storageIndex_[i]);

  evaporation_[i] = make();
  prepare(*evaporation_[i]);
  evaporationIndex_[i] = FreeIndex();
  AddGrid(evaporationIndex_[i], names.evaporation, evaporation_[i].get(), nullptr, 1,
          Concat("interception_evaporation", k), evaporationWritecode_, FirstRow, LastRow);
  entries_.Add(evaporationIndex_[i]);

  throughfall_[i] = make();
  prepare(*throughfall_[i]);
  throughfallIndex_[i] = FreeIndex();
  AddGrid(throughfallIndex_[i], names.throughfall, throughfall_[i].get(), nullptr, 1,
          Concat("throughfall", k), throughfallWritecode_, FirstRow, LastRow);
  entries_.Add(throughfallIndex_[i]);

  LayerStatistics &tables = statistics_[i];
  const auto table = [&](const StatisticsFile &file, const char *title) {
    return std::make_unique<ModuleStatistic>(*this, Statistics, StatisticsCapacity, file,
                                             kStatisticsDecimals, Concat(title, k, "_"),
                                             ModuleName);
  };
  tables.evaporation = table(names.evaporationStatistics, "interception_evaporation_in_mm_layer_");
  tables.storage = table(names.storageStatistics, "interception_storage_in_mm_layer_");
  tables.throughfall = table(names.throughfallStatistics, "throughfall_in_mm_layer_");
}

int interzeptionsmodellklasse::GetMethod() const { return FlowControl > 0 ? method_ : 0; }

void interzeptionsmodellklasse::InitTracerGrids(int &error, int tracerCount,
                                                OneBasedArray<TracerInfo> *info,
                                                StatisticsRegistry *registry, int capacity) {
  error = 0;
  if (FlowControl == 0)
    return;
  teilmodellklasse::InitTracerGrids(error, tracerCount, info, registry, capacity);
  if (error != 0)
    return;
  try {
    tracerInput_.assign(static_cast<std::size_t>(TracerCount) + 1, nullptr);
    for (int t = 1; t <= TracerCount; ++t) {
      const int index =
          GetGridIndexOf3(TracerFluxName(t, "snow_model"), TracerFluxName(t, "irrigation"),
                          TracerFluxName(t, "input"));
      tracerInput_[static_cast<std::size_t>(t)] = (*Registry)[index].Data;
    }
  } catch (int code) {
    error = code;
  } catch (...) {
    error = OtherFailureExitCode;
  }
}

// --- The step ---------------------------------------------------------------------

CellIterationSetup interzeptionsmodellklasse::Cells() const { return StripCellsOf(*this, zone_); }

double interzeptionsmodellklasse::GlacierFraction(long row, long column) const {
  return glacier_ != nullptr ? std::clamp((*glacier_)[row][column], 0.0, 1.0) : 0.0;
}

double interzeptionsmodellklasse::Capacity(long row, long column, int k) const {
  const auto i = static_cast<std::size_t>(k);
  double intercepCap = -1.0;
  const double record = (*landuse_[i])[row][column];
  if (LanduseTable != nullptr && record >= 1.0 &&
      record <= static_cast<double>(LanduseTable->Count()))
    intercepCap = (*LanduseTable)[static_cast<std::size_t>(std::lround(record))].GetIntercepCap();
  return interception::StoreCapacity(intercepCap, (*leafAreaIndex_[i])[row][column], maxThickness_);
}

void interzeptionsmodellklasse::ComputeTimeStep(long hour, long day, long month, long year) {
  if (FlowControl == 0)
    return;
  teilmodellklasse::ComputeTimeStep(hour, day, month, year);
  for (LayerStatistics &tables : statistics_) {
    (*tables.evaporation)->ResetStep();
    (*tables.storage)->ResetStep();
    (*tables.throughfall)->ResetStep();
  }
  for (TracerRecord &record : TracerRecords)
    if (record.Statistics)
      record.Statistics->ResetStep();

  const CellIteration cells(Cells());
  std::vector<BalanceSums> sums(static_cast<std::size_t>(std::max(1, omp_get_max_threads())));
#pragma omp parallel for schedule(runtime)
  for (long row = FirstRow; row <= LastRow; ++row) {
    BalanceSums &own = sums[static_cast<std::size_t>(omp_get_thread_num())];
    const RowColumnRange range = cells.Columns(row);
    for (long column = range.first; column <= range.last; ++column) {
      if (cells.IsValid(row, column) && cells.IsOwned(row, column)) {
        own.Add(InterceptCell(row, column));
        continue;
      }
      for (int k = 0; k <= layerCount_; ++k) {
        (*evaporation_[static_cast<std::size_t>(k)])[row][column] = NoData;
        (*throughfall_[static_cast<std::size_t>(k)])[row][column] = NoData;
      }
    }
  }
  BalanceSums total;
  for (const BalanceSums &s : sums)
    total.Add(s);
  balance_ = total.Total();
  StopIfNotFinite();
  AddStatistics();
  EndStep(hour, day, month, year);
}

// The step's balance sums every own cell's input, stores and fluxes; when it
// is not a usable number, one of them is not.
void interzeptionsmodellklasse::StopIfNotFinite() const {
  const double sum = balance_.input + balance_.throughfall + balance_.evaporation +
                     balance_.glacier + balance_.before + balance_.after;
  std::vector<WaterGrid> grids{{waterInputName_, waterInput_}};
  const auto add = [&](const std::vector<int> &indexes) {
    for (const int index : indexes)
      grids.push_back({(*Registry)[index].Identifier, (*Registry)[index].Data});
  };
  add(storageIndex_);
  add(evaporationIndex_);
  add(throughfallIndex_);
  StopIfWaterNotFinite(*this, CellIteration(Cells()), sum, grids);
}

InterceptionBalance interzeptionsmodellklasse::InterceptCell(long row, long column) {
  const double glacier = GlacierFraction(row, column);
  double before = 0.0;
  for (int k = 1; k <= layerCount_; ++k)
    before += (*storage_[static_cast<std::size_t>(k)])[row][column];
  const double input = (*waterInput_)[row][column];
  if (glacier < 1.0) {
    if (layerCount_ > 1)
      InterceptLayers(row, column, input);
    else
      InterceptSingleLayer(row, column, input);
  }
  if (glacier >= kWholeGlacier)
    ClearGlacierCell(row, column, input + before);
  InterceptionBalance balance;
  balance.input = input;
  balance.before = before;
  balance.throughfall = (*throughfall_[0])[row][column];
  balance.evaporation = (*evaporation_[0])[row][column];
  balance.after = (*storage_[0])[row][column];
  if (glacier >= kWholeGlacier && method_ <= 10)
    balance.glacier = input + before;
  return balance;
}

void interzeptionsmodellklasse::InterceptLayers(long row, long column, double input) {
  double water = input;
  double evaporated = 0.0;
  double stored = 0.0;
  double &total = (*potentialTranspiration_[0])[row][column];
  for (int k = 1; k <= layerCount_; ++k) {
    const auto i = static_cast<std::size_t>(k);
    interception::LayerState layer;
    double &storage = (*storage_[i])[row][column];
    double &transpiration = (*potentialTranspiration_[i])[row][column];
    layer.hasLanduse = (*landuse_[i])[row][column] > NoData;
    layer.storage = storage;
    if (layer.hasLanduse) {
      layer.cover = (*vegetationCover_[i])[row][column];
      layer.capacity = Capacity(row, column, k);
      layer.potentialTranspiration = transpiration;
      layer.potentialInterception = (*potentialInterception_[i])[row][column];
    }
    const interception::LayerResult result = interception::InterceptLayer(water, layer, rate_);
    storage = result.storage;
    (*evaporation_[i])[row][column] = result.evaporation.evaporation;
    (*throughfall_[i])[row][column] = result.throughfall;
    transpiration -= result.evaporation.transpirationUsed;
    total -= result.evaporation.transpirationUsed;
    evaporated += result.evaporation.evaporation;
    stored += result.storage;
    water = result.throughfall;
  }
  (*evaporation_[0])[row][column] = evaporated;
  (*storage_[0])[row][column] = stored;
  (*throughfall_[0])[row][column] = water;
}

void interzeptionsmodellklasse::InterceptSingleLayer(long row, long column, double input) {
  double &storage = (*storage_[1])[row][column];
  double &transpiration = (*potentialTranspiration_[1])[row][column];
  interception::LayerState layer;
  layer.hasLanduse = (*landuse_[1])[row][column] > NoData;
  layer.storage = storage;
  if (layer.hasLanduse) {
    layer.cover = (*vegetationCover_[1])[row][column];
    layer.capacity = Capacity(row, column, 1);
    layer.potentialTranspiration = transpiration;
    layer.potentialInterception = (*potentialInterception_[1])[row][column];
  }
  const interception::LayerResult result = interception::InterceptLayer(input, layer, rate_);
  if (layer.hasLanduse)
    CarryTracers(row, column, layer.storage, result.filling);
  storage = result.storage;
  transpiration -= result.evaporation.transpirationUsed;
  (*evaporation_[1])[row][column] = result.evaporation.evaporation;
  (*throughfall_[1])[row][column] = result.throughfall;
  // The cell's total is its one layer; its potential transpiration too.
  (*evaporation_[0])[row][column] = result.evaporation.evaporation;
  (*storage_[0])[row][column] = result.storage;
  (*throughfall_[0])[row][column] = result.throughfall;
  (*potentialTranspiration_[0])[row][column] = transpiration;
}

void interzeptionsmodellklasse::CarryTracers(long row, long column, double storeBefore,
                                             const interception::StoreFilling &filling) {
  for (int t = 1; t <= TracerCount; ++t) {
    const auto i = static_cast<std::size_t>(t);
    TracerRecord &record = TracerRecords[i];
    const TracerInfo &info = (*TracerInfoTable)[i];
    const interception::TracerProperties properties{info.evaporating != 0, record.DecayFactor,
                                                    info.max_conc};
    interception::TracerState state{record.StorageGrid[row][column], record.FluxGrid[row][column]};
    const double concentration = tracerInput_.size() > i && tracerInput_[i] != nullptr
                                     ? (*tracerInput_[i])[row][column]
                                     : 0.0;
    interception::CarryTracer(state, properties, concentration, storeBefore, filling);
    record.StorageGrid[row][column] = state.stored;
    record.FluxGrid[row][column] = state.outflow;
  }
}

void interzeptionsmodellklasse::ClearGlacierCell(long row, long column, double water) {
  for (int k = 0; k <= layerCount_; ++k) {
    (*evaporation_[static_cast<std::size_t>(k)])[row][column] = 0.0;
    (*storage_[static_cast<std::size_t>(k)])[row][column] = 0.0;
  }
  // Run before snow, the cell's water goes on to the snow on the glacier.
  (*throughfall_[0])[row][column] = method_ > 10 ? water : 0.0;
}

void interzeptionsmodellklasse::AddStatistics() {
  // The glacierised part e of a cell has no interception: the tables take
  // the cell's values with weight 1 - e and zeros with weight e. Jobs 0..L
  // the tables of a layer, job L + 1 those of the tracers.
  const auto tracerJob = static_cast<std::size_t>(layerCount_) + 1;
  ForEachTableJob(tracerJob + 1, [&](std::size_t job) {
    for (const StatisticsCell &cell : statisticsCells_) {
      const long row = cell.row, column = cell.column;
      const int zone = cell.zone;
      const double glacier = GlacierFraction(row, column);
      if (job == tracerJob) {
        // A tracer that evaporates is weighted by the water it is in.
        const auto addTracers = [&](double storage) {
          for (int t = 1; t <= TracerCount; ++t) {
            TracerRecord &record = TracerRecords[static_cast<std::size_t>(t)];
            const bool evaporating = (*TracerInfoTable)[static_cast<std::size_t>(t)].evaporating;
            if (record.Statistics)
              record.Statistics->AddValue(row, column, zone, record.StorageGrid[row][column],
                                          evaporating ? storage : 1.0);
          }
        };
        if (glacier < 1.0 && layerCount_ == 1 && (*landuse_[1])[row][column] > NoData)
          addTracers((*storage_[1])[row][column]);
        if (glacier > 0.0)
          addTracers((*storage_[0])[row][column]);
        continue;
      }
      LayerStatistics &tables = statistics_[job];
      const auto add = [&](double weight, bool zero) {
        (*tables.evaporation)
            ->AddValue(row, column, zone, zero ? 0.0 : (*evaporation_[job])[row][column], weight);
        (*tables.storage)
            ->AddValue(row, column, zone, zero ? 0.0 : (*storage_[job])[row][column], weight);
        (*tables.throughfall)
            ->AddValue(row, column, zone, zero ? 0.0 : (*throughfall_[job])[row][column], weight);
      };
      if (glacier < 1.0)
        add(1.0 - glacier, false);
      if (glacier > 0.0)
        add(glacier, true);
    }
  });
}

void interzeptionsmodellklasse::EndStep(long hour, long day, long month, long year) {
  for (LayerStatistics &tables : statistics_) {
    (*tables.evaporation)->EndOfStep(year, month, day, hour, 1);
    (*tables.storage)->EndOfStep(year, month, day, hour, 1);
    (*tables.throughfall)->EndOfStep(year, month, day, hour, 1);
  }
  for (int k = 0; k <= layerCount_; ++k) {
    const auto i = static_cast<std::size_t>(k);
    WriteGridOutput(throughfallIndex_[i]);
    WriteGridOutput(evaporationIndex_[i]);
    WriteGridOutput(storageIndex_[i]);
  }
  for (TracerRecord &record : TracerRecords) {
    if (record.Statistics)
      record.Statistics->EndOfStep(year, month, day, hour, 1);
    WriteGridOutput(record.StorageGridIndex);
  }
}

// --- Flush and release ---------------------------------------------------------------

void interzeptionsmodellklasse::FlushStatistics() {
  if (FlowControl == 0)
    return;
  for (LayerStatistics &tables : statistics_) {
    (*tables.evaporation)->FlushBuffer();
    (*tables.storage)->FlushBuffer();
    (*tables.throughfall)->FlushBuffer();
  }
  for (TracerRecord &record : TracerRecords)
    if (record.Statistics)
      record.Statistics->FlushBuffer();
}

void interzeptionsmodellklasse::FinishTracerGrids() {
  if (FlowControl != 0)
    teilmodellklasse::FinishTracerGrids();
}

void interzeptionsmodellklasse::ReleaseMemory() {
  if (!released_ && FlowControl > 0) {
    for (LayerStatistics &tables : statistics_)
      for (auto *table : {&tables.evaporation, &tables.storage, &tables.throughfall}) {
        // A run whose set-up failed writes no final rows.
        if (*table && Initialized != 0)
          (**table)->ReleaseMemory();
        table->reset();
      }
    statistics_.clear();
    entries_.ReleaseAll();
    storage_.clear();
    evaporation_.clear();
    throughfall_.clear();
    statisticsCells_ = {};
  }
  released_ = true;
  teilmodellklasse::ReleaseMemory();
}

} // namespace tavro
