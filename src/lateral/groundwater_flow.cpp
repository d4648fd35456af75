// Groundwater module: construction (settings, input grids, the layer-1
// thickness from the soil profile, the state grids of every layer, initial
// heads, control-point file), wiring setters and release.
#include "lateral/groundwater_flow.h"
#include "lateral/module_grids.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/module_construction.h"
#include "kernel/string_helpers.h"
#include "lateral/groundwater/transmissivity.h"
#include "lateral/groundwater_names.h"
#include "raster/output/zonal_statistic.h"
#include "raster/parallel/collective_failure.h"
#include "tables/soil_class.h"

#include <mpi.h>

#include <cmath>
#include <cstdio>

namespace tavro {
namespace {

constexpr const char *kSourceName = "gwflow";
// Every layer registers kGroundwaterGridCount state grids: more layers than
// the registry can hold are refused before anything is sized from the count.
constexpr int kMaxLayers = GridRegistry::LastIndex / kGroundwaterGridCount;

} // namespace

gwflowclass::gwflowclass(int &error, const ModuleSettings &settings,
                         const OneBasedArray<IrrigationTableEntry> *irrigationTable,
                         int substepCount) try
    : teilmodellklasse(BeginModuleConstruction(error, settings, FixedName, substepCount)),
      IrrigationTable(irrigationTable) {
  if (FlowControl == 0)
    return;
  stateEntries_.Link(Registry);
  tracerEntries_.Link(Registry);
  if (SpinUpSwitch != 0) {
    // Spin-up with response units computes master cells only; lateral flow
    // between the cells of a unit has no meaning there.
    CloseModuleSection(*this);
    FlowControl = 0;
    return;
  }
  const int regions = FindGrid("MPIRegions", false);
  if (regions != 0)
    MPIRegions = (*Registry)[regions].Data;
  const int helper = FindGrid("MPIHelper", false);
  if (helper != 0)
    MPIHelper = (*Registry)[helper].Data;
  HaloFirstRow = FirstRow > 1 ? FirstRow - 1 : FirstRow;
  HaloLastRow = LastRow < NRows ? LastRow + 1 : LastRow;
  Log->Entry(Concat("file ", kSourceName, ", compiled at ", __DATE__, ", ", __TIME__,
                    DiagnosticsLog::EndToken));
  ReadSettings();
  CloseModuleSection(*this);
  LinkInputGrids();
  TakeSoilThickness();
  CountUnusableCells();
  RegisterStateGrids();
  CreateControlPointFile();
  Initialized = 0;
  ReadLakeParameters(LakeSection);
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

gwflowclass::~gwflowclass() = default;

void gwflowclass::ReadSettings() {
  ReadControlValue(Method, "method in ");
  ReadControlValue(MaxIterations, "maxiter in ");
  ReadControlValue(MaxErrorAllowed, "maxerror_allowed in ");
  ReadControlValue(Alpha, "alpha in ");
  ReadControlValue(SorParameter, "sor-parameter in ");
  AdaptiveSor = SorParameter <= 0.0;
  ReadControlValue(GridReadParameter, "grid read parameter in ");
  int layers = 0;
  ReadControlValue(layers, "number of layers in ");
  if (layers < 1)
    ThrowFatal(*Log, ControlFileExitCode,
               Concat("in modul ", ModuleName, ": the number of layers (", layers,
                      ") must be at least 1"));
  if (layers > kMaxLayers)
    ThrowFatal(*Log, ControlFileExitCode,
               Concat("in modul ", ModuleName, ": the number of layers (", layers,
                      ") must be at most ", kMaxLayers, ", as the grid registry holds at most ",
                      GridRegistry::LastIndex, " grids and each layer needs ",
                      static_cast<int>(kGroundwaterGridCount)));
  ReadControlValues2(ControlRow, ControlColumn, "control_row/column for control point fluxes in ");
  ReadControlValue(ControlPointFileName, "name of the control point file  ");
  AddPathPrefix(DefaultOutputDirectory, ControlPointFileName, *Log);
  if (ControlRow < 0 || ControlRow > NRows)
    ThrowFatal(*Log, ControlRowExitCode,
               Concat("in modul ", ModuleName, ":\nrow index (", ControlRow,
                      ") for output-cell must be between ", 1, " and ", NRows,
                      " (Input as row col) or 0 0 "));
  if (ControlColumn < 0 || ControlColumn > NCols)
    ThrowFatal(*Log, ControlColumnExitCode,
               Concat("in modul ", ModuleName, ":\ncolumn index (", ControlColumn,
                      ") for output-cell must be between ", 1, " and ", NCols,
                      " (Input as row col) "));
  ReadPondFlag();
  Layers = std::vector<GroundwaterLayerGrids>(static_cast<std::size_t>(layers));
  ReadLayerFiles();
}

void gwflowclass::ReadPondFlag() {
  std::FILE *file = ControlFile().Handle();
  const int next = std::fgetc(file);
  auto skipLine = [&] {
    for (int ch = std::fgetc(file); ch != EOF && ch != '\n'; ch = std::fgetc(file)) {
    }
  };
  if (next == '1') {
    skipLine();
    PondUse = 1;
    Ponding = OptionalGrid(*this, "ponding_storage", &PondingIndex);
    Log->Entry(Concat("INFO: in modul ", ModuleName, ": Use-Pond-Flag is ", 1,
                      Ponding != nullptr
                          ? "\n POND-Grid was found --> PONDs will be used in GW-Model"
                          : "\n POND-Grid was not found --> no PONDs will be used in GW-Model",
                      DiagnosticsLog::EndToken));
  } else if (next == '0') {
    skipLine();
    Log->Entry(Concat("INFO: in modul ", ModuleName, ": Use-Pond-Flag is ", 0,
                      "; --> no PONDs will be used in GW-Model", DiagnosticsLog::EndToken));
  } else {
    if (next != EOF)
      std::ungetc(next, file);
    Log->Entry(Concat("INFO: in modul ", ModuleName,
                      ": no POND-Grid will be used because Use-Pond-Flag is not present",
                      DiagnosticsLog::EndToken));
  }
}

void gwflowclass::ReadLayerFiles() {
  for (GroundwaterLayerGrids &layer : Layers) {
    ReadControlValue(layer.Heads.name, "name of grid with hydraulic heads in ");
    layer.HeadsOld.name = DerivedHeadsFileName(layer.Heads.name, "_old");
    layer.HeadsOldOld = DerivedHeadsFileName(layer.Heads.name, "_oldold");
    layer.HeadsOldIter = DerivedHeadsFileName(layer.Heads.name, "_olditer");
    ReadControlValue(layer.Heads.code, "Writegrid (hydraulic heads) in ");
    layer.HeadsOld.code = layer.Heads.code;
    ReadControlValue(layer.FlowX.name, "name of grid with x-transmissivities in ");
    ReadControlValue(layer.FlowX.code, "Writegrid x-transmissivities in ");
    ReadControlValue(layer.FlowY.name, "name of grid with y-transmissivities in ");
    ReadControlValue(layer.FlowY.code, "Writegrid y-transmissivities in ");
    ReadControlValue(layer.Balance.name, "name of grid with balances in ");
    ReadControlValue(layer.Balance.code, "Writegrid balances in ");
  }
}

void gwflowclass::LinkInputGrids() {
  Zone = (*Registry)[1].Data;
  Elevation = RequiredGridData(*this, "[elevation_model]");
  Recharge = RequiredGridData(*this, "groundwater_recharge");
  DistanceIndex = GetGridIndex("groundwater_distance");
  GroundwaterDistance = RequiredGridData(*this, "groundwater_distance");
  SoilTypes = RequiredGridData(*this, "soil_types");
  Baseflow = RequiredGridData(*this, "baseflow");
  if (FindGrid("RelCellArea", false) != 0) {
    CellSizeX = RequiredGridData(*this, "CellSizeX");
    CellSizeY = RequiredGridData(*this, "CellSizeY");
  }
  Glacier = OptionalGrid(*this, "GlacierizedCells");
  if (Glacier == nullptr)
    Glacier = OptionalGrid(*this, "ice_firn");
  const int layers = LayerCount();
  for (int k = 1; k <= layers; ++k) {
    GroundwaterLayerGrids &layer = Layer(k);
    layer.Thickness = RequiredGridData(*this, LayerIdentifier("aquifer_thickness_", k));
    if (k == 1)
      ThicknessIndex = GetGridIndex(LayerIdentifier("aquifer_thickness_", k));
    layer.ConductivityX = RequiredGridData(*this, LayerIdentifier("gw_k_x_", k));
    layer.ConductivityY = RequiredGridData(*this, LayerIdentifier("gw_k_y_", k));
    layer.Storage = RequiredGridData(*this, LayerIdentifier("gw_storage_coeff_", k));
    layer.FixedHead = RequiredGridData(*this, LayerIdentifier("gw_boundary_fix_h_", k));
    layer.FixedInflow = RequiredGridData(*this, LayerIdentifier("gw_boundary_fix_q_", k));
  }
  for (int k = 1; k < layers; ++k)
    Layer(k).Leakance = RequiredGridData(*this, LayerIdentifier("gw_kolmation_", k));
}

void gwflowclass::TakeSoilThickness() {
  Grid &thickness = *Layer(1).Thickness;
  ForStripCells([&](long r, long c) {
    if (!IsModelCell(r, c))
      return;
    const double soil = (*SoilTypes)[r][c];
    const soil_class *record = nullptr;
    if (thickness[r][c] > NoData && soil > NoData && SoilTable != nullptr) {
      const long code = std::lround(soil);
      if (code >= 1 && static_cast<std::size_t>(code) <= SoilTable->Count())
        record = &(*SoilTable)[static_cast<std::size_t>(code)];
    }
    if (record == nullptr) {
      thickness[r][c] = NoData;
      return;
    }
    double depth = 0.0;
    for (int layer = 1; layer <= record->LayerCount; ++layer)
      depth += record->thickness[static_cast<std::size_t>(layer)];
    thickness[r][c] = depth;
  });
  MPIExchangeHalo(ThicknessIndex, nullptr);

  // Thaw depth, frozen soil and silting-up storage.
  const bool permafrost = FindGrid("PermafrostThawDepth", false) != 0 &&
                          FindGrid("SnowFreeDaysGrid", false) != 0 &&
                          FindGrid("ThawCoeffPermaFrost", false) != 0;
  if (permafrost) {
    ThawDepth = OptionalGrid(*this, "PermafrostThawDepth", &ThawIndex);
  } else {
    ThawDepth = OptionalGrid(*this, "ThawDepthTMod", &ThawIndex);
    if (ThawDepth != nullptr) {
      FrozenIndex = GetGridIndex("frozenSoilInGroundwater");
      FrozenSoil = RequiredGridData(*this, "frozenSoilInGroundwater");
    }
  }
  if (FindGrid("DirectRunoffSiltingUp", false) == 0)
    SiltingUpStorage = OptionalGrid(*this, "SurfStorSiltingUp");
}

bool gwflowclass::ConductsAt(const GroundwaterLayerGrids &layer, long r, long c) const {
  return groundwater::ConductsWater((*layer.Thickness)[r][c], (*layer.ConductivityX)[r][c],
                                    (*layer.ConductivityY)[r][c], (*layer.Storage)[r][c]);
}

void gwflowclass::CountUnusableCells() {
  for (int k = 1; k <= LayerCount(); ++k) {
    const GroundwaterLayerGrids &layer = Layer(k);
    long count = 0;
    ForStripCells([&](long r, long c) {
      if (IsModelCell(r, c) && !ConductsAt(layer, r, c)) {
#pragma omp atomic
        ++count;
      }
    });
    long total = 0;
    MPI_Reduce(&count, &total, 1, MPI_LONG, MPI_SUM, 0, MPI_COMM_WORLD);
    if (MPIRank == 0 && total > 0)
      Log->Entry(Concat("WARNING: in modul ", ModuleName, ": layer ", k, " has ", total,
                        " cells whose thickness, conductivity or storage coefficient is no-data "
                        "or negative; they take no part in the layer's flow and keep their head",
                        DiagnosticsLog::EndToken));
  }
}

int gwflowclass::NextFreeEntry() const {
  const int index = Registry->FirstFreeIndex();
  if (index == 0)
    ThrowFatal(*Log, GridRegistry::RegistryExitCode,
               Concat("no free grid (gridmaxanzahl must be larger than ", 1000, ")!\n"));
  return index;
}

int gwflowclass::RegisterState(GroundwaterLayerGrids &layer, GroundwaterGridSlot slot,
                               const std::string &identifier, const GroundwaterFile &file,
                               long first, long last) {
  const int index = NextFreeEntry();
  Grid &grid = layer.State[slot];
  if (!grid.Allocated())
    grid = Grid(first, last, NCols, NRows, *Log);
  AddGrid(index, file.name.empty() ? identifier : file.name, &grid, nullptr, 1, identifier,
          file.code, first, last);
  stateEntries_.Add(index);
  layer.Index[slot] = index;
  return index;
}

void gwflowclass::RegisterStateGrids() {
  const int layers = LayerCount();
  for (int k = 1; k <= layers; ++k)
    InitialiseHeads(Layer(k), k);
  for (int k = 1; k <= layers; ++k)
    InitialiseOtherGrids(Layer(k), k);
}

double gwflowclass::LayerOneHead(long r, long c) const {
  const double distance = (*GroundwaterDistance)[r][c];
  double head = (*Elevation)[r][c] + distance;
  if (std::fabs(distance) < 0.001) {
    if (PondUse == 1 && Ponding != nullptr)
      head += (*Ponding)[r][c] / 1000.0;
    else if (SiltingUpStorage != nullptr && (*SiltingUpStorage)[r][c] > 0.0)
      head += (*SiltingUpStorage)[r][c] / 1000.0;
  }
  return head;
}

void gwflowclass::InitialiseHeads(GroundwaterLayerGrids &layer, int k) {
  const std::string head = LayerIdentifier("gw_head_", k);
  const std::string old = LayerIdentifier("gw_head_old_", k);
  if (GridReadParameter == 1) {
    ReadGrid(layer.Heads.name, layer[kHead], 0, true, true, 0.0, false, false, false, true);
    ReadGrid(layer.HeadsOld.name, layer[kHeadOld], 0, true, true, 0.0, false, false, false, true);
    RegisterState(layer, kHead, head, layer.Heads, layer[kHead].FirstRow(), layer[kHead].LastRow());
    RegisterState(layer, kHeadOld, old, layer.HeadsOld, layer[kHeadOld].FirstRow(),
                  layer[kHeadOld].LastRow());
    return;
  }
  RegisterState(layer, kHead, head, layer.Heads, HaloFirstRow, HaloLastRow);
  Grid &h = layer[kHead];
  h.Fill(NoData);
  ForStripCells([&](long r, long c) {
    if (IsModelCell(r, c))
      h[r][c] = LayerOneHead(r, c);
  });
  ExchangeSlot(k, kHead);
  RegisterState(layer, kHeadOld, old, layer.HeadsOld, HaloFirstRow, HaloLastRow);
  Grid &hOld = layer[kHeadOld];
  hOld.Fill(NoData);
  ForStripCells([&](long r, long c) {
    if (IsModelCell(r, c))
      hOld[r][c] = h[r][c];
  });
  ExchangeSlot(k, kHeadOld);
}

void gwflowclass::InitialiseOtherGrids(GroundwaterLayerGrids &layer, int k) {
  const std::string oldOld = LayerIdentifier("gw_head_old_old_", k);
  struct Slot {
    GroundwaterGridSlot slot;
    std::string identifier;
    GroundwaterFile file;
    bool halo;
  };
  const Slot slots[] = {
      {kHeadPrevStep, oldOld, {}, true},
      {kHeadPrevIter, oldOld, {}, false},
      {kTransmissivityX, LayerIdentifier("gw_transmissivity_x_", k), {}, true},
      {kTransmissivityY, LayerIdentifier("gw_transmissivity_y_", k), {}, true},
      {kFlowX, LayerIdentifier("gw_flow_x_", k), layer.FlowX, true},
      {kFlowY, LayerIdentifier("gw_flow_y_", k), layer.FlowY, true},
      {kBalance, LayerIdentifier("gw_balance", k), layer.Balance, false},
      {kLeakage, LayerIdentifier("gw_leakage_", k), {}, false},
      {kUpperLimit, LayerIdentifier("aquifer_upper_limit", k), {}, true},
  };
  const Grid &h = layer[kHead];
  for (const Slot &s : slots) {
    const long first = s.halo ? HaloFirstRow : FirstRow;
    const long last = s.halo ? HaloLastRow : LastRow;
    RegisterState(layer, s.slot, s.identifier, s.file, first, last);
    Grid &grid = layer[s.slot];
    // Transmissivities stay 0 outside the model cells, where a sweep may read them.
    grid.Fill(s.slot == kTransmissivityX || s.slot == kTransmissivityY ? 0.0 : NoData);
    ForStripCells([&](long r, long c) {
      if (!IsModelCell(r, c))
        return;
      double value = 0.0;
      switch (s.slot) {
      case kHeadPrevStep:
      case kHeadPrevIter:
        value = h[r][c];
        break;
      case kTransmissivityX:
      case kTransmissivityY: {
        const Grid &conductivity =
            s.slot == kTransmissivityX ? *layer.ConductivityX : *layer.ConductivityY;
        value = ConductsAt(layer, r, c)
                    ? ((*layer.Thickness)[r][c] + (*GroundwaterDistance)[r][c]) * conductivity[r][c]
                    : 0.0;
        break;
      }
      case kUpperLimit:
        value = k == 1 ? (*Elevation)[r][c]
                       : Layer(k - 1)[kUpperLimit][r][c] - (*Layer(k - 1).Thickness)[r][c];
        break;
      default:
        break;
      }
      grid[r][c] = value;
    });
    if (s.halo)
      MPIExchangeHalo(layer.Index[s.slot], nullptr);
  }
  layer.Cells = SweepCells(FirstRow, LastRow, NCols);
}

void gwflowclass::CreateControlPointFile() {
  OwnsControlCell = ControlRow >= 1 && ControlColumn >= 1 && ControlRow >= FirstRow &&
                    ControlRow <= LastRow && IsModelCell(ControlRow, ControlColumn);
  // Only the owner creates the file; one that it cannot create ends every
  // process together, rank 0's log holding the owner's entry.
  ThrowIfAnyFailed(*Log, CaptureExitCode([&] {
    if (OwnsControlCell)
      CreateOwnControlPointFile();
  }));
}

void gwflowclass::CreateOwnControlPointFile() {
  ControlCapacity = ControlRecordCapacity(LayerCount());
  ControlDates.assign(4 * ControlCapacity, 0);
  ControlValues.assign(6 * static_cast<std::size_t>(LayerCount()) * ControlCapacity, 0.0);
  std::FILE *file = std::fopen(ControlPointFileName.c_str(), "wt");
  const std::string header = ControlPointHeader(ControlRow, ControlColumn, LayerCount());
  const bool written = file != nullptr && std::fputs(header.c_str(), file) >= 0;
  const bool closed = file != nullptr && std::fclose(file) == 0;
  if (!written || !closed)
    ThrowFatal(*Log, ControlFileCreateExitCode,
               "error opening file for gw-fluxes (single point) \n-> check disk space or user "
               "rights\n");
}

void gwflowclass::SetSubstepCount(int count) { SubstepCount = count; }

void gwflowclass::SetRiverflowTable(riverflow_table *table) {
  if (FlowControl != 0)
    riverflow_ = table;
}

void gwflowclass::SetQg(SubbasinRunoffArrays *qg) {
  if (FlowControl != 0)
    qg_ = qg;
}

void gwflowclass::ReleaseStateGrids() {
  stateEntries_.ReleaseAll();
  Layers.clear();
}

void gwflowclass::ReleaseMemory() {
  if (FlowControl > 0) {
    if (ControlRow > 0) {
      if (Initialized != 0)
        WriteControlPointFluxes();
      ControlDates.clear();
      ControlValues.clear();
      ControlCapacity = 0;
    }
    FinishTracerGrids();
    ReleaseStateGrids();
  }
  riverflow_ = nullptr;
  qg_ = nullptr;
  teilmodellklasse::ReleaseMemory();
}

} // namespace tavro
