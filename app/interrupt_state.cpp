// Signal handlers and the state they read.
#include "interrupt_state.h"

#include <atomic>
#include <csignal>

namespace tavro {
namespace {
std::atomic<ModellApplication *> current{nullptr};
volatile std::sig_atomic_t interruptFlag = 0;

extern "C" void OnInterrupt(int) {
  if (current.load() != nullptr)
    interruptFlag = 1;
}
} // namespace

int ExitCode = 0;

ModellApplication *CurrentApplication() { return current.load(); }
void SetCurrentApplication(ModellApplication *application) { current.store(application); }

void InstallSignalHandlers() { std::signal(SIGINT, OnInterrupt); }

} // namespace tavro
