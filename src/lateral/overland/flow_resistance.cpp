// The empirical constants of the stem-drag model (128.9, -2.14, 0.59, ...,
// 78.5272 = 8 g) define the results and stay as they are.
#include "lateral/overland/flow_resistance.h"

#include <cmath>

namespace tavro::overland {
namespace {

double DragCoefficient(const LandUseResistance &u, double stemReynolds) {
  if (stemReynolds < 800.0)
    return 3.07 * std::pow(stemReynolds, -0.168);
  if (stemReynolds < 8000.0)
    return 1.0;
  if (stemReynolds < 10000.0)
    return 1.2;
  return u.DragCoefficient;
}

double WakeLength(const ResistanceSettings &s, double cd, double d, double j, double v) {
  double wake = 50.0 * d;
  if (!(wake > s.MaxErrorANL && s.MaxIterANL > 0))
    return wake;
  double previous = 0.0;
  for (int k = 0; k < s.MaxIterANL; ++k) {
    wake = cd * 128.9 * d * std::pow((j * wake * 9.8159) / (v * v * 0.5) + 1.0, -2.14);
    if (std::fabs(wake - previous) <= s.MaxErrorANL)
      break;
    previous = wake;
  }
  return wake;
}

double DepthRatio(const ResistanceSettings &s, double q, double froude) {
  if (s.MaxIterANL < 1)
    return 0.4;
  double x = 0.6;
  double next = x;
  for (int k = 0; k < s.MaxIterANL; ++k) {
    next = ((x - q) * 2.0 * froude) / (x * x - 1.0);
    if (std::fabs(x - next) <= 1e-4)
      break;
    x = next;
  }
  return 1.0 - next;
}

double StemDragFactor(const LandUseResistance &u, const ResistanceSettings &s, double v, double y,
                      double sigma) {
  const double d = u.StemDiameter;
  if (d < 0.001 || y < s.MinCropRoughnessDepth)
    return 0.0;
  const double ax = u.StemSpacingX;
  const double ay = u.StemSpacingY;
  const double cd = DragCoefficient(u, v * d * 1000000.0);
  const double j = cd * sigma / (v * v) > 0.04 ? v * v / cd / 25.0 : sigma;
  const double wake = WakeLength(s, cd, d, j, v);
  const double p1 = std::pow(wake, 0.59);
  const double p2 = std::pow(cd * d, 0.41);
  const double p3 = std::pow(wake / ax, -0.48);
  const double p4 = std::pow(p2 * p1 * 0.24 / ay, 1.1);
  double froude = v / std::sqrt(y * 9.8159);
  const double spacing = ay <= 5.0 * d ? 5.0 * d : ay;
  const double q = spacing / (spacing - d);
  if (q * q * q * froude > 0.666)
    froude = 2.0 / (3.0 * q * q * q);
  double t = 0.0;
  if (froude >= 0.05) {
    t = 2.0 / (froude * froude);
  } else {
    t = 799.9999999999999;
    froude = 0.05;
  }
  const double kappa = DepthRatio(s, q, froude);
  return (y * 4.0 * d / (spacing * ax)) * (cd * 1.31 * (p3 * 1.15 + p4 * 0.5) + t * kappa);
}

} // namespace

double ResidueResistance(const LandUseResistance &u, double v, double y) {
  const double re = v * 4000000.0 * y;
  const std::array<double, 3> &c = re < 20000.0 ? u.RoughCoefficients1 : u.RoughCoefficients2;
  return std::pow(re, c[2]) / (c[0] * std::pow(100.0 * u.ResidueCover, c[1]));
}

double RowCropResistance(const LandUseResistance &u, const ResistanceSettings &s, double v,
                         double y, double sigma) {
  const double lambda = StemDragFactor(u, s, v, y, sigma);
  const double y3 = std::pow(y, 0.3333);
  const double k2 = u.Strickler * u.Strickler;
  const double underRoot = 78.5272 / (y3 * (78.5272 / (y3 * k2) + lambda));
  return underRoot > 0.0 ? std::sqrt(underRoot) : 0.001;
}

} // namespace tavro::overland
