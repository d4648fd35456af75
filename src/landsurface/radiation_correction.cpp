// Radiation correction: section, grids, the step with its sub-steps and
// shadows, and the release.
#include "landsurface/radiation_correction.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/module_construction.h"
#include "landsurface/radiation/exposure_geometry.h"
#include "landsurface/radiation/shadow_casting.h"
#include "raster/parallel/cell_iteration.h"
#include "raster/parallel/mpi_decomposition.h"

#include <mpi.h>

#include <array>
#include <cmath>

namespace tavro {
namespace {

constexpr const char *kSourceName = "expokorr";
// Steps longer than this many minutes are split into a night and a day part
// by the modules that follow, which read the night's temperature.
constexpr double kLongStepMinutes = 720.0;
// Sunshine assumed for the temperature correction without a sunshine grid.
constexpr double kDefaultSunshine = 0.5;

} // namespace

expokorrklasse::expokorrklasse(int &error, const ModuleSettings &settings) try
    : teilmodellklasse(BeginModuleConstruction(error, settings, FixedName)),
      entries_(settings.Registry) {
  if (ZoneIndex == nullptr || Registry == nullptr)
    return; // never configured: nothing to read or register
  if (const int index = FindGrid(kRegionsGridName, false); index > 0)
    MPIRegions = (*Registry)[index].Data;
  if (const int index = FindGrid(kHelperGridName, false); index > 0)
    MPIHelper = (*Registry)[index].Data;
  zone_ = (*Registry)[1].Data;
  if (zone_ == nullptr && FlowControl != 0)
    ThrowFatal(
        *Log, GridRegistry::NotFoundExitCode,
        Concat("the zone grid (registry entry 1) is not in memory, but ", ModuleName, " needs it"));
  if (FlowControl != 0) {
    Log->Entry(Concat("file ", kSourceName, ", compiled at ", __DATE__, ", ", __TIME__,
                      DiagnosticsLog::EndToken));
    ReadSectionValues();
    if (!CloseControlFile())
      ThrowFatal(*Log, CloseExitCode, "error closing control file " + ControlFileName);
    LinkInputGrids();
  }
  int temperature = FindGrid("temperature", false);
  if (temperature == 0)
    temperature = FindGrid("temperature_14", false);
  temperature_ = temperature > 0 ? (*Registry)[temperature].Data : nullptr;
  if (FlowControl != 0)
    RegisterOutputGrids();
  if (TimeStep > kLongStepMinutes && temperature_ != nullptr && zone_ != nullptr)
    nightTemperatureIndex_ = RegisterNewGrid(nightTemperature_, FirstRow, LastRow,
                                             "$$temperature_night$$", "temperature_night", 0);
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

expokorrklasse::~expokorrklasse() = default;

void expokorrklasse::ReadSectionValues() {
  ReadControlValue(method_, "methode of correction for ");
  if (method_ < 1 || method_ > 4)
    method_ = 2;
  ReadControlValue(temperatureFile_, "name of the TKORR-Grid for");
  ReadControlValue(temperatureWritecode_, "Writegrid EXKORR for ");
  ReadControlValue(temperatureScaling_, "scaling factor for Tkorr for ");
  ReadControlValue(correctionFile_, "name of the EXKORR-Grids for");
  ReadControlValue(correctionWritecode_, "Writegrid EXKORR for ");
  ReadControlValue(shadowFile_, "name of the SHAPE-Grid for");
  ReadControlValue(shadowWritecode_, "Writegrid SHAPE for ");
  ReadControlValue(stepsPerComputation_, "number if timesteps for ");
  ReadControlValue(splittings_, "number of splittings for ");
  // A step needs at least one sub-step to be corrected at all.
  if (splittings_ < 1)
    ThrowFatal(*Log, ControlFileExitCode,
               Concat("error in control file, number of splittings for ", ModuleName, " is ",
                      splittings_, "; it must be at least 1"));
}

void expokorrklasse::LinkInputGrids() {
  if (!(*Registry)[2].HasData())
    ThrowFatal(*Log, GridRegistry::NotFoundExitCode,
               Concat("the elevation model (registry entry 2) is not in memory, but ", ModuleName,
                      " needs it"));
  elevation_ = (*Registry)[2].Data;
  aspect_ = (*Registry)[GetGridIndex("slope_aspect")].Data;
  slope_ = (*Registry)[GetGridIndex("slope_angle")].Data;
  // The cell loop takes the units from the registry; missing ones are fatal here.
  if (SpinUpSwitch != 0) {
    GetGridIndex("HydrologicResponseUnits");
    GetGridIndex("MasterHydrologicResponseUnits");
  }
  if (const int index = FindGrid("sunshine_duration", false); index > 0)
    sunshine_ = (*Registry)[index].Data;
}

int expokorrklasse::RegisterNewGrid(Grid &grid, long firstRow, long lastRow,
                                    const std::string &fileName, const std::string &identifier,
                                    int writecode) {
  const int index = Registry->FirstFreeIndex();
  if (index == 0)
    ThrowFatal(*Log, NoFreeGridExitCode, Concat("no free grid left", GridRegistry::LastIndex + 1));
  grid = Grid(firstRow, lastRow, NCols, NRows, *Log);
  for (long r = firstRow; r <= lastRow; ++r)
    for (long c = 1; c <= NCols; ++c)
      grid[r][c] = IsValidCell((*zone_)[r][c], NoData) ? 0.0 : NoData;
  AddGrid(index, fileName, &grid, nullptr, 1, identifier, writecode, firstRow, lastRow);
  entries_.Add(index);
  return index;
}

void expokorrklasse::RegisterOutputGrids() {
  // Rank 0 casts the shadows over the whole raster.
  shadowsOfWholeRaster_ = MPIRank == 0 && CastsShadows();
  shadowFirstRow_ = shadowsOfWholeRaster_ ? 1 : FirstRow;
  shadowLastRow_ = shadowsOfWholeRaster_ ? NRows : LastRow;
  correctionIndex_ = RegisterNewGrid(correction_, FirstRow, LastRow, correctionFile_,
                                     "radiation_correction", correctionWritecode_);
  shadowIndex_ = RegisterNewGrid(shadow_, shadowFirstRow_, shadowLastRow_, shadowFile_, "Shadow",
                                 shadowWritecode_);
  inclinedBeamIndex_ = RegisterNewGrid(inclinedBeam_, FirstRow, LastRow, "Ieff_max", "Ieff_max", 0);
  // The first call computes.
  stepCounter_ = stepsPerComputation_;
  if ((method_ == 2 || method_ == 4) && temperature_ != nullptr)
    correctedTemperatureIndex_ =
        RegisterNewGrid(correctedTemperature_, FirstRow, LastRow, temperatureFile_,
                        "corr_temperature", temperatureWritecode_);
}

Grid *expokorrklasse::GetRadiationCorrectionGrid() {
  return FlowControl == 1 && correction_.Allocated() ? &correction_ : nullptr;
}

void expokorrklasse::ComputeTimeStep(long hour, long day, long month, long year) {
  CopyNightTemperature();
  if (FlowControl == 0 || !correction_.Allocated())
    return;
  SetActualStep(hour, day, month, year);
  if (stepCounter_ < stepsPerComputation_) {
    ++stepCounter_;
  } else {
    stepCounter_ = 1;
    teilmodellklasse::ComputeTimeStep(hour, day, month, year); // progress line
    ComputeCorrection();
  }
  CorrectTemperature();
  WriteOutput();
}

void expokorrklasse::CopyNightTemperature() {
  if (!nightTemperature_.Allocated())
    return;
  for (long r = FirstRow; r <= LastRow; ++r)
    for (long c = 1; c <= NCols; ++c)
      nightTemperature_[r][c] = (*temperature_)[r][c];
}

void expokorrklasse::ComputeCorrection() {
  const CellIteration cells(CellLoopSetup());
  cells.ForEachCell([&](long r, long c) { inclinedBeam_[r][c] = 0.0; });

  const double end = static_cast<double>(ActualHour) + HoursToIntervalEnd + TimeShift;
  const radiation::SubStepFrame frame = radiation::MakeSubStepFrame(end, TimeStep, splittings_);
  const solar::Observer observer{Latitude, Longitude, ReferenceMeridian};
  double horizontalSum = 0.0;
  for (int i = 0; i < frame.count; ++i) {
    const double centre = radiation::SubStepCentre(frame, i);
    const solar::Daylight light =
        radiation::SubStepDaylight(centre, frame.length, ActualDay, ActualMonth, observer);
    const bool night = light.isNight != 0;
    radiation::DirectBeam beam = radiation::NightBeam();
    double azimuth = 0.0;
    double elevation = 0.0;
    if (!night) {
      const double hour = radiation::SunlitMiddle(centre, frame.length, light);
      SunAzimuth(ActualDay, ActualMonth, azimuth, elevation, Latitude, Longitude, hour);
      beam = radiation::DirectBeamOfSubStep(frame.length, light.dayFraction, elevation);
    }
    horizontalSum += beam.energy * beam.cosZenith;

    ResetShadows();
    if (!night && CastsShadows() && SpinUpSwitch == 0)
      ShadowsOfSubStep(azimuth, elevation);
    if (MPIProcessCount > 1)
      MPI_Barrier(MPI_COMM_WORLD);

    if (!night && beam.energy > 0.0)
      cells.ForEachCell([&](long r, long c) {
        if (shadow_[r][c] >= 0.5)
          return;
        const bool overcast =
            sunshine_ != nullptr && (*sunshine_)[r][c] < radiation::kOvercastSunshine;
        inclinedBeam_[r][c] +=
            radiation::CappedIncidence((*aspect_)[r][c], (*slope_)[r][c], azimuth, beam, overcast) *
            beam.energy;
      });
    // Every sub-step joins the shadow's aggregates; the last one writes them.
    WriteGridOutput(shadowIndex_, i + 1 < frame.count);
  }
  FinishCorrection(horizontalSum);
}

void expokorrklasse::ResetShadows() {
  // With spin-up units no shadows are cast: the grid keeps the zeros it was
  // created with.
  if (SpinUpSwitch != 0)
    return;
  CellIterationSetup rows = CellLoopSetup();
  rows.FirstRow = shadowFirstRow_;
  rows.LastRow = shadowLastRow_;
  rows.UnitGrid = rows.MasterGrid = nullptr;
  rows.Units = nullptr;
  // Rank 0 resets every cell it casts shadows on.
  if (shadowsOfWholeRaster_)
    rows.Owners = nullptr;
  CellIteration(rows).ForEachCell([&](long r, long c) { shadow_[r][c] = 0.0; });
}

void expokorrklasse::ShadowsOfSubStep(double azimuth, double elevation) {
  if (MPIRank == 0)
    radiation::CastShadows(*elevation_, *zone_, {NRows, NCols, CellSize, NoData},
                           {azimuth, elevation}, shadow_);
  if (MPIProcessCount > 1)
    MPIScatterGrid(shadowIndex_, &shadow_);
}

void expokorrklasse::FinishCorrection(double horizontalSum) {
  sunSeen_ = horizontalSum > 0.0;
  const CellIteration cells(CellLoopSetup());
  cells.ForEachCell([&](long r, long c) {
    correction_[r][c] = sunSeen_ ? inclinedBeam_[r][c] / horizontalSum : 0.0;
  });
  std::array<Grid *const, 2> results{&correction_, &inclinedBeam_};
  cells.CopyMasterResults(results);
}

void expokorrklasse::CorrectTemperature() {
  if (!correctedTemperature_.Allocated())
    return;
  const CellIteration cells(CellLoopSetup());
  cells.ForEachCell([&](long r, long c) {
    const double sunshine = sunshine_ != nullptr ? (*sunshine_)[r][c] : kDefaultSunshine;
    correctedTemperature_[r][c] = radiation::CorrectedTemperature(
        (*temperature_)[r][c], correction_[r][c], temperatureScaling_, sunshine, sunSeen_);
  });
  std::array<Grid *const, 1> results{&correctedTemperature_};
  cells.CopyMasterResults(results);
}

void expokorrklasse::WriteOutput() {
  WriteGridOutput(correctionIndex_);
  if (correctedTemperatureIndex_ > 0)
    WriteGridOutput(correctedTemperatureIndex_);
}

void expokorrklasse::ReleaseMemory() {
  entries_.ReleaseAll();
  correction_ = Grid();
  shadow_ = Grid();
  inclinedBeam_ = Grid();
  correctedTemperature_ = Grid();
  nightTemperature_ = Grid();
  teilmodellklasse::ReleaseMemory();
}

} // namespace tavro
