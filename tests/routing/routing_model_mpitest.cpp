// The routing is the work of rank 0: every other rank stops after the base
// construction and keeps only whether the routing is on. The table files
// are written once, by rank 0.
#include "routing_module_fixture.h"

#include <gtest/gtest.h>
#include <mpi.h>

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
      EXPECT_EQ(routing->GetMaxIrrig(), nullptr);
    }
    EXPECT_FALSE(routing->ControlFile().IsOpen());
    MPI_Barrier(MPI_COMM_WORLD);
    EXPECT_TRUE(test::FileExists("wq_table.001"));
  }
  // Off: rank 0 still marks the base as built.
  auto off = Build(Section(network, "1 2000 20 1", 0, 1440));
  EXPECT_EQ(off->RoutingOn(), test::Rank() == 0 ? 1 : 0);
}

} // namespace
} // namespace tavro
