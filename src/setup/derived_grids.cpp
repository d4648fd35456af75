// What every derived grid of the set-up shares: its registration as a set-up
// grid, the way rank 0's whole-raster values reach the strips, the single
// write at set-up; and the two small derived results, the highest value of a
// grid over all processes and the glacier grid's look-up.
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "raster/parallel/strip_exchange.h"
#include "setup/defaultini.h"

#include <mpi.h>

#include <algorithm>

namespace tavro {

void defaultini::FailNoFreeGrid(std::string_view text, std::string_view tail) {
  ThrowFatal(*Log, GridRegistry::RegistryExitCode,
             Concat(text, " (at position ", GridRegistry::LastIndex + 1, tail));
}

int defaultini::CreateDerivedGrid(const std::string &identifier, const std::string &fileName,
                                  std::string_view noFreeText, std::string_view noFreeTail) {
  const int index = Registry->FirstFreeIndex();
  if (index == 0)
    FailNoFreeGrid(noFreeText, noFreeTail);
  const StripRows held = HeldRows();
  Grid &grid = NewGrid(held.first, held.last);
  AddGrid(index, fileName, &grid, nullptr, 1, identifier, 0, held.first, held.last);
  setupGrids_.push_back(index);
  return index;
}

void defaultini::SetInvalidCellsToNoData(Grid &grid) const {
  const Grid &zone = *(*Registry)[1].Data;
  for (long r = grid.FirstRow(); r <= grid.LastRow(); ++r) {
    if (!grid.HasRow(r) || !zone.HasRow(r))
      continue;
    for (long c = 1; c <= NCols; ++c)
      if (zone[r][c] == NoData)
        grid[r][c] = NoData;
  }
}

void defaultini::DistributeFromRoot(int registryIndex) {
  Grid &grid = *(*Registry)[registryIndex].Data;
  ScatterGrid(decomposition_, grid, *Log);
  ExchangeHalo(decomposition_, grid, *Log);
}

void defaultini::WriteOnce(int registryIndex) {
  GridEntry &entry = (*Registry)[registryIndex];
  entry.OutputKind = 1;
  WriteGridOutput(registryIndex);
  entry.OutputKind = 0;
}

double defaultini::GetGlobalMaximum(int registryIndex) {
  double localMax = NoData;
  const GridEntry &entry = (*Registry)[registryIndex];
  const GridEntry &zone = (*Registry)[1];
  if (entry.Data != nullptr && zone.Data != nullptr) {
    const Grid &grid = *entry.Data;
    const StripRows strip = decomposition_.strip;
    // Own valid cells only: other cells of a shared row hold no values here.
    for (long r = strip.first; r <= strip.last; ++r) {
      const RowColumnRange range = rowRanges_[static_cast<std::size_t>(r)];
      for (long c = std::max<long>(range.first, 1); c <= range.last; ++c)
        if ((*zone.Data)[r][c] != NoData && OwnsCell(r, c))
          localMax = std::max(localMax, grid[r][c]);
    }
  }
  double globalMax = NoData;
  MPI_Reduce(&localMax, &globalMax, 1, MPI_DOUBLE, MPI_MAX, 0, MPI_COMM_WORLD);
  MPI_Bcast(&globalMax, 1, MPI_DOUBLE, 0, MPI_COMM_WORLD);
  return globalMax;
}

void defaultini::check_ice_firn_grid() {
  const int index = FindGrid("ice_firn", true);
  if (index > 0) {
    iceFirn_ = (*Registry)[index].Data;
    return;
  }
  iceFirn_ = nullptr;
  // Where a search for a new entry would stop: the first free one.
  const int free = Registry->FirstFreeIndex();
  Log->Entry(Concat("INFO: ice-grid not found in memory (at position ",
                    free == 0 ? GridRegistry::LastIndex + 1 : free, ")", DiagnosticsLog::EndToken));
}

} // namespace tavro
