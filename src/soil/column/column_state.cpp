// Sizing, reset and active depths of a soil column's state.
#include "soil/column/column_state.h"

#include <algorithm>

namespace tavro {
namespace {

// base widened downward by every following layer that exchanges with a river.
int WidenByExchange(const ColumnState &state, int base, int layers) {
  int i = base;
  while (i < layers && (state.exchange_in[static_cast<std::size_t>(i + 1)] > 0.0 ||
                        state.exchange_out[static_cast<std::size_t>(i + 1)] > 0.0))
    ++i;
  return i;
}

} // namespace

void ColumnState::Resize(int maxLayers) {
  const auto size = static_cast<std::size_t>(std::max(maxLayers, 0)) + 1;
  for (std::vector<double> *array : {&theta,
                                     &theta_old,
                                     &theta_iter,
                                     &theta_new,
                                     &suction_old,
                                     &head,
                                     &z_bottom,
                                     &flux,
                                     &interflow_out,
                                     &exchange_in,
                                     &exchange_out,
                                     &liquid_fraction,
                                     &supply,
                                     &withdrawal,
                                     &transpiration,
                                     &evaporation,
                                     &root_transpiration,
                                     &root_evaporation,
                                     &transpiration_demand,
                                     &ksat,
                                     &root_share,
                                     &root_distribution,
                                     &macropore_capacity,
                                     &macropore_inflow})
    array->assign(size, 0.0);
}

void ColumnState::ResetStep(int layers) {
  const auto end = static_cast<std::ptrdiff_t>(layers) + 1;
  for (std::vector<double> *array : {&flux, &interflow_out, &exchange_in, &exchange_out, &supply,
                                     &withdrawal, &transpiration, &evaporation})
    std::fill(array->begin(), array->begin() + end, 0.0);
  std::copy(theta.begin(), theta.begin() + end, theta_old.begin());
  std::copy(theta.begin(), theta.begin() + end, theta_iter.begin());
  std::copy(theta.begin(), theta.begin() + end, theta_new.begin());
  river_infiltration_sum = 0.0;
  exfiltration_sum = 0.0;
  drainage_rate = 0.0;
}

int ActiveDepth(const ColumnState &state, int base, int layers) {
  return std::min(layers, WidenByExchange(state, base, layers) + 2);
}

int FluxActiveDepth(const ColumnState &state, int groundwaterLayer, int startLayer, int layers) {
  const int i = WidenByExchange(state, std::max(groundwaterLayer + 1, startLayer), layers);
  return std::min(i, layers - 1);
}

} // namespace tavro
