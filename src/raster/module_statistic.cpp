// Statistics tables of the modules over their zones.
#include "raster/module_statistic.h"

#include "kernel/teilmodellklasse.h"

#include <algorithm>

namespace tavro {

std::span<const int> OutputCodes(const modelobject &object) {
  if (object.OutputList == nullptr || object.OutputListCount < 1)
    return {};
  const std::size_t count =
      std::min(static_cast<std::size_t>(object.OutputListCount), object.OutputList->Count());
  return {object.OutputList->Data() + 1, count};
}

ModuleStatistic::ModuleStatistic(teilmodellklasse &module, std::string_view title,
                                 const std::string &fileName, int code, int decimals) {
  if (module.ZoneTable != nullptr)
    for (int k = 0; k <= module.ZoneCount; ++k) {
      const ZoneRecord &source = (*module.ZoneTable)[static_cast<std::size_t>(k)];
      ZoneRecord copy;
      copy.zonenwert = source.zonenwert;
      copy.rel = source.rel;
      zones_.push_back(copy);
    }
  int error = 0;
  table_ = std::make_unique<zonalstatistic>(
      error, *module.Log, module.Statistics, module.StatisticsCapacity, module.CellWeights,
      module.NRows, module.NCols, std::span<ZoneRecord>(zones_), code, decimals, fileName,
      module.DefaultOutputDirectory, OutputCodes(module), module.NoData);
  if (error != 0)
    throw error;
  table_->WriteHeader(title, module.ModuleName, module.Statistics, module.StatisticsCapacity);
}

} // namespace tavro
