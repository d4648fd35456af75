// The model-object base: construction, dates, interpolation, the rank log,
// release, control-file access and the registry forwarding.
#include "kernel/modelobject.h"

#include "kernel/diagnostics_log.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace tavro {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

using test::ExitCodeOf;

class ModelObjectTest : public testing::Test {
protected:
  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
};

TEST_F(ModelObjectTest, StartsWithTheDocumentedState) {
  modelobject object(log_, "snow_model", "control.txt_0.$$$");
  EXPECT_EQ(object.Initialized, 0);
  EXPECT_EQ(object.ModuleName, "snow_model");
  EXPECT_EQ(object.ControlFileName, "control.txt_0.$$$");
  EXPECT_EQ(object.HourDivisor, 0);
  EXPECT_EQ(object.MPIProcessCount, test::ProcessCount());
  EXPECT_EQ(object.MPIRank, test::Rank());
  EXPECT_EQ(object.ActualDate(), ModelDate{});
  EXPECT_EQ(object.EndDateCode, 0);
  const int expectedDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int month = 1; month <= 12; ++month)
    EXPECT_EQ(object.DaysPerMonth[month], expectedDays[month - 1]) << month;
  object.SetInitialized(1);
  EXPECT_EQ(object.Initialized, 1);
  object.SetHourDivisor(6);
  EXPECT_EQ(object.GetHourDivisor(), 6);
}

TEST_F(ModelObjectTest, SetActualDateMovesTheEndDateAndItsCode) {
  modelobject object(log_, "snow_model", "control");
  object.SetActualDate(2021, 3, 7, 8);
  EXPECT_EQ(object.EndYear, 2021);
  EXPECT_EQ(object.EndMonth, 3);
  EXPECT_EQ(object.EndDay, 7);
  EXPECT_EQ(object.EndHour, 8);
  EXPECT_EQ(object.EndDateCode, 2021L * 93000 + 3 * 7750 + 7 * 250 + 8);
  const long code = object.EndDateCode;
  object.SetActualDate(2021, 3, 7, 9);
  EXPECT_GT(object.EndDateCode, code);
  object.SetActualDate(2021, 3, 8, 0);
  EXPECT_GT(object.EndDateCode, code);
  object.SetActualDate(2022, 1, 1, 0);
  EXPECT_GT(object.EndDateCode, code);
  EXPECT_EQ(object.ActualDateCode(), 0); // the step's date is not touched
}

TEST(LinearInterpolateTest, FollowsTheLineThroughBothPoints) {
  struct Case {
    double x1, y1, x2, y2, x;
  };
  const Case cases[] = {{1, 10, 3, 30, 2},   {1, 10, 3, 30, 5},   {1, 10, 3, 30, -1},
                        {3, 30, 1, 10, 2.5}, {0, -2, 10, 3, 7.5}, {-4, 1, -2, 1, 0}};
  for (const auto &c : cases) {
    const double slope = (c.y2 - c.y1) / (c.x2 - c.x1);
    EXPECT_NEAR(modelobject::LinearInterpolate(c.x1, c.y1, c.x2, c.y2, c.x),
                c.y1 + slope * (c.x - c.x1), 1e-12);
  }
  EXPECT_DOUBLE_EQ(modelobject::LinearInterpolate(1, 10, 3, 30, 2), 20.0);
  EXPECT_EQ(modelobject::LinearInterpolate(2, 7, 2, 9, 5), 7.0); // x1 == x2 gives y1
}

TEST_F(ModelObjectTest, RankLogAppendsATimeStampedRecord) {
  const modelobject object(log_, "snow_model", "control");
  object.WriteRankLog("first report");
  object.WriteRankLog("second 100% report");
  const std::string text = test::ReadWholeFile("modell_0.log");
  const std::string stamp = R"([A-Z][a-z]{2} [A-Z][a-z]{2} [ 123]\d \d\d:\d\d:\d\d \d{4}\n)";
  EXPECT_TRUE(std::regex_match(
      text, std::regex(stamp + ": first report\n" + stamp + ": second 100% report\n")))
      << text;
}

TEST_F(ModelObjectTest, ReleaseMemoryLogsOnceAndClearsTheNames) {
  modelobject object(log_, "snow_model", "control");
  CaptureStdout();
  object.ReleaseMemory();
  object.ReleaseMemory();
  const std::string console = GetCapturedStdout();
  EXPECT_NE(console.find("deleting module snow_model"), std::string::npos) << console;
  EXPECT_EQ(console.find("deleting module", console.find("deleting module") + 1),
            std::string::npos);
  EXPECT_TRUE(object.ModuleName.empty());
  EXPECT_TRUE(object.ControlFileName.empty());
  EXPECT_FALSE(object.ControlFile().IsOpen());
}

