// Evaluation of a land-use record for a day and a cell.
#include "tables/landuse_class.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tavro {
namespace landuse {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

MonthTable CommonMonthLengths() { return {31, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}; }

MonthTable MonthLengthsOfYear(int year) {
  MonthTable lengths = CommonMonthLengths();
  if (IsLeapYear(year))
    lengths[2] = 29;
  return lengths;
}

double Interpolate(double a, double b, double va, double vb, double x) {
  if (a == b)
    return va;
  x = std::clamp(x, std::min(a, b), std::max(a, b));
  return va * (b - x) / (b - a) + vb * (x - a) / (b - a);
}

double MonthlyValue(std::span<const double> monthly, int day, int month,
                    const MonthTable &lengths) {
  // Days before the 15th lie in the interval that began on the 15th of the
  // month before, so they are counted over that month's length.
  const int first = day >= 15 ? month : month - 1;
  const int length = lengths[static_cast<std::size_t>(first)];
  const int offset = day >= 15 ? day - 15 : day + length - 15;
  const double start = monthly[static_cast<std::size_t>(first)];
  if (length == 0)
    return start;
  return Interpolate(0.0, length, start, monthly[static_cast<std::size_t>(first) + 1], offset);
}

int ReachedStages(std::span<const double> stages, int n, int julianDay) {
  int reached = 0;
  while (reached < n && stages[static_cast<std::size_t>(reached) + 1] > 0.0 &&
         julianDay >= stages[static_cast<std::size_t>(reached) + 1])
    ++reached;
  return reached;
}

double StageValue(std::span<const double> stages, std::span<const double> values, int n,
                  int julianDay, std::span<const double> thresholds, double forcingSum) {
  const int reached = ReachedStages(stages, n, julianDay);
  if (reached >= n)
    return values[static_cast<std::size_t>(n)];
  const auto i = static_cast<std::size_t>(reached) + 1; // the stage being approached
  if (!thresholds.empty() && thresholds[i] > 0.0)
    return Interpolate(stages[0], thresholds[i], values[i - 1], values[i], forcingSum);
  if (stages[i] <= 0.0 || i == 1)
    return values[i - 1];
  return Interpolate(stages[i - 1], stages[i], values[i - 1], values[i], julianDay);
}

double StageBalanceStart(std::span<const double> stages, int n, int julianDay, int startIndex,
                         int stopIndex) {
  if (startIndex == 0)
    return 0.0;
  const int reached = ReachedStages(stages, n, julianDay);
  if (reached >= startIndex && (reached < stopIndex || stopIndex < startIndex))
    return julianDay;
  return -1.0;
}

double StageBalanceStop(std::span<const double> stages, int n, int julianDay, int stopIndex) {
  if (stopIndex == 0)
    return 0.0;
  const int reached = ReachedStages(stages, n, julianDay);
  if (stopIndex >= 1 && stopIndex <= reached &&
      stages[static_cast<std::size_t>(stopIndex)] == julianDay)
    return julianDay;
  return -1.0;
}

} // namespace landuse

namespace {

constexpr int kTableExitCode = 29;

bool IsDynamicStartMethod(int method) {
  return method == landuse::DynamicPhenology1 || method == landuse::DynamicPhenology2 ||
         method == landuse::DynamicPhenology4;
}

// A start day from a grid value, truncated toward zero; values far outside
// any Julian day are held where the fix-point check refuses them.
int TruncatedDay(double value) {
  if (!(value > -1.0e6 && value < 1.0e6))
    return value < 0.0 ? -1000000 : 1000000;
  return static_cast<int>(value);
}

template <class T>
void CheckSize(DiagnosticsLog &log, const LanduseParameters &p, const char *name,
               const std::vector<T> &list, std::size_t expected) {
  if (list.size() != expected)
    ThrowFatal(log, kTableExitCode,
               Concat("landuse table code ", p.Code, ": list \"", name, "\" holds ", list.size(),
                      " elements instead of ", expected));
}

} // namespace

