// The river exchange table as one routing subbasin keeps it: which records
// its channels own, the refresh after every step, and the water that the
// soil's river cells took from a tributary, converted to mm per step and
// taken from the tributary's sub-interval inflows before the channel routes.
#include "routing/routing_subbasin.h"

namespace tavro {

template <typename Visit> void routingclass::ForEachRiverRecord(Visit &&visit) {
  if (riverflow_ == nullptr)
    return;
  const int routed = counts_.OL + counts_.SUMTRIB;
  for (int i = 1; i <= routed; ++i)
    for (const int flowIndex : ChannelMembers(i))
      VisitRecord(i, flowIndex, visit);
}

template <typename Visit> void routingclass::VisitRecord(int channel, int flowIndex, Visit &visit) {
  if (flowIndex < 1 || static_cast<std::size_t>(flowIndex) > riverflow_->Records.Count())
    return;
  visit(channel, flowIndex, riverflow_->Records[static_cast<std::size_t>(flowIndex)]);
}

std::vector<int> routingclass::ChannelMembers(int channel) const {
  // The "&" members first, then the channel's own tributary.
  std::vector<int> members;
  for (const int code : channels_[static_cast<std::size_t>(channel)].sumtribList)
    members.push_back(codes_.IndexOf(code));
  members.push_back(ChannelFlowIndex(channel));
  return members;
}

void routingclass::SetRiverflowTable(riverflow_table *table, int number) {
  riverflow_ = table;
  ForEachRiverRecord([&](int i, int, RiverflowRecord &record) {
    record.routingNumber = number;
    record.channelIndex = i;
    record.area = channels_[static_cast<std::size_t>(i)].parameters.channelArea;
  });
  UpdateRiverflowTable();
}

void routingclass::UpdateRiverflowTable() {
  const ComponentTable &input = flows_->RoutingInput;
  ForEachRiverRecord([&](int i, int t, RiverflowRecord &record) {
    const RoutingChannel &c = channels_[static_cast<std::size_t>(i)];
    const int row = GetTableIndex(input[0][t], i);
    for (int k = 0; k <= tracerCount_ && k < static_cast<int>(record.flow_mm.size()); ++k)
      record.flow_mm[static_cast<std::size_t>(k)] = input[k][t];
    record.exchange = 0.0;
    record.flowm3s = ToCubicMetresPerSecond(input[0][t], c.parameters.channelArea, dt_);
    record.speed = c.wqtab.rows[static_cast<std::size_t>(row)].vMean;
  });
}

void routingclass::ExchangeWithRiver(int channel) {
  if (riverflow_ == nullptr)
    return;
  SubIntervalTable &sub = flows_->SubIntervalInput;
  auto withdraw = [&](int flowIndex) {
    if (flowIndex < 1 || static_cast<std::size_t>(flowIndex) > riverflow_->Records.Count())
      return;
    RiverflowRecord &record = riverflow_->Records[static_cast<std::size_t>(flowIndex)];
    // Booked in m3/s by the river cells; from here on mm per step.
    record.exchange = record.area > 0.0 ? ToMillimetres(record.exchange, record.area, dt_) : 0.0;
    for (int s = 1; s <= subIntervals_; ++s)
      sub.Row(0, s)[flowIndex] -= record.exchange;
  };
  for (const int flowIndex : ChannelMembers(channel))
    withdraw(flowIndex);
}

} // namespace tavro
