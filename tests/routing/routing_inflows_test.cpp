// Inflows of a routing subbasin: external series positioned at the start date
// and read one row per step, their date and end checks, missing values, and
// constant inflows in mm per step.
#include "routing_module_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavro {
namespace {

using test::ChannelText;
using test::Logged;

const std::string kCanal = ChannelText(1, 1, 2, 2, 1, 40, 20, 0.001, 2000, 12);

class InflowTest : public test::RoutingModuleTest {
protected:
  // One routing subbasin 3 with one inflow, daily steps.
  std::unique_ptr<abflussmodellklasse> WithInflow(const std::string &mode) {
    return Build(
        Section("TG 3 A= 53 F= 1\nZL 1 Q= " + mode + kCanal + "\n", "1 1000 10 1", 1, 1440));
  }
  int InflowFailure(const std::string &mode) {
    return test::ExitCodeOf([&] { WithInflow(mode); });
  }
  // Reads the inflows of one day; returns the inflow in mm per step.
  double ReadDay(abflussmodellklasse &routing, int year, int month, int day) {
    routing.RoutingSubbasin(1).ReadInflows(routing.Flows().RoutingInput, year, month, day, 0);
    return routing.Flows().RoutingInput[0][3 + 1];
  }
};

const std::string kHeader = "daily inflow\nYY MM DD HH Q\n";

TEST_F(InflowTest, AnExternalSeriesIsReadOneRowPerStep) {
  test::WriteFixture("inflow.dat", kHeader + "2012 1 1 0 3.0\n2012 1 2 0 6.0\n2012 1 3 0 -9999\n"
                                             "2012 1 4 0 1.5\n");
  auto routing = WithInflow("extern inflow.dat 1 5");
  EXPECT_EQ(routing->RoutingSubbasin(1).Inflow(1).values[0], 3.0);
  const double perMm = 0.06 * 1440 / 12.0; // m3/s to mm per day on 12 km2
  EXPECT_DOUBLE_EQ(ReadDay(*routing, 2012, 1, 1), 3.0 * perMm);
  EXPECT_DOUBLE_EQ(ReadDay(*routing, 2012, 1, 2), 6.0 * perMm);
  EXPECT_EQ(ReadDay(*routing, 2012, 1, 3), 0.0); // missing counts as 0
  EXPECT_DOUBLE_EQ(ReadDay(*routing, 2012, 1, 4), 1.5 * perMm);
  // The file ends: the next step stops the run.
  EXPECT_EQ(test::ExitCodeOf([&] { ReadDay(*routing, 2012, 1, 5); }), 39);
  EXPECT_TRUE(Logged("FATAL: error reading from inflow.dat (or from its buffer) for inflow "
                     "1\nreached end of file!"));
}

TEST_F(InflowTest, AGapInTheDatesStopsTheRun) {
  test::WriteFixture("inflow.dat", kHeader + "2012 1 1 0 3.0\n2012 1 2 0 6.0\n2012 1 4 0 1.5\n");
  auto routing = WithInflow("extern inflow.dat 1 5");
  ReadDay(*routing, 2012, 1, 1);
  ReadDay(*routing, 2012, 1, 2);
  EXPECT_EQ(test::ExitCodeOf([&] { ReadDay(*routing, 2012, 1, 3); }), 36);
  EXPECT_TRUE(Logged("FATAL: error comparing dates in inflow.dat:\n     read: 2012.1.4, 0. h,\n"
                     "should be: 2012.1.3, 0. h.\n"));
}

TEST_F(InflowTest, TheStartIsSearchedFromTheStartRow) {
  const std::string rows = "2011 12 31 0 9.0\n2012 1 1 0 3.0\n2012 1 2 0 6.0\n";
  test::WriteFixture("inflow.dat", kHeader + rows);
  // The search begins at line 4 of the file (the row of 1.1.2012).
  EXPECT_EQ(WithInflow("extern inflow.dat 4 5")->RoutingSubbasin(1).Inflow(1).values[0], 3.0);
  struct Case {
    std::string mode;
    int code;
    std::string entry;
  };
  const std::vector<Case> cases = {
      {"extern inflow.dat 5 5", 38,
       "FATAL: starting date 1.1.2012, 0. h in inflow.dat not found (search started at row 5)"},
      {"extern inflow.dat 50 5", 38,
       "FATAL: error searching in inflow.dat for row 50\nactual "
       "reached row: 4"},
      {"extern inflow.dat 1 10", 38,
       "FATAL: there is not the required number of columns in inflow.dat for reading ZL[1] and "
       "the follwoing 0 tracer values starting from column 10"},
      {"extern missing.dat 1 5", 37, "FATAL: error opening missing.dat for inflow 1"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(InflowFailure(c.mode), c.code) << c.mode;
    EXPECT_TRUE(Logged(c.entry)) << c.mode;
  }
  test::WriteFixture("late.dat", kHeader + "2012 1 2 0 6.0\n2012 1 3 0 6.0\n");
  EXPECT_EQ(InflowFailure("extern late.dat 1 5"), 38);
  EXPECT_TRUE(Logged("FATAL: starting date 1.1.2012, 0. h in late.dat not found (search started at "
                     "row 1)"));
  test::WriteFixture("words.dat", kHeader + "2012 1 1 0 abc\n");
  EXPECT_EQ(InflowFailure("extern words.dat 1 5"), 38);
}

TEST_F(InflowTest, TwoDigitYearsAreYearsOfThe1900s) {
  settings_.EndDate = ModelDate{0, 30, 12, 1995};
  test::WriteFixture("inflow.dat", kHeader + "95 12 30 0 2.0\n95 12 31 0 4.0\n2016 1 1 0 1.0\n");
  auto routing = WithInflow("extern inflow.dat 1 5");
  EXPECT_EQ(routing->RoutingSubbasin(1).Inflow(1).values[0], 2.0);
  ReadDay(*routing, 1995, 12, 30);
  EXPECT_DOUBLE_EQ(ReadDay(*routing, 1995, 12, 31), 4.0 * 0.06 * 1440 / 12.0);
  EXPECT_DOUBLE_EQ(ReadDay(*routing, 2016, 1, 1), 1.0 * 0.06 * 1440 / 12.0);
}

TEST_F(InflowTest, AMissingStartValueCountsAsZero) {
  test::WriteFixture("inflow.dat", kHeader + "2012 1 1 0 -9999\n2012 1 2 0 6.0\n");
  auto routing = WithInflow("extern inflow.dat 1 5");
  EXPECT_EQ(routing->RoutingSubbasin(1).Inflow(1).values[0], 0.0);
  routing->RoutingSubbasin(1).SetInputArrays(&routing->Flows());
  EXPECT_EQ(routing->Flows().RoutingInput[0][4], 0.0);
}

TEST_F(InflowTest, AConstantInflowIsItsDischargeInMillimetres) {
  for (const double q : {2.5, 0.0}) {
    auto routing = WithInflow("constant " + std::to_string(q));
    routing->RoutingSubbasin(1).SetInputArrays(&routing->Flows());
    EXPECT_NEAR(routing->Flows().RoutingInput[0][4], q * 0.06 * 1440 / 12.0, 1e-12);
    EXPECT_TRUE(test::FileExists("wq_tabZL.001"));
  }
}

} // namespace
} // namespace tavro
