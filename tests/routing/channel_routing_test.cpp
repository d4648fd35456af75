// The routing step on small networks: a unit pulse through one linear
// storage, a constant inflow, a translation delay, SUMTRIB mixing with its
// area shares, the order of the descriptions and the table files.
#include "routing/channels/water_level_table.h"
#include "routing_module_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::ChannelText;
using test::Logged;
using test::NetworkRun;

class ChannelRoutingTest : public test::RoutingModuleTest {
protected:
  ChannelRoutingTest() { SetZones({{1, 10.0}, {2, 10.0}}); }
};

// A deep channel of 1 m: no flood plain, no delay, storage constant k hours.
std::string ShortChannel(double k) { return ChannelText(k, k, 10, 10, 100, 30, 30, 0.001, 1, 10); }

TEST_F(ChannelRoutingTest, AUnitPulseLeavesThroughOneLinearStorage) {
  auto routing = Build(Section("TG 2 A= 20 F= 1\nOL 1" + ShortChannel(5) + "\n"));
  const routingclass &subbasin = routing->RoutingSubbasin(1);
  ASSERT_EQ(subbasin.Channel(1).wqtab.largestDelta, 0);
  ASSERT_EQ(subbasin.Channel(1).Subchannels(), 1);
  ASSERT_EQ(subbasin.Channel(1).wqtab.rows[1].floodShare, 0.0);
  const double share = subbasin.AreaShare(1);
  EXPECT_DOUBLE_EQ(share, 0.5);

  NetworkRun run(*routing, {0, 0, 0});
  const double c = std::exp(-1.0 / 5.0);
  double sum = 0.0;
  for (int t = 1; t <= 400; ++t) {
    const double out = run.Step({0, t == 1 ? 1.0 : 0.0, 0}, 2) / share;
    EXPECT_NEAR(out, (1 - c) * std::pow(c, t - 1), 1e-15) << t;
    sum += out;
  }
  EXPECT_NEAR(sum, 1.0, 1e-12);
}

TEST_F(ChannelRoutingTest, AConstantInflowPassesUnchanged) {
  auto routing = Build(Section("TG 2 A= 20 F= 1\nOL 1" + ShortChannel(3) + "\n"));
  NetworkRun steady(*routing, {0, 4.0, 0});
  for (int t = 1; t <= 20; ++t)
    EXPECT_NEAR(steady.Step({0, 4.0, 1.0}, 2), 0.5 * 4.0 + 0.5 * 1.0, 1e-12);

  auto fresh = Build(Section("TG 2 A= 20 F= 1\nOL 1" + ShortChannel(3) + "\n"));
  NetworkRun filling(*fresh, {0, 0, 0});
  double out = 0.0;
  for (int t = 1; t <= 300; ++t)
    out = filling.Step({0, 4.0, 0}, 2);
  EXPECT_NEAR(out, 2.0, 1e-12);
}

TEST_F(ChannelRoutingTest, ADelayShiftsThePulseBySubIntervals) {
  // One discharge only (qspecMin = qspecMax): every row has the same delay.
  // The length makes the travel time 1.75 h: at K 2 per hour, 3 sub-intervals.
  const std::string channel = ChannelText(0.01, 0.01, 10, 10, 100, 30, 30, 0.001, 1, 10);
  const WaterLevelTable probe = BuildWaterLevelTable(
      ChannelParametersWithDefaults({0.01, 0.01, 10, 10, 100, 30, 30, 0.001, 1, 10}),
      {10, 10, 1, 60, 2});
  const double length = 1.75 * 3600.0 * probe.rows[1].vMean;
  auto routing =
      Build(Section("TG 2 A= 20 F= 1\nOL 1" +
                        ChannelText(0.01, 0.01, 10, 10, 100, 30, 30, 0.001, length, 10) + "\n",
                    "10 10 1 2"));
  const routingclass &subbasin = routing->RoutingSubbasin(1);
  ASSERT_EQ(subbasin.Channel(1).wqtab.rows[1].delta, 3);
  ASSERT_EQ(subbasin.Channel(1).wqtab.rows[2].delta, 3);

  NetworkRun run(*routing, {0, 0, 0});
  RoutingFlowArrays &f = routing->Flows();
  std::vector<double> leaving; // per sub-interval, over all steps
  for (int step = 1; step <= 5; ++step) {
    for (int s = 1; s <= 2; ++s) {
      f.SubIntervalInput.Row(0, s)[1] = step == 1 && s == 1 ? 1.0 : 0.0;
      f.SubIntervalInput.Row(0, s)[2] = 0.0;
    }
    run.Route();
    for (int s = 1; s <= 2; ++s)
      leaving.push_back(f.SubIntervalInput.Row(0, s)[2] / subbasin.AreaShare(1));
  }
  for (std::size_t g = 0; g < leaving.size(); ++g)
    EXPECT_NEAR(leaving[g], g == 3 ? 1.0 : 0.0, 1e-12) << "sub-interval " << g + 1;
}

