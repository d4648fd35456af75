// Groundwater recharge of one soil column in one internal step: the water
// that crossed the groundwater table, from the movement of the table, the
// change of storage in the layers it passed and the outflows at the bottom
// of the column (baseflow, supply, river exchange). Negative: capillary rise.
#pragma once

#include "soil/column/column_state.h"

namespace tavro {

struct RechargeInputs {
  int oldLayer = 1;           // groundwater layer at the start of the internal step
  int newLayer = 1;           // groundwater layer now
  double oldTable = 0.0;      // table height at the start, m
  double newTable = 0.0;      // table height now, m
  double baseflowRate = 0.0;  // qb, m/s (negative: supply from below)
  double dt = 0.0;            // s
  double t_ms = 0.0;          // ms
  bool externalTable = false; // an external groundwater table is applied
  bool groundwaterCoupled = false;
};

// The recharge of the step (mm). Reads theta, theta_old, supply, flux and
// the exchange sums of the state.
double ComputeGroundwaterRecharge(const ColumnGeometry &geometry, const ColumnState &state,
                                  const RechargeInputs &in);

} // namespace tavro
