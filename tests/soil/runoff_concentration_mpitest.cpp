// The soil-water module's runoff concentration on the test catchment divided
// over one or three processes: flow times into zones, the delay of a pulse
// from a cold start with one and three sub-steps, the volume that leaves
// once everything has drained, the initial total runoff, the glacier rule,
// the refusals of the flow-time set-up, and the "[unsatzon_model]" state
// section (round trip, comparisons, refusals). Results are checked on rank
// 0, where the subbasin runoff lives, and are the same for any process count.
#include "soil/soil_module_fixture.h"

#include "kernel/state_file.h"
#include "support/test_support.h"
#include "tables/irrigation_table.h"
#include "tables/soil_class.h"

#include <mpi.h>

#include <algorithm>
#include <cmath>
#include <fstream>
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

using CellValue = std::function<double(long, long)>;

class RunoffConcentrationTest : public test::SoilModuleTest {
protected:
  // Hourly steps.
  SoilSectionText Hourly() {
    SoilSectionText s = ThreeSubbasins();
    s.timeStep = 60.0;
    return s;
  }

  std::unique_ptr<unsatzonmodellklasse> Linked(const SoilSectionText &s, int substeps = 1,
                                               const std::string &more = "",
                                               bool surfaceRouting = false) {
    auto m = Build(SoilSection(s) + more);
    m->SetSubstepCount(substeps);
    // The application tells the module before its tracer set-up.
    if (surfaceRouting)
      m->SetSurfaceRoutingActive(1);
    int error = -1;
    m->InitTracerGrids(error, 0, nullptr, &statistics_, 200);
    EXPECT_EQ(error, 0);
    return m;
  }

  // Every own valid cell of the module.
  void ForOwn(const unsatzonmodellklasse &m, const std::function<void(long, long)> &body) const {
    for (long r = m.FirstRow; r <= m.LastRow; ++r)
      for (long c = 1; c <= kSoilColumns; ++c)
        if (Own(r, c) && SoilSubbasin(r, c) != kSoilNoData)
          body(r, c);
  }

  // One step: every sub-step puts the cells' runoff (mm per sub-step) into
  // the module's grids and adds it to the zones; then the step is concentrated.
  void Step(unsatzonmodellklasse &m, int step, const CellValue &direct, const CellValue &inter,
            const CellValue &base) {
    m.BeginTimeStep(step % 24, 1, 1, 2012);
    for (int s = 0; s < m.GetSubstepCount(); ++s) {
      ForOwn(m, [&](long r, long c) {
        m.Grids.DirectFlow.Values[r][c] = direct(r, c);
        m.Grids.Interflow.Values[r][c] = inter(r, c);
        m.Grids.Baseflow.Values[r][c] = base(r, c);
      });
      m.AddStepRunoffToZones();
    }
    m.ConcentrateRunoff(step % 24, 1, 1, 2012);
  }

  // Registers a grid in place of one of the same identifier.
  Grid &Replace(const std::string &identifier, const CellValue &value) {
    if (const int index = registry_.FindGrid(identifier, false); index > 0)
      registry_.ReleaseGrid(index);
    return AddGrid(identifier, value);
  }

  // A value of rank 0 on every process.
  static double FromRankZero(double value) {
    MPI_Bcast(&value, 1, MPI_DOUBLE, 0, MPI_COMM_WORLD);
    return value;
  }
};

const CellValue kNone = [](long, long) { return 0.0; };

// Writes a file of this process (each process has a state file of its own).
void WriteOwnFile(const std::string &name, const std::string &text) {
  std::ofstream(name, std::ios::binary | std::ios::trunc) << text;
}

TEST_F(RunoffConcentrationTest, FlowTimesBecomeZonesAndTheirShares) {
  // Subbasin 1: 0 s and 1 s in row 1, 3600 s and 3601 s in row 2; subbasin 2
  // 100 s (zone 1) and 7300 s (zone 3); subbasin 3 all in zone 1.
  Grid &flow = AddGrid("flow_times", [](long r, long c) {
    if (r == 1)
      return c == 2 ? 0.0 : 1.0;
    if (r == 2)
      return c <= 3 ? 3600.0 : 3601.0;
    if (r == 3)
      return 100.0;
    if (r == 4)
      return 7300.0;
    return 5.0;
  });
  auto m = Linked(Hourly());
  ForOwn(*m, [&](long r, long c) {
    const double expected = r == 2 && c > 3 ? 2.0 : (r == 4 ? 3.0 : 1.0);
    EXPECT_EQ(flow[r][c], expected) << r << " " << c;
  });
  EXPECT_EQ(m->MaxZone, std::vector<int>({0, 2, 3, 1}));
  EXPECT_EQ(m->ProcessTag.substr(0, 4), "+ft,");
  if (Rank() == 0) {
    const std::string log = test::ReadWholeFile("modell_0.log");
    // 7 of 9 cells in zone 1, 2 in zone 2; 5 and 5; all 9 in zone 1.
    EXPECT_NE(log.find("flow time distribution:\nTG\t   1\t(  2\tZonen):\t0.778\t0.222\n"
                       "TG\t   2\t(  3\tZonen):\t0.500\t0.000\t0.500\n"
                       "TG\t   3\t(  1\tZonen):\t1.000\n"),
              std::string::npos)
        << log;
  }
  m->ReleaseMemory();
}

