// Test fixture of the soil-water module on a small catchment divided over
// the processes of the test job: three subbasins (codes 1, 2 and 3 in rows
// 1-2, 3-4 and 5-6 of a 6 x 5 raster, two corner cells outside), loam in
// subbasins 1 and 2 and sandy loam in 3 (ten layers of 0.15 m), the set-up
// and land-surface grids the module links (rank 0 holds them for the whole
// raster, the others for their strip and its halo rows), and the module
// built from a control file that the test writes.
#pragma once

#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "kernel/module_settings.h"
#include "kernel/tracer_info.h"
#include "raster/output/statistics_registry.h"
#include "raster/parallel/mpi_decomposition.h"
#include "soil/unsatzon_model.h"
#include "support/decomposed_raster.h"
#include "support/diagnostics_entries.h"
#include "support/soil_water_inputs.h"
#include "support/test_support.h"
#include "tables/soil_class.h"

#include <gtest/gtest.h>
#include <mpi.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tavro::test {

inline constexpr long kSoilRows = 6;
inline constexpr long kSoilColumns = 5;
inline constexpr double kSoilNoData = -9999.0;
inline constexpr const char *kSoilControl = "control.txt_0.$$$";

inline double SoilSubbasin(long r, long c) {
  if ((r == 1 && c == 1) || (r == 6 && c == 5))
    return kSoilNoData;
  return static_cast<double>((r + 1) / 2);
}

inline double SoilElevation(long r, long c) { return 1000.0 - 10.0 * r - c; }

class SoilModuleTest : public testing::Test {
protected:
  void SetUp() override {
    Grid whole;
    decomposition_ = DecomposeRaster(
        whole, kSoilColumns, kSoilRows, kSoilNoData,
        [](int r, int c) { return SoilSubbasin(r, c) != kSoilNoData; }, log_);
    held_ = decomposition_.HeldRows();
    grids_.Add("zone", held_.first, held_.last, SoilSubbasin);
    grids_.Add("elevation", held_.first, held_.last, SoilElevation);
    AddGrid("zonegrid_soilmodel", SoilSubbasin);
    AddGrid("RelCellArea",
            [](long r, long c) { return SoilSubbasin(r, c) == kSoilNoData ? -9999.0 : 1.0; });
    grids_.AddSoilModuleInputs(held_.first, held_.last, 30.0,
                               [](long r, long) { return r >= 5 ? 2.0 : 1.0; });
    soils_ = LoamAndSandyLoam(log_, 10);

    zoneIndex_ = OneBasedArray<int>(3, 0);
    zoneTable_ = OneBasedArray<ZoneRecord>(3);
    settings_.Log = &log_;
    settings_.Statistics = &statistics_;
    settings_.ControlFileName = kSoilControl;
    settings_.Registry = &registry_;
    settings_.ZoneIndex = &zoneIndex_; // the module ranks its own subbasins
    settings_.ZoneTable = &zoneTable_;
    settings_.ZoneCount = 3;
    settings_.MaxZoneCode = 3;
    settings_.NCols = kSoilColumns;
    settings_.NRows = kSoilRows;
    settings_.FirstRow = static_cast<int>(decomposition_.strip.first);
    settings_.LastRow = static_cast<int>(decomposition_.strip.last);
    settings_.RowRanges = &decomposition_.rowRanges;
    settings_.Halo.Decomposition = &decomposition_;
    settings_.CellCounts = &decomposition_.cellCounts;
    settings_.XllCorner = 0.0;
    settings_.YllCorner = 0.0;
    settings_.CellSize = 1000.0;
    settings_.NoData = kSoilNoData;
    settings_.HourDivisor = 1;
    settings_.EndDate = ModelDate{0, 28, 1, 2012};
    settings_.SoilTable = &soils_;
  }

  // A set-up grid over the rows this process holds.
  Grid &AddGrid(const std::string &identifier, const std::function<double(long, long)> &value) {
    return grids_.Add(identifier, held_.first, held_.last, value);
  }

