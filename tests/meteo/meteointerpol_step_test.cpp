// The interpolation step on a small raster of 3 x 4 cells of 1 km: the order
// of the post-processing, uniform station values, a row without valid
// values, the date check, the progress line, the scenario grid of the month,
// the spin-up master copies, the anisotropic frame; and the construction:
// method range, anisotropy checks, the set-up grids it needs, the description
// line, and a registry left as it was found.
#include "interpolator_fixture.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "kernel/hydrologic_response_unit.h"
#include "meteo/interpolation/inverse_distance.h"
#include "meteo/interpolation/rotated_frame.h"
#include "support/diagnostics_entries.h"
#include "support/setup_grids.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace tavro {
namespace {

class MeteointerpolStepTest : public InterpolatorFixture {};

TEST_F(MeteointerpolStepTest, PostProcessingOrder) {
  Grid halves(1, 3, 4, 3, log_);
  halves.Fill(0.5);
  struct Case {
    const char *what;
    SectionSpec spec;
    std::string row;
    bool scalingGrid;
    double expected; // at cell (2, 2)
  };
  const std::string additive = "1\n1\n1\n0 0 2 2 2 2 2 2 2 2 2 2 2 2";
  std::vector<Case> cases;
  {
    SectionSpec s;
    s.scaling = 2.0;
    cases.push_back({"scaling", s, "2001 1 2 0 3 3", false, 6.0});
  }
  {
    SectionSpec s;
    s.upper = s.upperReplacement = 25.0;
    cases.push_back({"upper limit", s, "2001 1 2 0 30 30", false, 25.0});
    s.scenario = additive;
    cases.push_back({"limit, then the additive scenario", s, "2001 1 2 0 30 30", false, 27.0});
    cases.push_back({"then the scaling grid", s, "2001 1 2 0 30 30", true, 13.5});
  }
  {
    SectionSpec s;
    s.scenario = "1\n2\n1\n0 0 1.5 1.5 1.5 1.5 1.5 1.5 1.5 1.5 1.5 1.5 1.5 1.5";
    cases.push_back({"multiplicative scenario", s, "2001 1 2 0 30 30", false, 45.0});
    s.scenario = "1\n3\n1\n0 0 50 50 50 50 50 50 50 50 50 50 50 50"; // percent
    cases.push_back({"percent scenario", s, "2001 1 2 0 30 30", false, 45.0});
  }
  {
    // No station within 10 m of the cell: -N - 1, scaled, then limited to 0.
    SectionSpec s;
    s.radius = 10.0;
    s.scaling = 2.0;
    s.lower = s.lowerReplacement = 0.0;
    cases.push_back({"missing marker through the limits", s, "2001 1 2 0 30 40", false, 0.0});
    s.lower = s.lowerReplacement = -20000.0;
    s.scaling = 1.0;
    cases.push_back({"missing marker inside the limits", s, "2001 1 2 0 30 40", false, -10000.0});
  }
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const int scaling = 30;
    if (c.scalingGrid)
      registry_.AddGrid(scaling, "", &halves, nullptr, 1, "ScalingGrid_temperature", 0, 1, 3, 4, 3,
                        log_);
    test::WriteFixture("stations.dat", Stations({c.row}));
    auto variable = Make(c.spec);
    EXPECT_EQ(variable->ScalingGrid() != nullptr, c.scalingGrid);
    Step(*variable);
    EXPECT_DOUBLE_EQ(variable->ResultGrid()[2][2], c.expected);
    EXPECT_EQ(variable->ResultGrid()[3][1], -9999.0); // outside the catchment
    variable->ReleaseMemory();
    registry_.ReleaseGrid(scaling);
  }
}

