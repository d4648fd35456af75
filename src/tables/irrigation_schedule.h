// Expansion of the schedule rules of an irrigation table row into dated
// irrigation events. A row's rule text holds one or more rules, separated by
// ";", each of one of two forms:
//   "starting from MM DD with XX mm to MM DD with YY mm every ZZ day"
//   "starting from MM DD with XX mm AA times every ZZ days"
// The first form runs from its start to its end date (across the new year
// when the end date lies before the start date, even in the same month) with
// amounts interpolated linearly from XX to YY; the second repeats XX AA times.
// Pure: no logging, no control-file access; the table reader turns an error
// into its log entries and exit code.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

// Days of months 1..12 in elements 1..12; element 0 is not used.
using MonthLengthTable = std::array<int, 13>;

// The month lengths of a year whose February has februaryDays days.
MonthLengthTable MonthLengthsWithFebruary(int februaryDays);

struct IrrigationEvent {
  std::int64_t Month = 0;
  std::int64_t Day = 0;
  double Amount = 0.0; // mm per day
};

enum class ScheduleError {
  None,
  NoStartingFrom,        // the text holds no "starting from"
  NoFormKeyword,         // the text holds neither "to" nor "times"
  NoKeywordAfterAmount,  // a rule holds neither "to" nor "times" after its first amount
  Malformed,             // a keyword is missing or a number cannot be read
  IntervalBelowOne,      // "every" is followed by a number below 1
  RepeatCountOutOfRange, // the repeat count lies outside 1..MaxEventsPerRule
  NegativeAmount,        // an amount below 0
};

struct ScheduleExpansion {
  std::vector<IrrigationEvent> Events; // of all rules, in order
  ScheduleError Error = ScheduleError::None;
  // For errors that deserve an explanation ahead of the help text: the text
  // of that entry (ending with a line break); empty otherwise.
  std::string Detail;

  bool Ok() const { return Error == ScheduleError::None; }
};

// Most events one rule may yield: a daily rule over a whole leap year. Dates
// repeat after a year, so more events would only name days again.
inline constexpr int MaxEventsPerRule = 366;

// Expands the rule text of a row. A month is limited to 1..12 first, then the
// day to 1..the length of that month. Form 1 stops at the first date after the
// end date; a rule that yields one event gives it the first amount. On an
// error the events found so far are kept and Error tells what went wrong.
ScheduleExpansion ExpandIrrigationSchedule(std::string_view text, const MonthLengthTable &lengths);

} // namespace tavro
