// Penman-Monteith of a vegetation layer against FAO-56 (Allen et al. 1998,
// Crop evapotranspiration, FAO Irrigation and Drainage Paper 56): Example 18
// (Brussels, 6 July) and the tables of Annex 2; and the layer rules of the
// model (resistances, energy passed down, open water, day-night shift).
#include "landsurface/evapotranspiration/penman_monteith.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tavro::evapotranspiration {
namespace {

// A closed canopy that takes all the energy: exp(-0.3 LAI) vanishes, and by
// day the canopy resistance is rsc itself.
LayerVegetation ClosedCanopy(double canopyResistance) {
  LayerVegetation v;
  v.leafAreaIndex = 1000.0;
  v.vegetationCover = 1.0;
  v.canopyResistance = canopyResistance;
  v.interceptionResistance = 0.0;
  return v;
}

TEST(PenmanMonteith, FaoExample18Brussels) {
  // Rn = 13.28 MJ/m2/day = 3688.9 Wh/m2, T = 16.9 °C, es - ea = 0.589 kPa,
  // p = 100.1 kPa, ra = 208 / u2 = 100.1 s/m, rs = 70 s/m; ET0 = 3.9 mm/day.
  LayerWeather air;
  air.temperature = 16.9;
  air.pressure = 1001.0;
  air.vapourPressure = SaturationVapourPressure(16.9) - 5.89;
  air.wind = 0.0;
  LayerVegetation grass = ClosedCanopy(70.0);
  grass.roughnessLength = 0.2; // 4.72 ln(100)^2 = 100.1 s/m without wind
  EXPECT_NEAR(AerodynamicResistance(0.2, 0.0), 100.1, 0.01);

  LayerStep step;
  step.part = StepPart::Day;
  step.fraction = 1.0;
  step.timeStep = 1440.0;
  step.availableEnergy = AvailableEnergyFromNetRadiation(3688.9, 16.9);
  LayerCarry carry;
  const LayerRates rates = PenmanMonteithLayer(step, air, grass, carry);
  EXPECT_NEAR(rates.transpiration, 3.8867, 1e-4);
  EXPECT_NEAR(rates.transpiration, 3.9, 0.039);
  EXPECT_NEAR(carry.remainingEnergy[1], 0.0, 1e-12); // nothing left for the soil
}

TEST(PenmanMonteith, HelpersAgainstFaoAnnex2) {
  struct Case {
    const char *what;
    double value, reference, relative;
  };
  const Case cases[] = {
      {"es(20 °C), kPa", SaturationVapourPressure(20.0) / 10.0, 2.338, 1e-3},
      {"slope(20 °C), kPa/K", SaturationSlope(20.0) / 10.0, 0.1447, 1e-3},
      {"gamma(101.3 kPa), kPa/K", PsychrometricConstant(1013.0, 20.0) / 10.0, 0.0674, 0.015},
      // At 20 °C, the temperature FAO-56 eq. 7 assumes (Example 2: 1800 m gives 81.8 kPa).
      {"p(1800 m), kPa", BarometricPressure(1800.0, 20.0) / 10.0, 81.8, 0.005},
  };
  for (const Case &c : cases)
    EXPECT_NEAR(c.value, c.reference, c.relative * c.reference) << c.what;
}

TEST(PenmanMonteith, NetRadiationCountsOnceInTheDayPartWhenItRuns) {
  EXPECT_EQ(NetRadiationPart(1.0), StepPart::Day);
  EXPECT_EQ(NetRadiationPart(0.01), StepPart::Day);
  EXPECT_EQ(NetRadiationPart(0.005), StepPart::Night); // polar night: the night part carries it
  EXPECT_NEAR(AvailableEnergyFromNetRadiation(3688.9, 16.9), 3688.9 / 683.53459, 1e-12);
}

TEST(PenmanMonteith, Resistances) {
  EXPECT_NEAR(AerodynamicResistance(0.5, 0.0), 64.23, 0.005);
  EXPECT_DOUBLE_EQ(AerodynamicResistance(3.0, 0.0), 25.0);
  EXPECT_DOUBLE_EQ(AerodynamicResistance(3.0, 2.0), 25.0 / 2.08);
  struct Case {
    StepPart part;
    bool openWater;
    double lai, vcf, rsc, rs;
  };
  const Case cases[] = {
      {StepPart::Day, false, 2.0, 0.5, 100.0, 100.0 / (1.0 - std::pow(0.6, 1.0))},
      {StepPart::Night, false, 2.0, 0.5, 100.0, 1.0 / (1.0 * 4e-4)},
      {StepPart::Night, true, 2.0, 0.5, 100.0, 100.0 / (1.0 - std::pow(0.6, 1.0))},
      {StepPart::Day, false, 0.0, 0.5, 100.0, 2500.0},
      {StepPart::Night, false, 2.0, 0.0, 100.0, 2500.0},
      {StepPart::Day, false, 0.0, 0.0, 0.0, 0.0},
      {StepPart::Day, false, 2.0, 0.5, 0.0, 0.0},
  };
  for (const Case &c : cases)
    EXPECT_DOUBLE_EQ(SurfaceResistance(c.part, c.openWater, c.lai, c.vcf, c.rsc), c.rs)
        << c.lai << " " << c.vcf << " " << c.rsc;
}

// The air of Air(): Delta / gamma, and the aerodynamic term of a whole day
// at aerodynamic resistance ra (30 % deficit at 12 °C), mm.
const double kDeltaOverGamma = SaturationSlope(12.0) / PsychrometricConstant(960.0, 12.0);
double DryingPower(double ra) {
  return 1440.0 * 60.0 * 0.216876 * 0.3 * SaturationVapourPressure(12.0) / 285.15 / ra;
}

LayerWeather Air() {
  LayerWeather air;
  air.temperature = 12.0;
  air.pressure = 960.0;
  air.vapourPressure = 0.7 * SaturationVapourPressure(12.0);
  air.wind = 2.5;
  return air;
}

TEST(PenmanMonteith, WithoutLeavesAllEnergyReachesTheSoil) {
  LayerVegetation bare;
  bare.leafAreaIndex = 0.0;
  bare.vegetationCover = 0.8;
  bare.canopyResistance = 100.0;
  bare.soilResistance = 150.0;
  bare.roughnessLength = 0.05;
  LayerStep step;
  step.availableEnergy = 3.0;
  LayerCarry carry;
  const LayerWeather air = Air();
  const LayerRates rates = PenmanMonteithLayer(step, air, bare, carry);
  EXPECT_DOUBLE_EQ(carry.remainingEnergy[1], 3.0); // R = A, C = 0
  const double ra = AerodynamicResistance(0.05, 2.5);
  const double d = kDeltaOverGamma;
  const double q = DryingPower(ra);
  EXPECT_NEAR(rates.transpiration, q / (d + 1.0 + 2500.0 / ra), 1e-12);
  EXPECT_NEAR(rates.soilEvaporation, (d * 3.0 + q) / (d + 1.0 + 150.0 / ra), 1e-12);
}

TEST(PenmanMonteith, LowerLayersTakeWhatTheUpperOnesLeave) {
  LayerVegetation trees = ClosedCanopy(80.0);
  trees.leafAreaIndex = 3.0;
  trees.vegetationCover = 0.9;
  trees.roughnessLength = 5.0; // tall canopy: 25 s/m over ra1
  trees.lowest = false;
  LayerVegetation shrubs = trees;
  shrubs.leafAreaIndex = 1.5;
  shrubs.roughnessLength = 0.3;
  shrubs.resistancePerLeafArea = 10.0;
  shrubs.lowest = true;

  const LayerWeather air = Air();
  LayerCarry carry;
  LayerStep top;
  top.availableEnergy = 4.0;
  const LayerRates upper = PenmanMonteithLayer(top, air, trees, carry);
  const double passed = 4.0 * (1.0 - 0.9 * (1.0 - std::exp(-0.3 * 3.0)));
  EXPECT_NEAR(carry.remainingEnergy[1], passed, 1e-12);
  EXPECT_DOUBLE_EQ(carry.topAerodynamicResistance, 25.0 / (1.0 + 0.54 * 2.5));
  EXPECT_EQ(upper.soilEvaporation, 0.0); // not the lowest layer

  carry.leafAreaAbove += 3.0;
  LayerStep below = top;
  below.layer = 2;
  below.availableEnergy = 99.0; // ignored below the top layer
  const LayerRates lower = PenmanMonteithLayer(below, air, shrubs, carry);
  const double canopy = 0.9 * (1.0 - std::exp(-0.3 * 1.5)) * passed;
  EXPECT_NEAR(carry.remainingEnergy[1], passed - canopy, 1e-12);
  const double ra = 10.0 * 3.0 + 25.0 / (1.0 + 0.54 * 2.5);
  const double d = kDeltaOverGamma;
  const double q = DryingPower(ra);
  const double rs = 80.0 / (1.0 - std::pow(0.6, 1.5 * 0.9));
  EXPECT_NEAR(lower.transpiration, (d * canopy + q) / (d + 1.0 + rs / ra), 1e-12);
  EXPECT_NEAR(lower.interceptionEvaporation, (d * canopy + q) / (d + 1.0), 1e-12);
  EXPECT_GT(lower.soilEvaporation, 0.0);
  // The night part keeps its own energy below the layers.
  EXPECT_EQ(carry.remainingEnergy[0], 0.0);
}

TEST(PenmanMonteith, NightWithGlobalRadiationOnlyLosesLongWave) {
  const double ln = LongWaveLoss(10.0, 0.2, 0.5, 0.6, 1440.0, 5.0);
  EXPECT_NEAR(ln,
              (0.48 - 0.065 * std::sqrt(10.0)) * 0.6 * 0.6 * 5.67e-8 * 24.0 * std::pow(278.15, 4.0),
              1e-9 * ln);
  const double a = AvailableEnergyOfNight(ln, 5.0);
  EXPECT_LT(a, 0.0);
  EXPECT_NEAR(AvailableEnergyOfDay(800.0, ln, 5.0), 0.9 * (800.0 - ln) / (694.67 - 0.6589 * 5.0),
              1e-12);
  LayerVegetation grass = ClosedCanopy(70.0);
  grass.leafAreaIndex = 2.0;
  LayerStep night;
  night.part = StepPart::Night;
  night.fraction = 0.6;
  night.availableEnergy = a;
  LayerCarry carry;
  LayerWeather air = Air();
  air.temperature = 5.0;
  air.vapourPressure = SaturationVapourPressure(5.0); // no deficit
  const LayerRates rates = PenmanMonteithLayer(night, air, grass, carry);
  // No energy passes below, so the soil has nothing but the (here absent) deficit.
  EXPECT_EQ(carry.remainingEnergy[0], 0.0);
  EXPECT_EQ(rates.soilEvaporation, 0.0);
  EXPECT_LT(rates.transpiration, 0.0); // dew on the leaves; the caller keeps it at 0
}

TEST(PenmanMonteith, OpenWaterEvaporatesEverythingAsOneRate) {
  LayerVegetation reeds = ClosedCanopy(60.0);
  reeds.leafAreaIndex = 2.0;
  const LayerVegetation water = OpenWaterVegetation(reeds, 0.001);
  EXPECT_EQ(water.leafAreaIndex, 0.0);
  EXPECT_EQ(water.vegetationCover, 0.0);
  EXPECT_EQ(water.canopyResistance, 0.0);
  LayerStep step;
  step.availableEnergy = 5.0;
  LayerCarry carry;
  const LayerWeather air = Air();
  const LayerRates rates = PenmanMonteithLayer(step, air, water, carry);
  const double ra = AerodynamicResistance(0.001, 2.5);
  const double d = kDeltaOverGamma;
  const double q = DryingPower(ra);
  EXPECT_NEAR(rates.transpiration, (d * 5.0 + q) / (d + 1.0), 1e-12);
  EXPECT_EQ(rates.interceptionEvaporation, 0.0);
  EXPECT_EQ(rates.soilEvaporation, 0.0);
}

TEST(PenmanMonteith, AmplitudeOfTheDateAndTheDayNightShift) {
  std::array<double, 14> amplitudes{};
  for (int m = 1; m <= 12; ++m)
    amplitudes[static_cast<std::size_t>(m)] = m;
  amplitudes[0] = 12.0;
  amplitudes[13] = 1.0;
  // 15 March: March itself; 10 January between December (day -15.5) and January (15).
  EXPECT_DOUBLE_EQ(AmplitudeOfDate(amplitudes, 15, 3, 31), 3.0);
  EXPECT_DOUBLE_EQ(AmplitudeOfDate(amplitudes, 10, 1, 31), (25.5 * 1.0 + 5.0 * 12.0) / 30.5);
  // 31 January between January (16) and February (31 + 15 = 46).
  EXPECT_DOUBLE_EQ(AmplitudeOfDate(amplitudes, 31, 1, 31), (15.0 * 2.0 + 15.0 * 1.0) / 30.0);
  EXPECT_DOUBLE_EQ(AnnualTerm(0.1, 365.0), 0.1);

  const TemperatureShift shift = DayNightShift(0.8, 10.0, 500.0, 1000.0, 0.6, 0.05);
  const double dt = 0.8 * 10.0 * std::exp(-0.5);
  EXPECT_NEAR(shift.dayRise, 0.65 * dt, 1e-12);
  EXPECT_NEAR(shift.nightFall, 0.35 * dt, 1e-12);
}

} // namespace
} // namespace tavro::evapotranspiration
