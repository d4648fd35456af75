// Due moments and file names of the grid output: the calendar moments a step
// completes (February always 28 days), which output kinds and period
// aggregates are due then, and every documented file name with its date
// stamp and collision suffix.
#include "raster/output/grid_output_names.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace tavro {
namespace {

constexpr std::array<int, 14> kDaysPerMonth{0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31, 0};
constexpr long kFarEnd = DateCode(2099, 12, 31, 23);

struct MomentCase {
  const char *what;
  ModelDate date; // hour, day, month, year
  double hoursToIntervalEnd;
  long endDateCode;
  OutputMoments expected; // day, month, year, run
};

TEST(GridOutputMoments, FollowTheStepDate) {
  const std::vector<MomentCase> cases{
      {"mid-day hour", {8, 7, 3, 2021}, 1.0, kFarEnd, {false, false, false, false}},
      {"last hourly step of a day", {23, 7, 3, 2021}, 1.0, kFarEnd, {true, false, false, false}},
      {"daily step at hour 24", {24, 7, 3, 2021}, 0.0, kFarEnd, {true, false, false, false}},
      {"fraction of an hour is cut", {22, 7, 3, 2021}, 1.9, kFarEnd, {false, false, false, false}},
      {"last day of March", {23, 31, 3, 2021}, 1.0, kFarEnd, {true, true, false, false}},
      {"30 April", {23, 30, 4, 2021}, 1.0, kFarEnd, {true, true, false, false}},
      {"28 February of a leap year", {23, 28, 2, 2024}, 1.0, kFarEnd, {true, true, false, false}},
      {"29 February closes no month", {23, 29, 2, 2024}, 1.0, kFarEnd, {true, false, false, false}},
      {"31 December", {23, 31, 12, 2021}, 1.0, kFarEnd, {true, true, true, false}},
      {"31 December before its last hour",
       {22, 31, 12, 2021},
       1.0,
       kFarEnd,
       {false, false, false, false}},
      {"step before the end date",
       {7, 7, 3, 2021},
       1.0,
       DateCode(2021, 3, 7, 8),
       {false, false, false, false}},
      {"step at the end date",
       {8, 7, 3, 2021},
       1.0,
       DateCode(2021, 3, 7, 8),
       {false, false, false, true}},
      {"step past the end date",
       {9, 7, 3, 2021},
       1.0,
       DateCode(2021, 3, 7, 8),
       {false, false, false, true}},
  };
  for (const MomentCase &c : cases)
    EXPECT_EQ(MomentsOf(c.date, c.hoursToIntervalEnd, kDaysPerMonth, c.endDateCode), c.expected)
        << c.what;
}

TEST(GridOutputMoments, DecideWhichKindsAndPeriodsAreDue) {
  const OutputMoments none{};
  const OutputMoments day{true, false, false, false};
  const OutputMoments month{true, true, false, false};
  const OutputMoments year{true, true, true, false};
  const OutputMoments run{false, false, false, true};
  const std::vector<OutputMoments> moments{none, day, month, year, run};
  // Expected due flags over {none, day, month, year, run} for kinds 0..9.
  const std::vector<std::array<bool, 5>> gridDue{
      {false, false, false, false, false}, {true, true, true, true, true},
      {true, true, true, true, true},      {false, false, false, false, true},
      {false, true, true, true, false},    {false, true, true, true, false},
      {false, false, true, true, false},   {false, false, false, true, false},
      {true, true, true, true, true},      {false, false, false, false, false}};
  const std::vector<std::array<bool, 5>> stackDue{
      {false, false, false, false, false}, {true, true, true, true, true},
      {true, true, true, true, true},      {false, false, false, false, true},
      {false, true, true, true, false},    {false, true, true, true, false},
      {false, false, false, false, false}, {false, false, false, false, false},
      {false, false, false, false, false}, {false, false, false, false, false}};
  // Period aggregate digits 0..9.
  const std::vector<std::array<bool, 5>> periodDue{
      {false, false, false, false, false}, {false, false, false, false, true},
      {false, false, false, true, false},  {false, false, true, true, false},
      {false, true, true, true, false},    {false, false, false, false, true},
      {false, false, false, true, false},  {false, false, true, true, false},
      {false, true, true, true, false},    {false, false, false, false, false}};
  for (int digit = 0; digit <= 9; ++digit) {
    for (std::size_t m = 0; m < moments.size(); ++m) {
      const auto d = static_cast<std::size_t>(digit);
      EXPECT_EQ(GridOutputDue(digit, moments[m]), gridDue[d][m]) << "kind " << digit << " " << m;
      EXPECT_EQ(StackOutputDue(digit, moments[m]), stackDue[d][m])
          << "stack kind " << digit << " " << m;
      EXPECT_EQ(PeriodComplete(digit, moments[m]), periodDue[d][m])
          << "period " << digit << " " << m;
    }
  }
  for (int digit = 0; digit <= 9; ++digit)
    EXPECT_EQ(IsMeanAggregate(digit), digit >= 5 && digit <= 8) << digit;
}

TEST(GridOutputNames, DateStampCountsFilesWithTheSameStamp) {
  DateStampState state;
  const ModelDate eight{8, 7, 3, 2021};
  const ModelDate nine{9, 7, 3, 2021};
  EXPECT_EQ(DateStampedName("out/tempr.grd", eight, state), "out/tempr_20210307.008");
  EXPECT_EQ(DateStampedName("out/tempr.grd", eight, state), "out/tempr_20210307.008_001");
  EXPECT_EQ(DateStampedName("out/tempr.grd", eight, state), "out/tempr_20210307.008_002");
  EXPECT_EQ(DateStampedName("out/tempr.grd", nine, state), "out/tempr_20210307.009");
  EXPECT_EQ(state.Count, 0);
  EXPECT_EQ(state.Date, nine);
  EXPECT_EQ(DateStampedName("out/tempr.grd", eight, state), "out/tempr_20210307.008")
      << "only the last stamp counts";
}

TEST(GridOutputNames, DateStampKeepsTheFilePartUpToItsFirstDot) {
  struct Case {
    const char *name;
    std::size_t maxPart;
    const char *expected;
  };
  const ModelDate date{23, 7, 3, 2021};
  const std::vector<Case> cases{
      {"tempr", kWholeNamePart, "tempr_20210307.023"},
      {"tempr.a.b", kWholeNamePart, "tempr_20210307.023"},
      {"run.1/tempr.grd", kWholeNamePart, "run.1/tempr_20210307.023"},
      {"/abs/dir/precipitation.asc", kWholeNamePart, "/abs/dir/precipitation_20210307.023"},
      {"soilmoist.stk", kStackNamePart, "soil_20210307.023"},
      {"out/sm.stk", kStackNamePart, "out/sm_20210307.023"},
      {"out/soilmoist", kStackNamePart, "out/soil_20210307.023"},
  };
  for (const Case &c : cases) {
    DateStampState state;
    EXPECT_EQ(DateStampedName(c.name, date, state, c.maxPart), c.expected) << c.name;
  }
}

TEST(GridOutputNames, GridAndStackNamesByOutputKind) {
  const ModelDate date{8, 7, 3, 2021};
  struct Case {
    int kind;
    const char *grid;
    const char *stack;
  };
  const std::vector<Case> cases{
      {1, "out/tempr.grd", "out/soilmoist.stk"},
      {2, "out/tempr_20210307.008", "out/soil_20210307.008"},
      {3, "out/tempr.grd", "out/soilmoist.stk"},
      {4, "out/tempr.grd", "out/soilmoist.stk"},
      {5, "out/tempr_20210307.008", "out/soil_20210307.008"},
      {6, "out/tempr_20210307.008", "out/soilmoist.stk"},
      {7, "out/tempr_20210307.008", "out/soilmoist.stk"},
      {8, "out/tempr.grd.filled", "out/soilmoist.stk"},
  };
  for (const Case &c : cases) {
    DateStampState gridState;
    DateStampState stackState;
    EXPECT_EQ(GridOutputName(c.kind, "out/tempr.grd", date, gridState), c.grid) << c.kind;
    EXPECT_EQ(StackOutputName(c.kind, "out/soilmoist.stk", date, stackState), c.stack) << c.kind;
  }
}

TEST(GridOutputNames, PeriodAggregatesMinimumMaximumAndVegetationPeriod) {
  const ModelDate date{23, 7, 3, 2021};
  struct Case {
    int digit;
    const char *expected;
  };
  const std::vector<Case> cases{
      {1, "out/tempr.sum"},      {5, "out/tempr.mit"},      {2, "out/tempr_2100.sum"},
      {6, "out/tempr_2100.mit"}, {3, "out/tempr_2103.sum"}, {7, "out/tempr_2103.mit"},
      {4, "out/tempr_2103.07s"}, {8, "out/tempr_2103.07m"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(PeriodAggregateName("out/tempr.grd", c.digit, date), c.expected) << c.digit;
  EXPECT_EQ(PeriodAggregateName("tempr", 4, {23, 9, 1, 2005}), "tempr_0501.09s");
  EXPECT_EQ(PeriodAggregateName("a.b/x.y.grd", 3, date), "a.b/x_2103.sum");

  EXPECT_EQ(MinimumName("out/tempr.grd"), "out/tempr.min");
  EXPECT_EQ(MaximumName("out/tempr.grd"), "out/tempr.max");
  EXPECT_EQ(MaximumName("tempr"), "tempr.max");

  EXPECT_EQ(VegetationPeriodName("out/lai.grd", 2021, false), "out/lai_0021_vegper.sum");
  EXPECT_EQ(VegetationPeriodName("lai_Layer_2.grd", 2021, true), "lai_Layer_2_0021_vegper.mit");
}

TEST(GridOutputNames, VegetationLayerSuffix) {
  EXPECT_EQ(VegetationLayerSuffix("lai_Layer_2.grd"), "2");
  EXPECT_EQ(VegetationLayerSuffix("out/lai_Layer_12.asc"), "12");
  EXPECT_EQ(VegetationLayerSuffix("out/lai_Layer_3"), "3");
  EXPECT_EQ(VegetationLayerSuffix("out/lai.grd"), "1");
}

} // namespace
} // namespace tavro
