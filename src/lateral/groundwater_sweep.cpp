// One red-black Gauss-Seidel sweep of an aquifer layer.
#include "lateral/groundwater_sweep.h"

#include "lateral/groundwater/cell_update.h"

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
  v.dx = RowOf(g.cellSizeX, r);
  v.dy = RowOf(g.cellSizeY, r);
  return v;
}

} // namespace

SweepResult SweepColour(const SweepLayerGrids &g, const SweepSettings &s, const SweepCells &cells,
                        int colour, SweepScratch &scratch) {
  const long first = cells.FirstRow();
  const long last = cells.LastRow();
  const long nCols = s.nCols;
  const bool adaptive = s.omega <= 0.0;
  const std::size_t rows = static_cast<std::size_t>(std::max(0L, last - first + 1));
  if (adaptive && scratch.rowFactorSum.size() < rows) {
    scratch.rowFactorSum.assign(rows, 0.0);
    scratch.rowFactorCount.assign(rows, 0);
  }
  const double alpha = s.alpha;
  const double dt = s.dt;
  double maxChange = 0.0;
#pragma omp parallel for schedule(runtime) reduction(max : maxChange)
  for (long r = first; r <= last; ++r) {
    const RowView v = ViewOf(g, r, s.nRows);
    double factorSum = 0.0;
    long factorCount = 0;
    for (long c = 1 + ((r + 1 + colour) & 1); c <= nCols; c += 2) {
      if (!cells(r, c))
        continue;
      const double h0 = v.h[c];
      const double hOld = v.hOld[c];
      const double dx = v.dx != nullptr ? v.dx[c] : s.cellSize;
      const double dy = v.dy != nullptr ? v.dy[c] : s.cellSize;
      Neighbourhood n;
      n.hN = v.hNorth != nullptr ? WeightedHead(alpha, v.hOldNorth[c], v.hNorth[c]) : h0;
      n.hS = v.hSouth != nullptr ? WeightedHead(alpha, v.hOldSouth[c], v.hSouth[c]) : h0;
      n.hW = c > 1 ? WeightedHead(alpha, v.hOld[c - 1], v.h[c - 1]) : h0;
      n.hE = c < nCols ? WeightedHead(alpha, v.hOld[c + 1], v.h[c + 1]) : h0;
      n.cN = v.tyNorth != nullptr ? dx / dy * v.tyNorth[c] : 0.0;
      n.cS = dx / dy * v.ty[c];
      n.cE = dy / dx * v.tx[c];
      n.cW = c > 1 ? dy / dx * v.tx[c - 1] : 0.0;
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
      cell.area = dx * dy;
      double h = UpdatedHead(n, cell, alpha, dt);
      maxChange = std::max(maxChange, MeasuredChange(h, h0, top, hOld));
      if (adaptive) {
        const double omega = AdaptiveFactor(h, h0, v.hPrevIter[c]);
        h = Relaxed(h, h0, omega);
        v.hPrevIter[c] = h0;
        factorSum += omega;
        ++factorCount;
      } else if (s.omega != 1.0) {
        h = Relaxed(h, h0, s.omega);
      }
      v.h[c] = h;
    }
    if (adaptive) {
      scratch.rowFactorSum[static_cast<std::size_t>(r - first)] = factorSum;
      scratch.rowFactorCount[static_cast<std::size_t>(r - first)] = factorCount;
    }
  }
  SweepResult result;
  result.maxChange = maxChange;
  if (adaptive)
    for (std::size_t i = 0; i < rows; ++i) {
      result.factorSum += scratch.rowFactorSum[i];
      result.factorCount += scratch.rowFactorCount[i];
    }
  return result;
}

SweepResult RedBlackSweep(const SweepLayerGrids &grids, const SweepSettings &settings,
                          const SweepCells &cells, SweepScratch &scratch,
                          const std::function<void()> &exchangeHead) {
  SweepResult total;
  for (int colour = 0; colour < 2; ++colour) {
    if (exchangeHead)
      exchangeHead();
    const SweepResult part = SweepColour(grids, settings, cells, colour, scratch);
    total.maxChange = std::max(total.maxChange, part.maxChange);
    total.factorSum += part.factorSum;
    total.factorCount += part.factorCount;
  }
  return total;
}

} // namespace tavro
