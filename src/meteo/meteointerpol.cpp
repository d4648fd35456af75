// Interpolator of one meteorological variable: construction (set-up grids,
// section, result and scenario grids, description line, statistics table,
// station files and their geometry), the walk over the data rows, and the
// release of everything it registered.
#include "meteo/meteointerpol.h"
#include "meteo/statistics_zones.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/module_construction.h"
#include "meteo/interpolation/rotated_frame.h"
#include "meteo/station_file_checks.h"
#include "raster/parallel/strip_exchange.h"

#include <cmath>
#include <cstdio>

namespace tavro {
namespace {

bool UsesStationFiles(int method) {
  return method == 1 || (method >= 3 && method <= 8) || method >= 10;
}

// "%s"-style formatting into a string (the description line's formats).
template <class... Args> std::string Format(const char *format, Args... args) {
  const int length = std::snprintf(nullptr, 0, format, args...);
  std::string text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, args...);
  text.pop_back();
  return text;
}

} // namespace

meteointerpol::meteointerpol(int &error, const ModuleSettings &settings, const ModelDate &startDate,
                             int registryIndex) try
    : modelobject(LogOf(error, settings), settings.ModuleName, settings.ControlFileName,
                  OptionsOf(settings)),
      ResultGridIndex(registryIndex), StartDate(startDate) {
  Log->Entry(
      Concat("file meteoint, compiled at ", __DATE__, ", ", __TIME__, DiagnosticsLog::EndToken));
  Log->Entry(Concat("DEBUG: initializing interpolator for ", ModuleName, DiagnosticsLog::EndToken));
  StoreSettings(settings);
  LinkSetupGrids();
  ReadSection();
  PrepareKernels();
  CreateResultGrid();
  if (SzenUse == 1 && (SzenMeth == 5 || SzenMeth == 6))
    ReadScenarioGrid(static_cast<int>(StartDate.Month));

  const long unset = -static_cast<long>(static_cast<int>(NodataBound)) - 1;
  DataDate = ModelDate{unset, unset, unset, unset};
  if (InterpolationMethod < 1 || InterpolationMethod > 12)
    ThrowFatal(*Log, MethodExitCode,
               Concat("error! interpolation method has to range from 1..12 (here: ",
                      InterpolationMethod, ")\n"));
  if (SzenUse == 1 && SzenMeth != 5 && SzenMeth != 6 && ScenarioTable.empty())
    Log->Entry(Concat("WARNING: SzenUse 1 for ", ModuleName, " without scenario rows (SzenNum ",
                      SzenNum, "): the values stay unchanged", DiagnosticsLog::EndToken));

  WriteDescription();
  CreateStatistics();
  const int method = InterpolationMethod;
  if (UsesStationFiles(method)) {
    OpenStationFiles();
    if (method >= 5 && method <= 8)
      CalcMeshDirection();
    AnisotropySlope *= interpolation::kRadiansPerDegree;
    CreateRotatedCoordinates();
    CheckAnisotropy();
    CalcStationDistances();
    if (method == 5 || method == 6)
      ChooseLookUpStations(StationFileCount);
    if (method == 7 || method == 8)
      StationMeshToGrid(0);
    DataDate = stations_[0]->Date();
  }
  if (method == 2 || method == 3)
    OpenRegressionFile();
  if (method == 9)
    OpenGridList();
  const int scaling = FindGrid("ScalingGrid_" + ModuleName, false);
  scalingGrid_ = scaling > 0 ? (*Registry)[scaling].Data : nullptr;
} catch (...) {
  StoreConstructionFailure(error, settings.Log, settings.ModuleName);
}

meteointerpol::~meteointerpol() = default;

void meteointerpol::PrepareKernels() {
  limits_ = {ScalingFactor, LowerLimit, LowerReplacement, UpperLimit, UpperReplacement};
  // Method 12 uses the inversion only together with a fixed upper lapse rate.
  const bool inversion = FixedUpperLapseRate > -9998.0;
  lapse_ = {LapseRate, inversion ? UpperInversion : -9999.0,
            inversion ? FixedUpperLapseRate : -9999.0, PType == 1};
  using interpolation::ScenarioKind;
  const bool gridScenario = SzenMeth == 5 || SzenMeth == 6;
  if (SzenUse != 1 || (!gridScenario && ScenarioTable.empty()))
    scenarioKind_ = ScenarioKind::None; // nothing to add, nothing to multiply
  else
    scenarioKind_ =
        (SzenMeth == 1 || SzenMeth == 6) ? ScenarioKind::Additive : ScenarioKind::Multiplicative;
}

