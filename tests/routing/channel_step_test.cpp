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

// One sub-channel's storages over K sub-intervals: the previous outflows
// (all and the flood plain's part) and the outflow of the step.
struct Storages {
  explicit Storages(int k) : total(k + 1, 0.0), flood(k + 1, 0.0), out(k + 1, 0.0) {}
  std::vector<double> total;
  std::vector<double> flood;
  std::vector<double> out;
  void Drain(const std::vector<double> &translated, double share, double shareOld, double cm,
             double cf) {
    DrainLinearStorages(translated.data(), static_cast<int>(translated.size()) - 1, share, shareOld,
                        cm, cf, StorageOutflows{total.data(), flood.data()}, out.data());
  }
};

TEST(ChannelStep, LinearStoragesReleaseTheirShares) {
  const double c = std::exp(-1.0 / 3.0);
  // Main channel only: out = (1 - c) p + c q.
  Storages main(1);
  main.total[1] = 2.0;
  main.Drain({0.0, 5.0}, 0.0, 0.0, c, 0.9);
  EXPECT_DOUBLE_EQ(main.out[1], (1 - c) * 5.0 + c * 2.0);
  EXPECT_EQ(main.total[1], main.out[1]);
  EXPECT_EQ(main.flood[1], 0.0);
  // Each storage drains its own previous outflow, whatever the share was:
  // 0.5 of the 2 left the main channel, 1.5 the flood plain.
  Storages both(1);
  both.total[1] = 2.0;
  both.flood[1] = 1.5;
  both.Drain({0.0, 5.0}, 0.2, 0.5, c, 0.9);
  const double flood = 0.1 * 0.2 * 5.0 + 0.9 * 1.5;
  EXPECT_DOUBLE_EQ(both.flood[1], flood);
  EXPECT_DOUBLE_EQ(both.out[1], (1 - c) * 0.8 * 5.0 + c * 0.5 + flood);
  EXPECT_EQ(both.total[1], both.out[1]);
  // A constant series passes unchanged from the steady split.
  Storages steady(2);
  steady.total = {0.0, 5.0, 5.0};
  steady.flood = {0.0, 1.5, 1.5};
  steady.Drain({0.0, 5.0, 5.0}, 0.3, 0.3, c, 0.9);
  for (const int s : {1, 2}) {
    EXPECT_NEAR(steady.out[s], 5.0, 1e-14);
    EXPECT_NEAR(steady.flood[s], 1.5, 1e-14);
  }
}

// Pulses of water (per step, one per sub-interval, none after the list)
// through the storages of K sub-intervals with the flood share of every
// step (0 after the list); the outflow of every step, sub-interval after
// sub-interval, over 3000 steps.
std::vector<double> Outflows(int k, const std::vector<double> &pulses,
                             const std::vector<double> &shares, double cm, double cf) {
  Storages storages(k);
  std::vector<double> outflows;
  double shareOld = 0.0;
  for (std::size_t t = 0; t < 3000; ++t) {
    std::vector<double> translated(static_cast<std::size_t>(k) + 1, 0.0);
    for (int s = 1; s <= k; ++s)
      translated[static_cast<std::size_t>(s)] = t < pulses.size() ? pulses[t] * s : 0.0;
    const double share = t < shares.size() ? shares[t] : 0.0;
    storages.Drain(translated, share, shareOld, cm, cf);
    shareOld = share;
    outflows.insert(outflows.end(), storages.out.begin() + 1, storages.out.end());
  }
  return outflows;
}