TEST_F(ModelObjectTest, ReadsItsSectionThroughTheControlFile) {
  test::WriteFixture("control_0.$$$", "[other]\n5\n[snow_model]\n1 flow control parameter\n"
                                      "60 time interval\n0.5 factor\nsnow.asc 2131 output\n"
                                      "grid.asc name\n123456789012 long\n");
  modelobject object(log_, "snow_model", "control_0.$$$");
  ASSERT_TRUE(object.OpenControlFile());
  ASSERT_TRUE(object.FindControlKey("[snow_model]", true));
  int flow = 0, interval = 0, writecode = 0;
  double factor = 0.0;
  long big = 0;
  std::string file, name;
  EXPECT_EQ(object.ReadControlValue(flow, "flow control parameter"), 1);
  EXPECT_EQ(object.ControlFile().LastRest(), " flow control parameter\n");
  EXPECT_EQ(object.ReadControlValue(interval, "time interval for "), 1);
  EXPECT_EQ(object.ReadControlValue(factor, "factor"), 1);
  EXPECT_EQ(object.ReadControlValues2(file, writecode, "output"), 2);
  EXPECT_EQ(object.ReadControlValue(name, "name"), 1);
  EXPECT_EQ(object.ReadControlValue(big, "long"), 1);
  EXPECT_EQ(flow, 1);
  EXPECT_EQ(interval, 60);
  EXPECT_EQ(factor, 0.5);
  EXPECT_EQ(file, "snow.asc");
  EXPECT_EQ(writecode, 2131);
  EXPECT_EQ(name, "grid.asc");
  EXPECT_EQ(big, 123456789012L);
  EXPECT_TRUE(object.CloseControlFile());

  modelobject missing(log_, "snow_model", "missing.txt");
  EXPECT_FALSE(missing.OpenControlFile());
}

TEST_F(ModelObjectTest, OverlongNamesAreRefused) {
  EXPECT_EQ(ExitCodeOf([&] { modelobject(log_, std::string(101, 'm'), "c"); }), 17);
  EXPECT_EQ(ExitCodeOf([&] { modelobject(log_, std::string(100, 'm'), "c"); }), -1);
  EXPECT_EQ(ExitCodeOf([&] { modelobject(log_, "m", std::string(1201, 'c')); }), 17);
  EXPECT_EQ(ExitCodeOf([&] { modelobject(log_, "m", std::string(1200, 'c')); }), -1);
}

TEST_F(ModelObjectTest, RegistryOperationsGoToTheLinkedRegistry) {
  modelobject object(log_, "snow_model", "control");
  EXPECT_EQ(ExitCodeOf([&] { object.FindGrid("x", true); }), 12); // none linked

  GridRegistry registry;
  object.Registry = &registry;
  object.NCols = 4;
  object.NRows = 6;
  std::vector<std::pair<const modelobject *, int>> written;
  registry.ImmediateOutput = [&](modelobject &caller, int index) {
    written.emplace_back(&caller, index);
  };
  Grid grid(1, 6, 4, 6, log_);
  object.AddGrid(3, "now.asc", &grid, nullptr, 1, "now", 8, 1, 6);
  object.AddGrid(4, "later.asc", &grid, nullptr, 1, "later", 31, 2, 5);
  ASSERT_EQ(written.size(), 1u); // only output kind 8 is written at once
  EXPECT_EQ(written[0], std::make_pair(static_cast<const modelobject *>(&object), 3));
  // The aggregate grids take the object's raster size and the given rows.
  ASSERT_TRUE(registry[4].Aggregate);
  EXPECT_EQ(registry[4].Aggregate->LastColumn(), 4);
  EXPECT_EQ(registry[4].Aggregate->FirstRow(), 2);
  EXPECT_EQ(registry[4].Aggregate->LastRow(), 5);
  EXPECT_EQ(registry[4].Aggregate->TableRows(), 6);

  EXPECT_EQ(object.FindGrid("later", false), 4);
  EXPECT_EQ(object.GetGridIndex("now"), 3);
  EXPECT_EQ(object.GetGridIndexOf3("a", "later", "now"), 4);
  EXPECT_EQ(object.GetGridIndexOf4("a", "b", "c", "now"), 3);
  object.ReleaseGrid(3);
  const auto [code, console] = test::RunCapturingConsole([&] { object.GetGridIndex("now"); });
  EXPECT_EQ(code, 33);
  EXPECT_NE(console.find("These data are needed within snow_model \n"), std::string::npos)
      << console;
}

TEST_F(ModelObjectTest, GridStatisticsAreKeptPerObject) {
  modelobject object(log_, "snow_model", "control");
  object.ResetGridStatistics(-9999.0);
  object.AddToGridStatistics(4.0, 0.5);
  object.AddToGridStatistics(2.0, 1.0);
  object.AddToGridStatistics(-9998.0, 1.0);
  const GridStatisticsResult result = object.GetGridStatistics();
  EXPECT_EQ(result.WeightSum, 1.5);
  EXPECT_EQ(result.Minimum, 2.0);
  EXPECT_EQ(result.Maximum, 4.0);
  EXPECT_EQ(result.WeightedSum, 4.0);
  EXPECT_NEAR(result.Mean, 2.667, 1e-3);
}

} // namespace
} // namespace tavro
