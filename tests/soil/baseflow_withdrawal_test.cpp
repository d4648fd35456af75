// The baseflow withdrawal of one column: its own baseflow takes what the
// layers from the lowest unsaturated one down hold above field capacity; a
// withdrawal that the groundwater module has already booked is taken whole,
// from the layers above when the deeper ones were drained, and below field
// capacity only when nothing else is left.
#include "soil/gardner_soil.h"
#include "soil/water_stages.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

namespace tavro {
namespace {

constexpr double kDt = 1000.0;     // s
constexpr double kThickness = 0.1; // m
// theta_s 0.4, theta_r 0.05, field capacity 0.25: a layer holds 15 mm above
// field capacity and 20 mm between field capacity and the residual content.

struct WithdrawalCase {
  std::string name;
  std::vector<double> theta; // layers 1..5
  double asked;              // mm over the step
  BaseflowDelivery delivery;
  std::vector<double> expected; // layers 1..5 after
  double delivered;             // mm
  int groundwaterLayer;
};

class BaseflowWithdrawalTest : public testing::TestWithParam<WithdrawalCase> {};

TEST_P(BaseflowWithdrawalTest, TakesTheWaterFromTheLayersInTurn) {
  const WithdrawalCase &k = GetParam();
  const test::UniformColumn column(5, kThickness, 0.4, 0.05, 1e-5, 0.25);
  ColumnState state = column.State();
  for (std::size_t i = 1; i <= 5; ++i)
    state.theta[i] = k.theta[i - 1];
  const double rate = k.asked / 1000.0 / kDt;
  const double delivered = ApplyBaseflow(column.geometry, state, rate, kDt, k.delivery);
  EXPECT_NEAR(delivered * kDt * 1000.0, k.delivered, 1e-12);
  double water = 0.0;
  double withdrawn = 0.0;
  for (std::size_t i = 1; i <= 5; ++i) {
    EXPECT_NEAR(state.theta[i], k.expected[i - 1], 1e-12) << "layer " << i;
    water += (k.theta[i - 1] - state.theta[i]) * kThickness * 1000.0;
    withdrawn += state.withdrawal[i] * kDt * 1000.0;
  }
  // The layers lost what the column delivered, each as its withdrawal.
  EXPECT_NEAR(water, k.delivered, 1e-12);
  EXPECT_NEAR(withdrawn, k.delivered, 1e-12);
  EXPECT_EQ(state.groundwater_layer, k.groundwaterLayer);
}

INSTANTIATE_TEST_SUITE_P(Cases, BaseflowWithdrawalTest,
                         testing::Values(
                             // Layers 3 to 5 saturated: layer 2 and then 3 give, in both ways.
                             WithdrawalCase{"below_the_table_own_baseflow",
                                            {0.3, 0.3, 0.4, 0.4, 0.4},
                                            10.0,
                                            BaseflowDelivery::Drainable,
                                            {0.3, 0.25, 0.35, 0.4, 0.4},
                                            10.0,
                                            3},
                             WithdrawalCase{"below_the_table_booked",
                                            {0.3, 0.3, 0.4, 0.4, 0.4},
                                            10.0,
                                            BaseflowDelivery::Whole,
                                            {0.3, 0.25, 0.35, 0.4, 0.4},
                                            10.0,
                                            3},
                             // The deeper layers drained (layer 5 below field capacity): the
                             // column's own baseflow finds nothing, a booked one is taken from the
                             // layers above, the lowest first.
                             WithdrawalCase{"drained_own_baseflow",
                                            {0.35, 0.33, 0.3, 0.25, 0.2},
                                            12.0,
                                            BaseflowDelivery::Drainable,
                                            {0.35, 0.33, 0.3, 0.25, 0.2},
                                            0.0,
                                            5},
                             WithdrawalCase{"drained_booked",
                                            {0.35, 0.33, 0.3, 0.25, 0.2},
                                            12.0,
                                            BaseflowDelivery::Whole,
                                            {0.35, 0.26, 0.25, 0.25, 0.2},
                                            12.0,
                                            5},
                             // Nothing above field capacity: below it, from the bottom up.
                             WithdrawalCase{"at_field_capacity_booked",
                                            {0.25, 0.25, 0.25, 0.25, 0.2},
                                            25.0,
                                            BaseflowDelivery::Whole,
                                            {0.25, 0.25, 0.25, 0.15, 0.05},
                                            25.0,
                                            5},
                             // A column can give no more than it holds above its residual content.
                             WithdrawalCase{"nearly_dry_booked",
                                            {0.06, 0.06, 0.06, 0.06, 0.06},
                                            8.0,
                                            BaseflowDelivery::Whole,
                                            {0.05, 0.05, 0.05, 0.05, 0.05},
                                            5.0,
                                            5}),
                         [](const testing::TestParamInfo<WithdrawalCase> &info) {
                           return info.param.name;
                         });

} // namespace
} // namespace tavro
