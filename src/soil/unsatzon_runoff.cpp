// Soil-water module: the runoff concentration per subbasin. The flow-time
// zones are built once from "flow_times"; every sub-step adds the runoff of
// the own cells to exact sums; ConcentrateRunoff reduces the step's sums to
// rank 0 in one batched call, where the zones, the linear storages and the
// subbasin runoff arrays live, and ends the step of the statistics tables.
#include "soil/unsatzon_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "raster/output/module_statistic.h"
#include "raster/parallel/collective_failure.h"
#include "raster/parallel/non_finite_water.h"
#include "raster/parallel/zone_reduction.h"

#include <mpi.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>

namespace tavro {
namespace {

// Appends text to "modell_<rank>.log"; false when the file cannot be opened.
bool AppendToProcessLog(int rank, const std::string &text, std::string &name) {
  std::array<char, 32> buffer{};
  std::snprintf(buffer.data(), buffer.size(), "modell_%d.log", rank);
  name = buffer.data();
  std::FILE *file = std::fopen(name.c_str(), "a");
  if (file == nullptr)
    return false;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
  return true;
}

void BroadcastZones(FlowTimeZones &zones) {
  const std::span<ZoneRecord> all = zones.All();
  MPI_Bcast(all.data(), static_cast<int>(all.size() * 5), MPI_DOUBLE, 0, MPI_COMM_WORLD);
}

} // namespace

double unsatzonmodellklasse::GlacierFraction(long row, long column) const {
  const Grid *glacier = Links.Glacier;
  if (glacier == nullptr || !glacier->HasRow(row))
    return 0.0;
  return std::clamp((*glacier)[row][column], 0.0, 1.0);
}

double unsatzonmodellklasse::CellWeight(long row, long column) const {
  const Grid *weights = CellWeights;
  return weights != nullptr && weights->HasRow(row) ? (*weights)[row][column] : 1.0;
}

ModuleStatistic *unsatzonmodellklasse::Table(SoilStatistic which) const {
  const auto at = static_cast<std::size_t>(which);
  return at < StatisticsTables.size() ? StatisticsTables[at].get() : nullptr;
}

// --- Set-up ---------------------------------------------------------------------

void unsatzonmodellklasse::InitFlowTimeZones() {
  Log->Entry(Concat("looking for longest flow travel time", DiagnosticsLog::EndToken));
  const int n = ZoneCount;
  MaxZone.assign(static_cast<std::size_t>(n) + 1, 0);
  const int flowIndex = FindGrid("flow_times", false);
  Grid *flow = flowIndex > 0 ? (*Registry)[flowIndex].Data : nullptr;
  const CellIteration cells(StripCellsOf(*this, Links.Subbasins));
  if (flow == nullptr) {
    std::fill(MaxZone.begin() + 1, MaxZone.end(), 1);
  } else {
    long noData = 0;
    // The grid that surface routing reads holds zone numbers from here on.
    cells.ForEachOwnCell([&](long r, long c) {
      const int k = ZoneIndexOf(*this, (*Links.Subbasins)[r][c]);
      if (k < 1)
        return;
      double &time = (*flow)[r][c];
      if (time == NoData)
        ++noData;
      time = FlowTimeZone(time, TimeStep);
      MaxZone[static_cast<std::size_t>(k)] =
          std::max(MaxZone[static_cast<std::size_t>(k)], static_cast<int>(time));
    });
    MPI_Allreduce(MPI_IN_PLACE, MaxZone.data(), n + 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    MPI_Allreduce(MPI_IN_PLACE, &noData, 1, MPI_LONG, MPI_SUM, MPI_COMM_WORLD);
    if (noData > 0)
      Log->Entry(Concat("WARNING: ", noData, " valid cells of ", (*Registry)[flowIndex].FileName,
                        " hold no flow time; their runoff leaves with the step (flow-time zone 1)",
                        DiagnosticsLog::EndToken));
  }
  // With surface routing active every cell adds its runoff to zone 1 (surface
  // routing delays the water itself): one zone per subbasin, whose weight is
  // what the cells add in the step. Zones spread over the flow times would
  // hold weights of cells that never add there and dilute the first steps.
  const bool oneZone = flow == nullptr || SurfaceRoutingActive != 0;
  if (oneZone)
    std::fill(MaxZone.begin() + 1, MaxZone.end(), 1);
  const int rows = TracerCount + 1;
  ZonesQD = FlowTimeZones(rows, MaxZone);
  ZonesQI = FlowTimeZones(rows, MaxZone);
  AdditionsQD = ZoneAdditions(ZonesQD);
  AdditionsQI = ZoneAdditions(ZonesQI);
  BaseflowSums.assign(static_cast<std::size_t>(n) + 1, ExactZoneSums{});
  if (oneZone) {
    for (int row = 0; row < rows; ++row)
      for (int k = 1; k <= n; ++k)
        for (FlowTimeZones *zones : {&ZonesQD, &ZonesQI}) {
          zones->At(row, k, 1).rel = 1.0;
          zones->At(row, k, 1).zonenwert = 1.0;
        }
    std::string name;
    if (flow == nullptr && MPIRank == 0 &&
        !AppendToProcessLog(0,
                            "flow time distribution will not be calculated since no flow time "
                            "grid was provided\n",
                            name))
      Log->Entry(
          Concat("WARNING: log file ", name, " could not be opened", DiagnosticsLog::EndToken));
    return;
  }
  // The cell weights of every zone, summed exactly over all processes.
  Log->Entry(Concat(std::string(static_cast<std::size_t>(LastRow - FirstRow + 1), '.'),
                    DiagnosticsLog::EndToken));
  ZoneAdditions counts(ZonesQD);
  cells.ForEachOwnCell([&](long r, long c) {
    const int k = ZoneIndexOf(*this, (*Links.Subbasins)[r][c]);
    if (k < 1)
      return;
    const double w = CellWeight(r, c);
    counts.Add(k, static_cast<int>((*flow)[r][c]), w, 0.0, w);
  });
  MPIReduceExactZones(counts.All());
  counts.AddTo(ZonesQD);
  BroadcastZones(ZonesQD);
  CopyZoneCounts(ZonesQD, ZonesQI, n, MaxZone);
  ShareFlowTimeZones((*Registry)[flowIndex].FileName);
  WeighZonesPerSubstep(ZonesQD, ZonesQI, SubstepCount, MPIRank);
}

void unsatzonmodellklasse::ShareFlowTimeZones(const std::string &flowFileName) {
  std::vector<int> codes(static_cast<std::size_t>(ZoneCount) + 1, 0);
  for (int k = 1; k <= ZoneCount; ++k)
    codes[static_cast<std::size_t>(k)] =
        static_cast<int>(subbasinTable_[static_cast<std::size_t>(k)].zonenwert);
  const ZoneShareOutcome outcome =
      ShareSubbasinZones(ZonesQD, ZonesQI, codes, "flow time distribution:\n", flowFileName);
  std::string name;
  if (MPIRank == 0 && !AppendToProcessLog(0, outcome.Report, name))
    Log->Entry(Concat("WARNING: error opening log-file ", name, DiagnosticsLog::EndToken));
  // Every process holds the same counts, so every process stops alike.
  if (outcome.Failure != 0)
    ThrowFatal(*Log, outcome.Failure, outcome.Message);
}

void unsatzonmodellklasse::CreateRunoffArrays() {
  const int subbasins = ZoneCount > 0 ? ZoneCount : 0;
  for (SubbasinRunoffArrays *arrays : {&qg_, &qd_, &qi_, &qbb_, &QDd, &QIi})
    arrays->Resize(subbasins);
  exchangeArraysCreated_ = true;
}

void unsatzonmodellklasse::CheckGlacierRunoffSource() {
  SnowWritesGlacierRunoff = FindGrid("snowcover_outflow", false) > 0;
  const bool glaciers = std::any_of(GlacierTable.begin(), GlacierTable.end(),
                                    [](const GlacierRecord &r) { return r.HasGlacier; });
  if (glaciers && !SnowWritesGlacierRunoff)
    Log->Entry(Concat("WARNING: subbasins with glacier cells, but no snow module writes their "
                      "glacier runoff: ",
                      ModuleName, " sets Qg of these subbasins to its own runoff every step",
                      DiagnosticsLog::EndToken));
}

void unsatzonmodellklasse::ComputeInitialRunoff() {
  const int n = ZoneCount;
  const SubbasinParameters &p = Config.Subbasins;
  Grid &baseflow = Grids.Baseflow.Values;
  std::vector<ExactZoneSums> sums(static_cast<std::size_t>(n) + 1);
  CellIteration(StripCellsOf(*this, Links.Subbasins)).ForEachOwnCell([&](long r, long c) {
    const int k = ZoneIndexOf(*this, (*Links.Subbasins)[r][c]);
    if (k < 1)
      return;
    const auto at = static_cast<std::size_t>(k);
    if (GroundwaterCoupling == 0)
      baseflow[r][c] =
          p.MaxBaseflow[at] * std::exp(Grids.GroundwaterDistance.Values[r][c] * p.InvKelsqlat[at]);
    const double w = CellWeight(r, c);
    sums[at].sx.Add(baseflow[r][c] * w);
    sums[at].n.Add(1.0);
    sums[at].RelCellSum.Add(w);
  });
  // Exact sums of all processes: the same means for any process count, and
  // a subbasin that has no cell on some process still gets its mean.
  MPIReduceExactZones(sums);
  OneBasedArray<double> &qg = qg_.Components[0];
  if (MPIRank == 0)
    for (int k = 1; k <= n; ++k) {
      const ExactZoneSums &s = sums[static_cast<std::size_t>(k)];
      const double weight = s.RelCellSum.ToDouble();
      qg[static_cast<std::size_t>(k)] = weight > 0.0 ? s.sx.ToDouble() / weight : 0.0;
    }
  MPI_Bcast(qg.Data(), n + 1, MPI_DOUBLE, 0, MPI_COMM_WORLD);
}

// --- Every sub-step ----------------------------------------------------------------

double unsatzonmodellklasse::AddStepRunoffToZones() {
  // The zones exist once the module is linked after construction.
  if (!exchangeArraysCreated_)
    return 0.0;
  double water = 0.0;
  const Grid *flow = SurfaceRoutingActive == 0 ? Links.FlowTimes : nullptr;
  const double d = static_cast<double>(SubstepCount);
  const Grid &direct = Grids.DirectFlow.Values;
  const Grid &inter = Grids.Interflow.Values;
  const bool coupled = GroundwaterCoupling != 0;
  const Grid &baseflow = coupled ? Grids.RiverExfiltration.Values : Grids.Baseflow.Values;
  // The river exchange of the coupled groundwater module, per step.
  ModuleStatistic *gwin = coupled ? Table(SoilStatistic::GWIN) : nullptr;
  ModuleStatistic *gwex = coupled ? Table(SoilStatistic::GWEX) : nullptr;
  auto addRiver = [&](long r, long c, int k, double weight, bool glacierShare) {
    if (gwin != nullptr)
      (*gwin)->AddValue(r, c, k, glacierShare ? 0.0 : d * Grids.RiverInfiltration.Values[r][c],
                        weight);
    if (gwex != nullptr)
      (*gwex)->AddValue(r, c, k, glacierShare ? 0.0 : d * Grids.RiverExfiltration.Values[r][c],
                        weight);
  };
  CellIteration(StripCellsOf(*this, Links.Subbasins)).ForEachOwnCell([&](long r, long c) {
    const int k = ZoneIndexOf(*this, (*Links.Subbasins)[r][c]);
    if (k < 1)
      return;
    water += direct[r][c] + inter[r][c] + baseflow[r][c] + Grids.SB1.Values[r][c] +
             Grids.SB2.Values[r][c];
    const double g = GlacierFraction(r, c);
    const double a = CellWeight(r, c);
    const int z = flow != nullptr ? static_cast<int>((*flow)[r][c]) : 1;
    ExactZoneSums &base = BaseflowSums[static_cast<std::size_t>(k)];
    if (g < 1.0) {
      const double w = 1.0 - g;
      AdditionsQD.Add(k, z, w, a * direct[r][c] * w * d, a * w);
      AdditionsQI.Add(k, z, w, a * inter[r][c] * w * d, a * w);
      base.n.Add(w);
      base.sx.Add(d * baseflow[r][c] * a * w);
      base.RelCellSum.Add(a * w);
      addRiver(r, c, k, w, false);
      AddCellTracersToZones(r, c, k, z, a, w);
    }
    if (g > 0.0) {
      // The glacierized share carries weight but no runoff.
      AdditionsQD.Add(k, z, g, 0.0, a * g);
      AdditionsQI.Add(k, z, g, 0.0, a * g);
      base.n.Add(g);
      base.RelCellSum.Add(a * g);
      addRiver(r, c, k, g, true);
    }
  });
  return water;
}

void unsatzonmodellklasse::StopIfNotFinite(double stepWater) const {
  if (!exchangeArraysCreated_)
    return;
  const SoilWaterGrids &g = Grids;
  const bool coupled = GroundwaterCoupling != 0;
  std::vector<WaterGrid> grids;
  for (const SoilGrid *grid :
       {&g.DirectFlow, &g.Interflow, coupled ? &g.RiverExfiltration : &g.Baseflow, &g.SB1, &g.SB2})
    grids.push_back({(*Registry)[grid->Index].Identifier, &grid->Values});
  StopIfWaterNotFinite(*this, CellIteration(StripCellsOf(*this, Links.Subbasins)), stepWater,
                       grids);
}

// --- After the sub-steps --------------------------------------------------------

void unsatzonmodellklasse::ConcentrateRunoff(long, long, long, long) {
  if (FlowControl == 0)
    return;
  // Every process stops alike, before the first collective call.
  if (!exchangeArraysCreated_)
    ThrowFatal(*Log, NotInitializedExitCode,
               Concat("Qg[", 1,
                      "] not initialized (may be, tracer module not linked? -> programmers "
                      "error!)"));
  // One batched exact reduction of the step's additions to rank 0.
  const std::span<ExactZoneSums> qd = AdditionsQD.All();
  const std::span<ExactZoneSums> qi = AdditionsQI.All();
  reductionBatch_.clear();
  reductionBatch_.insert(reductionBatch_.end(), qd.begin(), qd.end());
  reductionBatch_.insert(reductionBatch_.end(), qi.begin(), qi.end());
  reductionBatch_.insert(reductionBatch_.end(), BaseflowSums.begin(), BaseflowSums.end());
  const std::size_t waterSums = reductionBatch_.size();
  AppendTracerSums(reductionBatch_);
  MPIReduceExactZones(reductionBatch_);
  if (MPIRank == 0) {
    auto next = reductionBatch_.begin();
    std::copy(next, next + static_cast<std::ptrdiff_t>(qd.size()), qd.begin());
    next += static_cast<std::ptrdiff_t>(qd.size());
    std::copy(next, next + static_cast<std::ptrdiff_t>(qi.size()), qi.begin());
    next += static_cast<std::ptrdiff_t>(qi.size());
    std::copy(next, next + static_cast<std::ptrdiff_t>(BaseflowSums.size()), BaseflowSums.begin());
    TakeTracerSums(std::span<const ExactZoneSums>(reductionBatch_).subspan(waterSums));
    AdditionsQD.AddTo(ZonesQD);
    AdditionsQI.AddTo(ZonesQI);
    ConcentrateSubbasins();
  }
  AdditionsQD.Clear();
  AdditionsQI.Clear();
  for (ExactZoneSums &sum : BaseflowSums)
    sum.Clear();
  EndStatisticsStep();
  WriteStepOutputs();
  EndTracerStep();
}

void unsatzonmodellklasse::ConcentrateSubbasins() {
  const SubbasinParameters &p = Config.Subbasins;
  const bool surface = SurfaceRoutingActive != 0;
  auto add = [&](SoilStatistic which, int k, double value) {
    if (ModuleStatistic *table = Table(which))
      (*table)->AddValue(0, 0, k, value, subbasinTable_[static_cast<std::size_t>(k)].rel);
  };
  RunoffBalance.resize(static_cast<std::size_t>(ZoneCount) + 1);
  for (int k = 1; k <= ZoneCount; ++k) {
    const auto at = static_cast<std::size_t>(k);
    const double ad = StorageFactor(TimeStep, p.kelsqd[at], surface);
    const double ai = StorageFactor(TimeStep, p.kelsqi[at], surface);
    SubbasinRunoffBalance &balance = RunoffBalance[at];
    balance.storageBefore = LinearStorageContent(QDd.Components[0][at], ad) +
                            LinearStorageContent(QIi.Components[0][at], ai);
    TracerRowInputs tracerInputs{QDd.Components[0][at], QIi.Components[0][at], ad, ai};
    const double qd = ZoneOutflow(ZonesQD.At(0, k, 1));
    qd_.Components[0][at] = qd;
    double &qdd = QDd.Components[0][at];
    qdd = LinearStorageOutflow(qd, qdd, ad);
    add(SoilStatistic::QD, k, qdd);
    const ExactZoneSums &base = BaseflowSums[at];
    const double qb = MeanBaseflow(base.sx.ToDouble(), base.RelCellSum.ToDouble());
    qbb_.Components[0][at] = qb;
    add(SoilStatistic::QB, k, qb);
    const double qi = ZoneOutflow(ZonesQI.At(0, k, 1));
    qi_.Components[0][at] = qi;
    double &qii = QIi.Components[0][at];
    qii = LinearStorageOutflow(qi, qii, ai);
    balance.inflow = qd + qi + qb;
    balance.outflow = qdd + qii + qb;
    balance.storageAfter = LinearStorageContent(qdd, ad) + LinearStorageContent(qii, ai);
    add(SoilStatistic::QI, k, qii);
    double &qg = qg_.Components[0][at];
    // Only the snow module's glacier runoff of the step is added to.
    const bool glacier =
        SnowWritesGlacierRunoff && at <= GlacierTable.Count() && GlacierTable[at].HasGlacier;
    qg = (glacier ? qg : 0.0) + qdd + qii + qb;
    add(SoilStatistic::Qg, k, qg);
    ConcentrateTracerRows(k, tracerInputs);
  }
}

void unsatzonmodellklasse::EndStatisticsStep() {
  const std::int64_t y = ActualYear;
  const std::int64_t mo = ActualMonth;
  const std::int64_t d = ActualDay;
  const std::int64_t h = ActualHour;
  auto end = [&](ModuleStatistic *table, int reduce) {
    if (table != nullptr)
      (*table)->EndOfStep(y, mo, d, h, reduce);
  };
  using S = SoilStatistic;
  for (const S which : {S::GWSTAND, S::GWN, S::INFILT, S::MACRO})
    end(Table(which), 1);
  end(SubstepsTable.get(), 1);
  end(Table(S::SB_1), 1);
  end(Table(S::SB_2), 1);
  end(GlacierResizeTable.get(), 1);
  end(Table(S::ROOT), 1);
  end(Table(S::INFEX), 1);
  for (const S which : {S::QD, S::QI, S::QB})
    end(Table(which), 0);
  end(Table(S::GWIN), 1);
  end(Table(S::GWEX), 1);
  end(Table(S::Qg), 0);
  end(Table(S::QDRAIN), 1);
  end(Table(S::POND), 1);
  if (Config.Heat.HeatTransferActive > 0 && Config.Heat.HeatTransferMethod > 0)
    end(ThawDepthTable.get(), 1);
}

} // namespace tavro
