// The snow module's small formulas.
#include "landsurface/snow/snow_formulas.h"

#include <algorithm>
#include <cmath>

namespace tavro::snow {
namespace {

// 2 pi / 365 to the digits the seasonal factors are defined with.
constexpr double kSeasonalFrequency = 0.017214206;
constexpr int kSeasonalPhase = 80;
// Width to which the wet-bulb bracket is narrowed (so the middle is within 0.025 K).
constexpr double kWetBulbWidth = 0.05;
constexpr int kWetBulbMaxRounds = 60;

// The psychrometric equation's left side at wet-bulb temperature tw; it grows with tw.
double Psychrometric(double tw, double temperature, double airPressure) {
  return 6.1115 * std::exp(22.46 * tw / (272.62 + tw)) -
         0.00066 * airPressure * (temperature - tw) * (1.0 + 0.00115 * tw);
}

} // namespace

double SaturationVapourPressureIce(double temperature) {
  return 6.1078 * std::exp(21.874 * temperature / (temperature + 265.5));
}

double EnergyBalanceVapourPressure(double temperature) {
  if (temperature > 0.0)
    return 6.1078 * std::exp(17.08085 * temperature / (temperature + 234.175));
  return kIceVapourPressureAtZero * std::exp(22.4429 * temperature / (temperature + 272.44));
}

double IceVapourPressureAtSurface(double surfaceKelvin) {
  const double t = surfaceKelvin - kZeroCelsius;
  return kIceVapourPressureAtZero * std::exp(22.4429 * t / (t + 272.44));
}

double SeasonalFactor(double minimum, double maximum, int dayOfYear) {
  const double mean = (minimum + maximum) / 2.0;
  const double amplitude = (maximum - minimum) / 2.0;
  return mean + amplitude * std::sin((dayOfYear - kSeasonalPhase) * kSeasonalFrequency);
}

double AirPressure(double elevation) {
  return 1013.25 * std::pow(1.0 - 0.0065 * elevation / 288.15, 5.255);
}

double WetBulbTemperature(double temperature, double vapourPressure, double airPressure) {
  // The dew point starts the bracket: the wet bulb lies between it and the
  // air temperature. (A search that only flips and halves its step can cycle
  // between two values a kelvin off the root in cold, dry air; halving a
  // bracket cannot.)
  const double w = 0.622 * vapourPressure / (airPressure - vapourPressure);
  const double l = std::log(airPressure * w / ((w + 0.622) * 6.112));
  const double dewPoint = 272.62 * l / (22.46 - l);
  double low = std::isfinite(dewPoint) ? std::min(dewPoint, temperature) : temperature - 50.0;
  double high = std::isfinite(dewPoint) ? std::max(dewPoint, temperature) : temperature;
  for (int widen = 0; widen < 20 && Psychrometric(low, temperature, airPressure) > vapourPressure;
       ++widen)
    low -= 10.0;
  for (int widen = 0; widen < 20 && Psychrometric(high, temperature, airPressure) < vapourPressure;
       ++widen)
    high += 10.0;
  for (int round = 0; round < kWetBulbMaxRounds && high - low > kWetBulbWidth; ++round) {
    const double middle = 0.5 * (low + high);
    if (Psychrometric(middle, temperature, airPressure) > vapourPressure)
      high = middle;
    else
      low = middle;
  }
  return 0.5 * (low + high);
}

} // namespace tavro::snow
