// Goodness-of-fit sums and measures.
#include "raster/output/goodness_of_fit.h"

#include <cassert>
#include <cfloat>
#include <cmath>

namespace tavro {
namespace {

// Sum of squared deviations from the mean, sum(x^2) - (sum x)^2 / count, with
// the rounding of the two large terms taken as no spread: values that are all
// alike must not produce a tiny variance (and a huge measure) from rounding.
double SquaredDeviations(double sumSquares, double sum, double count) {
  const double spread = sumSquares - sum * sum / count;
  if (!(std::fabs(spread) > 16.0 * DBL_EPSILON * std::fabs(sumSquares)))
    return 0.0;
  return spread;
}

} // namespace

void FitSums::AddPair(double simulated, double observed) {
  const double e = simulated - observed;
  pairs += 1.0;
  sumError += e;
  sumSquaredError += e * e;
  observedCount += 1.0;
  sumObserved += observed;
  sumSquaredObserved += observed * observed;
}

FitSumTable::FitSumTable(int subbasinCount)
    : subbasins_(subbasinCount < 0 ? 0 : subbasinCount),
      sums_(static_cast<std::size_t>(kFitLagCount) * (static_cast<std::size_t>(subbasins_) + 1)) {}

std::size_t FitSumTable::Offset(int lagIndex, int subbasin) const {
  assert(lagIndex >= 0 && lagIndex < kFitLagCount && subbasin >= 0 && subbasin <= subbasins_);
  return static_cast<std::size_t>(lagIndex) * (static_cast<std::size_t>(subbasins_) + 1) +
         static_cast<std::size_t>(subbasin);
}

FitSums &FitSumTable::At(int lagIndex, int subbasin) { return sums_[Offset(lagIndex, subbasin)]; }

const FitSums &FitSumTable::At(int lagIndex, int subbasin) const {
  return sums_[Offset(lagIndex, subbasin)];
}

FitSums FitSumTable::SumsOf(int lagIndex, int subbasin) const {
  if (lagIndex < 0 || lagIndex >= kFitLagCount || subbasin < 1 || subbasin > subbasins_)
    return {};
  return At(lagIndex, subbasin);
}

void FitSumTable::Clear() {
  for (FitSums &sums : sums_)
    sums = FitSums{};
}

void GoodnessOfFitSums::AddComparison(int lagIndex, int subbasin, double simulated,
                                      double observed) {
  if (!(observed > 0.0))
    return;
  linear.At(lagIndex, subbasin).AddPair(simulated, observed);
  if (simulated > 0.0)
    logarithmic.At(lagIndex, subbasin).AddPair(std::log(simulated), std::log(observed));
}

FitMeasures ComputeFitMeasures(const FitSums &s) {
  const double n = s.pairs;
  const double m = s.observedCount;
  if (!(n > 2.0) || !(m > 2.0))
    return {};
  const double variance = SquaredDeviations(s.sumSquaredObserved, s.sumObserved, m) / (m - 1.0);
  if (!(variance > 0.0))
    return {};
  const double errorVariance = SquaredDeviations(s.sumSquaredError, s.sumError, n) / (n - 1.0);
  FitMeasures measures;
  measures.R = 1.0 - (s.sumSquaredError / (n - 1.0)) / variance;
  measures.C = 1.0 - errorVariance / variance;
  return measures;
}

} // namespace tavro
