// Line and token reading shared by the meteorological input files (station
// files, regression files in text form, grid lists): lines of any length,
// tokens separated by blanks, tabs or carriage returns.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

// Reads one line of any length without its line break; false at the end of
// the file when nothing was read.
bool ReadTextLine(std::FILE *file, std::string &line);

// The blank-, tab- or carriage-return-separated tokens of a text.
std::vector<std::string_view> TextTokens(std::string_view text);

} // namespace tavro
