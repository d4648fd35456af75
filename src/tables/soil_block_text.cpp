// Key search and strict number reading for the soil table's block entries.
#include "tables/soil_block_text.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace tavro::soil_block_text {
namespace {

bool IsIdentifierChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Position just after the "=" of the key occurrence at pos, or npos when the
// occurrence is not a whole identifier followed by "=".
std::size_t ValueStart(std::string_view text, std::string_view key, std::size_t pos) {
  if (pos > 0 && IsIdentifierChar(text[pos - 1]))
    return std::string_view::npos;
  std::size_t after = pos + key.size();
  if (after < text.size() && IsIdentifierChar(text[after]))
    return std::string_view::npos;
  while (after < text.size() && IsBlank(text[after]))
    ++after;
  if (after >= text.size() || text[after] != '=')
    return std::string_view::npos;
  return after + 1;
}

} // namespace

std::optional<std::string_view> FindValue(std::string_view text, std::string_view key,
                                          Occurrence which) {
  if (key.empty())
    return std::nullopt;
  std::size_t found = std::string_view::npos;
  for (std::size_t pos = text.find(key); pos != std::string_view::npos;
       pos = text.find(key, pos + 1)) {
    const std::size_t start = ValueStart(text, key, pos);
    if (start == std::string_view::npos)
      continue;
    found = start;
    if (which == Occurrence::First)
      break;
  }
  if (found == std::string_view::npos)
    return std::nullopt;
  const std::size_t end = text.find_first_of(";}", found);
  return text.substr(found, end == std::string_view::npos ? std::string_view::npos : end - found);
}

std::vector<std::string_view> Tokens(std::string_view value, std::string_view extraSeparators) {
  std::vector<std::string_view> tokens;
  const auto isSeparator = [&](char c) {
    return IsBlank(c) || extraSeparators.find(c) != std::string_view::npos;
  };
  std::size_t i = 0;
  while (i < value.size()) {
    while (i < value.size() && isSeparator(value[i]))
      ++i;
    const std::size_t start = i;
    while (i < value.size() && !isSeparator(value[i]))
      ++i;
    if (i > start)
      tokens.push_back(value.substr(start, i - start));
  }
  return tokens;
}

std::optional<double> ParseDouble(std::string_view token) {
  if (token.empty())
    return std::nullopt;
  const std::string text(token);
  char *end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::optional<int> ParseInt(std::string_view token) {
  if (token.empty())
    return std::nullopt;
  const std::string text(token);
  char *end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (end != text.c_str() + text.size() || errno == ERANGE ||
      value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
    return std::nullopt;
  return static_cast<int>(value);
}

std::optional<std::vector<double>> ParseNumbers(std::string_view value) {
  std::vector<double> numbers;
  for (std::string_view token : Tokens(value)) {
    const auto number = ParseDouble(token);
    if (!number)
      return std::nullopt;
    numbers.push_back(*number);
  }
  if (numbers.empty())
    return std::nullopt;
  return numbers;
}

std::optional<double> ParseScalar(std::string_view value) {
  const auto numbers = ParseNumbers(value);
  if (!numbers || numbers->size() != 1)
    return std::nullopt;
  return numbers->front();
}

} // namespace tavro::soil_block_text
