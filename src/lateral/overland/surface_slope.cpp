// Steepest descent over the eight neighbours; ties fall back to central
// differences so that the aspect does not depend on the direction order.
#include "lateral/overland/surface_slope.h"

#include <cmath>

namespace tavro::overland {
namespace {

constexpr double kDegreesPerRadian = 57.29577951307855;
constexpr double kMissingGradient = -9999.0;

struct Steepest {
  double Value = 0.0;
  int Direction = 1;
  bool Tied = false;
};

Steepest SteepestOf(const PerDirection &gradient) {
  Steepest s{gradient[1], 1, false};
  for (int d = 2; d <= kDirections; ++d) {
    const double g = gradient[static_cast<std::size_t>(d)];
    if (g > s.Value) {
      s.Value = g;
      s.Direction = d;
    }
  }
  int count = 0;
  for (int d = 1; d <= kDirections; ++d)
    count += gradient[static_cast<std::size_t>(d)] == s.Value ? 1 : 0;
  s.Tied = count > 1;
  return s;
}

bool IsInterior(const Neighbourhood &n) {
  if (n.FirstRow || n.LastRow || n.FirstColumn || n.LastColumn)
    return false;
  for (int d = 1; d <= kDirections; ++d)
    if (!n.Positive[static_cast<std::size_t>(d)])
      return false;
  return true;
}

bool Usable(const Neighbourhood &n, int d) {
  return n.Inside[static_cast<std::size_t>(d)] && n.Positive[static_cast<std::size_t>(d)];
}

// Head towards a side direction for the central differences of an edge cell:
// the neighbour's head, else mirrored from the opposite neighbour's terrain.
double SubstituteHead(const Neighbourhood &n, int method, int d) {
  const double head = CellHead(n, method);
  if (Usable(n, d))
    return NeighbourHead(n, method, d);
  const int o = Opposite(d);
  if (Usable(n, o))
    return 2.0 * head - n.NeighbourElevation[static_cast<std::size_t>(o)];
  return head;
}

} // namespace

double CentralDifferenceAspect(double north, double east, double south, double west,
                               double cellSize) {
  const double dx = (east - west) / (2.0 * cellSize);
  const double dy = (north - south) / (2.0 * cellSize);
  if (dx != 0.0)
    return 180.0 - std::atan(dy / dx) * kDegreesPerRadian + (dx / std::fabs(dx)) * 90.0;
  return dy > 0.0 ? 180.0 : 0.0;
}

SlopeResult SurfaceSlope(const Neighbourhood &n, int method) {
  SlopeResult result;
  if (n.River) {
    result.Case = kRiverCell;
    return result;
  }
  const bool interior = IsInterior(n);
  result.Case = interior ? kInteriorCell : kEdgeCell;
  const double head = CellHead(n, method);
  PerDirection gradient{};
  for (int d = 1; d <= kDirections; ++d) {
    const auto i = static_cast<std::size_t>(d);
    if (!interior && !Usable(n, d)) {
      gradient[i] = kMissingGradient;
      continue;
    }
    const double length = IsDiagonal(d) ? 1.414 * n.CellSize : n.CellSize;
    gradient[i] = (head - NeighbourHead(n, method, d)) / length;
  }
  const Steepest steepest = SteepestOf(gradient);
  result.Slope = steepest.Value;
  result.Aspect = (steepest.Direction - 1) * 45.0;
  if (!steepest.Tied)
    return result;
  if (interior) {
    result.Aspect = CentralDifferenceAspect(
        NeighbourHead(n, method, 1), NeighbourHead(n, method, 3), NeighbourHead(n, method, 5),
        NeighbourHead(n, method, 7), n.CellSize);
    return result;
  }
  const double north = SubstituteHead(n, method, 1);
  const double east = SubstituteHead(n, method, 3);
  const double south = SubstituteHead(n, method, 5);
  const double west = SubstituteHead(n, method, 7);
  const double dx = (east - west) / (2.0 * n.CellSize);
  const double dy = (north - south) / (2.0 * n.CellSize);
  result.Slope =
      (dx != 0.0 || dy != 0.0) ? std::atan(std::sqrt(dx * dx + dy * dy)) * kDegreesPerRadian : 0.0;
  result.Aspect = CentralDifferenceAspect(north, east, south, west, n.CellSize);
  return result;
}

} // namespace tavro::overland
