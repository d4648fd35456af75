// Snow slides: mass conservation on a cone with random shares and packs (with
// deposition capacities and without any), the edge cases of the cascade, the
// visiting order of equal elevations and the deposition capacity.
#include "landsurface/snow/snow_slides.h"

#include "kernel/diagnostics_log.h"
#include "slide_raster.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <random>
#include <vector>

namespace tavro::snow {
namespace {

constexpr double kNoData = -9999.0;

using test::SlideRaster;

class SnowSlides : public testing::Test {
protected:
  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
};

TEST_F(SnowSlides, ConeWithRandomSharesConservesEveryZonesMass) {
  for (const double maxDepositionSlope : {55.0, 10.0}) { // 10°: no cell can hold snow
    SCOPED_TRACE(maxDepositionSlope);
    std::mt19937 random(50);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    SlideRaster g(log_, 50, 50);
    for (long r = 1; r <= 50; ++r)
      for (long c = 1; c <= 50; ++c) {
        const double distance = std::hypot(r - 25.5, c - 25.5);
        g.zone[r][c] = distance > 26.0 ? kNoData : (c <= 25 ? 1.0 : 2.0);
        g.elevation[r][c] = 3000.0 - 40.0 * distance;
        g.slope[r][c] = 15.0 + 40.0 * unit(random);
        for (Grid &share : g.shares)
          share[r][c] = unit(random);
        const double pack = 200.0 * unit(random);
        g.SetPack(r, c, pack, 0.1 * pack * unit(random));
      }
    BuildDepositionCapacity(g.extent, g.zone, g.slope, maxDepositionSlope, 40.0, g.capacity);
    const auto before = g.ZoneSums();
    g.Slide({30.0, 0.3});
    const auto after = g.ZoneSums();
    double moved = 0.0;
    for (const auto &[code, sum] : before) {
      SCOPED_TRACE(code);
      EXPECT_NEAR(after.at(code), sum, 1e-9 * sum);
    }
    for (long r = 1; r <= 50; ++r)
      for (long c = 1; c <= 50; ++c) {
        if (g.zone[r][c] == kNoData) {
          EXPECT_EQ(g.input[r][c], kNoData);
          continue;
        }
        moved += g.input[r][c];
        EXPECT_NEAR(g.solid[r][c] + g.liquid[r][c], g.total[r][c], 1e-12);
        EXPECT_GE(g.liquid[r][c], 0.0);
        EXPECT_LE(g.deposited[r][c], std::max(g.capacity[r][c], 0.0) + 1e-12);
      }
    EXPECT_GT(moved, 100.0);
  }
}

TEST_F(SnowSlides, EdgeCasesOfTheCascade) {
  struct Expect {
    long r, c;
    double total, liquid;
  };
  struct Case {
    const char *what;
    long rows, cols;
    std::function<void(SlideRaster &)> set;
    SlideParameters parameters;
    std::vector<Expect> packs;
  };
  const std::vector<Case> cases = {
      {"a slope of exactly minSlideSlope moves; the whole pack with slideMassFrac 1",
       1,
       2,
       [](SlideRaster &g) {
         g.elevation[1][1] = 100.0;
         g.slope[1][1] = 30.0;
         g.SetPack(1, 1, 10.0, 2.0);
         g.shares[2].Fill(1.0);
       },
       {30.0, 1.0},
       {{1, 1, 0.0, 0.0}, {1, 2, 10.0, 0.0}}},
      {"a cell without neighbours in its zone keeps what it set in motion",
       3,
       3,
       [](SlideRaster &g) {
         g.zone.Fill(2.0);
         g.zone[2][2] = 1.0;
         g.elevation[2][2] = 100.0;
         g.slope[2][2] = 40.0;
         g.SetPack(2, 2, 10.0, 1.0);
       },
       {30.0, 0.01},
       {{2, 2, 10.0, 1.0}, {1, 2, 0.0, 0.0}}},
      {"a cell of capacity 0 passes on all it receives",
       1,
       3,
       [](SlideRaster &g) {
         g.elevation[1][1] = 100.0;
         g.elevation[1][2] = 50.0;
         g.slope[1][1] = 40.0;
         g.SetPack(1, 1, 10.0);
         g.capacity[1][2] = 0.0;
         g.shares[1].Fill(0.0);
         g.shares[2].Fill(1.0);
       },
       {30.0, 1.0},
       {{1, 1, 0.0, 0.0}, {1, 2, 0.0, 0.0}, {1, 3, 10.0, 0.0}}},
      {"on the first row and column the other shares are renormalised",
       2,
       2,
       [](SlideRaster &g) {
         g.elevation[1][1] = 100.0;
         g.slope[1][1] = 40.0;
         g.SetPack(1, 1, 10.0);
         g.shares[0].Fill(0.5);
         g.shares[1].Fill(0.3);
         g.shares[2].Fill(0.1);
         g.shares[3].Fill(0.1);
       },
       {30.0, 1.0},
       {{1, 1, 0.0, 0.0}, {1, 2, 5.0, 0.0}, {2, 1, 5.0, 0.0}, {2, 2, 0.0, 0.0}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    SlideRaster g(log_, c.rows, c.cols);
    c.set(g);
    g.Slide(c.parameters);
    for (const Expect &e : c.packs) {
      SCOPED_TRACE(testing::Message() << "cell " << e.r << "," << e.c);
      EXPECT_NEAR(g.total[e.r][e.c], e.total, 1e-12);
      EXPECT_NEAR(g.liquid[e.r][e.c], e.liquid, 1e-12);
      EXPECT_NEAR(g.solid[e.r][e.c], e.total - e.liquid, 1e-12);
    }
  }
}

TEST_F(SnowSlides, IsolatedCellReportsItsMassAsStillMobile) {
  SlideRaster g(log_, 1, 1);
  g.slope[1][1] = 45.0;
  g.SetPack(1, 1, 20.0);
  g.Slide({30.0, 0.1});
  EXPECT_DOUBLE_EQ(g.input[1][1], 2.0);
  EXPECT_DOUBLE_EQ(g.mobile[1][1], 2.0);
  EXPECT_EQ(g.deposited[1][1], 0.0);
  EXPECT_DOUBLE_EQ(g.total[1][1], 20.0);
}

TEST_F(SnowSlides, EqualElevationsAreVisitedLaterRowMajorFirst) {
  SlideRaster g(log_, 2, 3);
  g.elevation.Fill(500.0);
  g.elevation[1][2] = 900.0;
  g.zone[2][3] = kNoData;
  BuildElevationOrder(g.extent, g.zone, g.elevation, g.orderRow, g.orderCol);
  // Positions in row-major order hold the cells from the highest down.
  const std::vector<std::pair<long, long>> expected{{1, 2}, {2, 2}, {2, 1}, {1, 3}, {1, 1}};
  std::size_t k = 0;
  for (long r = 1; r <= 2; ++r)
    for (long c = 1; c <= 3; ++c) {
      if (g.zone[r][c] == kNoData) {
        EXPECT_EQ(g.orderRow[r][c], kNoData);
        continue;
      }
      EXPECT_EQ(g.orderRow[r][c], expected[k].first) << "position " << r << "," << c;
      EXPECT_EQ(g.orderCol[r][c], expected[k].second) << "position " << r << "," << c;
      ++k;
    }
}

TEST(DepositionCapacity, FallsWithTheSlopeAndIsNeverNegative) {
  EXPECT_DOUBLE_EQ(DepositionCapacity(0.0, 55.0, 2.0), 2.0);
  EXPECT_DOUBLE_EQ(DepositionCapacity(27.5, 55.0, 2.0), 1.0);
  EXPECT_EQ(DepositionCapacity(55.0, 55.0, 2.0), 0.0);
  EXPECT_EQ(DepositionCapacity(70.0, 55.0, 2.0), 0.0);
  EXPECT_EQ(DepositionCapacity(0.0, 0.0, 2.0), 0.0); // no division by 0
}

} // namespace
} // namespace tavro::snow
