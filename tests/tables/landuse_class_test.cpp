// Parameter values of land-use records by day, altitude and stage, the
// monthly resistances of old one-line entries, the balance period, and the
// record's fatal exits.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "tables/landuse_class.h"

namespace tavro {
namespace {

// Exit code and console text of a call that is expected to fail.
struct Failure {
  int code = 0;
  std::string console;
};

template <class Call> Failure CatchFatal(Call &&call) {
  Failure failure;
  testing::internal::CaptureStdout();
  {
    DiagnosticsLog log("", 4);
    try {
      call(log);
    } catch (int code) {
      failure.code = code;
    }
  }
  failure.console = testing::internal::GetCapturedStdout();
  return failure;
}

bool Contains(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

// A list of values 1..n with element 0 closing the year.
std::vector<double> Closed(std::vector<double> values) {
  values.insert(values.begin(), values.back());
  return values;
}

std::vector<int> ClosedDays(std::vector<int> days) {
  days.insert(days.begin(), days.back() - 366);
  return days;
}

// A block-style entry whose lists all follow `values` and whose fix points
// move by `altDep` days per metre.
LanduseParameters FixPointEntry(int method, std::vector<int> days, std::vector<double> values,
                                std::vector<double> altDep) {
  LanduseParameters p;
  p.Code = 7;
  p.Name = "meadow";
  p.Method = method;
  p.FixPointCount = static_cast<int>(days.size());
  p.JulDays = ClosedDays(days);
  const std::vector<double> closed = Closed(values);
  for (auto *list : {&p.rsc, &p.rs_interception, &p.rs_evaporation, &p.Albedo, &p.LAI, &p.Z0,
                     &p.VCF, &p.RootDepth, &p.SR_StemDiameter, &p.SR_ResidCovrg, &p.NFactor})
    *list = closed;
  p.AltDep = Closed(altDep);
  p.SoilTillage = {-9999};
  if (method == landuse::DynamicPhenology1 || method == landuse::DynamicPhenology2 ||
      method == landuse::DynamicPhenology4) {
    p.TStartIndex = -1;
    for (int i = 1; i < p.FixPointCount; ++i)
      if (p.JulDays[static_cast<std::size_t>(i)] < 0) {
        p.TStartIndex = i;
        break;
      }
  }
  if (method == landuse::DynamicPhenology3)
    p.ForcingThreshold = Closed(std::vector<double>(days.size(), -1.0));
  return p;
}

// Fix points 100, 150, 250, 330 with values 1, 3, 5, 2; the first two move
// later with altitude, the last two earlier.
LanduseParameters SmallEntry() {
  return FixPointEntry(landuse::VariableDayCount, {100, 150, 250, 330}, {1, 3, 5, 2},
                       {0.025, 0.025, -0.025, -0.025});
}

class LanduseRecord : public testing::Test {
protected:
  DiagnosticsLog log_{"", 4};
};

struct DayCase {
  double altitude;
  int day;
  double expected;
};

TEST_F(LanduseRecord, ValuesByDayAndAltitude) {
  const landuse_class record(log_, SmallEntry());
  // 400 m: 100, 150, 250, 330, closing point -36.
  // 1400 m: 125, 175, 225, 305, closing point -61.
  // 0 m: 90, 140, 260, 340, closing point -26.
  const DayCase cases[] = {
      {400, 100, 1.0},
      {400, 125, 2.0},
      {400, 150, 3.0},
      {400, 200, 4.0},
      {400, 290, 3.5},
      {400, 330, 2.0},
      {400, 32, 1.5},   // before the first fix point
      {400, 364, 1.75}, // after the last: 364 - 366 = -2
      {1400, 125, 1.0}, // shifted 25 days later
      {1400, 150, 2.0},
      {1400, 225, 5.0}, // shifted 25 days earlier
      {1400, 265, 3.5},
      {1400, 100, 2.0 - 161.0 / 186.0}, // between -61 and 125
      {1400, 320, 2.0 - 15.0 / 186.0},  // wrap from the shifted last point 305
      {0, 90, 1.0},
      {0, 115, 2.0},
      {0, 300, 3.5},
      {0, 340, 2.0},
      {0, 345, 2.0 - 5.0 / 116.0}, // wrap from the shifted last point 340
  };
  for (const DayCase &c : cases)
    EXPECT_DOUBLE_EQ(record.GetLAIAtJulianDay(log_, c.day, 1, 1, 1, c.altitude), c.expected)
        << "altitude " << c.altitude << " day " << c.day;
}

TEST_F(LanduseRecord, EveryParameterListFollowsItsOwnValues) {
  LanduseParameters p = SmallEntry();
  p.Z0 = Closed({10, 30, 50, 20});
  p.RootDepth = Closed({0.1, 0.3, 0.5, 0.2});
  const landuse_class record(log_, p);
  EXPECT_DOUBLE_EQ(record.GetZ0AtJulianDay(log_, 125, 1, 1, 1, 400), 20.0);
  EXPECT_DOUBLE_EQ(record.GetRootDepthAtJulianDay(log_, 125, 1, 1, 1, 400), 0.2);
  EXPECT_DOUBLE_EQ(record.GetAlbedoAtJulianDay(log_, 125, 1, 1, 1, 400), 2.0);
  // A date is its day of the year: 5 May 2001 is day 125, in 2004 day 126.
  EXPECT_DOUBLE_EQ(record.GetZ0(log_, 5, 5, 2001, 1, 1, 1, 400), 20.0);
  EXPECT_DOUBLE_EQ(record.GetZ0(log_, 4, 5, 2004, 1, 1, 1, 400), 20.0);
  EXPECT_DOUBLE_EQ(record.GetRsc(log_, 5, 5, 2001, 1, 1, 1, 400), 2.0);
  EXPECT_DOUBLE_EQ(record.GetSRStemDiameter(log_, 5, 5, 2001, 1, 1, 1, 400), 2.0);
}

TEST_F(LanduseRecord, ShiftedRecordNeverLeavesItsTableValues) {
  const landuse_class record(log_, SmallEntry());
  for (const double altitude : {0.0, 400.0, 1400.0})
    for (int day = 1; day <= 366; ++day) {
      const double value = record.GetLAIAtJulianDay(log_, day, 1, 1, 1, altitude);
      EXPECT_GE(value, 1.0) << altitude << " m, day " << day;
      EXPECT_LE(value, 5.0) << altitude << " m, day " << day;
    }
}

TEST_F(LanduseRecord, IntervalSearch) {
  const landuse_class record(log_, SmallEntry());
  EXPECT_EQ(record.FindFixPointInterval(log_, 50, -1, 400), 1);
  EXPECT_EQ(record.FindFixPointInterval(log_, 100, -1, 400), 1);
  EXPECT_EQ(record.FindFixPointInterval(log_, 101, -1, 400), 2);
  EXPECT_EQ(record.FindFixPointInterval(log_, 330, -1, 400), 4);
  EXPECT_EQ(record.FindFixPointInterval(log_, 331, -1, 400), 5);
  EXPECT_EQ(record.FindFixPointInterval(log_, 101, -1, 1400), 1);
  landuse::FixPointScratch points{};
  record.ComputeFixPoints(log_, -1, 1400, points);
  EXPECT_EQ((std::vector<int>(points.begin(), points.begin() + 5)),
            (std::vector<int>{-61, 125, 175, 225, 305}));
}

TEST(LanduseInterpolation, EqualPositionsGiveTheFirstValue) {
  EXPECT_EQ(landuse::Interpolate(5, 5, 1.0, 2.0, 5), 1.0);
  EXPECT_EQ(landuse::Interpolate(0, 10, 1.0, 2.0, 10), 2.0);
  EXPECT_EQ(landuse::Interpolate(0, 10, 1.0, 2.0, 20), 2.0); // held at the end point
}

TEST(LanduseCalendar, GregorianLeapYears) {
  const std::pair<int, bool> cases[] = {{2000, true}, {1900, false}, {2100, false},
                                        {2004, true}, {2001, false}, {2400, true}};
  for (const auto &[year, leap] : cases) {
    EXPECT_EQ(landuse::IsLeapYear(year), leap) << year;
    EXPECT_EQ(landuse::MonthLengthsOfYear(year)[2], leap ? 29 : 28) << year;
  }
}

TEST_F(LanduseRecord, DayOfYear) {
  const landuse_class record(log_, SmallEntry());
  EXPECT_EQ(record.DayOfYear(log_, 31, 12, 2000), 366);
  EXPECT_EQ(record.DayOfYear(log_, 31, 12, 1900), 365);
  EXPECT_EQ(record.DayOfYear(log_, 1, 3, 2004), 61);
  EXPECT_EQ(record.DayOfYear(log_, 1, 1, 2001), 1);
}

TEST(LanduseRecordErrors, DayOfYearOutsideTheYearNamesRecordAndDate) {
  const Failure late = CatchFatal([](DiagnosticsLog &log) {
    const landuse_class record(log, SmallEntry());
    record.GetLAI(log, 40, 12, 2001, 1, 1, 1, 400);
  });
  EXPECT_EQ(late.code, 150);
  EXPECT_TRUE(Contains(late.console, "land use record code 7 (meadow): the date 40.12.2001 gives "
                                     "the day of year 374"))
      << late.console;
  const Failure month = CatchFatal([](DiagnosticsLog &log) {
    const landuse_class record(log, SmallEntry());
    record.GetNFactor(log, 1, 13, 2001);
  });
  EXPECT_EQ(month.code, 150);
  EXPECT_TRUE(Contains(month.console, "the month of the date 1.13.2001 lies outside 1..12"));
}

TEST(LanduseRecordErrors, ShiftBeyondTheYearEndsTheRun) {
  const Failure failure = CatchFatal([](DiagnosticsLog &log) {
    const landuse_class record(
        log, FixPointEntry(landuse::VariableDayCount, {100, 360}, {1, 2}, {0.0, 0.025}));
    record.GetRootDepthAtJulianDay(log, 10, 2, 7, 9, 1400);
  });
  EXPECT_EQ(failure.code, 152);
  EXPECT_TRUE(Contains(failure.console, "\n---ERROR--\naltitude correction resulted in a Julian "
                                        "day of 385 for fix point 2 (JD should be between 1 and "
                                        "366)"))
      << failure.console;
  EXPECT_TRUE(Contains(failure.console, "Coordinates: i=7, j=9\nLayer=2\nAltitude=1400m\n"
                                        "Julday=10\nLanduse Code=7\nTStart=0"))
      << failure.console;
  const Failure low = CatchFatal([](DiagnosticsLog &log) {
    const landuse_class record(
        log, FixPointEntry(landuse::VariableDayCount, {5, 200}, {1, 2}, {0.025, 0.0}));
    record.GetLAIAtJulianDay(log, 10, 1, 1, 1, 0);
  });
  EXPECT_EQ(low.code, 152);
  EXPECT_TRUE(Contains(low.console, "a Julian day of -5 for fix point 1"));
}

// Old one-line entry: rsc of the 15th of each month, December closing
// element 0 and January element 13; neighbouring months differ by 10.
LanduseParameters OldFormatEntry() {
  LanduseParameters p = FixPointEntry(landuse::OldFormat, {120, 150, 250, 300}, {1, 2, 3, 4},
                                      {0.025, 0.025, -0.025, -0.025});
  p.rsc = {60, 50, 60, 70, 80, 90, 100, 110, 100, 90, 80, 70, 60, 50};
  p.rs_evaporation = p.rsc;
  p.rs_interception = std::vector<double>(landuse::MonthlyListSize, 20.0);
  return p;
}

struct MonthCase {
  int day, month, year;
  double expected;
};

TEST_F(LanduseRecord, OldFormatMonthlyValues) {
  const landuse_class record(log_, OldFormatEntry());
  const MonthCase cases[] = {
      {15, 3, 2001, 70.0},                  // the month's own value
      {20, 12, 2001, 60.0 - 10.0 * 5 / 31}, // towards January (element 13)
      {10, 1, 2001, 60.0 - 10.0 * 26 / 31}, // from December (element 0)
      {1, 1, 2001, 60.0 - 10.0 * 17 / 31},
      {31, 12, 2001, 60.0 - 10.0 * 16 / 31},
      {14, 2, 2001, 50.0 + 10.0 * 30 / 31}, // over January's 31 days
      {15, 2, 2001, 60.0},
      {28, 2, 2001, 60.0 + 10.0 * 13 / 28},
      {1, 3, 2001, 60.0 + 10.0 * 14 / 28}, // over February's 28 days
      {14, 3, 2001, 60.0 + 10.0 * 27 / 28},
      {29, 2, 2004, 60.0 + 10.0 * 14 / 29},
      {1, 3, 2004, 60.0 + 10.0 * 15 / 29},
  };
  for (const MonthCase &c : cases)
    EXPECT_DOUBLE_EQ(record.GetRsc(log_, c.day, c.month, c.year, 1, 1, 1, 400), c.expected)
        << c.day << "." << c.month << "." << c.year;
  // The Julian-day form counts a year without leap day: day 74 is 15 March.
  EXPECT_DOUBLE_EQ(record.GetRscAtJulianDay(log_, 74, 1, 1, 1, 400), 70.0);
  EXPECT_DOUBLE_EQ(record.GetRscAtJulianDay(log_, 0, 1, 1, 1, 400),
                   record.GetRsc(log_, 1, 1, 2001, 1, 1, 1, 400));
  EXPECT_DOUBLE_EQ(record.GetRscAtJulianDay(log_, 366, 1, 1, 1, 400),
                   record.GetRsc(log_, 1, 1, 2001, 1, 1, 1, 400));
  EXPECT_DOUBLE_EQ(record.GetRsInterception(log_, 3, 7, 2001, 1, 1, 1, 400), 20.0);
  // The other lists use the four fix points, shifted at 800 m to 130, 160, 240, 290.
  EXPECT_DOUBLE_EQ(record.GetLAIAtJulianDay(log_, 130, 1, 1, 1, 800), 1.0);
  EXPECT_DOUBLE_EQ(record.GetLAIAtJulianDay(log_, 240, 1, 1, 1, 800), 3.0);
}

TEST_F(LanduseRecord, OldFormatMonthlyValuesAreContinuousWithoutOvershoot) {
  const landuse_class record(log_, OldFormatEntry());
  for (const int year : {2001, 2004}) {
    const landuse::MonthTable lengths = landuse::MonthLengthsOfYear(year);
    double previous = record.GetRsc(log_, 31, 12, year - 1, 1, 1, 1, 400);
    for (int month = 1; month <= 12; ++month)
      for (int day = 1; day <= lengths[static_cast<std::size_t>(month)]; ++day) {
        const double value = record.GetRsc(log_, day, month, year, 1, 1, 1, 400);
        EXPECT_LE(std::abs(value - previous), 10.0 / 28 + 1e-9) << day << "." << month;
        EXPECT_GE(value, 50.0 - 1e-9);
        EXPECT_LE(value, 110.0 + 1e-9);
        previous = value;
      }
  }
}

TEST(LanduseRecordErrors, MonthlyBranchNamesRecordAndDate) {
  const Failure month = CatchFatal([](DiagnosticsLog &log) {
    const landuse_class record(log, OldFormatEntry());
    record.GetRsc(log, 3, 0, 2001, 1, 1, 1, 400);
  });
  EXPECT_EQ(month.code, 154);
  EXPECT_TRUE(Contains(month.console, "land use record code 7 (meadow): the month of the date "
                                      "3.0.2001 lies outside 1..12"));
  const Failure negative = CatchFatal([](DiagnosticsLog &log) {
    const landuse_class record(log, OldFormatEntry());
    record.GetRsEvaporationAtJulianDay(log, -3, 1, 1, 1, 400);
  });
  EXPECT_EQ(negative.code, 153);
  EXPECT_TRUE(
      Contains(negative.console, "land use record code 7 (meadow): negative Julian day -3"));
  const Failure day = CatchFatal([](DiagnosticsLog &log) {
    const landuse_class record(log, OldFormatEntry());
    record.GetRsc(log, 29, 2, 2001, 1, 1, 1, 400);
  });
  EXPECT_EQ(day.code, 153);
  EXPECT_TRUE(Contains(day.console, "the day of the date 29.2.2001 lies outside its month"));
}

TEST_F(LanduseRecord, DynamicStartNotYetReachedHoldsTheValueBeforeIt) {
  // TStart is fix point 3; without a start (-1) it ends the fix points in use.
  const landuse_class record(log_,
                             FixPointEntry(landuse::DynamicPhenology1, {100, 200, -1, 30, 300},
                                           {1, 2, 3, 4, 5}, {0, 0, 0, 0, 0}));
  EXPECT_EQ(record.GetTStartIndex(), 3);
  for (const int day : {201, 250, 330, 366})
    EXPECT_DOUBLE_EQ(record.GetLAIAtJulianDay(log_, day, 1, 1, 1, 400), 2.0) << day;
  EXPECT_DOUBLE_EQ(record.GetLAIAtJulianDay(log_, 100, 1, 1, 1, 400), 1.0);
  EXPECT_DOUBLE_EQ(record.GetLAIAtJulianDay(log_, 17, 1, 1, 1, 400), 3.0); // -66 .. 100
  EXPECT_DOUBLE_EQ(record.GetLAIAtJulianDay(log_, 150, 1, 1, 1, 400), 1.5);
}

TEST_F(LanduseRecord, DynamicStartFromTheCellsPhenoStart) {
  landuse_class record(log_, FixPointEntry(landuse::DynamicPhenology1, {50, -1, 30, 250, 330},
                                           {1, 2, 3, 4, 5}, {0.025, 0, 0, 0, 0}));
  Grid phenoStart(1, 2, 2, 2, log_);
  phenoStart[1][1] = 120.7; // reached on day 120
  phenoStart[1][2] = -1;    // not yet reached
  phenoStart[2][1] = 350;   // 30 days later lies beyond the year
  std::vector<PhenologyLayerGrids> layers(2);
  layers[1].PhenoStart = &phenoStart;
  record.SetPhenologyGrids(5, layers);
  const DayCase started[] = {{400, 40, 5.0 - 4.0 * 76 / 86}, // -36 .. 50
                             {400, 100, 1.0},                // held before TStart
                             {400, 120, 1.0},
                             {400, 135, 2.5},  // 120 .. 150
                             {400, 200, 3.5},  // 150 .. 250
                             {1400, 75, 1.0}}; // first point shifted to 75
  for (const DayCase &c : started)
    EXPECT_DOUBLE_EQ(record.GetLAIAtJulianDay(log_, c.day, 1, 1, 1, c.altitude), c.expected)
        << c.day;
  EXPECT_DOUBLE_EQ(record.GetLAIAtJulianDay(log_, 200, 1, 1, 2, 400), 1.0);
  const Failure failure =
      CatchFatal([&](DiagnosticsLog &log) { record.GetLAIAtJulianDay(log, 200, 1, 2, 1, 400); });
  EXPECT_EQ(failure.code, 152);
  EXPECT_TRUE(Contains(failure.console, "dynamic phenology (method 1 or 2 after TStart) resulted "
                                        "in a Julian day of 380 for fix point 3"));
}

TEST_F(LanduseRecord, PresetStartDay) {
  LanduseParameters p = FixPointEntry(landuse::DynamicPhenology1, {50, -1, 30, 250, 330},
                                      {1, 2, 3, 4, 5}, {0, 0, 0, 0, 0});
  p.maxStartJDforDP1 = 100;
  p.DynamicStartDay = -1;
  landuse_class early(log_, p);
  early.PresetStartDay(log_, 1, 2, 2001);
  EXPECT_TRUE(early.GetStartDayPreset());
  EXPECT_EQ(early.GetDynamicStartDay(), -1);
  landuse_class late(log_, p);
  late.PresetStartDay(log_, 15, 5, 2001); // day 135 after day 100
  EXPECT_EQ(late.GetDynamicStartDay(), 70);
  landuse_class fixed(log_, SmallEntry());
  fixed.PresetStartDay(log_, 15, 5, 2001);
  EXPECT_FALSE(fixed.GetStartDayPreset());
}

struct StageCase {
  const char *name;
  std::vector<double> stages; // level 0 the forcing threshold reached last
  std::vector<double> thresholds;
  double forcingSum;
  int day;
  double expected;
};

TEST(LanduseStages, StageValues) {
  const std::vector<double> values = {4, 1, 2, 3, 4};
  const StageCase cases[] = {
      {"before the first stage", {0, 10, 50, -1, -1}, {}, 0, 5, 4.0},
      {"on the first stage", {0, 10, 50, -1, -1}, {}, 0, 10, 1.0},
      {"between stages", {0, 10, 50, -1, -1}, {}, 0, 30, 1.5},
      {"stage not yet reached", {0, 10, 50, -1, -1}, {}, 0, 50, 2.0},
      {"long after, stage still not reached", {0, 10, 50, -1, -1}, {}, 0, 200, 2.0},
      {"first stage not reached", {0, -1, -1, -1, -1}, {}, 0, 200, 4.0},
      {"between the last two", {0, 10, 50, 80, 120}, {}, 0, 100, 3.5},
      {"after the last stage", {0, 10, 50, 80, 120}, {}, 0, 200, 4.0},
      {"by the forcing sum", {100, 10, 50, -1, -1}, {-1, -1, 100, 200, -1}, 150, 60, 2.5},
      {"forcing sum past the threshold",
       {100, 10, 50, -1, -1},
       {-1, -1, 100, 200, -1},
       260,
       60,
       3.0},
  };
  for (const StageCase &c : cases)
    EXPECT_DOUBLE_EQ(landuse::StageValue(c.stages, values, 4, c.day, c.thresholds, c.forcingSum),
                     c.expected)
        << c.name;
}

TEST(LanduseStages, BalancePeriod) {
  const std::vector<double> stages = {0, 10, 50, 80, 120};
  EXPECT_EQ(landuse::StageBalanceStart(stages, 4, 9, 2, 4), -1.0);
  EXPECT_EQ(landuse::StageBalanceStart(stages, 4, 50, 2, 4), 50.0);
  EXPECT_EQ(landuse::StageBalanceStart(stages, 4, 85, 2, 4), 85.0);
  EXPECT_EQ(landuse::StageBalanceStart(stages, 4, 130, 2, 4), -1.0);
  EXPECT_EQ(landuse::StageBalanceStart(stages, 4, 130, 2, 1), 130.0);
  EXPECT_EQ(landuse::StageBalanceStart(stages, 4, 130, 0, 1), 0.0);
  EXPECT_EQ(landuse::StageBalanceStop(stages, 4, 80, 3), 80.0);
  EXPECT_EQ(landuse::StageBalanceStop(stages, 4, 81, 3), -1.0);
  EXPECT_EQ(landuse::StageBalanceStop(stages, 4, 120, 4), 120.0); // the last stage stops too
  EXPECT_EQ(landuse::StageBalanceStop(stages, 4, 120, 0), 0.0);
}

TEST_F(LanduseRecord, StageFormReadsTheCellsStack) {
  LanduseParameters p =
      FixPointEntry(landuse::DynamicPhenology3, {1, 100, 200, 366}, {1, 2, 3, 4}, {0, 0, 0, 0});
  p.ForcingThreshold = Closed({-1, -1, 300, -1});
  p.StartVegetationPeriodForBalance = 2;
  p.StopVegetationPeriodForBalance = 3;
  landuse_class record(log_, p);
  Stack stages(1, 1, 1, 4, 1, log_);
  Grid forcingSum(1, 1, 1, 1, log_);
  const double cell[] = {0, 1, 99, -1, 366};
  std::copy(std::begin(cell), std::end(cell), stages[1][1]);
  forcingSum[1][1] = 150;
  std::vector<PhenologyLayerGrids> layers(2);
  layers[1].StartTimes = &stages;
  layers[1].ForcingSum = &forcingSum;
  record.SetPhenologyGrids(4, layers);
  ASSERT_TRUE(record.UsesStages());
  EXPECT_DOUBLE_EQ(record.GetLAIAtJulianDay(log_, 50, 1, 1, 1, 1400), 1.5); // no altitude shift
  EXPECT_DOUBLE_EQ(record.GetLAIAtJulianDay(log_, 150, 1, 1, 1, 400), 2.5); // by forcing 150/300
  EXPECT_EQ(record.GetBalanceStartDayAtJulianDay(log_, 150, 1, 1, 1, 400), 150.0);
  EXPECT_EQ(record.GetBalanceStopDayAtJulianDay(log_, 150, 1, 1, 1, 400), -1.0);
}

TEST_F(LanduseRecord, BalancePeriodOnFixPoints) {
  LanduseParameters p = SmallEntry();
  p.StartVegetationPeriodForBalance = 2;
  p.StopVegetationPeriodForBalance = 4;
  const landuse_class record(log_, p);
  EXPECT_EQ(record.GetBalanceStartDayAtJulianDay(log_, 150, 1, 1, 1, 400), 150.0);
  EXPECT_EQ(record.GetBalanceStartDayAtJulianDay(log_, 151, 1, 1, 1, 400), -1.0);
  EXPECT_EQ(record.GetBalanceStartDayAtJulianDay(log_, 250, 1, 1, 1, 400), 250.0);
  EXPECT_EQ(record.GetBalanceStartDayAtJulianDay(log_, 330, 1, 1, 1, 400), -1.0);
  EXPECT_EQ(record.GetBalanceStartDayAtJulianDay(log_, 175, 1, 1, 1, 1400), 175.0);
  EXPECT_EQ(record.GetBalanceStopDayAtJulianDay(log_, 330, 1, 1, 1, 400), 330.0);
  EXPECT_EQ(record.GetBalanceStopDayAtJulianDay(log_, 329, 1, 1, 1, 400), -1.0);
  EXPECT_EQ(record.GetBalanceStopDay(log_, 26, 11, 2001, 1, 1, 1, 400), 330.0);
  p.StartVegetationPeriodForBalance = 0;
  p.StopVegetationPeriodForBalance = 0;
  const landuse_class none(log_, p);
  EXPECT_EQ(none.GetBalanceStartDayAtJulianDay(log_, 150, 1, 1, 1, 400), 0.0);
  EXPECT_EQ(none.GetBalanceStopDayAtJulianDay(log_, 330, 1, 1, 1, 400), 0.0);
  p.StartVegetationPeriodForBalance = 3;
  p.StopVegetationPeriodForBalance = 2; // no end within the year
  const landuse_class open(log_, p);
  EXPECT_EQ(open.GetBalanceStartDayAtJulianDay(log_, 330, 1, 1, 1, 400), 330.0);
}

TEST_F(LanduseRecord, NFactorIgnoresAltitude) {
  LanduseParameters p = SmallEntry();
  p.NFactor = Closed({0.5, 0.6, 0.7, 0.8});
  const landuse_class record(log_, p);
  EXPECT_DOUBLE_EQ(record.GetNFactorAtJulianDay(log_, 125), 0.55);
  EXPECT_DOUBLE_EQ(record.GetNFactorAtJulianDay(log_, 364), 0.725); // -2 between -36 and 100
  EXPECT_DOUBLE_EQ(record.GetNFactor(log_, 5, 5, 2001), 0.55);
}

TEST_F(LanduseRecord, ManyThreadsGiveTheSameValuesAsOne) {
  LanduseParameters p = SmallEntry();
  p.StartVegetationPeriodForBalance = 2;
  const landuse_class record(log_, p);
  const landuse_class old(log_, OldFormatEntry());
  const double altitudes[] = {0, 250, 400, 900, 1400};
  constexpr int kCells = 5 * 366;
  auto evaluate = [&](int cell) {
    const int day = cell % 366 + 1;
    const double altitude = altitudes[cell / 366];
    return record.GetLAIAtJulianDay(log_, day, 1, 1, 1, altitude) +
           10 * record.GetRootDepthAtJulianDay(log_, day, 1, 1, 1, altitude) +
           100 * record.GetBalanceStartDayAtJulianDay(log_, day, 1, 1, 1, altitude) +
           1000 * old.GetRscAtJulianDay(log_, day, 1, 1, 1, altitude);
  };
  std::vector<double> serial(kCells);
  for (int cell = 0; cell < kCells; ++cell)
    serial[static_cast<std::size_t>(cell)] = evaluate(cell);
  std::vector<double> parallel(kCells);
#pragma omp parallel for num_threads(4) schedule(dynamic, 7)
  for (int cell = 0; cell < kCells; ++cell)
    parallel[static_cast<std::size_t>(cell)] = evaluate(cell);
  EXPECT_EQ(parallel, serial);
}

// Several lists evaluated with one search of the cell's fix points give what
// one call per list gives: fix points shifted by altitude, a dynamic start
// from the cell's grid, and stages from the cell's stack.
TEST_F(LanduseRecord, SeveralListsAtOnceGiveTheValuesOfOneCallEach) {
  LanduseParameters shifted = SmallEntry();
  shifted.Z0 = Closed({10, 30, 50, 20});
  shifted.RootDepth = Closed({0.1, 0.3, 0.5, 0.2});
  LanduseParameters dynamic = FixPointEntry(landuse::DynamicPhenology1, {50, -1, 30, 250, 330},
                                            {1, 2, 3, 4, 5}, {0.025, 0, 0, 0, 0});
  dynamic.Z0 = Closed({5, 4, 3, 2, 1});
  LanduseParameters staged =
      FixPointEntry(landuse::DynamicPhenology3, {1, 100, 200, 366}, {1, 2, 3, 4}, {0, 0, 0, 0});
  staged.ForcingThreshold = Closed({-1, -1, 300, -1});
  staged.Z0 = Closed({9, 8, 7, 6});
  std::vector<landuse_class> records = {landuse_class(log_, shifted), landuse_class(log_, dynamic),
                                        landuse_class(log_, staged)};
  Grid phenoStart(1, 1, 1, 1, log_);
  phenoStart[1][1] = 120;
  Stack stages(1, 1, 1, 4, 1, log_);
  const double cell[] = {0, 1, 99, -1, 366};
  std::copy(std::begin(cell), std::end(cell), stages[1][1]);
  Grid forcingSum(1, 1, 1, 1, log_);
  forcingSum[1][1] = 150;
  std::vector<PhenologyLayerGrids> layers(2);
  layers[1].PhenoStart = &phenoStart;
  records[1].SetPhenologyGrids(5, layers);
  layers[1] = {nullptr, nullptr, &forcingSum, &stages};
  records[2].SetPhenologyGrids(4, layers);
  for (const landuse_class &record : records)
    for (const double altitude : {400.0, 1400.0})
      for (const int day : {20, 100, 120, 135, 200, 300, 366}) {
        const LanduseParameters &p = record.Parameters();
        const std::vector<double> *const lists[] = {&p.LAI, &p.Z0, &p.RootDepth};
        double values[3] = {};
        record.GetValuesAtJulianDay(log_, day, 1, 1, 1, altitude, lists, values);
        EXPECT_EQ(values[0], record.GetLAIAtJulianDay(log_, day, 1, 1, 1, altitude));
        EXPECT_EQ(values[1], record.GetZ0AtJulianDay(log_, day, 1, 1, 1, altitude));
        EXPECT_EQ(values[2], record.GetRootDepthAtJulianDay(log_, day, 1, 1, 1, altitude));
      }
  // A failure names the cell, as the root depth's does.
  phenoStart[1][1] = 350; // 30 days later lies beyond the year
  const Failure failure = CatchFatal([&](DiagnosticsLog &log) {
    const std::vector<double> *const lists[] = {&records[1].Parameters().LAI};
    double value = 0.0;
    records[1].GetValuesAtJulianDay(log, 200, 1, 1, 1, 400, lists, {&value, 1});
  });
  EXPECT_EQ(failure.code, 152);
  EXPECT_TRUE(
      Contains(failure.console, "Coordinates: i=1, j=1\nLayer=1\nAltitude=400m\nJulday=200"))
      << failure.console;
}

TEST(LanduseRecordErrors, ListsMustFitTheFixPoints) {
  const Failure failure = CatchFatal([](DiagnosticsLog &log) {
    LanduseParameters p = SmallEntry();
    p.LAI.pop_back();
    const landuse_class record(log, p);
  });
  EXPECT_EQ(failure.code, 29);
  EXPECT_TRUE(Contains(failure.console, "landuse table code 7: list \"LAI\" holds 4 elements "
                                        "instead of 5"));
}

} // namespace
} // namespace tavro
