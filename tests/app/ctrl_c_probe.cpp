// A small program for the console dialogue under mpiexec: builds an
// application of recording doubles (three daily steps), presses Ctrl-C on the
// last rank through the real SIGINT handler, and runs the time loop with the
// answer read from standard input. Prints "run returned N" on every rank and
// exits with N; choice 2 ends the process inside the loop.
#include <mpi.h>

#include <csignal>
#include <cstdio>
#include <memory>

#include "interrupt_state.h"
#include "kernel/diagnostics_log.h"
#include "modell_application.h"
#include "process_end.h"
#include "recording_modules.h"

int main(int argc, char **argv) {
  MPI_Init(&argc, &argv);
  int rank = 0, size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  int result = 0;
  {
    auto log = std::make_unique<tavro::DiagnosticsLog>("Tavro_Diag.xml", 4);
    tavro::test::RecordingFactory factory{tavro::test::RecordingConfig{}};
    tavro::test::WriteRecordingFixture(factory.config);
    tavro::ApplicationServices services;
    services.Factory = &factory;
    services.CancelNow = tavro::CancelClosingLog(log); // as the program does
    char program[] = "tavro", control[] = "run.ctl";
    char *arguments[] = {program, control, nullptr};
    tavro::ModellApplication application(*log, 2, arguments, 1, services);
    tavro::SetCurrentApplication(&application);
    tavro::InstallSignalHandlers();
    if (rank == size - 1)
      std::raise(SIGINT);
    result = application.run();
    tavro::SetCurrentApplication(nullptr);
    std::printf("rank %d: run returned %d after %d steps\n", rank, result,
                factory.calls.Count("routing_model.ComputeTimeStep"));
    std::fflush(stdout);
  }
  MPI_Finalize();
  return result;
}
