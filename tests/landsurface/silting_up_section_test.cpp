// The "[SiltingUpModel]" section: the optional method line, the minimum rain
// pauses of eight zones from a list of zone codes, the formula block in its
// one-line and multi-line forms, and every refusal with its entry and code.
#include "landsurface/silting_up_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "landsurface/silting_up_fixture.h"
#include "support/diagnostics_entries.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tavro {
namespace {

constexpr const char *kControl = "control.txt_0.$$$";

// Two rows of eight cells, one zone per column (codes 1 to 8).
class SiltingUpSectionTest : public testing::Test {
protected:
  SiltingUpSectionTest() {
    grids_.FillSettings(settings_, registry_, kControl, landuse_, soils_, statistics_);
    landuse_[1] = test::SiltingUpLanduse(log_, 1, {100, 250}, 0.1);
    soils_[1] = test::SiltingUpSoil(1, 0.3, 0.5, 0.2);
  }

  // The module built from the rows; its construction must succeed.
  std::unique_ptr<siltingupclass> Make(const test::SiltingUpRows &rows) {
    test::WriteFixture(kControl, test::SiltingUpSection(1, 1440.0, rows));
    int error = -1;
    auto module = std::make_unique<siltingupclass>(error, settings_);
    EXPECT_EQ(error, 0);
    return module;
  }

