// Ending the process at once for choice 2 of the Ctrl-C dialogue: the
// diagnostics file is closed (so it stays well-formed), nothing else is
// flushed, MPI is not finalised, and the whole job ends with the status.
#pragma once

#include <functional>
#include <memory>

namespace tavro {

class DiagnosticsLog;

// A CancelNow action for ApplicationServices that deletes the log and ends the
// job with the status (collective: every process calls it at the same point). The log must outlive
// the returned function's use.
std::function<void(int)> CancelClosingLog(std::unique_ptr<DiagnosticsLog> &log);

} // namespace tavro
