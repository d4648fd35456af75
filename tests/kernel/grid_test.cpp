// Row blocks, layout and failures of grids and stacks, and log2_steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <numeric>
#include <string>
#include <vector>

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "support/test_support.h"

namespace tavro {
namespace {

constexpr double kTwoPow31 = 2147483648.0;

struct FatalOutcome {
  int code = -1; // -1: nothing thrown
  std::string xml;
};

// Runs an action with a fresh log (console dropped) and returns the thrown
// exit code and the diagnostics file written meanwhile.
template <class Action> FatalOutcome RunExpectingFatal(Action action) {
  const int code = test::RunCapturingConsole([&] {
                     DiagnosticsLog log("", 4);
                     action(log);
                   }).code;
  return {code, test::ReadWholeFile("Tavro_Diag_0.xml")};
}

std::string FatalLine(const std::string &text) {
  return "<line level=\"0\" description= \"" + text + "\"/>";
}

TEST(Log2Steps, HalvingsUntilAtMostOne) {
  const struct {
    double value;
    double steps;
  } cases[] = {{-5.0, 0},
               {0.0, 0},
               {0.5, 0},
               {1.0, 0},
               {1.5, 1},
               {2.0, 1},
               {3.0, 2},
               {4.0, 2},
               {5.0, 3},
               {1024.0, 10},
               {1025.0, 11},
               {1.0e6, 20},
               {std::ldexp(1.0, 40), 40},
               {std::ldexp(1.0, 40) + 1.0, 41}};
  for (const auto &c : cases) {
    EXPECT_EQ(log2_steps(c.value), c.steps) << "value " << c.value;
    // Independent check: halving that many times reaches at most 1, one less does not.
    double v = c.value;
    for (int k = 0; k < static_cast<int>(c.steps); ++k)
      v /= 2;
    EXPECT_LE(v, 1.0);
    if (c.steps > 0) {
      EXPECT_GT(v * 2, 1.0);
    }
  }
}

struct BlockCase {
  long firstRow, lastRow, lastColumn;
  std::vector<long> blocks;
};

const BlockCase kWorkedExamples[] = {
    {1, 500, 400, {326, 163, 11}},
    {1, 2000, 3000, {1397, 349, 174, 80}},
    {1, 10, 10, {5, 2, 2, 1}},
    {101, 200, 400, {81, 10, 9}},
    {1, 1, 1, {1}},
};

TEST(MatrixBlocks, WorkedExamples) {
  DiagnosticsLog log("", 4);
  for (const auto &c : kWorkedExamples) {
    EXPECT_EQ(MatrixBlockRows(c.firstRow, c.lastRow, c.lastColumn, log), c.blocks)
        << "rows " << c.firstRow << ".." << c.lastRow << " last column " << c.lastColumn;
  }
}

// Checks the whole layout of a grid: null rows outside, each block's rows
// following one another in memory, zero fill, and the block sizes.
void ExpectGridLayout(const Grid &g, const BlockCase &c, long totalRows) {
  const long width = c.lastColumn + 1;
  ASSERT_EQ(g.TableRows(), std::max(totalRows, c.lastRow));
  EXPECT_EQ(g.BlockRows(), c.blocks);
  for (long r = 0; r <= g.TableRows(); ++r) {
    const bool present = r >= c.firstRow && r <= c.lastRow;
    EXPECT_EQ(g.HasRow(r), present) << "row " << r;
    if (!present) {
      EXPECT_EQ(g[r], nullptr) << "row " << r;
    }
  }
  long row = c.firstRow;
  for (const long n : c.blocks) {
    EXPECT_LT(static_cast<double>(n * width * 8), kTwoPow31);
    for (long k = 1; k < n; ++k)
      EXPECT_EQ(g[row + k], g[row + k - 1] + width) << "row " << row + k;
    // The next block is a separate allocation (may sit anywhere).
    row += n;
  }
  EXPECT_EQ(row, c.lastRow + 1);
  for (long r = c.firstRow; r <= c.lastRow; ++r)
    for (long col = 0; col <= c.lastColumn; ++col)
      ASSERT_EQ(g[r][col], 0.0) << r << "," << col;
}

TEST(Grid, LayoutOfWorkedExamples) {
  DiagnosticsLog log("", 4);
  for (const auto &c : kWorkedExamples) {
    SCOPED_TRACE("rows " + std::to_string(c.firstRow) + ".." + std::to_string(c.lastRow));
    const long totalRows = c.lastRow + 7;
    const Grid g(c.firstRow, c.lastRow, c.lastColumn, totalRows, log);
    ExpectGridLayout(g, c, totalRows);
    EXPECT_EQ(g.FirstRow(), c.firstRow);
    EXPECT_EQ(g.LastRow(), c.lastRow);
    EXPECT_EQ(g.LastColumn(), c.lastColumn);
  }
}

TEST(Grid, SecondWorkedStripStartsItsBlocksAt101_182_192) {
  DiagnosticsLog log("", 4);
  const Grid g(101, 200, 400, 300, log);
  std::vector<long> starts;
  long row = 101;
  for (const long n : g.BlockRows()) {
    starts.push_back(row);
    row += n;
  }
  EXPECT_EQ(starts, (std::vector<long>{101, 182, 192}));
}

TEST(Grid, RowTableSize) {
  DiagnosticsLog log("", 4);
  // Total rows 0: the table ends at the last row.
  const Grid noTotal(3, 5, 4, 0, log);
  EXPECT_EQ(noTotal.TableRows(), 5);
  EXPECT_FALSE(noTotal.HasRow(2));
  EXPECT_TRUE(noTotal.HasRow(5));
  EXPECT_FALSE(noTotal.HasRow(6));
  // Total rows below the last row never leave present rows outside the table.
  const Grid shortTotal(3, 5, 4, 4, log);
  EXPECT_EQ(shortTotal.TableRows(), 5);
  // A single row: one block of two doubles, every other row null.
  const Grid single(1, 1, 1, 9, log);
  EXPECT_EQ(single.BlockRows(), std::vector<long>{1});
  EXPECT_EQ(single.TableRows(), 9);
  for (long r = 2; r <= 9; ++r)
    EXPECT_FALSE(single.HasRow(r));
  // An empty strip: a row table without rows.
  const Grid empty(4, 3, 6, 8, log);
  EXPECT_TRUE(empty.BlockRows().empty());
  EXPECT_EQ(empty.TableRows(), 8);
  for (long r = 0; r <= 8; ++r)
    EXPECT_FALSE(empty.HasRow(r));
}

TEST(Grid, FillAndMoveKeepRows) {
  DiagnosticsLog log("", 4);
  Grid g(2, 40, 30, 50, log);
  g.Fill(2.5);
  g[7][30] = -1.0;
  const double *row7 = g[7];
  Grid moved(std::move(g));
  EXPECT_EQ(moved[7], row7);
  double sum = 0;
  for (long r = 2; r <= 40; ++r)
    for (long c = 0; c <= 30; ++c)
      sum += moved[r][c];
  EXPECT_DOUBLE_EQ(sum, 2.5 * 39 * 31 - 3.5);
  EXPECT_FALSE(Grid().Allocated());
  EXPECT_TRUE(moved.Allocated());
}

// Block plans of large grids without allocating them: every block under
// 2^31 bytes, all rows placed, few blocks.
TEST(MatrixBlocks, LargeGridsStayUnder2To31BytesPerBlock) {
  DiagnosticsLog log("", 4);
  const long widestColumn = (2147480000L - 24) / 8 - 1; // a row of exactly the block limit
  const struct {
    long rows, lastColumn;
  } cases[] = {{100000, 100000},
               {50000, 20000},
               {3, widestColumn},
               {7, 134217700},
               {2, 134217713},
               {1, widestColumn},
               {40000000, 1},
               {123457, 5001},
               {1000000, 1000},
               {2, 134217714},
               // Two remaining rows just under 2^30 bytes each: the last block
               // comes closest to 2^31.
               {3, 134217725}};
  for (const auto &c : cases) {
    const auto blocks = MatrixBlockRows(1, c.rows, c.lastColumn, log);
    const double rowBytes = 8.0 * static_cast<double>(c.lastColumn + 1);
    EXPECT_EQ(std::accumulate(blocks.begin(), blocks.end(), 0L), c.rows)
        << c.rows << " x " << c.lastColumn;
    EXPECT_LE(blocks.size(), 64u);
    for (const long n : blocks) {
      EXPECT_GE(n, 1);
      EXPECT_LT(static_cast<double>(n) * rowBytes, kTwoPow31) << c.rows << " x " << c.lastColumn;
    }
  }
}

TEST(MatrixBlocks, TooLongRowIsFatal) {
  const long widestColumn = (2147480000L - 24) / 8 - 1;
  DiagnosticsLog log("", 4);
  EXPECT_EQ(MatrixBlockRows(1, 1, widestColumn, log), std::vector<long>{1});
  const auto outcome =
      RunExpectingFatal([&](DiagnosticsLog &l) { Grid g(1, 2, widestColumn + 1, 2, l); });
  EXPECT_EQ(outcome.code, 1);
  EXPECT_NE(outcome.xml.find(FatalLine("too long matrix rows")), std::string::npos);
}

TEST(MatrixBlocks, SizesThatDoNotFitAreFatalMemoryErrors) {
  // The byte count of the rows overflows size_t.
  auto outcome =
      RunExpectingFatal([](DiagnosticsLog &l) { MatrixBlockRows(1, LONG_MAX - 1, 100000, l); });
  EXPECT_EQ(outcome.code, 1);
  EXPECT_NE(outcome.xml.find(FatalLine("memory allocation error 2 in matrix()")),
            std::string::npos);
  // A row table that no allocation can hold.
  outcome = RunExpectingFatal([](DiagnosticsLog &l) { Grid g(1, 1, 1, LONG_MAX, l); });
  EXPECT_EQ(outcome.code, 1);
  EXPECT_NE(outcome.xml.find(FatalLine("memory allocation error 1 in matrix()")),
            std::string::npos);
  outcome = RunExpectingFatal([](DiagnosticsLog &l) { Stack s(1, 1, 1, 1, LONG_MAX, l); });
  EXPECT_EQ(outcome.code, 1);
  EXPECT_NE(outcome.xml.find(FatalLine("memory allocation error (1) in 3_d_matrix()")),
            std::string::npos);
  // Cells times levels overflow.
  outcome = RunExpectingFatal([](DiagnosticsLog &l) { Stack s(1, 1, LONG_MAX - 1, 4, 1, l); });
  EXPECT_EQ(outcome.code, 1);
  EXPECT_NE(outcome.xml.find(FatalLine("memory allocation error (3) in 3_d_matrix()")),
            std::string::npos);
}

TEST(MatrixBlocks, InvalidBoundsAreFatal) {
  const struct {
    long firstRow, lastRow, lastColumn;
  } cases[] = {{-1, 3, 3}, {5, 2, 3}, {1, 3, -2}};
  for (const auto &c : cases) {
    const auto outcome = RunExpectingFatal(
        [&](DiagnosticsLog &l) { Grid g(c.firstRow, c.lastRow, c.lastColumn, 10, l); });
    EXPECT_EQ(outcome.code, 1);
    EXPECT_NE(outcome.xml.find("invalid matrix bounds"), std::string::npos);
  }
}

TEST(MemoryError, NamesModuleAndCode) {
  const auto outcome =
      RunExpectingFatal([](DiagnosticsLog &l) { memory_error(l, "snow_model", 7); });
  EXPECT_EQ(outcome.code, 81);
  EXPECT_NE(outcome.xml.find(FatalLine("memory allocation error in snow_model (7)")),
            std::string::npos);
}

TEST(Stack, LevelsContiguousAndCellsFollowOneAnother) {
  DiagnosticsLog log("", 4);
  const long firstRow = 3, lastRow = 6, lastColumn = 5, lastLevel = 4, totalRows = 9;
  Stack s(firstRow, lastRow, lastColumn, lastLevel, totalRows, log);
  ASSERT_EQ(s.TableRows(), totalRows);
  EXPECT_EQ(s.LastLevel(), lastLevel);
  for (long r = 0; r <= totalRows; ++r) {
    const bool present = r >= firstRow && r <= lastRow;
    EXPECT_EQ(s.HasRow(r), present);
    if (!present) {
      EXPECT_EQ(s[r], nullptr);
      continue;
    }
    EXPECT_EQ(s[r][0], s.RowData(r));
    for (long c = 0; c <= lastColumn; ++c) {
      for (long k = 0; k < lastLevel; ++k)
        EXPECT_EQ(&s[r][c][k + 1], &s[r][c][k] + 1);
      if (c < lastColumn) {
        EXPECT_EQ(&s[r][c + 1][0], &s[r][c][lastLevel] + 1);
      }
      for (long k = 0; k <= lastLevel; ++k)
        EXPECT_EQ(s[r][c][k], 0.0);
    }
  }
  s.Fill(1.25);
  s[4][2][3] = 9.0;
  EXPECT_EQ(s.RowData(4)[2 * (lastLevel + 1) + 3], 9.0);
  EXPECT_EQ(s[6][5][4], 1.25);
  Stack noTotal(2, 4, 1, 0, 0, log);
  EXPECT_EQ(noTotal.TableRows(), 4);
  EXPECT_FALSE(Stack().Allocated());
}

} // namespace
} // namespace tavro
