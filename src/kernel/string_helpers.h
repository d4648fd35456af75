// Small text operations shared by the readers of the control file, of tables
// and of files: the position of a pattern in a line (0 meaning "not found"),
// cutting a text down to one of its pieces in place, splitting a text into
// tokens with quoted tokens kept whole, and putting a directory in front of a
// file name.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

class DiagnosticsLog;

// Longest file name, directory included, that AddPathPrefix produces.
inline constexpr std::size_t kMaxPathLength = 1200;

// Position (from 0) of the first occurrence of pattern in text, or 0 when it
// does not occur. Control-file lines carry one blank in front, so a real match
// never stands at 0 and 0 can mean "not found".
int GetStringPosition(std::string_view text, std::string_view pattern);

// The white-space separated word at or after pos; pos moves past it. An empty
// view when only white space is left.
std::string_view NextWord(std::string_view text, std::size_t &pos);

// Keeps the span + 1 characters from position first on (fewer where the text
// ends earlier; none when first lies past the end) and returns the text. A
// negative first or span leaves the text unchanged.
std::string &CutSubstring(std::string &text, int first, int span);

// Appends the tokens of text, separated by runs of delimiter characters, to
// tokens and returns the length of the list. A token that starts with a double
// quote (when '"' is not a delimiter) runs to the next unescaped double quote
// and keeps its quotes and backslashes. With keepEmpty, a text that is empty or
// only delimiters starts with an empty token, and a text ending in a delimiter
// ends with one.
int Tokenize(std::string_view text, std::string_view delimiters, std::vector<std::string> &tokens,
             bool keepEmpty = false);

// Puts directory (which carries its own trailing '/') in front of name unless
// the directory is empty or the name starts with '/' or '~'. A result longer
// than kMaxPathLength logs a FATAL entry and throws 17.
void AddPathPrefix(std::string_view directory, std::string &name, DiagnosticsLog &log);

} // namespace tavro
