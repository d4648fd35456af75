// Lateral interflow out of a soil layer above the groundwater table: the
// layer's conductivity times its thickness, the channel density of the
// subbasin and the slope, where the layer conducts better than the one below.
#pragma once

namespace tavro {

// Suction at a layer's lower boundary (m) from which it gives no interflow.
inline constexpr double kInterflowSuctionLimit = 3.45;

// Rate of interflow (m/s): krel · ksatUpper · dz · density · min(tanBeta, 1)
// when ksatUpper > ksatLower, else 0.
inline double InterflowRate(double krel, double ksatUpper, double ksatLower, double dz,
                            double drainageDensity, double tanBeta) {
  if (!(ksatUpper > ksatLower))
    return 0.0;
  return krel * ksatUpper * dz * drainageDensity * (tanBeta < 1.0 ? tanBeta : 1.0);
}

// The most a layer can give laterally in a step (m/s): its water above field
// capacity, 0 when it holds none.
inline double DrainableRate(double theta, double thetaFc, double dz, double dt) {
  const double q = (theta - thetaFc) * dz / dt;
  return q > 0.0 ? q : 0.0;
}

} // namespace tavro
