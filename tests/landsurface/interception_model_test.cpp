// The interception module on a small raster whose potential rates are
// registered by the test as the evapotranspiration registers them: the worked
// example of a half-covered layer, the water balance over random rain and
// layer patterns with gaps, the tracer of an undivided canopy, glacierised
// cells, the method and the statistics of each layer.
#include "landsurface/interception_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/tracer_info.h"
#include "landsurface/land_surface_fixture.h"
#include "raster/handover/tracer_grid_hooks.h"
#include "raster/parallel/non_finite_water.h"
#include "support/diagnostics_entries.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace tavro {
namespace {

constexpr const char *kControl = "control.txt_0.$$$";
constexpr double N = -9999.0;
using test::CellFunction;
using test::InterceptionValues;
using test::LayerVegetationFunctions;

double Zone(long r, long c) { return r == 3 && c == 4 ? N : 1.0; }

double LastValue(const std::string &file) {
  std::istringstream text(test::ReadWholeFile(file));
  std::string line, last;
  while (std::getline(text, line))
    if (!line.empty())
      last = line;
  const std::size_t tab = last.find_last_of('\t');
  return std::stod(last.substr(tab == std::string::npos ? 0 : tab + 1));
}

// The interception module with its own registry: the land-use grids of the
// layers, the rates of the evapotranspiration and the rain.
struct Bench {
  DiagnosticsLog &log;
  GridRegistry registry;
  std::unique_ptr<test::LandSurfaceGrids> grids;
  MultilayerLanduseTable table;
  OneBasedArray<landuse_class> landuse;
  ModuleSettings settings;
  std::unique_ptr<interzeptionsmodellklasse> module;
  int layers;

  Bench(DiagnosticsLog &l, const std::vector<LayerVegetationFunctions> &vegetation,
        const CellFunction &zone = Zone)
      : log(l), layers(static_cast<int>(vegetation.size())) {
    const test::SetupRaster raster{3, 4, 1, 1, 3, 0.0, 0.0, 1000.0};
    grids = std::make_unique<test::LandSurfaceGrids>(log, registry, raster, zone,
                                                     [](long, long) { return 500.0; });
    InstallTracerGridHooks(registry);
    grids->AddLayers(vegetation);
    for (int k = 0; k <= layers; ++k) {
      grids->Add("pot_transpiration" + std::to_string(k), [](long, long) { return 0.0; });
      grids->Add("potential_InterceptionEvap" + std::to_string(k), [](long, long) { return 0.0; });
    }
    grids->Add("precipitation", [](long, long) { return 0.0; });
    grids->FillSettings(settings, registry, "interception_model", kControl);
    table = test::MultilayerTableOf(layers);
    settings.MultilayerTable = layers > 1 ? &table : nullptr;
    // Record 1 gives its IntercepCap, records 2 and 3 none, record 4 0.
    landuse = test::LanduseTableOf(log, {0.5, -1.0, -1.0, 0.0});
    settings.LanduseTable = &landuse;
  }

  void Build(const InterceptionValues &values = {}, int flowControl = 1) {
    test::WriteFixture(kControl, test::InterceptionSection(flowControl, 1440.0, values));
    int error = -1;
    module = std::make_unique<interzeptionsmodellklasse>(error, settings);
    ASSERT_EQ(error, 0);
    module->SetInitialized(1);
  }

