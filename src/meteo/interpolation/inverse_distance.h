// Inverse distance weighting of station values at one point (Shepard's
// method), plain or anisotropic: a pure kernel over spans of the stations'
// coordinates and values, without grids, MPI or logging.
//
// A station value is valid when it is at least ValidFrom (-V for the
// variable's nodata bound V); the result is Missing (-V - 1) when no valid
// station lies within the maximum distance. A station at the point itself
// counts as being at distance 1, so its weight is 1, not infinite.
#pragma once

#include <span>

namespace tavro::interpolation {

// The weight code of an exponent p: floor(1000 p). 1000 and 2000 select the
// fast forms 1/d and 1/d2; every other code weights by d^-p.
int WeightCode(double exponent);

struct InverseDistanceSettings {
  int Code = 2000;        // WeightCode(Exponent)
  double Exponent = 2.0;  // p
  double MaxDistance = 0; // search radius (m); squared when Code is 2000
  double ValidFrom = 0;   // -V
  double Missing = -1;    // -V - 1
};

// Stations k = 0..N-1 at (x[k], y[k]) with values[k]; weights[k] receives the
// weight of every station (0 for invalid or distant ones). All spans have N
// elements (weights at least N).
double InverseDistance(std::span<const double> x, std::span<const double> y,
                       std::span<const double> values, std::span<double> weights, double px,
                       double py, const InverseDistanceSettings &settings);

// The same in the rotated frame, where the main axis of the anisotropy
// ellipse lies on the x axis: x differences count ratio (b/a) times their
// length. x, y and (px, py) are rotated coordinates.
double InverseDistanceAnisotropic(std::span<const double> x, std::span<const double> y,
                                  std::span<const double> values, std::span<double> weights,
                                  double px, double py, double ratio,
                                  const InverseDistanceSettings &settings);

} // namespace tavro::interpolation
