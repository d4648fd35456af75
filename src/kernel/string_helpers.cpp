// Pattern position, in-place cut, tokenizer and directory prefix.
#include "kernel/string_helpers.h"

#include <cctype>

#include <climits>

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"

namespace tavro {
namespace {

constexpr auto npos = std::string_view::npos;

// End (one past the closing quote) of the quoted token opening at open, or the
// end of the text when the closing quote is missing. A quote is escaped by one
// backslash before it, but not by two.
std::size_t QuotedTokenEnd(std::string_view text, std::size_t open) {
  for (std::size_t i = open + 1; i < text.size(); ++i) {
    if (text[i] != '"')
      continue;
    const bool escaped = text[i - 1] == '\\' && !(i >= 2 && text[i - 2] == '\\');
    if (!escaped)
      return i + 1;
  }
  return text.size();
}

} // namespace

std::string_view NextWord(std::string_view text, std::size_t &pos) {
  const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (pos < text.size() && blank(text[pos]))
    ++pos;
  const std::size_t start = pos;
  while (pos < text.size() && !blank(text[pos]))
    ++pos;
  return text.substr(start, pos - start);
}

int GetStringPosition(std::string_view text, std::string_view pattern) {
  const std::size_t position = text.find(pattern);
  if (position == npos || position > static_cast<std::size_t>(INT_MAX))
    return 0;
  return static_cast<int>(position);
}

std::string &CutSubstring(std::string &text, int first, int span) {
  if (first < 0 || span < 0)
    return text;
  const auto start = static_cast<std::size_t>(first);
  if (start >= text.size()) {
    text.clear();
    return text;
  }
  text = text.substr(start, static_cast<std::size_t>(span) + 1);
  return text;
}

int Tokenize(std::string_view text, std::string_view delimiters, std::vector<std::string> &tokens,
             bool keepEmpty) {
  const bool quotesAreTokens = delimiters.find('"') == npos;
  std::size_t pos = text.find_first_not_of(delimiters);
  if (pos == npos) {
    if (!keepEmpty)
      return static_cast<int>(tokens.size());
    pos = text.find_first_of(delimiters); // 0 for a text of delimiters only
    if (pos == npos)
      pos = text.size(); // the empty text
  }
  while (pos < text.size()) {
    std::size_t end = 0;
    if (quotesAreTokens && text[pos] == '"') {
      end = QuotedTokenEnd(text, pos);
    } else {
      end = text.find_first_of(delimiters, pos);
      if (end == npos)
        end = text.size();
    }
    tokens.emplace_back(text.substr(pos, end - pos));
    // After an unquoted token the next character is its delimiter; after a
    // quoted token it may be part of the next token and is kept.
    pos = text.find_first_not_of(delimiters, end);
  }
  if (keepEmpty && (text.empty() || delimiters.find(text.back()) != npos))
    tokens.emplace_back();
  return static_cast<int>(tokens.size());
}

void AddPathPrefix(std::string_view directory, std::string &name, DiagnosticsLog &log) {
  if (directory.empty() || (!name.empty() && (name.front() == '/' || name.front() == '~')))
    return;
  if (directory.size() + name.size() > kMaxPathLength) {
    ThrowFatal(log, 17,
               Concat("file name longer than ", kMaxPathLength, " characters: ", directory, name));
  }
  name.insert(0, directory);
}

} // namespace tavro
