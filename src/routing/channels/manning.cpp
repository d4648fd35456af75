// Manning iteration on the velocity of a rectangular channel.
#include "routing/channels/manning.h"

#include <cmath>

namespace tavro {

ManningResult ManningIteration(double discharge, double width, double coefficient, double slopeRoot,
                               double tolerance, int maxIterations, double velocity) {
  ManningResult result;
  result.velocity = velocity;
  for (int iteration = 1; iteration <= maxIterations; ++iteration) {
    const double previous = result.velocity;
    const double area = previous > 0.0 ? discharge / previous : 0.0;
    result.depth = area / width;
    const double perimeter = 2.0 * result.depth + width;
    double next = 0.0;
    if (perimeter > 0.0) {
      result.radius = area / perimeter;
      next = result.radius > 0.0
                 ? coefficient * std::pow(result.radius, kManningRadiusExponent) * slopeRoot
                 : 0.0;
    } else {
      result.radius = 0.0;
    }
    result.velocity = next;
    if (std::fabs(previous - next) <= tolerance)
      break;
  }
  return result;
}

} // namespace tavro
