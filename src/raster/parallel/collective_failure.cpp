// Agreement on failures of collective file operations.
#include "raster/parallel/collective_failure.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"

#include <mpi.h>

#include <array>
#include <string>
#include <vector>

namespace tavro {
namespace {

constexpr int kFatalTextTag = 7301;
// Separates the entries of one message; a log text never holds it.
constexpr char kEntrySeparator = '\0';

// From the failing rank `from` (not 0) to rank 0, which logs each text as a
// FATAL entry of its own.
void HandFatalTexts(DiagnosticsLog &log, int rank, int from,
                    const std::vector<std::string> &texts) {
  if (rank == from) {
    std::string message;
    for (const std::string &text : texts) {
      if (!message.empty())
        message += kEntrySeparator;
      message += text;
    }
    MPI_Send(message.data(), static_cast<int>(message.size()), MPI_CHAR, 0, kFatalTextTag,
             MPI_COMM_WORLD);
    return;
  }
  if (rank != 0)
    return;
  MPI_Status status;
  MPI_Probe(from, kFatalTextTag, MPI_COMM_WORLD, &status);
  int length = 0;
  MPI_Get_count(&status, MPI_CHAR, &length);
  std::string message(static_cast<std::size_t>(length), ' ');
  MPI_Recv(message.data(), length, MPI_CHAR, from, kFatalTextTag, MPI_COMM_WORLD,
           MPI_STATUS_IGNORE);
  std::size_t start = 0;
  while (start < message.size()) {
    std::size_t end = message.find(kEntrySeparator, start);
    if (end == std::string::npos)
      end = message.size();
    log.Entry(std::string("FATAL: ") + message.substr(start, end - start) +
              std::string(DiagnosticsLog::EndToken));
    start = end + 1;
  }
}

} // namespace

int AgreedExitCode(int localCode) {
  int agreed = 0;
  MPI_Allreduce(&localCode, &agreed, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  return agreed;
}

void ThrowIfAnyFailed(DiagnosticsLog &log, int localCode) {
  int rank = 0;
  int size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  // The largest code, and size - (lowest failing rank), in one reduction.
  std::array<int, 2> local{localCode, localCode != 0 ? size - rank : 0};
  std::array<int, 2> agreed{};
  MPI_Allreduce(local.data(), agreed.data(), 2, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  const std::vector<std::string> texts = log.TakeFatalTexts();
  if (agreed[0] == 0)
    return;
  const int firstFailing = size - agreed[1];
  if (firstFailing != 0)
    HandFatalTexts(log, rank, firstFailing, texts);
  throw agreed[0];
}

void ThrowFatalIfAny(DiagnosticsLog &log, int rank, bool failed, int exitCode,
                     std::string_view message) {
  if (AgreedExitCode(failed ? 1 : 0) == 0)
    return;
  if (failed || rank == 0)
    ThrowFatal(log, exitCode, message);
  throw exitCode;
}

} // namespace tavro
