// Plan curvature of the terrain (1/m) from a cell's 3x3 elevation window,
// which decides whether a cell's outflow spreads to the side directions, and
// the filling of its gaps from neighbouring values.
#pragma once

#include <array>
#include <span>

namespace tavro::overland {

// z[i][j]: i = 0 the northern row, 1 the cell's, 2 the southern; j = 0 the
// western column, 1 the cell's, 2 the eastern. 0 on a flat window.
double PlanCurvature(const std::array<std::array<double, 3>, 3> &z, double cellSize);

// A whole raster stored row by row (row 1 first, ncols values each).
struct RasterView {
  long Columns = 0;
  long Rows = 0;
  double &At(std::span<double> values, long r, long c) const {
    return values[static_cast<std::size_t>((r - 1) * Columns + (c - 1))];
  }
  double At(std::span<const double> values, long r, long c) const {
    return values[static_cast<std::size_t>((r - 1) * Columns + (c - 1))];
  }
};

// Plan curvature of every cell: no-data in the outer rows and columns and
// where the window holds no-data.
void ComputePlanCurvatureRaster(std::span<const double> elevation, std::span<double> curvature,
                                const RasterView &raster, double cellSize, double noData);

// The mean of a cell's neighbours inside the raster that are not no-data,
// taken in the order NE, E, SE, S, SW, W, NW, N; no-data without any.
double MeanOfNeighbours(std::span<const double> values, const RasterView &raster, long r, long c,
                        double noData);

// Row by row, column by column: every cell marked in needsValue whose value
// is no-data takes the mean of its neighbours; cells filled earlier count.
void FillGapsFromNeighbours(std::span<double> values, std::span<const char> needsValue,
                            const RasterView &raster, double noData);

} // namespace tavro::overland
