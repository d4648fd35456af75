// The set-up step that makes the slope and aspect grids from the elevation
// model, with the filling of their gaps.
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "setup/defaultini.h"
#include "setup/derived_file_names.h"
#include "setup/slope_aspect.h"

namespace tavro {

void defaultini::make_Slope_and_Aspect() {
  const int elevationIndex = FindGrid(kElevationIdentifier, false);
  if (elevationIndex == 0)
    return;
  int aspectIndex = FindGrid("slope_aspect", false);
  int slopeIndex = FindGrid("slope_angle", false);
  const bool makeSlope = slopeIndex == 0;
  const bool makeAspect = aspectIndex == 0;
  if (!makeSlope && !makeAspect)
    return;
  const std::string source = (*Registry)[elevationIndex].FileName;
  if (makeSlope)
    slopeIndex = CreateDerivedGrid("slope_angle", DerivedFileName(source, "$sl"),
                                   "no free grid found in memeory", ")");
  if (makeAspect)
    aspectIndex = CreateDerivedGrid("slope_aspect", DerivedFileName(source, "$ex"),
                                    "no free grid left", ")\n");
  Log->Entry(
      Concat("calculating the lokal topography (aspect, slope ...).. ", DiagnosticsLog::EndToken));

  // Rank 0 holds the whole elevation model: it computes every cell, so that
  // the gap filling sees true neighbours across the strips of the processes.
  if (MPIRank == 0) {
    const Grid &elevation = *(*Registry)[elevationIndex].Data;
    Grid *slope = makeSlope ? (*Registry)[slopeIndex].Data : nullptr;
    Grid *aspect = makeAspect ? (*Registry)[aspectIndex].Data : nullptr;
    const RasterGeometry geometry{NCols, NRows, XllCorner, YllCorner, CellSize, NoData};
    ComputeSlopeAndAspect(elevation, geometry, slope, aspect);
    // In place and in raster order: a filled cell counts for the cells after
    // it. A cell whose only neighbours get their values after it (a tail of
    // the catchment reaching up into the no-data area) is filled by a further
    // pass; the passes end when one fills nothing more.
    while (FillTerrainGaps(elevation, slope, aspect) > 0) {
    }
  }
  for (const auto &[index, made] : {std::pair{aspectIndex, makeAspect}, {slopeIndex, makeSlope}})
    if (made) {
      DistributeFromRoot(index);
      WriteOnce(index);
    }
}

long defaultini::FillTerrainGaps(const Grid &elevation, Grid *slope, Grid *aspect) {
  long filled = 0;
  const auto fill = [&](long r, long c, Grid *grid, NeighbourMean mean) {
    if (grid == nullptr || (*grid)[r][c] != NoData)
      return;
    FillNodataFromNeighbours(r, c, *grid, mean);
    filled += (*grid)[r][c] != NoData ? 1 : 0;
  };
  for (long r = 1; r <= NRows; ++r)
    for (long c = 1; c <= NCols; ++c) {
      if (elevation[r][c] == NoData)
        continue;
      fill(r, c, aspect, NeighbourMean::Circular);
      fill(r, c, slope, NeighbourMean::Arithmetic);
    }
  return filled;
}

void defaultini::FillNodataFromNeighbours(long row, long column, Grid &grid, NeighbourMean mean) {
  const RasterGeometry geometry{NCols, NRows, XllCorner, YllCorner, CellSize, NoData};
  if (const auto value = MeanOfNeighbours(grid, row, column, geometry, mean))
    grid[row][column] = *value;
}

} // namespace tavro
