// The decomposition over the processes of the job and the strip exchanges
// built on it: scatter then gather gives back the whole grid bit for bit,
// halo cells equal their owners' cells, stacks and mask cells round-trip, and
// "MpiSpeedFactor.dat" shifts the cell counts. Runs under any process count.
#include <gtest/gtest.h>
#include <mpi.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "raster/parallel/mpi_decomposition.h"
#include "raster/parallel/strip_exchange.h"
#include "support/test_support.h"

namespace tavro {
namespace {

constexpr double N = -9999.0;
using test::ProcessCount;
using test::Rank;
using ValidCell = std::function<bool(long row, long column)>;

// Distinct values with a fraction, so that any misplaced cell shows.
double Value(long r, long c) { return r * 1000.0 + c + 0.125; }
double Changed(long r, long c) { return -Value(r, c) - 0.5; }

// 12 rows of 10 columns: every third row alternates valid and nodata cells
// (ten runs on rank 0, more than a grid row of the run table holds), others
// have gaps, row 5 has no valid cell at all.
bool Ragged(long r, long c) {
  if (r == 5)
    return false;
  if (r % 3 == 0)
    return c % 2 == 1;
  if (r % 3 == 2)
    return c != 4 && c != 7;
  return true;
}

// Rank 0 builds the zone grid; every process takes part in the decomposition
// with equal speeds from a shared "MpiSpeedFactor.dat".
MpiDecomposition Decompose(const RasterShape &shape, const ValidCell &valid, DiagnosticsLog &log) {
  test::WriteFixture(kSpeedFactorFileName, "1.0\n");
  Grid zone;
  if (Rank() == 0) {
    zone = Grid(1, shape.nrows, shape.ncols, shape.nrows, log);
    for (long r = 1; r <= shape.nrows; ++r)
      for (long c = 1; c <= shape.ncols; ++c)
        zone[r][c] = valid(r, c) ? std::max(shape.nodata, 0.0) + 100.0 + r % 4 : shape.nodata;
  }
  return DistributeMpiRegions(Rank() == 0 ? &zone : nullptr, shape, log);
}

bool Owned(const MpiDecomposition &d, long r, long c) { return d.regions[r][c] == d.rank; }

// The grid a process holds for a raster: whole on rank 0, the halo strip elsewhere.
Grid HeldGrid(const MpiDecomposition &d, DiagnosticsLog &log) {
  const StripRows rows = d.HeldRows();
  return Grid(rows.first, rows.last, d.shape.ncols, d.shape.nrows, log);
}

// Every valid neighbour of every own cell must hold the expected value.
void ExpectNeighboursHold(const MpiDecomposition &d, const std::function<double(long, long)> &at,
                          const std::function<double(long, long)> &expected) {
  for (long r = d.strip.first; r <= d.strip.last; ++r) {
    for (long c = 1; c <= d.shape.ncols; ++c) {
      if (!Owned(d, r, c))
        continue;
      for (long rr = std::max(r - 1, 1L); rr <= std::min(r + 1, d.shape.nrows); ++rr)
        for (long cc = std::max(c - 1, 1L); cc <= std::min(c + 1, d.shape.ncols); ++cc)
          if (d.regions[rr][cc] >= 0.0) {
            ASSERT_EQ(at(rr, cc), expected(rr, cc)) << "cell " << rr << "," << cc;
          }
    }
  }
}

class StripExchange : public testing::Test {
protected:
  DiagnosticsLog log{"", 4};
};

// The zone grid's nodata value: the usual -9999, 0 (the rank of a process)
// and 1000 (above every rank) divide the raster alike.
class HandCheckedRaster : public testing::TestWithParam<double> {
protected:
  DiagnosticsLog log{"", 4};
};

INSTANTIATE_TEST_SUITE_P(StripExchange, HandCheckedRaster, testing::Values(N, 0.0, 1000.0));

TEST_P(HandCheckedRaster, DividesAsDocumentedWhateverTheNodataValue) {
  // zone (N = nodata)    owners with 3 processes (X: no owner)
  //   V V V V V V          2 2 2 2 2 2
  //   V V N V V V          2 1 X 1 1 1
  //   V V V V N V          1 1 1 0 X 0
  //   N V V V V V          X 0 0 0 0 0
  const auto valid = [](long r, long c) {
    return !((r == 2 && c == 3) || (r == 3 && c == 5) || (r == 4 && c == 1));
  };
  const MpiDecomposition d = Decompose({6, 4, GetParam()}, valid, log);
  std::int64_t total = 0;
  for (const auto n : d.cellCounts)
    total += n;
  EXPECT_EQ(total, 21);
  if (ProcessCount() == 1) {
    EXPECT_EQ(d.cellCounts, (MpiCellCounts{21}));
    EXPECT_EQ(d.strip, (StripRows{1, 4}));
    EXPECT_TRUE(d.haloSend.empty());
    EXPECT_TRUE(d.haloReceive.empty());
    EXPECT_EQ(d.rowRanges[4], (RowColumnRange{2, 6}));
  }
  if (ProcessCount() == 2) { // 21 * 0.5 + 0.4999 rounds down; the last takes the rest
    EXPECT_EQ(d.cellCounts, (MpiCellCounts{10, 11}));
  }
  if (ProcessCount() != 3)
    return;
  EXPECT_EQ(d.cellCounts, (MpiCellCounts{7, 7, 7}));
  const std::vector<StripRows> strips{{3, 4}, {2, 3}, {1, 2}};
  const std::vector<HaloList> receive{
      {{2, 4, 3, 1}, {3, 1, 3, 1}},
      {{1, 1, 6, 2}, {2, 1, 1, 2}, {3, 4, 1, 0}, {3, 6, 1, 0}, {4, 2, 3, 0}},
      {{2, 2, 1, 1}, {2, 4, 3, 1}, {3, 1, 2, 1}}};
  // Grouped by the holder in ascending rank, each in the holder's order.
  const std::vector<HaloList> send{
      {{3, 4, 1, 1}, {3, 6, 1, 1}, {4, 2, 3, 1}},
      {{2, 4, 3, 0}, {3, 1, 3, 0}, {2, 2, 1, 2}, {2, 4, 3, 2}, {3, 1, 2, 2}},
      {{1, 1, 6, 1}, {2, 1, 1, 1}}};
  const auto k = static_cast<std::size_t>(d.rank);
  EXPECT_EQ(d.strip, strips[k]);
  EXPECT_EQ(d.haloReceive, receive[k]);
  EXPECT_EQ(d.haloSend, send[k]);
  if (d.rank == 1) {
    EXPECT_EQ(d.haloStrip, (StripRows{1, 4}));
    EXPECT_EQ(d.regions[3][4], 0.0); // a halo row received from rank 0
    EXPECT_EQ(d.halo[3][6], 0.0);
    EXPECT_EQ(d.halo[3][5], kNoOwner);
    EXPECT_EQ(d.regions[2][3], kNoOwner);
    EXPECT_EQ(d.rowRanges[1], (RowColumnRange{0, -1})); // halo rows have no range
    EXPECT_EQ(d.rowRanges[3], (RowColumnRange{1, 6}));  // the whole shared row
  }
}

TEST_F(StripExchange, GridScatterHaloAndGatherRoundTrip) {
  const RasterShape shape{10, 12, N};
  const MpiDecomposition d = Decompose(shape, Ragged, log);
  Grid grid = HeldGrid(d, log);
  if (d.rank == 0) {
    for (long r = 1; r <= shape.nrows; ++r)
      for (long c = 1; c <= shape.ncols; ++c)
        grid[r][c] = Ragged(r, c) ? Value(r, c) : 7.5;
  }
  ScatterGrid(d, grid, log);
  ExchangeHalo(d, grid, log);
  const auto at = [&](long r, long c) { return grid[r][c]; };
  ExpectNeighboursHold(d, at, Value);

  // Every owner changes its cells; the gathers bring the changes to rank 0.
  for (long r = d.strip.first; r <= d.strip.last; ++r)
    for (long c = 1; c <= shape.ncols; ++c)
      if (Owned(d, r, c))
        grid[r][c] = Changed(r, c);
  const Grid copy = GatherGridForOutput(d, grid, log);
  GatherGrid(d, grid, log);
  if (d.rank != 0) {
    EXPECT_FALSE(copy.Allocated());
    return;
  }
  for (long r = 1; r <= shape.nrows; ++r) {
    for (long c = 1; c <= shape.ncols; ++c) {
      const bool valid = Ragged(r, c);
      ASSERT_EQ(grid[r][c], valid ? Changed(r, c) : 7.5) << r << "," << c;
      ASSERT_EQ(copy[r][c], valid ? Changed(r, c) : N) << r << "," << c;
    }
  }
}

TEST_F(StripExchange, StackScatterHaloAndGatherRoundTrip) {
  const RasterShape shape{10, 12, N};
  const MpiDecomposition d = Decompose(shape, Ragged, log);
  const StripRows rows = d.HeldRows();
  constexpr long kLastLevel = 2;
  Stack stack(rows.first, rows.last, shape.ncols, kLastLevel, shape.nrows, log);
  const auto level = [](long r, long c, long k) { return Value(r, c) * 10.0 + k; };
  if (d.rank == 0) {
    for (long r = 1; r <= shape.nrows; ++r)
      for (long c = 1; c <= shape.ncols; ++c)
        for (long k = 0; k <= kLastLevel; ++k)
          stack[r][c][k] = Ragged(r, c) ? level(r, c, k) : 3.25;
  }
  ScatterStack(d, stack, log, "soil_moisture");
  ExchangeStackHalo(d, stack, log);
  for (long k = 0; k <= kLastLevel; ++k) {
    ExpectNeighboursHold(
        d, [&](long r, long c) { return stack[r][c][k]; },
        [&](long r, long c) { return level(r, c, k); });
  }
  for (long r = d.strip.first; r <= d.strip.last; ++r)
    for (long c = 1; c <= shape.ncols; ++c)
      if (Owned(d, r, c))
        for (long k = 0; k <= kLastLevel; ++k)
          stack[r][c][k] = -level(r, c, k);
  const Stack copy = GatherStackForOutput(d, stack, log, "soil_moisture");
  GatherStack(d, stack, log, "soil_moisture");
  if (d.rank != 0)
    return;
  for (long r = 1; r <= shape.nrows; ++r) {
    for (long c = 1; c <= shape.ncols; ++c) {
      for (long k = 0; k <= kLastLevel; ++k) {
        const bool valid = Ragged(r, c);
        ASSERT_EQ(stack[r][c][k], valid ? -level(r, c, k) : 3.25);
        ASSERT_EQ(copy[r][c][k], valid ? -level(r, c, k) : N);
      }
    }
  }
  if (ProcessCount() > 1) {
    EXPECT_NE(test::ReadWholeFile("Tavro_Diag_0.xml").find("re-distributing stack soil_moisture"),
              std::string::npos);
  }
}

TEST_F(StripExchange, MaskCellsRoundTrip) {
  const RasterShape shape{10, 12, N};
  const MpiDecomposition d = Decompose(shape, Ragged, log);
  const StripRows rows = d.HeldRows();
  Grid mask(rows.first, rows.last, shape.ncols, shape.nrows, log);
  Grid values = HeldGrid(d, log);
  const auto isMask = [](long r, long c) { return (r + 2 * c) % 3 == 0; };
  MpiCellCounts counts(static_cast<std::size_t>(d.processCount), 0);
  for (long r = rows.first; r <= rows.last; ++r) {
    for (long c = 1; c <= shape.ncols; ++c) {
      mask[r][c] = isMask(r, c) ? 1.0 : N;
      if (isMask(r, c) && d.regions[r][c] >= 0.0 && r >= d.strip.first && r <= d.strip.last)
        ++counts[static_cast<std::size_t>(d.regions[r][c])];
    }
  }
  MPI_Allreduce(MPI_IN_PLACE, counts.data(), d.processCount, MPI_INT64_T, MPI_MAX, MPI_COMM_WORLD);
  if (d.rank == 0)
    for (long r = 1; r <= shape.nrows; ++r)
      for (long c = 1; c <= shape.ncols; ++c)
        values[r][c] = Value(r, c);

  ScatterMaskedCells(d, values, mask, counts, log);
  for (long r = d.strip.first; r <= d.strip.last; ++r) {
    for (long c = 1; c <= shape.ncols; ++c) {
      if (d.rank != 0 && Owned(d, r, c)) {
        ASSERT_EQ(values[r][c], isMask(r, c) ? Value(r, c) : 0.0) << r << "," << c;
      }
      if (Owned(d, r, c))
        values[r][c] = Changed(r, c);
    }
  }
  Grid target = HeldGrid(d, log);
  GatherMaskedCells(d, values, mask, counts, &target, log);
  if (d.rank != 0)
    return;
  for (long r = 1; r <= shape.nrows; ++r) {
    const RowColumnRange range = d.rowRanges[static_cast<std::size_t>(r)];
    for (long c = 1; c <= shape.ncols; ++c) {
      // Mask cells of every owner reach the target, those of no process are
      // copied from rank 0's values, and cells outside the scan stay untouched.
      const bool scanned = isMask(r, c) && c >= range.first && c <= range.last;
      const double expected = !scanned ? 0.0 : Ragged(r, c) ? Changed(r, c) : Value(r, c);
      ASSERT_EQ(target[r][c], expected) << r << "," << c;
    }
  }
}

TEST_F(StripExchange, MaskCellCountsThatDoNotMatchStopEveryProcess) {
  const MpiDecomposition d = Decompose({10, 12, N}, Ragged, log);
  Grid values = HeldGrid(d, log);
  const MpiCellCounts tooFew(static_cast<std::size_t>(d.processCount + 1), 0);
  int code = 0;
  try {
    ScatterMaskedCells(d, values, values, tooFew, log);
    GatherMaskedCells(d, values, values, tooFew, nullptr, log);
  } catch (int thrown) {
    code = thrown;
  }
  EXPECT_EQ(code, kStripExchangeExitCode);
}

TEST_F(StripExchange, GridWithoutTheStripRowsIsRefused) {
  const MpiDecomposition d = Decompose({10, 12, N}, Ragged, log);
  if (d.processCount == 1)
    GTEST_SKIP() << "one process exchanges nothing";
  Grid narrow(1, 1, d.shape.ncols, d.shape.nrows, log); // row 1 only
  int code = 0;
  try {
    ScatterGrid(d, narrow, log);
  } catch (int thrown) {
    code = thrown;
  }
  // Every owner needs rows below row 1, and rank 0 needs them to send.
  EXPECT_EQ(code, kStripExchangeExitCode);
}

// Times 1, 2, 4, ... seconds from each process's own "MpiSpeedFactor.dat".
TEST_F(StripExchange, SpeedFactorFileShiftsTheCellCounts) {
  const RasterShape shape{20, 35, N}; // 700 valid cells
  const auto home = std::filesystem::current_path();
  const auto own = home / ("rank_" + std::to_string(Rank()));
  std::filesystem::create_directory(own);
  std::ofstream(own / kSpeedFactorFileName) << (1 << Rank()) << "\n";
  Grid zone;
  if (Rank() == 0) {
    zone = Grid(1, shape.nrows, shape.ncols, shape.nrows, log);
    zone.Fill(1.0);
  }
  std::filesystem::current_path(own);
  const MpiDecomposition d = DistributeMpiRegions(Rank() == 0 ? &zone : nullptr, shape, log);
  std::filesystem::current_path(home);
  std::int64_t total = 0;
  for (std::size_t k = 0; k < d.cellCounts.size(); ++k) {
    total += d.cellCounts[k];
    if (k > 0) { // a slower process gets fewer cells
      EXPECT_LT(d.cellCounts[k], d.cellCounts[k - 1]);
    }
  }
  EXPECT_EQ(total, 700);
  if (ProcessCount() == 3) {
    EXPECT_EQ(d.cellCounts, (MpiCellCounts{400, 200, 100}));
  }
}

TEST_F(StripExchange, FewerValidCellsThanProcessesStopsEveryProcess) {
  const int processes = ProcessCount();
  const auto valid = [processes](long r, long c) { return r == 1 && c < processes; };
  int code = 0;
  try {
    Decompose({10, 3, N}, valid, log);
  } catch (int thrown) {
    code = thrown;
  }
  EXPECT_EQ(code, kDecompositionExitCode);
  if (Rank() == 0) {
    const std::string text = "MPI-Regions: " + std::to_string(processes - 1) +
                             " valid cells cannot be divided among " + std::to_string(processes) +
                             " processes";
    EXPECT_NE(test::ReadWholeFile("Tavro_Diag_0.xml").find(text), std::string::npos);
  }
}

TEST_F(StripExchange, BenchmarkRunsWithoutSpeedFactorFile) {
  Grid zone;
  const RasterShape shape{4, 4, N};
  if (Rank() == 0) {
    zone = Grid(1, 4, 4, 4, log);
    zone.Fill(1.0);
  }
  testing::internal::CaptureStdout();
  const MpiDecomposition d = DistributeMpiRegions(Rank() == 0 ? &zone : nullptr, shape, log);
  log.FlushConsole();
  const std::string console = testing::internal::GetCapturedStdout();
  if (Rank() == 0) {
    EXPECT_NE(console.find("MPI wtime: "), std::string::npos);
    EXPECT_NE(console.find("received MPI wtime: "), std::string::npos);
    EXPECT_NE(console.find("MPI num cells: "), std::string::npos);
  }
  std::int64_t total = 0;
  for (const auto n : d.cellCounts) {
    EXPECT_GE(n, 1);
    total += n;
  }
  EXPECT_EQ(total, 16);

  Grid a(1, 1000, 1000, 1000, log), b(1, 1000, 1000, 1000, log), t(1, 1000, 1000, 1000, log);
  MpiSpeedBenchmarkLoop(a, b, t);
  EXPECT_EQ(a[3][4], std::cos(7.0));
  EXPECT_EQ(b[1000][1000], std::sin(2000.0));
  EXPECT_EQ(t[2][2], std::atan(std::sin(4.0) * std::cos(4.0)));
}

TEST_F(StripExchange, RegionsGridGoesToTheWriterOnRankZero) {
  const MpiDecomposition d = Decompose({10, 12, N}, Ragged, log);
  std::vector<std::string> written;
  WriteRegionsGrid(
      d,
      [&](const Grid &grid, const std::string &name) {
        // The owners, and the raster's nodata where no process owns a cell.
        for (long r = 1; r <= 12; ++r)
          for (long c = 1; c <= 10; ++c)
            EXPECT_EQ(grid[r][c], d.regions[r][c] >= 0.0 ? d.regions[r][c] : N);
        written.push_back(name);
      },
      log);
  EXPECT_EQ(written,
            Rank() == 0 ? std::vector<std::string>{"MPIRegions_0"} : std::vector<std::string>{});
}

} // namespace
} // namespace tavro
