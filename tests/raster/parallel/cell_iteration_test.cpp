// Which cells the shared cell loop visits, and the spin-up master copy.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "kernel/diagnostics_log.h"
#include "raster/parallel/cell_iteration.h"

namespace tavro {
namespace {

using Cell = std::pair<long, long>;

class CellIterationTest : public testing::Test {
protected:
  static constexpr long kRows = 4;
  static constexpr long kCols = 5;

  void SetUp() override {
    testing::internal::CaptureStdout();
    log_ = std::make_unique<DiagnosticsLog>("", 4);
    zone_ = Grid(1, kRows, kCols, kRows, *log_);
    owners_ = Grid(1, kRows, kCols, kRows, *log_);
    // Zone codes with holes; rows 1-2 belong to rank 1, rows 3-4 to rank 0,
    // except that rank 1 also holds the first cells of row 3.
    const double zone[kRows][kCols] = {
        {-9999, 1, 1, 1, -9999}, {1, 1, -9999, 2, 2}, {2, 2, 2, 2, -9999}, {-9999, -9999, 3, 3, 3}};
    for (long r = 1; r <= kRows; ++r) {
      for (long c = 1; c <= kCols; ++c) {
        zone_[r][c] = zone[r - 1][c - 1];
        owners_[r][c] = zone_[r][c] > -9999 ? (r <= 2 || (r == 3 && c <= 2) ? 1 : 0) : -9999;
      }
    }
  }
  void TearDown() override {
    log_.reset();
    testing::internal::GetCapturedStdout();
  }

  CellIterationSetup Setup(int rank) const {
    CellIterationSetup setup;
    setup.FirstRow = 1;
    setup.LastRow = kRows;
    setup.NCols = kCols;
    setup.Zone = &zone_;
    setup.Owners = &owners_;
    setup.Rank = rank;
    return setup;
  }

  static std::vector<Cell> Visited(const CellIteration &loop) {
    std::vector<Cell> cells;
    std::mutex guard;
    loop.ForEachCell([&](long r, long c) {
      std::lock_guard lock(guard);
      cells.emplace_back(r, c);
    });
    std::sort(cells.begin(), cells.end());
    return cells;
  }

  std::unique_ptr<DiagnosticsLog> log_;
  Grid zone_;
  Grid owners_;
};

TEST_F(CellIterationTest, VisitsExactlyTheValidOwnedCells) {
  EXPECT_EQ(Visited(CellIteration(Setup(0))),
            (std::vector<Cell>{{3, 3}, {3, 4}, {4, 3}, {4, 4}, {4, 5}}));
  EXPECT_EQ(
      Visited(CellIteration(Setup(1))),
      (std::vector<Cell>{{1, 2}, {1, 3}, {1, 4}, {2, 1}, {2, 2}, {2, 4}, {2, 5}, {3, 1}, {3, 2}}));
}

TEST_F(CellIterationTest, ColumnRangesLimitTheColumns) {
  OneBasedArray<RowColumnRange> ranges(kRows);
  for (long r = 1; r <= kRows; ++r)
    ranges[r] = {3, 4};
  ranges[2] = {0, -1}; // a row without valid cells
  CellIterationSetup setup = Setup(1);
  setup.RowRanges = &ranges;
  EXPECT_EQ(Visited(CellIteration(setup)), (std::vector<Cell>{{1, 3}, {1, 4}}));
}

TEST_F(CellIterationTest, AnExitCodeThrownInTheLoopComesOutAfterIt) {
  const CellIteration loop(Setup(1));
  int thrown = 0;
  try {
    loop.ForEachCell([](long r, long c) {
      if (r == 2 && c == 4)
        throw 77;
    });
  } catch (int code) {
    thrown = code;
  }
  EXPECT_EQ(thrown, 77);
}

TEST_F(CellIterationTest, UnitsComputeMastersAndCopyTheirResults) {
  Grid units(1, kRows, kCols, kRows, *log_);
  Grid masters(1, kRows, kCols, kRows, *log_);
  units.Fill(-9999);
  masters.Fill(-9999);
  // Unit 1: cells (3,3) master, (4,4), (4,5); unit 2: (3,4) master, (4,3).
  units[3][3] = 1, units[4][4] = 1, units[4][5] = 1, masters[3][3] = 1;
  units[3][4] = 2, units[4][3] = 2, masters[3][4] = 2;
  std::vector<HydrologicResponseUnit> list(3);
  list[1] = {1, "0001'", 3, 3, 0};
  list[2] = {2, "0002'", 3, 4, 0};

  CellIterationSetup setup = Setup(0);
  setup.UnitGrid = &units;
  setup.MasterGrid = &masters;
  setup.Units = &list;
  const CellIteration loop(setup);
  EXPECT_EQ(Visited(loop), (std::vector<Cell>{{3, 3}, {3, 4}}));

  Grid result(1, kRows, kCols, kRows, *log_);
  Stack layers(1, kRows, kCols, 2, kRows, *log_);
  loop.ForEachCell([&](long r, long c) {
    result[r][c] = 10.0 * r + c;
    for (long k = 0; k <= 2; ++k)
      layers[r][c][k] = 100.0 * r + 10.0 * c + k;
  });
  Grid *grids[] = {&result};
  Stack *stacks[] = {&layers};
  loop.CopyMasterResults(std::span<Grid *const>(grids));
  loop.CopyMasterResults(std::span<Stack *const>(stacks));
  EXPECT_EQ(result[4][4], 33.0);
  EXPECT_EQ(result[4][5], 33.0);
  EXPECT_EQ(result[4][3], 34.0);
  EXPECT_EQ(layers[4][5][2], 332.0);
  EXPECT_EQ(layers[4][3][1], 341.0);
  EXPECT_EQ(result[2][1], 0.0); // another rank's cell is left alone
}

} // namespace
} // namespace tavro
