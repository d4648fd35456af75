// The state file: reals written and read back bit for bit, reals of fewer
// digits still read, sections found at their exact header line, checked
// numbers (a mismatch or an unreadable number goes to the owner), the
// tolerance of stored parameters, the directories in front of the names and
// the write error of a file that cannot be written.
#include "kernel/state_file.h"

#include "kernel/diagnostics_log.h"
#include "kernel/modelobject.h"
#include "support/diagnostics_entries.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace tavro {
namespace {

using test::ExitCodeOf;
using test::Logged;

// What the reader reported to its owner.
struct Reported {
  std::string description;
  double current = 0.0;
  std::optional<double> stored;
  int count = 0;
};

class StateFileTest : public testing::Test {
protected:
  StateMismatch Recorder() {
    return [this](std::string_view description, double current, std::optional<double> stored) {
      reported_ = {std::string(description), current, stored, reported_.count + 1};
      throw kStateMismatchExitCode;
    };
  }
  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  modelobject owner_{log_, "snow_model", "control.txt_0.$$$"};
  Reported reported_;
};

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST_F(StateFileTest, RealsReadBackBitForBit) {
  std::mt19937_64 random(7);
  std::vector<double> values{0.0,
                             -0.0,
                             1.0 / 3.0,
                             -2.5e-310, // subnormal
                             std::numeric_limits<double>::max(),
                             std::numeric_limits<double>::min(),
                             123456789.123456789};
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-300, 300);
  for (int i = 0; i < 2000; ++i)
    values.push_back(std::ldexp(mantissa(random), exponent(random)));
  {
    StateFileWriter file(owner_, "state.txt", false);
    file.Header("[snow_model]");
    for (std::size_t i = 0; i < values.size(); ++i) {
      file.Integer(static_cast<long long>(i + 1));
      file.Text("\t");
      file.Real(values[i]);
      file.Text("(label)\n");
    }
    file.Close();
  }
  StateFileReader file(owner_, "state.txt", Recorder());
  ASSERT_TRUE(file.IsOpen());
  ASSERT_TRUE(file.FindSection("[snow_model]"));
  for (std::size_t i = 0; i < values.size(); ++i) {
    file.ExpectInteger(static_cast<int>(i + 1), "index");
    const double read = file.ReadReal("value", 0.0);
    file.SkipLine();
    ASSERT_TRUE(SameBits(read, values[i])) << values[i] << " read as " << read;
  }
  EXPECT_EQ(reported_.count, 0);
}

TEST_F(StateFileTest, RealsOfSixDecimalsStillRead) {
  test::WriteFixture("old.txt", "[snow_model]\n2 (number of subasins)\n1\t0.000000(TG code)\n"
                                "2\t-12.345600(TG code)\n\n");
  StateFileReader file(owner_, "old.txt", Recorder());
  ASSERT_TRUE(file.FindSection("[snow_model]"));
  file.ExpectInteger(2, "number of subbasins");
  file.SkipLine();
  file.ExpectInteger(1, "subbasin code");
  EXPECT_EQ(file.ReadReal("value", 0.0), 0.0);
  file.SkipLine();
  file.ExpectInteger(2, "subbasin code");
  EXPECT_EQ(file.ReadReal("value", 0.0), -12.3456);
}

TEST_F(StateFileTest, SectionStartsAtItsExactHeaderLine) {
  test::WriteFixture("sections.txt", "[routing_model]\n"
                                     "1 (snow_model is named in a label)\n"
                                     "x[snow_model]\n"
                                     "[snow_model_old]\n"
                                     "[snow_model]  \r\n"
                                     "42 (the value)\n");
  StateFileReader file(owner_, "sections.txt", Recorder());
  ASSERT_TRUE(file.FindSection("[snow_model]"));
  file.ExpectInteger(42, "value");
  EXPECT_FALSE(file.FindSection("[unsatzon_model]"));
}

