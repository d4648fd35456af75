// Depth integrals of a layer quantity.
#include "soil/column/integrate_over_depth.h"

#include <algorithm>
#include <cstddef>

namespace tavro {

double IntegrateOverDepth(std::span<const double> dz, std::span<const double> theta_s, int layers,
                          std::span<const double> v, int mode, double b, double c, double noData) {
  constexpr double kMargin = 1e-8;
  if (c <= 0.0 || b < -1e-4)
    return noData;
  double total = 0.0;
  for (int j = 1; j <= layers; ++j)
    total += dz[static_cast<std::size_t>(j)];
  double e = total - kMargin;
  if (c <= e && c != kColumnBottom)
    e = c;
  if (e - b <= kMargin)
    return 1.0;
  double sum = 0.0;
  double top = 0.0;
  for (int j = 1; j <= layers; ++j) {
    const auto i = static_cast<std::size_t>(j);
    const double bottom = top + dz[i];
    const double from = std::max(top, b);
    const double to = std::min(bottom, e);
    if (to - from > kMargin) {
      const double part = to - from;
      sum += mode == 1 ? v[i] * part : v[i] / theta_s[i] * part / (e - b);
    }
    top = bottom;
    if (top >= e - kMargin)
      break;
  }
  return sum;
}

} // namespace tavro
