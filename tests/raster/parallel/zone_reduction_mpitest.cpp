// Zone records summed over the processes: the sums equal those of one
// process adding every contribution, and the kept fields stay untouched.
#include <gtest/gtest.h>

#include <vector>

#include "raster/parallel/zone_reduction.h"
#include "support/test_support.h"

namespace tavro {
namespace {

using test::ProcessCount;
using test::Rank;

// The contribution of one process to zone k; whole numbers and halves, so
// that every order of summing gives the same bits.
ZoneRecord Contribution(int rank, int k) {
  return {1.0 + rank + k, 0.5 * (rank + 1) * (k + 2), 100.0 + k + 10 * rank, 0.25 * k,
          2.0 * rank + k};
}

ZoneRecord SumOverProcesses(int k) {
  ZoneRecord sum;
  for (int p = 0; p < ProcessCount(); ++p) {
    const ZoneRecord c = Contribution(p, k);
    sum.n += c.n;
    sum.sx += c.sx;
    sum.RelCellSum += c.RelCellSum;
  }
  return sum;
}

std::vector<ZoneRecord> OwnRecords(int count) {
  std::vector<ZoneRecord> zones;
  for (int k = 0; k < count; ++k)
    zones.push_back(Contribution(Rank(), k));
  return zones;
}

class ZoneReduction : public testing::TestWithParam<bool> {};

TEST_P(ZoneReduction, SumsReachRankZeroAndOthersHoldZero) {
  const bool copyWeights = GetParam();
  std::vector<ZoneRecord> zones = OwnRecords(6);
  MPIReduceZones(zones, 4, copyWeights); // records 0..4
  for (int k = 0; k < 6; ++k) {
    const ZoneRecord own = Contribution(Rank(), k);
    const ZoneRecord &z = zones[static_cast<std::size_t>(k)];
    EXPECT_EQ(z.zonenwert, own.zonenwert);
    EXPECT_EQ(z.rel, own.rel);
    if (k > 4) { // beyond the highest index: untouched
      EXPECT_EQ(z.n, own.n);
      EXPECT_EQ(z.sx, own.sx);
      EXPECT_EQ(z.RelCellSum, own.RelCellSum);
      continue;
    }
    const ZoneRecord sum = Rank() == 0 ? SumOverProcesses(k) : ZoneRecord{};
    EXPECT_EQ(z.n, sum.n) << "zone " << k;
    EXPECT_EQ(z.sx, sum.sx) << "zone " << k;
    EXPECT_EQ(z.RelCellSum, copyWeights ? sum.RelCellSum : own.RelCellSum) << "zone " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(CopyWeights, ZoneReduction, testing::Bool());

TEST(ZoneReductionOps, SumOperationKeepsCodeAndShare) {
  ZoneRecord in[2] = {{1, 2, 3, 4, 5}, {10, 20, 30, 40, 50}};
  ZoneRecord inout[2] = {{0.5, 0.5, 7, 8, 0.5}, {1, 1, 9, 9, 1}};
  int count = 2;
  MPISumZonesOp(in, inout, &count, nullptr);
  EXPECT_EQ(inout[0].n, 1.5);
  EXPECT_EQ(inout[0].sx, 2.5);
  EXPECT_EQ(inout[0].zonenwert, 7);
  EXPECT_EQ(inout[0].rel, 8);
  EXPECT_EQ(inout[0].RelCellSum, 5.5);
  EXPECT_EQ(inout[1].n, 11);
  EXPECT_EQ(inout[1].RelCellSum, 51);
  MPISumFlowTimeZonesOp(in, inout, &count, nullptr);
  EXPECT_EQ(inout[0].n, 2.5);
  EXPECT_EQ(inout[0].sx, 0.0);
  EXPECT_EQ(inout[0].zonenwert, 7);
  EXPECT_EQ(inout[0].RelCellSum, 10.5);
}

TEST(ZoneReductionOps, FlowTimeZonesCombineOnEveryProcess) {
  const std::vector<ZoneRecord> zones = OwnRecords(3);
  const std::vector<ZoneRecord> combined = AllReduceFlowTimeZones(zones);
  ASSERT_EQ(combined.size(), 3u);
  for (int k = 0; k < 3; ++k) {
    const ZoneRecord sum = SumOverProcesses(k);
    const ZoneRecord &z = combined[static_cast<std::size_t>(k)];
    EXPECT_EQ(z.n, sum.n);
    EXPECT_EQ(z.RelCellSum, sum.RelCellSum);
    EXPECT_EQ(z.sx, ProcessCount() == 1 ? zones[static_cast<std::size_t>(k)].sx : 0.0);
    EXPECT_EQ(z.zonenwert, zones[static_cast<std::size_t>(k)].zonenwert);
    EXPECT_EQ(z.rel, zones[static_cast<std::size_t>(k)].rel);
  }
}

} // namespace
} // namespace tavro
