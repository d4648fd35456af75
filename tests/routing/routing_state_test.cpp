// The routing state section: written, read into a fresh network and written
// again gives the same text; a run split through the state file equals one
// long run; files of another network are refused with their position.
#include "routing_module_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavro {
namespace {

using test::ChannelText;
using test::Logged;

// Every kind of element with a state: an OL channel, a SUMTRIB channel with
// an "&" member, an inflow; the zones 1..4.
const std::string kStateNetwork =
    "TG 3 (middle) A= 77 F= 1\nOL 1" + ChannelText(2, 6, 5, 50, 1, 25, 15, 0.005, 6000, 37) +
    "\nTG 4 (outlet) A= 114 F= 1\nSUMTRIB 3&2" +
    ChannelText(3, 8, 8, 80, 1.5, 30, 15, 0.003, 8000, 101) + "\nZL 1 Q= constant 0.5" +
    ChannelText(1, 1, 2, 2, 1, 40, 20, 0.001, 2000, 10) + "\n";
constexpr const char *kState = "routing.ska";

class RoutingStateTest : public test::RoutingModuleTest {
protected:
  RoutingStateTest() { SetZones({{1, 37.0}, {2, 24.0}, {3, 40.0}, {4, 13.0}}); }

  // A module ready to step, with the river table; state read in mode readMode.
  std::unique_ptr<abflussmodellklasse> Ready(int readMode,
                                             const std::string &network = kStateNetwork,
                                             const std::string &line3 = "1 2000 20 2",
                                             int tracers = 1, const std::string &rules = "") {
    auto routing = Build(Section(network, line3, 1, 1440) + rules, tracers);
    routing->LakeGridSwitch = readMode;
    qg_.Resize(4);
    SetRunoff(0);
    routing->SetQg(&qg_);
    routing->InitializeDischarges();
    table_.Records = OneBasedArray<RiverflowRecord>(4);
    routing->SetRiverflowTable(&table_);
    routing->ReadStorage(kState, readMode);
    routing->SetInitialized(1);
    return routing;
  }
  void SetRunoff(int t) {
    for (int i = 1; i <= 4; ++i) {
      qg_.Components[0][static_cast<std::size_t>(i)] = 0.4 * i + 3.0 * ((t * 7 + i) % 5);
      qg_.Components[1][static_cast<std::size_t>(i)] = 10.0 + i + t % 3;
    }
  }
  // Steps first..last (days of January 2012); the outlet's discharge and
  // concentration after each.
  std::vector<double> Steps(abflussmodellklasse &routing, int first, int last) {
    std::vector<double> out;
    for (int t = first; t <= last; ++t) {
      SetRunoff(t);
      routing.ComputeTimeStep(0, t, 1, 2012);
      out.push_back(routing.Flows().RoutingInput[0][4]);
      out.push_back(routing.Flows().RoutingInput[1][4]);
    }
    return out;
  }

