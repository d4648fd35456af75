// Text helpers of the soil table's block entries: finding "key = value;"
// by whole identifiers and reading the values strictly (every token of a
// value must be a finite number), so that a typing error is reported rather
// than read as a shorter list or a neighbouring key's value.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace tavro::soil_block_text {

enum class Occurrence { First, Last };

// The value text of key in text: after the "=" that follows the key, up to
// the next ";" (or "}" or the end of the text when no ";" comes first). The
// key counts only as a whole identifier followed by "=" (blanks and line
// breaks allowed in between), so "ksat" does not match in "ksat_topmodel".
std::optional<std::string_view> FindValue(std::string_view text, std::string_view key,
                                          Occurrence which);

// Splits at blanks, tabs, line breaks and any of the extra separators.
std::vector<std::string_view> Tokens(std::string_view value, std::string_view extraSeparators = {});

// A whole token as a finite double / an int; nullopt when it is not one.
std::optional<double> ParseDouble(std::string_view token);
std::optional<int> ParseInt(std::string_view token);

// Every token of value as a number; nullopt when the value is empty or a
// token is not a finite number.
std::optional<std::vector<double>> ParseNumbers(std::string_view value);

// Exactly one number.
std::optional<double> ParseScalar(std::string_view value);

// True when text contains needle as plain text.
inline bool Contains(std::string_view text, std::string_view needle) {
  return text.find(needle) != std::string_view::npos;
}

} // namespace tavro::soil_block_text
