// The water of a lake on its cells: what the cells exchanged in a step (rain
// on the lake, evaporation, groundwater below), the water ponded on them
// gathered into one volume with its mean concentrations, and a volume spread
// back over the cells with one level. Plain values in and out: the cells are
// listed in a fixed order (row by row), so every sum is the same whichever
// process held the cells.
#pragma once

#include "routing/reservoirs/lake_table.h"

#include <span>
#include <vector>

namespace tavro {

// The values of a lake's cells, cell i at index i (tracers at i * n + k - 1).
// The pond terms are the soil's own of the step: what the water on the cell
// lost to evaporation, exchanged with the soil and the surface around it,
// and spilled over its largest depth.
struct LakeCellValues {
  std::vector<double> elevation;       // m
  std::vector<double> ponding;         // mm
  std::vector<double> pondingBefore;   // mm, as the lake left it the step before
  std::vector<double> pondEvaporation; // mm per step
  std::vector<double> pondExchange;    // mm per step, into the pond
  std::vector<double> pondOverflow;    // mm per step
  std::vector<double> precipitation;   // mm per step
  std::vector<double> tracers;         // concentrations of the ponded water
  int tracerCount = 0;

  std::size_t Count() const { return elevation.size(); }
  // Sizes every column for `cells` cells and n tracers.
  void Resize(std::size_t cells, int n);
};

// What the cells' ponds exchanged in a step, m3: the sums over the cells wet
// at its start or at its end (a cell dry at both gained as much as it lost).
struct LakeCellTerms {
  double groundwater = 0.0; // into the lake from the soil below and around it
  double evaporation = 0.0;
  double precipitation = 0.0;
  double overflow = 0.0; // spilled as the cells' direct runoff
};

LakeCellTerms SumLakeCellTerms(const LakeCellValues &cells, double cellArea);

// water[0]: the ponded volume (m3), water[k]: its volume-weighted mean
// concentration (0 without water).
void GatherLakeWater(const LakeCellValues &cells, double cellArea, std::span<double> water);

// Spreads `volume` over the cells with the one level the table gives for it:
// a cell below the level holds the depth above it (mm) and the lake's
// concentrations[k - 1]; the others hold nothing. Returns the level (m).
double DistributeLevel(const LakeTable &table, double volume,
                       std::span<const double> concentrations, LakeCellValues &cells);

// Cells with ponded water.
int WetCellCount(const LakeCellValues &cells);

// The lake's start from its cells: the first wet cell (in the cells' order)
// gives the level, hence the volume, and the concentrations; no wet cell
// gives an empty lake. state[0] m3, state[k] concentrations.
void LakeStateFromCells(const LakeTable &table, const LakeCellValues &cells,
                        std::span<double> state);

} // namespace tavro
