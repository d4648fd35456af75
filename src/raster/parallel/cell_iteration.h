// The one loop over a process's cells that every module uses: the strip rows,
// the per-row column ranges, the test that a cell is valid, owned by this
// process and (in spin-up mode with response units) a master cell, and the
// copy of master results to the other cells of each unit after the loop.
#pragma once

#include <omp.h>

#include <span>
#include <vector>

#include "kernel/fatal_error.h"
#include "kernel/grid.h"
#include "kernel/hydrologic_response_unit.h"
#include "kernel/one_based_array.h"
#include "raster/parallel/mpi_regions.h"

namespace tavro {

struct CellIterationSetup {
  long FirstRow = 1; // strip of this process
  long LastRow = 0;
  long NCols = 0;
  const OneBasedArray<RowColumnRange> *RowRanges = nullptr; // none: columns 1..NCols
  const Grid *Zone = nullptr; // a cell is valid when its zone value is above NoData
  double NoData = -9999.0;
  const Grid *Owners = nullptr; // "MPIRegions"; none: every valid cell is owned
  int Rank = 0;
  // Spin-up units: "HydrologicResponseUnits", "MasterHydrologicResponseUnits"
  // and the list of units of this process; none: every cell is computed.
  const Grid *UnitGrid = nullptr;
  const Grid *MasterGrid = nullptr;
  const std::vector<HydrologicResponseUnit> *Units = nullptr;
};

// The response units of spin-up mode, when a module computes with them.
struct SpinUpUnits {
  const Grid *UnitGrid = nullptr;
  const Grid *MasterGrid = nullptr;
  const std::vector<HydrologicResponseUnit> *Units = nullptr;
};

// The cells of a model object's strip: its rows, column ranges, nodata value,
// the given zone grid, its owner grid ("MPIRegions", when linked) and rank,
// and the response units when given.
template <class ModelObject>
CellIterationSetup StripCellsOf(const ModelObject &object, const Grid *zone,
                                const SpinUpUnits &units = {}) {
  CellIterationSetup cells;
  cells.FirstRow = object.FirstRow;
  cells.LastRow = object.LastRow;
  cells.NCols = object.NCols;
  cells.RowRanges = object.RowRanges;
  cells.Zone = zone;
  cells.NoData = object.NoData;
  cells.Owners = object.MPIRegions;
  cells.Rank = object.MPIRank;
  cells.UnitGrid = units.UnitGrid;
  cells.MasterGrid = units.MasterGrid;
  cells.Units = units.Units;
  return cells;
}

class CellIteration {
public:
  explicit CellIteration(const CellIterationSetup &setup) : setup_(setup) {}

  long FirstRow() const { return setup_.FirstRow; }
  long LastRow() const { return setup_.LastRow; }
  // Column range of the valid cells of a row ([1, 0] when it has none).
  RowColumnRange Columns(long row) const;
  bool IsValid(long row, long column) const;
  bool IsOwned(long row, long column) const;
  bool UsesUnits() const;
  // Valid, owned and, with units, the master cell of its unit.
  bool IsComputed(long row, long column) const;

  // Calls body(row, column) for every computed cell, rows spread over the
  // OpenMP threads (runtime schedule). An exit code thrown by the body stops
  // the loop and is thrown again after the region; a FATAL entry logged
  // before the throw is not logged twice.
  template <class Body> void ForEachCell(Body &&body) const;

  // Calls body(row, column) for every valid cell of this process (spin-up
  // unit members included), row by row on the calling thread: for the sums
  // of a statistics table, which take their cells one at a time.
  template <class Body> void ForEachOwnCell(Body &&body) const;

  // Copies each grid's master-cell value to the other owned cells of its unit.
  void CopyMasterResults(std::span<Grid *const> grids) const;
  void CopyMasterResults(std::span<Stack *const> stacks) const;

private:
  // Master cell of the unit a non-master cell belongs to, or false.
  bool MasterOf(long row, long column, long *masterRow, long *masterColumn) const;
  // Calls copy(row, column, masterRow, masterColumn) for every owned cell
  // that takes its values from its unit's master.
  template <class CopyCell> void ForEachUnitMember(CopyCell &&copy) const;

  CellIterationSetup setup_;
};

template <class Body> void CellIteration::ForEachCell(Body &&body) const {
  ParallelErrors errors;
#pragma omp parallel for schedule(runtime)
  for (long row = setup_.FirstRow; row <= setup_.LastRow; ++row) {
    if (errors.Any())
      continue;
    const RowColumnRange range = Columns(row);
    for (long column = range.first; column <= range.last; ++column) {
      if (!IsComputed(row, column))
        continue;
      try {
        body(row, column);
      } catch (int code) {
        errors.RecordLogged(code);
        break;
      }
    }
  }
  // Only exit codes whose entry is already logged are recorded here.
  if (errors.Any())
    throw errors.ExitCode();
}

template <class Body> void CellIteration::ForEachOwnCell(Body &&body) const {
  for (long row = setup_.FirstRow; row <= setup_.LastRow; ++row) {
    const RowColumnRange range = Columns(row);
    for (long column = range.first; column <= range.last; ++column)
      if (IsValid(row, column) && IsOwned(row, column))
        body(row, column);
  }
}

// Runs job(i) for i = 0..count-1 on the OpenMP threads, one job per thread at
// a time: for adding a step's cells to statistics tables when each job has
// tables of its own (a table takes its cells on one thread; its sums do not
// depend on the order).
template <class Job> void ForEachTableJob(std::size_t count, Job &&job) {
#pragma omp parallel for schedule(dynamic, 1)
  for (long i = 0; i < static_cast<long>(count); ++i)
    job(static_cast<std::size_t>(i));
}

} // namespace tavro
