// Glaciers and permafrost in the snow module on a small catchment: the
// "[ice_firn]" and "[permafrost]" sections with their errors and defaults,
// the checks of the glacier grids, the firn a glacier starts with, ice and
// firn melt under the glacier's snow and debris, the reservoirs replacing the
// runoff of glacier subbasins only, and the permafrost thaw.
#include "landsurface/snow_model.h"

#include "glacier_fixture.h"
#include "kernel/module_exchange.h"
#include "landsurface/glacier/glacier_melt.h"
#include "snow_fixture.h"
#include "support/diagnostics_entries.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::ExitCodeOf;
using test::IceFirnText;
using test::Logged;
using test::PermafrostText;
using test::SnowSectionText;

constexpr double N = -9999.0;
const ModelDate kEnd{0, 31, 12, 2012};

// Subbasin 1 (columns 1, 2) and 2 (columns 3, 4); one cell outside.
double Zone(long r, long c) {
  if (r == 3 && c == 4)
    return N;
  return c <= 2 ? 1.0 : 2.0;
}
// Row 1 at 3100 m, row 2 at 2800 m, row 3 at 2500 m.
double Elevation(long r, long) { return 3400.0 - 300.0 * r; }

// Glacier 5 in subbasin 1 (row 1 and a half cell below), glacier 6 in 2.
double Glacierized(long r, long c) {
  if (r == 1)
    return 1.0;
  return r == 2 && c == 1 ? 0.5 : 0.0;
}
double Codes(long r, long c) {
  if (Glacierized(r, c) <= 0.0)
    return N;
  return c <= 2 ? 5.0 : 6.0;
}

