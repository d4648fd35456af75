// Water depth and velocity of a rectangular channel by Manning's formula
// v = M R^(2/3) S^(1/2), found by iterating on the velocity: the discharge
// over the velocity gives the wetted area, the area over the width the depth,
// the depth the hydraulic radius and the radius a new velocity.
#pragma once

namespace tavro {

struct ManningResult {
  double depth = 0.0;    // m
  double radius = 0.0;   // hydraulic radius, m
  double velocity = 0.0; // m/s
};

// Exponent of the hydraulic radius, as the tables are defined (not 2/3 exactly).
inline constexpr double kManningRadiusExponent = 0.66667;

// discharge in m3/s, width in m, coefficient in m^(1/3)/s, slopeRoot the
// square root of the slope; velocity is the first guess (m/s). Stops when
// two velocities differ by at most tolerance, or after maxIterations.
ManningResult ManningIteration(double discharge, double width, double coefficient, double slopeRoot,
                               double tolerance, int maxIterations, double velocity);

} // namespace tavro
