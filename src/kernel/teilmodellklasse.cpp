// Sub-model base: construction from the common settings, the module's
// section, the base step, the floating-point-error report and the solar
// geometry at the module's position.
#include "kernel/teilmodellklasse.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/progress_line.h"
#include "kernel/tracer_concentration.h"
#include "kernel/tracer_info.h"
#include "kernel/tracer_set_up.h"

#include <exception>
#include <iomanip>
#include <mutex>
#include <new>
#include <stdexcept>

namespace tavro {
namespace {

DiagnosticsLog &RequiredLog(const ModuleSettings &settings) {
  if (settings.Log == nullptr)
    throw std::invalid_argument("module settings without a log");
  return *settings.Log;
}

} // namespace

teilmodellklasse::teilmodellklasse(const ModuleSettings &settings, bool sectionMandatory)
    : modelobject(RequiredLog(settings), settings.ModuleName, settings.ControlFileName,
                  OptionsOf(settings)),
      SubstepCount(settings.SubstepCount) {
  // Without a zone table the module stays off and reads nothing.
  if (settings.ZoneIndex == nullptr)
    return;
  StoreSettings(settings);

  Log->Entry(Concat("DEBUG: initializing module ", ModuleName, DiagnosticsLog::EndToken));
  if (!OpenControlFile())
    ThrowFatal(*Log, OpenErrorExitCode, "error opening " + ControlFileName);
  if (!ReadSection(sectionMandatory))
    return;
  CheckTimeStep();
  StepsPerDay = 1440.0 / TimeStep;

  // An active module's own constructor reads on from the next line.
  if (FlowControl != 0)
    return;
  if (!CloseControlFile())
    ThrowFatal(*Log, CloseErrorExitCode, "error closing " + ControlFileName);
}

teilmodellklasse::~teilmodellklasse() = default;

void teilmodellklasse::StoreSettings(const ModuleSettings &settings) {
  Statistics = settings.Statistics;
  StatisticsCapacity = settings.StatisticsCapacity;
  OutputListCount = settings.OutputListCount;
  OutputList = settings.OutputList;
  MinToIntEnd = settings.MinToIntEnd;
  HourDivisor = settings.HourDivisor;
  SetActualDate(settings.EndDate.Year, settings.EndDate.Month, settings.EndDate.Day,
                settings.EndDate.Hour);
  ZoneTable = settings.ZoneTable;
  ZoneIndex = settings.ZoneIndex;
  RowRanges = settings.RowRanges;
  ZoneCount = settings.ZoneCount;
  MaxZoneCode = settings.MaxZoneCode;
  NCols = settings.NCols;
  NRows = settings.NRows;
  FirstRow = settings.FirstRow;
  LastRow = settings.LastRow;
  XllCorner = settings.XllCorner;
  YllCorner = settings.YllCorner;
  CellSize = settings.CellSize;
  NoData = settings.NoData;
  Registry = settings.Registry;
  TimeShift = settings.TimeShift;
  LanduseTable = settings.LanduseTable;
  SoilTable = settings.SoilTable;
  MultilayerTable = settings.MultilayerTable;
  CellCounts = settings.CellCounts;
  SpinUpSwitch = settings.SpinUpSwitch;
  HydrologicResponseUnits = settings.HydrologicResponseUnits;

  if (Registry != nullptr) {
    BaseZoneGrid = (*Registry)[1].Data;
    const int weights = Registry->FindGrid("RelCellArea", false);
    CellWeights = weights > 0 ? (*Registry)[weights].Data : nullptr;
  }

  Pi = solar::Pi;
  DegreesPerRadian = solar::DegreesPerRadian;
  EquationOfTimeTable = solar::EquationOfTimeTable;
  Latitude = settings.Latitude;
  Longitude = settings.Longitude;
  ReferenceMeridian = settings.ReferenceMeridian;
}

bool teilmodellklasse::ReadSection(bool sectionMandatory) {
  const std::string key = "[" + ModuleName + "]";
  if (sectionMandatory) {
    FindControlKey(key, true);
  } else {
    // An optional section that is absent switches the module off; that is
    // no error, so a successful run keeps its diagnostics free of FATAL lines.
    if (!FindControlKey(key, false)) {
      Log->Entry(Concat("INFO: no section ", key, " in the control file: module ", ModuleName,
                        " is off", DiagnosticsLog::EndToken));
      FlowControl = 0;
      CloseControlFile();
      return false;
    }
  }
  ReadControlValue(FlowControl, "flow control parameter for ");
  ReadControlValue(TimeStep, "time interval for ");
  return true;
}

void teilmodellklasse::CheckTimeStep() {
  // Refused here, as every step per day and step length divides by it.
  if (!(TimeStep > 0.0))
    ThrowFatal(*Log, ControlFileExitCode,
               Concat("error in control file, time interval for ", ModuleName, " is ", TimeStep,
                      " minutes; it must be above 0"));
  HoursToIntervalEnd = MinToIntEnd / 60.0;
  if (HoursToIntervalEnd > TimeStep / 60.0 + 0.00001)
    ThrowFatal(
        *Log, TimeStepExitCode,
        Concat("\n-------- error --------\n\nthe time step ", TimeStep,
               " minutes as given in the section for the module ", ModuleName,
               " \nis shorter than the parameter min_to_int_end with ", MinToIntEnd,
               " minutes\nfrom the [program_output]-section which gives the shift from \nthe hour "
               "entry of meteo-data to the time step end\nthis parameter (the 4-th in the section "
               "[program_output])\nshould be set to 0 if the hour markes the end of the time "
               "step\ne.g. like in \"1984 01 01 24\" for daily time steps -> parameter set to "
               "0\nand it should set to the variable $time, if the hour marks the time step "
               "start\ne.g. like in \"1984 01 01 00\" for daily time steps -> parameter set to "
               "1440 or $time\n\n-------- error --------"));
}

void teilmodellklasse::ComputeTimeStep(long hour, long day, long month, long year) {
  if (FlowControl == 0)
    return;
  SetActualStep(hour, day, month, year);
  if (!ProgressLineDue(HourDivisor, hour, HoursToIntervalEnd))
    return;
  std::lock_guard lock(Log->Mutex());
  *Log << std::setw(20) << ModuleName << " " << day << "." << month << "." << year << " " << hour
       << ". h "
       << "(time of meteo data)"
       << "[end-entry]";
}

void teilmodellklasse::ReportFPE(int i1, int i2, int i3, int i4, double a1, double a2, double a3,
                                 double a4, double a5) {
  // Threads of one loop may find the flag raised at once: only the one that
  // takes it from 1 to 2 reports, so a pending error gives one entry.
  int pending = 1;
  if (!FpeFlag.compare_exchange_strong(pending, 2)) {
    FpeFlag.store(0);
    return;
  }
  std::lock_guard lock(Log->Mutex());
  *Log << "INFO: fpe in i1: " << i1 << ", i2: " << i2 << ", i3: " << i3 << ", i4: " << i4
       << "\na1: " << a1 << " a2: " << a2 << " a3: " << a3 << " a4: " << a4 << " a5: " << a5 << " "
       << "[end-entry]";
}

void teilmodellklasse::InitTracerGrids(int &error, int tracerCount, OneBasedArray<TracerInfo> *info,
                                       StatisticsRegistry *registry, int capacity) {
  error = 0;
  // A second call replaces the records of the first, whose registry entries
  // must not be left pointing at them.
  if (!TracerRecords.Empty())
    FinishTracerGrids();
  TracerCount = tracerCount;
  TracerInfoTable = info;
  if (tracerCount < 1)
    return;
  SetUpTracerRecords(*this, error, tracerCount, info, TracerRecords, [&] {
    for (int i = 1; i <= tracerCount; ++i)
      BuildTracerRecord(i, (*info)[static_cast<std::size_t>(i)], registry, capacity);
  });
}

void teilmodellklasse::BuildTracerRecord(int tracer, const TracerInfo &info,
                                         StatisticsRegistry *registry, int capacity) {
  const TracerGridHooks &hooks = TracerHooks();
  TracerRecord &record = TracerRecords[static_cast<std::size_t>(tracer)];
  record.DecayFactor = info.radioactive == 1 ? TracerDecayFactor(TimeStep, info.half_time) : 1.0;

  if (ZoneTable == nullptr || ZoneTable->Count() < static_cast<std::size_t>(ZoneCount))
    ThrowFatal(*Log, OtherFailureExitCode,
               Concat("tracer grids of module ", ModuleName, " without its zone table"));
  record.ZoneConcentrations.assign(static_cast<std::size_t>(ZoneCount) + 1, ZoneRecord{});
  for (std::size_t k = 0; k < record.ZoneConcentrations.size(); ++k) {
    record.ZoneConcentrations[k].zonenwert = (*ZoneTable)[k].zonenwert;
    record.ZoneConcentrations[k].rel = (*ZoneTable)[k].rel;
  }
  record.StatisticsFileName = TracerFileName(info.path, info.name, ModuleName, info.statext);
  hooks.CreateStatistics(*this, record, tracer, info, registry, capacity);

  const int storageEntry = FreeTracerGridEntry();
  record.GridFileName = TracerFileName(info.path, info.name, ModuleName, info.gridext);
  if (GridReadParameter == 1)
    hooks.ReadStorageGrid(*this, record);
  else
    CreateStorageGrid(record);
  AddGrid(storageEntry, record.GridFileName, &record.StorageGrid, nullptr, 0,
          Concat("concstor_tracer_", tracer, "_", ModuleName), info.gridcode,
          record.StorageGrid.FirstRow(), record.StorageGrid.LastRow());
  record.StorageGridIndex = storageEntry;

  // An entry of its own, searched like the storage grid's: the entry after
  // the storage grid may be taken.
  const int fluxEntry = FreeTracerGridEntry();
  record.FluxGrid = Grid(HeldFirstRow(), HeldLastRow(), NCols, NRows, *Log);
  AddGrid(fluxEntry, record.GridFileName, &record.FluxGrid, nullptr, 0,
          Concat("concflux_tracer_", tracer, "_", ModuleName), 0, record.FluxGrid.FirstRow(),
          record.FluxGrid.LastRow());
  record.FluxGridIndex = fluxEntry;
}

void teilmodellklasse::CreateStorageGrid(TracerRecord &record) {
  const long first = HeldFirstRow();
  const long last = HeldLastRow();
  record.StorageGrid = Grid(first, last, NCols, NRows, *Log);
  // Every held row, so that rank 0's whole raster agrees with the strips.
  const Grid *zone = BaseZoneGrid;
  for (long r = first; r <= last; ++r) {
    const bool known = zone != nullptr && zone->HasRow(r);
    for (long c = 1; c <= NCols; ++c)
      record.StorageGrid[r][c] = known && (*zone)[r][c] != NoData ? 0.0 : NoData;
  }
}

int teilmodellklasse::FreeTracerGridEntry() const {
  const int entry = Registry != nullptr ? Registry->FirstFreeIndex() : 0;
  if (entry == 0)
    ThrowFatal(*Log, GridRegistry::RegistryExitCode,
               Concat("no free grid left. Please contact the author to set the number of "
                      "available grids to a larger value ",
                      GridRegistry::LastIndex + 1));
  return entry;
}

const TracerGridHooks &teilmodellklasse::TracerHooks() const {
  if (Registry == nullptr || !Registry->TracerHooks.Installed())
    ThrowFatal(*Log, OtherFailureExitCode,
               Concat("tracer grids of module ", ModuleName,
                      ": the statistics and grid reading of the raster code are not installed"));
  return Registry->TracerHooks;
}

void teilmodellklasse::FinishTracerGrids() {
  // Taken out first: a release that fails leaves nothing behind to release again.
  OneBasedArray<TracerRecord> records = std::move(TracerRecords);
  TracerRecords.Clear();
  TracerCount = 0;
  TracerInfoTable = nullptr;
  // The registry entries go before anything can fail, so that none is left
  // pointing at a freed grid.
  for (TracerRecord &record : records) {
    for (int *entry : {&record.StorageGridIndex, &record.FluxGridIndex}) {
      if (*entry > 0 && Registry != nullptr)
        ReleaseGrid(*entry);
      *entry = 0;
    }
  }
  for (TracerRecord &record : records)
    if (record.Statistics)
      TracerHooks().ReleaseStatistics(record);
}

double teilmodellklasse::SolarDeclination(long day, long month) const {
  return solar::SolarDeclination(day, month);
}

double teilmodellklasse::EquationOfTime(long day, long month) const {
  return solar::EquationOfTime(day, month);
}

double teilmodellklasse::SunElevation(long day, long month, double latitude, double longitude,
                                      double hour) const {
  return solar::SunElevation(day, month, latitude, longitude, hour, ReferenceMeridian);
}

void teilmodellklasse::SunAzimuth(long day, long month, double &azimuth, double &elevation,
                                  double latitude, double longitude, double hour) const {
  const solar::SunDirection sun =
      solar::SunAzimuth(day, month, latitude, longitude, hour, ReferenceMeridian);
  azimuth = sun.azimuth;
  elevation = sun.elevation;
}

double teilmodellklasse::CosIncidence(double azimuth1, double polar1, double azimuth2,
                                      double polar2) const {
  return solar::CosIncidence(azimuth1, polar1, azimuth2, polar2);
}

void teilmodellklasse::SunriseSunset(long day, long month, double &sunrise, double &sunset,
                                     double latitude, double longitude) const {
  const solar::SunTimes times =
      solar::SunriseSunset(day, month, latitude, longitude, ReferenceMeridian);
  sunrise = times.sunrise;
  sunset = times.sunset;
}

void teilmodellklasse::DaylightFraction() {
  const solar::DaylightStep step{ActualDay, ActualMonth, static_cast<double>(ActualHour),
                                 HoursToIntervalEnd, TimeStep};
  const solar::Daylight light =
      solar::DaylightFraction(step, {Latitude, Longitude, ReferenceMeridian});
  Sunrise = light.sunrise;
  Sunset = light.sunset;
  NightBeforeSunrise = light.nightBeforeSunrise;
  NightAfterSunset = light.nightAfterSunset;
  NightFraction = light.nightFraction;
  DayFraction = light.dayFraction;
  IsNight = light.isNight;
}

} // namespace tavro
