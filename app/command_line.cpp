// Command-line parsing; the last of repeated diagnostics options counts.
#include "command_line.h"

namespace tavro {
namespace {
constexpr std::string_view kLevelOption = "-diaglevel:";
constexpr std::string_view kFileOption = "-diagfile:";

bool HasPrefix(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}
} // namespace

int DiagnosticsLevelFromWord(std::string_view word) {
  std::string upper(word);
  for (char &c : upper) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  }
  if (upper == "FATAL")
    return 0;
  if (upper == "ERROR")
    return 1;
  if (upper == "WARNING")
    return 2;
  if (upper == "INFO")
    return 3;
  return 4;
}

bool IsDumpOption(std::string_view argument) {
  return argument == "-dumpmode" || argument == "-closeAfterDump" || argument == "-repairAfterDump";
}

CommandLine ParseCommandLine(int argc, const char *const *argv) {
  CommandLine line;
  line.HasArguments = argc > 1;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (HasPrefix(argument, kLevelOption)) {
      line.DiagnosticsLevel = DiagnosticsLevelFromWord(argument.substr(kLevelOption.size()));
    } else if (HasPrefix(argument, kFileOption)) {
      line.DiagnosticsFile = std::string(argument.substr(kFileOption.size()));
    } else if (!IsDumpOption(argument)) {
      line.ControlFileArguments.push_back(i);
    }
  }
  return line;
}

} // namespace tavro
