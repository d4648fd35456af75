// The tracer grids of a module over the real decomposition: the records of
// two tracers with their registry entries, identifiers, file names and
// grids (created or read), each module's own decay factor, the statistics
// table with its header and the rows its release writes, the registry
// running full, and the release of everything. The same under any process
// count.
#include "raster/handover/tracer_grid_hooks.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "kernel/grid_registry.h"
#include "kernel/module_settings.h"
#include "kernel/teilmodellklasse.h"
#include "kernel/tracer_info.h"
#include "raster/output/statistics_registry.h"
#include "raster/output/zonal_statistic.h"
#include "raster/parallel/mpi_decomposition.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <mpi.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::Rank;

constexpr int kCols = 5;
constexpr int kRows = 6;
constexpr double N = -9999.0;

// Zone 1 in rows 1 to 3, zone 2 below; a few cells outside the zone grid.
double ZoneCode(int r, int c) {
  if ((r == 1 && c == 1) || (r == 3 && c == 5) || (r == 6 && c <= 2))
    return N;
  return r <= 3 ? 1.0 : 2.0;
}

// Values of the storage grid file read with GridReadParameter 1.
double StoredValue(int r, int c) { return r * 10.0 + c * 0.5; }

TracerInfo Tracer(const std::string &name, int radioactive, double halfTime) {
  TracerInfo info;
  info.name = name;
  info.radioactive = radioactive;
  info.half_time = halfTime;
  info.path = "out/";
  info.statext = "sta";
  info.gridext = "asc";
  info.statcode = 2001;
  info.gridcode = 3;
  return info;
}

class TracerGridsMpiTest : public testing::Test {
protected:
  void SetUp() override {
    test::WriteFixture(kSpeedFactorFileName, "1\n");
    if (Rank() == 0)
      std::filesystem::create_directory("out");
    const RasterShape shape{kCols, kRows, N};
    Grid wholeZone;
    if (Rank() == 0)
      wholeZone = ZoneGrid(1, kRows);
    testing::internal::CaptureStdout(); // the decomposition's own report
    decomposition_ = DistributeMpiRegions(Rank() == 0 ? &wholeZone : nullptr, shape, log_);
    testing::internal::GetCapturedStdout();
    const StripRows held = decomposition_.HeldRows();
    zone_ = ZoneGrid(held.first, held.last);
    registry_[1].Identifier = "zonegrid";
    registry_[1].FileName = "zone.asc";
    registry_[1].Data = &zone_;
    InstallTracerGridHooks(registry_);

    zoneTable_[1].zonenwert = 1.0;
    zoneTable_[1].rel = 0.5;
    zoneTable_[2].zonenwert = 2.0;
    zoneTable_[2].rel = 0.5;
    settings_.Log = &log_;
    settings_.ControlFileName = "modules.ctl_0.$$$";
    settings_.Registry = &registry_;
    settings_.Statistics = &statistics_;
    settings_.ZoneIndex = &zoneIndex_;
    settings_.ZoneTable = &zoneTable_;
    settings_.ZoneCount = 2;
    settings_.MaxZoneCode = 2;
    settings_.NCols = kCols;
    settings_.NRows = kRows;
    settings_.FirstRow = static_cast<int>(decomposition_.strip.first);
    settings_.LastRow = static_cast<int>(decomposition_.strip.last);
    settings_.RowRanges = &decomposition_.rowRanges;
    settings_.Halo.Decomposition = &decomposition_;
    settings_.XllCorner = 0.0;
    settings_.YllCorner = 0.0;
    settings_.CellSize = 1000.0;
    settings_.NoData = N;
    settings_.HourDivisor = 1;
    test::WriteFixture(settings_.ControlFileName,
                       "[unsatzon_model]\n1\n1440 daily\n[snow_model]\n1\n60 hourly\n");
    tracers_ = OneBasedArray<TracerInfo>(2);
    tracers_[1] = Tracer("chl", 1, 1.0);
    tracers_[2] = Tracer("n__", 0, -9999.0);
  }

  Grid ZoneGrid(long first, long last) {
    Grid zone(first, last, kCols, kRows, log_);
    for (long r = first; r <= last; ++r)
      for (int c = 1; c <= kCols; ++c)
        zone[r][c] = ZoneCode(static_cast<int>(r), c);
    return zone;
  }

  std::unique_ptr<teilmodellklasse> Module(const std::string &name) {
    ModuleSettings settings = settings_;
    settings.ModuleName = name;
    auto module = std::make_unique<teilmodellklasse>(settings);
    module->CloseControlFile();
    return module;
  }

