// Overland-flow kernels against independent references: plan curvature of
// quadratic surfaces, the central-difference aspect against gdaldem, slope
// cases and outflow weights, velocities in their regimes, flow resistance
// and the stable inner step.
#include "lateral/overland/flow_resistance.h"
#include "lateral/overland/flow_velocity.h"
#include "lateral/overland/outflow_weights.h"
#include "lateral/overland/plan_curvature.h"
#include "lateral/overland/stable_step.h"
#include "lateral/overland/storage_update.h"
#include "lateral/overland/surface_slope.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace tavro::overland {
namespace {

constexpr double N = -9999.0;

// A cell with its eight neighbours from 3x3 windows (row 0 north, column 0
// west); a neighbour of no-data elevation is outside the zone.
Neighbourhood Window(const double (&z)[3][3], double cellSize, const double (&h)[3][3] = {}) {
  Neighbourhood n;
  n.CellSize = cellSize;
  n.Elevation = z[1][1];
  n.Depth = h[1][1];
  n.Storage = h[1][1] * 1000.0;
  for (int d = 1; d <= kDirections; ++d) {
    const auto i = static_cast<std::size_t>(d);
    const int r = 1 + kRowOffset[i];
    const int c = 1 + kColumnOffset[i];
    n.NeighbourElevation[i] = z[r][c];
    n.NeighbourDepth[i] = h[r][c];
    n.Inside[i] = true;
    n.Valid[i] = z[r][c] != N;
    n.Positive[i] = z[r][c] != N;
  }
  return n;
}

TEST(PlanCurvature, IsMinusZevenbergenThorneOnQuadraticSurfaces) {
  struct Quadratic {
    double a, b, f, g, h; // z = a x^2 + b y^2 + f x y + g x + h y + 100, x east, y north
  };
  const Quadratic cases[] = {{0.01, 0.0, 0.0, 0.0, 0.1},       {0.0, -0.02, 0.0, 0.3, 0.0},
                             {0.003, 0.004, 0.002, 0.1, -0.2}, {-0.01, 0.02, -0.005, -0.4, 0.05},
                             {0.0, 0.0, 0.01, 0.2, 0.2},       {0.5, -0.25, 0.125, 1.5, -2.0}};
  for (double cell : {1.0, 25.0}) {
    for (const Quadratic &q : cases) {
      double z[3][3];
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
          const double x = (j - 1) * cell;
          const double y = (1 - i) * cell;
          z[i][j] = q.a * x * x + q.b * y * y + q.f * x * y + q.g * x + q.h * y + 100.0;
        }
      std::array<std::array<double, 3>, 3> w{};
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
          w[i][j] = z[i][j];
      // Zevenbergen and Thorne (1987): D, E the x^2, y^2 coefficients, F the
      // xy one, G, H the slopes; plan curvature -2(DH^2 + EG^2 - FGH)/(G^2 + H^2).
      const double zt =
          -2.0 * (q.a * q.h * q.h + q.b * q.g * q.g - q.f * q.g * q.h) / (q.g * q.g + q.h * q.h);
      EXPECT_NEAR(PlanCurvature(w, cell), -zt, 1e-12 * std::max(1.0, std::fabs(zt)))
          << q.a << " " << q.b << " " << q.f << " cell " << cell;
    }
  }
  std::array<std::array<double, 3>, 3> flat{};
  EXPECT_EQ(PlanCurvature(flat, 10.0), 0.0);
}

