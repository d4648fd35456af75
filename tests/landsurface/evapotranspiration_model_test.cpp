// The evapotranspiration module on a small raster: the grids and statistics
// of three layers, a layer without land use between two others, the copies
// of spin-up units, the day-night temperature shift of daily steps behind the
// exposure correction, the evaporation of snow and of glacier snow, and the
// sum of the real evapotranspiration with the weights of glacierised cells.
#include "landsurface/evapotranspiration_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/hydrologic_response_unit.h"
#include "landsurface/evapotranspiration/penman_monteith.h"
#include "landsurface/evapotranspiration/single_layer_pet.h"
#include "landsurface/land_surface_fixture.h"
#include "landsurface/radiation/exposure_geometry.h"
#include "landsurface/radiation_correction.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
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
using test::EvapotranspirationRows;
using test::LayerVegetationFunctions;

// 3 x 4 cells of one zone; the last cell lies outside.
double Zone(long r, long c) { return r == 3 && c == 4 ? N : 1.0; }
double Elevation(long r, long c) { return 400.0 + 40.0 * r + 5.0 * c; }

// The last number of the last row of a statistics file.
double LastValue(const std::string &file) {
  std::istringstream text(test::ReadWholeFile(file));
  std::string line, last;
  while (std::getline(text, line))
    if (!line.empty())
      last = line;
  const std::size_t tab = last.find_last_of('\t');
  return std::stod(last.substr(tab == std::string::npos ? 0 : tab + 1));
}

// One module with its own registry and grids.
struct Bench {
  DiagnosticsLog &log;
  GridRegistry registry;
  std::unique_ptr<test::LandSurfaceGrids> grids;
  MultilayerLanduseTable table;
  ModuleSettings settings;
  std::unique_ptr<verdunstungsmodellklasse> module;

  Bench(DiagnosticsLog &l, const std::vector<LayerVegetationFunctions> &layers,
        const CellFunction &zone = Zone, const test::WeatherFunctions &weather = {},
        const CellFunction &elevation = Elevation)
      : log(l) {
    const test::SetupRaster raster{3, 4, 1, 1, 3, 0.0, 0.0, 1000.0};
    grids = std::make_unique<test::LandSurfaceGrids>(log, registry, raster, zone, elevation);
    grids->AddLayers(layers);
    grids->AddWeather(weather);
    grids->Add("temperature_night", weather.temperature);
    grids->FillSettings(settings, registry, "evapotranspiration", kControl);
    table = test::MultilayerTableOf(static_cast<int>(layers.size()));
    settings.MultilayerTable = layers.size() > 1 ? &table : nullptr;
  }

  void Build(const EvapotranspirationRows &rows = {}, double minutes = 1440.0,
             const std::string &otherSections = "") {
    test::WriteFixture(kControl, test::EvapotranspirationSection(1, minutes, rows) + otherSections);
    int error = -1;
    module = std::make_unique<verdunstungsmodellklasse>(error, settings);
    ASSERT_EQ(error, 0);
    module->SetInitialized(1);
  }

  Grid &G(const std::string &identifier) {
    const int index = registry.FindGrid(identifier, true);
    EXPECT_GT(index, 0) << identifier;
    return *registry[index].Data;
  }
};

class EvapotranspirationModuleTest : public testing::Test {
protected:
  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
};

