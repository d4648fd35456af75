// The accumulation of the grid output on the cells a process owns: period
// sums, minimum and maximum, the vegetation-period sum, and the division of
// a sum into a mean. Plain loops over grids (OpenMP over the rows), no MPI;
// which cells are the process's own is given by an OwnCells description.
#pragma once

#include "kernel/grid.h"
#include "kernel/one_based_array.h"
#include "raster/parallel/mpi_regions.h"

#include <utility>

namespace tavro {

// The cells of a grid entry that this process accumulates: rows firstRow..
// lastRow, in each the columns of the row's range of valid cells, and among
// those the cells where the zone grid holds data and the decomposition's
// "MPIRegions" grid names this process.
struct OwnCells {
  long FirstRow = 1;
  long LastRow = 0;
  long NCols = 0;
  double NoData = -9999.0;
  // Column ranges of rows 0..nrows; null: every row spans columns 1..NCols.
  const OneBasedArray<RowColumnRange> *RowRanges = nullptr;
  // Zone grid: a cell counts where it holds data; null or row absent: no test.
  const Grid *Zone = nullptr;
  // Owner rank of every cell; null: this process owns every cell (no
  // decomposition); row absent: no cell of the row is owned.
  const Grid *Regions = nullptr;
  int Rank = 0;

  // First and last column of a row's range (last < first: none).
  std::pair<long, long> Columns(long row) const;
  bool IsOwn(long row, long column) const;
};

// aggregate += data on own cells (whatever the value), nodata on the other
// cells of the column ranges.
void AddToAggregate(const OwnCells &cells, const Grid &data, Grid &aggregate);

// First step (started false): minimum and maximum (either may be null) take
// data on own cells and nodata on the other cells of the column ranges;
// later steps lower the minimum and raise the maximum on own cells.
void UpdateMinMax(const OwnCells &cells, const Grid &data, Grid *minimum, Grid *maximum,
                  bool started);

// Vegetation-period sum: data is added on own cells inside the vegetation
// period (start at least 0, stop at most 0) where data holds a value.
void AddToVegetationPeriod(const OwnCells &cells, const Grid &data, const Grid &start,
                           const Grid &stop, Grid &sum);

// grid /= divisor on own cells (divisor above 0; otherwise nothing changes).
void DivideOwnCells(const OwnCells &cells, Grid &grid, double divisor);

// grid /= duration cell by cell on own cells. A cell whose duration is not
// above 0 has no defined mean and becomes nodata, never inf or NaN.
void DivideByDuration(const OwnCells &cells, Grid &grid, const Grid &duration);

// value on own cells; with nodataElsewhere the other cells of the column
// ranges become nodata.
void ResetOwnCells(const OwnCells &cells, Grid &grid, double value, bool nodataElsewhere);

// data takes the stack's level on own cells.
void CopyStackLevel(const OwnCells &cells, const Stack &stack, long level, Grid &data);

} // namespace tavro
