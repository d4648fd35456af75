// The one reporting channel of a process: every entry goes to the console and,
// filtered by level, to the diagnostics XML file. Only rank 0 writes.
#pragma once

#include <fstream>
#include <iomanip>
#include <iosfwd>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

class DiagnosticsLog {
public:
  // Throws the int 320 when the XML file cannot be opened under either name.
  DiagnosticsLog(const std::string &fileName, int levelThreshold);
  ~DiagnosticsLog();
  DiagnosticsLog(const DiagnosticsLog &) = delete;
  DiagnosticsLog &operator=(const DiagnosticsLog &) = delete;

  DiagnosticsLog &operator<<(const char *text);
  DiagnosticsLog &operator<<(const std::string &text);
  DiagnosticsLog &operator<<(char value);
  DiagnosticsLog &operator<<(int value);
  DiagnosticsLog &operator<<(unsigned int value);
  DiagnosticsLog &operator<<(long value);
  DiagnosticsLog &operator<<(unsigned long value);
  DiagnosticsLog &operator<<(long long value);
  DiagnosticsLog &operator<<(unsigned long long value);
  DiagnosticsLog &operator<<(float value);
  DiagnosticsLog &operator<<(double value);
  DiagnosticsLog &operator<<(const void *value);
  DiagnosticsLog &operator<<(void *value);
  DiagnosticsLog &operator<<(decltype(std::setw(0)) width);

  // Writes one whole entry (the text must end with "[end-entry]") under the
  // log's lock, so entries from worker threads never interleave.
  void Entry(std::string_view text);

  // Lock for callers that chain several items from worker threads.
  std::recursive_mutex &Mutex() { return mutex_; }

  void FlushConsole();

  // On ranks other than 0: the texts (without "FATAL: ") of the FATAL entries
  // written since the last call, oldest first, at most PendingFatalLimit of
  // them. The collective agreement on a failure hands them to rank 0, whose
  // file would otherwise lack the reason. Always empty on rank 0.
  std::vector<std::string> TakeFatalTexts();
  static constexpr std::size_t PendingFatalLimit = 8;

  int Rank() const { return Rank_; }
  int ProcessCount() const { return ProcessCount_; }
  const std::string &FileName() const { return FileName_; }
  int LevelThreshold() const { return LevelThreshold_; }

  // The XML side of a text item; exposed for tests of the escaping rules.
  static std::string EscapeForXml(std::string_view text);

  static constexpr std::string_view EndToken = "[end-entry]";
  static constexpr const char *DefaultFileName = "Tavro_Diag.xml";

private:
  void TextItem(std::string_view text);
  void PrepareText(std::string_view text);
  void PrepareValue();
  void BeginEntry(int level);
  void CloseWrittenLine();
  bool FileWritable() const;
  template <class T> DiagnosticsLog &ValueItem(const T &value);
  void EndEntry();
  void WriteConsole(std::string_view text);
  void WritePendingConsole();
  void WriteFile(std::string_view text);

  int Rank_ = 0;
  int ProcessCount_ = 1;
  std::ofstream XmlFile_;
  std::ostream *Console_;
  // Rank 0's console text of the open entry: written in one piece when the entry
  // ends, so that the lines of other processes on the same console cannot cut it.
  std::ostringstream ConsoleEntry_;
  bool EntryClosed_ = true;
  bool Suppressed_ = false;
  bool LineWritten_ = false; // the open entry's XML line has been started
  int EntryLevel_ = 0;
  std::string PreparedText_;
  std::string FileName_;
  int LevelThreshold_ = 4;
  std::string FatalEcho_;                 // console text of a FATAL entry on ranks other than 0
  std::vector<std::string> PendingFatal_; // see TakeFatalTexts
  std::recursive_mutex mutex_;
};

// Local time as 2021-03-07T08:05:09.
std::string LogTimeStamp();

} // namespace tavro
