// Evapotranspiration and interception over the real decomposition. Every
// input repeats every third row, so a cell and the cell three rows below it,
// computed by another process under three processes, must hold the same
// values to the last bit; the tables' zone means equal the means of the
// gathered grids; and one and two threads give the same grids and tables.
#include "landsurface/evapotranspiration_model.h"
#include "landsurface/interception_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "landsurface/land_surface_fixture.h"
#include "raster/parallel/mpi_decomposition.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::Rank;

constexpr long kRows = 9;
constexpr long kCols = 5;
constexpr double N = -9999.0;
constexpr const char *kControl = "control.txt_0.$$$";

double Zone(long r, long c) {
  if ((r == 1 && c == 1) || (r == 8 && c == 5))
    return N;
  return r <= 4 ? 1.0 : 2.0;
}
// The row within its band of three.
long Band(long r) { return (r - 1) % 3 + 1; }
double Elevation(long r, long c) { return 300.0 + 90.0 * Band(r) + 20.0 * c; }

const std::vector<std::string> kGathered = {"pot_transpiration0",
                                            "pot_transpiration1",
                                            "pot_transpiration2",
                                            "potential_InterceptionEvap0",
                                            "potential_evaporation",
                                            "AspectCorrectedGlobalRadiation",
                                            "cloudiness",
                                            "real_transpiration0",
                                            "throughfall0",
                                            "interception_storage0",
                                            "interception_evaporation2"};

class LandSurfaceMpiTest : public testing::Test {
protected:
  void SetUp() override {
    test::WriteFixture(kSpeedFactorFileName, "1\n");
    std::unique_ptr<test::SetupGrids> whole;
    if (Rank() == 0)
      whole = std::make_unique<test::SetupGrids>(
          log_, test::SetupRaster{kRows, kCols, 2, 1, kRows, 0.0, 0.0, 1000.0}, Zone, Elevation);
    testing::internal::CaptureStdout();
    decomposition_ = DistributeMpiRegions(Rank() == 0 ? &whole->zone : nullptr,
                                          RasterShape{kCols, kRows, N}, log_);
    testing::internal::GetCapturedStdout();
  }

