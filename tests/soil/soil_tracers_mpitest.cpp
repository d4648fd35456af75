// The soil-water module's tracer on the test catchment divided over one or
// three processes (with three, subbasins 2 and 3 have no cell on rank 0):
// the set-up of its stack, grids and decay, the initial tracer rows of Qg,
// the tracer rows of a solved run with three calls per step against sums
// over every process's cells, and the refusal of a tracer without an input
// concentration.
#include "soil/soil_module_fixture.h"

#include "kernel/tracer_info.h"
#include "raster/tracer_grid_hooks.h"
#include "support/test_support.h"

#include <mpi.h>

#include <cmath>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::kSoilColumns;
using test::kSoilNoData;
using test::Logged;
using test::Rank;
using test::SoilSection;
using test::SoilSectionText;
using test::SoilSubbasin;
using test::ThreeSubbasins;

class SoilTracerTest : public test::SoilModuleTest {
protected:
  void SetUp() override {
    SoilModuleTest::SetUp();
    InstallTracerGridHooks(registry_);
    AddGrid("concflux_tracer_1_input", [](long r, long c) { return 2.0 + 0.1 * r + 0.05 * c; });
    rain_ = &AddGrid("precipitation", [](long, long) { return 0.0; });
    info_ = OneBasedArray<TracerInfo>(1);
    TracerInfo &t = info_[1];
    t.name = "ces";
    t.max_conc = 1000.0;
    t.soilini = 0.5;
    t.gwini = 1.0;
    t.path = "./";
    t.statext = "sta";
    t.gridext = "asc";
    t.statcode = 2001;
  }

  std::unique_ptr<unsatzonmodellklasse> Linked(const SoilSectionText &s, int substeps,
                                               int expectedError = 0) {
    auto m = Build(SoilSection(s));
    m->SetSubstepCount(substeps);
    int error = -1;
    testing::internal::CaptureStdout();
    m->InitTracerGrids(error, 1, &info_, &statistics_, 200);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(error, expectedError);
    if (error == 0)
      m->SelectWaterInput(false);
    return m;
  }

  template <class Body> void ForOwn(const unsatzonmodellklasse &m, Body &&body) const {
    for (long r = m.FirstRow; r <= m.LastRow; ++r)
      for (long c = 1; c <= kSoilColumns; ++c)
        if (Own(r, c) && SoilSubbasin(r, c) != kSoilNoData)
          body(r, c);
  }

  Grid *rain_ = nullptr;
  OneBasedArray<TracerInfo> info_;
};

// Per subbasin 1..3, summed over every process's cells.
std::vector<double> SummedOverProcesses(std::vector<double> values) {
  MPI_Allreduce(MPI_IN_PLACE, values.data(), static_cast<int>(values.size()), MPI_DOUBLE, MPI_SUM,
                MPI_COMM_WORLD);
  return values;
}

TEST_F(SoilTracerTest, SetUpFillsTheStackAndTheInitialRowsOfQg) {
  auto m = Linked(ThreeSubbasins(), 1);
  ASSERT_EQ(m->SoilTracers.size(), 2u);
  const SoilTracerGrids &s = m->SoilTracers[1];
  EXPECT_GT(registry_.FindGrid("concstor_tracer_1_unsatzon_model", false), 0);
  EXPECT_EQ(registry_.FindGrid("_CONC_QD_1_", false), s.directIndex);
  EXPECT_EQ(registry_.FindGrid("_CONC_QI_1_", false), s.interflowIndex);
  EXPECT_EQ(registry_[s.storageIndex].StackData, &s.storage);
  ForOwn(*m, [&](long r, long c) {
    const int g = static_cast<int>(m->Grids.GroundwaterLevel.Values[r][c]);
    for (int j = 1; j <= m->MaxSoilLayers; ++j) {
      const double water = m->Grids.Theta.Levels[r][c][j] * 1000.0 * 0.15;
      EXPECT_NEAR(s.storage[r][c][j], (j < g ? 0.5 : 1.0) * water, 1e-12 * water);
    }
    EXPECT_NEAR(s.concentration[r][c], 1.0, 1e-12);
  });
  // The groundwater layers hold gwini everywhere, so every subbasin starts
  // with it on every process, also one without a cell on rank 0.
  for (std::size_t k = 1; k <= 3; ++k)
    EXPECT_NEAR(m->GetQg()->Components[1][k], 1.0, 1e-12);
  m->ReleaseMemory();
}

TEST_F(SoilTracerTest, RadioactiveDecayIsPerCall) {
  info_[1].radioactive = 1;
  info_[1].half_time = 10.0;
  for (const int calls : {1, 3}) {
    auto m = Linked(ThreeSubbasins(), calls);
    EXPECT_NEAR(m->SoilTracers[1].kind.decay, std::exp(-(1.0 / calls) / (1.442695041111 * 10.0)),
                1e-15);
    if (calls == 1) {
      EXPECT_NEAR(m->SoilTracers[1].kind.decay, 0.93303, 5e-6);
    }
    m->ReleaseMemory();
  }
}

