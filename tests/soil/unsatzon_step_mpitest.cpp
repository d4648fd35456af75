// The soil-water step on the test catchment divided over one or three
// processes: every own cell solved and its water balanced, the same results
// with one and two threads, wholly glacierized cells left with zero
// outputs, the iteration report on rank 0 and a report log that cannot be
// opened ending the run once.
#include "soil/soil_module_fixture.h"

#include "kernel/fatal_error.h"
#include "raster/parallel/non_finite_water.h"
#include "support/diagnostics_entries.h"
#include "tables/soil_class.h"

#include <omp.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <regex>
#include <sstream>

namespace tavro {
namespace {

using test::kSoilColumns;
using test::kSoilNoData;
using test::kSoilRows;
using test::Rank;
using test::SoilSection;
using test::SoilSectionText;
using test::ThreeSubbasins;

// What one cell holds after the calls.
struct CellResult {
  std::vector<double> theta;
  double direct = 0.0;
  double interflow = 0.0;
  double baseflow = 0.0;
  double recharge = 0.0;
  bool operator==(const CellResult &) const = default;
};

// Water input of a cell, mm per step.
double Precipitation(long r, long c) { return 4.0 + 3.0 * r + 0.5 * c; }

class UnsatzonStepTest : public test::SoilModuleTest {
protected:
  void SetUp() override {
    test::SoilModuleTest::SetUp();
    precipitation_ = &AddGrid("precipitation", [](long r, long c) { return Precipitation(r, c); });
  }

  std::unique_ptr<unsatzonmodellklasse> BuildStep(const std::string &more = "") {
    auto module = Build(SoilSection(ThreeSubbasins()) + more);
    module->SelectWaterInput(false);
    return module;
  }

  std::vector<CellResult> Run(int threads, int calls) {
    omp_set_num_threads(threads);
    auto m = BuildStep();
    for (int call = 0; call < calls; ++call)
      m->ComputeTimeStep(0, 2 + call, 1, 2012);
    std::vector<CellResult> results;
    for (long r = settings_.FirstRow; r <= settings_.LastRow; ++r)
      for (long c = 1; c <= kSoilColumns; ++c) {
        if (test::SoilSubbasin(r, c) == kSoilNoData || !Own(r, c))
          continue;
        CellResult cell;
        cell.theta.assign(m->Grids.Theta.Levels[r][c],
                          m->Grids.Theta.Levels[r][c] + m->MaxSoilLayers + 1);
        cell.direct = m->Grids.DirectFlow.Values[r][c];
        cell.interflow = m->Grids.Interflow.Values[r][c];
        cell.baseflow = m->Grids.Baseflow.Values[r][c];
        cell.recharge = m->Grids.GroundwaterRecharge.Values[r][c];
        results.push_back(cell);
      }
    m->ReleaseMemory();
    omp_set_num_threads(2);
    return results;
  }

