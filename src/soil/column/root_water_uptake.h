// Root water uptake and soil evaporation of one land-use layer: the root
// distribution over the rooted soil layers, its reduction where a layer is
// too dry or too wet (moved to the layer below where it can be), the
// transpiration demanded of each layer and the soil evaporation from the
// top layers down to the soil's evaporation depth.
#pragma once

#include "soil/column/column_state.h"

#include <cstddef>

namespace tavro {

// The land-use and rate values of one land-use layer.
struct RootUptakeInputs {
  double rootDist = 0.0;               // shape a of the root distribution
  double hReduDry = 0.0;               // suction of the dry stress limit, m
  double tReduWet = 1.0;               // share of theta_s above which wet stress starts
  double limitReduWet = 0.0;           // uptake factor at saturation
  double potentialEvaporation = 0.0;   // potential soil evaporation rate, m/s
  double coverage = 0.0;               // vegetation coverage degree
  double potentialTranspiration = 0.0; // m/s
};

// The weights of the root distribution down to root depth R (written back
// raised to dz[1]) into root_share and root_distribution; returns the
// number of rooted layers.
int RootDistribution(const ColumnGeometry &geometry, ColumnState &state, double &rootDepth,
                     double rootDist);

// The stress factor of a layer at water content w: 1 without stress.
double WaterStressFactor(double w, double dryLimit, double thetaR, double thetaS, double tReduWet,
                         double limitReduWet);

// Soil evaporation rates per layer (into root_evaporation) from the demand E0.
void SoilEvaporation(const ColumnGeometry &geometry, ColumnState &state, double demand,
                     double coverage, double dt);

// Transpiration (m/s per layer, into state.root_transpiration) and soil
// evaporation (into state.root_evaporation) demanded by one land-use layer;
// theta is not changed. Returns the number of rooted layers.
template <class Hydraulics>
int RootWaterUptake(const Hydraulics &soil, const ColumnGeometry &geometry, ColumnState &state,
                    const RootUptakeInputs &in, double &rootDepth, double dt) {
  const int m = RootDistribution(geometry, state, rootDepth, in.rootDist);
  const int g = state.groundwater_layer;
  double lost = 0.0;
  for (int j = 1; j <= m; ++j) {
    const auto i = static_cast<std::size_t>(j);
    double dry = soil.Theta(j, in.hReduDry);
    if (geometry.theta_r[i] >= dry)
      dry = (2.0 * geometry.theta_r[i] + geometry.theta_s[i]) / 3.0;
    const double factor = WaterStressFactor(state.theta[i], dry, geometry.theta_r[i],
                                            geometry.theta_s[i], in.tReduWet, in.limitReduWet);
    if (!(factor < 1.0))
      continue;
    const double moved = (1.0 - factor) * state.root_distribution[i];
    state.root_distribution[i] -= moved;
    if (j < g && j < m) {
      double &next = state.root_distribution[i + 1];
      if (moved <= 2.0 * next) {
        next += moved;
      } else {
        lost += moved - 2.0 * next;
        next *= 3.0;
      }
    } else {
      lost += moved;
    }
  }
  for (int k = 1; k <= geometry.layers; ++k)
    state.root_transpiration[static_cast<std::size_t>(k)] =
        k <= m ? in.coverage * in.potentialTranspiration *
                     state.root_distribution[static_cast<std::size_t>(k)]
               : 0.0;
  const double demand = lost * in.potentialTranspiration * in.coverage + in.potentialEvaporation;
  SoilEvaporation(geometry, state, demand, in.coverage, dt);
  return m;
}

} // namespace tavro
