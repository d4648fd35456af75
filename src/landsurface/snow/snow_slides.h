// Snow slides: once per step, on every cell steep enough, a fixed share of
// the snow pack starts to move, travels to the neighbours of the same zone by
// four directional shares, is deposited there up to each cell's deposition
// capacity, and the rest travels on. Cells are visited from the highest to the
// lowest, so mass runs downhill within one pass; mass that reaches a cell
// already visited stays there. What leaves the packs returns to the packs.
//
// Works on whole-raster grids (rows 1..nrows, columns 1..ncols) in a fixed
// order; the caller gathers them on one process before and scatters them after.
#pragma once

#include "kernel/grid.h"

#include <array>

namespace tavro::snow {

// maxDepositionFactor x (1 - slope / maxDepositionSlope) where the slope (°)
// is below maxDepositionSlope, else 0: never negative, never a division by 0.
double DepositionCapacity(double slope, double maxDepositionSlope, double maxDepositionFactor);

struct RasterExtent {
  long Rows = 0;
  long Columns = 0;
  double NoData = -9999.0;
};

// "max_deposition": the capacity of every zone cell, nodata outside the zone.
void BuildDepositionCapacity(const RasterExtent &extent, const Grid &zone, const Grid &slope,
                             double maxDepositionSlope, double maxDepositionFactor, Grid &capacity);

// "elev_order_row" and "elev_order_col": at the n-th zone cell in row-major
// order, the row and column of the n-th cell from the highest down; among
// equal elevations the cell later in row-major order comes first. Nodata
// outside the zone.
void BuildElevationOrder(const RasterExtent &extent, const Grid &zone, const Grid &elevation,
                         Grid &orderRow, Grid &orderColumn);

struct SlideParameters {
  double MinSlideSlope = 30.0;     // degrees
  double SlideMassFraction = 0.01; // share of the pack set in motion
};

// One snow pack over the whole raster (water in mm over the pack's own area).
struct PackGrids {
  Grid *Total = nullptr;
  Grid *Liquid = nullptr;
  Grid *Solid = nullptr;
};

struct SlideGrids {
  const Grid *Zone = nullptr;  // cells with nodata take no part; slides stay in one zone value
  const Grid *Slope = nullptr; // degrees
  // Shares towards the neighbour at row - 1, column - 1, column + 1 and row + 1.
  std::array<const Grid *, 4> Shares{};
  const Grid *MaxDeposition = nullptr;
  const Grid *OrderRow = nullptr;
  const Grid *OrderColumn = nullptr;
  Grid *InputMass = nullptr;  // set in motion at the cell this step
  Grid *MobileMass = nullptr; // still in motion at the cell
  Grid *Deposition = nullptr; // deposited at the cell this step
  PackGrids Pack;             // the cell's own pack
  // With dynamic glaciers: the glacierized share of each cell and the pack
  // on the glacier. Without them every cell is free of glacier.
  const Grid *GlacierFraction = nullptr;
  PackGrids GlacierPack;
};

// The slides of one step over the whole raster.
void SlideSnow(const RasterExtent &extent, const SlideParameters &parameters,
               const SlideGrids &grids);

} // namespace tavro::snow