  std::unique_ptr<unsatzonmodellklasse>
  Build(const std::string &control,
        const OneBasedArray<IrrigationTableEntry> *irrigation = nullptr) {
    // Every process is done with the file of the last build before it changes.
    MPI_Barrier(MPI_COMM_WORLD);
    WriteFixture(kSoilControl, control);
    int error = 0;
    testing::internal::CaptureStdout();
    try {
      auto module = std::make_unique<unsatzonmodellklasse>(error, settings_, irrigation, 1);
      testing::internal::GetCapturedStdout();
      return module;
    } catch (...) {
      testing::internal::GetCapturedStdout();
      throw;
    }
  }

  // Column water (mm) of a cell from its theta stack and its soil's layers.
  double ColumnWater(const unsatzonmodellklasse &m, long r, long c) const {
    const soil_class &soil =
        soils_[static_cast<std::size_t>(std::lround(Registered("soil_types")[r][c]))];
    double sum = 0.0;
    for (int k = 1; k <= soil.LayerCount; ++k)
      sum += m.Grids.Theta.Levels[r][c][k] * soil.thickness[static_cast<std::size_t>(k)] * 1000.0;
    return sum;
  }

  // The exit code the construction ends with on this process, -1 when built.
  int Failure(const std::string &control,
              const OneBasedArray<IrrigationTableEntry> *irrigation = nullptr) {
    return ExitCodeOf([&] { Build(control, irrigation); });
  }

  // Writes the state grids and stacks of a module under the file names of
  // the section, as an earlier run would leave them (binary doubles).
  void WriteStateFiles(unsatzonmodellklasse &m) {
    const SoilConfiguration &c = m.Config;
    auto stack = [&](SoilStack &s, const std::string &name) {
      m.WriteStack(name, s.Levels, m.MaxSoilLayers, false, true);
    };
    auto grid = [&](SoilGrid &s, const std::string &name) {
      Grid whole = m.MPIGatherGridForOutput(0, &s.Values);
      if (Rank() == 0)
        m.WriteGrid(name, whole, false, true);
    };
    stack(m.Grids.Theta, c.Grid(SoilGridFile::Theta).name);
    stack(m.Grids.GeodeticHeads, c.Grid(SoilGridFile::GeodeticHeads).name);
    stack(m.Grids.HydraulicHeads, c.Grid(SoilGridFile::HydraulicHeads).name);
    if (m.Grids.SoilTemperature.Levels.Allocated())
      stack(m.Grids.SoilTemperature, c.Heat.TemperatureStack.name);
    grid(m.Grids.GroundwaterDistance, c.Grid(SoilGridFile::GwDistance).name);
    grid(m.Grids.GroundwaterLevel, c.Grid(SoilGridFile::GwLevel).name);
    grid(m.Grids.ThetaInGwLevel, c.Grid(SoilGridFile::ThetaInGwLevel).name);
    grid(m.Grids.Baseflow, c.Grid(SoilGridFile::Baseflow).name);
    if (m.Grids.Ponding.Values.Allocated())
      grid(m.Grids.Ponding, c.Grid(SoilGridFile::Ponding).name);
    MPI_Barrier(MPI_COMM_WORLD);
  }

  // The grids a module coupled to the groundwater module links: an aquifer of 10 m with a
  // storage coefficient of 0.1, and river beds of leakage 1e-4 1/s wherever a test puts rivers.
  void AddAquiferGrids() {
    AddGrid("aquifer_thickness_1", [](long, long) { return 10.0; });
    AddGrid("gw_storage_coeff_1", [](long, long) { return 0.1; });
    AddGrid("kolmation", [](long, long) { return 1e-4; });
  }

  // The module of a control file, coupled to the groundwater module, with `calls` calls a
  // step, the water input of the precipitation grid and the given tracers (none when null).
  std::unique_ptr<unsatzonmodellklasse> BuildCoupled(const std::string &control, int calls,
                                                     OneBasedArray<TracerInfo> *tracers = nullptr) {
    auto m = Build(control);
    m->SetGroundwaterCoupling(1);
    m->SetSubstepCount(calls);
    m->SelectWaterInput(false);
    int error = -1;
    const int count = tracers != nullptr ? static_cast<int>(tracers->Count()) : 0;
    testing::internal::CaptureStdout();
    m->InitTracerGrids(error, count, tracers, &statistics_, 200);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(error, 0);
    return m;
  }

