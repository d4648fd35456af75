// The correction factor and the refit of a regression to corrected values.
#include "meteo/correction/precipitation_factor.h"
#include "meteo/correction/regression_refit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tavro::correction {
namespace {

const CorrectionParameters kParameters{1.0, 1.0, 0.02, 1.0, 0.10};

TEST(PrecipitationFactor, TableOfCases) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const MissingBound bound = MissingBound::OfInterpolator(9999.0);
  struct Case {
    const char *what;
    double p, t;
    bool tMissing;
    double u;
    bool uMissing;
    double expected;
  };
  const Case cases[] = {
      {"at the threshold: snow", 10.0, 1.0, false, 5.0, false, 10.0 * 1.5},
      {"just above: rain", 10.0, 1.000001, false, 5.0, false, 10.0 * 1.1},
      {"below: snow", 10.0, -3.0, false, 5.0, false, 10.0 * 1.5},
      {"temperature missing: rain", 10.0, -10000.0, true, 5.0, false, 10.0 * 1.1},
      {"temperature not a number: snow", 10.0, nan, false, 5.0, false, 10.0 * 1.5},
      {"calm rain: the constant alone", 10.0, 5.0, false, 0.0, false, 10.0},
      {"wind missing: the constant alone", 10.0, -5.0, false, -10000.0, true, 10.0},
      {"precipitation below -N unchanged", -10000.0, 5.0, false, 5.0, false, -10000.0},
      {"precipitation -N is valid", -9999.0, 5.0, false, 0.0, false, -9999.0},
  };
  for (const Case &c : cases) {
    const double t = TemperatureOrRain(kParameters, c.t, c.tMissing);
    const double u = WindOrCalm(c.u, c.uMissing);
    EXPECT_DOUBLE_EQ(CorrectedPrecipitation(kParameters, bound, c.p, t, u), c.expected) << c.what;
  }
}

TEST(PrecipitationFactor, BoundOfAGridWithoutInterpolatorIncludesMinus9999) {
  EXPECT_TRUE(MissingBound::OfPlainGrid().IsMissing(-9999.0));
  EXPECT_FALSE(MissingBound::OfPlainGrid().IsMissing(-9998.9));
  EXPECT_FALSE(MissingBound::OfInterpolator(9999.0).IsMissing(-9999.0));
  EXPECT_TRUE(MissingBound::OfInterpolator(9999.0).IsMissing(-9999.5));
}

RegressionSegments Regression(double h1, double h2) {
  RegressionSegments r;
  r.LowerHeight = h1;
  r.UpperHeight = h2;
  r.Intercept = {7.0, 1.0, 2.0, 3.0};
  r.Slope = {8.0, 0.004, 0.002, 0.001};
  return r;
}

// A uniform factor c times a line is refitted exactly to c times the line,
// whatever the samples are.
TEST(RegressionRefit, UniformFactorScalesTheFittedSegments) {
  const double c = 1.3;
  RegressionSegments r = Regression(500.0, 1500.0);
  const RegressionSegments before = r;
  RefitRegression(r, 3000.0, [&](double) { return c; });
  EXPECT_NEAR(r.Slope[1], c * before.Slope[1], 1e-12);
  EXPECT_NEAR(r.Intercept[1], c * before.Intercept[1], 1e-9);
  EXPECT_NEAR(r.Slope[3], c * before.Slope[3], 1e-12);
  EXPECT_NEAR(r.Intercept[3], c * before.Intercept[3], 1e-9);
  // Segment 2 joins segment 1 at h1 with segment 3 at h2.
  const double at1 = r.Slope[1] * 500.0 + r.Intercept[1];
  const double at2 = r.Slope[3] * 1500.0 + r.Intercept[3];
  EXPECT_NEAR(r.Slope[2] * 500.0 + r.Intercept[2], at1, 1e-9);
  EXPECT_NEAR(r.Slope[2] * 1500.0 + r.Intercept[2], at2, 1e-9);
  EXPECT_DOUBLE_EQ(r.UpperHeight, 1500.0);
  EXPECT_DOUBLE_EQ(r.Intercept[0], 7.0); // carried along
  EXPECT_DOUBLE_EQ(r.Slope[0], 8.0);
}

