// A statistics table of a module over the module's zones: it keeps its own
// copy of the module's zone table (sums cleared) and is built with the
// module's cell weights, output directory, output list and statistics
// registry; its header is written when it is made. Modules hold one per table
// and feed it cell by cell every step.
#pragma once

#include "kernel/zone_record.h"
#include "raster/zonal_statistic.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

class modelobject;
class teilmodellklasse;

// The codes of the object's output list (without its count element).
std::span<const int> OutputCodes(const modelobject &object);

class ModuleStatistic {
public:
  // title: "<title>_submodel:<module>" in the file. A table that cannot be
  // built ends the run with the table's error code.
  ModuleStatistic(teilmodellklasse &module, std::string_view title, const std::string &fileName,
                  int code, int decimals);
  ModuleStatistic(ModuleStatistic &&) noexcept = default;
  ModuleStatistic &operator=(ModuleStatistic &&) noexcept = default;

  zonalstatistic &Table() { return *table_; }
  const zonalstatistic &Table() const { return *table_; }
  bool Active() const { return table_->Active(); }

  void ResetStep() { table_->ResetStep(); }
  void AddValue(long row, long column, int zoneIndex, double value, double weight = 1.0) {
    table_->AddValue(row, column, zoneIndex, value, weight);
  }
  // Collective: the sums of every process reach rank 0.
  void EndOfStep(std::int64_t year, std::int64_t month, std::int64_t day, std::int64_t hour) {
    table_->EndOfStep(year, month, day, hour, 1);
  }
  void FlushBuffer() { table_->FlushBuffer(); }
  // Writes the remaining rows; the table is inactive afterwards.
  void Release() { table_->ReleaseMemory(); }

private:
  std::vector<ZoneRecord> zones_; // the table's records 0..N
  std::unique_ptr<zonalstatistic> table_;
};

} // namespace tavro
