// A value of the date from a table of twelve monthly values, each standing for
// the middle of its month: linear between the middle of the previous month
// and the middle of this one in the first half of a month, between this
// middle and the next in the second half.
#pragma once

#include <array>

namespace tavro::evapotranspiration {

// values[1..12] for January to December, values[0] = December and values[13]
// = January. The middle of a month is day 15 and day 16; the previous month's
// middle stands at day previousMiddle (before day 1), the next month's at day
// daysInMonth + nextMiddleOffset.
struct MonthlyAnchors {
  double previousMiddle = -15.0;
  double nextMiddleOffset = 16.0;
};

double MonthlyValueOfDate(const std::array<double, 14> &values, long day, long month,
                          int daysInMonth, const MonthlyAnchors &anchors);

} // namespace tavro::evapotranspiration
