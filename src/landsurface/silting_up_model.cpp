// Silting-up: construction (grids, section, statistics, output grids), the
// water input and the tracers, the step over the cells, flush and release.
#include "landsurface/silting_up_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/module_construction.h"
#include "kernel/tracer_info.h"
#include "raster/output/module_statistic.h"
#include "raster/parallel/cell_iteration.h"
#include "raster/parallel/collective_failure.h"
#include "raster/parallel/mpi_decomposition.h"
#include "raster/parallel/non_finite_water.h"
#include "tables/landuse_class.h"
#include "tables/multilayer_landuse.h"
#include "tables/soil_class.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace tavro {
namespace {

constexpr const char *kGridIdentifiers[SiltingUpGridCount] = {
    "SiltingUpDisposition", "RainPause", "KineticEnergy", "TimeSinceLastSoilTillage",
    "DirectRunoffSiltingUp"};
// Exit codes of a grid value that is no record of its table.
constexpr int kLanduseRecordExitCode = 31;
constexpr int kSoilRecordExitCode = 32;

std::string LayerName(const char *name, int layer) {
  char text[64];
  std::snprintf(text, sizeof text, "%s%d", name, layer);
  return text;
}

std::string TracerFluxName(int tracer, const char *module) {
  char name[128];
  std::snprintf(name, sizeof name, "concflux_tracer_%1d_%s", tracer, module);
  return name;
}

// The record number a grid value holds, 0 for none.
std::size_t RecordNumber(double value, std::size_t count) {
  if (!(value >= 1.0 && value <= static_cast<double>(count)))
    return 0;
  return static_cast<std::size_t>(std::lround(value));
}

} // namespace