landuse_class::landuse_class(DiagnosticsLog &log, LanduseParameters parameters)
    : p_(std::move(parameters)), dynamicStartDay_(p_.DynamicStartDay) {
  if (p_.Name.size() > landuse::MaxNameLength)
    ThrowFatal(log, kTableExitCode,
               Concat("landuse table code ", p_.Code, ": name longer than ", landuse::MaxNameLength,
                      " characters"));
  const int n = p_.FixPointCount;
  if (p_.Method == landuse::Unset && n == 0)
    return; // an empty record such as the table's header
  if (p_.Method < landuse::OldFormat || p_.Method > landuse::DynamicPhenology4)
    ThrowFatal(log, kTableExitCode,
               Concat("landuse table code ", p_.Code, ": unknown method ", p_.Method));
  if (n < 1 || n > landuse::MaxFixPoints)
    ThrowFatal(log, kTableExitCode,
               Concat("landuse table code ", p_.Code, ": ", n, " fix points (allowed 1 to ",
                      landuse::MaxFixPoints, ")"));
  const auto size = static_cast<std::size_t>(n) + 1;
  const std::size_t resistanceSize =
      p_.Method == landuse::OldFormat ? landuse::MonthlyListSize : size;
  CheckSize(log, p_, "JulDays", p_.JulDays, size);
  CheckSize(log, p_, "rsc", p_.rsc, resistanceSize);
  CheckSize(log, p_, "rs_interception", p_.rs_interception, resistanceSize);
  CheckSize(log, p_, "rs_evaporation", p_.rs_evaporation, resistanceSize);
  CheckSize(log, p_, "Albedo", p_.Albedo, size);
  CheckSize(log, p_, "LAI", p_.LAI, size);
  CheckSize(log, p_, "Z0", p_.Z0, size);
  CheckSize(log, p_, "VCF", p_.VCF, size);
  CheckSize(log, p_, "RootDepth", p_.RootDepth, size);
  CheckSize(log, p_, "AltDep", p_.AltDep, size);
  CheckSize(log, p_, "SR_StemDiameter", p_.SR_StemDiameter, size);
  CheckSize(log, p_, "SR_ResidCovrg", p_.SR_ResidCovrg, size);
  CheckSize(log, p_, "n-factor", p_.NFactor, size);
  if (p_.Method == landuse::DynamicPhenology3)
    CheckSize(log, p_, "ForcingThreshold", p_.ForcingThreshold, size);
  if (p_.SoilTillageCount < 0)
    ThrowFatal(log, kTableExitCode,
               Concat("landuse table code ", p_.Code, ": negative count of ", "soil tillage days"));
  CheckSize(log, p_, "SoilTillage", p_.SoilTillage,
            static_cast<std::size_t>(p_.SoilTillageCount) + 1);
  if (IsDynamicStartMethod(p_.Method) && p_.TStartIndex != -1 &&
      (p_.TStartIndex < 1 || p_.TStartIndex > n - 1))
    ThrowFatal(log, kTableExitCode,
               Concat("landuse table code ", p_.Code, ": start fix point ", p_.TStartIndex,
                      " outside 1..", n - 1));
}

void landuse_class::SetBalanceDays(int resetDay, int writeDay) {
  p_.JDVegetationResetForBalance = resetDay;
  p_.JDVegetationWriteForBalance = writeDay;
}

void landuse_class::GetSRRoughCoeff1(double &a, double &b, double &c) const {
  a = p_.SR_rough_coeff1[1];
  b = p_.SR_rough_coeff1[2];
  c = p_.SR_rough_coeff1[3];
}

void landuse_class::GetSRRoughCoeff2(double &a, double &b, double &c) const {
  a = p_.SR_rough_coeff2[1];
  b = p_.SR_rough_coeff2[2];
  c = p_.SR_rough_coeff2[3];
}

double landuse_class::GetForcingThreshold(int i) const {
  if (p_.Method != landuse::DynamicPhenology3 || i < 0 ||
      static_cast<std::size_t>(i) >= p_.ForcingThreshold.size())
    return -1.0;
  return p_.ForcingThreshold[static_cast<std::size_t>(i)];
}

bool landuse_class::IsDynamicPhenology() const {
  return p_.Method >= landuse::DynamicPhenology1 && p_.Method <= landuse::DynamicPhenology4;
}

bool landuse_class::UsesStages() const {
  return (p_.Method == landuse::DynamicPhenology3 || p_.Method == landuse::DynamicPhenology4) &&
         hasStages_;
}

