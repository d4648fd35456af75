// The lake's water-level/volume table: volumes against an independent sum,
// the spacing at the depth thresholds, look-ups and the set-up failures.
#include "routing/reservoirs/lake_table.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace tavro {
namespace {
using test::ReadWholeFile;

constexpr double kCell = 10.0;

// Cells at the given elevations, all standing to the same level.
std::vector<LakeCell> Cells(const std::vector<double> &elevations, double level) {
  std::vector<LakeCell> cells;
  int column = 1;
  for (const double z : elevations)
    cells.push_back(LakeCell{1, column++, z, (level - z) * 1000.0, 3});
  return cells;
}

double ReferenceVolume(const std::vector<double> &elevations, double level) {
  double v = 0.0;
  for (const double z : elevations)
    v += kCell * kCell * std::max(0.0, level - z);
  return v;
}

TEST(LakeTable, AFlatBottomIsLinearInTheLevel) {
  const std::vector<double> flat(6, 100.0);
  const LakeTableResult built = BuildLakeTable(1, 3, 30, Cells(flat, 102.5), kCell);
  ASSERT_EQ(built.exitCode, 0) << built.fault;
  const LakeTable &t = built.table;
  for (int i = 0; i < t.Entries(); ++i) {
    const double level = t.levels[static_cast<std::size_t>(i)];
    EXPECT_NEAR(t.volumes[static_cast<std::size_t>(i)], 6 * kCell * kCell * (level - 100.0), 1e-9);
  }
  EXPECT_DOUBLE_EQ(t.levels.front(), 102.5);
  EXPECT_DOUBLE_EQ(t.levels.back(), 100.0);
  EXPECT_EQ(t.volumes.back(), 0.0);
}

TEST(LakeTable, ATerracedLakeMatchesTheCellSumAtEveryNode) {
  const std::vector<double> terraces = {90.0, 91.5, 91.5, 93.0, 95.25, 96.0};
  const LakeTableResult built = BuildLakeTable(2, 3, 30, Cells(terraces, 97.0), kCell);
  ASSERT_EQ(built.exitCode, 0) << built.fault;
  const LakeTable &t = built.table;
  for (int i = 0; i < t.Entries(); ++i) {
    const double level = t.levels[static_cast<std::size_t>(i)];
    const double volume = t.volumes[static_cast<std::size_t>(i)];
    EXPECT_NEAR(volume, ReferenceVolume(terraces, level), 1e-9) << i;
    // The look-ups invert each other at the nodes.
    EXPECT_NEAR(VolumeFromLevel(t, level), volume, 1e-9 * std::max(1.0, volume)) << i;
    if (i > 0 && volume < t.volumes[static_cast<std::size_t>(i) - 1]) {
      EXPECT_NEAR(LevelFromVolume(t, volume), level, 1e-9) << i;
    }
  }
  // Both ends extrapolate along their segments.
  const double topSlope = (t.volumes[0] - t.volumes[1]) / (t.levels[0] - t.levels[1]);
  EXPECT_NEAR(VolumeFromLevel(t, 98.0), t.volumes[0] + topSlope * (98.0 - t.levels[0]), 1e-6);
  EXPECT_NEAR(LevelFromVolume(t, t.volumes[0] + topSlope), t.levels[0] + 1.0, 1e-9);
  const std::size_t last = t.levels.size() - 1;
  const double lowSlope =
      (t.volumes[last - 1] - t.volumes[last]) / (t.levels[last - 1] - t.levels[last]);
  EXPECT_NEAR(VolumeFromLevel(t, 89.0), -lowSlope * 1.0, 1e-6);
}

TEST(LakeTable, SpacingFollowsTheDepth) {
  const struct {
    double depth;
    int fine, mid, coarse;
  } cases[] = {
      {3.99, 399, 0, 0},
      {4.0, 400, 0, 0},
      {14.5, 400, 500, 10},
  };
  for (const auto &c : cases) {
    const LakeTableResult built =
        BuildLakeTable(1, 3, 30, Cells({100.0, 100.0 + c.depth / 2}, 100.0 + c.depth), kCell);
    ASSERT_EQ(built.exitCode, 0);
    const LakeTable &t = built.table;
    EXPECT_EQ(t.Entries(), c.fine + c.mid + c.coarse + 1) << c.depth;
    const double top = 100.0 + c.depth;
    EXPECT_NEAR(t.levels[1], top - 0.01, 1e-12);
    if (c.mid > 0) {
      EXPECT_NEAR(t.levels[static_cast<std::size_t>(c.fine)], top - 4.0, 1e-9);
      EXPECT_NEAR(t.levels[static_cast<std::size_t>(c.fine) + 1], top - 4.02, 1e-9);
    }
    if (c.coarse > 0) {
      EXPECT_NEAR(t.levels[static_cast<std::size_t>(c.fine + c.mid) + 1], top - 14.05, 1e-9);
    }
    EXPECT_DOUBLE_EQ(t.levels.back(), 100.0);
  }
}

TEST(LakeTable, SetUpFailuresAsATable) {
  std::vector<LakeCell> uneven = Cells({100.0, 100.0}, 101.0);
  uneven[1].maxPonding += 20.0; // 2 cm higher
  std::vector<LakeCell> elsewhere = Cells({100.0, 100.0}, 101.0);
  elsewhere[1].flowIndex = 4;
  const struct {
    std::vector<LakeCell> cells;
    int exitCode;
    const char *text;
  } cases[] = {
      {uneven, kLakeLevelExitCode, "must have the same Altitude value"},
      {elsewhere, kLakeSubbasinExitCode, "must be located completely within subbasin 30."},
      {{}, kLakeWithoutCellsExitCode, "no cell"},
      {Cells({100.0, 100.0}, 100.005), kLakeLevelExitCode, "below 0.01 m"},
  };
  for (const auto &c : cases) {
    const LakeTableResult built = BuildLakeTable(7, 3, 30, c.cells, kCell);
    EXPECT_EQ(built.exitCode, c.exitCode);
    EXPECT_NE(built.fault.find(c.text), std::string::npos) << built.fault;
  }
  // The table file, and the failure to open it (225 at the caller).
  const LakeTableResult built = BuildLakeTable(7, 3, 30, Cells({100.0}, 101.0), kCell);
  EXPECT_EQ(LakeTableFileName(7), "W_V_Table_07.dat");
  ASSERT_TRUE(WriteLakeTable(built.table, 7, LakeTableFileName(7)));
  const std::string text = ReadWholeFile("W_V_Table_07.dat");
  EXPECT_EQ(
      text.rfind("waterlevel-volume-table lake 7\nLevel[m a.s.l.]\tVolume[m^3]\n101\t100\n", 0),
      0u);
  EXPECT_FALSE(WriteLakeTable(built.table, 7, "no_such_dir/W_V_Table_07.dat"));
}

} // namespace
} // namespace tavro
