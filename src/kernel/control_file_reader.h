// Reading of a module's section in the substituted control-file copy: section
// search, positional values with the rest of the line as a free label, and the
// documented error entries (exit codes 17, 18, 19). Built on C stdio so that
// values may stand across lines exactly as fscanf reads them.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tavro {

class DiagnosticsLog;

// The characters of an integer as fscanf "%d" takes them (white space and
// line breaks skipped, an optional sign, decimal digits); the sign is
// consumed even when no digit follows. Overlong digit runs are cut at the
// line limit so that the value is refused as a whole.
std::string ScanIntegerText(std::FILE *file);
// An integer the way "%d" takes it; nothing when there is none or it is out of range.
std::optional<int> ScanInt(std::FILE *file);
// A finite real the way "%lf" takes it; nothing when it cannot be read.
std::optional<double> ScanDouble(std::FILE *file);

// The next line of a file with its line break, read whole. At the end of the
// file the text is empty and atEnd is set. A line longer than limit (line
// break not counted) is not split: reading stops, tooLong is set and text
// holds the part read, for the caller's refusal.
struct WholeLine {
  std::string text;
  bool atEnd = false;
  bool tooLong = false;
};
WholeLine ReadWholeLine(std::FILE *file, std::size_t limit);

// Refuses a step length, divisor or iteration limit that is not above 0 (a
// value that would make a loop endless or divide by zero later in the run):
// "error in control file, <key> (must be above 0, found <value>); <where>",
// exit code 17.
void RequireAbove0(DiagnosticsLog &log, std::string_view key, double value, std::string_view where);

class ControlFileReader {
public:
  // moduleName is named in value errors ("time interval for ; snow_model...").
  ControlFileReader(DiagnosticsLog &log, std::string moduleName);
  ~ControlFileReader();
  ControlFileReader(const ControlFileReader &) = delete;
  ControlFileReader &operator=(const ControlFileReader &) = delete;

  // Opens the file for reading; false when it cannot be opened.
  // A name longer than MaxLineLength is fatal (17).
  bool Open(const std::string &fileName);
  // Closes the file; false when closing it failed (true when none was open).
  bool Close();
  bool IsOpen() const { return file_ != nullptr; }
  std::FILE *Handle() { return file_; }
  const std::string &FileName() const { return fileName_; }
  const std::string &ModuleName() const { return moduleName_; }
  DiagnosticsLog &Log() { return log_; }

  // Rewinds and positions the file after the line whose first word is key.
  // Missing key: ControlFileError(key, "(EOF)") when fatal, else false.
  bool FindControlKey(std::string_view key, bool fatal);

  // One positional value; on failure the "--> In ." entry, the next word and
  // ControlFileError(label, module name). The rest of the line is kept.
  int ReadInt(std::string_view label);
  long ReadLong(std::string_view label);
  double ReadDouble(std::string_view label);
  std::string ReadWord(std::string_view label); // "%s"
  // A word followed by an int on the same read ("%s %d"), as ReadControlValues2.
  std::pair<std::string, int> ReadWordAndInt(std::string_view label);
  // Two ints on the same read ("%d%d"), as ReadControlValues2; fewer than two:
  // ControlFileError(label, module name).
  std::pair<int, int> ReadTwoInts(std::string_view label);

  // The rest of the line after the last value read (line break included).
  const std::string &LastRest() const { return rest_; }

  // Next whitespace-separated word without error handling; empty at end of file.
  std::string NextWord();

  [[noreturn]] void ControlFileError(std::string_view what, std::string_view where);
  // RequireAbove0 with the module name as the place.
  void RequireAbove0(std::string_view key, double value) {
    tavro::RequireAbove0(log_, key, value, moduleName_);
  }
  [[noreturn]] void WriteError(std::string_view fileName, int code);
  [[noreturn]] void ReadError(std::string_view fileName, int code);

  // Longest line, key and word the reader accepts (longer input is refused
  // with a FATAL entry and exit code 17).
  static constexpr std::size_t MaxLineLength = 1200;

private:
  void ReadRestOfLine();
  [[noreturn]] void ValueError(std::string_view label);
  template <class Integer> Integer ReadInteger(std::string_view label);

  DiagnosticsLog &log_;
  std::string moduleName_;
  std::string fileName_;
  std::FILE *file_ = nullptr;
  std::string rest_;
};

} // namespace tavro
