// The code checks of the staged set-up on the fixture catchment with a
// multilayer land use, a soil grid and an irrigation grid, under one and
// three processes: the renumbered grids on every process's cells, the
// land-use layer grids with a missing second layer, the renumbered layer
// codes on every process, a periodic re-read of "landuse" with new codes and
// the return of its initial values, and failures that end every process with their exit code.
#include "setup/setup_catchment.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace tavro {
namespace {

constexpr double N = -9999.0;

const auto &kZone = test::kCatchmentZone;

bool Valid(long r, long c) { return kZone[r - 1][c - 1] != N; }
bool Even(long r, long c) { return (r + c) % 2 == 0; }

// An ASCII grid of the catchment's raster with the value of every cell.
std::string GridText(const std::function<double(long, long)> &value) {
  std::string text = "ncols 6\nnrows 5\nxllcorner 3400000\nyllcorner 5200000\n"
                     "cellsize 1000\nnodata_value -9999\n";
  for (long r = 1; r <= 5; ++r) {
    for (long c = 1; c <= 6; ++c)
      text += std::to_string(value(r, c)) + " ";
    text += "\n";
  }
  return text;
}

// Multilayer types 100 (layers 30 and 10) and 200 (layer 10 and no second
// layer) alternate like a chess board; outside the zones stands 999, which
// is no code of the table and is neither checked nor replaced.
double LanduseCode(long r, long c, bool swapped) {
  if (!Valid(r, c))
    return 999;
  return Even(r, c) != swapped ? 100 : 200;
}

const std::string kMultilayer = "[multilayer_landuse]\n2 types\n"
                                "100 forest_grass { Landuse_Layers = 30, 10; }\n"
                                "200 grass { Landuse_Layers = 10, -9999; }\n\n";

void WriteCodeCatchment(const std::function<double(long, long)> &soil,
                        const std::string &multilayer = kMultilayer) {
  test::WriteFixture("landuse.asc",
                     GridText([](long r, long c) { return LanduseCode(r, c, false); }));
  test::WriteFixture("soil.asc", GridText(soil));
  test::WriteFixture("irrigation.asc", GridText([](long, long c) { return c == 1 ? 13.0 : 0.0; }));
  test::WriteCatchment(
      {{"4 number of standard grids", "6 number of standard grids"},
       {"albedo.asc       albedo       fillcode = 0 periodicity = 1 D 1 persistent = 0 2",
        "landuse.asc landuse fillcode = 0 periodicity = 1 D 1 persistent = 0 1"},
       // Land use needs an "albedo" grid: the made variable grid is one.
       {"vg_made.asc  vg_made", "vg_made.asc  albedo"},
       {"river_links  0\n",
        "river_links  0\nsoil.asc soil_types 0\nirrigation.asc irrigation_codes 0\n"},
       {"[landuse_table]\n0 land-use types\n", multilayer + "[landuse_table]\n2 land-use types\n" +
                                                   test::LanduseLine(10, "grass") +
                                                   test::LanduseLine(30, "forest")},
       {"[soil_table]\n0 soil types\n",
        "[soil_table]\n2 soil types\n"
        "5 loam 22 38 1e-5 250 1 0.43 0.078 3.6 1.56 5 0.3 40 0.5\n"
        "9 silt 22 38 1e-5 250 1 0.43 0.078 3.6 1.56 5 0.3 40 0.5\n"},
       {"[irrigation]\n0 no irrigation\n",
        "[irrigation]\n1 irrigation\n[irrigation_table]\n1 row\n13 suction 3 2 30.5 5.25\n"}});
}

double SoilCode(long r, long c) { return !Valid(r, c) ? 7 : c <= 3 ? 5 : 9; }

struct CodeRun : test::CatchmentSetup {
  // The land-use grid and its layers hold, for multilayer types placed as
  // LanduseCode(swapped) puts them: type 100 is record 1 with layers 30
  // (record 2) and 10 (record 1); type 200 is record 2 with layer 10 and
  // no second layer.
  void ExpectLanduseLayers(bool swapped) const {
    const Grid &landuse = GridOf("landuse");
    const Grid &layer1 = GridOf("landuse1");
    const Grid &layer2 = GridOf("landuse2");
    int checked = 0;
    ForOwnAndHaloCells([&](long r, long c) {
      const bool first = LanduseCode(r, c, swapped) == 100;
      EXPECT_EQ(landuse[r][c], first ? 1.0 : 2.0) << r << "/" << c;
      EXPECT_EQ(layer1[r][c], first ? 2.0 : 1.0) << r << "/" << c;
      EXPECT_EQ(layer2[r][c], first ? 1.0 : N) << r << "/" << c;
      ++checked;
    });
    EXPECT_GT(checked, 0);
  }
};

TEST(CodeChecks, RenumberTheCodeGridsAndBuildTheLanduseLayers) {
  WriteCodeCatchment(SoilCode);
  CodeRun run;
  const test::SetupOutcome outcome = run.Run();
  ASSERT_EQ(outcome.code, 0) << outcome.console;
  EXPECT_EQ(run.setup->LanduseLayerCount(), 2);
  ASSERT_EQ(run.setup->LanduseLayerGrids().size(), 3u);
  EXPECT_EQ(run.registry[run.setup->LanduseLayerGrids()[0]].Identifier, "landuse");
  EXPECT_EQ(run.registry[run.setup->LanduseLayerGrids()[2]].Identifier, "landuse2");
  run.ExpectLanduseLayers(false);

  // The layer codes are land-use record numbers on every process.
  const MultilayerLanduseTable &types = *run.setup->MultilayerLanduse();
  EXPECT_EQ(types[1].LayerCodes[1], 2);
  EXPECT_EQ(types[1].LayerCodes[2], 1);
  EXPECT_EQ(types[2].LayerCodes[1], 1);
  EXPECT_EQ(types[2].LayerCodes[2], -9999);

  const Grid &soil = run.GridOf("soil_types");
  const Grid &irrigation = run.GridOf("irrigation_codes");
  run.ForOwnAndHaloCells([&](long r, long c) {
    EXPECT_EQ(soil[r][c], c <= 3 ? 1.0 : 2.0) << r << "/" << c;
    EXPECT_EQ(irrigation[r][c], c == 1 ? 1.0 : 0.0) << r << "/" << c;
  });
  if (test::Rank() == 0) {
    EXPECT_EQ(soil[1][1], 7.0); // outside the zones: no code of the table, kept
    EXPECT_EQ(run.GridOf("landuse")[5][6], 999.0);
    const std::string xml = test::ReadWholeFile("Tavro_Diag_0.xml");
    const std::vector<std::string> order = {
        "1.: checking codes in land use grid",
        "2.:replacing codes in land use grid landuse.asc",
        "100 replaced by 1 ...",
        "200 replaced by 2 ...",
        "Code replacement in MultiLayer-Landuse 1: changed Layer-Code #2 from 10 to 1",
        "Code replacement in MultiLayer-Landuse 2: changed Layer-Code #1 from 10 to 1",
        "Code replacement in MultiLayer-Landuse 1: changed Layer-Code #1 from 30 to 2",
        "generateMultiLayerParameterGrids...",
        "...ok",
        "check_irrig_Codes...",
        "2.:replacing codes in irrigation grid irrigation.asc",
        "13 replaced by 1 ...",
        "...ok",
        "check_SOIL_Codes...",
        "1.: checking soil type codes",
        "2.:replacing soil type codes soil.asc",
        "5 replaced by 1 ...",
        "9 replaced by 2 ...",
        "...ok"};
    std::size_t at = 0;
    for (const std::string &text : order) {
      const std::size_t found = xml.find(text, at);
      ASSERT_NE(found, std::string::npos) << text << " missing or out of order";
      at = found;
    }
  }
}

TEST(CodeChecks, AReReadLanduseGridIsRenumberedAndItsLayersRebuilt) {
  WriteCodeCatchment(SoilCode);
  test::WriteFixture("landuse.asc_2001010200",
                     GridText([](long r, long c) { return LanduseCode(r, c, true); }));
  CodeRun run;
  ASSERT_EQ(run.Run().code, 0);
  run.setup->ReadPeriodicGrids(0, 2, 1, 2001);
  run.ExpectLanduseLayers(true);
  if (test::Rank() == 0) {
    EXPECT_EQ(run.GridOf("landuse")[1][1], 999.0);
  }
  // One step later the initial types return, as record numbers, and the
  // layers follow them.
  run.setup->ReadPeriodicGrids(1, 2, 1, 2001);
  run.ExpectLanduseLayers(false);
}

TEST(CodeChecks, AReReadCodeMissingFromTheTableEndsEveryProcess) {
  WriteCodeCatchment(SoilCode);
  test::WriteFixture("landuse.asc_2001010200", GridText([](long r, long c) {
                       return r == 5 && c == 4 ? 300.0 : LanduseCode(r, c, false);
                     }));
  CodeRun run;
  ASSERT_EQ(run.Run().code, 0);
  EXPECT_EQ(test::ExitCodeOf([&] { run.setup->ReadPeriodicGrids(0, 2, 1, 2001); }), 311);
  if (test::Rank() == 0) {
    EXPECT_NE(test::ReadWholeFile("Tavro_Diag_0.xml")
                  .find("land use 300 in grid landuse.asc (landuse);is not present in the "
                        "multilayer-landuse-table"),
              std::string::npos);
  }
}

TEST(CodeChecks, AFailedCheckEndsEveryProcessWithItsCode) {
  struct Case {
    const char *name;
    std::function<double(long, long)> soil;
    std::string multilayer; // replaces the multilayer section
    int code;
    const char *entry;
  };
  const Case cases[] = {
      {"soil code missing from the table",
       [](long r, long c) { return r == 5 && c == 4 ? 8.0 : SoilCode(r, c); }, kMultilayer, 32,
       "soil type 8 in grid soil.asc (soil_types);is not present in the control file"},
      {"first layer missing", SoilCode,
       "[multilayer_landuse]\n2 types\n100 a { Landuse_Layers = 30, 10; }\n"
       "200 b { Landuse_Layers = -9999, 10; }\n\n",
       312, "Here, line 2 contains -9999 as first layer code."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    WriteCodeCatchment(c.soil, c.multilayer);
    CodeRun run;
    const test::SetupOutcome outcome = run.Run();
    EXPECT_EQ(outcome.code, c.code);
    EXPECT_EQ(outcome.calls, c.code == 32 ? 17 : 14);
    if (test::Rank() == 0) {
      EXPECT_NE(test::ReadWholeFile("Tavro_Diag_0.xml").find(c.entry), std::string::npos);
    }
  }
}

} // namespace
} // namespace tavro
