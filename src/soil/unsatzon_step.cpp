// Soil-water module: the step of one call. The column solver over the
// rows of the strip (one workspace per thread, the cell cases of wholly
// glacierized cells and of cells that are not computed), the copy to the
// members of response units, the step's statistics and the output grids.
#include "soil/unsatzon_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "soil/cell_dumper.h"
#include "soil/column/soil_hydraulics.h"
#include "soil/column_step.h"
#include "soil/river_record_book.h"
#include "tables/landuse_class.h"
#include "tables/soil_class.h"

#include <omp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <optional>

namespace tavro {
namespace {

constexpr int kLogOpenExitCode = 5;
constexpr const char *kReportLog = "modell_0.log";

// Appends the lines of cells that needed more than 100 iterations to the
// report log of rank 0, one whole line at a time.
class ReportLog final : public IterationReporter {
public:
  ReportLog(const ModelDate &date, ParallelErrors &errors, std::mutex &mutex)
      : date_(date), errors_(errors), mutex_(mutex) {}
  void SetCell(long row, long column) {
    row_ = row;
    column_ = column;
  }
  void Report(int iterations, double change) override {
    std::lock_guard lock(mutex_);
    std::FILE *file = std::fopen(kReportLog, "a");
    if (file == nullptr) {
      errors_.Record(kLogOpenExitCode, Concat("error opening log-file ", kReportLog));
      throw kLogOpenExitCode; // ends the cell loop; the entry is logged once after it
    }
    std::fprintf(file, "%2d.%2d., %2d h r=%3d, c=%3d : ziter=%3d, max_err = %lg \n",
                 static_cast<int>(date_.Day), static_cast<int>(date_.Month),
                 static_cast<int>(date_.Hour), static_cast<int>(row_), static_cast<int>(column_),
                 iterations, change);
    std::fclose(file);
  }

private:
  ModelDate date_;
  ParallelErrors &errors_;
  std::mutex &mutex_;
  long row_ = 0;
  long column_ = 0;
};

double ValueOr(const Grid *grid, long row, long column, double otherwise) {
  return grid != nullptr ? (*grid)[row][column] : otherwise;
}

} // namespace

CellIteration unsatzonmodellklasse::SolverCells() const {
  SpinUpUnits units;
  if (SpinUpSwitch != 0) {
    units.UnitGrid = Links.HydrologicResponseUnits;
    units.MasterGrid = Links.MasterHydrologicResponseUnits;
    units.Units = HydrologicResponseUnits;
  }
  return CellIteration(StripCellsOf(*this, Links.Subbasins, units));
}

void unsatzonmodellklasse::ComputeTimeStep(long hour, long day, long month, long year) {
  if (FlowControl == 0)
    return;
  // BeginTimeStep announced the step; the date names the dump files.
  SetActualStep(hour, day, month, year);
  ++CallOfStep;
  SolveRows();
  ShareGroundwaterTracers();
  CopyMasterHRUStates();
  AddStepStatistics();
  StopIfNotFinite(AddStepRunoffToZones());
  RecordControlPoint();
}

void unsatzonmodellklasse::EnsureColumnParameters() {
  if (!columnParameters_.empty() || SoilTable == nullptr)
    return;
  columnParameters_.resize(SoilTable->Count() + 1);
  for (std::size_t i = 1; i <= SoilTable->Count(); ++i)
    if ((*SoilTable)[i].LayerCount >= 1)
      columnParameters_[i] = std::make_unique<SoilColumnParameters>((*SoilTable)[i]);
}

void unsatzonmodellklasse::SolveRows() {
  EnsureColumnParameters();
  const int threads = std::max(1, omp_get_max_threads());
  std::vector<ColumnWorkspace> workspaces;
  workspaces.reserve(static_cast<std::size_t>(threads));
  for (int t = 0; t < threads; ++t)
    workspaces.emplace_back(MaxSoilLayers, LanduseLayerCount);
  PrepareHeat();
  const bool heatRuns = HeatRuns();
  std::vector<ColumnHeatWork> heatWorks;
  if (heatRuns) {
    heatWorks.reserve(static_cast<std::size_t>(threads));
    for (int t = 0; t < threads; ++t)
      heatWorks.emplace_back(MaxSoilLayers);
  }
  // The tracers of each thread's cell, with the cell that a floating-point
  // report names.
  struct ThreadTracers {
    ColumnTracers tracers;
    long row = 0;
    long column = 0;
  };
  std::vector<ThreadTracers> threadTracers(TracerCount > 0 ? static_cast<std::size_t>(threads) : 0);
  for (ThreadTracers &t : threadTracers) {
    t.tracers.Resize(TracerCount, MaxSoilLayers);
    t.tracers.report = [this, &t](int layer, int tracer, double top, double bottom,
                                  double interflow, double baseflow, double exfiltration) {
      ReportFPE(static_cast<int>(t.row), static_cast<int>(t.column), layer, tracer, top, bottom,
                interflow, baseflow, exfiltration);
    };
  }

  // Dump mode: a snapshot and the cell's land-use codes and transpiration
  // per thread; nothing without it.
  struct ThreadDump {
    DumpSnapshot snapshot;
    std::vector<double> landuseCodes;
    std::vector<double> transpiration;
  };
  std::vector<ThreadDump> threadDumps(DumpMode ? static_cast<std::size_t>(threads) : 0);
  for (ThreadDump &d : threadDumps) {
    d.snapshot.Resize(MaxSoilLayers, LanduseLayerCount);
    d.landuseCodes.assign(static_cast<std::size_t>(LanduseLayerCount) + 1, 0.0);
    d.transpiration.assign(static_cast<std::size_t>(LanduseLayerCount) + 1, 0.0);
  }
  CellDumpContext dumpBase;
  if (DumpMode) {
    const ModelDate today = ActualDate();
    const int calls = std::max(1, SubstepCount);
    dumpBase.place.call = calls > 1 ? (std::max(1, CallOfStep) - 1) % calls + 1 : 0;
    dumpBase.place.year = today.Year;
    dumpBase.place.month = today.Month;
    dumpBase.place.day = today.Day;
    dumpBase.place.hour = today.Hour;
    dumpBase.stepDate = {static_cast<int>(today.Hour), static_cast<int>(today.Day),
                         static_cast<int>(today.Month), static_cast<int>(today.Year)};
    dumpBase.maxLayers = MaxSoilLayers;
    dumpBase.landuseLayers = LanduseLayerCount;
    dumpBase.options = DumpOptions{CloseAfterDump, RepairAfterDump};
  }

  ColumnStepSettings settings;
  settings.methode = Config.methode;
  settings.dParameterMinStep = Config.dParameterMinStep;
  settings.substeps = std::max(1, SubstepCount);
  settings.intervalMinutes = TimeStep;
  settings.maxError = Config.Tuning.max_error;
  settings.maxIterations = static_cast<int>(Config.Tuning.max_iterations);
  settings.ksatClay = Config.ksat_clay;
  settings.reducedKsat = Config.ReducedKsat;
  settings.cellSize = CellSize;
  settings.noData = NoData;
  settings.siltingUpIsStorage = Links.SiltingUpIsStorage != 0;
  settings.lakeFlowControl = LakeFlowControl;
  settings.groundwaterCoupled = GroundwaterCoupling != 0;
  settings.surfaceInteraction = Config.surface_interaction;
  settings.externalTable = ExternalGWTableApplied;

  SoilWaterGrids &g = Grids;
  const SubbasinParameters &subbasins = Config.Subbasins;
  ParallelErrors errors;
  std::mutex reportMutex;
  const ModelDate date = ActualDate();
  const bool reports = MPIRank == 0;

  // Output grids of a cell that is wholly glacier: nothing moves.
  auto zeroGlacierCell = [&](long r, long c) {
    for (Grid *grid :
         {&g.DrainageFlow.Values, &g.InfiltrationExcess.Values, &g.TotalInfiltration.Values,
          &g.DirectFlow.Values, &g.Interflow.Values, &g.Percolation.Values,
          &g.CapillarUprise.Values, &g.GroundwaterRecharge.Values, &g.MacroporeInfiltration.Values,
          &g.NumberOfSubsteps.Values, &g.Baseflow.Values, &g.RiverInfiltration.Values,
          &g.RiverExfiltration.Values}) {
      if (grid->HasRow(r))
        (*grid)[r][c] = 0.0;
    }
    if (g.Ponding.Values.HasRow(r))
      g.Ponding.Values[r][c] = 0.0;
    for (Grid *grid : Links.RealTranspiration)
      (*grid)[r][c] = 0.0;
    (*Links.RealEvaporation)[r][c] = 0.0;
  };

  const bool coupledRivers = GroundwaterCoupling != 0 && Links.RiverDepth != nullptr &&
                             Links.RiverWidth != nullptr && Links.Kolmation != nullptr;
  const bool riverTakers = RiverCellsTakeWater();
  if (riverTakers)
    CheckRiverLinks();

  auto isControlCell = [this](long r, long c) {
    return HasControlPoint && SpinUpSwitch == 0 && r == Config.control_row &&
           c == Config.control_column;
  };

  auto solveCell = [&](long r, long c, std::size_t thread, RiverRecordBook *riverBook) {
    const double glacier =
        Links.Glacier != nullptr ? std::clamp((*Links.Glacier)[r][c], 0.0, 1.0) : 0.0;
    ColumnWorkspace &work = workspaces[thread];
    if (glacier >= 1.0) {
      zeroGlacierCell(r, c);
      ClearCellTracers(r, c);
      if (isControlCell(r, c)) {
        // Nothing moved: the details are zeros, the other data the zeroed grids.
        ColumnStepOutputs &nothing = work.outputs;
        nothing.Clear();
        RecordControlCellDetails(nothing.lastTranspiration, nothing.lastInterflow, 0.0);
      }
      return;
    }
    const soil_class *soil = SoilOf(r, c);
    if (soil == nullptr)
      return;
    const auto soilIndex = static_cast<std::size_t>(std::lround((*Links.SoilTypes)[r][c]));
    if (!columnParameters_[soilIndex])
      return; // a soil type without layers holds no column
    const ColumnGeometry &geometry = columnParameters_[soilIndex]->Geometry();
    const auto rank = static_cast<std::size_t>(ZoneIndexOf(*this, (*Links.Subbasins)[r][c]));

    std::vector<LanduseLayerValues> &layers = work.landuse;
    for (int l = 1; l <= LanduseLayerCount; ++l) {
      const auto li = static_cast<std::size_t>(l);
      const LanduseLayerLinks &links = Links.Layers[li];
      LanduseLayerValues &v = layers[li];
      const double code = (*links.Landuse)[r][c];
      v.valid = code != NoData && code >= 1.0 && LanduseTable != nullptr &&
                code <= static_cast<double>(LanduseTable->Count());
      if (!v.valid)
        continue;
      const landuse_class &record = (*LanduseTable)[static_cast<std::size_t>(std::lround(code))];
      v.potentialTranspiration = (*Links.PotentialTranspiration[li])[r][c];
      v.coverage = (*links.VegetationCover)[r][c];
      v.rootDepth = (*links.RootDepth)[r][c];
      v.rootDist = record.GetRootDist();
      v.hReduDry = record.GetHReduDry();
      v.tReduWet = record.GetTReduWet();
      v.limitReduWet = record.GetLimitReduWet();
    }

    ColumnCellInputs in;
    in.landuse = layers;
    in.waterInput = ValueOr(Links.WaterInput, r, c, 0.0);
    in.potentialEvaporation = (*Links.PotentialEvaporation)[r][c];
    in.siltingUp = ValueOr(Links.SiltingUp, r, c, 0.0);
    in.snowStorage = ValueOr(Links.SnowStorageSolid, r, c, -1.0);
    in.maxPonding = ValueOr(Links.MaxPonding, r, c, 0.0);
    in.lakeCell = Links.LakeCodes != nullptr && (*Links.LakeCodes)[r][c] >= 0.0;
    in.clayDepth = Links.ClayDepth != nullptr ? (*Links.ClayDepth)[r][c] : 0.0;
    if (Links.DrainageDepth != nullptr) {
      in.drainageLevel = static_cast<int>(g.DrainageLevel.Values[r][c]);
      in.drainageDistance = (*Links.DrainageDistance)[r][c];
    }
    in.tanBeta = g.TangensBeta.Values[r][c];
    if (rank >= 1) {
      in.snowRunoffFraction = subbasins.SnowRunoff_fraction[rank];
      in.drainageDensity = subbasins.DrainageDensity[rank];
      in.maxBaseflow = subbasins.MaxBaseflow[rank];
      in.invKelsqlat = subbasins.InvKelsqlat[rank];
    }
    in.thawDepth = ValueOr(Links.PermafrostThawDepth, r, c, NoData);
    in.baseflowRate = g.Baseflow.Values[r][c];
    RiverCell river;
    if (coupledRivers) {
      river = RiverCellOf(r, c);
      in.river = &river;
      in.riverBook = riverBook;
    }

    ColumnCellState cell;
    cell.ponding = in.maxPonding > 0.0 ? g.Ponding.Values[r][c] : 0.0;
    cell.groundwaterDistance = g.GroundwaterDistance.Values[r][c];
    cell.groundwaterLevel = g.GroundwaterLevel.Values[r][c];
    cell.thetaInGwLevel = g.ThetaInGwLevel.Values[r][c];

    const auto levels = static_cast<std::size_t>(MaxSoilLayers) + 1;
    const ColumnStacks stacks{{g.Theta.Levels[r][c], levels},
                              {g.GeodeticHeads.Levels[r][c], levels},
                              {g.HydraulicHeads.Levels[r][c], levels},
                              {g.QDown.Levels[r][c], levels}};
    ReportLog report(date, errors, reportMutex);
    report.SetCell(r, c);
    ColumnHeatContext heat;
    if (heatRuns) {
      heat.cell = HeatCellOf(r, c, soilIndex, *soil);
      heat.settings = &heatSettings_;
      heat.work = &heatWorks[thread];
    }
    ColumnTracers *tracers = nullptr;
    if (!threadTracers.empty()) {
      ThreadTracers &own = threadTracers[thread];
      own.row = r;
      own.column = c;
      tracers = &own.tracers;
      FillColumnTracers(*tracers, r, c, riverBook != nullptr ? &riverBook->Record() : nullptr);
    }
    CellDumpContext dumpContext;
    std::optional<CellDumper> dumper;
    if (!threadDumps.empty()) {
      ThreadDump &own = threadDumps[thread];
      for (int l = 0; l <= LanduseLayerCount; ++l) {
        const auto li = static_cast<std::size_t>(l);
        own.transpiration[li] = (*Links.RealTranspiration[li])[r][c];
        if (l >= 1)
          own.landuseCodes[li] = (*Links.Layers[li].Landuse)[r][c];
      }
      dumpContext = dumpBase;
      dumpContext.place.row = static_cast<int>(r);
      dumpContext.place.column = static_cast<int>(c);
      dumpContext.soilType = static_cast<int>(soilIndex);
      dumpContext.landuseCodes = own.landuseCodes;
      dumpContext.transpiration = own.transpiration;
      dumpContext.airTemperature = heatRuns ? heat.cell.airT : 0.0;
      dumper.emplace(dumpContext, own.snapshot, *Log, errors);
    }
    ColumnStep(SoilTableHydraulics(*soil), geometry, settings, in, cell, stacks, work,
               reports ? &report : nullptr, heatRuns ? &heat : nullptr, tracers,
               dumper ? &*dumper : nullptr);
    if (tracers != nullptr)
      StoreColumnTracers(*tracers, r, c);
    if (heatRuns) {
      g.ThawDepth.Values[r][c] = heat.thaw.thawDepth;
      if (GroundwaterCoupling != 0)
        g.FrozenSoilInGroundwater.Values[r][c] = heat.thaw.frozenInGroundwater;
    }

    // Grids of the cell.
    const ColumnStepOutputs &o = work.outputs;
    work.iterations += o.iterations;
    if (in.maxPonding > 0.0) {
      g.Ponding.Values[r][c] = cell.ponding;
      if (g.PondEvaporation.Index != 0) {
        g.PondEvaporation.Values[r][c] += o.pondEvaporation;
        g.PondExchange.Values[r][c] += o.pondExchange;
        g.PondOverflow.Values[r][c] += o.pondOverflow;
      }
    }
    g.GroundwaterDistance.Values[r][c] = cell.groundwaterDistance;
    g.GroundwaterLevel.Values[r][c] = cell.groundwaterLevel;
    g.ThetaInGwLevel.Values[r][c] = cell.thetaInGwLevel;
    if (Links.DrainageDepth != nullptr)
      g.DrainageFlow.Values[r][c] = o.drainage;
    g.DirectFlow.Values[r][c] = o.directflow;
    g.Interflow.Values[r][c] = o.interflow;
    g.MacroporeInfiltration.Values[r][c] = o.macropore;
    g.GroundwaterRecharge.Values[r][c] = o.recharge;
    g.Percolation.Values[r][c] = o.percolation;
    g.CapillarUprise.Values[r][c] = o.capillaryRise;
    g.InfiltrationExcess.Values[r][c] = o.infiltrationExcess;
    g.TotalInfiltration.Values[r][c] = o.totalInfiltration;
    if (GroundwaterCoupling != 0) {
      g.RiverInfiltration.Values[r][c] = o.riverInfiltration;
      g.RiverExfiltration.Values[r][c] = o.riverExfiltration;
    }
    if (IrrigationTable != nullptr)
      g.IrrigationAmounts.Values[r][c] = 0.0;
    if (Config.methode == 3)
      g.NumberOfSubsteps.Values[r][c] = o.internalSteps;
    for (int l = 0; l <= LanduseLayerCount; ++l)
      (*Links.RealTranspiration[static_cast<std::size_t>(l)])[r][c] +=
          o.realTranspiration[static_cast<std::size_t>(l)];
    (*Links.RealEvaporation)[r][c] += o.soilEvaporation;
    g.SB1.Values[r][c] = o.sb1;
    g.MeanThetaInRootZone.Values[r][c] = o.meanSuction;
    g.SB2.Values[r][c] = o.sb2;
    g.Root.Values[r][c] = o.root;
    if (Links.GwStorageCoefficient != nullptr)
      (*Links.GwStorageCoefficient)[r][c] = o.storageCoefficient;
    g.Baseflow.Values[r][c] = o.baseflow;
    // Only the thread of the control cell gets here (not with response units).
    if (isControlCell(r, c))
      RecordControlCellDetails(o.lastTranspiration, o.lastInterflow, o.lastInfiltration);
    if (IrrigationTable != nullptr && Links.Etr2Etp != nullptr) {
      double real = 0.0;
      double potential = 0.0;
      for (int l = 1; l <= LanduseLayerCount; ++l) {
        real += (*Links.RealTranspiration[static_cast<std::size_t>(l)])[r][c];
        potential += (*Links.PotentialTranspiration[static_cast<std::size_t>(l)])[r][c];
      }
      const bool stressed = g.SBHigh.Values[r][c] > g.SB1.Values[r][c];
      (*Links.Etr2Etp)[r][c] = stressed && potential > 0.0 ? real / potential : 1.0;
    }
  };

  // Cells that may take river water wait for the loop: a river gives no more
  // than it carries, to its cells in row and column order.
  const CellIteration cells = SolverCells();
  try {
    cells.ForEachCell([&](long r, long c) {
      if (!riverTakers || !MayTakeRiverWater(r, c))
        solveCell(r, c, static_cast<std::size_t>(omp_get_thread_num()), nullptr);
    });
  } catch (int code) {
    errors.ThrowIfAny(*Log); // the report log's entry, logged once
    throw;
  }
  // surface_interaction 2 runs on one process only (the configuration
  // refuses it with more), so this order is the raster's.
  if (riverTakers) {
    try {
      for (long r = cells.FirstRow(); r <= cells.LastRow(); ++r) {
        const RowColumnRange range = cells.Columns(r);
        for (long c = range.first; c <= range.last; ++c) {
          if (!cells.IsComputed(r, c) || !MayTakeRiverWater(r, c))
            continue;
          RiverRecordBook book(RiverRecordOf(r, c));
          solveCell(r, c, 0, &book);
        }
      }
    } catch (int code) {
      errors.ThrowIfAny(*Log); // the report log's entry, logged once
      throw;
    }
  }

  IterationsOfLastCall = 0;
  for (const ColumnWorkspace &work : workspaces)
    IterationsOfLastCall += work.iterations;

  // Every cell of the strip hands its surface flux to the grids beside the stack.
  for (long r = FirstRow; r <= LastRow; ++r) {
    const RowColumnRange range = RowRanges != nullptr
                                     ? (*RowRanges)[static_cast<std::size_t>(r)]
                                     : RowColumnRange{1, static_cast<std::int32_t>(NCols)};
    for (long c = range.first; c <= range.last; ++c) {
      const double surface = g.QDown.Levels[r][c][0];
      g.QDown.Plane[r][c] = surface;
      if (g.QDownExt.Values.HasRow(r))
        g.QDownExt.Values[r][c] = surface;
    }
  }
}

void unsatzonmodellklasse::CopyMasterHRUStates() {
  if (SpinUpSwitch == 0)
    return;
  SoilWaterGrids &g = Grids;
  std::vector<Grid *> grids;
  auto add = [&](Grid *grid) {
    if (grid != nullptr && grid->Allocated())
      grids.push_back(grid);
  };
  for (Grid *grid : {&g.Ponding.Values,
                     &g.DrainageLevel.Values,
                     &g.IrrigationAmounts.Values,
                     &g.MaxPumping.Values,
                     &g.ThawDepth.Values,
                     &g.FrozenSoilInGroundwater.Values,
                     &g.GroundwaterDistance.Values,
                     &g.GroundwaterLevel.Values,
                     &g.Baseflow.Values,
                     &g.DrainageFlow.Values,
                     &g.DirectFlow.Values,
                     &g.Interflow.Values,
                     &g.MacroporeInfiltration.Values,
                     &g.GroundwaterRecharge.Values,
                     &g.Percolation.Values,
                     &g.CapillarUprise.Values,
                     &g.InfiltrationExcess.Values,
                     &g.TotalInfiltration.Values,
                     &g.ThetaInGwLevel.Values,
                     &g.SB1.Values,
                     &g.SB2.Values,
                     &g.Root.Values,
                     &g.NumberOfSubsteps.Values,
                     &g.RiverInfiltration.Values,
                     &g.RiverExfiltration.Values})
    add(grid);
  add(Links.Etr2Etp);
  add(Links.WaterInput);
  add(Links.RealEvaporation);
  for (Grid *grid : Links.RealTranspiration)
    add(grid);
  if (Links.PermafrostThawDepth != nullptr)
    add(const_cast<Grid *>(Links.PermafrostThawDepth));
  if (Links.SiltingUp != nullptr)
    add(const_cast<Grid *>(Links.SiltingUp));
  const CellIteration cells = SolverCells();
  cells.CopyMasterResults(grids);
  std::vector<Stack *> stacks{&g.Theta.Levels, &g.GeodeticHeads.Levels, &g.HydraulicHeads.Levels,
                              &g.QDown.Levels};
  if (g.SoilTemperature.Levels.Allocated())
    stacks.push_back(&g.SoilTemperature.Levels);
  cells.CopyMasterResults(stacks);
}

} // namespace tavro
