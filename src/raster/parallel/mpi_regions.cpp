// Pure steps of the raster decomposition; see mpi_regions.h.
#include "raster/parallel/mpi_regions.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid.h"

namespace tavro {

StripRows HaloStrip(StripRows strip, long nrows) {
  return {strip.first > 1 ? strip.first - 1 : strip.first,
          strip.last < nrows ? strip.last + 1 : strip.last};
}

void CheckMessageTagBound(const RasterShape &shape, int processCount, long tagUpperBound,
                          DiagnosticsLog &log) {
  constexpr long kInt32Max = std::numeric_limits<std::int32_t>::max();
  if (shape.nrows > tagUpperBound) {
    ThrowFatal(log, kDecompositionExitCode,
               Concat("MPI-Regions: the raster has ", shape.nrows,
                      " rows, but the message tags of this MPI library end at ", tagUpperBound,
                      " (strip messages are tagged with their row number)"));
  }
  if (processCount - 1L > tagUpperBound) {
    ThrowFatal(log, kDecompositionExitCode,
               Concat("MPI-Regions: ", processCount,
                      " processes, but the message tags of this MPI library end at ", tagUpperBound,
                      " (collection messages are tagged with the rank)"));
  }
  if (shape.ncols > kInt32Max || shape.nrows > kInt32Max) {
    ThrowFatal(log, kDecompositionExitCode,
               Concat("MPI-Regions: a raster of ", shape.ncols, " columns and ", shape.nrows,
                      " rows exceeds the 32-bit cell positions of the halo records"));
  }
}

std::vector<double> SpeedWeights(std::span<const double> times) {
  std::vector<double> weights;
  weights.reserve(times.size());
  for (const double t : times) {
    const double w = t > 0.0 ? 1.0 / t : 1.0;
    weights.push_back(std::isfinite(w) ? w : 1.0);
  }
  double sum = 0.0;
  for (const double w : weights)
    sum += w;
  for (double &w : weights)
    w /= sum;
  return weights;
}

namespace {

// Raises every share below one cell to one, taking the cells from the
// largest share (the lowest rank among equals), one at a time.
std::vector<int> RaiseEmptyShares(MpiCellCounts &counts) {
  std::vector<int> raised;
  std::int64_t deficit = 0;
  for (std::size_t k = 0; k < counts.size(); ++k) {
    if (counts[k] < 1) {
      deficit += 1 - counts[k];
      counts[k] = 1;
      raised.push_back(static_cast<int>(k));
    }
  }
  while (deficit > 0) {
    const auto largest = std::max_element(counts.begin(), counts.end());
    const std::int64_t take = std::min(deficit, *largest - 1);
    *largest -= take;
    deficit -= take;
  }
  return raised;
}

} // namespace

CellCountTargets TargetCellCounts(std::int64_t validCells, std::span<const double> weights) {
  CellCountTargets result;
  const auto processes = static_cast<std::int64_t>(weights.size());
  if (processes < 1 || validCells < processes) {
    result.error = Concat("MPI-Regions: ", validCells, " valid cells cannot be divided among ",
                          processes, " processes: every process needs at least one cell");
    return result;
  }
  result.counts.assign(weights.size(), 0);
  std::int64_t assigned = 0;
  const double f = static_cast<double>(validCells);
  for (std::size_t k = 0; k + 1 < weights.size(); ++k) {
    result.counts[k] = static_cast<std::int64_t>(std::floor(f * weights[k] + 0.4999));
    assigned += result.counts[k];
  }
  result.counts.back() = validCells - assigned;
  result.raised = RaiseEmptyShares(result.counts);
  return result;
}

std::int64_t CountValidCells(const Grid &zone, const RasterShape &shape) {
  std::int64_t count = 0;
  for (long r = 1; r <= shape.nrows; ++r) {
    const double *row = zone[r];
    for (long c = 1; c <= shape.ncols; ++c)
      count += IsValidCell(row[c], shape.nodata) ? 1 : 0;
  }
  return count;
}

std::vector<StripRows> AssignOwners(const Grid &zone, Grid &regions, const RasterShape &shape,
                                    const MpiCellCounts &targets) {
  const auto processes = static_cast<long>(targets.size());
  std::vector<StripRows> strips(targets.size(), StripRows{-1, -1});
  MpiCellCounts left = targets;
  long owner = processes - 1;
  for (long r = 1; r <= shape.nrows; ++r) {
    const double *zoneRow = zone[r];
    double *regionRow = regions[r];
    for (long c = 1; c <= shape.ncols; ++c) {
      if (!IsValidCell(zoneRow[c], shape.nodata)) {
        regionRow[c] = kNoOwner;
        continue;
      }
      auto &strip = strips[static_cast<std::size_t>(owner)];
      if (strip.first < 0)
        strip = {r, r};
      regionRow[c] = static_cast<double>(owner);
      if (--left[static_cast<std::size_t>(owner)] == 0) {
        strip.last = r;
        owner = std::max(owner - 1, 0L);
      }
    }
  }
  return strips;
}

MpiCellCounts CountOwnedCells(const Grid &regions, const RasterShape &shape, int processCount) {
  MpiCellCounts counts(static_cast<std::size_t>(processCount), 0);
  for (long r = 1; r <= shape.nrows; ++r) {
    const double *row = regions[r];
    for (long c = 1; c <= shape.ncols; ++c) {
      if (row[c] >= 0.0 && row[c] < processCount)
        ++counts[static_cast<std::size_t>(row[c])];
    }
  }
  return counts;
}

OneBasedArray<RowColumnRange> ComputeRowColumnRanges(const Grid &grid, const RasterShape &shape,
                                                     StripRows rows) {
  OneBasedArray<RowColumnRange> ranges(static_cast<std::size_t>(shape.nrows));
  for (long r = std::max(rows.first, 1L); r <= std::min(rows.last, shape.nrows); ++r) {
    const double *row = grid[r];
    RowColumnRange &range = ranges[static_cast<std::size_t>(r)];
    for (long c = 1; c <= shape.ncols; ++c) {
      if (row[c] != shape.nodata) {
        if (range.first == 0)
          range.first = static_cast<std::int32_t>(c);
        range.last = static_cast<std::int32_t>(c);
      }
    }
  }
  return ranges;
}

RunTable::RunTable(long nrows)
    : rowBegin_(static_cast<std::size_t>(nrows) + 1, 0),
      rowEnd_(static_cast<std::size_t>(nrows) + 1, 0) {}

std::span<const StripRun> RunTable::Row(long row) const {
  if (row < 0 || row > Rows())
    return {};
  const auto r = static_cast<std::size_t>(row);
  return std::span<const StripRun>(runs_).subspan(rowBegin_[r], rowEnd_[r] - rowBegin_[r]);
}

void RunTable::SetRow(long row, std::span<const StripRun> runs) {
  const auto r = static_cast<std::size_t>(row);
  rowBegin_[r] = runs_.size();
  runs_.insert(runs_.end(), runs.begin(), runs.end());
  rowEnd_[r] = runs_.size();
}

RunTable WholeRasterRuns(const Grid &regions, const RasterShape &shape) {
  RunTable table(shape.nrows);
  std::vector<StripRun> runs;
  for (long r = 1; r <= shape.nrows; ++r) {
    runs.clear();
    const double *row = regions[r];
    long c = 1;
    while (c <= shape.ncols && OwnerOf(row[c]) < 0)
      ++c;
    for (; c <= shape.ncols; ++c) {
      const std::int32_t owner = OwnerOf(row[c]);
      if (runs.empty() || runs.back().owner != owner)
        runs.push_back({static_cast<std::int32_t>(c), 1, owner});
      else
        ++runs.back().count;
    }
    table.SetRow(r, runs);
  }
  return table;
}

RunTable OwnRuns(const Grid &regions, const RasterShape &shape, StripRows strip, int rank) {
  RunTable table(shape.nrows);
  std::vector<StripRun> runs;
  const double own = static_cast<double>(rank);
  for (long r = std::max(strip.first, 1L); r <= std::min(strip.last, shape.nrows); ++r) {
    runs.clear();
    const double *row = regions[r];
    for (long c = 1; c <= shape.ncols; ++c) {
      if (row[c] != own)
        continue;
      if (!runs.empty() && runs.back().firstColumn + runs.back().count == c)
        ++runs.back().count;
      else
        runs.push_back({static_cast<std::int32_t>(c), 1, rank});
    }
    table.SetRow(r, runs);
  }
  return table;
}

void WriteHelperRows(const RunTable &runs, const Grid &regions, Grid &helper,
                     const RasterShape &shape, StripRows rows, bool wholeRaster) {
  // The pair after the last one must fit as the empty end marker: 2n + 2 <= ncols.
  const std::size_t capacity = shape.ncols >= 2 ? static_cast<std::size_t>(shape.ncols - 2) / 2 : 0;
  for (long r = std::max(rows.first, 1L); r <= std::min(rows.last, shape.nrows); ++r) {
    double *out = helper[r];
    std::fill(out, out + shape.ncols + 1, 0.0);
    const auto row = runs.Row(r);
    if (wholeRaster) {
      const double *owners = regions[r];
      long leading = 0;
      while (leading < shape.ncols && OwnerOf(owners[leading + 1]) < 0)
        ++leading;
      out[0] = static_cast<double>(leading);
    }
    const std::size_t pairs = std::min(row.size(), capacity);
    for (std::size_t i = 0; i < pairs; ++i) {
      const StripRun &run = row[i];
      const double first = wholeRaster ? (run.owner >= 0 ? run.owner : kNoOwner)
                                       : static_cast<double>(run.firstColumn);
      out[2 * i + 1] = first;
      out[2 * i + 2] = static_cast<double>(run.count);
    }
  }
}

void MarkHaloCells(const Grid &regions, Grid &halo, const RasterShape &shape, StripRows rows,
                   int rank) {
  const double own = static_cast<double>(rank);
  for (long r = std::max(rows.first, 1L); r <= std::min(rows.last, shape.nrows); ++r) {
    for (long c = 1; c <= shape.ncols; ++c) {
      if (regions[r][c] != own)
        continue;
      for (long rr = std::max(r - 1, 1L); rr <= std::min(r + 1, shape.nrows); ++rr) {
        for (long cc = std::max(c - 1, 1L); cc <= std::min(c + 1, shape.ncols); ++cc) {
          const double owner = regions[rr][cc];
          if (owner != own && OwnerOf(owner) >= 0)
            halo[rr][cc] = owner;
        }
      }
    }
  }
}

namespace {

// True when every cell of columns from..to-1 belongs to the owner: only then
// may a halo record span them, since the owner's values of those cells are
// the true ones. A gap of cells of no process would overwrite the receiver's
// values there (rank 0 keeps data outside the zone in its whole grids).
bool GapOwnedBy(const double *owners, long from, long to, double owner) {
  for (long c = from; c < to; ++c)
    if (owners[c] != owner)
      return false;
  return true;
}

} // namespace

HaloList BuildHaloReceiveList(const Grid &regions, const Grid &halo, const RasterShape &shape,
                              StripRows haloStrip) {
  HaloList list;
  for (long r = std::max(haloStrip.first, 1L); r <= std::min(haloStrip.last, shape.nrows); ++r) {
    double previousOwner = -1.0;
    double previousHalo = -1.0;
    for (long c = 1; c <= shape.ncols; ++c) {
      const double h = halo[r][c];
      if (h < 0.0) {
        previousOwner = previousHalo = -1.0;
        continue;
      }
      const double m = regions[r][c];
      const auto peer = static_cast<std::int32_t>(h);
      if (m == previousOwner && h == previousHalo) {
        ++list.back().count;
      } else if (!list.empty() && list.back().row == r && list.back().peer == peer &&
                 GapOwnedBy(regions[r], list.back().firstColumn + list.back().count, c, h)) {
        list.back().count = static_cast<std::int32_t>(c - list.back().firstColumn + 1);
      } else {
        list.push_back({static_cast<std::int32_t>(r), static_cast<std::int32_t>(c), 1, peer});
      }
      previousOwner = m;
      previousHalo = h;
    }
  }
  return list;
}

std::vector<PeerCount> PeersOf(const HaloList &list) {
  std::map<int, int> counts;
  for (const HaloRecord &record : list)
    ++counts[record.peer];
  std::vector<PeerCount> peers;
  peers.reserve(counts.size());
  for (const auto &[peer, records] : counts)
    peers.push_back({peer, records});
  return peers;
}

} // namespace tavro
