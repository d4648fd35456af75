// Console bytes and XML lines of the diagnostics log for a table of entries.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "support/test_support.h"

namespace tavro {
namespace {

using test::ReadWholeFile;

// The description lines between the start and the finished line.
std::vector<std::string> EntryLines(const std::string &xml) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < xml.size()) {
    const auto end = xml.find('\n', start);
    const std::string line = xml.substr(start, end - start);
    if (line.rfind("\t<line ", 0) == 0 && line.find("Tavro start at") == std::string::npos &&
        line.find("Tavro finished at") == std::string::npos) {
      lines.push_back(line);
    }
    if (end == std::string::npos)
      break;
    start = end + 1;
  }
  return lines;
}

struct LogCase {
  const char *name;
  int threshold;
  std::vector<const char *> items;
  const char *console;                // console bytes of the entries
  std::vector<const char *> xmlLines; // description lines, in order
};

class DiagnosticsLogEntries : public testing::TestWithParam<LogCase> {};

TEST_P(DiagnosticsLogEntries, ConsoleAndXml) {
  const LogCase &c = GetParam();
  testing::internal::CaptureStdout();
  {
    DiagnosticsLog log("", c.threshold);
    for (const char *item : c.items)
      log << item;
  }
  const std::string console = testing::internal::GetCapturedStdout();
  const std::string xml = ReadWholeFile("Tavro_Diag_0.xml");
  EXPECT_EQ(console, c.console);
  std::vector<std::string> expected;
  for (const char *line : c.xmlLines)
    expected.emplace_back(line);
  EXPECT_EQ(EntryLines(xml), expected);
}

const LogCase kCases[] = {
    {"LevelWordsAndThreshold4",
     4,
     {"FATAL: f[end-entry]", "ERROR: e[end-entry]", "WARNING: w[end-entry]", "INFO: i[end-entry]",
      "DEBUG: d[end-entry]", "plain[end-entry]"},
     "f\n(mpi-rank  0) e\n(mpi-rank  0) w\n(mpi-rank  0) i\n(mpi-rank  0) d\n(mpi-rank  0) "
     "plain\n(mpi-rank  0) ",
     {"\t<line level=\"0\" description= \"f\"/>", "\t<line level=\"1\" description= \"e\"/>",
      "\t<line level=\"2\" description= \"w\"/>", "\t<line level=\"3\" description= \"i\"/>",
      "\t<line level=\"4\" description= \"d\"/>", "\t<line level=\"4\" description= \"plain\"/>"}},
    {"ThresholdZeroKeepsOnlyFatal",
     0,
     {"WARNING: w[end-entry]", "FATAL: f[end-entry]", "plain[end-entry]"},
     "w\n(mpi-rank  0) f\n(mpi-rank  0) plain\n(mpi-rank  0) ",
     {"\t<line level=\"0\" description= \"f\"/>"}},
    {"SkipIsConsoleOnly",
     4,
     {"SKIP: s[end-entry]", "INFO: i[end-entry]"},
     "s\n(mpi-rank  0) i\n(mpi-rank  0) ",
     {"\t<line level=\"3\" description= \"i\"/>"}},
    {"Escaping",
     4,
     {"INFO: a<b & c \"q\" 'a' x>y[end-entry]"},
     "a<b & c \"q\" 'a' x>y\n(mpi-rank  0) ",
     {"\t<line level=\"3\" description= \"a&lt;b &amp; c &quot;q&quot; &apos;a&apos; x&gt;y\"/>"}},
    {"LineBreaksBecomeSemicolons",
     4,
     {"INFO: one\ntwo\nthree[end-entry]"},
     "one\ntwo\nthree\n(mpi-rank  0) ",
     {"\t<line level=\"3\" description= \"one;two;three\"/>"}},
    {"DashRunsShortenInFileOnly",
     4,
     {"INFO: a-----b--c---[end-entry]"},
     "a-----b--c---\n(mpi-rank  0) ",
     {"\t<line level=\"3\" description= \"a--b--c--\"/>"}},
    {"LevelWordInsideEntryStartsNewLine",
     4,
     {"INFO: first ", "WARNING: second", "[end-entry]"},
     "first second\n(mpi-rank  0) ",
     {"\t<line level=\"3\" description= \"first \"/>",
      "\t<line level=\"2\" description= \"second\"/>"}},
    {"EndTokenAloneMakesEmptyEntry",
     4,
     {"[end-entry]"},
     "\n(mpi-rank  0) ",
     {"\t<line level=\"4\" description= \"\"/>"}},
    {"SkipInsideWrittenEntryClosesItsLine",
     4,
     {"INFO: open ", "SKIP: hidden", "[end-entry]"},
     "open hidden\n(mpi-rank  0) ",
     {"\t<line level=\"3\" description= \"open \"/>"}},
    {"InvalidUtf8IsRecoded",
     4,
     {"INFO: Gr\xfc\xdf"
      "e[end-entry]"},
     "Gr\xfc\xdf"
     "e\n(mpi-rank  0) ",
     {"\t<line level=\"3\" description= \"Gr\xc3\xbc\xc3\x9f"
      "e\"/>"}},
};

