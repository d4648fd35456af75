// Reservoir release: the rule's sub-step value and the step's settling.
#include "routing/reservoirs/reservoir_release.h"

namespace tavro {

double RuleRelease(const OperationRule &rule, const RuleSeason &season, const ReleaseStep &step,
                   double v) {
  const double lastKey = rule.key[static_cast<std::size_t>(rule.rowCount)];
  if (!rule.flowIndexed && v > lastKey) {
    // Above the table the reservoir passes its inflow on (a lake only once its
    // level stands half a metre above the table's top).
    const double q = RuleValue(rule, season, v, RuleOwner::Reservoir);
    if (step.lake == nullptr)
      return step.inflow;
    const double spillLevel = step.lake->levels[static_cast<std::size_t>(rule.rowCount)] + 0.5;
    if (q < step.inflow && LevelFromVolume(*step.lake, v) > spillLevel)
      return step.inflow;
    return q;
  }
  if (!step.windowOpen)
    return 0.0;
  return RuleValue(rule, season, v, RuleOwner::Reservoir);
}

SettledStep SettleReservoirStep(double volume, double inflowVolume, double outflow,
                                const double *abstractionVolumes, int count, double ts,
                                bool release) {
  SettledStep result;
  double wanted = 0.0;
  for (int i = 0; i < count; ++i)
    wanted += abstractionVolumes[i];
  const double available = std::max(0.0, volume) + inflowVolume;
  if (wanted > available && wanted > 0.0)
    result.scale = available / wanted;
  result.taken = wanted * result.scale;
  double v = volume - result.taken + inflowVolume;
  double q = std::max(0.0, outflow);
  bool limited = false;
  if (v < q * ts) {
    q = std::max(0.0, v) / ts;
    limited = true;
  }
  if (release)
    v = limited ? 0.0 : v - q * ts;
  result.volume = std::max(0.0, v);
  result.outflow = q;
  return result;
}

} // namespace tavro
