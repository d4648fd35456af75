// The stop of a run whose water is no longer a usable number: a NaN, an
// infinity, or a magnitude of 2^67 (about 1.47e20) or more, which no store or
// flux of a catchment reaches and which the exact sums of the statistics
// cannot hold (they would show as nan). Modules form sums of their stores and
// fluxes every step anyway (balances, statistics, solver reports); such a
// value anywhere in the summed cells carries over into the sum, so one test of
// that sum per step watches every cell without touching the per-cell loops.
// Only when the test fails are the module's grids searched for the first cell
// that went wrong, so that the FATAL entry can name the module, the grid, the
// cell and the date.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace tavro {

class CellIteration;
class Grid;
class Stack;
class modelobject;

// Exit code of a run whose stores or fluxes left the usable range.
inline constexpr int NonFiniteWaterExitCode = 140;

// A grid (or stack with levels 0..levels) of a module, named as the module
// registers it.
struct WaterGrid {
  std::string name;
  const Grid *grid = nullptr;
  const Stack *stack = nullptr;
  int levels = 0;
};

// Collective over all processes; every process calls it for the same module
// and step with the same grid list. localSum: a sum the module formed this
// step over its own cells. When it is usable on every process, nothing else
// happens. Otherwise the first unusable value among the own cells of the
// listed grids (grid by grid in list order, cells in row order over all
// processes) is located, rank 0 logs
//   "FATAL: <module>: water out of range on <d.m.yyyy hh>h: <grid> holds
//    <value> at row <r>, col <c>[, level <k>] (MPI rank <p>); stores and
//    fluxes must be finite and below 1.47e20 in magnitude"
// and every process throws NonFiniteWaterExitCode.
void StopIfWaterNotFinite(const modelobject &module, const CellIteration &cells, double localSum,
                          std::span<const WaterGrid> grids);

// The same for water held per subbasin by rank 0 alone (the routing's flows).
// Collective; flows: the values of flow indices 1..n at [1..n] on rank 0
// (ignored elsewhere), codes: the subbasin code of each index (same layout;
// an index without a code is named by its number). When the sum over the
// flows is not usable, rank 0 logs
//   "FATAL: <module>: water out of range on <date>: <name> holds <value> at
//    subbasin <code>; stores and fluxes must be finite and below 1.47e20 in
//    magnitude"
// and every process throws NonFiniteWaterExitCode.
void StopIfFlowsNotFinite(const modelobject &module, std::string_view name,
                          std::span<const double> flows, std::span<const double> codes);

} // namespace tavro
