// Tracers of the water at the soil surface in one internal step: the layers
// below the groundwater table taken from the aquifer, the mixing of the
// water input into the surface store, and what the direct runoff, the
// silting-up water and a pond overflow carry away. Level 0 of a tracer's
// storage column is the surface store: an amount (concentration x mm) for an
// amount tracer, a concentration for an evaporating one. Pure functions.
#pragma once

#include "soil/column/solute_transport.h"

#include <span>

namespace tavro {

// The water reaching the surface in the step, before the pond is touched.
struct SurfaceWater {
  double input = 0.0;     // X: the water input left after the snow share, mm
  double snow = 0.0;      // S_sn: the share of the input that bypasses the snow, mm
  double siltingUp = 0.0; // Sil, mm
  double pond = 0.0;      // P: the pond before the step, mm
  bool ponding = false;   // the cell has a pond
  bool siltingUpIsStorage = false;
  // The concentration the silting-up water carries when a module keeps one
  // for it; without, it is taken as the water input's.
  bool siltingUpConcKnown = false;
  double siltingUpConc = 0.0;
};

// The layers g + 1..n take the aquifer's concentration (times the water of
// the layer for an amount tracer); layer g and those above keep theirs.
void TracerBelowTable(const SoluteKind &kind, double groundwaterConc, int groundwaterLayer,
                      int layers, std::span<const double> theta, std::span<const double> dz,
                      std::span<double> storage);

// The surface store after the step's input of concentration inputConc
// joined it, with the silting-up water that enters the store (always with a
// pond, as surface storage without) at its own concentration: an amount
// tracer gains siltingUp x that concentration.
double MixSurfaceInput(const SoluteKind &kind, double store, double inputConc,
                       const SurfaceWater &water);

// The tracer of the direct runoff rate qd (m/s) of a cell without pond; an
// amount tracer's share leaves the store. The soil's share already left
// the store with the transport.
double DirectRunoffTracer(const SoluteKind &kind, double &store, double qd, double tMs);

// The direct runoff's tracer with the silting-up water of concentration
// siltConc joined (siltingUp mm; qd the rate before it, m/s).
double AddSiltingUpTracer(const SoluteKind &kind, double runoffTracer, double siltConc,
                          double siltingUp, double qd, double tMs);

// The tracer of a pond's overflow: qd the overflow rate (m/s), share the
// part of the pond that overflows; 0 without overflow.
double PondOverflowTracer(const SoluteKind &kind, double &store, bool overflow, double qd,
                          double share, double tMs);

} // namespace tavro
