// The sub-model base's cell-loop setup, with the spin-up units when a run
// has them.
#include "kernel/grid_registry.h"
#include "kernel/teilmodellklasse.h"
#include "raster/cell_iteration.h"
#include "raster/mpi_decomposition.h"

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
  CellIterationSetup setup;
  setup.FirstRow = FirstRow;
  setup.LastRow = LastRow;
  setup.NCols = NCols;
  setup.RowRanges = RowRanges;
  setup.Zone = BaseZoneGrid;
  setup.NoData = NoData;
  setup.Owners = MPIRegions != nullptr ? MPIRegions : RegisteredData(Registry, kRegionsGridName);
  setup.Rank = MPIRank;
  if (HydrologicResponseUnits != nullptr && HydrologicResponseUnits->size() > 1) {
    setup.UnitGrid = RegisteredData(Registry, "HydrologicResponseUnits");
    setup.MasterGrid = RegisteredData(Registry, "MasterHydrologicResponseUnits");
    setup.Units = HydrologicResponseUnits;
  }
  return setup;
}

} // namespace tavro
