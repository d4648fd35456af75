// Test fixture of the groundwater module on a small catchment divided over
// the processes of the test job: 9 x 7 cells of 100 m in two zones (rows 1-4
// code 1, rows 5-9 code 2; two corner cells outside), loam of ten 0.15 m
// layers (so layer 1 is 1.5 m thick), the set-up and soil-water grids the
// module links (rank 0 holds them for the whole raster, the others for their
// strip and its halo rows), and the module built from a section the test
// writes.
#pragma once

#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "kernel/module_settings.h"
#include "lateral/groundwater_flow.h"
#include "raster/output/statistics_registry.h"
#include "raster/parallel/mpi_decomposition.h"
#include "support/decomposed_raster.h"
#include "support/diagnostics_entries.h"
#include "support/soil_water_inputs.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <mpi.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavro::test {

inline constexpr long kGwRows = 9;
inline constexpr long kGwColumns = 7;
inline constexpr double kGwNoData = -9999.0;
inline constexpr const char *kGwControl = "control.txt_0.$$$";

inline double GwZone(long r, long c) {
  if ((r == 1 && c == 1) || (r == kGwRows && c == kGwColumns))
    return kGwNoData;
  return r <= 4 ? 1.0 : 2.0;
}

// The values of one layer's input grids (a function of row and column each).
struct AquiferInputs {
  std::function<double(long, long)> thickness = [](long, long) { return 10.0; };
  std::function<double(long, long)> kx = [](long, long) { return 1e-4; };
  std::function<double(long, long)> ky = [](long, long) { return 1e-4; };
  std::function<double(long, long)> storage = [](long, long) { return 1e-3; };
  std::function<double(long, long)> fixedHead = [](long, long) { return kGwNoData; };
  std::function<double(long, long)> fixedInflow = [](long, long) { return kGwNoData; };
  std::function<double(long, long)> leakance = [](long, long) { return 0.0; };
};

// The settings of the section, in its order.
struct GroundwaterSectionText {
  int flowControl = 1;
  int maxiter = 1000;
  double maxerror = 1e-10;
  double alpha = 1.0;
  double sor = 1.0;
  int layers = 2;
  std::string control = "0 0";
  std::string pondLine; // empty: no flag line
  std::string Text() const {
    std::string text = "[groundwater_flow]\n" + std::to_string(flowControl) +
                       " flow control\n60 time interval\n1 method\n" + std::to_string(maxiter) +
                       " maxiter\n" + Number(maxerror) + " maxerror\n" + Number(alpha) +
                       " alpha\n" + Number(sor) + " sor\n0 grid read\n" + std::to_string(layers) +
                       " layers\n" + control + " control cell\ngw_control.txt control file\n" +
                       pondLine;
    for (int k = 1; k <= layers; ++k) {
      const std::string n = std::to_string(k);
      text += "heads" + n + ".asc\n0\nqx" + n + ".asc\n0\nqy" + n + ".asc\n0\nbalance" + n +
              ".asc\n0\n";
    }
    return text;
  }
  static std::string Number(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
  }
};