TEST_F(EvapotranspirationModuleTest, ThreeLayersRegisterConsecutiveGridsAndTheirStatistics) {
  Bench bench(log_, std::vector<LayerVegetationFunctions>(3));
  EvapotranspirationRows rows;
  for (const int row : {9, 12, 15, 18, 21, 24, 25})
    rows.Set(row, rows.rows[row].replace(rows.rows[row].find(" 0"), 2, " 1001"));
  rows.Set(32, "cloud.stat 1001");
  const int first = bench.registry.FirstFreeIndex();
  bench.Build(rows);
  const verdunstungsmodellklasse::RegistryIndexes &x = bench.module->Indexes();
  const char *names[] = {"etp", "etr", "eip"};
  for (int k = 0; k <= 3; ++k) {
    const auto i = static_cast<std::size_t>(k);
    const int entries[] = {x.potentialTranspiration[i], x.realTranspiration[i],
                           x.potentialInterception[i]};
    const std::string identifiers[] = {"pot_transpiration", "real_transpiration",
                                       "potential_InterceptionEvap"};
    for (int j = 0; j < 3; ++j) {
      EXPECT_EQ(entries[j], first + 3 * k + j);
      EXPECT_EQ(bench.registry[entries[j]].Identifier, identifiers[j] + std::to_string(k));
      const std::string file = k == 0
                                   ? std::string(names[j]) + ".grd"
                                   : std::string(names[j]) + "_Layer_" + std::to_string(k) + ".grd";
      EXPECT_EQ(bench.registry[entries[j]].FileName, file);
    }
  }
  const int cellEntries[] = {x.potentialEvaporation, x.realEvaporation, x.snowEvaporation,
                             x.correctedRadiation,   x.cloudiness,      x.sunshineMemory};
  const char *cellNames[] = {
      "potential_evaporation",          "real_evaporation", "snow_evaporation",
      "AspectCorrectedGlobalRadiation", "cloudiness",       "SSDTemp"};
  for (int j = 0; j < 6; ++j) {
    EXPECT_EQ(cellEntries[j], first + 12 + j);
    EXPECT_EQ(bench.registry[cellEntries[j]].Identifier, cellNames[j]);
  }
  EXPECT_EQ(bench.registry[x.correctedRadiation].FileName, "correctedradiation");
  EXPECT_EQ(bench.G("SSDTemp")[2][2], 0.5);
  EXPECT_EQ(bench.G("SSDTemp")[3][4], N);
  EXPECT_EQ(bench.G("real_transpiration2")[3][4], N);

  // 3 (n + 1) + 5 tables, each headed by its title.
  int tables = 0;
  for (const auto &entry : std::filesystem::directory_iterator("."))
    tables += entry.path().extension() == ".stat" ? 1 : 0;
  EXPECT_EQ(tables, 17);
  const std::pair<const char *, const char *> titles[] = {
      {"etp.stat", "pot_transpiration0(Penman/Monteith)__submodel:evapotranspiration"},
      {"etp_Layer_3.stat", "pot_transpiration3(Penman/Monteith)__submodel:evapotranspiration"},
      {"etr.stat", "total_Evapotranspiration_as_sum_of_ETR1..n_EI1..n_EVAR_and_EVRS__submodel:"
                   "evapotranspiration"},
      {"etr_Layer_2.stat", "real_transpiration2_submodel:evapotranspiration"},
      {"eip_Layer_1.stat", "potential_InterceptionEvap1_submodel:evapotranspiration"},
      {"evap.stat", "\npotential_evaporation_submodel:\n"},
      {"snowevap.stat", "\nsnow_evaporation_submodel:\n"},
      {"rgex.stat", "Global_Radiation_corrected_by_Exposition__submodel:evapotranspiration"},
      {"cloud.stat", "\ncloudiness_submodel:evapotranspiration\n"},
  };
  for (const auto &[file, title] : titles)
    EXPECT_NE(test::ReadWholeFile(file).find(title), std::string::npos) << file;

  bench.module->ReleaseMemory();
  EXPECT_EQ(bench.registry.FindGrid("pot_transpiration0", true), 0);
  EXPECT_EQ(bench.registry.FindGrid("SSDTemp", true), 0);
}

// Three layers whose parameters differ; "landuse" + k from the functions.
std::vector<LayerVegetationFunctions> ThreeLayers(const CellFunction &landuse1,
                                                  const CellFunction &landuse2) {
  std::vector<LayerVegetationFunctions> layers(3);
  layers[0].landuse = landuse1;
  layers[0].leafAreaIndex = [](long, long) { return 4.0; };
  layers[0].cover = [](long, long) { return 0.9; };
  layers[0].canopyResistance = [](long, long) { return 80.0; };
  layers[0].roughness = [](long, long) { return 1.2; };
  layers[1].landuse = landuse2;
  layers[1].leafAreaIndex = [](long, long) { return 2.5; };
  layers[1].cover = [](long, long) { return 0.7; };
  layers[1].roughness = [](long, long) { return 0.3; };
  layers[2].landuse = [](long, long) { return 7.0; };
  layers[2].leafAreaIndex = [](long, long) { return 1.5; };
  layers[2].cover = [](long, long) { return 0.6; };
  layers[2].canopyResistance = [](long, long) { return 50.0; };
  layers[2].roughness = [](long, long) { return 0.05; };
  return layers;
}

