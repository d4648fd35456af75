// Pre-spin-up temperature profile of one column.
#include "soil/column/permafrost_profile.h"

#include <cmath>

#include "kernel/modelobject.h"
#include "soil/column/soil_heat.h"

namespace tavro {

namespace {
constexpr double kDaysPerYear = 365.0;

// Conductivity of layer k with all its water liquid or all frozen.
double LayerConductivity(const PermafrostColumn &c, int k, bool thawed) {
  const auto l =
      PermafrostConductivity(c.thetaSat[k], c.theta[k], c.lambdaDry[k], c.lambdaWater, c.lambdaIce);
  return thawed ? l.thawed : l.frozen;
}
} // namespace

void CloseDay(DegreeDays &days, int daySteps) {
  const double mean = days.daySum / daySteps;
  if (mean >= 0.0)
    days.thawing += mean;
  else
    days.freezing -= mean;
  days.daySum = 0.0;
}

TtopLayers FindTtopLayers(std::span<const double> dz, int layers) {
  TtopLayers at{layers, 1};
  double depth = 0.0;
  for (int j = 1; j <= layers; ++j) {
    depth += dz[j];
    // A small margin so that layers of exactly 1 m in sum count as reaching it.
    if (depth >= kTtopDepth - 1e-9) {
      at.ttop = j;
      break;
    }
  }
  at.conductivity = at.ttop / 3 == 0 ? 1 : at.ttop / 3;
  return at;
}

ThawedFrozenConductivity PermafrostConductivity(double thetaSat, double theta, double lambdaDry,
                                                double lambdaWater, double lambdaIce) {
  const double e = theta + 1.0 - thetaSat;
  const double air = kAirConductivity * (thetaSat - theta);
  const double dry = std::pow(lambdaDry, (1.0 - thetaSat) / e) * e;
  return {dry * std::pow(lambdaWater, theta / e) + air, dry * std::pow(lambdaIce, theta / e) + air};
}

double TemperatureTopOfPermafrost(const ThawedFrozenConductivity &lambda, double nThawing,
                                  double nFreezing, double thawingDays, double freezingDays,
                                  double years) {
  return (lambda.thawed * nThawing * thawingDays - nFreezing * lambda.frozen * freezingDays) /
         (lambda.frozen * years * kDaysPerYear);
}

void PermafrostProfile(std::span<double> T, const PermafrostColumn &column, const TtopLayers &at,
                       double ttop, double annualMean) {
  const int n = column.layers;
  int first = 2;
  if (ttop < 0.0) {
    const int m = at.ttop;
    T[m] = ttop;
    const auto &z = column.z;
    for (int k = m - 1; k >= 1; --k)
      T[k] = modelobject::LinearInterpolate(z[0], annualMean, z[m], ttop, (z[k - 1] + z[k]) / 2.0);
    for (int k = m + 1; k <= n; ++k)
      T[k] = T[k - 1] +
             column.geothermalFlux * column.dz[k] / LayerConductivity(column, k, T[k - 1] > 0.0);
    return;
  }
  T[1] = annualMean;
  for (int k = first; k <= n; ++k)
    T[k] = T[k - 1] + column.geothermalFlux * column.dz[k] / LayerConductivity(column, k, true);
}

} // namespace tavro
