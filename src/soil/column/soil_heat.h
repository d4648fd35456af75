// Soil heat and frozen soil of one column: conductivity, latent term, the
// conductive fluxes, the explicit and implicit heat steps, the surface
// n-factor, the heat step count, the thaw outputs and the initial profile.
// Pure per-cell functions; layer arrays are indexed 1..n (element 0 unused
// unless stated) and hold at least n + 1 values.
#pragma once

#include <span>
#include <vector>

namespace tavro {

// Conductivity of air in the soil pores, W/(m K).
inline constexpr double kAirConductivity = 0.0262;
// Heat capacity of the water carried by the water flux, J/(m3 K).
inline constexpr double kWaterFluxHeatCapacity = 4187000.0;

// The two numbers of the saturated conductivity, kept per soil layer:
// dry[j] = lambda_dry^(1 - theta_s) and water[j] = lambda_water^theta_s.
struct SaturatedHeatConductivity {
  std::vector<double> dry;
  std::vector<double> water;
};

// Builds the per-layer numbers once, before the first step, so that threads
// only read them and layered soils use their own layer's values.
SaturatedHeatConductivity MakeSaturatedHeatConductivity(std::span<const double> thetaSat,
                                                        std::span<const double> lambdaDry,
                                                        int layers, double lambdaWater);

// Per-layer soil properties the conductivity needs.
struct HeatConductivitySoil {
  std::span<const double> thetaSat;
  std::span<const double> lambdaDry;
  const SaturatedHeatConductivity &saturated;
};

// lambda[j] from the liquid share f and the water content theta.
void ComputeHeatConductivity(std::span<double> lambda, const HeatConductivitySoil &soil,
                             std::span<const double> f, std::span<const double> theta, int layers,
                             double lambdaWater, double lambdaIce);

// Turns the slope s of the unfrozen-water curve into the latent term
// latentHeat * rhoWater * (theta - theta_r) * s (0 at or below theta_r).
void ComputeLatentHeatTerm(std::span<const double> theta, std::span<const double> thetaRes,
                           std::span<double> s, int layers, double latentHeat, double rhoWater);

// Conductive heat fluxes q[0..n] (W/m2, positive upward) between the surface
// at nf * T_air, the layers and the lower boundary at T_lb.
void ComputeHeatFluxes(std::span<double> q, std::span<const double> lambda,
                       std::span<const double> dz, std::span<const double> T, int layers,
                       double lowerT, double airT, double nFactor);

// Explicit change dT[j] = t / (dz C) (q[j] - q[j-1]); t is taken in whole
// seconds.
void ComputeTemperatureChange(std::span<double> dT, std::span<const double> q,
                              std::span<const double> dz, std::span<const double> C, int layers,
                              double seconds);

// T[j] += dT[j] from the bottom layer up; with limit set no layer passes the
// old temperatures of its neighbours in the direction the heat flows.
void ApplyTemperatureChange(std::span<double> T, std::span<const double> oldT,
                            std::span<const double> dT, std::span<const double> q, int layers,
                            bool limit, double lowerT, double airT);

// Everything one implicit heat step reads.
struct ImplicitHeatInput {
  std::span<const double> lambda;
  std::span<const double> C;
  std::span<const double> dz;
  std::span<const double> oldT;
  int layers = 0;
  double seconds = 0;                // heat step length
  double nFactor = 1;                // surface n-factor
  double airT = 0;                   // air temperature
  double boundaryT = 0;              // temperature below the column
  bool withWater = false;            // heat moves with the water
  std::span<const double> waterFlux; // q_w[0..n], m/s, positive upward
  std::span<const double> macropore; // macropore water per layer, m/s
  double macroporeT = 0;             // temperature of the macropore water
};

// Work arrays of the tridiagonal system, one set per thread.
struct TridiagonalWork {
  std::vector<double> a, b, c, d;
  explicit TridiagonalWork(int layers)
      : a(layers + 1), b(layers + 1), c(layers + 1), d(layers + 1) {}
};

// One implicit heat step: newT[1..n]. With water, inflow across a layer
// boundary couples the layer to the upstream temperature, and the layer gives
// up the same heat at its own temperature, so advected heat is conserved.
void SolveHeatImplicit(const ImplicitHeatInput &in, TridiagonalWork &work, std::span<double> newT);

// Temperature below the column when a heat flux (W/m2, positive upward) is
// prescribed: half a layer below the bottom layer's centre.
double HeatFluxBoundaryTemperature(double heatFlux, double dzBottom, double lambdaBottom,
                                   double oldBottomT);

// Surface n-factor: the land use's seasonal value, or when that is negative
// its freezing / thawing value by the sign of T_air, each falling back to the
// module's default when negative.
double SurfaceNFactor(double seasonal, double airT, double landuseFreezing, double landuseThawing,
                      double defaultFreezing, double defaultThawing);

// Smallest k >= 1 for which the trial change dT1 of the top layer over the
// whole step stepSeconds is acceptable and stepSeconds / k is not too long.
int HeatStepCount(double trialChangeTop, double airT, double oldTopT, double stepSeconds,
                  double shortestStep, double longestStep);

// Everything the pre-stage's trial step reads; q and change are work arrays
// of n + 1 values.
struct HeatTrialStep {
  std::span<const double> lambda;
  std::span<const double> C;
  std::span<const double> dz;
  std::span<const double> T;
  int layers = 0;
  double lowerT = 0;
  double airT = 0;
  double nFactor = 1;
  double stepSeconds = 0; // the whole module time step
  double shortestStep = 60;
  double longestStep = 1800;
};
// Heat step count H of the pre-stage: one unlimited explicit trial step over
// the whole module step, judged by HeatStepCount. T is left untouched.
int HeatPreStageStepCount(const HeatTrialStep &in, std::span<double> q, std::span<double> change);

// Internal water steps n, heat steps H and heat steps per internal step h.
struct HeatStepPlan {
  int internalSteps = 1;
  int heatSteps = 1;
  int heatPerInternal = 1;
};
// Reconciles H with n water steps and the comparison bound b.
HeatStepPlan ReconcileHeatSteps(int heatSteps, int internalSteps, int bound);

// Thaw temperature of a layer from its unfrozen-fraction curve over 0 to
// -10 degC (curve.size() - 1 steps).
double ThawTemperature(std::span<const double> curve, double seForStat);

// Thaw depth (m, negative below the surface) from the layer temperatures,
// thaw temperatures and the boundary heights z[0..n] (z[0] the surface).
double ThawDepth(std::span<const double> T, std::span<const double> thawT,
                 std::span<const double> z, int layers, double lowerT);

// Thickness of frozen soil at or below the groundwater layer and below the
// thaw depth.
double FrozenSoilInGroundwater(std::span<const double> T, std::span<const double> thawT,
                               std::span<const double> z, std::span<const double> dz, int layers,
                               double thawDepth, int groundwaterLayer);

// Linear start profile between T_air at the surface and T_lb at the bottom,
// at the layer centres; T[0] = T_lb.
void InitialTemperatureProfile(std::span<double> T, std::span<const double> z, int layers,
                               double lowerT, double airT);

} // namespace tavro