TEST_F(SoilTracerTest, WithoutAnInputConcentrationTheSetUpStops) {
  registry_.ReleaseGrid(registry_.FindGrid("concflux_tracer_1_input", false));
  auto m = Linked(ThreeSubbasins(), 1, 33);
  if (Rank() == 0) {
    EXPECT_TRUE(Logged("concflux_tracer_1_input"));
  }
  m->ReleaseMemory();
}

TEST_F(SoilTracerTest, TracerRowsOfASolvedRunComeFromEveryProcessesCells) {
  SoilSectionText s = ThreeSubbasins();
  s.methode = 3;
  auto m = Linked(s, 3);
  const SoilTracerGrids &tracer = m->SoilTracers[1];
  std::vector<double> releasedQD(4, 0.0), releasedQI(4, 0.0), weights(4, 0.0);
  ForOwn(*m, [&](long r, long c) { weights[static_cast<std::size_t>(SoilSubbasin(r, c))] += 1.0; });
  weights = SummedOverProcesses(weights);
  for (int step = 1; step <= 5; ++step) {
    for (long r = held_.first; r <= held_.last; ++r)
      for (long c = 1; c <= kSoilColumns; ++c)
        (*rain_)[r][c] = step <= 3 ? 60.0 + 2.0 * r + c : 0.0;
    m->BeginTimeStep(0, step, 1, 2012);
    std::vector<double> qd(4, 0.0), qi(4, 0.0), baseSx(4, 0.0), baseWeight(4, 0.0);
    for (int call = 0; call < 3; ++call) {
      m->ComputeTimeStep(0, step, 1, 2012);
      ForOwn(*m, [&](long r, long c) {
        const auto k = static_cast<std::size_t>(SoilSubbasin(r, c));
        qd[k] += tracer.direct[r][c];
        qi[k] += tracer.interflow[r][c];
        const double b = m->Grids.Baseflow.Values[r][c];
        if (b > 0.0) {
          const int g = static_cast<int>(m->Grids.GroundwaterLevel.Values[r][c]);
          baseSx[k] +=
              b * tracer.storage[r][c][g] / (m->Grids.Theta.Levels[r][c][g] * 1000.0 * 0.15);
          baseWeight[k] += b;
        }
      });
    }
    m->ConcentrateRunoff(0, step, 1, 2012);
    qd = SummedOverProcesses(qd);
    qi = SummedOverProcesses(qi);
    baseSx = SummedOverProcesses(baseSx);
    baseWeight = SummedOverProcesses(baseWeight);
    const SubbasinRunoffArrays &QD = *m->GetQD();
    const SubbasinRunoffArrays &QI = *m->GetQI();
    const SubbasinRunoffArrays &QBb = *m->GetQBb();
    for (std::size_t k = 1; k <= 3; ++k) {
      releasedQD[k] += qd[k];
      releasedQI[k] += qi[k];
      const double base = baseWeight[k] > 0.0 ? baseSx[k] / baseWeight[k] : 0.0;
      // Every process holds rank 0's tracer rows of QBb and Qg.
      EXPECT_NEAR(QBb.Components[1][k], base, 1e-12 * base) << "step " << step << " k " << k;
      if (Rank() == 0) {
        // What left through the tracer rows is what the cells gave: the
        // tracer row is a concentration of the water row's flow.
        const double leftQD = QD.Components[1][k] * QD.Components[0][k] * weights[k];
        const double leftQI = QI.Components[1][k] * QI.Components[0][k] * weights[k];
        EXPECT_NEAR(leftQD, qd[k], 1e-12 * std::max(1.0, qd[k])) << "step " << step;
        EXPECT_NEAR(leftQI, qi[k], 1e-12 * std::max(1.0, qi[k])) << "step " << step;
        const double g = QBb.Components[0][k];
        const double h = m->QIi.Components[0][k];
        const double i = m->QDd.Components[0][k];
        const double expected =
            g + h + i > 0.0
                ? (base * g + h * m->QIi.Components[1][k] + i * m->QDd.Components[1][k]) /
                      (g + h + i)
                : 0.0;
        EXPECT_NEAR(m->GetQg()->Components[1][k], expected, 1e-12 * std::max(1.0, expected));
      }
    }
  }
  // The tracer reached every outlet, also those of subbasins without a cell
  // on rank 0.
  for (std::size_t k = 1; k <= 3; ++k) {
    EXPECT_GT(releasedQD[k] + releasedQI[k], 0.0) << k;
    EXPECT_GT(m->GetQg()->Components[1][k], 0.0) << k;
  }
  m->ReleaseMemory();
}

} // namespace
} // namespace tavro