TEST_F(RunoffConcentrationTest, ValidCellsWithoutFlowTimeLeaveWithTheStep) {
  Grid &flow = AddGrid("flow_times", [](long r, long c) {
    return (r == 3 && c == 2) || (r == 6 && c == 1) ? kSoilNoData : 5000.0 * (c == 1) + 60.0;
  });
  auto m = Linked(Hourly());
  ForOwn(*m, [&](long r, long c) {
    EXPECT_EQ(flow[r][c], (r == 3 && c == 2) || r == 6 || c != 1 ? 1.0 : 2.0) << r << " " << c;
  });
  if (Rank() == 0) {
    EXPECT_TRUE(Logged("WARNING: 2 valid cells of flow_times hold no flow time; their runoff "
                       "leaves with the step (flow-time zone 1)"));
  }
  m->ReleaseMemory();
}

TEST_F(RunoffConcentrationTest, APulseOnTwoZonesLeavesHalfNowAndHalfTwoStepsLater) {
  // Subbasin 2: row 3 in zone 1, row 4 in zone 3 (five cells each).
  for (const int d : {1, 3}) {
    // The module turns the grid into zone numbers: every build gets it anew.
    Replace("flow_times", [](long r, long) { return r == 4 ? 9000.0 : 60.0; });
    SoilSectionText s = Hourly();
    s.valueRows[0] = "1 0.0001 3"; // no storage for subbasin 2 (kelsqd 0.06 min)
    auto m = Linked(s, d);
    std::vector<double> qd;
    std::vector<double> qdd;
    for (int step = 1; step <= 4; ++step) {
      const CellValue pulse = [&](long r, long) {
        return step == 1 && (r == 3 || r == 4) ? 50.0 / d : 0.0;
      };
      Step(*m, step, pulse, kNone, kNone);
      qd.push_back(FromRankZero(m->GetQD()->Components[0][2]));
      qdd.push_back(FromRankZero(m->QDd.Components[0][2]));
    }
    EXPECT_EQ(qd, std::vector<double>({25.0, 0.0, 25.0, 0.0})) << d;
    // exp(-60 / 0.06) is 0 in doubles: the storage passes the zone outflow on.
    EXPECT_EQ(qdd, qd) << d;
    m->ReleaseMemory();
  }
}

TEST_F(RunoffConcentrationTest, WithSurfaceRoutingAPulseLeavesWholeInItsStep) {
  // The flow times of the pulse case: surface routing delays the water, so
  // every cell adds to zone 1, and zone 1 weighs exactly the cells of the
  // step. The grid still becomes zone numbers, which surface routing reads.
  for (const int d : {1, 3}) {
    Grid &flow = Replace("flow_times", [](long r, long) { return r == 4 ? 9000.0 : 60.0; });
    SoilSectionText s = Hourly();
    s.valueRows[0] = "1 0.0001 3";
    auto m = Linked(s, d, "", true);
    ForOwn(*m, [&](long r, long c) { EXPECT_EQ(flow[r][c], r == 4 ? 3.0 : 1.0) << r << " " << c; });
    EXPECT_EQ(m->MaxZone, std::vector<int>({0, 1, 1, 1})) << d;
    std::vector<double> qd, qi;
    for (int step = 1; step <= 3; ++step) {
      const CellValue pulse = [&](long r, long) {
        return step == 1 && (r == 3 || r == 4) ? 50.0 / d : 0.0;
      };
      const CellValue seep = [&](long r, long) { return step == 2 && r == 4 ? 6.0 / d : 0.0; };
      Step(*m, step, pulse, seep, kNone);
      qd.push_back(FromRankZero(m->GetQD()->Components[0][2]));
      qi.push_back(FromRankZero(m->GetQI()->Components[0][2]));
    }
    // The mean of the subbasin's ten cells, in the step it was added.
    EXPECT_EQ(qd, std::vector<double>({50.0, 0.0, 0.0})) << d;
    EXPECT_EQ(qi, std::vector<double>({0.0, 3.0, 0.0})) << d;
    m->ReleaseMemory();
  }
}