TEST_F(MeteointerpolStepTest, UniformValuesFillEveryComputedCell) {
  for (const int method : {1, 4}) {
    SCOPED_TRACE(method);
    test::WriteFixture("stations.dat", Stations({"2001 1 2 0 3.5 3.5"}));
    SectionSpec s;
    s.method = method;
    s.radius = 10.0; // no kernel: the radius plays no part
    auto variable = Make(s);
    Step(*variable);
    for (long r = 1; r <= 3; ++r)
      for (long c = 1; c <= 4; ++c)
        EXPECT_EQ(variable->ResultGrid()[r][c], r == 3 && c == 1 ? -9999.0 : 3.5);
    variable->ReleaseMemory();
  }
}

TEST_F(MeteointerpolStepTest, ARowWithoutValidValuesKeepsThePreviousGrid) {
  // Method 12 passes the missing marker on instead (station_methods_test).
  for (const int method : {1, 4}) {
    SCOPED_TRACE(method);
    test::WriteFixture("stations.dat",
                       Stations({"2001 1 2 0 1 2", "2001 1 3 0 -99999 -99999", "2001 1 4 0 5 5"}));
    SectionSpec s;
    s.method = method;
    auto variable = Make(s);
    variable->SetWarnings(1);
    Step(*variable);
    const double before = variable->ResultGrid()[2][3];
    EXPECT_NE(before, -9999.0);
    variable->ReadNextData();
    Step(*variable);
    EXPECT_EQ(variable->ResultGrid()[2][3], before);
    EXPECT_TRUE(test::Logged("WARNING: no valid station value for temperature on 3.1.2001 0. h: "
                             "the grid keeps the values of the previous step"));
    variable->ReadNextData();
    Step(*variable);
    EXPECT_NE(variable->ResultGrid()[2][3], before);
    variable->ReleaseMemory();
  }
}

TEST_F(MeteointerpolStepTest, StationMethodsOnTheRaster) {
  test::WriteFixture("stations.dat", Stations({"2001 1 2 0 10 20"}));
  // Method 1: cell (2, 2) at (1000, 1000) between both stations.
  auto idw = Make(SectionSpec{});
  Step(*idw);
  const double d1 = 1000.0 * 1000.0 + 1000.0 * 1000.0, d2 = 2000.0 * 2000.0 + 1000.0 * 1000.0;
  EXPECT_DOUBLE_EQ(idw->ResultGrid()[2][2], (10.0 / d1 + 20.0 / d2) / (1.0 / d1 + 1.0 / d2));
  EXPECT_DOUBLE_EQ(idw->ResultGrid()[1][1], (10.0 + 20.0 / 13e6) / (1.0 + 1.0 / 13e6));
  idw->ReleaseMemory();

  // Method 4: the nearest station; cell (2, 3) at (2000, 1000) is nearer station 2.
  SectionSpec thiessen;
  thiessen.method = 4;
  auto nearest = Make(thiessen);
  Step(*nearest);
  EXPECT_EQ(nearest->ResultGrid()[1][2], 10.0);
  EXPECT_EQ(nearest->ResultGrid()[2][3], 20.0);
  nearest->ReleaseMemory();

  // Method 12: the nearest station moved to the cell's elevation.
  SectionSpec lapse;
  lapse.method = 12;
  lapse.methodLine = "-0.0065";
  auto twelve = Make(lapse);
  Step(*twelve);
  const double elevation = 400.0 + 100.0 * 1 + 10.0 * 2; // cell (1, 2)
  EXPECT_DOUBLE_EQ(twelve->ResultGrid()[1][2], 10.0 + (elevation - 500.0) * -0.0065);
  twelve->ReleaseMemory();
}

