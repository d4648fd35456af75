// The tracers of the surface routing module: the tracer carried with the
// surface water keeps its mass over sub-steps, the tracer rows of the
// runoff arrays are flow-weighted concentrations of the soil's runoff (an
// amount tracer's amount divided by its water), incoming direct runoff
// decays over a sub-step unless the silting-up module holds the storage, and
// the results do not depend on the thread count. Every expectation holds
// for any process count.
#include "surface_routing_fixture.h"

#include "kernel/tracer_info.h"
#include "raster/handover/tracer_grid_hooks.h"
#include "raster/parallel/zone_reduction.h"

#include <omp.h>

#include <cmath>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::SurfacePlane;
using test::SurfaceRoutingTest;
using test::SurfaceSectionText;

using test::Tracer;

class SurfaceTracerTest : public SurfaceRoutingTest {
protected:
  // The soil's runoff tracer grids of every tracer; with siltingUp the
  // silting-up module's storage grids as well.
  void Tracers(const std::vector<TracerInfo> &kinds, bool siltingUp = false) {
    InstallTracerGridHooks(registry_);
    tracerInfo_ = OneBasedArray<TracerInfo>(kinds.size());
    qd_.assign(kinds.size() + 1, nullptr);
    qi_.assign(kinds.size() + 1, nullptr);
    for (std::size_t t = 1; t <= kinds.size(); ++t) {
      tracerInfo_[t] = kinds[t - 1];
      const auto zero = [](long, long) { return 0.0; };
      qd_[t] = &AddGrid("_CONC_QD_" + std::to_string(t) + "_", zero);
      qi_[t] = &AddGrid("_CONC_QI_" + std::to_string(t) + "_", zero);
      if (siltingUp)
        AddGrid("concstor_tracer_" + std::to_string(t) + "_SiltingUpModel", zero);
    }
  }

  // The soil's amount (or concentration) of tracer t for water carrying
  // tracer mass (mm x concentration).
  double Delivered(std::size_t t, double water, double mass) const {
    if (tracerInfo_[t].evaporating == 1)
      return water > 0.0 ? mass / water : 0.0;
    return mass;
  }

  std::vector<Grid *> qd_, qi_; // the soil's "_CONC_QD_<t>_", "_CONC_QI_<t>_"
};

void Quietly(const std::function<void()> &body) {
  testing::internal::CaptureStdout();
  body();
  testing::internal::GetCapturedStdout();
}

// --- Tracer mass over sub-steps ---------------------------------------------

struct TracerBalanceCase {
  const char *name;
  int method;
  bool rivers;
};

class SurfaceTracerBalance : public SurfaceTracerTest,
                             public testing::WithParamInterface<TracerBalanceCase> {};

