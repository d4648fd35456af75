// Two passes over the control file: the first collects the "$set" symbols
// (so a symbol may be used above its definition), the second writes every
// line rewritten into the copy. Lines are read whole and refused when longer
// than the documented limit: a split line would turn its tail into a line of
// its own, which later readers would take for a value or a key.
#include "setup/control_file_preprocessor.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace tavro {
namespace {

constexpr int kOpenErrorCode = 28;
constexpr int kCloseErrorCode = 11;
constexpr int kSyntaxErrorCode = 17;

constexpr std::string_view kRule = "-----------------------------------------------------------";

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// A C stdio file closed on every way out; Close() reports whether closing worked.
class StdioFile {
public:
  StdioFile(const std::string &name, const char *mode) : file_(std::fopen(name.c_str(), mode)) {}
  ~StdioFile() {
    if (file_ != nullptr)
      std::fclose(file_);
  }
  StdioFile(const StdioFile &) = delete;
  StdioFile &operator=(const StdioFile &) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  std::FILE *Handle() { return file_; }
  bool Close() {
    const int result = std::fclose(file_);
    file_ = nullptr;
    return result == 0;
  }

private:
  std::FILE *file_;
};

// Reads the next physical line (line break included) of the control file.
// False at the end of the file. A line beyond the limit is fatal.
bool ReadPhysicalLine(DiagnosticsLog &log, StdioFile &file, const std::string &fileName,
                      long lineNumber, std::string &line) {
  line.clear();
  int c = 0;
  while ((c = std::getc(file.Handle())) != EOF) {
    line += static_cast<char>(c);
    if (line.size() > ControlFileLimits::MaxPhysicalLine)
      ThrowFatal(log, kSyntaxErrorCode,
                 Concat("error in control file ", fileName, ": line ", lineNumber,
                        " is longer than ", ControlFileLimits::MaxPhysicalLine,
                        " characters (line break included): ", line.substr(0, 80), "..."));
    if (c == '\n')
      break;
  }
  if (std::ferror(file.Handle()) != 0)
    ThrowFatal(log, kOpenErrorCode, Concat("error reading ", fileName));
  return !line.empty();
}

std::vector<std::string> SplitWords(std::string_view text) {
  std::vector<std::string> words;
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && IsSpace(text[pos]))
      ++pos;
    const std::size_t start = pos;
    while (pos < text.size() && !IsSpace(text[pos]))
      ++pos;
    if (pos > start)
      words.emplace_back(text.substr(start, pos - start));
  }
  return words;
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// Cuts a line at its first "#" behind the blank put in front of it. A note
// behind white space takes that white space with it, so a line that begins
// with "#" leaves nothing; a value directly followed by "#" keeps all of its
// characters.
void CutLineComment(std::string &line) {
  const std::size_t hash = line.find('#', 1);
  if (hash == std::string::npos)
    return;
  const std::size_t lineBreak = IsSpace(line[hash - 1]) ? hash - 1 : hash;
  line[lineBreak] = '\n';
  line.resize(lineBreak + 1);
}

// A value is one word: a "#" behind its first character ends it.
void CutValueComment(std::string &value) {
  const std::size_t hash = value.find('#', 1);
  if (hash != std::string::npos)
    value.resize(hash);
}

void DeleteJoins(std::string &line) {
  for (std::size_t pos = line.find("//"); pos != std::string::npos; pos = line.find("//"))
    line.erase(pos, 2);
}

[[noreturn]] void UndefinedSymbol(DiagnosticsLog &log, long lineNumber, std::string_view line) {
  ThrowFatal(log, kSyntaxErrorCode,
             Concat("\n", kRule, "\npossible error in control file!\n", "undefined symbol at line ",
                    lineNumber, ":\n", line, "\n\n", kRule, "\n"));
}

const ControlSymbol *FindSymbol(const SymbolTable &symbols, std::size_t count,
                                std::string_view name) {
  for (std::size_t i = 0; i < count; ++i)
    if (symbols[i].Name == name)
      return &symbols[i];
  return nullptr;
}

