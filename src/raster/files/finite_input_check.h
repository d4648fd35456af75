// Input grids and stacks must hold numbers in the cells the model computes: a
// NaN or an infinity read from a file would spread through every module that
// uses the cell and end, many steps later, in tables of NaN. The readers
// therefore refuse a file whose valid cells hold such a value, naming the file
// and the first such cell. Cells outside the catchment are not looked at.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tavro {

class Grid;
class Stack;
struct GridFileContext;

// Position of a value in the file's order: row-major cells, levels 0..L.
struct NonFiniteValue {
  std::int64_t key = 0; // ((row - 1) * ncols + column - 1) * (levels + 1) + level
  int kind = 0;         // 1 NaN, 2 +infinity, 3 -infinity
};

// The first non-finite value of rows firstRow..lastRow in a valid cell. A cell
// is valid where the owner grid ("MPIRegions") holds an owner; before the
// decomposition, where the zone grid holds data (rank 0); without either,
// where the value is not the nodata value.
std::optional<NonFiniteValue> FirstNonFiniteValue(const GridFileContext &context, const Grid &grid,
                                                  int firstRow, int lastRow);
std::optional<NonFiniteValue> FirstNonFiniteValue(const GridFileContext &context,
                                                  const Stack &stack, int levels, int firstRow,
                                                  int lastRow);

// Stops the read when a value was found: collective (the first value over all
// processes is named, every process throws 22) unless rootOnly, when only the
// calling process takes part. The entry:
//   "FATAL: error reading <path>: the value at row <r>, col <c>[, level <k>]
//    is <nan|inf|-inf>, not a finite number"
// (levels >= 0 adds the level; pass -1 for a grid).
void RefuseNonFiniteValue(const GridFileContext &context, const std::string &path,
                          const std::optional<NonFiniteValue> &local, int levels, bool collective);

} // namespace tavro
