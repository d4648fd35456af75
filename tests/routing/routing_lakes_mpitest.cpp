// Lakes in the routing across processes: the switches of "[lake_model]" on
// every rank (spin-up turns them off), the lake cells counted per rank, the
// values of every lake cell gathered into rank 0's copies (the water input
// into "PrecOnLakes", chosen by the interception-first flag) and the ponding
// sent back to the owners. The lake spans the strips of two processes under
// three, the third holds none, and a lake code outside the zone grid is never
// exchanged; every expectation is independent of the process count.
#include "routing_module_fixture.h"

#include "support/decomposed_raster.h"
#include "support/soil_water_inputs.h"

#include <gtest/gtest.h>
#include <mpi.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

namespace tavro {
namespace {

constexpr long kCols = 5;
constexpr long kRows = 6;
constexpr double kNoData = -9999.0;

// Subbasins 1..3 by pairs of rows; the first and the last cell are outside.
double Subbasin(long r, long c) {
  if ((r == 1 && c == 1) || (r == kRows && c == kCols))
    return kNoData;
  return static_cast<double>((r + 1) / 2);
}

// The lake: five valid cells over rows 2 and 3, and a lake code on the cell
// outside the zone grid.
bool LakeCode(long r, long c) {
  return (r == 1 && c == 1) || (r == 2 && (c == 2 || c == 3)) || (r == 3 && c >= 2 && c <= 4);
}
bool ValidLakeCell(long r, long c) { return LakeCode(r, c) && Subbasin(r, c) != kNoData; }
constexpr int kValidLakeCells = 5;

// The value a grid's owner holds in a cell; other cells hold -1.
double OwnerValue(int grid, long r, long c) { return 1000.0 * grid + 10.0 * r + c; }
// The ponding rank 0 gives the lake cells.
double NewPonding(long r, long c) { return 0.5 * r + 0.25 * c; }

std::string LakeSection(int lakeSwitch, int readGrids) {
  return Concat("[lake_model]\n", lakeSwitch, " flow control parameter\n1 initialization\n",
                "0 a\n0 b\n", readGrids, " readgrids\n");
}

class RoutingLakesTest : public test::RoutingModuleTest {
protected:
  void SetUp() override { DecomposeRaster(kCols, kRows, kNoData, Subbasin); }

  bool Own(long r, long c) const {
    return decomposition_.regions.HasRow(r) && decomposition_.regions[r][c] == test::Rank();
  }

  // The registry of a run: the zone grid first, the lake codes, and the grids
  // the lakes read, of which waterInputs names the water-input candidates
  // present. Grid g (its position in the list) holds OwnerValue(g, ...) on the
  // cells this process owns.
  void RegisterGrids(const std::vector<std::string> &waterInputs) {
    grids_.Add("zonegrid_soilmodel", held_.first, held_.last, Subbasin);
    grids_.Add("lake_codes", held_.first, held_.last,
               [](long r, long c) { return LakeCode(r, c) ? 7.0 : kNoData; });
    std::vector<std::string> names = {"ponding_storage", "pond_evaporation", "pond_exchange",
                                      "pond_overflow"};
    names.insert(names.end(), waterInputs.begin(), waterInputs.end());
    for (std::size_t g = 0; g < names.size(); ++g)
      grids_.Add(names[g], held_.first, held_.last, [&, g](long r, long c) {
        return Own(r, c) ? OwnerValue(static_cast<int>(g), r, c) : -1.0;
      });
    gridNames_ = names;
  }

  const Grid &Registered(const std::string &identifier) const {
    return *registry_[registry_.FindGrid(identifier, false)].Data;
  }
  int Position(const std::string &identifier) const {
    for (std::size_t g = 0; g < gridNames_.size(); ++g)
      if (gridNames_[g] == identifier)
        return static_cast<int>(g);
    return -1;
  }

  // The module of every rank, built from one file (written by rank 0).
  std::unique_ptr<abflussmodellklasse> BuildLakes(const std::string &lakes) {
    test::WriteFixture(test::kRoutingControl,
                       Section(test::kTestNetwork, "1 2000 20 1", 1, 1440, "0", lakes));
    int error = 0;
    auto module = std::make_unique<abflussmodellklasse>(error, settings_, 0, nullptr, 1);
    EXPECT_EQ(error, 0);
    return module;
  }

  test::RegisteredGrids grids_{log_, registry_, kRows, kCols};
  std::vector<std::string> gridNames_;
};

TEST_F(RoutingLakesTest, SwitchesOnEveryRankAndSpinUpTurnsThemOff) {
  RegisterGrids({"throughfall0"});
  struct Case {
    int spinUp;
    int lakeSwitch;
    int readGrids;
    int expectedSwitch;
    int expectedGridSwitch;
  };
  const std::vector<Case> cases = {
      {0, 1, 2, 1, 2}, {0, 1, 0, 1, 0}, {0, 0, 2, 0, 0}, {1, 1, 2, 0, 0}};
  for (const Case &k : cases) {
    SCOPED_TRACE(
        Concat("spin-up ", k.spinUp, ", lakes ", k.lakeSwitch, ", readgrids ", k.readGrids));
    settings_.SpinUpSwitch = k.spinUp;
    auto routing = BuildLakes(LakeSection(k.lakeSwitch, k.readGrids));
    routing->InitLakeModel(false);
    EXPECT_EQ(routing->LakeSwitch, k.expectedSwitch);
    EXPECT_EQ(routing->LakeGridSwitch, k.expectedGridSwitch);
    const std::vector<std::int64_t> &counts = routing->LakeCellsPerRank();
    if (k.expectedSwitch == 0) {
      EXPECT_TRUE(counts.empty());
      // Nothing is exchanged: rank 0 holds no copy and the steps pass by.
      EXPECT_EQ(routing->LakeCopy(registry_.FindGrid("ponding_storage", false)), nullptr);
      routing->GatherLakeCells();
      routing->ScatterPonding();
    } else {
      EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), std::int64_t{0}), kValidLakeCells);
    }
    routing->ReleaseMemory();
  }
}