TEST(PlanCurvature, RasterLeavesEdgesAndIncompleteWindowsToTheFilling) {
  const RasterView raster{5, 4};
  std::vector<double> z = {10, 11, 12, 13, 14, //
                           11, 12, 14, 14, 15, //
                           12, 13, N,  15, 16, //
                           13, 14, 15, 16, 17};
  std::vector<double> k(z.size());
  ComputePlanCurvatureRaster(z, k, raster, 10.0, N);
  for (long c = 1; c <= 5; ++c) {
    EXPECT_EQ(raster.At(std::span<const double>(k), 1, c), N);
    EXPECT_EQ(raster.At(std::span<const double>(k), 4, c), N);
  }
  // Row 2: column 2 sees the no-data cell at (3, 3), as do 3 and 4.
  for (long c = 1; c <= 5; ++c)
    EXPECT_EQ(raster.At(std::span<const double>(k), 2, c), N) << c;
  // Filling row by row: (2, 2) takes the mean of none but its own valid
  // neighbours; later cells see the filled ones.
  std::vector<double> values = {N, N, N, N, N, //
                                N, N, 4, N, N, //
                                N, 2, N, N, N, //
                                N, N, N, N, N};
  std::vector<char> fill(values.size(), 0);
  fill[6] = fill[8] = fill[12] = 1; // (2,2), (2,4), (3,3)
  FillGapsFromNeighbours(values, fill, raster, N);
  EXPECT_DOUBLE_EQ(values[6], 3.0);                            // E 4 and S 2
  EXPECT_DOUBLE_EQ(values[8], 4.0);                            // W 4 only
  EXPECT_DOUBLE_EQ(values[12], (4.0 + 4.0 + 2.0 + 3.0) / 4.0); // NE, W, NW, N
  EXPECT_EQ(values[0], N);                                     // not asked for
}

double AngleBetween(double a, double b) {
  const double d = std::fmod(std::fabs(a - b), 360.0);
  return d > 180.0 ? 360.0 - d : d;
}

TEST(SurfaceSlope, CentralDifferenceAspectAgreesWithGdaldem) {
  constexpr int kCols = 19;
  constexpr int kRows = 13;
  constexpr double kCell = 25.0;
  std::mt19937 random(7);
  std::uniform_int_distribution<int> quarters(1200, 1680);
  std::vector<double> z(kCols * kRows);
  std::FILE *dem = std::fopen("dem.asc", "w");
  ASSERT_NE(dem, nullptr);
  std::fprintf(dem,
               "ncols %d\nnrows %d\nxllcorner 0\nyllcorner 0\ncellsize 25\n"
               "nodata_value -9999\n",
               kCols, kRows);
  for (int i = 0; i < kRows * kCols; ++i) {
    z[static_cast<std::size_t>(i)] = 0.25 * quarters(random);
    std::fprintf(dem, "%.17g%s", z[static_cast<std::size_t>(i)], (i + 1) % kCols == 0 ? "\n" : " ");
  }
  std::fclose(dem);
  ASSERT_EQ(std::system("gdaldem aspect -q -alg ZevenbergenThorne -of AAIGrid dem.asc "
                        "aspect.asc >gdaldem.log 2>&1"),
            0)
      << "gdaldem failed or is missing (package gdal-bin): " << test::ReadWholeFile("gdaldem.log");
  const std::vector<double> reference = test::ReadAsciiGridValues("aspect.asc");
  ASSERT_EQ(reference.size(), z.size());
  auto at = [&](int r, int c) { return z[static_cast<std::size_t>((r - 1) * kCols + c - 1)]; };
  int compared = 0;
  for (int r = 2; r < kRows; ++r)
    for (int c = 2; c < kCols; ++c) {
      const double ours =
          CentralDifferenceAspect(at(r - 1, c), at(r, c + 1), at(r + 1, c), at(r, c - 1), kCell);
      const double expected = reference[static_cast<std::size_t>((r - 1) * kCols + c - 1)];
      EXPECT_NEAR(AngleBetween(ours, expected), 0.0, 1e-4) << r << "/" << c;
      ++compared;
    }
  EXPECT_EQ(compared, (kRows - 2) * (kCols - 2));
}

