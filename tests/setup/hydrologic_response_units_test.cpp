// Numbering of hydrologic response units on small rasters: classes and keys
// of one and two grids, the square-root spacing, the class limit, units
// given as a grid (rounded keys, a no-data cell as a unit of its own), and
// the masters of a process as its first owned cell of each unit.
#include "setup/hydrologic_response_units.h"

#include "kernel/diagnostics_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavro {
namespace {

constexpr double N = -9999.0;

class HruTest : public testing::Test {
protected:
  // A raster of one row whose every column is valid and in the range.
  Grid Row(std::vector<double> values) {
    Grid grid(1, 1, static_cast<long>(values.size()), 1, log);
    for (std::size_t c = 0; c < values.size(); ++c)
      grid[1][static_cast<long>(c) + 1] = values[c];
    return grid;
  }
  HruRaster RasterOf(const Grid &zone, int ncols) {
    ranges.Resize(1);
    ranges[0] = {1, 0};
    ranges[1] = {1, ncols};
    return HruRaster{1, ncols, N, &zone, &ranges};
  }
  static std::vector<std::string> Keys(const HruNumbering &numbering) {
    std::vector<std::string> keys;
    for (const HydrologicResponseUnit &unit : numbering.units)
      keys.push_back(unit.key);
    return keys;
  }

