// The shadow walk over the whole raster.
#include "landsurface/radiation/shadow_casting.h"

#include "kernel/grid.h"

#include <cmath>

namespace tavro::radiation {
namespace {

// Quadrant limits of the azimuth, as the walk directions are defined with.
constexpr double kQuarterCircle = 1.570796326795;
constexpr double kThreeQuarterCircle = 4.7123889803850005;
constexpr double kHalfCircle = 3.14159265359;
// Beyond 45 degrees off the north-south axis the walk steps column by column.
constexpr double kDiagonalCosine = 0.707106781;

// The walk of one sun position: directions, sentinels and line stepping.
struct Walk {
  long rowStep = 1;    // +1: shadows run towards higher row numbers (sun in the north)
  long columnStep = 1; // +1: shadows run towards lower column numbers (sun in the east)
  long endRow = 0;     // the walk ends on reaching this row ...
  long endColumn = 0;  // ... or this column (just outside, away from the sun)
  bool byColumns = false;
  long major = 1; // M: cells of the major axis
  long minor = 0; // m: error increment of the minor axis per major step
  double drop = 0.0;
};

Walk WalkOf(const ShadowRaster &raster, const SunPosition &sun) {
  Walk walk;
  const double a = sun.azimuth;
  walk.rowStep = (a <= kQuarterCircle || a > kThreeQuarterCircle) ? 1 : -1;
  walk.columnStep = a <= kHalfCircle ? 1 : -1;
  const long firstColumn = walk.columnStep == 1 ? 1 : raster.ncols;
  const long firstRow = walk.rowStep == 1 ? raster.nrows : 1;
  walk.endRow = firstRow + walk.rowStep;
  walk.endColumn = firstColumn - walk.columnStep;

  const double s = std::sin(a);
  const double c = std::cos(a);
  const double rise = std::tan(sun.elevation);
  walk.byColumns = std::fabs(c) <= kDiagonalCosine;
  if (walk.byColumns) {
    walk.major = raster.ncols;
    walk.minor = static_cast<long>(std::fabs(static_cast<double>(raster.ncols) * c / s));
    walk.drop = std::fabs(raster.cellSize / s) * rise;
  } else {
    walk.major = raster.nrows;
    walk.minor = static_cast<long>(std::fabs(static_cast<double>(raster.nrows) * s / c));
    walk.drop = std::fabs(raster.cellSize / c) * rise;
  }
  return walk;
}

void WalkFrom(long row, long column, const Walk &walk, const Grid &elevation, const Grid &zone,
              double noData, Grid &shadow) {
  double h = elevation[row][column];
  long error = -(walk.major / 2);
  for (;;) {
    if (walk.byColumns) {
      if (h > noData)
        h -= walk.drop;
      column -= walk.columnStep;
      error += walk.minor;
      if (error >= 0) {
        error -= walk.major;
        row += walk.rowStep;
      }
    } else {
      h -= walk.drop;
      row += walk.rowStep;
      error += walk.minor;
      if (error >= 0) {
        error -= walk.major;
        column -= walk.columnStep;
      }
    }
    if (row == walk.endRow || column == walk.endColumn)
      return;
    if (zone[row][column] == noData)
      continue;
    const double ground = elevation[row][column];
    if (h > ground) {
      shadow[row][column] = 1.0;
    } else {
      shadow[row][column] = 0.0;
      h = ground;
    }
  }
}

} // namespace

void CastShadows(const Grid &elevation, const Grid &zone, const ShadowRaster &raster,
                 const SunPosition &sun, Grid &shadow) {
  if (raster.nrows < 1 || raster.ncols < 1)
    return;
  const Walk walk = WalkOf(raster, sun);
  // Rows from the side away from the sun towards it; the edge row facing the
  // sun starts a ray in every column and, walked last, decides what it reaches.
  const long sunEdgeColumn = walk.columnStep == 1 ? raster.ncols : 1;
  const long firstColumn = walk.endColumn + walk.columnStep;
  const long sunEdgeRow = walk.rowStep == 1 ? 1 : raster.nrows;
  for (long row = walk.endRow - walk.rowStep;; row -= walk.rowStep) {
    if (row != sunEdgeRow) {
      WalkFrom(row, sunEdgeColumn, walk, elevation, zone, raster.noData, shadow);
      continue;
    }
    for (long column = firstColumn; column != sunEdgeColumn + walk.columnStep;
         column += walk.columnStep)
      WalkFrom(row, column, walk, elevation, zone, raster.noData, shadow);
    return;
  }
}

} // namespace tavro::radiation
