// The soil columns' exchange with their rivers when the groundwater module is
// coupled, on the test catchment (one process: the configuration refuses
// river water into the soil with more): column 3 is a
// river that the cells may take water from (linked to subbasin 2), column 5
// a deep river that only drains the table. Over a step of three calls
// (methode 3) the exchange booked in the river table is the water the cells
// took, never more than the river carries; every cell closes its balance;
// the river water brings its tracer into the soil; one and two threads give
// the same bits; an invalid link ends the run.
#include "soil/soil_module_fixture.h"

#include "raster/handover/tracer_grid_hooks.h"
#include "raster/output/module_statistic.h"
#include "tables/soil_class.h"

#include <omp.h>

#include <functional>
#include <vector>

namespace tavro {
namespace {

using test::Logged;
using test::SoilSection;

constexpr int kCalls = 3;                     // D
constexpr double kStepSeconds = 3600.0;       // hourly steps
constexpr double kCellArea = 1000.0 * 1000.0; // m2

double Precipitation(long r, long c) { return 0.5 + 0.2 * r + 0.1 * c; }

// What a run leaves: per own cell its water contents and exchange (mm over
// the step), and the exchange booked in the linked record (rank 0's total).
struct RiverRun {
  std::vector<double> theta;
  std::vector<double> infiltration;
  std::vector<double> exfiltration;
  double booked = 0.0;
  bool operator==(const RiverRun &) const = default;
};

class RiverExchangeTest : public test::SoilModuleTest {
protected:
  void SetUp() override {
    test::SoilModuleTest::SetUp();
    AddGrid("precipitation", [](long r, long c) { return Precipitation(r, c); });
    AddAquiferGrids();
    AddGrid("river_depth", [](long, long c) { return c == 3 ? 0.5 : c == 5 ? 1.4 : 0.0; });
    AddGrid("river_width", [](long, long c) { return c == 3 || c == 5 ? 5.0 : 0.0; });
  }

  // The module, coupled, with hourly steps of three calls and methode 3; the table in layer
  // 9 lies below the bed of the shallow river.
  std::unique_ptr<unsatzonmodellklasse> Coupled() {
    return BuildCoupled(SoilSection(test::CoupledHourly(2)), kCalls);
  }

  // Every record carries flow (m3/s) at the speed that gives 0.4 m of water
  // in a river 5 m wide, as the routing would have left it on every process.
  static void SetRivers(unsatzonmodellklasse &m, double flow) {
    riverflow_table &table = *m.GetRiverflowTable();
    for (std::size_t k = 0; k <= table.Records.Count(); ++k) {
      table.Records[k].flowm3s = flow;
      table.Records[k].speed = flow / 0.4 / 5.0;
      table.Records[k].exchange = 0.0;
    }
  }

  template <class Body> void ForOwn(const unsatzonmodellklasse &m, Body &&body) const {
    ForOwnCell(m, body);
  }

  // One step of three calls; the groundwater module leaves no baseflow. afterCall, when
  // given, runs after every call.
  RiverRun Step(unsatzonmodellklasse &m, double flow, bool balance = true,
                const std::function<void()> &afterCall = {}) {
    SetRivers(m, flow);
    RiverRun run;
    std::vector<double> before;
    ForOwn(m, [&](long r, long c) {
      before.push_back(ColumnWater(m, r, c));
      run.infiltration.push_back(0.0);
      run.exfiltration.push_back(0.0);
    });
    std::vector<double> out(before.size(), 0.0);
    m.BeginTimeStep(1, 2, 1, 2012);
    for (int call = 0; call < kCalls; ++call) {
      ForOwn(m, [&](long r, long c) { m.Grids.Baseflow.Values[r][c] = 0.0; });
      m.ComputeTimeStep(1, 2, 1, 2012);
      if (afterCall)
        afterCall();
      std::size_t i = 0;
      ForOwn(m, [&](long r, long c) {
        const SoilWaterGrids &g = m.Grids;
        run.infiltration[i] += g.RiverInfiltration.Values[r][c];
        run.exfiltration[i] += g.RiverExfiltration.Values[r][c];
        out[i] += g.DirectFlow.Values[r][c] + g.Interflow.Values[r][c] +
                  Registered("real_transpiration0")[r][c];
        ++i;
      });
    }
    std::size_t i = 0;
    ForOwn(m, [&](long r, long c) {
      const std::vector<double> column(m.Grids.Theta.Levels[r][c],
                                       m.Grids.Theta.Levels[r][c] + m.MaxSoilLayers + 1);
      run.theta.insert(run.theta.end(), column.begin(), column.end());
      if (balance) {
        const double gain =
            Precipitation(r, c) + run.infiltration[i] - run.exfiltration[i] - out[i];
        EXPECT_NEAR(ColumnWater(m, r, c) - before[i], gain, 1e-9 * (1.0 + std::abs(gain)))
            << r << "," << c;
      }
      ++i;
    });
    // The record of subbasin code 2, which column 3 is linked to.
    run.booked =
        m.GetRiverflowTable()->Records[static_cast<std::size_t>(ZoneIndexOf(m, 2.0))].exchange;
    return run;
  }