  Grid *precipitation_ = nullptr;
};

TEST_F(UnsatzonStepTest, EveryOwnCellBalancesItsWater) {
  auto m = BuildStep();
  std::vector<double> before;
  for (long r = settings_.FirstRow; r <= settings_.LastRow; ++r)
    for (long c = 1; c <= kSoilColumns; ++c)
      before.push_back(test::SoilSubbasin(r, c) != kSoilNoData && Own(r, c) ? ColumnWater(*m, r, c)
                                                                            : 0.0);
  m->ComputeTimeStep(0, 2, 1, 2012);
  std::size_t i = 0;
  int cells = 0;
  for (long r = settings_.FirstRow; r <= settings_.LastRow; ++r)
    for (long c = 1; c <= kSoilColumns; ++c, ++i) {
      if (test::SoilSubbasin(r, c) == kSoilNoData || !Own(r, c))
        continue;
      ++cells;
      const SoilWaterGrids &g = m->Grids;
      const double out = Registered("real_transpiration0")[r][c] + g.DirectFlow.Values[r][c] +
                         g.Interflow.Values[r][c] + g.Baseflow.Values[r][c];
      const double input = Precipitation(r, c);
      EXPECT_NEAR(input - out, ColumnWater(*m, r, c) - before[i], 1e-9 * input) << r << "," << c;
      EXPECT_GT(g.Baseflow.Values[r][c], 0.0);
      // The surface flux of the stack reaches the grids beside it.
      EXPECT_EQ(g.QDown.Plane[r][c], g.QDown.Levels[r][c][0]);
      EXPECT_NEAR(g.SB2.Values[r][c], ColumnWater(*m, r, c), 1e-5); // less the 1e-8 m margin
    }
  EXPECT_GT(cells, 0);
}

TEST_F(UnsatzonStepTest, OneAndTwoThreadsGiveTheSameBits) {
  const std::vector<CellResult> one = Run(1, 3);
  const std::vector<CellResult> two = Run(2, 3);
  ASSERT_EQ(one.size(), two.size());
  for (std::size_t i = 0; i < one.size(); ++i)
    EXPECT_TRUE(one[i] == two[i]) << i;
}

TEST_F(UnsatzonStepTest, WhollyGlacierizedCellsHaveZeroOutputs) {
  // Row 3 is glacier, row 4 half glacier.
  AddGrid("ice_firn", [](long r, long) { return r == 3 ? 1.0 : r == 4 ? 0.5 : 0.0; });
  auto m = BuildStep();
  std::vector<double> theta3;
  if (Own(3, 2))
    theta3.assign(m->Grids.Theta.Levels[3][2], m->Grids.Theta.Levels[3][2] + 11);
  m->ComputeTimeStep(0, 2, 1, 2012);
  if (Own(3, 2)) {
    const SoilWaterGrids &g = m->Grids;
    for (const Grid *grid : {&g.DirectFlow.Values, &g.Interflow.Values, &g.Baseflow.Values,
                             &g.GroundwaterRecharge.Values, &g.TotalInfiltration.Values})
      EXPECT_EQ((*grid)[3][2], 0.0);
    EXPECT_EQ(Registered("real_transpiration0")[3][2], 0.0);
    EXPECT_TRUE(std::equal(theta3.begin(), theta3.end(), m->Grids.Theta.Levels[3][2]));
  }
  if (Own(4, 2)) {
    EXPECT_GT(m->Grids.TotalInfiltration.Values[4][2], 0.0);
  }
}

// The control cell's records go on while it lies under the glacier: the
// details of a step that moved nothing are zeros.
TEST_F(UnsatzonStepTest, AWhollyGlacierizedControlCellKeepsEveryRecord) {
  AddGrid("ice_firn", [](long r, long) { return r == 3 ? 1.0 : 0.0; });
  SoilSectionText s = ThreeSubbasins();
  s.controlPoint = "3 2";
  auto m = Build(SoilSection(s));
  m->SelectWaterInput(false);
  const int steps = 2;
  for (int step = 0; step < steps; ++step)
    m->ComputeTimeStep(0, 2 + step, 1, 2012);
  EXPECT_EQ(m->HasControlPoint, Own(3, 2));
  if (m->HasControlPoint) {
    EXPECT_EQ(m->ControlPointBuffers.size(), 6u);
    for (const ControlPointBuffer &b : m->ControlPointBuffers) {
      EXPECT_EQ(b.Count, static_cast<std::size_t>(steps)) << b.FileName;
      if (b.File == ControlPointFile::EtrDetail || b.File == ControlPointFile::Interflow)
        for (std::size_t i = 0; i < b.Count * static_cast<std::size_t>(b.ValueCount); ++i)
          EXPECT_EQ(b.Values[i], 0.0) << b.FileName << " value " << i;
      if (b.File == ControlPointFile::Otherdata)
        for (const int flux : {1, 2, 3, 4, 7, 8, 9, 10}) // flows and the infiltration
          EXPECT_EQ(b.Values[static_cast<std::size_t>(flux)], 0.0) << "other data " << flux;
    }
  }
  m->ReleaseMemory();
}

TEST_F(UnsatzonStepTest, CellsBeyondTheIterationLimitAreReportedOnRankZero) {
  auto m = BuildStep("[unsatzon_tuning]\nmax_error = 0\nmax_iterations = 101\n");
  m->ComputeTimeStep(0, 2, 1, 2012);
  MPI_Barrier(MPI_COMM_WORLD);
  if (Rank() != 0)
    return;
  std::istringstream lines(test::ReadWholeFile("modell_0.log"));
  const std::regex format(R"( 2\. 1\.,  0 h r=  (\d), c=  (\d) : ziter=101, max_err = \S+ )");
  int reported = 0;
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (!std::regex_match(line, match, format))
      continue;
    ++reported;
    // Only cells of rank 0 are reported.
    EXPECT_TRUE(Own(std::stol(match[1]), std::stol(match[2]))) << line;
  }
  EXPECT_GE(reported, 1);
}

TEST_F(UnsatzonStepTest, AReportLogThatCannotBeOpenedEndsTheRunOnce) {
  auto m = BuildStep("[unsatzon_tuning]\nmax_error = 0\nmax_iterations = 101\n");
  if (Rank() == 0) {
    std::filesystem::remove("modell_0.log"); // the start-of-run report
    std::filesystem::create_directory("modell_0.log");
  }
  MPI_Barrier(MPI_COMM_WORLD);
  omp_set_num_threads(2);
  const int code = test::ExitCodeOf([&] { m->ComputeTimeStep(0, 2, 1, 2012); });
  if (Rank() != 0) {
    EXPECT_EQ(code, -1);
    return;
  }
  EXPECT_EQ(code, 5);
  const std::string xml = test::ReadWholeFile("Tavro_Diag_0.xml");
  const std::string entry = "error opening log-file modell_0.log";
  const std::size_t first = xml.find(entry);
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(xml.find(entry, first + 1), std::string::npos);
}

TEST_F(UnsatzonStepTest, MembersOfAResponseUnitTakeTheirMastersResults) {
  // Unit 1 in row 2: its master at column 2, members at columns 4 and 5.
  const auto member = [](long r, long c) { return r == 2 && (c == 4 || c == 5); };
  AddGrid("HydrologicResponseUnits",
          [&](long r, long c) { return (r == 2 && c == 2) || member(r, c) ? 1.0 : 0.0; });
  AddGrid("MasterHydrologicResponseUnits",
          [&](long r, long c) { return member(r, c) ? kSoilNoData : 1.0; });
  std::vector<HydrologicResponseUnit> units(2);
  units[1].number = 1;
  units[1].row = 2;
  units[1].column = 2;
  settings_.SpinUpSwitch = 1;
  settings_.HydrologicResponseUnits = &units;
  auto m = BuildStep();
  m->ComputeTimeStep(0, 2, 1, 2012);
  if (!Own(2, 2))
    return;
  const SoilWaterGrids &g = m->Grids;
  for (const long c : {4L, 5L}) {
    for (const Grid *grid : {&g.DirectFlow.Values, &g.Baseflow.Values, &g.TotalInfiltration.Values,
                             &g.GroundwaterDistance.Values, &g.SB2.Values})
      EXPECT_EQ((*grid)[2][c], (*grid)[2][2]) << c;
    EXPECT_TRUE(std::equal(g.Theta.Levels[2][2], g.Theta.Levels[2][2] + m->MaxSoilLayers + 1,
                           g.Theta.Levels[2][c]));
  }
  // A cell outside the unit, with more input, keeps its own results.
  EXPECT_NE(g.TotalInfiltration.Values[2][3], g.TotalInfiltration.Values[2][2]);
}

// Water that is no usable number in a cell's input or soil store stops the
// step on every process with the exit code, and rank 0's FATAL entry names
// the module, the grid and the cell.
TEST_F(UnsatzonStepTest, WaterThatIsNoNumberStopsTheRun) {
  struct Case {
    const char *what;
    double value;
    const char *named; // the grid and value the entry names
  };
  const double inf = std::numeric_limits<double>::infinity();
  // The last valid cell of the first column, on the last process.
  constexpr long r = kSoilRows;
  constexpr long c = 1;
  for (const Case &k : {Case{"precipitation", std::nan(""), "SB_1_grid holds nan"},
                        Case{"precipitation", inf, "SB_1_grid holds nan"},
                        Case{"theta", std::nan(""), "SB_1_grid holds nan"}}) {
    SCOPED_TRACE(testing::Message() << k.what << " " << k.value);
    auto m = BuildStep();
    int error = -1;
    m->InitTracerGrids(error, 0, nullptr, &statistics_, 200);
    ASSERT_EQ(error, 0);
    Grid &precipitation = *precipitation_;
    if (Own(r, c)) {
      if (std::string(k.what) == "theta")
        m->Grids.Theta.Levels[r][c][1] = k.value;
      else
        precipitation[r][c] = k.value;
    }
    const int code = test::ExitCodeOf([&] { m->ComputeTimeStep(0, 2, 1, 2012); });
    if (precipitation.HasRow(r))
      precipitation[r][c] = Precipitation(r, c);
    EXPECT_EQ(code, NonFiniteWaterExitCode);
    if (Rank() == 0) {
      EXPECT_TRUE(
          test::Logged(std::string("FATAL: unsatzon_model: water out of range on 2.1.2012 0h: ") +
                       k.named + " at row " + std::to_string(r) + ", col " + std::to_string(c)))
          << test::ReadWholeFile("Tavro_Diag_0.xml");
    }
    m->ReleaseMemory();
  }
}

} // namespace
} // namespace tavro
