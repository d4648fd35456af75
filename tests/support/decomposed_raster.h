// A small raster divided over the processes of the test job as a run divides
// it (equal process speeds), for the suites that work on strips.
#pragma once

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "raster/parallel/mpi_decomposition.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <functional>

namespace tavro::test {

// Builds the zone grid on rank 0 (zoneOf(row, column) in every cell) and
// divides its valid cells over the processes (collective). The
// decomposition's report to the console is dropped.
inline MpiDecomposition DecomposeZones(Grid &zone, long cols, long rows, double noData,
                                       const std::function<double(long, long)> &zoneOf,
                                       DiagnosticsLog &log) {
  WriteFixture(kSpeedFactorFileName, "1\n");
  if (Rank() == 0) {
    zone = Grid(1, rows, cols, rows, log);
    for (long r = 1; r <= rows; ++r)
      for (long c = 1; c <= cols; ++c)
        zone[r][c] = zoneOf(r, c);
  }
  testing::internal::CaptureStdout();
  MpiDecomposition decomposition =
      DistributeMpiRegions(Rank() == 0 ? &zone : nullptr, RasterShape{cols, rows, noData}, log);
  testing::internal::GetCapturedStdout();
  return decomposition;
}

// The same with zone 1 on the cells valid(row, column) accepts, noData elsewhere.
inline MpiDecomposition DecomposeRaster(Grid &zone, int cols, int rows, double noData,
                                        const std::function<bool(int, int)> &valid,
                                        DiagnosticsLog &log) {
  return DecomposeZones(
      zone, cols, rows, noData,
      [&](long r, long c) {
        return valid(static_cast<int>(r), static_cast<int>(c)) ? 1.0 : noData;
      },
      log);
}

} // namespace tavro::test