  Grid &G(const std::string &identifier) {
    const int index = registry.FindGrid(identifier, true);
    EXPECT_GT(index, 0) << identifier;
    return *registry[index].Data;
  }
  void Set(const std::string &identifier, const CellFunction &value) {
    grids->terrain.Set(G(identifier), value);
  }
};

class InterceptionModuleTest : public testing::Test {
protected:
  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
};

LayerVegetationFunctions HalfCovered() {
  LayerVegetationFunctions layer;
  layer.leafAreaIndex = [](long, long) { return 2.0; };
  layer.cover = [](long, long) { return 0.5; };
  return layer; // record 1: IntercepCap 0.5, so a capacity of 1 mm
}

TEST_F(InterceptionModuleTest, HalfCoveredLayerInRain) {
  for (const int method : {1, 2}) {
    SCOPED_TRACE(method);
    Bench bench(log_, {HalfCovered()});
    InterceptionValues values;
    values.method = method;
    bench.Build(values);
    bench.Set("precipitation", [](long, long) { return 4.0; });
    bench.Set("pot_transpiration1", [](long, long) { return 0.3; });
    bench.Set("pot_transpiration0", [](long, long) { return 0.5; }); // with the soil's 0.2
    bench.Set("potential_InterceptionEvap1", [](long, long) { return 0.9; });
    bench.module->ComputeTimeStep(0, 1, 6, 2004);
    // Method 1 evaporates 0.3 at the transpiration's rate; method 2 0.9 at
    // the interception's, taking only the 0.3 the transpiration has.
    const double evaporated = method == 1 ? 0.3 : 0.9;
    for (const int k : {0, 1}) {
      const std::string layer = std::to_string(k);
      EXPECT_DOUBLE_EQ(bench.G("throughfall" + layer)[2][2], 3.0);
      EXPECT_NEAR(bench.G("interception_storage" + layer)[2][2], 1.0 - evaporated, 1e-15);
      EXPECT_DOUBLE_EQ(bench.G("interception_evaporation" + layer)[2][2], evaporated);
      EXPECT_DOUBLE_EQ(bench.G("pot_transpiration" + layer)[2][2], 0.0);
    }
    EXPECT_EQ(bench.G("throughfall0")[3][4], N);
    EXPECT_EQ(bench.G("interception_storage0")[3][4], N);
    bench.module->ReleaseMemory();
  }
}

TEST_F(InterceptionModuleTest, CapacityFromTheLanduseTableOrTheLeafArea) {
  LayerVegetationFunctions layer = HalfCovered();
  // Records 1 (IntercepCap 0.5), 2 (none: LAI x 0.2) and 4 (IntercepCap 0).
  layer.landuse = [](long, long c) { return c == 1 ? 1.0 : (c == 2 ? 2.0 : 4.0); };
  Bench bench(log_, {layer});
  bench.Build();
  bench.Set("precipitation", [](long, long) { return 4.0; });
  bench.module->ComputeTimeStep(0, 1, 6, 2004);
  const Grid &store = bench.G("interception_storage1");
  EXPECT_DOUBLE_EQ(store[1][1], 1.0);
  EXPECT_DOUBLE_EQ(store[1][2], 0.4);
  EXPECT_DOUBLE_EQ(store[1][3], 0.0);
  EXPECT_DOUBLE_EQ(bench.G("throughfall1")[1][3], 4.0);
  bench.module->ReleaseMemory();
}

// Layers with random cover and leaf area; "landuse" + k absent where
// gap(k, r, c) says so.
std::vector<LayerVegetationFunctions> RandomLayers(int count, unsigned seed,
                                                   std::function<bool(int, long, long)> gap) {
  std::vector<LayerVegetationFunctions> layers(static_cast<std::size_t>(count));
  for (int k = 1; k <= count; ++k) {
    LayerVegetationFunctions &l = layers[static_cast<std::size_t>(k - 1)];
    l.landuse = [k, gap](long r, long c) { return gap(k, r, c) ? N : 1.0 + (r + c + k) % 3; };
    l.leafAreaIndex = [seed, k](long r, long c) {
      return std::fmod(1.7 * (r + 2 * c + k + seed), 5.0);
    };
    l.cover = [seed, k](long r, long c) { return std::fmod(0.37 * (r * c + k + seed), 1.0); };
  }
  return layers;
}

TEST_F(InterceptionModuleTest, RainIsThroughfallEvaporationAndStoreChange) {
  struct Case {
    int layers;
    int method;
    std::function<bool(int, long, long)> gap;
  };
  const auto none = [](int, long, long) { return false; };
  // Gaps above, between and below, and a cell without any land use.
  const auto gaps = [](int k, long r, long c) {
    return (c == 1 && k == 2) || (c == 2 && k == 1) || (c == 3 && k == 3) || (r == 3 && c == 1);
  };
  const Case cases[] = {{1, 1, none}, {1, 12, gaps}, {3, 1, none},
                        {3, 2, gaps}, {3, 11, gaps}, {3, 12, gaps}};
  std::mt19937 random(17);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.layers << " layers, method " << c.method);
    Bench bench(log_, RandomLayers(c.layers, 3, c.gap));
    InterceptionValues values;
    values.method = c.method;
    bench.Build(values);
    for (int step = 1; step <= 8; ++step) {
      Grid before(1, 3, 4, 3, log_), rates(1, 3, 4, 3, log_);
      bench.Set("precipitation",
                [&](long, long) { return unit(random) < 0.3 ? 0.0 : 6.0 * unit(random); });
      for (int k = 1; k <= c.layers; ++k) {
        const std::string layer = std::to_string(k);
        bench.Set("pot_transpiration" + layer, [&](long, long) { return unit(random); });
        bench.Set("potential_InterceptionEvap" + layer, [&](long, long) { return unit(random); });
      }
      for (long r = 1; r <= 3; ++r)
        for (long col = 1; col <= 4; ++col) {
          double sum = 0.0;
          for (int k = 1; k <= c.layers; ++k)
            sum += bench.G("pot_transpiration" + std::to_string(k))[r][col];
          bench.G("pot_transpiration0")[r][col] = sum + 0.25;
          rates[r][col] = sum;
          before[r][col] = bench.G("interception_storage0")[r][col];
        }
      bench.module->ComputeTimeStep(0, step, 6, 2004);
      double rain = 0.0;
      for (long r = 1; r <= 3; ++r)
        for (long col = 1; col <= 4; ++col) {
          if (Zone(r, col) == N)
            continue;
          const double p = bench.G("precipitation")[r][col];
          const double tf = bench.G("throughfall0")[r][col];
          const double stored = bench.G("interception_storage0")[r][col];
          const double e = bench.G("interception_evaporation0")[r][col];
          EXPECT_NEAR(p, tf + stored - before[r][col] + e, 1e-12);
          EXPECT_EQ(tf, bench.G("throughfall" + std::to_string(c.layers))[r][col]);
          double layers = 0.0, stores = 0.0, used = 0.0;
          for (int k = 1; k <= c.layers; ++k) {
            const std::string layer = std::to_string(k);
            layers += bench.G("interception_evaporation" + layer)[r][col];
            stores += bench.G("interception_storage" + layer)[r][col];
            used += bench.G("pot_transpiration" + layer)[r][col];
          }
          EXPECT_NEAR(layers, e, 1e-12);
          EXPECT_NEAR(stores, stored, 1e-12);
          // What the stores took from the transpiration, the total lost too
          // (with one layer the total is the layer's rate).
          const double taken = rates[r][col] - used;
          EXPECT_NEAR(bench.G("pot_transpiration0")[r][col],
                      c.layers == 1 ? used : rates[r][col] + 0.25 - taken, 1e-12);
          rain += p;
        }
      const interception::InterceptionBalance &b = bench.module->StepBalance();
      EXPECT_NEAR(b.Residual(), 0.0, 1e-10);
      EXPECT_NEAR(b.input, rain, 1e-10);
    }
    bench.module->ReleaseMemory();
  }
}

