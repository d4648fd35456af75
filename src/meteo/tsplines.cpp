// The mesh splines: the SplineRaster and the cells it needs, the column and
// row passes and the copy onto the model cells.
#include "meteo/tsplines.h"

#include "kernel/fatal_error.h"
#include "meteo/interpolation/cubic_spline.h"
#include "meteo/interpolation/rotated_frame.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tavro {
namespace {

using interpolation::Evaluate1D;
using interpolation::RunSecondDerivatives;
using interpolation::SplineInterval;

// Rows or columns of the SplineRaster over a span of the mesh.
long CellsOver(double span, double cs) {
  return std::max(1L, static_cast<long>(std::trunc(span / cs + 0.49999)) + 1);
}

} // namespace

TSplines::TSplines(DiagnosticsLog &log, std::string moduleName, const SplineMesh &mesh,
                   const SplineModelRaster &raster, interpolation::ValueBounds bounds)
    : memory_handling(log, std::move(moduleName)), mesh_(mesh), raster_(raster), bounds_(bounds) {
  const Grid &x = *mesh_.NodeX;
  const Grid &y = *mesh_.NodeY;
  const long m = mesh_.Rows, n = mesh_.Columns;
  // From the western column, the southern row, the eastern column and the
  // northern row.
  xmin_ = ymin_ = std::numeric_limits<double>::max();
  xmax_ = ymax_ = std::numeric_limits<double>::lowest();
  for (long i = 1; i <= m; ++i) {
    xmin_ = std::min(xmin_, x[i][1]);
    xmax_ = std::max(xmax_, x[i][n]);
  }
  for (long j = 1; j <= n; ++j) {
    ymin_ = std::min(ymin_, y[m][j]);
    ymax_ = std::max(ymax_, y[1][j]);
  }
  cs_ = raster_.CellSize / 1.0; // no refinement
  rows_ = CellsOver(ymax_ - ymin_, cs_);
  columns_ = CellsOver(xmax_ - xmin_, cs_);
  ComputeRasterExtent();
  MarkNeededCells();
  const auto nodes = static_cast<std::size_t>(m);
  const auto meshColumns = static_cast<std::size_t>(n);
  nodeY_.assign(nodes, 0.0);
  nodeX_.assign(nodes, 0.0);
  nodeZ_.assign(nodes, 0.0);
  nodeZ2_.assign(nodes, 0.0);
  rowX_.assign(meshColumns, 0.0);
  rowZ_.assign(meshColumns, 0.0);
  rowZ2_.assign(meshColumns, 0.0);
  work_.assign(std::max(nodes, meshColumns), 0.0);
}

TSplines::RasterCell TSplines::CellOf(double x, double y) const {
  const double bound = raster_.NoData + 0.01;
  if (!(x > bound && y > bound))
    return {};
  // Rounded alike in both directions, so that a cell lies on the SplineRaster
  // cell whose position is nearest to its own; points more than half a cell
  // outside the mesh lie outside.
  const double up = std::floor((y - ymin_) / cs_ + 0.4999);
  const double across = std::floor((x - xmin_) / cs_ + 0.4999);
  if (!(up >= 0.0 && up <= static_cast<double>(rows_ - 1) && across >= 0.0 &&
        across <= static_cast<double>(columns_ - 1)))
    return {};
  return {rows_ - static_cast<long>(up), static_cast<long>(across) + 1};
}

void TSplines::ComputeRasterExtent() {
  Extent e{rows_, 1, columns_, 1};
  bool any = false;
  ForEachCellInside([&](long, long, RasterCell c) {
    any = true;
    e.FirstRow = std::min(e.FirstRow, c.Row);
    e.LastRow = std::max(e.LastRow, c.Row);
    e.FirstColumn = std::min(e.FirstColumn, c.Column);
    e.LastColumn = std::max(e.LastColumn, c.Column);
  });
  if (!any) {
    extent_ = Extent{};
    return;
  }
  // One more row and column on each side where the SplineRaster has them.
  e.FirstRow = std::max(1L, e.FirstRow - 1);
  e.LastRow = std::min(rows_, e.LastRow + 1);
  e.FirstColumn = std::max(1L, e.FirstColumn - 1);
  e.LastColumn = std::min(columns_, e.LastColumn + 1);
  extent_ = e;
}

std::size_t TSplines::At(long r, long c) const {
  const auto width = static_cast<std::size_t>(extent_.LastColumn - extent_.FirstColumn + 1);
  return static_cast<std::size_t>(r - extent_.FirstRow) * width +
         static_cast<std::size_t>(c - extent_.FirstColumn);
}

void TSplines::MarkNeededCells() {
  if (extent_.Empty())
    return; // nothing to evaluate: no value grid either
  const auto height = static_cast<std::size_t>(extent_.LastRow - extent_.FirstRow + 1);
  const auto width = static_cast<std::size_t>(extent_.LastColumn - extent_.FirstColumn + 1);
  values_.assign(height * width, bounds_.Missing);
  needed_.assign(height * width, 0);
  columnX_.assign(height * static_cast<std::size_t>(mesh_.Columns), 0.0);
  columnValue_.assign(height * static_cast<std::size_t>(mesh_.Columns), bounds_.Missing);
  ForEachCellInside([&](long, long, RasterCell c) { needed_[At(c.Row, c.Column)] = 1; });
}

