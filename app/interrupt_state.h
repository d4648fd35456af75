// Process-wide state read by the signal handlers: the running application
// (none whenever no application exists) and the exit code of the last run.
#pragma once

namespace tavro {

class ModellApplication;

extern int ExitCode;

ModellApplication *CurrentApplication();
void SetCurrentApplication(ModellApplication *application);

// Installs the Ctrl-C and floating-point handlers; they do nothing while no
// application exists.
void InstallSignalHandlers();

} // namespace tavro
