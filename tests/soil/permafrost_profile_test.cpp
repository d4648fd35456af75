// The pre-spin-up profile kernels: degree days of daily means, the TTOP
// layer, TTOP of Smith and Riseborough (2002) by hand, and the profile
// around TTOP or the annual mean.
#include "soil/column/permafrost_profile.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavro {
namespace {

TEST(PermafrostProfile, HourlyStepsMakeOneDailyMean) {
  DegreeDays days;
  double sum = 0.0;
  for (int hour = 0; hour < 24; ++hour) {
    const double t = -6.0 + 0.25 * hour;
    days.daySum += t;
    sum += t;
  }
  CloseDay(days, 24);
  EXPECT_NEAR(days.freezing, -sum / 24.0, 1e-12);
  EXPECT_EQ(days.thawing, 0.0);
  EXPECT_EQ(days.daySum, 0.0);
  days.daySum = 24 * 2.5;
  CloseDay(days, 24);
  EXPECT_NEAR(days.thawing, 2.5, 1e-12);
}

TEST(PermafrostProfile, TtopAndConductivityLayers) {
  const std::vector<double> quarter(9, 0.25);
  const TtopLayers a = FindTtopLayers(quarter, 8);
  EXPECT_EQ(a.ttop, 4);
  EXPECT_EQ(a.conductivity, 1);
  const std::vector<double> thin(21, 0.1);
  const TtopLayers b = FindTtopLayers(thin, 20);
  EXPECT_EQ(b.ttop, 10);
  EXPECT_EQ(b.conductivity, 3);
  const std::vector<double> shallow{0, 0.2, 0.3};
  EXPECT_EQ(FindTtopLayers(shallow, 2).ttop, 2);
}

TEST(PermafrostProfile, TtopOfSmithAndRiseboroughByHand) {
  // theta_s 0.4, theta 0.3, dry 2.0 W/(m K): e = 0.9,
  // thawed 2^(0.6/0.9) * 0.9 * 0.5562^(0.3/0.9) + 0.0262 * 0.1 = 1.17753424,
  // frozen 2^(0.6/0.9) * 0.9 * 2.33^(0.3/0.9) + 0.00262 = 1.89662511.
  const ThawedFrozenConductivity l = PermafrostConductivity(0.4, 0.3, 2.0, 0.5562, 2.33);
  EXPECT_NEAR(l.thawed, 1.1775342415, 1e-9);
  EXPECT_NEAR(l.frozen, 1.8966251122, 1e-9);
  // Two years, TDD 1200, FDD 2500, n 0.9 thawing and 0.8 freezing:
  // (1.17753 * 0.9 * 1200 - 0.8 * 1.89663 * 2500) / (1.89663 * 2 * 365).
  EXPECT_NEAR(TemperatureTopOfPermafrost(l, 0.9, 0.8, 1200, 2500, 2.0), -1.8211968769, 1e-9);
  // No freezing: TTOP is positive and the profile starts at the annual mean.
  const double warm = TemperatureTopOfPermafrost(l, 0.9, 0.8, 1200, 0, 2.0);
  EXPECT_NEAR(warm, 1.1775342415 * 0.9 * 1200 / (1.8966251122 * 730), 1e-9);
  EXPECT_GE(warm, 0.0);
}

// Four layers of 0.25 m over one of 0.5 m; theta = theta_s = 0 makes every
// conductivity the dry one, 1.5 W/(m K).
struct Column {
  std::vector<double> dz{0, 0.25, 0.25, 0.25, 0.25, 0.5};
  std::vector<double> z{10, 9.75, 9.5, 9.25, 9.0, 8.5};
  std::vector<double> zero = std::vector<double>(6, 0.0);
  std::vector<double> dry = std::vector<double>(6, 1.5);
  PermafrostColumn View() const { return {dz, z, zero, zero, dry, 5, 0.5562, 2.33}; }
};

TEST(PermafrostProfile, ProfileAroundTtopFollowsTheGeothermalFlux) {
  const Column c;
  std::vector<double> T(6, 99.0);
  const TtopLayers at = FindTtopLayers(c.dz, 5);
  PermafrostProfile(T, c.View(), at, -2.0, 1.0);
  EXPECT_EQ(T[4], -2.0);
  EXPECT_NEAR(T[5], -1.98, 1e-12); // -2 + 0.06 * 0.5 / 1.5
  // Layer 1's centre lies 0.125 m below the surface, TTOP at 1 m:
  // 1 + (-2 - 1) * 0.125 = 0.625.
  EXPECT_NEAR(T[1], 0.625, 1e-12);
  EXPECT_NEAR(T[3], 1.0 - 3.0 * 0.625, 1e-12);
}

TEST(PermafrostProfile, WithoutPermafrostTheProfileStartsAtTheAnnualMean) {
  const Column c;
  std::vector<double> T(6, 99.0);
  PermafrostProfile(T, c.View(), FindTtopLayers(c.dz, 5), 0.5, 3.0);
  EXPECT_EQ(T[1], 3.0);
  EXPECT_NEAR(T[4], 3.0 + 3 * 0.06 * 0.25 / 1.5, 1e-12);
  EXPECT_NEAR(T[5], T[4] + 0.06 * 0.5 / 1.5, 1e-12);
}

} // namespace
} // namespace tavro
