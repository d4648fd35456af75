// Surface routing divided over the processes of the test job against the
// same overland flow computed on the whole raster at once: velocities,
// weights, fluxes, depths, surface storage, the water of the river cells and
// the subbasins' Qg are the same bit for bit, over several sub-steps of
// water flowing across the borders of the strips, with one and two threads.
// Run under one and three processes, both runs meet the same whole raster.
#include "surface_routing_fixture.h"

#include "kernel/exact_sum.h"
#include "lateral/overland/plan_curvature.h"
#include "lateral/overland/stable_step.h"
#include "lateral/overland_passes.h"
#include "raster/handover/runoff_concentration.h"
#include "raster/parallel/zone_reduction.h"

#include <omp.h>

#include <cmath>
#include <vector>

namespace tavro {
namespace {

using test::kSrNoData;
using test::StripCrossingPlane;
using test::SurfacePlane;
using test::SurfaceRoutingTest;
using test::SurfaceSectionText;
using test::UnevenDirectRunoff;
using test::UnevenInterflow;

constexpr int kLevels = surfaceroutingclass::StackLevels;
constexpr int kSubbasins = 2;

// The overland flow of the whole raster on one process, by the same passes
// and kernels, driven sub-step by sub-step as the module drives its strip;
// and the subbasins' runoff from the same exact sums.
class WholeRaster {
public:
  WholeRaster(DiagnosticsLog &log, const SurfacePlane &plane,
              const overland::VelocitySettings &settings, overland::LandUseResistance use,
              double substepLength, int substeps, double stepMinutes, double storageMinutes)
      : plane_(plane), settings_(settings), substepLength_(substepLength), substeps_(substeps),
        stepMinutes_(stepMinutes), storageMinutes_(storageMinutes) {
    const long rows = plane.rows, cols = plane.columns;
    for (Grid *g :
         {&zone, &elevation, &river, &curvature, &shear, &depth, &storage, &direct, &qIn, &qOut}) {
      *g = Grid(1, rows, cols, rows, log);
      g->Fill(0.0);
    }
    for (Stack *s : {&velocity, &fluxes, &weights}) {
      *s = Stack(1, rows, cols, kLevels - 1, rows, log);
      s->Fill(0.0);
    }
    std::vector<double> z(static_cast<std::size_t>(rows * cols)), k(z.size(), kSrNoData);
    std::vector<char> fill(z.size(), 0);
    const overland::RasterView view{cols, rows};
    for (long r = 1; r <= rows; ++r)
      for (long c = 1; c <= cols; ++c) {
        zone[r][c] = plane.zoneOf(r, c);
        elevation[r][c] = plane.Elevation(r, c);
        river[r][c] = plane.river(r, c) ? 1.0 : 0.0;
        shear[r][c] = 0.9;
        const auto i = static_cast<std::size_t>((r - 1) * cols + (c - 1));
        z[i] = elevation[r][c];
        fill[i] = zone[r][c] != kSrNoData ? 1 : 0;
      }
    overland::ComputePlanCurvatureRaster(z, k, view, plane.cellSize, kSrNoData);
    overland::FillGapsFromNeighbours(k, fill, view, kSrNoData);
    for (long r = 1; r <= rows; ++r)
      for (long c = 1; c <= cols; ++c)
        curvature[r][c] = k[static_cast<std::size_t>((r - 1) * cols + (c - 1))];

    CellIterationSetup cells;
    cells.LastRow = rows;
    cells.NCols = cols;
    cells.Zone = &zone;
    cells.NoData = kSrNoData;
    OverlandGrids g;
    g.Zone = &zone;
    g.Elevation = &elevation;
    g.RiverDepth = &river;
    g.RiverWidth = &river;
    g.PlanCurvature = &curvature;
    g.CriticalShear = &shear;
    g.Depth = &depth;
    g.Storage = &storage;
    g.DirectFlow = &direct;
    g.QIn = &qIn;
    g.QOut = &qOut;
    g.Velocity = &velocity;
    g.Fluxes = &fluxes;
    g.Weights = &weights;
    passes_ = OverlandPasses(cells, OverlandRaster{rows, cols, plane.cellSize, kSrNoData}, g,
                             settings, [use](long, long) { return use; });
    qdd_.assign(kSubbasins + 1, 0.0);
    qii_.assign(kSubbasins + 1, 0.0);
  }

