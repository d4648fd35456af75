// The layer balance of a soil column: each layer's water content from its
// fluxes, and the fluxes corrected so that no layer rises above saturation
// or falls below its residual water content where a neighbouring flux, the
// interflow or the exchange with a river can take the surplus or the
// deficit.
#pragma once

#include "soil/column/column_state.h"

namespace tavro {

// Which exchange flows the balance may correct.
struct BalanceOptions {
  bool groundwaterCoupled = false;
  int surfaceInteraction = 0; // 0 none, 1 exfiltration only, 2 both
};

// Water content of layer k after dt from theta_old and the fluxes.
double BalancedTheta(const ColumnGeometry &geometry, const ColumnState &state, int k, double dt);

// Sweeps from the active depth (max(g + 3, s)) up to layer 1, at most
// maxSweeps times while a sweep corrects a layer. Sets theta_new of the
// swept layers, consistent with the corrected fluxes.
void BalanceLayers(const ColumnGeometry &geometry, ColumnState &state, int startLayer, double dt,
                   const BalanceOptions &options, int maxSweeps = 10);

} // namespace tavro
