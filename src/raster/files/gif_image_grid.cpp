// Decode, resample and map one image grid.
#include "raster/files/gif_image_grid.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "raster/files/gif_image_reader.h"

#include <cmath>

namespace tavro {

std::string ReadGifImageGrid(DiagnosticsLog &log, const std::string &path, Grid &grid,
                             const RasterGeometry &model, const GifGeoreference &georeference,
                             const GifMapping &mapping) {
  if (!(georeference.cellSize > 0.0) || !std::isfinite(georeference.cellSize))
    return "the image's pixel size is not above 0";
  try {
    GifImageReader reader(path);
    int width = 0;
    int height = 0;
    reader.GetScreenSize(width, height);
    Grid image(1, height, width, height, log); // a failed allocation is fatal (1)
    reader.Decode(image);
    ResampleGifImage(image, width, height, georeference, model, grid);
    MapGifValues(grid, model.nrows, model.ncols, mapping);
  } catch (const GifFormatError &error) {
    return error.what();
  }
  return {};
}

} // namespace tavro