TEST_F(EvapotranspirationModuleTest, LayerWithoutLanduseIsSkippedAndOnlyTheLowestEvaporates) {
  // Column 1: codes 5, -9999, 7; column 2: -9999, 6, 7; elsewhere all three.
  Bench three(log_, ThreeLayers([](long, long c) { return c == 2 ? N : 5.0; },
                                [](long, long c) { return c == 1 ? N : 6.0; }));
  three.Build();
  three.module->PotentialEvapotranspiration(0, 15, 7, 2005);
  // The same cells as two layers: the layer above layer 3 is layer 1 in
  // column 1 and layer 2 in column 2.
  std::vector<LayerVegetationFunctions> all =
      ThreeLayers([](long, long) { return 5.0; }, [](long, long) { return 6.0; });
  std::vector<LayerVegetationFunctions> pair = {all[0], all[2]};
  const auto pick = [&](CellFunction LayerVegetationFunctions::*field) {
    const CellFunction top = all[0].*field, middle = all[1].*field;
    pair[0].*field = [top, middle](long r, long c) { return c == 2 ? middle(r, c) : top(r, c); };
  };
  for (auto field :
       {&LayerVegetationFunctions::leafAreaIndex, &LayerVegetationFunctions::cover,
        &LayerVegetationFunctions::canopyResistance,
        &LayerVegetationFunctions::interceptionResistance, &LayerVegetationFunctions::roughness})
    pick(field);
  Bench two(log_, pair);
  two.Build();
  two.module->PotentialEvapotranspiration(0, 15, 7, 2005);

  for (long r = 1; r <= 3; ++r)
    for (long c = 1; c <= 2; ++c) {
      SCOPED_TRACE(testing::Message() << r << "," << c);
      const int missing = c == 1 ? 2 : 1;
      const int present = 3 - missing;
      EXPECT_EQ(three.G("pot_transpiration" + std::to_string(missing))[r][c], 0.0);
      EXPECT_EQ(three.G("potential_InterceptionEvap" + std::to_string(missing))[r][c], 0.0);
      EXPECT_EQ(three.G("pot_transpiration" + std::to_string(present))[r][c],
                two.G("pot_transpiration1")[r][c]);
      EXPECT_EQ(three.G("pot_transpiration3")[r][c], two.G("pot_transpiration2")[r][c]);
      EXPECT_EQ(three.G("potential_InterceptionEvap3")[r][c],
                two.G("potential_InterceptionEvap2")[r][c]);
      EXPECT_EQ(three.G("potential_evaporation")[r][c], two.G("potential_evaporation")[r][c]);
      EXPECT_EQ(three.G("pot_transpiration0")[r][c], two.G("pot_transpiration0")[r][c]);
      EXPECT_GT(three.G("potential_evaporation")[r][c], 0.0);
    }
  // "pot_transpiration0": the layers and the one soil evaporation.
  for (long r = 1; r <= 3; ++r)
    for (long c = 1; c <= 4; ++c) {
      if (Zone(r, c) == N)
        continue;
      double layers = 0.0, interception = 0.0;
      for (int k = 1; k <= 3; ++k) {
        layers += three.G("pot_transpiration" + std::to_string(k))[r][c];
        interception += three.G("potential_InterceptionEvap" + std::to_string(k))[r][c];
      }
      EXPECT_NEAR(three.G("pot_transpiration0")[r][c],
                  layers + three.G("potential_evaporation")[r][c], 1e-12);
      EXPECT_NEAR(three.G("potential_InterceptionEvap0")[r][c], interception, 1e-12);
    }
  // With the middle layer present there is more leaf area above layer 3.
  EXPECT_NE(three.G("pot_transpiration3")[1][3], two.G("pot_transpiration2")[1][3]);
  // Outside the catchment nothing is computed.
  EXPECT_EQ(three.G("pot_transpiration1")[3][4], N);
  three.module->ReleaseMemory();
  two.module->ReleaseMemory();
}