  // Three daily steps with the given thread count; the gathered grids of the
  // last step (rank 0).
  std::map<std::string, Grid> Run(int threads) {
    omp_set_num_threads(threads);
    GridRegistry registry;
    const StripRows held = decomposition_.HeldRows();
    const test::SetupRaster raster{kRows, kCols, 2, held.first, held.last, 0.0, 0.0, 1000.0};
    test::LandSurfaceGrids grids(log_, registry, raster, Zone, Elevation);
    registry.AddGrid(registry.FirstFreeIndex(), "MPIRegions_0", &decomposition_.regions, nullptr, 1,
                     kRegionsGridName, 0, held.first, held.last, kCols, kRows, log_);
    std::vector<test::LayerVegetationFunctions> layers(2);
    layers[0].leafAreaIndex = [](long r, long c) { return 3.0 + 0.5 * Band(r) - 0.2 * c; };
    layers[0].roughness = [](long, long) { return 1.5; };
    layers[1].landuse = [](long r, long c) { return Band(r) == 2 && c == 3 ? N : 1.0; };
    layers[1].cover = [](long r, long) { return 0.3 + 0.2 * Band(r); };
    grids.AddLayers(layers);
    test::WeatherFunctions weather;
    weather.temperature = [](long r, long c) { return 10.0 + Band(r) + 0.7 * c; };
    weather.sunshine = [](long r, long c) { return 0.1 * Band(r) + 0.12 * c; };
    weather.humidity = [](long r, long) { return 0.5 + 0.1 * Band(r); };
    weather.wind = [](long r, long c) { return 0.5 * Band(r) + 0.3 * c; };
    grids.AddWeather(weather);
    grids.Add("temperature_night", weather.temperature);
    grids.Add("precipitation", [](long r, long c) { return 1.5 * Band(r) + 0.4 * c; });

    ModuleSettings settings;
    grids.FillSettings(settings, registry, "evapotranspiration", kControl);
    settings.FirstRow = static_cast<int>(decomposition_.strip.first);
    settings.LastRow = static_cast<int>(decomposition_.strip.last);
    settings.RowRanges = &decomposition_.rowRanges;
    settings.Halo.Decomposition = &decomposition_;
    const MultilayerLanduseTable table = test::MultilayerTableOf(2);
    settings.MultilayerTable = &table;
    test::EvapotranspirationRows rows;
    rows.Set(9, "etp.stat 2001").Set(12, "etr.stat 2001").Set(25, "rgex.stat 2001");
    test::InterceptionValues values;
    values.throughfallStatistics = "tf.stat 2001";
    test::WriteFixture(kControl, test::EvapotranspirationSection(1, 1440.0, rows) +
                                     test::InterceptionSection(1, 1440.0, values));
    int error = -1;
    verdunstungsmodellklasse evaporation(error, settings);
    EXPECT_EQ(error, 0);
    settings.ModuleName = "interception_model";
    interzeptionsmodellklasse interception(error, settings);
    EXPECT_EQ(error, 0);
    evaporation.SetInitialized(1);
    interception.SetInitialized(1);
    for (long day = 1; day <= 3; ++day) {
      evaporation.PotentialEvapotranspiration(0, day, 7, 2005);
      evaporation.SnowEvaporationOnGlacier(0, day, 7, 2005);
      interception.ComputeTimeStep(0, day, 7, 2005);
      evaporation.RealEvapotranspiration(0, day, 7, 2005);
      evaporation.FinishTimeStep(0, day, 7, 2005);
    }
    std::map<std::string, Grid> gathered;
    for (const std::string &name : kGathered)
      gathered[name] = evaporation.MPIGatherGridForOutput(registry.FindGrid(name, true), nullptr);
    evaporation.FlushStatistics();
    interception.FlushStatistics();
    interception.ReleaseMemory();
    evaporation.ReleaseMemory();
    return gathered;
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  MpiDecomposition decomposition_;
};

// The zone values of the last row of a table.
std::vector<double> LastRow(const std::string &table) {
  std::istringstream text(table);
  std::string line, last;
  while (std::getline(text, line))
    if (!line.empty())
      last = line;
  std::istringstream fields(last);
  std::vector<double> values;
  double v = 0.0;
  while (fields >> v)
    values.push_back(v);
  return std::vector<double>(values.begin() + 4, values.end());
}

TEST_F(LandSurfaceMpiTest, SameGridsAndTablesForAnyProcessAndThreadCount) {
  std::vector<std::map<std::string, Grid>> runs;
  std::vector<std::vector<std::string>> tables;
  for (const int threads : {1, 2}) {
    runs.push_back(Run(threads));
    std::vector<std::string> files;
    for (const char *file : {"etp.stat", "etr.stat", "rgex.stat", "tf.stat"})
      files.push_back(Rank() == 0 ? test::ReadWholeFile(file) : "");
    tables.push_back(files);
  }
  if (Rank() != 0)
    return;
  EXPECT_EQ(tables[0], tables[1]);
  for (const std::string &name : kGathered) {
    SCOPED_TRACE(name);
    const Grid &g = runs[0].at(name);
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kCols; ++c) {
        ASSERT_EQ(g[r][c], runs[1].at(name)[r][c]) << r << "/" << c;
        if (Zone(r, c) == N)
          continue;
        ASSERT_GT(g[r][c], N) << r << "/" << c;
        if (r + 3 <= kRows && Zone(r + 3, c) != N) {
          ASSERT_EQ(g[r][c], g[r + 3][c]) << r << "/" << c;
        }
      }
  }
  EXPECT_GT(runs[0].at("throughfall0")[2][2], 0.0);
  // The tables: zone 1, zone 2 and the areal mean of the last step (grids
  // that no later module of the step changes).
  struct Checked {
    std::size_t file;
    const char *name;
    double tolerance; // half the last decimal written
  };
  const Checked checked[] = {{1, "real_transpiration0", 5e-6},
                             {2, "AspectCorrectedGlobalRadiation", 5e-3},
                             {3, "throughfall0", 5e-6}};
  for (const auto &[file, name, tolerance] : checked) {
    SCOPED_TRACE(name);
    const Grid &g = runs[0].at(name);
    double sums[3] = {0, 0, 0};
    int counts[3] = {0, 0, 0};
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kCols; ++c)
        if (const double z = Zone(r, c); z > 0) {
          sums[static_cast<int>(z)] += g[r][c];
          ++counts[static_cast<int>(z)];
          sums[0] += g[r][c];
          ++counts[0];
        }
    const std::vector<double> row = LastRow(tables[0][file]);
    ASSERT_EQ(row.size(), 3u);
    EXPECT_NEAR(row[0], sums[1] / counts[1], tolerance);
    EXPECT_NEAR(row[1], sums[2] / counts[2], tolerance);
    EXPECT_NEAR(row[2], sums[0] / counts[0], tolerance);
  }
}

} // namespace
} // namespace tavro
