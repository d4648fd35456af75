// Irrigation of one cell and one step: the amount its irrigation code asks
// for (a dated table, or on demand by the root-zone water state or by the
// ratio of real to potential evapotranspiration), limited by what its source
// can give; and the tracer concentration of the water that reaches the cell.
// Plain values in and out.
#pragma once

#include <cstdint>

namespace tavro {

struct IrrigationTableEntry;

// What one cell offers to the demand methods.
struct IrrigationCellState {
  double previous = 0.0;   // the cell's amount of the last step, mm
  double sb1 = 0.0;        // root-zone water state
  double sbLow = 0.0;      // its dry threshold
  double sbHigh = 0.0;     // its wet threshold
  double rootDepth = 0.0;  // m
  double etr2etp = 1.0;    // real / potential evapotranspiration
  double maxPumping = 0.0; // mm that groundwater can deliver
  double external = 0.0;   // the value delivered by the input grid (methods above 4)
};

// The amount (mm per step of dtMinutes) that the entry's method asks for on
// the given date, before its origin limits it.
double IrrigationDemand(const IrrigationTableEntry &entry, const IrrigationCellState &cell,
                        double dtMinutes, int month, int day);

// The amount after the origin's limit: groundwater gives at most maxPumping.
double LimitByOrigin(int origin, double amount, double maxPumping);

// The concentration of the water reaching the cell: precipitation P with
// concentration cIn mixed with irrigation I of concentration cSource (the
// soil's for groundwater, the river's for surface water; cells of other
// origins keep their value and do not call this).
double IrrigatedConcentration(double precipitation, double cIn, double irrigation, double cSource);

} // namespace tavro
