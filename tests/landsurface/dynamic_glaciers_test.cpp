// Dynamic glaciers on small whole rasters: the glacier list and its subbasin
// check, new glacier cells, the change per cell and the service of the
// bands, the distribution of a change over a band, the yearly balance of a
// 20 x 20 glacier and the redistribution of the mass balance of lost area.
#include "landsurface/glacier/dynamic_glaciers.h"

#include "kernel/diagnostics_log.h"
#include "landsurface/glacier/glacier_melt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace tavro::glacier {
namespace {

constexpr double N = -9999.0;
using CellValue = std::function<double(long, long)>;

// Whole-raster glacier grids of rows x cols cells of 10 m.
class GlacierRasterFixture {
public:
  GlacierRasterFixture(long rows, long cols, int levels) : rows_(rows), cols_(cols) {
    for (Grid *g : {&subbasin, &elevation, &fraction, &codes, &fractionOld, &codesOld, &massBalance,
                    &oldMassBalance, &firnTotal}) {
      *g = Grid(1, rows, cols, rows, log_);
      g->Fill(0.0);
    }
    firn = Stack(1, rows, cols, levels, rows, log_);
    firn.Fill(0.0);
    raster = {rows,   cols,         N,         10.0,         &subbasin,       &elevation, &fraction,
              &codes, &fractionOld, &codesOld, &massBalance, &oldMassBalance, &firnTotal, &firn,
              levels};
  }
  void Set(Grid &g, const CellValue &value) {
    for (long r = 1; r <= rows_; ++r)
      for (long c = 1; c <= cols_; ++c)
        g[r][c] = value(r, c);
  }
  double Sum(const Grid &g) const {
    double s = 0.0;
    for (long r = 1; r <= rows_; ++r)
      for (long c = 1; c <= cols_; ++c)
        s += g[r][c];
    return s;
  }
  GlacierMessages Messages() {
    return {[this](const std::string &e) { entries.push_back(e); },
            [this](const std::string &l) { errorLines.push_back(l); }};
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  Grid subbasin, elevation, fraction, codes, fractionOld, codesOld, massBalance, oldMassBalance,
      firnTotal;
  Stack firn;
  GlacierRaster raster;
  std::vector<std::string> entries;
  std::vector<std::string> errorLines;

private:
  long rows_;
  long cols_;
};

GlacierParameters Parameters(int bands, int extra) { return {28.5, 1.36, bands, extra, 0.25}; }

TEST(DynamicGlaciers, ListCountsCellsAndRefusesAGlacierInTwoSubbasins) {
  GlacierRasterFixture f(2, 3, 2);
  f.Set(f.subbasin, [](long, long c) { return c <= 2 ? 3.0 : 4.0; });
  f.Set(f.elevation, [](long r, long c) { return 2000.0 + 10.0 * r + c; });
  f.Set(f.fraction, [](long r, long c) { return r == 1 && c <= 2 ? 0.5 : 0.0; });
  f.Set(f.codes, [](long r, long c) { return r == 1 && c <= 2 ? 5.0 : N; });
  DynamicGlaciers glaciers(f.raster, Parameters(1, 0), f.Messages());
  EXPECT_FALSE(glaciers.BuildGlacierList().has_value());
  ASSERT_EQ(glaciers.Glaciers().size(), 1u);
  const GlacierRecord &g = glaciers.Glaciers()[0];
  EXPECT_EQ(g.Code, 5);
  EXPECT_EQ(g.Subbasin, 3);
  EXPECT_EQ(g.CellCount, 2);
  EXPECT_DOUBLE_EQ(g.Area, 2 * 100.0 * 0.5 / 1e6);
  EXPECT_EQ(g.MinimumElevation, 2011.0);
  EXPECT_EQ(g.MaximumElevation, 2012.0);

  f.fraction[2][3] = 1.0;
  f.codes[2][3] = 5.0;
  const auto conflict = glaciers.BuildGlacierList();
  ASSERT_TRUE(conflict.has_value());
  EXPECT_EQ(conflict->Code, 5);
  EXPECT_EQ(conflict->RecordSubbasin, 3);
  EXPECT_EQ(conflict->Row, 2);
  EXPECT_EQ(conflict->Column, 3);
  EXPECT_EQ(conflict->CellSubbasin, 4.0);
}

TEST(DynamicGlaciers, MarkedCellsJoinANeighbourOrFoundAGlacier) {
  GlacierRasterFixture f(4, 6, 2);
  f.Set(f.subbasin, [](long, long c) { return c <= 3 ? 1.0 : 2.0; });
  f.Set(f.elevation, [](long r, long) { return 3000.0 - r; });
  f.Set(f.fraction, [](long r, long c) { return r == 2 && c == 2 ? 1.0 : 0.0; });
  f.Set(f.codes, [](long r, long c) { return r == 2 && c == 2 ? 7.0 : N; });
  f.fraction[4][6] = 0.4;
  f.codes[4][6] = 9.0;
  DynamicGlaciers glaciers(f.raster, Parameters(1, 0), f.Messages());
  ASSERT_FALSE(glaciers.BuildGlacierList().has_value());
  f.codes[3][3] = -1.0; // diagonal neighbour of glacier 7, same subbasin
  f.codes[1][5] = -1.0; // isolated in subbasin 2
  f.codes[2][4] = -1.0; // next to glacier 7, but in subbasin 2
  f.codes[4][1] = 0.0;  // an unlisted code 0
  for (GlacierRecord &g : glaciers.Glaciers())
    g.ResetStatistics();
  glaciers.GlacierStatistics(-1, false);
  EXPECT_EQ(f.codes[3][3], 7.0);
  EXPECT_EQ(f.fraction[3][3], 0.25);
  EXPECT_EQ(f.codesOld[3][3], 7.0);
  EXPECT_EQ(f.codes[1][5], 10.0) << "the largest listed code + 1";
  EXPECT_EQ(f.codes[2][4], 10.0) << "joins the new glacier 10, its neighbour above";
  EXPECT_EQ(f.codes[4][1], 0.0);
  EXPECT_EQ(f.fraction[4][1], 0.25);
  ASSERT_NE(glaciers.Find(10), nullptr);
  EXPECT_EQ(glaciers.Find(10)->Subbasin, 2);
  ASSERT_NE(glaciers.Find(0), nullptr);
  EXPECT_EQ(glaciers.Find(7)->CellCount, 2);
}

TEST(DynamicGlaciers, ShrinkingACellBeyondItsFractionLeavesTheRemainder) {
  GlacierRasterFixture f(1, 1, 1);
  f.fraction[1][1] = 0.3;
  f.codes[1][1] = 4.0;
  ElevationBand band(0.0, 1.0, 1.0);
  band.Cells.push_back({1, 1, 0});
  const double remainder = band.DistributeChange(-0.5, f.raster, f.Messages());
  EXPECT_EQ(f.fraction[1][1], 0.0);
  EXPECT_EQ(f.codes[1][1], N);
  EXPECT_NEAR(remainder, -0.2, 1e-15);
  EXPECT_TRUE(f.errorLines.empty());
}

TEST(DynamicGlaciers, ABandThatCannotTakeItsShareReturnsTheRest) {
  GlacierRasterFixture f(1, 2, 1);
  f.fraction[1][1] = 1.0;
  f.fraction[1][2] = 0.5;
  f.codes[1][1] = f.codes[1][2] = 4.0;
  ElevationBand band(0.0, 1.0, 1.0);
  band.Cells.push_back({1, 1, 0});
  band.Cells.push_back({1, 2, 0});
  // 2 x 0.9 to add: the full cell takes nothing, the other reaches 1; the
  // second pass makes no progress and the rest goes back to the glacier.
  const double remainder = band.DistributeChange(0.9, f.raster, f.Messages());
  EXPECT_EQ(f.fraction[1][1], 1.0);
  EXPECT_EQ(f.fraction[1][2], 1.0);
  EXPECT_NEAR(remainder, 1.3, 1e-12);
  EXPECT_TRUE(f.errorLines.empty());
}

// A 20 x 20 glacier of code 7 at fraction 0.5, elevations 3000 (row 20) to
// 3190 (row 1), three bands, extra weight 1.
class TwentyByTwenty : public testing::Test {
protected:
  TwentyByTwenty() {
    f_.Set(f_.subbasin, [](long, long) { return 1.0; });
    f_.Set(f_.elevation, [](long r, long) { return 3000.0 + 10.0 * (20 - r); });
    f_.Set(f_.fraction, [](long, long) { return 0.5; });
    f_.Set(f_.codes, [](long, long) { return 7.0; });
  }
  GlacierRasterFixture f_{20, 20, 2};
};

TEST_F(TwentyByTwenty, BandsAreServedSixTwoAndOneTimes) {
  DynamicGlaciers glaciers(f_.raster, Parameters(3, 1), f_.Messages());
  ASSERT_FALSE(glaciers.BuildGlacierList().has_value());
  glaciers.SetInitialVolumes();
  GlacierRecord &g = glaciers.Glaciers()[0];
  ASSERT_EQ(g.Bands.size(), 3u);
  const auto n0 = static_cast<double>(g.Bands[0].Cells.size());
  const auto n1 = static_cast<double>(g.Bands[1].Cells.size());
  const auto n2 = static_cast<double>(g.Bands[2].Cells.size());
  EXPECT_EQ(n0 + n1 + n2, 400.0);
  g.CellsToChange = 5.0;
  const GlacierRecord::Change change = g.ChangePerCell(f_.fraction);
  EXPECT_EQ(change.Changeable, 400);
  EXPECT_DOUBLE_EQ(change.PerCell, 5.0 / (6 * n0 + 2 * n1 + n2));

  // A mass balance that adds about five cells.
  const double oldSum = f_.Sum(f_.fraction);
  const double oldArea = g.OldArea;
  f_.Set(f_.massBalance, [](long, long) { return 200.0; });
  glaciers.GlacierBalance();
  const double F = 1e6 * (g.Area - oldArea) / 100.0;
  EXPECT_GT(F, 1.0);
  EXPECT_NEAR(f_.Sum(f_.fraction) - oldSum, F, 1e-5);
  const double d = F / (6 * n0 + 2 * n1 + n2);
  EXPECT_NEAR(f_.fraction[20][1] - 0.5, 6 * d, 1e-12) << "lowest band";
  EXPECT_NEAR(f_.fraction[10][1] - 0.5, 2 * d, 1e-12);
  EXPECT_NEAR(f_.fraction[1][1] - 0.5, d, 1e-12) << "highest band";
  EXPECT_NE(std::find(f_.entries.begin(), f_.entries.end(), "DEBUG: Glacierbalance\n"),
            f_.entries.end());
}

TEST_F(TwentyByTwenty, ShrinkingSettlesAndTheLostMassBalanceIsRedistributed) {
  DynamicGlaciers glaciers(f_.raster, Parameters(3, 1), f_.Messages());
  ASSERT_FALSE(glaciers.BuildGlacierList().has_value());
  glaciers.SetInitialVolumes();
  f_.Set(f_.massBalance, [](long r, long) { return -3000.0 - 100.0 * r; });
  for (long r = 1; r <= 20; ++r)
    for (long c = 1; c <= 20; ++c) {
      f_.fractionOld[r][c] = f_.fraction[r][c];
      f_.codesOld[r][c] = f_.codes[r][c];
    }
  const double oldSum = f_.Sum(f_.fraction);
  const double oldArea = glaciers.Glaciers()[0].OldArea;
  glaciers.GlacierBalance();
  const GlacierRecord &g = glaciers.Glaciers()[0];
  EXPECT_EQ(g.NewVolume, kMinimumVolume);
  const double F = 1e6 * (g.Area - oldArea) / 100.0;
  EXPECT_LT(F, -90.0);
  EXPECT_NEAR(f_.Sum(f_.fraction) - oldSum, F, 1e-5);
  EXPECT_EQ(g.OldArea, g.Area);

  double lost = 0.0;
  for (long r = 1; r <= 20; ++r)
    for (long c = 1; c <= 20; ++c)
      lost += f_.codes[r][c] != f_.codesOld[r][c]
                  ? f_.massBalance[r][c] * f_.fractionOld[r][c]
                  : (f_.fractionOld[r][c] - f_.fraction[r][c]) * f_.massBalance[r][c];
  Grid before(1, 20, 20, 20, f_.log_);
  for (long r = 1; r <= 20; ++r)
    for (long c = 1; c <= 20; ++c)
      before[r][c] = f_.massBalance[r][c];
  glaciers.RedistributeGlacierMassBalance(-1);
  double added = 0.0;
  for (long r = 1; r <= 20; ++r)
    for (long c = 1; c <= 20; ++c)
      if (f_.codes[r][c] >= 0.0)
        added += (f_.massBalance[r][c] - before[r][c]) * f_.fraction[r][c];
  EXPECT_NEAR(added, lost, 1e-9 * std::abs(lost) + 1e-9);
  EXPECT_NE(lost, 0.0);
}

TEST(DynamicGlaciers, GrowthClaimsFreeNeighboursOfFullCells) {
  GlacierRasterFixture f(3, 3, 2);
  f.Set(f.subbasin, [](long, long) { return 1.0; });
  f.Set(f.codes, [](long, long) { return N; });
  f.fraction[2][2] = 1.0;
  f.codes[2][2] = 3.0;
  f.firnTotal[2][2] = 40.0;
  DynamicGlaciers glaciers(f.raster, Parameters(1, 0), f.Messages());
  ASSERT_FALSE(glaciers.BuildGlacierList().has_value());
  // The full cell holds firn: scan 1 finds nothing, scan 2 claims the four
  // direct neighbours with the neighbour's firn spread over the layers.
  glaciers.GrowGlacier(3);
  for (auto [r, c] : {std::pair{1L, 2L}, std::pair{2L, 1L}, std::pair{2L, 3L}, std::pair{3L, 2L}}) {
    EXPECT_EQ(f.codes[r][c], 3.0);
    EXPECT_EQ(f.fraction[r][c], 0.0);
    EXPECT_EQ(f.firnTotal[r][c], 40.0);
    EXPECT_EQ(f.firn[r][c][0], 40.0);
    EXPECT_EQ(f.firn[r][c][1], 20.0);
    EXPECT_EQ(f.firn[r][c][2], 20.0);
  }
  EXPECT_EQ(f.codes[1][1], N) << "diagonal cells are not claimed";
}

} // namespace
} // namespace tavro::glacier
