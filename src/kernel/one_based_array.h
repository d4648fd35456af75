// A contiguous array indexed 0..count whose element 0 is a header or unused,
// for the model's 1-based tables (subbasins, zones, layers, table records).
#pragma once

#include <cassert>
#include <cstddef>
#include <vector>

namespace tavro {

template <class T> class OneBasedArray {
public:
  OneBasedArray() = default;
  // count usable elements 1..count, plus element 0; all value-initialised
  // (also for element types that cannot be copied).
  explicit OneBasedArray(std::size_t count) : data_(count + 1) {}
  OneBasedArray(std::size_t count, const T &value) : data_(count + 1, value) {}

  std::size_t Count() const { return data_.empty() ? 0 : data_.size() - 1; }
  bool Empty() const { return Count() == 0; }
  void Resize(std::size_t count) { data_.resize(count + 1); }
  void Resize(std::size_t count, const T &value) { data_.resize(count + 1, value); }
  void Clear() { data_.clear(); }

  T &operator[](std::size_t i) {
    assert(i < data_.size());
    return data_[i];
  }
  const T &operator[](std::size_t i) const {
    assert(i < data_.size());
    return data_[i];
  }

  T *Data() { return data_.data(); }
  const T *Data() const { return data_.data(); }
  // Iteration covers elements 1..count.
  auto begin() { return data_.empty() ? data_.end() : data_.begin() + 1; }
  auto end() { return data_.end(); }
  auto begin() const { return data_.empty() ? data_.end() : data_.begin() + 1; }
  auto end() const { return data_.end(); }

private:
  std::vector<T> data_;
};

} // namespace tavro
