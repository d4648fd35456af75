// The radiation correction module on a small terrain of one process: its
// section, the grids it registers, when it computes, the factor of flat and
// sloped cells against the sub-step sums of the direct beam, the corrected
// and night temperatures, and the release.
#include "landsurface/radiation_correction.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "landsurface/radiation/exposure_geometry.h"
#include "landsurface/radiation_correction_fixture.h"
#include "support/diagnostics_entries.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace tavro {
namespace {

constexpr const char *kControl = "control.txt_0.$$$";
constexpr long kRows = 6;
constexpr long kCols = 6;

// Columns 1 to 3 rise by 20 m per 100 m towards the north (a south slope of
// 11.3 degrees in columns 1 and 2); columns 4 to 6 are a plateau at 500 m,
// flat in columns 5 and 6.
double Elevation(long r, long c) { return c <= 3 ? 20.0 * (7 - r) : 500.0; }
double Zone(long r, long c) { return r == 6 && c == 6 ? -9999.0 : 1.0; }
double Temperature(long r, long c) { return 8.0 + 0.1 * r - 0.2 * c; }

const long kFlatRow = 3, kFlatCol = 5;
const long kSlopeRow = 3, kSlopeCol = 1;

class RadiationCorrectionTest : public testing::Test {
protected:
  RadiationCorrectionTest() {
    terrain_.setup.FillSettings(settings_, registry_, "radiation_correction", kControl);
    settings_.Latitude = 47.0;
    settings_.Longitude = 15.0;
    settings_.ReferenceMeridian = 15.0;
    settings_.EndDate = ModelDate{0, 31, 12, 2003};
  }

  // Builds the module for steps of the given length whose hour stamps mark
  // their start.
  std::unique_ptr<expokorrklasse> Make(int flowControl, double minutes,
                                       const test::RadiationCorrectionValues &values) {
    test::WriteFixture(kControl, test::RadiationCorrectionSection(flowControl, minutes, values));
    settings_.MinToIntEnd = minutes;
    int error = -1;
    auto module = std::make_unique<expokorrklasse>(error, settings_);
    EXPECT_EQ(error, 0);
    return module;
  }

