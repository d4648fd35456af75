// Construction of the routing module from "[routing_model]": its values and
// their checks, the two passes with their log lines, the skip before pass 2,
// the network arrays, the area check and the table files.
#include "routing_module_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::ChannelText;
using test::Logged;

const std::string kOl1 = test::kTestOl1;
const std::string kOl2 = test::kTestOl2;
const std::string kZl1 =
    "ZL 1 Q= constant 0.5" + ChannelText(1, 1, 2, 2, 1, 40, 20, 0.001, 2000, 10) + "\n";
const std::string kNetwork = test::kTestNetwork + kZl1;

class RoutingModelTest : public test::RoutingModuleTest {};

TEST_F(RoutingModelTest, BuildsOneRoutingSubbasinPerDescription) {
  auto routing = Build(Section(kNetwork, "1 2000 20 1", 1, 1440));
  ASSERT_EQ(routing->RoutingSubbasinCount(), 2);
  EXPECT_EQ(routing->RoutingOn(), 1);
  for (const char *line :
       {"number inbetween areas (routings)    : 2", "number tributaries  total      (OL)  : 2",
        " - flowing into another at the end   : 2", " - flowing into another at the start : 0",
        "so the total of routingchannels is   : 2", "number of inflows              (ZL)  : 1",
        "number of abstractions         (AL)  : 0", "number reservoirs              (SP)  : 0",
        "reading routing description 1", "reading routing description 2"})
    EXPECT_TRUE(Logged(line)) << line;

  EXPECT_EQ(routing->QspecMin, 1.0);
  EXPECT_EQ(routing->QspecMax, 2000.0);
  EXPECT_EQ(routing->TableIntervals, 20.0);
  EXPECT_EQ(routing->SubIntervals, 1);
  EXPECT_EQ(routing->StatisticsFileName, "discharge.stat");
  EXPECT_EQ(routing->ObservedFileName, "observed.dat");
  EXPECT_EQ(routing->ComputationOrder(), (std::vector<int>{1, 2}));

  routingclass &outlet = routing->RoutingSubbasin(2);
  EXPECT_EQ(outlet.TgCode(), 3);
  ASSERT_EQ(outlet.ChannelCount(), 2);
  EXPECT_EQ(outlet.Channel(1).tributaryCode, 2);
  EXPECT_EQ(outlet.Channel(2).tributaryCode, 1); // the inflow's number
  EXPECT_EQ(outlet.Channel(2).parameters.channelArea, 10.0);
  EXPECT_EQ(outlet.Inflow(1).kind, InflowKind::Constant);
  EXPECT_EQ(outlet.Inflow(1).values[0], 0.5);

  // Areas: 1 flows into 2, 2 into 3; the outlet drains all 114 km2.
  const DischargeRelations &abfrel = *routing->GetAbfrel();
  EXPECT_DOUBLE_EQ(abfrel.RelativeArea[0], 114.0);
  EXPECT_DOUBLE_EQ(abfrel.RelativeArea[1], 37.0 / 114.0);
  EXPECT_DOUBLE_EQ(abfrel.RelativeArea[2], 61.0 / 114.0);
  EXPECT_DOUBLE_EQ(abfrel.RelativeArea[3], 1.0);
  EXPECT_DOUBLE_EQ(outlet.AreaShare(0), 53.0 / 114.0);
  EXPECT_DOUBLE_EQ(outlet.AreaShare(1), 61.0 / 114.0);
  EXPECT_DOUBLE_EQ(routing->RoutingSubbasin(1).AreaShare(0), 24.0 / 61.0);
  EXPECT_NEAR(outlet.TgArea(), 114.0, 1e-9);
  EXPECT_FALSE(Logged("INFO: Basin"));

  const RoutingTargets &targets = *routing->GetRoutingTarget();
  EXPECT_EQ(targets.Tributaries.Count(), 6u);
  EXPECT_EQ(targets.Tributaries[1], 1);
  EXPECT_EQ(targets.Tributaries[2], 2);
  EXPECT_EQ(targets.Tributaries[3], 0);
  EXPECT_EQ(std::vector<int>(targets.Target.begin(), targets.Target.end()),
            (std::vector<int>{2, 3, 0}));
  EXPECT_EQ(std::vector<int>(targets.Description.begin(), targets.Description.end()),
            (std::vector<int>{0, 1, 2}));

  EXPECT_EQ(routing->GetMaxIrrig()->TracerCount(), 0);
  EXPECT_EQ(routing->GetMaxIrrig()->SubbasinCount(), 3);
  EXPECT_EQ(routing->Flows().RoutingInput.LastIndex(), 3 + 1 + 0 + 2);
  EXPECT_EQ(routing->Flows().SubIntervalInput.LastIndex(), 4);
  EXPECT_EQ(routing->MaxStorageElements(), 1);
  for (const char *file : {"wq_table.001", "wq_table.002", "wq_tabZL.001"})
    EXPECT_TRUE(test::FileExists(file)) << file;
  EXPECT_FALSE(routing->ControlFile().IsOpen());
  routing->ReleaseMemory();
  EXPECT_TRUE(Logged(" free memory TG 3, OL 1 (Subb. 2), (only ZL's), --> ZLs... 1, --> "
                     "ALs..., --> SPs... Rest..."));
}

