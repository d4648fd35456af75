// The routing module's step: the runoff of every step routed through the
// network, the comparison with observed discharge (goodness of fit against
// independently computed efficiencies, lags, skipped values, the offset, the
// ends and gaps of the observed table), the routed-discharge unit, the
// initialisation passes and the river exchange table.
#include "routing_module_fixture.h"

#include "raster/output/goodness_of_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::ChannelText;
using test::Logged;

const std::string kOl1 = test::kTestOl1;
const std::string kNetwork = test::kTestNetwork;
constexpr int kSteps = 40;

// A made-up runoff of subbasin i at step t (1-based), mm per day.
double Runoff(int i, int t) {
  return 0.5 + 0.3 * i + 2.0 * std::exp(-0.5 * (t - 12) * (t - 12) / 9.0);
}

// The observed-discharge table: one row per day from 1.1.2012, values of two columns.
std::string ObservedTable(const std::vector<double> &column2, int firstDay = 1,
                          int skippedDay = 0) {
  std::string text = "observed discharges\nYY MM DD HH q1 q3\n";
  int day = firstDay;
  for (const double v : column2) {
    if (day == skippedDay)
      ++day;
    const int month = day <= 31 ? 1 : 2;
    char value[40];
    std::snprintf(value, sizeof value, "%.17g", v);
    text += Concat(2012, " ", month, " ", month == 1 ? day : day - 31, " 0 1.0 ", value, "\n");
    ++day;
  }
  return text;
}

class RoutingStepTest : public test::RoutingModuleTest {
protected:
  // Observed column 2 for subbasin 3 (the outlet).
  std::unique_ptr<abflussmodellklasse> BuildRouting(int lakeGridSwitch = 0) {
    auto routing = Build(Section(kNetwork, "1 2000 20 1", 1, 1440, "1\n3 2"));
    routing->LakeGridSwitch = lakeGridSwitch;
    qg_.Resize(3);
    SetRunoff(0);
    routing->SetQg(&qg_);
    return routing;
  }
  void SetRunoff(int t) {
    for (int i = 1; i <= 3; ++i)
      qg_.Components[0][static_cast<std::size_t>(i)] = Runoff(i, t);
  }
  // Days 1..steps of January and February 2012; the outlet's discharge per step.
  std::vector<double> Run(abflussmodellklasse &routing, int steps = kSteps) {
    std::vector<double> outlet;
    for (int t = 1; t <= steps; ++t) {
      SetRunoff(t);
      const int month = t <= 31 ? 1 : 2;
      routing.ComputeTimeStep(0, month == 1 ? t : t - 31, month, 2012);
      outlet.push_back(routing.RoutedDischarge(3));
    }
    return outlet;
  }
  // The simulated series once, without observations.
  std::vector<double> Simulated() {
    auto routing = BuildRouting();
    routing->InitializeDischarges();
    return Run(*routing);
  }

  SubbasinRunoffArrays qg_;
};

struct Efficiency {
  double nse = 0.0;
  double withoutMeanError = 0.0;
  int pairs = 0;
};

// 1 - sum (s - o)^2 / sum (o - mean o)^2 and the same with the mean error
// removed, over the pairs with o > 0, from step `first` on.
Efficiency Reference(const std::vector<double> &s, const std::vector<double> &o, bool logarithm,
                     std::size_t first = 0) {
  std::vector<double> ss, oo;
  for (std::size_t t = first; t < s.size(); ++t)
    if (o[t] > 0.0 && (!logarithm || s[t] > 0.0)) {
      ss.push_back(logarithm ? std::log(s[t]) : s[t]);
      oo.push_back(logarithm ? std::log(o[t]) : o[t]);
    }
  double mean = 0.0, meanError = 0.0;
  for (std::size_t k = 0; k < oo.size(); ++k) {
    mean += oo[k] / static_cast<double>(oo.size());
    meanError += (ss[k] - oo[k]) / static_cast<double>(oo.size());
  }
  double squared = 0.0, centred = 0.0, spread = 0.0;
  for (std::size_t k = 0; k < oo.size(); ++k) {
    squared += (ss[k] - oo[k]) * (ss[k] - oo[k]);
    centred += (ss[k] - oo[k] - meanError) * (ss[k] - oo[k] - meanError);
    spread += (oo[k] - mean) * (oo[k] - mean);
  }
  return {1.0 - squared / spread, 1.0 - centred / spread, static_cast<int>(oo.size())};
}

