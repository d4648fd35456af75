// Which arguments are options and which are control files.
#include <gtest/gtest.h>

#include <vector>

#include "command_line.h"

namespace tavro {
namespace {

TEST(CommandLine, LevelWords) {
  const std::pair<const char *, int> cases[] = {{"FATAL", 0}, {"error", 1},   {"warning", 2},
                                                {"Info", 3},  {"DEBUG", 4},   {"verbose", 4},
                                                {"", 4},      {"WARNING ", 4}};
  for (const auto &[word, level] : cases)
    EXPECT_EQ(DiagnosticsLevelFromWord(word), level) << word;
}

TEST(CommandLine, OptionsAndControlFiles) {
  const char *argv[] = {
      "tavro",      "-diagfile:a.xml",    "one.ctl",         "-dumpmode", "-diagfile:b.xml",
      "-dumpmodex", "-diaglevel:warning", "-closeAfterDump", "two.ctl",   "-repairAfterDump"};
  const CommandLine line = ParseCommandLine(10, argv);
  EXPECT_EQ(line.DiagnosticsFile, "b.xml");
  EXPECT_EQ(line.DiagnosticsLevel, 2);
  EXPECT_EQ(line.ControlFileArguments, (std::vector<int>{2, 5, 8}));
  EXPECT_TRUE(line.HasArguments);
}

TEST(CommandLine, NoArgumentsAndOnlyOptions) {
  const char *bare[] = {"tavro"};
  EXPECT_FALSE(ParseCommandLine(1, bare).HasArguments);
  const char *options[] = {"tavro", "-dumpmode", "-diaglevel:info", "-diaglevel:"};
  const CommandLine line = ParseCommandLine(4, options);
  EXPECT_TRUE(line.HasArguments);
  EXPECT_TRUE(line.ControlFileArguments.empty());
  EXPECT_EQ(line.DiagnosticsLevel, 4); // the last one counts, and empty is 4
}

} // namespace
} // namespace tavro
