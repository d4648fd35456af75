// Runoff concentration per subbasin: the flow-time zones, a delay line of
// per-zone sums through which direct runoff and interflow travel to the
// subbasin outlet, and the linear storages they pass afterwards. Plain data
// and pure functions: no MPI, no log, no grids; the soil-water module and
// surface routing fill their zones from their cells and reduce the sums over
// the processes.
//
// Zone z of a subbasin holds what reaches the outlet after z - 1 further
// steps; zone 0 is never emptied. A zone's n, sx and RelCellSum are sums of
// weights, weighted runoff (mm) and cell weights, so sx / RelCellSum of zone
// 1 is the subbasin's outflow of the step (mm).
#pragma once

#include "kernel/zone_record.h"
#include "raster/parallel/zone_reduction.h"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

// The zone of a flow time in seconds at a step of stepMinutes: ceil(seconds /
// 60 / stepMinutes). Flow times of 0 or less (and any that gives no positive
// zone) fall into zone 1, so that their runoff leaves with the step.
int FlowTimeZone(double seconds, double stepMinutes);

// The zones of one runoff component (direct runoff or interflow): rows 0..T
// (0 water, 1..T tracers), subbasins 1..n, zones 0..MaxZone(k) of each, in
// one contiguous block.
class FlowTimeZones {
public:
  FlowTimeZones() = default;
  // maxZones: element k (1..n) the largest zone of subbasin k, at least 1;
  // element 0 unused.
  FlowTimeZones(int rowCount, std::span<const int> maxZones);

  int RowCount() const { return rows_; }
  int SubbasinCount() const { return static_cast<int>(maxZone_.size()) - 1; }
  int MaxZone(int k) const { return maxZone_[static_cast<std::size_t>(k)]; }
  // Zones 0..MaxZone(k) of subbasin k in a row.
  std::span<ZoneRecord> Zones(int row, int k);
  std::span<const ZoneRecord> Zones(int row, int k) const;
  ZoneRecord &At(int row, int k, int z) { return Zones(row, k)[static_cast<std::size_t>(z)]; }
  const ZoneRecord &At(int row, int k, int z) const {
    return Zones(row, k)[static_cast<std::size_t>(z)];
  }
  // Every record of every row.
  std::span<ZoneRecord> All() { return records_; }
  std::span<const ZoneRecord> All() const { return records_; }

  // The move at the start of a step, in every row and subbasin: zone z - 1
  // takes n, sx and RelCellSum of zone z (z = 2..MaxZone), the last zone is
  // emptied; zonenwert and rel stay.
  void Move();
  // In a row: n and RelCellSum of every zone become the sums over that zone
  // and all later ones (the weight of the cells whose runoff passes the zone).
  void AccumulateWeights(int row);
  // In a row: n and RelCellSum times factor.
  void ScaleWeights(int row, double factor);
  // n, sx and RelCellSum of every record 0; zonenwert and rel stay.
  void ClearSums();

private:
  std::size_t Offset(int row, int k) const;

  int rows_ = 0;
  std::vector<int> maxZone_;       // 0..n
  std::vector<std::size_t> start_; // first record of subbasin k within a row
  std::size_t rowSize_ = 0;
  std::vector<ZoneRecord> records_;
};

// What the cells of a step add to one row of one component's zones, held
// exactly so that the totals do not depend on the process or thread count:
// the layout of one FlowTimeZones row.
class ZoneAdditions {
public:
  ZoneAdditions() = default;
  explicit ZoneAdditions(const FlowTimeZones &layout);

  void Add(int k, int z, double n, double sx, double relCellSum);
  // Adds the sums to row 0 (or the given row) of zones (same layout): 0 water,
  // 1..T tracers.
  void AddTo(FlowTimeZones &zones, int row = 0) const;
  std::span<ExactZoneSums> All() { return sums_; }
  void Clear();

private:
  std::vector<std::size_t> start_;
  std::vector<ExactZoneSums> sums_;
};

