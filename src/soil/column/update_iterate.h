// The iterate update of a soil column: the water contents from the balanced
// fluxes, the relaxed iterate that the next heads and conductivities use,
// and the largest change, which the iteration compares with its tolerance.
#pragma once

#include "soil/column/column_state.h"

namespace tavro {

// For layers 1..active depth (max(g, s)): theta from the fluxes; theta_iter
// the mean of the old and new iterate for iteration <= 3, later a running
// mean of the iterates. Returns the largest change of water content (0 when
// no layer is active).
double UpdateIterate(const ColumnGeometry &geometry, ColumnState &state, int iteration,
                     int startLayer, double dt);

} // namespace tavro
