// Schedule rules to dated irrigation events: the keyword search of each rule,
// the clamped dates, the stepping through the calendar and the amounts.
#include "tables/irrigation_schedule.h"

#include "kernel/fatal_error.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace tavro {
namespace {

constexpr std::string_view kStartingFrom = "starting from";
constexpr std::string_view kWith = "with";
constexpr std::string_view kTo = "to";
constexpr std::string_view kMm = "mm";
constexpr std::string_view kTimes = "times";
constexpr std::string_view kEvery = "every";

// Numbers beyond this are held here: they only grow out of every valid range.
constexpr std::int64_t kIntegerCeiling = 1'000'000'000'000'000;

struct Date {
  std::int64_t Month = 0;
  std::int64_t Day = 0;
};

template <class T> struct Scanned {
  T Value{};
  std::size_t End = 0; // position after the number
};

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// An integer from pos on the way "%d" reads one: white space, a sign, digits.
std::optional<Scanned<std::int64_t>> ScanInteger(const std::string &text, std::size_t pos) {
  while (pos < text.size() && IsSpace(text[pos]))
    ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  const std::size_t first = pos;
  std::int64_t value = 0;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])) != 0) {
    value = std::min(kIntegerCeiling, value * 10 + (text[pos] - '0'));
    ++pos;
  }
  if (pos == first)
    return std::nullopt;
  return Scanned<std::int64_t>{negative ? -value : value, pos};
}

// A finite real from pos on the way "%lf" reads one.
std::optional<Scanned<double>> ScanReal(const std::string &text, std::size_t pos) {
  if (pos >= text.size())
    return std::nullopt;
  const char *begin = text.c_str() + pos;
  char *end = nullptr;
  const double value = std::strtod(begin, &end);
  if (end == begin || !std::isfinite(value))
    return std::nullopt;
  return Scanned<double>{value, pos + static_cast<std::size_t>(end - begin)};
}

// Position after a keyword found from pos on and the one separator that
// follows it; nullopt when the keyword does not occur.
std::optional<std::size_t> AfterKeyword(const std::string &text, std::string_view keyword,
                                        std::size_t pos) {
  const std::size_t found = text.find(keyword, pos);
  if (found == std::string::npos)
    return std::nullopt;
  return found + keyword.size() + 1;
}

std::optional<Scanned<std::int64_t>> IntegerAfter(const std::string &text, std::string_view keyword,
                                                  std::size_t pos) {
  const auto start = AfterKeyword(text, keyword, pos);
  return start ? ScanInteger(text, *start) : std::nullopt;
}

std::optional<Scanned<double>> RealAfter(const std::string &text, std::string_view keyword,
                                         std::size_t pos) {
  const auto start = AfterKeyword(text, keyword, pos);
  return start ? ScanReal(text, *start) : std::nullopt;
}

// Month and day after keyword, the month limited to 1..12 before it selects
// the length that limits the day.
std::optional<Scanned<Date>> DateAfter(const std::string &text, std::string_view keyword,
                                       std::size_t pos, const MonthLengthTable &lengths) {
  const auto month = IntegerAfter(text, keyword, pos);
  if (!month)
    return std::nullopt;
  const auto day = ScanInteger(text, month->End);
  if (!day)
    return std::nullopt;
  Date date;
  date.Month = std::clamp<std::int64_t>(month->Value, 1, 12);
  date.Day = std::clamp<std::int64_t>(day->Value, 1, lengths[date.Month]);
  return Scanned<Date>{date, day->End};
}

std::int64_t YearLength(const MonthLengthTable &lengths) {
  std::int64_t days = 0;
  for (int m = 1; m <= 12; ++m)
    days += lengths[m];
  return days;
}

std::int64_t DayOfYear(const Date &date, const MonthLengthTable &lengths) {
  std::int64_t days = date.Day;
  for (std::int64_t m = 1; m < date.Month; ++m)
    days += lengths[m];
  return days;
}

// The date interval days later; December is followed by January.
Date Advance(Date date, std::int64_t interval, const MonthLengthTable &lengths) {
  date.Day += interval % YearLength(lengths);
  while (date.Day > lengths[date.Month]) {
    date.Day -= lengths[date.Month];
    date.Month = date.Month == 12 ? 1 : date.Month + 1;
  }
  return date;
}

struct RuleOutcome {
  ScheduleError Error = ScheduleError::None;
  std::string Detail;
};

RuleOutcome Failure(ScheduleError error, std::string detail = {}) {
  return {error, std::move(detail)};
}

// Form 1: from the start date every interval days up to and including the
// last date that does not lie after the end date. An end date before the
// start date (also in the same month) lies in the next year.
void GenerateRange(Date start, Date end, double first, double last, std::int64_t interval,
                   const MonthLengthTable &lengths, std::vector<IrrigationEvent> &events) {
  std::int64_t span = DayOfYear(end, lengths) - DayOfYear(start, lengths);
  if (span < 0)
    span += YearLength(lengths); // the end lies in the next year
  const std::size_t f = events.size();
  Date date = start;
  std::int64_t elapsed = 0;
  for (;;) {
    events.push_back({date.Month, date.Day, first});
    if (interval > span - elapsed)
      break;
    elapsed += interval;
    date = Advance(date, interval, lengths);
  }
  const std::size_t k = events.size() - 1;
  if (k == f)
    return; // one event keeps the first amount
  const double width = static_cast<double>(k - f);
  for (std::size_t l = f; l <= k; ++l)
    events[l].Amount =
        (static_cast<double>(l - f) / width) * last + (static_cast<double>(k - l) / width) * first;
}

