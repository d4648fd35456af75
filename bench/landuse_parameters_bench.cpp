// One day close of the land-use parameter grids on a 1000 x 1000 raster with
// two land-use layers (a four-fix-point entry whose fix points move with
// altitude and a dynamic-phenology entry with four fix points): the
// seven-day mean, the phenology and every parameter of every cell and
// layer, with 1, 2, 4 and 8 OpenMP threads (parallel efficiency at 8 = time
// at 1 thread / (8 x time at 8 threads); the machine may be shared, so the
// steps between show how the loop scales on the cores that are free).
#include <benchmark/benchmark.h>
#include <omp.h>

#include <memory>
#include <vector>

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "kernel/one_based_array.h"
#include "raster/parallel/cell_iteration.h"
#include "setup/landuse_parameter_grids.h"
#include "tables/landuse_class.h"

namespace {

using namespace tavro;

constexpr long kSize = 1000;
constexpr int kLayers = 2;

std::vector<double> Closed(std::vector<double> values) {
  values.insert(values.begin(), values.back());
  return values;
}

LanduseParameters Entry(int method, std::vector<int> days) {
  LanduseParameters p;
  p.Method = method;
  p.FixPointCount = 4;
  days.insert(days.begin(), days.back() - 366);
  p.JulDays = days;
  p.rsc = Closed({120, 80, 60, 120});
  p.rs_interception = Closed({20, 20, 20, 20});
  p.rs_evaporation = Closed({300, 250, 200, 300});
  p.Albedo = Closed({0.25, 0.2, 0.15, 0.25});
  p.LAI = Closed({1, 3, 5, 1});
  p.Z0 = Closed({0.01, 0.03, 0.05, 0.01});
  p.VCF = Closed({0.2, 0.6, 1.0, 0.2});
  p.RootDepth = Closed({0.1, 0.3, 0.5, 0.1});
  p.AltDep = Closed({0.01, 0.01, -0.01, -0.01});
  p.SR_StemDiameter = Closed({0.01, 0.01, 0.01, 0.01});
  p.SR_ResidCovrg = p.SR_StemDiameter;
  p.NFactor = Closed({-1, -1, -1, -1});
  p.SoilTillage = {-9999};
  p.StartVegetationPeriodForBalance = 2;
  p.StopVegetationPeriodForBalance = 4;
  return p;
}

struct DayCloseData {
  DiagnosticsLog log{"", 2};
  OneBasedArray<landuse_class> table{2};
  Grid zone{1, kSize, kSize, kSize, log};
  Grid elevation{1, kSize, kSize, kSize, log};
  std::vector<std::unique_ptr<Grid>> grids;
  Stack dailyMeans{1, kSize, kSize, LanduseParameterGrids::kDailyMeanLevels, kSize, log};
  std::unique_ptr<LanduseParameterGrids> parameters;

  Grid *NewGrid(double value) {
    grids.push_back(std::make_unique<Grid>(1, kSize, kSize, kSize, log));
    grids.back()->Fill(value);
    return grids.back().get();
  }

  DayCloseData() {
    table[1] = landuse_class(log, Entry(landuse::VariableDayCount, {91, 121, 213, 305}));
    LanduseParameters dynamic = Entry(landuse::DynamicPhenology1, {60, -1, 30, 290});
    dynamic.TStartIndex = 2;
    dynamic.FStar = 1e12; // forcing every day, no start
    dynamic.DP1_t1_dorm = 60;
    dynamic.DP1_T_Bf = -50.0;
    dynamic.JDReset_TStart = 300;
    table[2] = landuse_class(log, dynamic);
    zone.Fill(1.0);
    for (long r = 1; r <= kSize; ++r)
      for (long c = 1; c <= kSize; ++c)
        elevation[r][c] = 200.0 + static_cast<double>((r * 7 + c * 3) % 2000);
    dailyMeans.Fill(8.0);

    std::vector<LayerParameterGrids> layers(kLayers + 1);
    std::vector<PhenologyLayerGrids> phenology(kLayers + 1);
    for (int k = 1; k <= kLayers; ++k) {
      LayerParameterGrids &l = layers[static_cast<std::size_t>(k)];
      Grid *landuse = NewGrid(0.0);
      for (long r = 1; r <= kSize; ++r)
        for (long c = 1; c <= kSize; ++c)
          (*landuse)[r][c] = (r + c + k) % 2 + 1.0;
      l.Landuse = landuse;
      for (Grid **grid : {&l.RootDepth, &l.VegetationCover, &l.LeafAreaIndex, &l.CanopyResistance,
                          &l.InterceptionResistance, &l.RoughnessLength, &l.VegetationStart,
                          &l.VegetationStop, &l.VegetationDuration, &l.ForcingSum})
        *grid = NewGrid(0.0);
      l.PhenoStart = NewGrid(-1.0);
      l.ChillingSum = NewGrid(0.0);
      l.FStar = NewGrid(1e12);
      phenology[static_cast<std::size_t>(k)] = {l.PhenoStart, l.FStar, l.ForcingSum, nullptr};
    }
    table[2].SetPhenologyGrids(4, phenology);

    LanduseSingleGrids single;
    single.Albedo = NewGrid(0.2);
    single.SurfaceEvaporationResistance = NewGrid(0.0);
    single.DayTemperature = NewGrid(12.0);
    single.LeafFall = NewGrid(0.0);
    single.MovingMean = NewGrid(8.0);
    single.DailyMeans = &dailyMeans;

    CellIterationSetup setup;
    setup.FirstRow = 1;
    setup.LastRow = kSize;
    setup.NCols = kSize;
    setup.Zone = &zone;
    setup.NoData = -9999.0;
    parameters = std::make_unique<LanduseParameterGrids>(log, table, CellIteration(setup),
                                                         elevation, -9999.0, layers, single);
  }
};

DayCloseData &Data() {
  static DayCloseData data;
  return data;
}

void BM_LanduseDayClose(benchmark::State &state) {
  DayCloseData &data = Data();
  omp_set_num_threads(static_cast<int>(state.range(0)));
  const CalendarDate date{30, 5, 2001};
  for (auto _ : state) {
    data.parameters->CloseDay(150, date, 7, nullptr);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSize * kSize * kLayers);
  state.counters["threads"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_LanduseDayClose)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
