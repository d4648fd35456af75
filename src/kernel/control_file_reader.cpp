// Section search and positional value reading in a control-file copy. Values
// are read the way fscanf reads them (across blank lines, a number ends at the
// first character that cannot continue it), the rest of the line is kept as a
// free label. Words, keys and lines are bounded: overlong input is refused
// rather than split, since a split word or line could be taken for a key or a
// value of the next position.
#include "kernel/control_file_reader.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <vector>

namespace tavro {
namespace {

constexpr int kControlFileExitCode = 17;
constexpr int kWriteErrorExitCode = 18;
constexpr int kReadErrorExitCode = 19;

// The widest word the reader takes in one piece.
constexpr const char *kBoundedWordFormat = "%1200s";
static_assert(ControlFileReader::MaxLineLength == 1200, "keep the scan width in step");

bool IsSpace(int c) { return c != EOF && std::isspace(static_cast<unsigned char>(c)) != 0; }

// Skips white space and line breaks the way a scanf directive does.
void SkipWhiteSpace(std::FILE *file) {
  int c = 0;
  while (IsSpace(c = std::getc(file))) {
  }
  if (c != EOF)
    std::ungetc(c, file);
}

struct BoundedWord {
  std::string text;
  bool overlong = false; // more than MaxLineLength characters; text holds the first part
};

// Reads one whitespace-separated word, at most MaxLineLength characters;
// empty at end of file.
BoundedWord ReadBoundedWord(std::FILE *file) {
  std::vector<char> buffer(ControlFileReader::MaxLineLength + 1, '\0');
  BoundedWord word;
  if (std::fscanf(file, kBoundedWordFormat, buffer.data()) != 1)
    return word;
  word.text = buffer.data();
  if (word.text.size() == ControlFileReader::MaxLineLength) {
    const int next = std::getc(file);
    if (next != EOF) {
      std::ungetc(next, file);
      word.overlong = !IsSpace(next);
    }
  }
  return word;
}

std::string ScanIntegerCharacters(std::FILE *file) {
  SkipWhiteSpace(file);
  std::string text;
  int c = std::getc(file);
  if (c == '+' || c == '-') {
    text += static_cast<char>(c);
    c = std::getc(file);
  }
  while (c != EOF && std::isdigit(static_cast<unsigned char>(c)) != 0) {
    // Far beyond any range; keep reading so the value is refused as a whole.
    if (text.size() <= ControlFileReader::MaxLineLength)
      text += static_cast<char>(c);
    c = std::getc(file);
  }
  if (c != EOF)
    std::ungetc(c, file);
  return text;
}

enum class NumberState { Ok, Missing, OutOfRange };

template <class Integer> NumberState ParseInteger(const std::string &text, Integer &value) {
  std::string_view digits = text;
  if (!digits.empty() && digits.front() == '+')
    digits.remove_prefix(1);
  if (digits.empty() || digits == "-")
    return NumberState::Missing;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error == std::errc::result_out_of_range)
    return NumberState::OutOfRange;
  if (error != std::errc() || end != digits.data() + digits.size())
    return NumberState::Missing;
  return NumberState::Ok;
}

} // namespace

std::string ScanIntegerText(std::FILE *file) { return ScanIntegerCharacters(file); }

std::optional<int> ScanInt(std::FILE *file) {
  int value = 0;
  if (ParseInteger(ScanIntegerText(file), value) != NumberState::Ok)
    return std::nullopt;
  return value;
}

std::optional<double> ScanDouble(std::FILE *file) {
  double value = 0.0;
  if (std::fscanf(file, "%lf", &value) != 1 || !std::isfinite(value))
    return std::nullopt;
  return value;
}

WholeLine ReadWholeLine(std::FILE *file, std::size_t limit) {
  WholeLine line;
  int c = 0;
  while ((c = std::getc(file)) != EOF) {
    line.text += static_cast<char>(c);
    if (c == '\n')
      return line;
    if (line.text.size() > limit) {
      line.tooLong = true;
      return line;
    }
  }
  line.atEnd = line.text.empty();
  return line;
}

