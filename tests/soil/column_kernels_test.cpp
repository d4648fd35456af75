// The column kernels of the soil-water module against hand values, closed
// forms and the conservation of water: the layer balance, the flux
// limiting, the root distribution, the macropores, the depth integral and
// the groundwater recharge.
#include "soil/column/balance_layers.h"
#include "soil/column/clay_layer.h"
#include "soil/column/groundwater_recharge.h"
#include "soil/column/integrate_over_depth.h"
#include "soil/column/macropore_infiltration.h"
#include "soil/column/permafrost_ksat.h"
#include "soil/column/root_water_uptake.h"
#include "soil/column/update_iterate.h"
#include "soil/column/vertical_fluxes.h"
#include "soil/gardner_soil.h"

#include <gtest/gtest.h>

#include <array>
#include <numeric>

namespace tavro {
namespace {

using test::GardnerSoil;
using test::UniformColumn;

constexpr double kDt = 3600.0;

// Water of the column (m) from theta_new.
double ColumnWater(const UniformColumn &column, const ColumnState &state) {
  double sum = 0.0;
  for (int k = 1; k <= column.geometry.layers; ++k)
    sum += state.theta_new[static_cast<std::size_t>(k)] * column.dz[static_cast<std::size_t>(k)];
  return sum;
}

struct BalanceCase {
  const char *name;
  std::array<double, 4> theta;     // layers 1..3 (element 0 unused)
  std::array<double, 4> flux;      // boundaries 0..3, m/s
  std::array<double, 4> interflow; // layers 1..3, m/s
  bool absorbable;                 // every layer ends within [theta_r, theta_s]
};

class BalanceLayersTest : public testing::TestWithParam<BalanceCase> {};

TEST_P(BalanceLayersTest, ConservesWaterAndKeepsBounds) {
  const BalanceCase &c = GetParam();
  const UniformColumn column(3, 0.1, 0.4, 0.05, 1e-5, 0.2);
  ColumnState state = column.State();
  state.groundwater_layer = 3;
  for (int k = 0; k <= 3; ++k) {
    const auto i = static_cast<std::size_t>(k);
    state.theta[i] = c.theta[i];
    state.flux[i] = c.flux[i];
    state.interflow_out[i] = c.interflow[i];
  }
  state.theta_old = state.theta;
  BalanceLayers(column.geometry, state, 1, kDt, BalanceOptions{});
  const double before = c.theta[1] * 0.1 + c.theta[2] * 0.1 + c.theta[3] * 0.1;
  const double boundary = (state.flux[3] - state.flux[0] - state.interflow_out[1] -
                           state.interflow_out[2] - state.interflow_out[3]) *
                          kDt;
  EXPECT_NEAR(ColumnWater(column, state) - before, boundary, 1e-12);
  for (int k = 1; k <= 3; ++k) {
    EXPECT_GE(state.interflow_out[static_cast<std::size_t>(k)], 0.0);
    if (c.absorbable) {
      EXPECT_LE(state.theta_new[static_cast<std::size_t>(k)], 0.4 + 1e-12) << k;
      EXPECT_GE(state.theta_new[static_cast<std::size_t>(k)], 0.05 - 1e-12) << k;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BalanceLayersTest,
    testing::Values(
        // Infiltration beyond the room of a nearly saturated top layer.
        BalanceCase{"infiltration_into_wet_top", {0, 0.39, 0.3, 0.3}, {-1e-5, 0, 0, 0}, {}, true},
        // Downward flux that overfills the middle layer: pushed back up.
        BalanceCase{"overfilled_middle", {0, 0.3, 0.39, 0.3}, {-2e-6, -1e-5, 0, 0}, {}, true},
        // Upward flux out of a nearly saturated bottom into a full layer.
        BalanceCase{"rise_into_full_layer", {0, 0.3, 0.399, 0.2}, {0, 0, 1e-6, 0}, {}, true},
        // Drainage out of a dry layer: the flux is cut.
        BalanceCase{"drying_middle", {0, 0.2, 0.06, 0.2}, {0, 0, -5e-6, 0}, {}, true},
        // Interflow larger than the layer holds: the interflow gives way.
        BalanceCase{
            "interflow_beyond_storage", {0, 0.06, 0.2, 0.2}, {0, 0, 0, 0}, {0, 5e-6, 0, 0}, true},
        // Evaporation upward out of a dry top layer fed from below.
        BalanceCase{"upward_out_of_dry_top", {0, 0.06, 0.2, 0.3}, {5e-6, 1e-6, 0, 0}, {}, true}),
    [](const testing::TestParamInfo<BalanceCase> &info) { return std::string(info.param.name); });

TEST(UpdateIterate, RelaxesTheIterateAndReportsTheLargestChange) {
  const UniformColumn column(2, 0.1, 0.4, 0.05, 1e-5, 0.2);
  ColumnState state = column.State();
  state.theta = {0, 0.2, 0.3};
  state.ResetStep(2);
  state.groundwater_layer = 2;
  state.flux[0] = -1e-6; // 3.6 mm in over the hour: +0.036 in layer 1
  const double change = UpdateIterate(column.geometry, state, 1, 1, kDt);
  EXPECT_NEAR(state.theta[1], 0.236, 1e-12);
  EXPECT_NEAR(state.theta_iter[1], 0.218, 1e-12);
  EXPECT_NEAR(change, 0.036, 1e-12);
  // From the fourth iteration on a running mean: c = 2 gives (2 · 0.218 + 0.236) / 3.
  UpdateIterate(column.geometry, state, 5, 1, kDt);
  EXPECT_NEAR(state.theta_iter[1], (2 * 0.218 + 0.236) / 3, 1e-12);
}

TEST(LimitFluxByBisection, HalvesAFluxThatWouldReverseTheHeads) {
  const GardnerSoil soil(2.0, 0.4, 0.05);
  const UniformColumn column(2, 0.05, 0.4, 0.05, 1e-5, 0.2);
  ColumnState state = column.State();
  state.theta = {0, 0.15, 0.35};
  state.ResetStep(2);
  state.groundwater_layer = 2;
  // Heads: the wet lower layer stands higher, so water rises into layer 1.
  for (int k = 1; k <= 2; ++k)
    state.head[static_cast<std::size_t>(k)] =
        LayerCentre(state, k) - soil.Suction(k, state.theta[static_cast<std::size_t>(k)]);
  ASSERT_LT(state.head[1], state.head[2]);
  state.flux[1] = 2e-6; // 7.2 mm in the hour turn the heads around
  state.interflow_out[1] = 2e-7;
  const double limited = LimitFluxByBisection(soil, column.geometry, state, 1, kDt);
  ASSERT_GT(limited, 0.0);
  ASSERT_LT(limited, 2e-6);
  // The interflow is scaled by the same factor.
  EXPECT_NEAR(state.interflow_out[1] / 2e-7, limited / 2e-6, 1e-12);
  // After the step the heads agree to the millimetre.
  const double wu = 0.15 + (limited - state.interflow_out[1]) * kDt / 0.05;
  const double wl = 0.35 - limited * kDt / 0.05;
  const double hu = LayerCentre(state, 1) - soil.Suction(1, wu);
  const double hl = LayerCentre(state, 2) - soil.Suction(2, wl);
  EXPECT_LE(hl - hu, 0.001 + 1e-9);
  // A flux that keeps the order is left alone.
  state.interflow_out[1] = 0.0;
  state.flux[1] = 1e-9;
  EXPECT_EQ(LimitFluxByBisection(soil, column.geometry, state, 1, kDt), 1e-9);
}

TEST(RootDistribution, WeightsSumToOneWithHandValues) {
  const UniformColumn column(4, 0.1, 0.4, 0.05, 1e-5, 0.2);
  struct Case {
    double rootDist;
    std::array<double, 3> expected;
  };
  for (const Case &c :
       {Case{0.0, {5.0 / 9, 3.0 / 9, 1.0 / 9}}, Case{2.0, {40.0 / 92, 36.0 / 92, 16.0 / 92}}}) {
    ColumnState state = column.State();
    double depth = 0.3;
    const int m = RootDistribution(column.geometry, state, depth, c.rootDist);
    EXPECT_EQ(m, 4); // the root tips reach 1e-5 m into layer 4
    double sum = 0.0;
    for (int k = 1; k <= m; ++k)
      sum += state.root_distribution[static_cast<std::size_t>(k)];
    EXPECT_NEAR(sum, 1.0, 1e-12);
    for (int k = 1; k <= 3; ++k)
      EXPECT_NEAR(state.root_distribution[static_cast<std::size_t>(k)], c.expected[k - 1], 1e-9)
          << c.rootDist << " layer " << k;
  }
  // A root depth above the first layer's bottom counts as that layer.
  ColumnState state = column.State();
  double shallow = 0.02;
  EXPECT_EQ(RootDistribution(column.geometry, state, shallow, 0.0), 2);
  EXPECT_EQ(shallow, 0.1);
}

TEST(WaterStressFactor, DryAndWetLimits) {
  // dry limit 0.15, residual 0.05, saturation 0.4, wet stress from 0.9 · 0.4.
  EXPECT_EQ(WaterStressFactor(0.2, 0.15, 0.05, 0.4, 0.9, 0.0), 1.0);
  EXPECT_NEAR(WaterStressFactor(0.10, 0.15, 0.05, 0.4, 0.9, 0.0), 0.5, 1e-12);
  EXPECT_EQ(WaterStressFactor(0.04, 0.15, 0.05, 0.4, 0.9, 0.0), 0.0);
  EXPECT_NEAR(WaterStressFactor(0.38, 0.15, 0.05, 0.4, 0.9, 0.0), 0.5, 1e-12);
  EXPECT_NEAR(WaterStressFactor(0.40, 0.15, 0.05, 0.4, 0.9, 0.2), 0.2, 1e-12);
}

struct MacroporeCase {
  const char *name;
  double inputMmPerHour;
  std::array<double, 4> theta; // layers 1..3
  double expectedMm;           // macropore infiltration of the hour
};

class MacroporeTest : public testing::TestWithParam<MacroporeCase> {};

TEST_P(MacroporeTest, FillsFromBelowAndNeverBeyondTheRoom) {
  const MacroporeCase &c = GetParam();
  UniformColumn column(3, 0.1, 0.4, 0.05, 1e-5, 0.2);
  column.geometry.PMacroThresh = 5.0 / 3.6e6;  // 5 mm/h
  column.geometry.MacroCapacity = 4.0 / 3.6e6; // 4 mm/h per layer
  column.geometry.CapacityRedu = 1.0;
  column.geometry.MacroDepth = 0.22; // the centres of layers 1 and 2 lie above it
  ColumnState state = column.State();
  for (int k = 1; k <= 3; ++k)
    state.theta[static_cast<std::size_t>(k)] = c.theta[static_cast<std::size_t>(k)];
  double q = c.inputMmPerHour / 3.6e6;
  const double q0 = q;
  const double t_ms = 3.6e6;
  const double mm = MacroporeInfiltration(column.geometry, state, q, t_ms);
  EXPECT_NEAR(mm, c.expectedMm, 1e-9);
  EXPECT_NEAR((q0 - q) * t_ms, mm, 1e-9);
  double gained = 0.0;
  for (int k = 1; k <= 3; ++k) {
    const auto i = static_cast<std::size_t>(k);
    EXPECT_LE(state.theta[i], 0.4 + 1e-15);
    gained += (state.theta[i] - c.theta[i]) * 100.0; // mm
  }
  EXPECT_NEAR(gained, mm, 1e-9);
  EXPECT_EQ(state.theta[3], c.theta[3]); // below the macropore depth
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MacroporeTest,
    testing::Values(MacroporeCase{"below_threshold", 5.0, {0, 0.2, 0.2, 0.2}, 0.0},
                    // 3 mm/h above the threshold all go into layer 2.
                    MacroporeCase{"into_the_deepest_layer", 8.0, {0, 0.2, 0.2, 0.2}, 3.0},
                    // 10 mm/h above: bounded by MacroCapacity (4 mm/h), all into layer 2.
                    MacroporeCase{"bounded_by_capacity", 15.0, {0, 0.2, 0.2, 0.2}, 4.0},
                    // Layer 2 has room for 1 mm only, the rest goes into layer 1.
                    MacroporeCase{"room_below_full", 8.0, {0, 0.2, 0.39, 0.2}, 3.0},
                    // No room anywhere.
                    MacroporeCase{"saturated", 15.0, {0, 0.4, 0.4, 0.2}, 0.0}),
    [](const testing::TestParamInfo<MacroporeCase> &info) { return std::string(info.param.name); });

TEST(IntegrateOverDepth, WorkedExampleAndLimits) {
  const std::array<double, 4> dz{0, 0.1, 0.1, 0.1};
  const std::array<double, 4> ts{0, 0.4, 0.4, 0.4};
  const std::array<double, 4> theta{0, 0.2, 0.3, 0.4};
  EXPECT_NEAR(IntegrateOverDepth(dz, ts, 3, theta, 1, 0.0, 0.3, -9999.0), 0.09 - 4e-9, 1e-15);
  EXPECT_NEAR(IntegrateOverDepth(dz, ts, 3, theta, 1, 0.0, 9999.0, -9999.0), 0.09 - 4e-9, 1e-15);
  EXPECT_NEAR(IntegrateOverDepth(dz, ts, 3, theta, 1, 0.0, 0.15, -9999.0), 0.02 + 0.015, 1e-15);
  // Mean saturation over the top two layers: (0.5 + 0.75) / 2.
  EXPECT_NEAR(IntegrateOverDepth(dz, ts, 3, theta, 0, 0.0, 0.2, -9999.0), 0.625, 1e-12);
  EXPECT_EQ(IntegrateOverDepth(dz, ts, 3, theta, 1, 0.0, 0.0, -9999.0), -9999.0);
  EXPECT_EQ(IntegrateOverDepth(dz, ts, 3, theta, 1, 0.1, 0.1, -9999.0), 1.0);
}

TEST(ClayLayer, LayerHoldingTheDepth) {
  const std::array<double, 4> dz{0, 0.1, 0.2, 0.3};
  EXPECT_EQ(ClayLayer(dz, 3, 0.0), 0);
  EXPECT_EQ(ClayLayer(dz, 3, 0.05), 1);
  EXPECT_EQ(ClayLayer(dz, 3, 0.25), 2);
  EXPECT_EQ(ClayLayer(dz, 3, 5.0), 3);
}

TEST(PermafrostKsat, FrozenBelowTheThawDepth) {
  const UniformColumn column(3, 0.1, 0.4, 0.05, 1e-5, 0.2);
  std::array<double, 4> ksat{};
  // A thaw depth of -0.15 m: layer 1 (bottom 0.1) thawed, 2 and 3 frozen.
  EXPECT_FALSE(PermafrostKsat(column.geometry, -0.15, -9999.0, 1e-9, ksat));
  EXPECT_EQ(ksat[1], 1e-5);
  EXPECT_EQ(ksat[2], 1e-9);
  EXPECT_EQ(ksat[3], 1e-9);
  // Inside layer 1 every layer is frozen and the input is bounded, still downward.
  EXPECT_TRUE(PermafrostKsat(column.geometry, -0.05, -9999.0, 1e-9, ksat));
  EXPECT_EQ(FrozenInputRate(1e-6, 1e-9), 1e-9);
  EXPECT_EQ(FrozenInputRate(1e-10, 1e-9), 1e-10);
  // No thaw depth: the soil's own conductivities.
  EXPECT_FALSE(PermafrostKsat(column.geometry, -9999.0, -9999.0, 1e-9, ksat));
  EXPECT_EQ(ksat[3], 1e-5);
}

TEST(ComputeGroundwaterRecharge, TableRisingWithinItsLayer) {
  const UniformColumn column(3, 0.1, 0.4, 0.05, 1e-5, 0.2);
  ColumnState state = column.State();
  state.theta = {0, 0.2, 0.3, 0.4};
  state.ResetStep(3);
  // Layer 2 (between -0.1 and -0.2) gains 2 mm: with its unsaturated part at
  // 0.3 the table rises by 0.002 / (0.4 - 0.3) = 0.02 m.
  state.theta[2] = 0.32;
  RechargeInputs in;
  in.oldLayer = in.newLayer = 2;
  in.oldTable = -0.15;
  in.newTable = -0.13;
  in.dt = kDt;
  in.t_ms = 3.6e6;
  // T > T0: (T - T0) · (ts - (dz · theta_old - (T0 - zb) · ts) / (zt - T0)) · 1000
  // = 0.02 · (0.4 - (0.03 - 0.05 · 0.4) / 0.05) · 1000 = 0.02 · 0.2 · 1000.
  EXPECT_NEAR(ComputeGroundwaterRecharge(column.geometry, state, in), 4.0, 1e-9);
  // A baseflow of 1e-7 m/s adds 0.36 mm.
  in.baseflowRate = 1e-7;
  EXPECT_NEAR(ComputeGroundwaterRecharge(column.geometry, state, in), 4.36, 1e-9);
  // With an external table only the flux into the groundwater layer counts.
  in.externalTable = true;
  state.flux[1] = -1e-7;
  EXPECT_NEAR(ComputeGroundwaterRecharge(column.geometry, state, in), 0.36, 1e-9);
}

} // namespace
} // namespace tavro
