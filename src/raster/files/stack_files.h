// Reading and writing of stack files (a column of levels in every cell), as
// ASCII on rank 0 or binary (double or float) through MPI-IO by every process
// for its own cells. The bodies of modelobject::ReadStack and WriteStack.
#pragma once

#include "raster/files/grid_file_context.h"
#include "raster/files/grid_format.h"

#include <string>

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
// writes its own cells (context.mpiRegions) and the cells without owner that
// follow them (stack_write_cells.h), the latter as nodata in every level. Failures
// are fatal: 26 creating, 18 writing, 27 closing.
void WriteStack(const GridFileContext &context, const std::string &fileName, const Stack &stack,
                int levels, bool writeAscii, bool writeDouble);

} // namespace tavro