TEST(SurfaceSlope, CasesAndSteepestDirection) {
  // North-facing plane: the steepest gradient is towards row - 1.
  const double plane[3][3] = {{9, 9, 9}, {10, 10, 10}, {11, 11, 11}};
  SlopeResult s = SurfaceSlope(Window(plane, 10.0), 1);
  EXPECT_EQ(s.Case, kInteriorCell);
  EXPECT_DOUBLE_EQ(s.Slope, 0.1);
  EXPECT_DOUBLE_EQ(s.Aspect, 0.0);
  // Diagonals use 1.414 (not the square root of 2).
  const double corner[3][3] = {{10, 10, 10}, {10, 10, 10}, {10, 10, 9}};
  s = SurfaceSlope(Window(corner, 10.0), 1);
  EXPECT_DOUBLE_EQ(s.Slope, 1.0 / 14.14);
  EXPECT_DOUBLE_EQ(s.Aspect, 135.0);
  // Ties go to central differences: a valley draining south-west.
  const double tie[3][3] = {{12, 12, 12}, {9, 10, 12}, {9.5, 9, 12}};
  s = SurfaceSlope(Window(tie, 10.0), 1);
  EXPECT_DOUBLE_EQ(s.Slope, 0.1);
  EXPECT_NEAR(s.Aspect, 225.0, 1e-9);
  // River cells and edge cells.
  Neighbourhood river = Window(plane, 10.0);
  river.River = true;
  EXPECT_EQ(SurfaceSlope(river, 1).Case, kRiverCell);
  Neighbourhood edge = Window(plane, 10.0);
  edge.FirstRow = true;
  edge.Inside[1] = edge.Inside[2] = edge.Inside[8] = false;
  s = SurfaceSlope(edge, 1);
  EXPECT_EQ(s.Case, kEdgeCell);
  // E and W tie at 0: the north head is mirrored from the south terrain
  // (2H - z_S = 9), giving atan(0.1) in degrees towards north.
  EXPECT_DOUBLE_EQ(s.Slope, std::atan(0.1) * 57.29577951307855);
  EXPECT_EQ(s.Aspect, 0.0);
  // An isolated edge cell: every gradient missing, slope and aspect 0.
  const double alone[3][3] = {{N, N, N}, {N, 10, N}, {N, N, N}};
  s = SurfaceSlope(Window(alone, 10.0), 1);
  EXPECT_EQ(s.Case, kEdgeCell);
  EXPECT_EQ(s.Slope, 0.0);
  EXPECT_EQ(s.Aspect, 0.0);
}

TEST(DistributeOutflow, WeightTable) {
  const double north[3][3] = {{9, 9, 9}, {10, 10, 10}, {11, 11, 11}};
  struct Case {
    const char *name;
    int method;
    double curvature;
    double aspect;
    std::array<double, 9> weights; // [1..8]
    int main;
  };
  // Aspect 0: main 1, sides cos 45 and sin 45 (with 0.017453 per degree),
  // so 0.4142 for N and 0.2929 for NE and NW.
  const double a0 = 0.41421356, w0 = 0.29289707, e0 = 0.29288936;
  const Case cases[] = {
      {"aspect 0, concave", 1, -0.01, 0.0, {0, a0, w0, 0, 0, 0, 0, 0, e0}, 1},
      {"aspect 0, straight", 3, 0.0, 0.0, {0, a0, w0, 0, 0, 0, 0, 0, e0}, 1},
      {"aspect 0, convex", 1, 0.01, 0.0, {0, 1, 0, 0, 0, 0, 0, 0, 0}, 1},
      {"aspect 0, one direction", 2, -0.01, 0.0, {0, 1, 0, 0, 0, 0, 0, 0, 0}, 1},
      // Aspect 30: sector NE; the side weights of the split go 0.5 : 0.866
      // to N and E, a defined property of the split.
      {"aspect 30", 1, -0.01, 30.0, {0, 0.21132194, 0.42265030, 0.36602776, 0, 0, 0, 0, 0}, 2},
      // Aspect 350: sector N from 337.5 on gives a side angle above 45.
      {"aspect 350", 1, -0.01, 350.0, {0, 0.41793223, 0.23972159, 0, 0, 0, 0, 0, 0.34234618}, 1},
  };
  for (const Case &k : cases) {
    Neighbourhood n = Window(north, 10.0);
    n.PlanCurvature = k.curvature;
    int slopeCase = kInteriorCell;
    OutflowState state;
    DistributeOutflow(n, k.method, slopeCase, 0, 0.1, k.aspect, state);
    EXPECT_EQ(slopeCase, kInteriorCell) << k.name;
    EXPECT_EQ(state.MainDirection, k.main) << k.name;
    for (int d = 1; d <= 8; ++d)
      EXPECT_NEAR(state.Weights[static_cast<std::size_t>(d)],
                  k.weights[static_cast<std::size_t>(d)], 1e-7)
          << k.name << " direction " << d;
    EXPECT_DOUBLE_EQ(state.WaterSurface, 10.0);
  }
}

