// The spline methods of the interpolator (7 and 8) on a raster of 10 x 12
// cells of 1 km: the mesh built from the stations, a bilinear function
// reproduced at every cell inside the mesh (its border included), inverse
// distance weighting outside it, missing station values that split a
// column, a turned mesh, the irregular meshes that stop the set-up, equal
// abscissae, and the value at a point.
#include "interpolator_fixture.h"

#include "meteo/interpolation/rotated_frame.h"
#include "meteo/interpolation/thiessen.h"
#include "meteo/tsplines.h"
#include "support/diagnostics_entries.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace tavro {
namespace {

constexpr long kRows = 10;
constexpr long kCols = 12;

double X(long c) { return (c - 1) * 1000.0; }
double Y(long r) { return (kRows - r) * 1000.0; }
double Zone(long r, long c) { return r == 1 && c == 1 ? -9999.0 : 1.0; }
double Height(long r, long c) { return 300.0 + 40.0 * r + 15.0 * c; }

double F(double x, double y) { return 2.0 + 0.001 * x - 0.0005 * y + 2e-7 * x * y; }
double G(double x, double y) { return -0.006 + 1e-7 * x + 2e-7 * y - 1e-11 * x * y; }

// Columns at the given x from west to east, rows at the given y from north
// to south; stations numbered row by row from the south-east corner, so
// that neither the file order nor the numbers follow the mesh.
std::vector<MeshStation> Mesh(const std::vector<double> &xs, const std::vector<double> &ys) {
  std::vector<MeshStation> stations;
  for (auto y = ys.rbegin(); y != ys.rend(); ++y)
    for (auto x = xs.rbegin(); x != xs.rend(); ++x)
      stations.push_back({*x, *y, 500.0});
  return stations;
}

class SplineMethodsTest : public InterpolatorFixture {
protected:
  SplineMethodsTest()
      : InterpolatorFixture({kRows, kCols, 1, 1, kRows, 0.0, 0.0, 1000.0}, Zone, Height) {}

