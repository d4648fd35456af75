// The soil-water module's tracer on the test catchment divided over one or
// three processes (with three, subbasins 2 and 3 have no cell on rank 0):
// the set-up of its stack, grids and decay, the initial tracer rows of Qg,
// the tracer rows of a solved run with three calls per step against sums
// over every process's cells, the closure of an amount tracer through those
// rows, and the refusal of a tracer without an input concentration.
#include "soil/soil_module_fixture.h"

#include "kernel/tracer_info.h"
#include "raster/handover/tracer_grid_hooks.h"
#include "support/test_support.h"
#include "tables/soil_class.h"

#include <mpi.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
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

  std::unique_ptr<unsatzonmodellklasse>
  Linked(const SoilSectionText &s, int substeps, int expectedError = 0,
         const std::function<void(unsatzonmodellklasse &)> &beforeInit = {}) {
    auto m = Build(SoilSection(s));
    m->SetSubstepCount(substeps);
    if (beforeInit)
      beforeInit(*m);
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

  // A run that leaves the state grids, the state section and the tracer
  // stack "./cesunsat.asc" with `levels` levels of distinct values, for a
  // set-up with readgrids 1.
  void WriteEarlierRun(unsatzonmodellklasse &m, int levels) {
    SoilTracerGrids &s = m.SoilTracers[1];
    ForOwn(m, [&](long r, long c) {
      for (int j = 1; j <= m.MaxSoilLayers; ++j)
        s.storage[r][c][j] = 0.25 * j + 0.01 * r + 0.001 * c;
    });
    m.WriteStack("./cesunsat.asc", s.storage, levels, false, true);
    WriteStateFiles(m);
    m.SetInitialized(1);
    m.FinishRun(false);
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

// The set-up cases of the tracer part: each changes the section, the
// tracer or the module before InitTracerGrids, and names the exit code,
// the FATAL entry of rank 0 and what the set-up holds.
struct SetUpCase {
  const char *name;
  std::function<void(SoilSectionText &, TracerInfo &)> prepare;
  std::function<void(unsatzonmodellklasse &)> beforeInit;
  int error;
  std::string entry;
  std::function<void(unsatzonmodellklasse &)> check;
};

TEST_F(SoilTracerTest, SetUpCases) {
  const double gwini = 1.0;
  const SetUpCase cases[] = {
      {"decay of a half-life of 10 days in a daily step",
       [](SoilSectionText &, TracerInfo &t) {
         t.radioactive = 1;
         t.half_time = 10.0;
       },
       {},
       0,
       "",
       [](unsatzonmodellklasse &m) { EXPECT_NEAR(m.SoilTracers[1].kind.decay, 0.93303, 5e-6); }},
      {"groundwater layer 1 takes gwini in every layer",
       {},
       [](unsatzonmodellklasse &m) {
         for (long r = m.FirstRow; r <= m.LastRow; ++r)
           for (long c = 1; c <= kSoilColumns; ++c)
             if (SoilSubbasin(r, c) != kSoilNoData)
               m.Grids.GroundwaterLevel.Values[r][c] = 1.0;
       },
       0,
       "",
       [this, gwini](unsatzonmodellklasse &m) {
         const SoilTracerGrids &s = m.SoilTracers[1];
         ForOwn(m, [&](long r, long c) {
           for (int j = 1; j <= m.MaxSoilLayers; ++j) {
             const double water = m.Grids.Theta.Levels[r][c][j] * 1000.0 * 0.15;
             EXPECT_NEAR(s.storage[r][c][j], gwini * water, 1e-12 * water) << j;
           }
         });
       }},
      {"a stack read with readgrids 1",
       [this](SoilSectionText &s, TracerInfo &) {
         auto first = Linked(s, 1);
         WriteEarlierRun(*first, first->MaxSoilLayers);
         s.readgrids = 1;
       },
       {},
       0,
       "",
       [this](unsatzonmodellklasse &m) {
         ForOwn(m, [&](long r, long c) {
           for (int j = 1; j <= m.MaxSoilLayers; ++j)
             EXPECT_EQ(m.SoilTracers[1].storage[r][c][j], 0.25 * j + 0.01 * r + 0.001 * c);
         });
       }},
      {"a stack of another level count",
       [this](SoilSectionText &s, TracerInfo &) {
         auto first = Linked(s, 1);
         WriteEarlierRun(*first, first->MaxSoilLayers - 1);
         s.readgrids = 1;
       },
       {},
       13,
       "FATAL: wrong number of levels in stack ./cesunsat.asc (there are 9 levels, it must be 10",
       {}},
      {"a control-point file that cannot be created",
       [this](SoilSectionText &s, TracerInfo &) {
         const auto [row, column] = CellOfRankZero();
         s.controlPoint = std::to_string(row) + " " + std::to_string(column);
         MPI_Barrier(MPI_COMM_WORLD);
         if (Rank() == 0) // a directory in the file's place
           std::filesystem::create_directory("cespoint.sta");
         MPI_Barrier(MPI_COMM_WORLD);
       },
       {},
       65,
       "FATAL: error opening tracer concentration file ./cespoint.sta",
       {}},
      {"no input concentration grid",
       [this](SoilSectionText &, TracerInfo &) {
         registry_.ReleaseGrid(registry_.FindGrid("concflux_tracer_1_input", false));
       },
       {},
       33,
       "",
       {}},
  };
  const TracerInfo tracer = info_[1];
  for (const SetUpCase &c : cases) {
    SCOPED_TRACE(c.name);
    info_[1] = tracer;
    SoilSectionText s = ThreeSubbasins();
    if (c.prepare)
      c.prepare(s, info_[1]);
    auto m = Linked(s, 1, c.error, c.beforeInit);
    if (c.check && c.error == 0)
      c.check(*m);
    if (!c.entry.empty() && Rank() == 0) {
      EXPECT_TRUE(Logged(c.entry));
    }
    m->ReleaseMemory();
  }
}

TEST_F(SoilTracerTest, ControlPointFileShowsTheLayersConcentrations) {
  SoilSectionText s = ThreeSubbasins();
  const auto [row, column] = CellOfRankZero();
  s.controlPoint = std::to_string(row) + " " + std::to_string(column);
  auto m = Linked(s, 1);
  EXPECT_EQ(m->HasControlPoint, Rank() == 0);
  std::string expected;
  if (m->HasControlPoint) {
    expected = "YY\tMM\tDD\tHH\ttracer concentration for tracer 1 (ces) [" + std::to_string(row) +
               "][" + std::to_string(column) + "]";
    for (int j = 1; j <= m->MaxSoilLayers; ++j)
      expected += "[" + std::to_string(j) + "]\t";
    expected += "\n";
  }
  for (int step = 1; step <= 2; ++step) {
    for (long r = held_.first; r <= held_.last; ++r)
      for (long c = 1; c <= kSoilColumns; ++c)
        (*rain_)[r][c] = 30.0;
    m->BeginTimeStep(6, step, 1, 2012);
    m->ComputeTimeStep(6, step, 1, 2012);
    if (!m->HasControlPoint)
      continue;
    expected += "2012\t1\t" + std::to_string(step) + "\t6";
    for (int j = 1; j <= m->MaxSoilLayers; ++j) {
      const double theta = m->Grids.Theta.Levels[row][column][j];
      char value[64];
      std::snprintf(value, sizeof value, "\t%g",
                    m->SoilTracers[1].storage[row][column][j] / (0.15 * 1000.0 * theta));
      expected += value;
    }
    expected += "\n";
  }
  m->FlushStatistics();
  if (m->HasControlPoint) {
    EXPECT_EQ(test::ReadWholeFile("./cespoint.sta"), expected);
  }
  m->ReleaseMemory();
}

// With the groundwater module coupled, its layer-1 grid is a concentration on
// both sides: the soil writes its groundwater layer's concentration there at
// set-up and after every call, fills the layers below the table from it and
// mixes the aquifer below the column at it. So the tracer of every cell
// (its layers, the surface store and the aquifer's share M = c theta_s 1000
// h) changes only by what the rain brought and the runoff took.
TEST_F(SoilTracerTest, CoupledTracerMassClosesThroughTheGroundwaterHandOver) {
  constexpr double kAquifer = 10.0; // m
  AddGrid("aquifer_thickness_1", [](long, long) { return kAquifer; });
  AddGrid("gw_storage_coeff_1", [](long, long) { return 0.1; });
  // The groundwater module's start value, which the soil's set-up replaces.
  const Grid &aquifer =
      AddGrid("concstor_tracer_1_layer_1_groundwater_flow", [](long, long) { return 7.0; });
  auto m = Linked(ThreeSubbasins(), 1, 0,
                  [](unsatzonmodellklasse &module) { module.SetGroundwaterCoupling(1); });
  const SoilTracerGrids &tracer = m->SoilTracers[1];
  ASSERT_EQ(tracer.groundwater, &aquifer);
  ForOwn(*m, [&](long r, long c) { EXPECT_EQ(aquifer[r][c], 1.0); }); // gwini
  const auto content = [&](long r, long c) {
    return CoupledTracerContent(*m, aquifer, kAquifer, r, c);
  };
  for (int step = 1; step <= 3; ++step) {
    for (long r = held_.first; r <= held_.last; ++r)
      for (long c = 1; c <= kSoilColumns; ++c)
        (*rain_)[r][c] = step == 1 ? 40.0 + r : 0.0;
    // No water to or from the aquifer through the baseflow grid.
    ForOwn(*m, [&](long r, long c) { m->Grids.Baseflow.Values[r][c] = 0.0; });
    std::vector<double> before;
    ForOwn(*m, [&](long r, long c) { before.push_back(content(r, c)); });
    m->BeginTimeStep(0, step, 1, 2012);
    m->ComputeTimeStep(0, step, 1, 2012);
    std::size_t i = 0;
    ForOwn(*m, [&](long r, long c) {
      const double input = (2.0 + 0.1 * r + 0.05 * c) * (*rain_)[r][c];
      const double released = tracer.direct[r][c] + tracer.interflow[r][c];
      EXPECT_NEAR(content(r, c) + released, before[i] + input, 1e-12 * before[i])
          << "step " << step << " r " << r << " c " << c;
      // What the soil hands back is the concentration of its groundwater layer.
      const int g = static_cast<int>(m->Grids.GroundwaterLevel.Values[r][c]);
      const double water = m->Grids.Theta.Levels[r][c][g] * 1000.0 * 0.15;
      EXPECT_NEAR(aquifer[r][c], tracer.storage[r][c][g] / water, 1e-12 * aquifer[r][c]);
      ++i;
    });
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
        // The tracer the column released with its baseflow in the call.
        const double b = m->Grids.Baseflow.Values[r][c];
        if (b > 0.0) {
          baseSx[k] += tracer.baseflow[r][c];
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
        const double leftQB = QBb.Components[1][k] * QBb.Components[0][k] * weights[k];
        EXPECT_NEAR(leftQB, baseSx[k], 1e-12 * std::max(1.0, baseSx[k])) << "step " << step;
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

// An amount tracer closes over the catchment: what the cells held and the
// rain brought is what they hold after the run plus what the tracer rows of
// the direct runoff, the interflow and the baseflow carried (each row times
// its water row and the subbasin's cells). Rain falls in the first step
// only, so the later steps' tracer leaves mostly with the baseflow.
TEST_F(SoilTracerTest, BaseflowTracerRowCarriesWhatTheColumnsReleased) {
  SoilSectionText s = ThreeSubbasins();
  s.methode = 3;
  constexpr int kCalls = 3;
  auto m = Linked(s, kCalls);
  const SoilTracerGrids &tracer = m->SoilTracers[1];
  std::vector<double> weights(4, 0.0);
  ForOwn(*m, [&](long r, long c) { weights[static_cast<std::size_t>(SoilSubbasin(r, c))] += 1.0; });
  weights = SummedOverProcesses(weights);
  const auto content = [&] {
    std::vector<double> held(1, 0.0);
    ForOwn(*m, [&](long r, long c) {
      for (int j = 0; j <= m->MaxSoilLayers; ++j)
        held[0] += tracer.storage[r][c][j];
    });
    return SummedOverProcesses(held)[0];
  };
  const double before = content();
  double input = 0.0;
  double rows = 0.0;
  double baseflowRows = 0.0;
  for (int step = 1; step <= 6; ++step) {
    for (long r = held_.first; r <= held_.last; ++r)
      for (long c = 1; c <= kSoilColumns; ++c)
        (*rain_)[r][c] = step == 1 ? 10.0 + 2.0 * r + c : 0.0;
    m->BeginTimeStep(0, step, 1, 2012);
    // The calls share the step's rain.
    std::vector<double> rain(1, 0.0);
    ForOwn(*m, [&](long r, long c) { rain[0] += (2.0 + 0.1 * r + 0.05 * c) * (*rain_)[r][c]; });
    input += SummedOverProcesses(rain)[0];
    for (int call = 0; call < kCalls; ++call)
      m->ComputeTimeStep(0, step, 1, 2012);
    m->ConcentrateRunoff(0, step, 1, 2012);
    if (Rank() == 0)
      for (std::size_t k = 1; k <= 3; ++k) {
        const auto left = [&](const SubbasinRunoffArrays &row) {
          return row.Components[1][k] * row.Components[0][k] * weights[k];
        };
        const double base = left(*m->GetQBb());
        rows += left(*m->GetQD()) + left(*m->GetQI()) + base;
        baseflowRows += base;
      }
  }
  const double after = content();
  if (Rank() == 0) {
    EXPECT_GT(baseflowRows, 0.5 * rows); // the baseflow carried most of it
    EXPECT_NEAR(before + input, after + rows, 1e-12 * input);
  }
  m->ReleaseMemory();
}

} // namespace
} // namespace tavro
