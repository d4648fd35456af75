// The stable inner time step of overland flow: no water may cross more than
// one cell per inner step.
#pragma once

#include "lateral/overland/directions.h"

namespace tavro::overland {

constexpr double kNoStepLimit = 1e36; // s, when no cell limits the step

// cellSize / v_d over the directions with a weight above 1e-4 and a velocity
// above 1e-5 m/s (the cell size for diagonals too); kNoStepLimit without.
double CellStepLimit(const PerDirection &weights, const PerDirection &velocities, double cellSize);

struct InnerSteps {
  double Length = 0.0; // s
  int Foreseen = 0;    // int(T_s / length) + 1
};

// The inner step for a sub-step of substepLength seconds from the smallest
// cell limit, as an integer fraction of the sub-step within [min, max].
InnerSteps StableInnerStep(double substepLength, double minimum, double minStep, double maxStep);

// How many inner steps the driver runs: elapsed grows by the step while it
// stays below T_s - 0.5 min; none when T_s <= 0.5 min.
int InnerStepCount(double substepLength, double step, double minStep);

} // namespace tavro::overland
