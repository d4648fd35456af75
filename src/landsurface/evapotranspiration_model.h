// The evapotranspiration module (section "[evapotranspiration]"): every step
// the potential transpiration and interception evaporation of each vegetation
// layer and the potential evaporation of the soil surface by one of four
// methods (1 Penman-Monteith per layer with day and night parts, 2 Hamon,
// 3 Wendling, 4 Haude), with the shortwave radiation balance of the cell; the
// evaporation of snow at the potential rates before snow melt; and, after the
// soil-water sub-steps, the real evapotranspiration summed from what the
// interception, snow and soil-water modules booked.
//
// Grids it registers (layer k = 0 the cell's total, 1..n the layers of the
// multilayer land use): "pot_transpiration" + k, "real_transpiration" + k
// (the whole raster on rank 0), "potential_InterceptionEvap" + k,
// "potential_evaporation", "real_evaporation", "snow_evaporation",
// "AspectCorrectedGlobalRadiation", "cloudiness" and "SSDTemp"; amounts in mm
// per step, radiation in Wh/m2 per step. It also changes grids of others
// within the step: the measured radiation is corrected for exposure, the day
// and night temperatures of steps longer than 720 minutes are shifted by the
// day-night amplitude, the snow storages lose what evaporated.
#pragma once

#include "kernel/grid.h"
#include "kernel/model_date.h"
#include "kernel/module_settings.h"
#include "kernel/registry_entries.h"
#include "kernel/teilmodellklasse.h"
#include "landsurface/evapotranspiration_section.h"
#include "landsurface/radiation/radiation_balance.h"
#include "landsurface/snow_evaporation/snow_evaporation.h"
#include "raster/output/module_statistic.h"
#include "raster/parallel/cell_iteration.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

class verdunstungsmodellklasse : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "evapotranspiration";
  static constexpr int MissingInputExitCode = 46;
  static constexpr int LakeGridExitCode = 28;
  static constexpr int LakeInitializationExitCode = 211;
  static constexpr int LakeCloseExitCode = 11;

  // Bits of the input availability mask.
  enum InputBit : int {
    AirPressureBit = 1,
    LanduseBit = 2,
    RadiationBit = 4,
    SunshineBit = 8,
    WindBit = 16,
    HumidityBit = 32,
    VapourPressureBit = 64,
    TemperatureBit = 128,
  };

  // error: 0, or the exit code (also thrown) of a failed construction.
  verdunstungsmodellklasse(int &error, const ModuleSettings &settings);
  ~verdunstungsmodellklasse() override;

  // Kept when the module is active (none: no correction / no snow).
  virtual void SetRadiationCorrectionGrid(Grid *grid);
  virtual void SetSnowStorage(Grid *grid);
  virtual void SetSnowMethod(int method);
  // Reads "[lake_model]" (the section named) whether or not the module is
  // active; without a grid "lake_codes" it logs that lakes are off and reads
  // nothing.
  virtual void ReadLakeParameters(std::string_view sectionName);
  void SetSubstepCount(int count) override;

  // The step operations; each does nothing while the module is off.
  virtual void PotentialEvapotranspiration(long hour, long day, long month, long year);
  virtual void SnowEvaporationOnGlacier(long hour, long day, long month, long year);
  virtual void RealEvapotranspiration(long hour, long day, long month, long year);
  // The per-sub-step hook; does nothing.
  virtual void ComputeSubstep(long hour, long day, long month, long year);
  virtual void FinishTimeStep(long hour, long day, long month, long year);
  virtual void FlushStatistics();
  void ReleaseMemory() override;

  // --- What the module holds (for the wiring and for tests) -----------------
  Grid *RadiationCorrection() const { return radiationCorrection_; }
  Grid *SnowStorage() const { return snowStorage_; }
  int SnowMethod() const { return snowMethod_; }
  int Method() const { return section_.method; }
  int LayerCount() const { return layerCount_; }
  int InputAvailabilityMask() const { return inputMask_; }
  bool NetRadiationInput() const { return netRadiation_; }
  const EvapotranspirationSection &Section() const { return section_; }
  const LakeModelSettings &Lake() const { return lake_; }
  bool ModelsOpenWater() const { return lakeCodes_ != nullptr && ponding_ != nullptr; }
  const Grid *DayTemperature() const { return dayTemperature_; }
  const Grid *NightTemperature() const { return nightTemperature_; }

  // Registry entries of the registered grids (per layer 0..n).
  struct RegistryIndexes {
    std::vector<int> potentialTranspiration;
    std::vector<int> realTranspiration;
    std::vector<int> potentialInterception;
    int potentialEvaporation = 0;
    int realEvaporation = 0;
    int snowEvaporation = 0;
    int correctedRadiation = 0;
    int cloudiness = 0;
    int sunshineMemory = 0;
  };
  const RegistryIndexes &Indexes() const { return indexes_; }

  // The snow that evaporated in the last SnowEvaporationOnGlacier, summed
  // over the computed cells of this process (outside the glaciers, then on
  // them).
  const snow_evaporation::SnowEvaporationBalance &SnowBalance() const { return snowBalance_; }
  const snow_evaporation::SnowEvaporationBalance &GlacierSnowBalance() const {
    return glacierSnowBalance_;
  }

  // Wall-clock seconds of the last PotentialEvapotranspiration: the parallel
  // loop over the cells, and the serial rest (the copies of the spin-up
  // units, the statistics and the output).
  struct StepTimes {
    double cells = 0.0;
    double tail = 0.0;
  };
  const StepTimes &LastPotentialStepTimes() const { return stepTimes_; }

