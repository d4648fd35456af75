// The date of a model step and its DateCode, a single long that orders dates:
// year * 93000 + month * 7750 + day * 250 + hour. Since 250 exceeds every hour,
// 7750 = 31 * 250 and 93000 = 12 * 7750, the codes of valid dates (months
// 1..12, days 1..31, hours 0..23) grow strictly with the date.
#pragma once

#include <limits>

namespace tavro {

inline constexpr long YearFactor = 93000;
inline constexpr long MonthFactor = 7750;
inline constexpr long DayFactor = 250;
inline constexpr long HourFactor = 1;

// Step operations take the date in this order: hour, day, month, year. All
// four are -9999 when no variable is interpolated, 0 when never set.
struct ModelDate {
  long Hour = 0;
  long Day = 0;
  long Month = 0;
  long Year = 0;

  friend constexpr bool operator==(const ModelDate &, const ModelDate &) = default;
};

// The largest magnitude of each term of a DateCode: four such terms add up
// without leaving the range of long.
inline constexpr long MaxDateCodeTerm = std::numeric_limits<long>::max() / 4;

// True when DateCode can combine the parts without overflow: every part lies
// within MaxDateCodeTerm divided by its factor (years up to about 2.5e13).
// Dates read from files are checked with it before any arithmetic.
constexpr bool DateCodeFits(long year, long month, long day, long hour) {
  const auto within = [](long part, long factor) {
    return part >= -(MaxDateCodeTerm / factor) && part <= MaxDateCodeTerm / factor;
  };
  return within(year, YearFactor) && within(month, MonthFactor) && within(day, DayFactor) &&
         within(hour, HourFactor);
}

// Arguments in the order of SetActualDate: year, month, day, hour. The parts
// must fit (DateCodeFits).
constexpr long DateCode(long year, long month, long day, long hour) {
  return year * YearFactor + month * MonthFactor + day * DayFactor + hour * HourFactor;
}

constexpr long DateCode(const ModelDate &date) {
  return DateCode(date.Year, date.Month, date.Day, date.Hour);
}

} // namespace tavro
