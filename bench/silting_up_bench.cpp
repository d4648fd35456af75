// One step of the silting-up module over a 1000 x 1000 raster of tilled
// loam on one process: method 2 with the built-in formulas, and method 3
// evaluating the same formulas as expressions (per cell 18 variables set and
// four formulas parsed and evaluated). Arguments: the method and the number
// of OpenMP threads; compare the real times side by side. The water input
// is set anew before each step, outside the measured time.
#include <benchmark/benchmark.h>
#include <omp.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "kernel/grid_registry.h"
#include "kernel/module_settings.h"
#include "kernel/zone_record.h"
#include "landsurface/silting_up_model.h"
#include "raster/output/statistics_registry.h"
#include "tables/landuse_class.h"
#include "tables/soil_class.h"

namespace {

constexpr int kSize = 1000;
constexpr double kMinutes = 60.0;

const char *const kFormulas = "SiltingUpExpressions\n{\n"
                              "Z = 0.013 * (100*L)^(-1.03) * K^0.7 * (O + (O <= 0))^(-0.19) * "
                              "(O > 0);\n"
                              "W = (P > 0.05) * (P < 76.2) * (11.89 + 8.73 * LOG10(P + (P <= "
                              "0.05))) + (P >= 76.2) * 28.33;\n"
                              "X = 12.2 * K^0.52 * (100*L)^(-0.64);\n"
                              "V = (X + (65 - X) * EXP(-Z * Q)) * R / 60;\n}\n";

std::string Section(int method) {
  std::string text = "[SiltingUpModel]\n1 flow control\n" + std::to_string(kMinutes) +
                     " time interval\n" + std::to_string(method) +
                     " method\nsdisp.stat 0\nqdsu.stat 0\nsdisp.asc\n0\nrp.asc\n0\nekin.asc\n0\n"
                     "tsbb.asc\n0\nqdsu.asc\n0\n1 2\n0.5 1\n0 read the state grids\n";
  if (method == 2)
    text += "65\n12.2\n0.52\n-0.64\n0.013\n-1.03\n0.7\n-0.19\n";
  else
    text += kFormulas;
  return text + "\n[end]\n";
}

tavro::landuse_class Field(tavro::DiagnosticsLog &log) {
  tavro::LanduseParameters p;
  p.Code = 1;
  p.Name = "field";
  p.Method = tavro::landuse::VariableDayCount;
  p.FixPointCount = 2;
  p.JulDays = {-66, 100, 300};
  for (auto *list : {&p.rsc, &p.rs_interception, &p.rs_evaporation, &p.Albedo, &p.LAI, &p.Z0,
                     &p.VCF, &p.RootDepth, &p.SR_StemDiameter, &p.NFactor})
    *list = {1.0, 1.0, 1.0};
  p.AltDep = {0.0, 0.0, 0.0};
  p.SR_ResidCovrg = {0.1, 0.2, 0.1};
  p.SoilTillageCount = 2;
  p.SoilTillage = {-116, 100, 250};
  return tavro::landuse_class(log, p);
}

struct SiltingUpBenchData {
  explicit SiltingUpBenchData(int method)
      : directory(std::filesystem::temp_directory_path() / "tavro_silting_up_bench"),
        log((std::filesystem::create_directories(directory), (directory / "bench.xml").string()),
            1) {
    const auto grid = [&] { return tavro::Grid(1, kSize, kSize, kSize, log); };
    for (tavro::Grid *g : {&zone, &elevation, &cellArea, &landuse, &cover, &soil, &storage, &rain})
      *g = grid();
    for (int r = 1; r <= kSize; ++r)
      for (int c = 1; c <= kSize; ++c) {
        zone[r][c] = c <= kSize / 2 ? 1.0 : 2.0;
        elevation[r][c] = 300.0 + 0.1 * r;
        cellArea[r][c] = 1.0;
        landuse[r][c] = 1.0;
        cover[r][c] = 0.1 * ((r + c) % 5);
        soil[r][c] = 1.0;
      }
    const auto add = [&](int index, tavro::Grid &g, const char *identifier) {
      registry.AddGrid(index, identifier, &g, nullptr, 1, identifier, 0, 1, kSize, kSize, kSize,
                       log);
    };
    add(1, zone, "zones");
    add(2, elevation, "elevation");
    add(3, cellArea, "RelCellArea");
    add(4, landuse, "landuse1");
    add(5, cover, "vegetation_coverage_degree1");
    add(6, soil, "soil_types");
    add(7, storage, "SurfStorSiltingUp");
    add(8, rain, "precipitation");

    landuseTable[1] = Field(log);
    soilTable[1] = tavro::soil_class(1);
    soilTable[1].GrainSizeDist = {0.3, 0.5, 0.2, 0, 0, 0, 0};
    zoneIndex[1] = 1;
    zoneIndex[2] = 2;
    zoneTable[1].zonenwert = 1.0;
    zoneTable[2].zonenwert = 2.0;

    const std::string control = (directory / ("control_" + std::to_string(method))).string();
    std::ofstream(control) << Section(method);
    settings.Log = &log;
    settings.ModuleName = "SiltingUpModel";
    settings.ControlFileName = control;
    settings.Registry = &registry;
    settings.Statistics = &statistics;
    settings.ZoneIndex = &zoneIndex;
    settings.ZoneTable = &zoneTable;
    settings.ZoneCount = 2;
    settings.MaxZoneCode = 2;
    settings.NCols = kSize;
    settings.NRows = kSize;
    settings.FirstRow = 1;
    settings.LastRow = kSize;
    settings.CellSize = 100.0;
    settings.MinToIntEnd = kMinutes;
    settings.LanduseTable = &landuseTable;
    settings.SoilTable = &soilTable;
    settings.DefaultOutputDirectory = directory.string() + "/";
    int error = 0;
    module = std::make_unique<tavro::siltingupclass>(error, settings);
    module->SelectWaterInput(false);
  }
  ~SiltingUpBenchData() { module->ReleaseMemory(); }

