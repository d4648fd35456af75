// Hydrologic response units of the fixture catchment from two classified
// grids, under one and three processes: the unit grid is the same for any
// process count (numbered over the whole raster), every process masters its
// first owned cell of each unit, rank 0's gathered master grid shows the
// masters of all processes, the files are written per process and whole,
// and a module's cell loop computes only masters and copies their results.
#include "setup/setup_catchment.h"

#include "kernel/teilmodellklasse.h"
#include "raster/parallel/cell_iteration.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace tavro {
namespace {

constexpr double N = -9999.0;

// Classes of soil_depth (values 10 * row + column) in steps of 20 and of the
// elevation model in steps of 100, numbered by hand in row order.
constexpr double kUnits[5][6] = {{N, 1, 1, 2, 2, N},
                                 {3, 3, 3, 4, 5, 6},
                                 {N, 7, 7, 7, 4, N},
                                 {8, 8, 8, 9, 10, 11},
                                 {N, N, 8, 8, N, N}};
const std::vector<std::string> kKeys = {"",           "0000'0008'", "0000'0009'", "0001'0007'",
                                        "0001'0008'", "0001'0009'", "0001'0010'", "0001'0006'",
                                        "0002'0005'", "0002'0006'", "0002'0007'", "0002'0008'"};

class SpinUpUnits : public testing::Test {
protected:
  void SetUp() override {
    test::WriteCatchment({{"[model_time]", "[SpinUp]\n1 SpinUpSwitch\n0 no pre-spin-up\n"
                                           "2 passes\n2 grids define the units\n"
                                           "soil_depth 20 linear\n"
                                           "elevation_model 100.0 linear spacing\n\n"
                                           "[unit_test_module]\n1 flow control parameter\n"
                                           "60 time interval\n\n[model_time]"}});
    const test::SetupOutcome setup = run.Run();
    ASSERT_EQ(setup.code, 0) << setup.console;
    testing::internal::CaptureStdout();
    run.setup->InitSpinUp(spinUpSwitch, preSpinUp, repeats, units);
    testing::internal::GetCapturedStdout();
  }

  const Grid &Registered(const char *identifier) {
    const int index = run.registry.FindGrid(identifier, false);
    EXPECT_GT(index, 0) << identifier;
    return *run.registry[index].Data;
  }

  // The first cell of each unit in row order that this rank owns.
  std::vector<std::pair<int, int>> ExpectedMasters(int rank) const {
    const MpiDecomposition &d = run.setup->Decomposition();
    std::vector<std::pair<int, int>> masters(kKeys.size(), {0, 0});
    for (int r = 1; r <= 5; ++r)
      for (int c = 1; c <= 6; ++c) {
        const double unit = kUnits[r - 1][c - 1];
        if (unit == N || !d.regions.HasRow(r) || d.regions[r][c] != rank)
          continue;
        auto &master = masters[static_cast<std::size_t>(unit)];
        if (master.first == 0)
          master = {r, c};
      }
    return masters;
  }

