// The water stages of one internal step of a soil column around the
// solver: the snow share of the input, the pond and the silting-up storage,
// the transpiration and soil evaporation taken from the layers, the baseflow
// withdrawal or supply with the groundwater layer, and after the solver the
// position of the groundwater table and the runoff at the surface. Pure
// functions of the column's state and plain values.
//
// Depths in mm, rates in m/s; a rate times t_ms (ms) is a depth in mm.
#pragma once

#include "soil/column/column_state.h"

#include <span>

namespace tavro {

// Share of the input at or above which saturation is taken for the table.
inline constexpr double kSaturatedShare = 0.9995;

// Evaporates a store (mm) against the potential transpiration of the
// land-use layers in order (valid[l] false: skipped), booking it as their
// real evapotranspiration: etp and real are elements 1..L.
void EvaporateStore(double &store, std::span<double> etp, std::span<double> real,
                    std::span<const char> valid);

// The part of the water input past the soil while solid snow lies (mm):
// fraction · input when snowStorage > 10 mm and input > 0, else 0; the input
// is lowered by it.
double SnowShare(double &input, double snowStorage, double fraction);

// Takes transpiration of one land-use layer (root_transpiration, m/s, of
// rooted layers 1..m) out of theta: above the groundwater layer down to 0
// (layer 1) or theta_r, below it from the groundwater layer and the layers
// under it down to the groundwater layer's field capacity, booking only
// what was taken. Adds the rates taken to state.transpiration and returns
// their sum (m/s).
double TakeTranspiration(const ColumnGeometry &geometry, ColumnState &state, int rootedLayers,
                         double dt);

// Takes the soil evaporation (root_evaporation) of the layers 1, 2, ...
// while it is positive, up to the rooted layers, layer 1 down to 0 and the
// deeper down to theta_r, booking only what was removed. Adds the rates to
// state.evaporation; returns their sum (m/s) and the layers that gave any.
double TakeSoilEvaporation(const ColumnGeometry &geometry, ColumnState &state, int rootedLayers,
                           double dt, int &layersUsed);

// How much of a withdrawal a column gives.
enum class BaseflowDelivery {
  // What the layers from the lowest unsaturated one down hold above field
  // capacity: the column's own baseflow, which is what it delivers.
  Drainable,
  // All of it, as far as the column holds water above its residual content:
  // the groundwater module has already given this water to the neighbours,
  // so a column whose deeper layers were drained (by the river exchange,
  // say) below the table that the module saw gives it from the layers above
  // them, and below field capacity only when nothing else is left.
  Whole,
};

// The baseflow of the step: a withdrawal qb >= 0 from the groundwater layer
// down to field capacity (the groundwater layer moving down with every layer
// emptied; with BaseflowDelivery::Whole then from the layers above, see
// there), or a supply -qb filling the layers from the lowest unsaturated
// one up (what they cannot hold leaves at the surface, supply[0]). Sets
// the groundwater layer of the state and returns the rate delivered (the
// undelivered rest taken off; a supply whole).
double ApplyBaseflow(const ColumnGeometry &geometry, ColumnState &state, double qb, double dt,
                     BaseflowDelivery delivery = BaseflowDelivery::Drainable);

// The groundwater layer: the lowest layer, scanning up from n, below
// kSaturatedShare of saturation; 1 when every layer lies above.
int GroundwaterLayer(const ColumnGeometry &geometry, const ColumnState &state);

// The height of the groundwater table after the solver (m), lowering
// thetaInGwLevel by the net outflow of the groundwater layer (never below
// its field capacity). netOutflow is that outflow (m/s).
double TableHeight(const ColumnGeometry &geometry, const ColumnState &state, double netOutflow,
                   double dt, double &thetaInGwLevel);

// The surface of one internal step after the solver.
struct SurfaceRunoff {
  double infiltration = 0.0; // mm
  double excess = 0.0;       // infiltration excess, mm
  double direct = 0.0;       // direct runoff, mm
};
// inputRate and snowRate (m/s) are the input after the macropores and the
// snow share; pond (mm) is set to the water left at the surface when
// maxPonding > 0; silting (mm) is the silting-up water that runs off
// directly.
SurfaceRunoff FormSurfaceRunoff(double inputRate, double snowRate, double surfaceFlux,
                                double surfaceSupply, double silting, double maxPonding,
                                double t_ms, double &pond);

} // namespace tavro