TEST(DistributeOutflow, DropSplitFallbacksAndUnchangedCount) {
  // Aspect pointing uphill (south) on a north-facing plane: the split is
  // filtered away, the cell becomes an edge cell and drops decide.
  const double north[3][3] = {{9, 9, 9}, {10, 10, 10}, {11, 11, 11}};
  Neighbourhood n = Window(north, 10.0);
  int slopeCase = kInteriorCell;
  OutflowState state;
  DistributeOutflow(n, 1, slopeCase, 0, 0.1, 180.0, state);
  EXPECT_EQ(slopeCase, kEdgeCell);
  const double diagonal = 1.0 / 1.4142135;
  const double sum = 1.0 + 2.0 * diagonal;
  EXPECT_DOUBLE_EQ(state.Weights[1], 1.0 / sum);
  EXPECT_DOUBLE_EQ(state.Weights[2], diagonal / sum);
  EXPECT_DOUBLE_EQ(state.Weights[8], diagonal / sum);
  EXPECT_EQ(state.MainDirection, 1);
  // Method 2: the largest drop only.
  slopeCase = kEdgeCell;
  DistributeOutflow(n, 2, slopeCase, 1, 0.1, 0.0, state);
  EXPECT_EQ(state.Weights[1], 1.0);
  for (int d = 2; d <= 8; ++d)
    EXPECT_EQ(state.Weights[static_cast<std::size_t>(d)], 0.0);
  EXPECT_EQ(state.Weights[0], 5.0); // N, NE, NW changed by more than 0.01
  // A flat interior cell keeps its water.
  const double flat[3][3] = {{5, 5, 5}, {5, 5, 5}, {5, 5, 5}};
  slopeCase = kInteriorCell;
  DistributeOutflow(Window(flat, 10.0), 1, slopeCase, 0, 0.0, 0.0, state);
  EXPECT_EQ(state.MainDirection, 0);
  for (int d = 1; d <= 8; ++d)
    EXPECT_EQ(state.Weights[static_cast<std::size_t>(d)], 0.0);
  // A river cell keeps everything.
  OutflowState kept;
  kept.Weights = {3, 0.5, 0.5, 0, 0, 0, 0, 0, 0};
  kept.MainDirection = 2;
  slopeCase = kRiverCell;
  DistributeOutflow(n, 1, slopeCase, 1, 0.1, 0.0, kept);
  EXPECT_EQ(kept.Weights[0], 3.0);
  EXPECT_EQ(kept.MainDirection, 2);
  // Edge cell: neighbours outside the raster take nothing.
  Neighbourhood edge = Window(north, 10.0);
  edge.FirstRow = true;
  slopeCase = kEdgeCell;
  DistributeOutflow(edge, 1, slopeCase, 0, 0.0, 0.0, state);
  EXPECT_EQ(state.MainDirection, 0);
  EXPECT_EQ(state.Weights[1], 0.0);
}

TEST(DistributeOutflow, PendingFloatingPointErrorIsReportedPerNormalisedDirection) {
  // Both normalisations: the aspect split of an interior cell, and the drop
  // split of one whose aspect points uphill.
  struct Case {
    const char *name;
    double aspect;
    int slopeCase;
  };
  const double north[3][3] = {{9, 9, 9}, {10, 10, 10}, {11, 11, 11}};
  for (const Case &k :
       {Case{"aspect split", 0.0, kInteriorCell}, Case{"drop split", 180.0, kInteriorCell}}) {
    for (const int pending : {0, 1}) {
      std::atomic<int> flag{pending};
      struct Call {
        int direction;
        double before, sum, after;
      };
      std::vector<Call> calls;
      NormalisationReport report;
      report.Pending = &flag;
      report.Report = [&](int direction, double before, double sum, double after) {
        calls.push_back({direction, before, sum, after});
      };
      int slopeCase = k.slopeCase;
      OutflowState state;
      DistributeOutflow(Window(north, 10.0), 1, slopeCase, 0, 0.1, k.aspect, state, report);
      if (pending == 0) {
        EXPECT_TRUE(calls.empty()) << k.name;
        continue;
      }
      // Every direction once, in order, with the values of its division.
      ASSERT_EQ(calls.size(), 8u) << k.name;
      for (std::size_t i = 0; i < calls.size(); ++i) {
        const Call &call = calls[i];
        EXPECT_EQ(call.direction, static_cast<int>(i) + 1) << k.name;
        EXPECT_EQ(call.after, state.Weights[i + 1]) << k.name;
        EXPECT_DOUBLE_EQ(call.before / call.sum, call.after) << k.name;
      }
      EXPECT_GT(calls[0].sum, 0.0) << k.name;
    }
  }
}

