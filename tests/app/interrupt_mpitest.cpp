// Ctrl-C over all processes: the SIGINT handler, the answer of the console
// dialogue, the agreement (maximum over the ranks, rank 0's answer for all),
// and the application's reaction to the choices 0, 1, 2, 3 and others.
#include "interrupt_agreement.h"
#include "interrupt_state.h"
#include "modell_application.h"

#include "kernel/diagnostics_log.h"
#include "recording_modules.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>

namespace tavro {
namespace {

using test::RecordingConfig;
using test::RecordingFactory;

// A stream holding text, as standard input would.
struct Input {
  explicit Input(const std::string &text) : file(std::tmpfile()) {
    std::fputs(text.c_str(), file);
    std::rewind(file);
  }
  ~Input() { std::fclose(file); }
  std::FILE *file;
};

int LastRank() { return test::ProcessCount() - 1; }

TEST(InterruptAnswer, FirstCharacterOfOneWordAsADigit) {
  const std::pair<const char *, int> cases[] = {{"0\n", 0},  {"1\n", 1}, {"3\n", 3}, {"x\n", 0},
                                                {"12\n", 1}, {"7\n", 7}, {"", 0},    {"  2", 2},
                                                {"abc1", 0}, {"-1", 0}};
  for (const auto &[text, answer] : cases) {
    Input input(text);
    EXPECT_EQ(ReadInterruptAnswer(input.file), answer) << '"' << text << '"';
  }
  // One word per dialogue: the next answer is the next word.
  Input two("3 1\n");
  EXPECT_EQ(ReadInterruptAnswer(two.file), 3);
  EXPECT_EQ(ReadInterruptAnswer(two.file), 1);
}

TEST(InterruptAgreement, RankZeroAnswersForEveryProcess) {
  DiagnosticsLog log("Tavro_Diag.xml", 4);
  struct Case {
    int stateOnLastRank;
    const char *answer;
    int choice;
    bool asked;
  };
  testing::internal::CaptureStdout();
  for (const Case c : {Case{0, "2", 0, false}, Case{1, "2", 2, true}, Case{1, "x", 0, true},
                       Case{1, "", 0, true}, Case{99, "2", 99, false}, Case{3, "1", 0, false}}) {
    Input input(c.answer);
    const int local = test::Rank() == LastRank() ? c.stateOnLastRank : 0;
    const InterruptAgreement agreed = AgreeOnInterrupt(local, log, input.file);
    EXPECT_EQ(agreed.Choice, c.choice) << c.stateOnLastRank << " " << c.answer;
    EXPECT_EQ(agreed.DialogueHeld, c.asked) << c.stateOnLastRank << " " << c.answer;
  }
  const std::string console = testing::internal::GetCapturedStdout();
  // The dialogue is a console entry (not in the diagnostics file), on rank 0.
  if (test::Rank() == 0) {
    EXPECT_NE(
        console.find("Ctrl-C: cancel the model? \n0 = no (continue)\n1 = cancel with next "
                     "interval (writing all grids and buffers)\n2 = cancel now without "
                     "saving buffers!\n3 = flush buffers and go on\n\nchoose one of the above "
                     "options: "),
        std::string::npos);
  } else {
    EXPECT_EQ(console.find("Ctrl-C"), std::string::npos);
  }
}

TEST(InterruptHandler, RecordsOneCtrlCWhileAnApplicationRuns) {
  InstallSignalHandlers();
  SetInterruptState(0);
  SetCurrentApplication(nullptr);
  std::raise(SIGINT); // no application: nothing recorded
  EXPECT_EQ(InterruptState(), 0);

  int placeholder = 0; // any non-null application marks a run in progress
  SetCurrentApplication(reinterpret_cast<ModellApplication *>(&placeholder));
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  InstallInterruptHandler();
  std::raise(SIGINT);
  std::raise(SIGINT); // ignored until the handler is installed again
  InstallInterruptHandler();
  std::raise(SIGINT); // state already pending: nothing more
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(InterruptState(), 1);
  EXPECT_EQ(printed, "\nCntr-C pressed! please wait...\n\n");

  // A floating-point error signalled once is pending once.
  std::raise(SIGFPE);
  std::raise(SIGFPE);
  EXPECT_TRUE(FloatingPointErrorPending());
  ClearFloatingPointError();
  SetCurrentApplication(nullptr);
  SetInterruptState(0);
  RestoreDefaultInterruptHandler();
}

struct CancelledNow {
  int status;
};

class CtrlCInRunTest : public testing::Test {
protected:
  // Three daily rows; Ctrl-C pending on the last rank before the first pass.
  std::unique_ptr<ModellApplication> Build(std::FILE *input) {
    test::WriteRecordingFixture(factory.config);
    ApplicationServices services;
    services.Factory = &factory;
    services.ConsoleInput = input;
    services.CancelNow = [](int status) { throw CancelledNow{status}; };
    char program[] = "tavro", control[] = "run.ctl";
    char *argv[] = {program, control, nullptr};
    auto application = std::make_unique<ModellApplication>(log, 2, argv, 1, services);
    factory.calls.calls.clear();
    SetInterruptState(test::Rank() == LastRank() ? 1 : 0);
    return application;
  }
  ~CtrlCInRunTest() override { SetInterruptState(0); }

