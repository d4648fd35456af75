// Start values, daily evaluation and phenology of the land-use parameter grids.
#include "setup/landuse_parameter_grids.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "tables/phenology/dynamic_phenology.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace tavro {
namespace {

// The bits of the land-use record's switch text.
constexpr int kAlbedoBit = 1;
constexpr int kSoilEvaporationBit = 2;
constexpr int kCanopyResistanceBit = 4;
constexpr int kInterceptionResistanceBit = 8;
constexpr int kLeafAreaIndexBit = 16;
constexpr int kVegetationCoverBit = 32;
constexpr int kRootDepthBit = 64;
constexpr int kRoughnessBit = 128;

constexpr double kLeastRootDepth = 0.01;     // m
constexpr double kLeastRoughness = 0.01;     // m
constexpr double kReferenceAltitude = 400.0; // m, where fix points do not move

bool HasDynamicStart(int method) {
  return method == landuse::DynamicPhenology1 || method == landuse::DynamicPhenology2 ||
         method == landuse::DynamicPhenology4;
}

void SetIf(Grid *grid, long row, long column, double value) {
  if (grid != nullptr)
    (*grid)[row][column] = value;
}

// Every cell of the rows a grid holds, valid or not, rows spread over the threads.
CellIteration EveryHeldCell(const Grid &grid) {
  CellIterationSetup setup;
  setup.FirstRow = grid.FirstRow();
  setup.LastRow = grid.LastRow();
  setup.NCols = grid.LastColumn();
  return CellIteration(setup);
}

} // namespace

LanduseParameterGrids::LanduseParameterGrids(DiagnosticsLog &log,
                                             const OneBasedArray<landuse_class> &table,
                                             const CellIteration &cells, const Grid &elevation,
                                             double noData, std::vector<LayerParameterGrids> layers,
                                             LanduseSingleGrids single)
    : log_(log), table_(table), cells_(cells), elevation_(elevation), noData_(noData),
      layers_(std::move(layers)), single_(single) {}

std::vector<Grid *> LanduseParameterGrids::HaloGrids(int k) const {
  const LayerParameterGrids &l = Layer(k);
  std::vector<Grid *> grids = {l.RootDepth,        l.VegetationCover,        l.LeafAreaIndex,
                               l.CanopyResistance, l.InterceptionResistance, l.RoughnessLength};
  if (k == 1) {
    grids.push_back(single_.SurfaceEvaporationResistance);
    grids.push_back(single_.Albedo);
  }
  return grids;
}

const landuse_class *LanduseParameterGrids::RecordOf(double code) const {
  if (code == noData_ || !(code >= 1.0) || code > static_cast<double>(table_.Count()))
    return nullptr;
  return &table_[static_cast<std::size_t>(code)];
}

std::vector<int> LanduseParameterGrids::RecordDaysOf(const CalendarDate &date) const {
  std::vector<int> days(table_.Count() + 1, 0);
  for (std::size_t i = 1; i <= table_.Count(); ++i)
    days[i] = table_[i].DayOfYear(log_, date.Day, date.Month, date.Year);
  return days;
}

void LanduseParameterGrids::SetNoData(int k, long row, long column, bool withAlbedo) const {
  const LayerParameterGrids &l = Layer(k);
  for (Grid *grid :
       {l.RootDepth, l.VegetationCover, l.LeafAreaIndex, l.CanopyResistance,
        l.InterceptionResistance, l.RoughnessLength, l.VegetationStart, l.VegetationStop,
        l.VegetationDuration, l.ForcingSum, l.PhenoStart, l.ChillingSum, l.FStar})
    SetIf(grid, row, column, noData_);
  if (k == 1) {
    SetIf(single_.SurfaceEvaporationResistance, row, column, noData_);
    if (withAlbedo)
      SetIf(single_.Albedo, row, column, noData_);
  }
}

