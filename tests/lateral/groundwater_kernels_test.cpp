// The per-cell groundwater kernels against hand-computed cases: leakage,
// transmissivity with dry and frozen cells, the cell update and its
// over-relaxation, fluxes, balance and tracer mixing.
#include "lateral/groundwater/cell_update.h"
#include "lateral/groundwater/flow_balance.h"
#include "lateral/groundwater/leakage.h"
#include "lateral/groundwater/tracer_mixing.h"
#include "lateral/groundwater/transmissivity.h"
#include "lateral/groundwater_names.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tavro::groundwater {
namespace {

TEST(GroundwaterLeakage, FollowsTheHeadsOfBothLayersWithinOneMetre) {
  struct Case {
    double hUp, hLow, topLow, expected;
  };
  const Case cases[] = {
      {10.0, 10.5, 8.0, 0.5e-6}, // lower head higher: upward flow
      {10.0, 13.0, 8.0, 1.0e-6}, // difference clamped to 1 m
      {10.0, 9.0, 8.0, -1.0e-6}, // confined below: downward
      {10.0, 7.0, 8.0, -1.0e-6}, // unconfined below: drains onto its top (clamped)
      {7.5, 7.0, 8.0, 0.0},      // the top above the upper head: nothing
      {9.0, 6.0, 8.5, -0.5e-6},  // drains onto the lower table: d = top - hUp = -0.5
      {20.0, 6.0, 8.5, -1.0e-6}, // clamped
  };
  for (const Case &c : cases)
    EXPECT_NEAR(LayerLeakage(c.hUp, c.hLow, c.topLow, 1e-6), c.expected, 1e-18)
        << c.hUp << " " << c.hLow << " " << c.topLow;
}

TransmissivitySide Side(double h, double k, double glacier = 0.0) {
  TransmissivitySide s;
  s.h = h;
  s.top = 10.0;
  s.b = 5.0;
  s.a = 5.0;
  s.k = k;
  s.glacier = glacier;
  return s;
}

TEST(GroundwaterTransmissivity, HarmonicMeanDryCellsGlaciersAndUnusableInput) {
  // Confined (h above top + 0.01): s = b; unconfined: s = h - top + a.
  EXPECT_DOUBLE_EQ(SaturatedThickness(10.02, 10.0, 5.0, 3.0), 5.0);
  EXPECT_DOUBLE_EQ(SaturatedThickness(10.01, 10.0, 5.0, 3.0), 3.01);
  EXPECT_DOUBLE_EQ(SaturatedThickness(8.0, 10.0, 5.0, 5.0), 3.0);
  EXPECT_DOUBLE_EQ(EffectiveThickness(5.0, true, 2.0, true, -1.0), 3.0);
  EXPECT_DOUBLE_EQ(EffectiveThickness(5.0, true, 7.0, false, 0.0), 0.0);
  EXPECT_DOUBLE_EQ(EffectiveThickness(5.0, false, 0.0, true, -1.5), 1.5);

  struct Case {
    const char *what;
    TransmissivitySide cell, neighbour;
    bool valid;
    double expected;
  };
  TransmissivitySide unusable = Side(12.0, 1e-4);
  unusable.conducts = false;
  const Case cases[] = {
      {"harmonic mean", Side(12.0, 1e-4), Side(12.0, 3e-4), true, 2 * 5e-4 * 15e-4 / 20e-4},
      {"invalid neighbour", Side(12.0, 1e-4), Side(12.0, 3e-4), false, 0.0},
      {"dry cell below a higher neighbour", Side(5.0, 1e-4), Side(12.0, 3e-4), true, 15e-4},
      {"dry cell above a lower neighbour", Side(5.0, 1e-4), Side(4.0, 3e-4), true, 0.0},
      {"dry neighbour below the cell", Side(12.0, 1e-4), Side(5.0, 3e-4), true, 5e-4},
      {"dry neighbour above the cell", Side(4.0, 1e-4), Side(5.0, 3e-4), true, 0.0},
      {"partly glaciated cell", Side(12.0, 1e-4, 0.5), Side(12.0, 3e-4), true, 0.0},
      {"glaciated neighbour", Side(12.0, 1e-4), Side(12.0, 3e-4, 1.0), true, 0.0},
      {"unusable cell", unusable, Side(12.0, 3e-4), true, 0.0},
      {"unusable neighbour", Side(12.0, 3e-4), unusable, true, 0.0},
  };
  for (const Case &c : cases)
    EXPECT_NEAR(InterblockTransmissivity(c.cell, c.neighbour, c.valid), c.expected, 1e-15)
        << c.what;
  EXPECT_FALSE(ConductsWater(-9999.0, 1e-4, 1e-4, 0.1));
  EXPECT_FALSE(ConductsWater(5.0, 1e-4, -1.0, 0.1));
  EXPECT_FALSE(ConductsWater(5.0, 1e-4, 1e-4, NAN));
  EXPECT_TRUE(ConductsWater(0.0, 0.0, 0.0, 0.0));
}

TEST(GroundwaterCellUpdate, SolvesTheImplicitBalanceOfOneCell) {
  Neighbourhood n;
  n.hN = 11.0;
  n.hE = 12.0;
  n.hS = 9.0;
  n.hW = 10.0;
  n.cN = n.cE = n.cS = n.cW = 1e-3;
  CellState cell;
  cell.hOld = 10.0;
  cell.storage = 1e-4;
  cell.area = 100.0;
  const double dt = 600.0;
  cell.source = 1e-6;
  for (double alpha : {1.0, 0.5}) {
    const double h = UpdatedHead(n, cell, alpha, dt);
    // The residual of the balance the update solves is zero.
    const double hc = (1 - alpha) * cell.hOld + alpha * h;
    const double lateral =
        n.cN * (n.hN - hc) + n.cE * (n.hE - hc) + n.cS * (n.hS - hc) + n.cW * (n.hW - hc);
    EXPECT_NEAR(cell.storage * cell.area * (h - cell.hOld) / dt, lateral + 1e-6 * cell.area, 1e-15);
  }
  // No exchange: the head stays exactly.
  CellState alone{123.456789, 0.2, 0.0, 1e4};
  EXPECT_EQ(UpdatedHead(Neighbourhood{}, alone, 1.0, dt), alone.hOld);
  // Nothing to solve: the head at the start of the sub-step stays.
  EXPECT_EQ(UpdatedHead(Neighbourhood{}, CellState{7.0, 0.0, 0.0, 100.0}, 1.0, dt), 7.0);
  EXPECT_EQ(UpdatedHead(Neighbourhood{}, CellState{7.0, NAN, 0.0, 100.0}, 1.0, dt), 7.0);
}

TEST(GroundwaterCellUpdate, ChangeMeasureAndOverRelaxation) {
  EXPECT_NEAR(MeasuredChange(10.05, 10.0, 9.0, 10.0), 0.01, 1e-14); // confined counts a fifth
  EXPECT_NEAR(MeasuredChange(9.95, 10.0, 11.0, 10.0), 0.05, 1e-14);
  EXPECT_DOUBLE_EQ(AdaptiveFactor(10.1, 10.0, 10.0), 1.0); // first sweep
  EXPECT_DOUBLE_EQ(AdaptiveFactor(10.1, 10.0, 9.8), 1.5);  // 0.1 / 0.2 + 1
  EXPECT_DOUBLE_EQ(AdaptiveFactor(10.3, 10.0, 9.9), 2.0);  // capped
  EXPECT_DOUBLE_EQ(AdaptiveFactor(9.7, 10.0, 9.9), 1.0);   // turned back: r <= 0
  EXPECT_DOUBLE_EQ(Relaxed(10.1, 10.0, 1.5), 10.15);
}

TEST(GroundwaterFlowBalance, FluxesVolumesResidualAndOscillation) {
  EXPECT_DOUBLE_EQ(DarcyFlux(12.0, 10.0, 1e-4, 10.0), 2e-5);
  EXPECT_DOUBLE_EQ(LateralInflow(12.0, 10.0, 10.0, 1e-3, 20.0, 60.0), 0.24);
  EXPECT_DOUBLE_EQ(StoredVolume(8.0, 10.0, 5.0, 0.2, 100.0), 60.0);
  EXPECT_DOUBLE_EQ(StoredVolume(4.0, 10.0, 5.0, 0.2, 100.0), 0.0);
  EXPECT_DOUBLE_EQ(StoredVolume(12.0, 10.0, 5.0, 0.2, 100.0), 100.0);
  // 1 cm rise at S 0.1 is 1 mm of water; an inflow of 0.1 m³ on 100 m² explains it.
  const CellInflows inflow{0.05, 0.05, 0, 0, 0, 0};
  EXPECT_NEAR(BalanceResidual(10.01, 10.0, 0.1, inflow, 100.0), 0.0, 1e-12);
  EXPECT_NEAR(BalanceResidual(10.01, 10.0, 0.1, CellInflows{}, 100.0), 1.0, 1e-12);
  EXPECT_TRUE(Oscillates(0.1, -0.1, 0.01));
  EXPECT_TRUE(Oscillates(-0.1, 0.1, 0.01));
  EXPECT_FALSE(Oscillates(0.1, 0.1, 0.01));
  EXPECT_FALSE(Oscillates(0.005, -0.1, 0.01));
}

TEST(GroundwaterTracerMixing, ConservesMassAndEmptiesADrainedCell) {
  double total = 0.0;
  const CellInflows q{10.0, -5.0, 0, 0, 0, 2.0};
  const CellInflows c{4.0, 1.0, 0, 0, 0, 3.0};
  const double mixed = MixedConcentration(1.0, 100.0, q, c, total);
  EXPECT_DOUBLE_EQ(total, 107.0);
  EXPECT_DOUBLE_EQ(mixed * total, 100.0 + 40.0 - 5.0 + 6.0);
  EXPECT_EQ(MixedConcentration(1.0, 10.0, CellInflows{-20.0, 0, 0, 0, 0, 0}, c, total), 0.0);
  // One half-life halves the tracer.
  EXPECT_NEAR(std::pow(DecayFactor(0.25, 3.0), 12.0), 0.5, 2e-10);
}

TEST(GroundwaterNames, StartOfStepFileNameChangesTheFilePartOnly) {
  EXPECT_EQ(DerivedHeadsFileName("heads", "_old"), "heads_old");
  EXPECT_EQ(DerivedHeadsFileName("heads.asc", "_old"), "heads_old.asc");
  EXPECT_EQ(DerivedHeadsFileName("run.1/heads", "_old"), "run.1/heads_old");
  EXPECT_EQ(DerivedHeadsFileName("run.1/heads.b.asc", "_oldold"), "run.1/heads.b_oldold.asc");
  EXPECT_EQ(LayerIdentifier("gw_balance", 1), "gw_balance1");
  EXPECT_EQ(ControlRecordBytes(40), 1960u);
  EXPECT_EQ(ControlRecordCapacity(40), 1069u);
  EXPECT_EQ(ControlRecordCapacity(1), 2097152u / 88u);
}

} // namespace
} // namespace tavro::groundwater
