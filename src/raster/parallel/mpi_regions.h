// The division of the raster among the MPI processes as pure functions over
// plain data: speed weights, cell counts, owners, strips, per-row column
// ranges, run tables and halo lists. No MPI here; the thin layer in
// mpi_decomposition.h moves their inputs and results between the processes.
//
// Process order on the raster: the valid cells are taken in row-major order
// from the top row, the highest rank first; each rank takes its share and the
// next lower rank continues in the same row, so rank 0 owns the bottom-most
// cells and two neighbouring ranks may share a row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "kernel/one_based_array.h"

namespace tavro {

class DiagnosticsLog;
class Grid;

// Exit code of a raster that cannot be divided (fewer valid cells than
// processes, more rows or processes than message tags, wider than 32-bit columns).
inline constexpr int kDecompositionExitCode = 121;

// Number of valid cells owned by each rank 0..P-1; the same on every process.
using MpiCellCounts = std::vector<std::int64_t>;

// First and last column of the valid cells of one raster row; [0, -1] for a
// row without valid cells.
struct RowColumnRange {
  std::int32_t first = 0;
  std::int32_t last = -1;
  bool operator==(const RowColumnRange &) const = default;
};

// Consecutive cells of one row held as halo copies: exchanged as four 32-bit
// integers in this order.
struct HaloRecord {
  std::int32_t row = 0;
  std::int32_t firstColumn = 0;
  std::int32_t count = 0;
  std::int32_t peer = 0;
  bool operator==(const HaloRecord &) const = default;
};
static_assert(sizeof(HaloRecord) == 4 * sizeof(std::int32_t), "exchanged as four integers");

using HaloList = std::vector<HaloRecord>;

// Geometry of the zone grid that is divided.
struct RasterShape {
  long ncols = 0;
  long nrows = 0;
  double nodata = -9999.0;
};

// A band of rows, 1-based and inclusive.
struct StripRows {
  long first = 1;
  long last = 0;
  bool operator==(const StripRows &) const = default;
};

// A cell takes part in the model when its zone value is above nodata.
inline bool IsValidCell(double zoneValue, double nodata) { return zoneValue > nodata; }

// The value of the "MPIRegions", "MPIHelper" and "MPIHalo" cells that no
// process owns (or that are no halo copy). It is the grids' own, whatever the
// zone grid's nodata value: a nodata value of 0 or above would read as a rank.
inline constexpr double kNoOwner = -1.0;

// Owner rank of an "MPIRegions" or "MPIHalo" value, -1 for kNoOwner.
inline std::int32_t OwnerOf(double value) {
  return value >= 0.0 ? static_cast<std::int32_t>(value) : -1;
}

// The strip with one row more on each side where the raster has one.
StripRows HaloStrip(StripRows strip, long nrows);

// Refuses (exit code kDecompositionExitCode, on every process alike) a raster
// whose row numbers or a process count whose ranks do not fit the message tag
// bound, and a raster whose columns do not fit the 32-bit halo records.
void CheckMessageTagBound(const RasterShape &shape, int processCount, long tagUpperBound,
                          DiagnosticsLog &log);

// Share of each process: w_k = 1 / t_k for a time above 0, else 1 (also for a
// time that gives no finite weight), normalised to a sum of 1.
std::vector<double> SpeedWeights(std::span<const double> times);

// Result of the cell-count step: the targets and, when the text is not empty,
// why the raster cannot be divided.
struct CellCountTargets {
  MpiCellCounts counts;
  std::vector<int> raised; // ranks whose rounded share was raised to one cell
  std::string error;       // fatal message text (without "FATAL: "), empty on success
};

// n_k = floor(f * w_k + 0.4999) for k < P-1 and the rest for the last rank.
// Every rank gets at least one cell: a share that rounds to 0 or below is
// raised to 1 and the cells are taken one at a time from the largest share
// (the lowest rank among equals). Fewer valid cells than processes is an error.
CellCountTargets TargetCellCounts(std::int64_t validCells, std::span<const double> weights);

// Valid cells of rows 1..nrows, columns 1..ncols.
std::int64_t CountValidCells(const Grid &zone, const RasterShape &shape);

// Writes the owner rank of every valid cell into regions (kNoOwner elsewhere),
// walking the cells from the top with the highest rank first, and returns the
// strip (row of the first and of the last owned cell) of every rank. The
// targets must be at least 1 each and add up to the valid cells.
std::vector<StripRows> AssignOwners(const Grid &zone, Grid &regions, const RasterShape &shape,
                                    const MpiCellCounts &targets);

// Cells of regions rows 1..nrows owned by each rank 0..processCount-1.
MpiCellCounts CountOwnedCells(const Grid &regions, const RasterShape &shape, int processCount);

// Column ranges of the cells whose value differs from shape.nodata (the zone
// grid's nodata, or kNoOwner for "MPIRegions") for rows 0..nrows; only the
// rows of `rows` are computed, every other row is [0, -1].
OneBasedArray<RowColumnRange> ComputeRowColumnRanges(const Grid &grid, const RasterShape &shape,
                                                     StripRows rows);

// One run of consecutive cells of a row with the same owner; owner -1 for
// cells no process owns.
struct StripRun {
  std::int32_t firstColumn = 0;
  std::int32_t count = 0;
  std::int32_t owner = -1;
  bool operator==(const StripRun &) const = default;
};

// The runs of the rows of a raster, sized by the data: a row may hold as many
// runs as it has cells, however ragged the zone grid.
class RunTable {
public:
  RunTable() = default;
  // Empty tables for rows 0..nrows.
  explicit RunTable(long nrows);

