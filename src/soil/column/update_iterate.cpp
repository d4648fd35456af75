// The iterate update of a soil column.
#include "soil/column/update_iterate.h"

#include "soil/column/balance_layers.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace tavro {

double UpdateIterate(const ColumnGeometry &geometry, ColumnState &state, int iteration,
                     int startLayer, double dt) {
  const int n = geometry.layers;
  const int last = ActiveDepth(state, std::max(state.groundwater_layer, startLayer), n);
  double change = 0.0;
  for (int k = 1; k <= last; ++k) {
    const auto i = static_cast<std::size_t>(k);
    const double w = BalancedTheta(geometry, state, k, dt);
    const double previous = state.theta[i];
    change = std::max(change, std::fabs(previous - w));
    state.theta[i] = w;
    if (iteration <= 3) {
      state.theta_iter[i] = 0.5 * (previous + w);
    } else {
      const double c = iteration - 3;
      state.theta_iter[i] = (c * state.theta_iter[i] + w) / (c + 1.0);
    }
  }
  return change;
}

} // namespace tavro