  // The tracer of a cell coupled to the aquifer: its column's levels 0..n
  // and the aquifer below the column (thickness m) at the concentration of
  // the aquifer's layer-1 grid, M = c theta_s 1000 h.
  double CoupledTracerContent(const unsatzonmodellklasse &m, const Grid &aquifer, double thickness,
                              long r, long c) const {
    const SoilTracerGrids &tracer = m.SoilTracers[1];
    const soil_class &soil =
        soils_[static_cast<std::size_t>(std::lround(Registered("soil_types")[r][c]))];
    double depth = 0.0;
    double stored = tracer.storage[r][c][0];
    for (int j = 1; j <= soil.LayerCount; ++j) {
      depth += soil.thickness[static_cast<std::size_t>(j)];
      stored += tracer.storage[r][c][j];
    }
    const auto g = static_cast<std::size_t>(m.Grids.GroundwaterLevel.Values[r][c]);
    return stored + aquifer[r][c] * soil.theta_sat[g] * 1000.0 * (thickness - depth);
  }

  // Calls body(r, c) for every valid cell of this process.
  template <class Body> void ForOwnCell(const unsatzonmodellklasse &m, Body &&body) const {
    for (long r = m.FirstRow; r <= m.LastRow; ++r)
      for (long c = 1; c <= kSoilColumns; ++c)
        if (Own(r, c) && SoilSubbasin(r, c) != kSoilNoData)
          body(r, c);
  }

  // The sum of value(r, c) over the valid cells of every process.
  template <class Value>
  double TotalOverProcesses(const unsatzonmodellklasse &m, Value &&value) const {
    double local = 0.0;
    ForOwnCell(m, [&](long r, long c) { local += value(r, c); });
    double total = 0.0;
    MPI_Allreduce(&local, &total, 1, MPI_DOUBLE, MPI_SUM, MPI_COMM_WORLD);
    return total;
  }

  bool Own(long r, long c) const {
    return decomposition_.regions.HasRow(r) && decomposition_.regions[r][c] == Rank();
  }

  // The first valid cell of rank 0 (whose log entries reach the
  // diagnostics file), the same on every process.
  std::pair<long, long> CellOfRankZero() const {
    long cell[2] = {0, 0};
    if (Rank() == 0)
      for (long r = held_.first; r <= held_.last && cell[0] == 0; ++r)
        for (long c = 1; c <= kSoilColumns && cell[0] == 0; ++c)
          if (Own(r, c) && SoilSubbasin(r, c) != kSoilNoData) {
            cell[0] = r;
            cell[1] = c;
          }
    MPI_Bcast(cell, 2, MPI_LONG, 0, MPI_COMM_WORLD);
    return {cell[0], cell[1]};
  }

  const Grid &Registered(const char *identifier) const {
    return *registry_[registry_.FindGrid(identifier, false)].Data;
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  MpiDecomposition decomposition_;
  StripRows held_;
  GridRegistry registry_;
  StatisticsRegistry statistics_;
  RegisteredGrids grids_{log_, registry_, kSoilRows, kSoilColumns};
  SoilTable soils_;
  OneBasedArray<int> zoneIndex_;
  OneBasedArray<ZoneRecord> zoneTable_;
  ModuleSettings settings_;
};

// The section with three subbasins, each with values of its own.
inline SoilSectionText ThreeSubbasins() {
  SoilSectionText s;
  s.codeRow = "1 2 3";
  s.valueRows = {"1 2 3", "10 20 30", "0.5 0.5 0.5", "20 20 20", "1 1 1", "0 0 0"};
  return s;
}

// The three subbasins coupled to rivers: hourly steps, methode 3, the table in layer 9
// (ini_gw_level 1.1) and the given exchange with the rivers.
inline SoilSectionText CoupledHourly(int surfaceInteraction) {
  SoilSectionText s = ThreeSubbasins();
  s.timeStep = 60.0;
  s.methode = 3;
  s.surfaceInteraction = surfaceInteraction;
  s.iniGwLevel = 1.1;
  return s;
}

} // namespace tavro::test
