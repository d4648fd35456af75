// Mixing of a dissolved tracer in an aquifer cell.
#include "lateral/groundwater/tracer_mixing.h"

#include <cmath>

namespace tavro::groundwater {

double MixedConcentration(double c, double volume, const CellInflows &inflows,
                          const CellInflows &concentrations, double &total) {
  double mass = c * volume;
  total = volume;
  for (std::size_t i = 0; i < inflows.size(); ++i) {
    mass += concentrations[i] * inflows[i];
    total += inflows[i];
  }
  return total > 0.0 ? mass / total : 0.0;
}

double DecayFactor(double dtDays, double halfLifeDays) {
  return std::exp(-dtDays / (1.442695041111 * halfLifeDays));
}

} // namespace tavro::groundwater