TEST_F(RoutingStepTest, LagZeroMeasuresEqualIndependentEfficiencies) {
  const std::vector<double> simulated = Simulated();
  // Observations: the simulation disturbed, with a zero and a negative value
  // that the sums skip; the table reaches eleven days past the model's end.
  std::vector<double> observed;
  for (int t = 0; t < kSteps + 11; ++t)
    observed.push_back(
        t < kSteps ? simulated[static_cast<std::size_t>(t)] * (1.0 + 0.2 * std::sin(0.7 * t)) + 0.05
                   : 1.0);
  observed[5] = 0.0;
  observed[9] = -1.0;
  for (const int offset : {0, 7}) {
    test::WriteFixture("observed.dat", ObservedTable(observed));
    auto routing = BuildRouting();
    routing->FitStartOffset = offset;
    routing->InitializeDischarges();
    EXPECT_EQ(Run(*routing), simulated);
    const std::vector<double> o(observed.begin(), observed.begin() + kSteps);
    const Efficiency linear = Reference(simulated, o, false, static_cast<std::size_t>(offset));
    const Efficiency logarithmic = Reference(simulated, o, true, static_cast<std::size_t>(offset));
    const FitSums &sums = routing->FitSums().linear.At(kFitZeroLagIndex, 3);
    EXPECT_EQ(sums.pairs, linear.pairs) << offset;
    const FitMeasures lin = ComputeFitMeasures(sums);
    const FitMeasures log =
        ComputeFitMeasures(routing->FitSums().logarithmic.At(kFitZeroLagIndex, 3));
    EXPECT_NEAR(lin.R, linear.nse, 1e-12) << offset;
    EXPECT_NEAR(lin.C, linear.withoutMeanError, 1e-12) << offset;
    EXPECT_NEAR(log.R, logarithmic.nse, 1e-12) << offset;
    EXPECT_NEAR(log.C, logarithmic.withoutMeanError, 1e-12) << offset;
    // Subbasins without an observation column compare nothing.
    EXPECT_EQ(routing->FitSums().linear.At(kFitZeroLagIndex, 2).pairs, 0.0);
  }
}

TEST_F(RoutingStepTest, ObservationsThreeStepsLateFitBestAtLagPlusThree) {
  const std::vector<double> simulated = Simulated();
  // o(t) = s(t - 3): the observation of step t + 3 matches the simulation of t.
  std::vector<double> observed(kSteps + 11, 1.0);
  for (int t = 3; t < kSteps + 3; ++t)
    observed[static_cast<std::size_t>(t)] = simulated[static_cast<std::size_t>(t - 3)];
  test::WriteFixture("observed.dat", ObservedTable(observed));
  auto routing = BuildRouting();
  routing->InitializeDischarges();
  Run(*routing);
  int best = -1;
  double bestR = -1e300;
  for (int k = 0; k < kFitLagCount; ++k) {
    const double r = ComputeFitMeasures(routing->FitSums().linear.At(k, 3)).R;
    if (r > bestR) {
      bestR = r;
      best = k;
    }
  }
  EXPECT_EQ(best - kFitZeroLagIndex, 3);
  EXPECT_NEAR(bestR, 1.0, 1e-12);
}

TEST_F(RoutingStepTest, UnknownStartEarlyEndAndGapsStopTheComparison) {
  const std::vector<double> ones(kSteps + 11, 2.0);
  struct Case {
    std::string table;
    int pairs; // compared steps at lag 0
    std::string logged;
  };
  const std::vector<Case> cases = {
      // The start date is missing: no comparison at all.
      {ObservedTable(ones, 2), 0,
       "INFO: observed runoff: actual date 1.1.2012 0h not found (end of discharge file at "
       "21.2.2012, 0h)"},
      // The table ends after 20 days: the ring reads ten rows ahead, and the
      // steps that read past the end count towards the ten that stop the
      // comparison: 9 steps reach the end, 9 more follow.
      {ObservedTable(std::vector<double>(20, 2.0)), 18, "INFO: end of discharge file reached!"},
  };
  for (const Case &c : cases) {
    test::WriteFixture("observed.dat", c.table);
    auto routing = BuildRouting();
    routing->InitializeDischarges();
    Run(*routing);
    EXPECT_EQ(routing->FitSums().linear.At(kFitZeroLagIndex, 3).pairs, c.pairs) << c.logged;
    EXPECT_TRUE(Logged(c.logged)) << c.logged;
    EXPECT_GE(routing->Observed().EndOfFileCount(), ObservedDischarge::EndOfFileLimit);
  }
}

