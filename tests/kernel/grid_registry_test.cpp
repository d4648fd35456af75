// The grid registry: presets, writecode decoding, registration with its
// aggregate grids, the lookup rules (holes, first empty entry, refused
// indexes) and the weighted grid statistics.
#include "kernel/grid_registry.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid_statistics.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

namespace tavro {
namespace {

using test::CallOutcome;
using test::RunCapturingConsole;

class GridRegistryTest : public testing::Test {
protected:
  void Add(int index, const std::string &identifier, int writecode = 0, Grid *data = nullptr,
           const std::string &fileName = "") {
    registry_.AddGrid(index, fileName, data ? data : &grid_, nullptr, 1, identifier, writecode, 1,
                      kRows, kCols, kRows, log_);
  }

  static constexpr long kRows = 5;
  static constexpr long kCols = 3;
  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  GridRegistry registry_;
  Grid grid_{1, kRows, kCols, kRows, log_};
};

TEST_F(GridRegistryTest, EveryEntryStartsWithItsPresets) {
  for (int i = 1; i <= 1000; ++i) {
    const GridEntry &entry = registry_[i];
    ASSERT_EQ(entry.Levels, 1) << i;
    ASSERT_EQ(entry.AggregateCount, 1.0) << i;
    ASSERT_EQ(entry.Periodic.First, -1) << i;
    ASSERT_EQ(entry.Periodic.Second, -1) << i;
    ASSERT_EQ(entry.Periodic.Persistent, 1) << i;
    ASSERT_EQ(entry.readcode, 1) << i;
    ASSERT_TRUE(entry.IsFree()) << i;
    ASSERT_EQ(entry.Data, nullptr) << i;
  }
  EXPECT_EQ(registry_.FirstFreeIndex(), 1);
}

TEST(WritecodeTest, DigitsDecodeAsDocumented) {
  struct Case {
    int writecode;
    WritecodeDigits digits; // kind, period, minimum, maximum, vegetation period
  };
  const Case cases[] = {
      {0, {0, 0, 0, 0, 0}},     {8, {8, 0, 0, 0, 0}},    {2131, {1, 3, 1, 0, 2}},
      {31, {1, 3, 0, 0, 0}},    {200, {0, 0, 0, 1, 0}},  {300, {0, 0, 1, 1, 0}},
      {400, {0, 0, 0, 0, 0}},   {1000, {0, 0, 0, 0, 1}}, {9999, {9, 9, 0, 0, 9}},
      {12345, {5, 4, 1, 1, 2}}, // digits above the thousands play no part
  };
  for (const auto &c : cases)
    EXPECT_EQ(DecodeWritecode(c.writecode), c.digits) << c.writecode;
}

TEST_F(GridRegistryTest, WritecodeAllocatesTheAggregateGrids) {
  Add(7, "tempr", 2131, nullptr, "out/tempr.grd");
  const GridEntry &entry = registry_[7];
  EXPECT_EQ(entry.OutputKind, 1);
  EXPECT_EQ(entry.PeriodAggregate, 3);
  EXPECT_EQ(entry.WriteMinimum, 1);
  EXPECT_EQ(entry.WriteMaximum, 0);
  EXPECT_EQ(entry.VegetationPeriod, 2);
  EXPECT_EQ(entry.AggregateCount, 0.0);
  EXPECT_EQ(entry.Data, &grid_);
  for (const Grid *aggregate :
       {entry.Aggregate.get(), entry.Minimum.get(), entry.VegetationPeriodGrid.get()}) {
    ASSERT_NE(aggregate, nullptr);
    EXPECT_EQ(aggregate->FirstRow(), 1);
    EXPECT_EQ(aggregate->LastRow(), kRows);
    EXPECT_EQ(aggregate->LastColumn(), kCols);
    EXPECT_EQ((*aggregate)[kRows][kCols], 0.0);
  }
  EXPECT_EQ(entry.Maximum, nullptr);
  EXPECT_EQ(entry.AggregateFileName, "out/tempr.grd");
  EXPECT_EQ(entry.MinimumFileName, "out/tempr.grd");
  EXPECT_EQ(entry.VegetationPeriodFileName, "out/tempr.grd");
  EXPECT_TRUE(entry.MaximumFileName.empty());
  EXPECT_EQ(entry.outname, "out/tempr.grd");
  EXPECT_EQ(entry.OwnsOutname, 1);

  // Registering again overwrites the settings and drops grids no longer asked for.
  Add(7, "tempr", 200, nullptr, "out/t2.grd");
  EXPECT_EQ(entry.Aggregate, nullptr);
  EXPECT_EQ(entry.Minimum, nullptr);
  EXPECT_NE(entry.Maximum, nullptr);
  EXPECT_EQ(entry.VegetationPeriodGrid, nullptr);
  EXPECT_EQ(entry.MaximumFileName, "out/t2.grd");
  EXPECT_EQ(entry.outname, "out/t2.grd");
}

TEST_F(GridRegistryTest, EveryGridCarriesAFileName) {
  Add(1, "[zone_grid]", 0, nullptr, "");
  EXPECT_EQ(registry_[1].FileName, "[zone_grid]");
  EXPECT_EQ(registry_[1].outname, "[zone_grid]");
  // An output name from the grid's definition is kept.
  registry_[2].outname = "dem_out.asc";
  Add(2, "[elevation_model]", 0, nullptr, "dem.asc");
  EXPECT_EQ(registry_[2].outname, "dem_out.asc");
  EXPECT_EQ(registry_[2].OwnsOutname, 0);
}

TEST_F(GridRegistryTest, IndexesOutside1To999AreRefused) {
  for (const int index : {1000, 1001, 5000}) {
    const auto [code, console] = RunCapturingConsole([&] { Add(index, "g"); });
    EXPECT_EQ(code, 12) << index;
    EXPECT_NE(console.find("no free grid in memory,(max. 1000)!"), std::string::npos) << console;
  }
  for (const int index : {0, -1}) {
    const auto [code, console] = RunCapturingConsole([&] { Add(index, "g"); });
    EXPECT_EQ(code, 12) << index;
    EXPECT_NE(console.find("outside 1 to 999"), std::string::npos) << console;
  }
  Add(999, "last");
  EXPECT_EQ(registry_.Find("last"), 999);
}

TEST_F(GridRegistryTest, MalformedRegistrationsAreRefused) {
  EXPECT_EQ(RunCapturingConsole([&] { Add(3, ""); }).code, 12);
  EXPECT_EQ(RunCapturingConsole([&] { Add(3, std::string(101, 'i')); }).code, 12);
  EXPECT_EQ(RunCapturingConsole([&] { Add(3, "g", 0, nullptr, std::string(1201, 'f')); }).code, 12);
  EXPECT_EQ(RunCapturingConsole([&] { Add(3, "g", -1); }).code, 12);
  EXPECT_TRUE(registry_[3].IsFree());
  Add(3, std::string(100, 'i'), 0, nullptr, std::string(1200, 'f'));
  EXPECT_EQ(registry_.Find(std::string(100, 'i')), 3);
}

TEST_F(GridRegistryTest, ReleasedGridsLeaveHolesThatLookupsSkip) {
  for (int i = 1; i <= 6; ++i)
    Add(i, "grid" + std::to_string(i), 31);
  registry_.ReleaseGrid(4);
  registry_.ReleaseGrid(2);
  EXPECT_TRUE(registry_[4].IsFree());
  EXPECT_EQ(registry_[4].Aggregate, nullptr);
  EXPECT_EQ(registry_[4].Data, nullptr);
  EXPECT_EQ(&grid_, registry_[5].Data); // the registered grid itself lives on

  // Grids registered after a hole stay visible.
  EXPECT_EQ(registry_.GetGridIndex("grid5", log_, "test"), 5);
  EXPECT_EQ(registry_.FindGrid("grid6", false), 6);
  EXPECT_EQ(registry_.Find("grid4"), 0);
  EXPECT_EQ(registry_.FindGrid("", true), 0); // a hole is never matched
  EXPECT_EQ(registry_.Find(""), 0);

  // A new grid takes the first empty entry.
  EXPECT_EQ(registry_.FirstFreeIndex(), 2);
  Add(registry_.FirstFreeIndex(), "new");
  EXPECT_EQ(registry_.Find("new"), 2);
  EXPECT_EQ(registry_.FirstFreeIndex(), 4);

  for (const int index : {0, -3, 1000, 1001, 100000})
    registry_.ReleaseGrid(index); // ignored
  EXPECT_EQ(registry_.Find("grid1"), 1);
}

TEST_F(GridRegistryTest, FindGridWithoutDataFindsDefinitionsOnlyWhenAsked) {
  Add(1, "[zone_grid]");
  // A standard grid whose definition is registered but not yet read.
  registry_[2].Identifier = "soil_types";
  registry_[2].FileName = "soil.asc";
  Stack stack(1, kRows, kCols, 2, kRows, log_);
  registry_.AddGrid(3, "firn.stk", nullptr, &stack, 3, "firn", 0, 1, kRows, kCols, kRows, log_);
  Add(4, "behind");

  EXPECT_EQ(registry_.FindGrid("soil_types", false), 0);
  EXPECT_EQ(registry_.FindGrid("soil_types", true), 2);
  EXPECT_EQ(registry_.FindGrid("firn", false), 3); // a stack is data too
  EXPECT_EQ(registry_.FindGrid("behind", false), 4);
  EXPECT_EQ(registry_.FindGrid("Behind", true), 0); // case-sensitive
  EXPECT_EQ(registry_.FindGrid("[zone_grid]", false), 1);
}

TEST_F(GridRegistryTest, MissingGridsAreFatalWithTheDocumentedEntries) {
  Add(1, "a");
  Add(2, "b");
  Add(3, "c");
  EXPECT_EQ(registry_.GetGridIndexOf3("x", "c", "b", log_, "snow"), 3); // first present wins
  EXPECT_EQ(registry_.GetGridIndexOf4("x", "y", "z", "a", log_, "snow"), 1);

  CallOutcome outcome =
      RunCapturingConsole([&] { registry_.GetGridIndex("tempr", log_, "snow_model"); });
  EXPECT_EQ(outcome.code, 33);
  EXPECT_NE(
      outcome.console.find("\n---------------- !!! ERROR !!!  --------------------------\n"
                           "tempr not found in memory,\nThese data are needed within snow_model \n"
                           "if they are interpolated data, please specify an interpolator for\n"
                           "tempr in the control file or read it in as a standardfile,\n"
                           "-----------------------------------------------------------\n"),
      std::string::npos)
      << outcome.console;

  const std::string dashes71(71, '-');
  outcome =
      RunCapturingConsole([&] { registry_.GetGridIndexOf3("p", "q", "r", log_, "snow_model"); });
  EXPECT_EQ(outcome.code, 33);
  EXPECT_NE(
      outcome.console.find("Wether p, q or r \nwhere found in memory,\n"
                           "One of these data sets has to be present within snow_model \n"
                           "If the data are to be interpolated, please specify an interpolatior "
                           "for\np, q or r in the control file,\nor read it as a standard grid \n" +
                           dashes71 + "\n"),
      std::string::npos)
      << outcome.console;

  outcome = RunCapturingConsole(
      [&] { registry_.GetGridIndexOf4("p", "q", "r", "s", log_, "snow_model"); });
  EXPECT_EQ(outcome.code, 33);
  EXPECT_NE(outcome.console.find("Wether p, q, r or s \nwhere"), std::string::npos)
      << outcome.console;
  EXPECT_NE(outcome.console.find("for\np, q, r or s in the control file"), std::string::npos)
      << outcome.console;
}

TEST(GridStatisticsTest, WeightedValuesAsDocumented) {
  GridStatistics statistics;
  statistics.Reset(-9999.0);
  statistics.Add(4.0, 0.5);
  statistics.Add(2.0, 1.0);
  statistics.Add(-9998.0, 1.0); // at no-data + 1: not counted
  statistics.Add(-10000.0, 1.0);
  GridStatisticsResult result = statistics.Get();
  EXPECT_EQ(result.WeightSum, 1.5);
  EXPECT_EQ(result.Minimum, 2.0);
  EXPECT_EQ(result.Maximum, 4.0);
  EXPECT_EQ(result.WeightedSum, 4.0);
  EXPECT_NEAR(result.Mean, 8.0 / 3.0, 1e-15);
  EXPECT_EQ(result.StandardDeviation, -9999.0); // weight sum not above 2

  statistics.Add(-9997.5, 0.5); // just above no-data + 1: counted
  result = statistics.Get();
  EXPECT_EQ(result.WeightSum, 2.0);
  EXPECT_EQ(result.Minimum, -9997.5);
  EXPECT_EQ(result.StandardDeviation, -9999.0); // n = 2

  statistics.Reset(-9999.0);
  result = statistics.Get();
  EXPECT_EQ(result.WeightSum, 0.0);
  EXPECT_EQ(result.Mean, -9999.0);
  statistics.Add(-5.0, 1.0); // the first value after a reset sets both bounds
  result = statistics.Get();
  EXPECT_EQ(result.Minimum, -5.0);
  EXPECT_EQ(result.Maximum, -5.0);
}

TEST(GridStatisticsTest, AgreesWithATwoPassComputation) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> values(-50.0, 120.0);
  std::uniform_real_distribution<double> weights(0.0, 1.0);
  std::vector<std::pair<double, double>> cells(400);
  for (auto &[v, w] : cells)
    v = values(random), w = weights(random);

