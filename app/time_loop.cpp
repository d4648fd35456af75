// The time loop of a run: the Ctrl-C agreement, the steps of a pass in their
// order, sub-steps and spin-up repetitions; and the coupling waits and the
// temperature pre-spin-up around it.
#include "modell_application.h"

#include <mpi.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iomanip>

#include "interrupt_agreement.h"
#include "interrupt_state.h"
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
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
#include "raster/output/special_output.h"
#include "routing/routing_model.h"
#include "soil/unsatzon_model.h"

namespace tavro {
namespace {
constexpr long kNoDate = -9999;

// Whether the coupling interval changed between the two dates.
bool IntervalChanged(char mode, const ModelDate &now, const ModelDate &last) {
  switch (mode) {
  case 'I':
    return true;
  case 'H':
    return now.Hour != last.Hour;
  case 'D':
    return now.Day != last.Day;
  case 'M':
    return now.Month != last.Month;
  case 'Y':
    return now.Year != last.Year;
  default:
    return false;
  }
}
} // namespace

int ModellApplication::run() {
  try {
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    if (spinUp_.SpinUpSwitch > 0) {
      if (spinUp_.doTemperaturePreSpinUp >= 1)
        PreSpinUp();
      if (spinUp_.RepeatCount < 1) {
        endOfRun_ = 1;
        return InterruptState();
      }
    }
    if (endOfRun_ != 0)
      return InterruptState();
    int runNumber = 1;
    for (;;) {
      Pass(rank);
      if (InterruptState() == kCancelAfterPass)
        break;
      if (spinUp_.SpinUpSwitch == 1 && endOfRun_ == 1 && !RepeatForSpinUp(runNumber))
        break;
      if (endOfRun_ != 0)
        break;
    }
    return InterruptState();
  } catch (int) {
    *Log << "FATAL: Exception in Modellapplication::run() caught!"
         << "[end-entry]";
    throw;
  }
}

void ModellApplication::Pass(int /*rank*/) {
  ApplicationModules &m = modules_;
  Agreement();

  if (meteoVariableCount_ >= 1) {
    long hour = 0, day = 0, month = 0, year = 0;
    m.Interpolators[0]->GetActualDate(hour, day, month, year);
    actualDate_ = {hour, day, month, year};
  } else {
    actualDate_ = {kNoDate, kNoDate, kNoDate, kNoDate};
  }
  const long h = actualDate_.Hour, d = actualDate_.Day, mo = actualDate_.Month,
             y = actualDate_.Year;

  CouplingInput();

  for (auto &variable : m.Interpolators)
    if (variable->InterpolationMethod == 10 || variable->InterpolationMethod == 11)
      variable->CalcElevationRegression(0);
  if (m.Superposition->IsActive() == 0)
    m.PrecipitationCorrection->CorrectStationData();
  for (auto &variable : m.Interpolators)
    variable->Interpolate(h, d, mo, y);
  m.Superposition->ComputeTimeStep(h, d, mo, y);
  // Without station values to correct (a variable only as a grid) the grid
  // is corrected after the interpolation, also with the superposition off.
  if (m.Superposition->IsActive() != 0 ||
      m.PrecipitationCorrection->CorrectsGridInsteadOfStations())
    m.PrecipitationCorrection->CorrectGrids();

  const int minutes =
      m.Evapotranspiration->IsActive() != 0 ? m.Evapotranspiration->GetTimeStep() : 1440;
  m.Setup->ReadPeriodicGrids(h, d, mo, y, minutes);
  m.Setup->UpdateLanduseParameters(h, d, mo, y, minutes);
  for (auto &variable : m.Interpolators)
    variable->WriteResultGrid();
  m.Superposition->WriteStepOutput();

  m.RadiationCorrection->ComputeTimeStep(h, d, mo, y);
  m.Evapotranspiration->PotentialEvapotranspiration(h, d, mo, y);
  m.Irrigation->ComputeTimeStep(h, d, mo, y);
  m.Evapotranspiration->SnowEvaporationOnGlacier(h, d, mo, y);
  if (interceptionFirst_) {
    m.Interception->ComputeTimeStep(h, d, mo, y);
    m.Snow->ComputeTimeStep(h, d, mo, y);
  } else {
    m.Snow->ComputeTimeStep(h, d, mo, y);
    m.Interception->ComputeTimeStep(h, d, mo, y);
  }
  m.SiltingUp->ComputeTimeStep(h, d, mo, y);

  m.SoilWater->BeginTimeStep(h, d, mo, y);
  m.SurfaceRouting->BeginTimeStep(h, d, mo, y);
  m.Evapotranspiration->RealEvapotranspiration(h, d, mo, y);
  m.Groundwater->BeginTimeStep(h, d, mo, y);
  SubSteps();

  m.SoilWater->ComputeMaxPumping();
  m.SoilWater->ConcentrateRunoff(h, d, mo, y);
  m.SurfaceRouting->ConcentrateRunoff(h, d, mo, y);
  m.Evapotranspiration->FinishTimeStep(h, d, mo, y);
  m.Groundwater->WriteStepOutput(h, d, mo, y);
  m.Routing->ComputeTimeStep(h, d, mo, y);

  m.Setup->WriteStandardGrids(h, d, mo, y);
  m.Setup->WriteVariableGrids(h, d, mo, y);
  m.Setup->ResetStandardGridStatistics();
  m.Setup->AddStandardGridStatistics();
  m.Setup->EndStepStandardGridStatistics(h, d, mo, y);
  m.SpecialOutput->SampleStep(h, d, mo, y, false, 0);

  ReadNextRow();
  CouplingOutput();
}

void ModellApplication::SubSteps() {
  ApplicationModules &m = modules_;
  const long h = actualDate_.Hour, d = actualDate_.Day, mo = actualDate_.Month,
             y = actualDate_.Year;
  const int count = m.SoilWater->GetSubstepCount();
  for (int j = 1; j <= count; ++j) {
    m.SoilWater->ComputeTimeStep(h, d, mo, y);
    m.SurfaceRouting->ComputeTimeStep(h, d, mo, y);
    m.Evapotranspiration->ComputeSubstep(h, d, mo, y);
    m.Groundwater->ComputeTimeStep(h, d, mo, y);
    m.SpecialOutput->SampleStep(h, d, mo, y, true, j);
  }
}

void ModellApplication::ReadNextRow() {
  if (meteoVariableCount_ == 0) {
    endOfRun_ = 1;
    return;
  }
  for (auto &variable : modules_.Interpolators)
    variable->ReadNextData();
  // The run goes on while any variable has data left.
  endOfRun_ = 1;
  for (auto &variable : modules_.Interpolators)
    if (!variable->EndOfData())
      endOfRun_ = 0;
}

bool ModellApplication::RepeatForSpinUp(int &runNumber) {
  if (spinUp_.RepeatCount <= runNumber)
    return false;
  *Log << "INFO: SpinUp reached end of defined time range for run #" << runNumber
       << ", resetting inputs and starting again now (repetition " << runNumber + 1 << " of "
       << spinUp_.RepeatCount << ")"
       << "[end-entry]";
  endOfRun_ = 0;
  // The modules keep their state: the next pass starts from the end of this one.
  for (auto &variable : modules_.Interpolators) {
    variable->Rewind();
    variable->ReadNextData();
  }
  ++runNumber;
  return true;
}

void ModellApplication::CouplingInput() {
  RunSetup &setup = *modules_.Setup;
  if (!setup.IsCouplingActive())
    return;
  couplingMode_ = setup.GetCouplingMode();
  if (!IntervalChanged(couplingMode_, actualDate_, lastExchangeDate_))
    return;
  WaitForFile(setup.GetSemaphoreFile(), setup.GetWaitInterval());
  lastExchangeDate_ = actualDate_;
  setup.ReadExternalGrids(actualDate_.Year, actualDate_.Month, actualDate_.Day, actualDate_.Hour);
  if (setup.HasExternalGWTable())
    modules_.SoilWater->AdjustToGroundwaterTable();
}

void ModellApplication::CouplingOutput() {
  RunSetup &setup = *modules_.Setup;
  if (!setup.IsCouplingActive())
    return;
  if (meteoVariableCount_ >= 1) {
    long hour = 0, day = 0, month = 0, year = 0;
    modules_.Interpolators[0]->GetActualDate(hour, day, month, year);
    actualDate_ = {hour, day, month, year};
  }
  couplingMode_ = setup.GetCouplingMode();
  const bool modeDue =
      couplingMode_ == 'H' || couplingMode_ == 'D' || couplingMode_ == 'M' || couplingMode_ == 'Y';
  const bool due = couplingMode_ == 'I' || endOfRun_ == 1 ||
                   (modeDue && IntervalChanged(couplingMode_, actualDate_, lastExchangeDate_));
  if (!due) {
    setup.AccumulateExternalOutput();
    return;
  }
  auto ended = [&](long now, long last) { return now != last ? 1 : endOfRun_; };
  setup.WriteExternalOutput(lastExchangeDate_.Day, lastExchangeDate_.Month, lastExchangeDate_.Year,
                            ended(actualDate_.Day, lastExchangeDate_.Day),
                            ended(actualDate_.Month, lastExchangeDate_.Month),
                            ended(actualDate_.Year, lastExchangeDate_.Year));
  WriteSemaphoreFile(setup.GetOwnSemaphoreFile(), setup.GetOwnSemaphoreContent());
}

// --- Ctrl-C ------------------------------------------------------------------

void ModellApplication::DeliverFloatingPointError() {
  if (!FloatingPointErrorPending())
    return;
  ApplicationModules &m = modules_;
  if (!m.SoilWater) {
    ClearFloatingPointError();
    return;
  }
  if (!fpeDelivered_) {
    // The soil-water module's flag tells whether the last error is reported.
    if (m.SoilWater->FpeFlag.load() == 0) {
      teilmodellklasse *flagged[] = {m.RadiationCorrection.get(),
                                     m.Evapotranspiration.get(),
                                     m.Snow.get(),
                                     m.Interception.get(),
                                     m.SoilWater.get(),
                                     m.Irrigation.get(),
                                     m.Routing.get(),
                                     m.Groundwater.get()};
      for (teilmodellklasse *module : flagged)
        if (module != nullptr)
          module->FpeFlag.store(1);
    }
    fpeDelivered_ = true;
  } else if (m.SoilWater->FpeFlag.load() == 0) {
    ClearFloatingPointError(); // reported and re-armed: the next SIGFPE counts again
    fpeDelivered_ = false;
  }
}

void ModellApplication::Agreement() {
  DeliverFloatingPointError();
  const InterruptAgreement agreed =
      AgreeOnInterrupt(InterruptState(), *Log, services_.ConsoleInput);
  SetInterruptState(agreed.Choice);
  if (agreed.Choice == kCancelAfterPass && !agreed.DialogueHeld)
    return;
  ActOnChoice(agreed.Choice);
  if (agreed.Choice <= 0 && agreed.DialogueHeld)
    InstallInterruptHandler();
}

void ModellApplication::ActOnChoice(int choice) {
  ApplicationModules &m = modules_;
  if (choice <= 0)
    return;
  if (choice == 1) {
    for (auto &variable : m.Interpolators)
      variable->SetActualDateFromData();
    if (meteoVariableCount_ >= 1) {
      long hour = 0, day = 0, month = 0, year = 0;
      m.Interpolators[0]->GetActualDate(hour, day, month, year);
      actualDate_ = {hour, day, month, year};
    }
    const long y = actualDate_.Year, mo = actualDate_.Month, d = actualDate_.Day,
               h = actualDate_.Hour;
    m.RadiationCorrection->SetActualDate(y, mo, d, h);
    m.Superposition->SetActualDate(y, mo, d, h);
    m.Evapotranspiration->SetActualDate(y, mo, d, h);
    m.Snow->SetActualDate(y, mo, d, h);
    m.Interception->SetActualDate(y, mo, d, h);
    m.SiltingUp->SetActualDate(y, mo, d, h);
    m.Irrigation->SetActualDate(y, mo, d, h);
    m.SoilWater->SetActualDate(y, mo, d, h);
    m.SurfaceRouting->SetActualDate(y, mo, d, h);
    m.Groundwater->SetActualDate(y, mo, d, h);
    m.Routing->SetActualDate(y, mo, d, h);
    m.Setup->SetActualDate(y, mo, d, h);
    m.SpecialOutput->SetActualDate(y, mo, d, h);
    SetInterruptState(kCancelAfterPass);
    InstallInterruptHandler();
    return;
  }
  if (choice == 2) {
    *Log << "WARNING: program manually killed by pressing Ctrl-C and selecting 2!"
         << "[end-entry]";
    services_.CancelNow(kCancelNowStatus);
    return; // only a test's CancelNow returns
  }
  if (choice == 3) {
    for (auto &variable : m.Interpolators)
      variable->FlushStatistics();
    m.Superposition->FlushStatistics();
    m.Evapotranspiration->FlushStatistics();
    m.Snow->FlushStatistics();
    m.Interception->FlushStatistics();
    m.SiltingUp->FlushStatistics();
    m.Irrigation->FlushStatistics();
    m.SoilWater->FlushStatistics();
    m.SurfaceRouting->FlushStatistics();
    m.Groundwater->FlushStatistics();
    m.Routing->FlushStatistics();
    m.Setup->FlushStatistics();
    m.SpecialOutput->FlushFiles();
  }
  SetInterruptState(0);
  InstallInterruptHandler();
}

// --- Coupling waits and the temperature pre-spin-up ------------------------------

void ModellApplication::Wait(long ticks) {
  const std::clock_t start = std::clock();
  while (std::clock() < start + static_cast<std::clock_t>(ticks)) {
  }
}

int ModellApplication::WaitForFile(const std::string &fileName, long ticks) {
  try {
    *Log << "waiting for external synchronisation file " << fileName << "...";
    for (;;) {
      if (std::FILE *file = std::fopen(fileName.c_str(), "rb")) {
        std::fclose(file);
        *Log << "found it! "
             << "[end-entry]";
        return 1;
      }
      if (InterruptState() != 0) {
        SetInterruptState(0);
        *Log << "SKIP: \n\nCtrl-C pressed while waiting for " << fileName
             << "\nCancel the model? \n0 = no (continue)\n2 = cancel now without saving "
                "buffers!\n\nchoose one of the above options: "
             << "[end-entry]";
        char word[16] = {};
        int answer = 0;
        if (std::fscanf(services_.ConsoleInput, "%15s", word) == 1)
          answer = static_cast<int>(std::strtol(word, nullptr, 10));
        SetInterruptState(answer < 0 || answer > 3 ? 0 : answer);
        if (answer == 2)
          throw kCancelNowStatus;
        InstallInterruptHandler();
      }
      Wait(ticks);
      InstallInterruptHandler();
    }
  } catch (int) {
    *Log << "FATAL: Exception in Modellapplication::WaitForFile() caught!"
         << "[end-entry]";
    throw;
  }
}

void ModellApplication::WriteSemaphoreFile(const std::string &target, const std::string &content) {
  constexpr const char *kTemporary = "Tavro_Brenk_temporary_semaphore.file";
  IgnoreInterrupts(); // a Ctrl-C must not leave the partner a half-written file
  std::FILE *file = std::fopen(kTemporary, "w");
  bool written = file != nullptr;
  if (file != nullptr) {
    if (!content.empty() && std::fputs(content.c_str(), file) < 0)
      written = false;
    if (std::fclose(file) != 0)
      written = false;
  }
  // The partner model waits for this file without limit: a failure must be
  // loud, not a silent hang of both programs.
  const bool renamed = written && std::rename(kTemporary, target.c_str()) == 0;
  InstallInterruptHandler();
  if (!renamed)
    ThrowFatal(*Log, kSemaphoreExitCode, "error writing the semaphore file " + target);
}

void ModellApplication::PreSpinUp() {
  ApplicationModules &m = modules_;
  if (meteoVariableCount_ < 1 || m.Interpolators[0]->ModuleName != "temperature") {
    *Log << "FATAL: temperature interpolation not found. This is required for pre-SpinUp! (no "
            "regions should be used for pre-SpinUp)"
         << "[end-entry]";
    throw kPreSpinUpExitCode;
  }
  meteointerpol &temperature = *m.Interpolators[0];
  const double hoursToEnd = settings_.MinToIntEnd / 60.0;
  while (endOfRun_ == 0) {
    Agreement();
    long hour = 0, day = 0, month = 0, year = 0;
    temperature.GetActualDate(hour, day, month, year);
    actualDate_ = {hour, day, month, year};
    if (temperature.InterpolationMethod == 10 || temperature.InterpolationMethod == 11)
      temperature.CalcElevationRegression(0);
    if (static_cast<double>(hour) + hoursToEnd == 24.0)
      *Log << std::setw(20) << "temperature pre-SpinUp " << day << "." << month << "." << year
           << " " << hour << ". h "
           << "[end-entry]";
    temperature.Interpolate(hour, day, month, year);
    temperature.WriteResultGrid();
    m.SoilWater->PreSpinUpAccumulate(hour, day, month, year);
    temperature.ReadNextData();
    if (temperature.EndOfData())
      endOfRun_ = 1;
  }
  *Log << "INFO: pre-SpinUp reached end of defined time range. Soil-temperatures are going to "
          "be set now."
       << "[end-entry]";
  m.SoilWater->PreSpinUpFinish();
  endOfRun_ = 0;
  temperature.Rewind();
  temperature.ReadNextData();
}

} // namespace tavro
