// The snow store that evaporates at the potential rates of its cell: the
// cases worked by hand, and over random stores and rates the store's loss
// equals what evaporated and what the rates gave up.
#include "landsurface/snow_evaporation/snow_evaporation.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace tavro {
namespace {

using snow_evaporation::SnowStore;

struct Case {
  double snow;
  std::vector<double> rates; // layers, then the soil surface
  double evaporated;
  std::vector<double> ratesLeft;
  double snowLeft;
};

TEST(SnowEvaporation, TakesTheRatesInTurnUntilTheStoreIsEmpty) {
  const std::vector<Case> cases = {
      // 2 mm under a layer rate of 1.5 and a soil rate of 1.
      {2.0, {1.5, 1.0}, 2.0, {0.0, 0.5}, 0.0},
      // 0.5 mm: the layer rate keeps 1.0, the soil rate stays.
      {0.5, {1.5, 1.0}, 0.5, {1.0, 1.0}, 0.0},
      // Enough snow for every rate.
      {5.0, {1.5, 0.25, 1.0}, 2.75, {0.0, 0.0, 0.0}, 2.25},
      // A glacier's 3 mm under 1.5 and 1.
      {3.0, {1.5, 1.0}, 2.5, {0.0, 0.0}, 0.5},
      // An empty store takes nothing.
      {0.0, {1.5, 1.0}, 0.0, {1.5, 1.0}, 0.0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.snow);
    SnowStore store(c.snow);
    std::vector<double> left;
    for (const double rate : c.rates)
      left.push_back(store.Take(rate));
    EXPECT_DOUBLE_EQ(store.Evaporated(), c.evaporated);
    EXPECT_DOUBLE_EQ(store.Storage(), c.snowLeft);
    for (std::size_t i = 0; i < left.size(); ++i)
      EXPECT_DOUBLE_EQ(left[i], c.ratesLeft[i]);
  }
}

TEST(SnowEvaporation, EnergyBalanceMethodsEvaporateTheirSnowThemselves) {
  for (int method = 0; method <= 12; ++method)
    EXPECT_EQ(snow_evaporation::MethodEvaporatesItself(method),
              method == 5 || method == 6 || method == 7 || method == 11)
        << method;
}

TEST(SnowEvaporation, StoreLossEqualsEvaporationEqualsRatesTaken) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> amount(0.0, 4.0);
  std::uniform_int_distribution<int> count(1, 4);
  for (int i = 0; i < 2000; ++i) {
    const double snow = amount(random);
    SnowStore store(snow);
    double taken = 0.0;
    for (int k = count(random); k >= 0; --k) {
      const double rate = amount(random) / 2.0;
      taken += rate - store.Take(rate);
    }
    EXPECT_NEAR(snow - store.Storage(), store.Evaporated(), 1e-12);
    EXPECT_NEAR(taken, store.Evaporated(), 1e-12);
    EXPECT_NEAR(store.Balance().Residual(), 0.0, 1e-12);
    EXPECT_GE(store.Storage(), 0.0);
  }
}

} // namespace
} // namespace tavro