void meteointerpol::StoreSettings(const ModuleSettings &settings) {
  OutputListCount = settings.OutputListCount;
  OutputList = settings.OutputList;
  Registry = settings.Registry;
  entries_.Link(Registry);
  statisticsRegistry_ = settings.Statistics;
  statisticsCapacity_ = settings.StatisticsCapacity;
  HourDivisor = settings.HourDivisor;
  MinToIntEnd = settings.MinToIntEnd;
  XllCorner = settings.XllCorner;
  YllCorner = settings.YllCorner;
  CellSize = settings.CellSize;
  NoData = settings.NoData;
  NCols = settings.NCols;
  NRows = settings.NRows;
  FirstRow = settings.FirstRow;
  LastRow = settings.LastRow;
  RowRanges = settings.RowRanges;
  ZoneIndex = settings.ZoneIndex;
  ZoneTable = settings.ZoneTable;
  ZoneCount = settings.ZoneCount;
  MaxZoneCode = settings.MaxZoneCode;
  LanduseTable = settings.LanduseTable;
  SoilTable = settings.SoilTable;
  MultilayerTable = settings.MultilayerTable;
  SetActualDate(settings.EndDate.Year, settings.EndDate.Month, settings.EndDate.Day,
                settings.EndDate.Hour);
  spinUpSwitch_ = settings.SpinUpSwitch;
  units_ = settings.HydrologicResponseUnits;
}

void meteointerpol::LinkSetupGrids() {
  if (spinUpSwitch_ != 0) {
    const int units = FindGrid("HydrologicResponseUnits", false);
    const int masters = FindGrid("MasterHydrologicResponseUnits", false);
    unitGrid_ = units > 0 ? (*Registry)[units].Data : nullptr;
    masterGrid_ = masters > 0 ? (*Registry)[masters].Data : nullptr;
  }
  if (FindGrid("RelCellArea", false) == 0)
    ThrowFatal(*Log, NoCellAreaExitCode,
               "\n-----------------------------------------------------------\nTavro-Brenk no "
               "longer works without a RelCellArea-Grid.\nIf this message appears, then "
               "something is wrong with the code,\nso please contact the author.\n"
               "-----------------------------------------------------------\n\n");
  CellWeights = (*Registry)[GetGridIndex("RelCellArea")].Data;
  coordX_ = (*Registry)[GetGridIndex("CoordX")].Data;
  coordY_ = (*Registry)[GetGridIndex("CoordY")].Data;
  searchX_ = coordX_;
  searchY_ = coordY_;
  zone_ = (*Registry)[1].Data;
  elevation_ = (*Registry)[2].Data;
}

void meteointerpol::CreateResultGrid() {
  result_ = MakeStripGrid(*this);
  if (!result_.Allocated())
    return; // no raster: nothing to register
  // Method 9 reads whole grids on rank 0, which keeps every row of them.
  const bool whole = InterpolationMethod == 9 && MPIRank == 0;
  const long first = whole ? 1 : FirstRow;
  const long last = whole ? NRows : LastRow;
  if (whole)
    result_ = Grid(first, last, NCols, NRows, *Log);
  result_.Fill(-9999.0);
  const std::string fileName = ResultGridFileName.empty() ? ModuleName : ResultGridFileName;
  AddGrid(ResultGridIndex, fileName, &result_, nullptr, 1, ModuleName, ResultWritecode, first,
          last);
  entries_.Add(ResultGridIndex);
}