TEST_F(MeteointerpolStepTest, AnisotropicWeightingInTheRotatedFrame) {
  test::WriteFixture("stations.dat", Stations({"2001 1 2 0 10 20"}));
  SectionSpec s;
  s.slope = 30.0;
  s.ratio = 0.5;
  auto variable = Make(s);
  const int xIndex = registry_.FindGrid("CoordXRot_temperature", false);
  const int yIndex = registry_.FindGrid("CoordYRot_temperature", false);
  ASSERT_GT(xIndex, 0);
  ASSERT_GT(yIndex, 0);
  EXPECT_EQ(variable->RotatedXIndex, xIndex);
  Step(*variable);
  const double slope = 30.0 * interpolation::kRadiansPerDegree;
  const auto turn = [&](double x, double y) {
    return interpolation::RotateIntoFrame(x, y, 0.0, 0.0, slope);
  };
  const interpolation::FramePoint s1 = turn(0.0, 2000.0), s2 = turn(3000.0, 0.0);
  const interpolation::FramePoint cell = turn(1000.0, 1000.0);
  EXPECT_NEAR((*registry_[xIndex].Data)[2][2], cell.X, 1e-9);
  const auto d2 = [&](const interpolation::FramePoint &p) {
    const double dx = (p.X - cell.X) * 0.5, dy = p.Y - cell.Y;
    return dx * dx + dy * dy;
  };
  const double w1 = 1.0 / d2(s1), w2 = 1.0 / d2(s2);
  EXPECT_NEAR(variable->ResultGrid()[2][2], (10.0 * w1 + 20.0 * w2) / (w1 + w2), 1e-9);
  EXPECT_NEAR(variable->StationCornerDistances(0)[2], 3000.0, 1e-9);
}

TEST_F(MeteointerpolStepTest, ADateOneHourOffStopsTheRun) {
  test::WriteFixture("stations.dat", Stations({"2001 1 2 0 10 20"}));
  auto variable = Make(SectionSpec{});
  EXPECT_EQ(test::ExitCodeOf([&] { variable->Interpolate(1, 2, 1, 2001); }), 52);
  const std::string dashes(77, '-');
  EXPECT_TRUE(test::Logged("FATAL: " + dashes +
                           "\nerror in date columns of temperature\n\nfirst Meteo data set "
                           "(this is the set from which data is get:\n2.1.2001 1. h\n\nbut in "
                           "temperature:\n2.1.2001 0. h\n\n" +
                           dashes + "\n"));
}

TEST_F(MeteointerpolStepTest, ProgressLineRule) {
  std::vector<std::string> rows;
  for (int h = 0; h < 24; ++h)
    rows.push_back("2001 1 2 " + std::to_string(h) + " 10 20");
  test::WriteFixture("stations.dat", Stations(rows));
  struct Case {
    int divisor;
    double hoursToEnd;
    std::vector<int> hours; // announced
  };
  const std::vector<Case> cases = {{24, 0.0, {0}}, {24, 1.0, {23}}, {6, 0.0, {0, 6, 12, 18}}};
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.divisor << " " << c.hoursToEnd);
    settings_.HourDivisor = c.divisor;
    auto variable = Make(SectionSpec{});
    variable->SetTimeStep(c.hoursToEnd);
    const test::CallOutcome outcome = test::RunCapturingConsole([&] {
      for (int h = 0; h < 24; ++h) {
        Step(*variable);
        variable->ReadNextData();
      }
    });
    std::vector<int> announced;
    for (int h = 0; h < 24; ++h)
      if (outcome.console.find("         temperature 2.1.2001 " + std::to_string(h) + ". h ") !=
          std::string::npos)
        announced.push_back(h);
    EXPECT_EQ(announced, c.hours);
    variable->ReleaseMemory();
  }
}

