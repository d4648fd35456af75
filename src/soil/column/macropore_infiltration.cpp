// Macropore infiltration.
#include "soil/column/macropore_infiltration.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace tavro {

double MacroporeInfiltration(const ColumnGeometry &geometry, ColumnState &state, double &q,
                             double t_ms) {
  const int n = geometry.layers;
  for (int j = 0; j <= n; ++j) {
    state.macropore_capacity[static_cast<std::size_t>(j)] = 0.0;
    state.macropore_inflow[static_cast<std::size_t>(j)] = 0.0;
  }
  if (q <= geometry.PMacroThresh)
    return 0.0;
  // The layers whose centre lies above the macropore depth.
  int deepest = 0;
  if (geometry.MacroDepth - geometry.dz[1] / 2.0 > 0.0) {
    double bottom = 0.0;
    for (int i = 1;; ++i) {
      const auto k = static_cast<std::size_t>(i);
      const double centre = bottom + geometry.dz[k] / 2.0;
      state.macropore_capacity[k] =
          geometry.MacroCapacity * std::pow(geometry.CapacityRedu, centre);
      deepest = i;
      bottom += geometry.dz[k];
      if (!(i < n && geometry.MacroDepth - geometry.dz[k + 1] / 2.0 > bottom))
        break;
    }
  }
  double e = std::min(geometry.MacroCapacity, q - geometry.PMacroThresh);
  if (deepest == 0 || e <= 0.0)
    return 0.0;
  double total = 0.0; // mm
  for (int i = deepest; i >= 1 && e > 0.0; --i) {
    const auto k = static_cast<std::size_t>(i);
    const double room = (geometry.theta_s[k] - state.theta[k]) * geometry.dz[k] * 1000.0; // mm
    if (room <= 0.0)
      continue;
    const double capacity = state.macropore_capacity[k];
    if (room < e * t_ms && room < capacity * t_ms) {
      state.theta[k] = geometry.theta_s[k];
      state.macropore_inflow[k] = room / t_ms;
      e -= room / t_ms;
      total += room;
    } else if (e <= capacity) {
      state.theta[k] += e * t_ms / (1000.0 * geometry.dz[k]);
      state.macropore_inflow[k] = e;
      total += e * t_ms;
      e = 0.0;
    } else {
      state.theta[k] += capacity * t_ms / (1000.0 * geometry.dz[k]);
      state.macropore_inflow[k] = capacity;
      total += capacity * t_ms;
      e -= capacity;
    }
  }
  q -= total / t_ms;
  return total;
}

} // namespace tavro