private:
  // What the step frame works out before the cells.
  struct StepValues {
    bool night = false;
    bool clearSky = false; // the clear-sky radiation is needed
    double transmissivity = 0.0;
    double radiationCap = 0.0;
    double amplitudeOfDate = 0.0; // K
    double annualTerm = 0.0;
    double hamonFactor = 0.0; // PEC of the date
    double haudeFactor = 0.0; // fh of the month
  };

  // --- Construction ---------------------------------------------------------
  void FindInputGrids();
  void FindLayerGrids();
  void CheckRequiredInputs();
  void RegisterGrids();
  void RegisterGrid(Grid &grid, const std::string &identifier, const std::string &fileName,
                    int writecode, const char *fullMessage, int &index);
  void CreateLayerStatistics(int k);
  void CreateCellStatistics();
  Grid &NewGrid(bool wholeRasterOnRoot);
  CellIterationSetup Cells(bool withUnits) const;
  const Grid *Lookup(std::string_view identifier) const; // fatal 33 when missing
  const Grid *Optional(std::string_view identifier) const;
  Grid *LookupMutable(std::string_view identifier);
  Grid *OptionalMutable(std::string_view identifier);
  void LogStepLine(const char *label, long hour, long day, long month, long year) const;

  // --- Potential evapotranspiration ------------------------------------------
  StepValues BeginPotentialStep();
  void UpdateSunshineMemory();
  radiation::CellRadiation RadiationOfCell(long row, long column, const StepValues &step);
  void PenmanMonteithCell(long row, long column, const radiation::CellRadiation &radiation,
                          const StepValues &step);
  void SingleLayerCell(long row, long column, const radiation::CellRadiation &radiation,
                       const StepValues &step);
  void SetNoDataPotentials(long row, long column);
  void AddPotentialStatistics();
  void EndPotentialStep(long hour, long day, long month, long year);
  bool IsOpenWater(long row, long column) const;

  // --- Snow -----------------------------------------------------------------
  void FindGlacierGrids();
  void EvaporateSnowOfCell(long row, long column);
  // The cell's glacier fraction within 0 and 1; 0 without glacier grid.
  double GlacierFraction(long row, long column) const;

  void ReleaseStatistics();

  EvapotranspirationSection section_;
  LakeModelSettings lake_;
  int layerCount_ = 1;
  int inputMask_ = 0;
  bool netRadiation_ = false;
  int snowMethod_ = 0;
  bool glacierGridsPending_ = true;
  bool interceptionFound_ = false;
  double dayOfYear_ = 0.0;

  // Grids of others (not owned).
  Grid *radiationCorrection_ = nullptr; // of the exposure correction
  Grid *snowStorage_ = nullptr;         // solid snow storage of the snow module
  Grid *glacierSnowEvaporation_ = nullptr;
  Grid *glacierSnowStorage_ = nullptr;
  const Grid *zone_ = nullptr;
  const Grid *elevation_ = nullptr;
  Grid *dayTemperature_ = nullptr;   // shifted for steps above 720 minutes
  Grid *nightTemperature_ = nullptr; // the day grid unless "temperature_night" is used
  const Grid *humidity_ = nullptr;
  const Grid *vapourPressure_ = nullptr;
  const Grid *airPressure_ = nullptr;
  Grid *radiation_ = nullptr; // measured radiation, corrected in place
  const Grid *sunshine_ = nullptr;
  const Grid *wind_ = nullptr;
  const Grid *albedo_ = nullptr;
  const Grid *soilResistance_ = nullptr; // "SurfaceEvaporationResistance"
  const Grid *glacierFraction_ = nullptr;
  const Grid *lakeCodes_ = nullptr;
  const Grid *ponding_ = nullptr;
  const Grid *interceptionEvaporation_ = nullptr; // "interception_evaporation0"
  const Grid *unitGrid_ = nullptr;
  const Grid *masterGrid_ = nullptr;
  // Per layer 0..n ("landuse" for 0 with several layers).
  std::vector<const Grid *> landuse_;
  std::vector<const Grid *> leafAreaIndex_;
  std::vector<const Grid *> vegetationCover_;
  std::vector<const Grid *> canopyResistance_;
  std::vector<const Grid *> interceptionResistance_;
  std::vector<const Grid *> roughnessLength_;

  // Own grids; never moved once registered.
  std::vector<std::unique_ptr<Grid>> ownGrids_;
  std::vector<Grid *> potentialTranspiration_;
  std::vector<Grid *> realTranspiration_;
  std::vector<Grid *> potentialInterception_;
  Grid *potentialEvaporation_ = nullptr;
  Grid *realEvaporation_ = nullptr;
  Grid *snowEvaporation_ = nullptr;
  Grid *correctedRadiation_ = nullptr; // "AspectCorrectedGlobalRadiation"
  Grid *cloudiness_ = nullptr;
  Grid *sunshineMemory_ = nullptr; // "SSDTemp"
  RegistryIndexes indexes_;
  RegistryEntries entries_;
  std::vector<StatisticsCell> statisticsCells_; // the valid cells of the process

  // Statistics per layer 0..n, then of the cell grids.
  std::vector<std::unique_ptr<ModuleStatistic>> potentialTranspirationStatistics_;
  std::vector<std::unique_ptr<ModuleStatistic>> realTranspirationStatistics_;
  std::vector<std::unique_ptr<ModuleStatistic>> potentialInterceptionStatistics_;
  std::unique_ptr<ModuleStatistic> potentialEvaporationStatistics_;
  std::unique_ptr<ModuleStatistic> realEvaporationStatistics_;
  std::unique_ptr<ModuleStatistic> snowEvaporationStatistics_;
  std::unique_ptr<ModuleStatistic> correctedRadiationStatistics_;
  std::unique_ptr<ModuleStatistic> cloudinessStatistics_;

  radiation::SunshineMemory sunshineState_{1440.0};
  radiation::ClearSkyGeometry clearSky_;
  snow_evaporation::SnowEvaporationBalance snowBalance_;
  snow_evaporation::SnowEvaporationBalance glacierSnowBalance_;
  StepTimes stepTimes_;
  bool released_ = false;
};

} // namespace tavro
