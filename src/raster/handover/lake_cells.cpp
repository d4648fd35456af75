// Selection and count of the lake cells.
#include "raster/handover/lake_cells.h"

#include "raster/parallel/mpi_decomposition.h"
#include "raster/parallel/strip_exchange.h"

#include <mpi.h>

namespace tavro {

Grid LakeCellMask(const MpiDecomposition &d, Grid &zoneGrid, Grid &lakeCodes, DiagnosticsLog &log) {
  const double nodata = d.shape.nodata;
  const StripRows rows = d.rank == 0 ? StripRows{1, d.shape.nrows} : d.strip;
  Grid mask(rows.first, rows.last, d.shape.ncols, d.shape.nrows, log);
  // Rank 0 needs the codes of every row; the others work on their strip.
  Grid wholeZones = GatherGridForOutput(d, zoneGrid, log);
  Grid wholeCodes = GatherGridForOutput(d, lakeCodes, log);
  const Grid &zones = d.rank == 0 ? wholeZones : zoneGrid;
  const Grid &codes = d.rank == 0 ? wholeCodes : lakeCodes;
  for (long r = rows.first; r <= rows.last; ++r) {
    double *out = mask[r];
    for (long c = 1; c <= d.shape.ncols; ++c) {
      const bool lake =
          zones.HasRow(r) && codes.HasRow(r) && zones[r][c] != nodata && codes[r][c] > nodata;
      out[c] = lake ? 1.0 : nodata;
    }
  }
  return mask;
}

std::vector<std::int64_t> CountMaskCellsPerRank(const MpiDecomposition &d, const Grid &mask) {
  std::vector<std::int64_t> counts(static_cast<std::size_t>(d.processCount), 0);
  std::int64_t own = 0;
  for (long r = d.strip.first; r <= d.strip.last; ++r) {
    if (!mask.HasRow(r) || !d.regions.HasRow(r))
      continue;
    const RowColumnRange range = d.rowRanges[static_cast<std::size_t>(r)];
    for (long c = range.first; c <= range.last && range.first >= 1; ++c)
      if (mask[r][c] > d.shape.nodata && static_cast<int>(d.regions[r][c]) == d.rank)
        ++own;
  }
  counts[static_cast<std::size_t>(d.rank)] = own;
  if (d.processCount > 1) {
    std::vector<std::int64_t> summed(counts.size(), 0);
    MPI_Reduce(counts.data(), summed.data(), static_cast<int>(counts.size()), MPI_INT64_T, MPI_SUM,
               0, MPI_COMM_WORLD);
    if (d.rank == 0)
      counts = summed;
    MPI_Bcast(counts.data(), static_cast<int>(counts.size()), MPI_INT64_T, 0, MPI_COMM_WORLD);
  }
  return counts;
}

} // namespace tavro
