// Process-wide state shared with the signal handlers: the running
// application (none whenever no application exists), the exit code of the
// last run, the Ctrl-C state of the running application and a pending
// floating-point error. The handlers only touch sig_atomic_t flags and write
// one notice with write(2), so they may interrupt any point of the program.
#pragma once

#include <csignal>

namespace tavro {

class ModellApplication;

extern int ExitCode;

ModellApplication *CurrentApplication();
// Also enables (non-null) or disables (null) the handlers.
void SetCurrentApplication(ModellApplication *application);

// Ctrl-C state of the running application: 0 nothing pending, 1 Ctrl-C
// pressed on this process, 99 cancel after the current pass, other values a
// dialogue answer kept until the next agreement.
int InterruptState();
void SetInterruptState(int state);

// True once per SIGFPE received while an application ran; the application
// hands it to its modules' floating-point-error flags.
bool FloatingPointErrorPending();
void ClearFloatingPointError();

// The SIGINT handler: ignores further SIGINTs until installed again; the
// first Ctrl-C with an application and no pending state sets the state to 1
// and prints "\nCntr-C pressed! please wait...\n\n".
extern "C" void OnInterrupt(int signalNumber);
// The SIGFPE handler: a signalled floating-point error is recorded once and
// reported as "floating point error\n". A trap raised by an instruction (an
// integer division by zero) would trap again on return, so the default
// action is restored and the process ends with SIGFPE.
extern "C" void OnFloatingPointError(int signalNumber, siginfo_t *info, void *context);

void InstallInterruptHandler();        // OnInterrupt for SIGINT
void RestoreDefaultInterruptHandler(); // system default for SIGINT
void IgnoreInterrupts();               // SIGINT ignored (while files are written)
void InstallSignalHandlers();          // OnInterrupt and OnFloatingPointError

} // namespace tavro
