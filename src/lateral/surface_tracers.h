// What the surface routing module keeps for each tracer beside its
// TracerRecord: the soil's runoff tracer grids it takes its input from, the
// storage grid through which the surface water's tracer goes back to the
// soil, the copy of the concentrations at the start of a storage pass, and
// how the tracer's input is read and decays.
#pragma once

#include "kernel/grid.h"

namespace tavro {

struct SurfaceTracerGrids {
  Grid *direct = nullptr;    // "_CONC_QD_<t>_": an amount, or a concentration when evaporating
  Grid *interflow = nullptr; // "_CONC_QI_<t>_"
  Grid *silting = nullptr;   // "concstor_tracer_<t>_SiltingUpModel": c_t of the water left
  int siltingIndex = -1;     // registry entry when this module made it, else -1
  Grid siltingOwn;           // made here when the silting-up module has none
  Grid start;                // c_t at the start of a storage pass (strip and halo rows)
  bool evaporating = false;  // the soil's grids hold concentrations, not amounts
  double decay = 1.0;        // fraction left after one sub-step
};

} // namespace tavro