void LanduseParameterGrids::EvaluateCell(const landuse_class &r, int k, long row, long column,
                                         int julianDay, const CalendarDate &date) const {
  const LayerParameterGrids &l = Layer(k);
  const LanduseParameters &p = r.Parameters();
  const double altitude = elevation_[row][column];
  const int i = static_cast<int>(row);
  const int j = static_cast<int>(column);
  // The lists whose bit is set and the cells that receive their values; one
  // search of the cell's fix points serves them all.
  constexpr std::size_t kMostLists = 8;
  std::array<const std::vector<double> *, kMostLists> lists{};
  std::array<double *, kMostLists> targets{};
  std::size_t count = 0;
  const auto take = [&](int bit, const std::vector<double> &list, Grid *grid) {
    if (r.UsesInternalParameter(bit) != 0) {
      lists[count] = &list;
      targets[count] = &(*grid)[row][column];
      ++count;
    }
  };
  // The resistances of an old one-line entry follow its monthly values.
  const bool monthly = p.Method == landuse::OldFormat;
  if (k == 1) {
    take(kAlbedoBit, p.Albedo, single_.Albedo);
    if (!monthly)
      take(kSoilEvaporationBit, p.rs_evaporation, single_.SurfaceEvaporationResistance);
  }
  take(kRootDepthBit, p.RootDepth, l.RootDepth);
  take(kLeafAreaIndexBit, p.LAI, l.LeafAreaIndex);
  take(kVegetationCoverBit, p.VCF, l.VegetationCover);
  if (!monthly) {
    take(kCanopyResistanceBit, p.rsc, l.CanopyResistance);
    take(kInterceptionResistanceBit, p.rs_interception, l.InterceptionResistance);
  }
  take(kRoughnessBit, p.Z0, l.RoughnessLength);
  if (count > 0) {
    std::array<double, kMostLists> values{};
    r.GetValuesAtJulianDay(log_, julianDay, k, i, j, altitude, {lists.data(), count},
                           {values.data(), count});
    for (std::size_t n = 0; n < count; ++n)
      *targets[n] = values[n];
  }
  if (monthly) {
    const int d = date.Day;
    const int m = date.Month;
    const int y = date.Year;
    if (k == 1 && r.UsesInternalParameter(kSoilEvaporationBit) != 0)
      (*single_.SurfaceEvaporationResistance)[row][column] =
          r.GetRsEvaporation(log_, d, m, y, k, i, j, altitude);
    if (r.UsesInternalParameter(kCanopyResistanceBit) != 0)
      (*l.CanopyResistance)[row][column] = r.GetRsc(log_, d, m, y, k, i, j, altitude);
    if (r.UsesInternalParameter(kInterceptionResistanceBit) != 0)
      (*l.InterceptionResistance)[row][column] =
          r.GetRsInterception(log_, d, m, y, k, i, j, altitude);
  }
  ApplyBounds(k, row, column);
}

void LanduseParameterGrids::ApplyBounds(int k, long row, long column) const {
  const LayerParameterGrids &l = Layer(k);
  double &rootDepth = (*l.RootDepth)[row][column];
  rootDepth = std::max(rootDepth, kLeastRootDepth);
  double &cover = (*l.VegetationCover)[row][column];
  cover = std::clamp(cover, 0.0, 1.0);
  for (Grid *grid : {l.LeafAreaIndex, l.CanopyResistance, l.InterceptionResistance}) {
    double &value = (*grid)[row][column];
    value = std::max(value, 0.0);
  }
  double &roughness = (*l.RoughnessLength)[row][column];
  if (roughness <= 0.0)
    roughness = kLeastRoughness;
  if (k == 1) {
    double &resistance = (*single_.SurfaceEvaporationResistance)[row][column];
    resistance = std::max(resistance, 0.0);
  }
}

void LanduseParameterGrids::UpdateBalancePeriod(const landuse_class &r, int k, long row,
                                                long column, int julianDay) const {
  const LayerParameterGrids &l = Layer(k);
  double &start = (*l.VegetationStart)[row][column];
  double &stop = (*l.VegetationStop)[row][column];
  const double altitude = elevation_[row][column];
  const int i = static_cast<int>(row);
  const int j = static_cast<int>(column);
  // The reset comes before the start test of the same day.
  if (julianDay == r.GetJDVegetationResetForBalance()) {
    start = -1.0;
    stop = -1.0;
    (*l.VegetationDuration)[row][column] = 0.0;
  }
  if (start <= 0.0)
    start = r.GetBalanceStartDayAtJulianDay(log_, julianDay, k, i, j, altitude);
  if (stop < 0.0)
    stop = r.GetBalanceStopDayAtJulianDay(log_, julianDay, k, i, j, altitude);
}

void LanduseParameterGrids::PrepareStartState(const landuse_class &r, int k, long row, long column,
                                              std::vector<int> &chillingKnown,
                                              std::size_t recordIndex) const {
  const LayerParameterGrids &l = Layer(k);
  if (!HasDynamicStart(r.GetMethod()) || l.PhenoStart == nullptr)
    return;
  double &forcing = (*l.ForcingSum)[row][column];
  if (forcing < 0.0)
    forcing = 0.0;
  double &start = (*l.PhenoStart)[row][column];
  if (start < 0.0)
    start = r.GetDynamicStartDay();
  double &chilling = (*l.ChillingSum)[row][column];
  if (chilling < 0.0) {
    chilling = 0.0;
  } else {
#pragma omp atomic write
    chillingKnown[recordIndex] = 1;
  }
  double &fStar = (*l.FStar)[row][column];
  if (fStar < 0.0)
    fStar = r.GetFStar();
}

