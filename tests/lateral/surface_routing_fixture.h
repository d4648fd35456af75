// Test fixture of the surface routing module on a small tilted plane divided
// over the processes of the test job: the set-up and soil-water grids the
// module links (rank 0 holds them for the whole raster, the others for their
// strip and its halo rows), one land use of Strickler coefficient 20, the
// soil's baseflow and storage constants, and the module built from a
// section the test writes.
#pragma once

#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "kernel/module_settings.h"
#include "kernel/tracer_info.h"
#include "lateral/surface_routing.h"
#include "raster/output/statistics_registry.h"
#include "raster/parallel/mpi_decomposition.h"
#include "support/decomposed_raster.h"
#include "support/diagnostics_entries.h"
#include "support/soil_water_inputs.h"
#include "support/test_support.h"
#include "tables/landuse_class.h"

#include <gtest/gtest.h>
#include <mpi.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavro::test {

inline constexpr double kSrNoData = -9999.0;
inline constexpr const char *kSrControl = "control.txt_0.$$$";

// The values of the section, in its order.
struct SurfaceSectionText {
  int flowControl = 1;
  int timeStep = 60; // minutes
  int method = 1;
  std::string velocityFile = "velocity.stk";
  double maxErrorAnl = 0.0001;
  int maxIterAnl = 30;
  double maxErrorVelocity = 1e-10;
  int maxIterVelocity = 200;
  double minStep = 10.0;
  double maxStep = 600.0;
  double minCropDepth = 0.005;
  double concentration = 1.0;
  int readGrids = 0;
  std::string storageLine = "sstor.sta 0";
  std::string storageFile = "state.txt";
  std::string Text() const {
    return "[SurfaceRoutingModel]\n" + std::to_string(flowControl) + " flow control\n" +
           std::to_string(timeStep) + " time interval\n" + std::to_string(method) +
           " method\nqdsr.sta 0\nqisr.sta 0\nqbsr.sta 0\nqgsr.sta 0\n" + velocityFile +
           "\n0\nfluxes.stk\n0\n" + Number(maxErrorAnl) + "\n" + std::to_string(maxIterAnl) + "\n" +
           Number(maxErrorVelocity) + "\n" + std::to_string(maxIterVelocity) + "\n" +
           Number(minStep) + "\n" + Number(maxStep) + "\n" + Number(minCropDepth) + "\n" +
           Number(concentration) + "\n" + std::to_string(readGrids) + " readgrids\n" + storageLine +
           "\n" + storageFile + "\n";
  }
  static std::string Number(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
  }
};

// A tracer of the tests: an amount or an evaporating one, decaying with a
// half-life of halfTimeDays when that is above 0.
inline TracerInfo Tracer(const std::string &name, int evaporating, double halfTimeDays = -9999.0) {
  TracerInfo info;
  info.name = name;
  info.evaporating = evaporating;
  info.radioactive = halfTimeDays > 0.0 ? 1 : 0;
  info.half_time = halfTimeDays;
  info.max_conc = 1000.0;
  info.path = "./";
  info.statext = "sta";
  info.gridext = "asc";
  info.statcode = 2001;
  return info;
}

// A plane of rows x columns cells of cellSize falling towards the east
// (slope east) and the south (slope south), one subbasin (code 1) unless
// zoneOf says otherwise.
struct SurfacePlane {
  long rows = 6;
  long columns = 8;
  double cellSize = 10.0;
  double slopeEast = 0.02;
  double slopeSouth = 0.01;
  std::function<double(long, long)> zoneOf = [](long, long) { return 1.0; };
  std::function<bool(long, long)> river = [](long, long) { return false; };
  double Elevation(long r, long c) const {
    return 100.0 - slopeEast * cellSize * c - slopeSouth * cellSize * r;
  }
};

// A steep plane of 7 x 9 cells of 5 m with a no-data corner; with rivers,
// river cells along the east half of its lowest row.
inline SurfacePlane SteepPlane(bool rivers) {
  SurfacePlane plane;
  plane.rows = 7;
  plane.columns = 9;
  plane.cellSize = 5.0;
  plane.slopeEast = 0.08;
  plane.slopeSouth = 0.05;
  plane.zoneOf = [](long r, long c) { return (r == 1 && c == 1) ? kSrNoData : 1.0; };
  if (rivers)
    plane.river = [](long r, long c) { return r == 7 && c >= 5; };
  return plane;
}

