// Potential evapotranspiration of one undivided vegetation layer by three
// empirical formulas for daily or longer steps: Hamon (temperature and day
// length), Wendling (global radiation) and Haude (saturation deficit at
// 14:00). Each formula gives an amount per day; a step longer than a day gets
// that amount times its length in days. Pure functions of plain values.
//
// Units: temperatures in °C, vapour pressures in hPa, radiation in Wh/m2,
// amounts in mm, the time step in minutes.
#pragma once

#include <array>

namespace tavro::evapotranspiration {

// Days in a step: 1 for a day or less, else the step's length in days.
double DaysOfStep(double timeStepMinutes);

// Hamon factor PEC of the date from the monthly factors (indexes as for
// MonthlyValueOfDate): linear between day -15 and 15, and between 16 and
// daysInMonth + 16.
double HamonFactorOfDate(const std::array<double, 14> &pec, long day, long month, int daysInMonth);

// Hamon, mm per day: 0.1651 PEC 2 dayFraction 216.7 Es(T) / (T + 273.3), at least 0.
double Hamon(double temperature, double factorOfDate, double dayFraction);

// Wendling, mm per day from the global radiation of a day (Wh/m2):
// (0.36 RG (1.1 - albedo) + 93 fk) (22 + T) / (150 (123 + T)), at least 0.
double Wendling(double dailyRadiation, double albedo, double coastFactor, double temperature);

// Saturation vapour pressure of Haude's formula, over water from 0 °C and
// over ice below, hPa.
double HaudeSaturationVapourPressure(double temperature);
// The deficit factor from the relative humidity at 14:00 (not limited) or
// from the vapour pressure at 14:00 (limited to 0..1).
double HaudeDeficitFromHumidity(double relativeHumidity);
double HaudeDeficitFromVapourPressure(double vapourPressure, double saturation);
// Haude, mm per day: Es(T14) fh deficit, limited to 0..7.
double Haude(double temperature14, double deficit, double monthlyFactor);

// The amounts of a whole step.
double HamonOfStep(double temperature, double factorOfDate, double dayFraction,
                   double timeStepMinutes);
// stepRadiation: the global radiation of the whole step.
double WendlingOfStep(double stepRadiation, double albedo, double coastFactor, double temperature,
                      double timeStepMinutes);
double HaudeOfStep(double temperature14, double deficit, double monthlyFactor,
                   double timeStepMinutes);

} // namespace tavro::evapotranspiration