  GridStatistics statistics;
  statistics.Reset(-9999.0);
  for (const auto &[v, w] : cells)
    statistics.Add(v, w);
  const GridStatisticsResult result = statistics.Get();

  double n = 0.0, sum = 0.0, minimum = cells[0].first, maximum = cells[0].first;
  for (const auto &[v, w] : cells) {
    n += w;
    sum += v * w;
    minimum = std::min(minimum, v);
    maximum = std::max(maximum, v);
  }
  const double mean = sum / n;
  double squares = 0.0;
  for (const auto &[v, w] : cells)
    squares += w * (v - mean) * (v - mean);
  EXPECT_NEAR(result.WeightSum, n, 1e-9);
  EXPECT_EQ(result.Minimum, minimum);
  EXPECT_EQ(result.Maximum, maximum);
  EXPECT_NEAR(result.Mean, mean, 1e-9);
  EXPECT_NEAR(result.StandardDeviation, std::sqrt(squares / (n - 1.0)), 1e-7);
}

TEST(GridStatisticsTest, RoundingNeverGivesANegativeDeviation) {
  // Three equal values of 0.1: the one-pass variance rounds below zero.
  const double n = 3.0, s = 0.1 + 0.1 + 0.1, q = 0.1 * 0.1 + 0.1 * 0.1 + 0.1 * 0.1;
  ASSERT_LT((q - s * s / n) / (n - 1.0), 0.0);
  GridStatistics statistics;
  statistics.Reset(-9999.0);
  for (int i = 0; i < 3; ++i)
    statistics.Add(0.1, 1.0);
  EXPECT_EQ(statistics.Get().StandardDeviation, 0.0);
}

} // namespace
} // namespace tavro
