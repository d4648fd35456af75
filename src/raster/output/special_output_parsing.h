// Reading the "[special_output]" section as pure functions over its text: the
// file blocks collected by brace balance, the keys of a block and of its
// entity groups, the entity groups themselves, the map cell of a point, and
// the identifiers of the flux grids whose values are summed over sub-steps.
//
// A key is written as the key, "=", the value and ";". Keys are matched as
// whole words followed by "=" (blanks allowed before it), so that a value
// such as "Symbol=GW_ID;" is never taken for the key "ID".
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tavro {

// Collects the lines of one file block: the first line that is not blank
// opens the block (blank lines before it are skipped); every further line
// counts +1 when it contains a "{" and -1 when it contains a "}" (at most one
// of each per line). The block is complete once its text contains a "}" and
// the count is back to 0.
class FileBlockCollector {
public:
  // Adds the next line (line break included); true once the block is complete.
  bool Add(std::string_view line);
  bool Complete() const { return complete_; }
  bool Started() const { return started_; }
  const std::string &Text() const { return text_; }

private:
  std::string text_;
  int depth_ = 0;
  bool started_ = false;
  bool complete_ = false;
};

// Position of the key written as a whole word followed by "=": the first or
// the last occurrence in text; npos when there is none.
std::size_t FindKey(std::string_view text, std::string_view key, bool last = false);

// The text between the "=" after the key and the next ";" (or the end of the
// text); the first occurrence of the key, or the last when last is set.
std::optional<std::string_view> KeyValue(std::string_view text, std::string_view key,
                                         bool last = false);

// The first word of the first value of key (a value ends at its first
// blank); none when the key is missing or its value empty.
std::optional<std::string> WordValue(std::string_view text, std::string_view key);

// The tokens of the last value of key, split at tabs, blanks, ";" and ","
// (empty when the key is missing).
std::vector<std::string> ListTokens(std::string_view text, std::string_view key);

// A whole token as a number; none when the token is not one number.
std::optional<double> ParseNumber(std::string_view token);
// A whole token as a 32-bit integer; none otherwise.
std::optional<int> ParseInteger(std::string_view token);

// The entity groups of a block: the first runs from the first "{" of the
// block to the first "}" after it, each further group from the next "{" to
// the next "}", as long as the rest of the block holds the key "entity".
std::vector<std::string_view> EntityGroups(std::string_view block);

// What an entity group defines.
struct EntityDefinition {
  std::string ID;     // identifier of a grid or stack in the grid registry
  std::string Symbol; // label of the entity's columns
  std::vector<double> Xcoords;
  std::vector<double> Ycoords;
  std::vector<int> Level; // empty, or one stack level per point
};

// Why a group or block could not be read: a required key is missing (token
// empty), or a list holds a token that is no number (or, for "Level", no
// integer).
struct KeyProblem {
  std::string key;
  std::string token;
};

std::variant<EntityDefinition, KeyProblem> ParseEntity(std::string_view group);

// The raster the points lie on.
struct PointRaster {
  double xll = 0.0;
  double yll = 0.0;
  double cellSize = 1.0;
  long ncols = 0;
  long nrows = 0;
};

// Column ceil((x - xll) / cell size) and row nrows - floor((y - yll) / cell
// size), clamped to the range of a long so that any number maps to a cell
// index (a NaN maps to 0, outside the raster).
long ColumnOfX(double x, const PointRaster &raster);
long RowOfY(double y, const PointRaster &raster);

struct PointCell {
  long column = 0;
  long row = 0;
};

// A failed check of an entity's points: exit code and message (without "FATAL: ").
struct PointProblem {
  int exitCode = 0;
  std::string message;
};

inline constexpr int kCoordinateCountExitCode = 1006;
inline constexpr int kLevelCountExitCode = 1007;
inline constexpr int kPointOutsideExitCode = 1008;

// The cells of an entity's points, or the first problem: unequal X and Y
// counts (1006), a Level count other than the point count (1007), a point
// outside the raster (1008; all x coordinates are tested before the y
// coordinates).
std::variant<std::vector<PointCell>, PointProblem> PointCells(const EntityDefinition &entity,
                                                              const PointRaster &raster);

// A coordinate as "%g" with as many significant digits as it takes to read
// back the same number, and at least six and all digits before the decimal
// point: 1250 stays "1250", 5205500 becomes "5205500" rather than
// "5.2055e+06", whose six digits stand for 5205501 as well.
std::string FormatCoordinate(double value);

// Whether values of this identifier are fluxes, summed over the sub-steps of
// a step (only when a step has more than one sub-step).
bool IsFluxIdentifier(std::string_view identifier);

} // namespace tavro