  // One step of the given sub-steps; Qg of every subbasin with the baseflow qb.
  std::vector<double> Step(double qb) {
    std::vector<ExactZoneSums> d(kSubbasins + 1), i(kSubbasins + 1);
    for (int s = 0; s < substeps_; ++s) {
      ForValid([&](long r, long c) {
        // The soil takes the surface water back and hands it over again.
        const double input = UnevenDirectRunoff(r, c, s) + storage[r][c];
        depth[r][c] = input / 1000.0;
        storage[r][c] = input;
        direct[r][c] = 0.0;
      });
      Substep();
      const double m = substeps_;
      ForValid([&](long r, long c) {
        const auto k = static_cast<std::size_t>(plane_.zoneOf(r, c));
        const double w = 1.0;
        d[k].n.Add(1.0);
        d[k].sx.Add(passes_.IsRiver(r, c) ? w * m * direct[r][c] : 0.0);
        d[k].RelCellSum.Add(w);
        i[k].n.Add(1.0);
        i[k].sx.Add(w * m * UnevenInterflow(r, c, s));
        i[k].RelCellSum.Add(w);
      });
    }
    const double a = std::exp(-stepMinutes_ / storageMinutes_);
    std::vector<double> qg(kSubbasins + 1, 0.0);
    for (std::size_t k = 1; k <= kSubbasins; ++k) {
      qdd_[k] = LinearStorageOutflow(d[k].sx.ToDouble() / d[k].RelCellSum.ToDouble(), qdd_[k], a);
      qii_[k] = LinearStorageOutflow(i[k].sx.ToDouble() / i[k].RelCellSum.ToDouble(), qii_[k], a);
      qg[k] = qdd_[k] + qii_[k] + qb;
    }
    return qg;
  }

  Grid zone, elevation, river, curvature, shear, depth, storage, direct, qIn, qOut;
  Stack velocity, fluxes, weights;
  int innerSteps = 0;

private:
  template <class Body> void ForValid(Body &&body) const {
    for (long r = 1; r <= plane_.rows; ++r)
      for (long c = 1; c <= plane_.columns; ++c)
        if (zone[r][c] != kSrNoData)
          body(r, c);
  }

  // Inner steps of one stable length until the sub-step is covered.
  void Substep() {
    const double end = substepLength_ - 0.5 * settings_.MinSubTimeStep;
    const double perRecompute = substepLength_ / settings_.MaxSubTimeStep;
    double elapsed = 0.0, step = 0.0;
    int i = 0, recompute = 0, foreseen = 0;
    do {
      passes_.KernelPass(i, recompute);
      if (i == 0) {
        const overland::InnerSteps steps =
            overland::StableInnerStep(substepLength_, passes_.MinimumTimeStep(),
                                      settings_.MinSubTimeStep, settings_.MaxSubTimeStep);
        step = steps.Length;
        foreseen = steps.Foreseen;
        recompute = static_cast<int>(recompute + foreseen / perRecompute);
      } else if (i == recompute) {
        recompute = static_cast<int>(recompute + foreseen / perRecompute);
      }
      passes_.LimitOutflow(step);
      passes_.StoragePass(step);
      ++i;
      elapsed += step;
    } while (elapsed < end);
    innerSteps = i;
  }

