// Solar geometry formulas with the model's constants and calendar.
#include "kernel/solar_geometry.h"

#include <algorithm>
#include <cmath>

namespace tavro::solar {
namespace {

constexpr double kDegreesToRadians = Pi / 180.0;
// 365 / (2 pi): the declination's year as an angle.
constexpr double kDaysPerRadian = 58.09155423;
constexpr double kAzimuthSouth = 3.14159265359;
constexpr double kFullCircle = 6.28318530718;

// Rounding may push a cosine just outside [-1, 1]; acos would give NaN there.
double ClampUnit(double x) { return std::clamp(x, -1.0, 1.0); }

// Solar time of a clock hour at a longitude.
double SolarHour(long day, long month, double longitude, double hour, double referenceMeridian) {
  return hour - (referenceMeridian - longitude) / 15.0 + EquationOfTime(day, month);
}

} // namespace

int ClampMonth(long month) { return static_cast<int>(std::clamp(month, 1L, 12L)); }

int DayOfYear(long day, long month) {
  int days = static_cast<int>(day);
  for (int m = 1; m < ClampMonth(month); ++m)
    days += DaysPerMonth[static_cast<std::size_t>(m)];
  return days;
}

double SolarDeclination(long day, long month) {
  const double dayOfYear = DayOfYear(day, month);
  return -23.4 * std::cos((dayOfYear + 10.0) / kDaysPerRadian);
}

double EquationOfTime(long day, long month) {
  const auto m = static_cast<std::size_t>(ClampMonth(month));
  const double n = DaysPerMonth[m];
  const double d = static_cast<double>(day);
  return ((n - d + 1.0) / n * EquationOfTimeTable[m] + (d - 1.0) / n * EquationOfTimeTable[m + 1]) /
         60.0;
}

double SunElevation(long day, long month, double latitude, double longitude, double hour,
                    double referenceMeridian) {
  const double h = SolarHour(day, month, longitude, hour, referenceMeridian);
  const double phi = latitude * kDegreesToRadians;
  const double delta = SolarDeclination(day, month) * kDegreesToRadians;
  const double x =
      ClampUnit(std::sin(phi) * std::sin(delta) +
                std::cos(phi) * std::cos(delta) * std::cos((12.0 - h) * 15.0 * kDegreesToRadians));
  const double zenith = std::acos(x) * 180.0 / Pi;
  return x >= 0.0 ? 90.0 - zenith : zenith - 90.0;
}

SunDirection SunAzimuth(long day, long month, double latitude, double longitude, double hour,
                        double referenceMeridian) {
  const double phi = std::fmod(latitude, 360.0) * kDegreesToRadians;
  const double lambda = std::fmod(longitude, 360.0);
  const double delta = SolarDeclination(day, month) * kDegreesToRadians;
  const double t = std::fmod(
      hour - (referenceMeridian - lambda) / 15.0 + EquationOfTime(day, month) + 24.0, 24.0);
  const double w = (12.0 - t) / 12.0 * Pi;

  const double s =
      ClampUnit(std::sin(phi) * std::sin(delta) + std::cos(phi) * std::cos(delta) * std::cos(w));
  const double c = std::sqrt(1.0 - s * s);

  SunDirection result;
  result.elevation = Pi / 2.0 - std::acos(s);
  // With the sun in the zenith (c = 0) the azimuth is undefined: take south.
  result.azimuth = kAzimuthSouth;
  if (c > 0.0) {
    const double a =
        (std::cos(phi) * std::sin(delta) - std::sin(phi) * std::cos(delta) * std::cos(w)) / c;
    if (a > -1.0 && a < 1.0)
      result.azimuth = std::acos(a);
  }
  if (t > 12.0)
    result.azimuth = kFullCircle - result.azimuth;
  return result;
}

double CosIncidence(double azimuth1, double polar1, double azimuth2, double polar2) {
  return std::cos(polar1) * std::cos(polar2) +
         std::sin(polar1) * std::sin(polar2) * std::cos(azimuth2 - azimuth1);
}

SunTimes SunriseSunset(long day, long month, double latitude, double longitude,
                       double referenceMeridian) {
  const double phi = std::fmod(latitude, 360.0) * kDegreesToRadians;
  const double lambda = std::fmod(longitude, 360.0);
  const double delta = SolarDeclination(day, month) * kDegreesToRadians;
  const double e = EquationOfTime(day, month);
  const double x = (std::sin(phi) / std::cos(phi)) * (std::sin(delta) / std::cos(delta));

  SunTimes times;
  if (std::fabs(x) > 1.0) {
    times.sunrise = 24.0;
    times.sunset = 0.0;
    // x = tan(phi) tan(delta) > 1: latitude and declination on the same side,
    // the sun never sets; < -1: it never rises.
    times.path = x > 0.0 ? SunPath::PolarDay : SunPath::PolarNight;
    return times;
  }
  if (x == 0.0) {
    times.sunrise = 6.0;
    times.sunset = 18.0;
  } else {
    const double h = std::acos(x) * 12.0 / Pi;
    times.sunrise = h;
    times.sunset = 24.0 - h;
  }
  const double shift = (referenceMeridian - lambda) / 15.0 - e;
  times.sunrise += shift;
  times.sunset += shift;
  return times;
}

namespace {

// Hours of night after sunset within the step [a, b] of length stepHours.
double NightAfterSunset(double a, double b, double r, double s, double stepHours) {
  if (s > r) {
    if (r < b && b < s)
      return 0.0;
    if (a < s && s < b)
      return b - s;
    return stepHours;
  }
  if (s > b)
    return 0.0;
  if (s > a)
    return b - s;
  if (r > b)
    return stepHours;
  return 0.0;
}

} // namespace

Daylight DaylightFraction(const DaylightStep &step, const Observer &observer) {
  const SunTimes times = SunriseSunset(step.day, step.month, observer.latitude, observer.longitude,
                                       observer.referenceMeridian);
  const double b = step.hour + step.hoursToIntervalEnd;
  const bool daily = step.timeStep <= 1440.0;
  const double a = daily ? b - step.timeStep / 60.0 : b - 24.0;
  const double length = daily ? step.timeStep / 60.0 : 24.0;

  Daylight result;
  const double r = std::fmod(times.sunrise + 24.0, 24.0);
  const double s = std::fmod(times.sunset + 24.0, 24.0);
  result.sunrise = r;
  result.sunset = s;

  // Without sunrise or sunset the step is wholly day or wholly night; the
  // interval rules below would read the wrapped hours 0 and 0 as a full day.
  if (times.path == SunPath::PolarDay) {
    result.nightFraction = 0.0;
    result.dayFraction = 1.0;
    result.isNight = 0;
    return result;
  }
  if (times.path == SunPath::PolarNight) {
    result.nightAfterSunset = length;
    result.nightFraction = 1.0;
    result.dayFraction = 0.0;
    result.isNight = 1;
    return result;
  }

  result.nightBeforeSunrise = (a <= r && r < b) ? r - a : 0.0;
  result.nightAfterSunset = NightAfterSunset(a, b, r, s, step.timeStep / 60.0);

  double night = (result.nightBeforeSunrise + result.nightAfterSunset) / length;
  if (night > 1.0)
    night -= 1.0;
  if (night > 0.95) {
    result.nightFraction = 1.0;
    result.dayFraction = 0.0;
    result.isNight = 1;
  } else {
    result.nightFraction = night;
    result.dayFraction = 1.0 - night;
    result.isNight = result.dayFraction < 0.05 ? 1 : 0;
  }
  return result;
}

} // namespace tavro::solar
