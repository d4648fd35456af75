// The strip-exchange members of a model object: they resolve the grid (the
// given one, or the registered one at an index) and hand it to the exchange
// of the run's decomposition.
#include <span>

#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/modelobject.h"
#include "raster/parallel/mpi_decomposition.h"
#include "raster/parallel/strip_exchange.h"
#include "raster/parallel/zone_reduction.h"

namespace tavro {
namespace {

const MpiDecomposition &DecompositionOf(const modelobject &object) {
  if (object.Halo.Decomposition == nullptr) {
    ThrowFatal(
        *object.Log, kStripExchangeExitCode,
        Concat("strip exchange of ", object.ModuleName, " without a decomposition of the raster"));
  }
  return *object.Halo.Decomposition;
}

Grid &GridOf(modelobject &object, int index, Grid *grid) {
  if (grid != nullptr)
    return *grid;
  if (object.Registry != nullptr && index >= 1 && index <= 999 &&
      (*object.Registry)[index].Data != nullptr) {
    return *(*object.Registry)[index].Data;
  }
  ThrowFatal(
      *object.Log, kStripExchangeExitCode,
      Concat("strip exchange of ", object.ModuleName, ": no grid registered at entry ", index));
}

Stack &StackOf(modelobject &object, int index, Stack *stack) {
  if (stack != nullptr)
    return *stack;
  if (object.Registry != nullptr && index >= 1 && index <= 999 &&
      (*object.Registry)[index].StackData != nullptr) {
    return *(*object.Registry)[index].StackData;
  }
  ThrowFatal(
      *object.Log, kStripExchangeExitCode,
      Concat("strip exchange of ", object.ModuleName, ": no stack registered at entry ", index));
}

std::string_view IdentifierOf(const modelobject &object, int index) {
  if (object.Registry == nullptr || index < 1 || index > 999)
    return {};
  return (*object.Registry)[index].Identifier;
}

} // namespace

void modelobject::MPIScatterGrid(int index, Grid *grid) {
  ScatterGrid(DecompositionOf(*this), GridOf(*this, index, grid), *Log);
}

void modelobject::MPIGatherGrid(int index, Grid *grid) {
  GatherGrid(DecompositionOf(*this), GridOf(*this, index, grid), *Log);
}

Grid modelobject::MPIGatherGridForOutput(int index, Grid *grid) {
  return GatherGridForOutput(DecompositionOf(*this), GridOf(*this, index, grid), *Log);
}

void modelobject::MPIGatherStack(int index, Stack *stack) {
  GatherStack(DecompositionOf(*this), StackOf(*this, index, stack), *Log,
              IdentifierOf(*this, index));
}

Stack modelobject::MPIGatherStackForOutput(int index, Stack *stack) {
  return GatherStackForOutput(DecompositionOf(*this), StackOf(*this, index, stack), *Log,
                              IdentifierOf(*this, index));
}

void modelobject::MPIScatterStack(int index, Stack *stack, int /*levels*/) {
  // The stack carries its own level count, so the optional count of the call
  // is never needed to size the messages.
  ScatterStack(DecompositionOf(*this), StackOf(*this, index, stack), *Log,
               IdentifierOf(*this, index));
}

void modelobject::MPIExchangeHalo(int index, Grid *grid) {
  if (grid == nullptr && index < 0)
    return; // no halo to exchange
  ExchangeHalo(DecompositionOf(*this), GridOf(*this, index, grid), *Log);
}

void modelobject::MPIExchangeStackHalo(int index, Stack *stack) {
  if (stack == nullptr && index < 0)
    return;
  ExchangeStackHalo(DecompositionOf(*this), StackOf(*this, index, stack), *Log);
}

void modelobject::MPIGatherMaskedCells(int valueIndex, int maskIndex,
                                       const std::vector<std::int64_t> &cellCountsPerRank,
                                       Grid *target) {
  GatherMaskedCells(DecompositionOf(*this), GridOf(*this, valueIndex, nullptr),
                    GridOf(*this, maskIndex, nullptr), cellCountsPerRank, target, *Log);
}

void modelobject::MPIScatterMaskedCells(int valueIndex, int maskIndex,
                                        const std::vector<std::int64_t> &cellCountsPerRank) {
  ScatterMaskedCells(DecompositionOf(*this), GridOf(*this, valueIndex, nullptr),
                     GridOf(*this, maskIndex, nullptr), cellCountsPerRank, *Log);
}

void modelobject::MPIReduceZones(ZoneRecord *zones, int highestIndex, bool copyWeights) {
  tavro::MPIReduceZones(std::span<ZoneRecord>(zones, static_cast<std::size_t>(highestIndex) + 1),
                        highestIndex, copyWeights);
}

} // namespace tavro
