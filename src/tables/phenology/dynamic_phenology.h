// The four dynamic-phenology models of the land-use table: for one cell, one
// land-use layer and one day they advance the forcing and chilling sums, find
// the day on which the vegetation starts and, for the staged models, the days
// on which the cell reaches each fix point, and the day of leaf fall. Pure
// functions on plain values; the set-up object adapts its grids to them.
#pragma once

#include <span>

namespace tavro {

struct LanduseParameters;

namespace phenology {

// Daily forcing of the sigmoid models: 28.4 / (1 + exp(-0.185 (T - Tb - 18.4)))
// above the base temperature Tb, 0 at or below it.
double SigmoidForcing(double temperature, double baseTemperature);

// Dryness stress from the mean water content of the root zone: the share of
// the way from HReduDry to 150; 0 below HReduDry or without a value.
double DrynessStress(const double *rootZoneWater, double hReduDry);

// The forcing sum after adding an amount, raised by the dryness stress when
// the stress factor is above 0.
double AddForcing(double sum, double amount, double stress, double stressFactor);

// Chilling unit of a day: rises from 0 at the lower limit to 1 at the optimum
// and falls back to 0 at the upper limit.
double ChillingUnit(double temperature, double lower, double optimum, double upper);

// Stage 1..n the cell is in on a day: the first stage whose day is still to
// come or not yet reached; n after the last. stages[0..n], n >= 1.
int CurrentStage(std::span<const double> stages, int julianDay);

// One day of a cell.
struct Day {
  int JulianDay = 1;                     // 1..366
  double Temperature = 0.0;              // the day's mean, °C
  double MovingMean = 0.0;               // mean of the last up to seven daily means, °C
  const double *RootZoneWater = nullptr; // mean water content of the root zone; none: no stress
};

// The state of one cell and layer, as the grids hold it. Stages is empty for
// a record that keeps no stage days; otherwise elements 0..n of the cell's
// stack (0: the forcing threshold reached last, 1..n: the day each stage was
// reached, -1 while not).
struct CellState {
  double ForcingSum = 0.0;  // FU
  double StartDay = -1.0;   // day the vegetation started; negative: not yet
  double ChillingSum = 0.0; // CU
  double FStar = 0.0;       // the cell's forcing threshold
  double LeafFallDay = 0.0; // 0: no leaf fall yet
  double ColdDays = 0.0;    // cold days in a row before leaf fall
  std::span<double> Stages;
};

// Sigmoid forcing after the fixed end of dormancy DP1_t1_dorm against the
// record's F*; reset on JDReset_TStart.
void DynamicPhenology1(const LanduseParameters &p, const Day &day, CellState &cell);
// Sigmoid forcing against the cell's own F*, which follows the chilling sum
// of the dormancy period.
void DynamicPhenology2(const LanduseParameters &p, const Day &day, CellState &cell);
// Degree days above DP1_T_Bf move the cell through stages with forcing
// thresholds; restarts on 1 January.
void DynamicPhenology3(const LanduseParameters &p, const Day &day, CellState &cell);
// Linear forcing against an F* from the count of chilling days, and leaf fall
// after five cold days or on the leaf-fall fix point.
void DynamicPhenology4(const LanduseParameters &p, const Day &day, CellState &cell);

// The model of a record for one day: DynamicPhenology_1 for its own entries
// and while the start of a _2 or _4 entry is preset, otherwise the entry's
// own; nothing for other methods.
void AdvanceOneDay(const LanduseParameters &p, bool startDayPreset, const Day &day,
                   CellState &cell);

} // namespace phenology
} // namespace tavro
