// Per-cell formulas of the silting-up.
#include "landsurface/silting_up/silting_up_kernels.h"

#include "kernel/tracer_concentration.h"

#include <algorithm>
#include <cmath>

namespace tavro::siltingup {
namespace {

// Weights of the grain-size fractions in the exponent of the texture value,
// in the order sand, silt, clay, stones1 to stones4.
constexpr std::array<double, 7> kTextureWeights{
    5.100385157531412, 2.1003620619491743, -1.0969100130080562, 7.100370545117563,
    8.100370545117563, 9.100370545117563,  10.100370545117563};

// Wischmeier and Smith: e = 11.89 + 8.73 log10 i; its value at the cap.
constexpr double kEnergyIntercept = 11.89;
constexpr double kEnergySlope = 8.73;
constexpr double kMaximumEnergyFactor = 28.33;

constexpr double kMinutesPerHour = 60.0;
constexpr double kMinutesPerDay = 1440.0;

} // namespace

double TextureValue(const GrainSizes &fractions) {
  // Summed in the order clay, silt, sand, stones1 to stones4.
  const double exponent = kTextureWeights[2] * fractions[2] + kTextureWeights[1] * fractions[1] +
                          kTextureWeights[0] * fractions[0] + kTextureWeights[3] * fractions[3] +
                          kTextureWeights[4] * fractions[4] + kTextureWeights[5] * fractions[5] +
                          kTextureWeights[6] * fractions[6];
  return std::pow(10.0, 0.5 * exponent);
}

bool HasTillage(std::span<const int> days) { return !days.empty() && days[0] >= kNoTillageBelow; }

double TimeSinceTillage(int dayOfYear, std::span<const int> days) {
  if (!HasTillage(days))
    return 0.0;
  const std::size_t count = days.size() - 1;
  int since = 0;
  if (count == 0 || dayOfYear >= days[count]) {
    since = dayOfYear - days[count];
  } else if (dayOfYear < days[1]) {
    since = dayOfYear - days[0];
  } else {
    for (std::size_t j = 2; j <= count; ++j)
      if (dayOfYear < days[j]) {
        since = dayOfYear - days[j - 1];
        break;
      }
  }
  return since > 0 ? static_cast<double>(since) : kTillageDay;
}

double RainIntensity(double input, double dtMinutes) {
  return input / (dtMinutes / kMinutesPerHour);
}

double RainPauseAfter(double pause, double intensity, double dtMinutes) {
  return intensity > kDryIntensity ? 0.0 : pause + dtMinutes / kMinutesPerDay;
}

double RainEnergyFactor(double intensity) {
  if (intensity <= kDryIntensity)
    return 0.0;
  if (intensity >= kMaximumEnergyIntensity)
    return kMaximumEnergyFactor;
  return kEnergySlope * std::log10(intensity) + kEnergyIntercept;
}

double FinalInfiltrationRate(const MethodParameters &p, double texture, double sand) {
  return p.B * std::pow(texture, p.C) * std::pow(100.0 * sand, p.D);
}

double Disposition(const MethodParameters &p, double texture, double sand, double sinceTillage) {
  if (!(sinceTillage > 0.0))
    return 0.0;
  return p.E * std::pow(100.0 * sand, p.F) * std::pow(texture, p.G) * std::pow(sinceTillage, p.H);
}

double KineticEnergyAfter(double energy, const EnergyStep &s) {
  if (!(s.sinceTillage > 0.0))
    return 0.0;
  const double increment =
      s.intensity * s.energyFactor * (1.0 - s.cover) * s.dtMinutes / kMinutesPerHour;
  // A pause at least as long as the zone's minimum restarts the accumulation.
  return s.minimumPause > s.rainPause ? energy + increment : increment;
}

double InfiltrationCapacity(double initialRate, double finalRate, double disposition, double energy,
                            double dtMinutes) {
  return (finalRate + (initialRate - finalRate) * std::exp(-disposition * energy)) * dtMinutes /
         kMinutesPerHour;
}

WaterSplit SplitWater(double input, double storage, double capacity, bool tilled) {
  WaterSplit split;
  split.water = input + storage;
  if (tilled) {
    split.infiltrating = std::min(split.water, capacity);
    split.directRunoff = split.water - split.infiltrating;
  } else {
    split.infiltrating = split.water;
    split.directRunoff = 0.0;
  }
  return split;
}

double TracerAfterInput(double stored, double input, double inputConcentration, double storage,
                        bool evaporating) {
  if (!(input > 0.0))
    return stored;
  if (evaporating)
    return MixConcentration(stored, inputConcentration, storage, input);
  return stored + input * inputConcentration;
}

TracerExport ExportTracer(double stored, double directRunoff, double storage,
                          double maximumConcentration, bool evaporating,
                          double outflowConcentration) {
  TracerExport result{stored, outflowConcentration, 0.0};
  if (!(directRunoff > 0.0))
    return result;
  if (evaporating) {
    result.outflowConcentration = stored;
    return result;
  }
  // The runoff's share of the stored mass, at most the highest concentration.
  const double water = directRunoff + storage;
  const double share = water > 0.0 ? storage * stored / water : 0.0;
  result.exported = std::min(storage * maximumConcentration, share);
  result.stored = stored - result.exported;
  result.outflowConcentration = result.exported / directRunoff;
  return result;
}

} // namespace tavro::siltingup
