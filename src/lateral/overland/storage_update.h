// The water balance of a cell over an inner step: the limiter that keeps a
// cell from releasing more than it holds, and the update of its surface
// storage and tracer concentrations from its inflow and outflow.
#pragma once

#include "lateral/overland/directions.h"

#include <span>

namespace tavro::overland {

// Factor on the positive fluxes so that their volume over the step does not
// exceed the storage: min(1, S dx^2 / 1000 / (dt sum F)).
double OutflowLimit(double storageMm, double cellSize, double step, const PerDirection &fluxes);

// Scales every positive flux (level 0 included) by factor.
void ScaleOutflow(PerDirection &fluxes, double factor);

struct CellBalance {
  double Storage = 0.0; // S after the step, mm
  double Inflow = 0.0;  // QIn, mm over the cell
  double Outflow = 0.0; // QOut, mm over the cell (cut to the water there was)
};

// inflow, outflow: volumes of the step, m3. concentrations: the cell's c_t
// at the start of the pass (in) and after the step (out); tracerInflow the
// mass inflow M_t (concentration x m3 x 1000).
CellBalance UpdateCellStorage(double storageMm, double inflow, double outflow, double cellSize,
                              std::span<const double> startConcentration,
                              std::span<const double> tracerInflow,
                              std::span<double> concentration);

} // namespace tavro::overland
