// The "[landuse_table]" section: block keys with their defaults, switch masks
// and cultivation words, old one-line entries, the header record, and the
// messages of unreadable entries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "support/test_support.h"
#include "tables/landuse_table_reader.h"

namespace tavro {
namespace {

OneBasedArray<landuse_class> ReadSection(DiagnosticsLog &log, const std::string &content,
                                         int variant = 2) {
  test::WriteFixture("control.txt", content);
  ControlFileReader reader(log, "landuse table");
  EXPECT_TRUE(reader.Open("control.txt"));
  return ReadLanduseTable(reader, log, variant);
}

// Reads a section under a fresh log and returns its exit code (-1 when it
// was read) and console text.
test::CallOutcome TryRead(const std::string &content, int variant = 2) {
  return test::RunCapturingConsole([&] {
    DiagnosticsLog log("", 4);
    ReadSection(log, content, variant);
  });
}

bool Contains(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

// The keys every block needs, for four fix points.
const std::string kRequired = "  RootDist = 1.5; TReduWet = 0.9; HReduDry = 3.45;\n"
                              "  JulDays = 1 100 200 366;\n"
                              "  Albedo = 0.2 0.2 0.25 0.2;\n"
                              "  rsc = 80 70 60 80;\n"
                              "  LAI = 1 2 3 1;\n"
                              "  Z0 = 0.1 0.2 0.3 0.1;\n"
                              "  VCF = 0.5 0.6 0.9 0.5;\n"
                              "  RootDepth = 0.2 0.3 0.5 0.2;\n"
                              "  AltDep = 0 0.01 -0.01 0;\n";

std::string Section(int count, const std::string &entries) {
  return "[other_section]\n1\n[landuse_table] land use\n" + std::to_string(count) +
         " number of entries\n" + entries + "[soil_table]\n0\n";
}

std::string Block(const std::string &head, const std::string &keys) {
  return head + "\n" + keys + "}\n";
}

const std::string kGrassHead = "12 grassland { method = VariableDayCount;";

// Twelve monthly rsc values (Jan 110 ... Dec 220), Julian days 120, 150, 250,
// 300, LAI, Z0, VCF, RootDepth, RootDist and HReduDry.
const std::string kOldLine = "3 forest 0.15 110 120 130 140 150 160 170 180 190 200 210 220 "
                             "120 150 250 300 1 2 3 4 0.5 0.6 0.7 0.8 0.1 0.2 0.3 0.4 "
                             "0.3 0.4 0.5 0.6 2.5 4.5 trailing words\n";

class LanduseTableReader : public testing::Test {
protected:
  DiagnosticsLog log_{"", 4};
};

TEST_F(LanduseTableReader, BlockSpreadOverManyLinesReadsEveryKey) {
  const std::string keys = kRequired +
                           "  useInternalParameters = 11011111;\n"
                           "  LimitReduWet = 0.7;\n"
                           "  StartVegetationPeriodForBalance = 2;\n"
                           "  StopVegetationPeriodForBalance = 3;\n"
                           "  JDVegetationResetForBalance = 10;\n"
                           "  JDVegetationWriteForBalance = 300;\n"
                           "  IntercepCap = 0.35;\n"
                           "  StressFactorDynPhen = 0.5;\n"
                           "  rs_interception = 30 31\n  32 33;\n"
                           "  rs_evaporation = 250, 260, 270, 280;\n"
                           "  SoilTillage = 100 250;\n"
                           "  SR_cultivation = nonconserving;\n"
                           "  SR_CropDistX = 0.5; SR_CropDistY = 0.6; SR_K_ST = 8; SR_C_WR = 2;\n"
                           "  SR_rough_coeff1 = 0.1 0.2 0.3;\n"
                           "  SR_StemDiameter = 0.02 0.03 0.04 0.05;\n"
                           "  SR_ResidCovrg = 0.1 0.2 0.3 0.4;\n"
                           "  n-factor = 0.9 0.8 0.7 0.6;\n"
                           "  nf_freezing = 0.95; nf_thawing = 1.1;\n"
                           "  DP2_Par_a = not read for this method;\n";
  const auto table = ReadSection(log_, Section(1, Block(kGrassHead, keys)));
  ASSERT_EQ(table.Count(), 1u);
  const landuse_class &r = table[1];
  const LanduseParameters &p = r.Parameters();
  EXPECT_EQ(r.GetCode(), 12);
  EXPECT_EQ(r.GetName(), "grassland");
  EXPECT_EQ(r.GetMethod(), landuse::VariableDayCount);
  EXPECT_EQ(r.GetFixPointCount(), 4);
  EXPECT_EQ(p.JulDays, (std::vector<int>{0, 1, 100, 200, 366}));
  EXPECT_EQ(p.AltDep, (std::vector<double>{0, 0, 0.01, -0.01, 0}));
  EXPECT_EQ(p.LAI, (std::vector<double>{1, 1, 2, 3, 1}));
  EXPECT_EQ(p.rs_interception, (std::vector<double>{33, 30, 31, 32, 33}));
  EXPECT_EQ(p.rs_evaporation, (std::vector<double>{280, 250, 260, 270, 280}));
  EXPECT_DOUBLE_EQ(r.GetRootDist(), 1.5);
  EXPECT_DOUBLE_EQ(r.GetTReduWet(), 0.9);
  EXPECT_DOUBLE_EQ(r.GetHReduDry(), 3.45);
  EXPECT_DOUBLE_EQ(r.GetLimitReduWet(), 0.7);
  EXPECT_EQ(r.GetInternalParameterMask(), 223);
  EXPECT_EQ(r.GetStartVegetationPeriodForBalance(), 2);
  EXPECT_EQ(r.GetStopVegetationPeriodForBalance(), 3);
  EXPECT_DOUBLE_EQ(r.GetIntercepCap(), 0.35);
  EXPECT_DOUBLE_EQ(r.GetStressFactorDynPhen(), 0.5);
  EXPECT_EQ(r.GetSoilTillageCount(), 2);
  EXPECT_EQ(std::vector<int>(r.GetSoilTillage().begin(), r.GetSoilTillage().end()),
            (std::vector<int>{250 - 366, 100, 250}));
  EXPECT_EQ(r.GetSRCultivation(), 2);
  EXPECT_DOUBLE_EQ(r.GetSRCropDistX(), 0.5);
  EXPECT_DOUBLE_EQ(r.GetSRCropDistY(), 0.6);
  EXPECT_DOUBLE_EQ(r.GetSRKST(), 8.0);
  EXPECT_DOUBLE_EQ(r.GetSRCWR(), 2.0);
  EXPECT_EQ(p.SR_rough_coeff1, (std::array<double, 4>{0.3, 0.1, 0.2, 0.3}));
  EXPECT_EQ(p.SR_rough_coeff2, (std::array<double, 4>{0, 0.0198, 0.712, 0.142}));
  EXPECT_EQ(p.SR_StemDiameter, (std::vector<double>{0.05, 0.02, 0.03, 0.04, 0.05}));
  EXPECT_EQ(p.SR_ResidCovrg, (std::vector<double>{0.4, 0.1, 0.2, 0.3, 0.4}));
  EXPECT_EQ(p.NFactor, (std::vector<double>{0.6, 0.9, 0.8, 0.7, 0.6}));
  EXPECT_DOUBLE_EQ(r.GetNFactorFreezing(), 0.95);
  EXPECT_DOUBLE_EQ(r.GetNFactorThawing(), 1.1);
  EXPECT_EQ(p.DP2_Par_a, 0.0);
  EXPECT_EQ(r.GetDynamicStartDay(), -1);
  // The header holds the count and the table's balance days.
  EXPECT_EQ(table[0].GetCode(), 1);
  EXPECT_EQ(table[0].GetJDVegetationResetForBalance(), 10);
  EXPECT_EQ(table[0].GetJDVegetationWriteForBalance(), 300);
}

TEST_F(LanduseTableReader, OmittedKeysTakeTheirDefaults) {
  const auto table = ReadSection(log_, Section(1, Block(kGrassHead, kRequired)));
  const landuse_class &r = table[1];
  const LanduseParameters &p = r.Parameters();
  EXPECT_EQ(r.GetUseInternalParameters(), "11111111");
  EXPECT_EQ(r.GetInternalParameterMask(), 255);
  EXPECT_EQ(r.GetLimitReduWet(), 0.0);
  EXPECT_EQ(r.GetStartVegetationPeriodForBalance(), 0);
  EXPECT_EQ(r.GetStopVegetationPeriodForBalance(), 0);
  EXPECT_EQ(r.GetJDVegetationResetForBalance(), -1);
  EXPECT_EQ(r.GetJDVegetationWriteForBalance(), -1);
  EXPECT_EQ(r.GetIntercepCap(), -1.0);
  EXPECT_EQ(r.GetStressFactorDynPhen(), 0.0);
  EXPECT_EQ(p.rs_interception, std::vector<double>(5, 20.0));
  EXPECT_EQ(p.rs_evaporation, std::vector<double>(5, 200.0));
  EXPECT_EQ(r.GetSoilTillageCount(), 0);
  EXPECT_EQ(std::vector<int>(r.GetSoilTillage().begin(), r.GetSoilTillage().end()),
            std::vector<int>{-9999});
  EXPECT_EQ(r.GetSRCultivation(), 3);
  EXPECT_EQ(r.GetSRCropDistX(), 0.3);
  EXPECT_EQ(r.GetSRCropDistY(), 0.3);
  EXPECT_EQ(r.GetSRKST(), 10.0);
  EXPECT_EQ(r.GetSRCWR(), 1.5);
  double a = 0, b = 0, c = 0;
  r.GetSRRoughCoeff1(a, b, c);
  EXPECT_EQ((std::vector<double>{a, b, c}), (std::vector<double>{0.0198, 0.712, 0.142}));
  EXPECT_EQ(p.SR_StemDiameter, std::vector<double>(5, 0.01));
  EXPECT_EQ(p.SR_ResidCovrg, std::vector<double>(5, 0.01));
  EXPECT_EQ(p.NFactor, std::vector<double>(5, -1.0));
  EXPECT_EQ(r.GetNFactorFreezing(), -1.0);
  EXPECT_EQ(r.GetNFactorThawing(), -1.0);
  // No entry gives balance days: the header takes 1 and 365.
  EXPECT_EQ(table[0].GetJDVegetationResetForBalance(), 1);
  EXPECT_EQ(table[0].GetJDVegetationWriteForBalance(), 365);
}

TEST_F(LanduseTableReader, SwitchMasks) {
  const std::pair<std::string, std::pair<std::string, int>> cases[] = {
      {"11011111", {"11011111", 223}},
      {"x1", {"1", 128}},
      {"1 1 1", {"1 1 1", 128 | 32 | 8}},
      {"00000001", {"00000001", 1}},
  };
  for (const auto &[value, expected] : cases) {
    DiagnosticsLog log("", 4);
    const auto table = ReadSection(
        log, Section(1, Block(kGrassHead, kRequired + " useInternalParameters = " + value + ";")));
    EXPECT_EQ(table[1].GetUseInternalParameters(), expected.first) << value;
    EXPECT_EQ(table[1].GetInternalParameterMask(), expected.second) << value;
    EXPECT_EQ(table[1].UsesInternalParameter(16), expected.second & 16) << value;
  }
}

TEST_F(LanduseTableReader, CultivationWords) {
  const std::pair<std::string, int> cases[] = {
      {"SR_cultivation = nonconserving;", 2},
      {"SR_cultivation = conserving;", 1},
      {"SR_cultivation = other;", 3},
      {"", 3},
  };
  for (const auto &[pair, expected] : cases) {
    DiagnosticsLog log("", 4);
    const auto table = ReadSection(log, Section(1, Block(kGrassHead, kRequired + pair)));
    EXPECT_EQ(table[1].GetSRCultivation(), expected) << pair;
  }
}

TEST_F(LanduseTableReader, FirstOccurrenceOfAKeyCounts) {
  const auto table =
      ReadSection(log_, Section(1, Block(kGrassHead, "  IntercepCap = 0.4;\n" + kRequired +
                                                         "  IntercepCap = 0.9;\n")));
  EXPECT_DOUBLE_EQ(table[1].GetIntercepCap(), 0.4);
}

TEST_F(LanduseTableReader, OneLineBlockAndDynamicPhenologyKeys) {
  std::string oneLine = kRequired;
  for (char &c : oneLine)
    if (c == '\n')
      c = ' ';
  const std::string dp1 = "5 beech { method = DynamicPhenology_1; F* = 150; DP1_t1_dorm = 60; "
                          "DP1_T_Bf = 5.5; JDReset_TStart = 300; maxStartJDforDP1 = 160; " +
                          oneLine + "}\n";
  // JulDays with TStart at fix point 2 for the second entry.
  std::string dp2Keys = kRequired;
  dp2Keys.replace(dp2Keys.find("1 100 200 366"), 13, "50 -1 30 300");
  const std::string dp2 = Block("6 oak { method = DynamicPhenology_2;",
                                dp2Keys + " F* = 100; DP1_t1_dorm = 1; DP1_T_Bf = 0;"
                                          " JDReset_TStart = 300; maxStartJDforDP1 = 150;"
                                          " DP2_t0_dorm = 270; DP2_t1_dorm = 20; DP2_T_Bf = 4;"
                                          " DP2_T_Bc = 3; DP2_Par_a = 400; DP2_Par_b = -0.01;"
                                          " DP2_Offset_2 = 11;");
  testing::internal::CaptureStdout();
  OneBasedArray<landuse_class> table;
  {
    DiagnosticsLog log("", 4);
    table = ReadSection(log, Section(2, dp1 + dp2));
  }
  const std::string console = testing::internal::GetCapturedStdout();
  ASSERT_EQ(table.Count(), 2u);
  const LanduseParameters &p1 = table[1].Parameters();
  EXPECT_EQ(table[1].GetMethod(), landuse::DynamicPhenology1);
  EXPECT_EQ(p1.FStar, 150.0);
  EXPECT_EQ(p1.DP1_t1_dorm, 60);
  EXPECT_EQ(p1.DP1_T_Bf, 5.5);
  EXPECT_EQ(p1.JDReset_TStart, 300);
  EXPECT_EQ(p1.maxStartJDforDP1, 160);
  EXPECT_EQ(table[1].GetTStartIndex(), -1); // no negative day
  const LanduseParameters &p2 = table[2].Parameters();
  EXPECT_EQ(table[2].GetTStartIndex(), 2);
  EXPECT_EQ(p2.DP2_t0_dorm, 270);
  EXPECT_EQ(p2.DP2_Par_b, -0.01);
  EXPECT_EQ(p2.DP2_Offset_1, -3.4);
  EXPECT_EQ(p2.DP2_Offset_2, 11.0);
  EXPECT_TRUE(Contains(console, "parameter \"DP2_Offset_1\" not found for land use 6; Using "
                                "default of -3.4"))
      << console;
  EXPECT_FALSE(Contains(console, "DP2_Offset_2\" not found"));
}

TEST_F(LanduseTableReader, LongFixPointListIsReadWhole) {
  // 300 fix points on lines far longer than 1200 characters.
  std::string days, values, zeros;
  for (int i = 1; i <= 300; ++i) {
    const std::string day = std::to_string(i);
    days.append(" ").append(day);
    values.append(" ").append(day).append(".000000");
    zeros += " 0.00000000";
  }
  std::string keys = "  RootDist = 1; TReduWet = 1; HReduDry = 1;\n  JulDays =" + days + ";\n";
  for (const char *key : {"Albedo", "rsc", "LAI", "Z0", "VCF", "RootDepth"})
    keys += std::string("  ") + key + " =" + values + ";\n";
  keys += "  AltDep =" + zeros + ";\n";
  ASSERT_GT(keys.find("\n", keys.find("LAI")) - keys.find("LAI"), 1200u);
  const auto table = ReadSection(log_, Section(1, Block(kGrassHead, keys)));
  EXPECT_EQ(table[1].GetFixPointCount(), 300);
  EXPECT_EQ(table[1].Parameters().LAI[300], 300.0);
  EXPECT_EQ(table[1].Parameters().LAI[0], 300.0);
  EXPECT_DOUBLE_EQ(table[1].GetLAIAtJulianDay(log_, 150, 1, 1, 1, 400), 150.0);
}

TEST_F(LanduseTableReader, OldOneLineEntry) {
  const auto table = ReadSection(log_, Section(2, kOldLine + Block(kGrassHead, kRequired)));
  ASSERT_EQ(table.Count(), 2u);
  const landuse_class &r = table[1];
  const LanduseParameters &p = r.Parameters();
  EXPECT_EQ(r.GetCode(), 3);
  EXPECT_EQ(r.GetName(), "forest");
  EXPECT_EQ(r.GetMethod(), landuse::OldFormat);
  EXPECT_EQ(p.Albedo, std::vector<double>(5, 0.15));
  EXPECT_EQ(p.rsc, (std::vector<double>{220, 110, 120, 130, 140, 150, 160, 170, 180, 190, 200, 210,
                                        220, 110}));
  EXPECT_EQ(p.JulDays, (std::vector<int>{300 - 366, 120, 150, 250, 300}));
  EXPECT_EQ(p.LAI, (std::vector<double>{4, 1, 2, 3, 4}));
  EXPECT_EQ(p.RootDepth, (std::vector<double>{0.6, 0.3, 0.4, 0.5, 0.6}));
  EXPECT_EQ(r.GetRootDist(), 2.5);
  EXPECT_EQ(r.GetHReduDry(), 4.5);
  EXPECT_EQ(r.GetTReduWet(), 0.95);
  EXPECT_EQ(r.GetStopVegetationPeriodForBalance(), 1000);
  EXPECT_EQ(r.GetJDVegetationResetForBalance(), 1);
  // Fix points at 800 m: the first two 10 days later, the last two earlier.
  landuse::FixPointScratch points{};
  r.ComputeFixPoints(log_, -1, 800, points);
  EXPECT_EQ((std::vector<int>(points.begin() + 1, points.begin() + 5)),
            (std::vector<int>{130, 160, 240, 290}));
  // Monthly resistances: 15 March is the third value, 5 January between
  // December and January.
  EXPECT_DOUBLE_EQ(r.GetRsc(log_, 15, 3, 2001, 1, 1, 1, 400), 130.0);
  const double january5 = r.GetRsc(log_, 5, 1, 2001, 1, 1, 1, 400);
  EXPECT_GT(january5, 110.0);
  EXPECT_LT(january5, 220.0);
  EXPECT_DOUBLE_EQ(r.GetRsEvaporation(log_, 15, 3, 2001, 1, 1, 1, 400), 130.0);
  // What the line does not carry takes the block defaults.
  EXPECT_DOUBLE_EQ(r.GetRsInterception(log_, 5, 1, 2001, 1, 1, 1, 400), 20.0);
  EXPECT_DOUBLE_EQ(r.GetNFactorAtJulianDay(log_, 200), -1.0);
  EXPECT_DOUBLE_EQ(r.GetNFactorFreezing(), -1.0);
  EXPECT_DOUBLE_EQ(r.GetSRStemDiameterAtJulianDay(log_, 200, 1, 1, 1, 400), 0.01);
  EXPECT_DOUBLE_EQ(r.GetSRResidCovrgAtJulianDay(log_, 200, 1, 1, 1, 400), 0.01);
  EXPECT_EQ(r.GetSRCultivation(), 3);
  EXPECT_EQ(r.GetSoilTillageCount(), 0);
  // The old entry's reset day 1 comes first in the table; no entry gives a write day.
  EXPECT_EQ(table[0].GetJDVegetationResetForBalance(), 1);
  EXPECT_EQ(table[0].GetJDVegetationWriteForBalance(), 365);
  EXPECT_EQ(table[2].GetCode(), 12);
}

TEST_F(LanduseTableReader, OldLineWithoutSoilValuesForOtherVariants) {
  std::string line = kOldLine;
  line.erase(line.find(" 2.5 4.5 trailing words"));
  const auto table = ReadSection(log_, Section(1, line + "\n"), 1);
  EXPECT_EQ(table[1].GetRootDist(), 0.0);
  EXPECT_EQ(table[1].Parameters().RootDepth[4], 0.6);
}

TEST_F(LanduseTableReader, EmptyTableIsTheHeaderAlone) {
  const auto table = ReadSection(log_, Section(0, ""));
  EXPECT_EQ(table.Count(), 0u);
  EXPECT_EQ(table[0].GetCode(), 0);
  EXPECT_EQ(table[0].GetJDVegetationResetForBalance(), 1);
  EXPECT_EQ(table[0].GetJDVegetationWriteForBalance(), 365);
}

struct ErrorCase {
  const char *name;
  std::string section;
  int code;
  std::vector<std::string> messages; // in the order they are logged
};

std::string Without(std::string keys, const std::string &pair) {
  keys.erase(keys.find(pair), pair.size());
  return keys;
}

std::string Replaced(std::string keys, const std::string &from, const std::string &to) {
  keys.replace(keys.find(from), from.size(), to);
  return keys;
}

TEST(LanduseTableErrors, UnreadableEntries) {
  const std::string grassBody = "{ method = VariableDayCount;\n";
  const ErrorCase cases[] = {
      {"required key missing",
       Section(1, Block(kGrassHead, Without(kRequired, "RootDist = 1.5;"))),
       29,
       {"landuse table code 12: some values could not be read\n" + grassBody}},
      {"dynamic-phenology key missing",
       Section(1, Block("12 beech { method = DynamicPhenology_1;", kRequired)),
       29,
       {"parameter \"F*\" not found for land use 12",
        "landuse table code 12: some values could not be read\n{ method = DynamicPhenology_1;"}},
      {"DP4 key missing",
       Section(1, Block("14 larch { method = DynamicPhenology_4;",
                        kRequired + "F* = 1; DP1_t1_dorm = 1; DP1_T_Bf = 1; JDReset_TStart = 1;"
                                    " maxStartJDforDP1 = 1; DP4_t0_dorm = 1;")),
       29,
       {"parameter \"DP4_t1_dorm\" not found for land use 14"}},
      {"first sample day of DynamicPhenology_3",
       Section(1, Block("13 crop { method = DynamicPhenology_3;",
                        Replaced(kRequired, "1 100 200 366", "5 100 200 366"))),
       29,
       {"Error in Landuse Table (Code: 13): for Method DynamicPhenology_3 the first sample day "
        "(JulDay) must be 1 and not 5",
        "landuse table code 13: some values could not be read"}},
      {"last sample day of DynamicPhenology_3",
       Section(1, Block("13 crop { method = DynamicPhenology_3;",
                        Replaced(kRequired, "1 100 200 366", "1 100 200 365"))),
       29,
       {"for Method DynamicPhenology_3 the last sample day (JulDay) must be 366 and not 365"}},
      {"unknown cultivation",
       Section(1, Block(kGrassHead, kRequired + "SR_cultivation = ploughed;")),
       29,
       {"no valid value for parameter \"SR_cultivation\" for land use 12",
        "landuse table code 12: some values could not be read"}},
      {"switches without 0 or 1",
       Section(1, Block(kGrassHead, kRequired + "useInternalParameters = yes;")),
       29,
       {"landuse table code 12: some values could not be read"}},
      {"list shorter than the fix points",
       Section(1, Block(kGrassHead, Replaced(kRequired, "LAI = 1 2 3 1;", "LAI = 1 2 3;"))),
       29,
       {"landuse table code 12: some values could not be read"}},
      {"unreadable number in a list",
       Section(1, Block(kGrassHead, Replaced(kRequired, "LAI = 1 2 3 1;", "LAI = 1 2 x 1;"))),
       29,
       {"landuse table code 12: some values could not be read"}},
      {"unreadable scalar",
       Section(1, Block(kGrassHead, Replaced(kRequired, "TReduWet = 0.9", "TReduWet = high"))),
       29,
       {"landuse table code 12: some values could not be read"}},
      {"empty JulDays",
       Section(1, Block(kGrassHead, Replaced(kRequired, "1 100 200 366", ""))),
       29,
       {"landuse table code 12: some values could not be read"}},
      {"missing closing brace",
       "[landuse_table]\n1\n" + kGrassHead + "\n" + kRequired,
       29,
       {"landuse table code 12: some values could not be read\n{ method = VariableDayCount;",
        "(end of file before \"}\")"}},
      {"method name on the second line",
       Section(1, Block("12 grassland { method =\n VariableDayCount;", kRequired)),
       29,
       {"landuse table code 12: some values could not be read\n12 grassland { method ="}},
      {"short old line",
       Section(1, "3 forest 0.15 110 120 130\n"),
       29,
       {"landuse table code 3: some values could not be read\n3 forest 0.15 110 120 130"}},
      {"old line without albedo",
       Section(1, "3 forest\n"),
       29,
       {"landuse table code 3: some values could not be read\n3 forest"}},
      {"fewer entries than announced",
       "[landuse_table]\n2\n" + kOldLine,
       29,
       {"landuse table code 2: some values could not be read\n(end of file"}},
      {"missing section",
       "[soil_table]\n0\n",
       17,
       {"error in control file, [landuse_table]; (EOF)not found!"}},
  };
  for (const ErrorCase &c : cases) {
    const test::CallOutcome outcome = TryRead(c.section);
    EXPECT_EQ(outcome.code, c.code) << c.name;
    std::size_t at = 0;
    for (const std::string &message : c.messages) {
      const std::size_t found = outcome.console.find(message, at);
      EXPECT_NE(found, std::string::npos) << c.name << ": " << message << "\n" << outcome.console;
      if (found != std::string::npos)
        at = found + message.size();
    }
  }
}

TEST(LanduseTableErrors, BlockMethodNeedsNameWordAndBrace) {
  EXPECT_EQ(LanduseBlockMethod("1 a { method = DynamicPhenology_2;"), "DynamicPhenology_2");
  EXPECT_EQ(LanduseBlockMethod("1 a { method = DynamicPhenology_2; VariableDayCount"),
            "VariableDayCount");
  EXPECT_EQ(LanduseBlockMethod("1 a method = VariableDayCount;"), "");
  EXPECT_EQ(LanduseBlockMethod("1 a { VariableDayCount;"), "");
  EXPECT_EQ(LanduseBlockMethod("1 a { method ="), "");
}

} // namespace
} // namespace tavro
