// Natural cubic splines: the tridiagonal solution and the evaluation.
#include "meteo/interpolation/cubic_spline.h"

#include <algorithm>

namespace tavro::interpolation {
namespace {

[[noreturn]] void ThrowEqual(std::span<const double> x, std::size_t first, std::size_t second) {
  throw EqualAbscissae{x[first], first + 1, x[second], second + 1};
}

} // namespace

void SecondDerivatives(std::span<const double> x, std::span<const double> y, std::span<double> y2,
                       std::span<double> work) {
  const std::size_t n = std::min(x.size(), y.size());
  if (n == 0)
    return;
  for (std::size_t k = 0; k + 1 < n; ++k)
    if (x[k + 1] == x[k])
      ThrowEqual(x, k, k + 1);
  std::span<double> u = work;
  // Natural start: no curvature at the first node.
  y2[0] = 0.0;
  u[0] = 0.0;
  for (std::size_t k = 1; k + 1 < n; ++k) {
    const double sig = (x[k] - x[k - 1]) / (x[k + 1] - x[k - 1]);
    const double p = sig * y2[k - 1] + 2.0;
    y2[k] = (sig - 1.0) / p;
    u[k] = (6.0 * ((y[k + 1] - y[k]) / (x[k + 1] - x[k]) - (y[k] - y[k - 1]) / (x[k] - x[k - 1])) /
                (x[k + 1] - x[k - 1]) -
            sig * u[k - 1]) /
           p;
  }
  // Natural end, then the back substitution.
  y2[n - 1] = 0.0;
  for (std::size_t k = n - 1; k-- > 0;)
    y2[k] = y2[k] * y2[k + 1] + u[k];
}

void RunSecondDerivatives(std::span<const double> x, std::span<const double> y,
                          std::span<double> y2, std::span<double> work, double validFrom) {
  const std::size_t n = std::min(x.size(), y.size());
  std::size_t k = 0;
  while (k < n) {
    if (!(y[k] >= validFrom)) {
      y2[k++] = 0.0;
      continue;
    }
    const std::size_t start = k;
    while (k < n && y[k] >= validFrom)
      ++k;
    const std::size_t length = k - start;
    SecondDerivatives(x.subspan(start, length), y.subspan(start, length), y2.subspan(start, length),
                      work);
  }
}

double Evaluate1D(std::span<const double> x, std::span<const double> y, std::span<const double> y2,
                  double a, double validFrom, double missing, SplineInterval &interval) {
  const std::size_t n = std::min({x.size(), y.size(), y2.size()});
  if (n < 2 || !(a >= x[0] && a <= x[n - 1]))
    return missing;
  // The interval [x[k], x[k + 1]) holding a, the last one closed.
  std::size_t k = std::min(interval.Low, n - 2);
  while (k > 0 && a < x[k])
    --k;
  while (k < n - 2 && a >= x[k + 1])
    ++k;
  interval.Low = k;
  const auto valid = [&](std::size_t i) { return y[i] >= validFrom; };
  std::size_t lo = k, hi = k + 1;
  if (!valid(lo) || !valid(hi)) {
    // A point on the last node of a run belongs to the run's last interval.
    if (!(a == x[lo] && lo > 0 && valid(lo) && valid(lo - 1)))
      return missing;
    hi = lo;
    lo = lo - 1;
  }
  const double h = x[hi] - x[lo];
  if (h == 0.0)
    ThrowEqual(x, lo, hi);
  const double A = (x[hi] - a) / h;
  const double B = (a - x[lo]) / h;
  return A * y[lo] + B * y[hi] +
         ((A * A * A - A) * y2[lo] + (B * B * B - B) * y2[hi]) * h * h / 6.0;
}

} // namespace tavro::interpolation
