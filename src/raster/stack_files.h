// Reading and writing of stack files (a column of levels in every cell), as
// ASCII on rank 0 or binary (double or float) through MPI-IO by every process
// for its own cells. The bodies of modelobject::ReadStack and WriteStack.
#pragma once

#include "raster/grid_file_context.h"
#include "raster/grid_format.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tavro {

class Grid;
class Stack;

struct StackReadResult {
  int levels = 0; // the cells hold levels 0..levels
  GridFileHeader header;
};

// Reads fileName (input directory in front) into a new stack. Collective.
// With keepWholeOnRoot rank 0 reads and keeps rows 1..nrows and scatters;
// without it binary files are read by every process for its strip through
// MPI-IO (read-only). Failures are fatal on every process (21, 22, 23, 24).
StackReadResult ReadStack(const GridFileContext &context, const std::string &fileName, Stack &stack,
                          bool keepWholeOnRoot);

// Writes stack (cells with levels 0..levels) to fileName (output directory in
// front). ASCII: rank 0 alone writes the stack it holds (callers gather
// first); the other processes return. Binary: collective, every process
// writes the cells the decomposition gives it (context.mpiRegions). Failures
// are fatal: 26 creating, 18 writing, 27 closing.
void WriteStack(const GridFileContext &context, const std::string &fileName, const Stack &stack,
                int levels, bool writeAscii, bool writeDouble);

// A run of consecutive cells in file order, from (row, column) on.
struct CellRun {
  int row = 1;
  int column = 1;
  std::int64_t cells = 0;
};

// The runs a process writes into a binary stack: its strip rows (the highest
// rank from row 1, rank 0 to row nrows), taking its own cells, and cells
// without owner or in rows it does not hold only while a run is open (after a
// taken cell, before a cell of another process; the highest rank starts
// open). owners holds the owner rank of each cell (negative: none) for the
// rows where holdsRow is true. Without owners, rank 0 writes every cell.
std::vector<CellRun> StackWriteRuns(const RasterGeometry &geometry, int rank, int processCount,
                                    int firstRow, int lastRow, const Grid *owners,
                                    const std::function<bool(int row)> &holdsRow);

} // namespace tavro
