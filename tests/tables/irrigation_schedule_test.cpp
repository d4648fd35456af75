// Schedule rules to dated events: both rule forms, the end of a range rule
// (also across the new year and when a step jumps over the end month), the
// clamped dates, the single-event rule, several rules in a row, the bounds and
// every defect of a rule text.
#include "tables/irrigation_schedule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace tavro {
namespace {

const MonthLengthTable kCommonYear = MonthLengthsWithFebruary(28);
const MonthLengthTable kLeapYear = MonthLengthsWithFebruary(29);

struct Event {
  int Month;
  int Day;
  double Amount;
};

struct RuleCase {
  const char *Name;
  std::string Text;
  std::vector<Event> Expected;
  const MonthLengthTable *Lengths = &kCommonYear;
};

void ExpectEvents(const ScheduleExpansion &result, const std::vector<Event> &expected,
                  const std::string &name) {
  ASSERT_TRUE(result.Ok()) << name << ": error " << static_cast<int>(result.Error);
  ASSERT_EQ(result.Events.size(), expected.size()) << name;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(result.Events[i].Month, expected[i].Month) << name << " event " << i + 1;
    EXPECT_EQ(result.Events[i].Day, expected[i].Day) << name << " event " << i + 1;
    EXPECT_DOUBLE_EQ(result.Events[i].Amount, expected[i].Amount) << name << " event " << i + 1;
  }
}

TEST(IrrigationScheduleTest, RulesGiveTheirEvents) {
  const std::vector<RuleCase> cases = {
      {"range into the next month",
       " starting from 05 01 with 4 mm to 06 02 with 1 mm every 10 days\n",
       {{5, 1, 4.0}, {5, 11, 3.0}, {5, 21, 2.0}, {5, 31, 1.0}}},
      {"range ending on the last day of its month",
       "starting from 05 01 with 4 mm to 05 31 with 1 mm every 10 days",
       {{5, 1, 4.0}, {5, 11, 3.0}, {5, 21, 2.0}, {5, 31, 1.0}}},
      {"range ending between two steps",
       "starting from 05 01 with 3 mm to 05 25 with 1 mm every 10 days",
       {{5, 1, 3.0}, {5, 11, 2.0}, {5, 21, 1.0}}},
      {"range across the new year",
       "starting from 12 20 with 2 mm to 01 10 with 5 mm every 7 day",
       {{12, 20, 2.0}, {12, 27, 3.0}, {1, 3, 4.0}, {1, 10, 5.0}}},
      {"step jumping over the end month",
       "starting from 01 01 with 1 mm to 02 15 with 9 mm every 60 days",
       {{1, 1, 1.0}}},
      {"single event keeps the first amount",
       "starting from 05 01 with 4 mm to 05 05 with 1 mm every 10 days",
       {{5, 1, 4.0}}},
      {"start equal to end",
       "starting from 07 14 with 6 mm to 07 14 with 2 mm every 1 day",
       {{7, 14, 6.0}}},
      {"repeats across the new year",
       "starting from 12 25 with 3 mm 3 times every 5 days",
       {{12, 25, 3.0}, {12, 30, 3.0}, {1, 4, 3.0}}},
      {"repeat once", "starting from 03 03 with 0.5 mm 1 times every 9 days", {{3, 3, 0.5}}},
      {"step over more than one month",
       "starting from 01 31 with 1 mm 2 times every 40 days",
       {{1, 31, 1.0}, {3, 12, 1.0}}},
      {"a whole year of steps returns to the day",
       "starting from 01 01 with 1 mm 3 times every 365 days",
       {{1, 1, 1.0}, {1, 1, 1.0}, {1, 1, 1.0}}},
      {"interval of many years",
       "starting from 01 01 with 1 mm 2 times every 3650001 days",
       {{1, 1, 1.0}, {1, 2, 1.0}}},
      {"day 31 in April becomes 30",
       "starting from 04 31 with 1 mm 2 times every 1 days",
       {{4, 30, 1.0}, {5, 1, 1.0}}},
      {"month 14 becomes 12", "starting from 14 05 with 1 mm 1 times every 1 days", {{12, 5, 1.0}}},
      {"month 14 and day 40 become 12 31",
       "starting from 14 40 with 1 mm 2 times every 1 days",
       {{12, 31, 1.0}, {1, 1, 1.0}}},
      {"month and day 0 become 1 1",
       "starting from 0 0 with 1 mm 1 times every 1 days",
       {{1, 1, 1.0}}},
      {"negative month becomes 1",
       "starting from -3 15 with 1 mm 1 times every 1 days",
       {{1, 15, 1.0}}},
      {"end day before the start day wraps the year",
       "starting from 05 20 with 1 mm to 05 10 with 1 mm every 175 days",
       {{5, 20, 1.0}, {11, 11, 1.0}, {5, 5, 1.0}}},
      {"end date clamped too",
       "starting from 11 29 with 2 mm to 11 31 with 2 mm every 1 day",
       {{11, 29, 2.0}, {11, 30, 2.0}}},
      {"day 30 in February of a common year",
       "starting from 02 30 with 1 mm 2 times every 1 days",
       {{2, 28, 1.0}, {3, 1, 1.0}}},
      {"day 30 in February of a leap year",
       "starting from 02 30 with 1 mm 2 times every 1 days",
       {{2, 29, 1.0}, {3, 1, 1.0}},
       &kLeapYear},
      {"two repeat rules append their events",
       "starting from 05 01 with 2 mm 2 times every 10 days; starting from 07 01 with 5 mm 1 "
       "times every 1 days",
       {{5, 1, 2.0}, {5, 11, 2.0}, {7, 1, 5.0}}},
      {"two range rules interpolate each over its own events",
       "starting from 05 01 with 1 mm to 05 03 with 3 mm every 1 day;starting from 06 01 with "
       "10 mm to 06 21 with 0 mm every 10 days",
       {{5, 1, 1.0}, {5, 2, 2.0}, {5, 3, 3.0}, {6, 1, 10.0}, {6, 11, 5.0}, {6, 21, 0.0}}},
      {"number directly after the separator",
       "starting from 5 1 with 2mm 2 times every 3 days",
       {{5, 1, 2.0}, {5, 4, 2.0}}},
  };
  for (const RuleCase &c : cases)
    ExpectEvents(ExpandIrrigationSchedule(c.Text, *c.Lengths), c.Expected, c.Name);
}

