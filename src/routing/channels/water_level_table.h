// The water-level/discharge table of a river channel: for log-spaced
// specific discharges the water depth and velocity in the main channel and on
// the flood plain, the travel time through the channel, and from the travel
// times the number of sub-channels and storage elements of the channel's
// translation chain. Plain values in, plain values out.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace tavro {

// The ten values of a channel, in the order of its description.
using ChannelValues = std::array<double, 10>;

// A channel's geometry after its defaults (a value not above 0 takes the default).
struct ChannelParameters {
  double storageMain = 0.01;     // storage constant of the main channel, h
  double storageFlood = 0.01;    // of the flood plain, h
  double widthMain = 0.1;        // m
  double widthFlood = 0.1;       // m
  double depthMain = 0.1;        // bank-full depth, m
  double manningMain = 1.0;      // m^(1/3)/s
  double manningFlood = 1.0;     // m^(1/3)/s
  double slopeRoot = 0.0316;     // square root of the slope (1/1)
  double channelLength = 1.0;    // m
  double channelArea = 0.000001; // catchment area of the channel, km2
};

ChannelParameters ChannelParametersWithDefaults(const ChannelValues &values);

// The discharge range and the time division the tables are built for.
struct TableRange {
  double qspecMin = 0.0;  // l/s/km2, above 0
  double qspecMax = 0.0;  // l/s/km2, at least qspecMin
  double intervals = 0.0; // N, a whole number of at least 1
  double timeStep = 0.0;  // dt, minutes
  int subIntervals = 0;   // K, at least 1
};

// One row of the table.
struct WaterLevelRow {
  double qspec = 0.0;      // specific discharge, l/s/km2
  double qmm = 0.0;        // the same in mm per routing step
  double Qtab = 0.0;       // discharge, m3/s
  double qMain = 0.0;      // its part in the main channel, m3/s
  double qFlood = 0.0;     // and on the flood plain, m3/s
  double vMean = 0.0;      // m/s
  double vMain = 0.0;      // m/s
  double vFlood = 0.0;     // m/s
  double travelTime = 0.0; // through the whole channel, h
  double rMain = 0.0;      // hydraulic radius, m
  double rFlood = 0.0;     // m
  double dMain = 0.0;      // water depth, m
  double dFlood = 0.0;     // m
  double floodShare = 0.0; // Qf / (Qm + Qf)
  int delta = 0;           // translation of one sub-channel, sub-intervals
};

// Largest chain of one channel (storage elements); a longer one is refused.
inline constexpr int kMaxStorageElements = 10000000;

struct WaterLevelTable {
  std::vector<WaterLevelRow> rows; // 1..N+1 (row 0 holds nothing)
  double logStep = 0.0;            // ln(qspecMax / qspecMin) / N
  double subchannels = 1.0;        // nsc, a whole number
  int largestDelta = 0;            // the largest delta of all rows
  int storageElements = 0;         // E = (K + largestDelta) x nsc
  std::string failure;             // why the table is unusable; empty when it is fine

  int LastRow() const { return static_cast<int>(rows.size()) - 1; }
};

// Builds the table, largest discharge first, carrying the Manning velocity
// from row to row. A channel whose travel times are not finite or whose chain
// would exceed kMaxStorageElements gets a failure text.
WaterLevelTable BuildWaterLevelTable(const ChannelParameters &channel, const TableRange &range);

// The row 1..N+1 for a runoff in mm per step of dt minutes: the row r with
// qspec[r] < q <= qspec[r+1], 1 at or below qspecMin, N+1 above qspecMax.
int TableRowForRunoff(double runoffMm, double timeStep, double qspecMin, double logStep,
                      double intervals);

} // namespace tavro