TEST_F(MeteointerpolStepTest, ScenarioGridOfTheMonth) {
  const char *months[] = {"jan.asc", "feb.asc", "mar.asc", "apr.asc", "may.asc", "jun.asc",
                          "jul.asc", "aug.asc", "sep.asc", "oct.asc", "nov.asc", "dec.asc"};
  std::string names;
  for (int m = 0; m < 12; ++m) {
    test::WriteFixture(months[m], UniformGrid(m + 2.0)); // January 2, February 3, ...
    names += std::string(months[m]) + "\n";
  }
  test::WriteFixture("stations.dat", Stations({"2001 1 31 0 10 10", "2001 2 1 0 10 10"}));
  // The entry after the result grid holds another grid: the scenario grid
  // takes the first free one.
  Grid other(1, 3, 4, 3, log_);
  registry_.AddGrid(kResultIndex + 1, "", &other, nullptr, 1, "other", 0, 1, 3, 4, 3, log_);
  const int free = 8; // 1 to 4 and 7 hold the set-up grids, 5 the result grid
  SectionSpec s;
  s.scenario = "1\n5\n" + names;
  auto variable = Make(s, ModelDate{0, 31, 1, 2001});
  EXPECT_EQ(variable->ScenarioGridIndex, free);
  EXPECT_EQ(registry_.FindGrid("scenariogrid_temperature", false), free);
  EXPECT_EQ(registry_.FindGrid("other", false), kResultIndex + 1);
  Step(*variable);
  EXPECT_DOUBLE_EQ(variable->ResultGrid()[2][2], 20.0); // times January's 2
  variable->ReadNextData();
  Step(*variable);
  EXPECT_EQ(variable->ScenarioMonth, 2);
  EXPECT_EQ(registry_.FindGrid("scenariogrid_temperature", false), free);
  EXPECT_EQ(registry_[free].FileName, "feb.asc");
  EXPECT_DOUBLE_EQ(variable->ResultGrid()[2][2], 30.0); // times February's 3

  // SzenMeth 6 adds.
  variable->ReleaseMemory();
  s.scenario = "1\n6\n" + names;
  auto additive = Make(s, ModelDate{0, 31, 1, 2001});
  Step(*additive);
  EXPECT_DOUBLE_EQ(additive->ResultGrid()[2][2], 12.0);
}

TEST_F(MeteointerpolStepTest, AScenarioGridHoleTheSearchCannotFillIsFatal) {
  std::string names;
  for (int m = 1; m <= 12; ++m)
    names += "empty.asc\n";
  test::WriteFixture("empty.asc", UniformGrid(-9999.0));
  test::WriteFixture("stations.dat", Stations({"2001 1 2 0 10 20"}));
  SectionSpec s;
  s.scenario = "1\n5\n" + names;
  const std::vector<std::string> before = Identifiers();
  EXPECT_EQ(ConstructionCode(s), 25);
  EXPECT_TRUE(test::Logged("FATAL: In empty.asc is a too big hole at x/y = 1/1!"));
  EXPECT_EQ(Identifiers(), before);
}

TEST_F(MeteointerpolStepTest, StatisticsAddOnlyValidValues) {
  // Within 10 m only cells (1, 1) and (3, 4) have a station; every other cell
  // keeps the missing marker -10000, which the limits let through.
  test::WriteFixture("stations.dat", Stations({"2001 1 2 0 10 20"}));
  SectionSpec s;
  s.radius = 10.0;
  s.lower = s.lowerReplacement = -20000.0;
  s.statistics = "temp.stat 1001";
  auto variable = Make(s);
  Step(*variable);
  EXPECT_EQ(variable->ResultGrid()[2][2], -10000.0);
  variable->FlushStatistics();
  EXPECT_NE(test::ReadWholeFile("temp.stat").find("2001\t 1\t 2\t 0\t15.000\n"), std::string::npos)
      << test::ReadWholeFile("temp.stat");
}

TEST_F(MeteointerpolStepTest, ScenarioWithoutRowsChangesNothing) {
  test::WriteFixture("stations.dat", Stations({"2001 1 2 0 7 7"}));
  for (const char *method : {"1", "2", "3"}) {
    SCOPED_TRACE(method);
    SectionSpec s;
    s.scenario = std::string("1\n") + method + "\n0";
    auto variable = Make(s);
    EXPECT_TRUE(test::Logged("WARNING: SzenUse 1 for temperature without scenario rows (SzenNum "
                             "0): the values stay unchanged"));
    Step(*variable);
    EXPECT_EQ(variable->ResultGrid()[2][2], 7.0);
    variable->ReleaseMemory();
  }
}

