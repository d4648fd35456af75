// Allocation of grids in halving power-of-two row blocks, of stacks with one
// block per row, and the memory failure reports of a model object.
#include "kernel/grid.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <limits>

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"

namespace tavro {
namespace {

// Largest block in bytes, just under 2^31.
constexpr std::size_t kMaxBlockBytes = 2147480000;
// Allocator overhead assumed per block.
constexpr std::size_t kBlockOverhead = 24;
constexpr std::size_t kMaxSize = std::numeric_limits<std::size_t>::max();

constexpr const char *kMatrixTableError = "memory allocation error 1 in matrix()";
constexpr const char *kMatrixBlockError = "memory allocation error 2 in matrix()";
constexpr const char *kStackTableError = "memory allocation error (1) in 3_d_matrix()";
constexpr const char *kStackCellError = "memory allocation error (2) in 3_d_matrix()";
constexpr const char *kStackBlockError = "memory allocation error (3) in 3_d_matrix()";

// Bounds that no caller can mean: a negative first row or column count, or a
// last row more than one below the first (one below is an empty strip).
void CheckBounds(DiagnosticsLog &log, const char *what, long firstRow, long lastRow,
                 long lastColumn) {
  if (firstRow < 0 || lastColumn < 0 || lastRow < firstRow - 1) {
    ThrowFatal(log, 1,
               Concat("invalid ", what, " bounds: rows ", firstRow, " to ", lastRow,
                      ", last column ", lastColumn));
  }
}

// Highest index of a row table: the total rows, but never below the last row.
std::size_t TableEntries(long lastRow, long totalRows) {
  return static_cast<std::size_t>(std::max({totalRows, lastRow, -1L})) + 1;
}

// Below this many cells a grid is filled by one thread.
constexpr std::size_t kParallelFillCells = std::size_t{1} << 18;

// A zero-filled block of count doubles; fatal with the given text on failure.
DoubleBlock ZeroBlock(std::size_t count, DiagnosticsLog &log, const char *error) {
  if (count > kMaxSize / sizeof(double))
    ThrowFatal(log, 1, error);
  auto *block = static_cast<double *>(std::calloc(std::max<std::size_t>(count, 1), sizeof(double)));
  if (block == nullptr)
    ThrowFatal(log, 1, error);
  return DoubleBlock(block);
}

} // namespace

void FreeDoubleBlock::operator()(double *block) const noexcept { std::free(block); }

void memory_error(DiagnosticsLog &log, std::string_view moduleName, int code) {
  ThrowFatal(log, 81, Concat("memory allocation error in ", moduleName, " (", code, ")"));
}

double log2_steps(double value) {
  if (!(value > 1.0))
    return 0.0;
  if (std::isinf(value))
    return value;
  int exponent = 0;
  const double mantissa = std::frexp(value, &exponent); // value = mantissa * 2^exponent
  // An exact power of two has the mantissa 0.5 and needs one halving less.
  return static_cast<double>(mantissa == 0.5 ? exponent - 1 : exponent);
}

std::vector<long> MatrixBlockRows(long firstRow, long lastRow, long lastColumn,
                                  DiagnosticsLog &log) {
  CheckBounds(log, "matrix", firstRow, lastRow, lastColumn);
  const auto columns = static_cast<std::size_t>(lastColumn) + 1;
  if (columns > (kMaxBlockBytes - kBlockOverhead) / sizeof(double))
    ThrowFatal(log, 1, "too long matrix rows");
  const std::size_t rowBytes = columns * sizeof(double);
  const std::size_t rowWithOverhead = rowBytes + kBlockOverhead;

  std::vector<long> blocks;
  if (lastRow < firstRow)
    return blocks;

  // The first estimate counts one row more than needed, as the layout has
  // always done; the threshold of a tenth stays fixed from it.
  const auto estimatedRows = static_cast<std::size_t>(lastRow - firstRow) + 2;
  if (estimatedRows > (kMaxSize - kBlockOverhead) / rowBytes)
    ThrowFatal(log, 1, kMatrixBlockError);
  std::size_t remaining = estimatedRows * rowBytes;
  const std::size_t threshold = remaining / 10;

  long current = firstRow;
  for (;;) {
    const int p = static_cast<int>(log2_steps(static_cast<double>(remaining + kBlockOverhead)));
    const double power = std::ldexp(1.0, p);
    const double half = std::ldexp(1.0, p - 1);
    if ((remaining <= threshold && power < 2147480000.0) ||
        half < static_cast<double>(rowWithOverhead))
      break;
    const double blockBytes =
        std::min(half - static_cast<double>(kBlockOverhead), static_cast<double>(kMaxBlockBytes));
    const auto rows = static_cast<long>(static_cast<std::size_t>(blockBytes) / rowBytes);
    blocks.push_back(rows);
    current += rows;
    const long left = lastRow + 1 - current;
    if (left < 1)
      return blocks;
    remaining = static_cast<std::size_t>(left) * rowBytes;
  }
  blocks.push_back(lastRow + 1 - current);
  return blocks;
}

Grid::Grid(long firstRow, long lastRow, long lastColumn, long totalRows, DiagnosticsLog &log)
    : firstRow_(firstRow), lastRow_(lastRow), lastColumn_(lastColumn) {
  blockRows_ = MatrixBlockRows(firstRow, lastRow, lastColumn, log);
  try {
    rows_.assign(TableEntries(lastRow, totalRows), nullptr);
    blocks_.reserve(blockRows_.size());
  } catch (const std::exception &) {
    ThrowFatal(log, 1, kMatrixTableError);
  }
  const auto columns = static_cast<std::size_t>(lastColumn) + 1;
  long row = firstRow;
  for (const long rowsInBlock : blockRows_) {
    blocks_.push_back(
        ZeroBlock(static_cast<std::size_t>(rowsInBlock) * columns, log, kMatrixBlockError));
    double *next = blocks_.back().get();
    for (long k = 0; k < rowsInBlock; ++k, ++row, next += columns)
      rows_[static_cast<std::size_t>(row)] = next;
  }
}

void Grid::Fill(double value) {
  const auto columns = static_cast<std::size_t>(lastColumn_) + 1;
  const auto rows = static_cast<std::size_t>(lastRow_ - firstRow_ + 1);
#pragma omp parallel for schedule(static) if (rows * columns >= kParallelFillCells)
  for (long row = firstRow_; row <= lastRow_; ++row)
    std::fill_n(rows_[static_cast<std::size_t>(row)], columns, value);
}

Stack::Stack(long firstRow, long lastRow, long lastColumn, long lastLevel, long totalRows,
             DiagnosticsLog &log)
    : firstRow_(firstRow), lastRow_(lastRow), lastColumn_(lastColumn), lastLevel_(lastLevel) {
  CheckBounds(log, "stack", firstRow, lastRow, lastColumn);
  if (lastLevel < 0)
    ThrowFatal(log, 1, Concat("invalid stack bounds: last level ", lastLevel));
  const auto columns = static_cast<std::size_t>(lastColumn) + 1;
  const auto levels = static_cast<std::size_t>(lastLevel) + 1;
  if (columns > kMaxSize / levels)
    ThrowFatal(log, 1, kStackBlockError);
  try {
    const std::size_t entries = TableEntries(lastRow, totalRows);
    rows_.resize(entries);
    blocks_.resize(entries);
  } catch (const std::exception &) {
    ThrowFatal(log, 1, kStackTableError);
  }
  for (long row = firstRow; row <= lastRow; ++row) {
    auto &cells = rows_[static_cast<std::size_t>(row)];
    try {
      cells.resize(columns);
    } catch (const std::exception &) {
      ThrowFatal(log, 1, kStackCellError);
    }
    auto &block = blocks_[static_cast<std::size_t>(row)];
    block = ZeroBlock(columns * levels, log, kStackBlockError);
    for (std::size_t c = 0; c < columns; ++c)
      cells[c] = block.get() + c * levels;
  }
}

void Stack::Fill(double value) {
  const std::size_t count =
      (static_cast<std::size_t>(lastColumn_) + 1) * (static_cast<std::size_t>(lastLevel_) + 1);
  for (const auto &block : blocks_)
    if (block)
      std::fill_n(block.get(), count, value);
}

} // namespace tavro
