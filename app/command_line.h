// What the command line says: the diagnostics options and which arguments
// are control files (one model run each, in command-line order).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavro {

struct CommandLine {
  std::string DiagnosticsFile; // empty: the log's default name
  int DiagnosticsLevel = 4;
  std::vector<int> ControlFileArguments; // argument positions, in order
  bool HasArguments = false;             // anything besides the program name
};

// "FATAL" 0, "ERROR" 1, "WARNING" 2, "INFO" 3 after upper-casing a..z; else 4.
int DiagnosticsLevelFromWord(std::string_view word);

// True for the exact words "-dumpmode", "-closeAfterDump", "-repairAfterDump".
bool IsDumpOption(std::string_view argument);

CommandLine ParseCommandLine(int argc, const char *const *argv);

} // namespace tavro
