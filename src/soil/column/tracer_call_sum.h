// A runoff tracer of one cell over the internal steps of a call: an amount
// tracer's amounts add up; an evaporating tracer's concentrations are
// weighted by the flow that carried them.
#pragma once

namespace tavro {

class TracerCallSum {
public:
  void Clear() { sum_ = flow_ = 0.0; }
  // value: the step's amount, or its concentration carried by flow.
  void Add(bool evaporating, double value, double flow) {
    if (!evaporating) {
      sum_ += value;
      return;
    }
    sum_ += value * flow;
    flow_ += flow;
  }
  // The call's amount, or its flow-weighted concentration (0 without flow).
  double Value(bool evaporating) const {
    if (!evaporating)
      return sum_;
    return flow_ > 0.0 ? sum_ / flow_ : 0.0;
  }

private:
  double sum_ = 0.0;
  double flow_ = 0.0;
};

} // namespace tavro
