// The snow module (section "[snow_model]"). Every step it advances the snow
// pack of every cell of the process by one of fourteen melt methods (the
// kernels in snow/), keeps the albedo, age and days of the snow cover, lets
// snow slide down steep slopes (methods 6, 7, 8, 9, 12, 14: on rank 0 over
// the whole raster), carries tracers in the pack, feeds its statistics and
// writes its grids. It hands its solid snow storage and its method to
// evapotranspiration, takes the radiation correction grid and the subbasin
// runoff, and keeps the "[snow_model]" section of the state file (the glacier
// reservoir outflows per subbasin).
//
// With an "[ice_firn]" section the module also melts glacier ice and firn
// (static glaciers on "ice_firn", dynamic ones on "GlacierizedCells" with a
// yearly update on rank 0), routes the glacier melt of every subbasin through
// three linear reservoirs into the soil-water module's runoff; with
// "[permafrost]" it lowers the root depth to the thaw depth of frozen ground.
#pragma once

#include "kernel/grid.h"
#include "kernel/module_exchange.h"
#include "kernel/module_settings.h"
#include "kernel/one_based_array.h"
#include "kernel/registry_entries.h"
#include "kernel/teilmodellklasse.h"
#include "landsurface/glacier/dynamic_glaciers.h"
#include "landsurface/glacier/glacier_subbasins.h"
#include "landsurface/glacier_section.h"
#include "landsurface/snow/snow_pack.h"
#include "landsurface/snow_section.h"
#include "raster/output/module_statistic.h"
#include "raster/parallel/zone_reduction.h"

#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

class CellIteration;
class StateFileReader;

// The outflows of the three glacier reservoirs per subbasin 1..n, which the
// state section carries; absent without glaciers.
struct GlacierReservoirOutflows {
  OneBasedArray<double> Ice;  // Qice_slr
  OneBasedArray<double> Firn; // Qfirn_slr
  OneBasedArray<double> Snow; // Qsnow_slr
  bool Present() const { return !Ice.Empty() && !Firn.Empty() && !Snow.Empty(); }
  void Allocate(int subbasins) {
    for (auto *array : {&Ice, &Firn, &Snow})
      array->Resize(static_cast<std::size_t>(subbasins), 0.0);
  }
};