  DiagnosticsLog log{"", 4};
  OneBasedArray<RowColumnRange> ranges;
};

TEST_F(HruTest, ClassesOfOneGridMakeTheKeys) {
  const Grid zone = Row({1, 1, 1});
  const Grid values = Row({50, 150, 120});
  Grid units = Row({0, 0, 0});
  const HruNumbering numbering =
      NumberUnitsFromGrids({{"height", &values, 100.0, false}}, RasterOf(zone, 3), units);
  ASSERT_FALSE(numbering.failure);
  EXPECT_EQ(Keys(numbering), (std::vector<std::string>{"", "0000'", "0001'"}));
  EXPECT_EQ(units[1][1], 1.0);
  EXPECT_EQ(units[1][2], 2.0);
  EXPECT_EQ(units[1][3], 2.0);
  // Only the first two cells are masters.
  std::vector<HydrologicResponseUnit> list = numbering.units;
  Grid masters = Row({0, 0, 0});
  AssignMasterCells(list, RasterOf(zone, 3), HruStrip{1, 1, nullptr, 0}, units, masters);
  EXPECT_EQ(masters[1][1], 1.0);
  EXPECT_EQ(masters[1][2], 2.0);
  EXPECT_EQ(masters[1][3], N);
  EXPECT_EQ(list[2].row, 1);
  EXPECT_EQ(list[2].column, 2);
}

TEST_F(HruTest, KeysOfSeveralGridsAndTheirSpacing) {
  struct Case {
    const char *what;
    std::vector<HruClassGrid> grids;
    std::string key;
  };
  const Grid a = Row({35});
  const Grid b = Row({125});
  const Grid negative = Row({-15});
  const Grid minus400 = Row({-400});
  const Grid missing = Row({N});
  const Case cases[] = {
      {"two grids", {{"a", &a, 10.0, false}, {"b", &b, 10.0, false}}, "0003'0012'"},
      {"a negative class", {{"n", &negative, 10.0, false}}, "-002'"},
      {"square root of -400", {{"s", &minus400, 1.0, true}}, "0020'"},
      {"the spacing word only needs to contain sqrt", {{"s", &minus400, 2.0, true}}, "0010'"},
      {"a later grid without value ends the key",
       {{"a", &a, 10.0, false}, {"m", &missing, 1.0, false}, {"b", &b, 10.0, false}},
       "0003'"},
  };
  const Grid zone = Row({1});
  for (const Case &c : cases) {
    Grid units = Row({0});
    const HruNumbering numbering = NumberUnitsFromGrids(c.grids, RasterOf(zone, 1), units);
    ASSERT_FALSE(numbering.failure) << c.what;
    ASSERT_EQ(numbering.units.size(), 2u) << c.what;
    EXPECT_EQ(numbering.units[1].key, c.key) << c.what;
    EXPECT_EQ(units[1][1], 1.0) << c.what;
  }
}

TEST_F(HruTest, CellsWithoutAUnit) {
  // Invalid cell, no value in the first grid, a value: only the last is a unit.
  const Grid zone = Row({N, 1, 1});
  const Grid first = Row({10, N, 10});
  Grid units = Row({5, 5, 5});
  const HruNumbering numbering =
      NumberUnitsFromGrids({{"f", &first, 10.0, false}}, RasterOf(zone, 3), units);
  EXPECT_EQ(numbering.units.size(), 2u);
  EXPECT_EQ(units[1][1], N);
  EXPECT_EQ(units[1][2], N);
  EXPECT_EQ(units[1][3], 1.0);
}

TEST_F(HruTest, AClassAboveTheLimitStopsWithItsPlace) {
  const Grid zone = Row({1, 1});
  const Grid values = Row({5, 1000000});
  Grid units = Row({0, 0});
  const HruNumbering numbering =
      NumberUnitsFromGrids({{"height", &values, 100.0, false}}, RasterOf(zone, 2), units);
  ASSERT_TRUE(numbering.failure);
  EXPECT_EQ(numbering.failure->classNumber, 10000.0);
  EXPECT_EQ(numbering.failure->identifier, "height");
  EXPECT_EQ(numbering.failure->row, 1);
  EXPECT_EQ(numbering.failure->column, 2);
  // 9999 itself is allowed.
  const Grid limit = Row({999999});
  Grid one = Row({0, 0});
  EXPECT_FALSE(
      NumberUnitsFromGrids({{"height", &limit, 100.0, false}}, RasterOf(zone, 1), one).failure);
}

TEST_F(HruTest, GivenUnitsAreKeyedByTheirRoundedValue) {
  // 7.4 and 6.6 both print as 7: one unit; a no-data cell in the range is a
  // unit of its own, valid or not.
  const Grid zone = Row({1, 1, N, 1});
  Grid units = Row({7.4, 6.6, N, 2});
  const HruNumbering numbering = NumberGivenUnits(RasterOf(zone, 4), units);
  EXPECT_EQ(Keys(numbering), (std::vector<std::string>{"", "7", "-9999", "2"}));
  EXPECT_EQ(units[1][1], 1.0);
  EXPECT_EQ(units[1][2], 1.0);
  EXPECT_EQ(units[1][3], 2.0);
  EXPECT_EQ(units[1][4], 3.0);
}

TEST_F(HruTest, CellsOutsideTheColumnRangesTakeNodata) {
  const Grid zone = Row({1, 1, 1, 1});
  Grid units = Row({3, 3, 3, 3});
  HruRaster raster = RasterOf(zone, 4);
  ranges[1] = {2, 3};
  const HruNumbering numbering = NumberGivenUnits(raster, units);
  EXPECT_EQ(numbering.units.size(), 2u);
  EXPECT_EQ(units[1][1], N);
  EXPECT_EQ(units[1][2], 1.0);
  EXPECT_EQ(units[1][4], N);
}

TEST_F(HruTest, EachProcessMastersItsFirstOwnedCellOfEachUnit) {
  // Units 1 1 2 1 2 with owners 0 1 1 0 0: process 0 masters (1,1) for
  // unit 1 and (1,5) for unit 2; process 1 masters (1,2) and (1,3).
  const Grid zone = Row({1, 1, 1, 1, 1});
  const Grid units = Row({1, 1, 2, 1, 2});
  const Grid owners = Row({0, 1, 1, 0, 0});
  const HruRaster raster = RasterOf(zone, 5);
  struct Case {
    int rank;
    int unit1Column;
    int unit2Column;
  };
  for (const Case c : {Case{0, 1, 5}, Case{1, 2, 3}, Case{2, 0, 0}}) {
    std::vector<HydrologicResponseUnit> list(3);
    Grid masters = Row({0, 0, 0, 0, 0});
    AssignMasterCells(list, raster, HruStrip{1, 1, &owners, c.rank}, units, masters);
    EXPECT_EQ(list[1].column, c.unit1Column) << c.rank;
    EXPECT_EQ(list[2].column, c.unit2Column) << c.rank;
    EXPECT_EQ(list[1].row, c.unit1Column == 0 ? 0 : 1) << c.rank;
    for (int col = 1; col <= 5; ++col) {
      const double expected = col == c.unit1Column ? 1.0 : col == c.unit2Column ? 2.0 : N;
      EXPECT_EQ(masters[1][col], expected) << c.rank << " column " << col;
    }
  }
}

} // namespace
} // namespace tavro
