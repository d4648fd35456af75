// Solar geometry against independent references: the calendar of the standard
// library, textbook formulas written here with the library's pi, and the
// hand-worked values.
#include "kernel/solar_geometry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <numbers>

namespace tavro::solar {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kRad = kPi / 180.0;

// Day of the year in 2021 (no leap day) from the standard calendar.
int CalendarDayOfYear(int day, int month) {
  using namespace std::chrono;
  const sys_days date = year{2021} / month / day;
  const sys_days newYear = year{2021} / January / 1;
  return static_cast<int>((date - newYear).count()) + 1;
}

double TextbookDeclination(int day, int month) {
  return -23.4 * std::cos(2.0 * kPi * (CalendarDayOfYear(day, month) + 10) / 365.0);
}

// Sunrise and sunset from the hour angle of the horizon, cos w0 = -tan(phi)
// tan(delta), in clock time of the time zone.
struct TextbookTimes {
  double sunrise;
  double sunset;
};
TextbookTimes TextbookSunriseSunset(int day, int month, double latitude, double longitude,
                                    double referenceMeridian) {
  const double delta = TextbookDeclination(day, month) * kRad;
  const double w0 = std::acos(-std::tan(latitude * kRad) * std::tan(delta)) / kRad; // degrees
  const double clockShift = (referenceMeridian - longitude) / 15.0 - EquationOfTime(day, month);
  return {12.0 - w0 / 15.0 + clockShift, 12.0 + w0 / 15.0 + clockShift};
}

TEST(SolarCalendar, DayOfYearIgnoresLeapDays) {
  struct Case {
    int day, month;
  };
  for (const Case c : {Case{1, 1}, Case{31, 1}, Case{28, 2}, Case{1, 3}, Case{21, 6}, Case{31, 12}})
    EXPECT_EQ(DayOfYear(c.day, c.month), CalendarDayOfYear(c.day, c.month))
        << c.day << "." << c.month;
  EXPECT_EQ(DayOfYear(1, 3), 60); // also in a leap year
}

TEST(SolarCalendar, MonthsOutsideTheYearAreClamped) {
  EXPECT_EQ(DayOfYear(5, -9999), DayOfYear(5, 1));
  EXPECT_EQ(DayOfYear(5, 13), DayOfYear(5, 12));
  EXPECT_TRUE(std::isfinite(EquationOfTime(1, -9999)));
  EXPECT_TRUE(std::isfinite(SolarDeclination(1, 99)));
}

TEST(SolarDeclinationTest, WorkedValuesAndTextbookFormula) {
  EXPECT_NEAR(SolarDeclination(1, 1), -23.0, 0.05);
  EXPECT_NEAR(SolarDeclination(22, 6), 23.4, 0.01);
  // Equinoxes are near zero, solstices near the extremes.
  EXPECT_LT(std::fabs(SolarDeclination(21, 3)), 1.0);
  EXPECT_LT(std::fabs(SolarDeclination(23, 9)), 1.0);
  EXPECT_NEAR(SolarDeclination(21, 12), -23.4, 0.01);
  for (int month = 1; month <= 12; ++month)
    for (int day : {1, 10, 20, 28})
      EXPECT_NEAR(SolarDeclination(day, month), TextbookDeclination(day, month), 1e-6)
          << day << "." << month;
}

TEST(EquationOfTimeTest, TableValuesAndLinearCourse) {
  const double table[13] = {0,    -3.2, -13.6, -12.6, -4.2, 2.8, 2.5,
                            -3.5, -6.3, -0.3,  10,    16.4, 11.3};
  for (int month = 1; month <= 12; ++month)
    EXPECT_DOUBLE_EQ(EquationOfTime(1, month), table[month] / 60.0) << month;
  EXPECT_DOUBLE_EQ(EquationOfTime(1, 2), -13.6 / 60.0);
  EXPECT_NEAR(EquationOfTime(16, 2), (13.0 / 28.0 * -13.6 + 15.0 / 28.0 * -12.6) / 60.0, 1e-12);
  // December runs towards the January value of the next year.
  EXPECT_NEAR(EquationOfTime(31, 12), (1.0 / 31.0 * 11.3 + 30.0 / 31.0 * -3.2) / 60.0, 1e-12);
}

TEST(SunriseSunsetTest, MatchesTheHourAngleFormula) {
  struct Case {
    int day, month;
    double latitude, longitude, meridian;
  };
  const Case cases[] = {
      {21, 3, 47.0, 8.5, 15.0},   {21, 6, 47.0, 8.5, 15.0},   {21, 12, 47.0, 8.5, 15.0},
      {21, 12, 60.0, 10.0, 15.0}, {15, 8, -33.9, 18.4, 30.0}, {1, 1, 0.0, -70.0, -75.0},
      {10, 11, 65.0, 25.0, 30.0},
  };
  for (const Case &c : cases) {
    const SunTimes times = SunriseSunset(c.day, c.month, c.latitude, c.longitude, c.meridian);
    const TextbookTimes expected =
        TextbookSunriseSunset(c.day, c.month, c.latitude, c.longitude, c.meridian);
    EXPECT_EQ(times.path, SunPath::Normal);
    EXPECT_NEAR(times.sunrise, expected.sunrise, 1e-6)
        << c.day << "." << c.month << " " << c.latitude;
    EXPECT_NEAR(times.sunset, expected.sunset, 1e-6)
        << c.day << "." << c.month << " " << c.latitude;
    // Symmetric around solar noon.
    const double solarNoon =
        12.0 + (c.meridian - c.longitude) / 15.0 - EquationOfTime(c.day, c.month);
    EXPECT_NEAR((times.sunrise + times.sunset) / 2.0, solarNoon, 1e-9);
  }
}

TEST(SunriseSunsetTest, HighLatitudeWinterDayIsShort) {
  // 60 N at the winter solstice: about five and a half hours of daylight.
  const SunTimes times = SunriseSunset(21, 12, 60.0, 15.0, 15.0);
  EXPECT_EQ(times.path, SunPath::Normal);
  EXPECT_NEAR(times.sunset - times.sunrise, 5.5, 0.2);
}

TEST(SunriseSunsetTest, PolarDayAndPolarNightAreTold) {
  struct Case {
    int day, month;
    double latitude;
    SunPath path;
  };
  const Case cases[] = {{21, 6, 80.0, SunPath::PolarDay},
                        {21, 12, 70.0, SunPath::PolarNight},
                        {21, 6, -80.0, SunPath::PolarNight},
                        {21, 12, -75.0, SunPath::PolarDay}};
  for (const Case &c : cases) {
    const SunTimes times = SunriseSunset(c.day, c.month, c.latitude, 15.0, 15.0);
    EXPECT_EQ(times.path, c.path) << c.latitude << " " << c.month;
    EXPECT_EQ(times.sunrise, 24.0);
    EXPECT_EQ(times.sunset, 0.0);
  }
}

TEST(SunElevationTest, NoonAndMidnightAgainstTextbook) {
  struct Case {
    int day, month;
    double latitude;
  };
  for (const Case c :
       {Case{21, 6, 47.0}, Case{21, 12, 47.0}, Case{21, 3, 10.0}, Case{1, 8, -30.0}}) {
    const double longitude = 8.0;
    const double meridian = 15.0;
    const double delta = TextbookDeclination(c.day, c.month);
    const double noon = 12.0 + (meridian - longitude) / 15.0 - EquationOfTime(c.day, c.month);
    EXPECT_NEAR(SunElevation(c.day, c.month, c.latitude, longitude, noon, meridian),
                90.0 - std::fabs(c.latitude - delta), 1e-5);
    // At solar midnight the sun is below the horizon by 90 - |phi + delta|;
    // the depth comes back as a positive angle.
    const double depth = 90.0 - std::fabs(c.latitude + delta);
    EXPECT_NEAR(SunElevation(c.day, c.month, c.latitude, longitude, noon + 12.0, meridian), depth,
                1e-5);
  }
}

TEST(SunAzimuthTest, AgainstAtan2FormulaAndElevation) {
  const double latitude = 47.0;
  const double longitude = 8.5;
  const double meridian = 15.0;
  for (int month : {3, 6, 12}) {
    const double delta = TextbookDeclination(21, month) * kRad;
    const double phi = latitude * kRad;
    for (double hour : {7.0, 9.5, 11.0, 14.0, 16.5}) {
      const SunDirection sun = SunAzimuth(21, month, latitude, longitude, hour, meridian);
      const double solar = hour - (meridian - longitude) / 15.0 + EquationOfTime(21, month);
      const double hourAngle = (solar - 12.0) * 15.0 * kRad; // positive in the afternoon
      double expected = std::atan2(-std::sin(hourAngle), std::tan(delta) * std::cos(phi) -
                                                             std::sin(phi) * std::cos(hourAngle));
      if (expected < 0.0)
        expected += 2.0 * kPi;
      EXPECT_NEAR(sun.azimuth, expected, 1e-6) << month << " " << hour;
      EXPECT_EQ(sun.azimuth < kPi, solar < 12.0) << month << " " << hour;
      const double elevation = SunElevation(21, month, latitude, longitude, hour, meridian);
      if (elevation > 0.0 && sun.elevation > 0.0) {
        EXPECT_NEAR(sun.elevation / kRad, elevation, 1e-5) << month << " " << hour;
      }
    }
  }
}

TEST(SunAzimuthTest, SunInTheZenithGivesSouthNotNaN) {
  // Declination on 21 June is about 23.4 degrees; stand there at solar noon.
  const double latitude = SolarDeclination(21, 6);
  const double noon = 12.0 - EquationOfTime(21, 6);
  const SunDirection sun = SunAzimuth(21, 6, latitude, 15.0, noon, 15.0);
  EXPECT_TRUE(std::isfinite(sun.azimuth));
  EXPECT_TRUE(std::isfinite(sun.elevation));
  EXPECT_NEAR(sun.elevation, Pi / 2.0, 1e-3);
}

TEST(CosIncidenceTest, KnownAngles) {
  EXPECT_NEAR(CosIncidence(1.2, 0.7, 1.2, 0.7), 1.0, 1e-12);
  EXPECT_NEAR(CosIncidence(2.0, 0.4, 0.3, 0.0), std::cos(0.4), 1e-12);
  EXPECT_NEAR(CosIncidence(0.0, 0.0, 1.0, 30.0 * kRad), std::cos(30.0 * kRad), 1e-12);
  // Sun low in the east on a steep west-facing slope: faces away.
  EXPECT_LT(CosIncidence(kPi / 2.0, 80.0 * kRad, 3.0 * kPi / 2.0, 60.0 * kRad), 0.0);
}

TEST(DaylightFractionTest, DailyStepIsShareOfDayOutsideSunriseToSunset) {
  const Observer observer{60.0, 10.0, 15.0};
  for (int month : {3, 6, 9, 12}) {
    const DaylightStep step{21, month, 24.0, 0.0, 1440.0};
    const Daylight light = DaylightFraction(step, observer);
    const TextbookTimes expected = TextbookSunriseSunset(21, month, 60.0, 10.0, 15.0);
    const double night = 1.0 - (expected.sunset - expected.sunrise) / 24.0;
    EXPECT_NEAR(light.nightFraction, night, 1e-6) << month;
    EXPECT_NEAR(light.dayFraction, 1.0 - night, 1e-6) << month;
    EXPECT_NEAR(light.sunrise, expected.sunrise, 1e-6);
    EXPECT_NEAR(light.sunset, expected.sunset, 1e-6);
    EXPECT_EQ(light.isNight, 0);
  }
}

TEST(DaylightFractionTest, HourlyStepsAroundSunriseAndSunset) {
  const Observer observer{47.0, 8.5, 15.0};
  const TextbookTimes sun = TextbookSunriseSunset(21, 3, 47.0, 8.5, 15.0);
  const double sunriseHour = std::ceil(sun.sunrise); // step (h-1, h] holds the sunrise
  const double sunsetHour = std::ceil(sun.sunset);
  struct Case {
    double hour;
    double day;
    int isNight;
  };
  const double sunriseShare = sunriseHour - sun.sunrise;
  const double sunsetShare = 1.0 - (sunsetHour - sun.sunset);
  const Case cases[] = {
      {3.0, 0.0, 1},
      {12.0, 1.0, 0},
      {sunriseHour, sunriseShare, sunriseShare < 0.05 ? 1 : 0},
      {sunsetHour, sunsetShare, sunsetShare < 0.05 ? 1 : 0},
      {23.0, 0.0, 1},
  };
  for (const Case &c : cases) {
    const Daylight light = DaylightFraction({21, 3, c.hour, 0.0, 60.0}, observer);
    const double expected = (1.0 - c.day > 0.95) ? 0.0 : c.day;
    EXPECT_NEAR(light.dayFraction, expected, 1e-6) << c.hour;
    EXPECT_EQ(light.isNight, c.isNight) << c.hour;
  }
}

TEST(DaylightFractionTest, PolarNightIsNightAndPolarDayIsDay) {
  // 70 N in December: the sun does not rise, every step is night.
  for (double hour : {1.0, 6.0, 12.0, 18.0, 24.0}) {
    const Daylight night = DaylightFraction({21, 12, hour, 0.0, 60.0}, Observer{70.0, 15.0, 15.0});
    EXPECT_EQ(night.nightFraction, 1.0) << hour;
    EXPECT_EQ(night.dayFraction, 0.0) << hour;
    EXPECT_EQ(night.isNight, 1) << hour;
  }
  const Daylight dailyNight =
      DaylightFraction({21, 12, 24.0, 0.0, 1440.0}, Observer{70.0, 15.0, 15.0});
  EXPECT_EQ(dailyNight.dayFraction, 0.0);
  EXPECT_EQ(dailyNight.isNight, 1);

  // 80 N in June: the sun does not set; sunrise 24 and sunset 0 wrap to 0.
  for (double hour : {0.0, 1.0, 12.0, 24.0}) {
    const Daylight day = DaylightFraction({21, 6, hour, 0.0, 60.0}, Observer{80.0, 15.0, 15.0});
    EXPECT_EQ(day.dayFraction, 1.0) << hour;
    EXPECT_EQ(day.nightFraction, 0.0) << hour;
    EXPECT_EQ(day.isNight, 0) << hour;
    EXPECT_EQ(day.sunrise, 0.0);
    EXPECT_EQ(day.sunset, 0.0);
  }
}

} // namespace
} // namespace tavro::solar
