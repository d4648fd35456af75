// Line and token reading of the meteorological input files.
#include "meteo/text_lines.h"

namespace tavro {

bool ReadTextLine(std::FILE *file, std::string &line) {
  line.clear();
  int c = 0;
  bool any = false;
  while ((c = std::getc(file)) != EOF) {
    any = true;
    if (c == '\n')
      return true;
    line += static_cast<char>(c);
  }
  return any;
}

std::vector<std::string_view> TextTokens(std::string_view text) {
  const auto separator = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  std::vector<std::string_view> tokens;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && separator(text[i]))
      ++i;
    const std::size_t start = i;
    while (i < text.size() && !separator(text[i]))
      ++i;
    if (i > start)
      tokens.push_back(text.substr(start, i - start));
  }
  return tokens;
}

} // namespace tavro
