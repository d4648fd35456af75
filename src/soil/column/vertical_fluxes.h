// The vertical Darcy fluxes between the layers of a soil column, with the
// conductivity of each boundary, the interflow and artificial drainage out
// of each layer above the groundwater table, and the limiting of every flux
// against a reversal of the head difference.
#pragma once

#include "soil/column/clay_layer.h"
#include "soil/column/column_boundaries.h"
#include "soil/column/column_state.h"
#include "soil/column/drainage.h"
#include "soil/column/flux_bisection.h"
#include "soil/column/interflow.h"
#include "soil/column/permafrost_ksat.h"

#include <algorithm>
#include <cstddef>
#include <span>

namespace tavro {

// Flux across the common boundary of two layers (m/s, positive upward).
inline double DarcyFlux(double k, double headUpper, double headLower, double dzUpper,
                        double dzLower) {
  return -k * (headUpper - headLower) / ((dzUpper + dzLower) / 2.0);
}

// The cell's values that the fluxes need beside its column.
struct FluxCellValues {
  double inputRate = 0.0;        // surface water input rate, m/s (downward positive)
  int clayLayer = 0;             // 0: none
  double ksatClay = 0.0;         // m/s
  double drainageDensity = 0.0;  // of the cell's subbasin
  double tanBeta = 0.0;          // the cell's "tangens_beta"
  int drainageLevel = 0;         // 0: no drains
  double drainageDistance = 0.0; // m
  double cellSize = 0.0;         // m
  bool topFrozen = false;        // layer 1 over permafrost
  double reducedKsat = 1e-9;     // m/s
  // With the groundwater module coupled: the cell at its river; none: no
  // exchange with surface water.
  const RiverCell *river = nullptr;
};

// The exchange of the column with the river of its cell in this iteration:
// exchange_in, exchange_out and both sums, always written.
inline void ExchangeColumnWithRiver(const ColumnGeometry &geometry, ColumnState &state,
                                    const RiverCell &river, double dt) {
  const int n = geometry.layers;
  const auto size = static_cast<std::size_t>(n) + 1;
  const int g = std::clamp(state.groundwater_layer, 1, n);
  const ExchangeColumn column{geometry.theta_s.first(size),
                              std::span<const double>(state.theta_old).first(size),
                              std::span<const double>(state.theta_iter).first(size),
                              std::span<const double>(state.z_bottom).first(size),
                              std::span<const double>(state.head).first(size),
                              geometry.dz.first(size),
                              n,
                              state.groundwater_layer,
                              geometry.theta_fc[static_cast<std::size_t>(g)],
                              dt};
  const SurfaceWaterExchange exchange =
      ExchangeWithSurfaceWater(river, column, state.exchange_in, state.exchange_out);
  state.river_infiltration_sum = exchange.riverInfiltration;
  state.exfiltration_sum = exchange.exfiltration;
}

// The conductivity of the boundary between layers k and k + 1 (k <= g),
// from the relative conductivities of both layers, neither more than
// maxratio times the other.
template <class Hydraulics>
double UnsaturatedBoundaryConductivity(const Hydraulics &soil, const ColumnGeometry &geometry,
                                       const ColumnState &state, int k) {
  const auto u = static_cast<std::size_t>(k);
  const auto l = u + 1;
  double ku =
      soil.Krel(k, 0.5 * (state.theta_old[u] + state.theta_iter[u]), LiquidFraction(state, k));
  double kl = soil.Krel(k + 1, 0.5 * (state.theta_old[l] + state.theta_iter[l]),
                        LiquidFraction(state, k + 1));
  const double r = geometry.maxratio;
  if (ku > kl * r)
    kl = ku / r;
  else if (ku * r < kl)
    ku = kl / r;
  if (ku == 0.0)
    ku = kl;
  else if (kl == 0.0)
    kl = ku;
  ku *= state.ksat[u];
  kl *= state.ksat[l];
  if (k >= state.groundwater_layer - 1) {
    const double divisor = kl * geometry.dz[u] + ku * geometry.dz[l];
    return divisor == 0.0 ? 0.0 : ku * kl * (geometry.dz[u] + geometry.dz[l]) / divisor;
  }
  return std::max(ku, kl);
}

// Interflow and drainage out of layer k (sets interflow_out[k] and, in the
// drained layer, drainage_rate).
template <class Hydraulics>
void ComputeLateralOutflow(const Hydraulics &soil, const ColumnGeometry &geometry,
                           ColumnState &state, const FluxCellValues &cell, int k, double dt) {
  const auto i = static_cast<std::size_t>(k);
  const int n = geometry.layers;
  if (k >= state.groundwater_layer || state.z_bottom[i] - state.head[i] >= kInterflowSuctionLimit) {
    state.interflow_out[i] = 0.0;
    return;
  }
  const double qmax = DrainableRate(state.theta_iter[i], geometry.theta_fc[i], geometry.dz[i], dt);
  const double below = k < n ? state.ksat[i + 1] : state.ksat[i];
  const bool interflow = state.ksat[i] > below && cell.drainageDensity * cell.tanBeta != 0.0;
  const bool drained = cell.drainageLevel > 0 && k == cell.drainageLevel;
  if (!interflow && !drained) {
    state.interflow_out[i] = 0.0;
    return;
  }
  const double krel = soil.Krel(k, state.theta_iter[i], LiquidFraction(state, k));
  double out =
      InterflowRate(krel, state.ksat[i], below, geometry.dz[i], cell.drainageDensity, cell.tanBeta);
  if (drained) {
    state.drainage_rate = DrainageRate(qmax, krel, state.ksat[i], geometry.dz[i],
                                       cell.drainageDistance, cell.cellSize);
    out += state.drainage_rate;
  }
  state.interflow_out[i] = std::min(out, qmax);
}

// The fluxes of one iteration: flux[0] from the input rate, the boundaries
// 1..flux active depth by Darcy's law, the lateral outflows, then the
// limiting of each boundary from the top. state.ksat holds the
// conductivities in use (see PermafrostKsat).
template <class Hydraulics>
void ComputeVerticalFluxes(const Hydraulics &soil, const ColumnGeometry &geometry,
                           ColumnState &state, const FluxCellValues &cell, int startLayer,
                           double dt) {
  const int n = geometry.layers;
  const int g = state.groundwater_layer;
  const double input =
      cell.topFrozen ? FrozenInputRate(cell.inputRate, cell.reducedKsat) : cell.inputRate;
  state.flux[0] = -input;
  // The exchange with rivers fills exchange_in and exchange_out before the
  // active depth is widened by them.
  if (cell.river != nullptr)
    ExchangeColumnWithRiver(geometry, state, *cell.river, dt);
  const int last = FluxActiveDepth(state, g, startLayer, n);
  for (int k = 1; k <= last; ++k) {
    const auto u = static_cast<std::size_t>(k);
    double conductivity = 0.0;
    if (cell.clayLayer > 0 && (k == cell.clayLayer || k + 1 == cell.clayLayer)) {
      const auto c = static_cast<std::size_t>(cell.clayLayer);
      conductivity = ClayConductivity(
          cell.ksatClay,
          soil.Krel(k, 0.5 * (state.theta_old[c] + state.theta_iter[c]), LiquidFraction(state, k)));
    } else if (k <= g) {
      conductivity = UnsaturatedBoundaryConductivity(soil, geometry, state, k);
    } else {
      conductivity = state.ksat[u];
    }
    state.flux[u] = DarcyFlux(conductivity, state.head[u], state.head[u + 1], geometry.dz[u],
                              geometry.dz[u + 1]);
    ComputeLateralOutflow(soil, geometry, state, cell, k, dt);
  }
  const int limited = std::min(last, n - 1);
  for (int k = 1; k <= limited; ++k)
    state.flux[static_cast<std::size_t>(k)] = LimitFluxByBisection(soil, geometry, state, k, dt);
}

} // namespace tavro
