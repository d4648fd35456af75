// Soil table reader: block entries with several horizons, defaults, thickness
// scaling, conductivity recession and grain-size checks; the old one-line
// format; the whole section with its layer-count check; every error with its
// exit code and entry.
#include "tables/soil_table_reader.h"

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::CallOutcome;
using test::RunCapturingConsole;

class SoilTableTest : public testing::Test {
protected:
  soil_class Block(const std::string &text) {
    soil_class soil(1);
    ReadSoilBlock(log_, text, soil);
    return soil;
  }

  soil_class OldFormat(const std::string &line) {
    soil_class soil(1);
    ReadSoilOldFormat(log_, line, soil);
    return soil;
  }

  SoilTable ReadFile(const std::string &content) {
    test::WriteFixture("control.txt", content);
    EXPECT_TRUE(reader_.Open("control.txt"));
    return ReadSoilTable(reader_, log_, 2);
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  ControlFileReader reader_{log_, "soil_table"};
};

bool Has(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

// Required keys of a block with two horizons of 2 and 3 layers.
std::string Loam(const std::string &extra = "", const std::string &layers = "2 3") {
  return "3 loam {\n method = MultipleHorizons;\n layers = " + layers +
         ";\n ksat = 1e-5;\n theta_sat = 0.45 0.40 0.99;\n theta_res = 0.05 0.04;\n"
         " alpha = 3.6\t2.0;\n Par_n = 1.56 1.3;\n thickness = 0.1 0.3;\n" +
         extra + "}\n";
}

TEST_F(SoilTableTest, BlockCopiesHorizonListsToLayersAndFillsDefaults) {
  const soil_class soil = Block(Loam());
  EXPECT_EQ(soil.Code, 3);
  EXPECT_EQ(soil.Name, "loam");
  EXPECT_EQ(soil.Method, 0);
  EXPECT_EQ(soil.HorizonCount, 2);
  EXPECT_EQ(soil.HorizonLayers, (std::vector<int>{5, 2, 3}));
  EXPECT_EQ(soil.LayerCount, 5);
  // One ksat for two horizons fills both; a third theta_sat has no effect.
  EXPECT_EQ(soil.ksat, std::vector<double>(6, 1e-5));
  EXPECT_EQ(soil.theta_sat, (std::vector<double>{0.45, 0.45, 0.45, 0.40, 0.40, 0.40}));
  EXPECT_EQ(soil.theta_res, (std::vector<double>{0.05, 0.05, 0.05, 0.04, 0.04, 0.04}));
  EXPECT_EQ(soil.alpha, (std::vector<double>{3.6, 3.6, 3.6, 2.0, 2.0, 2.0}));
  EXPECT_EQ(soil.thickness, (std::vector<double>{0.1, 0.1, 0.1, 0.3, 0.3, 0.3}));
  for (int j = 0; j <= 5; ++j) {
    EXPECT_DOUBLE_EQ(soil.Par_m[j], 1.0 - 1.0 / soil.Par_n[j]);
    EXPECT_EQ(soil.Par_tau[j], 0.5);
    EXPECT_EQ(soil.DryHeatCapacity[j], -1.0);
    EXPECT_EQ(soil.DryDensity[j], -1.0);
    EXPECT_EQ(soil.DryThermalConduct[j], -1.0);
    EXPECT_EQ(soil.k_recession[j], 1.0);
  }
  EXPECT_EQ(soil.EvapMaxDepth, 0.1);
  EXPECT_EQ(soil.ThicknessScaling, 1.0);
  EXPECT_DOUBLE_EQ(soil.TotalDepth, 1.1);
  EXPECT_EQ(soil.GrainSizeDist, (std::array<double, 7>{0.3333, 0.3333, 0.3334, 0, 0, 0, 0}));
  EXPECT_EQ(soil.SU_PAR, (std::array<double, 11>{}));
  EXPECT_EQ(soil.PMacroThresh, 1000.0 / 3600000.0);
  EXPECT_EQ(soil.MacroCapacity, 0.0);
  EXPECT_EQ(soil.CapacityRedu, 1.0);
  EXPECT_EQ(soil.MacroDepth, 1.0);
  EXPECT_EQ(soil.KMinFrozenSoil, -1.0);
  EXPECT_EQ(soil.LogKMinFrozenSoil, -20.0);
  EXPECT_EQ(soil.maxratio, 1000.0);
  EXPECT_EQ(soil.FCap, 25.0);
  EXPECT_EQ(soil.mSB, 35.0);
  EXPECT_DOUBLE_EQ(soil.mSBMinusFCap, 0.1);
  EXPECT_EQ(soil.ksat_topmodel, 1e-5);
  EXPECT_EQ(soil.suction, 300.0);
  EXPECT_EQ(soil.MaxInterflowDepth, 2.0);
  // The retention tables are built for every layer.
  EXPECT_EQ(soil.RetentionPoints, (std::array<int, 2>{30, 30}));
  EXPECT_EQ(soil.GetTheta(0, 0.0), 0.45);
  EXPECT_EQ(soil.GetTheta(4, 1000.0), 0.04);
  EXPECT_EQ(soil.GetSuction(5, 0.04), 150.0);
}

TEST_F(SoilTableTest, BlockReadsEveryKeyAsAWholeIdentifier) {
  const soil_class soil = Block(
      "4 sand_1 { method = MultipleHorizons; layers = 1, 1;\n"
      "ksat = 2e-5 1e-5; ksat_topmodel = 3e-6; theta_sat = 0.4; theta_res = 0.05;\n"
      "alpha = 2; Par_n = 2; Par_m = 0.4 0.3; Par_tau = 1.0 0.7; thickness = 0.2 0.4;\n"
      "EvapMaxDepth = 0.15; GrainSizeDist = 0.5 0.2 0.1 0.1 0.05 0.05 0;\n"
      "SU_PAR00 = 1; SU_PAR07 = 7.5; SU_PAR10 = 10; PMacroThresh = 7200; MacroCapacity = 36;\n"
      "CapacityRedu = 0.5; MacroDepth = 0.6; DryHeatCapacity = 800 900; DryDensity = 1500;\n"
      "DryThermalConduct = 2.5 1.5; KMinFrozenSoil = 1e-8; maxratio = 50; FCap = 20;\n"
      "mSB = 40; suction = 250; MaxInterflowDepth = 1.5; }");
  EXPECT_EQ(soil.ksat, (std::vector<double>{2e-5, 2e-5, 1e-5}));
  EXPECT_EQ(soil.ksat_topmodel, 3e-6);
  EXPECT_EQ(soil.Par_m, (std::vector<double>{0.4, 0.4, 0.3}));
  EXPECT_EQ(soil.Par_tau, (std::vector<double>{1.0, 1.0, 0.7}));
  EXPECT_EQ(soil.EvapMaxDepth, 0.15);
  EXPECT_EQ(soil.GrainSizeDist, (std::array<double, 7>{0.5, 0.2, 0.1, 0.1, 0.05, 0.05, 0}));
  EXPECT_EQ(soil.SU_PAR[0], 1.0);
  EXPECT_EQ(soil.SU_PAR[7], 7.5);
  EXPECT_EQ(soil.SU_PAR[10], 10.0);
  EXPECT_EQ(soil.SU_PAR[1], 0.0);
  EXPECT_DOUBLE_EQ(soil.PMacroThresh, 0.002);
  EXPECT_DOUBLE_EQ(soil.MacroCapacity, 1e-5);
  EXPECT_EQ(soil.CapacityRedu, 0.5);
  EXPECT_EQ(soil.MacroDepth, 0.6);
  EXPECT_EQ(soil.DryHeatCapacity, (std::vector<double>{800, 800, 900}));
  EXPECT_EQ(soil.DryDensity, (std::vector<double>{1500, 1500, 1500}));
  EXPECT_EQ(soil.DryThermalConduct, (std::vector<double>{2.5, 2.5, 1.5}));
  EXPECT_EQ(soil.KMinFrozenSoil, 1e-8);
  EXPECT_DOUBLE_EQ(soil.LogKMinFrozenSoil, std::log(1e-8));
  EXPECT_EQ(soil.maxratio, 50.0);
  EXPECT_DOUBLE_EQ(soil.mSBMinusFCap, 0.2);
  EXPECT_EQ(soil.suction, 250.0);
  EXPECT_EQ(soil.MaxInterflowDepth, 1.5);

  // A given KMinFrozenSoil that is not positive has the documented logarithm.
  EXPECT_EQ(Block(Loam("KMinFrozenSoil = 0;")).LogKMinFrozenSoil, -27.631);
}

TEST_F(SoilTableTest, ThicknessScalingLeavesEvapMaxDepthAndLogsOnlyARealFactor) {
  const CallOutcome scaled = RunCapturingConsole([&] {
    const soil_class soil = Block(Loam("ThicknessScaling = 2;"));
    EXPECT_EQ(soil.thickness, (std::vector<double>{0.2, 0.2, 0.2, 0.6, 0.6, 0.6}));
    EXPECT_DOUBLE_EQ(soil.TotalDepth, 2.2);
    EXPECT_EQ(soil.EvapMaxDepth, 0.1); // the unscaled top layer
    EXPECT_EQ(Block(Loam("ThicknessScaling = 2; EvapMaxDepth = 0.3;")).EvapMaxDepth, 0.3);
  });
  EXPECT_EQ(scaled.code, -1);
  EXPECT_TRUE(Has(scaled.console, "Soil layers for landuse 3 will be scaled by a factor of 2"))
      << scaled.console;

  const CallOutcome unscaled = RunCapturingConsole([&] { Block(Loam("ThicknessScaling = 1;")); });
  EXPECT_FALSE(Has(unscaled.console, "will be scaled")) << unscaled.console;
}

TEST_F(SoilTableTest, ConductivityFallsWithinEachHorizonDownToTheInterflowDepth) {
  // Horizons of 2 x 0.5 m and 3 x 1 m. Layer centres below the horizon top:
  // 0.25, 0.75 | 0.5, 1.5, 2.5; below the surface: 0.25, 0.75, 1.5, 2.5, 3.5.
  const std::string lists = "k_recession = 0.5 0.8; thickness = 0.5 1.0;";
  const auto recessed = [&](const std::string &extra) {
    std::string text = Loam(extra + lists);
    const auto at = text.find("thickness = 0.1 0.3;");
    text.erase(at, std::string("thickness = 0.1 0.3;").size());
    return Block(text).ksat;
  };
  const double k = 1e-5;
  const std::vector<double> standard = recessed("");
  EXPECT_DOUBLE_EQ(standard[1], k * std::pow(0.5, 0.25));
  EXPECT_DOUBLE_EQ(standard[2], k * std::pow(0.5, 0.75));
  EXPECT_DOUBLE_EQ(standard[3], k * std::pow(0.8, 0.5));
  EXPECT_EQ(standard[4], k); // centre 2.5 m below the surface: beyond 2 m
  EXPECT_EQ(standard[5], k);

  const std::vector<double> deeper = recessed("MaxInterflowDepth = 3;");
  EXPECT_DOUBLE_EQ(deeper[4], k * std::pow(0.8, 1.5));
  EXPECT_EQ(deeper[5], k);

  // Without k_recession every factor is 1.
  EXPECT_EQ(Block(Loam()).ksat, std::vector<double>(6, k));
}

TEST_F(SoilTableTest, GrainSizeChecks) {
  // Within the tolerance of 1e-4 around 1.
  EXPECT_EQ(Block(Loam("GrainSizeDist = 0.50005 0.3 0.2 0 0 0 0;")).GrainSizeDist[0], 0.50005);

  struct Case {
    std::string values, entry;
  };
  const Case cases[] = {
      {"0.5002 0.3 0.2 0 0 0 0",
       "Grainsize distribution: sum of all fractions (sand, silt, clay, stones1..4) must be "
       "1.0\n soil type: 3\n{"},
      {"0 0.5 0.5 0 0 0 0",
       "Grainsize distribution: fraction of sand must be > 0 \nsoil type: 3\n{"},
      {"0.6 0.5 -0.1 0 0 0 0",
       "Grainsize distribution: all grain size fractions must be >= 0 (sand must be >0)\nsoil "
       "type: 3\n{"},
      {"0.5 0.3 0.2 0 0 0", "Soil table code 3: some values could not be read\n{"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.values);
    const CallOutcome out =
        RunCapturingConsole([&] { Block(Loam("GrainSizeDist = " + c.values + ";")); });
    EXPECT_EQ(out.code, 29);
    EXPECT_TRUE(Has(out.console, c.entry)) << out.console;
    EXPECT_TRUE(Has(out.console, "Soil table code 3: some values could not be read\n{"))
        << out.console;
  }
}

TEST_F(SoilTableTest, BlockErrors) {
  struct Case {
    std::string name, text, entry;
  };
  const std::string unread = "Soil table code 3: some values could not be read\n{";
  std::string noThickness = Loam();
  noThickness.erase(noThickness.find(" thickness"), std::string(" thickness = 0.1 0.3;").size());
  const Case cases[] = {
      {"no method", "3 loam { layers = 1; }", "soil table definition method unknown 3 loam {"},
      {"no brace", "3 loam MultipleHorizons",
       "Soil table code 1: some values could not be read\n3 loam"},
      {"no code", "loam { MultipleHorizons }", "Soil table code 1: some values could not be read"},
      {"missing required key", noThickness, unread},
      {"unreadable number", Loam("Par_tau = 0.5 x;"), unread},
      {"unreadable scalar", Loam("suction = 3O0;"), unread},
      {"two numbers for a scalar", Loam("FCap = 20 30;"), unread},
      {"empty list", Loam("DryDensity = ;"), unread},
      {"no horizon", Loam("", " ; "), unread},
      {"horizon without layers", Loam("", "2 0"), unread},
      {"theta_sat not above theta_res", Loam("theta_res = 0.05 0.4;"),
       "Soil table code 3 (loam), layer 3: theta_sat (0.4) must be greater than theta_res (0.4)"},
      {"n not above 1", Loam("Par_n = 1.5 1;"),
       "Soil table code 3 (loam), layer 3: Par_n (1) must be greater than 1"},
      {"alpha not above 0", Loam("alpha = 0;"),
       "Soil table code 3 (loam), layer 1: alpha (0) must be greater than 0"},
      {"negative scaling", Loam("ThicknessScaling = -1;"),
       "Soil table code 3 (loam), layer 1: thickness (-0.1) must be greater than 0"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const CallOutcome out = RunCapturingConsole([&] { Block(c.text); });
    EXPECT_EQ(out.code, 29);
    EXPECT_TRUE(Has(out.console, c.entry)) << out.console;
  }
}

TEST_F(SoilTableTest, OldFormatLayoutConductivityAndDefaults) {
  // code name FCap mSB ksat_topmodel suction method theta_sat theta_res alpha n
  // layers d maxratio k_reduction
  const soil_class soil = OldFormat("12 silt 22 38 1e-5 250 1 0.43 0.078 3.6 1.56 10 0.3 40 0.5\n");
  EXPECT_EQ(soil.Code, 12);
  EXPECT_EQ(soil.Name, "silt");
  EXPECT_EQ(soil.Method, 1);
  EXPECT_EQ(soil.LayerCount, 10);
  EXPECT_DOUBLE_EQ(soil.mSBMinusFCap, 0.16);
  EXPECT_EQ(soil.maxratio, 40.0);
  EXPECT_EQ(soil.k_reduction, 0.5);
  EXPECT_EQ(soil.thickness[0], 0.3);
  EXPECT_EQ(soil.thickness[1], 0.05);
  EXPECT_DOUBLE_EQ(soil.thickness[2], 0.25);
  for (int i = 3; i <= 10; ++i)
    EXPECT_EQ(soil.thickness[i], 0.3);
  EXPECT_DOUBLE_EQ(soil.TotalDepth, 2.7);
  // Centres at 0.025, d / 2, then (i - 1.5) d; constant below 2 m.
  const double k0 = 1e-5;
  const double expected[] = {0.025, 0.15, 0.45, 0.75, 1.05, 1.35, 1.65, 1.95};
  for (int i = 1; i <= 8; ++i)
    EXPECT_DOUBLE_EQ(soil.ksat[i], k0 * std::pow(0.5, expected[i - 1])) << i;
  EXPECT_EQ(soil.ksat[9], soil.ksat[8]);
  EXPECT_EQ(soil.ksat[10], soil.ksat[8]);
  for (int j = 0; j <= 10; ++j) {
    EXPECT_EQ(soil.theta_sat[j], 0.43);
    EXPECT_DOUBLE_EQ(soil.Par_m[j], 1.0 - 1.0 / 1.56);
    EXPECT_EQ(soil.Par_tau[j], 0.5);
    // The block defaults for what the line does not carry.
    EXPECT_EQ(soil.k_recession[j], 1.0);
    EXPECT_EQ(soil.DryDensity[j], -1.0);
    EXPECT_EQ(soil.DryHeatCapacity[j], -1.0);
    EXPECT_EQ(soil.DryThermalConduct[j], -1.0);
  }
  EXPECT_EQ(soil.MaxInterflowDepth, 2.0);
  EXPECT_EQ(soil.ThicknessScaling, 1.0);
  EXPECT_EQ(soil.SU_PAR, (std::array<double, 11>{}));
  // The one-line format keeps its own construction values, not the block defaults.
  EXPECT_EQ(soil.EvapMaxDepth, 0.1);
  EXPECT_EQ(soil.MacroDepth, 0.0);
  EXPECT_EQ(soil.PMacroThresh, 1.0);
  EXPECT_EQ(soil.RetentionPoints, (std::array<int, 2>{30, 30}));
  EXPECT_EQ(soil.GetTheta(10, 200.0), 0.078);

  // The thinnest allowed layers: twice the top layer.
  const soil_class thin = OldFormat("1 a 25 35 1e-5 300 1 0.43 0.078 3.6 1.56 4 0.1 1000 1");
  EXPECT_EQ(thin.thickness, (std::vector<double>{0.1, 0.05, 0.05, 0.1, 0.1}));
}

TEST_F(SoilTableTest, OldFormatErrors) {
  const std::string head = "7 clay 25 35 1e-5 300 ";
  struct Case {
    std::string name, line, detail;
    int code;
  };
  const Case cases[] = {
      {"too thin", head + "1 0.43 0.078 3.6 1.56 4 0.09 1000 1",
       "\nerror soil type 7:\nthickness of single layers (here 0.09 m)\nhas to be at minimum "
       "twice as thick as the\nthickness of the top layer (here 0.05 m)",
       30},
      {"method 2", head + "2 0.43 0.078 3.6 1.56 4 0.3 1000 1",
       "error reading soil parameters for soil type 7: only old method 1 (van-Genuchten "
       "Parameter) is supported in Tavro newer than 6.4.\nUse the new soil type table format "
       "instead.",
       30},
      {"one layer", head + "1 0.43 0.078 3.6 1.56 1 0.3 1000 1",
       "the old soil table format needs between 2 and 1000 layers (here 1)", 30},
      {"thickness", head + "1 0.43 0.078 3.6 1.56 4 thick 1000 1",
       "error reading layer thickness for soiltype 7", 30},
      {"maxratio", head + "1 0.43 0.078 3.6 1.56 4 0.3 x 1",
       "error reading maxratio for soil type 7", 30},
      {"k reduction", head + "1 0.43 0.078 3.6 1.56 4 0.3 1000",
       "error reading k reduction for soil type 7", 30},
      {"other value", head + "1 0.43 0.078 3.6a 1.56 4 0.3 1000 1", "", 30},
      {"empty line", "\n", "", 30},
      {"n not above 1", head + "1 0.43 0.078 3.6 0.9 4 0.3 1000 1",
       "Soil table code 7 (clay), layer 1: Par_n (0.9) must be greater than 1", 29},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const CallOutcome out = RunCapturingConsole([&] { OldFormat(c.line); });
    EXPECT_EQ(out.code, c.code);
    EXPECT_TRUE(Has(out.console, c.detail)) << out.console;
    if (c.code == 30) {
      const std::string code = c.name == "empty line" ? "1" : "7";
      EXPECT_TRUE(Has(out.console,
                      "soil table code " + code + ": some values could not be read\n" + c.line))
          << out.console;
    }
  }
}

TEST_F(SoilTableTest, SectionWithBlocksAndOldLines) {
  const std::string loam = Loam();
  const SoilTable table =
      ReadFile("[landuse_table]\n1\n"
               "[soil_table]\n3 number of soil types\n" +
               loam +
               "8 silt 22 38 1e-5 250 1 0.43 0.078 3.6 1.56 5 0.3 40 0.5\n"
               "9 clay method = MultipleHorizons\n{\nlayers = 5;\nksat = 1e-6;\ntheta_sat = 0.5;\n"
               "theta_res = 0.1;\nalpha = 0.8;\nPar_n = 1.09;\nthickness = 0.2;\n}\n"
               "garbage after the section\n");
  ASSERT_EQ(table.Count(), 3u);
  EXPECT_EQ(table[0].Code, 3);
  EXPECT_EQ(table[1].Code, 3);
  EXPECT_EQ(table[1].Name, "loam");
  EXPECT_EQ(table[2].Code, 8);
  EXPECT_EQ(table[2].Method, 1);
  EXPECT_EQ(table[3].Code, 9);
  EXPECT_EQ(table[3].Name, "clay");
  EXPECT_EQ(table[3].theta_sat[5], 0.5);
  for (const soil_class &soil : table)
    EXPECT_EQ(soil.LayerCount, 5);
}

TEST_F(SoilTableTest, EmptyTableReadsNothingMore) {
  const SoilTable table = ReadFile("[soil_table]\n0\nthis is not a soil type\n");
  EXPECT_EQ(table.Count(), 0u);
  EXPECT_EQ(table[0].Code, 0);
}

TEST_F(SoilTableTest, SectionErrors) {
  struct Case {
    std::string name, content, entry;
    int code;
  };
  const Case cases[] = {
      {"layer counts differ",
       "[soil_table]\n2\n" + Loam() + "8 silt 22 38 1e-5 250 1 0.43 0.078 3.6 1.56 4 0.3 40 0.5\n",
       "the numbers of soil layers has to be equal for all soil types\n(here: soil type 8: 4 "
       "layers, but soil type 3: 5 layers)\n\n",
       30},
      {"end of file before the last entry", "[soil_table]\n2\n" + Loam(),
       "soil table code 2: some values could not be read\n(end of control file control.txt after "
       "1 of 2 soil types)",
       30},
      {"unclosed block", "[soil_table]\n1\n3 loam {\nmethod = MultipleHorizons;\nlayers = 2;\n",
       "Soil table code 1: some values could not be read\n3 loam {\nmethod = MultipleHorizons;\n",
       29},
      {"overlong line",
       "[soil_table]\n1\n1 a 25 35 1e-5 300 1 0.43 0.078 3.6 1.56 4 0.3 1000 1" +
           std::string(1300, ' ') + "\n",
       "line longer than 1200 characters in section [soil_table]", 17},
      {"no section", "[landuse_table]\n1\n", "[soil_table]", 17},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const CallOutcome out = RunCapturingConsole([&] { ReadFile(c.content); });
    EXPECT_EQ(out.code, c.code);
    EXPECT_TRUE(Has(out.console, c.entry)) << out.console;
  }
}

} // namespace
} // namespace tavro