// Form 2: count events every interval days, all with the same amount.
void GenerateRepeats(Date start, double amount, std::int64_t count, std::int64_t interval,
                     const MonthLengthTable &lengths, std::vector<IrrigationEvent> &events) {
  Date date = start;
  for (std::int64_t i = 0; i < count; ++i) {
    if (i > 0)
      date = Advance(date, interval, lengths);
    events.push_back({date.Month, date.Day, amount});
  }
}

RuleOutcome CheckInterval(std::int64_t interval) {
  if (interval < 1)
    return Failure(
        ScheduleError::IntervalBelowOne,
        Concat("the interval after \"every\" must be at least 1 day, not ", interval, "\n"));
  return {};
}

RuleOutcome CheckAmount(double amount) {
  if (amount < 0.0)
    return Failure(ScheduleError::NegativeAmount,
                   Concat("an irrigation amount must not be negative (", amount, " mm)\n"));
  return {};
}

// One rule, its text running from its "starting from" to the next rule.
RuleOutcome ExpandRule(const std::string &rule, bool rangeForm, const MonthLengthTable &lengths,
                       std::vector<IrrigationEvent> &events) {
  const auto start = DateAfter(rule, kStartingFrom, 0, lengths);
  if (!start)
    return Failure(ScheduleError::Malformed);
  const auto first = RealAfter(rule, kWith, start->End);
  if (!first)
    return Failure(ScheduleError::Malformed);
  if (rule.find(kTo, first->End) == std::string::npos &&
      rule.find(kTimes, first->End) == std::string::npos)
    return Failure(ScheduleError::NoKeywordAfterAmount,
                   "none of the keywords \"to\" or \"times\" could be found!\n");
  if (RuleOutcome amount = CheckAmount(first->Value); amount.Error != ScheduleError::None)
    return amount;

  if (rangeForm) {
    const auto end = DateAfter(rule, kTo, first->End, lengths);
    if (!end)
      return Failure(ScheduleError::Malformed);
    const auto last = RealAfter(rule, kWith, end->End);
    if (!last)
      return Failure(ScheduleError::Malformed);
    const auto interval = IntegerAfter(rule, kEvery, last->End);
    if (!interval)
      return Failure(ScheduleError::Malformed);
    if (RuleOutcome amount = CheckAmount(last->Value); amount.Error != ScheduleError::None)
      return amount;
    if (RuleOutcome step = CheckInterval(interval->Value); step.Error != ScheduleError::None)
      return step;
    GenerateRange(start->Value, end->Value, first->Value, last->Value, interval->Value, lengths,
                  events);
    return {};
  }

  const auto count = IntegerAfter(rule, kMm, first->End);
  if (!count)
    return Failure(ScheduleError::Malformed);
  const auto interval = IntegerAfter(rule, kEvery, count->End);
  if (!interval)
    return Failure(ScheduleError::Malformed);
  if (count->Value < 1 || count->Value > MaxEventsPerRule)
    return Failure(ScheduleError::RepeatCountOutOfRange,
                   Concat("the repeat count must lie between 1 and ", MaxEventsPerRule, ", not ",
                          count->Value, "\n"));
  if (RuleOutcome step = CheckInterval(interval->Value); step.Error != ScheduleError::None)
    return step;
  GenerateRepeats(start->Value, first->Value, count->Value, interval->Value, lengths, events);
  return {};
}

} // namespace

MonthLengthTable MonthLengthsWithFebruary(int februaryDays) {
  return {31, 31, februaryDays, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
}

ScheduleExpansion ExpandIrrigationSchedule(std::string_view text, const MonthLengthTable &lengths) {
  for (int m = 1; m <= 12; ++m)
    assert(lengths[m] >= 1);
  ScheduleExpansion result;
  std::size_t begin = text.find(kStartingFrom);
  if (begin == std::string_view::npos) {
    result.Error = ScheduleError::NoStartingFrom;
    return result;
  }
  // All rules of a row share the form that the whole text shows.
  const bool rangeForm = text.find(kTo) != std::string_view::npos;
  if (!rangeForm && text.find(kTimes) == std::string_view::npos) {
    result.Error = ScheduleError::NoFormKeyword;
    return result;
  }
  while (begin != std::string_view::npos) {
    const std::size_t next = text.find(kStartingFrom, begin + kStartingFrom.size());
    const std::string rule(
        text.substr(begin, next == std::string_view::npos ? text.npos : next - begin));
    RuleOutcome outcome = ExpandRule(rule, rangeForm, lengths, result.Events);
    if (outcome.Error != ScheduleError::None) {
      result.Error = outcome.Error;
      result.Detail = std::move(outcome.Detail);
      return result;
    }
    begin = next;
  }
  return result;
}

} // namespace tavro
