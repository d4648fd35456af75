// A zonal statistics table that a module owns together with its own copy of
// the module's zone table (counts and sums zero, zone value, relative area and
// cell-weight sum copied), created and headed in one go; and the zone index of
// a cell that the table's AddValue takes.
#pragma once

#include "kernel/modelobject.h"
#include "kernel/zone_record.h"
#include "raster/zonal_statistic.h"

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

class StatisticsRegistry;

// The zone records 0..count of a zone table with the step sums cleared.
std::vector<ZoneRecord> CopyZoneTable(const OneBasedArray<ZoneRecord> *table, int count);

// The output-list codes of an object (the list without its count element).
std::span<const int> OutputCodes(const modelobject &object);

// The zone index (0..ZoneCount) of a zone-grid value; 0 for a code outside the
// object's code table.
int ZoneIndexOf(const modelobject &object, double zoneValue);

// File name and statcode of a statistics table, as a control file gives them.
struct StatisticsFile {
  std::string name;
  int code = 0;
};

class ModuleStatistic {
public:
  // Builds the table over the module's zones and raster with "RelCellArea"
  // (the object's CellWeights), the output directory and output list, and
  // writes its header "<title>_submodel:<headerModule>". A failure of the
  // table throws its code.
  ModuleStatistic(modelobject &module, StatisticsRegistry *registry, int capacity,
                  const StatisticsFile &file, int decimals, std::string_view title,
                  std::string_view headerModule);
  ModuleStatistic(const ModuleStatistic &) = delete;
  ModuleStatistic &operator=(const ModuleStatistic &) = delete;

  zonalstatistic &operator*() { return *table_; }
  zonalstatistic *operator->() { return table_.get(); }
  const zonalstatistic *operator->() const { return table_.get(); }

private:
  std::vector<ZoneRecord> zones_; // the records the table works on
  std::unique_ptr<zonalstatistic> table_;
};

} // namespace tavro