// Replaces symbol names, leftmost first, until no "$" is left. Only the first
// `count` symbols are known; `ownName` is the symbol whose value is being
// rewritten (empty for a line), which cannot be used in its own value.
void SubstituteSymbols(DiagnosticsLog &log, std::string &text, long lineNumber,
                       const SymbolTable &symbols, std::size_t count, std::string_view ownName) {
  std::size_t substitutions = 0;
  for (std::size_t pos = text.find('$'); pos != std::string::npos; pos = text.find('$')) {
    std::size_t end = pos;
    while (end < text.size() && !IsSpace(text[end]))
      ++end;
    std::string_view name = std::string_view(text).substr(pos, end - pos);
    name = name.substr(0, name.find("//"));
    name = name.substr(0, name.find(';'));

    const ControlSymbol *symbol = FindSymbol(symbols, count, name);
    if (symbol == nullptr && !ownName.empty() && name == ownName)
      ThrowFatal(log, kSyntaxErrorCode,
                 Concat("error in control file: symbol ", name,
                        " is used in its own value at line ", lineNumber, ": ", text));
    if (symbol == nullptr)
      UndefinedSymbol(log, lineNumber, text);

    text.replace(pos, name.size(), symbol->Value);
    if (text.size() > ControlFileLimits::MaxRewrittenLine)
      ThrowFatal(log, kSyntaxErrorCode,
                 Concat("error in control file: line ", lineNumber, " grows beyond ",
                        ControlFileLimits::MaxRewrittenLine,
                        " characters by symbol substitution: ", text.substr(0, 80), "..."));
    // Values hold no "$" once defined, except those containing "$set"; this
    // bounds a substitution that would otherwise go round forever.
    if (++substitutions > ControlFileLimits::MaxRewrittenLine)
      ThrowFatal(log, kSyntaxErrorCode,
                 Concat("error in control file: symbols at line ", lineNumber,
                        " cannot be resolved: ", text.substr(0, 80), "..."));
  }
}

// Whether the duplicate-content check skips a value: numbers and values that
// mention an infinity or not-a-number are often the same on purpose.
bool IsExemptFromDuplicateCheck(const std::string &value) {
  if (!value.empty()) {
    char *end = nullptr;
    std::strtod(value.c_str(), &end);
    if (end != value.c_str() && *end == '\0')
      return true;
  }
  for (const char *word : {"inf", "nan", "INF", "NAN", "Inf", "Nan"})
    if (Contains(value, word))
      return true;
  return false;
}

void WarnAboutDuplicates(DiagnosticsLog &log, const SymbolTable &symbols,
                         const ControlSymbol &symbol) {
  if (IsExemptFromDuplicateCheck(symbol.Value))
    return;
  for (const ControlSymbol &earlier : symbols) {
    if (earlier.Value != symbol.Value)
      continue;
    log.Entry(Concat("INFO: ", "\n------------------------ WARNING --------------------------",
                     "\npossible error in control file!\n", "content of symbol ", earlier.Name,
                     " is the same as symbol ", symbol.Name, ", \n (which is: ", symbol.Value,
                     ").\n", "this may lead to collusions!", "\n", kRule, "\n",
                     DiagnosticsLog::EndToken));
  }
}

// Defines the symbol of a "$set" line ("$set $name = value", words after the
// fourth ignored); its value may use the symbols defined above it.
void DefineSymbol(DiagnosticsLog &log, const std::string &line, long lineNumber,
                  SymbolTable &symbols) {
  const std::vector<std::string> words = SplitWords(line);
  if (words.empty() || !words[0].starts_with("$set"))
    return; // "$set" only inside the text of an ordinary line
  if (words[0] != "$set" || words.size() < 4 || !words[1].starts_with("$"))
    ThrowFatal(log, kSyntaxErrorCode,
               Concat("error in control file: malformed symbol definition at line ", lineNumber,
                      " (expected \"$set $name = value\"):\n", line));
  if (symbols.size() >= ControlFileLimits::MaxSymbolCount)
    ThrowFatal(log, kSyntaxErrorCode,
               Concat("error in control file: more than ", ControlFileLimits::MaxSymbolCount,
                      " symbols defined (line ", lineNumber, ")"));
  if (words[1].size() > ControlFileLimits::MaxSymbolText)
    ThrowFatal(log, kSyntaxErrorCode,
               Concat("error in control file: symbol name at line ", lineNumber, " is longer than ",
                      ControlFileLimits::MaxSymbolText, " characters: ", words[1].substr(0, 80),
                      "..."));

  ControlSymbol symbol{words[1], words[3]};
  CutValueComment(symbol.Value);
  if (!Contains(symbol.Value, "$set")) {
    SubstituteSymbols(log, symbol.Value, lineNumber, symbols, symbols.size(), symbol.Name);
    DeleteJoins(symbol.Value);
  }
  if (symbol.Value.size() > ControlFileLimits::MaxSymbolText)
    ThrowFatal(log, kSyntaxErrorCode,
               Concat("error in control file: value of symbol ", symbol.Name, " at line ",
                      lineNumber, " is longer than ", ControlFileLimits::MaxSymbolText,
                      " characters: ", symbol.Value.substr(0, 80), "..."));
  WarnAboutDuplicates(log, symbols, symbol);
  symbols.push_back(std::move(symbol));
}

