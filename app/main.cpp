// Program entry: starts MPI, creates the log, runs one application per control
// file in command-line order and ends the whole job on a fatal exit code.
#include <mpi.h>
#include <omp.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "command_line.h"
#include "default_threads.h"
#include "fatal_end.h"
#include "interrupt_state.h"
#include "kernel/diagnostics_log.h"
#include "modell_application.h"
#include "process_end.h"

namespace {

using tavro::DiagnosticsLog;

const char *const kVersionText = "Brenk 0.1.0 $Date: 2026-12-10 $ compiled " __DATE__ " " __TIME__;

std::string WithoutDollars(std::string text) {
  std::erase(text, '$');
  return text;
}

void WriteBanner(DiagnosticsLog &log) {
  const std::string dashes76(76, '-');
  const std::string dashes75(75, '-');
  log << dashes76.c_str() << "[end-entry]";
  log << "Tavro-Brenk (MPI) "
      << "[end-entry]";
  log << "64-bit Version on Linux "
      << "[end-entry]";
  log << "Version: " << WithoutDollars(kVersionText).c_str() << "[end-entry]";
  const std::string block = "Tavro: gridded runoff and water balance model\n"
                            "(c) the Tavro developers, all rights reserved\n"
                            "This program is provided as it is, without any warranty.\n"
                            "Use it at your own risk and check your results.\n"
                            "Best wishes for your application!\n"
                            "\n"
                            "Questions and reports: through the project's issue tracker\n" +
                            dashes75;
  log << block.c_str() << "[end-entry]";
  log.FlushConsole();
}

void ReportOpenMPThreads(int rank) {
#pragma omp parallel
  {
    std::printf("This is OpenMP thread %d\n", omp_get_thread_num());
#pragma omp barrier
    if (omp_get_thread_num() == 0) {
      std::printf("*** There are %d OpenMP threads total for MPI process %d\n",
                  omp_get_num_threads(), rank);
    }
  }
}

void ReportInstance(DiagnosticsLog &log, int rank, int size) {
  if (rank == 0) {
    log << "\n this is the MPI-Version of Tavro, here is instance " << 1 << " of " << size
        << "[end-entry]";
  } else {
    std::printf("\n this is the MPI-Version of Tavro, here is instance %d of %d\n", rank + 1, size);
  }
  ReportOpenMPThreads(rank);
  std::fflush(nullptr);
  log.FlushConsole();
}

void LogUsage(DiagnosticsLog &log) {
  log << "FATAL: \nusage: tavrovz[o]<32|64>|dedudaze64 <1-st cntrl-file> [<2-nd cntrl-file> ... "
         "[n-th cntrl-file]] [-diagfile:<diagnostics_file> "
         "[-diaglevel:<FATAL|ERROR|WARNING|INFO|DEBUG>]] [-dumpmode "
         "[-closeAfterDump|-repairAfterDump]]\n"
      << "[end-entry]";
  log << "INFO: \n-dumpmode: if soil moisture or soil temperatures or hydraulic head (all in "
         "Richards approach only) leave the expected range, a dumpfile is written containing "
         "the actual internal registers (can be used for debugging) "
      << "\n-closeAfterDump: Tavro stops the program execution immediately (usefull to prevent "
         "the hard disk from beeing filled up with dumpfiles)"
      << "\n-repairAfterDump: let Tavro try to repair the unexpected results, e.g. a soil "
         "temperature that is higher or lower than that of both neighboring soil layers will be "
         "set to the maxumum/minimum of the neighboring layers etc. Although the error is "
         "repaired it may well happen that the hard disk is flooded with other dump files."
      << "[end-entry]";
}

// Runs every control file; returns the exit code of the last run.
int RunControlFiles(std::unique_ptr<DiagnosticsLog> &log, int argc, char **argv,
                    const tavro::CommandLine &line) {
  tavro::ApplicationServices services;
  // Choice 2 of the Ctrl-C dialogue: close the diagnostics file and end the
  // process at once, without flushing buffers or finalising MPI.
  services.CancelNow = tavro::CancelClosingLog(log);
  for (const int argument : line.ControlFileArguments) {
    auto application =
        std::make_unique<tavro::ModellApplication>(*log, argc, argv, argument, services);
    tavro::SetCurrentApplication(application.get());
    tavro::ExitCode = 0;
    tavro::InstallSignalHandlers();
    tavro::ExitCode = application->run();
    application->ClearMemory();
    tavro::SetCurrentApplication(nullptr);
    application.reset();
  }
  return tavro::ExitCode;
}

// The log itself could not be created (320): there is no log to agree with;
// the job ends with the code at once.
int AbortWithoutLog(int code) {
  std::fflush(nullptr);
  MPI_Abort(MPI_COMM_WORLD, code);
  return code;
}

} // namespace

int main(int argc, char **argv) {
  MPI_Init(&argc, &argv);
  int rank = 0;
  int size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  MPI_Barrier(MPI_COMM_WORLD);
  const tavro::NodeThreads nodeThreads = tavro::ApplyDefaultThreads(std::getenv("OMP_NUM_THREADS"));
  tavro::EndAgreement endAgreement;

  const tavro::CommandLine line = tavro::ParseCommandLine(argc, argv);
  std::unique_ptr<DiagnosticsLog> log;
  try {
    log = std::make_unique<DiagnosticsLog>(line.DiagnosticsFile, line.DiagnosticsLevel);
  } catch (int code) {
    return AbortWithoutLog(code);
  }
  tavro::SetCurrentApplication(nullptr);

  try {
    WriteBanner(*log);
    *log << tavro::DescribeNodeThreads(nodeThreads) << "[end-entry]";
    ReportInstance(*log, rank, size);
    if (!line.HasArguments) {
      LogUsage(*log);
      throw 2;
    }
    const int exitCode = RunControlFiles(log, argc, argv, line);
    *log << "exitcode " << exitCode << "[end-entry]";
    *log << "o.k.\n\nthe end."
         << "[end-entry]";
    MPI_Finalize();
    log.reset();
    return exitCode;
  } catch (int code) {
    return tavro::EndAfterFatalError(log, code, endAgreement);
  } catch (const std::exception &error) {
    // Not an exit code: still end every rank, so none waits in a collective.
    *log << "FATAL: unexpected exception caught at top level: " << error.what() << "[end-entry]";
    *log << "FATAL: Program aborted with exit code " << 103 << "[end-entry]";
    return tavro::EndJob(log, 103, endAgreement);
  } catch (...) {
    *log << "FATAL: unknown exception caught at top level!"
         << "[end-entry]";
    *log << "FATAL: Program aborted with exit code " << 103 << "[end-entry]";
    return tavro::EndJob(log, 103, endAgreement);
  }
}
