// Region weights over whole rasters: two regions blend linearly across the
// transition band, three regions give weights that add to 1, a zero band or
// a single region leaves every cell to its own region, and every invalid cell
// holds nodata; the same for one thread and for two.
#include "setup/region_weights.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <array>
#include <functional>

namespace tavro {
namespace {

constexpr double N = -9999.0;

// A raster with a zone grid, its column ranges and the six level grids.
struct Regions {
  DiagnosticsLog log{"Tavro_Diag.xml", 4};
  RasterShape shape;
  Grid zone;
  OneBasedArray<RowColumnRange> ranges;
  std::array<Grid, 6> grids; // regions 1, weights 1, regions 2, weights 2, regions 3, weights 3

  // region(r, c): the region code of a valid cell, nodata for an invalid one.
  Regions(long ncols, long nrows, const std::function<double(long, long)> &region)
      : shape{ncols, nrows, N}, ranges(static_cast<std::size_t>(nrows)) {
    zone = Grid(1, nrows, ncols, nrows, log);
    for (Grid &grid : grids) {
      grid = Grid(1, nrows, ncols, nrows, log);
      grid.Fill(0.0);
    }
    for (long r = 1; r <= nrows; ++r) {
      RowColumnRange &range = ranges[static_cast<std::size_t>(r)];
      for (long c = 1; c <= ncols; ++c) {
        const double code = region(r, c);
        zone[r][c] = code == N ? N : 1.0;
        grids[0][r][c] = code;
        if (code != N) {
          range.first = range.first == 0 ? static_cast<std::int32_t>(c) : range.first;
          range.last = static_cast<std::int32_t>(c);
        }
      }
    }
  }

