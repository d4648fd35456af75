// Weights that blend the values given per region near the borders between
// regions: for every valid cell the weight of its own region and the codes
// and weights of up to two other regions within the transition band, found
// by scanning the disc of the band's radius around the cell. Pure work on
// whole-raster grids; the set-up object's members MakeRegionWeightGrids and
// GenerateRegionWeightGrids (region_weight_grids.cpp) drive it.
#pragma once

#include "kernel/one_based_array.h"
#include "raster/parallel/mpi_regions.h"

namespace tavro {

class Grid;

// At most this many weight levels, whatever the number of regions.
inline constexpr int kMaxRegionWeightLevels = 3;

// The transition distance in cells: distance / cellSize, where a distance of
// 0 or less counts as 0.01 (far less than a cell: no blending).
double TransitionCells(double distance, double cellSize);

// A region other than the cell's own found within the band: its code (0:
// none), the distance in cells (integer part) that ranks it, and the cell
// that distance was measured to.
struct RegionCandidate {
  double Region = 0.0;
  double Distance = 0.0;
  long Row = 0;
  long Column = 0;
};

// What the scan of the disc around a cell found: up to two other regions,
// and the distance in cells to the nearest cell of the region that first
// took the second place (Nearest2). Distances start at the band's width.
struct RegionNeighbours {
  RegionCandidate Second;
  RegionCandidate Third;
  double Nearest2 = 0.0;
};

// Scans the cells within transitionCells of (row, column) in row and column
// order; regions holds the region code of every cell of rows 1..nrows and the
// nodata value in invalid cells. levels (2 or 3) limits the regions kept.
RegionNeighbours ScanRegionDisc(const Grid &regions, const RasterShape &shape, long row,
                                long column, double transitionCells, int levels);

struct RegionWeights {
  double W1 = 1.0;
  double W2 = 0.0;
  double W3 = 0.0;
};

// Two regions: the own weight grows linearly from 0.5 at the border to 1 at
// transitionCells from it; the other region takes the rest.
RegionWeights TwoRegionWeights(double nearest, double transitionCells);

// Three regions: without a third region as with two (the own weight held in
// 0.5..1); with one, weights that fall with the distances to the two other
// regions' nearest cells, adding to 1.
RegionWeights ThreeRegionWeights(const RegionNeighbours &found, long row, long column,
                                 double transitionCells);

// The grids of the levels; a level is present when its grids are given
// (level 1: the weights; level 2 needs level 1, level 3 needs level 2).
struct RegionWeightGrids {
  Grid *Regions1 = nullptr; // "regression_regions", the cell's own region
  Grid *Weights1 = nullptr;
  Grid *Regions2 = nullptr;
  Grid *Weights2 = nullptr;
  Grid *Regions3 = nullptr;
  Grid *Weights3 = nullptr;

  int Levels() const;
};

// Whole raster (rows 1..nrows of every grid). Invalid cells (zone value not
// above nodata) get nodata in every grid; valid cells get their weights and,
// in the region grids of levels 2 and 3, the other regions' codes (0: none).
// Rows are spread over OpenMP threads.
void GenerateRegionWeights(const Grid &zone, const RasterShape &shape,
                           const OneBasedArray<RowColumnRange> &rowRanges, double transitionCells,
                           RegionWeightGrids &grids);

} // namespace tavro