  test::CatchmentSetup run;
  int spinUpSwitch = 0;
  int preSpinUp = 0;
  int repeats = 0;
  const std::vector<HydrologicResponseUnit> *units = nullptr;
};

TEST_F(SpinUpUnits, TheUnitGridDoesNotDependOnTheProcessCount) {
  EXPECT_EQ(spinUpSwitch, 1);
  EXPECT_EQ(preSpinUp, 0);
  EXPECT_EQ(repeats, 2);
  ASSERT_EQ(units->size(), kKeys.size());
  for (std::size_t i = 0; i < kKeys.size(); ++i) {
    EXPECT_EQ((*units)[i].number, static_cast<std::int64_t>(i));
    EXPECT_EQ((*units)[i].key, kKeys[i]);
  }
  // Every held cell of the own strip (rank 0: the whole raster) as numbered.
  const Grid &unitGrid = Registered("HydrologicResponseUnits");
  const MpiDecomposition &d = run.setup->Decomposition();
  const StripRows rows = test::Rank() == 0 ? StripRows{1, 5} : d.strip;
  for (int r = rows.first; r <= rows.last; ++r)
    for (int c = 1; c <= 6; ++c) {
      if (test::Rank() == 0 || d.regions[r][c] == test::Rank()) {
        EXPECT_EQ(unitGrid[r][c], kUnits[r - 1][c - 1]) << r << "," << c;
      }
    }
  // The written whole grid on rank 0.
  if (test::Rank() == 0) {
    const std::string text = test::ReadWholeFile("All_HydrologicResponseUnits");
    EXPECT_NE(text.find("8\t8\t8\t9\t10\t11"), std::string::npos) << text;
  }
}

TEST_F(SpinUpUnits, EachProcessMastersItsFirstOwnedCellOfEachUnit) {
  const auto expected = ExpectedMasters(test::Rank());
  for (std::size_t u = 1; u < kKeys.size(); ++u) {
    EXPECT_EQ((*units)[u].row, expected[u].first) << "unit " << u;
    EXPECT_EQ((*units)[u].column, expected[u].second) << "unit " << u;
  }
  // Rank 0's gathered master grid: the masters of every process.
  if (test::Rank() == 0) {
    const Grid &masters = Registered("MasterHydrologicResponseUnits");
    std::set<std::pair<int, int>> all;
    for (int rank = 0; rank < test::ProcessCount(); ++rank)
      for (const auto &cell : ExpectedMasters(rank))
        if (cell.first != 0)
          all.insert(cell);
    for (int r = 1; r <= 5; ++r)
      for (int c = 1; c <= 6; ++c) {
        const bool master = all.count({r, c}) == 1;
        EXPECT_EQ(masters[r][c], master ? kUnits[r - 1][c - 1] : N) << r << "," << c;
      }
  }
}

TEST_F(SpinUpUnits, FilesPerProcessAndWhole) {
  char name[64];
  std::snprintf(name, sizeof name, "All_HydrologicResponseUnits_%03d", test::Rank());
  EXPECT_TRUE(test::FileExists(name)) << name;
  std::snprintf(name, sizeof name, "Master_HydrologicResponseUnits_%03d", test::Rank());
  EXPECT_TRUE(test::FileExists(name)) << name;
  if (test::Rank() == 0) {
    EXPECT_TRUE(test::FileExists("All_HydrologicResponseUnits"));
    EXPECT_TRUE(test::FileExists("Master_HydrologicResponseUnits"));
  }
}

TEST_F(SpinUpUnits, AModuleComputesMastersAndCopiesTheirResults) {
  const SetupHandOver handOver = run.setup->GetSettings();
  ModuleSettings settings;
  settings.Log = &run.log;
  settings.ModuleName = "unit_test_module";
  settings.ControlFileName = handOver.ControlFileName;
  settings.Registry = &run.registry;
  settings.RowRanges = handOver.RowRanges;
  settings.NCols = handOver.NCols;
  settings.NRows = handOver.NRows;
  settings.FirstRow = handOver.FirstRow;
  settings.LastRow = handOver.LastRow;
  settings.NoData = handOver.NoData;
  settings.SpinUpSwitch = spinUpSwitch;
  settings.HydrologicResponseUnits = units;
  settings.ZoneIndex = handOver.ZoneIndex;
  settings.ZoneTable = handOver.ZoneTable;
  settings.ZoneCount = handOver.ZoneCount;
  settings.MaxZoneCode = handOver.MaxZoneCode;
  testing::internal::CaptureStdout();
  teilmodellklasse module(settings);
  testing::internal::GetCapturedStdout();

  const CellIteration loop(module.CellLoopSetup());
  ASSERT_TRUE(loop.UsesUnits());
  Grid result(1, 5, 6, 5, run.log);
  result.Fill(0.0);
  loop.ForEachCell([&](long r, long c) { result[r][c] = 100.0 * r + c; });
  Grid *grids[] = {&result};
  loop.CopyMasterResults(grids);
  const auto masters = ExpectedMasters(test::Rank());
  const MpiDecomposition &d = run.setup->Decomposition();
  for (int r = d.strip.first; r <= d.strip.last; ++r)
    for (int c = 1; c <= 6; ++c) {
      const double unit = kUnits[r - 1][c - 1];
      if (unit == N || d.regions[r][c] != test::Rank())
        continue;
      const auto [mr, mc] = masters[static_cast<std::size_t>(unit)];
      EXPECT_EQ(result[r][c], 100.0 * mr + mc) << r << "," << c;
    }
}

} // namespace
} // namespace tavro
