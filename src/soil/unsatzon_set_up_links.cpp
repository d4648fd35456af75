// Soil-water module: its second set-up phase after every module is built
// (flow-time zones, tracer records, the grids and tables of the coupled
// groundwater module, the subbasin runoff arrays, the initial baseflow and
// total runoff, the state section) and the release of that part.
#include "soil/unsatzon_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "raster/output/module_statistic.h"
#include "raster/parallel/collective_failure.h"

namespace tavro {

void unsatzonmodellklasse::InitTracerGrids(int &error, int tracerCount,
                                           OneBasedArray<TracerInfo> *info,
                                           StatisticsRegistry *registry, int capacity) {
  error = 0;
  if (FlowControl == 0)
    return;
  try {
    TracerCount = tracerCount;
    InitFlowTimeZones();
    // The tracer records, stacks and grids of the module.
    CreateSoilTracers(info, registry, capacity);
    if (GroundwaterCoupling != 0)
      LinkGroundwaterCoupling();
    CreateRunoffArrays();
    ComputeInitialRunoff();
    ComputeInitialTracerRunoff();
    CheckGlacierRunoffSource();
    if (Config.readgrids == 1)
      ThrowIfAnyFailed(*Log, CaptureExitCode([&] { ReadStorage(); }));
  } catch (int code) {
    error = code;
  } catch (...) {
    error = OtherFailureExitCode;
  }
}

void unsatzonmodellklasse::LinkGroundwaterCoupling() {
  auto linked = [&](const char *identifier) { return (*Registry)[GetGridIndex(identifier)].Data; };
  if (Config.surface_interaction != 0) {
    Links.RiverDepth = linked("river_depth");
    Links.RiverWidth = linked("river_width");
    Links.RiverLinks = linked("river_links");
    Links.Kolmation = linked("kolmation");
  }
  auto table = [&](SoilStatistic which, const char *title) {
    StatisticsTables[static_cast<std::size_t>(which)] = std::make_unique<ModuleStatistic>(
        *this, Statistics, StatisticsCapacity, Config.Statistic(which), 6, title, ModuleName);
  };
  table(SoilStatistic::GWIN, "re-infiltration from rivers [mm per Zone]");
  table(SoilStatistic::GWEX,
        "base flow (exfiltration into rivers, only with gw-module active) [mm per Zone]");
  // Each grid takes a free entry of its own, never one that another module holds.
  int next = NextFreeEntry(1);
  if (next == 0)
    ThrowFatal(*Log, GridRegistry::RegistryExitCode, "no more free grids in memeory, (max. 1000)!");
  auto grid = [&](const char *identifier, SoilGrid &s, SoilGridFile file) {
    s.Values = NewGrid(FirstRow, LastRow);
    ResetOwnGrid(s.Values, 0.0);
    Register(next, identifier, &s.Values, nullptr, Config.Grid(file), FirstRow, LastRow, s.Index);
  };
  grid("river_infiltration", Grids.RiverInfiltration, SoilGridFile::RiverInfiltration);
  grid("river_exfiltration", Grids.RiverExfiltration, SoilGridFile::RiverExfiltration);
  Links.AquiferThickness = linked("aquifer_thickness_1");
  riverflow_.Records = OneBasedArray<RiverflowRecord>(static_cast<std::size_t>(ZoneCount));
  Links.GwStorageCoefficient = linked("gw_storage_coeff_1");
}

void unsatzonmodellklasse::FinishTracerGrids() {
  if (FlowControl == 0)
    return;
  teilmodellklasse::FinishTracerGrids();
  ReleaseSoilTracers();
  for (SubbasinRunoffArrays *arrays : {&qg_, &qd_, &qi_, &qbb_, &QDd, &QIi})
    arrays->Resize(0);
  exchangeArraysCreated_ = false;
  riverflow_.Records = {};
  ZonesQD = {};
  ZonesQI = {};
  AdditionsQD = {};
  AdditionsQI = {};
  MaxZone.clear();
  BaseflowSums.clear();
}

} // namespace tavro
