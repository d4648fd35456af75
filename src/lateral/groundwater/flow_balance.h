// What an aquifer cell exchanges in a sub-step: the Darcy flux towards a
// neighbour, the volumes that entered it, its balance residual, the water it
// held at the start and the oscillation test of its head. Pure functions.
//
// Units: heads and thicknesses in m, conductivities in m/s, fluxes in m/s,
// transmissivities in m²/s, volumes in m³, balances in mm per sub-step.
#pragma once

#include <array>

namespace tavro::groundwater {

// Darcy flux from a cell (head h) towards its neighbour (head hNext) at
// distance d with the cell's conductivity k; positive away from the cell.
inline double DarcyFlux(double h, double hNext, double k, double d) { return (h - hNext) * k / d; }

// Volume that entered a cell from a neighbour in a sub-step: the gradient
// towards the neighbour times the interblock transmissivity, the width of
// the shared face and the sub-step length.
inline double LateralInflow(double hNeighbour, double h, double distance, double transmissivity,
                            double faceWidth, double dt) {
  return (hNeighbour - h) / distance * transmissivity * faceWidth * dt;
}

// Water held by the layer in a cell at the start of the sub-step: the
// saturated thickness (below the top: head minus top plus thickness; else the
// thickness) times the storage coefficient and the area, never below 0.
double StoredVolume(double hOld, double top, double b, double storage, double area);

// Inflow volumes of one cell in the order north, east, south, west, from the
// layer above and from the layer below.
using CellInflows = std::array<double, 6>;
enum InflowSide { kNorth, kEast, kSouth, kWest, kAbove, kBelow };

// Balance residual in mm: the storage change (h - h_old) S not explained by
// the inflows, per area A.
double BalanceResidual(double h, double hOld, double storage, const CellInflows &inflows,
                       double area);

// A head that turned back by more than tolerance: the change of the last
// sub-step and the change of this one exceed the tolerance in opposite
// directions.
inline bool Oscillates(double dPrev, double dNow, double tolerance) {
  return (dPrev > tolerance && dNow < -tolerance) || (dPrev < -tolerance && dNow > tolerance);
}

} // namespace tavro::groundwater
