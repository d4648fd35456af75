// The disc scan and the weight formulas of the region weights.
#include "setup/region_weights.h"

#include "kernel/grid.h"

#include <algorithm>
#include <cmath>

namespace tavro {

double TransitionCells(double distance, double cellSize) {
  return (distance <= 0.0 ? 0.01 : distance) / cellSize;
}

RegionNeighbours ScanRegionDisc(const Grid &regions, const RasterShape &shape, long row,
                                long column, double transitionCells, int levels) {
  RegionNeighbours found;
  found.Nearest2 = transitionCells;
  found.Second.Distance = transitionCells;
  found.Third.Distance = transitionCells;
  RegionCandidate &second = found.Second;
  RegionCandidate &third = found.Third;
  const double own = regions[row][column];
  const double squaredRadius = transitionCells * transitionCells;
  const long reach = static_cast<long>(transitionCells);
  const long lastRow = std::min(shape.nrows, row + reach);
  for (long k = std::max(1L, row - reach); k <= lastRow; ++k) {
    const long b = row - k;
    const long half = static_cast<long>(std::sqrt(squaredRadius - static_cast<double>(b * b)));
    const long lastColumn = std::min(shape.ncols, column + half);
    const double *cells = regions[k];
    for (long l = std::max(1L, column - half); l <= lastColumn; ++l) {
      const double v = cells[l];
      if (v == own || v <= shape.nodata)
        continue;
      const long g = column - l;
      const double dist = std::floor(std::sqrt(static_cast<double>(g * g + b * b)));
      const auto take = [&](RegionCandidate &slot) { slot = {v, dist, k, l}; };
      if (second.Region == 0.0)
        second.Region = v;
      if (v == second.Region) {
        if (found.Nearest2 >= dist) {
          found.Nearest2 = dist;
          take(second);
        }
      } else if (levels < 3) {
        continue;
      } else if (third.Region == 0.0 || v == third.Region) {
        if (third.Distance >= dist)
          take(third);
        third.Region = v;
      } else if (third.Distance > second.Distance) {
        // A further region replaces the farther of the two kept ones.
        if (third.Distance > dist)
          take(third);
      } else if (second.Distance > dist) {
        take(second);
      }
    }
  }
  return found;
}

RegionWeights TwoRegionWeights(double nearest, double transitionCells) {
  const double x = nearest / (2.0 * transitionCells) + 0.5;
  if (x > 1.0)
    return {1.0, 0.0, 0.0};
  if (x < 0.5)
    return {0.5, 0.5, 0.0};
  return {x, 1.0 - x, 0.0};
}

RegionWeights ThreeRegionWeights(const RegionNeighbours &found, long row, long column,
                                 double transitionCells) {
  const double dc = transitionCells;
  const double own = std::clamp(found.Nearest2 / (2.0 * dc) + 0.5, 0.5, 1.0);
  if (found.Third.Region <= 0.0)
    return {own, found.Second.Region > 0.0 ? 1.0 - own : 0.0, 0.0};
  const auto distanceTo = [&](const RegionCandidate &candidate) {
    return std::hypot(static_cast<double>(row - candidate.Row),
                      static_cast<double>(column - candidate.Column));
  };
  const double d2 = distanceTo(found.Second);
  const double d3 = distanceTo(found.Third);
  // The inverse of a positive length; a length of 0 or less counts as 1.
  const auto inverse = [](double &length) {
    if (length > 0.0)
      return 1.0 / length;
    length = 1.0;
    return 1.0;
  };
  double a = dc - std::min(d2, d3);
  double b2 = dc + d2;
  double b3 = dc + d3;
  const double e1 = inverse(a);
  const double e2 = inverse(b2);
  const double e3 = inverse(b3);
  const double m = std::min({a, b2, b3});
  const double t = (0.9 - 0.5 * std::cos(1.5707963 * m / dc)) / (2.0 * dc);
  const double a1 = std::max(e1 - t, 0.0);
  const double a2 = std::max(e2 - t, 0.0);
  const double a3 = std::max(e3 - t, 0.0);
  const double sum = a1 + a2 + a3;
  RegionWeights weights;
  weights.W1 = a1 / sum;
  weights.W2 = a2 / sum;
  if (weights.W1 + weights.W2 > 1.0)
    weights.W2 = 1.0 - weights.W1;
  weights.W3 = 1.0 - (weights.W1 + weights.W2);
  return weights;
}

int RegionWeightGrids::Levels() const {
  if (Weights1 == nullptr)
    return 0;
  if (Regions2 == nullptr || Weights2 == nullptr)
    return 1;
  return Regions3 == nullptr || Weights3 == nullptr ? 2 : 3;
}

void GenerateRegionWeights(const Grid &zone, const RasterShape &shape,
                           const OneBasedArray<RowColumnRange> &rowRanges, double transitionCells,
                           RegionWeightGrids &grids) {
  const int levels = grids.Levels();
  Grid *const levelGrids[] = {grids.Regions1, grids.Weights1, grids.Regions2,
                              grids.Weights2, grids.Regions3, grids.Weights3};
  const std::size_t present = 2 * static_cast<std::size_t>(levels);
  // Every invalid cell, also outside a row's column range, holds nodata.
  for (long r = 1; r <= shape.nrows; ++r)
    for (long c = 1; c <= shape.ncols; ++c)
      if (zone[r][c] <= shape.nodata)
        for (std::size_t g = 0; g < present; ++g)
          (*levelGrids[g])[r][c] = shape.nodata;

  const Grid &regions = *grids.Regions1;
#pragma omp parallel for schedule(runtime)
  for (long i = 1; i <= shape.nrows; ++i) {
    const RowColumnRange range = rowRanges[static_cast<std::size_t>(i)];
    for (long j = std::max<long>(range.first, 1); j <= range.last; ++j) {
      if (zone[i][j] <= shape.nodata)
        continue;
      if (levels == 1) {
        (*grids.Weights1)[i][j] = 1.0;
        continue;
      }
      const RegionNeighbours found = ScanRegionDisc(regions, shape, i, j, transitionCells, levels);
      const RegionWeights weights = levels == 2 ? TwoRegionWeights(found.Nearest2, transitionCells)
                                                : ThreeRegionWeights(found, i, j, transitionCells);
      (*grids.Weights1)[i][j] = weights.W1;
      (*grids.Regions2)[i][j] = found.Second.Region;
      (*grids.Weights2)[i][j] = weights.W2;
      if (levels == 3) {
        (*grids.Regions3)[i][j] = found.Third.Region;
        (*grids.Weights3)[i][j] = weights.W3;
      }
    }
  }
}

} // namespace tavro