TEST_F(EvapotranspirationModuleTest, UnitCellsEqualTheirMastersExactly) {
  Bench bench(log_, std::vector<LayerVegetationFunctions>(2));
  // Unit 1: its master at (1, 1), members at (2, 3) and (3, 2).
  const auto member = [](long r, long c) { return (r == 2 && c == 3) || (r == 3 && c == 2); };
  bench.grids->Add("HydrologicResponseUnits",
                   [&](long r, long c) { return (r == 1 && c == 1) || member(r, c) ? 1.0 : 0.0; });
  bench.grids->Add("MasterHydrologicResponseUnits",
                   [&](long r, long c) { return member(r, c) ? N : 1.0; });
  std::vector<HydrologicResponseUnit> units(2);
  units[1].number = 1;
  units[1].row = 1;
  units[1].column = 1;
  bench.settings.SpinUpSwitch = 1;
  bench.settings.HydrologicResponseUnits = &units;
  bench.Build();
  bench.module->PotentialEvapotranspiration(0, 20, 6, 2006);
  const std::vector<std::string> copied = {"pot_transpiration0",
                                           "pot_transpiration1",
                                           "pot_transpiration2",
                                           "potential_InterceptionEvap0",
                                           "potential_InterceptionEvap2",
                                           "potential_evaporation",
                                           "AspectCorrectedGlobalRadiation",
                                           "cloudiness"};
  for (const std::string &name : copied) {
    SCOPED_TRACE(name);
    const Grid &g = bench.G(name);
    EXPECT_EQ(g[2][3], g[1][1]);
    EXPECT_EQ(g[3][2], g[1][1]);
  }
  // A cell outside the unit keeps its own values.
  EXPECT_NE(bench.G("pot_transpiration1")[2][2], bench.G("pot_transpiration1")[1][1]);
  bench.module->ReleaseMemory();
}

TEST_F(EvapotranspirationModuleTest, OpenWaterEvaporatesLikeBareWetGround) {
  // Row 1 is a lake with water on it; row 2 the same weather over a layer
  // without leaves, canopy or soil resistance, with the open water's albedo
  // and roughness. The lake's transpiration is row 2's soil evaporation.
  constexpr double kOpenWaterAlbedo = 0.08, kOpenWaterRoughness = 0.001;
  LayerVegetationFunctions layer;
  layer.leafAreaIndex = [](long r, long) { return r == 2 ? 0.0 : 3.0; };
  layer.cover = [](long r, long) { return r == 2 ? 0.0 : 0.8; };
  layer.canopyResistance = [](long r, long) { return r == 2 ? 0.0 : 70.0; };
  layer.roughness = [=](long r, long) { return r == 2 ? kOpenWaterRoughness : 0.5; };
  test::WeatherFunctions weather;
  weather.temperature = [](long, long c) { return 15.0 + c; };
  weather.sunshine = [](long, long c) { return 0.2 * c; };
  weather.humidity = [](long, long c) { return 0.4 + 0.1 * c; };
  weather.wind = [](long, long c) { return 0.5 * c; };
  weather.albedo = [=](long r, long) { return r == 2 ? kOpenWaterAlbedo : 0.2; };
  weather.soilResistance = [](long r, long) { return r == 2 ? 0.0 : 150.0; };
  Bench bench(log_, {layer}, Zone, weather, [](long, long c) { return 300.0 + 10.0 * c; });
  bench.grids->Add("lake_codes", [](long r, long) { return r == 1 ? 3.0 : 0.0; });
  bench.grids->Add("ponding_storage", [](long r, long c) { return r == 1 && c < 4 ? 0.5 : 0.0; });
  bench.Build({}, 1440.0,
              "[lake_model]\n1 flow control\n1 initialization\n" +
                  std::to_string(kOpenWaterAlbedo) + " albedo\n" +
                  std::to_string(kOpenWaterRoughness) + " z0\n");
  bench.module->ReadLakeParameters("[lake_model]");
  ASSERT_TRUE(bench.module->ModelsOpenWater());
  bench.module->PotentialEvapotranspiration(0, 10, 6, 2004);
  for (long c = 1; c <= 3; ++c) {
    SCOPED_TRACE(c);
    EXPECT_GT(bench.G("pot_transpiration1")[1][c], 0.0);
    EXPECT_NEAR(bench.G("pot_transpiration1")[1][c], bench.G("potential_evaporation")[2][c], 1e-12);
    EXPECT_EQ(bench.G("potential_InterceptionEvap1")[1][c], 0.0);
    EXPECT_EQ(bench.G("potential_evaporation")[1][c], 0.0);
  }
  // Without water on it the lake cell is land.
  EXPECT_GT(bench.G("potential_evaporation")[1][4], 0.0);
  bench.module->ReleaseMemory();
}