void meteointerpol::ReadScenarioGrid(int month) {
  const std::string &name = ScenarioGridNames[static_cast<std::size_t>(month - 1)];
  ScenarioGridIdentifier = "scenariogrid_" + ModuleName;
  if (ScenarioGridIndex > 0)
    entries_.Release(ScenarioGridIndex);
  scenarioGrid_ = Grid();
  // Holes inside the catchment take the nearest value; a hole too large for
  // the search is fatal (25), never a nodata scenario value. Every process
  // keeps the whole grid: the value at a point may lie in any strip.
  ReadGrid(name, scenarioGrid_, 1, true, false, 0.0, true, true, false, false);
  if (MPIProcessCount > 1) {
    if (Halo.Decomposition == nullptr)
      ThrowFatal(
          *Log, kStripExchangeExitCode,
          Concat("strip exchange of ", ModuleName, " without a decomposition of the raster"));
    BroadcastWholeGrid(*Halo.Decomposition, scenarioGrid_, *Log);
  }
  if (ScenarioGridIndex == 0) {
    // The first free entry: the one after the result grid may hold another grid.
    ScenarioGridIndex = Registry->FirstFreeIndex();
    if (ScenarioGridIndex == 0)
      ThrowFatal(*Log, GridRegistry::RegistryExitCode,
                 Concat("no more free grids in memeory, (max. ", 1000, ")!"));
  }
  AddGrid(ScenarioGridIndex, name, &scenarioGrid_, nullptr, 1, ScenarioGridIdentifier, 0, 1, NRows);
  entries_.Add(ScenarioGridIndex);
  ScenarioMonth = month;
}

void meteointerpol::WriteDescription() {
  const char *name = ModuleName.c_str();
  const std::string zoneFileName = (*Registry)[1].FileName;
  const char *zones = zoneFileName.c_str();
  const char *control = ControlFileName.c_str();
  const auto file = [&](std::size_t k) {
    return k < StationFileNames.size() ? StationFileNames[k].c_str() : "";
  };
  const auto columns = [&](std::size_t k) {
    return k < AdditionalColumns.size() ? AdditionalColumns[k] : 0;
  };
  // The radius as entered: the stored one is squared for the weight code 2000.
  const double radius = WeightCode == 2000 ? std::sqrt(MaxDistance) : MaxDistance;
  switch (InterpolationMethod) {
  case 1:
    Description = Format("%s interpolated with idw from %s, zones from %s, weighting = %4.1f,  "
                         "maxentf = %8.0f, control file %s, additional columns: %d",
                         name, file(0), zones, IdwWeight, radius, control, columns(0));
    break;
  case 2:
    Description = Format("%s interpolated with regression from ", name);
    Description = Format("%s %s,", Description.c_str(), RegressionFileName.c_str());
    Description = Format("%s zones from %s, control file: %s", Description.c_str(), zones, control);
    break;
  case 3:
    Description = Format("%s interpolated with idw+regression from %s, zones from %s,weighting = "
                         "%4.1f, fraction distance: = %4.1f max distance = %8.0f, control file "
                         "%s, additional columns: %d",
                         name, file(0), zones, IdwWeight, IdwFraction, radius, control, columns(0));
    break;
  case 4:
    Description = Format("%s interpolated with Thiessen from %s, zones from %s, control file %s, "
                         "additional columns: %d",
                         name, file(0), zones, control, columns(0));
    break;
  case 5:
    Description = Format("%s interpolated with bilinear interpolation from %s, zones from %s, "
                         "control file %s, additional columns: %d",
                         name, file(0), zones, control, columns(0));
    break;
  case 6:
  case 8:
    Description = Format(InterpolationMethod == 6
                             ? "%s interpolated with bilinear interpolation of gradients (%s, add. "
                               "col.: %d) and residuals (%s, add. col.: %d), linearly combined, "
                               "zones from %s, control file %s"
                             : "%s interpolated with bicubic spline interpolation of gradients "
                               "(%s, add. col.: %d) and residuals (%s, add. col.: %d), linearly "
                               "combined, zones from %s, control file %s",
                         name, file(1), columns(1), file(0), columns(0), zones, control);
    break;
  case 7:
    Description = Format("%s interpolated with bicubic spline interpolation (%s, add. col.: %d), "
                         "zones from %s, control file %s",
                         name, file(0), columns(0), zones, control);
    break;
  case 9:
    Description = Format("%s read in from grids containing already interpolated data (%s, add. "
                         "col.: %d) zones from %s, control file %s",
                         name, file(0), columns(0), zones, control);
    break;
  case 10:
    Description = Format("%s interpolated with elevation dependent regression for values taken "
                         "from %s, control file %s",
                         name, file(0), control);
    break;
  case 11:
    Description = Format("%s interpolated with elevation dependent regression + idw, all values "
                         "taken from %s, control file %s",
                         name, file(0), control);
    break;
  case 12:
    Description = Format("%s interpolated with Thiessen plus elevation lapserate, all values taken "
                         "from %s, control file %s",
                         name, file(0), control);
    break;
  default:
    Description.clear();
  }
}

