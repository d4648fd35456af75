// The registry entries an object has filled, released together: by the
// owner's ReleaseMemory, or by the destructor when a constructor fails half
// way, so that a failed or finished object never leaves an entry behind that
// points at a grid it no longer holds.
#pragma once

#include "kernel/grid_registry.h"

#include <algorithm>
#include <vector>

namespace tavro {

class RegistryEntries {
public:
  RegistryEntries() = default;
  explicit RegistryEntries(GridRegistry *registry) : registry_(registry) {}
  RegistryEntries(const RegistryEntries &) = delete;
  RegistryEntries &operator=(const RegistryEntries &) = delete;
  ~RegistryEntries() { ReleaseAll(); }

  void Link(GridRegistry *registry) { registry_ = registry; }
  // Remembers an entry the owner has just filled.
  void Add(int index) { indexes_.push_back(index); }
  // Leaves a hole at index, when it is one of ours.
  void Release(int index) {
    const auto found = std::find(indexes_.begin(), indexes_.end(), index);
    if (found == indexes_.end())
      return;
    indexes_.erase(found);
    if (registry_ != nullptr)
      registry_->ReleaseGrid(index);
  }
  // The newest entries first.
  void ReleaseAll() {
    while (!indexes_.empty())
      Release(indexes_.back());
  }
  bool Holds(int index) const {
    return std::find(indexes_.begin(), indexes_.end(), index) != indexes_.end();
  }

private:
  GridRegistry *registry_ = nullptr;
  std::vector<int> indexes_;
};

} // namespace tavro