// A plane falling south and east in two subbasins (west and east), with a
// no-data corner, a no-data cell inside and river cells in the last row: the
// water of the upper rows crosses every strip border on its way down.
inline SurfacePlane StripCrossingPlane() {
  SurfacePlane plane;
  plane.rows = 9;
  plane.columns = 7;
  plane.cellSize = 25.0;
  plane.slopeEast = 0.03;
  plane.slopeSouth = 0.07;
  plane.zoneOf = [](long r, long c) {
    if ((r == 1 && c == 1) || (r == 5 && c == 4))
      return kSrNoData;
    return c <= 3 ? 1.0 : 2.0;
  };
  plane.river = [](long r, long c) { return r == 9 && c >= 2; };
  return plane;
}

// The soil's water of a cell in a sub-step (mm): uneven direct runoff and
// interflow.
inline double UnevenDirectRunoff(long r, long c, int substep) {
  return 1.0 + ((r * 5 + c * 3 + substep) % 7);
}
inline double UnevenInterflow(long r, long c, int substep) {
  return 0.1 * ((r + 2 * c + substep) % 4);
}

class SurfaceRoutingTest : public testing::Test {
protected:
  // Builds the raster and its grids (collective).
  void Raster(const SurfacePlane &plane) {
    plane_ = plane;
    Grid whole;
    decomposition_ =
        DecomposeZones(whole, plane.columns, plane.rows, kSrNoData, plane.zoneOf, log_);
    held_ = decomposition_.HeldRows();
    grids_ = std::make_unique<RegisteredGrids>(log_, registry_, plane.rows, plane.columns);
    AddGrid("zonegrid_soilmodel", plane.zoneOf);
    AddGrid("[elevation_model]", [&](long r, long c) { return plane_.Elevation(r, c); });
    AddGrid("MPIRegions", [&](long r, long c) { return decomposition_.regions[r][c]; });
    AddGrid("landuse1", [](long, long) { return 1.0; });
    AddGrid("vegetation_coverage_degree1", [](long, long) { return 0.5; });
    AddGrid("soil_types", [](long, long) { return 1.0; });
    storage_ = &AddGrid("SurfStorSiltingUp", [](long, long) { return 0.0; });
    direct_ = &AddGrid("directflow", [](long, long) { return 0.0; });
    inter_ = &AddGrid("interflow", [](long, long) { return 0.0; });
    const auto river = [&](long r, long c) { return plane_.river(r, c) ? 1.0 : 0.0; };
    AddGrid("river_depth", river);
    AddGrid("river_width", river);
    AddGrid("river_links", river);

    LanduseParameters p;
    p.SR_cultivation = 3;
    p.SR_K_ST = 20.0;
    landuse_ = OneBasedArray<landuse_class>(1);
    landuse_[1] = landuse_class(log_, p);
    const int zones = 2;
    zoneIndex_ = OneBasedArray<int>(zones, 0);
    zoneTable_ = OneBasedArray<ZoneRecord>(zones);
    for (int k = 1; k <= zones; ++k) {
      zoneIndex_[static_cast<std::size_t>(k)] = k;
      zoneTable_[static_cast<std::size_t>(k)].zonenwert = k;
      zoneTable_[static_cast<std::size_t>(k)].rel = 1.0 / zones;
    }
    settings_.Log = &log_;
    settings_.Statistics = &statistics_;
    settings_.ControlFileName = kSrControl;
    settings_.Registry = &registry_;
    settings_.ZoneIndex = &zoneIndex_;
    settings_.ZoneTable = &zoneTable_;
    settings_.ZoneCount = zones;
    settings_.MaxZoneCode = zones;
    settings_.NCols = static_cast<int>(plane.columns);
    settings_.NRows = static_cast<int>(plane.rows);
    settings_.FirstRow = static_cast<int>(decomposition_.strip.first);
    settings_.LastRow = static_cast<int>(decomposition_.strip.last);
    settings_.RowRanges = &decomposition_.rowRanges;
    settings_.Halo.Decomposition = &decomposition_;
    settings_.CellCounts = &decomposition_.cellCounts;
    settings_.CellSize = plane.cellSize;
    settings_.NoData = kSrNoData;
    settings_.HourDivisor = 1;
    settings_.EndDate = ModelDate{0, 28, 1, 2012};
    settings_.LanduseTable = &landuse_;
    qbb_.Resize(zones);
    kelsqd_.Values = OneBasedArray<double>(zones, 60.0);
    kelsqi_.Values = OneBasedArray<double>(zones, 60.0);
  }

