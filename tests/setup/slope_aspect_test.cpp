// Slope and aspect by central differences: tilted planes against their
// analytic slope and downslope azimuth, a random terrain against gdaldem's
// Zevenbergen-Thorne algorithm, and the neighbour means that fill the gaps.
#include "setup/slope_aspect.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

namespace tavro {
namespace {

constexpr double N = -9999.0;

struct Terrain {
  DiagnosticsLog log{"Tavro_Diag.xml", 4};
  RasterGeometry geometry;
  Grid elevation;
  Grid slope;
  Grid aspect;

  Terrain(int ncols, int nrows, double cellSize) : geometry{ncols, nrows, 0.0, 0.0, cellSize, N} {
    for (Grid *grid : {&elevation, &slope, &aspect})
      *grid = Grid(1, nrows, ncols, nrows, log);
  }
  void Compute() { ComputeSlopeAndAspect(elevation, geometry, &slope, &aspect); }
};

// Angular difference in degrees, 0..180.
double AngleBetween(double a, double b) {
  const double d = std::fmod(std::fabs(a - b), 360.0);
  return d > 180.0 ? 360.0 - d : d;
}

TEST(SlopeAspect, TiltedPlanesGiveTheirSlopeAndDownslopeAzimuth) {
  struct Case {
    double a; // rise per metre towards the east
    double b; // rise per metre towards the north
  };
  const Case cases[] = {{0.1, 0.0},  {0.0, 0.1},  {-0.2, 0.0},  {0.0, -0.05}, {0.3, 0.4},
                        {-0.3, 0.4}, {0.3, -0.4}, {-1.5, -0.7}, {2.0, 0.01},  {0.0, 0.0}};
  for (const Case &k : cases) {
    Terrain t(7, 6, 25.0);
    // Row 1 is the northern row: y grows upwards.
    for (long r = 1; r <= 6; ++r)
      for (long c = 1; c <= 7; ++c)
        t.elevation[r][c] = 500.0 + k.a * 25.0 * c + k.b * 25.0 * (6 - r);
    t.Compute();
    const double slope = std::atan(std::hypot(k.a, k.b)) * kDegreesPerRadian;
    double aspect = std::atan2(-k.a, -k.b) * kDegreesPerRadian;
    if (k.a == 0.0 && k.b == 0.0)
      aspect = 0.0; // flat ground faces north
    for (long r = 2; r <= 5; ++r)
      for (long c = 2; c <= 6; ++c) {
        EXPECT_NEAR(t.slope[r][c], slope, 1e-9) << k.a << " " << k.b;
        EXPECT_NEAR(AngleBetween(t.aspect[r][c], aspect), 0.0, 1e-9) << k.a << " " << k.b;
        EXPECT_GE(t.aspect[r][c], 0.0);
        EXPECT_LT(t.aspect[r][c], 360.0);
      }
    // The border rows and columns are left to the gap filling.
    for (long c = 1; c <= 7; ++c)
      EXPECT_TRUE(t.slope[1][c] == N && t.aspect[6][c] == N);
    for (long r = 1; r <= 6; ++r)
      EXPECT_TRUE(t.slope[r][1] == N && t.aspect[r][7] == N);
  }
  // The two directions named by the terrain's rise.
  EXPECT_DOUBLE_EQ(SlopeAndAspect(0.1, 0.0).Aspect, 270.0); // rising to the east
  EXPECT_DOUBLE_EQ(SlopeAndAspect(0.0, 0.1).Aspect, 180.0); // rising to the north
}

TEST(SlopeAspect, ANodataNeighbourLeavesTheCellOpen) {
  Terrain t(5, 5, 10.0);
  for (long r = 1; r <= 5; ++r)
    for (long c = 1; c <= 5; ++c)
      t.elevation[r][c] = 100.0 + r + 2.0 * c;
  t.elevation[3][3] = N;
  t.Compute();
  for (const auto &[r, c] : {std::pair{2L, 3L}, {3L, 2L}, {3L, 4L}, {4L, 3L}})
    EXPECT_TRUE(t.slope[r][c] == N && t.aspect[r][c] == N) << r << "/" << c;
  // The cell itself is not tested, its diagonal neighbours are unaffected.
  EXPECT_NE(t.slope[3][3], N);
  EXPECT_NE(t.slope[2][2], N);
}

TEST(SlopeAspect, AgreesWithGdaldemZevenbergenThorne) {
  constexpr int kCols = 23;
  constexpr int kRows = 17;
  Terrain t(kCols, kRows, 25.0);
  std::mt19937 random(18);
  // Quarter metres: gdaldem computes in single precision, which holds these exactly.
  std::uniform_int_distribution<int> quarters(1200, 1680);
  std::FILE *dem = std::fopen("dem.asc", "w");
  ASSERT_NE(dem, nullptr);
  std::fprintf(dem,
               "ncols %d\nnrows %d\nxllcorner 0\nyllcorner 0\ncellsize 25\n"
               "nodata_value -9999\n",
               kCols, kRows);
  for (long r = 1; r <= kRows; ++r) {
    for (long c = 1; c <= kCols; ++c) {
      t.elevation[r][c] = 0.25 * quarters(random);
      std::fprintf(dem, "%.17g ", t.elevation[r][c]);
    }
    std::fprintf(dem, "\n");
  }
  std::fclose(dem);
  t.Compute();

  for (const char *kind : {"slope", "aspect"}) {
    SCOPED_TRACE(kind);
    const std::string output = std::string(kind) + ".asc";
    const std::string command = std::string("gdaldem ") + kind +
                                " -q -alg ZevenbergenThorne -of AAIGrid dem.asc " + output +
                                " >gdaldem.log 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0)
        << "gdaldem failed or is missing (package gdal-bin): "
        << test::ReadWholeFile("gdaldem.log");
    const std::vector<double> reference = test::ReadAsciiGridValues(output);
    ASSERT_EQ(reference.size(), static_cast<std::size_t>(kCols * kRows));
    const Grid &ours = std::string(kind) == "slope" ? t.slope : t.aspect;
    int compared = 0;
    for (long r = 2; r < kRows; ++r)
      for (long c = 2; c < kCols; ++c) {
        const double expected = reference[static_cast<std::size_t>((r - 1) * kCols + c - 1)];
        EXPECT_NEAR(AngleBetween(ours[r][c], expected), 0.0, 1e-4) << r << "/" << c;
        ++compared;
      }
    EXPECT_EQ(compared, (kRows - 2) * (kCols - 2));
  }
}

TEST(NeighbourMean, ArithmeticForSlopesCircularForDirections) {
  DiagnosticsLog log("Tavro_Diag.xml", 4);
  const RasterGeometry geometry{3, 3, 0.0, 0.0, 10.0, N};
  Grid grid(1, 3, 3, 3, log);
  struct Case {
    const char *name;
    double values[3][3]; // the centre is the cell filled
    NeighbourMean mean;
    double expected;
  };
  const Case cases[] = {
      {"slopes", {{1, 2, 3}, {N, N, 4}, {N, N, 6}}, NeighbourMean::Arithmetic, 16.0 / 5.0},
      {"350 and 10 degrees", {{350, N, 10}, {N, N, N}, {N, N, N}}, NeighbourMean::Circular, 0.0},
      {"directions around south",
       {{170, 180, 190}, {N, N, N}, {N, N, N}},
       NeighbourMean::Circular,
       180.0},
      {"directions around north-west",
       {{300, 330, N}, {N, N, N}, {N, N, N}},
       NeighbourMean::Circular,
       315.0},
      {"opposite directions cancel",
       {{90, N, 270}, {N, N, N}, {N, N, N}},
       NeighbourMean::Circular,
       0.0},
      {"four cancelling directions",
       {{0, 90, N}, {180, N, N}, {270, N, N}},
       NeighbourMean::Circular,
       0.0},
  };
  for (const Case &k : cases) {
    for (long r = 1; r <= 3; ++r)
      for (long c = 1; c <= 3; ++c)
        grid[r][c] = k.values[r - 1][c - 1];
    const auto mean = MeanOfNeighbours(grid, 2, 2, geometry, k.mean);
    ASSERT_TRUE(mean.has_value()) << k.name;
    EXPECT_NEAR(AngleBetween(*mean, k.expected), 0.0, 1e-9) << k.name << ": " << *mean;
    EXPECT_GE(*mean, 0.0) << k.name;
    EXPECT_LT(*mean, 360.0) << k.name;
  }
  // Only neighbours inside the raster count; without any there is no mean.
  grid.Fill(N);
  grid[2][2] = 7.0;
  EXPECT_DOUBLE_EQ(*MeanOfNeighbours(grid, 1, 1, geometry, NeighbourMean::Arithmetic), 7.0);
  EXPECT_FALSE(MeanOfNeighbours(grid, 2, 2, geometry, NeighbourMean::Arithmetic).has_value());
}

} // namespace
} // namespace tavro
