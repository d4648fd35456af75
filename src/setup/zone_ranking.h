// Ranking of the codes of the run's zone grid and of its region grid into
// dense numbers 1..n (ascending by code), so that every module indexes its
// tables directly by a grid value: the zone table with its zone records and
// the per-row column ranges of the valid cells, and the region table with the
// mean row and column of every region. The ranking itself is pure work over
// the whole raster (rank 0); the broadcasts bring the same tables to every
// process.
#pragma once

#include "kernel/one_based_array.h"
#include "kernel/zone_record.h"
#include "raster/parallel/mpi_regions.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tavro {

class Grid;

inline constexpr int kHighestRankedCode = 32767;
inline constexpr int kMaxZoneCount = 16000;
inline constexpr int kMaxRegionCount = 30;
inline constexpr int kInvalidCodeExitCode = 3;
inline constexpr int kTooManyCodesExitCode = 4;
inline constexpr int kNoValidCellExitCode = 7;

// The zone table of the run: identical on every process.
struct ZoneRanking {
  int Count = 0;
  int MaxCode = 0;
  OneBasedArray<int> CodeIndex;      // zone number of the codes 0..MaxCode, 0 when absent
  OneBasedArray<ZoneRecord> Records; // records 0..Count
};

// One region: the means over its valid cells (integer fields cut).
struct RegionRecord {
  std::int32_t MeanRow = 0;
  std::int32_t MeanColumn = 0;
  double MeanRowExact = 0.0;
  double MeanColumnExact = 0.0;
  double CellCount = 0.0;
};

struct RegionRanking {
  int Count = 0;
  int MaxCode = 0;
  OneBasedArray<int> CodeIndex;        // region number of the codes 0..MaxCode
  OneBasedArray<RegionRecord> Records; // records 0..Count (0 holds nothing)
};

// Why a ranking stopped: the exit code and the entry text (without "FATAL: "
// and "[end-entry]"); code 0 when it succeeded.
struct RankingFailure {
  int ExitCode = 0;
  std::string Message;
};

struct ZoneRankingResult {
  ZoneRanking Table;
  OneBasedArray<RowColumnRange> RowRanges; // rows 0..nrows
  RankingFailure Failure;
};

struct RegionRankingResult {
  RegionRanking Table;
  RankingFailure Failure;
};

// The code of a grid value is its integer part; a value below 0 or whose
// integer part exceeds highestCode (or that is not a number) has none.
bool CodeOfValue(double value, int lowestCode, int highestCode, int &code);

// Ranks the zone grid (rows 1..nrows present): cells whose value differs from
// the shape's nodata are valid; weights (or none: every cell weighs 1) add to
// n and RelCellSum, the cell count to sx. fileName names the grid in messages.
ZoneRankingResult RankZoneGrid(const Grid &zone, const Grid *weights, const RasterShape &shape,
                               double cellSize, std::string_view fileName);

// Ranks the region grid over the valid cells of the zone grid (both whole).
RegionRankingResult RankRegionGrid(const Grid &zone, const Grid &regions, const RasterShape &shape,
                                   std::string_view fileName);

// Collective, with more than one process only: the zone table and every row's
// column range from rank 0; afterwards every process other than 0 keeps the
// ranges of its strip rows only.
void BroadcastZoneRanking(ZoneRanking &table, OneBasedArray<RowColumnRange> &rowRanges, long nrows,
                          StripRows strip, int rank, int processCount);

// Collective, always: the region table from rank 0.
void BroadcastRegionRanking(RegionRanking &table, int rank);

} // namespace tavro