SymbolTable CollectSymbols(DiagnosticsLog &log, StdioFile &control, const std::string &name) {
  SymbolTable symbols;
  std::string line;
  for (long lineNumber = 1; ReadPhysicalLine(log, control, name, lineNumber, line); ++lineNumber) {
    if (line.front() == '#' || !Contains(line, "$set"))
      continue;
    DefineSymbol(log, " " + line, lineNumber, symbols);
  }
  return symbols;
}

void WriteCopy(DiagnosticsLog &log, StdioFile &control, const std::string &name, StdioFile &copy,
               const std::string &copyName, const SymbolTable &symbols) {
  std::string line;
  for (long lineNumber = 1; ReadPhysicalLine(log, control, name, lineNumber, line); ++lineNumber) {
    const std::string rewritten = ReplaceSymbols(log, " " + line, lineNumber, symbols);
    // Definition lines that begin in the first column stay out of the copy.
    if (rewritten.size() > 1 && rewritten[1] == '$')
      continue;
    const std::size_t length = rewritten.size() - 1;
    if (length > 0 && std::fwrite(rewritten.data() + 1, 1, length, copy.Handle()) != length)
      ThrowFatal(log, kCloseErrorCode, Concat("error writing ", copyName));
  }
}

} // namespace

std::string SubstitutedControlFileName(const std::string &controlFileName, int rank) {
  return controlFileName + "_" + std::to_string(rank) + ".$$$";
}

std::string ReplaceSymbols(DiagnosticsLog &log, std::string line, long lineNumber,
                           const SymbolTable &symbols) {
  CutLineComment(line);
  if (Contains(line, "$set"))
    return line;
  SubstituteSymbols(log, line, lineNumber, symbols, symbols.size(), {});
  DeleteJoins(line);
  return line;
}

std::string CompileSymbols(DiagnosticsLog &log, const std::string &controlFileName, int rank) {
  log.Entry(
      Concat("compiling symbols in control file ", controlFileName, DiagnosticsLog::EndToken));
  const std::string copyName = SubstitutedControlFileName(controlFileName, rank);
  if (copyName.size() > ControlFileLimits::MaxFileName)
    ThrowFatal(log, kOpenErrorCode,
               Concat("error opening ", copyName.substr(0, 80), "... (name longer than ",
                      ControlFileLimits::MaxFileName, " characters)"));

  StdioFile control(controlFileName, "r");
  if (!control.IsOpen())
    ThrowFatal(log, kOpenErrorCode, Concat("error opening ", controlFileName));

  const SymbolTable symbols = CollectSymbols(log, control, controlFileName);

  if (std::fseek(control.Handle(), 0, SEEK_SET) != 0)
    ThrowFatal(log, kOpenErrorCode, Concat("error rewinding ", controlFileName));
  std::clearerr(control.Handle());

  StdioFile copy(copyName, "w");
  if (!copy.IsOpen())
    ThrowFatal(log, kOpenErrorCode, Concat("error opening ", copyName));

  WriteCopy(log, control, controlFileName, copy, copyName, symbols);

  if (!control.Close())
    ThrowFatal(log, kCloseErrorCode, Concat("error closing ", controlFileName));
  if (!copy.Close())
    ThrowFatal(log, kCloseErrorCode, Concat("error closing ", copyName));
  return copyName;
}

} // namespace tavro