TEST_F(RunoffConcentrationTest, EverythingAddedLeavesOnceDrained) {
  AddGrid("flow_times", [](long, long c) { return 2000.0 * (c - 1); });
  Replace("RelCellArea", [](long r, long c) {
    return SoilSubbasin(r, c) == kSoilNoData ? -9999.0 : 0.5 + 0.1 * c;
  });
  SoilSectionText s = Hourly();
  s.valueRows[1] = "1 2 3"; // kelsqi in hours: drained within the run
  auto m = Linked(s, 2);
  // Weighted runoff of every subbasin over all steps, and what left it.
  std::vector<double> weight(4, 0.0);
  for (long r = 1; r <= test::kSoilRows; ++r)
    for (long c = 1; c <= kSoilColumns; ++c)
      if (SoilSubbasin(r, c) != kSoilNoData)
        weight[static_cast<std::size_t>(SoilSubbasin(r, c))] += 0.5 + 0.1 * c;
  std::vector<double> added(4, 0.0);
  std::vector<double> left(4, 0.0);
  auto value = [](int step, long r, long c, double scale) {
    return step <= 5 ? scale * (1.0 + std::sin(step * 1.3 + r * 0.7 + c)) : 0.0;
  };
  for (int step = 1; step <= 400; ++step) {
    const CellValue direct = [&](long r, long c) { return value(step, r, c, 2.0); };
    const CellValue inter = [&](long r, long c) { return value(step, r, c, 0.5); };
    const CellValue base = [&](long r, long c) { return value(step, r, c, 0.25); };
    for (long r = 1; r <= test::kSoilRows; ++r)
      for (long c = 1; c <= kSoilColumns; ++c)
        if (SoilSubbasin(r, c) != kSoilNoData)
          added[static_cast<std::size_t>(SoilSubbasin(r, c))] +=
              2.0 * (0.5 + 0.1 * c) * (direct(r, c) + inter(r, c) + base(r, c));
    Step(*m, step, direct, inter, base);
    for (std::size_t k = 1; k <= 3; ++k) {
      left[k] += m->QDd.Components[0][k] + m->QIi.Components[0][k] + m->GetQBb()->Components[0][k];
      // The storages close their balance every step.
      if (Rank() == 0) {
        EXPECT_NEAR(m->RunoffBalance[k].Residual(), 0.0, 1e-12) << step << " " << k;
      }
    }
  }
  if (Rank() == 0) {
    for (std::size_t k = 1; k <= 3; ++k)
      EXPECT_NEAR(left[k], added[k] / weight[k], 1e-9) << k;
  }
  m->ReleaseMemory();
}

TEST_F(RunoffConcentrationTest, InitialTotalRunoffIsTheMeanBaseflowOnEveryProcess) {
  // Subbasin 3 lies on the last process under three processes.
  SoilSectionText s = Hourly();
  s.valueRows[3] = "20 40 -1"; // kelsqlat: a negative one gives no recession
  s.valueRows[4] = "1 2 3";    // QB-Red.Faktor
  auto m = Linked(s);
  const OneBasedArray<double> &qg = m->GetQg()->Components[0];
  // Every cell starts 0.75 m above its table.
  EXPECT_NEAR(qg[1], std::exp(-0.75 / 20.0), 1e-12);
  EXPECT_NEAR(qg[2], 2.0 * std::exp(-0.75 / 40.0), 1e-12);
  EXPECT_EQ(qg[3], 3.0);
  double total = qg[1] + qg[2] + qg[3];
  double fromZero = FromRankZero(total);
  EXPECT_EQ(total, fromZero);
  m->ReleaseMemory();
}

TEST_F(RunoffConcentrationTest, GlacierRunoffIsAddedToOnlyWhenTheSnowModuleWritesIt) {
  AddGrid("ice_firn", [](long r, long) { return r <= 2 ? 0.5 : 0.0; });
  for (const bool snow : {true, false}) {
    if (snow)
      Replace("snowcover_outflow", kNone);
    else if (const int index = registry_.FindGrid("snowcover_outflow", false); index > 0)
      registry_.ReleaseGrid(index);
    auto m = Linked(Hourly());
    EXPECT_EQ(m->SnowWritesGlacierRunoff, snow);
    OneBasedArray<double> &qg = m->GetQg()->Components[0];
    for (int step = 1; step <= 2; ++step) {
      qg[1] = 7.0; // the snow module's glacier runoff of the step
      qg[2] = 7.0;
      Step(*m, step, kNone, kNone, [](long, long) { return 1.0; });
      if (Rank() == 0) {
        // Half the weight of subbasin 1 is glacier: the mean baseflow is 0.5.
        EXPECT_EQ(qg[1], snow ? 7.5 : 0.5) << step;
        EXPECT_EQ(qg[2], 1.0) << step; // no glacier: overwritten
      }
    }
    if (Rank() == 0) {
      EXPECT_EQ(Logged("WARNING: subbasins with glacier cells, but no snow module writes their "
                       "glacier runoff"),
                !snow);
    }
    m->ReleaseMemory();
  }
}