  static SectionSpec Spline(int method, const std::string &stationLines) {
    SectionSpec s;
    s.method = method;
    s.stationLines = stationLines;
    s.lower = s.lowerReplacement = -5000.0;
    s.upper = s.upperReplacement = 5000.0;
    return s;
  }
};

// A regular mesh of 4 columns and 3 rows on cell corners: x 2000 to 8000 m,
// y 1000 to 7000 m (cells of rows 3 to 9 and columns 3 to 9 lie inside).
const std::vector<MeshStation> kRegular = Mesh({2000, 4000, 6000, 8000}, {7000, 4000, 1000});
bool InsideRegular(long r, long c) { return r >= 3 && r <= 9 && c >= 3 && c <= 9; }

TEST_F(SplineMethodsTest, BicubicSplineReproducesABilinearFieldInsideTheMesh) {
  const std::vector<double> values = AtStations(kRegular, F);
  test::WriteFixture("mesh.dat", StationFile(kRegular, {values, std::vector<double>(12, 7.5)}));
  auto variable = Make(Spline(7, "mesh.dat"));
  EXPECT_EQ(variable->Description,
            "temperature interpolated with bicubic spline interpolation (mesh.dat, add. col.: 0), "
            "zones from zones.asc, control file control.txt_0.$$$");
  EXPECT_EQ(variable->AnisotropyRatio, 1.0);
  EXPECT_EQ(registry_.FindGrid("CoordXRot_temperature", false), 0);
  const StationMesh &mesh = variable->Mesh();
  ASSERT_EQ(mesh.Rows, 3);
  ASSERT_EQ(mesh.Columns, 4);
  // Node (1, 1) is the north-west station, the last of the file.
  EXPECT_EQ(mesh.Station[1][1], 12.0);
  EXPECT_EQ(mesh.Station[3][4], 1.0);
  EXPECT_EQ(mesh.X[2][3], 6000.0);
  EXPECT_EQ(mesh.Y[2][3], 4000.0);

  Step(*variable);
  for (long r = 1; r <= kRows; ++r)
    for (long c = 1; c <= kCols; ++c) {
      const double cell = variable->ResultGrid()[r][c];
      if (Zone(r, c) < 0.0)
        EXPECT_EQ(cell, -9999.0);
      else if (InsideRegular(r, c))
        EXPECT_NEAR(cell, F(X(c), Y(r)), 1e-12) << r << " " << c;
      else
        EXPECT_EQ(cell, InverseDistanceOf(kRegular, values, X(c), Y(r))) << r << " " << c;
    }
  // The value at a point is the nearest station's.
  std::vector<double> work(12);
  std::vector<double> xs, ys;
  for (const auto &s : kRegular) {
    xs.push_back(s.x);
    ys.push_back(s.y);
  }
  for (const auto &[x, y] : std::vector<std::pair<double, double>>{{2900, 3900}, {11000, 500}})
    EXPECT_EQ(variable->ValueAtPoint(work, x, y, 400.0),
              interpolation::Thiessen(xs, ys, values, work, x, y, -9999.0, -10000.0));

  // Equal values at every station: that value on every cell.
  variable->ReadNextData();
  Step(*variable);
  for (long r = 1; r <= kRows; ++r)
    for (long c = 1; c <= kCols; ++c)
      if (Zone(r, c) > 0.0) {
        EXPECT_EQ(variable->ResultGrid()[r][c], 7.5);
      }
  variable->ReleaseMemory();
  EXPECT_EQ(variable->Splines(), nullptr);
}

TEST_F(SplineMethodsTest, ResidualsPlusGradientsTimesElevation) {
  const std::vector<double> residuals = AtStations(kRegular, F);
  const std::vector<double> gradients = AtStations(kRegular, G);
  test::WriteFixture("residuals.dat",
                     StationFile(kRegular, {residuals, std::vector<double>(12, 1013.25)}));
  test::WriteFixture("gradients.dat",
                     StationFile(kRegular, {gradients, std::vector<double>(12, -0.12)}));
  auto variable = Make(Spline(8, "residuals.dat\ngradients.dat"));
  EXPECT_EQ(variable->Description,
            "temperature interpolated with bicubic spline interpolation of gradients "
            "(gradients.dat, add. col.: 0) and residuals (residuals.dat, add. col.: 0), linearly "
            "combined, zones from zones.asc, control file control.txt_0.$$$");
  Step(*variable);
  for (long r = 1; r <= kRows; ++r)
    for (long c = 1; c <= kCols; ++c) {
      if (Zone(r, c) < 0.0)
        continue;
      const double z = Height(r, c);
      const double cell = variable->ResultGrid()[r][c];
      if (InsideRegular(r, c)) {
        EXPECT_NEAR(cell, F(X(c), Y(r)) + G(X(c), Y(r)) * z, 1e-12) << r << " " << c;
      } else {
        // Both parts by inverse distance weighting, the elevation term kept.
        const double residual = InverseDistanceOf(kRegular, residuals, X(c), Y(r));
        const double gradient = InverseDistanceOf(kRegular, gradients, X(c), Y(r));
        EXPECT_EQ(cell, residual + gradient * z) << r << " " << c;
      }
    }
  // The value at a point is the nearest station's residual.
  std::vector<double> work(12), xs, ys;
  for (const auto &s : kRegular) {
    xs.push_back(s.x);
    ys.push_back(s.y);
  }
  EXPECT_EQ(variable->ValueAtPoint(work, 4100, 6100, 700.0),
            interpolation::Thiessen(xs, ys, residuals, work, 4100, 6100, -9999.0, -10000.0));
  // The linearised standard atmosphere of the example: constant residuals
  // and gradients; the residual spline holds the constant inside the mesh.
  variable->ReadNextData();
  Step(*variable);
  for (long r = 1; r <= kRows; ++r)
    for (long c = 1; c <= kCols; ++c) {
      if (Zone(r, c) < 0.0)
        continue;
      EXPECT_NEAR(variable->ResultGrid()[r][c], 1013.25 - 0.12 * Height(r, c), 1e-9);
      const double spline = variable->SplineGrid()[r][c];
      if (InsideRegular(r, c))
        EXPECT_NEAR(spline, 1013.25, 1e-12);
      else
        EXPECT_LT(spline, -9999.0);
    }
  EXPECT_EQ(variable->ValueAtPoint(work, 4100, 6100, 700.0), 1013.25);
}

TEST_F(SplineMethodsTest, AMissingValueSplitsItsColumn) {
  // Five rows: the middle node of one column is missing (-999 with the bound
  // N = 998), which leaves two runs of two nodes in that column. In the rows
  // between them the column has no value, which splits each row into runs
  // of its own: the cells east of the gap take the row spline of the columns
  // there, the others inverse distance weighting of the valid stations.
  const std::vector<MeshStation> mesh =
      Mesh({2000, 4000, 6000, 8000}, {7000, 5500, 4000, 2500, 1000});
  for (const double missingX : {4000.0, 2000.0}) {
    SCOPED_TRACE(missingX);
    std::vector<double> values = AtStations(mesh, F);
    for (std::size_t k = 0; k < mesh.size(); ++k)
      if (mesh[k].x == missingX && mesh[k].y == 4000.0)
        values[k] = -999.0;
    test::WriteFixture("mesh.dat", StationFile(mesh, {values}));
    SectionSpec s = Spline(7, "mesh.dat");
    s.nodata = 998.0;
    auto variable = Make(s);
    ASSERT_EQ(variable->Mesh().Rows, 5);
    Step(*variable);
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kCols; ++c) {
        if (Zone(r, c) < 0.0)
          continue;
        const double cell = variable->ResultGrid()[r][c];
        const bool gap = Y(r) > 2500.0 && Y(r) < 5500.0;
        const bool reached = !gap || X(c) >= missingX + 2000.0;
        if (InsideRegular(r, c) && reached)
          EXPECT_NEAR(cell, F(X(c), Y(r)), 1e-12) << r << " " << c;
        else
          EXPECT_EQ(cell, InverseDistanceOf(mesh, values, X(c), Y(r), 998.0)) << r << " " << c;
      }
    variable->ReleaseMemory();
  }
}

