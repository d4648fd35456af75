// Shepard's inverse distance weighting with the three weight codes.
#include "meteo/interpolation/inverse_distance.h"

#include <cmath>

namespace tavro::interpolation {
namespace {

// Squared distance of a station from the point; a station at the point
// itself counts as being at distance 1.
template <bool Scaled>
inline double SquaredDistance(double xk, double yk, double px, double py, double xScale) {
  const double dx = Scaled ? (xk - px) * xScale : xk - px;
  const double dy = yk - py;
  const double d2 = dx * dx + dy * dy;
  return d2 == 0.0 ? 1.0 : d2;
}

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
  const auto add = [&](std::size_t k, double w) {
    weights[k] = w;
    weightSum += w;
    valueSum += w * values[k];
  };
  if (s.Code == 2000) {
    for (std::size_t k = 0; k < n; ++k) {
      const double d2 = SquaredDistance<Scaled>(x[k], y[k], px, py, xScale);
      if (d2 <= maxDistance && values[k] >= validFrom)
        add(k, 1.0 / d2);
      else
        weights[k] = 0.0;
    }
  } else {
    for (std::size_t k = 0; k < n; ++k) {
      const double d = std::sqrt(SquaredDistance<Scaled>(x[k], y[k], px, py, xScale));
      if (d <= maxDistance && values[k] >= validFrom)
        add(k, s.Code == 1000 ? 1.0 / d : std::pow(d, -s.Exponent));
      else
        weights[k] = 0.0;
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