  void Generate(int levels, double transitionCells) {
    RegionWeightGrids g;
    Grid **slots[] = {&g.Regions1, &g.Weights1, &g.Regions2, &g.Weights2, &g.Regions3, &g.Weights3};
    for (int k = 0; k < 2 * levels; ++k)
      *slots[k] = &grids[static_cast<std::size_t>(k)];
    ASSERT_EQ(g.Levels(), levels);
    GenerateRegionWeights(zone, shape, ranges, transitionCells, g);
  }
  double W(int level, long r, long c) const { return grids[2 * level - 1][r][c]; }
  double R(int level, long r, long c) const { return grids[2 * level - 2][r][c]; }
};

TEST(RegionWeights, TwoRegionsBlendAcrossTheBand) {
  // Region 4 in columns 1..15, region 9 in columns 16..30; D = 10 cells.
  Regions raster(30, 5, [](long, long c) { return c <= 15 ? 4.0 : 9.0; });
  raster.Generate(2, TransitionCells(10000.0, 1000.0));
  struct Case {
    long column;
    double own;   // weight of the cell's own region
    double other; // code of the second region (0: none within the band)
  };
  const Case cases[] = {{15, 0.55, 9}, {16, 0.55, 4}, {14, 0.6, 9}, {12, 0.7, 9}, {7, 0.95, 9},
                        {6, 1.0, 9},   {5, 1.0, 0},   {1, 1.0, 0},  {25, 1.0, 4}, {26, 1.0, 0}};
  for (const Case &k : cases)
    for (long r = 1; r <= 5; ++r) {
      EXPECT_DOUBLE_EQ(raster.W(1, r, k.column), k.own) << "column " << k.column;
      EXPECT_DOUBLE_EQ(raster.W(2, r, k.column), 1.0 - k.own) << "column " << k.column;
      EXPECT_EQ(raster.R(2, r, k.column), k.other) << "column " << k.column;
    }
}

TEST(RegionWeights, ThreeRegionsGiveWeightsAddingToOne) {
  // Three sectors around a point, with a ragged outline of invalid cells.
  const auto region = [](long r, long c) {
    if ((r + 2 * c) % 11 == 0 || c > 35 - r / 3)
      return N;
    if (r <= 12)
      return c <= 14 ? 1.0 : 2.0;
    return 3.0;
  };
  Regions raster(40, 28, region);
  raster.Generate(3, 4.5);
  int blended = 0;
  for (long r = 1; r <= 28; ++r)
    for (long c = 1; c <= 40; ++c) {
      if (region(r, c) == N) {
        for (int g = 1; g < 6; ++g)
          EXPECT_EQ(raster.grids[static_cast<std::size_t>(g)][r][c], N) << r << "/" << c;
        continue;
      }
      const double w1 = raster.W(1, r, c), w2 = raster.W(2, r, c), w3 = raster.W(3, r, c);
      for (const double w : {w1, w2, w3}) {
        EXPECT_GE(w, 0.0) << r << "/" << c;
        EXPECT_LE(w, 1.0) << r << "/" << c;
      }
      EXPECT_NEAR(w1 + w2 + w3, 1.0, 1e-12) << r << "/" << c;
      for (const double other : {raster.R(2, r, c), raster.R(3, r, c)})
        EXPECT_NE(other, region(r, c)) << r << "/" << c;
      if (raster.R(3, r, c) > 0.0) {
        EXPECT_NE(raster.R(3, r, c), raster.R(2, r, c));
        ++blended;
      }
    }
  EXPECT_GT(blended, 0); // cells near the meeting point see all three regions
}

TEST(RegionWeights, AZeroBandOrOneRegionKeepsEveryCellToItsOwn) {
  const auto halves = [](long r, long c) { return r == 3 && c == 1 ? N : (c <= 3 ? 1.0 : 2.0); };
  Regions zeroBand(6, 4, halves);
  zeroBand.Generate(2, TransitionCells(0.0, 1000.0));
  Regions oneRegion(6, 4, [](long r, long c) { return r == 3 && c == 1 ? N : 7.0; });
  oneRegion.Generate(1, TransitionCells(5000.0, 1000.0));
  for (long r = 1; r <= 4; ++r)
    for (long c = 1; c <= 6; ++c) {
      const double expected = r == 3 && c == 1 ? N : 1.0;
      EXPECT_EQ(zeroBand.W(1, r, c), expected) << r << "/" << c;
      EXPECT_EQ(zeroBand.W(2, r, c), expected == N ? N : 0.0) << r << "/" << c;
      EXPECT_EQ(zeroBand.R(2, r, c), expected == N ? N : 0.0) << r << "/" << c;
      EXPECT_EQ(oneRegion.W(1, r, c), expected) << r << "/" << c;
    }
  EXPECT_DOUBLE_EQ(TransitionCells(-3.0, 1000.0), 0.01 / 1000.0);
}

TEST(RegionWeights, InvalidCellsOutsideTheColumnRangesHoldNodata) {
  // Row 2 has no valid cell at all, row 3 only columns 2..3.
  Regions raster(5, 4, [](long r, long c) {
    if (r == 2 || (r == 3 && (c < 2 || c > 3)))
      return N;
    return c <= 2 ? 5.0 : 6.0;
  });
  raster.Generate(2, 3.0);
  for (long c = 1; c <= 5; ++c)
    for (int g = 1; g < 4; ++g) {
      EXPECT_EQ(raster.grids[static_cast<std::size_t>(g)][2][c], N) << c;
      if (c != 2 && c != 3) {
        EXPECT_EQ(raster.grids[static_cast<std::size_t>(g)][3][c], N) << c;
      }
    }
}

TEST(RegionWeights, OneThreadAndTwoGiveTheSameGrids) {
  const auto region = [](long r, long c) { return 1.0 + static_cast<double>((r / 7 + c / 9) % 3); };
  Regions one(50, 40, region);
  Regions two(50, 40, region);
  const int threads = omp_get_max_threads();
  omp_set_num_threads(1);
  one.Generate(3, 6.0);
  omp_set_num_threads(2);
  two.Generate(3, 6.0);
  omp_set_num_threads(threads);
  for (std::size_t g = 0; g < 6; ++g)
    for (long r = 1; r <= 40; ++r)
      for (long c = 1; c <= 50; ++c)
        ASSERT_EQ(one.grids[g][r][c], two.grids[g][r][c]) << g << " " << r << "/" << c;
}

TEST(RegionWeights, TwoRegionFormula) {
  struct Case {
    double nearest;
    double dc;
    double own;
  };
  const Case cases[] = {{0, 10, 0.5},  {1, 10, 0.55}, {5, 10, 0.75}, {10, 10, 1.0},
                        {12, 10, 1.0}, {-4, 2, 0.5},  {1, 4, 0.625}};
  for (const Case &k : cases) {
    const RegionWeights w = TwoRegionWeights(k.nearest, k.dc);
    EXPECT_DOUBLE_EQ(w.W1, k.own) << k.nearest << " " << k.dc;
    EXPECT_DOUBLE_EQ(w.W2, 1.0 - k.own) << k.nearest << " " << k.dc;
    EXPECT_EQ(w.W3, 0.0);
  }
}

} // namespace
} // namespace tavro
