// One red-black Gauss-Seidel sweep of an aquifer layer over a process's
// strip: first the cells whose row plus column is even, then the others. A
// cell reads only neighbours of the other colour, so the rows of one colour
// can be spread over any number of threads and the result does not depend on
// how (nor on how the raster is divided over the processes, when the caller
// exchanges the halo of the heads before each colour).
//
// Only the cells of the SweepCells mask are updated; fixed-head cells, cells
// under a whole glacier, cells that take no part in the layer's flow and
// cells of other processes are left alone and seen as constants.
#pragma once

#include "kernel/grid.h"

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace tavro {

// The grids of the layer being swept (rows of the strip and one halo row on
// either side where the raster continues). Null optional grids count as 0
// (leakage, inflow) or as the raster cell size (cell widths).
struct SweepLayerGrids {
  Grid *head = nullptr;                // h, updated in place, m
  const Grid *headOld = nullptr;       // h at the start of the sub-step, m
  Grid *headPrevIter = nullptr;        // h before the previous sweep (adaptive factor), m
  const Grid *tx = nullptr;            // interblock transmissivity towards the east, m²/s
  const Grid *ty = nullptr;            // towards the south, m²/s
  const Grid *storage = nullptr;       // storage coefficient of the layer
  const Grid *specificYield = nullptr; // storage coefficient of layer 1, used where unconfined
  const Grid *top = nullptr;           // top of the layer, m
  const Grid *leakageBelow = nullptr;  // from the layer below into this one, m/s
  const Grid *leakageAbove = nullptr;  // from this layer into the one above, m/s
  const Grid *fixedInflow = nullptr;   // fixed inflow, m/s; at or below no-data: none
  const Grid *cellSizeX = nullptr;     // cell widths, m (both or none)
  const Grid *cellSizeY = nullptr;
};

struct SweepSettings {
  double alpha = 1.0;    // time weight of the current heads
  double omega = 1.0;    // over-relaxation factor; at or below 0: adaptive per cell
  double dt = 1.0;       // sub-step length, s
  double cellSize = 1.0; // m, without cell-width grids
  double noData = -9999.0;
  long nRows = 0;
  long nCols = 0;
};

// The cells a sweep updates, rows first..last, columns 1..nCols.
class SweepCells {
public:
  SweepCells() = default;
  SweepCells(long firstRow, long lastRow, long nCols);
  void Clear();
  void Mark(long row, long column) { cells_[Offset(row, column)] = 1; }
  bool operator()(long row, long column) const { return cells_[Offset(row, column)] != 0; }
  long FirstRow() const { return firstRow_; }
  long LastRow() const { return lastRow_; }
  long NCols() const { return nCols_; }

private:
  std::size_t Offset(long row, long column) const {
    return static_cast<std::size_t>((row - firstRow_) * (nCols_ + 2) + column);
  }
  long firstRow_ = 1;
  long lastRow_ = 0;
  long nCols_ = 0;
  std::vector<std::uint8_t> cells_;
};

struct SweepResult {
  double maxChange = 0.0; // largest measured change of the sweep on this process, m
  double factorSum = 0.0; // adaptive factors used (fixed factor: none)
  long factorCount = 0;
};

// Per-row sums of the adaptive factors, added in row order so that the mean
// does not depend on the threads. Sized once, reused by every sweep.
struct SweepScratch {
  std::vector<double> rowFactorSum;
  std::vector<long> rowFactorCount;
  std::vector<std::pair<long, long>> blocks; // rows of each thread's block
};

// Updates the cells of one colour (0: row + column even) and returns what it
// measured.
SweepResult SweepColour(const SweepLayerGrids &grids, const SweepSettings &settings,
                        const SweepCells &cells, int colour, SweepScratch &scratch);

// Both colours; exchangeHead runs before each (the halo of the heads).
SweepResult RedBlackSweep(const SweepLayerGrids &grids, const SweepSettings &settings,
                          const SweepCells &cells, SweepScratch &scratch,
                          const std::function<void()> &exchangeHead = {});

} // namespace tavro
