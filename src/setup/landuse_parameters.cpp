// The set-up object's land-use parameter grids: their registration and start
// values in set-up step 14, their update in every time step with the day's
// close and the dynamic phenology, and the stage stack written at the end.
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "raster/output/grid_output.h"
#include "raster/parallel/collective_failure.h"
#include "raster/parallel/strip_exchange.h"
#include "setup/defaultini.h"

#include <mpi.h>

#include <algorithm>
#include <iomanip>
#include <mutex>

namespace tavro {
namespace {

constexpr int kTemperatureNotFoundExitCode = 33;
constexpr const char *kStartTimesName = "MultipleStartTimes";
constexpr const char *kMovingMeanName = "TemperatureMOVAVG7";
constexpr const char *kDayTemperatureName = "TemperatureAVG";
constexpr int kStartTimesWritecode = 3;
constexpr int kHoursPerDay = 24;

// What the land-use table asks of the parameter grids.
struct TableUse {
  int MaxFixPoints = 0;
  bool Phenology = false; // some entry follows a dynamic phenology
  bool Stages = false;    // some entry keeps per-cell stage days (DynamicPhenology_3 or _4)
};

TableUse ScanTable(const OneBasedArray<landuse_class> &table) {
  TableUse use;
  for (const landuse_class &record : table) {
    use.MaxFixPoints = std::max(use.MaxFixPoints, record.GetFixPointCount());
    const int method = record.GetMethod();
    use.Phenology = use.Phenology || record.IsDynamicPhenology();
    use.Stages =
        use.Stages || method == landuse::DynamicPhenology3 || method == landuse::DynamicPhenology4;
  }
  return use;
}

} // namespace

int defaultini::FreeRegistryIndex() {
  const int index = Registry->FirstFreeIndex();
  if (index == 0)
    FailNoFreeGrid("no free grid found in memory", ")\n");
  return index;
}

CellIteration defaultini::OwnCells() const {
  CellIterationSetup setup;
  setup.FirstRow = decomposition_.strip.first;
  setup.LastRow = decomposition_.strip.last;
  setup.NCols = NCols;
  setup.RowRanges = &rowRanges_;
  setup.Zone = (*Registry)[1].Data;
  setup.NoData = NoData;
  setup.Owners = decomposed_ ? &decomposition_.regions : nullptr;
  setup.Rank = MPIRank;
  return CellIteration(setup);
}

Grid &defaultini::FindOrCreateParameterGrid(const std::string &identifier, double validValue,
                                            int writecode) {
  if (const int found = FindGrid(identifier, false); found > 0 && (*Registry)[found].Data)
    return *(*Registry)[found].Data;
  const StripRows held = HeldRows();
  Grid &grid = NewGrid(held.first, held.last);
  CreateGrid(grid, validValue, true);
  const int index = FreeRegistryIndex();
  AddGrid(index, identifier, &grid, nullptr, 1, identifier, writecode, held.first, held.last);
  parameterGrids_.push_back(index);
  return grid;
}

Stack &defaultini::NewStack(long lastLevel) {
  const StripRows held = HeldRows();
  ownedStacks_.push_back(
      std::make_unique<Stack>(held.first, held.last, NCols, lastLevel, NRows, *Log));
  return *ownedStacks_.back();
}

int defaultini::StartDayOfYear() const {
  const ModelTime &time = settings_.Time;
  int day = time.StartDay;
  for (int month = 1; month < time.StartMonth && month <= 12; ++month)
    day += DaysPerMonth[static_cast<std::size_t>(month)];
  return day;
}

void defaultini::MakeMovingMeanGrids(LanduseSingleGrids &single) {
  const int found = FindGrid(kMovingMeanName, false);
  if (found > 0 && (*Registry)[found].Data != nullptr) {
    GridEntry &entry = (*Registry)[found];
    single.MovingMean = entry.Data;
    // A declared grid is written with the other set-up grids in every step.
    const bool setupGrid =
        std::find(setupGrids_.begin(), setupGrids_.end(), found) != setupGrids_.end();
    movingMeanIndex_ = setupGrid ? 0 : found;
    if (entry.StackData != nullptr &&
        entry.StackData->LastLevel() >= LanduseParameterGrids::kDailyMeanLevels) {
      single.DailyMeans = entry.StackData;
      return;
    }
  } else {
    // The mean is written by the units digit of the day's mean's writecode.
    const int dayMean = FindGrid(kDayTemperatureName, false);
    const int writecode = dayMean > 0 ? (*Registry)[dayMean].OutputKind : 0;
    single.MovingMean = &FindOrCreateParameterGrid(kMovingMeanName, 0.0, writecode);
    movingMeanIndex_ = parameterGrids_.back();
  }
  // The daily means of a grid without them start from 0, like a new grid.
  Stack &means = NewStack(LanduseParameterGrids::kDailyMeanLevels);
  const Grid &zone = *(*Registry)[1].Data;
  for (long r = means.FirstRow(); r <= means.LastRow(); ++r)
    for (long c = 1; means.HasRow(r) && zone.HasRow(r) && c <= NCols; ++c)
      std::fill_n(means[r][c], LanduseParameterGrids::kDailyMeanLevels + 1,
                  zone[r][c] > NoData ? 0.0 : NoData);
  single.DailyMeans = &means;
}

LayerParameterGrids defaultini::MakeLayerGrids(int k, bool phenology, int stageLevels,
                                               bool &newStages) {
  LayerParameterGrids l;
  const std::string landuse = Concat("landuse", k);
  if (const int index = FindGrid(landuse, false); index > 0)
    l.Landuse = (*Registry)[index].Data;
  if (l.Landuse == nullptr)
    ThrowFatal(*Log, GridRegistry::NotFoundExitCode,
               Concat("the land-use layer grid ", landuse,
                      " is missing for the land-use parameter grids"));
  const auto grid = [&](const char *name, double start) {
    return &FindOrCreateParameterGrid(Concat(name, k), start);
  };
  l.RootDepth = grid("root_depth", 0.0);
  l.VegetationCover = grid("vegetation_coverage_degree", 0.0);
  l.LeafAreaIndex = grid("leaf_area_index", 0.0);
  l.CanopyResistance = grid("SurfaceCanopyResistance", 0.0);
  l.InterceptionResistance = grid("SurfaceIntercepResistance", 0.0);
  l.RoughnessLength = grid("RoughnessLength", 0.0);
  l.VegetationStart = grid("VegetationStart", 0.0);
  l.VegetationStop = grid("VegetationStop", 0.0);
  l.VegetationDuration = grid("VegetationDuration", 0.0);
  if (phenology) {
    // -1: not known yet, so that the set-up gives every cell the start
    // values of its land use (a new sum of forcing units starts at 0).
    l.ForcingSum = grid("SumOfForcingUnits", 0.0);
    l.PhenoStart = grid("Pheno_start", -1.0);
    l.ChillingSum = grid("SumOfChillingUnits", -1.0);
    l.FStar = grid("FStar_ForcingThreshold", -1.0);
  }
  newStages = false;
  if (stageLevels < 1)
    return l;
  const std::string name = Concat(kStartTimesName, k);
  int index = FindGrid(name, false);
  if (index > 0) {
    l.StartTimes = (*Registry)[index].StackData;
    if (l.StartTimes == nullptr || l.StartTimes->LastLevel() < stageLevels)
      ThrowFatal(*Log, GridRegistry::RegistryExitCode,
                 Concat("the registered grid ", name, " holds no stack of the levels 0 to ",
                        stageLevels, " that the dynamic phenology needs"));
  } else {
    l.StartTimes = &NewStack(stageLevels);
    index = FreeRegistryIndex();
    const StripRows held = HeldRows();
    AddGrid(index, name, nullptr, l.StartTimes, stageLevels, name, kStartTimesWritecode, held.first,
            held.last);
    parameterGrids_.push_back(index);
    newStages = true;
  }
  if (k == 1)
    startTimesIndex_ = index;
  return l;
}

void defaultini::generateMultiLayerParameterGrids(int layerCount) {
  landuseParameters_.reset();
  if (layerCount < 1 || !landuseTableRead_ || FindGrid("landuse1", false) == 0)
    return;
  const TableUse use = ScanTable(landuseTable_);
  const ModelTime &time = settings_.Time;
  for (landuse_class &record : landuseTable_)
    record.PresetStartDay(*Log, time.StartDay, time.StartMonth, time.StartYear);

  const int albedo = FindGrid("albedo", false);
  if (albedo == 0 || (*Registry)[albedo].Data == nullptr)
    ThrowFatal(*Log, GridRegistry::RegistryExitCode,
               "Albedo Grid not found for use within Landuse-Table.\n This grid must be read in "
               "as standard or variable grid (there, it can be created automatically)");
  FreeRegistryIndex(); // a full registry stops here, before any grid is made

  LanduseSingleGrids single;
  single.Albedo = (*Registry)[albedo].Data;
  single.SurfaceEvaporationResistance =
      &FindOrCreateParameterGrid("SurfaceEvaporationResistance", 0.0);
  if (use.Phenology) {
    single.DayTemperature = &FindOrCreateParameterGrid(kDayTemperatureName, 0.0);
    single.LeafFall = &FindOrCreateParameterGrid("StartDayOfLeaveFall", 0.0);
    MakeMovingMeanGrids(single);
  }

  std::vector<LayerParameterGrids> layers(static_cast<std::size_t>(layerCount) + 1);
  std::vector<bool> newStages(layers.size(), false);
  std::vector<PhenologyLayerGrids> phenologyGrids(layers.size());
  for (int k = 1; k <= layerCount; ++k) {
    const auto i = static_cast<std::size_t>(k);
    bool created = false;
    layers[i] = MakeLayerGrids(k, use.Phenology, use.Stages ? use.MaxFixPoints : 0, created);
    newStages[i] = created;
    phenologyGrids[i] = {layers[i].PhenoStart, layers[i].FStar, layers[i].ForcingSum,
                         layers[i].StartTimes};
  }
  // The records with a dynamic phenology place their fix points per cell.
  for (landuse_class &record : landuseTable_)
    if (record.IsDynamicPhenology())
      record.SetPhenologyGrids(use.MaxFixPoints, phenologyGrids);

  landuseParameters_ = std::make_unique<LanduseParameterGrids>(
      *Log, landuseTable_, OwnCells(), *(*Registry)[2].Data, NoData, layers, single);
  const CalendarDate start{time.StartDay, time.StartMonth, time.StartYear};
  std::vector<int> chillingKnown(landuseTable_.Count() + 1, 0);
  for (int k = 1; k <= layerCount; ++k) {
    const int failure = CaptureExitCode([&] {
      if (newStages[static_cast<std::size_t>(k)])
        landuseParameters_->InitialiseStartTimes(k, StartDayOfYear());
      landuseParameters_->InitialiseLayer(k, start, chillingKnown);
    });
    ThrowIfAnyFailed(*Log, failure);
    for (Grid *grid : landuseParameters_->HaloGrids(k))
      ExchangeHalo(decomposition_, *grid, *Log);
  }
  // A chilling sum known in any cell of a record ends its preset start on
  // every process alike.
  MPI_Allreduce(MPI_IN_PLACE, chillingKnown.data(), static_cast<int>(chillingKnown.size()), MPI_INT,
                MPI_MAX, MPI_COMM_WORLD);
  for (std::size_t i = 1; i < chillingKnown.size(); ++i)
    if (chillingKnown[i] != 0)
      landuseTable_[i].SetStartDayPreset(false);
}

void defaultini::FindPhenologyInputs() {
  if (phenologyInputsFound_)
    return;
  const int temperature = FindGrid("temperature", false);
  if (temperature == 0 || (*Registry)[temperature].Data == nullptr)
    ThrowFatal(*Log, kTemperatureNotFoundExitCode,
               "could not find grid with label \"temperature\". \nThis grid must be present "
               "(either by interpolating or by reading or as standard grid) for using dynamic "
               "phenology");
  temperature_ = (*Registry)[temperature].Data;
  const int rootZone = FindGrid("MeanThetaInRootZone", false);
  rootZoneWater_ = rootZone > 0 ? (*Registry)[rootZone].Data : nullptr;
  phenologyInputsFound_ = true;
}

void defaultini::UpdateLanduseParameters(long hour, long day, long month, long year,
                                         int /*timeStep*/) {
  LanduseParameterGrids *grids = landuseParameters_.get();
  if (grids != nullptr && grids->UsesPhenology()) {
    FindPhenologyInputs();
    ++stepsOfDay_;
    grids->AddStepTemperature(*temperature_, stepsOfDay_);
  }
  if (hour + static_cast<long>(HoursToIntervalEnd) == kHoursPerDay)
    CloseLanduseDay(hour, day, month, year);
  if (grids != nullptr)
    grids->CountVegetationSteps();
}

void defaultini::UpdateDynamicPhenology(int dayOfYear) {
  if (landuseParameters_ == nullptr || !landuseParameters_->UsesPhenology())
    return;
  // The preset start of an entry ends with its own dormancy.
  for (landuse_class &record : landuseTable_) {
    const LanduseParameters &p = record.Parameters();
    if ((p.Method == landuse::DynamicPhenology2 && dayOfYear == p.DP2_t0_dorm) ||
        (p.Method == landuse::DynamicPhenology4 && dayOfYear == p.DP4_t0_dorm))
      record.SetStartDayPreset(false);
  }
  landuseParameters_->AdvancePhenology(dayOfYear, rootZoneWater_);
}

void defaultini::LogDayProgress(long hour, long day, long month, long year) {
  const char *end = nullptr;
  if (HourDivisor == 1)
    end = ". h";
  else if (HourDivisor > 1 &&
           (lastDayClose_.Hour + static_cast<long>(HoursToIntervalEnd)) % HourDivisor == 0)
    end = ". h (time of meteo data)";
  if (end == nullptr)
    return;
  std::lock_guard lock(Log->Mutex());
  *Log << "INFO: " << std::setw(20) << "actual parameters"
       << " " << day << "." << month << "." << year << " " << hour << end << "[end-entry]";
}

void defaultini::RaiseVegetationPeriodFlags(int day, int month, int year) {
  if (landuseTable_.Count() == 0)
    return;
  const landuse_class &header = landuseTable_[0];
  const int dayOfYear = header.DayOfYear(*Log, day, month, year);
  const bool begins = dayOfYear == header.GetJDVegetationResetForBalance();
  const bool ends = dayOfYear == header.GetJDVegetationWriteForBalance();
  if (!begins && !ends)
    return;
  // Released grids leave holes: every entry is looked at.
  for (int index = 1; index <= GridRegistry::LastIndex; ++index) {
    GridEntry &entry = (*Registry)[index];
    if (entry.IsFree())
      continue;
    if (begins)
      entry.VegetationPeriodBegins = 1;
    if (ends)
      entry.VegetationPeriodEnded = 1;
  }
}

void defaultini::CloseLanduseDay(long hour, long day, long month, long year) {
  LogDayProgress(hour, day, month, year);
  LanduseParameterGrids *grids = landuseParameters_.get();
  if (grids == nullptr)
    return;
  SetActualStep(hour, day, month, year);
  lastDayClose_ = {hour, day, month, year};
  const bool phenology = grids->UsesPhenology();
  if (phenology)
    movingAverageDays_ = std::min(movingAverageDays_ + 1, LanduseParameterGrids::kDailyMeanLevels);
  int dayOfYear = static_cast<int>(day);
  for (long m = 1; m < month && m <= 12; ++m)
    dayOfYear += DaysPerMonth[static_cast<std::size_t>(m)];
  const CalendarDate date{static_cast<int>(day), static_cast<int>(month), static_cast<int>(year)};
  const int failure = CaptureExitCode([&] {
    if (phenology) {
      grids->UpdateMovingMean(movingAverageDays_);
      UpdateDynamicPhenology(dayOfYear);
    }
    grids->EvaluateParameters(date);
    if (phenology)
      grids->ClearDayTemperature();
    RaiseVegetationPeriodFlags(date.Day, date.Month, date.Year);
  });
  ThrowIfAnyFailed(*Log, failure);
  stepsOfDay_ = 0;
  if (phenology && movingMeanIndex_ > 0)
    WriteGridOutput(movingMeanIndex_);
  // Halo rows follow their owners every day, as after the set-up.
  for (int k = 1; k <= grids->LayerCount(); ++k)
    for (Grid *grid : grids->HaloGrids(k))
      ExchangeHalo(decomposition_, *grid, *Log);
}

void defaultini::WriteStartTimesAtEnd() {
  if (startTimesIndex_ == 0 || Registry == nullptr)
    return;
  GridEntry &entry = (*Registry)[startTimesIndex_];
  if (entry.StackData == nullptr)
    return;
  WriteOutputStack(*this, GatherOf(*this), Concat(entry.FileName, "_End"), *entry.StackData,
                   entry.Levels);
}

} // namespace tavro
