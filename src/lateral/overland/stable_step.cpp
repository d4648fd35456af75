// Stable inner step of the overland flow.
#include "lateral/overland/stable_step.h"

#include <algorithm>

namespace tavro::overland {

double CellStepLimit(const PerDirection &weights, const PerDirection &velocities, double cellSize) {
  double limit = kNoStepLimit;
  for (int d = 1; d <= kDirections; ++d) {
    const auto i = static_cast<std::size_t>(d);
    if (weights[i] > 1e-4 && velocities[i] > 1e-5)
      limit = std::min(limit, cellSize / velocities[i]);
  }
  return limit;
}

InnerSteps StableInnerStep(double substepLength, double minimum, double minStep, double maxStep) {
  double step = substepLength / (static_cast<int>(substepLength / minimum) + 1);
  if (step < minStep)
    step = minStep;
  else if (step > maxStep)
    step = maxStep;
  return {step, static_cast<int>(substepLength / step) + 1};
}

int InnerStepCount(double substepLength, double step, double minStep) {
  const double end = substepLength - 0.5 * minStep;
  if (!(end > 0.0))
    return 0;
  int count = 0;
  for (double elapsed = 0.0; elapsed < end; elapsed += step)
    ++count;
  return count;
}

} // namespace tavro::overland
