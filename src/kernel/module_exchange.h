// Arrays that one module hands to others through the application's wiring
// (a getter of the owner, a setter of the user). The owner allocates and
// frees them; the application and the receiving modules only keep the
// pointer. Kept in the kernel because module libraries never include one
// another's headers.
#pragma once

#include "kernel/one_based_array.h"
#include "kernel/zone_record.h"

#include <array>
#include <cassert>
#include <cstddef>
#include <vector>

namespace tavro {

// Runoff per subbasin: component 0 is water, 1..9 the tracers; each array is
// indexed by subbasin 1..count (element 0 unused). Qg and QBb have this form.
struct SubbasinRunoffArrays {
  static constexpr int ComponentCount = 10;
  std::array<OneBasedArray<double>, ComponentCount> Components;

  // Zero-filled arrays for subbasins 1..subbasinCount.
  void Resize(int subbasinCount) {
    for (auto &component : Components)
      component.Resize(static_cast<std::size_t>(subbasinCount < 0 ? 0 : subbasinCount), 0.0);
  }
  int SubbasinCount() const { return static_cast<int>(Components[0].Count()); }
};

// One value per subbasin 1..count: the storage constants of direct runoff and
// interflow (Kelsqd, Kelsqi).
struct SubbasinValues {
  OneBasedArray<double> Values;
};

// The river of one subbasin as the routing delivers it, and the water that
// the soil's river cells take from it in the current step.
struct RiverflowRecord {
  // [0] inflow into the channel from this subbasin, mm per step; [k] the
  // concentration of tracer k.
  std::array<double, 10> flow_mm{};
  double flowm3s = 0.0;  // the same flow, m3/s
  double speed = 0.0;    // mean flow velocity of the channel, m/s
  double area = 0.0;     // catchment area of the channel, km2
  double exchange = 0.0; // taken by river cells: m3/s while booked, mm per step once converted
  int routingNumber = 0; // routing subbasin (1-based) that routes this subbasin; 0 none
  int channelIndex = 0;  // channel of that routing subbasin receiving this subbasin
};

// The river exchange table: one zeroed record per subbasin index 0..count of
// the soil-model zone table, allocated by the soil-water module only when the
// groundwater module is coupled.
struct riverflow_table {
  OneBasedArray<RiverflowRecord> Records; // 0..count
};

// The irrigation limits of the routing (maxirrig, maxirrigFromReservoirs):
// [tracer 0..n][subbasin 0..nsub] in one zero-filled block; tracer 0 is the
// water (mm per step), 1..n the concentrations.
class IrrigationLimits {
public:
  void Resize(int tracerCount, int subbasinCount) {
    tracers_ = tracerCount < 0 ? 0 : tracerCount;
    subbasins_ = subbasinCount < 0 ? 0 : subbasinCount;
    values_.assign(
        static_cast<std::size_t>(tracers_ + 1) * static_cast<std::size_t>(subbasins_ + 1), 0.0);
  }
  int TracerCount() const { return tracers_; }
  int SubbasinCount() const { return subbasins_; }
  // The row of one tracer, indexed by subbasin 0..SubbasinCount().
  double *operator[](int tracer) { return values_.data() + RowStart(tracer); }
  const double *operator[](int tracer) const { return values_.data() + RowStart(tracer); }

private:
  std::size_t RowStart(int tracer) const {
    assert(tracer >= 0 && tracer <= tracers_);
    return static_cast<std::size_t>(tracer) * static_cast<std::size_t>(subbasins_ + 1);
  }
  std::vector<double> values_;
  int tracers_ = 0;
  int subbasins_ = 0;
};

// The routing network by subbasin index (the zone index of a code).
struct RoutingTargets {
  // [0]: the subbasin indices of all tributaries in reading order (OL, then
  // SUMTRIB with its "&" list, description after description); 0 = unused.
  // At least 2 x nsub entries, more when the descriptions name more.
  OneBasedArray<int> Tributaries;
  // [1]: for a tributary, the index of the subbasin it flows into; 0 = none.
  OneBasedArray<int> Target;
  // [2]: the number (1..count) of the subbasin's routing description; 0 = none.
  OneBasedArray<int> Description;
};

// Areas of the subbasins for the routing and irrigation, entries 0..nsub.
struct DischargeRelations {
  // [0]: entry 0 the total area in km2, entry j the relative area of
  // subbasin j (its whole upstream area once a routing description covers
  // it), so that RelativeArea[0] x RelativeArea[j] is an area in km2.
  OneBasedArray<double> RelativeArea;
  // [1]: area factors, 1.0 unless a routing description sets its factor.
  OneBasedArray<double> AreaFactor;
};

// Irrigation amounts per subbasin, owned by the irrigation module: the
// surface-water zone records 0..count of the step (on the routing process),
// sx the weighted sum of the applied amounts (mm), RelCellSum the weight
// sum, rel the relative area; entry 0 holds the total area (km2) in rel.
struct IrrigationAmounts {
  OneBasedArray<ZoneRecord> Records;
  // The mean amount of subbasin i (mm over the subbasin), 0 without cells.
  double Mean(int i) const {
    const ZoneRecord &r = Records[static_cast<std::size_t>(i)];
    return r.RelCellSum > 0.0 ? r.sx / r.RelCellSum : 0.0;
  }
};

// The region table of the set-up (codes to regions, region records), as a
// non-owning view. Empty without a region grid.
struct RegionTableRef {
  const OneBasedArray<int> *CodeToRegion = nullptr; // codes 1..MaxCode
  const OneBasedArray<ZoneRecord> *Records = nullptr;
  int Count = 0;
  int MaxCode = 0;
};

} // namespace tavro
