// What the radiation correction needs to be constructed in a test: its section
// in the control-file copy, and the set-up grids of a small terrain (zone grid
// at entry 1, elevation model at entry 2, "slope_angle" and "slope_aspect"
// from the elevation by central differences) plus named input grids such as
// "temperature" and "sunshine_duration".
#pragma once

#include "kernel/grid.h"
#include "kernel/grid_registry.h"
#include "setup/slope_aspect.h"
#include "support/setup_grids.h"

#include <deque>
#include <functional>
#include <string>

namespace tavro::test {

// Positions 3 to 12 of "[radiation_correction]".
struct RadiationCorrectionValues {
  int method = 2;
  std::string temperatureFile = "tcorr.asc";
  int temperatureWritecode = 0;
  double scaling = 1.0;
  std::string correctionFile = "exkorr.asc";
  int correctionWritecode = 0;
  std::string shadowFile = "shape.asc";
  int shadowWritecode = 0;
  int steps = 1;
  int splittings = 24;
};

// The lines of positions 3 to 12.
inline std::string RadiationCorrectionLines(const RadiationCorrectionValues &v) {
  return std::to_string(v.method) + " method\n" + v.temperatureFile + " tkorr grid\n" +
         std::to_string(v.temperatureWritecode) + " its writecode\n" + std::to_string(v.scaling) +
         " scaling factor\n" + v.correctionFile + " exkorr grid\n" +
         std::to_string(v.correctionWritecode) + " its writecode\n" + v.shadowFile +
         " shape grid\n" + std::to_string(v.shadowWritecode) + " its writecode\n" +
         std::to_string(v.steps) + " number of time steps\n" + std::to_string(v.splittings) +
         " number of splittings\n";
}

inline std::string RadiationCorrectionSection(int flowControl, double minutes,
                                              const RadiationCorrectionValues &v = {}) {
  return "[radiation_correction]\n" + std::to_string(flowControl) + " flow control parameter\n" +
         std::to_string(minutes) + " time interval\n" + RadiationCorrectionLines(v);
}

using CellFunction = std::function<double(long row, long column)>;

// Slope and aspect of a cell by the central differences of its neighbours.
inline SlopeAspect TerrainSlope(const CellFunction &elevation, long r, long c, double cellSize) {
  const double twoCells = 2.0 * cellSize;
  return SlopeAndAspect((elevation(r, c + 1) - elevation(r, c - 1)) / twoCells,
                        (elevation(r - 1, c) - elevation(r + 1, c)) / twoCells);
}

// The set-up grids over the held rows of raster, registered in registry.
class TerrainGrids {
public:
  TerrainGrids(DiagnosticsLog &log, GridRegistry &registry, const SetupRaster &raster,
               const CellFunction &zone, const CellFunction &elevation)
      : setup(log, raster, zone, elevation), log_(log), registry_(registry), raster_(raster) {
    setup.Register(registry);
    const double cell = raster.cellSize;
    Add("slope_angle", [&](long r, long c) { return TerrainSlope(elevation, r, c, cell).Slope; });
    Add("slope_aspect", [&](long r, long c) { return TerrainSlope(elevation, r, c, cell).Aspect; });
  }

  // A grid over the held rows under its identifier at the first free entry.
  Grid &Add(const std::string &identifier, const CellFunction &value) {
    Grid &grid =
        grids_.emplace_back(raster_.firstRow, raster_.lastRow, raster_.ncols, raster_.nrows, log_);
    Set(grid, value);
    registry_.AddGrid(registry_.FirstFreeIndex(), identifier, &grid, nullptr, 1, identifier, 0,
                      raster_.firstRow, raster_.lastRow, raster_.ncols, raster_.nrows, log_);
    return grid;
  }

  void Set(Grid &grid, const CellFunction &value) const {
    for (long r = raster_.firstRow; r <= raster_.lastRow; ++r)
      for (long c = 1; c <= raster_.ncols; ++c)
        grid[r][c] = value(r, c);
  }

  SetupGrids setup;

private:
  DiagnosticsLog &log_;
  GridRegistry &registry_;
  SetupRaster raster_;
  std::deque<Grid> grids_; // stable addresses for the registry
};

} // namespace tavro::test
