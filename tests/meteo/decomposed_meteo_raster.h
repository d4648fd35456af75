// The raster of the meteorological MPI tests, 7 x 9 cells of 500 m in three
// zones with a few cells outside, divided over the processes of the test job
// as a run divides it, with its set-up grids, registry entries and settings;
// and the stations the tests interpolate from.
#pragma once

#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "kernel/module_settings.h"
#include "raster/parallel/mpi_decomposition.h"
#include "station_file_fixture.h"
#include "support/setup_grids.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tavro::meteo_test {

constexpr int kCols = 7;
constexpr int kRows = 9;
constexpr double kCell = 500.0;

// Three zones in bands of rows; a few cells outside the catchment.
inline double ZoneCode(long r, long c) {
  if ((r == 1 && c <= 2) || (r == 5 && c == 7) || (r == 9 && c >= 5))
    return -9999.0;
  return r <= 3 ? 1.0 : (r <= 6 ? 2.0 : 3.0);
}
inline double Elevation(long r, long c) { return 300.0 + 40.0 * r + 15.0 * c; }

inline const std::vector<MeshStation> kStations = {
    {250.0, 4200.0, 450.0}, {3100.0, 3900.0, 800.0}, {1700.0, 900.0, 620.0}, {600.0, 300.0, 700.0}};

// A mesh of 3 rows and 4 columns 1000 m apart over the southern part of the
// raster (y 0 to 2000 m, the cells of rows 5 to 9), stations numbered row by
// row from the north-west.
inline const std::vector<MeshStation> kMesh = [] {
  std::vector<MeshStation> mesh;
  for (const double y : {2000.0, 1000.0, 0.0})
    for (const double x : {0.0, 1000.0, 2000.0, 3000.0})
      mesh.push_back({x, y, 500.0});
  return mesh;
}();

// Collective: divides the raster, builds the set-up grids of the own rows
// (and of the whole raster on rank 0), registers them with "MPIRegions" at
// entry 8 and fills the settings of a variable named name.
struct DecomposedMeteoRaster {
  void Build(DiagnosticsLog &log, GridRegistry &registry, ModuleSettings &settings,
             const std::string &name, const std::string &controlFile) {
    test::WriteFixture(kSpeedFactorFileName, "1\n");
    const RasterShape shape{kCols, kRows, -9999.0};
    test::SetupRaster whole{kRows, kCols, 3, 1, kRows, 0.0, 0.0, kCell};
    if (test::Rank() == 0)
      wholeGrids = std::make_unique<test::SetupGrids>(log, whole, ZoneCode, Elevation);
    testing::internal::CaptureStdout();
    decomposition =
        DistributeMpiRegions(test::Rank() == 0 ? &wholeGrids->zone : nullptr, shape, log);
    testing::internal::GetCapturedStdout();
    const StripRows held = decomposition.HeldRows();
    test::SetupRaster raster = whole;
    raster.firstRow = held.first;
    raster.lastRow = held.last;
    setup = std::make_unique<test::SetupGrids>(log, raster, ZoneCode, Elevation);
    setup->Register(registry);
    registry.AddGrid(8, "MPIRegions_0", &decomposition.regions, nullptr, 1, kRegionsGridName, 0,
                     held.first, held.last, kCols, kRows, log);
    setup->FillSettings(settings, registry, name, controlFile);
    settings.FirstRow = static_cast<int>(decomposition.strip.first);
    settings.LastRow = static_cast<int>(decomposition.strip.last);
    settings.RowRanges = &decomposition.rowRanges;
    settings.Halo.Decomposition = &decomposition;
    settings.EndDate = ModelDate{0, 31, 12, 2001};
  }

  MpiDecomposition decomposition;
  std::unique_ptr<test::SetupGrids> wholeGrids; // rank 0
  std::unique_ptr<test::SetupGrids> setup;
};

} // namespace tavro::meteo_test
