// Pure steps of the raster decomposition: weights, cell counts, owners,
// strips, column ranges, run tables and halo lists, on small hand-checked
// rasters.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "raster/parallel/mpi_regions.h"
#include "support/test_support.h"

namespace tavro {
namespace {

constexpr double N = -9999.0;  // nodata
constexpr double X = kNoOwner; // a cell of no process in "MPIRegions" and "MPIHalo"

// A grid of rows 1..n from the given rows (columns 1..m).
Grid MakeGrid(const std::vector<std::vector<double>> &rows, DiagnosticsLog &log) {
  const long nrows = static_cast<long>(rows.size());
  const long ncols = static_cast<long>(rows.front().size());
  Grid grid(1, nrows, ncols, nrows, log);
  for (long r = 1; r <= nrows; ++r)
    for (long c = 1; c <= ncols; ++c)
      grid[r][c] = rows[static_cast<std::size_t>(r - 1)][static_cast<std::size_t>(c - 1)];
  return grid;
}

std::vector<std::vector<double>> Rows(const Grid &grid, long nrows, long ncols, long firstColumn) {
  std::vector<std::vector<double>> rows;
  for (long r = 1; r <= nrows; ++r)
    rows.emplace_back(grid[r] + firstColumn, grid[r] + ncols + 1);
  return rows;
}

// ---------------------------------------------------------------- weights
struct WeightCase {
  const char *name;
  std::vector<double> times;
  std::vector<double> weights;
};

class SpeedWeightCases : public testing::TestWithParam<WeightCase> {};

TEST_P(SpeedWeightCases, NormalisedInverseTimes) {
  const auto &c = GetParam();
  const std::vector<double> w = SpeedWeights(c.times);
  ASSERT_EQ(w.size(), c.weights.size());
  for (std::size_t k = 0; k < w.size(); ++k)
    EXPECT_NEAR(w[k], c.weights[k], 1e-15) << "instance " << k;
}

INSTANTIATE_TEST_SUITE_P(
    Decomposition, SpeedWeightCases,
    testing::Values(WeightCase{"OneProcess", {12.5}, {1.0}},
                    WeightCase{"Equal", {3, 3, 3, 3}, {0.25, 0.25, 0.25, 0.25}},
                    WeightCase{"OneTwoFour", {1, 2, 4}, {4.0 / 7, 2.0 / 7, 1.0 / 7}},
                    // A time of 0 or below counts as weight 1 before normalising.
                    WeightCase{"ZeroAndNegative", {0, -3, 2}, {0.4, 0.4, 0.2}},
                    // A time whose inverse is not finite is no usable time.
                    WeightCase{"Denormal", {1e-320, 1}, {0.5, 0.5}},
                    WeightCase{"NotANumber", {NAN, 0.5}, {1.0 / 3, 2.0 / 3}}),
    [](const auto &info) { return std::string(info.param.name); });

// ------------------------------------------------------------ cell counts
struct CountCase {
  const char *name;
  std::int64_t cells;
  std::vector<double> times;
  MpiCellCounts counts;
  std::vector<int> raised;
};

class TargetCountCases : public testing::TestWithParam<CountCase> {};

TEST_P(TargetCountCases, EveryProcessGetsItsShare) {
  const auto &c = GetParam();
  const CellCountTargets t = TargetCellCounts(c.cells, SpeedWeights(c.times));
  EXPECT_EQ(t.error, "");
  EXPECT_EQ(t.counts, c.counts);
  EXPECT_EQ(t.raised, c.raised);
}

INSTANTIATE_TEST_SUITE_P(
    Decomposition, TargetCountCases,
    testing::Values(
        CountCase{"OneProcess", 17, {5}, {17}, {}},
        CountCase{"FourEqual", 1000, {1, 1, 1, 1}, {250, 250, 250, 250}, {}},
        CountCase{"OneTwoFour", 700, {1, 2, 4}, {400, 200, 100}, {}},
        // Two cells each; the last process takes the rest.
        CountCase{"RestToLast", 10, {1, 1, 1, 1, 1}, {2, 2, 2, 2, 2}, {}},
        // Shares of 0.2 cells round to none; the last would get 0:
        // both are raised to one cell taken from the largest share.
        CountCase{"ShareRoundsToZero", 10, {1, 48, 48}, {8, 1, 1}, {1, 2}},
        // Rounding up every share leaves the last process below zero.
        // 1.7 cells each round up: the last would get -1 and takes
        // two cells from the largest shares, the lowest ranks first.
        CountCase{
            "LastBelowZero", 17, std::vector<double>(10, 1.0), {1, 1, 2, 2, 2, 2, 2, 2, 2, 1}, {9}},
        CountCase{"AsManyCellsAsProcesses", 3, {100, 1, 1}, {1, 1, 1}, {0}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Decomposition, FewerValidCellsThanProcessesNamesBothNumbers) {
  const std::vector<double> weights(4, 0.25);
  const CellCountTargets t = TargetCellCounts(3, weights);
  EXPECT_TRUE(t.counts.empty());
  EXPECT_EQ(t.error, "MPI-Regions: 3 valid cells cannot be divided among 4 processes: every "
                     "process needs at least one cell");
}

TEST(Decomposition, RowsBeyondTheTagBoundAreRefused) {
  int code = 0;
  {
    DiagnosticsLog log("", 4);
    CheckMessageTagBound({10, 32767, N}, 3, 32767, log); // fits exactly
    try {
      CheckMessageTagBound({10, 32768, N}, 3, 32767, log);
    } catch (int thrown) {
      code = thrown;
    }
  }
  EXPECT_EQ(code, kDecompositionExitCode);
  EXPECT_NE(test::ReadWholeFile("Tavro_Diag_0.xml")
                .find("MPI-Regions: the raster has 32768 rows, but the message tags of this "
                      "MPI library end at 32767"),
            std::string::npos);
}

TEST(Decomposition, ProcessesBeyondTheTagBoundAreRefused) {
  DiagnosticsLog log("", 4);
  EXPECT_THROW(CheckMessageTagBound({10, 10, N}, 102, 100, log), int);
  EXPECT_NO_THROW(CheckMessageTagBound({10, 10, N}, 101, 100, log));
}

// ---------------------------------------------------------------- strips
TEST(Decomposition, HaloStripAddsARowWhereTheRasterHasOne) {
  EXPECT_EQ(HaloStrip({1, 4}, 10), (StripRows{1, 5}));
  EXPECT_EQ(HaloStrip({3, 10}, 10), (StripRows{2, 10}));
  EXPECT_EQ(HaloStrip({5, 5}, 10), (StripRows{4, 6}));
  EXPECT_EQ(HaloStrip({1, 1}, 1), (StripRows{1, 1}));
}

// A 4 x 6 raster of 21 valid cells, divided among 3 processes of 7 cells:
//   zone            owners
//   V V V V V V     2 2 2 2 2 2
//   V V N V V V     2 1 X 1 1 1
//   V V V V N V     1 1 1 0 X 0
//   N V V V V V     X 0 0 0 0 0
class ThreeProcessRaster : public testing::Test {
protected:
  DiagnosticsLog log{"", 4};
  RasterShape shape{6, 4, N};
  Grid zone = MakeGrid(
      {{1, 1, 1, 1, 1, 1}, {1, 1, N, 1, 1, 1}, {1, 1, 1, 1, N, 1}, {N, 1, 1, 1, 1, 1}}, log);
  Grid regions{1, 4, 6, 4, log};
  std::vector<StripRows> strips;

  void SetUp() override {
    ASSERT_EQ(CountValidCells(zone, shape), 21);
    strips = AssignOwners(zone, regions, shape, {7, 7, 7});
  }
  HaloList ReceiveList(int rank) {
    Grid halo(1, 4, 6, 4, log);
    halo.Fill(X);
    MarkHaloCells(regions, halo, shape, strips[static_cast<std::size_t>(rank)], rank);
    return BuildHaloReceiveList(regions, halo, shape,
                                HaloStrip(strips[static_cast<std::size_t>(rank)], 4));
  }
};

TEST_F(ThreeProcessRaster, HighestRankOwnsTheTopAndNeighboursShareRows) {
  const std::vector<std::vector<double>> owners{
      {2, 2, 2, 2, 2, 2}, {2, 1, X, 1, 1, 1}, {1, 1, 1, 0, X, 0}, {X, 0, 0, 0, 0, 0}};
  EXPECT_EQ(Rows(regions, 4, 6, 1), owners);
  EXPECT_EQ(strips, (std::vector<StripRows>{{3, 4}, {2, 3}, {1, 2}}));
  EXPECT_EQ(CountOwnedCells(regions, shape, 3), (MpiCellCounts{7, 7, 7}));
}

TEST_F(ThreeProcessRaster, ColumnRangesOfTheRequestedRows) {
  const OneBasedArray<RowColumnRange> all = ComputeRowColumnRanges(zone, shape, {1, 4});
  ASSERT_EQ(all.Count(), 4u);
  EXPECT_EQ(all[0], (RowColumnRange{0, -1}));
  EXPECT_EQ(all[1], (RowColumnRange{1, 6}));
  EXPECT_EQ(all[3], (RowColumnRange{1, 6}));
  EXPECT_EQ(all[4], (RowColumnRange{2, 6}));
  const OneBasedArray<RowColumnRange> strip =
      ComputeRowColumnRanges(regions, {shape.ncols, shape.nrows, X}, {2, 3});
  EXPECT_EQ(strip[1], (RowColumnRange{0, -1}));
  EXPECT_EQ(strip[2], (RowColumnRange{1, 6}));
  EXPECT_EQ(strip[4], (RowColumnRange{0, -1}));
}

TEST_F(ThreeProcessRaster, RunTablesOfRankZeroAndOfAnOwner) {
  const RunTable whole = WholeRasterRuns(regions, shape);
  EXPECT_EQ(std::vector<StripRun>(whole.Row(2).begin(), whole.Row(2).end()),
            (std::vector<StripRun>{{1, 1, 2}, {2, 1, 1}, {3, 1, -1}, {4, 3, 1}}));
  EXPECT_EQ(std::vector<StripRun>(whole.Row(3).begin(), whole.Row(3).end()),
            (std::vector<StripRun>{{1, 3, 1}, {4, 1, 0}, {5, 1, -1}, {6, 1, 0}}));
  EXPECT_EQ(std::vector<StripRun>(whole.Row(4).begin(), whole.Row(4).end()),
            (std::vector<StripRun>{{2, 5, 0}}));

  const RunTable own = OwnRuns(regions, shape, strips[1], 1);
  EXPECT_TRUE(own.Row(1).empty());
  EXPECT_EQ(std::vector<StripRun>(own.Row(2).begin(), own.Row(2).end()),
            (std::vector<StripRun>{{2, 1, 1}, {4, 3, 1}}));
  EXPECT_EQ(std::vector<StripRun>(own.Row(3).begin(), own.Row(3).end()),
            (std::vector<StripRun>{{1, 3, 1}}));
  EXPECT_TRUE(own.Row(4).empty());
}

TEST_F(ThreeProcessRaster, HelperGridKeepsThePairsThatFit) {
  // Six columns hold two pairs and the empty end pair.
  const RunTable whole = WholeRasterRuns(regions, shape);
  Grid helper(1, 4, 6, 4, log);
  WriteHelperRows(whole, regions, helper, shape, {1, 4}, true);
  EXPECT_EQ(Rows(helper, 4, 6, 0), (std::vector<std::vector<double>>{{0, 2, 6, 0, 0, 0, 0},
                                                                     {0, 2, 1, 1, 1, 0, 0},
                                                                     {0, 1, 3, 0, 1, 0, 0},
                                                                     {1, 0, 5, 0, 0, 0, 0}}));
  Grid ownHelper(1, 4, 6, 4, log);
  WriteHelperRows(OwnRuns(regions, shape, strips[1], 1), regions, ownHelper, shape, strips[1],
                  false);
  EXPECT_EQ(Rows(ownHelper, 4, 6, 0)[1], (std::vector<double>{0, 2, 1, 4, 3, 0, 0}));
  EXPECT_EQ(Rows(ownHelper, 4, 6, 0)[2], (std::vector<double>{0, 1, 3, 0, 0, 0, 0}));
}

TEST_F(ThreeProcessRaster, HaloListsOfEachProcess) {
  // Cells of one peer separated by a nodata cell (rank 1, row 3, columns 4
  // and 6) stay two records: nobody sends the nodata cell between.
  EXPECT_EQ(ReceiveList(0), (HaloList{{2, 4, 3, 1}, {3, 1, 3, 1}}));
  EXPECT_EQ(ReceiveList(1),
            (HaloList{{1, 1, 6, 2}, {2, 1, 1, 2}, {3, 4, 1, 0}, {3, 6, 1, 0}, {4, 2, 3, 0}}));
  EXPECT_EQ(ReceiveList(2), (HaloList{{2, 2, 1, 1}, {2, 4, 3, 1}, {3, 1, 2, 1}}));
  EXPECT_EQ(PeersOf(ReceiveList(1)), (std::vector<PeerCount>{{0, 3}, {2, 2}}));
}

// Halo cells of one peer with that peer's own cells between form one record
// covering the gap; with nodata cells between they do not.
//   zone                   owners
//   V V V V V V V V V V    1 1 1 1 1 1 1 1 1 1
//   V V V N N N N V V V    1 1 0 X X X X 0 0 0
//   V V V V V V V V V V    0 0 0 0 0 0 0 0 0 0
TEST(Decomposition, HaloRecordSpansOnlyTheOwnersCells) {
  DiagnosticsLog log("", 4);
  const RasterShape shape{10, 3, N};
  const Grid zone = MakeGrid({{1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
                              {1, 1, 1, N, N, N, N, 1, 1, 1},
                              {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
                             log);
  Grid regions(1, 3, 10, 3, log);
  const auto strips = AssignOwners(zone, regions, shape, {14, 12});
  EXPECT_EQ(strips, (std::vector<StripRows>{{2, 3}, {1, 2}}));
  const auto receiveList = [&](int rank) {
    Grid halo(1, 3, 10, 3, log);
    halo.Fill(X);
    MarkHaloCells(regions, halo, shape, strips[static_cast<std::size_t>(rank)], rank);
    return BuildHaloReceiveList(regions, halo, shape, {1, 3});
  };
  // Rank 0 holds row 1, columns 2-4 and 7-10; columns 5 and 6 are rank 1's too.
  EXPECT_EQ(receiveList(0), (HaloList{{1, 2, 9, 1}, {2, 1, 2, 1}}));
  EXPECT_EQ(receiveList(1), (HaloList{{2, 3, 1, 0}, {2, 8, 3, 0}, {3, 1, 3, 0}}));
}

TEST(Decomposition, OneProcessOwnsEverythingWithoutHalo) {
  DiagnosticsLog log("", 4);
  const RasterShape shape{3, 4, N};
  const Grid zone = MakeGrid({{N, N, N}, {N, 5, N}, {7, 7, N}, {N, N, N}}, log);
  Grid regions(1, 4, 3, 4, log);
  const auto strips = AssignOwners(zone, regions, shape, {3});
  EXPECT_EQ(strips, (std::vector<StripRows>{{2, 3}}));
  Grid halo(1, 4, 3, 4, log);
  halo.Fill(X);
  MarkHaloCells(regions, halo, shape, {1, 4}, 0);
  EXPECT_TRUE(BuildHaloReceiveList(regions, halo, shape, HaloStrip(strips[0], 4)).empty());
}

// The owners and halo lists do not depend on the zone grid's nodata value,
// also when it is 0 (the rank of a process) or above every rank.
class NodataValueCases : public testing::TestWithParam<double> {};

TEST_P(NodataValueCases, DecompositionIsTheSameForAnyNodataValue) {
  DiagnosticsLog log("", 4);
  const double nodata = GetParam();
  const double v = nodata + 1.0; // a valid zone code
  // The raster of ThreeProcessRaster, with this nodata value.
  const RasterShape shape{6, 4, nodata};
  const Grid zone = MakeGrid({{v, v, v, v, v, v},
                              {v, v, nodata, v, v, v},
                              {v, v, v, v, nodata, v},
                              {nodata, v, v, v, v, v}},
                             log);
  Grid regions(1, 4, 6, 4, log);
  regions.Fill(X);
  const auto strips = AssignOwners(zone, regions, shape, {7, 7, 7});
  EXPECT_EQ(Rows(regions, 4, 6, 1),
            (std::vector<std::vector<double>>{
                {2, 2, 2, 2, 2, 2}, {2, 1, X, 1, 1, 1}, {1, 1, 1, 0, X, 0}, {X, 0, 0, 0, 0, 0}}));
  EXPECT_EQ(CountOwnedCells(regions, shape, 3), (MpiCellCounts{7, 7, 7}));
  const std::vector<HaloList> expected{
      {{2, 4, 3, 1}, {3, 1, 3, 1}},
      {{1, 1, 6, 2}, {2, 1, 1, 2}, {3, 4, 1, 0}, {3, 6, 1, 0}, {4, 2, 3, 0}},
      {{2, 2, 1, 1}, {2, 4, 3, 1}, {3, 1, 2, 1}}};
  for (int rank = 0; rank < 3; ++rank) {
    const StripRows strip = strips[static_cast<std::size_t>(rank)];
    Grid halo(1, 4, 6, 4, log);
    halo.Fill(X);
    MarkHaloCells(regions, halo, shape, strip, rank);
    EXPECT_EQ(BuildHaloReceiveList(regions, halo, shape, HaloStrip(strip, 4)),
              expected[static_cast<std::size_t>(rank)])
        << "rank " << rank;
  }
  const RunTable whole = WholeRasterRuns(regions, shape);
  EXPECT_EQ(std::vector<StripRun>(whole.Row(4).begin(), whole.Row(4).end()),
            (std::vector<StripRun>{{2, 5, 0}}));
}

INSTANTIATE_TEST_SUITE_P(Decomposition, NodataValueCases, testing::Values(-9999.0, 0.0, 1000.0),
                         [](const auto &info) {
                           return info.index == 0   ? std::string("Minus9999")
                                  : info.index == 1 ? std::string("Zero")
                                                    : std::string("Thousand");
                         });

// A ragged row of alternating valid and nodata cells has more runs than a
// grid row of the helper holds; the run table keeps every one of them.
TEST(Decomposition, RaggedRowKeepsAllRuns) {
  DiagnosticsLog log("", 4);
  const RasterShape shape{10, 2, N};
  const Grid zone = MakeGrid({{1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, {1, N, 1, N, 1, N, 1, N, 1, N}}, log);
  Grid regions(1, 2, 10, 2, log);
  const auto strips = AssignOwners(zone, regions, shape, {8, 7});
  EXPECT_EQ(strips, (std::vector<StripRows>{{1, 2}, {1, 1}}));
  const RunTable whole = WholeRasterRuns(regions, shape);
  ASSERT_EQ(whole.Row(2).size(), 10u);
  for (std::size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(whole.Row(2)[i].firstColumn, static_cast<int>(i) + 1);
    EXPECT_EQ(whole.Row(2)[i].owner, i % 2 == 0 ? 0 : -1);
  }
  const RunTable own = OwnRuns(regions, shape, strips[0], 0);
  EXPECT_EQ(own.Row(2).size(), 5u);
  EXPECT_EQ(own.Row(1).size(), 1u);
  EXPECT_EQ(own.Row(1)[0], (StripRun{8, 3, 0}));
  // Ten columns hold four pairs and the end pair.
  Grid helper(1, 2, 10, 2, log);
  WriteHelperRows(own, regions, helper, shape, strips[0], false);
  EXPECT_EQ(Rows(helper, 2, 10, 1)[1], (std::vector<double>{1, 1, 3, 1, 5, 1, 7, 1, 0, 0}));
}

} // namespace
} // namespace tavro
