// The interception store of one layer: the worked example of a half-covered
// layer in rain, the evaporation rates of the methods, the capacity, a layer
// without land use, the water balance over random layers, and the two kinds
// of tracer (a non-evaporating tracer's mass is conserved).
#include "landsurface/interception_store/interception_store.h"

#include <gtest/gtest.h>

#include <random>

namespace tavro {
namespace {

using namespace interception;

TEST(InterceptionStore, HalfCoveredLayerInRain) {
  // Cover 0.5, capacity 1 mm (IntercepCap 0.5 x LAI 2), empty store, 4 mm of
  // rain, a potential transpiration of 0.3 mm: 2 mm fall through the gaps,
  // 2 mm are caught, 1 mm overflows; 0.3 mm evaporate.
  LayerState layer;
  layer.cover = 0.5;
  layer.capacity = StoreCapacity(0.5, 2.0, 0.2);
  layer.potentialTranspiration = 0.3;
  layer.potentialInterception = 0.9;
  ASSERT_DOUBLE_EQ(layer.capacity, 1.0);
  const LayerResult r = InterceptLayer(4.0, layer, RateOfMethod(1));
  EXPECT_DOUBLE_EQ(r.filling.direct, 2.0);
  EXPECT_DOUBLE_EQ(r.filling.overflow, 1.0);
  EXPECT_DOUBLE_EQ(r.throughfall, 3.0);
  EXPECT_DOUBLE_EQ(r.evaporation.evaporation, 0.3);
  EXPECT_DOUBLE_EQ(r.evaporation.transpirationUsed, 0.3);
  EXPECT_NEAR(r.storage, 0.7, 1e-15);
  EXPECT_NEAR(r.balance.Residual(), 0.0, 1e-15);
}

TEST(InterceptionStore, EvaporationRateOfEachMethod) {
  struct Case {
    int method;
    double storage, transpiration, interception;
    double evaporation, used;
  };
  const Case cases[] = {
      {1, 1.0, 0.3, 0.9, 0.3, 0.3},  {11, 1.0, 0.3, 0.9, 0.3, 0.3},
      {1, 0.2, 0.3, 0.9, 0.2, 0.2}, // the store runs dry
      {2, 1.0, 0.3, 0.9, 0.9, 0.3}, // the interception rate empties more than PT holds
      {12, 1.0, 0.3, 0.9, 0.9, 0.3}, {2, 0.5, 0.3, 0.9, 0.5, 0.3},
      {2, 1.0, 0.6, 0.4, 0.4, 0.4},  {3, 1.0, 0.3, 0.9, 0.0, 0.0}, // no evaporation
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.method);
    const StoreEvaporation e =
        EvaporateStore(c.storage, c.transpiration, c.interception, RateOfMethod(c.method));
    EXPECT_DOUBLE_EQ(e.evaporation, c.evaporation);
    EXPECT_DOUBLE_EQ(e.transpirationUsed, c.used);
  }
}

TEST(InterceptionStore, CapacityFromTheTableOrFromTheLeafArea) {
  EXPECT_DOUBLE_EQ(StoreCapacity(0.0, 3.0, 0.2), 0.0);  // IntercepCap 0: all drips through
  EXPECT_DOUBLE_EQ(StoreCapacity(-1.0, 3.0, 0.2), 0.6); // none given: LAI x thickness
  EXPECT_DOUBLE_EQ(StoreCapacity(0.4, 3.0, 0.2), 1.2);
  LayerState layer;
  layer.cover = 0.7;
  const LayerResult r = InterceptLayer(2.0, layer, EvaporationRate::Transpiration);
  EXPECT_DOUBLE_EQ(r.throughfall, 2.0);
  EXPECT_DOUBLE_EQ(r.storage, 0.0);
}

TEST(InterceptionStore, LayerWithoutLanduseHasNoStore) {
  LayerState layer;
  layer.hasLanduse = false;
  layer.storage = 0.25; // left from a start grid: it drips through
  layer.potentialTranspiration = 1.0;
  const LayerResult r = InterceptLayer(3.0, layer, EvaporationRate::Transpiration);
  EXPECT_DOUBLE_EQ(r.throughfall, 3.25);
  EXPECT_DOUBLE_EQ(r.storage, 0.0);
  EXPECT_DOUBLE_EQ(r.evaporation.evaporation, 0.0);
  EXPECT_DOUBLE_EQ(r.evaporation.transpirationUsed, 0.0);
  EXPECT_NEAR(r.balance.Residual(), 0.0, 1e-15);
}

TEST(InterceptionStore, BalanceClosesOverRandomLayers) {
  std::mt19937 random(11);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int i = 0; i < 5000; ++i) {
    LayerState layer;
    layer.hasLanduse = unit(random) > 0.2;
    layer.cover = unit(random);
    layer.capacity = 2.0 * unit(random);
    layer.storage = layer.capacity * unit(random) * 1.2; // may exceed a lowered capacity
    layer.potentialTranspiration = unit(random);
    layer.potentialInterception = unit(random);
    const double input = 10.0 * unit(random) * unit(random);
    const LayerResult r = InterceptLayer(input, layer, RateOfMethod(i % 2 == 0 ? 1 : 12));
    EXPECT_NEAR(r.balance.Residual(), 0.0, 1e-12);
    EXPECT_GE(r.storage, 0.0);
    EXPECT_LE(r.storage, std::max(layer.capacity, 0.0) + 1e-12);
    EXPECT_LE(r.evaporation.transpirationUsed, layer.potentialTranspiration);
  }
}

