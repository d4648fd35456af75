// What happens to every interpolated value before it lands in the grid, in
// this order: the scaling factor; the limits (a value below the lower limit
// becomes the lower replacement, above the upper limit the upper one); the
// climate scenario (added or multiplied); the scaling grid's factor. The
// limits act first, so the final value may lie outside them.
#pragma once

namespace tavro::interpolation {

struct ResultLimits {
  double ScalingFactor = 1.0;
  double LowerLimit = 0.0;
  double LowerReplacement = 0.0;
  double UpperLimit = 0.0;
  double UpperReplacement = 0.0;
};

enum class ScenarioKind { None, Additive, Multiplicative };

inline double ApplyScalingAndLimits(double v, const ResultLimits &limits) {
  v *= limits.ScalingFactor;
  if (v < limits.LowerLimit)
    return limits.LowerReplacement;
  if (v > limits.UpperLimit)
    return limits.UpperReplacement;
  return v;
}

inline double ApplyScenario(double v, ScenarioKind kind, double scenarioValue) {
  switch (kind) {
  case ScenarioKind::Additive:
    return v + scenarioValue;
  case ScenarioKind::Multiplicative:
    return v * scenarioValue;
  case ScenarioKind::None:
    break;
  }
  return v;
}

} // namespace tavro::interpolation
