// Hole filling of grids read whole on rank 0.
#include "raster/files/grid_hole_filling.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

namespace tavro {

namespace {

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};
using RankLogFile = std::unique_ptr<std::FILE, FileCloser>;

// The nearest valid value around (row, column): windows k = 1..10 of rows
// row - k .. row + k, the m-th of them spanning columns column - m .. column + m.
std::optional<double> NearestValue(const Grid &grid, const RasterGeometry &g, int row, int column) {
  for (int k = 1; k <= MaxHoleSearchSteps; ++k) {
    for (int m = 0; m <= 2 * k; ++m) {
      const int r = row - k + m;
      if (r < 1 || r > g.nrows)
        continue;
      const double *values = grid[r];
      for (int c = std::max(1, column - m); c <= std::min(g.ncols, column + m); ++c)
        if (values[c] != g.nodata)
          return values[c];
    }
  }
  return std::nullopt;
}

} // namespace

long FillGridHoles(DiagnosticsLog &log, int rank, const std::string &path, Grid &grid,
                   const Grid &zoneGrid, const RasterGeometry &g, double fileNodata,
                   const HoleFilling &filling) {
  for (int r = 1; r <= g.nrows; ++r)
    if (!grid.HasRow(r) || !zoneGrid.HasRow(r) || grid.LastColumn() < g.ncols ||
        zoneGrid.LastColumn() < g.ncols)
      ThrowFatal(log, 25,
                 Concat("cannot fill the holes of ", path,
                        ": the grid and the zone grid are not held whole on this process"));
  if (filling.verbose)
    log.Entry(Concat("... ", path, " checking nodata values and replace[end-entry]"));

  char rankLogName[32];
  std::snprintf(rankLogName, sizeof rankLogName, "modell_%d.log", rank);
  RankLogFile rankLog(std::fopen(rankLogName, "a"));
  if (!rankLog)
    ThrowFatal(log, 5, Concat("error opening log file ", rankLogName));

  Grid copy(1, g.nrows, g.ncols, g.nrows, log);
  for (int r = 1; r <= g.nrows; ++r) {
    double *values = grid[r];
    for (int c = 1; c <= g.ncols; ++c)
      if (values[c] == fileNodata)
        values[c] = g.nodata;
    std::copy(values, values + g.ncols + 1, copy[r]);
  }

  const bool search = filling.fillMode == 1 && filling.searchNeighbours;
  long replaced = 0;
  for (int r = 1; r <= g.nrows; ++r) {
    const double *values = grid[r];
    const double *zone = zoneGrid[r];
    for (int c = 1; c <= g.ncols; ++c) {
      const bool insideZone = zone[c] != g.nodata;
      if (values[c] != fileNodata) {
        if (!insideZone)
          copy[r][c] = g.nodata;
        continue;
      }
      if (!insideZone)
        continue;
      ++replaced;
      if (!search) {
        copy[r][c] = filling.fillValue;
        continue;
      }
      const auto nearest = NearestValue(grid, g, r, c);
      if (!nearest) {
        std::fprintf(rankLog.get(), "In %s is a too big hole at x/y = %d/%d\n!\n", path.c_str(), c,
                     r);
        rankLog.reset();
        ThrowFatal(log, 25, Concat("In ", path, " is a too big hole at x/y = ", c, "/", r, "!"));
      }
      copy[r][c] = *nearest;
      log.Entry(Concat("DEBUG: y: ", r, " x: ", c, "in ", path, ": ", values[c], " replaced by ",
                       *nearest, "[end-entry]"));
      std::fprintf(rankLog.get(), "y: %d x: %d  in %s %lf replaced by %lf!\n", r, c, path.c_str(),
                   values[c], *nearest);
    }
  }
  if (replaced > 0) {
    log.Entry(Concat("DEBUG: In ", path, ": ", replaced, " nodata values replaced![end-entry]"));
    std::fprintf(rankLog.get(), "in %s: %ld nodata values replaced!\n\n", path.c_str(), replaced);
    for (int r = 1; r <= g.nrows; ++r)
      std::copy(copy[r] + 1, copy[r] + g.ncols + 1, grid[r] + 1);
  }
  return replaced;
}

} // namespace tavro
