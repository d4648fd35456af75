// How the job ends after a fatal error: the failing processes tell each other
// their codes and wait, for a bounded time, until every process has arrived.
// When all have (an error every process met by itself), the job leaves MPI in
// order and every process returns the lowest failing rank's code, so no
// output is cut and the diagnostics file is whole. When some processes never
// arrive (busy in a collective or in work of their own), the lowest failing
// rank ends the job with MPI_Abort, rank 0 having closed its log first.
#pragma once

#include <mpi.h>

#include <chrono>
#include <memory>
#include <vector>

namespace tavro {

class DiagnosticsLog;

// How long a failing process waits for the others: rank 0 about a second; the
// others longer, so that a rank 0 still busy with work of its own can meet
// the same error and end the job in order with its log.
inline constexpr std::chrono::milliseconds kRootEndWait{1000};
inline constexpr std::chrono::milliseconds kOtherEndWait{3000};
// A failing process that knows of a lower failing rank leaves the abort to
// that rank; should it not come, the process ends the job itself after this.
inline constexpr std::chrono::milliseconds kAbortGrace{10000};

// What the failing processes agreed on.
struct EndOutcome {
  bool everyProcessFailed = false; // end in order: MPI_Finalize, then return the code
  int exitCode = 0;                // the lowest failing rank's code (as far as known)
};

// The agreement's own communicator, duplicated from the world right after
// MPI_Init (collective), so that its messages and its barrier never meet a
// collective the model was inside when it failed.
class EndAgreement {
public:
  EndAgreement();
  ~EndAgreement();
  EndAgreement(const EndAgreement &) = delete;
  EndAgreement &operator=(const EndAgreement &) = delete;

  // Called once by a failing process with its code: announces the code to
  // every other process, enters a non-blocking barrier and waits for it up to
  // `wait`. A process that knows of a lower failing rank waits longer (up to
  // `grace`) for the barrier or for that rank's abort.
  EndOutcome Agree(int exitCode, std::chrono::milliseconds wait, std::chrono::milliseconds grace);

private:
  // Takes every announcement that has arrived.
  void TakeAnnouncements();
  int LowestFailingRank() const;

  MPI_Comm comm_ = MPI_COMM_NULL;
  int rank_ = 0;
  std::vector<int> codes_; // per rank: its announced code, 0 when not heard of
  std::vector<bool> heard_;
};

// The top-level handling of an exit code: logs "FATAL: Exception <code> caught
// at top level!" and "FATAL: Program aborted with exit code <code>", agrees
// with the other processes and ends. In order it finalises MPI, closes the log
// and returns the agreed code; otherwise it closes the log and calls
// MPI_Abort (returning the code should that return).
int EndAfterFatalError(std::unique_ptr<DiagnosticsLog> &log, int exitCode, EndAgreement &agreement);

// The same end with entries of the caller's own (the two FATAL entries are
// left out): for failures that are not an exit code.
int EndJob(std::unique_ptr<DiagnosticsLog> &log, int exitCode, EndAgreement &agreement);

} // namespace tavro
