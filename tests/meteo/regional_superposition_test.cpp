// The regional superposition on a raster of 3 x 4 cells: the section and
// block checks with their messages and exit codes, and the blend of input
// grids by region against hand values.
#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "kernel/module_settings.h"
#include "meteo/regional_superposition.h"
#include "support/diagnostics_entries.h"
#include "support/setup_grids.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tavro {
namespace {

constexpr const char *kControl = "control.txt_0.$$$";
constexpr double kNoData = -9999.0;

std::string Group(const std::string &grid, const std::string &regions, const std::string &weights) {
  return "entityinputgrid = " + grid + ";\n regions = " + regions + ";\n weights = " + weights +
         ";\n";
}

std::string Block(const std::string &name, const std::string &groups,
                  const std::string &statcode = "0") {
  return name + " {\n" + groups + " outputgrid = " + name +
         ".asc; writecode = 0;\n outputtable = " + name + ".stat; statcode = " + statcode +
         ";\n}\n";
}

class RegionalSuperpositionTest : public testing::Test {
protected:
  RegionalSuperpositionTest()
      : setup_(log_, {}, [](long r, long c) { return r == 3 && c == 1 ? kNoData : 1.0; }) {
    setup_.FillSettings(settings_, registry_, "RegionalSuperposition", kControl);
    setup_.Register(registry_);
    // Regions 3, 7 and 12 with the ranks 1, 2 and 3.
    ranks_ = OneBasedArray<int>(12, 0);
    ranks_[3] = 1;
    ranks_[7] = 2;
    ranks_[12] = 3;
    regions_ = {&ranks_, nullptr, 3, 12};
    const auto make = [&](double value) {
      Grid grid(1, 3, 4, 3, log_);
      grid.Fill(value);
      return grid;
    };
    a_ = make(0.0);
    b_ = make(0.0);
    for (long r = 1; r <= 3; ++r)
      for (long c = 1; c <= 4; ++c) {
        a_[r][c] = 10.0 * r + c;
        b_[r][c] = 100.0 + r;
      }
    region1_ = make(3.0);
    for (long r = 1; r <= 3; ++r) {
      region1_[r][3] = 7.0;
      region1_[r][4] = 12.0;
    }
    weight1_ = make(1.0);
    region2_ = make(0.0);
    weight2_ = make(0.0);
    region3_ = make(0.0);
    weight3_ = make(0.0);
    weight1_[1][2] = 0.6;
    region2_[1][2] = 7.0;
    weight2_[1][2] = 0.4;
    weight1_[2][3] = 0.75;
    region3_[2][3] = 12.0;
    weight3_[2][3] = 0.25;
    int index = 10;
    for (auto [grid, name] : {std::pair{&a_, "input_a"},
                              {&b_, "input_b"},
                              {&region1_, "regression_regions"},
                              {&region2_, "regression_regions2"},
                              {&region3_, "regression_regions3"},
                              {&weight1_, "regression_weights1"},
                              {&weight2_, "regression_weights2"},
                              {&weight3_, "regression_weights3"}})
      registry_.AddGrid(index++, name, grid, nullptr, 1, name, 0, 1, 3, 4, 3, log_);
  }

  std::unique_ptr<RegionalSuperposition> Make(const std::string &entities) {
    test::WriteFixture(kControl, "[RegionalSuperposition]\n1\n60\n" + entities + "[after]\n");
    return std::make_unique<RegionalSuperposition>(settings_, regions_);
  }

  int Code(const std::string &entities) {
    // -1: constructed.
    return test::ExitCodeOf([&] { Make(entities)->ReleaseMemory(); });
  }

