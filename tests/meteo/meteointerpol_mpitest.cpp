// The interpolation step over the real decomposition: every process computes
// its own cells, and the gathered result grid and the statistics table are
// the same as computed for the whole raster at once, whatever the number of
// processes (the suite runs under 1 and 3) and threads.
#include "meteo/meteointerpol.h"
#include "meteo/tsplines.h"

#include "decomposed_meteo_raster.h"
#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "meteo/interpolation/inverse_distance.h"
#include "meteo/interpolation/rotated_frame.h"
#include "meteo/interpolation/thiessen.h"
#include "raster/parallel/mpi_decomposition.h"
#include "station_file_fixture.h"
#include "support/setup_grids.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <mpi.h>
#include <omp.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::Rank;

// The raster, its zones and elevations, and the stations.
using namespace meteo_test;
constexpr const char *kControl = "control.txt_0.$$$";

const std::vector<std::vector<double>> kDays = {
    {1.5, 4.0, -2.0, 3.25}, {0.0, 12.5, 7.0, -99999.0}, {5.0, 5.0, 5.0, 5.0}};

// The station file of the given days from 1 March 2001 (the gradients of
// method 6 repeat the stations with other values).
std::string FourStations(const std::vector<std::vector<double>> &days = kDays) {
  return StationFile(kStations, days, 3, 1);
}

double MeshResidual(double x, double y) { return 3.0 + 0.002 * x - 0.001 * y + 1e-6 * x * y; }
double MeshGradient(double x, double y) { return -0.006 + 1e-6 * x - 5e-7 * y; }

// Three days: the field, the field with one station missing, equal values.
std::vector<std::vector<double>> MeshDays(double (*f)(double, double)) {
  std::vector<std::vector<double>> days(3);
  for (const auto &s : kMesh) {
    days[0].push_back(f(s.x, s.y));
    days[1].push_back(f(s.x, s.y));
    days[2].push_back(f(1000.0, 1000.0));
  }
  days[1][5] = -99999.0;
  return days;
}

// Inverse distance weighting of the mesh stations (p = 2, radius 2500 m).
double MeshIdw(const std::vector<double> &values, double x, double y) {
  return InverseDistanceOf(kMesh, values, x, y, 9999.0, 2500.0);
}

std::string Section(int method, const std::string &methodLine,
                    const std::string &stationLines = "stations.dat",
                    const std::string &scenario = "0") {
  return "[temperature]\n" + std::to_string(method) + "\n" + stationLines + "\n" + methodLine +
         "\nresult.grd\n0\n1.0\ntemp.stat 2001\n9999\n2\n0.5\n2500\n25\n0.6\n-100\n-100\n100\n"
         "100\n" +
         scenario + "\n";
}

// SzenUse 1 with SzenMeth 6: the monthly grid (the same for every month here)
// is added to every value.
std::string GridScenario() {
  std::string text = "1\n6";
  for (int month = 1; month <= 12; ++month)
    text += "\nA.asc";
  return text;
}

// A regression file of the three days, with a trend on the first.
const char *kRegressionFile = "jr mo dy hr\n"
                              "2001 3 1 0 10 -0.002 600 12 -0.006 700 6 -0.001 11 0.001 -0.0005\n"
                              "2001 3 2 0 9 -0.001 0 9 -0.001 900 9 -0.003 -10000 0 0\n"
                              "2001 3 3 0 5 0 0 5 0 1000 5 0 -10000 0 0\n";

// An ASCII grid of the raster with the value base + r + c / 10 in cell (r, c).
std::string ListedGrid(double base) {
  std::ostringstream text;
  text << "ncols " << kCols << "\nnrows " << kRows << "\nxllcorner 0\nyllcorner 0\ncellsize "
       << kCell << "\nnodata_value -9999\n";
  for (int r = 1; r <= kRows; ++r) {
    for (int c = 1; c <= kCols; ++c)
      text << base + r + c / 10.0 << " ";
    text << "\n";
  }
  return text.str();
}

