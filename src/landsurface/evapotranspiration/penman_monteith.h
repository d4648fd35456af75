// Penman-Monteith potential evapotranspiration of one vegetation layer for the
// day or the night part of a step: the saturation vapour pressure and its
// slope, the psychrometric constant, the long-wave loss and the energy
// available to the canopy and to the soil, the aerodynamic and surface
// resistances, and the rates of transpiration, interception evaporation and
// soil evaporation. Layers are computed from the top down; what one layer
// leaves to the next (the energy, the aerodynamic resistance of the top layer
// and the leaf area above) travels in a small carry struct. Also the
// temperature amplitude of the date that shifts day and night temperatures of
// steps longer than half a day.
//
// Units: temperatures in °C, pressures in hPa, radiation in Wh/m2 per step,
// energies and water in mm per step part, resistances in s/m, wind in m/s,
// the time step in minutes.
#pragma once

#include <array>

namespace tavro::evapotranspiration {

// Air pressure by the barometric formula at elevation z (m) and temperature
// T: 1013 exp(-z / (29.33 T + 7991)), hPa.
double BarometricPressure(double elevation, double temperature);
// 6.1078 exp(17.269 T / (T + 237.3)), hPa.
double SaturationVapourPressure(double temperature);
// Slope of the saturation curve, 25029 exp(17.26 T / (T + 237.3)) / (T + 237.3)^2, hPa/K.
double SaturationSlope(double temperature);
// 1.6158 p / (2500.8 - 2.372 T), hPa/K.
double PsychrometricConstant(double pressure, double temperature);
// Latent heat of vaporisation, 694.67 - 0.6589 T, Wh/kg: turns Wh/m2 into mm.
double LatentHeat(double temperature);

// Net long-wave loss of the part (Wh/m2): (0.48 - 0.065 sqrt(e)) (c0 + (1 -
// c0) s) fraction (5.67e-8 dt / 60) (T + 273.15)^4.
double LongWaveLoss(double vapourPressure, double diffuseShare, double sunshine, double fraction,
                    double timeStepMinutes, double temperature);

// Energy available to layer 1 (mm) from the global radiation: the day part
// gets 0.9 (S - Ln), the night part only loses Ln.
double AvailableEnergyOfDay(double netShortwave, double longWaveLoss, double temperature);
double AvailableEnergyOfNight(double longWaveLoss, double temperature);
// From a net radiation input: RN / LatentHeat(T) in the part that carries it.
double AvailableEnergyFromNetRadiation(double netRadiation, double temperature);

// Aerodynamic resistance of the top layer: 25 / (1 + 0.54 w) above a
// roughness length of 2 m, else 4.72 ln(20 / z0)^2 / (1 + 0.54 w).
double AerodynamicResistance(double roughnessLength, double wind);

enum class StepPart { Night = 0, Day = 1 };

// A part runs when it covers at least 1 % of the step.
inline constexpr double kSmallestPart = 0.01;
// The part that carries a net radiation input: the step's net radiation
// counts once, in the day part when that runs, else in the night part.
inline StepPart NetRadiationPart(double dayFraction) {
  return dayFraction >= kSmallestPart ? StepPart::Day : StepPart::Night;
}

// Canopy resistance: by day (and over open water) rsc / (1 - 0.6^(LAI VCF)),
// at night 1 / (4e-4 LAI VCF); without leaves 2500 (0 when rsc is not
// positive); 0 with leaves but no positive rsc.
double SurfaceResistance(StepPart part, bool openWater, double leafAreaIndex,
                         double vegetationCover, double canopyResistance);

// Vegetation of one layer in one cell.
struct LayerVegetation {
  double leafAreaIndex = 0.0;          // LAI
  double vegetationCover = 0.0;        // VCF, 0 to 1
  double canopyResistance = 0.0;       // rsc, s/m
  double interceptionResistance = 0.0; // rsi, s/m
  double roughnessLength = 0.1;        // z0, m
  double soilResistance = 0.0;         // rss of the soil surface, s/m (lowest layer)
  double extinction = 0.3;             // light extinction coefficient kappa
  double resistancePerLeafArea = 10.0; // u: resistance increase per leaf area above
  bool lowest = true;                  // the soil surface lies below this layer
  bool openWater = false;
};

// Open water in the lowest layer: no leaves, no canopy resistance, its own
// roughness length.
LayerVegetation OpenWaterVegetation(const LayerVegetation &layer, double openWaterRoughness);

// The air of the part.
struct LayerWeather {
  double temperature = 0.0;    // °C
  double pressure = 1013.0;    // hPa
  double vapourPressure = 0.0; // e, hPa
  double wind = 0.0;           // m/s
};

// What a layer leaves to the layers below it, per cell; zero for a new cell.
struct LayerCarry {
  double topAerodynamicResistance = 0.0;   // ra1
  std::array<double, 2> remainingEnergy{}; // R below the layers done, [night, day], mm
  double leafAreaAbove = 0.0;              // LA, added by the caller before each layer > 1
};

struct LayerRates {
  double transpiration = 0.0;           // ET, mm
  double interceptionEvaporation = 0.0; // EI, mm
  double soilEvaporation = 0.0;         // E, mm (lowest layer only)
};

struct LayerStep {
  int layer = 1; // 1 = the top layer
  StepPart part = StepPart::Day;
  double fraction = 1.0;        // share of the step this part covers
  double timeStep = 1440.0;     // minutes
  double availableEnergy = 0.0; // A of layer 1 in this part, mm (ignored below)
};

// Rates of a layer for the part; updates the carried values of the part.
LayerRates PenmanMonteithLayer(const LayerStep &step, const LayerWeather &air,
                               const LayerVegetation &vegetation, LayerCarry &carry);

// The monthly temperature amplitude at a day: amplitudes[1..12] of January to
// December, [0] = December and [13] = January; between the middle of the
// previous month (day -15.5) and day 15, or between day 16 and the middle of
// the next month (day daysInMonth + 15).
double AmplitudeOfDate(const std::array<double, 14> &amplitudes, long day, long month,
                       int daysInMonth);

// The annual term of the day-night split: amplitude cos(2 pi dayOfYear / 365).
double AnnualTerm(double annualAmplitude, double dayOfYear);

// How much a long step's day temperature rises and its night temperature falls.
struct TemperatureShift {
  double dayRise = 0.0;
  double nightFall = 0.0;
};

// dT = r Ad exp(-z / zA); the day rises by (f + v) dT and the night falls by
// ((1 - f) - v) dT, with f the day's share of the amplitude and v the annual
// term.
TemperatureShift DayNightShift(double relativeRadiation, double amplitudeOfDate, double elevation,
                               double amplitudeScale, double dayShare, double annualTerm);

} // namespace tavro::evapotranspiration
