// The soil heat kernels against analytic references: the steady linear
// profile, energy conservation of the implicit step with and without water,
// the damped daily wave, the Bredehoeft-Papadopulos profile of a steady
// water flux, and the edge cases of the step count, the conductivity, the
// limiter and the thaw outputs.
#include "soil/column/soil_heat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

namespace tavro {
namespace {

// A column of layers, by default equal, with one conductivity and heat capacity.
struct UniformHeatColumn {
  int n;
  std::vector<double> dz, lambda, C, T;
  UniformHeatColumn(int layers, double thickness, double conductivity, double capacity,
                    double start)
      : n(layers), dz(layers + 1, thickness), lambda(layers + 1, conductivity),
        C(layers + 1, capacity), T(layers + 1, start) {}
  UniformHeatColumn(std::vector<double> thickness, std::vector<double> conductivity,
                    std::vector<double> capacity, std::vector<double> start)
      : n(static_cast<int>(thickness.size()) - 1), dz(std::move(thickness)),
        lambda(std::move(conductivity)), C(std::move(capacity)), T(std::move(start)) {}
  double Centre(int j) const { return (j - 0.5) * dz[1]; }
  double Depth() const { return n * dz[1]; }
};

// One implicit step of the column in place.
void ImplicitStep(UniformHeatColumn &c, TridiagonalWork &work, double seconds, double airT,
                  double lowerT, std::span<const double> waterFlux = {},
                  std::span<const double> macropore = {}, double macroporeT = 0) {
  const std::vector<double> old = c.T;
  ImplicitHeatInput in{c.lambda,  c.C,       c.dz,      old,    c.n,
                       seconds,   1.0,       airT,      lowerT, !waterFlux.empty(),
                       waterFlux, macropore, macroporeT};
  SolveHeatImplicit(in, work, c.T);
}

// One explicit step with limiting in place.
void ExplicitStep(UniformHeatColumn &c, double seconds, double airT, double lowerT) {
  std::vector<double> q(c.n + 1), dT(c.n + 1);
  const std::vector<double> old = c.T;
  ComputeHeatFluxes(q, c.lambda, c.dz, c.T, c.n, lowerT, airT, 1.0);
  ComputeTemperatureChange(dT, q, c.dz, c.C, c.n, seconds);
  ApplyTemperatureChange(c.T, old, dT, q, c.n, true, lowerT, airT);
}

TEST(SoilHeat, UniformColumnReachesTheLinearProfileExplicitAndImplicit) {
  constexpr double air = -5.0, lower = 3.0;
  for (const bool implicit : {false, true}) {
    UniformHeatColumn c(10, 0.1, 1.0, 2.0e6, 0.0);
    TridiagonalWork work(c.n);
    for (int step = 0; step < 2000; ++step)
      if (implicit)
        ImplicitStep(c, work, 86400.0, air, lower);
      else
        ExplicitStep(c, 3600.0, air, lower);
    for (int j = 1; j <= c.n; ++j)
      EXPECT_NEAR(c.T[j], air + (lower - air) * c.Centre(j) / c.Depth(), 1e-6)
          << (implicit ? "implicit" : "explicit") << " layer " << j;
  }
}

// Heat stored in the column, J/m2 relative to 0 degC, without latent heat.
double StoredHeat(const UniformHeatColumn &c, std::span<const double> T) {
  double sum = 0.0;
  for (int j = 1; j <= c.n; ++j)
    sum += c.C[j] * c.dz[j] * T[j];
  return sum;
}

TEST(SoilHeat, ImplicitStepConservesEnergyWithAndWithoutWater) {
  // A layered column: thickness, conductivity, capacity and start differ.
  const std::vector<double> start{0, 4.0, 2.0, -1.0, 0.5, 3.0, 6.0};
  UniformHeatColumn c({0, 0.05, 0.1, 0.2, 0.1, 0.3, 0.25}, {0, 0.8, 1.2, 1.5, 0.6, 2.0, 1.1},
                      {0, 1.5e6, 2.2e6, 2.8e6, 1.9e6, 2.4e6, 3.0e6}, start);
  constexpr double t = 3600.0, air = -8.0, lower = 5.0, inT = 2.0;
  TridiagonalWork work(c.n);
  struct Case {
    const char *name;
    double flux; // m/s, positive upward, the same across every boundary
    double macro;
  };
  for (const Case &k : {Case{"conduction only", 0.0, 0.0}, Case{"infiltration", -2e-6, 0.0},
                        Case{"upward flux", 1.5e-6, 0.0}, Case{"macropores", -1e-6, 3e-7}}) {
    std::copy(start.begin(), start.end(), c.T.begin());
    const bool water = k.flux != 0.0 || k.macro != 0.0;
    const std::vector<double> q(c.n + 1, k.flux);
    std::vector<double> m(c.n + 1, 0.0);
    m[3] = k.macro;
    ImplicitStep(c, work, t, air, lower,
                 water ? std::span<const double>(q) : std::span<const double>{}, m, inT);
    const double top = 2.0 * c.lambda[1] / c.dz[1] * (air - c.T[1]);
    const double bottom = 2.0 * c.lambda[c.n] / c.dz[c.n] * (lower - c.T[c.n]);
    // Advected heat: water enters at the upstream boundary temperature and
    // leaves at the temperature of the last layer it passes.
    double advected = 0.0;
    if (k.flux < 0.0)
      advected = -k.flux * kWaterFluxHeatCapacity * (air - c.T[c.n]);
    else if (k.flux > 0.0)
      advected = k.flux * kWaterFluxHeatCapacity * (lower - c.T[1]);
    advected += k.macro * kWaterFluxHeatCapacity * (inT - c.T[3]);
    const double change = StoredHeat(c, c.T) - StoredHeat(c, start);
    EXPECT_NEAR(change, (top + bottom + advected) * t, 1e-9 * std::abs(change)) << k.name;
  }
}

// Amplitude and phase (rad) of the daily harmonic of a series over one day.
struct Harmonic {
  double amplitude, phase;
};
Harmonic DailyHarmonic(const std::vector<double> &series, double omega, double dt) {
  double s = 0.0, co = 0.0;
  for (std::size_t i = 0; i < series.size(); ++i) {
    const double t = (i + 1) * dt;
    s += series[i] * std::sin(omega * t);
    co += series[i] * std::cos(omega * t);
  }
  const double norm = 2.0 / series.size();
  return {std::hypot(s, co) * norm, std::atan2(co, s)};
}

TEST(SoilHeat, DailySurfaceWaveIsDampedAndDelayedWithDepth) {
  constexpr double lambda = 1.0, capacity = 2.0e6, dt = 300.0;
  const double omega = 2.0 * std::numbers::pi / 86400.0;
  const double d = std::sqrt(2.0 * lambda / capacity / omega);
  UniformHeatColumn c(75, 0.02, lambda, capacity, 10.0);
  ASSERT_LE(c.dz[1], d / 5.0);
  TridiagonalWork work(c.n);
  const int upper = 3, lower = 13; // centres at 0.05 m and 0.25 m
  std::vector<double> a, b;
  const int perDay = 86400 / static_cast<int>(dt);
  for (int step = 1; step <= 12 * perDay; ++step) {
    ImplicitStep(c, work, dt, 10.0 + 5.0 * std::sin(omega * step * dt), 10.0);
    if (step > 11 * perDay) {
      a.push_back(c.T[upper] - 10.0);
      b.push_back(c.T[lower] - 10.0);
    }
  }
  const Harmonic ha = DailyHarmonic(a, omega, dt), hb = DailyHarmonic(b, omega, dt);
  const double dzPair = c.Centre(lower) - c.Centre(upper);
  EXPECT_NEAR(hb.amplitude / ha.amplitude, std::exp(-dzPair / d), 0.05 * std::exp(-dzPair / d));
  double lag = ha.phase - hb.phase;
  if (lag < 0.0)
    lag += 2.0 * std::numbers::pi;
  EXPECT_NEAR(lag, dzPair / d, 0.05 * dzPair / d);
}

TEST(SoilHeat, SteadyWaterFluxGivesTheBredehoeftPapadopulosProfile) {
  constexpr double lambda = 1.0, top = 2.0, bottom = 12.0, peclet = 2.0;
  for (const double direction : {-1.0, 1.0}) { // downward, upward
    UniformHeatColumn c(200, 0.005, lambda, 2.0e6, 5.0);
    const double flux = direction * peclet * lambda / (kWaterFluxHeatCapacity * c.Depth());
    const std::vector<double> q(c.n + 1, flux), macro(c.n + 1, 0.0);
    TridiagonalWork work(c.n);
    for (int step = 0; step < 20; ++step)
      ImplicitStep(c, work, 1e8, top, bottom, q, macro, 0.0);
    // Pe counts along the depth, positive when the water moves down.
    const double pe = -flux * kWaterFluxHeatCapacity * c.Depth() / lambda;
    for (int j = 1; j <= c.n; j += 10) {
      const double z = c.Centre(j) / c.Depth();
      const double expected = top + (bottom - top) * std::expm1(pe * z) / std::expm1(pe);
      EXPECT_NEAR(c.T[j], expected, 0.01 * (bottom - top))
          << "direction " << direction << " layer " << j;
    }
  }
}

TEST(SoilHeat, EdgeCases) {
  // Air and soil at one temperature over a day: only the longest step counts.
  {
    UniformHeatColumn c(4, 0.25, 1.0, 2.0e6, 3.0);
    std::vector<double> q(c.n + 1), change(c.n + 1);
    const HeatTrialStep trial{c.lambda, c.C, c.dz, c.T, c.n, 3.0, 3.0, 1.0, 86400.0, 60.0, 1800.0};
    EXPECT_EQ(HeatPreStageStepCount(trial, q, change), 48);
    EXPECT_EQ(change[1], 0.0);
  }
  // A strong trial change asks for more steps, down to the shortest step.
  EXPECT_EQ(HeatStepCount(10.0, 5.0, 0.0, 3600.0, 60.0, 1800.0), 8);
  EXPECT_EQ(HeatStepCount(1e6, 5.0, 0.0, 3600.0, 60.0, 1800.0), 60);

  // Saturated and fully liquid: each layer its own dry conductivity and
  // theta_s, however layered the soil.
  {
    const std::vector<double> ts{0, 0.45, 0.30}, dry{0, 0.58, 2.5}, f{0, 1.0, 1.0};
    const auto sat = MakeSaturatedHeatConductivity(ts, dry, 2, 0.5562);
    std::vector<double> lambda(3);
    ComputeHeatConductivity(lambda, {ts, dry, sat}, f, ts, 2, 0.5562, 2.33);
    for (int j = 1; j <= 2; ++j)
      EXPECT_NEAR(lambda[j], std::pow(dry[j], 1 - ts[j]) * std::pow(0.5562, ts[j]), 1e-12);
    // Just below the saturation margin the conductivity barely moves.
    const std::vector<double> below{0, 0.45 - 0.0101, 0.30 - 0.0101};
    std::vector<double> near(3);
    ComputeHeatConductivity(near, {ts, dry, sat}, f, below, 2, 0.5562, 2.33);
    for (int j = 1; j <= 2; ++j)
      EXPECT_NEAR(near[j], lambda[j], 0.02 * lambda[j]) << "layer " << j;
  }

  // The limiter: a layer at 0 degC between neighbours at 0 degC stays there,
  // whatever the change and the direction of the fluxes.
  struct LimitCase {
    double change, qAbove, qBelow;
  };
  for (const LimitCase k :
       {LimitCase{3, 1, 1}, LimitCase{-3, 1, -1}, LimitCase{3, -1, 1}, LimitCase{3, -1, -1}}) {
    std::vector<double> T{0, 0, 0, 0}, old{0, 0, 0, 0}, dT{0, 0, k.change, 0};
    const std::vector<double> q{0, k.qAbove, k.qBelow, 0};
    ApplyTemperatureChange(T, old, dT, q, 3, true, 0.0, 0.0);
    EXPECT_EQ(T[2], 0.0) << k.change << " " << k.qAbove << " " << k.qBelow;
  }

  // A zero heat flux below: the boundary sits at the bottom layer's old
  // temperature, so no heat crosses the bottom.
  {
    UniformHeatColumn c(3, 0.2, 1.3, 2.0e6, 0.0);
    c.T[1] = 1.0;
    c.T[2] = 2.0;
    c.T[3] = 4.0;
    const double boundary = HeatFluxBoundaryTemperature(0.0, c.dz[3], c.lambda[3], c.T[3]);
    EXPECT_EQ(boundary, 4.0);
    std::vector<double> q(4);
    ComputeHeatFluxes(q, c.lambda, c.dz, c.T, c.n, boundary, 0.0, 1.0);
    EXPECT_EQ(q[3], 0.0);
  }

  // Heat steps against water steps.
  struct PlanCase {
    int H, n, b, heat, internal, perInternal;
  };
  for (const PlanCase k : {PlanCase{6, 2, 4, 8, 2, 4}, PlanCase{3, 2, 4, 3, 3, 1},
                           PlanCase{1, 2, 4, 2, 2, 1}, PlanCase{8, 2, 4, 10, 2, 5}}) {
    const HeatStepPlan p = ReconcileHeatSteps(k.H, k.n, k.b);
    EXPECT_EQ(p.heatSteps, k.heat) << k.H << " " << k.n << " " << k.b;
    EXPECT_EQ(p.internalSteps, k.internal);
    EXPECT_EQ(p.heatPerInternal, k.perInternal);
  }

  // A thaw depth by hand: centres at 99.75 and 99.25 m, 2 and -1 degC, thaw
  // temperature -0.01: 99.75 - 0.5 * 2.01 / 3 = 99.415 m, 0.585 m deep.
  {
    const std::vector<double> z{100, 99.5, 99, 98.5}, dz{0, 0.5, 0.5, 0.5};
    const std::vector<double> thaw{0, -0.01, -0.01, -0.01};
    EXPECT_NEAR(ThawDepth(std::vector<double>{0, 2, -1, -3}, thaw, z, 3, -3.0), -0.585, 1e-12);
    EXPECT_NEAR(ThawDepth(std::vector<double>{0, 2, 2, 2}, thaw, z, 3, 3.0), -1.5, 1e-12);
    EXPECT_EQ(ThawDepth(std::vector<double>{0, -2, -2, -2}, thaw, z, 3, -3.0), 0.0);
    // Frozen below the thaw depth and at or below groundwater layer 2: layer 3.
    EXPECT_NEAR(
        FrozenSoilInGroundwater(std::vector<double>{0, 2, -1, -3}, thaw, z, dz, 3, -0.585, 2), 0.5,
        1e-12);
  }
}

TEST(SoilHeat, ThawTemperatureFromTheFreezingCurve) {
  std::vector<double> curve(1001);
  for (int k = 0; k <= 1000; ++k)
    curve[k] = 1.0 - k / 1000.0;
  EXPECT_NEAR(ThawTemperature(curve, 0.5), -5.0, 1e-12); // 0.5 is no longer above 0.5
  curve[0] = 0.4;
  EXPECT_NEAR(ThawTemperature(curve, 0.5), -0.01, 1e-12);
}

TEST(SoilHeat, NFactorLatentTermAndStartProfile) {
  EXPECT_EQ(SurfaceNFactor(0.7, -3, 0.5, 0.9, 1, 1), 0.7);
  EXPECT_EQ(SurfaceNFactor(-1, -3, 0.5, 0.9, 1, 1), 0.5);
  EXPECT_EQ(SurfaceNFactor(-1, 3, 0.5, 0.9, 1, 1), 0.9);
  EXPECT_EQ(SurfaceNFactor(-1, -3, -1, -1, 0.8, 1.1), 0.8);
  EXPECT_EQ(SurfaceNFactor(-1, 0, -1, -1, 0.8, 1.1), 1.1);

  const std::vector<double> theta{0, 0.3, 0.05}, res{0, 0.1, 0.05};
  std::vector<double> s{0, 0.2, 0.2};
  ComputeLatentHeatTerm(theta, res, s, 2, 334000.0, 1000.0);
  EXPECT_NEAR(s[1], 334000.0 * 1000.0 * 0.2 * 0.2, 1e-6);
  EXPECT_EQ(s[2], 0.0);

  std::vector<double> T(3);
  InitialTemperatureProfile(T, std::vector<double>{10, 9.5, 9}, 2, 4.0, -4.0);
  EXPECT_EQ(T[0], 4.0);
  EXPECT_NEAR(T[1], -2.0, 1e-12);
  EXPECT_NEAR(T[2], 2.0, 1e-12);
}

} // namespace
} // namespace tavro
