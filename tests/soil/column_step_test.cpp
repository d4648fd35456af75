// One soil column through many calls of the soil-water step: steady
// infiltration against Gardner's analytic profile, the number of internal
// steps of methode 3, and the balance of the column over a year of daily
// steps in every configuration that moves water differently.
#include "soil/column_step.h"
#include "soil/gardner_soil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tavro {
namespace {

using test::GardnerSoil;
using test::UniformColumn;

// A column of one soil with its stack columns, run call after call.
class ColumnRun {
public:
  ColumnRun(int layers, double thickness, double alpha, double thetaS, double thetaR, double ksat,
            int landuseLayers = 1)
      : soil(alpha, thetaS, thetaR),
        column(layers, thickness, thetaS, thetaR, ksat, soil.Theta(1, 3.45)),
        work(layers, landuseLayers), landuse(static_cast<std::size_t>(landuseLayers) + 1),
        theta(static_cast<std::size_t>(layers) + 1), geodetic(static_cast<std::size_t>(layers) + 1),
        heads(static_cast<std::size_t>(layers) + 1), qDown(static_cast<std::size_t>(layers) + 1) {
    for (int k = 1; k <= layers; ++k)
      geodetic[static_cast<std::size_t>(k)] = geodetic[static_cast<std::size_t>(k - 1)] - thickness;
    inputs.landuse = landuse;
    settings.intervalMinutes = 60.0;
  }

  // Water contents in equilibrium with a table at depth (m), which must lie
  // on a layer bottom.
  void Equilibrium(double depth) {
    const int n = column.geometry.layers;
    int g = n;
    for (int k = 1; k <= n; ++k) {
      const auto i = static_cast<std::size_t>(k);
      const double centre = 0.5 * (geodetic[i - 1] + geodetic[i]);
      const double height = centre + depth;
      theta[i] = height > 0.0 ? soil.Theta(k, height) : column.theta_s[i];
      heads[i] = centre - soil.Suction(k, theta[i]);
      if (std::fabs(geodetic[i] + depth) < 1e-9)
        g = k;
    }
    state.groundwaterLevel = g;
    state.groundwaterDistance = -depth;
    state.thetaInGwLevel = theta[static_cast<std::size_t>(g)];
  }

  double Water() const {
    double sum = 0.0;
    for (std::size_t i = 1; i < theta.size(); ++i)
      sum += theta[i] * column.dz[i] * 1000.0;
    return sum;
  }

  void Step() {
    const ColumnStacks stacks{theta, geodetic, heads, qDown};
    ColumnStep(soil, column.geometry, settings, inputs, state, stacks, work, nullptr);
  }

