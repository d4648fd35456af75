// Weighted accumulator of one grid's values (count as a weight sum, minimum,
// maximum, mean and standard deviation), used by the grid writers for the
// statistics fields of binary grid headers. Values at or below no-data + 1
// are not counted.
#pragma once

namespace tavro {

struct GridStatisticsResult {
  double WeightSum = 0.0;
  double Minimum = 0.0;
  double Maximum = 0.0;
  double WeightedSum = 0.0;
  double Mean = -9999.0;              // -9999 without weight
  double StandardDeviation = -9999.0; // -9999 unless the weight sum exceeds 2
};

class GridStatistics {
public:
  // Stores the no-data value and clears every sum.
  void Reset(double noData);

  void Add(double value, double weight) {
    if (!(value > noData_ + 1.0))
      return;
    weightSum_ += weight;
    weightedSum_ += value * weight;
    weightedSquares_ += value * value * weight;
    if (!anyValue_) {
      minimum_ = maximum_ = value;
      anyValue_ = true;
    } else if (value < minimum_) {
      minimum_ = value;
    } else if (value > maximum_) {
      maximum_ = value;
    }
  }

  GridStatisticsResult Get() const;
  double NoData() const { return noData_; }

private:
  double weightSum_ = 0.0;
  double minimum_ = 0.0;
  double maximum_ = 0.0;
  double weightedSum_ = 0.0;
  double weightedSquares_ = 0.0;
  double noData_ = 0.0;
  bool anyValue_ = false;
};

} // namespace tavro