void landuse_class::SetPhenologyGrids(int maxFixPoints, std::vector<PhenologyLayerGrids> layers) {
  maxFixPoints_ = maxFixPoints;
  layers_ = std::move(layers);
  hasStages_ = std::any_of(layers_.begin(), layers_.end(),
                           [](const PhenologyLayerGrids &l) { return l.StartTimes != nullptr; });
}

bool landuse_class::UsesMonthlyResistances() const { return p_.Method == landuse::OldFormat; }

int landuse_class::DayOfYear(DiagnosticsLog &log, int day, int month, int year) const {
  if (month < 1 || month > 12)
    ThrowFatal(log, landuse::DayOfYearError,
               Concat("land use record code ", p_.Code, " (", p_.Name, "): the month of the date ",
                      day, ".", month, ".", year, " lies outside 1..12"));
  const landuse::MonthTable lengths = landuse::MonthLengthsOfYear(year);
  long long result = day;
  for (int m = 1; m < month; ++m)
    result += lengths[static_cast<std::size_t>(m)];
  if (result > 366 || result < 0)
    ThrowFatal(log, landuse::DayOfYearError,
               Concat("land use record code ", p_.Code, " (", p_.Name, "): the date ", day, ".",
                      month, ".", year, " gives the day of year ", result, " (allowed 0 to 366)"));
  return static_cast<int>(result);
}

void landuse_class::PresetStartDay(DiagnosticsLog &log, int day, int month, int year) {
  if (!IsDynamicStartMethod(p_.Method))
    return;
  startDayPreset_ = true;
  const int dayOfYear = DayOfYear(log, day, month, year);
  if (p_.maxStartJDforDP1 < dayOfYear)
    dynamicStartDay_ =
        p_.maxStartJDforDP1 - p_.JulDays[static_cast<std::size_t>(p_.TStartIndex + 1)];
}

void landuse_class::NoFixPoints(DiagnosticsLog &log) const {
  ThrowFatal(log, landuse::FixPointError,
             Concat("land use record code ", p_.Code, " (", p_.Name, ") has no fix points"));
}

void landuse_class::ComputeFixPoints(DiagnosticsLog &log, int startDay, double altitude,
                                     landuse::FixPointScratch &fixPoints) const {
  const int n = p_.FixPointCount;
  if (n < 1)
    NoFixPoints(log);
  const bool dynamicStart = IsDynamicStartMethod(p_.Method);
  for (int i = 1; i <= n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    const char *what = "altitude correction";
    double value = 0.0;
    if (dynamicStart && i == p_.TStartIndex) {
      value = startDay;
      what = "dynamic phenology (method 1 or 2 at TStart)";
    } else if (dynamicStart && i == p_.TStartIndex + 1) {
      value = static_cast<double>(p_.JulDays[k]) + startDay;
      what = "dynamic phenology (method 1 or 2 after TStart)";
    } else {
      value = p_.JulDays[k] + std::trunc((altitude - 400.0) * p_.AltDep[k]);
    }
    if (!(value >= -1.0 && value <= 366.0))
      ThrowFatal(log, landuse::FixPointError,
                 Concat("\n---ERROR--\n", what, " resulted in a Julian day of ", value,
                        " for fix point ", i, " (JD should be between 1 and 366)"));
    fixPoints[k] = static_cast<int>(value);
  }
  // The year closes with the cell's own last fix point, so a shifted record
  // wraps between its shifted values and never extrapolates beyond them.
  fixPoints[0] = fixPoints[static_cast<std::size_t>(n)] - 366;
}

namespace {

int IntervalOf(const landuse::FixPointScratch &fixPoints, int n, int julianDay) {
  if (n < 1 || fixPoints[1] >= julianDay || fixPoints[1] < 0)
    return 1;
  for (int i = 2; i <= n; ++i) {
    const int point = fixPoints[static_cast<std::size_t>(i)];
    if (point >= julianDay || point < 0)
      return i;
  }
  return n + 1;
}

} // namespace

int landuse_class::FindFixPointInterval(DiagnosticsLog &log, int julianDay, int startDay,
                                        double altitude) const {
  landuse::FixPointScratch fixPoints;
  ComputeFixPoints(log, startDay, altitude, fixPoints);
  return IntervalOf(fixPoints, p_.FixPointCount, julianDay);
}

