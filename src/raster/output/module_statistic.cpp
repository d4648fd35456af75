// Module statistics tables over their own zone records.
#include "raster/output/module_statistic.h"

#include <algorithm>
#include <cmath>

namespace tavro {

std::vector<ZoneRecord> CopyZoneTable(const OneBasedArray<ZoneRecord> *table, int count) {
  std::vector<ZoneRecord> zones(static_cast<std::size_t>(std::max(count, 0)) + 1);
  if (table == nullptr)
    return zones;
  const std::size_t last = std::min(zones.size() - 1, table->Count());
  for (std::size_t k = 0; k <= last; ++k) {
    const ZoneRecord &source = (*table)[k];
    zones[k].zonenwert = source.zonenwert;
    zones[k].rel = source.rel;
    zones[k].RelCellSum = source.RelCellSum;
  }
  return zones;
}

std::span<const int> OutputCodes(const modelobject &object) {
  if (object.OutputList == nullptr || object.OutputListCount < 1)
    return {};
  const std::size_t count =
      std::min(static_cast<std::size_t>(object.OutputListCount), object.OutputList->Count());
  return {object.OutputList->Data() + 1, count};
}

int ZoneIndexOf(const modelobject &object, double zoneValue) {
  const long code = std::lround(zoneValue);
  if (object.ZoneIndex == nullptr || code < 0 || code > object.MaxZoneCode ||
      static_cast<std::size_t>(code) > object.ZoneIndex->Count())
    return 0;
  return (*object.ZoneIndex)[static_cast<std::size_t>(code)];
}

std::vector<StatisticsCell> StatisticsCellsOf(const modelobject &object, const CellIteration &cells,
                                              const Grid &zoneGrid) {
  std::vector<StatisticsCell> list;
  cells.ForEachOwnCell([&](long row, long column) {
    list.push_back({static_cast<std::int32_t>(row), static_cast<std::int32_t>(column),
                    ZoneIndexOf(object, zoneGrid[row][column])});
  });
  return list;
}

ModuleStatistic::ModuleStatistic(modelobject &module, StatisticsRegistry *registry, int capacity,
                                 const StatisticsFile &file, int decimals, std::string_view title,
                                 std::string_view headerModule)
    : ModuleStatistic(module, registry, capacity, file, decimals, title, headerModule,
                      module.ZoneTable, module.ZoneCount) {}

ModuleStatistic::ModuleStatistic(modelobject &module, StatisticsRegistry *registry, int capacity,
                                 const StatisticsFile &file, int decimals, std::string_view title,
                                 std::string_view headerModule,
                                 const OneBasedArray<ZoneRecord> *zoneTable, int zoneCount)
    : zones_(CopyZoneTable(zoneTable, zoneCount)) {
  int error = 0;
  table_ = std::make_unique<zonalstatistic>(
      error, *module.Log, registry, capacity, module.CellWeights, module.NRows, module.NCols,
      std::span<ZoneRecord>(zones_), file.code, decimals, file.name, module.DefaultOutputDirectory,
      OutputCodes(module), module.NoData);
  if (error != 0)
    throw error;
  table_->WriteHeader(title, headerModule, registry, capacity);
}

} // namespace tavro
