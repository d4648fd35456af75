// The time loop with recording doubles: the calls of one pass in their order
// (interception before and after snow, with and without the regional
// superposition, two sub-steps), the end of the data, the step length of the
// land-use updates, spin-up repetitions and the temperature pre-spin-up.
#include "modell_application.h"

#include "interrupt_state.h"

#include "kernel/diagnostics_log.h"
#include "recording_modules.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <csignal>

#include <string>
#include <vector>

namespace tavro {
namespace {

using test::RecordingConfig;
using test::RecordingFactory;

char program[] = "tavro";
char controlArgument[] = "run.ctl";

class TimeLoopTest : public testing::Test {
protected:
  std::unique_ptr<ModellApplication> Build() {
    test::WriteRecordingFixture(factory.config);
    ApplicationServices services;
    services.Factory = &factory;
    char *argv[] = {program, controlArgument, nullptr};
    auto application = std::make_unique<ModellApplication>(log, 2, argv, 1, services);
    factory.calls.calls.clear();
    return application;
  }
  std::string Diagnostics() const { return test::ReadWholeFile("Tavro_Diag_0.xml"); }

  DiagnosticsLog log{"Tavro_Diag.xml", 4};
  RecordingFactory factory{RecordingConfig{}};
};

// The calls of one pass, written from the documented order of a step.
std::vector<std::string> ExpectedPass(bool interceptionFirst, bool superposition, bool regression,
                                      int substeps) {
  std::vector<std::string> pass;
  auto add = [&](std::initializer_list<const char *> calls) {
    for (const char *call : calls)
      pass.emplace_back(call);
  };
  if (regression)
    add({"temperature.CalcElevationRegression"});
  if (!superposition)
    add({"precipitation_correction.CorrectStationData"});
  add({"temperature.Interpolate", "precipitation.Interpolate",
       "RegionalSuperposition.ComputeTimeStep"});
  if (superposition)
    add({"precipitation_correction.CorrectGrids"});
  add({"defaults.ReadPeriodicGrids", "defaults.UpdateLanduseParameters",
       "temperature.WriteResultGrid", "precipitation.WriteResultGrid",
       "RegionalSuperposition.WriteStepOutput", "radiation_correction.ComputeTimeStep",
       "evapotranspiration.PotentialEvapotranspiration", "irrigation.ComputeTimeStep",
       "evapotranspiration.SnowEvaporationOnGlacier"});
  if (interceptionFirst)
    add({"interception_model.ComputeTimeStep", "snow_model.ComputeTimeStep"});
  else
    add({"snow_model.ComputeTimeStep", "interception_model.ComputeTimeStep"});
  add({"SiltingUpModel.ComputeTimeStep", "unsatzon_model.BeginTimeStep",
       "SurfaceRoutingModel.BeginTimeStep", "evapotranspiration.RealEvapotranspiration",
       "groundwater_flow.BeginTimeStep"});
  for (int j = 1; j <= substeps; ++j) {
    add({"unsatzon_model.ComputeTimeStep", "SurfaceRoutingModel.ComputeTimeStep",
         "evapotranspiration.ComputeSubstep", "groundwater_flow.ComputeTimeStep"});
    pass.push_back("special_output.SampleStep(1," + std::to_string(j) + ")");
  }
  add({"unsatzon_model.ComputeMaxPumping", "unsatzon_model.ConcentrateRunoff",
       "SurfaceRoutingModel.ConcentrateRunoff", "evapotranspiration.FinishTimeStep",
       "groundwater_flow.WriteStepOutput", "routing_model.ComputeTimeStep",
       "defaults.WriteStandardGrids", "defaults.WriteVariableGrids",
       "defaults.ResetStandardGridStatistics", "defaults.AddStandardGridStatistics",
       "defaults.EndStepStandardGridStatistics", "special_output.SampleStep(0,0)",
       "temperature.ReadNextData", "precipitation.ReadNextData"});
  return pass;
}

TEST_F(TimeLoopTest, OnePassCallsEveryModuleInItsOrder) {
  struct Case {
    int interceptionMethod;
    int superposition;
    bool regression;
    int substeps;
  };
  for (const Case c : {Case{1, 0, false, 2}, Case{11, 0, true, 2}, Case{1, 1, false, 2},
                       Case{12, 1, true, 2}, Case{1, 0, false, 0}}) {
    factory = RecordingFactory(RecordingConfig{});
    factory.config.InterceptionMethod = c.interceptionMethod;
    factory.config.FlowControl = {{"RegionalSuperposition", c.superposition}};
    factory.config.DataRows = {{"temperature", 1}, {"precipitation", 1}};
    factory.config.SubstepCount = c.substeps;
    auto application = Build();
    if (c.regression)
      application->Modules().Interpolators[0]->InterpolationMethod = 10;
    EXPECT_EQ(application->run(), 0);
    EXPECT_EQ(factory.calls.calls, ExpectedPass(c.interceptionMethod > 10, c.superposition != 0,
                                                c.regression, c.substeps))
        << "method " << c.interceptionMethod << " superposition " << c.superposition;
    EXPECT_EQ(application->EndOfRun(), 1);
  }
}

TEST_F(TimeLoopTest, PrecipitationOnlyAsGridIsCorrectedAfterTheInterpolation) {
  // A variable only as a grid: no station values to correct, so with the
  // superposition off the grid is corrected after the interpolation.
  factory.config.FlowControl = {{"RegionalSuperposition", 0}};
  factory.config.DataRows = {{"temperature", 1}, {"precipitation", 1}};
  factory.config.SubstepCount = 2;
  auto application = Build();
  application->Modules().PrecipitationCorrection->DoIt = 1;
  application->Modules().PrecipitationCorrection->GridOnly = true;
  EXPECT_EQ(application->run(), 0);
  std::vector<std::string> expected = ExpectedPass(false, false, false, 2);
  const auto step =
      std::find(expected.begin(), expected.end(), "RegionalSuperposition.ComputeTimeStep");
  ASSERT_NE(step, expected.end());
  expected.insert(step + 1, "precipitation_correction.CorrectGrids");
  EXPECT_EQ(factory.calls.calls, expected);
}

TEST_F(TimeLoopTest, RunsUntilEveryVariableHasEnded) {
  factory.config.DataRows = {{"temperature", 2}, {"precipitation", 4}};
  auto application = Build();
  EXPECT_EQ(application->run(), 0);
  EXPECT_EQ(factory.calls.Count("temperature.Interpolate"), 4);
  EXPECT_EQ(factory.calls.Count("routing_model.ComputeTimeStep"), 4);
  // The date of the last pass is the first variable's last row.
  EXPECT_EQ(application->ActualDate(), (ModelDate{0, 2, 1, 2001}));
}

TEST_F(TimeLoopTest, WithoutVariablesOnePassRunsOnTheEmptyDate) {
  factory.config.VariableNames = {};
  auto application = Build();
  EXPECT_EQ(application->run(), 0);
  EXPECT_EQ(factory.calls.Count("routing_model.ComputeTimeStep"), 1);
  EXPECT_EQ(application->ActualDate(), (ModelDate{-9999, -9999, -9999, -9999}));
}

TEST_F(TimeLoopTest, LanduseUpdatesUseTheEvapotranspirationStep) {
  for (const int flow : {1, 0}) {
    factory = RecordingFactory(RecordingConfig{});
    factory.config.EvapotranspirationStep = 60.0;
    factory.config.FlowControl = {{"evapotranspiration", flow}};
    factory.config.DataRows = {{"temperature", 1}, {"precipitation", 1}};
    auto application = Build();
    application->run();
    EXPECT_EQ(dynamic_cast<test::FakeSetup &>(*application->Modules().Setup).landuseMinutes,
              flow != 0 ? 60 : 1440);
  }
}

TEST_F(TimeLoopTest, SpinUpRepeatsThePeriod) {
  struct Case {
    int spinUpSwitch, repeats, passes;
  };
  for (const Case c : {Case{1, 3, 6}, Case{1, 0, 0}, Case{2, 3, 2}, Case{1, 1, 2}}) {
    factory = RecordingFactory(RecordingConfig{});
    factory.config.DataRows = {{"temperature", 2}, {"precipitation", 2}};
    factory.config.SpinUp.SpinUpSwitch = c.spinUpSwitch;
    factory.config.SpinUp.RepeatCount = c.repeats;
    auto application = Build();
    EXPECT_EQ(application->run(), 0);
    EXPECT_EQ(factory.calls.Count("routing_model.ComputeTimeStep"), c.passes)
        << c.spinUpSwitch << " " << c.repeats;
    EXPECT_EQ(application->EndOfRun(), 1);
    const int repetitions = c.spinUpSwitch == 1 && c.repeats > 1 ? c.repeats - 1 : 0;
    EXPECT_EQ(factory.calls.Count("temperature.Rewind"), repetitions);
    // Each rewind is followed by the first row again.
    const int rewind = factory.calls.Find("precipitation.Rewind");
    if (repetitions > 0) {
      EXPECT_EQ(factory.calls.calls[static_cast<std::size_t>(rewind - 2)], "temperature.Rewind");
      EXPECT_EQ(factory.calls.calls[static_cast<std::size_t>(rewind - 1)],
                "temperature.ReadNextData");
      EXPECT_EQ(factory.calls.calls[static_cast<std::size_t>(rewind + 1)],
                "precipitation.ReadNextData");
    }
  }
  const std::string diagnostics = Diagnostics();
  EXPECT_NE(diagnostics.find("SpinUp reached end of defined time range for run #1, resetting "
                             "inputs and starting again now (repetition 2 of 3)"),
            std::string::npos);
  EXPECT_NE(diagnostics.find("for run #2, resetting inputs and starting again now (repetition "
                             "3 of 3)"),
            std::string::npos);
  EXPECT_EQ(diagnostics.find("repetition 4 of"), std::string::npos);
}

TEST_F(TimeLoopTest, PreSpinUpWalksTheTemperatureOnce) {
  factory.config.DataRows = {{"temperature", 3}, {"precipitation", 3}};
  factory.config.SpinUp = {1, 1, 1, nullptr};
  auto application = Build();
  EXPECT_EQ(application->run(), 0);
  const auto &calls = factory.calls;
  const int finish = calls.Find("unsatzon_model.PreSpinUpFinish");
  ASSERT_NE(finish, -1);
  EXPECT_EQ(calls.Count("unsatzon_model.PreSpinUpAccumulate"), 3);
  EXPECT_LT(calls.Find("unsatzon_model.PreSpinUpAccumulate"), finish);
  EXPECT_EQ(calls.calls[static_cast<std::size_t>(finish + 1)], "temperature.Rewind");
  EXPECT_EQ(calls.calls[static_cast<std::size_t>(finish + 2)], "temperature.ReadNextData");
  EXPECT_EQ(calls.Find("precipitation.Interpolate"),
            calls.Find("temperature.Interpolate", finish) + 1);
  EXPECT_EQ(calls.Count("routing_model.ComputeTimeStep"), 3);
  EXPECT_NE(Diagnostics().find("pre-SpinUp reached end of defined time range. Soil-temperatures "
                               "are going to be set now."),
            std::string::npos);
}

TEST_F(TimeLoopTest, PreSpinUpNeedsTemperatureFirst) {
  factory.config.VariableNames = {"precipitation", "temperature"};
  factory.config.SpinUp = {1, 1, 1, nullptr};
  auto application = Build();
  int code = 0;
  try {
    application->run();
  } catch (int thrown) {
    code = thrown;
  }
  EXPECT_EQ(code, 1035);
  const std::string diagnostics = Diagnostics();
  EXPECT_NE(diagnostics.find("temperature interpolation not found. This is required for "
                             "pre-SpinUp!"),
            std::string::npos);
  EXPECT_NE(diagnostics.find("Exception in Modellapplication::run() caught!"), std::string::npos);
}

TEST_F(TimeLoopTest, SemaphoreFilesAreWrittenWholeAndAwaited) {
  auto application = Build();
  application->WriteSemaphoreFile("own.sem", "step 1\n");
  EXPECT_EQ(test::ReadWholeFile("own.sem"), "step 1\n");
  EXPECT_FALSE(test::FileExists("Tavro_Brenk_temporary_semaphore.file"));
  EXPECT_EQ(application->WaitForFile("own.sem", 1), 1);
  EXPECT_NE(Diagnostics().find("waiting for external synchronisation file own.sem...found it! "),
            std::string::npos);
  // A semaphore that cannot be written would leave the partner waiting forever.
  int code = 0;
  try {
    application->WriteSemaphoreFile("no_such_directory/own.sem", "x");
  } catch (int thrown) {
    code = thrown;
  }
  EXPECT_EQ(code, ModellApplication::kSemaphoreExitCode);
  EXPECT_NE(Diagnostics().find("error writing the semaphore file no_such_directory/own.sem"),
            std::string::npos);
  RestoreDefaultInterruptHandler();
}

// The coupling calls of a run in their order, the dates in them.
std::vector<std::string> CouplingCalls(const test::CallList &list) {
  std::vector<std::string> calls;
  for (const std::string &call : list.calls)
    if (call.rfind("defaults.ReadExternalGrids", 0) == 0 ||
        call.rfind("defaults.WriteExternalOutput", 0) == 0)
      calls.push_back(call);
  return calls;
}

TEST_F(TimeLoopTest, DailyCouplingOverHourlyData) {
  // Two days of hourly rows: input in the first step of each day, output
  // when the next row lies in another day and at the end of the run; the
  // other steps accumulate.
  factory.config.DataRows = {{"temperature", 48}, {"precipitation", 48}};
  factory.config.HoursPerRow = 1;
  factory.config.CouplingLetter = 'D';
  auto application = Build();
  test::WriteFixture("partner.sem", "go\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(application->run(), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(CouplingCalls(factory.calls),
            (std::vector<std::string>{"defaults.ReadExternalGrids(2001,1,1,0)",
                                      "defaults.WriteExternalOutput(1,1,2001,100)",
                                      "defaults.ReadExternalGrids(2001,1,2,0)",
                                      "defaults.WriteExternalOutput(2,1,2001,111)"}));
  EXPECT_EQ(factory.calls.Count("defaults.AccumulateExternalOutput"), 46);
  EXPECT_EQ(test::ReadWholeFile("tavro.sem"), "step done");
  // The input waits after the Ctrl-C agreement, before the interpolation.
  const int read = factory.calls.Find("defaults.ReadExternalGrids(2001,1,1,0)");
  EXPECT_LT(read, factory.calls.Find("temperature.Interpolate"));
  EXPECT_NE(
      Diagnostics().find("waiting for external synchronisation file partner.sem...found it! "),
      std::string::npos);
}

TEST_F(TimeLoopTest, CouplingLettersEveryStepAndNever) {
  struct Case {
    char letter;
    int reads;
    int writes;
  };
  for (const Case c : {Case{'I', 3, 3}, Case{'X', 0, 1}, Case{'M', 1, 1}}) {
    factory = RecordingFactory(RecordingConfig{});
    factory.config.CouplingLetter = c.letter;
    auto application = Build();
    test::WriteFixture("partner.sem", "go\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(application->run(), 0);
    testing::internal::GetCapturedStdout();
    int reads = 0, writes = 0;
    for (const std::string &call : CouplingCalls(factory.calls))
      (call.find("Read") != std::string::npos ? reads : writes) += 1;
    EXPECT_EQ(reads, c.reads) << c.letter;
    EXPECT_EQ(writes, c.writes) << c.letter;
    EXPECT_EQ(factory.calls.Count("defaults.AccumulateExternalOutput"), 3 - c.writes) << c.letter;
  }
}

TEST_F(TimeLoopTest, AFloatingPointErrorReachesTheEightModulesOnce) {
  factory.config.DataRows = {{"temperature", 1}, {"precipitation", 1}};
  auto application = Build();
  SetCurrentApplication(application.get());
  InstallSignalHandlers();
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  std::raise(SIGFPE);
  std::raise(SIGFPE); // before the modules reported the first: no second line
  const std::string printed = testing::internal::GetCapturedStdout();
  application->run();
  SetCurrentApplication(nullptr);
  RestoreDefaultInterruptHandler();
  ClearFloatingPointError();
  EXPECT_EQ(printed, "floating point error\n");
  const ApplicationModules &m = application->Modules();
  for (const teilmodellklasse *module : std::vector<const teilmodellklasse *>{
           m.RadiationCorrection.get(), m.Evapotranspiration.get(), m.Snow.get(),
           m.Interception.get(), m.SoilWater.get(), m.Irrigation.get(), m.Routing.get(),
           m.Groundwater.get()})
    EXPECT_EQ(module->FpeFlag.load(), 1) << module->ModuleName;
  EXPECT_EQ(m.SiltingUp->FpeFlag.load(), 0);
  EXPECT_EQ(m.Superposition->FpeFlag.load(), 0);
}

} // namespace
} // namespace tavro
