// Limiting the flux between two layers so that one step does not turn their
// head difference around: the flux and the upper layer's interflow are
// scaled together by bisection until the heads after the step agree to 1 mm.
#pragma once

#include "soil/column/column_state.h"

#include <cmath>
#include <cstddef>

namespace tavro {

// The limited flux across the boundary between layers k and k + 1 (k < n);
// flux[k - 1] is already limited. Scales interflow_out[k] in place.
template <class Hydraulics>
double LimitFluxByBisection(const Hydraulics &soil, const ColumnGeometry &geometry,
                            ColumnState &state, int k, double dt) {
  const auto u = static_cast<std::size_t>(k);
  const auto l = u + 1;
  const double a = state.theta_old[u];
  const double b = state.theta_old[l];
  const double ft = state.flux[u - 1];
  const double fb = state.flux[l];
  const double hk = state.head[u];
  const double hk1 = state.head[l];
  const double upperThickness = state.z_bottom[u - 1] - state.z_bottom[u];
  const double lowerThickness = state.z_bottom[u] - state.z_bottom[l];
  const double centreUpper = LayerCentre(state, k);
  const double centreLower = LayerCentre(state, k + 1);
  double &interflow = state.interflow_out[u];
  double fm = state.flux[u];

  auto upper = [&](double f) { return a + (f - interflow - ft) * dt / upperThickness; };
  auto lower = [&](double f) {
    return b + (fb - state.interflow_out[l] - f) * dt / lowerThickness;
  };
  double wu = upper(fm);
  if (fm > 0.0 && wu > geometry.theta_s[u]) {
    const double r = std::fabs((geometry.theta_s[u] - a) * geometry.dz[u] / dt) / fm;
    fm = r < 1.0 ? r * fm : 0.0;
    wu = upper(fm);
  }
  double hu = centreUpper - soil.Suction(k, wu);
  double hl = centreLower - soil.Suction(k + 1, lower(fm));
  auto reversed = [&] { return (hk > hk1 && hl > hu + 0.001) || (hk < hk1 && hl < hu - 0.001); };
  if (!reversed())
    return fm;

  const double fm0 = fm;
  const double i0 = interflow;
  double step = 0.5;
  double sign = -1.0;
  for (int pass = 0; pass < 51; ++pass) {
    fm += sign * step * fm0;
    interflow += sign * step * i0;
    hu = centreUpper - soil.Suction(k, upper(fm));
    hl = centreLower - soil.Suction(k + 1, lower(fm));
    if (reversed())
      sign = -1.0;
    else if (std::fabs(hl - hu) <= 0.001)
      return fm;
    else
      sign = 1.0;
    step *= 0.5;
  }
  return fm;
}

} // namespace tavro
