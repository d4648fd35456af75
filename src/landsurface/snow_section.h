// The values of the control-file section "[snow_model]" after the flow
// control parameter and the time interval: the melt method and its
// parameters, the file names and writecodes of the module's grids, the files
// and codes of its statistics, the state-grid switch and, for the methods
// above 4, the slide, deposition and energy-balance values with their checks.
#pragma once

#include "landsurface/snow/snow_pack.h"
#include "raster/output/module_statistic.h"

#include <string>
#include <string_view>

namespace tavro {

class modelobject;

struct SnowGridFile {
  std::string FileName;
  int Writecode = 0;
};

struct SnowSection {
  static constexpr int ShortLineExitCode = 404;
  static constexpr int DepositionSlopeExitCode = 405;
  static constexpr int DepositionFactorExitCode = 406;
  static constexpr int SlideSlopeExitCode = 407;
  static constexpr int SlideFractionExitCode = 408;

  // Method, thresholds, melt factors, holding capacity and the energy-balance
  // factors (whose defaults hold for the methods up to 4).
  snow::SnowParameters Pack;
  double z0 = 0.0; // read, used by no computation
  double RMFMIN = 0.0;
  double RMFMAX = 0.0;
  double ALBsnow_min = 0.0;
  double ALBsnow_max = 0.0;

  SnowGridFile Rain; // "rain_fraction"
  StatisticsFile RainTable;
  SnowGridFile Snow; // "snow_fraction"
  StatisticsFile SnowTable;
  SnowGridFile SnowDays; // "days_snow"
  StatisticsFile SnowDaysTable;
  SnowGridFile SnowAge; // "snow_age"
  StatisticsFile SnowAgeTable;
  StatisticsFile AlbedoTable;
  SnowGridFile Outflow; // "snowcover_outflow"
  StatisticsFile OutflowTable;
  SnowGridFile MeltOutflow; // "melt_from_snowcover"
  StatisticsFile MeltOutflowTable;
  SnowGridFile Solid;  // "snowstorage_solid"
  SnowGridFile Liquid; // "snowstorage_liquid"
  StatisticsFile StorageTable;
  SnowGridFile Total; // "snow_storage_total"
  int ReadGrid = 0;   // 1: the state grids are read from their files

  // Methods above 4 only.
  SnowGridFile SnowTemperature; // "snowtemp"
  StatisticsFile SnowTemperatureTable;
  SnowGridFile SurfaceTemperature; // "surftemp"
  StatisticsFile SurfaceTemperatureTable;
  SnowGridFile InputMass; // "input_mass"
  StatisticsFile InputMassTable;
  SnowGridFile MobileMass; // "mobile_mass"
  StatisticsFile MobileMassTable;
  SnowGridFile Deposition; // "deposition"
  StatisticsFile DepositionTable;
  double MaxDepositionSlope = 55.0; // degrees
  double MaxDepositionFactor = 1.0;
  double MinSlideSlope = 30.0; // degrees
  double SlideMassFrac = 0.01;
};

// A grid's file name and writecode, and a statistics table's file name and
// code, each read with the label of its row.
void ReadGridFile(modelobject &module, SnowGridFile &file, std::string_view nameLabel,
                  std::string_view codeLabel);
void ReadTableFile(modelobject &module, StatisticsFile &file, std::string_view label);

// Reads the section on from the module's open control file (positioned after
// the time interval). Every value is checked right after it is read: an
// unreadable one is the control-file error (17), a method outside 1..14 is 17,
// a short snow-temperature line 404, values out of their bounds 405 to 408.
// A missing EnBalScaling logs a WARNING and keeps 1.0.
SnowSection ReadSnowSection(modelobject &module);

} // namespace tavro
