// Ranking of zone and region codes and the broadcasts of their tables.
#include "setup/zone_ranking.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid.h"
#include "kernel/grid_registry.h"
#include "raster/parallel/collective_failure.h"
#include "setup/defaultini.h"

#include <mpi.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace tavro {
namespace {

// Distinct codes in order of their first cell, with the first cell's value.
struct CodeCollector {
  std::vector<int> codes;
  std::vector<double> firstValues;
  std::vector<int> seen = std::vector<int>(kHighestRankedCode + 1, 0);
  int maxCode = 0;

  // False when the count then exceeds maxCount.
  bool Add(int code, double value, int maxCount) {
    maxCode = std::max(maxCode, code);
    if (seen[static_cast<std::size_t>(code)] != 0)
      return true;
    seen[static_cast<std::size_t>(code)] = 1;
    codes.push_back(code);
    firstValues.push_back(value);
    return static_cast<int>(codes.size()) <= maxCount;
  }

  // Ranks 1..n ascending by code into index (codes 0..maxCode) and returns
  // the positions of the collected codes in ranked order.
  std::vector<std::size_t> Rank(OneBasedArray<int> &index) const {
    std::vector<std::size_t> order(codes.size());
    for (std::size_t i = 0; i < order.size(); ++i)
      order[i] = i;
    std::sort(order.begin(), order.end(),
              [this](std::size_t a, std::size_t b) { return codes[a] < codes[b]; });
    index = OneBasedArray<int>(static_cast<std::size_t>(maxCode), 0);
    for (std::size_t rank = 0; rank < order.size(); ++rank)
      index[static_cast<std::size_t>(codes[order[rank]])] = static_cast<int>(rank + 1);
    return order;
  }
};

std::string InvalidZoneCode(std::string_view fileName) {
  return Concat("invalid zone code in ", fileName, "!\n (codes has to be between 0 and ",
                kHighestRankedCode, ")!");
}

} // namespace

bool CodeOfValue(double value, int lowestCode, int highestCode, int &code) {
  if (!std::isfinite(value) || value < 0.0 || value >= static_cast<double>(highestCode) + 1.0)
    return false;
  code = static_cast<int>(value);
  return code >= lowestCode;
}

ZoneRankingResult RankZoneGrid(const Grid &zone, const Grid *weights, const RasterShape &shape,
                               double cellSize, std::string_view fileName) {
  ZoneRankingResult result;
  result.RowRanges = OneBasedArray<RowColumnRange>(static_cast<std::size_t>(shape.nrows));
  CodeCollector collector;
  for (long r = 1; r <= shape.nrows; ++r) {
    const double *row = zone[r];
    RowColumnRange &range = result.RowRanges[static_cast<std::size_t>(r)];
    for (long c = 1; c <= shape.ncols; ++c) {
      if (row[c] == shape.nodata)
        continue;
      if (range.first == 0)
        range.first = static_cast<std::int32_t>(c);
      range.last = static_cast<std::int32_t>(c);
      int code = 0;
      if (!CodeOfValue(row[c], 0, kHighestRankedCode, code)) {
        result.Failure = {kInvalidCodeExitCode, InvalidZoneCode(fileName)};
        return result;
      }
      if (!collector.Add(code, row[c], kMaxZoneCount)) {
        result.Failure = {kTooManyCodesExitCode,
                          Concat("too much zones in ", fileName, ", (max. ", kMaxZoneCount, ")!")};
        return result;
      }
    }
  }

  ZoneRanking &table = result.Table;
  const auto order = collector.Rank(table.CodeIndex);
  table.Count = static_cast<int>(order.size());
  table.MaxCode = collector.maxCode;
  table.Records = OneBasedArray<ZoneRecord>(order.size());
  for (std::size_t k = 0; k < order.size(); ++k)
    table.Records[k + 1].zonenwert = collector.firstValues[order[k]];

  for (long r = 1; r <= shape.nrows; ++r) {
    const double *row = zone[r];
    for (long c = 1; c <= shape.ncols; ++c) {
      if (row[c] == shape.nodata)
        continue;
      const double weight = weights != nullptr ? (*weights)[r][c] : 1.0;
      ZoneRecord &record =
          table
              .Records[static_cast<std::size_t>(table.CodeIndex[static_cast<std::size_t>(row[c])])];
      record.sx += 1.0;
      record.n += weight;
      record.RelCellSum += weight;
    }
  }
  double total = 0.0;
  for (int k = 1; k <= table.Count; ++k)
    total += table.Records[static_cast<std::size_t>(k)].n;
  if (table.Count == 0 || total == 0.0) {
    result.Failure = {kNoValidCellExitCode,
                      Concat("all cells in the zone grid ", fileName, " are NODATA!")};
    return result;
  }
  for (int k = 1; k <= table.Count; ++k) {
    ZoneRecord &record = table.Records[static_cast<std::size_t>(k)];
    record.rel = record.n / total;
  }
  table.Records[0].rel = total * cellSize * cellSize / 1000000.0;
  return result;
}

