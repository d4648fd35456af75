// The interpolation step: the date check, the progress line, the scenario of
// the day, the parallel loop over the process's cells that calls the kernels
// and post-processes every value, the spin-up copies and the statistics.
#include "meteo/meteointerpol.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/progress_line.h"
#include "meteo/default_interrupt_action.h"
#include "raster/parallel/cell_iteration.h"
#include "raster/parallel/mpi_decomposition.h"

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
  CheckDataLeft();
  CheckStepDate(hour, day, month, year);
  SetActualStep(hour, day, month, year);
  if (!omp_in_parallel())
    LogProgress(hour, day, month, year);
  if (SzenUse == 1)
    UpdateScenario();
  renewed_ = false;
  if (gridList_) {
    ReadListedGrid();
    renewed_ = true;
  }
  // Equal values of method 7 need no spline: the cells take the value.
  if (splines_ && !(InterpolationMethod == 7 && stations_[0]->UniformValues() != 0))
    EvaluateMeshSplines();
  LinkRegions();
  if (statistics_)
    statistics_->ResetStep();
  if (result_.Allocated()) {
    if (InterpolateCells())
      renewed_ = true;
    AddStatistics();
  }
  // Collective: every process ends the step of the table.
  if (statistics_)
    statistics_->EndOfStep(DataDate.Year, DataDate.Month, DataDate.Day, DataDate.Hour, 1);
}

void meteointerpol::CheckDataLeft() const {
  // The run goes on while any variable has data: a variable whose file ended
  // before the others would only meet a date mismatch, which may name another
  // variable. Name the file that ended instead; the exit code is the mismatch's.
  if (!endOfData_)
    return;
  const ModelDate &d = DataDate;
  ThrowFatal(*Log, StepDateExitCode,
             Concat("the data of ", ModuleName, " end with the row of ", d.Day, ".", d.Month, ".",
                    d.Year, " ", d.Hour, ". h in ", DataFileName(),
                    ", while other input files go on: every input file must cover the model "
                    "time up to its end date"));
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
  UpdateScenarioTable();
}

void meteointerpol::UpdateScenarioTable() {
  for (interpolation::ScenarioRow &row : ScenarioTable)
    row.Current =
        interpolation::DayWeightedScenarioValue(row, DataDate.Day, DataDate.Month, DaysPerMonth);
}

void meteointerpol::ReadListedGrid() {
  // Ctrl-C takes its default action while the grid is read; the handler in
  // place before (the program's, during a run) is installed again afterwards.
  const DefaultInterruptAction interruptible;
  const bool repeat = CurrentGridName == "-9999";
  if (repeat && LastValidGridName.empty())
    ThrowFatal(*Log, NoGridNameExitCode,
               "interpolation method 9 (read from grid) no valid grid name was found (-9999 as "
               "input) and no last valid grid name present (i.e., simulation starts, when input "
               "list file contains -9999 only)");
  const std::string name = repeat ? LastValidGridName : CurrentGridName;
  // Holes inside the catchment take the nearest value; a hole too large for
  // the search is fatal (25). Rank 0 keeps the whole grid, the others their strip.
  ReadGrid(name, result_, 1, false, false, 0.0, true, true, false, false);
  LastValidGridName = name;
  // The grid read covers every cell; those this process does not compute
  // are nodata, as with every other method.
  LinkRegions();
  const CellIteration cells(CellsOfThisProcess());
  for (long row = FirstRow; row <= LastRow; ++row)
    for (long column = 1; column <= NCols; ++column)
      if (!cells.IsValid(row, column) || !cells.IsOwned(row, column))
        result_[row][column] = -9999.0;
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
  const int method = InterpolationMethod;
  const double validFrom = -NodataBound;
  // Decided here, before the threads start: without a regression, methods 2
  // and 10 leave the grid as it was, unprocessed.
  if ((method == 2 || method == 10) && regression_.Intercept[1] < validFrom) {
    KeepPreviousGrid("no regression");
    return false;
  }
  std::size_t stations = 0;
  bool uniform = false;
  double firstValid = 0.0;
  if (!stations_.empty()) {
    const StationDataFile &file = *stations_[0];
    stations = static_cast<std::size_t>(file.Table().Count);
    bool anyValid = false;
    for (const double value : file.Values())
      if (value >= validFrom) {
        firstValid = value;
        anyValid = true;
        break;
      }
    // A row without any valid value keeps the previous grid where the
    // values themselves are interpolated. The methods that combine them with
    // gradients, a regression or a lapse rate compute the missing marker,
    // which the limits then treat like any value (a precipitation limited
    // below by 0 becomes 0).
    const bool keeps = method == 1 || method == 4 || method == 5 || method == 7;
    if (!anyValid && keeps) {
      KeepPreviousGrid("no valid station value");
      if (Warnings != 0)
        Log->Entry(Concat("WARNING: no valid station value for ", ModuleName, " on ", DataDate.Day,
                          ".", DataDate.Month, ".", DataDate.Year, " ", DataDate.Hour,
                          ". h: the grid keeps the values of the previous step",
                          DiagnosticsLog::EndToken));
      return false;
    }
    // Equal values need no kernel (the lapse rate of method 12 and the
    // gradients of method 6 still apply).
    uniform =
        file.UniformValues() != 0 && (method == 1 || method == 4 || method == 5 || method == 7);
  }

  const std::size_t threads = static_cast<std::size_t>(std::max(1, omp_get_max_threads()));
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
  computed_ = true;
  return true;
}