const PhenologyLayerGrids &landuse_class::Layer(DiagnosticsLog &log, int layer) const {
  if (layer < 1 || static_cast<std::size_t>(layer) >= layers_.size())
    ThrowFatal(log, landuse::FixPointError,
               Concat("land use record code ", p_.Code, " (", p_.Name,
                      "): no phenology grids for land-use layer ", layer));
  return layers_[static_cast<std::size_t>(layer)];
}

double landuse_class::CellValue(DiagnosticsLog &log, const Grid *grid, int layer, int row,
                                int column, const char *what) const {
  if (grid == nullptr || !grid->HasRow(row) || column < 0 || column > grid->LastColumn())
    ThrowFatal(log, landuse::FixPointError,
               Concat("land use record code ", p_.Code, " (", p_.Name, "): no ", what,
                      " value for land-use layer ", layer, " at row ", row, ", column ", column));
  return (*grid)[row][column];
}

int landuse_class::CellStartDay(DiagnosticsLog &log, int layer, int row, int column) const {
  const bool fromGrid = p_.Method == landuse::DynamicPhenology1 ||
                        p_.Method == landuse::DynamicPhenology2 ||
                        (p_.Method == landuse::DynamicPhenology4 && !hasStages_);
  if (!fromGrid || layers_.empty())
    return -1;
  const PhenologyLayerGrids &grids = Layer(log, layer);
  if (grids.PhenoStart == nullptr)
    return -1;
  return TruncatedDay(CellValue(log, grids.PhenoStart, layer, row, column, "Pheno_start"));
}

std::span<const double> landuse_class::CellStages(DiagnosticsLog &log, int layer, int row,
                                                  int column) const {
  const Stack *stack = Layer(log, layer).StartTimes;
  const int n = p_.FixPointCount;
  if (stack == nullptr || !stack->HasRow(row) || column < 0 || column > stack->LastColumn() ||
      stack->LastLevel() < n)
    ThrowFatal(log, landuse::FixPointError,
               Concat("land use record code ", p_.Code, " (", p_.Name,
                      "): no MultipleStartTimes stages for land-use layer ", layer, " at row ", row,
                      ", column ", column));
  return {(*stack)[row][column], static_cast<std::size_t>(n) + 1};
}

landuse_class::DayInInterval landuse_class::Locate(DiagnosticsLog &log, int julianDay, int layer,
                                                   int row, int column, double altitude,
                                                   landuse::FixPointScratch &fixPoints) const {
  ComputeFixPoints(log, CellStartDay(log, layer, row, column), altitude, fixPoints);
  const int n = p_.FixPointCount;
  const int i = IntervalOf(fixPoints, n, julianDay);
  // After the last fix point the day lies before the first one of next year.
  if (i == n + 1)
    return {1, julianDay - 366};
  return {i, julianDay};
}

void landuse_class::ValuesAtJulianDay(DiagnosticsLog &log,
                                      std::span<const std::vector<double> *const> lists,
                                      std::span<double> values, int julianDay, int layer, int row,
                                      int column, double altitude) const {
  if (UsesStages()) {
    const std::span<const double> stages = CellStages(log, layer, row, column);
    std::span<const double> thresholds;
    double forcingSum = 0.0;
    if (p_.Method == landuse::DynamicPhenology3) {
      thresholds = p_.ForcingThreshold;
      forcingSum =
          CellValue(log, Layer(log, layer).ForcingSum, layer, row, column, "SumOfForcingUnits");
    }
    for (std::size_t k = 0; k < lists.size(); ++k)
      values[k] = landuse::StageValue(stages, *lists[k], p_.FixPointCount, julianDay, thresholds,
                                      forcingSum);
    return;
  }
  landuse::FixPointScratch fixPoints;
  const DayInInterval at = Locate(log, julianDay, layer, row, column, altitude, fixPoints);
  const auto i = static_cast<std::size_t>(at.Index);
  // Before the cell's vegetation start the value of the fix point before it holds.
  const bool hold = IsDynamicStartMethod(p_.Method) && at.Index == p_.TStartIndex;
  for (std::size_t k = 0; k < lists.size(); ++k) {
    const std::vector<double> &list = *lists[k];
    values[k] =
        hold ? list[i - 1]
             : landuse::Interpolate(fixPoints[i - 1], fixPoints[i], list[i - 1], list[i], at.Day);
  }
}