TEST_F(ChannelRoutingTest, SumtribMixesItsMembersByArea) {
  SetZones({{1, 10.0}, {2, 30.0}, {3, 60.0}});
  tracers_[1].half_time = -9999.0;
  auto routing =
      Build(Section("TG 3 A= 100 F= 1\nSUMTRIB 1&2" + ShortChannel(0.01) + " (1 and 2)\n"), 1);
  const routingclass &outlet = routing->RoutingSubbasin(1);
  EXPECT_DOUBLE_EQ(outlet.AreaShare(0), 0.6);
  EXPECT_DOUBLE_EQ(outlet.AreaShare(1), 0.4);
  EXPECT_NEAR(outlet.TgArea(), 100.0, 1e-9);
  EXPECT_DOUBLE_EQ(routing->GetAbfrel()->RelativeArea[3], 1.0);

  RoutingFlowArrays &f = routing->Flows();
  const double water[] = {0, 2.0, 6.0, 1.0};
  const double tracer[] = {0, 1.0, 3.0, 5.0};
  NetworkRun run(*routing, {0, 2.0, 6.0, 1.0});
  for (int step = 1; step <= 3; ++step) {
    for (int i = 1; i <= 3; ++i) {
      f.RoutingInput[0][i] = water[i];
      f.RoutingInput[1][i] = tracer[i];
    }
    run.SpreadOverSubIntervals();
    run.Route();
  }
  // 2 mm on 10 km2 and 6 mm on 30 km2 are 5 mm on 40 km2 at
  // (2 x 10 x 1 + 6 x 30 x 3) / (2 x 10 + 6 x 30) = 2.8.
  EXPECT_DOUBLE_EQ(f.SubIntervalInput.Row(1, 1)[1], 2.8);
  // Outlet: 60 km2 at 1 mm and the mix on 40 km2 make 2.6 mm on 100 km2.
  EXPECT_NEAR(f.RoutingInput[0][3], 2.6, 1e-12);
  EXPECT_NEAR(f.RoutingInput[1][3], (0.6 * 5.0 + 2.0 * 2.8) / 2.6, 1e-12);
  // A tracer without a positive half-life does not survive in the chains.
  const std::vector<double> &chain = f.InflowSeries.Chain(1, 1);
  for (int j = 1; j <= outlet.Channel(1).PartLength(1); ++j)
    EXPECT_EQ(chain[static_cast<std::size_t>(j)], 0.0);
}

TEST_F(ChannelRoutingTest, AnInternalInflowArrivesInCubicMetresPerSecond) {
  auto routing = Build(Section("TG 2 A= 10 F= 1\nZL 1 Q= intern" +
                               ChannelText(0.01, 0.01, 10, 10, 100, 30, 30, 0.001, 1, 12) + "\n"));
  RoutingFlowArrays &f = routing->Flows();
  NetworkRun run(*routing, {0, 0, 0});
  EXPECT_EQ(f.RoutingInput[0][3], 0.0); // starts at 0
  for (int step = 1; step <= 2; ++step) {
    run.SetRunoff({0, 0, 0});
    run.SpreadOverSubIntervals();
    f.SubIntervalInput.Row(0, 1)[3] = 2.0; // m3/s, as an abstraction leaves it
    run.Route();
  }
  const double mm = 2.0 * 0.06 * 60 / 12.0;
  EXPECT_DOUBLE_EQ(f.RoutingInput[0][3], mm);
  // 12 km2 of inflow channel spread over the subbasin's 10 km2.
  EXPECT_NEAR(f.RoutingInput[0][2], mm * 12.0 / 10.0, 1e-12);
}

