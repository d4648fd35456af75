// Cell coordinates from the cell sizes, and the set-up step that makes them.
#include "setup/coordinate_grids.h"

#include "kernel/grid.h"
#include "kernel/grid_registry.h"
#include "setup/defaultini.h"
#include "setup/derived_file_names.h"

namespace tavro {
namespace {

double SizeAt(const Grid *sizes, long row, long column, const RasterGeometry &geometry) {
  if (sizes == nullptr)
    return geometry.cellsize;
  const double size = (*sizes)[row][column];
  return size <= geometry.nodata ? geometry.cellsize : size;
}

} // namespace

void ComputeCoordinates(const Grid &zone, const Grid *sizeX, const Grid *sizeY,
                        const RasterGeometry &geometry, Grid &coordX, Grid &coordY) {
  const long nrows = geometry.nrows;
  const long ncols = geometry.ncols;
  for (long r = nrows; r >= 1; --r) {
    double *x = coordX[r];
    double *y = coordY[r];
    x[1] = geometry.xllcorner;
    for (long c = 2; c <= ncols; ++c)
      x[c] = x[c - 1] + SizeAt(sizeX, r, c - 1, geometry);
    for (long c = 1; c <= ncols; ++c)
      y[c] = r == nrows ? geometry.yllcorner : coordY[r + 1][c] + SizeAt(sizeY, r + 1, c, geometry);
  }
  // After the accumulation, which runs through invalid cells as well.
  for (long r = 1; r <= nrows; ++r)
    for (long c = 1; c <= ncols; ++c)
      if (zone[r][c] == geometry.nodata) {
        coordX[r][c] = geometry.nodata;
        coordY[r][c] = geometry.nodata;
      }
}

void defaultini::MakeCoordinateGrids() {
  constexpr const char *kNoFreeGrid = "no free grid found in memory";
  const std::string zoneFile = (*Registry)[1].FileName;
  const int xIndex =
      CreateDerivedGrid("CoordX", DerivedFileName(zoneFile, "$cx"), kNoFreeGrid, ")");
  const int yIndex =
      CreateDerivedGrid("CoordY", DerivedFileName(zoneFile, "$cy"), kNoFreeGrid, ")");
  // Rank 0 holds the whole zone and cell-size grids: the sums run over the
  // whole raster there and reach the strips afterwards, whatever the process
  // count.
  if (MPIRank == 0) {
    const auto sizes = [this](const char *identifier) -> const Grid * {
      const int index = FindGrid(identifier, false);
      return index > 0 ? (*Registry)[index].Data : nullptr;
    };
    ComputeCoordinates(*(*Registry)[1].Data, sizes("CellSizeX"), sizes("CellSizeY"),
                       {NCols, NRows, XllCorner, YllCorner, CellSize, NoData},
                       *(*Registry)[xIndex].Data, *(*Registry)[yIndex].Data);
  }
  for (const int index : {xIndex, yIndex})
    DistributeFromRoot(index);
  for (const int index : {xIndex, yIndex})
    WriteOnce(index);
}

} // namespace tavro
