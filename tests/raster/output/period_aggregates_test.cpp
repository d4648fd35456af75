// Accumulation of the grid output on own cells: which cells count (column
// range, zone data, owner rank), sums, minimum and maximum, the
// vegetation-period sum, and means that never divide by zero.
#include "raster/output/period_aggregates.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace tavro {
namespace {

constexpr long kRows = 3;
constexpr long kCols = 5;
constexpr double N = -9999.0;
constexpr int kOwnRank = 1;

// Row 1 spans columns 1..5, row 2 columns 2..4, row 3 has no valid cell.
// Cell (1,3) has no zone data; cell (1,5) belongs to rank 2. Every other cell
// of the ranges belongs to rank 1.
class PeriodAggregatesTest : public testing::Test {
protected:
  void SetUp() override {
    ranges_[1] = {1, 5};
    ranges_[2] = {2, 4};
    zone_ = Grid(1, kRows, kCols, kRows, log_);
    regions_ = Grid(1, kRows, kCols, kRows, log_);
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kCols; ++c) {
        const bool inRange = c >= ranges_[r].first && c <= ranges_[r].last;
        zone_[r][c] = inRange && !(r == 1 && c == 3) ? 7.0 : N;
        regions_[r][c] = zone_[r][c] > N ? (r == 1 && c == 5 ? 2.0 : kOwnRank) : N;
      }
    cells_.FirstRow = 1;
    cells_.LastRow = kRows;
    cells_.NCols = kCols;
    cells_.NoData = N;
    cells_.RowRanges = &ranges_;
    cells_.Zone = &zone_;
    cells_.Regions = &regions_;
    cells_.Rank = kOwnRank;
  }

