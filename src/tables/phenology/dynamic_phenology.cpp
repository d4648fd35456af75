// One day of the dynamic-phenology models for one cell and layer.
#include "tables/phenology/dynamic_phenology.h"

#include "tables/landuse_class.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace tavro::phenology {
namespace {

constexpr double kColdDaysToLeafFall = 5.0;

int StageCount(std::span<const double> stages) { return static_cast<int>(stages.size()) - 1; }

double &At(std::span<double> stages, int t) { return stages[static_cast<std::size_t>(t)]; }

int JulDay(const LanduseParameters &p, int t) { return p.JulDays[static_cast<std::size_t>(t)]; }

double Threshold(const LanduseParameters &p, int t) {
  return p.ForcingThreshold[static_cast<std::size_t>(t)];
}

bool KeepsStages(const LanduseParameters &p, const CellState &cell) {
  return (p.Method == landuse::DynamicPhenology3 || p.Method == landuse::DynamicPhenology4) &&
         StageCount(cell.Stages) >= 1;
}

// The vegetation starts on day D in the current stage t; the stage after it
// follows the record's offset. The last stage has no stage after it.
void StartInCurrentStage(const LanduseParameters &p, int D, std::span<double> stages) {
  const int t = CurrentStage(stages, D);
  At(stages, t) = D;
  if (t < StageCount(stages))
    At(stages, t + 1) = D + JulDay(p, t + 1);
}

double StressOf(const LanduseParameters &p, const Day &day) {
  return DrynessStress(day.RootZoneWater, p.HReduDry);
}

} // namespace

double SigmoidForcing(double temperature, double baseTemperature) {
  if (!(temperature > baseTemperature))
    return 0.0;
  return 28.4 / (1.0 + std::exp(-0.185 * (temperature - baseTemperature - 18.4)));
}

double DrynessStress(const double *rootZoneWater, double hReduDry) {
  if (rootZoneWater == nullptr || !(*rootZoneWater >= hReduDry))
    return 0.0;
  return (*rootZoneWater - hReduDry) / (150.0 - hReduDry);
}

double AddForcing(double sum, double amount, double stress, double stressFactor) {
  if (stressFactor > 0.0)
    return sum + (1.0 + stress * stressFactor) * amount;
  return sum + amount;
}

double ChillingUnit(double temperature, double lower, double optimum, double upper) {
  if (temperature > lower && temperature <= optimum)
    return (temperature - lower) / (optimum - lower);
  if (temperature > optimum && temperature < upper)
    return (temperature - upper) / (optimum - upper);
  return 0.0;
}

int CurrentStage(std::span<const double> stages, int julianDay) {
  const int n = StageCount(stages);
  for (int t = 1; t < n; ++t) {
    const double day = stages[static_cast<std::size_t>(t)];
    if (julianDay <= day || day <= 0.0)
      return t;
  }
  return std::max(n, 1);
}

void DynamicPhenology1(const LanduseParameters &p, const Day &day, CellState &cell) {
  const int D = day.JulianDay;
  if (cell.StartDay < 0.0 && D >= p.DP1_t1_dorm) {
    cell.ForcingSum = AddForcing(cell.ForcingSum, SigmoidForcing(day.Temperature, p.DP1_T_Bf),
                                 StressOf(p, day), p.StressFactorDynPhen);
    if (cell.ForcingSum > p.FStar) {
      cell.StartDay = D;
      if (KeepsStages(p, cell))
        StartInCurrentStage(p, D, cell.Stages);
    }
  }
  if (D == p.JDReset_TStart) {
    cell.ForcingSum = 0.0;
    cell.StartDay = -1.0;
    cell.LeafFallDay = 0.0;
    if (KeepsStages(p, cell))
      for (int t = 1; t <= StageCount(cell.Stages); ++t) {
        const bool awaitsThreshold =
            p.Method == landuse::DynamicPhenology3 && Threshold(p, t) >= 0.0 && JulDay(p, t) > D;
        At(cell.Stages, t) = awaitsThreshold ? -1.0 : JulDay(p, t);
      }
  }
}

void DynamicPhenology2(const LanduseParameters &p, const Day &day, CellState &cell) {
  const int D = day.JulianDay;
  const double T = day.Temperature;
  if (cell.StartDay < 0.0 && D >= p.DP2_t1_dorm) {
    cell.ForcingSum = AddForcing(cell.ForcingSum, SigmoidForcing(T, p.DP2_T_Bf), StressOf(p, day),
                                 p.StressFactorDynPhen);
    if (cell.ForcingSum > cell.FStar)
      cell.StartDay = D;
  }
  if (D >= p.DP2_t0_dorm || D < p.DP2_t1_dorm)
    cell.ChillingSum += ChillingUnit(T, p.DP2_Offset_1, p.DP2_T_Bc, p.DP2_Offset_2);
  if (D == p.JDReset_TStart) {
    cell.ForcingSum = 0.0;
    cell.StartDay = -1.0;
  }
  if (D == p.DP2_t0_dorm - 1)
    cell.ChillingSum = 0.0;
  if (D == p.DP2_t1_dorm - 1)
    cell.FStar = p.DP2_Par_a * std::exp(cell.ChillingSum * p.DP2_Par_b);
}