TEST_F(RunoffConcentrationTest, FlowTimeSetUpRefusals) {
  struct Case {
    CellValue flow;
    CellValue weight;
    int code;
    const char *entry;
  };
  const CellValue one = [](long r, long c) {
    return SoilSubbasin(r, c) == kSoilNoData ? -9999.0 : 1.0;
  };
  const Case cases[] = {
      {[](long r, long) { return r <= 2 ? 4000.0 : 60.0; }, one, 61,
       "FATAL: in flow-travel-time grid: the first time zone of subbasin 1 has no cells!"},
      {[](long, long) { return 60.0; },
       [](long r, long c) {
         return SoilSubbasin(r, c) == kSoilNoData ? -9999.0 : (r >= 5 ? 0.0 : 1.0);
       },
       6, "FATAL: all cells in flow_times, subbasin 3 are NODATA!"},
  };
  for (const Case &c : cases) {
    Replace("flow_times", c.flow);
    Replace("RelCellArea", c.weight);
    auto m = Build(SoilSection(Hourly()));
    int error = 0;
    m->InitTracerGrids(error, 0, nullptr, &statistics_, 200);
    EXPECT_EQ(error, c.code);
    if (Rank() == 0) {
      EXPECT_TRUE(Logged(c.entry)) << c.entry;
    }
    m->ReleaseMemory();
  }
}

TEST_F(RunoffConcentrationTest, ConcentratingBeforeTheLinksIsAProgrammersError) {
  auto m = Build(SoilSection(Hourly()));
  m->BeginTimeStep(0, 1, 1, 2012);
  EXPECT_EQ(test::ExitCodeOf([&] { m->ConcentrateRunoff(0, 1, 1, 2012); }), 57);
  if (Rank() == 0) {
    EXPECT_TRUE(Logged("FATAL: Qg[1] not initialized (may be, tracer module not linked? -> "
                       "programmers error!)"));
  }
  m->ReleaseMemory();
}

TEST_F(RunoffConcentrationTest, CoupledGroundwaterBringsRiverGridsTablesAndTheRiverTable) {
  AddGrid("aquifer_thickness_1", [](long, long) { return 10.0; });
  const Grid &storage = AddGrid("gw_storage_coeff_1", [](long, long) { return 0.1; });
  auto m = Build(SoilSection(Hourly()));
  m->SetGroundwaterCoupling(1);
  // Another module holds the entry after the first free one.
  const int first = registry_.FirstFreeIndex();
  Grid other(held_.first, held_.last, kSoilColumns, test::kSoilRows, log_);
  registry_.AddGrid(first + 1, "other", &other, nullptr, 1, "other", 0, held_.first, held_.last,
                    kSoilColumns, test::kSoilRows, log_);
  int error = -1;
  m->InitTracerGrids(error, 0, nullptr, &statistics_, 200);
  ASSERT_EQ(error, 0);
  EXPECT_EQ(registry_[first].Identifier, "river_infiltration");
  EXPECT_EQ(registry_[first + 1].Identifier, "other");
  EXPECT_EQ(registry_[first + 2].Identifier, "river_exfiltration");
  ASSERT_NE(m->GetRiverflowTable(), nullptr);
  EXPECT_EQ(m->GetRiverflowTable()->Records.Count(), 3u);
  EXPECT_EQ(m->Links.GwStorageCoefficient, &storage);
  ForOwn(*m, [&](long r, long c) { EXPECT_EQ(m->Grids.RiverExfiltration.Values[r][c], 0.0); });
  // With coupling the baseflow of a subbasin is the water its cells release into the rivers.
  Step(*m, 1, kNone, kNone, [](long, long) { return 5.0; });
  if (Rank() == 0) {
    EXPECT_EQ(m->GetQBb()->Components[0][1], 0.0);
  }
  m->ReleaseMemory();
  registry_.ReleaseGrid(first + 1);

  registry_.ReleaseGrid(registry_.FindGrid("aquifer_thickness_1", false));
  auto without = Build(SoilSection(Hourly()));
  without->SetGroundwaterCoupling(1);
  without->InitTracerGrids(error, 0, nullptr, &statistics_, 200);
  EXPECT_EQ(error, 33);
  without->ReleaseMemory();
}

