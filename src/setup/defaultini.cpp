// Construction, the staged set-up with its step order, the hand-over of the
// settings and the release of the set-up object.
#include "setup/defaultini.h"

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "raster/files/grid_reader.h"
#include "raster/files/grid_writer.h"
#include "raster/output/zonal_statistic.h"
#include "raster/parallel/strip_exchange.h"
#include "setup/control_file_preprocessor.h"

#include <mpi.h>

#include <algorithm>
#include <string_view>

namespace tavro {
namespace {

constexpr int kOpenErrorExitCode = 28;
constexpr int kCloseErrorExitCode = 11;
constexpr int kOtherExceptionExitCode = 103;

std::string_view SourceName() {
  const std::string_view path = __FILE__;
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace

defaultini::defaultini(int &error, DiagnosticsLog &log, const std::string &controlFileName,
                       StatisticsRegistry *statistics, int statisticsCapacity, int soilModelVariant,
                       GridRegistry *registry)
    : modelobject(log, kSetupModuleName, controlFileName) {
  error = 0;
  try {
    log.Entry(Concat("file ", SourceName(), ", compiled at ", __DATE__, ", ", __TIME__,
                     DiagnosticsLog::EndToken));
    statisticsRegistry_ = statistics;
    statisticsCapacity_ = statisticsCapacity;
    soilModelVariant_ = soilModelVariant;
    Registry = registry;
    settings_.SubstepCount = 1;
    pathBuffer_.reserve(kPathBufferLength);
    if (Registry == nullptr)
      ThrowFatal(log, GridRegistry::RegistryExitCode,
                 "no grid registry handed to the set-up object");
  } catch (int code) {
    error = code;
  } catch (...) {
    error = kOtherExceptionExitCode;
  }
}

defaultini::~defaultini() = default;

void defaultini::InitStep(bool &done) {
  if (step_ > kLastStep) {
    done = true;
    return;
  }
  const int step = step_;
  PerformStep(step);
  ++step_;
  if (step == kLastStep)
    done = true;
}

void defaultini::PerformStep(int step) {
  switch (step) {
  case 0:
    StepPreprocess();
    break;
  case 1:
    StepOpenAndReadGridSections();
    break;
  case 2:
    StepModelTime();
    break;
  case 3:
    StepLanduseTables();
    break;
  case 4:
    StepSoilTable();
    break;
  case 5:
    StepIrrigationAndClose();
    break;
  case 6:
    StepZoneGridAndDecomposition();
    break;
  case 7:
    StepDistributeZoneGrid();
    break;
  case 8:
    StepStandardAndVariableGrids();
    break;
  case 9:
    StepCellWeights();
    break;
  case 10:
    MakeCellSizeGrids();
    break;
  case 11:
    MakeCoordinateGrids();
    break;
  case 12:
    maxElevation_ = GetGlobalMaximum(2);
    break;
  case 13:
    StepLanduseLayers();
    break;
  case 14:
    if (FindGrid("landuse1", true) > 0 || FindGrid("landuse", true) > 0)
      ProgressStep("generateMultiLayerParameterGrids...",
                   [&] { generateMultiLayerParameterGrids(landuseLayerCount_); });
    break;
  case 15:
    if (irrigationSwitch_)
      ProgressStep("check_irrig_Codes...",
                   [&] { check_irrig_Codes(FindGrid("irrigation_codes", true)); });
    else
      irrigation_.Table.reset(); // not handed on
    break;
  case 16:
    ProgressStep("check_SOIL_Codes...", [&] { check_SOIL_Codes(FindGrid("soil_types", true)); });
    break;
  case 17:
    break;
  case 18:
    ProgressStep("make_Slope_and_Aspect...", [&] { make_Slope_and_Aspect(); });
    break;
  case 19:
    ProgressStep("check_ice_firn_grid...", [&] { check_ice_firn_grid(); });
    break;
  case 20:
    ProgressStep("MakeRegionWeightGrids...", [&] { MakeRegionWeightGrids(); });
    break;
  case 21:
    break;
  case 22:
    ProgressStep("GetCouplingParameters...", [&] { GetCouplingParameters(); });
    break;
  case 23:
    StepFinish();
    break;
  default:
    break;
  }
}

void defaultini::NotBuiltYet(int step, const char *what) {
  Log->Entry(Concat("INFO: set-up step ", step, " (", what, ") is not built yet",
                    DiagnosticsLog::EndToken));
}

void defaultini::Progress(const char *text) { Log->Entry(Concat(text, DiagnosticsLog::EndToken)); }

void defaultini::CloseControlFileOrFail() {
  if (!CloseControlFile())
    ThrowFatal(*Log, kCloseErrorExitCode, Concat("error closing ", ControlFileName));
}

void defaultini::StepPreprocess() {
  pathBuffer_ = ControlFileName;
  ControlFileName = CompileSymbols(*Log, pathBuffer_, MPIRank);
  pathBuffer_ = ControlFileName;
  ReadOutputControl(*Log, ControlFileName, settings_);
  ReadSubsteps(*Log, ControlFileName, settings_);
  MinToIntEnd = settings_.MinToIntEnd;
  HoursToIntervalEnd = settings_.MinToIntEnd / 60.0;
  // The object's own reads and writes follow the run's settings.
  WriteAsciiGrids = settings_.WriteAsciiGrids != 0;
  WriteDoubleGrids = settings_.WriteDoubleGrids != 0;
  InitialStateDirectory = settings_.InitialStateDirectory;
  DefaultOutputDirectory = settings_.DefaultOutputDirectory;
}

void defaultini::StepOpenAndReadGridSections() {
  if (!OpenControlFile())
    ThrowFatal(*Log, kOpenErrorExitCode, Concat("error opening ", ControlFileName));
  ReadStandardGrids();
}

void defaultini::StepModelTime() {
  ReadModelTime(ControlFile(), settings_.Time);
  const ModelTime &time = settings_.Time;
  ActualHour = time.EndHour;
  ActualDay = time.EndDay;
  ActualMonth = time.EndMonth;
  ActualYear = time.EndYear;
  SetActualDate(time.EndYear, time.EndMonth, time.EndDay, time.EndHour);
}

void defaultini::StepLanduseTables() {
  multilayerTable_ = ReadMultilayerLanduseTable(ControlFile(), *Log, soilModelVariant_);
  MultilayerTable = multilayerTable_ ? &*multilayerTable_ : nullptr;
  landuseTable_ = ReadLanduseTable(ControlFile(), *Log, soilModelVariant_);
  landuseTableRead_ = true;
  LanduseTable = &landuseTable_;
}

void defaultini::StepSoilTable() {
  soilTable_ = ReadSoilTable(ControlFile(), *Log, soilModelVariant_);
  soilTableRead_ = true;
  SoilTable = &soilTable_;
}

void defaultini::StepIrrigationAndClose() {
  irrigationSwitch_ = false;
  irrigation_ =
      ReadIrrigationTable(ControlFile(), *Log, settings_.Time.DaysPerMonth, soilModelVariant_);
  irrigationSwitch_ = irrigation_.Switch != 0;
  ReadRadiationCorrection(ControlFile(), settings_.RadiationCorrection);
  CloseControlFileOrFail();
}

void defaultini::StepCellWeights() {
  const int index = FindGrid("RelCellArea", false);
  CellWeights = index > 0 ? (*Registry)[index].Data : nullptr;
}

void defaultini::StepLanduseLayers() {
  const int index = FindGrid("landuse", true);
  CheckLanduseCodes(index);
  if (index == 0) {
    landuseLayerCount_ = 0;
    return;
  }
  if (multilayerTable_) {
    MakeLanduseLayerGrids();
    return;
  }
  // Without a multilayer table the grid is the only land-use layer.
  GridEntry &entry = (*Registry)[index];
  entry.Identifier = Concat(entry.Identifier, "1");
  landuseLayerCount_ = 1;
}

void defaultini::StepFinish() {
  CloseControlFileOrFail();
  SetHourDivisor(1);
}

int defaultini::SetupGridCount() const {
  // The elevation model is the first of the set-up grids but is not counted.
  return setupGrids_.empty() ? 0 : static_cast<int>(setupGrids_.size()) - 1;
}

SetupHandOver defaultini::GetSettings() {
  SetupHandOver out;
  out.ControlFileName = pathBuffer_;
  pathBuffer_.clear();
  pathBuffer_.shrink_to_fit();
  pathBufferFreed_ = true;

  out.HourDivisor = settings_.HourDivisor;
  out.InterpolationWarnings = settings_.InterpolationWarnings;
  out.FurtherSwitch = settings_.FurtherSwitch;
  out.MinToIntEnd = settings_.MinToIntEnd;
  out.MeteoVariableCount = settings_.MeteoVariableCount;
  out.Latitude = settings_.Latitude;
  out.Longitude = settings_.Longitude;
  out.ReferenceMeridian = settings_.ReferenceMeridian;
  out.TimeShift = settings_.TimeShift;
  out.MeteoNames = &settings_.MeteoNames;
  out.OutputListCount = static_cast<int>(settings_.OutputListCodes.Count());
  out.OutputList = &settings_.OutputListCodes;
  out.SetupGridCount = SetupGridCount();
  out.ZoneTable = &zones_.Records;
  out.ZoneIndex = &zones_.CodeIndex;
  out.ZoneCount = zones_.Count;
  out.MaxZoneCode = zones_.MaxCode;
  out.Regions = &regions_;
  out.RowRanges = &rowRanges_;
  out.NCols = NCols;
  out.NRows = NRows;
  out.FirstRow = FirstRow;
  out.LastRow = LastRow;
  out.XllCorner = XllCorner;
  out.YllCorner = YllCorner;
  out.CellSize = CellSize;
  out.NoData = NoData;
  const ModelTime &time = settings_.Time;
  out.Start = {time.StartHour, time.StartDay, time.StartMonth, time.StartYear};
  out.End = {time.EndHour, time.EndDay, time.EndMonth, time.EndYear};
  out.LanduseTable = landuseTableRead_ ? &landuseTable_ : nullptr;
  out.SoilTable = soilTableRead_ ? &soilTable_ : nullptr;
  out.Irrigation = irrigation_.Table ? &*irrigation_.Table : nullptr;
  out.MultilayerTable = multilayerTable_ ? &*multilayerTable_ : nullptr;
  out.WriteAsciiGrids = settings_.WriteAsciiGrids != 0;
  out.WriteDoubleGrids = settings_.WriteDoubleGrids != 0;
  out.InitialStateDirectory = settings_.InitialStateDirectory;
  out.DefaultOutputDirectory = settings_.DefaultOutputDirectory;
  out.CellCounts = &decomposition_.cellCounts;
  out.HaloSend = &decomposition_.haloSend;
  out.HaloReceive = &decomposition_.haloReceive;
  out.Decomposition = decomposed_ ? &decomposition_ : nullptr;
  out.SubstepCount = settings_.SubstepCount;
  out.RadiationCorrection = settings_.RadiationCorrection;
  return out;
}

void defaultini::ReleaseMemory() {
  if (released_)
    return;
  released_ = true;
  // Statistics first: each writes its remaining rows.
  for (GridStatistic &entry : gridStatistics_) {
    if (entry.statistic) {
      entry.statistic->ReleaseMemory();
      if (Registry != nullptr)
        (*Registry)[entry.registryIndex].ZonalStatistic = nullptr;
    }
  }
  gridStatistics_.clear();
  // The stage stack of layer 1 is kept for a later run to start from.
  WriteStartTimesAtEnd();
  landuseParameters_.reset();
  multilayerTable_.reset();
  MultilayerTable = nullptr;
  landuseTable_.Clear();
  landuseTableRead_ = false;
  LanduseTable = nullptr;
  soilTable_.Clear();
  soilTableRead_ = false;
  SoilTable = nullptr;
  irrigation_ = IrrigationSettings{};
  if (Registry != nullptr) {
    // The zone grid and every grid of the set-up object leave the registry.
    ReleaseGrid(1);
    for (const int index : setupGrids_)
      ReleaseGrid(index);
    for (const int index : parameterGrids_)
      ReleaseGrid(index);
    for (const int index : spinUpGrids_)
      ReleaseGrid(index);
  }
  parameterGrids_.clear();
  startTimesIndex_ = 0;
  movingMeanIndex_ = 0;
  temperature_ = nullptr;
  rootZoneWater_ = nullptr;
  spinUpGrids_.clear();
  hydrologicResponseUnits_.clear();
  coupling_ = ExternalCouplingSettings{};
  setupGrids_.clear();
  landuseLayerGrids_.clear();
  checkedCodeGrids_.clear();
  ownedGrids_.clear();
  ownedStacks_.clear();
  zones_ = ZoneRanking{};
  regions_ = RegionRanking{};
  regionGrids_ = {};
  rowRanges_.Clear();
  ZoneTable = nullptr;
  ZoneIndex = nullptr;
  RowRanges = nullptr;
  CellWeights = nullptr;
  iceFirn_ = nullptr;
  settings_.OutputListCodes.Clear();
  settings_.InitialStateDirectory.clear();
  settings_.DefaultOutputDirectory.clear();
  modelobject::ReleaseMemory();
}

} // namespace tavro
