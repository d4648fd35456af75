// Operation rules of reservoirs and abstractions: a table of values against a
// state variable (stored volume or available river flow), one column per
// season of the year, optional weekday and hour windows and a cap per column.
// Reading the section text, choosing the season, the table value and the
// window are plain functions; the elements decide what the value means.
#pragma once

#include "kernel/one_based_array.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace tavro {

inline constexpr int kRuleSectionExitCode = 34;

struct OperationRule {
  int rowCount = 0;    // R
  int columnCount = 0; // C
  OneBasedArray<int> columnDay;
  OneBasedArray<double> key;
  OneBasedArray<OneBasedArray<double>> value; // [column][row]
  OneBasedArray<OneBasedArray<double>> slope; // [column][row], row R is 0
  OneBasedArray<double> TargetCap;            // -1: not given
  OneBasedArray<long> WeekDays;               // -1: not given
  OneBasedArray<int> start_hour;              // -1: not given
  OneBasedArray<int> stop_hour;               // -1: not given
  bool flowIndexed = false;                   // keys are flows, values volumes

  double Value(int column, int row) const {
    return value[static_cast<std::size_t>(column)][static_cast<std::size_t>(row)];
  }
  double Slope(int column, int row) const {
    return slope[static_cast<std::size_t>(column)][static_cast<std::size_t>(row)];
  }
};

struct RuleParseResult {
  OperationRule rule;
  std::string fault; // empty when the section is sound
};

// Parses the lines after the section header (each without its line break).
// A rule needs R >= 1, ascending keys and C + 1 numbers on every row; the
// key lines need one number per column.
RuleParseResult ParseOperationRule(const std::vector<std::string> &lines);

// Rewinds the control file and positions it behind the line whose first
// word equals header; collects the lines of the section up to its end (a
// line holding "[", an empty line or the end of the file). Empty when the
// header is absent (a header on an unterminated last line counts as absent).
std::optional<std::vector<std::string>> ReadRuleSection(std::FILE *file, const std::string &header);

// The day of the year with a 28-day February in every year (29 Feb = 1 Mar).
int RuleDayOfYear(int month, int day);
// 1 Monday .. 7 Sunday of the civil date at hour - 1, independent of the
// process's time zone.
int RuleWeekday(int year, int month, int day, int hour);

// The season of a day: column c alone (weight 1), or column c with weight w
// and column c - 1 with 1 - w; w above 1 after the last column's day.
struct RuleSeason {
  int column = 1;
  double weight = 1.0;
  bool blended = false;
};
RuleSeason SelectSeason(const OperationRule &rule, int dayOfYear);

enum class RuleOwner { Reservoir, Abstraction };

// The table value for the state variable x (flow for x a volume, volume for
// x a flow when the table is flow-indexed), blended over the season.
double RuleValue(const OperationRule &rule, const RuleSeason &season, double x, RuleOwner owner);

// The weekday and hour window of a column. A reservoir column without
// "WeekDays" is always open; an abstraction column is always tested.
bool RuleWindowOpen(const OperationRule &rule, int column, int weekday, int hour, RuleOwner owner);

} // namespace tavro
