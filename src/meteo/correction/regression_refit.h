// The refit of a three-segment elevation regression to corrected values:
// each segment is sampled along its elevation range, every sample is
// multiplied by the correction factor at that elevation, and a least-squares
// line through the samples replaces the segment. Pure arithmetic; the factor
// at an elevation comes from the caller.
#pragma once

#include <array>
#include <cmath>

namespace tavro::correction {

// Segment 1 below the lower inversion height h1, segment 2 between h1 and
// the upper inversion height h2, segment 3 above h2: value = intercept +
// slope * elevation. Element 0 of both arrays is carried along unchanged.
struct RegressionSegments {
  double LowerHeight = 0.0; // h1 (m)
  double UpperHeight = 0.0; // h2 (m)
  std::array<double, 4> Intercept{};
  std::array<double, 4> Slope{};
};

// Least-squares line through samples at z = first, first + step, ... (z
// accumulated, tested against last before every sample) of the segment's
// line times factorAt(z). The segment is kept when the range holds fewer
// than two distinct samples or never ends (step not above 0).
template <class FactorAt>
void RefitSegment(RegressionSegments &r, int segment, double first, double step, double last,
                  FactorAt &&factorAt) {
  if (!(step > 0.0) || !(first <= last))
    return;
  const double intercept = r.Intercept[segment], slope = r.Slope[segment];
  double n = 0.0, sumZ = 0.0, sumV = 0.0, sumZZ = 0.0, sumZV = 0.0;
  for (double z = first; z <= last; z += step) {
    const double value = factorAt(z) * (slope * z + intercept);
    n += 1.0;
    sumZ += z;
    sumV += value;
    sumZZ += z * z;
    sumZV += z * value;
  }
  const double denominator = n * sumZZ - sumZ * sumZ;
  if (n < 2.0 || denominator == 0.0)
    return;
  const double newSlope = (n * sumZV - sumZ * sumV) / denominator;
  r.Slope[segment] = newSlope;
  r.Intercept[segment] = (sumV - newSlope * sumZ) / n;
}

// Refits the regression below maxElevation (the domain's highest cell):
// segment 1 on [0, h1] when h1 > 0 and its slope is not 0, else segment 2 on
// [0, h2]; segment 3 on [h2, max(2 h2, maxElevation)] when its slope is not 0
// and maxElevation is above h2. With h1 > 0 (and h2 above it) segment 2
// becomes the line joining segment 1 at h1 with segment 3 at h2; otherwise h2
// moves to the crossing of segments 2 and 3 when their slopes differ by more
// than 0.0001.
template <class FactorAt>
void RefitRegression(RegressionSegments &r, double maxElevation, FactorAt &&factorAt) {
  const double h1 = r.LowerHeight, h2 = r.UpperHeight;
  if (h1 > 0.0 && r.Slope[1] != 0.0)
    RefitSegment(r, 1, 0.0, h1 / 10.0, h1, factorAt);
  else
    RefitSegment(r, 2, 0.0, h2 / 10.0, h2, factorAt);
  if (r.Slope[3] != 0.0 && maxElevation > h2)
    RefitSegment(r, 3, h2, (maxElevation - h2) / 10.0, std::fmax(2.0 * h2, maxElevation), factorAt);
  if (h1 > 0.0) {
    if (h2 > h1) {
      const double atH1 = r.Slope[1] * h1 + r.Intercept[1];
      const double atH2 = r.Slope[3] * h2 + r.Intercept[3];
      r.Slope[2] = (atH2 - atH1) / (h2 - h1);
      r.Intercept[2] = (r.Slope[1] - r.Slope[2]) * h1 + r.Intercept[1];
    }
  } else if (std::fabs(r.Slope[3] - r.Slope[2]) > 0.0001) {
    r.UpperHeight = (r.Intercept[2] - r.Intercept[3]) / (r.Slope[3] - r.Slope[2]);
  }
}

} // namespace tavro::correction