TEST_F(RoutingLakesTest, LakeSpanningStripsIsGatheredAndItsPondingScattered) {
  RegisterGrids({"throughfall0"});
  auto routing = BuildLakes(LakeSection(1, 0));
  routing->InitLakeModel(false);
  const std::vector<std::int64_t> &counts = routing->LakeCellsPerRank();
  ASSERT_EQ(counts.size(), static_cast<std::size_t>(test::ProcessCount()));
  EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), std::int64_t{0}), kValidLakeCells);
  if (test::ProcessCount() == 3) {
    // The lake spans the strips of two processes; the third takes part with none.
    EXPECT_EQ(std::count(counts.begin(), counts.end(), std::int64_t{0}), 1);
  }
  // The set-up hands rank 0's ponding back unchanged.
  const Grid &ponding = Registered("ponding_storage");
  for (long r = 1; r <= kRows; ++r)
    for (long c = 1; c <= kCols; ++c)
      if (Own(r, c)) {
        EXPECT_EQ(ponding[r][c], OwnerValue(0, r, c)) << r << "," << c;
      }

  routing->GatherLakeCells();
  if (test::Rank() == 0) {
    for (const std::string &name : gridNames_) {
      const Grid *copy = routing->LakeCopy(registry_.FindGrid(name, false));
      ASSERT_NE(copy, nullptr) << name;
      for (long r = 1; r <= kRows; ++r)
        for (long c = 1; c <= kCols; ++c) {
          // Every valid lake cell holds its owner's value; no other cell,
          // the lake code outside the zone grid included, is exchanged.
          const double expected = ValidLakeCell(r, c) ? OwnerValue(Position(name), r, c) : 0.0;
          EXPECT_EQ((*copy)[r][c], expected) << name << " " << r << "," << c;
        }
    }
    EXPECT_EQ(routing->LakeCopy(routing->PrecOnLakesIndex()), nullptr);
    EXPECT_EQ(routing->LakeCopy(routing->WaterInputIndex()),
              registry_[routing->PrecOnLakesIndex()].Data);
    // The lake balance leaves new ponding in rank 0's copy.
    Grid &copy = *routing->LakeCopy(registry_.FindGrid("ponding_storage", false));
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kCols; ++c)
        if (ValidLakeCell(r, c))
          copy[r][c] = NewPonding(r, c);
  } else {
    EXPECT_EQ(routing->LakeCopy(registry_.FindGrid("ponding_storage", false)), nullptr);
  }
  routing->ScatterPonding();
  for (long r = held_.first; r <= held_.last; ++r)
    for (long c = 1; c <= kCols; ++c)
      if (Own(r, c)) {
        EXPECT_EQ(ponding[r][c], ValidLakeCell(r, c) ? NewPonding(r, c) : OwnerValue(0, r, c))
            << r << "," << c;
      }
  // The cell outside the zone grid keeps its value wherever it is held.
  if (held_.first == 1) {
    EXPECT_EQ(ponding[1][1], -1.0);
  }
  routing->ReleaseMemory();
}

TEST_F(RoutingLakesTest, WaterInputChosenByTheInterceptionFirstFlag) {
  struct Case {
    std::vector<std::string> present;
    bool interceptionFirst;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{"precipitation", "throughfall0", "snowcover_outflow"}, true, "snowcover_outflow"},
      {{"precipitation", "throughfall0", "snowcover_outflow"}, false, "throughfall0"},
      {{"precipitation", "throughfall0"}, true, "throughfall0"},
      {{"precipitation", "snowcover_outflow"}, false, "snowcover_outflow"},
      {{"precipitation"}, true, "precipitation"},
      {{"precipitation"}, false, "precipitation"},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(Concat("flag ", k.interceptionFirst, ", expected ", k.expected));
    for (int index = 1; index <= GridRegistry::LastIndex; ++index)
      if (!registry_[index].IsFree())
        registry_.ReleaseGrid(index);
    RegisterGrids(k.present);
    auto routing = BuildLakes(LakeSection(1, 0));
    routing->InitLakeModel(k.interceptionFirst);
    EXPECT_EQ(registry_[routing->WaterInputIndex()].Identifier, k.expected);
    routing->GatherLakeCells();
    if (test::Rank() == 0) {
      const Grid &precOnLakes = *registry_[routing->PrecOnLakesIndex()].Data;
      for (long r = 1; r <= kRows; ++r)
        for (long c = 1; c <= kCols; ++c)
          if (ValidLakeCell(r, c)) {
            EXPECT_EQ(precOnLakes[r][c], OwnerValue(Position(k.expected), r, c));
          }
    }
    routing->ReleaseMemory();
  }
}

} // namespace
} // namespace tavro
