// The hot paths of the exposure correction and of the potential
// evapotranspiration on a 1000 x 1000 raster: the shadow walk of one sun
// position over the whole raster (rank 0's serial work in every sub-step;
// the argument is the sun's azimuth in degrees), the capped incidence of one
// sub-step over every cell, and the Penman-Monteith rates of one layer per
// cell (the argument of these two is the number of OpenMP threads).
#include <benchmark/benchmark.h>
#include <omp.h>

#include <cmath>
#include <filesystem>

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "landsurface/evapotranspiration/penman_monteith.h"
#include "landsurface/radiation/exposure_geometry.h"
#include "landsurface/radiation/shadow_casting.h"

namespace {

constexpr long kSize = 1000;
constexpr double kCell = 50.0;

struct Terrain {
  Terrain()
      : log((std::filesystem::temp_directory_path() / "tavro_radiation_bench.xml").string(), 1),
        elevation(1, kSize, kSize, kSize, log), zone(1, kSize, kSize, kSize, log),
        shadow(1, kSize, kSize, kSize, log), slope(1, kSize, kSize, kSize, log),
        aspect(1, kSize, kSize, kSize, log), sum(1, kSize, kSize, kSize, log) {
    // Hills of a few kilometres on a valley floor; a ring of cells outside.
    for (long r = 1; r <= kSize; ++r)
      for (long c = 1; c <= kSize; ++c) {
        const double x = c * kCell, y = r * kCell;
        elevation[r][c] = 800.0 + 300.0 * std::sin(x / 3000.0) * std::cos(y / 4100.0) +
                          120.0 * std::sin((x + y) / 900.0);
        zone[r][c] = (r < 5 || c < 5) ? -9999.0 : 1.0;
        slope[r][c] = 10.0 + 20.0 * std::fabs(std::sin(x / 700.0));
        aspect[r][c] = std::fmod(x + y, 360.0);
      }
  }
  tavro::DiagnosticsLog log;
  tavro::Grid elevation, zone, shadow, slope, aspect, sum;
};

Terrain &SharedTerrain() {
  static Terrain terrain;
  return terrain;
}

void BM_CastShadows(benchmark::State &state) {
  Terrain &t = SharedTerrain();
  const double azimuth = static_cast<double>(state.range(0)) * 3.141592653589793 / 180.0;
  for (auto _ : state) {
    tavro::radiation::CastShadows(t.elevation, t.zone, {kSize, kSize, kCell, -9999.0},
                                  {azimuth, 0.3}, t.shadow);
    benchmark::DoNotOptimize(t.shadow[kSize / 2][kSize / 2]);
  }
  state.SetItemsProcessed(state.iterations() * kSize * kSize);
}
BENCHMARK(BM_CastShadows)->Arg(45)->Arg(150)->Arg(200)->Unit(benchmark::kMillisecond);

void BM_IncidenceOfASubStep(benchmark::State &state) {
  Terrain &t = SharedTerrain();
  omp_set_num_threads(static_cast<int>(state.range(0)));
  const tavro::radiation::DirectBeam beam = tavro::radiation::DirectBeamOfSubStep(1.0, 1.0, 0.5);
  for (auto _ : state) {
#pragma omp parallel for schedule(runtime)
    for (long r = 1; r <= kSize; ++r)
      for (long c = 1; c <= kSize; ++c)
        if (t.zone[r][c] > -9999.0 && t.shadow[r][c] < 0.5)
          t.sum[r][c] +=
              tavro::radiation::CappedIncidence(t.aspect[r][c], t.slope[r][c], 2.9, beam, false) *
              beam.energy;
    benchmark::DoNotOptimize(t.sum[kSize / 2][kSize / 2]);
  }
  state.SetItemsProcessed(state.iterations() * kSize * kSize);
}
BENCHMARK(BM_IncidenceOfASubStep)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PenmanMonteithLayer(benchmark::State &state) {
  Terrain &t = SharedTerrain();
  omp_set_num_threads(static_cast<int>(state.range(0)));
  namespace et = tavro::evapotranspiration;
  for (auto _ : state) {
#pragma omp parallel for schedule(runtime)
    for (long r = 1; r <= kSize; ++r)
      for (long c = 1; c <= kSize; ++c) {
        et::LayerWeather air;
        air.temperature = 5.0 + t.slope[r][c] * 0.3;
        air.pressure = 1013.0 * std::exp(-t.elevation[r][c] / 8500.0);
        air.vapourPressure = 0.7 * et::SaturationVapourPressure(air.temperature);
        air.wind = 2.0;
        et::LayerVegetation grass;
        grass.leafAreaIndex = 2.5;
        grass.vegetationCover = 0.9;
        grass.canopyResistance = 70.0;
        grass.soilResistance = 150.0;
        grass.roughnessLength = 0.05;
        et::LayerStep step;
        step.availableEnergy = 4.0;
        et::LayerCarry carry;
        t.sum[r][c] = et::PenmanMonteithLayer(step, air, grass, carry).transpiration;
      }
    benchmark::DoNotOptimize(t.sum[kSize / 2][kSize / 2]);
  }
  state.SetItemsProcessed(state.iterations() * kSize * kSize);
}
BENCHMARK(BM_PenmanMonteithLayer)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
