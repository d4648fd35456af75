// Set-up and wiring of one run's modules (init) and the end of the run.
#include "modell_application.h"

#include <mpi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "interrupt_state.h"
#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "landsurface/evapotranspiration_model.h"
#include "landsurface/interception_model.h"
#include "landsurface/radiation_correction.h"
#include "landsurface/silting_up_model.h"
#include "landsurface/snow_model.h"
#include "lateral/groundwater_flow.h"
#include "lateral/irrigation_model.h"
#include "lateral/surface_routing.h"
#include "meteo/meteointerpol.h"
#include "meteo/precipitation_correction.h"
#include "meteo/regional_superposition.h"
#include "raster/handover/tracer_grid_hooks.h"
#include "raster/output/grid_output.h"
#include "raster/output/special_output.h"
#include "raster/output/statistics_registry.h"
#include "raster/parallel/collective_failure.h"
#include "routing/routing_model.h"
#include "setup/tracer_ini_class.h"
#include "soil/unsatzon_model.h"

namespace tavro {
namespace {
constexpr const char *kLakeSection = "[lake_model]";

void ThrowIfFailed(int error) {
  if (error != 0)
    throw error;
}

bool HasArgument(int argc, char **argv, const char *word) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], word) == 0)
      return true;
  return false;
}

// True when the copy of the control file holds a line starting with key.
bool SectionPresent(DiagnosticsLog &log, const std::string &controlFile, const char *key) {
  ControlFileReader reader(log, "");
  if (!reader.Open(controlFile))
    return true; // let the module report the unreadable file itself
  const bool found = reader.FindControlKey(key, false);
  reader.Close();
  return found;
}

void EndProcessAtOnce(int status) {
  std::fflush(nullptr);
  std::_Exit(status);
}
} // namespace

ModellApplication::ModellApplication(DiagnosticsLog &log, ApplicationServices services)
    : memory_handling(log, "ModellApplication"), services_(std::move(services)) {
  factory_ = services_.Factory != nullptr ? services_.Factory : &defaultFactory_;
  if (services_.ConsoleInput == nullptr)
    services_.ConsoleInput = stdin;
  if (!services_.CancelNow)
    services_.CancelNow = EndProcessAtOnce;
}

ModellApplication::ModellApplication(DiagnosticsLog &log, int argc, char **argv,
                                     int controlFileArgument, ApplicationServices services)
    : ModellApplication(log, std::move(services)) {
  Init(argc, argv, controlFileArgument);
}

ModellApplication::~ModellApplication() = default;

void ModellApplication::Init(int argc, char **argv, int controlFileArgument) {
  try {
    InitSteps(argc, argv, controlFileArgument);
  } catch (int) {
    *Log << "FATAL: exceptions in ModellApplication::init() caught!"
         << "[end-entry]";
    throw;
  }
}

void ModellApplication::InitSteps(int argc, char **argv, int controlFileArgument) {
  *Log << "file modapuzr.cpp, compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
  SetInterruptState(0);
  endOfRun_ = 0;

  const std::string path = argv[controlFileArgument];
  if (path.size() > kMaxControlFilePath)
    ThrowFatal(*Log, teilmodellklasse::ControlFileExitCode,
               Concat("control-file path longer than ", kMaxControlFilePath,
                      " characters: ", path.substr(0, 80), "..."));
  controlFilePath_ = path;

  try {
    registry_ = std::make_unique<GridRegistry>();
  } catch (const std::bad_alloc &) {
    *Log << "FATAL: no free memory for creating grids "
         << "[end-entry]";
    throw kRegistryAllocationExitCode;
  }
  statistics_ = std::make_unique<StatisticsRegistry>(kStatisticsCapacity);
  // Grids registered with output kind 8 are written at once, through the
  // output engine and the registering object's gathers.
  InstallGridOutputHook(*registry_);
  // The modules' tracer records build their statistics and read their
  // storage grids through the raster code.
  InstallTracerGridHooks(*registry_);

  BuildSetup();
  memory_.Mark("the set-up's grids");
  BuildInterpolators();
  memory_.Mark("the meteorological interpolation");
  BuildSubModels(argc, argv);
  memory_.Mark("the links, statistics and special output");
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  memory_.Print(rank);

  *Log << "end of initialization reached..."
       << "[end-entry]";
  Initialized = 1;
}

