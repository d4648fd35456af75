// The radiation balance of a cell: the clear-sky radiation against FAO-56
// (Allen et al. 1998, Crop evapotranspiration, Example 8), sunshine from
// radiation and radiation from sunshine with the example coefficients of the
// model, the exposure correction, the cap, the cloudiness and the memory of
// the day's sunshine.
#include "landsurface/radiation/radiation_balance.h"

#include "landsurface/evapotranspiration/penman_monteith.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tavro::radiation {
namespace {

const Cubic kExampleCS{0.072, -0.808, 1.749, -0.239};

TEST(RadiationBalance, SolveQuadratic) {
  struct Case {
    double p, q;
    int count;
    double x1, x2;
  };
  const Case cases[] = {{-3.0, 2.0, 2, 1.0, 2.0}, {2.0, 1.0, 1, -1.0, -1.0}, {0.0, 1.0, 0, 0, 0}};
  for (const Case &c : cases) {
    const QuadraticRoots roots = SolveQuadratic(c.p, c.q);
    EXPECT_EQ(roots.count, c.count);
    EXPECT_DOUBLE_EQ(roots.x1, c.x1);
    EXPECT_DOUBLE_EQ(roots.x2, c.x2);
  }
}

TEST(RadiationBalance, SunshineThresholdSaysWhichCheckFailed) {
  struct Case {
    Cubic cs;
    ThresholdCheck check;
    double x0;
  };
  const Case cases[] = {
      // The extremum of the example cubic: the smaller root 0.243103 of
      // -0.717 x^2 + 3.498 x - 0.808 (the larger, 4.64, lies outside [0, 1]).
      {kExampleCS, ThresholdCheck::Found, 0.243103},
      {{0.0, 1.0, 0.0, 0.0}, ThresholdCheck::Found, 0.0},
      {{-0.25, 0.0, 1.0, 0.0}, ThresholdCheck::Found, 0.5},       // x^2 - 0.25
      {{0.5, 1.0, 0.0, 0.0}, ThresholdCheck::NoRootInRange, 0.0}, // -0.5
      {{1.0, 0.0, 1.0, 0.0}, ThresholdCheck::NoRootInRange, 0.0}, // no real root
      {{0.3, 0.0, 0.0, 0.0}, ThresholdCheck::NoLinearRelation, 0.0},
  };
  for (const Case &c : cases) {
    const SunshineThreshold threshold = FindSunshineThreshold(c.cs);
    EXPECT_EQ(threshold.check, c.check) << c.cs[0] << " " << c.cs[1];
    EXPECT_NEAR(threshold.x0, c.x0, 5e-7);
  }
}

RadiationCoefficients ExampleCoefficients() {
  RadiationCoefficients k;
  k.c = {0.2, 0.5, 0.4, -0.1}; // sums to 1: at s = 1 the relative radiation is 1
  k.cs = kExampleCS;
  k.x0 = FindSunshineThreshold(kExampleCS).x0;
  return k;
}

TEST(RadiationBalance, SunshineAndCloudinessFromMeasuredRadiation) {
  // R0 = 800 Wh/m2 and measurements of 200, 400, 800 and 1000 Wh/m2.
  struct Case {
    double measured, sunshine, cloudiness;
  };
  const Case cases[] = {
      {200.0, 0.0, 1.0},           // x = 0.25 just above x0, where the cubic gives -0.0244
      {400.0, 0.075375, 0.869175}, // x = 0.5
      {800.0, 0.774, 0.0384},      // x = 1
      {1000.0, 0.774, 0.0384},     // above R0: x = 1
  };
  for (const Case &c : cases) {
    CellRadiationInput cell;
    cell.radiation = c.measured;
    cell.clearSky = 800.0;
    cell.cap = 1e9;
    const CellRadiation out = CellRadiationOfDay(ExampleCoefficients(), cell);
    EXPECT_NEAR(out.sunshine, c.sunshine, 1e-12) << c.measured;
    EXPECT_NEAR(out.cloudiness, c.cloudiness, 1e-12) << c.measured;
    EXPECT_EQ(out.global, c.measured); // no correction grid: the measurement itself
  }
  // Without a clear-sky radiation nothing can be said about the sunshine.
  CellRadiationInput dark;
  dark.radiation = 50.0;
  dark.cap = 1e9;
  const CellRadiation out = CellRadiationOfDay(ExampleCoefficients(), dark);
  EXPECT_EQ(out.sunshine, 0.0);
  EXPECT_EQ(out.relative, 0.0);
}

TEST(RadiationBalance, ExposureCorrectionOfMeasuredAndModelledRadiation) {
  const RadiationCoefficients k = ExampleCoefficients();
  // Measured radiation with measured sunshine 1: k = 2 and c0 = 0.2 give 1.8 G.
  CellRadiationInput measured;
  measured.radiation = 500.0;
  measured.sunshine = 1.0;
  measured.correction = 2.0;
  measured.cap = 1e9;
  EXPECT_DOUBLE_EQ(CellRadiationOfDay(k, measured).global, 900.0);
  EXPECT_DOUBLE_EQ(CellRadiationOfDay(k, measured).correctedInput, 900.0);
  measured.correction = 1.0;
  EXPECT_DOUBLE_EQ(CellRadiationOfDay(k, measured).global, 500.0);

  // Sunshine alone: r(1) = 1, so R0 itself without correction; the diffuse
  // share is not corrected.
  CellRadiationInput modelled;
  modelled.sunshine = 1.0;
  modelled.clearSky = 600.0;
  modelled.cap = 1e9;
  EXPECT_DOUBLE_EQ(CellRadiationOfDay(k, modelled).global, 600.0);
  modelled.sunshine = 0.5;
  const double r = 0.2 + 0.5 * 0.5 + 0.4 * 0.25 - 0.1 * 0.125;
  EXPECT_DOUBLE_EQ(CellRadiationOfDay(k, modelled).global, 600.0 * r);
  modelled.correction = 1.5;
  EXPECT_DOUBLE_EQ(CellRadiationOfDay(k, modelled).global, 600.0 * (0.2 + 1.5 * (r - 0.2)));
}

TEST(RadiationBalance, CapAlbedoAndNight) {
  CellRadiationInput cell;
  cell.radiation = 5000.0;
  cell.clearSky = 4000.0;
  cell.correction = 2.0;
  cell.sunshine = 1.0;
  cell.albedo = 0.25;
  cell.cap = RadiationCap(1440.0, 0.5); // 12 daylight hours: 15120 Wh/m2
  EXPECT_DOUBLE_EQ(cell.cap, 15120.0);
  cell.cap = RadiationCap(60.0, 1.0);
  const CellRadiation out = CellRadiationOfDay(ExampleCoefficients(), cell);
  EXPECT_DOUBLE_EQ(out.global, 1260.0);
  EXPECT_DOUBLE_EQ(out.correctedInput, 9000.0); // the input keeps the uncapped value
  EXPECT_DOUBLE_EQ(out.netShortwave, 945.0);

  const CellRadiation night = CellRadiationOfNight(0.37);
  EXPECT_EQ(night.global, 0.0);
  EXPECT_EQ(night.netShortwave, 0.0);
  EXPECT_EQ(night.sunshine, 0.37);
  EXPECT_EQ(night.cloudiness, 0.5);
  EXPECT_EQ(Cloudiness(1.2), 0.0);
}

// The clear-sky radiation of a step with transmissivity 1 (no atmosphere).
double ClearSky(long day, long month, double hour, double hoursToEnd, double minutes,
                const solar::Observer &observer, ClearSkyGeometry *geometry = nullptr) {
  const solar::Daylight light =
      solar::DaylightFraction({day, month, hour, hoursToEnd, minutes}, observer);
  if (light.isNight != 0)
    return 0.0;
  ClearSkyGeometry own;
  ClearSkyGeometry &g = geometry != nullptr ? *geometry : own;
  g.Compute({day, month, hour, hoursToEnd, minutes, light.dayFraction, light.nightBeforeSunrise},
            observer);
  return g.ClearSkyRadiation(1.0, 1013.0);
}

TEST(RadiationBalance, ClearSkyOfADayIsTheExtraterrestrialRadiation) {
  // FAO-56 Example 8: 20 degrees south on 3 September, Ra = 32.2 MJ/m2/day
  // with dr = 0.985, so Ra / dr = 32.69 MJ/m2 = 9080 Wh/m2.
  const solar::Observer observer{-20.0, 0.0, 0.0};
  ClearSkyGeometry day;
  const double daily = ClearSky(3, 9, 0.0, 24.0, 1440.0, observer, &day);
  EXPECT_NEAR(daily, 9080.0, 90.8);

  // The daylight sub-intervals run from sunrise to sunset, which lie
  // omega_s = arccos(-tan(phi) tan(delta)) from solar noon.
  const double pi = solar::Pi;
  const double delta = solar::SolarDeclination(3, 9) * pi / 180.0;
  const double omega = std::acos(-std::tan(-20.0 * pi / 180.0) * std::tan(delta));
  const double hours = 24.0 * omega / pi;
  const solar::SunTimes sun = solar::SunriseSunset(3, 9, -20.0, 0.0, 0.0);
  EXPECT_NEAR(day.Count() * day.SubIntervalHours(), hours, 1e-6);
  EXPECT_EQ(day.Count(), 12);
  EXPECT_NEAR(day.FirstCentreHour() - day.SubIntervalHours() / 2.0, sun.sunrise, 1e-9);
  const double lastEnd = day.FirstCentreHour() + (day.Count() - 0.5) * day.SubIntervalHours();
  EXPECT_NEAR(lastEnd, sun.sunset, 1e-9);

  // Hourly steps sum to the day.
  double hourly = 0.0;
  for (int h = 0; h < 24; ++h)
    hourly += ClearSky(3, 9, h, 1.0, 60.0, observer);
  EXPECT_NEAR(hourly, 9080.0, 90.8);
  EXPECT_NEAR(hourly, daily, 0.005 * daily);

  // A two-day step has the geometry of one day and twice its radiation.
  EXPECT_NEAR(ClearSky(3, 9, 24.0, 0.0, 2880.0, observer), 2.0 * daily, 1e-9 * daily);
}

TEST(RadiationBalance, ClearSkyUnderTheAtmosphere) {
  const solar::Observer observer{47.0, 8.0, 15.0};
  const solar::Daylight light = solar::DaylightFraction({1, 7, 12, 1.0, 60.0}, observer);
  ClearSkyGeometry g;
  g.Compute({1, 7, 12.0, 1.0, 60.0, light.dayFraction, light.nightBeforeSunrise}, observer);
  // A one-hour step around noon: one sub-interval in the middle of the step.
  ASSERT_EQ(g.Count(), 1);
  EXPECT_DOUBLE_EQ(g.FirstCentreHour(), 12.5);
  const double cosZ = g.CosZenith()[0];
  const double tau = Transmissivity(0.7, 0.1, 1, 7);
  EXPECT_NEAR(tau, 0.7 + 0.1 * std::cos(2.0 * 3.14159265359 * (30.5 * 6 + 11) / 365.0), 1e-15);
  // Higher ground: less air above, more radiation.
  const double p = evapotranspiration::BarometricPressure(2000.0, 5.0);
  EXPECT_NEAR(g.ClearSkyRadiation(tau, p), 1367.0 * std::pow(tau, p / 1013.0 / cosZ) * cosZ, 1e-9);
  EXPECT_GT(g.ClearSkyRadiation(tau, p), g.ClearSkyRadiation(tau, 1013.0));
  // A day whose sun stays below about one degree gets none: 66 degrees north
  // at the winter solstice has under two hours of daylight around a noon sun
  // of half a degree.
  const solar::Observer arctic{66.0, 15.0, 15.0};
  ClearSkyGeometry winter;
  EXPECT_EQ(ClearSky(21, 12, 0.0, 24.0, 1440.0, arctic, &winter), 0.0);
  ASSERT_GT(winter.Count(), 0);
  EXPECT_LT(winter.CosZenith()[winter.Count() / 2], 0.017);
}

TEST(RadiationBalance, SunshineMemoryOfSubDailySteps) {
  SunshineMemory memory(60.0);
  double cell = SunshineMemory::Initial;
  const auto step = [&](double dayFraction, double sunshine) {
    switch (memory.BeginStep(dayFraction)) {
    case SunshineMemory::Action::Reset:
      cell = 0.0;
      break;
    case SunshineMemory::Action::Average:
      cell = memory.Averaged(cell);
      break;
    case SunshineMemory::Action::Keep:
      break;
    }
    if (dayFraction >= 0.05)
      cell = memory.Remember(cell, sunshine);
    return cell;
  };
  EXPECT_EQ(step(0.0, 0.0), 0.5); // before the first day
  EXPECT_DOUBLE_EQ(step(1.0, 0.2), 0.2);
  EXPECT_DOUBLE_EQ(step(1.0, 0.4), 0.6);
  EXPECT_DOUBLE_EQ(step(0.6, 0.6), 1.2);
  EXPECT_DOUBLE_EQ(step(0.0, 0.0), 0.4); // the mean of the day
  EXPECT_DOUBLE_EQ(step(0.0, 0.0), 0.4);
  EXPECT_DOUBLE_EQ(step(1.0, 0.9), 0.9); // a new day starts afresh
}

TEST(RadiationBalance, SunshineMemoryOfDailySteps) {
  // From 720 minutes on, a daytime step keeps its own sunshine for the next
  // night step, never a running sum.
  SunshineMemory memory(1440.0);
  double cell = SunshineMemory::Initial;
  for (const double s : {0.3, 0.7, 0.1}) {
    EXPECT_EQ(memory.BeginStep(0.4), SunshineMemory::Action::Keep);
    cell = memory.Remember(cell, s);
    EXPECT_EQ(cell, s);
  }
  EXPECT_EQ(memory.BeginStep(0.0), SunshineMemory::Action::Keep);
}

} // namespace
} // namespace tavro::radiation