  SurfacePlane plane_;
  overland::VelocitySettings settings_;
  double substepLength_;
  int substeps_;
  double stepMinutes_, storageMinutes_;
  OverlandPasses passes_;
  std::vector<double> qdd_, qii_;
};

class SurfaceRoutingWholeRaster : public SurfaceRoutingTest {
protected:
  // Rank 0: a gathered grid or stack level equals the whole raster's on every valid cell.
  void ExpectSameGrid(const Grid &gathered, const Grid &whole, const char *what) const {
    if (test::Rank() != 0)
      return;
    for (long r = 1; r <= plane_.rows; ++r)
      for (long c = 1; c <= plane_.columns; ++c)
        if (plane_.zoneOf(r, c) != kSrNoData) {
          ASSERT_EQ(gathered[r][c], whole[r][c]) << what << " at " << r << "," << c;
        }
  }
  void ExpectSameStack(const Stack &gathered, const Stack &whole, const char *what) const {
    if (test::Rank() != 0)
      return;
    for (long r = 1; r <= plane_.rows; ++r)
      for (long c = 1; c <= plane_.columns; ++c)
        if (plane_.zoneOf(r, c) != kSrNoData) {
          for (int k = 0; k < kLevels; ++k) {
            ASSERT_EQ(gathered[r][c][k], whole[r][c][k])
                << what << " level " << k << " at " << r << "," << c;
          }
        }
  }
  Grid GatheredGrid(surfaceroutingclass &module, const char *identifier) {
    return module.MPIGatherGridForOutput(registry_.FindGrid(identifier, false), nullptr);
  }
  Stack GatheredStack(surfaceroutingclass &module, const char *identifier) {
    return module.MPIGatherStackForOutput(registry_.FindGrid(identifier, false), nullptr);
  }
};

TEST_F(SurfaceRoutingWholeRaster, StripsEqualTheWholeRasterBitForBit) {
  Raster(StripCrossingPlane());
  SurfaceSectionText text;
  text.minStep = 1.0;
  text.maxStep = 150.0;
  const int substeps = 2;
  const double baseflow = 0.25;
  for (int k = 1; k <= kSubbasins; ++k)
    qbb_.Components[0][static_cast<std::size_t>(k)] = baseflow;
  const int before = omp_get_max_threads();
  for (const int threads : {1, 2}) {
    SCOPED_TRACE(testing::Message() << threads << " threads");
    omp_set_num_threads(threads);
    ForOwn([&](long r, long c) { (*storage_)[r][c] = 0.0; });
    auto module = Ready(text.Text(), substeps);
    const landuse_class &record = landuse_[1];
    overland::LandUseResistance use;
    use.Cultivation = record.GetSRCultivation();
    use.Strickler = record.GetSRKST();
    WholeRaster whole(log_, plane_, module->Velocity, use, module->SubstepLength, substeps,
                      module->TimeStep, kelsqd_.Values[1]);
    ExpectSameGrid(GatheredGrid(*module, "Plancurvature"), whole.curvature, "plan curvature");
    for (int step = 1; step <= 2; ++step) {
      testing::internal::CaptureStdout();
      module->BeginTimeStep(0, step, 6, 2012);
      for (int s = 0; s < substeps; ++s) {
        ForOwn([&](long r, long c) {
          (*direct_)[r][c] = UnevenDirectRunoff(r, c, s) + (*storage_)[r][c];
          (*inter_)[r][c] = UnevenInterflow(r, c, s);
        });
        module->ComputeTimeStep(0, step, 6, 2012);
      }
      module->ConcentrateRunoff(0, step, 6, 2012);
      testing::internal::GetCapturedStdout();
      const std::vector<double> qg = whole.Step(baseflow);
      EXPECT_EQ(module->InnerStepsRun(), whole.innerSteps);
      EXPECT_GT(whole.innerSteps, 10) << "the flow needs many inner steps";
      ExpectSameStack(GatheredStack(*module, "SurfaceRoutingVelocity"), whole.velocity,
                      "velocities");
      ExpectSameStack(GatheredStack(*module, "SurfaceRoutingWeights"), whole.weights, "weights");
      ExpectSameStack(GatheredStack(*module, "SurfaceRoutingFluxes"), whole.fluxes, "fluxes");
      ExpectSameGrid(GatheredGrid(*module, "SurfaceRoutingTotalInput"), whole.depth, "depth");
      ExpectSameGrid(GatheredGrid(*module, "SurfStorSiltingUp"), whole.storage, "storage");
      ExpectSameGrid(GatheredGrid(*module, "directflow"), whole.direct, "river water");
      ExpectSameGrid(GatheredGrid(*module, "SurfaceRoutingQIn"), whole.qIn, "inflow");
      ExpectSameGrid(GatheredGrid(*module, "SurfaceRoutingQOut"), whole.qOut, "outflow");
      if (test::Rank() == 0) {
        for (std::size_t k = 1; k <= kSubbasins; ++k) {
          EXPECT_EQ(module->GetQg()->Components[0][k], qg[k]) << "subbasin " << k;
          EXPECT_GT(qg[k], baseflow) << "subbasin " << k;
        }
      }
    }
    module->FinishRun(false);
  }
  omp_set_num_threads(before);
}

} // namespace
} // namespace tavro
