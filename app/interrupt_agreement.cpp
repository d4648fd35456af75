// Ctrl-C agreement: two max-reductions to rank 0, each broadcast back.
#include "interrupt_agreement.h"

#include <mpi.h>

#include "kernel/diagnostics_log.h"

namespace tavro {
namespace {
constexpr const char *kDialogue =
    "SKIP: \n\nCtrl-C: cancel the model? \n0 = no (continue)\n1 = cancel with next interval "
    "(writing all grids and buffers)\n2 = cancel now without saving buffers!\n3 = flush "
    "buffers and go on\n\nchoose one of the above options: ";

int MaximumOverAllRanks(int value) {
  int maximum = 0;
  MPI_Reduce(&value, &maximum, 1, MPI_INT, MPI_MAX, 0, MPI_COMM_WORLD);
  MPI_Bcast(&maximum, 1, MPI_INT, 0, MPI_COMM_WORLD);
  return maximum;
}
} // namespace

int ReadInterruptAnswer(std::FILE *input) {
  char word[16] = {};
  if (input == nullptr || std::fscanf(input, "%15s", word) != 1)
    return 0;
  return (word[0] >= '0' && word[0] <= '9') ? word[0] - '0' : 0;
}

InterruptAgreement AgreeOnInterrupt(int localState, DiagnosticsLog &log, std::FILE *input) {
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  const int combined = MaximumOverAllRanks(localState);
  if (combined == kCancelAfterPass)
    return {kCancelAfterPass, false};
  int state = 0;
  if (combined == 1 && rank == 0) {
    log << kDialogue << "[end-entry]";
    log.FlushConsole();
    state = ReadInterruptAnswer(input);
  }
  return {MaximumOverAllRanks(state), combined == 1};
}

} // namespace tavro
