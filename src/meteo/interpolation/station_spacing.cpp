// Mean distance to the next station east and north.
#include "meteo/interpolation/station_spacing.h"

#include <cmath>
#include <optional>

namespace tavro::interpolation {

StationSpacing MeanStationSpacing(std::span<const double> x, std::span<const double> y) {
  double eastSum = 0.0, northSum = 0.0;
  long eastCount = 0, northCount = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    std::optional<double> east, north;
    for (std::size_t j = 0; j < x.size(); ++j) {
      if (j == i)
        continue;
      const double dx = x[j] - x[i];
      const double dy = y[j] - y[i];
      const double d = std::sqrt(dx * dx + dy * dy);
      if (std::fabs(dy) <= std::fabs(dx) && dx > 0.0) {
        if (!east || d < *east)
          east = d;
      } else if (std::fabs(dy) > std::fabs(dx) && dy > 0.0) {
        if (!north || d < *north)
          north = d;
      }
    }
    if (east) {
      eastSum += *east;
      ++eastCount;
    }
    if (north) {
      northSum += *north;
      ++northCount;
    }
  }
  StationSpacing spacing;
  if (eastCount > 0)
    spacing.Horizontal = eastSum / static_cast<double>(eastCount);
  if (northCount > 0)
    spacing.Vertical = northSum / static_cast<double>(northCount);
  return spacing;
}

} // namespace tavro::interpolation