INSTANTIATE_TEST_SUITE_P(Table, DiagnosticsLogEntries, testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(DiagnosticsLog, ValuesAndWidth) {
  testing::internal::CaptureStdout();
  {
    DiagnosticsLog log("", 4);
    log << "WARNING: value " << 5 << "[end-entry]";
    log << std::setw(20) << "snow_model"
        << " " << 2.5 << ' ' << '<' << "[end-entry]";
    log << 7L << " starts a level-4 entry"
        << "[end-entry]";
  }
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(console, "value 5\n(mpi-rank  0)           snow_model 2.5 <\n(mpi-rank  0) 7 starts a "
                     "level-4 entry\n(mpi-rank  0) ");
  const auto lines = EntryLines(ReadWholeFile("Tavro_Diag_0.xml"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "\t<line level=\"2\" description= \"value 5\"/>");
  EXPECT_EQ(lines[1], "\t<line level=\"4\" description= \"          snow_model 2.5 &lt;\"/>");
  EXPECT_EQ(lines[2], "\t<line level=\"4\" description= \"7 starts a level-4 entry\"/>");
}

// Keeps every piece the console stream hands on as one chunk: what a process
// writes to a console it shares with the other processes of the job.
class ChunkRecorder : public std::streambuf {
public:
  std::vector<std::string> chunks;

protected:
  std::streamsize xsputn(const char *text, std::streamsize count) override {
    chunks.emplace_back(text, static_cast<std::size_t>(count));
    return count;
  }
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof()))
      chunks.emplace_back(1, traits_type::to_char_type(c));
    return traits_type::not_eof(c);
  }
};

TEST(DiagnosticsLog, AnEntryReachesTheConsoleInOnePiece) {
  ChunkRecorder recorder;
  std::streambuf *const console = std::cout.rdbuf(&recorder);
  {
    DiagnosticsLog log("", 4);
    log << "FATAL: Exception " << 17 << " caught at top level!"
        << "[end-entry]";
    log << "FATAL: Program aborted with exit code " << 17 << "[end-entry]";
  }
  std::cout.rdbuf(console);
  const std::vector<std::string> expected = {"Exception 17 caught at top level!\n",
                                             "(mpi-rank  0) Program aborted with exit code 17\n",
                                             "(mpi-rank  0) "};
  EXPECT_EQ(recorder.chunks, expected);
}

TEST(DiagnosticsLog, FileNamesCarryTheRank) {
  const std::pair<const char *, const char *> cases[] = {{"", "Tavro_Diag_0.xml"},
                                                         {"diag.xml", "diag_0.xml"},
                                                         {"out.d/diag", "out_0.xml"},
                                                         {"run", "run_0.xml"}};
  for (const auto &[given, expected] : cases) {
    DiagnosticsLog log(given, 4);
    EXPECT_EQ(log.FileName(), expected) << given;
  }
}

