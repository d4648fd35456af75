// The interpolation step: the date check, the progress line, the scenario of
// the day, the parallel loop over the process's cells that calls the kernels
// and post-processes every value, the spin-up copies and the statistics.
#include "meteo/meteointerpol.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/progress_line.h"
#include "raster/cell_iteration.h"
#include "raster/mpi_decomposition.h"

#include <omp.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <iomanip>
#include <sstream>

namespace tavro {
namespace {

const std::string kDashes(77, '-');

} // namespace

void meteointerpol::Interpolate(long hour, long day, long month, long year) {
  CheckStepDate(hour, day, month, year);
  ActualHour = hour;
  ActualDay = day;
  ActualMonth = month;
  ActualYear = year;
  if (!omp_in_parallel())
    LogProgress(hour, day, month, year);
  if (SzenUse == 1)
    UpdateScenario();
  LinkRegions();
  if (statistics_)
    statistics_->ResetStep();
  if (result_.Allocated()) {
    InterpolateCells();
    AddStatistics();
  }
  // Collective: every process ends the step of the table.
  if (statistics_)
    statistics_->EndOfStep(DataDate.Year, DataDate.Month, DataDate.Day, DataDate.Hour, 1);
}

void meteointerpol::CheckStepDate(long hour, long day, long month, long year) const {
  const ModelDate &d = DataDate;
  if (d.Hour == hour && d.Day == day && d.Month == month && d.Year == year)
    return;
  ThrowFatal(*Log, StepDateExitCode,
             Concat(kDashes, "\nerror in date columns of ", ModuleName,
                    "\n\nfirst Meteo data set (this is the set from which data is get:\n", day, ".",
                    month, ".", year, " ", hour, ". h\n\nbut in ", ModuleName, ":\n", d.Day, ".",
                    d.Month, ".", d.Year, " ", d.Hour, ". h\n\n", kDashes, "\n"));
}

void meteointerpol::LogProgress(long hour, long day, long month, long year) const {
  if (!ProgressLineDue(HourDivisor, hour, std::trunc(HoursToIntervalEnd)))
    return;
  std::ostringstream line;
  line << std::setw(20) << ModuleName << " " << day << "." << month << "." << year << " " << hour
       << ". h " << (SzenUse == 1 ? "using scenarios!" : "") << DiagnosticsLog::EndToken;
  Log->Entry(line.str());
}

void meteointerpol::UpdateScenario() {
  if (SzenMeth == 5 || SzenMeth == 6) {
    if (DataDate.Month != ScenarioMonth)
      ReadScenarioGrid(static_cast<int>(DataDate.Month));
    return;
  }
  for (interpolation::ScenarioRow &row : ScenarioTable)
    row.Current =
        interpolation::DayWeightedScenarioValue(row, DataDate.Day, DataDate.Month, DaysPerMonth);
}

void meteointerpol::LinkRegions() {
  if (MPIRegions != nullptr || Registry == nullptr)
    return;
  const int index = FindGrid(kRegionsGridName, false);
  if (index > 0)
    MPIRegions = (*Registry)[index].Data;
}

CellIterationSetup meteointerpol::CellsOfThisProcess() const {
  if (spinUpSwitch_ == 0)
    return StripCellsOf(*this, zone_);
  return StripCellsOf(*this, zone_, {unitGrid_, masterGrid_, units_});
}

bool meteointerpol::InterpolateCells() {
  if (stations_.empty())
    return false;
  const StationDataFile &file = *stations_[0];
  const double validFrom = -NodataBound;
  double firstValid = 0.0;
  bool anyValid = false;
  for (const double value : file.Values())
    if (value >= validFrom) {
      firstValid = value;
      anyValid = true;
      break;
    }
  if (!anyValid) {
    // A row without any valid value keeps the previous grid.
    if (Warnings != 0)
      Log->Entry(Concat("WARNING: no valid station value for ", ModuleName, " on ", DataDate.Day,
                        ".", DataDate.Month, ".", DataDate.Year, " ", DataDate.Hour,
                        ". h: the grid keeps the values of the previous step",
                        DiagnosticsLog::EndToken));
    return false;
  }
  // Equal values need no kernel (the lapse rate of method 12 still applies).
  const bool uniform =
      file.UniformValues() != 0 && (InterpolationMethod == 1 || InterpolationMethod == 4);

  const std::size_t threads = static_cast<std::size_t>(std::max(1, omp_get_max_threads()));
  const std::size_t stations = static_cast<std::size_t>(file.Table().Count);
  // One work array per thread, each on cache lines of its own: the kernels
  // write all of it for every cell.
  constexpr std::size_t kLine = 64 / sizeof(double);
  const std::size_t stride = (stations + kLine - 1) / kLine * kLine + kLine;
  if (workspace_.size() < threads * stride + kLine)
    workspace_.assign(threads * stride + kLine, 0.0);
  double *base = workspace_.data();
  while (reinterpret_cast<std::uintptr_t>(base) % 64 != 0)
    ++base;

  const CellIteration cells(CellsOfThisProcess());
  cells.ForEachCell([&](long row, long column) {
    const std::span<double> work(base + static_cast<std::size_t>(omp_get_thread_num()) * stride,
                                 stations);
    const double value = CellValue(row, column, work, uniform, firstValid);
    result_[row][column] = PostProcess(row, column, value);
  });
  return true;
}

double meteointerpol::CellValue(long row, long column, std::span<double> work, bool uniform,
                                double uniformValue) const {
  if (uniform)
    return uniformValue;
  switch (InterpolationMethod) {
  case 1: {
    const double x = (*searchX_)[row][column];
    const double y = (*searchY_)[row][column];
    const double value = AnisotropyRatio < 1.0 ? InverseDistanceAnisotropic(0, work, x, y)
                                               : InverseDistance(0, work, x, y);
    if (Warnings != 0 && value < -NodataBound)
      Log->Entry(Concat("WARNING:  at x=", x, ", y=", y, " ",
                        "no station within the specified search radius!",
                        DiagnosticsLog::EndToken));
    return value;
  }
  case 4:
    return Thiessen(0, work, (*coordX_)[row][column], (*coordY_)[row][column]);
  case 12:
    return ThiessenLapseRate((*coordX_)[row][column], (*coordY_)[row][column],
                             (*elevation_)[row][column]);
  default:
    return -NodataBound - 1.0;
  }
}

double meteointerpol::PostProcess(long row, long column, double value) const {
  double v = interpolation::ApplyScalingAndLimits(value, limits_);
  if (scenarioKind_ != interpolation::ScenarioKind::None)
    v = interpolation::ApplyScenario(
        v, scenarioKind_,
        ScenarioValue(row, column, (*coordX_)[row][column], (*coordY_)[row][column]));
  if (scalingGrid_ != nullptr)
    v *= (*scalingGrid_)[row][column];
  return v;
}

void meteointerpol::AddStatistics() {
  const CellIteration cells(CellsOfThisProcess());
  std::array<Grid *, 1> grids{&result_};
  cells.CopyMasterResults(grids);
  if (!statistics_ || !statistics_->Active() || ZoneIndex == nullptr)
    return;
  const double validFrom = -NodataBound;
  for (long row = FirstRow; row <= LastRow; ++row) {
    const RowColumnRange range = cells.Columns(row);
    for (long column = range.first; column <= range.last; ++column) {
      if (!cells.IsValid(row, column) || !cells.IsOwned(row, column))
        continue;
      const double value = result_[row][column];
      // Only valid values enter the sums.
      if (!(value >= validFrom))
        continue;
      const long code = std::lround((*zone_)[row][column]);
      if (code < 0 || code > MaxZoneCode)
        continue;
      statistics_->AddValue(row, column, (*ZoneIndex)[static_cast<std::size_t>(code)], value, 1.0);
    }
  }
}

// --- Kernels on the current station rows --------------------------------------

double meteointerpol::InverseDistance(int file, std::span<double> work, double x, double y) const {
  const StationDataFile &f = *stations_[static_cast<std::size_t>(file)];
  return interpolation::InverseDistance(Span(f.Table().X), Span(f.Table().Y), Span(f.Values()),
                                        work, x, y, idw_);
}

double meteointerpol::InverseDistanceAnisotropic(int file, std::span<double> work, double x,
                                                 double y) const {
  const StationDataFile &f = *stations_[static_cast<std::size_t>(file)];
  return interpolation::InverseDistanceAnisotropic(Span(rotatedX_[static_cast<std::size_t>(file)]),
                                                   Span(rotatedY_[static_cast<std::size_t>(file)]),
                                                   Span(f.Values()), work, x, y, AnisotropyRatio,
                                                   idw_);
}

double meteointerpol::Thiessen(int file, std::span<double> work, double x, double y) const {
  const StationDataFile &f = *stations_[static_cast<std::size_t>(file)];
  return interpolation::Thiessen(Span(f.Table().X), Span(f.Table().Y), Span(f.Values()), work, x, y,
                                 -NodataBound, -NodataBound - 1.0);
}

double meteointerpol::ThiessenLapseRate(double x, double y, double elevation) const {
  const StationDataFile &f = *stations_[0];
  return interpolation::ThiessenLapseRate(Span(f.Table().X), Span(f.Table().Y),
                                          Span(f.Table().Altitude), Span(f.Values()), x, y,
                                          elevation, lapse_, -NodataBound, -NodataBound - 1.0);
}

double meteointerpol::ScenarioValue(long row, long column, double x, double y) const {
  const double none = scenarioKind_ == interpolation::ScenarioKind::Multiplicative ? 1.0 : 0.0;
  if (SzenMeth == 5 || SzenMeth == 6)
    return scenarioGrid_.HasRow(row) ? scenarioGrid_[row][column] : none;
  return interpolation::NearestScenarioValue(ScenarioTable, x, y, none);
}

} // namespace tavro
