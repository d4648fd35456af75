// The grid output operations of modelobject and the registry's hook for
// immediate output: each hands the object's own gathers to the engine.
#include "kernel/grid_registry.h"
#include "kernel/modelobject.h"
#include "raster/output/grid_output.h"

namespace tavro {

OutputGather GatherOf(modelobject &object) {
  OutputGather gather;
  gather.GatherGrid = [&object](Grid &grid) { return object.MPIGatherGridForOutput(0, &grid); };
  gather.GatherStack = [&object](Stack &stack) {
    return object.MPIGatherStackForOutput(0, &stack);
  };
  return gather;
}

void modelobject::WriteGridOutput(int index, bool accumulateOnly) {
  tavro::WriteGridOutput(*this, index, GatherOf(*this), accumulateOnly);
}

// Objects other than the interpolators have no write code of their own.
void modelobject::WriteStackOutput(int index) {
  tavro::WriteStackOutput(*this, index, 0, GatherOf(*this));
}

void InstallGridOutputHook(GridRegistry &registry) {
  registry.ImmediateOutput = [](modelobject &caller, int index) {
    WriteImmediateOutput(caller, index, GatherOf(caller));
  };
}

} // namespace tavro
