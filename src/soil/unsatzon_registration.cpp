// Soil-water module: its own grids and stacks, registered in the documented
// order at the free registry entries from the first free one on, and the
// state grids read from the files of an earlier run.
#include "soil/unsatzon_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "raster/parallel/collective_failure.h"
#include "soil/initial_soil_state.h"
#include "tables/soil_class.h"

#include <algorithm>

namespace tavro {
namespace {

FileAndCode Unnamed(const std::string &identifier) { return {identifier, 0}; }

} // namespace

int unsatzonmodellklasse::NextFreeEntry(int from) const {
  for (int index = std::max(from, 1); index <= GridRegistry::LastIndex; ++index)
    if ((*Registry)[index].IsFree())
      return index;
  return 0;
}

void unsatzonmodellklasse::Register(int &next, const std::string &identifier, Grid *grid,
                                    Stack *stack, const FileAndCode &file, long firstRow,
                                    long lastRow, int &index) {
  // Entries taken by others in between are passed over, never overwritten.
  index = NextFreeEntry(next);
  if (index == 0)
    index = GridRegistry::LastIndex + 1; // refused by AddGrid with its entry (12)
  const int levels = stack != nullptr || identifier == "q_downext" ? MaxSoilLayers : 1;
  AddGrid(index, file.name, grid, stack, levels, identifier, file.code, firstRow, lastRow);
  ownEntries_.push_back(index);
  RegisteredIdentifiers.push_back(identifier);
  next = index + 1;
}

void unsatzonmodellklasse::RegisterStateGrids(int &next) {
  SoilWaterGrids &g = Grids;
  const bool heat = Config.Heat.HeatTransferActive > 0;
  const bool ponding = Links.MaxPonding != nullptr;
  const long wholeFirst = MPIRank == 0 ? 1 : FirstRow;
  const long wholeLast = MPIRank == 0 ? NRows : LastRow;
  const long pondingFirst = MPIRank == 0 ? 1 : ExtendedFirstRow;
  const long pondingLast = MPIRank == 0 ? NRows : ExtendedLastRow;
  auto file = [&](SoilGridFile which) { return Config.Grid(which); };
  auto stack = [&](const char *identifier, SoilStack &s, const FileAndCode &name) {
    Register(next, identifier, &s.Plane, &s.Levels, name, FirstRow, LastRow, s.Index);
  };
  auto grid = [&](const char *identifier, SoilGrid &s, const FileAndCode &name) {
    Register(next, identifier, &s.Values, nullptr, name, s.Values.FirstRow(), s.Values.LastRow(),
             s.Index);
  };
  // The planes of the stacks, beside which the grid output keeps aggregates.
  for (SoilStack *s : {&g.Theta, &g.GeodeticHeads, &g.HydraulicHeads, &g.SoilTemperature}) {
    s->Plane = NewGrid(FirstRow, LastRow);
    ResetOwnGrid(s->Plane, 0.0);
  }

  if (Config.ReadsState()) {
    ReadStateFiles();
    stack("theta", g.Theta, file(SoilGridFile::Theta));
    stack("geodetic_heads", g.GeodeticHeads, file(SoilGridFile::GeodeticHeads));
    stack("hydraulic_heads", g.HydraulicHeads, file(SoilGridFile::HydraulicHeads));
    ComputeLowerBoundaryTemperature(next);
    if (heat)
      stack("Soil_Temperature_Stack", g.SoilTemperature, Config.Heat.TemperatureStack);
    grid("groundwater_distance", g.GroundwaterDistance, file(SoilGridFile::GwDistance));
    grid("groundwater_level", g.GroundwaterLevel, file(SoilGridFile::GwLevel));
    grid("Theta_in_GWLEVEL", g.ThetaInGwLevel, file(SoilGridFile::ThetaInGwLevel));
    grid("baseflow", g.Baseflow, file(SoilGridFile::Baseflow));
    if (ponding)
      grid("ponding_storage", g.Ponding, file(SoilGridFile::Ponding));
    ComputeInitialState();
    return;
  }

  if (Config.readgrids == 2) {
    ReadGrid(file(SoilGridFile::GwDistance).name, g.GroundwaterDistance.Values, 0, true, true, 0.0,
             false, false, false, false);
  } else {
    g.GroundwaterDistance.Values = NewGrid(ExtendedFirstRow, ExtendedLastRow);
    ResetOwnGrid(g.GroundwaterDistance.Values, 0.0);
  }
  grid("groundwater_distance", g.GroundwaterDistance, file(SoilGridFile::GwDistance));
  if (ponding) {
    if (Config.readgrids == 2) {
      ReadGrid(file(SoilGridFile::Ponding).name, g.Ponding.Values, 0, true, true, 0.0, false, true,
               false, true);
    } else {
      g.Ponding.Values = NewGrid(pondingFirst, pondingLast);
      ResetOwnGrid(g.Ponding.Values, 0.0);
    }
    grid("ponding_storage", g.Ponding, file(SoilGridFile::Ponding));
  }
  for (SoilStack *s : {&g.GeodeticHeads, &g.Theta, &g.HydraulicHeads})
    s->Levels = NewStack(FirstRow, LastRow);
  stack("geodetic_heads", g.GeodeticHeads, file(SoilGridFile::GeodeticHeads));
  stack("theta", g.Theta, file(SoilGridFile::Theta));
  stack("hydraulic_heads", g.HydraulicHeads, file(SoilGridFile::HydraulicHeads));
  ComputeLowerBoundaryTemperature(next);
  if (heat) {
    g.SoilTemperature.Levels = NewStack(FirstRow, LastRow);
    stack("Soil_Temperature_Stack", g.SoilTemperature, Config.Heat.TemperatureStack);
  }
  g.Baseflow.Values = NewGrid(wholeFirst, wholeLast);
  ResetOwnGrid(g.Baseflow.Values, 0.0);
  grid("baseflow", g.Baseflow, file(SoilGridFile::Baseflow));
  g.GroundwaterLevel.Values = NewGrid(FirstRow, LastRow);
  g.ThetaInGwLevel.Values = NewGrid(FirstRow, LastRow);
  grid("groundwater_level", g.GroundwaterLevel, file(SoilGridFile::GwLevel));
  grid("Theta_in_GWLEVEL", g.ThetaInGwLevel, file(SoilGridFile::ThetaInGwLevel));
  ComputeInitialState();
}

void unsatzonmodellklasse::ReadStateFiles() {
  SoilWaterGrids &g = Grids;
  auto readStack = [&](SoilStack &s, const std::string &name) {
    const int levels = ReadStack(name, s.Levels, false);
    if (levels != MaxSoilLayers)
      ThrowFatal(*Log, WrongLevelCountExitCode,
                 Concat("wrong number of levels in stack ", name, " (there are ", levels,
                        " level, it must be ", MaxSoilLayers));
  };
  readStack(g.Theta, Config.Grid(SoilGridFile::Theta).name);
  readStack(g.GeodeticHeads, Config.Grid(SoilGridFile::GeodeticHeads).name);
  readStack(g.HydraulicHeads, Config.Grid(SoilGridFile::HydraulicHeads).name);
  if (Config.Heat.HeatTransferActive > 0) {
    readStack(g.SoilTemperature, Config.Heat.TemperatureStack.name);
    g.SoilTemperatureRead = true;
  }
  auto read = [&](SoilGrid &s, SoilGridFile which, bool wholeOnRoot, bool withHalo) {
    ReadGrid(Config.Grid(which).name, s.Values, 0, true, true, 0.0, false, wholeOnRoot, false,
             withHalo);
  };
  read(g.GroundwaterDistance, SoilGridFile::GwDistance, false, true);
  read(g.GroundwaterLevel, SoilGridFile::GwLevel, false, false);
  read(g.ThetaInGwLevel, SoilGridFile::ThetaInGwLevel, false, false);
  read(g.Baseflow, SoilGridFile::Baseflow, true, false);
  if (Links.MaxPonding != nullptr)
    read(g.Ponding, SoilGridFile::Ponding, true, true);
}

void unsatzonmodellklasse::RegisterRemainingGrids(int &next) {
  SoilWaterGrids &g = Grids;
  const bool irrigation = IrrigationTable != nullptr;
  const bool heat = Config.Heat.HeatTransferActive > 0;
  auto file = [&](SoilGridFile which) { return Config.Grid(which); };
  // A strip grid with 0 in the own valid cells and nodata elsewhere.
  auto plain = [&](const char *identifier, SoilGrid &s, const FileAndCode &name) {
    s.Values = NewGrid(FirstRow, LastRow);
    ResetOwnGrid(s.Values, 0.0);
    Register(next, identifier, &s.Values, nullptr, name, FirstRow, LastRow, s.Index);
  };

  g.QDown.Levels = NewStack(FirstRow, LastRow);
  g.QDown.Plane = NewGrid(FirstRow, LastRow);
  ResetOwnStack(g.QDown, 0.0);
  Register(next, "q_down", &g.QDown.Plane, &g.QDown.Levels, file(SoilGridFile::QDown), FirstRow,
           LastRow, g.QDown.Index);
  {
    const long first = MPIRank == 0 ? 1 : FirstRow;
    const long last = MPIRank == 0 ? NRows : LastRow;
    g.QDownExt.Values = NewGrid(first, last);
    ResetOwnGrid(g.QDownExt.Values, 0.0);
    Register(next, "q_downext", &g.QDownExt.Values, nullptr, Unnamed("q_downext"), first, last,
             g.QDownExt.Index);
  }
  plain("SB_1_grid", g.SB1, file(SoilGridFile::SB_1));
  plain(MeanThetaGridName, g.MeanThetaInRootZone, Unnamed(MeanThetaGridName));
  if (irrigation) {
    plain("irrigation_amounts", g.IrrigationAmounts, file(SoilGridFile::Irrigation));
    plain("Max_Pumping", g.MaxPumping, Unnamed("Max_Pumping"));
    plain("SBLOW_grid", g.SBLow, Unnamed("SBLOW_grid"));
    plain("SBHIGH_grid", g.SBHigh, Unnamed("SBHIGH_grid"));
  }
  if (Links.Etr2Etp == nullptr) {
    plain("ETR2ETP", g.Etr2Etp, FileAndCode{});
    ResetOwnGrid(g.Etr2Etp.Values, 1.0);
    Links.Etr2Etp = &g.Etr2Etp.Values;
  }
  for (auto [identifier, s] :
       {std::pair<const char *, SoilGrid *>{"GWTableExtern", &g.GwTableExtern},
        {"Balance", &g.Balance}}) {
    s->Values = NewGrid(FirstRow, LastRow); // 0 everywhere
    Register(next, identifier, &s->Values, nullptr, Unnamed(identifier), FirstRow, LastRow,
             s->Index);
  }
  plain("tangens_beta", g.TangensBeta, Unnamed("tangens_beta"));
  ForOwnCells(
      [&](long r, long c) { g.TangensBeta.Values[r][c] = SlopeRadians((*Links.Slope)[r][c]); });
  plain("SB_2_grid", g.SB2, file(SoilGridFile::SB_2));
  plain("macropore_infiltration", g.MacroporeInfiltration, file(SoilGridFile::Macropore));
  if (Config.methode == 3)
    plain("number_of_substeps", g.NumberOfSubsteps, Config.SubstepsGrid);
  plain("ROOTgrid", g.Root, file(SoilGridFile::ROOT));
  plain("groundwater_recharge", g.GroundwaterRecharge, file(SoilGridFile::GwRecharge));
  plain("Capillar_Uprise", g.CapillarUprise, file(SoilGridFile::CapillarUprise));
  plain("Percolation", g.Percolation, file(SoilGridFile::Percolation));
  plain("directflow", g.DirectFlow, file(SoilGridFile::DirectFlow));
  plain("interflow", g.Interflow, file(SoilGridFile::Interflow));
  plain("infiltration_excess", g.InfiltrationExcess, file(SoilGridFile::InfiltrationExcess));
  plain("total_infiltration", g.TotalInfiltration, Unnamed("total_infiltration"));
  plain("infiltration_saturation", g.InfiltrationSaturation, file(SoilGridFile::Saturation));
  auto extended = [&](const char *identifier, SoilGrid &s, const FileAndCode &name) {
    s.Values = NewGrid(ExtendedFirstRow, ExtendedLastRow);
    ResetOwnGrid(s.Values, 0.0);
    Register(next, identifier, &s.Values, nullptr, name, ExtendedFirstRow, ExtendedLastRow,
             s.Index);
  };
  if (heat && Links.GwKx != nullptr && Links.GwKy != nullptr) {
    extended("frozenSoilInGroundwater", g.FrozenSoilInGroundwater,
             Unnamed("frozenSoilInGroundwater"));
    ForOwnCells([&](long r, long c) {
      g.FrozenSoilInGroundwater.Values[r][c] =
          (*Links.Elevation)[r][c] - g.GeodeticHeads.Levels[r][c][MaxSoilLayers];
    });
  }
  if (heat)
    extended("ThawDepthTMod", g.ThawDepth, Config.Heat.ThawDepthGrid);
  if (Links.DrainageDepth != nullptr) {
    plain("drainage_flow", g.DrainageFlow, file(SoilGridFile::DrainageFlow));
    plain("drainage_level", g.DrainageLevel, Unnamed("drainage_level"));
  }
  // Last, so that the entries of the others stay where they are without ponds.
  if (Links.MaxPonding != nullptr)
    for (auto [identifier, grid] :
         {std::pair<const char *, SoilGrid *>{"pond_evaporation", &g.PondEvaporation},
          {"pond_exchange", &g.PondExchange},
          {"pond_overflow", &g.PondOverflow}})
      plain(identifier, *grid, Unnamed(identifier));
  if (irrigation)
    ComputeIrrigationGrids();
  if (Links.DrainageDepth != nullptr)
    ComputeDrainageLevels();
}

} // namespace tavro
