// The surface routing module on small planes divided over the processes:
// construction and its refusals, conservation of the overland flow, the
// kinematic wave on a plane against Wooding's solution, the flow-time zones
// and linear storages, and the state section.
#include "surface_routing_fixture.h"

#include "raster/parallel/non_finite_water.h"

#include <omp.h>

#include <cmath>
#include <cstdio>
#include <limits>

namespace tavro {
namespace {

using test::kSrNoData;
using test::SurfacePlane;
using test::SurfaceRoutingTest;
using test::SurfaceSectionText;

TEST_F(SurfaceRoutingTest, ConstructionTable) {
  Raster(SurfacePlane{});
  SurfaceSectionText text;
  text.method = 6;
  EXPECT_EQ(Failure(text.Text()), 10);
  text.method = 1;
  text.maxIterVelocity = 0;
  EXPECT_EQ(Failure(text.Text()), 17);
  text.maxIterVelocity = 200;
  {
    // The longest inner step becomes an integer fraction of the sub-step.
    text.maxStep = 700.0;
    auto module = Build(text.Text());
    EXPECT_DOUBLE_EQ(module->Velocity.MaxSubTimeStep, 720.0);
    EXPECT_DOUBLE_EQ(module->Velocity.MinSubTimeStep, 10.0);
    EXPECT_EQ(module->FlowPathMethod, 1);
    if (test::Rank() == 0) {
      EXPECT_TRUE(test::Logged("INFO: longest allowed subtimestep changed from 700 to 720. Must "
                               "be integer fraction of time step in seconds."));
    }
    EXPECT_EQ(module->StorageFileName, "state.txt_" + std::to_string(test::Rank()));
    // Every valid own cell starts with the critical shear stress 0.9.
    ForOwn([&](long r, long c) { EXPECT_EQ((*module->CriticalShear)[r][c], 0.9); });
    module->FinishRun(false);
    text.maxStep = 600.0;
  }
  {
    // A storage statistics line with a file name only: code 0, no table,
    // and the next word is the state file.
    text.storageLine = "sstor.sta";
    text.storageFile = "next.txt";
    auto module = Build(text.Text());
    EXPECT_EQ(module->StatisticsFiles[4].code, 0);
    EXPECT_TRUE(module->StatisticsFiles[4].name.empty());
    EXPECT_EQ(module->StorageFileName, "next.txt_" + std::to_string(test::Rank()));
    module->FinishRun(false);
    text = SurfaceSectionText{};
  }
  {
    settings_.SpinUpSwitch = 1;
    auto module = Build(text.Text());
    EXPECT_EQ(module->IsActive(), 0);
    EXPECT_EQ(module->GetQg(), nullptr);
    settings_.SpinUpSwitch = 0;
  }
  AddGrid("GlacierCodes", [](long, long) { return 0.0; });
  EXPECT_EQ(Failure(text.Text()), 2);
}

// The inner step limits divide the sub-step and the cell lengths: a limit
// that is not above 0 is refused while the section is read, naming the key.
TEST_F(SurfaceRoutingTest, InnerStepLengthsNotAbove0AreRefused) {
  Raster(SurfacePlane{});
  struct Case {
    const char *key;
    double SurfaceSectionText::*limit;
  };
  const Case cases[] = {{"MinSubTimeStep", &SurfaceSectionText::minStep},
                        {"MaxSubTimeStep", &SurfaceSectionText::maxStep}};
  for (const Case &c : cases) {
    for (const double bad : {0.0, -1.0, -600.0}) {
      SCOPED_TRACE(Concat(c.key, " ", bad));
      SurfaceSectionText text;
      text.*c.limit = bad;
      EXPECT_EQ(Failure(text.Text()), 17);
      if (test::Rank() == 0) {
        EXPECT_TRUE(
            test::Logged(Concat("FATAL: error in control file, ", c.key,
                                " (must be above 0, found ", bad, "); SurfaceRoutingModel")));
      }
    }
  }
}

TEST_F(SurfaceRoutingTest, CellsWithoutLandUseAndMissingSoilArraysAreRefused) {
  SurfacePlane plane;
  Raster(plane);
  // No-data, and values that name no record of the table (one record here),
  // are no land use: a cell without any is refused, never looked up.
  for (const double missing : {kSrNoData, 0.0, 2.0, -1.0}) {
    for (long r = held_.first; r <= held_.last; ++r)
      (*registry_[registry_.FindGrid("landuse1", false)].Data)[r][3] = missing;
    EXPECT_EQ(Failure(SurfaceSectionText{}.Text()), 17) << missing;
  }
  for (long r = held_.first; r <= held_.last; ++r)
    (*registry_[registry_.FindGrid("landuse1", false)].Data)[r][3] = 1.0;
  auto module = Ready(SurfaceSectionText{}.Text());
  module->SetQBb(nullptr); // the soil-water module is off
  EXPECT_EQ(test::ExitCodeOf([&] { module->BeginTimeStep(0, 1, 6, 2012); }), 17);
  module->FinishRun(false);
}

// Runs sub-steps with the console captured.
void Substeps(surfaceroutingclass &module, int count) {
  testing::internal::CaptureStdout();
  for (int i = 0; i < count; ++i)
    module.ComputeTimeStep(0, 1, 6, 2012);
  testing::internal::GetCapturedStdout();
}

TEST_F(SurfaceRoutingTest, KernelPassReportsAPendingFloatingPointErrorWithItsCell) {
  SurfacePlane plane;
  plane.rows = 4;
  plane.columns = 5;
  Raster(plane);
  auto module = Ready(SurfaceSectionText{}.Text(), 1);
  const auto feed = [&] { ForOwn([&](long r, long c) { (*direct_)[r][c] = 1.0 + r + c; }); };
  feed();
  Substeps(*module, 1);
  if (test::Rank() == 0) {
    EXPECT_FALSE(test::Logged("INFO: fpe in i1: ")) << "nothing pending, nothing reported";
  }
  EXPECT_EQ(module->FpeFlag.load(), 0);
  // A pending error is reported once, with a cell's row and column, and the
  // later cells re-arm the flag.
  module->FpeFlag.store(1);
  feed();
  Substeps(*module, 1);
  if (test::Rank() == 0) {
    EXPECT_TRUE(test::Logged("INFO: fpe in i1: "));
    const std::string log = test::ReadWholeFile("Tavro_Diag_0.xml");
    const std::size_t at = log.find("fpe in i1: ");
    ASSERT_NE(at, std::string::npos);
    long row = 0, column = 0;
    ASSERT_EQ(std::sscanf(log.c_str() + at, "fpe in i1: %ld, i2: %ld", &row, &column), 2);
    EXPECT_TRUE(Own(row, column)) << row << ", " << column;
    EXPECT_EQ(log.find("fpe in i1: ", at + 1), std::string::npos) << "reported once";
  }
  EXPECT_EQ(module->FpeFlag.load(), 0);
  module->FinishRun(false);
}

struct ConservationCase {
  const char *name;
  int method;
  bool rivers;
  int substeps;
};

class OverlandConservation : public SurfaceRoutingTest,
                             public testing::WithParamInterface<ConservationCase> {};

TEST_P(OverlandConservation, SurfaceAndRiverWaterEqualTheInput) {
  const ConservationCase &k = GetParam();
  Raster(test::SteepPlane(k.rivers));
  SurfaceSectionText text;
  text.method = k.method;
  text.maxStep = 300.0;
  text.minStep = 1.0;
  auto module = Ready(text.Text(), k.substeps);
  testing::internal::CaptureStdout();
  module->BeginTimeStep(0, 1, 6, 2012);
  testing::internal::GetCapturedStdout();
  for (int s = 0; s < k.substeps; ++s) {
    // The soil hands over uneven runoff plus what stayed on the surface.
    ForOwn([&](long r, long c) {
      (*direct_)[r][c] = 2.0 + ((r * 7 + c * 3) % 5) + (*storage_)[r][c];
    });
    const double before = Total([&](long r, long c) { return (*direct_)[r][c]; });
    Substeps(*module, 1);
    const double surface = Total([&](long r, long c) { return (*storage_)[r][c]; });
    const double rivers =
        Total([&](long r, long c) { return plane_.river(r, c) ? (*direct_)[r][c] : 0.0; });
    EXPECT_NEAR(surface + rivers, before, 1e-12 * before) << "sub-step " << s;
    EXPECT_GT(module->InnerStepsRun(), 1);
    ForOwn([&](long r, long c) {
      EXPECT_GE((*storage_)[r][c], 0.0);
      if (!plane_.river(r, c)) {
        EXPECT_EQ((*direct_)[r][c], 0.0);
      }
    });
    // The module's own balance, over all processes (water crosses strips).
    const OverlandBalance &own = module->LastBalance();
    double local[3] = {own.Input, own.Surface, own.Rivers}, all[3];
    MPI_Allreduce(local, all, 3, MPI_DOUBLE, MPI_SUM, MPI_COMM_WORLD);
    const OverlandBalance b{all[0], all[1], all[2]};
    EXPECT_NEAR(b.Input, before, 1e-12 * before);
    EXPECT_NEAR(b.Residual(), 0.0, 1e-12 * b.Input);
    if (k.rivers) {
      EXPECT_GT(rivers, 0.0);
    }
  }
  module->FinishRun(false);
}

INSTANTIATE_TEST_SUITE_P(Catchments, OverlandConservation,
                         testing::Values(ConservationCase{"closed", 1, false, 1},
                                         ConservationCase{"river", 1, true, 1},
                                         ConservationCase{"draining", 4, true, 6},
                                         ConservationCase{"fixed", 5, true, 4}),
                         [](const testing::TestParamInfo<ConservationCase> &info) {
                           return info.param.name;
                         });

TEST_F(SurfaceRoutingTest, KinematicWaveOnAPlaneFollowsWooding) {
  // Three identical rows of 20 plane cells draining east into a river cell.
  constexpr double kDx = 10.0, kSlope = 0.01, kStrickler = 20.0;
  constexpr double kRain = 50.0 / 3600.0 / 1000.0; // m/s
  constexpr int kSubsteps = 120;                   // of 30 s in an hour
  SurfacePlane plane;
  plane.rows = 3;
  plane.columns = 21;
  plane.cellSize = kDx;
  plane.slopeEast = kSlope;
  plane.slopeSouth = 0.0;
  plane.river = [](long, long c) { return c == 21; };
  Raster(plane);
  SurfaceSectionText text;
  text.method = 2;
  text.maxStep = 30.0;
  text.minStep = 1.0;
  text.maxErrorVelocity = 1e-12;
  auto module = Ready(text.Text(), kSubsteps);
  const double substep = module->SubstepLength;
  ASSERT_DOUBLE_EQ(substep, 30.0);
  const double alpha = kStrickler * std::sqrt(kSlope);
  const double length = 20.0 * kDx;
  const double equilibrium = kRain * length; // m2/s
  const double te = std::pow(length / (alpha * std::pow(kRain, 2.0 / 3.0)), 0.6);
  int compared = 0;
  for (int n = 1; n * substep <= 2.5 * te; ++n) {
    ForOwn([&](long r, long c) {
      (*direct_)[r][c] = plane_.river(r, c) ? 0.0 : kRain * 1000.0 * substep + (*storage_)[r][c];
    });
    Substeps(*module, 1);
    const double t = n * substep;
    const double delivered =
        Total([&](long r, long c) { return plane_.river(r, c) ? (*direct_)[r][c] : 0.0; }) / 3.0;
    const double q = delivered / 1000.0 * kDx / substep; // m2/s per width
    const double expected = t < te ? alpha * std::pow(kRain * t, 5.0 / 3.0) : equilibrium;
    if (t <= 0.8 * te || t >= 1.5 * te) {
      EXPECT_NEAR(q, expected, 0.02 * equilibrium) << "t = " << t << " s, te = " << te;
      ++compared;
    }
  }
  EXPECT_GT(compared, 70);
  // Equilibrium depths (i x / alpha)^(3/5) with x at the cell's lower edge,
  // as the sub-step starts (what the soil hands over).
  ForOwn([&](long r, long c) {
    if (c < 6 || plane_.river(r, c))
      return;
    const double fed = (*storage_)[r][c] / 1000.0 + kRain * substep;
    const double depth = std::pow(kRain * c * kDx / alpha, 0.6);
    EXPECT_NEAR(fed, depth, 0.05 * depth) << r << "/" << c;
  });
  module->FinishRun(false);
}

// River cells only: what the soil hands over reaches the zones whole.
SurfacePlane RiverPlane() {
  SurfacePlane plane;
  plane.rows = 3;
  plane.columns = 4;
  plane.river = [](long, long) { return true; };
  return plane;
}

// The same with subbasin 2 in the last row: every subbasin has cells, as
// flow-time zones require.
SurfacePlane ZonedRiverPlane() {
  SurfacePlane plane = RiverPlane();
  plane.zoneOf = [](long r, long) { return r <= 2 ? 1.0 : 2.0; };
  return plane;
}

void Step(surfaceroutingclass &module, int substeps) {
  testing::internal::CaptureStdout();
  module.BeginTimeStep(0, 1, 6, 2012);
  for (int i = 0; i < substeps; ++i)
    module.ComputeTimeStep(0, 1, 6, 2012);
  module.ConcentrateRunoff(0, 1, 6, 2012);
  testing::internal::GetCapturedStdout();
}

TEST_F(SurfaceRoutingTest, LinearStorageReleasesAPulse) {
  Raster(RiverPlane());
  kelsqd_.Values[1] = 60.0; // k = the time step
  kelsqi_.Values[1] = 60.0;
  auto module = Ready(SurfaceSectionText{}.Text(), 2);
  // A pulse of 3 mm direct runoff and 1 mm interflow per sub-step, every
  // cell of subbasin 1.
  ForOwn([&](long r, long c) {
    (*direct_)[r][c] = 3.0;
    (*inter_)[r][c] = 1.0;
  });
  testing::internal::CaptureStdout();
  module->BeginTimeStep(0, 1, 6, 2012);
  module->ComputeTimeStep(0, 1, 6, 2012);
  ForOwn([&](long r, long c) { (*direct_)[r][c] = 3.0; });
  module->ComputeTimeStep(0, 1, 6, 2012);
  module->ConcentrateRunoff(0, 1, 6, 2012);
  testing::internal::GetCapturedStdout();
  const double a = std::exp(-1.0);
  if (test::Rank() == 0) {
    // Both components reach the storages whole: two sub-steps of 3 and of 1.
    EXPECT_NEAR(module->QDInflow.Components[0][1], 6.0, 1e-12);
    EXPECT_NEAR(module->QIInflow.Components[0][1], 2.0, 1e-12);
    EXPECT_NEAR(module->QDd.Components[0][1], 6.0 * (1.0 - a), 1e-12);
    EXPECT_NEAR(module->GetQg()->Components[0][1], 8.0 * (1.0 - a), 1e-12);
    EXPECT_NEAR(1.0 - a, 0.6321, 1e-4);
  }
  ForOwn([&](long r, long c) {
    (*direct_)[r][c] = 0.0;
    (*inter_)[r][c] = 0.0;
  });
  Step(*module, 2);
  if (test::Rank() == 0) {
    EXPECT_NEAR(module->QDd.Components[0][1], 6.0 * (1.0 - a) * a, 1e-12);
    // Subbasin 2 has no cells: nothing, and no NaN.
    EXPECT_EQ(module->QDInflow.Components[0][2], 0.0);
    EXPECT_EQ(module->GetQg()->Components[0][2], 0.0);
  }
  module->FinishRun(false);
}

TEST_F(SurfaceRoutingTest, FlowTimeZonesDelayAndTheirRefusals) {
  SurfacePlane plane = ZonedRiverPlane();
  Raster(plane);
  Grid &flow = AddGrid("flow_times", [](long, long c) { return c <= 2 ? 1.0 : 2.0; });
  auto module = Ready(SurfaceSectionText{}.Text(), 1);
  ForOwn([&](long r, long c) { (*direct_)[r][c] = c <= 2 ? 0.0 : 4.0; });
  Step(*module, 1);
  if (test::Rank() == 0) {
    EXPECT_EQ(module->QDInflow.Components[0][1], 0.0);
  }
  ForOwn([&](long r, long c) { (*direct_)[r][c] = 0.0; });
  Step(*module, 1);
  if (test::Rank() == 0) {
    EXPECT_NEAR(module->QDInflow.Components[0][1], 4.0 * 4.0 / 8.0, 1e-12);
  }
  module->FinishRun(false);

  // A first zone without cells, a subbasin without any zone.
  for (long r = held_.first; r <= held_.last; ++r)
    for (long c = 1; c <= plane.columns; ++c)
      flow[r][c] = 2.0;
  EXPECT_EQ(SetUpFailure(SurfaceSectionText{}.Text()), 61);
  for (long r = held_.first; r <= held_.last; ++r)
    for (long c = 1; c <= plane.columns; ++c)
      flow[r][c] = kSrNoData;
  EXPECT_EQ(SetUpFailure(SurfaceSectionText{}.Text()), 6);
}

TEST_F(SurfaceRoutingTest, SplitRunEqualsLongRun) {
  Raster(ZonedRiverPlane());
  kelsqd_.Values[1] = 90.0;
  kelsqi_.Values[1] = 200.0;
  AddGrid("flow_times", [](long, long c) { return c <= 2 ? 1.0 : 3.0; });
  const auto feed = [&](int step) {
    ForOwn([&](long r, long c) {
      (*direct_)[r][c] = 1.0 + step + 0.1 * c;
      (*inter_)[r][c] = 0.5 * step + 0.01 * r;
    });
  };
  SurfaceSectionText text;
  text.storageFile = "split.txt";
  std::vector<double> longRun;
  {
    auto module = Ready(text.Text(), 2);
    for (int step = 0; step < 5; ++step) {
      feed(step);
      Step(*module, 2);
      longRun.push_back(module->GetQg()->Components[0][1]);
    }
    module->FinishRun(false);
  }
  std::vector<double> splitRun;
  {
    auto module = Ready(text.Text(), 2);
    for (int step = 0; step < 2; ++step) {
      feed(step);
      Step(*module, 2);
      splitRun.push_back(module->GetQg()->Components[0][1]);
    }
    module->FinishRun(false);
  }
  text.readGrids = 1;
  {
    auto module = Ready(text.Text(), 2);
    for (int step = 2; step < 5; ++step) {
      feed(step);
      Step(*module, 2);
      splitRun.push_back(module->GetQg()->Components[0][1]);
    }
    module->FinishRun(false);
  }
  if (test::Rank() == 0) {
    EXPECT_GT(longRun.back(), 0.0);
    EXPECT_EQ(splitRun, longRun);
  }
}

TEST_F(SurfaceRoutingTest, StateMismatchesAndAMissingSection) {
  Raster(ZonedRiverPlane());
  SurfaceSectionText text;
  text.storageFile = "zones.txt";
  {
    // Written without "flow_times": one zone per subbasin.
    auto module = Ready(text.Text(), 1);
    module->FinishRun(false);
  }
  text.readGrids = 1;
  AddGrid("flow_times", [](long, long c) { return c <= 2 ? 1.0 : 2.0; });
  EXPECT_EQ(SetUpFailure(text.Text()), 71);
  if (test::Rank() == 0) {
    EXPECT_TRUE(test::Logged("FATAL: error in storage file content reading maxzeit of actual "
                             "subbasin:"));
  }
  // A file without the section: a warning, and the run goes on.
  test::WriteFixture("other.txt_" + std::to_string(test::Rank()), "[unsatzon_model]\n1\n");
  text.storageFile = "other.txt";
  auto module = Ready(text.Text(), 1);
  if (test::Rank() == 0) {
    EXPECT_TRUE(test::Logged("WARNING: error locking for the section [SurfaceRoutingModel] in"));
  }
  module->FinishRun(false);
}

TEST_F(SurfaceRoutingTest, ResultsDoNotDependOnTheThreads) {
  SurfacePlane plane;
  plane.rows = 7;
  plane.columns = 9;
  plane.cellSize = 5.0;
  plane.slopeEast = 0.08;
  plane.river = [](long r, long c) { return r == 7 && c >= 5; };
  Raster(plane);
  SurfaceSectionText text;
  text.minStep = 1.0;
  text.maxStep = 300.0;
  const auto run = [&](int threads) {
    omp_set_num_threads(threads);
    ForOwn([&](long r, long c) {
      (*direct_)[r][c] = 2.0 + ((r * 7 + c * 3) % 5);
      (*storage_)[r][c] = 0.0;
    });
    auto module = Ready(text.Text(), 2);
    Step(*module, 2);
    std::vector<double> values;
    ForOwn([&](long r, long c) {
      values.push_back((*storage_)[r][c]);
      values.push_back((*direct_)[r][c]);
      for (int k = 0; k < 10; ++k) {
        values.push_back(module->VelocityStack[r][c][k]);
        values.push_back(module->FluxStack[r][c][k]);
      }
    });
    if (test::Rank() == 0)
      values.push_back(module->GetQg()->Components[0][1]);
    module->FinishRun(false);
    return values;
  };
  const int before = omp_get_max_threads();
  const std::vector<double> one = run(1);
  EXPECT_EQ(run(2), one);
  omp_set_num_threads(before);
}

// Water handed over to the surface that is no usable number stops the
// sub-step on every process with the exit code, and rank 0's FATAL entry
// names the module, the grid and the cell.
struct BadWaterCase {
  const char *name;
  double value;
  const char *named; // the grid and value the entry names
};

class SurfaceBadWater : public SurfaceRoutingTest,
                        public testing::WithParamInterface<BadWaterCase> {};

TEST_P(SurfaceBadWater, StopsTheRun) {
  const BadWaterCase &k = GetParam();
  SurfacePlane plane;
  plane.rows = 4;
  plane.columns = 5;
  Raster(plane);
  auto module = Ready(SurfaceSectionText{}.Text(), 1);
  ForOwn([&](long r, long c) { (*direct_)[r][c] = 1.0 + r + c; });
  if (Own(4, 5))
    (*direct_)[4][5] = k.value;
  const test::CallOutcome outcome =
      test::RunCapturingConsole([&] { module->ComputeTimeStep(0, 1, 6, 2012); });
  EXPECT_EQ(outcome.code, NonFiniteWaterExitCode);
  if (test::Rank() == 0) {
    EXPECT_TRUE(test::Logged(
        std::string("FATAL: SurfaceRoutingModel: water out of range on 1.6.2012 0h: ") + k.named +
        " at row 4, col 5"))
        << test::ReadWholeFile("Tavro_Diag_0.xml");
  }
  module->FinishRun(false);
}

INSTANTIATE_TEST_SUITE_P(
    Cells, SurfaceBadWater,
    testing::Values(BadWaterCase{"NaNInput", std::nan(""), "SurfStorSiltingUp holds nan"},
                    BadWaterCase{"InfiniteInput", std::numeric_limits<double>::infinity(),
                                 "SurfStorSiltingUp holds inf"}),
    [](const testing::TestParamInfo<BadWaterCase> &info) { return info.param.name; });

} // namespace
} // namespace tavro
