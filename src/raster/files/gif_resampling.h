// Image grids: the palette indices of a decoded GIF image resampled
// bilinearly onto the model raster with the image's georeference, and the
// resampled (generally fractional) indices turned into values by a
// two-branch exponential mapping. Pure functions on grids; no files, no MPI.
#pragma once

#include "raster/files/grid_format.h"

namespace tavro {

class Grid;

// Where the image lies: the lower-left corner of its bottom-left pixel and
// the pixel size, in the model's units; an optional mask grid of the model
// raster (cells holding -9999 or less keep the mask's value).
struct GifGeoreference {
  double xllCorner = 0.0;
  double yllCorner = 0.0;
  double cellSize = 0.0;
  const Grid *mask = nullptr;
};

// value = f1 * exp(x1 * index) up to the threshold, f2 * exp(x2 * index)
// above it up to 250, nodata above 250; index 0 gives 0.
struct GifMapping {
  double f1 = 0.0;
  double x1 = 0.0;
  int threshold = 0;
  double f2 = 0.0;
  double x2 = 0.0;
};

// Fills rows 1..nrows, columns 1..ncols of grid: each cell samples the
// image at the cell's lower-left corner between the four nearest pixel
// centres (row 1 of the image at the top); a pixel of -9999 or less among
// the four makes the cell -9999. Near the image's edges the nearest pixels
// are repeated.
void ResampleGifImage(const Grid &image, int width, int height, const GifGeoreference &georeference,
                      const RasterGeometry &model, Grid &grid);

// Maps every cell of rows 1..rows, columns 1..columns above -9999 in place.
void MapGifValues(Grid &grid, int rows, int columns, const GifMapping &mapping);

} // namespace tavro
