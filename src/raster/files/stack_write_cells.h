// Which cells of a binary stack file each process writes. The processes
// write one file together, so every cell of it must be written by exactly
// one of them, whatever the division: the cells a process owns, and the
// cells without owner that follow them in file order up to the next owned
// cell of another process (those before the first owned cell of the raster
// go with that cell). A process therefore writes a few long spans, with one
// write each, and the cells without owner hold the same nodata under any
// process count.
#pragma once

#include <cstdint>
#include <vector>

namespace tavro {

class Grid;

// Consecutive cells in file order from cell index first ((row - 1) * ncols + column - 1).
struct CellSpan {
  std::int64_t first = 0;
  std::int64_t count = 0;
  bool operator==(const CellSpan &) const = default;
};

// The spans of ranks 0..processCount - 1 from the owner rank of every cell
// (negative or out of range: no owner; rows the grid does not hold have no
// owner). Without any owned cell rank 0 writes the whole raster.
std::vector<std::vector<CellSpan>> StackWriteSpans(const Grid &owners, int ncols, int nrows,
                                                   int processCount);

// Collective: rank 0 works out the spans from owners (its whole grid) and
// hands every process its own; owners is read on rank 0 only. Without owners
// rank 0 writes every cell.
std::vector<CellSpan> DistributeStackWriteSpans(const Grid *owners, int ncols, int nrows, int rank,
                                                int processCount);

} // namespace tavro
