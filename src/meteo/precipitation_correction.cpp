// Precipitation correction: its section and the positions of the variables
// it works on.
#include "meteo/precipitation_correction.h"

#include "kernel/fatal_error.h"
#include "kernel/module_construction.h"

#include <utility>

namespace tavro {

precicorrclass::precicorrclass(int &error, const ModuleSettings &settings,
                               std::vector<meteointerpol *> variables,
                               std::vector<std::string> names, int regionCount) try
    : modelobject(LogOf(error, settings), FixedName, settings.ControlFileName, OptionsOf(settings)),
      RegionCount(regionCount < 1 ? 1 : regionCount), variables_(std::move(variables)),
      names_(std::move(names)) {
  NCols = settings.NCols;
  NRows = settings.NRows;
  FirstRow = settings.FirstRow;
  LastRow = settings.LastRow;
  XllCorner = settings.XllCorner;
  YllCorner = settings.YllCorner;
  CellSize = settings.CellSize;
  NoData = settings.NoData;
  RowRanges = settings.RowRanges;
  Registry = settings.Registry;

  for (std::size_t i = 0; i < names_.size(); ++i) {
    const int position = static_cast<int>(i) + 1;
    if (names_[i] == "precipitation" && PrecipitationIndex == 0)
      PrecipitationIndex = position;
    else if (names_[i] == "temperature" && TemperatureIndex < 0)
      TemperatureIndex = position;
    else if (names_[i] == "wind_speed" && WindIndex < 0)
      WindIndex = position;
  }

  if (!OpenControlFile())
    ThrowFatal(*Log, 28, "error opening " + ControlFileName);
  FindControlKey("[precipitation_correction]", true);
  // All six values are read whatever do_it says.
  ReadControlValue(DoIt, "do_it fuer ");
  ReadControlValue(ThresholdTemperature, "Grenztemperatur fuer ");
  ReadControlValue(RainConstant, "Konstante Regen fuer ");
  ReadControlValue(RainSlope, "Anstieg Regen fuer ");
  ReadControlValue(SnowConstant, "Konstante Schnee fuer ");
  ReadControlValue(SnowSlope, "Anstieg Schnee fuer ");
  CloseModuleSection(*this);
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

void precicorrclass::SetMaxElevation(double elevation) { MaxElevation = elevation; }

void precicorrclass::CorrectStationData() {}

void precicorrclass::CorrectGrids() {}

void precicorrclass::ReleaseMemory() {
  variables_.clear();
  names_.clear();
  modelobject::ReleaseMemory();
}

} // namespace tavro