void LanduseParameterGrids::InitialiseStartTimes(int k, int startDayOfYear) {
  const LayerParameterGrids &l = Layer(k);
  Stack &stack = *l.StartTimes;
  const long levels = stack.LastLevel();
#pragma omp parallel for schedule(runtime)
  for (long row = stack.FirstRow(); row <= stack.LastRow(); ++row) {
    if (!stack.HasRow(row))
      continue;
    for (long column = 1; column <= stack.LastColumn(); ++column) {
      double *S = stack[row][column];
      const bool own =
          cells_.IsValid(row, column) && cells_.IsOwned(row, column) && l.Landuse->HasRow(row);
      const landuse_class *r = own ? RecordOf((*l.Landuse)[row][column]) : nullptr;
      if (r == nullptr) {
        std::fill(S + 1, S + levels + 1, noData_);
        continue;
      }
      const LanduseParameters &p = r->Parameters();
      const bool thresholds = p.Method == landuse::DynamicPhenology3;
      const bool dynamicStart = HasDynamicStart(p.Method);
      S[0] = 0.0;
      for (long t = 1; t <= levels; ++t) {
        const auto i = static_cast<std::size_t>(t);
        if (t > p.FixPointCount) {
          S[t] = noData_;
        } else if (thresholds && p.ForcingThreshold[i] >= 0.0 && p.JulDays[i] > startDayOfYear) {
          S[t] = -1.0;
        } else if (dynamicStart && (t == p.TStartIndex || t == p.TStartIndex + 1)) {
          // The vegetation start and the offset after it are no days of the year.
          S[t] = p.JulDays[i];
        } else {
          const double shift =
              std::trunc((elevation_[row][column] - kReferenceAltitude) * p.AltDep[i]);
          S[t] = shift + p.JulDays[i];
        }
        if (thresholds && p.ForcingThreshold[i] > 0.0 && p.JulDays[i] <= startDayOfYear)
          S[0] = p.ForcingThreshold[i];
      }
    }
  }
}

void LanduseParameterGrids::InitialiseLayer(int k, const CalendarDate &start,
                                            std::vector<int> &chillingKnown) {
  const std::vector<int> startDays = RecordDaysOf(start);
  const LayerParameterGrids &l = Layer(k);
  EveryHeldCell(*l.RootDepth).ForEachCell([&](long row, long column) {
    if (!(cells_.IsValid(row, column) && cells_.IsOwned(row, column))) {
      SetNoData(k, row, column, false);
      return;
    }
    const double code = l.Landuse->HasRow(row) ? (*l.Landuse)[row][column] : noData_;
    const landuse_class *r = RecordOf(code);
    if (r == nullptr) {
      SetNoData(k, row, column, true);
      return;
    }
    const auto index = static_cast<std::size_t>(code);
    const int julianDay = startDays[index];
    PrepareStartState(*r, k, row, column, chillingKnown, index);
    EvaluateCell(*r, k, row, column, julianDay, start);
    double &vegetationStart = (*l.VegetationStart)[row][column];
    if (vegetationStart <= 0.0)
      vegetationStart =
          r->GetBalanceStartDayAtJulianDay(log_, julianDay, k, static_cast<int>(row),
                                           static_cast<int>(column), elevation_[row][column]);
    (*l.VegetationDuration)[row][column] = 0.0;
    (*l.VegetationStop)[row][column] = -1.0;
  });
}

void LanduseParameterGrids::AddStepTemperature(const Grid &temperature, int stepOfDay) {
  Grid &mean = *single_.DayTemperature;
  const double steps = stepOfDay;
  // A running mean: the day's value never depends on the step length.
  cells_.ForEachCell([&](long row, long column) {
    double &value = mean[row][column];
    value += (temperature[row][column] - value) / steps;
  });
}

void LanduseParameterGrids::CountVegetationSteps() {
  const int layers = LayerCount();
  cells_.ForEachCell([&](long row, long column) {
    for (int k = 1; k <= layers; ++k) {
      const LayerParameterGrids &l = Layer(k);
      if ((*l.VegetationStart)[row][column] >= 0.0 && (*l.VegetationStop)[row][column] <= 0.0)
        (*l.VegetationDuration)[row][column] += 1.0;
    }
  });
}

