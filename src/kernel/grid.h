// 1-based grids and stacks of doubles in the model's shared memory layout:
// a row table over all rows of the raster (rows outside the process's strip
// and halo are null), rows of ncols + 1 zero-filled doubles (column 0 unused),
// allocated in a few blocks of whole rows, each under 2^31 bytes.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace tavro {

class DiagnosticsLog;

// Logs "FATAL: memory allocation error in <moduleName> (<code>)" and throws 81.
[[noreturn]] void memory_error(DiagnosticsLog &log, std::string_view moduleName, int code);

// Number of halvings until value is at most 1: 0 up to 1, else ceil(log2(value)).
double log2_steps(double value);

// Rows per block for rows firstRow..lastRow of lastColumn + 1 doubles, in the
// documented halving sequence (empty when lastRow < firstRow). Logs "FATAL:
// too long matrix rows" and throws 1 when a single row does not fit in a block;
// invalid bounds and a grid whose byte count does not fit in size_t are fatal
// with exit code 1 as well.
std::vector<long> MatrixBlockRows(long firstRow, long lastRow, long lastColumn,
                                  DiagnosticsLog &log);

// A block of doubles taken zero-filled from the system (calloc), so that the
// pages of a large block are first touched where the grid is first written:
// by the threads of a parallel fill rather than by one thread clearing it.
struct FreeDoubleBlock {
  void operator()(double *block) const noexcept;
};
using DoubleBlock = std::unique_ptr<double[], FreeDoubleBlock>;

class Grid {
public:
  Grid() = default;
  // Rows firstRow..lastRow present; the row table has max(totalRows, lastRow) + 1
  // entries. A failed allocation logs its FATAL entry and throws 1.
  Grid(long firstRow, long lastRow, long lastColumn, long totalRows, DiagnosticsLog &log);

  Grid(Grid &&) noexcept = default;
  Grid &operator=(Grid &&) noexcept = default;
  Grid(const Grid &) = delete;
  Grid &operator=(const Grid &) = delete;

  // Row pointer for a global row (null outside the present rows); g[r][c].
  double *operator[](long row) { return rows_[static_cast<std::size_t>(row)]; }
  const double *operator[](long row) const { return rows_[static_cast<std::size_t>(row)]; }

  bool Allocated() const { return !rows_.empty(); }
  bool HasRow(long row) const {
    return row >= 0 && static_cast<std::size_t>(row) < rows_.size() &&
           rows_[static_cast<std::size_t>(row)] != nullptr;
  }
  long FirstRow() const { return firstRow_; }
  long LastRow() const { return lastRow_; }
  long LastColumn() const { return lastColumn_; }
  long TableRows() const { return static_cast<long>(rows_.size()) - 1; } // highest row index
  // Rows of each allocation block, in row order.
  const std::vector<long> &BlockRows() const { return blockRows_; }

  // Every present cell, column 0 included; the rows of a large grid in parallel.
  void Fill(double value);

private:
  std::vector<double *> rows_;
  std::vector<DoubleBlock> blocks_;
  std::vector<long> blockRows_;
  long firstRow_ = 0;
  long lastRow_ = -1;
  long lastColumn_ = 0;
};

// A layered grid: s[r][c][k] with levels 0..lastLevel of a cell contiguous
// and the cells of a row following one another in one block per row.
class Stack {
public:
  Stack() = default;
  // A failed allocation logs its FATAL entry and throws 1.
  Stack(long firstRow, long lastRow, long lastColumn, long lastLevel, long totalRows,
        DiagnosticsLog &log);

  Stack(Stack &&) noexcept = default;
  Stack &operator=(Stack &&) noexcept = default;
  Stack(const Stack &) = delete;
  Stack &operator=(const Stack &) = delete;

  // Cell-pointer table of a row (null outside the present rows); s[r][c][k].
  double *const *operator[](long row) const {
    const auto &cells = rows_[static_cast<std::size_t>(row)];
    return cells.empty() ? nullptr : cells.data();
  }

  bool Allocated() const { return !rows_.empty(); }
  bool HasRow(long row) const {
    return row >= 0 && static_cast<std::size_t>(row) < rows_.size() &&
           !rows_[static_cast<std::size_t>(row)].empty();
  }
  long FirstRow() const { return firstRow_; }
  long LastRow() const { return lastRow_; }
  long LastColumn() const { return lastColumn_; }
  long LastLevel() const { return lastLevel_; }
  long TableRows() const { return static_cast<long>(rows_.size()) - 1; }
  // Start of a present row's block of (lastColumn + 1) x (lastLevel + 1) doubles.
  double *RowData(long row) { return blocks_[static_cast<std::size_t>(row)].get(); }
  const double *RowData(long row) const { return blocks_[static_cast<std::size_t>(row)].get(); }

  void Fill(double value); // every level of every present cell, column 0 included

private:
  std::vector<std::vector<double *>> rows_;
  std::vector<DoubleBlock> blocks_; // one per row index, empty outside
  long firstRow_ = 0;
  long lastRow_ = -1;
  long lastColumn_ = 0;
  long lastLevel_ = 0;
};

} // namespace tavro
