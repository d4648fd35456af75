// Shares of a cell's eight directions in its outflow: split around the
// aspect for interior cells, by the drops to the neighbours otherwise.
#pragma once

#include "lateral/overland/directions.h"

namespace tavro::overland {

struct OutflowState {
  PerDirection Weights{};   // [1..8] shares; [0] directions unchanged by at most 0.01
  int MainDirection = 0;    // 1..8, 0 = none
  double WaterSurface = 0.; // z + S / 1000, m
};

// Updates state for one inner step (innerStep 0 = the first of a sub-step).
// River cells and unknown cases keep their state; an interior cell whose
// aspect split points only uphill becomes an edge cell (slopeCase 3).
void DistributeOutflow(const Neighbourhood &n, int method, int &slopeCase, int innerStep,
                       double slope, double aspect, OutflowState &state);

} // namespace tavro::overland
