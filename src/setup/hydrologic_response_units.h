// Hydrologic response units of spin-up mode: cells that share the classes of
// a few chosen grids (or the value of a given unit grid) form one unit, and
// only one cell of each unit, its master, is computed. Numbering runs over
// the whole raster in row order, so the unit grid does not depend on the
// process count; each process then picks its own master of every unit, its
// first owned cell. Pure functions on grids: no MPI, no logging, no files.
#pragma once

#include "kernel/grid.h"
#include "kernel/hydrologic_response_unit.h"
#include "kernel/one_based_array.h"
#include "raster/parallel/mpi_regions.h"

#include <optional>
#include <string>
#include <vector>

namespace tavro {

// A grid that defines the units: its values (the square root of their
// absolute values with a "sqrt" spacing word) fall into classes of the width.
struct HruClassGrid {
  std::string identifier;
  const Grid *grid = nullptr; // rows 1..nrows; a missing row counts as nodata
  double classWidth = 1.0;
  bool squareRoot = false;
};

// The whole raster as the numbering walks it.
struct HruRaster {
  int nrows = 0;
  int ncols = 0;
  double noData = -9999.0;
  const Grid *zone = nullptr; // a cell is valid where it is not nodata
  const OneBasedArray<RowColumnRange> *rowRanges = nullptr; // rows 1..nrows
};

// The highest class a grid may give (keys hold four digits per grid).
inline constexpr double kMaxHruClass = 9999.0;

// A class above kMaxHruClass: the class and where it occurred.
struct HruClassFailure {
  double classNumber = 0.0;
  std::string identifier;
  long row = 0;
  long column = 0;
};

struct HruNumbering {
  // Element 0 (number 0, empty key, row and column 0), then the units in the
  // order their first cell is met, numbered 1, 2, ...; row and column are
  // the unit's first cell over the whole raster.
  std::vector<HydrologicResponseUnit> units;
  std::optional<HruClassFailure> failure; // the numbering stopped there
};

// The class of one value: floor(v / width), v the value or sqrt(|value|).
double HruClassOf(double value, double classWidth, bool squareRoot);

// Units from classified grids. Every cell of every row's column range takes
// nodata in unitGrid; a valid cell whose first grid holds a value gets the
// number of its key: the classes of the grids in order ("%04.0lf'" each), up
// to the first grid after the first that holds nodata there.
HruNumbering NumberUnitsFromGrids(const std::vector<HruClassGrid> &grids, const HruRaster &raster,
                                  Grid &unitGrid);

// Units given as a grid: every cell of every row's column range, valid or
// not, is keyed by its value printed without decimals ("%0.lf", rounded),
// and the value is replaced by the unit's number; cells outside the column
// ranges become nodata.
HruNumbering NumberGivenUnits(const HruRaster &raster, Grid &unitGrid);

// The process's part of the raster for its masters.
struct HruStrip {
  long firstRow = 1;
  long lastRow = 0;
  const Grid *owners = nullptr; // "MPIRegions"; none: every valid cell is owned
  int rank = 0;
};

// Each unit's master on this process: its first owned valid cell in row
// order (row and column 0 when the process owns none of its cells). The
// master grid holds nodata on every present cell and the unit's number in
// each master.
void AssignMasterCells(std::vector<HydrologicResponseUnit> &units, const HruRaster &raster,
                       const HruStrip &strip, const Grid &unitGrid, Grid &masterGrid);

} // namespace tavro
