// Surface routing: construction (section, input grids, the registered grids
// and stacks, plan curvature, statistics tables), wiring setters and release.
#include "lateral/surface_routing.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/module_construction.h"
#include "kernel/string_helpers.h"
#include "lateral/overland/plan_curvature.h"
#include "raster/output/zonal_statistic.h"
#include "raster/parallel/cell_iteration.h"
#include "raster/parallel/collective_failure.h"
#include "tables/multilayer_landuse.h"

#include <mpi.h>

#include <cstdio>

namespace tavro {
namespace {

constexpr const char *kSourceName = "surfrout";

} // namespace

surfaceroutingclass::surfaceroutingclass(int &error, const ModuleSettings &settings,
                                         int substepCount) try
    : teilmodellklasse(BeginModuleConstruction(error, settings, FixedName, substepCount)) {
  if (FlowControl == 0) {
    CloseModuleSection(*this);
    return;
  }
  entries_.Link(Registry);
  const int regions = FindGrid("MPIRegions", false);
  if (regions != 0 && MPIRegions == nullptr)
    MPIRegions = (*Registry)[regions].Data;
  const int helper = FindGrid("MPIHelper", false);
  if (helper != 0 && MPIHelper == nullptr)
    MPIHelper = (*Registry)[helper].Data;
  Log->Entry(Concat("file ", kSourceName, ", compiled at ", __DATE__, ", ", __TIME__,
                    DiagnosticsLog::EndToken));
  if (SpinUpSwitch != 0) {
    // Lateral flow between the cells of a response unit has no meaning.
    CloseModuleSection(*this);
    FlowControl = 0;
    return;
  }
  if (FindGrid("GlacierizedCells", true) != 0 || FindGrid("GlacierCodes", true) != 0)
    ThrowFatal(*Log, GlacierExitCode,
               "error: Surface routing module cannot be used when glacier model is active. "
               "Remove grids for glacier codes and glaciated cell fractions from the grid list");
  haloFirst_ = FirstRow > 1 ? FirstRow - 1 : FirstRow;
  haloLast_ = LastRow < NRows ? LastRow + 1 : LastRow;
  LinkInputGrids();
  ReadSettings();
  AdjustInnerStepLimits();
  ReadStorageSettings();
  CloseModuleSection(*this);
  CheckLandUseLayers();
  RegisterGrids();
  CreateStatistics();
  DirectFlow = RequiredGridData(*this, "directflow");
  Interflow = RequiredGridData(*this, "interflow");
  RiverDepth = RequiredGridData(*this, "river_depth");
  RiverWidth = RequiredGridData(*this, "river_width");
  RequiredGridData(*this, "river_links");
  const int flow = FindGrid("flow_times", false);
  FlowTimes = flow != 0 ? (*Registry)[flow].Data : nullptr;
  BuildPasses();
  Initialized = 1;
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

surfaceroutingclass::~surfaceroutingclass() = default;

void surfaceroutingclass::LinkInputGrids() {
  Zone = (*Registry)[1].Data;
  Elevation = (*Registry)[2].Data;
  if (Elevation == nullptr)
    ThrowFatal(*Log, GridRegistry::NotFoundExitCode,
               Concat(ModuleName, " needs the elevation model (registry entry 2)"));
  LanduseLayerCount = 1;
  if (MultilayerTable != nullptr && MultilayerTable->Count() >= 1)
    LanduseLayerCount = std::max(1, (*MultilayerTable)[1].LayerCount);
  Landuse.clear();
  for (int k = 1; k <= LanduseLayerCount; ++k) {
    Landuse.push_back(RequiredGridData(*this, Concat("landuse", k)));
    RequiredGridData(*this, Concat("vegetation_coverage_degree", k));
  }
  RequiredGridData(*this, "soil_types");
  SurfaceStorage = RequiredGridData(*this, "SurfStorSiltingUp");
}

void surfaceroutingclass::ReadSettings() {
  ReadControlValue(FlowPathMethod, "method for flowpath-calculation ");
  const char *labels[] = {"name of the statistics for direct runoff from surface routing (QDSR) ",
                          "name of the statistics for interflow from surface routing (QISR) ",
                          "name of the statistics for baseflow from surface routing (QBSR) ",
                          "name of the statistics for total runoff from surface routing (QGSR) "};
  if (FlowPathMethod < 1 || FlowPathMethod > 5)
    ThrowFatal(*Log, MethodExitCode,
               Concat("\n-----------------error------------\nwrong method (", FlowPathMethod,
                      ") read for ", ModuleName, "\n"));
  for (int i = 0; i < 4; ++i)
    ReadControlValues2(StatisticsFiles[static_cast<std::size_t>(i)].name,
                       StatisticsFiles[static_cast<std::size_t>(i)].code, labels[i]);
  ReadControlValue(VelocityStackFile, "name of the surface-routing-velocity-stack, ");
  ReadControlValue(VelocityWritecode, "Writegrid for surface-routing-velocity-stack, ");
  ReadControlValue(FluxesStackFile, "name of the surface-routing-fluxes-stack, ");
  ReadControlValue(FluxesWritecode, "Writegrid for surface-routing-fluxes-stack, ");
  overland::VelocitySettings &v = Velocity;
  v.Method = FlowPathMethod;
  ReadControlValue(v.Resistance.MaxErrorANL, "maximum iteration error for A_NL [m] in ");
  ReadControlValue(v.Resistance.MaxIterANL, "maximum iteration steps for A_NL in ");
  ReadControlValue(v.MaxErrorVelocity, "maximum iteration error [m/s] for velocity in ");
  ReadControlValue(v.MaxIterVelocity, "maximum iteration steps for velocity in ");
  ReadControlValue(v.MinSubTimeStep, "minimum sub time step [s] in ");
  ReadControlValue(v.MaxSubTimeStep, "maximum sub time step [s] in ");
  ReadControlValue(v.Resistance.MinCropRoughnessDepth,
                   "minimum flow depth to take into account the roughness of the crops [m] in ");
  ReadControlValue(v.ConcentrationFactor, "Concentration factor [1/1] in ");
  // The inner step limits divide the sub-step and the cell lengths.
  ControlFile().RequireAbove0("MinSubTimeStep", v.MinSubTimeStep);
  ControlFile().RequireAbove0("MaxSubTimeStep", v.MaxSubTimeStep);
  if (v.MaxIterVelocity < 1)
    ThrowFatal(*Log, ControlFileExitCode,
               Concat("in modul ", ModuleName, ": the maximum iteration steps for velocity (",
                      v.MaxIterVelocity, ") must be at least 1"));
}

void surfaceroutingclass::AdjustInnerStepLimits() {
  SubstepLength = TimeStep / SubstepCount * 60.0;
  const double t = SubstepLength;
  auto fraction = [t](double limit) {
    const int parts = static_cast<int>(t / limit);
    return parts >= 1 ? t / parts : t;
  };
  double &maxStep = Velocity.MaxSubTimeStep;
  const double newMax = fraction(maxStep);
  if (newMax != maxStep)
    Log->Entry(Concat("INFO: longest allowed subtimestep changed from ", maxStep, " to ", newMax,
                      ". Must be integer fraction of time step in seconds.",
                      DiagnosticsLog::EndToken));
  maxStep = newMax;
  double &minStep = Velocity.MinSubTimeStep;
  const double newMin = fraction(minStep);
  if (newMin != minStep)
    Log->Entry(Concat("WARNING: shortest allowed subtimestep changed from ", minStep, " to ",
                      newMin, ". Must be integer fraction of time step in seconds.",
                      DiagnosticsLog::EndToken));
  minStep = newMin;
}

void surfaceroutingclass::ReadStorageSettings() {
  ReadControlValue(GridReadParameter, "read control parameter for storage grids for ");
  // The storage statistics line is read as it stands, without skipping a
  // label: a line holding only a file name leaves the next word unread.
  std::FILE *file = ControlFile().Handle();
  StatisticsFile &storage = StatisticsFiles[4];
  std::array<char, 1200> word{};
  int code = 0;
  if (std::fscanf(file, "%1199s", word.data()) == 1 && std::fscanf(file, "%d", &code) == 1) {
    storage.name = word.data();
    storage.code = code;
  } else {
    storage = StatisticsFile{};
  }
  ReadControlValue(StorageFileName, "name of the storage content file ");
  if (StorageFileName == "[unsatzon_model]")
    Log->Entry(Concat("WARNING: \n-----------------error------------\nerror reading storage "
                      "file name for ",
                      ModuleName,
                      "\npossible reason: parameter missing or a linefeed \nbefore the end of the "
                      "parameter block",
                      DiagnosticsLog::EndToken));
  StorageFileName = Concat(StorageFileName, "_", MPIRank);
}

void surfaceroutingclass::CheckLandUseLayers() const {
  long missing = 0;
  long firstRow = 0, firstColumn = 0;
  CellIteration(StripCellsOf(*this, Zone)).ForEachOwnCell([&](long r, long c) {
    for (const Grid *layer : Landuse)
      if (IsLandUseRecord((*layer)[r][c]))
        return;
    if (missing++ == 0) {
      firstRow = r;
      firstColumn = c;
    }
  });
  long total = 0;
  MPI_Allreduce(&missing, &total, 1, MPI_LONG, MPI_SUM, MPI_COMM_WORLD);
  if (total > 0)
    ThrowFatal(*Log, ControlFileExitCode,
               Concat("in modul ", ModuleName, ": ", total,
                      " valid cells have no land use in any layer",
                      missing > 0 ? Concat(", the first of rank ", MPIRank, " at (", firstRow, ", ",
                                           firstColumn, ")")
                                  : std::string()));
}

Grid *surfaceroutingclass::OptionalOwnGrid(Grid &own, const char *identifier, long first, long last,
                                           double start, int *index) {
  const int found = FindGrid(identifier, false);
  if (found != 0) {
    if (index != nullptr)
      *index = found;
    return (*Registry)[found].Data;
  }
  const int free = Registry->FirstFreeIndex();
  if (free == 0)
    ThrowFatal(*Log, GridRegistry::RegistryExitCode,
               Concat("no free grid anymore, allowed number of grids is ", 1000, "!"));
  own = Grid(first, last, NCols, NRows, *Log);
  own.Fill(NoData);
  ForOwnCells([&](long r, long c) { own[r][c] = start; });
  AddGrid(free, identifier, &own, nullptr, 1, identifier, 0, first, last);
  entries_.Add(free);
  if (index != nullptr)
    *index = free;
  return &own;
}

void surfaceroutingclass::RegisterGrids() {
  auto nextFree = [&] {
    const int free = Registry->FirstFreeIndex();
    if (free == 0)
      ThrowFatal(*Log, GridRegistry::RegistryExitCode,
                 Concat("no free grid anymore, allowed number of grids is ", 1000, "!"));
    return free;
  };
  struct StackSlot {
    Stack *stack;
    const char *identifier;
    const std::string *file;
    int code;
    bool halo;
    int *index;
  };
  const std::string none;
  const StackSlot stacks[] = {
      {&VelocityStack, "SurfaceRoutingVelocity", &VelocityStackFile, VelocityWritecode, false,
       &VelocityIndex},
      {&FluxStack, "SurfaceRoutingFluxes", &FluxesStackFile, FluxesWritecode, true, &FluxIndex},
      {&WeightStack, "SurfaceRoutingWeights", &none, 0, false, &WeightIndex}};
  for (const StackSlot &s : stacks) {
    const long first = s.halo ? haloFirst_ : FirstRow;
    const long last = s.halo ? haloLast_ : LastRow;
    *s.stack = Stack(first, last, NCols, StackLevels - 1, NRows, *Log);
    s.stack->Fill(NoData);
    ForOwnCells([&](long r, long c) {
      for (int k = 0; k < StackLevels; ++k)
        (*s.stack)[r][c][k] = 0.0;
    });
    const int index = nextFree();
    AddGrid(index, s.file->empty() ? std::string(s.identifier) : *s.file, nullptr, s.stack,
            StackLevels - 1, s.identifier, s.code, first, last);
    entries_.Add(index);
    *s.index = index;
    if (s.halo)
      MPIExchangeStackHalo(index, nullptr);
  }
  Depth = Grid(haloFirst_, haloLast_, NCols, NRows, *Log);
  Depth.Fill(NoData);
  ForOwnCells([&](long r, long c) { Depth[r][c] = 0.0; });
  DepthIndex = nextFree();
  AddGrid(DepthIndex, "SurfaceRoutingTotalInput", &Depth, nullptr, 1, "SurfaceRoutingTotalInput", 0,
          haloFirst_, haloLast_);
  entries_.Add(DepthIndex);
  MPIExchangeHalo(DepthIndex, nullptr);

  if (FindGrid("Plancurvature", false) != 0) {
    CurvatureIndex = FindGrid("Plancurvature", false);
    PlanCurvature = (*Registry)[CurvatureIndex].Data;
  } else {
    PlanCurvature = OptionalOwnGrid(curvatureOwn_, "Plancurvature", haloFirst_, haloLast_, 0.0,
                                    &CurvatureIndex);
    ComputePlanCurvature();
    MPIExchangeHalo(CurvatureIndex, nullptr);
  }
  QIn = OptionalOwnGrid(qInOwn_, "SurfaceRoutingQIn", FirstRow, LastRow, 0.0, nullptr);
  QOut = OptionalOwnGrid(qOutOwn_, "SurfaceRoutingQOut", FirstRow, LastRow, 0.0, nullptr);
  CriticalShear =
      OptionalOwnGrid(shearOwn_, "CriticalShearStress", FirstRow, LastRow, 0.9, nullptr);
}

void surfaceroutingclass::ComputePlanCurvature() {
  // On rank 0 over the whole raster, so that the filling order does not
  // depend on the strips; every process takes its rows.
  const overland::RasterView raster{NCols, NRows};
  const std::size_t cells = static_cast<std::size_t>(NCols) * static_cast<std::size_t>(NRows);
  std::vector<double> curvature(cells, NoData);
  if (MPIRank == 0) {
    std::vector<double> elevation(cells, NoData);
    std::vector<char> fill(cells, 0);
    for (long r = 1; r <= NRows; ++r)
      for (long c = 1; c <= NCols; ++c) {
        const auto i = static_cast<std::size_t>((r - 1) * NCols + (c - 1));
        elevation[i] = (*Elevation)[r][c];
        fill[i] = elevation[i] != NoData && (*Zone)[r][c] != NoData ? 1 : 0;
      }
    overland::ComputePlanCurvatureRaster(elevation, curvature, raster, CellSize, NoData);
    overland::FillGapsFromNeighbours(curvature, fill, raster, NoData);
  }
  MPI_Bcast(curvature.data(), static_cast<int>(cells), MPI_DOUBLE, 0, MPI_COMM_WORLD);
  Grid &k = *PlanCurvature;
  for (long r = k.FirstRow(); r <= k.LastRow(); ++r)
    if (k.HasRow(r))
      for (long c = 1; c <= NCols; ++c)
        k[r][c] = curvature[static_cast<std::size_t>((r - 1) * NCols + (c - 1))];
}

void surfaceroutingclass::CreateStatistics() {
  struct Table {
    const char *title;
    int decimals;
  };
  const Table tables[] = {{"Direct_Discharge_Surface_Routing", 5},
                          {"Interflow_Surface_Routing", 5},
                          {"Baseflow_Surface_Routing", 5},
                          {"Total_Runoff_Surface_Routing", 6},
                          {"Surface_Storage_in_SurfaceRouting_Module", 6}};
  for (std::size_t i = 0; i < tables_.size(); ++i) {
    if (StatisticsFiles[i].name.empty())
      continue;
    tables_[i] =
        std::make_unique<ModuleStatistic>(*this, Statistics, StatisticsCapacity, StatisticsFiles[i],
                                          tables[i].decimals, tables[i].title, ModuleName);
  }
}

ModuleStatistic *surfaceroutingclass::Table(int which) const {
  return tables_[static_cast<std::size_t>(which)].get();
}

void surfaceroutingclass::SetSubstepCount(int count) { SubstepCount = count; }

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

void surfaceroutingclass::CheckWiring() const {
  if (qbb_ == nullptr || kelsqd_ == nullptr || kelsqi_ == nullptr)
    ThrowFatal(*Log, ControlFileExitCode,
               Concat("in modul ", ModuleName,
                      ": surface routing needs the baseflow and the storage constants of the "
                      "soil-water module; switch the soil-water module on or surface routing off"));
}

void surfaceroutingclass::FinishRun(bool append) {
  int stateFailure = 0;
  if (FlowControl > 0) {
    if (Initialized == 1 && !StorageFileName.empty()) {
      // The collective part first, so that no process waits in it for one
      // whose state section failed; a failure of either ends the run after
      // both, the tracer grids, the tables and the release.
      stateFailure = CaptureExitCode([&] { WriteFlowState(); });
      const int sectionFailure = CaptureExitCode([&] { WriteStorage(StorageFileName, append); });
      stateFailure = stateFailure != 0 ? stateFailure : sectionFailure;
      Initialized = 0;
    }
    FinishTracerGrids();
    for (auto &table : tables_)
      table.reset();
  }
  ReleaseMemory();
  if (stateFailure != 0)
    throw stateFailure;
}

void surfaceroutingclass::ReleaseMemory() {
  qbb_ = nullptr;
  kelsqd_ = nullptr;
  kelsqi_ = nullptr;
  entries_.ReleaseAll();
  teilmodellklasse::ReleaseMemory();
}

} // namespace tavro
