// Construction of the model-object root and its allocation-failure report.
#include "kernel/memory_handling.h"

#include "kernel/fatal_error.h"
#include "kernel/grid.h"

namespace tavro {

memory_handling::memory_handling(DiagnosticsLog &log, std::string moduleName)
    : Log(&log), ModuleName(std::move(moduleName)) {
  if (ModuleName.size() > MaxModuleNameLength)
    ThrowFatal(log, 17,
               Concat("object name longer than ", MaxModuleNameLength,
                      " characters: ", ModuleName.substr(0, 80), "..."));
}

void memory_handling::memory_error(int code) const { tavro::memory_error(*Log, ModuleName, code); }

} // namespace tavro