// Walks the calendar day by day from the start to the end date and checks
// that a range rule yields exactly the days of every interval-th step.
TEST(IrrigationScheduleTest, RangeRulesMatchADayByDayWalk) {
  const MonthLengthTable &lengths = kCommonYear;
  for (int startMonth = 1; startMonth <= 12; startMonth += 1)
    for (int endMonth = 1; endMonth <= 12; endMonth += 1)
      for (int interval : {1, 6, 29, 45}) {
        const int startDay = 1 + startMonth % 28;
        const int endDay = lengths[endMonth];
        std::vector<Event> expected;
        int month = startMonth;
        int day = startDay;
        for (int walked = 0;; ++walked) {
          if (walked % interval == 0)
            expected.push_back({month, day, 1.0});
          if (month == endMonth && day == endDay)
            break;
          day = day == lengths[month] ? 1 : day + 1;
          if (day == 1)
            month = month == 12 ? 1 : month + 1;
        }
        const std::string text = "starting from " + std::to_string(startMonth) + " " +
                                 std::to_string(startDay) + " with 1 mm to " +
                                 std::to_string(endMonth) + " " + std::to_string(endDay) +
                                 " with 1 mm every " + std::to_string(interval) + " days";
        ExpectEvents(ExpandIrrigationSchedule(text, lengths), expected, text);
      }
}

TEST(IrrigationScheduleTest, DailyRuleOverTheWholeYearIsBounded) {
  const ScheduleExpansion common = ExpandIrrigationSchedule(
      "starting from 01 02 with 1 mm to 01 01 with 1 mm every 1 day", kCommonYear);
  ASSERT_TRUE(common.Ok());
  ASSERT_EQ(common.Events.size(), 365u);
  EXPECT_EQ(common.Events.back().Month, 1);
  EXPECT_EQ(common.Events.back().Day, 1);

  const ScheduleExpansion leap = ExpandIrrigationSchedule(
      "starting from 01 02 with 1 mm to 01 01 with 1 mm every 1 day", kLeapYear);
  ASSERT_TRUE(leap.Ok());
  EXPECT_EQ(leap.Events.size(), 366u);

  const ScheduleExpansion most =
      ExpandIrrigationSchedule("starting from 01 01 with 1 mm 366 times every 1 days", kLeapYear);
  ASSERT_TRUE(most.Ok());
  EXPECT_EQ(most.Events.size(), static_cast<std::size_t>(MaxEventsPerRule));
}

TEST(IrrigationScheduleTest, InterpolatedAmountsStayFinite) {
  // Many events from a large to a zero amount: every amount lies between the
  // two and falls with the event index.
  const ScheduleExpansion result = ExpandIrrigationSchedule(
      "starting from 03 01 with 7.5 mm to 10 31 with 0 mm every 3 days", kCommonYear);
  ASSERT_TRUE(result.Ok());
  ASSERT_GT(result.Events.size(), 2u);
  EXPECT_DOUBLE_EQ(result.Events.front().Amount, 7.5);
  EXPECT_DOUBLE_EQ(result.Events.back().Amount, 0.0);
  for (std::size_t i = 1; i < result.Events.size(); ++i) {
    EXPECT_TRUE(std::isfinite(result.Events[i].Amount));
    EXPECT_LT(result.Events[i].Amount, result.Events[i - 1].Amount);
  }
}

