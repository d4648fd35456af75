// The passes of one overland-flow inner step. Each writes only its own
// cells: the kernel pass reads the neighbours' depths, the storage pass
// their fluxes, which neither pass changes, so the results do not depend on
// the order of the cells or the threads.
#include "lateral/overland_passes.h"

#include "lateral/overland/outflow_weights.h"
#include "lateral/overland/stable_step.h"
#include "lateral/overland/storage_update.h"
#include "lateral/overland/surface_slope.h"

#include <algorithm>
#include <array>
#include <span>
#include <utility>

namespace tavro {

using overland::kDirections;

OverlandPasses::OverlandPasses(const CellIterationSetup &cells, const OverlandRaster &raster,
                               const OverlandGrids &grids,
                               const overland::VelocitySettings &settings, LandUseOfCell landUse)
    : cells_(cells), raster_(raster), grids_(grids), settings_(settings),
      landUse_(std::move(landUse)) {
  if (cells_.LastRow >= cells_.FirstRow)
    terrainOutflow_.resize(
        static_cast<std::size_t>((cells_.LastRow - cells_.FirstRow + 1) * raster_.Columns));
}

overland::Neighbourhood OverlandPasses::NeighbourhoodOf(long r, long c) const {
  const OverlandGrids &g = grids_;
  overland::Neighbourhood n;
  n.CellSize = raster_.CellSize;
  n.Elevation = (*g.Elevation)[r][c];
  n.Depth = (*g.Depth)[r][c];
  n.Storage = (*g.Storage)[r][c];
  n.PlanCurvature = (*g.PlanCurvature)[r][c];
  n.River = IsRiver(r, c);
  n.FirstRow = r == 1;
  n.LastRow = r == raster_.Rows;
  n.FirstColumn = c == 1;
  n.LastColumn = c == raster_.Columns;
  // The rows above, of and below the cell, fetched once.
  std::array<const double *, 3> zone{}, elevation{}, depth{};
  for (long k = 0; k < 3; ++k) {
    const long rr = r - 1 + k;
    if (rr < 1 || rr > raster_.Rows)
      continue;
    const auto i = static_cast<std::size_t>(k);
    zone[i] = (*g.Zone)[rr];
    elevation[i] = (*g.Elevation)[rr];
    depth[i] = (*g.Depth)[rr];
  }
  for (int d = 1; d <= kDirections; ++d) {
    const auto i = static_cast<std::size_t>(d);
    const long rr = r + overland::kRowOffset[i];
    const long cc = c + overland::kColumnOffset[i];
    const bool inside = rr >= 1 && rr <= raster_.Rows && cc >= 1 && cc <= raster_.Columns;
    n.Inside[i] = inside;
    if (!inside)
      continue;
    const auto row = static_cast<std::size_t>(overland::kRowOffset[i] + 1);
    const double z = zone[row][cc];
    n.Valid[i] = z != raster_.NoData;
    // A no-data cell never counts, also where the no-data value lies above 0.
    n.Positive[i] = n.Valid[i] && z > 0.0;
    n.NeighbourElevation[i] = elevation[row][cc];
    n.NeighbourDepth[i] = n.Valid[i] ? depth[row][cc] : 0.0;
  }
  return n;
}

void OverlandPasses::LoadOutflow(long r, long c, overland::OutflowState &outflow) const {
  const double *weights = (*grids_.Weights)[r][c];
  const double *velocity = (*grids_.Velocity)[r][c];
  std::copy(weights, weights + kDirections + 1, outflow.Weights.begin());
  outflow.MainDirection = static_cast<int>(velocity[0]);
  outflow.WaterSurface = velocity[9];
}

void OverlandPasses::StoreOutflow(long r, long c, const overland::OutflowState &outflow) const {
  std::copy(outflow.Weights.begin(), outflow.Weights.end(), (*grids_.Weights)[r][c]);
  double *velocity = (*grids_.Velocity)[r][c];
  velocity[0] = outflow.MainDirection;
  velocity[9] = outflow.WaterSurface;
}

int OverlandPasses::DistributeCell(long r, long c, const overland::Neighbourhood &n, int innerStep,
                                   overland::OutflowState &outflow) const {
  const int method = settings_.Method;
  const overland::SlopeResult slope = overland::SurfaceSlope(n, method);
  int slopeCase = slope.Case;
  if (ReportPending())
    fpe_.Report(r, c, slopeCase, innerStep, slope.Slope, slope.Aspect, n.Depth,
                (*grids_.DirectFlow)[r][c], n.Storage);
  LoadOutflow(r, c, outflow);
  overland::NormalisationReport normalisation;
  if (ReportPending()) {
    normalisation.Pending = fpe_.Pending;
    normalisation.Report = [&, r, c](int direction, double before, double sum, double after) {
      fpe_.Report(r, c, direction, slopeCase, before, sum, after, slope.Slope, slope.Aspect);
    };
  }
  overland::DistributeOutflow(n, method, slopeCase, innerStep, slope.Slope, slope.Aspect, outflow,
                              normalisation);
  StoreOutflow(r, c, outflow);
  return slopeCase;
}

int OverlandPasses::ReuseDistribution(long r, long c, const TerrainOutflow &kept,
                                      overland::OutflowState &outflow) const {
  LoadOutflow(r, c, outflow);
  // River cells keep their state, as the distribution leaves it.
  if (kept.SlopeCase == overland::kInteriorCell || kept.SlopeCase == overland::kEdgeCell) {
    overland::PerDirection shares{};
    std::copy(kept.Weights.begin(), kept.Weights.end(), shares.begin() + 1);
    shares[0] = overland::UnchangedDirections(outflow.Weights, shares);
    outflow.Weights = shares;
    outflow.MainDirection = kept.MainDirection;
    outflow.WaterSurface =
        overland::WaterSurfaceLevel((*grids_.Elevation)[r][c], (*grids_.Storage)[r][c]);
  }
  StoreOutflow(r, c, outflow);
  return kept.SlopeCase;
}

void OverlandPasses::FlowOfCell(long r, long c, int slopeCase,
                                const overland::OutflowState &outflow, int innerStep,
                                int recomputeStep, const overland::Neighbourhood *known) const {
  double *fluxes = (*grids_.Fluxes)[r][c];
  if (overland::KeepsLastFlow(outflow, settings_, innerStep, recomputeStep)) {
    // Velocities and fluxes stay; no neighbourhood or land use is needed.
    overland::SetMainDirectionFlux(outflow.MainDirection, fluxes);
    return;
  }
  double *velocity = (*grids_.Velocity)[r][c];
  const auto flowOf = [&](const overland::Neighbourhood &n) {
    overland::CellFlow flow;
    std::copy(velocity, velocity + kDirections + 1, flow.Velocity.begin());
    std::copy(fluxes, fluxes + kDirections + 1, flow.Flux.begin());
    // The land-use lookup is only needed where velocities are computed.
    const overland::LandUseResistance use =
        n.Depth > 0.0 ? landUse_(r, c) : overland::LandUseResistance{};
    overland::VelocityReport report;
    if (ReportPending()) {
      report.Pending = fpe_.Pending;
      report.Report = [&, r, c](int direction, double weight, double v, double flux, double sum) {
        fpe_.Report(r, c, direction, slopeCase, weight, v, flux, n.Depth, sum);
      };
    }
    overland::FlowVelocity(n, settings_, use, (*grids_.CriticalShear)[r][c], slopeCase, outflow,
                           innerStep, recomputeStep, flow, report);
    std::copy(flow.Velocity.begin() + 1, flow.Velocity.end(), velocity + 1);
    std::copy(flow.Flux.begin(), flow.Flux.end(), fluxes);
  };
  if (known != nullptr)
    flowOf(*known);
  else
    flowOf(NeighbourhoodOf(r, c));
}

void OverlandPasses::KernelPass(int innerStep, int recomputeStep) {
  const bool terrainOnly = !overland::UsesWaterSurface(settings_.Method);
  if (innerStep == 0)
    terrainOutflowKept_ = false;
  const bool reuse = terrainOnly && innerStep > 0 && terrainOutflowKept_;
  CellIteration(cells_).ForEachCell([&](long r, long c) {
    TerrainOutflow &kept = TerrainOutflowOf(r, c);
    overland::OutflowState outflow;
    // A pending floating-point error is reported with the cell's slope.
    if (reuse && !ReportPending()) {
      const int slopeCase = ReuseDistribution(r, c, kept, outflow);
      FlowOfCell(r, c, slopeCase, outflow, innerStep, recomputeStep, nullptr);
      return;
    }
    const overland::Neighbourhood n = NeighbourhoodOf(r, c);
    const int slopeCase = DistributeCell(r, c, n, innerStep, outflow);
    if (terrainOnly) {
      std::copy(outflow.Weights.begin() + 1, outflow.Weights.end(), kept.Weights.begin());
      kept.MainDirection = outflow.MainDirection;
      kept.SlopeCase = slopeCase;
    }
    FlowOfCell(r, c, slopeCase, outflow, innerStep, recomputeStep, &n);
  });
  if (terrainOnly && innerStep == 0)
    terrainOutflowKept_ = true;
}

double OverlandPasses::MinimumTimeStep() const {
  double minimum = overland::kNoStepLimit;
  const CellIteration cells(cells_);
#pragma omp parallel for schedule(runtime) reduction(min : minimum)
  for (long r = cells.FirstRow(); r <= cells.LastRow(); ++r) {
    const RowColumnRange columns = cells.Columns(r);
    for (long c = columns.first; c <= columns.last; ++c) {
      if (!cells.IsComputed(r, c))
        continue;
      overland::PerDirection w{}, v{};
      std::copy((*grids_.Weights)[r][c], (*grids_.Weights)[r][c] + kDirections + 1, w.begin());
      std::copy((*grids_.Velocity)[r][c], (*grids_.Velocity)[r][c] + kDirections + 1, v.begin());
      minimum = std::min(minimum, overland::CellStepLimit(w, v, raster_.CellSize));
    }
  }
  return minimum;
}

void OverlandPasses::LimitOutflow(double step) const {
  // A cell gives away at most its water: its neighbours then take the cut
  // fluxes, so that no water is created.
  CellIteration(cells_).ForEachCell([&](long r, long c) {
    double *fluxes = (*grids_.Fluxes)[r][c];
    overland::PerDirection f{};
    std::copy(fluxes, fluxes + kDirections + 1, f.begin());
    const double factor =
        overland::OutflowLimit((*grids_.Storage)[r][c], raster_.CellSize, step, f);
    overland::ScaleOutflow(f, factor);
    std::copy(f.begin(), f.end(), fluxes);
  });
}

void OverlandPasses::KeepStartConcentrations() const {
  // The strip and its halo rows: a cell reads its neighbours as they were.
  const long first = std::max(cells_.FirstRow - 1, 1L);
  const long last = std::min(cells_.LastRow + 1, raster_.Rows);
  for (const OverlandTracer &t : tracers_)
    for (long r = first; r <= last; ++r)
      if (t.Concentration->HasRow(r))
        std::copy_n((*t.Concentration)[r], raster_.Columns + 1, (*t.Start)[r]);
}

void OverlandPasses::StoragePass(double step) const {
  const Stack &fluxes = *grids_.Fluxes;
  const std::size_t tracerCount = tracers_.size();
  KeepStartConcentrations();
  CellIteration(cells_).ForEachCell([&](long r, long c) {
    std::array<double, kMaxOverlandTracers> mass{}, start{}, concentration{};
    double inflow = 0.0;
    for (int d = 1; d <= kDirections; ++d) {
      const auto i = static_cast<std::size_t>(d);
      const long rr = r + overland::kRowOffset[i];
      const long cc = c + overland::kColumnOffset[i];
      if (rr < 1 || rr > raster_.Rows || cc < 1 || cc > raster_.Columns || !IsValid(rr, cc))
        continue;
      const double flux = fluxes[rr][cc][overland::Opposite(d)];
      inflow += flux;
      for (std::size_t t = 0; t < tracerCount; ++t)
        mass[t] += flux * (*tracers_[t].Start)[rr][cc];
    }
    double outflow = 0.0;
    for (int d = 1; d <= kDirections; ++d)
      outflow += std::max(fluxes[r][c][d], 0.0);
    for (std::size_t t = 0; t < tracerCount; ++t) {
      mass[t] *= step * 1000.0;
      start[t] = (*tracers_[t].Start)[r][c];
    }
    const overland::CellBalance b = overland::UpdateCellStorage(
        (*grids_.Storage)[r][c], inflow * step, outflow * step, raster_.CellSize,
        std::span<const double>(start.data(), tracerCount),
        std::span<const double>(mass.data(), tracerCount),
        std::span<double>(concentration.data(), tracerCount));
    (*grids_.QIn)[r][c] = b.Inflow;
    (*grids_.QOut)[r][c] = b.Outflow;
    double &s = (*grids_.Storage)[r][c];
    s = b.Storage;
    const bool river = IsRiver(r, c);
    for (std::size_t t = 0; t < tracerCount; ++t) {
      double &delivered = (*tracers_[t].River)[r][c];
      double &own = (*tracers_[t].Concentration)[r][c];
      // The tracer leaves with the water into a river cell's D.
      delivered = river ? delivered + concentration[t] * s : 0.0;
      own = river ? 0.0 : concentration[t];
    }
    if (river) {
      (*grids_.DirectFlow)[r][c] += s;
      s = 0.0;
      (*grids_.Depth)[r][c] = 0.0;
    } else {
      (*grids_.DirectFlow)[r][c] = 0.0;
      (*grids_.Depth)[r][c] = s / 1000.0;
    }
  });
}

} // namespace tavro