  DiagnosticsLog log{"Tavro_Diag.xml", 4};
  RecordingFactory factory{RecordingConfig{}};
};

TEST_F(CtrlCInRunTest, ChoiceOneEndsAfterThePassWithAllDatesMoved) {
  Input input("1\n");
  auto application = Build(input.file);
  EXPECT_EQ(application->run(), 99);
  EXPECT_EQ(factory.calls.Count("routing_model.ComputeTimeStep"), 1);
  std::vector<std::string> moved;
  for (const auto &call : factory.calls.calls)
    if (call.ends_with(".SetActualDate") || call.ends_with(".SetActualDateFromData"))
      moved.push_back(call);
  EXPECT_EQ(moved, (std::vector<std::string>{"temperature.SetActualDateFromData",
                                             "precipitation.SetActualDateFromData",
                                             "defaults.SetActualDate"}));
  // The sub-models' end dates moved to the current data row.
  EXPECT_EQ(application->Modules().Snow->EndDay, 1);
  EXPECT_EQ(application->Modules().Routing->EndYear, 2001);
  EXPECT_EQ(application->Modules().SpecialOutput->EndMonth, 1);
}

TEST_F(CtrlCInRunTest, ChoiceThreeFlushesAndGoesOn) {
  Input input("3\n");
  auto application = Build(input.file);
  EXPECT_EQ(application->run(), 0);
  EXPECT_EQ(factory.calls.Count("routing_model.ComputeTimeStep"), 3);
  std::vector<std::string> flushes;
  for (const auto &call : factory.calls.calls)
    if (call.ends_with(".FlushStatistics") || call.ends_with(".FlushFiles"))
      flushes.push_back(call);
  EXPECT_EQ(flushes,
            (std::vector<std::string>{
                "temperature.FlushStatistics", "precipitation.FlushStatistics",
                "RegionalSuperposition.FlushStatistics", "evapotranspiration.FlushStatistics",
                "snow_model.FlushStatistics", "interception_model.FlushStatistics",
                "SiltingUpModel.FlushStatistics", "irrigation.FlushStatistics",
                "unsatzon_model.FlushStatistics", "SurfaceRoutingModel.FlushStatistics",
                "groundwater_flow.FlushStatistics", "routing_model.FlushStatistics",
                "defaults.FlushStatistics", "special_output.FlushFiles"}));
  EXPECT_EQ(flushes.size(),
            static_cast<std::size_t>(factory.calls.Find("temperature.Interpolate")));
}

TEST_F(CtrlCInRunTest, OtherAnswersContinue) {
  for (const char *answer : {"0\n", "x\n", "7\n", ""}) {
    factory = RecordingFactory(RecordingConfig{});
    Input input(answer);
    auto application = Build(input.file);
    EXPECT_EQ(application->run(), 0) << answer;
    EXPECT_EQ(factory.calls.Count("routing_model.ComputeTimeStep"), 3) << answer;
    EXPECT_EQ(InterruptState(), 0);
  }
}

TEST_F(CtrlCInRunTest, ChoiceTwoCancelsAtOnceWithStatus98) {
  Input input("2\n");
  auto application = Build(input.file);
  int status = 0;
  try {
    application->run();
  } catch (const CancelledNow &cancelled) {
    status = cancelled.status;
  }
  EXPECT_EQ(status, 98);
  EXPECT_EQ(factory.calls.Count("temperature.Interpolate"), 0);
  EXPECT_EQ(factory.calls.Count("routing_model.FlushStatistics"), 0);
  if (test::Rank() == 0) {
    EXPECT_NE(test::ReadWholeFile("Tavro_Diag_0.xml")
                  .find("program manually killed by pressing Ctrl-C and selecting 2!"),
              std::string::npos);
  }
}

TEST_F(CtrlCInRunTest, CtrlCInTheLastPassIsOnlyInTheResult) {
  factory.config.DataRows = {{"temperature", 1}, {"precipitation", 1}};
  Input input("");
  auto application = Build(input.file);
  SetInterruptState(0);
  SetCurrentApplication(application.get());
  InstallSignalHandlers();
  // Pressed after the pass's agreement, on the last rank only.
  factory.config.OnInterpolate = [] {
    if (test::Rank() == LastRank())
      std::raise(SIGINT);
  };
  std::fflush(stdout);
  const int result = application->run();
  SetCurrentApplication(nullptr);
  RestoreDefaultInterruptHandler();
  EXPECT_EQ(result, test::Rank() == LastRank() ? 1 : 0);
  EXPECT_EQ(factory.calls.Count("routing_model.ComputeTimeStep"), 1);
}

} // namespace
} // namespace tavro
