// Reservoirs and abstractions in the routing step: the outlet subbasin's
// reservoir closes its balance step by step and writes its table, the
// abstractions feed their connected inflows, and the connections are checked.
#include "routing_module_fixture.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::ChannelText;
using test::Logged;

const std::string kCanal = ChannelText(1, 1, 2, 2, 1, 40, 20, 0.001, 2000, 12);
const std::string kReservoir = "SP 1 (file = sp1.txt V0 = 2000000 C0 = 0 0 0 0 0 0 0 0 0)\n";
const std::string kRules = "[abstraction_rule_reservoir_1]\n2\n0 0\n10000000 50\n\n";

class RoutingReservoirTest : public test::RoutingModuleTest {
protected:
  std::unique_ptr<abflussmodellklasse> Ready(const std::string &descriptions,
                                             const std::string &rules = kRules) {
    auto routing = Build(Section(descriptions) + rules);
    qg_.Resize(3);
    routing->SetQg(&qg_);
    routing->InitializeDischarges();
    routing->SetInitialized(1);
    return routing;
  }
  SubbasinRunoffArrays qg_;
};

TEST_F(RoutingReservoirTest, TheOutletReservoirClosesItsBalanceAndWritesItsTables) {
  auto routing =
      Ready(test::kTestNetwork + "AL 2 (modus = extern) al2.txt 0.1 0.5 0.2 mm)\n" + kReservoir);
  routingclass &outlet = routing->RoutingSubbasin(2);
  SP_class &sp = outlet.Reservoir(1);
  const double area = outlet.TgArea() / outlet.TgFactor();
  for (int day = 1; day <= 20; ++day) {
    for (int i = 1; i <= 3; ++i)
      qg_.Components[0][static_cast<std::size_t>(i)] = 0.5 + (day * i) % 4;
    const double before = sp.state[0];
    routing->ComputeTimeStep(day % 24, 1 + day / 24, 1, 2012);
    const auto &m = sp.report.m3;
    EXPECT_NEAR(sp.state[0],
                before + m[ReservoirReport::Qin] - m[ReservoirReport::Qout] -
                    m[ReservoirReport::Abstr],
                1e-9 * before)
        << day;
    EXPECT_GT(m[ReservoirReport::Abstr], 0.0);
    // The subbasin's outflow is the release.
    EXPECT_NEAR(routing->Flows().RoutingInput[0][3],
                routingclass::ToMillimetres(sp.outflow, area, 60.0), 1e-12);
  }
  routing->FlushOutputs();
  const std::string table = test::ReadWholeFile("sp1.txt");
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 3 + 20);
  const std::string abstractions = test::ReadWholeFile("al2.txt");
  EXPECT_EQ(std::count(abstractions.begin(), abstractions.end(), '\n'), 3 + 20);
}

TEST_F(RoutingReservoirTest, IrrigationOfASubbasinWithTributariesIsTheReservoirsAndTheRiversWater) {
  // The outlet (53 km2 of its own, 114 with its tributaries) irrigates D mm
  // over its own area: R of them from its reservoir, the rest from its river.
  auto dry = Ready(test::kTestNetwork + kReservoir);
  auto irrigated = Ready(test::kTestNetwork + kReservoir);
  IrrigationAmounts amounts;
  amounts.Records = OneBasedArray<ZoneRecord>(3);
  for (std::size_t i = 0; i <= 3; ++i)
    amounts.Records[i] = zoneTable_[i];
  irrigated->SetIrrigationAmounts(&amounts);
  const double ownArea = 53.0; // km2
  struct Case {
    double demand;    // D, mm over the subbasin's own area
    double reservoir; // R, the reservoir's share the irrigation decided
  };
  const std::vector<Case> cases = {{3.0, 1.0}, {0.8, 0.8}, {2.5, 0.0}};
  int step = 0;
  for (const Case &k : cases) {
    SCOPED_TRACE(Concat("D ", k.demand, ", R ", k.reservoir));
    for (ZoneRecord &record : amounts.Records) {
      record.sx = 0.0;
      record.RelCellSum = 1.0;
    }
    amounts.Records[3].sx = k.demand;
    (*irrigated->GetMaxIrrigFromReservoirs())[0][3] = k.reservoir;
    for (int i = 1; i <= 3; ++i)
      qg_.Components[0][static_cast<std::size_t>(i)] = 1.5 + i;
    ++step;
    dry->ComputeTimeStep(step, 1, 1, 2012);
    irrigated->ComputeTimeStep(step, 1, 1, 2012);
    const auto &wet = irrigated->RoutingSubbasin(2).Reservoir(1).report.m3;
    const auto &none = dry->RoutingSubbasin(2).Reservoir(1).report.m3;
    const double reservoirWater = wet[ReservoirReport::Irrig];
    const double riverWater = none[ReservoirReport::Qin] - wet[ReservoirReport::Qin];
    const double applied = k.demand * ownArea * 1000.0; // m3
    EXPECT_NEAR(reservoirWater, k.reservoir * ownArea * 1000.0, 1e-9 * applied);
    // The river's part is seen through the inflow in m3/s, whose documented
    // factor 16.6666667 (for 50/3) is 2e-9 too large.
    EXPECT_NEAR(reservoirWater + riverWater, applied, 3e-9 * applied);
  }
}

