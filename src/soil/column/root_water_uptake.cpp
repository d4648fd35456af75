// Root distribution, water stress and soil evaporation of a land-use layer.
#include "soil/column/root_water_uptake.h"

#include <algorithm>

namespace tavro {

int RootDistribution(const ColumnGeometry &geometry, ColumnState &state, double &rootDepth,
                     double rootDist) {
  const int n = geometry.layers;
  if (rootDepth < geometry.dz[1])
    rootDepth = geometry.dz[1];
  const double r = rootDepth;
  const double a = state.z_bottom[0] - r - 1e-5; // height of the root tips
  double sum = 0.0;
  int m = 0;
  for (int j = 0; j <= n; ++j) {
    state.root_share[static_cast<std::size_t>(j)] = 0.0;
    state.root_distribution[static_cast<std::size_t>(j)] = 0.0;
  }
  for (int i = 1;; ++i) {
    const auto k = static_cast<std::size_t>(i);
    const bool whole = a < state.z_bottom[k];
    const double d = whole ? geometry.dz[k] : state.z_bottom[k - 1] - a - 1e-5;
    const double h = whole ? state.z_bottom[0] - state.z_bottom[k] - d / 2.0 : r - d / 2.0;
    state.root_share[k] = d / r;
    state.root_distribution[k] = (1.0 - h / r) * (1.0 + rootDist * h / r) * d / r;
    sum += state.root_distribution[k];
    m = i;
    if (!(whole && i < n))
      break;
  }
  if (sum != 0.0)
    for (int i = 1; i <= m; ++i)
      state.root_distribution[static_cast<std::size_t>(i)] /= sum;
  return m;
}

double WaterStressFactor(double w, double dryLimit, double thetaR, double thetaS, double tReduWet,
                         double limitReduWet) {
  const double wet = tReduWet * thetaS;
  if (w > wet) {
    const double x = std::min(thetaS, w);
    if (wet == thetaS)
      return 1.0;
    return 1.0 * (thetaS - x) / (thetaS - wet) + limitReduWet * (x - wet) / (thetaS - wet);
  }
  if (w < dryLimit)
    return w > thetaR ? (w - thetaR) / (dryLimit - thetaR) : 0.0;
  return 1.0;
}

void SoilEvaporation(const ColumnGeometry &geometry, ColumnState &state, double demand,
                     double coverage, double dt) {
  const int n = geometry.layers;
  for (int j = 0; j <= n; ++j)
    state.root_evaporation[static_cast<std::size_t>(j)] = 0.0;
  double e0 = demand;
  double depth = 0.0;
  for (int k = 1; k <= n; ++k) {
    const auto i = static_cast<std::size_t>(k);
    const double w = state.theta[i];
    const double d = (geometry.theta_s[i] - w) / geometry.theta_s[i];
    double p = (1.0 - d * d) * e0;
    if (w <= (state.root_transpiration[i] * coverage + p) * dt / geometry.dz[i])
      p = (1.0 - coverage) * w * geometry.dz[i] / dt;
    state.root_evaporation[i] = std::min(e0, p);
    e0 -= state.root_evaporation[i];
    depth += geometry.dz[i];
    if (!(depth < geometry.EvapMaxDepth))
      break;
  }
}

} // namespace tavro
