// What an aquifer cell exchanges in a sub-step.
#include "lateral/groundwater/flow_balance.h"

#include <algorithm>

namespace tavro::groundwater {

double StoredVolume(double hOld, double top, double b, double storage, double area) {
  const double s = hOld < top ? (hOld - top) + b : b;
  return storage * area * std::max(s, 0.0);
}

double BalanceResidual(double h, double hOld, double storage, const CellInflows &inflows,
                       double area) {
  double inflow = 0.0;
  for (const double q : inflows)
    inflow += q;
  return ((h - hOld) * storage - inflow / area) * 1000.0;
}

} // namespace tavro::groundwater
