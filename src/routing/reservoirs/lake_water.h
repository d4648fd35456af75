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
struct LakeCellValues {
  std::vector<double> elevation;     // m
  std::vector<double> ponding;       // mm
  std::vector<double> evaporation;   // mm per step
  std::vector<double> downwardFlux;  // m/s, empty when the soil gives none
  std::vector<double> baseflow;      // m/s, empty when the soil gives none
  std::vector<double> precipitation; // mm per step
  std::vector<double> tracers;       // concentrations of the ponded water
  int tracerCount = 0;

  std::size_t Count() const { return elevation.size(); }
  // Sizes every column for `cells` cells and n tracers (the fluxes of the
  // groundwater only when the soil gives them).
  void Resize(std::size_t cells, int n, bool groundwater);
};

// What the wet cells (ponding above 0) exchanged in a step of `seconds`, m3.
struct LakeCellTerms {
  double groundwater = 0.0; // into the lake
  double evaporation = 0.0;
  double precipitation = 0.0;
};

// Flux below a cell that counts as none (m/s): the baseflow stands for it.
inline constexpr double kLakeFluxThreshold = 1e-10;

LakeCellTerms SumLakeCellTerms(const LakeCellValues &cells, double cellArea, double seconds);

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
