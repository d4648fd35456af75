// Variable grids ("[variable_grids]"): further input grids that modules find
// by identifier, each defined by a line of file name, identifier, fillcode and
// defaultValue, a Writegrid code and a Readgrid switch (1 read from the file,
// otherwise created with the defaultValue). Also the statistics tables of the
// standard grids that name a statfile: per zone the mean of the grid, added
// from every process's own cells in every step and written by the zonal
// statistics tables. The set-up object's members for both are defined in
// variable_grids.cpp.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavro {

class ControlFileReader;

struct VariableGridDefinition {
  std::string FileName;
  std::string Identifier;
  int fillcode = 0;
  double defaultValue = 0.0;
  int writecode = 0;
  int readgrid = 0; // 1: read from the file
};

// The first four items of a definition line (two words, an integer, a real);
// the rest of the line is ignored. nullopt when one is missing or a word is
// longer than the registry accepts.
std::optional<VariableGridDefinition> ParseVariableGridLine(std::string_view line);

// Reads the next non-blank line of the open control file (without its line
// break); empty at the end of the file. A line longer than the reader's limit
// is a control-file error (17).
std::string ReadNonBlankLine(ControlFileReader &reader, std::string_view section);

} // namespace tavro
