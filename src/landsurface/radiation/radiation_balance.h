// The shortwave radiation of a cell in a step of the potential
// evapotranspiration: the clear-sky geometry of the step's daylight, the
// clear-sky radiation R0 under the transmissivity of the date, global
// radiation from relative sunshine and relative sunshine from measured
// radiation (with the threshold below which the sky counts as overcast), the
// correction of either by the exposure factor of the cell, the cap, the net
// shortwave radiation and the cloudiness; and the memory of the day's
// sunshine that night steps read. Pure functions and small value types.
//
// Units: radiation in Wh/m2 per step, sunshine relative (0 to 1), pressure
// in hPa, times in hours unless named otherwise.
#pragma once

#include "kernel/solar_geometry.h"

#include <array>
#include <optional>
#include <span>
#include <vector>

namespace tavro::radiation {

// Real roots of x^2 + p x + q = 0: count 2 (x1 < x2), 1 (x1 = x2) or 0 (both 0).
struct QuadraticRoots {
  int count = 0;
  double x1 = 0.0;
  double x2 = 0.0;
};
QuadraticRoots SolveQuadratic(double p, double q);

// Coefficients of a cubic c[0] + c[1] x + c[2] x^2 + c[3] x^3.
using Cubic = std::array<double, 4>;
double EvaluateCubic(const Cubic &c, double x);

// The relative radiation x0 below which the sunshine-from-radiation cubic CS
// gives no sunshine: the extremum of the cubic in [0, 1], the root of a
// quadratic or of a line in [0, 1].
enum class ThresholdCheck {
  Found,
  NoLinearRelation, // CS[1] = CS[2] = CS[3] = 0
  NoRootInRange,    // no real root, or none in [0, 1]
};
struct SunshineThreshold {
  ThresholdCheck check = ThresholdCheck::Found;
  double x0 = 0.0;
};
SunshineThreshold FindSunshineThreshold(const Cubic &cs);

// The sub-intervals of the daylight of a step at which the sun's zenith
// cosine is taken for the clear-sky radiation. Steps longer than a day take
// the geometry of one day and scale its radiation by their length in days.
struct ClearSkyStep {
  long day = 1;
  long month = 1;
  double hour = 0.0;               // hour of the step (data hour plus time shift)
  double hoursToIntervalEnd = 0.0; // from that hour to the end of the step
  double timeStep = 1440.0;        // minutes
  double dayFraction = 1.0;        // of the step (of one day for longer steps)
  double nightBeforeSunrise = 0.0; // hours of the step before sunrise
};

class ClearSkyGeometry {
public:
  // Recomputes the sub-intervals; keeps the table's storage from step to step.
  void Compute(const ClearSkyStep &step, const solar::Observer &observer);

  int Count() const { return static_cast<int>(cosZenith_.size()); }
  double SubIntervalHours() const { return subInterval_; }
  double FirstCentreHour() const { return firstCentre_; }
  // Cosines of the sun's zenith angle at the centres of sub-intervals 1..N
  // (index 0 holds sub-interval 1).
  std::span<const double> CosZenith() const { return cosZenith_; }

  // R0 = sum of 1367 dh tau^(p / 1013 / cos z_i) cos z_i (times the days of a
  // longer step), p the air pressure of the cell (hPa; measured, or
  // evapotranspiration::BarometricPressure), 0 when the middle sub-interval's sun is not above
  // about one degree (cosine 0.017) or the step has no daylight.
  double ClearSkyRadiation(double transmissivity, double pressure) const;

private:
  std::vector<double> cosZenith_;
  double subInterval_ = 0.0;
  double firstCentre_ = 0.0;
  double daysOfStep_ = 1.0;
};

// Atmospheric transmissivity of the date: mean + amplitude cos(2 pi (30.5
// (month - 1) + 10 + day) / 365).
double Transmissivity(double mean, double amplitude, long day, long month);

// Coefficients of the radiation balance: c (relative radiation from relative
// sunshine, c[0] the share of diffuse radiation), CS (sunshine from relative
// radiation) and its threshold x0.
struct RadiationCoefficients {
  Cubic c{};
  Cubic cs{};
  double x0 = 0.0;
};

// What one cell brings into the balance of a day step. A cell with a sunshine
// input has its clear-sky radiation scaled by the relative radiation of its
// sunshine (unless a measured radiation is given as well); a cell with only a
// measured radiation derives its sunshine from the ratio to R0.
struct CellRadiationInput {
  std::optional<double> sunshine;   // relative sunshine duration, not clamped
  std::optional<double> radiation;  // measured global (or net) radiation
  std::optional<double> correction; // exposure correction factor of the cell
  double clearSky = 0.0;            // R0 of the cell
  double cap = 0.0;                 // largest RG of the step (RadiationCap)
  double albedo = 0.0;
};

struct CellRadiation {
  double global = 0.0;         // RG, corrected and capped
  double correctedInput = 0.0; // the measured radiation after correction, uncapped
  double netShortwave = 0.0;   // S = (1 - albedo) RG
  double sunshine = 0.0;       // s, handed to the method and into the sunshine memory
  double relative = 0.0;       // r, relative global radiation
  double cloudiness = 0.0;
};

// The balance of a cell in a step that is not flagged as night.
CellRadiation CellRadiationOfDay(const RadiationCoefficients &k, const CellRadiationInput &cell);

// A night step: no radiation, the sunshine of the memory, cloudiness 0.5.
CellRadiation CellRadiationOfNight(double rememberedSunshine);

// The largest global radiation of a step: 1260 W/m2 over its daylight hours.
double RadiationCap(double timeStepMinutes, double dayFraction);

// Cloudiness from the relative global radiation r: 0 above 1, else
// min(1, 0.997 + 0.4473 r - 1.4059 r^2).
double Cloudiness(double relativeRadiation);

// The memory of the relative sunshine of the last day ("SSDTemp"), which
// night steps read in place of a sunshine of their own. Steps shorter than
// 720 minutes sum the sunshine of the daytime steps and turn the sum into the
// day's mean at the first night step; longer steps keep the sunshine of their
// last daytime step. Every cell starts with Initial.
class SunshineMemory {
public:
  static constexpr double Initial = 0.5;

  explicit SunshineMemory(double timeStepMinutes) : summing_(timeStepMinutes < 720.0) {}

  enum class Action {
    Keep,    // leave every cell's value
    Reset,   // every cell of the process to 0 before the day's sunshine is added
    Average, // every cell of the process to Averaged(value)
  };
  // Once per step, before the cells, with the day fraction of the step.
  Action BeginStep(double dayFraction);
  double Averaged(double sum) const { return daytimeSteps_ > 0 ? sum / daytimeSteps_ : Initial; }
  // The value after a daytime cell with sunshine s.
  double Remember(double stored, double sunshine) const {
    return summing_ ? stored + sunshine : sunshine;
  }

  int DaytimeSteps() const { return daytimeSteps_; }
  bool DayStarted() const { return dayStarted_; }

private:
  bool summing_ = true;
  int daytimeSteps_ = 0;
  bool dayStarted_ = false;
};

} // namespace tavro::radiation
