// Soil-water module: what the application wires after construction (the
// getters of the handed-over arrays, the water input, the state file name),
// the state-file mismatch entry, and the soil-water part of "[lake_model]".
#include "soil/unsatzon_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/state_file.h"
#include "raster/parallel/collective_failure.h"
#include "soil/initial_soil_state.h"
#include "tables/soil_class.h"

#include <cmath>
#include <span>

namespace tavro {
namespace {

constexpr const char *kBanner = "\n\n=======================================\n";

// The section's file is closed whichever way the reading ends; a failed
// close on the way out of a reading error is not reported over that error.
class SectionFileGuard {
public:
  explicit SectionFileGuard(modelobject &module) : module_(module) {}
  ~SectionFileGuard() {
    if (module_.ControlFile().IsOpen())
      module_.CloseControlFile();
  }
  SectionFileGuard(const SectionFileGuard &) = delete;
  SectionFileGuard &operator=(const SectionFileGuard &) = delete;

private:
  modelobject &module_;
};

} // namespace

SubbasinRunoffArrays *unsatzonmodellklasse::RunoffArrays(SubbasinRunoffArrays &arrays,
                                                         const char *name) {
  if (FlowControl == 0)
    return nullptr;
  if (!exchangeArraysCreated_)
    ThrowFatal(*Log, NotInitializedExitCode,
               Concat(name, " not initialized (may be, tracer module not linked? -> programmers "
                            "error!)"));
  return &arrays;
}

SubbasinRunoffArrays *unsatzonmodellklasse::GetQg() { return RunoffArrays(qg_, "Qg"); }

SubbasinRunoffArrays *unsatzonmodellklasse::GetQD() { return RunoffArrays(qd_, "QD"); }

SubbasinRunoffArrays *unsatzonmodellklasse::GetQI() { return RunoffArrays(qi_, "QI"); }

SubbasinRunoffArrays *unsatzonmodellklasse::GetQBb() { return RunoffArrays(qbb_, "QBb"); }

SubbasinValues *unsatzonmodellklasse::GetKelsqd() { return FlowControl != 0 ? &kelsqd_ : nullptr; }

SubbasinValues *unsatzonmodellklasse::GetKelsqi() { return FlowControl != 0 ? &kelsqi_ : nullptr; }

void unsatzonmodellklasse::SetSurfaceRoutingActive(int active) { SurfaceRoutingActive = active; }

riverflow_table *unsatzonmodellklasse::GetRiverflowTable() {
  // Only the coupled groundwater module brings river exchange.
  return FlowControl != 0 && GroundwaterCoupling != 0 && exchangeArraysCreated_ ? &riverflow_
                                                                                : nullptr;
}

std::string unsatzonmodellklasse::GetStorageFileName() const {
  return FlowControl != 0 ? StorageFileName : std::string();
}

void unsatzonmodellklasse::SelectWaterInput(bool interceptionFirst) {
  if (FlowControl == 0 || Links.WaterInput != nullptr)
    return;
  const std::string throughfall = Concat("throughfall", 0);
  const int index = interceptionFirst
                        ? GetGridIndexOf3("snowcover_outflow", throughfall, "precipitation")
                        : GetGridIndexOf3(throughfall, "snowcover_outflow", "precipitation");
  Links.WaterInputIndex = index;
  Links.WaterInput = (*Registry)[index].Data;
}

void unsatzonmodellklasse::ThrowStorageMismatch(std::string_view description, double controlValue,
                                                double storedValue) {
  ThrowStateMismatch(*Log, "", description, controlValue, storedValue);
}

void unsatzonmodellklasse::ReadLakeParameters(const std::string &section) {
  const int lakes = FindGrid("lake_codes", false);
  if (lakes == 0) {
    Log->Entry(Concat("INFO: no LAKE-grid was found in ", ModuleName,
                      "\nLake modelling is switched off for ", ModuleName, ".",
                      DiagnosticsLog::EndToken));
    return;
  }
  if (!OpenControlFile())
    ThrowFatal(*Log, OpenErrorExitCode, "error opening " + ControlFileName);
  {
    const SectionFileGuard guard(*this);
    FindControlKey(section, true);
    ReadControlValue(LakeFlowControl, "flow control parameter for ");
    if (SpinUpSwitch != 0)
      LakeFlowControl = 0;
    if (LakeFlowControl == 0)
      return;
    if (Config.pond_use == 0) {
      Log->Entry(Concat("ERROR: ", kBanner,
                        "!!!! ERROR !!!! \n\nError in initialization method for ", section,
                        ".\npond_use must be set in ", ModuleName, "\nfor using the ", section,
                        kBanner, DiagnosticsLog::EndToken));
      throw LakeExitCode;
    }
    ReadControlValue(LakeInitMethod, "initialization method for ");
    if (!CloseControlFile())
      ThrowFatal(*Log, CloseErrorExitCode,
                 Concat("error closing ", ControlFileName,
                        "after reading initialization method for ", section));
  }
  Links.LakeCodes = (*Registry)[lakes].Data;
  if (LakeInitMethod != 1 && LakeInitMethod != 2)
    ThrowFatal(*Log, LakeExitCode,
               Concat(kBanner, "!!!! ERROR !!!! \n\n Error in initialization method for ", section,
                      ".\nAllowed values are 1 (no change of grids) or 2 (adjust DEM, SLOPE, "
                      "DRAIN).\nIn either case, theta_soil will be set to saturation,\nif the cell "
                      "is marked as lake and POND is > 0. Also, the groudwater level\nwill be set "
                      "to 0.",
                      kBanner));
  const bool adjustGrids = LakeInitMethod == 2;
  const double threshold = adjustGrids ? 0.3 : 1.0; // mm of ponding water
  const int n = MaxSoilLayers;
  SoilWaterGrids &g = Grids;
  ForOwnCells([&](long r, long c) {
    if (!((*Links.LakeCodes)[r][c] >= 0.0))
      return;
    const bool saturate =
        Config.readgrids == 0 || (Config.readgrids > 0 && g.Ponding.Values[r][c] > threshold);
    const soil_class *soil = SoilOf(r, c);
    if (saturate && soil != nullptr) {
      g.GroundwaterDistance.Values[r][c] = 0.0;
      g.GroundwaterLevel.Values[r][c] = 1.0;
      double *theta = g.Theta.Levels[r][c];
      for (int i = 1; i < n; ++i)
        theta[i] = soil->theta_sat[static_cast<std::size_t>(i)];
    }
    if (!adjustGrids)
      return;
    if (saturate) {
      if (Links.DrainageDepth != nullptr)
        g.DrainageLevel.Values[r][c] = -1.0;
      (*Links.Slope)[r][c] = 0.0;
      if (g.IrrigationAmounts.Values.Allocated())
        g.IrrigationAmounts.Values[r][c] = 0.0;
    }
    (*Links.Elevation)[r][c] -= (*Links.MaxPonding)[r][c] / 1000.0; // mm to m
  });
  if (!adjustGrids)
    return;
  // Rank 0 holds these set-up grids for the whole raster.
  for (const int index : {2, FindGrid("slope_angle", false)})
    MPIGatherGrid(index, (*Registry)[index].Data);
  RecomputeLakeCells();
}

void unsatzonmodellklasse::RecomputeLakeCells() {
  const int n = MaxSoilLayers;
  SoilWaterGrids &g = Grids;
  ForOwnCells([&](long r, long c) {
    const soil_class *soil = SoilOf(r, c);
    if (!((*Links.LakeCodes)[r][c] >= 0.0) || soil == nullptr)
      return;
    g.TangensBeta.Values[r][c] = SlopeRadians((*Links.Slope)[r][c]);
    const std::span<double> geo(g.GeodeticHeads.Levels[r][c], static_cast<std::size_t>(n) + 1);
    const std::span<double> hydraulic(g.HydraulicHeads.Levels[r][c],
                                      static_cast<std::size_t>(n) + 1);
    const std::span<const double> theta(g.Theta.Levels[r][c], static_cast<std::size_t>(n) + 1);
    ComputeGeodeticHeads((*Links.Elevation)[r][c], soil->thickness, geo);
    ComputeHydraulicHeads(*soil, geo, theta, hydraulic);
  });
}

} // namespace tavro
