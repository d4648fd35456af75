// Bilinear resampling of image indices and their exponential mapping.
#include "raster/files/gif_resampling.h"

#include "kernel/grid.h"

#include <algorithm>
#include <cmath>

namespace tavro {
namespace {

constexpr double kNodata = -9999.0;

bool IsNodata(double value) { return value <= kNodata; }

// floor(value) as an index, kept far inside the range of long (the clamping
// to the image follows) so that a sample far off the image is no overflow.
long FloorIndex(double value) {
  constexpr double kFar = 1.0e9;
  if (!(value > -kFar))
    return static_cast<long>(-kFar);
  return static_cast<long>(std::floor(std::min(value, kFar)));
}

// The image's four pixels around one sample point and the point's place
// between their centres.
struct Neighbourhood {
  int left = 1;
  int right = 1;
  int lower = 1;
  int upper = 1;
  double dx = 0.0; // from the left centre, in pixels
  double dy = 0.0; // from the lower centre, in pixels
};

Neighbourhood Around(double x, double y, int width, int height, const GifGeoreference &g) {
  const double gc = g.cellSize;
  const long v = 1 + FloorIndex((x - (g.xllCorner + 0.5 * gc)) / gc);
  const long u = FloorIndex((y - (g.yllCorner + 0.5 * gc)) / gc);
  const long d = height - u;
  Neighbourhood n;
  n.left = static_cast<int>(std::clamp<long>(v, 1, width));
  n.right = static_cast<int>(std::clamp<long>(v + 1, 1, width));
  n.lower = static_cast<int>(std::clamp<long>(d, 1, height));
  n.upper = static_cast<int>(std::clamp<long>(d - 1, 1, height));
  const double xc = g.xllCorner + (n.left - 0.5) * gc;
  const double yc = d > height ? g.yllCorner + 0.5 * gc
                               : g.yllCorner + (height - std::max<long>(d, 1) + 0.5) * gc;
  // Where the clamped pixels coincide the weights do not matter; zero keeps
  // the edge value exact however far off the image the sample lies.
  n.dx = n.left == n.right ? 0.0 : (x - xc) / gc;
  n.dy = n.lower == n.upper ? 0.0 : (y - yc) / gc;
  return n;
}

double Sample(const Grid &image, const Neighbourhood &n) {
  const double lowerLeft = image[n.lower][n.left];
  const double lowerRight = image[n.lower][n.right];
  const double upperLeft = image[n.upper][n.left];
  const double upperRight = image[n.upper][n.right];
  if (IsNodata(lowerLeft) || IsNodata(lowerRight) || IsNodata(upperLeft) || IsNodata(upperRight))
    return kNodata;
  const double d = n.dx;
  const double e = n.dy;
  return (1 - d) * (1 - e) * lowerLeft + d * (1 - e) * lowerRight + (1 - d) * e * upperLeft +
         d * e * upperRight;
}

} // namespace

void ResampleGifImage(const Grid &image, int width, int height, const GifGeoreference &georeference,
                      const RasterGeometry &model, Grid &grid) {
  const Grid *mask = georeference.mask;
  for (int r = model.nrows; r >= 1; --r) {
    const double y = model.yllcorner + (model.nrows - r) * model.cellsize;
    const double *maskRow = mask != nullptr && mask->HasRow(r) ? (*mask)[r] : nullptr;
    double *row = grid[r];
    for (int c = 1; c <= model.ncols; ++c) {
      if (maskRow != nullptr && IsNodata(maskRow[c])) {
        row[c] = maskRow[c];
        continue;
      }
      const double x = model.xllcorner + (c - 1) * model.cellsize;
      row[c] = Sample(image, Around(x, y, width, height, georeference));
    }
  }
}

void MapGifValues(Grid &grid, int rows, int columns, const GifMapping &mapping) {
  for (int r = 1; r <= rows; ++r) {
    double *row = grid[r];
    for (int c = 1; c <= columns; ++c) {
      const double v = row[c];
      if (IsNodata(v))
        continue;
      if (v == 0.0)
        row[c] = 0.0;
      else if (v <= mapping.threshold)
        row[c] = mapping.f1 * std::exp(mapping.x1 * v);
      else if (v <= 250.0)
        row[c] = mapping.f2 * std::exp(mapping.x2 * v);
      else
        row[c] = kNodata;
    }
  }
}

} // namespace tavro
