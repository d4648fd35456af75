// Hamon, Wendling and Haude: the published forms (Hamon as given by Lu et al.
// 2005, A comparison of six potential evapotranspiration methods for regional
// use in the southeastern United States), the monthly factors of the date,
// the limits, and steps longer than a day.
#include "landsurface/evapotranspiration/single_layer_pet.h"

#include "landsurface/evapotranspiration/penman_monteith.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tavro::evapotranspiration {
namespace {

TEST(SingleLayerPet, Hamon) {
  // 0 °C, PEC 1 and twelve hours of daylight: 0.1651 x 216.7 x 6.1078 / 273.3.
  EXPECT_NEAR(Hamon(0.0, 1.0, 0.5), 0.79956, 1e-4);
  EXPECT_NEAR(Hamon(0.0, 1.0, 0.5), 0.1651 * 216.7 * 6.1078 / 273.3, 1e-12);
  // Saturated vapour density at 20 °C over a 14-hour day.
  const double rho = 216.7 * SaturationVapourPressure(20.0) / 293.3;
  EXPECT_NEAR(Hamon(20.0, 1.2, 14.0 / 24.0), 0.1651 * 1.2 * (14.0 / 12.0) * rho, 1e-12);
  EXPECT_EQ(Hamon(-300.0, 1.0, 0.5), 0.0); // never negative
}

TEST(SingleLayerPet, HamonFactorOfTheDate) {
  std::array<double, 14> pec{};
  for (int m = 1; m <= 12; ++m)
    pec[static_cast<std::size_t>(m)] = 0.5 + 0.1 * m;
  pec[0] = pec[12];
  pec[13] = pec[1];
  // 10 January between December at day -15 and January at day 15.
  EXPECT_DOUBLE_EQ(HamonFactorOfDate(pec, 10, 1, 31), 25.0 / 30.0 * pec[1] + 5.0 / 30.0 * pec[12]);
  // 31 January between January at day 16 and February at day 31 + 16.
  EXPECT_DOUBLE_EQ(HamonFactorOfDate(pec, 31, 1, 31), 15.0 / 31.0 * pec[2] + 16.0 / 31.0 * pec[1]);
  EXPECT_DOUBLE_EQ(HamonFactorOfDate(pec, 15, 6, 30), pec[6]);
}

TEST(SingleLayerPet, Wendling) {
  // 2000 Wh/m2, albedo 0.2, coast factor 1, 15 °C: 741 x 37 / 20700.
  EXPECT_NEAR(Wendling(2000.0, 0.2, 1.0, 15.0), 1.32449, 1e-5);
  // Polar night: the constant term alone, which vanishes at -22 °C.
  EXPECT_NEAR(Wendling(0.0, 0.2, 0.8, 0.0), 93.0 * 0.8 * 22.0 / (150.0 * 123.0), 1e-12);
  EXPECT_EQ(Wendling(0.0, 0.2, 1.0, -22.0), 0.0);
}

TEST(SingleLayerPet, Haude) {
  // 20 °C, relative humidity 0.5, fh 0.3: Es = 23.32 hPa.
  EXPECT_NEAR(HaudeSaturationVapourPressure(20.0), 23.32, 0.005);
  EXPECT_NEAR(Haude(20.0, HaudeDeficitFromHumidity(0.5), 0.3), 3.4977, 1e-4);
  // Over ice below 0 °C.
  EXPECT_NEAR(HaudeSaturationVapourPressure(-10.0), 6.11 * std::exp(-224.6 / 262.46), 1e-12);
  struct Case {
    double deficit, expected;
  };
  const Case deficits[] = {
      {HaudeDeficitFromHumidity(0.0), 7.0},               // capped at 7 mm
      {HaudeDeficitFromHumidity(1.2), 0.0},               // above saturation
      {HaudeDeficitFromVapourPressure(30.0, 23.32), 0.0}, // above saturation
      {HaudeDeficitFromVapourPressure(-1.0, 23.32), 7.0}, // missing: full deficit
      {HaudeDeficitFromVapourPressure(20.0, 23.32),
       HaudeSaturationVapourPressure(20.0) * (1.0 - 20.0 / 23.32)},
  };
  for (const Case &c : deficits)
    EXPECT_NEAR(Haude(20.0, c.deficit, 1.0), c.expected, 1e-3) << c.deficit;
}

TEST(SingleLayerPet, AStepOfSeveralDaysGetsEveryDay) {
  EXPECT_EQ(DaysOfStep(1440.0), 1.0);
  EXPECT_EQ(DaysOfStep(720.0), 1.0);
  EXPECT_DOUBLE_EQ(HamonOfStep(12.0, 1.1, 0.55, 2880.0), 2.0 * Hamon(12.0, 1.1, 0.55));
  EXPECT_DOUBLE_EQ(HaudeOfStep(12.0, 0.4, 0.3, 2880.0), 2.0 * Haude(12.0, 0.4, 0.3));
  // Wendling takes the radiation of the two days as two days of the mean radiation.
  EXPECT_DOUBLE_EQ(WendlingOfStep(4000.0, 0.2, 1.0, 15.0, 2880.0),
                   2.0 * Wendling(2000.0, 0.2, 1.0, 15.0));
  EXPECT_DOUBLE_EQ(WendlingOfStep(2000.0, 0.2, 1.0, 15.0, 1440.0),
                   Wendling(2000.0, 0.2, 1.0, 15.0));
  // A week of Haude at its cap: seven days of 7 mm.
  EXPECT_DOUBLE_EQ(HaudeOfStep(30.0, 1.0, 1.0, 7.0 * 1440.0), 49.0);
}

} // namespace
} // namespace tavro::evapotranspiration
