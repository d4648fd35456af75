// Irrigation table reader: the "[irrigation]" switch, rows of all four
// methods with items across lines, the schedule rules of a row, and every
// row error with its entry and exit code 29.
#include "tables/irrigation_table.h"

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavro {
namespace {

using test::CallOutcome;
using test::RunCapturingConsole;

const MonthLengthTable kCommonYear = MonthLengthsWithFebruary(28);

bool Has(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

class IrrigationTableTest : public testing::Test {
protected:
  IrrigationSettings ReadFile(const std::string &content, int variant = 2) {
    test::WriteFixture("control.txt", content);
    EXPECT_TRUE(reader_.Open("control.txt"));
    return ReadIrrigationTable(reader_, log_, kCommonYear, variant);
  }

  CallOutcome ReadRows(const std::string &rows) {
    return RunCapturingConsole([&] { ReadFile("[irrigation]\n1\n[irrigation_table]\n" + rows); });
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  ControlFileReader reader_{log_, "irrigation"};
};

TEST_F(IrrigationTableTest, SwitchOffNeedsNoTable) {
  const IrrigationSettings settings = ReadFile(" [irrigation]\n0  # off\n");
  EXPECT_EQ(settings.Switch, 0);
  EXPECT_FALSE(settings.Table.has_value());
  EXPECT_EQ(settings.RowCount(), 0);
}

TEST_F(IrrigationTableTest, VariantBelowTwoReadsNothing) {
  // Not even the mandatory switch is looked for.
  const IrrigationSettings settings = ReadFile("[other]\n1\n", 1);
  EXPECT_EQ(settings.Switch, 0);
  EXPECT_FALSE(settings.Table.has_value());
}

TEST_F(IrrigationTableTest, RowsOfAllMethods) {
  const IrrigationSettings settings = ReadFile("[irrigation]\n"
                                               "1 flow control\n"
                                               "[irrigation_table]\n"
                                               "4 rows\n"
                                               "11 fixed 1 2 10 2.5\n"
                                               "2\n 5 15 3.0\n 6\n 1 4.5\n"
                                               "12 scheduled 2 1 12 4 starting from 05 01 with 4 "
                                               "mm to 05 31 with 1 mm every 10 days\n"
                                               "13 suction 3 2 30.5 5.25\n"
                                               "14 ratio 4 1 0.6\n");
  EXPECT_EQ(settings.Switch, 1);
  ASSERT_TRUE(settings.Table.has_value());
  ASSERT_EQ(settings.RowCount(), 4);
  const IrrigationTable &table = *settings.Table;
  EXPECT_EQ(table[0].Code, 4);

  const IrrigationTableEntry &fixed = table[1];
  EXPECT_EQ(fixed.Code, 11);
  EXPECT_EQ(fixed.Name, "fixed");
  EXPECT_EQ(fixed.Method, irrigation::FixedDates);
  EXPECT_EQ(fixed.Origin, irrigation::SurfaceWater);
  EXPECT_EQ(fixed.psi_dry, 10.0);
  EXPECT_EQ(fixed.psi_wet, 2.5);
  ASSERT_EQ(fixed.tabcnt, 2);
  EXPECT_EQ(fixed.months[1], 5);
  EXPECT_EQ(fixed.days[1], 15);
  EXPECT_EQ(fixed.amounts[1], 3.0);
  EXPECT_EQ(fixed.months[2], 6);
  EXPECT_EQ(fixed.days[2], 1);
  EXPECT_EQ(fixed.amounts[2], 4.5);

  const IrrigationTableEntry &scheduled = table[2];
  EXPECT_EQ(scheduled.Code, 12);
  EXPECT_EQ(scheduled.Method, irrigation::ScheduleRules);
  EXPECT_EQ(scheduled.Origin, irrigation::Groundwater);
  EXPECT_EQ(scheduled.psi_dry, 12.0);
  EXPECT_EQ(scheduled.psi_wet, 4.0);
  ASSERT_EQ(scheduled.tabcnt, 4);
  const std::vector<int> days = {1, 11, 21, 31};
  const std::vector<double> amounts = {4.0, 3.0, 2.0, 1.0};
  for (int k = 1; k <= 4; ++k) {
    EXPECT_EQ(scheduled.months[k], 5);
    EXPECT_EQ(scheduled.days[k], days[k - 1]);
    EXPECT_DOUBLE_EQ(scheduled.amounts[k], amounts[k - 1]);
  }

  const IrrigationTableEntry &suction = table[3];
  EXPECT_EQ(suction.Method, irrigation::SuctionDemand);
  EXPECT_EQ(suction.psi_dry, 30.5);
  EXPECT_EQ(suction.psi_wet, 5.25);
  EXPECT_EQ(suction.tabcnt, 0);
  EXPECT_TRUE(suction.months.Empty());

  const IrrigationTableEntry &ratio = table[4];
  EXPECT_EQ(ratio.Name, "ratio");
  EXPECT_EQ(ratio.Method, irrigation::EvapotranspirationDemand);
  EXPECT_EQ(ratio.min_ETR_ETP, 0.6);
  EXPECT_EQ(ratio.psi_dry, 20.0);
  EXPECT_EQ(ratio.psi_wet, 3.45);
  EXPECT_EQ(ratio.tabcnt, 0);
}

TEST_F(IrrigationTableTest, TwoRulesInOneRowAppendTheirEvents) {
  const IrrigationSettings settings =
      ReadFile("[irrigation]\n1\n[irrigation_table]\n1\n"
               "5 twice 2 2 0 0 starting from 12 25 with 3 mm 3 times every 5 days; starting "
               "from 04 31 with 1 mm 1 times every 1 days\n");
  ASSERT_EQ(settings.RowCount(), 1);
  const IrrigationTableEntry &row = (*settings.Table)[1];
  ASSERT_EQ(row.tabcnt, 4);
  const std::vector<std::pair<int, int>> dates = {{12, 25}, {12, 30}, {1, 4}, {4, 30}};
  for (int k = 1; k <= 4; ++k) {
    EXPECT_EQ(row.months[k], dates[k - 1].first) << k;
    EXPECT_EQ(row.days[k], dates[k - 1].second) << k;
  }
  EXPECT_EQ(row.amounts[3], 3.0);
  EXPECT_EQ(row.amounts[4], 1.0);
}

TEST_F(IrrigationTableTest, CountBelowOneGivesAnEmptyTable) {
  const IrrigationSettings settings = ReadFile("[irrigation]\n2\n[irrigation_table]\n-1\n");
  EXPECT_EQ(settings.Switch, 2);
  ASSERT_TRUE(settings.Table.has_value());
  EXPECT_EQ(settings.RowCount(), 0);
  EXPECT_EQ((*settings.Table)[0].Code, -1);
}

TEST_F(IrrigationTableTest, MissingSectionsAreControlFileErrors) {
  const CallOutcome noSwitch = RunCapturingConsole([&] { ReadFile("[irrigation_table]\n0\n"); });
  EXPECT_EQ(noSwitch.code, 17);
  EXPECT_TRUE(Has(noSwitch.console, "[irrigation]")) << noSwitch.console;

  const CallOutcome noTable = RunCapturingConsole([&] { ReadFile("[irrigation]\n1\n"); });
  EXPECT_EQ(noTable.code, 17);
  EXPECT_TRUE(Has(noTable.console, "[irrigation_table]")) << noTable.console;
}

TEST_F(IrrigationTableTest, RuleErrorLogsTheHelpText) {
  const CallOutcome outcome =
      ReadRows("2\n1 ok 3 1 20 3\n"
               "2 wrong 2 1 20 3 from 05 01 with 4 mm 3 times every 5 days\n");
  EXPECT_EQ(outcome.code, 29);
  const std::string expected =
      "irrigation description for irrigation type 2 is wrong "
      "there are 4 possible ways to define irrigation rules:\n"
      "two schedule variants:\n"
      "1.: \"starting from MM DD with XX mm to MM DD with YY mm every ZZ day\"\n"
      "2.: \"starting from MM DD with XX mm AA times every ZZ days\"\n"
      " where MM and DD are Month and day, XX is the first irrigation amount \n"
      " per irrigation event in mm/day, ZZ is the time step (e.g. every 4 days..),\n"
      " YY is the last irrigation amount in mm/day (it is linearly interpolated)\n"
      " and AA is a repeat counter (only in the secound format).\n"
      " The model recognises both formats by the different formats by analysing the\n"
      " key-words \"starting from\", \"to\" and \"times\"\n"
      " note: there may be defined multiple irrigation schemes in one row,\n"
      " but they have to be of the same type (1. or 2.) \n"
      " and they have to be seperated by a semicolon (;)\n"
      " 3.: irrigation control by demand (1): suction (psi) for start and end of irrigation must "
      "be provided\n"
      " 4.: irrigation control by demand (2): ratio between ETR and ETP for irrigation start "
      "must be provided\n";
  EXPECT_TRUE(Has(outcome.console, expected)) << outcome.console;
  // The entry is whole in the diagnostics file too.
  EXPECT_TRUE(Has(test::ReadWholeFile("Tavro_Diag_0.xml"), "is wrong there are 4 possible"));
}

TEST_F(IrrigationTableTest, RuleWithoutFormKeywordExplainsBeforeTheHelpText) {
  const CallOutcome outcome =
      ReadRows("1\n3 mixed 2 1 0 0 starting from 05 01 with 4 mm every 5 days; starting from 06 "
               "01 with 4 mm 2 times every 5 days\n");
  EXPECT_EQ(outcome.code, 29);
  const std::size_t keywords =
      outcome.console.find("none of the keywords \"to\" or \"times\" could be found!\n");
  const std::size_t rule = outcome.console.find("irrigation description for irrigation type 1");
  ASSERT_NE(keywords, std::string::npos) << outcome.console;
  ASSERT_NE(rule, std::string::npos) << outcome.console;
  EXPECT_LT(keywords, rule);
}

TEST_F(IrrigationTableTest, RowErrors) {
  struct Case {
    const char *Name;
    std::string Rows;
    std::string Message;
  };
  const std::vector<Case> cases = {
      {"row missing", "2\n1 a 3 1 20 3\n",
       "for irrigation code 2: code, name, method, or origin could not be read correctly\n"},
      {"code not a number", "1\nx a 3 1 20 3\n",
       "for irrigation code 1: code, name, method, or origin could not be read correctly\n"},
      {"origin not a number", "1\n1 a 3 one 20 3\n",
       "for irrigation code 1: code, name, method, or origin could not be read correctly\n"},
      {"ratio not a number", "1\n1 a 4 1 low\n",
       "for irrigation code 1: min(ETR/ETP) could not be read correctly\n"},
      {"psi_wet missing", "1\n1 a 3 1 20\n",
       "for irrigation code 1: psi_dry or psi_wet could not be read correctly\n"},
      {"tabcnt not a number", "1\n1 a 1 1 20 3 many\n",
       "for irrigation code 1: tabcnt could not be read correctly\n"},
      {"second event incomplete", "1\n1 a 1 1 20 3 2 5 1 2.0 6 1\n",
       "for irrigation code 1 month[2] or day[2] or amount[2] could not be read\n"},
      {"negative tabcnt", "1\n1 a 1 1 20 3 -2\n", "for irrigation code 1: tabcnt -2 is negative\n"},
      {"month 13 in a fixed table", "1\n1 a 1 1 20 3 1 13 1 2.0\n",
       "for irrigation code 1: month[1] = 13 and day[1] = 1 do not name a day of the year\n"},
      {"April 31 in a fixed table", "1\n1 a 1 1 20 3 1 4 31 2.0\n",
       "for irrigation code 1: month[1] = 4 and day[1] = 31 do not name a day of the year\n"},
      {"negative fixed amount", "1\n1 a 1 1 20 3 1 4 3 -2\n",
       "for irrigation code 1: amount[1] = -2 is negative\n"},
      {"name too long", "1\n1 " + std::string(50, 'n') + " 3 1 20 3\n",
       "for irrigation code 1: the name " + std::string(50, 'n') +
           " is longer than 49 characters\n"},
      {"unknown method", "1\n1 a 5 1 20 3\n", "for irrigation code 1: method 5 is unknown"},
      {"unknown origin", "1\n1 a 3 3 20 3\n", "for irrigation code 1: origin 3 is unknown"},
      {"rules too long",
       "1\n1 a 2 1 20 3 starting from 05 01 with 4 mm 3 times every 5 days" +
           std::string(1200, ' ') + "\n",
       "for irrigation code 1: the irrigation rules are longer than 1199 characters\n"},
      {"rules not on the line of psi_wet",
       "1\n1 a 2 1 20 3\nstarting from 05 01 with 4 mm 3 times every 5 days\n",
       "irrigation description for irrigation type 1 is wrong there are 4"},
      {"interval 0", "1\n1 a 2 1 20 3 starting from 05 01 with 4 mm 3 times every 0 days\n",
       "the interval after \"every\" must be at least 1 day, not 0\n"},
  };
  for (const Case &c : cases) {
    const CallOutcome outcome = ReadRows(c.Rows);
    EXPECT_EQ(outcome.code, 29) << c.Name;
    EXPECT_TRUE(Has(outcome.console, c.Message)) << c.Name << ":\n" << outcome.console;
  }
}

TEST_F(IrrigationTableTest, FixedTableMayNameFebruary29) {
  const IrrigationSettings settings =
      ReadFile("[irrigation]\n1\n[irrigation_table]\n1\n1 leap 1 1 20 3 1 2 29 1.5\n");
  ASSERT_EQ(settings.RowCount(), 1);
  EXPECT_EQ((*settings.Table)[1].days[1], 29);
}

} // namespace
} // namespace tavro
