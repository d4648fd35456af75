// The arrays of one soil column that the column kernels work on: the
// geometry and parameters of the cell's soil type (ColumnGeometry) and the
// per-thread state of the column during one internal step (ColumnState).
// Every per-layer array holds elements 0..n for layers 1..n; element 0 is
// used only where a field says so. A thread sizes one ColumnState once and
// reuses it for every cell, so nothing is allocated inside the cell loop.
//
// Units and signs: fluxes in m/s, positive upward (infiltration is a
// negative flux across the surface); water contents in m3/m3; suctions,
// heads, depths and heights in m.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace tavro {

// The layers of one soil type and the parameters the kernels read.
struct ColumnGeometry {
  int layers = 0;                   // n
  std::span<const double> dz;       // layer thickness, m
  std::span<const double> theta_s;  // saturated water content
  std::span<const double> theta_r;  // residual water content
  std::span<const double> ksat;     // saturated conductivity, m/s
  std::span<const double> theta_fc; // water content at 3.45 m suction
  double maxratio = 1000.0;         // largest ratio of two neighbours' relative conductivities
  double EvapMaxDepth = 0.1;        // m
  double PMacroThresh = 1000.0;     // m/s
  double MacroCapacity = 0.0;       // m/s
  double CapacityRedu = 1.0;        // per m of depth
  double MacroDepth = 1.0;          // m
};

// The state of one column during an internal step.
struct ColumnState {
  explicit ColumnState(int maxLayers = 0) { Resize(maxLayers); }

  // Sizes every array to maxLayers + 1 elements, zero-filled.
  void Resize(int maxLayers);
  // The per-step reset: flux, interflow, exchange, supply, withdrawal,
  // transpiration and evaporation to 0, the three scalars to 0, and
  // theta_old, theta_iter and theta_new to theta (layers 0..n).
  void ResetStep(int layers);

  std::vector<double> theta;           // current water content (the last iterate)
  std::vector<double> theta_old;       // at the start of the internal step
  std::vector<double> theta_iter;      // relaxed iterate, for suction and conductivity
  std::vector<double> theta_new;       // from the last layer balance
  std::vector<double> suction_old;     // suction at theta_old, m
  std::vector<double> head;            // hydraulic head, m
  std::vector<double> z_bottom;        // height of each layer's lower boundary; [0] the surface, m
  std::vector<double> flux;            // across the lower boundary of layer k; [0] the surface, m/s
  std::vector<double> interflow_out;   // lateral outflow: interflow plus drainage, m/s
  std::vector<double> exchange_in;     // inflow from surface water, m/s
  std::vector<double> exchange_out;    // outflow to surface water, m/s
  std::vector<double> liquid_fraction; // liquid share of the water; used with heat only
  std::vector<double> supply;          // from a negative baseflow; [0] leaves at the surface, m/s
  std::vector<double> withdrawal;      // baseflow withdrawal per layer, m/s
  std::vector<double> transpiration;   // taken per layer in this internal step, m/s
  std::vector<double> evaporation;     // taken per layer in this internal step, m/s
  // Of one land-use layer: the demand per layer that RootWaterUptake sets.
  std::vector<double> root_transpiration;   // m/s
  std::vector<double> root_evaporation;     // m/s
  std::vector<double> transpiration_demand; // scratch of the uptake below the table
  std::vector<double> ksat;                 // the conductivities in use (permafrost reduces them)
  // Scratch of the root water uptake, per layer.
  std::vector<double> root_share;
  std::vector<double> root_distribution;
  std::vector<double> macropore_capacity; // m/s
  std::vector<double> macropore_inflow;   // m/s
  double river_infiltration_sum = 0.0;    // m/s
  double exfiltration_sum = 0.0;          // m/s
  double drainage_rate = 0.0;             // m/s
  // Mean suction of the last layer of the thread's latest head computation
  // (m; 0 before any). Kept across steps and cells: the dump files show it.
  double last_mean_suction = 0.0;
  bool use_liquid_fraction = false; // heat model on
  int groundwater_layer = 1;        // g
  double table_height = 0.0;        // height of the groundwater table, m
};

// The liquid share of layer k (1 without the heat model).
inline double LiquidFraction(const ColumnState &state, int k) {
  return state.use_liquid_fraction ? state.liquid_fraction[static_cast<std::size_t>(k)] : 1.0;
}

// The centre height of layer k.
inline double LayerCentre(const ColumnState &state, int k) {
  const auto i = static_cast<std::size_t>(k);
  return 0.5 * (state.z_bottom[i - 1] + state.z_bottom[i]);
}

// The deepest layer the heads, the iterate update (base = max(g, s)), and
// the layer balance (base = max(g + 3, s)) work on: base, widened by every
// further layer that exchanges water with a river, plus two, at most n.
int ActiveDepth(const ColumnState &state, int base, int layers);
// The deepest boundary the fluxes are computed across: max(g + 1, s),
// widened the same way, at most n - 1.
int FluxActiveDepth(const ColumnState &state, int groundwaterLayer, int startLayer, int layers);

} // namespace tavro
