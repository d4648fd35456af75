// Surface routing: the overland flow of every cell carried from one run to
// the next, beside the state section, so that a run continued from the state
// equals one long run while water flows over the surface. Three binary double
// stacks of the whole raster, named after the state file without its
// "_<rank>" (written to the output directory, read from the initial-state
// directory), the same for any number of processes:
//   "<state file>_SurfaceRoutingVelocity": level 0 the main direction, 1-8 the
//     velocities towards the neighbours (m/s; the start of the next velocity
//     iteration), 9 the water surface (m);
//   "<state file>_SurfaceRoutingWeights": level 0 the count of directions
//     whose share stayed within 0.01 (whether a cell keeps its last flow),
//     1-8 the outflow shares;
//   "<state file>_SurfaceRoutingFluxes": level 0 the flux towards the main
//     direction (or the sum), 1-8 the fluxes towards the neighbours (m3/s).
// The other grids of the overland flow start every sub-step afresh (depth
// from the direct runoff, inflow and outflow from the storage pass); the
// water left on the surface is the state grid "SurfStorSiltingUp".
#include "lateral/surface_routing.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/string_helpers.h"
#include "lateral/overland/directions.h"
#include "raster/files/grid_file_context.h"
#include "raster/parallel/collective_failure.h"

#include <mpi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace tavro {
namespace {

constexpr int kReadErrorExitCode = 22;

// Levels 0 of the velocities and of the weights hold a direction or a count
// of directions: a whole number from 0 to 8.
bool IsDirectionCount(double value) {
  return value >= 0.0 && value <= overland::kDirections && value == std::floor(value);
}

bool FileExistsOnRoot(int rank, const std::string &path) {
  int exists = 0;
  if (rank == 0) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    exists = file != nullptr ? 1 : 0;
    if (file != nullptr)
      std::fclose(file);
  }
  MPI_Bcast(&exists, 1, MPI_INT, 0, MPI_COMM_WORLD);
  return exists == 1;
}

} // namespace

std::vector<surfaceroutingclass::FlowStateStack> surfaceroutingclass::FlowStateStacks() {
  // The levels each stack needs; level 9 of the weights and the fluxes
  // stays 0.
  return {{&VelocityStack, VelocityIndex, "_SurfaceRoutingVelocity", StackLevels - 1, true, false},
          {&WeightStack, WeightIndex, "_SurfaceRoutingWeights", overland::kDirections, true, false},
          {&FluxStack, FluxIndex, "_SurfaceRoutingFluxes", overland::kDirections, false, true}};
}

std::string surfaceroutingclass::FlowStateFileName(const std::string &suffix) const {
  const std::string rank = Concat("_", MPIRank);
  const bool perRank =
      StorageFileName.size() >= rank.size() &&
      StorageFileName.compare(StorageFileName.size() - rank.size(), rank.size(), rank) == 0;
  return (perRank ? StorageFileName.substr(0, StorageFileName.size() - rank.size())
                  : StorageFileName) +
         suffix;
}

void surfaceroutingclass::WriteFlowState() {
  for (const FlowStateStack &s : FlowStateStacks())
    WriteGatheredStack(s.Index, FlowStateFileName(s.Suffix), s.Levels);
}

void surfaceroutingclass::ReadFlowState() {
  for (const FlowStateStack &s : FlowStateStacks())
    ReadFlowStack(s);
}

void surfaceroutingclass::ReadFlowStack(const FlowStateStack &target) {
  const std::string name = FlowStateFileName(target.Suffix);
  const std::string path = PrefixedPath(InitialStateDirectory, name);
  if (!FileExistsOnRoot(MPIRank, path)) {
    Log->Entry(Concat("WARNING: error opening storage content file ", path,
                      ". This means that the actual model run starts the overland flow of ",
                      ModuleName, " from zero velocities, outflow weights and fluxes.",
                      DiagnosticsLog::EndToken));
    return;
  }
  Stack stored;
  const int levels = ReadStack(name, stored, false);
  if (levels != target.Levels)
    ThrowFatal(*Log, kReadErrorExitCode,
               Concat("error reading ", path, ": ", levels + 1, " levels, ", ModuleName,
                      " carries ", target.Levels + 1, " in this stack"));
  // A cell of this catchment that the file holds no state of would feed
  // no-data, or a direction outside 0..8, to the next inner step.
  long firstBad = std::numeric_limits<long>::max();
  CellIteration(StripCellsOf(*this, Zone)).ForEachOwnCell([&](long r, long c) {
    const double *cell = stored[r][c];
    bool good = !target.LevelZeroCounts || IsDirectionCount(cell[0]);
    for (int k = 0; k <= levels; ++k)
      good = good && std::isfinite(cell[k]) && cell[k] != NoData;
    if (!good)
      firstBad = std::min(firstBad, (r - 1) * NCols + c);
  });
  MPI_Allreduce(MPI_IN_PLACE, &firstBad, 1, MPI_LONG, MPI_MIN, MPI_COMM_WORLD);
  if (firstBad != std::numeric_limits<long>::max())
    ThrowFatal(*Log, kReadErrorExitCode,
               Concat("error reading ", path, ": the cell at row ", (firstBad - 1) / NCols + 1,
                      ", column ", (firstBad - 1) % NCols + 1,
                      " holds no overland flow of this catchment"));
  ForOwnCells([&](long r, long c) {
    const double *from = stored[r][c];
    std::copy(from, from + levels + 1, (*target.Data)[r][c]);
  });
  // The neighbours' rows as the constructor exchanged them.
  if (target.Halo)
    MPIExchangeStackHalo(target.Index, nullptr);
}

} // namespace tavro