TEST(DiagnosticsLog, UnopenableFileFallsBackToDefaultName) {
  testing::internal::CaptureStdout();
  std::string name;
  {
    DiagnosticsLog log("no_such_dir/x.xml", 4);
    name = log.FileName();
  }
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(name, "Tavro_Diag.xml");
  EXPECT_NE(console.find("error opening diagnostics output file no_such_dir/x_0.xml"),
            std::string::npos);
  EXPECT_NE(ReadWholeFile("Tavro_Diag.xml").find("</Diag>"), std::string::npos);
}

TEST(DiagnosticsLog, OpenEntryIsClosedAtTheEnd) {
  {
    DiagnosticsLog log("", 4);
    log << "INFO: never ended";
  }
  const std::string xml = ReadWholeFile("Tavro_Diag_0.xml");
  EXPECT_NE(xml.find("description= \"never ended\"/>\n\t<line level=\"3\" description= \"Tavro "
                     "finished at "),
            std::string::npos);
  EXPECT_EQ(xml.substr(xml.size() - 8), "</Diag>\n");
}

TEST(DiagnosticsLog, EntriesFromThreadsAreWrittenWhole) {
  {
    DiagnosticsLog log("", 4);
#pragma omp parallel for num_threads(4)
    for (int i = 0; i < 200; ++i) {
      log.Entry("INFO: thread entry " + std::to_string(i) + " complete[end-entry]");
    }
  }
  const auto lines = EntryLines(ReadWholeFile("Tavro_Diag_0.xml"));
  ASSERT_EQ(lines.size(), 200u);
  for (const auto &line : lines) {
    EXPECT_EQ(line.rfind("\t<line level=\"3\" description= \"thread entry ", 0), 0u) << line;
    EXPECT_NE(line.find(" complete\"/>"), std::string::npos) << line;
  }
}

TEST(DiagnosticsLog, TrickyEntriesStayWellFormedXml) {
  testing::internal::CaptureStdout();
  {
    DiagnosticsLog log("", 4);
    log << "INFO: <tag> & \"quotes\" 'apos' \x01\r control"
        << "[end-entry]";
    log << "WARNING: Gr\xfc"
           "n \xc3"
        << '<' << '&' << "[end-entry]";
    log << "INFO: open "
        << "SKIP: hidden" << 3 << "[end-entry]";
    log << "ERROR: left open";
  }
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(test::FileExists("Tavro_Diag_0.xml"));
  EXPECT_EQ(std::system("xmllint --noout Tavro_Diag_0.xml"), 0);
}

TEST(FatalError, LogsEntryAndThrowsCode) {
  testing::internal::CaptureStdout();
  int thrown = 0;
  {
    DiagnosticsLog log("", 4);
    try {
      ThrowFatal(log, 17, Concat("error in control file, ", "key", "; ", 3));
    } catch (int code) {
      thrown = code;
    }
  }
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(thrown, 17);
  EXPECT_EQ(EntryLines(ReadWholeFile("Tavro_Diag_0.xml")),
            std::vector<std::string>{"\t<line level=\"0\" description= \"error in control file, "
                                     "key; 3\"/>"});
}

TEST(ParallelErrorsTest, KeepsTheFirstErrorOfARegion) {
  ParallelErrors errors;
  EXPECT_FALSE(errors.Any());
#pragma omp parallel for num_threads(4)
  for (int i = 0; i < 100; ++i) {
    if (i % 10 == 3)
      errors.Record(40 + i, "cell failed");
  }
  EXPECT_TRUE(errors.Any());
  testing::internal::CaptureStdout();
  int thrown = 0;
  {
    DiagnosticsLog log("", 4);
    try {
      errors.ThrowIfAny(log);
    } catch (int code) {
      thrown = code;
    }
  }
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(thrown % 10, 3);
  EXPECT_GE(thrown, 43);
}

} // namespace
} // namespace tavro
