// Lakes in the routing: the switches of "[lake_model]", the grid
// "PrecOnLakes", and the exchange of the lake cells around every routing
// step. The lake cells belong to the strips of all processes while the lake
// balance runs with the routing on rank 0: before the routing the values it
// needs are gathered into whole-raster copies that the routing owns on rank 0
// ("PrecOnLakes" is the copy of the water input), after it the ponding goes
// back from its copy to the owners (rank 0's own cells included). One mask of
// the valid lake cells serves the count and both exchanges.
#include "routing/routing_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "raster/handover/lake_cells.h"
#include "raster/parallel/mpi_decomposition.h"
#include "raster/parallel/strip_exchange.h"

#include <cstdio>

namespace tavro {
namespace {

constexpr const char *kLakeCodes = "lake_codes";
constexpr const char *kPonding = "ponding_storage";
constexpr const char *kPrecOnLakes = "PrecOnLakes";

GridRegistry &RegistryOf(const modelobject &object) {
  if (object.Registry == nullptr)
    ThrowFatal(*object.Log, GridRegistry::RegistryExitCode,
               Concat(object.ModuleName, ": no grid registry is linked"));
  return *object.Registry;
}

} // namespace

void abflussmodellklasse::ReadLakeParameters(const std::string &section) {
  if (FindGrid(kLakeCodes, true) == 0) {
    Log->Entry(Concat("INFO: no LAKE-grid was found in ", ModuleName,
                      "\nLake modelling is switched off for ", ModuleName, ".\n",
                      DiagnosticsLog::EndToken));
    return;
  }
  FindControlKey(section, true);
  ReadControlValue(LakeSwitch, "flow control parameter for ");
  if (SpinUpSwitch != 0) {
    LakeSwitch = 0;
    LakeGridSwitch = 0;
  } else if (LakeSwitch != 0) {
    std::FILE *file = ControlFile().Handle();
    for (int line = 0; line < 3; ++line) {
      int c = 0;
      while ((c = std::getc(file)) != EOF && c != '\n') {
      }
    }
    ReadControlValue(LakeGridSwitch, "readgrids for ");
  } else {
    LakeGridSwitch = 0;
  }
}

void abflussmodellklasse::ReadLakeParametersAgain() {
  // The construction closed the control file; the section is read from a
  // fresh opening, which is closed again whatever the reading ends with.
  if (!OpenControlFile())
    ThrowFatal(*Log, OpenErrorExitCode, "error opening " + ControlFileName);
  try {
    ReadLakeParameters("[lake_model]");
  } catch (...) {
    CloseControlFile();
    throw;
  }
  if (!CloseControlFile())
    ThrowFatal(*Log, CloseErrorExitCode, "error closing " + ControlFileName);
}

void abflussmodellklasse::CreatePrecOnLakes() {
  const int index = RegistryOf(*this).FirstFreeIndex();
  if (index < 1 || index > 999)
    ThrowFatal(*Log, GridRegistry::RegistryExitCode, "no more free grids in memory, (max. 1000)!");
  precOnLakes_ = Grid(1, NRows, NCols, NRows, *Log);
  AddGrid(index, kPrecOnLakes, &precOnLakes_, nullptr, 0, kPrecOnLakes, 0, 1, NRows);
  precOnLakesIndex_ = index;
}

void abflussmodellklasse::ReleasePrecOnLakes() {
  if (precOnLakesIndex_ != 0 && Registry != nullptr)
    RegistryOf(*this).ReleaseGrid(precOnLakesIndex_);
  precOnLakesIndex_ = 0;
  precOnLakes_ = Grid();
}

bool abflussmodellklasse::LakeExchangeOn() const {
  return ExchangesOn() && LakeSwitch != 0 && lakeMaskIndex_ != 0;
}

void abflussmodellklasse::InitLakeModel(bool interceptionFirst) {
  LakeModelInitialized = true;
  if (!ExchangesOn())
    return;
  if (MPIRank != 0)
    ReadLakeParametersAgain();
  if (LakeSwitch == 0)
    return;
  lakeCellsPerRank_.assign(static_cast<std::size_t>(MPIProcessCount), 0);
  lakeMaskIndex_ = FindGrid(kLakeCodes, true);
  if (lakeMaskIndex_ == 0)
    return;
  FindLakeGrids(interceptionFirst);
  CountLakeCells();
  for (int i = 0; i < MPIProcessCount; ++i)
    Log->Entry(Concat("DEBUG: lakeCellsPerMPIRank[", i, "] ",
                      lakeCellsPerRank_[static_cast<std::size_t>(i)], DiagnosticsLog::EndToken));
  // The ponding of the lake cells as rank 0 holds it after the set-up goes
  // to the owners (the lakes place their first water in the copy).
  const MpiDecomposition &d = *Halo.Decomposition;
  GatherMaskedCells(d, *RegistryOf(*this)[pondingIndex_].Data, lakeMask_, lakeCellsPerRank_,
                    LakeCopy(pondingIndex_), *Log);
  // The lakes start on their cells: from the ponding gathered, or with their
  // initial volume spread over them.
  if (MPIRank == 0 && FlowControl != 0)
    for (int n = 1; n <= RoutingSubbasinCount(); ++n) {
      RoutingSubbasin(n).SetLakeGrids(&lakeGrids_);
      RoutingSubbasin(n).StartLakes();
    }
  ScatterPonding();
}

void abflussmodellklasse::FindLakeGrids(bool interceptionFirst) {
  pondingIndex_ = GetGridIndex(kPonding);
  // What the ponds of the cells themselves lost and exchanged in the step:
  // the cell's whole evapotranspiration or the flux below its column would
  // book water the lake never held.
  const int evaporation = GetGridIndex("pond_evaporation");
  const int exchange = GetGridIndex("pond_exchange");
  const int overflow = GetGridIndex("pond_overflow");
  lakeGatherIndices_ = {pondingIndex_, evaporation, exchange, overflow};
  waterInputIndex_ = interceptionFirst
                         ? GetGridIndexOf3("snowcover_outflow", "throughfall0", "precipitation")
                         : GetGridIndexOf3("throughfall0", "snowcover_outflow", "precipitation");
  lakeGatherIndices_.push_back(waterInputIndex_);
  std::vector<int> tracers;
  for (int t = 1; t <= TracerCount; ++t)
    tracers.push_back(GetGridIndex(Concat("concstor_tracer_", t, "_unsatzon_model")));
  lakeGatherIndices_.insert(lakeGatherIndices_.end(), tracers.begin(), tracers.end());
  // Rank 0's whole-raster copies, one per gathered grid; the water input's is
  // "PrecOnLakes".
  lakeCopies_.clear();
  for (const int index : lakeGatherIndices_) {
    if (index == waterInputIndex_ && MPIRank == 0) {
      lakeCopies_.emplace_back();
      continue;
    }
    lakeCopies_.push_back(MPIRank == 0 ? Grid(1, NRows, NCols, NRows, *Log) : Grid());
  }
  // What the lakes of the routing subbasins read and write on rank 0.
  lakeGrids_ = LakeGrids{};
  if (MPIRank != 0)
    return;
  lakeGrids_.ponding = LakeCopy(pondingIndex_);
  lakeGrids_.evaporation = LakeCopy(evaporation);
  lakeGrids_.exchange = LakeCopy(exchange);
  lakeGrids_.overflow = LakeCopy(overflow);
  lakeGrids_.precipitation = LakeCopy(waterInputIndex_);
  for (const int index : tracers)
    lakeGrids_.tracers.push_back(LakeCopy(index));
}

void abflussmodellklasse::CountLakeCells() {
  const MpiDecomposition &d = *Halo.Decomposition;
  GridRegistry &registry = RegistryOf(*this);
  lakeMask_ = LakeCellMask(d, *registry[1].Data, *registry[lakeMaskIndex_].Data, *Log);
  lakeCellsPerRank_ = CountMaskCellsPerRank(d, lakeMask_);
}

Grid *abflussmodellklasse::LakeCopy(int registryIndex) {
  if (MPIRank != 0)
    return nullptr;
  for (std::size_t g = 0; g < lakeGatherIndices_.size(); ++g)
    if (lakeGatherIndices_[g] == registryIndex)
      return registryIndex == waterInputIndex_ ? &precOnLakes_ : &lakeCopies_[g];
  return nullptr;
}

void abflussmodellklasse::GatherLakeCells() {
  if (!LakeExchangeOn())
    return;
  const MpiDecomposition &d = *Halo.Decomposition;
  GridRegistry &registry = RegistryOf(*this);
  for (const int index : lakeGatherIndices_) {
    Grid *values = registry[index].Data;
    if (values == nullptr)
      ThrowFatal(*Log, GridRegistry::NotFoundExitCode,
                 Concat("lake exchange of ", ModuleName, ": the grid ", registry[index].Identifier,
                        " holds no data"));
    GatherMaskedCells(d, *values, lakeMask_, lakeCellsPerRank_, LakeCopy(index), *Log);
  }
}

void abflussmodellklasse::ScatterPonding() {
  if (!LakeExchangeOn())
    return;
  const MpiDecomposition &d = *Halo.Decomposition;
  Grid &ponding = *RegistryOf(*this)[pondingIndex_].Data;
  Grid *copy = LakeCopy(pondingIndex_);
  ScatterMaskedCells(d, copy != nullptr ? *copy : ponding, lakeMask_, lakeCellsPerRank_, *Log);
  if (copy == nullptr)
    return;
  // Rank 0's own lake cells take the copy's values as well.
  for (long r = d.strip.first; r <= d.strip.last; ++r) {
    if (!lakeMask_.HasRow(r) || !ponding.HasRow(r) || !d.regions.HasRow(r))
      continue;
    for (long c = 1; c <= NCols; ++c)
      if (lakeMask_[r][c] > d.shape.nodata && static_cast<int>(d.regions[r][c]) == 0)
        ponding[r][c] = (*copy)[r][c];
  }
}

} // namespace tavro
