// Lake water on its cells: step terms, gathering and spreading by level.
#include "routing/reservoirs/lake_water.h"

namespace tavro {

void LakeCellValues::Resize(std::size_t cells, int n) {
  elevation.assign(cells, 0.0);
  ponding.assign(cells, 0.0);
  pondingBefore.assign(cells, 0.0);
  pondEvaporation.assign(cells, 0.0);
  pondExchange.assign(cells, 0.0);
  pondOverflow.assign(cells, 0.0);
  precipitation.assign(cells, 0.0);
  tracers.assign(cells * static_cast<std::size_t>(n), 0.0);
  tracerCount = n;
}

LakeCellTerms SumLakeCellTerms(const LakeCellValues &cells, double cellArea) {
  LakeCellTerms terms;
  const double m3 = cellArea / 1000.0;
  for (std::size_t i = 0; i < cells.Count(); ++i) {
    if (!(cells.ponding[i] > 0.0) && !(cells.pondingBefore[i] > 0.0))
      continue;
    terms.evaporation += cells.pondEvaporation[i] * m3;
    terms.groundwater += cells.pondExchange[i] * m3;
    terms.overflow += cells.pondOverflow[i] * m3;
    terms.precipitation += cells.precipitation[i] * m3;
  }
  return terms;
}

void GatherLakeWater(const LakeCellValues &cells, double cellArea, std::span<double> water) {
  for (double &w : water)
    w = 0.0;
  const auto n = static_cast<std::size_t>(cells.tracerCount);
  for (std::size_t i = 0; i < cells.Count(); ++i) {
    if (!(cells.ponding[i] > 0.0))
      continue;
    const double v = cells.ponding[i] / 1000.0 * cellArea;
    water[0] += v;
    for (std::size_t k = 1; k <= n && k < water.size(); ++k)
      water[k] += v * cells.tracers[i * n + k - 1];
  }
  for (std::size_t k = 1; k < water.size(); ++k)
    water[k] = water[0] > 0.0 ? water[k] / water[0] : 0.0;
}

double DistributeLevel(const LakeTable &table, double volume,
                       std::span<const double> concentrations, LakeCellValues &cells) {
  const double level = LevelFromVolume(table, volume);
  const auto n = static_cast<std::size_t>(cells.tracerCount);
  for (std::size_t i = 0; i < cells.Count(); ++i) {
    const bool below = cells.elevation[i] < level;
    cells.ponding[i] = below ? (level - cells.elevation[i]) * 1000.0 : 0.0;
    for (std::size_t k = 0; k < n; ++k)
      cells.tracers[i * n + k] = below && k < concentrations.size() ? concentrations[k] : 0.0;
  }
  return level;
}

int WetCellCount(const LakeCellValues &cells) {
  int wet = 0;
  for (const double p : cells.ponding)
    wet += p > 0.0 ? 1 : 0;
  return wet;
}

void LakeStateFromCells(const LakeTable &table, const LakeCellValues &cells,
                        std::span<double> state) {
  for (double &s : state)
    s = 0.0;
  const auto n = static_cast<std::size_t>(cells.tracerCount);
  for (std::size_t i = 0; i < cells.Count(); ++i) {
    if (!(cells.ponding[i] > 0.0))
      continue;
    state[0] = VolumeFromLevel(table, cells.ponding[i] / 1000.0 + cells.elevation[i]);
    for (std::size_t k = 1; k <= n && k < state.size(); ++k)
      state[k] = cells.tracers[i * n + k - 1];
    return;
  }
}

} // namespace tavro
