// The geometry of the exposure correction: incidence on a slope against the
// beam-tilt relations of Duffie and Beckman (Solar Engineering of Thermal
// Processes, section 1.6), sub-steps that fill exactly their step, the
// daylight of a sub-step, the clear-sky beam and the temperature correction.
#include "landsurface/radiation/exposure_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace tavro::radiation {
namespace {

constexpr double kPi = std::numbers::pi;
double Radians(double degrees) { return degrees * kPi / 180.0; }

// The sun seen from latitude phi at declination delta and hour angle omega
// (degrees, omega negative before solar noon): azimuth clockwise from north
// and zenith angle, both in radians.
struct Sun {
  double azimuth, zenith;
};
Sun SunAt(double phi, double delta, double omega) {
  const double p = Radians(phi), d = Radians(delta), w = Radians(omega);
  const double up = std::cos(p) * std::cos(d) * std::cos(w) + std::sin(p) * std::sin(d);
  const double east = -std::cos(d) * std::sin(w);
  const double north = std::sin(d) * std::cos(p) - std::cos(d) * std::sin(p) * std::cos(w);
  double azimuth = std::atan2(east, north);
  if (azimuth < 0.0)
    azimuth += 2.0 * kPi;
  return {azimuth, std::acos(up)};
}

DirectBeam BeamOf(const Sun &sun) {
  DirectBeam beam;
  beam.zenith = sun.zenith;
  beam.cosZenith = std::cos(sun.zenith);
  beam.energy = 1.0;
  return beam;
}

// Duffie and Beckman eq. 1.6.2: the incidence angle on a surface of slope
// beta and surface azimuth gamma (from south, west positive).
double DuffieBeckmanCosIncidence(double phi, double delta, double omega, double beta,
                                 double gamma) {
  const double p = Radians(phi), d = Radians(delta), w = Radians(omega), b = Radians(beta),
               g = Radians(gamma);
  return std::sin(d) * std::sin(p) * std::cos(b) -
         std::sin(d) * std::cos(p) * std::sin(b) * std::cos(g) +
         std::cos(d) * std::cos(p) * std::cos(b) * std::cos(w) +
         std::cos(d) * std::sin(p) * std::sin(b) * std::cos(g) * std::cos(w) +
         std::cos(d) * std::sin(b) * std::sin(g) * std::sin(w);
}

TEST(ExposureGeometry, IncidenceIsTheBeamTiltFactor) {
  struct Case {
    const char *what;
    double phi, delta, omega, slope, gamma; // surface azimuth from south, west positive
    double ratio;                           // cos(theta) / cos(theta_z) of the result
  };
  const Case cases[] = {
      // Madison, 13 February, 10:30 solar time, 45 degrees tilt facing 15 degrees
      // west of south (Duffie and Beckman, Example 1.6.1: cos theta = 0.817).
      {"Example 1.6.1", 43.0, -14.0, -22.5, 45.0, 15.0, -1.0},
      {"flat", 43.0, -14.0, -22.5, 0.0, 15.0, 1.0},
      // A north slope under the low winter sun at noon sees no beam.
      {"north slope, winter noon", 47.0, -23.0, 0.0, 30.0, 180.0, 0.0},
      // A vertical wall facing the sun low in the east: cos theta / cos theta_z
      // would be far above 5; the cap holds it at 5.
      {"steep wall, low sun", 47.0, 0.0, -80.0, 90.0, -90.0, 5.0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const Sun sun = SunAt(c.phi, c.delta, c.omega);
    const DirectBeam beam = BeamOf(sun);
    const double aspect = 180.0 + c.gamma; // clockwise from north
    const double m = CappedIncidence(aspect, c.slope, sun.azimuth, beam, false);
    if (c.ratio >= 0.0) {
      EXPECT_NEAR(m / beam.cosZenith, c.ratio, 1e-9);
      continue;
    }
    EXPECT_NEAR(m, 0.817, 5e-4);
    EXPECT_NEAR(m, DuffieBeckmanCosIncidence(c.phi, c.delta, c.omega, c.slope, c.gamma), 1e-8);
  }
}

TEST(ExposureGeometry, OvercastTreatsALitCellAsHorizontalButNotAShadedOne) {
  const DirectBeam beam = BeamOf(SunAt(43.0, -14.0, -22.5));
  const Sun sun = SunAt(43.0, -14.0, -22.5);
  EXPECT_DOUBLE_EQ(CappedIncidence(195.0, 45.0, sun.azimuth, beam, true), beam.cosZenith);
  // Facing away from the sun: no beam, overcast or not.
  EXPECT_EQ(CappedIncidence(0.0, 80.0, sun.azimuth, beam, true), 0.0);
}

TEST(ExposureGeometry, SubStepsFillTheirStepExactly) {
  struct Case {
    double end, minutes;
    int splittings;
    double first, last;
  };
  const Case cases[] = {
      {24.0, 1440.0, 24, 0.5, 23.5},
      // Sixty sub-steps of one minute: exactly sixty, the last ending with the step.
      {13.0, 60.0, 60, 12.0 + 1.0 / 120.0, 13.0 - 1.0 / 120.0},
      // A time shift past midnight wraps the centres into [0, 24).
      {25.0, 1440.0, 4, 4.0, 22.0},
      {2.0, 180.0, 3, 23.5, 1.5},
  };
  for (const Case &c : cases) {
    const SubStepFrame frame = MakeSubStepFrame(c.end, c.minutes, c.splittings);
    EXPECT_EQ(frame.count, c.splittings);
    EXPECT_DOUBLE_EQ(frame.count * frame.length, c.minutes / 60.0);
    EXPECT_NEAR(SubStepCentre(frame, 0), c.first, 1e-12);
    EXPECT_NEAR(SubStepCentre(frame, frame.count - 1), c.last, 1e-12);
  }
}

TEST(ExposureGeometry, SubStepDaylightAndTheMiddleOfItsSunlitPart) {
  const solar::Observer observer{47.0, 15.0, 15.0};
  const solar::SunTimes sun = solar::SunriseSunset(1, 7, 47.0, 15.0, 15.0);
  // A one-hour sub-step whose first 20 minutes lie before sunrise.
  const double centre = sun.sunrise + 1.0 / 6.0;
  const solar::Daylight light = SubStepDaylight(centre, 1.0, 1, 7, observer);
  EXPECT_NEAR(light.nightBeforeSunrise, 1.0 / 3.0, 1e-12);
  EXPECT_NEAR(light.dayFraction, 2.0 / 3.0, 1e-12);
  EXPECT_EQ(light.isNight, 0);
  EXPECT_NEAR(SunlitMiddle(centre, 1.0, light), sun.sunrise + 1.0 / 3.0, 1e-12);
  // The same around sunset: the middle of the part before sunset.
  const double evening = sun.sunset - 0.25;
  const solar::Daylight dusk = SubStepDaylight(evening, 1.0, 1, 7, observer);
  EXPECT_NEAR(dusk.dayFraction, 0.75, 1e-12);
  EXPECT_NEAR(SunlitMiddle(evening, 1.0, dusk), sun.sunset - 0.375, 1e-12);
  // Midnight is night; a polar day is daylight at midnight, a polar night dark at noon.
  EXPECT_EQ(SubStepDaylight(0.5, 1.0, 1, 7, observer).isNight, 1);
  const solar::Observer north{78.0, 15.0, 15.0};
  EXPECT_EQ(SubStepDaylight(0.5, 1.0, 1, 7, north).dayFraction, 1.0);
  EXPECT_EQ(SubStepDaylight(12.5, 1.0, 1, 1, north).isNight, 1);
}

TEST(ExposureGeometry, ClearSkyBeam) {
  // Sun in the zenith: one air mass of 0.86 to the power 0.9.
  const DirectBeam top = DirectBeamOfSubStep(0.5, 0.8, solar::Pi / 2.0);
  EXPECT_NEAR(top.cosZenith, 1.0, 1e-12);
  EXPECT_NEAR(top.energy, 1367.0 * 0.5 * 0.8 * std::pow(0.86, 0.9), 1e-9);
  // At 30 degrees elevation the air mass doubles.
  const DirectBeam low = DirectBeamOfSubStep(1.0, 1.0, solar::Pi / 6.0);
  EXPECT_NEAR(low.energy, 1367.0 * std::pow(0.86, 1.8), 1e-6);
  // At or below about one degree nothing counts.
  EXPECT_EQ(DirectBeamOfSubStep(1.0, 1.0, 0.017).energy, 0.0);
  EXPECT_EQ(NightBeam().energy, 0.0);
  EXPECT_EQ(NightBeam().cosZenith, 1.0);
}

TEST(ExposureGeometry, TemperatureCorrection) {
  struct Case {
    double factor;
    bool sunSeen;
    double expected;
  };
  // T = 10, scaling 2, sunshine 0.5.
  const Case cases[] = {
      {1.0, true, 10.0},          {std::exp(1.0), true, 11.0}, {0.5, true, 10.0 + std::log(0.5)},
      {0.1, true, 10.0 - 1.6094}, // ln f held at ln 0.2
      {0.0, true, 10.0 - 1.6094}, // fully shaded all step
      {0.0, false, 10.0},         // no sun in the step at all
  };
  for (const Case &c : cases)
    EXPECT_NEAR(CorrectedTemperature(10.0, c.factor, 2.0, 0.5, c.sunSeen), c.expected, 1e-12)
        << c.factor;
}

} // namespace
} // namespace tavro::radiation
