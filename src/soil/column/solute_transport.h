// Solute transport in one soil column for one internal step: every tracer
// moves with the water fluxes the solver found (through the layer
// boundaries, out with interflow, baseflow and exfiltration, in with river
// infiltration and the supply from groundwater), then the saturated zone is
// mixed and a radioactive tracer decays. Pure per-cell code: no grids, MPI
// or logging; a floating-point report reaches the caller through a callback.
//
// Two kinds of tracer are stored differently: an amount tracer keeps the
// amount per unit area in each layer (concentration x mm of water), an
// evaporating tracer keeps the concentration itself, so that evaporation
// concentrates it. Level 0 of a storage column is the water at the surface.
#pragma once

#include <functional>
#include <span>
#include <vector>

namespace tavro {

// What the transport needs to know of one tracer.
struct SoluteKind {
  bool evaporating = false; // stored as a concentration, not as an amount
  bool radioactive = false;
  double maxConc = 0.0; // cap of the concentration moved across any boundary
  double decay = 1.0;   // fraction left after one internal step
};

// The water of the internal step. Layer arrays hold elements 0..n.
struct SoluteWater {
  int layers = 0;                       // n
  int groundwaterLayer = 1;             // g
  std::span<const double> theta;        // after the step
  std::span<const double> thetaOld;     // before the step
  std::span<const double> thetaSat;     //
  std::span<const double> dz;           // m
  std::span<const double> zBottom;      // [0] the surface, m
  std::span<const double> flux;         // lower boundary of each layer, [0] the surface, m/s up
  std::span<const double> interflow;    // out of each layer, m/s
  std::span<const double> withdrawal;   // baseflow taken from each layer, m/s
  std::span<const double> exfiltration; // to the river from each layer, m/s
  std::span<const double> riverInfiltration; // from the river into each layer, m/s
  std::span<const double> supply;            // from groundwater into each layer, m/s
  double directRunoff = 0.0;                 // Qd, m/s
  double interflowSum = 0.0;                 // m/s
  double exfiltrationSum = 0.0;              // m/s
  double baseflow = 0.0;                     // the cell's baseflow rate, m/s
  double dt = 0.0;                           // s
  double tMs = 0.0;                          // ms; a rate times tMs is mm
  bool groundwaterCoupled = false;
  double aquiferThickness = 0.0; // of aquifer layer 1, m (with coupling)
};

// What one tracer left the column with in the step: amounts for an amount
// tracer, concentrations of the flows for an evaporating one.
struct SoluteOutflows {
  double interflow = 0.0;
  double baseflow = 0.0; // net of the supply from groundwater
  double exfiltration = 0.0;
};

// Receives, per layer and tracer, the five amounts of the layer (top,
// bottom, interflow, baseflow, exfiltration).
using SoluteReport = std::function<void(int layer, int tracer, double top, double bottom,
                                        double interflow, double baseflow, double exfiltration)>;

// Per-thread scratch, sized once for the deepest column.
class SoluteWorkspace {
public:
  explicit SoluteWorkspace(int maxLayers = 0) { Resize(maxLayers); }
  void Resize(int maxLayers);

  std::vector<double> start;  // the tracer's column at entry (S0)
  std::vector<double> factor; // share of the requested outflow a layer can give
};

// The deepest transported layer m: g + 1, widened downward over the layers
// fed from groundwater and then over those exchanging with a river; n when
// g is the deepest layer. Layers below m take part only in the mixing.
int TransportedLayers(const SoluteWater &water);

// Moves tracers 1..T of the cell. kinds, storage, riverConc and
// groundwaterConc are indexed by tracer (element 0 unused); storage[t] is
// the tracer's column 0..n, updated in place; groundwaterConc[t] (the
// aquifer's concentration, with coupling) is read and written back; the
// step's outflows go to outflows[t]. report may be empty.
void TransportSolutes(std::span<const SoluteKind> kinds, std::span<const std::span<double>> storage,
                      std::span<const double> riverConc, std::span<double> groundwaterConc,
                      const SoluteWater &water, SoluteWorkspace &work,
                      std::span<SoluteOutflows> outflows, const SoluteReport &report);

} // namespace tavro