TEST_F(StateFileTest, NumbersThatDoNotFitGoToTheOwner) {
  struct Case {
    const char *content;
    int expected;
    std::optional<double> stored;
  };
  const Case cases[] = {
      {"[s]\n3 (count)\n", 4, 3.0},
      {"[s]\nthree (count)\n", 4, std::nullopt},
      {"[s]\n", 4, std::nullopt}, // the file ends
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.content);
    test::WriteFixture("numbers.txt", c.content);
    StateFileReader file(owner_, "numbers.txt", Recorder());
    ASSERT_TRUE(file.FindSection("[s]"));
    EXPECT_EQ(ExitCodeOf([&] { file.ExpectInteger(c.expected, "number of subbasins"); }),
              kStateMismatchExitCode);
    EXPECT_EQ(reported_.description, "number of subbasins");
    EXPECT_EQ(reported_.current, c.expected);
    EXPECT_EQ(reported_.stored, c.stored);
  }
  test::WriteFixture("numbers.txt", "[s]\n1\t");
  StateFileReader truncated(owner_, "numbers.txt", Recorder());
  ASSERT_TRUE(truncated.FindSection("[s]"));
  truncated.ExpectInteger(1, "subbasin code");
  EXPECT_EQ(ExitCodeOf([&] { truncated.ReadReal("Qice_slr", 0.25); }), kStateMismatchExitCode);
  EXPECT_EQ(reported_.current, 0.25);
  EXPECT_FALSE(reported_.stored);
}

TEST_F(StateFileTest, StoredParametersAgreeWithinTheRelativeTolerance) {
  struct Case {
    double stored, current;
    bool matches;
  };
  const Case cases[] = {{0.0, 0.0, true},       {100.0, 100.0005, true}, {100.0, 100.002, false},
                        {0.0, 0.000001, false}, {90.0, 90.0005, true},   {90.0, 90.01, false},
                        {-50.0, -50.0002, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.stored << " stored, " << c.current << " now");
    EXPECT_EQ(StoredValueMatches(c.stored, c.current), c.matches);
    test::WriteFixture("check.txt", "[s]\n" + RoundTripReal(c.stored) + " (m)\n");
    StateFileReader file(owner_, "check.txt", Recorder());
    ASSERT_TRUE(file.FindSection("[s]"));
    const int code = ExitCodeOf([&] { file.CheckReal(c.current, "m"); });
    EXPECT_EQ(code, c.matches ? -1 : kStateMismatchExitCode);
  }
}

TEST_F(StateFileTest, MismatchEntryNamesBothValues) {
  EXPECT_EQ(ExitCodeOf([&] {
              ThrowStateMismatch(log_, "(snow model) ", "number of subbasins", 4.0, 3.0);
            }),
            71);
  EXPECT_TRUE(Logged("FATAL: (snow model) error in storage file content reading number of "
                     "subbasins:;value in actual control is:   4;but value in storage file is: "
                     "3;Tavro throws..."));
  EXPECT_EQ(ExitCodeOf([&] { ThrowStateMismatch(log_, "", "subbasin code", 2.0, std::nullopt); }),
            71);
  EXPECT_TRUE(Logged("but value in storage file is: (no number could be read there)"));
}

TEST_F(StateFileTest, DirectoriesStandBeforeTheNames) {
  ASSERT_EQ(std::system("mkdir -p out in"), 0);
  owner_.DefaultOutputDirectory = "out/";
  owner_.InitialStateDirectory = "in/";
  WriteStateSectionHeader(owner_, "state.txt", "[routing_model]", false);
  WriteStateSectionHeader(owner_, "state.txt", "[unsatzon_model]", true);
  EXPECT_EQ(test::ReadWholeFile("out/state.txt"), "[routing_model]\n[unsatzon_model]\n");
  WriteStateSectionHeader(owner_, "state.txt", "[snow_model]", false); // created anew
  EXPECT_EQ(test::ReadWholeFile("out/state.txt"), "[snow_model]\n");

  StateFileReader missing(owner_, "state.txt", Recorder());
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_EQ(missing.Path(), "in/state.txt");
  test::WriteFixture("in/state.txt", "[snow_model]\n");
  StateFileReader present(owner_, "state.txt", Recorder());
  EXPECT_TRUE(present.IsOpen());
  StateFileReader absolute(owner_, test::WorkDirectory() + "/out/state.txt", Recorder());
  EXPECT_TRUE(absolute.IsOpen());
}

TEST_F(StateFileTest, AFileThatCannotBeWrittenIsAWriteError) {
  EXPECT_EQ(ExitCodeOf([&] { StateFileWriter file(owner_, "no/such/dir/state.txt", true); }), 18);
  EXPECT_TRUE(Logged("FATAL: write error no/such/dir/state.txt ! (1)"));
  EXPECT_EQ(ExitCodeOf([&] {
              StateFileWriter file(owner_, "/dev/full", true);
              file.Header("[snow_model]");
              file.Close();
            }),
            18);
  EXPECT_TRUE(Logged("FATAL: write error /dev/full ! (2)"));
}

} // namespace
} // namespace tavro
