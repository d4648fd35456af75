// Signal handlers and the flags they share with the application.
#include "interrupt_state.h"

#include <unistd.h>

#include <atomic>
#include <cstring>

namespace tavro {
namespace {
std::atomic<ModellApplication *> current{nullptr};
volatile std::sig_atomic_t applicationPresent = 0;
volatile std::sig_atomic_t interruptState = 0;
volatile std::sig_atomic_t floatingPointError = 0;

static_assert(std::atomic<ModellApplication *>::is_always_lock_free);

void WriteNotice(const char *text) {
  // write(2) is async-signal-safe; a failed write has nowhere to go.
  const ssize_t ignored = write(STDOUT_FILENO, text, std::strlen(text));
  (void)ignored;
}

void SetAction(int signalNumber, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(signalNumber, &action, nullptr);
}
} // namespace

int ExitCode = 0;

ModellApplication *CurrentApplication() { return current.load(); }

void SetCurrentApplication(ModellApplication *application) {
  applicationPresent = application != nullptr ? 1 : 0;
  current.store(application);
}

int InterruptState() { return interruptState; }
void SetInterruptState(int state) { interruptState = state; }

bool FloatingPointErrorPending() { return floatingPointError != 0; }
void ClearFloatingPointError() { floatingPointError = 0; }

extern "C" void OnInterrupt(int signalNumber) {
  SetAction(signalNumber, SIG_IGN);
  if (applicationPresent == 0 || interruptState != 0)
    return;
  interruptState = 1;
  WriteNotice("\nCntr-C pressed! please wait...\n\n");
}

extern "C" void OnFloatingPointError(int signalNumber, siginfo_t *info, void *) {
  if (info != nullptr && info->si_code > 0 && info->si_code != SI_KERNEL) {
    // Raised by the faulting instruction itself: returning would re-execute
    // it forever, so let the default action end the process.
    WriteNotice("floating point error (trap), ending the process\n");
    SetAction(signalNumber, SIG_DFL);
    return;
  }
  if (applicationPresent == 0 || floatingPointError != 0)
    return;
  floatingPointError = 1;
  WriteNotice("floating point error\n");
}

void InstallInterruptHandler() { SetAction(SIGINT, OnInterrupt); }
void RestoreDefaultInterruptHandler() { SetAction(SIGINT, SIG_DFL); }
void IgnoreInterrupts() { SetAction(SIGINT, SIG_IGN); }

void InstallSignalHandlers() {
  InstallInterruptHandler();
  struct sigaction action {};
  action.sa_sigaction = OnFloatingPointError;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGFPE, &action, nullptr);
}

} // namespace tavro
