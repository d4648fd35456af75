// One sub-channel's step: the translation chain (what happens to the water
// when the delay changes, tracer decay) and the two linear storages.
#include "routing/channels/channel_step.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

namespace tavro {
namespace {

// A part of K 1 and largest delay 4: elements 1..5, written up to element 6.
struct Chain {
  std::vector<double> water = std::vector<double>(7, 0.0);
  std::vector<double> tracer = std::vector<double>(7, 0.0);
  double *pointers[2] = {water.data(), tracer.data()};
  double Sum(int from, int to) const {
    return std::accumulate(water.begin() + from, water.begin() + to + 1, 0.0);
  }
};

int Step(Chain &chain, double inflow, double concentration, int delay, int end, double decay = 1) {
  const double in[] = {0.0, inflow, 0.0, concentration}; // [k * (K + 1) + s]
  const double factors[] = {1.0, decay};
  return TranslateSubChannel(chain.pointers, 2, in, SubChannelPart{1, 0, 5, delay}, end, factors);
}

TEST(ChannelStep, ALongerDelaySpreadsTheStepsWaterOverTheGap) {
  Chain chain;
  int end = 2; // delay 1 from the start: water ends at element K + d
  end = Step(chain, 4.0, 1.0, 1, end);
  EXPECT_EQ(end, 2);
  EXPECT_EQ(chain.water[2], 4.0);
  // The delay grows by 2: the inflow 3 is spread over the gap (elements 3
  // and 4 before the move) and its own element, 1 each, with its tracer.
  end = Step(chain, 3.0, 2.0, 3, end);
  EXPECT_EQ(end, 4);
  EXPECT_EQ(chain.water[1], 4.0); // leaves this step
  for (const int j : {2, 3, 4}) {
    EXPECT_DOUBLE_EQ(chain.water[j], 1.0) << "element " << j;
    EXPECT_EQ(chain.tracer[j], 2.0) << "element " << j;
  }
  EXPECT_DOUBLE_EQ(chain.Sum(1, end), 4.0 + 3.0);
}

TEST(ChannelStep, AShorterDelayAddsTheInflowToTheWaterAheadOfIt) {
  Chain chain;
  int end = 5; // delay 4
  for (const double inflow : {1.0, 2.0, 3.0, 4.0})
    end = Step(chain, inflow, 1.0, 4, end);
  // Elements 2..5 hold 1, 2, 3, 4 (element 1 left this step).
  const std::vector<double> held(chain.water.begin() + 2, chain.water.begin() + 6);
  EXPECT_EQ(held, (std::vector<double>{1, 2, 3, 4}));
  // Delay 1: the inflow joins the water of element 3 (2 before the move),
  // mixing its tracer by water; elements 4 and 5 keep theirs.
  end = Step(chain, 7.0, 4.0, 1, end);
  EXPECT_EQ(end, 4);
  EXPECT_EQ(chain.water[1], 1.0);
  EXPECT_EQ(chain.water[2], 2.0 + 7.0);
  EXPECT_DOUBLE_EQ(chain.tracer[2], (2.0 * 1.0 + 7.0 * 4.0) / 9.0);
  EXPECT_EQ(chain.water[3], 3.0);
  EXPECT_EQ(chain.water[4], 4.0);
  EXPECT_DOUBLE_EQ(chain.Sum(1, end), 1.0 + 2.0 + 3.0 + 4.0 + 7.0);
}

// Water and tracer mass that leave a sub-channel of K sub-intervals over the
// steps with the given delays and inflows, and for as long afterwards as the
// chain holds water at the last delay, against what entered.
void ExpectTheChainKeepsItsWater(int k, const std::vector<int> &delays,
                                 const std::vector<double> &inflows) {
  constexpr int kLargestDelay = 6;
  const int partLength = k + kLargestDelay;
  const int base = partLength; // the second sub-channel of the chain
  const auto size = static_cast<std::size_t>(3 * partLength + k + 1);
  std::vector<double> water(size, 0.0);
  std::vector<double> tracer(size, 0.0);
  double *pointers[2] = {water.data(), tracer.data()};
  const double factors[] = {1.0, 1.0};
  std::vector<double> in(static_cast<std::size_t>(2 * (k + 1)), 0.0);
  int end = base + k + delays.front();
  double waterIn = 0.0;
  double massIn = 0.0;
  double waterOut = 0.0;
  double massOut = 0.0;
  const int steps = static_cast<int>(delays.size()) + kLargestDelay + 2;
  for (int t = 0; t < steps; ++t) {
    const bool feeding = t < static_cast<int>(delays.size());
    const int delay = feeding ? delays[static_cast<std::size_t>(t)] : delays.back();
    for (int s = 1; s <= k; ++s) {
      const double q = feeding ? inflows[static_cast<std::size_t>(t)] * s : 0.0;
      const double c = 1.0 + t % 3;
      in[static_cast<std::size_t>(s)] = q;
      in[static_cast<std::size_t>(k + 1 + s)] = c;
      waterIn += q;
      massIn += q * c;
    }
    end = TranslateSubChannel(pointers, 2, in.data(), SubChannelPart{k, base, partLength, delay},
                              end, factors);
    for (int s = 1; s <= k; ++s) {
      const auto j = static_cast<std::size_t>(base + s);
      waterOut += water[j];
      massOut += water[j] * tracer[j];
    }
  }
  EXPECT_NEAR(waterOut, waterIn, 1e-12 * waterIn);
  EXPECT_NEAR(massOut, massIn, 1e-12 * massIn);
}

TEST(ChannelStep, TheChainKeepsWaterAndTracersWhateverTheDelaysDo) {
  struct Case {
    int k;
    std::vector<int> delays;
    std::vector<double> inflows;
  };
  const Case cases[] = {
      {1, {2, 2, 2, 2}, {1, 2, 3, 4}},                           // a constant delay
      {1, {6, 5, 3, 0, 0, 1, 4, 6}, {1, 5, 9, 8, 4, 2, 1, 0.5}}, // a flood: shorter, then longer
      {1, {0, 6, 0, 6, 3}, {2, 0, 7, 1, 3}},                     // jumps both ways, a dry step
      {3, {4, 1, 0, 2, 5, 5}, {1, 6, 8, 3, 1, 1}},               // three sub-intervals per step
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "K " << c.k << ", first delay " << c.delays.front());
    ExpectTheChainKeepsItsWater(c.k, c.delays, c.inflows);
  }
}

TEST(ChannelStep, TracersDecayAtEveryMove) {
  Chain chain;
  int end = 3; // delay 2
  end = Step(chain, 1.0, 8.0, 2, end, 0.5);
  end = Step(chain, 1.0, 8.0, 2, end, 0.5);
  EXPECT_EQ(chain.tracer[2], 2.0); // moved twice
  EXPECT_EQ(chain.tracer[3], 4.0); // written and moved once
}

TEST(ChannelStep, LinearStoragesReleaseTheirShares) {
  // Main channel only: out = (1 - c) p + c q.
  const double c = std::exp(-1.0 / 3.0);
  double previous[] = {0.0, 2.0};
  double out[] = {0.0, 0.0};
  const double translated[] = {0.0, 5.0};
  DrainLinearStorages(translated, 1, 0.0, 0.0, c, 0.9, previous, out);
  EXPECT_DOUBLE_EQ(out[1], (1 - c) * 5.0 + c * 2.0);
  EXPECT_EQ(previous[1], out[1]);
  // Half on the flood plain now and before: both storages at their coefficients.
  double previous2[] = {0.0, 2.0};
  DrainLinearStorages(translated, 1, 0.5, 0.5, c, 0.9, previous2, out);
  EXPECT_DOUBLE_EQ(out[1], (1 - c) * 2.5 + c * 1.0 + 0.1 * 2.5 + 0.9 * 1.0);
  // A constant series passes unchanged.
  double steady[] = {0.0, 5.0, 5.0};
  double out2[] = {0.0, 0.0, 0.0};
  const double constant[] = {0.0, 5.0, 5.0};
  DrainLinearStorages(constant, 2, 0.3, 0.3, c, 0.9, steady, out2);
  EXPECT_NEAR(out2[1], 5.0, 1e-14);
  EXPECT_NEAR(out2[2], 5.0, 1e-14);
}

// Sends one unit of water through the storages of one sub-interval, with the
// flood share of every step, and returns what leaves in 2000 steps.
double PulseThroughStorages(const std::vector<double> &shares, double mainCoefficient,
                            double floodCoefficient) {
  double previous[] = {0.0, 0.0};
  double out[] = {0.0, 0.0};
  double shareOld = 0.0;
  double total = 0.0;
  for (int t = 0; t < 2000; ++t) {
    const double translated[] = {0.0, t == 0 ? 1.0 : 0.0};
    const double share = t < static_cast<int>(shares.size()) ? shares[t] : 0.0;
    DrainLinearStorages(translated, 1, share, shareOld, mainCoefficient, floodCoefficient, previous,
                        out);
    shareOld = share;
    total += out[1];
  }
  return total;
}

TEST(ChannelStep, LinearStoragesKeepTheWaterWhileTheFloodShareHoldsOrBothAreAlike) {
  const double cm = std::exp(-1.0 / 1.0);
  const double cf = std::exp(-1.0 / 5.0);
  struct Case {
    std::vector<double> shares; // per step; 0 after the list
    double floodCoefficient;
  };
  const Case cases[] = {
      {{}, cf},                             // main channel only
      {std::vector<double>(2000, 0.6), cf}, // a share that never changes
      {{0.7, 0.2, 0.9, 0.0, 0.5}, cm},      // changing shares, both storages alike
  };
  for (const Case &c : cases)
    EXPECT_NEAR(PulseThroughStorages(c.shares, cm, c.floodCoefficient), 1.0, 1e-9);
}

} // namespace
} // namespace tavro
