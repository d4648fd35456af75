// Depth integrals of a layer quantity: the water held between two depths, or
// the mean saturation between them, for the root-zone and profile outputs.
#pragma once

#include <span>

namespace tavro {

// Lower depth that stands for the bottom of the column.
inline constexpr double kColumnBottom = 9999.0;

// Over [b, c] (m below the surface): mode 1 the integral of v (m when v is a
// water content), any other mode the depth mean of v / theta_s. noData when
// c <= 0 or b < -1e-4; 1 for a range of no depth. A lower depth of 9999 or
// beyond the column integrates to the bottom. Layer boundaries are compared
// with a margin of 1e-8 m.
double IntegrateOverDepth(std::span<const double> dz, std::span<const double> theta_s, int layers,
                          std::span<const double> v, int mode, double b, double c, double noData);

} // namespace tavro
