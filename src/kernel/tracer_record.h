// What a module keeps for each tracer it carries: the decay factor for its
// own time step, the concentration statistics per zone, and the storage- and
// flux-concentration grids it registers in the grid registry. Built by
// teilmodellklasse::InitTracerGrids, released by FinishTracerGrids.
//
// The statistics table and the reading of a storage grid are raster code,
// which the kernel does not link: the raster code installs the few operations
// the records need in the run's grid registry (TracerGridHooks), as it does
// the immediate grid output.
#pragma once

#include "kernel/grid.h"
#include "kernel/zone_record.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

class zonalstatistic;
class StatisticsRegistry;
class teilmodellklasse;
struct TracerInfo;

struct TracerRecord {
  // Fraction of the tracer left after one time step of the module (1 for a
  // tracer that does not decay). Modules that decay per sub-step compute
  // their own factor.
  double DecayFactor = 1.0;
  // Concentration statistics per zone 0..ZoneCount: zonenwert and rel from
  // the module's zone table. The statistics table works on these records.
  std::vector<ZoneRecord> ZoneConcentrations;
  // The tracer's concentration statistics table; owned by this record alone
  // (shared_ptr only so that the kernel can destroy it without its type).
  std::shared_ptr<zonalstatistic> Statistics;
  std::string StatisticsFileName;
  std::string GridFileName;
  int StorageGridIndex = 0; // registry entry of "concstor_tracer_<i>_<module>"
  int FluxGridIndex = 0;    // registry entry of "concflux_tracer_<i>_<module>"
  Grid StorageGrid;         // concentration of the module's storage
  Grid FluxGrid;            // concentration of the module's outflow
};

// File name of a tracer's statistics or grid file: the path, the first three
// characters of the tracer name, the first five of the module name, a point
// and the first three of the extension ("%s%.3s%.5s.%.3s"): out/chlsnow_.sta.
std::string TracerFileName(std::string_view path, std::string_view tracerName,
                           std::string_view moduleName, std::string_view extension);

// The raster operations of the tracer records (InstallTracerGridHooks).
struct TracerGridHooks {
  // Builds record.Statistics over record.ZoneConcentrations with the tracer's
  // statcode and record.StatisticsFileName and writes its header; a failure
  // throws its exit code.
  std::function<void(teilmodellklasse &module, TracerRecord &record, int tracer,
                     const TracerInfo &info, StatisticsRegistry *registry, int capacity)>
      CreateStatistics;
  // Writes the table's remaining rows and deletes it.
  std::function<void(TracerRecord &record)> ReleaseStatistics;
  // Reads record.StorageGrid from record.GridFileName: holes filled from the
  // nearest values (0 where there are none), the whole raster on rank 0, the
  // strip with its halo rows elsewhere.
  std::function<void(teilmodellklasse &module, TracerRecord &record)> ReadStorageGrid;

  bool Installed() const { return CreateStatistics && ReleaseStatistics && ReadStorageGrid; }
};

} // namespace tavro
