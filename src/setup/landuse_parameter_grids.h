// The vegetation parameter grids of the land-use layers as the set-up object
// keeps them current: their values at the start date, the day's and the
// seven-day mean temperature, the dynamic phenology of every cell and layer,
// the daily evaluation of every parameter from the land-use table, and the
// count of steps inside the balance vegetation period.
//
// The grids belong to the set-up object; this unit only works on them, over
// the process's own cells with OpenMP over rows. It does no MPI: the set-up
// object exchanges halo rows and agrees on failures around these calls.
#pragma once

#include "kernel/grid.h"
#include "kernel/one_based_array.h"
#include "raster/parallel/cell_iteration.h"
#include "tables/landuse_class.h"

#include <vector>

namespace tavro {

class DiagnosticsLog;

// The grids of one land-use layer.
struct LayerParameterGrids {
  const Grid *Landuse = nullptr; // "landuse" k: record numbers, nodata without land use
  Grid *RootDepth = nullptr;     // m
  Grid *VegetationCover = nullptr;
  Grid *LeafAreaIndex = nullptr;
  Grid *CanopyResistance = nullptr;       // s/m
  Grid *InterceptionResistance = nullptr; // s/m
  Grid *RoughnessLength = nullptr;        // m
  Grid *VegetationStart = nullptr;        // Julian day the balance period began; -1 before
  Grid *VegetationStop = nullptr;         // Julian day it ended; -1 before
  Grid *VegetationDuration = nullptr;     // steps inside the period
  // Dynamic phenology only.
  Grid *ForcingSum = nullptr;
  Grid *PhenoStart = nullptr;
  Grid *ChillingSum = nullptr;
  Grid *FStar = nullptr;
  Stack *StartTimes = nullptr; // staged phenology only: the cell's stage days
};

// The single grids.
struct LanduseSingleGrids {
  Grid *Albedo = nullptr;
  Grid *SurfaceEvaporationResistance = nullptr; // s/m
  // Dynamic phenology only.
  Grid *DayTemperature = nullptr; // "TemperatureAVG": mean of the day's steps so far, °C
  Grid *LeafFall = nullptr;       // "StartDayOfLeaveFall": 0 while no leaf fall
  Grid *MovingMean = nullptr;     // "TemperatureMOVAVG7", °C
  Stack *DailyMeans = nullptr;    // levels 1..7 the last daily means, level 0 cold days in a row
};

struct CalendarDate {
  int Day = 1;
  int Month = 1;
  int Year = 2000;
};

class LanduseParameterGrids {
public:
  static constexpr int kDailyMeanLevels = 7;

  // layers: elements 1..L (element 0 unused). The table's records with a
  // dynamic phenology must hold these layers' phenology grids already.
  LanduseParameterGrids(DiagnosticsLog &log, const OneBasedArray<landuse_class> &table,
                        const CellIteration &cells, const Grid &elevation, double noData,
                        std::vector<LayerParameterGrids> layers, LanduseSingleGrids single);

  int LayerCount() const { return static_cast<int>(layers_.size()) - 1; }
  bool UsesPhenology() const { return single_.DayTemperature != nullptr; }
  const LayerParameterGrids &Layer(int k) const { return layers_[static_cast<std::size_t>(k)]; }
  const LanduseSingleGrids &Single() const { return single_; }
  // The grids whose halo rows carry the neighbours' values: the six
  // parameters of layer k and, for layer 1, the soil evaporation resistance
  // and the albedo.
  std::vector<Grid *> HaloGrids(int k) const;

  // --- Start of the run ---------------------------------------------------
  // Fills a new stage stack of layer k over its rows: the record's fix points
  // (shifted by altitude, the vegetation start and the offset after it left
  // as read), -1 for DynamicPhenology_3 stages that wait for their forcing
  // threshold after the start day, nodata beyond a record's fix points and
  // outside the own cells.
  void InitialiseStartTimes(int k, int startDayOfYear);
  // Values of layer k at the start date in every cell of its rows: nodata
  // outside the own cells and without land use; the phenology states that
  // are not known yet (negative) take the record's start values; the
  // parameters whose bit is set; the balance period; the bounds. A
  // dynamic-phenology record whose chilling sum is known in some cell gets
  // chillingKnown[record] = 1 (its preset start no longer applies).
  void InitialiseLayer(int k, const CalendarDate &start, std::vector<int> &chillingKnown);

  // --- Every step -----------------------------------------------------------
  // The step's temperature enters the day's mean as step number stepOfDay (1, 2, ...).
  void AddStepTemperature(const Grid &temperature, int stepOfDay);
  // Adds one step to the duration of every layer inside its balance period.
  void CountVegetationSteps();

  // --- The last step of a day, in this order ---------------------------------
  // The day's mean enters the seven-day mean over the last `days` days.
  void UpdateMovingMean(int days);
  // One day of the dynamic phenology (day of the year dayOfYear) in every own
  // cell and layer; rootZone: "MeanThetaInRootZone" or none.
  void AdvancePhenology(int dayOfYear, const Grid *rootZone);
  // Every parameter of every own cell and layer for the date, with the
  // balance period and the bounds. A record's failure throws its exit code.
  void EvaluateParameters(const CalendarDate &date);
  void ClearDayTemperature();
  // The four above.
  void CloseDay(int dayOfYear, const CalendarDate &date, int movingAverageDays,
                const Grid *rootZone);

private:
  // The record of a layer code; none for nodata and codes outside the table.
  const landuse_class *RecordOf(double code) const;
  // Julian day of the date for every record (its own February); index 0 unused.
  std::vector<int> RecordDaysOf(const CalendarDate &date) const;
  void SetNoData(int k, long row, long column, bool withAlbedo) const;
  // The parameters whose bit is set, then the bounds.
  void EvaluateCell(const landuse_class &record, int k, long row, long column, int julianDay,
                    const CalendarDate &date) const;
  void ApplyBounds(int k, long row, long column) const;
  void UpdateBalancePeriod(const landuse_class &record, int k, long row, long column,
                           int julianDay) const;
  void PrepareStartState(const landuse_class &record, int k, long row, long column,
                         std::vector<int> &chillingKnown, std::size_t recordIndex) const;

  DiagnosticsLog &log_;
  const OneBasedArray<landuse_class> &table_;
  CellIteration cells_;
  const Grid &elevation_;
  double noData_;
  std::vector<LayerParameterGrids> layers_;
  LanduseSingleGrids single_;
};

} // namespace tavro
