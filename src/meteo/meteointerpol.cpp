// Interpolator of one meteorological variable: its section, its station
// files walked row by row, and its result grid in the registry.
#include "meteo/meteointerpol.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/module_construction.h"

#include <cstdio>
#include <cstring>

namespace tavro {
namespace {

bool UsesStationFiles(int method) {
  return method == 1 || (method >= 3 && method <= 8) || method >= 10;
}

constexpr const char *kMethodLabel =
    "1 [idw], 2 [regress], [3] [idw+regr], 4 [thiessen] 5 [bilinear] 6 [BIGRES] 7 [bicubic "
    "spline] 8 [SPLINERES] 9 [ReadGrid] 10 [EDR from station data] 11 [IDW + EDR from station "
    "data] 12 [Thiessen combines with elevation gradient] for ";

} // namespace

meteointerpol::meteointerpol(int &error, const ModuleSettings &settings, const ModelDate &startDate,
                             int registryIndex) try
    : modelobject(LogOf(error, settings), settings.ModuleName, settings.ControlFileName,
                  OptionsOf(settings)),
      ResultGridIndex(registryIndex), StartDate(startDate) {
  Log->Entry(Concat("DEBUG: initializing interpolator for ", ModuleName, DiagnosticsLog::EndToken));
  OutputListCount = settings.OutputListCount;
  OutputList = settings.OutputList;
  Registry = settings.Registry;
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

  ReadSection();
  const long unset = -static_cast<long>(static_cast<int>(NodataBound)) - 1;
  DataDate = ModelDate{unset, unset, unset, unset};
  if (InterpolationMethod < 1 || InterpolationMethod > 12)
    ThrowFatal(*Log, MethodExitCode,
               Concat("error! interpolation method has to range from 1..12 (here: ",
                      InterpolationMethod, ")\n"));
  if (!UsesStationFiles(InterpolationMethod))
    // Regression files and grid lists are read with their kernels; a run must
    // not go on without its forcing.
    ThrowFatal(*Log, OtherConstructionFailure,
               Concat("interpolation method ", InterpolationMethod, " of ", ModuleName,
                      " is not available in this build (station data methods only)"));
  OpenStationFiles();
  // Registered last, so that a failed construction leaves no entry behind.
  CreateResultGrid();
} catch (...) {
  StoreConstructionFailure(error, settings.Log, settings.ModuleName);
}

meteointerpol::~meteointerpol() {
  if (resultRegistered_ && Registry != nullptr)
    Registry->ReleaseGrid(ResultGridIndex);
}

std::string meteointerpol::ReadWholeLine() {
  std::string line;
  std::FILE *file = ControlFile().Handle();
  int c = 0;
  while ((c = std::getc(file)) != EOF && c != '\n') {
    line += static_cast<char>(c);
    if (line.size() > ControlFileReader::MaxLineLength)
      ThrowFatal(*Log, 17,
                 Concat("error in control file ", ControlFileName, ", line longer than ",
                        ControlFileReader::MaxLineLength, " characters in section of ", ModuleName,
                        ": ", line.substr(0, 80), "..."));
  }
  return line;
}

void meteointerpol::ReadStationFileLine(int k) {
  const std::string line = ReadWholeLine();
  char word[ControlFileReader::MaxLineLength + 1] = {};
  if (std::sscanf(line.c_str(), "%1200s", word) != 1)
    ThrowFatal(*Log, StationLineExitCode,
               Concat("error reading station data file name nr. ", k, " for interpolation of ",
                      ModuleName));
  int additional = 0;
  const std::size_t key = line.find("AdditionalColumns=");
  if (key != std::string::npos)
    additional = std::atoi(line.c_str() + key + std::strlen("AdditionalColumns="));
  StationFileNames.emplace_back(word);
  StationFileLines.push_back(line);
  AdditionalColumns.push_back(additional < 0 ? 0 : additional);
}

void meteointerpol::ReadMethodParameterLine() {
  const int method = InterpolationMethod;
  if (method == 9) {
    const std::string line = ReadWholeLine();
    if (std::sscanf(line.c_str(), "%lf%lf%d%lf%lf", &GifF1, &GifX1, &GifThreshold, &GifF2, &GifX2) <
        5)
      ThrowFatal(*Log, ParameterLineExitCode,
                 "error reading the required 5 GIF-Mapping parameters f1 (default=8.916787e-5), "
                 "x1 (0.0767528404), threshold (127), f2 (default=6.00e-006), x2 (0.098) for "
                 "interpolation of " +
                     ModuleName);
  } else if (method == 10 || method == 11) {
    const std::string line = ReadWholeLine();
    double lapse = -9999.0;
    const int read = std::sscanf(line.c_str(), "%lf%lf%lf%d%lf%lf", &LowerInversion,
                                 &UpperInversion, &Tolerance, &Overlap, &ClusterRange, &lapse);
    if (read < 5)
      ThrowFatal(*Log, ParameterLineExitCode,
                 "error reading the required 5 or 6 regression parameters <lower inversion> "
                 "<upper inversion> <tolerance> <overlap> <clusterrange> [<lapse rate above "
                 "upper inversion>] for interpolation of " +
                     ModuleName);
    LapseRate = read >= 6 ? lapse : -9999.0;
  } else if (method == 12) {
    const std::string line = ReadWholeLine();
    double lapse = 0.0, inversion = -9999.0, fixedUpper = -9999.0;
    char text[ControlFileReader::MaxLineLength + 1] = {};
    const int read =
        std::sscanf(line.c_str(), "%lf%lf%lf%1200s", &lapse, &inversion, &fixedUpper, text);
    if (read == 2 || read < 1)
      ThrowFatal(*Log, ParameterLineExitCode,
                 "error reading the required parameter \"lapse rate\" and/or optional parameters "
                 "inversion_hight and fix upper lapse rate for interpolation of " +
                     ModuleName);
    LapseRate = lapse;
    UpperInversion = read >= 3 ? inversion : -9999.0;
    FixedUpperLapseRate = read >= 3 ? fixedUpper : -9999.0;
    Method12Text = read >= 4 ? text : "";
    PType = Method12Text.find("P-type") != std::string::npos ? 1 : 0;
  } else {
    ReadControlValue(RegressionFileName, "name of the regression file in ");
  }
}

void meteointerpol::ReadScenario() {
  ReadControlValue(SzenMeth, "SzenMeth in ");
  std::FILE *file = ControlFile().Handle();
  if (SzenMeth == 5 || SzenMeth == 6) {
    for (int month = 1; month <= 12; ++month) {
      const std::string name = ControlFile().NextWord();
      if (name.empty())
        ThrowFatal(*Log, 17,
                   Concat("error in control file: scenario grid for month ", month, " in ",
                          ModuleName,
                          " not found!\nThere have to be exactly 12 filenames after the sceario "
                          "application mode\nreferring to each of the 12 months if using "
                          "scenario method 5.\nHowever, if methods 0..4 are used, NO FILENAMES "
                          "are allowed there\n (for backwards compatibility reasons)"));
      ScenarioGridNames.push_back(name);
      ReadWholeLine(); // the rest of its line
    }
    return;
  }
  ReadControlValue(SzenNum, "SzenNum in ");
  for (int row = 1; row <= SzenNum; ++row) {
    std::array<double, 15> values{};
    for (int column = 1; column <= 14; ++column) {
      if (std::fscanf(file, "%lf", &values[static_cast<std::size_t>(column)]) != 1)
        ThrowFatal(*Log, ScenarioRowExitCode,
                   Concat("error! scenario-data row ", row, ", column ", column, " in ", ModuleName,
                          ": read error!"));
      if (SzenMeth == 3 && column >= 3)
        values[static_cast<std::size_t>(column)] =
            values[static_cast<std::size_t>(column)] / 100.0 + 1.0;
    }
    ReadWholeLine();
    ScenarioTable.push_back(values);
  }
}

void meteointerpol::ReadSection() {
  if (!OpenControlFile())
    ThrowFatal(*Log, 28, "error opening " + ControlFileName);
  FindControlKey("[" + ModuleName + "]", true);
  ReadControlValue(InterpolationMethod, kMethodLabel);
  StationFileCount = (InterpolationMethod == 6 || InterpolationMethod == 8) ? 2 : 1;
  for (int k = 0; k < StationFileCount; ++k)
    ReadStationFileLine(k);
  ReadMethodParameterLine();
  ReadControlValue(ResultGridFileName, "name of the result grid in ");
  ReadControlValue(ResultWritecode, "grid write code for result grid in ");
  ReadControlValue(ScalingFactor, "scaling factor for ");
  ReadControlValues2(StatisticsFileName, StatisticsCode, "name of the statistic result file in ");
  ReadControlValue(NodataBound, "nodata value in ");
  ReadControlValue(IdwWeight, "idw-weight in ");
  ReadControlValue(IdwFraction, "fraction of idw on weighted interpolation (method 3)");
  ReadControlValue(MaxDistance, "maximum distance in ");
  ReadControlValue(AnisotropySlope, "slope of the main axis of the anisotropy ellipse in ");
  ReadControlValue(AnisotropyRatio, "anisotropy b/a in ");
  ReadControlValue(LowerLimit, "lower limit of results in ");
  ReadControlValue(LowerReplacement, "lower replacement for limit-exceeding results in ");
  ReadControlValue(UpperLimit, "upper limit of results in ");
  ReadControlValue(UpperReplacement, "upper replacement for limit-exceeding results in ");
  ReadControlValue(SzenUse, "SzenUse in ");
  if (SzenUse == 1)
    ReadScenario();
  if (IdwWeight == 2.0)
    MaxDistance *= MaxDistance;
  if (!CloseControlFile())
    ThrowFatal(*Log, 11, "error closing " + ControlFileName);
}

void meteointerpol::OpenStationFiles() {
  for (int k = 0; k < StationFileCount; ++k) {
    auto file = std::make_unique<StationDataFile>(*Log, ModuleName, StationFileNames[k],
                                                  AdditionalColumns[k], NodataBound);
    file->ReadDescription();
    if (k == 1) {
      const StationTable &first = stations_[0]->Table();
      const StationTable &second = file->Table();
      const std::string &firstName = StationFileNames[0];
      const std::string &secondName = StationFileNames[1];
      if (first.Count != second.Count)
        ThrowFatal(*Log, DateMismatchExitCode,
                   Concat("\n------- Error 73 in Interpolation input data ---------\n",
                          "meteorological station files ", secondName, " \nand ", firstName,
                          " contain a different number of stations \n(", second.Count, " and ",
                          first.Count, ", resp.)\n",
                          "these data has to be identical in both files for interpolation "
                          "method 6\n",
                          "------- Program terminated due to input data error ---------\n\n"));
      for (std::size_t i = 1; i <= static_cast<std::size_t>(first.Count); ++i) {
        if (first.Altitude[i] == second.Altitude[i] && first.X[i] == second.X[i] &&
            first.Y[i] == second.Y[i])
          continue;
        ThrowFatal(*Log, DateMismatchExitCode,
                   Concat("\n------- Error 73 in Interpolation input data ---------\n",
                          "Altitude and/or coordinates of station ", i,
                          " are different in\nmeteorological station files ", secondName,
                          "\nH: ", second.Altitude[i], ",\tX: ", second.X[i], "\tY: ", second.Y[i],
                          "\nand\n", firstName, "\nH: ", first.Altitude[i], ",\tX: ", first.X[i],
                          "\tY: ", first.Y[i], "\n",
                          "These data has to be identical in both files for interpolation "
                          "method 6\n",
                          "------- Program terminated due to input data error ---------\n\n"));
      }
    }
    file->FindStartDate(StartDate);
    stations_.push_back(std::move(file));
  }
  DataDate = stations_[0]->Date();
}

void meteointerpol::CreateResultGrid() {
  result_ = MakeStripGrid(*this);
  if (!result_.Allocated())
    return; // no raster: nothing to register
  result_.Fill(-9999.0);
  const std::string fileName = ResultGridFileName.empty() ? ModuleName : ResultGridFileName;
  AddGrid(ResultGridIndex, fileName, &result_, nullptr, 1, ModuleName, ResultWritecode, FirstRow,
          LastRow);
  resultRegistered_ = true;
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

void meteointerpol::Interpolate(long hour, long day, long month, long year) {
  ActualHour = hour;
  ActualDay = day;
  ActualMonth = month;
  ActualYear = year;
}

void meteointerpol::CalcElevationRegression(int) {}

void meteointerpol::WriteResultGrid() {}

void meteointerpol::ReadNextData() {
  for (std::size_t f = 0; f < stations_.size(); ++f) {
    if (!stations_[f]->NextRow(EndDateCode))
      endOfData_ = true;
    if (f == 0)
      DataDate = stations_[0]->Date();
  }
  for (const auto &file : stations_)
    if (!(file->Date() == DataDate)) {
      std::lock_guard lock(Log->Mutex());
      Log->Entry(Concat("FATAL: error reading date from stationfiles:", DiagnosticsLog::EndToken));
      for (const auto &each : stations_) {
        const ModelDate &d = each->Date();
        Log->Entry(Concat("file ", each->Path(), ": YYYY=", d.Year, ", MM=", d.Month,
                          ", DD=", d.Day, ", HH=", d.Hour, DiagnosticsLog::EndToken));
      }
      Log->Entry(DiagnosticsLog::EndToken);
      throw DateMismatchExitCode;
    }
}

bool meteointerpol::EndOfData() const { return endOfData_; }

void meteointerpol::SetActualDateFromData() {
  SetActualDate(DataDate.Year, DataDate.Month, DataDate.Day, DataDate.Hour);
}

void meteointerpol::Rewind() {
  endOfData_ = false;
  for (auto &file : stations_)
    file->Rewind();
  if (!stations_.empty())
    DataDate = stations_[0]->Date();
}

void meteointerpol::FlushStatistics() {}

void meteointerpol::ReleaseMemory() {
  if (!released_) {
    Log->Entry(Concat("DEBUG: deleting interpolator for ", ModuleName, DiagnosticsLog::EndToken));
    if (resultRegistered_ && Registry != nullptr)
      ReleaseGrid(ResultGridIndex);
    resultRegistered_ = false;
    result_ = Grid();
    stations_.clear();
    released_ = true;
  }
  modelobject::ReleaseMemory();
}

} // namespace tavro
