// Tracers of the water at the soil surface.
#include "soil/column/surface_tracers.h"

#include "kernel/tracer_concentration.h"

#include <algorithm>
#include <cstddef>

namespace tavro {

void TracerBelowTable(const SoluteKind &kind, double groundwaterConc, int groundwaterLayer,
                      int layers, std::span<const double> theta, std::span<const double> dz,
                      std::span<double> storage) {
  for (int j = std::max(groundwaterLayer + 1, 1); j <= layers; ++j) {
    const auto i = static_cast<std::size_t>(j);
    storage[i] = kind.evaporating ? groundwaterConc : groundwaterConc * theta[i] * dz[i] * 1000.0;
  }
}

double MixSurfaceInput(const SoluteKind &kind, double store, double inputConc,
                       const SurfaceWater &water) {
  const double fresh = water.input + water.snow;
  // The water entering the store beside the water input.
  const double silting = water.ponding || water.siltingUpIsStorage ? water.siltingUp : 0.0;
  if (!water.siltingUpConcKnown || silting == 0.0) {
    // All of it at the input's concentration.
    const double all = fresh + silting;
    if (water.ponding)
      return kind.evaporating ? MixConcentration(store, inputConc, water.pond, all)
                              : store + inputConc * all;
    return kind.evaporating ? inputConc : store + inputConc * all;
  }
  const double c = water.siltingUpConc;
  if (!kind.evaporating)
    return store + inputConc * fresh + c * silting;
  if (!water.ponding)
    return MixConcentration(inputConc, c, fresh, silting);
  const double all = water.pond + fresh + silting;
  return (store * water.pond + inputConc * fresh + c * silting) / all;
}

double DirectRunoffTracer(const SoluteKind &kind, double &store, double qd, double tMs) {
  if (kind.evaporating)
    return store;
  const double leaving = std::min(kind.maxConc * qd * tMs, store);
  store -= leaving;
  return leaving;
}

double AddSiltingUpTracer(const SoluteKind &kind, double runoffTracer, double siltConc,
                          double siltingUp, double qd, double tMs) {
  if (kind.evaporating)
    return MixConcentration(siltConc, runoffTracer, siltingUp / tMs, qd);
  return runoffTracer + siltConc * siltingUp;
}

double PondOverflowTracer(const SoluteKind &kind, double &store, bool overflow, double qd,
                          double share, double tMs) {
  if (!overflow)
    return 0.0;
  if (kind.evaporating)
    return store;
  const double leaving = std::min(kind.maxConc * qd * tMs, share * store);
  store -= leaving;
  return leaving;
}

} // namespace tavro