TEST_F(InterceptionModuleTest, LayerWithoutLanduseBetweenTwoPassesTheRainOn) {
  std::vector<LayerVegetationFunctions> layers(3, HalfCovered());
  layers[0].landuse = [](long, long) { return 2.0; };
  layers[1].landuse = [](long, long) { return N; };
  layers[2].landuse = [](long, long) { return 3.0; };
  Bench bench(log_, layers);
  bench.Build();
  bench.Set("precipitation", [](long, long) { return 4.0; });
  bench.module->ComputeTimeStep(0, 1, 6, 2004);
  // Layer 1 keeps 0.4 (LAI 2 x 0.2), layer 3 another 0.4 of the 3.6 it gets.
  EXPECT_DOUBLE_EQ(bench.G("throughfall1")[1][1], 3.6);
  EXPECT_DOUBLE_EQ(bench.G("throughfall2")[1][1], 3.6);
  EXPECT_DOUBLE_EQ(bench.G("interception_storage2")[1][1], 0.0);
  EXPECT_DOUBLE_EQ(bench.G("throughfall3")[1][1], 3.2);
  EXPECT_DOUBLE_EQ(bench.G("throughfall0")[1][1], 3.2);
  EXPECT_DOUBLE_EQ(bench.G("interception_storage0")[1][1], 0.8);
  bench.module->ReleaseMemory();
}

