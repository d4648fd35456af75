// Operation rules as tables of cases: section reading, seasons, the table
// value, windows and the weekday of the civil date.
#include "routing/reservoirs/operation_rule.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace tavro {
namespace {
using test::WriteFixture;

OperationRule Parse(const std::vector<std::string> &lines) {
  RuleParseResult parsed = ParseOperationRule(lines);
  EXPECT_EQ(parsed.fault, "");
  return std::move(parsed.rule);
}

TEST(OperationRule, ReadsTheSectionFromTheControlFile) {
  WriteFixture("rules.txt", "[abstraction_rule_reservoir_10]\n"
                            "x\n"
                            "[abstraction_rule_reservoir_1]\n"
                            "2 1 182\n"
                            "0 0 0\n"
                            "100 5 10\n"
                            "TargetCap = 4 8\n"
                            "TableIndex = Volume\n"
                            "\n"
                            "stop_hour = 1 1\n");
  std::FILE *file = std::fopen("rules.txt", "r");
  ASSERT_NE(file, nullptr);
  const auto lines = ReadRuleSection(file, "[abstraction_rule_reservoir_1]");
  ASSERT_TRUE(lines.has_value());
  ASSERT_EQ(lines->size(), 5u); // up to the empty line
  const OperationRule rule = Parse(*lines);
  EXPECT_EQ(rule.rowCount, 2);
  EXPECT_EQ(rule.columnCount, 2);
  EXPECT_EQ(rule.columnDay[2], 182);
  EXPECT_EQ(rule.TargetCap[2], 8.0);
  EXPECT_EQ(rule.stop_hour[1], -1);
  EXPECT_FALSE(rule.flowIndexed);
  EXPECT_DOUBLE_EQ(rule.Slope(2, 1), 0.1);
  EXPECT_EQ(rule.Slope(2, 2), 0.0);
  EXPECT_FALSE(ReadRuleSection(file, "[abstraction_rule_reservoir_2]").has_value());
  std::fclose(file);
  // A header on an unterminated last line is not found.
  WriteFixture("last.txt", "a\n[abstraction_rule_reservoir_3]");
  file = std::fopen("last.txt", "r");
  EXPECT_FALSE(ReadRuleSection(file, "[abstraction_rule_reservoir_3]").has_value());
  std::fclose(file);
}

TEST(OperationRule, UnsoundSectionsAreRefused) {
  const struct {
    std::vector<std::string> lines;
    const char *fault;
  } cases[] = {
      {{"0", "0 0"}, "row count"},
      {{"-1 1 182"}, "row count"},
      {{"3", "0 0", "5 1"}, "row count"},
      {{"2", "0 0", "0 1"}, "ascend"},
      {{"2", "5 0", "1 1"}, "ascend"},
      {{"2 1 182", "0 0 0", "5 1"}, "row 2"},
      {{"1", "0 x"}, "row 1"},
      {{"1 100 50", "0 0 0"}, "days of the columns"},
      {{"1", "0 0", "WeekDays = "}, "WeekDays"},
      {{"", "0 0"}, "first line"},
  };
  for (const auto &c : cases) {
    const RuleParseResult parsed = ParseOperationRule(c.lines);
    EXPECT_NE(parsed.fault.find(c.fault), std::string::npos) << c.lines[0] << ": " << parsed.fault;
  }
}

TEST(OperationRule, SeasonsBlendWithoutWrapAround) {
  // R alone: one column valid on every day.
  const OperationRule single = Parse({"1", "0 7"});
  EXPECT_EQ(single.columnCount, 1);
  EXPECT_EQ(single.columnDay[1], 1);
  const OperationRule two = Parse({"2 1 182", "0 0 0", "100 100 200"});
  const struct {
    int day;
    int column;
    double weight;
    bool blended;
  } cases[] = {
      {1, 1, 1.0, false},
      {91, 2, 90.0 / 181.0, true},
      {300, 2, 299.0 / 181.0, true},
  };
  for (const auto &c : cases) {
    const RuleSeason s = SelectSeason(two, c.day);
    EXPECT_EQ(s.column, c.column) << c.day;
    EXPECT_DOUBLE_EQ(s.weight, c.weight) << c.day;
    EXPECT_EQ(s.blended, c.blended) << c.day;
    // The value at volume 50 blends 50 (column 1) and 100 (column 2).
    const double expected = c.blended ? c.weight * 100.0 + (1 - c.weight) * 50.0 : 50.0;
    EXPECT_NEAR(RuleValue(two, s, 50.0, RuleOwner::Reservoir), expected, 1e-12) << c.day;
  }
  EXPECT_EQ(RuleDayOfYear(2, 29), RuleDayOfYear(3, 1));
  EXPECT_EQ(RuleDayOfYear(3, 1), 60);
  EXPECT_EQ(RuleDayOfYear(12, 31), 365);
}

TEST(OperationRule, TableValuesBelowWithinAboveAndByFlow) {
  const OperationRule rule = Parse({"3", "10 1", "20 3", "40 7"});
  const OperationRule byFlow = Parse({"3", "1 10", "3 20", "7 40", "TableIndex = Flow"});
  EXPECT_TRUE(byFlow.flowIndexed);
  const RuleSeason s;
  const struct {
    double x;
    double reservoir;
    double abstraction;
  } cases[] = {
      {5.0, 0.0, 0.0},  {10.0, 0.0, 0.0}, {15.0, 2.0, 2.0},
      {30.0, 5.0, 5.0}, {40.0, 7.0, 7.0}, {50.0, 9.0, 7.0}, // above: extrapolated / last row
  };
  for (const auto &c : cases) {
    EXPECT_DOUBLE_EQ(RuleValue(rule, s, c.x, RuleOwner::Reservoir), c.reservoir) << c.x;
    EXPECT_DOUBLE_EQ(RuleValue(rule, s, c.x, RuleOwner::Abstraction), c.abstraction) << c.x;
  }
  // By flow: the flow for a volume, 0 below the first volume.
  EXPECT_DOUBLE_EQ(RuleValue(byFlow, s, 15.0, RuleOwner::Reservoir), 2.0);
  EXPECT_DOUBLE_EQ(RuleValue(byFlow, s, 30.0, RuleOwner::Reservoir), 5.0);
  EXPECT_DOUBLE_EQ(RuleValue(byFlow, s, 5.0, RuleOwner::Reservoir), 0.0);
  EXPECT_FALSE(Parse({"1", "0 0", "TableIndex = Volume"}).flowIndexed);
}

// 2024-01-01 is a Monday; the weekday is that of hour - 1.
TEST(OperationRule, WeekdaysAndWindowsDoNotDependOnTheTimeZone) {
  const OperationRule office =
      Parse({"1", "0 5", "WeekDays = 12345", "start_hour = 8", "stop_hour = 18"});
  const OperationRule always = Parse({"1", "0 5", "start_hour = 8", "stop_hour = 18"});
  const OperationRule reversed =
      Parse({"1", "0 5", "WeekDays = 1234567", "start_hour = 18", "stop_hour = 8"});
  const OperationRule noStop = Parse({"1", "0 5", "WeekDays = 1234567", "start_hour = 0"});
  const struct {
    int year, month, day, hour;
    int weekday;
    bool office, always, reversed, noStop;
  } cases[] = {
      {2024, 1, 1, 12, 1, true, true, false, false},
      {2024, 1, 1, 8, 1, true, true, false, false},
      {2024, 1, 1, 18, 1, true, true, false, false},
      {2024, 1, 1, 19, 1, false, true, false, false},
      {2024, 1, 1, 0, 7, false, true, false, false}, // hour 0 counts as Sunday 23 h
      {2024, 1, 6, 12, 6, false, true, false, false},
      {2024, 1, 7, 12, 7, false, true, false, false},
      {2024, 3, 1, 1, 5, false, true, false, false}, // 1 h is still that day
      {2000, 2, 29, 10, 2, true, true, false, false},
  };
  const char *saved = std::getenv("TZ");
  const std::string previous = saved ? saved : "";
  std::vector<std::vector<int>> results;
  for (const char *zone : {"UTC", "Pacific/Auckland"}) {
    setenv("TZ", zone, 1);
    tzset();
    std::vector<int> seen;
    for (const auto &c : cases) {
      const int w = RuleWeekday(c.year, c.month, c.day, c.hour);
      EXPECT_EQ(w, c.weekday) << zone << " " << c.day << "." << c.month << " " << c.hour;
      EXPECT_EQ(RuleWindowOpen(office, 1, w, c.hour, RuleOwner::Reservoir), c.office);
      EXPECT_EQ(RuleWindowOpen(always, 1, w, c.hour, RuleOwner::Reservoir), c.always);
      EXPECT_EQ(RuleWindowOpen(reversed, 1, w, c.hour, RuleOwner::Reservoir), c.reversed);
      EXPECT_EQ(RuleWindowOpen(noStop, 1, w, c.hour, RuleOwner::Abstraction), c.noStop);
      seen.push_back(w);
    }
    results.push_back(seen);
  }
  EXPECT_EQ(results[0], results[1]);
  if (saved)
    setenv("TZ", previous.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

} // namespace
} // namespace tavro
