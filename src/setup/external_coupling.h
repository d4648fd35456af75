// External coupling: the model runs in step with an external model (for
// instance a groundwater model) on one process, the two taking turns through
// files. The settings of "[ExternalCoupling]", the grids read from the
// partner, the grids and statistics written for it with their accumulators,
// and the pure rules for writecodes, file names and the statistics header.
// The file work itself is done by the set-up object (external_coupling.cpp).
#pragma once

#include "kernel/grid.h"
#include "raster/output/statistics_registry.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

// A grid of the partner read into an internal grid.
struct ExternalReadGrid {
  std::string fileName;
  std::string entity;     // identifier of the internal grid
  int fillCode = 0;       // fill mode of the grid reader
  int renameCode = 0;     // 1 rename after reading, 0 delete, other: keep
  Grid *target = nullptr; // bound by LinkExternalGrids
};

// An internal grid written for the partner.
struct ExternalWriteGrid {
  std::string fileName;
  std::string entity;
  std::string writecode;              // "Sum", "Mean", "SumTotal...", or anything else
  const Grid *source = nullptr;       // bound by LinkExternalGrids
  std::unique_ptr<Grid> accumulation; // whole raster, for "Sum", "Mean" and "SumTotal..."
};

// A zonal statistic written for the partner: a copy of its registry entry
// (sharing the table's latest values) and an accumulator of its own, so that
// binding changes no entry of the registry.
struct ExternalStatistic {
  std::string fileName;
  std::string entity; // text found in the statistic's title (blanks as '_')
  std::string writecode;
  StatisticsRegistryEntry record;
  std::vector<double> accumulator; // indexed like the record's values
};

struct ExternalCouplingSettings {
  int Mode = 0; // active only when 1
  std::string SemaphoreFile;
  long WaitInterval = 100; // processor-clock ticks between two looks
  char IntervalLetter = 'I';
  int ExternalTimeStep = 0; // minutes
  std::vector<ExternalReadGrid> ReadGrids;
  std::vector<ExternalWriteGrid> WriteGrids;
  std::vector<ExternalStatistic> Statistics;
  std::string OwnSemaphoreFile;
  std::string OwnSemaphoreContent;
  int StepsSinceExchange = 0;
};

inline constexpr std::size_t kMaxCouplingWritecodeLength = 49;

enum class CouplingWritecode { Sum, Mean, SumTotal, Plain };

// "Sum" and "Mean" exactly, any word beginning with "SumTotal", the rest.
CouplingWritecode ClassifyCouplingWritecode(std::string_view writecode);
inline bool Accumulates(CouplingWritecode kind) { return kind != CouplingWritecode::Plain; }

// The extra names under which a "SumTotal..." grid is written when a day,
// month or year has ended (in this order), from the row's file name split
// into its directory (up to the last '/' or '\') and its base.
std::vector<std::string> SumTotalEndOfPeriodNames(const std::string &fileName,
                                                  std::string_view writecode, long day, long month,
                                                  long year, bool dayEnded, bool monthEnded,
                                                  bool yearEnded);

// The first line of a statistics file: the title (the first 100 characters
// and "..." when longer), "; ", the zone count and " zones" (" Gebiete" for a
// shortened title), and a line break.
std::string CouplingStatisticsHeader(std::string_view title, int zoneCount);

// The value columns of a statistic that belong to zones: all but the areal
// mean (the last column) where the table has one.
long ZoneColumnsOf(const StatisticsRegistryEntry &record);

// Whether a title, with every blank replaced by '_', contains the entity.
bool TitleNamesEntity(std::string_view title, std::string_view entity);

} // namespace tavro
