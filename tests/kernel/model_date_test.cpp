// DateCode ordering against an independent calendar.
#include "kernel/model_date.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>

namespace tavro {
namespace {

using namespace std::chrono;

ModelDate ToModelDate(sys_days day, long hour) {
  const year_month_day ymd{day};
  return {hour, static_cast<long>(unsigned(ymd.day())), static_cast<long>(unsigned(ymd.month())),
          static_cast<long>(int(ymd.year()))};
}

TEST(DateCodeTest, GrowsStrictlyWithEveryHourOverSeveralYears) {
  // Leap years and a century year (2000) included.
  const sys_days first = sys_days{1999y / December / 25};
  const sys_days last = sys_days{2005y / January / 3};
  long previous = DateCode(ToModelDate(first, 0)) - 1;
  for (sys_days day = first; day <= last; day += days{1}) {
    for (long hour = 0; hour < 24; ++hour) {
      const ModelDate date = ToModelDate(day, hour);
      const long code = DateCode(date);
      ASSERT_GT(code, previous) << date.Year << "-" << date.Month << "-" << date.Day << " " << hour;
      if (hour > 0) {
        EXPECT_EQ(code - previous, 1); // consecutive hours of a day differ by 1
      }
      previous = code;
    }
    const year_month_day ymd{day};
    const year_month_day next{day + days{1}};
    if (next.month() == ymd.month()) { // same hour, next day of the month
      EXPECT_EQ(DateCode(ToModelDate(day + days{1}, 5)) - DateCode(ToModelDate(day, 5)), 250);
    }
  }
}

TEST(DateCodeTest, OrdersArbitraryPairsAsTheCalendarDoes) {
  const sys_days dates[] = {sys_days{2021y / March / 7},     sys_days{2021y / February / 28},
                            sys_days{2020y / February / 29}, sys_days{2020y / December / 31},
                            sys_days{2021y / January / 1},   sys_days{1987y / July / 14},
                            sys_days{2021y / March / 31}};
  for (const auto a : dates)
    for (const auto b : dates)
      for (const long ha : {0L, 8L, 23L})
        for (const long hb : {0L, 9L, 23L}) {
          const auto ta = a + hours{ha};
          const auto tb = b + hours{hb};
          const long ca = DateCode(ToModelDate(a, ha));
          const long cb = DateCode(ToModelDate(b, hb));
          EXPECT_EQ(ta < tb, ca < cb);
          EXPECT_EQ(ta == tb, ca == cb);
        }
}

TEST(DateCodeTest, TakesTheDateInEitherOrder) {
  const ModelDate date{8, 7, 3, 2021}; // hour, day, month, year
  EXPECT_EQ(DateCode(date), DateCode(2021, 3, 7, 8));
  EXPECT_EQ(DateCode(2021, 3, 7, 8), 2021L * 93000 + 3 * 7750 + 7 * 250 + 8);
}

TEST(DateCodeTest, PartsThatFitCombineWithoutOverflow) {
  constexpr long max = std::numeric_limits<long>::max();
  const long years = MaxDateCodeTerm / YearFactor;
  EXPECT_GT(years, 20'000'000'000'000L); // every year a station file may sensibly hold
  EXPECT_TRUE(DateCodeFits(2021, 3, 7, 8));
  EXPECT_TRUE(DateCodeFits(-9999, -9999, -9999, -9999));
  // The extremes that fit give codes within the range of long.
  EXPECT_TRUE(DateCodeFits(years, MaxDateCodeTerm / MonthFactor, MaxDateCodeTerm / DayFactor,
                           MaxDateCodeTerm));
  EXPECT_GT(
      DateCode(years, MaxDateCodeTerm / MonthFactor, MaxDateCodeTerm / DayFactor, MaxDateCodeTerm),
      0);
  EXPECT_LT(DateCode(-years, -(MaxDateCodeTerm / MonthFactor), -(MaxDateCodeTerm / DayFactor),
                     -MaxDateCodeTerm),
            0);
  const struct {
    long year, month, day, hour;
  } refused[] = {{max, 1, 1, 0},    {years + 1, 1, 1, 0}, {-years - 1, 1, 1, 0}, {2021, max, 1, 0},
                 {2021, 1, max, 0}, {2021, 1, 1, max},    {2021, 1, 1, -max - 1}};
  for (const auto &d : refused)
    EXPECT_FALSE(DateCodeFits(d.year, d.month, d.day, d.hour))
        << d.year << " " << d.month << " " << d.day << " " << d.hour;
}

} // namespace
} // namespace tavro