void TSplines::LoadColumn(long j, const Grid &Z, const Grid *Z2) {
  const long m = mesh_.Rows;
  for (long i = m, k = 0; i >= 1; --i, ++k) {
    const auto at = static_cast<std::size_t>(k);
    nodeX_[at] = (*mesh_.NodeX)[i][j];
    nodeY_[at] = (*mesh_.NodeY)[i][j];
    nodeZ_[at] = Z[i][j];
    nodeZ2_[at] = Z2 != nullptr ? (*Z2)[i][j] : 0.0;
  }
}

void TSplines::FatalEqualAbscissae(const interpolation::EqualAbscissae &e) const {
  ThrowFatal(*Log, EqualAbscissaeExitCode,
             Concat("The two input coordinates ", e.First, " (index ", e.FirstIndex, ") \nand ",
                    e.Second, " (index ", e.SecondIndex,
                    ") for the 1-D-Splineevaluation are the same!\n"));
}

void TSplines::Prepare(const Grid &Z, Grid &Z2) {
  const long m = mesh_.Rows;
  try {
    for (long j = 1; j <= mesh_.Columns; ++j) {
      LoadColumn(j, Z, nullptr);
      RunSecondDerivatives(nodeY_, nodeZ_, nodeZ2_, work_, bounds_.ValidFrom);
      for (long i = m, k = 0; i >= 1; --i, ++k)
        Z2[i][j] = nodeZ2_[static_cast<std::size_t>(k)];
    }
  } catch (const interpolation::EqualAbscissae &e) {
    FatalEqualAbscissae(e);
  }
}

void TSplines::EvaluateGrid(const Grid &Z, const Grid &Z2, Grid &result) {
  try {
    if (!extent_.Empty()) {
      ColumnPass(Z, Z2);
      RowPass();
    }
  } catch (const interpolation::EqualAbscissae &e) {
    FatalEqualAbscissae(e);
  }
  CopyToModelGrid(result);
}

void TSplines::ColumnPass(const Grid &Z, const Grid &Z2) {
  if (nodeY_.empty())
    return;
  const auto n = static_cast<std::size_t>(mesh_.Columns);
  const std::size_t last = nodeY_.size() - 1;
  for (long j = 1; j <= mesh_.Columns; ++j) {
    LoadColumn(j, Z, &Z2);
    SplineInterval interval;
    std::size_t segment = last > 0 ? last - 1 : 0; // rows run from the north
    for (long r = extent_.FirstRow; r <= extent_.LastRow; ++r) {
      const double y = ymin_ + static_cast<double>(rows_ - r) * cs_;
      // The column's x at y: linear between the nodes around y, extended
      // from the end segments beyond the column.
      double x = nodeX_[0];
      if (last > 0) {
        while (segment > 0 && y < nodeY_[segment])
          --segment;
        while (segment + 1 < last && y >= nodeY_[segment + 1])
          ++segment;
        const double dy = nodeY_[segment + 1] - nodeY_[segment];
        x = nodeX_[segment];
        if (dy != 0.0)
          x += (nodeX_[segment + 1] - nodeX_[segment]) * (y - nodeY_[segment]) / dy;
      }
      const std::size_t at =
          static_cast<std::size_t>(r - extent_.FirstRow) * n + static_cast<std::size_t>(j - 1);
      columnX_[at] = x;
      columnValue_[at] =
          Evaluate1D(nodeY_, nodeZ_, nodeZ2_, y, bounds_.ValidFrom, bounds_.Missing, interval);
    }
  }
}

void TSplines::RowPass() {
  const auto n = static_cast<std::size_t>(mesh_.Columns);
  for (long r = extent_.FirstRow; r <= extent_.LastRow; ++r) {
    const std::size_t base = static_cast<std::size_t>(r - extent_.FirstRow) * n;
    std::copy_n(columnX_.begin() + static_cast<std::ptrdiff_t>(base), n, rowX_.begin());
    std::copy_n(columnValue_.begin() + static_cast<std::ptrdiff_t>(base), n, rowZ_.begin());
    RunSecondDerivatives(rowX_, rowZ_, rowZ2_, work_, bounds_.ValidFrom);
    SplineInterval interval;
    for (long c = extent_.FirstColumn; c <= extent_.LastColumn; ++c) {
      if (needed_[At(r, c)] == 0)
        continue;
      const double x = xmin_ + static_cast<double>(c - 1) * cs_;
      values_[At(r, c)] =
          Evaluate1D(rowX_, rowZ_, rowZ2_, x, bounds_.ValidFrom, bounds_.Missing, interval);
    }
  }
}

void TSplines::CopyToModelGrid(Grid &result) const {
  ForEachComputedCell([&](long row, long column, RasterCell c) {
    const bool inside = c.Row >= extent_.FirstRow && c.Row <= extent_.LastRow &&
                        c.Column >= extent_.FirstColumn && c.Column <= extent_.LastColumn;
    result[row][column] = inside ? values_[At(c.Row, c.Column)] : bounds_.Missing;
  });
}

void TSplines::RotatePoint(double &x, double &y, double angle) const {
  const interpolation::FramePoint turned =
      interpolation::RotateIntoFrame(x, y, raster_.Xll, raster_.Yll, angle);
  x = turned.X;
  y = turned.Y;
}

} // namespace tavro
