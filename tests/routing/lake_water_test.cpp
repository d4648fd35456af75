// Lake water on its cells: the ponds' terms of the cells wet at the start or
// the end of the step, the ponded water gathered with its mean
// concentrations, a volume spread with one level, and the start from the
// first wet cell, each against sums worked out by hand.
#include "routing/reservoirs/lake_water.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavro {
namespace {

constexpr double kArea = 100.0; // m2 per cell

// Four cells, bottoms 10, 10.5, 11 and 12 m; the table from 12.5 m down.
LakeCellValues FourCells(int tracers) {
  LakeCellValues cells;
  cells.Resize(4, tracers);
  cells.elevation = {10.0, 10.5, 11.0, 12.0};
  return cells;
}

LakeTable TableOf(const LakeCellValues &cells) {
  std::vector<LakeCell> list;
  for (std::size_t i = 0; i < cells.Count(); ++i)
    list.push_back(LakeCell{1, static_cast<int>(i) + 1, cells.elevation[i],
                            (12.5 - cells.elevation[i]) * 1000.0, 1});
  LakeTableResult built = BuildLakeTable(1, 1, 1, list, 10.0);
  EXPECT_EQ(built.exitCode, 0);
  return built.table;
}

TEST(LakeWater, TermsCountTheCellsWetAtTheStartOrTheEnd) {
  LakeCellValues cells = FourCells(0);
  // Cell 1 wet throughout, cell 2 dry throughout, cell 3 dried out in the
  // step, cell 4 wetted by it.
  cells.pondingBefore = {100.0, 0.0, 2.0, 0.0};
  cells.ponding = {100.0, 0.0, 0.0, 5.0};
  cells.pondEvaporation = {1.0, 7.0, 2.0, 3.0};
  cells.precipitation = {4.0, 9.0, 5.0, 6.0};
  cells.pondExchange = {-2.5, -2.0, -5.0, 2.25};
  cells.pondOverflow = {0.5, 0.0, 0.0, 0.25};
  const LakeCellTerms terms = SumLakeCellTerms(cells, kArea);
  EXPECT_NEAR(terms.evaporation, (1.0 + 2.0 + 3.0) * kArea / 1000.0, 1e-12);
  EXPECT_NEAR(terms.precipitation, (4.0 + 5.0 + 6.0) * kArea / 1000.0, 1e-12);
  EXPECT_NEAR(terms.groundwater, (-2.5 - 5.0 + 2.25) * kArea / 1000.0, 1e-12);
  EXPECT_NEAR(terms.overflow, (0.5 + 0.25) * kArea / 1000.0, 1e-12);
  // The terms are what the wet cells' water changed by.
  double change = 0.0;
  for (std::size_t i = 0; i < cells.Count(); ++i)
    if (cells.ponding[i] > 0.0 || cells.pondingBefore[i] > 0.0)
      change += (cells.ponding[i] - cells.pondingBefore[i]) * kArea / 1000.0;
  EXPECT_NEAR(change, terms.precipitation + terms.groundwater - terms.evaporation - terms.overflow,
              1e-12);
}

TEST(LakeWater, GatheredWaterAndItsMeanConcentrations) {
  LakeCellValues cells = FourCells(2);
  cells.ponding = {100.0, 0.0, 300.0, -5.0};
  cells.tracers = {1.0, 10.0, 99.0, 99.0, 3.0, 30.0, 99.0, 99.0};
  std::vector<double> water(3, -1.0);
  GatherLakeWater(cells, kArea, water);
  EXPECT_DOUBLE_EQ(water[0], 0.4 * kArea);
  EXPECT_DOUBLE_EQ(water[1], (0.1 * 1.0 + 0.3 * 3.0) / 0.4);
  EXPECT_DOUBLE_EQ(water[2], (0.1 * 10.0 + 0.3 * 30.0) / 0.4);
  cells.ponding = {0.0, 0.0, 0.0, 0.0};
  GatherLakeWater(cells, kArea, water);
  EXPECT_EQ(water, std::vector<double>(3, 0.0));
}

TEST(LakeWater, AVolumeSpreadsWithOneLevelAndRestartsFromTheCells) {
  LakeCellValues cells = FourCells(1);
  const LakeTable table = TableOf(cells);
  struct Case {
    double level; // m, between table nodes or beyond the lowest cell
  };
  for (const Case k : {Case{10.25}, Case{10.8}, Case{11.5}, Case{12.3}}) {
    SCOPED_TRACE(k.level);
    double volume = 0.0;
    for (const double z : cells.elevation)
      volume += z < k.level ? (k.level - z) * kArea : 0.0;
    const std::vector<double> concentration = {7.0};
    EXPECT_NEAR(DistributeLevel(table, volume, concentration, cells), k.level, 1e-9);
    int wet = 0;
    for (std::size_t i = 0; i < cells.Count(); ++i) {
      const bool below = cells.elevation[i] < k.level;
      wet += below ? 1 : 0;
      EXPECT_NEAR(cells.ponding[i], below ? (k.level - cells.elevation[i]) * 1000.0 : 0.0, 1e-6);
      EXPECT_EQ(cells.tracers[i], below ? 7.0 : 0.0);
    }
    EXPECT_EQ(WetCellCount(cells), wet);
    // Gathered again, the water is the volume spread.
    std::vector<double> water(2, 0.0);
    GatherLakeWater(cells, kArea, water);
    EXPECT_NEAR(water[0], volume, 1e-9 * volume);
    // The first wet cell gives back the volume and its concentration.
    std::vector<double> state(2, -1.0);
    LakeStateFromCells(table, cells, state);
    EXPECT_NEAR(state[0], volume, 1e-9 * volume);
    EXPECT_EQ(state[1], 7.0);
  }
  cells.ponding.assign(4, 0.0);
  std::vector<double> state(2, -1.0);
  LakeStateFromCells(table, cells, state);
  EXPECT_EQ(state, std::vector<double>(2, 0.0));
}

} // namespace
} // namespace tavro
