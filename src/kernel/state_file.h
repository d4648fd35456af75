// The state file (StorageContentFile) that carries module state from one run
// to the next: a text file of sections, each headed by its name in brackets,
// each line one or more values followed by a label in parentheses. One writer
// and one reader serve every module, so that all modules restart alike:
// - reals are written with round-trip digits, so that a run split through the
//   state file equals one long run; reals written with fewer digits ("%lf")
//   still read;
// - a section starts at its exact header line;
// - every number is checked: one that cannot be read, or that does not fit
//   the current run, is a mismatch (the owning module's FATAL entry, exit
//   code 71); after the values of a line the rest of it (the label) is skipped.
// Names are prefixed with "DefaultOutputDirectory" when written and with
// "InitialStateDirectory" when read. A file that cannot be opened or written
// ends the run through the owner's write error (exit code 18).
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tavro {

class DiagnosticsLog;
class modelobject;

inline constexpr int kStateMismatchExitCode = 71;
// Relative difference up to which a stored parameter equals the current one.
inline constexpr double kStateValueTolerance = 1e-5;

// The text of a real that reads back to the same double (17 significant digits).
std::string RoundTripReal(double value);

// Whether a stored parameter agrees with the current run: a stored value other
// than 0 within the relative tolerance, a stored 0 only with a current 0.
bool StoredValueMatches(double stored, double current);

// Logs "FATAL: <prefix>error in storage file content reading <description>:
// \nvalue in actual control is:   <current>\nbut value in storage file is:
// <stored>\nTavro throws..." and throws 71. Without a stored value (none could
// be read) the entry says so in its place.
[[noreturn]] void ThrowStateMismatch(DiagnosticsLog &log, std::string_view prefix,
                                     std::string_view description, double current,
                                     std::optional<double> stored);

class StateFileWriter {
public:
  // Opens the owner's output directory + fileName for appending (append) or
  // creates it anew.
  StateFileWriter(modelobject &owner, const std::string &fileName, bool append);
  ~StateFileWriter(); // closes a file that Close did not
  StateFileWriter(const StateFileWriter &) = delete;
  StateFileWriter &operator=(const StateFileWriter &) = delete;

  void Header(std::string_view section); // "<section>\n"
  void Integer(long long value);         // "%lld"
  void Real(double value);               // RoundTripReal
  void Text(std::string_view text);      // separators, labels and line breaks as given
  // Closes the file; a write or close that failed ends the run (18).
  void Close();
  const std::string &Path() const { return path_; }

private:
  modelobject &owner_;
  std::string path_;
  std::FILE *file_ = nullptr;
  bool failed_ = false;
};

// What a module does when a stored value does not fit: its FATAL entry and
// exit code 71 (it must not return). stored is empty when no number could be read.
using StateMismatch =
    std::function<void(std::string_view description, double current, std::optional<double> stored)>;

class StateFileReader {
public:
  // Opens the owner's initial-state directory + fileName for reading;
  // IsOpen() tells whether that worked.
  StateFileReader(const modelobject &owner, const std::string &fileName, StateMismatch mismatch);
  ~StateFileReader();
  StateFileReader(const StateFileReader &) = delete;
  StateFileReader &operator=(const StateFileReader &) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  const std::string &Path() const { return path_; }

  // Reads on to the line that is exactly header (trailing blanks and a
  // carriage return allowed) and stops after it; false at the end of the file.
  bool FindSection(std::string_view header);
  // The next integer, which must equal expected.
  void ExpectInteger(int expected, std::string_view description);
  // The next real; current is the run's own value, named in a mismatch.
  double ReadReal(std::string_view description, double current);
  // The next real, or none when no number can be read there.
  std::optional<double> TryReadReal();
  // The next real, which must agree with current (StoredValueMatches).
  void CheckReal(double current, std::string_view description);
  // Skips the rest of the current line (its label).
  void SkipLine();
  // The rest of the current line without its line break (a label that
  // carries a value of its own).
  std::string RestOfLine();

private:
  [[noreturn]] void Mismatch(std::string_view description, double current,
                             std::optional<double> stored) const;

  std::string path_;
  std::FILE *file_ = nullptr;
  StateMismatch mismatch_;
};

// The header of a section whose contents are not kept yet, as its own
// section: written alone, appended or creating the file.
void WriteStateSectionHeader(modelobject &owner, const std::string &fileName,
                             std::string_view section, bool append);

} // namespace tavro
