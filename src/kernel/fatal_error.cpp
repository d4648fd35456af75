// Fatal-error helper and the parallel-region error collector.
#include "kernel/fatal_error.h"

#include "kernel/diagnostics_log.h"

namespace tavro {

void ThrowFatal(DiagnosticsLog &log, int exitCode, std::string_view text) {
  std::string entry = "FATAL: ";
  entry += text;
  entry += DiagnosticsLog::EndToken;
  log.Entry(entry);
  throw exitCode;
}

void ParallelErrors::Record(int exitCode, std::string message) noexcept {
  std::lock_guard lock(mutex_);
  if (any_)
    return;
  any_ = true;
  exitCode_ = exitCode;
  message_ = std::move(message);
}

void ParallelErrors::RecordLogged(int exitCode) noexcept {
  std::lock_guard lock(mutex_);
  if (any_)
    return;
  any_ = true;
  logged_ = true;
  exitCode_ = exitCode;
}

bool ParallelErrors::Any() const {
  std::lock_guard lock(mutex_);
  return any_;
}

int ParallelErrors::ExitCode() const {
  std::lock_guard lock(mutex_);
  return any_ ? exitCode_ : 0;
}

void ParallelErrors::ThrowIfAny(DiagnosticsLog &log) const {
  std::lock_guard lock(mutex_);
  if (!any_)
    return;
  if (logged_)
    throw exitCode_;
  ThrowFatal(log, exitCode_, message_);
}

} // namespace tavro
