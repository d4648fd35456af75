// Initial soil temperatures from a pre-spin-up pass: the degree days of the
// daily means, the temperature at the top of permafrost (TTOP) and the
// profile built around it or around the annual mean air temperature,
// following the geothermal heat flux downward. Pure per-cell functions;
// layer arrays are indexed 1..n.
#pragma once

#include <span>

namespace tavro {

// Depth of the TTOP layer, m.
inline constexpr double kTtopDepth = 1.0;
// Geothermal heat flux without a heat-flux lower boundary, W/m2.
inline constexpr double kGeothermalHeatFlux = 0.06;

// Freezing and thawing degree days of one cell, and the running day sum.
struct DegreeDays {
  double freezing = 0; // sum of -(daily mean) over days below 0 degC
  double thawing = 0;  // sum of the daily means at or above 0 degC
  double daySum = 0;   // sum of the current day's step temperatures
};

// Closes a day of daySteps steps: its mean counts as a freezing or thawing
// day, and the day sum starts again at 0.
void CloseDay(DegreeDays &days, int daySteps);

// The TTOP layer m (cumulative thickness reaches 1 m, else the last layer)
// and the conductivity layer w = floor(m / 3), at least 1.
struct TtopLayers {
  int ttop = 1;
  int conductivity = 1;
};
TtopLayers FindTtopLayers(std::span<const double> dz, int layers);

// Conductivity of a layer thawed (all water liquid) and frozen (all ice).
struct ThawedFrozenConductivity {
  double thawed = 0;
  double frozen = 0;
};
ThawedFrozenConductivity PermafrostConductivity(double thetaSat, double theta, double lambdaDry,
                                                double lambdaWater, double lambdaIce);

// TTOP (degC) of Smith and Riseborough (2002) over a period of years.
double TemperatureTopOfPermafrost(const ThawedFrozenConductivity &lambda, double nThawing,
                                  double nFreezing, double thawingDays, double freezingDays,
                                  double years);

// Everything the profile of one cell reads.
struct PermafrostColumn {
  std::span<const double> dz;
  std::span<const double> z; // boundary heights, z[0] the surface
  std::span<const double> thetaSat;
  std::span<const double> theta;
  std::span<const double> lambdaDry;
  int layers = 0;
  double lambdaWater = 0;
  double lambdaIce = 0;
  double geothermalFlux = kGeothermalHeatFlux;
};

// T[1..n] from TTOP (when below 0, TTOP at layer m with the layers above
// interpolated by height towards the annual mean at the surface) or from the
// annual mean at layer 1, each layer below warmer by q_g * d_k / lambda(k).
void PermafrostProfile(std::span<double> T, const PermafrostColumn &column, const TtopLayers &at,
                       double ttop, double annualMean);

} // namespace tavro
