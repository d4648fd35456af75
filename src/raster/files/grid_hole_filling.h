// Filling of the holes of a grid read whole on rank 0: cells with the file's
// nodata inside the zone grid get the nearest valid value (searched in
// widening windows) or a constant; cells outside the zone grid become nodata
// once anything was filled. Replacements are reported in the rank log file.
#pragma once

#include "raster/files/grid_format.h"

#include <string>

namespace tavro {

class DiagnosticsLog;
class Grid;

struct HoleFilling {
  int fillMode = 1; // 1 nearest value (with search) or fillValue; 2 fillValue
  double fillValue = 0.0;
  bool searchNeighbours = true;
  bool verbose = false;
};

// grid and zoneGrid hold rows 1..nrows. Returns the number of holes counted as
// replaced. A hole without a valid cell within ten steps is fatal (25); the
// rank log "modell_<rank>.log" that cannot be opened is fatal (5).
long FillGridHoles(DiagnosticsLog &log, int rank, const std::string &path, Grid &grid,
                   const Grid &zoneGrid, const RasterGeometry &geometry, double fileNodata,
                   const HoleFilling &filling);

// Reach of the nearest-value search.
inline constexpr int MaxHoleSearchSteps = 10;

} // namespace tavro