TEST_F(EvapotranspirationModuleTest, SingleLayerMethodsGiveTheirFormulasAmount) {
  struct Case {
    int method;
    double minutes;
  };
  const test::WeatherFunctions weather;
  for (const Case m : {Case{2, 1440.0}, Case{3, 1440.0}, Case{4, 1440.0}, Case{2, 2880.0}}) {
    SCOPED_TRACE(testing::Message() << m.method << ", " << m.minutes);
    Bench bench(log_, {LayerVegetationFunctions{}}, Zone, weather);
    bench.grids->Add("temperature_14", [](long, long c) { return 18.0 + c; });
    bench.grids->Add("air_humidity_14", [](long r, long) { return 0.3 + 0.1 * r; });
    bench.grids->Add("global_radiation", [](long, long c) { return 3000.0 + 200.0 * c; });
    bench.settings.MinToIntEnd = m.minutes;
    bench.Build(EvapotranspirationRows().Set(3, std::to_string(m.method) + " Methode"), m.minutes);
    bench.module->PotentialEvapotranspiration(0, 10, 6, 2004);
    const EvapotranspirationSection &s = bench.module->Section();
    const double days = m.minutes / 1440.0;
    for (long r = 1; r <= 3; ++r)
      for (long c = 1; c <= 4; ++c) {
        if (Zone(r, c) == N)
          continue;
        double expected = 0.0;
        if (m.method == 2) {
          const double pec = evapotranspiration::HamonFactorOfDate(s.pec, 10, 6, 30);
          expected =
              evapotranspiration::Hamon(weather.temperature(r, c), pec, bench.module->DayFraction) *
              days;
        } else if (m.method == 3) {
          // The measured radiation, no correction, under the cap.
          EXPECT_EQ(bench.G("AspectCorrectedGlobalRadiation")[r][c], 3000.0 + 200.0 * c);
          expected = evapotranspiration::Wendling(3000.0 + 200.0 * c, 0.2, s.coastFactor,
                                                  weather.temperature(r, c));
        } else {
          const double deficit = evapotranspiration::HaudeDeficitFromHumidity(0.3 + 0.1 * r);
          expected = evapotranspiration::Haude(18.0 + c, deficit, s.fh[6]);
        }
        for (const char *name : {"pot_transpiration0", "pot_transpiration1",
                                 "potential_InterceptionEvap0", "potential_InterceptionEvap1"})
          EXPECT_NEAR(bench.G(name)[r][c], expected, 1e-12) << name;
        EXPECT_EQ(bench.G("potential_evaporation")[r][c], 0.0);
        // Hamon and Haude count the step as night for the radiation.
        if (m.method != 3) {
          EXPECT_EQ(bench.G("AspectCorrectedGlobalRadiation")[r][c], 0.0);
          EXPECT_EQ(bench.G("cloudiness")[r][c], 0.5);
        }
      }
    bench.module->ReleaseMemory();
  }
}

