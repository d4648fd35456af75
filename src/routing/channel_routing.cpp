// The routing step of a routing subbasin: own runoff, every channel through
// its translation chain and linear storages, the outlet; and the set-up of
// the flow arrays and channel storages it works on.
#include "routing/routing_subbasin.h"

#include "kernel/fatal_error.h"
#include "routing/channels/channel_step.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace tavro {
namespace {

constexpr int kChainAllocationExitCode = 1;
// Half-lives in days to a decay factor, as the tracer tables define it.
constexpr double kHalfLifeFactor = 1.442695041111;

} // namespace

double routingclass::GetSubstepMaximum(const double *series) const {
  double largest = series[1];
  for (int s = 2; s <= subIntervals_; ++s)
    largest = std::max(largest, series[s]);
  return largest;
}

double routingclass::MixConcentration(double c1, double c2, double volume1, double volume2) {
  const double total = std::fabs(volume1) + std::fabs(volume2);
  if (total == 0.0)
    return 0.0;
  return (c1 * std::fabs(volume1) + c2 * std::fabs(volume2)) / total;
}

double routingclass::ConcentrateByLoss(double concentration, double volume, double loss) {
  if (volume - loss == 0.0)
    return 0.0;
  return concentration * volume / (volume - loss);
}

void routingclass::CreateChains(int channel, int flowIndex) {
  const RoutingChannel &c = channels_[static_cast<std::size_t>(channel)];
  const std::size_t length =
      static_cast<std::size_t>(c.wqtab.storageElements) + static_cast<std::size_t>(subIntervals_);
  const ComponentTable &input = flows_->RoutingInput;
  const double observed = ObservedRunoff(flowIndex);
  try {
    for (int k = 0; k <= tracerCount_; ++k) {
      std::vector<double> &chain = flows_->InflowSeries.Chain(k, flowIndex);
      // A tributary of two channels keeps the longer chain.
      if (chain.size() < length + 1)
        chain.resize(length + 1, 0.0);
      const double value = k == 0 && observed >= 0.0 ? observed : input[k][flowIndex];
      std::fill(chain.begin() + 1, chain.begin() + static_cast<std::ptrdiff_t>(length) + 1, value);
    }
  } catch (const std::bad_alloc &) {
    ThrowFatal(*Log, kChainAllocationExitCode, "error allocating memory for flow-arrays");
  }
}

void routingclass::SetInputArrays(RoutingFlowArrays *flows) {
  flows_ = flows;
  const int firstInflowChannel = counts_.OL + counts_.SUMTRIB + 1;
  for (int j = 1; j <= counts_.ZL; ++j) {
    const RoutingInflow &inflow = inflows_[static_cast<std::size_t>(j)];
    const double area =
        channels_[static_cast<std::size_t>(firstInflowChannel + j - 1)].parameters.channelArea;
    flows_->RoutingInput[0][flows_->InflowIndex(inflow.number)] =
        ToMillimetres(inflow.values[0], area, dt_);
  }
  for (int i = 1; i <= ChannelCount(); ++i) {
    for (const int code : channels_[static_cast<std::size_t>(i)].sumtribList)
      CreateChains(i, codes_.IndexOf(code));
    CreateChains(i, ChannelFlowIndex(i));
  }
}

void routingclass::InitChannelStorages() {
  for (int i = 1; i <= ChannelCount(); ++i) {
    RoutingChannel &c = channels_[static_cast<std::size_t>(i)];
    const double runoff = flows_->RoutingInput[0][ChannelFlowIndex(i)];
    const int delay = c.wqtab.rows[static_cast<std::size_t>(GetTableIndex(runoff, i))].delta;
    const int partLength = c.PartLength(subIntervals_);
    for (int sc = 1; sc <= c.Subchannels(); ++sc) {
      double *outflow = c.QausRow(sc, subIntervals_);
      double *floodOutflow = c.FloodOutflowRow(sc, subIntervals_);
      for (int s = 1; s <= subIntervals_; ++s) {
        outflow[s] = runoff;
        floodOutflow[s] = 0.0; // the flood share starts at 0
      }
      c.qvzuq[static_cast<std::size_t>(sc)] = 0.0;
      c.endPosition[static_cast<std::size_t>(sc)] = subIntervals_ + (sc - 1) * partLength + delay;
    }
  }
}