class MeteointerpolMpiTest : public testing::Test {
protected:
  void SetUp() override {
    test::WriteFixture("stations.dat", FourStations());
    test::WriteFixture("gradients.dat", FourStations({{-0.004, 0.001, -0.006, 0.0},
                                                      {0.002, -0.003, 0.0, 0.001},
                                                      {-0.0065, -0.0065, -0.0065, -0.0065}}));
    test::WriteFixture("reg.txt", kRegressionFile);
    test::WriteFixture("mesh.dat", StationFile(kMesh, MeshDays(MeshResidual), 3, 1));
    test::WriteFixture("mesh_gradients.dat", StationFile(kMesh, MeshDays(MeshGradient), 3, 1));
    test::WriteFixture("A.asc", ListedGrid(10.0));
    test::WriteFixture("B.asc", ListedGrid(50.0));
    test::WriteFixture("grids.lst", "grids\nYY MM DD HH 500\nYY MM DD HH 0\nYY MM DD HH 0\nn\n"
                                    "2001 3 1 0 A.asc\n2001 3 2 0 -9999\n2001 3 3 0 B.asc\n");
    raster_.Build(log_, registry_, settings_, "temperature", kControl);
  }

  // Runs the three days; returns the gathered result grid of every day
  // (rank 0). With points set, also the value at the point of every cell
  // (its coordinates and elevation) as the largest and smallest over all
  // processes (rank 0).
  struct PointValues {
    std::vector<double> high, low;
  };
  std::vector<Grid> Run(int method, const std::string &methodLine,
                        const std::string &stationLines = "stations.dat",
                        std::vector<PointValues> *points = nullptr,
                        const std::string &scenario = "0") {
    test::WriteFixture(kControl, Section(method, methodLine, stationLines, scenario));
    int error = 0;
    meteointerpol variable(error, settings_, ModelDate{0, 1, 3, 2001}, 5);
    std::vector<Grid> days;
    for (std::size_t d = 0; d < kDays.size(); ++d) {
      long h = 0, day = 0, m = 0, y = 0;
      variable.GetActualDate(h, day, m, y);
      if (method == 10 || method == 11)
        variable.CalcElevationRegression(0);
      variable.Interpolate(h, day, m, y);
      days.push_back(variable.MPIGatherGridForOutput(5, nullptr));
      if (points != nullptr)
        points->push_back(PointsOfEveryCell(variable));
      variable.ReadNextData();
    }
    variable.FlushStatistics();
    variable.SetInitialized(1);
    variable.ReleaseMemory();
    return days;
  }

