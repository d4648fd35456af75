// Slope, aspect and slope case of a cell from the heads of its neighbours,
// and the aspect from central differences used where directions tie.
#pragma once

#include "lateral/overland/directions.h"

namespace tavro::overland {

enum SlopeCase : int { kRiverCell = 1, kInteriorCell = 2, kEdgeCell = 3 };

struct SlopeResult {
  double Slope = 0.0;  // steepest gradient; in degrees in the edge-cell tie case
  double Aspect = 0.0; // degrees clockwise from north
  int Case = kEdgeCell;
};

// Aspect (degrees clockwise from north, the downslope direction) from the
// heads of the four side neighbours.
double CentralDifferenceAspect(double north, double east, double south, double west,
                               double cellSize);

SlopeResult SurfaceSlope(const Neighbourhood &n, int method);

} // namespace tavro::overland
