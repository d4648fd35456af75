// The side weights of the aspect split and the constants (0.017453,
// 1.4142135) are part of the defined results.
#include "lateral/overland/outflow_weights.h"

#include "lateral/overland/surface_slope.h"

#include <cmath>

namespace tavro::overland {
namespace {

int AspectSector(double a) {
  if (a < 22.5 || a >= 337.5)
    return 1;
  const double bounds[] = {67.5, 112.5, 157.5, 202.5, 247.5, 292.5};
  for (int k = 0; k < 6; ++k)
    if (a < bounds[k])
      return k + 2;
  return 8;
}

// Weights around the aspect; false when none is left after the uphill filter.
bool AspectSplit(const Neighbourhood &n, int method, double aspect, OutflowState &state,
                 const NormalisationReport &report) {
  PerDirection &w = state.Weights;
  const int d = AspectSector(aspect);
  state.MainDirection = d;
  const double c = aspect - (d - 1) * 45.0;
  const double cPrime = c > 22.5 ? c - 360.0 : c;
  const double beta = (c >= 0.0 ? 45.0 - cPrime : 45.0 + cPrime) * 0.017453;
  const double alpha = cPrime * 0.017453;
  double main = std::cos(alpha);
  double a = 0.0, b = 0.0;
  if (alpha > 0.0) {
    a = std::fabs(std::cos(beta) * std::cos(alpha));
    b = std::fabs(std::sin(beta) * std::cos(alpha));
  } else {
    a = std::fabs(std::sin(beta) * std::cos(alpha));
    b = std::fabs(std::cos(beta) * std::cos(alpha));
  }
  for (double *v : {&main, &a, &b})
    if (*v < 1e-4)
      *v = 0.0;
  if (SingleDirection(method))
    a = b = 0.0;
  const double sum = main + a + b;
  w[static_cast<std::size_t>(d)] = main / sum;
  if (n.PlanCurvature <= 0.0) {
    w[static_cast<std::size_t>(Previous(d))] = a / sum;
    w[static_cast<std::size_t>(Next(d))] = b / sum;
  }
  const double head = CellHead(n, method);
  double total = 0.0;
  for (int e = 1; e <= kDirections; ++e) {
    double &we = w[static_cast<std::size_t>(e)];
    if (we > 0.0 && head - NeighbourHead(n, method, e) < 0.0)
      we = 0.0;
    total += we;
  }
  if (total == 0.0)
    return false;
  const bool reports = report.Raised();
  for (int e = 1; e <= kDirections; ++e) {
    const double before = w[static_cast<std::size_t>(e)];
    w[static_cast<std::size_t>(e)] /= total;
    if (reports)
      report.Report(e, before, total, w[static_cast<std::size_t>(e)]);
  }
  return true;
}

bool InsideForDrop(const Neighbourhood &n, int e) {
  const int dr = kRowOffset[static_cast<std::size_t>(e)];
  const int dc = kColumnOffset[static_cast<std::size_t>(e)];
  if ((dr < 0 && n.FirstRow) || (dr > 0 && n.LastRow) || (dc > 0 && n.LastColumn) ||
      (dc < 0 && n.FirstColumn))
    return false;
  return n.Valid[static_cast<std::size_t>(e)];
}

void DropSplit(const Neighbourhood &n, int method, OutflowState &state,
               const NormalisationReport &report) {
  PerDirection &w = state.Weights;
  const double head = CellHead(n, method);
  for (int e = 1; e <= kDirections; ++e) {
    if (!InsideForDrop(n, e))
      continue;
    const double drop = head - NeighbourHead(n, method, e);
    if (drop > 1e-5)
      w[static_cast<std::size_t>(e)] = IsDiagonal(e) ? drop / 1.4142135 : drop;
  }
  int largest = 0;
  for (int e = 1; e <= kDirections; ++e)
    if (w[static_cast<std::size_t>(e)] > 0.0 &&
        (largest == 0 || w[static_cast<std::size_t>(e)] > w[static_cast<std::size_t>(largest)]))
      largest = e;
  if (SingleDirection(method)) {
    for (int e = 1; e <= kDirections; ++e)
      w[static_cast<std::size_t>(e)] = e == largest ? 1.0 : 0.0;
  } else {
    double sum = 0.0;
    for (int e = 1; e <= kDirections; ++e)
      sum += w[static_cast<std::size_t>(e)];
    const bool reports = sum > 0.0 && report.Raised();
    if (sum > 0.0)
      for (int e = 1; e <= kDirections; ++e) {
        const double before = w[static_cast<std::size_t>(e)];
        w[static_cast<std::size_t>(e)] /= sum;
        if (reports)
          report.Report(e, before, sum, w[static_cast<std::size_t>(e)]);
      }
  }
  state.MainDirection = largest;
}

} // namespace

int UnchangedDirections(const PerDirection &before, const PerDirection &after) {
  int unchanged = 0;
  for (int d = 1; d <= kDirections; ++d)
    unchanged +=
        std::fabs(before[static_cast<std::size_t>(d)] - after[static_cast<std::size_t>(d)]) <= 0.01
            ? 1
            : 0;
  return unchanged;
}

void DistributeOutflow(const Neighbourhood &n, int method, int &slopeCase, int innerStep,
                       double slope, double aspect, OutflowState &state,
                       const NormalisationReport &report) {
  if (slopeCase != kInteriorCell && slopeCase != kEdgeCell)
    return;
  const PerDirection old = state.Weights;
  for (int d = 1; d <= kDirections; ++d)
    state.Weights[static_cast<std::size_t>(d)] = 0.0;
  bool split = false;
  if (slope != 0.0 && slopeCase == kInteriorCell) {
    split = AspectSplit(n, method, aspect, state, report);
    if (!split) {
      slopeCase = kEdgeCell;
      for (int d = 1; d <= kDirections; ++d)
        state.Weights[static_cast<std::size_t>(d)] = 0.0;
    }
  }
  if (!split)
    DropSplit(n, method, state, report);
  state.WaterSurface = WaterSurfaceLevel(n.Elevation, n.Storage);
  state.Weights[0] = innerStep > 0 ? UnchangedDirections(old, state.Weights) : 0;
}

} // namespace tavro::overland
