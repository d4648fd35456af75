// Water-level/discharge tables: Manning depths with a flood plain, travel
// times, sub-channels and storage elements.
#include "routing/channels/water_level_table.h"

#include "routing/channels/manning.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace tavro {
namespace {

constexpr double kManningTolerance = 0.005; // m/s
constexpr int kManningIterations = 50;
constexpr int kFloodIterations = 50;
constexpr double kLevelTolerance = 0.01; // m

double OrDefault(double value, double fallback) { return value > 0.0 ? value : fallback; }

// Shares the discharge Q of one row between the main channel and the flood
// plain until both carry the same water level.
void FillRow(WaterLevelRow &row, const ChannelParameters &c, double discharge, double &velocity) {
  double qMain = discharge;
  double qFlood = 0.0;
  ManningResult main = ManningIteration(qMain, c.widthMain, c.manningMain, c.slopeRoot,
                                        kManningTolerance, kManningIterations, velocity);
  velocity = main.velocity;
  ManningResult flood;
  if (main.depth > c.depthMain) {
    flood.velocity = main.velocity;
    for (int repetition = 1; repetition <= kFloodIterations; ++repetition) {
      const double oldDepth = main.depth;
      const double level = (flood.depth + main.depth + c.depthMain) / 2.0;
      main.depth = level;
      flood.depth = level - c.depthMain;
      const double h = std::fabs(oldDepth - main.depth);
      const double moved =
          std::min(c.widthMain * h * main.velocity, c.widthFlood * h * flood.velocity);
      if (oldDepth > main.depth) {
        qMain -= moved;
        qFlood += moved;
      } else {
        qMain += moved;
        qFlood -= moved;
      }
      main = ManningIteration(qMain, c.widthMain, c.manningMain, c.slopeRoot, kManningTolerance,
                              kManningIterations, velocity);
      velocity = main.velocity;
      flood = ManningIteration(qFlood, c.widthFlood, c.manningFlood, c.slopeRoot, kManningTolerance,
                               kManningIterations, flood.velocity);
      if (std::fabs(main.depth - flood.depth - c.depthMain) <= kLevelTolerance)
        break;
    }
  }
  row.vMain = main.velocity;
  row.vFlood = flood.velocity;
  row.rMain = main.radius;
  row.rFlood = flood.radius;
  row.dMain = main.depth;
  row.dFlood = flood.depth;
  row.qMain = qMain;
  row.qFlood = qFlood;
  const double total = qMain + qFlood;
  row.vMean = qMain / total * main.velocity + qFlood / total * flood.velocity;
  row.floodShare = qFlood / total;
  row.travelTime = c.channelLength / row.vMean / 3600.0;
}

// The smallest count n >= 1 of sub-channels with
// travelTime[1] / n <= travelTime[N+1] / n + dt / 60.
double SubchannelCount(double slowest, double fastest, double hoursPerStep) {
  const double ratio = (slowest - fastest) / hoursPerStep;
  // Every count up to ratio - 2 passes the test by a clear margin: start there.
  double n = std::max(1.0, std::floor(ratio) - 2.0);
  while (slowest / n > fastest / n + hoursPerStep)
    n += 1.0;
  return n;
}

std::string Describe(const char *what, double value) {
  std::ostringstream text;
  text << what << value;
  return text.str();
}

} // namespace

ChannelParameters ChannelParametersWithDefaults(const ChannelValues &v) {
  const ChannelParameters d;
  ChannelParameters c;
  c.storageMain = OrDefault(v[0], d.storageMain);
  c.storageFlood = OrDefault(v[1], d.storageFlood);
  c.widthMain = OrDefault(v[2], d.widthMain);
  c.widthFlood = OrDefault(v[3], d.widthFlood);
  c.depthMain = OrDefault(v[4], d.depthMain);
  c.manningMain = OrDefault(v[5], d.manningMain);
  c.manningFlood = OrDefault(v[6], d.manningFlood);
  c.slopeRoot = v[7] > 0.0 ? std::sqrt(v[7]) : d.slopeRoot;
  c.channelLength = OrDefault(v[8], d.channelLength);
  c.channelArea = OrDefault(v[9], d.channelArea);
  return c;
}

WaterLevelTable BuildWaterLevelTable(const ChannelParameters &channel, const TableRange &range) {
  WaterLevelTable table;
  const int lastRow = static_cast<int>(range.intervals) + 1;
  table.rows.assign(static_cast<std::size_t>(lastRow) + 1, WaterLevelRow{});
  table.logStep = std::log(range.qspecMax / range.qspecMin) / range.intervals;

  double x = std::log(range.qspecMax) + table.logStep;
  double velocity = 1.0; // first guess, carried from row to row
  for (int r = lastRow; r >= 1; --r) {
    WaterLevelRow &row = table.rows[static_cast<std::size_t>(r)];
    x -= table.logStep;
    row.qspec = std::exp(x);
    row.qmm = 0.0036 * row.qspec * range.timeStep / 60.0;
    row.Qtab = row.qspec / 1000.0 * channel.channelArea;
    FillRow(row, channel, row.Qtab, velocity);
  }

  const double slowest = table.rows[1].travelTime;
  const double fastest = table.rows[static_cast<std::size_t>(lastRow)].travelTime;
  const double hoursPerStep = range.timeStep / 60.0;
  for (int r = 1; r <= lastRow; ++r) {
    const double t = table.rows[static_cast<std::size_t>(r)].travelTime;
    if (!std::isfinite(t) || !(t >= 0.0)) {
      table.failure = Describe("the travel time through the channel is not a finite number of "
                               "hours at the specific discharge ",
                               table.rows[static_cast<std::size_t>(r)].qspec);
      return table;
    }
  }
  if ((slowest - fastest) / hoursPerStep > kMaxStorageElements) {
    table.failure = Describe("the travel times of the smallest and largest discharge differ by "
                             "too many time steps: ",
                             (slowest - fastest) / hoursPerStep);
    return table;
  }
  table.subchannels = SubchannelCount(slowest, fastest, hoursPerStep);

  const double k = range.subIntervals;
  for (int r = 1; r <= lastRow; ++r) {
    WaterLevelRow &row = table.rows[static_cast<std::size_t>(r)];
    const double delay = row.travelTime / table.subchannels / range.timeStep * 60.0 * k;
    if (delay >= kMaxStorageElements) {
      table.failure =
          Describe("the translation of one sub-channel takes too many sub-intervals: ", delay);
      return table;
    }
    row.delta = static_cast<int>(delay);
    table.largestDelta = std::max(table.largestDelta, row.delta);
  }
  const double elements = (range.subIntervals + table.largestDelta) * table.subchannels;
  if (elements > kMaxStorageElements) {
    table.failure =
        Describe("the channel would need more storage elements than the limit: ", elements);
    return table;
  }
  table.storageElements = static_cast<int>(elements);
  return table;
}

int TableRowForRunoff(double runoffMm, double timeStep, double qspecMin, double logStep,
                      double intervals) {
  const double q = std::max(1e-7, 16666.668 / timeStep * runoffMm);
  const double lastRow = static_cast<double>(static_cast<int>(intervals + 1.0));
  double row = 1.0;
  if (logStep > 0.0) {
    const double position = std::ceil(std::log(q / qspecMin) / logStep);
    // Compared as reals, so that no value outside the table is ever cast.
    row = position >= 1.0 ? position : 1.0;
  }
  return static_cast<int>(row < lastRow ? row : lastRow);
}

} // namespace tavro
