// Ranking of the soil-model zone grid over a whole raster: zone numbers and
// the code index, cell weights and areas, the column ranges scanned, the
// nearest whole number as the code, and the refusals with their messages.
#include "raster/handover/module_zone_ranking.h"

#include "kernel/diagnostics_log.h"
#include "support/grid_rows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavro {
namespace {

constexpr double N = -9999.0;

struct Ranked {
  DiagnosticsLog log{"", 4};
  ModuleZoneRanking result;

  explicit Ranked(const test::RasterRows &zone, const test::RasterRows *weights = nullptr,
                  double cellSize = 1000.0, const OneBasedArray<RowColumnRange> *ranges = nullptr) {
    const Grid grid = test::GridFromRows(zone, log);
    const Grid weightGrid = weights != nullptr ? test::GridFromRows(*weights, log) : Grid();
    result = RankModuleZoneGrid({grid, weights != nullptr ? &weightGrid : nullptr, ranges,
                                 test::ShapeOf(zone), cellSize, "subbasins.asc", "unsatzon_model"});
  }
};

TEST(ModuleZoneRanking, NumbersCodesAscendingWithAnIndexOfEveryCode) {
  const Ranked ranked({{7, 3, N}, {12, 3, 7}});
  const ModuleZoneRanking &t = ranked.result;
  ASSERT_EQ(t.FailureCode, 0) << t.FailureMessage;
  ASSERT_EQ(t.Count, 3);
  EXPECT_EQ(t.MaxCode, 12);
  ASSERT_EQ(t.Index.Count(), 12u);
  for (int code = 0; code <= 12; ++code) {
    const int expected = code == 3 ? 1 : code == 7 ? 2 : code == 12 ? 3 : 0;
    EXPECT_EQ(t.Index[static_cast<std::size_t>(code)], expected) << code;
  }
  const double codes[] = {1, 3, 7, 12}; // record 0 holds 1
  const double cells[] = {0, 2, 2, 1};
  for (std::size_t k = 0; k <= 3; ++k) {
    EXPECT_EQ(t.Table[k].zonenwert, codes[k]) << k;
    EXPECT_EQ(t.Table[k].sx, cells[k]) << k;
    EXPECT_EQ(t.Table[k].n, cells[k]) << k;
    EXPECT_EQ(t.Table[k].RelCellSum, cells[k]) << k;
  }
  EXPECT_DOUBLE_EQ(t.Table[1].rel, 0.4);
  EXPECT_DOUBLE_EQ(t.Table[3].rel, 0.2);
  EXPECT_DOUBLE_EQ(t.Table[0].rel, 5.0); // five cells of 1 km2
}

TEST(ModuleZoneRanking, WeightsGiveTheSharesOfTheArea) {
  const test::RasterRows weights = {{0.5, 0.7, 1.0}};
  const Ranked ranked({{4, 4, 9}}, &weights);
  const ModuleZoneRanking &t = ranked.result;
  ASSERT_EQ(t.FailureCode, 0);
  EXPECT_DOUBLE_EQ(t.Table[1].n, 1.2);
  EXPECT_DOUBLE_EQ(t.Table[1].RelCellSum, 1.2);
  EXPECT_EQ(t.Table[1].sx, 2.0);
  EXPECT_DOUBLE_EQ(t.Table[1].rel, 1.2 / 2.2);
  EXPECT_DOUBLE_EQ(t.Table[2].rel, 1.0 / 2.2);
  EXPECT_DOUBLE_EQ(t.Table[0].rel, 2.2);
}

TEST(ModuleZoneRanking, HalfOfAHundredCellsIsHalfOfTheArea) {
  test::RasterRows zone(10, std::vector<double>(10, 2.0));
  for (std::size_t r = 0; r < 5; ++r)
    zone[r].assign(10, 1.0);
  const Ranked ranked(zone);
  ASSERT_EQ(ranked.result.FailureCode, 0);
  EXPECT_DOUBLE_EQ(ranked.result.Table[1].rel, 0.5);
  EXPECT_DOUBLE_EQ(ranked.result.Table[0].rel, 100.0);
}

TEST(ModuleZoneRanking, ScansEachRowWithinItsColumnRange) {
  OneBasedArray<RowColumnRange> ranges(2);
  ranges[1] = {2, 2};
  ranges[2] = {0, -1};
  const Ranked ranked({{5, 6, 7}, {8, 8, 8}}, nullptr, 1000.0, &ranges);
  ASSERT_EQ(ranked.result.FailureCode, 0);
  EXPECT_EQ(ranked.result.Count, 1);
  EXPECT_EQ(ranked.result.Table[1].zonenwert, 6.0);
}

TEST(ModuleZoneRanking, TheCodeIsTheNearestWholeNumberWhenCreatingAndCounting) {
  const Ranked ranked({{4.9999999, 5.3, 0.2, 0}});
  const ModuleZoneRanking &t = ranked.result;
  ASSERT_EQ(t.FailureCode, 0);
  ASSERT_EQ(t.Count, 2);
  EXPECT_EQ(t.Table[1].zonenwert, 0.0);
  EXPECT_EQ(t.Table[1].sx, 2.0);
  EXPECT_EQ(t.Table[2].zonenwert, 5.0);
  EXPECT_EQ(t.Table[2].sx, 2.0);
  EXPECT_EQ(t.Index[5], 2);
}

TEST(ModuleZoneRanking, RefusesWithTheDocumentedMessages) {
  struct Case {
    const char *name;
    test::RasterRows zone;
    int code;
    std::string message;
  };
  std::vector<double> tooManyZones;
  for (int code = 0; code <= 10000; ++code)
    tooManyZones.push_back(code);
  std::vector<double> tooManyCodes;
  for (int code = 0; code <= 16000; ++code)
    tooManyCodes.push_back(code);
  const Case cases[] = {
      {"code -1",
       {{1, -1}},
       3,
       "wrong zone index in subbasins.asc!\n Zones have to range from 0 to 32767!"},
      {"code 32768",
       {{32768, 1}},
       3,
       "wrong zone index in subbasins.asc!\n Zones have to range from 0 to 32767!"},
      {"every cell no data", {{N, N}, {N, N}}, 7, "all cells in subbasins.asc are NODATA!"},
      {"10001 zones",
       {tooManyZones},
       4,
       "too much subbasins (10001) in unsatzon_model (max. 10000). Ende!"},
      {"16001 codes", {tooManyCodes}, 4, "too much zones in subbasins.asc, (max. 16000!)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const Ranked ranked(c.zone);
    EXPECT_EQ(ranked.result.FailureCode, c.code);
    EXPECT_EQ(ranked.result.FailureMessage, c.message);
  }
  const Ranked edges({{0, 32767}});
  EXPECT_EQ(edges.result.FailureCode, 0);
  EXPECT_EQ(edges.result.MaxCode, 32767);
}

} // namespace
} // namespace tavro
