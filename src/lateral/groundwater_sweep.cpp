// One red-black Gauss-Seidel sweep of an aquifer layer.
#include "lateral/groundwater_sweep.h"

#include "lateral/groundwater/cell_update.h"

#include <omp.h>

#include <algorithm>
#include <cmath>

namespace tavro {

using namespace groundwater;

SweepCells::SweepCells(long firstRow, long lastRow, long nCols)
    : firstRow_(firstRow), lastRow_(lastRow), nCols_(nCols),
      cells_(static_cast<std::size_t>(std::max(0L, lastRow - firstRow + 1) * (nCols + 2)), 0) {}

void SweepCells::Clear() { std::fill(cells_.begin(), cells_.end(), std::uint8_t{0}); }

namespace {

const double *RowOf(const Grid *grid, long row) { return grid == nullptr ? nullptr : (*grid)[row]; }

// The rows one cell update reads, fetched once per row.
struct RowView {
  double *h;
  const double *hOld, *hNorth, *hSouth, *hOldNorth, *hOldSouth;
  double *hPrevIter;
  const double *tx, *ty, *tyNorth;
  const double *storage, *specificYield, *top;
  const double *leakBelow, *leakAbove, *inflow, *dx, *dy;
};

RowView ViewOf(const SweepLayerGrids &g, long r, long nRows) {
  RowView v{};
  v.h = (*g.head)[r];
  v.hOld = (*g.headOld)[r];
  v.hNorth = r > 1 ? (*g.head)[r - 1] : nullptr;
  v.hSouth = r < nRows ? (*g.head)[r + 1] : nullptr;
  v.hOldNorth = r > 1 ? (*g.headOld)[r - 1] : nullptr;
  v.hOldSouth = r < nRows ? (*g.headOld)[r + 1] : nullptr;
  v.hPrevIter = g.headPrevIter != nullptr ? (*g.headPrevIter)[r] : nullptr;
  v.tx = (*g.tx)[r];
  v.ty = (*g.ty)[r];
  v.tyNorth = r > 1 ? (*g.ty)[r - 1] : nullptr;
  v.storage = (*g.storage)[r];
  v.specificYield = RowOf(g.specificYield, r);
  v.top = (*g.top)[r];
  v.leakBelow = RowOf(g.leakageBelow, r);
  v.leakAbove = RowOf(g.leakageAbove, r);
  v.inflow = RowOf(g.fixedInflow, r);
  // Cell widths from grids only when both are given.
  if (g.cellSizeX != nullptr && g.cellSizeY != nullptr) {
    v.dx = (*g.cellSizeX)[r];
    v.dy = (*g.cellSizeY)[r];
  }
  return v;
}

} // namespace

namespace {

// The measures of one row's cells of one colour.
struct RowResult {
  double maxChange = 0.0;
  double factorSum = 0.0;
  long factorCount = 0;
};

// Updates the cells of one colour (0: row + column even) in row r.
RowResult SweepRow(const SweepLayerGrids &g, const SweepSettings &s, const SweepCells &cells,
                   long r, int colour) {
  const RowView v = ViewOf(g, r, s.nRows);
  const long nCols = s.nCols;
  const bool adaptive = s.omega <= 0.0;
  const double alpha = s.alpha;
  const double dt = s.dt;
  RowResult result;
  for (long c = 1 + ((r + 1 + colour) & 1); c <= nCols; c += 2) {
    if (!cells(r, c))
      continue;
    const double h0 = v.h[c];
    const double hOld = v.hOld[c];
    double ratioXY = 1.0, ratioYX = 1.0, area = s.cellSize * s.cellSize;
    if (v.dx != nullptr) {
      ratioXY = v.dx[c] / v.dy[c];
      ratioYX = v.dy[c] / v.dx[c];
      area = v.dx[c] * v.dy[c];
    }
    Neighbourhood n;
    n.hN = v.hNorth != nullptr ? WeightedHead(alpha, v.hOldNorth[c], v.hNorth[c]) : h0;
    n.hS = v.hSouth != nullptr ? WeightedHead(alpha, v.hOldSouth[c], v.hSouth[c]) : h0;
    n.hW = c > 1 ? WeightedHead(alpha, v.hOld[c - 1], v.h[c - 1]) : h0;
    n.hE = c < nCols ? WeightedHead(alpha, v.hOld[c + 1], v.h[c + 1]) : h0;
    n.cN = v.tyNorth != nullptr ? ratioXY * v.tyNorth[c] : 0.0;
    n.cS = ratioXY * v.ty[c];
    n.cE = ratioYX * v.tx[c];
    n.cW = c > 1 ? ratioYX * v.tx[c - 1] : 0.0;
    const double top = v.top[c];
    CellState cell;
    cell.hOld = hOld;
    cell.storage = (hOld < top && v.specificYield != nullptr) ? v.specificYield[c] : v.storage[c];
    cell.source = 0.0;
    if (v.leakBelow != nullptr)
      cell.source += v.leakBelow[c];
    if (v.leakAbove != nullptr)
      cell.source -= v.leakAbove[c];
    if (v.inflow != nullptr && v.inflow[c] > s.noData)
      cell.source += v.inflow[c];
    cell.area = area;
    double h = UpdatedHead(n, cell, alpha, dt);
    result.maxChange = std::max(result.maxChange, MeasuredChange(h, h0, top, hOld));
    if (adaptive) {
      const double omega = AdaptiveFactor(h, h0, v.hPrevIter[c]);
      h = Relaxed(h, h0, omega);
      v.hPrevIter[c] = h0;
      result.factorSum += omega;
      ++result.factorCount;
    } else if (s.omega != 1.0) {
      h = Relaxed(h, h0, s.omega);
    }
    v.h[c] = h;
  }
  return result;
}

// Per-row sums of the adaptive factors, added in row order afterwards so
// that the mean does not depend on the threads.
void Keep(SweepScratch &scratch, long index, const RowResult &row) {
  scratch.rowFactorSum[static_cast<std::size_t>(index)] += row.factorSum;
  scratch.rowFactorCount[static_cast<std::size_t>(index)] += row.factorCount;
}

SweepResult Collect(const SweepScratch &scratch, std::size_t rows, double maxChange) {
  SweepResult result;
  result.maxChange = maxChange;
  for (std::size_t i = 0; i < rows; ++i) {
    result.factorSum += scratch.rowFactorSum[i];
    result.factorCount += scratch.rowFactorCount[i];
  }
  return result;
}

std::size_t PrepareScratch(SweepScratch &scratch, const SweepCells &cells) {
  const std::size_t rows =
      static_cast<std::size_t>(std::max(0L, cells.LastRow() - cells.FirstRow() + 1));
  scratch.rowFactorSum.assign(rows, 0.0);
  scratch.rowFactorCount.assign(rows, 0);
  return rows;
}

} // namespace

SweepResult SweepColour(const SweepLayerGrids &g, const SweepSettings &s, const SweepCells &cells,
                        int colour, SweepScratch &scratch) {
  const long first = cells.FirstRow();
  const long last = cells.LastRow();
  const std::size_t rows = PrepareScratch(scratch, cells);
  double maxChange = 0.0;
#pragma omp parallel for schedule(runtime) reduction(max : maxChange)
  for (long r = first; r <= last; ++r) {
    const RowResult row = SweepRow(g, s, cells, r, colour);
    maxChange = std::max(maxChange, row.maxChange);
    Keep(scratch, r - first, row);
  }
  return Collect(scratch, rows, maxChange);
}

SweepResult RedBlackSweep(const SweepLayerGrids &grids, const SweepSettings &settings,
                          const SweepCells &cells, SweepScratch &scratch,
                          const std::function<void()> &exchangeHead) {
  // Both colours in one pass over memory: each thread takes a block of rows
  // and updates the second colour of a row as soon as the first colour of
  // the rows on either side is done. The second colour of the two first and
  // two last rows of a block needs the first colour of a neighbouring block,
  // or of another process in a row the strips share, so it waits for the end
  // of the pass and the halo exchange. Every cell sees the same values as in
  // two separate colour passes.
  const long first = cells.FirstRow();
  const long last = cells.LastRow();
  const std::size_t rows = PrepareScratch(scratch, cells);
  if (exchangeHead)
    exchangeHead();
  const long count = last - first + 1;
  if (count < 1) {
    if (exchangeHead)
      exchangeHead();
    return {};
  }
  const long parts = std::min<long>(omp_get_max_threads(), count);
  std::vector<std::pair<long, long>> &blocks = scratch.blocks;
  blocks.resize(static_cast<std::size_t>(parts));
  for (long t = 0; t < parts; ++t)
    blocks[static_cast<std::size_t>(t)] = {first + count * t / parts,
                                           first + count * (t + 1) / parts - 1};
  double maxChange = 0.0;
  auto sweep = [&](long r, int colour) {
    const RowResult row = SweepRow(grids, settings, cells, r, colour);
    Keep(scratch, r - first, row);
    return row.maxChange;
  };
#pragma omp parallel for schedule(static, 1) reduction(max : maxChange)
  for (long t = 0; t < parts; ++t) {
    const auto [a, b] = blocks[static_cast<std::size_t>(t)];
    for (long r = a; r <= b; ++r) {
      maxChange = std::max(maxChange, sweep(r, 0));
      if (r - 1 >= a + 2 && r - 1 <= b - 2)
        maxChange = std::max(maxChange, sweep(r - 1, 1));
    }
  }
  if (exchangeHead)
    exchangeHead();
#pragma omp parallel for schedule(static, 1) reduction(max : maxChange)
  for (long t = 0; t < parts; ++t) {
    const auto [a, b] = blocks[static_cast<std::size_t>(t)];
    for (long r = a; r <= b; ++r) {
      if (r >= a + 2 && r <= b - 2)
        r = b - 1; // done in the pass
      maxChange = std::max(maxChange, sweep(r, 1));
    }
  }
  return Collect(scratch, rows, maxChange);
}

} // namespace tavro
