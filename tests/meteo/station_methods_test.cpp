// The station methods of this interpolator beyond inverse distance and
// Thiessen, on the 3 x 4 test raster: bilinear interpolation on an
// axis-parallel and on a turned mesh (a bilinear function reproduced), at
// the mesh border and with a single station, the gradients of method 6, the
// regression fitted to the station row (methods 10 and 11), and the value
// at a point, which equals the grid value at a cell for every method that
// has one.
#include "interpolator_fixture.h"

#include "meteo/interpolation/inverse_distance.h"
#include "meteo/interpolation/rotated_frame.h"
#include "support/diagnostics_entries.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace tavro {
namespace {

// A mesh of 2 x 2 stations around the raster (spacing 4000 m by 3000 m).
const std::vector<MeshStation> kMesh = {
    {-500, -500, 300}, {3500, -500, 500}, {-500, 2500, 800}, {3500, 2500, 1200}};

double F(double x, double y) { return 1.0 + 0.001 * x - 0.002 * y + 1e-6 * x * y; }
double G(double x, double y) { return 0.002 - 1e-7 * x + 2e-7 * y; }

class StationMethodsTest : public InterpolatorFixture {
protected:
  bool Valid(long r, long c) const { return !(r == 3 && c == 1); }
};

TEST_F(StationMethodsTest, BilinearOnAnAxisParallelMesh) {
  test::WriteFixture("mesh.dat", StationFile(kMesh, {AtStations(kMesh, F)}));
  test::WriteFixture("gradients.dat", StationFile(kMesh, {AtStations(kMesh, G)}));
  SectionSpec s;
  s.method = 5;
  s.stationLines = "mesh.dat";
  s.slope = 40.0; // replaced by the mesh's own direction
  s.ratio = 0.5;
  auto five = Make(s);
  EXPECT_EQ(five->AnisotropySlope, 0.0);
  EXPECT_EQ(five->AnisotropyRatio, 1.0);
  EXPECT_EQ(registry_.FindGrid("CoordXRot_temperature", false), 0);
  EXPECT_EQ(five->Spacing.Horizontal, 4000.0);
  EXPECT_EQ(five->Spacing.Vertical, 3000.0);
  // Cell (2, 2) at (1000, 1000) is nearest to station 1 (the first of two).
  EXPECT_EQ(five->LookUpStations(2, 2), (interpolation::LookUpCorners{4, 3, 1, 2}));
  EXPECT_EQ(five->LookUpStations(3, 1), interpolation::LookUpCorners{}); // outside
  Step(*five);
  for (long r = 1; r <= 3; ++r)
    for (long c = 1; c <= 4; ++c)
      if (Valid(r, c)) {
        EXPECT_NEAR(five->ResultGrid()[r][c], F(setup_.coordX[r][c], setup_.coordY[r][c]), 1e-12)
            << r << " " << c;
      }
  five->ReleaseMemory();

  s.method = 6;
  s.stationLines = "mesh.dat\ngradients.dat";
  auto six = Make(s);
  EXPECT_EQ(six->Description,
            "temperature interpolated with bilinear interpolation of gradients (gradients.dat, "
            "add. col.: 0) and residuals (mesh.dat, add. col.: 0), linearly combined, zones from "
            "zones.asc, control file control.txt_0.$$$");
  Step(*six);
  for (long r = 1; r <= 3; ++r)
    for (long c = 1; c <= 4; ++c)
      if (Valid(r, c)) {
        const double x = setup_.coordX[r][c], y = setup_.coordY[r][c];
        EXPECT_NEAR(six->ResultGrid()[r][c], F(x, y) + G(x, y) * setup_.height[r][c], 1e-12);
      }
}

TEST_F(StationMethodsTest, BilinearOnATurnedMesh) {
  // A 3 x 3 mesh of 2500 m turned by 30 degrees about (1500, 1000).
  const double t = 30.0 * interpolation::kRadiansPerDegree;
  std::vector<MeshStation> mesh;
  for (int j = -1; j <= 1; ++j)
    for (int i = -1; i <= 1; ++i)
      mesh.push_back({1500.0 + 2500.0 * (i * std::cos(t) - j * std::sin(t)),
                      1000.0 + 2500.0 * (i * std::sin(t) + j * std::cos(t)), 500.0});
  // A bilinear function of the turned frame.
  const auto frame = [&](double x, double y) {
    return interpolation::RotateIntoFrame(x, y, 0.0, 0.0, t);
  };
  const auto f = [&](double x, double y) {
    const interpolation::FramePoint p = frame(x, y);
    return 5.0 + 0.001 * p.X - 0.0005 * p.Y + 2e-7 * p.X * p.Y;
  };
  std::vector<double> values;
  for (const auto &s : mesh)
    values.push_back(f(s.x, s.y));
  test::WriteFixture("mesh.dat", StationFile(mesh, {values}));
  SectionSpec s;
  s.method = 5;
  s.stationLines = "mesh.dat";
  auto variable = Make(s);
  EXPECT_NEAR(variable->AnisotropySlope, t, 1e-9);
  EXPECT_EQ(variable->AnisotropyRatio, 0.995);
  EXPECT_GT(registry_.FindGrid("CoordXRot_temperature", false), 0);
  Step(*variable);
  for (long r = 1; r <= 3; ++r)
    for (long c = 1; c <= 4; ++c)
      if (Valid(r, c)) {
        EXPECT_NEAR(variable->ResultGrid()[r][c], f(setup_.coordX[r][c], setup_.coordY[r][c]), 1e-6)
            << r << " " << c;
      }
}

TEST_F(StationMethodsTest, BorderCellsAndASingleStationFallBackToInverseDistance) {
  // The mesh covers only the western half: the cells east of it have no
  // eastern corners.
  const std::vector<MeshStation> west = {
      {-500, -500, 300}, {1500, -500, 500}, {-500, 2500, 800}, {1500, 2500, 1200}};
  const std::vector<double> values = AtStations(west, F);
  test::WriteFixture("mesh.dat", StationFile(west, {values}));
  SectionSpec s;
  s.method = 5;
  s.stationLines = "mesh.dat";
  auto variable = Make(s);
  EXPECT_EQ(variable->LookUpStations(2, 4), (interpolation::LookUpCorners{0, 4, 2, 0}));
  Step(*variable);
  EXPECT_EQ(variable->ResultGrid()[2][4], InverseDistanceOf(west, values, 3000.0, 1000.0));
  EXPECT_NEAR(variable->ResultGrid()[2][2], F(1000.0, 1000.0), 1e-12); // inside
  variable->ReleaseMemory();

  // One station: no direction, no corners but its own; method 6 adds the
  // station's gradient times the elevation everywhere.
  test::WriteFixture("one.dat", StationFile({{1000, 1000, 700}}, {{4.0}}));
  test::WriteFixture("slope.dat", StationFile({{1000, 1000, 700}}, {{-0.005}}));
  s.stationLines = "one.dat";
  auto five = Make(s);
  EXPECT_EQ(five->AnisotropySlope, 0.0);
  EXPECT_EQ(five->AnisotropyRatio, 1.0);
  Step(*five);
  EXPECT_EQ(five->ResultGrid()[1][4], 4.0);
  five->ReleaseMemory();
  s.method = 6;
  s.stationLines = "one.dat\nslope.dat";
  auto six = Make(s);
  Step(*six);
  EXPECT_NEAR(six->ResultGrid()[1][4], 4.0 - 0.005 * setup_.height[1][4], 1e-12);
}

TEST_F(StationMethodsTest, RegressionFittedToTheStationRow) {
  // Lower stations on 12 - 0.006 z, upper ones on 10.8 - 0.004 z: the lines
  // cross at the split height 600 m.
  const std::vector<double> values{10.2, 9.0, 7.6, 6.0};
  std::vector<MeshStation> stations = kMesh;
  test::WriteFixture("mesh.dat", StationFile(stations, {values, {-99999, -99999, -99999, 3.0}}));
  SectionSpec s;
  s.method = 10;
  s.stationLines = "mesh.dat";
  s.methodLine = "600 1000 100 0 50";
  auto ten = Make(s);
  EXPECT_EQ(ten->Description, "temperature interpolated with elevation dependent regression for "
                              "values taken from mesh.dat, control file control.txt_0.$$$");
  ten->CalcElevationRegression(0);
  Step(*ten);
  const auto regression = [](double z) { return z <= 600.0 ? 12.0 - 0.006 * z : 10.8 - 0.004 * z; };
  for (long r = 1; r <= 3; ++r)
    for (long c = 1; c <= 4; ++c)
      if (Valid(r, c)) {
        EXPECT_NEAR(ten->ResultGrid()[r][c], regression(setup_.height[r][c]), 1e-9);
      }
  // One station left: a constant.
  ten->ReadNextData();
  ten->CalcElevationRegression(0);
  Step(*ten);
  EXPECT_NEAR(ten->ResultGrid()[2][2], 3.0, 1e-12);
  ten->ReleaseMemory();

  s.method = 11;
  s.fraction = 0.25;
  auto eleven = Make(s);
  eleven->CalcElevationRegression(0);
  Step(*eleven);
  const double v = InverseDistanceOf(stations, values, 1000.0, 1000.0);
  EXPECT_NEAR(eleven->ResultGrid()[2][2], 0.75 * regression(620.0) + 0.25 * v, 1e-9);
}

// A station row without any valid value: the methods that interpolate the
// values themselves keep the previous grid, and stop the run when there is
// none yet; those that combine them with gradients, a regression or a lapse
// rate pass the missing marker -N - 1 through the scaling and the limits.
TEST_F(StationMethodsTest, ARowWithoutValidValuesByMethod) {
  const std::vector<double> values =
      AtStations(kMesh, [](double x, double y) { return 10.0 + F(x, y); });
  const std::vector<double> gradients = AtStations(kMesh, G);
  const std::vector<double> none(kMesh.size(), -99999.0);
  // Rows of 2, 3 and 4 January: values, none, values.
  test::WriteFixture("mesh.dat", StationFile(kMesh, {values, none, values}));
  test::WriteFixture("gradients.dat", StationFile(kMesh, {gradients, none, gradients}));
  struct Case {
    int method;
    const char *stationLines;
    const char *methodLine;
    bool keeps;
  };
  const std::vector<Case> cases = {
      {1, "mesh.dat", "regression.dat", true},
      {4, "mesh.dat", "regression.dat", true},
      {5, "mesh.dat", "regression.dat", true},
      {7, "mesh.dat", "regression.dat", true},
      {6, "mesh.dat\ngradients.dat", "regression.dat", false},
      {8, "mesh.dat\ngradients.dat", "regression.dat", false},
      {11, "mesh.dat", "600 1000 100 0 50", false},
      {12, "mesh.dat", "-0.0065", false},
  };
  const auto step = [&](meteointerpol &variable) {
    variable.CalcElevationRegression(0);
    Step(variable);
  };
  struct Limits {
    double scaling, lower, lowerReplacement, missing;
  };
  // A precipitation limited below by 0 becomes 0; without a limit in the
  // way the marker stays (and is scaled like any value).
  for (const Limits limits :
       {Limits{2.0, 0.0, 0.0, 0.0}, Limits{1.0, -20000.0, -20000.0, -10000.0}})
    for (const Case &c : cases) {
      SCOPED_TRACE(testing::Message() << "method " << c.method << ", lower limit " << limits.lower);
      SectionSpec s;
      s.method = c.method;
      s.stationLines = c.stationLines;
      s.methodLine = c.methodLine;
      s.scaling = limits.scaling;
      s.lower = limits.lower;
      s.lowerReplacement = limits.lowerReplacement;
      s.upper = s.upperReplacement = 5000.0;
      auto variable = Make(s);
      step(*variable);
      std::vector<double> before;
      for (long r = 1; r <= 3; ++r)
        for (long col = 1; col <= 4; ++col)
          before.push_back(variable->ResultGrid()[r][col]);
      const auto previous = [&](long r, long col) {
        return before[static_cast<std::size_t>((r - 1) * 4 + col - 1)];
      };
      variable->ReadNextData();
      step(*variable);
      for (long r = 1; r <= 3; ++r)
        for (long col = 1; col <= 4; ++col)
          if (Valid(r, col)) {
            EXPECT_GT(previous(r, col), 0.0) << r << " " << col;
            EXPECT_EQ(variable->ResultGrid()[r][col], c.keeps ? previous(r, col) : limits.missing)
                << r << " " << col;
          }
      variable->ReleaseMemory();

      // The same row first: nothing to keep.
      auto first = Make(s, ModelDate{0, 3, 1, 2001});
      if (c.keeps) {
        EXPECT_EQ(test::ExitCodeOf([&] { step(*first); }), meteointerpol::NoGridNameExitCode);
        EXPECT_TRUE(test::Logged("FATAL: no valid station value for temperature in the first row "
                                 "used, of 3.1.2001 0. h in mesh.dat: there is no previous grid to "
                                 "keep; the data must begin with a row that gives a value"));
      } else {
        step(*first);
        EXPECT_EQ(first->ResultGrid()[2][2], limits.missing);
      }
      first->ReleaseMemory();
    }
}

TEST_F(StationMethodsTest, ValueAtPointEqualsTheGridValue) {
  test::WriteFixture("stations.dat", Stations({"2001 1 2 0 10 20"}));
  test::WriteFixture("mesh.dat", StationFile(kMesh, {{10.2, 9.0, 7.6, 6.1}}));
  test::WriteFixture("gradients.dat", StationFile(kMesh, {AtStations(kMesh, G)}));
  test::WriteFixture("reg.txt", "jr mo dy hr\n2001 1 2 0 10 -0.002 600 12 -0.006 700 6 -0.001 "
                                "11 0.001 -0.0005\n");
  struct Case {
    int method;
    std::string stations, methodLine;
    double slope, ratio;
  };
  const std::vector<Case> cases = {
      {1, "stations.dat", "reg.txt", 20.0, 0.6},
      {1, "mesh.dat", "reg.txt", 0.0, 1.0},
      {2, "none.dat", "reg.txt", 0.0, 1.0},
      {3, "mesh.dat", "reg.txt", 35.0, 0.7},
      {4, "mesh.dat", "reg.txt", 0.0, 1.0},
      {5, "mesh.dat", "reg.txt", 0.0, 1.0},
      {6, "mesh.dat\ngradients.dat", "reg.txt", 0.0, 1.0},
      {10, "mesh.dat", "600 1000 100 0 50", 0.0, 1.0},
      {11, "mesh.dat", "600 1000 100 0 50 -0.0065", -10.0, 0.8},
      {12, "mesh.dat", "-0.0065 700 -0.003", 0.0, 1.0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "method " << c.method << " " << c.stations);
    SectionSpec s;
    s.method = c.method;
    s.stationLines = c.stations;
    s.methodLine = c.methodLine;
    s.slope = c.slope;
    s.ratio = c.ratio;
    s.scaling = 1.5;
    s.lower = s.lowerReplacement = 0.0;
    auto variable = Make(s);
    if (c.method == 10 || c.method == 11)
      variable->CalcElevationRegression(0);
    Step(*variable);
    std::vector<double> work(8);
    std::set<double> seen;
    for (long r = 1; r <= 3; ++r)
      for (long col = 1; col <= 4; ++col)
        if (Valid(r, col)) {
          const double cell = variable->ResultGrid()[r][col];
          seen.insert(cell);
          EXPECT_EQ(variable->ValueAtPoint(work, setup_.coordX[r][col], setup_.coordY[r][col],
                                           setup_.height[r][col]),
                    cell)
              << r << " " << col;
        }
    EXPECT_GT(seen.size(), 3u); // a field, not a constant
    variable->ReleaseMemory();
  }
}

TEST_F(StationMethodsTest, RegressionParametersForThePrecipitationCorrection) {
  test::WriteFixture("mesh.dat", StationFile(kMesh, {{10.2, 9.0, 7.6, 6.0}}));
  SectionSpec s;
  s.method = 11;
  s.stationLines = "mesh.dat";
  s.methodLine = "600 1000 100 0 50";
  auto variable = Make(s);
  variable->CalcElevationRegression(0);
  double lower = 0, upper = 0;
  std::array<double, 4> a{}, b{};
  variable->GetRegressionParameters(1, lower, upper, a, b);
  EXPECT_EQ(lower, 0.0);
  EXPECT_NEAR(upper, 600.0, 1e-9);
  EXPECT_NEAR(a[2], 12.0, 1e-9);
  EXPECT_NEAR(b[3], -0.004, 1e-12);
  // The correction writes intercepts, slopes and Hi back; the step uses them.
  variable->SetRegressionParameters(1, {0.0, 20.0, 20.0, 20.0}, {0.0, 0.0, 0.0, 0.0}, 900.0);
  EXPECT_EQ(variable->Regression().UpperHeight, 900.0);
  EXPECT_EQ(variable->Regression().LowerHeight, 0.0);
  s.method = 12; // other methods report no regression
  s.methodLine = "-0.0065";
  variable->ReleaseMemory();
  auto twelve = Make(s);
  twelve->GetRegressionParameters(1, lower, upper, a, b);
  EXPECT_EQ(lower, -10000.0);
  EXPECT_EQ(upper, -10000.0);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(a[i], -10000.0);
    EXPECT_EQ(b[i], -10000.0);
  }
}

} // namespace
} // namespace tavro