TEST_F(SplineMethodsTest, ATurnedMeshAndIrregularMeshes) {
  // 3 rows and 4 columns of stations 2000 m apart across and 2500 m along,
  // turned by 20 degrees about the raster's lower-left corner.
  const double t = 20.0 * interpolation::kRadiansPerDegree;
  const auto fromFrame = [&](double u, double v) {
    return MeshStation{u * std::cos(t) - v * std::sin(t), u * std::sin(t) + v * std::cos(t), 500};
  };
  std::vector<MeshStation> mesh;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 4; ++j)
      mesh.push_back(fromFrame(3000.0 + 2000.0 * j, 7000.0 - 2500.0 * i));
  test::WriteFixture("mesh.dat", StationFile(mesh, {AtStations(mesh, [&](double x, double y) {
                                               const auto p =
                                                   interpolation::RotateIntoFrame(x, y, 0, 0, t);
                                               return F(p.X, p.Y);
                                             })}));
  auto variable = Make(Spline(7, "mesh.dat"));
  EXPECT_NEAR(variable->AnisotropySlope, t, 1e-12);
  EXPECT_EQ(variable->AnisotropyRatio, 0.995);
  EXPECT_GT(registry_.FindGrid("CoordXRot_temperature", false), 0);
  const StationMesh &m = variable->Mesh();
  ASSERT_EQ(m.Rows, 3);
  ASSERT_EQ(m.Columns, 4);
  for (long i = 1; i <= 3; ++i)
    for (long j = 1; j <= 4; ++j)
      EXPECT_EQ(m.Station[i][j], static_cast<double>((i - 1) * 4 + j)) << i << " " << j;
  // Inside, every cell takes the field at the point of the auxiliary raster
  // (of the cell size, from the south-west node) nearest to it in the turned
  // frame.
  Step(*variable);
  const double slope = variable->AnisotropySlope;
  int inside = 0;
  for (long r = 1; r <= kRows; ++r)
    for (long c = 1; c <= kCols; ++c) {
      if (Zone(r, c) < 0.0)
        continue;
      const auto p = interpolation::RotateIntoFrame(X(c), Y(r), 0, 0, slope);
      const double across = std::floor((p.X - m.X[1][1]) / 1000.0 + 0.4999);
      const double up = std::floor((p.Y - m.Y[3][1]) / 1000.0 + 0.4999);
      // Off the border: a turned mesh is straight in the frame only to the
      // last bits, so a border point may lie a hair outside a column.
      if (across < 1 || across > 5 || up < 1 || up > 4)
        continue;
      ++inside;
      EXPECT_NEAR(variable->ResultGrid()[r][c],
                  F(m.X[1][1] + across * 1000.0, m.Y[3][1] + up * 1000.0), 1e-9)
          << r << " " << c;
    }
  EXPECT_GT(inside, 15);
  variable->ReleaseMemory();

  // One station fewer: a column of two among columns of three.
  std::vector<MeshStation> short_ = mesh;
  short_.erase(short_.begin() + 5);
  // A single row of stations: columns of one station.
  const std::vector<MeshStation> row = Mesh({2000, 4000, 6000}, {3000});
  // A single column: without an east neighbour there is no horizontal
  // spacing, so no box finds a station and each forms a column of its own.
  const std::vector<MeshStation> column = Mesh({5000}, {1000, 4000, 7000});
  const std::string message =
      "FATAL: Error converting the station coordinates into a grid:\nThe actual version of "
      "Tavro-Brenk accepts only station meshs\nwith an equal number of more or less equally "
      "spaced stations\nin each column, whereas the total number of both, rows \nand columns, "
      "are each virtually unlimited\n";
  struct Case {
    const std::vector<MeshStation> &stations;
    std::string size;
  };
  for (const Case &c : {Case{short_, ""}, Case{row, "mesh found: 3 column(s) of 1 station(s)\n"},
                        Case{column, "mesh found: 3 column(s) of 1 station(s)\n"}}) {
    SCOPED_TRACE(c.stations.size());
    test::WriteFixture("mesh.dat",
                       StationFile(c.stations, {std::vector<double>(c.stations.size(), 1.0)}));
    EXPECT_EQ(ConstructionCode(Spline(7, "mesh.dat")), 70);
    EXPECT_TRUE(test::Logged(message + c.size));
    EXPECT_TRUE(registry_[kResultIndex].IsFree());
  }
}

