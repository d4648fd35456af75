// The overland-flow passes that reuse the outflow shares of a sub-step's
// first inner step (terrain-only flow paths) against passes that distribute
// every inner step anew: weights, velocities, fluxes, storage, depth and the
// water of the river cells are the same bit for bit, also when the terrain
// changes between two sub-steps.
#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "lateral/overland_passes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace tavro {
namespace {

constexpr long kRows = 12;
constexpr long kCols = 10;
constexpr double kCell = 10.0;
constexpr double kNoData = -9999.0;
constexpr double kStep = 20.0; // s

// A rough plane falling south and east, a no-data cell inside and river
// cells in the last row, with water everywhere.
class Plane {
public:
  explicit Plane(DiagnosticsLog &log)
      : zone(Make(log)), elevation(Make(log)), riverDepth(Make(log)), riverWidth(Make(log)),
        curvature(Make(log)), shear(Make(log)), depth(Make(log)), storage(Make(log)),
        direct(Make(log)), qin(Make(log)), qout(Make(log)),
        velocity(1, kRows, kCols, 9, kRows, log), fluxes(1, kRows, kCols, 9, kRows, log),
        weights(1, kRows, kCols, 9, kRows, log) {
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kCols; ++c) {
        zone[r][c] = r == 6 && c == 5 ? kNoData : 1.0;
        elevation[r][c] = 100.0 - 0.02 * kCell * c - 0.03 * kCell * r +
                          0.4 * std::sin(0.9 * static_cast<double>(r * c));
        curvature[r][c] = 0.01 * std::cos(1.7 * static_cast<double>(r + 2 * c));
        shear[r][c] = 0.9;
        storage[r][c] = 3.0 + static_cast<double>((r * 7 + c * 3) % 5);
        depth[r][c] = storage[r][c] / 1000.0;
        if (r == kRows && c > 1)
          riverDepth[r][c] = riverWidth[r][c] = 1.0;
      }
  }

  OverlandPasses Passes(int method) {
    const OverlandGrids g{&zone,  &elevation, &riverDepth, &riverWidth, &curvature,
                          &shear, &depth,     &storage,    &direct,     &qin,
                          &qout,  &velocity,  &fluxes,     &weights};
    CellIterationSetup cells;
    cells.FirstRow = 1;
    cells.LastRow = kRows;
    cells.NCols = kCols;
    cells.Zone = &zone;
    overland::VelocitySettings settings;
    settings.Method = method;
    settings.MaxErrorVelocity = 1e-4;
    settings.MaxIterVelocity = 50;
    settings.MinSubTimeStep = 1.0;
    settings.MaxSubTimeStep = 60.0;
    overland::LandUseResistance use;
    use.Strickler = 20.0;
    return OverlandPasses(cells, OverlandRaster{kRows, kCols, kCell, kNoData}, g, settings,
                          [use](long, long) { return use; });
  }

  static Grid Make(DiagnosticsLog &log) {
    Grid g(1, kRows, kCols, kRows, log);
    g.Fill(0.0);
    return g;
  }

  Grid zone, elevation, riverDepth, riverWidth, curvature, shear, depth, storage, direct, qin, qout;
  Stack velocity, fluxes, weights;
};

void InnerStep(OverlandPasses &passes, int innerStep, int recomputeStep) {
  passes.KernelPass(innerStep, recomputeStep);
  passes.LimitOutflow(kStep);
  passes.StoragePass(kStep);
}

// Nine inner steps of a sub-step, recomputing the flow every third.
void Substep(Plane &plane, int method, std::unique_ptr<OverlandPasses> &kept, bool anew) {
  for (int i = 0; i < 9; ++i) {
    if (anew || !kept)
      kept = std::make_unique<OverlandPasses>(plane.Passes(method));
    InnerStep(*kept, i, (i / 3 + 1) * 3);
  }
}

void ExpectSameBits(const Plane &a, const Plane &b) {
  for (long r = 1; r <= kRows; ++r)
    for (long c = 1; c <= kCols; ++c) {
      SCOPED_TRACE(testing::Message() << "row " << r << " column " << c);
      EXPECT_EQ(a.storage[r][c], b.storage[r][c]);
      EXPECT_EQ(a.depth[r][c], b.depth[r][c]);
      EXPECT_EQ(a.direct[r][c], b.direct[r][c]);
      EXPECT_EQ(a.qout[r][c], b.qout[r][c]);
      for (int k = 0; k <= 9; ++k) {
        EXPECT_EQ(a.weights[r][c][k], b.weights[r][c][k]) << "weight level " << k;
        EXPECT_EQ(a.velocity[r][c][k], b.velocity[r][c][k]) << "velocity level " << k;
        EXPECT_EQ(a.fluxes[r][c][k], b.fluxes[r][c][k]) << "flux level " << k;
      }
    }
}

class OverlandPassesReuse : public testing::TestWithParam<int> {};

TEST_P(OverlandPassesReuse, ReusedSharesGiveTheBitsOfSharesDistributedAnew) {
  const int method = GetParam();
  DiagnosticsLog log("Tavro_Diag_overland_passes.xml", 0);
  Plane reused(log), anew(log);
  std::unique_ptr<OverlandPasses> reusedPasses, anewPasses;
  Substep(reused, method, reusedPasses, false);
  Substep(anew, method, anewPasses, true);
  ExpectSameBits(reused, anew);
  // Water has moved into the river cells, so the comparison saw more than
  // the start.
  double delivered = 0.0;
  for (long c = 2; c <= kCols; ++c)
    delivered += reused.direct[kRows][c];
  EXPECT_GT(delivered, 0.0);
  // The terrain changes between sub-steps: the next first inner step takes
  // the new shares.
  for (Plane *p : {&reused, &anew}) {
    p->elevation[4][4] -= 2.0;
    p->elevation[8][3] += 3.0;
  }
  Substep(reused, method, reusedPasses, false);
  Substep(anew, method, anewPasses, true);
  ExpectSameBits(reused, anew);
}

INSTANTIATE_TEST_SUITE_P(TerrainOnlyFlowPaths, OverlandPassesReuse, testing::Values(1, 2));

} // namespace
} // namespace tavro