void meteointerpol::CreateStatistics() {
  // The table keeps its own zone records: it sums into them every step.
  statisticsZones_ = StatisticsZoneCopy(ZoneTable, ZoneCount);
  std::span<const int> outputList;
  if (OutputList != nullptr && OutputListCount > 0)
    outputList =
        std::span<const int>(OutputList->Data() + 1, static_cast<std::size_t>(OutputListCount));
  int error = 0;
  // Values below -N are missing: -N - 1 and below never enter a sum.
  statistics_ = std::make_unique<zonalstatistic>(
      error, *Log, statisticsRegistry_, statisticsCapacity_, CellWeights, NRows, NCols,
      std::span<ZoneRecord>(statisticsZones_), StatisticsCode, StatisticsDecimals,
      StatisticsFileName, DefaultOutputDirectory, outputList, -NodataBound - 2.0);
  if (error != 0)
    throw error;
  statistics_->WriteHeader(Description, "", statisticsRegistry_, statisticsCapacity_);
}

void meteointerpol::OpenStationFiles() {
  for (int k = 0; k < StationFileCount; ++k) {
    auto file = std::make_unique<StationDataFile>(*Log, ModuleName, StationFileNames[k],
                                                  AdditionalColumns[k], NodataBound);
    file->ReadDescription();
    if (k == 1)
      CheckSameStations(*Log, *stations_[0], *file);
    file->FindStartDate(StartDate);
    stations_.push_back(std::move(file));
  }
}

void meteointerpol::OpenRegressionFile() {
  regressionFile_ = std::make_unique<RegressionFile>(*Log, ModuleName, RegressionFileName);
  regressionFile_->FindStartDate(StartDate);
  regression_ = regressionFile_->Record();
  if (stations_.empty())
    DataDate = regressionFile_->Date();
}

void meteointerpol::OpenGridList() {
  gridList_ =
      std::make_unique<GridListFile>(*Log, ModuleName, StationFileNames[0], AdditionalColumns[0]);
  gridList_->ReadHeader(NodataBound);
  gridList_->FindStartDate(StartDate);
  // GIF images of the list are placed by the list's own georeference.
  SetGifGeoreference(zone_, gridList_->LowerLeftX(), gridList_->LowerLeftY(),
                     gridList_->CellSize());
  DataDate = gridList_->Date();
  CurrentGridName = gridList_->GridName();
}

void meteointerpol::SetWarnings(int warnings) { Warnings = warnings; }

void meteointerpol::SetTimeStep(double hoursToIntervalEnd) {
  HoursToIntervalEnd = hoursToIntervalEnd;
}

void meteointerpol::GetActualDate(long &hour, long &day, long &month, long &year) const {
  hour = DataDate.Hour;
  day = DataDate.Day;
  month = DataDate.Month;
  year = DataDate.Year;
}

void meteointerpol::CalcElevationRegression(int stationFile) {
  if (stationFile < 0 || static_cast<std::size_t>(stationFile) >= stations_.size())
    return;
  const StationDataFile &file = *stations_[static_cast<std::size_t>(stationFile)];
  const StationTable &table = file.Table();
  interpolation::RegressionFitSettings settings;
  settings.LowerSplit = LowerInversion;
  settings.UpperSplit = UpperInversion;
  settings.Tolerance = Tolerance;
  settings.Overlap = Overlap;
  settings.ClusterRange = ClusterRange;
  settings.UpperLapseRate = LapseRate;
  regression_ = interpolation::FitElevationRegression(
      Span(table.Altitude), Span(table.X), Span(table.Y), Span(file.Values()), settings, Bounds());
}

