// The natural cubic spline of one dimension that the mesh interpolation runs
// first along every mesh column and then along every row: the second
// derivatives of a run of valid nodes (tridiagonal algorithm, both ends
// natural) and the spline's value at a point, with the interval search
// carried from one call to the next so that a sweep along increasing points
// costs one pass. Pure kernels on plain arrays (index 0 is the first node).
#pragma once

#include <cstddef>
#include <span>

namespace tavro::interpolation {

// Two neighbouring abscissae of a spline are the same: the spline has no
// interval there. Positions are 1-based, as the model counts nodes.
struct EqualAbscissae {
  double First = 0.0;
  std::size_t FirstIndex = 0;
  double Second = 0.0;
  std::size_t SecondIndex = 0;
};

// The interval of the last evaluation: node Low and Low + 1. Belongs to the
// caller; start a sweep with a fresh one or carry it along.
struct SplineInterval {
  std::size_t Low = 0;
};

// Second derivatives y2 of the natural cubic spline through (x[k], y[k]),
// k = 0..n-1, the abscissae increasing (or decreasing). work holds at least n
// doubles. A run of one node gets 0. Throws EqualAbscissae when two
// neighbouring abscissae are equal.
void SecondDerivatives(std::span<const double> x, std::span<const double> y, std::span<double> y2,
                       std::span<double> work);

// The spline's value at a over the increasing abscissae x (n nodes). A node
// is valid when its value is at least validFrom; y2 holds the second
// derivatives of each run of valid nodes. The value is missing when a lies
// outside [x[0], x[n-1]] (no extrapolation) or its interval has an invalid
// node (no value across a gap); a point exactly on the last node of a run
// takes that node's value. Throws EqualAbscissae for an interval of length 0.
double Evaluate1D(std::span<const double> x, std::span<const double> y, std::span<const double> y2,
                  double a, double validFrom, double missing, SplineInterval &interval);

// Second derivatives of every maximal run of consecutive valid nodes (value
// at least validFrom), each run a natural spline of its own; invalid nodes
// get 0 (they are never read).
void RunSecondDerivatives(std::span<const double> x, std::span<const double> y,
                          std::span<double> y2, std::span<double> work, double validFrom);

} // namespace tavro::interpolation
