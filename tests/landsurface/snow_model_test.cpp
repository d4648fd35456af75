// The snow module on a small catchment: its section with defaults, bounds and
// errors, the input grids each method needs, the registration of its grids,
// the cell step (two parts, albedo thresholds, fresh snow, rain on a cold
// pack, spin-up units, tracers), the state section and the lake switch.
#include "landsurface/snow_model.h"

#include "kernel/hydrologic_response_unit.h"
#include "kernel/state_file.h"
#include "kernel/tracer_info.h"
#include "landsurface/snow/snow_cover.h"
#include "landsurface/snow/snow_pack.h"
#include "snow_fixture.h"
#include "support/diagnostics_entries.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

namespace tavro {
namespace {

using test::ExitCodeOf;
using test::Logged;
using test::SnowSectionText;

constexpr double N = -9999.0;
const ModelDate kEnd{0, 31, 1, 2012};

// Subbasin codes 1 (columns 1, 2) and 2 (columns 3, 4); one cell outside.
double Zone(long r, long c) {
  if (r == 3 && c == 4)
    return N;
  return c <= 2 ? 1.0 : 2.0;
}
double Elevation(long r, long c) { return 1000.0 + 100.0 * r - 10.0 * c; }

class SnowModuleTest : public testing::Test {
protected:
  // Every input grid any method reads, so that only the section matters.
  void AddEveryInput() {
    catchment_.AddCommonInputs([](long, long) { return -2.0; }, [](long, long) { return 4.0; });
    for (const char *id :
         {"wind_speed", "vapor_pressure", "cloudiness", "air_humidity",
          "AspectCorrectedGlobalRadiation", "slidefraction1", "slidefraction2", "slidefraction3",
          "slidefraction4", "slope_angle", "deposition_index", "temperature_night"})
      catchment_.AddInput(id, 0.5);
  }
  std::unique_ptr<schneemodellklasse> Build(const SnowSectionText &text, int &error) {
    test::WriteFixture(test::kSnowControl, "[other]\n1\n" + text.Text() + "[after]\n");
    settings_ = catchment_.Settings(kEnd);
    settings_.MinToIntEnd = text.minutes; // the data stamp is the start of the step
    return std::make_unique<schneemodellklasse>(error, settings_);
  }
  std::unique_ptr<schneemodellklasse> Build(const SnowSectionText &text) {
    int error = -1;
    auto module = Build(text, error);
    EXPECT_EQ(error, 0);
    return module;
  }
  // Exit code of a construction that is expected to fail (-1: it did not).
  int FailureOf(const SnowSectionText &text) {
    int error = 0;
    const int code = ExitCodeOf([&] { Build(text, error); });
    EXPECT_EQ(error, code == -1 ? 0 : code);
    return code;
  }
  Grid &Module(schneemodellklasse &m, const char *identifier) {
    return *catchment_.registry[m.FindGrid(identifier, false)].Data;
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  test::SnowCatchment catchment_{log_, 3, 4, 2, Zone, Elevation};
  ModuleSettings settings_;
};

// --- Section ------------------------------------------------------------------------

TEST_F(SnowModuleTest, SectionDefaultsAndAcceptedBounds) {
  AddEveryInput();
  SnowSectionText text;
  auto plain = Build(text);
  const SnowSection &s = plain->Section();
  EXPECT_EQ(s.Pack.Method, 1);
  EXPECT_EQ(plain->GetMethod(), 1);
  EXPECT_EQ(s.MaxDepositionSlope, 55.0);
  EXPECT_EQ(s.MaxDepositionFactor, 1.0);
  EXPECT_EQ(s.MinSlideSlope, 30.0);
  EXPECT_EQ(s.SlideMassFrac, 0.01);
  EXPECT_EQ(s.Pack.LWINcorr, 1.0);
  EXPECT_EQ(s.Pack.LWOUTcorr, 1.0);
  EXPECT_EQ(s.Pack.EnBalScaling, 1.0);
  EXPECT_EQ(s.Solid.FileName, "solid.grd");
  EXPECT_FALSE(plain->ControlFile().IsOpen());
  plain->ReleaseMemory();

  struct Bounds {
    double maxSlope, minSlide, fraction, lw;
  };
  for (const Bounds &b : {Bounds{0.0, 0.0, 1.0, 3.0}, Bounds{90.0, 90.0, 0.5, 0.1}}) {
    text.method = 6;
    text.maxDepositionSlope = b.maxSlope;
    text.minSlideSlope = b.minSlide;
    text.slideMassFraction = b.fraction;
    text.lwIn = text.lwOut = b.lw;
    text.enBalScaling = "1.5";
    auto bounded = Build(text);
    EXPECT_EQ(bounded->Section().MaxDepositionSlope, b.maxSlope);
    EXPECT_EQ(bounded->Section().SlideMassFrac, b.fraction);
    EXPECT_EQ(bounded->Section().Pack.LWOUTcorr, b.lw);
    EXPECT_EQ(bounded->Section().Pack.EnBalScaling, 1.5);
    EXPECT_EQ(bounded->Section().SnowTemperature.FileName, "snowtemp.grd");
    bounded->ReleaseMemory();
  }
}

TEST_F(SnowModuleTest, SectionErrorsStopTheSetUpWithTheirEntries) {
  AddEveryInput();
  struct Case {
    std::function<void(SnowSectionText &)> change;
    int code;
    std::string entry;
  };
  const std::vector<Case> cases = {
      {[](SnowSectionText &t) { t.method = 15; }, 17,
       "FATAL: error in control file, method for snow_model is 15; the snow melt methods are 1 "
       "to 14"},
      {[](SnowSectionText &t) { t.method = 0; }, 17, "method for snow_model is 0"},
      {[](SnowSectionText &t) { t.method = 5, t.snowTemperatureLine = "x"; }, 404,
       "FATAL: cannot read additional parameters for snow model methods 5 to 11 from "
       "control.txt_0.$$$"},
      {[](SnowSectionText &t) { t.method = 5, t.maxDepositionSlope = 90.5; }, 405,
       "FATAL: maxDepositionSlope not within parameter bounds of [0...90] Here: 90.5"},
      {[](SnowSectionText &t) { t.method = 5, t.maxDepositionSlope = -1.0; }, 405,
       "maxDepositionSlope not within"},
      {[](SnowSectionText &t) { t.method = 5, t.maxDepositionFactor = 0.0; }, 406,
       "FATAL: maxDepositionFactor not within parameter bounds of (0...inf). Here: 0"},
      {[](SnowSectionText &t) { t.method = 8, t.minSlideSlope = 91.0; }, 407,
       "FATAL: minSlideSlope not within parameter bounds of [0...90]. Here: 91"},
      {[](SnowSectionText &t) { t.method = 8, t.slideMassFraction = 0.0; }, 408,
       "FATAL: slideMassFrac not within parameter bounds of (0...1.0]. Here: 0"},
      {[](SnowSectionText &t) { t.method = 8, t.slideMassFraction = 1.5; }, 408,
       "slideMassFrac not within"},
      {[](SnowSectionText &t) { t.method = 5, t.lwIn = 0.0; }, 408,
       "FATAL: incoming long wave radiation correction factor LWINcorr not within parameter "
       "bounds of (0...3.0]. Here: 0"},
      {[](SnowSectionText &t) { t.method = 5, t.lwOut = 4.0; }, 408,
       "FATAL: outgoing long wave radiation correction factor LWOUTcorr not within parameter "
       "bounds of (0...3.0]. Here: 4"},
      {[](SnowSectionText &t) { t.c0 = std::nan(""); }, 17, "C0 for "},
  };
  for (const Case &c : cases) {
    SnowSectionText text;
    c.change(text);
    SCOPED_TRACE(c.entry);
    EXPECT_EQ(FailureOf(text), c.code);
    EXPECT_TRUE(Logged(c.entry));
  }
}

TEST_F(SnowModuleTest, MissingEnergyBalanceScalingWarnsAndKeepsOne) {
  AddEveryInput();
  SnowSectionText text;
  text.method = 5;
  text.enBalScaling = "";
  auto module = Build(text);
  EXPECT_EQ(module->Section().Pack.EnBalScaling, 1.0);
  EXPECT_TRUE(Logged("WARNING: ;------------- warning: -------------;Could not read the optional "
                     "parameter EnBalScaling (double),;for snow melt methods with energy ba"));
  EXPECT_TRUE(Logged("Setting default values of 1.0"));
}

TEST_F(SnowModuleTest, MeltThresholdAboveTheRainThresholdRaisesIt) {
  AddEveryInput();
  SnowSectionText text;
  text.t0 = 1.0; // equal: nothing logged
  EXPECT_EQ(Build(text)->Section().Pack.T0R, 1.0);
  EXPECT_FALSE(Logged("T0R was set to T0"));
  text.t0 = 2.5;
  auto raised = Build(text);
  EXPECT_EQ(raised->Section().Pack.T0R, 2.5);
  // (The level word itself is not written.)
  EXPECT_TRUE(Logged(";" + std::string(71, '-') +
                     ";   T0R (threshold temperature rain/snow) < T0 (threshold temperature snow "
                     "melt)  ;   because these thresholds are contradicting each other, T0R was "
                     "set to T0!"));
}

TEST_F(SnowModuleTest, EachMethodNeedsItsInputGrids) {
  struct Case {
    int method;
    double minutes;
    std::vector<std::string> inputs; // besides albedo, landuse1 and precipitation
    int code;
    const char *missing;
  };
  const std::vector<Case> cases = {
      {1, 1440, {"temperature", "temperature_night"}, -1, nullptr},
      {8,
       720,
       {"temperature", "slidefraction1", "slidefraction2", "slidefraction3", "slidefraction4",
        "slope_angle"},
       -1,
       nullptr},
      {10, 720, {"temperature", "deposition_index"}, -1, nullptr},
      {1, 720, {"temperature_14"}, -1, nullptr}, // taken as the air temperature
      {1, 720, {}, 33, "Wether corr_temperature, temperature or temperature_14"},
      {1, 721, {"temperature"}, 33, "temperature_night not found in memory"},
      {2, 720, {"temperature"}, 33, "wind_speed not found in memory"},
      {4, 720, {"temperature", "wind_speed"}, 33, "vapor_pressure not found in memory"},
      {9,
       720,
       {"temperature", "slidefraction1", "slidefraction2", "slidefraction3", "slidefraction4",
        "slope_angle"},
       33,
       "deposition_index not found in memory"},
      {12,
       720,
       {"temperature", "wind_speed", "slidefraction1", "slidefraction2", "slidefraction4",
        "slope_angle"},
       33,
       "slidefraction3 not found in memory"},
      {5,
       720,
       {"temperature", "wind_speed", "air_humidity", "AspectCorrectedGlobalRadiation"},
       33,
       "cloudiness not found in memory"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "method " << c.method << ", " << c.minutes << " min");
    test::SnowCatchment catchment(log_, 3, 4, 2, Zone, Elevation);
    catchment.AddInput("albedo", 0.2);
    catchment.AddInput("landuse1", 1.0);
    catchment.AddInput("precipitation", 1.0);
    for (const std::string &id : c.inputs)
      catchment.AddInput(id, 1.0);
    SnowSectionText text;
    text.method = c.method;
    text.minutes = c.minutes;
    test::WriteFixture(test::kSnowControl, text.Text());
    ModuleSettings settings = catchment.Settings(kEnd);
    int error = 0;
    const int code = ExitCodeOf([&] { schneemodellklasse module(error, settings); });
    EXPECT_EQ(code, c.code);
    if (c.missing != nullptr) {
      EXPECT_TRUE(Logged(c.missing));
      EXPECT_TRUE(Logged("These data are needed within snow_model") ||
                  Logged("One of these data sets has to be present within snow_model"));
    }
  }
}

TEST_F(SnowModuleTest, GridsTakeTheFirstFreeEntriesInTheirOrder) {
  AddEveryInput();
  // A hole left by a released grid is taken first.
  const int hole = catchment_.registry.FindGrid("deposition_index", false);
  catchment_.registry.ReleaseGrid(hole);
  SnowSectionText text;
  text.method = 6;
  text.writecodes["solid"] = 3;
  auto module = Build(text);
  const std::vector<std::string> order{
      "snowstorage_solid",  "snowstorage_liquid", "snow_storage_total", "days_snow",
      "snow_age",           "snowtemp",           "surftemp",           "max_deposition",
      "elev_order_row",     "elev_order_col",     "input_mass",         "mobile_mass",
      "deposition",         "snow_fraction",      "rain_fraction",      "snowcover_outflow",
      "melt_from_snowcover"};
  EXPECT_EQ(catchment_.registry[hole].Identifier, order[0]);
  int previous = catchment_.registry.FindGrid(order[1], false);
  EXPECT_GT(previous, hole);
  for (std::size_t k = 2; k < order.size(); ++k) {
    const int index = catchment_.registry.FindGrid(order[k], false);
    EXPECT_EQ(index, previous + 1) << order[k];
    previous = index;
  }
  EXPECT_EQ(catchment_.registry[hole].FileName, "solid.grd");
  EXPECT_EQ(catchment_.registry[hole].OutputKind, 3);
  EXPECT_EQ(catchment_.registry.FindGrid("max_deposition", false) > 0,
            true); // named by its identifier
  EXPECT_EQ(module->GetSnowStorage(), catchment_.registry[hole].Data);
  // On rank 0 the slide methods keep the stores for the whole raster.
  EXPECT_TRUE(module->WholeRaster());
  EXPECT_EQ(module->ModuleFirstRow(), 1);
  EXPECT_EQ(module->ModuleLastRow(), 3);
  // Empty stores inside the zone, nodata outside; the temperatures are unset.
  EXPECT_EQ(Module(*module, "snowstorage_solid")[1][1], 0.0);
  EXPECT_EQ(Module(*module, "snowstorage_solid")[3][4], N);
  EXPECT_EQ(Module(*module, "snowtemp")[1][1], N);
  // Equal capacities fall with the slope: 1 x (1 - 0.5 / 55).
  EXPECT_DOUBLE_EQ(Module(*module, "max_deposition")[2][2], 1.0 - 0.5 / 55.0);

  module->ReleaseMemory();
  for (const std::string &identifier : order)
    EXPECT_EQ(catchment_.registry.Find(identifier), 0) << identifier;
}

TEST_F(SnowModuleTest, ModuleOffReadsNothingAndHandsOverNothing) {
  SnowSectionText text;
  text.flowControl = 0;
  auto module = Build(text);
  EXPECT_EQ(module->IsActive(), 0);
  EXPECT_EQ(module->GetSnowStorage(), nullptr);
  EXPECT_EQ(module->GetMethod(), 0);
  EXPECT_EQ(catchment_.registry.Find("snowstorage_solid"), 0);
  module->SetQg(nullptr);
  module->ReadStorage("state.txt", 1);
  module->ComputeTimeStep(0, 1, 1, 2012);
  module->ReleaseMemory();
  EXPECT_FALSE(test::FileExists("state.txt"));
}

TEST_F(SnowModuleTest, EqualElevationsAreOrderedLaterRowMajorFirst) {
  test::SnowCatchment flat(
      log_, 2, 2, 1, [](long, long) { return 1.0; }, [](long, long) { return 700.0; });
  flat.AddCommonInputs([](long, long) { return 0.0; }, [](long, long) { return 0.0; });
  flat.AddSlideInputs(0.5);
  flat.AddInput("temperature_night", 0.5);
  SnowSectionText text;
  text.method = 8;
  test::WriteFixture(test::kSnowControl, text.Text());
  ModuleSettings settings = flat.Settings(kEnd);
  int error = 0;
  schneemodellklasse module(error, settings);
  const Grid &rows = *flat.registry[flat.registry.FindGrid("elev_order_row", false)].Data;
  const Grid &cols = *flat.registry[flat.registry.FindGrid("elev_order_col", false)].Data;
  EXPECT_EQ(rows[1][1], 2.0);
  EXPECT_EQ(cols[1][1], 2.0);
  EXPECT_EQ(rows[1][2], 2.0);
  EXPECT_EQ(cols[1][2], 1.0);
  EXPECT_EQ(rows[2][2], 1.0);
  EXPECT_EQ(cols[2][2], 1.0);
}

// --- Step ----------------------------------------------------------------------------

class SnowStepTest : public SnowModuleTest {
protected:
  // Method 1 with the section's defaults; temperatures and input set per test.
  std::unique_ptr<schneemodellklasse> Ready(SnowSectionText text, double temperature, double night,
                                            double precipitation) {
    catchment_.AddCommonInputs([=](long, long) { return temperature; },
                               [=](long, long) { return precipitation; });
    catchment_.AddInput("temperature_night", night);
    auto module = Build(text);
    module->SelectWaterInput(false);
    return module;
  }
  void SetPack(schneemodellklasse &m, long r, long c, double solid, double liquid = 0.0) {
    Module(m, "snowstorage_solid")[r][c] = solid;
    Module(m, "snowstorage_liquid")[r][c] = liquid;
    Module(m, "snow_storage_total")[r][c] = solid + liquid;
  }
};

TEST_F(SnowStepTest, DailyStepHasANightAndADayPart) {
  // Night -5 °C: snow, no melt; day 5 °C: rain and 3 x 5 mm of melt a day.
  auto module = Ready(SnowSectionText{}, 5.0, -5.0, 40.0);
  SetPack(*module, 1, 1, 100.0);
  module->ComputeTimeStep(0, 15, 1, 2012);
  const double night = module->NightFraction;
  const double day = module->DayFraction;
  ASSERT_GT(night, 0.3);
  ASSERT_GT(day, 0.2);
  const double solid = 100.0 + 40.0 * night - 15.0 * day;
  EXPECT_NEAR(Module(*module, "snowstorage_solid")[1][1], solid, 1e-12);
  EXPECT_NEAR(Module(*module, "snowstorage_liquid")[1][1], 0.1 * solid, 1e-12);
  EXPECT_NEAR(Module(*module, "snowcover_outflow")[1][1], 55.0 * day - 0.1 * solid, 1e-12);
  EXPECT_EQ(Module(*module, "melt_from_snowcover")[1][1],
            Module(*module, "snowcover_outflow")[1][1]);
  // The grids of the split: the day's share of snow applied to the whole input.
  EXPECT_EQ(Module(*module, "snow_fraction")[1][1], 0.0);
  EXPECT_EQ(Module(*module, "rain_fraction")[1][1], 40.0);
}

TEST_F(SnowStepTest, HalfDayStepHasOnePart) {
  SnowSectionText text;
  text.minutes = 720.0;
  auto module = Ready(text, 5.0, -50.0, 0.0);
  SetPack(*module, 1, 1, 100.0);
  module->ComputeTimeStep(12, 15, 1, 2012);
  EXPECT_NEAR(Module(*module, "snowstorage_solid")[1][1], 100.0 - 7.5, 1e-12);
}

TEST_F(SnowStepTest, AlbedoAndSnowDaysFollowTheirThresholds) {
  auto module = Ready(SnowSectionText{}, -3.0, -3.0, 0.0);
  SetPack(*module, 1, 1, 5.0); // exactly 5 mm: no snow cover
  SetPack(*module, 1, 2, 5.5); // a cover of old snow
  Module(*module, "snow_age")[1][2] = 4.0;
  module->ComputeTimeStep(0, 15, 1, 2012);
  const Grid &albedo = catchment_.Input("albedo");
  EXPECT_DOUBLE_EQ(albedo[1][1], 0.25); // the land use's
  EXPECT_EQ(Module(*module, "days_snow")[1][1], 0.0);
  EXPECT_DOUBLE_EQ(albedo[1][2], snow::SnowAlbedo(0.45, 0.9, 5.0, -3.0));
  EXPECT_EQ(Module(*module, "days_snow")[1][2], 1.0);
  EXPECT_EQ(Module(*module, "snow_age")[1][2], 5.0);
}

TEST_F(SnowStepTest, FreshSnowResetsTheAgeAndBrightensTheCover) {
  auto module = Ready(SnowSectionText{}, -3.0, -3.0, 5.0);
  SetPack(*module, 1, 1, 20.0);
  Module(*module, "snow_age")[1][1] = 12.0;
  module->ComputeTimeStep(0, 15, 1, 2012);
  EXPECT_EQ(Module(*module, "snow_age")[1][1], 0.0);
  EXPECT_DOUBLE_EQ(catchment_.Input("albedo")[1][1], 0.9);
}

TEST_F(SnowStepTest, RainOnAColdPackLeavesWithoutCountingAsMelt) {
  // At 1 °C a quarter of the input is rain (T0R 2, transzone 2), and no
  // snow melts below T0 = 2 °C.
  SnowSectionText text;
  text.t0 = 2.0;
  text.t0r = 2.0;
  text.transZone = 2.0;
  auto module = Ready(text, 1.0, 1.0, 40.0);
  SetPack(*module, 1, 1, 40.0, 1.0);
  module->ComputeTimeStep(0, 15, 1, 2012);
  // solid 40 + 30, liquid 1 + 10 of which 7 mm are held.
  EXPECT_NEAR(Module(*module, "snowstorage_solid")[1][1], 70.0, 1e-12);
  EXPECT_NEAR(Module(*module, "snowstorage_liquid")[1][1], 7.0, 1e-12);
  EXPECT_NEAR(Module(*module, "snowcover_outflow")[1][1], 4.0, 1e-12);
  EXPECT_EQ(Module(*module, "melt_from_snowcover")[1][1], 0.0);
}

TEST_F(SnowStepTest, EnergyBalanceSeesTheLandUseAlbedoUpTo2Point5Millimetres) {
  SnowSectionText text;
  text.method = 5;
  text.minutes = 720.0;
  catchment_.AddCommonInputs([](long, long) { return 3.0; }, [](long, long) { return 0.0; });
  const std::map<std::string, double> weather{{"wind_speed", 2.0},
                                              {"air_humidity", 0.7},
                                              {"cloudiness", 0.3},
                                              {"AspectCorrectedGlobalRadiation", 3000.0}};
  for (const auto &[identifier, value] : weather)
    catchment_.AddInput(identifier, value);
  Grid &evaporation = catchment_.AddInput("snow_evaporation", 99.0);
  auto module = Build(text);
  module->SelectWaterInput(false);
  SetPack(*module, 1, 1, 2.5);
  SetPack(*module, 1, 2, 3.0);
  module->ComputeTimeStep(12, 15, 1, 2012);

  // The kernel with the albedo each pack should have seen: the land use's
  // 0.25 at 2.5 mm, the snow's (fresh: ALBsnow_max) above.
  for (const auto &[column, albedo] : {std::pair{1L, 0.25}, std::pair{2L, 0.9}}) {
    SCOPED_TRACE(column);
    snow::CellForcing f;
    f.Wind = 2.0;
    f.Humidity = 0.7;
    f.Cloudiness = 0.3;
    f.Radiation = 3000.0;
    f.Albedo = albedo;
    f.Elevation = Elevation(1, column);
    snow::PackState pack;
    pack.Solid = pack.Total = column == 1 ? 2.5 : 3.0;
    pack.SnowTemperature = pack.SurfaceTemperature = N;
    snow::PrecipitationSplit split;
    const std::vector<snow::StepPart> parts{{3.0, 1.0}};
    const snow::CellWaterResult r =
        snow::AdvanceCellWater(module->Section().Pack, {720.0, 2.0, 1.0}, f, parts, split, pack);
    EXPECT_EQ(Module(*module, "snowstorage_solid")[1][column], pack.Solid);
    EXPECT_EQ(Module(*module, "snowstorage_liquid")[1][column], pack.Liquid);
    EXPECT_EQ(Module(*module, "snowcover_outflow")[1][column], r.Outflow);
    EXPECT_EQ(Module(*module, "surftemp")[1][column], pack.SurfaceTemperature);
    EXPECT_EQ(Module(*module, "snowtemp")[1][column], pack.SnowTemperature);
    // Set to 0 at the start of the step, then the pack's sublimation.
    EXPECT_EQ(evaporation[1][column], pack.Evaporation);
  }
  EXPECT_NE(Module(*module, "snowstorage_solid")[1][1] / 2.5,
            Module(*module, "snowstorage_solid")[1][2] / 3.0);
  EXPECT_EQ(evaporation[2][2], 0.0); // no pack: nothing sublimates
}

TEST_F(SnowStepTest, SpinUpUnitsTakeTheirMastersValues) {
  test::SnowCatchment row(
      log_, 1, 4, 1, [](long, long) { return 1.0; }, [](long, long) { return 800.0; });
  row.AddCommonInputs([](long, long c) { return c % 2 == 1 ? -5.0 : 10.0; },
                      [](long, long) { return 12.0; });
  row.AddInput("HydrologicResponseUnits", [](long, long c) { return c <= 2 ? 1.0 : 2.0; });
  row.AddInput("MasterHydrologicResponseUnits", [](long, long c) { return c % 2 == 1 ? 1.0 : N; });
  std::vector<HydrologicResponseUnit> units(3);
  units[1].row = 1;
  units[1].column = 1;
  units[2].row = 1;
  units[2].column = 3;
  SnowSectionText text;
  text.minutes = 720.0;
  test::WriteFixture(test::kSnowControl, text.Text());
  ModuleSettings settings = row.Settings(kEnd);
  settings.MinToIntEnd = 720.0;
  settings.SpinUpSwitch = 1;
  settings.HydrologicResponseUnits = &units;
  int error = 0;
  schneemodellklasse module(error, settings);
  module.SelectWaterInput(false);
  module.ComputeTimeStep(0, 15, 1, 2012);
  const Grid &solid = *row.registry[row.registry.FindGrid("snowstorage_solid", false)].Data;
  const Grid &snowfall = *row.registry[row.registry.FindGrid("snow_fraction", false)].Data;
  // The masters are cold: 12 mm of snow; their members at 10 °C copy that.
  for (long c = 1; c <= 4; ++c) {
    EXPECT_EQ(solid[1][c], 12.0) << c;
    EXPECT_EQ(snowfall[1][c], 12.0) << c;
  }
}

TracerInfo Tracer(const std::string &name, int evaporating, int radioactive = 0) {
  TracerInfo info;
  info.name = name;
  info.evaporating = evaporating;
  info.radioactive = radioactive;
  info.half_time = radioactive != 0 ? 10.0 : -9999.0;
  info.max_conc = 1e9;
  info.path = "./";
  info.statext = "sta";
  info.gridext = "asc";
  return info;
}

TEST_F(SnowStepTest, TracersMixWithTheInputAndLeaveWithTheOutflow) {
  catchment_.AddInput("concflux_tracer_1_input", 2.0);
  catchment_.AddInput("concflux_tracer_2_input", 100.0);
  catchment_.AddInput("concflux_tracer_2_irrigation", 3.0); // taken before "input"
  catchment_.AddInput("concflux_tracer_3_input", 0.0);
  OneBasedArray<TracerInfo> tracers(3);
  tracers[1] = Tracer("chl", 1);
  tracers[2] = Tracer("nit", 0);
  tracers[3] = Tracer("ces", 0, 1);
  SnowSectionText text;
  text.minutes = 720.0;
  auto module = Ready(text, 4.0, 4.0, 6.0); // rain and melt
  int error = 0;
  module->InitTracerGrids(error, 3, &tracers, &catchment_.statistics, 200);
  ASSERT_EQ(error, 0);
  Grid &stored1 = Module(*module, "concstor_tracer_1_snow_model");
  Grid &stored2 = Module(*module, "concstor_tracer_2_snow_model");
  Grid &stored3 = Module(*module, "concstor_tracer_3_snow_model");
  SetPack(*module, 1, 1, 30.0);
  stored3[1][1] = 8.0;
  for (int step = 0; step < 4; ++step) {
    const double before1 = stored1[1][1];
    const double before2 = stored2[1][1];
    const double before3 = stored3[1][1];
    const double water = Module(*module, "snow_storage_total")[1][1];
    module->ComputeTimeStep(12 * (step % 2), 15 + step / 2, 1, 2012);
    const double outflow = Module(*module, "snowcover_outflow")[1][1];
    ASSERT_GT(outflow, 0.0);
    // Evaporating: mixed into the pack's water; that concentration leaves.
    EXPECT_DOUBLE_EQ(stored1[1][1], (before1 * water + 2.0 * 6.0) / (water + 6.0));
    EXPECT_EQ(Module(*module, "concflux_tracer_1_snow_model")[1][1], stored1[1][1]);
    // Not evaporating: what came in is stored or left.
    const double left = Module(*module, "concflux_tracer_2_snow_model")[1][1] * outflow;
    EXPECT_NEAR(stored2[1][1] - before2 + left, 6.0 * 3.0, 1e-12);
    // The radioactive one decays by its factor before anything else.
    const double decayed = before3 * std::exp(-0.5 / (10.0 * 1.442695041111));
    const double leftOf3 = Module(*module, "concflux_tracer_3_snow_model")[1][1] * outflow;
    EXPECT_NEAR(stored3[1][1] + leftOf3, decayed, 1e-12);
  }
  module->FinishTracerGrids();
  EXPECT_EQ(catchment_.registry.Find("concstor_tracer_1_snow_model"), 0);
}

TEST_F(SnowStepTest, TracersNeedAnInputConcentration) {
  OneBasedArray<TracerInfo> tracers(1);
  tracers[1] = Tracer("chl", 1);
  auto module = Ready(SnowSectionText{}, 4.0, 4.0, 6.0);
  int error = 0;
  EXPECT_EQ(
      ExitCodeOf([&] { module->InitTracerGrids(error, 1, &tracers, &catchment_.statistics, 200); }),
      33);
  EXPECT_TRUE(Logged("Wether concflux_tracer_1_irrigation, concflux_tracer_1_input or "
                     "!!_no_entry_!!"));
}

// --- State section -------------------------------------------------------------------

class SnowStateTest : public SnowModuleTest {
protected:
  std::unique_ptr<schneemodellklasse> Ready() {
    catchment_.AddCommonInputs([](long, long) { return 0.0; }, [](long, long) { return 0.0; });
    catchment_.AddInput("temperature_night", 0.0);
    auto module = Build(SnowSectionText{});
    module->SetQg(&qg_);
    return module;
  }
  static std::string Section(const std::vector<std::string> &lines) {
    std::string text = "[routing_model]\n0 (earlier section)\n";
    for (const std::string &line : lines)
      text += line + "\n";
    return text;
  }
  SubbasinRunoffArrays qg_;
};

TEST_F(SnowStateTest, WithoutGlaciersTheSectionHoldsEmptyReservoirs) {
  auto module = Ready();
  EXPECT_EQ(module->SubbasinCount(), 2);
  module->ReadStorage("state.txt", 0); // kept for the end, nothing read
  module->ReleaseMemory();
  const std::string written = test::ReadWholeFile("state.txt");
  EXPECT_EQ(written, "[snow_model]\n2 (number of subasins)\n"
                     "1\t0(TG code and Qice_slr value)\n1\t0(TG code and Qfirn_slr value)\n"
                     "1\t0(TG code and Qsnow_slr value)\n2\t0(TG code and Qice_slr value)\n"
                     "2\t0(TG code and Qfirn_slr value)\n2\t0(TG code and Qsnow_slr value)\n\n");
  EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 9);
  EXPECT_FALSE(Logged("WARNING: in snow/glacier model"));
}

TEST_F(SnowStateTest, ReservoirsReadBackExactly) {
  const std::vector<double> values{0.1, 1.0 / 3.0, 2.5e-7, 123.456789012345678, 0.0, 1e10};
  {
    auto module = Ready();
    module->Reservoirs().Allocate(2);
    for (int i = 1; i <= 2; ++i) {
      module->Reservoirs().Ice[static_cast<std::size_t>(i)] = values[3 * i - 3];
      module->Reservoirs().Firn[static_cast<std::size_t>(i)] = values[3 * i - 2];
      module->Reservoirs().Snow[static_cast<std::size_t>(i)] = values[3 * i - 1];
    }
    module->ReadStorage("state.txt", 3);
    module->ReleaseMemory();
  }
  auto next = Ready();
  next->Reservoirs().Allocate(2);
  next->ReadStorage("state.txt", 1);
  for (int i = 1; i <= 2; ++i) {
    EXPECT_EQ(next->Reservoirs().Ice[static_cast<std::size_t>(i)], values[3 * i - 3]);
    EXPECT_EQ(next->Reservoirs().Firn[static_cast<std::size_t>(i)], values[3 * i - 2]);
    EXPECT_EQ(next->Reservoirs().Snow[static_cast<std::size_t>(i)], values[3 * i - 1]);
  }
}

TEST_F(SnowStateTest, ReadCodesTwoAndFourAndNoNameKeepNothing) {
  for (const auto &[name, code] :
       {std::pair{"state.txt", 2}, std::pair{"state.txt", 4}, std::pair{"", 1}}) {
    auto module = Ready();
    module->ReadStorage(name, code);
    EXPECT_EQ(module->StorageFileName(), "");
    module->ReleaseMemory();
    EXPECT_FALSE(test::FileExists("state.txt"));
  }
}

TEST_F(SnowStateTest, AFileOrSectionThatIsNotThereStartsCold) {
  auto module = Ready();
  module->Reservoirs().Allocate(2);
  module->Reservoirs().Ice[1] = 4.0;
  module->ReadStorage("missing.txt", 1);
  EXPECT_TRUE(Logged("WARNING: in snow/glacier model: error opening storage content file "
                     "missing.txt"));
  EXPECT_TRUE(Logged("WARNING: glacier model will be run with cold start initialization values"));
  test::WriteFixture("other.txt", Section({"[unsatzon_model]", "2 (number of subasins)"}));
  module->ReadStorage("other.txt", 1);
  EXPECT_TRUE(Logged("WARNING: in snow/glacier model: [snow_model] not found in storage content "
                     "file other.txt"));
  EXPECT_EQ(module->Reservoirs().Ice[1], 4.0);
}

TEST_F(SnowStateTest, SectionsThatDoNotFitStopWithTheirMismatch) {
  struct Case {
    std::vector<std::string> lines;
    std::string entry;
  };
  const std::vector<Case> cases = {
      {{"[snow_model]", "3 (number of subasins)"},
       "FATAL: (snow model) error in storage file content reading number of subbasins:;value in "
       "actual control is:   2;but value in storage file is: 3;Tavro throws..."},
      {{"[snow_model]", "2 (number of subasins)", "2\t0.5(TG code and Qice_slr value)"},
       "reading subbasin code:;value in actual control is:   1;but value in storage file is: 2"},
      {{"[snow_model]", "2 (number of subasins)", "1\t0.5(TG code and Qice_slr value)", "1\t"},
       "but value in storage file is: (no number could be read there)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.entry);
    auto module = Ready();
    module->Reservoirs().Allocate(2);
    test::WriteFixture("state.txt", Section(c.lines));
    EXPECT_EQ(ExitCodeOf([&] { module->ReadStorage("state.txt", 1); }), 71);
    EXPECT_TRUE(Logged(c.entry));
  }
}

TEST_F(SnowStateTest, StoredValuesAreCheckedWithTheRelativeTolerance) {
  auto module = Ready();
  struct Case {
    const char *stored;
    double current;
    int code;
  };
  for (const Case &c : {Case{"0", 0.0, -1}, Case{"100", 100.0005, -1}, Case{"100", 100.002, 71}}) {
    SCOPED_TRACE(c.current);
    test::WriteFixture("check.txt", std::string("[s]\n") + c.stored + " (value)\n");
    StateFileReader file(*module, "check.txt",
                         [&](std::string_view d, double current, std::optional<double> stored) {
                           module->ThrowStorageMismatch(d, current, stored);
                         });
    ASSERT_TRUE(file.FindSection("[s]"));
    EXPECT_EQ(ExitCodeOf([&] { module->CheckStorageValue(file, c.current, "T0"); }), c.code);
  }
  EXPECT_TRUE(Logged("FATAL: (snow model) error in storage file content reading T0:"));
}

TEST_F(SnowStateTest, DirectoriesStandBeforeTheStateFile) {
  ASSERT_EQ(std::system("mkdir -p in out"), 0);
  settings_.InitialStateDirectory = "in/";
  auto module = Ready();
  module->DefaultOutputDirectory = "out/";
  module->InitialStateDirectory = "in/";
  module->Reservoirs().Allocate(2);
  module->ReadStorage("state.txt", 1);
  EXPECT_TRUE(Logged("error opening storage content file in/state.txt"));
  module->ReleaseMemory();
  EXPECT_TRUE(test::FileExists("out/state.txt"));
}

// --- Lakes ---------------------------------------------------------------------------

class SnowLakeTest : public SnowModuleTest {
protected:
  // Snow at -10 °C, 5 mm of input, and "[lake_model]" with the lake switch.
  std::unique_ptr<schneemodellklasse> Ready(test::SnowCatchment &catchment, int lakeSwitch) {
    catchment.AddCommonInputs([](long, long) { return -10.0; }, [](long, long) { return 5.0; });
    catchment.AddInput("temperature_night", -10.0);
    test::WriteFixture(test::kSnowControl, SnowSectionText{}.Text() + "[lake_model]\n" +
                                               std::to_string(lakeSwitch) + "\n");
    settings_ = catchment.Settings(kEnd);
    settings_.MinToIntEnd = 1440.0;
    int error = 0;
    auto module = std::make_unique<schneemodellklasse>(error, settings_);
    module->SelectWaterInput(false);
    return module;
  }
  std::unique_ptr<schneemodellklasse> Ready(int lakeSwitch) {
    return Ready(catchment_, lakeSwitch);
  }
};

TEST_F(SnowLakeTest, WithoutLakeGridLakesAreOff) {
  auto module = Ready(1);
  module->ReadLakeParameters("[lake_model]");
  EXPECT_EQ(module->LakeFlag(), 0);
  EXPECT_TRUE(Logged("INFO: no LAKE-grid was found in snow_model;Lake modelling is switched off "
                     "for snow_model."));
}

TEST_F(SnowLakeTest, LakeCellsWithPondingWaterTakeOnlyRain) {
  for (const char *ponding : {"ponding_storage", "ponding_storage_top"}) {
    SCOPED_TRACE(ponding);
    test::SnowCatchment catchment(log_, 3, 4, 2, Zone, Elevation);
    catchment.AddInput("lake_codes", [](long r, long c) { return r == 1 && c <= 2 ? 7.0 : 0.0; });
    catchment.AddInput(ponding, [](long, long c) { return c == 1 ? 10.0 : 0.0; });
    auto module = Ready(catchment, 1);
    module->ReadLakeParameters("[lake_model]");
    EXPECT_EQ(module->LakeFlag(), 1);
    module->ComputeTimeStep(0, 15, 1, 2012);
    const Grid &solid = catchment.Input("snowstorage_solid");
    EXPECT_EQ(solid[1][1], 0.0); // a lake with water: rain
    EXPECT_EQ(catchment.Input("rain_fraction")[1][1], 5.0);
    EXPECT_EQ(solid[1][2], 5.0); // a lake without ponding water: snow
    EXPECT_EQ(solid[2][1], 5.0);
  }
}

TEST_F(SnowLakeTest, LakeGridWithoutPondingGridIsFatalAndSpinUpTurnsLakesOff) {
  catchment_.AddInput("lake_codes", 1.0);
  auto module = Ready(1);
  EXPECT_EQ(ExitCodeOf([&] { module->ReadLakeParameters("[lake_model]"); }), 28);
  EXPECT_TRUE(Logged("LAKE-grid was found, but no POND-Grid. For using lakes,;both grids as well "
                     "as the MAXPOND grid must be present."));
  module->SpinUpSwitch = 1;
  module->ReadLakeParameters("[lake_model]");
  EXPECT_EQ(module->LakeFlag(), 0);
  EXPECT_EQ(ExitCodeOf([&] { module->ReadLakeParameters("[no_such_section]"); }), 17);
}

TEST_F(SnowStepTest, WaterInputFollowsTheOrderOfInterceptionAndSnow) {
  struct Case {
    bool interceptionFirst, throughfall;
    double snowfall; // at -5 °C all of the input
  };
  for (const Case &c : {Case{true, true, 2.0}, Case{false, true, 7.0}, Case{true, false, 7.0}}) {
    SCOPED_TRACE(testing::Message() << c.interceptionFirst << " " << c.throughfall);
    test::SnowCatchment catchment(log_, 3, 4, 2, Zone, Elevation);
    catchment.AddCommonInputs([](long, long) { return -5.0; }, [](long, long) { return 7.0; });
    catchment.AddInput("temperature_night", -5.0);
    if (c.throughfall)
      catchment.AddInput("throughfall0", 2.0);
    test::WriteFixture(test::kSnowControl, SnowSectionText{}.Text());
    ModuleSettings settings = catchment.Settings(kEnd);
    settings.MinToIntEnd = 1440.0;
    int error = 0;
    schneemodellklasse module(error, settings);
    module.SelectWaterInput(c.interceptionFirst);
    module.SelectWaterInput(!c.interceptionFirst); // the first choice stays
    module.ComputeTimeStep(0, 15, 1, 2012);
    EXPECT_EQ(catchment.Input("snow_fraction")[1][1], c.snowfall);
  }
  test::SnowCatchment dry(log_, 3, 4, 2, Zone, Elevation);
  dry.AddInput("albedo", 0.2);
  dry.AddInput("landuse1", 1.0);
  dry.AddInput("temperature", 0.0);
  dry.AddInput("temperature_night", 0.0);
  test::WriteFixture(test::kSnowControl, SnowSectionText{}.Text());
  ModuleSettings settings = dry.Settings(kEnd);
  int error = 0;
  schneemodellklasse module(error, settings);
  EXPECT_EQ(ExitCodeOf([&] { module.SelectWaterInput(true); }), 33);
  EXPECT_TRUE(Logged("Wether throughfall0, precipitation or ungueltiger_Name"));
  EXPECT_EQ(ExitCodeOf([&] { module.SelectWaterInput(false); }), 33);
  EXPECT_TRUE(Logged("precipitation not found in memory"));
}

// The module's own entry to one part of a pack: the cell's grids in, the pack
// of the caller's storages out, as the kernel computes it.
TEST_F(SnowStepTest, SnowPackAdaptsTheCellsGridsToTheKernel) {
  SnowSectionText text;
  text.minutes = 720.0;
  text.method = 9;
  catchment_.AddCommonInputs([](long, long) { return 0.5; }, [](long, long) { return 8.0; });
  catchment_.AddSlideInputs(0.5);
  catchment_.AddInput("deposition_index", 0.25);
  auto module = Build(text);
  module->SelectWaterInput(false);
  double solid = 10.0, liquid = 1.0, total = 11.0, snowTemperature = 0.0, surface = 0.0,
         evaporation = 0.0, share = -1.0;
  const double melt = module->SnowPack(2, 2, share, &solid, &liquid, 3.0, 0.5, &total,
                                       &snowTemperature, &surface, &evaporation, false);
  snow::CellForcing f;
  f.Precipitation = 8.0;
  f.DepositionIndex = 0.25;
  snow::PackState pack;
  pack.Solid = 10.0;
  pack.Liquid = 1.0;
  pack.Total = 11.0;
  snow::PrecipitationSplit split;
  const snow::PartResult expected = snow::AdvancePackPart(
      module->Section().Pack, {1440.0, 1.0, 1.0}, f, 3.0, 0.5, false, split, pack);
  EXPECT_EQ(melt, expected.Melt);
  EXPECT_EQ(share, expected.SnowShare);
  EXPECT_EQ(solid, pack.Solid);
  EXPECT_EQ(liquid, pack.Liquid);
  EXPECT_EQ(total, pack.Total);
  EXPECT_EQ(Module(*module, "snow_fraction")[2][2], split.Snow);
  EXPECT_EQ(Module(*module, "rain_fraction")[2][2], split.Rain);
  EXPECT_EQ(catchment_.Input("precipitation")[2][2], 8.0); // the caller raises the input
}

} // namespace
} // namespace tavro
