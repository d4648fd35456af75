// The subbasin table of the soil-water section on text fixtures: groups of
// subbasins copied from the nearest listed one below, the conversions of the
// storage and recession constants, a code row running on into the values,
// and every refusal with its entry and exit code 10.
#include "soil/subbasin_parameter_table.h"

#include "kernel/diagnostics_log.h"
#include "support/diagnostics_entries.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace tavro {
namespace {

constexpr const char *kHelp =
    "\npossible error by using the same parameters\nfor groups of subbasins:\nat least the first "
    "AND the last subbasin code have\nto be specified with all their parameters like this:\n(if "
    "the smallest code is 1 and the largest code is 8)\n1\t8\n3\t3\n8\t8\n14\t14\n0.4\t0.4\n0.01\t"
    "0.01\n0.1\t0.1\n..\t..\nThen, to all subcatchments with zone-codes ranging from 1 to 7 the "
    "\nparameters of subbasin 1 will be assigned!";

class SubbasinTableTest : public testing::Test {
protected:
  // Subbasins with these codes, ranked in ascending order.
  void SetCodes(const std::vector<int> &codes) {
    const int maxCode = codes.back();
    index_ = OneBasedArray<int>(static_cast<std::size_t>(maxCode), 0);
    table_ = OneBasedArray<ZoneRecord>(codes.size());
    for (std::size_t k = 0; k < codes.size(); ++k) {
      index_[static_cast<std::size_t>(codes[k])] = static_cast<int>(k) + 1;
      table_[k + 1].zonenwert = codes[k];
    }
    ranks_ = SubbasinRanks{&index_, &table_, static_cast<int>(codes.size()), maxCode};
  }

  SubbasinParameters Read(const std::string &text) {
    test::WriteFixture("table.txt", text);
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen("table.txt", "r"),
                                                          &std::fclose);
    return ReadSubbasinParameterTable(file.get(), log_, ranks_, "unsatzon_model", "control.ctl");
  }

