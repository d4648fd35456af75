// The natural cubic spline kernels against independent references: the
// three-node formula, the natural spline's linear system solved by plain
// Gaussian elimination, the exact reproduction of linear data, and the
// rules at the ends, across gaps and for equal abscissae.
#include "meteo/interpolation/cubic_spline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tavro::interpolation {
namespace {

constexpr double kMissing = -10000.0;
constexpr double kValidFrom = -9999.0;

std::vector<double> Derivatives(const std::vector<double> &x, const std::vector<double> &y) {
  std::vector<double> y2(x.size()), work(x.size());
  SecondDerivatives(x, y, y2, work);
  return y2;
}

double ValueAt(const std::vector<double> &x, const std::vector<double> &y,
               const std::vector<double> &y2, double a) {
  SplineInterval fresh;
  return Evaluate1D(x, y, y2, a, kValidFrom, kMissing, fresh);
}

// The interior second derivatives of the natural spline from its defining
// equations h[k-1] M[k-1] + 2 (h[k-1] + h[k]) M[k] + h[k] M[k+1] =
// 6 (s[k] - s[k-1]), solved as a dense system.
std::vector<double> NaturalByElimination(const std::vector<double> &x,
                                         const std::vector<double> &y) {
  const std::size_t n = x.size(), m = n - 2;
  std::vector<std::vector<double>> a(m, std::vector<double>(m + 1, 0.0));
  for (std::size_t k = 1; k + 1 < n; ++k) {
    const double h0 = x[k] - x[k - 1], h1 = x[k + 1] - x[k];
    std::vector<double> &row = a[k - 1];
    if (k > 1)
      row[k - 2] = h0;
    row[k - 1] = 2.0 * (h0 + h1);
    if (k + 1 < n - 1)
      row[k] = h1;
    row[m] = 6.0 * ((y[k + 1] - y[k]) / h1 - (y[k] - y[k - 1]) / h0);
  }
  for (std::size_t p = 0; p < m; ++p)
    for (std::size_t r = p + 1; r < m; ++r) {
      const double f = a[r][p] / a[p][p];
      for (std::size_t c = p; c <= m; ++c)
        a[r][c] -= f * a[p][c];
    }
  std::vector<double> result(n, 0.0);
  for (std::size_t p = m; p-- > 0;) {
    double sum = a[p][m];
    for (std::size_t c = p + 1; c < m; ++c)
      sum -= a[p][c] * result[c + 1];
    result[p + 1] = sum / a[p][p];
  }
  return result;
}

TEST(CubicSpline, ThreeEquallySpacedNodes) {
  struct Case {
    double x0, h, y0, y1, y2;
  };
  const std::vector<Case> cases = {{0.0, 1.0, 1.0, 3.0, 2.0},
                                   {500000.0, 5000.0, 1013.25, 1012.0, 1015.5},
                                   {-3.0, 0.25, -2.0, 4.0, -2.0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.x0);
    const std::vector<double> x{c.x0, c.x0 + c.h, c.x0 + 2 * c.h}, y{c.y0, c.y1, c.y2};
    const std::vector<double> y2 = Derivatives(x, y);
    const double m1 = 1.5 * (c.y0 - 2 * c.y1 + c.y2) / (c.h * c.h);
    EXPECT_EQ(y2[0], 0.0);
    EXPECT_NEAR(y2[1], m1, 1e-12 * std::abs(m1));
    EXPECT_EQ(y2[2], 0.0);
    // At an interval's midpoint the cubic term is -M h^2 / 16 of the middle node.
    const double tolerance = 1e-12 * (std::abs(c.y0) + std::abs(c.y1) + std::abs(c.y2));
    EXPECT_NEAR(ValueAt(x, y, y2, c.x0 + 0.5 * c.h), (c.y0 + c.y1) / 2 - m1 * c.h * c.h / 16,
                tolerance);
    EXPECT_NEAR(ValueAt(x, y, y2, c.x0 + 1.5 * c.h), (c.y1 + c.y2) / 2 - m1 * c.h * c.h / 16,
                tolerance);
    // The nodes themselves, the last one included.
    for (std::size_t k = 0; k < 3; ++k)
      EXPECT_EQ(ValueAt(x, y, y2, x[k]), y[k]);
  }
}

TEST(CubicSpline, UnequalSpacingAgreesWithTheLinearSystem) {
  const std::vector<double> x{0.0, 0.7, 2.0, 2.4, 4.5, 6.0};
  const std::vector<double> y{1.0, -0.5, 2.2, 2.0, -1.0, 0.3};
  const std::vector<double> expected = NaturalByElimination(x, y);
  const std::vector<double> y2 = Derivatives(x, y);
  for (std::size_t k = 0; k < x.size(); ++k)
    EXPECT_NEAR(y2[k], expected[k], 1e-12) << k;
  // Continuity of the first derivative at an interior node, from both sides.
  const double d = 1e-6;
  const double left = (ValueAt(x, y, y2, 2.0) - ValueAt(x, y, y2, 2.0 - d)) / d;
  const double right = (ValueAt(x, y, y2, 2.0 + d) - ValueAt(x, y, y2, 2.0)) / d;
  EXPECT_NEAR(left, right, 1e-4);
}

TEST(CubicSpline, LinearDataReproducedAndTheSearchCarried) {
  const std::vector<double> x{-50.0, -10.0, 0.0, 35.0, 36.0, 100.0};
  std::vector<double> y;
  for (const double v : x)
    y.push_back(4.0 - 0.3 * v);
  const std::vector<double> y2 = Derivatives(x, y);
  for (const double m : y2)
    EXPECT_NEAR(m, 0.0, 1e-15);
  // A sweep up and back down with one carried interval gives the values of
  // fresh searches.
  SplineInterval carried;
  std::vector<double> points;
  for (double a = -50.0; a <= 100.0; a += 2.5)
    points.push_back(a);
  for (double a = 100.0; a >= -50.0; a -= 7.5)
    points.push_back(a);
  for (const double a : points) {
    const double value = Evaluate1D(x, y, y2, a, kValidFrom, kMissing, carried);
    EXPECT_EQ(value, ValueAt(x, y, y2, a)) << a;
    EXPECT_NEAR(value, 4.0 - 0.3 * a, 1e-12) << a;
  }
}

TEST(CubicSpline, NoValueBeyondTheEndsOrAcrossAGap) {
  // Node 3 is missing: two runs, 0..2 and 4..6, each a spline of its own.
  const std::vector<double> x{0, 1, 2, 3, 4, 5, 6};
  const std::vector<double> y{1.0, 2.0, 4.0, -10000.0, 3.0, 1.0, 0.0};
  std::vector<double> y2(x.size()), work(x.size());
  RunSecondDerivatives(x, y, y2, work, kValidFrom);
  const std::vector<double> left = Derivatives({0, 1, 2}, {1.0, 2.0, 4.0});
  const std::vector<double> right = Derivatives({4, 5, 6}, {3.0, 1.0, 0.0});
  EXPECT_EQ(y2[1], left[1]);
  EXPECT_EQ(y2[5], right[1]);
  struct Case {
    double a, expected;
  };
  const std::vector<Case> cases = {
      {-0.001, kMissing}, // west of the first node
      {6.001, kMissing},  // east of the last node
      {2.5, kMissing},    // across the gap
      {3.0, kMissing},    // on the missing node
      {3.5, kMissing},
      {2.0, 4.0}, // on the last node of the first run
      {4.0, 3.0}, // on the first node of the second run
      {6.0, 0.0}, // on the last node
      {0.5, ValueAt({0, 1, 2}, {1.0, 2.0, 4.0}, left, 0.5)},
      {5.5, ValueAt({4, 5, 6}, {3.0, 1.0, 0.0}, right, 5.5)},
  };
  for (const Case &c : cases) {
    SplineInterval interval;
    EXPECT_EQ(Evaluate1D(x, y, y2, c.a, kValidFrom, kMissing, interval), c.expected) << c.a;
  }
  // A single valid node between gaps carries no spline.
  const std::vector<double> three{0, 1, 2}, lone{-10000.0, 5.0, -10000.0};
  std::vector<double> loneY2(3);
  RunSecondDerivatives(three, lone, loneY2, work, kValidFrom);
  EXPECT_EQ(ValueAt(three, lone, loneY2, 1.0), kMissing);
}

TEST(CubicSpline, EqualAbscissae) {
  std::vector<double> y2(3), work(3);
  try {
    SecondDerivatives(std::vector<double>{0.0, 2.0, 2.0}, std::vector<double>{1.0, 2.0, 3.0}, y2,
                      work);
    FAIL() << "no exception";
  } catch (const EqualAbscissae &e) {
    EXPECT_EQ(e.FirstIndex, 2u);
    EXPECT_EQ(e.SecondIndex, 3u);
    EXPECT_EQ(e.First, 2.0);
  }
  // The evaluation meets an interval of length 0 at the last node.
  const std::vector<double> x{0.0, 1.0, 1.0}, y{1.0, 2.0, 3.0}, zero{0.0, 0.0, 0.0};
  SplineInterval interval;
  EXPECT_THROW(Evaluate1D(x, y, zero, 1.0, kValidFrom, kMissing, interval), EqualAbscissae);
}

} // namespace
} // namespace tavro::interpolation
