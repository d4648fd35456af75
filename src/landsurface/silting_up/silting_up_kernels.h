// The per-cell formulas of the silting-up (surface sealing) of tilled soils:
// the texture value of a soil, the time since the last tillage, the rain
// intensity and pause, the kinetic energy of the rain (Wischmeier and Smith),
// the final infiltration rate and the silting-up disposition of the built-in
// method, the decay of the infiltration capacity with the accumulated energy,
// the split of the surface water into direct runoff and infiltration, and
// the tracers carried in and out. Plain functions of plain values.
#pragma once

#include <array>
#include <span>

namespace tavro::siltingup {

// Rain intensities (mm/h): at or below the first a step counts as dry; from
// the second on the energy per mm of rain no longer grows.
inline constexpr double kDryIntensity = 0.05;
inline constexpr double kMaximumEnergyIntensity = 76.2;
// Tillage day lists whose element 0 lies below this hold no tillage.
inline constexpr int kNoTillageBelow = -9997;
// Time since tillage on the day of tillage itself (days).
inline constexpr double kTillageDay = 0.3;

// Parameters A to H of the built-in formulas, with the defaults of method 1.
struct MethodParameters {
  double A = 65.0; // initial infiltration rate I0 (mm/h)
  double B = 12.2; // final infiltration rate Iinf = B K^C (100 sand)^D
  double C = 0.52;
  double D = -0.64;
  double E = 0.013; // disposition Cv = E (100 sand)^F K^G t^H
  double F = -1.03;
  double G = 0.7;
  double H = -0.19;
};

// Grain-size fractions of a soil: sand, silt, clay, stones1 to stones4.
using GrainSizes = std::array<double, 7>;

// Texture value K of a soil from its grain-size fractions.
double TextureValue(const GrainSizes &fractions);

// Whether a tillage day list (elements 0..c, element 0 the last day minus
// 366) holds tillage days.
bool HasTillage(std::span<const int> days);

// Days since the last tillage on day of the year `dayOfYear`: 0 without
// tillage days, 0.3 on a day of tillage, otherwise the days since the last
// tillage day before (the previous year's last one before the first).
double TimeSinceTillage(int dayOfYear, std::span<const int> days);

// Rain intensity (mm/h) of the water input (mm) of a step of dtMinutes.
double RainIntensity(double input, double dtMinutes);

// Rain pause (days) after a step: 0 after rain, otherwise one step longer.
double RainPauseAfter(double pause, double intensity, double dtMinutes);

// Kinetic energy per mm of rain at the intensity (Wischmeier and Smith 1978,
// e = 11.89 + 8.73 log10 i, capped at 76.2 mm/h; 0 for a dry step).
double RainEnergyFactor(double intensity);

// Final infiltration rate Iinf (mm/h) of the built-in method.
double FinalInfiltrationRate(const MethodParameters &p, double texture, double sand);

// Silting-up disposition Cv of the built-in method: 0 while the soil has no
// time since tillage.
double Disposition(const MethodParameters &p, double texture, double sand, double sinceTillage);

// The rain energy a cell has accumulated after a step.
struct EnergyStep {
  double sinceTillage = 0.0; // days; 0: no tillage, no energy
  double intensity = 0.0;    // mm/h
  double energyFactor = 0.0; // energy per mm of rain
  double cover = 0.0;        // soil cover fraction, at most 1
  double dtMinutes = 0.0;
  double minimumPause = 0.0; // days: a pause this long restarts the accumulation
  double rainPause = 0.0;    // days, after this step's update
};
double KineticEnergyAfter(double energy, const EnergyStep &step);

// Infiltration capacity (mm per step) from the initial and final rates
// (mm/h), decaying with the disposition times the accumulated energy.
double InfiltrationCapacity(double initialRate, double finalRate, double disposition, double energy,
                            double dtMinutes);

// The surface water of a step and where it goes; water = infiltrating +
// directRunoff holds exactly.
struct WaterSplit {
  double water = 0.0;        // input + surface storage: the new surface storage
  double infiltrating = 0.0; // the new water input of the soil
  double directRunoff = 0.0;
};
// Without tillage days all of the water infiltrates.
WaterSplit SplitWater(double input, double storage, double capacity, bool tilled);

// A tracer's stored value after the step's input: a mass per area (mm times
// concentration) for a tracer that does not evaporate, a concentration for
// one that does (mixed with the surface storage).
double TracerAfterInput(double stored, double input, double inputConcentration, double storage,
                        bool evaporating);

// The tracer leaving with direct runoff: the stored value afterwards, the
// outflow concentration and the exported mass (never above the stored mass).
struct TracerExport {
  double stored = 0.0;
  double outflowConcentration = 0.0;
  double exported = 0.0;
};
// outflowConcentration: the concentration kept when there is no runoff.
TracerExport ExportTracer(double stored, double directRunoff, double storage,
                          double maximumConcentration, bool evaporating,
                          double outflowConcentration);

} // namespace tavro::siltingup
