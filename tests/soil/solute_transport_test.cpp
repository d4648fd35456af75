// Solute transport and the surface tracers of a soil column: the balance of
// an amount tracer over chains of internal steps, radioactive decay against
// the closed form, and the edge cases of the transport and the start column
// by hand.
#include "kernel/tracer_concentration.h"
#include "soil/column/solute_transport.h"
#include "soil/column/surface_tracers.h"
#include "soil/column/tracer_call_sum.h"
#include "soil/column/tracer_start_column.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

namespace tavro {
namespace {

std::size_t At(int j) { return static_cast<std::size_t>(j); }

// A column of n layers with every array of the transport, element 0..n.
struct Column {
  explicit Column(int n, double dzValue = 0.2, double thetaValue = 0.3)
      : layers(n), theta(At(n) + 1, thetaValue), thetaOld(At(n) + 1, thetaValue),
        thetaSat(At(n) + 1, 0.4), dz(At(n) + 1, dzValue), zBottom(At(n) + 1, 0.0),
        flux(At(n) + 1, 0.0), interflow(At(n) + 1, 0.0), withdrawal(At(n) + 1, 0.0),
        exfiltration(At(n) + 1, 0.0), river(At(n) + 1, 0.0), supply(At(n) + 1, 0.0) {
    dz[0] = 0.0;
    zBottom[0] = 500.0;
    for (int j = 1; j <= n; ++j)
      zBottom[At(j)] = zBottom[At(j - 1)] - dz[At(j)];
  }
  SoluteWater Water() const {
    SoluteWater w;
    w.layers = layers;
    w.groundwaterLayer = g;
    w.theta = theta;
    w.thetaOld = thetaOld;
    w.thetaSat = thetaSat;
    w.dz = dz;
    w.zBottom = zBottom;
    w.flux = flux;
    w.interflow = interflow;
    w.withdrawal = withdrawal;
    w.exfiltration = exfiltration;
    w.riverInfiltration = river;
    w.supply = supply;
    w.directRunoff = directRunoff;
    w.interflowSum = std::accumulate(interflow.begin() + 1, interflow.end(), 0.0);
    w.exfiltrationSum = std::accumulate(exfiltration.begin() + 1, exfiltration.end(), 0.0);
    w.baseflow = baseflow;
    w.dt = dt;
    w.tMs = dt * 1000.0;
    w.groundwaterCoupled = coupled;
    w.aquiferThickness = aquifer;
    return w;
  }
  int layers;
  int g = 1;
  std::vector<double> theta, thetaOld, thetaSat, dz, zBottom, flux, interflow, withdrawal,
      exfiltration, river, supply;
  double directRunoff = 0.0;
  double baseflow = 0.0;
  double dt = 600.0;
  bool coupled = false;
  double aquifer = 0.0;
};

// One tracer moved through a column.
struct OneTracer {
  explicit OneTracer(SoluteKind k, int n) : kinds{SoluteKind{}, k}, storage(At(n) + 1, 0.0) {}
  SoluteOutflows Move(const Column &column, double groundwaterConc = 0.0) {
    SoluteWorkspace work(column.layers);
    std::array<std::span<double>, 2> columns{std::span<double>{}, storage};
    std::array<double, 2> rivers{0.0, riverConc};
    gw = {0.0, groundwaterConc};
    std::array<SoluteOutflows, 2> out{};
    TransportSolutes(kinds, columns, rivers, gw, column.Water(), work, out, {});
    return out[1];
  }
  double Total() const { return std::accumulate(storage.begin(), storage.end(), 0.0); }
  std::array<SoluteKind, 2> kinds;
  std::vector<double> storage;
  double riverConc = 0.0;
  std::array<double, 2> gw{};
};

SoluteKind Amount(double maxConc = 1e6) { return {false, false, maxConc, 1.0}; }

// ---------------------------------------------------------------------------
// Balance of an amount tracer over the internal steps of one call.

struct BalanceCase {
  const char *name;
  int internalSteps;
  bool ponding;
  bool supplyBelowTable; // groundwater feeds a layer below g + 1, so m < n
  bool coupled;
};

class AmountBalance : public ::testing::TestWithParam<BalanceCase> {};

// The water of internal step k of a seven-layer column with the table at
// layer 3: infiltration, interflow above the table (layer 2 asked for more
// than it holds), baseflow at the table, exchange with a river below it.
void StepWater(Column &c, const BalanceCase &bc, int k) {
  c.thetaOld = c.theta;
  const double wobble = 0.004 * std::sin(1.7 * k);
  for (int j = 1; j <= c.layers; ++j)
    c.theta[At(j)] = std::min(0.4, c.thetaOld[At(j)] + wobble * (j % 2 == 0 ? 1.0 : -0.5));
  c.theta[2] = 0.02 + 0.005 * k;
  c.g = 3;
  c.flux = {-3e-6 - 1e-7 * k, -2e-6, -1.5e-6, 5e-7, -2e-7, 3e-7, -1e-7, 0.0};
  c.interflow = {0, 4e-7, 2.5e-5, 0, 0, 0, 0, 0};
  c.withdrawal = {0, 0, 0, 6e-7, 0, 0, 0, 0};
  c.exfiltration = {0, 0, 0, bc.coupled ? 2e-7 : 0.0, 0, 0, 0, 0};
  c.river = {0, 0, 0, 0, 0, 0, 0, 0};
  c.supply = {0, 0, 0, 0, 0, 0, 0, 0};
  if (bc.supplyBelowTable) {
    c.supply[5] = 3e-7;
    c.river[4] = 1e-7;
  }
  c.directRunoff = 1.2e-6;
  c.baseflow = 6e-7;
  c.coupled = bc.coupled;
  c.aquifer = bc.coupled ? 5.0 : 0.0;
}

TEST_P(AmountBalance, StoredPlusReleasedEqualsStartPlusInput) {
  const BalanceCase bc = GetParam();
  Column c(7);
  for (int j = 1; j <= 7; ++j)
    c.theta[At(j)] = j <= 3 ? 0.25 : 0.4;
  const SoluteKind kind = Amount(50.0);
  OneTracer tracer(kind, 7);
  tracer.riverConc = 3.0;
  for (int j = 1; j <= 7; ++j)
    tracer.storage[At(j)] = 1.5 * j * c.theta[At(j)] * 1000.0 * c.dz[At(j)];
  tracer.storage[0] = bc.ponding ? 40.0 : 0.0;
  double gwConc = bc.coupled ? 2.0 : 0.0;
  auto aquiferContent = [&](const Column &col) {
    if (!col.coupled)
      return 0.0;
    const double h = col.aquifer - (col.zBottom[0] - col.zBottom[At(col.layers)]);
    return gwConc * col.thetaSat[At(col.g)] * 1000.0 * h;
  };
  c.g = 3;
  c.coupled = bc.coupled;
  c.aquifer = bc.coupled ? 5.0 : 0.0;
  if (bc.coupled) // the layers below the table start with the aquifer's concentration
    TracerBelowTable(kind, gwConc, c.g, c.layers, c.theta, c.dz, tracer.storage);
  const double start = tracer.Total() + aquiferContent(c);
  double input = 0.0, released = 0.0;
  const double cIn = 4.0, cSil = 7.0;
  for (int k = 1; k <= bc.internalSteps; ++k) {
    if (bc.coupled)
      TracerBelowTable(kind, gwConc, c.g, c.layers, c.theta, c.dz, tracer.storage);
    SurfaceWater surface{1.5, 0.3, 0.2, bc.ponding ? 5.0 : 0.0, bc.ponding, false};
    tracer.storage[0] = MixSurfaceInput(kind, tracer.storage[0], cIn, surface);
    input += cIn * (surface.input + surface.snow + (bc.ponding ? surface.siltingUp : 0.0));
    StepWater(c, bc, k);
    const SoluteOutflows out = tracer.Move(c, gwConc);
    gwConc = tracer.gw[1];
    released += out.interflow + out.baseflow + out.exfiltration;
    for (int j = 1; j <= 7; ++j)
      input += c.river[At(j)] * tracer.riverConc * c.dt * 1000.0;
    const double tMs = c.dt * 1000.0;
    double runoff = 0.0;
    if (bc.ponding) {
      runoff = PondOverflowTracer(kind, tracer.storage[0], true, c.directRunoff, 0.3, tMs);
    } else {
      runoff = DirectRunoffTracer(kind, tracer.storage[0], c.directRunoff, tMs);
      runoff = AddSiltingUpTracer(kind, runoff, cSil, surface.siltingUp, c.directRunoff, tMs);
      input += cSil * surface.siltingUp;
    }
    EXPECT_GT(runoff, 0.0);
    released += runoff;
  }
  const double end = tracer.Total() + aquiferContent(c);
  EXPECT_NEAR(end + released, start + input, 1e-12 * (start + input)) << bc.name;
  EXPECT_GT(released, 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AmountBalance,
    ::testing::Values(BalanceCase{"OneStepNoPond", 1, false, false, false},
                      BalanceCase{"OneStepPond", 1, true, false, false},
                      BalanceCase{"ThreeStepsNoPond", 3, false, false, false},
                      BalanceCase{"ThreeStepsPond", 3, true, false, false},
                      BalanceCase{"SupplyBelowTable", 3, false, true, false},
                      BalanceCase{"SupplyBelowTablePond", 1, true, true, false},
                      BalanceCase{"CoupledOneStep", 1, false, false, true},
                      BalanceCase{"CoupledThreeStepsPond", 3, true, false, true},
                      BalanceCase{"CoupledSupplyBelowTable", 3, false, true, true},
                      BalanceCase{"CoupledSupplyBelowTablePond", 1, true, true, true}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Decay in a closed column over the calls of several days.

struct DecayCase {
  int calls;         // D
  int internalSteps; // n of each call
  bool evaporating;
};

class ClosedColumnDecay : public ::testing::TestWithParam<DecayCase> {};

TEST_P(ClosedColumnDecay, FollowsTheHalfLife) {
  const DecayCase dc = GetParam();
  const double halfTime = 10.0; // days
  const double stepMinutes = 1440.0;
  const int days = 7;
  Column c(4);
  c.g = 3;
  SoluteKind kind{dc.evaporating, true, 1e6, 1.0};
  kind.decay =
      DecayPerInternalStep(TracerDecayFactor(stepMinutes / dc.calls, halfTime), dc.internalSteps);
  OneTracer tracer(kind, 4);
  tracer.storage = {12.0, 30.0, 45.0, 20.0, 20.0};
  const std::vector<double> start = tracer.storage;
  for (int call = 0; call < days * dc.calls; ++call)
    for (int k = 0; k < dc.internalSteps; ++k)
      tracer.Move(c);
  const double expected = std::exp(-days / (kHalfLifeToMeanLife * halfTime));
  if (!dc.evaporating) {
    const double m0 = std::accumulate(start.begin(), start.end(), 0.0);
    EXPECT_NEAR(tracer.Total(), m0 * expected, 1e-12 * m0);
  }
  for (int j : {0, 1, 2})
    EXPECT_NEAR(tracer.storage[At(j)], start[At(j)] * expected, 1e-12 * start[At(j)]);
}

INSTANTIATE_TEST_SUITE_P(Cases, ClosedColumnDecay,
                         ::testing::Values(DecayCase{1, 1, false}, DecayCase{3, 1, false},
                                           DecayCase{1, 4, false}, DecayCase{3, 4, false},
                                           DecayCase{3, 4, true}));

// ---------------------------------------------------------------------------
// Edge cases, each worked by hand.

struct EdgeCase {
  const char *name;
  std::function<void()> run;
};

class TransportEdgeCases : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(TransportEdgeCases, HoldByHand) { GetParam().run(); }

void PassThroughFromAbove() {
  // Layer 2 holds 1e-6 m/s for the step but is asked for 4e-6: it gives a
  // quarter itself (its whole content 5) and passes 3e-6 m/s through from
  // layer 1 at layer 1's concentration 2: 3 mm x 2 = 6.
  Column c(3, 0.1);
  c.dt = 1000.0;
  c.g = 3;
  c.theta = {0, 0.3, 0.01, 0.3};
  c.thetaOld = c.theta;
  c.interflow[2] = 4e-6;
  OneTracer tracer(Amount(), 3);
  tracer.storage = {0.0, 0.3 * 100.0 * 2.0, 0.01 * 100.0 * 5.0, 0.0};
  const SoluteOutflows out = tracer.Move(c);
  EXPECT_NEAR(out.interflow, 5.0 + 6.0, 1e-12);
  EXPECT_NEAR(tracer.storage[1], 60.0, 1e-12);
}

void MaxConcZeroMovesNothing() {
  Column c(4);
  c.g = 4;
  c.flux = {-2e-6, -1e-6, 1e-6, -5e-7, 0};
  c.interflow = {0, 1e-7, 2e-7, 0, 0};
  c.withdrawal[4] = 1e-7;
  c.directRunoff = 1e-6;
  OneTracer tracer(Amount(0.0), 4);
  tracer.storage = {9.0, 10.0, 20.0, 30.0, 40.0};
  const SoluteOutflows out = tracer.Move(c);
  EXPECT_EQ(out.interflow, 0.0);
  EXPECT_EQ(out.baseflow, 0.0);
  EXPECT_EQ(out.exfiltration, 0.0);
  EXPECT_EQ(tracer.storage, (std::vector<double>{9.0, 10.0, 20.0, 30.0, 40.0}));
}

void EvaporationConcentrates() {
  Column c(3);
  c.g = 3;
  c.theta[1] = 0.15; // halved by evaporation
  c.theta[2] = 0.3;  // unchanged
  OneTracer tracer({true, false, 1e6, 1.0}, 3);
  tracer.storage = {0.0, 4.0, 6.0, 8.0};
  tracer.Move(c);
  EXPECT_DOUBLE_EQ(tracer.storage[1], 8.0);
  EXPECT_DOUBLE_EQ(tracer.storage[2], 6.0);
}

void SaturatedZoneMixes() {
  Column c(2, 0.5, 0.4);
  c.g = 1;
  OneTracer tracer(Amount(), 2);
  tracer.storage = {0.0, 10.0, 0.0};
  tracer.Move(c);
  EXPECT_DOUBLE_EQ(tracer.storage[1], 5.0);
  EXPECT_DOUBLE_EQ(tracer.storage[2], 5.0);
}

void DecayTakesTenPercentEverywhere() {
  Column c(3);
  c.g = 3;
  OneTracer tracer({false, true, 1e6, 0.9}, 3);
  tracer.storage = {10.0, 20.0, 30.0, 40.0};
  tracer.Move(c);
  EXPECT_NEAR(tracer.storage[0], 9.0, 1e-12);
  EXPECT_NEAR(tracer.storage[1], 18.0, 1e-12);
  EXPECT_NEAR(tracer.storage[2], 27.0, 1e-12);
  EXPECT_NEAR(tracer.storage[3], 36.0, 1e-12);
}

void NothingLeavesTheDeepestLayer() {
  // The table at the deepest layer: m = n, and the downward flux at the
  // bottom carries nothing out.
  Column c(2, 0.5, 0.4);
  c.g = 2;
  c.flux = {0.0, 0.0, -1e-6};
  OneTracer tracer(Amount(), 2);
  tracer.storage = {0.0, 7.0, 11.0};
  tracer.Move(c);
  EXPECT_DOUBLE_EQ(tracer.Total(), 18.0);
}

void UpwardFluxTakesFromBelowTheTransportedLayers() {
  // g = 1, m = 2: the upward flux at the bottom of layer 2 brings tracer of
  // layer 3 (concentration 1 per unit of water content: 200 of water
  // content 0.4 at 0.5 m) up; what it takes is missing from layer 3 before
  // the mixing, so the column keeps its total.
  Column c(3, 0.5, 0.4);
  c.g = 1;
  c.flux = {0.0, 0.0, 1e-6, 0.0};
  OneTracer tracer(Amount(), 3);
  tracer.storage = {0.0, 200.0, 200.0, 200.0};
  tracer.Move(c);
  EXPECT_NEAR(tracer.Total(), 600.0, 1e-12);
}

void DeepAquiferOnlyAddsWater() {
  // A column deeper than the aquifer: h stays 0 and the aquifer's
  // concentration does not enter the mixing.
  Column c(2, 0.5, 0.4);
  c.g = 1;
  c.coupled = true;
  c.aquifer = 0.2;
  OneTracer tracer(Amount(), 2);
  tracer.storage = {0.0, 10.0, 0.0};
  tracer.Move(c, 1e3);
  EXPECT_DOUBLE_EQ(tracer.storage[1], 5.0);
  EXPECT_DOUBLE_EQ(tracer.gw[1], 10.0 / 0.4 / 1000.0);
}

void DecayFactorOfTenDays() {
  EXPECT_NEAR(DecayPerInternalStep(TracerDecayFactor(1440.0, 10.0), 1), 0.93303, 5e-6);
}

void GroundwaterLayerOneTakesGwiniEverywhere() {
  const std::vector<double> theta{0, 0.2, 0.3, 0.4}, dz{0, 0.1, 0.2, 0.5};
  std::vector<double> s(4, -1.0);
  FillStartTracerColumn(Amount(), 3.0, 5.0, 1, 3, theta, dz, s);
  EXPECT_DOUBLE_EQ(s[1], 5.0 * 0.2 * 100.0);
  EXPECT_DOUBLE_EQ(s[2], 5.0 * 0.3 * 200.0);
  EXPECT_DOUBLE_EQ(s[3], 5.0 * 0.4 * 500.0);
  FillStartTracerColumn({true, false, 0.0, 1.0}, 3.0, 5.0, 4, 3, theta, dz, s);
  EXPECT_EQ(s, (std::vector<double>{-1.0, 3.0, 3.0, 3.0}));
  EXPECT_DOUBLE_EQ(StoredConcentration(Amount(2.0), 5.0 * 0.4 * 500.0, 0.4, 0.5), 2.0);
  EXPECT_DOUBLE_EQ(StoredConcentration(Amount(0.0), 5.0 * 0.4 * 500.0, 0.4, 0.5), 5.0);
}

void TransportedLayerCount() {
  Column c(6);
  c.g = 2;
  EXPECT_EQ(TransportedLayers(c.Water()), 3);
  c.supply[4] = 1e-7;
  c.river[5] = 1e-7;
  EXPECT_EQ(TransportedLayers(c.Water()), 5);
  c.exfiltration[6] = 1e-7;
  EXPECT_EQ(TransportedLayers(c.Water()), 6);
  c.g = 6;
  EXPECT_EQ(TransportedLayers(c.Water()), 6);
}

void SurfaceMixing() {
  const SoluteKind evaporating{true, false, 1e6, 1.0};
  // Without a pond an evaporating tracer takes the input's concentration,
  // with one the volume-weighted mix.
  EXPECT_DOUBLE_EQ(MixSurfaceInput(evaporating, 9.0, 2.0, {3.0, 0, 0, 0, false, false}), 2.0);
  EXPECT_DOUBLE_EQ(MixSurfaceInput(evaporating, 8.0, 2.0, {2.0, 1.0, 0, 3.0, true, false}), 5.0);
  EXPECT_DOUBLE_EQ(MixSurfaceInput(Amount(), 1.0, 2.0, {3.0, 1.0, 5.0, 0, false, false}), 9.0);
  EXPECT_DOUBLE_EQ(MixSurfaceInput(Amount(), 1.0, 2.0, {3.0, 1.0, 5.0, 0, false, true}), 19.0);
  // Silting-up water of a known concentration (7) brings its own tracer:
  // 5 mm of it add 35 to an amount, whether surface storage or pond water;
  // running off directly it adds nothing to the store.
  EXPECT_DOUBLE_EQ(MixSurfaceInput(Amount(), 1.0, 2.0, {3.0, 1.0, 5.0, 0, false, true, true, 7.0}),
                   44.0);
  EXPECT_DOUBLE_EQ(MixSurfaceInput(Amount(), 1.0, 2.0, {3.0, 1.0, 5.0, 0, true, false, true, 7.0}),
                   44.0);
  EXPECT_DOUBLE_EQ(MixSurfaceInput(Amount(), 1.0, 2.0, {3.0, 1.0, 5.0, 0, false, false, true, 7.0}),
                   9.0);
  EXPECT_DOUBLE_EQ(
      MixSurfaceInput(evaporating, 9.0, 2.0, {3.0, 1.0, 5.0, 0, false, true, true, 7.0}),
      43.0 / 9.0);
  EXPECT_DOUBLE_EQ(
      MixSurfaceInput(evaporating, 8.0, 2.0, {2.0, 1.0, 2.0, 3.0, true, false, true, 9.0}), 6.0);
  // A pond without overflow sends no tracer to the direct runoff.
  double store = 4.0;
  EXPECT_EQ(PondOverflowTracer(Amount(), store, false, 1e-6, 0.5, 1e6), 0.0);
  EXPECT_EQ(store, 4.0);
  EXPECT_DOUBLE_EQ(PondOverflowTracer(Amount(), store, true, 1e-6, 0.5, 1e6), 2.0);
  EXPECT_DOUBLE_EQ(store, 2.0);
  EXPECT_DOUBLE_EQ(PondOverflowTracer(Amount(0.5), store, true, 1e-6, 0.5, 1e6), 0.5);
  EXPECT_DOUBLE_EQ(store, 1.5);
}

void CallSums() {
  TracerCallSum amount, concentration;
  amount.Add(false, 2.0, 1.0);
  amount.Add(false, 3.0, 5.0);
  concentration.Add(true, 2.0, 1.0);
  concentration.Add(true, 5.0, 3.0);
  EXPECT_DOUBLE_EQ(amount.Value(false), 5.0);
  EXPECT_DOUBLE_EQ(concentration.Value(true), 17.0 / 4.0);
  concentration.Clear();
  EXPECT_EQ(concentration.Value(true), 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TransportEdgeCases,
    ::testing::Values(
        EdgeCase{"PassThroughFromAbove", PassThroughFromAbove},
        EdgeCase{"MaxConcZeroMovesNothing", MaxConcZeroMovesNothing},
        EdgeCase{"EvaporationConcentrates", EvaporationConcentrates},
        EdgeCase{"SaturatedZoneMixes", SaturatedZoneMixes},
        EdgeCase{"DecayTakesTenPercentEverywhere", DecayTakesTenPercentEverywhere},
        EdgeCase{"NothingLeavesTheDeepestLayer", NothingLeavesTheDeepestLayer},
        EdgeCase{"UpwardFluxTakesFromBelow", UpwardFluxTakesFromBelowTheTransportedLayers},
        EdgeCase{"DeepAquiferOnlyAddsWater", DeepAquiferOnlyAddsWater},
        EdgeCase{"DecayFactorOfTenDays", DecayFactorOfTenDays},
        EdgeCase{"GroundwaterLayerOneTakesGwini", GroundwaterLayerOneTakesGwiniEverywhere},
        EdgeCase{"TransportedLayerCount", TransportedLayerCount},
        EdgeCase{"SurfaceMixing", SurfaceMixing}, EdgeCase{"CallSums", CallSums}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace tavro
