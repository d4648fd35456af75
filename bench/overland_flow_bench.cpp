// One overland-flow inner step on 1000 x 1000 cells of a rough tilted plane
// with water everywhere (no MPI): the module's kernel pass, limiter and
// storage pass with 1 and 8 OpenMP threads, and beside it a hand-written
// loop of the same steepest-slope, Manning-flux and two-array storage
// arithmetic on plain arrays. Items are cells per inner step.
//
// The module is timed as a run meets it: its velocities are those of the
// inner step before (a cold first step, whose iterations start from
// 0.1 m/s, happens once per run). "ModuleInnerStep" is the sequence of inner
// steps of a sub-step, where cells whose outflow weights did not change keep
// their flow except at the recompute steps; "ModuleRecomputeStep" is the
// first inner step of a sub-step, where every cell iterates its velocities.
#include <benchmark/benchmark.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "lateral/overland_passes.h"

namespace {

using tavro::Grid;
using tavro::Stack;

constexpr long kSize = 1000;
constexpr double kCell = 10.0;
constexpr double kStep = 20.0; // s
constexpr double kStrickler = 20.0;

double Terrain(long r, long c) {
  return 500.0 - 0.02 * kCell * c - 0.01 * kCell * r + 0.05 * std::sin(0.7 * r) * std::cos(1.3 * c);
}
double StartStorage(long r, long c) { return 5.0 + 2.0 * std::sin(0.05 * r + 0.03 * c); } // mm

struct PlaneGrids {
  explicit PlaneGrids(tavro::DiagnosticsLog &log)
      : zone(Make(log)), elevation(Make(log)), riverDepth(Make(log)), riverWidth(Make(log)),
        curvature(Make(log)), shear(Make(log)), depth(Make(log)), storage(Make(log)),
        direct(Make(log)), qin(Make(log)), qout(Make(log)),
        velocity(1, kSize, kSize, 9, kSize, log), fluxes(1, kSize, kSize, 9, kSize, log),
        weights(1, kSize, kSize, 9, kSize, log) {
    for (long r = 1; r <= kSize; ++r)
      for (long c = 1; c <= kSize; ++c) {
        zone[r][c] = 1.0;
        elevation[r][c] = Terrain(r, c);
        shear[r][c] = 0.9;
        storage[r][c] = StartStorage(r, c);
        depth[r][c] = storage[r][c] / 1000.0;
      }
    tavro::OverlandGrids g{&zone,  &elevation, &riverDepth, &riverWidth, &curvature,
                           &shear, &depth,     &storage,    &direct,     &qin,
                           &qout,  &velocity,  &fluxes,     &weights};
    tavro::CellIterationSetup cells;
    cells.FirstRow = 1;
    cells.LastRow = kSize;
    cells.NCols = kSize;
    cells.Zone = &zone;
    tavro::overland::VelocitySettings settings;
    settings.Method = 1;
    settings.MaxErrorVelocity = 1e-4;
    settings.MaxIterVelocity = 50;
    settings.MinSubTimeStep = 1.0;
    settings.MaxSubTimeStep = maxSubTimeStep;
    tavro::overland::LandUseResistance use;
    use.Strickler = kStrickler;
    passes = tavro::OverlandPasses(cells, tavro::OverlandRaster{kSize, kSize, kCell, -9999.0}, g,
                                   settings, [use](long, long) { return use; });
  }
  static Grid Make(tavro::DiagnosticsLog &log) {
    Grid g(1, kSize, kSize, kSize, log);
    g.Fill(0.0);
    return g;
  }
  Grid zone, elevation, riverDepth, riverWidth, curvature, shear, depth, storage, direct, qin, qout;
  Stack velocity, fluxes, weights;
  tavro::OverlandPasses passes;
  static constexpr double maxSubTimeStep = 60.0; // s
};

void InnerStep(PlaneGrids &plane, int innerStep, int recomputeStep) {
  plane.passes.KernelPass(innerStep, recomputeStep);
  plane.passes.LimitOutflow(kStep);
  plane.passes.StoragePass(kStep);
}

// The inner steps of a sub-step of kSubstep seconds: the recompute step
// advances as the module advances it.
constexpr double kSubstep = 3600.0; // s
constexpr int kForeseen = static_cast<int>(kSubstep / kStep) + 1;

int NextRecompute(int recompute, double maxSubTimeStep) {
  return static_cast<int>(recompute + kForeseen / (kSubstep / maxSubTimeStep));
}

void ModuleInnerStep(benchmark::State &state) {
  omp_set_num_threads(static_cast<int>(state.range(0)));
  tavro::DiagnosticsLog log("Tavro_Diag_bench.xml", 0);
  PlaneGrids plane(log);
  const double maxSub = plane.maxSubTimeStep;
  int recompute = NextRecompute(0, maxSub);
  InnerStep(plane, 0, recompute); // warm: the velocities of the step before
  int i = 1;
  for (auto _ : state) {
    InnerStep(plane, i, recompute);
    if (i == recompute)
      recompute = NextRecompute(recompute, maxSub);
    if (++i == kForeseen) {
      i = 1;
      recompute = NextRecompute(0, maxSub);
    }
    benchmark::DoNotOptimize(plane.storage[kSize / 2][kSize / 2]);
  }
  state.SetItemsProcessed(state.iterations() * kSize * kSize);
}

void ModuleRecomputeStep(benchmark::State &state) {
  omp_set_num_threads(static_cast<int>(state.range(0)));
  tavro::DiagnosticsLog log("Tavro_Diag_bench.xml", 0);
  PlaneGrids plane(log);
  InnerStep(plane, 0, 0); // warm: the velocities of the step before
  for (auto _ : state) {
    InnerStep(plane, 0, 0);
    benchmark::DoNotOptimize(plane.storage[kSize / 2][kSize / 2]);
  }
  state.SetItemsProcessed(state.iterations() * kSize * kSize);
}

// The same arithmetic on plain arrays with a border ring: the steepest of
// the eight neighbours, a Manning flux towards it, the limiter, and the
// storage update from the flux array into a second storage array.
struct PlainPlane {
  static constexpr long kStride = kSize + 2;
  std::vector<double> z, s, sNext, flux;
  std::vector<int> target;
  PlainPlane()
      : z(kStride * kStride, 1e9), s(kStride * kStride, 0.0), sNext(kStride * kStride, 0.0),
        flux(kStride * kStride, 0.0), target(kStride * kStride, 0) {
    for (long r = 1; r <= kSize; ++r)
      for (long c = 1; c <= kSize; ++c) {
        z[r * kStride + c] = Terrain(r, c);
        s[r * kStride + c] = StartStorage(r, c);
      }
  }
};

void PlainStep(PlainPlane &p) {
  constexpr long n = kSize;
  constexpr long w = PlainPlane::kStride;
  const long offsets[8] = {-w, -w + 1, 1, w + 1, w, w - 1, -1, -w - 1};
  const double lengths[8] = {kCell, kCell * 1.4142135, kCell, kCell * 1.4142135,
                             kCell, kCell * 1.4142135, kCell, kCell * 1.4142135};
#pragma omp parallel for schedule(runtime)
  for (long r = 1; r <= n; ++r)
    for (long c = 1; c <= n; ++c) {
      const long i = r * w + c;
      double best = 0.0;
      int to = -1;
      for (int d = 0; d < 8; ++d) {
        const double g = (p.z[i] - p.z[i + offsets[d]]) / lengths[d];
        if (g > best) {
          best = g;
          to = d;
        }
      }
      const double h = p.s[i] / 1000.0;
      double q = to >= 0 ? kStrickler * std::pow(h, 5.0 / 3.0) * std::sqrt(best) * kCell : 0.0;
      const double available = p.s[i] * kCell * kCell / 1000.0;
      if (q * kStep > available)
        q = available / kStep;
      p.flux[i] = q;
      p.target[i] = to;
    }
#pragma omp parallel for schedule(runtime)
  for (long r = 1; r <= n; ++r)
    for (long c = 1; c <= n; ++c) {
      const long i = r * w + c;
      double in = 0.0;
      for (int d = 0; d < 8; ++d) {
        const long j = i + offsets[d];
        if (p.target[j] == (d + 4) % 8)
          in += p.flux[j];
      }
      p.sNext[i] = std::max(p.s[i] + (in - p.flux[i]) * kStep * 1000.0 / (kCell * kCell), 0.0);
    }
  std::swap(p.s, p.sNext);
}

void HandWrittenInnerStep(benchmark::State &state) {
  omp_set_num_threads(static_cast<int>(state.range(0)));
  PlainPlane plane;
  for (auto _ : state) {
    PlainStep(plane);
    benchmark::DoNotOptimize(plane.s[plane.s.size() / 2]);
  }
  state.SetItemsProcessed(state.iterations() * kSize * kSize);
}

} // namespace

BENCHMARK(ModuleInnerStep)->Arg(1)->Arg(8)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ModuleRecomputeStep)->Arg(1)->Arg(8)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(HandWrittenInnerStep)->Arg(1)->Arg(8)->UseRealTime()->Unit(benchmark::kMillisecond);
