// One daily step of the potential evapotranspiration (Penman-Monteith,
// relative sunshine and humidity as inputs, day and night parts, the
// temperature amplitude of long steps) over a 1000 x 1000 raster on one
// process, with one and with three vegetation layers, side by side with a
// minimal hand-written loop of the same arithmetic over plain arrays. The
// arguments are the number of OpenMP threads and of layers; compare the real
// times. The module's step reports its parallel cell loop ("cells_ms") and
// its serial rest, the statistics of the cells ("tail_ms"), apart.
#include <benchmark/benchmark.h>
#include <omp.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "kernel/grid_registry.h"
#include "kernel/module_settings.h"
#include "kernel/solar_geometry.h"
#include "kernel/zone_record.h"
#include "landsurface/evapotranspiration/penman_monteith.h"
#include "landsurface/evapotranspiration_model.h"
#include "landsurface/radiation/radiation_balance.h"
#include "tables/multilayer_landuse.h"

namespace {

namespace et = tavro::evapotranspiration;
namespace rad = tavro::radiation;

constexpr long kSize = 1000;
constexpr long kCells = kSize * kSize;
constexpr long kHour = 0, kDay = 15, kMonth = 7, kYear = 2005;
constexpr double kMinutes = 1440.0;
const tavro::solar::Observer kObserver{47.0, 8.0, 15.0};

// The inputs of a cell, as functions of its row and column.
double Temperature(long r, long c) { return 12.0 + 8.0 * std::sin(r * 0.013) + 0.002 * c; }
double Sunshine(long r, long c) { return 0.3 + 0.5 * std::fabs(std::sin((r + c) * 0.007)); }
double Humidity(long r, long) { return 0.5 + 0.3 * std::fabs(std::cos(r * 0.011)); }
double Wind(long, long c) { return 0.5 + 3.0 * std::fabs(std::sin(c * 0.009)); }
double Elevation(long r, long c) { return 300.0 + 0.8 * r + 0.3 * c; }
struct LayerValues {
  double lai, cover, rsc, rsi, z0;
};
LayerValues Layer(int k, long r, long c) {
  const double v = std::fabs(std::sin((r * c) * 1e-5 + k));
  return {1.0 + 3.0 * v, 0.5 + 0.4 * v, 50.0 + 40.0 * v, 20.0 + 10.0 * v, 0.05 + k * 0.4};
}

const char *const kSection =
    "[evapotranspiration]\n1\n1440\n1 method\n"
    "1 1 1 1 1 1 1 1 1 1 1 1\n0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3\n"
    "1.0 fk\netp.grd\n0\netp.stat 1001\netr.grd\n0\netr.stat 1001\nevap.grd\n0\nevap.stat 1001\n"
    "evar.grd\n0\nevar.stat 1001\nsnow.grd\n0\nsnow.stat 1001\neip.grd\n0\neip.stat 1001\n"
    "rgex.stat 1001\n0.2 0.45 0.45 -0.1\n0.072 -0.808 1.749 -0.239\n0.7 0.05\n1000\n"
    "4 5 6 7 8 9 9 8 7 6 5 4\n0.6 0.1\ncloud.stat 1001\n";

struct EvapotranspirationBenchData {
  explicit EvapotranspirationBenchData(int layerCount)
      : layers(layerCount),
        directory(std::filesystem::temp_directory_path() /
                  ("tavro_evapotranspiration_bench_" + std::to_string(layerCount))),
        log((std::filesystem::create_directories(directory), (directory / "bench.xml").string()),
            1) {
    const auto add = [&](const std::string &identifier, double (*value)(long, long)) {
      grids.push_back(std::make_unique<tavro::Grid>(1, kSize, kSize, kSize, log));
      tavro::Grid &g = *grids.back();
      for (long r = 1; r <= kSize; ++r)
        for (long c = 1; c <= kSize; ++c)
          g[r][c] = value(r, c);
      const int index = registry.FirstFreeIndex();
      registry.AddGrid(index, identifier, &g, nullptr, 1, identifier, 0, 1, kSize, kSize, kSize,
                       log);
      return &g;
    };
    add("zones", [](long, long) { return 1.0; });
    add("elevation", Elevation);
    add("RelCellArea", [](long, long) { return 1.0; });
    add("temperature", Temperature);
    add("temperature_night", Temperature);
    add("sunshine_duration", Sunshine);
    add("air_humidity", Humidity);
    add("wind_speed", Wind);
    add("albedo", [](long, long) { return 0.2; });
    add("SurfaceEvaporationResistance", [](long, long) { return 150.0; });
    if (layers > 1)
      add("landuse", [](long, long) { return 1.0; });
    for (int k = 1; k <= layers; ++k) {
      const std::string n = std::to_string(k);
      add("landuse" + n, [](long, long) { return 1.0; });
      tavro::Grid *lai = add("leaf_area_index" + n, [](long, long) { return 0.0; });
      tavro::Grid *cover = add("vegetation_coverage_degree" + n, [](long, long) { return 0.0; });
      tavro::Grid *rsc = add("SurfaceCanopyResistance" + n, [](long, long) { return 0.0; });
      tavro::Grid *rsi = add("SurfaceIntercepResistance" + n, [](long, long) { return 0.0; });
      tavro::Grid *z0 = add("RoughnessLength" + n, [](long, long) { return 0.0; });
      for (long r = 1; r <= kSize; ++r)
        for (long c = 1; c <= kSize; ++c) {
          const LayerValues v = Layer(k, r, c);
          (*lai)[r][c] = v.lai;
          (*cover)[r][c] = v.cover;
          (*rsc)[r][c] = v.rsc;
          (*rsi)[r][c] = v.rsi;
          (*z0)[r][c] = v.z0;
        }
    }

    std::ofstream(directory / "control.txt_0.$$$") << kSection;
    zoneIndex = tavro::OneBasedArray<int>(1, 1);
    zoneTable = tavro::OneBasedArray<tavro::ZoneRecord>(1);
    zoneTable[1].zonenwert = 1.0;
    zoneTable[1].rel = 1.0;
    multilayer = tavro::MultilayerLanduseTable(1);
    multilayer[1].LayerCount = layers;
    tavro::ModuleSettings s;
    s.Log = &log;
    s.ModuleName = "evapotranspiration";
    s.ControlFileName = (directory / "control.txt_0.$$$").string();
    s.DefaultOutputDirectory = directory.string() + "/";
    s.Registry = &registry;
    s.NCols = kSize;
    s.NRows = kSize;
    s.FirstRow = 1;
    s.LastRow = kSize;
    s.CellSize = 100.0;
    s.HourDivisor = 24;
    s.ZoneIndex = &zoneIndex;
    s.ZoneTable = &zoneTable;
    s.ZoneCount = 1;
    s.MaxZoneCode = 1;
    s.Latitude = kObserver.latitude;
    s.Longitude = kObserver.longitude;
    s.ReferenceMeridian = kObserver.referenceMeridian;
    s.MinToIntEnd = 1440.0;
    s.EndDate = tavro::ModelDate{0, 31, 12, 2005};
    s.MultilayerTable = layers > 1 ? &multilayer : nullptr;
    int error = 0;
    module = std::make_unique<tavro::verdunstungsmodellklasse>(error, s);
    if (error != 0)
      throw error;
    module->SetInitialized(1);
    MakePlainArrays();
  }

