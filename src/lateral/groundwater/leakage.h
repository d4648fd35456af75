// Vertical exchange between two stacked aquifer layers through the
// semi-pervious bed (leakance) that separates them. Pure function.
//
// Units: heads and elevations in m, leakance in 1/s, leakage in m/s,
// positive upward (from the lower layer into the upper one).
#pragma once

namespace tavro::groundwater {

// The largest head difference the leakage responds to, m: beyond it the
// exchange stays at the rate of this difference.
inline constexpr double kLeakageHeadLimit = 1.0;

// Leakage from the lower layer (head hLow, top topLow) into the upper one
// (head hUp) through a bed of leakance c. While the lower layer is
// unconfined and below the upper head, the upper layer drains onto the lower
// layer's water table; when that table lies above the upper head, nothing
// flows.
double LayerLeakage(double hUp, double hLow, double topLow, double leakance);

} // namespace tavro::groundwater
