// Lake water-level/volume table: cell checks, spacing and look-ups.
#include "routing/reservoirs/lake_table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace tavro {
namespace {

// Entry index b of the look-up: the first from 1 on whose `key` value lies at
// or below x (the columns descend); the last when none does.
int LowerEntry(const std::vector<double> &key, double x) {
  const int n = static_cast<int>(key.size());
  if (n < 3)
    return 1;
  for (int b = 1; b < n; ++b)
    if (key[static_cast<std::size_t>(b)] <= x)
      return b;
  return n - 1;
}

double Interpolate(const std::vector<double> &from, const std::vector<double> &to, double x) {
  if (from.size() < 2)
    return from.empty() ? 0.0 : to.front();
  const auto b = static_cast<std::size_t>(LowerEntry(from, x));
  const std::size_t a = b - 1;
  return ((from[a] - x) * to[b] + (x - from[b]) * to[a]) / (from[a] - from[b]);
}

// Whole steps of `step` in `range`, truncated; a range that is a whole
// number of steps up to rounding (3.99 m is 399 steps of 0.01 m) counts fully.
int WholeSteps(double range, double step) {
  return static_cast<int>(std::floor(range / step + 1e-9));
}

} // namespace

LakeTableResult BuildLakeTable(int number, int subbasinFlowIndex, int subbasinCode,
                               const std::vector<LakeCell> &cells, double cellsize) {
  LakeTableResult result;
  if (cells.empty()) {
    result.exitCode = kLakeWithoutCellsExitCode;
    std::ostringstream text;
    text << "lake " << number << " has no cell in the grid \"lake_codes\".";
    result.fault = text.str();
    return result;
  }
  const double reference = cells.front().maxPonding / 1000.0 + cells.front().elevation;
  double zmin = 9999.0;
  double zmax = 0.0;
  for (const LakeCell &cell : cells) {
    const double level = cell.maxPonding / 1000.0 + cell.elevation;
    if (std::fabs(level - reference) > 0.01) {
      result.exitCode = kLakeLevelExitCode;
      std::ostringstream text;
      text << "\n============== ERROR ====================\n"
           << "Error in initialization for lake " << number << "."
           << "All Cells for a lake must have the same Altitude value for DEM + MAXPOND\n"
           << "Value at row " << cell.row << ", col " << cell.column << " is " << cell.elevation
           << "\n"
           << "but first value of dhm for this lake was " << reference << "\n"
           << "\n\n=======================================\n";
      result.fault = text.str();
      return result;
    }
    if (cell.flowIndex != subbasinFlowIndex) {
      result.exitCode = kLakeSubbasinExitCode;
      std::ostringstream text;
      text << " error in routing description or LAKE grid:\n"
           << " Lake " << number << " must be located completely within subbasin " << subbasinCode
           << ".";
      result.fault = text.str();
      return result;
    }
    zmin = std::min(zmin, cell.elevation);
    zmax = std::max(zmax, level);
  }
  const double depth = zmax - zmin;
  if (depth < kLakeMinimumDepth) {
    result.exitCode = kLakeLevelExitCode;
    std::ostringstream text;
    text << "lake " << number << ": the range between its lowest cell and its highest level is "
         << depth << " m, below " << kLakeMinimumDepth
         << " m: no water-level/volume table can be built (give its cells a ponding depth)";
    result.fault = text.str();
    return result;
  }

  int nFine = 0;
  double d1 = 0.0;
  double rest = 0.0;
  if (depth >= 4.0) {
    nFine = 400;
    d1 = 4.0;
    rest = depth - 4.0;
  } else {
    nFine = WholeSteps(depth, 0.01);
    d1 = depth;
  }
  int nMid = 0;
  double d2 = 0.0;
  if (rest >= 10.0) {
    nMid = 500;
    d2 = 10.0;
  } else {
    nMid = WholeSteps(rest, 0.02);
    d2 = rest;
  }
  const int nCoarse = std::max(0, -WholeSteps(-(rest - d2), 0.05));
  if (nFine == 0)
    nFine = 1;
  const int n = nFine + nMid + nCoarse + 1;
  LakeTable &table = result.table;
  table.levels.assign(static_cast<std::size_t>(n), 0.0);
  table.volumes.assign(static_cast<std::size_t>(n), 0.0);
  for (int i = 0; i < n - 1; ++i) {
    double level = 0.0;
    if (i < nFine)
      level = zmax - i * 0.01;
    else if (i < nFine + nMid)
      level = zmax - d1 - (i - nFine) * 0.02;
    else
      level = zmax - d1 - d2 - (i - nFine - nMid) * 0.05;
    double volume = 0.0;
    for (const LakeCell &cell : cells)
      if (cell.elevation < level)
        volume += cellsize * cellsize * (level - cell.elevation);
    table.levels[static_cast<std::size_t>(i)] = level;
    table.volumes[static_cast<std::size_t>(i)] = volume;
  }
  table.levels.back() = zmin;
  table.volumes.back() = 0.0;
  return result;
}

std::string LakeTableFileName(int number) {
  char name[64];
  std::snprintf(name, sizeof name, "W_V_Table_%02d.dat", number);
  return name;
}

bool WriteLakeTable(const LakeTable &table, int number, const std::string &fileName) {
  std::ofstream file(fileName, std::ios::trunc);
  if (!file)
    return false;
  file << "waterlevel-volume-table lake " << number << "\n";
  file << "Level[m a.s.l.]\tVolume[m^3]\n";
  for (int i = 0; i < table.Entries(); ++i)
    file << table.levels[static_cast<std::size_t>(i)] << "\t"
         << table.volumes[static_cast<std::size_t>(i)] << "\n";
  return static_cast<bool>(file);
}

double LevelFromVolume(const LakeTable &table, double volume) {
  return Interpolate(table.volumes, table.levels, volume);
}

double VolumeFromLevel(const LakeTable &table, double level) {
  return Interpolate(table.levels, table.volumes, level);
}

} // namespace tavro
