// Soil-water module: the order of construction, the reading of its
// sections, the cell helpers, the step hooks and the release.
#include "soil/unsatzon_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/module_construction.h"
#include "kernel/state_file.h"
#include "raster/output/module_statistic.h"
#include "raster/parallel/cell_iteration.h"
#include "raster/parallel/mpi_decomposition.h"
#include "tables/multilayer_landuse.h"
#include "tables/soil_class.h"

#include <algorithm>
#include <cmath>

namespace tavro {

unsatzonmodellklasse::unsatzonmodellklasse(
    int &error, const ModuleSettings &settings,
    const OneBasedArray<IrrigationTableEntry> *irrigationTable, int substepCount) try
    : teilmodellklasse(BeginModuleConstruction(error, settings, FixedName, substepCount)),
      IrrigationTable(irrigationTable) {
  if (FlowControl == 0) {
    CloseModuleSection(*this);
    return;
  }
  Log->Entry(
      Concat("file unsatzon, compiled at ", __DATE__, ", ", __TIME__, DiagnosticsLog::EndToken));
  try {
    // The subbasin table of the section is read against the ranked subbasins.
    RankZones(subbasinGrid_, subbasinTable_, subbasinIndex_, ZoneCount, MaxZoneCode);
    ZoneTable = &subbasinTable_;
    ZoneIndex = &subbasinIndex_;
    ReadConfiguration();
    CreateExchangeArrays();
    DeriveLayerCounts();
    LinkGrids();
    ScalePondingDepths();
    CreateStatisticsTables();
    DeriveSoilLayerCount();
    int next = NextFreeEntry(1);
    if (next == 0)
      ThrowFatal(*Log, GridRegistry::RegistryExitCode,
                 "no more free grids in memeory, (max. 1000)!");
    RegisterStateGrids(next);
    RegisterRemainingGrids(next);
    CreateLateStatisticsTables();
    ReadLakeParameters(LakeSection);
    CreateControlPointFiles();
    BuildProcessTag();
    CompleteSoilHeatProperties();
    CreateGlacierResizeTable();
    BuildGlacierTable();
    ReportStartOfRun();
    LinkResponseUnitGrids();
  } catch (...) {
    // No registry entry may point at the grids of a module that was not built.
    ReleaseOwnGrids();
    throw;
  }
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

unsatzonmodellklasse::~unsatzonmodellklasse() = default;

// --- Configuration ------------------------------------------------------------

void unsatzonmodellklasse::ReadConfiguration() {
  SoilSectionContext context;
  context.rows = NRows;
  context.columns = NCols;
  context.processCount = MPIProcessCount;
  context.rank = MPIRank;
  context.outputDirectory = DefaultOutputDirectory;
  context.moduleName = ModuleName;
  context.codes = SubbasinRanks{&subbasinIndex_, &subbasinTable_, ZoneCount, MaxZoneCode};
  Config = ReadSoilSection(ControlFile(), context);
  CloseModuleSection(*this);
  StateReadMode = Config.readgrids;
  StorageFileName = Config.StorageFileName;
  ReadHeatTransfer();
  ReadTuning();
  ReadPermafrost();
}

void unsatzonmodellklasse::ReopenControlFile() {
  if (!OpenControlFile())
    ThrowFatal(*Log, OpenErrorExitCode, "error opening " + ControlFileName);
}

void unsatzonmodellklasse::CloseReopenedControlFile() {
  if (!CloseControlFile())
    ThrowFatal(*Log, CloseErrorExitCode,
               Concat("control file \"", ControlFileName, "\" cannot be closed"));
}

void unsatzonmodellklasse::ReadHeatTransfer() {
  ReopenControlFile();
  if (FindControlKey("[heat_transfer]", false))
    Config.Heat = ReadHeatTransferSection(ControlFile(), DefaultOutputDirectory);
  CloseReopenedControlFile();
  HeatTransferModel = Config.Heat.HeatTransferActive;
}

void unsatzonmodellklasse::ReadTuning() {
  ReopenControlFile();
  if (FindControlKey("[unsatzon_tuning]", false))
    Config.Tuning = ReadTuningLines(ControlFile().Handle(), *Log);
  CloseReopenedControlFile();
}

void unsatzonmodellklasse::ReadPermafrost() {
  if (Config.Heat.HeatTransferActive != 0 || FindGrid("PermafrostThawDepth", false) == 0 ||
      FindGrid("SnowFreeDaysGrid", false) == 0 || FindGrid("ThawCoeffPermaFrost", false) == 0)
    return;
  Links.PermafrostThawDepth = (*Registry)[GetGridIndex("PermafrostThawDepth")].Data;
  ReopenControlFile();
  FindControlKey("[permafrost]", true);
  Config.ReducedKsat = ReadPermafrostReducedKsat(ControlFile());
  CloseReopenedControlFile();
}

void unsatzonmodellklasse::DeriveLayerCounts() {
  LanduseLayerCount = 1;
  if (MultilayerTable != nullptr && MultilayerTable->Count() >= 1)
    LanduseLayerCount = std::max(1, (*MultilayerTable)[1].LayerCount);
  ExtendedFirstRow = FirstRow > 1 ? FirstRow - 1 : FirstRow;
  ExtendedLastRow = LastRow < NRows ? LastRow + 1 : LastRow;
  Links.Subbasins = subbasinGrid_;
}

void unsatzonmodellklasse::DeriveSoilLayerCount() {
  MaxSoilLayers = 0;
  if (SoilTable != nullptr)
    for (const soil_class &soil : *SoilTable)
      MaxSoilLayers = std::max(MaxSoilLayers, soil.LayerCount);
  // Every stack of the module has this many levels.
  if (MaxSoilLayers < 1)
    ThrowFatal(*Log, SoilTableExitCode,
               Concat("the soil table holds no soil type with layers; ", ModuleName,
                      " needs the layers of every soil type in \"soil_types\""));
}

void unsatzonmodellklasse::CreateExchangeArrays() {
  // The runoff arrays and the river table follow in InitTracerGrids.
  kelsqd_.Values = Config.Subbasins.kelsqd;
  kelsqi_.Values = Config.Subbasins.kelsqi;
}

void unsatzonmodellklasse::CopyZoneTableTo(ModuleSettings &settings) const {
  settings.ZoneIndex = ZoneIndex;
  settings.ZoneTable = ZoneTable;
  settings.ZoneCount = ZoneCount;
  settings.MaxZoneCode = MaxZoneCode;
}

void unsatzonmodellklasse::BuildProcessTag() {
  ProcessTag.clear();
  if (Links.FlowTimes != nullptr)
    ProcessTag += "+ft,";
  if (IrrigationTable != nullptr)
    ProcessTag += "+ir,";
  if (Config.surface_interaction == 1)
    ProcessTag += "+srf1";
  else if (Config.surface_interaction >= 2)
    ProcessTag += "+srf2,";
  if (Links.DrainageDepth != nullptr)
    ProcessTag += "+dr,";
  if (Links.ClayDepth != nullptr)
    ProcessTag += "+cl,";
  if (Links.MaxPonding != nullptr)
    ProcessTag += "+po,";
}

void unsatzonmodellklasse::LinkResponseUnitGrids() {
  if (SpinUpSwitch == 0)
    return;
  Links.HydrologicResponseUnits = (*Registry)[GetGridIndex("HydrologicResponseUnits")].Data;
  Links.MasterHydrologicResponseUnits =
      (*Registry)[GetGridIndex("MasterHydrologicResponseUnits")].Data;
}

// --- Cells ------------------------------------------------------------------------

bool unsatzonmodellklasse::IsValid(long row, long column) const {
  const Grid *zone = Links.Subbasins;
  return zone != nullptr && zone->HasRow(row) && (*zone)[row][column] != NoData;
}

bool unsatzonmodellklasse::IsOwn(long row, long column) const {
  if (MPIRegions == nullptr)
    return true;
  return MPIRegions->HasRow(row) && (*MPIRegions)[row][column] == static_cast<double>(MPIRank);
}

const soil_class *unsatzonmodellklasse::SoilOf(long row, long column) const {
  const Grid *types = Links.SoilTypes;
  if (SoilTable == nullptr || types == nullptr || !types->HasRow(row))
    return nullptr;
  const double record = (*types)[row][column];
  if (!(record >= 1.0) || record > static_cast<double>(SoilTable->Count()))
    return nullptr;
  return &(*SoilTable)[static_cast<std::size_t>(std::lround(record))];
}

Grid unsatzonmodellklasse::NewGrid(long firstRow, long lastRow) const {
  return Grid(firstRow, lastRow, NCols, NRows, *Log);
}

Stack unsatzonmodellklasse::NewStack(long firstRow, long lastRow) const {
  return Stack(firstRow, lastRow, NCols, MaxSoilLayers, NRows, *Log);
}

void unsatzonmodellklasse::ResetOwnGrid(Grid &grid, double ownValue) const {
  for (long r = grid.FirstRow(); r <= grid.LastRow(); ++r) {
    if (!grid.HasRow(r))
      continue;
    double *row = grid[r];
    for (long c = 1; c <= NCols; ++c)
      row[c] = IsValid(r, c) && IsOwn(r, c) ? ownValue : NoData;
  }
}

void unsatzonmodellklasse::ResetOwnStack(SoilStack &stack, double ownValue) const {
  ResetOwnGrid(stack.Plane, ownValue);
  Stack &levels = stack.Levels;
  for (long r = levels.FirstRow(); r <= levels.LastRow(); ++r) {
    if (!levels.HasRow(r))
      continue;
    for (long c = 1; c <= NCols; ++c) {
      const double value = IsValid(r, c) && IsOwn(r, c) ? ownValue : NoData;
      double *cell = levels[r][c];
      for (long k = 1; k <= levels.LastLevel(); ++k)
        cell[k] = value;
    }
  }
}

// --- Time loop ----------------------------------------------------------------------

void unsatzonmodellklasse::SetDumpOptions(bool dumpMode, bool closeAfterDump,
                                          bool repairAfterDump) {
  DumpMode = dumpMode;
  CloseAfterDump = closeAfterDump;
  RepairAfterDump = repairAfterDump;
}

void unsatzonmodellklasse::SetSubstepCount(int count) { SubstepCount = count; }

void unsatzonmodellklasse::ReleaseOwnGrids() {
  if (Registry != nullptr)
    for (const int index : ownEntries_)
      ReleaseGrid(index);
  ownEntries_.clear();
}

void unsatzonmodellklasse::ReleaseMemory() {
  ReleaseOwnGrids();
  auto release = [](std::unique_ptr<ModuleStatistic> &table) {
    if (table)
      (*table)->ReleaseMemory();
    table.reset();
  };
  for (auto &table : StatisticsTables)
    release(table);
  StatisticsTables.clear();
  release(SubstepsTable);
  release(ThawDepthTable);
  release(GlacierResizeTable);
  Grids = SoilWaterGrids();
  Links = SoilWaterLinks(); // some pointed at the grids just released
  ControlPointBuffers.clear();
  teilmodellklasse::ReleaseMemory();
}

} // namespace tavro
