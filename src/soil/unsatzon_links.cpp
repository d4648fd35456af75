// Soil-water module: the grids of the set-up and of the modules built before
// it, linked in the documented order (a needed grid that is missing ends the
// run with 33), and the ponding depths converted from metres to millimetres.
#include "soil/unsatzon_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "raster/parallel/mpi_decomposition.h"

#include <mpi.h>

#include <string>

namespace tavro {
namespace {

constexpr const char *kNoFlowTimesInfo =
    "INFO: \n------------------------------------------------------------------------\n\nWarning! "
    "There was no flow travel time grid for surface runoff read in\nAll surface runoof will be "
    "routed immediately to the outlet of the sub-basin\n(except the effects of a linear "
    "reservoir).\nA flow travel time grid may be created by TOPRAX, writing the\nflow travel "
    "times for each grid cell to the sub basins outlet in secounds\nwhich are reclassified into "
    "model time steps in Tavro.\n\n------------------------------------------------------------"
    "------------\n";

// The grid of a needed identifier; a missing one ends the run (33).
Grid *Needed(const modelobject &module, const std::string &identifier) {
  int index = module.FindGrid(identifier, false);
  if (index == 0) {
    index = module.GetGridIndex(identifier); // absent: the documented entry, 33
    ThrowFatal(*module.Log, GridRegistry::NotFoundExitCode,
               Concat(identifier, " is registered without values, but ", module.ModuleName,
                      " needs them"));
  }
  return (*module.Registry)[index].Data;
}

// The grid of an optional identifier, null when there is none.
Grid *Optional(const modelobject &module, const std::string &identifier) {
  const int index = module.FindGrid(identifier, false);
  return index > 0 ? (*module.Registry)[index].Data : nullptr;
}

} // namespace

void unsatzonmodellklasse::LinkLanduseLayerGrids() {
  Links.Layers = OneBasedArray<LanduseLayerLinks>(static_cast<std::size_t>(LanduseLayerCount));
  for (int d = 1; d <= LanduseLayerCount; ++d) {
    LanduseLayerLinks &layer = Links.Layers[static_cast<std::size_t>(d)];
    layer.Landuse = Needed(*this, Concat("landuse", d));
    layer.RootDepth = Needed(*this, Concat("root_depth", d));
    layer.VegetationCover = Needed(*this, Concat("vegetation_coverage_degree", d));
    layer.LeafAreaIndex = Needed(*this, Concat("leaf_area_index", d));
    layer.CanopyResistance = Needed(*this, Concat("SurfaceCanopyResistance", d));
    layer.InterceptionResistance = Needed(*this, Concat("SurfaceIntercepResistance", d));
    layer.RoughnessLength = Needed(*this, Concat("RoughnessLength", d));
  }
}

void unsatzonmodellklasse::LinkGrids() {
  LinkDecompositionGrids(*this);
  LinkLanduseLayerGrids();
  // Evaporation.
  Links.PotentialTranspiration.assign(static_cast<std::size_t>(LanduseLayerCount) + 1, nullptr);
  Links.RealTranspiration.assign(static_cast<std::size_t>(LanduseLayerCount) + 1, nullptr);
  for (int d = 0; d <= LanduseLayerCount; ++d) {
    const auto at = static_cast<std::size_t>(d);
    Links.PotentialTranspiration[at] = Needed(*this, Concat("pot_transpiration", d));
    Links.RealTranspiration[at] = Needed(*this, Concat("real_transpiration", d));
  }
  Links.SurfaceEvaporationResistance = Needed(*this, "SurfaceEvaporationResistance");
  Links.Albedo = Needed(*this, "albedo");
  Links.PotentialEvaporation = Needed(*this, "potential_evaporation");
  Links.RealEvaporation = Needed(*this, "real_evaporation");
  Links.Slope = Needed(*this, "slope_angle");
  Links.SoilTypes = Needed(*this, "soil_types");
  Links.GwStorageCoefficient = Optional(*this, "gw_storage_coeff_1");
  Links.GwKx = Optional(*this, "gw_k_x_1");
  Links.GwKy = Optional(*this, "gw_k_y_1");
  if (Config.pond_use == 1)
    Links.MaxPonding = Needed(*this, "max_ponding_storage");
  if (Config.drainage_use == 1) {
    Links.DrainageDepth = Needed(*this, "drainage_depth");
    Links.DrainageDistance = Needed(*this, "drainage_distance");
  }
  if (Config.clay_use == 1)
    Links.ClayDepth = Needed(*this, "clay_depth");
  Links.SnowStorageSolid = Optional(*this, "snowstorage_solid");
  Links.FlowTimes = Optional(*this, "flow_times");
  if (Links.FlowTimes == nullptr)
    Log->Entry(Concat(kNoFlowTimesInfo, DiagnosticsLog::EndToken));
  if (Config.Heat.HeatTransferActive > 0) {
    Links.Temperature = Needed(*this, "temperature");
    Links.LowerBoundaryTemperature = Optional(*this, "T_Lower_Boundary_Condition");
    Links.LowerBoundaryHeatFlux = Optional(*this, "HeatFlux_Lower_Boundary_Condition");
    Links.HasLowerBoundaryHeatFlux = Links.LowerBoundaryHeatFlux != nullptr;
  }
  if (IrrigationTable != nullptr)
    Links.IrrigationCodes = Needed(*this, "irrigation_codes");
  if (const int etr2etp = FindGrid("ETR2ETP", false); etr2etp > 0) {
    Links.Etr2Etp = (*Registry)[etr2etp].Data;
    Grids.Etr2Etp.Index = -etr2etp; // a foreign entry
  }
  Links.SiltingUp = Optional(*this, "DirectRunoffSiltingUp");
  Links.SiltingUpIsStorage = 0;
  if (Links.SiltingUp == nullptr) {
    Links.SiltingUp = Optional(*this, "SurfStorSiltingUp");
    Links.SiltingUpIsStorage = Links.SiltingUp != nullptr ? 1 : 0;
  }
  Links.Elevation = (*Registry)[2].Data;
  if (Links.Elevation == nullptr)
    GetGridIndex("[elevation_model]"); // ends the run with the documented entry
}

void unsatzonmodellklasse::ScalePondingDepths() {
  if (Links.MaxPonding == nullptr)
    return;
  Grid &ponding = *Links.MaxPonding;
  const int index = FindGrid("max_ponding_storage", false);
  if (MPIRank == 0) {
    for (long r = 1; r <= NRows; ++r) {
      if (!ponding.HasRow(r))
        continue;
      const RowColumnRange range = RowRanges != nullptr
                                       ? (*RowRanges)[static_cast<std::size_t>(r)]
                                       : RowColumnRange{1, static_cast<std::int32_t>(NCols)};
      for (long c = range.first; c <= range.last; ++c)
        if (IsValid(r, c))
          ponding[r][c] *= 1000.0; // m to mm
    }
  }
  MPI_Barrier(MPI_COMM_WORLD);
  MPIScatterGrid(index, &ponding);
  MPI_Barrier(MPI_COMM_WORLD);
  // The neighbours' copies in the halo rows follow, so that every value held
  // is in millimetres.
  MPIExchangeHalo(index, &ponding);
}

} // namespace tavro
