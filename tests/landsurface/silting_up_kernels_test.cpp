// The silting-up formulas of one cell: the rain energy against Wischmeier and
// Smith (1978), the texture value of pure clay against the geometric mean of
// its grain diameter, the time since tillage over a year, the energy and the
// infiltration capacity, the water split and the tracers, and the formulas
// of method 3 restating the built-in ones.
#include "landsurface/silting_up/silting_up_expressions.h"
#include "landsurface/silting_up/silting_up_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace tavro::siltingup {
namespace {

TEST(SiltingUpKernelsTest, RainEnergyAgainstWischmeierAndSmith) {
  // e = 11.9 + 8.73 log10 i (J m-2 mm-1), published: 20.63 at 10 mm/h and
  // the value at the cap of 76 mm/h, 28.3.
  EXPECT_NEAR(RainEnergyFactor(10.0), 20.62, 1e-12);
  EXPECT_NEAR(RainEnergyFactor(10.0), 20.63, 0.011);
  EXPECT_NEAR(RainEnergyFactor(76.2), 28.33, 1e-12);
  EXPECT_NEAR(RainEnergyFactor(200.0), 28.33, 1e-12);
  EXPECT_NEAR(RainEnergyFactor(76.1), 11.89 + 8.73 * std::log10(76.1), 1e-12);
  EXPECT_NEAR(RainEnergyFactor(1.0), 11.89, 1e-12);
  // At 0.05 mm/h and below a step counts as dry.
  EXPECT_EQ(RainEnergyFactor(0.05), 0.0);
  EXPECT_EQ(RainEnergyFactor(0.0), 0.0);
  EXPECT_GT(RainEnergyFactor(0.0501), 0.0);
}

TEST(SiltingUpKernelsTest, RainIntensityAndPause) {
  EXPECT_DOUBLE_EQ(RainIntensity(1.2, 1440.0), 0.05);
  EXPECT_DOUBLE_EQ(RainIntensity(3.0, 60.0), 3.0);
  // 0.05 mm/h is no rain: the pause grows by the step, in days.
  EXPECT_DOUBLE_EQ(RainPauseAfter(2.0, 0.05, 1440.0), 3.0);
  EXPECT_DOUBLE_EQ(RainPauseAfter(2.0, 0.0, 360.0), 2.25);
  EXPECT_EQ(RainPauseAfter(2.0, 0.051, 1440.0), 0.0);
}

TEST(SiltingUpKernelsTest, TextureValueIsTheGeometricMeanDiameter) {
  // K = 10^(0.5 sum f_i log10 d_i): pure clay of 0.08 and pure first-class
  // stones of 1.26e7 give the square root of their diameter.
  EXPECT_NEAR(TextureValue({0, 0, 1, 0, 0, 0, 0}), std::sqrt(0.08), 1e-15);
  EXPECT_NEAR(TextureValue({0, 0, 0, 1, 0, 0, 0}), std::sqrt(1.26e7), 1e-8);
  // A mixture: the product of the powers of the pure values.
  const GrainSizes loam{0.4, 0.4, 0.2, 0, 0, 0, 0};
  const double product = std::pow(TextureValue({1, 0, 0, 0, 0, 0, 0}), 0.4) *
                         std::pow(TextureValue({0, 1, 0, 0, 0, 0, 0}), 0.4) *
                         std::pow(TextureValue({0, 0, 1, 0, 0, 0, 0}), 0.2);
  EXPECT_NEAR(TextureValue(loam), product, 1e-12 * product);
}

TEST(SiltingUpKernelsTest, TimeSinceTillage) {
  // Tillage on days 100 and 250; element 0 is 250 - 366.
  const std::vector<int> days{-116, 100, 250};
  struct Case {
    int day;
    double since;
  };
  const Case cases[] = {
      {1, 117}, // before the first day: since the last one of the year before
      {50, 166}, {99, 215},  {100, 0.3}, // the day of tillage itself
      {101, 1},  {200, 100}, {249, 149}, {250, 0.3}, {251, 1}, {365, 115},
  };
  for (const Case &c : cases)
    EXPECT_EQ(TimeSinceTillage(c.day, days), c.since) << c.day;
  // One tillage day a year.
  const std::vector<int> once{-246, 120};
  EXPECT_EQ(TimeSinceTillage(119, once), 365.0);
  EXPECT_EQ(TimeSinceTillage(120, once), 0.3);
  EXPECT_EQ(TimeSinceTillage(121, once), 1.0);
  // No tillage days.
  const std::vector<int> none{-9999};
  EXPECT_FALSE(HasTillage(none));
  EXPECT_TRUE(HasTillage(days));
  EXPECT_EQ(TimeSinceTillage(150, none), 0.0);
}

TEST(SiltingUpKernelsTest, InfiltrationCapacityAndDisposition) {
  const MethodParameters defaults;
  // Cv = 0 keeps the initial rate: 65 mm/h over the step.
  EXPECT_DOUBLE_EQ(InfiltrationCapacity(defaults.A, 10.0, 0.0, 500.0, 1440.0), 65.0 * 24.0);
  EXPECT_DOUBLE_EQ(InfiltrationCapacity(defaults.A, 10.0, 0.0, 500.0, 30.0), 32.5);
  // Without energy the capacity is the initial rate; with much energy the final.
  EXPECT_DOUBLE_EQ(InfiltrationCapacity(65.0, 10.0, 0.1, 0.0, 60.0), 65.0);
  EXPECT_NEAR(InfiltrationCapacity(65.0, 10.0, 0.1, 1e4, 60.0), 10.0, 1e-12);
  // Half-way at Cv E = ln 2.
  EXPECT_NEAR(InfiltrationCapacity(65.0, 10.0, 0.01, 100.0 * std::log(2.0), 60.0), 37.5, 1e-12);

  // The built-in rates: Iinf = B K^C (100 sand)^D, Cv = E (100 sand)^F K^G t^H.
  const double k = 2.0, sand = 0.3;
  EXPECT_NEAR(FinalInfiltrationRate(defaults, k, sand),
              12.2 * std::pow(2.0, 0.52) * std::pow(30.0, -0.64), 1e-12);
  EXPECT_NEAR(Disposition(defaults, k, sand, 10.0),
              0.013 * std::pow(30.0, -1.03) * std::pow(2.0, 0.7) * std::pow(10.0, -0.19), 1e-15);
  EXPECT_EQ(Disposition(defaults, k, sand, 0.0), 0.0);
}

TEST(SiltingUpKernelsTest, KineticEnergyAccumulatesAndRestarts) {
  EnergyStep step;
  step.sinceTillage = 5.0;
  step.intensity = 10.0;
  step.energyFactor = RainEnergyFactor(10.0);
  step.cover = 0.25;
  step.dtMinutes = 60.0;
  step.minimumPause = 1.0;
  step.rainPause = 0.0;
  const double increment = 10.0 * 20.62 * 0.75;
  EXPECT_NEAR(KineticEnergyAfter(100.0, step), 100.0 + increment, 1e-12);
  // A pause of at least the zone's minimum restarts with the step's increment.
  step.rainPause = 1.0;
  EXPECT_NEAR(KineticEnergyAfter(100.0, step), increment, 1e-12);
  step.rainPause = 0.99;
  EXPECT_NEAR(KineticEnergyAfter(100.0, step), 100.0 + increment, 1e-12);
  // Full cover adds nothing.
  step.cover = 1.0;
  EXPECT_EQ(KineticEnergyAfter(100.0, step), 100.0);
  // No time since tillage: no energy.
  step.sinceTillage = 0.0;
  EXPECT_EQ(KineticEnergyAfter(100.0, step), 0.0);
}

TEST(SiltingUpKernelsTest, WaterSplitClosesItsBalance) {
  struct Case {
    double input, storage, capacity;
    bool tilled;
    double infiltrating, runoff;
  };
  const Case cases[] = {
      {10.0, 2.0, 5.0, true, 5.0, 7.0},
      {3.0, 1.0, 5.0, true, 4.0, 0.0},    // below the capacity: no runoff
      {10.0, 2.0, 5.0, false, 12.0, 0.0}, // no tillage: the storage joins the input
      {0.0, 0.0, 5.0, true, 0.0, 0.0},
      {0.1, 0.2, 0.0, true, 0.0, 0.1 + 0.2},
  };
  for (const Case &c : cases) {
    const WaterSplit split = SplitWater(c.input, c.storage, c.capacity, c.tilled);
    EXPECT_EQ(split.water, c.input + c.storage);
    EXPECT_EQ(split.infiltrating, c.infiltrating);
    EXPECT_EQ(split.directRunoff, c.runoff);
    // In = out: the input and the storage before, infiltration and runoff after.
    EXPECT_EQ(c.input + c.storage, split.infiltrating + split.directRunoff);
  }
}

TEST(SiltingUpKernelsTest, TracersInAndOut) {
  // A tracer that does not evaporate stores mass per area.
  EXPECT_DOUBLE_EQ(TracerAfterInput(3.0, 2.0, 0.5, 4.0, false), 4.0);
  EXPECT_DOUBLE_EQ(TracerAfterInput(3.0, 0.0, 0.5, 4.0, false), 3.0);
  // An evaporating one mixes concentrations with the storage.
  EXPECT_DOUBLE_EQ(TracerAfterInput(3.0, 2.0, 0.5, 4.0, true), (3.0 * 4.0 + 0.5 * 2.0) / 6.0);
  EXPECT_DOUBLE_EQ(TracerAfterInput(3.0, 2.0, 0.5, -2.0, true), 0.0);

  // Export: the runoff's share S stored / (Q + S), at most S max_conc.
  TracerExport out = ExportTracer(6.0, 2.0, 4.0, 100.0, false, -1.0);
  EXPECT_DOUBLE_EQ(out.exported, 4.0);
  EXPECT_DOUBLE_EQ(out.stored, 2.0);
  EXPECT_DOUBLE_EQ(out.outflowConcentration, 2.0);
  out = ExportTracer(6.0, 2.0, 4.0, 0.5, false, -1.0);
  EXPECT_DOUBLE_EQ(out.exported, 2.0);
  EXPECT_DOUBLE_EQ(out.stored, 4.0);
  // No runoff: nothing leaves, the outflow concentration stays.
  out = ExportTracer(6.0, 0.0, 4.0, 100.0, false, 7.0);
  EXPECT_EQ(out.exported, 0.0);
  EXPECT_EQ(out.stored, 6.0);
  EXPECT_EQ(out.outflowConcentration, 7.0);
  // Evaporating: the outflow carries the stored concentration.
  out = ExportTracer(6.0, 2.0, 4.0, 100.0, true, 7.0);
  EXPECT_EQ(out.stored, 6.0);
  EXPECT_EQ(out.outflowConcentration, 6.0);

  // Never more than is stored, whatever the water.
  for (double q : {0.001, 0.5, 3.0, 1e6})
    for (double s : {0.0, 0.2, 5.0, 1e6})
      for (double stored : {0.0, 1.0, 1e3}) {
        const TracerExport e = ExportTracer(stored, q, s, 10.0, false, 0.0);
        EXPECT_LE(e.exported, stored);
        EXPECT_GE(e.exported, 0.0);
        EXPECT_EQ(e.stored + e.exported, stored);
      }
}

TEST(SiltingUpExpressionsTest, FormulasRestatingTheBuiltInMethod) {
  // Method 3 with the built-in formulas of method 1 gives its values.
  const std::vector<std::string> formulas{
      "Z=0.013*(100*L)^(-1.03)*K^0.7*O^(-0.19)", "W=(P>0.05)*(11.89+8.73*LOG10(P+(P<=0)))",
      "X=12.2*K^0.52*(100*L)^(-0.64)", "V=(X+(65-X)*EXP(-Z*Q))*R/60"};
  EXPECT_EQ(SecondPassStart(formulas), 3U);
  std::array<double, 11> parameters{};
  ExpressionInputs in;
  in.parameters = &parameters;
  in.texture = 2.0;
  in.sand = 0.3;
  in.clay = 0.2;
  in.silt = 0.5;
  in.sinceTillage = 10.0;
  in.intensity = 10.0;
  in.energy = 40.0;
  in.dtMinutes = 60.0;
  ExpressionEvaluator evaluator(formulas);
  double disposition = -1.0, factor = -1.0, capacity = -1.0;
  ASSERT_TRUE(evaluator.FirstPass(in, disposition, factor));
  const MethodParameters p;
  EXPECT_NEAR(disposition, Disposition(p, 2.0, 0.3, 10.0), 1e-15);
  EXPECT_NEAR(factor, RainEnergyFactor(10.0), 1e-12);
  ASSERT_TRUE(evaluator.SecondPass(55.0, capacity));
  EXPECT_NEAR(
      capacity,
      InfiltrationCapacity(65.0, FinalInfiltrationRate(p, 2.0, 0.3), disposition, 55.0, 60.0),
      1e-12);
  evaluator.Clear();
  // A dry step: W is 0.
  in.intensity = 0.0;
  ASSERT_TRUE(evaluator.FirstPass(in, disposition, factor));
  EXPECT_EQ(factor, 0.0);
}

TEST(SiltingUpExpressionsTest, MissingResultsAndFailures) {
  // "V=" in the first formula: the first pass evaluates nothing.
  const std::vector<std::string> first{"V=Q*2", "Y=A+J"};
  EXPECT_EQ(SecondPassStart(first), 0U);
  std::array<double, 11> parameters{};
  parameters[1] = 1.5;
  parameters[10] = 2.5;
  ExpressionInputs in;
  in.parameters = &parameters;
  ExpressionEvaluator evaluator(first);
  double z = -1, w = -1, v = -1;
  ASSERT_TRUE(evaluator.FirstPass(in, z, w));
  EXPECT_EQ(z, 0.0); // Z and W undefined
  EXPECT_EQ(w, 0.0);
  ASSERT_TRUE(evaluator.SecondPass(4.0, v));
  EXPECT_EQ(v, 8.0);

  // A failing formula reports itself and the parser's text.
  const std::vector<std::string> broken{"Z=1", "W=2+", "V=1"};
  ExpressionEvaluator failing(broken);
  EXPECT_FALSE(failing.FirstPass(in, z, w));
  EXPECT_EQ(failing.LastFailure().formula, "W=2+");
  EXPECT_EQ(failing.LastFailure().message, "Error: Unexpected end of expression (col 5)");
  // An empty formula fails too.
  const std::vector<std::string> empty{"", "Z=1"};
  ExpressionEvaluator emptyFirst(empty);
  EXPECT_FALSE(emptyFirst.FirstPass(in, z, w));
  EXPECT_EQ(emptyFirst.LastFailure().message, "Error: Empty expression (col 1)");
  // No V at all: the capacity is 0.
  const std::vector<std::string> noV{"Z=1"};
  ExpressionEvaluator withoutV(noV);
  ASSERT_TRUE(withoutV.FirstPass(in, z, w));
  ASSERT_TRUE(withoutV.SecondPass(1.0, v));
  EXPECT_EQ(v, 0.0);
}

} // namespace
} // namespace tavro::siltingup
