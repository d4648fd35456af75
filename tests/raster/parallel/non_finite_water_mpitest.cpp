// The stop of a run whose water is no usable number: every process throws
// 140 together, and rank 0's FATAL entry (its console text) names the module, the date, the grid,
// the first bad cell (in row order over all processes) and its owner; a usable step passes without
// a word.
#include "raster/parallel/non_finite_water.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "kernel/modelobject.h"
#include "raster/parallel/cell_iteration.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::ProcessCount;
using test::Rank;

constexpr long kRows = 6;
constexpr long kCols = 5;
constexpr double kNoData = -9999.0;
constexpr double kInf = std::numeric_limits<double>::infinity();

// Cell (r, c) belongs to process (r * ncols + c) % P; (1, 1) lies outside.
int OwnerOf(long r, long c) { return static_cast<int>((r * kCols + c) % ProcessCount()); }
bool Valid(long r, long c) { return !(r == 1 && c == 1); }

// The highest rank's first cell after row 2: with three processes rank 2
// (or rank 1 with two).
std::pair<long, long> LastRankCell() {
  for (long r = 3; r <= kRows; ++r)
    for (long c = 1; c <= kCols; ++c)
      if (Valid(r, c) && OwnerOf(r, c) == ProcessCount() - 1)
        return {r, c};
  return {0, 0};
}

class NonFiniteWater : public testing::Test {
protected:
  void SetUp() override {
    testing::internal::CaptureStdout();
    log_ = std::make_unique<DiagnosticsLog>("", 4);
    module_ = std::make_unique<modelobject>(*log_, "test_module", "none.ctl");
    module_->NRows = kRows;
    module_->NCols = kCols;
    module_->MPIRank = Rank();
    module_->SetActualStep(6, 2, 3, 2012);
    zone_ = Whole(1.0);
    owners_ = Whole(0.0);
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kCols; ++c) {
        zone_[r][c] = Valid(r, c) ? 1.0 : kNoData;
        owners_[r][c] = OwnerOf(r, c);
      }
    storage_ = Whole(10.0);
    flux_ = Whole(0.5);
    layers_ = Stack(1, kRows, kCols, 3, kRows, *log_);
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kCols; ++c)
        for (int k = 0; k <= 3; ++k)
          layers_[r][c][k] = 0.25 * k;
  }
  void TearDown() override {
    module_.reset();
    log_.reset();
    testing::internal::GetCapturedStdout();
  }

  Grid Whole(double value) {
    Grid grid(1, kRows, kCols, kRows, *log_);
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kCols; ++c)
        grid[r][c] = value;
    return grid;
  }
  CellIteration Cells() const {
    CellIterationSetup setup;
    setup.FirstRow = 1;
    setup.LastRow = kRows;
    setup.NCols = kCols;
    setup.Zone = &zone_;
    setup.NoData = kNoData;
    setup.Owners = &owners_;
    setup.Rank = Rank();
    return CellIteration(setup);
  }
  // The sum of the own cells of every listed grid, as a module forms it.
  double LocalSum() const {
    double sum = 0.0;
    Cells().ForEachOwnCell([&](long r, long c) {
      sum += storage_[r][c] + flux_[r][c];
      for (int k = 0; k <= 3; ++k)
        sum += layers_[r][c][k];
    });
    return sum;
  }
  std::array<WaterGrid, 3> Grids() const {
    return {{{"storage", &storage_}, {"flux", &flux_}, {"layers", nullptr, &layers_, 3}}};
  }
  // Runs the check; the exit code thrown (0: none) and rank 0's console.
  std::pair<int, std::string> Check(double sum) {
    int code = 0;
    try {
      StopIfWaterNotFinite(*module_, Cells(), sum, Grids());
    } catch (int thrown) {
      code = thrown;
    }
    log_->FlushConsole();
    std::string console = testing::internal::GetCapturedStdout();
    testing::internal::CaptureStdout();
    return {code, console};
  }

  std::unique_ptr<DiagnosticsLog> log_;
  std::unique_ptr<modelobject> module_;
  Grid zone_, owners_, storage_, flux_;
  Stack layers_;
};

TEST_F(NonFiniteWater, UsableWaterPasses) {
  const auto [code, console] = Check(LocalSum());
  EXPECT_EQ(code, 0);
  EXPECT_EQ(console.find("water out of range"), std::string::npos);
}

struct BadValue {
  double value;
  const char *shown;
};

class NonFiniteWaterValues : public NonFiniteWater, public testing::WithParamInterface<BadValue> {};

