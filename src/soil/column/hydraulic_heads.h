// The hydraulic heads of a soil column: the centre height of each layer less
// the mean of its suctions at the start of the internal step and at the
// current iterate; the groundwater layer takes the table height, the layers
// below the table are hydrostatic.
#pragma once

#include "soil/column/column_state.h"

#include <algorithm>

namespace tavro {

// Heads of layers 1..min(n - 1, active depth) (layer 1 when n is 1).
// iteration 0 also computes suction_old from theta_old.
template <class Hydraulics>
void ComputeHydraulicHeads(const Hydraulics &soil, const ColumnGeometry &geometry,
                           ColumnState &state, int iteration, int startLayer) {
  const int n = geometry.layers;
  const int g = state.groundwater_layer;
  const int last = n == 1 ? 1 : std::min(n - 1, ActiveDepth(state, std::max(g, startLayer), n));
  const double table = state.table_height;
  for (int j = 1; j <= last; ++j) {
    const auto i = static_cast<std::size_t>(j);
    const double f = LiquidFraction(state, j);
    if (iteration == 0)
      state.suction_old[i] = soil.Suction(j, f * state.theta_old[i]);
    const double psi = 0.5 * (soil.Suction(j, f * state.theta_iter[i]) + state.suction_old[i]);
    state.last_mean_suction = psi;
    const double centre = LayerCentre(state, j);
    if (j < g) {
      state.head[i] = centre - psi;
    } else if (j == g) {
      state.head[i] =
          state.z_bottom[i - 1] >= table && table >= state.z_bottom[i] ? table : centre - psi;
    } else {
      const double tableHead = state.head[static_cast<std::size_t>(g)];
      state.head[i] = tableHead > centre ? tableHead : centre - psi;
    }
  }
}

} // namespace tavro
