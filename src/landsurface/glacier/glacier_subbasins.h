// The glacier share of every subbasin: whether it holds glacier, and the sums
// of the glacierized and glacier-free shares of its cells. The record is sent
// between processes as an MPI structure of a bool at byte 0 and two doubles
// at bytes 8 and 16.
#pragma once

#include "kernel/grid.h"

#include <array>
#include <cstddef>
#include <functional>
#include <vector>

namespace tavro::glacier {

struct GlacierSubbasinRecord {
  bool HasGlacier = false;
  // Named, so that records compare equal byte by byte on every process.
  std::array<unsigned char, 7> Padding{};
  double Glacierized = 0.0;   // sum of the glacierized shares of the cells
  double Unglacierized = 0.0; // sum of the glacier-free shares
};
static_assert(offsetof(GlacierSubbasinRecord, Glacierized) == 8 &&
                  offsetof(GlacierSubbasinRecord, Unglacierized) == 16 &&
                  sizeof(GlacierSubbasinRecord) == 24,
              "sent as a bool at byte 0 and doubles at bytes 8 and 16");

// Counts rows 1..rows over the whole raster into records 0..n (all reset
// first): a share above 1 counts as 1 and below 0 as 0; a share above 0 sets
// the flag. subbasinOf gives the record of a subbasin-grid value.
void CountGlacierShare(const Grid &subbasins, const Grid &glacier, long rows, long columns,
                       double noData, const std::function<int(double)> &subbasinOf,
                       std::vector<GlacierSubbasinRecord> &records);

// The glacierized share Z of a subbasin (0 when it holds no cell).
inline double GlacierizedShare(const GlacierSubbasinRecord &r) {
  const double all = r.Glacierized + r.Unglacierized;
  return all > 0.0 ? r.Glacierized / all : 0.0;
}

} // namespace tavro::glacier
