// The dominant direction of a station mesh: the direction from each station
// to its neighbour, sorted into classes of 10 degrees modulo 180; the mean of
// the fullest class, less 90 degrees when it exceeds 45. The bilinear and spline
// methods turn their frame by it, so that the lines of a regular mesh run
// along the axes. A pure kernel on the stations' plain coordinates.
#pragma once

#include <span>

namespace tavro::interpolation {

struct MeshDirection {
  double SlopeDegrees = 0.0; // the anisotropy slope the methods use
  double Ratio = 1.0;        // b/a: 0.995 when the mesh is turned, else 1
};

// The neighbour of each station is its nearest one, except that a pair of
// stations that are each other's nearest neighbour is avoided when another
// station lies within 1 % of that distance; a station whose every candidate
// already chose it has no neighbour and no direction. Stations k = 0..N-1.
MeshDirection DominantMeshDirection(std::span<const double> x, std::span<const double> y);

} // namespace tavro::interpolation
