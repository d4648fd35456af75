// Statistics table and storage-grid reading of the modules' tracer records.
#include "raster/handover/tracer_grid_hooks.h"

#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/teilmodellklasse.h"
#include "kernel/tracer_info.h"
#include "raster/output/module_statistic.h"
#include "raster/output/zonal_statistic.h"

#include <algorithm>
#include <memory>
#include <span>

namespace tavro {
namespace {

void CreateStatistics(teilmodellklasse &module, TracerRecord &record, int tracer,
                      const TracerInfo &info, StatisticsRegistry *registry, int capacity) {
  int error = 0;
  auto table = std::make_shared<zonalstatistic>(
      error, *module.Log, registry, capacity, module.CellWeights, module.NRows, module.NCols,
      std::span<ZoneRecord>(record.ZoneConcentrations), info.statcode,
      zonalstatistic::SignificantDigits, record.StatisticsFileName, module.DefaultOutputDirectory,
      OutputCodes(module), module.NoData);
  if (error != 0)
    throw error;
  record.Statistics = table;
  table->WriteHeader(Concat("tracer concentration for tracer ", tracer, " (", info.name, ") "),
                     module.ModuleName, registry, capacity);
}

void ReleaseStatistics(TracerRecord &record) {
  const std::shared_ptr<zonalstatistic> table = std::move(record.Statistics);
  if (table)
    table->ReleaseMemory();
}

void ReadStorageGrid(teilmodellklasse &module, TracerRecord &record) {
  module.ReadGrid(record.GridFileName, record.StorageGrid, 1, true, true, 0.0, true, true, false,
                  true);
}

} // namespace

void InstallTracerGridHooks(GridRegistry &registry) {
  registry.TracerHooks.CreateStatistics = CreateStatistics;
  registry.TracerHooks.ReleaseStatistics = ReleaseStatistics;
  registry.TracerHooks.ReadStorageGrid = ReadStorageGrid;
}

} // namespace tavro
