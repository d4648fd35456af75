// The routing module's flow arrays, which every routing subbasin reads and
// writes: the step's input per flow index, its copy per time sub-interval,
// the storage chains of the channels and the observed discharges. A flow
// index is a subbasin's zone index (1..nsub) or nsub + z for inflow z; index
// 0 of every array holds nothing. Component (tracer index) 0 is the water, in
// mm per step; 1..n are the tracer concentrations.
#pragma once

#include "kernel/one_based_array.h"

#include <cassert>
#include <cstddef>
#include <vector>

namespace tavro {

// [component 0..n][index 0..last] in one block.
class ComponentTable {
public:
  void Resize(int components, int lastIndex) {
    components_ = components;
    width_ = static_cast<std::size_t>(lastIndex) + 1;
    values_.assign(static_cast<std::size_t>(components) * width_, 0.0);
  }
  int Components() const { return components_; }
  int LastIndex() const { return static_cast<int>(width_) - 1; }
  double *operator[](int component) { return values_.data() + Start(component); }
  const double *operator[](int component) const { return values_.data() + Start(component); }

private:
  std::size_t Start(int component) const {
    assert(component >= 0 && component < components_);
    return static_cast<std::size_t>(component) * width_;
  }
  std::vector<double> values_;
  int components_ = 0;
  std::size_t width_ = 0;
};

// [component 0..n][sub-interval 0..K][index 0..last] in one block.
class SubIntervalTable {
public:
  void Resize(int components, int subIntervals, int lastIndex) {
    components_ = components;
    subIntervals_ = subIntervals;
    width_ = static_cast<std::size_t>(lastIndex) + 1;
    values_.assign(static_cast<std::size_t>(components) *
                       (static_cast<std::size_t>(subIntervals) + 1) * width_,
                   0.0);
  }
  int Components() const { return components_; }
  int SubIntervals() const { return subIntervals_; }
  int LastIndex() const { return static_cast<int>(width_) - 1; }
  // The flow indices of one component and sub-interval.
  double *Row(int component, int subInterval) {
    return values_.data() + Start(component, subInterval);
  }
  const double *Row(int component, int subInterval) const {
    return values_.data() + Start(component, subInterval);
  }

private:
  std::size_t Start(int component, int subInterval) const {
    assert(component >= 0 && component < components_ && subInterval >= 0 &&
           subInterval <= subIntervals_);
    return (static_cast<std::size_t>(component) * (static_cast<std::size_t>(subIntervals_) + 1) +
            static_cast<std::size_t>(subInterval)) *
           width_;
  }
  std::vector<double> values_;
  int components_ = 0;
  int subIntervals_ = 0;
  std::size_t width_ = 0;
};

// The storage chain of every component and flow index: the elements 1..E+K of
// the channel that the flow index feeds (element 0 holds nothing). Chains
// are created at set-up by the routing subbasins and never during a step.
class StorageChains {
public:
  void Resize(int components, int lastIndex) {
    components_ = components;
    width_ = static_cast<std::size_t>(lastIndex) + 1;
    chains_.assign(static_cast<std::size_t>(components) * width_, {});
  }
  std::vector<double> &Chain(int component, int index) { return chains_[Slot(component, index)]; }
  const std::vector<double> &Chain(int component, int index) const {
    return chains_[Slot(component, index)];
  }
  int Components() const { return components_; }
  int LastIndex() const { return static_cast<int>(width_) - 1; }

private:
  std::size_t Slot(int component, int index) const {
    assert(component >= 0 && component < components_ && index >= 0 &&
           static_cast<std::size_t>(index) < width_);
    return static_cast<std::size_t>(component) * width_ + static_cast<std::size_t>(index);
  }
  std::vector<std::vector<double>> chains_;
  int components_ = 0;
  std::size_t width_ = 0;
};

// Observed discharges per value column of the observed-discharge file for the
// lags -10..+10 (rows 0..20); row 10 is the current step.
class ObservedDischargeRing {
public:
  static constexpr int Rows = 21;
  static constexpr int CurrentRow = 10;

  void Resize(int columns) {
    columns_ = columns < 0 ? 0 : columns;
    values_.assign(static_cast<std::size_t>(Rows) * (static_cast<std::size_t>(columns_) + 1), 0.0);
  }
  int Columns() const { return columns_; }
  double *Row(int row) { return values_.data() + Start(row); }
  const double *Row(int row) const { return values_.data() + Start(row); }
  // The current step's value of a column 1..Columns(); -9999 outside.
  double Current(int column) const {
    if (column < 1 || column > columns_)
      return -9999.0;
    return Row(CurrentRow)[column];
  }

private:
  std::size_t Start(int row) const {
    assert(row >= 0 && row < Rows);
    return static_cast<std::size_t>(row) * (static_cast<std::size_t>(columns_) + 1);
  }
  std::vector<double> values_;
  int columns_ = 0;
};

// Everything a routing subbasin routes with. Sized by the routing module.
struct RoutingFlowArrays {
  int SubbasinCount = 0; // nsub
  int InflowCount = 0;   // ZL total of all descriptions
  int SubIntervals = 0;  // K
  // [k][flow index 1 .. nsub + ZL total + AL total + 2]
  ComponentTable RoutingInput;
  // [k][s 1..K][flow index 1 .. nsub + ZL total]
  SubIntervalTable SubIntervalInput;
  // [k][flow index 1 .. nsub + ZL total]
  StorageChains InflowSeries;
  // The observations (none without an observed-discharge file) and the
  // observed column of every subbasin 1..nsub (0 = none).
  const ObservedDischargeRing *Observed = nullptr;
  const OneBasedArray<int> *ObservedColumn = nullptr;

  // Sizes every array for components 0..tracerCount (zero-filled).
  void Resize(int tracerCount, int subbasinCount, int inflowCount, int abstractionCount,
              int subIntervals) {
    SubbasinCount = subbasinCount;
    InflowCount = inflowCount;
    SubIntervals = subIntervals;
    const int components = tracerCount + 1;
    RoutingInput.Resize(components, subbasinCount + inflowCount + abstractionCount + 2);
    SubIntervalInput.Resize(components, subIntervals, subbasinCount + inflowCount);
    InflowSeries.Resize(components, subbasinCount + inflowCount);
  }
  // The flow index of inflow number z.
  int InflowIndex(int z) const { return SubbasinCount + z; }
};

} // namespace tavro
