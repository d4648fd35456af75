// A reservoir that is a lake: its cells' values copied between rank 0's
// whole-raster grids and the lake's own list of cells, on which the kernels
// of reservoirs/lake_water work.
#include "kernel/grid.h"
#include "routing/reservoir.h"

namespace tavro {
namespace {

// The values of the cells in one grid, into column[i] (or back).
void Load(const Grid *grid, const std::vector<std::pair<long, long>> &cells,
          std::vector<double> &column) {
  if (grid == nullptr || column.size() != cells.size())
    return;
  for (std::size_t i = 0; i < cells.size(); ++i)
    column[i] = (*grid)[cells[i].first][cells[i].second];
}

} // namespace

void SP_class::SetLakeCells(std::vector<std::pair<long, long>> cells,
                            std::vector<double> elevations, double cellArea) {
  lakeCells_ = std::move(cells);
  cellArea_ = cellArea;
  lakeValues_.Resize(lakeCells_.size(), static_cast<int>(tracerNames_.size()));
  lakeValues_.elevation = std::move(elevations);
  lakeValues_.elevation.resize(lakeCells_.size(), 0.0);
}

void SP_class::LoadLakeCells(const LakeGrids &grids) {
  LakeCellValues &v = lakeValues_;
  // The water the lake left on its cells, before the soil's step changed it.
  v.pondingBefore = v.ponding;
  Load(grids.ponding, lakeCells_, v.ponding);
  Load(grids.evaporation, lakeCells_, v.pondEvaporation);
  Load(grids.exchange, lakeCells_, v.pondExchange);
  Load(grids.overflow, lakeCells_, v.pondOverflow);
  Load(grids.precipitation, lakeCells_, v.precipitation);
  const auto n = static_cast<std::size_t>(v.tracerCount);
  for (std::size_t k = 0; k < n && k < grids.tracers.size(); ++k) {
    const Grid *grid = grids.tracers[k];
    if (grid == nullptr)
      continue;
    for (std::size_t i = 0; i < lakeCells_.size(); ++i)
      v.tracers[i * n + k] = (*grid)[lakeCells_[i].first][lakeCells_[i].second];
  }
}

void SP_class::StoreLakeCells(LakeGrids &grids) const {
  const LakeCellValues &v = lakeValues_;
  const auto n = static_cast<std::size_t>(v.tracerCount);
  for (std::size_t i = 0; i < lakeCells_.size(); ++i) {
    const auto [r, c] = lakeCells_[i];
    if (grids.ponding != nullptr)
      (*grids.ponding)[r][c] = v.ponding[i];
    for (std::size_t k = 0; k < n && k < grids.tracers.size(); ++k)
      if (grids.tracers[k] != nullptr)
        (*grids.tracers[k])[r][c] = v.tracers[i * n + k];
  }
}

void SP_class::StartLake(bool fromCells) {
  if (!IsLake())
    return;
  if (fromCells)
    LakeStateFromCells(*lake_, lakeValues_, state);
  else
    SpreadOverCells();
  previousState = state;
}

LakeExchange SP_class::TakeWaterFromCells() {
  LakeExchange exchange;
  const LakeCellTerms terms = SumLakeCellTerms(lakeValues_, cellArea_);
  exchange.groundwater = terms.groundwater;
  exchange.evaporation = terms.evaporation;
  exchange.precipitation = terms.precipitation;
  exchange.overflow = terms.overflow;
  exchange.concentrations.assign(state.size(), 0.0);
  GatherLakeWater(lakeValues_, cellArea_, exchange.concentrations);
  exchange.volume = exchange.concentrations[0];
  exchange.concentrations[0] = 0.0;
  DistributeLevel(*lake_, exchange.volume,
                  std::span<const double>(exchange.concentrations).subspan(1), lakeValues_);
  exchange.wetArea = cellArea_ * WetCellCount(lakeValues_);
  return exchange;
}

double SP_class::SpreadOverCells() {
  return DistributeLevel(*lake_, state[0], std::span<const double>(state).subspan(1), lakeValues_);
}

} // namespace tavro