void ModellApplication::BuildSetup() {
  int error = 0;
  modules_.Setup =
      factory_->MakeSetup(error, *Log, controlFilePath_, statistics_.get(), kStatisticsCapacity,
                          defaultini::kSoilModelVariant, registry_.get());
  ThrowIfFailed(error);
  RunSetup &setup = *modules_.Setup;
  bool done = false;
  while (!done)
    setup.InitStep(done);
  setup.CreateStandardGridStatistics();
  settings_ = setup.GetSettings();
  setup.SetInitialized(1);

  controlFileCopy_ = settings_.ControlFileName;
  meteoVariableCount_ = settings_.MeteoVariableCount;
  meteoNames_.clear();
  for (int i = 1; i <= meteoVariableCount_; ++i)
    meteoNames_.push_back(settings_.MeteoNames != nullptr ? (*settings_.MeteoNames)[i]
                                                          : std::string());
  outputListCount_ = settings_.OutputListCount;
  outputList_.Resize(outputListCount_ > 0 ? static_cast<std::size_t>(outputListCount_) : 0, 0);
  for (int i = 1; i <= outputListCount_ && settings_.OutputList != nullptr; ++i)
    outputList_[i] = (*settings_.OutputList)[i];
  outputList_[0] = outputListCount_; // modules find the count in element 0

  spinUp_ = setup.InitSpinUp();
}

ModuleSettings ModellApplication::CommonSettings(const std::string &moduleName) const {
  ModuleSettings s;
  s.Log = Log;
  s.Statistics = statistics_.get();
  s.StatisticsCapacity = kStatisticsCapacity;
  s.ModuleName = moduleName;
  s.Latitude = settings_.Latitude;
  s.Longitude = settings_.Longitude;
  s.ReferenceMeridian = settings_.ReferenceMeridian;
  s.MinToIntEnd = settings_.MinToIntEnd;
  s.XllCorner = settings_.XllCorner;
  s.YllCorner = settings_.YllCorner;
  s.CellSize = settings_.CellSize;
  s.NoData = settings_.NoData;
  s.ControlFileName = controlFileCopy_;
  s.HourDivisor = settings_.HourDivisor;
  s.OutputListCount = outputListCount_;
  s.OutputList = &outputList_;
  s.Registry = registry_.get();
  s.ZoneIndex = settings_.ZoneIndex;
  s.ZoneTable = settings_.ZoneTable;
  s.RowRanges = settings_.RowRanges;
  s.ZoneCount = settings_.ZoneCount;
  s.MaxZoneCode = settings_.MaxZoneCode;
  s.NCols = settings_.NCols;
  s.NRows = settings_.NRows;
  s.FirstRow = settings_.FirstRow;
  s.LastRow = settings_.LastRow;
  s.EndDate = settings_.End;
  s.TimeShift = settings_.TimeShift;
  s.LanduseTable = settings_.LanduseTable;
  s.SoilTable = settings_.SoilTable;
  s.MultilayerTable = settings_.MultilayerTable;
  s.WriteAsciiGrids = settings_.WriteAsciiGrids;
  s.WriteDoubleGrids = settings_.WriteDoubleGrids;
  s.InitialStateDirectory = settings_.InitialStateDirectory;
  s.DefaultOutputDirectory = settings_.DefaultOutputDirectory;
  s.CellCounts = settings_.CellCounts;
  s.Halo.Send = settings_.HaloSend;
  s.Halo.Receive = settings_.HaloReceive;
  s.Halo.Decomposition = settings_.Decomposition;
  s.SpinUpSwitch = spinUp_.SpinUpSwitch;
  s.HydrologicResponseUnits = spinUp_.HydrologicResponseUnits;
  s.SubstepCount = substepCount_;
  return s;
}

