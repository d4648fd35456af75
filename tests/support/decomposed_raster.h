// A small raster divided over the processes of the test job as a run divides
// it (equal process speeds), for the suites that work on strips.
#pragma once

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "raster/mpi_decomposition.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <functional>

namespace tavro::test {

// Builds the zone grid on rank 0 (1 on the cells valid(row, column) accepts,
// noData elsewhere) and divides its valid cells over the processes
// (collective). The decomposition's report to the console is dropped.
inline MpiDecomposition DecomposeRaster(Grid &zone, int cols, int rows, double noData,
                                        const std::function<bool(int, int)> &valid,
                                        DiagnosticsLog &log) {
  WriteFixture("MpiSpeedFactor.dat", "1\n");
  if (Rank() == 0) {
    zone = Grid(1, rows, cols, rows, log);
    for (int r = 1; r <= rows; ++r)
      for (int c = 1; c <= cols; ++c)
        zone[r][c] = valid(r, c) ? 1.0 : noData;
  }
  testing::internal::CaptureStdout();
  MpiDecomposition decomposition =
      DistributeMpiRegions(Rank() == 0 ? &zone : nullptr, RasterShape{cols, rows, noData}, log);
  testing::internal::GetCapturedStdout();
  return decomposition;
}

} // namespace tavro::test
