// Retention, conductivity and freezing tables of a soil type and the lookups
// in them. The curves are evaluated only here while the tables are built;
// every lookup is a binary search over the 30 suction steps or a direct index
// into the freezing table, with one linear interpolation.
#include "tables/soil_class.h"

#include "tables/van_genuchten.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace tavro {
namespace {

constexpr int kSteps = soil_class::RetentionSteps;
constexpr int kFreezingSteps = soil_class::FreezingSteps;

// Bracket i (1..N-1) of x in a table that falls with the index: v[i] > x >= v[i+1].
// The callers have handled x >= v[1] and x beyond v[N]; the clamp only keeps
// a value outside the lookups' domain (NaN) inside the table.
int FallingBracket(const soil_class::RetentionArray &v, double x) {
  int lo = 1;
  int hi = kSteps;
  int mid = (hi - 1) / 2 + 1;
  while (lo <= hi) {
    if (x >= v[mid])
      hi = mid - 1;
    else
      lo = mid + 1;
    mid = lo + (hi - lo) / 2;
  }
  return std::clamp(hi, 1, kSteps - 1);
}

// Bracket i (0..N-1) of h in the rising suction steps: s[i] < h <= s[i+1].
int RisingBracket(const soil_class::RetentionArray &s, double h) {
  int lo = 1;
  int hi = kSteps;
  int mid = (hi - 1) / 2 + 1;
  while (lo <= hi) {
    if (h <= s[mid])
      hi = mid - 1;
    else
      lo = mid + 1;
    mid = lo + (hi - lo) / 2;
  }
  return std::clamp(hi, 0, kSteps - 1);
}

// Number of layers 1..n the per-layer spans can serve: a caller that hands
// too short arrays is a programming error, caught by the assertion in debug
// builds and kept inside the arrays in release builds.
int ServedLayers(int layerCount, std::size_t smallestSpan) {
  assert(smallestSpan >= static_cast<std::size_t>(layerCount) + 1);
  return std::min<long long>(layerCount, static_cast<long long>(smallestSpan) - 1);
}

} // namespace

void soil_class::ResizeLayers(int layerCount) {
  LayerCount = layerCount;
  const auto size = static_cast<std::size_t>(layerCount) + 1;
  for (auto *array : {&ksat, &thickness, &theta_sat, &theta_res, &Par_n, &Par_m, &alpha, &Par_tau,
                      &k_recession, &DryHeatCapacity, &DryDensity, &DryThermalConduct})
    array->assign(size, 0.0);
  Retention_.assign(size, RetentionTable{});
  const std::size_t curveSize = size * (FreezingSteps + 1);
  UnfrozenFraction_.assign(curveSize, 0.0);
  UnfrozenSlope_.assign(curveSize, 0.0);
  FreezingShift_.assign(curveSize, 0.0);
}

void soil_class::MakeRetentionTables(int layer) {
  RetentionTable &table = Retention_[layer];
  const double thetaSat = theta_sat[layer];
  const double thetaRes = theta_res[layer];
  const double a = alpha[layer];
  const double n = Par_n[layer];
  const double m = Par_m[layer];
  const double tau = Par_tau[layer];

  table.ThetaAtSuction[0] = table.ThetaForKrel[0] = table.ThetaForKrel[1] = thetaSat;
  table.ThetaAtSuction[kSteps] = table.ThetaForKrel[kSteps] = thetaRes;
  table.KrelAtSuction[0] = 1.0; // never read
  for (int i = 1; i < kSteps; ++i) {
    const double se = van_genuchten::EffectiveSaturation(SuctionSteps[i], a, n, m);
    table.ThetaAtSuction[i] = table.ThetaForKrel[i] = thetaRes + (thetaSat - thetaRes) * se;
    table.KrelAtSuction[i] = van_genuchten::MualemRelativeConductivity(se, m, tau);
  }
  table.KrelAtSuction[kSteps] = 0.0;
}

