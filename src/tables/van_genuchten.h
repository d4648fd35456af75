// Closed forms of the van Genuchten retention curve, the Mualem relative
// conductivity and the freezing curve built on the retention curve. Pure
// point formulas on plain values; the soil record tabulates them once and
// its lookups interpolate in the tables instead of calling these.
#pragma once

#include <cmath>

namespace tavro::van_genuchten {

// Effective saturation Se = (1 / (1 + (alpha * h)^n))^m at suction h (m).
inline double EffectiveSaturation(double h, double alpha, double n, double m) {
  return std::pow(1.0 / (1.0 + std::pow(alpha * h, n)), m);
}

// Water content at suction h (m).
inline double WaterContent(double h, double thetaRes, double thetaSat, double alpha, double n,
                           double m) {
  return thetaRes + (thetaSat - thetaRes) * EffectiveSaturation(h, alpha, n, m);
}

// Mualem relative conductivity Se^tau * (1 - (1 - Se^(1/m))^m)^2.
inline double MualemRelativeConductivity(double effectiveSaturation, double m, double tau) {
  const double inner = 1.0 - std::pow(1.0 - std::pow(effectiveSaturation, 1.0 / m), m);
  return std::pow(effectiveSaturation, tau) * inner * inner;
}

// Liquid share of the soil water at temperature T (degC, below 0): the
// retention curve at the suction |x * T|, x being the suction equivalent of
// one degree of freezing-point depression (m per degree).
inline double UnfrozenFraction(double T, double x, double alpha, double n, double m) {
  const double a = std::fabs(x * T) * alpha;
  return std::pow(1.0 / (1.0 + std::pow(a, n)), m);
}

// Slope of UnfrozenFraction per degree (positive: the share grows towards 0 degC).
inline double UnfrozenFractionSlope(double T, double x, double alpha, double n, double m) {
  const double a = std::fabs(x * T) * alpha;
  return m * n * alpha * x * std::pow(a, n - 1.0) * std::pow(1.0 + std::pow(a, n), -m - 1.0);
}

} // namespace tavro::van_genuchten
