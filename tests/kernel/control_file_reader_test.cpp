// Section search and positional reads of the control-file reader: exact key
// matching, fscanf-like values with the rest of the line as a label, the
// documented error entries and the refusal of overlong input.
#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

namespace tavro {
namespace {

using test::RunCapturingConsole;

class ControlFileReaderTest : public testing::Test {
protected:
  ControlFileReader &OpenFixture(const std::string &content) {
    test::WriteFixture("control.txt", content);
    EXPECT_TRUE(reader_.Open("control.txt"));
    return reader_;
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  ControlFileReader reader_{log_, "snow_model"};
};

const std::string kDecoys = "# decoys first\n"
                            "[snow_model]x 5 wrong\n"
                            "[Snow_model]\n"
                            "6 see [snow_model] below\n"
                            "snow_model\n"
                            "7 flow control parameter\n";

TEST_F(ControlFileReaderTest, KeyMatchesOnlyAsExactFirstWordOfALine) {
  auto &reader = OpenFixture(kDecoys);
  EXPECT_FALSE(reader.FindControlKey("[snow_model]", false));

  const auto [code, console] =
      RunCapturingConsole([&] { reader.FindControlKey("[snow_model]", true); });
  EXPECT_EQ(code, 17);
  EXPECT_NE(console.find("error in control file, [snow_model]; (EOF)not found!"), std::string::npos)
      << console;
}

TEST_F(ControlFileReaderTest, ReadsValuesAfterTheKeyWithTheRestOfTheLine) {
  auto &reader = OpenFixture(kDecoys + "  [snow_model] the section\n"
                                       "1 flow control parameter\n"
                                       "\n\n"
                                       "   60 time interval\n"
                                       "2.5e-1\tfactor\n"
                                       "-123456789012 big\n"
                                       "grid.asc label of the word\n"
                                       "out.asc 2131 file and writecode\n"
                                       "last");
  ASSERT_TRUE(reader.FindControlKey("[snow_model]", true));
  EXPECT_EQ(reader.ReadInt("flow control parameter"), 1);
  EXPECT_EQ(reader.LastRest(), " flow control parameter\n");
  EXPECT_EQ(reader.ReadInt("time interval"), 60); // blank lines in between do not matter
  EXPECT_DOUBLE_EQ(reader.ReadDouble("factor"), 0.25);
  EXPECT_EQ(reader.LastRest(), "\tfactor\n");
  EXPECT_EQ(reader.ReadLong("big"), -123456789012L);
  EXPECT_EQ(reader.ReadWord("word"), "grid.asc");
  EXPECT_EQ(reader.LastRest(), " label of the word\n");
  EXPECT_EQ(reader.ReadWordAndInt("out"), (std::pair<std::string, int>{"out.asc", 2131}));
  EXPECT_EQ(reader.LastRest(), " file and writecode\n");
  EXPECT_EQ(reader.ReadWord("last"), "last");
  EXPECT_EQ(reader.LastRest(), ""); // end of file without line break
  EXPECT_EQ(reader.NextWord(), "");

  // Searching again rewinds.
  ASSERT_TRUE(reader.FindControlKey("[snow_model]", false));
  EXPECT_EQ(reader.ReadInt("again"), 1);
}

// Integers are taken exactly as fscanf "%d" takes them, number and rest alike.
TEST_F(ControlFileReaderTest, IntegerReadsAgreeWithFscanf) {
  const char *cases[] = {
      "1 flow control parameter\n", "1.5 half\n",        "+7\n", "-0012x\n", "  \n\t 42\n",
      "2147483647 max\n",           "-2147483648 min\n", "3"};
  for (const char *text : cases) {
    SCOPED_TRACE(text);
    test::WriteFixture("reference.txt", text);
    std::FILE *reference = std::fopen("reference.txt", "r");
    ASSERT_NE(reference, nullptr);
    int expected = 0;
    ASSERT_EQ(std::fscanf(reference, "%d", &expected), 1);
    std::string expectedRest;
    for (int c = std::getc(reference); c != EOF; c = std::getc(reference)) {
      expectedRest += static_cast<char>(c);
      if (c == '\n')
        break;
    }
    std::fclose(reference);

    ASSERT_TRUE(reader_.Open("reference.txt"));
    EXPECT_EQ(reader_.ReadInt("value"), expected);
    EXPECT_EQ(reader_.LastRest(), expectedRest);
  }
}

TEST_F(ControlFileReaderTest, UnreadableValueLogsPromptWordAndLabel) {
  auto &reader = OpenFixture("[snow_model]\n1 flow control parameter\n\nabc time interval\n");
  ASSERT_TRUE(reader.FindControlKey("[snow_model]", true));
  reader.ReadInt("flow control parameter");
  const auto [code, console] = RunCapturingConsole([&] { reader.ReadInt("time interval for "); });
  EXPECT_EQ(code, 17);
  const std::string expected = "--> In .\n  Next line in Tavro control file: \n(mpi-rank  0) "
                               "abc\n(mpi-rank  0) "
                               "error in control file, time interval for ; snow_modelnot found!";
  EXPECT_NE(console.find(expected), std::string::npos) << console;
}

TEST_F(ControlFileReaderTest, ValuesThatCannotBeReadAreFatal) {
  struct Case {
    const char *name;
    std::string content;
    std::function<void(ControlFileReader &)> read;
    bool prompt; // the "--> In ." entry precedes the error
  };
  const Case cases[] = {
      {"word for int", "x1\n", [](auto &r) { r.ReadInt("v"); }, true},
      {"sign only", "- 5\n", [](auto &r) { r.ReadInt("v"); }, true},
      {"end of file", "\n\n", [](auto &r) { r.ReadDouble("v"); }, true},
      {"int overflow", "2147483648\n", [](auto &r) { r.ReadInt("v"); }, true},
      {"long overflow", "99999999999999999999\n", [](auto &r) { r.ReadLong("v"); }, true},
      {"double overflow", "1e999\n", [](auto &r) { r.ReadDouble("v"); }, true},
      {"nan", "nan\n", [](auto &r) { r.ReadDouble("v"); }, true},
      {"word at end", "   \n", [](auto &r) { r.ReadWord("v"); }, true},
      {"pair without int", "file.asc abc\n", [](auto &r) { r.ReadWordAndInt("v"); }, false},
      {"pair at end", "\n", [](auto &r) { r.ReadWordAndInt("v"); }, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    OpenFixture(c.content);
    const auto [code, console] = RunCapturingConsole([&] { c.read(reader_); });
    EXPECT_EQ(code, 17);
    EXPECT_NE(console.find("error in control file, v; snow_modelnot found!"), std::string::npos)
        << console;
    EXPECT_EQ(console.find("--> In .") != std::string::npos, c.prompt) << console;
  }
}

TEST_F(ControlFileReaderTest, OverlongWordsKeysAndLinesAreRefused) {
  const std::string limit(ControlFileReader::MaxLineLength, 'w');
  const std::string over = limit + "w";
  const std::string longRest(ControlFileReader::MaxLineLength + 1, '-');

  // At the limit everything is accepted.
  auto &reader = OpenFixture("[k]" + std::string(ControlFileReader::MaxLineLength - 3, ' ') + "\n" +
                             limit + " " + std::string(ControlFileReader::MaxLineLength - 2, '-') +
                             "\n" + limit + " 12\n");
  ASSERT_TRUE(reader.FindControlKey("[k]", true));
  EXPECT_EQ(reader.ReadWord("at limit"), limit);
  EXPECT_EQ(reader.LastRest().size(), ControlFileReader::MaxLineLength);
  EXPECT_EQ(reader.ReadWordAndInt("pair"), (std::pair<std::string, int>{limit, 12}));

  struct Case {
    const char *name;
    std::string content;
    std::function<void(ControlFileReader &)> read;
  };
  const Case cases[] = {
      {"word", over + "\n", [](auto &r) { r.ReadWord("v"); }},
      // A split word must not become a word and a number.
      {"word of a pair", over + "5\n", [](auto &r) { r.ReadWordAndInt("v"); }},
      {"word while searching", over + "\n[k]\n", [](auto &r) { r.FindControlKey("[k]", false); }},
      {"key", "[k]\n", [&](auto &r) { r.FindControlKey(over, false); }},
      // A split line could put a later part of it at the start of a "line".
      {"line while searching", std::string("x ") + longRest + "[k]\n[k]\n",
       [](auto &r) { r.FindControlKey("[k]", false); }},
      {"rest after a value", std::string("1") + longRest + "\n", [](auto &r) { r.ReadInt("v"); }},
      {"next word", over, [](auto &r) { r.NextWord(); }},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    OpenFixture(c.content);
    const auto [code, console] = RunCapturingConsole([&] { c.read(reader_); });
    EXPECT_EQ(code, 17);
    EXPECT_NE(console.find("longer than 1200 characters"), std::string::npos) << console;
  }
}

TEST_F(ControlFileReaderTest, HeaderOnALastLineWithoutLineBreakIsNotFound) {
  auto &reader = OpenFixture("x\n[snow_model]");
  EXPECT_FALSE(reader.FindControlKey("[snow_model]", false));
  OpenFixture("x\n[snow_model]\n");
  EXPECT_TRUE(reader.FindControlKey("[snow_model]", false));
}

TEST_F(ControlFileReaderTest, FileErrorsCarryNameCodeAndExitCode) {
  auto [writeCode, written] = RunCapturingConsole([&] { reader_.WriteError("out.asc", 3); });
  EXPECT_EQ(writeCode, 18);
  EXPECT_NE(written.find("write error out.asc ! (3)"), std::string::npos) << written;
  auto [readCode, read] = RunCapturingConsole([&] { reader_.ReadError("in.asc", 4); });
  EXPECT_EQ(readCode, 19);
  EXPECT_NE(read.find("read error in.asc ! (4)"), std::string::npos) << read;
  EXPECT_FALSE(reader_.Open("missing.txt"));
  EXPECT_FALSE(reader_.FindControlKey("[snow_model]", false));
}

} // namespace
} // namespace tavro
