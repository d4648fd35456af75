// Reading and writing a 4000 x 4000 grid as ASCII and as binary double and
// float files on one process: the start-up path of every run with large grids.
// The ASCII file is $TMPDIR/tavro_grid_files_bench/bench.asc (126 MB).
#include <benchmark/benchmark.h>
#include <omp.h>

#include <filesystem>
#include <memory>
#include <string>

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "raster/files/grid_file_context.h"
#include "raster/files/grid_reader.h"
#include "raster/files/grid_writer.h"

namespace {

constexpr int kSize = 4000;

// One log, one context and one grid of elevation-like values for all cases;
// the files live in a directory of their own under the temporary directory.
struct GridBenchData {
  GridBenchData()
      : directory(std::filesystem::temp_directory_path() / "tavro_grid_files_bench"),
        log((std::filesystem::create_directories(directory), (directory / "bench.xml").string()),
            2),
        context(log), grid(1, kSize, kSize, kSize, log) {
    context.geometry = {kSize, kSize, 3512345.5, 5612345.0, 25.0, -9999.0};
    context.firstRow = 1;
    context.lastRow = kSize;
    context.outputDirectory = directory.string() + "/";
    context.inputDirectory = context.outputDirectory;
    for (int r = 1; r <= kSize; ++r)
      for (int c = 1; c <= kSize; ++c)
        grid[r][c] = (r + c) % 97 == 0 ? -9999.0 : 250.0 + ((r * 7 + c * 13) % 100000) * 0.0137;
  }

  std::filesystem::path directory;
  tavro::DiagnosticsLog log;
  tavro::GridFileContext context;
  tavro::Grid grid;
};

GridBenchData &Data() {
  static GridBenchData data;
  return data;
}

void Write(benchmark::State &state, const char *name, bool ascii, bool doubles) {
  auto &data = Data();
  for (auto _ : state)
    tavro::WriteGrid(data.context, name, data.grid, ascii, doubles);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(std::filesystem::file_size(data.directory / name)));
}

void Read(benchmark::State &state, const char *name, bool ascii, bool doubles) {
  auto &data = Data();
  if (!std::filesystem::exists(data.directory / name))
    tavro::WriteGrid(data.context, name, data.grid, ascii, doubles);
  tavro::GridReadOptions options;
  options.keepWholeOnRoot = ascii; // binary grids take the MPI-IO path
  for (auto _ : state) {
    tavro::Grid grid;
    tavro::ReadGrid(data.context, name, grid, options);
    benchmark::DoNotOptimize(grid[kSize][kSize]);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(std::filesystem::file_size(data.directory / name)));
}

void BM_WriteAsciiGrid4000(benchmark::State &state) { Write(state, "bench.asc", true, false); }
void BM_ReadAsciiGrid4000(benchmark::State &state) { Read(state, "bench.asc", true, false); }
// The same read with the block parse on state.range(0) OpenMP threads.
void BM_ReadAsciiGrid4000Threads(benchmark::State &state) {
  const int before = omp_get_max_threads();
  omp_set_num_threads(static_cast<int>(state.range(0)));
  Read(state, "bench.asc", true, false);
  omp_set_num_threads(before);
}
void BM_WriteDoubleGrid4000(benchmark::State &state) { Write(state, "bench.dbl", false, true); }
void BM_ReadDoubleGrid4000(benchmark::State &state) { Read(state, "bench.dbl", false, true); }
void BM_WriteFloatGrid4000(benchmark::State &state) { Write(state, "bench.flt", false, false); }
void BM_ReadFloatGrid4000(benchmark::State &state) { Read(state, "bench.flt", false, false); }

} // namespace

BENCHMARK(BM_WriteAsciiGrid4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadAsciiGrid4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadAsciiGrid4000Threads)
    ->Arg(1)
    ->Arg(8)
    ->ArgName("threads")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteDoubleGrid4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadDoubleGrid4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteFloatGrid4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFloatGrid4000)->Unit(benchmark::kMillisecond);
