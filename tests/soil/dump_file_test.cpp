// Dump files of misbehaving cells: the name, the byte layout with and
// without heat read back, the checks at their bounds, the stop 199, the
// repair with its DEBUG entry, and the WARNING for a file that cannot be
// written.
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "soil/dump_file.h"
#include "support/diagnostics_entries.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace tavro {
namespace {

constexpr int kLayers = 4;
constexpr int kLanduse = 2;

DumpSnapshot Snapshot() {
  DumpSnapshot s;
  s.Resize(kLayers, kLanduse);
  s.rootedLayers = 3;
  s.meanSuction = -1.25;
  s.inputRate = 2e-6;
  s.baseflow = 11.5;
  s.realTranspiration = {0.5, 0.3, 0.2};
  for (int j = 0; j <= kLayers; ++j) {
    s.theta[static_cast<std::size_t>(j)] = 0.1 * j;
    s.temperatureStart[static_cast<std::size_t>(j)] = -3.0 + j;
  }
  s.heatStepLength = 900.0;
  s.soilType = 7;
  s.landuseCodes = {0.0, 4.0, 9.0};
  s.date = {6, 5, 3, 2010};
  s.internalSteps = 2.0;
  s.dt = 1800.0;
  s.heatSteps = 4.0;
  s.heatStepsPerInternalStep = 2;
  s.airTemperature = 4.5;
  return s;
}

std::vector<unsigned char> Bytes(const std::string &name) {
  const std::string text = test::ReadWholeFile(name);
  return {text.begin(), text.end()};
}

template <class T> T At(const std::vector<unsigned char> &bytes, std::size_t offset) {
  T value{};
  std::memcpy(&value, bytes.data() + offset, sizeof value); // the test machine is little-endian
  return value;
}

TEST(DumpFile, NameOfTheCell) {
  DumpPlace place{7, 12, 2, 0, 2010, 3, 5, 6};
  EXPECT_EQ(DumpFileName({0, 3, true}, place),
            "theta(3)_dgw_dump_row_7_col_12_substep_2_2010030506.dmp");
  EXPECT_EQ(DumpFileName({2, 0, false}, place),
            "heat(2)_dump_row_7_col_12_substep_2_2010030506.dmp");
  place.call = 1;
  const std::string first = DumpFileName({0, 3, false}, place);
  place.call = 2;
  const std::string second = DumpFileName({0, 3, false}, place);
  EXPECT_EQ(first, "theta(3)_dump_row_7_col_12_substep_2_call_1_2010030506.dmp");
  EXPECT_EQ(second, "theta(3)_dump_row_7_col_12_substep_2_call_2_2010030506.dmp");
}

TEST(DumpFile, LayoutWithAndWithoutHeat) {
  const DumpSnapshot s = Snapshot();
  const std::size_t n1 = kLayers + 1;
  const std::size_t plain =
      4 + 3 * 8 + 8 * (kLanduse + 1) + 14 * 8 * n1 + 4 + 8 * kLanduse + 16 + 16;
  const std::size_t heat = plain + 7 * 8 * n1 + 8 + 8 + 4 + 8;
  ASSERT_TRUE(WriteDumpFile("plain.dmp", s, kLayers, kLanduse, false));
  ASSERT_TRUE(WriteDumpFile("heat.dmp", s, kLayers, kLanduse, true));
  const auto p = Bytes("plain.dmp");
  const auto h = Bytes("heat.dmp");
  ASSERT_EQ(p.size(), plain);
  ASSERT_EQ(h.size(), heat);

  EXPECT_EQ(At<std::int32_t>(p, 0), 3);
  EXPECT_EQ(At<double>(p, 4), -1.25);
  EXPECT_EQ(At<double>(p, 20), 11.5);
  EXPECT_EQ(At<double>(p, 28 + 8), 0.3); // real_transpiration1
  const std::size_t thetaField = 28 + 8 * (kLanduse + 1) + 13 * 8 * n1;
  EXPECT_EQ(At<double>(p, thetaField + 8 * 4), 0.4);
  const std::size_t soil = thetaField + 8 * n1;
  EXPECT_EQ(At<std::int32_t>(p, soil), 7);
  EXPECT_EQ(At<double>(p, soil + 4 + 8), 9.0); // land-use code of layer 2
  const std::size_t date = soil + 4 + 8 * kLanduse;
  EXPECT_EQ(At<std::int32_t>(p, date), 6);
  EXPECT_EQ(At<std::int32_t>(p, date + 12), 2010);
  EXPECT_EQ(At<double>(p, date + 16), 2.0);
  EXPECT_EQ(At<double>(p, date + 24), 1800.0);

  // With heat the seven temperature rows and the heat step length sit
  // between the water content and the soil type; three fields close it.
  const std::size_t startRow = soil + 6 * 8 * n1;
  EXPECT_EQ(At<double>(h, startRow + 8 * 1), -2.0);
  EXPECT_EQ(At<double>(h, startRow + 8 * n1), 900.0);
  EXPECT_EQ(At<std::int32_t>(h, startRow + 8 * n1 + 8), 7);
  EXPECT_EQ(At<double>(h, heat - 20), 4.0);
  EXPECT_EQ(At<std::int32_t>(h, heat - 12), 2);
  EXPECT_EQ(At<double>(h, heat - 8), 4.5);
}

struct CheckCase {
  const char *name;
  double baseflow;
  std::vector<double> theta;       // 0..4
  std::vector<double> temperature; // 0..4, empty without heat
  DumpChecks expected;
};

class DumpChecksTable : public ::testing::TestWithParam<CheckCase> {};

TEST_P(DumpChecksTable, FindTheFirstFailingLayer) {
  const CheckCase &c = GetParam();
  const std::vector<double> thetaSat(5, 0.4);
  std::vector<double> now = c.temperature;
  const std::vector<double> start{0, 2.0, 2.0, 2.0, 2.0};
  DumpTemperatures heat{now, start, 2.0};
  const DumpChecks got =
      CheckCell(c.baseflow, c.theta, thetaSat, kLayers, c.temperature.empty() ? nullptr : &heat);
  EXPECT_EQ(got.temperatureLayer, c.expected.temperatureLayer);
  EXPECT_EQ(got.thetaLayer, c.expected.thetaLayer);
  EXPECT_EQ(got.groundwater, c.expected.groundwater);
}

const std::vector<double> kFine{0, 0.3, 0.3, 0.3, 0.3};
const double kAtTolerance = 0.4 + 0.001;

INSTANTIATE_TEST_SUITE_P(
    Cases, DumpChecksTable,
    ::testing::Values(
        CheckCase{"AllFine", 10.0, kFine, {}, {}},
        CheckCase{"ThetaAtTolerancePasses", -10.0, {0, 0.3, kAtTolerance, 0.3, 0.3}, {}, {}},
        CheckCase{"ThetaAboveTolerance", 0, {0, 0.3, 0.3, 0.4011, 0.5}, {}, {0, 3, false}},
        CheckCase{"NegativeTheta", 0, {0, -1e-9, 0.3, 0.3, 0.3}, {}, {0, 1, false}},
        CheckCase{"Baseflow", -10.001, kFine, {}, {0, 0, true}},
        CheckCase{"TemperaturesFine", 0, kFine, {0, 2.0, 2.0005, 2.0, 2.0}, {}},
        CheckCase{"UpwardSpike", 0, kFine, {0, 2.0, 2.5, 2.0, 2.0}, {2, 0, false}},
        CheckCase{"DownwardSpikeAtTop", 0, kFine, {0, 1.0, 2.0, 2.0, 2.0}, {1, 0, false}},
        CheckCase{"TooCold", 0, kFine, {0, 2.0, 2.0, -71.0, -71.0}, {3, 0, false}},
        CheckCase{"LastLayerNeverChecked", 0, kFine, {0, 2.0, 2.0, 2.0, 99.0}, {}}),
    [](const auto &info) { return std::string(info.param.name); });

// One failing cell: water content above saturation in layer 2, a baseflow
// of 12 and layer 3 colder than -70.
struct FailingCell {
  double baseflow = 12.0;
  std::vector<double> theta{0, 0.3, 0.45, -0.01, 0.3};
  std::vector<double> thetaSat = std::vector<double>(5, 0.4);
  std::vector<double> now{0, 2.0, 2.0, -75.0, 80.0};
  std::vector<double> start{0, 2.0, 2.0, 2.0, 2.0};
  DumpTemperatures heat{now, start, 2.0};
  DumpChecks Check() { return CheckCell(baseflow, theta, thetaSat, kLayers, &heat); }
  bool Handle(const DumpOptions &options, DiagnosticsLog &log, ParallelErrors &errors) {
    return HandleFailedChecks(Check(), DumpPlace{3, 4, 1, 0, 2010, 3, 5, 6}, Snapshot(), kLayers,
                              kLanduse, options, baseflow, theta, thetaSat, &heat, log, errors);
  }
};

const char *const kFile = "heat(3)_theta(2)_dgw_dump_row_3_col_4_substep_1_2010030506.dmp";

TEST(DumpFile, CloseStopsWith199AndRepairsNothing) {
  DiagnosticsLog log("Tavro_Diag.xml", 4);
  for (const bool repairToo : {false, true}) {
    FailingCell cell;
    ParallelErrors errors;
    EXPECT_TRUE(cell.Handle({true, repairToo}, log, errors));
    EXPECT_TRUE(test::FileExists(kFile));
    EXPECT_EQ(errors.ExitCode(), kCloseAfterDumpExitCode);
    EXPECT_EQ(cell.baseflow, 12.0);
    EXPECT_EQ(cell.theta[2], 0.45);
    EXPECT_EQ(cell.now[3], -75.0);
    EXPECT_EQ(test::ExitCodeOf([&] { errors.ThrowIfAny(log); }), 199);
  }
  EXPECT_TRUE(test::Logged("FATAL: \n\n -------- command line option -closeAfterDump active! "
                           "---------------------------------------------\n\n"
                           " a dumpfile has been written and Tavro aborts now.\n"
                           "-------------------------------------------------------------\n\n"));
  EXPECT_FALSE(test::Logged("repairAfterDump"));
}

TEST(DumpFile, RepairClampsAndLogs) {
  DiagnosticsLog log("Tavro_Diag.xml", 4);
  FailingCell cell;
  ParallelErrors errors;
  EXPECT_FALSE(cell.Handle({false, true}, log, errors));
  EXPECT_FALSE(errors.Any());
  EXPECT_EQ(cell.baseflow, 10.0);
  EXPECT_EQ(cell.theta, (std::vector<double>{0, 0.3, 0.4, 0.0, 0.3}));
  EXPECT_EQ(cell.now[3], -70.0);
  EXPECT_EQ(cell.now[4], 80.0); // the last layer is never repaired
  EXPECT_FALSE(cell.Check().Failed() && cell.Check().thetaLayer > 0);
  EXPECT_TRUE(test::Logged("DEBUG: \n ---- command line option -repairAfterDump active! --------\n"
                           "setting the misbehaving parameter back to what is expected of it :-)"));
}

TEST(DumpFile, SpikesTakeTheirNeighbours) {
  const std::vector<double> thetaSat(5, 0.4);
  std::vector<double> theta{0, 0.3, 0.3, 0.3, 0.3};
  std::vector<double> now{0, -1.0, 2.0, 5.0, 3.0};
  const std::vector<double> start{0, 2.0, 2.0, 2.5, 2.0};
  DumpTemperatures heat{now, start, 1.5};
  double baseflow = 0.0;
  const DumpChecks checks = CheckCell(baseflow, theta, thetaSat, kLayers, &heat);
  EXPECT_EQ(checks.temperatureLayer, 1);
  RepairCell(checks, baseflow, theta, thetaSat, kLayers, &heat);
  EXPECT_EQ(now, (std::vector<double>{0, 1.5, 2.0, 3.0, 3.0}));
}

TEST(DumpFile, WithoutAnOptionOnlyTheFileIsWritten) {
  DiagnosticsLog log("Tavro_Diag.xml", 4);
  FailingCell cell;
  ParallelErrors errors;
  EXPECT_FALSE(cell.Handle({}, log, errors));
  EXPECT_TRUE(test::FileExists(kFile));
  EXPECT_FALSE(errors.Any());
  EXPECT_EQ(cell.baseflow, 12.0);
}

TEST(DumpFile, UnwritableDirectoryWarnsBeforeTheStop) {
  const std::string here = test::WorkDirectory();
  DiagnosticsLog log(here + "/Tavro_Diag.xml", 4);
  const std::filesystem::path gone = std::filesystem::path(here) / "gone";
  std::filesystem::create_directory(gone);
  ASSERT_EQ(chdir(gone.c_str()), 0);
  std::filesystem::remove(gone); // even root cannot create a file in it now
  FailingCell cell;
  ParallelErrors errors;
  EXPECT_TRUE(cell.Handle({true, false}, log, errors));
  EXPECT_EQ(test::ExitCodeOf([&] { errors.ThrowIfAny(log); }), 199);
  ASSERT_EQ(chdir(here.c_str()), 0);
  const std::string xml = test::ReadWholeFile("Tavro_Diag_0.xml");
  const auto warning = xml.find(std::string("the dump file ") + kFile + " could not be written");
  ASSERT_NE(warning, std::string::npos);
  EXPECT_LT(warning, xml.find("closeAfterDump active"));
  EXPECT_TRUE(test::Logged(std::string("WARNING: the dump file ") + kFile));
}

} // namespace
} // namespace tavro