void meteointerpol::WriteResultGrid() {
  if (entries_.Holds(ResultGridIndex))
    WriteGridOutput(ResultGridIndex);
}

void meteointerpol::ReadNextData() {
  for (std::size_t f = 0; f < stations_.size(); ++f) {
    if (!stations_[f]->NextRow(EndDateCode))
      endOfData_ = true;
    if (f == 0)
      DataDate = stations_[0]->Date();
  }
  if (!stations_.empty())
    CheckStationDates(*Log, stations_, DataDate);
  if (regressionFile_ && !endOfData_) {
    // Method 3: the station file ends the data; method 2: the end date.
    const bool alone = stations_.empty();
    if (!regressionFile_->NextRecord(alone, EndDateCode)) {
      endOfData_ = true;
    } else {
      regression_ = regressionFile_->Record();
      if (alone)
        DataDate = regressionFile_->Date();
      else
        CheckRegressionDate();
    }
  }
  if (gridList_ && !endOfData_) {
    if (!gridList_->NextEntry(EndDateCode))
      endOfData_ = true;
    DataDate = gridList_->Date();
    CurrentGridName = gridList_->GridName();
  }
}

void meteointerpol::CheckRegressionDate() const {
  const ModelDate &s = DataDate;
  const ModelDate &r = regressionFile_->Date();
  if (r == s)
    return;
  const std::string dashes(77, '-');
  ThrowFatal(*Log, StepDateExitCode,
             Concat(dashes, "\nerror in date column of ", ModuleName,
                    " for IDW*Regress \n\nDate from station/regress file ", StationFileNames[0],
                    ":\n", s.Day, ".", s.Month, ".", s.Year, " ", s.Hour,
                    " h\n\nbut date from regres file ", RegressionFileName, ":\n", r.Day, ".",
                    r.Month, ".", r.Year, " ", r.Hour, " h\n\n", dashes, "\n"));
}

bool meteointerpol::EndOfData() const { return endOfData_; }

std::string meteointerpol::DataFileName() const {
  if (!stations_.empty())
    return stations_[0]->Path();
  if (regressionFile_)
    return regressionFile_->Path();
  if (gridList_)
    return gridList_->Path();
  return {};
}

void meteointerpol::SetActualDateFromData() {
  SetActualDate(DataDate.Year, DataDate.Month, DataDate.Day, DataDate.Hour);
}

void meteointerpol::Rewind() {
  endOfData_ = false;
  for (auto &file : stations_)
    file->Rewind();
  if (regressionFile_)
    regressionFile_->Rewind();
  if (gridList_)
    gridList_->Rewind();
  if (!stations_.empty())
    DataDate = stations_[0]->Date();
  else if (regressionFile_)
    DataDate = regressionFile_->Date();
  else if (gridList_)
    DataDate = gridList_->Date();
}

void meteointerpol::FlushStatistics() {
  if (statistics_)
    statistics_->FlushBuffer();
}

void meteointerpol::ReleaseMemory() {
  if (!released_) {
    Log->Entry(Concat("DEBUG: deleting interpolator for ", ModuleName, DiagnosticsLog::EndToken));
    entries_.ReleaseAll();
    splines_.reset(); // before the grids it refers to
    scenarioGrid_ = Grid();
    result_ = Grid();
    rotatedCoordX_ = Grid();
    rotatedCoordY_ = Grid();
    mesh_ = StationMesh{};
    splineGrid_ = Grid();
    secondSplineGrid_ = Grid();
    ScenarioGridIndex = 0;
    RotatedXIndex = RotatedYIndex = -1;
    searchX_ = coordX_;
    searchY_ = coordY_;
    if (statistics_) {
      // A run whose set-up failed writes no final rows.
      if (Initialized != 0)
        statistics_->ReleaseMemory();
      statistics_.reset();
    }
    stations_.clear();
    regressionFile_.reset();
    gridList_.reset();
    lookUp_.clear();
    workspace_.clear();
    released_ = true;
  }
  modelobject::ReleaseMemory();
}

} // namespace tavro
