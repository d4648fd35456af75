// Moving grid and stack values between rank 0, which holds whole rasters, and
// the processes that own the cells: scatter, gather (in place or into a new
// copy for output), halo exchange between neighbours, and the exchange of the
// cells of a mask grid (lake cells). The one place where grids travel over MPI.
//
// Every operation is collective: all processes call it at the same point with
// the same grid. Rank 0's grids hold rows 1..nrows; every other process's
// grids hold at least its strip rows (and its halo rows for the halo
// exchange). Message tags: the row number for the grid and stack strips and
// the grid halo, 0 for the stack halo, the rank other than 0 for mask cells.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "kernel/grid.h"
#include "raster/parallel/mpi_decomposition.h"

namespace tavro {

class DiagnosticsLog;

// Exit code of an exchange called with a grid, stack or count list that does
// not fit the decomposition (rows missing, levels differing between processes).
inline constexpr int kStripExchangeExitCode = 122;

// Rank 0's values of every run reach the owner's grid; rank 0's own cells stay.
void ScatterGrid(const MpiDecomposition &decomposition, Grid &grid, DiagnosticsLog &log);

// The owners' values of their runs are written into rank 0's grid.
void GatherGrid(const MpiDecomposition &decomposition, Grid &grid, DiagnosticsLog &log);

// Rank 0: a new grid of rows 1..nrows with every owner's values and nodata on
// every cell no process owns (also with one process, so that output does not
// depend on the process count). Other processes: an unallocated grid.
Grid GatherGridForOutput(const MpiDecomposition &decomposition, const Grid &grid,
                         DiagnosticsLog &log);

// The same for all levels of a stack. A non-empty identifier is logged as
// "re-distributing stack " (scatter) or "synchronising stack " (gathers).
void ScatterStack(const MpiDecomposition &decomposition, Stack &stack, DiagnosticsLog &log,
                  std::string_view identifier = {});
void GatherStack(const MpiDecomposition &decomposition, Stack &stack, DiagnosticsLog &log,
                 std::string_view identifier = {});
Stack GatherStackForOutput(const MpiDecomposition &decomposition, const Stack &stack,
                           DiagnosticsLog &log, std::string_view identifier = {});

// Rank 0's grid of rows 1..nrows to every process, whose grid becomes a whole
// copy of it: for values that a process may look up at any cell of the raster.
void BroadcastWholeGrid(const MpiDecomposition &decomposition, Grid &grid, DiagnosticsLog &log);

// Every halo cell receives its owner's value (non-blocking, one final wait).
void ExchangeHalo(const MpiDecomposition &decomposition, Grid &grid, DiagnosticsLog &log);
// Every halo cell receives all levels of its owner's cell.
void ExchangeStackHalo(const MpiDecomposition &decomposition, Stack &stack, DiagnosticsLog &log);

// Mask cells: cells whose mask value is above nodata, in the scan order rows
// 1..nrows, columns of each row's column range. counts[r] is the number of
// mask cells owned by rank r (the same list on every process).
//
// Rank 0 receives the owners' values of their mask cells into target (or into
// values when target is null); with a target, the mask cells of rank 0 and of
// no process are copied from values into it.
void GatherMaskedCells(const MpiDecomposition &decomposition, Grid &values, const Grid &mask,
                       std::span<const std::int64_t> counts, Grid *target, DiagnosticsLog &log);
// The owners receive rank 0's values of their mask cells.
void ScatterMaskedCells(const MpiDecomposition &decomposition, Grid &values, const Grid &mask,
                        std::span<const std::int64_t> counts, DiagnosticsLog &log);

} // namespace tavro