  // Collective: every process evaluates every cell of the raster, also those
  // of the other processes' strips.
  static PointValues PointsOfEveryCell(meteointerpol &variable) {
    std::vector<double> values, work(kStations.size() + 1);
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kCols; ++c)
        values.push_back(
            variable.ValueAtPoint(work, (c - 1) * kCell, (kRows - r) * kCell, Elevation(r, c)));
    PointValues reduced{std::vector<double>(values.size()), std::vector<double>(values.size())};
    const int n = static_cast<int>(values.size());
    MPI_Reduce(values.data(), reduced.high.data(), n, MPI_DOUBLE, MPI_MAX, 0, MPI_COMM_WORLD);
    MPI_Reduce(values.data(), reduced.low.data(), n, MPI_DOUBLE, MPI_MIN, 0, MPI_COMM_WORLD);
    return reduced;
  }

  // The value of a cell computed directly from the stations (rank 0).
  static double Expected(int method, std::size_t day, long r, long c) {
    const double x = (c - 1) * kCell, y = (kRows - r) * kCell;
    std::vector<double> xs, ys, zs, values, work(kStations.size());
    for (std::size_t k = 0; k < kStations.size(); ++k) {
      xs.push_back(kStations[k].x);
      ys.push_back(kStations[k].y);
      zs.push_back(kStations[k].z);
      const double v = kDays[day][k];
      values.push_back(v < -9999.0 ? -10000.0 : v);
    }
    if (method == 12) {
      const interpolation::LapseRateSettings lapse{-0.0065, -9999.0, -9999.0, false};
      return interpolation::ThiessenLapseRate(xs, ys, zs, values, x, y, Elevation(r, c), lapse,
                                              -9999.0, -10000.0);
    }
    if (day == 2)
      return 5.0; // uniform values: no kernel
    const double slope = 25.0 * interpolation::kRadiansPerDegree;
    for (std::size_t k = 0; k < kStations.size(); ++k) {
      const auto turned = interpolation::RotateIntoFrame(xs[k], ys[k], 0.0, 0.0, slope);
      xs[k] = turned.X;
      ys[k] = turned.Y;
    }
    const auto cell = interpolation::RotateIntoFrame(x, y, 0.0, 0.0, slope);
    interpolation::InverseDistanceSettings idw;
    idw.MaxDistance = 2500.0 * 2500.0;
    idw.ValidFrom = -9999.0;
    idw.Missing = -10000.0;
    const double v =
        interpolation::InverseDistanceAnisotropic(xs, ys, values, work, cell.X, cell.Y, 0.6, idw);
    return v < -100.0 ? -100.0 : v; // the lower limit
  }

  // The grid of the spline methods computed for the whole raster at once
  // (rank 0): the splines where they have a value, else inverse distance
  // weighting (of both files for method 8).
  std::vector<Grid> SplineReference(int method) {
    Grid x(1, 3, 4, 3, log_), y(1, 3, 4, 3, log_), z(1, 3, 4, 3, log_), z2(1, 3, 4, 3, log_);
    for (long i = 1; i <= 3; ++i)
      for (long j = 1; j <= 4; ++j) {
        x[i][j] = kMesh[static_cast<std::size_t>((i - 1) * 4 + j - 1)].x;
        y[i][j] = kMesh[static_cast<std::size_t>((i - 1) * 4 + j - 1)].y;
      }
    CellIterationSetup cells;
    cells.LastRow = kRows;
    cells.NCols = kCols;
    cells.Zone = &raster_.wholeGrids->zone;
    TSplines splines(log_, "reference", SplineMesh{&x, &y, 3, 4, 1000.0, 1000.0},
                     SplineModelRaster{&raster_.wholeGrids->coordX, &raster_.wholeGrids->coordY,
                                       cells, 0.0, 0.0, kCell, -9999.0, 0.0},
                     interpolation::ValueBounds{-9999.0, -10000.0});
    const auto splined = [&](const std::vector<double> &values) {
      for (long i = 1; i <= 3; ++i)
        for (long j = 1; j <= 4; ++j)
          z[i][j] = values[static_cast<std::size_t>((i - 1) * 4 + j - 1)];
      Grid grid(1, kRows, kCols, kRows, log_);
      splines.Prepare(z, z2);
      splines.EvaluateGrid(z, z2, grid);
      return grid;
    };
    const std::vector<std::vector<double>> residuals = MeshDays(MeshResidual);
    const std::vector<std::vector<double>> gradients = MeshDays(MeshGradient);
    std::vector<Grid> days;
    for (std::size_t d = 0; d < residuals.size(); ++d) {
      const Grid k = splined(residuals[d]);
      const Grid j = splined(gradients[d]);
      Grid day(1, kRows, kCols, kRows, log_);
      day.Fill(-9999.0);
      for (long r = 1; r <= kRows; ++r)
        for (long c = 1; c <= kCols; ++c) {
          if (ZoneCode(r, c) == -9999.0)
            continue;
          const double cx = (c - 1) * kCell, cy = (kRows - r) * kCell, elevation = Elevation(r, c);
          if (method == 7 && d == 2)
            day[r][c] = residuals[d][0]; // equal values need no spline
          else if (method == 7)
            day[r][c] = k[r][c] >= -9999.0 ? k[r][c] : MeshIdw(residuals[d], cx, cy);
          else if (k[r][c] >= -9999.0 && j[r][c] >= -9999.0)
            day[r][c] = k[r][c] + j[r][c] * elevation;
          else
            day[r][c] = MeshIdw(residuals[d], cx, cy) + MeshIdw(gradients[d], cx, cy) * elevation;
        }
      days.push_back(std::move(day));
    }
    return days;
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  GridRegistry registry_;
  meteo_test::DecomposedMeteoRaster raster_;
  ModuleSettings settings_;
};

