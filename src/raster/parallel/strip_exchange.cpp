// Scatter, gather, halo exchange and mask-cell exchange; see strip_exchange.h.
//
// Deadlock freedom of the blocking scatters and gathers rests on the order:
// rank 0 walks the rows from the top and each row's runs from the left, and
// every owner walks its own runs in the same order, so rank 0's messages to
// one process come in exactly that process's order.
#include "raster/parallel/strip_exchange.h"

#include <mpi.h>

#include <climits>
#include <vector>

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"

namespace tavro {
namespace {

[[noreturn]] void MissingRow(const MpiDecomposition &d, DiagnosticsLog &log, const char *what,
                             long row) {
  ThrowFatal(log, kStripExchangeExitCode,
             Concat("MPI-Regions: ", what, " needs row ", row, " of the ", "grid on mpi-rank ",
                    d.rank, ", which does not hold it"));
}

void CheckColumns(const MpiDecomposition &d, long lastColumn, DiagnosticsLog &log,
                  const char *what) {
  if (lastColumn < d.shape.ncols) {
    ThrowFatal(log, kStripExchangeExitCode,
               Concat("MPI-Regions: ", what, " needs columns 1 to ", d.shape.ncols,
                      ", but the grid on mpi-rank ", d.rank, " ends at column ", lastColumn));
  }
}

// Row-checked cell access of a grid: a run of k cells is k doubles.
template <class GridType> class GridCells {
public:
  GridCells(GridType &grid, const MpiDecomposition &d, DiagnosticsLog &log, const char *what)
      : grid_(grid), d_(d), log_(log), what_(what) {
    CheckColumns(d, grid.LastColumn(), log, what);
  }
  auto *At(long row, long column) {
    if (!grid_.HasRow(row))
      MissingRow(d_, log_, what_, row);
    return grid_[row] + column;
  }
  int Count(long cells) const { return static_cast<int>(cells); }

private:
  GridType &grid_;
  const MpiDecomposition &d_;
  DiagnosticsLog &log_;
  const char *what_;
};

// Row-checked cell access of a stack: a run of k cells is k * (L + 1)
// consecutive doubles from level 0 of its first cell.
template <class StackType> class StackCells {
public:
  StackCells(StackType &stack, const MpiDecomposition &d, DiagnosticsLog &log, const char *what)
      : stack_(stack), d_(d), log_(log), what_(what), levels_(stack.LastLevel() + 1) {
    CheckColumns(d, stack.LastColumn(), log, what);
  }
  auto *At(long row, long column) {
    if (!stack_.HasRow(row))
      MissingRow(d_, log_, what_, row);
    return stack_.RowData(row) + column * levels_;
  }
  int Count(long cells) const { return static_cast<int>(cells * levels_); }

private:
  StackType &stack_;
  const MpiDecomposition &d_;
  DiagnosticsLog &log_;
  const char *what_;
  long levels_;
};

// Every process must hold the same levels, and a whole row of them must fit
// one message; checked on all processes together so that all stop alike.
void CheckStackLevels(const MpiDecomposition &d, long lastLevel, DiagnosticsLog &log,
                      const char *what) {
  long bounds[2] = {lastLevel, -lastLevel};
  MPI_Allreduce(MPI_IN_PLACE, bounds, 2, MPI_LONG, MPI_MAX, MPI_COMM_WORLD);
  if (bounds[0] != -bounds[1]) {
    ThrowFatal(log, kStripExchangeExitCode,
               Concat("MPI-Regions: ", what, " of a stack whose last level differs between ",
                      "the processes (", -bounds[1], " to ", bounds[0], ")"));
  }
  if ((d.shape.ncols + 1) * (lastLevel + 1) > INT_MAX) {
    ThrowFatal(log, kStripExchangeExitCode,
               Concat("MPI-Regions: ", what, " of a stack of ", lastLevel + 1, " levels and ",
                      d.shape.ncols, " columns: a row exceeds one message"));
  }
}

template <class Cells> void RootSendsRuns(const MpiDecomposition &d, Cells &cells) {
  for (long r = 1; r <= d.shape.nrows; ++r) {
    for (const StripRun &run : d.runs.Row(r)) {
      if (run.owner > 0) {
        MPI_Send(cells.At(r, run.firstColumn), cells.Count(run.count), MPI_DOUBLE, run.owner,
                 static_cast<int>(r), MPI_COMM_WORLD);
      }
    }
  }
}

template <class Cells> void RootReceivesRuns(const MpiDecomposition &d, Cells &cells) {
  for (long r = 1; r <= d.shape.nrows; ++r) {
    for (const StripRun &run : d.runs.Row(r)) {
      if (run.owner > 0) {
        MPI_Recv(cells.At(r, run.firstColumn), cells.Count(run.count), MPI_DOUBLE, run.owner,
                 static_cast<int>(r), MPI_COMM_WORLD, MPI_STATUS_IGNORE);
      }
    }
  }
}

template <class Cells> void OwnerReceivesRuns(const MpiDecomposition &d, Cells &cells) {
  for (long r = d.strip.first; r <= d.strip.last; ++r) {
    for (const StripRun &run : d.runs.Row(r)) {
      MPI_Recv(cells.At(r, run.firstColumn), cells.Count(run.count), MPI_DOUBLE, 0,
               static_cast<int>(r), MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    }
  }
}

template <class Cells> void OwnerSendsRuns(const MpiDecomposition &d, Cells &cells) {
  for (long r = d.strip.first; r <= d.strip.last; ++r) {
    for (const StripRun &run : d.runs.Row(r)) {
      MPI_Send(cells.At(r, run.firstColumn), cells.Count(run.count), MPI_DOUBLE, 0,
               static_cast<int>(r), MPI_COMM_WORLD);
    }
  }
}

template <class Cells> void Scatter(const MpiDecomposition &d, Cells &cells) {
  if (d.rank == 0)
    RootSendsRuns(d, cells);
  else
    OwnerReceivesRuns(d, cells);
}

template <class Cells> void Gather(const MpiDecomposition &d, Cells &cells) {
  if (d.rank == 0)
    RootReceivesRuns(d, cells);
  else
    OwnerSendsRuns(d, cells);
}

// Halo copies: all sends and receives are posted before the one wait.
template <class Cells>
void ExchangeHaloRecords(const MpiDecomposition &d, Cells &cells, bool tagByRow) {
  std::vector<MPI_Request> requests;
  requests.reserve(d.haloSend.size() + d.haloReceive.size());
  for (const HaloRecord &record : d.haloSend) {
    requests.emplace_back();
    MPI_Isend(cells.At(record.row, record.firstColumn), cells.Count(record.count), MPI_DOUBLE,
              record.peer, tagByRow ? record.row : 0, MPI_COMM_WORLD, &requests.back());
  }
  for (const HaloRecord &record : d.haloReceive) {
    requests.emplace_back();
    MPI_Irecv(cells.At(record.row, record.firstColumn), cells.Count(record.count), MPI_DOUBLE,
              record.peer, tagByRow ? record.row : 0, MPI_COMM_WORLD, &requests.back());
  }
  MPI_Waitall(static_cast<int>(requests.size()), requests.data(), MPI_STATUSES_IGNORE);
}

void LogStack(const MpiDecomposition &d, DiagnosticsLog &log, const char *text,
              std::string_view identifier) {
  if (!identifier.empty())
    log << text << std::string(identifier) << " for mpi-rank " << d.rank << "[end-entry]";
}

// Visits the mask cells of the rows in scan order: columns of each row's
// column range whose mask value is above nodata; visit(row, column, owner)
// with owner -1 for a cell of no process.
template <class Visit>
void ScanMaskCells(const MpiDecomposition &d, const Grid &mask, StripRows rows, DiagnosticsLog &log,
                   const char *what, Visit visit) {
  CheckColumns(d, mask.LastColumn(), log, what);
  for (long r = rows.first; r <= rows.last; ++r) {
    const RowColumnRange range = d.rowRanges[static_cast<std::size_t>(r)];
    if (range.first < 1 || range.last < range.first)
      continue;
    if (!mask.HasRow(r) || !d.regions.HasRow(r))
      MissingRow(d, log, what, r);
    const double *maskRow = mask[r];
    const double *owners = d.regions[r];
    for (long c = range.first; c <= range.last; ++c) {
      if (maskRow[c] > d.shape.nodata)
        visit(r, c, OwnerOf(owners[c]));
    }
  }
}

// Rows a process scans for its mask cells: every row on rank 0, the strip elsewhere.
StripRows ScanRows(const MpiDecomposition &d) {
  return d.rank == 0 ? StripRows{1, d.shape.nrows} : d.strip;
}

// The mask-cell counts must have one entry per process and match the mask
// cells each process finds, else the buffers would be read out of bounds.
void CheckMaskCounts(const MpiDecomposition &d, const Grid &mask,
                     std::span<const std::int64_t> counts, DiagnosticsLog &log, const char *what) {
  if (counts.size() != static_cast<std::size_t>(d.processCount)) {
    ThrowFatal(log, kStripExchangeExitCode,
               Concat("MPI-Regions: ", what, " got ", counts.size(), " mask-cell counts for ",
                      d.processCount, " processes"));
  }
  std::vector<std::int64_t> found(counts.size(), 0);
  ScanMaskCells(d, mask, ScanRows(d), log, what, [&](long, long, int owner) {
    if (owner >= 0 && owner < d.processCount && (d.rank == 0 || owner == d.rank))
      ++found[static_cast<std::size_t>(owner)];
  });
  for (int r = 1; r < d.processCount; ++r) {
    const auto k = static_cast<std::size_t>(r);
    if ((d.rank == 0 || d.rank == r) && (found[k] != counts[k] || counts[k] > INT_MAX)) {
      ThrowFatal(log, kStripExchangeExitCode,
                 Concat("MPI-Regions: ", what, ": mpi-rank ", r, " owns ", found[k],
                        " mask cells, but the count given is ", counts[k]));
    }
  }
}

} // namespace

void ScatterGrid(const MpiDecomposition &decomposition, Grid &grid, DiagnosticsLog &log) {
  if (decomposition.processCount < 2)
    return;
  GridCells<Grid> cells(grid, decomposition, log, "the grid scatter");
  Scatter(decomposition, cells);
}

void GatherGrid(const MpiDecomposition &decomposition, Grid &grid, DiagnosticsLog &log) {
  if (decomposition.processCount < 2)
    return;
  GridCells<Grid> cells(grid, decomposition, log, "the grid gather");
  Gather(decomposition, cells);
}

Grid GatherGridForOutput(const MpiDecomposition &d, const Grid &grid, DiagnosticsLog &log) {
  constexpr const char *kWhat = "the grid gather for output";
  if (d.rank != 0) {
    GridCells<const Grid> cells(grid, d, log, kWhat);
    OwnerSendsRuns(d, cells);
    return {};
  }
  GridCells<const Grid> source(grid, d, log, kWhat);
  Grid copy(1, d.shape.nrows, d.shape.ncols, d.shape.nrows, log);
  for (long r = 1; r <= d.shape.nrows; ++r) {
    const double *owners = d.regions[r];
    double *out = copy[r];
    for (long c = 1; c <= d.shape.ncols; ++c)
      out[c] = owners[c] == 0.0 ? *source.At(r, c) : d.shape.nodata;
  }
  GridCells<Grid> target(copy, d, log, kWhat);
  RootReceivesRuns(d, target);
  return copy;
}

void ScatterStack(const MpiDecomposition &decomposition, Stack &stack, DiagnosticsLog &log,
                  std::string_view identifier) {
  if (decomposition.processCount < 2)
    return;
  constexpr const char *kWhat = "the stack scatter";
  CheckStackLevels(decomposition, stack.LastLevel(), log, kWhat);
  LogStack(decomposition, log, "re-distributing stack ", identifier);
  StackCells<Stack> cells(stack, decomposition, log, kWhat);
  Scatter(decomposition, cells);
}

void GatherStack(const MpiDecomposition &decomposition, Stack &stack, DiagnosticsLog &log,
                 std::string_view identifier) {
  if (decomposition.processCount < 2)
    return;
  constexpr const char *kWhat = "the stack gather";
  CheckStackLevels(decomposition, stack.LastLevel(), log, kWhat);
  LogStack(decomposition, log, "synchronising stack ", identifier);
  StackCells<Stack> cells(stack, decomposition, log, kWhat);
  Gather(decomposition, cells);
}

Stack GatherStackForOutput(const MpiDecomposition &d, const Stack &stack, DiagnosticsLog &log,
                           std::string_view identifier) {
  constexpr const char *kWhat = "the stack gather for output";
  if (d.processCount > 1) {
    CheckStackLevels(d, stack.LastLevel(), log, kWhat);
    LogStack(d, log, "synchronising stack ", identifier);
  }
  if (d.rank != 0) {
    StackCells<const Stack> cells(stack, d, log, kWhat);
    OwnerSendsRuns(d, cells);
    return {};
  }
  StackCells<const Stack> source(stack, d, log, kWhat);
  const long levels = stack.LastLevel() + 1;
  Stack copy(1, d.shape.nrows, d.shape.ncols, stack.LastLevel(), d.shape.nrows, log);
  for (long r = 1; r <= d.shape.nrows; ++r) {
    const double *owners = d.regions[r];
    double *out = copy.RowData(r);
    for (long c = 1; c <= d.shape.ncols; ++c) {
      double *cell = out + c * levels;
      if (owners[c] == 0.0) {
        const double *in = source.At(r, c);
        std::copy(in, in + levels, cell);
      } else {
        std::fill(cell, cell + levels, d.shape.nodata);
      }
    }
  }
  StackCells<Stack> target(copy, d, log, kWhat);
  RootReceivesRuns(d, target);
  return copy;
}

void BroadcastWholeGrid(const MpiDecomposition &d, Grid &grid, DiagnosticsLog &log) {
  if (d.processCount < 2)
    return;
  const long nrows = d.shape.nrows;
  const long ncols = d.shape.ncols;
  if (d.rank == 0) {
    for (long r = 1; r <= nrows; ++r)
      if (!grid.HasRow(r) || grid.LastColumn() < ncols)
        ThrowFatal(log, kStripExchangeExitCode,
                   Concat("the grid broadcast: rank 0 holds no row ", r, " of ", nrows));
  } else {
    grid = Grid(1, nrows, ncols, nrows, log);
  }
  for (long r = 1; r <= nrows; ++r)
    MPI_Bcast(grid[r] + 1, static_cast<int>(ncols), MPI_DOUBLE, 0, MPI_COMM_WORLD);
}

void ExchangeHalo(const MpiDecomposition &decomposition, Grid &grid, DiagnosticsLog &log) {
  if (decomposition.haloSend.empty() && decomposition.haloReceive.empty())
    return;
  GridCells<Grid> cells(grid, decomposition, log, "the halo exchange");
  ExchangeHaloRecords(decomposition, cells, true);
}

void ExchangeStackHalo(const MpiDecomposition &decomposition, Stack &stack, DiagnosticsLog &log) {
  constexpr const char *kWhat = "the stack halo exchange";
  if (decomposition.processCount > 1)
    CheckStackLevels(decomposition, stack.LastLevel(), log, kWhat);
  if (decomposition.haloSend.empty() && decomposition.haloReceive.empty())
    return;
  StackCells<Stack> cells(stack, decomposition, log, kWhat);
  ExchangeHaloRecords(decomposition, cells, false);
}

void GatherMaskedCells(const MpiDecomposition &d, Grid &values, const Grid &mask,
                       std::span<const std::int64_t> counts, Grid *target, DiagnosticsLog &log) {
  constexpr const char *kWhat = "the mask-cell gather";
  CheckMaskCounts(d, mask, counts, log, kWhat);
  GridCells<Grid> source(values, d, log, kWhat);
  if (d.rank != 0) {
    std::vector<double> buffer;
    buffer.reserve(static_cast<std::size_t>(counts[static_cast<std::size_t>(d.rank)]));
    ScanMaskCells(d, mask, d.strip, log, kWhat, [&](long r, long c, int owner) {
      if (owner == d.rank)
        buffer.push_back(*source.At(r, c));
    });
    MPI_Send(buffer.data(), static_cast<int>(buffer.size()), MPI_DOUBLE, 0, d.rank, MPI_COMM_WORLD);
    return;
  }
  std::vector<std::vector<double>> buffers(static_cast<std::size_t>(d.processCount));
  for (int r = 1; r < d.processCount; ++r) {
    auto &buffer = buffers[static_cast<std::size_t>(r)];
    buffer.resize(static_cast<std::size_t>(counts[static_cast<std::size_t>(r)]));
    MPI_Recv(buffer.data(), static_cast<int>(buffer.size()), MPI_DOUBLE, r, r, MPI_COMM_WORLD,
             MPI_STATUS_IGNORE);
  }
  Grid &into = target != nullptr ? *target : values;
  GridCells<Grid> destination(into, d, log, kWhat);
  std::vector<std::size_t> next(buffers.size(), 0);
  ScanMaskCells(d, mask, ScanRows(d), log, kWhat, [&](long r, long c, int owner) {
    if (owner > 0) {
      const auto k = static_cast<std::size_t>(owner);
      *destination.At(r, c) = buffers[k][next[k]++];
    } else if (target != nullptr) {
      *destination.At(r, c) = *source.At(r, c);
    }
  });
}

void ScatterMaskedCells(const MpiDecomposition &d, Grid &values, const Grid &mask,
                        std::span<const std::int64_t> counts, DiagnosticsLog &log) {
  if (d.processCount < 2)
    return;
  constexpr const char *kWhat = "the mask-cell scatter";
  CheckMaskCounts(d, mask, counts, log, kWhat);
  GridCells<Grid> cells(values, d, log, kWhat);
  if (d.rank == 0) {
    std::vector<std::vector<double>> buffers(static_cast<std::size_t>(d.processCount));
    for (int r = 1; r < d.processCount; ++r)
      buffers[static_cast<std::size_t>(r)].reserve(
          static_cast<std::size_t>(counts[static_cast<std::size_t>(r)]));
    ScanMaskCells(d, mask, ScanRows(d), log, kWhat, [&](long r, long c, int owner) {
      if (owner > 0)
        buffers[static_cast<std::size_t>(owner)].push_back(*cells.At(r, c));
    });
    for (int r = 1; r < d.processCount; ++r) {
      const auto &buffer = buffers[static_cast<std::size_t>(r)];
      MPI_Send(buffer.data(), static_cast<int>(buffer.size()), MPI_DOUBLE, r, r, MPI_COMM_WORLD);
    }
    return;
  }
  std::vector<double> buffer(static_cast<std::size_t>(counts[static_cast<std::size_t>(d.rank)]));
  MPI_Recv(buffer.data(), static_cast<int>(buffer.size()), MPI_DOUBLE, 0, d.rank, MPI_COMM_WORLD,
           MPI_STATUS_IGNORE);
  std::size_t next = 0;
  ScanMaskCells(d, mask, d.strip, log, kWhat, [&](long r, long c, int owner) {
    if (owner == d.rank)
      *cells.At(r, c) = buffer[next++];
  });
}

} // namespace tavro
