// Tracers in the snow pack: decay, mixing with the water input before the
// pack is computed, and what leaves with the outflow after it. An
// "evaporating" tracer is held as a concentration of the pack's water, a
// "non_evaporating" one as its mass in the pack (mm x concentration).
#pragma once

#include "kernel/tracer_concentration.h"

#include <algorithm>

namespace tavro::snow {

struct TracerKind {
  bool Radioactive = false;
  bool Evaporating = false;
  double DecayFactor = 1.0;      // per step
  double MaxConcentration = 0.0; // of the outflow of a non-evaporating tracer
};

// The pack's tracer value c before the pack is computed: decayed, then mixed
// with the input P of concentration cIn into the pack's water W.
inline double TracerBeforePack(const TracerKind &kind, double c, double inputConcentration,
                               double water, double input) {
  if (kind.Radioactive)
    c *= kind.DecayFactor;
  if (input > 0.0)
    c = kind.Evaporating ? MixConcentration(c, inputConcentration, water, input)
                         : c + input * inputConcentration;
  return c;
}

struct TracerAfterPack {
  double Stored = 0.0;  // the pack's value afterwards
  double Outflow = 0.0; // concentration of the outflow
};

// What leaves with the outflow O of a pack of liquid and solid water after it.
inline TracerAfterPack TracerLeavingPack(const TracerKind &kind, double c, double outflow,
                                         double liquid, double solid) {
  if (kind.Evaporating)
    return {c, c};
  const double water = outflow + liquid + solid;
  const double share = water > 0.0 ? c * outflow / water : 0.0;
  const double leaving = std::min(share, outflow * kind.MaxConcentration);
  return {c - leaving, outflow > 0.0 ? leaving / outflow : 0.0};
}

} // namespace tavro::snow