void meteointerpol::KeepPreviousGrid(const char *missing) const {
  // Before the first computed grid there is only the fill of the
  // construction, which the modules downstream would take as a value.
  if (computed_)
    return;
  const ModelDate &d = DataDate;
  ThrowFatal(*Log, NoGridNameExitCode,
             Concat(missing, " for ", ModuleName, " in the first row used, of ", d.Day, ".",
                    d.Month, ".", d.Year, " ", d.Hour, ". h in ", DataFileName(),
                    ": there is no previous grid to keep; the data must begin with a row that "
                    "gives a value"));
}

double meteointerpol::CellValue(long row, long column, std::span<double> work, bool uniform,
                                double uniformValue) const {
  if (uniform)
    return uniformValue;
  const double x = (*coordX_)[row][column];
  const double y = (*coordY_)[row][column];
  const double elevation = (*elevation_)[row][column];
  switch (InterpolationMethod) {
  case 1: {
    const double sx = (*searchX_)[row][column];
    const double sy = (*searchY_)[row][column];
    const double value = InverseDistanceAt(work, sx, sy);
    if (Warnings != 0 && value < -NodataBound)
      Log->Entry(Concat("WARNING:  at x=", sx, ", y=", sy, " ",
                        "no station within the specified search radius!",
                        DiagnosticsLog::EndToken));
    return value;
  }
  case 2:
  case 10:
    return ElevationRegressionValue(row, column, x, y, elevation);
  case 3:
  case 11:
    return RegressionWithInverseDistance(row, column, work);
  case 4:
    return Thiessen(0, work, x, y);
  case 5:
    return Bilinear(0, row, column, work, (*searchX_)[row][column], (*searchY_)[row][column]);
  case 6: {
    const double sx = (*searchX_)[row][column];
    const double sy = (*searchY_)[row][column];
    return ResidualPlusGradient(Bilinear(0, row, column, work, sx, sy),
                                Bilinear(1, row, column, work, sx, sy), elevation);
  }
  case 7:
  case 8:
    return SplineCellValue(row, column, work);
  case 9:
    return result_[row][column]; // as read
  case 12:
    return ThiessenLapseRate(x, y, elevation);
  default:
    return -NodataBound - 1.0;
  }
}

double meteointerpol::ResidualPlusGradient(double residual, double gradient, double z) const {
  // A part without a value leaves the sum without one, rather than turning
  // the missing marker into a plausible number.
  if (residual < -NodataBound || gradient < -NodataBound)
    return -NodataBound - 1.0;
  return residual + gradient * z;
}

double meteointerpol::RegressionWithInverseDistance(long row, long column,
                                                    std::span<double> work) const {
  const double sx = (*searchX_)[row][column];
  const double sy = (*searchY_)[row][column];
  const double distance = InverseDistanceAt(work, sx, sy);
  if (Warnings != 0 && distance < -NodataBound)
    Log->Entry(Concat("WARNING: at x=", sx, ", y=", sy, " ",
                      "no station within the specified search radius!", DiagnosticsLog::EndToken));
  if (regression_.Intercept[1] < -NodataBound)
    return distance;
  const double regression = ElevationRegressionValue(
      row, column, (*coordX_)[row][column], (*coordY_)[row][column], (*elevation_)[row][column]);
  if (distance < -NodataBound)
    return regression;
  return (1.0 - IdwFraction) * regression + IdwFraction * distance;
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

double meteointerpol::InverseDistanceAt(std::span<double> work, double x, double y,
                                        int file) const {
  return AnisotropyRatio < 1.0 ? InverseDistanceAnisotropic(file, work, x, y)
                               : InverseDistance(file, work, x, y);
}

double meteointerpol::Thiessen(int file, std::span<double> work, double x, double y) const {
  if (static_cast<std::size_t>(file) >= stations_.size())
    return -NodataBound - 1.0; // no station file (method 9)
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
