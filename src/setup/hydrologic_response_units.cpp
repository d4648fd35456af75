// Numbering of response units over the whole raster and the masters of a process.
#include "setup/hydrologic_response_units.h"

#include <cmath>
#include <cstdio>
#include <unordered_map>

namespace tavro {
namespace {

// Columns of a row's range clamped to the raster; empty when it has none.
struct Columns {
  long first = 1;
  long last = 0;
};

Columns ColumnsOf(const HruRaster &raster, long row) {
  if (raster.rowRanges == nullptr)
    return {1, raster.ncols};
  const auto index = static_cast<std::size_t>(row);
  if (index > raster.rowRanges->Count())
    return {};
  const RowColumnRange range = (*raster.rowRanges)[index];
  return {std::max<long>(range.first, 1), std::min<long>(range.last, raster.ncols)};
}

double ValueAt(const Grid &grid, long row, long column, double noData) {
  return grid.HasRow(row) ? grid[row][column] : noData;
}

bool IsValid(const HruRaster &raster, long row, long column) {
  return raster.zone != nullptr &&
         ValueAt(*raster.zone, row, column, raster.noData) != raster.noData;
}

// Keys met so far and their unit numbers; new keys make new units.
class UnitTable {
public:
  UnitTable() { units_.push_back({}); }

  std::int64_t NumberOf(const std::string &key, long row, long column) {
    const auto [at, added] = numbers_.try_emplace(key, static_cast<std::int64_t>(units_.size()));
    if (added)
      units_.push_back(
          {at->second, key, static_cast<std::int32_t>(row), static_cast<std::int32_t>(column), 0});
    return at->second;
  }
  std::vector<HydrologicResponseUnit> Release() { return std::move(units_); }

private:
  std::vector<HydrologicResponseUnit> units_;
  std::unordered_map<std::string, std::int64_t> numbers_;
};

void ClearOutsideRanges(const HruRaster &raster, Grid &grid) {
  for (long r = 1; r <= raster.nrows; ++r) {
    if (!grid.HasRow(r))
      continue;
    const Columns columns = ColumnsOf(raster, r);
    for (long c = 1; c <= raster.ncols; ++c)
      if (c < columns.first || c > columns.last)
        grid[r][c] = raster.noData;
  }
}

} // namespace

double HruClassOf(double value, double classWidth, bool squareRoot) {
  const double v = squareRoot ? std::sqrt(std::fabs(value)) : value;
  return std::floor(v / classWidth);
}

HruNumbering NumberUnitsFromGrids(const std::vector<HruClassGrid> &grids, const HruRaster &raster,
                                  Grid &unitGrid) {
  HruNumbering result;
  UnitTable table;
  ClearOutsideRanges(raster, unitGrid);
  std::string key;
  char piece[64];
  for (long r = 1; r <= raster.nrows && !result.failure; ++r) {
    const Columns columns = ColumnsOf(raster, r);
    for (long c = columns.first; c <= columns.last; ++c) {
      unitGrid[r][c] = raster.noData;
      if (grids.empty() || !IsValid(raster, r, c) ||
          ValueAt(*grids.front().grid, r, c, raster.noData) == raster.noData)
        continue;
      key.clear();
      for (const HruClassGrid &g : grids) {
        const double value = ValueAt(*g.grid, r, c, raster.noData);
        if (value == raster.noData)
          break; // the key is complete
        const double classNumber = HruClassOf(value, g.classWidth, g.squareRoot);
        if (classNumber > kMaxHruClass) {
          result.failure = HruClassFailure{classNumber, g.identifier, r, c};
          break;
        }
        std::snprintf(piece, sizeof piece, "%04.0lf'", classNumber);
        key += piece;
      }
      if (result.failure)
        break;
      unitGrid[r][c] = static_cast<double>(table.NumberOf(key, r, c));
    }
  }
  result.units = table.Release();
  return result;
}

HruNumbering NumberGivenUnits(const HruRaster &raster, Grid &unitGrid) {
  UnitTable table;
  ClearOutsideRanges(raster, unitGrid);
  char key[512];
  for (long r = 1; r <= raster.nrows; ++r) {
    if (!unitGrid.HasRow(r))
      continue;
    const Columns columns = ColumnsOf(raster, r);
    for (long c = columns.first; c <= columns.last; ++c) {
      std::snprintf(key, sizeof key, "%0.lf", unitGrid[r][c]);
      unitGrid[r][c] = static_cast<double>(table.NumberOf(key, r, c));
    }
  }
  return {table.Release(), std::nullopt};
}

void AssignMasterCells(std::vector<HydrologicResponseUnit> &units, const HruRaster &raster,
                       const HruStrip &strip, const Grid &unitGrid, Grid &masterGrid) {
  for (HydrologicResponseUnit &unit : units) {
    unit.row = 0;
    unit.column = 0;
  }
  masterGrid.Fill(raster.noData);
  for (long r = strip.firstRow; r <= strip.lastRow; ++r) {
    if (!unitGrid.HasRow(r))
      continue;
    const Columns columns = ColumnsOf(raster, r);
    for (long c = columns.first; c <= columns.last; ++c) {
      if (!IsValid(raster, r, c))
        continue;
      if (strip.owners != nullptr &&
          std::lround(ValueAt(*strip.owners, r, c, raster.noData)) != strip.rank)
        continue;
      const double number = unitGrid[r][c];
      if (!(number >= 1.0) || number >= static_cast<double>(units.size()))
        continue;
      HydrologicResponseUnit &unit = units[static_cast<std::size_t>(std::llround(number))];
      if (unit.row != 0)
        continue;
      unit.row = static_cast<std::int32_t>(r);
      unit.column = static_cast<std::int32_t>(c);
      masterGrid[r][c] = number;
    }
  }
}

} // namespace tavro