  GardnerSoil soil;
  UniformColumn column;
  ColumnWorkspace work;
  std::vector<LanduseLayerValues> landuse;
  std::vector<double> theta, geodetic, heads, qDown;
  ColumnStepSettings settings;
  ColumnCellInputs inputs;
  ColumnCellState state;
};

TEST(ColumnStep, SteadyInfiltrationFollowsGardnersProfile) {
  constexpr double ks = 1e-5;
  constexpr double alpha = 2.0;
  constexpr double q = 0.3 * ks;
  ColumnRun run(20, 0.05, alpha, 0.40, 0.05, ks);
  run.Equilibrium(0.75);
  run.settings.intervalMinutes = 10.0;
  run.inputs.waterInput = q * 6e5; // mm per step
  // A recession that delivers q with the table at 0.75 m.
  run.inputs.invKelsqlat = 2.0;
  run.inputs.maxBaseflow = q * 6e5 * std::exp(0.75 * 2.0);
  // About seven months of ten-minute steps.
  for (int step = 0; step < 30000; ++step)
    run.Step();
  const double table = run.state.groundwaterDistance; // m, negative
  EXPECT_NEAR(table, -0.75, 0.05);
  const int g = static_cast<int>(run.state.groundwaterLevel);
  // One layer of 5 cm against a length scale 1 / alpha of 50 cm: close to
  // the table the layered heads lag the profile by more than 3 %.
  for (int k = 1; k <= g - 6; ++k) {
    const auto i = static_cast<std::size_t>(k);
    const double centre = 0.5 * (run.geodetic[i - 1] + run.geodetic[i]);
    const double z = centre - table; // height above the table
    const double psi = std::log(q / ks + (1.0 - q / ks) * std::exp(-alpha * z)) / alpha;
    EXPECT_NEAR(run.soil.Suction(k, run.theta[i]), -psi, 0.03 * -psi) << "layer " << k;
  }
  for (int k = 0; k < g - 1; ++k)
    EXPECT_NEAR(run.qDown[static_cast<std::size_t>(k)], -q, 1e-3 * q) << "boundary " << k;
}

TEST(ColumnStep, Methode3StepCountFollowsTheFastestLayer) {
  // Two layers of 0.1 m, ksat 1e-5 m/s: a wet layer drains 0.1 m in 1e4 s.
  ColumnRun run(2, 0.1, 2.0, 0.40, 0.05, 1e-5);
  run.settings.methode = 3;
  run.settings.dParameterMinStep = 900.0;
  run.settings.intervalMinutes = 1440.0;
  ColumnState state = run.column.State();
  state.theta = {0, 0.1, 0.1};
  state.groundwater_layer = 2;
  // With input every layer above the groundwater layer conducts at ksat:
  // 86400 s / 1e4 s gives 9 internal steps.
  EXPECT_EQ(InternalStepCount(run.soil, run.column.geometry, state, run.settings, true), 9);
  // Without input layer 1 conducts at Krel (0.05 / 0.35): 86400 / 70000 -> 2.
  EXPECT_EQ(InternalStepCount(run.soil, run.column.geometry, state, run.settings, false), 2);
  // The shortest internal step bounds the count.
  run.settings.dParameterMinStep = 43200.0;
  EXPECT_EQ(InternalStepCount(run.soil, run.column.geometry, state, run.settings, true), 2);
  run.settings.methode = 2;
  EXPECT_EQ(InternalStepCount(run.soil, run.column.geometry, state, run.settings, true), 1);
}

// A loam-like column of daily steps under a table at 0.8 m, with one
// land-use layer, baseflow and evaporation.
void DailyLoamColumn(ColumnRun &run) {
  run.settings.intervalMinutes = 1440.0;
  run.Equilibrium(0.8);
  run.inputs.invKelsqlat = 2.0;
  run.inputs.maxBaseflow = 2.0;
  run.landuse[1] = LanduseLayerValues{true, 3.0, 0.8, 0.5, 1.0, 3.45, 0.95, 0.5};
  run.inputs.potentialEvaporation = 1.0;
}

// One row of the balance table: what differs from a plain loam-like column
// under daily rain and evaporation.
struct BalanceCase {
  const char *name;
  void (*configure)(ColumnRun &run);
};

// A year of daily steps: input - (evapotranspiration + direct runoff +
// interflow + baseflow) equals the change of soil water and pond.
class ColumnBalanceTest : public testing::TestWithParam<BalanceCase> {};

TEST_P(ColumnBalanceTest, YearOfDailyStepsCloses) {
  ColumnRun run(10, 0.1, 2.0, 0.40, 0.05, 1e-5);
  DailyLoamColumn(run);
  GetParam().configure(run);
  const double start = run.Water() + run.state.ponding;
  const double baseRain = run.inputs.waterInput;
  double input = 0.0;
  double out = 0.0;
  double drainage = 0.0;
  double interflow = 0.0;
  double driest = 1.0;
  double worstResidual = 0.0; // of the balance each call keeps
  for (int day = 0; day < 365; ++day) {
    // Dry spells, showers and a storm now and then.
    run.inputs.waterInput = baseRain + (day % 7 == 0 ? 40.0 : day % 3 == 0 ? 6.0 : 0.0);
    input += run.inputs.waterInput + run.inputs.siltingUp;
    for (int call = 0; call < run.settings.substeps; ++call) {
      run.Step();
      const ColumnStepOutputs &o = run.work.outputs;
      out += o.realTranspiration[0] + o.directflow + o.interflow + o.baseflow;
      drainage += o.drainage;
      interflow += o.interflow;
      worstResidual = std::max(worstResidual, std::fabs(o.balance.Residual()));
      for (std::size_t k = 1; k < run.theta.size(); ++k)
        driest = std::min(driest, run.theta[k]);
    }
  }
  const double change = run.Water() + run.state.ponding - start;
  EXPECT_NEAR(input - out, change, 1e-9 * input) << GetParam().name;
  // The drains are part of the interflow: no step books drainage it did not have.
  EXPECT_LE(drainage, interflow + 1e-9);
  EXPECT_LT(worstResidual, 1e-9 * input);
  // Evaporation and transpiration never take a layer below empty.
  EXPECT_GE(driest, 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ColumnBalanceTest,
    testing::Values(BalanceCase{"methode2", [](ColumnRun &) {}},
                    BalanceCase{"methode3",
                                [](ColumnRun &r) {
                                  r.settings.methode = 3;
                                  r.settings.dParameterMinStep = 900.0;
                                }},
                    // A shallow pond that overflows in every storm.
                    BalanceCase{"pond_overflow", [](ColumnRun &r) { r.inputs.maxPonding = 5.0; }},
                    BalanceCase{"drainage",
                                [](ColumnRun &r) {
                                  r.inputs.drainageLevel = 3;
                                  r.inputs.drainageDistance = 10.0;
                                  r.settings.cellSize = 100.0;
                                  r.inputs.drainageDensity = 0.5;
                                  r.inputs.tanBeta = 0.3;
                                }},
                    BalanceCase{"macropores",
                                [](ColumnRun &r) {
                                  r.column.geometry.PMacroThresh = 0.5 / 3.6e6;
                                  r.column.geometry.MacroCapacity = 2.0 / 3.6e6;
                                  r.column.geometry.MacroDepth = 0.5;
                                }},
                    // Roots to 0.9 m under a table at 0.3 m in a soil dried by evaporation.
                    BalanceCase{"deep_roots_below_the_table",
                                [](ColumnRun &r) {
                                  r.Equilibrium(0.3);
                                  r.inputs.maxBaseflow = 0.0;
                                  r.landuse[1].rootDepth = 0.9;
                                  r.landuse[1].potentialTranspiration = 8.0;
                                }},
                    BalanceCase{"thaw_depth_in_layer_1",
                                [](ColumnRun &r) { r.inputs.thawDepth = -0.05; }},
                    // A supply from below larger than the room of the whole column.
                    BalanceCase{"supply_beyond_the_pore_space",
                                [](ColumnRun &r) { r.inputs.maxBaseflow = -500.0; }},
                    BalanceCase{"silting_up_three_calls",
                                [](ColumnRun &r) {
                                  r.settings.substeps = 3;
                                  r.inputs.siltingUp = 4.0;
                                }},
                    // Shallow roots and bare soil both drawing hard on the top layer.
                    BalanceCase{"transpiration_and_evaporation_from_the_top_layer",
                                [](ColumnRun &r) {
                                  r.Equilibrium(1.0);
                                  r.inputs.maxBaseflow = 0.0;
                                  r.inputs.potentialEvaporation = 40.0;
                                  r.landuse[1].potentialTranspiration = 40.0;
                                  r.landuse[1].coverage = 0.5;
                                  r.landuse[1].rootDepth = 0.1;
                                  r.landuse[1].tReduWet = 1.0;
                                }},
                    BalanceCase{"dry_top_under_strong_evaporation",
                                [](ColumnRun &r) {
                                  r.Equilibrium(1.0);
                                  r.inputs.maxBaseflow = 0.0;
                                  r.inputs.potentialEvaporation = 30.0;
                                  r.landuse[1].coverage = 0.1;
                                }}),
    [](const testing::TestParamInfo<BalanceCase> &info) { return std::string(info.param.name); });

// One row of the pond table: a pond under daily rain and evaporation, and
// what it is to show at least once.
struct PondCase {
  const char *name;
  void (*configure)(ColumnRun &run);
  bool overflows; // spills over its largest depth
  bool fedFromBelow;
};

// The pond's own terms close its balance in every call: its change is the
// water input plus its exchange less its evaporation and overflow. A lake on
// the cell books exactly these.
class PondBalanceTest : public testing::TestWithParam<PondCase> {};

TEST_P(PondBalanceTest, ThePondsOwnTermsCloseItsChange) {
  ColumnRun run(10, 0.1, 2.0, 0.40, 0.05, 1e-5);
  DailyLoamColumn(run);
  run.inputs.maxPonding = 2000.0;
  run.state.ponding = 300.0;
  GetParam().configure(run);
  double evaporation = 0.0;
  double overflow = 0.0;
  double maxExchange = -1e300;
  double worst = 0.0;
  for (int day = 0; day < 120; ++day) {
    const double rain = day % 7 == 0 ? 40.0 : day % 3 == 0 ? 6.0 : 0.0;
    run.inputs.waterInput = rain;
    for (int call = 0; call < run.settings.substeps; ++call) {
      const double before = run.state.ponding;
      run.Step();
      const ColumnStepOutputs &o = run.work.outputs;
      const double booked =
          rain / run.settings.substeps + o.pondExchange - o.pondEvaporation - o.pondOverflow;
      worst = std::max(worst, std::fabs(run.state.ponding - before - booked));
      EXPECT_GE(o.pondEvaporation, 0.0);
      EXPECT_GE(o.pondOverflow, 0.0);
      EXPECT_LE(o.pondEvaporation, o.realTranspiration[0] + 1e-12);
      evaporation += o.pondEvaporation;
      overflow += o.pondOverflow;
      maxExchange = std::max(maxExchange, o.pondExchange);
    }
  }
  EXPECT_LT(worst, 1e-9) << GetParam().name;
  EXPECT_GT(evaporation, 0.0);
  EXPECT_EQ(overflow > 0.0, GetParam().overflows);
  EXPECT_EQ(maxExchange > 0.0, GetParam().fedFromBelow);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PondBalanceTest,
    testing::Values(PondCase{"deep_pond", [](ColumnRun &) {}, false, false},
                    // Strong evaporation dries a shallow pond out and rain fills it again.
                    PondCase{"drying_pond",
                             [](ColumnRun &r) {
                               r.state.ponding = 2.0;
                               r.landuse[1].potentialTranspiration = 15.0;
                             },
                             false, false},
                    PondCase{"overflowing_pond",
                             [](ColumnRun &r) {
                               r.inputs.maxPonding = 5.0;
                               r.state.ponding = 5.0;
                             },
                             true, false},
                    PondCase{"macropores_under_the_pond",
                             [](ColumnRun &r) {
                               r.column.geometry.PMacroThresh = 0.5 / 3.6e6;
                               r.column.geometry.MacroCapacity = 2.0 / 3.6e6;
                               r.column.geometry.MacroDepth = 0.5;
                             },
                             false, false},
                    PondCase{"silting_up_in_three_calls",
                             [](ColumnRun &r) {
                               r.settings.substeps = 3;
                               r.inputs.siltingUp = 4.0;
                             },
                             false, true},
                    PondCase{"methode3",
                             [](ColumnRun &r) {
                               r.settings.methode = 3;
                               r.settings.dParameterMinStep = 900.0;
                             },
                             false, false}),
    [](const testing::TestParamInfo<PondCase> &info) { return std::string(info.param.name); });

TEST(FormSurfaceRunoff, BooksAnUpwardSurfaceFluxAndThePondOverflow) {
  double pond = 0.0;
  // 2 mm of input over 1000 s and 0.5 mm pushed up out of the soil: all of
  // it runs off, nothing infiltrates.
  SurfaceRunoff r = FormSurfaceRunoff(2e-6, 0.0, 0.5e-6, 0.0, 0.0, 0.0, 1e6, pond);
  EXPECT_NEAR(r.direct, 2.5, 1e-12);
  EXPECT_NEAR(r.excess, 2.5, 1e-12);
  EXPECT_EQ(r.infiltration, 0.0);
  // With a pond of at most 1.5 mm: 3 mm in, 1 mm infiltrated, 0.5 mm over.
  pond = 0.0;
  r = FormSurfaceRunoff(3e-6, 0.0, -1e-6, 0.0, 0.0, 1.5, 1e6, pond);
  EXPECT_NEAR(r.infiltration, 1.0, 1e-12);
  EXPECT_NEAR(pond, 1.5, 1e-12);
  EXPECT_NEAR(r.direct, 0.5, 1e-12);
  EXPECT_EQ(r.excess, 0.0);
}

TEST(ColumnStep, FrozenTopLayerAdmitsOnlyTheReducedConductivity) {
  ColumnRun run(10, 0.1, 2.0, 0.40, 0.05, 1e-5);
  run.settings.intervalMinutes = 1440.0;
  run.Equilibrium(0.8);
  run.inputs.thawDepth = -0.05; // inside layer 1: every layer frozen
  run.settings.reducedKsat = 1e-8;
  run.inputs.waterInput = 20.0;
  run.Step();
  const ColumnStepOutputs &o = run.work.outputs;
  EXPECT_GT(o.totalInfiltration, 0.0);
  EXPECT_LE(o.totalInfiltration, 1e-8 * 8.64e7 + 1e-9); // 0.864 mm in the day
  EXPECT_NEAR(o.infiltrationExcess + o.totalInfiltration, 20.0, 1e-9);
}

TEST(ColumnState, EveryInternalStepStartsWithoutExchangeAndDrainage) {
  ColumnState state(3);
  state.river_infiltration_sum = 1e-6;
  state.exfiltration_sum = 2e-6;
  state.drainage_rate = 3e-6;
  state.theta = {0, 0.2, 0.3, 0.4};
  state.ResetStep(3);
  EXPECT_EQ(state.river_infiltration_sum, 0.0);
  EXPECT_EQ(state.exfiltration_sum, 0.0);
  EXPECT_EQ(state.drainage_rate, 0.0);
  EXPECT_EQ(state.theta_old, state.theta);
}

} // namespace
} // namespace tavro