// A run of twelve steps against one that stops after five, writes its state
// and is continued by a new module that reads it: the subbasin runoff is the
// same to the bit.
TEST_F(RunoffConcentrationTest, ARunSplitThroughTheStateEqualsTheLongRun) {
  const CellValue direct = [](long r, long c) { return std::sqrt(r + 0.1 * c); };
  auto runoff = [&](int step) {
    return [step](long r, long c) { return step <= 8 ? 0.3 * step + r / 7.0 + c / 3.0 : 0.0; };
  };
  auto run = [&](unsatzonmodellklasse &m, int from, int to) {
    std::vector<double> values;
    for (int step = from; step <= to; ++step) {
      Step(m, step, runoff(step), direct, [](long r, long) { return r / 10.0; });
      for (std::size_t k = 1; k <= 3; ++k)
        for (const SubbasinRunoffArrays *a : {m.GetQg(), m.GetQD(), m.GetQI(), m.GetQBb()})
          values.push_back(a->Components[0][k]);
    }
    return values;
  };
  const auto flow = [](long r, long c) { return 1500.0 * (c - 1) + 100.0 * r; };
  SoilSectionText s = Hourly();
  const std::string state = "split_state.txt";
  s.storageFile = state;
  Replace("flow_times", flow);
  auto whole = Linked(s, 2);
  const std::vector<double> expected = run(*whole, 1, 12);
  whole->ReleaseMemory();

  Replace("flow_times", flow);
  auto first = Linked(s, 2);
  std::vector<double> split = run(*first, 1, 5);
  WriteStateFiles(*first);
  first->SetInitialized(1);
  first->FinishRun(false);
  s.readgrids = 1;
  Replace("flow_times", flow);
  auto second = Linked(s, 2);
  const std::vector<double> rest = run(*second, 6, 12);
  split.insert(split.end(), rest.begin(), rest.end());
  if (Rank() == 0) {
    EXPECT_EQ(split, expected);
  }
  second->ReleaseMemory();
}

// The same with the column solver: rain on the soil for six hours, then
// none; a run stopped after five steps, continued from its state grids and
// state section, gives the long run's subbasin runoff and soil water to the bit.
TEST_F(RunoffConcentrationTest, ASolvedRunSplitThroughTheStateEqualsTheLongRun) {
  Grid &rain = AddGrid("precipitation", kNone);
  const auto flow = [](long r, long c) { return 1500.0 * (c - 1) + 100.0 * r; };
  SoilSectionText s = Hourly();
  s.methode = 3;
  s.storageFile = "solved_state.txt";
  auto run = [&](unsatzonmodellklasse &m, int from, int to) {
    std::vector<double> values;
    for (int step = from; step <= to; ++step) {
      for (long r = held_.first; r <= held_.last; ++r)
        for (long c = 1; c <= kSoilColumns; ++c)
          rain[r][c] = step <= 6 ? 30.0 + 0.5 * r + 0.25 * c : 0.0;
      m.BeginTimeStep(step % 24, 1, 1, 2012);
      for (int d = 0; d < m.GetSubstepCount(); ++d)
        m.ComputeTimeStep(step % 24, 1, 1, 2012);
      m.ConcentrateRunoff(step % 24, 1, 1, 2012);
      for (std::size_t k = 1; k <= 3; ++k)
        for (const SubbasinRunoffArrays *a : {m.GetQg(), m.GetQD(), m.GetQI(), m.GetQBb()})
          values.push_back(a->Components[0][k]);
    }
    return values;
  };
  auto theta = [&](unsatzonmodellklasse &m) {
    std::vector<double> values;
    ForOwn(m, [&](long r, long c) {
      for (int i = 1; i <= m.MaxSoilLayers; ++i)
        values.push_back(m.Grids.Theta.Levels[r][c][i]);
    });
    return values;
  };
  auto linked = [&](const SoilSectionText &section) {
    Replace("flow_times", flow);
    auto m = Linked(section, 2);
    m->SelectWaterInput(false);
    return m;
  };
  auto whole = linked(s);
  const std::vector<double> expected = run(*whole, 1, 12);
  const std::vector<double> expectedTheta = theta(*whole);
  whole->ReleaseMemory();

  auto first = linked(s);
  std::vector<double> split = run(*first, 1, 5);
  WriteStateFiles(*first);
  first->SetInitialized(1);
  first->FinishRun(false);
  s.readgrids = 1;
  auto second = linked(s);
  const std::vector<double> rest = run(*second, 6, 12);
  split.insert(split.end(), rest.begin(), rest.end());
  if (Rank() == 0) {
    EXPECT_EQ(split, expected);
    // Direct runoff or interflow reached the outlets after the split.
    double late = 0.0;
    for (std::size_t i = 5 * 12; i < expected.size(); i += 4)
      late += expected[i + 1] + expected[i + 2];
    EXPECT_GT(late, 0.0);
  }
  EXPECT_EQ(theta(*second), expectedTheta);
  second->ReleaseMemory();
}

// --- State section ---------------------------------------------------------------

