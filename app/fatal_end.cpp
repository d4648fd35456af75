// The end of the job after a fatal error: agreement of the failing processes,
// then MPI_Finalize or MPI_Abort.
#include "fatal_end.h"

#include <cstdio>
#include <thread>

#include "interrupt_state.h"
#include "kernel/diagnostics_log.h"

namespace tavro {
namespace {

constexpr int kAnnouncementTag = 1;
constexpr std::chrono::milliseconds kPollInterval{1};

} // namespace

EndAgreement::EndAgreement() {
  MPI_Comm_dup(MPI_COMM_WORLD, &comm_);
  MPI_Comm_rank(comm_, &rank_);
  int size = 1;
  MPI_Comm_size(comm_, &size);
  codes_.assign(static_cast<std::size_t>(size), 0);
  heard_.assign(static_cast<std::size_t>(size), false);
}

EndAgreement::~EndAgreement() {
  int finalized = 0;
  MPI_Finalized(&finalized);
  if (finalized == 0 && comm_ != MPI_COMM_NULL)
    MPI_Comm_free(&comm_);
}

void EndAgreement::TakeAnnouncements() {
  for (;;) {
    int arrived = 0;
    MPI_Status status;
    MPI_Iprobe(MPI_ANY_SOURCE, kAnnouncementTag, comm_, &arrived, &status);
    if (arrived == 0)
      return;
    const auto source = static_cast<std::size_t>(status.MPI_SOURCE);
    MPI_Recv(&codes_[source], 1, MPI_INT, status.MPI_SOURCE, kAnnouncementTag, comm_,
             MPI_STATUS_IGNORE);
    heard_[source] = true;
  }
}

int EndAgreement::LowestFailingRank() const {
  for (std::size_t rank = 0; rank < heard_.size(); ++rank)
    if (heard_[rank])
      return static_cast<int>(rank);
  return rank_;
}

EndOutcome EndAgreement::Agree(int exitCode, std::chrono::milliseconds wait,
                               std::chrono::milliseconds grace) {
  const auto own = static_cast<std::size_t>(rank_);
  codes_[own] = exitCode;
  heard_[own] = true;
  // The announcements stay pending when the job is aborted: their buffer is
  // the member that outlives this call.
  std::vector<MPI_Request> announcements;
  for (std::size_t rank = 0; rank < codes_.size(); ++rank) {
    if (rank == own)
      continue;
    announcements.emplace_back();
    MPI_Isend(&codes_[own], 1, MPI_INT, static_cast<int>(rank), kAnnouncementTag, comm_,
              &announcements.back());
  }
  MPI_Request barrier = MPI_REQUEST_NULL;
  MPI_Ibarrier(comm_, &barrier);

  const auto start = std::chrono::steady_clock::now();
  bool everyProcessArrived = false;
  for (;;) {
    int done = 0;
    MPI_Test(&barrier, &done, MPI_STATUS_IGNORE);
    TakeAnnouncements();
    if (done != 0) {
      everyProcessArrived = true;
      break;
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    if (waited >= wait && (LowestFailingRank() == rank_ || waited >= wait + grace))
      break;
    std::this_thread::sleep_for(kPollInterval);
  }
  if (!everyProcessArrived)
    return {false, codes_[static_cast<std::size_t>(LowestFailingRank())]};

  // Every process failed and announced its code to every other before the
  // barrier: take the announcements still under way, so nothing is pending.
  for (std::size_t rank = 0; rank < codes_.size(); ++rank) {
    if (!heard_[rank]) {
      MPI_Recv(&codes_[rank], 1, MPI_INT, static_cast<int>(rank), kAnnouncementTag, comm_,
               MPI_STATUS_IGNORE);
      heard_[rank] = true;
    }
  }
  MPI_Waitall(static_cast<int>(announcements.size()), announcements.data(), MPI_STATUSES_IGNORE);
  return {true, codes_[0]};
}

int EndJob(std::unique_ptr<DiagnosticsLog> &log, int exitCode, EndAgreement &agreement) {
  SetCurrentApplication(nullptr);
  std::fflush(nullptr);
  if (log)
    log->FlushConsole();
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  const EndOutcome outcome =
      agreement.Agree(exitCode, rank == 0 ? kRootEndWait : kOtherEndWait, kAbortGrace);
  if (outcome.everyProcessFailed) {
    MPI_Finalize();
    log.reset();
    std::fflush(nullptr);
    return outcome.exitCode;
  }
  log.reset();
  std::fflush(nullptr);
  MPI_Abort(MPI_COMM_WORLD, outcome.exitCode);
  return outcome.exitCode;
}

int EndAfterFatalError(std::unique_ptr<DiagnosticsLog> &log, int exitCode,
                       EndAgreement &agreement) {
  if (log) {
    *log << "FATAL: Exception " << exitCode << " caught at top level!"
         << "[end-entry]";
    *log << "FATAL: Program aborted with exit code " << exitCode << "[end-entry]";
  }
  return EndJob(log, exitCode, agreement);
}

} // namespace tavro
