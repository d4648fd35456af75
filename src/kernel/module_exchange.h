// Arrays that one module hands to others through the application's wiring
// (a getter of the owner, a setter of the user). The owner allocates and
// frees them; the application and the receiving modules only keep the
// pointer. Kept in the kernel because module libraries never include one
// another's headers.
#pragma once

#include "kernel/one_based_array.h"
#include "kernel/zone_record.h"

#include <array>

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
// interflow (Kelsqd, Kelsqi) and the irrigation limits from rivers and
// reservoirs (MaxIrrig, MaxIrrigFromReservoirs).
struct SubbasinValues {
  OneBasedArray<double> Values;
};

// The per-subbasin river exchange of the soil-water module.
struct riverflow_table {
  OneBasedArray<double> Exchange; // subbasins 1..count
};

// Routing target (subbasin) of the water taken for irrigation, per subbasin.
struct RoutingTargets {
  OneBasedArray<int> Targets;
};

// Discharge relations of the routing elements (Abfrel), per subbasin.
struct DischargeRelations {
  OneBasedArray<double> Relations;
};

// Irrigation amounts per subbasin, owned by the irrigation module.
struct IrrigationAmounts {
  OneBasedArray<double> Values;
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