  // The cells' river water over the step, m3.
  static double TakenVolume(const RiverRun &run) {
    double taken = 0.0;
    for (const double mm : run.infiltration)
      taken += mm / 1000.0 * kCellArea;
    return taken;
  }
};

TEST_F(RiverExchangeTest, TheBookedExchangeIsTheWaterTheCellsTookAndNoMoreThanTheRiverCarries) {
  AddGrid("river_links", [](long, long c) { return c == 3 ? 2.0 : 0.0; });
  struct Case {
    const char *name;
    double flow; // m3/s
    bool limited;
  };
  for (const Case &k : {Case{"ample river", 50.0, false}, Case{"scarce river", 0.02, true}}) {
    auto m = Coupled();
    const RiverRun run = Step(*m, k.flow);
    const double total = run.booked; // the step's mean exchange flow, m3/s
    const double taken = TakenVolume(run);
    EXPECT_GT(taken, 0.0) << k.name;
    EXPECT_NEAR(total * kStepSeconds, taken, 1e-9 * taken) << k.name;
    EXPECT_LE(total, k.flow) << k.name;
    if (k.limited) {
      EXPECT_GT(total, 0.9 * k.flow) << k.name; // the river gave nearly all it had
    } else {
      EXPECT_LT(total, 0.5 * k.flow) << k.name;
    }
    // The deep river only drains the table; the shallow one only feeds the soil.
    std::size_t i = 0;
    ForOwn(*m, [&](long, long c) {
      if (c == 5) {
        EXPECT_GT(run.exfiltration[i], 0.0) << k.name;
        EXPECT_EQ(run.infiltration[i], 0.0) << k.name;
      } else if (c != 3) {
        EXPECT_EQ(run.infiltration[i] + run.exfiltration[i], 0.0) << k.name;
      }
      ++i;
    });
    m->ReleaseMemory();
  }
}

// River water brings its tracer: an amount tracer in the cells, their
// aquifer share and what their runoff and exfiltration carried changes over
// a step by the rain's tracer and the river water's concentration times the
// water each cell took.
TEST_F(RiverExchangeTest, RiverWaterCarriesItsTracerIntoTheSoil) {
  AddGrid("river_links", [](long, long c) { return c == 3 ? 2.0 : 0.0; });
  constexpr double kRain = 2.0;   // concentration of the rain
  constexpr double kRiver = 40.0; // of the river water
  constexpr double kAquifer = 10.0;
  InstallTracerGridHooks(registry_);
  AddGrid("concflux_tracer_1_input", [](long, long) { return kRain; });
  const Grid &aquifer =
      AddGrid("concstor_tracer_1_layer_1_groundwater_flow", [](long, long) { return 1.0; });
  OneBasedArray<TracerInfo> info(1);
  info[1].name = "ces";
  info[1].max_conc = 1000.0;
  info[1].soilini = 0.5;
  info[1].gwini = 1.0;
  info[1].path = "./";
  info[1].statext = "sta";
  info[1].gridext = "asc";
  auto m = BuildCoupled(SoilSection(test::CoupledHourly(2)), kCalls, &info);
  const SoilTracerGrids &tracer = m->SoilTracers[1];
  riverflow_table &table = *m->GetRiverflowTable();
  for (std::size_t k = 0; k <= table.Records.Count(); ++k)
    table.Records[k].flow_mm[1] = kRiver;
  std::vector<double> before, released;
  ForOwn(*m, [&](long r, long c) {
    before.push_back(CoupledTracerContent(*m, aquifer, kAquifer, r, c));
    released.push_back(0.0);
  });
  const RiverRun run = Step(*m, 50.0, true, [&] {
    std::size_t i = 0;
    ForOwn(*m, [&](long r, long c) {
      released[i++] += tracer.direct[r][c] + tracer.interflow[r][c] + tracer.baseflow[r][c];
    });
  });
  EXPECT_GT(TakenVolume(run), 0.0);
  std::size_t i = 0;
  ForOwn(*m, [&](long r, long c) {
    const double gained = kRain * Precipitation(r, c) + kRiver * run.infiltration[i];
    EXPECT_NEAR(CoupledTracerContent(*m, aquifer, kAquifer, r, c) + released[i], before[i] + gained,
                1e-12 * before[i])
        << r << "," << c;
    ++i;
  });
  m->ReleaseMemory();
}

TEST_F(RiverExchangeTest, OneAndTwoThreadsGiveTheSameBits) {
  AddGrid("river_links", [](long, long c) { return c == 3 ? 2.0 : 0.0; });
  auto run = [&](int threads) {
    omp_set_num_threads(threads);
    auto m = Coupled();
    RiverRun result = Step(*m, 0.02, false);
    m->ReleaseMemory();
    omp_set_num_threads(2);
    return result;
  };
  const RiverRun one = run(1);
  const RiverRun two = run(2);
  EXPECT_TRUE(one == two);
}

TEST_F(RiverExchangeTest, ALinkWithoutASubbasinEndsTheRun) {
  AddGrid("river_links", [](long r, long c) { return c == 3 ? (r == 4 ? 7.6 : 2.0) : 0.0; });
  auto m = Coupled();
  SetRivers(*m, 1.0);
  m->BeginTimeStep(1, 2, 1, 2012);
  EXPECT_EQ(test::ExitCodeOf([&] { m->ComputeTimeStep(1, 2, 1, 2012); }), 199);
  EXPECT_TRUE(Logged(
      "FATAL: \n\n -------- error! ---------------------------------------------\n\nThere is a "
      "river link \"7\" from the river link grid\nwhich is not valid for the current routing "
      "structure -> there is no routing \ndescription for a river with code 7\nPlease check "
      "your River link grid if there are cells defined as routing link 7 and replace those "
      "values by nodata (-9999).\n-------------------------------------------------------------"
      "\n\n"));
  m->ReleaseMemory();
}

} // namespace
} // namespace tavro
