// Ranking of zone and region codes over a whole raster: numbering, code
// tables, zone records, column ranges, region means and the refusals.
#include "setup/zone_ranking.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavro {
namespace {

constexpr double N = -9999.0;

struct Raster {
  DiagnosticsLog log{"Tavro_Diag.xml", 4};
  Grid grid;
  RasterShape shape;

  Raster(const std::vector<std::vector<double>> &rows) {
    shape = {static_cast<long>(rows[0].size()), static_cast<long>(rows.size()), N};
    grid = Grid(1, shape.nrows, shape.ncols, shape.nrows, log);
    for (long r = 1; r <= shape.nrows; ++r)
      for (long c = 1; c <= shape.ncols; ++c)
        grid[r][c] = rows[static_cast<std::size_t>(r - 1)][static_cast<std::size_t>(c - 1)];
  }
};

TEST(ZoneRanking, NumbersCodesAscendingAndCountsCells) {
  Raster zone({{N, 10, 10, N}, {3, 7, 10, 7}, {N, N, N, N}});
  const ZoneRankingResult result = RankZoneGrid(zone.grid, nullptr, zone.shape, 1000.0, "z.asc");
  ASSERT_EQ(result.Failure.ExitCode, 0) << result.Failure.Message;
  const ZoneRanking &t = result.Table;
  ASSERT_EQ(t.Count, 3);
  EXPECT_EQ(t.MaxCode, 10);
  ASSERT_EQ(t.CodeIndex.Count(), 10u); // codes 0..10
  const int expected[] = {0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 3};
  for (int code = 0; code <= 10; ++code)
    EXPECT_EQ(t.CodeIndex[static_cast<std::size_t>(code)], expected[code]) << code;
  // Zones 3, 7, 10 with 1, 2 and 3 cells of 1 km2 each.
  const double cells[] = {0, 1, 2, 3};
  const double codes[] = {0, 3, 7, 10};
  for (std::size_t k = 1; k <= 3; ++k) {
    EXPECT_DOUBLE_EQ(t.Records[k].zonenwert, codes[k]);
    EXPECT_DOUBLE_EQ(t.Records[k].sx, cells[k]);
    EXPECT_DOUBLE_EQ(t.Records[k].n, cells[k]);
    EXPECT_DOUBLE_EQ(t.Records[k].RelCellSum, cells[k]);
    EXPECT_DOUBLE_EQ(t.Records[k].rel, cells[k] / 6.0);
  }
  EXPECT_DOUBLE_EQ(t.Records[0].rel, 6.0);
  EXPECT_DOUBLE_EQ(t.Records[0].n + t.Records[0].sx + t.Records[0].zonenwert, 0.0);
  EXPECT_EQ(result.RowRanges[1], (RowColumnRange{2, 3}));
  EXPECT_EQ(result.RowRanges[2], (RowColumnRange{1, 4}));
  EXPECT_EQ(result.RowRanges[3], (RowColumnRange{0, -1}));
}

TEST(ZoneRanking, WeightsGiveTheSharesOfTheArea) {
  Raster zone({{1, 1, 2}});
  Raster weights({{0.5, 0.7, 1.0}});
  const ZoneRankingResult result =
      RankZoneGrid(zone.grid, &weights.grid, zone.shape, 1000.0, "z.asc");
  ASSERT_EQ(result.Failure.ExitCode, 0);
  const ZoneRanking &t = result.Table;
  EXPECT_DOUBLE_EQ(t.Records[1].n, 1.2);
  EXPECT_DOUBLE_EQ(t.Records[1].sx, 2.0);
  EXPECT_DOUBLE_EQ(t.Records[1].rel, 1.2 / 2.2);
  EXPECT_DOUBLE_EQ(t.Records[2].rel, 1.0 / 2.2);
  EXPECT_DOUBLE_EQ(t.Records[0].rel, 2.2);
}

TEST(ZoneRanking, AcceptsTheCodeRangeAndRefusesWhatLiesOutside) {
  Raster edge({{0, 32767}});
  EXPECT_EQ(RankZoneGrid(edge.grid, nullptr, edge.shape, 1.0, "z").Failure.ExitCode, 0);
  for (const double bad : {32768.0, -1.0, -0.5}) {
    Raster zone({{1, bad}});
    const ZoneRankingResult result = RankZoneGrid(zone.grid, nullptr, zone.shape, 1.0, "z.asc");
    EXPECT_EQ(result.Failure.ExitCode, 3) << bad;
    EXPECT_EQ(result.Failure.Message,
              "invalid zone code in z.asc!\n (codes has to be between 0 and 32767)!");
  }
  Raster empty({{N, N}, {N, N}});
  const ZoneRankingResult none = RankZoneGrid(empty.grid, nullptr, empty.shape, 1.0, "e.asc");
  EXPECT_EQ(none.Failure.ExitCode, 7);
  EXPECT_EQ(none.Failure.Message, "all cells in the zone grid e.asc are NODATA!");
  Raster zeroWeights({{1, 2}});
  Raster weights({{0.0, 0.0}});
  EXPECT_EQ(
      RankZoneGrid(zeroWeights.grid, &weights.grid, zeroWeights.shape, 1.0, "w").Failure.ExitCode,
      7);
}

TEST(ZoneRanking, RefusesMoreThanTheMaximumNumberOfZones) {
  std::vector<double> row;
  for (int code = 0; code <= kMaxZoneCount; ++code)
    row.push_back(code);
  Raster zone({row});
  const ZoneRankingResult result = RankZoneGrid(zone.grid, nullptr, zone.shape, 1.0, "big.asc");
  EXPECT_EQ(result.Failure.ExitCode, 4);
  EXPECT_EQ(result.Failure.Message, "too much zones in big.asc, (max. 16000)!");
  row.pop_back();
  Raster fits({row});
  EXPECT_EQ(RankZoneGrid(fits.grid, nullptr, fits.shape, 1.0, "z").Table.Count, kMaxZoneCount);
}

TEST(RegionRanking, NumbersRegionsAndAveragesTheirCells) {
  Raster zone({{1, 1, 1}, {1, 1, N}});
  Raster regions({{20, 20, 5}, {20, 5, 99}});
  const RegionRankingResult result =
      RankRegionGrid(zone.grid, regions.grid, zone.shape, "regions.asc");
  ASSERT_EQ(result.Failure.ExitCode, 0) << result.Failure.Message;
  const RegionRanking &t = result.Table;
  ASSERT_EQ(t.Count, 2);
  EXPECT_EQ(t.MaxCode, 20); // 99 lies outside the zone grid
  EXPECT_EQ(t.CodeIndex[5], 1);
  EXPECT_EQ(t.CodeIndex[20], 2);
  // Region 5: cells (1,3) and (2,2); region 20: (1,1), (1,2), (2,1).
  EXPECT_DOUBLE_EQ(t.Records[1].CellCount, 2.0);
  EXPECT_DOUBLE_EQ(t.Records[1].MeanRowExact, 1.5);
  EXPECT_DOUBLE_EQ(t.Records[1].MeanColumnExact, 2.5);
  EXPECT_EQ(t.Records[1].MeanRow, 1);
  EXPECT_EQ(t.Records[1].MeanColumn, 2);
  EXPECT_DOUBLE_EQ(t.Records[2].MeanRowExact, 4.0 / 3.0);
  EXPECT_DOUBLE_EQ(t.Records[2].MeanColumnExact, 4.0 / 3.0);
  EXPECT_EQ(t.Records[2].MeanRow, 1);
}

TEST(RegionRanking, RefusesInvalidCodesAndTooManyRegions) {
  Raster zone({{1, 1}});
  for (const double bad : {N, 0.0, 32768.0}) {
    Raster regions({{1, bad}});
    const RegionRankingResult result = RankRegionGrid(zone.grid, regions.grid, zone.shape, "r");
    EXPECT_EQ(result.Failure.ExitCode, 3) << bad;
    EXPECT_EQ(result.Failure.Message,
              "invalid region code in r!\n (codes has to be between 1 and 32767)!\n");
  }
  std::vector<double> zoneRow(31, 1.0);
  std::vector<double> regionRow;
  for (int code = 1; code <= 31; ++code)
    regionRow.push_back(code);
  Raster wideZone({zoneRow});
  Raster wideRegions({regionRow});
  const RegionRankingResult result =
      RankRegionGrid(wideZone.grid, wideRegions.grid, wideZone.shape, "r");
  EXPECT_EQ(result.Failure.ExitCode, 4);
  EXPECT_EQ(result.Failure.Message, "too much zones in r, (max. 30)!\n");
}

} // namespace
} // namespace tavro