  // Registers a placeholder grid in entry index.
  void Occupy(int index) {
    registry_.AddGrid(index, "", nullptr, nullptr, 1, "taken_" + std::to_string(index), 0, 1, 0,
                      kCols, kRows, log_);
  }

  std::string Diagnostics() const { return test::ReadWholeFile("Tavro_Diag_0.xml"); }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  MpiDecomposition decomposition_;
  Grid zone_;
  GridRegistry registry_;
  StatisticsRegistry statistics_;
  OneBasedArray<int> zoneIndex_{2, 1};
  OneBasedArray<ZoneRecord> zoneTable_{2};
  OneBasedArray<TracerInfo> tracers_;
  ModuleSettings settings_;
};

TEST_F(TracerGridsMpiTest, TwoTracersRegisterTheirStorageAndFluxGrids) {
  auto soil = Module("unsatzon_model");
  int error = -1;
  soil->InitTracerGrids(error, 2, &tracers_, &statistics_, 200);
  ASSERT_EQ(error, 0);
  ASSERT_EQ(soil->TracerRecords.Count(), 2u);
  EXPECT_EQ(soil->TracerCount, 2);
  const std::string identifiers[][2] = {
      {"concstor_tracer_1_unsatzon_model", "concflux_tracer_1_unsatzon_model"},
      {"concstor_tracer_2_unsatzon_model", "concflux_tracer_2_unsatzon_model"}};
  for (int i = 1; i <= 2; ++i) {
    SCOPED_TRACE(i);
    TracerRecord &record = soil->TracerRecords[static_cast<std::size_t>(i)];
    // Entry 1 holds the zone grid; the tracers follow in the next free entries.
    EXPECT_EQ(record.StorageGridIndex, 2 * i);
    EXPECT_EQ(record.FluxGridIndex, 2 * i + 1);
    const GridEntry &storage = registry_[record.StorageGridIndex];
    const GridEntry &flux = registry_[record.FluxGridIndex];
    EXPECT_EQ(storage.Identifier, identifiers[i - 1][0]);
    EXPECT_EQ(flux.Identifier, identifiers[i - 1][1]);
    EXPECT_EQ(storage.Data, &record.StorageGrid);
    EXPECT_EQ(flux.Data, &record.FluxGrid);
    EXPECT_EQ(registry_.FindGrid(identifiers[i - 1][0], false), record.StorageGridIndex);
    EXPECT_EQ(storage.OutputKind, 3); // the tracer's gridcode
    EXPECT_EQ(flux.OutputKind, 0);
    const std::string name = i == 1 ? "chl" : "n__";
    EXPECT_EQ(record.GridFileName, "out/" + name + "unsat.asc");
    EXPECT_EQ(record.StatisticsFileName, "out/" + name + "unsat.sta");
    EXPECT_EQ(storage.FileName, record.GridFileName);
    // Held rows: the whole raster on rank 0, the strip with its halo elsewhere.
    const StripRows held = decomposition_.HeldRows();
    for (const Grid *grid : {&record.StorageGrid, &record.FluxGrid}) {
      EXPECT_EQ(grid->FirstRow(), held.first);
      EXPECT_EQ(grid->LastRow(), held.last);
    }
    // Created (GridReadParameter 0): nodata outside the zone grid, 0 inside;
    // the flux grid starts at 0 everywhere.
    for (long r = held.first; r <= held.last; ++r)
      for (int c = 1; c <= kCols; ++c) {
        const double expected = ZoneCode(static_cast<int>(r), c) == N ? N : 0.0;
        EXPECT_EQ(record.StorageGrid[r][c], expected) << r << "," << c;
        EXPECT_EQ(record.FluxGrid[r][c], 0.0) << r << "," << c;
      }
    // Zone records of the statistics: code and share from the zone table.
    ASSERT_EQ(record.ZoneConcentrations.size(), 3u);
    EXPECT_EQ(record.ZoneConcentrations[2].zonenwert, 2.0);
    EXPECT_EQ(record.ZoneConcentrations[2].rel, 0.5);
    EXPECT_EQ(record.ZoneConcentrations[2].n, 0.0);
  }

  soil->FinishTracerGrids();
  for (int index = 2; index <= 5; ++index)
    EXPECT_TRUE(registry_[index].IsFree()) << index;
  EXPECT_EQ(soil->TracerRecords.Count(), 0u);
  EXPECT_EQ(soil->TracerCount, 0);
  soil->FinishTracerGrids(); // a second release does nothing
  EXPECT_EQ(registry_.FirstFreeIndex(), 2);
}

