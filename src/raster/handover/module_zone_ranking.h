// The zone ranking that modules with per-subbasin tables of their own (soil
// water, snow) make of the grid "zonegrid_soilmodel": every distinct code
// becomes one zone, numbered 1..n ascending by code, with its cell count, its
// summed cell weights and its share of the total area. The ranking itself is
// pure work over the whole raster (rank 0); teilmodellklasse::RankZones
// (defined in teilmodellklasse_zone_ranking.cpp) runs it and broadcasts the
// result.
//
// The code of a cell is its value rounded to the nearest whole number, the
// same when zones are created and when their cells are counted.
#pragma once

#include "kernel/grid.h"
#include "kernel/one_based_array.h"
#include "kernel/zone_record.h"
#include "raster/parallel/mpi_regions.h"

#include <string>
#include <string_view>

namespace tavro {

inline constexpr const char *kSoilModelZoneGridName = "zonegrid_soilmodel";
inline constexpr int kHighestModuleZoneCode = 32767;
inline constexpr int kMaxModuleZoneCodes = 16000; // distinct codes the ranking holds
inline constexpr int kMaxModuleZones = 10000;     // zones a module may have
inline constexpr int kWrongZoneCodeExitCode = 3;
inline constexpr int kTooManyModuleZonesExitCode = 4;
inline constexpr int kAllZoneCellsNodataExitCode = 7;

// What is ranked and how it is named in the messages.
struct ModuleZoneGrid {
  const Grid &zone;                                         // rows 1..nrows that it holds
  const Grid *weights = nullptr;                            // none: every cell weighs 1
  const OneBasedArray<RowColumnRange> *rowRanges = nullptr; // none: every column
  RasterShape shape;
  double cellSize = 0.0; // m
  std::string_view fileName;
  std::string_view moduleName;
};

struct ModuleZoneRanking {
  OneBasedArray<ZoneRecord> Table; // records 0..Count
  OneBasedArray<int> Index;        // zone number of the codes 0..MaxCode, 0 when absent
  int Count = 0;
  int MaxCode = 0;
  int FailureCode = 0;        // 0 when the ranking succeeded
  std::string FailureMessage; // without "FATAL: "
};

// Ranks the cells whose value differs from nodata within each row's column
// range. Record 0 holds zonenwert 1 and, in rel, the total area in km2 (the
// summed weights times the squared cell size); record k holds the code in
// zonenwert, the summed weights in n and RelCellSum, the cell count in sx and
// its share of the summed weights in rel.
ModuleZoneRanking RankModuleZoneGrid(const ModuleZoneGrid &grid);

} // namespace tavro
