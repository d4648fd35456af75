// The supply of surface-water irrigation per subbasin: the demand (volume
// over the subbasin's area, as mm) is met first from the subbasin's
// reservoirs, then from its river; what the river gives lowers the river
// flow of the subbasin and of every subbasin below it. The result is the
// fraction of the demand each subbasin's surface-water cells receive.
#pragma once

#include "kernel/module_exchange.h"

#include <vector>

namespace tavro {

struct SubbasinSupply {
  double demandVolume = 0.0; // m3 asked for by the surface-water cells
  double area = 0.0;         // km2 of the subbasin itself
  double reservoir = 0.0;    // M: reservoir water available, mm over the area
  double river = 0.0;        // X: river water available, mm over the area
  int target = 0;            // index of the subbasin it drains into, 0 none
  // Results
  double demand = 0.0;        // D, mm
  double fromReservoir = 0.0; // R, mm
  double fromRiver = 0.0;     // W, mm
  double supplyRatio = 1.0;   // W / (D - R), 1 without a river demand
  double fraction = 0.0;      // (R + W) / D, 0 without demand
};

// Subbasins 1..n (entry 0 unused). Every subbasin withdraws once, at itself,
// upstream subbasins first; the records of it and of the subbasins below it
// lose the withdrawn water (flows never below 0). dtMinutes is the step.
void SupplySubbasins(std::vector<SubbasinSupply> &subbasins, riverflow_table *table,
                     double dtMinutes);

} // namespace tavro