TEST_F(ChannelRoutingTest, DownstreamFirstDescriptionsRouteLikeUpstreamFirst) {
  SetZones({{1, 37.0}, {2, 24.0}, {3, 53.0}});
  const std::string tg2 =
      "TG 2 A= 61 F= 1\nOL 1" + ChannelText(2, 6, 5, 50, 1, 25, 15, 0.005, 30000, 37) + "\n";
  const std::string tg3 =
      "TG 3 A= 114 F= 1\nOL 2" + ChannelText(3, 8, 8, 80, 1.5, 30, 15, 0.003, 50000, 61) + "\n";
  auto upstreamFirst = Build(Section(tg2 + tg3, "1 2000 20 2"));
  EXPECT_FALSE(Logged("WARNING: routing descriptions are computed upstream first"));
  auto downstreamFirst = Build(Section(tg3 + tg2, "1 2000 20 2"));
  EXPECT_TRUE(Logged("WARNING: routing descriptions are computed upstream first, in the order TG "
                     "2 (description 2), TG 3 (description 1); a tributary described after its "
                     "receiving subbasin is routed before it"));
  EXPECT_EQ(downstreamFirst->ComputationOrder(), (std::vector<int>{2, 1}));
  EXPECT_GT(upstreamFirst->RoutingSubbasin(2).Channel(1).wqtab.largestDelta, 0);
  for (int i = 0; i <= 3; ++i)
    EXPECT_EQ(upstreamFirst->GetAbfrel()->RelativeArea[static_cast<std::size_t>(i)],
              downstreamFirst->GetAbfrel()->RelativeArea[static_cast<std::size_t>(i)]);

  NetworkRun a(*upstreamFirst, {0, 1.0, 1.0, 1.0});
  NetworkRun b(*downstreamFirst, {0, 1.0, 1.0, 1.0});
  std::mt19937 random(7);
  std::exponential_distribution<double> rain(0.5);
  for (int t = 1; t <= 60; ++t) {
    const std::vector<double> runoff = {0, rain(random), rain(random), rain(random)};
    const double outletA = a.Step(runoff, 3);
    const double outletB = b.Step(runoff, 3);
    EXPECT_EQ(outletA, outletB) << t;
    EXPECT_EQ(upstreamFirst->Flows().RoutingInput[0][2],
              downstreamFirst->Flows().RoutingInput[0][2]);
  }
}

TEST_F(ChannelRoutingTest, TableFileHoldsTheChannelAndItsRows) {
  SetZones({{1, 37.0}, {2, 24.0}});
  auto routing = Build(
      Section("TG 2 A= 61 F= 1\nOL 1" + ChannelText(2, 6, 5, 50, 1, 25, 15, 0.005, 6000, 37) + "\n",
              "10 1000 4 2", 1, 60));
  const std::string expected =
      "waterlevel-discharge-table for the channel of subbasin 1 to the outlet of subbasin 2\n"
      "input parameters from the control file:\n"
      "------------------------------------------\n"
      "storage constant mean channel [h] :    2.00\n"
      "storage constant flood plain [h]  :    6.00\n"
      "width of the mean channel [m]     :    5.00\n"
      "width of flood plains  [m]        :   50.00\n"
      "depth of mean channel  [m]        :    1.00\n"
      "Manning-coef. mean chan[m^(1/3)/s]:   25.00\n"
      "Manning-ceof. flood pl.[m^(1/3)/s]:   15.00\n"
      "slope angle            [1/1]      :  0.0050\n"
      "channel length         [m]        :  6000.0\n"
      "catchment area         [km^2]     :   37.00\n"
      "min. spec. discharge   [l/s/km^2] :    10.0\n"
      "max. spec. discharge   [l/s/km^2] :  1000.0\n"
      "intervals for w-q-table[-]        :       5\n"
      "sub-intervals (time)   [-]        :       2  \n"
      "number of sub-channels            :       2\n"
      "total number of storage elements  :      12  \n"
      "-------------------------------------------------------------------------------\n"
      "  #    q      q       Q     dm    df     v      vm     vf     t   delta   Qm/Q \n"
      "     [mm]  l/s/km2 [m^3/s]  [m]   [m]   [m/s]  [m/s]  [m/s]  [h]  [Int]   [1/1]\n"
      "-------------------------------------------------------------------------------\n"
      "  1  0.036   10.0    0.37   0.15  0.00  0.48   0.48   0.00   3.44    3   0.000\n"
      "  2  0.114   31.6    1.17   0.31  0.00  0.75   0.75   0.00   2.21    2   0.000\n"
      "  3  0.360  100.0    3.70   0.65  0.00  1.14   1.14   0.00   1.47    1   0.000\n"
      "  4  1.138  316.2   11.70   1.18  0.17  1.25   1.53   0.32   1.34    1   0.233\n"
      "  5  3.600 1000.0   37.00   1.61  0.61  1.13   1.74   0.75   1.48    1   0.619\n";
  // By hand: qmm = 0.0036 q dt / 60, Q = q / 1000 x 37, two sub-channels as
  // (3.44 - 1.48) / 2 h <= 1 h, delta = int(t / 2 x K), E + K = (2 + 3) x 2 + 2.
  EXPECT_EQ(test::ReadWholeFile("wq_table.001"), expected);
}

} // namespace
} // namespace tavro
