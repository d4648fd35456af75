// The value of one cell of a regional superposition: the sum over the cell's
// region sets (its own region and up to two neighbouring regions near a
// border) of every input value times the input's weight for that region
// times the cell's weight of the set. Pure arithmetic.
#pragma once

#include <cstddef>
#include <span>

namespace tavro::superposition {

// The value of a cell that cannot be computed.
inline constexpr double kMissing = -9999.0;

// One region set at a cell: the rank (1..regions) of its region code, 0 for a
// code without rank, and the cell's weight of the set.
struct RegionSet {
  int Rank = 0;
  double CellWeight = 0.0;
};

// inputAt(k): the value of input k (0..inputs-1) at the cell;
// weightOf(k, rank): the weight of input k for the region of that rank.
// A set whose code has no rank, or an input value at or below -9999 that
// carries a weight, makes the cell kMissing.
template <class InputAt, class WeightOf>
double BlendCell(std::span<const RegionSet> sets, std::size_t inputs, InputAt &&inputAt,
                 WeightOf &&weightOf) {
  double value = 0.0;
  for (const RegionSet &set : sets) {
    if (set.Rank < 1)
      return kMissing;
    for (std::size_t k = 0; k < inputs; ++k) {
      const double weight = weightOf(k, set.Rank) * set.CellWeight;
      if (weight == 0.0)
        continue;
      const double input = inputAt(k);
      if (input <= kMissing)
        return kMissing;
      value += input * weight;
    }
  }
  return value;
}

} // namespace tavro::superposition