TEST_F(MeteointerpolStepTest, SpinUpMasterCopies) {
  // Unit 1: cells (2, 2), (2, 3) and (1, 4), computed in its master (2, 2).
  Grid units(1, 3, 4, 3, log_), masters(1, 3, 4, 3, log_);
  units.Fill(0.0);
  masters.Fill(-9999.0);
  units[2][2] = units[2][3] = units[1][4] = 1.0;
  masters[2][2] = 1.0;
  registry_.AddGrid(20, "", &units, nullptr, 1, "HydrologicResponseUnits", 0, 1, 3, 4, 3, log_);
  registry_.AddGrid(21, "", &masters, nullptr, 1, "MasterHydrologicResponseUnits", 0, 1, 3, 4, 3,
                    log_);
  std::vector<HydrologicResponseUnit> list(2);
  list[1].number = 1;
  list[1].row = 2;
  list[1].column = 2;
  settings_.SpinUpSwitch = 1;
  settings_.HydrologicResponseUnits = &list;

  test::WriteFixture("stations.dat", Stations({"2001 1 2 0 10 20"}));
  SectionSpec s;
  s.statistics = "temp.stat 1001"; // the areal mean of every step
  auto variable = Make(s);
  Step(*variable);
  const Grid &result = variable->ResultGrid();
  EXPECT_EQ(result[2][3], result[2][2]);
  EXPECT_EQ(result[1][4], result[2][2]);
  EXPECT_NE(result[1][3], result[2][2]); // not in the unit
  double sum = 0.0;
  int cells = 0;
  for (long r = 1; r <= 3; ++r)
    for (long c = 1; c <= 4; ++c)
      if (!(r == 3 && c == 1)) {
        sum += result[r][c];
        ++cells;
      }
  variable->FlushStatistics();
  char expected[64];
  std::snprintf(expected, sizeof expected, "2001\t 1\t 2\t 0\t%.3f", sum / cells);
  EXPECT_NE(test::ReadWholeFile("temp.stat").find(expected), std::string::npos)
      << test::ReadWholeFile("temp.stat");
}

TEST_F(MeteointerpolStepTest, ConstructionErrors) {
  test::WriteFixture("stations.dat", Stations({"2001 1 2 0 10 20"}));
  struct Case {
    const char *what;
    SectionSpec spec;
    int code;
    std::string entry;
  };
  std::vector<Case> cases;
  for (const int method : {0, 13}) {
    SectionSpec s;
    s.method = method;
    cases.push_back({"method", s, 53,
                     "FATAL: error! interpolation method has to range from 1..12 (here: " +
                         std::to_string(method) + ")\n"});
  }
  const std::string slopeEntry = "FATAL: anisotropy slope has to range from -90 to +90 degree \n";
  const std::string ratioEntry = "FATAL: ratio of anisotropy has to range from +1 to >0 liegen";
  for (const auto &[slope, ratio, code] : std::vector<std::tuple<double, double, int>>{
           {90.5, 0.5, 54}, {-90.5, 0.5, 54}, {0.0, 0.0, 54}, {0.0, 1.1, 54}, {90.0, 0.5, 0}}) {
    SectionSpec s;
    s.slope = slope;
    s.ratio = ratio;
    cases.push_back({"anisotropy", s, code,
                     code == 0 ? "" : (std::fabs(slope) > 90.0 ? slopeEntry : ratioEntry)});
  }
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.what << " " << c.spec.method << " " << c.spec.slope << " " << c.spec.ratio);
    const std::vector<std::string> before = Identifiers();
    EXPECT_EQ(ConstructionCode(c.spec), c.code == 0 ? -1 : c.code);
    if (!c.entry.empty()) {
      EXPECT_TRUE(test::Logged(c.entry));
    }
    EXPECT_EQ(Identifiers(), before); // nothing left behind
  }
}

