// Solute transport in one soil column for one internal step.
#include "soil/column/solute_transport.h"

#include <algorithm>
#include <cstddef>

namespace tavro {
namespace {

constexpr double kLimitedBelow = 0.99999; // a layer giving less than this share is limited

std::size_t At(int j) { return static_cast<std::size_t>(j); }

// The outflow rates a layer is asked to give.
struct LayerOutflow {
  double interflow = 0.0;
  double withdrawal = 0.0;
  double exfiltration = 0.0;
  double flux = 0.0;
};

// One tracer in one call: the water, the tracer's columns and the layer
// factors.
struct TracerStep {
  const SoluteWater &water;
  const SoluteKind &kind;
  std::span<double> s;        // updated column
  std::span<const double> s0; // column at entry
  std::span<const double> factor;

  double Q(int j) const { return water.flux[At(j)]; }
  bool Limited(int j) const { return factor[At(j)] <= kLimitedBelow; }
  double SurfaceDivisor() const { return water.directRunoff - Q(0); }
  // Amount per unit of water content at entry (an amount tracer).
  double PerTheta(int j) const {
    const double t0 = water.thetaOld[At(j)];
    return t0 > 0.001 ? s0[At(j)] / t0 : 0.0;
  }
  // Amount carried by the water rate w (m/s) that passes through layer j
  // from the layer above (the surface water for layer 1).
  double PassThrough(int j, double w) const {
    if (j == 1) {
      const double d = SurfaceDivisor();
      return d > 0.0 ? s[0] * w / d : 0.0;
    }
    const double theta = water.theta[At(j - 1)];
    return theta > 0.0 ? s[At(j - 1)] * w * water.tMs / (theta * 1000.0 * water.dz[At(j - 1)])
                       : 0.0;
  }
  // Amount leaving layer j with the lateral outflow rate (interflow,
  // baseflow or exfiltration).
  double AmountOut(int j, double rate) const {
    const double dz = water.dz[At(j)];
    double v = rate * water.dt / dz * PerTheta(j);
    if (Limited(j)) {
      const double given = factor[At(j)] * rate;
      v = given * water.dt / dz * PerTheta(j);
      if (j == 1 || water.thetaOld[At(j - 1)] > 0.001)
        v += PassThrough(j, rate - given);
    }
    return std::min(v, rate * kind.maxConc * water.tMs);
  }
  double ConcentrationOut(int j, double rate) const {
    if (!Limited(j))
      return s[At(j)] * rate * water.tMs;
    const double given = factor[At(j)] * rate;
    return (rate - given) * s[At(j - 1)] * water.tMs + s[At(j)] * given * water.tMs;
  }
  double AmountTop(int j, double aboveBottom) const {
    if (j > 1)
      return aboveBottom;
    const double q0 = Q(0);
    const double capped = -kind.maxConc * q0 * water.tMs;
    if (q0 < 0.0) {
      const double d = SurfaceDivisor();
      return std::min(d > 0.0 ? s0[0] * -q0 / d : 0.0, capped);
    }
    return -std::min(q0 * water.dt / water.dz[1] * PerTheta(1), q0 * kind.maxConc * water.tMs);
  }
  double AmountBottom(int j) const {
    const double q = Q(j);
    if (j >= water.layers)
      return 0.0; // the deepest layer passes nothing through the bottom
    const double cap = -q * kind.maxConc * water.tMs;
    if (q > 0.0)
      return std::max(-q * water.dt / water.dz[At(j + 1)] * PerTheta(j + 1), cap);
    const double dz = water.dz[At(j)];
    double v = -q * water.dt / dz * PerTheta(j);
    if (Limited(j)) {
      const double given = factor[At(j)] * q;
      v = -given * water.dt / dz * PerTheta(j) + PassThrough(j, -(q - given));
    }
    return std::min(v, cap);
  }
  double ConcentrationTop(int j, double aboveBottom) const {
    if (j > 1)
      return aboveBottom;
    const double q0 = Q(0);
    return -q0 * (q0 < 0.0 ? s0[0] : s0[1]) * water.tMs;
  }
  double ConcentrationBottom(int j) const {
    const double q = Q(j);
    if (j >= water.layers)
      return 0.0;
    if (q > 0.0)
      return -s0[At(j + 1)] * q * water.tMs;
    if (!Limited(j))
      return -s0[At(j)] * q * water.tMs;
    const double given = factor[At(j)] * q;
    return -s[At(j - 1)] * (q - given) * water.tMs - s0[At(j)] * given * water.tMs;
  }
  double RiverIn(int j, double riverConc) const {
    const double r = water.riverInfiltration[At(j)];
    return r > 0.0 ? r * riverConc * water.tMs : 0.0;
  }
  double SupplyIn(int j, double groundwaterConc) const {
    return water.groundwaterCoupled ? groundwaterConc * water.supply[At(j)] * water.tMs : 0.0;
  }
};

// Share of the requested outflow each transported layer can give (1 when
// it holds enough water or none at all).
void LayerFactors(const SoluteWater &w, int m, std::span<double> factor) {
  for (int j = 1; j <= m; ++j) {
    const auto i = At(j);
    factor[i] = 1.0;
    if (w.thetaOld[i] <= 0.0)
      continue;
    const double available = w.thetaOld[i] * w.dz[i] / w.dt;
    const double requested = w.interflow[i] + w.withdrawal[i] - w.flux[i] + w.exfiltration[i];
    if (available > 0.0 && available < requested)
      factor[i] = available / requested;
  }
}

struct LayerAmounts {
  double top = 0.0, bottom = 0.0, interflow = 0.0, baseflow = 0.0, exfiltration = 0.0;
};

// Layers 1..m of one tracer; returns a_bot of layer m.
double MoveThroughLayers(const TracerStep &step, int m, int tracer, double riverConc,
                         double groundwaterConc, SoluteOutflows &out, const SoluteReport &report) {
  const SoluteWater &w = step.water;
  const bool amount = !step.kind.evaporating;
  double aboveBottom = 0.0;
  for (int j = 1; j <= m; ++j) {
    const auto i = At(j);
    LayerAmounts a;
    if (amount) {
      a.top = step.AmountTop(j, aboveBottom);
      a.bottom = step.AmountBottom(j);
      a.interflow = step.AmountOut(j, w.interflow[i]);
      a.baseflow = step.AmountOut(j, w.withdrawal[i]) - step.SupplyIn(j, groundwaterConc);
      a.exfiltration = step.AmountOut(j, w.exfiltration[i]);
    } else {
      a.top = step.ConcentrationTop(j, aboveBottom);
      a.bottom = step.ConcentrationBottom(j);
      a.interflow = step.ConcentrationOut(j, w.interflow[i]);
      a.baseflow = step.ConcentrationOut(j, w.withdrawal[i]) - step.SupplyIn(j, groundwaterConc);
      a.exfiltration = step.ConcentrationOut(j, w.exfiltration[i]);
    }
    const double net =
        a.top - a.bottom - a.interflow - a.baseflow - a.exfiltration + step.RiverIn(j, riverConc);
    if (amount) {
      step.s[i] = step.s0[i] + net;
      if (j == 1)
        step.s[0] -= a.top;
      out.interflow += a.interflow;
      out.baseflow += a.baseflow;
      out.exfiltration += a.exfiltration;
    } else {
      const double water = w.dz[i] * 1000.0 * w.theta[i];
      step.s[i] =
          w.theta[i] > 0.0 ? (w.thetaOld[i] * 1000.0 * w.dz[i] * step.s0[i] + net) / water : 0.0;
      out.interflow += a.interflow / w.tMs;
      out.baseflow += a.baseflow / w.tMs;
      out.exfiltration += a.exfiltration / w.tMs;
    }
    if (report)
      report(j, tracer, a.top, a.bottom, a.interflow, a.baseflow, a.exfiltration);
    aboveBottom = a.bottom;
  }
  return aboveBottom;
}

// What leaves the deepest transported layer m enters layer m + 1 (or is
// taken from it when the flux is upward), so no tracer is lost below.
void BookBelow(const TracerStep &step, int m, double bottom) {
  const SoluteWater &w = step.water;
  if (m >= w.layers)
    return;
  const auto i = At(m + 1);
  if (!step.kind.evaporating) {
    step.s[i] += bottom;
    return;
  }
  const double water = w.theta[i] * 1000.0 * w.dz[i];
  if (water > 0.0)
    step.s[i] += bottom / water;
}

double AquiferBelow(const SoluteWater &w) {
  if (!w.groundwaterCoupled)
    return 0.0;
  const double column = w.zBottom[0] - w.zBottom[At(w.layers)];
  return std::max(0.0, w.aquiferThickness - column);
}

void MixAmounts(const SoluteWater &w, std::span<double> s, double &groundwaterConc) {
  const int g = w.groundwaterLayer;
  const int n = w.layers;
  double mass = 0.0;
  double volume = 0.0;
  for (int j = g; j <= n; ++j) {
    mass += s[At(j)];
    volume += w.theta[At(j)] * w.dz[At(j)];
  }
  const double h = AquiferBelow(w);
  if (w.groundwaterCoupled) {
    mass += groundwaterConc * w.thetaSat[At(g)] * 1000.0 * h;
    volume += h * w.thetaSat[At(g)];
  }
  for (int j = g; j <= n; ++j)
    s[At(j)] = volume > 0.0 ? w.dz[At(j)] * w.theta[At(j)] * mass / volume : 0.0;
  if (w.groundwaterCoupled)
    groundwaterConc = volume > 0.0 ? mass / volume / 1000.0 : 0.0;
}

void MixConcentrations(const SoluteWater &w, std::span<double> s, double &groundwaterConc,
                       SoluteOutflows &out) {
  out.interflow = w.interflowSum > 0.0 ? out.interflow / w.interflowSum : 0.0;
  out.baseflow = w.baseflow > 0.0 ? out.baseflow / w.baseflow : 0.0;
  out.exfiltration =
      w.groundwaterCoupled && w.exfiltrationSum > 0.0 ? out.exfiltration / w.exfiltrationSum : 0.0;
  const int g = w.groundwaterLayer;
  const int n = w.layers;
  double solute = 0.0;
  double volume = 0.0;
  for (int j = g; j <= n; ++j) {
    const double water = w.theta[At(j)] * w.dz[At(j)];
    solute += s[At(j)] * water;
    volume += water;
  }
  if (w.groundwaterCoupled) {
    const double h = AquiferBelow(w);
    solute += groundwaterConc * w.thetaSat[At(n)] * h;
    volume += h * w.thetaSat[At(n)];
  }
  const double c = volume > 0.0 ? solute / volume : 0.0;
  for (int j = g; j <= n; ++j)
    s[At(j)] = c;
  if (w.groundwaterCoupled)
    groundwaterConc = c;
}

} // namespace

void SoluteWorkspace::Resize(int maxLayers) {
  const auto size = static_cast<std::size_t>(std::max(maxLayers, 0)) + 1;
  start.assign(size, 0.0);
  factor.assign(size, 1.0);
}

int TransportedLayers(const SoluteWater &w) {
  const int n = w.layers;
  if (w.groundwaterLayer >= n)
    return n;
  int m = w.groundwaterLayer + 1;
  while (m < n && w.supply[At(m + 1)] > 0.0)
    ++m;
  while (m < n && (w.riverInfiltration[At(m + 1)] > 0.0 || w.exfiltration[At(m + 1)] > 0.0))
    ++m;
  return std::min(m, n);
}

void TransportSolutes(std::span<const SoluteKind> kinds, std::span<const std::span<double>> storage,
                      std::span<const double> riverConc, std::span<double> groundwaterConc,
                      const SoluteWater &water, SoluteWorkspace &work,
                      std::span<SoluteOutflows> outflows, const SoluteReport &report) {
  const int n = water.layers;
  const int m = TransportedLayers(water);
  LayerFactors(water, m, work.factor);
  for (std::size_t t = 1; t < kinds.size(); ++t) {
    const SoluteKind &kind = kinds[t];
    const std::span<double> s = storage[t];
    std::copy_n(s.begin(), n + 1, work.start.begin());
    SoluteOutflows &out = outflows[t];
    out = SoluteOutflows{};
    const TracerStep step{water, kind, s, work.start, work.factor};
    const double bottom = MoveThroughLayers(step, m, static_cast<int>(t), riverConc[t],
                                            groundwaterConc[t], out, report);
    BookBelow(step, m, bottom);
    if (kind.evaporating)
      MixConcentrations(water, s, groundwaterConc[t], out);
    else
      MixAmounts(water, s, groundwaterConc[t]);
    if (kind.radioactive)
      for (int j = 0; j <= n; ++j)
        s[At(j)] *= kind.decay;
  }
}

} // namespace tavro
