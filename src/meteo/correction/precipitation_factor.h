// The precipitation correction of one value: a factor that grows linearly
// with the wind speed, with one constant and slope for rain and another pair
// for snow, told apart by a threshold temperature. Pure arithmetic.
#pragma once

namespace tavro::correction {

struct CorrectionParameters {
  double Threshold = 0.0;    // above it (strictly) rain, else snow (deg C)
  double RainConstant = 1.0; // factor at wind speed 0
  double RainSlope = 0.0;    // factor per m/s of wind speed
  double SnowConstant = 1.0;
  double SnowSlope = 0.0;
};

// When a value of a variable counts as missing: below -N for an
// interpolated variable ("nodata value" N), at or below -9999 for a grid
// that no interpolator produces.
struct MissingBound {
  double Limit = -9999.0;
  bool Inclusive = true;

  static MissingBound OfInterpolator(double nodataBound) { return {-nodataBound, false}; }
  static MissingBound OfPlainGrid() { return {-9999.0, true}; }
  bool IsMissing(double value) const { return Inclusive ? value <= Limit : value < Limit; }
};

// The factor of temperature t (deg C) and wind speed u (m/s). A temperature
// that is not a number counts as snow.
inline double CorrectionFactor(const CorrectionParameters &p, double t, double u) {
  return t > p.Threshold ? p.RainSlope * u + p.RainConstant : p.SnowSlope * u + p.SnowConstant;
}

// The inputs of one corrected value with their fallbacks: a missing (or
// absent) temperature counts as rain, a missing (or absent) wind speed as 0.
inline double TemperatureOrRain(const CorrectionParameters &p, double t, bool missing) {
  return missing ? p.Threshold + 1.0 : t;
}
inline double WindOrCalm(double u, bool missing) { return missing ? 0.0 : u; }

// A precipitation value corrected; a missing value is returned unchanged.
inline double CorrectedPrecipitation(const CorrectionParameters &p, const MissingBound &bound,
                                     double precipitation, double t, double u) {
  if (bound.IsMissing(precipitation))
    return precipitation;
  return CorrectionFactor(p, t, u) * precipitation;
}

} // namespace tavro::correction
