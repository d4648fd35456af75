// Decoding a 1000 x 1000 GIF image (noise, which keeps the LZW table full
// and its strings short, and a smooth image of long strings) beside a plain
// sweep that writes the same matrix: the decoder's cost per pixel in units
// of the cheapest possible fill.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "raster/files/gif_image_reader.h"
#include "support/gif_test_files.h"

namespace {

constexpr int kSize = 1000;

struct GifBenchData {
  GifBenchData()
      : directory(std::filesystem::temp_directory_path() / "tavro_gif_bench"),
        log((std::filesystem::create_directories(directory), (directory / "bench.xml").string()),
            2),
        matrix(1, kSize, kSize, kSize, log) {
    std::mt19937 random(42);
    tavro::test::Bytes noise(kSize * kSize);
    tavro::test::Bytes smooth(kSize * kSize);
    for (int r = 0; r < kSize; ++r)
      for (int c = 0; c < kSize; ++c) {
        noise[static_cast<std::size_t>(r * kSize + c)] = static_cast<std::uint8_t>(random() % 250);
        smooth[static_cast<std::size_t>(r * kSize + c)] =
            static_cast<std::uint8_t>((r / 40 + c / 100) % 250);
      }
    Write(noisePath(), noise);
    Write(smoothPath(), smooth);
  }
  std::string noisePath() const { return (directory / "noise.gif").string(); }
  std::string smoothPath() const { return (directory / "smooth.gif").string(); }
  static void Write(const std::string &path, const tavro::test::Bytes &pixels) {
    const tavro::test::Bytes file =
        tavro::test::GifFile(kSize, kSize, 8, tavro::test::EncodeLzw(pixels, 8, true));
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(file.data()),
              static_cast<std::streamsize>(file.size()));
  }

  std::filesystem::path directory;
  tavro::DiagnosticsLog log;
  tavro::Grid matrix;
};

GifBenchData &Data() {
  static GifBenchData data;
  return data;
}

void BM_GifDecode(benchmark::State &state, bool noise) {
  GifBenchData &data = Data();
  const std::string path = noise ? data.noisePath() : data.smoothPath();
  for (auto _ : state) {
    tavro::GifImageReader reader(path);
    reader.Decode(data.matrix);
    benchmark::DoNotOptimize(data.matrix[kSize][kSize]);
  }
}
BENCHMARK_CAPTURE(BM_GifDecode, Noise, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GifDecode, Smooth, false)->Unit(benchmark::kMillisecond);

// The reference: every cell of the same matrix written once, row by row.
void BM_GifMatrixSweep(benchmark::State &state) {
  GifBenchData &data = Data();
  double value = 0.0;
  for (auto _ : state) {
    value += 1.0;
    for (int r = 1; r <= kSize; ++r) {
      double *row = data.matrix[r];
      for (int c = 1; c <= kSize; ++c)
        row[c] = value + c;
    }
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_GifMatrixSweep)->Unit(benchmark::kMillisecond);

} // namespace