TEST_P(SurfaceTracerBalance, SurfaceAndRiverTracerMassEqualTheInput) {
  const TracerBalanceCase &k = GetParam();
  Raster(test::SteepPlane(k.rivers));
  Tracers({Tracer("amo", 0), Tracer("eva", 1)});
  SurfaceSectionText text;
  text.method = k.method;
  text.maxStep = 300.0;
  text.minStep = 1.0;
  const int substeps = 3;
  auto module = Ready(text.Text(), substeps);
  Quietly([&] { module->BeginTimeStep(0, 1, 6, 2012); });
  std::vector<Grid *> silting(3, nullptr);
  for (std::size_t t = 1; t <= 2; ++t)
    silting[t] = module->Tracers[t].silting;
  bool moved = false;
  for (int s = 0; s < substeps; ++s) {
    // The soil hands over new water of uneven concentration with what
    // stayed on the surface and its tracer.
    const auto fresh = [s](long r, long c) { return 2.0 + ((r * 7 + c * 3 + s) % 5); };
    const auto conc = [s](long r, long c) { return 1.0 + 0.3 * ((r * 5 + c * 2 + s) % 7); };
    double before[3] = {0.0, 0.0, 0.0};
    ForOwn([&](long r, long c) {
      const double left = (*storage_)[r][c];
      (*direct_)[r][c] = fresh(r, c) + left;
      for (std::size_t t = 1; t <= 2; ++t) {
        const double mass = fresh(r, c) * conc(r, c) + left * (*silting[t])[r][c];
        (*qd_[t])[r][c] = Delivered(t, (*direct_)[r][c], mass);
        before[t] += mass;
      }
    });
    Quietly([&] { module->ComputeTimeStep(0, 1, 6, 2012); });
    double after[3] = {0.0, 0.0, 0.0};
    ForOwn([&](long r, long c) {
      for (std::size_t t = 1; t <= 2; ++t) {
        after[t] += (*storage_)[r][c] * (*silting[t])[r][c];
        if (plane_.river(r, c))
          after[t] += (*direct_)[r][c] * (*qd_[t])[r][c];
        if (s == 0 && !plane_.river(r, c) && (*storage_)[r][c] > 0.0 &&
            std::fabs((*silting[t])[r][c] - conc(r, c)) > 1e-3)
          moved = true;
      }
    });
    MPI_Allreduce(MPI_IN_PLACE, before, 3, MPI_DOUBLE, MPI_SUM, MPI_COMM_WORLD);
    MPI_Allreduce(MPI_IN_PLACE, after, 3, MPI_DOUBLE, MPI_SUM, MPI_COMM_WORLD);
    for (std::size_t t = 1; t <= 2; ++t)
      EXPECT_NEAR(after[t], before[t], 1e-12 * before[t]) << "sub-step " << s << ", tracer " << t;
    EXPECT_GT(module->InnerStepsRun(), 1);
  }
  int anyMoved = moved ? 1 : 0;
  MPI_Allreduce(MPI_IN_PLACE, &anyMoved, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  EXPECT_EQ(anyMoved, 1) << "the surface water mixed its tracer";
  module->FinishRun(false);
}

INSTANTIATE_TEST_SUITE_P(Catchments, SurfaceTracerBalance,
                         testing::Values(TracerBalanceCase{"closed", 1, false},
                                         TracerBalanceCase{"river", 1, true},
                                         TracerBalanceCase{"draining", 4, true}),
                         [](const testing::TestParamInfo<TracerBalanceCase> &info) {
                           return info.param.name;
                         });

// --- Flow-weighted tracer rows ----------------------------------------------

struct TracerRowCase {
  const char *name;
  bool siltingUp; // the silting-up module holds every storage: no decay
};

class SurfaceTracerRows : public SurfaceTracerTest,
                          public testing::WithParamInterface<TracerRowCase> {};

TEST_P(SurfaceTracerRows, AreFlowWeightedConcentrationsOfTheSoilsRunoff) {
  const TracerRowCase &k = GetParam();
  SurfacePlane plane;
  plane.rows = 3;
  plane.columns = 4;
  plane.river = [](long, long) { return true; }; // every cell delivers at once
  Raster(plane);
  const double halfTime = 0.5; // days
  Tracers({Tracer("amo", 0), Tracer("eva", 1), Tracer("rad", 0, halfTime)}, k.siltingUp);
  const double baseflow = 0.7, baseflowConc = 5.0;
  qbb_.Components[0][1] = baseflow;
  for (std::size_t t = 1; t <= 3; ++t)
    qbb_.Components[t][1] = baseflowConc;
  const int substeps = 2;
  auto module = Ready(SurfaceSectionText{}.Text(), substeps);

  // Sums over the sub-steps and every process's cells: water times the
  // soil's concentration, and the water.
  double direct[2] = {0.0, 0.0}, inter[2] = {0.0, 0.0};
  std::vector<ExactZoneSums> booked(4); // per tracer: the river cells' booked concentrations
  Quietly([&] { module->BeginTimeStep(0, 1, 6, 2012); });
  for (int s = 0; s < substeps; ++s) {
    const auto d = [s](long r, long c) { return 1.0 + 0.5 * c + 0.25 * s * r; };
    const auto cd = [s](long r, long c) { return 2.0 + 0.3 * r - 0.2 * c + s; };
    const auto i = [s](long r, long) { return 0.2 + 0.1 * r + 0.05 * s; };
    const auto ci = [s](long r, long c) { return 3.0 - 0.1 * c * r + s; };
    ForOwn([&](long r, long c) {
      (*direct_)[r][c] = d(r, c);
      (*inter_)[r][c] = i(r, c);
      for (std::size_t t = 1; t <= 3; ++t) {
        (*qd_[t])[r][c] = Delivered(t, d(r, c), d(r, c) * cd(r, c));
        (*qi_[t])[r][c] = Delivered(t, i(r, c), i(r, c) * ci(r, c));
      }
      direct[0] += d(r, c) * cd(r, c);
      direct[1] += d(r, c);
      inter[0] += i(r, c) * ci(r, c);
      inter[1] += i(r, c);
    });
    Quietly([&] { module->ComputeTimeStep(0, 1, 6, 2012); });
    // What the booking left in the river cells: the delivered water and its
    // concentration.
    ForOwn([&](long r, long c) {
      for (std::size_t t = 1; t <= 3; ++t) {
        booked[t].sx.Add((*direct_)[r][c] * (*qd_[t])[r][c]);
        booked[t].RelCellSum.Add((*direct_)[r][c]);
      }
    });
  }
  Quietly([&] { module->ConcentrateRunoff(0, 1, 6, 2012); });
  MPI_Allreduce(MPI_IN_PLACE, direct, 2, MPI_DOUBLE, MPI_SUM, MPI_COMM_WORLD);
  MPI_Allreduce(MPI_IN_PLACE, inter, 2, MPI_DOUBLE, MPI_SUM, MPI_COMM_WORLD);
  MPIReduceExactZones(booked);
  if (test::Rank() == 0) {
    const double decay =
        k.siltingUp ? 1.0
                    : std::exp(-(60.0 / substeps / 60.0 / 24.0) / (halfTime * 1.442695041111));
    const double a = std::exp(-1.0); // storage constants of one step
    const double qdd = module->QDInflow.Components[0][1] * (1.0 - a);
    const double qii = module->QIInflow.Components[0][1] * (1.0 - a);
    for (std::size_t t = 1; t <= 3; ++t) {
      const double cd = direct[0] / direct[1] * (t == 3 ? decay : 1.0);
      const double ci = inter[0] / inter[1];
      EXPECT_NEAR(module->QDInflow.Components[t][1], cd, 1e-12 * cd) << "tracer " << t;
      EXPECT_NEAR(module->QIInflow.Components[t][1], ci, 1e-12 * ci) << "tracer " << t;
      // The booked rows are exact sums, the same for any process count.
      EXPECT_EQ(module->QDInflow.Components[t][1],
                booked[t].sx.ToDouble() / booked[t].RelCellSum.ToDouble());
      // A storage that was empty releases its inflow's concentration.
      EXPECT_NEAR(module->QDd.Components[t][1], cd, 1e-12 * cd);
      const double qg = (baseflow * baseflowConc + qii * ci + qdd * cd) / (baseflow + qii + qdd);
      EXPECT_NEAR(module->GetQg()->Components[t][1], qg, 1e-12 * qg) << "tracer " << t;
      // Subbasin 2 has no cells: no tracer, and no NaN.
      EXPECT_EQ(module->QDInflow.Components[t][2], 0.0);
    }
    EXPECT_LT(decay, k.siltingUp ? 1.1 : 0.999);
  }
  // The silting-up module's grids are its own: none of them is ours to write.
  for (std::size_t t = 1; t <= 3; ++t) {
    const bool own = module->Tracers[t].siltingIndex > 0;
    EXPECT_EQ(own, !k.siltingUp);
  }
  EXPECT_EQ(module->AllStorageFromSiltingUp, k.siltingUp);
  module->FinishRun(false);
}

INSTANTIATE_TEST_SUITE_P(Storage, SurfaceTracerRows,
                         testing::Values(TracerRowCase{"own", false},
                                         TracerRowCase{"siltingUp", true}),
                         [](const testing::TestParamInfo<TracerRowCase> &info) {
                           return info.param.name;
                         });

// --- Threads ----------------------------------------------------------------

TEST_F(SurfaceTracerTest, TracerResultsDoNotDependOnTheThreads) {
  Raster(test::SteepPlane(true));
  Tracers({Tracer("amo", 0), Tracer("eva", 1)});
  SurfaceSectionText text;
  text.minStep = 1.0;
  text.maxStep = 300.0;
  const auto run = [&](int threads) {
    omp_set_num_threads(threads);
    ForOwn([&](long r, long c) {
      (*direct_)[r][c] = 2.0 + ((r * 7 + c * 3) % 5);
      (*storage_)[r][c] = 0.0;
      for (std::size_t t = 1; t <= 2; ++t)
        (*qd_[t])[r][c] =
            Delivered(t, (*direct_)[r][c], (*direct_)[r][c] * (1.0 + 0.1 * ((r * 5 + c * t) % 7)));
    });
    auto module = Ready(text.Text(), 2);
    Quietly([&] {
      module->BeginTimeStep(0, 1, 6, 2012);
      module->ComputeTimeStep(0, 1, 6, 2012);
    });
    std::vector<double> values;
    ForOwn([&](long r, long c) {
      for (std::size_t t = 1; t <= 2; ++t) {
        values.push_back((*qd_[t])[r][c]);
        values.push_back((*module->Tracers[t].silting)[r][c]);
      }
    });
    Quietly([&] { module->ConcentrateRunoff(0, 1, 6, 2012); });
    if (test::Rank() == 0)
      for (std::size_t t = 1; t <= 2; ++t)
        values.push_back(module->GetQg()->Components[t][1]);
    module->FinishRun(false);
    return values;
  };
  const int before = omp_get_max_threads();
  const std::vector<double> one = run(1);
  EXPECT_EQ(run(2), one);
  omp_set_num_threads(before);
}

} // namespace
} // namespace tavro