VelocitySettings Settings(int method, double maxSub, double minSub = 10.0) {
  VelocitySettings s;
  s.Method = method;
  s.MaxErrorVelocity = 1e-12;
  s.MaxIterVelocity = 1000;
  s.MinSubTimeStep = minSub;
  s.MaxSubTimeStep = maxSub;
  s.ConcentrationFactor = 1.0;
  s.Resistance = {0.001, 20, 0.01};
  return s;
}

// A cell draining east with gradient s in one direction.
struct EastCell {
  Neighbourhood n;
  OutflowState outflow;
  EastCell(double cellSize, double slope, double depth) {
    const double dz = slope * cellSize;
    const double z[3][3] = {{10, 10 - dz, 10 + 5}, {10 + 5, 10, 10 - dz}, {10 + 5, 10 + 5, 10 + 5}};
    n = Window(z, cellSize);
    n.NeighbourElevation[2] = 15.0;
    n.NeighbourElevation[1] = 15.0;
    n.Depth = depth;
    n.Storage = depth * 1000.0;
    outflow.Weights[3] = 1.0;
    outflow.MainDirection = 3;
  }
};

TEST(FlowVelocity, StricklerInTheDepthLimitedRegime) {
  LandUseResistance u;
  u.Strickler = 25.0;
  for (double h : {0.001, 0.004, 0.02}) {
    for (double s : {0.01, 0.1}) {
      EastCell cell(10.0, s, h);
      CellFlow flow;
      FlowVelocity(cell.n, Settings(1, 10.0), u, 1e9, kEdgeCell, cell.outflow, 0, 0, flow);
      // The gradient as the cell sees it: the drop over the cell size.
      const double sigma = std::sqrt((10.0 - (10.0 - s * 10.0)) / 10.0);
      const double v = sigma * std::pow(h, 0.66667) * 25.0;
      EXPECT_EQ(flow.Velocity[3], v) << h << " " << s;
      EXPECT_EQ(flow.Flux[3], v * 10.0 * h);
      EXPECT_DOUBLE_EQ(flow.Flux[0], flow.Flux[3]);
      for (int d : {1, 2, 4, 5, 6, 7, 8})
        EXPECT_EQ(flow.Flux[static_cast<std::size_t>(d)], 0.0);
    }
  }
}

// A pending floating-point error is reported per direction with the
// direction's weight, velocity and flux and the flux sum so far; without one
// nothing is reported.
TEST(FlowVelocity, PendingFloatingPointErrorReportsEveryDirection) {
  LandUseResistance u;
  u.Strickler = 25.0;
  for (const int pending : {0, 1}) {
    std::atomic<int> flag{pending};
    struct Call {
      int direction;
      double weight, velocity, flux, sum;
    };
    std::vector<Call> calls;
    VelocityReport report;
    report.Pending = &flag;
    report.Report = [&](int direction, double weight, double velocity, double flux, double sum) {
      calls.push_back({direction, weight, velocity, flux, sum});
    };
    EastCell cell(10.0, 0.1, 0.004);
    CellFlow flow;
    FlowVelocity(cell.n, Settings(1, 10.0), u, 1e9, kEdgeCell, cell.outflow, 0, 0, flow, report);
    if (pending == 0) {
      EXPECT_TRUE(calls.empty());
      continue;
    }
    ASSERT_EQ(calls.size(), 8u);
    double sum = 0.0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
      const Call &call = calls[i];
      EXPECT_EQ(call.direction, static_cast<int>(i) + 1);
      EXPECT_EQ(call.weight, cell.outflow.Weights[i + 1]);
      EXPECT_EQ(call.velocity, flow.Velocity[i + 1]);
      EXPECT_EQ(call.flux, flow.Flux[i + 1]); // the cell limit does not bind here
      sum += call.flux;
      EXPECT_EQ(call.sum, sum);
    }
    EXPECT_GT(calls[2].flux, 0.0); // east
  }
}

