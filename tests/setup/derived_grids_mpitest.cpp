// The derived grids of the set-up on the fixture catchment, under one process
// and under three: every process holds the same values in its own and halo
// cells as a computation of the test gives for the whole raster, so the
// grids do not depend on the process count.
#include "setup/setup_catchment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

namespace tavro {
namespace {

using test::SetupRun;
using test::ZoneAt;

constexpr double kXll = 3400000.0;
constexpr double kYll = 5200000.0;
constexpr double kCs = test::kCatchmentCellSize;

bool Valid(long r, long c) { return ZoneAt(r, c) != -9999; }

TEST(DerivedGrids, UniformCellsGiveTheLowerLeftCornersAndOneRegion) {
  test::WriteCatchment();
  SetupRun run;
  ASSERT_EQ(run.Run().code, 0);
  const Grid &sizeX = run.GridOf("CellSizeX");
  const Grid &sizeY = run.GridOf("CellSizeY");
  const Grid &area = run.GridOf("RelCellArea");
  const Grid &x = run.GridOf("CoordX");
  const Grid &y = run.GridOf("CoordY");
  const Grid &weights = run.GridOf("regression_weights1");
  const Grid &slope = run.GridOf("slope_angle");
  const Grid &aspect = run.GridOf("slope_aspect");
  int checked = 0;
  run.ForHeldValidCells([&](long r, long c) {
    EXPECT_EQ(sizeX[r][c], kCs);
    EXPECT_EQ(sizeY[r][c], kCs);
    EXPECT_EQ(area[r][c], 1.0);
    EXPECT_EQ(x[r][c], kXll + (c - 1) * kCs) << r << "/" << c;
    EXPECT_EQ(y[r][c], kYll + (5 - r) * kCs) << r << "/" << c;
    EXPECT_EQ(weights[r][c], 1.0);
    // Every cell of the elevation model has its slope, the border ones filled.
    EXPECT_GE(slope[r][c], 0.0) << r << "/" << c;
    EXPECT_LT(slope[r][c], 90.0) << r << "/" << c;
    EXPECT_GE(aspect[r][c], 0.0) << r << "/" << c;
    EXPECT_LT(aspect[r][c], 360.0) << r << "/" << c;
    ++checked;
  });
  EXPECT_GT(checked, 0);
  EXPECT_EQ(run.registry.FindGrid("regression_weights2", true), 0);
  EXPECT_EQ(run.setup->Regions().Count, 1);
  EXPECT_EQ(run.setup->GetSettings().Regions->Count, 1);
  if (test::Rank() == 0) {
    for (const char *file : {"zone.$csx", "zone.$csy", "zone.$rca", "zone.$cx", "zone.$cy",
                             "elevation.$sl", "elevation.$ex", "zone.$w1"})
      EXPECT_TRUE(test::FileExists(file)) << file;
    // The created single-region grid is not written.
    EXPECT_FALSE(test::FileExists("zone.$r1"));
  }
}

TEST(DerivedGrids, CoordinatesAreRunningSumsOfReadCellSizes) {
  const auto sizeX = [](long r, long c) { return 700.0 + 90.0 * c + 13.0 * r; };
  const auto sizeY = [](long r, long c) { return 1200.0 - 40.0 * r + 11.0 * c; };
  test::WriteFixture("csx.asc", test::CatchmentGrid(sizeX));
  test::WriteFixture("csy.asc", test::CatchmentGrid(sizeY));
  test::WriteCatchment({test::MoreStandardGrids({"csx.asc CellSizeX 0", "csy.asc CellSizeY 0"})});
  SetupRun run;
  ASSERT_EQ(run.Run().code, 0);
  // Sizes outside the zones are nodata after the cell-size step and count as
  // the header's cell size.
  const auto size = [](auto sizes, long r, long c) { return Valid(r, c) ? sizes(r, c) : kCs; };
  double expectedX[6][7] = {};
  double expectedY[6][7] = {};
  for (long r = 5; r >= 1; --r)
    for (long c = 1; c <= 6; ++c) {
      expectedX[r][c] = c == 1 ? kXll : expectedX[r][c - 1] + size(sizeX, r, c - 1);
      expectedY[r][c] = r == 5 ? kYll : expectedY[r + 1][c] + size(sizeY, r + 1, c);
    }
  const Grid &x = run.GridOf("CoordX");
  const Grid &y = run.GridOf("CoordY");
  const Grid &area = run.GridOf("RelCellArea");
  run.ForHeldValidCells([&](long r, long c) {
    EXPECT_EQ(x[r][c], expectedX[r][c]) << r << "/" << c;
    EXPECT_EQ(y[r][c], expectedY[r][c]) << r << "/" << c;
    EXPECT_DOUBLE_EQ(area[r][c], sizeX(r, c) * sizeY(r, c) / (kCs * kCs)) << r << "/" << c;
  });
  if (test::Rank() == 0) {
    EXPECT_EQ(x[1][1], -9999.0);
    EXPECT_EQ(y[5][6], -9999.0);
  }
}

// Every held valid cell that the predicate selects has the slope and aspect
// of the plane z = 500 + 0.03 x - 0.04 y of the two tests below.
void ExpectSlopeOfThePlane(const SetupRun &run, const std::function<bool(long, long)> &selected) {
  const double slope = std::atan(0.05) * 57.29577951307855;
  const double aspect = std::atan2(-0.03, 0.04) * 57.29577951307855 + 360.0;
  const Grid &slopes = run.GridOf("slope_angle");
  const Grid &aspects = run.GridOf("slope_aspect");
  int checked = 0;
  run.ForHeldValidCells([&](long r, long c) {
    if (!selected(r, c))
      return;
    ++checked;
    EXPECT_NEAR(slopes[r][c], slope, 1e-9) << r << "/" << c;
    EXPECT_NEAR(aspects[r][c], aspect, 1e-9) << r << "/" << c;
  });
  EXPECT_GT(checked, 0);
}

TEST(DerivedGrids, SlopeAndAspectOfAPlaneFillTheGaps) {
  // z rises 0.03 per metre to the east and falls 0.04 to the north; no
  // elevation outside the zones and none in the valid cell of row 3, column 3.
  const auto height = [](long r, long c) {
    if (!Valid(r, c) || (r == 3 && c == 3))
      return -9999.0;
    return 500.0 + 0.03 * kCs * c - 0.04 * kCs * (5 - r);
  };
  test::WriteCatchment();
  test::WriteFixture("elevation.asc", test::CatchmentGrid(height));
  SetupRun run;
  ASSERT_EQ(run.Run().code, 0);
  // The four neighbours of the gap are filled from their neighbours; the gap
  // itself has all four neighbours it needs.
  if (test::Rank() == 0) {
    EXPECT_EQ(run.GridOf("[elevation_model]")[3][3], -9999.0);
  }
  // Computed, or filled from neighbours that hold the same values.
  ExpectSlopeOfThePlane(run, [](long, long) { return true; });
}

TEST(DerivedGrids, ATailOfTheCatchmentGetsItsSlopeFromCellsFilledAfterIt) {
  // A plane on a few cells. The cell of row 1, column 2 touches only row 2,
  // column 3, which lacks two of its four neighbours and is filled after row
  // 1 has been passed: without a further pass the tail keeps no slope.
  const auto inPlane = [](long r, long c) {
    static constexpr bool cells[5][6] = {{false, true, false, false, false, false},
                                         {false, false, true, true, false, false},
                                         {false, false, true, true, true, false},
                                         {false, false, true, true, true, false},
                                         {false, false, true, true, false, false}};
    return cells[r - 1][c - 1];
  };
  const auto height = [&](long r, long c) {
    return inPlane(r, c) ? 500.0 + 0.03 * kCs * c - 0.04 * kCs * (5 - r) : -9999.0;
  };
  test::WriteCatchment();
  test::WriteFixture("elevation.asc", test::CatchmentGrid(height));
  SetupRun run;
  ASSERT_EQ(run.Run().code, 0);
  ExpectSlopeOfThePlane(run, inPlane);
}

TEST(DerivedGrids, TwoRegionsBlendWithinTheTransitionDistance) {
  // Region 1 west of column 4, region 2 from there; D = 2000 m = 2 cells.
  test::WriteFixture("regions.asc",
                     test::CatchmentGrid([](long, long c) { return c <= 3 ? 1.0 : 2.0; }));
  test::WriteCatchment({test::MoreStandardGrids({"regions.asc regression_regions 0"})});
  SetupRun run;
  ASSERT_EQ(run.Run().code, 0);
  ASSERT_EQ(run.setup->Regions().Count, 2);
  EXPECT_EQ(run.registry.FindGrid("regression_regions3", true), 0);
  const Grid &w1 = run.GridOf("regression_weights1");
  const Grid &r2 = run.GridOf("regression_regions2");
  const Grid &w2 = run.GridOf("regression_weights2");
  run.ForHeldValidCells([&](long r, long c) {
    // Beside the border the nearest other cell is 1 cell away, then 2.
    const double own = c == 3 || c == 4 ? 0.75 : 1.0;
    const double other = c == 1 || c == 6 ? 0.0 : (c <= 3 ? 2.0 : 1.0);
    EXPECT_EQ(w1[r][c], own) << r << "/" << c;
    EXPECT_EQ(w2[r][c], 1.0 - own) << r << "/" << c;
    EXPECT_EQ(r2[r][c], other) << r << "/" << c;
  });
  if (test::Rank() == 0) {
    for (const char *file : {"regions.$w1", "regions.$r2", "regions.$w2"})
      EXPECT_TRUE(test::FileExists(file)) << file;
  }
}

TEST(DerivedGrids, AnElevationModelWithoutValuesHasNoMaximumAndNoSlope) {
  test::WriteCatchment();
  test::WriteFixture("elevation.asc", test::CatchmentGrid([](long, long) { return -9999.0; }));
  SetupRun run;
  ASSERT_EQ(run.Run().code, 0);
  EXPECT_EQ(run.setup->GetMaxElevation(), -9999.0);
  const Grid &slopes = run.GridOf("slope_angle");
  run.ForHeldValidCells([&](long r, long c) { EXPECT_EQ(slopes[r][c], -9999.0); });
}

TEST(DerivedGrids, KeepsTheGlacierGridWhenDeclared) {
  test::WriteCatchment({test::MoreStandardGrids({"soil_depth.asc ice_firn 0"})});
  SetupRun run;
  const test::SetupOutcome outcome = run.Run();
  ASSERT_EQ(outcome.code, 0);
  EXPECT_EQ(run.setup->IceFirnGrid(), &run.GridOf("ice_firn"));
  EXPECT_EQ(outcome.console.find("ice-grid not found"), std::string::npos);
}

} // namespace
} // namespace tavro
