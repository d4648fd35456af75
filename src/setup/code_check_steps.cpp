// The set-up object's checks of the land-use, irrigation and soil code grids:
// rank 0 checks and renumbers the whole grid and logs, the multilayer layer
// codes go out in one broadcast, and every process takes its strip of the
// renumbered grid. A re-read code grid is checked and renumbered the same way.
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "raster/parallel/collective_failure.h"
#include "raster/parallel/strip_exchange.h"
#include "setup/defaultini.h"

#include <mpi.h>

#include <algorithm>

namespace tavro {
namespace {

template <class Table, class CodeOfRecord>
std::vector<int> CodesOfRecords(const Table &table, CodeOfRecord code) {
  std::vector<int> codes;
  codes.reserve(table.Count());
  for (const auto &record : table)
    codes.push_back(code(record));
  return codes;
}

} // namespace

std::vector<int> defaultini::TableCodesOf(CodeGridKind kind) const {
  switch (kind) {
  case CodeGridKind::Soil:
    return CodesOfRecords(soilTable_, [](const soil_class &s) { return s.Code; });
  case CodeGridKind::Irrigation:
    if (!irrigation_.Table)
      return {};
    return CodesOfRecords(*irrigation_.Table, [](const IrrigationTableEntry &e) { return e.Code; });
  case CodeGridKind::Landuse:
    return CodesOfRecords(landuseTable_, [](const landuse_class &l) { return l.GetCode(); });
  case CodeGridKind::MultilayerLanduse:
    if (!multilayerTable_)
      return {};
    return CodesOfRecords(*multilayerTable_,
                          [](const multilayer_landuse_class &m) { return m.Code; });
  }
  return {};
}

void defaultini::CheckLanduseCodes(int registryIndex) {
  CheckCodeGrid(registryIndex,
                multilayerTable_ ? CodeGridKind::MultilayerLanduse : CodeGridKind::Landuse);
}

void defaultini::check_irrig_Codes(int registryIndex) {
  CheckCodeGrid(registryIndex, CodeGridKind::Irrigation);
}

void defaultini::check_SOIL_Codes(int registryIndex) {
  CheckCodeGrid(registryIndex, CodeGridKind::Soil);
}

int defaultini::CheckWholeCodeGrid(GridEntry &entry, CodeGridKind kind) {
  return CaptureExitCode([&] {
    CodeCheckResult result =
        CheckAndRenumberCodes(std::move(*entry.Data), *(*Registry)[1].Data, {NCols, NRows, NoData},
                              TableCodesOf(kind), {kind, entry.FileName, entry.Identifier});
    *entry.Data = std::move(result.Renumbered);
    for (const std::string &line : result.LogLines)
      Log->Entry(Concat(line, DiagnosticsLog::EndToken));
    if (result.Failure.ExitCode != 0)
      ThrowFatal(*Log, result.Failure.ExitCode, result.Failure.Message);
  });
}

void defaultini::CheckCodeGrid(int registryIndex, CodeGridKind kind) {
  if (registryIndex == 0)
    return;
  GridEntry &entry = (*Registry)[registryIndex];
  if (entry.Data == nullptr)
    return;
  int failure = 0;
  if (MPIRank == 0) {
    failure = CheckWholeCodeGrid(entry, kind);
    if (failure == 0 && kind == CodeGridKind::MultilayerLanduse)
      failure = CaptureExitCode([&] {
        const LayerCodeResult layers = CheckAndRenumberLayerCodes(
            *multilayerTable_, TableCodesOf(CodeGridKind::Landuse), NoData);
        for (const std::string &line : layers.LogLines)
          Log->Entry(Concat(line, DiagnosticsLog::EndToken));
        if (layers.Failure.ExitCode != 0)
          ThrowFatal(*Log, layers.Failure.ExitCode, layers.Failure.Message);
      });
  }
  ThrowIfAnyFailed(*Log, failure);
  if (kind == CodeGridKind::MultilayerLanduse)
    BroadcastLayerCodes();
  ScatterGrid(decomposition_, *entry.Data, *Log);
  ExchangeHalo(decomposition_, *entry.Data, *Log);
  // Values that a periodic grid returns to later are record numbers too.
  if (entry.Periodic.InitialValues)
    CodeRenumbering(TableCodesOf(kind)).Apply(*entry.Periodic.InitialValues, NCols);
  checkedCodeGrids_.push_back({registryIndex, kind});
}

void defaultini::BroadcastLayerCodes() {
  // Every process read the same table, so the sizes agree; rank 0's codes
  // are the renumbered ones.
  MultilayerLanduseTable &table = *multilayerTable_;
  std::vector<int> codes;
  for (const multilayer_landuse_class &type : table)
    codes.insert(codes.end(), type.LayerCodes.Data(),
                 type.LayerCodes.Data() + type.LayerCodes.Count() + 1);
  MPI_Bcast(codes.data(), static_cast<int>(codes.size()), MPI_INT, 0, MPI_COMM_WORLD);
  std::size_t at = 0;
  for (multilayer_landuse_class &type : table) {
    std::copy_n(codes.begin() + static_cast<std::ptrdiff_t>(at), type.LayerCodes.Count() + 1,
                type.LayerCodes.Data());
    at += type.LayerCodes.Count() + 1;
  }
}

const defaultini::CheckedCodeGrid *defaultini::CheckedCodeGridAt(int registryIndex) const {
  const auto checked = std::find_if(
      checkedCodeGrids_.begin(), checkedCodeGrids_.end(),
      [registryIndex](const CheckedCodeGrid &c) { return c.registryIndex == registryIndex; });
  return checked == checkedCodeGrids_.end() ? nullptr : &*checked;
}

void defaultini::FollowRestoredCodeGrid(int registryIndex) {
  const CheckedCodeGrid *checked = CheckedCodeGridAt(registryIndex);
  if (checked != nullptr && checked->kind == CodeGridKind::MultilayerLanduse)
    FillLanduseLayerGrids();
}

void defaultini::RenumberRereadCodeGrid(int registryIndex) {
  const CheckedCodeGrid *checked = CheckedCodeGridAt(registryIndex);
  if (checked == nullptr)
    return;
  GridEntry &entry = (*Registry)[registryIndex];
  // Rank 0 holds every row of a re-read grid, so it finds every missing code;
  // the other processes renumber their rows by the same map.
  int failure = 0;
  if (MPIRank == 0)
    failure = CheckWholeCodeGrid(entry, checked->kind);
  else
    CodeRenumbering(TableCodesOf(checked->kind)).Apply(*entry.Data, NCols);
  ThrowIfAnyFailed(*Log, failure);
  if (checked->kind == CodeGridKind::MultilayerLanduse)
    FillLanduseLayerGrids();
}

} // namespace tavro
