// The dump inspector of one cell's call.
#include "soil/cell_dumper.h"

#include <algorithm>

namespace tavro {
namespace {

// Copies levels 0..n of a column (0 where the source is shorter).
void CopyColumn(std::span<const double> from, std::vector<double> &to) {
  const std::size_t count = std::min(from.size(), to.size());
  std::copy_n(from.begin(), count, to.begin());
  std::fill(to.begin() + static_cast<std::ptrdiff_t>(count), to.end(), 0.0);
}

void CopyColumn(const std::vector<double> &from, std::vector<double> &to) {
  CopyColumn(std::span<const double>(from), to);
}

} // namespace

void CellDumper::BeforeIteration(const InternalStepView &view) {
  DumpSnapshot &s = snapshot_;
  const ColumnState &state = *view.state;
  const ColumnGeometry &geometry = *view.geometry;
  s.rootedLayers = view.rootedLayers;
  s.meanSuction = state.last_mean_suction;
  s.inputRate = view.inputRate;
  s.baseflow = *view.baseflowRate;
  for (std::size_t l = 0; l < s.realTranspiration.size(); ++l)
    s.realTranspiration[l] = (l < context_.transpiration.size() ? context_.transpiration[l] : 0.0) +
                             (l < view.transpiration.size() ? view.transpiration[l] : 0.0);
  CopyColumn(state.exchange_in, s.exchangeIn);
  CopyColumn(state.exchange_out, s.exchangeOut);
  CopyColumn(state.suction_old, s.suctionOld);
  CopyColumn(state.theta_old, s.thetaOld);
  CopyColumn(state.theta_iter, s.thetaIter);
  CopyColumn(state.head, s.head);
  CopyColumn(state.z_bottom, s.zBottom);
  CopyColumn(state.flux, s.flux);
  CopyColumn(state.interflow_out, s.interflowOut);
  CopyColumn(geometry.theta_s, s.thetaSat);
  CopyColumn(geometry.dz, s.dz);
  CopyColumn(state.theta_new, s.thetaNew);
  CopyColumn(geometry.theta_r, s.thetaR);
  CopyColumn(state.theta, s.theta);
  if (view.heat != nullptr) {
    const ColumnHeatWork &work = *view.heat->work;
    CopyColumn(state.liquid_fraction, s.liquidFraction);
    CopyColumn(view.heat->cell.T, s.temperature);
    CopyColumn(work.lambda, s.conductivity);
    CopyColumn(work.s, s.curveSlope);
    CopyColumn(work.C, s.heatCapacity);
    CopyColumn(work.q, s.conduction);
    CopyColumn(work.old, s.temperatureStart);
    s.heatStepLength = view.heatSeconds;
    s.heatSteps = view.heatSteps;
    s.heatStepsPerInternalStep = view.heatPerInternal;
  }
  s.soilType = context_.soilType;
  CopyColumn(context_.landuseCodes, s.landuseCodes);
  s.date = context_.stepDate;
  s.internalSteps = view.steps;
  s.dt = view.dt;
  s.airTemperature = context_.airTemperature;
}

void CellDumper::AfterIteration(const InternalStepView &view) {
  ColumnState &state = *view.state;
  const ColumnGeometry &geometry = *view.geometry;
  const int n = geometry.layers;
  const auto levels = static_cast<std::size_t>(n) + 1;
  const std::span<double> theta(state.theta.data(), levels);
  const std::span<const double> thetaSat = geometry.theta_s.first(levels);
  DumpTemperatures temperatures;
  DumpTemperatures *heat = nullptr;
  if (view.heat != nullptr) {
    // The snapshot holds the temperatures of the start of the internal step.
    temperatures.now = view.heat->cell.T.first(levels);
    temperatures.start = std::span<const double>(snapshot_.temperature).first(levels);
    temperatures.surface = view.heat->cell.airT * view.heat->cell.nFactor;
    heat = &temperatures;
  }
  const DumpChecks checks = CheckCell(*view.baseflowRate, theta, thetaSat, n, heat);
  if (!checks.Failed())
    return;
  DumpPlace place = context_.place;
  place.internalStep = view.step;
  if (HandleFailedChecks(checks, place, snapshot_, context_.maxLayers, context_.landuseLayers,
                         context_.options, *view.baseflowRate, theta, thetaSat, heat, log_,
                         errors_))
    throw kCloseAfterDumpExitCode; // the recorded entry is logged once after the loop
}

} // namespace tavro