TEST_F(EvapotranspirationModuleTest, DailyStepsShiftDayAndNightTemperatureAnewEachStep) {
  Bench bench(log_, std::vector<LayerVegetationFunctions>(1));
  bench.registry.ReleaseGrid(bench.registry.FindGrid("temperature_night", true));
  bench.settings.MinToIntEnd = 1440.0; // the data hour starts the step
  test::RadiationCorrectionValues exposure;
  exposure.steps = 3; // the factors are new on steps 1, 4, 7 and 10
  const std::string radiationSection = test::RadiationCorrectionSection(1, 1440.0, exposure);
  test::WriteFixture(kControl, radiationSection);
  ModuleSettings radiationSettings = bench.settings;
  radiationSettings.ModuleName = "radiation_correction";
  int error = -1;
  expokorrklasse correction(error, radiationSettings);
  ASSERT_EQ(error, 0);
  bench.Build({}, 1440.0, radiationSection);
  bench.module->SetRadiationCorrectionGrid(correction.GetRadiationCorrectionGrid());
  ASSERT_EQ(bench.module->DayTemperature(), &bench.G("corr_temperature"));
  ASSERT_EQ(bench.module->NightTemperature(), &bench.G("temperature_night"));

  const EvapotranspirationSection &s = bench.module->Section();
  const Grid &factor = *correction.GetRadiationCorrectionGrid();
  Grid &temperature = bench.G("temperature");
  const test::WeatherFunctions weather;
  for (long day = 1; day <= 10; ++day) {
    SCOPED_TRACE(day);
    const auto input = [&](long r, long c) { return 14.0 + day + 0.3 * r - 0.2 * c; };
    bench.grids->terrain.Set(temperature, input);
    correction.ComputeTimeStep(0, day, 7, 2005);
    bench.module->PotentialEvapotranspiration(0, day, 7, 2005);
    const double amplitude = evapotranspiration::AmplitudeOfDate(s.amplitudes, day, 7, 31);
    const double annual = evapotranspiration::AnnualTerm(s.annualAmplitude, 181.0 + day);
    for (long r = 1; r <= 3; ++r)
      for (long c = 1; c <= 4; ++c) {
        if (Zone(r, c) == N)
          continue;
        const double relative = radiation::EvaluateCubic(s.radiation.c, weather.sunshine(r, c));
        const evapotranspiration::TemperatureShift shift = evapotranspiration::DayNightShift(
            relative, amplitude, Elevation(r, c), s.amplitudeScale, s.amplitudeFractionDay, annual);
        ASSERT_GT(shift.dayRise, 0.0);
        const double corrected = radiation::CorrectedTemperature(
            input(r, c), factor[r][c], exposure.scaling, weather.sunshine(r, c), true);
        EXPECT_NEAR(bench.G("corr_temperature")[r][c], corrected + shift.dayRise, 1e-12);
        EXPECT_NEAR(bench.G("temperature_night")[r][c], input(r, c) - shift.nightFall, 1e-12);
      }
  }
  bench.module->ReleaseMemory();
  correction.ReleaseMemory();
}