ControlFileReader::ControlFileReader(DiagnosticsLog &log, std::string moduleName)
    : log_(log), moduleName_(std::move(moduleName)) {}

ControlFileReader::~ControlFileReader() { Close(); }

bool ControlFileReader::Open(const std::string &fileName) {
  Close();
  if (fileName.size() > MaxLineLength)
    ThrowFatal(log_, kControlFileExitCode,
               Concat("error in control file, control-file name longer than ", MaxLineLength,
                      " characters: ", fileName.substr(0, 80), "..."));
  fileName_ = fileName;
  file_ = std::fopen(fileName.c_str(), "r");
  return file_ != nullptr;
}

bool ControlFileReader::Close() {
  if (file_ == nullptr)
    return true;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  return closed;
}

void ControlFileReader::ReadRestOfLine() {
  rest_.clear();
  int c = 0;
  while ((c = std::getc(file_)) != EOF) {
    rest_ += static_cast<char>(c);
    if (c == '\n')
      return;
    if (rest_.size() > MaxLineLength)
      ThrowFatal(log_, kControlFileExitCode,
                 Concat("error in control file ", fileName_, ", line longer than ", MaxLineLength,
                        " characters in section of ", moduleName_, ": ", rest_.substr(0, 80),
                        "..."));
  }
}

bool ControlFileReader::FindControlKey(std::string_view key, bool fatal) {
  if (key.size() > MaxLineLength)
    ThrowFatal(log_, kControlFileExitCode,
               Concat("error in control file, key longer than ", MaxLineLength,
                      " characters: ", key.substr(0, 80), "..."));
  if (file_ == nullptr) {
    if (fatal)
      ControlFileError(key, "(EOF)");
    return false;
  }
  std::rewind(file_);
  std::string word;
  bool lastReadOk = true;
  while (word != key && !std::feof(file_) && lastReadOk) {
    const BoundedWord next = ReadBoundedWord(file_);
    if (next.overlong)
      ThrowFatal(log_, kControlFileExitCode,
                 Concat("error in control file ", fileName_, ", word longer than ", MaxLineLength,
                        " characters while searching ", key, ": ", next.text.substr(0, 80), "..."));
    lastReadOk = !next.text.empty();
    word = next.text;
    if (lastReadOk) {
      // The line's first word alone counts as a key; the rest of it is dropped.
      const std::string kept = std::move(rest_);
      ReadRestOfLine();
      rest_ = kept;
    }
  }
  if (std::feof(file_) || word != key) {
    if (fatal)
      ControlFileError(key, "(EOF)");
    return false;
  }
  return true;
}

void ControlFileReader::ValueError(std::string_view label) {
  log_.Entry("--> In .\n  Next line in Tavro control file: [end-entry]");
  std::string offending;
  if (file_ != nullptr) {
    const BoundedWord word = ReadBoundedWord(file_);
    offending = word.overlong ? word.text.substr(0, 80) + "..." : word.text;
  }
  log_.Entry(offending + std::string(DiagnosticsLog::EndToken));
  ControlFileError(label, moduleName_);
}

template <class Integer> Integer ControlFileReader::ReadInteger(std::string_view label) {
  if (file_ == nullptr)
    ValueError(label);
  const std::string text = ScanIntegerText(file_);
  Integer value = 0;
  const NumberState state = ParseInteger(text, value);
  if (state == NumberState::OutOfRange) {
    // The offending number has been consumed; report it in the word's place.
    log_.Entry("--> In .\n  Next line in Tavro control file: [end-entry]");
    log_.Entry(text.substr(0, 80) + " (out of range)" + std::string(DiagnosticsLog::EndToken));
    ControlFileError(label, moduleName_);
  }
  if (state != NumberState::Ok)
    ValueError(label);
  ReadRestOfLine();
  return value;
}

