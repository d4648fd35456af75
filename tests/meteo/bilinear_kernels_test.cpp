// The kernels of the bilinear methods: the bilinear value between four mesh
// corners against a bilinear function, its fallback to inverse distance
// weighting; the corner search in the four quadrants, on a station's own x,
// at the border and beside a hole of the mesh; the box search's open
// bounds; and the dominant direction of turned and axis-parallel meshes.
#include "meteo/interpolation/look_up_stations.h"
#include "meteo/interpolation/mesh_direction.h"
#include "meteo/interpolation/rotated_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace tavro::interpolation {
namespace {

constexpr double kValidFrom = -9999.0;
constexpr double kMissing = -10000.0;

InverseDistanceSettings Idw() {
  InverseDistanceSettings s;
  s.Code = 2000;
  s.Exponent = 2.0;
  s.MaxDistance = 1e12;
  s.ValidFrom = kValidFrom;
  s.Missing = kMissing;
  return s;
}

double F(double x, double y) { return 1.0 + 0.01 * x - 0.02 * y + 0.0003 * x * y; }

TEST(BilinearTest, ReproducesABilinearFunctionOnARectangle) {
  // Stations 1..4: SW, NE, NW, SE of the rectangle [100, 300] x [50, 150].
  const std::vector<double> x{100, 300, 100, 300}, y{50, 150, 150, 50};
  std::vector<double> v;
  for (std::size_t k = 0; k < x.size(); ++k)
    v.push_back(F(x[k], y[k]));
  const LookUpCorners corners{2, 3, 1, 4};
  std::vector<double> work(4);
  for (const auto &[px, py] : std::vector<std::pair<double, double>>{
           {150, 80}, {290, 140}, {100, 150}, {300, 50}, {200, 100}, {111.1, 66.6}})
    EXPECT_NEAR(Bilinear(corners, x, y, v, work, px, py, 1.0, Idw()), F(px, py), 1e-12)
        << px << " " << py;
}

TEST(BilinearTest, FallsBackToInverseDistance) {
  const std::vector<double> x{100, 300, 100, 300}, y{50, 150, 150, 50};
  std::vector<double> v{1.0, 2.0, 3.0, 4.0};
  std::vector<double> work(4), idwWork(4);
  const LookUpCorners corners{2, 3, 1, 4};
  const double px = 150.0, py = 80.0;
  // A corner value that is missing: inverse distance over the valid stations.
  std::vector<double> gap = v;
  gap[3] = kMissing;
  EXPECT_EQ(Bilinear(corners, x, y, gap, work, px, py, 0.8, Idw()),
            InverseDistanceAnisotropic(x, y, gap, idwWork, px, py, 0.8, Idw()));
  // A corner without a station.
  EXPECT_EQ(Bilinear({2, 3, 1, 0}, x, y, v, work, px, py, 1.0, Idw()),
            InverseDistanceAnisotropic(x, y, v, idwWork, px, py, 1.0, Idw()));
  // NW on the x of NE: no cell to interpolate in.
  EXPECT_EQ(Bilinear({1, 3, 1, 4}, x, y, v, work, px, py, 1.0, Idw()),
            InverseDistanceAnisotropic(x, y, v, idwWork, px, py, 1.0, Idw()));
  // The four corners on one station: its value.
  EXPECT_EQ(Bilinear({3, 3, 3, 3}, x, y, v, work, px, py, 1.0, Idw()), 3.0);
  // No valid value anywhere: missing.
  const std::vector<double> none(4, kMissing);
  EXPECT_EQ(Bilinear({3, 3, 3, 3}, x, y, none, work, px, py, 1.0, Idw()), kMissing);
}

// A 3 x 3 mesh with 1000 m spacing, stations numbered from the south-west
// row by row: k = 1 + i + 3 j at (1000 i, 1000 j).
struct Mesh {
  std::vector<double> x, y;
  Mesh() {
    for (int j = 0; j < 3; ++j)
      for (int i = 0; i < 3; ++i) {
        x.push_back(1000.0 * i);
        y.push_back(1000.0 * j);
      }
  }
};

TEST(LookUpStationsTest, CornersInEveryQuadrant) {
  const Mesh mesh;
  const StationSpacing spacing{1000.0, 1000.0};
  struct Case {
    const char *what;
    double px, py;
    LookUpCorners expected; // NE, NW, SW, SE
  };
  const std::vector<Case> cases = {
      {"nearest station north-east", 1600, 1700, {9, 8, 5, 6}},
      {"nearest station north-west", 1400, 1700, {9, 8, 5, 6}},
      {"nearest station south-east", 1600, 1300, {9, 8, 5, 6}},
      {"nearest station south-west", 1400, 1300, {9, 8, 5, 6}},
      {"nearest station on the point's x, south", 1000, 1300, {9, 8, 5, 6}},
      {"nearest station on the point's x, north", 1000, 1700, {9, 8, 5, 6}},
      {"east border: no station further east", 2300, 1300, {0, 9, 6, 0}},
      {"south border", 600, -300, {2, 1, 0, 0}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ChooseLookUpCorners(mesh.x, mesh.y, c.px, c.py, spacing, 0.25), c.expected);
  }
}

TEST(LookUpStationsTest, HolesSingleStationsAndOpenBoxes) {
  const StationSpacing spacing{1000.0, 1000.0};
  // Station 8 (1000, 2000) moved far away: the corner north of 5 is missing,
  // and so is the one east of it, which would be searched from there.
  Mesh holed;
  holed.x[7] = 50000.0;
  EXPECT_EQ(ChooseLookUpCorners(holed.x, holed.y, 1400, 1300, spacing, 0.25),
            (LookUpCorners{0, 0, 5, 6}));
  // One station: no spacing, only the nearest corner.
  const std::vector<double> one{500.0};
  EXPECT_EQ(ChooseLookUpCorners(one, one, 400, 400, StationSpacing{}, 0.25),
            (LookUpCorners{1, 0, 0, 0}));
  const std::vector<double> none;
  EXPECT_EQ(ChooseLookUpCorners(none, none, 400, 400, spacing, 0.25), LookUpCorners{});
  // Open bounds: a station on the border of a box is outside it.
  const Mesh mesh;
  EXPECT_EQ(FindStationInBox(mesh.x, mesh.y, 0.0, 0.0, 750.0, 1250.0, -250.0, 250.0), 2u);
  EXPECT_EQ(FindStationInBox(mesh.x, mesh.y, 0.0, 0.0, 1000.0, 1250.0, -250.0, 250.0), 0u);
  EXPECT_EQ(FindStationInBox(mesh.x, mesh.y, 0.0, 0.0, 750.0, 1250.0, 0.0, 250.0), 0u);
  // The first station in index order wins.
  EXPECT_EQ(FindStationInBox(mesh.x, mesh.y, 0.0, 0.0, -1.0, 2500.0, 500.0, 2500.0), 4u);
}

// A mesh of nx x ny stations with spacings a (along the direction) and b
// (across it), turned by `degrees` about (xll, yll).
void TurnedMesh(int nx, int ny, double a, double b, double degrees, std::vector<double> &x,
                std::vector<double> &y) {
  const double t = degrees * 3.14159265358979323846 / 180.0;
  for (int j = 0; j < ny; ++j)
    for (int i = 0; i < nx; ++i) {
      const double u = a * i, w = b * j;
      x.push_back(500000.0 + u * std::cos(t) - w * std::sin(t));
      y.push_back(5200000.0 + u * std::sin(t) + w * std::cos(t));
    }
}

TEST(MeshDirectionTest, TurnedAndAxisParallelMeshes) {
  struct Case {
    const char *what;
    double a, b, degrees;
    double slope, ratio;
  };
  const std::vector<Case> cases = {
      {"square mesh turned by 30 degrees", 1000, 1000, 30, 30, 0.995},
      {"nearer along 30 degrees", 1000, 1200, 30, 30, 0.995},
      {"nearer along 120 degrees", 1200, 1000, 30, 30, 0.995},
      {"turned by -20 degrees", 1000, 1000, -20, -20, 0.995},
      {"axis-parallel", 1000, 1000, 0, 0, 1.0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<double> x, y;
    TurnedMesh(4, 3, c.a, c.b, c.degrees, x, y);
    const MeshDirection d = DominantMeshDirection(x, y);
    // A square mesh has two directions 90 degrees apart; either turns its
    // lines onto the axes.
    const double apart = std::fmod(d.SlopeDegrees - c.slope + 360.0, 90.0);
    EXPECT_NEAR(std::min(apart, 90.0 - apart), 0.0, 1e-6) << d.SlopeDegrees;
    EXPECT_EQ(d.Ratio, c.ratio);
    if (c.ratio < 1.0) {
      const double slope = d.SlopeDegrees * kRadiansPerDegree;
      const FramePoint p0 = RotateIntoFrame(x[0], y[0], 0.0, 0.0, slope);
      const FramePoint p1 = RotateIntoFrame(x[1], y[1], 0.0, 0.0, slope);
      const FramePoint p4 = RotateIntoFrame(x[4], y[4], 0.0, 0.0, slope);
      const bool alongX = std::fabs(p0.Y - p1.Y) < 1e-3 && std::fabs(p0.X - p4.X) < 1e-3;
      const bool alongY = std::fabs(p0.X - p1.X) < 1e-3 && std::fabs(p0.Y - p4.Y) < 1e-3;
      EXPECT_TRUE(alongX || alongY);
    }
  }
  // One station has no neighbour: no direction.
  const MeshDirection single =
      DominantMeshDirection(std::vector<double>{1.0}, std::vector<double>{2.0});
  EXPECT_EQ(single.SlopeDegrees, 0.0);
  EXPECT_EQ(single.Ratio, 1.0);
}

} // namespace
} // namespace tavro::interpolation
