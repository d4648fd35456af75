// Climate-scenario values from a table of scenario stations: the value of a
// day weighted between two months, and the value of the station nearest to
// a point. Pure kernels over plain rows.
#pragma once

#include <array>
#include <span>

namespace tavro::interpolation {

// One scenario station: x, y and the values of January to December as read
// (columns 1 to 14 of its control-file row), and the value of the current day.
struct ScenarioRow {
  double X = 0.0;
  double Y = 0.0;
  std::array<double, 13> Monthly{}; // 1..12, element 0 unused
  double Current = 0.0;             // the day-weighted value of the current date
};

// The row's value on day d of month m (1..12): on days up to the 15th
// between the previous month and m, from the 16th on between m and the next
// month, each month's value counting fully in its middle. daysPerMonth holds
// the lengths of months 1..12 (element 0 unused).
double DayWeightedScenarioValue(const ScenarioRow &row, long day, long month,
                                const std::array<int, 14> &daysPerMonth);

// The current value of the row nearest to (x, y) (the last of equally near
// rows wins), or noRow when the table is empty or no row lies within the
// start distance (a squared distance of 1e15).
double NearestScenarioValue(std::span<const ScenarioRow> rows, double x, double y, double noRow);

} // namespace tavro::interpolation
