// The routing is the work of rank 0: every other rank stops after the base
// construction and keeps only whether the routing is on. The table files
// are written once, by rank 0.
#include "routing_module_fixture.h"

#include "raster/parallel/non_finite_water.h"

#include <gtest/gtest.h>
#include <mpi.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

namespace tavro {
namespace {

using test::ChannelText;

class RoutingRanksTest : public test::RoutingModuleTest {};

TEST_F(RoutingRanksTest, OnlyRankZeroBuildsTheNetwork) {
  const std::string network =
      "TG 2 A= 61 F= 1\nOL 1" + ChannelText(2, 6, 5, 50, 1, 25, 15, 0.005, 6000, 37) + "\n";
  for (const int flowControl : {1, 3}) {
    auto routing = Build(Section(network, "1 2000 20 1", flowControl, 1440));
    if (test::Rank() == 0) {
      EXPECT_EQ(routing->RoutingOn(), 1);
      EXPECT_EQ(routing->IsActive(), flowControl);
      EXPECT_EQ(routing->RoutingSubbasinCount(), 1);
      EXPECT_NE(routing->GetMaxIrrig(), nullptr);
    } else {
      EXPECT_EQ(routing->RoutingOn(), flowControl);
      EXPECT_EQ(routing->IsActive(), 0);
      EXPECT_EQ(routing->RoutingSubbasinCount(), 0);
      // The irrigation of every rank sees the routing on; rank 0 fills the arrays.
      EXPECT_NE(routing->GetMaxIrrig(), nullptr);
      EXPECT_EQ(routing->GetMaxIrrig()->SubbasinCount(), 0);
    }
    EXPECT_FALSE(routing->ControlFile().IsOpen());
    MPI_Barrier(MPI_COMM_WORLD);
    EXPECT_TRUE(test::FileExists("wq_table.001"));
  }
  // Off: rank 0 still marks the base as built.
  auto off = Build(Section(network, "1 2000 20 1", 0, 1440));
  EXPECT_EQ(off->RoutingOn(), test::Rank() == 0 ? 1 : 0);
}

// Runoff that is no usable number reaching one subbasin stops the routing
// step on every process with the exit code, and rank 0's FATAL entry names
// the module and the first subbasin (by code) whose routed flow is not usable.
TEST_F(RoutingRanksTest, FlowThatIsNoNumberStopsTheRun) {
  struct Case {
    int subbasin; // given the bad runoff
    double value;
    const char *named; // the value and subbasin the entry names
  };
  const double inf = std::numeric_limits<double>::infinity();
  for (const Case &k : {Case{1, std::nan(""), "the routed flow holds nan at subbasin 1"},
                        Case{3, inf, "the routed flow holds inf at subbasin 3"}}) {
    SCOPED_TRACE(k.subbasin);
    auto routing = Build(Section(test::kTestNetwork, "1 2000 20 1", 1, 1440));
    SubbasinRunoffArrays qg;
    qg.Resize(3);
    for (int i = 1; i <= 3; ++i)
      qg.Components[0][static_cast<std::size_t>(i)] = 1.0 + 0.5 * i;
    routing->SetQg(&qg);
    routing->InitializeDischarges();
    routing->ComputeTimeStep(0, 1, 1, 2012); // usable runoff passes
    qg.Components[0][static_cast<std::size_t>(k.subbasin)] = k.value;
    const int code = test::ExitCodeOf([&] { routing->ComputeTimeStep(0, 2, 1, 2012); });
    EXPECT_EQ(code, NonFiniteWaterExitCode);
    if (test::Rank() == 0) {
      EXPECT_TRUE(test::Logged(
          std::string("FATAL: routing_model: water out of range on 2.1.2012 0h: ") + k.named))
          << test::ReadWholeFile("Tavro_Diag_0.xml");
    }
    MPI_Barrier(MPI_COMM_WORLD);
  }
}

} // namespace
} // namespace tavro

namespace tavro {
namespace {

// The river exchange across processes: what every process books reaches the
// routing on rank 0 exactly as if rank 0 had booked the whole of it, and
// every process reads rank 0's flows afterwards.
class RiverExchangeRanksTest : public test::RoutingModuleTest {
protected:
  struct Result {
    std::vector<double> outlet;  // rank 0: the outlet's discharge per step
    std::vector<double> records; // this process: flow_mm[0], flowm3s, speed of every record
  };
  // bookedBy(cell) is the rank that books cell's withdrawal.
  Result Run(const std::function<int(int)> &bookedBy) {
    auto routing = Build(Section(test::kTestNetwork, "1 2000 20 1", 1, 1440));
    SubbasinRunoffArrays qg;
    qg.Resize(3);
    auto runoff = [&](int t) {
      for (int i = 1; i <= 3; ++i)
        qg.Components[0][static_cast<std::size_t>(i)] = 1.0 + 0.5 * i + (t % 4);
    };
    runoff(0);
    routing->SetQg(&qg);
    routing->InitializeDischarges();
    riverflow_table table;
    table.Records = OneBasedArray<RiverflowRecord>(3);
    routing->SetRiverflowTable(&table);
    // Every process holds the records of the network's tributaries.
    EXPECT_EQ(table.Records[1].routingNumber, 1);
    EXPECT_EQ(table.Records[2].routingNumber, 2);
    EXPECT_EQ(table.Records[2].channelIndex, 1);
    EXPECT_EQ(table.Records[2].area, 61.0);
    EXPECT_GT(table.Records[2].speed, 0.0);
    Result result;
    for (int t = 1; t <= 6; ++t) {
      runoff(t);
      // Seven river cells of subbasin 2 take water from the river (m3/s).
      for (int cell = 0; cell < 7; ++cell)
        if (bookedBy(cell) == test::Rank())
          table.Records[2].exchange += 0.01 * (cell + 1) / 3.0;
      routing->ComputeTimeStep(0, t, 1, 2012);
      if (test::Rank() == 0) // the flows live where the routing runs
        result.outlet.push_back(routing->Flows().RoutingInput[0][3]);
      for (int i = 1; i <= 3; ++i) {
        const RiverflowRecord &r = table.Records[static_cast<std::size_t>(i)];
        result.records.insert(result.records.end(), {r.flow_mm[0], r.flowm3s, r.speed, r.exchange});
      }
    }
    return result;
  }
};

TEST_F(RiverExchangeRanksTest, EveryProcessBooksAndReadsTheSameRiver) {
  const Result spread = Run([](int cell) { return cell % test::ProcessCount(); });
  const Result onRankZero = Run([](int) { return 0; });
  if (test::Rank() == 0) {
    EXPECT_EQ(spread.outlet, onRankZero.outlet);
    // The withdrawal lowered the outlet's discharge.
    const Result none = Run([](int) { return -1; });
    EXPECT_LT(spread.outlet.back(), none.outlet.back());
  } else {
    Run([](int) { return -1; });
  }
  // Every process reads rank 0's records.
  std::vector<double> rankZero = spread.records;
  MPI_Bcast(rankZero.data(), static_cast<int>(rankZero.size()), MPI_DOUBLE, 0, MPI_COMM_WORLD);
  EXPECT_EQ(spread.records, rankZero);
}

} // namespace
} // namespace tavro
