// The passes of one overland-flow inner step over the grids of a strip: the
// kernel pass (slope, outflow weights, velocities and fluxes of every cell),
// the stable step bound, the limiter that keeps a cell from giving away more
// than it holds, and the storage pass that updates every cell from the
// fluxes of its neighbours. No MPI: the module exchanges the halo rows
// between the passes.
#pragma once

#include "kernel/grid.h"
#include "lateral/overland/directions.h"
#include "lateral/overland/flow_velocity.h"
#include "raster/parallel/cell_iteration.h"

#include <array>
#include <atomic>
#include <functional>
#include <utility>
#include <vector>

namespace tavro {

// The grids the passes read and write (not owned).
struct OverlandGrids {
  const Grid *Zone = nullptr;      // valid where not no-data
  const Grid *Elevation = nullptr; // m
  const Grid *RiverDepth = nullptr;
  const Grid *RiverWidth = nullptr;
  const Grid *PlanCurvature = nullptr; // 1/m
  const Grid *CriticalShear = nullptr; // N/m2
  Grid *Depth = nullptr;               // h, m (strip and halo rows)
  Grid *Storage = nullptr;             // S, mm
  Grid *DirectFlow = nullptr;          // D, mm: the water that reached a river cell
  Grid *QIn = nullptr;                 // mm of the last inner step
  Grid *QOut = nullptr;
  Stack *Velocity = nullptr; // levels 0 main direction, 1-8 m/s, 9 water surface
  Stack *Fluxes = nullptr;   // levels 0 main or sum, 1-8 m3/s (strip and halo rows)
  Stack *Weights = nullptr;  // levels 0 unchanged count, 1-8 shares
};

// The grids of one tracer the passes carry with the water (not owned).
struct OverlandTracer {
  Grid *Concentration = nullptr; // c_t of the surface water (strip and halo rows)
  Grid *Start = nullptr;         // c_t as the storage pass found it (same rows)
  Grid *River = nullptr;         // C_D,t: tracer mass delivered with D (mm x concentration)
};

// The most tracers a run carries.
inline constexpr int kMaxOverlandTracers = 9;

// Reports a pending floating-point error with its context (the arguments of
// teilmodellklasse::ReportFPE): per cell its row, column, slope case, inner
// step, slope, aspect, h, D and S; per direction of a weight normalisation
// its row, column, direction, slope case, the weight before, the sum, the
// weight after, slope and aspect; per direction of a velocity computation
// its row, column, direction, slope case, W_d, v_d, F_d, h and the flux sum
// F_0 so far. Called only while the flag is raised, so
// that the threads do not write the shared flag for every cell.
struct FloatingPointReport {
  const std::atomic<int> *Pending = nullptr;
  std::function<void(long row, long column, int i3, int i4, double a1, double a2, double a3,
                     double a4, double a5)>
      Report;
};

struct OverlandRaster {
  long Rows = 0;
  long Columns = 0;
  double CellSize = 0.0; // m
  double NoData = -9999.0;
};

// The land-use resistance parameters of a cell for the current step.
using LandUseOfCell = std::function<overland::LandUseResistance(long row, long column)>;

class OverlandPasses {
public:
  OverlandPasses() = default;
  OverlandPasses(const CellIterationSetup &cells, const OverlandRaster &raster,
                 const OverlandGrids &grids, const overland::VelocitySettings &settings,
                 LandUseOfCell landUse);

  // Tracers carried through the storage pass (at most kMaxOverlandTracers).
  void SetTracers(std::vector<OverlandTracer> tracers) { tracers_ = std::move(tracers); }
  void SetFloatingPointReport(FloatingPointReport report) { fpe_ = std::move(report); }

  // With the terrain alone (FlowPathMethod 1 and 2) slopes and outflow
  // shares depend on no water: those of a sub-step's first inner step
  // (innerStep 0) serve its later inner steps.
  void KernelPass(int innerStep, int recomputeStep);
  // The smallest stable inner step of the cells (kNoStepLimit when none limits).
  double MinimumTimeStep() const;
  void LimitOutflow(double step) const;
  // Updates every cell from its neighbours' fluxes; the tracers mix with the
  // concentrations every cell had at the start of the pass.
  void StoragePass(double step) const;

  bool IsRiver(long r, long c) const {
    return (*grids_.RiverDepth)[r][c] > 0.0 && (*grids_.RiverWidth)[r][c] > 0.0;
  }
  overland::Neighbourhood NeighbourhoodOf(long r, long c) const;

private:
  // The outflow shares of a cell as the first inner step of the sub-step
  // left them, with its slope case after the distribution.
  struct TerrainOutflow {
    std::array<double, overland::kDirections> Weights{};
    int MainDirection = 0;
    int SlopeCase = 0;
  };

  bool IsValid(long r, long c) const { return (*grids_.Zone)[r][c] != raster_.NoData; }
  bool ReportPending() const {
    return fpe_.Pending != nullptr && fpe_.Pending->load(std::memory_order_relaxed) != 0;
  }
  TerrainOutflow &TerrainOutflowOf(long r, long c) {
    return terrainOutflow_[static_cast<std::size_t>((r - cells_.FirstRow) * raster_.Columns + c -
                                                    1)];
  }
  // A cell's outflow shares, main direction and water surface: level 0-8 of
  // the weights and levels 0 and 9 of the velocities.
  void LoadOutflow(long r, long c, overland::OutflowState &outflow) const;
  void StoreOutflow(long r, long c, const overland::OutflowState &outflow) const;
  int DistributeCell(long r, long c, const overland::Neighbourhood &n, int innerStep,
                     overland::OutflowState &outflow) const;
  int ReuseDistribution(long r, long c, const TerrainOutflow &kept,
                        overland::OutflowState &outflow) const;
  void FlowOfCell(long r, long c, int slopeCase, const overland::OutflowState &outflow,
                  int innerStep, int recomputeStep, const overland::Neighbourhood *known) const;
  void KeepStartConcentrations() const;

  CellIterationSetup cells_;
  OverlandRaster raster_;
  OverlandGrids grids_;
  overland::VelocitySettings settings_;
  LandUseOfCell landUse_;
  std::vector<OverlandTracer> tracers_;
  FloatingPointReport fpe_;
  // One entry per cell of the strip rows, sized at construction.
  std::vector<TerrainOutflow> terrainOutflow_;
  bool terrainOutflowKept_ = false;
};

} // namespace tavro