void DynamicPhenology3(const LanduseParameters &p, const Day &day, CellState &cell) {
  const int D = day.JulianDay;
  const int n = StageCount(cell.Stages);
  if (n < 1)
    return;
  std::span<double> S = cell.Stages;
  const int t = CurrentStage(S, D);
  // A stage with a threshold is reached on its fix point at the latest.
  if (JulDay(p, t) <= D && Threshold(p, t) > 0.0) {
    At(S, t) = JulDay(p, t);
    S[0] = Threshold(p, t);
  }
  cell.ForcingSum = AddForcing(cell.ForcingSum, std::max(day.Temperature - p.DP1_T_Bf, 0.0),
                               StressOf(p, day), p.StressFactorDynPhen);
  const double h = Threshold(p, t);
  if (At(S, t) < 0.0 && h <= cell.ForcingSum) {
    At(S, t) = D;
    S[0] = h;
  }
  if (D == 1) {
    cell.ForcingSum = 0.0;
    S[0] = 0.0;
    for (int k = 1; k <= n; ++k)
      At(S, k) = Threshold(p, k) < 0.0 || JulDay(p, k) < 2 ? JulDay(p, k) : -1.0;
  }
}

namespace {

// Leaf fall on day D moves the leaf-fall stage s to D, the stage after it by
// as much, and pulls every earlier stage that is not reached yet, lies after
// D or breaks the order back to the day before.
void MoveLeafFallStage(int s, int D, std::span<double> S) {
  const int n = StageCount(S);
  if (s < 0 || s > n)
    return;
  if (s < n)
    At(S, s + 1) += D - At(S, s);
  At(S, s) = D;
  for (int i = 1; i < s; ++i) {
    const double stage = At(S, i);
    if (stage > D || stage < 0.0 || stage < At(S, i - 1))
      At(S, i) = D - 1;
  }
}

void LeafFall(const LanduseParameters &p, const Day &day, CellState &cell) {
  const int D = day.JulianDay;
  if (!(D >= p.DP4_t_xs1 && cell.LeafFallDay <= 0.0 && cell.StartDay > 0.0))
    return;
  const int s = p.DP4_SPSLF;
  const bool hasStage = s >= 0 && s <= p.FixPointCount;
  const int leafFallFixPoint = hasStage ? JulDay(p, s) : -1;
  bool falls = false;
  if (day.MovingMean >= p.DP4_T_xylstop) {
    cell.ColdDays = 0.0;
    falls = D >= leafFallFixPoint;
  } else {
    cell.ColdDays += 1.0;
    falls = cell.ColdDays >= kColdDaysToLeafFall || D >= leafFallFixPoint;
  }
  if (!falls)
    return;
  if (hasStage)
    MoveLeafFallStage(s, D, cell.Stages);
  cell.LeafFallDay = D;
}

} // namespace

void DynamicPhenology4(const LanduseParameters &p, const Day &day, CellState &cell) {
  const int D = day.JulianDay;
  const double T = day.Temperature;
  const bool staged = KeepsStages(p, cell);
  if (cell.StartDay < 0.0 && D >= p.DP4_t1_dorm) {
    cell.ForcingSum = AddForcing(cell.ForcingSum, T >= p.DP4_T1 ? T - p.DP4_T1 : 0.0,
                                 StressOf(p, day), p.StressFactorDynPhen);
    if (cell.ForcingSum > cell.FStar) {
      cell.StartDay = D;
      if (staged)
        StartInCurrentStage(p, D, cell.Stages);
    }
  }
  if ((D >= p.DP4_t0_dorm || cell.StartDay < 0.0) && T <= p.DP4_T0)
    cell.ChillingSum += 1.0;
  if (D == p.JDReset_TStart) {
    cell.ForcingSum = 0.0;
    cell.LeafFallDay = 0.0;
    cell.StartDay = -1.0;
    if (staged)
      for (int t = 1; t <= StageCount(cell.Stages); ++t)
        At(cell.Stages, t) = JulDay(p, t);
  }
  if (D == p.DP4_t0_dorm - 1)
    cell.ChillingSum = 0.0;
  if (D >= p.DP4_t1_dorm - 1 && cell.StartDay < 0.0)
    cell.FStar = cell.ChillingSum > 0.0 ? p.DP4_Par_a + p.DP4_Par_b * std::log(cell.ChillingSum)
                                        : p.DP4_Par_a;
  LeafFall(p, day, cell);
}

void AdvanceOneDay(const LanduseParameters &p, bool startDayPreset, const Day &day,
                   CellState &cell) {
  switch (p.Method) {
  case landuse::DynamicPhenology1:
    DynamicPhenology1(p, day, cell);
    break;
  case landuse::DynamicPhenology2:
    startDayPreset ? DynamicPhenology1(p, day, cell) : DynamicPhenology2(p, day, cell);
    break;
  case landuse::DynamicPhenology3:
    DynamicPhenology3(p, day, cell);
    break;
  case landuse::DynamicPhenology4:
    startDayPreset ? DynamicPhenology1(p, day, cell) : DynamicPhenology4(p, day, cell);
    break;
  default:
    break;
  }
}

} // namespace tavro::phenology
