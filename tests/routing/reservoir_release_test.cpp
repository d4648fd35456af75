// A reservoir's release by its rule and the balance of its steps.
#include "routing/reservoirs/reservoir_release.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace tavro {
namespace {

OperationRule Rule(const std::vector<std::string> &lines) {
  RuleParseResult parsed = ParseOperationRule(lines);
  EXPECT_EQ(parsed.fault, "");
  return std::move(parsed.rule);
}

// keys 0, Vmax; values 0, Vmax / k: a linear storage of constant k seconds.
OperationRule LinearRule(double vmax, double k) {
  return Rule({"2", "0 0", std::to_string(vmax) + " " + std::to_string(vmax / k)});
}

auto NoRate = [](int, double) { return 0.0; };

TEST(ReservoirRelease, ALinearRuleRecedesExactlyAndNearTheExponential) {
  const double vmax = 3.6e7; // values written exactly: Vmax / k = 1000
  const double k = 36000.0;
  const OperationRule rule = LinearRule(vmax, k);
  const double v0 = 4e6;
  const double dTmin = 60.0;
  const double dt = 60.0; // one hour: 60 sub-steps
  const int m = ReleaseSubsteps(dt, dTmin);
  ASSERT_EQ(m, 60);
  double v = v0;
  for (int step = 1; step <= 24; ++step) {
    ReservoirStepIn in;
    in.volume = v;
    in.dt = dt;
    in.dTmin = dTmin;
    const ReservoirStepOut out = StepReservoir(rule, RuleSeason{}, in, 0, NoRate, nullptr);
    // Without inflow the sub-steps are V <- V (1 - dTmin / k).
    const double discrete = v0 * std::pow(1.0 - dTmin / k, step * m);
    EXPECT_NEAR(out.volume, discrete, 1e-12 * v0) << step;
    const double t = step * dt * 60.0;
    EXPECT_NEAR(out.volume, v0 * std::exp(-t / k), v0 * t * dTmin / (2 * k * k)) << step;
    EXPECT_NEAR(out.outflow * dt * 60.0, v - out.volume, 1e-6);
    v = out.volume;
  }
}

TEST(ReservoirRelease, AboveTheLastKeyTheInflowSpillsAndALongSubStepReleasesNothing) {
  const OperationRule rule = Rule({"2", "0 0", "1000 1", "TargetCap = 4"});
  ReleaseStep step{1000.0, 3.0, 10.0, 60.0, false, nullptr};
  // At the last key the window applies (closed: nothing); one above, it does not.
  EXPECT_EQ(RuleRelease(rule, RuleSeason{}, step, 1000.0), 0.0);
  EXPECT_EQ(RuleRelease(rule, RuleSeason{}, step, 1000.5), 3.0);
  step.windowOpen = true;
  step.inflow = 9.0;
  // Spilling the inflow, capped by TargetCap, while the volume stays above the key.
  step.volume = 5000.0;
  EXPECT_DOUBLE_EQ(EvaluateRelease(rule, RuleSeason{}, step, 0, NoRate, nullptr), 4.0);
  // dTmin above 60 dt: no sub-step, no release, no abstraction.
  step.dTmin = 60.0 * step.dt + 1.0;
  double taken = 7.0;
  auto rate = [](int, double) { return 1.0; };
  EXPECT_EQ(EvaluateRelease(rule, RuleSeason{}, step, 1, rate, &taken), 0.0);
  EXPECT_EQ(taken, 0.0);
}

TEST(ReservoirRelease, ARandomSeriesOfStepsClosesTheBalance) {
  const OperationRule rule = Rule({"3", "0 0", "50000 2", "200000 30"});
  std::mt19937 random(17);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  double v = 80000.0;
  for (int step = 0; step < 100; ++step) {
    ReservoirStepIn in;
    in.volume = v;
    in.dt = 60.0;
    in.dTmin = unit(random) < 0.5 ? 60.0 : 450.0;
    in.inflow = 20.0 * unit(random);
    in.irrigation = 20000.0 * unit(random);
    in.abstraction = 20000.0 * unit(random);
    in.windowOpen = unit(random) < 0.8;
    const double demand = 5.0 * unit(random);
    double taken = 0.0;
    auto rate = [&](int, double) { return demand; };
    const ReservoirStepOut out = StepReservoir(rule, RuleSeason{}, in, 1, rate, &taken);
    const double ts = in.dt * 60.0;
    EXPECT_NEAR(out.volume,
                v + in.inflow * ts - out.outflow * ts - out.irrigation - out.abstraction,
                1e-9 * std::max(1.0, v))
        << step;
    EXPECT_GE(out.volume, 0.0);
    EXPECT_GE(out.outflow, 0.0);
    EXPECT_LE(out.outflow * ts, v + in.inflow * ts + 1e-9);
    EXPECT_LE(out.irrigation, in.irrigation);
    EXPECT_GE(out.abstraction, taken - 1e-9);
    v = out.volume;
  }
}

TEST(ReservoirRelease, ReservoirsInSeriesDebitTheDirectAbstractionOnlyAtTheLast) {
  const OperationRule rule = Rule({"2", "0 0", "100000 5"});
  auto rate = [](int, double) { return 4.0; };
  double v1 = 60000.0;
  double v2 = 2000.0; // too little for the whole demand
  const double ts = 3600.0;
  double delivered = 0.0;
  double debited = 0.0;
  for (int step = 0; step < 10; ++step) {
    ReservoirStepIn first;
    first.volume = v1;
    first.dt = 60.0;
    first.inflow = 1.0;
    const ReservoirStepOut a = StepReservoir(rule, RuleSeason{}, first, 0, rate, nullptr);
    ReservoirStepIn last = first;
    last.volume = v2;
    last.inflow = a.outflow;
    double taken = 0.0;
    const ReservoirStepOut b = StepReservoir(rule, RuleSeason{}, last, 1, rate, &taken);
    EXPECT_NEAR(a.volume, v1 + ts - a.outflow * ts, 1e-6);
    EXPECT_NEAR(b.volume, v2 + a.outflow * ts - b.outflow * ts - taken, 1e-6);
    EXPECT_GE(b.volume, 0.0);
    EXPECT_LE(taken, 4.0 * ts + 1e-9);
    delivered += taken; // the rate handed to the connected inflow is taken / ts
    debited += (v2 + a.outflow * ts - b.outflow * ts) - b.volume;
    v1 = a.volume;
    v2 = b.volume;
  }
  EXPECT_NEAR(delivered, debited, 1e-6);
  EXPECT_GT(delivered, 0.0);
}

} // namespace
} // namespace tavro
