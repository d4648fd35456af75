// Slope and aspect of the terrain from the elevation model, by the central
// differences of the four direct neighbours of a cell, and the means of a
// cell's neighbours that fill the gaps those differences leave. Pure work on
// whole-raster grids; the set-up object's members make_Slope_and_Aspect and
// FillNodataFromNeighbours (terrain_grids.cpp) drive it.
#pragma once

#include "raster/files/grid_format.h"

#include <optional>

namespace tavro {

class Grid;

// Degrees per radian, as the terrain grids are defined with.
inline constexpr double kDegreesPerRadian = 57.29577951307855;

struct SlopeAspect {
  double Slope = 0.0;  // degrees from the horizontal
  double Aspect = 0.0; // degrees clockwise from north the slope faces (90 east)
};

// From the rise per unit length towards the east (dx) and the north (dy):
// flat ground has slope 0 and aspect 0.
SlopeAspect SlopeAndAspect(double dx, double dy);

// Whole raster (rows 1..nrows of every grid); slope or aspect may be null.
// The border rows and columns, and every cell with a nodata value among its
// four direct neighbours, get the nodata value; every other cell its slope
// and aspect from dx = (E[r][c+1] - E[r][c-1]) / 2cs and
// dy = (E[r-1][c] - E[r+1][c]) / 2cs. Rows are spread over OpenMP threads.
void ComputeSlopeAndAspect(const Grid &elevation, const RasterGeometry &geometry, Grid *slope,
                           Grid *aspect);

enum class NeighbourMean {
  Arithmetic,
  // Directions in degrees: the direction of the summed unit vectors, in
  // [0, 360); 0 when they cancel.
  Circular,
};

// The mean of those of the eight neighbours of (row, column) that lie inside
// the raster and hold a value other than nodata; none when there is none.
std::optional<double> MeanOfNeighbours(const Grid &grid, long row, long column,
                                       const RasterGeometry &geometry, NeighbourMean mean);

} // namespace tavro
