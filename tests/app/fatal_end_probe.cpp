// A small program for the end of a failed job under mpiexec: it starts like
// tavro (agreement, log), lets the ranks named on the command line fail with
// the given codes while the others wait in a collective that never completes,
// and ends through the program's own top-level handling.
// Usage: tavro_fatal_end_probe RANK:CODE [RANK:CODE ...]
#include <mpi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "fatal_end.h"
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"

namespace {

// The code this rank fails with, 0 when it does not fail.
int CodeOfRank(int rank, int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const std::size_t colon = argument.find(':');
    if (colon != std::string::npos && std::stoi(argument.substr(0, colon)) == rank)
      return std::stoi(argument.substr(colon + 1));
  }
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  MPI_Init(&argc, &argv);
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  tavro::EndAgreement agreement;
  auto log = std::make_unique<tavro::DiagnosticsLog>("", 4);
  try {
    const int code = CodeOfRank(rank, argc, argv);
    if (code != 0)
      tavro::ThrowFatal(*log, code, tavro::Concat("probe failure of mpi-rank ", rank));
    // Busy in a collective that the failing ranks never join.
    MPI_Barrier(MPI_COMM_WORLD);
    *log << "the collective completed"
         << "[end-entry]";
    MPI_Finalize();
    log.reset();
    return 0;
  } catch (int code) {
    return tavro::EndAfterFatalError(log, code, agreement);
  }
}
