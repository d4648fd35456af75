// Soil record: the closed forms against independent references, the
// retention / conductivity lookups against the closed forms at the tabulated
// suctions, their boundary cases, the freezing curve and the heat capacity.
#include "tables/soil_class.h"
#include "tables/van_genuchten.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace tavro {
namespace {

// Loam: theta_r 0.078, theta_s 0.43, alpha 3.6 1/m, n 1.56, Mualem tau 0.5.
constexpr double kThetaRes = 0.078;
constexpr double kThetaSat = 0.43;
constexpr double kAlpha = 3.6;
constexpr double kN = 1.56;
constexpr double kM = 1.0 - 1.0 / kN;
constexpr double kTau = 0.5;
// Suction equivalent of one degree of freezing-point depression (m per degree).
constexpr double kSuctionPerDegree = 124.6;

soil_class MakeLoam(int layers) {
  soil_class soil(7);
  soil.ResizeLayers(layers);
  for (int i = 0; i <= layers; ++i) {
    soil.theta_sat[i] = kThetaSat;
    soil.theta_res[i] = kThetaRes;
    soil.alpha[i] = kAlpha;
    soil.Par_n[i] = kN;
    soil.Par_m[i] = kM;
    soil.Par_tau[i] = kTau;
  }
  soil.RetentionPoints = {30, 30};
  for (int i = 0; i <= layers; ++i)
    soil.MakeRetentionTables(i);
  return soil;
}

// Water content written out from the retention curve (1 + (alpha h)^n)^-m.
double ReferenceTheta(double h) {
  return kThetaRes + (kThetaSat - kThetaRes) * std::pow(1.0 + std::pow(kAlpha * h, kN), -kM);
}

// Mualem conductivity with tau = 1/2 and m = 1 - 1/n in its closed form in
// the suction, which does not pass through the effective saturation:
// [1 - (ah)^(n-1) (1 + (ah)^n)^-m]^2 / (1 + (ah)^n)^(m/2).
double ReferenceKrel(double h) {
  const double ah = kAlpha * h;
  const double inner = 1.0 - std::pow(ah, kN - 1.0) * std::pow(1.0 + std::pow(ah, kN), -kM);
  return inner * inner / std::pow(1.0 + std::pow(ah, kN), kM / 2.0);
}

TEST(VanGenuchten, ClosedFormsMatchHighPrecisionValues) {
  // Values computed independently with 30-digit arithmetic.
  struct Case {
    double h, theta, krel;
  };
  const Case cases[] = {{0.1, 0.407388937911822923528, 0.215441235433512019099},
                        {1.0, 0.242131784718152160972, 0.001359075334346199821},
                        {3.45, 0.163271158382383614221, 2.38289811284438649939e-05},
                        {150.0, 0.0883846924873018703004, 6.60619777128031704129e-11}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.h);
    EXPECT_NEAR(van_genuchten::WaterContent(c.h, kThetaRes, kThetaSat, kAlpha, kN, kM), c.theta,
                1e-14);
    const double se = van_genuchten::EffectiveSaturation(c.h, kAlpha, kN, kM);
    EXPECT_NEAR(van_genuchten::MualemRelativeConductivity(se, kM, kTau) / c.krel, 1.0, 1e-9);
  }
  EXPECT_DOUBLE_EQ(van_genuchten::EffectiveSaturation(0.0, kAlpha, kN, kM), 1.0);
  EXPECT_DOUBLE_EQ(van_genuchten::MualemRelativeConductivity(1.0, kM, kTau), 1.0);
}

TEST(VanGenuchten, FreezingSlopeIsTheDerivativeOfTheFraction) {
  for (double T : {-0.005, -0.05, -0.5, -3.0, -9.9}) {
    SCOPED_TRACE(T);
    const double step = 1e-6 * std::fabs(T);
    const double numeric =
        (van_genuchten::UnfrozenFraction(T + step, kSuctionPerDegree, kAlpha, kN, kM) -
         van_genuchten::UnfrozenFraction(T - step, kSuctionPerDegree, kAlpha, kN, kM)) /
        (2 * step);
    const double slope = van_genuchten::UnfrozenFractionSlope(T, kSuctionPerDegree, kAlpha, kN, kM);
    EXPECT_GT(slope, 0.0);
    EXPECT_NEAR(slope / numeric, 1.0, 1e-6);
  }
}