void LanduseParameterGrids::UpdateMovingMean(int days) {
  const Grid &dayMean = *single_.DayTemperature;
  Grid &movingMean = *single_.MovingMean;
  const Stack &means = *single_.DailyMeans;
  const double count = days;
  cells_.ForEachCell([&](long row, long column) {
    double *level = means[row][column];
    std::copy_backward(level + 1, level + kDailyMeanLevels, level + kDailyMeanLevels + 1);
    level[1] = dayMean[row][column];
    double sum = 0.0;
    for (int i = 1; i <= kDailyMeanLevels; ++i)
      sum += level[i];
    movingMean[row][column] = sum / count;
  });
}

void LanduseParameterGrids::AdvancePhenology(int dayOfYear, const Grid *rootZone) {
  const int layers = LayerCount();
  cells_.ForEachCell([&](long row, long column) {
    phenology::Day day;
    day.JulianDay = dayOfYear;
    day.Temperature = (*single_.DayTemperature)[row][column];
    day.MovingMean = (*single_.MovingMean)[row][column];
    day.RootZoneWater = rootZone != nullptr ? &(*rootZone)[row][column] : nullptr;
    double &leafFall = (*single_.LeafFall)[row][column];
    double &coldDays = (*single_.DailyMeans)[row][column][0];
    for (int k = 1; k <= layers; ++k) {
      const LayerParameterGrids &l = Layer(k);
      const landuse_class *r = RecordOf((*l.Landuse)[row][column]);
      if (r == nullptr || !r->IsDynamicPhenology())
        continue;
      const LanduseParameters &p = r->Parameters();
      phenology::CellState cell{(*l.ForcingSum)[row][column],
                                (*l.PhenoStart)[row][column],
                                (*l.ChillingSum)[row][column],
                                (*l.FStar)[row][column],
                                leafFall,
                                coldDays,
                                {}};
      const bool staged =
          p.Method == landuse::DynamicPhenology3 || p.Method == landuse::DynamicPhenology4;
      if (staged && l.StartTimes != nullptr)
        cell.Stages = {(*l.StartTimes)[row][column], static_cast<std::size_t>(p.FixPointCount) + 1};
      phenology::AdvanceOneDay(p, r->GetStartDayPreset(), day, cell);
      (*l.ForcingSum)[row][column] = cell.ForcingSum;
      (*l.PhenoStart)[row][column] = cell.StartDay;
      (*l.ChillingSum)[row][column] = cell.ChillingSum;
      (*l.FStar)[row][column] = cell.FStar;
      leafFall = cell.LeafFallDay;
      coldDays = cell.ColdDays;
    }
  });
}

void LanduseParameterGrids::EvaluateParameters(const CalendarDate &date) {
  const std::vector<int> days = RecordDaysOf(date);
  const int layers = LayerCount();
  cells_.ForEachCell([&](long row, long column) {
    for (int k = 1; k <= layers; ++k) {
      const double code = (*Layer(k).Landuse)[row][column];
      const landuse_class *r = RecordOf(code);
      if (r == nullptr) {
        const LayerParameterGrids &l = Layer(k);
        for (Grid *grid :
             {l.RootDepth, l.LeafAreaIndex, l.VegetationCover, l.InterceptionResistance,
              l.CanopyResistance, l.RoughnessLength, l.VegetationStart, l.VegetationStop})
          (*grid)[row][column] = noData_;
        if (k == 1) {
          (*single_.Albedo)[row][column] = noData_;
          (*single_.SurfaceEvaporationResistance)[row][column] = noData_;
        }
        continue;
      }
      const int julianDay = days[static_cast<std::size_t>(code)];
      EvaluateCell(*r, k, row, column, julianDay, date);
      UpdateBalancePeriod(*r, k, row, column, julianDay);
    }
  });
}

void LanduseParameterGrids::ClearDayTemperature() {
  Grid &mean = *single_.DayTemperature;
  cells_.ForEachCell([&](long row, long column) { mean[row][column] = 0.0; });
}

void LanduseParameterGrids::CloseDay(int dayOfYear, const CalendarDate &date, int movingAverageDays,
                                     const Grid *rootZone) {
  if (UsesPhenology()) {
    UpdateMovingMean(movingAverageDays);
    AdvancePhenology(dayOfYear, rootZone);
  }
  EvaluateParameters(date);
  if (UsesPhenology())
    ClearDayTemperature();
}

} // namespace tavro
