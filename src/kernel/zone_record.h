// One record of a zone table or a zonal statistics table: five contiguous
// doubles, reduced over MPI as such (n, sx and RelCellSum add up; zonenwert
// and rel are kept).
#pragma once

namespace tavro {

struct ZoneRecord {
  double n = 0.0;          // count of added cells, as a sum of weights
  double sx = 0.0;         // weighted sum of the values
  double zonenwert = 0.0;  // zone code or value
  double rel = 0.0;        // relative area
  double RelCellSum = 0.0; // sum of cell weights
};

static_assert(sizeof(ZoneRecord) == 5 * sizeof(double), "reduced as five contiguous doubles");

} // namespace tavro
