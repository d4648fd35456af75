// Soil-water module: its tracers. The records, stacks and grids of every
// tracer at set-up with the initial concentrations and the tracer rows of
// Qg; per call the cell's tracer columns handed to the column step and its
// runoff tracers taken back; per step the tracer rows of the zone sums and
// the baseflow records (what the columns released), reduced exactly to
// rank 0, where the tracer rows of the runoff arrays are computed; then the
// concentration grids, the stacks and the tables; and the release.
#include "soil/unsatzon_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/tracer_concentration.h"
#include "kernel/tracer_info.h"
#include "raster/output/zonal_statistic.h"
#include "raster/parallel/collective_failure.h"
#include "soil/column/tracer_start_column.h"
#include "soil/column_tracers.h"

#include <mpi.h>

#include <algorithm>
#include <cmath>

namespace tavro {
namespace {

constexpr double kNoConcentration = 99999.0; // concentration grid without water in layer 1
constexpr const char *kInputModules[] = {"interception_model", "snow_model", "irrigation", "input"};

std::size_t At(int i) { return static_cast<std::size_t>(i); }

} // namespace

const ColumnGeometry *unsatzonmodellklasse::GeometryOf(long row, long column) const {
  if (Links.SoilTypes == nullptr || !Links.SoilTypes->HasRow(row))
    return nullptr;
  const long index = std::lround((*Links.SoilTypes)[row][column]);
  if (index < 1 || static_cast<std::size_t>(index) >= columnParameters_.size() ||
      !columnParameters_[static_cast<std::size_t>(index)])
    return nullptr;
  return &columnParameters_[static_cast<std::size_t>(index)]->Geometry();
}

int unsatzonmodellklasse::GroundwaterLayerOf(long row, long column) const {
  const int layer = static_cast<int>(Grids.GroundwaterLevel.Values[row][column]);
  return std::clamp(layer, 1, std::max(1, MaxSoilLayers));
}

double unsatzonmodellklasse::TracerInLayer(int tracer, long row, long column, int layer,
                                           double withoutWater) const {
  const SoilTracerGrids &s = SoilTracers[At(tracer)];
  const double stored = s.storage[row][column][layer];
  if (s.kind.evaporating)
    return stored;
  const ColumnGeometry *geometry = GeometryOf(row, column);
  const double theta = Grids.Theta.Levels[row][column][layer];
  if (geometry == nullptr || layer > geometry->layers || !(theta > 0.0))
    return withoutWater;
  return stored / (theta * 1000.0 * geometry->dz[At(layer)]);
}

// --- Set-up ------------------------------------------------------------------------

void unsatzonmodellklasse::CreateSoilTracers(OneBasedArray<TracerInfo> *info,
                                             StatisticsRegistry *registry, int capacity) {
  TracerInfoTable = info;
  SoilTracers.clear();
  SoilTracers.resize(At(TracerCount) + 1);
  if (TracerCount < 1)
    return;
  if (info == nullptr || info->Count() < At(TracerCount))
    ThrowFatal(*Log, OtherFailureExitCode,
               Concat("tracer grids of module ", ModuleName, ": the tracer description holds ",
                      info == nullptr ? 0 : info->Count(), " of ", TracerCount, " tracers"));
  if (Registry == nullptr || !Registry->TracerHooks.Installed())
    ThrowFatal(*Log, OtherFailureExitCode,
               Concat("tracer grids of module ", ModuleName,
                      ": the statistics of the raster code are not installed"));
  EnsureColumnParameters();
  TracerRecords = OneBasedArray<TracerRecord>(At(TracerCount));
  for (int t = 1; t <= TracerCount; ++t)
    CreateSoilTracer(t, (*info)[At(t)], registry, capacity);
}

void unsatzonmodellklasse::CreateSoilTracer(int t, const TracerInfo &info,
                                            StatisticsRegistry *registry, int capacity) {
  TracerRecord &record = TracerRecords[At(t)];
  SoilTracerGrids &s = SoilTracers[At(t)];
  // The decay of one call; the column step spreads it over its internal steps.
  const double callMinutes = TimeStep / std::max(1, SubstepCount);
  record.DecayFactor = info.radioactive == 1 ? TracerDecayFactor(callMinutes, info.half_time) : 1.0;
  s.kind =
      SoluteKind{info.evaporating == 1, info.radioactive == 1, info.max_conc, record.DecayFactor};

  record.ZoneConcentrations.assign(At(ZoneCount) + 1, ZoneRecord{});
  for (int k = 0; k <= ZoneCount; ++k) {
    record.ZoneConcentrations[At(k)].zonenwert = subbasinTable_[At(k)].zonenwert;
    record.ZoneConcentrations[At(k)].rel = subbasinTable_[At(k)].rel;
  }
  record.StatisticsFileName = TracerFileName(info.path, info.name, ModuleName, info.statext);
  Registry->TracerHooks.CreateStatistics(*this, record, t, info, registry, capacity);

  auto flux = [&](const char *source) { return Concat("concflux_tracer_", t, "_", source); };
  const int input = GetGridIndexOf4(flux(kInputModules[0]), flux(kInputModules[1]),
                                    flux(kInputModules[2]), flux(kInputModules[3]));
  s.input = (*Registry)[input].Data;
  // A file that the control cell's process cannot create ends every process.
  ThrowIfAnyFailed(*Log, CaptureExitCode([&] {
    if (HasControlPoint)
      s.point = CreateTracerControlPointFile(
          *Log, TracerFileName(info.path, info.name, "point", info.statext),
          Concat("tracer concentration for tracer ", t, " (", info.name, ") "), Config.control_row,
          Config.control_column, MaxSoilLayers);
  }));

  const int entry = NextFreeEntry(1);
  if (entry == 0)
    ThrowFatal(*Log, GridRegistry::RegistryExitCode,
               Concat("no free grid left. please contact the author to set the number of grids "
                      "to a larger value ",
                      GridRegistry::LastIndex + 1));
  record.GridFileName = TracerFileName(info.path, info.name, ModuleName, info.gridext);
  if (Config.readgrids == 1) {
    const int levels = ReadStack(record.GridFileName, s.storage, false);
    if (levels != MaxSoilLayers)
      ThrowFatal(*Log, WrongLevelCountExitCode,
                 Concat("wrong number of levels in stack ", record.GridFileName, " (there are ",
                        levels, " levels, it must be ", MaxSoilLayers));
  } else {
    s.storage = NewStack(FirstRow, LastRow);
    FillStartTracers(s, info);
  }
  s.concentration = NewGrid(FirstRow, LastRow);
  ResetOwnGrid(s.concentration, 0.0);
  AddGrid(entry, record.GridFileName, &s.concentration, &s.storage, MaxSoilLayers,
          Concat("concstor_tracer_", t, "_", ModuleName), info.gridcode, FirstRow, LastRow);
  record.StorageGridIndex = entry;
  s.storageIndex = entry;

  s.siltingUp = nullptr; // linked at the first step (LinkSurfaceWaterTracers)

  // Each grid searches an entry of its own: the ones after the stack may be taken.
  auto runoffGrid = [&](Grid &grid, int &index, const std::string &identifier) {
    grid = NewGrid(FirstRow, LastRow);
    ResetOwnGrid(grid, 0.0);
    index = NextFreeEntry(entry + 1);
    if (index == 0)
      index = GridRegistry::LastIndex + 1; // refused by AddGrid with its entry (12)
    AddGrid(index, identifier, &grid, nullptr, 1, identifier, 0, FirstRow, LastRow);
  };
  runoffGrid(s.direct, s.directIndex, Concat("_CONC_QD_", t, "_"));
  runoffGrid(s.interflow, s.interflowIndex, Concat("_CONC_QI_", t, "_"));
  s.baseflow = NewGrid(FirstRow, LastRow);
  ResetOwnGrid(s.baseflow, 0.0);

  if (GroundwaterCoupling != 0) {
    s.groundwaterIndex = GetGridIndex(Concat("concstor_tracer_", t, "_layer_1_groundwater_flow"));
    s.groundwater = (*Registry)[s.groundwaterIndex].Data;
  }
  s.additionsQD = ZoneAdditions(ZonesQD);
  s.additionsQI = ZoneAdditions(ZonesQI);
  s.baseflowSums.assign(At(ZoneCount) + 1, ExactZoneSums{});
}

void unsatzonmodellklasse::FillStartTracers(SoilTracerGrids &s, const TracerInfo &info) {
  const auto levels = At(MaxSoilLayers) + 1;
  for (long r = FirstRow; r <= LastRow; ++r) {
    if (!s.storage.HasRow(r))
      continue;
    for (long c = 0; c <= NCols; ++c) {
      const std::span<double> column(s.storage[r][c], levels);
      const ColumnGeometry *geometry = c >= 1 ? GeometryOf(r, c) : nullptr;
      if (c < 1 || !IsValid(r, c) || !IsOwn(r, c) || geometry == nullptr) {
        std::fill(column.begin(), column.end(), NoData);
        continue;
      }
      std::fill(column.begin(), column.end(), 0.0);
      const std::span<const double> theta(Grids.Theta.Levels[r][c], levels);
      FillStartTracerColumn(s.kind, info.soilini, info.gwini,
                            static_cast<int>(Grids.GroundwaterLevel.Values[r][c]), geometry->layers,
                            theta, geometry->dz, column);
    }
  }
}

void unsatzonmodellklasse::LinkSurfaceWaterTracers() {
  // The water of the silting-up grid comes back whole, so its tracer must:
  // with the silting-up module on, at that module's outflow concentration;
  // else at the concentration surface routing keeps for the water it leaves
  // on the surface. Surface routing makes its grid after this module's
  // set-up, so the link is made once every module is set up.
  for (int t = 1; t <= TracerCount; ++t) {
    SoilTracerGrids &s = SoilTracers[At(t)];
    if (s.siltingUp != nullptr)
      continue;
    int found = FindGrid(Concat("concflux_tracer_", t, "_SiltingUpModel"), false);
    if (found == 0)
      found = FindGrid(Concat("concstor_tracer_", t, "_SiltingUpModel"), false);
    s.siltingUp = found > 0 ? (*Registry)[found].Data : nullptr;
  }
}

void unsatzonmodellklasse::ComputeInitialTracerRunoff() {
  if (TracerCount < 1)
    return;
  const int n = ZoneCount;
  std::vector<ExactZoneSums> sums(At(TracerCount) * (At(n) + 1));
  const Grid &baseflow = Grids.Baseflow.Values;
  CellIteration(StripCellsOf(*this, Links.Subbasins)).ForEachOwnCell([&](long r, long c) {
    const int k = ZoneIndexOf(*this, (*Links.Subbasins)[r][c]);
    if (k < 1)
      return;
    const int layer = GroundwaterLayerOf(r, c);
    const double w = CellWeight(r, c);
    const double b = baseflow[r][c];
    for (int t = 1; t <= TracerCount; ++t) {
      SoilTracerGrids &s = SoilTracers[At(t)];
      double conc = TracerInLayer(t, r, c, layer, 0.0);
      if (!s.kind.evaporating && s.kind.maxConc > 0.0)
        conc = std::min(conc, s.kind.maxConc);
      s.concentration[r][c] = conc;
      if (s.groundwater != nullptr)
        (*s.groundwater)[r][c] = conc;
      ExactZoneSums &sum = sums[At(t - 1) * (At(n) + 1) + At(k)];
      sum.sx.Add(w * b * conc);
      sum.n.Add(b);
      sum.RelCellSum.Add(w * b);
    }
  });
  ShareGroundwaterTracers();
  // The means of all processes' cells, the same for any process count.
  MPIReduceExactZones(sums);
  for (int t = 1; t <= TracerCount; ++t) {
    OneBasedArray<double> &qg = qg_.Components[At(t)];
    if (MPIRank == 0)
      for (int k = 1; k <= n; ++k) {
        const ExactZoneSums &sum = sums[At(t - 1) * (At(n) + 1) + At(k)];
        const double weight = sum.RelCellSum.ToDouble();
        qg[At(k)] = weight > 0.0 ? sum.sx.ToDouble() / weight : 0.0;
      }
    MPI_Bcast(qg.Data(), n + 1, MPI_DOUBLE, 0, MPI_COMM_WORLD);
  }
}

void unsatzonmodellklasse::ShareGroundwaterTracers() {
  // The aquifer's neighbours read the cells of the halo rows.
  for (SoilTracerGrids &s : SoilTracers)
    if (s.groundwater != nullptr)
      MPIExchangeHalo(s.groundwaterIndex, s.groundwater);
}

// --- The column step ------------------------------------------------------------------

void unsatzonmodellklasse::FillColumnTracers(ColumnTracers &tracers, long row, long column,
                                             const RiverflowRecord *river) const {
  const auto levels = At(MaxSoilLayers) + 1;
  tracers.aquiferThickness =
      Links.AquiferThickness != nullptr ? (*Links.AquiferThickness)[row][column] : 0.0;
  for (int t = 1; t <= TracerCount; ++t) {
    const SoilTracerGrids &s = SoilTracers[At(t)];
    const auto i = At(t);
    tracers.kinds[i] = s.kind;
    tracers.storage[i] = std::span<double>(s.storage[row][column], levels);
    tracers.inputConc[i] = s.input != nullptr ? (*s.input)[row][column] : 0.0;
    tracers.siltPresent[i] = s.siltingUp != nullptr ? 1 : 0;
    tracers.siltConc[i] = s.siltingUp != nullptr ? (*s.siltingUp)[row][column] : 0.0;
    // River water enters the layers at the concentration the routing left in
    // the record; a cell that cannot take river water never uses it.
    tracers.riverConc[i] = river != nullptr && i < river->flow_mm.size() ? river->flow_mm[i] : 0.0;
    tracers.groundwaterConc[i] = s.groundwater != nullptr ? (*s.groundwater)[row][column] : 0.0;
  }
}

void unsatzonmodellklasse::StoreColumnTracers(const ColumnTracers &tracers, long row, long column) {
  for (int t = 1; t <= TracerCount; ++t) {
    SoilTracerGrids &s = SoilTracers[At(t)];
    const auto i = At(t);
    const bool evaporating = s.kind.evaporating;
    s.direct[row][column] = tracers.direct[i].Value(evaporating);
    s.interflow[row][column] = tracers.interflow[i].Value(evaporating);
    // With coupling the baseflow feeds the aquifer and the river gets the exfiltration.
    const TracerCallSum &base =
        GroundwaterCoupling != 0 ? tracers.exfiltration[i] : tracers.baseflow[i];
    s.baseflow[row][column] = base.Value(evaporating);
    if (s.groundwater != nullptr)
      (*s.groundwater)[row][column] = tracers.groundwaterConc[i];
  }
}

void unsatzonmodellklasse::ClearCellTracers(long row, long column) {
  for (int t = 1; t <= TracerCount; ++t) {
    SoilTracers[At(t)].direct[row][column] = 0.0;
    SoilTracers[At(t)].interflow[row][column] = 0.0;
    SoilTracers[At(t)].baseflow[row][column] = 0.0;
  }
}

// --- Every call: the zone sums and baseflow records -------------------------------------

void unsatzonmodellklasse::AddCellTracersToZones(long r, long c, int k, int z, double a, double w) {
  const double direct = Grids.DirectFlow.Values[r][c];
  const double inter = Grids.Interflow.Values[r][c];
  const double base =
      GroundwaterCoupling != 0 ? Grids.RiverExfiltration.Values[r][c] : Grids.Baseflow.Values[r][c];
  for (int t = 1; t <= TracerCount; ++t) {
    SoilTracerGrids &s = SoilTracers[At(t)];
    const bool evaporating = s.kind.evaporating;
    // The water of the call weighs each row, so the D calls add up to a mean
    // concentration without a factor D.
    auto carried = [&](double flow, double value) {
      return evaporating ? a * flow * value * w : a * value * w;
    };
    auto add = [&](ZoneAdditions &additions, double flow, double value) {
      additions.Add(k, z, flow * w, carried(flow, value), a * flow * w);
    };
    add(s.additionsQD, direct, s.direct[r][c]);
    add(s.additionsQI, inter, s.interflow[r][c]);
    // The tracer the column released with its baseflow, so that the row
    // times the water row is what left the columns.
    if (base > 0.0) {
      ExactZoneSums &sum = s.baseflowSums[At(k)];
      sum.sx.Add(carried(base, s.baseflow[r][c]));
      sum.n.Add(base * w);
      sum.RelCellSum.Add(a * base * w);
    }
  }
}

// --- After the sub-steps ----------------------------------------------------------------

void unsatzonmodellklasse::AppendTracerSums(std::vector<ExactZoneSums> &batch) {
  for (int t = 1; t <= TracerCount; ++t) {
    SoilTracerGrids &s = SoilTracers[At(t)];
    for (std::span<ExactZoneSums> part :
         {s.additionsQD.All(), s.additionsQI.All(), std::span<ExactZoneSums>(s.baseflowSums)})
      batch.insert(batch.end(), part.begin(), part.end());
  }
}

std::size_t unsatzonmodellklasse::TakeTracerSums(std::span<const ExactZoneSums> reduced) {
  std::size_t next = 0;
  for (int t = 1; t <= TracerCount; ++t) {
    SoilTracerGrids &s = SoilTracers[At(t)];
    for (std::span<ExactZoneSums> part :
         {s.additionsQD.All(), s.additionsQI.All(), std::span<ExactZoneSums>(s.baseflowSums)}) {
      std::copy_n(reduced.begin() + static_cast<std::ptrdiff_t>(next), part.size(), part.begin());
      next += part.size();
    }
    s.additionsQD.AddTo(ZonesQD, t);
    s.additionsQI.AddTo(ZonesQI, t);
  }
  return next;
}

void unsatzonmodellklasse::ConcentrateTracerRows(int k, const TracerRowInputs &in) {
  const auto at = At(k);
  const double qd0 = qd_.Components[0][at];
  const double qi0 = qi_.Components[0][at];
  const double qdd0 = QDd.Components[0][at];
  const double qii0 = QIi.Components[0][at];
  const double qb0 = qbb_.Components[0][at];
  // The storage's tracer: what entered it mixed with what it held.
  auto stored = [](double inflow, double inflowConc, double previous, double previousConc,
                   double outflow, double a) {
    return outflow > 0.0 ? (inflow * inflowConc * (1.0 - a) + previous * previousConc * a) / outflow
                         : 0.0;
  };
  for (int t = 1; t <= TracerCount; ++t) {
    const auto i = At(t);
    const double qd = ZoneOutflow(ZonesQD.At(t, k, 1));
    qd_.Components[i][at] = qd;
    double &qdd = QDd.Components[i][at];
    qdd = stored(qd0, qd, in.previousQDd, qdd, qdd0, in.directFactor);
    const double qi = ZoneOutflow(ZonesQI.At(t, k, 1));
    qi_.Components[i][at] = qi;
    double &qii = QIi.Components[i][at];
    qii = stored(qi0, qi, in.previousQIi, qii, qii0, in.interflowFactor);
    const ExactZoneSums &base = SoilTracers[i].baseflowSums[at];
    const double weight = base.RelCellSum.ToDouble();
    const double e = weight > 0.0 ? base.sx.ToDouble() / weight : 0.0;
    qbb_.Components[i][at] = e;
    const double water = qb0 + qii0 + qdd0;
    qg_.Components[i][at] = water > 0.0 ? (e * qb0 + qii0 * qii + qdd0 * qdd) / water : 0.0;
  }
}

void unsatzonmodellklasse::EndTracerStep() {
  if (TracerCount < 1)
    return;
  const int n = ZoneCount;
  // Every process holds the rows rank 0 computed.
  for (int t = 1; t <= TracerCount; ++t)
    for (SubbasinRunoffArrays *arrays : {&qbb_, &qg_})
      MPI_Bcast(arrays->Components[At(t)].Data(), n + 1, MPI_DOUBLE, 0, MPI_COMM_WORLD);
  for (int t = 1; t <= TracerCount; ++t) {
    SoilTracerGrids &s = SoilTracers[At(t)];
    ForOwnCells([&](long r, long c) {
      s.concentration[r][c] = TracerInLayer(t, r, c, 1, kNoConcentration);
      if (!s.kind.evaporating && !(Grids.Theta.Levels[r][c][1] > 1e-4))
        s.concentration[r][c] = kNoConcentration;
    });
    WriteStackOutput(s.storageIndex);
    TracerRecord &record = TracerRecords[At(t)];
    if (record.Statistics) {
      // Rank 0 alone adds, so the reduced table shows its values once.
      if (MPIRank == 0)
        for (int k = 1; k <= n; ++k)
          record.Statistics->AddValue(0, 0, k, qg_.Components[At(t)][At(k)],
                                      subbasinTable_[At(k)].rel);
      record.Statistics->EndOfStep(ActualYear, ActualMonth, ActualDay, ActualHour, 1);
    }
    s.additionsQD.Clear();
    s.additionsQI.Clear();
    for (ExactZoneSums &sum : s.baseflowSums)
      sum.Clear();
  }
}

// --- Control point ---------------------------------------------------------------------------

void unsatzonmodellklasse::AppendTracerPointRecords(const ModelDate &date) {
  const long r = Config.control_row;
  const long c = Config.control_column;
  const ColumnGeometry *geometry = GeometryOf(r, c);
  for (int t = 1; t <= TracerCount; ++t) {
    SoilTracerGrids &s = SoilTracers[At(t)];
    if (!s.point)
      continue;
    std::vector<double> &values = pointValues_;
    values.assign(At(MaxSoilLayers) + 1, 0.0);
    for (int j = 1; j <= MaxSoilLayers; ++j) {
      const double stored = s.storage[r][c][j];
      const double theta = Grids.Theta.Levels[r][c][j];
      if (s.kind.evaporating)
        values[At(j)] = stored;
      else if (geometry != nullptr && j <= geometry->layers && theta > 1e-5)
        values[At(j)] = stored / (geometry->dz[At(j)] * 1000.0 * theta);
      else
        values[At(j)] = 1e9; // no water to hold it
    }
    AppendControlPointRecord(*s.point, date.Year, date.Month, date.Day, date.Hour, values.data(),
                             values.size());
  }
}

// --- End of the run -----------------------------------------------------------------------

void unsatzonmodellklasse::ReleaseSoilTracers() {
  // What the control cell recorded since the last write, once the set-up was complete.
  if (Initialized == 1)
    for (SoilTracerGrids &s : SoilTracers)
      if (s.point)
        WritePointRecords(*s.point, 1, MaxSoilLayers);
  for (SoilTracerGrids &s : SoilTracers)
    for (int *entry : {&s.directIndex, &s.interflowIndex}) {
      if (*entry > 0 && Registry != nullptr)
        ReleaseGrid(*entry);
      *entry = 0;
    }
  SoilTracers.clear();
}

} // namespace tavro
