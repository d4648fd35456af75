// Reading of an image grid: a GIF file decoded into palette indices,
// resampled onto the whole model raster and mapped to values. The grid
// reader calls it on rank 0 for a model object that has a georeference.
#pragma once

#include "raster/files/gif_resampling.h"

#include <string>

namespace tavro {

class DiagnosticsLog;
class Grid;

// Fills rows 1..nrows of grid from the image at path. Returns the reason of
// a failure (a defect of the file, a georeference without a positive pixel
// size), empty on success; only a failed allocation of the image matrix is
// fatal at once (its entry in log, exit code 1).
std::string ReadGifImageGrid(DiagnosticsLog &log, const std::string &path, Grid &grid,
                             const RasterGeometry &model, const GifGeoreference &georeference,
                             const GifMapping &mapping);

} // namespace tavro