TEST_F(MeteointerpolMpiTest, SameGridsAndTablesForAnyProcessAndThreadCount) {
  for (const int method : {1, 12}) {
    SCOPED_TRACE(method);
    const std::string methodLine = method == 12 ? "-0.0065" : "regression.dat";
    std::vector<std::string> tables;
    for (const int threads : {1, 2}) {
      omp_set_num_threads(threads);
      const std::vector<Grid> days = Run(method, methodLine);
      tables.push_back(Rank() == 0 ? test::ReadWholeFile("temp.stat") : "");
      if (Rank() != 0)
        continue;
      for (std::size_t d = 0; d < days.size(); ++d)
        for (long r = 1; r <= kRows; ++r)
          for (long c = 1; c <= kCols; ++c) {
            const double expected = ZoneCode(r, c) == -9999.0 ? -9999.0 : Expected(method, d, r, c);
            ASSERT_EQ(days[d][r][c], expected) << "day " << d << " cell " << r << "/" << c;
          }
      // The table: per zone and in all, the mean of the valid cells.
      const std::string &table = tables.back();
      for (std::size_t d = 0; d < days.size(); ++d) {
        double sums[4] = {0, 0, 0, 0};
        int counts[4] = {0, 0, 0, 0};
        for (long r = 1; r <= kRows; ++r)
          for (long c = 1; c <= kCols; ++c)
            if (const double z = ZoneCode(r, c); z > 0) {
              sums[static_cast<int>(z)] += days[d][r][c];
              ++counts[static_cast<int>(z)];
              sums[0] += days[d][r][c];
              ++counts[0];
            }
        char row[200];
        std::snprintf(row, sizeof row, "2001\t 3\t %zu\t 0\t%.3f\t%.3f\t%.3f\t%.3f\n", d + 1,
                      sums[1] / counts[1], sums[2] / counts[2], sums[3] / counts[3],
                      sums[0] / counts[0]);
        EXPECT_NE(table.find(row), std::string::npos) << row << table;
      }
    }
    EXPECT_EQ(tables[0], tables[1]);
  }
}

TEST_F(MeteointerpolMpiTest, EveryMethodEqualsItsPointValuesOnEveryProcess) {
  struct Case {
    int method;
    std::string methodLine, stationLines, scenario = "0";
  };
  const std::vector<Case> cases = {
      {2, "reg.txt", "never_opened.dat"},
      {3, "reg.txt", "stations.dat"},
      {4, "reg.txt", "stations.dat"},
      {5, "reg.txt", "stations.dat"},
      {6, "reg.txt", "stations.dat\ngradients.dat"},
      {10, "650 900 100 0 50", "stations.dat"},
      {11, "650 900 100 0 50 -0.005", "stations.dat"},
      {12, "-0.0065", "stations.dat", GridScenario()},
  };
  const int saved = omp_get_max_threads();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.method);
    std::vector<std::string> tables;
    std::vector<std::vector<Grid>> runs;
    for (const int threads : {1, 2}) {
      omp_set_num_threads(threads);
      std::vector<PointValues> points;
      runs.push_back(Run(c.method, c.methodLine, c.stationLines, &points, c.scenario));
      tables.push_back(Rank() == 0 ? test::ReadWholeFile("temp.stat") : "");
      if (Rank() != 0)
        continue;
      const std::vector<Grid> &days = runs.back();
      for (std::size_t d = 0; d < days.size(); ++d)
        for (long r = 1; r <= kRows; ++r)
          for (long col = 1; col <= kCols; ++col) {
            const std::size_t i = static_cast<std::size_t>((r - 1) * kCols + (col - 1));
            ASSERT_EQ(points[d].high[i], points[d].low[i]) << "day " << d << " " << r << "/" << col;
            const double cell = days[d][r][col];
            if (ZoneCode(r, col) == -9999.0) {
              ASSERT_EQ(cell, -9999.0);
            } else if (d == 2 && (c.method == 4 || c.method == 5)) {
              ASSERT_EQ(cell, 5.0); // uniform values need no kernel
            } else {
              ASSERT_EQ(cell, points[d].high[i]) << "day " << d << " cell " << r << "/" << col;
            }
          }
    }
    omp_set_num_threads(saved);
    EXPECT_EQ(tables[0], tables[1]);
    if (Rank() != 0)
      continue;
    for (std::size_t d = 0; d < kDays.size(); ++d)
      for (long r = 1; r <= kRows; ++r)
        for (long col = 1; col <= kCols; ++col) {
          ASSERT_EQ(runs[0][d][r][col], runs[1][d][r][col]);
        }
  }
}