TEST(ChannelStep, LinearStoragesKeepTheWaterWhateverTheFloodShareDoes) {
  const double oneHour = std::exp(-1.0 / 1.0);
  const double fiveHours = std::exp(-1.0 / 5.0);
  const double passing = std::exp(-1.0 / 0.01); // a storage constant of 0.01 h
  struct Case {
    const char *name;
    int k;
    std::vector<double> pulses;
    std::vector<double> shares;
    double cm;
    double cf;
  };
  const Case cases[] = {
      {"main channel only", 1, {1}, {}, oneHour, fiveHours},
      {"a share that never changes",
       1,
       {1, 3, 2},
       std::vector<double>(3000, 0.6),
       oneHour,
       fiveHours},
      {"a flood rises and falls",
       1,
       {1, 4, 9, 5, 2, 1},
       {0.0, 0.3, 0.7, 0.4, 0.1, 0.0},
       oneHour,
       fiveHours},
      {"the share falls to 0 at once", 2, {2, 8, 6}, {0.2, 0.9, 0.8}, oneHour, fiveHours},
      {"two floods", 3, {1, 7, 1, 0, 6, 1}, {0.0, 0.8, 0.0, 0.0, 0.6, 0.0}, oneHour, fiveHours},
      {"a faster flood plain", 1, {5, 9, 3}, {0.5, 0.9, 0.2}, fiveHours, oneHour},
      {"a flood plain that passes its water on", 2, {4, 4, 1}, {0.6, 0.1, 0.0}, fiveHours, passing},
      {"both constants alike", 1, {1, 5, 2, 3, 1}, {0.7, 0.2, 0.9, 0.0, 0.5}, oneHour, oneHour},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    double in = 0.0;
    for (const double pulse : c.pulses)
      for (int s = 1; s <= c.k; ++s)
        in += pulse * s;
    const std::vector<double> out = Outflows(c.k, c.pulses, c.shares, c.cm, c.cf);
    EXPECT_NEAR(std::accumulate(out.begin(), out.end(), 0.0), in, 1e-12 * in);
  }
}

TEST(ChannelStep, TheFloodPlainDrainsItsWaterWithItsOwnConstant) {
  // All of a pulse onto the flood plain, then the share falls back: the
  // water leaves at the flood plain's recession, not the main channel's.
  const double cm = std::exp(-1.0 / 1.0);
  const double cf = std::exp(-1.0 / 5.0);
  const std::vector<double> out = Outflows(1, {1.0}, {1.0}, cm, cf);
  for (std::size_t t = 0; t < 40; ++t)
    EXPECT_NEAR(out[t], (1.0 - cf) * std::pow(cf, static_cast<double>(t)), 1e-15) << t;
}

TEST(ChannelStep, EqualConstantsAreOneStorageWhateverTheShares) {
  // Equal constants: one linear storage, out = (1 - c) p + c q, with the
  // exact recession (1 - c) c^t of a pulse, however the shares change.
  const double c = std::exp(-1.0 / 2.0);
  const std::vector<double> pulses = {1.0, 4.0, 0.0, 2.0};
  const std::vector<double> shares = {0.7, 0.2, 0.9, 0.0, 0.5, 1.0, 0.3};
  const std::vector<double> out = Outflows(1, pulses, shares, c, c);
  double q = 0.0;
  for (std::size_t t = 0; t < 60; ++t) {
    const double p = t < pulses.size() ? pulses[t] : 0.0;
    q = (1.0 - c) * p + c * q;
    EXPECT_NEAR(out[t], q, 1e-15 * q) << t;
  }
  const std::vector<double> pulse = Outflows(1, {1.0}, shares, c, c);
  for (std::size_t t = 0; t < 60; ++t)
    EXPECT_NEAR(pulse[t], (1.0 - c) * std::pow(c, static_cast<double>(t)), 1e-15) << t;
  // Without a flood, unequal constants are the main channel's storage alone,
  // to the bit.
  const std::vector<double> dry = Outflows(1, pulses, {}, c, 0.9);
  q = 0.0;
  for (std::size_t t = 0; t < 60; ++t) {
    q = (1.0 - c) * (1.0 - 0.0) * (t < pulses.size() ? pulses[t] : 0.0) + c * q;
    EXPECT_EQ(dry[t], q) << t;
  }
}

} // namespace
} // namespace tavro
