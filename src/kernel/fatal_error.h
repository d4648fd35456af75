// The one way a fatal condition ends the run: log its FATAL entry, throw the
// exit code as an int. Also the collector that carries the first error of an
// OpenMP region out to the calling thread, since nothing may throw out of one.
#pragma once

#include <mutex>
#include <sstream>
#include <string>
#include <string_view>

namespace tavro {

class DiagnosticsLog;

// Logs "FATAL: <text>[end-entry]" as one entry and throws exitCode.
[[noreturn]] void ThrowFatal(DiagnosticsLog &log, int exitCode, std::string_view text);

// Builds a message from streamable pieces with the log's number formatting.
template <class... Pieces> std::string Concat(const Pieces &...pieces) {
  std::ostringstream text;
  (text << ... << pieces);
  return text.str();
}

// Records the first error raised inside a parallel region; the thread that
// opened the region logs it once and throws after the region has ended.
class ParallelErrors {
public:
  // Thread-safe; only the first error is kept.
  void Record(int exitCode, std::string message) noexcept;
  // For an exit code thrown inside the region whose FATAL entry is already
  // logged: after the region it is thrown again without a second entry.
  void RecordLogged(int exitCode) noexcept;
  bool Any() const;
  int ExitCode() const; // of the recorded error, 0 when none
  // Throws through ThrowFatal when an error was recorded.
  void ThrowIfAny(DiagnosticsLog &log) const;

private:
  mutable std::mutex mutex_;
  bool any_ = false;
  int exitCode_ = 0;
  std::string message_;
  bool logged_ = false;
};

} // namespace tavro
