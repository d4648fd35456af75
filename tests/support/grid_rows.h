// A whole-raster grid written row by row in a test, for the pure functions
// that work over the rows a grid holds (codes, zones, weights).
#pragma once

#include "kernel/grid.h"
#include "raster/parallel/mpi_regions.h"

#include <vector>

namespace tavro::test {

using RasterRows = std::vector<std::vector<double>>;

// The shape of rows (nodata -9999).
inline RasterShape ShapeOf(const RasterRows &rows) {
  return {static_cast<long>(rows.at(0).size()), static_cast<long>(rows.size()), -9999.0};
}

// Rows 1..n of the grid hold rows[0..n-1].
inline Grid GridFromRows(const RasterRows &rows, DiagnosticsLog &log) {
  const RasterShape shape = ShapeOf(rows);
  Grid grid(1, shape.nrows, shape.ncols, shape.nrows, log);
  for (long r = 1; r <= shape.nrows; ++r)
    for (long c = 1; c <= shape.ncols; ++c)
      grid[r][c] = rows[static_cast<std::size_t>(r - 1)][static_cast<std::size_t>(c - 1)];
  return grid;
}

// The rows of grid as written by GridFromRows.
inline RasterRows RowsOf(const Grid &grid, const RasterShape &shape) {
  RasterRows rows;
  for (long r = 1; r <= shape.nrows; ++r)
    rows.emplace_back(grid[r] + 1, grid[r] + 1 + shape.ncols);
  return rows;
}

} // namespace tavro::test
