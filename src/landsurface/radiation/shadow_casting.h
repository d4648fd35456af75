// Shadows cast by the terrain for one sun position, over the whole raster:
// rays are walked from the raster edges that face the sun across the raster,
// away from the sun, by integer line stepping; the ray height falls by the
// sun's slope per step and a cell below the ray lies in shadow, while a cell
// above it lifts the ray to its own height. Pure work on whole-raster grids.
#pragma once

namespace tavro {
class Grid;
}

namespace tavro::radiation {

struct ShadowRaster {
  long nrows = 0;
  long ncols = 0;
  double cellSize = 0.0; // m, the units of the elevations
  double noData = -9999.0;
};

// The sun: azimuth in radians clockwise from north in [0, 2 pi), elevation in
// radians (above the horizon).
struct SunPosition {
  double azimuth = 0.0;
  double elevation = 0.0;
};

// elevation, zone and shadow hold rows 1..nrows and columns 1..ncols. Every
// cell whose zone value is not noData and that a ray reaches gets 1 (in
// shadow) or 0 (sunlit) in shadow; other cells keep their values. Cells
// outside the zones are passed over: they neither receive a value nor lift
// the ray.
void CastShadows(const Grid &elevation, const Grid &zone, const ShadowRaster &raster,
                 const SunPosition &sun, Grid &shadow);

} // namespace tavro::radiation