TEST_F(EvapotranspirationModuleTest, SnowEvaporatesAtThePotentialRates) {
  Bench bench(log_, std::vector<LayerVegetationFunctions>(1));
  // Glacier fractions: 1 at (1, 3), 0.4 at (2, 1), none elsewhere.
  bench.grids->Add("GlacierizedCells", [](long r, long c) {
    return r == 1 && c == 3 ? 1.0 : (r == 2 && c == 1 ? 0.4 : 0.0);
  });
  bench.Build();
  bench.grids->Add("SnowEvaporation_onGlacier", [](long, long) { return 0.0; });
  bench.grids->Add("TotalSnowStorage_onGlacier", [](long, long) { return 0.0; });
  Grid &glacierSnow = bench.grids->Add("SolidSnowStorage_onGlacier", [](long r, long c) {
    return r == 1 && c == 3 ? 3.0 : (r == 2 && c == 1 ? 0.7 : 0.0);
  });
  Grid snow(1, 3, 4, 3, log_);
  bench.module->SetSnowStorage(&snow);
  bench.module->SetSnowMethod(1);

  bench.module->PotentialEvapotranspiration(0, 1, 3, 2006);
  Grid &layer = bench.G("pot_transpiration1");
  Grid &soil = bench.G("potential_evaporation");
  bench.grids->terrain.Set(layer, [](long, long) { return 1.5; });
  bench.grids->terrain.Set(soil, [](long, long) { return 1.0; });
  bench.grids->terrain.Set(snow, [](long r, long c) {
    return r == 1 ? (c == 1 ? 2.0 : (c == 2 ? 0.5 : 1.0)) : (r == 2 && c == 1 ? 1.0 : 0.0);
  });
  bench.module->SnowEvaporationOnGlacier(0, 1, 3, 2006);
  const Grid &evaporated = bench.G("snow_evaporation");
  const Grid &onGlacier = bench.G("SnowEvaporation_onGlacier");
  struct Expected {
    long r, c;
    double evaporated, layer, soil, snow, glacierEvaporated, glacierSnow;
  };
  const Expected cases[] = {
      {1, 1, 2.0, 0.0, 0.5, 0.0, 0.0, 0.0},
      {1, 2, 0.5, 1.0, 1.0, 0.0, 0.0, 0.0},
      // A whole glacier: its snow evaporates, the rates stay for the others.
      {1, 3, 0.0, 1.5, 1.0, 1.0, 2.5, 0.5},
      // Each part at the full rates from its own store.
      {2, 1, 1.0, 0.5, 1.0, 0.0, 0.7, 0.0},
      {2, 2, 0.0, 1.5, 1.0, 0.0, 0.0, 0.0},
  };
  for (const Expected &e : cases) {
    SCOPED_TRACE(testing::Message() << e.r << "," << e.c);
    EXPECT_DOUBLE_EQ(evaporated[e.r][e.c], e.evaporated);
    EXPECT_DOUBLE_EQ(layer[e.r][e.c], e.layer);
    EXPECT_DOUBLE_EQ(soil[e.r][e.c], e.soil);
    EXPECT_DOUBLE_EQ(snow[e.r][e.c], e.snow);
    EXPECT_DOUBLE_EQ(onGlacier[e.r][e.c], e.glacierEvaporated);
    EXPECT_DOUBLE_EQ(glacierSnow[e.r][e.c], e.glacierSnow);
  }

  // Random stores and rates: the snow lost is what evaporated and what the
  // rates gave up.
  std::mt19937 random(3);
  std::uniform_real_distribution<double> amount(0.0, 3.0);
  for (int round = 0; round < 20; ++round) {
    bench.module->PotentialEvapotranspiration(0, 2, 3, 2006);
    Grid before(1, 3, 4, 3, log_), rates(1, 3, 4, 3, log_);
    for (long r = 1; r <= 3; ++r)
      for (long c = 1; c <= 4; ++c) {
        snow[r][c] = before[r][c] = amount(random);
        layer[r][c] = amount(random) / 2.0;
        soil[r][c] = amount(random) / 2.0;
        rates[r][c] = layer[r][c] + soil[r][c];
      }
    bench.module->SnowEvaporationOnGlacier(0, 2, 3, 2006);
    double lost = 0.0;
    for (long r = 1; r <= 3; ++r)
      for (long c = 1; c <= 4; ++c) {
        if (Zone(r, c) == N || (r == 1 && c == 3))
          continue;
        const double taken = rates[r][c] - layer[r][c] - soil[r][c];
        EXPECT_NEAR(before[r][c] - snow[r][c], evaporated[r][c], 1e-12);
        EXPECT_NEAR(taken, evaporated[r][c], 1e-12);
        lost += before[r][c] - snow[r][c];
      }
    EXPECT_NEAR(bench.module->SnowBalance().Residual(), 0.0, 1e-12);
    EXPECT_NEAR(bench.module->SnowBalance().evaporated, lost, 1e-12);
  }

  // An energy-balance snow method: no evaporation of its own here, and no
  // potential rates under snow.
  bench.module->SetSnowMethod(6);
  bench.module->PotentialEvapotranspiration(0, 3, 3, 2006);
  bench.grids->terrain.Set(snow, [](long r, long) { return r == 1 ? 2.0 : 0.0; });
  const double layerWithoutSnow = layer[2][2];
  bench.module->SnowEvaporationOnGlacier(0, 3, 3, 2006);
  EXPECT_EQ(layer[1][2], 0.0);
  EXPECT_EQ(soil[1][2], 0.0);
  EXPECT_EQ(evaporated[1][2], 0.0);
  EXPECT_EQ(snow[1][2], 2.0);
  EXPECT_EQ(layer[2][2], layerWithoutSnow);
  bench.module->ReleaseMemory();
}