  // 0 to 12 mm in the hour, dry in some cells.
  void SetRain(int step) {
    for (int r = 1; r <= kSize; ++r)
      for (int c = 1; c <= kSize; ++c)
        rain[r][c] = static_cast<double>((r * 7 + c * 3 + step) % 13);
  }

  std::filesystem::path directory;
  tavro::DiagnosticsLog log;
  tavro::GridRegistry registry;
  tavro::StatisticsRegistry statistics;
  tavro::Grid zone, elevation, cellArea, landuse, cover, soil, storage, rain;
  tavro::OneBasedArray<tavro::landuse_class> landuseTable{1};
  tavro::OneBasedArray<tavro::soil_class> soilTable{1};
  tavro::OneBasedArray<int> zoneIndex{2, 0};
  tavro::OneBasedArray<tavro::ZoneRecord> zoneTable{2};
  tavro::ModuleSettings settings;
  std::unique_ptr<tavro::siltingupclass> module;
};

void BM_SiltingUpStep(benchmark::State &state) {
  const int method = static_cast<int>(state.range(0));
  omp_set_num_threads(static_cast<int>(state.range(1)));
  SiltingUpBenchData data(method);
  int step = 0;
  for (auto _ : state) {
    state.PauseTiming();
    data.SetRain(step);
    state.ResumeTiming();
    // 12 May 2011, one hour after another.
    data.module->ComputeTimeStep(step % 24, 12 + step / 24, 5, 2011);
    benchmark::DoNotOptimize(data.rain[kSize / 2][kSize / 2]);
    ++step;
  }
  state.SetItemsProcessed(state.iterations() * kSize * kSize);
}
BENCHMARK(BM_SiltingUpStep)
    ->ArgNames({"method", "threads"})
    ->Args({2, 1})
    ->Args({2, 8})
    ->Args({3, 1})
    ->Args({3, 8})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
