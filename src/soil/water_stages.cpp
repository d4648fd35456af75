// The water stages of a soil column's internal step.
#include "soil/water_stages.h"

#include <algorithm>
#include <cstddef>

namespace tavro {
namespace {

std::size_t At(int k) { return static_cast<std::size_t>(k); }

// Removes rate · dt / dz from theta[j] down to floor; returns the rate removed.
double TakeDownTo(const ColumnGeometry &geometry, ColumnState &state, int j, double rate,
                  double floor, double dt) {
  const auto i = At(j);
  state.theta[i] -= rate * dt / geometry.dz[i];
  if (state.theta[i] < floor) {
    rate += (state.theta[i] - floor) * geometry.dz[i] / dt;
    state.theta[i] = floor;
  }
  return rate;
}

// Takes up to rest (m/s) out of layer j down to floor, adding it to the
// layer's withdrawal; returns what is still to be taken.
double WithdrawDownTo(const ColumnGeometry &geometry, ColumnState &state, int j, double rest,
                      double floor, double dt) {
  const auto i = At(j);
  const double held = (state.theta[i] - floor) * geometry.dz[i] / dt;
  if (!(held > 0.0))
    return rest;
  const double taken = std::min(rest, held);
  state.theta[i] = taken == held ? floor : state.theta[i] - taken * dt / geometry.dz[i];
  state.withdrawal[i] += taken;
  return rest - taken;
}

// The part of a withdrawal that the layers from the lowest unsaturated one
// down could not give: the water above field capacity of the layers above
// it (the lowest first), then, while any remains, the water above the
// residual content of every layer from the bottom up. Returns what remains.
double WithdrawFromDrainedColumn(const ColumnGeometry &geometry, ColumnState &state,
                                 int lowestUnsaturated, double rest, double dt) {
  for (int j = lowestUnsaturated - 1; j >= 1 && rest > 0.0; --j)
    rest = WithdrawDownTo(geometry, state, j, rest, geometry.theta_fc[At(j)], dt);
  for (int j = geometry.layers; j >= 1 && rest > 0.0; --j)
    rest = WithdrawDownTo(geometry, state, j, rest, geometry.theta_r[At(j)], dt);
  return rest;
}

} // namespace

void EvaporateStore(double &store, std::span<double> etp, std::span<double> real,
                    std::span<const char> valid) {
  for (std::size_t l = 1; l < etp.size(); ++l) {
    if (!valid[l])
      continue;
    if (store <= etp[l]) {
      real[l] += store;
      etp[l] -= store;
      store = 0.0;
    } else {
      real[l] += etp[l];
      store -= etp[l];
      etp[l] = 0.0;
    }
  }
}

double SnowShare(double &input, double snowStorage, double fraction) {
  if (!(snowStorage > 10.0 && input > 0.0))
    return 0.0;
  const double share = fraction * input;
  input -= share;
  return share;
}

double TakeTranspiration(const ColumnGeometry &geometry, ColumnState &state, int rootedLayers,
                         double dt) {
  const int g = state.groundwater_layer;
  const int n = geometry.layers;
  std::copy(state.root_transpiration.begin(), state.root_transpiration.end(),
            state.transpiration_demand.begin());
  for (int j = 1; j <= rootedLayers; ++j) {
    const auto i = At(j);
    if (j <= g) {
      const double floor = j == 1 ? 0.0 : geometry.theta_r[i];
      // Only a layer driven below zero is clamped.
      state.theta[i] -= state.root_transpiration[i] * dt / geometry.dz[i];
      if (state.theta[i] < 0.0) {
        state.root_transpiration[i] += (state.theta[i] - floor) * geometry.dz[i] / dt;
        state.theta[i] = floor;
      }
      continue;
    }
    // Roots below the groundwater layer draw from it and the layers under it.
    state.root_transpiration[i] = 0.0;
    const double fcg = geometry.theta_fc[At(g)];
    double demand = state.transpiration_demand[i] * dt / geometry.dz[At(g)];
    for (int c = g; c <= std::min(rootedLayers, n) && demand > 0.0; ++c) {
      const auto k = At(c);
      double taken = 0.0;
      if (state.theta[k] - demand >= fcg) {
        taken = demand;
        demand = 0.0;
      } else if (state.theta[k] > fcg) {
        taken = state.theta[k] - fcg;
        demand -= taken;
      }
      state.theta[k] -= taken;
      state.root_transpiration[k] += geometry.dz[k] * taken / dt;
      if (demand > 0.0 && c < n && geometry.dz[k + 1] != geometry.dz[k])
        demand *= geometry.dz[k] / geometry.dz[k + 1];
    }
  }
  double sum = 0.0;
  for (int j = 1; j <= rootedLayers; ++j) {
    state.transpiration[At(j)] += state.root_transpiration[At(j)];
    sum += state.root_transpiration[At(j)];
  }
  return sum;
}

double TakeSoilEvaporation(const ColumnGeometry &geometry, ColumnState &state, int rootedLayers,
                           double dt, int &layersUsed) {
  layersUsed = 0;
  double sum = 0.0;
  if (!(state.root_evaporation[1] > 0.0))
    return 0.0;
  for (int j = 1; j <= rootedLayers && state.root_evaporation[At(j)] > 0.0; ++j) {
    const double floor = j == 1 ? 0.0 : geometry.theta_r[At(j)];
    const double rate =
        state.theta[At(j)] > floor
            ? TakeDownTo(geometry, state, j, state.root_evaporation[At(j)], floor, dt)
            : 0.0;
    state.evaporation[At(j)] += rate;
    sum += rate;
    layersUsed = j;
  }
  return sum;
}

int GroundwaterLayer(const ColumnGeometry &geometry, const ColumnState &state) {
  for (int j = geometry.layers; j >= 1; --j)
    if (state.theta[At(j)] <= kSaturatedShare * geometry.theta_s[At(j)])
      return j;
  return 1;
}

double ApplyBaseflow(const ColumnGeometry &geometry, ColumnState &state, double qb, double dt,
                     BaseflowDelivery delivery) {
  const int n = geometry.layers;
  if (qb < 0.0) {
    double rest = -qb;
    int start = GroundwaterLayer(geometry, state);
    if (state.theta[At(start)] > kSaturatedShare * geometry.theta_s[At(start)])
      start = 0; // every layer is full
    for (int j = start; j >= 1 && rest > 0.0; --j) {
      const auto i = At(j);
      const double room = (geometry.theta_s[i] - state.theta[i]) * geometry.dz[i] / dt;
      const double given = std::max(0.0, std::min(room, rest));
      state.supply[i] = given;
      state.theta[i] += given * dt / geometry.dz[i];
      rest -= given;
    }
    state.supply[0] = rest;
    state.groundwater_layer = GroundwaterLayer(geometry, state);
    return qb;
  }
  const int lowestUnsaturated = GroundwaterLayer(geometry, state);
  int g = lowestUnsaturated;
  double rest = qb;
  for (int j = g; j <= n && rest > 0.0; ++j) {
    const auto i = At(j);
    const double fc = geometry.theta_fc[i];
    if (state.theta[i] > fc) {
      if (state.theta[i] - rest * dt / geometry.dz[i] >= fc) {
        state.theta[i] -= rest * dt / geometry.dz[i];
        state.withdrawal[i] = rest;
        rest = 0.0;
        break;
      }
      state.withdrawal[i] = (state.theta[i] - fc) * geometry.dz[i] / dt;
      rest -= state.withdrawal[i];
      state.theta[i] = fc;
    }
    ++g;
  }
  state.groundwater_layer = std::min(g, n);
  if (delivery == BaseflowDelivery::Whole && rest > 0.0)
    rest = WithdrawFromDrainedColumn(geometry, state, lowestUnsaturated, rest, dt);
  return qb - rest;
}

double TableHeight(const ColumnGeometry &geometry, const ColumnState &state, double netOutflow,
                   double dt, double &thetaInGwLevel) {
  const int g = state.groundwater_layer;
  const auto i = At(g);
  const auto &z = state.z_bottom;
  if (netOutflow > 0.0)
    thetaInGwLevel =
        std::max(thetaInGwLevel - netOutflow * dt / geometry.dz[i], geometry.theta_fc[i]);
  double t = 0.0;
  if (g == 1 && state.theta[1] > kSaturatedShare * geometry.theta_s[1])
    t = z[0];
  else if (geometry.theta_s[i] - thetaInGwLevel > 1e-4)
    t = z[i] +
        (state.theta[i] - thetaInGwLevel) * geometry.dz[i] / (geometry.theta_s[i] - thetaInGwLevel);
  else
    t = z[i - 1];
  t = std::max(t, z[i]);
  if (g >= 2)
    t = std::min(t, z[i - 1]);
  return t;
}

SurfaceRunoff FormSurfaceRunoff(double inputRate, double snowRate, double surfaceFlux,
                                double surfaceSupply, double silting, double maxPonding,
                                double t_ms, double &pond) {
  SurfaceRunoff r;
  r.infiltration = std::max(0.0, -surfaceFlux) * t_ms;
  if (maxPonding > 0.0) {
    // What stays at the surface after infiltration fills the pond; only the
    // overflow runs off.
    const double left = (inputRate + surfaceFlux + surfaceSupply) * t_ms;
    r.direct = std::max(0.0, left - maxPonding);
    pond = std::min(left, maxPonding);
    return r;
  }
  r.excess = std::max(0.0, (inputRate + surfaceFlux + snowRate) * t_ms);
  r.direct = r.excess + surfaceSupply * t_ms + silting;
  return r;
}

} // namespace tavro
