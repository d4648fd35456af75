// The section "[evapotranspiration]" as the module reads and judges it, in
// one table of small control texts (what is built and what stops the run
// with which code and entry), the inputs each method requires, and the lake
// section "[lake_model]".
#include "landsurface/evapotranspiration_model.h"

#include "kernel/diagnostics_log.h"
#include "landsurface/land_surface_fixture.h"
#include "support/diagnostics_entries.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tavro {
namespace {

constexpr const char *kControl = "control.txt_0.$$$";
using test::EvapotranspirationRows;
using test::Logged;

class EvapotranspirationSectionTest : public testing::Test {
protected:
  // The grids of method 1 with one layer, except those named in `without`.
  void MakeGrids(const std::set<std::string> &without = {}, int layers = 1) {
    registry_ = std::make_unique<GridRegistry>();
    const test::SetupRaster raster{3, 4, 1, 1, 3, 0.0, 0.0, 1000.0};
    grids_ = std::make_unique<test::LandSurfaceGrids>(
        log_, *registry_, raster, [](long, long) { return 1.0; },
        [](long r, long) { return 400.0 + 10.0 * r; });
    grids_->AddLayers(
        std::vector<test::LayerVegetationFunctions>(static_cast<std::size_t>(layers)));
    const test::WeatherFunctions w;
    const std::vector<std::pair<std::string, test::CellFunction>> inputs = {
        {"temperature", w.temperature},
        {"temperature_night", w.temperature},
        {"sunshine_duration", w.sunshine},
        {"air_humidity", w.humidity},
        {"wind_speed", w.wind},
        {"albedo", w.albedo},
        {"SurfaceEvaporationResistance", w.soilResistance}};
    for (const auto &[name, value] : inputs)
      if (without.count(name) == 0)
        grids_->Add(name, value);
    grids_->FillSettings(settings_, *registry_, "evapotranspiration", kControl);
    table_ = test::MultilayerTableOf(layers);
    settings_.MultilayerTable = layers > 1 ? &table_ : nullptr;
  }

