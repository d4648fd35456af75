// The frame in which anisotropic interpolation works: points turned about the
// raster's lower-left corner by minus the slope of the anisotropy ellipse's
// main axis, so that this axis runs along x. The turn uses the polar angle
// with its own bounds for vertical directions (+-1.570796326795), as the
// stored results of this model were computed with them.
#pragma once

namespace tavro::interpolation {

// Degrees to radians by the factor the model has always used (not pi/180).
inline constexpr double kRadiansPerDegree = 0.017453292519944444;
// Bound of the anisotropy slope and the polar angle of vertical directions.
inline constexpr double kQuarterTurn = 1.570796326795;

struct FramePoint {
  double X = 0.0;
  double Y = 0.0;
};

// (x, y) turned about (xll, yll) by -slope (radians).
FramePoint RotateIntoFrame(double x, double y, double xll, double yll, double slope);

// Distance of (x, y) from (xll, yll).
double DistanceFromCorner(double x, double y, double xll, double yll);

} // namespace tavro::interpolation