TEST_F(MeteointerpolStepTest, TheSetupGridsAreRequired) {
  test::WriteFixture("stations.dat", Stations({"2001 1 2 0 10 20"}));
  registry_.ReleaseGrid(4); // "CoordX"
  EXPECT_EQ(ConstructionCode(SectionSpec{}), 33);
  registry_.ReleaseGrid(3); // "RelCellArea"
  EXPECT_EQ(ConstructionCode(SectionSpec{}), 74);
  EXPECT_TRUE(test::Logged("FATAL: \n-----------------------------------------------------------\n"
                           "Tavro-Brenk no longer works without a RelCellArea-Grid.\n"));
}

TEST_F(MeteointerpolStepTest, ReleaseLeavesTheRegistryAsFound) {
  std::string months; // one name per line, the rest of each line skipped
  for (int m = 1; m <= 12; ++m)
    months += "g.asc month " + std::to_string(m) + "\n";
  test::WriteFixture("g.asc", UniformGrid(1.0));
  test::WriteFixture("stations.dat", Stations({"2001 1 2 0 10 20"}));
  const std::vector<std::string> before = Identifiers();
  SectionSpec s;
  s.ratio = 0.5; // rotated coordinates
  s.statistics = "temp.stat 2001";
  s.scenario = "1\n5\n" + months;
  auto variable = Make(s);
  EXPECT_GT(registry_.FindGrid("CoordYRot_temperature", false), 0);
  EXPECT_GT(registry_.FindGrid("scenariogrid_temperature", false), 0);
  EXPECT_EQ(registry_.FindGrid("temperature", false), kResultIndex);
  Step(*variable);
  variable->ReleaseMemory();
  EXPECT_EQ(Identifiers(), before);
  EXPECT_TRUE(test::Logged("DEBUG: deleting interpolator for temperature"));
}

TEST_F(MeteointerpolStepTest, DescriptionShowsTheRadiusAsEntered) {
  test::WriteFixture("stations.dat", Stations({"2001 1 2 0 10 20"}));
  SectionSpec s;
  s.weight = 2.0005; // weight code 2000: the radius is held squared
  auto variable = Make(s);
  EXPECT_EQ(variable->WeightCode, 2000);
  EXPECT_DOUBLE_EQ(variable->MaxDistance, 2.5e9);
  EXPECT_EQ(variable->Description,
            "temperature interpolated with idw from stations.dat, zones from zones.asc, weighting "
            "=  2.0,  maxentf =    50000, control file control.txt_0.$$$, additional columns: 0");
  variable->ReleaseMemory();
  SectionSpec twelve;
  twelve.method = 12;
  twelve.methodLine = "-0.0065";
  auto lapse = Make(twelve);
  EXPECT_EQ(lapse->Description,
            "temperature interpolated with Thiessen plus elevation lapserate, all values taken "
            "from stations.dat, control file control.txt_0.$$$");
}

TEST_F(MeteointerpolStepTest, SameGridForOneAndTwoThreads) {
  test::WriteFixture("stations.dat", Stations({"2001 1 2 0 10 20"}));
  std::vector<std::vector<double>> grids;
  const int saved = omp_get_max_threads();
  for (const int threads : {1, 2}) {
    omp_set_num_threads(threads);
    SectionSpec s;
    s.slope = 20.0;
    s.ratio = 0.7;
    auto variable = Make(s);
    Step(*variable);
    std::vector<double> cells;
    for (long r = 1; r <= 3; ++r)
      for (long c = 1; c <= 4; ++c)
        cells.push_back(variable->ResultGrid()[r][c]);
    grids.push_back(cells);
    variable->ReleaseMemory();
  }
  omp_set_num_threads(saved);
  EXPECT_EQ(grids[0], grids[1]);
}

} // namespace
} // namespace tavro