void soil_class::MakeFreezingCurve(int layer, double x) {
  const std::size_t base = static_cast<std::size_t>(layer) * (FreezingSteps + 1);
  double *fraction = UnfrozenFraction_.data() + base;
  double *slope = UnfrozenSlope_.data() + base;
  double *shift = FreezingShift_.data() + base;
  const double a = alpha[layer];
  const double n = Par_n[layer];
  const double m = Par_m[layer];
  const double tMin = FreezingMinTemperature;
  const double dT = tMin / kFreezingSteps;

  fraction[0] = 1.0;
  slope[0] = 0.0;
  double slopeMax = 0.0;
  double tPeak = 0.0;
  for (int i = 1; i <= kFreezingSteps; ++i) {
    const double T = i * dT;
    fraction[i] = van_genuchten::UnfrozenFraction(T, x, a, n, m);
    slope[i] = van_genuchten::UnfrozenFractionSlope(T, x, a, n, m);
    if (slope[i] > slopeMax) {
      slopeMax = slope[i];
      tPeak = T;
    }
  }

  // A curve without any slope (no freezing-point depression) needs no shift.
  if (!(slopeMax > 0.0)) {
    std::fill(shift, shift + kFreezingSteps + 1, 0.0);
    return;
  }

  const double c1 = 1.15 + 0.15;
  const double c2 = 1.15 - 1;
  const double c3 = c1 - 1;
  for (int i = 0; i <= kFreezingSteps; ++i) {
    const double y = (1.0 / kFreezingSteps) * i * slopeMax;
    // Temperature on the cold side of the peak where the slope falls to y.
    double tY = tMin;
    if (slope[kFreezingSteps] < y) {
      int j = kFreezingSteps - 1;
      while (j > 0 && slope[j] < y)
        --j;
      const double span = slope[j] - slope[j + 1];
      const double f = span != 0.0 ? (y - slope[j + 1]) / span : 1.0;
      tY = dT * (j * f + (j + 1) * (1 - f));
    }
    if (tY >= tPeak)
      shift[i] = 0.0;
    else if (tY < c1 * tPeak)
      shift[i] = tY - 1.15 * tPeak;
    else
      shift[i] = tY - tPeak * (1 + (tY - tPeak) * c2 / (tPeak * c3));
  }
}

double soil_class::GetSuction(int layer, double theta) const {
  const RetentionArray &v = Retention_[layer].ThetaAtSuction;
  if (theta <= v[kSteps])
    return SuctionSteps[kSteps];
  if (theta >= v[1])
    return 0.0;
  const int i = FallingBracket(v, theta);
  const double f = (theta - v[i + 1]) / (v[i] - v[i + 1]);
  return f * SuctionSteps[i] + (1 - f) * SuctionSteps[i + 1];
}

double soil_class::GetKrel(int layer, double theta1, double theta2) const {
  const RetentionTable &table = Retention_[layer];
  const RetentionArray &v = table.ThetaForKrel;
  const double x = theta2 < theta1 ? theta2 : theta1;
  if (x < v[kSteps])
    return table.KrelAtSuction[kSteps];
  if (x >= v[1])
    return 1.0;
  const int i = FallingBracket(v, x);
  const double f = (x - v[i + 1]) / (v[i] - v[i + 1]);
  return f * table.KrelAtSuction[i] + (1 - f) * table.KrelAtSuction[i + 1];
}

double soil_class::GetTheta(int layer, double h) const {
  const RetentionArray &theta = Retention_[layer].ThetaAtSuction;
  if (h >= SuctionSteps[kSteps])
    return theta[kSteps];
  const int i = RisingBracket(SuctionSteps, h);
  const double d = SuctionSteps[i + 1] - SuctionSteps[i];
  // Steps closer than 1 mm near saturation are not resolved.
  if (d < 0.001)
    return theta[i];
  const double f = (h - SuctionSteps[i]) / d;
  return f * theta[i + 1] + (1 - f) * theta[i];
}