  void MakePlainArrays() {
    const auto fill = [](std::vector<double> &a, double (*value)(long, long)) {
      a.resize(static_cast<std::size_t>(kCells));
      for (long r = 1; r <= kSize; ++r)
        for (long c = 1; c <= kSize; ++c)
          a[static_cast<std::size_t>((r - 1) * kSize + c - 1)] = value(r, c);
    };
    fill(temperature, Temperature);
    fill(nightTemperature, Temperature);
    fill(sunshine, Sunshine);
    fill(humidity, Humidity);
    fill(wind, Wind);
    fill(elevation, Elevation);
    fill(albedo, [](long, long) { return 0.2; });
    fill(soilResistance, [](long, long) { return 150.0; });
    fill(globalRadiation, [](long, long) { return 0.0; });
    fill(cloudiness, [](long, long) { return 0.0; });
    fill(remembered, [](long, long) { return 0.5; });
    fill(soil, [](long, long) { return 0.0; });
    plainLayers.resize(static_cast<std::size_t>(layers));
    for (int k = 1; k <= layers; ++k) {
      PlainLayer &l = plainLayers[static_cast<std::size_t>(k - 1)];
      for (auto *a : {&l.lai, &l.cover, &l.rsc, &l.rsi, &l.z0, &l.transpiration, &l.interception})
        a->resize(static_cast<std::size_t>(kCells));
      for (long i = 0; i < kCells; ++i) {
        const LayerValues v = Layer(k, i / kSize + 1, i % kSize + 1);
        const auto j = static_cast<std::size_t>(i);
        l.lai[j] = v.lai;
        l.cover[j] = v.cover;
        l.rsc[j] = v.rsc;
        l.rsi[j] = v.rsi;
        l.z0[j] = v.z0;
      }
    }
  }