void ModellApplication::BuildInterpolators() {
  modules_.Interpolators.clear();
  for (int i = 1; i <= meteoVariableCount_; ++i) {
    const int entry = registry_->FirstFreeIndex();
    if (entry == 0) {
      *Log << "FATAL: no more free grids in memeory, (max. " << 1000 << ")!"
           << "[end-entry]";
      throw kRegistryFullExitCode;
    }
    int error = 0;
    const std::string &name = meteoNames_[static_cast<std::size_t>(i - 1)];
    auto variable = factory_->MakeInterpolator(error, CommonSettings(name), settings_.Start, entry);
    ThrowIfFailed(error);
    variable->SetWarnings(settings_.InterpolationWarnings);
    variable->SetTimeStep(settings_.MinToIntEnd / 60.0);
    if (name.find("irrigation_amounts") != std::string::npos)
      variable->SetWarnings(0);
    variable->SetInitialized(1);
    modules_.Interpolators.push_back(std::move(variable));
  }
}

void ModellApplication::InitTracers(teilmodellklasse &module, bool markInitialized) {
  int error = 0;
  module.InitTracerGrids(error, tracerCount_, tracerInfo_, statistics_.get(), kStatisticsCapacity);
  ThrowIfFailed(error);
  if (markInitialized)
    module.SetInitialized(1);
}

void ModellApplication::AnnouncePrecipitationCorrection() {
  ApplicationModules &m = modules_;
  precicorrclass &correction = *m.PrecipitationCorrection;
  if (m.Superposition->IsActive() != 0) {
    correction.SetGridRenewedEveryStep(
        m.Superposition->ComputesGrid(correction.PrecipitationGridIndex()));
    return;
  }
  if (correction.CorrectsGridInsteadOfStations())
    *Log << "INFO: precipitation correction: temperature, wind speed or precipitation exists "
            "only as a grid (or is read from grids), so the grid \"precipitation\" is "
            "corrected after the interpolation instead of the station values"
         << "[end-entry]";
}

