// The bicubic spline of a station mesh on the model raster (interpolation
// methods 7 and 8): natural cubic splines first along every mesh column (in
// y) onto the rows of the SplineRaster, an auxiliary raster of the model's
// cell size from the south-west to the north-east mesh node, then along every
// row of it (in x) through the columns' values, and the result copied onto
// the model cells. Each process evaluates only the SplineRaster cells that
// its own cells need; the value of a SplineRaster cell does not depend on
// which cells are needed, so every process count gives the same grid.
// Everything runs in the frame of the mesh (the rotated frame when the mesh
// is turned); it works on the calling thread only.
#pragma once

#include "kernel/grid.h"
#include "kernel/memory_handling.h"
#include "meteo/interpolation/cubic_spline.h"
#include "meteo/interpolation/elevation_regression.h"
#include "raster/parallel/cell_iteration.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tavro {

// The nodes of a station mesh, [1..Rows][1..Columns], row 1 the northern
// one, column 1 the western one, in the frame of the mesh.
struct SplineMesh {
  const Grid *NodeX = nullptr;
  const Grid *NodeY = nullptr;
  long Rows = 0;
  long Columns = 0;
  double DX = 0.0; // mean spacings (m)
  double DY = 0.0;
};

// The model raster as the splines see it.
struct SplineModelRaster {
  const Grid *CellX = nullptr; // cell coordinates in the frame of the mesh
  const Grid *CellY = nullptr;
  CellIterationSetup Cells; // the cells of the strip that this process computes
  double Xll = 0.0;
  double Yll = 0.0;
  double CellSize = 0.0;
  double NoData = -9999.0;
  double Slope = 0.0; // of the frame (radians)
};

class TSplines : public memory_handling {
public:
  static constexpr int EqualAbscissaeExitCode = 82;

  // Rows and columns of the SplineRaster that the process needs, inclusive;
  // empty when none of its cells lies inside the mesh.
  struct Extent {
    long FirstRow = 1, LastRow = 0, FirstColumn = 1, LastColumn = 0;
    bool Empty() const { return FirstRow > LastRow || FirstColumn > LastColumn; }
  };
  struct RasterCell {
    long Row = 0, Column = 0; // 0: outside the SplineRaster
  };

  // bounds: a node value is valid when at least bounds.ValidFrom; points
  // without a spline value get bounds.Missing.
  TSplines(DiagnosticsLog &log, std::string moduleName, const SplineMesh &mesh,
           const SplineModelRaster &raster, interpolation::ValueBounds bounds);

  // The second derivatives Z2 of every mesh column from the node values Z
  // (one natural spline per run of valid nodes).
  void Prepare(const Grid &Z, Grid &Z2);
  // The spline values of the computed cells of the strip into result; cells
  // outside the mesh, or whose splines have no value, get bounds.Missing.
  // Equal abscissae are fatal (82).
  void EvaluateGrid(const Grid &Z, const Grid &Z2, Grid &result);
  // Turns (x, y) in place about the raster's lower-left corner by -angle.
  void RotatePoint(double &x, double &y, double angle) const;

  // The SplineRaster: origin (XMin, YMin) at its south-west cell, row 1 the
  // northern one at y = YMin + (Rows - 1) cs, column c at x = XMin + (c - 1) cs.
  double XMin() const { return xmin_; }
  double YMin() const { return ymin_; }
  long RasterRows() const { return rows_; }
  long RasterColumns() const { return columns_; }
  const Extent &NeededExtent() const { return extent_; }
  // The SplineRaster cell nearest to (x, y), rows and columns alike.
  RasterCell CellOf(double x, double y) const;

private:
  void ComputeRasterExtent();
  void MarkNeededCells();
  void ColumnPass(const Grid &Z, const Grid &Z2);
  void RowPass();
  void CopyToModelGrid(Grid &result) const;
  // The mesh column j bottom-up (index 0 the southern node) into the work arrays.
  void LoadColumn(long j, const Grid &Z, const Grid *Z2);
  std::size_t At(long r, long c) const; // index in the value grid and the flags
  // body(row, column, SplineRaster cell) for every computed cell of the
  // strip (the cell is {0, 0} outside the SplineRaster), or only for those
  // inside it.
  template <class Body> void ForEachComputedCell(Body &&body) const {
    const CellIteration cells(raster_.Cells);
    for (long row = cells.FirstRow(); row <= cells.LastRow(); ++row) {
      const RowColumnRange range = cells.Columns(row);
      for (long column = range.first; column <= range.last; ++column)
        if (cells.IsComputed(row, column))
          body(row, column, CellOf((*raster_.CellX)[row][column], (*raster_.CellY)[row][column]));
    }
  }
  template <class Body> void ForEachCellInside(Body &&body) const {
    ForEachComputedCell([&](long row, long column, RasterCell c) {
      if (c.Row != 0)
        body(row, column, c);
    });
  }
  [[noreturn]] void FatalEqualAbscissae(const interpolation::EqualAbscissae &e) const;

  SplineMesh mesh_;
  SplineModelRaster raster_;
  interpolation::ValueBounds bounds_;
  double cs_ = 0.0;
  double xmin_ = 0.0, ymin_ = 0.0, xmax_ = 0.0, ymax_ = 0.0;
  long rows_ = 0, columns_ = 0;
  Extent extent_;
  std::vector<double> values_;        // over the extent
  std::vector<std::uint16_t> needed_; // over the extent
  std::vector<double> columnX_;       // per extent row and mesh column: the column's x
  std::vector<double> columnValue_;   // and its spline value there
  std::vector<double> nodeY_, nodeX_, nodeZ_, nodeZ2_; // one mesh column, bottom-up
  std::vector<double> rowX_, rowZ_, rowZ2_;            // one SplineRaster row
  std::vector<double> work_;
};

} // namespace tavro
