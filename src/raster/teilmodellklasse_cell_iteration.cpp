// The sub-model base's cell-loop setup, with the spin-up units when a run
// has them.
#include "kernel/grid_registry.h"
#include "kernel/teilmodellklasse.h"
#include "raster/parallel/cell_iteration.h"
#include "raster/parallel/mpi_decomposition.h"

namespace tavro {
namespace {

const Grid *RegisteredData(const GridRegistry *registry, const char *identifier) {
  if (registry == nullptr)
    return nullptr;
  const int index = registry->FindGrid(identifier, false);
  return index > 0 ? (*registry)[index].Data : nullptr;
}

} // namespace

CellIterationSetup teilmodellklasse::CellLoopSetup() const {
  SpinUpUnits units;
  if (HydrologicResponseUnits != nullptr && HydrologicResponseUnits->size() > 1)
    units = {RegisteredData(Registry, "HydrologicResponseUnits"),
             RegisteredData(Registry, "MasterHydrologicResponseUnits"), HydrologicResponseUnits};
  CellIterationSetup setup = StripCellsOf(*this, BaseZoneGrid, units);
  if (setup.Owners == nullptr)
    setup.Owners = RegisteredData(Registry, kRegionsGridName);
  return setup;
}

} // namespace tavro
