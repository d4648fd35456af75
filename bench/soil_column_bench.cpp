// The soil-water column solver: cells x iterations per second of SolveRows
// on a strip of 500 x 500 cells (loam and sandy loam, 10 and 20 layers,
// methode 2 and 3, a dry and a wet start) at 1 and 8 threads, with the mean
// iterations per cell; and one iteration's column update through the
// kernels beside a minimal hand-written loop of the same arithmetic.
#include <benchmark/benchmark.h>
#include <omp.h>

#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "kernel/module_settings.h"
#include "raster/output/statistics_registry.h"
#include "soil/column/hydraulic_heads.h"
#include "soil/column/soil_hydraulics.h"
#include "soil/column/update_iterate.h"
#include "soil/column/vertical_fluxes.h"
#include "soil/soil_column_parameters.h"
#include "soil/unsatzon_model.h"
#include "support/soil_water_inputs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>

namespace {

using namespace tavro;

constexpr long kSide = 500;
constexpr const char *kControl = "soil_bench.ctl_0.$$$";

// The module on a whole raster of one process, every cell one soil.
struct SoilBench {
  SoilBench(int soilRecord, int layers, int methode, bool wet) {
    soils = test::LoamAndSandyLoam(log, layers);
    grids.Add("zonegrid_soilmodel", 1, kSide, [](long r, long) { return r <= kSide / 2 ? 1 : 2; });
    grids.Add("precipitation", 1, kSide, [wet](long, long) { return wet ? 20.0 : 0.0; });
    grids.Add("potential_evaporation", 1, kSide, [](long, long) { return 2.0; });
    grids.Add("pot_transpiration1", 1, kSide, [](long, long) { return 3.0; });
    grids.Add("root_depth1", 1, kSide, [](long, long) { return 0.6; });
    grids.Add("vegetation_coverage_degree1", 1, kSide, [](long, long) { return 0.8; });
    grids.AddSoilModuleInputs(1, kSide, 5.0, [soilRecord](long, long) { return soilRecord; });
    test::SoilSectionText s;
    s.methode = methode;
    s.codeRow = "1 2";
    s.valueRows = {"1 2", "10 20", "0.5 0.5", "20 20", "1 1", "0 0"};
    // A shallow table for the wet start, a deep one for the dry.
    s.iniGwLevel = wet ? 4.0 : 1.05;
    {
      std::ofstream out(kControl);
      out << test::SoilSection(s);
    }
    settings.Log = &log;
    settings.Statistics = &statistics;
    settings.ControlFileName = kControl;
    settings.Registry = &registry;
    settings.ZoneIndex = &zoneIndex;
    settings.ZoneTable = &zoneTable;
    settings.ZoneCount = 2;
    settings.MaxZoneCode = 2;
    settings.NCols = kSide;
    settings.NRows = kSide;
    settings.FirstRow = 1;
    settings.LastRow = kSide;
    settings.CellSize = 1000.0;
    settings.NoData = -9999.0;
    settings.HourDivisor = 1;
    settings.EndDate = ModelDate{0, 28, 1, 2012};
    settings.SoilTable = &soils;
    int error = 0;
    // The construction's console lines are dropped; the benchmark's table is not.
    std::fflush(stdout);
    const int console = dup(STDOUT_FILENO);
    const int sink = open("/dev/null", O_WRONLY);
    dup2(sink, STDOUT_FILENO);
    module = std::make_unique<unsatzonmodellklasse>(error, settings, nullptr, 1);
    std::fflush(stdout);
    dup2(console, STDOUT_FILENO);
    close(sink);
    close(console);
    if (error != 0) {
      std::fprintf(stderr, "the soil-water module was not built (%d)\n", error);
      std::exit(error);
    }
    module->SelectWaterInput(false);
  }