  std::span<const StripRun> Row(long row) const;
  long Rows() const { return static_cast<long>(rowEnd_.size()) - 1; }
  std::size_t TotalRuns() const { return runs_.size(); }

  // Appends the runs of the next row; rows are added in ascending order.
  void SetRow(long row, std::span<const StripRun> runs);

private:
  std::vector<StripRun> runs_;
  std::vector<std::size_t> rowBegin_; // per row 0..nrows
  std::vector<std::size_t> rowEnd_;
};

// Runs of every row 1..nrows as rank 0 walks them: maximal runs of equal
// regions values from the first valid cell to the end of the row.
RunTable WholeRasterRuns(const Grid &regions, const RasterShape &shape);

// Runs of the cells owned by `rank` in the rows of its strip.
RunTable OwnRuns(const Grid &regions, const RasterShape &shape, StripRows strip, int rank);

// Fills the "MPIHelper" rows in their fixed layout, as far as a row of ncols
// doubles holds it (pairs in columns 1..ncols, the first empty pair ends the
// table; a row with more runs keeps the pairs that fit). Rank 0's layout
// (wholeRaster): column 0 the cells of no owner before the first owned cell,
// pairs (owner or kNoOwner, length). Other processes: pairs (first column, length) of
// own runs. The exchanges never read this grid; they use the RunTable.
void WriteHelperRows(const RunTable &runs, const Grid &regions, Grid &helper,
                     const RasterShape &shape, StripRows rows, bool wholeRaster);

// Marks in halo every foreign cell that touches a cell of `rank` in the rows
// `rows` (eight neighbours inside the raster) with its owner.
void MarkHaloCells(const Grid &regions, Grid &halo, const RasterShape &shape, StripRows rows,
                   int rank);

// Records of the foreign cells held as halo copies, walked over the rows of
// the halo strip; cells of one peer in a row separated by cells of that peer
// that are not halo copies form one record covering the gap. A gap holding a
// cell of no process (or of another process) starts a new record, so that no
// exchange ever writes a cell that its owner does not send.
HaloList BuildHaloReceiveList(const Grid &regions, const Grid &halo, const RasterShape &shape,
                              StripRows haloStrip);

// Peers of a list in ascending rank with the number of records for each.
struct PeerCount {
  int peer = 0;
  int records = 0;
  bool operator==(const PeerCount &) const = default;
};
std::vector<PeerCount> PeersOf(const HaloList &list);

} // namespace tavro
