// The zone records a statistics table of the meteorological objects sums
// into: a private copy of the module's zone table (records 0..zoneCount)
// with the counters cleared and the zone code, area and weight sum kept.
#pragma once

#include "kernel/one_based_array.h"
#include "kernel/zone_record.h"

#include <vector>

namespace tavro {

inline std::vector<ZoneRecord> StatisticsZoneCopy(const OneBasedArray<ZoneRecord> *zoneTable,
                                                  int zoneCount) {
  std::vector<ZoneRecord> copy;
  if (zoneTable == nullptr)
    return copy;
  for (int k = 0; k <= zoneCount; ++k) {
    const ZoneRecord &source = (*zoneTable)[static_cast<std::size_t>(k)];
    ZoneRecord record;
    record.zonenwert = source.zonenwert;
    record.rel = source.rel;
    record.RelCellSum = source.RelCellSum;
    copy.push_back(record);
  }
  return copy;
}

} // namespace tavro
