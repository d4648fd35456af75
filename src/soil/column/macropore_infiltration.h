// Macropore infiltration: the part of an intense water input above the
// soil's threshold that bypasses the matrix through macropores and fills
// the layers above the macropore depth from the deepest one upward.
#pragma once

#include "soil/column/column_state.h"

namespace tavro {

// With the surface input rate q (m/s, lowered by what the macropores take)
// and the internal step t_ms (ms): fills theta of the layers whose centre
// lies above MacroDepth, never beyond theta_s; per-layer capacity and inflow
// (m/s) go to macropore_capacity and macropore_inflow. Returns the
// macropore infiltration of the step (mm).
double MacroporeInfiltration(const ColumnGeometry &geometry, ColumnState &state, double &q,
                             double t_ms);

} // namespace tavro
