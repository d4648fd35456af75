// The land-use layer grids of a multilayer land use: one grid per layer,
// "landuse1".."landuseL", holding in every own valid cell the land-use record
// number of that layer of the cell's multilayer type. They are set-up grids
// that modules look up by identifier; they are never written.
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "raster/parallel/strip_exchange.h"
#include "setup/defaultini.h"

namespace tavro {
namespace {

// The layer code of multilayer type `record` (a record number after the code
// check); nodata for a missing layer, whose code is no record number (such as
// -9999). A record number may lie below the nodata value (nodata 1000).
double LayerCodeOf(const MultilayerLanduseTable &table, double record, int layer, double noData) {
  if (!(record >= 1.0) || record > static_cast<double>(table.Count()))
    return noData;
  const multilayer_landuse_class &type = table[static_cast<std::size_t>(record)];
  if (layer > type.LayerCount || static_cast<std::size_t>(layer) > type.LayerCodes.Count())
    return noData;
  const double code = type.LayerCodes[static_cast<std::size_t>(layer)];
  return code >= 1.0 ? code : noData;
}

} // namespace

void defaultini::MakeLanduseLayerGrids() {
  landuseLayerGrids_.clear();
  const int landuse = FindGrid("landuse", false);
  if (landuse == 0 || !multilayerTable_)
    return;
  // Every type has the layer count of the first.
  const int layers = multilayerTable_->Count() >= 1 ? (*multilayerTable_)[1].LayerCount : 0;
  landuseLayerGrids_.push_back(landuse);
  const StripRows held = HeldRows();
  for (int k = 1; k <= layers; ++k) {
    const int index = FreeRegistryIndex();
    const std::string name = Concat("landuse", k);
    Grid &grid = NewGrid(held.first, held.last);
    AddGrid(index, name, &grid, nullptr, 1, name, 0, held.first, held.last);
    setupGrids_.push_back(index);
    landuseLayerGrids_.push_back(index);
  }
  landuseLayerCount_ = layers;
  FillLanduseLayerGrids();
}

void defaultini::FillLanduseLayerGrids() {
  if (landuseLayerGrids_.size() < 2 || !multilayerTable_)
    return;
  const Grid &landuse = *(*Registry)[landuseLayerGrids_[0]].Data;
  const Grid &zone = *(*Registry)[1].Data;
  const MultilayerLanduseTable &table = *multilayerTable_;
  for (std::size_t k = 1; k < landuseLayerGrids_.size(); ++k) {
    Grid &layer = *(*Registry)[landuseLayerGrids_[k]].Data;
    const long first = layer.FirstRow();
    const long last = layer.LastRow();
#pragma omp parallel for schedule(runtime)
    for (long r = first; r <= last; ++r) {
      if (!layer.HasRow(r))
        continue;
      double *row = layer[r];
      const bool held = zone.HasRow(r) && landuse.HasRow(r);
      for (long c = 1; c <= NCols; ++c) {
        const bool own = held && zone[r][c] > NoData && OwnsCell(r, c);
        row[c] = own ? LayerCodeOf(table, landuse[r][c], static_cast<int>(k), NoData) : NoData;
      }
    }
    ExchangeHalo(decomposition_, layer, *Log);
  }
}

} // namespace tavro
