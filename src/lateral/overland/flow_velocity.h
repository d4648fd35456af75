// Velocities and fluxes of a cell towards its eight neighbours by the
// Manning-Strickler law v = k y^0.66667 s^0.5, with the flow depth from the
// volume the cell can release per longest inner step, rills where the shear
// stress exceeds the soil's critical value, and a bound on the cell's total.
#pragma once

#include "lateral/overland/directions.h"
#include "lateral/overland/flow_resistance.h"
#include "lateral/overland/outflow_weights.h"

#include <atomic>
#include <functional>

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

// Called per direction of a velocity computation while a floating-point
// error is pending, so that it is reported with its context: the direction,
// its weight W_d, velocity v_d and flux F_d (before the cell limit), and the
// cell's flux sum F_0 including it.
struct VelocityReport {
  const std::atomic<int> *Pending = nullptr;
  std::function<void(int direction, double weight, double velocity, double flux, double sum)>
      Report;
  bool Raised() const {
    return Pending != nullptr && Report && Pending->load(std::memory_order_relaxed) != 0;
  }
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
                  const OutflowState &outflow, int innerStep, int recomputeStep, CellFlow &flow,
                  const VelocityReport &report = {});

} // namespace tavro::overland
