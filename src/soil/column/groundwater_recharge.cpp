// Groundwater recharge of one soil column.
#include "soil/column/groundwater_recharge.h"

#include <cstddef>

namespace tavro {
namespace {

double StorageTerm(const ColumnGeometry &geometry, const ColumnState &state,
                   const RechargeInputs &in) {
  const auto &z = state.z_bottom;
  const auto &ts = geometry.theta_s;
  const int gOld = in.oldLayer;
  const int gNew = in.newLayer;
  const double t0 = in.oldTable;
  const double t = in.newTable;
  if (gNew == gOld) {
    const auto g = static_cast<std::size_t>(gNew);
    const double zt = z[g - 1];
    const double zb = z[g];
    const double dg = geometry.dz[g];
    if (t <= t0) {
      const double divisor = zt - t;
      if (divisor == 0.0)
        return 0.0;
      return (t - t0) * (ts[g] - (dg * state.theta[g] - (t - zb) * ts[g]) / divisor) * 1000.0;
    }
    const double divisor = zt - t0;
    if (divisor == 0.0)
      return 0.0;
    return (t - t0) * (ts[g] - (dg * state.theta_old[g] - (t0 - zb) * ts[g]) / divisor) * 1000.0;
  }
  if (gNew < gOld) {
    const auto g = static_cast<std::size_t>(gNew);
    double s =
        (t - z[g]) * (ts[g] - (state.theta[g] - in.dt * state.supply[g] / geometry.dz[g])) * 1000.0;
    for (int j = gNew + 1; j <= gOld; ++j) {
      const auto i = static_cast<std::size_t>(j);
      s += (state.theta[i] - state.theta_old[i]) * geometry.dz[i] * 1000.0;
    }
    return s;
  }
  const auto g = static_cast<std::size_t>(gOld);
  double s = (z[g] - t0) * (ts[g] - state.theta[g]) * 1000.0;
  for (int j = gOld + 1; j <= gNew; ++j) {
    const auto i = static_cast<std::size_t>(j);
    s -= geometry.dz[i] * (state.theta_old[i] - state.theta[i]) * 1000.0;
  }
  return s;
}

} // namespace

double ComputeGroundwaterRecharge(const ColumnGeometry &geometry, const ColumnState &state,
                                  const RechargeInputs &in) {
  if (in.externalTable)
    return in.newLayer >= 2 ? -in.t_ms * state.flux[static_cast<std::size_t>(in.newLayer - 1)]
                            : 0.0;
  double rate = in.baseflowRate + state.supply[0];
  if (in.groundwaterCoupled)
    rate += state.exfiltration_sum - state.river_infiltration_sum;
  return rate * in.t_ms + StorageTerm(geometry, state, in);
}

} // namespace tavro
