// One step of the mesh splines (methods 7 and 8: the column second
// derivatives, the column pass, the row pass and the copy onto the model
// cells) from a mesh of 20 x 20 stations onto a 1000 x 1000 raster of 100 m,
// on one process. The argument is the share of the raster (in percent of its
// rows, from the top) that the process holds: a process evaluates only the
// auxiliary cells its own cells need, so the time should fall with it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "meteo/tsplines.h"

namespace {

constexpr long kSize = 1000;
constexpr long kMesh = 20;
constexpr double kCell = 100.0;

struct SplineBenchData {
  SplineBenchData()
      : directory(std::filesystem::temp_directory_path() / "tavro_spline_bench"),
        log((std::filesystem::create_directories(directory), (directory / "bench.xml").string()),
            1) {
    const auto grid = [&](long rows, long columns) {
      return tavro::Grid(1, rows, columns, rows, log);
    };
    zone = grid(kSize, kSize);
    coordX = grid(kSize, kSize);
    coordY = grid(kSize, kSize);
    result = grid(kSize, kSize);
    for (long r = 1; r <= kSize; ++r)
      for (long c = 1; c <= kSize; ++c) {
        zone[r][c] = 1.0;
        coordX[r][c] = (c - 1) * kCell;
        coordY[r][c] = (kSize - r) * kCell;
      }
    nodeX = grid(kMesh, kMesh);
    nodeY = grid(kMesh, kMesh);
    z = grid(kMesh, kMesh);
    z2 = grid(kMesh, kMesh);
    // A slightly irregular mesh over the whole raster, values of a smooth field.
    const double spacing = (kSize - 1) * kCell / (kMesh - 1);
    for (long i = 1; i <= kMesh; ++i)
      for (long j = 1; j <= kMesh; ++j) {
        const double wobble = (i == 1 || i == kMesh || j == 1 || j == kMesh) ? 0.0 : 0.1;
        nodeX[i][j] = (j - 1) * spacing + wobble * spacing * std::sin(i * 1.3);
        nodeY[i][j] = (kMesh - i) * spacing + wobble * spacing * std::cos(j * 0.7);
        z[i][j] = 10.0 + 5.0 * std::sin(nodeX[i][j] / 20000.0) * std::cos(nodeY[i][j] / 30000.0);
      }
  }

  std::filesystem::path directory;
  tavro::DiagnosticsLog log;
  tavro::Grid zone, coordX, coordY, result, nodeX, nodeY, z, z2;
};

void BM_SplineStep(benchmark::State &state) {
  static SplineBenchData data;
  tavro::CellIterationSetup cells;
  cells.LastRow = std::max(1L, kSize * state.range(0) / 100);
  cells.NCols = kSize;
  cells.Zone = &data.zone;
  tavro::TSplines splines(
      data.log, "bench", tavro::SplineMesh{&data.nodeX, &data.nodeY, kMesh, kMesh, 5000, 5000},
      tavro::SplineModelRaster{&data.coordX, &data.coordY, cells, 0.0, 0.0, kCell, -9999.0, 0.0},
      tavro::interpolation::ValueBounds{-9999.0, -10000.0});
  for (auto _ : state) {
    splines.Prepare(data.z, data.z2);
    splines.EvaluateGrid(data.z, data.z2, data.result);
    benchmark::DoNotOptimize(data.result[1][1]);
  }
  state.SetItemsProcessed(state.iterations() * cells.LastRow * kSize);
}
BENCHMARK(BM_SplineStep)->Arg(100)->Arg(33)->Unit(benchmark::kMillisecond);

} // namespace