TEST_F(InterceptionModuleTest, NonEvaporatingTracerIsStoredOrExported) {
  Bench bench(log_, {HalfCovered()});
  bench.grids->Add("concflux_tracer_1_input", [](long r, long c) { return 2.0 + r + c; });
  InterceptionValues values;
  values.throughfallStatistics = "tf.stat 1001";
  bench.Build(values);
  OneBasedArray<TracerInfo> tracers(1);
  tracers[1].name = "chl";
  tracers[1].max_conc = 100.0;
  tracers[1].statcode = 1001;
  tracers[1].path = "./";
  tracers[1].statext = "sta";
  int error = -1;
  bench.module->InitTracerGrids(error, 1, &tracers, nullptr, 0);
  ASSERT_EQ(error, 0);
  TracerRecord &tracer = bench.module->TracerRecords[1];
  std::mt19937 random(23);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int step = 1; step <= 6; ++step) {
    bench.Set("precipitation", [&](long, long) { return 5.0 * unit(random); });
    bench.Set("pot_transpiration1", [&](long, long) { return 0.5 * unit(random); });
    Grid stored(1, 3, 4, 3, log_);
    for (long r = 1; r <= 3; ++r)
      for (long c = 1; c <= 4; ++c)
        stored[r][c] = tracer.StorageGrid[r][c];
    bench.module->ComputeTimeStep(0, step, 6, 2004);
    for (long r = 1; r <= 3; ++r)
      for (long c = 1; c <= 4; ++c) {
        if (Zone(r, c) == N)
          continue;
        const double input = (2.0 + r + c) * bench.G("precipitation")[r][c];
        const double exported = tracer.FluxGrid[r][c] * bench.G("throughfall1")[r][c];
        EXPECT_NEAR(tracer.StorageGrid[r][c] - stored[r][c] + exported, input, 1e-10);
      }
  }
  bench.module->FinishTracerGrids();
  EXPECT_TRUE(test::FileExists("chlinter.sta"));
  bench.module->ReleaseMemory();
}

TEST_F(InterceptionModuleTest, GlacierisedCells) {
  struct Case {
    double glacier;
    int method;
  };
  for (const Case c : {Case{0.4, 1}, Case{1.0, 1}, Case{1.0, 12}}) {
    SCOPED_TRACE(testing::Message() << c.glacier << ", method " << c.method);
    Bench bench(log_, {HalfCovered()}, [](long, long) { return 1.0; });
    bench.grids->Add("GlacierizedCells", [&](long, long) { return c.glacier; });
    InterceptionValues values;
    values.method = c.method;
    values.throughfallStatistics = "tf.stat 1001";
    values.storageStatistics = "si.stat 1001";
    values.evaporationStatistics = "ei.stat 1001";
    bench.Build(values);
    bench.Set("precipitation", [](long, long) { return 4.0; });
    bench.Set("pot_transpiration1", [](long, long) { return 0.3; });
    bench.module->ComputeTimeStep(0, 1, 6, 2004);
    bench.module->FlushStatistics();
    const Grid &throughfall = bench.G("throughfall0");
    if (c.glacier < 1.0) {
      // The grids hold the cell's whole interception; the statistics count
      // the glacier's 0.4 with zeros.
      EXPECT_DOUBLE_EQ(throughfall[2][2], 3.0);
      EXPECT_NEAR(LastValue("tf.stat"), 0.6 * 3.0, 1e-5);
      EXPECT_NEAR(LastValue("si.stat"), 0.6 * 0.7, 1e-5);
      EXPECT_NEAR(LastValue("ei.stat"), 0.6 * 0.3, 1e-5);
      EXPECT_NEAR(bench.module->StepBalance().Residual(), 0.0, 1e-10);
    } else {
      // No interception: before snow the rain goes on to the glacier's
      // snow, after it the glacier has taken the cell's water.
      EXPECT_DOUBLE_EQ(throughfall[2][2], c.method > 10 ? 4.0 : 0.0);
      EXPECT_EQ(bench.G("interception_storage1")[2][2], 0.0);
      EXPECT_EQ(bench.G("interception_evaporation0")[2][2], 0.0);
      EXPECT_EQ(bench.G("pot_transpiration1")[2][2], 0.3);
      EXPECT_NEAR(LastValue("si.stat"), 0.0, 1e-12);
      const interception::InterceptionBalance &b = bench.module->StepBalance();
      EXPECT_NEAR(b.Residual(), 0.0, 1e-10);
      EXPECT_NEAR(b.glacier, c.method > 10 ? 0.0 : 4.0 * 12, 1e-10);
    }
    bench.module->ReleaseMemory();
  }
}

