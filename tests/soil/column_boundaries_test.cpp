// The column boundaries: river exchange against a fake river record, and the
// re-setting of a column to an external groundwater table, by hand.
#include "soil/column/column_boundaries.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace tavro {
namespace {

class FakeRiver final : public RiverExchangeSource {
public:
  FakeRiver(double flow, double speed, double available)
      : flow_(flow), speed_(speed), available_(available) {}
  double Flow() const override { return flow_; }
  double FlowSpeed() const override { return speed_; }
  double Available() const override { return available_; }

private:
  double flow_, speed_, available_;
};

// Four layers of 0.5 m below a surface at 100 m.
struct RiverColumn {
  std::vector<double> thetaSat = std::vector<double>(5, 0.45);
  std::vector<double> theta = std::vector<double>(5, 0.30);
  std::vector<double> z{100, 99.5, 99, 98.5, 98};
  std::vector<double> head = std::vector<double>(5, 98.2);
  std::vector<double> dz = std::vector<double>(5, 0.5);
  std::vector<double> in = std::vector<double>(5, 7.0), out = std::vector<double>(5, 7.0);
  int g = 4;
  double fc = 0.30;
  ExchangeColumn View() const { return {thetaSat, theta, theta, z, head, dz, 4, g, fc, 3600.0}; }
  double Sum(const std::vector<double> &v) const {
    return std::accumulate(v.begin() + 1, v.end(), 0.0);
  }
};

// A cell with a river 1.2 m deep and 5 m wide in a 100 m cell.
RiverCell Cell(int interaction, double distance, double kolmation,
               const RiverExchangeSource *river) {
  RiverCell c;
  c.surfaceInteraction = interaction;
  c.riverDepth = 1.2;
  c.riverWidth = 5.0;
  c.kolmation = kolmation;
  c.groundwaterDistance = distance;
  c.cellsize = 100.0;
  c.river = river;
  return c;
}

TEST(ColumnBoundaries, RiverLayer) {
  const std::vector<double> dz(5, 0.5);
  EXPECT_EQ(RiverLayer(dz, 4, 1.2), 3);
  EXPECT_EQ(RiverLayer(dz, 4, 1.0), 2);
  EXPECT_EQ(RiverLayer(dz, 4, 7.0), 4);
}

TEST(ColumnBoundaries, RiverExchangeCases) {
  const FakeRiver plenty(2.0, 0.5, 10.0), scarce(2.0, 0.5, 1e-3);
  // River water level 0.8 m above a bed at 98.8 m; the head below is 98.2 m:
  // Q = 1.4 * 1e-5 * 5 * 100 = 7e-3 m3/s, 7e-7 m/s over the cell.
  struct Case {
    const char *name;
    RiverCell cell;
    double theta;
    double infiltration, exfiltration;
  };
  RiverCell pondedLake = Cell(2, -1.8, 1e-5, &plenty);
  pondedLake.lakeFlowControl = 1;
  pondedLake.lake = true;
  pondedLake.ponding = 1.0;
  RiverCell shallowLake = pondedLake;
  shallowLake.ponding = 0.5;
  RiverCell noRiver = Cell(2, -1.8, 1e-5, &plenty);
  noRiver.riverWidth = 0.0;
  const Case cases[] = {
      {"exfiltration only", Cell(1, -1.8, 1e-5, &plenty), 0.30, 0.0, 0.0},
      {"both ways", Cell(2, -1.8, 1e-5, &plenty), 0.30, 7e-7, 0.0},
      {"as far as the river carries", Cell(2, -1.8, 1e-5, &scarce), 0.30, 1e-7, 0.0},
      {"no link", Cell(2, -1.8, 1e-5, nullptr), 0.30, 0.0, 0.0},
      {"saturated column", Cell(2, -1.8, 1e-5, &plenty), 0.45, 0.0, 0.0},
      {"lake with ponded water", pondedLake, 0.30, 0.0, 0.0},
      {"lake with little ponded water", shallowLake, 0.30, 7e-7, 0.0},
      {"no river", noRiver, 0.30, 0.0, 0.0},
      {"switched off", Cell(0, -1.8, 1e-5, &plenty), 0.30, 0.0, 0.0},
  };
  for (const Case &k : cases) {
    RiverColumn c;
    c.theta.assign(5, k.theta);
    const SurfaceWaterExchange r = ExchangeWithSurfaceWater(k.cell, c.View(), c.in, c.out);
    EXPECT_NEAR(r.riverInfiltration, k.infiltration, 1e-18) << k.name;
    EXPECT_EQ(r.exfiltration, k.exfiltration) << k.name;
    if (k.cell.surfaceInteraction > 0) {
      EXPECT_NEAR(c.Sum(c.in), r.riverInfiltration, 1e-20) << k.name;
      EXPECT_EQ(c.Sum(c.out), 0.0) << k.name;
    }
    if (k.cell.river != nullptr) {
      EXPECT_LE(r.riverInfiltration * 1e4, k.cell.river->Available() * (1 + 1e-12)) << k.name;
    }
  }
}

TEST(ColumnBoundaries, ExfiltrationIsDrawnFromTheDrainableWater) {
  RiverColumn c;
  c.theta.assign(5, 0.40); // drainable 0.40 - 0.30 = 0.1
  c.g = 1;
  // Table at 99.7 m above the bed at 98.8 m: Q = k * 0.9 * 5 / 100.
  const SurfaceWaterExchange small =
      ExchangeWithSurfaceWater(Cell(2, -0.3, 1e-5, nullptr), c.View(), c.in, c.out);
  EXPECT_NEAR(small.exfiltration, 4.5e-7, 1e-20);
  EXPECT_NEAR(c.out[1], 4.5e-7, 1e-20); // all from the table's layer
  EXPECT_EQ(small.riverInfiltration, 0.0);
  // A strong bed drains all that the 0.9 m between table and bed hold:
  // 0.9 * 0.1 / 3600 m/s, 90 mm over the step, layer by layer.
  const SurfaceWaterExchange big =
      ExchangeWithSurfaceWater(Cell(2, -0.3, 1e-2, nullptr), c.View(), c.in, c.out);
  EXPECT_NEAR(big.exfiltration, 0.09 / 3600.0, 1e-18);
  EXPECT_NEAR(c.Sum(c.out), big.exfiltration, 1e-18);
  EXPECT_NEAR(big.exfiltration * 3600.0 * 1000.0, 90.0, 1e-9);
  EXPECT_NEAR(c.out[1], 0.02 / 3600.0, 1e-18);
  EXPECT_NEAR(c.out[2], 0.05 / 3600.0, 1e-18);
  EXPECT_NEAR(c.out[3], 0.02 / 3600.0, 1e-18);
  EXPECT_EQ(c.out[4], 0.0);
}

// Four layers of 0.5 m, theta_s 0.45, theta at 3.45 m suction 0.30, the
// table at 99.3 m in layer 2.
struct TableCase {
  const char *name;
  double table;
  std::vector<double> theta;
  double balance;
  int layer;
  double used;
  std::vector<double> after;
};

TEST(ColumnBoundaries, AdjustToGroundwaterTable) {
  const std::vector<double> ts(5, 0.45), fc(5, 0.30), z{100, 99.5, 99, 98.5, 98}, dz(5, 0.5);
  const std::vector<double> start{0, 0.30, 0.40, 0.45, 0.45};
  const TableCase cases[] = {
      {"lower, same layer", 99.1, start, -30.0, 2, 99.1, {0, 0.30, 0.34, 0.45, 0.45}},
      {"lower, next layer", 98.7, start, -90.0, 3, 98.7, {0, 0.30, 0.31, 0.36, 0.45}},
      {"below the column", 97.0, start, -195.0, 4, 98.0, {0, 0.30, 0.31, 0.30, 0.30}},
      {"higher, same layer", 99.4, start, 5.0, 2, 99.4, {0, 0.30, 0.41, 0.45, 0.45}},
      {"higher, next layer", 99.8, start, 70.0, 1, 99.8, {0, 0.39, 0.45, 0.45, 0.45}},
      {"higher, clamped",
       100.5,
       {0, 0.44, 0.40, 0.45, 0.45},
       30.0,
       1,
       100.5,
       {0, 0.45, 0.45, 0.45, 0.45}},
  };
  for (const TableCase &k : cases) {
    std::vector<double> theta = k.theta;
    const TableAdjustment a = AdjustToGroundwaterTable({theta, ts, fc, z, dz, 4, 2, -0.7}, k.table);
    double stored = 0.0;
    for (int j = 1; j <= 4; ++j) {
      EXPECT_NEAR(theta[j], k.after[j], 1e-12) << k.name << " layer " << j;
      stored += (theta[j] - k.theta[j]) * dz[j] * 1000.0;
    }
    EXPECT_NEAR(a.balance, k.balance, 1e-9) << k.name;
    EXPECT_NEAR(a.balance, stored, 1e-9) << k.name;
    EXPECT_EQ(a.groundwaterLayer, k.layer) << k.name;
    EXPECT_EQ(a.table, k.used) << k.name;
    EXPECT_NEAR(a.groundwaterDistance, k.used - 100.0, 1e-12) << k.name;
  }
}

} // namespace
} // namespace tavro
