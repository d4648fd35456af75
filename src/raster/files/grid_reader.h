// Reading of grid files (ASCII, binary float and double, GIF through the
// context's decoder): format recognition, header and geometry checks, reading
// on rank 0 with a scatter or on every process at once through MPI-IO, hole
// filling, and the halo exchange. The body of modelobject::ReadGrid.
#pragma once

#include "raster/files/grid_file_context.h"
#include "raster/files/grid_format.h"

#include <cstdio>
#include <functional>
#include <string>

namespace tavro {

class DiagnosticsLog;
class Grid;

struct GridReadOptions {
  int fillMode = 0;       // 0 none; 1 nearest value; 2 constant; other: rank-0 read, no filling
  bool allocate = true;   // allocate the rows read, filled with nodata
  bool verbose = false;   // log "reading <path> for <module>..."
  double fillValue = 0.0; // constant of fill mode 2 (and of mode 1 without the search)
  bool searchNeighbours = false;
  bool keepWholeOnRoot = false; // rank 0 reads and keeps rows 1..nrows
  bool rootOnly = false;        // rank 0 reads alone, no communication (with keepWholeOnRoot)
  bool withHalo = false;        // hold and exchange one halo row on each side of the strip
};

// Reads fileName (input directory in front) into grid. Collective unless
// rootOnly. Every failure logs its FATAL entry on rank 0 and throws its exit
// code on every process taking part. Returns the file's header (corners
// rounded down; on rank 0 with the statistics of a binary header).
GridFileHeader ReadGrid(const GridFileContext &context, const std::string &fileName, Grid &grid,
                        const GridReadOptions &options);

// Opens path through open(), retrying five times 200 ms apart (wait() does the
// waiting) with the documented retry entries; the sixth failure is fatal (21).
std::FILE *OpenWithRetries(DiagnosticsLog &log, const std::string &path,
                           const std::function<std::FILE *()> &open,
                           const std::function<void()> &wait);

} // namespace tavro