  // The exit code of a construction that must fail, from the given text.
  int Failure(const std::string &text) {
    test::WriteFixture(kControl, text);
    int error = -1;
    const int thrown = test::ExitCodeOf([&] { siltingupclass module(error, settings_); });
    EXPECT_EQ(error, thrown);
    return thrown;
  }
  int Failure(const test::SiltingUpRows &rows) {
    return Failure(test::SiltingUpSection(1, 1440.0, rows));
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  GridRegistry registry_;
  StatisticsRegistry statistics_;
  test::SiltingUpGrids grids_{
      log_, registry_, {2, 8, 8, 1, 2}, [](long, long c) { return static_cast<double>(c); }};
  OneBasedArray<landuse_class> landuse_{1};
  OneBasedArray<soil_class> soils_{1};
  ModuleSettings settings_;
};

const char *const kZoneHelpStart = "\npossible error by using the same parameters\nfor groups of "
                                   "subbasins:\nat least the first AND the last subbasin code have";

TEST_F(SiltingUpSectionTest, MinimumRainPausesOfTheZones) {
  struct Case {
    const char *codes;
    const char *pauses;
    std::vector<double> expected; // zones 1..8
    std::vector<int> given;
  };
  const std::vector<Case> cases = {
      {"1 8", "2 5", {2, 2, 2, 2, 2, 2, 2, 5}, {1, -1, -1, -1, -1, -1, -1, 8}},
      // A list that begins after the first zone: its first value from zone 1 on.
      {"3 8", "2 5", {2, 2, 2, 2, 2, 2, 2, 5}, {1, -1, -1, -1, -1, -1, -1, 8}},
      {"2 8", "4 5", {4, 4, 4, 4, 4, 4, 4, 5}, {1, -1, -1, -1, -1, -1, -1, 8}},
      {"8", "7", {7, 7, 7, 7, 7, 7, 7, 7}, {1, -1, -1, -1, -1, -1, -1, -1}},
      {"1 3 8", "1 3 8", {1, 1, 3, 3, 3, 3, 3, 8}, {1, -1, 3, -1, -1, -1, -1, 8}},
      // Codes and values across lines.
      {"1\n4\n8",
       "1.5\n4 8 rest of line",
       {1.5, 1.5, 1.5, 4, 4, 4, 4, 8},
       {1, -1, -1, 4, -1, -1, -1, 8}},
      {"1 2 3 4 5 6 7 8", "1 2 3 4 5 6 7 8", {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 4, 5, 6, 7, 8}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.codes);
    auto module = Make(test::SiltingUpRows().Set(16, c.codes).Set(17, c.pauses));
    const SiltingUpSection &s = module->Section();
    for (std::size_t z = 1; z <= 8; ++z) {
      EXPECT_EQ(s.minimumPause[z], c.expected[z - 1]) << "zone " << z;
      EXPECT_EQ(s.givenCode[z], c.given[z - 1]) << "zone " << z;
    }
    // The item after the pauses is read from the next line.
    EXPECT_EQ(s.readStorage, 0);
    module->ReleaseMemory();
  }
}

TEST_F(SiltingUpSectionTest, ZoneCodeAndPauseErrorsEndWithCode10) {
  struct Case {
    const char *codes;
    const char *pauses;
    std::string entry;
  };
  const std::string head = "FATAL: \n-----------------error------------\n";
  const std::vector<Case> cases = {
      {"9 8", "1 2",
       head +
           "error! there is no code 9 (from control.txt_0.$$$) for a subbasin in SiltingUpModel"},
      {"0 8", "1 2",
       head +
           "error! there is no code 0 (from control.txt_0.$$$) for a subbasin in SiltingUpModel"},
      // A list that never reaches the largest code reads on until a code fails.
      {"1 5", "a b", head + "error reading code[5] for SiltingUpModel"},
      {"x", "1 2", head + "error reading code[1] for SiltingUpModel"},
      {"1 8", "2 x", head + "error reading RainPause[8] for SiltingUpModel (minimum rainpause)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.codes);
    EXPECT_EQ(Failure(test::SiltingUpRows().Set(16, c.codes).Set(17, c.pauses)), 10);
    EXPECT_TRUE(test::Logged(c.entry + kZoneHelpStart));
  }
  EXPECT_TRUE(test::Logged(
      "Then, to all subcatchments with zone-codes ranging from 1 to 7 the \nparameters of "
      "subbasin 1 will be assigned!"));
}

TEST_F(SiltingUpSectionTest, MethodLine) {
  // A statistics line in place of the method: method 1.
  auto module = Make(test::SiltingUpRows().Set(3, "stats.txt 1001").Set(4, "").Set(16, "1 8"));
  EXPECT_EQ(module->Method(), 1);
  EXPECT_EQ(module->Section().dispositionStatistics.name, "stats.txt");
  EXPECT_EQ(module->Section().dispositionStatistics.code, 1001);
  EXPECT_EQ(module->Section().runoffStatistics.name, "qdsu.stat");
  EXPECT_EQ(module->Section().grids[RunoffGrid].name, "qdsu.asc");
  module->ReleaseMemory();

  // Method 2 reads A to H; any other number acts as method 1 with the defaults.
  module =
      Make(test::SiltingUpRows().Set(16, "1 8").Method2({60, 10, 0.5, -0.6, 0.01, -1, 0.6, -0.2}));
  EXPECT_EQ(module->Method(), 2);
  EXPECT_EQ(module->Section().parameters.A, 60.0);
  EXPECT_EQ(module->Section().parameters.H, -0.2);
  module->ReleaseMemory();
  module = Make(test::SiltingUpRows().Set(3, "5 method").Set(16, "1 8").Set(19, "99 ignored"));
  EXPECT_EQ(module->Method(), 5);
  EXPECT_EQ(module->Section().parameters.A, 65.0);
  EXPECT_EQ(module->Section().parameters.B, 12.2);
  module->ReleaseMemory();

  // Neither a method nor a statistics line.
  EXPECT_EQ(Failure(test::SiltingUpRows().Set(3, "stats.txt").Set(4, "")), 17);
  EXPECT_TRUE(test::Logged("FATAL: error in control file, name of the statistics for silting "
                           "disposition SDISP ; SiltingUpModelnot found!"));
  // A parameter of method 2 that cannot be read.
  EXPECT_EQ(Failure(test::SiltingUpRows().Set(16, "1 8").Method2({60, 10, 0.5})), 17);
}

TEST_F(SiltingUpSectionTest, FormulaBlocks) {
  struct Case {
    std::string block;
    std::vector<std::string> expressions;
  };
  const std::vector<Case> cases = {
      // One line; the text after the last ";" is dropped.
      {"SiltingUpExpressions { Z = 1; W=2 ;V = 3 ; X=4 }", {"Z=1", "W=2", "V=3"}},
      {"SiltingUpExpressions{Z=1;}", {"Z=1"}},
      // Lines of the block; the keyword and "{" may stand apart, with blank lines.
      {"SiltingUpExpressions\n\n   \n{\n  Z = 2 * A;\n  V = Z\n  + 1;\n}", {"Z=2*A", "V=Z+1"}},
      {test::BuiltInFormulaBlock(),
       {"Z=0.013*(100*L)^(-1.03)*K^0.7*(O+(O<=0))^(-0.19)*(O>0)",
        "W=(P>0.05)*(P<76.2)*(11.89+8.73*LOG10(P+(P<=0.05)))+(P>=76.2)*28.33",
        "X=12.2*K^0.52*(100*L)^(-0.64)", "V=(X+(65-X)*EXP(-Z*Q))*R/60"}},
      // Other lines before the block are skipped; a block without ";" too.
      {"other text\nSiltingUpExpressions {nothing}\nSiltingUpExpressions {Z=1;}", {"Z=1"}},
      // Two ";" in a row: an empty formula.
      {"SiltingUpExpressions {Z=1;;}", {"Z=1", ""}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.block);
    auto module = Make(test::SiltingUpRows().Set(16, "1 8").Method3(c.block + "\n[next]"));
    EXPECT_EQ(module->Method(), 3);
    EXPECT_EQ(module->Section().expressions, c.expressions);
    module->ReleaseMemory();
  }
}

TEST_F(SiltingUpSectionTest, FormulaBlockRefusals) {
  const std::string file = "\"control.txt_0.$$$\"";
  const std::string none = "FATAL: no SiltingUpExpressios found (at least X, Y and Z must be "
                           "initialized) in control file " +
                           file;
  const std::string opening = "FATAL: error looking for opening bracket \"{\" after "
                              "\"SiltingUpExpressions\" in control file " +
                              file;
  const std::string closing = "FATAL: error looking for closing bracket \"}\" after "
                              "\"SiltingUpExpressions\" in control file " +
                              file;
  struct Case {
    std::string tail; // after item 18, the end of the file
    int code;
    std::string entry;
  };
  const std::vector<Case> cases = {
      // The keyword after a blank is not recognised: the search ends at the
      // end of the file or at an empty line.
      {" SiltingUpExpressions {Z=1;}\n", 402, none},
      {" SiltingUpExpressions {Z=1;}\n\nSiltingUpExpressions {Z=1;}\n", 402, none},
      // An empty line before the keyword.
      {"\nSiltingUpExpressions {Z=1;}\n", 402, none},
      {"", 402, none},
      {"SiltingUpExpressions {}\n", 402, none},
      {"SiltingUpExpressions\nZ=1;\n}\n", 400, opening},
      {"SiltingUpExpressions\n", 400, opening},
      {"SiltingUpExpressions {\nZ=1;\n", 401, closing},
      // The closing brace on the last line, without a line break.
      {"SiltingUpExpressions {\nZ=1;\n}", 401, closing},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.tail);
    const std::string text =
        test::SiltingUpSection(1, 1440.0, test::SiltingUpRows().Set(3, "3").Set(16, "1 8")) +
        c.tail;
    EXPECT_EQ(Failure(text), c.code);
    EXPECT_TRUE(test::Logged(c.entry));
  }
}

TEST_F(SiltingUpSectionTest, GlacierGridsEndTheConstructionBeforeTheMethod) {
  grids_.Add("GlacierCodes", [](long, long) { return 1.0; });
  // Nothing after the time interval could be read.
  EXPECT_EQ(Failure(test::SiltingUpRows().Set(3, "garbage").Set(4, "").Set(5, "")), 2);
  EXPECT_TRUE(test::Logged("FATAL: error: Silting-Up module cannot be used when glacier model is "
                           "active. Remove grids for glacier codes and glaciated cell fractions "
                           "from the grid list"));
}

TEST_F(SiltingUpSectionTest, MissingSectionAndGrids) {
  EXPECT_EQ(Failure("[other]\n1\n"), 17);
  EXPECT_TRUE(test::Logged("FATAL: error in control file, [SiltingUpModel]; (EOF)not found!"));
  registry_.ReleaseGrid(registry_.Find("SurfStorSiltingUp"));
  EXPECT_EQ(Failure(test::SiltingUpRows().Set(16, "1 8")), 33);
  EXPECT_NE(test::ReadWholeFile("Tavro_Diag_0.xml").find("SurfStorSiltingUp not found in memory"),
            std::string::npos);
}

TEST_F(SiltingUpSectionTest, OffReadsNothingMore) {
  test::WriteFixture(kControl,
                     test::SiltingUpSection(0, 1440.0, test::SiltingUpRows().Set(3, "x")));
  int error = -1;
  siltingupclass module(error, settings_);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(module.IsActive(), 0);
  EXPECT_FALSE(module.ControlFile().IsOpen());
  EXPECT_EQ(registry_.Find("SiltingUpDisposition"), 0);
  module.SelectWaterInput(true);
  EXPECT_FALSE(module.WaterInputFromInterception());
  module.ComputeTimeStep(0, 1, 1, 2011);
  module.ReleaseMemory();
}

} // namespace
} // namespace tavro
