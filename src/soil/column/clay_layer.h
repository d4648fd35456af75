// A clay layer in the column: the layer that holds the clay depth, and the
// conductivity across its boundaries.
#pragma once

#include <span>

namespace tavro {

// The first layer whose lower boundary lies at or below clayDepth (m below
// the surface); n when the clay lies deeper; 0 (none) for a depth of 0 or less.
int ClayLayer(std::span<const double> dz, int layers, double clayDepth);

// The conductivity across a boundary of the clay layer (m/s): the clay's
// saturated conductivity times the relative conductivity.
inline double ClayConductivity(double ksatClay, double krel) { return ksatClay * krel; }

} // namespace tavro
