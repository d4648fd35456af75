// The release of a reservoir over one routing step by its operation rule,
// in inner sub-steps of dTmin seconds, with the abstractions that take water
// straight from it by their own rule inside the same sub-steps; and the
// settling of a step's volume. Plain values in and out.
#pragma once

#include "routing/reservoirs/lake_table.h"
#include "routing/reservoirs/operation_rule.h"

#include <algorithm>
#include <cmath>

namespace tavro {

struct ReleaseStep {
  double volume = 0.0; // m3 at the start of the step
  double inflow = 0.0; // m3/s
  double dt = 0.0;     // routing step, minutes
  double dTmin = 60.0; // inner sub-step, s
  bool windowOpen = true;
  const LakeTable *lake = nullptr; // a lake spills by its level table
};

// Sub-steps of a routing step; 0 when dTmin exceeds the step.
inline int ReleaseSubsteps(double dt, double dTmin) {
  return dTmin > 0.0 ? static_cast<int>(dt * 60.0 / dTmin) : 0;
}

// The release of one sub-step for volume v (m3) by the rule, before the cap.
double RuleRelease(const OperationRule &rule, const RuleSeason &season, const ReleaseStep &step,
                   double v);

// Mean release (m3/s) over the step. rateOf(i, volume) gives abstraction i's
// rate (m3/s, i = 0..count-1) for the volume; taken[i] receives the volume
// (m3) it took, never more than the reservoir held. The volume stays >= 0.
template <class RateOf>
double EvaluateRelease(const OperationRule &rule, const RuleSeason &season, const ReleaseStep &step,
                       int count, RateOf &&rateOf, double *taken) {
  for (int i = 0; i < count; ++i)
    taken[i] = 0.0;
  const int m = ReleaseSubsteps(step.dt, step.dTmin);
  if (m == 0)
    return 0.0;
  const double cap = rule.TargetCap[static_cast<std::size_t>(season.column)];
  double v = step.volume;
  double sum = 0.0;
  for (int s = 1; s <= m; ++s) {
    v += step.inflow * step.dTmin;
    double q = std::max(0.0, RuleRelease(rule, season, step, v));
    if (cap > 0.0)
      q = std::min(q, cap);
    v -= q * step.dTmin;
    if (v < 0.0) {
      q += v / step.dTmin;
      v = 0.0;
    }
    sum += q / m;
    for (int i = 0; i < count; ++i) {
      const double a = std::min(std::max(0.0, rateOf(i, v) * step.dTmin), v);
      v -= a;
      taken[i] += a;
    }
  }
  return sum;
}

// The water side of a reservoir's step after the rule: the abstractions'
// volumes (limited together to what the reservoir holds with the step's
// inflow, scaled down alike), the inflow, the release limited to the water
// left, and the release itself when `release`. Returns the release (m3/s).
struct SettledStep {
  double volume = 0.0;  // m3 at the end of the step
  double outflow = 0.0; // m3/s
  double taken = 0.0;   // m3 taken by the abstractions
  double scale = 1.0;   // share of the abstractions' volumes that was taken
};
SettledStep SettleReservoirStep(double volume, double inflowVolume, double outflow,
                                const double *abstractionVolumes, int count, double ts,
                                bool release);

// One step of a reservoir's water: irrigation and the other abstractions
// leave first (within the volume), then the rule's release with the
// abstractions that draw on the reservoir inside its sub-steps, the inflow
// and the release (only when `release`, the step of a valid date).
struct ReservoirStepIn {
  double volume = 0.0;      // m3
  double inflow = 0.0;      // m3/s
  double dt = 0.0;          // minutes
  double dTmin = 60.0;      // s
  double irrigation = 0.0;  // m3 wanted by irrigation
  double abstraction = 0.0; // m3 wanted by the abstractions of the river modes
  bool release = true;      // valid date: inflow enters and the release leaves
  bool windowOpen = true;
  const LakeTable *lake = nullptr;
};
struct ReservoirStepOut {
  double volume = 0.0;       // m3 at the end
  double outflow = 0.0;      // m3/s
  double inflowVolume = 0.0; // m3 entered
  double irrigation = 0.0;   // m3 given to irrigation
  double abstraction = 0.0;  // m3 taken by every abstraction
};

template <class RateOf>
ReservoirStepOut StepReservoir(const OperationRule &rule, const RuleSeason &season,
                               const ReservoirStepIn &in, int count, RateOf &&rateOf,
                               double *taken) {
  ReservoirStepOut out;
  const double ts = in.dt * 60.0;
  double v = std::max(0.0, in.volume);
  out.irrigation = std::clamp(in.irrigation, 0.0, v);
  v -= out.irrigation;
  out.abstraction = std::clamp(in.abstraction, 0.0, v);
  v -= out.abstraction;
  out.inflowVolume = in.release ? in.inflow * ts : 0.0;
  const ReleaseStep step{v, in.inflow, in.dt, in.dTmin, in.windowOpen, in.lake};
  const double q = EvaluateRelease(rule, season, step, count, rateOf, taken);
  const SettledStep settled =
      SettleReservoirStep(v, out.inflowVolume, q, taken, count, ts, in.release);
  for (int i = 0; i < count; ++i)
    taken[i] *= settled.scale;
  out.abstraction += settled.taken;
  out.volume = settled.volume;
  out.outflow = settled.outflow;
  return out;
}

} // namespace tavro