  struct PlainLayer {
    std::vector<double> lai, cover, rsc, rsi, z0, transpiration, interception;
  };

  int layers;
  std::filesystem::path directory;
  tavro::DiagnosticsLog log;
  tavro::GridRegistry registry;
  std::vector<std::unique_ptr<tavro::Grid>> grids;
  tavro::OneBasedArray<int> zoneIndex;
  tavro::OneBasedArray<tavro::ZoneRecord> zoneTable;
  tavro::MultilayerLanduseTable multilayer;
  std::unique_ptr<tavro::verdunstungsmodellklasse> module;
  std::vector<double> temperature, nightTemperature, sunshine, humidity, wind, elevation, albedo,
      soilResistance, globalRadiation, cloudiness, remembered, soil;
  std::vector<PlainLayer> plainLayers;
};

EvapotranspirationBenchData &Data(int layers) {
  static std::map<int, std::unique_ptr<EvapotranspirationBenchData>> data;
  auto &entry = data[layers];
  if (!entry)
    entry = std::make_unique<EvapotranspirationBenchData>(layers);
  return *entry;
}

void BM_PotentialEvapotranspirationStep(benchmark::State &state) {
  auto &data = Data(static_cast<int>(state.range(1)));
  omp_set_num_threads(static_cast<int>(state.range(0)));
  double cells = 0.0, tail = 0.0;
  for (auto _ : state) {
    data.module->PotentialEvapotranspiration(kHour, kDay, kMonth, kYear);
    cells += data.module->LastPotentialStepTimes().cells;
    tail += data.module->LastPotentialStepTimes().tail;
  }
  const double steps = static_cast<double>(state.iterations());
  state.counters["cells_ms"] = 1000.0 * cells / steps;
  state.counters["tail_ms"] = 1000.0 * tail / steps;
  state.SetItemsProcessed(state.iterations() * kCells);
}

// The same arithmetic over plain arrays: the radiation of the cell, the
// temperature shift, the air and energy of each part, the layers from the
// top, the sums.
void BM_HandLoop(benchmark::State &state) {
  auto &d = Data(static_cast<int>(state.range(1)));
  omp_set_num_threads(static_cast<int>(state.range(0)));
  const tavro::verdunstungsmodellklasse &m = *d.module;
  const tavro::EvapotranspirationSection &s = m.Section();
  const int layers = d.layers;
  for (auto _ : state) {
    const tavro::solar::Daylight light =
        tavro::solar::DaylightFraction({kDay, kMonth, kHour, 24.0, kMinutes}, kObserver);
    rad::ClearSkyGeometry geometry;
    geometry.Compute(
        {kDay, kMonth, kHour, 24.0, kMinutes, light.dayFraction, light.nightBeforeSunrise},
        kObserver);
    const double tau =
        rad::Transmissivity(s.transmissivityMean, s.transmissivityAmplitude, kDay, kMonth);
    const double cap = rad::RadiationCap(kMinutes, light.dayFraction);
    const double amplitude = et::AmplitudeOfDate(s.amplitudes, kDay, kMonth, 31);
    const double annual = et::AnnualTerm(s.annualAmplitude, tavro::solar::DayOfYear(kDay, kMonth));
    const std::array<double, 2> fractions{light.nightFraction, light.dayFraction};
#pragma omp parallel for schedule(runtime)
    for (long r = 0; r < kSize; ++r)
      for (long c = 0; c < kSize; ++c) {
        const auto i = static_cast<std::size_t>(r * kSize + c);
        const double z = d.elevation[i];
        rad::CellRadiationInput in;
        in.sunshine = d.sunshine[i];
        in.clearSky = geometry.ClearSkyRadiation(tau, et::BarometricPressure(z, d.temperature[i]));
        in.cap = cap;
        in.albedo = d.albedo[i];
        const rad::CellRadiation cell = rad::CellRadiationOfDay(s.radiation, in);
        d.globalRadiation[i] = cell.global;
        d.cloudiness[i] = cell.cloudiness;
        d.remembered[i] = cell.sunshine;
        const et::TemperatureShift shift = et::DayNightShift(
            cell.relative, amplitude, z, s.amplitudeScale, s.amplitudeFractionDay, annual);
        d.temperature[i] += shift.dayRise;
        d.nightTemperature[i] -= shift.nightFall;
        std::array<et::LayerWeather, 2> air;
        std::array<double, 2> energy{};
        for (std::size_t p = 0; p < 2; ++p) {
          const double t = p == 1 ? d.temperature[i] : d.nightTemperature[i];
          air[p] = {t, et::BarometricPressure(z, t),
                    d.humidity[i] * et::SaturationVapourPressure(t), d.wind[i]};
          const double loss = et::LongWaveLoss(air[p].vapourPressure, s.radiation.c[0],
                                               cell.sunshine, fractions[p], kMinutes, t);
          energy[p] = p == 1 ? et::AvailableEnergyOfDay(cell.netShortwave, loss, t)
                             : et::AvailableEnergyOfNight(loss, t);
        }
        et::LayerCarry carry;
        double soil = 0.0;
        for (int k = 0; k < layers; ++k) {
          auto &l = d.plainLayers[static_cast<std::size_t>(k)];
          et::LayerVegetation v;
          v.leafAreaIndex = l.lai[i];
          v.vegetationCover = l.cover[i];
          v.canopyResistance = l.rsc[i];
          v.interceptionResistance = l.rsi[i];
          v.roughnessLength = l.z0[i];
          v.soilResistance = d.soilResistance[i];
          v.lowest = k == layers - 1;
          double transpiration = 0.0, interception = 0.0;
          for (std::size_t p = 0; p < 2; ++p) {
            const et::LayerStep step{k + 1, p == 1 ? et::StepPart::Day : et::StepPart::Night,
                                     fractions[p], kMinutes, energy[p]};
            const et::LayerRates rates = et::PenmanMonteithLayer(step, air[p], v, carry);
            transpiration += rates.transpiration;
            interception += rates.interceptionEvaporation;
            soil += rates.soilEvaporation;
          }
          l.transpiration[i] = std::max(0.0, transpiration);
          l.interception[i] = std::max(0.0, interception);
          carry.leafAreaAbove += v.leafAreaIndex;
        }
        d.soil[i] = soil;
      }
    benchmark::DoNotOptimize(d.soil[kCells / 2]);
  }
  state.SetItemsProcessed(state.iterations() * kCells);
}

// Threads 1, 2, 4 and 8 with one and with three layers, real time.
void ThreadsAndLayers(benchmark::internal::Benchmark *b) {
  for (const int layers : {1, 3})
    for (const int threads : {1, 2, 4, 8})
      b->Args({threads, layers});
  b->ArgNames({"threads", "layers"})->UseRealTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_PotentialEvapotranspirationStep)->Apply(ThreadsAndLayers);
BENCHMARK(BM_HandLoop)->Apply(ThreadsAndLayers);

} // namespace
