// Monthly tables interpolated to a day.
#include "landsurface/evapotranspiration/monthly_values.h"

#include "kernel/modelobject.h"

#include <algorithm>

namespace tavro::evapotranspiration {

double MonthlyValueOfDate(const std::array<double, 14> &values, long day, long month,
                          int daysInMonth, const MonthlyAnchors &anchors) {
  const auto m = static_cast<std::size_t>(std::clamp(month, 1L, 12L));
  const double d = static_cast<double>(day);
  if (day <= 15)
    return modelobject::LinearInterpolate(anchors.previousMiddle, values[m - 1], 15.0, values[m],
                                          d);
  return modelobject::LinearInterpolate(16.0, values[m], daysInMonth + anchors.nextMiddleOffset,
                                        values[m + 1], d);
}

} // namespace tavro::evapotranspiration
