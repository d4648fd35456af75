// Shepard's inverse distance weighting with the three weight codes.
#include "meteo/interpolation/inverse_distance.h"

#include <cmath>

namespace tavro::interpolation {
namespace {

// Scaled: multiply the x differences by xScale (anisotropy); the plain form
// skips that multiplication. Only valid stations within the radius get a
// weight and enter the sums (the distance of every station is computed, so
// that the loop has one branch per station).
template <bool Scaled>
double Weighted(std::span<const double> x, std::span<const double> y,
                std::span<const double> values, std::span<double> weights, double px, double py,
                double xScale, const InverseDistanceSettings &s) {
  const std::size_t n = values.size();
  double weightSum = 0.0;
  double valueSum = 0.0;
  const double maxDistance = s.MaxDistance;
  const double validFrom = s.ValidFrom;
  if (s.Code == 2000) {
    for (std::size_t k = 0; k < n; ++k) {
      const double v = values[k];
      const double dx = Scaled ? (x[k] - px) * xScale : x[k] - px;
      const double dy = y[k] - py;
      double d2 = dx * dx + dy * dy;
      if (d2 == 0.0)
        d2 = 1.0;
      double w = 0.0;
      if (d2 <= maxDistance && v >= validFrom) {
        w = 1.0 / d2;
        weightSum += w;
        valueSum += w * v;
      }
      weights[k] = w;
    }
  } else {
    for (std::size_t k = 0; k < n; ++k) {
      const double v = values[k];
      const double dx = Scaled ? (x[k] - px) * xScale : x[k] - px;
      const double dy = y[k] - py;
      double d2 = dx * dx + dy * dy;
      if (d2 == 0.0)
        d2 = 1.0;
      const double d = std::sqrt(d2);
      double w = 0.0;
      if (d <= maxDistance && v >= validFrom) {
        w = s.Code == 1000 ? 1.0 / d : std::pow(d, -s.Exponent);
        weightSum += w;
        valueSum += w * v;
      }
      weights[k] = w;
    }
  }
  if (weightSum == 0.0)
    return s.Missing;
  return valueSum / weightSum;
}

} // namespace

int WeightCode(double exponent) { return static_cast<int>(std::floor(1000.0 * exponent)); }

double InverseDistance(std::span<const double> x, std::span<const double> y,
                       std::span<const double> values, std::span<double> weights, double px,
                       double py, const InverseDistanceSettings &settings) {
  return Weighted<false>(x, y, values, weights, px, py, 1.0, settings);
}

double InverseDistanceAnisotropic(std::span<const double> x, std::span<const double> y,
                                  std::span<const double> values, std::span<double> weights,
                                  double px, double py, double ratio,
                                  const InverseDistanceSettings &settings) {
  return Weighted<true>(x, y, values, weights, px, py, ratio, settings);
}

} // namespace tavro::interpolation
