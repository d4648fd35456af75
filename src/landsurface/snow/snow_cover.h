// The snow cover of a cell as the other modules see it: its albedo, which
// falls with the age of the snow (faster when it is warm), the age since the
// last fresh snowfall, and the days with a snow cover.
#pragma once

#include <cmath>

namespace tavro::snow {

// Water equivalents (mm) above which the snow albedo replaces the land-use
// albedo before and after the melt, and above which a cell counts as covered.
inline constexpr double kAlbedoDepthBeforeMelt = 2.5;
inline constexpr double kCoverDepth = 5.0;
// Water input (mm per step) that counts as a fresh snowfall.
inline constexpr double kFreshSnowInput = 1.0;

// ALBsnow_min + (ALBsnow_max - ALBsnow_min) exp(c age), with c = -0.05 at an
// air temperature above 0 °C and -0.12 otherwise.
inline double SnowAlbedo(double minimum, double maximum, double snowAge, double temperature) {
  const double rate = temperature > 0.0 ? -0.05 : -0.12;
  return minimum + (maximum - minimum) * std::exp(rate * snowAge);
}

// 1 / spd for a covered cell, else 0 (the step's share of a snow day).
inline double SnowDayShare(double water, double stepsPerDay) {
  return water > kCoverDepth ? 1.0 / stepsPerDay : 0.0;
}

// The snow age after the step: 0 after fresh snow (air temperature at most
// freshSnowTemperature, input above 1 mm, a covered cell), else one step older.
inline double NextSnowAge(double age, double temperature, double input, double water,
                          double freshSnowTemperature, double stepsPerDay) {
  if (temperature <= freshSnowTemperature && input > kFreshSnowInput && water > kCoverDepth)
    return 0.0;
  return age + 1.0 / stepsPerDay;
}

} // namespace tavro::snow
