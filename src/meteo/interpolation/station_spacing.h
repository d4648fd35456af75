// The mean spacing of a station network: for every station the distance to
// its nearest neighbour to the east (within 45 degrees of the x axis) and to
// the north (beyond 45 degrees), averaged over the stations that have one.
// The spline and bilinear methods size their search boxes by it.
#pragma once

#include <span>

namespace tavro::interpolation {

struct StationSpacing {
  double Horizontal = -9999.0; // DX; -9999 when no station has an east neighbour
  double Vertical = -9999.0;   // DY; -9999 when no station has a north neighbour
};

// Stations k = 0..N-1 at (x[k], y[k]) (rotated coordinates).
StationSpacing MeanStationSpacing(std::span<const double> x, std::span<const double> y);

} // namespace tavro::interpolation