class schneemodellklasse : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "snow_model";
  static constexpr const char *StateSection = "[snow_model]";
  static constexpr int LakeFileExitCode = 28;
  static constexpr int LakeCloseExitCode = 11;

  schneemodellklasse(int &error, const ModuleSettings &settings);
  ~schneemodellklasse() override;

  // --- The module's own operations, in their slot order ---------------------
  // One part (share b of the step) of the pack of the cell at (row, col) with
  // the cell's grids: the split of its water input (or the split in the grids
  // when reuseSplit), accumulation and melt. Returns the potential melt of
  // the part; snowShare receives the share of snow.
  virtual double SnowPack(int row, int col, double &snowShare, double *solid, double *liquid,
                          double temperature, double fraction, double *total,
                          double *snowTemperature, double *surfaceTemperature, double *evaporation,
                          bool reuseSplit);
  virtual void FlushStatistics();
  virtual void SetRadiationCorrectionGrid(Grid *grid); // kept when active
  // The solid snow storage "snowstorage_solid" when active, else none.
  virtual Grid *GetSnowStorage();
  // When active: keeps the arrays and marks the module initialised (from then
  // on it writes its state section at the end of the run).
  virtual void SetQg(SubbasinRunoffArrays *qg);
  virtual double SeasonalMeltFactor(long day, long month) const;
  virtual double SeasonalIceRadiationFactor(long day, long month) const;
  virtual double SeasonalSnowRadiationFactor(long day, long month) const;
  virtual double SaturationVapourPressureIce(double temperature) const;
  // The lake switch of the section (the application names "[lake_model]").
  virtual void ReadLakeParameters(std::string_view sectionName);
  // Remembers the state file unless the name is empty or readMode is 2 or 4;
  // reads the section unless readMode is 0 or there are no glacier reservoirs.
  virtual void ReadStorage(const std::string &fileName, int readMode);
  // Writes the section to the remembered state file (output directory in
  // front), appended or creating it; nothing without a remembered name.
  virtual void WriteStorage(bool append);
  [[noreturn]] virtual void ThrowStorageMismatch(std::string_view description, double current,
                                                 std::optional<double> stored) const;
  // The next real of the state file must agree with current (relative 1e-5).
  virtual void CheckStorageValue(StateFileReader &file, double current,
                                 std::string_view description);
  virtual int GetMethod() const; // the melt method, 0 when off
  // When active and not chosen yet: the water input is "throughfall0" (else
  // "precipitation") when interception runs first, else "precipitation".
  virtual void SelectWaterInput(bool interceptionFirst);

  // --- Overrides of the sub-model base ---------------------------------------
  void InitTracerGrids(int &error, int tracerCount, OneBasedArray<TracerInfo> *info,
                       StatisticsRegistry *registry, int capacity) override;
  void FinishTracerGrids() override;
  void ComputeTimeStep(long hour, long day, long month, long year) override;
  // Writes the state section (when marked initialised), then releases.
  void ReleaseMemory() override;

  // --- What the wiring handed over and what the module holds ------------------
  const SnowSection &Section() const { return section_; }
  Grid *RadiationCorrection() const { return radiationCorrection_; }
  bool WaterInputFromInterception() const { return waterFromInterception_; }
  SubbasinRunoffArrays *Qg() const { return qg_; }
  const std::string &StorageFileName() const { return storageFileName_; }
  int LakeFlag() const { return lakeFlag_; }
  int SubbasinCount() const { return subbasinCount_; }
  GlacierReservoirOutflows &Reservoirs() { return reservoirs_; }
  // Rows of the grids kept on the module's rows: the strip, or the whole
  // raster on rank 0 for the slide methods.
  long ModuleFirstRow() const { return moduleFirstRow_; }
  long ModuleLastRow() const { return moduleLastRow_; }
  bool WholeRaster() const { return wholeRaster_; }
  // Glaciers: the method (0 without glacier grid), the section, the share of
  // the subbasins, the glacier list (rank 0, dynamic methods) and permafrost.
  int GlacierMethod() const { return glacierGrid_ != nullptr ? glacier_.Melt.Method : 0; }
  const IceFirnSection &GlacierSection() const { return glacier_; }
  const std::vector<glacier::GlacierSubbasinRecord> &GlacierSubbasins() const {
    return glacierSubbasins_;
  }
  const glacier::DynamicGlaciers *Glaciers() const { return glaciers_.get(); }
  bool HasPermafrost() const { return thawDepth_ != nullptr; }
  const PermafrostSection &Permafrost() const { return permafrost_; }
  const Stack &FirnStack() const { return firnStack_; }

