// Clear-sky geometry, sunshine and radiation of a cell, and the sunshine memory.
#include "landsurface/radiation/radiation_balance.h"

#include "landsurface/radiation/exposure_geometry.h"

#include <algorithm>
#include <cmath>

namespace tavro::radiation {
namespace {

constexpr double kStandardPressure = 1013.0; // hPa
constexpr double kTwoPi = 2.0 * 3.14159265359;
// Largest global radiation per daylight hour, Wh/m2.
constexpr double kLargestRadiation = 1260.0;
constexpr double kNightCloudiness = 0.5;

bool InUnitRange(double x) { return x >= 0.0 && x <= 1.0; }

// The larger root in [0, 1], else the smaller one there.
std::optional<double> RootInUnitRange(const QuadraticRoots &roots) {
  if (roots.count == 2) {
    if (InUnitRange(roots.x2))
      return roots.x2;
    if (InUnitRange(roots.x1))
      return roots.x1;
  } else if (roots.count == 1 && InUnitRange(roots.x1)) {
    return roots.x1;
  }
  return std::nullopt;
}

} // namespace

QuadraticRoots SolveQuadratic(double p, double q) {
  const double d = p * p / 4.0 - q;
  if (d > 0.0) {
    const double w = std::sqrt(d);
    return {2, -p / 2.0 - w, -p / 2.0 + w};
  }
  if (d == 0.0)
    return {1, -p / 2.0, -p / 2.0};
  return {0, 0.0, 0.0};
}

double EvaluateCubic(const Cubic &c, double x) { return c[0] + x * (c[1] + x * (c[2] + x * c[3])); }

SunshineThreshold FindSunshineThreshold(const Cubic &cs) {
  std::optional<double> x0;
  if (cs[3] != 0.0) {
    // The extremum of the cubic: 3 CS[3] x^2 + 2 CS[2] x + CS[1] = 0.
    x0 = RootInUnitRange(SolveQuadratic(2.0 * cs[2] / (3.0 * cs[3]), cs[1] / (3.0 * cs[3])));
  } else if (cs[2] != 0.0) {
    x0 = RootInUnitRange(SolveQuadratic(cs[1] / cs[2], cs[0] / cs[2]));
  } else if (cs[1] != 0.0) {
    const double root = -cs[0] / cs[1];
    if (InUnitRange(root))
      x0 = root;
  } else {
    return {ThresholdCheck::NoLinearRelation, 0.0};
  }
  if (!x0)
    return {ThresholdCheck::NoRootInRange, 0.0};
  return {ThresholdCheck::Found, *x0};
}

void ClearSkyGeometry::Compute(const ClearSkyStep &step, const solar::Observer &observer) {
  // A step longer than a day has the daylight of one day, counted from the
  // start of its last day.
  const double stepHours = std::min(step.timeStep, 1440.0) / 60.0;
  daysOfStep_ = std::max(1.0, step.timeStep / 1440.0);
  const double daylight = stepHours * step.dayFraction;
  const int count = static_cast<int>(std::ceil(daylight - 0.001));
  cosZenith_.resize(static_cast<std::size_t>(std::max(0, count)));
  subInterval_ = count > 0 ? daylight / count : 0.0;
  firstCentre_ = step.hour + step.hoursToIntervalEnd - stepHours + step.nightBeforeSunrise +
                 0.5 * subInterval_;
  for (int i = 0; i < count; ++i) {
    const double hour = firstCentre_ + i * subInterval_;
    const solar::SunDirection sun =
        solar::SunAzimuth(step.day, step.month, observer.latitude, observer.longitude, hour,
                          observer.referenceMeridian);
    cosZenith_[static_cast<std::size_t>(i)] = std::cos(solar::Pi / 2.0 - sun.elevation);
  }
}

double ClearSkyGeometry::ClearSkyRadiation(double transmissivity, double pressure) const {
  const std::size_t count = cosZenith_.size();
  if (count == 0 || !(cosZenith_[count / 2] > kMinimumSunElevation))
    return 0.0;
  const double airMass = pressure / kStandardPressure;
  double sum = 0.0;
  for (const double cosZ : cosZenith_)
    if (cosZ > 0.0) // a sub-interval whose sun has set contributes nothing
      sum += kSolarConstant * subInterval_ * std::pow(transmissivity, airMass / cosZ) * cosZ;
  return sum * daysOfStep_;
}

double Transmissivity(double mean, double amplitude, long day, long month) {
  const double dayOfYear = 30.5 * static_cast<double>(month - 1) + 10.0 + static_cast<double>(day);
  return mean + amplitude * std::cos(kTwoPi * dayOfYear / 365.0);
}

double RadiationCap(double timeStepMinutes, double dayFraction) {
  return kLargestRadiation * timeStepMinutes / 60.0 * dayFraction;
}

double Cloudiness(double relativeRadiation) {
  const double r = relativeRadiation;
  if (r > 1.0)
    return 0.0;
  return std::min(1.0, 0.997 + 0.4473 * r - 1.4059 * r * r);
}

CellRadiation CellRadiationOfDay(const RadiationCoefficients &k, const CellRadiationInput &cell) {
  CellRadiation out;
  const double c0 = k.c[0];
  double global = 0.0;
  if (cell.sunshine) {
    out.sunshine = *cell.sunshine;
    out.relative = EvaluateCubic(k.c, out.sunshine);
  } else if (cell.clearSky > 0.0) {
    const double x = std::clamp(cell.radiation.value_or(0.0) / cell.clearSky, 0.0, 1.0);
    out.relative = x;
    out.sunshine = x > k.x0 ? std::clamp(EvaluateCubic(k.cs, x), 0.0, 1.0) : 0.0;
  }
  if (cell.radiation) {
    // The diffuse share c0 of a measured radiation is not changed by exposure.
    global = cell.correction
                 ? *cell.radiation * (1.0 + (1.0 - c0) * out.sunshine * (*cell.correction - 1.0))
                 : *cell.radiation;
    out.correctedInput = global;
  } else {
    global = cell.correction ? cell.clearSky * (c0 + *cell.correction * (out.relative - c0))
                             : cell.clearSky * out.relative;
  }
  out.global = std::min(global, cell.cap);
  out.netShortwave = (1.0 - cell.albedo) * out.global;
  out.cloudiness = Cloudiness(out.relative);
  return out;
}

CellRadiation CellRadiationOfNight(double rememberedSunshine) {
  CellRadiation out;
  out.sunshine = rememberedSunshine;
  out.cloudiness = kNightCloudiness;
  return out;
}

SunshineMemory::Action SunshineMemory::BeginStep(double dayFraction) {
  if (!summing_)
    return Action::Keep;
  if (dayFraction > 0.05) {
    if (!dayStarted_) {
      dayStarted_ = true;
      daytimeSteps_ = 1;
      return Action::Reset;
    }
    ++daytimeSteps_;
    return Action::Keep;
  }
  if (!dayStarted_)
    return Action::Keep;
  dayStarted_ = false;
  return Action::Average;
}

} // namespace tavro::radiation
