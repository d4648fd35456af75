// A module's ranking of "zonegrid_soilmodel" under one and three processes:
// every process ends with the same tables, bit for bit, and a failure that
// rank 0 finds ends every process with its exit code.
#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "kernel/teilmodellklasse.h"
#include "support/grid_rows.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <mpi.h>

#include <cstring>
#include <vector>

namespace tavro {
namespace {

constexpr double N = -9999.0;

// A module without a zone table of its own reads no section; the test gives
// it the raster and registers the soil-model zone grid.
struct RankingModule {
  DiagnosticsLog log{"Tavro_Diag.xml", 4};
  GridRegistry registry;
  std::unique_ptr<teilmodellklasse> module;
  Grid zone;

  explicit RankingModule(const test::RasterRows *rows) {
    ModuleSettings settings;
    settings.Log = &log;
    settings.ModuleName = "unsatzon_model";
    module = std::make_unique<teilmodellklasse>(settings);
    module->Registry = &registry;
    module->CellSize = 1000.0;
    module->NoData = N;
    if (rows == nullptr)
      return;
    const RasterShape shape = test::ShapeOf(*rows);
    module->NCols = static_cast<int>(shape.ncols);
    module->NRows = static_cast<int>(shape.nrows);
    zone = test::GridFromRows(*rows, log);
    if (test::Rank() != 0)
      zone.Fill(99.0); // only rank 0's grid counts
    module->AddGrid(3, "subbasins.asc", &zone, nullptr, 1, "zonegrid_soilmodel", 0, 1, shape.nrows);
  }

  // The five outputs of the ranking.
  const Grid *grid = nullptr;
  OneBasedArray<ZoneRecord> table{99};
  OneBasedArray<int> index{99};
  int count = -1;
  int maxCode = -1;

  // The exit code the ranking threw, -1 when it returned.
  int Rank() {
    return test::ExitCodeOf([&] { module->RankZones(grid, table, index, count, maxCode); });
  }
};

// True when the bytes equal rank 0's on every process.
bool SameOnEveryRank(const void *data, std::size_t bytes) {
  std::vector<char> root(static_cast<const char *>(data), static_cast<const char *>(data) + bytes);
  MPI_Bcast(root.data(), static_cast<int>(bytes), MPI_CHAR, 0, MPI_COMM_WORLD);
  int same = std::memcmp(root.data(), data, bytes) == 0 ? 1 : 0;
  int all = 0;
  MPI_Allreduce(&same, &all, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  return all == 1;
}

TEST(ModuleRankZones, EveryProcessHoldsTheSameTables) {
  const test::RasterRows rows = {{N, 7, 7, 3}, {12, 12, 3, N}, {0.4, 3, 7, 12}};
  RankingModule m(&rows);
  ASSERT_EQ(m.Rank(), -1);
  const OneBasedArray<ZoneRecord> &table = m.table;
  const OneBasedArray<int> &index = m.index;
  EXPECT_EQ(m.grid, &m.zone);
  ASSERT_EQ(m.count, 4); // 0 (from 0.4), 3, 7, 12
  EXPECT_EQ(m.maxCode, 12);
  ASSERT_EQ(table.Count(), 4u);
  ASSERT_EQ(index.Count(), 12u);
  EXPECT_EQ(index[0], 1);
  EXPECT_EQ(index[3], 2);
  EXPECT_EQ(index[7], 3);
  EXPECT_EQ(index[12], 4);
  EXPECT_EQ(index[5], 0);
  EXPECT_EQ(table[3].sx, 3.0);
  EXPECT_DOUBLE_EQ(table[3].rel, 0.3);
  EXPECT_DOUBLE_EQ(table[0].rel, 10.0);
  EXPECT_TRUE(SameOnEveryRank(table.Data(), sizeof(ZoneRecord) * (table.Count() + 1)));
  EXPECT_TRUE(SameOnEveryRank(index.Data(), sizeof(int) * (index.Count() + 1)));
  if (test::Rank() == 0) {
    EXPECT_NE(test::ReadWholeFile("Tavro_Diag_0.xml")
                  .find("ranking zones from subbasins.asc for unsatzon_model"),
              std::string::npos);
  }
}

TEST(ModuleRankZones, AFailureOnRankZeroEndsEveryProcess) {
  const test::RasterRows rows = {{4, 4, -1}, {4, 4, 4}};
  RankingModule m(&rows);
  EXPECT_EQ(m.Rank(), 3);
  EXPECT_EQ(m.count, 0); // the outputs were reset
  EXPECT_TRUE(m.table.Empty());
  EXPECT_TRUE(m.index.Empty());
  if (test::Rank() == 0) {
    EXPECT_NE(test::ReadWholeFile("Tavro_Diag_0.xml")
                  .find("wrong zone index in subbasins.asc!; Zones have to range from 0 to "
                        "32767!"),
              std::string::npos);
  }
}

TEST(ModuleRankZones, AZoneGridThatIsNotRegisteredIsFatal) {
  RankingModule m(nullptr);
  EXPECT_EQ(m.Rank(), 33);
}

} // namespace
} // namespace tavro