TEST(FlowVelocity, VolumeLimitedFixedPointAndMethodFiveCap) {
  LandUseResistance u;
  u.Strickler = 20.0;
  // A steep, short cell whose longest step releases less than its depth:
  // v = sigma k (Q / dx / v)^0.66667 at the fixed point.
  EastCell cell(1.0, 0.25, 0.05);
  CellFlow flow;
  FlowVelocity(cell.n, Settings(1, 600.0), u, 1e9, kEdgeCell, cell.outflow, 0, 0, flow);
  const double q = 1.0 * 0.05 / 600.0;
  const double expected = std::pow(0.5 * 20.0 * std::pow(q, 0.66667), 1.0 / 1.66667);
  EXPECT_NEAR(flow.Velocity[3], expected, 1e-9);
  EXPECT_NEAR(flow.Flux[3], q, 1e-12); // v dx y = Q
  // Method 5: h^0.66667 10 sigma, at most dx / (20 min step).
  // (method 5 takes the gradient of the water surface)
  struct Case {
    double depth, slope;
    bool capped;
  };
  const Case cases[] = {{0.01, 0.04, false}, {0.5, 1.0, true}};
  for (const Case &k : cases) {
    EastCell c5(10.0, k.slope, k.depth);
    CellFlow f5;
    FlowVelocity(c5.n, Settings(5, 600.0, 5.0), u, 1e9, kEdgeCell, c5.outflow, 3, 7, f5);
    const double sigma = std::sqrt((k.slope * 10.0 + k.depth) / 10.0);
    const double expected =
        k.capped ? 10.0 / (5.0 * 20.0) : std::pow(k.depth, 0.66667) * 10.0 * sigma;
    EXPECT_LE(expected, 10.0 / (5.0 * 20.0));
    EXPECT_DOUBLE_EQ(f5.Velocity[3], expected);
    EXPECT_DOUBLE_EQ(f5.Flux[3], expected * 10.0 * k.depth);
  }
  // A dry cell has no flow, whatever its weights.
  EastCell dry(10.0, 0.1, 0.0);
  CellFlow none;
  none.Velocity[3] = 0.3;
  FlowVelocity(dry.n, Settings(1, 60.0), u, 1e9, kEdgeCell, dry.outflow, 0, 0, none);
  EXPECT_EQ(none.Velocity[3], 0.0);
  EXPECT_EQ(none.Flux[0], 0.0);
}

TEST(FlowVelocity, UnchangedWeightsKeepTheLastFluxesBetweenRecomputations) {
  LandUseResistance u;
  u.Strickler = 25.0;
  EastCell cell(10.0, 0.1, 0.01);
  cell.outflow.Weights[0] = 8;
  CellFlow flow;
  flow.Velocity[3] = 0.123;
  flow.Flux[3] = 0.456;
  FlowVelocity(cell.n, Settings(1, 10.0), u, 1e9, kEdgeCell, cell.outflow, 2, 5, flow);
  EXPECT_EQ(flow.Velocity[3], 0.123);
  EXPECT_EQ(flow.Flux[0], 0.456);
  FlowVelocity(cell.n, Settings(1, 10.0), u, 1e9, kEdgeCell, cell.outflow, 5, 5, flow);
  EXPECT_NE(flow.Velocity[3], 0.123);
}