TEST_F(EvapotranspirationModuleTest, RealEvapotranspirationIsSummedAndWeightedByTheGlacier) {
  Bench bench(log_, std::vector<LayerVegetationFunctions>(2), [](long, long) { return 1.0; });
  bench.grids->Add("GlacierizedCells", [](long, long) { return 0.4; });
  EvapotranspirationRows rows;
  rows.Set(12, "etr.stat 1001").Set(18, "evar.stat 1001");
  bench.Build(rows);
  bench.grids->Add("SnowEvaporation_onGlacier", [](long, long) { return 0.0; });
  bench.grids->Add("TotalSnowStorage_onGlacier", [](long, long) { return 0.0; });
  bench.grids->Add("SolidSnowStorage_onGlacier", [](long, long) { return 0.0; });
  bench.grids->Add("interception_evaporation0", [](long, long) { return 0.1; });
  Grid snow(1, 3, 4, 3, log_);
  bench.module->SetSnowStorage(&snow);

  bench.module->PotentialEvapotranspiration(0, 1, 8, 2006);
  bench.module->SnowEvaporationOnGlacier(0, 1, 8, 2006);
  bench.module->RealEvapotranspiration(0, 1, 8, 2006);
  // What the snow and soil-water modules booked in the step.
  const auto set = [&](const char *name, double value) {
    bench.grids->terrain.Set(bench.G(name), [value](long, long) { return value; });
  };
  set("snow_evaporation", 0.3);
  set("SnowEvaporation_onGlacier", 0.8);
  set("real_transpiration1", 1.0);
  set("real_transpiration2", 0.5);
  set("real_evaporation", 0.2);
  set("real_transpiration0", 99.0); // replaced by the sum
  bench.module->FinishTimeStep(0, 1, 8, 2006);
  bench.module->FlushStatistics();
  EXPECT_DOUBLE_EQ(bench.G("real_transpiration0")[2][2], 0.1 + 0.3 + 0.2 + 1.0 + 0.5);
  // The glacierised 0.4 of every cell adds zeros, or its snow evaporation.
  EXPECT_NEAR(LastValue("etr_Layer_1.stat"), 0.6, 1e-5);
  EXPECT_NEAR(LastValue("etr_Layer_2.stat"), 0.3, 1e-5);
  EXPECT_NEAR(LastValue("etr.stat"), 0.6 * 2.1 + 0.4 * 0.8, 1e-5);
  EXPECT_NEAR(LastValue("evar.stat"), 0.12, 1e-5);
  bench.module->ReleaseMemory();
}

TEST_F(EvapotranspirationModuleTest, WithoutInterceptionTheTotalIsSnowSoilAndLayers) {
  Bench bench(log_, std::vector<LayerVegetationFunctions>(1));
  bench.Build();
  bench.module->PotentialEvapotranspiration(0, 1, 8, 2006);
  bench.module->RealEvapotranspiration(0, 1, 8, 2006);
  bench.grids->terrain.Set(bench.G("real_transpiration1"), [](long, long) { return 0.7; });
  bench.grids->terrain.Set(bench.G("real_transpiration0"), [](long, long) { return 5.0; });
  bench.module->FinishTimeStep(0, 1, 8, 2006);
  EXPECT_DOUBLE_EQ(bench.G("real_transpiration0")[1][1], 0.7);
  bench.module->ReleaseMemory();
}

} // namespace
} // namespace tavro