TEST_F(SplineMethodsTest, EqualAbscissaeAreFatal) {
  // A column whose two nodes lie at the same y.
  Grid x(1, 2, 2, 2, log_), y(1, 2, 2, 2, log_), z(1, 2, 2, 2, log_), z2(1, 2, 2, 2, log_);
  x[1][1] = x[2][1] = 2000.0;
  x[1][2] = x[2][2] = 6000.0;
  y[1][1] = y[2][1] = 4000.0;
  y[1][2] = 7000.0;
  y[2][2] = 1000.0;
  z.Fill(1.0);
  CellIterationSetup cells;
  cells.FirstRow = 1;
  cells.LastRow = kRows;
  cells.NCols = kCols;
  cells.Zone = &setup_.zone;
  TSplines splines(
      log_, "temperature", SplineMesh{&x, &y, 2, 2, 4000.0, 3000.0},
      SplineModelRaster{&setup_.coordX, &setup_.coordY, cells, 0.0, 0.0, 1000.0, -9999.0, 0.0},
      interpolation::ValueBounds{-9999.0, -10000.0});
  // Points turn about the raster's lower-left corner by minus the angle.
  double px = 1000.0, py = 0.0;
  splines.RotatePoint(px, py, interpolation::kQuarterTurn);
  EXPECT_NEAR(px, 0.0, 1e-9);
  EXPECT_NEAR(py, -1000.0, 1e-9);
  EXPECT_EQ(test::ExitCodeOf([&] { splines.Prepare(z, z2); }), 82);
  EXPECT_TRUE(test::Logged("FATAL: The two input coordinates 4000 (index 1) \nand 4000 (index 2) "
                           "for the 1-D-Splineevaluation are the same!\n"));
}

} // namespace
} // namespace tavro