  const Grid &Registered(const std::string &identifier) const {
    const int index = registry_.FindGrid(identifier, false);
    EXPECT_GT(index, 0) << identifier;
    return *registry_[index].Data;
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  GridRegistry registry_;
  test::TerrainGrids terrain_{
      log_, registry_, {kRows, kCols, 1, 1, kRows, 0.0, 0.0, 100.0}, Zone, Elevation};
  Grid &temperature_ = terrain_.Add("temperature", Temperature);
  ModuleSettings settings_;
};

test::RadiationCorrectionValues Values(int method, int steps, int splittings) {
  test::RadiationCorrectionValues v;
  v.method = method;
  v.steps = steps;
  v.splittings = splittings;
  v.scaling = 2.0;
  return v;
}

TEST_F(RadiationCorrectionTest, SixtySubStepsOfAnHourAgainstTheBeamSum) {
  // One-minute sub-steps from 12:00 to 13:00 on 21 June: exactly sixty of
  // them, none past the end of the step.
  auto module = Make(1, 60.0, Values(4, 1, 60));
  module->ComputeTimeStep(12, 21, 6, 2003);
  double horizontal = 0.0;
  for (int i = 0; i < 60; ++i) {
    double azimuth = 0.0, elevation = 0.0;
    module->SunAzimuth(21, 6, azimuth, elevation, 47.0, 15.0, 12.0 + (i + 0.5) / 60.0);
    const double cosZ = std::cos(0.5 * solar::Pi - elevation);
    horizontal += 1367.0 / 60.0 * std::pow(0.86, 0.9 / cosZ) * cosZ;
  }
  const Grid &beam = Registered("Ieff_max");
  EXPECT_NEAR(beam[kFlatRow][kFlatCol], horizontal, 1e-9 * horizontal);
  const Grid &factor = Registered("radiation_correction");
  EXPECT_DOUBLE_EQ(factor[kFlatRow][kFlatCol], 1.0);
  // The south slope under the summer noon sun gets more than the flat.
  EXPECT_GT(factor[kSlopeRow][kSlopeCol], 1.0);
  EXPECT_LT(factor[kSlopeRow][kSlopeCol], 1.2);
  EXPECT_EQ(factor[6][6], -9999.0); // outside the zones
  EXPECT_EQ(module->GetRadiationCorrectionGrid(), &factor);
  module->ReleaseMemory();
}

TEST_F(RadiationCorrectionTest, AllNightStepGivesFactorZeroAndTheTemperature) {
  auto module = Make(1, 60.0, Values(2, 1, 12));
  module->ComputeTimeStep(0, 15, 1, 2003);
  const Grid &factor = Registered("radiation_correction");
  const Grid &corrected = Registered("corr_temperature");
  for (long r = 1; r <= kRows; ++r)
    for (long c = 1; c <= kCols; ++c) {
      if (Zone(r, c) < 0)
        continue;
      EXPECT_EQ(factor[r][c], 0.0);
      EXPECT_EQ(corrected[r][c], Temperature(r, c));
    }
  module->ReleaseMemory();
}

TEST_F(RadiationCorrectionTest, ComputesEveryNthCallAndCorrectsTheTemperatureInEvery) {
  auto module = Make(1, 60.0, Values(4, 3, 6));
  const Grid &factor = Registered("radiation_correction");
  const Grid &corrected = Registered("corr_temperature");
  std::vector<double> factors;
  for (int call = 1; call <= 7; ++call) {
    // A new temperature every hour; the sunshine default of 0.5 applies.
    terrain_.Set(temperature_, [call](long r, long c) { return Temperature(r, c) + call; });
    module->ComputeTimeStep(6 + call, 21, 6, 2003);
    const double f = factor[kSlopeRow][kSlopeCol];
    factors.push_back(f);
    EXPECT_NEAR(corrected[kSlopeRow][kSlopeCol],
                Temperature(kSlopeRow, kSlopeCol) + call + std::log(f) * 2.0 * 0.5, 1e-12)
        << call;
  }
  // Calls 1, 4 and 7 compute; the calls between keep the factor.
  EXPECT_EQ(factors[1], factors[0]);
  EXPECT_EQ(factors[2], factors[0]);
  EXPECT_NE(factors[3], factors[2]);
  EXPECT_EQ(factors[4], factors[3]);
  EXPECT_EQ(factors[5], factors[3]);
  EXPECT_NE(factors[6], factors[5]);
  module->ReleaseMemory();
}

TEST_F(RadiationCorrectionTest, OvercastCellsCountAsHorizontal) {
  terrain_.Add("sunshine_duration", [](long, long c) { return c == 1 ? 0.05 : 0.6; });
  auto module = Make(1, 60.0, Values(4, 1, 6));
  module->ComputeTimeStep(12, 21, 6, 2003);
  const Grid &factor = Registered("radiation_correction");
  EXPECT_DOUBLE_EQ(factor[kSlopeRow][1], 1.0); // overcast: as flat
  EXPECT_GT(factor[kSlopeRow][2], 1.0);        // the same slope in the sun
  // The corrected temperature uses the cell's sunshine.
  const Grid &corrected = Registered("corr_temperature");
  EXPECT_NEAR(corrected[kSlopeRow][2],
              Temperature(kSlopeRow, 2) + std::log(factor[kSlopeRow][2]) * 2.0 * 0.6, 1e-12);
  module->ReleaseMemory();
}

TEST_F(RadiationCorrectionTest, MethodsFlowControlAndRegisteredGrids) {
  struct Case {
    int flowControl, method;
    int expectedMethod;
    bool corrected, handedOver;
    long shadowRows;
  };
  const Case cases[] = {
      {1, 5, 2, true, true, kRows}, // any other method acts as 2
      {1, 0, 2, true, true, kRows},  {1, 1, 1, false, true, kRows},
      {1, 3, 3, false, true, kRows}, // no shadows: the strip (here every row) as well
      {2, 4, 4, true, false, kRows}, // computes, hands over nothing
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.method);
    auto module = Make(c.flowControl, 60.0, Values(c.method, 1, 4));
    EXPECT_EQ(module->Method(), c.expectedMethod);
    EXPECT_EQ(registry_.FindGrid("corr_temperature", false) > 0, c.corrected);
    EXPECT_EQ(module->GetRadiationCorrectionGrid() != nullptr, c.handedOver);
    EXPECT_EQ(Registered("Shadow").LastRow(), c.shadowRows);
    EXPECT_EQ(registry_.FindGrid("temperature_night", false), 0); // steps of an hour
    module->ComputeTimeStep(12, 21, 6, 2003);
    EXPECT_DOUBLE_EQ(Registered("radiation_correction")[kFlatRow][kFlatCol], 1.0);
    module->ReleaseMemory();
    for (const char *id : {"radiation_correction", "Shadow", "Ieff_max", "corr_temperature"})
      EXPECT_EQ(registry_.Find(id), 0) << id;
  }
}

TEST_F(RadiationCorrectionTest, NightTemperatureOfLongStepsAlsoWhenOff) {
  for (const int flowControl : {0, 1}) {
    SCOPED_TRACE(flowControl);
    auto module = Make(flowControl, 1440.0, Values(2, 1, 24));
    const Grid &night = Registered("temperature_night");
    EXPECT_EQ(registry_[registry_.FindGrid("temperature_night", false)].FileName,
              "$$temperature_night$$");
    terrain_.Set(temperature_, [](long r, long c) { return Temperature(r, c) - 3.0; });
    module->ComputeTimeStep(0, 21, 6, 2003);
    EXPECT_EQ(night[2][3], Temperature(2, 3) - 3.0);
    module->ReleaseMemory();
    EXPECT_EQ(registry_.Find("temperature_night"), 0);
  }
}

TEST_F(RadiationCorrectionTest, SplittingsBelowOneAreAControlFileError) {
  test::WriteFixture(kControl, test::RadiationCorrectionSection(1, 60.0, Values(2, 1, 0)));
  int error = -1;
  const test::CallOutcome outcome =
      test::RunCapturingConsole([&] { expokorrklasse module(error, settings_); });
  EXPECT_EQ(outcome.code, 17);
  EXPECT_EQ(error, 17);
  EXPECT_TRUE(test::Logged("FATAL: error in control file, number of splittings for "
                           "radiation_correction is 0; it must be at least 1"));
  // Nothing stays registered after the failed construction.
  EXPECT_EQ(registry_.Find("radiation_correction"), 0);
}

TEST_F(RadiationCorrectionTest, MissingSlopeGridIsFatal) {
  registry_.ReleaseGrid(registry_.FindGrid("slope_aspect", false));
  test::WriteFixture(kControl, test::RadiationCorrectionSection(1, 60.0, Values(2, 1, 4)));
  int error = -1;
  const test::CallOutcome outcome =
      test::RunCapturingConsole([&] { expokorrklasse module(error, settings_); });
  EXPECT_EQ(outcome.code, 33);
  EXPECT_NE(outcome.console.find("slope_aspect not found in memory"), std::string::npos);
}

} // namespace
} // namespace tavro
