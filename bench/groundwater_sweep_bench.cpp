// One red-black sweep of one aquifer layer on 1000 x 1000 cells (no MPI): the
// module's sweep over its grids with 1 and 8 OpenMP threads, and beside it a
// hand-written red-black sweep of the same cell update on plain contiguous
// arrays. Items are cells per sweep.
#include <benchmark/benchmark.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "lateral/groundwater_sweep.h"

namespace {

using tavro::Grid;

constexpr long kSize = 1000;
constexpr double kCell = 100.0;
constexpr double kDt = 3600.0;
constexpr double kAlpha = 0.5;

// A confined layer whose heads slope from west to east with a bump.
double StartHead(long r, long c) { return 10.0 + 0.01 * c + std::sin(0.01 * r); }

struct LayerGrids {
  explicit LayerGrids(tavro::DiagnosticsLog &log)
      : head(1, kSize, kSize, kSize, log), old(1, kSize, kSize, kSize, log),
        tx(1, kSize, kSize, kSize, log), ty(1, kSize, kSize, kSize, log),
        storage(1, kSize, kSize, kSize, log), top(1, kSize, kSize, kSize, log),
        cells(1, kSize, kSize) {
    for (long r = 1; r <= kSize; ++r)
      for (long c = 1; c <= kSize; ++c) {
        head[r][c] = old[r][c] = StartHead(r, c);
        tx[r][c] = c < kSize ? 1e-3 : 0.0;
        ty[r][c] = r < kSize ? 1e-3 : 0.0;
        storage[r][c] = 1e-4;
        top[r][c] = 0.0;
        cells.Mark(r, c);
      }
    grids.head = &head;
    grids.headOld = &old;
    grids.tx = &tx;
    grids.ty = &ty;
    grids.storage = &storage;
    grids.specificYield = &storage;
    grids.top = &top;
    settings.alpha = kAlpha;
    settings.omega = 1.5;
    settings.dt = kDt;
    settings.cellSize = kCell;
    settings.nRows = kSize;
    settings.nCols = kSize;
  }
  Grid head, old, tx, ty, storage, top;
  tavro::SweepCells cells;
  tavro::SweepLayerGrids grids;
  tavro::SweepSettings settings;
  tavro::SweepScratch scratch;
};

void ModuleSweep(benchmark::State &state) {
  omp_set_num_threads(static_cast<int>(state.range(0)));
  tavro::DiagnosticsLog log("Tavro_Diag_bench.xml", 0);
  LayerGrids layer(log);
  for (auto _ : state) {
    const tavro::SweepResult result =
        tavro::RedBlackSweep(layer.grids, layer.settings, layer.cells, layer.scratch);
    benchmark::DoNotOptimize(result.maxChange);
  }
  state.SetItemsProcessed(state.iterations() * kSize * kSize);
}

// The same update on plain arrays of (kSize + 2)^2 cells with a border ring.
struct PlainLayer {
  static constexpr long kStride = kSize + 2;
  std::vector<double> head, old, tx, ty, storage, top;
  PlainLayer()
      : head(kStride * kStride), old(kStride * kStride), tx(kStride * kStride),
        ty(kStride * kStride), storage(kStride * kStride, 1e-4), top(kStride * kStride, 0.0) {
    for (long r = 1; r <= kSize; ++r)
      for (long c = 1; c <= kSize; ++c) {
        head[r * kStride + c] = old[r * kStride + c] = StartHead(r, c);
        tx[r * kStride + c] = c < kSize ? 1e-3 : 0.0;
        ty[r * kStride + c] = r < kSize ? 1e-3 : 0.0;
      }
  }
};

double PlainColour(PlainLayer &p, int colour) {
  constexpr long n = kSize;
  constexpr long s = PlainLayer::kStride;
  constexpr double area = kCell * kCell;
  constexpr double omega = 1.5;
  double maxChange = 0.0;
#pragma omp parallel for schedule(runtime) reduction(max : maxChange)
  for (long r = 1; r <= n; ++r) {
    for (long c = 1 + ((r + 1 + colour) & 1); c <= n; c += 2) {
      const long i = r * s + c;
      const double h0 = p.head[i];
      const double hOld = p.old[i];
      const auto weighted = [&](long j) { return (1 - kAlpha) * p.old[j] + kAlpha * p.head[j]; };
      const double hN = r > 1 ? weighted(i - s) : h0;
      const double hS = r < n ? weighted(i + s) : h0;
      const double hW = c > 1 ? weighted(i - 1) : h0;
      const double hE = c < n ? weighted(i + 1) : h0;
      const double cN = r > 1 ? p.ty[i - s] : 0.0;
      const double cS = p.ty[i];
      const double cE = p.tx[i];
      const double cW = c > 1 ? p.tx[i - 1] : 0.0;
      const double cSum = cN + cS + cE + cW;
      const double st = p.storage[i];
      const double num = cN * (hN - hOld) + cE * (hE - hOld) + cS * (hS - hOld) + cW * (hW - hOld);
      const double den = kAlpha * cSum + st * area / kDt;
      double h = den > 0.0 ? hOld + num / den : hOld;
      const double d = std::abs(h - h0);
      maxChange = std::max(maxChange, p.top[i] <= hOld ? d * 0.2 : d);
      h = h0 + omega * (h - h0);
      p.head[i] = h;
    }
  }
  return maxChange;
}

void HandWrittenSweep(benchmark::State &state) {
  omp_set_num_threads(static_cast<int>(state.range(0)));
  PlainLayer layer;
  for (auto _ : state) {
    const double change = std::max(PlainColour(layer, 0), PlainColour(layer, 1));
    benchmark::DoNotOptimize(change);
  }
  state.SetItemsProcessed(state.iterations() * kSize * kSize);
}

} // namespace

BENCHMARK(ModuleSweep)->Arg(1)->Arg(8)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(HandWrittenSweep)->Arg(1)->Arg(8)->UseRealTime()->Unit(benchmark::kMillisecond);
