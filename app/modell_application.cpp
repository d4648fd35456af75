// Stand-in application until the staged set-up and the modules exist.
#include "modell_application.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"

namespace tavro {

ModellApplication::ModellApplication(DiagnosticsLog &log, int /*argc*/, char **argv,
                                     int controlFileArgument)
    : Log(log) {
  ThrowFatal(Log, 1,
             Concat("the model set-up is not built yet; control file ", argv[controlFileArgument],
                    " cannot be run"));
}

int ModellApplication::run() { return 0; }

void ModellApplication::ClearMemory() {}

} // namespace tavro
