// Sub-steps, daylight, direct beam, incidence and temperature of the exposure
// correction.
#include "landsurface/radiation/exposure_geometry.h"

#include <algorithm>
#include <cmath>

namespace tavro::radiation {
namespace {

constexpr double kDegreesToRadians = solar::Pi / 180.0;
// Air mass exponent of the clear-sky transmission.
constexpr double kAirMassExponent = 0.9;

} // namespace

SubStepFrame MakeSubStepFrame(double endHour, double timeStepMinutes, int splittings) {
  SubStepFrame frame;
  frame.end = endHour;
  frame.hours = timeStepMinutes / 60.0;
  frame.count = std::max(1, splittings);
  frame.length = frame.hours / frame.count;
  return frame;
}

double SubStepCentre(const SubStepFrame &frame, int i) {
  // Counted from the start of the step, so that exactly count sub-steps fill
  // it however short they are.
  const double centre = frame.end - frame.hours + (i + 0.5) * frame.length;
  const double wrapped = std::fmod(centre, 24.0);
  return wrapped < 0.0 ? wrapped + 24.0 : wrapped;
}

solar::Daylight SubStepDaylight(double centre, double length, long day, long month,
                                const solar::Observer &observer) {
  const solar::DaylightStep step{day, month, centre, length / 2.0, length * 60.0};
  return solar::DaylightFraction(step, observer);
}

double SunlitMiddle(double centre, double length, const solar::Daylight &light) {
  return centre + light.nightBeforeSunrise - light.nightFraction * length / 2.0;
}

DirectBeam DirectBeamOfSubStep(double length, double daylightFraction, double sunElevation) {
  DirectBeam beam;
  beam.zenith = 0.5 * solar::Pi - sunElevation;
  beam.cosZenith = std::cos(beam.zenith);
  if (sunElevation > kMinimumSunElevation)
    beam.energy = kSolarConstant * length * daylightFraction *
                  std::pow(kClearSkyTransmission, kAirMassExponent / beam.cosZenith);
  return beam;
}

double CappedIncidence(double aspectDegrees, double slopeDegrees, double sunAzimuth,
                       const DirectBeam &beam, bool treatAsHorizontal) {
  double m = solar::CosIncidence(aspectDegrees * kDegreesToRadians,
                                 slopeDegrees * kDegreesToRadians, sunAzimuth, beam.zenith);
  if (m <= 0.0)
    m = 0.0;
  else if (treatAsHorizontal)
    m = beam.cosZenith;
  return std::min(m, kMaximumIncidenceRatio * beam.cosZenith);
}

double CorrectedTemperature(double temperature, double factor, double scaling, double sunshine,
                            bool sunSeen) {
  if (factor > kLowestCorrectionFactor)
    return temperature + std::log(factor) * scaling * sunshine;
  return temperature - kLogOfLowestFactor * scaling * sunshine * (sunSeen ? 1.0 : 0.0);
}

} // namespace tavro::radiation