int ControlFileReader::ReadInt(std::string_view label) { return ReadInteger<int>(label); }

long ControlFileReader::ReadLong(std::string_view label) { return ReadInteger<long>(label); }

double ControlFileReader::ReadDouble(std::string_view label) {
  double value = 0.0;
  if (file_ == nullptr || std::fscanf(file_, "%lf", &value) != 1)
    ValueError(label);
  if (!std::isfinite(value)) {
    // Overflowing or explicit inf/nan values would silently poison the run.
    log_.Entry("--> In .\n  Next line in Tavro control file: [end-entry]");
    log_.Entry(Concat(value, " (not a finite number)", DiagnosticsLog::EndToken));
    ControlFileError(label, moduleName_);
  }
  ReadRestOfLine();
  return value;
}

std::string ControlFileReader::ReadWord(std::string_view label) {
  if (file_ == nullptr)
    ValueError(label);
  const BoundedWord word = ReadBoundedWord(file_);
  if (word.overlong)
    ThrowFatal(log_, kControlFileExitCode,
               Concat("error in control file, ", label, "; ", moduleName_, ": word longer than ",
                      MaxLineLength, " characters: ", word.text.substr(0, 80), "..."));
  if (word.text.empty())
    ValueError(label);
  ReadRestOfLine();
  return word.text;
}

std::pair<std::string, int> ControlFileReader::ReadWordAndInt(std::string_view label) {
  if (file_ == nullptr)
    ControlFileError(label, moduleName_);
  const BoundedWord word = ReadBoundedWord(file_);
  if (word.overlong)
    ThrowFatal(log_, kControlFileExitCode,
               Concat("error in control file, ", label, "; ", moduleName_, ": word longer than ",
                      MaxLineLength, " characters: ", word.text.substr(0, 80), "..."));
  if (word.text.empty())
    ControlFileError(label, moduleName_);
  int value = 0;
  if (ParseInteger(ScanIntegerText(file_), value) != NumberState::Ok)
    ControlFileError(label, moduleName_);
  ReadRestOfLine();
  return {word.text, value};
}

std::pair<int, int> ControlFileReader::ReadTwoInts(std::string_view label) {
  if (file_ == nullptr)
    ControlFileError(label, moduleName_);
  int first = 0;
  int second = 0;
  if (ParseInteger(ScanIntegerText(file_), first) != NumberState::Ok ||
      ParseInteger(ScanIntegerText(file_), second) != NumberState::Ok)
    ControlFileError(label, moduleName_);
  ReadRestOfLine();
  return {first, second};
}

std::string ControlFileReader::NextWord() {
  if (file_ == nullptr)
    return {};
  const BoundedWord word = ReadBoundedWord(file_);
  if (word.overlong)
    ThrowFatal(log_, kControlFileExitCode,
               Concat("error in control file ", fileName_, ", word longer than ", MaxLineLength,
                      " characters: ", word.text.substr(0, 80), "..."));
  return word.text;
}

void RequireAbove0(DiagnosticsLog &log, std::string_view key, double value,
                   std::string_view where) {
  if (!(value > 0.0))
    ThrowFatal(
        log, kControlFileExitCode,
        Concat("error in control file, ", key, " (must be above 0, found ", value, "); ", where));
}

void ControlFileReader::ControlFileError(std::string_view what, std::string_view where) {
  ThrowFatal(log_, kControlFileExitCode,
             Concat("error in control file, ", what, "; ", where, "not found!"));
}

void ControlFileReader::WriteError(std::string_view fileName, int code) {
  ThrowFatal(log_, kWriteErrorExitCode, Concat("write error ", fileName, " ! (", code, ")"));
}

void ControlFileReader::ReadError(std::string_view fileName, int code) {
  ThrowFatal(log_, kReadErrorExitCode, Concat("read error ", fileName, " ! (", code, ")"));
}

} // namespace tavro
