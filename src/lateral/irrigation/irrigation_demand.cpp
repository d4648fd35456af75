// Irrigation demand of a cell by its method, its origin's limit and the
// concentration of the water.
#include "lateral/irrigation/irrigation_demand.h"

#include "tables/irrigation_table.h"

#include <algorithm>

namespace tavro {
namespace {

// The deficit to the wet threshold, once the trigger holds; a started
// irrigation of a sub-daily step goes on until the wet threshold is reached.
double OnDemand(bool triggered, const IrrigationCellState &cell, double dtMinutes) {
  if (triggered)
    return cell.previous == 0.0
               ? (cell.sbHigh - cell.sb1) * cell.rootDepth * 1000.0 * dtMinutes / 1440.0
               : cell.previous;
  if (dtMinutes >= 1440.0 || cell.sb1 >= cell.sbHigh)
    return 0.0;
  return cell.previous;
}

} // namespace

double IrrigationDemand(const IrrigationTableEntry &entry, const IrrigationCellState &cell,
                        double dtMinutes, int month, int day) {
  switch (entry.Method) {
  case irrigation::FixedDates:
  case irrigation::ScheduleRules:
    for (int i = 1; i <= entry.tabcnt; ++i) {
      const auto k = static_cast<std::size_t>(i);
      if (entry.months[k] == month && entry.days[k] == day)
        return entry.amounts[k] * dtMinutes / 1440.0;
    }
    return 0.0;
  case irrigation::SuctionDemand:
    return OnDemand(cell.sb1 < cell.sbLow, cell, dtMinutes);
  case irrigation::EvapotranspirationDemand:
    return OnDemand(cell.etr2etp < entry.min_ETR_ETP, cell, dtMinutes);
  default:
    return cell.external;
  }
}

double LimitByOrigin(int origin, double amount, double maxPumping) {
  if (origin == irrigation::Groundwater)
    return std::min(amount, maxPumping);
  return amount;
}

double IrrigatedConcentration(double precipitation, double cIn, double irrigation, double cSource) {
  if (irrigation <= 0.0)
    return precipitation > 0.0 ? cIn : 0.0;
  const double total = precipitation + irrigation;
  return total != 0.0 ? (cIn * precipitation + cSource * irrigation) / total : 0.0;
}

} // namespace tavro
