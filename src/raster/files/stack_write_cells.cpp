// The share of the cells of a binary stack file that each process writes.
#include "raster/files/stack_write_cells.h"

#include "kernel/grid.h"

#include <mpi.h>

#include <cstddef>

namespace tavro {

namespace {

// Owner rank of the cell, or -1.
int OwnerOf(const Grid &owners, int row, int column, int processCount) {
  if (!owners.HasRow(row) || owners.LastColumn() < column)
    return -1;
  const double owner = owners[row][column];
  return owner >= 0.0 && owner < processCount ? static_cast<int>(owner) : -1;
}

void Append(std::vector<CellSpan> &spans, std::int64_t cell) {
  if (!spans.empty() && spans.back().first + spans.back().count == cell)
    ++spans.back().count;
  else
    spans.push_back({cell, 1});
}

} // namespace

std::vector<std::vector<CellSpan>> StackWriteSpans(const Grid &owners, int ncols, int nrows,
                                                   int processCount) {
  std::vector<std::vector<CellSpan>> spans(static_cast<std::size_t>(processCount));
  const std::int64_t cells = static_cast<std::int64_t>(ncols) * nrows;
  if (cells <= 0 || processCount <= 0)
    return spans;
  // The cells before the first owned one go with it.
  int writer = 0;
  bool found = false;
  for (int r = 1; r <= nrows && !found; ++r)
    for (int c = 1; c <= ncols && !found; ++c) {
      const int owner = OwnerOf(owners, r, c, processCount);
      if (owner >= 0) {
        writer = owner;
        found = true;
      }
    }
  std::int64_t cell = 0;
  for (int r = 1; r <= nrows; ++r)
    for (int c = 1; c <= ncols; ++c, ++cell) {
      const int owner = OwnerOf(owners, r, c, processCount);
      if (owner >= 0)
        writer = owner;
      Append(spans[static_cast<std::size_t>(writer)], cell);
    }
  return spans;
}

std::vector<CellSpan> DistributeStackWriteSpans(const Grid *owners, int ncols, int nrows, int rank,
                                                int processCount) {
  // Two numbers per span, sent as one block per rank.
  std::vector<std::int64_t> flat;
  std::vector<int> counts(static_cast<std::size_t>(processCount), 0);
  std::vector<int> displacements(static_cast<std::size_t>(processCount), 0);
  if (rank == 0) {
    // Without owners rank 0 holds every cell and writes them all.
    const std::int64_t cells = static_cast<std::int64_t>(ncols) * nrows;
    const auto all = owners != nullptr ? StackWriteSpans(*owners, ncols, nrows, processCount)
                     : cells > 0       ? std::vector<std::vector<CellSpan>>{{{0, cells}}}
                                       : std::vector<std::vector<CellSpan>>{};
    for (std::size_t p = 0; p < all.size(); ++p) {
      displacements[p] = static_cast<int>(flat.size());
      counts[p] = static_cast<int>(2 * all[p].size());
      for (const CellSpan &span : all[p]) {
        flat.push_back(span.first);
        flat.push_back(span.count);
      }
    }
  }
  int own = 0;
  MPI_Scatter(counts.data(), 1, MPI_INT, &own, 1, MPI_INT, 0, MPI_COMM_WORLD);
  std::vector<std::int64_t> received(static_cast<std::size_t>(own));
  MPI_Scatterv(flat.data(), counts.data(), displacements.data(), MPI_INT64_T, received.data(), own,
               MPI_INT64_T, 0, MPI_COMM_WORLD);
  std::vector<CellSpan> spans;
  for (std::size_t i = 0; i + 1 < received.size(); i += 2)
    spans.push_back({received[i], received[i + 1]});
  return spans;
}

} // namespace tavro