class StateSectionTest : public RunoffConcentrationTest {
protected:
  // A module after a few steps with runoff in transit, its state written.
  // The flow times of these tests; the module turns the grid into zone
  // numbers, so every build gets it anew.
  void FlowTimes() {
    Replace("flow_times", [](long, long c) { return 1200.0 * (c - 1); });
  }

  std::unique_ptr<unsatzonmodellklasse> Written(const std::string &file) {
    FlowTimes();
    auto m = Linked(Hourly());
    for (int step = 1; step <= 3; ++step)
      Step(
          *m, step, [&](long r, long c) { return (step + r) / 3.0 + c / 7.0; },
          [&](long r, long c) { return (r * c) / 11.0; }, kNone);
    m->WriteStorage(file, false);
    return m;
  }

  std::unique_ptr<unsatzonmodellklasse> Reader(const std::string &file) {
    FlowTimes();
    auto m = Linked(Hourly());
    m->StorageFileName = file;
    return m;
  }
};

TEST_F(StateSectionTest, RoundTripRestoresZonesAndStoragesExactly) {
  const std::string file = "state_" + std::to_string(Rank());
  auto written = Written(file);
  auto read = Reader(file);
  read->ReadStorage();
  ASSERT_EQ(read->ZonesQD.All().size(), written->ZonesQD.All().size());
  for (std::size_t i = 0; i < read->ZonesQD.All().size(); ++i)
    for (const auto *pair : {&read->ZonesQD, &read->ZonesQI}) {
      const FlowTimeZones &other = pair == &read->ZonesQD ? written->ZonesQD : written->ZonesQI;
      const ZoneRecord &a = pair->All()[i];
      const ZoneRecord &b = other.All()[i];
      EXPECT_EQ(a.n, b.n);
      EXPECT_EQ(a.sx, b.sx);
      EXPECT_EQ(a.RelCellSum, b.RelCellSum);
      EXPECT_EQ(a.rel, b.rel);
      EXPECT_EQ(a.zonenwert, b.zonenwert);
    }
  for (std::size_t k = 1; k <= 3; ++k) {
    EXPECT_EQ(read->QDd.Components[0][k], written->QDd.Components[0][k]);
    EXPECT_EQ(read->QIi.Components[0][k], written->QIi.Components[0][k]);
  }
  if (Rank() == 0) {
    // Runoff in transit on rank 0, written with round-trip digits.
    EXPECT_GT(written->ZonesQD.At(0, 1, 2).sx, 0.0);
    const std::string text = test::ReadWholeFile(file);
    EXPECT_EQ(text.rfind("[unsatzon_model]\n3 (number of subasins)\n1\t2\t3\t(code)\n", 0), 0u);
    EXPECT_NE(text.find("60 120 180 (kelsqd in min)\n"), std::string::npos);
    EXPECT_NE(text.find("0 (number of tracers)\n0 (0=runoff, 1...9 = tracers)\n1 2 (zone 1 and "
                        "maxzeit)\n"),
              std::string::npos);
  }
  written->ReleaseMemory();
  read->ReleaseMemory();
}

TEST_F(StateSectionTest, StoredParametersAreComparedWithTheControlFile) {
  struct Case {
    std::function<void(unsatzonmodellklasse &)> writer;
    std::function<void(unsatzonmodellklasse &)> reader;
    int code; // 0: read
    const char *entry;
  };
  const Case cases[] = {
      {[](unsatzonmodellklasse &m) { m.Config.Subbasins.kelsqd[1] = 90.0; },
       [](unsatzonmodellklasse &m) { m.Config.Subbasins.kelsqd[1] = 90.0005; }, 0, ""},
      {[](unsatzonmodellklasse &m) { m.Config.Subbasins.kelsqd[1] = 90.0; },
       [](unsatzonmodellklasse &m) { m.Config.Subbasins.kelsqd[1] = 90.01; }, 71,
       "FATAL: error in storage file content reading m:;value in actual control is:   90.01;but "
       "value in storage file is: 90;"},
      {[](unsatzonmodellklasse &) {},
       [](unsatzonmodellklasse &m) { m.Config.Subbasins.SnowRunoff_fraction[2] = 1e-6; }, 71,
       "FATAL: error in storage file content reading SR_Anteil:"},
      {[](unsatzonmodellklasse &) {}, [](unsatzonmodellklasse &m) { m.TracerCount = 1; }, 71,
       "FATAL: error in storage file content reading number of tracers:"},
  };
  for (const Case &c : cases) {
    const std::string file = "compared_" + std::to_string(Rank());
    FlowTimes();
    auto writer = Linked(Hourly());
    c.writer(*writer);
    writer->WriteStorage(file, false);
    auto reader = Reader(file);
    c.reader(*reader);
    EXPECT_EQ(test::ExitCodeOf([&] { reader->ReadStorage(); }), c.code == 0 ? -1 : c.code)
        << c.entry;
    if (c.code != 0 && Rank() == 0)
      EXPECT_TRUE(Logged(c.entry)) << c.entry;
    writer->ReleaseMemory();
    reader->ReleaseMemory();
  }
}

