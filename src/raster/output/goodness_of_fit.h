// Goodness of fit between routed and observed discharge: the six sums per
// subbasin and time lag that the routing module collects step by step (one
// table of the values, one of their natural logarithms), and the two measures
// written at the end of a run, a pure function of those sums:
//   R = 1 - (sum of e^2 / (n - 1)) / V   (Nash-Sutcliffe efficiency at full pairing)
//   C = 1 - W / V                         (1 - error variance / observed variance)
// with e = simulated - observed, V the observed variance and W the variance of e.
#pragma once

#include <vector>

namespace tavro {

// Lags -10..+10 steps; the lag of index i is i - 10.
inline constexpr int kFitLagCount = 21;
inline constexpr int kFitZeroLagIndex = 10;
// Written where a measure is undefined.
inline constexpr double kFitNoData = -9999.0;

// Sums over the compared pairs of one subbasin at one lag: six contiguous
// doubles in the order the routing module fills them.
struct FitSums {
  double pairs = 0.0;              // number of simulated/observed pairs
  double sumError = 0.0;           // sum of e = simulated - observed
  double sumSquaredError = 0.0;    // sum of e^2
  double observedCount = 0.0;      // number of observed values
  double sumObserved = 0.0;        // sum of o
  double sumSquaredObserved = 0.0; // sum of o^2

  // Adds one pair to all six sums.
  void AddPair(double simulated, double observed);
};

static_assert(sizeof(FitSums) == 6 * sizeof(double), "six sums in their documented order");

// The sums of 21 lags by subbasins 1..N (subbasin 0 unused), zero-filled.
class FitSumTable {
public:
  FitSumTable() = default;
  explicit FitSumTable(int subbasinCount);

  int SubbasinCount() const { return subbasins_; }
  // lagIndex 0..20, subbasin 0..N (asserted).
  FitSums &At(int lagIndex, int subbasin);
  const FitSums &At(int lagIndex, int subbasin) const;
  // The sums of a subbasin at a lag, or empty sums (no data) for a subbasin
  // or lag the table does not hold.
  FitSums SumsOf(int lagIndex, int subbasin) const;
  void Clear();

private:
  std::size_t Offset(int lagIndex, int subbasin) const;

  int subbasins_ = 0;
  std::vector<FitSums> sums_;
};

// The linear and the logarithmic table of the routing module's comparison.
struct GoodnessOfFitSums {
  explicit GoodnessOfFitSums(int subbasinCount = 0)
      : linear(subbasinCount), logarithmic(subbasinCount) {}

  // One comparison at a lag: nothing for an observed value of 0 or less (no
  // observation); the linear sums take the pair, the logarithmic sums take the
  // natural logarithms of both when the simulated value is above 0 too.
  void AddComparison(int lagIndex, int subbasin, double simulated, double observed);

  FitSumTable linear;
  FitSumTable logarithmic;
};

struct FitMeasures {
  double R = kFitNoData;
  double C = kFitNoData;
};

// R and C of one set of sums. Both are kFitNoData (undefined) with fewer than
// 3 pairs, fewer than 3 observed values, or an observed variance of 0 (within
// the rounding of its sums). A perfect fit gives R = C = 1; an error of
// constant size gives C = 1.
FitMeasures ComputeFitMeasures(const FitSums &sums);

} // namespace tavro
