// Re-setting the columns to an external groundwater table on the test
// catchment over one or three processes: "Balance" is the change of stored
// water, the table and its distance follow the external heights (clamped to
// the column), the baseflow is 0, cells without a table are left alone and
// cells outside the catchment get no-data.
#include "soil/soil_module_fixture.h"

#include <cmath>

namespace tavro {
namespace {

using test::kSoilColumns;
using test::kSoilNoData;
using test::SoilSection;
using test::ThreeSubbasins;

class GroundwaterTableTest : public test::SoilModuleTest {};

// The external table of a cell relative to its current table: lower, higher,
// far below the column, or none.
double Shift(long r, long c) {
  switch ((r + c) % 4) {
  case 0:
    return -0.35;
  case 1:
    return 0.6;
  case 2:
    return -500.0;
  default:
    return 0.0; // no table: no-data
  }
}

TEST_F(GroundwaterTableTest, ColumnsFollowTheExternalTable) {
  auto m = Build(SoilSection(ThreeSubbasins()));
  SoilWaterGrids &g = m->Grids;
  const int n = m->MaxSoilLayers;
  std::vector<double> before;
  for (long r = settings_.FirstRow; r <= settings_.LastRow; ++r)
    for (long c = 1; c <= kSoilColumns; ++c) {
      const bool valid = test::SoilSubbasin(r, c) != kSoilNoData && Own(r, c);
      before.push_back(valid ? ColumnWater(*m, r, c) : 0.0);
      const double surface = g.GeodeticHeads.Levels[r][c][0];
      g.GwTableExtern.Values[r][c] =
          !valid || Shift(r, c) == 0.0 ? kSoilNoData
                                       : surface + g.GroundwaterDistance.Values[r][c] + Shift(r, c);
    }
  m->AdjustToGroundwaterTable();
  EXPECT_TRUE(m->ExternalGWTableApplied);
  std::size_t i = 0;
  int moved = 0;
  for (long r = settings_.FirstRow; r <= settings_.LastRow; ++r)
    for (long c = 1; c <= kSoilColumns; ++c, ++i) {
      if (test::SoilSubbasin(r, c) == kSoilNoData) {
        EXPECT_EQ(g.Balance.Values[r][c], kSoilNoData);
        EXPECT_EQ(g.GroundwaterDistance.Values[r][c], kSoilNoData);
        continue;
      }
      if (!Own(r, c))
        continue;
      const double surface = g.GeodeticHeads.Levels[r][c][0];
      if (Shift(r, c) == 0.0) {
        EXPECT_EQ(g.Balance.Values[r][c], 0.0);
        continue;
      }
      ++moved;
      EXPECT_NEAR(g.Balance.Values[r][c], ColumnWater(*m, r, c) - before[i], 1e-9) << r << "," << c;
      EXPECT_EQ(g.Baseflow.Values[r][c], 0.0);
      const double bottom = g.GeodeticHeads.Levels[r][c][n];
      if (Shift(r, c) < -100.0) {
        EXPECT_EQ(g.GwTableExtern.Values[r][c], bottom); // clamped and written back
        EXPECT_EQ(g.GroundwaterLevel.Values[r][c], n);
      }
      EXPECT_NEAR(g.GroundwaterDistance.Values[r][c], g.GwTableExtern.Values[r][c] - surface,
                  1e-12);
      if (Shift(r, c) > 0.0) {
        EXPECT_GE(g.Balance.Values[r][c], 0.0);
      } else {
        EXPECT_LT(g.Balance.Values[r][c], 0.0);
      }
    }
  EXPECT_GT(moved, 0);
  m->ReleaseMemory();
}

} // namespace
} // namespace tavro
