// The head of one aquifer cell after one Gauss-Seidel step of the implicit
// finite-difference scheme, its contribution to the convergence measure and
// the over-relaxation (fixed or adaptive factor). Pure functions.
//
// The scheme weighs the neighbour heads between the start of the sub-step
// (h_old) and the current sweep (h) by alpha:
//   S A (h - h_old) / dt = sum C_i (h_i - h_c) + Q_src A
// with h_i = (1 - alpha) h_old_i + alpha h_i and h_c likewise.
//
// Units: heads in m, conductances in m²/s, storage coefficient 1,
// sources in m/s, areas in m², dt in s.
#pragma once

#include <cmath>

namespace tavro::groundwater {

// A confined change counts this fraction towards the convergence measure.
inline constexpr double kConfinedChangeWeight = 0.2;
// The adaptive over-relaxation factor never exceeds this.
inline constexpr double kMaxAdaptiveFactor = 2.0;

// The four neighbours of a cell: time-weighted heads and conductances.
struct Neighbourhood {
  double hN = 0.0, hE = 0.0, hS = 0.0, hW = 0.0; // time-weighted heads, m
  double cN = 0.0, cE = 0.0, cS = 0.0, cW = 0.0; // conductances, m²/s
};

// Everything the update of one cell needs besides its neighbours.
struct CellState {
  double hOld = 0.0;    // head at the start of the sub-step, m
  double storage = 0.0; // storage coefficient in use (specific yield when unconfined)
  double source = 0.0;  // leakage and fixed inflow, m/s (the storage term is added here)
  double area = 0.0;    // dx dy, m²
};

// Time-weighted neighbour head: (1 - alpha) h_old + alpha h.
inline double WeightedHead(double alpha, double hOld, double h) {
  return (1.0 - alpha) * hOld + alpha * h;
}

// The new head of the cell,
//   h = [(Q + S h_old / dt) A + sum C_i h_i - (1 - alpha) h_old C] / [alpha C + S A / dt],
// computed as h_old plus the change so that a cell without exchange keeps
// its head exactly. A cell whose denominator is not above 0 (no storage, no
// conductance) keeps h_old.
// (Inline: the sweep calls it for every cell.)
inline double UpdatedHead(const Neighbourhood &n, const CellState &cell, double alpha, double dt) {
  const double c = n.cN + n.cE + n.cS + n.cW;
  const double denominator = alpha * c + cell.storage * cell.area / dt;
  if (!(denominator > 0.0))
    return cell.hOld;
  const double h = cell.hOld;
  const double numerator = cell.source * cell.area + n.cN * (n.hN - h) + n.cE * (n.hE - h) +
                           n.cS * (n.hS - h) + n.cW * (n.hW - h);
  return h + numerator / denominator;
}

// The change of a sweep as the convergence measure counts it: a confined
// cell (top at or below h_old) counts a fifth of its change.
inline double MeasuredChange(double hNew, double h0, double top, double hOld) {
  const double d = std::fabs(hNew - h0);
  return d * (top <= hOld ? kConfinedChangeWeight : 1.0);
}

// Adaptive over-relaxation factor from the changes of the last two sweeps:
// 1 when the previous sweep left the cell unchanged or the changes point in
// opposite directions, else the ratio of successive changes plus 1, at most 2.
inline double AdaptiveFactor(double hNew, double h0, double hPrevIter) {
  if (hPrevIter == h0)
    return 1.0;
  const double r = (hNew - h0) / (h0 - hPrevIter) + 1.0;
  return r > 0.0 ? (r < kMaxAdaptiveFactor ? r : kMaxAdaptiveFactor) : 1.0;
}

// h0 + omega (hNew - h0).
inline double Relaxed(double hNew, double h0, double omega) { return h0 + omega * (hNew - h0); }

} // namespace tavro::groundwater
