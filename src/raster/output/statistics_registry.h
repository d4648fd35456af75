// The run's registry of statistics tables: every zonal statistics table enters
// its title, its column codes and areas and its latest row here (on rank 0),
// so that external coupling can find statistics by name. Entries are never
// removed during a run; an entry is free while it has no columns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

// The column arrays of a table, indexed from 1 like the row's values (slot 0
// unused). Shared by the table and its registry entry, so the entry shows the
// latest values as long as anyone holds it and never dangles.
struct StatisticsColumns {
  explicit StatisticsColumns(std::size_t slots)
      : values(slots, 0.0), accumulator(slots, 0.0), areas(slots, 0.0), codes(slots, 0) {}
  std::vector<double> values;       // latest row's values
  std::vector<double> accumulator;  // left to external coupling, cleared at registration
  std::vector<double> areas;        // zone rel per column, 1.0 for the areal mean
  std::vector<std::uint64_t> codes; // zone code per column, 0 for the areal mean
};

struct StatisticsRegistryEntry {
  // Date at registration (0); kept as it was then.
  std::int64_t year = 0;
  std::int64_t month = 0;
  std::int64_t day = 0;
  std::int64_t hour = 0;
  std::int64_t valueCount = 0; // value columns of a row (the areal mean counted)
  std::shared_ptr<StatisticsColumns> columns;
  std::string title; // "<description>_submodel:<module>", at most MaxTitleLength
  // Whether the last column is the areal mean of all zones (zonal statistics)
  // or every column is a zone of its own (discharge tables and their observed
  // runoff), so that external coupling can write every zone column.
  bool hasArealMean = true;

  bool Free() const { return columns == nullptr; }
};

class StatisticsRegistry {
public:
  static constexpr int DefaultCapacity = 200;
  static constexpr std::size_t MaxTitleLength = 1200;

  // Room for capacity + 1 entries; tables are handed the capacity and use
  // entries 0..capacity-1.
  explicit StatisticsRegistry(int capacity = DefaultCapacity);

  int Capacity() const { return capacity_; }

  // First free entry among 0..capacity-1 (capacity limited to the room), or -1.
  int FirstFree(int capacity) const;

  StatisticsRegistryEntry &operator[](int index);
  const StatisticsRegistryEntry &operator[](int index) const;

  // Index of the first entry with this title, or -1.
  int Find(std::string_view title) const;

  // Number of entries in use.
  int Used() const;

private:
  int capacity_;
  std::vector<StatisticsRegistryEntry> entries_;
};

} // namespace tavro