private:
  // A grid the module owns and registers.
  struct OwnedGrid {
    Grid grid;
    int index = 0;
  };
  using OwnedGridMember = OwnedGrid schneemodellklasse::*;
  // A statistics table and the grid whose cells it receives.
  struct StatisticFeed {
    std::unique_ptr<ModuleStatistic> statistic;
    const Grid *values = nullptr;
    zonalstatistic &Table() { return **statistic; }
  };

  // Construction.
  void BeginConstruction();
  void ReadSection();
  void CreateStatistics();
  void FindInputs();
  void FindMeteorologicalInputs();
  void FindMethodInputs();
  void RegisterGrids();
  void RegisterStateGrids();
  void RegisterSlideGrids();
  void RegisterStripGrids();
  void CheckThresholds();
  // Glacier and permafrost set-up.
  void SetUpGlaciers();
  void ReadGlacierSection();
  void CheckGlacierGrids() const;
  void ShareGlacierSubbasins();
  void CreateGlacierStatistics();
  void RegisterGlacierGrids();
  void RegisterDynamicGlacierGrids();
  void InitialFirn();
  void BuildGlacierList();
  glacier::GlacierRaster GlacierRasterView();
  void SetUpPermafrost();
  void KeepStaticGlacierPack();
  int SubbasinOf(double value) const;
  void Register(OwnedGrid &owned, const std::string &fileName, const char *identifier,
                int writecode);
  // A grid of rows first..last: 0 inside the zone, nodata outside.
  Grid ZoneFilledGrid(long first, long last, double inside) const;
  // The grid of a registered identifier: absent is fatal (33), or nothing.
  Grid *Required(std::string_view identifier) const;
  Grid *Optional(std::string_view identifier) const;

  // The step.
  CellIteration Cells() const;
  void ResetStatistics();
  void ComputeCells();
  void ComputeCell(long row, long column, std::span<snow::StepPart> parts);
  snow::CellForcing ForcingAt(long row, long column) const;
  // The land-use albedo of the cell's layer-1 land use at the step's date;
  // otherwise without a land use.
  double LanduseAlbedo(long row, long column, double otherwise) const;
  void TracersBeforePack(long row, long column, double water, double input);
  void TracersAfterPack(long row, long column, double outflow, double liquid, double solid);
  // The pack of a cell without glacier; water: its solid + liquid after the
  // step, input: the water input (raised by the deposition index).
  void ComputeOwnPack(long row, long column, std::span<snow::StepPart> parts, double &water,
                      double &input);
  void ComputeGlacierCell(long row, long column, std::span<snow::StepPart> parts, double &water,
                          double &input);
  // Method 13: both packs by the snow model's melt, part by part; returns
  // the melt the glacier pack moved.
  double GlacierPacksBySnowModel(long row, long column, std::span<snow::StepPart> parts,
                                 snow::CellForcing &forcing, glacier::Pack &own,
                                 glacier::Pack &onGlacier);
  glacier::MeltForcing GlacierMeltForcing(long row, long column) const;
  void PermafrostTail(long row, long column, double water);
  void AddGlacierMassBalance();
  // Collective: ends the run when the pack's water of the step is no usable
  // number, naming the first cell that is not.
  void StopIfNotFinite() const;
  void AddGlacierStatistics();
  void GlacierReservoirs();
  void YearlyGlacierUpdate();
  void WriteGlacierOutput();
  std::vector<ModuleStatistic *> GlacierTables(); // those that exist
  void CopyUnitMembers();
  void Slides();
  void AddStatistics();
  void EndStatistics();
  void WriteOutput();

  // The state section.
  void ReadStateSection(StateFileReader &file);
  void ShareRankZeroReservoirs();

  SnowSection section_;
  bool configured_ = false; // active and fully set up
  long moduleFirstRow_ = 0;
  long moduleLastRow_ = -1;
  bool wholeRaster_ = false;

  // Inputs (not owned).
  const Grid *elevation_ = nullptr;
  Grid *albedo_ = nullptr;
  Grid *snowEvaporation_ = nullptr;
  std::vector<const Grid *> landuseLayers_; // layers 1..n at 1..n
  const Grid *vapourPressure_ = nullptr;
  const Grid *wind_ = nullptr;
  const Grid *temperature_ = nullptr;
  const Grid *temperatureNight_ = nullptr;
  std::array<const Grid *, 4> slideShares_{};
  const Grid *slope_ = nullptr;
  const Grid *depositionIndex_ = nullptr;
  const Grid *cloudiness_ = nullptr;
  const Grid *humidity_ = nullptr;
  const Grid *globalRadiation_ = nullptr;
  const Grid *surfaceTemperature_ = nullptr;
  const Grid *unitGrid_ = nullptr;
  const Grid *masterGrid_ = nullptr;
  Grid *waterInput_ = nullptr; // raised by the deposition index
  Grid *radiationCorrection_ = nullptr;
  bool waterFromInterception_ = false;
  int lakeFlag_ = 0;
  const Grid *lakeCodes_ = nullptr;
  const Grid *ponding_ = nullptr;
  std::vector<const Grid *> tracerInputs_; // tracers 1..n at 1..n

  // Subbasins of "zonegrid_soilmodel".
  const Grid *subbasinGrid_ = nullptr;
  OneBasedArray<ZoneRecord> subbasinTable_;
  OneBasedArray<int> subbasinIndex_;
  int subbasinCount_ = 0;
  int maxSubbasinCode_ = 0;

  // Grids of the module.
  OwnedGrid solid_;      // "snowstorage_solid"
  OwnedGrid liquid_;     // "snowstorage_liquid"
  OwnedGrid total_;      // "snow_storage_total"
  OwnedGrid daysSnow_;   // "days_snow"
  OwnedGrid snowAge_;    // "snow_age"
  OwnedGrid snowTemp_;   // "snowtemp", K
  OwnedGrid surfTemp_;   // "surftemp", K
  OwnedGrid capacity_;   // "max_deposition" (rank 0)
  OwnedGrid orderRow_;   // "elev_order_row" (rank 0)
  OwnedGrid orderCol_;   // "elev_order_col" (rank 0)
  OwnedGrid inputMass_;  // "input_mass"
  OwnedGrid mobileMass_; // "mobile_mass"
  OwnedGrid deposition_; // "deposition"
  OwnedGrid snowFraction_;
  OwnedGrid rainFraction_;
  OwnedGrid outflow_;                   // "snowcover_outflow"
  OwnedGrid meltOutflow_;               // "melt_from_snowcover"
  const Grid *maxDeposition_ = nullptr; // the own "max_deposition" or a registered one

  std::vector<StatisticFeed> statistics_;
  std::vector<StatisticsCell> statisticsCells_; // the process's valid cells with their zones
  static constexpr std::size_t kAlbedoFeed = 7; // "albedo____", fed from the shared albedo
  snow::StepConstants step_;
  double snowRadiationFactor_ = 0.0;
  double iceRadiationFactor_ = 0.0;
  // Bounds of the seasonal radiation coefficients of snow and ice on
  // glaciers; 0 without a glacier section.
  double asnowMin_ = 0.0;
  double asnowMax_ = 0.0;
  double aiceMin_ = 0.0;
  double aiceMax_ = 0.0;

  SubbasinRunoffArrays *qg_ = nullptr;
  std::string storageFileName_;
  GlacierReservoirOutflows reservoirs_;

  // Glaciers and permafrost.
  IceFirnSection glacier_;
  PermafrostSection permafrost_;
  Grid *glacierGrid_ = nullptr; // "ice_firn" or "GlacierizedCells"
  Grid *glacierCodes_ = nullptr;
  int glacierCodesIndex_ = 0;
  int glacierGridIndex_ = 0;
  const Grid *debris_ = nullptr;
  const Grid *glacierRadiation_ = nullptr;
  std::vector<glacier::GlacierSubbasinRecord> glacierSubbasins_; // 0..n
  OwnedGrid firnMelt_;                                           // "melt_from_firn"
  OwnedGrid iceMelt_;                                            // "melt_from_ice"
  OwnedGrid firnTotal_;                                          // data grid of "firn_WE_stack"
  Stack firnStack_;                                              // levels 0..firn_levels
  OwnedGrid massBalance_;                                        // "GlacierMassBalance"
  OwnedGrid oldMassBalance_;                                     // "OldGlacierMassBalance"
  OwnedGrid solidOnGlacier_;                                     // the glacier pack
  OwnedGrid liquidOnGlacier_;
  OwnedGrid totalOnGlacier_;
  OwnedGrid surfTempOnGlacier_;    // K
  OwnedGrid snowTempOnGlacier_;    // K
  OwnedGrid fractionOld_;          // "GlacierizedCellsOld"
  OwnedGrid codesOld_;             // "GlacierCodesOld"
  OwnedGrid meltOnGlacier_;        // "SnowMelt_onGlacier"
  OwnedGrid evaporationOnGlacier_; // "SnowEvaporation_onGlacier"
  OwnedGrid snowFreeDaysOwned_;
  OwnedGrid snowCoverDaysOwned_;
  Grid *snowFreeDays_ = nullptr;  // "SnowFreeDaysGrid"
  Grid *snowCoverDays_ = nullptr; // "SnowCoverDaysGrid"
  const Grid *thawCoefficient_ = nullptr;
  Grid *thawDepth_ = nullptr;  // "PermafrostThawDepth", m
  Grid *rootDepth1_ = nullptr; // lowered to the thaw depth
  std::unique_ptr<glacier::DynamicGlaciers> glaciers_;
  // Glacier statistics (absent tables stay null).
  std::unique_ptr<ModuleStatistic> firnMeltTable_, iceMeltTable_, snowMeltTable_, totalMeltTable_,
      snowWithoutGlaciersTable_, firnTable_, massBalanceTable_, massBalanceGlacierTable_,
      thawDepthTable_;
  std::vector<StatisticsCell> glacierCells_; // with their subbasin zones
  // The melt of ice, firn and snow on ice per subbasin 0..n in this step,
  // weighted as the statistics weigh it, summed exactly: the reservoirs'
  // inflow, whether or not the statistics are written.
  std::array<std::vector<ExactZoneSums>, 3> glacierMelt_;

  // Last: released first, before the grids the entries point at.
  RegistryEntries entries_;
};

} // namespace tavro
