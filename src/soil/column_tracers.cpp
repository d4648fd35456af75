// The tracers of one soil column over the internal steps of a call.
#include "soil/column_tracers.h"

#include <cstddef>

namespace tavro {

void ColumnTracers::Resize(int tracers, int maxLayers) {
  const auto size = static_cast<std::size_t>(tracers < 0 ? 0 : tracers) + 1;
  kinds.assign(size, SoluteKind{});
  storage.assign(size, std::span<double>{});
  inputConc.assign(size, 0.0);
  siltConc.assign(size, 0.0);
  siltPresent.assign(size, 0);
  riverConc.assign(size, 0.0);
  groundwaterConc.assign(size, 0.0);
  for (auto *sums : {&direct, &interflow, &baseflow, &exfiltration})
    sums->assign(size, TracerCallSum{});
  stepKinds.assign(size, SoluteKind{});
  outflows.assign(size, SoluteOutflows{});
  work.Resize(maxLayers);
}

void BeginTracerCall(ColumnTracers &tracers, int internalSteps) {
  for (int t = 1; t <= tracers.Count(); ++t) {
    const auto i = static_cast<std::size_t>(t);
    for (auto *sums :
         {&tracers.direct, &tracers.interflow, &tracers.baseflow, &tracers.exfiltration})
      (*sums)[i].Clear();
    tracers.stepKinds[i] = tracers.kinds[i];
    if (tracers.kinds[i].radioactive)
      tracers.stepKinds[i].decay = DecayPerInternalStep(tracers.kinds[i].decay, internalSteps);
  }
}

void TracersBelowTable(ColumnTracers &tracers, const ColumnState &state, int groundwaterLayer,
                       int layers, std::span<const double> dz) {
  for (int t = 1; t <= tracers.Count(); ++t) {
    const auto i = static_cast<std::size_t>(t);
    TracerBelowTable(tracers.kinds[i], tracers.groundwaterConc[i], groundwaterLayer, layers,
                     state.theta, dz, tracers.storage[i]);
  }
}

void MixTracerInput(ColumnTracers &tracers, const SurfaceWater &water) {
  for (int t = 1; t <= tracers.Count(); ++t) {
    const auto i = static_cast<std::size_t>(t);
    SurfaceWater own = water;
    own.siltingUpConcKnown = tracers.siltPresent[i] != 0;
    own.siltingUpConc = tracers.siltConc[i];
    double &store = tracers.storage[i][0];
    store = MixSurfaceInput(tracers.kinds[i], store, tracers.inputConc[i], own);
  }
}

void MoveColumnTracers(ColumnTracers &tracers, const ColumnGeometry &geometry,
                       const ColumnState &state, const TracerSurface &surface, double dt,
                       double tMs) {
  SoluteWater w;
  w.layers = geometry.layers;
  w.groundwaterLayer = state.groundwater_layer;
  w.theta = state.theta;
  w.thetaOld = state.theta_old;
  w.thetaSat = geometry.theta_s;
  w.dz = geometry.dz;
  w.zBottom = state.z_bottom;
  w.flux = state.flux;
  w.interflow = state.interflow_out;
  w.withdrawal = state.withdrawal;
  w.exfiltration = state.exchange_out;
  w.riverInfiltration = state.exchange_in;
  w.supply = state.supply;
  w.directRunoff = surface.directRate;
  w.interflowSum = surface.interflow / tMs;
  w.exfiltrationSum = state.exfiltration_sum;
  w.baseflow = surface.baseflowRate;
  w.dt = dt;
  w.tMs = tMs;
  w.groundwaterCoupled = surface.groundwaterCoupled;
  w.aquiferThickness = tracers.aquiferThickness;
  TransportSolutes(tracers.stepKinds, tracers.storage, tracers.riverConc, tracers.groundwaterConc,
                   w, tracers.work, tracers.outflows, tracers.report);
  for (int t = 1; t <= tracers.Count(); ++t) {
    const auto i = static_cast<std::size_t>(t);
    const SoluteKind &kind = tracers.stepKinds[i];
    double &store = tracers.storage[i][0];
    double runoff = 0.0;
    if (surface.pond) {
      runoff = PondOverflowTracer(kind, store, surface.direct > 0.0, surface.direct / tMs,
                                  surface.pondShare, tMs);
    } else {
      runoff = DirectRunoffTracer(kind, store, surface.directRate, tMs);
      if (surface.silting > 0.0 && tracers.siltPresent[i] != 0)
        runoff = AddSiltingUpTracer(kind, runoff, tracers.siltConc[i], surface.silting,
                                    surface.directRate, tMs);
    }
    const bool evaporating = kind.evaporating;
    const SoluteOutflows &out = tracers.outflows[i];
    tracers.direct[i].Add(evaporating, runoff, surface.direct);
    tracers.interflow[i].Add(evaporating, out.interflow, surface.interflow);
    tracers.baseflow[i].Add(evaporating, out.baseflow, surface.baseflowRate * tMs);
    tracers.exfiltration[i].Add(evaporating, out.exfiltration, state.exfiltration_sum * tMs);
  }
}

} // namespace tavro
