// The start tracer column of a cell and the decay per internal step.
#include "soil/column/tracer_start_column.h"

#include <cmath>
#include <cstddef>

namespace tavro {

void FillStartTracerColumn(const SoluteKind &kind, double soilini, double gwini,
                           int groundwaterLayer, int layers, std::span<const double> theta,
                           std::span<const double> dz, std::span<double> storage) {
  for (int j = 1; j <= layers; ++j) {
    const auto i = static_cast<std::size_t>(j);
    const double c = j < groundwaterLayer ? soilini : gwini;
    storage[i] = kind.evaporating ? c : c * theta[i] * 1000.0 * dz[i];
  }
}

double StoredConcentration(const SoluteKind &kind, double stored, double theta, double dz) {
  if (kind.evaporating)
    return stored;
  const double water = theta * 1000.0 * dz;
  double c = water > 0.0 ? stored / water : 0.0;
  if (kind.maxConc > 0.0 && c > kind.maxConc)
    c = kind.maxConc;
  return c;
}

double DecayPerInternalStep(double callFactor, int internalSteps) {
  return internalSteps <= 1 ? callFactor : std::pow(callFactor, 1.0 / internalSteps);
}

} // namespace tavro