TEST_F(TracerGridsMpiTest, EachModuleKeepsTheDecayOfItsOwnStep) {
  auto soil = Module("unsatzon_model"); // daily
  auto snow = Module("snow_model");     // hourly
  int error = -1;
  soil->InitTracerGrids(error, 2, &tracers_, &statistics_, 200);
  ASSERT_EQ(error, 0);
  snow->InitTracerGrids(error, 2, &tracers_, &statistics_, 200);
  ASSERT_EQ(error, 0);
  // A half-life of one day; the law 0.5^(dt / T) to 1e-9.
  EXPECT_NEAR(soil->TracerRecords[1].DecayFactor, 0.5, 0.5e-9);
  EXPECT_NEAR(snow->TracerRecords[1].DecayFactor, std::pow(0.5, 1.0 / 24.0), 1e-9);
  // A tracer that does not decay keeps all of it.
  EXPECT_EQ(soil->TracerRecords[2].DecayFactor, 1.0);
  EXPECT_EQ(snow->TracerRecords[2].DecayFactor, 1.0);
  // The snow module's grids took the entries after the soil module's.
  EXPECT_EQ(snow->TracerRecords[1].StorageGridIndex, 6);
  EXPECT_EQ(registry_[6].Identifier, "concstor_tracer_1_snow_model");
  EXPECT_EQ(snow->TracerRecords[1].StatisticsFileName, "out/chlsnow_.sta");
  snow->FinishTracerGrids();
  soil->FinishTracerGrids();
  EXPECT_EQ(registry_.FirstFreeIndex(), 2);
}

TEST_F(TracerGridsMpiTest, TheStatisticsTableWritesItsHeaderAndItsRowsOnRelease) {
  auto snow = Module("snow_model");
  int error = -1;
  snow->InitTracerGrids(error, 1, &tracers_, &statistics_, 200);
  ASSERT_EQ(error, 0);
  TracerRecord &record = snow->TracerRecords[1];
  ASSERT_TRUE(record.Statistics);
  const std::string header = "YY\tMM\tDD\tHH\t\"1\"\t\"2\"\ttot_average\n"
                             "tracer concentration for tracer 1 (chl) _submodel:snow_model\n"
                             "--\t--\t--\t--\t0.5000000\t0.5000000\t1.0000\n";
  if (Rank() == 0) {
    EXPECT_EQ(test::ReadWholeFile("out/chlsnow_.sta"), header);
    EXPECT_GE(statistics_.Find("tracer concentration for tracer 1 (chl) _submodel:snow_model"), 0);
  }
  // One step in which every cell holds 2.5: its row stays in the buffer
  // until the release.
  record.Statistics->ResetStep();
  for (long r = decomposition_.strip.first; r <= decomposition_.strip.last; ++r)
    for (int c = 1; c <= kCols; ++c)
      if (decomposition_.regions[r][c] == Rank())
        record.Statistics->AddValue(r, c, static_cast<int>(ZoneCode(static_cast<int>(r), c)), 2.5,
                                    1.0);
  record.Statistics->EndOfStep(2021, 1, 2, 0, 1);
  MPI_Barrier(MPI_COMM_WORLD);
  if (Rank() == 0) {
    EXPECT_EQ(test::ReadWholeFile("out/chlsnow_.sta"), header);
  }
  snow->FinishTracerGrids();
  MPI_Barrier(MPI_COMM_WORLD);
  if (Rank() == 0) {
    EXPECT_EQ(test::ReadWholeFile("out/chlsnow_.sta"),
              header + "2021\t 1\t 2\t 0\t2.5\t2.5\t2.5\n");
  }
}

