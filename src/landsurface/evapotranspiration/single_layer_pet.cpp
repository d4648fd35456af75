// Hamon, Wendling and Haude.
#include "landsurface/evapotranspiration/single_layer_pet.h"

#include "landsurface/evapotranspiration/monthly_values.h"
#include "landsurface/evapotranspiration/penman_monteith.h"

#include <algorithm>
#include <cmath>

namespace tavro::evapotranspiration {
namespace {

constexpr double kHaudeLimit = 7.0; // mm per day

} // namespace

double DaysOfStep(double timeStepMinutes) { return std::max(1.0, timeStepMinutes / 1440.0); }

double HamonFactorOfDate(const std::array<double, 14> &pec, long day, long month, int daysInMonth) {
  return MonthlyValueOfDate(pec, day, month, daysInMonth, {-15.0, 16.0});
}

double Hamon(double temperature, double factorOfDate, double dayFraction) {
  const double p = 0.1651 * factorOfDate * 2.0 * dayFraction * 216.7 *
                   SaturationVapourPressure(temperature) / (temperature + 273.3);
  return std::max(0.0, p);
}

double Wendling(double dailyRadiation, double albedo, double coastFactor, double temperature) {
  const double p = (0.36 * dailyRadiation * (1.1 - albedo) + 93.0 * coastFactor) *
                   (22.0 + temperature) / (150.0 * (123.0 + temperature));
  return std::max(0.0, p);
}

double HaudeSaturationVapourPressure(double temperature) {
  if (temperature >= 0.0)
    return 6.11 * std::exp(17.62 * temperature / (243.12 + temperature));
  return 6.11 * std::exp(22.46 * temperature / (272.46 + temperature));
}

double HaudeDeficitFromHumidity(double relativeHumidity) { return 1.0 - relativeHumidity; }

double HaudeDeficitFromVapourPressure(double vapourPressure, double saturation) {
  const double q = vapourPressure / saturation;
  if (q < 0.0)
    return 1.0;
  if (q > 1.0)
    return 0.0;
  return 1.0 - q;
}

double Haude(double temperature14, double deficit, double monthlyFactor) {
  const double p = HaudeSaturationVapourPressure(temperature14) * monthlyFactor * deficit;
  return std::clamp(p, 0.0, kHaudeLimit);
}

double HamonOfStep(double temperature, double factorOfDate, double dayFraction,
                   double timeStepMinutes) {
  return Hamon(temperature, factorOfDate, dayFraction) * DaysOfStep(timeStepMinutes);
}

double WendlingOfStep(double stepRadiation, double albedo, double coastFactor, double temperature,
                      double timeStepMinutes) {
  const double days = DaysOfStep(timeStepMinutes);
  return Wendling(stepRadiation / days, albedo, coastFactor, temperature) * days;
}

double HaudeOfStep(double temperature14, double deficit, double monthlyFactor,
                   double timeStepMinutes) {
  return Haude(temperature14, deficit, monthlyFactor) * DaysOfStep(timeStepMinutes);
}

} // namespace tavro::evapotranspiration