TEST(SoilClassRetention, TablesFollowTheClosedFormsAtTheTabulatedSuctions) {
  const soil_class soil = MakeLoam(2);
  const auto &s = soil_class::SuctionSteps;
  for (int layer = 0; layer <= 2; ++layer) {
    const auto &table = soil.Retention(layer);
    EXPECT_EQ(table.ThetaAtSuction[0], kThetaSat);
    EXPECT_EQ(table.ThetaForKrel[1], kThetaSat);
    EXPECT_EQ(table.ThetaAtSuction[30], kThetaRes); // not the curve's value at 150 m
    EXPECT_EQ(table.KrelAtSuction[30], 0.0);
    for (int i = 1; i < 30; ++i) {
      SCOPED_TRACE(s[i]);
      EXPECT_NEAR(table.ThetaAtSuction[i], ReferenceTheta(s[i]), 1e-14);
      EXPECT_EQ(table.ThetaForKrel[i], table.ThetaAtSuction[i]);
      EXPECT_NEAR(table.KrelAtSuction[i], ReferenceKrel(s[i]), 1e-12 + 1e-9 * ReferenceKrel(s[i]));
    }
  }
}

TEST(SoilClassRetention, LookupsReturnTheClosedFormsAtTheNodes) {
  const soil_class soil = MakeLoam(1);
  const auto &s = soil_class::SuctionSteps;
  for (int i = 4; i < 30; ++i) {
    SCOPED_TRACE(s[i]);
    EXPECT_NEAR(soil.GetTheta(1, s[i]), ReferenceTheta(s[i]), 1e-13);
  }
  for (int i = 2; i < 30; ++i) {
    SCOPED_TRACE(s[i]);
    const double theta = ReferenceTheta(s[i]);
    EXPECT_NEAR(soil.GetSuction(1, theta), s[i], 1e-9 * s[i]);
    EXPECT_NEAR(soil.GetKrel(1, theta, theta), ReferenceKrel(s[i]),
                1e-12 + 1e-8 * ReferenceKrel(s[i]));
  }
}

TEST(SoilClassRetention, LookupsInterpolateLinearlyBetweenNodes) {
  const soil_class soil = MakeLoam(1);
  // Halfway in suction between 1.2 and 1.6 m: halfway in water content.
  EXPECT_NEAR(soil.GetTheta(1, 1.4), 0.5 * (ReferenceTheta(1.2) + ReferenceTheta(1.6)), 1e-13);
  // Halfway in water content: halfway in suction and in conductivity.
  const double mid = 0.5 * (ReferenceTheta(0.3) + ReferenceTheta(0.4));
  EXPECT_NEAR(soil.GetSuction(1, mid), 0.35, 1e-12);
  EXPECT_NEAR(soil.GetKrel(1, mid, 1.0), 0.5 * (ReferenceKrel(0.3) + ReferenceKrel(0.4)), 1e-12);
}

TEST(SoilClassRetention, BoundaryCases) {
  const soil_class soil = MakeLoam(1);
  // At or beyond saturation.
  for (double theta : {kThetaSat, 0.5}) {
    EXPECT_EQ(soil.GetSuction(1, theta), 0.0);
    EXPECT_EQ(soil.GetKrel(1, theta, theta), 1.0);
  }
  // At or below the residual water content.
  for (double theta : {kThetaRes, 0.01, -1.0}) {
    EXPECT_EQ(soil.GetSuction(1, theta), 150.0);
    EXPECT_EQ(soil.GetKrel(1, theta, theta), 0.0);
  }
  // The smaller water content decides, whichever argument carries it.
  const double wet = ReferenceTheta(0.1);
  const double dry = ReferenceTheta(2.6);
  EXPECT_EQ(soil.GetKrel(1, wet, dry), soil.GetKrel(1, dry, dry));
  EXPECT_EQ(soil.GetKrel(1, dry, wet), soil.GetKrel(1, dry, dry));
  EXPECT_LT(soil.GetKrel(1, dry, dry), soil.GetKrel(1, wet, wet));

  struct Case {
    double h, expected;
  };
  const Case cases[] = {
      {150.0, kThetaRes},                                               // theta_res, exactly
      {1.0e4, kThetaRes},                                               //
      {0.0, kThetaSat},                                                 //
      {-2.0, kThetaSat},                                                //
      {0.0003, kThetaSat},                                              // step below 1 mm
      {0.0008, ReferenceTheta(0.0005)},                                 // not interpolated
      {0.0015, 0.5 * (ReferenceTheta(0.001) + ReferenceTheta(0.002))}}; // interpolated
  for (const Case &c : cases) {
    SCOPED_TRACE(c.h);
    EXPECT_NEAR(soil.GetTheta(1, c.h), c.expected, 1e-15);
  }
  EXPECT_EQ(soil.GetTheta(1, 150.0), kThetaRes);
}

