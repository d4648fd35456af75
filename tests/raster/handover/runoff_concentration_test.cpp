// The flow-time zones and linear storages of the runoff concentration against
// hand-worked and analytic references: zone numbers of flow times, the delay
// of the zones, the set-up shares and their report line, the response of a
// linear storage to a pulse and to a constant input, and the volume that
// leaves once everything has drained.
#include "raster/handover/runoff_concentration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tavro {
namespace {

TEST(FlowTimeZone, SecondsToZonesAtAnHourlyStep) {
  struct Case {
    double seconds;
    int zone;
  };
  for (const Case c : {Case{1.0, 1}, Case{3600.0, 1}, Case{3601.0, 2}, Case{0.0, 1}, Case{-5.0, 1},
                       Case{-9999.0, 1}, Case{7200.0, 2}, Case{10800.5, 4}})
    EXPECT_EQ(FlowTimeZone(c.seconds, 60.0), c.zone) << c.seconds;
  EXPECT_EQ(FlowTimeZone(std::nan(""), 60.0), 1);
}

// One subbasin with three zones, or two subbasins with 1 and 3.
FlowTimeZones Zones(std::vector<int> maxZones, int rows = 1) {
  return FlowTimeZones(rows, maxZones);
}

TEST(FlowTimeZones, RunoffAddedInZoneZLeavesZMinusOneStepsLater) {
  for (int z = 1; z <= 4; ++z) {
    FlowTimeZones zones = Zones({0, 4});
    ZoneAdditions additions(zones);
    int leftAt = 0;
    for (int step = 1; step <= 6; ++step) {
      zones.Move();
      if (step == 2) {
        additions.Add(1, z, 1.0, 7.0, 1.0);
        additions.AddTo(zones);
      }
      if (zones.At(0, 1, 1).sx == 7.0)
        leftAt = step;
    }
    EXPECT_EQ(leftAt, 2 + z - 1) << z;
  }
}

TEST(FlowTimeZones, MoveWithOneZoneOnlyClearsIt) {
  FlowTimeZones zones = Zones({0, 1}, 2);
  zones.At(1, 1, 1) = ZoneRecord{2.0, 3.0, 1.0, 0.5, 4.0};
  zones.Move();
  const ZoneRecord &z = zones.At(1, 1, 1);
  EXPECT_EQ(z.n, 0.0);
  EXPECT_EQ(z.sx, 0.0);
  EXPECT_EQ(z.RelCellSum, 0.0);
  EXPECT_EQ(z.zonenwert, 1.0);
  EXPECT_EQ(z.rel, 0.5);
}

TEST(FlowTimeZones, SharesCumulativeWeightsAndReportLine) {
  FlowTimeZones direct = Zones({0, 3}, 2);
  FlowTimeZones inter = Zones({0, 3}, 2);
  const double counts[] = {0.0, 2.0, 5.0, 3.0};
  for (int z = 1; z <= 3; ++z)
    for (FlowTimeZones *f : {&direct, &inter}) {
      f->At(0, 1, z).n = counts[z];
      f->At(0, 1, z).RelCellSum = counts[z];
    }
  ASSERT_EQ(ShareZoneWeights(direct, inter, 1), ZoneShareStatus::Ok);
  std::vector<double> shares;
  for (int z = 1; z <= 3; ++z) {
    shares.push_back(direct.At(0, 1, z).rel);
    EXPECT_EQ(inter.At(0, 1, z).rel, direct.At(0, 1, z).rel);
    EXPECT_EQ(direct.At(1, 1, z).zonenwert, z);
    EXPECT_EQ(direct.At(1, 1, z).rel, 0.0);
  }
  EXPECT_EQ(FlowTimeDistributionLine(12, 3, shares),
            "TG\t  12\t(  3\tZonen):\t0.200\t0.500\t0.300\n");
  direct.AccumulateWeights(0);
  inter.AccumulateWeights(0);
  EXPECT_EQ(direct.At(0, 1, 1).RelCellSum, 10.0);
  EXPECT_EQ(direct.At(0, 1, 2).RelCellSum, 8.0);
  EXPECT_EQ(direct.At(0, 1, 3).RelCellSum, 3.0);
  EXPECT_EQ(direct.At(0, 1, 1).n, 0.0); // the direct-runoff counts were cleared
  EXPECT_EQ(inter.At(0, 1, 1).n, 10.0);
}

TEST(FlowTimeZones, SubbasinsWithoutWeightOrFirstZone) {
  FlowTimeZones direct = Zones({0, 2});
  FlowTimeZones inter = Zones({0, 2});
  EXPECT_EQ(ShareZoneWeights(direct, inter, 1), ZoneShareStatus::NoCells);
  direct.At(0, 1, 2).n = 1.0;
  EXPECT_EQ(ShareZoneWeights(direct, inter, 1), ZoneShareStatus::FirstZoneEmpty);
}

// Cold start of one subbasin with a cell in zone 1 and one in zone 3 (weight
// 1 each), D sub-steps: a 50 mm pulse in the first step leaves as 25, 0, 25.
TEST(FlowTimeZones, PulseOnTwoCellsFromAColdStart) {
  for (const int d : {1, 3}) {
    FlowTimeZones direct = Zones({0, 3});
    FlowTimeZones inter = Zones({0, 3});
    for (FlowTimeZones *f : {&direct, &inter}) {
      f->At(0, 1, 1).n = f->At(0, 1, 1).RelCellSum = 1.0;
      f->At(0, 1, 3).n = f->At(0, 1, 3).RelCellSum = 1.0;
    }
    ASSERT_EQ(ShareZoneWeights(direct, inter, 1), ZoneShareStatus::Ok);
    direct.AccumulateWeights(0);
    direct.ScaleWeights(0, d);
    ZoneAdditions additions(direct);
    std::vector<double> out;
    for (int step = 1; step <= 4; ++step) {
      direct.Move();
      additions.Clear();
      const double perSubstep = step == 1 ? 50.0 / d : 0.0;
      for (int s = 0; s < d; ++s)
        for (const int z : {1, 3})
          additions.Add(1, z, 1.0, perSubstep * d, 1.0);
      additions.AddTo(direct);
      out.push_back(ZoneOutflow(direct.At(0, 1, 1)));
    }
    EXPECT_EQ(out, std::vector<double>({25.0, 0.0, 25.0, 0.0})) << d;
  }
}

TEST(LinearStorage, UnitPulseWithTheStorageConstantOfOneStep) {
  const double a = StorageFactor(60.0, 60.0, false);
  EXPECT_NEAR(a, std::exp(-1.0), 1e-15);
  double q = LinearStorageOutflow(1.0, 0.0, a);
  EXPECT_NEAR(q, 1.0 - std::exp(-1.0), 1e-12);
  for (int t = 2; t <= 20; ++t) {
    const double expected = q * std::exp(-1.0);
    q = LinearStorageOutflow(0.0, q, a);
    EXPECT_NEAR(q, expected, 1e-12) << t;
  }
}

TEST(LinearStorage, ConstantInputApproachesItAsOneMinusAToTheT) {
  const double input = 3.7;
  for (const double k : {30.0, 60.0, 600.0}) {
    const double a = StorageFactor(60.0, k, false);
    double q = 0.0;
    for (int t = 1; t <= 50; ++t) {
      q = LinearStorageOutflow(input, q, a);
      EXPECT_NEAR(q, input * (1.0 - std::pow(a, t)), 1e-12) << k << " " << t;
    }
  }
}

TEST(LinearStorage, SurfaceRoutingPassesTheInflowThrough) {
  const double a = StorageFactor(60.0, 600.0, true);
  EXPECT_EQ(a, 0.0);
  EXPECT_EQ(LinearStorageOutflow(4.5, 100.0, a), 4.5);
}

TEST(LinearStorage, WhatEntersLeavesOnceDrained) {
  const double a = StorageFactor(60.0, 240.0, false);
  const std::vector<double> inputs = {5.0, 0.0, 12.5, 3.0, 0.25};
  double q = 0.0;
  double inSum = 0.0;
  double outSum = 0.0;
  for (int t = 0; t < 2000; ++t) {
    const double i =
        t < static_cast<int>(inputs.size()) ? inputs[static_cast<std::size_t>(t)] : 0.0;
    inSum += i;
    q = LinearStorageOutflow(i, q, a);
    outSum += q;
  }
  EXPECT_NEAR(outSum, inSum, 1e-9);
}

TEST(LinearStorage, ContentChangesByInflowMinusOutflow) {
  for (const double k : {30.0, 60.0, 600.0}) {
    const double a = StorageFactor(60.0, k, false);
    double q = 0.0;
    for (const double input : {10.0, 0.0, 2.5, 7.0, 0.0, 0.0}) {
      SubbasinRunoffBalance b;
      b.storageBefore = LinearStorageContent(q, a);
      b.inflow = input;
      q = LinearStorageOutflow(input, q, a);
      b.outflow = q;
      b.storageAfter = LinearStorageContent(q, a);
      EXPECT_NEAR(b.Residual(), 0.0, 1e-12) << k << " " << input;
    }
  }
  EXPECT_EQ(LinearStorageContent(3.0, 0.0), 0.0);
}

TEST(MeanBaseflow, ASupplyOrNoWeightGivesNone) {
  EXPECT_EQ(MeanBaseflow(6.0, 3.0), 2.0);
  EXPECT_EQ(MeanBaseflow(-6.0, 3.0), 0.0);
  EXPECT_EQ(MeanBaseflow(0.0, 0.0), 0.0);
  EXPECT_EQ(ZoneOutflow(ZoneRecord{1.0, 5.0, 1.0, 1.0, 0.0}), 0.0);
}

} // namespace
} // namespace tavro