void ModellApplication::BuildSubModels(int argc, char **argv) {
  ApplicationModules &m = modules_;
  int error = 0;

  m.Tracers = factory_->MakeTracerDescription(error, CommonSettings(tracer_ini_class::FixedName));
  ThrowIfFailed(error);
  tracerCount_ = m.Tracers->GetTracerCount();
  tracerInfo_ = m.Tracers->GetTracerInfo();
  m.Tracers->SetInitialized(1);

  RegionTableRef regions;
  if (settings_.Regions != nullptr) {
    regions.CodeToRegion = &settings_.Regions->CodeIndex;
    regions.Count = settings_.Regions->Count;
    regions.MaxCode = settings_.Regions->MaxCode;
  }
  m.Superposition = factory_->MakeRegionalSuperposition(
      CommonSettings(RegionalSuperposition::FixedName), regions);

  std::vector<meteointerpol *> variables;
  for (auto &variable : m.Interpolators)
    variables.push_back(variable.get());
  m.PrecipitationCorrection = factory_->MakePrecipitationCorrection(
      error, CommonSettings(precicorrclass::FixedName), variables, meteoNames_, regions.Count);
  ThrowIfFailed(error);
  memory_.Mark(precicorrclass::FixedName);
  m.PrecipitationCorrection->SetMaxElevation(m.Setup->GetMaxElevation());
  AnnouncePrecipitationCorrection();
  m.PrecipitationCorrection->SetInitialized(1);

  m.RadiationCorrection =
      factory_->MakeRadiationCorrection(error, CommonSettings(expokorrklasse::FixedName));
  ThrowIfFailed(error);
  memory_.Mark(expokorrklasse::FixedName);
  m.RadiationCorrection->SetInitialized(1);

  m.Evapotranspiration =
      factory_->MakeEvapotranspiration(error, CommonSettings(verdunstungsmodellklasse::FixedName));
  ThrowIfFailed(error);
  memory_.Mark(verdunstungsmodellklasse::FixedName);
  m.Evapotranspiration->SetRadiationCorrectionGrid(
      m.RadiationCorrection->GetRadiationCorrectionGrid());

  m.Snow = factory_->MakeSnow(error, CommonSettings(schneemodellklasse::FixedName));
  ThrowIfFailed(error);
  memory_.Mark(schneemodellklasse::FixedName);
  m.Snow->SetRadiationCorrectionGrid(m.RadiationCorrection->GetRadiationCorrectionGrid());
  m.Evapotranspiration->SetSnowStorage(m.Snow->GetSnowStorage());
  m.Evapotranspiration->SetSnowMethod(m.Snow->GetMethod());
  m.Evapotranspiration->SetInitialized(1);

  m.Interception =
      factory_->MakeInterception(error, CommonSettings(interzeptionsmodellklasse::FixedName));
  ThrowIfFailed(error);
  memory_.Mark(interzeptionsmodellklasse::FixedName);
  interceptionMethod_ = m.Interception->GetMethod();
  interceptionFirst_ = interceptionMethod_ > 10;
  m.Snow->SelectWaterInput(interceptionFirst_);

  m.SiltingUp = factory_->MakeSiltingUp(error, CommonSettings(siltingupclass::FixedName));
  ThrowIfFailed(error);
  memory_.Mark(siltingupclass::FixedName);
  m.SiltingUp->SelectWaterInput(interceptionFirst_);

  substepCount_ = settings_.SubstepCount;

  const IrrigationTable *irrigationTable = settings_.Irrigation;
  m.SoilWater = factory_->MakeSoilWater(error, CommonSettings(unsatzonmodellklasse::FixedName),
                                        irrigationTable, substepCount_);
  ThrowIfFailed(error);
  memory_.Mark(unsatzonmodellklasse::FixedName);
  m.SoilWater->ComputeMaxPumping();
  m.SoilWater->SelectWaterInput(interceptionFirst_);
  m.SoilWater->SetDumpOptions(HasArgument(argc, argv, "-dumpmode"),
                              HasArgument(argc, argv, "-closeAfterDump"),
                              HasArgument(argc, argv, "-repairAfterDump"));

  m.Evapotranspiration->ReadLakeParameters(kLakeSection);
  m.Snow->ReadLakeParameters(kLakeSection);

  // Irrigation, groundwater and routing count their zones as soil water does.
  auto soilZoneSettings = [&](const char *name) {
    ModuleSettings s = CommonSettings(name);
    m.SoilWater->CopyZoneTableTo(s);
    return s;
  };
  m.SurfaceRouting = factory_->MakeSurfaceRouting(
      error, CommonSettings(surfaceroutingclass::FixedName), substepCount_);
  ThrowIfFailed(error);
  memory_.Mark(surfaceroutingclass::FixedName);
  // The soil water builds its flow-time zones in its tracer set-up below and
  // builds them for surface routing's hand-over when that module is active.
  if (m.SurfaceRouting->IsActive() >= 1)
    m.SoilWater->SetSurfaceRoutingActive(1);
  m.Irrigation = factory_->MakeIrrigation(error, soilZoneSettings(irrigationclass::FixedName),
                                          irrigationTable);
  ThrowIfFailed(error);
  memory_.Mark(irrigationclass::FixedName);
  m.Groundwater = factory_->MakeGroundwater(error, soilZoneSettings(gwflowclass::FixedName),
                                            irrigationTable, substepCount_);
  ThrowIfFailed(error);
  memory_.Mark(gwflowclass::FixedName);

  m.Evapotranspiration->SetSubstepCount(substepCount_);
  m.SoilWater->SetGroundwaterCoupling(m.Groundwater->IsActive() != 0 ? 1 : 0);

  InitTracers(*m.Irrigation, false);
  InitTracers(*m.Snow, false);
  InitTracers(*m.Interception, true);
  InitTracers(*m.SiltingUp, true);
  InitTracers(*m.Groundwater, false);
  InitTracers(*m.SoilWater, true);
  InitTracers(*m.SurfaceRouting, true);

  ModuleSettings routingSettings = soilZoneSettings(abflussmodellklasse::FixedName);
  routingSettings.EndDate = settings_.Start; // routing starts from the start of the period
  m.Routing = factory_->MakeRouting(error, routingSettings, tracerCount_, tracerInfo_,
                                    m.SoilWater->GetStateReadMode());
  ThrowIfFailed(error);
  memory_.Mark(abflussmodellklasse::FixedName);

  WireRunoff();

  m.SpecialOutput = factory_->MakeSpecialOutput(
      error,
      [&] {
        ModuleSettings s = CommonSettings(SpecialOutputClass::FixedName);
        // The section is optional: without it the module is built switched off
        // and reads nothing, so that a run without it logs no FATAL entry.
        if (!SectionPresent(*Log, controlFileCopy_, "[special_output]")) {
          *Log << "INFO: no section [special_output]: special output is off"
               << "[end-entry]";
          s.ZoneIndex = nullptr;
        }
        return s;
      }(),
      substepCount_);
  ThrowIfFailed(error);

  m.Setup->LinkExternalGrids(statistics_.get(), kStatisticsCapacity);
}

