// Solar geometry shared by every sub-model: declination, equation of time,
// sun elevation and azimuth, incidence on a slope, sunrise and sunset, and the
// day and night fractions of a time step. Pure functions of plain values; the
// constants are the model's own (its value of Pi is deliberately not the
// library's), so results are defined to these digits.
#pragma once

#include <array>

namespace tavro::solar {

// Used for every conversion between degrees and radians here.
inline constexpr double Pi = 3.141592653;
inline constexpr double DegreesPerRadian = 57.29577952383886;

// Days of the months 1..12; February always has 28 days, so day-of-year values
// ignore leap days. Entries 0 and 13 are unused.
inline constexpr std::array<int, 14> DaysPerMonth{0,  31, 28, 31, 30, 31, 30,
                                                  31, 31, 30, 31, 30, 31, 0};

// Equation of time in minutes at the first day of month m (entry 13 is the
// first of January of the next year; entry 0 is not used by months 1..12).
inline constexpr std::array<double, 14> EquationOfTimeTable{
    11.3, -3.2, -13.6, -12.6, -4.2, 2.8, 2.5, -3.5, -6.3, -0.3, 10, 16.4, 11.3, -3.2};

// Months outside 1..12 are clamped into that range, so no table is read out
// of bounds; callers that take dates from input check them first.
int ClampMonth(long month);

// Day of the year with a 28-day February (1 January = 1, 31 December = 365).
int DayOfYear(long day, long month);

// Declination of the sun in degrees.
double SolarDeclination(long day, long month);

// Equation of time in hours, linear between the first days of two months.
double EquationOfTime(long day, long month);

// Position of the observer and the meridian of its time zone.
struct Observer {
  double latitude = 0.0;          // degrees
  double longitude = 0.0;         // degrees
  double referenceMeridian = 0.0; // meridian of the time zone, degrees
};

// Solar elevation in degrees at a clock hour; below the horizon the depth is
// returned as a positive angle (the model's convention).
double SunElevation(long day, long month, double latitude, double longitude, double hour,
                    double referenceMeridian);

struct SunDirection {
  double azimuth = 0.0;   // radians from north through east (pi/2), south (pi), west
  double elevation = 0.0; // radians, negative below the horizon
};

SunDirection SunAzimuth(long day, long month, double latitude, double longitude, double hour,
                        double referenceMeridian);

// Cosine of the angle between two directions given by azimuth and polar angle
// (radians), e.g. the sun (azimuth, zenith angle) and a slope (aspect, slope).
double CosIncidence(double azimuth1, double polar1, double azimuth2, double polar2);

enum class SunPath { Normal, PolarDay, PolarNight };

struct SunTimes {
  double sunrise = 0.0; // clock hours
  double sunset = 0.0;
  SunPath path = SunPath::Normal;
};

// Sunrise and sunset in clock hours. When the sun neither rises nor sets the
// conventional values sunrise 24 and sunset 0 are returned and path tells
// whether the sun stays up (polar day) or below the horizon (polar night).
SunTimes SunriseSunset(long day, long month, double latitude, double longitude,
                       double referenceMeridian);

// The step whose day and night shares are wanted.
struct DaylightStep {
  long day = 1;
  long month = 1;
  double hour = 0.0;               // hour stamp of the step
  double hoursToIntervalEnd = 0.0; // from the hour stamp to the step end
  double timeStep = 60.0;          // minutes
};

struct Daylight {
  double sunrise = 0.0; // wrapped into 0..24
  double sunset = 0.0;
  double nightBeforeSunrise = 0.0; // hours of night in the step before sunrise
  double nightAfterSunset = 0.0;   // hours of night in the step after sunset
  double nightFraction = 0.0;
  double dayFraction = 1.0;
  int isNight = 0;
};

// Day and night fractions of a step. A polar night is night for the whole
// step (night fraction 1); a polar day is day for the whole step.
Daylight DaylightFraction(const DaylightStep &step, const Observer &observer);

} // namespace tavro::solar
