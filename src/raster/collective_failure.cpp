// Agreement on failures of collective file operations.
#include "raster/collective_failure.h"

#include "kernel/fatal_error.h"

#include <mpi.h>

namespace tavro {

int AgreedExitCode(int localCode) {
  int agreed = 0;
  MPI_Allreduce(&localCode, &agreed, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  return agreed;
}

void ThrowIfAnyFailed(int localCode) {
  const int agreed = AgreedExitCode(localCode);
  if (agreed != 0)
    throw agreed;
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