RegionRankingResult RankRegionGrid(const Grid &zone, const Grid &regions, const RasterShape &shape,
                                   std::string_view fileName) {
  RegionRankingResult result;
  CodeCollector collector;
  for (long r = 1; r <= shape.nrows; ++r) {
    for (long c = 1; c <= shape.ncols; ++c) {
      if (zone[r][c] == shape.nodata)
        continue;
      const double value = regions[r][c];
      int code = 0;
      if (!CodeOfValue(value, 1, kHighestRankedCode, code)) {
        result.Failure = {kInvalidCodeExitCode, Concat("invalid region code in ", fileName,
                                                       "!\n (codes has to be between 1 and ",
                                                       kHighestRankedCode, ")!\n")};
        return result;
      }
      if (!collector.Add(code, value, kMaxRegionCount)) {
        result.Failure = {kTooManyCodesExitCode, Concat("too much zones in ", fileName, ", (max. ",
                                                        kMaxRegionCount, ")!\n")};
        return result;
      }
    }
  }
  RegionRanking &table = result.Table;
  const auto order = collector.Rank(table.CodeIndex);
  table.Count = static_cast<int>(order.size());
  table.MaxCode = collector.maxCode;
  table.Records = OneBasedArray<RegionRecord>(order.size());
  std::vector<double> rowSums(order.size() + 1, 0.0);
  std::vector<double> columnSums(order.size() + 1, 0.0);
  for (long r = 1; r <= shape.nrows; ++r) {
    for (long c = 1; c <= shape.ncols; ++c) {
      if (zone[r][c] == shape.nodata || regions[r][c] == shape.nodata)
        continue;
      const auto k = static_cast<std::size_t>(
          table.CodeIndex[static_cast<std::size_t>(static_cast<int>(regions[r][c]))]);
      rowSums[k] += static_cast<double>(r);
      columnSums[k] += static_cast<double>(c);
      table.Records[k].CellCount += 1.0;
    }
  }
  for (std::size_t k = 1; k <= order.size(); ++k) {
    RegionRecord &record = table.Records[k];
    record.MeanRowExact = rowSums[k] / record.CellCount;
    record.MeanColumnExact = columnSums[k] / record.CellCount;
    record.MeanRow = static_cast<std::int32_t>(record.MeanRowExact);
    record.MeanColumn = static_cast<std::int32_t>(record.MeanColumnExact);
  }
  return result;
}

void BroadcastZoneRanking(ZoneRanking &table, OneBasedArray<RowColumnRange> &rowRanges, long nrows,
                          StripRows strip, int rank, int processCount) {
  if (processCount <= 1)
    return;
  int sizes[2] = {table.Count, table.MaxCode};
  MPI_Bcast(sizes, 2, MPI_INT, 0, MPI_COMM_WORLD);
  if (rank != 0) {
    table.Count = sizes[0];
    table.MaxCode = sizes[1];
    table.CodeIndex = OneBasedArray<int>(static_cast<std::size_t>(table.MaxCode), 0);
    table.Records = OneBasedArray<ZoneRecord>(static_cast<std::size_t>(table.Count));
    rowRanges = OneBasedArray<RowColumnRange>(static_cast<std::size_t>(nrows));
  }
  MPI_Bcast(table.CodeIndex.Data(), table.MaxCode + 1, MPI_INT, 0, MPI_COMM_WORLD);
  MPI_Bcast(table.Records.Data(), (table.Count + 1) * 5, MPI_DOUBLE, 0, MPI_COMM_WORLD);
  static_assert(sizeof(RowColumnRange) == 2 * sizeof(std::int32_t));
  MPI_Bcast(rowRanges.Data(), static_cast<int>((nrows + 1) * 2), MPI_INT32_T, 0, MPI_COMM_WORLD);
  if (rank != 0)
    for (long r = 0; r <= nrows; ++r)
      if (r < strip.first || r > strip.last)
        rowRanges[static_cast<std::size_t>(r)] = RowColumnRange{};
}

