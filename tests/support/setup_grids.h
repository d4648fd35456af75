// The set-up grids that the interpolators and modules look up, built by a
// test for its own small raster: the zone grid (registry entry 1), the
// elevation model (entry 2), "RelCellArea", "CoordX" and "CoordY" (the
// lower-left corner of every cell, rows counted from the top), and the zone
// tables of the zone codes 1..zoneCount.
#pragma once

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "kernel/grid_registry.h"
#include "kernel/module_settings.h"
#include "kernel/one_based_array.h"
#include "kernel/zone_record.h"

#include <functional>
#include <string>

namespace tavro::test {

struct SetupRaster {
  long nrows = 3;
  long ncols = 4;
  int zoneCount = 1; // zone codes 1..zoneCount
  long firstRow = 1; // rows held
  long lastRow = 3;
  double xll = 0.0;
  double yll = 0.0;
  double cellSize = 1000.0;
};

class SetupGrids {
public:
  // zoneCode(row, column): the zone code of a cell (-9999 outside);
  // elevation(row, column) likewise.
  SetupGrids(DiagnosticsLog &log, const SetupRaster &raster,
             const std::function<double(long, long)> &zoneCode = {},
             const std::function<double(long, long)> &elevation = {})
      : raster_(raster), log_(log) {
    const auto make = [&] {
      return Grid(raster.firstRow, raster.lastRow, raster.ncols, raster.nrows, log);
    };
    zone = make();
    height = make();
    cellArea = make();
    coordX = make();
    coordY = make();
    for (long r = raster.firstRow; r <= raster.lastRow; ++r)
      for (long c = 1; c <= raster.ncols; ++c) {
        zone[r][c] = zoneCode ? zoneCode(r, c) : 1.0;
        height[r][c] = elevation ? elevation(r, c) : 500.0;
        cellArea[r][c] = 1.0;
        coordX[r][c] = raster.xll + static_cast<double>(c - 1) * raster.cellSize;
        coordY[r][c] = raster.yll + static_cast<double>(raster.nrows - r) * raster.cellSize;
      }
  }

  // The settings of a variable on this raster: log, name, control file,
  // registry, geometry and the zone tables.
  void FillSettings(ModuleSettings &settings, GridRegistry &registry, const std::string &name,
                    const std::string &controlFile) {
    settings.Log = &log_;
    settings.ModuleName = name;
    settings.ControlFileName = controlFile;
    settings.Registry = &registry;
    settings.NCols = static_cast<int>(raster_.ncols);
    settings.NRows = static_cast<int>(raster_.nrows);
    settings.FirstRow = static_cast<int>(raster_.firstRow);
    settings.LastRow = static_cast<int>(raster_.lastRow);
    settings.XllCorner = raster_.xll;
    settings.YllCorner = raster_.yll;
    settings.CellSize = raster_.cellSize;
    FillZoneTables(settings);
  }

  // The zone tables of the codes 1..zoneCount (record k holds code k).
  void FillZoneTables(ModuleSettings &settings) {
    const auto count = static_cast<std::size_t>(raster_.zoneCount);
    zoneIndex = OneBasedArray<int>(count, 0);
    zoneTable = OneBasedArray<ZoneRecord>(count);
    for (std::size_t k = 1; k <= count; ++k) {
      zoneIndex[k] = static_cast<int>(k);
      zoneTable[k].zonenwert = static_cast<double>(k);
    }
    settings.ZoneIndex = &zoneIndex;
    settings.ZoneTable = &zoneTable;
    settings.ZoneCount = raster_.zoneCount;
    settings.MaxZoneCode = raster_.zoneCount;
  }

  // Entries 1 and 2, then "RelCellArea", "CoordX", "CoordY" at the given ones.
  void Register(GridRegistry &registry, int cellAreaIndex = 3, int coordXIndex = 4,
                int coordYIndex = 6) {
    const auto add = [&](int index, Grid &grid, const char *identifier) {
      registry.AddGrid(index, identifier, &grid, nullptr, 1, identifier, 0, raster_.firstRow,
                       raster_.lastRow, raster_.ncols, raster_.nrows, log_);
    };
    add(1, zone, "zones.asc");
    add(2, height, "elevation");
    if (cellAreaIndex > 0)
      add(cellAreaIndex, cellArea, "RelCellArea");
    if (coordXIndex > 0)
      add(coordXIndex, coordX, "CoordX");
    if (coordYIndex > 0)
      add(coordYIndex, coordY, "CoordY");
  }

  Grid zone, height, cellArea, coordX, coordY;
  OneBasedArray<int> zoneIndex;
  OneBasedArray<ZoneRecord> zoneTable;

private:
  SetupRaster raster_;
  DiagnosticsLog &log_;
};

} // namespace tavro::test
