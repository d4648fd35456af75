// The snow step on a 1000 x 1000 raster: the cell loop alone (every statistic
// off, no output) and the whole step with its eight statistics tables, for
// the degree-day method 1 and the energy-balance method 5, by the number of
// OpenMP threads (second argument). Items are cells per step.
#include <benchmark/benchmark.h>
#include <omp.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "kernel/grid_registry.h"
#include "kernel/module_settings.h"
#include "landsurface/snow_model.h"
#include "raster/output/statistics_registry.h"
#include "tables/landuse_class.h"

namespace {

using tavro::Grid;

constexpr long kSize = 1000;
constexpr int kZones = 4;

std::string SnowSection(int method, int statisticsCode) {
  const std::string table = " " + std::to_string(statisticsCode) + "\n";
  std::string text = "[snow_model]\n1\n1440\n" + std::to_string(method) +
                     "\n1\n0.5\n0\n0.1\n0.05\n3\n2\n0.5\n0.01\n1\n1\n0.45\n0.9\n";
  for (const char *stem : {"rain", "snow", "days", "age"})
    text += std::string(stem) + ".asc\n0\n" + stem + ".sta" + table;
  text += "albedo.sta" + table + "outflow.asc\n0\noutflow.sta" + table + "melt.asc\n0\nmelt.sta" +
          table + "solid.asc\n0\nliquid.asc\n0\nstorage.sta" + table + "total.asc\n0\n0\n";
  if (method > 4)
    text += "snowtemp.asc\n0\nsnowtemp.sta" + table + "surftemp.asc\n0\nsurftemp.sta" + table +
            "input.asc\n0\ninput.sta 0\nmobile.asc\n0\nmobile.sta 0\ndeposition.asc\n0\n"
            "deposition.sta 0\n55\n1\n30\n0.01\n1\n1\n1\n";
  return text;
}

tavro::landuse_class Meadow(tavro::DiagnosticsLog &log) {
  tavro::LanduseParameters p;
  p.Code = 10;
  p.Name = "meadow";
  p.Method = tavro::landuse::VariableDayCount;
  p.FixPointCount = 4;
  p.JulDays = {-36, 100, 150, 250, 330};
  for (auto *list : {&p.rsc, &p.rs_interception, &p.rs_evaporation, &p.LAI, &p.Z0, &p.VCF,
                     &p.RootDepth, &p.SR_StemDiameter, &p.SR_ResidCovrg, &p.NFactor})
    *list = std::vector<double>(5, 1.0);
  p.Albedo = {0.2, 0.25, 0.2, 0.18, 0.2};
  p.AltDep = std::vector<double>(5, 0.0);
  p.SoilTillage = {-9999};
  return tavro::landuse_class(log, p);
}

// A raster of four zones with the grids the snow module reads, and the
// module itself, in a directory of its own.
class SnowBench {
public:
  SnowBench(int method, int statisticsCode)
      : directory_(WorkDirectory()), log_((directory_ / "diagnostics.xml").string(), 1) {
    std::ofstream(kControl) << SnowSection(method, statisticsCode);
    landuse_ = tavro::OneBasedArray<tavro::landuse_class>(1);
    landuse_[1] = Meadow(log_);
    Add("zone", [](long r, long c) { return (r - 1) * 2 / kSize * 2 + (c - 1) * 2 / kSize + 1.0; });
    Add("elevation", [](long r, long c) { return 600.0 + 0.8 * r + 0.3 * c; });
    Add("RelCellArea", [](long, long) { return 1.0; });
    Add("zonegrid_soilmodel", [this](long r, long c) { return (*grids_[0])[r][c]; });
    Add("albedo", [](long, long) { return 0.2; });
    Add("landuse1", [](long, long) { return 1.0; });
    // Cold nights and mild days: snow falls, lies and melts across the raster.
    Add("temperature", [](long r, long c) { return -4.0 + 8.0 * std::sin(r * 0.013 + c * 0.007); });
    Add("temperature_night", [](long r, long) { return -6.0 + 0.004 * r; });
    Add("precipitation", [](long r, long c) { return (r + c) % 3 == 0 ? 0.0 : 6.0; });
    Add("wind_speed", [](long r, long) { return 1.0 + 0.002 * r; });
    Add("air_humidity", [](long, long c) { return 0.5 + 0.0004 * c; });
    Add("cloudiness", [](long r, long c) { return 0.3 + 0.3 * std::sin(0.01 * (r - c)); });
    Add("AspectCorrectedGlobalRadiation", [](long r, long) { return 1500.0 + r; });

    zoneIndex_ = tavro::OneBasedArray<int>(kZones, 0);
    zoneTable_ = tavro::OneBasedArray<tavro::ZoneRecord>(kZones);
    for (int k = 1; k <= kZones; ++k) {
      zoneIndex_[static_cast<std::size_t>(k)] = k;
      zoneTable_[static_cast<std::size_t>(k)].zonenwert = k;
      zoneTable_[static_cast<std::size_t>(k)].rel = 0.25;
    }
    tavro::ModuleSettings s;
    s.Log = &log_;
    s.Statistics = &statistics_;
    s.ModuleName = tavro::schneemodellklasse::FixedName;
    s.ControlFileName = kControl;
    s.Registry = &registry_;
    s.ZoneIndex = &zoneIndex_;
    s.ZoneTable = &zoneTable_;
    s.ZoneCount = kZones;
    s.MaxZoneCode = kZones;
    s.NCols = kSize;
    s.NRows = kSize;
    s.FirstRow = 1;
    s.LastRow = kSize;
    s.MinToIntEnd = 1440.0;
    s.EndDate = tavro::ModelDate{0, 31, 12, 2012};
    s.LanduseTable = &landuse_;
    s.Latitude = 47.0;
    int error = 0;
    module_ = std::make_unique<tavro::schneemodellklasse>(error, s);
    module_->SelectWaterInput(false);
  }
  ~SnowBench() {
    module_.reset();
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }

  void Step(long day) { module_->ComputeTimeStep(0, 1 + day % 28, 2, 2012); }

private:
  static constexpr const char *kControl = "snow.ctl";

  // A directory of its own, made the working directory (statistics files land there).
  static std::filesystem::path WorkDirectory() {
    const std::filesystem::path directory =
        std::filesystem::temp_directory_path() / "tavro_snow_bench";
    std::filesystem::create_directories(directory);
    std::filesystem::current_path(directory);
    return directory;
  }

  template <class Value> void Add(const char *identifier, Value value) {
    grids_.push_back(std::make_unique<Grid>(1, kSize, kSize, kSize, log_));
    Grid &grid = *grids_.back();
    for (long r = 1; r <= kSize; ++r)
      for (long c = 1; c <= kSize; ++c)
        grid[r][c] = value(r, c);
    registry_.AddGrid(registry_.FirstFreeIndex(), identifier, &grid, nullptr, 1, identifier, 0, 1,
                      kSize, kSize, kSize, log_);
  }

  std::filesystem::path directory_;
  tavro::DiagnosticsLog log_;
  tavro::GridRegistry registry_;
  tavro::StatisticsRegistry statistics_;
  tavro::OneBasedArray<tavro::landuse_class> landuse_;
  tavro::OneBasedArray<int> zoneIndex_;
  tavro::OneBasedArray<tavro::ZoneRecord> zoneTable_;
  std::vector<std::unique_ptr<Grid>> grids_;
  std::unique_ptr<tavro::schneemodellklasse> module_;
};

void RunSteps(benchmark::State &state, int statisticsCode) {
  const int method = static_cast<int>(state.range(0));
  omp_set_num_threads(static_cast<int>(state.range(1)));
  SnowBench bench(method, statisticsCode);
  long day = 0;
  for (auto _ : state)
    bench.Step(day++);
  state.SetItemsProcessed(state.iterations() * kSize * kSize);
}

// The cell loop: no statistics table is on and no grid is written.
void BM_SnowCellLoop(benchmark::State &state) { RunSteps(state, 0); }
BENCHMARK(BM_SnowCellLoop)
    ->ArgsProduct({{1, 5}, {1, 8}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The whole step with every table written each step.
void BM_SnowWholeStep(benchmark::State &state) { RunSteps(state, 2001); }
BENCHMARK(BM_SnowWholeStep)
    ->ArgsProduct({{1, 5}, {1, 8}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