class GroundwaterModuleTest : public testing::Test {
protected:
  void SetUp() override {
    Grid whole;
    decomposition_ = DecomposeZones(whole, kGwColumns, kGwRows, kGwNoData, GwZone, log_);
    held_ = decomposition_.HeldRows();
    AddGrid("zonegrid_soilmodel", GwZone);
    AddGrid("[elevation_model]", [](long r, long c) { return 100.0 - 0.1 * r - 0.05 * c; });
    AddGrid("MPIRegions", [&](long r, long c) { return decomposition_.regions[r][c]; });
    AddGrid("soil_types",
            [](long r, long c) { return GwZone(r, c) == kGwNoData ? kGwNoData : 1.0; });
    AddGrid("groundwater_recharge", [](long, long) { return 0.0; });
    distance_ = &AddGrid("groundwater_distance", [](long, long) { return -0.5; });
    baseflow_ = &AddGrid("baseflow", [](long, long) { return 0.0; });
    soils_ = LoamAndSandyLoam(log_, 10);

    zoneIndex_ = OneBasedArray<int>(2, 0);
    (zoneIndex_)[1] = 1;
    (zoneIndex_)[2] = 2;
    zoneTable_ = OneBasedArray<ZoneRecord>(2);
    zoneTable_[0].zonenwert = 1;
    zoneTable_[1].zonenwert = 1;
    zoneTable_[2].zonenwert = 2;
    settings_.Log = &log_;
    settings_.Statistics = &statistics_;
    settings_.ControlFileName = kGwControl;
    settings_.Registry = &registry_;
    settings_.ZoneIndex = &zoneIndex_;
    settings_.ZoneTable = &zoneTable_;
    settings_.ZoneCount = 2;
    settings_.MaxZoneCode = 2;
    settings_.NCols = kGwColumns;
    settings_.NRows = kGwRows;
    settings_.FirstRow = static_cast<int>(decomposition_.strip.first);
    settings_.LastRow = static_cast<int>(decomposition_.strip.last);
    settings_.RowRanges = &decomposition_.rowRanges;
    settings_.Halo.Decomposition = &decomposition_;
    settings_.CellCounts = &decomposition_.cellCounts;
    settings_.CellSize = 100.0;
    settings_.NoData = kGwNoData;
    settings_.HourDivisor = 1;
    settings_.EndDate = ModelDate{0, 28, 1, 2012};
    settings_.SoilTable = &soils_;
  }

  Grid &AddGrid(const std::string &identifier, const std::function<double(long, long)> &value) {
    return grids_.Add(identifier, held_.first, held_.last, value);
  }

  // The aquifer grids of layers 1..inputs.size().
  void AddAquifer(const std::vector<AquiferInputs> &inputs) {
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      const std::string k = std::to_string(i + 1);
      const AquiferInputs &a = inputs[i];
      AddGrid("aquifer_thickness_" + k, a.thickness);
      AddGrid("gw_k_x_" + k, a.kx);
      AddGrid("gw_k_y_" + k, a.ky);
      AddGrid("gw_storage_coeff_" + k, a.storage);
      AddGrid("gw_boundary_fix_h_" + k, a.fixedHead);
      AddGrid("gw_boundary_fix_q_" + k, a.fixedInflow);
      if (i + 1 < inputs.size())
        AddGrid("gw_kolmation_" + k, a.leakance);
    }
  }

  std::unique_ptr<gwflowclass> Build(const std::string &control) {
    MPI_Barrier(MPI_COMM_WORLD);
    WriteFixture(kGwControl, control);
    int error = 0;
    testing::internal::CaptureStdout();
    try {
      auto module = std::make_unique<gwflowclass>(error, settings_, nullptr, 1);
      testing::internal::GetCapturedStdout();
      return module;
    } catch (...) {
      testing::internal::GetCapturedStdout();
      throw;
    }
  }

  int Failure(const std::string &control) {
    return ExitCodeOf([&] { Build(control); });
  }

  // Runs sub-steps with the console captured.
  void Steps(gwflowclass &module, int count) {
    testing::internal::CaptureStdout();
    for (int i = 0; i < count; ++i)
      module.ComputeTimeStep(0, 1, 6, 2012);
    testing::internal::GetCapturedStdout();
  }

  bool Own(long r, long c) const {
    return decomposition_.regions.HasRow(r) && decomposition_.regions[r][c] == Rank() &&
           GwZone(r, c) != kGwNoData;
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  MpiDecomposition decomposition_;
  StripRows held_;
  GridRegistry registry_;
  StatisticsRegistry statistics_;
  RegisteredGrids grids_{log_, registry_, kGwRows, kGwColumns};
  SoilTable soils_;
  OneBasedArray<int> zoneIndex_;
  OneBasedArray<ZoneRecord> zoneTable_;
  ModuleSettings settings_;
  Grid *distance_ = nullptr;
  Grid *baseflow_ = nullptr;
};

} // namespace tavro::test
