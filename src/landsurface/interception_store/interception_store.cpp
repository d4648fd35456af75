// Filling, overflow and evaporation of an interception store, and its tracer.
#include "landsurface/interception_store/interception_store.h"

#include "kernel/tracer_concentration.h"

#include <algorithm>

namespace tavro::interception {

EvaporationRate RateOfMethod(int method) {
  if (method == 1 || method == 11)
    return EvaporationRate::Transpiration;
  if (method == 2 || method == 12)
    return EvaporationRate::Interception;
  return EvaporationRate::None;
}

double StoreCapacity(double intercepCap, double leafAreaIndex, double maxWaterLayerThickness) {
  if (intercepCap < 0.0)
    return leafAreaIndex * maxWaterLayerThickness;
  return intercepCap * leafAreaIndex;
}

StoreFilling FillStore(double input, double cover, double storage, double capacity) {
  StoreFilling f;
  f.direct = (1.0 - cover) * input;
  f.caught = cover * input;
  f.filled = storage + f.caught;
  f.storage = f.filled;
  if (f.filled > capacity) {
    f.overflow = f.filled - capacity;
    f.storage = capacity;
  }
  return f;
}

StoreEvaporation EvaporateStore(double storage, double potentialTranspiration,
                                double potentialInterception, EvaporationRate rate) {
  StoreEvaporation e;
  switch (rate) {
  case EvaporationRate::Transpiration:
    e.evaporation = std::min(storage, potentialTranspiration);
    e.transpirationUsed = e.evaporation;
    break;
  case EvaporationRate::Interception:
    e.evaporation = std::min(storage, potentialInterception);
    e.transpirationUsed = std::min(potentialTranspiration, e.evaporation);
    break;
  case EvaporationRate::None:
    break;
  }
  return e;
}

void InterceptionBalance::Add(const InterceptionBalance &other) {
  input += other.input;
  throughfall += other.throughfall;
  evaporation += other.evaporation;
  glacier += other.glacier;
  before += other.before;
  after += other.after;
}

LayerResult InterceptLayer(double input, const LayerState &layer, EvaporationRate rate) {
  LayerResult r;
  r.balance.input = input;
  r.balance.before = layer.storage;
  if (!layer.hasLanduse) {
    r.throughfall = input + layer.storage;
    r.balance.throughfall = r.throughfall;
    return r;
  }
  r.filling = FillStore(input, layer.cover, layer.storage, layer.capacity);
  r.evaporation = EvaporateStore(r.filling.storage, layer.potentialTranspiration,
                                 layer.potentialInterception, rate);
  r.throughfall = r.filling.Throughfall();
  r.storage = r.filling.storage - r.evaporation.evaporation;
  r.balance.throughfall = r.throughfall;
  r.balance.evaporation = r.evaporation.evaporation;
  r.balance.after = r.storage;
  return r;
}

void CarryTracer(TracerState &tracer, const TracerProperties &properties, double inputConcentration,
                 double storeBefore, const StoreFilling &filling) {
  tracer.stored *= properties.decay;
  if (properties.evaporating) {
    tracer.outflow = inputConcentration;
    tracer.stored =
        MixConcentration(tracer.stored, inputConcentration, storeBefore, filling.caught);
    if (filling.overflow > 0.0)
      tracer.outflow =
          MixConcentration(tracer.stored, tracer.outflow, filling.overflow, filling.direct);
    return;
  }
  // A mass until the end: what falls through, then what overflows.
  double mass = inputConcentration * filling.direct;
  tracer.stored += inputConcentration * filling.caught;
  if (filling.overflow > 0.0) {
    const double x = filling.overflow;
    const double share = filling.filled > 0.0 ? x / filling.filled * tracer.stored : 0.0;
    const double moved = filling.filled > 0.0 ? std::min(x * properties.maxConc, share)
                                              : std::min(x * properties.maxConc, 0.0);
    tracer.stored -= moved;
    mass += moved;
  }
  const double throughfall = filling.Throughfall();
  tracer.outflow = throughfall > 0.0 ? mass / throughfall : 0.0;
}

} // namespace tavro::interception
