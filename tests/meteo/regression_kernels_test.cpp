// The elevation regression against values worked out by hand: the three
// segments and their borders with and without the trend surface; the fit's
// worked examples (crossing lines, a forced inversion layer with and
// without a fixed upper lapse rate, two stations collapsing into one
// point), the least-squares line of one group against the normal equations
// solved independently, the trend plane, and the cases where a textbook fit
// would divide by zero.
#include "meteo/interpolation/elevation_regression.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tavro::interpolation {
namespace {

constexpr double kN = 9999.0;
const ValueBounds kBounds{-kN, -kN - 1.0};
constexpr double kMissing = -kN - 1.0;

struct Station {
  double h, v, x, y;
};

RegressionRecord Fit(const std::vector<Station> &stations, const RegressionFitSettings &s) {
  std::vector<double> h, v, x, y;
  for (const Station &st : stations) {
    h.push_back(st.h);
    v.push_back(st.v);
    x.push_back(st.x);
    y.push_back(st.y);
  }
  return FitElevationRegression(h, x, y, v, s, kBounds);
}

RegressionFitSettings Settings(double lp, double up, double tol, double cr, int overlap = 0,
                               double lr = -9999.0) {
  RegressionFitSettings s;
  s.LowerSplit = lp;
  s.UpperSplit = up;
  s.Tolerance = tol;
  s.ClusterRange = cr;
  s.Overlap = overlap;
  s.UpperLapseRate = lr;
  return s;
}

// The regression without its trend at elevation z.
double At(const RegressionRecord &r, double z) {
  return ElevationRegressionValue(r, -9999.0, -9999.0, z, kBounds);
}

TEST(ElevationRegressionValueTest, SegmentsBordersAndTrend) {
  RegressionRecord r;
  r.Intercept = {0.0, 10.0, 12.0, 6.0};
  r.Slope = {0.0, -0.002, -0.006, -0.002};
  r.LowerHeight = 500.0;
  r.UpperHeight = 1500.0;
  r.TrendConstant = r.TrendX = r.TrendY = kMissing; // no trend
  RegressionRecord trend = r;
  trend.TrendConstant = 20.0;
  trend.TrendX = 0.001;
  trend.TrendY = -0.002;
  // At (1000, 2000) the trend surface is 20 + 1 - 4 = 17 in place of A1 = 10.
  RegressionRecord missing = r;
  missing.Intercept[1] = kMissing;
  RegressionRecord notANumber = trend;
  notANumber.TrendConstant = std::nan("");
  struct Case {
    const char *what;
    const RegressionRecord &record;
    double x, y, z, expected;
  };
  const std::vector<Case> cases = {
      {"segment 1", r, 1000.0, 2000.0, 400.0, 9.2},
      {"Lo belongs to segment 2", r, 1000.0, 2000.0, 500.0, 9.0},
      {"Hi belongs to segment 2", r, 1000.0, 2000.0, 1500.0, 3.0},
      {"segment 3", r, 1000.0, 2000.0, 1600.0, 2.8},
      {"trend, segment 1", trend, 1000.0, 2000.0, 400.0, 16.2},
      {"trend, segment 2", trend, 1000.0, 2000.0, 500.0, 16.0},
      {"trend, segment 3", trend, 1000.0, 2000.0, 1600.0, 9.8},
      {"no trend at x = -9999", trend, -9999.0, 2000.0, 400.0, 9.2},
      {"no trend at y = -9999", trend, 1000.0, -9999.0, 1600.0, 2.8},
      {"a trend constant that is not a number", notANumber, 1000.0, 2000.0, 500.0, 9.0},
      {"no regression", missing, 1000.0, 2000.0, 500.0, kMissing},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_NEAR(ElevationRegressionValue(c.record, c.x, c.y, c.z, kBounds), c.expected, 1e-12);
  }
}

TEST(ElevationRegressionFitTest, LinesCrossingInsideTheToleranceBuildNoLayer) {
  const std::vector<Station> stations = {{200, 10.8, 0, 0},        {400, 9.6, 5000, 1000},
                                         {600, 8.4, 2000, 7000},   {1200, 5.2, 9000, 3000},
                                         {1600, 3.6, 4000, 12000}, {2000, 2.0, 11000, 9000}};
  const RegressionRecord r = Fit(stations, Settings(900, 1300, 200, 50));
  EXPECT_DOUBLE_EQ(r.LowerHeight, 0.0);
  EXPECT_NEAR(r.UpperHeight, 1000.0, 1e-9);
  EXPECT_NEAR(r.Intercept[1], 12.0, 1e-9);
  EXPECT_EQ(r.Slope[1], 0.0);
  EXPECT_NEAR(r.Intercept[2], 12.0, 1e-9);
  EXPECT_NEAR(r.Slope[2], -0.006, 1e-12);
  EXPECT_NEAR(r.Intercept[3], 10.0, 1e-9);
  EXPECT_NEAR(r.Slope[3], -0.004, 1e-12);
  // Every residual is 0: the trend is the constant A1.
  EXPECT_NEAR(r.TrendConstant, 12.0, 1e-9);
  EXPECT_NEAR(r.TrendX, 0.0, 1e-12);
  EXPECT_NEAR(r.TrendY, 0.0, 1e-12);
  for (const auto &[z, v] : std::vector<std::pair<double, double>>{
           {-100.0, 12.0}, {500.0, 9.0}, {1000.0, 6.0}, {1500.0, 4.0}}) {
    EXPECT_NEAR(ElevationRegressionValue(r, 3000.0, 4000.0, z, kBounds), v, 1e-9) << z;
    EXPECT_NEAR(At(r, z), v, 1e-9) << z;
  }
}

TEST(ElevationRegressionFitTest, CrossingOutsideTheToleranceForcesTheInversionLayer) {
  const std::vector<Station> stations = {{300, 10.2, 0, 0},        {500, 9.0, 5000, 1000},
                                         {700, 7.8, 2000, 7000},   {1400, 6.9, 9000, 3000},
                                         {1700, 5.7, 4000, 12000}, {2000, 4.5, 11000, 9000}};
  // The lines 12 - 0.006 z and 12.5 - 0.004 z cross at -250 m.
  const RegressionRecord r = Fit(stations, Settings(900, 1300, 50, 50));
  EXPECT_DOUBLE_EQ(r.LowerHeight, 900.0);
  EXPECT_DOUBLE_EQ(r.UpperHeight, 1300.0);
  EXPECT_NEAR(r.Intercept[1], 12.0, 1e-9);
  EXPECT_NEAR(r.Slope[1], -0.006, 1e-12);
  EXPECT_NEAR(r.Intercept[2], 5.025, 1e-9);
  EXPECT_NEAR(r.Slope[2], 0.00175, 1e-12);
  EXPECT_NEAR(r.Intercept[3], 12.5, 1e-9);
  EXPECT_NEAR(r.Slope[3], -0.004, 1e-12);
  EXPECT_NEAR(At(r, 900.0), 6.6, 1e-9);
  EXPECT_NEAR(At(r, 1300.0), 7.3, 1e-9);
  EXPECT_NEAR(r.TrendConstant, 12.0, 1e-9);

  const RegressionRecord lapse = Fit(stations, Settings(900, 1300, 50, 50, 0, -0.0065));
  EXPECT_NEAR(lapse.Intercept[3], 15.75, 1e-9);
  EXPECT_DOUBLE_EQ(lapse.Slope[3], -0.0065);
  EXPECT_NEAR(lapse.Intercept[3] + lapse.Slope[3] * 1300.0, 7.3, 1e-9);
  EXPECT_NEAR(lapse.Intercept[2], 5.025, 1e-9);
}

TEST(ElevationRegressionFitTest, TwoNearStationsBecomeOneConstant) {
  const RegressionRecord r =
      Fit({{500, 10.0, 0, 0}, {520, 9.0, 1000, 0}}, Settings(510, 1000, 100, 50));
  for (const double z : {-50.0, 0.0, 510.0, 3000.0})
    EXPECT_NEAR(At(r, z), 9.5, 1e-12) << z;
  for (int i = 1; i <= 3; ++i)
    EXPECT_EQ(r.Slope[static_cast<std::size_t>(i)], 0.0);
  EXPECT_EQ(r.TrendConstant, kMissing); // two stations: no trend
}

TEST(ElevationRegressionFitTest, OneGroupIsTheLeastSquaresLine) {
  const std::vector<Station> stations = {
      {300, 10.0, 0, 0}, {800, 6.0, 4000, 500}, {1500, 2.5, 1000, 6000}};
  // The normal equations n a + S(h) b = S(v), S(h) a + S(hh) b = S(hv).
  double sh = 0, shh = 0, sv = 0, shv = 0;
  for (const Station &s : stations) {
    sh += s.h;
    shh += s.h * s.h;
    sv += s.v;
    shv += s.h * s.v;
  }
  const double n = 3.0, det = n * shh - sh * sh;
  const double a = (sv * shh - sh * shv) / det, b = (n * shv - sh * sv) / det;
  const RegressionRecord r = Fit(stations, Settings(5000, 6000, 100, 50));
  for (const double z : {0.0, 300.0, 1000.0, 4999.0, 7000.0})
    EXPECT_NEAR(At(r, z), a + b * z, 1e-9) << z;
  // Three stations carry no trend; a fourth off their line brings one.
  EXPECT_EQ(r.TrendConstant, kMissing);
  EXPECT_EQ(ElevationRegressionValue(r, 100.0, 100.0, 1000.0, kBounds), At(r, 1000.0));
  std::vector<Station> four = stations;
  four.push_back({1100, 4.0, 3000, 3000});
  const RegressionRecord withTrend = Fit(four, Settings(5000, 6000, 100, 50));
  EXPECT_GE(withTrend.TrendConstant, -kN);
  EXPECT_TRUE(std::isfinite(withTrend.TrendX) && std::isfinite(withTrend.TrendY));
}

TEST(ElevationRegressionFitTest, NoStationMeansNoRegression) {
  const RegressionRecord r =
      Fit({{500, -99999.0, 0, 0}, {900, kMissing, 1000, 0}}, Settings(700, 1000, 100, 50));
  EXPECT_EQ(r.Intercept[1], kMissing);
  EXPECT_EQ(At(r, 600.0), kMissing);
  // A value of exactly -N does not take part either.
  const RegressionRecord edge = Fit({{500, -kN, 0, 0}}, Settings(700, 1000, 100, 50));
  EXPECT_EQ(edge.Intercept[1], kMissing);
}

TEST(ElevationRegressionFitTest, DivisionsByZeroAreAvoided) {
  {
    // Two lower stations at Lp itself become one point at Lp: the lower line
    // takes the upper line's slope through it.
    const RegressionRecord r = Fit({{500, 10.0, 0, 0},
                                    {500, 10.2, 100, 0},
                                    {1000, 7.0, 0, 900},
                                    {1500, 4.5, 800, 100},
                                    {2000, 2.0, 400, 1600}},
                                   Settings(500, 1500, 2000, 50));
    EXPECT_NEAR(At(r, 250.0), 10.1 + 0.005 * 250.0, 1e-9);
    EXPECT_NEAR(At(r, 1000.0), 7.0, 1e-9);
    EXPECT_NEAR(At(r, 2000.0), 2.0, 1e-9);
  }
  {
    // Lp = Up: no layer between them; the lower line below, the upper above.
    const RegressionRecord r = Fit({{300, 10.2, 0, 0},
                                    {500, 9.0, 5000, 1000},
                                    {700, 7.8, 2000, 7000},
                                    {1400, 6.9, 9000, 3000},
                                    {1700, 5.7, 4000, 12000},
                                    {2000, 4.5, 11000, 9000}},
                                   Settings(900, 900, 50, 50));
    EXPECT_DOUBLE_EQ(r.UpperHeight, 900.0);
    EXPECT_NEAR(At(r, 600.0), 12.0 - 0.006 * 600.0, 1e-9);
    EXPECT_NEAR(At(r, 1500.0), 12.5 - 0.004 * 1500.0, 1e-9);
    for (int i = 1; i <= 3; ++i)
      EXPECT_TRUE(std::isfinite(r.Slope[static_cast<std::size_t>(i)]));
  }
  {
    // A group of equal altitudes (cluster range 0) is one point, not a
    // vertical line.
    const RegressionRecord r =
        Fit({{300, 10.0, 0, 0}, {300, 11.0, 500, 0}, {1200, 5.0, 0, 800}, {1600, 3.0, 900, 900}},
            Settings(700, 1000, 2000, 0));
    for (const double z : {0.0, 300.0, 1400.0})
      EXPECT_TRUE(std::isfinite(At(r, z))) << z;
    EXPECT_NEAR(At(r, 1400.0), 4.0, 1e-9);
  }
  {
    // Stations on one straight line leave the trend undetermined: none.
    const RegressionRecord r = Fit({{200, 10.8, 0, 0},
                                    {400, 9.6, 1000, 2000},
                                    {600, 8.5, 2000, 4000},
                                    {800, 7.1, 3000, 6000},
                                    {1000, 6.2, 4000, 8000}},
                                   Settings(5000, 6000, 100, 50));
    EXPECT_EQ(r.TrendConstant, kMissing);
    EXPECT_EQ(ElevationRegressionValue(r, 500.0, 700.0, 650.0, kBounds), At(r, 650.0));
  }
}

TEST(TrendPlaneTest, RecoversAnExactPlane) {
  // Map coordinates in the millions, as real station networks have them.
  const std::vector<double> x{503500.0, 509500.0, 512000.0, 500200.0};
  const std::vector<double> y{5207500.0, 5202500.0, 5209800.0, 5200100.0};
  std::vector<double> g;
  for (std::size_t k = 0; k < x.size(); ++k)
    g.push_back(3.0 + 0.002 * (x[k] - 500000.0) - 0.001 * (y[k] - 5200000.0));
  const TrendPlane plane = FitTrendPlane(x, y, g);
  ASSERT_TRUE(plane.Valid);
  EXPECT_NEAR(plane.X, 0.002, 1e-12);
  EXPECT_NEAR(plane.Y, -0.001, 1e-12);
  EXPECT_NEAR(plane.Constant, 3.0 - 0.002 * 500000.0 + 0.001 * 5200000.0, 1e-6);
  const std::vector<double> lx{0.0, 1.0, 2.0, 3.0}, ly{0.0, 2.0, 4.0, 6.0}, lg{1.0, 2.0, 3.0, 5.0};
  EXPECT_FALSE(FitTrendPlane(lx, ly, lg).Valid); // on one line
  EXPECT_DOUBLE_EQ(Determinant3x3({2, 0, 1}, {1, 3, 2}, {1, 1, 2}), 6.0);
}

} // namespace
} // namespace tavro::interpolation
