// Locating and reporting the first non-finite value of a module's grids.
#include "raster/parallel/non_finite_water.h"

#include "kernel/diagnostics_log.h"
#include "kernel/exact_sum.h"
#include "kernel/fatal_error.h"
#include "kernel/grid.h"
#include "kernel/modelobject.h"
#include "raster/parallel/cell_iteration.h"

#include <mpi.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace tavro {

namespace {

constexpr std::int64_t NotFound = std::numeric_limits<std::int64_t>::max();

// The order of a value over all grids, cells and levels.
struct ValuePlace {
  std::int64_t grid = 0;
  std::int64_t cell = 0; // (row - 1) * ncols + column - 1
  std::int64_t level = 0;
};

std::int64_t KeyOf(const ValuePlace &place, std::int64_t cellCount, std::int64_t levelCount) {
  return (place.grid * cellCount + place.cell) * levelCount + place.level;
}

ValuePlace PlaceOf(std::int64_t key, std::int64_t cellCount, std::int64_t levelCount) {
  ValuePlace place;
  place.level = key % levelCount;
  key /= levelCount;
  place.cell = key % cellCount;
  place.grid = key / cellCount;
  return place;
}

// A NaN fails the comparison as well.
bool Unusable(double value) { return !(std::fabs(value) < ExactSum::Limit); }

// This process's first unusable value (key) and the value.
std::pair<std::int64_t, double> FirstLocal(const CellIteration &cells, long ncols,
                                           std::span<const WaterGrid> grids, std::int64_t cellCount,
                                           std::int64_t levelCount) {
  for (std::size_t i = 0; i < grids.size(); ++i) {
    const WaterGrid &water = grids[i];
    std::int64_t best = NotFound;
    double found = 0.0;
    cells.ForEachOwnCell([&](long r, long c) {
      if (best != NotFound)
        return;
      const std::int64_t cell = (static_cast<std::int64_t>(r) - 1) * ncols + c - 1;
      if (water.grid != nullptr && water.grid->HasRow(r)) {
        const double value = (*water.grid)[r][c];
        if (Unusable(value)) {
          best = KeyOf({static_cast<std::int64_t>(i), cell, 0}, cellCount, levelCount);
          found = value;
        }
      } else if (water.stack != nullptr && water.stack->HasRow(r)) {
        const double *values = (*water.stack)[r][c];
        for (int k = 0; k <= water.levels; ++k)
          if (Unusable(values[k])) {
            best = KeyOf({static_cast<std::int64_t>(i), cell, k}, cellCount, levelCount);
            found = values[k];
            break;
          }
      }
    });
    if (best != NotFound)
      return {best, found};
  }
  return {NotFound, 0.0};
}

// "<module>: water out of range on <d.m.yyyy hh>h"
std::string DatedText(const modelobject &module) {
  return Concat(module.ModuleName, ": water out of range on ", module.ActualDay, ".",
                module.ActualMonth, ".", module.ActualYear, " ", module.ActualHour, "h");
}

// A NaN prints with or without its sign, as it happened to arise; shown without.
std::string Shown(double value) { return std::isnan(value) ? std::string("nan") : Concat(value); }

[[noreturn]] void StopEveryProcess(const modelobject &module, std::string text) {
  text += "; stores and fluxes must be finite and below 1.47e20 in magnitude";
  if (module.MPIRank == 0)
    ThrowFatal(*module.Log, NonFiniteWaterExitCode, text);
  throw NonFiniteWaterExitCode;
}

} // namespace

void StopIfWaterNotFinite(const modelobject &module, const CellIteration &cells, double localSum,
                          std::span<const WaterGrid> grids) {
  int failed = Unusable(localSum) ? 1 : 0;
  int anyFailed = 0;
  MPI_Allreduce(&failed, &anyFailed, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  if (anyFailed == 0)
    return;

  // The rare path: where did the water go wrong?
  const std::int64_t cellCount = static_cast<std::int64_t>(module.NRows) * module.NCols;
  int maxLevels = 0;
  for (const WaterGrid &water : grids)
    maxLevels = std::max(maxLevels, water.stack != nullptr ? water.levels : 0);
  const std::int64_t levelCount = maxLevels + 1;
  const auto [localKey, localValue] = FirstLocal(cells, module.NCols, grids, cellCount, levelCount);
  std::int64_t key = NotFound;
  MPI_Allreduce(&localKey, &key, 1, MPI_INT64_T, MPI_MIN, MPI_COMM_WORLD);
  const int mine = key != NotFound && localKey == key ? module.MPIRank : -1;
  int owner = -1;
  MPI_Allreduce(&mine, &owner, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  double value = localValue;
  if (owner >= 0)
    MPI_Bcast(&value, 1, MPI_DOUBLE, owner, MPI_COMM_WORLD);

  std::string text = DatedText(module);
  if (key == NotFound) {
    text += ": a sum of the step is, but no cell of its listed grids";
  } else {
    const ValuePlace place = PlaceOf(key, cellCount, levelCount);
    const WaterGrid &water = grids[static_cast<std::size_t>(place.grid)];
    text += Concat(": ", water.name, " holds ", Shown(value), " at row ",
                   place.cell / module.NCols + 1, ", col ", place.cell % module.NCols + 1);
    if (water.stack != nullptr)
      text += Concat(", level ", place.level);
    text += Concat(" (MPI rank ", owner, ")");
  }
  StopEveryProcess(module, text);
}

void StopIfFlowsNotFinite(const modelobject &module, std::string_view name,
                          std::span<const double> flows, std::span<const double> codes) {
  // [found index or 0, its value]; the sum first, the search only when it fails.
  double found[2] = {0.0, 0.0};
  if (module.MPIRank == 0) {
    double sum = 0.0;
    for (std::size_t i = 1; i < flows.size(); ++i)
      sum += flows[i];
    if (Unusable(sum)) {
      for (std::size_t i = 1; i < flows.size() && found[0] == 0.0; ++i)
        if (Unusable(flows[i])) {
          found[0] = static_cast<double>(i);
          found[1] = flows[i];
        }
      if (found[0] == 0.0)
        found[0] = -1.0; // the sum alone overflowed
    }
  }
  MPI_Bcast(found, 2, MPI_DOUBLE, 0, MPI_COMM_WORLD);
  if (found[0] == 0.0)
    return;
  std::string text = DatedText(module);
  if (found[0] < 0.0) {
    text += Concat(": the sum of ", name, " is, but no single subbasin");
  } else {
    const auto index = static_cast<std::size_t>(found[0]);
    const double code = index < codes.size() ? codes[index] : found[0];
    text += Concat(": ", name, " holds ", Shown(found[1]), " at subbasin ", code);
  }
  StopEveryProcess(module, text);
}

} // namespace tavro
