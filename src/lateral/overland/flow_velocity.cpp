// The exponent 0.66667 and the unit weight of water 9815.0 N/m3 are part of
// the defined results.
#include "lateral/overland/flow_velocity.h"

#include "lateral/overland/surface_slope.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tavro::overland {
namespace {

struct Gradient {
  double Drop = 0.0;  // E_d, m
  double Slope = 0.0; // s_d
};

Gradient GradientTowards(const Neighbourhood &n, int method, int slopeCase, int d) {
  const double length = FlowLength(d, n.CellSize);
  const double head = CellHead(n, method);
  const double target = NeighbourHead(n, method, d);
  if (slopeCase != kInteriorCell)
    return {head - n.NeighbourElevation[static_cast<std::size_t>(d)], (head - target) / length};
  if (target < n.Elevation)
    return {head - target, (head - target) / length};
  return {head - target, (NeighbourHead(n, method, Opposite(d)) - target) / (2.0 * length)};
}

// y^0.66667 of the last depth asked for: the directions of a cell share
// their depth where the cell's own water depth limits them.
class DepthPower {
public:
  double operator()(double y) {
    if (!(y == base_)) {
      base_ = y;
      value_ = std::pow(y, 0.66667);
    }
    return value_;
  }

private:
  double base_ = std::numeric_limits<double>::quiet_NaN();
  double value_ = 0.0;
};

// The velocity iteration of methods 1 to 4 at the depth the volume limit
// gives; va and vb carry the last two iterates, vm their mean.
struct Iteration {
  double Va = 0.0, Vb = 0.0, Vm = 0.0, Y = 0.0, K = 0.0;
};

void IterateVelocity(Iteration &it, const VelocitySettings &s, const LandUseResistance &u,
                     double qMax, double length, double sigma, double factor, DepthPower &power) {
  int count = 0;
  do {
    it.Vm = (it.Va + it.Vb) / 2.0;
    it.Y = qMax / it.Vm / length * factor;
    it.K = FlowResistance(u, s.Resistance, it.Vm, it.Y, sigma);
    it.Va = it.Vb;
    it.Vb = sigma * power(it.Y) * it.K;
    ++count;
  } while (count < s.MaxIterVelocity && std::fabs(it.Va - it.Vb) > s.MaxErrorVelocity);
}

// Fixed point of v = sigma y^0.66667 k(v, y) at a given depth.
double VelocityAtDepth(const VelocitySettings &s, const LandUseResistance &u, double start,
                       double y, double sigma, DepthPower &power) {
  // The depth is fixed here: its power is taken once.
  const double rise = sigma * power(y);
  double previous = start;
  double k = FlowResistance(u, s.Resistance, start, y, sigma);
  int count = 0;
  double change = 0.0;
  do {
    const double v = rise * k;
    change = std::fabs(previous - v);
    previous = v;
    k = FlowResistance(u, s.Resistance, v, y, sigma);
    ++count;
  } while (change > s.MaxErrorVelocity && count < s.MaxIterVelocity);
  return rise * k;
}

void DirectionFlow(const Neighbourhood &n, const VelocitySettings &s, const LandUseResistance &u,
                   double criticalShearStress, int slopeCase, double weight, int d,
                   DepthPower &power, CellFlow &flow) {
  double &v = flow.Velocity[static_cast<std::size_t>(d)];
  double &f = flow.Flux[static_cast<std::size_t>(d)];
  const double h = n.Depth;
  if (weight <= 0.0 || h <= 0.0) {
    v = 0.0;
    f = 0.0;
    return;
  }
  if (v <= 0.0)
    v = 0.1;
  const double length = FlowLength(d, n.CellSize);
  const Gradient g = GradientTowards(n, s.Method, slopeCase, d);
  const double sigma = g.Slope > 0.0 ? std::sqrt(g.Slope) : 0.0;
  const double area = n.CellSize * n.CellSize * weight;
  const double qMax = std::min(g.Drop * area / s.MaxSubTimeStep, area * h / s.MaxSubTimeStep);
  if (s.Method == 5) {
    v = std::min(power(h) * 10.0 * sigma, length / (s.MinSubTimeStep * 20.0));
    f = v * length * h;
    return;
  }
  Iteration it{v, v};
  IterateVelocity(it, s, u, qMax, length, sigma, 1.0, power);
  double factor = 1.0;
  // k equals K_ST for the fixed-coefficient land uses, where the power is 1.
  const double ratio = it.K / u.Strickler;
  const double tau = (ratio == 1.0 ? 1.0 : std::pow(ratio, 1.5)) * it.Y * 9815.0 * sigma * sigma;
  if (criticalShearStress <= tau) {
    factor = s.ConcentrationFactor <= 1.0 ? 1.0 : s.ConcentrationFactor;
    if (factor > 1.0) {
      it.Va = it.Vb;
      IterateVelocity(it, s, u, qMax, length, sigma, factor, power);
    }
  }
  double y = it.Y;
  double velocity = it.Vb;
  if (h < y / factor) {
    y = factor * h;
    velocity = VelocityAtDepth(s, u, it.Vb, y, sigma, power);
  }
  if (y < 1e-4) {
    y = 0.0;
    velocity = 0.0;
  }
  v = velocity;
  f = velocity * length * y / factor;
}

} // namespace

bool KeepsLastFlow(const OutflowState &outflow, const VelocitySettings &settings, int innerStep,
                   int recomputeStep) {
  return outflow.Weights[0] >= 8.0 && innerStep != 0 && innerStep != recomputeStep &&
         settings.Method != 5;
}

void FlowVelocity(const Neighbourhood &n, const VelocitySettings &settings,
                  const LandUseResistance &landUse, double criticalShearStress, int slopeCase,
                  const OutflowState &outflow, int innerStep, int recomputeStep, CellFlow &flow,
                  const VelocityReport &report) {
  if (!KeepsLastFlow(outflow, settings, innerStep, recomputeStep)) {
    flow.Flux[0] = 0.0;
    DepthPower power;
    const bool reports = report.Raised();
    for (int d = 1; d <= kDirections; ++d) {
      const auto k = static_cast<std::size_t>(d);
      DirectionFlow(n, settings, landUse, criticalShearStress, slopeCase, outflow.Weights[k], d,
                    power, flow);
      flow.Flux[0] += flow.Flux[k];
      if (reports)
        report.Report(d, outflow.Weights[k], flow.Velocity[k], flow.Flux[k], flow.Flux[0]);
    }
    if (settings.Method != 5 && flow.Flux[0] > 0.0) {
      const double cap = n.CellSize * n.CellSize * n.Depth / settings.MaxSubTimeStep;
      if (cap / flow.Flux[0] < 1.0) {
        const double scale = cap / flow.Flux[0];
        flow.Flux[0] = 0.0;
        for (int d = 1; d <= kDirections; ++d) {
          double &f = flow.Flux[static_cast<std::size_t>(d)];
          if (f > 0.0)
            f *= scale;
          flow.Flux[0] += f;
        }
      }
    }
  }
  SetMainDirectionFlux(outflow.MainDirection, flow.Flux.data());
}

} // namespace tavro::overland