  SubbasinRunoffArrays qg_;
  riverflow_table table_;
};

TEST_F(RoutingStateTest, WrittenReadAndWrittenAgainIsTheSameText) {
  auto first = Ready(0);
  Steps(*first, 1, 6);
  first->ReleaseMemory();
  const std::string written = test::ReadWholeFile(kState);
  EXPECT_EQ(written.rfind("[routing_model]\n3 (routing subbasin with tributaries 1\n0 1 (tracer/"
                          "flow index and tributary subbasin)\n",
                          0),
            0u);
  for (const char *line :
       {"(riverflow_table[2].flow_mm[2])\n", "(riverflow_table[3].flowm3s/speed\n",
        "0 5 (tracer/flow index and external inflow)\n",
        " (wqtab[local tributary 1].Qaus[subchannel 1][1..2])\n", "0 (number of reservoirs)\n\n\n"})
    EXPECT_NE(written.find(line), std::string::npos) << line;

  auto second = Ready(1);
  second->ReleaseMemory();
  EXPECT_EQ(test::ReadWholeFile(kState), written);
}

TEST_F(RoutingStateTest, ARunSplitThroughTheStateEqualsOneLongRun) {
  auto whole = Ready(0);
  const std::vector<double> longRun = Steps(*whole, 1, 12);
  whole.reset();

  auto head = Ready(0);
  std::vector<double> split = Steps(*head, 1, 5);
  head->ReleaseMemory();
  auto tail = Ready(3);
  const std::vector<double> rest = Steps(*tail, 6, 12);
  split.insert(split.end(), rest.begin(), rest.end());
  ASSERT_EQ(split.size(), longRun.size());
  for (std::size_t k = 0; k < split.size(); ++k)
    EXPECT_EQ(split[k], longRun[k]) << k; // to the bit
}

// Sub-channels whose flood plain holds water that a split of the outflow by
// the flood share would not give it: a state read back must carry that part.
int FloodPlainsApartFromTheShare(abflussmodellklasse &routing) {
  int count = 0;
  for (int n = 1; n <= routing.RoutingSubbasinCount(); ++n) {
    routingclass &basin = routing.RoutingSubbasin(n);
    for (int i = 1; i <= basin.ChannelCount(); ++i) {
      RoutingChannel c = basin.Channel(i);
      for (int sc = 1; sc <= c.Subchannels(); ++sc) {
        const double share = c.qvzuq[static_cast<std::size_t>(sc)];
        const double *total = c.QausRow(sc, 2);
        const double *flood = c.FloodOutflowRow(sc, 2);
        for (int s = 1; s <= 2; ++s)
          count += flood[s] != share * total[s] ? 1 : 0;
      }
    }
  }
  return count;
}

// The state file without the flood plain's outflows, as files were written
// before the flood plain kept its own water.
void DropFloodPlainOutflows() {
  std::string text = test::ReadWholeFile(kState);
  for (std::size_t at = text.find(" flood plain outflow "); at != std::string::npos;
       at = text.find(" flood plain outflow ", at))
    text.erase(at, text.find('\n', at) - at);
  test::WriteFixture(kState, text);
}

TEST_F(RoutingStateTest, ARunSplitMidFloodContinuesToTheBit) {
  // Runoff of 1 to 30 mm a day floods the channels (flood plains slower
  // than the main channels); the split falls into a falling flood.
  const auto flood = [this](int t) {
    for (int i = 1; i <= 4; ++i)
      qg_.Components[0][static_cast<std::size_t>(i)] = t >= 3 && t <= 5 ? 30.0 - 4.0 * i : 1.0;
  };
  const auto steps = [&](abflussmodellklasse &routing, int first, int last) {
    std::vector<double> out;
    for (int t = first; t <= last; ++t) {
      SetRunoff(t);
      flood(t);
      routing.ComputeTimeStep(0, t, 1, 2012);
      out.push_back(routing.Flows().RoutingInput[0][4]);
    }
    return out;
  };
  auto whole = Ready(0);
  const std::vector<double> longRun = steps(*whole, 1, 14);
  whole.reset();

  auto head = Ready(0);
  std::vector<double> split = steps(*head, 1, 6);
  ASSERT_GT(FloodPlainsApartFromTheShare(*head), 0);
  head->ReleaseMemory();
  auto tail = Ready(3);
  EXPECT_GT(FloodPlainsApartFromTheShare(*tail), 0);
  const std::vector<double> rest = steps(*tail, 7, 14);
  split.insert(split.end(), rest.begin(), rest.end());
  ASSERT_EQ(split.size(), longRun.size());
  for (std::size_t k = 0; k < split.size(); ++k)
    EXPECT_EQ(split[k], longRun[k]) << k; // to the bit

  // A file without the flood plain's part splits the outflows by the share.
  auto older = Ready(0);
  steps(*older, 1, 6);
  older->ReleaseMemory();
  DropFloodPlainOutflows();
  auto restarted = Ready(3);
  EXPECT_EQ(FloodPlainsApartFromTheShare(*restarted), 0);
  EXPECT_NE(steps(*restarted, 7, 14), rest);
}

TEST_F(RoutingStateTest, OlderFilesRestartChannelsOfEqualConstantsToTheBit) {
  // Equal storage constants make the split of the outflow irrelevant: a file
  // without the flood plain's part continues as the one long run.
  const std::string alike = "TG 3 (middle) A= 77 F= 1\nOL 1" +
                            ChannelText(3, 3, 2, 50, 0.5, 25, 15, 0.005, 6000, 37) +
                            "\nTG 4 (outlet) A= 114 F= 1\nSUMTRIB 3&2" +
                            ChannelText(4, 4, 3, 80, 0.5, 30, 15, 0.003, 8000, 101) + "\n";
  auto whole = Ready(0, alike);
  const std::vector<double> longRun = Steps(*whole, 1, 12);
  whole.reset();
  auto head = Ready(0, alike);
  std::vector<double> split = Steps(*head, 1, 5);
  ASSERT_GT(FloodPlainsApartFromTheShare(*head), 0);
  head->ReleaseMemory();
  DropFloodPlainOutflows();
  auto tail = Ready(3, alike);
  const std::vector<double> rest = Steps(*tail, 6, 12);
  split.insert(split.end(), rest.begin(), rest.end());
  ASSERT_EQ(split.size(), longRun.size());
  for (std::size_t k = 0; k < split.size(); ++k)
    EXPECT_EQ(split[k], longRun[k]) << k;
}

// The outlet subbasin with a reservoir of a linear rule and one abstraction.
const std::string kReservoirNetwork = kStateNetwork +
                                      "AL 2 (modus = extern) al2.txt 0.1 0.5 2 mm)\n" +
                                      "SP 1 (file = sp1.txt V0 = 3000000 C0 = 4 0 0 0 0 0 0 0 0)\n";
const std::string kReservoirRule = "[abstraction_rule_reservoir_1]\n2\n0 0\n10000000 40\n\n";

TEST_F(RoutingStateTest, TheStateCarriesTheReservoirsAndASplitRunEqualsOneLongRun) {
  auto whole = Ready(0, kReservoirNetwork, "1 2000 20 2", 1, kReservoirRule);
  const std::vector<double> longRun = Steps(*whole, 1, 12);
  const std::vector<double> volume = whole->RoutingSubbasin(2).Reservoir(1).state;
  whole.reset();

  auto head = Ready(0, kReservoirNetwork, "1 2000 20 2", 1, kReservoirRule);
  std::vector<double> split = Steps(*head, 1, 5);
  const std::vector<double> stored = head->RoutingSubbasin(2).Reservoir(1).state;
  head->ReleaseMemory();
  const std::string written = test::ReadWholeFile(kState);
  EXPECT_NE(written.find("1 (number of reservoirs)\n"), std::string::npos);
  auto tail = Ready(3, kReservoirNetwork, "1 2000 20 2", 1, kReservoirRule);
  EXPECT_EQ(tail->RoutingSubbasin(2).Reservoir(1).state, stored); // to the bit
  const std::vector<double> rest = Steps(*tail, 6, 12);
  split.insert(split.end(), rest.begin(), rest.end());
  ASSERT_EQ(split.size(), longRun.size());
  for (std::size_t k = 0; k < split.size(); ++k)
    EXPECT_EQ(split[k], longRun[k]) << k;
  EXPECT_EQ(tail->RoutingSubbasin(2).Reservoir(1).state, volume);
  EXPECT_NE(volume[0], 3000000.0);
}

TEST_F(RoutingStateTest, FilesOfAnotherNetworkAreRefused) {
  auto written = Ready(0);
  Steps(*written, 1, 3);
  written->ReleaseMemory();
  const std::string reordered =
      "TG 4 (outlet) A= 114 F= 1\nSUMTRIB 3&2" +
      ChannelText(3, 8, 8, 80, 1.5, 30, 15, 0.003, 8000, 101) + "\nZL 1 Q= constant 0.5" +
      ChannelText(1, 1, 2, 2, 1, 40, 20, 0.001, 2000, 10) + "\nTG 3 (middle) A= 77 F= 1\nOL 1" +
      ChannelText(2, 6, 5, 50, 1, 25, 15, 0.005, 6000, 37) + "\n";
  struct Case {
    const char *name;
    std::string network;
    std::string line3;
    int tracers;
    std::string entry;
  };
  const std::vector<Case> cases = {
      {"reordered", reordered, "1 2000 20 2", 1,
       "FATAL: error reading subbasin code in file " + std::string(kState) + " (position 1)"},
      // Other chain lengths put the reading out of step (values that cannot
      // be read stay as they are); the first header that does not match
      // tells: the tracer header after a longer chain, the reservoir count
      // after the values of a tracer too many.
      {"tracers", kStateNetwork, "1 2000 20 2", 0,
       "FATAL: error reading reservoir code in file " + std::string(kState) + " (position 7)"},
      {"sub-intervals", kStateNetwork, "1 2000 20 3", 1,
       "FATAL: error reading tracer code in file " + std::string(kState) + " (position 3)"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(test::ExitCodeOf([&] { Ready(1, c.network, c.line3, c.tracers); }), 71) << c.name;
    EXPECT_TRUE(Logged(c.entry)) << c.name;
  }
  test::WriteFixture(kState, "[unsatzon_model]\n");
  EXPECT_EQ(test::ExitCodeOf([&] { Ready(1); }), 71);
  EXPECT_TRUE(
      Logged("FATAL: error looking for the section routing_model in " + std::string(kState)));
  std::remove(kState);
  EXPECT_EQ(test::ExitCodeOf([&] { Ready(5); }), 64);
  EXPECT_TRUE(Logged("FATAL: error opening storage content file " + std::string(kState)));
  // Modes 0, 2 and 4 read nothing: a missing file is no error.
  for (const int mode : {0, 2, 4})
    EXPECT_EQ(test::ExitCodeOf([&] { Ready(mode); }), -1) << mode;
}

TEST_F(RoutingStateTest, ABlockWithoutChannelsOrReservoirs) {
  auto routing = Ready(0, "TG 1 (alone) A= 37 F= 1\n", "1 2000 20 2", 0);
  routing->ReleaseMemory();
  EXPECT_EQ(
      test::ReadWholeFile(kState),
      "[routing_model]\n1 (routing subbasin with tributaries\n0 (number of reservoirs)\n\n\n\n");
}

TEST_F(RoutingStateTest, AStateThatCannotBeWrittenEndsTheRunAfterTheRelease) {
  const std::string lake = "TG 1 (lake) A= 37 F= 1\nSP 4 file= sp4.out V0= 12500.5 C0= 3.25 8 8 "
                           "8 8 8 8 8 8 dTmin= 60\n";
  auto routing =
      Ready(0, lake, "1 2000 20 2", 1, "[abstraction_rule_reservoir_4]\n2\n0 0\n10000000 40\n\n");
  routing->ReadStorage("no_such_directory/routing.ska", 0);
  Steps(*routing, 1, 6);
  EXPECT_EQ(test::ExitCodeOf([&] { routing->ReleaseMemory(); }), 18);
  EXPECT_TRUE(Logged("FATAL: write error no_such_directory/routing.ska ! (1)"));
  // Released all the same: the reservoir's table holds every step.
  const std::string table = test::ReadWholeFile("sp4.out");
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 3 + 6);
}

TEST_F(RoutingStateTest, ReservoirsWriteTheirStartOrTheStateRead) {
  const std::string one = "TG 1 (lake) A= 37 F= 1\nSP 4 file= sp4.out V0= 12500.5 C0= 3.25 8 8 "
                          "8 8 8 8 8 8 dTmin= 60\n";
  const std::string rule4 = "[abstraction_rule_reservoir_4]\n2\n0 0\n10000000 40\n\n";
  auto started = Ready(0, one, "1 2000 20 2", 1, rule4);
  EXPECT_EQ(started->RoutingSubbasin(1).ReservoirStates()[1], (std::vector<double>{12500.5, 3.25}));
  started->ReleaseMemory();
  const std::string written = test::ReadWholeFile(kState);
  EXPECT_EQ(written, "[routing_model]\n1 (routing subbasin with tributaries\n1 (number of "
                     "reservoirs)\n12500.5 3.25  (reservoir 1)\n\n\n\n");

  // A later run starts from the state read, not from the element's values,
  // and writes it back unchanged.
  std::string stored = written;
  stored.replace(stored.find("12500.5"), 7, "0.10000000000000001");
  test::WriteFixture(kState, stored);
  auto restarted = Ready(1, one, "1 2000 20 2", 1, rule4);
  EXPECT_EQ(restarted->RoutingSubbasin(1).ReservoirStates()[1], (std::vector<double>{0.1, 3.25}));
  restarted->ReleaseMemory();
  EXPECT_EQ(test::ReadWholeFile(kState), stored);

  // Another count of reservoirs is another network.
  const std::string two = one + "SP 5 file= sp5.out V0= 1 C0= 0 0 0 0 0 0 0 0 0\n";
  const std::string rule5 = "[abstraction_rule_reservoir_5]\n2\n0 0\n10000000 40\n\n";
  EXPECT_EQ(test::ExitCodeOf([&] { Ready(1, two, "1 2000 20 2", 1, rule4 + rule5); }), 71);
  EXPECT_TRUE(Logged("FATAL: error reading reservoir code in file " + std::string(kState) +
                     " (position 2)"));
}

} // namespace
} // namespace tavro