TEST_F(RoutingModelTest, TheValuesOfLine3AreChecked) {
  const std::string missing = "values for min/max specific discharge and/or discharge and time "
                              "interval splitting   \nnot found in control file";
  struct Case {
    std::string line3;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"1 1000", ""},
      {"nan 1000 10 1", ""},
      {"1 1000 10 x", ""},
      {"0 1000 10 1", "the minimum specific discharge 0 must be above 0"},
      {"-2 1000 10 1", "the minimum specific discharge -2 must be above 0"},
      {"10 5 10 1", "the maximum specific discharge 5 must be at least the minimum 10"},
      {"1 1000 2.5 1", "the number of table intervals 2.5 must be a whole number from 1 to 10000"},
      {"1 1000 0 1", "the number of table intervals 0 must be a whole number from 1 to 10000"},
      {"1 1000 1e9 1",
       "the number of table intervals 1e+09 must be a whole number from 1 to 10000"},
      {"1 1000 10 0", "the number of time sub-intervals 0 must be from 1 to 1440"},
      {"1 1000 10 5000", "the number of time sub-intervals 5000 must be from 1 to 1440"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(BuildFailure(Section(kNetwork, c.line3)), 17) << c.line3;
    EXPECT_TRUE(Logged("FATAL: " + missing + (c.reason.empty() ? "" : "\n" + c.reason))) << c.line3;
  }
  // Equal ends make one table row of every discharge.
  auto single = Build(Section(kNetwork, "5 5 3 1"));
  EXPECT_EQ(single->RoutingSubbasin(1).GetTableIndex(1e6, 1), 1);
}