TEST_F(MeteointerpolMpiTest, SplinesOnEveryProcess) {
  // The mesh covers the southern rows only: under three processes the
  // northern strip needs no spline and takes inverse distance weighting.
  {
    test::WriteFixture(kControl, Section(7, "regression.dat", "mesh.dat"));
    int error = 0;
    meteointerpol variable(error, settings_, ModelDate{0, 1, 3, 2001}, 5);
    // A strip of rows north of row 4 needs no cell of the splines.
    const bool north = raster_.decomposition.strip.last <= 4;
    EXPECT_EQ(variable.Splines()->NeededExtent().Empty(), north);
    int empty = north ? 1 : 0, anyEmpty = 0;
    MPI_Allreduce(&empty, &anyEmpty, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    int processes = 1;
    MPI_Comm_size(MPI_COMM_WORLD, &processes);
    if (processes == 3) {
      EXPECT_EQ(anyEmpty, 1);
    }
    variable.SetInitialized(1);
    variable.ReleaseMemory();
  }
  const int saved = omp_get_max_threads();
  for (const int method : {7, 8}) {
    SCOPED_TRACE(method);
    const std::string files = method == 7 ? "mesh.dat" : "mesh.dat\nmesh_gradients.dat";
    std::vector<std::string> tables;
    for (const int threads : {1, 2}) {
      omp_set_num_threads(threads);
      const std::vector<Grid> days = Run(method, "regression.dat", files);
      tables.push_back(Rank() == 0 ? test::ReadWholeFile("temp.stat") : "");
      if (Rank() != 0)
        continue;
      const std::vector<Grid> expected = SplineReference(method);
      for (std::size_t d = 0; d < days.size(); ++d)
        for (long r = 1; r <= kRows; ++r)
          for (long c = 1; c <= kCols; ++c)
            ASSERT_EQ(days[d][r][c], expected[d][r][c]) << "day " << d << " cell " << r << "/" << c;
      // Inside the mesh (rows 5 to 9) the first day's field is reproduced.
      for (long r = 5; r <= kRows; ++r)
        for (long c = 1; c <= kCols; ++c)
          if (ZoneCode(r, c) != -9999.0) {
            const double x = (c - 1) * kCell, y = (kRows - r) * kCell;
            const double gradient = method == 8 ? MeshGradient(x, y) * Elevation(r, c) : 0.0;
            EXPECT_NEAR(days[0][r][c], MeshResidual(x, y) + gradient, 1e-12);
          }
    }
    omp_set_num_threads(saved);
    EXPECT_EQ(tables[0], tables[1]);
  }
}

TEST_F(MeteointerpolMpiTest, GridsOfAListOnEveryProcess) {
  const int saved = omp_get_max_threads();
  std::vector<std::vector<Grid>> runs;
  for (const int threads : {1, 2}) {
    omp_set_num_threads(threads);
    runs.push_back(Run(9, "8.9e-5 0.077 127 6e-6 0.098", "grids.lst"));
  }
  omp_set_num_threads(saved);
  if (Rank() != 0)
    return;
  const std::vector<double> bases{10.0, 10.0, 50.0}; // A, A again, B
  for (const auto &days : runs)
    for (std::size_t d = 0; d < days.size(); ++d)
      for (long r = 1; r <= kRows; ++r)
        for (long c = 1; c <= kCols; ++c)
          ASSERT_EQ(days[d][r][c], ZoneCode(r, c) == -9999.0 ? -9999.0 : bases[d] + r + c / 10.0)
              << "day " << d << " cell " << r << "/" << c;
}

} // namespace
} // namespace tavro
