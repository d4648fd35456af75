// Surface routing: the runoff concentration per subbasin. The flow-time
// zones are built once (zone numbers as the soil-water module left them in
// "flow_times"); every sub-step adds the river cells' water and the
// interflow to exact sums; ConcentrateRunoff reduces them to rank 0, where
// the zones, the two linear storages and Qg live.
#include "lateral/surface_routing.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/string_helpers.h"
#include "raster/output/zonal_statistic.h"
#include "raster/parallel/collective_failure.h"
#include "raster/parallel/zone_reduction.h"

#include <mpi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tavro {
namespace {

// Appends text to the log file of rank 0; false when it cannot be opened.
bool AppendToRankZeroLog(const std::string &text, std::string &name) {
  name = "modell_0.log";
  std::FILE *file = std::fopen(name.c_str(), "a");
  if (file == nullptr)
    return false;
  std::fputs(text.c_str(), file);
  std::fclose(file);
  return true;
}

} // namespace

void surfaceroutingclass::InitFlowTimeZones() {
  Log->Entry(Concat("looking for longest flow travel time", DiagnosticsLog::EndToken));
  const int n = std::max(ZoneCount, 0);
  MaxZone.assign(static_cast<std::size_t>(n) + 1, 1);
  MaxZone[0] = 0;
  const CellIteration cells(StripCellsOf(*this, Zone));
  if (FlowTimes != nullptr) {
    cells.ForEachOwnCell([&](long r, long c) {
      const int k = ZoneIndexOf(*this, (*Zone)[r][c]);
      if (k >= 1)
        MaxZone[static_cast<std::size_t>(k)] =
            std::max(MaxZone[static_cast<std::size_t>(k)], static_cast<int>((*FlowTimes)[r][c]));
    });
    MPI_Allreduce(MPI_IN_PLACE, MaxZone.data(), n + 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  }
  const int rows = TracerCount + 1;
  ZonesQD = FlowTimeZones(rows, MaxZone);
  ZonesQI = FlowTimeZones(rows, MaxZone);
  AdditionsQD.assign(static_cast<std::size_t>(rows), ZoneAdditions(ZonesQD));
  AdditionsQI.assign(static_cast<std::size_t>(rows), ZoneAdditions(ZonesQI));
  std::string name;
  if (FlowTimes == nullptr) {
    for (int row = 0; row < rows; ++row)
      for (int k = 1; k <= n; ++k)
        for (FlowTimeZones *zones : {&ZonesQD, &ZonesQI}) {
          zones->At(row, k, 1).rel = 1.0;
          zones->At(row, k, 1).zonenwert = 1.0;
        }
    if (MPIRank == 0 &&
        !AppendToRankZeroLog(
            "flow time distribution will not be calculated (no flow time grid provided)\n", name))
      Log->Entry(
          Concat("WARNING: log-file ", name, " could not be opened", DiagnosticsLog::EndToken));
    return;
  }
  Log->Entry(Concat(std::string(static_cast<std::size_t>(std::max(LastRow - FirstRow + 1, 0)), '.'),
                    DiagnosticsLog::EndToken));
  ZoneAdditions counts(ZonesQD);
  cells.ForEachOwnCell([&](long r, long c) {
    const int k = ZoneIndexOf(*this, (*Zone)[r][c]);
    const int z = static_cast<int>((*FlowTimes)[r][c]);
    if (k < 1 || z < 0)
      return;
    const double w = CellWeights != nullptr && CellWeights->HasRow(r) ? (*CellWeights)[r][c] : 1.0;
    counts.Add(k, z, w, 0.0, w);
  });
  MPIReduceExactZones(counts.All());
  counts.AddTo(ZonesQD);
  const std::span<ZoneRecord> all = ZonesQD.All();
  MPI_Bcast(all.data(), static_cast<int>(all.size() * 5), MPI_DOUBLE, 0, MPI_COMM_WORLD);
  CopyZoneCounts(ZonesQD, ZonesQI, n, MaxZone);
  const int flowIndex = FindGrid("flow_times", false);
  ShareZones(flowIndex != 0 ? (*Registry)[flowIndex].FileName : std::string("flow_times"));
  WeighZonesPerSubstep(ZonesQD, ZonesQI, SubstepCount, MPIRank);
}

void surfaceroutingclass::ShareZones(const std::string &flowFileName) {
  std::vector<int> codes(static_cast<std::size_t>(ZoneCount) + 1, 0);
  for (int k = 1; k <= ZoneCount; ++k)
    codes[static_cast<std::size_t>(k)] =
        static_cast<int>((*ZoneTable)[static_cast<std::size_t>(k)].zonenwert);
  const ZoneShareOutcome outcome =
      ShareSubbasinZones(ZonesQD, ZonesQI, codes, "Flow time distribution:\n", flowFileName);
  std::string name;
  if (MPIRank == 0 && !AppendToRankZeroLog(outcome.Report, name))
    Log->Entry(Concat("WARNING:warning: error opening log-file ", name, DiagnosticsLog::EndToken));
  // Every process holds the same counts, so every process stops alike.
  if (outcome.Failure != 0)
    ThrowFatal(*Log, outcome.Failure, outcome.Message);
}

void surfaceroutingclass::BeginTimeStep(long hour, long day, long month, long year) {
  teilmodellklasse::ComputeTimeStep(hour, day, month, year);
  if (FlowControl == 0)
    return;
  CheckWiring();
  for (auto &table : tables_)
    if (table)
      (*table)->ResetStep();
  for (int t = 1; t <= TracerCount; ++t)
    if (zonalstatistic *table = TracerTable(t))
      table->ResetStep();
  ZonesQD.Move();
  ZonesQI.Move();
}

// Zone 1 of one component through its linear storage (rank 0): the new
// outflow of water, and the tracer rows as flow-weighted concentrations.
double surfaceroutingclass::ConcentrateComponent(FlowTimeZones &zones, SubbasinRunoffArrays &inflow,
                                                 SubbasinRunoffArrays &outflow,
                                                 double storageMinutes, int k) {
  const auto at = static_cast<std::size_t>(k);
  const double in = ZoneOutflow(zones.At(0, k, 1));
  inflow.Components[0][at] = in;
  for (int r = 1; r <= TracerCount; ++r)
    inflow.Components[static_cast<std::size_t>(r)][at] = ZoneOutflow(zones.At(r, k, 1));
  const double a = std::exp(-TimeStep / storageMinutes);
  const double old = outflow.Components[0][at];
  const double next = LinearStorageOutflow(in, old, a);
  for (int r = 1; r <= TracerCount; ++r) {
    const auto row = static_cast<std::size_t>(r);
    double &c = outflow.Components[row][at];
    c = next > 0.0 ? (in * inflow.Components[row][at] * (1.0 - a) + old * c * a) / next : 0.0;
  }
  outflow.Components[0][at] = next;
  return next;
}

void surfaceroutingclass::ConcentrateRunoff(long, long, long, long) {
  if (FlowControl == 0)
    return;
  if (!qgCreated_)
    ThrowFatal(*Log, NotInitializedExitCode,
               "Qg (surface routing) not initialized (may be, tracer module not linked? -> "
               "programmers error!)");
  reductionBatch_.clear();
  for (std::vector<ZoneAdditions> *list : {&AdditionsQD, &AdditionsQI})
    for (ZoneAdditions &a : *list) {
      const std::span<ExactZoneSums> sums = a.All();
      reductionBatch_.insert(reductionBatch_.end(), sums.begin(), sums.end());
    }
  MPIReduceExactZones(reductionBatch_);
  if (MPIRank == 0) {
    auto next = reductionBatch_.begin();
    for (std::vector<ZoneAdditions> *list : {&AdditionsQD, &AdditionsQI})
      for (ZoneAdditions &a : *list) {
        const std::span<ExactZoneSums> sums = a.All();
        std::copy(next, next + static_cast<std::ptrdiff_t>(sums.size()), sums.begin());
        next += static_cast<std::ptrdiff_t>(sums.size());
      }
    for (int row = 0; row <= TracerCount; ++row) {
      AdditionsQD[static_cast<std::size_t>(row)].AddTo(ZonesQD, row);
      AdditionsQI[static_cast<std::size_t>(row)].AddTo(ZonesQI, row);
    }
    auto record = [&](int which, int k, double value) {
      if (ModuleStatistic *table = Table(which))
        (*table)->AddValue(0, 0, k, value, (*ZoneTable)[static_cast<std::size_t>(k)].rel);
    };
    for (int k = 1; k <= ZoneCount; ++k) {
      const auto at = static_cast<std::size_t>(k);
      const double qd = ConcentrateComponent(ZonesQD, QDInflow, QDd, kelsqd_->Values[at], k);
      record(0, k, qd);
      const double qi = ConcentrateComponent(ZonesQI, QIInflow, QIi, kelsqi_->Values[at], k);
      record(1, k, qi);
      const double qb = qbb_->Components[0][at];
      qg_.Components[0][at] = qd + qi + qb;
      record(2, k, qb);
      record(3, k, qg_.Components[0][at]);
    }
  }
  for (std::vector<ZoneAdditions> *list : {&AdditionsQD, &AdditionsQI})
    for (ZoneAdditions &a : *list)
      a.Clear();
  const std::int64_t y = ActualYear, mo = ActualMonth, d = ActualDay, h = ActualHour;
  for (const int which : {0, 1, 3, 2})
    if (ModuleStatistic *table = Table(which))
      (*table)->EndOfStep(y, mo, d, h, 0);
  if (ModuleStatistic *table = Table(4))
    (*table)->EndOfStep(y, mo, d, h, 1);
  for (int r = 1; r <= TracerCount; ++r) {
    const auto row = static_cast<std::size_t>(r);
    if (MPIRank == 0)
      for (int k = 1; k <= ZoneCount; ++k) {
        const auto at = static_cast<std::size_t>(k);
        const double g = qbb_->Components[0][at], hi = QIi.Components[0][at],
                     i = QDd.Components[0][at];
        const double sum = g + hi + i;
        qg_.Components[row][at] =
            sum > 0.0 ? (g * qbb_->Components[row][at] + hi * QIi.Components[row][at] +
                         i * QDd.Components[row][at]) /
                            sum
                      : 0.0;
        if (zonalstatistic *table = TracerTable(r))
          table->AddValue(0, 0, k, qg_.Components[row][at], 1.0);
      }
    // Only rank 0 holds the step's runoff: the records are not combined.
    if (zonalstatistic *table = TracerTable(r))
      table->EndOfStep(y, mo, d, h, 0);
    WriteSiltingGrids(r);
  }
  WriteStackOutput(VelocityIndex);
  WriteStackOutput(FluxIndex);
}

void surfaceroutingclass::FlushStatistics() {
  if (FlowControl == 0)
    return;
  for (auto &table : tables_)
    if (table)
      (*table)->FlushBuffer();
  for (int t = 1; t <= TracerCount; ++t)
    if (zonalstatistic *table = TracerTable(t))
      table->FlushBuffer();
}

void surfaceroutingclass::InitTracerGrids(int &error, int tracerCount,
                                          OneBasedArray<TracerInfo> *info,
                                          StatisticsRegistry *registry, int capacity) {
  error = 0;
  if (FlowControl == 0)
    return;
  teilmodellklasse::InitTracerGrids(error, tracerCount, info, registry, capacity);
  if (error != 0)
    throw error;
  InitFlowTimeZones();
  SetUpTracers();
  for (SubbasinRunoffArrays *arrays : {&qg_, &QDInflow, &QDd, &QIInflow, &QIi})
    arrays->Resize(std::max(ZoneCount, 0));
  qgCreated_ = true;
  if (GridReadParameter == 1) {
    // Each process reads its own section; all stop together before the
    // collective reading of the per-cell state.
    ThrowIfAnyFailed(*Log, CaptureExitCode([&] { ReadStorage(); }));
    ReadFlowState();
  }
}

zonalstatistic *surfaceroutingclass::TracerTable(int tracer) const {
  if (tracer < 1 || static_cast<std::size_t>(tracer) > TracerRecords.Count())
    return nullptr;
  return TracerRecords[static_cast<std::size_t>(tracer)].Statistics.get();
}

void surfaceroutingclass::FinishTracerGrids() {
  ReleaseTracers();
  for (SubbasinRunoffArrays *arrays : {&qg_, &QDInflow, &QDd, &QIInflow, &QIi})
    arrays->Resize(0);
  qgCreated_ = false;
  teilmodellklasse::FinishTracerGrids();
}

} // namespace tavro
