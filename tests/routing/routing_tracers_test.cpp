// Tracers of the routing: the decay factors of the routing step and of its
// sub-intervals, kept by the module, and the concentration table of the
// routed water of every subbasin, written each step from rank 0's values.
#include "routing_module_fixture.h"

#include "raster/output/zonal_statistic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace tavro {
namespace {

class RoutingTracersTest : public test::RoutingModuleTest {
protected:
  void SetUp() override {
    // Tracer 1 decays with a half-life of 10 days, tracer 2 with one of 0
    // days, tracer 3 does not decay.
    const char *names[] = {"", "chl", "tri", "sal"};
    for (int t = 1; t <= 3; ++t) {
      TracerInfo &info = tracers_[static_cast<std::size_t>(t)];
      info.name = names[t];
      info.statext = "sta";
      info.statcode = 2001; // every subbasin, every step
    }
    tracers_[1].radioactive = 1;
    tracers_[1].half_time = 10.0;
    tracers_[2].radioactive = 1;
    tracers_[2].half_time = 0.0;
  }
};

TEST_F(RoutingTracersTest, DecayFactorsOfTheStepAndTheSubIntervals) {
  struct Case {
    double timeStep; // minutes
    int subIntervals;
  };
  for (const Case &k : {Case{1440, 4}, Case{60, 1}, Case{720, 3}}) {
    SCOPED_TRACE(Concat(k.timeStep, " minutes, ", k.subIntervals, " sub-intervals"));
    auto routing =
        Build(Section(test::kTestNetwork, Concat("1 2000 20 ", k.subIntervals), 1, k.timeStep), 3);
    ASSERT_EQ(routing->TracerRecords.Count(), 3u);
    const double days = k.timeStep / 1440.0;
    EXPECT_DOUBLE_EQ(routing->StepDecay(1), std::exp(-days / (10.0 * 1.442695041111)));
    EXPECT_DOUBLE_EQ(routing->SubIntervalDecay(1),
                     std::exp(-days / k.subIntervals / (10.0 * 1.442695041111)));
    // Ten days halve the tracer (to the digits of the constant as written).
    EXPECT_NEAR(std::pow(routing->StepDecay(1), 10.0 / days), 0.5, 1e-10);
    EXPECT_EQ(routing->StepDecay(2), 0.0);
    EXPECT_EQ(routing->SubIntervalDecay(2), 0.0);
    EXPECT_EQ(routing->StepDecay(3), 1.0);
    EXPECT_EQ(routing->SubIntervalDecay(3), 1.0);
    routing->ReleaseMemory();
    EXPECT_TRUE(routing->TracerRecords.Empty());
  }
}

TEST_F(RoutingTracersTest, ConcentrationTablesHoldTheRoutedValuesOfEveryStep) {
  auto routing = Build(Section(test::kTestNetwork, "1 2000 20 2", 1, 1440), 3);
  SubbasinRunoffArrays qg;
  qg.Resize(3);
  auto runoff = [&](int t) {
    for (int i = 1; i <= 3; ++i) {
      qg.Components[0][static_cast<std::size_t>(i)] = 1.0 + 0.5 * i + (t % 3);
      for (int k = 1; k <= 3; ++k)
        qg.Components[static_cast<std::size_t>(k)][static_cast<std::size_t>(i)] =
            10.0 * k + i + 0.1 * t;
    }
  };
  runoff(0);
  routing->SetQg(&qg);
  routing->InitializeDischarges();
  for (int t = 1; t <= 5; ++t) {
    runoff(t);
    routing->ComputeTimeStep(0, t, 1, 2012);
    for (int k = 1; k <= 3; ++k) {
      const zonalstatistic &table = *routing->TracerRecords[static_cast<std::size_t>(k)].Statistics;
      for (int j = 1; j <= 3; ++j) {
        const ZoneRecord &zone = table.Zones()[static_cast<std::size_t>(j)];
        EXPECT_EQ(zone.n, 1.0);
        EXPECT_EQ(zone.sx, routing->Flows().RoutingInput[k][j]) << k << " " << j;
      }
    }
  }
  const std::string fileName = routing->TracerRecords[1].Statistics->FileName();
  EXPECT_NE(fileName.find("chlrouti.sta"), std::string::npos) << fileName;
  routing->FlushStatistics();
  const std::string text = test::ReadWholeFile(fileName);
  EXPECT_NE(text.find("tracer concentration for tracer 1 (chl) "), std::string::npos);
  int rows = 0;
  for (std::size_t at = text.find("\n2012"); at != std::string::npos;
       at = text.find("\n2012", at + 1))
    ++rows;
  EXPECT_EQ(rows, 5);
  routing->ReleaseMemory();
}

} // namespace
} // namespace tavro