// The row-crop resistance with a given drag coefficient, written out.
double RowCropReference(double cd, double kst, double d, double ax, double ay, double v, double y,
                        double sigma, int maxIter, double maxError) {
  double j = sigma;
  if (cd * sigma / (v * v) > 0.04)
    j = v * v / cd / 25.0;
  double a = 50.0 * d, before = 0.0;
  for (int i = 0; i < maxIter && 50.0 * d > maxError; ++i) {
    a = cd * 128.9 * d * std::pow(j * a * 9.8159 / (0.5 * v * v) + 1.0, -2.14);
    if (std::fabs(a - before) <= maxError)
      break;
    before = a;
  }
  const double p3 = std::pow(a / ax, -0.48);
  const double p4 = std::pow(std::pow(cd * d, 0.41) * std::pow(a, 0.59) * 0.24 / ay, 1.1);
  double fr = v / std::sqrt(9.8159 * y);
  const double w = std::max(ay, 5.0 * d);
  const double q = w / (w - d);
  if (std::pow(q, 3) * fr > 0.666)
    fr = 2.0 / (3.0 * std::pow(q, 3));
  const double t = fr >= 0.05 ? 2.0 / (fr * fr) : 799.9999999999999;
  fr = std::max(fr, 0.05);
  double x = 0.6, xn = x;
  for (int i = 0; i < maxIter; ++i) {
    xn = 2.0 * fr * (x - q) / (x * x - 1.0);
    if (std::fabs(x - xn) <= 1e-4)
      break;
    x = xn;
  }
  const double lambda =
      4.0 * y * d / (w * ax) * (1.31 * cd * (1.15 * p3 + 0.5 * p4) + t * (1 - xn));
  const double y3 = std::pow(y, 0.3333);
  return std::sqrt(78.5272 / (y3 * (78.5272 / (y3 * kst * kst) + lambda)));
}

TEST(FlowResistance, Table) {
  const ResistanceSettings settings{0.0001, 30, 0.005};
  LandUseResistance residue;
  residue.Cultivation = 1;
  residue.RoughCoefficients1 = {2.0, 0.5, 0.2};
  residue.RoughCoefficients2 = {4.0, 0.3, 0.1};
  residue.ResidueCover = 0.3;
  // Re = v 4e6 y: 0.1 * 4e6 * 0.01 = 4000 and 0.5 * 4e6 * 0.02 = 40000.
  EXPECT_DOUBLE_EQ(FlowResistance(residue, settings, 0.1, 0.01, 0.2),
                   std::pow(4000.0, 0.2) / (2.0 * std::pow(30.0, 0.5)));
  EXPECT_DOUBLE_EQ(FlowResistance(residue, settings, 0.5, 0.02, 0.2),
                   std::pow(40000.0, 0.1) / (4.0 * std::pow(30.0, 0.3)));
  EXPECT_DOUBLE_EQ(FlowResistance(residue, settings, 0.5, 0.01, 0.2),
                   std::pow(20000.0, 0.1) / (4.0 * std::pow(30.0, 0.3))); // from 20000 on

  LandUseResistance crop;
  crop.Cultivation = 2;
  crop.Strickler = 30.0;
  crop.DragCoefficient = 0.8;
  crop.StemSpacingX = 0.2;
  crop.StemSpacingY = 0.75;
  crop.StemDiameter = 0.01;
  struct Case {
    double v;  // stem Reynolds number v * 0.01 * 1e6
    double cd; // the branch it falls in
  };
  const Case cases[] = {{0.05, 3.07 * std::pow(500.0, -0.168)}, {0.5, 1.0}, {0.9, 1.2}, {1.2, 0.8}};
  for (const Case &k : cases) {
    const double y = 0.02, sigma = 0.1;
    EXPECT_NEAR(FlowResistance(crop, settings, k.v, y, sigma),
                RowCropReference(k.cd, 30.0, 0.01, 0.2, 0.75, k.v, y, sigma, 30, 0.0001), 1e-12)
        << k.v;
  }
  // Thin stems and shallow flow add nothing: k = K_ST.
  LandUseResistance thin = crop;
  thin.StemDiameter = 0.0009;
  EXPECT_NEAR(FlowResistance(thin, settings, 0.3, 0.02, 0.1), 30.0, 1e-12);
  EXPECT_NEAR(FlowResistance(crop, settings, 0.3, 0.004, 0.1), 30.0, 1e-12);
  // A dry row crop has no defined resistance: the floor 0.001.
  const ResistanceSettings noMinimum{0.0001, 30, 0.0};
  EXPECT_EQ(FlowResistance(crop, noMinimum, 0.3, 0.0, 0.1), 0.001);
  // Other cultivation types: the Strickler coefficient whatever the flow.
  LandUseResistance plain;
  plain.Strickler = 12.5;
  for (double v : {0.0, 0.3, 5.0})
    EXPECT_EQ(FlowResistance(plain, settings, v, 0.1, 0.2), 12.5);
}

