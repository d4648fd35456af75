// Mean and standard deviation of the weighted grid-statistics accumulator.
#include "kernel/grid_statistics.h"

#include <cmath>

namespace tavro {

void GridStatistics::Reset(double noData) { *this = GridStatistics{}, noData_ = noData; }

GridStatisticsResult GridStatistics::Get() const {
  GridStatisticsResult result;
  result.WeightSum = weightSum_;
  result.Minimum = minimum_;
  result.Maximum = maximum_;
  result.WeightedSum = weightedSum_;
  if (weightSum_ > 0.0)
    result.Mean = weightedSum_ / weightSum_;
  if (weightSum_ > 2.0) {
    const double variance =
        (weightedSquares_ - weightedSum_ * weightedSum_ / weightSum_) / (weightSum_ - 1.0);
    // Rounding can leave a tiny negative variance for constant values; the
    // deviation is then 0, never negative.
    result.StandardDeviation = variance > 0.0 ? std::sqrt(variance) : 0.0;
  }
  return result;
}

} // namespace tavro
