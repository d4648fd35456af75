// ExactSum: order independence, single rounding, round trips and the
// handling of values and sums that do not fit.
#include "kernel/exact_sum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <vector>

namespace tavro {
namespace {

std::uint64_t Bits(double value) { return std::bit_cast<std::uint64_t>(value); }

// Values whose double sums depend on the order: very different magnitudes,
// fractions that are not dyadic, signs that cancel.
const std::vector<double> kAwkward = {0.1, 1e-9, 12345.678, -0.3, 1e15, 2.0 / 3.0, -7.25e3, 3.3e-5};

TEST(ExactSumTest, EveryOrderGivesTheSameBits) {
  std::vector<double> values = kAwkward;
  std::sort(values.begin(), values.end());
  ExactSum first;
  for (double v : values)
    first += v;
  const double expected = first.ToDouble();

  std::set<std::uint64_t> doubleSums; // what plain double addition gives
  int orders = 0;
  do {
    ExactSum sum;
    double plain = 0.0;
    for (double v : values) {
      sum += v;
      plain += v;
    }
    ASSERT_EQ(Bits(sum.ToDouble()), Bits(expected)) << "order " << orders;
    EXPECT_EQ(sum, first);
    doubleSums.insert(Bits(plain));
    ++orders;
  } while (std::next_permutation(values.begin(), values.end()));
  EXPECT_EQ(orders, 40320);
  // The table is a real test: plain double sums differ between orders.
  EXPECT_GT(doubleSums.size(), 1u);
  // And the exact sum is the true sum rounded once (long double is exact
  // enough here to confirm it within a unit in the last place).
  long double reference = 0.0L;
  for (double v : kAwkward)
    reference += v;
  EXPECT_NEAR(expected, static_cast<double>(reference), std::nextafter(1e15, 2e15) - 1e15);
}

TEST(ExactSumTest, PartialSumsAddUpLikeOneSum) {
  // As an MPI reduction or per-thread sums do: any split, any grouping.
  ExactSum whole;
  for (double v : kAwkward)
    whole += v;
  for (std::size_t split = 0; split <= kAwkward.size(); ++split) {
    ExactSum left, right;
    for (std::size_t i = 0; i < kAwkward.size(); ++i)
      (i < split ? left : right) += kAwkward[i];
    ExactSum a = left, b = right;
    a += right;
    b += left;
    EXPECT_EQ(a, whole) << split;
    EXPECT_EQ(b, whole) << split;
    EXPECT_EQ(Bits(a.ToDouble()), Bits(whole.ToDouble()));
  }
}

TEST(ExactSumTest, TenthsSumToOne) {
  // Ten doubles 0.1 sum to 1 + 5.6e-17 exactly, which rounds to 1; plain
  // double addition gives 0.9999999999999999.
  ExactSum sum;
  double plain = 0.0;
  for (int i = 0; i < 10; ++i) {
    sum += 0.1;
    plain += 0.1;
  }
  EXPECT_EQ(sum.ToDouble(), 1.0);
  EXPECT_NE(plain, 1.0);
}

TEST(ExactSumTest, ValuesOnTheGridRoundTrip) {
  const double largest = std::nextafter(ExactSum::Limit, 0.0);
  for (double v : {0.0, 1.0, -1.0, 0.1, -0.3, 12345.678, 1e15, -1e15, 1e20, -1e20, 0x1p-8, 0x1p-60,
                   -0x1p-60, 3.0 * 0x1p-60, largest, -largest, 2.0 / 3.0}) {
    const ExactSum sum(v);
    EXPECT_TRUE(sum.Valid()) << v;
    EXPECT_EQ(Bits(sum.ToDouble()), Bits(v == 0.0 ? 0.0 : v)) << v;
    ExactSum back = sum;
    back += -v;
    EXPECT_TRUE(back.IsZero()) << v;
  }
  EXPECT_EQ(Bits(ExactSum(-0.0).ToDouble()), Bits(0.0));
}

TEST(ExactSumTest, SmallValuesRoundOnceToTheGrid) {
  const double step = ExactSum::Resolution;
  // Below half a step: 0; exactly half: ties to even; above: one step.
  EXPECT_EQ(ExactSum(0.25 * step).ToDouble(), 0.0);
  EXPECT_EQ(ExactSum(0.5 * step).ToDouble(), 0.0);
  EXPECT_EQ(ExactSum(1.5 * step).ToDouble(), 2.0 * step);
  EXPECT_EQ(ExactSum(0.75 * step).ToDouble(), step);
  EXPECT_EQ(ExactSum(-0.75 * step).ToDouble(), -step);
  // Each value is rounded on its own: four quarter steps add nothing, even
  // though their true sum is one step.
  ExactSum quarters;
  for (int i = 0; i < 4; ++i)
    quarters += 0.25 * step;
  EXPECT_TRUE(quarters.IsZero());
  // 1e-9 is not on the grid; its rounding error stays below half a step.
  EXPECT_LE(std::fabs(ExactSum(1e-9).ToDouble() - 1e-9), 0.5 * step);
}

TEST(ExactSumTest, ConversionRoundsOnlyOnce) {
  // 2^50 + 2^-3 + 2^-60 lies just above the midpoint between 2^50 and the
  // next double (2^50 + 2^-2): rounded once it goes up. Converting the low
  // 64-bit word first (2^57 + 1 on the grid rounds to 2^57) and then adding
  // the high word would land on the midpoint and go to even.
  ExactSum sum;
  sum += 0x1p50;
  sum += 0x1p-3;
  sum += 0x1p-60;
  EXPECT_EQ(sum.ToDouble(), 0x1p50 + 0x1p-2);
  ExactSum midpoint;
  midpoint += 0x1p50;
  midpoint += 0x1p-3;
  EXPECT_EQ(midpoint.ToDouble(), 0x1p50); // a true tie goes to even
}

TEST(ExactSumTest, ValuesThatDoNotFitMakeTheSumNaN) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double bad : {nan, inf, -inf, ExactSum::Limit, -ExactSum::Limit, 1e300, -2e20}) {
    ExactSum sum;
    sum += 1.0;
    sum += bad;
    EXPECT_FALSE(sum.Valid()) << bad;
    EXPECT_TRUE(std::isnan(sum.ToDouble())) << bad;
    // It stays invalid: nothing added later brings a number back.
    sum += -1.0;
    sum += ExactSum(5.0);
    EXPECT_FALSE(sum.Valid()) << bad;
    EXPECT_TRUE(std::isnan(sum.ToDouble())) << bad;
    // An invalid part makes the total invalid, in either order.
    ExactSum good(2.0);
    good += sum;
    EXPECT_FALSE(good.Valid()) << bad;
    EXPECT_EQ(good, sum);
    sum.Clear();
    EXPECT_TRUE(sum.IsZero());
    EXPECT_EQ(sum.ToDouble(), 0.0);
  }
}

TEST(ExactSumTest, SumsBeyondTheRangeNeverWrap) {
  const double big = 1.4e20; // fits alone, not twice
  for (double sign : {1.0, -1.0}) {
    ExactSum sum;
    sum += sign * big;
    EXPECT_TRUE(sum.Valid());
    sum += sign * big;
    EXPECT_FALSE(sum.Valid()) << sign;
    EXPECT_TRUE(std::isnan(sum.ToDouble()));
    // The same overflow through adding sums.
    ExactSum a(sign * big), b(sign * big);
    a += b;
    EXPECT_FALSE(a.Valid()) << sign;
  }
  // Opposite signs cancel without overflow, in any order.
  ExactSum cancel;
  cancel += big;
  cancel += -big;
  cancel += big;
  EXPECT_EQ(cancel.ToDouble(), big);
}

} // namespace
} // namespace tavro
