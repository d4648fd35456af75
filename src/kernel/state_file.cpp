// The state file's writer and reader, on C stdio so that the bytes of the
// documented formats hold.
#include "kernel/state_file.h"

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/modelobject.h"
#include "kernel/string_helpers.h"

#include <array>
#include <cmath>
#include <utility>

namespace tavro {
namespace {

// Write-error codes: 1 the file did not open, 2 a write or the close failed.
constexpr int kOpenFailed = 1;
constexpr int kWriteFailed = 2;

std::string WithDirectory(const std::string &directory, const std::string &fileName,
                          DiagnosticsLog &log) {
  std::string path = fileName;
  AddPathPrefix(directory, path, log);
  return path;
}

// The line without its trailing blanks, tabs, carriage return and line break.
std::string_view TrimmedEnd(std::string_view line) {
  const std::size_t end = line.find_last_not_of(" \t\r\n");
  return end == std::string_view::npos ? std::string_view() : line.substr(0, end + 1);
}

} // namespace

std::string RoundTripReal(double value) {
  std::array<char, 40> text{};
  std::snprintf(text.data(), text.size(), "%.17g", value);
  return text.data();
}

bool StoredValueMatches(double stored, double current) {
  if (stored != 0.0)
    return std::fabs((stored - current) / stored) <= kStateValueTolerance;
  return current == 0.0;
}

void ThrowStateMismatch(DiagnosticsLog &log, std::string_view prefix, std::string_view description,
                        double current, std::optional<double> stored) {
  const std::string storedText =
      stored ? Concat(*stored) : std::string("(no number could be read there)");
  ThrowFatal(log, kStateMismatchExitCode,
             Concat(prefix, "error in storage file content reading ", description,
                    ":\nvalue in actual control is:   ", current,
                    "\nbut value in storage file is: ", storedText, "\nTavro throws..."));
}

// --- Writer ---------------------------------------------------------------------

StateFileWriter::StateFileWriter(modelobject &owner, const std::string &fileName, bool append)
    : owner_(owner), path_(WithDirectory(owner.DefaultOutputDirectory, fileName, *owner.Log)) {
  file_ = std::fopen(path_.c_str(), append ? "a" : "w");
  if (file_ == nullptr)
    owner_.WriteError(path_, kOpenFailed);
}

StateFileWriter::~StateFileWriter() {
  if (file_ != nullptr)
    std::fclose(file_);
}

void StateFileWriter::Header(std::string_view section) {
  Text(section);
  Text("\n");
}

void StateFileWriter::Integer(long long value) {
  failed_ = failed_ || std::fprintf(file_, "%lld", value) < 0;
}

void StateFileWriter::Real(double value) { Text(RoundTripReal(value)); }

void StateFileWriter::Text(std::string_view text) {
  if (text.empty())
    return;
  failed_ = failed_ || std::fwrite(text.data(), 1, text.size(), file_) != text.size();
}

void StateFileWriter::Close() {
  std::FILE *file = std::exchange(file_, nullptr);
  const bool closed = std::fclose(file) == 0;
  if (failed_ || !closed)
    owner_.WriteError(path_, kWriteFailed);
}

void WriteStateSectionHeader(modelobject &owner, const std::string &fileName,
                             std::string_view section, bool append) {
  StateFileWriter file(owner, fileName, append);
  file.Header(section);
  file.Close();
}

// --- Reader ---------------------------------------------------------------------

StateFileReader::StateFileReader(const modelobject &owner, const std::string &fileName,
                                 StateMismatch mismatch)
    : path_(WithDirectory(owner.InitialStateDirectory, fileName, *owner.Log)),
      mismatch_(std::move(mismatch)) {
  file_ = std::fopen(path_.c_str(), "r");
}

StateFileReader::~StateFileReader() {
  if (file_ != nullptr)
    std::fclose(file_);
}

bool StateFileReader::FindSection(std::string_view header) {
  // Lines of any length: a long line is compared whole, never in pieces.
  for (;;) {
    const WholeLine line = ReadWholeLine(file_, std::string::npos - 1);
    if (line.atEnd)
      return false;
    if (TrimmedEnd(line.text) == header)
      return true;
  }
}

void StateFileReader::ExpectInteger(int expected, std::string_view description) {
  const std::optional<int> read = ScanInt(file_);
  if (!read)
    Mismatch(description, expected, std::nullopt);
  if (*read != expected)
    Mismatch(description, expected, *read);
}

double StateFileReader::ReadReal(std::string_view description, double current) {
  const std::optional<double> read = ScanDouble(file_);
  if (!read)
    Mismatch(description, current, std::nullopt);
  return *read;
}

std::optional<double> StateFileReader::TryReadReal() { return ScanDouble(file_); }

void StateFileReader::CheckReal(double current, std::string_view description) {
  const double stored = ReadReal(description, current);
  if (!StoredValueMatches(stored, current))
    Mismatch(description, current, stored);
}

void StateFileReader::SkipLine() {
  int c = 0;
  while ((c = std::getc(file_)) != EOF && c != '\n') {
  }
}

std::string StateFileReader::RestOfLine() {
  std::string rest;
  int c = 0;
  while ((c = std::getc(file_)) != EOF && c != '\n')
    rest.push_back(static_cast<char>(c));
  return rest;
}

void StateFileReader::Mismatch(std::string_view description, double current,
                               std::optional<double> stored) const {
  if (mismatch_)
    mismatch_(description, current, stored);
  // A handler must not return; should one do so, the run still stops here.
  throw kStateMismatchExitCode;
}

} // namespace tavro