  // Builds the module from the section (and what follows it); the exit
  // code of a failed construction, 0 when built.
  int Build(const EvapotranspirationRows &rows, double minutes = 1440.0,
            const std::string &after = "") {
    test::WriteFixture(kControl, test::EvapotranspirationSection(1, minutes, rows) + after);
    int error = -1;
    const int code = test::ExitCodeOf(
        [&] { module_ = std::make_unique<verdunstungsmodellklasse>(error, settings_); });
    EXPECT_EQ(error, code < 0 ? 0 : code);
    return code < 0 ? 0 : code;
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  std::unique_ptr<GridRegistry> registry_;
  std::unique_ptr<test::LandSurfaceGrids> grids_;
  MultilayerLanduseTable table_;
  ModuleSettings settings_;
  std::unique_ptr<verdunstungsmodellklasse> module_;
};

const std::string kModelRule =
    "FATAL: ;---------------------- error in evapotranspiration model ------------------- ;";

TEST_F(EvapotranspirationSectionTest, SectionTexts) {
  struct Case {
    const char *what;
    std::vector<std::pair<int, std::string>> rows;
    int code;
    std::string entry; // a fragment of the FATAL entry
  };
  const std::string twelve = "0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3";
  const std::vector<Case> cases = {
      {"rows 4 and 5 across line breaks",
       {{4, "1 1 1 1 1\n1 1 1 1\n\n1 1 1"},
        {5, "0.3 0.3 0.3 0.3 0.3 0.3\n0.3 0.3 0.3 0.3 0.3 0.3"}},
       0,
       ""},
      {"11 PEC values and a label",
       {{4, "1 1 1 1 1 1 1 1 1 1 1 PEC"}},
       45,
       "there have to be 12 (monthly) values for the PEC-parameter for ;HAMON-evaporation in "
       "the control file."},
      {"11 fh values and a label",
       {{5, "0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 fh"}},
       45,
       "there have to be 12 (monthly) values for the fh-parameter for ;HAUDE-evaporation in the "
       "control file."},
      {"text between the fh values and fk", {{5, twelve + " fh"}}, 17, "fk - Coastfactor"},
      {"short row 30",
       {{30, "4 5 6 7 8 9 9 8 7 6 5 amplitudes"}},
       10,
       "FATAL: error reading row 30 of [evapotranspiration]: 12 numbers expected"},
      {"short row 26",
       {{26, "0.2 0.45 0.35 coefficients"}},
       10,
       "FATAL: error reading row 26 of [evapotranspiration]: 4 numbers expected"},
      {"short row 31",
       {{31, "0.6 fraction"}},
       10,
       "FATAL: error reading fraction for temperature amplitude for day/night;or the annual "
       "variability"},
      {"c0 0.05", {{26, "0.05 0.5 0.5 -0.05"}}, 0, ""},
      {"c0 0.5", {{26, "0.5 0.3 0.3 -0.1"}}, 0, ""},
      {"c0 0.04",
       {{26, "0.04 0.5 0.5 -0.04"}},
       10,
       "FATAL: fraction of diffuse radiation is too small: 0.04 (should be 0.05 ... 0.5)"},
      {"c0 0.51",
       {{26, "0.51 0.3 0.3 -0.11"}},
       10,
       "FATAL: fraction of diffuse radiation is too large: 0.51 (should be 0.05 ... 0.5)"},
      {"coefficient sum 1.005", {{26, "0.2 0.45 0.45 -0.095"}}, 0, ""},
      {"coefficient sum 1.02",
       {{26, "0.2 0.45 0.45 -0.08"}},
       10,
       "FATAL: die Koeffizienten fuer die Modellierung der Globalstrahlung muessen in ihrer "
       "Summe 1 ergeben; derzeitige Summe: 0.2 + 0.45 + 0.45 + -0.08 = 1.02"},
      {"amplitude split above 1",
       {{31, "1.2 0"}},
       10,
       "has to be done in a way that the fraction for the bright day is between 0..1;read: "
       "amplitude_fraction_day: 1.2"},
      {"sunshine threshold at 0", {{27, "0 1 0 0"}}, 0, ""},
      {"sunshine threshold outside 0..1",
       {{27, "0.5 1 0 0"}},
       10,
       "No null point (root) was found between 0 and 1!;CS[0]=0.5, CS[1]=1, CS[2]=0, CS[3]=0"},
      {"no linear sunshine relation",
       {{27, "0.3 0 0 0"}},
       10,
       "There must be at minimum a linear relationship;between radiation and sunshine "
       "duration;CS[0]=0.3, CS[1]=0, CS[2]=0, CS[3]=0"},
      {"unreadable writecode", {{8, "x Writegrid ETP"}}, 17, "Writegrid ETP for ; "},
      {"method 5",
       {{3, "5 Methode"}},
       46,
       "Evapotranspiration requires at least one of the following entities;erlative sunshine "
       "duration (SSD, in 1/1)  or global radiation  (RG, in Wh/m^2).;or net radiation"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    MakeGrids();
    EvapotranspirationRows rows;
    for (const auto &[row, text] : c.rows)
      rows.Set(row, text);
    EXPECT_EQ(Build(rows), c.code);
    if (!c.entry.empty()) {
      EXPECT_TRUE(Logged(c.entry)) << c.entry;
    }
    if (c.code == 0)
      module_->ReleaseMemory();
    module_.reset();
  }
}

TEST_F(EvapotranspirationSectionTest, ReadsEveryRow) {
  MakeGrids();
  EvapotranspirationRows rows;
  rows.Set(4, "1 2 3 4 5 6\n7 8 9 10 11 12").Set(31, "0.55 0.05 split");
  ASSERT_EQ(Build(rows), 0);
  const EvapotranspirationSection &s = module_->Section();
  EXPECT_EQ(s.method, 1);
  EXPECT_EQ(s.pec[1], 1.0);
  EXPECT_EQ(s.pec[12], 12.0);
  EXPECT_EQ(s.pec[0], 12.0); // December before January
  EXPECT_EQ(s.pec[13], 1.0);
  EXPECT_EQ(s.fh[4], 0.29);
  EXPECT_EQ(s.coastFactor, 1.0);
  EXPECT_EQ(s.realTranspiration.fileName, "etr.grd");
  EXPECT_EQ(s.snowEvaporation.statistics.name, "snowevap.stat");
  EXPECT_EQ(s.transmissivityAmplitude, 0.05);
  EXPECT_EQ(s.amplitudeScale, 1000.0);
  EXPECT_EQ(s.amplitudes[7], 9.0);
  EXPECT_EQ(s.amplitudeFractionDay, 0.55);
  EXPECT_EQ(s.annualAmplitude, 0.05);
  EXPECT_EQ(s.cloudiness.name, "cloud.stat");
  // The example coefficients of the sunshine relation.
  EXPECT_NEAR(s.radiation.x0, 0.243103, 1e-6);
  EXPECT_EQ(module_->InputAvailabilityMask(),
            verdunstungsmodellklasse::WindBit | verdunstungsmodellklasse::HumidityBit |
                verdunstungsmodellklasse::SunshineBit | verdunstungsmodellklasse::TemperatureBit);
  EXPECT_FALSE(module_->ControlFile().IsOpen());
  module_->ReleaseMemory();
}

TEST_F(EvapotranspirationSectionTest, CloudinessLineIsOptional) {
  for (const std::string &after :
       {std::string(), std::string("\n[lake_model]\n1\n"), std::string("x\n")}) {
    MakeGrids();
    ASSERT_EQ(Build(EvapotranspirationRows().Set(32, ""), 1440.0, after), 0);
    EXPECT_EQ(module_->Section().cloudiness.name, "cloudiness");
    EXPECT_EQ(module_->Section().cloudiness.code, 0);
    module_->ReleaseMemory();
  }
}

TEST_F(EvapotranspirationSectionTest, SingleLayerMethodsNeedOneLayerAndDailySteps) {
  // Both are judged right after the method, before the Hamon factors.
  MakeGrids({}, 2);
  EXPECT_EQ(Build(EvapotranspirationRows().Set(3, "2 Methode").Set(4, "no factors")), 44);
  EXPECT_TRUE(Logged(kModelRule + ";Modelling evapotranspiration after HAMON, WENDLING or "
                                  "HAUDE is only possible;for unlayered Vegetation. Actual "
                                  "parameters: method: 2, number of layers: 2"));
  MakeGrids();
  EXPECT_EQ(Build(EvapotranspirationRows().Set(3, "2 Methode").Set(4, "no factors"), 720.0), 44);
  EXPECT_TRUE(Logged("for daily time steps or larger. The actual time step is less than 1440 "
                     "min.;actual parameters: method: 2, timestep: 720 minutes"));
  // Hamon needs neither radiation nor humidity.
  MakeGrids({"sunshine_duration", "air_humidity", "albedo"});
  EXPECT_EQ(Build(EvapotranspirationRows().Set(3, "2 Methode")), 0);
  EXPECT_EQ(module_->LayerCount(), 1);
  module_->ReleaseMemory();
}

TEST_F(EvapotranspirationSectionTest, RequiredInputsOfTheMethods) {
  const std::string humidity = "FATAL: ---------------------------- ERROR "
                               "---------------------------------------;Evapotranspiration "
                               "requires at least one of the following entities;vapor pressure "
                               "(e, in mbar) or relative air humidity (RLF, in 1/1).";
  MakeGrids({"air_humidity"});
  EXPECT_EQ(Build({}), 46);
  EXPECT_TRUE(Logged(humidity));
  MakeGrids({"sunshine_duration"});
  EXPECT_EQ(Build(EvapotranspirationRows().Set(3, "3 Methode")), 46);
  // Vapour pressure serves as well as humidity.
  MakeGrids({"air_humidity"});
  grids_->Add("vapor_pressure", [](long, long) { return 9.0; });
  grids_->Add("global_radiation", [](long, long) { return 2000.0; });
  ASSERT_EQ(Build({}), 0);
  EXPECT_EQ(module_->InputAvailabilityMask() &
                (verdunstungsmodellklasse::VapourPressureBit |
                 verdunstungsmodellklasse::RadiationBit | verdunstungsmodellklasse::HumidityBit),
            verdunstungsmodellklasse::VapourPressureBit | verdunstungsmodellklasse::RadiationBit);
  EXPECT_FALSE(module_->NetRadiationInput());
  module_->ReleaseMemory();
  // A missing parameter grid stops with the look-up entry.
  MakeGrids({"albedo"});
  EXPECT_EQ(Build({}), 33);
  EXPECT_TRUE(Logged("albedo not found in memory,;These data are needed within "
                     "evapotranspiration"));
  // Long steps of method 1 use the night temperature.
  MakeGrids({"temperature_night"});
  EXPECT_EQ(Build({}), 33);
  MakeGrids({"temperature_night"});
  EXPECT_EQ(Build({}, 720.0), 0);
  EXPECT_EQ(module_->NightTemperature(), module_->DayTemperature());
  module_->ReleaseMemory();
}

TEST_F(EvapotranspirationSectionTest, InactiveModuleReadsNothingMoreAndRegistersNothing) {
  MakeGrids();
  test::WriteFixture(
      kControl, test::EvapotranspirationSection(0, 1440.0, EvapotranspirationRows().Set(3, "x")));
  int error = -1;
  verdunstungsmodellklasse module(error, settings_);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(registry_->FindGrid("pot_transpiration0", true), 0);
  module.PotentialEvapotranspiration(0, 1, 7, 2005);
  module.SnowEvaporationOnGlacier(0, 1, 7, 2005);
  module.RealEvapotranspiration(0, 1, 7, 2005);
  module.FinishTimeStep(0, 1, 7, 2005);
  module.FlushStatistics();
  module.ReleaseMemory();
}

// --- "[lake_model]" ------------------------------------------------------------

class LakeSectionTest : public EvapotranspirationSectionTest {
protected:
  int ReadLake(const std::string &lakeRows, bool ponding = true, int spinUp = 0,
               int flowControl = 0) {
    MakeGrids();
    settings_.SpinUpSwitch = spinUp;
    grids_->Add("lake_codes", [](long r, long) { return r == 2 ? 4.0 : 0.0; });
    if (ponding)
      grids_->Add("ponding_storage", [](long, long) { return 0.3; });
    test::WriteFixture(kControl, test::EvapotranspirationSection(flowControl, 1440.0) +
                                     "[lake_model]\n" + lakeRows);
    int error = -1;
    module_ = std::make_unique<verdunstungsmodellklasse>(error, settings_);
    const int code = test::ExitCodeOf([&] { module_->ReadLakeParameters("[lake_model]"); });
    return code < 0 ? 0 : code;
  }
};

TEST_F(LakeSectionTest, ReadsOpenWaterParameters) {
  ASSERT_EQ(ReadLake("1 flow control\n2 initialization\n0.08 Albedo_OpenWater\n0.001 z0\n"), 0);
  EXPECT_EQ(module_->Lake().flowControl, 1);
  EXPECT_EQ(module_->Lake().initializationMethod, 2);
  EXPECT_EQ(module_->Lake().albedo, 0.08);
  EXPECT_EQ(module_->Lake().roughnessLength, 0.001);
  EXPECT_TRUE(module_->ModelsOpenWater());
}

TEST_F(LakeSectionTest, FailuresAndSwitches) {
  EXPECT_EQ(ReadLake("1\n3\n0.08\n0.001\n"), 211);
  EXPECT_TRUE(Logged("FATAL: ;=======================================;!!!! ERROR !!!! ;; Error in "
                     "initialization method for [lake_model].;Allowed values are 1 (no change of "
                     "grids) or 2 (adjust DEM, SLOPE, DRAIN).;In either case, theta_soil will be "
                     "set to saturated, if the cell is marked as lake and POND is > 0."));
  EXPECT_EQ(ReadLake("1\n1\n0.08\n0.001\n", false), 28);
  EXPECT_TRUE(Logged("LAKE-grid was found, but no POND-Grid. For using lakes,;both grids as well "
                     "as the MAXPOND grid must be present."));
  EXPECT_EQ(ReadLake("1\n1\nx\n"), 17);
  // Off under spin-up: nothing more is read, so the broken row goes unnoticed.
  EXPECT_EQ(ReadLake("1\n1\nx\n", true, 1), 0);
  EXPECT_EQ(module_->Lake().flowControl, 0);
  EXPECT_FALSE(module_->ModelsOpenWater());
  EXPECT_EQ(ReadLake("0\nx\n"), 0);
  EXPECT_FALSE(module_->ModelsOpenWater());
}

TEST_F(LakeSectionTest, WithoutLakeGridTheSectionIsNotRead) {
  MakeGrids();
  test::WriteFixture(kControl, test::EvapotranspirationSection(0, 1440.0));
  int error = -1;
  verdunstungsmodellklasse module(error, settings_);
  module.ReadLakeParameters("[lake_model]"); // no such section either
  EXPECT_TRUE(Logged("INFO: no LAKE-grid was found in evapotranspiration;Lake modelling is "
                     "switched off for evapotranspiration."));
  EXPECT_FALSE(module.ModelsOpenWater());
}

} // namespace
} // namespace tavro
