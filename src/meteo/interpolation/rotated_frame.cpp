// Turning points into the anisotropy frame.
#include "meteo/interpolation/rotated_frame.h"

#include <cmath>

namespace tavro::interpolation {

double DistanceFromCorner(double x, double y, double xll, double yll) {
  const double dx = x - xll;
  const double dy = y - yll;
  return std::sqrt(dx * dx + dy * dy);
}

FramePoint RotateIntoFrame(double x, double y, double xll, double yll, double slope) {
  const double dx = x - xll;
  const double dy = y - yll;
  const double r = std::sqrt(dx * dx + dy * dy);
  double phi = 0.0;
  if (dx == 0.0)
    phi = dy > 0.0 ? kQuarterTurn : -kQuarterTurn;
  else
    phi = std::atan2(dy, dx);
  return {xll + r * std::cos(phi - slope), yll + r * std::sin(phi - slope)};
}

} // namespace tavro::interpolation
