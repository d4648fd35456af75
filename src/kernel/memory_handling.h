// Root of every model object: the run's log, the object's name (named in
// allocation failures and in control-file errors) and its initialised state.
// The grids and stacks themselves are the RAII types of kernel/grid.h.
#pragma once

#include <string>
#include <string_view>

namespace tavro {

class DiagnosticsLog;

class memory_handling {
public:
  // Longest object name (module or variable name); longer names are refused
  // with a FATAL entry and exit code 17, as they come from the control file.
  static constexpr std::size_t MaxModuleNameLength = 100;

  memory_handling(DiagnosticsLog &log, std::string moduleName);
  virtual ~memory_handling() = default;
  memory_handling(const memory_handling &) = delete;
  memory_handling &operator=(const memory_handling &) = delete;

  // Logs "FATAL: memory allocation error in <ModuleName> (<code>)" and throws 81.
  [[noreturn]] void memory_error(int code) const;

  int Initialized = 0;    // 1 once the application has created and wired the object
  DiagnosticsLog *Log;    // the run's log, not owned; never null
  std::string ModuleName; // for example "snow_model"
};

} // namespace tavro
