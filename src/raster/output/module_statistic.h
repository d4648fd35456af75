// A zonal statistics table that a module owns together with its own copy of
// the module's zone table (counts and sums zero, zone value, relative area and
// cell-weight sum copied), created and headed in one go; and the zone index of
// a cell that the table's AddValue takes.
#pragma once

#include "kernel/modelobject.h"
#include "kernel/zone_record.h"
#include "raster/output/zonal_statistic.h"
#include "raster/parallel/cell_iteration.h"

#include <cstdint>

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

// A valid cell of the process with the zone index its tables add it to.
struct StatisticsCell {
  std::int32_t row = 0;
  std::int32_t column = 0;
  std::int32_t zone = 0;
};

// Every valid cell of the process (spin-up unit members included) in row
// order, with its zone index from the zone grid: listed once, since a module
// adds each step's cells to many tables.
std::vector<StatisticsCell> StatisticsCellsOf(const modelobject &object, const CellIteration &cells,
                                              const Grid &zoneGrid);

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
  // The same over another zone table of the module (such as its subbasins),
  // records 0..zoneCount.
  ModuleStatistic(modelobject &module, StatisticsRegistry *registry, int capacity,
                  const StatisticsFile &file, int decimals, std::string_view title,
                  std::string_view headerModule, const OneBasedArray<ZoneRecord> *zoneTable,
                  int zoneCount);
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
