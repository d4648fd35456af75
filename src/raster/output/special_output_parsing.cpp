// Special-output section text: blocks, keys, entity groups, point cells.
#include "raster/output/special_output_parsing.h"

#include "kernel/string_helpers.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tavro {
namespace {

constexpr auto npos = std::string_view::npos;
constexpr const char *kSectionError = "Error in section [special_output]: ";

bool IsWordCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

bool IsBlank(std::string_view text) {
  for (const char c : text)
    if (std::isspace(static_cast<unsigned char>(c)) == 0)
      return false;
  return true;
}

// Whether the key found at position p stands as a whole word followed by "=".
bool IsKeyAt(std::string_view text, std::size_t p, std::size_t keyLength) {
  if (p > 0 && IsWordCharacter(text[p - 1]))
    return false;
  std::size_t q = p + keyLength;
  while (q < text.size() && std::isspace(static_cast<unsigned char>(text[q])) != 0)
    ++q;
  return q < text.size() && text[q] == '=';
}

// floor or ceil of a quotient as a long, clamped; NaN gives 0.
long ClampedIndex(double value) {
  if (std::isnan(value))
    return 0;
  if (value >= static_cast<double>(LONG_MAX))
    return LONG_MAX;
  if (value <= static_cast<double>(LONG_MIN))
    return LONG_MIN;
  return static_cast<long>(value);
}

// The identifiers of flux grids, matched as parts of an identifier.
constexpr std::string_view kFluxIdentifiers[] = {
    "baseflow",
    "irrigation_amounts",
    "macropore_infiltration",
    "groundwater_recharge",
    "Capillar_Uprise",
    "Percolation",
    "DirectRunoffSiltingUp",
    "directflow",
    "interflow",
    "infiltration_excess",
    "total_infiltration",
    "drainage_flow",
    "river_infiltration",
    "river_exfiltration",
    "q_down",
    "SurfaceRoutingFluxes",
    "SurfaceRoutingTotalInput",
    "SurfaceRoutingQIn",
    "SurfaceRoutingQOut",
    "gw_flow_x_",
    "gw_flow_y_",
    "gw_leakage_",
};

} // namespace

bool FileBlockCollector::Add(std::string_view line) {
  if (complete_)
    return true;
  if (!started_) {
    if (IsBlank(line))
      return false;
    started_ = true;
    depth_ = 1;
    text_ += line;
    return false;
  }
  text_ += line;
  if (line.find('{') != npos)
    ++depth_;
  if (line.find('}') != npos)
    --depth_;
  complete_ = depth_ == 0 && text_.find('}') != std::string::npos;
  return complete_;
}

std::size_t FindKey(std::string_view text, std::string_view key, bool last) {
  if (key.empty())
    return npos;
  std::size_t found = npos;
  for (std::size_t p = text.find(key); p != npos; p = text.find(key, p + 1)) {
    if (!IsKeyAt(text, p, key.size()))
      continue;
    found = p;
    if (!last)
      break;
  }
  return found;
}

std::optional<std::string_view> KeyValue(std::string_view text, std::string_view key, bool last) {
  const std::size_t p = FindKey(text, key, last);
  if (p == npos)
    return std::nullopt;
  const std::size_t equals = text.find('=', p + key.size());
  const std::size_t end = text.find(';', equals + 1);
  return text.substr(equals + 1, end == npos ? npos : end - equals - 1);
}

std::optional<std::string> WordValue(std::string_view text, std::string_view key) {
  const auto value = KeyValue(text, key, false);
  if (!value)
    return std::nullopt;
  std::size_t pos = 0;
  const std::string_view word = NextWord(*value, pos);
  if (word.empty())
    return std::nullopt;
  return std::string(word);
}

std::vector<std::string> ListTokens(std::string_view text, std::string_view key) {
  std::vector<std::string> tokens;
  if (const auto value = KeyValue(text, key, true))
    Tokenize(*value, "\t ;,\r\n", tokens, false);
  return tokens;
}

std::optional<double> ParseNumber(std::string_view token) {
  const std::string text(token);
  if (text.empty() || std::isspace(static_cast<unsigned char>(text.front())) != 0)
    return std::nullopt;
  char *end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size())
    return std::nullopt;
  return value;
}

std::optional<int> ParseInteger(std::string_view token) {
  const std::string text(token);
  if (text.empty() || std::isspace(static_cast<unsigned char>(text.front())) != 0)
    return std::nullopt;
  char *end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (end != text.c_str() + text.size() || errno == ERANGE || value < INT_MIN || value > INT_MAX)
    return std::nullopt;
  return static_cast<int>(value);
}