TEST_F(RoutingReservoirTest, AnInternalAbstractionFeedsItsInflowElsewhere) {
  // Subbasin 2 takes a share of its flow and hands it to the inflow of 3.
  auto routing = Ready("TG 2 (middle) A= 61 F= 1\n" + std::string("OL 1") +
                           ChannelText(2, 6, 5, 50, 1, 25, 15, 0.005, 6000, 37) +
                           "\nAL 1 (modus = intern 0 0.5 100 mm)\nTG 3 (outlet) A= 114 F= 1\n" +
                           "OL 2" + ChannelText(3, 8, 8, 80, 1.5, 30, 15, 0.003, 8000, 61) +
                           "\nZL 1 Q= intern" + kCanal + "\n",
                       "");
  for (int i = 1; i <= 3; ++i)
    qg_.Components[0][static_cast<std::size_t>(i)] = 2.0;
  routing->ComputeTimeStep(1, 1, 1, 2012);
  routingclass &middle = routing->RoutingSubbasin(1);
  EXPECT_GT(middle.GetAbstractionSum(), 0.0);
  // The inflow (flow index nsub + 1) carries the abstraction in m3/s.
  const double rate = routingclass::ToCubicMetresPerSecond(
      middle.GetAbstractionSum(), middle.TgArea() / middle.TgFactor(), 60.0);
  EXPECT_NEAR(routing->Flows().SubIntervalInput.Row(0, 1)[4],
              routingclass::ToMillimetres(rate, 12, 60.0), 1e-9);
}

// The m3/s values (fifth column) of the rows of an element's table.
std::vector<double> TableRates(const std::string &name) {
  std::istringstream in(test::ReadWholeFile(name));
  std::string line;
  for (int header = 0; header < 3; ++header)
    std::getline(in, line);
  std::vector<double> rates;
  while (std::getline(in, line)) {
    std::istringstream row(line);
    double date[4] = {};
    double rate = 0.0;
    if (row >> date[0] >> date[1] >> date[2] >> date[3] >> rate)
      rates.push_back(rate);
  }
  return rates;
}

TEST_F(RoutingReservoirTest, AbstractionsFollowTheAreaOfTheZoneGrid) {
  // The outlet's TG line states 228 km2, the zone grid gives it 114: the
  // thresholds and maxima in m3/s keep their meaning over the grid's area.
  struct Case {
    const char *table;
    double threshold; // m3/s
    double maximum;   // m3/s
  };
  const std::vector<Case> cases = {{"abstraction_7.txt", 0.0, 0.4},
                                   {"abstraction_8.txt", 0.0, 1000.0},
                                   {"abstraction_9.txt", 2.0, 1000.0}};
  for (const Case &c : cases) {
    auto routing = Ready("TG 2 (middle) A= 61 F= 1\n" + test::kTestOl1 +
                             "TG 3 (outlet) A= 228 F= 1\n" + test::kTestOl2 +
                             Concat("AL 7 (modus = extern) ", c.table, " ", c.threshold, " 1 ",
                                    c.maximum, " m3/s)\n"),
                         "");
    EXPECT_DOUBLE_EQ(routing->RoutingSubbasin(2).TgArea(), 114.0);
    for (int step = 1; step <= 5; ++step) {
      for (int i = 1; i <= 3; ++i)
        qg_.Components[0][static_cast<std::size_t>(i)] = 2.0 + step;
      routing->ComputeTimeStep(step, 1, 1, 2012);
    }
    routing->FlushOutputs();
  }
  EXPECT_TRUE(Logged("area in contr.file: 228 <-> zone-grid 114 (adjusted to the latter)"));
  const std::vector<double> capped = TableRates("abstraction_7.txt");
  const std::vector<double> whole = TableRates("abstraction_8.txt");
  const std::vector<double> aboveThreshold = TableRates("abstraction_9.txt");
  ASSERT_EQ(capped.size(), 5u);
  ASSERT_EQ(whole.size(), 5u);
  ASSERT_EQ(aboveThreshold.size(), 5u);
  for (std::size_t row = 0; row < capped.size(); ++row) {
    EXPECT_GT(whole[row], 2.0) << row;
    EXPECT_NEAR(capped[row], 0.4, 1e-6) << row;
    EXPECT_NEAR(aboveThreshold[row], whole[row] - 2.0, 1e-5 * whole[row]) << row;
  }
}

TEST_F(RoutingReservoirTest, ConnectionsOfInternalInflowsAsATable) {
  const std::string tg2 = "TG 2 (middle) A= 61 F= 1\nOL 1" +
                          ChannelText(2, 6, 5, 50, 1, 25, 15, 0.005, 6000, 37) + "\n";
  const std::string tg3 = "TG 3 (outlet) A= 114 F= 1\nOL 2" +
                          ChannelText(3, 8, 8, 80, 1.5, 30, 15, 0.003, 8000, 61) + "\n";
  const std::string inflow = "ZL 1 Q= intern" + kCanal + "\n";
  const std::string al1 = "AL 1 (modus = intern 0 0.5 100 mm)\n";
  const struct {
    std::string descriptions;
    int exitCode;
    const char *text;
  } cases[] = {
      {tg2 + al1 + al1 + tg3 + inflow, 300, "Inflow 1 is already connected"},
      {tg2 + tg3 + al1 + inflow, 301, "are both defined for the same routing-subbasin TG 3"},
      {tg2 + tg3 + inflow, 302, "Internal Inflow ZL 1 has no conenction"},
      {tg2 + al1 + tg3, 303, "Internal abstraction AL 1 is not connected to any internal inflow"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(test::ExitCodeOf([&] { Ready(c.descriptions, ""); }), c.exitCode) << c.text;
    EXPECT_TRUE(Logged(c.text)) << c.text;
  }
}

} // namespace
} // namespace tavro