TEST(StableStep, Table) {
  struct Case {
    double substep, minimum, minStep, maxStep;
    double step;
    int foreseen, runs;
  };
  const Case cases[] = {
      {3600, 45, 10, 600, 3600.0 / 81.0, 82, 81}, // 44.44 s
      {3600, kNoStepLimit, 10, 600, 600, 7, 6},   // no flow: the longest step
      {3600, 0.5, 10, 600, 10, 361, 360},         // a fast cell: the shortest
      {5, 45, 10, 5, 10, 1, 0},                   // T_s <= min / 2: none
  };
  for (const Case &k : cases) {
    const InnerSteps s = StableInnerStep(k.substep, k.minimum, k.minStep, k.maxStep);
    EXPECT_DOUBLE_EQ(s.Length, k.step) << k.minimum;
    EXPECT_EQ(s.Foreseen, k.foreseen) << k.minimum;
    EXPECT_EQ(InnerStepCount(k.substep, s.Length, k.minStep), k.runs) << k.minimum;
  }
  PerDirection w{}, v{};
  w[2] = 0.5;
  v[2] = 2.0;
  w[3] = 0.00005; // too small a share to limit the step
  v[3] = 50.0;
  w[4] = 0.5;
  v[4] = 0.000001; // too slow
  EXPECT_DOUBLE_EQ(CellStepLimit(w, v, 10.0), 5.0);
  EXPECT_EQ(CellStepLimit(PerDirection{}, v, 10.0), kNoStepLimit);
}

TEST(StorageUpdate, LimiterAndBalance) {
  PerDirection f{};
  f[0] = 0.002;
  f[1] = 0.002;
  f[3] = 0.006;
  f[5] = -0.001; // never scaled
  // 5 mm on 100 m2 = 0.5 m3; 0.008 m3/s over 100 s = 0.8 m3.
  const double factor = OutflowLimit(5.0, 10.0, 100.0, f);
  EXPECT_DOUBLE_EQ(factor, 0.5 / 0.8);
  ScaleOutflow(f, factor);
  EXPECT_DOUBLE_EQ((f[1] + f[3]) * 100.0, 0.5);
  EXPECT_EQ(f[5], -0.001);
  EXPECT_EQ(OutflowLimit(5.0, 10.0, 1.0, f), 1.0);
  EXPECT_EQ(OutflowLimit(0.0, 10.0, 1.0, PerDirection{}), 1.0);
  // The cell update: mm over the cell, concentrations of the mixture.
  const double start[] = {2.0};
  const double mass[] = {0.3 * 1000.0 * 4.0}; // 0.3 m3 at concentration 4
  double conc[1];
  CellBalance b = UpdateCellStorage(5.0, 0.3, 0.2, 10.0, start, mass, conc);
  EXPECT_DOUBLE_EQ(b.Inflow, 3.0);
  EXPECT_DOUBLE_EQ(b.Outflow, 2.0);
  EXPECT_DOUBLE_EQ(b.Storage, 6.0);
  EXPECT_DOUBLE_EQ(conc[0], (5.0 * 2.0 + 3.0 * 4.0 - 2.0 * 2.0) / 6.0);
  // Overdrawn: the outflow is cut to the water there was.
  b = UpdateCellStorage(1.0, 0.0, 0.5, 10.0, start, std::span<const double>(mass, 1), conc);
  EXPECT_DOUBLE_EQ(b.Outflow, 1.0);
  EXPECT_EQ(b.Storage, 0.0);
  EXPECT_EQ(conc[0], 0.0);
}

} // namespace
} // namespace tavro::overland