void ModellApplication::WireRunoff() {
  ApplicationModules &m = modules_;
  const bool surfaceActive = m.SurfaceRouting->IsActive() >= 1;
  const bool routingActive = m.Routing->IsActive() >= 1;
  if (surfaceActive) {
    m.SurfaceRouting->SetQBb(m.SoilWater->GetQBb());
    m.SurfaceRouting->SetKelsqd(m.SoilWater->GetKelsqd());
    m.SurfaceRouting->SetKelsqi(m.SoilWater->GetKelsqi());
    if (routingActive)
      m.Routing->SetQg(m.SurfaceRouting->GetQg());
  } else if (routingActive) {
    m.Routing->SetQg(m.SoilWater->GetQg());
  }

  // Every process takes part in the lake-cell exchange.
  m.Routing->InitLakeModel(InterceptionFirst());

  if (routingActive) {
    m.Routing->InitializeDischarges();
    m.Routing->SetIrrigationAmounts(m.Irrigation->GetIrrigationAmounts());
    m.Groundwater->SetRiverflowTable(m.SoilWater->GetRiverflowTable());
  }
  // Every process books its river cells' exchange in its own table.
  if (m.Routing->RoutingOn() > 0)
    m.Routing->SetRiverflowTable(m.SoilWater->GetRiverflowTable());
  if (routingActive) {
    m.Routing->ReadStorage(m.SoilWater->GetStorageFileName(), m.SoilWater->GetStateReadMode());
    m.Routing->SetInitialized(1);
  }

  m.Irrigation->SetRiverflowTable(m.SoilWater->GetRiverflowTable());
  m.Irrigation->SetQg(m.SoilWater->GetQg());
  m.Irrigation->LinkSoilTracerGrids();
  m.Irrigation->SetMaxIrrig(m.Routing->GetMaxIrrig(), m.Routing->GetMaxIrrigFromReservoirs());
  m.Irrigation->SetRoutingTarget(m.Routing->GetRoutingTarget());
  m.Irrigation->SetAbfrel(m.Routing->GetAbfrel());
  m.Irrigation->SetInitialized(1);

  m.Groundwater->SetQg(m.SoilWater->GetQg());
  m.Groundwater->SetInitialized(1);

  if (m.Snow->IsActive() != 0) {
    m.Snow->SetQg(m.SoilWater->GetQg());
    m.Snow->ReadStorage(m.SoilWater->GetStorageFileName(), m.SoilWater->GetStateReadMode());
    m.Snow->SetInitialized(1);
  }
}

// --- End of the run -----------------------------------------------------------

void ModellApplication::FlushAll() {
  ApplicationModules &m = modules_;
  for (auto &variable : m.Interpolators)
    variable->FlushStatistics();
  if (m.Superposition)
    m.Superposition->FlushStatistics();
  if (m.Evapotranspiration)
    m.Evapotranspiration->FlushStatistics();
  if (m.Snow)
    m.Snow->FlushStatistics();
  if (m.Interception)
    m.Interception->FlushStatistics();
  if (m.Irrigation)
    m.Irrigation->FlushStatistics();
  if (m.SiltingUp)
    m.SiltingUp->FlushStatistics();
  if (m.SoilWater)
    m.SoilWater->FlushStatistics();
  if (m.SurfaceRouting)
    m.SurfaceRouting->FlushStatistics();
  if (m.Groundwater)
    m.Groundwater->FlushStatistics();
  if (m.Routing)
    m.Routing->FlushStatistics();
  if (m.SpecialOutput)
    m.SpecialOutput->FlushFiles();
  if (m.Setup)
    m.Setup->FlushStatistics();
}

namespace {
template <class Module> void MarkNotInitialized(const std::unique_ptr<Module> &module) {
  if (module)
    module->SetInitialized(0);
}
template <class Module> void Release(const std::unique_ptr<Module> &module) {
  if (module)
    module->ReleaseMemory();
}
template <class Module> void FinishTracers(const std::unique_ptr<Module> &module) {
  if (module)
    module->FinishTracerGrids();
}
} // namespace

