// Day-weighted scenario values and the nearest scenario station.
#include "meteo/interpolation/scenario.h"

namespace tavro::interpolation {

double DayWeightedScenarioValue(const ScenarioRow &row, long day, long month,
                                const std::array<int, 14> &daysPerMonth) {
  const auto value = [&](long m) { return row.Monthly[static_cast<std::size_t>(m)]; };
  const double d = static_cast<double>(day);
  if (day <= 15) {
    const long previous = month == 1 ? 12 : month - 1;
    const double length = daysPerMonth[static_cast<std::size_t>(previous)];
    return (d + length - 16.0) / length * value(month) + (16.0 - d) / length * value(previous);
  }
  const long next = month == 12 ? 1 : month + 1;
  const double length = daysPerMonth[static_cast<std::size_t>(month)];
  return (d - 15.0) / length * value(next) + (length - d + 15.0) / length * value(month);
}

double NearestScenarioValue(std::span<const ScenarioRow> rows, double x, double y, double noRow) {
  double nearest = 1e15;
  double result = noRow;
  for (const ScenarioRow &row : rows) {
    const double dx = row.X - x;
    const double dy = row.Y - y;
    const double d2 = dx * dx + dy * dy;
    if (d2 <= nearest) {
      nearest = d2;
      result = row.Current;
    }
  }
  return result;
}

} // namespace tavro::interpolation
