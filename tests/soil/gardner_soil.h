// A soil with Gardner's exponential closed forms, for tests of the column
// kernels against analytic solutions: Se = exp(-alpha · psi), Krel = Se.
#pragma once

#include "soil/column/column_state.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tavro::test {

class GardnerSoil {
public:
  GardnerSoil(double alpha, double thetaS, double thetaR)
      : alpha_(alpha), thetaS_(thetaS), thetaR_(thetaR) {}
  double Suction(int, double theta) const {
    const double se = std::clamp((theta - thetaR_) / (thetaS_ - thetaR_), 1e-12, 1.0);
    return -std::log(se) / alpha_;
  }
  double Krel(int, double theta, double limit) const {
    const double x = std::min(theta, limit);
    return std::clamp((x - thetaR_) / (thetaS_ - thetaR_), 0.0, 1.0);
  }
  double Theta(int, double suction) const {
    return thetaR_ + (thetaS_ - thetaR_) * std::exp(-alpha_ * std::max(suction, 0.0));
  }

private:
  double alpha_;
  double thetaS_;
  double thetaR_;
};

// Uniform layers of one soil: the arrays behind a ColumnGeometry.
struct UniformColumn {
  UniformColumn(int layers, double thickness, double thetaS, double thetaR, double ksat,
                double thetaFc)
      : dz(layers + 1, thickness), theta_s(layers + 1, thetaS), theta_r(layers + 1, thetaR),
        ksat(layers + 1, ksat), theta_fc(layers + 1, thetaFc) {
    geometry.layers = layers;
    geometry.dz = dz;
    geometry.theta_s = theta_s;
    geometry.theta_r = theta_r;
    geometry.ksat = this->ksat;
    geometry.theta_fc = theta_fc;
  }
  UniformColumn(const UniformColumn &) = delete;
  UniformColumn &operator=(const UniformColumn &) = delete;

  // A state with the surface at height 0 and the layers' bottoms below it.
  ColumnState State() const {
    ColumnState state(geometry.layers);
    for (int k = 1; k <= geometry.layers; ++k)
      state.z_bottom[static_cast<std::size_t>(k)] =
          state.z_bottom[static_cast<std::size_t>(k - 1)] - dz[static_cast<std::size_t>(k)];
    state.ksat = ksat;
    return state;
  }

  std::vector<double> dz, theta_s, theta_r, ksat, theta_fc;
  ColumnGeometry geometry;
};

} // namespace tavro::test
