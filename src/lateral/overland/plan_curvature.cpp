// Plan curvature from the central differences of the elevation window.
#include "lateral/overland/plan_curvature.h"

namespace tavro::overland {

double PlanCurvature(const std::array<std::array<double, 3>, 3> &z, double cellSize) {
  const double dx2 = cellSize * cellSize;
  const double zx = (z[1][2] - z[1][0]) / (2.0 * cellSize);
  const double zy = (z[0][1] - z[2][1]) / (2.0 * cellSize);
  if (zx == 0.0 && zy == 0.0)
    return 0.0;
  const double alongColumn = ((z[0][1] + z[2][1]) / 2.0 - z[1][1]) / dx2;
  const double alongRow = ((z[1][0] + z[1][2]) / 2.0 - z[1][1]) / dx2;
  const double twist = (z[2][0] - z[0][0] + z[0][2] - z[2][2]) / (4.0 * dx2);
  return 2.0 * (alongColumn * zx * zx + alongRow * zy * zy - twist * zy * zx) / (zy * zy + zx * zx);
}

void ComputePlanCurvatureRaster(std::span<const double> elevation, std::span<double> curvature,
                                const RasterView &raster, double cellSize, double noData) {
  for (long r = 1; r <= raster.Rows; ++r)
    for (long c = 1; c <= raster.Columns; ++c)
      raster.At(curvature, r, c) = noData;
  if (raster.Columns <= 2)
    return;
  for (long r = 2; r < raster.Rows; ++r)
    for (long c = 2; c < raster.Columns; ++c) {
      std::array<std::array<double, 3>, 3> z{};
      bool complete = true;
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
          z[i][j] = raster.At(elevation, r - 1 + i, c - 1 + j);
          complete = complete && z[i][j] != noData;
        }
      raster.At(curvature, r, c) = complete ? PlanCurvature(z, cellSize) : noData;
    }
}

double MeanOfNeighbours(std::span<const double> values, const RasterView &raster, long r, long c,
                        double noData) {
  // NE, E, SE, S, SW, W, NW, N
  static constexpr int kRows[8] = {-1, 0, 1, 1, 1, 0, -1, -1};
  static constexpr int kColumns[8] = {1, 1, 1, 0, -1, -1, -1, 0};
  double sum = 0.0;
  int count = 0;
  for (int k = 0; k < 8; ++k) {
    const long rr = r + kRows[k];
    const long cc = c + kColumns[k];
    if (rr < 1 || rr > raster.Rows || cc < 1 || cc > raster.Columns)
      continue;
    const double v = raster.At(values, rr, cc);
    if (v != noData) {
      sum += v;
      ++count;
    }
  }
  return count > 0 ? sum / count : noData;
}

void FillGapsFromNeighbours(std::span<double> values, std::span<const char> needsValue,
                            const RasterView &raster, double noData) {
  for (long r = 1; r <= raster.Rows; ++r)
    for (long c = 1; c <= raster.Columns; ++c) {
      const auto i = static_cast<std::size_t>((r - 1) * raster.Columns + (c - 1));
      if (needsValue[i] != 0 && values[i] == noData)
        values[i] = MeanOfNeighbours(values, raster, r, c, noData);
    }
}

} // namespace tavro::overland