// Outcome of spreading the counted weights of one subbasin over its zones.
enum class ZoneShareStatus { Ok, NoCells, FirstZoneEmpty };

// With the cell weights counted into n and RelCellSum of row 0 of both
// component's zones: the share rel = n_z / N of every zone 1..MaxZone(k)
// (N the sum over those zones) and its zonenwert z, in both; n of the
// direct-runoff zones becomes 0 (the interflow zones keep theirs). The
// tracer rows get rel 0 and zonenwert z. NoCells when the subbasin has no
// zone or no weight (nothing is changed then); FirstZoneEmpty when zone 1
// has no share.
ZoneShareStatus ShareZoneWeights(FlowTimeZones &direct, FlowTimeZones &inter, int k);

// The shares of every subbasin 1..n (codes[k] its zone code) in turn, with
// the report "<heading>" and a FlowTimeDistributionLine per subbasin shared.
// Stops at the first subbasin without cells (exit code 6, "all cells in
// <flowFileName>, subbasin <code> are NODATA!", not reported) or after the
// first whose first zone is empty (61, "in flow-travel-time grid: the first
// time zone of subbasin <k> has no cells!"); failure 0 when all are sound.
struct ZoneShareOutcome {
  std::string Report;
  int Failure = 0;
  std::string Message;
};
ZoneShareOutcome ShareSubbasinZones(FlowTimeZones &direct, FlowTimeZones &inter,
                                    std::span<const int> codes, std::string_view heading,
                                    std::string_view flowFileName);

// One flow-time grid serves both components: the interflow zones 0..maxZone[k]
// of subbasins 1..n take the direct-runoff zones' cell counts and weights.
void CopyZoneCounts(const FlowTimeZones &direct, FlowTimeZones &inter, int n,
                    std::span<const int> maxZone);

// After the shares: both components weigh every cell once per sub-step, and
// only rank 0 keeps the sums (the delay line lives there alone).
void WeighZonesPerSubstep(FlowTimeZones &direct, FlowTimeZones &inter, int substepCount, int rank);

// The line of the flow-time distribution report of one subbasin:
// "TG\t%4d\t(%3d\tZonen):" with its code and largest zone, "\t%5.3f" per
// share, and a line break.
std::string FlowTimeDistributionLine(int code, int maxZone, std::span<const double> shares);

// The storage factor exp(-stepMinutes / storageMinutes) of a linear storage;
// 0 when surface routing applies the storage itself.
double StorageFactor(double stepMinutes, double storageMinutes, bool surfaceRoutingActive);

// The outflow of a linear storage at the end of a step: inflow (1 - a) +
// a previousOutflow, all in mm per step.
inline double LinearStorageOutflow(double inflow, double previousOutflow, double a) {
  return inflow * (1.0 - a) + a * previousOutflow;
}

// The water held by a linear storage whose outflow is Q at the storage
// factor a (mm): a / (1 - a) Q, so that inflow - outflow of every step is its
// change; none when a is 0 (the inflow passes through).
inline double LinearStorageContent(double outflow, double a) {
  return a > 0.0 ? a / (1.0 - a) * outflow : 0.0;
}

// The balance of one subbasin's concentration in one step (mm): what leaves
// the zones (direct runoff and interflow) and the mean baseflow, what leaves
// the storages and the baseflow passed on, and the storages' content before
// and after.
struct SubbasinRunoffBalance {
  double inflow = 0.0;
  double outflow = 0.0;
  double storageBefore = 0.0;
  double storageAfter = 0.0;
  double Residual() const { return inflow - outflow - (storageAfter - storageBefore); }
};

// The outflow of a zone: sx / RelCellSum, 0 when RelCellSum is not above 0.
double ZoneOutflow(const ZoneRecord &zone);

// The mean baseflow of a subbasin (mm): sx / RelCellSum; 0 when that is
// negative or undefined (a supply is not delivered as runoff).
double MeanBaseflow(double sx, double relCellSum);

} // namespace tavro
