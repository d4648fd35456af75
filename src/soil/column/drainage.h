// Artificial drainage out of the layer that holds the drains.
#pragma once

namespace tavro {

// Drainage rate (m/s): the smaller of the layer's drainable rate qmax and
// 2 · krel · ksat · dz / distance · cellSize / distance.
inline double DrainageRate(double qmax, double krel, double ksat, double dz, double distance,
                           double cellSize) {
  const double q = 2.0 * krel * ksat * dz / distance * cellSize / distance;
  return q < qmax ? q : qmax;
}

} // namespace tavro
