// Precipitation correction: set-up, the correction of the station values
// with the refit of the regression, and the correction of the grid.
#include "meteo/precipitation_correction.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/module_construction.h"
#include "meteo/meteointerpol.h"
#include "raster/parallel/cell_iteration.h"

#include <algorithm>
#include <utility>

namespace tavro {
namespace {

constexpr const char *kPrecipitation = "precipitation";
constexpr const char *kTemperature = "temperature";
constexpr const char *kWind = "wind_speed";

// The largest station count among the open station files of an interpolator.
std::size_t LargestStationCount(const meteointerpol *variable) {
  std::size_t count = 0;
  if (variable == nullptr)
    return count;
  for (int k = 0; k < variable->OpenStationFileCount(); ++k)
    count = std::max(count, static_cast<std::size_t>(variable->StationFile(k).Table().Count));
  return count;
}

bool FitsRegression(int method) {
  return method == 2 || method == 3 || method == 10 || method == 11;
}

} // namespace

precicorrclass::precicorrclass(int &error, const ModuleSettings &settings,
                               std::vector<meteointerpol *> variables,
                               std::vector<std::string> names, int regionCount) try
    : modelobject(LogOf(error, settings), FixedName, settings.ControlFileName, OptionsOf(settings)),
      RegionCount(regionCount < 1 ? 1 : regionCount), variables_(std::move(variables)),
      names_(std::move(names)) {
  CopyRasterSettings(*this, settings);

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
  if (DoIt == 0)
    return;

  RegressionWork.assign(static_cast<std::size_t>(RegionCount) + 1, {});

  const auto named = std::find(names_.begin(), names_.end(), kPrecipitation);
  if (named != names_.end()) {
    PrecipitationIndex = static_cast<int>(named - names_.begin()) + 1;
    precipitation_.Interpolator = Variable(PrecipitationIndex);
  } else {
    PrecipitationIndex = static_cast<int>(names_.size());
    GridOnly = true;
  }
  if (precipitation_.Interpolator != nullptr)
    precipitation_.Bound =
        correction::MissingBound::OfInterpolator(precipitation_.Interpolator->NodataBound);
  precipitationGridIndex_ = GetGridIndex(kPrecipitation);
  precipitation_.Data = (*Registry)[precipitationGridIndex_].Data;

  temperature_ = FindSource(kTemperature, TemperatureIndex, TemperatureMissing);
  wind_ = FindSource(kWind, WindIndex, WindMissing);
  // Grids read from a list have no station values to correct.
  if (precipitation_.Interpolator != nullptr &&
      precipitation_.Interpolator->InterpolationMethod == 9)
    GridOnly = true;
  if (GridOnly)
    return;

  TakeStationArrays();
  WarnWithoutPointValue(temperature_, kTemperature);
  WarnWithoutPointValue(wind_, kWind);
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

precicorrclass::Source precicorrclass::FindSource(const std::string &name, int &index,
                                                  bool &missing) {
  Source source;
  const auto named = std::find(names_.begin(), names_.end(), name);
  if (named != names_.end()) {
    index = static_cast<int>(named - names_.begin()) + 1;
    source.Interpolator = Variable(index);
    if (source.Interpolator != nullptr)
      source.Bound = correction::MissingBound::OfInterpolator(source.Interpolator->NodataBound);
  }
  const int grid = FindGrid(name, false);
  if (grid > 0)
    source.Data = (*Registry)[grid].Data;
  if (named == names_.end()) {
    if (source.Data != nullptr)
      GridOnly = true;
    else
      missing = true;
  }
  return source;
}

void precicorrclass::TakeStationArrays() {
  if (precipitation_.Interpolator == nullptr)
    return; // nothing interpolated: no station values
  const meteointerpol &variable = *precipitation_.Interpolator;
  PrecipitationMethod = variable.InterpolationMethod;
  if (PrecipitationMethod == 2 || PrecipitationMethod == 10)
    StationCount = 1;
  else if (variable.OpenStationFileCount() > 0)
    StationCount = variable.StationFile(0).Table().Count;
  StationTemperatures.Resize(static_cast<std::size_t>(StationCount), 0.0);
  StationWindSpeeds.Resize(static_cast<std::size_t>(StationCount), 0.0);
  const std::size_t largest =
      std::max({LargestStationCount(&variable), LargestStationCount(temperature_.Interpolator),
                LargestStationCount(wind_.Interpolator)});
  work_.assign(largest + 1, 0.0);
}

void precicorrclass::WarnWithoutPointValue(const Source &source, const std::string &name) const {
  if (source.Interpolator == nullptr || source.Interpolator->InterpolationMethod != 9)
    return;
  Log->Entry(
      Concat("WARNING: precipitation correction: ", name,
             " is read from grids (interpolation method 9) and has no value at a point; ",
             name == kTemperature ? "precipitation counts as rain" : "the wind speed counts as 0",
             " in the correction of the station values", DiagnosticsLog::EndToken));
}

meteointerpol *precicorrclass::Variable(int position) const {
  if (position < 1 || position > static_cast<int>(variables_.size()))
    return nullptr;
  return variables_[static_cast<std::size_t>(position - 1)];
}

correction::CorrectionParameters precicorrclass::Parameters() const {
  return {ThresholdTemperature, RainConstant, RainSlope, SnowConstant, SnowSlope};
}

void precicorrclass::SetMaxElevation(double elevation) { MaxElevation = elevation; }

double precicorrclass::PointValue(const Source &source, double x, double y, double z,
                                  bool &missing) {
  missing = source.Interpolator == nullptr || source.Interpolator->InterpolationMethod == 9;
  if (missing)
    return 0.0;
  const double value = source.Interpolator->ValueAtPoint(work_, x, y, z);
  missing = source.Bound.IsMissing(value);
  return value;
}

double precicorrclass::FactorAtElevation(double z) {
  const correction::CorrectionParameters p = Parameters();
  bool missing = false;
  // The regression of the variables without their trend surface.
  const double t = PointValue(temperature_, NoData, NoData, z, missing);
  const double temperature = correction::TemperatureOrRain(p, t, missing);
  const double u = PointValue(wind_, NoData, NoData, z, missing);
  return correction::CorrectionFactor(p, temperature, correction::WindOrCalm(u, missing));
}

void precicorrclass::CorrectStationData() {
  if (DoIt == 0 || GridOnly || precipitation_.Interpolator == nullptr)
    return;
  if (PrecipitationMethod != 2 && PrecipitationMethod != 10)
    CorrectStationValues();
  if (FitsRegression(PrecipitationMethod))
    RefitRegression();
}

void precicorrclass::CorrectStationValues() {
  meteointerpol &variable = *precipitation_.Interpolator;
  if (variable.OpenStationFileCount() == 0)
    return;
  const correction::CorrectionParameters p = Parameters();
  const StationTable &table = variable.StationFile(0).Table();
  for (int i = 1; i <= StationCount; ++i) {
    const auto s = static_cast<std::size_t>(i);
    bool missing = false;
    const double t = PointValue(temperature_, table.X[s], table.Y[s], table.Altitude[s], missing);
    StationTemperatures[s] = correction::TemperatureOrRain(p, t, missing);
    const double u = PointValue(wind_, table.X[s], table.Y[s], table.Altitude[s], missing);
    StationWindSpeeds[s] = correction::WindOrCalm(u, missing);
  }
  const auto correct = [&](int i, double value) {
    if (i > StationCount)
      return value;
    const auto s = static_cast<std::size_t>(i);
    return correction::CorrectedPrecipitation(p, precipitation_.Bound, value,
                                              StationTemperatures[s], StationWindSpeeds[s]);
  };
  variable.ChangeableStationFile(0).ChangeValues(correct);
  // Methods 6 and 8 add gradients times the elevation to the residuals: the
  // gradients take the same factors, so that the whole field is corrected.
  if ((PrecipitationMethod == 6 || PrecipitationMethod == 8) && variable.OpenStationFileCount() > 1)
    variable.ChangeableStationFile(1).ChangeValues(correct);
}

void precicorrclass::RefitRegression() {
  meteointerpol &variable = *precipitation_.Interpolator;
  correction::RegressionSegments &r = RegressionWork[1];
  variable.GetRegressionParameters(1, r.LowerHeight, r.UpperHeight, r.Intercept, r.Slope);
  if (!precipitation_.Bound.IsMissing(r.Intercept[1]))
    correction::RefitRegression(r, MaxElevation, [this](double z) { return FactorAtElevation(z); });
  // The lower inversion height is not written back.
  variable.SetRegressionParameters(1, r.Intercept, r.Slope, r.UpperHeight);
}

bool precicorrclass::GridRenewed() const {
  const meteointerpol *producer = precipitation_.Interpolator;
  if (producer != nullptr && producer->ResultGridIndex == precipitationGridIndex_)
    return producer->ResultRenewed();
  if (gridRenewedEveryStep_)
    return true;
  // A grid read once is corrected once.
  return !correctedOnce_;
}

void precicorrclass::CorrectGrids() {
  if (DoIt == 0 || precipitation_.Data == nullptr)
    return;
  const bool renewed = GridRenewed();
  correctedOnce_ = true;
  if (!renewed)
    return;
  if (MPIRegions == nullptr) {
    const int owners = FindGrid("MPIRegions", false);
    if (owners > 0)
      MPIRegions = (*Registry)[owners].Data;
  }
  const correction::CorrectionParameters p = Parameters();
  Grid &precipitation = *precipitation_.Data;
  const Grid *temperature = temperature_.Data;
  const Grid *wind = wind_.Data;
  const correction::MissingBound bound = precipitation_.Bound;
  const correction::MissingBound temperatureBound = temperature_.Bound;
  const correction::MissingBound windBound = wind_.Bound;
  const CellIteration cells(StripCellsOf(*this, nullptr));
  cells.ForEachCell([&](long row, long column) {
    double t = 0.0, u = 0.0;
    bool temperatureMissing = true, windMissing = true;
    if (temperature != nullptr) {
      t = (*temperature)[row][column];
      temperatureMissing = temperatureBound.IsMissing(t);
    }
    if (wind != nullptr) {
      u = (*wind)[row][column];
      windMissing = windBound.IsMissing(u);
    }
    double &cell = precipitation[row][column];
    cell = correction::CorrectedPrecipitation(
        p, bound, cell, correction::TemperatureOrRain(p, t, temperatureMissing),
        correction::WindOrCalm(u, windMissing));
  });
}

void precicorrclass::ReleaseMemory() {
  RegressionWork.clear();
  StationTemperatures = {};
  StationWindSpeeds = {};
  work_.clear();
  precipitation_ = temperature_ = wind_ = Source{};
  variables_.clear();
  names_.clear();
  modelobject::ReleaseMemory();
}

} // namespace tavro