double soil_class::TemperatureShift(int layer, double theta) const {
  const double *shift =
      FreezingShift_.data() + static_cast<std::size_t>(layer) * (FreezingSteps + 1);
  const double c =
      (theta - theta_res[layer]) / (theta_sat[layer] - theta_res[layer]) * kFreezingSteps;
  // Truncation towards zero: -1 < c < 0 extrapolates from elements 0 and 1.
  if (!(c > -1.0))
    return std::fabs(shift[0]);
  if (c >= kFreezingSteps)
    return std::fabs(shift[kFreezingSteps]);
  const int k = static_cast<int>(c);
  const double p = c - k;
  return std::fabs(shift[k + 1] * p + shift[k] * (1 - p));
}

double soil_class::InterpolateCurve(const std::vector<double> &curve, int layer,
                                    double shiftedT) const {
  const double *values = curve.data() + static_cast<std::size_t>(layer) * (FreezingSteps + 1);
  const double a = shiftedT * kFreezingSteps / FreezingMinTemperature;
  // Inside the curve a lies in (0, N); the clamp keeps other values in bounds.
  const double truncated = std::trunc(a);
  const int j = truncated >= kFreezingSteps ? kFreezingSteps - 1
                : truncated > 0.0           ? static_cast<int>(truncated)
                                            : 0;
  const double p = a - j;
  return values[j] * (1 - p) + values[j + 1] * p;
}

void soil_class::GetUnfrozenWaterFraction(std::span<double> fraction, std::span<const double> T,
                                          std::span<const double> theta) const {
  if (T.empty())
    return;
  const int layers = ServedLayers(LayerCount, std::min({fraction.size(), T.size(), theta.size()}));
  const double tMin = FreezingMinTemperature;
  for (int i = 1; i <= layers; ++i) {
    if (T[i] > 0.0) {
      fraction[i] = 1.0;
      continue;
    }
    if (T[i] <= tMin) {
      fraction[i] = 0.0;
      continue;
    }
    const double shifted = T[i] + TemperatureShift(i, theta[i]);
    fraction[i] = shifted >= 0.0 ? 1.0 : InterpolateCurve(UnfrozenFraction_, i, shifted);
  }
}

void soil_class::GetUnfrozenWaterSlope(std::span<double> slope, std::span<const double> T,
                                       std::span<const double> theta) const {
  if (T.empty())
    return;
  const int layers = ServedLayers(LayerCount, std::min({slope.size(), T.size(), theta.size()}));
  const double tMin = FreezingMinTemperature;
  for (int i = 1; i <= layers; ++i) {
    if (T[i] > 0.0 || T[i] < tMin) {
      slope[i] = 0.0;
      continue;
    }
    const double shifted = T[i] + TemperatureShift(i, theta[i]);
    slope[i] = shifted >= 0.0 ? 0.0 : InterpolateCurve(UnfrozenSlope_, i, shifted);
  }
}

void soil_class::GetHeatCapacity(std::span<const double> T, std::span<double> result,
                                 std::span<const double> fraction, std::span<const double> extra,
                                 std::span<const double> theta, double rho, double c_liquid,
                                 double c_ice0, double c_ice20) const {
  const int layers =
      ServedLayers(LayerCount, std::min({T.size(), result.size(), fraction.size(), extra.size(),
                                         theta.size(), DryDensity.size(), DryHeatCapacity.size()}));
  for (int i = 1; i <= layers; ++i) {
    double cIce = 0.0;
    if (T[i] >= 0.0)
      cIce = c_ice0;
    else if (T[i] < -20.0)
      cIce = c_ice20;
    else
      cIce = (T[i] / 20 + 1) * c_ice0 + (T[i] / -20) * c_ice20;
    result[i] = theta[i] * rho * (fraction[i] * c_liquid + (1 - fraction[i]) * cIce) +
                DryDensity[i] * DryHeatCapacity[i] + extra[i];
  }
}

} // namespace tavro
