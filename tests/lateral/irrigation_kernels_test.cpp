// Irrigation kernels: the demand of the methods and origins as a table, the
// concentration of the applied water, and the supply per subbasin with its
// balance against reservoirs and rivers.
#include "lateral/irrigation/irrigation_demand.h"
#include "lateral/irrigation/irrigation_supply.h"

#include "tables/irrigation_table.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavro {
namespace {

IrrigationTableEntry Entry(int method, int origin) {
  IrrigationTableEntry e;
  e.Method = method;
  e.Origin = origin;
  e.min_ETR_ETP = 0.6;
  if (method <= 2) {
    e.tabcnt = 2;
    e.months.Resize(2);
    e.days.Resize(2);
    e.amounts.Resize(2);
    e.months[1] = 5;
    e.days[1] = 1;
    e.amounts[1] = 8.0;
    e.months[2] = 5;
    e.days[2] = 15;
    e.amounts[2] = 12.0;
  }
  return e;
}

TEST(IrrigationKernels, MethodsAndOriginsAsATable) {
  IrrigationCellState dry;
  dry.sb1 = 0.1;
  dry.sbLow = 0.2;
  dry.sbHigh = 0.3;
  dry.rootDepth = 0.5;
  dry.etr2etp = 0.4;
  dry.maxPumping = 30.0;
  dry.external = 6.0;
  IrrigationCellState started = dry;
  started.previous = 4.0;
  IrrigationCellState moist = started;
  moist.sb1 = 0.25; // between the thresholds
  moist.etr2etp = 0.9;
  IrrigationCellState wet = moist;
  wet.sb1 = 0.3;
  const double deficitDay = (0.3 - 0.1) * 0.5 * 1000.0; // 100 mm per day
  const struct {
    const char *what;
    int method, origin;
    IrrigationCellState cell;
    double dt;
    int month, day;
    double maxPumping;
    double expected;
  } cases[] = {
      {"table on 1 May, daily", 1, 2, dry, 1440, 5, 1, 30, 8.0},
      {"table on 15 May, 6 h", 1, 2, dry, 360, 5, 15, 30, 3.0},
      {"table on 2 May", 2, 2, dry, 1440, 5, 2, 30, 0.0},
      {"suction dry, daily", 3, 2, dry, 1440, 7, 1, 300, deficitDay},
      {"suction dry, hourly, not started", 3, 2, dry, 60, 7, 1, 300, deficitDay / 24},
      {"suction dry, hourly, started", 3, 2, started, 60, 7, 1, 300, 4.0},
      {"suction moist, hourly, started continues", 3, 2, moist, 60, 7, 1, 300, 4.0},
      {"suction moist, daily", 3, 2, moist, 1440, 7, 1, 300, 0.0},
      {"suction wet, hourly", 3, 2, wet, 60, 7, 1, 300, 0.0},
      {"ratio low, daily", 4, 2, dry, 1440, 7, 1, 300, deficitDay},
      {"ratio high, hourly, started", 4, 2, moist, 60, 7, 1, 300, 4.0},
      {"ratio high, daily", 4, 2, moist, 1440, 7, 1, 300, 0.0},
      {"groundwater cut to Max_Pumping", 3, 1, dry, 1440, 7, 1, 30, 30.0},
      {"groundwater within Max_Pumping", 1, 1, dry, 1440, 5, 1, 30, 8.0},
      {"input grid's own value", 5, 2, dry, 1440, 7, 1, 30, 6.0},
  };
  for (const auto &c : cases) {
    const IrrigationTableEntry e = Entry(c.method, c.origin);
    const double amount =
        LimitByOrigin(c.origin, IrrigationDemand(e, c.cell, c.dt, c.month, c.day), c.maxPumping);
    EXPECT_NEAR(amount, c.expected, 1e-12) << c.what;
  }
}

TEST(IrrigationKernels, ConcentrationOfTheAppliedWater) {
  EXPECT_DOUBLE_EQ(IrrigatedConcentration(3.0, 2.0, 1.0, 6.0), 3.0);
  EXPECT_DOUBLE_EQ(IrrigatedConcentration(0.0, 2.0, 1.0, 6.0), 6.0);
  EXPECT_DOUBLE_EQ(IrrigatedConcentration(3.0, 2.0, 0.0, 6.0), 2.0);
  EXPECT_DOUBLE_EQ(IrrigatedConcentration(0.0, 2.0, 0.0, 6.0), 0.0);
}

TEST(IrrigationKernels, TheSupplyExampleGivesSevenMillimetres) {
  // Demand 10 mm over 2 km2 (20000 m3), reservoirs 4 mm, river 3 mm.
  std::vector<SubbasinSupply> s(2);
  s[1].demandVolume = 20000.0;
  s[1].area = 2.0;
  s[1].reservoir = 4.0;
  s[1].river = 3.0;
  SupplySubbasins(s, nullptr, 60.0);
  EXPECT_DOUBLE_EQ(s[1].demand, 10.0);
  EXPECT_DOUBLE_EQ(s[1].fromReservoir, 4.0);
  EXPECT_DOUBLE_EQ(s[1].fromRiver, 3.0);
  EXPECT_DOUBLE_EQ(s[1].supplyRatio, 0.5);
  EXPECT_DOUBLE_EQ(s[1].fraction, 0.7);
  EXPECT_DOUBLE_EQ(s[1].fraction * s[1].demand, 7.0);
}

TEST(IrrigationKernels, WithdrawalsAtEachSubbasinLowerTheRiversBelow) {
  // 1 and 2 drain into 3, 3 into 4; the upstream ones come first whatever the index.
  std::vector<SubbasinSupply> s(5);
  const double areas[] = {0, 2.0, 1.0, 4.0, 3.0};
  const int targets[] = {0, 3, 3, 4, 0};
  const double demands[] = {0, 6.0, 0.0, 5.0, 1.0}; // mm
  riverflow_table table;
  table.Records.Resize(4);
  for (int i = 1; i <= 4; ++i) {
    s[i].area = areas[i];
    s[i].target = targets[i];
    s[i].demandVolume = demands[i] * areas[i] * 1000.0;
    s[i].river = 4.0;
    s[i].reservoir = i == 3 ? 1.0 : 0.0;
    RiverflowRecord &r = table.Records[static_cast<std::size_t>(i)];
    r.routingNumber = 1;
    r.area = 10.0;
    r.flowm3s = 1.0;
  }
  table.Records[4].flowm3s = 0.5;
  SupplySubbasins(s, &table, 60.0);
  // 1 takes 4 of its 6 mm; 3 has 4 - 4 x 2 / 4 = 2 mm of river left.
  EXPECT_DOUBLE_EQ(s[1].fromRiver, 4.0);
  EXPECT_DOUBLE_EQ(s[3].fromReservoir, 1.0);
  EXPECT_DOUBLE_EQ(s[3].fromRiver, 2.0);
  EXPECT_DOUBLE_EQ(s[3].fraction, 3.0 / 5.0);
  // 4's river: 4 - (4 x 2 + 2 x 4) / 3 < 0: nothing.
  EXPECT_DOUBLE_EQ(s[4].fromRiver, 0.0);
  EXPECT_DOUBLE_EQ(s[4].fraction, 0.0);
  // Applied = reservoir share + river withdrawal, as volumes.
  for (int i = 1; i <= 4; ++i)
    EXPECT_NEAR(s[i].fraction * s[i].demandVolume,
                (s[i].fromReservoir + s[i].fromRiver) * s[i].area * 1000.0,
                1e-9 * std::max(1.0, s[i].demandVolume));
  // Records: 1 loses its own rate; 3 the rates of 1 and 3; 4 too, down to 0.
  const double rate1 = 4.0 * 2.0 / 3.6;
  const double rate3 = 2.0 * 4.0 / 3.6;
  EXPECT_DOUBLE_EQ(table.Records[1].flowm3s, 0.0); // 1 - 2.22 < 0
  EXPECT_DOUBLE_EQ(table.Records[2].flowm3s, 1.0);
  EXPECT_GE(rate1 + rate3, 1.0);
  EXPECT_DOUBLE_EQ(table.Records[3].flowm3s, 0.0);
  EXPECT_DOUBLE_EQ(table.Records[4].flow_mm[0], 0.0);
}

TEST(IrrigationKernels, NoDemandNoSupply) {
  std::vector<SubbasinSupply> s(2);
  s[1].area = 1.0;
  s[1].reservoir = 5.0;
  s[1].river = 5.0;
  SupplySubbasins(s, nullptr, 60.0);
  EXPECT_EQ(s[1].demand, 0.0);
  EXPECT_EQ(s[1].fromReservoir, 0.0);
  EXPECT_EQ(s[1].fraction, 0.0);
  EXPECT_EQ(s[1].supplyRatio, 1.0);
}

} // namespace
} // namespace tavro
