// The grid output engine driven by each registered grid's writecode: at the
// end of every step it accumulates the period sums and means, the minimum and
// maximum and the vegetation-period aggregates on the process's own cells,
// decides from the step's date which files are due, gathers the grids on
// rank 0 and writes them (and writes registered stacks, binary ones by every
// process together). The bodies of modelobject::WriteGridOutput and
// modelobject::WriteStackOutput; InstallGridOutputHook lets the registry
// write grids of output kind 8 at registration.
#pragma once

#include "kernel/grid.h"

#include <functional>
#include <string>

namespace tavro {

class GridRegistry;
class modelobject;

// The collective gathers the output uses: rank 0 receives a whole-raster copy
// (nodata on every cell no process owns), the other processes an unallocated
// grid or stack. Every process calls them at the same point.
struct OutputGather {
  std::function<Grid(Grid &)> GatherGrid;
  std::function<Stack(Stack &)> GatherStack;
};

// The gathers of the object's decomposition (modelobject::MPIGatherGridForOutput
// and MPIGatherStackForOutput).
OutputGather GatherOf(modelobject &object);

// End-of-step output of registry entry index (1..1000; other indexes and
// entries without a grid do nothing), from the object's step date, end date,
// strip and write switches. Collective whenever it writes. With
// accumulateOnly the grid is added to its period, minimum, maximum and
// vegetation-period aggregates and written by its output kind, but no
// aggregate file is written or restarted: for the calls of a step that
// writes a grid again later in the same step.
void WriteGridOutput(modelobject &object, int index, const OutputGather &gather,
                     bool accumulateOnly = false);

// End-of-step output of a registered stack by its output kind. ownWriteCode
// is the object's own write code (an interpolator's result-grid write code,
// 0 for every other object): unless it is 1, 3 or 4 the stack is written
// once more under its plain name at the end of the run. Collective.
void WriteStackOutput(modelobject &object, int index, int ownWriteCode, const OutputGather &gather);

// The grid of an entry with output kind 8 written at once under its outname
// followed by ".filled", without touching its accumulators (registration).
void WriteImmediateOutput(modelobject &object, int index, const OutputGather &gather);

// Writes a stack (levels 0..levels) under name: binary by every process for
// its own cells, ASCII by rank 0 from the gathered copy. Collective.
void WriteOutputStack(modelobject &object, const OutputGather &gather, const std::string &name,
                      Stack &stack, int levels);

// Sets the registry's ImmediateOutput hook to WriteImmediateOutput with the
// registering object's gathers.
void InstallGridOutputHook(GridRegistry &registry);

} // namespace tavro
