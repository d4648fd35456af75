// Preprocessing of a control file into its substituted copy: "$set" symbol
// definitions, the substitution of every symbol name by its value, "#"
// comments and "//" joins. Every later reader of a run opens the copy
// ("<control file>_<rank>.$$$"), never the control file itself, and every
// process builds its own copy from the same control file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

class DiagnosticsLog;

// One "$set" definition; the name keeps its leading "$".
struct ControlSymbol {
  std::string Name;
  std::string Value;
};

// Symbols in definition order. When a name is defined twice the first
// definition is the one every use takes.
using SymbolTable = std::vector<ControlSymbol>;

struct ControlFileLimits {
  // A physical line of the control file, line break included.
  static constexpr std::size_t MaxPhysicalLine = 1199;
  // A line after substitution, with the blank put in front of it.
  static constexpr std::size_t MaxRewrittenLine = 1200;
  static constexpr std::size_t MaxSymbolCount = 1999;
  // A symbol name (with its "$") and a symbol value.
  static constexpr std::size_t MaxSymbolText = 299;
  // The name of the substituted copy.
  static constexpr std::size_t MaxFileName = 1200;
};

// "%s_%d.$$$" of the control-file name (as given, directory included) and rank.
std::string SubstitutedControlFileName(const std::string &controlFileName, int rank);

// Builds the substituted copy of the control file for this rank and returns
// its name. Fatal conditions (logged, then the exit code is thrown): the
// control file or the copy cannot be opened or the control file rewound (28),
// closing or writing either fails (11), an undefined or self-referencing
// symbol, a malformed definition or a limit of ControlFileLimits exceeded (17).
std::string CompileSymbols(DiagnosticsLog &log, const std::string &controlFileName, int rank);

// Rewrites one line as held during preprocessing (one blank put in front of
// the control file's line, line break kept): the "#" comment is cut, then,
// unless the line contains "$set", every symbol name is replaced by its value
// and every "//" deleted. lineNumber serves only the error entries.
std::string ReplaceSymbols(DiagnosticsLog &log, std::string line, long lineNumber,
                           const SymbolTable &symbols);

} // namespace tavro