void BroadcastRegionRanking(RegionRanking &table, int rank) {
  MPI_Barrier(MPI_COMM_WORLD);
  int sizes[2] = {table.Count, table.MaxCode};
  MPI_Bcast(sizes, 2, MPI_INT, 0, MPI_COMM_WORLD);
  MPI_Barrier(MPI_COMM_WORLD);
  if (rank != 0) {
    table.Count = sizes[0];
    table.MaxCode = sizes[1];
    table.CodeIndex = OneBasedArray<int>(static_cast<std::size_t>(table.MaxCode), 0);
  }
  MPI_Bcast(table.CodeIndex.Data(), table.MaxCode + 1, MPI_INT, 0, MPI_COMM_WORLD);
  MPI_Barrier(MPI_COMM_WORLD);
  if (rank != 0)
    table.Records = OneBasedArray<RegionRecord>(static_cast<std::size_t>(table.Count));

  // Two 32-bit integers and three doubles, as laid out in RegionRecord.
  int lengths[2] = {2, 3};
  MPI_Aint displacements[2] = {offsetof(RegionRecord, MeanRow),
                               offsetof(RegionRecord, MeanRowExact)};
  MPI_Datatype types[2] = {MPI_INT32_T, MPI_DOUBLE};
  MPI_Datatype packed = MPI_DATATYPE_NULL;
  MPI_Datatype recordType = MPI_DATATYPE_NULL;
  MPI_Type_create_struct(2, lengths, displacements, types, &packed);
  MPI_Type_create_resized(packed, 0, sizeof(RegionRecord), &recordType);
  MPI_Type_commit(&recordType);
  MPI_Bcast(table.Records.Data(), table.Count + 1, recordType, 0, MPI_COMM_WORLD);
  MPI_Type_free(&recordType);
  MPI_Type_free(&packed);
}

// --- The set-up object's zone and region ranking ---------------------------

void defaultini::RankZones(GridRegistry &registry, const Grid *weights, int ncols, int nrows,
                           double noData) {
  const GridEntry &zone = registry[1];
  int failure = 0;
  if (MPIRank == 0) {
    Log->Entry(Concat("ranking zones from ", zone.FileName, " for ", ModuleName,
                      DiagnosticsLog::EndToken));
    ZoneRankingResult result =
        RankZoneGrid(*zone.Data, weights, {ncols, nrows, noData}, CellSize, zone.FileName);
    if (result.Failure.ExitCode != 0) {
      failure = CaptureExitCode(
          [&] { ThrowFatal(*Log, result.Failure.ExitCode, result.Failure.Message); });
    } else {
      zones_ = std::move(result.Table);
      rowRanges_ = std::move(result.RowRanges);
    }
  }
  ThrowIfAnyFailed(*Log, failure);
  const StripRows strip = decomposed_ ? decomposition_.strip : StripRows{1, nrows};
  BroadcastZoneRanking(zones_, rowRanges_, nrows, strip, MPIRank, MPIProcessCount);
  ZoneTable = &zones_.Records;
  ZoneIndex = &zones_.CodeIndex;
  RowRanges = &rowRanges_;
  ZoneCount = zones_.Count;
  MaxZoneCode = zones_.MaxCode;
}

void defaultini::RankRegions(int regionGridIndex) {
  const GridEntry &region = (*Registry)[regionGridIndex];
  const GridEntry &zone = (*Registry)[1];
  int failure = 0;
  if (MPIRank == 0) {
    Log->Entry(Concat("ranking regions from ", region.FileName, " for ", ModuleName,
                      DiagnosticsLog::EndToken));
    RegionRankingResult result =
        RankRegionGrid(*zone.Data, *region.Data, {NCols, NRows, NoData}, region.FileName);
    if (result.Failure.ExitCode != 0)
      failure = CaptureExitCode(
          [&] { ThrowFatal(*Log, result.Failure.ExitCode, result.Failure.Message); });
    else
      regions_ = std::move(result.Table);
  }
  ThrowIfAnyFailed(*Log, failure);
  BroadcastRegionRanking(regions_, MPIRank);
}

} // namespace tavro
