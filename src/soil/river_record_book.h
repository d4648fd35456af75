// The river record of a subbasin as a river cell of the soil column sees it:
// its flow and speed, what the cells may still take, and the booking of what
// they took (the step's mean flow, m3/s, which the routing converts once);
// the tracer concentrations of its water are read from the record.
#pragma once

#include "kernel/module_exchange.h"
#include "soil/column/column_boundaries.h"

namespace tavro {

class RiverRecordBook final : public RiverExchangeBook {
public:
  explicit RiverRecordBook(RiverflowRecord &record) : record_(record) {}
  double Flow() const override { return record_.flowm3s; }
  double FlowSpeed() const override { return record_.speed; }
  double Available() const override { return record_.flowm3s - record_.exchange; }
  void Book(double flow) override { record_.exchange += flow; }
  // The record itself, for the tracer concentrations of its water.
  const RiverflowRecord &Record() const { return record_; }

private:
  RiverflowRecord &record_;
};

} // namespace tavro
