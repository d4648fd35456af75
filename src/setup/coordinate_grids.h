// The coordinates of the lower-left corner of every cell ("CoordX",
// "CoordY"), accumulated from the cell sizes so that rasters of unequal cells
// get the true positions. The set-up object's members MakeCoordinateGrids is
// defined in coordinate_grids.cpp too.
#pragma once

#include "raster/files/grid_format.h"

namespace tavro {

class Grid;

// Whole raster (rows 1..nrows of every grid). In every row CoordX starts at
// xll in column 1 and adds the x size of the left neighbour; CoordY of the
// bottom row is yll and every row above adds the y size of the cell below. A
// size that is the nodata value or less, or a missing size grid, counts as
// the header's cell size. Cells whose zone value is nodata get nodata after
// the accumulation.
void ComputeCoordinates(const Grid &zone, const Grid *sizeX, const Grid *sizeY,
                        const RasterGeometry &geometry, Grid &coordX, Grid &coordY);

} // namespace tavro
