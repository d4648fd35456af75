// The sub-model base on small control-file copies: the module's section and
// its two leading values with their checks and exit codes, the settings it
// keeps, the progress-line rule, the floating-point-error report and the
// day and night of the module's step.
#include "kernel/teilmodellklasse.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tavro {
namespace {

using test::ExitCodeOf;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

const std::string kControlCopy = "run.ctl_0.$$$";

std::size_t Occurrences(const std::string &text, const std::string &what) {
  std::size_t count = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

class TeilmodellklasseTest : public testing::Test {
protected:
  TeilmodellklasseTest() {
    settings.Log = &log;
    settings.ModuleName = "snow_model";
    settings.ControlFileName = kControlCopy;
    settings.ZoneIndex = &zoneIndex;
    settings.HourDivisor = 1;
  }

  std::unique_ptr<teilmodellklasse> Build(const std::string &control, bool mandatory = true) {
    test::WriteFixture(kControlCopy, control);
    return std::make_unique<teilmodellklasse>(settings, mandatory);
  }

  int BuildFails(const std::string &control, bool mandatory = true) {
    return ExitCodeOf([&] { Build(control, mandatory); });
  }

  std::string LogText() { return test::ReadWholeFile("Tavro_Diag_0.xml"); }

  DiagnosticsLog log{"Tavro_Diag.xml", 4};
  OneBasedArray<int> zoneIndex{3};
  ModuleSettings settings;
};

TEST_F(TeilmodellklasseTest, ActiveModuleLeavesTheCopyOpenAtItsNextValue) {
  auto module = Build("[other]\n1\n60\n[snow_model]\n2 flow control parameter\n"
                      "60 time interval\n7 the module's own value\n");
  EXPECT_EQ(module->IsActive(), 2);
  EXPECT_EQ(module->TimeStep, 60.0);
  EXPECT_EQ(module->StepsPerDay, 24.0);
  EXPECT_EQ(module->GetTimeStep(), 60);
  ASSERT_TRUE(module->ControlFile().IsOpen());
  int own = 0;
  module->ReadControlValue(own, "own value for ");
  EXPECT_EQ(own, 7);
  EXPECT_NE(LogText().find("initializing module snow_model"), std::string::npos);
}

TEST_F(TeilmodellklasseTest, ModuleOffClosesTheCopyAndItsStepsDoNothing) {
  auto module = Build("[snow_model]\n0 flow control parameter\n60 time interval\n");
  EXPECT_EQ(module->IsActive(), 0);
  EXPECT_FALSE(module->ControlFile().IsOpen());
  CaptureStdout();
  module->ComputeTimeStep(8, 7, 3, 2021);
  EXPECT_EQ(GetCapturedStdout().find("snow_model"), std::string::npos);
  EXPECT_EQ(module->ActualDay, 0);
}

TEST_F(TeilmodellklasseTest, WithoutZoneTableTheModuleReadsNothing) {
  settings.ZoneIndex = nullptr;
  settings.ControlFileName = "does_not_exist.$$$";
  teilmodellklasse module(settings);
  EXPECT_EQ(module.IsActive(), 0);
  EXPECT_FALSE(module.ControlFile().IsOpen());
}

TEST_F(TeilmodellklasseTest, TimeIntervalAgainstMinToIntEnd) {
  struct Case {
    std::string interval;
    double minToIntEnd;
    int exitCode; // -1: constructed
  };
  const Case cases[] = {
      {"60", 60.0, -1}, {"60", 61.0, 63}, {"1440", 1440.0, -1}, {"60", 60.0005, -1},
      {"0", 0.0, 17},   {"-15", 0.0, 17}, {"nan", 0.0, 17},
  };
  for (const Case &c : cases) {
    settings.MinToIntEnd = c.minToIntEnd;
    EXPECT_EQ(BuildFails("[snow_model]\n1\n" + c.interval + "\n"), c.exitCode)
        << c.interval << " " << c.minToIntEnd;
  }
  settings.MinToIntEnd = 0.0;
  EXPECT_EQ(Build("[snow_model]\n1\n7.5\n")->GetTimeStep(), 7);

  const std::string text = LogText();
  EXPECT_NE(text.find("the time step 60 minutes as given in the section for the module snow_model "
                      ";is shorter than the parameter min_to_int_end with 61 minutes;"),
            std::string::npos);
  EXPECT_NE(text.find("time interval for snow_model is 0 minutes; it must be above 0"),
            std::string::npos);
}

TEST_F(TeilmodellklasseTest, MissingSectionAndUnreadableValues) {
  struct Case {
    std::string control;
    std::string entry;
  };
  const Case cases[] = {
      {"[snowmodel]\n1\n60\n", "error in control file, [snow_model]; (EOF)not found!"},
      {"[snow_model]\nabc\n60\n", "error in control file, flow control parameter for ; "
                                  "snow_modelnot found!"},
      {"[snow_model]\n1 flow\nxyz\n", "error in control file, time interval for ; "
                                      "snow_modelnot found!"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(BuildFails(c.control), 17) << c.control;
    EXPECT_NE(LogText().find(c.entry), std::string::npos) << c.entry;
  }
}

TEST_F(TeilmodellklasseTest, OptionalSectionMissingLeavesModuleOff) {
  settings.ModuleName = "special_output";
  std::unique_ptr<teilmodellklasse> module;
  EXPECT_EQ(ExitCodeOf([&] { module = Build("[snow_model]\n1\n60\n", false); }), -1);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module->IsActive(), 0);
  EXPECT_FALSE(module->ControlFile().IsOpen());
  // Switched off without an error entry: the run it belongs to is a successful one.
  EXPECT_EQ(LogText().find("error in control file"), std::string::npos);
  EXPECT_NE(LogText().find("no section [special_output] in the control file"), std::string::npos);
}

TEST_F(TeilmodellklasseTest, UnopenableCopyEndsWith28) {
  settings.ControlFileName = "missing.$$$";
  EXPECT_EQ(ExitCodeOf([&] { teilmodellklasse module(settings); }), 28);
  EXPECT_NE(LogText().find("error opening missing.$$$"), std::string::npos);
}

TEST_F(TeilmodellklasseTest, KeepsTheCommonSettings) {
  Grid zoneGrid(1, 2, 2, 2, log);
  Grid weights(1, 2, 2, 2, log);
  GridRegistry registry;
  registry.AddGrid(1, "zones.asc", &zoneGrid, nullptr, 1, "zonegrid", 0, 1, 2, 2, 2, log);
  registry.AddGrid(7, "", &weights, nullptr, 1, "RelCellArea", 0, 1, 2, 2, 2, log);
  OneBasedArray<ZoneRecord> zones(3);
  settings.Registry = &registry;
  settings.ZoneTable = &zones;
  settings.ZoneCount = 3;
  settings.MinToIntEnd = 30.0;
  settings.EndDate = ModelDate{8, 7, 3, 2021};
  settings.Latitude = 47.0;
  settings.SubstepCount = 4;

  auto module = Build("[snow_model]\n1\n60\n");
  EXPECT_EQ(module->BaseZoneGrid, &zoneGrid);
  EXPECT_EQ(module->CellWeights, &weights);
  EXPECT_EQ(module->ZoneTable, &zones);
  EXPECT_EQ(module->HoursToIntervalEnd, 0.5);
  EXPECT_EQ(module->EndDateCode, DateCode(2021, 3, 7, 8));
  EXPECT_EQ(module->Latitude, 47.0);
  EXPECT_EQ(module->GetSubstepCount(), 4);
  module->SetSubstepCount(6);
  EXPECT_EQ(module->GetSubstepCount(), 6);
  EXPECT_EQ(module->Pi, 3.141592653);
  EXPECT_EQ(module->EquationOfTimeTable[2], -13.6);
}

TEST_F(TeilmodellklasseTest, ProgressLineRule) {
  const std::string line = "          snow_model 7.3.2021 23. h (time of meteo data)";
  // Divisor 24 with one hour to the interval end: only the step of hour 23.
  settings.HourDivisor = 24;
  settings.MinToIntEnd = 60.0;
  auto daily = Build("[snow_model]\n1\n60\n");
  CaptureStdout();
  for (long hour = 0; hour < 24; ++hour)
    daily->ComputeTimeStep(hour, 7, 3, 2021);
  const std::string dailyText = GetCapturedStdout();
  EXPECT_EQ(Occurrences(dailyText, "(time of meteo data)"), 1u);
  EXPECT_NE(dailyText.find(line), std::string::npos);
  EXPECT_EQ(daily->ActualHour, 23);
  EXPECT_EQ(daily->ActualYear, 2021);

  // Divisor 1: every step.
  settings.HourDivisor = 1;
  auto hourly = Build("[snow_model]\n1\n60\n");
  CaptureStdout();
  for (long hour = 0; hour < 24; ++hour)
    hourly->ComputeTimeStep(hour, 7, 3, 2021);
  const std::string hourlyText = GetCapturedStdout();
  EXPECT_EQ(Occurrences(hourlyText, "(time of meteo data)"), 24u);
  EXPECT_NE(hourlyText.find("          snow_model 7.3.2021 8. h (time of meteo data)"),
            std::string::npos);
}

TEST_F(TeilmodellklasseTest, FloatingPointErrorIsReportedOnceThenReArmed) {
  auto module = Build("[snow_model]\n1\n60\n");
  module->FpeFlag = 1;
  module->ReportFPE(1, 2, 3, 4, 0.5, 1.5, 2.5, 3.5, 4.5);
  EXPECT_EQ(module->FpeFlag.load(), 2);
  module->ReportFPE(1, 2, 3, 4, 0.5, 1.5, 2.5, 3.5, 4.5);
  EXPECT_EQ(module->FpeFlag.load(), 0);
  module->ReportFPE(1, 2, 3, 4, 0.5, 1.5, 2.5, 3.5, 4.5);
  EXPECT_EQ(module->FpeFlag.load(), 0);
  const std::string text = LogText();
  EXPECT_EQ(Occurrences(text, "fpe in i1: 1, i2: 2, i3: 3, i4: 4;a1: 0.5 a2: 1.5 a3: 2.5 a4: 3.5 "
                              "a5: 4.5 "),
            1u);
}

TEST_F(TeilmodellklasseTest, DaylightOfTheStep) {
  settings.Latitude = 70.0;
  settings.Longitude = 15.0;
  settings.ReferenceMeridian = 15.0;
  auto module = Build("[snow_model]\n1\n60\n");
  // Polar night: every step is night.
  module->ComputeTimeStep(12, 21, 12, 2021);
  module->DaylightFraction();
  EXPECT_EQ(module->IsNight, 1);
  EXPECT_EQ(module->NightFraction, 1.0);
  EXPECT_EQ(module->DayFraction, 0.0);
  // Midsummer noon: day.
  module->ComputeTimeStep(12, 21, 6, 2021);
  module->DaylightFraction();
  EXPECT_EQ(module->IsNight, 0);
  EXPECT_EQ(module->DayFraction, 1.0);

  double sunrise = 0.0, sunset = 0.0;
  module->SunriseSunset(21, 3, sunrise, sunset, 47.0, 15.0);
  EXPECT_NEAR((sunrise + sunset) / 2.0, 12.0 - module->EquationOfTime(21, 3), 1e-9);
  double azimuth = 0.0, elevation = 0.0;
  module->SunAzimuth(21, 3, azimuth, elevation, 47.0, 15.0, 9.0);
  EXPECT_LT(azimuth, module->Pi);
  EXPECT_NEAR(elevation * module->DegreesPerRadian, module->SunElevation(21, 3, 47.0, 15.0, 9.0),
              1e-5);
}

TEST_F(TeilmodellklasseTest, TracerCountZeroNeedsNothing) {
  auto module = Build("[snow_model]\n1\n60\n");
  int error = -1;
  module->InitTracerGrids(error, 0, nullptr, nullptr, 0);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(module->TracerCount, 0);
  module->FinishTracerGrids();
}

} // namespace
} // namespace tavro
