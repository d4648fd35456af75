// The glacier share of the subbasins.
#include "landsurface/glacier/glacier_subbasins.h"

namespace tavro::glacier {

void CountGlacierShare(const Grid &subbasins, const Grid &glacier, long rows, long columns,
                       double noData, const std::function<int(double)> &subbasinOf,
                       std::vector<GlacierSubbasinRecord> &records) {
  for (GlacierSubbasinRecord &r : records)
    r = GlacierSubbasinRecord{};
  for (long r = 1; r <= rows; ++r)
    for (long c = 1; c <= columns; ++c) {
      const double zone = subbasins[r][c];
      if (!(zone > noData))
        continue;
      const int k = subbasinOf(zone);
      if (k < 0 || static_cast<std::size_t>(k) >= records.size())
        continue;
      double f = glacier[r][c];
      GlacierSubbasinRecord &record = records[static_cast<std::size_t>(k)];
      if (f > 1.0) {
        f = 1.0;
        record.HasGlacier = true;
      } else if (f < 0.0) {
        f = 0.0;
      } else if (f > 0.0) {
        record.HasGlacier = true;
      }
      record.Glacierized += f;
      record.Unglacierized += 1.0 - f;
    }
}

} // namespace tavro::glacier
