// The common settings with which the application constructs every sub-model:
// one named struct in place of a long positional argument list. The set-up
// produces the values; every pointer is shared and never freed by a module.
#pragma once

#include "kernel/model_date.h"
#include "kernel/modelobject.h"
#include "kernel/one_based_array.h"
#include "kernel/zone_record.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tavro {

class DiagnosticsLog;
class GridRegistry;
class StatisticsRegistry;
struct RowColumnRange;
struct HydrologicResponseUnit;
class landuse_class;
class soil_class;
class multilayer_landuse_class;
struct IrrigationTableEntry;

struct ModuleSettings {
  DiagnosticsLog *Log = nullptr; // required
  StatisticsRegistry *Statistics = nullptr;
  int StatisticsCapacity = 200;
  // Fixed name of the module; its section is "[" + ModuleName + "]".
  std::string ModuleName;
  double Latitude = 0.0; // degrees ("[coordinates]")
  double Longitude = 0.0;
  double ReferenceMeridian = 0.0;
  double MinToIntEnd = 0.0; // minutes from the data's hour stamp to the step end
  double XllCorner = 0.0;
  double YllCorner = 0.0;
  double CellSize = 0.0;
  double NoData = -9999.0;
  std::string ControlFileName; // the substituted control-file copy
  int HourDivisor = 1;         // first "[output_interval]" value, at least 1
  int OutputListCount = 0;
  const OneBasedArray<int> *OutputList = nullptr; // codes 1..count
  GridRegistry *Registry = nullptr;
  // Zone table of the module's zone grid. Without ZoneIndex the module stays
  // off and reads nothing.
  OneBasedArray<int> *ZoneIndex = nullptr;        // zone number of codes 0..MaxZoneCode
  OneBasedArray<ZoneRecord> *ZoneTable = nullptr; // records 0..ZoneCount
  const OneBasedArray<RowColumnRange> *RowRanges = nullptr;
  int ZoneCount = 0;
  int MaxZoneCode = 0;
  int NCols = 0;
  int NRows = 0;
  int FirstRow = 0; // strip of this process
  int LastRow = 0;
  // End of the model time (the routing module receives the start instead).
  ModelDate EndDate;
  double TimeShift = 0.0; // data time to local time
  const OneBasedArray<landuse_class> *LanduseTable = nullptr;
  const OneBasedArray<soil_class> *SoilTable = nullptr;
  const OneBasedArray<multilayer_landuse_class> *MultilayerTable = nullptr;
  // None when the "[irrigation]" switch is off.
  const OneBasedArray<IrrigationTableEntry> *IrrigationTable = nullptr;
  bool WriteAsciiGrids = false;
  bool WriteDoubleGrids = false;
  std::string InitialStateDirectory;
  std::string DefaultOutputDirectory;
  const std::vector<std::int64_t> *CellCounts = nullptr; // per process
  HaloLists Halo;
  int SpinUpSwitch = 0;
  const std::vector<HydrologicResponseUnit> *HydrologicResponseUnits = nullptr;
  int SubstepCount = 1; // sub-steps of the soil, surface and groundwater modules
};

// The model-object part of the settings (output switches, directories and
// the decomposition), for the objects that derive from modelobject directly.
inline ModelObjectOptions OptionsOf(const ModuleSettings &settings) {
  ModelObjectOptions options;
  options.WriteAsciiGrids = settings.WriteAsciiGrids;
  options.WriteDoubleGrids = settings.WriteDoubleGrids;
  options.InitialStateDirectory = settings.InitialStateDirectory;
  options.DefaultOutputDirectory = settings.DefaultOutputDirectory;
  options.Halo = settings.Halo;
  return options;
}

// The raster, strip, registry and zone table of the settings, for the objects
// that derive from modelobject directly and work on the module's raster.
inline void CopyRasterSettings(modelobject &object, const ModuleSettings &settings) {
  object.XllCorner = settings.XllCorner;
  object.YllCorner = settings.YllCorner;
  object.CellSize = settings.CellSize;
  object.NoData = settings.NoData;
  object.NCols = settings.NCols;
  object.NRows = settings.NRows;
  object.FirstRow = settings.FirstRow;
  object.LastRow = settings.LastRow;
  object.RowRanges = settings.RowRanges;
  object.Registry = settings.Registry;
  object.ZoneTable = settings.ZoneTable;
  object.ZoneIndex = settings.ZoneIndex;
  object.ZoneCount = settings.ZoneCount;
  object.MaxZoneCode = settings.MaxZoneCode;
}

// Clears a constructor's error out-parameter and gives the log to construct with.
inline DiagnosticsLog &LogOf(int &error, const ModuleSettings &settings) {
  error = 0;
  return *settings.Log;
}

} // namespace tavro