TEST_F(StateSectionTest, MissingFileSectionOrFieldsStopTheRun) {
  auto m = Reader("absent_" + std::to_string(Rank()));
  EXPECT_EQ(test::ExitCodeOf([&] { m->ReadStorage(); }), 64);
  const std::string other = "other_" + std::to_string(Rank());
  WriteOwnFile(other, "[routing_model]\n[snow_model]\n");
  m->StorageFileName = other;
  EXPECT_EQ(test::ExitCodeOf([&] { m->ReadStorage(); }), 71);
  const std::string cut = "cut_" + std::to_string(Rank());
  m->WriteStorage(cut, false);
  std::string text = test::ReadWholeFile(cut);
  const std::size_t zone = text.find("(zoneFZT_QI.n");
  // The first interflow zone line keeps two of its five numbers.
  const std::size_t lineStart = text.rfind('\n', zone) + 1;
  std::size_t second = text.find(' ', text.find(' ', lineStart) + 1);
  text = text.substr(0, second) + " (cut)\n";
  WriteOwnFile(cut, text);
  m->StorageFileName = cut;
  EXPECT_EQ(test::ExitCodeOf([&] { m->ReadStorage(); }), 71);
  if (Rank() == 0) {
    EXPECT_TRUE(Logged("FATAL: error opening storage content file absent_0"));
    EXPECT_TRUE(Logged("FATAL: error locking for the section [unsatzon_model] in other_0"));
    EXPECT_TRUE(Logged("FATAL: error in storage file content reading number of fields for zonal "
                       "statistics QI:;value in actual control is:   5;but value in storage "
                       "file is: 2"));
  }
  m->ReleaseMemory();
}

TEST_F(StateSectionTest, AStateThatCannotBeWrittenEndsTheRunAfterTheRelease) {
  auto m = Linked(Hourly());
  m->StorageFileName = "no_such_directory/state";
  m->SetInitialized(1);
  EXPECT_EQ(test::ExitCodeOf([&] { m->FinishRun(false); }), 18);
  // Released all the same: the module holds no grid any more.
  EXPECT_EQ(registry_.FindGrid("theta", false), 0);
  if (Rank() == 0) {
    EXPECT_TRUE(Logged("FATAL: write error no_such_directory/state"));
  }
}

TEST_F(StateSectionTest, EndOfRunSummaryWithoutGlaciers) {
  auto m = Linked(Hourly());
  m->StorageFileName.clear();
  m->FinishRun(false);
  if (Rank() == 0) {
    const std::string log = test::ReadWholeFile("modell_0.log");
    auto value = [&](const std::string &head) {
      const std::size_t at = log.rfind(head);
      EXPECT_NE(at, std::string::npos) << head;
      return at == std::string::npos ? std::string() : log.substr(at + head.size(), 8);
    };
    const std::string all = value("mean soil water content for all cells at model-end: ");
    EXPECT_EQ(all, value("mean soil water content for unglacierized or only partly "
                         "unglacierized cells at model-end: "));
    EXPECT_EQ(value("mean soil water content for partly or completely glacierized cells at "
                    "model-end: "),
              "0.000000");
    // Nothing moved the water since the start.
    EXPECT_EQ(all, value("mean soil water content for all cells at model-start: "));
  }
}

// --- Pumping limit and control-point records ------------------------------------------

TEST_F(RunoffConcentrationTest, PumpingLimitIsThePoreSpaceBelowTheTable) {
  AddGrid("irrigation_codes", [](long r, long) { return r <= 2 ? 1.0 : kSoilNoData; });
  OneBasedArray<IrrigationTableEntry> irrigation(1);
  irrigation[1].Method = 3;
  irrigation[1].psi_dry = 3.0;
  irrigation[1].psi_wet = 0.5;
  auto m = Build(SoilSection(Hourly()), &irrigation);
  const soil_class &loam = soils_[1];
  // Room of one loam layer of 0.15 m between saturation and field capacity.
  const double layer = 1000.0 * 0.15 * (loam.theta_sat[9] - loam.GetTheta(9, 3.45));
  ForOwn(*m, [&](long r, long c) {
    m->Grids.GroundwaterLevel.Values[r][c] = r == 1 ? 10.0 : (r == 2 ? 9.0 : 6.0);
  });
  m->ComputeMaxPumping();
  ForOwn(*m, [&](long r, long c) {
    const double pumping = m->Grids.MaxPumping.Values[r][c];
    if (r == 1)
      EXPECT_EQ(pumping, 0.0); // the table in the deepest layer
    else if (r == 2)
      EXPECT_NEAR(pumping, layer, 1e-12);
    EXPECT_GT(layer, 10.0);
  });
  m->ReleaseMemory();
}