  int Failure(const std::string &text) {
    return test::ExitCodeOf([&] { Read(text); });
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  OneBasedArray<int> index_;
  OneBasedArray<ZoneRecord> table_;
  SubbasinRanks ranks_;
};

std::vector<double> Values(const OneBasedArray<double> &array) {
  return std::vector<double>(array.begin(), array.end());
}

TEST_F(SubbasinTableTest, FirstAndLastCodeGiveEveryGroupTheValuesOfTheFirst) {
  SetCodes({1, 2, 3, 4, 5, 6, 7, 8});
  const SubbasinParameters p =
      Read("1\t8\n3\t3\n8\t8\n14\t14\n0.4\t0.4\n0.01\t0.01\n0.1\t0.1\nafter the table\n");
  EXPECT_EQ(Values(p.kelsqd), std::vector<double>({180, 180, 180, 180, 180, 180, 180, 180}));
  EXPECT_EQ(Values(p.kelsqi), std::vector<double>({480, 480, 480, 480, 480, 480, 480, 480}));
  EXPECT_EQ(p.DrainageDensity[7], 14.0);
  EXPECT_DOUBLE_EQ(p.InvKelsqlat[4], 2.5);
  EXPECT_EQ(p.MaxBaseflow[8], 0.01);
  EXPECT_EQ(p.SnowRunoff_fraction[2], 0.1);
  EXPECT_EQ(std::vector<int>(p.code.begin(), p.code.end()),
            std::vector<int>({1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(SubbasinTableTest, AFirstCodeAboveTheSmallestGivesTheSmallestItsOwnValues) {
  SetCodes({1, 2, 3, 4, 5, 6, 7, 8});
  // Values for subbasins 1, 3 and 8 in rank order.
  const SubbasinParameters p = Read("3 8\n1 3 8\n1 1 1\n1 1 1\n1 1 1\n1 1 1\n1 1 1\n");
  EXPECT_EQ(Values(p.kelsqd), std::vector<double>({60, 60, 180, 180, 180, 180, 180, 480}));
}

TEST_F(SubbasinTableTest, CodesThatAreNotConsecutive) {
  SetCodes({2, 5, 9, 12});
  const SubbasinParameters p = Read("2 9 12\n1 2 3\n1 1 1\n1 1 1\n1 1 1\n1 1 1\n1 1 1\n");
  EXPECT_EQ(Values(p.kelsqd), std::vector<double>({60, 60, 120, 180}));
  EXPECT_EQ(std::vector<int>(p.code.begin(), p.code.end()), std::vector<int>({2, 5, 9, 12}));
}

TEST_F(SubbasinTableTest, StorageAndRecessionConstantsAreConverted) {
  SetCodes({1, 2, 3, 4});
  const SubbasinParameters p = Read("1 2 3 4\n0 0.0005 0.001 2\n0 0.0005 0.001 2\n"
                                    "1 1 1 1\n-1 20 0.5 -0.001\n1 1 1 1\n0 0 0 0\n");
  EXPECT_EQ(Values(p.kelsqd), std::vector<double>({0.06, 0.06, 0.06, 120}));
  EXPECT_EQ(Values(p.kelsqi), std::vector<double>({0.06, 0.06, 0.06, 120}));
  EXPECT_EQ(Values(p.InvKelsqlat), std::vector<double>({0, 0.05, 2, 0}));
  EXPECT_EQ(StorageConstantMinutes(0.0009999), 0.06);
}

TEST_F(SubbasinTableTest, RefusalsNameTheCodeOrTheValue) {
  SetCodes({1, 2, 3, 4, 5, 6, 7, 8});
  const std::string rows = "1 1\n1 1\n1 1\n1 1\n1 1\n1 1\n";
  struct Case {
    std::string text;
    std::string entry;
  };
  const std::vector<Case> cases = {
      // The code row does not end with 8: the values are read as codes.
      {"1 3\n0.4 0.4\n", "error! there is no code 0 (from control.ctl) for a subbasin in "
                         "unsatzon_model"},
      {"1 9\n" + rows, "error! there is no code 9 (from control.ctl) for a subbasin in "
                       "unsatzon_model"},
      {"-1 8\n" + rows, "error! there is no code -1 (from control.ctl)"},
      {"x 8\n" + rows, "error reading code[0] for unsatzon_model"},
      {"1 3 x\n" + rows, "error reading code[3] for unsatzon_model"},
      {"1 8\n1 1\n1 x\n", "error reading kelsqi[8] for unsatzon_model"},
      {"1 8\n1 1\n1 1\n1 1\n1 1\n", "error reading QB-Red.Faktor[1] for unsatzon_model"},
      {"1 8\n1 1\n1 1\n", "error reading channel network density[1] for unsatzon_model"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Failure(c.text), 10);
    EXPECT_TRUE(test::Logged("FATAL: \n-----------------error------------\n" + c.entry));
  }
  // The entries end with the help on groups; after the baseflow factor with
  // one more line break.
  const std::string xml = test::ReadWholeFile("Tavro_Diag_0.xml");
  const auto entryEnd = [&](const std::string &text) {
    return xml.find(DiagnosticsLog::EscapeForXml(text) + "\"/>") != std::string::npos;
  };
  EXPECT_TRUE(entryEnd(std::string("error reading kelsqi[8] for unsatzon_model") + kHelp));
  EXPECT_TRUE(
      entryEnd(std::string("error reading QB-Red.Faktor[1] for unsatzon_model") + kHelp + "\n"));
}

// Its inverse would be unbounded and the baseflow NaN.
TEST_F(SubbasinTableTest, ARecessionConstantOfZeroIsRefused) {
  SetCodes({1, 2});
  EXPECT_EQ(Failure("1 2\n1 1\n1 1\n1 1\n20 0\n1 1\n0 0\n"), 10);
  EXPECT_TRUE(test::Logged("FATAL: \n-----------------error------------\nerror! kelsqlat[2] is 0 "
                           "for unsatzon_model: the recession constant of baseflow must not be 0 "
                           "(a negative value switches the recession off)"));
}

} // namespace
} // namespace tavro