TEST_F(TracerGridsMpiTest, AStorageGridIsReadWhenTheModuleAsksForIt) {
  std::string text = "ncols 5\nnrows 6\nxllcorner 0\nyllcorner 0\ncellsize 1000\n"
                     "nodata_value -9999\n";
  for (int r = 1; r <= kRows; ++r) {
    for (int c = 1; c <= kCols; ++c)
      text += std::to_string(ZoneCode(r, c) == N ? N : StoredValue(r, c)) + " ";
    text += "\n";
  }
  test::WriteFixture("out/chlunsat.asc", text);
  auto soil = Module("unsatzon_model");
  soil->GridReadParameter = 1;
  testing::internal::CaptureStdout(); // the reader's report
  int error = -1;
  soil->InitTracerGrids(error, 1, &tracers_, &statistics_, 200);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(error, 0);
  const Grid &grid = soil->TracerRecords[1].StorageGrid;
  const StripRows held = decomposition_.HeldRows();
  EXPECT_EQ(grid.FirstRow(), held.first);
  EXPECT_EQ(grid.LastRow(), held.last);
  // Rank 0 keeps the whole grid; elsewhere the own cells are read and the
  // halo holds the neighbours' values where the exchange brings them.
  for (long r = held.first; r <= held.last; ++r)
    for (int c = 1; c <= kCols; ++c) {
      const int row = static_cast<int>(r);
      const double expected = ZoneCode(row, c) == N ? N : StoredValue(row, c);
      if (Rank() == 0 || decomposition_.regions[r][c] == Rank() || grid[r][c] != N) {
        EXPECT_DOUBLE_EQ(grid[r][c], expected) << r << "," << c;
      }
    }
  EXPECT_EQ(registry_[2].Data, &grid);
  EXPECT_EQ(registry_[2].FirstRow, held.first);
  soil->FinishTracerGrids();
}

TEST_F(TracerGridsMpiTest, TheFluxGridTakesAnEmptyEntryOfItsOwn) {
  // Entry 2 is free, entry 3 taken: the flux grid must not overwrite it.
  Occupy(3);
  auto soil = Module("unsatzon_model");
  int error = -1;
  soil->InitTracerGrids(error, 1, &tracers_, &statistics_, 200);
  ASSERT_EQ(error, 0);
  EXPECT_EQ(soil->TracerRecords[1].StorageGridIndex, 2);
  EXPECT_EQ(soil->TracerRecords[1].FluxGridIndex, 4);
  EXPECT_EQ(registry_[3].Identifier, "taken_3");
  EXPECT_EQ(registry_[4].Identifier, "concflux_tracer_1_unsatzon_model");
  soil->FinishTracerGrids();
  EXPECT_EQ(registry_[3].Identifier, "taken_3");
}

TEST_F(TracerGridsMpiTest, AFullRegistryStopsWithCode12) {
  const std::string message = "no free grid left. Please contact the author to set the number of "
                              "available grids to a larger value 1000";
  // Only entry 999 is free: the storage grid takes it, the flux grid finds none.
  for (int index = 2; index <= GridRegistry::LastIndex - 1; ++index)
    Occupy(index);
  auto soil = Module("unsatzon_model");
  int error = -1;
  soil->InitTracerGrids(error, 1, &tracers_, &statistics_, 200);
  EXPECT_EQ(error, 12);
  EXPECT_EQ(registry_[GridRegistry::LastIndex].Identifier, "concstor_tracer_1_unsatzon_model");
  if (Rank() == 0) {
    EXPECT_NE(Diagnostics().find("level=\"0\" description= \"" + message), std::string::npos);
  }
  // What was built is released again.
  soil->FinishTracerGrids();
  EXPECT_TRUE(registry_[GridRegistry::LastIndex].IsFree());

  // No entry at all.
  Occupy(GridRegistry::LastIndex);
  auto snow = Module("snow_model");
  snow->InitTracerGrids(error, 1, &tracers_, &statistics_, 200);
  EXPECT_EQ(error, 12);
  snow->FinishTracerGrids();
}

TEST_F(TracerGridsMpiTest, NoTracersNoRecordsAndNoGrids) {
  auto soil = Module("unsatzon_model");
  int error = -1;
  soil->InitTracerGrids(error, 0, nullptr, &statistics_, 200);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(soil->TracerRecords.Count(), 0u);
  EXPECT_EQ(registry_.FirstFreeIndex(), 2);
  EXPECT_FALSE(test::FileExists("out/chlunsat.sta"));
  soil->FinishTracerGrids();
}

TEST_F(TracerGridsMpiTest, WithoutTheRasterHooksTheModuleStopsWith103) {
  registry_.TracerHooks = TracerGridHooks{};
  auto soil = Module("unsatzon_model");
  int error = -1;
  soil->InitTracerGrids(error, 1, &tracers_, &statistics_, 200);
  EXPECT_EQ(error, 103);
  if (Rank() == 0) {
    EXPECT_NE(Diagnostics().find("tracer grids of module unsatzon_model: the statistics and grid "
                                 "reading of the raster code are not installed"),
              std::string::npos);
  }
  soil->FinishTracerGrids();
}

} // namespace
} // namespace tavro