void ModellApplication::ReleaseModules() {
  ApplicationModules &m = modules_;
  for (auto it = m.Interpolators.rbegin(); it != m.Interpolators.rend(); ++it)
    if (*it)
      (*it)->ReleaseMemory();
  meteoNames_.clear();

  FinishTracers(m.Snow);
  FinishTracers(m.Interception);
  FinishTracers(m.SiltingUp);
  FinishTracers(m.Irrigation);
  FinishTracers(m.Groundwater);
  FinishTracers(m.Superposition);

  // A state section that cannot be written ends the run (18), but only once
  // every module has finished its run and written its tables and sections;
  // the first such failure is the run's, agreed by all processes at the end.
  int stateFailure = 0;
  auto finish = [&stateFailure](auto &&step) {
    const int failure = CaptureExitCode(step);
    if (stateFailure == 0)
      stateFailure = failure;
  };
  // The routing section creates the state file; the later sections append.
  const bool routingFlag = m.Routing && m.Routing->IsActive() != 0;
  finish([&] { Release(m.Routing); });
  const bool soilFlag = m.SoilWater && m.SoilWater->IsActive() != 0;
  if (m.SoilWater)
    finish([&] { m.SoilWater->FinishRun(routingFlag); });
  Release(m.SiltingUp);
  if (m.SurfaceRouting)
    finish([&] { m.SurfaceRouting->FinishRun(routingFlag || soilFlag); });

  Release(m.Interception);
  Release(m.Irrigation);
  finish([&] { Release(m.Snow); });
  Release(m.Evapotranspiration);
  Release(m.RadiationCorrection);
  Release(m.Superposition);
  Release(m.PrecipitationCorrection);
  Release(m.Groundwater);
  Release(m.Tracers);
  Release(m.SpecialOutput);
  Release(m.Setup);
  ThrowIfAnyFailed(*Log, stateFailure);
}

void ModellApplication::DeleteModules() {
  ApplicationModules &m = modules_;
  while (!m.Interpolators.empty())
    m.Interpolators.pop_back();
  meteoVariableCount_ = 0;
  m.Tracers.reset();
  m.Routing.reset();
  m.Groundwater.reset();
  m.Irrigation.reset();
  m.SiltingUp.reset();
  m.SurfaceRouting.reset();
  m.SoilWater.reset();
  m.Interception.reset();
  m.Snow.reset();
  m.Evapotranspiration.reset();
  m.RadiationCorrection.reset();
  m.Superposition.reset();
  m.PrecipitationCorrection.reset();
  m.SpecialOutput.reset();
  m.Setup.reset();
}

void ModellApplication::ClearMemory() {
  try {
    *Log << "reached end of simulation sucessfully"
         << "[end-entry]";
    ApplicationModules &m = modules_;
    if (Initialized == 1) {
      FlushAll();
    } else {
      // A run whose set-up failed writes no state and no final output.
      for (auto &variable : m.Interpolators)
        if (variable)
          variable->SetInitialized(0);
      MarkNotInitialized(m.Superposition);
      MarkNotInitialized(m.Evapotranspiration);
      MarkNotInitialized(m.Snow);
      MarkNotInitialized(m.Interception);
      MarkNotInitialized(m.Irrigation);
      MarkNotInitialized(m.SurfaceRouting);
      MarkNotInitialized(m.SoilWater);
      MarkNotInitialized(m.SiltingUp);
      MarkNotInitialized(m.Groundwater);
      MarkNotInitialized(m.Routing);
      MarkNotInitialized(m.RadiationCorrection);
      MarkNotInitialized(m.PrecipitationCorrection);
      MarkNotInitialized(m.Tracers);
      MarkNotInitialized(m.SpecialOutput);
      if (m.Setup)
        m.Setup->SetInitialized(0);
    }
    ReleaseModules();

    controlFilePath_.clear();
    controlFileCopy_.clear();
    outputList_.Resize(0, 0);
    outputListCount_ = 0;

    *Log << "o.k.\n"
         << "[end-entry]";
    *Log << "deleting modules..."
         << "[end-entry]";
    DeleteModules();
    // Freed after the modules, whose destruction still releases entries.
    registry_.reset();
    statistics_.reset();
  } catch (int) {
    *Log << "FATAL: Exception in Modellapplication::ClearMemory() caught!"
         << "[end-entry]";
    throw;
  }
}

} // namespace tavro