  Grid Filled(const std::function<double(long, long)> &value) {
    Grid grid(1, kRows, kCols, kRows, log_);
    for (long r = 1; r <= kRows; ++r)
      for (long c = 0; c <= kCols; ++c)
        grid[r][c] = value(r, c);
    return grid;
  }
  bool InRange(long r, long c) const { return c >= ranges_[r].first && c <= ranges_[r].last; }
  bool Own(long r, long c) const {
    return InRange(r, c) && !(r == 1 && c == 3) && !(r == 1 && c == 5);
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  OneBasedArray<RowColumnRange> ranges_{kRows};
  Grid zone_;
  Grid regions_;
  OwnCells cells_;
};

TEST_F(PeriodAggregatesTest, OwnCellsNeedRangeZoneDataAndOwner) {
  for (long r = 1; r <= kRows; ++r)
    for (long c = 1; c <= kCols; ++c)
      EXPECT_EQ(cells_.IsOwn(r, c), Own(r, c)) << r << "," << c;
  OwnCells single = cells_;
  single.Regions = nullptr; // before the decomposition every valid cell is own
  EXPECT_TRUE(single.IsOwn(1, 5));
  EXPECT_FALSE(single.IsOwn(1, 3));
}

TEST_F(PeriodAggregatesTest, SumsOwnCellsAndBlanksTheRestOfTheRanges) {
  Grid aggregate = Filled([](long, long) { return 0.0; });
  aggregate[3][2] = 5.0; // outside every range: left alone
  for (int step = 1; step <= 3; ++step) {
    const Grid data = Filled([step](long r, long c) { return step * (r * 10.0 + c); });
    AddToAggregate(cells_, data, aggregate);
  }
  for (long r = 1; r <= kRows; ++r)
    for (long c = 1; c <= kCols; ++c) {
      const double expected = Own(r, c)       ? 6.0 * (r * 10.0 + c)
                              : InRange(r, c) ? N
                                              : (r == 3 && c == 2 ? 5.0 : 0.0);
      EXPECT_EQ(aggregate[r][c], expected) << r << "," << c;
    }

  DivideOwnCells(cells_, aggregate, 3.0);
  EXPECT_EQ(aggregate[2][3], 2.0 * 23.0);
  EXPECT_EQ(aggregate[1][3], N) << "foreign cells are not divided";
  DivideOwnCells(cells_, aggregate, 0.0);
  EXPECT_EQ(aggregate[2][3], 2.0 * 23.0) << "a zero count leaves the grid as it is";

  ResetOwnCells(cells_, aggregate, 0.0, false);
  EXPECT_EQ(aggregate[2][3], 0.0);
  EXPECT_EQ(aggregate[1][5], N);
}

TEST_F(PeriodAggregatesTest, MinimumAndMaximumOverSteps) {
  Grid minimum = Filled([](long, long) { return 0.0; });
  Grid maximum = Filled([](long, long) { return 0.0; });
  const double values[] = {3.0, -2.0, 8.0, 1.0};
  bool started = false;
  for (const double v : values) {
    const Grid data = Filled([v](long r, long c) { return v + r + c; });
    UpdateMinMax(cells_, data, &minimum, &maximum, started);
    started = true;
  }
  for (long r = 1; r <= 2; ++r)
    for (long c = 1; c <= kCols; ++c) {
      if (!InRange(r, c))
        continue;
      EXPECT_EQ(minimum[r][c], Own(r, c) ? -2.0 + r + c : N) << r << "," << c;
      EXPECT_EQ(maximum[r][c], Own(r, c) ? 8.0 + r + c : N) << r << "," << c;
    }
  // Only one of the two may be requested.
  Grid onlyMax = Filled([](long, long) { return 0.0; });
  UpdateMinMax(cells_, Filled([](long, long) { return 4.0; }), nullptr, &onlyMax, false);
  EXPECT_EQ(onlyMax[2][2], 4.0);
}

TEST_F(PeriodAggregatesTest, VegetationPeriodSumsInsideThePeriodOnly) {
  Grid sum = Filled([](long, long) { return 0.0; });
  // Column 2 has not begun, column 3 has ended, column 4 is inside the period.
  const Grid start = Filled([](long, long c) { return c == 2 ? -1.0 : 0.0; });
  const Grid stop = Filled([](long, long c) { return c == 3 ? 1.0 : 0.0; });
  Grid data = Filled([](long, long) { return 2.5; });
  data[1][1] = N; // a cell without a value adds nothing
  AddToVegetationPeriod(cells_, data, start, stop, sum);
  AddToVegetationPeriod(cells_, data, start, stop, sum);
  EXPECT_EQ(sum[2][2], 0.0);
  EXPECT_EQ(sum[2][3], 0.0);
  EXPECT_EQ(sum[2][4], 5.0);
  EXPECT_EQ(sum[1][1], 0.0);
  EXPECT_EQ(sum[1][5], 0.0) << "a foreign cell";
}

TEST_F(PeriodAggregatesTest, VegetationMeanOverZeroDurationIsNodataNotInfinite) {
  Grid sum = Filled([](long, long) { return 12.0; });
  Grid duration = Filled([](long, long c) { return c == 2 ? 0.0 : (c == 3 ? -4.0 : 4.0); });
  DivideByDuration(cells_, sum, duration);
  for (long r = 1; r <= kRows; ++r)
    for (long c = 1; c <= kCols; ++c) {
      EXPECT_TRUE(std::isfinite(sum[r][c])) << r << "," << c;
      if (Own(r, c)) {
        EXPECT_EQ(sum[r][c], c == 2 || c == 3 ? N : 3.0) << r << "," << c;
      }
    }
}

TEST_F(PeriodAggregatesTest, CopiesOneStackLevelOnOwnCells) {
  Stack stack(1, kRows, kCols, 3, kRows, log_);
  for (long r = 1; r <= kRows; ++r)
    for (long c = 1; c <= kCols; ++c)
      for (long k = 0; k <= 3; ++k)
        stack[r][c][k] = r * 100.0 + c * 10.0 + k;
  Grid data = Filled([](long, long) { return -1.0; });
  CopyStackLevel(cells_, stack, 1, data);
  for (long r = 1; r <= kRows; ++r)
    for (long c = 1; c <= kCols; ++c)
      EXPECT_EQ(data[r][c], Own(r, c) ? r * 100.0 + c * 10.0 + 1.0 : -1.0) << r << "," << c;
}

TEST_F(PeriodAggregatesTest, RowsAGridDoesNotHoldAreSkipped) {
  Grid strip(2, 2, kCols, kRows, log_); // holds row 2 only
  const Grid data = Filled([](long, long) { return 1.0; });
  AddToAggregate(cells_, data, strip);
  EXPECT_EQ(strip[2][3], 1.0);
  EXPECT_FALSE(strip.HasRow(1));
}

} // namespace
} // namespace tavro