// Rows that would pair observations with the wrong days stop the run, naming
// the file and the row (data rows counted from 1).
TEST_F(RoutingStepTest, ObservedRowsOfOtherDaysAreFatal) {
  const std::string good = ObservedTable(std::vector<double>(kSteps + 11, 2.0));
  // The table with data row n (1-based) replaced by text.
  auto withRow = [&good](int n, const std::string &text) {
    std::string table;
    std::istringstream in(good);
    int row = -2; // two header lines
    for (std::string line; std::getline(in, line);)
      table += (++row == n ? text : line) + "\n";
    return table;
  };
  struct Case {
    std::string table;
    std::string entry;
  };
  const std::vector<Case> cases = {
      // Day 15 is missing: the rows after it would shift by a day.
      {ObservedTable(std::vector<double>(kSteps + 11, 2.0), 1, 15),
       "FATAL: observed runoff: row 15 of observed.dat holds 16.1.2012 0h, but the model date "
       "is 15.1.2012 0h (a missing or an extra row)"},
      // Day 12 repeated in place of day 13.
      {withRow(13, "2012 1 12 0 1.0 2.0"),
       "FATAL: observed runoff: row 13 of observed.dat holds 12.1.2012 0h, which does not "
       "follow 12.1.2012 0h of row 12 (rows unsorted or repeated)"},
      // Day 30 between days 19 and 21.
      {withRow(20, "2012 1 30 0 1.0 2.0"),
       "FATAL: observed runoff: row 21 of observed.dat holds 21.1.2012 0h, which does not "
       "follow 30.1.2012 0h of row 20 (rows unsorted or repeated)"},
      // A value that is not a number names its own row.
      {withRow(3, "2012 1 3 0 1.0 x"),
       "FATAL: error reading observed.dat at row 3: a date and 2 values expected (e.g. a value "
       "missing or not a number)"},
  };
  for (const Case &c : cases) {
    test::WriteFixture("observed.dat", c.table);
    const int code = test::ExitCodeOf([&] {
      auto routing = BuildRouting();
      routing->InitializeDischarges();
      Run(*routing);
    });
    EXPECT_EQ(code, ObservedDischarge::ReadErrorExitCode) << c.entry;
    EXPECT_TRUE(Logged(c.entry)) << c.entry;
  }
}

TEST_F(RoutingStepTest, DischargeUnitConvertsWithAreaAndFactor) {
  auto routing = Build(Section("TG 2 (middle) A= 61 F= 2\n" + kOl1, "1 2000 20 1", 1, 1440));
  qg_.Resize(3);
  SetRunoff(0);
  routing->SetQg(&qg_);
  routing->InitializeDischarges();
  routing->ComputeTimeStep(0, 1, 1, 2012);
  const double x2 = routing->Flows().RoutingInput[0][2];
  const double x1 = routing->Flows().RoutingInput[0][1];
  const DischargeRelations &a = *routing->GetAbfrel();
  EXPECT_EQ(routing->RoutedDischarge(2), x2); // unit 0: mm per step
  routing->RoutingDischargeUnit = 1;
  EXPECT_NEAR(routing->RoutedDischarge(2),
              x2 * a.RelativeArea[0] * a.RelativeArea[2] * 16.6666667 / 1440 / 2, 1e-12);
  // Subbasin 1 has no routing description: no factor.
  EXPECT_NEAR(routing->RoutedDischarge(1),
              x1 * a.RelativeArea[0] * a.RelativeArea[1] * 16.6666667 / 1440, 1e-12);
}

