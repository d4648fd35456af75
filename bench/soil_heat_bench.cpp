// Implicit soil heat steps per second of one 20-layer column (conductivity,
// heat capacity, tridiagonal solve) through the kernels, beside a
// hand-written loop of the same arithmetic on plain arrays. Neither
// allocates per step.
#include <benchmark/benchmark.h>

#include "soil/column/soil_heat.h"
#include "tables/soil_class.h"

#include <array>
#include <cmath>
#include <vector>

namespace {

using namespace tavro;

constexpr int kLayers = 20;
constexpr double kLamWater = 0.5562, kLamIce = 2.33, kStep = 900.0;
using Layers = std::array<double, kLayers + 1>;

// A frozen-at-the-top, partly saturated column.
struct HeatColumn {
  soil_class soil{1};
  Layers dz{}, theta{}, f{}, extra{}, T{}, lambda{}, C{};
  SaturatedHeatConductivity saturated;
  HeatColumn() {
    soil.ResizeLayers(kLayers);
    for (int j = 0; j <= kLayers; ++j) {
      soil.theta_sat[j] = 0.45;
      soil.DryThermalConduct[j] = 0.58 + 0.01 * j;
      soil.DryDensity[j] = 1500.0;
      soil.DryHeatCapacity[j] = 800.0;
      dz[j] = 0.1;
      theta[j] = j < 10 ? 0.30 : 0.445;
      f[j] = j < 4 ? 0.4 : 1.0;
      T[j] = -3.0 + 0.5 * j;
    }
    saturated =
        MakeSaturatedHeatConductivity(soil.theta_sat, soil.DryThermalConduct, kLayers, kLamWater);
  }
};

void BM_HeatStepKernels(benchmark::State &state) {
  HeatColumn c;
  TridiagonalWork work(kLayers);
  Layers newT{};
  const HeatConductivitySoil soil{c.soil.theta_sat, c.soil.DryThermalConduct, c.saturated};
  for (auto _ : state) {
    ComputeHeatConductivity(c.lambda, soil, c.f, c.theta, kLayers, kLamWater, kLamIce);
    c.soil.GetHeatCapacity(c.T, c.C, c.f, c.extra, c.theta, 1000.0, 4187.0, 2090.0, 1940.0);
    const ImplicitHeatInput in{c.lambda, c.C, c.dz,  c.T, kLayers, kStep, 1.0,
                               -5.0,     8.0, false, {},  {},      0.0};
    SolveHeatImplicit(in, work, newT);
    benchmark::DoNotOptimize(newT.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HeatStepKernels);

// The same arithmetic written out by hand on plain arrays.
void BM_HeatStepHandWritten(benchmark::State &state) {
  HeatColumn c;
  Layers a{}, b{}, cc{}, d{}, newT{};
  const auto &ts = c.soil.theta_sat;
  const auto &dry = c.soil.DryThermalConduct;
  for (auto _ : state) {
    for (int j = 1; j <= kLayers; ++j) {
      const double th = c.theta[j], fj = c.f[j];
      if (ts[j] - th < 0.01) {
        c.lambda[j] = fj >= 0.99 ? c.saturated.dry[j] * c.saturated.water[j]
                                 : c.saturated.dry[j] * std::pow(kLamWater, fj * th) *
                                       std::pow(kLamIce, (1 - fj) * th);
      } else {
        const double e = th + 1 - ts[j];
        double s = e * std::pow(dry[j], (1 - ts[j]) / e) * std::pow(kLamWater, fj * th / e);
        if (fj < 0.99)
          s *= std::pow(kLamIce, (1 - fj) * th / e);
        c.lambda[j] = (ts[j] - th) * 0.0262 + s;
      }
      const double t = c.T[j];
      const double cIce = t >= 0    ? 2090.0
                          : t < -20 ? 1940.0
                                    : (t / 20 + 1) * 2090.0 - t / 20 * 1940.0;
      c.C[j] = th * 1000.0 * (fj * 4187.0 + (1 - fj) * cIce) + 1500.0 * 800.0 + c.extra[j];
    }
    for (int j = 1; j <= kLayers; ++j) {
      const double k = 2 * kStep / (c.dz[j] * c.C[j]);
      a[j] = j == 1 ? 0 : -c.lambda[j - 1] * k / (c.dz[j - 1] + c.dz[j]);
      cc[j] = j == kLayers ? 0 : -c.lambda[j] * k / (c.dz[j + 1] + c.dz[j]);
      const double top = j == 1 ? c.lambda[1] * k / c.dz[1] : 0;
      const double bottom = j == kLayers ? c.lambda[kLayers] * k / c.dz[kLayers] : 0;
      b[j] = 1 - a[j] - cc[j] + top + bottom;
      d[j] = c.T[j] - top * 5.0 + bottom * 8.0;
    }
    for (int j = 2; j <= kLayers; ++j) {
      const double m = a[j] / b[j - 1];
      b[j] -= cc[j - 1] * m;
      d[j] -= m * d[j - 1];
    }
    newT[kLayers] = d[kLayers] / b[kLayers];
    for (int j = kLayers - 1; j >= 1; --j)
      newT[j] = (d[j] - cc[j] * newT[j + 1]) / b[j];
    benchmark::DoNotOptimize(newT.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HeatStepHandWritten);

} // namespace
