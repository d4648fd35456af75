// Routing subbasin: construction, channels and their water-level/discharge
// tables, area shares, table files and release.
#include "routing/routing_subbasin.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/module_construction.h"
#include "raster/files/grid_file_context.h"
#include "routing/channels/manning.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>

namespace tavro {
namespace {

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The storage constant k (h) of a recession coefficient exp(-1/k), as written to the tables.
double StorageConstant(double coefficient) {
  if (!(coefficient > 0.0))
    return -9999.0;
  if (coefficient == 1.0)
    return 0.0;
  return -1.0 / std::log(coefficient);
}

const char kDashes[] =
    "-------------------------------------------------------------------------------\n";

} // namespace

routingclass::routingclass(int &error, const ModuleSettings &settings,
                           const RoutingSubbasinSetup &setup) try
    : modelobject(LogOf(error, settings), FixedName, settings.ControlFileName, OptionsOf(settings)),
      tgCode_(setup.TgCode), nsub_(setup.SubbasinCount), dt_(setup.TimeStep), tgArea_(setup.TgArea),
      tgFactor_(setup.TgFactor), counts_(setup.Counts), subIntervals_(setup.SubIntervals),
      observedComparison_(setup.ObservedComparison), tracerCount_(setup.TracerCount),
      halfLives_(setup.HalfLives), abfrel_(setup.Abfrel), codes_(setup.Codes),
      lakeSwitch_(setup.LakeSwitch), lakeGridSwitch_(setup.LakeGridSwitch) {
  CopyRasterSettings(*this, settings);
  halfLives_.resize(static_cast<std::size_t>(tracerCount_) + 1, 0.0);

  own_ = codes_.IndexOf(tgCode_);
  const int channelCount = counts_.OL + counts_.SUMTRIB + counts_.ZL;
  channels_.assign(static_cast<std::size_t>(channelCount) + 1, RoutingChannel{});
  channels_[0].tributaryCode = tgCode_;
  areaShare_.assign(
      static_cast<std::size_t>(counts_.OL + counts_.SUMTRIB + counts_.Amp + counts_.ZL) + 1, 0.0);
  areaShare_[0] = RelativeArea(own_);
  inflows_.resize(static_cast<std::size_t>(counts_.ZL) + 1);
  for (RoutingInflow &inflow : inflows_)
    inflow.values.assign(static_cast<std::size_t>(tracerCount_) + 1, 0.0);
  abstractionNumbers_.assign(static_cast<std::size_t>(counts_.AL) + 1, 0);
  reservoirNumbers_.assign(static_cast<std::size_t>(counts_.SP) + 1, 0);
  abstractions_.resize(static_cast<std::size_t>(counts_.AL) + 1);
  reservoirs_.resize(static_cast<std::size_t>(counts_.SP) + 1);
  tracerNames_ = setup.TracerNames;
  tracerNames_.resize(static_cast<std::size_t>(tracerCount_));
  vector_.assign(static_cast<std::size_t>(tracerCount_) + 1, 0.0);

  const std::size_t series =
      (static_cast<std::size_t>(tracerCount_) + 1) * (static_cast<std::size_t>(subIntervals_) + 1);
  out_.assign(series, 0.0);
  in_.assign(series, 0.0);
  chainPointers_.assign(static_cast<std::size_t>(tracerCount_) + 1, nullptr);
  decay_.assign(static_cast<std::size_t>(tracerCount_) + 1, 0.0);
  weights_.assign(static_cast<std::size_t>(kMaxSumtribCodes) + 1, 0.0);
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

double routingclass::RelativeArea(int index) const {
  if (abfrel_ == nullptr || index < 0 ||
      static_cast<std::size_t>(index) > abfrel_->RelativeArea.Count())
    return 0.0;
  return abfrel_->RelativeArea[static_cast<std::size_t>(index)];
}

double routingclass::AreaFactor(int index) const {
  if (abfrel_ == nullptr || index < 0 ||
      static_cast<std::size_t>(index) > abfrel_->AreaFactor.Count())
    return 1.0;
  return abfrel_->AreaFactor[static_cast<std::size_t>(index)];
}

int routingclass::ChannelFlowIndex(int i) const {
  const RoutingChannel &channel = channels_[static_cast<std::size_t>(i)];
  if (IsInflowChannel(i))
    return nsub_ + channel.tributaryCode;
  return codes_.IndexOf(channel.tributaryCode);
}

int routingclass::SetChannel(int index, int code, const std::vector<int> &list, int subIntervals,
                             int observedComparison, const ChannelValues &values, double qspecMin,
                             double qspecMax, double intervals) {
  RoutingChannel &channel = channels_.at(static_cast<std::size_t>(index));
  channel.tributaryCode = code;
  if (IsSumtribChannel(index))
    channel.sumtribList = list;
  channel.parameters = ChannelParametersWithDefaults(values);
  channel.qspecMin = qspecMin;
  channel.qspecMax = qspecMax;
  channel.tableIntervals = intervals;
  if (subIntervals != subIntervals_) {
    subIntervals_ = subIntervals;
    const std::size_t series = (static_cast<std::size_t>(tracerCount_) + 1) *
                               (static_cast<std::size_t>(subIntervals_) + 1);
    out_.assign(series, 0.0);
    in_.assign(series, 0.0);
  }
  observedComparison_ = observedComparison;

  channel.wqtab = BuildWaterLevelTable(
      channel.parameters, TableRange{qspecMin, qspecMax, intervals, dt_, subIntervals_});
  if (!channel.wqtab.failure.empty())
    ThrowFatal(*Log, kRoutingValueExitCode,
               Concat("routing: subbasin ", tgCode_, ", channel ", index, " (",
                      IsInflowChannel(index) ? "inflow " : "subbasin ", code,
                      "): no water-level/discharge table: ", channel.wqtab.failure,
                      "; check the channel's length, slope, widths and Manning coefficients"));
  const auto subchannels = static_cast<std::size_t>(channel.Subchannels());
  channel.Qaus.assign((subchannels + 2) * (static_cast<std::size_t>(subIntervals_) + 2), 0.0);
  channel.floodOutflow.assign(channel.Qaus.size(), 0.0);
  channel.qvzuq.assign(subchannels + 2, 0.0);
  channel.endPosition.assign(subchannels + 2, 0);
  channel.storageMain = std::exp(-1.0 / channel.parameters.storageMain);
  channel.storageFlood = std::exp(-1.0 / channel.parameters.storageFlood);
  return channel.wqtab.storageElements;
}

double routingclass::ManningVelocity(double discharge, double width, double &depth, double &radius,
                                     double &velocity, double coefficient, double slopeRoot,
                                     double tolerance, int maxIterations) const {
  const ManningResult result = ManningIteration(discharge, width, coefficient, slopeRoot, tolerance,
                                                maxIterations, velocity);
  depth = result.depth;
  radius = result.radius;
  velocity = result.velocity;
  return velocity;
}

int routingclass::GetTableIndex(double runoff, int channel) const {
  const RoutingChannel &c = channels_[static_cast<std::size_t>(channel)];
  return TableRowForRunoff(runoff, dt_, c.qspecMin, c.wqtab.logStep, c.tableIntervals);
}

int routingclass::GetMaxStorageElements(int currentMaximum) const {
  int largest = currentMaximum;
  for (std::size_t i = 1; i < channels_.size(); ++i)
    largest = std::max(largest, channels_[i].wqtab.storageElements);
  return largest;
}

long routingclass::LargestTravelTimeHours() const {
  long largest = 0;
  for (std::size_t i = 1; i < channels_.size(); ++i)
    if (channels_[i].wqtab.rows.size() > 1)
      largest = std::max(largest, static_cast<long>(channels_[i].wqtab.rows[1].travelTime));
  return largest;
}

void routingclass::SetAbstractionNumber(int position, int number) {
  abstractionNumbers_.at(static_cast<std::size_t>(position)) = number;
}

void routingclass::SetReservoirNumber(int position, int number) {
  reservoirNumbers_.at(static_cast<std::size_t>(position)) = number;
}

void routingclass::SetMaxIrrig(IrrigationLimits *maxIrrig,
                               IrrigationLimits *maxIrrigFromReservoirs) {
  maxIrrig_ = maxIrrig;
  maxIrrigFromReservoirs_ = maxIrrigFromReservoirs;
}

void routingclass::SetIrrigationAmounts(IrrigationAmounts *amounts) {
  irrigationAmounts_ = amounts;
}

void routingclass::CheckAreas() {
  const int tributaryChannels = counts_.OL + counts_.SUMTRIB;
  areaShare_[0] = RelativeArea(own_);
  for (int i = 1; i <= tributaryChannels; ++i) {
    const RoutingChannel &channel = channels_[static_cast<std::size_t>(i)];
    const int index = codes_.IndexOf(channel.tributaryCode);
    double share = index == own_ ? 0.0 : RelativeArea(index);
    for (const int code : channel.sumtribList)
      share += RelativeArea(codes_.IndexOf(code));
    areaShare_[static_cast<std::size_t>(i)] = share;
  }
  double upstream = 0.0;
  for (int i = 0; i <= tributaryChannels; ++i)
    upstream += areaShare_[static_cast<std::size_t>(i)];
  for (int i = 0; i <= tributaryChannels; ++i)
    areaShare_[static_cast<std::size_t>(i)] =
        areaShare_[static_cast<std::size_t>(i)] / upstream * tgFactor_;
  if (abfrel_ != nullptr && own_ >= 1) {
    abfrel_->RelativeArea[static_cast<std::size_t>(own_)] = upstream;
    abfrel_->AreaFactor[static_cast<std::size_t>(own_)] = tgFactor_;
  }

  const double total = RelativeArea(0);
  if (total > 0.0) {
    const double area = total * upstream;
    if (std::fabs(tgArea_ - area) > 0.001) {
      Log->Entry(Concat("INFO: Basin ", tgCode_, ": area in contr.file: ", tgArea_,
                        " <-> zone-grid ", area, " (adjusted to the latter)",
                        DiagnosticsLog::EndToken));
      // The abstractions convert with the area the routing converts with.
      for (std::size_t a = 1; a < abstractions_.size(); ++a)
        abstractions_[a].MoveToArea(area / tgFactor_);
      tgArea_ = area;
    }
  }
}

void routingclass::WriteTables() {
  InterruptPause pause(InterruptPause::After::ProgramHandler, nullptr);
  for (int i = 1; i <= ChannelCount(); ++i)
    WriteTable(i);
}

void routingclass::WriteTable(int i) const {
  const RoutingChannel &c = channels_[static_cast<std::size_t>(i)];
  char name[64];
  if (IsInflowChannel(i))
    std::snprintf(name, sizeof name, "wq_tabZL.%.3d", c.tributaryCode);
  else
    std::snprintf(name, sizeof name, "wq_table.%.3d", codes_.IndexOf(c.tributaryCode));
  File file(std::fopen(name, "w"));
  if (!file) {
    Log->Entry(Concat("FATAL: error opening file ", name, " (check user rights or disk space)",
                      DiagnosticsLog::EndToken));
    return;
  }
  std::FILE *f = file.get();
  if (IsInflowChannel(i)) {
    std::fprintf(f,
                 "waterlevel-discharge-table for the channel of inflow %d to the outlet of "
                 "subbasin %d\n",
                 c.tributaryCode, tgCode_);
  } else if (IsSumtribChannel(i) && !c.sumtribList.empty()) {
    std::fprintf(f, "waterlevel-discharge-table for the channel of subbasins %d", c.tributaryCode);
    for (std::size_t k = 0; k + 1 < c.sumtribList.size(); ++k)
      std::fprintf(f, ", %d", c.sumtribList[k]);
    std::fprintf(f, " and %d to the outlet of subbasin %d\n", c.sumtribList.back(), tgCode_);
  } else {
    std::fprintf(f,
                 "waterlevel-discharge-table for the channel of subbasin %d to the outlet of "
                 "subbasin %d\n",
                 c.tributaryCode, tgCode_);
  }
  const ChannelParameters &p = c.parameters;
  std::fprintf(f, "input parameters from the control file:\n");
  std::fprintf(f, "------------------------------------------\n");
  std::fprintf(f, "storage constant mean channel [h] : %7.2f\n", StorageConstant(c.storageMain));
  std::fprintf(f, "storage constant flood plain [h]  : %7.2f\n", StorageConstant(c.storageFlood));
  std::fprintf(f, "width of the mean channel [m]     : %7.2f\n", p.widthMain);
  std::fprintf(f, "width of flood plains  [m]        : %7.2f\n", p.widthFlood);
  std::fprintf(f, "depth of mean channel  [m]        : %7.2f\n", p.depthMain);
  std::fprintf(f, "Manning-coef. mean chan[m^(1/3)/s]: %7.2f\n", p.manningMain);
  std::fprintf(f, "Manning-ceof. flood pl.[m^(1/3)/s]: %7.2f\n", p.manningFlood);
  std::fprintf(f, "slope angle            [1/1]      : %7.4f\n", p.slopeRoot * p.slopeRoot);
  std::fprintf(f, "channel length         [m]        : %7.1f\n", p.channelLength);
  std::fprintf(f, "catchment area         [km^2]     : %7.2f\n", p.channelArea);
  std::fprintf(f, "min. spec. discharge   [l/s/km^2] : %7.1f\n", c.qspecMin);
  std::fprintf(f, "max. spec. discharge   [l/s/km^2] : %7.1f\n", c.qspecMax);
  std::fprintf(f, "intervals for w-q-table[-]        : %7.0f\n", c.tableIntervals + 1.0);
  std::fprintf(f, "sub-intervals (time)   [-]        : %7d  \n", subIntervals_);
  std::fprintf(f, "number of sub-channels            : %7.0f\n", c.wqtab.subchannels);
  std::fprintf(f, "total number of storage elements  : %7d  \n",
               c.wqtab.storageElements + subIntervals_);
  std::fprintf(f, "%s", kDashes);
  std::fprintf(f,
               "  #    q      q       Q     dm    df     v      vm     vf     t   delta   Qm/Q \n");
  std::fprintf(f,
               "     [mm]  l/s/km2 [m^3/s]  [m]   [m]   [m/s]  [m/s]  [m/s]  [h]  [Int]   [1/1]\n");
  std::fprintf(f, "%s", kDashes);
  for (int r = 1; r <= c.wqtab.LastRow(); ++r) {
    const WaterLevelRow &w = c.wqtab.rows[static_cast<std::size_t>(r)];
    std::fprintf(f, "%3d  %5.3f %6.1f %7.2f  %5.2f %5.2f %5.2f  %5.2f  %5.2f  %5.2f  %3d   %5.3f\n",
                 r, w.qmm, w.qspec, w.Qtab, w.dMain, w.dFlood, w.vMean, w.vMain, w.vFlood,
                 w.travelTime, w.delta, w.floodShare);
  }
}

void routingclass::ReleaseMemory() {
  if (released_)
    return;
  released_ = true;
  // The storage chains belong to the routing module's flow arrays.
  std::ostringstream entry;
  entry << " free memory TG " << tgCode_;
  for (int i = 1; i <= ChannelCount(); ++i) {
    const RoutingChannel &c = channels_[static_cast<std::size_t>(i)];
    if (IsInflowChannel(i)) {
      entry << ", (only ZL's)";
      continue;
    }
    entry << ", OL " << i << " (Subb. " << c.tributaryCode;
    for (const int code : c.sumtribList)
      entry << " " << code;
    entry << ")";
  }
  entry << ", --> ZLs...";
  for (std::size_t j = 1; j < inflows_.size(); ++j)
    entry << " " << inflows_[j].number;
  entry << ", --> ALs...";
  for (std::size_t a = 1; a < abstractionNumbers_.size(); ++a)
    entry << " " << abstractionNumbers_[a];
  entry << ", --> SPs...";
  for (std::size_t s = 1; s < reservoirNumbers_.size(); ++s)
    entry << " " << reservoirNumbers_[s];
  entry << " Rest..." << DiagnosticsLog::EndToken;
  Log->Entry(entry.str());

  channels_.clear();
  inflows_.clear();
  areaShare_.clear();
  flows_ = nullptr;
  riverflow_ = nullptr;
  modelobject::ReleaseMemory();
}

} // namespace tavro
