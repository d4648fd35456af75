// One step of inverse distance weighting (method 1, p = 2, values not
// uniform, warnings and statistics off) from 100 stations onto a 1000 x 1000
// raster on one process, side by side with a minimal hand-written loop of the
// same arithmetic (squared distance, radius test, 1/d2, weighted sum). The
// argument is the number of OpenMP threads; compare the real times.
#include <benchmark/benchmark.h>
#include <omp.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "kernel/grid_registry.h"
#include "kernel/module_settings.h"
#include "kernel/zone_record.h"
#include "meteo/meteointerpol.h"

namespace {

constexpr int kSize = 1000;
constexpr int kStations = 100;
constexpr double kCell = 100.0;
constexpr double kRadius = 40000.0;

struct Station {
  double x, y, value;
};

// Stations spread over the raster by a fixed sequence, values not uniform.
std::vector<Station> MakeStations() {
  std::vector<Station> stations;
  unsigned state = 12345;
  const auto next = [&] {
    state = state * 1103515245u + 12345u;
    return static_cast<double>((state >> 8) % 100000) / 100000.0;
  };
  for (int k = 0; k < kStations; ++k)
    stations.push_back({next() * kSize * kCell, next() * kSize * kCell, -5.0 + 20.0 * next()});
  return stations;
}

struct InterpolationBenchData {
  InterpolationBenchData()
      : directory(std::filesystem::temp_directory_path() / "tavro_interpolation_bench"),
        log((std::filesystem::create_directories(directory), (directory / "bench.xml").string()),
            1),
        stations(MakeStations()) {
    const auto grid = [&] { return tavro::Grid(1, kSize, kSize, kSize, log); };
    zone = grid();
    elevation = grid();
    cellArea = grid();
    coordX = grid();
    coordY = grid();
    result = grid();
    for (int r = 1; r <= kSize; ++r)
      for (int c = 1; c <= kSize; ++c) {
        zone[r][c] = 1.0;
        elevation[r][c] = 500.0;
        cellArea[r][c] = 1.0;
        coordX[r][c] = (c - 1) * kCell;
        coordY[r][c] = (kSize - r) * kCell;
      }
    const auto add = [&](int index, tavro::Grid &g, const char *identifier) {
      registry.AddGrid(index, identifier, &g, nullptr, 1, identifier, 0, 1, kSize, kSize, kSize,
                       log);
    };
    add(1, zone, "zones");
    add(2, elevation, "elevation");
    add(3, cellArea, "RelCellArea");
    add(4, coordX, "CoordX");
    add(6, coordY, "CoordY");

    const std::string stationFile = (directory / "stations.dat").string();
    std::ofstream file(stationFile);
    file << "bench stations\n";
    const char *labels[] = {"YY MM DD HH", "YY MM DD HH", "YY MM DD HH"};
    for (int line = 0; line < 3; ++line) {
      file << labels[line];
      for (const Station &s : stations)
        file << " " << (line == 0 ? 500.0 : line == 1 ? s.x : s.y);
      file << "\n";
    }
    file << "YY MM DD HH names\n2001 1 1 0";
    for (const Station &s : stations)
      file << " " << s.value;
    file << "\n2001 1 2 0";
    for (const Station &s : stations)
      file << " " << s.value + 1.0;
    file << "\n";
    file.close();

    control = (directory / "control.txt_0.$$$").string();
    std::ofstream section(control);
    section << "[temperature]\n1\n"
            << stationFile << "\nregression.dat\nresult.grd\n0\n1.0\nbench.stat 0\n9999\n2\n0.5\n"
            << kRadius << "\n0\n1\n-100\n-100\n100\n100\n0\n";
    section.close();

    zoneIndex = tavro::OneBasedArray<int>(1, 1);
    zoneTable = tavro::OneBasedArray<tavro::ZoneRecord>(1);
    zoneTable[1].zonenwert = 1.0;
    tavro::ModuleSettings s;
    s.Log = &log;
    s.ModuleName = "temperature";
    s.ControlFileName = control;
    s.Registry = &registry;
    s.NCols = kSize;
    s.NRows = kSize;
    s.FirstRow = 1;
    s.LastRow = kSize;
    s.CellSize = kCell;
    s.HourDivisor = 24; // no progress line at hour 0 with one hour to the step's end
    s.ZoneIndex = &zoneIndex;
    s.ZoneTable = &zoneTable;
    s.ZoneCount = 1;
    s.MaxZoneCode = 1;
    s.EndDate = tavro::ModelDate{0, 31, 12, 2001};
    int error = 0;
    variable = std::make_unique<tavro::meteointerpol>(error, s, tavro::ModelDate{0, 1, 1, 2001}, 5);
    variable->SetTimeStep(1.0);
  }

  std::filesystem::path directory;
  tavro::DiagnosticsLog log;
  std::vector<Station> stations;
  tavro::GridRegistry registry;
  tavro::Grid zone, elevation, cellArea, coordX, coordY, result;
  tavro::OneBasedArray<int> zoneIndex;
  tavro::OneBasedArray<tavro::ZoneRecord> zoneTable;
  std::string control;
  std::unique_ptr<tavro::meteointerpol> variable;
};

InterpolationBenchData &Data() {
  static InterpolationBenchData data;
  return data;
}

void BM_InterpolatorStep(benchmark::State &state) {
  auto &data = Data();
  omp_set_num_threads(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    data.variable->Interpolate(0, 1, 1, 2001);
    benchmark::DoNotOptimize(data.variable->ResultGrid()[kSize / 2][kSize / 2]);
  }
  state.SetItemsProcessed(state.iterations() * kSize * kSize);
}

void BM_HandLoop(benchmark::State &state) {
  auto &data = Data();
  omp_set_num_threads(static_cast<int>(state.range(0)));
  std::vector<double> x, y, v;
  for (const Station &s : data.stations) {
    x.push_back(s.x);
    y.push_back(s.y);
    v.push_back(s.value);
  }
  const double radius2 = kRadius * kRadius;
  const int n = static_cast<int>(x.size());
  for (auto _ : state) {
#pragma omp parallel for schedule(runtime)
    for (int r = 1; r <= kSize; ++r) {
      const double *cx = data.coordX[r];
      const double *cy = data.coordY[r];
      double *out = data.result[r];
      for (int c = 1; c <= kSize; ++c) {
        double ws = 0.0, vs = 0.0;
        for (int k = 0; k < n; ++k) {
          const double dx = x[static_cast<std::size_t>(k)] - cx[c];
          const double dy = y[static_cast<std::size_t>(k)] - cy[c];
          double d2 = dx * dx + dy * dy;
          if (d2 == 0.0)
            d2 = 1.0;
          if (d2 <= radius2) {
            const double w = 1.0 / d2;
            ws += w;
            vs += w * v[static_cast<std::size_t>(k)];
          }
        }
        out[c] = ws > 0.0 ? vs / ws : -10000.0;
      }
    }
    benchmark::DoNotOptimize(data.result[kSize / 2][kSize / 2]);
  }
  state.SetItemsProcessed(state.iterations() * kSize * kSize);
}

// Thread counts 1 to 8, real time (the threads' work is not in the CPU time).
void ThreadCounts(benchmark::internal::Benchmark *b) {
  b->Arg(1)->Arg(2)->Arg(4)->Arg(8)->UseRealTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_InterpolatorStep)->Apply(ThreadCounts);
BENCHMARK(BM_HandLoop)->Apply(ThreadCounts);

} // namespace
