// The text of one regional superposition entity, parsed:
//
//   <name> { entityinputgrid = <grid>; regions = <codes>; weights = <reals>;
//            (more input groups)
//            outputgrid = <file>; writecode = <int>; outputtable = <file>;
//            statcode = <int>; }
//
// The input groups come first, each with its three keywords in this order;
// the four output keywords follow in any order. A keyword is a whole word
// before its "=" (blanks allowed between them); the value runs from "=" to
// the next ";"; line breaks may stand between any tokens. Region and weight
// lists are split at blanks, tabs, line breaks, commas and semicolons.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::superposition {

struct InputGroup {
  std::string Grid;
  std::vector<long> Regions;
  std::vector<double> Weights;
};

struct EntityBlock {
  std::string Name;
  std::vector<InputGroup> Inputs;
  std::string OutputGrid;
  int Writecode = 0;
  std::string OutputTable;
  int Statcode = 0;
};

// A block that does not follow the grammar; what() says what is wrong.
struct BlockSyntaxError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The name of a block: the first word before its "{" (empty when none).
std::string EntityName(std::string_view block);

// Parses a whole block; throws BlockSyntaxError.
EntityBlock ParseEntityBlock(std::string_view block);

} // namespace tavro::superposition
