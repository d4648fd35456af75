// The lake cells of the routing across processes: their count per process
// and the whole-raster selection that the count and both exchanges share,
// so that the messages of every process have the agreed size.
#pragma once

#include "kernel/grid.h"

#include <cstdint>
#include <vector>

namespace tavro {

class DiagnosticsLog;
struct MpiDecomposition;

// Collective: the mask of the lake cells, held over every row on rank 0 and
// over the strip elsewhere: 1 where the cell is valid in zoneGrid and its lake
// code is above nodata, nodata elsewhere. zoneGrid and lakeCodes are the
// process's own grids (whole raster or strip); rank 0 gathers the rows of
// the others.
Grid LakeCellMask(const MpiDecomposition &decomposition, Grid &zoneGrid, Grid &lakeCodes,
                  DiagnosticsLog &log);

// Collective: the number of mask cells each process owns (the same list on
// every process), summed to rank 0 and broadcast.
std::vector<std::int64_t> CountMaskCellsPerRank(const MpiDecomposition &decomposition,
                                                const Grid &mask);

} // namespace tavro
