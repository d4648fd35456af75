// The heat part of one column step.
#include "soil/column_heat.h"

#include "tables/soil_class.h"

#include <algorithm>
#include <cmath>

namespace tavro {

namespace {

// f, lambda, the latent term and C of the temperatures T.
void HeatProperties(const ColumnHeatCell &cell, const ColumnHeatSettings &s,
                    const ColumnGeometry &geometry, const ColumnState &state,
                    std::span<const double> T, ColumnHeatWork &work) {
  const soil_class &soil = *cell.soil;
  const int n = geometry.layers;
  const std::span<const double> theta(state.theta.data(), static_cast<std::size_t>(n) + 1);
  const auto layers = static_cast<std::size_t>(soil.LayerCount) + 1;
  const std::span<const double> t = T.first(layers);
  soil.GetUnfrozenWaterFraction(std::span(work.f).first(layers), t, theta.first(layers));
  ComputeHeatConductivity(work.lambda, {geometry.theta_s, soil.DryThermalConduct, *cell.saturated},
                          work.f, theta, n, s.lamWater, s.lamIce);
  soil.GetUnfrozenWaterSlope(std::span(work.s).first(layers), t, theta.first(layers));
  ComputeLatentHeatTerm(theta, geometry.theta_r, work.s, n, s.latentHeat, s.rhoWater);
  soil.GetHeatCapacity(t, std::span(work.C).first(layers), work.f, work.s, theta.first(layers),
                       s.rhoWater, s.cWater, s.cIce0, s.cIce20);
}

void StoreLiquidFraction(ColumnState &state, const ColumnHeatWork &work, int n) {
  std::copy(work.f.begin(), work.f.begin() + n + 1, state.liquid_fraction.begin());
  state.use_liquid_fraction = true;
}

} // namespace

int HeatPreStage(const ColumnHeatCell &cell, const ColumnHeatSettings &settings,
                 const ColumnGeometry &geometry, ColumnState &state, double stepSeconds,
                 ColumnHeatWork &work) {
  const int n = geometry.layers;
  std::copy(cell.T.begin(), cell.T.begin() + n + 1, work.old.begin());
  HeatProperties(cell, settings, geometry, state, work.old, work);
  StoreLiquidFraction(state, work, n);
  const HeatTrialStep trial{
      work.lambda,         work.C,    geometry.dz,  work.old,    n,
      cell.lowerT,         cell.airT, cell.nFactor, stepSeconds, settings.shortestStep,
      settings.longestStep};
  return HeatPreStageStepCount(trial, work.q, work.change);
}

void HeatStep(ColumnHeatCell &cell, const ColumnHeatSettings &settings,
              const ColumnGeometry &geometry, ColumnState &state, double seconds,
              ColumnHeatWork &work) {
  const int n = geometry.layers;
  std::copy(cell.T.begin(), cell.T.begin() + n + 1, work.old.begin());
  HeatProperties(cell, settings, geometry, state, work.old, work);
  if (settings.method <= 10) {
    ComputeHeatFluxes(work.q, work.lambda, geometry.dz, work.old, n, cell.lowerT, cell.airT,
                      cell.nFactor);
    ComputeTemperatureChange(work.change, work.q, geometry.dz, work.C, n, seconds);
    ApplyTemperatureChange(cell.T, work.old, work.change, work.q, n, true, cell.lowerT, cell.airT);
  } else {
    const double boundary = settings.fluxLowerBoundary
                                ? HeatFluxBoundaryTemperature(cell.lowerFlux, geometry.dz[n],
                                                              work.lambda[n], work.old[n])
                                : cell.lowerT;
    const ImplicitHeatInput in{work.lambda,
                               work.C,
                               geometry.dz,
                               work.old,
                               n,
                               seconds,
                               cell.nFactor,
                               cell.airT,
                               boundary,
                               settings.method >= 12,
                               state.flux,
                               state.macropore_inflow,
                               cell.macroporeT};
    SolveHeatImplicit(in, work.tridiagonal, cell.T);
  }
  cell.soil->GetUnfrozenWaterFraction(
      std::span(work.f).first(static_cast<std::size_t>(cell.soil->LayerCount) + 1),
      cell.T.first(static_cast<std::size_t>(cell.soil->LayerCount) + 1),
      std::span<const double>(state.theta)
          .first(static_cast<std::size_t>(cell.soil->LayerCount) + 1));
  StoreLiquidFraction(state, work, n);
}

ThawOutputs ColumnThawOutputs(const ColumnHeatCell &cell, const ColumnHeatSettings &settings,
                              const ColumnGeometry &geometry, const ColumnState &state,
                              ColumnHeatWork &work) {
  const int n = geometry.layers;
  std::vector<double> &thaw = work.change; // free after the heat steps
  for (int j = 1; j <= n; ++j)
    thaw[static_cast<std::size_t>(j)] =
        ThawTemperature(cell.soil->UnfrozenFraction(j), settings.seForStat);
  ThawOutputs o;
  o.thawDepth = ThawDepth(cell.T, thaw, state.z_bottom, n, cell.lowerT);
  o.frozenInGroundwater = FrozenSoilInGroundwater(cell.T, thaw, state.z_bottom, geometry.dz, n,
                                                  o.thawDepth, state.groundwater_layer);
  return o;
}

} // namespace tavro
