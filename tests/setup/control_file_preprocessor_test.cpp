// Preprocessing of a control file: the substituted copy, the rewriting of one
// line, and the fatal entries with their exit codes.
#include "setup/control_file_preprocessor.h"

#include "kernel/diagnostics_log.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace tavro {
namespace {

using test::CallOutcome;
using test::ReadWholeFile;
using test::RunCapturingConsole;
using test::WriteFixture;

const std::string kRule = "-----------------------------------------------------------";

class PreprocessorTest : public testing::Test {
protected:
  DiagnosticsLog log_{"Tavro_Diag.xml", 4};

  CallOutcome Compile(const std::string &content) {
    WriteFixture("ctl.txt", content);
    return RunCapturingConsole([&] { copyName_ = CompileSymbols(log_, "ctl.txt", 0); });
  }

  std::string copyName_;
};

TEST_F(PreprocessorTest, GoldenCopyWithNestedRepeatedSymbolsCommentsAndJoins) {
  const std::string control = "# a note that leaves no line\n"
                              "[paths]\n"
                              "$root//file_a.txt   used above its definition\n"
                              "$set $root = /data/catchment/\n"
                              "$set $grids = $root//grids/     # nested definition\n"
                              "$set $n = 5\n"
                              "$set $m = 5\n"
                              "$set $again = $root\n"
                              "$set $n = 9   the first definition wins\n"
                              "$grids//dem.asc\n"
                              "$n;$m;$again\n"
                              "value#note\n"
                              "value # note\n"
                              "plain//path///x\n"
                              "  $set $indented = 7 # kept\n"
                              "$indented $n\n"
                              "\n"
                              "last line without break $m";
  const CallOutcome outcome = Compile(control);
  ASSERT_EQ(outcome.code, -1) << outcome.console;
  EXPECT_EQ(copyName_, "ctl.txt_0.$$$");
  EXPECT_EQ(ReadWholeFile(copyName_), "[paths]\n"
                                      "/data/catchment/file_a.txt   used above its definition\n"
                                      "/data/catchment/grids/dem.asc\n"
                                      "5;5;/data/catchment/\n"
                                      "value\n"
                                      "value\n"
                                      "plainpath/x\n"
                                      "  $set $indented = 7\n"
                                      "7 5\n"
                                      "\n"
                                      "last line without break 5");
  EXPECT_NE(outcome.console.find("compiling symbols in control file ctl.txt"), std::string::npos);
  // Numeric values are equal on purpose and give no warning; a repeated path does.
  const std::string warning = "\n------------------------ WARNING --------------------------"
                              "\npossible error in control file!\ncontent of symbol $root is the "
                              "same as symbol $again, \n (which is: /data/catchment/).\nthis may "
                              "lead to collusions!\n" +
                              kRule + "\n";
  EXPECT_NE(outcome.console.find(warning), std::string::npos) << outcome.console;
  EXPECT_EQ(outcome.console.find("content of symbol $n"), std::string::npos);
  EXPECT_EQ(outcome.console.find("content of symbol $m"), std::string::npos);
}

TEST_F(PreprocessorTest, FileWithoutSymbolsLosesOnlyCommentsAndJoins) {
  const CallOutcome outcome = Compile("[a]\n1 label // x\n#gone\nb/c\n");
  ASSERT_EQ(outcome.code, -1) << outcome.console;
  EXPECT_EQ(ReadWholeFile(copyName_), "[a]\n1 label  x\nb/c\n");
}

TEST_F(PreprocessorTest, ReplaceSymbolsRewritesOneLine) {
  const SymbolTable symbols{{"$d", "/dir/"}, {"$x", "12"}, {"$d", "/second/"}};
  struct Case {
    std::string line;
    std::string expected;
  };
  const Case cases[] = {
      {" abc#def\n", " abc\n"},                     // the value keeps its last character
      {" abc #def\n", " abc\n"},                    // the blank before the note goes
      {" abc\t#def\n", " abc\n"},                   // so does a tab
      {" #whole line\n", "\n"},                     // nothing is left of a comment line
      {" $d//f.txt\n", " /dir/f.txt\n"},            // join, first definition wins
      {" $d;\n", " /dir/;\n"},                      // ";" ends a name
      {" $x $d\n", " 12 /dir/\n"},                  // several names
      {" a//b///c\n", " ab/c\n"},                   // every "//" goes, also without symbols
      {" $set $y = $d//z\n", " $set $y = $d//z\n"}, // definitions stay as written
      {" $set $y = $d # c\n", " $set $y = $d\n"},   // ... except their comment
      {" $x#$undefined\n", " 12\n"},                // the comment goes before substitution
  };
  for (const Case &c : cases)
    EXPECT_EQ(ReplaceSymbols(log_, c.line, 1, symbols), c.expected) << c.line;
}

TEST_F(PreprocessorTest, UndefinedSymbolNamesItsLine) {
  struct Case {
    std::string control;
    std::string entry;
  };
  const Case cases[] = {
      // A single "/" belongs to the name.
      {"[a]\n$set $d = /x/\n$d/file\n", "undefined symbol at line 3:\n $d/file\n"},
      {"$set $d = $e\n", "undefined symbol at line 1:\n$e"},
      {"[a]\nno symbols defined $z\n", "undefined symbol at line 2:\n no symbols defined $z\n"},
  };
  for (const Case &c : cases) {
    const CallOutcome outcome = Compile(c.control);
    EXPECT_EQ(outcome.code, 17) << c.control;
    const std::string entry =
        "\n" + kRule + "\npossible error in control file!\n" + c.entry + "\n\n" + kRule + "\n";
    EXPECT_NE(outcome.console.find(entry), std::string::npos) << outcome.console;
  }
}

TEST_F(PreprocessorTest, RefusesMalformedInputWithExitCode17) {
  const std::string longValue(300, 'v');
  std::string longName(300, 'n');
  longName.front() = '$';
  std::string manySymbols;
  for (int i = 1; i <= 2000; ++i)
    manySymbols += "$set $s" + std::to_string(i) + " = v" + std::to_string(i) + "\n";
  struct Case {
    std::string control;
    std::string message;
  };
  const Case cases[] = {
      {"$set $a = $a//x\n", "symbol $a is used in its own value at line 1"},
      {"$set $a =\n", "malformed symbol definition at line 1"},
      {"$set a = 1\n", "malformed symbol definition at line 1"},
      {"$set $a = " + longValue + "\n", "value of symbol $a at line 1 is longer than 299"},
      {"$set " + longName + " = 1\n", "symbol name at line 1 is longer than 299"},
      {manySymbols, "more than 1999 symbols defined (line 2000)"},
      {"[a]\n" + std::string(1198, 'x') + "y\n", "line 2 is longer than 1199 characters"},
      {"$set $a = " + std::string(299, 'a') + "\n" + std::string(5, ' ') + "$a $a $a $a $a\n",
       "line 2 grows beyond 1200 characters by symbol substitution"},
  };
  for (const Case &c : cases) {
    std::filesystem::remove("ctl.txt_0.$$$");
    const CallOutcome outcome = Compile(c.control);
    EXPECT_EQ(outcome.code, 17) << c.message;
    EXPECT_NE(outcome.console.find(c.message), std::string::npos) << outcome.console;
  }
}

TEST_F(PreprocessorTest, LongestAcceptedLineIsCopiedWhole) {
  const std::string longest(1198, 'x'); // with its line break 1199 characters
  const CallOutcome outcome = Compile("[a]\n" + longest + "\nnext\n");
  ASSERT_EQ(outcome.code, -1) << outcome.console;
  EXPECT_EQ(ReadWholeFile(copyName_), "[a]\n" + longest + "\nnext\n");
}

TEST_F(PreprocessorTest, FileErrorsGiveTheirExitCodes) {
  CallOutcome outcome = RunCapturingConsole([&] { CompileSymbols(log_, "missing.txt", 0); });
  EXPECT_EQ(outcome.code, 28);
  EXPECT_NE(outcome.console.find("error opening missing.txt"), std::string::npos);

  // A directory in the copy's place cannot be opened for writing.
  std::filesystem::create_directory("ctl.txt_0.$$$");
  outcome = Compile("[a]\n1\n");
  EXPECT_EQ(outcome.code, 28);
  EXPECT_NE(outcome.console.find("error opening ctl.txt_0.$$$"), std::string::npos);
}

TEST_F(PreprocessorTest, CopyNameKeepsDirectoryAndRank) {
  EXPECT_EQ(SubstitutedControlFileName("run/ctl.ini", 12), "run/ctl.ini_12.$$$");
  std::filesystem::create_directory("run");
  WriteFixture("run/ctl.ini", "[a]\n");
  const CallOutcome outcome =
      RunCapturingConsole([&] { copyName_ = CompileSymbols(log_, "run/ctl.ini", 3); });
  ASSERT_EQ(outcome.code, -1) << outcome.console;
  EXPECT_EQ(copyName_, "run/ctl.ini_3.$$$");
  EXPECT_EQ(ReadWholeFile("run/ctl.ini_3.$$$"), "[a]\n");
}

} // namespace
} // namespace tavro
