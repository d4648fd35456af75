// Writing of one grid to one file, as ASCII or as binary float or double with
// the statistics of the written cells in the header. The bodies of
// modelobject::WriteGrid and modelobject::WriteStripGrid. Writes on the
// calling process alone; callers holding distributed data gather first.
#pragma once

#include "raster/files/grid_file_context.h"
#include "raster/files/grid_format.h"

#include <string>

namespace tavro {

class Grid;

// Writes grid (rows 1..nrows, absent rows written as nodata) to fileName with
// the output directory in front. Returns the header written (for binary files
// with the statistics of values 7 to 12). Failures are fatal: 26 creating,
// 18 writing, 27 closing.
GridFileHeader WriteGrid(const GridFileContext &context, const std::string &fileName,
                         const Grid &grid, bool writeAscii, bool writeDouble);

// The same after setting every cell outside the row's column range
// (context.rowRange) to nodata in grid itself.
GridFileHeader WriteStripGrid(const GridFileContext &context, const std::string &fileName,
                              Grid &grid, bool writeAscii, bool writeDouble);

} // namespace tavro
