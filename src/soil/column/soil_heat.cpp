// Soil heat kernels of one column.
#include "soil/column/soil_heat.h"

#include <algorithm>
#include <cmath>

namespace tavro {

namespace {
// Below this distance to saturation the pores hold no air.
constexpr double kSaturationMargin = 0.01;
// Above this liquid share the ice term is left out.
constexpr double kLiquidShareAllWater = 0.99;
// The trial change of the top layer may be at most this share of the
// air-soil difference per heat step.
constexpr double kStepCountFactor = 0.25;
} // namespace

SaturatedHeatConductivity MakeSaturatedHeatConductivity(std::span<const double> thetaSat,
                                                        std::span<const double> lambdaDry,
                                                        int layers, double lambdaWater) {
  SaturatedHeatConductivity s;
  s.dry.assign(layers + 1, 0.0);
  s.water.assign(layers + 1, 0.0);
  for (int j = 1; j <= layers; ++j) {
    s.dry[j] = std::pow(lambdaDry[j], 1.0 - thetaSat[j]);
    s.water[j] = std::pow(lambdaWater, thetaSat[j]);
  }
  return s;
}

void ComputeHeatConductivity(std::span<double> lambda, const HeatConductivitySoil &soil,
                             std::span<const double> f, std::span<const double> theta, int layers,
                             double lambdaWater, double lambdaIce) {
  for (int j = 1; j <= layers; ++j) {
    const double ts = soil.thetaSat[j];
    const double th = theta[j];
    const bool allLiquid = f[j] >= kLiquidShareAllWater;
    if (ts - th < kSaturationMargin) {
      lambda[j] = allLiquid ? soil.saturated.dry[j] * soil.saturated.water[j]
                            : soil.saturated.dry[j] * std::pow(lambdaWater, f[j] * th) *
                                  std::pow(lambdaIce, (1.0 - f[j]) * th);
      continue;
    }
    const double e = th + 1.0 - ts;
    double solid =
        e * std::pow(soil.lambdaDry[j], (1.0 - ts) / e) * std::pow(lambdaWater, f[j] * th / e);
    if (!allLiquid)
      solid *= std::pow(lambdaIce, (1.0 - f[j]) * th / e);
    lambda[j] = (ts - th) * kAirConductivity + solid;
  }
}

void ComputeLatentHeatTerm(std::span<const double> theta, std::span<const double> thetaRes,
                           std::span<double> s, int layers, double latentHeat, double rhoWater) {
  for (int j = 1; j <= layers; ++j)
    s[j] = theta[j] > thetaRes[j] ? latentHeat * rhoWater * (theta[j] - thetaRes[j]) * s[j] : 0.0;
}

void ComputeHeatFluxes(std::span<double> q, std::span<const double> lambda,
                       std::span<const double> dz, std::span<const double> T, int layers,
                       double lowerT, double airT, double nFactor) {
  q[0] = -2.0 * lambda[1] / dz[1] * (nFactor * airT - T[1]);
  for (int j = 1; j < layers; ++j)
    q[j] = lambda[j] * (T[j] - T[j + 1]) / (-(dz[j] + dz[j + 1]) / 2.0);
  q[layers] = -2.0 * lambda[layers] / dz[layers] * (T[layers] - lowerT);
}

void ComputeTemperatureChange(std::span<double> dT, std::span<const double> q,
                              std::span<const double> dz, std::span<const double> C, int layers,
                              double seconds) {
  const double t = std::trunc(seconds);
  for (int j = 1; j <= layers; ++j)
    dT[j] = t / (dz[j] * C[j]) * (q[j] - q[j - 1]);
}

void ApplyTemperatureChange(std::span<double> T, std::span<const double> oldT,
                            std::span<const double> dT, std::span<const double> q, int layers,
                            bool limit, double lowerT, double airT) {
  for (int j = layers; j >= 1; --j) {
    T[j] += dT[j];
    if (!limit)
      continue;
    const double below = j == layers ? lowerT : oldT[j + 1];
    const double above = j == 1 ? airT : oldT[j - 1];
    const bool outTop = q[j - 1] >= 0.0;
    const bool inBottom = q[j] >= 0.0;
    if (outTop && inBottom)
      T[j] = std::min(T[j], below);
    else if (outTop)
      T[j] = std::max(T[j], std::min(below, above));
    else if (inBottom)
      T[j] = std::min(T[j], std::max(below, above));
    else
      T[j] = std::min(T[j], above);
  }
}

void SolveHeatImplicit(const ImplicitHeatInput &in, TridiagonalWork &work, std::span<double> newT) {
  const int n = in.layers;
  auto &A = work.a;
  auto &B = work.b;
  auto &Cc = work.c;
  auto &D = work.d;
  for (int j = 1; j <= n; ++j) {
    const double k = 2.0 * in.seconds / (in.dz[j] * in.C[j]);
    const double cw = kWaterFluxHeatCapacity * in.seconds / (in.dz[j] * in.C[j]);
    A[j] = j == 1 ? 0.0 : -in.lambda[j - 1] * k / (in.dz[j - 1] + in.dz[j]);
    Cc[j] = j == n ? 0.0 : -in.lambda[j] * k / (in.dz[j + 1] + in.dz[j]);
    double top = j == 1 ? in.lambda[1] * k / in.dz[1] : 0.0;
    double bottom = j == n ? in.lambda[n] * k / in.dz[n] : 0.0;
    double macro = 0.0;
    if (in.withWater) {
      const double qTop = in.waterFlux[j - 1];
      const double qBottom = in.waterFlux[j];
      // Water entering from above (downward flux) or below (upward flux)
      // brings the upstream temperature and leaves at the layer's own.
      if (qTop < 0.0) {
        if (j == 1)
          top -= qTop * cw;
        else
          A[j] += qTop * cw;
      }
      if (qBottom > 0.0) {
        if (j == n)
          bottom += qBottom * cw;
        else
          Cc[j] -= qBottom * cw;
      }
      macro = in.macropore[j] * cw;
    }
    B[j] = 1.0 - A[j] - Cc[j] + top + bottom + macro;
    D[j] = in.oldT[j] + top * in.nFactor * in.airT + bottom * in.boundaryT + macro * in.macroporeT;
  }
  for (int j = 2; j <= n; ++j) {
    const double m = A[j] / B[j - 1];
    B[j] -= Cc[j - 1] * m;
    D[j] -= m * D[j - 1];
  }
  newT[n] = D[n] / B[n];
  for (int j = n - 1; j >= 1; --j)
    newT[j] = (D[j] - Cc[j] * newT[j + 1]) / B[j];
}

double HeatFluxBoundaryTemperature(double heatFlux, double dzBottom, double lambdaBottom,
                                   double oldBottomT) {
  return heatFlux * dzBottom / (2.0 * lambdaBottom) + oldBottomT;
}

double SurfaceNFactor(double seasonal, double airT, double landuseFreezing, double landuseThawing,
                      double defaultFreezing, double defaultThawing) {
  if (seasonal >= 0.0)
    return seasonal;
  if (airT < 0.0)
    return landuseFreezing >= 0.0 ? landuseFreezing : defaultFreezing;
  return landuseThawing >= 0.0 ? landuseThawing : defaultThawing;
}

int HeatStepCount(double trialChangeTop, double airT, double oldTopT, double stepSeconds,
                  double shortestStep, double longestStep) {
  const double change = std::abs(trialChangeTop);
  const double allowed = std::abs(kStepCountFactor * (airT - oldTopT));
  for (int k = 1;; ++k) {
    const double length = stepSeconds / k;
    const bool tooCoarse = change > allowed * k && length > shortestStep;
    if (!tooCoarse && length <= longestStep)
      return k;
    if (length <= 0.0)
      return k;
  }
}

int HeatPreStageStepCount(const HeatTrialStep &in, std::span<double> q, std::span<double> change) {
  ComputeHeatFluxes(q, in.lambda, in.dz, in.T, in.layers, in.lowerT, in.airT, in.nFactor);
  ComputeTemperatureChange(change, q, in.dz, in.C, in.layers, in.stepSeconds);
  return HeatStepCount(change[1], in.airT, in.T[1], in.stepSeconds, in.shortestStep,
                       in.longestStep);
}

HeatStepPlan ReconcileHeatSteps(int heatSteps, int internalSteps, int bound) {
  HeatStepPlan p{internalSteps, heatSteps, 1};
  if (heatSteps > bound) {
    p.heatSteps = (heatSteps / internalSteps + 1) * internalSteps;
    p.heatPerInternal = p.heatSteps / internalSteps;
  } else if (heatSteps > internalSteps) {
    p.internalSteps = heatSteps;
  } else {
    p.heatSteps = internalSteps;
  }
  return p;
}

double ThawTemperature(std::span<const double> curve, double seForStat) {
  const int steps = static_cast<int>(curve.size()) - 1;
  const double perDegree = steps / 10.0;
  if (curve[0] <= seForStat)
    return -1.0 / perDegree;
  int k = 2;
  while (k < steps && curve[k] > seForStat)
    ++k;
  return -k / perDegree;
}

double ThawDepth(std::span<const double> T, std::span<const double> thawT,
                 std::span<const double> z, int layers, double lowerT) {
  double depth = 0.0;
  for (int j = 1; j < layers; ++j) {
    if (!(T[j] > thawT[j] && thawT[j] >= T[j + 1]))
      continue;
    const double upper = (z[j - 1] + z[j]) / 2.0;
    const double lower = (z[j] + z[j + 1]) / 2.0;
    const double height = upper + (thawT[j] - T[j]) * (lower - upper) / (T[j + 1] - T[j]);
    depth = height - z[0];
  }
  if (T[layers] > thawT[layers] && lowerT >= T[layers])
    depth = z[layers] - z[0];
  return depth;
}

double FrozenSoilInGroundwater(std::span<const double> T, std::span<const double> thawT,
                               std::span<const double> z, std::span<const double> dz, int layers,
                               double thawDepth, int groundwaterLayer) {
  double frozen = 0.0;
  for (int j = std::max(groundwaterLayer, 1); j <= layers; ++j)
    if (z[j - 1] - z[0] < thawDepth && T[j] <= thawT[j])
      frozen += dz[j];
  return frozen;
}

void InitialTemperatureProfile(std::span<double> T, std::span<const double> z, int layers,
                               double lowerT, double airT) {
  T[0] = lowerT;
  const double depth = z[0] - z[layers];
  for (int j = 1; j <= layers; ++j) {
    const double a = (z[0] - (z[j - 1] + z[j]) / 2.0) / depth;
    T[j] = a * lowerT + (1.0 - a) * airT;
  }
}

} // namespace tavro
