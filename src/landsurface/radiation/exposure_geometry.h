// The geometry of the exposure correction: how a correction step is cut into
// sub-steps, which share of each sub-step is daylight, the clear-sky direct
// beam of a sub-step, the incidence of that beam on an inclined cell (capped
// at five times the horizontal) and the temperature corrected by the step's
// correction factor. Pure functions of plain values.
#pragma once

#include "kernel/solar_geometry.h"

namespace tavro::radiation {

inline constexpr double kSolarConstant = 1367.0; // W/m2
// Transmission of the clear sky along one air mass.
inline constexpr double kClearSkyTransmission = 0.86;
// Below this sun elevation (radians, about one degree) no direct beam counts.
inline constexpr double kMinimumSunElevation = 0.017;
// The beam on an inclined cell counts at most this many times the beam on a
// horizontal one, so that grazing sun on steep walls cannot dominate a step.
inline constexpr double kMaximumIncidenceRatio = 5.0;
// Temperature correction: below this factor ln(factor) is held at ln(0.2).
inline constexpr double kLowestCorrectionFactor = 0.2;
inline constexpr double kLogOfLowestFactor = 1.6094; // -ln(0.2)
// Relative sunshine below which a cell is treated as horizontal (overcast).
inline constexpr double kOvercastSunshine = 0.1;

// One correction step cut into equal sub-steps.
struct SubStepFrame {
  double end = 0.0;    // hour of the end of the step (data hour, hours to its end, time shift)
  double hours = 0.0;  // length of the step, hours
  int count = 1;       // number of sub-steps
  double length = 1.0; // hours of one sub-step
};

SubStepFrame MakeSubStepFrame(double endHour, double timeStepMinutes, int splittings);

// Centre of sub-step i (0 to count - 1), wrapped into [0, 24).
double SubStepCentre(const SubStepFrame &frame, int i);

// The daylight of one sub-step of the given length around centre: the same
// rule as for a whole step, over the sub-step (a polar day is daylight in
// every sub-step, a polar night dark in every one).
solar::Daylight SubStepDaylight(double centre, double length, long day, long month,
                                const solar::Observer &observer);

// Hour of the middle of the sunlit part of the sub-step.
double SunlitMiddle(double centre, double length, const solar::Daylight &light);

// The clear-sky direct radiation of a sub-step on a surface normal to the beam,
// and the zenith angle of the sun (the horizontal receives energy cos Z).
struct DirectBeam {
  double energy = 0.0;    // W/m2 times hours, on a surface facing the sun
  double zenith = 0.0;    // radians
  double cosZenith = 1.0; // 1 at night
};

// The beam of a day sub-step: 1367 L w 0.86^(0.9 / cos Z) when the sun stands
// above kMinimumSunElevation (elevation in radians), else 0.
DirectBeam DirectBeamOfSubStep(double length, double daylightFraction, double sunElevation);

// Night sub-step: no beam, cos Z = 1.
inline DirectBeam NightBeam() { return {}; }

// The share of the beam that an unshaded cell receives relative to a surface
// facing the sun: the cosine of the incidence angle on the slope (degrees,
// aspect clockwise from north the direction the slope faces), 0 when the
// sun is behind the slope, cos Z for a lit cell under overcast sky
// (treatAsHorizontal), and never above five times cos Z.
double CappedIncidence(double aspectDegrees, double slopeDegrees, double sunAzimuth,
                       const DirectBeam &beam, bool treatAsHorizontal);

// Temperature corrected by the step's correction factor f (inclined over
// horizontal beam): T + ln(f) scaling s for f above 0.2, else ln(f) taken as
// ln(0.2), and unchanged when the step saw no sun at all.
double CorrectedTemperature(double temperature, double factor, double scaling, double sunshine,
                            bool sunSeen);

} // namespace tavro::radiation