class GlacierModuleTest : public testing::Test {
protected:
  void AddWeather(double temperature, double precipitation) {
    catchment_.AddCommonInputs([=](long, long) { return temperature; },
                               [=](long, long) { return precipitation; });
    catchment_.AddInput("temperature_night", temperature);
  }
  void AddDynamicGrids() {
    catchment_.AddInput("GlacierizedCells", Glacierized);
    catchment_.AddInput("GlacierCodes", Codes);
  }
  std::unique_ptr<schneemodellklasse> Build(const IceFirnText &glacier, int &error,
                                            const std::string &more = "") {
    SnowSectionText snow;
    snow.minutes = 1440.0;
    test::WriteFixture(test::kSnowControl, snow.Text() + glacier.Text() + more + "[after]\n");
    settings_ = catchment_.Settings(kEnd);
    settings_.MinToIntEnd = snow.minutes;
    return std::make_unique<schneemodellklasse>(error, settings_);
  }
  std::unique_ptr<schneemodellklasse> Build(const IceFirnText &glacier,
                                            const std::string &more = "") {
    int error = -1;
    auto module = Build(glacier, error, more);
    EXPECT_EQ(error, 0);
    if (module)
      module->SelectWaterInput(false);
    return module;
  }
  int FailureOf(const IceFirnText &glacier, const std::string &more = "") {
    int error = 0;
    const int code = ExitCodeOf([&] { Build(glacier, error, more); });
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

// --- Sections ------------------------------------------------------------------------

TEST_F(GlacierModuleTest, SectionErrorsStopTheSetUpWithTheirEntries) {
  AddWeather(0.0, 0.0);
  AddDynamicGrids();
  struct Case {
    std::function<void(IceFirnText &)> change;
    int code;
    std::string entry;
  };
  const std::vector<Case> cases = {
      {[](IceFirnText &t) { t.method = 3; }, 80,
       "Method for glacier melt must be 1(resp 11 for dynamic model; t-index)"},
      {[](IceFirnText &t) { t.firnRow = "4 3000  # short"; }, 80,
       "Could not read the three parameters firn_levels (int),;firn_base (double), and "
       "deltafirnper100m (double)"},
      {[](IceFirnText &t) { t.evalRow = "30  # short"; }, 80,
       "Could not read the two parameters GMBEvalDay (int 1...31);and GMBEvalMonth (int 1..12)"},
      {[](IceFirnText &t) { t.volumeAreaRow = "28.5 1.36 3  # short"; }, 80,
       "Could not read the four parameters VAscaling, VAexponent, numElevBands and "
       "extraWeightFactorBand0"},
      {[](IceFirnText &t) { t.evalRow = "30 13"; }, 80, "GMBEvalMonth must lie within 1...12"},
      {[](IceFirnText &t) { t.evalRow = "31 9"; }, 80,
       "GMBEvalDay must lie within 1...30 in month 9 for dynamic glacier modelling. Here: 31"},
      {[](IceFirnText &t) { t.evalRow = "0 1"; }, 80, "GMBEvalDay must lie within 1...31"},
      {[](IceFirnText &t) { t.firnRow = "0 3000 0.5"; }, 80,
       "firn_levels must be at least 1 for dynamic glacier modelling. Here: 0"},
      {[](IceFirnText &t) { t.volumeAreaRow = "28.5 1.36 0 1"; }, 80,
       "numElevBands must be at least 1"},
      {[](IceFirnText &t) { t.volumeAreaRow = "28.5 1.36 3 -1"; }, 80,
       "extraWeightFactorBand0 must not be negative"},
      {[](IceFirnText &t) { t.volumeAreaRow = "0 1.36 3 1"; }, 80,
       "VAscaling must be above 0 for dynamic glacier modelling. Here: 0"},
      {[](IceFirnText &t) { t.volumeAreaRow = "28.5 -1 3 1"; }, 80, "VAexponent must be above 0"},
      {[](IceFirnText &t) { t.kFirn = "-0.5"; }, 80,
       "the storage constant kfirn_els of the glacier reservoirs must not be negative. Here: "
       "-0.5"},
      {[](IceFirnText &t) { t.ddfIce = std::nan(""); }, 17, "DDFice  for "},
  };
  for (const Case &c : cases) {
    IceFirnText text;
    c.change(text);
    SCOPED_TRACE(c.entry);
    EXPECT_EQ(FailureOf(text), c.code);
    EXPECT_TRUE(Logged(c.entry));
  }
  PermafrostText permafrost;
  permafrost.method = 2;
  catchment_.AddInput("ThawCoeffPermaFrost", 0.1);
  catchment_.AddInput("PermafrostThawDepth", 0.0);
  catchment_.AddInput("root_depth1", 1.0);
  EXPECT_EQ(FailureOf(IceFirnText{}, permafrost.Text()), 80);
  EXPECT_TRUE(Logged("FATAL: method for permafrost melt must be 1 (alpha*sqrt(time))"));
}

TEST_F(GlacierModuleTest, StaticMethodsNeedTheirGridAndADotInTheTotalMeltFile) {
  AddWeather(0.0, 0.0);
  AddDynamicGrids();
  IceFirnText text;
  text.method = 1;
  EXPECT_EQ(FailureOf(text), 33) << "ice_firn is missing";
  catchment_.AddInput("ice_firn", Glacierized);
  text.qglacTable = "a.b.txt 3001";
  auto module = Build(text);
  EXPECT_EQ(module->GlacierSection().SnowMeltTable.name, "a.b_qsgl_.txt");
  EXPECT_EQ(module->GlacierSection().SnowMeltTable.code, 3001);
  EXPECT_EQ(module->GlacierMethod(), 1);
  module->ReleaseMemory();
  text.qglacTable = "qglac 0";
  EXPECT_EQ(FailureOf(text), 103);
  EXPECT_TRUE(Logged("row 22 of [ice_firn]"));
}

TEST_F(GlacierModuleTest, NewGlacierLimitsAreOptional) {
  AddWeather(0.0, 0.0);
  AddDynamicGrids();
  struct Case {
    std::string row;
    double limit, size;
    bool warned;
  };
  for (const Case &c : {Case{"1200 0.4", 1200.0, 0.4, false}, Case{"", 1000.0, 0.25, true},
                        Case{"1200  # one", 1200.0, 0.25, true}}) {
    IceFirnText text;
    text.newGlacierRow = c.row;
    auto module = Build(text);
    EXPECT_EQ(module->GlacierSection().MaxSnowPackToCreateGlacier, c.limit) << c.row;
    EXPECT_EQ(module->GlacierSection().Glaciers.RelSizeNewGlacier, c.size) << c.row;
    EXPECT_EQ(Logged("Could not read the optional parameters maxSnowPackToCreateGlacier"), c.warned)
        << c.row;
    module->ReleaseMemory();
  }
}

// --- Glacier grids and firn ------------------------------------------------------------

TEST_F(GlacierModuleTest, GlacierGridsAreChecked) {
  AddWeather(0.0, 0.0);
  Grid &fraction = catchment_.AddInput("GlacierizedCells", 0.0);
  Grid &codes = catchment_.AddInput("GlacierCodes", N);
  EXPECT_EQ(FailureOf(IceFirnText{}), 80);
  EXPECT_TRUE(Logged("There are no glacierized cells in GlacierizedCells-grid (all nodata or "
                     "equal to 0)!"));
  fraction[1][1] = 0.5;
  fraction[2][3] = 0.5;
  codes[2][3] = 2.0;
  EXPECT_EQ(FailureOf(IceFirnText{}), 80);
  EXPECT_TRUE(Logged("There is a cell in the GlacierizedCells-grid having no valid value in ;"
                     "GlacierCodes (must be an integer ID for each separate glacier) at row 1 "
                     "and col 1"));
  codes[1][1] = -3.0;
  codes[2][3] = N;
  fraction[2][3] = 0.0;
  EXPECT_EQ(FailureOf(IceFirnText{}), 80);
  EXPECT_TRUE(Logged("The GlacierCodes grid (GlacierCodes)contains nodata values only. ;"));
}

TEST_F(GlacierModuleTest, AGlacierInTwoSubbasinsStopsTheSetUp) {
  AddWeather(0.0, 0.0);
  catchment_.AddInput("GlacierizedCells", Glacierized);
  catchment_.AddInput("GlacierCodes", [](long r, long c) { return Codes(r, c) == N ? N : 5.0; });
  EXPECT_EQ(FailureOf(IceFirnText{}), 84);
  EXPECT_TRUE(Logged("glacier 5 is located in more than one subbasin:;First cell was found in "
                     "subbasin 1,;whereas the cell in row 1 and col 3 belongs to subbasin 2.;"
                     "Please make sure that each single glacier belongs to one specific subbasin "
                     "only."));
}

TEST_F(GlacierModuleTest, FirnStartsPerMetreAboveTheBase) {
  AddWeather(0.0, 0.0);
  AddDynamicGrids();
  auto module = Build(IceFirnText{});
  const Stack &firn = module->FirnStack();
  // Row 1 at 3100 m: 4 layers of 50; the half cell of row 2 at 2800 m: 0.
  for (int l = 1; l <= 4; ++l) {
    EXPECT_EQ(firn[1][1][l], 50.0);
    EXPECT_EQ(firn[2][1][l], 0.0);
  }
  EXPECT_EQ(firn[1][1][0], 200.0);
  EXPECT_EQ(Module(*module, "firn_WE_stack")[1][1], 200.0);
  EXPECT_EQ(Module(*module, "firn_WE_stack")[2][1], 0.0);
  EXPECT_EQ(Module(*module, "firn_WE_stack")[3][1], N) << "no glacier";
  const glacier::DynamicGlaciers *glaciers = module->Glaciers();
  ASSERT_NE(glaciers, nullptr);
  ASSERT_EQ(glaciers->Glaciers().size(), 2u);
  // Glacier 5: 2.5 cells of 1000 m = 2.5 km².
  EXPECT_NEAR(glaciers->Glaciers()[0].OldArea, 2.5, 1e-9);
  EXPECT_NEAR(glaciers->Glaciers()[0].OldVolume, 28.5 * std::pow(2.5, 1.36), 1e-9);
}

// --- Melt ----------------------------------------------------------------------------

TEST_F(GlacierModuleTest, IceMeltsOnlyUnderABareGlacierAndDebrisScalesIt) {
  AddWeather(5.0, 0.0);
  AddDynamicGrids();
  catchment_.AddInput("debris_on_glaciers",
                      [](long r, long c) { return r == 1 && c == 1 ? N : 0.5; });
  IceFirnText text;
  text.firnRow = "4 5000 0.5"; // no firn
  auto module = Build(text);
  Module(*module, "SolidSnowStorage_onGlacier")[1][3] = 100.0; // snow on the glacier
  Module(*module, "TotalSnowStorage_onGlacier")[1][3] = 100.0;
  Module(*module, "SolidSnowStorage_onGlacier")[1][4] = 4.0; // runs out in this step
  Module(*module, "TotalSnowStorage_onGlacier")[1][4] = 4.0;
  module->ComputeTimeStep(0, 15, 7, 2012);
  const Grid &ice = Module(*module, "melt_from_ice");
  EXPECT_EQ(ice[1][3], 0.0) << "under snow";
  EXPECT_DOUBLE_EQ(ice[1][4], 0.5 * 8.0 * 5.0 - 4.0) << "reduced by the snow melt";
  EXPECT_DOUBLE_EQ(ice[1][1], 8.0 * 5.0) << "nodata debris counts as 1";
  EXPECT_DOUBLE_EQ(ice[1][2], 0.5 * 8.0 * 5.0);
  EXPECT_DOUBLE_EQ(Module(*module, "SnowMelt_onGlacier")[1][4], 4.0);
  EXPECT_EQ(ice[3][1], 0.0) << "no glacier";
  // The step's balance of the glacier cells.
  EXPECT_DOUBLE_EQ(Module(*module, "GlacierMassBalance")[1][4], -4.0 - 16.0);
}

TEST_F(GlacierModuleTest, MethodThirteenMeltsTheGlacierSnowByTheSnowModel) {
  AddWeather(4.0, 6.0);
  AddDynamicGrids();
  catchment_.AddInput("global_radiation", 100.0);
  IceFirnText text;
  text.method = 13;
  auto module = Build(text);
  // The half-glacierized cell (2, 1): both packs start alike, so the
  // glacier pack, on the same split and by the same melt, ends alike too.
  const bool owned = catchment_.Owns(2, 1);
  if (owned)
    for (const char *id : {"snowstorage_solid", "snow_storage_total", "SolidSnowStorage_onGlacier",
                           "TotalSnowStorage_onGlacier"})
      Module(*module, id)[2][1] = 50.0;
  module->ComputeTimeStep(0, 15, 7, 2012);
  if (!owned)
    return;
  EXPECT_GT(Module(*module, "snowcover_outflow")[2][1], 0.0);
  EXPECT_EQ(Module(*module, "SnowMelt_onGlacier")[2][1],
            Module(*module, "snowcover_outflow")[2][1]);
  EXPECT_EQ(Module(*module, "SolidSnowStorage_onGlacier")[2][1],
            Module(*module, "snowstorage_solid")[2][1]);
  EXPECT_EQ(Module(*module, "TotalSnowStorage_onGlacier")[2][1],
            Module(*module, "snow_storage_total")[2][1]);
  EXPECT_GT(Module(*module, "snowstorage_solid")[2][1], 0.0) << "snow left: no ice melt";
  EXPECT_EQ(Module(*module, "melt_from_ice")[2][1], 0.0);
}

TEST_F(GlacierModuleTest, ReservoirsReplaceTheRunoffOfGlacierSubbasinsOnly) {
  AddWeather(5.0, 0.0);
  catchment_.AddInput("ice_firn", [](long r, long c) { return r == 1 && c <= 2 ? 1.0 : 0.0; });
  IceFirnText text;
  text.method = 1;
  auto module = Build(text);
  SubbasinRunoffArrays qg;
  qg.Resize(2);
  module->SetQg(&qg);
  for (int step = 1; step <= 3; ++step) {
    qg.Components[0][1] = qg.Components[0][2] = 7.0;
    module->ComputeTimeStep(0, 14 + step, 7, 2012);
    // Subbasin 1: 2 of 6 cells melt 40 mm of ice: 40 mm over the glacier.
    const double z = 2.0 / 6.0;
    const double q = 40.0 * (1.0 - std::exp(-step / 2.0));
    if (test::Rank() == 0) {
      EXPECT_NEAR(qg.Components[0][1], q * z, 1e-12) << step;
      EXPECT_EQ(qg.Components[0][2], 7.0) << "no glacier in subbasin 2";
      EXPECT_NEAR(module->Reservoirs().Ice[1], q, 1e-12);
    }
  }
  const auto &share = module->GlacierSubbasins();
  EXPECT_TRUE(share[1].HasGlacier);
  EXPECT_EQ(share[1].Glacierized, 2.0);
  EXPECT_EQ(share[1].Unglacierized, 4.0);
  EXPECT_FALSE(share[2].HasGlacier);
}

TEST_F(GlacierModuleTest, YearlyUpdateTurnsSnowIntoFirnAndNewGlaciers) {
  AddWeather(-5.0, 0.0);
  AddDynamicGrids();
  auto module = Build(IceFirnText{});
  const auto set = [&](const char *id, long r, long c, double value) {
    if (Module(*module, id).HasRow(r))
      Module(*module, id)[r][c] = value;
  };
  // A glacier-free cell of subbasin 2 with 1400 mm, next to glacier 6.
  for (const char *id : {"snowstorage_solid", "snow_storage_total"})
    set(id, 2, 4, 1400.0);
  // Snow on the glacier pack of a glacier cell becomes its top firn layer.
  for (const char *id : {"SolidSnowStorage_onGlacier", "TotalSnowStorage_onGlacier"})
    set(id, 1, 1, 80.0);
  module->ComputeTimeStep(0, 29, 9, 2012);
  EXPECT_FALSE(Logged("INFO: yearly update of the dynamic glaciers"));
  module->ComputeTimeStep(0, 30, 9, 2012);
  EXPECT_TRUE(Logged("INFO: yearly update of the dynamic glaciers on 30.9.2012"));
  if (catchment_.Owns(2, 4)) {
    EXPECT_EQ(Module(*module, "snow_storage_total")[2][4], 1000.0);
    // Its 2600 mm of mass balance let glacier 6 grow a little beyond 0.25.
    EXPECT_GT(Module(*module, "GlacierizedCells")[2][4], 0.25);
    EXPECT_LT(Module(*module, "GlacierizedCells")[2][4], 0.3);
    EXPECT_EQ(Module(*module, "GlacierCodes")[2][4], 6.0) << "joins its neighbour";
    EXPECT_EQ(module->FirnStack()[2][4][1], 2600.0);
    EXPECT_EQ(Module(*module, "firn_WE_stack")[2][4], 2600.0);
    EXPECT_EQ(Module(*module, "GlacierMassBalance")[2][4],
              Module(*module, "OldGlacierMassBalance")[2][4]);
  }
  if (catchment_.Owns(1, 1)) {
    EXPECT_EQ(module->FirnStack()[1][1][1], 80.0);
    EXPECT_EQ(module->FirnStack()[1][1][2], 50.0);
    EXPECT_EQ(module->FirnStack()[1][1][0], 80.0 + 3 * 50.0);
    EXPECT_EQ(Module(*module, "TotalSnowStorage_onGlacier")[1][1], 0.0);
  }
  // The new glacier cell counts in its subbasin from now on.
  const Grid &fraction = Module(*module, "GlacierizedCells");
  if (fraction.HasRow(1) && fraction.HasRow(3)) {
    EXPECT_DOUBLE_EQ(module->GlacierSubbasins()[2].Glacierized,
                     fraction[1][3] + fraction[1][4] + fraction[2][3] + fraction[2][4] +
                         fraction[3][3]);
  }
}

// --- Permafrost ------------------------------------------------------------------------

TEST_F(GlacierModuleTest, ThawDepthFollowsTheSnowFreeDays) {
  Grid &temperature = catchment_.AddInput("temperature", 5.0);
  Grid &night = catchment_.AddInput("temperature_night", 5.0);
  Grid &precipitation = catchment_.AddInput("precipitation", 0.0);
  catchment_.AddInput("albedo", 0.2);
  catchment_.AddInput("landuse1", 1.0);
  catchment_.AddInput("ThawCoeffPermaFrost", 0.1);
  Grid &depth = catchment_.AddInput("PermafrostThawDepth", 0.0);
  Grid &root = catchment_.AddInput("root_depth1", 0.25);
  SnowSectionText snow;
  test::WriteFixture(test::kSnowControl, snow.Text() + PermafrostText{}.Text());
  settings_ = catchment_.Settings(kEnd);
  settings_.MinToIntEnd = snow.minutes;
  int error = -1;
  schneemodellklasse module(error, settings_);
  ASSERT_EQ(error, 0);
  ASSERT_TRUE(module.HasPermafrost());
  module.SelectWaterInput(false);
  const bool owned = catchment_.Owns(2, 2);
  for (int day = 1; day <= 9; ++day) {
    root.Fill(0.25); // the land-use tables set the root depth of the day
    module.ComputeTimeStep(0, day, 7, 2012);
    if (owned) {
      EXPECT_NEAR(depth[2][2], 0.1 * std::sqrt(day), 1e-15) << day;
      EXPECT_EQ(root[2][2], std::min(0.25, 0.1 * std::sqrt(day)));
    }
  }
  // Snow: the cover days count, and after two days the ground refreezes.
  temperature.Fill(-5.0);
  night.Fill(-5.0);
  precipitation.Fill(30.0);
  module.ComputeTimeStep(0, 10, 7, 2012);
  if (owned) {
    EXPECT_NEAR(depth[2][2], 0.3, 1e-15) << "one snow day is not enough";
    EXPECT_EQ(Module(module, "SnowCoverDaysGrid")[2][2], 1.0);
  }
  module.ComputeTimeStep(0, 11, 7, 2012);
  if (owned) {
    EXPECT_EQ(depth[2][2], 0.0);
    EXPECT_EQ(Module(module, "SnowFreeDaysGrid")[2][2], 0.0);
    EXPECT_EQ(root[2][2], 0.0);
  }
  module.ReleaseMemory();
}

} // namespace
} // namespace tavro