siltingupclass::siltingupclass(int &error, const ModuleSettings &settings) try
    : teilmodellklasse(BeginModuleConstruction(error, settings, FixedName)),
      entries_(settings.Registry) {
  if (FlowControl == 0 || ZoneIndex == nullptr || Registry == nullptr) {
    // Off, or never configured: nothing to read or register.
    CloseModuleSection(*this);
    return;
  }
  Log->Entry(
      Concat("file siltingup, compiled at ", __DATE__, ", ", __TIME__, DiagnosticsLog::EndToken));
  LinkDecompositionGrids(*this);
  if (FindGrid("GlacierizedCells", false) > 0 || FindGrid("GlacierCodes", false) > 0)
    ThrowFatal(*Log, GlacierExitCode,
               "error: Silting-Up module cannot be used when glacier model is active. Remove "
               "grids for glacier codes and glaciated cell fractions from the grid list");
  FindInputGrids();
  section_ = ReadSiltingUpSection(*this);
  if (!CloseControlFile())
    ThrowFatal(*Log, CloseExitCode, Concat("error closing control file \"", ControlFileName, "\""));
  if (!section_.UsesExpressions())
    CheckSandOfTheCells();
  CreateStatistics();
  RegisterOutputGrids();
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

siltingupclass::~siltingupclass() = default;

// --- Construction -------------------------------------------------------------------

void siltingupclass::FindInputGrids() {
  // The cell loop takes the units from the registry; missing ones are fatal here.
  if (SpinUpSwitch != 0) {
    GetGridIndex("HydrologicResponseUnits");
    GetGridIndex("MasterHydrologicResponseUnits");
  }
  if (!(*Registry)[2].HasData())
    ThrowFatal(*Log, GridRegistry::NotFoundExitCode,
               Concat("the elevation model (registry entry 2) is not in memory, but ", ModuleName,
                      " needs it"));
  elevation_ = (*Registry)[2].Data;
  if (MultilayerTable != nullptr && MultilayerTable->Count() >= 1)
    layerCount_ = std::max(1, (*MultilayerTable)[1].LayerCount);
  const auto layers = static_cast<std::size_t>(layerCount_) + 1;
  landuse_.assign(layers, nullptr);
  vegetationCover_.assign(layers, nullptr);
  for (int k = 1; k <= layerCount_; ++k) {
    const auto i = static_cast<std::size_t>(k);
    landuse_[i] = (*Registry)[GetGridIndex(LayerName("landuse", k))].Data;
    vegetationCover_[i] =
        (*Registry)[GetGridIndex(LayerName("vegetation_coverage_degree", k))].Data;
  }
  soilTypes_ = (*Registry)[GetGridIndex("soil_types")].Data;
  surfaceStorage_ = (*Registry)[GetGridIndex("SurfStorSiltingUp")].Data;
}

// The built-in formulas raise 100 x sand to the powers D and F: a soil
// without sand among the module's cells would make them infinite.
void siltingupclass::CheckSandOfTheCells() const {
  const siltingup::MethodParameters &p = section_.parameters;
  const std::size_t soils = SoilTable != nullptr ? SoilTable->Count() : 0;
  int worst = 0; // smallest record number of a soil without sand
  if (p.D < 0.0 || p.F < 0.0) {
    const CellIteration cells(CellLoopSetup());
    for (long r = cells.FirstRow(); r <= cells.LastRow(); ++r) {
      const RowColumnRange range = cells.Columns(r);
      for (long c = range.first; c <= range.last; ++c) {
        if (!cells.IsValid(r, c) || !cells.IsOwned(r, c))
          continue;
        const std::size_t record = RecordNumber((*soilTypes_)[r][c], soils);
        if (record > 0 && (*SoilTable)[record].GrainSizeDist[0] == 0.0 &&
            (worst == 0 || static_cast<int>(record) < worst))
          worst = static_cast<int>(record);
      }
    }
  }
  // Every process ends with the same soil type: the smallest record of all.
  constexpr int kNone = std::numeric_limits<int>::max();
  const int agreed = kNone - AgreedExitCode(worst > 0 ? kNone - worst : 0);
  if (agreed == kNone)
    return;
  const soil_class &soil = (*SoilTable)[static_cast<std::size_t>(agreed)];
  ThrowFatal(*Log, NoSandExitCode,
             Concat("soil type ", soil.Code, " (", soil.Name, ") of cells of ", ModuleName,
                    " has no sand, but parameter D (", p.D, ") or F (", p.F,
                    ") is negative: (100 x sand) raised to it is infinite. Give the soil a sand "
                    "fraction or use method 3"));
}

void siltingupclass::CreateStatistics() {
  dispositionStatistics_ = std::make_unique<ModuleStatistic>(
      *this, Statistics, StatisticsCapacity,
      StatisticsFile{section_.dispositionStatistics.name, section_.dispositionStatistics.code},
      StatisticsDecimals, "Silting_up_disposition_", ModuleName);
  runoffStatistics_ = std::make_unique<ModuleStatistic>(
      *this, Statistics, StatisticsCapacity,
      StatisticsFile{section_.runoffStatistics.name, section_.runoffStatistics.code},
      StatisticsDecimals, "Direct_Discharge_Silting_Up", ModuleName);
}

// Five consecutive free entries: the first run of them in the registry.
void siltingupclass::RegisterOutputGrids() {
  int first = 0;
  for (int i = 1; i + SiltingUpGridCount - 1 <= GridRegistry::LastIndex && first == 0; ++i) {
    bool free = true;
    for (int k = 0; k < SiltingUpGridCount && free; ++k)
      free = (*Registry)[i + k].IsFree();
    if (free)
      first = i;
  }
  if (first == 0)
    ThrowFatal(*Log, NoFreeGridExitCode,
               Concat("no free grid left, allowed number of grids is (contact the author)",
                      GridRegistry::LastIndex + 1, "!"));
  const Grid *zone = BaseZoneGrid;
  for (int k = 0; k < SiltingUpGridCount; ++k) {
    Grid &grid = grids_[static_cast<std::size_t>(k)];
    const SiltingUpSection::FileAndCode &file = section_.grids[static_cast<std::size_t>(k)];
    if (section_.readStorage == 1 && k != RunoffGrid) {
      ReadGrid(file.name, grid, 0, true, true, 0.0, false, false, false, false);
    } else {
      grid = MakeStripGrid(*this);
      for (long r = FirstRow; r <= LastRow; ++r)
        for (long c = 1; c <= NCols; ++c)
          grid[r][c] = zone != nullptr && IsValidCell((*zone)[r][c], NoData) ? 0.0 : NoData;
    }
    gridIndex_[static_cast<std::size_t>(k)] = first + k;
    AddGrid(first + k, file.name, &grid, nullptr, 1, kGridIdentifiers[k], file.code, FirstRow,
            LastRow);
    entries_.Add(first + k);
  }
}

// --- Wiring ---------------------------------------------------------------------------

void siltingupclass::SelectWaterInput(bool interceptionFirst) {
  if (FlowControl == 0)
    return;
  interceptionFirst_ = interceptionFirst;
  if (waterInput_ != nullptr || Registry == nullptr)
    return;
  const std::string throughfall = LayerName("throughfall", 0);
  const int index = interceptionFirst
                        ? GetGridIndexOf3("snowcover_outflow", throughfall, "precipitation")
                        : GetGridIndexOf3(throughfall, "snowcover_outflow", "precipitation");
  waterInput_ = (*Registry)[index].Data;
  waterInputName_ = (*Registry)[index].Identifier;
}

void siltingupclass::InitTracerGrids(int &error, int tracerCount, OneBasedArray<TracerInfo> *info,
                                     StatisticsRegistry *registry, int capacity) {
  error = 0;
  if (FlowControl == 0)
    return;
  teilmodellklasse::InitTracerGrids(error, tracerCount, info, registry, capacity);
  if (error != 0)
    throw error;
  tracerInput_.assign(static_cast<std::size_t>(TracerCount) + 1, nullptr);
  for (int t = 1; t <= TracerCount; ++t) {
    const int index =
        GetGridIndexOf4(TracerFluxName(t, "interception_model"), TracerFluxName(t, "snow_model"),
                        TracerFluxName(t, "irrigation"), TracerFluxName(t, "input"));
    tracerInput_[static_cast<std::size_t>(t)] = (*Registry)[index].Data;
  }
}

// --- The step ---------------------------------------------------------------------------

void siltingupclass::ComputeTimeStep(long hour, long day, long month, long year) {
  teilmodellklasse::ComputeTimeStep(hour, day, month, year);
  if (FlowControl == 0 || !grids_[RunoffGrid].Allocated())
    return;
  if (waterInput_ == nullptr)
    SelectWaterInput(interceptionFirst_);
  if (!surfaceRoutingLookedUp_) {
    // The surface routing, built after this module, registers this grid when on.
    surfaceRouting_ = FindGrid("SurfaceRoutingWeights", false) > 0;
    surfaceRoutingLookedUp_ = true;
  }
  (*dispositionStatistics_)->ResetStep();
  (*runoffStatistics_)->ResetStep();
  for (TracerRecord &record : TracerRecords)
    if (record.Statistics)
      record.Statistics->ResetStep();
  const StepDate date{static_cast<int>(day), static_cast<int>(month), static_cast<int>(year)};
  // Every process learns whether any failed, so none waits in the
  // statistics for one that has stopped.
  ThrowIfAnyFailed(*Log, CaptureExitCode([&] { RunCells(date); }));
  StopIfNotFinite(CompleteStep());
  (*dispositionStatistics_)->EndOfStep(year, month, day, hour, 1);
  (*runoffStatistics_)->EndOfStep(year, month, day, hour, 1);
  WriteOutput();
}

void siltingupclass::RunCells(const StepDate &date) {
  if (section_.UsesExpressions()) {
    const auto threads = static_cast<std::size_t>(std::max(1, omp_get_max_threads()));
    while (evaluators_.size() < threads)
      evaluators_.push_back(std::make_unique<siltingup::ExpressionEvaluator>(section_.expressions));
  }
  ParallelErrors cellErrors;
  cellErrors_ = &cellErrors;
  const CellIteration cells(CellLoopSetup());
  try {
    cells.ForEachCell([&](long r, long c) {
      siltingup::ExpressionEvaluator *evaluator =
          evaluators_.empty() ? nullptr
                              : evaluators_[static_cast<std::size_t>(omp_get_thread_num())].get();
      ComputeCell(r, c, date, evaluator);
    });
  } catch (int) {
    cellErrors_ = nullptr;
    // A failed cell is logged here, once, by the calling thread.
    cellErrors.ThrowIfAny(*Log);
    throw;
  }
  cellErrors_ = nullptr;
  Grid *results[] = {surfaceStorage_,     &grids_[TillageGrid],     &grids_[RainPauseGrid],
                     &grids_[EnergyGrid], &grids_[DispositionGrid], waterInput_,
                     &grids_[RunoffGrid]};
  cells.CopyMasterResults(results);
}

const landuse_class &siltingupclass::LanduseRecord(long row, long column) const {
  const double code = (*landuse_[1])[row][column];
  const std::size_t record =
      RecordNumber(code, LanduseTable != nullptr ? LanduseTable->Count() : 0);
  if (record == 0)
    CellFailed(kLanduseRecordExitCode,
               Concat(ModuleName, ": the land use ", code, " of layer 1 in cell (", row, ", ",
                      column, ") is no record of the land-use table"));
  return (*LanduseTable)[record];
}

const soil_class &siltingupclass::SoilRecord(long row, long column) const {
  const double code = (*soilTypes_)[row][column];
  const std::size_t record = RecordNumber(code, SoilTable != nullptr ? SoilTable->Count() : 0);
  if (record == 0)
    CellFailed(kSoilRecordExitCode, Concat(ModuleName, ": the soil type ", code, " in cell (", row,
                                           ", ", column, ") is no record of the soil table"));
  return (*SoilTable)[record];
}

int siltingupclass::ZoneOfCell(long row, long column) const {
  return ZoneIndexOf(*this, (*BaseZoneGrid)[row][column]);
}

// Residue cover of the first layer's land use and the vegetation cover of
// the top layer (the highest whose land use is a record of the table: a
// missing layer holds nodata or -9999, whatever the nodata value), at most 1.
double siltingupclass::CellCover(const landuse_class &record, long row, long column,
                                 const StepDate &date) const {
  int top = 1;
  for (int k = layerCount_; k >= 1; --k)
    if (RecordNumber((*landuse_[static_cast<std::size_t>(k)])[row][column], LanduseTable->Count()) >
        0) {
      top = k;
      break;
    }
  const double residue =
      record.GetSRResidCovrg(*Log, date.day, date.month, date.year, 1, static_cast<int>(row),
                             static_cast<int>(column), (*elevation_)[row][column]);
  return std::min(1.0, residue + (*vegetationCover_[static_cast<std::size_t>(top)])[row][column]);
}

void siltingupclass::ComputeCell(long row, long column, const StepDate &date,
                                 siltingup::ExpressionEvaluator *evaluator) {
  using namespace siltingup;
  double &input = (*waterInput_)[row][column];
  double &storage = (*surfaceStorage_)[row][column];
  if (!surfaceRouting_)
    storage = 0.0;
  AddTracerInput(row, column, input, storage);

  const landuse_class &landuse = LanduseRecord(row, column);
  const std::span<const int> tillage = landuse.GetSoilTillage();
  const double cover = CellCover(landuse, row, column, date);
  const soil_class &soil = SoilRecord(row, column);
  const double texture = TextureValue(soil.GrainSizeDist);
  const double sand = soil.GrainSizeDist[0];

  double &sinceTillage = grids_[TillageGrid][row][column];
  sinceTillage =
      TimeSinceTillage(landuse.DayOfYear(*Log, date.day, date.month, date.year), tillage);
  const double dt = TimeStep;
  const double intensity = RainIntensity(input, dt);
  double &pause = grids_[RainPauseGrid][row][column];
  pause = RainPauseAfter(pause, intensity, dt);

  double &energy = grids_[EnergyGrid][row][column];
  double &disposition = grids_[DispositionGrid][row][column];
  EnergyStep step;
  step.sinceTillage = sinceTillage;
  step.intensity = intensity;
  step.cover = cover;
  step.dtMinutes = dt;
  step.minimumPause = section_.minimumPause[static_cast<std::size_t>(ZoneOfCell(row, column))];
  step.rainPause = pause;
  double capacity = 0.0;
  if (evaluator == nullptr) {
    const MethodParameters &p = section_.parameters;
    const double finalRate = FinalInfiltrationRate(p, texture, sand);
    step.energyFactor = RainEnergyFactor(intensity);
    disposition = Disposition(p, texture, sand, sinceTillage);
    energy = KineticEnergyAfter(energy, step);
    capacity = InfiltrationCapacity(p.A, finalRate, disposition, energy, dt);
  } else {
    ExpressionInputs inputs;
    inputs.parameters = &soil.SU_PAR;
    inputs.texture = texture;
    inputs.sand = sand;
    inputs.clay = soil.GrainSizeDist[2];
    inputs.silt = soil.GrainSizeDist[1];
    inputs.sinceTillage = sinceTillage;
    inputs.intensity = intensity;
    inputs.energy = energy;
    inputs.dtMinutes = dt;
    capacity = FormulaCapacity(row, column, inputs, step, *evaluator);
  }

  const WaterSplit split = SplitWater(input, storage, capacity, HasTillage(tillage));
  storage = split.water;
  grids_[RunoffGrid][row][column] = split.directRunoff;
  input = split.infiltrating;
  ExportTracers(row, column, split.directRunoff, storage);
}

double siltingupclass::FormulaCapacity(long row, long column,
                                       const siltingup::ExpressionInputs &inputs,
                                       siltingup::EnergyStep step,
                                       siltingup::ExpressionEvaluator &evaluator) {
  double &energy = grids_[EnergyGrid][row][column];
  double &disposition = grids_[DispositionGrid][row][column];
  double capacity = 0.0;
  if (!evaluator.FirstPass(inputs, disposition, step.energyFactor))
    FormulaFailed(evaluator);
  energy = siltingup::KineticEnergyAfter(energy, step);
  if (!evaluator.SecondPass(energy, capacity))
    FormulaFailed(evaluator);
  evaluator.Clear();
  return capacity;
}

void siltingupclass::FormulaFailed(const siltingup::ExpressionEvaluator &evaluator) const {
  const siltingup::ExpressionEvaluator::Failure &failure = evaluator.LastFailure();
  CellFailed(ExpressionExitCode,
             Concat("\n-----------------error------------\nin instance ", ModuleName,
                    "\nexpression ", failure.formula, " could not be parsed correctly. ",
                    "Parser message: ", failure.message));
}

void siltingupclass::CellFailed(int exitCode, const std::string &message) const {
  if (cellErrors_ == nullptr)
    ThrowFatal(*Log, exitCode, message);
  cellErrors_->Record(exitCode, message);
  throw exitCode;
}

void siltingupclass::AddTracerInput(long row, long column, double input, double storage) {
  for (int t = 1; t <= TracerCount; ++t) {
    const auto i = static_cast<std::size_t>(t);
    TracerRecord &record = TracerRecords[i];
    const TracerInfo &info = (*TracerInfoTable)[i];
    double &stored = record.StorageGrid[row][column];
    if (info.radioactive != 0)
      stored *= record.DecayFactor;
    const double concentration = tracerInput_[i] != nullptr ? (*tracerInput_[i])[row][column] : 0.0;
    stored =
        siltingup::TracerAfterInput(stored, input, concentration, storage, info.evaporating != 0);
  }
}

void siltingupclass::ExportTracers(long row, long column, double directRunoff, double storage) {
  for (int t = 1; t <= TracerCount; ++t) {
    const auto i = static_cast<std::size_t>(t);
    TracerRecord &record = TracerRecords[i];
    const TracerInfo &info = (*TracerInfoTable)[i];
    double &stored = record.StorageGrid[row][column];
    double &outflow = record.FluxGrid[row][column];
    const siltingup::TracerExport out = siltingup::ExportTracer(
        stored, directRunoff, storage, info.max_conc, info.evaporating != 0, outflow);
    stored = out.stored;
    outflow = out.outflowConcentration;
  }
}

// The statistics and the step's balance take every valid own cell, unit
// members included, one at a time in the order of the raster.
double siltingupclass::CompleteStep() {
  balance_ = StepBalance();
  double dispositionSum = 0.0;
  const CellIteration cells(CellLoopSetup());
  const Grid &disposition = grids_[DispositionGrid];
  const Grid &runoff = grids_[RunoffGrid];
  for (long r = cells.FirstRow(); r <= cells.LastRow(); ++r) {
    const RowColumnRange range = cells.Columns(r);
    for (long c = range.first; c <= range.last; ++c) {
      if (!cells.IsValid(r, c) || !cells.IsOwned(r, c))
        continue;
      const int zone = ZoneOfCell(r, c);
      (*dispositionStatistics_)->AddValue(r, c, zone, disposition[r][c], 1.0);
      (*runoffStatistics_)->AddValue(r, c, zone, runoff[r][c], 1.0);
      // Tracers: the concentration of the runoff, weighted by the runoff.
      for (TracerRecord &record : TracerRecords)
        if (record.Statistics)
          record.Statistics->AddValue(r, c, zone, record.FluxGrid[r][c], runoff[r][c]);
      balance_.water += (*surfaceStorage_)[r][c];
      balance_.infiltrating += (*waterInput_)[r][c];
      balance_.directRunoff += runoff[r][c];
      dispositionSum += disposition[r][c];
    }
  }
  return dispositionSum;
}

void siltingupclass::StopIfNotFinite(double dispositionSum) const {
  const std::array<WaterGrid, 5> grids{{
      {"DirectRunoffSiltingUp", &grids_[RunoffGrid]},
      {"SurfStorSiltingUp", surfaceStorage_},
      {waterInputName_, waterInput_},
      {"SiltingUpDisposition", &grids_[DispositionGrid]},
      {"KineticEnergy", &grids_[EnergyGrid]},
  }};
  const double sum =
      balance_.water + balance_.infiltrating + balance_.directRunoff + dispositionSum;
  StopIfWaterNotFinite(*this, CellIteration(CellLoopSetup()), sum, grids);
}

void siltingupclass::WriteOutput() {
  for (const int index : gridIndex_) // in the order of SiltingUpGrid
    WriteGridOutput(index);
  for (TracerRecord &record : TracerRecords) {
    if (record.Statistics)
      record.Statistics->EndOfStep(ActualYear, ActualMonth, ActualDay, ActualHour, 1);
    WriteGridOutput(record.FluxGridIndex);
  }
}

// --- Flush and release ---------------------------------------------------------------

void siltingupclass::FlushStatistics() {
  if (FlowControl == 0 || !dispositionStatistics_)
    return;
  (*dispositionStatistics_)->FlushBuffer();
  (*runoffStatistics_)->FlushBuffer();
  for (TracerRecord &record : TracerRecords)
    if (record.Statistics)
      record.Statistics->FlushBuffer();
}

void siltingupclass::FinishTracerGrids() {
  if (FlowControl != 0)
    teilmodellklasse::FinishTracerGrids();
}

void siltingupclass::ReleaseMemory() {
  if (!released_ && FlowControl > 0) {
    for (auto *table : {&dispositionStatistics_, &runoffStatistics_})
      if (*table) {
        (**table)->ReleaseMemory();
        table->reset();
      }
    for (const SiltingUpGrid grid :
         {DispositionGrid, RainPauseGrid, RunoffGrid, EnergyGrid, TillageGrid})
      entries_.Release(gridIndex_[grid]);
    for (Grid &grid : grids_)
      grid = Grid();
    evaluators_.clear();
    released_ = true;
  }
  teilmodellklasse::ReleaseMemory();
}

} // namespace tavro
