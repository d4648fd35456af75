// Mixing of a dissolved tracer in an aquifer cell over a sub-step: the water
// it held and every inflow volume, each carrying the concentration of the
// cell it came from (an outflow carries the cell's own). Pure function.
//
// Units: volumes in m³, concentrations in the tracer's own unit.
#pragma once

#include "lateral/groundwater/flow_balance.h"

namespace tavro::groundwater {

// The new concentration (c V + sum c_i Q_i) / (V + sum Q_i), or 0 when all
// the water left the cell (the total is not above 0). total receives
// V + sum Q_i.
double MixedConcentration(double c, double volume, const CellInflows &inflows,
                          const CellInflows &concentrations, double &total);

// Concentration of a radioactive tracer after dtDays of decay with half-life
// halfLifeDays: the factor exp(-dt / (1.442695041111 half-life)).
double DecayFactor(double dtDays, double halfLifeDays);

} // namespace tavro::groundwater
