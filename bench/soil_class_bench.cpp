// Lookups per second of the soil record's retention, conductivity and
// freezing tables on one core (the soil-water module's innermost calls).
#include <benchmark/benchmark.h>

#include <vector>

#include "tables/soil_class.h"

namespace {

tavro::soil_class MakeLoamColumn(int layers) {
  tavro::soil_class soil(1);
  soil.ResizeLayers(layers);
  for (int i = 0; i <= layers; ++i) {
    soil.theta_sat[i] = 0.43;
    soil.theta_res[i] = 0.078;
    soil.alpha[i] = 3.6;
    soil.Par_n[i] = 1.56;
    soil.Par_m[i] = 1.0 - 1.0 / 1.56;
    soil.Par_tau[i] = 0.5;
  }
  for (int i = 0; i <= layers; ++i) {
    soil.MakeRetentionTables(i);
    soil.MakeFreezingCurve(i, 124.6);
  }
  return soil;
}

// Water contents and suctions spread over the whole tables.
std::vector<double> Spread(double from, double to, int count) {
  std::vector<double> values(count);
  for (int i = 0; i < count; ++i)
    values[i] = from + (to - from) * i / (count - 1);
  return values;
}

void BM_GetSuction(benchmark::State &state) {
  const auto soil = MakeLoamColumn(1);
  const auto theta = Spread(0.07, 0.44, 1024);
  for (auto _ : state)
    for (double t : theta)
      benchmark::DoNotOptimize(soil.GetSuction(1, t));
  state.SetItemsProcessed(state.iterations() * static_cast<long>(theta.size()));
}
BENCHMARK(BM_GetSuction);

void BM_GetKrel(benchmark::State &state) {
  const auto soil = MakeLoamColumn(1);
  const auto theta = Spread(0.07, 0.44, 1024);
  for (auto _ : state)
    for (double t : theta)
      benchmark::DoNotOptimize(soil.GetKrel(1, t, t + 0.01));
  state.SetItemsProcessed(state.iterations() * static_cast<long>(theta.size()));
}
BENCHMARK(BM_GetKrel);

void BM_GetTheta(benchmark::State &state) {
  const auto soil = MakeLoamColumn(1);
  const auto h = Spread(-0.1, 160.0, 1024);
  for (auto _ : state)
    for (double s : h)
      benchmark::DoNotOptimize(soil.GetTheta(1, s));
  state.SetItemsProcessed(state.iterations() * static_cast<long>(h.size()));
}
BENCHMARK(BM_GetTheta);

// One call covers every layer of a 20-layer column.
void BM_GetUnfrozenWaterFraction(benchmark::State &state) {
  constexpr int layers = 20;
  const auto soil = MakeLoamColumn(layers);
  const auto T = Spread(-12.0, 2.0, layers + 1);
  const auto theta = Spread(0.08, 0.43, layers + 1);
  std::vector<double> fraction(layers + 1);
  for (auto _ : state) {
    soil.GetUnfrozenWaterFraction(fraction, T, theta);
    benchmark::DoNotOptimize(fraction.data());
  }
  state.SetItemsProcessed(state.iterations() * layers);
}
BENCHMARK(BM_GetUnfrozenWaterFraction);

} // namespace