  DiagnosticsLog log{"soil_bench_diag.xml", 4};
  GridRegistry registry;
  StatisticsRegistry statistics;
  test::RegisteredGrids grids{log, registry, kSide, kSide};
  SoilTable soils;
  OneBasedArray<int> zoneIndex{2, 0};
  OneBasedArray<ZoneRecord> zoneTable{2};
  ModuleSettings settings;
  std::unique_ptr<unsatzonmodellklasse> module;
};

// Arguments: soil record (1 loam, 2 sandy loam), layers, methode, wet, threads.
void BM_SolveRows(benchmark::State &state) {
  SoilBench bench(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                  static_cast<int>(state.range(2)), state.range(3) != 0);
  omp_set_num_threads(static_cast<int>(state.range(4)));
  long iterations = 0;
  long calls = 0;
  for (auto _ : state) {
    bench.module->SolveRows();
    iterations += bench.module->IterationsOfLastCall;
    ++calls;
  }
  state.SetItemsProcessed(iterations); // cells x iterations
  state.counters["mean_iterations"] =
      static_cast<double>(iterations) / static_cast<double>(calls * kSide * kSide);
  bench.module->ReleaseMemory();
}
BENCHMARK(BM_SolveRows)
    ->ArgsProduct({{1, 2}, {10, 20}, {2, 3}, {0, 1}, {1, 8}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Dump mode off and on (no cell fails a check): what the snapshot of every
// internal step costs. Arguments: methode, dump mode.
void BM_SolveRowsDumpMode(benchmark::State &state) {
  SoilBench bench(1, 10, static_cast<int>(state.range(0)), true);
  bench.module->SetDumpOptions(state.range(1) != 0, false, false);
  omp_set_num_threads(1);
  for (auto _ : state)
    bench.module->SolveRows();
  state.SetItemsProcessed(state.iterations() * kSide * kSide); // cells
  bench.module->ReleaseMemory();
}
BENCHMARK(BM_SolveRowsDumpMode)
    ->ArgsProduct({{2, 3}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One column of a loam soil half way between field capacity and saturation.
struct KernelColumn {
  explicit KernelColumn(int layers)
      : soils(test::LoamAndSandyLoam(log, layers)), parameters(soils[1]), state(layers) {
    for (int k = 1; k <= layers; ++k) {
      const auto i = static_cast<std::size_t>(k);
      state.z_bottom[i] = state.z_bottom[i - 1] - soils[1].thickness[i];
      state.theta[i] = 0.3; // draining under gravity: no flux needs limiting
      // The bottom layer keeps the head it has.
      state.head[i] = 0.5 * (state.z_bottom[i - 1] + state.z_bottom[i]) -
                      soils[1].GetSuction(k, state.theta[i]);
    }
    state.ksat = soils[1].ksat;
    state.groundwater_layer = layers;
    state.ResetStep(layers);
  }
  DiagnosticsLog log{"soil_bench_diag.xml", 0};
  SoilTable soils;
  SoilColumnParameters parameters;
  ColumnState state;
};

// Heads, fluxes with their limits and the iterate update through the kernels.
void BM_ColumnIterationKernels(benchmark::State &state) {
  KernelColumn column(static_cast<int>(state.range(0)));
  const SoilTableHydraulics soil(column.soils[1]);
  const ColumnGeometry &geometry = column.parameters.Geometry();
  FluxCellValues cell;
  cell.inputRate = 1e-7;
  int i = 1;
  for (auto _ : state) {
    ComputeHydraulicHeads(soil, geometry, column.state, i, 1);
    ComputeVerticalFluxes(soil, geometry, column.state, cell, 1, 3600.0);
    benchmark::DoNotOptimize(UpdateIterate(geometry, column.state, i, 1, 3600.0));
    i = i % 50 + 1;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ColumnIterationKernels)->Arg(10)->Arg(20);

// The same arithmetic written out over flat arrays.
void BM_ColumnIterationHandWritten(benchmark::State &state) {
  KernelColumn column(static_cast<int>(state.range(0)));
  const soil_class &soil = column.soils[1];
  const int n = static_cast<int>(state.range(0));
  const double dt = 3600.0;
  ColumnState &s = column.state;
  double *theta = s.theta.data();
  double *old = s.theta_old.data();
  double *iter = s.theta_iter.data();
  double *suctionOld = s.suction_old.data();
  double *head = s.head.data();
  double *flux = s.flux.data();
  const double *z = s.z_bottom.data();
  const double *dz = soil.thickness.data();
  const double *ks = soil.ksat.data();
  int m = 1;
  for (auto _ : state) {
    for (int k = 1; k < n; ++k) {
      if (m == 1)
        suctionOld[k] = soil.GetSuction(k, old[k]);
      head[k] = 0.5 * (z[k - 1] + z[k]) - 0.5 * (soil.GetSuction(k, iter[k]) + suctionOld[k]);
    }
    flux[0] = -1e-7;
    for (int k = 1; k < n; ++k) {
      double ku = soil.GetKrel(k, 0.5 * (old[k] + iter[k]), 1.0) * ks[k];
      double kl = soil.GetKrel(k + 1, 0.5 * (old[k + 1] + iter[k + 1]), 1.0) * ks[k + 1];
      const double conductivity = ku > kl ? ku : kl;
      flux[k] = -conductivity * (head[k] - head[k + 1]) / (0.5 * (dz[k] + dz[k + 1]));
      // The reversal test of the limiting: the heads after the step.
      const double wu = old[k] + (flux[k] - flux[k - 1]) * dt / dz[k];
      const double wl = old[k + 1] - flux[k] * dt / dz[k + 1];
      benchmark::DoNotOptimize(soil.GetSuction(k, wu) + soil.GetSuction(k + 1, wl));
    }
    double change = 0.0;
    for (int k = 1; k <= n; ++k) {
      const double w = old[k] + (flux[k] - flux[k - 1]) * dt / dz[k];
      change = std::max(change, std::fabs(theta[k] - w));
      iter[k] = m <= 3 ? 0.5 * (theta[k] + w) : ((m - 3) * iter[k] + w) / (m - 2);
      theta[k] = w;
    }
    benchmark::DoNotOptimize(change);
    m = m % 50 + 1;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ColumnIterationHandWritten)->Arg(10)->Arg(20);

} // namespace