TEST(InterceptionStore, NonEvaporatingTracerMassIsConserved) {
  std::mt19937 random(5);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int i = 0; i < 3000; ++i) {
    const double cover = unit(random);
    const double capacity = 1.5 * unit(random);
    const double before = capacity * unit(random);
    const double input = 6.0 * unit(random);
    const double concentration = 10.0 * unit(random);
    const TracerProperties properties{false, 1.0, 4.0 + 20.0 * unit(random)};
    TracerState tracer{before * 3.0 * unit(random), 0.0};
    const double storedBefore = tracer.stored;
    const StoreFilling filling = FillStore(input, cover, before, capacity);
    CarryTracer(tracer, properties, concentration, before, filling);
    const double exported = tracer.outflow * filling.Throughfall();
    EXPECT_NEAR(tracer.stored - storedBefore + exported, concentration * input, 1e-10);
    EXPECT_GE(tracer.stored, -1e-12);
  }
}

TEST(InterceptionStore, TracersThroughAWorkedStore) {
  // Cover 0.5, capacity 1, store 0.5 at 4 units, 4 mm at 2 units: 2 mm
  // direct, 2 mm caught, 1.5 mm overflow.
  const StoreFilling filling = FillStore(4.0, 0.5, 0.5, 1.0);
  ASSERT_DOUBLE_EQ(filling.overflow, 1.5);
  // Evaporating: the store mixes to (4 x 0.5 + 2 x 2) / 2.5 = 2.4; the
  // overflow at 2.4 joins the direct water at 2: (2.4 x 1.5 + 2 x 2) / 3.5.
  TracerState evaporating{4.0, 0.0};
  CarryTracer(evaporating, {true, 1.0, 0.0}, 2.0, 0.5, filling);
  EXPECT_DOUBLE_EQ(evaporating.stored, 2.4);
  EXPECT_DOUBLE_EQ(evaporating.outflow, (2.4 * 1.5 + 2.0 * 2.0) / 3.5);
  // Not evaporating, mass 2 in the store, decaying to 1.5: the store holds
  // 1.5 + 4 = 5.5 in 2.5 mm; the overflow takes min(1.5 x 100, 1.5 / 2.5 x 5.5).
  TracerState mass{2.0, 0.0};
  CarryTracer(mass, {false, 0.75, 100.0}, 2.0, 0.5, filling);
  const double moved = 1.5 / 2.5 * 5.5;
  EXPECT_DOUBLE_EQ(mass.stored, 5.5 - moved);
  EXPECT_DOUBLE_EQ(mass.outflow, (2.0 * 2.0 + moved) / 3.5);
  // A low max_conc limits what leaves with the overflow.
  TracerState capped{2.0, 0.0};
  CarryTracer(capped, {false, 1.0, 0.5}, 2.0, 0.5, filling);
  EXPECT_DOUBLE_EQ(capped.stored, 6.0 - 0.75);
  // Without throughfall the outflow concentration is 0.
  TracerState dry{1.0, 3.0};
  CarryTracer(dry, {false, 1.0, 1.0}, 2.0, 0.5, FillStore(0.0, 0.5, 0.5, 1.0));
  EXPECT_DOUBLE_EQ(dry.outflow, 0.0);
  EXPECT_DOUBLE_EQ(dry.stored, 1.0);
}

} // namespace
} // namespace tavro
