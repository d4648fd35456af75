// Saturated conductivities of a column over permafrost: every layer whose
// lower boundary lies deeper than the thaw depth conducts only the reduced
// conductivity; a frozen top layer lets at most that much water in.
#pragma once

#include "soil/column/column_state.h"

namespace tavro {

// Fills ksat (layers 1..n) from the soil's values; with a thaw depth
// (thawDepth > noData, negative below the surface, compared by magnitude
// with the depths of the layer bottoms) the frozen layers get reducedKsat.
// Returns whether layer 1 is frozen.
bool PermafrostKsat(const ColumnGeometry &geometry, double thawDepth, double noData,
                    double reducedKsat, std::span<double> ksat);

// The surface input rate (m/s, downward positive) that a frozen top layer
// admits: at most reducedKsat, still downward; the rest becomes excess.
inline double FrozenInputRate(double inputRate, double reducedKsat) {
  return inputRate > reducedKsat ? reducedKsat : inputRate;
}

} // namespace tavro
