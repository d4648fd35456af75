// Ending the process at once, with the diagnostics file closed.
#include "process_end.h"

#include <mpi.h>

#include <cstdio>
#include <cstdlib>

#include "interrupt_state.h"
#include "kernel/diagnostics_log.h"

namespace tavro {

std::function<void(int)> CancelClosingLog(std::unique_ptr<DiagnosticsLog> &log) {
  return [&log](int status) {
    SetCurrentApplication(nullptr);
    log.reset();
    std::fflush(nullptr);
    // Every process chose this at the same agreement: wait until all have
    // closed their files, then leave MPI properly on every rank before exiting
    // with the status. A process that merely exited would let the launcher
    // kill the others with a signal, and an abort may cut off console output
    // the launcher has not forwarded yet.
    MPI_Barrier(MPI_COMM_WORLD);
    MPI_Finalize();
    std::exit(status);
  };
}

} // namespace tavro