// Index of the largest closed-form slope on the freezing grid (first one).
int PeakStep(const soil_class &soil) {
  const double dT = soil.FreezingMinTemperature / soil_class::FreezingSteps;
  int peak = 1;
  double best = 0.0;
  for (int i = 1; i <= soil_class::FreezingSteps; ++i) {
    const double s =
        van_genuchten::UnfrozenFractionSlope(i * dT, kSuctionPerDegree, kAlpha, kN, kM);
    if (s > best)
      best = s, peak = i;
  }
  return peak;
}

TEST(SoilClassFreezing, CurveFollowsTheClosedForm) {
  soil_class soil = MakeLoam(1);
  soil.MakeFreezingCurve(1, kSuctionPerDegree);
  const auto fraction = soil.UnfrozenFraction(1);
  const auto slope = soil.UnfrozenSlope(1);
  ASSERT_EQ(fraction.size(), 1001u);
  EXPECT_EQ(fraction[0], 1.0);
  EXPECT_EQ(slope[0], 0.0);
  for (int i = 1; i <= 1000; i += 37) {
    const double T = i * -0.01;
    EXPECT_NEAR(fraction[i], van_genuchten::UnfrozenFraction(T, kSuctionPerDegree, kAlpha, kN, kM),
                1e-12);
    EXPECT_NEAR(slope[i],
                van_genuchten::UnfrozenFractionSlope(T, kSuctionPerDegree, kAlpha, kN, kM), 1e-12);
  }
  // At saturation the shift is zero (slope level 1 lies on the peak).
  EXPECT_EQ(soil.FreezingShift(1)[1000], 0.0);
}

TEST(SoilClassFreezing, LookupsAtSaturationFollowTheUnshiftedCurve) {
  soil_class soil = MakeLoam(3);
  for (int i = 0; i <= 3; ++i)
    soil.MakeFreezingCurve(i, kSuctionPerDegree);
  const auto closedFraction = [](double T) {
    return van_genuchten::UnfrozenFraction(T, kSuctionPerDegree, kAlpha, kN, kM);
  };
  const auto closedSlope = [](double T) {
    return van_genuchten::UnfrozenFractionSlope(T, kSuctionPerDegree, kAlpha, kN, kM);
  };
  const std::vector<double> theta(4, kThetaSat);
  std::vector<double> fraction(4, -7.0), slope(4, -7.0);

  // On grid temperatures the lookups give the closed forms.
  std::vector<double> T{0.0, -0.37, -2.5, -6.02};
  soil.GetUnfrozenWaterFraction(fraction, T, theta);
  soil.GetUnfrozenWaterSlope(slope, T, theta);
  EXPECT_EQ(fraction[0], -7.0); // layer 0 is not a layer of the column
  for (int i = 1; i <= 3; ++i) {
    SCOPED_TRACE(T[i]);
    EXPECT_NEAR(fraction[i], closedFraction(T[i]), 1e-12);
    EXPECT_NEAR(slope[i], closedSlope(T[i]), 1e-12);
  }
  // Between grid temperatures they interpolate linearly.
  T = {0.0, -0.375, -4.005, -9.995};
  soil.GetUnfrozenWaterFraction(fraction, T, theta);
  for (int i = 1; i <= 3; ++i) {
    const double lower = std::floor(T[i] / -0.01 + 1e-9);
    EXPECT_NEAR(fraction[i],
                0.5 * (closedFraction(-0.01 * lower) + closedFraction(-0.01 * (lower + 1))), 1e-12);
  }

  // Above 0 degC, exactly at the coldest temperature, and below it.
  T = {0.0, 0.5, -10.0, -10.5};
  soil.GetUnfrozenWaterFraction(fraction, T, theta);
  soil.GetUnfrozenWaterSlope(slope, T, theta);
  EXPECT_EQ(fraction[1], 1.0);
  EXPECT_EQ(slope[1], 0.0);
  EXPECT_EQ(fraction[2], 0.0);
  EXPECT_NEAR(slope[2], closedSlope(-10.0), 1e-12); // computed at exactly -10
  EXPECT_GT(slope[2], 0.0);
  EXPECT_EQ(fraction[3], 0.0);
  EXPECT_EQ(slope[3], 0.0);
}