// The least squares line of the samples, computed independently.
TEST(RegressionRefit, SegmentIsTheLeastSquaresLineOfTheCorrectedSamples) {
  RegressionSegments r = Regression(1000.0, 2000.0);
  const auto factor = [](double z) { return z < 400.0 ? 1.0 : 2.0; };
  RefitSegment(r, 1, 0.0, 100.0, 1000.0, factor);
  double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (int i = 0; i <= 10; ++i) {
    const double z = 100.0 * i;
    const double v = factor(z) * (0.004 * z + 1.0);
    n += 1;
    sx += z;
    sy += v;
    sxx += z * z;
    sxy += z * v;
  }
  const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
  EXPECT_NEAR(r.Slope[1], slope, 1e-12);
  EXPECT_NEAR(r.Intercept[1], (sy - slope * sx) / n, 1e-9);
}

TEST(RegressionRefit, WithoutLowerInversionTheUpperHeightMovesToTheCrossing) {
  // Segment 2 scaled by 1.5, segment 3 left alone (maximum elevation below
  // h2): the crossing of 1.5 (2 + 0.002 z) and 4 + 0.001 z at 500 m.
  RegressionSegments r = Regression(0.0, 1500.0);
  r.Intercept[3] = 4.0;
  RefitRegression(r, 1000.0, [](double) { return 1.5; });
  EXPECT_NEAR(r.Slope[2], 0.003, 1e-12);
  EXPECT_NEAR(r.Intercept[2], 3.0, 1e-9);
  EXPECT_NEAR(r.UpperHeight, 500.0, 1e-6);

  // Slopes that differ by 0.0001 or less keep h2.
  struct Case {
    double slope3;
    bool moves;
  };
  for (const Case c : {Case{0.00305, false}, Case{0.0030999, false}, Case{0.0031001, true}}) {
    RegressionSegments s = Regression(0.0, 1500.0);
    s.Slope[3] = c.slope3;
    RefitRegression(s, 1000.0, [](double) { return 1.5; });
    EXPECT_EQ(s.UpperHeight != 1500.0, c.moves) << c.slope3;
  }
}

TEST(RegressionRefit, LowerInversionWithFlatSegmentOneRefitsSegmentTwoThenJoins) {
  RegressionSegments r = Regression(500.0, 1500.0);
  r.Slope[1] = 0.0;
  RefitRegression(r, 3000.0, [](double) { return 2.0; });
  EXPECT_DOUBLE_EQ(r.Slope[1], 0.0);
  EXPECT_DOUBLE_EQ(r.Intercept[1], 1.0); // not refitted
  const double at1 = r.Intercept[1];
  const double at2 = r.Slope[3] * 1500.0 + r.Intercept[3];
  EXPECT_NEAR(r.Slope[2], (at2 - at1) / 1000.0, 1e-12);
  EXPECT_NEAR(r.Slope[2] * 500.0 + r.Intercept[2], at1, 1e-9);
}

TEST(RegressionRefit, RangeWithoutSamplesOrWithoutEndKeepsTheSegment) {
  for (const double h2 : {-100.0, 0.0}) {
    RegressionSegments r = Regression(0.0, h2);
    r.Slope[3] = 0.0; // no segment 3 either
    RefitRegression(r, 1000.0, [](double) { return 2.0; });
    EXPECT_DOUBLE_EQ(r.Slope[2], 0.002) << h2;
    EXPECT_DOUBLE_EQ(r.Intercept[2], 2.0) << h2;
  }
}

TEST(RegressionRefit, SegmentThreeRangeEndsAtTwiceTheUpperHeightWhenLarger) {
  // Samples from h2 = 1000 with d = (1200 - 1000) / 10 = 20 up to 2000.
  RegressionSegments r = Regression(0.0, 1000.0);
  double highest = 0.0;
  int samples = 0;
  RefitSegment(r, 3, 1000.0, 20.0, std::fmax(2000.0, 1200.0), [&](double z) {
    highest = z;
    ++samples;
    return 1.0;
  });
  EXPECT_GT(highest, 1970.0);
  EXPECT_LE(highest, 2000.0);
  EXPECT_GE(samples, 50);
}

} // namespace
} // namespace tavro::correction