  static std::string Entities(int n, const std::string &blocks) {
    return "NumberOfEntities = " + std::to_string(n) + ";\n" + blocks;
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  GridRegistry registry_;
  test::SetupGrids setup_;
  ModuleSettings settings_;
  OneBasedArray<int> ranks_;
  RegionTableRef regions_;
  Grid a_, b_, region1_, region2_, region3_, weight1_, weight2_, weight3_;
};

const std::string kBlend = Block("blend", Group("input_a", "3, 7, 12", "1 0.5 0") +
                                              Group("input_b", "3 ,7,\t12", "0,0.5,1"));

TEST_F(RegionalSuperpositionTest, BlendsTheInputsByRegionAndWeightGrids) {
  auto module = Make(Entities(1, kBlend));
  ASSERT_EQ(module->Entities().size(), 1u);
  module->ComputeTimeStep(0, 2, 1, 2001);
  const Grid &out = module->Entities()[0]->Output();
  EXPECT_DOUBLE_EQ(out[1][1], 11.0);   // region 3: input a alone
  EXPECT_DOUBLE_EQ(out[1][2], 29.8);   // 0.6 region 3 + 0.4 region 7
  EXPECT_DOUBLE_EQ(out[1][3], 57.0);   // region 7: half and half
  EXPECT_DOUBLE_EQ(out[1][4], 101.0);  // region 12: input b alone
  EXPECT_DOUBLE_EQ(out[2][3], 72.375); // set 2 code 0 skipped, set 3 used
  EXPECT_DOUBLE_EQ(out[3][1], kNoData);
  const int index = registry_.FirstFreeIndex() - 1;
  EXPECT_EQ(registry_[module->Entities()[0]->OutputGridIndex()].Identifier, "blend");
  EXPECT_EQ(registry_[module->Entities()[0]->OutputGridIndex()].FileName, "blend.asc");
  EXPECT_GT(index, 0);
  module->ReleaseMemory();
  EXPECT_EQ(registry_.FirstFreeIndex(), 5);
}

TEST_F(RegionalSuperpositionTest, LaterEntityReadsAnEarlierOutputAndAGapStaysAGap) {
  a_[2][2] = kNoData;
  const std::string second = Block("twice", Group("blend", "3 7 12", "1 1 1"));
  auto module = Make(Entities(2, kBlend + second));
  module->ComputeTimeStep(0, 2, 1, 2001);
  const Grid &out = module->Entities()[1]->Output();
  EXPECT_DOUBLE_EQ(out[1][3], 57.0);
  EXPECT_DOUBLE_EQ(out[2][2], kNoData);                           // input a weighted with 1 there
  EXPECT_DOUBLE_EQ(module->Entities()[0]->Output()[2][4], 102.0); // a has no weight in region 12
  module->ReleaseMemory();
}

TEST_F(RegionalSuperpositionTest, RegionListsMustHoldEveryCodeInAscendingOrder) {
  struct Case {
    std::string regions;
    int code;
    std::string entry;
  };
  const std::string start = "FATAL: \nerror reading regions in RegionalSuperposition entity: e, "
                            "inputgrid input_a\n";
  const Case cases[] = {
      {"3, 7, 12", -1, ""},
      {"3, 12, 7", 134,
       start + "region on position 2 in the region list should have value 7\nbut was read as "
               "12\nAll regions must be listet in ascending order here\nregardless of their "
               "actual weight for this superposition instance\n"},
      {"3, 7, 9", 134,
       start + "region on position 3 was read as 9\nThere is now region with this code in the "
               "region grid\n\nOnly the region codes from the region grid must be listet in "
               "ascending order here\nregardless of their actual weight for this superposition "
               "instance\n"},
      {"3 7", 134,
       start + "The number of regions here (2) does not equal the number of\nregions in the "
               "regiongrid (3)\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.regions);
    EXPECT_EQ(Code(Entities(1, Block("e", Group("input_a", c.regions, "1 1 1")))), c.code);
    if (!c.entry.empty()) {
      EXPECT_TRUE(test::Logged(c.entry));
    }
  }
}

TEST_F(RegionalSuperpositionTest, WeightsOfARegionSumToOneWithinATenThousandth) {
  const auto blocks = [](const std::string &second) {
    return Entities(1, Block("e", Group("input_a", "3 7 12", "0.5 0.5 1") +
                                      Group("input_b", "3 7 12", second)));
  };
  EXPECT_EQ(Code(blocks("0.50009 0.5 0")), -1);
  EXPECT_EQ(Code(blocks("0.5002 0.5 0")), 135);
  EXPECT_TRUE(
      test::Logged("FATAL: \nerror reading weights for regions in RegionalSuperposition"
                   "\nentity: e\nregion 1: The sum of all weights is not 1.0 but 1.0002 \n"));
  EXPECT_EQ(Code(blocks("0.5 0.5")), 135);
  EXPECT_TRUE(test::Logged("FATAL: \nerror reading weights for regions in RegionalSuperposition "
                           "entity: e, inputgrid input_b\nThe number of regions (3) does not equal "
                           "the number of weights (2)\n"));
}

TEST_F(RegionalSuperpositionTest, SectionAndBlockErrors) {
  struct Case {
    std::string entities;
    int code;
    std::string entry;
  };
  const Case cases[] = {
      {"3\n", 133,
       "FATAL: could not read \"NumberOfEntities\" keyword in section [RegionalSuperposition]\n\n"},
      {Entities(1, Block("e", Group("no_such_grid", "3 7 12", "1 1 1"))), 33, "no_such_grid"},
      {Entities(1, "e {\n entityinputgrid = input_a;\n regions 3 7 12;\n}\n"), 17,
       "entity e: missing \"=\" after \"regions\""},
      {Entities(1, "e {\n" + Group("input_a", "3 7 12", "1 1 1") + " outputgrid = e.asc;\n}\n"), 17,
       "entity e: missing keyword \"writecode\""},
      {Entities(1, "e {\n" + Group("input_a", "3 7 12", "1 1 1")), 17,
       "entity e (number 1): missing \"}\" before the end of the file"},
      {Entities(1, Block("e", "")), 135, "region 1: The sum of all weights is not 1.0 but 0 \n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.entities);
    EXPECT_EQ(Code(c.entities), c.code);
    EXPECT_TRUE(test::Logged(c.entry));
  }
  // Nothing stays registered after a failed entity.
  EXPECT_EQ(registry_.FirstFreeIndex(), 5);
}

TEST_F(RegionalSuperpositionTest, FullRegistryEndsTheSetUp) {
  std::vector<int> filled;
  for (int index = registry_.FirstFreeIndex(); index != 0; index = registry_.FirstFreeIndex()) {
    registry_.AddGrid(index, "filler", &a_, nullptr, 1, "filler" + std::to_string(index), 0, 1, 3,
                      4, 3, log_);
    filled.push_back(index);
  }
  EXPECT_EQ(Code(Entities(1, kBlend)), 12);
  EXPECT_TRUE(test::Logged("FATAL: no free grid anymore, allowed number of grids is 1000!"));
  for (const int index : filled)
    registry_.ReleaseGrid(index);
}

TEST_F(RegionalSuperpositionTest, KeywordsAreWholeWordsWithOrWithoutBlanks) {
  Grid weights(1, 3, 4, 3, log_);
  weights.Fill(2.0);
  registry_.AddGrid(30, "tw", &weights, nullptr, 1, "temp_weights", 0, 1, 3, 4, 3, log_);
  auto module = Make(Entities(1, "e{entityinputgrid=temp_weights;regions=3 7 12;weights=1 1 1;"
                                 "statcode=0;outputtable=e.stat;writecode=0;outputgrid=e.asc;}\n"));
  module->ComputeTimeStep(0, 2, 1, 2001);
  EXPECT_DOUBLE_EQ(module->Entities()[0]->Output()[1][1], 2.0);
  module->ReleaseMemory();
  registry_.ReleaseGrid(30);
}

TEST_F(RegionalSuperpositionTest, ZeroEntitiesComputeNothingAndANamesakeIsWarnedOf) {
  auto none = Make(Entities(0, ""));
  EXPECT_EQ(none->IsActive(), 1);
  EXPECT_TRUE(none->Entities().empty());
  none->ComputeTimeStep(0, 2, 1, 2001);
  none->ReleaseMemory();

  auto named = Make(Entities(1, Block("input_b", Group("input_a", "3 7 12", "1 1 1"))));
  EXPECT_TRUE(test::Logged("WARNING: the superposition entity input_b (registry entry 5) is named "
                           "like the grid input_b at registry entry 11"));
  named->ReleaseMemory();
}

TEST_F(RegionalSuperpositionTest, StatisticsTableHasFourDecimals) {
  auto module = Make(Entities(1, Block("blend", Group("input_a", "3 7 12", "1 1 1"), "2001")));
  module->ComputeTimeStep(0, 2, 1, 2001);
  module->WriteStepOutput();
  module->FlushStatistics();
  module->ReleaseMemory();
  const std::string table = test::ReadWholeFile("blend.stat");
  EXPECT_NE(table.find("blend"), std::string::npos) << table;
  // The areal mean of input a over the 11 cells of the catchment.
  EXPECT_NE(table.find("21.7273"), std::string::npos) << table;
}

} // namespace
} // namespace tavro
