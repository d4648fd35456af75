// The glacier table from the glacier-fraction grid.
#include "soil/glacier_table.h"

#include <cmath>

namespace tavro {

OneBasedArray<GlacierRecord> BuildGlacierTable(const Grid &subbasins, const Grid &glacier,
                                               const SubbasinRanks &codes, long rows, long columns,
                                               double noData) {
  OneBasedArray<GlacierRecord> table(static_cast<std::size_t>(codes.Count));
  for (long r = 1; r <= rows; ++r) {
    if (!subbasins.HasRow(r) || !glacier.HasRow(r))
      continue;
    for (long c = 1; c <= columns; ++c) {
      const double code = subbasins[r][c];
      if (code == noData)
        continue;
      const int rank = codes.RankOf(std::lround(code));
      if (rank == 0)
        continue;
      GlacierRecord &record = table[static_cast<std::size_t>(rank)];
      const double g = glacier[r][c];
      if (g > 0.0) {
        record.HasGlacier = true;
        record.GlacierSum += g;
        record.UnglacierizedSum += 1.0 - g;
      } else {
        record.UnglacierizedSum += 1.0;
      }
    }
  }
  return table;
}

} // namespace tavro
