// Registry of statistics tables: lookup of free entries and titles.
#include "raster/output/statistics_registry.h"

#include <algorithm>

namespace tavro {

StatisticsRegistry::StatisticsRegistry(int capacity)
    : capacity_(std::max(capacity, 0)), entries_(static_cast<std::size_t>(capacity_) + 1) {}

int StatisticsRegistry::FirstFree(int capacity) const {
  const int limit = std::min(capacity, static_cast<int>(entries_.size()));
  for (int i = 0; i < limit; ++i)
    if (entries_[static_cast<std::size_t>(i)].Free())
      return i;
  return -1;
}

StatisticsRegistryEntry &StatisticsRegistry::operator[](int index) {
  return entries_.at(static_cast<std::size_t>(index));
}

const StatisticsRegistryEntry &StatisticsRegistry::operator[](int index) const {
  return entries_.at(static_cast<std::size_t>(index));
}

int StatisticsRegistry::Find(std::string_view title) const {
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (!entries_[i].Free() && entries_[i].title == title)
      return static_cast<int>(i);
  return -1;
}

int StatisticsRegistry::Used() const {
  return static_cast<int>(
      std::count_if(entries_.begin(), entries_.end(),
                    [](const StatisticsRegistryEntry &e) { return !e.Free(); }));
}

} // namespace tavro
