// Penman-Monteith per vegetation layer, its helpers and the day-night
// temperature shift.
#include "landsurface/evapotranspiration/penman_monteith.h"

#include "landsurface/evapotranspiration/monthly_values.h"

#include <algorithm>
#include <cmath>

namespace tavro::evapotranspiration {
namespace {

constexpr double kZeroCelsius = 273.15;        // K
constexpr double kStefanBoltzmann = 5.67e-8;   // W/m2/K4
constexpr double kAvailableShare = 0.9;        // of the day's net radiation
constexpr double kTallCanopyResistance = 25.0; // s/m, roughness length above 2 m
constexpr double kTallCanopyRoughness = 2.0;   // m
constexpr double kWindFactor = 0.54;
constexpr double kReferenceHeight = 20.0; // m
constexpr double kLogProfileFactor = 4.72;
constexpr double kNightConductance = 4e-4;
constexpr double kStomatalShadingBase = 0.6;
constexpr double kLeaflessResistance = 2500.0; // s/m
// Vapour-pressure deficit over temperature to water mass, kg K per m3 and hPa.
constexpr double kVapourDensityFactor = 0.216876;
constexpr double kSecondsPerMinute = 60.0;
constexpr double kTwoPi = 2.0 * 3.14159265359;

// The share of the part's energy a layer's leaves intercept.
double AbsorbedShare(const LayerVegetation &v) {
  return v.vegetationCover * (1.0 - std::exp(-v.extinction * v.leafAreaIndex));
}

} // namespace

double BarometricPressure(double elevation, double temperature) {
  return 1013.0 * std::exp(-elevation / (29.33 * temperature + 7991.0));
}

double SaturationVapourPressure(double temperature) {
  return 6.1078 * std::exp(17.269 * temperature / (temperature + 237.3));
}

double SaturationSlope(double temperature) {
  const double t = temperature + 237.3;
  return 25029.0 * std::exp(17.26 * temperature / t) / (t * t);
}

double PsychrometricConstant(double pressure, double temperature) {
  return 1.6158 * pressure / (2500.8 - 2.372 * temperature);
}

double LatentHeat(double temperature) { return 694.67 - 0.6589 * temperature; }

double LongWaveLoss(double vapourPressure, double diffuseShare, double sunshine, double fraction,
                    double timeStepMinutes, double temperature) {
  const double kelvin = temperature + kZeroCelsius;
  const double kelvin2 = kelvin * kelvin;
  return (0.48 - 0.065 * std::sqrt(vapourPressure)) *
         (diffuseShare + (1.0 - diffuseShare) * sunshine) * fraction *
         (kStefanBoltzmann * timeStepMinutes / 60.0) * kelvin2 * kelvin2;
}

double AvailableEnergyOfDay(double netShortwave, double longWaveLoss, double temperature) {
  return kAvailableShare * (netShortwave - longWaveLoss) / LatentHeat(temperature);
}

double AvailableEnergyOfNight(double longWaveLoss, double temperature) {
  return -longWaveLoss / LatentHeat(temperature);
}

double AvailableEnergyFromNetRadiation(double netRadiation, double temperature) {
  return netRadiation / LatentHeat(temperature);
}

double AerodynamicResistance(double roughnessLength, double wind) {
  const double windFactor = 1.0 + kWindFactor * wind;
  if (roughnessLength > kTallCanopyRoughness)
    return kTallCanopyResistance / windFactor;
  const double profile = std::log(kReferenceHeight / roughnessLength);
  return kLogProfileFactor * profile * profile / windFactor;
}

double SurfaceResistance(StepPart part, bool openWater, double leafAreaIndex,
                         double vegetationCover, double canopyResistance) {
  if (leafAreaIndex <= 0.0 || vegetationCover <= 0.0)
    return canopyResistance > 0.0 ? kLeaflessResistance : 0.0;
  if (canopyResistance <= 0.0)
    return 0.0;
  if (part == StepPart::Day || openWater)
    return canopyResistance /
           (1.0 - std::pow(kStomatalShadingBase, leafAreaIndex * vegetationCover));
  return 1.0 / (leafAreaIndex * vegetationCover * kNightConductance);
}

LayerVegetation OpenWaterVegetation(const LayerVegetation &layer, double openWaterRoughness) {
  LayerVegetation water = layer;
  water.vegetationCover = 0.0;
  water.leafAreaIndex = 0.0;
  water.canopyResistance = 0.0;
  water.roughnessLength = openWaterRoughness;
  water.openWater = true;
  return water;
}

LayerRates PenmanMonteithLayer(const LayerStep &step, const LayerWeather &air,
                               const LayerVegetation &vegetation, LayerCarry &carry) {
  const double t = air.temperature;
  double &remaining = carry.remainingEnergy[static_cast<std::size_t>(step.part)];

  // Energy the layer's leaves take (C) and what passes below (R).
  const double above = step.layer == 1 ? step.availableEnergy : remaining;
  const double canopy = AbsorbedShare(vegetation) * above;
  remaining = std::max(0.0, above - canopy);

  const double es = SaturationVapourPressure(t);
  const double d = SaturationSlope(t) / PsychrometricConstant(air.pressure, t);
  const double deficit = std::max(0.0, es - air.vapourPressure);

  double ra = 0.0;
  if (step.layer == 1) {
    ra = AerodynamicResistance(vegetation.roughnessLength, air.wind);
    carry.topAerodynamicResistance = ra;
  } else {
    ra = vegetation.resistancePerLeafArea * carry.leafAreaAbove + carry.topAerodynamicResistance;
  }
  const double rs = SurfaceResistance(step.part, vegetation.openWater, vegetation.leafAreaIndex,
                                      vegetation.vegetationCover, vegetation.canopyResistance);

  // The drying power of the air over the part, mm.
  const double q = step.fraction * step.timeStep * kSecondsPerMinute * kVapourDensityFactor *
                   deficit / (t + kZeroCelsius) / ra;

  LayerRates rates;
  if (vegetation.openWater) {
    rates.transpiration = (d * (canopy + remaining) + q) / (d + 1.0 + rs / ra);
    return rates;
  }
  rates.interceptionEvaporation =
      (d * canopy + q) / (d + 1.0 + vegetation.interceptionResistance / ra);
  rates.transpiration = (d * canopy + q) / (d + 1.0 + rs / ra);
  if (vegetation.lowest)
    rates.soilEvaporation = (d * remaining + q) / (d + 1.0 + vegetation.soilResistance / ra);
  return rates;
}

double AmplitudeOfDate(const std::array<double, 14> &amplitudes, long day, long month,
                       int daysInMonth) {
  return MonthlyValueOfDate(amplitudes, day, month, daysInMonth, {-15.5, 15.0});
}

double AnnualTerm(double annualAmplitude, double dayOfYear) {
  return annualAmplitude * std::cos(kTwoPi * dayOfYear / 365.0);
}

TemperatureShift DayNightShift(double relativeRadiation, double amplitudeOfDate, double elevation,
                               double amplitudeScale, double dayShare, double annualTerm) {
  const double dt = relativeRadiation * amplitudeOfDate * std::exp(-elevation / amplitudeScale);
  return {(dayShare + annualTerm) * dt, ((1.0 - dayShare) - annualTerm) * dt};
}

} // namespace tavro::evapotranspiration
