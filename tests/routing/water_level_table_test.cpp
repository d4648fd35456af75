// Water-level/discharge tables against independent references: Manning
// depths by bisection, the flood-plain balance, log-spaced rows, the row
// lookup, defaults and the sub-channel count.
#include "routing/channels/manning.h"
#include "routing/channels/water_level_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tavro {
namespace {

// Depth of a rectangular channel carrying Q by Manning's formula with the
// exponent 2/3, by bisection: Q = M b y (b y / (b + 2 y))^(2/3) S^(1/2).
double BisectedDepth(double q, double width, double manning, double slope) {
  auto discharge = [&](double y) {
    return manning * width * y * std::pow(width * y / (width + 2.0 * y), 2.0 / 3.0) *
           std::sqrt(slope);
  };
  double low = 0.0;
  double high = 1000.0;
  for (int i = 0; i < 200; ++i) {
    const double mid = (low + high) / 2.0;
    (discharge(mid) < q ? low : high) = mid;
  }
  return (low + high) / 2.0;
}

ChannelValues Values(double kMain, double kFlood, double bMain, double bFlood, double depth,
                     double mMain, double mFlood, double slope, double length, double area) {
  return {kMain, kFlood, bMain, bFlood, depth, mMain, mFlood, slope, length, area};
}

TEST(WaterLevelTable, MainChannelDepthsMatchManningByBisection) {
  // Q of 1, 10 and 100 m3/s: 10, 100 and 1000 l/s/km2 on 100 km2.
  const ChannelParameters channel =
      ChannelParametersWithDefaults(Values(1, 1, 10, 10, 100, 30, 30, 0.001, 1000, 100));
  const WaterLevelTable table = BuildWaterLevelTable(channel, {10, 1000, 2, 60, 1});
  ASSERT_TRUE(table.failure.empty()) << table.failure;
  const double byHand[] = {0.2647, 1.1190, 5.5362};
  for (int r = 1; r <= 3; ++r) {
    const WaterLevelRow &row = table.rows[static_cast<std::size_t>(r)];
    const double q = std::pow(10.0, r - 1);
    EXPECT_NEAR(row.Qtab, q, 1e-9 * q);
    const double reference = BisectedDepth(q, 10, 30, 0.001);
    EXPECT_NEAR(reference, byHand[r - 1], 5e-4);
    EXPECT_NEAR(row.dMain, reference, 0.01 * reference) << "Q " << q;
    EXPECT_EQ(row.dFlood, 0.0);
    EXPECT_EQ(row.floodShare, 0.0);
    EXPECT_EQ(row.vMean, row.vMain);
    EXPECT_DOUBLE_EQ(row.travelTime, 1000.0 / row.vMean / 3600.0);
  }
}

TEST(WaterLevelTable, FloodPlainCarriesTheRestAtOneLevel) {
  const ChannelParameters channel =
      ChannelParametersWithDefaults(Values(2, 6, 5, 50, 1, 25, 15, 0.005, 6000, 37));
  const WaterLevelTable table = BuildWaterLevelTable(channel, {1, 2000, 20, 1440, 1});
  ASSERT_TRUE(table.failure.empty()) << table.failure;
  int flooded = 0;
  for (int r = 1; r <= table.LastRow(); ++r) {
    const WaterLevelRow &row = table.rows[static_cast<std::size_t>(r)];
    SCOPED_TRACE(r);
    EXPECT_NEAR(row.qMain + row.qFlood, row.Qtab, 1e-12 * row.Qtab);
    EXPECT_NEAR(row.floodShare, row.qFlood / row.Qtab, 1e-12);
    EXPECT_DOUBLE_EQ(row.travelTime, 6000.0 / row.vMean / 3600.0);
    if (row.dFlood > 0.0) {
      ++flooded;
      EXPECT_LE(std::fabs(row.dMain - row.dFlood - 1.0), 0.01);
      EXPECT_GT(row.floodShare, 0.0);
    }
  }
  EXPECT_GE(flooded, 5);
}

TEST(WaterLevelTable, RowsSpanTheRangeInEqualLogSteps) {
  const WaterLevelTable table = BuildWaterLevelTable(
      ChannelParametersWithDefaults(Values(1, 1, 4, 20, 1, 30, 20, 0.01, 500, 5)),
      {2, 500, 7, 60, 2});
  ASSERT_EQ(table.LastRow(), 8);
  EXPECT_NEAR(table.rows[1].qspec, 2.0, 1e-12);
  EXPECT_NEAR(table.rows[8].qspec, 500.0, 1e-10);
  EXPECT_DOUBLE_EQ(table.logStep, std::log(250.0) / 7.0);
  for (int r = 1; r <= 8; ++r) {
    const WaterLevelRow &row = table.rows[static_cast<std::size_t>(r)];
    EXPECT_NEAR(std::log(row.qspec), std::log(2.0) + (r - 1) * table.logStep, 1e-12);
    EXPECT_DOUBLE_EQ(row.qmm, 0.0036 * row.qspec * 60.0 / 60.0);
    EXPECT_DOUBLE_EQ(row.Qtab, row.qspec / 1000.0 * 5.0);
  }
}

TEST(WaterLevelTable, ValuesNotAboveZeroTakeTheDefaults) {
  for (const double v : {0.0, -3.0}) {
    const ChannelParameters c =
        ChannelParametersWithDefaults(ChannelValues{v, v, v, v, v, v, v, v, v, v});
    EXPECT_EQ(c.storageMain, 0.01);
    EXPECT_EQ(c.storageFlood, 0.01);
    EXPECT_EQ(c.widthMain, 0.1);
    EXPECT_EQ(c.widthFlood, 0.1);
    EXPECT_EQ(c.depthMain, 0.1);
    EXPECT_EQ(c.manningMain, 1.0);
    EXPECT_EQ(c.manningFlood, 1.0);
    EXPECT_EQ(c.slopeRoot, 0.0316);
    EXPECT_EQ(c.channelLength, 1.0);
    EXPECT_EQ(c.channelArea, 1e-6);
    // On the defaults' 1e-6 km2 the Manning iteration stops on its 0.005 m/s
    // tolerance before the velocities mean anything: the table is refused
    // instead of holding endless travel times.
    EXPECT_NE(BuildWaterLevelTable(c, {1, 100, 5, 60, 1}).failure, "");
  }
  EXPECT_DOUBLE_EQ(ChannelParametersWithDefaults(Values(1, 1, 1, 1, 1, 1, 1, 0.04, 1, 1)).slopeRoot,
                   0.2);
}

TEST(WaterLevelTable, SubchannelsKeepTravelTimesWithinOneStepEach) {
  struct Case {
    double length;
    double timeStep;
    int subIntervals;
  };
  double most = 0.0;
  for (const Case c : {Case{1, 60, 1}, Case{3000, 60, 1}, Case{80000, 60, 3}, Case{80000, 1440, 2},
                       Case{400000, 30, 1}}) {
    SCOPED_TRACE(c.length);
    const WaterLevelTable table = BuildWaterLevelTable(
        ChannelParametersWithDefaults(Values(1, 1, 10, 100, 2, 30, 15, 0.0005, c.length, 500)),
        {0.5, 3000, 30, c.timeStep, c.subIntervals});
    ASSERT_TRUE(table.failure.empty()) << table.failure;
    const double slow = table.rows[1].travelTime;
    const double fast = table.rows[31].travelTime;
    const double n = table.subchannels;
    const double hours = c.timeStep / 60.0;
    EXPECT_EQ(n, std::floor(n));
    most = std::max(most, n);
    if (c.length == 1) {
      EXPECT_EQ(n, 1.0); // travel times far below one step
    }
    EXPECT_FALSE(slow / n > fast / n + hours);
    if (n > 1) {
      EXPECT_TRUE(slow / (n - 1) > fast / (n - 1) + hours);
    }
    int largest = 0;
    for (int r = 1; r <= 31; ++r) {
      const WaterLevelRow &row = table.rows[static_cast<std::size_t>(r)];
      EXPECT_EQ(row.delta,
                static_cast<int>(row.travelTime / n / c.timeStep * 60.0 * c.subIntervals));
      largest = std::max(largest, row.delta);
    }
    EXPECT_EQ(table.largestDelta, largest);
    EXPECT_EQ(table.storageElements, static_cast<int>((c.subIntervals + largest) * n));
  }
  EXPECT_GT(most, 10.0);
}

TEST(WaterLevelTable, AChannelOfEndlessTravelTimeIsRefused) {
  // 1e14 m at a crawl: the chain would not fit any memory.
  const WaterLevelTable table = BuildWaterLevelTable(
      ChannelParametersWithDefaults(Values(1, 1, 1, 1, 1, 0.01, 0.01, 1e-8, 1e14, 1)),
      {1, 10, 3, 60, 1});
  EXPECT_NE(table.failure, "");
}

TEST(WaterLevelTable, RowForRunoffFollowsTheTableBoundaries) {
  // qspec 1, 10, 100, 1000 l/s/km2 (N 3) at dt 60 minutes.
  const double logStep = std::log(1000.0) / 3.0;
  auto mm = [](double q) { return q * 60.0 / 16666.668; };
  struct Case {
    double runoff;
    int row;
  };
  const std::vector<Case> cases = {
      {0.0, 1},       {-5.0, 1},     {mm(0.5), 1},      {mm(1.0001), 1}, {mm(9.99), 1},
      {mm(10.01), 2}, {mm(99.9), 2}, {mm(100.1), 3},    {mm(999.9), 3},  {mm(1000.1), 4},
      {mm(1e9), 4},   {1e300, 4},    {std::nan(""), 1},
  };
  for (const Case &c : cases)
    EXPECT_EQ(TableRowForRunoff(c.runoff, 60, 1, logStep, 3), c.row) << c.runoff;
  // One discharge only: every runoff takes row 1.
  for (const double runoff : {0.0, 1.0, 1e6})
    EXPECT_EQ(TableRowForRunoff(runoff, 60, 5, 0.0, 3), 1);
}

TEST(Manning, IterationStopsWithinTheTolerance) {
  const ManningResult result = ManningIteration(10, 10, 30, std::sqrt(0.001), 1e-12, 500, 1.0);
  EXPECT_NEAR(result.depth, BisectedDepth(10, 10, 30, 0.001), 1e-4);
  EXPECT_NEAR(result.radius, 10 * result.depth / (10 + 2 * result.depth), 1e-9);
  // No discharge: no depth and no velocity.
  const ManningResult dry = ManningIteration(0, 10, 30, 0.03, 0.005, 50, 1.0);
  EXPECT_EQ(dry.depth, 0.0);
  EXPECT_EQ(dry.velocity, 0.0);
}

} // namespace
} // namespace tavro