TEST_F(RoutingModelTest, ColumnDescriptorsNameSubbasinsAndColumns) {
  auto routing = Build(Section(kNetwork, "1 1000 10 1", 2, 60, "2\n3 4\n1 0"));
  // Without an observed-discharge file nothing is substituted.
  EXPECT_EQ(routing->ObservedComparison, 0);
  EXPECT_EQ(std::vector<int>(routing->ObservedColumn.begin(), routing->ObservedColumn.end()),
            (std::vector<int>{0, 0, 4}));
  struct Case {
    std::string columns;
    std::string entry;
  };
  const std::vector<Case> cases = {
      {"1\nx 2", "error reading a subbasin index for column indexing in routing model"},
      {"1\n3 x", "error reading a column number for column indexing in routing model"},
      {"1\n9 2", "error reading a subbasin index for column indexing in routing model: column "
                 "descriptor 1 names subbasin code 9, which is no subbasin"},
      {"1\n3 -1", "error reading a column number for column indexing in routing model: column "
                  "descriptor 1 (subbasin 3) names column -1; columns count from 1, 0 is none"},
      {"-1", "error in control file, number column descriptors for routing_model is -1; it must "
             "not be below 0"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(BuildFailure(Section(kNetwork, "1 1000 10 1", 1, 60, c.columns)), 17) << c.columns;
    EXPECT_TRUE(Logged("FATAL: " + c.entry)) << c.columns;
  }
}

TEST_F(RoutingModelTest, PassTwoStartsSevenPlusNLinesAfterTheHeader) {
  const std::string descriptions = "TG 1 A= 37 F= 1\nTG 3 A= 53 F= 1\n";
  // One pair per line: both descriptions are read.
  auto apart = Build(Section(descriptions, "1 1000 10 1", 1, 60, "2\n1 1\n3 2"));
  EXPECT_EQ(apart->RoutingSubbasinCount(), 2);
  // Both pairs on one line: pass 2 starts a line late and misses TG 1.
  auto together = Build(Section(descriptions, "1 1000 10 1", 1, 60, "2\n1 1 3 2"));
  ASSERT_EQ(together->RoutingSubbasinCount(), 1);
  EXPECT_EQ(together->RoutingSubbasin(1).TgCode(), 3);
  EXPECT_EQ(together->DescriptionCounts().Descriptions, 2);
  // The file ends while the lines are skipped.
  EXPECT_EQ(BuildFailure("[routing_model]\n1\n60\n1 1000 10 1\nq.stat 0\nobs.dat\n5\n1 1 1 1 1 "
                         "1 1 1 1 1\n0\nTG 1 A= 1 F= 1\n\n"),
            38);
  EXPECT_TRUE(Logged("FATAL: error searching the second time for routing descriptions\nthe first "
                     "run was ok., but not the second"));
}

TEST_F(RoutingModelTest, DescriptionsNeedAnEndingLine) {
  EXPECT_EQ(BuildFailure("[routing_model]\n1\n60\n1 1000 10 1\nq.stat 0\nobs.dat\n0\n0\nTG 1 A= 37 "
                         "F= 1\n"),
            38);
  EXPECT_TRUE(
      Logged("FATAL: error reading a routing description from control file! (eof reached)."));
  // A section without descriptions has no routing subbasins and is on.
  auto empty = Build(Section(""));
  EXPECT_EQ(empty->IsActive(), 1);
  EXPECT_EQ(empty->RoutingSubbasinCount(), 0);
  EXPECT_TRUE(Logged("number inbetween areas (routings)    : 0"));
}

TEST_F(RoutingModelTest, AreasFollowTheZoneGrid) {
  auto routing = Build(Section("TG 2 A= 60 F= 1\n" + kOl1 + "TG 3 A= 114.0005 F= 2\n" + kOl2));
  EXPECT_TRUE(Logged("INFO: Basin 2: area in contr.file: 60 <-> zone-grid 61 (adjusted to the "
                     "latter)"));
  EXPECT_NEAR(routing->RoutingSubbasin(1).TgArea(), 61.0, 1e-9);
  EXPECT_EQ(routing->RoutingSubbasin(2).TgArea(), 114.0005); // within 0.001 km2: kept
  EXPECT_FALSE(Logged("INFO: Basin 3"));
  // The factor scales the shares and is the subbasin's area factor.
  EXPECT_DOUBLE_EQ(routing->RoutingSubbasin(2).AreaShare(0), 53.0 / 114.0 * 2.0);
  EXPECT_EQ(routing->GetAbfrel()->AreaFactor[3], 2.0);
  EXPECT_EQ(routing->GetAbfrel()->AreaFactor[2], 1.0);
}

TEST_F(RoutingModelTest, AChannelWithoutAUsableTableIsFatal) {
  EXPECT_EQ(BuildFailure(Section("TG 2 A= 61 F= 1\nOL 1" +
                                 ChannelText(0, 0, 0, 0, 0, 0, 0, 0, 0, 0) + "\n")),
            17);
  EXPECT_TRUE(Logged("FATAL: routing: subbasin 2, channel 1 (subbasin 1): no water-level/discharge "
                     "table: the travel time through the channel is not a finite number of hours"));
}

TEST_F(RoutingModelTest, AnUnwritableTableIsReportedAndSkipped) {
  std::filesystem::create_directory("wq_table.001");
  auto routing = Build(Section(kNetwork));
  EXPECT_TRUE(Logged("FATAL: error opening file wq_table.001 (check user rights or disk space)"));
  EXPECT_TRUE(test::FileExists("wq_table.002"));
  EXPECT_EQ(routing->RoutingSubbasinCount(), 2);
}

TEST_F(RoutingModelTest, AnInactiveModuleReadsNothingMore) {
  auto routing = Build("[routing_model]\n0\n60\n");
  EXPECT_EQ(routing->IsActive(), 0);
  EXPECT_EQ(routing->RoutingOn(), 1);
  EXPECT_EQ(routing->RoutingSubbasinCount(), 0);
  EXPECT_EQ(routing->GetMaxIrrig(), nullptr);
  EXPECT_EQ(routing->GetRoutingTarget(), nullptr);
  EXPECT_FALSE(routing->ControlFile().IsOpen());
}

} // namespace
} // namespace tavro