std::vector<std::string_view> EntityGroups(std::string_view block) {
  std::vector<std::string_view> groups;
  std::size_t pos = 0;
  while (FindKey(block.substr(pos), "entity") != npos) {
    const std::size_t open = block.find('{', pos);
    if (open == npos)
      break;
    const std::size_t close = block.find('}', open);
    if (close == npos) {
      groups.push_back(block.substr(open));
      break;
    }
    groups.push_back(block.substr(open, close - open + 1));
    pos = close + 1;
  }
  return groups;
}

std::variant<EntityDefinition, KeyProblem> ParseEntity(std::string_view group) {
  EntityDefinition entity;
  const std::pair<const char *, std::string *> words[] = {{"ID", &entity.ID},
                                                          {"Symbol", &entity.Symbol}};
  for (const auto &[key, target] : words) {
    auto value = WordValue(group, key);
    if (!value)
      return KeyProblem{key, ""};
    *target = std::move(*value);
  }
  const std::pair<const char *, std::vector<double> *> lists[] = {{"Xcoords", &entity.Xcoords},
                                                                  {"Ycoords", &entity.Ycoords}};
  for (const auto &[key, target] : lists)
    for (const std::string &token : ListTokens(group, key)) {
      const auto number = ParseNumber(token);
      if (!number)
        return KeyProblem{key, token};
      target->push_back(*number);
    }
  for (const std::string &token : ListTokens(group, "Level")) {
    const auto level = ParseInteger(token);
    if (!level)
      return KeyProblem{"Level", token};
    entity.Level.push_back(*level);
  }
  return entity;
}

long ColumnOfX(double x, const PointRaster &raster) {
  return ClampedIndex(std::ceil((x - raster.xll) / raster.cellSize));
}

long RowOfY(double y, const PointRaster &raster) {
  const long above = ClampedIndex(std::floor((y - raster.yll) / raster.cellSize));
  // nrows - above without overflow: anything beyond the raster stays outside.
  if (above > raster.nrows)
    return 0;
  if (above < 0)
    return raster.nrows + 1;
  return raster.nrows - above;
}

std::variant<std::vector<PointCell>, PointProblem> PointCells(const EntityDefinition &entity,
                                                              const PointRaster &raster) {
  const std::string section = kSectionError;
  if (entity.Xcoords.size() != entity.Ycoords.size())
    return PointProblem{kCoordinateCountExitCode,
                        section +
                            "count of X coordinates dos not match the number of Y coordinates "
                            "for entity " +
                            entity.ID};
  if (!entity.Level.empty() && entity.Level.size() != entity.Xcoords.size())
    return PointProblem{kLevelCountExitCode,
                        section +
                            "number of levels dos not match the number of X and Y coordinates "
                            "for entity " +
                            entity.ID + ". EIther each point has a level or none has."};
  std::vector<PointCell> cells(entity.Xcoords.size());
  for (std::size_t i = 0; i < cells.size(); ++i) {
    cells[i].column = ColumnOfX(entity.Xcoords[i], raster);
    if (cells[i].column < 1 || cells[i].column > raster.ncols)
      return PointProblem{kPointOutsideExitCode,
                          section + "x-coordinate " + FormatCoordinate(entity.Xcoords[i]) +
                              ", defined as point " + std::to_string(i) + " for entity " +
                              entity.ID + ", is located outside the actual grid."};
  }
  for (std::size_t i = 0; i < cells.size(); ++i) {
    cells[i].row = RowOfY(entity.Ycoords[i], raster);
    if (cells[i].row < 1 || cells[i].row > raster.nrows)
      return PointProblem{kPointOutsideExitCode,
                          section + "y-coordinate " + FormatCoordinate(entity.Ycoords[i]) +
                              ", defined as point " + std::to_string(i) + " for entity " +
                              entity.ID + ", is located outside the actual grid."};
  }
  return cells;
}

std::string FormatCoordinate(double value) {
  char text[64];
  // At least the digits before the decimal point, so that map coordinates
  // are not written with an exponent.
  int first = 6;
  if (std::isfinite(value) && std::fabs(value) >= 1.0)
    first = std::max(first, static_cast<int>(std::floor(std::log10(std::fabs(value)))) + 1);
  for (int digits = first; digits < 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    if (std::strtod(text, nullptr) == value)
      return text;
  }
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

bool IsFluxIdentifier(std::string_view identifier) {
  for (const std::string_view flux : kFluxIdentifiers)
    if (identifier.find(flux) != npos)
      return true;
  return false;
}

} // namespace tavro
