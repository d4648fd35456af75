// The region weight scan over a 1000 x 1000 raster of three regions with a
// transition band of 10 cells, on 1 and on 8 OpenMP threads: the set-up step
// whose cost grows with the cells times the band's area (rank 0 alone).
#include <benchmark/benchmark.h>
#include <omp.h>

#include <array>
#include <cmath>
#include <filesystem>

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "setup/region_weights.h"

namespace {

constexpr long kSize = 1000;
constexpr double kNoData = -9999.0;

// An oval catchment split into three regions meeting near its centre, with
// the column ranges of its rows.
struct RegionRaster {
  RegionRaster()
      : log((std::filesystem::temp_directory_path() / "tavro_region_weights_bench.xml").string(),
            2),
        shape{kSize, kSize, kNoData}, ranges(kSize) {
    zone = tavro::Grid(1, kSize, kSize, kSize, log);
    for (tavro::Grid &grid : grids)
      grid = tavro::Grid(1, kSize, kSize, kSize, log);
    for (long r = 1; r <= kSize; ++r) {
      tavro::RowColumnRange &range = ranges[static_cast<std::size_t>(r)];
      for (long c = 1; c <= kSize; ++c) {
        const double y = (r - 500.0) / 480.0;
        const double x = (c - 500.0) / 495.0;
        const bool inside = x * x + y * y <= 1.0;
        zone[r][c] = inside ? 1.0 : kNoData;
        if (!inside)
          continue;
        const double angle = std::atan2(y, x + 0.1 * std::sin(r / 37.0));
        grids[0][r][c] = angle < -1.0 ? 1.0 : (angle < 1.3 ? 2.0 : 3.0);
        range.first = range.first == 0 ? static_cast<std::int32_t>(c) : range.first;
        range.last = static_cast<std::int32_t>(c);
      }
    }
  }

  tavro::DiagnosticsLog log;
  tavro::RasterShape shape;
  tavro::Grid zone;
  tavro::OneBasedArray<tavro::RowColumnRange> ranges;
  std::array<tavro::Grid, 6> grids; // regions and weights of the three levels
};

RegionRaster &Raster() {
  static RegionRaster raster;
  return raster;
}

// Arg: the number of threads.
void BM_GenerateRegionWeightGrids(benchmark::State &state) {
  RegionRaster &raster = Raster();
  tavro::RegionWeightGrids grids{&raster.grids[0], &raster.grids[1], &raster.grids[2],
                                 &raster.grids[3], &raster.grids[4], &raster.grids[5]};
  const int threads = omp_get_max_threads();
  omp_set_num_threads(static_cast<int>(state.range(0)));
  for (auto _ : state)
    tavro::GenerateRegionWeights(raster.zone, raster.shape, raster.ranges, 10.0, grids);
  omp_set_num_threads(threads);
  state.SetItemsProcessed(state.iterations() * kSize * kSize);
}
BENCHMARK(BM_GenerateRegionWeightGrids)
    ->Arg(1)
    ->Arg(8)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

} // namespace