// The bad value in a cell of the last rank, a second one later in row order
// on rank 0: the first is named, on every process the run stops.
TEST_P(NonFiniteWaterValues, FirstBadCellIsNamedAndEveryProcessStops) {
  const auto [r, c] = LastRankCell();
  ASSERT_GT(r, 0);
  flux_[r][c] = GetParam().value;
  flux_[kRows][kCols] = GetParam().value;
  storage_[kRows][kCols - 1] = std::nan(""); // a later cell, but in the list's first grid
  const auto [code, console] = Check(LocalSum());
  EXPECT_EQ(code, NonFiniteWaterExitCode);
  if (Rank() == 0) {
    EXPECT_NE(console.find("test_module: water out of range on 2.3.2012 6h: storage holds "
                           "nan at row 6, col 4 (MPI rank " +
                           std::to_string(OwnerOf(kRows, kCols - 1)) +
                           "); stores and fluxes must be finite and below 1.47e20 in magnitude"),
              std::string::npos)
        << console;
  }
  // Without the storage's NaN the flux of the last rank's cell is first.
  storage_[kRows][kCols - 1] = 10.0;
  const auto [code2, console2] = Check(LocalSum());
  EXPECT_EQ(code2, NonFiniteWaterExitCode);
  if (Rank() == 0) {
    EXPECT_NE(console2.find("water out of range on 2.3.2012 6h: flux holds " +
                            std::string(GetParam().shown) + " at row " + std::to_string(r) +
                            ", col " + std::to_string(c) + " (MPI rank " +
                            std::to_string(ProcessCount() - 1) + ")"),
              std::string::npos)
        << console2;
  }
}

INSTANTIATE_TEST_SUITE_P(Values, NonFiniteWaterValues,
                         testing::Values(BadValue{std::nan(""), "nan"},
                                         BadValue{-std::nan(""), "nan"}, BadValue{kInf, "inf"},
                                         BadValue{-kInf, "-inf"}, BadValue{0x1p67, "1.47574e+20"},
                                         BadValue{-1e300, "-1e+300"}));

TEST_F(NonFiniteWater, StackLevelIsNamed) {
  const auto [r, c] = LastRankCell();
  layers_[r][c][2] = kInf;
  const auto [code, console] = Check(LocalSum());
  EXPECT_EQ(code, NonFiniteWaterExitCode);
  if (Rank() == 0) {
    EXPECT_NE(console.find("layers holds inf at row " + std::to_string(r) + ", col " +
                           std::to_string(c) + ", level 2"),
              std::string::npos)
        << console;
  }
}

// A value outside the catchment or on no process's list is not looked at.
TEST_F(NonFiniteWater, CellsOutsideTheCatchmentAreNotLookedAt) {
  flux_[1][1] = std::nan("");
  const auto [code, console] = Check(LocalSum());
  EXPECT_EQ(code, 0);
  EXPECT_EQ(console.find("water out of range"), std::string::npos);
}

// A sum that fails although no listed cell does still stops the run.
TEST_F(NonFiniteWater, BadSumWithoutBadCellStops) {
  const double sum = Rank() == ProcessCount() - 1 ? kInf : LocalSum();
  const auto [code, console] = Check(sum);
  EXPECT_EQ(code, NonFiniteWaterExitCode);
  if (Rank() == 0) {
    EXPECT_NE(console.find("a sum of the step is, but no cell of its listed grids"),
              std::string::npos)
        << console;
  }
}

// The routing's flows on rank 0, named by subbasin code.
TEST_F(NonFiniteWater, FlowsNameTheSubbasin) {
  const std::vector<double> codes{0.0, 11.0, 12.0, 13.0};
  std::vector<double> flows{0.0, 1.5, 2.5, 3.5};
  const auto check = [&] {
    int code = 0;
    try {
      StopIfFlowsNotFinite(*module_, "the routed flow",
                           Rank() == 0 ? std::span<const double>(flows) : std::span<const double>(),
                           codes);
    } catch (int thrown) {
      code = thrown;
    }
    log_->FlushConsole();
    std::string console = testing::internal::GetCapturedStdout();
    testing::internal::CaptureStdout();
    return std::pair{code, console};
  };
  EXPECT_EQ(check().first, 0);
  flows[2] = -kInf;
  flows[3] = std::nan("");
  const auto [code, console] = check();
  EXPECT_EQ(code, NonFiniteWaterExitCode);
  if (Rank() == 0) {
    EXPECT_NE(console.find("test_module: water out of range on 2.3.2012 6h: the routed "
                           "flow holds -inf at subbasin 12"),
              std::string::npos)
        << console;
  }
}

} // namespace
} // namespace tavro
