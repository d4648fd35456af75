// Goodness-of-fit measures from the six sums, checked against the measures
// computed directly from the simulated and observed series: at full pairing R
// is the Nash-Sutcliffe efficiency 1 - sum (s - o)^2 / sum (o - mean o)^2
// (Nash and Sutcliffe, 1970) and C is 1 - var(s - o) / var(o), both computed
// here in two passes over the series, not from the sums.
#include "raster/output/goodness_of_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace tavro {
namespace {

double Mean(const std::vector<double> &x) {
  double sum = 0.0;
  for (const double v : x)
    sum += v;
  return sum / static_cast<double>(x.size());
}

// Sample variance in two passes.
double Variance(const std::vector<double> &x) {
  const double mean = Mean(x);
  double sum = 0.0;
  for (const double v : x)
    sum += (v - mean) * (v - mean);
  return sum / static_cast<double>(x.size() - 1);
}

double NashSutcliffe(const std::vector<double> &s, const std::vector<double> &o) {
  const double mean = Mean(o);
  double errors = 0.0;
  double spread = 0.0;
  for (std::size_t t = 0; t < o.size(); ++t) {
    errors += (s[t] - o[t]) * (s[t] - o[t]);
    spread += (o[t] - mean) * (o[t] - mean);
  }
  return 1.0 - errors / spread;
}

double ErrorVarianceRatio(const std::vector<double> &s, const std::vector<double> &o) {
  std::vector<double> e(o.size());
  for (std::size_t t = 0; t < o.size(); ++t)
    e[t] = s[t] - o[t];
  return 1.0 - Variance(e) / Variance(o);
}

FitSums SumsOf(const std::vector<double> &s, const std::vector<double> &o) {
  FitSums sums;
  for (std::size_t t = 0; t < o.size(); ++t)
    sums.AddPair(s[t], o[t]);
  return sums;
}

// A hydrograph-like observed series and a simulation that is damped,
// shifted and disturbed.
void Series(std::vector<double> &s, std::vector<double> &o) {
  for (int t = 0; t < 60; ++t) {
    const double observed = 5.0 + 3.0 * std::sin(t / 4.0) + 0.1 * t + (t % 7 == 3 ? 4.0 : 0.0);
    o.push_back(observed);
    s.push_back(0.9 * observed + 0.4 + 0.3 * std::cos(1.3 * t));
  }
}

TEST(GoodnessOfFitTest, MeasuresEqualNashSutcliffeAndErrorVarianceRatioAtFullPairing) {
  std::vector<double> s;
  std::vector<double> o;
  Series(s, o);
  const FitMeasures measures = ComputeFitMeasures(SumsOf(s, o));
  EXPECT_NEAR(measures.R, NashSutcliffe(s, o), 1e-12);
  EXPECT_NEAR(measures.C, ErrorVarianceRatio(s, o), 1e-12);
  EXPECT_LT(measures.R, measures.C); // the bias lowers R, not C
}

TEST(GoodnessOfFitTest, TableOfCases) {
  const std::vector<double> o{1.0, 2.5, 4.0, 3.0, 1.5};
  const double bias = 0.75;
  std::vector<double> biased;
  for (const double v : o)
    biased.push_back(v + bias);
  // Constant bias: 1 - n b^2 / sum (o - mean)^2 by the definition of R.
  const double spread = Variance(o) * static_cast<double>(o.size() - 1);
  const double biasedR = 1.0 - static_cast<double>(o.size()) * bias * bias / spread;

  struct Case {
    std::string name;
    FitSums sums;
    double R;
    double C;
  };
  const std::vector<Case> cases = {
      {"perfect fit", SumsOf(o, o), 1.0, 1.0},
      {"constant bias", SumsOf(biased, o), biasedR, 1.0},
      {"two pairs", SumsOf({1.0, 2.0}, {1.5, 2.5}), kFitNoData, kFitNoData},
      // 0.1 is not exact in binary: the variance must still come out as 0.
      {"constant observations", SumsOf({0.3, 0.1, 0.2, 0.05}, {0.1, 0.1, 0.1, 0.1}), kFitNoData,
       kFitNoData},
      {"no observations", FitSums{}, kFitNoData, kFitNoData},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const FitMeasures measures = ComputeFitMeasures(c.sums);
    EXPECT_NEAR(measures.R, c.R, 1e-12);
    EXPECT_NEAR(measures.C, c.C, 1e-12);
  }
  EXPECT_LT(biasedR, 1.0);
}

TEST(GoodnessOfFitTest, FewObservedValuesLeaveTheMeasuresUndefined) {
  // Three pairs but only two observed values counted: V needs three.
  FitSums sums = SumsOf({1.0, 2.0, 3.5}, {1.0, 2.5, 3.0});
  sums.observedCount = 2.0;
  const FitMeasures measures = ComputeFitMeasures(sums);
  EXPECT_EQ(measures.R, kFitNoData);
  EXPECT_EQ(measures.C, kFitNoData);
}

TEST(GoodnessOfFitTest, ComparisonsSkipMissingObservationsAndTakeLogarithmsOfPositiveValues) {
  GoodnessOfFitSums sums(2);
  sums.AddComparison(3, 2, 4.0, 0.0);  // no observation
  sums.AddComparison(3, 2, 4.0, -1.0); // no observation
  sums.AddComparison(3, 2, 0.0, 2.0);  // linear only: no logarithm of 0
  sums.AddComparison(3, 2, std::exp(1.0), std::exp(2.0));

  const FitSums &linear = sums.linear.At(3, 2);
  EXPECT_EQ(linear.pairs, 2.0);
  EXPECT_EQ(linear.observedCount, 2.0);
  EXPECT_DOUBLE_EQ(linear.sumError, -2.0 + std::exp(1.0) - std::exp(2.0));
  EXPECT_DOUBLE_EQ(linear.sumObserved, 2.0 + std::exp(2.0));

  const FitSums &logarithmic = sums.logarithmic.At(3, 2);
  EXPECT_EQ(logarithmic.pairs, 1.0);
  EXPECT_DOUBLE_EQ(logarithmic.sumError, -1.0);
  EXPECT_DOUBLE_EQ(logarithmic.sumSquaredError, 1.0);
  EXPECT_DOUBLE_EQ(logarithmic.sumObserved, 2.0);
  EXPECT_DOUBLE_EQ(logarithmic.sumSquaredObserved, 4.0);

  // Other lags and subbasins stay empty; a subbasin the table lacks reads empty.
  EXPECT_EQ(sums.linear.At(2, 2).pairs, 0.0);
  EXPECT_EQ(sums.linear.At(3, 1).pairs, 0.0);
  EXPECT_EQ(sums.linear.SumsOf(3, 3).pairs, 0.0);
}

} // namespace
} // namespace tavro
