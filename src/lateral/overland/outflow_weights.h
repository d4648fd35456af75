// Shares of a cell's eight directions in its outflow: split around the
// aspect for interior cells, by the drops to the neighbours otherwise.
#pragma once

#include "lateral/overland/directions.h"

#include <atomic>
#include <functional>

namespace tavro::overland {

struct OutflowState {
  PerDirection Weights{};   // [1..8] shares; [0] directions unchanged by at most 0.01
  int MainDirection = 0;    // 1..8, 0 = none
  double WaterSurface = 0.; // z + S / 1000, m
};

// Called per direction of a normalisation while a floating-point error is
// pending, so that it is reported with its context: the direction, the
// weight before and after the division and the sum divided by.
struct NormalisationReport {
  const std::atomic<int> *Pending = nullptr;
  std::function<void(int direction, double before, double sum, double after)> Report;
  bool Raised() const {
    return Pending != nullptr && Report && Pending->load(std::memory_order_relaxed) != 0;
  }
};

// The number of directions whose share changed by at most 0.01 (level 0 of
// the weights: a cell with all eight unchanged may keep its last flow).
int UnchangedDirections(const PerDirection &before, const PerDirection &after);

// The water surface of a cell: terrain z (m) and surface storage S (mm).
inline double WaterSurfaceLevel(double elevation, double storageMm) {
  return elevation + storageMm / 1000.0;
}

// Updates state for one inner step (innerStep 0 = the first of a sub-step).
// River cells and unknown cases keep their state; an interior cell whose
// aspect split points only uphill becomes an edge cell (slopeCase 3).
void DistributeOutflow(const Neighbourhood &n, int method, int &slopeCase, int innerStep,
                       double slope, double aspect, OutflowState &state,
                       const NormalisationReport &report = {});

} // namespace tavro::overland