double landuse_class::ValueAtJulianDay(DiagnosticsLog &log, const std::vector<double> &values,
                                       int julianDay, int layer, int row, int column,
                                       double altitude) const {
  const std::vector<double> *const list[] = {&values};
  double value = 0.0;
  ValuesAtJulianDay(log, list, {&value, 1}, julianDay, layer, row, column, altitude);
  return value;
}

void landuse_class::GetValuesAtJulianDay(DiagnosticsLog &log, int julianDay, int layer, int row,
                                         int column, double altitude,
                                         std::span<const std::vector<double> *const> lists,
                                         std::span<double> values) const {
  try {
    ValuesAtJulianDay(log, lists, values, julianDay, layer, row, column, altitude);
  } catch (int) {
    LogCellFailure(log, julianDay, layer, row, column, altitude);
    throw;
  }
}

void landuse_class::LogCellFailure(DiagnosticsLog &log, int julianDay, int layer, int row,
                                   int column, double altitude) const {
  log.Entry(Concat("FATAL: Coordinates: i=", row, ", j=", column, "\nLayer=", layer,
                   "\nAltitude=", altitude, "m\nJulday=", julianDay, "\nLanduse Code=", p_.Code,
                   "\nTStart=", dynamicStartDay_, DiagnosticsLog::EndToken));
}

double landuse_class::MonthlyAtDate(DiagnosticsLog &log, const std::vector<double> &values, int day,
                                    int month, int year) const {
  if (month < 1 || month > 12)
    ThrowFatal(log, landuse::MonthlyMonthError,
               Concat("land use record code ", p_.Code, " (", p_.Name, "): the month of the date ",
                      day, ".", month, ".", year, " lies outside 1..12 (monthly values)"));
  const landuse::MonthTable lengths = landuse::MonthLengthsOfYear(year);
  if (day < 1 || day > lengths[static_cast<std::size_t>(month)])
    ThrowFatal(log, landuse::MonthlyDayError,
               Concat("land use record code ", p_.Code, " (", p_.Name, "): the day of the date ",
                      day, ".", month, ".", year, " lies outside its month (monthly values)"));
  return landuse::MonthlyValue(values, day, month, lengths);
}

double landuse_class::MonthlyAtJulianDay(DiagnosticsLog &log, const std::vector<double> &values,
                                         int julianDay) const {
  if (julianDay < 0)
    ThrowFatal(log, landuse::MonthlyDayError,
               Concat("land use record code ", p_.Code, " (", p_.Name, "): negative Julian day ",
                      julianDay, " (monthly values)"));
  // A Julian day without a year counts February with 28 days.
  const landuse::MonthTable lengths = landuse::CommonMonthLengths();
  const int day = julianDay > 365 ? julianDay % 365 : julianDay;
  int month = 1;
  int before = 0;
  while (month < 12 && before + lengths[static_cast<std::size_t>(month)] < day) {
    before += lengths[static_cast<std::size_t>(month)];
    ++month;
  }
  return landuse::MonthlyValue(values, std::max(day - before, 1), month, lengths);
}

double landuse_class::ResistanceAtDate(DiagnosticsLog &log, const std::vector<double> &values,
                                       int day, int month, int year, int layer, int row, int column,
                                       double altitude) const {
  if (UsesMonthlyResistances())
    return MonthlyAtDate(log, values, day, month, year);
  return ValueAtJulianDay(log, values, DayOfYear(log, day, month, year), layer, row, column,
                          altitude);
}

double landuse_class::ResistanceAtJulianDay(DiagnosticsLog &log, const std::vector<double> &values,
                                            int julianDay, int layer, int row, int column,
                                            double altitude) const {
  if (UsesMonthlyResistances())
    return MonthlyAtJulianDay(log, values, julianDay);
  return ValueAtJulianDay(log, values, julianDay, layer, row, column, altitude);
}

