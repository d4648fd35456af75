// Slope and aspect by central differences, and the neighbour means.
#include "setup/slope_aspect.h"

#include "kernel/grid.h"

#include <cmath>

namespace tavro {

SlopeAspect SlopeAndAspect(double dx, double dy) {
  SlopeAspect result;
  if (dx != 0.0 || dy != 0.0)
    result.Slope = std::atan(std::sqrt(dx * dx + dy * dy)) * kDegreesPerRadian;
  if (dx == 0.0)
    result.Aspect = dy > 0.0 ? 180.0 : 0.0;
  else
    result.Aspect = 180.0 - std::atan(dy / dx) * kDegreesPerRadian + (dx > 0.0 ? 90.0 : -90.0);
  return result;
}

void ComputeSlopeAndAspect(const Grid &elevation, const RasterGeometry &geometry, Grid *slope,
                           Grid *aspect) {
  const long nrows = geometry.nrows;
  const long ncols = geometry.ncols;
  const double noData = geometry.nodata;
  const double twoCells = 2.0 * geometry.cellsize;
#pragma omp parallel for schedule(runtime)
  for (long r = 1; r <= nrows; ++r) {
    double *slopeRow = slope != nullptr ? (*slope)[r] : nullptr;
    double *aspectRow = aspect != nullptr ? (*aspect)[r] : nullptr;
    const auto set = [&](long c, double slopeValue, double aspectValue) {
      if (slopeRow != nullptr)
        slopeRow[c] = slopeValue;
      if (aspectRow != nullptr)
        aspectRow[c] = aspectValue;
    };
    set(1, noData, noData);
    set(ncols, noData, noData);
    const bool border = r == 1 || r == nrows;
    for (long c = 2; c < ncols; ++c) {
      if (border) {
        set(c, noData, noData);
        continue;
      }
      const double west = elevation[r][c - 1];
      const double east = elevation[r][c + 1];
      const double north = elevation[r - 1][c];
      const double south = elevation[r + 1][c];
      if (west == noData || east == noData || north == noData || south == noData) {
        set(c, noData, noData);
        continue;
      }
      const SlopeAspect cell = SlopeAndAspect((east - west) / twoCells, (north - south) / twoCells);
      set(c, cell.Slope, cell.Aspect);
    }
  }
}

std::optional<double> MeanOfNeighbours(const Grid &grid, long row, long column,
                                       const RasterGeometry &geometry, NeighbourMean mean) {
  double sum = 0.0;
  double sumSin = 0.0;
  double sumCos = 0.0;
  int count = 0;
  for (long r = row - 1; r <= row + 1; ++r) {
    if (r < 1 || r > geometry.nrows)
      continue;
    for (long c = column - 1; c <= column + 1; ++c) {
      if (c < 1 || c > geometry.ncols || (r == row && c == column))
        continue;
      const double value = grid[r][c];
      if (value == geometry.nodata)
        continue;
      ++count;
      sum += value;
      sumSin += std::sin(value / kDegreesPerRadian);
      sumCos += std::cos(value / kDegreesPerRadian);
    }
  }
  if (count == 0)
    return std::nullopt;
  if (mean == NeighbourMean::Arithmetic)
    return sum / count;
  // Unit vectors that cancel leave a sum of rounding noise only.
  if (std::hypot(sumSin, sumCos) <= 1e-9 * count)
    return 0.0;
  double direction = std::atan2(sumSin, sumCos) * kDegreesPerRadian;
  if (direction < 0.0)
    direction += 360.0;
  return direction >= 360.0 ? 0.0 : direction;
}

} // namespace tavro
