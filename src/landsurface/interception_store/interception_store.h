// The interception store of one vegetation layer in one cell: the water that
// reaches the layer is split by the vegetation cover into water falling
// through the gaps at once and water caught by the leaves; the catch fills the
// store up to its capacity (proportional to the leaf area), the excess drips
// through, and the store then evaporates at a potential rate of the layer. A
// layer without land use passes its water on. Also the transport of one
// dissolved tracer through the store of an undivided canopy. Pure functions of
// plain values.
//
// Units: water in mm (per step for fluxes), concentrations in any unit, a
// tracer mass in mm times that unit.
#pragma once

namespace tavro::interception {

// The potential rate at which a store evaporates: methods 1 and 11 the
// layer's potential transpiration, 2 and 12 its potential interception
// evaporation (taking from the transpiration only what is left of it); any
// other method does not evaporate.
enum class EvaporationRate { Transpiration, Interception, None };
EvaporationRate RateOfMethod(int method);

// Capacity of a store, mm: IntercepCap x LAI when the land use gives an
// IntercepCap (0 or more), else LAI x the maximum water layer thickness.
double StoreCapacity(double intercepCap, double leafAreaIndex, double maxWaterLayerThickness);

// The catch of a store and its overflow.
struct StoreFilling {
  double direct = 0.0;   // (1 - cover) x input: through the gaps of the cover
  double caught = 0.0;   // cover x input
  double filled = 0.0;   // store after the catch, before the overflow
  double overflow = 0.0; // what exceeds the capacity
  double storage = 0.0;  // store after the overflow

  double Throughfall() const { return direct + overflow; }
};
StoreFilling FillStore(double input, double cover, double storage, double capacity);

struct StoreEvaporation {
  double evaporation = 0.0;       // taken from the store
  double transpirationUsed = 0.0; // by which the layer's potential transpiration falls
};
StoreEvaporation EvaporateStore(double storage, double potentialTranspiration,
                                double potentialInterception, EvaporationRate rate);

// The water of one layer (or of a cell's whole canopy) in a step:
// input = throughfall + evaporation + glacier + (after - before).
struct InterceptionBalance {
  double input = 0.0;
  double throughfall = 0.0;
  double evaporation = 0.0;
  double glacier = 0.0; // taken by the glacier of a fully glacierised cell
  double before = 0.0;  // store at the start
  double after = 0.0;   // store at the end

  double Residual() const { return input - throughfall - evaporation - glacier - (after - before); }
  void Add(const InterceptionBalance &other);
};

struct LayerState {
  bool hasLanduse = true;
  double cover = 0.0;    // vegetation cover, 0 to 1
  double capacity = 0.0; // mm
  double storage = 0.0;  // at the start, mm
  double potentialTranspiration = 0.0;
  double potentialInterception = 0.0;
};

struct LayerResult {
  StoreFilling filling;
  StoreEvaporation evaporation;
  double throughfall = 0.0; // leaving the layer downwards
  double storage = 0.0;     // at the end
  InterceptionBalance balance;
};

// One layer in a step: fill, overflow, evaporate. A layer without land use
// has no store: it passes its input on, with what a store it was started with
// held, and evaporates nothing.
LayerResult InterceptLayer(double input, const LayerState &layer, EvaporationRate rate);

// A tracer carried through the store of an undivided canopy. An evaporating
// tracer leaves with the evaporating water, so its stored value is a
// concentration; any other stays behind, so its stored value is a mass.
struct TracerProperties {
  bool evaporating = false;
  double decay = 1.0;   // fraction left after one step (1: no decay)
  double maxConc = 0.0; // largest concentration of the overflow
};

struct TracerState {
  double stored = 0.0;  // concentration (evaporating) or mass (other) in the store
  double outflow = 0.0; // concentration of the throughfall
};

// The tracer's step through a store that was filled as filling says from a
// store of storeBefore with water of inputConcentration.
void CarryTracer(TracerState &tracer, const TracerProperties &properties, double inputConcentration,
                 double storeBefore, const StoreFilling &filling);

} // namespace tavro::interception