struct DefectCase {
  const char *Name;
  std::string Text;
  ScheduleError Error;
  std::string Detail; // part of the explanation, empty when none is given
};

TEST(IrrigationScheduleTest, DefectiveRulesAreRefused) {
  const std::vector<DefectCase> cases = {
      {"no starting from", "from 05 01 with 4 mm 3 times every 5 days",
       ScheduleError::NoStartingFrom, ""},
      {"empty text", "\n", ScheduleError::NoStartingFrom, ""},
      {"neither to nor times", "starting from 05 01 with 4 mm every 5 days",
       ScheduleError::NoFormKeyword, ""},
      {"first rule without form keyword",
       "starting from 05 01 with 4 mm every 5 days; starting from 06 01 with 4 mm 2 times "
       "every 5 days",
       ScheduleError::NoKeywordAfterAmount,
       "none of the keywords \"to\" or \"times\" could be found!\n"},
      {"start date not readable", "starting from MM 01 with 4 mm 2 times every 5 days",
       ScheduleError::Malformed, ""},
      {"start day missing", "starting from 05 with 4 mm 2 times every 5 days",
       ScheduleError::Malformed, ""},
      {"missing with", "starting from 05 01 4 mm 2 times every 5 days", ScheduleError::Malformed,
       ""},
      {"first amount not readable", "starting from 05 01 with XX mm 2 times every 5 days",
       ScheduleError::Malformed, ""},
      {"end date not readable", "starting from 05 01 with 4 mm to MM DD with 1 mm every 5 days",
       ScheduleError::Malformed, ""},
      {"last amount missing", "starting from 05 01 with 4 mm to 05 20 every 5 days",
       ScheduleError::Malformed, ""},
      {"missing every", "starting from 05 01 with 4 mm to 05 20 with 1 mm",
       ScheduleError::Malformed, ""},
      {"interval not readable", "starting from 05 01 with 4 mm 2 times every ZZ days",
       ScheduleError::Malformed, ""},
      {"repeat count missing", "starting from 05 01 with 4 times every 5 days",
       ScheduleError::Malformed, ""},
      {"form 2 rule in a form 1 row",
       "starting from 05 01 with 1 mm to 05 10 with 1 mm every 5 days; starting from 06 01 with "
       "2 mm 2 times every 5 days",
       ScheduleError::Malformed, ""},
      {"interval 0 in a range", "starting from 05 01 with 4 mm to 05 20 with 1 mm every 0 days",
       ScheduleError::IntervalBelowOne, "at least 1 day, not 0"},
      {"negative interval in repeats", "starting from 05 01 with 4 mm 2 times every -3 days",
       ScheduleError::IntervalBelowOne, "at least 1 day, not -3"},
      {"repeat count 0", "starting from 05 01 with 4 mm 0 times every 5 days",
       ScheduleError::RepeatCountOutOfRange, "between 1 and 366, not 0"},
      {"repeat count too large", "starting from 05 01 with 4 mm 367 times every 5 days",
       ScheduleError::RepeatCountOutOfRange, "between 1 and 366, not 367"},
      {"huge repeat count", "starting from 05 01 with 4 mm 99999999999999999999 times every 5 days",
       ScheduleError::RepeatCountOutOfRange, "between 1 and 366"},
      {"negative first amount", "starting from 05 01 with -4 mm 2 times every 5 days",
       ScheduleError::NegativeAmount, "must not be negative (-4 mm)"},
      {"negative last amount", "starting from 05 01 with 4 mm to 05 20 with -1 mm every 5 days",
       ScheduleError::NegativeAmount, "must not be negative (-1 mm)"},
      {"infinite amount", "starting from 05 01 with inf mm 2 times every 5 days",
       ScheduleError::Malformed, ""},
  };
  for (const DefectCase &c : cases) {
    const ScheduleExpansion result = ExpandIrrigationSchedule(c.Text, kCommonYear);
    EXPECT_EQ(result.Error, c.Error) << c.Name;
    if (c.Detail.empty())
      EXPECT_TRUE(result.Detail.empty()) << c.Name << ": " << result.Detail;
    else
      EXPECT_NE(result.Detail.find(c.Detail), std::string::npos) << c.Name << ": " << result.Detail;
  }
}

} // namespace
} // namespace tavro