void routingclass::Route(long year, long month, long day, long hour) {
  const bool initialising = month < 1;
  if (!initialising)
    WithdrawIrrigationAtTributaries();

  SubIntervalTable &sub = flows_->SubIntervalInput;
  for (int s = 1; s <= subIntervals_; ++s) {
    OutSeries(0)[s] = areaShare_[0] * sub.Row(0, s)[own_];
    for (int k = 1; k <= tracerCount_; ++k)
      OutSeries(k)[s] = sub.Row(k, s)[own_];
  }
  for (int i = 1; i <= ChannelCount(); ++i)
    RouteChannel(i, initialising);
  Outlet();

  if (!initialising)
    WithdrawIrrigationAtOutlet();
  abstractionSum_ = 0.0;
  if (counts_.AL > 0)
    ApplyAbstractions(year, month, day, hour);
  BalanceReservoirs(year, month, day, hour);
}

void routingclass::RouteChannel(int i, bool initialising) {
  RoutingChannel &c = channels_[static_cast<std::size_t>(i)];
  const int t = ChannelFlowIndex(i);
  if (!IsInflowChannel(i) && !initialising)
    ExchangeWithRiver(i);
  double weightSum = 0.0;
  if (IsSumtribChannel(i))
    MixSumtrib(i, &weightSum);
  SubIntervalTable &sub = flows_->SubIntervalInput;
  if (IsInflowChannel(i) &&
      inflows_[static_cast<std::size_t>(i - counts_.OL - counts_.SUMTRIB)].kind ==
          InflowKind::Internal) {
    // Internal inflows arrive in m3/s.
    for (int s = 1; s <= subIntervals_; ++s)
      sub.Row(0, s)[t] = ToMillimetres(sub.Row(0, s)[t], c.parameters.channelArea, dt_);
    for (int k = 0; k <= tracerCount_; ++k)
      flows_->RoutingInput[k][t] = sub.Row(k, 1)[t];
  }
  ChannelInflow(i, t);

  for (int k = 0; k <= tracerCount_; ++k)
    chainPointers_[static_cast<std::size_t>(k)] = flows_->InflowSeries.Chain(k, t).data();
  const int partLength = c.PartLength(subIntervals_);
  double *in0 = InSeries(0);
  for (int sc = c.Subchannels(); sc >= 1; --sc) {
    const int delay =
        c.wqtab.rows[static_cast<std::size_t>(GetTableIndex(GetSubstepMaximum(in0), i))].delta;
    for (int k = 1; k <= tracerCount_; ++k) {
      const double halfLife = halfLives_[static_cast<std::size_t>(k)];
      decay_[static_cast<std::size_t>(k)] =
          halfLife > 0.0 ? std::exp(-(delay * dt_ / subIntervals_ / 60.0 / 24.0) /
                                    (halfLife * kHalfLifeFactor))
                         : 0.0;
    }
    const SubChannelPart part{subIntervals_, (sc - 1) * partLength, partLength, delay};
    int &end = c.endPosition[static_cast<std::size_t>(sc)];
    end = TranslateSubChannel(chainPointers_.data(), tracerCount_ + 1, in_.data(), part, end,
                              decay_.data());

    const double *window = chainPointers_[0] + part.base;
    const double largest = *std::max_element(window + 1, window + subIntervals_ + 1);
    const double share =
        c.wqtab.rows[static_cast<std::size_t>(GetTableIndex(largest, i))].floodShare;
    DrainLinearStorages(
        window, subIntervals_, share, c.qvzuq[static_cast<std::size_t>(sc)], c.storageMain,
        c.storageFlood,
        StorageOutflows{c.QausRow(sc, subIntervals_), c.FloodOutflowRow(sc, subIntervals_)}, in0);
    c.qvzuq[static_cast<std::size_t>(sc)] = share;
  }
  AddChannelOutflow(i, t, weightSum);
}