TEST_F(RunoffConcentrationTest, PointRecordsAreAppendedAndTheBufferEmptied) {
  auto m = Build(SoilSection(Hourly()));
  const std::string name = "point_" + std::to_string(Rank()) + ".txt";
  ControlPointBuffer buffer;
  buffer.File = ControlPointFile::Theta;
  buffer.FileName = name;
  buffer.ValueCount = 11;
  buffer.Capacity = 4;
  buffer.Dates.assign(16, 0);
  buffer.Values.assign(44, 0.0);
  m->WritePointRecords(buffer, 1, 0); // empty: no file, no entry
  EXPECT_FALSE(test::FileExists(name));
  for (std::size_t i = 0; i < 2; ++i) {
    const std::int64_t date[4] = {2012, 1, 2, static_cast<std::int64_t>(i)};
    std::copy(date, date + 4, buffer.Dates.begin() + static_cast<std::ptrdiff_t>(4 * i));
    for (std::size_t v = 0; v < 11; ++v)
      buffer.Values[11 * i + v] = 0.25 * static_cast<double>(v) + static_cast<double>(i);
  }
  buffer.Count = 2;
  m->WritePointRecords(buffer, 1, 0);
  EXPECT_EQ(buffer.Count, 0u);
  EXPECT_EQ(test::ReadWholeFile(name),
            "2012\t1\t2\t0\t0.25\t0.5\t0.75\t1\t1.25\t1.5\t1.75\t2\t2.25\t2.5\n"
            "2012\t1\t2\t1\t1.25\t1.5\t1.75\t2\t2.25\t2.5\t2.75\t3\t3.25\t3.5\n");
  if (Rank() == 0) {
    EXPECT_TRUE(Logged("write point_0.txt"));
    EXPECT_TRUE(Logged("(224 of 2097152 buffer-bytes)"));
  }
  buffer.Count = 1;
  buffer.FileName = "no_such_directory/point.txt";
  EXPECT_EQ(test::ExitCodeOf([&] { m->WritePointRecords(buffer, 1, 0); }), 65);
  m->ReleaseMemory();
}

TEST_F(RunoffConcentrationTest, ControlPointRecordsReachTheirFilesWhenFlushed) {
  SoilSectionText s = Hourly();
  s.controlPoint = "2 3";
  auto m = Build(SoilSection(s));
  m->BeginTimeStep(6, 3, 1, 2012);
  ForOwn(*m, [&](long r, long c) {
    m->Grids.DirectFlow.Values[r][c] = 1.5;
    m->Grids.Theta.Levels[r][c][4] = 0.25;
  });
  std::vector<double> etr(11, 0.0);
  std::vector<double> inter(11, 0.0);
  for (std::size_t i = 0; i <= 10; ++i) {
    etr[i] = 0.5 * static_cast<double>(i);
    inter[i] = 0.125 * static_cast<double>(i);
  }
  m->RecordControlCellDetails(etr, inter, 2.25);
  m->RecordControlPoint();
  m->FlushStatistics();
  MPI_Barrier(MPI_COMM_WORLD);
  auto lastLine = [](const std::string &file) {
    const std::string text = test::ReadWholeFile(file);
    const std::size_t end = text.size() - 1;
    return text.substr(text.rfind('\n', end - 1) + 1);
  };
  EXPECT_EQ(lastLine("etr.cp"), "2012\t1\t3\t6\t0\t0.5\t1\t1.5\t2\t2.5\t3\t3.5\t4\t4.5\t5\n");
  EXPECT_EQ(lastLine("interflow.cp"),
            "2012\t1\t3\t6\t0.125\t0.25\t0.375\t0.5\t0.625\t0.75\t0.875\t1\t1.125\t1.25\n");
  const std::string theta = lastLine("theta.cp");
  EXPECT_EQ(theta.substr(0, 11), "2012\t1\t3\t6\t");
  EXPECT_NE(theta.find("\t0.25\t"), std::string::npos) << theta;
  // QD, QI, QB, the infiltration, ...: 18 values and six of the one land-use layer.
  const std::string other = lastLine("other.cp");
  EXPECT_EQ(other.substr(0, 35), "2012\t1\t3\t6\t1.5\t0\t0\t2.25\t-9999\t-9999");
  EXPECT_EQ(std::count(other.begin(), other.end(), '\t'), 4 + 18 + 6 - 1);
  m->ReleaseMemory();
}

} // namespace
} // namespace tavro
