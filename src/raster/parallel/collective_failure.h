// Failures of collective file operations reach every process: a step that may
// fail on some processes records its exit code, the processes agree on the
// largest one, and all of them throw it, so no process is left waiting in a
// collective call for a process that has already stopped. Only rank 0 writes
// the diagnostics file, so the reason a failing process logged is handed to
// rank 0 as part of the agreement.
#pragma once

#include <string_view>

namespace tavro {

class DiagnosticsLog;

// Runs step and returns the int exit code it threw, or 0.
template <class Step> int CaptureExitCode(Step &&step) {
  try {
    step();
    return 0;
  } catch (int code) {
    return code;
  }
}

// Largest exit code over all processes (MPI_COMM_WORLD); 0 when none failed.
int AgreedExitCode(int localCode);

// Collective: when any process failed (localCode != 0), throws the largest
// code everywhere. The failing processes have logged their entries already;
// when rank 0 is not among them, it logs the FATAL entries of the lowest
// failing rank (DiagnosticsLog::TakeFatalTexts) again, so that its file holds
// the reason. Every process drops its pending FATAL texts.
void ThrowIfAnyFailed(DiagnosticsLog &log, int localCode);

// Collective: when any process reports failed, rank 0 and every failing
// process log "FATAL: <message>" (ThrowFatal) and all throw exitCode.
void ThrowFatalIfAny(DiagnosticsLog &log, int rank, bool failed, int exitCode,
                     std::string_view message);

} // namespace tavro