TEST(SoilClassFreezing, DryLayerIsShiftedByTheColdestSlopeLevel) {
  soil_class soil = MakeLoam(2);
  for (int i = 0; i <= 2; ++i)
    soil.MakeFreezingCurve(i, kSuctionPerDegree);
  const double tPeak = PeakStep(soil) * -0.01;
  ASSERT_GT(tPeak, -10.0 / 1.3);
  ASSERT_GT(van_genuchten::UnfrozenFractionSlope(-10.0, kSuctionPerDegree, kAlpha, kN, kM), 0.0);
  EXPECT_NEAR(soil.FreezingShift(1)[0], -10.0 - 1.15 * tPeak, 1e-12);

  const double shift = 10.0 + 1.15 * tPeak;
  const std::vector<double> theta(3, kThetaRes);
  std::vector<double> fraction(3, -7.0);
  // Just warmer than -shift counts as unfrozen; a little colder (still above
  // -10 degC) reads the curve at the temperature minus the shift.
  const double depth = (10.0 - shift) / 2;
  std::vector<double> T{0.0, -shift + 1e-9, -shift - depth};
  soil.GetUnfrozenWaterFraction(fraction, T, theta);
  EXPECT_EQ(fraction[1], 1.0);
  const auto closed = [](int step) {
    return van_genuchten::UnfrozenFraction(step * -0.01, kSuctionPerDegree, kAlpha, kN, kM);
  };
  const int j = static_cast<int>(depth / 0.01);
  const double p = depth / 0.01 - j;
  EXPECT_NEAR(fraction[2], closed(j) * (1 - p) + closed(j + 1) * p, 1e-9);
  EXPECT_LT(fraction[2], 1.0);
}

TEST(SoilClassFreezing, CurveWithoutSlopeNeedsNoShift) {
  soil_class soil = MakeLoam(1);
  soil.MakeFreezingCurve(1, 0.0); // no freezing-point depression
  const auto shift = soil.FreezingShift(1);
  EXPECT_TRUE(std::all_of(shift.begin(), shift.end(), [](double v) { return v == 0.0; }));
  EXPECT_EQ(soil.UnfrozenFraction(1)[500], 1.0);
}

TEST(SoilClassFreezing, MissingTemperaturesLeaveTheOutputUntouched) {
  soil_class soil = MakeLoam(2);
  soil.MakeFreezingCurve(1, kSuctionPerDegree);
  const std::vector<double> theta(3, 0.3);
  std::vector<double> out(3, 42.0);
  soil.GetUnfrozenWaterFraction(out, {}, theta);
  soil.GetUnfrozenWaterSlope(out, {}, theta);
  EXPECT_EQ(out, std::vector<double>(3, 42.0));
}

TEST(SoilClassHeat, IceTermGoesLinearlyToTwentyBelowZero) {
  soil_class soil = MakeLoam(4);
  for (int i = 0; i <= 4; ++i) {
    soil.DryDensity[i] = 1500.0;
    soil.DryHeatCapacity[i] = 800.0;
  }
  const double rho = 1000, cLiquid = 4200, cIce0 = 2100, cIce20 = 1900;
  const std::vector<double> T{0.0, 5.0, -10.0, -20.0, -30.0};
  const std::vector<double> fraction{0.0, 1.0, 0.5, 0.25, 0.0};
  const std::vector<double> extra{0.0, 1.0, 2.0, 3.0, 4.0};
  const std::vector<double> theta{0.0, 0.3, 0.2, 0.1, 0.4};
  std::vector<double> result(5, 0.0);
  soil.GetHeatCapacity(T, result, fraction, extra, theta, rho, cLiquid, cIce0, cIce20);
  const double dry = 1500.0 * 800.0;
  EXPECT_DOUBLE_EQ(result[1], 0.3 * 1000 * 4200 + dry + 1.0);
  EXPECT_DOUBLE_EQ(result[2], 0.2 * 1000 * (0.5 * 4200 + 0.5 * 2000) + dry + 2.0);
  EXPECT_DOUBLE_EQ(result[3], 0.1 * 1000 * (0.25 * 4200 + 0.75 * 1900) + dry + 3.0);
  EXPECT_DOUBLE_EQ(result[4], 0.4 * 1000 * 1900 + dry + 4.0);
}

} // namespace
} // namespace tavro