TEST_F(RoutingStepTest, InitialisationPassesFollowTheTravelTimes) {
  // With LakeGridSwitch set no pass runs.
  BuildRouting(1)->InitializeDischarges();
  EXPECT_FALSE(Logged("routing the initialization discharges"));
  for (const double dt : {1440.0, 60.0}) {
    auto routing = Build(Section(kNetwork, "1 2000 20 1", 1, dt));
    routing->LakeGridSwitch = 0; // the fixture's state read mode 1 would skip the passes
    qg_.Resize(3);
    SetRunoff(0);
    routing->SetQg(&qg_);
    routing->InitializeDischarges();
    // The largest whole-hour travel time of the first table row of each
    // routing subbasin's channels, summed over the network.
    long hours = 0;
    for (int n = 1; n <= routing->RoutingSubbasinCount(); ++n) {
      long largest = 0;
      for (int i = 1; i <= routing->RoutingSubbasin(n).ChannelCount(); ++i)
        largest = std::max(
            largest,
            static_cast<long>(routing->RoutingSubbasin(n).Channel(i).wqtab.rows[1].travelTime));
      hours += largest;
    }
    const long passes = std::max(1L, static_cast<long>(std::ceil(hours * 60.0 / dt)));
    EXPECT_EQ(routing->InitializationPasses, passes);
    EXPECT_TRUE(Logged(Concat("routing the initialization discharges (", passes, " times)",
                              std::string(static_cast<std::size_t>(passes), '.'))));
  }
}

TEST_F(RoutingStepTest, NoRunoffIsFatal) {
  auto routing = Build(Section(kNetwork, "1 2000 20 1", 1, 1440));
  EXPECT_EQ(test::ExitCodeOf([&] { routing->SetQg(nullptr); }), 43);
  EXPECT_TRUE(Logged("FATAL: No valid discharges for discharge routing!\nYou have to run the "
                     "model including at least precipitation interpolation and soil model\nif "
                     "discharges are wished."));
}

// A network whose outlet takes subbasin 1 through a SUMTRIB channel with 2 as
// its "&" member.
const std::string kSumtribNetwork = "TG 3 (outlet) A= 114 F= 1\nSUMTRIB 1&2" +
                                    ChannelText(2, 6, 5, 50, 1, 25, 15, 0.005, 6000, 61) + "\n";

TEST_F(RoutingStepTest, RiverExchangeReachesTheRoutingAndIsCleared) {
  riverflow_table table;
  auto run = [&](double exchangeM3s, double lowerRunoffMm) {
    table.Records = OneBasedArray<RiverflowRecord>(3);
    auto routing = Build(Section(kSumtribNetwork, "1 2000 20 1", 1, 1440));
    qg_.Resize(3);
    SetRunoff(0);
    routing->SetQg(&qg_);
    routing->InitializeDischarges();
    routing->SetRiverflowTable(&table);
    std::vector<double> outlet;
    for (int t = 1; t <= 5; ++t) {
      SetRunoff(t);
      qg_.Components[0][2] -= lowerRunoffMm;
      table.Records[2].exchange = exchangeM3s;
      routing->ComputeTimeStep(0, t, 1, 2012);
      outlet.push_back(routing->Flows().RoutingInput[0][3]);
      EXPECT_EQ(table.Records[2].exchange, 0.0);
      // The record carries the flow as delivered, before the withdrawal.
      EXPECT_EQ(table.Records[2].flow_mm[0], qg_.Components[0][2]);
    }
    return outlet;
  };
  const double taken = 0.3; // m3/s
  const std::vector<double> withExchange = run(taken, 0.0);
  // Both members of the SUMTRIB channel carry its number, channel and area.
  for (const int member : {1, 2}) {
    EXPECT_EQ(table.Records[static_cast<std::size_t>(member)].routingNumber, 1);
    EXPECT_EQ(table.Records[static_cast<std::size_t>(member)].channelIndex, 1);
    EXPECT_EQ(table.Records[static_cast<std::size_t>(member)].area, 61.0);
    EXPECT_GT(table.Records[static_cast<std::size_t>(member)].speed, 0.0);
  }
  EXPECT_EQ(table.Records[3].routingNumber, 0); // the outlet is nobody's tributary
  // The same water taken from the runoff of subbasin 2 before the step.
  const std::vector<double> lowered = run(0.0, taken * 0.06 * 1440 / 61.0);
  ASSERT_EQ(withExchange.size(), lowered.size());
  for (std::size_t t = 0; t < lowered.size(); ++t)
    EXPECT_NEAR(withExchange[t], lowered[t], 1e-12) << t;
  EXPECT_LT(withExchange.back(), run(0.0, 0.0).back());
}

} // namespace
} // namespace tavro
