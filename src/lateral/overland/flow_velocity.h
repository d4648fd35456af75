// Velocities and fluxes of a cell towards its eight neighbours by the
// Manning-Strickler law v = k y^0.66667 s^0.5, with the flow depth from the
// volume the cell can release per longest inner step, rills where the shear
// stress exceeds the soil's critical value, and a bound on the cell's total.
#pragma once

#include "lateral/overland/directions.h"
#include "lateral/overland/flow_resistance.h"
#include "lateral/overland/outflow_weights.h"

namespace tavro::overland {

struct VelocitySettings {
  int Method = 1;                // FlowPathMethod 1..5
  double MaxErrorVelocity = 0.0; // m/s
  int MaxIterVelocity = 1;
  double MinSubTimeStep = 0.0; // s
  double MaxSubTimeStep = 0.0; // s
  double ConcentrationFactor = 1.0;
  ResistanceSettings Resistance;
};

struct CellFlow {
  PerDirection Velocity{}; // [1..8] m/s
  PerDirection Flux{};     // [1..8] m3/s; [0] towards the main direction (or the sum)
};

// Whether a cell keeps the velocities and fluxes of its last computation:
// its weights did not change, and it is neither the first inner step, the
// recompute step nor method 5.
bool KeepsLastFlow(const OutflowState &outflow, const VelocitySettings &settings, int innerStep,
                   int recomputeStep);

// Level 0 of the fluxes of a cell with a main direction: its flux there.
inline void SetMainDirectionFlux(int mainDirection, double *flux) {
  if (mainDirection != 0)
    flux[0] = flux[mainDirection];
}

// innerStep i and recomputeStep N of the sub-step driver; a cell whose
// weights did not change keeps its velocities and fluxes except at i = 0,
// i = N and with method 5.
void FlowVelocity(const Neighbourhood &n, const VelocitySettings &settings,
                  const LandUseResistance &landUse, double criticalShearStress, int slopeCase,
                  const OutflowState &outflow, int innerStep, int recomputeStep, CellFlow &flow);

} // namespace tavro::overland
