// Groundwater module: one sub-step (leakage, start of the sub-step,
// transmissivities, the red-black solve of every layer, Darcy fluxes,
// baseflow, balance and tracer transport) and its cell loops.
#include "lateral/groundwater_flow.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/progress_line.h"
#include "lateral/groundwater/cell_update.h"
#include "lateral/groundwater/flow_balance.h"
#include "lateral/groundwater/leakage.h"
#include "lateral/groundwater/transmissivity.h"
#include "lateral/groundwater_names.h"
#include "raster/output/zonal_statistic.h"
#include "raster/parallel/cell_iteration.h"
#include "raster/parallel/mpi_regions.h"
#include "raster/parallel/non_finite_water.h"

#include <mpi.h>
#include <omp.h>

#include <algorithm>
#include <cmath>

namespace tavro {

using namespace groundwater;

bool gwflowclass::IsZoneCell(long r, long c) const {
  return Zone != nullptr && Zone->HasRow(r) && (*Zone)[r][c] > NoData;
}

bool gwflowclass::IsModelCell(long r, long c) const {
  if (!IsZoneCell(r, c))
    return false;
  return MPIRegions == nullptr || std::lround((*MPIRegions)[r][c]) == MPIRank;
}

double gwflowclass::GlacierAt(long r, long c) const {
  if (Glacier == nullptr)
    return 0.0;
  return std::clamp((*Glacier)[r][c], 0.0, 1.0);
}

void gwflowclass::ExchangeSlot(int k, GroundwaterGridSlot slot) {
  MPIExchangeHalo(Layer(k).Index[slot], nullptr);
}

void gwflowclass::BeginTimeStep(long hour, long day, long month, long year) {
  if (FlowControl == 0)
    return;
  if (omp_in_parallel()) {
    SetActualStep(hour, day, month, year);
    return;
  }
  teilmodellklasse::ComputeTimeStep(hour, day, month, year);
  // The tracer statistics collect every sub-step of the step.
  for (GroundwaterTracer &tracer : Tracers)
    for (auto &table : tracer.Statistics)
      if (table)
        table->ResetStep();
}

void gwflowclass::ComputeTimeStep(long hour, long day, long month, long year) {
  if (FlowControl == 0)
    return;
  SetActualStep(hour, day, month, year);
  ComputeLeakage();
  StartSubstep();
  StepHeadSum = 0.0;
  for (Grid *grid : {ThawDepth, FrozenSoil})
    if (grid != nullptr && grid->HasRow(HaloFirstRow) && grid->HasRow(HaloLastRow))
      MPIExchangeHalo(-1, grid);
  ComputeTransmissivities();
  for (int k = 1; k <= LayerCount(); ++k)
    SolveLayer(k);
  for (int k = 1; k <= LayerCount(); ++k)
    ExchangeSlot(k, kHead);
  ComputeFlows();
  ComputeBaseflow();
  for (int k = 1; k <= LayerCount(); ++k)
    ComputeBalance(k);
  StopIfHeadsNotFinite();
  RecordControlPoint();
}

void gwflowclass::StopIfHeadsNotFinite() const {
  std::vector<WaterGrid> grids;
  for (int k = 1; k <= LayerCount(); ++k)
    grids.push_back({LayerIdentifier("gw_head_", k), &Layer(k)[kHead]});
  for (int k = 1; k <= LayerCount(); ++k)
    grids.push_back({LayerIdentifier("gw_balance", k), &Layer(k)[kBalance]});
  const CellIteration cells(StripCellsOf(*this, Zone));
  StopIfWaterNotFinite(*this, cells, StepHeadSum, grids);
}

void gwflowclass::ComputeLeakage() {
  for (int k = 1; k < LayerCount(); ++k) {
    GroundwaterLayerGrids &upper = Layer(k);
    const GroundwaterLayerGrids &lower = Layer(k + 1);
    Grid &leakage = upper[kLeakage];
    ForModelCells([&](long r, long c) {
      leakage[r][c] = GlacierAt(r, c) >= 1.0
                          ? 0.0
                          : LayerLeakage(upper[kHead][r][c], lower[kHead][r][c],
                                         lower[kUpperLimit][r][c], (*upper.Leakance)[r][c]);
    });
  }
}

void gwflowclass::StartSubstep() {
  for (int k = 1; k <= LayerCount(); ++k) {
    GroundwaterLayerGrids &layer = Layer(k);
    Grid &h = layer[kHead];
    Grid &hOld = layer[kHeadOld];
    Grid &hPrevStep = layer[kHeadPrevStep];
    Grid &hPrevIter = layer[kHeadPrevIter];
    ForModelCells([&](long r, long c) {
      if (GlacierAt(r, c) >= 1.0)
        return;
      hPrevStep[r][c] = hOld[r][c];
      const double start = k == 1 ? LayerOneHead(r, c) : h[r][c];
      h[r][c] = hPrevIter[r][c] = hOld[r][c] = start;
      DecayTracers(k, r, c);
    });
    ExchangeSlot(k, kHead);
    ExchangeSlot(k, kHeadOld);
    ExchangeSlot(k, kHeadPrevStep);
  }
}

void gwflowclass::ComputeTransmissivities() {
  for (int k = 1; k <= LayerCount(); ++k) {
    GroundwaterLayerGrids &layer = Layer(k);
    const Grid &h = layer[kHead];
    const Grid &top = layer[kUpperLimit];
    const Grid &b = *layer.Thickness;
    Grid &tx = layer[kTransmissivityX];
    Grid &ty = layer[kTransmissivityY];
    // One side of a pair; conductivity of the pair's direction.
    auto side = [&](long r, long c, const Grid &conductivity) {
      TransmissivitySide s;
      s.glacier = GlacierAt(r, c);
      s.h = h[r][c];
      s.top = top[r][c];
      s.b = s.glacier >= 1.0 ? 0.0 : b[r][c];
      s.a = s.b;
      if (k == 1) {
        const bool frozen = FrozenSoil != nullptr && (*FrozenSoil)[r][c] > NoData;
        const bool thaw =
            FrozenSoil == nullptr && ThawDepth != nullptr && (*ThawDepth)[r][c] > NoData;
        s.a = EffectiveThickness(s.b, frozen, frozen ? (*FrozenSoil)[r][c] : 0.0, thaw,
                                 thaw ? (*ThawDepth)[r][c] : 0.0);
      }
      s.k = conductivity[r][c];
      s.conducts = ConductsAt(layer, r, c);
      return s;
    };
    auto neighbourValid = [&](long r, long c, long rn, long cn) {
      if (rn > NRows || cn > NCols || !IsZoneCell(rn, cn))
        return false;
      return FlowControl != 3 || (*Zone)[rn][cn] == (*Zone)[r][c];
    };
    ForStripCells([&](long r, long c) {
      if (!IsModelCell(r, c) || GlacierAt(r, c) >= 1.0) {
        tx[r][c] = ty[r][c] = 0.0;
        return;
      }
      const TransmissivitySide cellX = side(r, c, *layer.ConductivityX);
      const bool east = neighbourValid(r, c, r, c + 1);
      tx[r][c] = InterblockTransmissivity(
          cellX, east ? side(r, c + 1, *layer.ConductivityX) : TransmissivitySide{}, east);
      const TransmissivitySide cellY = side(r, c, *layer.ConductivityY);
      const bool south = neighbourValid(r, c, r + 1, c);
      ty[r][c] = InterblockTransmissivity(
          cellY, south ? side(r + 1, c, *layer.ConductivityY) : TransmissivitySide{}, south);
    });
  }
}

void gwflowclass::ApplyFixedHeads(int k) {
  GroundwaterLayerGrids &layer = Layer(k);
  Grid &h = layer[kHead];
  Grid &hOld = layer[kHeadOld];
  Grid &hPrevStep = layer[kHeadPrevStep];
  const Grid &fixed = *layer.FixedHead;
  ForModelCells([&](long r, long c) {
    if (GlacierAt(r, c) < 1.0 && fixed[r][c] > NoData)
      h[r][c] = hOld[r][c] = hPrevStep[r][c] = fixed[r][c];
  });
  ExchangeSlot(k, kHead);
  ExchangeSlot(k, kHeadOld);
  ExchangeSlot(k, kHeadPrevStep);
}

void gwflowclass::MarkSweepCells(int k) {
  GroundwaterLayerGrids &layer = Layer(k);
  SweepCells &cells = layer.Cells;
  cells.Clear();
  ForModelCells([&](long r, long c) {
    if (GlacierAt(r, c) < 1.0 && !((*layer.FixedHead)[r][c] > NoData) && ConductsAt(layer, r, c))
      cells.Mark(r, c);
  });
}

SweepResult gwflowclass::SweepLayer(int k) {
  GroundwaterLayerGrids &layer = Layer(k);
  SweepLayerGrids grids;
  grids.head = &layer[kHead];
  grids.headOld = &layer[kHeadOld];
  grids.headPrevIter = &layer[kHeadPrevIter];
  grids.tx = &layer[kTransmissivityX];
  grids.ty = &layer[kTransmissivityY];
  grids.storage = layer.Storage;
  grids.specificYield = Layer(1).Storage;
  grids.top = &layer[kUpperLimit];
  grids.leakageBelow = LayerCount() > 1 ? &layer[kLeakage] : nullptr;
  grids.leakageAbove = k > 1 ? &Layer(k - 1)[kLeakage] : nullptr;
  grids.fixedInflow = layer.FixedInflow;
  grids.cellSizeX = CellSizeX;
  grids.cellSizeY = CellSizeY;
  SweepSettings settings;
  settings.alpha = Alpha;
  settings.omega = AdaptiveSor ? 0.0 : SorParameter;
  settings.dt = SubstepSeconds();
  settings.cellSize = CellSize;
  settings.noData = NoData;
  settings.nRows = NRows;
  settings.nCols = NCols;
  return RedBlackSweep(grids, settings, layer.Cells, scratch_, [&] { ExchangeSlot(k, kHead); });
}

void gwflowclass::SolveLayer(int k) {
  ExchangeSlot(k, kTransmissivityX);
  ExchangeSlot(k, kTransmissivityY);
  ApplyFixedHeads(k);
  MarkSweepCells(k);
  GroundwaterSolveReport report;
  double change = 0.0;
  do {
    ++report.Iterations;
    const SweepResult sweep = SweepLayer(k);
    double global = 0.0;
    MPI_Reduce(&sweep.maxChange, &global, 1, MPI_DOUBLE, MPI_MAX, 0, MPI_COMM_WORLD);
    MPI_Bcast(&global, 1, MPI_DOUBLE, 0, MPI_COMM_WORLD);
    change = global;
    report.FactorSum = sweep.factorSum;
    report.FactorCount = sweep.factorCount;
  } while (report.Iterations < MaxIterations && change > MaxErrorAllowed);
  report.Change = change;

  double amplitudeSum = 0.0, amplitudeMax = 0.0, headSum = 0.0;
  const double local[2] = {
      static_cast<double>(CountOscillations(k, amplitudeSum, amplitudeMax, headSum)), amplitudeSum};
  StepHeadSum += headSum;
  double sums[2] = {0.0, 0.0};
  MPI_Reduce(local, sums, 2, MPI_DOUBLE, MPI_SUM, 0, MPI_COMM_WORLD);
  MPI_Bcast(sums, 2, MPI_DOUBLE, 0, MPI_COMM_WORLD);
  double maximum = 0.0;
  MPI_Reduce(&amplitudeMax, &maximum, 1, MPI_DOUBLE, MPI_MAX, 0, MPI_COMM_WORLD);
  MPI_Bcast(&maximum, 1, MPI_DOUBLE, 0, MPI_COMM_WORLD);
  report.OscillationCount = sums[0];
  report.AmplitudeSum = sums[1];
  report.AmplitudeMax = maximum;
  LastSolve = report;

  if (MPIRank == 0 && !omp_in_parallel() &&
      ProgressLineDue(HourDivisor, ActualHour, HoursToIntervalEnd)) {
    const double factor = !AdaptiveSor             ? SorParameter
                          : report.FactorCount > 0 ? report.FactorSum / report.FactorCount
                                                   : 1.0;
    const double average =
        report.OscillationCount > 0 ? report.AmplitudeSum / report.OscillationCount : 0.0;
    Log->Entry(Concat("GWlevel ", k, ", MPI-rank ", MPIRank, ", Steps ", report.Iterations, " err ",
                      report.Change, ", SOR ", factor, ", osc. at ",
                      static_cast<long>(report.OscillationCount), " points (av: ", average,
                      ", max ", report.AmplitudeMax, ")", DiagnosticsLog::EndToken));
  }
}

long gwflowclass::CountOscillations(int k, double &amplitudeSum, double &amplitudeMax,
                                    double &headSum) const {
  const GroundwaterLayerGrids &layer = Layer(k);
  const Grid &h = layer[kHead];
  const Grid &hOld = layer[kHeadOld];
  const Grid &hPrevStep = layer[kHeadPrevStep];
  long count = 0;
  double sum = 0.0, maximum = 0.0, heads = 0.0;
  // Row order, so that the sum does not depend on the threads.
  for (long r = FirstRow; r <= LastRow; ++r)
    for (long c = 1; c <= NCols; ++c) {
      if (!IsModelCell(r, c))
        continue;
      heads += h[r][c];
      const double dNow = h[r][c] - hOld[r][c];
      if (Oscillates(hOld[r][c] - hPrevStep[r][c], dNow, MaxErrorAllowed)) {
        ++count;
        sum += std::fabs(dNow);
        maximum = std::max(maximum, std::fabs(dNow));
      }
    }
  amplitudeSum = sum;
  amplitudeMax = maximum;
  headSum = heads;
  return count;
}

void gwflowclass::ComputeFlows() {
  for (int k = 1; k <= LayerCount(); ++k) {
    GroundwaterLayerGrids &layer = Layer(k);
    const Grid &h = layer[kHead];
    Grid &qx = layer[kFlowX];
    Grid &qy = layer[kFlowY];
    // Flux from (r, c) towards (rn, cn), or 0 / no-data as the neighbour allows.
    auto flux = [&](long r, long c, long rn, long cn, const Grid &k, double d) {
      if (rn > NRows || cn > NCols || GlacierAt(rn, cn) >= 1.0)
        return 0.0;
      if (!IsZoneCell(rn, cn))
        return NoData;
      if (!ConductsAt(layer, r, c) || !ConductsAt(layer, rn, cn))
        return 0.0;
      return DarcyFlux(h[r][c], h[rn][cn], k[r][c], d);
    };
    ForModelCells([&](long r, long c) {
      if (GlacierAt(r, c) >= 1.0) {
        qx[r][c] = qy[r][c] = 0.0;
        return;
      }
      qx[r][c] = flux(r, c, r, c + 1, *layer.ConductivityX, Dx(r, c));
      qy[r][c] = flux(r, c, r + 1, c, *layer.ConductivityY, Dy(r, c));
    });
    // The balance reads the fluxes of the north and west neighbours.
    ExchangeSlot(k, kFlowX);
    ExchangeSlot(k, kFlowY);
  }
}

void gwflowclass::ComputeBaseflow() {
  const GroundwaterLayerGrids &layer = Layer(1);
  const double dt = SubstepSeconds();
  ForModelCells([&](long r, long c) {
    (*Baseflow)[r][c] =
        GlacierAt(r, c) < 1.0 && ConductsAt(layer, r, c)
            ? (layer[kHeadOld][r][c] - layer[kHead][r][c]) * (*layer.Storage)[r][c] / dt
            : 0.0;
  });
}

void gwflowclass::ComputeBalance(int k) {
  GroundwaterLayerGrids &layer = Layer(k);
  const Grid &h = layer[kHead];
  const Grid &hOld = layer[kHeadOld];
  const Grid &tx = layer[kTransmissivityX];
  const Grid &ty = layer[kTransmissivityY];
  const Grid &qx = layer[kFlowX];
  const Grid &qy = layer[kFlowY];
  const Grid &top = layer[kUpperLimit];
  Grid &balance = layer[kBalance];
  const Grid *leakAbove = k > 1 ? &Layer(k - 1)[kLeakage] : nullptr;
  const Grid *leakBelow = k < LayerCount() ? &layer[kLeakage] : nullptr;
  const double dt = SubstepSeconds();
  ForModelCells([&](long r, long c) {
    if (GlacierAt(r, c) >= 1.0 || !ConductsAt(layer, r, c)) {
      balance[r][c] = 0.0;
      return;
    }
    const double dx = Dx(r, c), dy = Dy(r, c), area = dx * dy;
    const double volume = StoredVolume(hOld[r][c], top[r][c], (*layer.Thickness)[r][c],
                                       (*Layer(1).Storage)[r][c], area);
    CellInflows q{};
    if (r > 1 && IsZoneCell(r - 1, c) && qy[r - 1][c] != NoData)
      q[kNorth] = LateralInflow(h[r - 1][c], h[r][c], dy, ty[r - 1][c], dx, dt);
    if (c < NCols && IsZoneCell(r, c + 1) && qx[r][c] != NoData)
      q[kEast] = LateralInflow(h[r][c + 1], h[r][c], dx, tx[r][c], dy, dt);
    if (r < NRows && IsZoneCell(r + 1, c) && qy[r][c] != NoData)
      q[kSouth] = LateralInflow(h[r + 1][c], h[r][c], dy, ty[r][c], dx, dt);
    if (c > 1 && IsZoneCell(r, c - 1) && qx[r][c - 1] != NoData)
      q[kWest] = LateralInflow(h[r][c - 1], h[r][c], dx, tx[r][c - 1], dy, dt);
    if (leakAbove != nullptr)
      q[kAbove] = -(*leakAbove)[r][c] * area * dt;
    if (leakBelow != nullptr)
      q[kBelow] = (*leakBelow)[r][c] * area * dt;
    balance[r][c] = BalanceResidual(h[r][c], hOld[r][c], (*layer.Storage)[r][c], q, area);
    MixTracers(k, r, c, volume, q);
  });
  AddTracerStatistics(k);
  // Tracer concentrations of the layer from the working grids; a cell that
  // computed none (glacier, unusable input) keeps its own.
  for (std::size_t t = 0; t < Tracers.size(); ++t) {
    GroundwaterTracer &tracer = Tracers[t];
    Grid &conc = tracer.Concentration[static_cast<std::size_t>(k - 1)];
    const Grid &mixed = tracer.Working;
    ForStripCells([&](long r, long c) {
      if (IsModelCell(r, c) && GlacierAt(r, c) < 1.0 && ConductsAt(layer, r, c))
        conc[r][c] = mixed[r][c];
      else if (!IsZoneCell(r, c))
        conc[r][c] = NoData;
    });
    MPIExchangeHalo(tracer.ConcentrationIndex[static_cast<std::size_t>(k - 1)], nullptr);
  }
  ForStripCells([&](long r, long c) {
    if (!IsZoneCell(r, c))
      layer[kHead][r][c] = NoData;
  });
}

} // namespace tavro
