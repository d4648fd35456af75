// The tracers of one soil column over the internal steps of a call: the
// layers below the table from the aquifer at the start of a step, the water
// input mixed into the surface store, the transport after the water is
// solved, and what the direct runoff and the interflow carry, summed over
// the call. Adapts the column state to the transport kernels; no grids, MPI
// or logging.
#pragma once

#include "soil/column/column_state.h"
#include "soil/column/solute_transport.h"
#include "soil/column/surface_tracers.h"
#include "soil/column/tracer_call_sum.h"
#include "soil/column/tracer_start_column.h"

#include <span>
#include <vector>

namespace tavro {

// The tracers of a cell in a call, elements 1..T (element 0 unused). The
// caller fills the cell's values; the column step updates the storage and
// the sums.
struct ColumnTracers {
  explicit ColumnTracers(int tracers = 0, int maxLayers = 0) { Resize(tracers, maxLayers); }
  void Resize(int tracers, int maxLayers);
  int Count() const { return static_cast<int>(kinds.size()) - 1; }

  // Per tracer: its kind (decay: the fraction left after the whole call).
  std::vector<SoluteKind> kinds;
  std::vector<std::span<double>> storage; // the cell's column, levels 0..n
  std::vector<double> inputConc;          // of the water input
  std::vector<double> siltConc;           // of the silting-up water (with siltPresent)
  std::vector<char> siltPresent;
  std::vector<double> riverConc;       // of river water entering the column
  std::vector<double> groundwaterConc; // the aquifer's, read and written (coupled)
  double aquiferThickness = 0.0;       // m (coupled)
  SoluteReport report;                 // may be empty

  // Results of the call, per tracer.
  std::vector<TracerCallSum> direct;    // "_CONC_QD_"
  std::vector<TracerCallSum> interflow; // "_CONC_QI_"
  std::vector<TracerCallSum> baseflow;
  std::vector<TracerCallSum> exfiltration;

  // Scratch.
  std::vector<SoluteKind> stepKinds; // decay per internal step
  std::vector<SoluteOutflows> outflows;
  SoluteWorkspace work;
};

// At the start of the call: clears the sums and spreads each tracer's decay
// over the internal steps.
void BeginTracerCall(ColumnTracers &tracers, int internalSteps);

// At the start of an internal step with coupling: layers below g take the
// aquifer's concentration.
void TracersBelowTable(ColumnTracers &tracers, const ColumnState &state, int groundwaterLayer,
                       int layers, std::span<const double> dz);

// Before the pond or the silting-up water is touched.
void MixTracerInput(ColumnTracers &tracers, const SurfaceWater &water);

// The step's surface water as the transport and the runoff see it.
struct TracerSurface {
  double directRate = 0.0;   // qd handed to the transport, m/s
  double direct = 0.0;       // the direct runoff of the step, mm (pond: the overflow)
  double silting = 0.0;      // silting-up water running off directly, mm
  bool pond = false;         // the cell has a pond
  double pondShare = 0.0;    // the overflowing share of the pond water
  double interflow = 0.0;    // mm
  double baseflowRate = 0.0; // m/s
  bool groundwaterCoupled = false;
};

// After the water of the internal step: the transport, then the direct
// runoff's tracer leaves the surface store.
void MoveColumnTracers(ColumnTracers &tracers, const ColumnGeometry &geometry,
                       const ColumnState &state, const TracerSurface &surface, double dt,
                       double tMs);

} // namespace tavro