TEST_F(InterceptionModuleTest, MethodAndWaterInput) {
  struct Case {
    int flowControl, method;
    bool snowOutflow;
    int expected;
    const char *input;
  };
  const Case cases[] = {{1, 12, true, 12, "precipitation"},
                        {1, 11, false, 11, "precipitation"},
                        {1, 2, true, 2, "snowcover_outflow"},
                        {1, 1, false, 1, "precipitation"},
                        {0, 12, true, 0, ""}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.method);
    Bench bench(log_, {HalfCovered()});
    if (c.snowOutflow)
      bench.grids->Add("snowcover_outflow", [](long, long) { return 0.0; });
    InterceptionValues values;
    values.method = c.method;
    bench.Build(values, c.flowControl);
    EXPECT_EQ(bench.module->GetMethod(), c.expected);
    EXPECT_EQ(bench.module->WaterInputName(), c.input);
    bench.module->ReleaseMemory();
  }
}

TEST_F(InterceptionModuleTest, ThreeLayersRegisterTheirGridsAndStatistics) {
  Bench bench(log_, std::vector<LayerVegetationFunctions>(3));
  InterceptionValues values;
  values.throughfallStatistics = "out/tf.stat 1001";
  values.storageStatistics = "si.stat 1001";
  values.evaporationStatistics = "ei.stat 1001";
  std::filesystem::create_directory("out");
  const int first = bench.registry.FirstFreeIndex();
  bench.Build(values);
  for (int k = 0; k <= 3; ++k) {
    const auto i = static_cast<std::size_t>(k);
    const std::string layer = std::to_string(k);
    EXPECT_EQ(bench.module->StorageIndexes()[i], first + 3 * k);
    EXPECT_EQ(bench.module->EvaporationIndexes()[i], first + 3 * k + 1);
    EXPECT_EQ(bench.module->ThroughfallIndexes()[i], first + 3 * k + 2);
    EXPECT_EQ(bench.registry[first + 3 * k].Identifier, "interception_storage" + layer);
    EXPECT_EQ(bench.registry[first + 3 * k + 2].FileName,
              k == 0 ? "tf.grd" : "tf_Layer_" + layer + ".grd");
  }
  const std::pair<std::string, std::string> titles[] = {
      {"out/tf_Layer_2.stat", "throughfall_in_mm_layer_2__submodel:interception_model"},
      {"ei.stat", "interception_evaporation_in_mm_layer_0__submodel:interception_model"},
      {"si_Layer_3.stat", "interception_storage_in_mm_layer_3__submodel:interception_model"},
  };
  for (const auto &[file, title] : titles)
    EXPECT_NE(test::ReadWholeFile(file).find(title), std::string::npos) << file;
  bench.module->ReleaseMemory();
  EXPECT_EQ(bench.registry.FindGrid("throughfall0", true), 0);
}

TEST_F(InterceptionModuleTest, MissingPotentialRatesStopTheConstruction) {
  Bench bench(log_, {HalfCovered()});
  bench.registry.ReleaseGrid(bench.registry.FindGrid("potential_InterceptionEvap1", true));
  test::WriteFixture(kControl, test::InterceptionSection(1, 1440.0));
  int error = -1;
  EXPECT_EQ(test::ExitCodeOf([&] { interzeptionsmodellklasse m(error, bench.settings); }), 33);
  EXPECT_EQ(error, 33);
}

// Water that is no usable number in the rain or in a layer's store stops the
// step with its exit code and a FATAL entry naming the module, the grid and
// the cell.
TEST_F(InterceptionModuleTest, WaterThatIsNoNumberStopsTheRun) {
  struct Case {
    const char *grid; // the grid given the bad value at (2, 2)
    double value;
    const char *named; // the grid and value the entry names
  };
  const double inf = std::numeric_limits<double>::infinity();
  for (const Case &k : {Case{"precipitation", std::nan(""), "precipitation holds nan"},
                        Case{"interception_storage1", inf, "throughfall0 holds inf"}}) {
    SCOPED_TRACE(k.grid);
    Bench bench(log_, {HalfCovered()});
    bench.Build();
    bench.Set("precipitation", [](long, long) { return 4.0; });
    bench.G(k.grid)[2][2] = k.value;
    const int code = test::ExitCodeOf([&] { bench.module->ComputeTimeStep(0, 1, 6, 2004); });
    EXPECT_EQ(code, NonFiniteWaterExitCode);
    EXPECT_TRUE(test::Logged(std::string("FATAL: interception_model: water out of range on "
                                         "1.6.2004 0h: ") +
                             k.named + " at row 2, col 2"))
        << test::ReadWholeFile("Tavro_Diag_0.xml");
    bench.module->ReleaseMemory();
  }
}

} // namespace
} // namespace tavro