double landuse_class::GetRsc(DiagnosticsLog &log, int day, int month, int year, int layer, int row,
                             int column, double altitude) const {
  return ResistanceAtDate(log, p_.rsc, day, month, year, layer, row, column, altitude);
}
double landuse_class::GetRscAtJulianDay(DiagnosticsLog &log, int julianDay, int layer, int row,
                                        int column, double altitude) const {
  return ResistanceAtJulianDay(log, p_.rsc, julianDay, layer, row, column, altitude);
}
double landuse_class::GetRsInterception(DiagnosticsLog &log, int day, int month, int year,
                                        int layer, int row, int column, double altitude) const {
  return ResistanceAtDate(log, p_.rs_interception, day, month, year, layer, row, column, altitude);
}
double landuse_class::GetRsInterceptionAtJulianDay(DiagnosticsLog &log, int julianDay, int layer,
                                                   int row, int column, double altitude) const {
  return ResistanceAtJulianDay(log, p_.rs_interception, julianDay, layer, row, column, altitude);
}
double landuse_class::GetRsEvaporation(DiagnosticsLog &log, int day, int month, int year, int layer,
                                       int row, int column, double altitude) const {
  return ResistanceAtDate(log, p_.rs_evaporation, day, month, year, layer, row, column, altitude);
}
double landuse_class::GetRsEvaporationAtJulianDay(DiagnosticsLog &log, int julianDay, int layer,
                                                  int row, int column, double altitude) const {
  return ResistanceAtJulianDay(log, p_.rs_evaporation, julianDay, layer, row, column, altitude);
}

double landuse_class::GetZ0(DiagnosticsLog &log, int day, int month, int year, int layer, int row,
                            int column, double altitude) const {
  return GetZ0AtJulianDay(log, DayOfYear(log, day, month, year), layer, row, column, altitude);
}
double landuse_class::GetZ0AtJulianDay(DiagnosticsLog &log, int julianDay, int layer, int row,
                                       int column, double altitude) const {
  return ValueAtJulianDay(log, p_.Z0, julianDay, layer, row, column, altitude);
}
double landuse_class::GetLAI(DiagnosticsLog &log, int day, int month, int year, int layer, int row,
                             int column, double altitude) const {
  return GetLAIAtJulianDay(log, DayOfYear(log, day, month, year), layer, row, column, altitude);
}
double landuse_class::GetLAIAtJulianDay(DiagnosticsLog &log, int julianDay, int layer, int row,
                                        int column, double altitude) const {
  return ValueAtJulianDay(log, p_.LAI, julianDay, layer, row, column, altitude);
}
double landuse_class::GetVCF(DiagnosticsLog &log, int day, int month, int year, int layer, int row,
                             int column, double altitude) const {
  return GetVCFAtJulianDay(log, DayOfYear(log, day, month, year), layer, row, column, altitude);
}
double landuse_class::GetVCFAtJulianDay(DiagnosticsLog &log, int julianDay, int layer, int row,
                                        int column, double altitude) const {
  return ValueAtJulianDay(log, p_.VCF, julianDay, layer, row, column, altitude);
}
double landuse_class::GetRootDepth(DiagnosticsLog &log, int day, int month, int year, int layer,
                                   int row, int column, double altitude) const {
  return GetRootDepthAtJulianDay(log, DayOfYear(log, day, month, year), layer, row, column,
                                 altitude);
}
double landuse_class::GetRootDepthAtJulianDay(DiagnosticsLog &log, int julianDay, int layer,
                                              int row, int column, double altitude) const {
  try {
    return ValueAtJulianDay(log, p_.RootDepth, julianDay, layer, row, column, altitude);
  } catch (int) {
    LogCellFailure(log, julianDay, layer, row, column, altitude);
    throw;
  }
}
double landuse_class::GetAlbedo(DiagnosticsLog &log, int day, int month, int year, int layer,
                                int row, int column, double altitude) const {
  return GetAlbedoAtJulianDay(log, DayOfYear(log, day, month, year), layer, row, column, altitude);
}
double landuse_class::GetAlbedoAtJulianDay(DiagnosticsLog &log, int julianDay, int layer, int row,
                                           int column, double altitude) const {
  return ValueAtJulianDay(log, p_.Albedo, julianDay, layer, row, column, altitude);
}
double landuse_class::GetSRStemDiameter(DiagnosticsLog &log, int day, int month, int year,
                                        int layer, int row, int column, double altitude) const {
  return GetSRStemDiameterAtJulianDay(log, DayOfYear(log, day, month, year), layer, row, column,
                                      altitude);
}
double landuse_class::GetSRStemDiameterAtJulianDay(DiagnosticsLog &log, int julianDay, int layer,
                                                   int row, int column, double altitude) const {
  return ValueAtJulianDay(log, p_.SR_StemDiameter, julianDay, layer, row, column, altitude);
}
double landuse_class::GetSRResidCovrg(DiagnosticsLog &log, int day, int month, int year, int layer,
                                      int row, int column, double altitude) const {
  return GetSRResidCovrgAtJulianDay(log, DayOfYear(log, day, month, year), layer, row, column,
                                    altitude);
}
double landuse_class::GetSRResidCovrgAtJulianDay(DiagnosticsLog &log, int julianDay, int layer,
                                                 int row, int column, double altitude) const {
  return ValueAtJulianDay(log, p_.SR_ResidCovrg, julianDay, layer, row, column, altitude);
}

