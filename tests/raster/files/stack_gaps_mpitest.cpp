// Binary stacks written by all processes together over divisions whose
// strips begin with cells outside the zone grid: every cell of the file is
// written, the own cells with their levels and every cell without owner
// with nodata in all levels, so the file is the same under any process
// count. Also the shares of the cells on their own.
#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "raster/files/grid_file_context.h"
#include "raster/files/stack_files.h"
#include "raster/files/stack_write_cells.h"
#include "raster/parallel/mpi_decomposition.h"
#include "support/decomposed_raster.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <mpi.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::ProcessCount;
using test::Rank;

constexpr double kNoData = -9999.0;
constexpr int kLevels = 2;
// What the stack holds in the cells of no process: never written.
constexpr double kStale = 7.5;

double LevelValue(int r, int c, int k) { return r * 100.0 + c * 10.0 + k * 0.5; }

struct Layout {
  const char *name;
  int cols;
  int rows;
  std::function<bool(int r, int c)> valid;
};

const std::vector<Layout> &Layouts() {
  static const std::vector<Layout> layouts{
      {"first column outside", 3, 6, [](int, int c) { return c > 1; }},
      {"first column and a whole row outside", 3, 7, [](int r, int c) { return c > 1 && r != 4; }},
      {"last column and the first rows outside", 4, 6, [](int r, int c) { return c < 4 && r > 2; }},
      {"a ragged edge", 5, 6, [](int r, int c) { return c > (r % 3) && c < 5 + (r % 2); }},
  };
  return layouts;
}

template <class Value> std::vector<double> ReadValues(const std::string &name, std::size_t count) {
  std::ifstream file(name, std::ios::binary);
  std::vector<Value> raw(12 + count);
  file.read(reinterpret_cast<char *>(raw.data()),
            static_cast<std::streamsize>(raw.size() * sizeof(Value)));
  EXPECT_TRUE(file.good()) << name;
  EXPECT_EQ(file.peek(), std::ifstream::traits_type::eof()) << name << " is longer";
  return {raw.begin() + 12, raw.end()};
}

TEST(StackGapsMpiTest, BinaryStacksHoldEveryCellWhereverStripsBegin) {
  DiagnosticsLog log("Tavro_Diag.xml", 4);
  for (const Layout &layout : Layouts()) {
    Grid zone;
    const MpiDecomposition decomposition =
        test::DecomposeRaster(zone, layout.cols, layout.rows, kNoData, layout.valid, log);
    GridFileContext context(log);
    context.geometry = {layout.cols, layout.rows, 0.0, 0.0, 25, kNoData};
    context.firstRow = static_cast<int>(decomposition.strip.first);
    context.lastRow = static_cast<int>(decomposition.strip.last);
    context.rank = Rank();
    context.processCount = ProcessCount();
    context.moduleName = "test";
    context.mpiRegions = &decomposition.regions;

    Stack strip(decomposition.strip.first, decomposition.strip.last, layout.cols, kLevels,
                layout.rows, log);
    for (int r = context.firstRow; r <= context.lastRow; ++r)
      for (int c = 1; c <= layout.cols; ++c)
        for (int k = 0; k <= kLevels; ++k)
          strip[r][c][k] = decomposition.regions[r][c] == Rank() ? LevelValue(r, c, k) : kStale;
    for (const bool doubles : {true, false}) {
      const std::string name = doubles ? "gaps_double.stack" : "gaps_float.stack";
      ASSERT_EQ(test::RunCapturingConsole([&] {
                  WriteStack(context, name, strip, kLevels, false, doubles);
                }).code,
                -1);
      MPI_Barrier(MPI_COMM_WORLD);
      if (Rank() == 0) {
        const auto count = static_cast<std::size_t>(layout.cols * layout.rows * (kLevels + 1));
        const std::vector<double> values =
            doubles ? ReadValues<double>(name, count) : ReadValues<float>(name, count);
        std::size_t i = 0;
        for (int r = 1; r <= layout.rows; ++r)
          for (int c = 1; c <= layout.cols; ++c)
            for (int k = 0; k <= kLevels; ++k, ++i)
              EXPECT_EQ(values[i], layout.valid(r, c) ? LevelValue(r, c, k) : kNoData)
                  << layout.name << (doubles ? " double" : " float") << " at " << r << "," << c
                  << " level " << k;
        std::remove(name.c_str());
      }
      MPI_Barrier(MPI_COMM_WORLD);
    }
  }
}

// Owners of a 4 x 3 raster: rank 2 above, then 1, then 0, with cells
// without owner before, between and after them.
TEST(StackGapsMpiTest, SharesCoverEveryCellOnce) {
  DiagnosticsLog log("Tavro_Diag.xml", 4);
  Grid owners(1, 3, 4, 3, log);
  const double rows[3][4] = {{-1, 2, 2, -1}, {-1, 1, 1, -1}, {1, 0, -1, -1}};
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c)
      owners[r][c] = rows[r - 1][c - 1];
  const auto spans = StackWriteSpans(owners, 4, 3, 3);
  ASSERT_EQ(spans.size(), 3u);
  EXPECT_EQ(spans[2], (std::vector<CellSpan>{{0, 5}}));
  EXPECT_EQ(spans[1], (std::vector<CellSpan>{{5, 4}}));
  EXPECT_EQ(spans[0], (std::vector<CellSpan>{{9, 3}}));
  // Nothing owned: rank 0 writes everything.
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c)
      owners[r][c] = kNoData;
  const auto none = StackWriteSpans(owners, 4, 3, 3);
  EXPECT_EQ(none[0], (std::vector<CellSpan>{{0, 12}}));
  EXPECT_TRUE(none[1].empty() && none[2].empty());
}

} // namespace
} // namespace tavro
