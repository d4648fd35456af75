// The glacier table of the soil-water module: per subbasin whether it has
// glacier cells and the sums of the glacier and unglacierized fractions of
// its cells, built from a glacier-fraction grid over the whole raster.
#pragma once

#include "kernel/grid.h"
#include "kernel/one_based_array.h"
#include "soil/soil_water_grids.h"
#include "soil/subbasin_parameter_table.h"

namespace tavro {

// Records 1..codes.Count over rows 1..rows and columns 1..columns of the two
// grids: a valid cell (subbasin value above noData) with a glacier fraction g
// above 0 adds g to the glacier sum and 1 - g to the unglacierized sum of its
// subbasin and flags it; any other valid cell adds 1 to the unglacierized sum.
OneBasedArray<GlacierRecord> BuildGlacierTable(const Grid &subbasins, const Grid &glacier,
                                               const SubbasinRanks &codes, long rows, long columns,
                                               double noData);

} // namespace tavro