void routingclass::MixSumtrib(int i, double *weightSum) {
  const RoutingChannel &c = channels_[static_cast<std::size_t>(i)];
  const int t = codes_.IndexOf(c.tributaryCode);
  // The members: the list codes, then the SUMTRIB code itself.
  const std::size_t members = c.sumtribList.size() + 1;
  auto member = [&](std::size_t m) {
    return m + 1 < members ? codes_.IndexOf(c.sumtribList[m]) : t;
  };
  double total = 0.0;
  for (std::size_t m = 0; m < members; ++m) {
    const int index = member(m);
    weights_[m] = RelativeArea(index) / AreaFactor(index);
    total += weights_[m];
  }
  *weightSum = total;
  SubIntervalTable &sub = flows_->SubIntervalInput;
  for (int s = 1; s <= subIntervals_; ++s) {
    double water = 0.0;
    for (std::size_t m = 0; m < members; ++m)
      water += weights_[m] * sub.Row(0, s)[member(m)];
    // Tracers first: they weigh the members' own water, which the mix replaces.
    for (int k = 1; k <= tracerCount_; ++k) {
      double mass = 0.0;
      for (std::size_t m = 0; m < members; ++m)
        mass += weights_[m] * sub.Row(0, s)[member(m)] * sub.Row(k, s)[member(m)];
      sub.Row(k, s)[t] = water != 0.0 ? mass / water : 0.0;
    }
    sub.Row(0, s)[t] = water / total;
  }
}

void routingclass::ChannelInflow(int i, int t) {
  const SubIntervalTable &sub = flows_->SubIntervalInput;
  for (int k = 0; k <= tracerCount_; ++k)
    for (int s = 1; s <= subIntervals_; ++s)
      InSeries(k)[s] = sub.Row(k, s)[t];
  // With observations substituted, a subbasin's observed discharge enters
  // its channel in place of the simulated water; its tracers stay simulated.
  const double observed = IsInflowChannel(i) ? -1.0 : ObservedRunoff(t);
  if (observed >= 0.0)
    for (int s = 1; s <= subIntervals_; ++s)
      InSeries(0)[s] = observed;
}

double routingclass::ObservedRunoff(int flowIndex) const {
  if (observedComparison_ != 1 || flowIndex < 1 || flowIndex > nsub_ ||
      flows_->Observed == nullptr || flows_->ObservedColumn == nullptr)
    return -1.0;
  const int column = (*flows_->ObservedColumn)[static_cast<std::size_t>(flowIndex)];
  return column > 0 ? flows_->Observed->Current(column) : -1.0;
}

void routingclass::AddChannelOutflow(int i, int t, double weightSum) {
  const RoutingChannel &c = channels_[static_cast<std::size_t>(i)];
  for (int s = 1; s <= subIntervals_; ++s) {
    const double outflow = InSeries(0)[s];
    double added = 0.0;
    if (IsInflowChannel(i))
      added = outflow * c.parameters.channelArea / tgArea_ * tgFactor_;
    else if (IsSumtribChannel(i))
      added = outflow * tgFactor_ / RelativeArea(own_) * weightSum;
    else
      added = areaShare_[static_cast<std::size_t>(i)] / AreaFactor(t) * outflow;
    for (int k = 1; k <= tracerCount_; ++k)
      OutSeries(k)[s] = MixConcentration(OutSeries(k)[s], InSeries(k)[s], OutSeries(0)[s], added);
    OutSeries(0)[s] += added;
  }
}

void routingclass::Outlet() {
  SubIntervalTable &sub = flows_->SubIntervalInput;
  double total = 0.0;
  for (int s = 1; s <= subIntervals_; ++s) {
    for (int k = 0; k <= tracerCount_; ++k)
      sub.Row(k, s)[own_] = OutSeries(k)[s];
    total += OutSeries(0)[s];
  }
  for (int k = 1; k <= tracerCount_; ++k) {
    double *out = OutSeries(k);
    out[0] = 0.0;
    if (total > 0.0)
      for (int s = 1; s <= subIntervals_; ++s)
        out[0] += OutSeries(0)[s] / total * out[s];
  }
  OutSeries(0)[0] = 0.0;
  flows_->RoutingInput[0][own_] = total / subIntervals_;
  for (int k = 1; k <= tracerCount_; ++k)
    flows_->RoutingInput[k][own_] = OutSeries(k)[0];
}

} // namespace tavro
