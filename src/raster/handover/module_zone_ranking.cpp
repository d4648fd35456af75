// Ranking of the soil-model zone grid over the whole raster.
#include "raster/handover/module_zone_ranking.h"

#include "kernel/fatal_error.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

namespace tavro {
namespace {

// The zone code of a cell value; none outside 0..32767 (or not a number).
std::optional<int> ZoneCodeOf(double value) {
  if (!std::isfinite(value))
    return std::nullopt;
  const double code = std::floor(value + 0.5);
  if (code < 0.0 || code > static_cast<double>(kHighestModuleZoneCode))
    return std::nullopt;
  return static_cast<int>(code);
}

// Visits every ranked cell (row, column, value) row by row.
template <class Visit> void ForEachZoneCell(const ModuleZoneGrid &grid, Visit &&visit) {
  for (long r = 1; r <= grid.shape.nrows; ++r) {
    if (!grid.zone.HasRow(r))
      continue;
    long first = 1;
    long last = grid.shape.ncols;
    if (grid.rowRanges != nullptr) {
      if (static_cast<std::size_t>(r) > grid.rowRanges->Count())
        continue;
      const RowColumnRange range = (*grid.rowRanges)[static_cast<std::size_t>(r)];
      first = std::max<long>(range.first, 1);
      last = std::min<long>(range.last, grid.shape.ncols);
    }
    const double *row = grid.zone[r];
    for (long c = first; c <= last; ++c)
      if (row[c] != grid.shape.nodata && !visit(r, c, row[c]))
        return;
  }
}

ModuleZoneRanking Failed(ModuleZoneRanking ranking, int code, std::string message) {
  ranking.FailureCode = code;
  ranking.FailureMessage = std::move(message);
  return ranking;
}

} // namespace

ModuleZoneRanking RankModuleZoneGrid(const ModuleZoneGrid &grid) {
  ModuleZoneRanking ranking;
  std::vector<char> present(kHighestModuleZoneCode + 1, 0);
  std::vector<int> codes;
  int failure = 0;
  ForEachZoneCell(grid, [&](long, long, double value) {
    const std::optional<int> code = ZoneCodeOf(value);
    if (!code) {
      failure = kWrongZoneCodeExitCode;
      return false;
    }
    if (present[static_cast<std::size_t>(*code)] == 0) {
      present[static_cast<std::size_t>(*code)] = 1;
      codes.push_back(*code);
      if (static_cast<int>(codes.size()) > kMaxModuleZoneCodes) {
        failure = kTooManyModuleZonesExitCode;
        return false;
      }
    }
    return true;
  });
  if (failure == kWrongZoneCodeExitCode)
    return Failed(std::move(ranking), failure,
                  Concat("wrong zone index in ", grid.fileName,
                         "!\n Zones have to range from 0 to ", kHighestModuleZoneCode, "!"));
  if (failure == kTooManyModuleZonesExitCode)
    return Failed(
        std::move(ranking), failure,
        Concat("too much zones in ", grid.fileName, ", (max. ", kMaxModuleZoneCodes, "!)"));

  std::sort(codes.begin(), codes.end());
  ranking.Count = static_cast<int>(codes.size());
  ranking.MaxCode = codes.empty() ? 0 : codes.back();
  ranking.Index = OneBasedArray<int>(static_cast<std::size_t>(ranking.MaxCode), 0);
  ranking.Table = OneBasedArray<ZoneRecord>(codes.size());
  ranking.Table[0].zonenwert = 1.0;
  for (std::size_t k = 1; k <= codes.size(); ++k) {
    ranking.Index[static_cast<std::size_t>(codes[k - 1])] = static_cast<int>(k);
    ranking.Table[k].zonenwert = codes[k - 1];
  }

  ForEachZoneCell(grid, [&](long r, long c, double value) {
    const auto zone =
        static_cast<std::size_t>(ranking.Index[static_cast<std::size_t>(*ZoneCodeOf(value))]);
    const bool weighted = grid.weights != nullptr && grid.weights->HasRow(r);
    const double weight = weighted ? (*grid.weights)[r][c] : 1.0;
    ZoneRecord &record = ranking.Table[zone];
    record.sx += 1.0;
    record.n += weight;
    record.RelCellSum += weight;
    return true;
  });
  double total = 0.0;
  for (std::size_t k = 1; k <= codes.size(); ++k)
    total += ranking.Table[k].n;
  if (total == 0.0)
    return Failed(std::move(ranking), kAllZoneCellsNodataExitCode,
                  Concat("all cells in ", grid.fileName, " are NODATA!"));
  for (std::size_t k = 1; k <= codes.size(); ++k)
    ranking.Table[k].rel = ranking.Table[k].n / total;
  ranking.Table[0].rel = total * grid.cellSize * grid.cellSize / 1000000.0;
  if (ranking.Count > kMaxModuleZones)
    return Failed(std::move(ranking), kTooManyModuleZonesExitCode,
                  Concat("too much subbasins (", ranking.Count, ") in ", grid.moduleName, " (max. ",
                         kMaxModuleZones, "). Ende!"));
  return ranking;
}

} // namespace tavro