  Grid &AddGrid(const std::string &identifier, const std::function<double(long, long)> &value) {
    return grids_->Add(identifier, held_.first, held_.last, value);
  }

  std::unique_ptr<surfaceroutingclass> Build(const std::string &control, int substeps = 1) {
    MPI_Barrier(MPI_COMM_WORLD);
    WriteFixture(kSrControl, control);
    int error = 0;
    testing::internal::CaptureStdout();
    try {
      auto module = std::make_unique<surfaceroutingclass>(error, settings_, substeps);
      testing::internal::GetCapturedStdout();
      return module;
    } catch (...) {
      testing::internal::GetCapturedStdout();
      throw;
    }
  }

  // Built, tracer set-up done (with the tracers of tracerInfo_) and wired to
  // the fixture's soil arrays.
  // capture: off inside a call that captures the console itself.
  std::unique_ptr<surfaceroutingclass> Ready(const std::string &control, int substeps = 1,
                                             bool capture = true) {
    auto module = capture ? Build(control, substeps) : Unheard(control, substeps);
    int error = -1;
    if (capture)
      testing::internal::CaptureStdout();
    module->InitTracerGrids(error, static_cast<int>(tracerInfo_.Count()),
                            tracerInfo_.Empty() ? nullptr : &tracerInfo_, &statistics_, 200);
    if (capture)
      testing::internal::GetCapturedStdout();
    EXPECT_EQ(error, 0);
    module->SetQBb(&qbb_);
    module->SetKelsqd(&kelsqd_);
    module->SetKelsqi(&kelsqi_);
    return module;
  }

  std::unique_ptr<surfaceroutingclass> Unheard(const std::string &control, int substeps) {
    MPI_Barrier(MPI_COMM_WORLD);
    WriteFixture(kSrControl, control);
    int error = 0;
    return std::make_unique<surfaceroutingclass>(error, settings_, substeps);
  }

  int Failure(const std::string &control) {
    return ExitCodeOf([&] { Unheard(control, 1); });
  }
  // The exit code of a set-up that fails after construction.
  int SetUpFailure(const std::string &control) {
    return ExitCodeOf([&] { Ready(control, 1, false); });
  }

  bool Own(long r, long c) const {
    return decomposition_.regions.HasRow(r) && decomposition_.regions[r][c] == Rank() &&
           plane_.zoneOf(r, c) != kSrNoData;
  }
  template <class Body> void ForOwn(Body &&body) const {
    for (long r = decomposition_.strip.first; r <= decomposition_.strip.last; ++r)
      for (long c = 1; c <= plane_.columns; ++c)
        if (Own(r, c))
          body(r, c);
  }
  // A sum over the own cells of all processes.
  double Total(const std::function<double(long, long)> &value) const {
    double local = 0.0;
    ForOwn([&](long r, long c) { local += value(r, c); });
    double total = 0.0;
    MPI_Allreduce(&local, &total, 1, MPI_DOUBLE, MPI_SUM, MPI_COMM_WORLD);
    return total;
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  SurfacePlane plane_;
  MpiDecomposition decomposition_;
  StripRows held_;
  GridRegistry registry_;
  StatisticsRegistry statistics_;
  std::unique_ptr<RegisteredGrids> grids_;
  OneBasedArray<landuse_class> landuse_;
  OneBasedArray<int> zoneIndex_;
  OneBasedArray<ZoneRecord> zoneTable_;
  ModuleSettings settings_;
  SubbasinRunoffArrays qbb_;
  OneBasedArray<TracerInfo> tracerInfo_; // none unless a test sets them
  SubbasinValues kelsqd_, kelsqi_;
  Grid *storage_ = nullptr;
  Grid *direct_ = nullptr;
  Grid *inter_ = nullptr;
};

} // namespace tavro::test