double landuse_class::GetBalanceStartDay(DiagnosticsLog &log, int day, int month, int year,
                                         int layer, int row, int column, double altitude) const {
  return GetBalanceStartDayAtJulianDay(log, DayOfYear(log, day, month, year), layer, row, column,
                                       altitude);
}

double landuse_class::GetBalanceStartDayAtJulianDay(DiagnosticsLog &log, int julianDay, int layer,
                                                    int row, int column, double altitude) const {
  const int start = p_.StartVegetationPeriodForBalance;
  const int stop = p_.StopVegetationPeriodForBalance;
  if (start == 0)
    return 0.0;
  if (UsesStages())
    return landuse::StageBalanceStart(CellStages(log, layer, row, column), p_.FixPointCount,
                                      julianDay, start, stop);
  landuse::FixPointScratch fixPoints;
  const DayInInterval at = Locate(log, julianDay, layer, row, column, altitude, fixPoints);
  const int point = fixPoints[static_cast<std::size_t>(at.Index)];
  if (at.Index >= start && (at.Index < stop || stop < start) && point > 0 && at.Day >= point)
    return at.Day;
  return -1.0;
}

double landuse_class::GetBalanceStopDay(DiagnosticsLog &log, int day, int month, int year,
                                        int layer, int row, int column, double altitude) const {
  return GetBalanceStopDayAtJulianDay(log, DayOfYear(log, day, month, year), layer, row, column,
                                      altitude);
}

double landuse_class::GetBalanceStopDayAtJulianDay(DiagnosticsLog &log, int julianDay, int layer,
                                                   int row, int column, double altitude) const {
  const int stop = p_.StopVegetationPeriodForBalance;
  if (stop == 0)
    return 0.0;
  if (UsesStages())
    return landuse::StageBalanceStop(CellStages(log, layer, row, column), p_.FixPointCount,
                                     julianDay, stop);
  landuse::FixPointScratch fixPoints;
  const DayInInterval at = Locate(log, julianDay, layer, row, column, altitude, fixPoints);
  if (at.Index == stop && at.Day == fixPoints[static_cast<std::size_t>(at.Index)])
    return at.Day;
  return -1.0;
}

double landuse_class::GetNFactor(DiagnosticsLog &log, int day, int month, int year) const {
  return GetNFactorAtJulianDay(log, DayOfYear(log, day, month, year));
}

double landuse_class::GetNFactorAtJulianDay(DiagnosticsLog &log, int julianDay) const {
  const int n = p_.FixPointCount;
  if (n < 1)
    NoFixPoints(log);
  const std::vector<int> &days = p_.JulDays;
  int i = 1;
  if (!(days[1] >= julianDay || days[1] < 0)) {
    i = 2;
    while (i <= n && !(days[static_cast<std::size_t>(i)] >= julianDay ||
                       days[static_cast<std::size_t>(i)] < 0))
      ++i;
    if (i > n) {
      i = 1;
      julianDay -= 366;
    }
  }
  const auto k = static_cast<std::size_t>(i);
  return landuse::Interpolate(days[k - 1], days[k], p_.NFactor[k - 1], p_.NFactor[k], julianDay);
}

} // namespace tavro
