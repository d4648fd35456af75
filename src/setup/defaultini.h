// The set-up object of one model run. The application calls its staged set-up
// (InitStep) once per step until it reports done: preprocessing of the control
// file, the general sections, the zone grid, elevation model and standard
// grids, the model time, the parameter tables, the division of the raster
// among the MPI processes, the zone ranking, the variable grids and the
// derived grids (cell sizes, coordinates, slope and aspect, region weights).
// It then hands the settings over (GetSettings) and lives on through the run: it
// re-reads periodic grids, writes its grids and drives the standard-grid
// statistics in every step, and owns every table and grid it handed over
// until ReleaseMemory.
//
// Members are defined in defaultini.cpp (construction, steps, hand-over,
// release), standard_grids.cpp (zone grid, standard grids, periodic
// re-reading, writing), variable_grids.cpp (variable grids, statistics),
// zone_ranking.cpp (zone and region ranking), code_check_steps.cpp (checks and
// renumbering of the land-use, irrigation and soil code grids),
// landuse_layers.cpp (the land-use layer grids of a multilayer land use),
// landuse_parameters.cpp (the vegetation parameter grids, their update in
// every step and the dynamic phenology), derived_grids.cpp (what the derived
// grids share, the global maximum, the glacier grid), cell_size_grids.cpp,
// coordinate_grids.cpp, terrain_grids.cpp (slope and aspect),
// region_weight_grids.cpp, spin_up.cpp (the spin-up settings and hydrologic
// response units) and external_coupling.cpp (the exchange with an external
// model).
#pragma once

#include "kernel/grid.h"
#include "kernel/hydrologic_response_unit.h"
#include "kernel/modelobject.h"
#include "kernel/one_based_array.h"
#include "kernel/zone_record.h"
#include "raster/files/grid_file_context.h"
#include "raster/parallel/mpi_decomposition.h"
#include "setup/cell_size_grids.h"
#include "setup/code_check.h"
#include "setup/external_coupling.h"
#include "setup/general_sections.h"
#include "setup/landuse_parameter_grids.h"
#include "setup/slope_aspect.h"
#include "setup/standard_grids.h"
#include "setup/zone_ranking.h"
#include "tables/irrigation_table.h"
#include "tables/landuse_class.h"
#include "tables/landuse_table_reader.h"
#include "tables/multilayer_landuse.h"
#include "tables/soil_table_reader.h"

#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

class DiagnosticsLog;
class GridRegistry;
class StatisticsRegistry;
class zonalstatistic;
struct HruClassGrid;

// Everything the set-up hands to the application. Pointers refer to data the
// set-up object keeps owning until its ReleaseMemory; nothing here is freed by
// the application or a module. A table that was not read is null.
struct SetupHandOver {
  std::string ControlFileName; // the substituted copy
  // "[output_interval]"
  int HourDivisor = 0;
  int InterpolationWarnings = 0;
  int FurtherSwitch = 0;
  double MinToIntEnd = 0.0;
  // Coordinates, meteorological variables and the output list.
  int MeteoVariableCount = 0;
  double Latitude = 0.0;
  double Longitude = 0.0;
  double ReferenceMeridian = 0.0;
  double TimeShift = 0.0;
  const OneBasedArray<std::string> *MeteoNames = nullptr;
  int OutputListCount = 0;
  const OneBasedArray<int> *OutputList = nullptr;
  // Number of grids the set-up object registered after the elevation model.
  int SetupGridCount = 0;
  // Zone and region tables and the column ranges of the strip.
  OneBasedArray<ZoneRecord> *ZoneTable = nullptr;
  OneBasedArray<int> *ZoneIndex = nullptr;
  int ZoneCount = 0;
  int MaxZoneCode = 0;
  const RegionRanking *Regions = nullptr; // empty until the region weights are built
  const OneBasedArray<RowColumnRange> *RowRanges = nullptr;
  // Raster and strip.
  int NCols = 0;
  int NRows = 0;
  int FirstRow = 0;
  int LastRow = 0;
  double XllCorner = 0.0;
  double YllCorner = 0.0;
  double CellSize = 0.0;
  double NoData = 0.0;
  // Model time.
  ModelDate Start;
  ModelDate End;
  // Parameter tables.
  const OneBasedArray<landuse_class> *LanduseTable = nullptr;
  const OneBasedArray<soil_class> *SoilTable = nullptr;
  const IrrigationTable *Irrigation = nullptr; // null without the "[irrigation]" switch
  const OneBasedArray<multilayer_landuse_class> *MultilayerTable = nullptr;
  // Output switches and directories.
  bool WriteAsciiGrids = false;
  bool WriteDoubleGrids = false;
  std::string InitialStateDirectory;
  std::string DefaultOutputDirectory;
  // The decomposition: cell counts, halo lists, and the whole record that the
  // strip exchanges work from.
  const MpiCellCounts *CellCounts = nullptr;
  const HaloList *HaloSend = nullptr;
  const HaloList *HaloReceive = nullptr;
  const MpiDecomposition *Decomposition = nullptr;
  int SubstepCount = 1;
  int RadiationCorrection = 0;
};

class defaultini : public modelobject {
public:
  static constexpr int kLastStep = 23;
  static constexpr int kSoilModelVariant = 2;
  static constexpr std::size_t kPathBufferLength = 1201;

  // Stores a thrown exit code in error (any other exception: 103) instead of
  // throwing; the application throws it when it is not 0.
  defaultini(int &error, DiagnosticsLog &log, const std::string &controlFileName,
             StatisticsRegistry *statistics, int statisticsCapacity, int soilModelVariant,
             GridRegistry *registry);
  ~defaultini() override;

  // Performs the next set-up step; done is set by the call that performs the
  // last step (the 24th call); later calls do nothing.
  void InitStep(bool &done);
  // Number of steps performed so far (0..24).
  int StepCounter() const { return step_; }

  // Hand-over after the set-up (and after CreateStandardGridStatistics). The
  // path buffer holding the copy's name is freed afterwards.
  SetupHandOver GetSettings();

  // Frees statistics, tables, grids and registry entries of the set-up.
  void ReleaseMemory() override;

  // --- Per-step operations of the time loop -----------------------------
  void ReadPeriodicGrids(long hour, long day, long month, long year);
  void WriteStandardGrids(long hour, long day, long month, long year);
  void WriteVariableGrids(long hour, long day, long month, long year);
  void CreateStandardGridStatistics();
  void ResetStandardGridStatistics();
  void AddStandardGridStatistics();
  void EndStepStandardGridStatistics(long hour, long day, long month, long year);
  void FlushStatistics();

  // --- Operations of single steps ------------------------------------------
  // Step 1: the three grid sections from the open control file into the registry.
  void ReadStandardGrids();
  // Step 6, rank 0: the zone grid's header (ncols, nrows, xll, yll, cellsize, nodata).
  RasterGeometry ReadGridHeader();
  // Step 7: ranks the zone grid (entry 1); collective.
  void RankZones(GridRegistry &registry, const Grid *weights, int ncols, int nrows, double noData);
  // Ranks the region grid at registry index regionGridIndex over the valid
  // zone cells; collective.
  void RankRegions(int regionGridIndex);
  // Step 8: reads "[variable_grids]"; returns their number.
  int ReadVariableGrids();
  // Steps 13, 15 and 16: each does nothing for registry index 0; otherwise
  // rank 0 checks the code grid at that index against its table and renumbers
  // it to record numbers, and every process takes its strip of the result.
  // With a multilayer table the land-use grid refers to that table, and its
  // layer codes are checked and renumbered against the land-use table and
  // broadcast. Collective.
  void CheckLanduseCodes(int registryIndex);
  void check_irrig_Codes(int registryIndex);
  void check_SOIL_Codes(int registryIndex);
  // Step 13 with a multilayer table: the grids "landuse1".."landuseL" (L the
  // layer count of the table's first type) over the held rows, holding the
  // layer codes of the cells' multilayer types. Collective (halo exchange).
  void MakeLanduseLayerGrids();
  // Step 14: the vegetation parameter grids of the land-use layers 1..layerCount
  // (adopted when registered, created otherwise) with their values at the start
  // date, and with a dynamic phenology its state grids and daily temperature
  // grids. Does nothing without land-use layer grids. Collective.
  void generateMultiLayerParameterGrids(int layerCount);
  // Every time step, after the periodic grids: the step's temperature enters
  // the day's mean; the last step of a day (hour plus the hours to the
  // interval end is 24) logs its progress line, advances the seven-day mean
  // and the phenology, evaluates every parameter and raises the table's
  // vegetation-period flags; then the steps of the balance periods are
  // counted. The day's mean counts steps, so the step length (minutes) does
  // not change it. Collective.
  void UpdateLanduseParameters(long hour, long day, long month, long year, int timeStep);
  // One day (day of the year, February 28 days) of the dynamic phenology in
  // every own cell and land-use layer.
  void UpdateDynamicPhenology(int dayOfYear);
  // Step 10: "CellSizeX", "CellSizeY" and "RelCellArea", each read when the
  // control file declares it and created otherwise; a created relative area
  // becomes the cell weights. Created grids are written once.
  void MakeCellSizeGrids();
  // Step 11: "CoordX" and "CoordY", the lower-left corners of the cells,
  // written once.
  void MakeCoordinateGrids();
  // Largest value of a registered grid over the own valid cells of every
  // process (the nodata value when there is none); collective.
  double GetGlobalMaximum(int registryIndex);
  double GetMaxElevation() const { return maxElevation_; }
  // Step 18: "slope_angle" and "slope_aspect" from the elevation model, each
  // unless the control file declares it; created grids are written once.
  void make_Slope_and_Aspect();
  // Gives a cell of a whole-raster grid the mean of its valid neighbours
  // (unchanged when it has none).
  void FillNodataFromNeighbours(long row, long column, Grid &grid, NeighbourMean mean);
  // One raster-order pass of that filling over the cells with an elevation
  // whose slope or aspect is missing; returns how many values it filled.
  long FillTerrainGaps(const Grid &elevation, Grid *slope, Grid *aspect);
  // Step 20: ranks the region grid "regression_regions" (one region
  // everywhere when none is declared) and builds the weight grids of up to
  // three regions per cell within "[region_transition_distance]"; the weight
  // and the second and third region grids are written once.
  void MakeRegionWeightGrids();
  // Rank 0: fills the weight and region grids of step 20 over the whole
  // raster; returns at once on every other process.
  void GenerateRegionWeightGrids();
  // Step 19: keeps the grid "ice_firn" when registered, else logs an INFO entry.
  void check_ice_firn_grid();
  const Grid *IceFirnGrid() const { return iceFirn_; }

  // --- Spin-up -------------------------------------------------------------
  // Reads "[SpinUp]" (absent: all three values 0; a switch of 0: nothing
  // more is read). In spin-up mode it builds the hydrologic response units:
  // from classified grids (rows of identifier, class width and spacing
  // word) or from the standard grid "HydrologicResponseUnits" (numGrids 0),
  // numbered on rank 0 over the whole raster, with each process's own
  // masters; registers "HydrologicResponseUnits" and
  // "MasterHydrologicResponseUnits" and writes both per process ("_%03d")
  // and gathered. units points to the list (element 0 and the units), which
  // this object owns. Collective. Exit codes: 28 and 11 (control file), 17
  // (a value or row unreadable, a class width of 0 or less), 33 (a grid not
  // registered), 12 (registry full), 1030 (no unit grid), 1031 (a class
  // above 9999).
  void InitSpinUp(int &spinUpSwitch, int &doTemperaturePreSpinUp, int &repeatCnt,
                  const std::vector<HydrologicResponseUnit> *&units);
  const std::vector<HydrologicResponseUnit> &HydrologicResponseUnits() const {
    return hydrologicResponseUnits_;
  }

  // --- External coupling (one process only) ----------------------------------
  // Set-up step 22: reads "[ExternalCoupling]" (absent or mode 0: off)
  // from the reopened control file, which stays open. Exit codes: 14
  // (control file), 17 (a value unreadable), 10 (a malformed letter or list
  // row), 1009 (a mode other than 0 with more than one process).
  void GetCouplingParameters();
  // At the end of the application's set-up: binds the read and write rows
  // to their internal grids (1003, 1004) and each statistics row to a copy
  // of the first registry entry whose title names its entity (1005); the
  // registry itself is not changed.
  void LinkExternalGrids(StatisticsRegistry *statistics, int capacity);
  bool IsCouplingActive() const { return coupling_.Mode == 1; }
  const std::string &GetSemaphoreFile() const { return coupling_.SemaphoreFile; }
  const std::string &GetOwnSemaphoreFile() const { return coupling_.OwnSemaphoreFile; }
  const std::string &GetOwnSemaphoreContent() const { return coupling_.OwnSemaphoreContent; }
  long GetWaitInterval() const { return coupling_.WaitInterval; }
  char GetCouplingMode() const { return coupling_.IntervalLetter; }
  int GetExternalTimeStep() const { return coupling_.ExternalTimeStep; }
  bool HasExternalGWTable() const;
  // Reads every partner grid into its internal grid, renames (code 1) or
  // deletes (code 0) its file, then deletes the semaphore file; returns 0.
  // Exit codes: the reader's own, 1001, 1002.
  int ReadExternalGrids(long year, long month, long day, long hour);
  // A step without output exchange: "Sum" and "Mean" grids and accumulating
  // statistics take the step's values.
  void AccumulateExternalOutput();
  // A step with output exchange: the grids and statistics files for the
  // partner (statistics files: 26 creating, 18 writing, 27 closing).
  void WriteExternalOutput(long day, long month, long year, int dayEnded, int monthEnded,
                           int yearEnded);
  const ExternalCouplingSettings &Coupling() const { return coupling_; }

  // --- State for the application and tests --------------------------------
  const GeneralSettings &Settings() const { return settings_; }
  const GridSections &Sections() const { return sections_; }
  const MpiDecomposition &Decomposition() const { return decomposition_; }
  const ZoneRanking &Zones() const { return zones_; }
  const RegionRanking &Regions() const { return regions_; }
  const OneBasedArray<RowColumnRange> &ColumnRanges() const { return rowRanges_; }
  // Registry indexes of the set-up object's grids: the elevation model, then
  // the standard, variable and derived grids in registration order.
  const std::vector<int> &SetupGrids() const { return setupGrids_; }
  // The set-up grid count of the hand-over (grids after the elevation model).
  int SetupGridCount() const;
  int VariableGridCount() const { return variableGridCount_; }
  int FirstVariableGridIndex() const { return firstVariableGrid_; }
  double MaxElevation() const { return maxElevation_; }
  int LanduseLayerCount() const { return landuseLayerCount_; }
  // Registry indexes of the land-use layers: element 0 the grid "landuse",
  // then the layer grids; empty without a multilayer table.
  const std::vector<int> &LanduseLayerGrids() const { return landuseLayerGrids_; }
  const std::optional<MultilayerLanduseTable> &MultilayerLanduse() const {
    return multilayerTable_;
  }
  bool IrrigationSwitch() const { return irrigationSwitch_; }
  // The land-use parameter grids; none before step 14 or without land use.
  const LanduseParameterGrids *ParameterGrids() const { return landuseParameters_.get(); }
  // Daily means in the seven-day mean temperature so far (0..7).
  int MovingAverageDays() const { return movingAverageDays_; }
  const zonalstatistic *StandardGridStatistic(int registryIndex) const;
  // The file context of this object's grid reads and writes.
  GridFileContext FileContext();

private:
  void PerformStep(int step);
  void StepPreprocess();
  void StepOpenAndReadGridSections();
  void StepModelTime();
  void StepLanduseTables();
  void StepSoilTable();
  void StepIrrigationAndClose();
  void StepZoneGridAndDecomposition();
  void StepDistributeZoneGrid();
  void StepStandardAndVariableGrids();
  void StepCellWeights();
  void StepLanduseLayers();
  void StepFinish();
  // External coupling (external_coupling.cpp).
  [[noreturn]] void CouplingSectionFailure(const char *text);
  int ReadCouplingCount(const char *label);
  void ReadCouplingLists(std::FILE *file);
  void WriteCouplingStatistic(ExternalStatistic &row, int steps);
  // Spin-up units (spin_up.cpp).
  HruClassGrid ReadHruClassGrid();
  int FreeEntryForUnits(const char *what);
  void RegisterUnitGrids(bool given);
  void BuildUnits(const std::vector<HruClassGrid> &classGrids, bool given);
  void WriteUnitGrids();
  // An INFO entry naming a set-up step whose work is not built yet.
  void NotBuiltYet(int step, const char *what);
  void Progress(const char *text);
  // A step of the later set-up: its progress entry, the work, then "...ok".
  template <class Work> void ProgressStep(const char *text, Work &&work) {
    Progress(text);
    work();
    Progress("...ok");
  }
  void CloseControlFileOrFail();

  // Grids of this object and their registration.
  Grid &NewGrid(long firstRow, long lastRow);
  StripRows HeldRows() const;
  void RegisterDecompositionGrids();
  void SetUpStandardGrids();
  // Every held cell: nodata where the zone grid holds nodata (validAboveNodata:
  // where it is not above nodata), value elsewhere.
  void CreateGrid(Grid &grid, double value, bool validAboveNodata);
  int WritecodeOfStandardGrid(int registryIndex) const;
  void RestoreInitialValues(GridEntry &entry);
  // One grid's output by its writecode. The grid output engine is not part of
  // the program yet: this writes nothing until it is linked here.
  void WriteOneGridOutput(int registryIndex);
  bool OwnsCell(long row, long column) const;
  // The codes of the records 1..n of the table a code grid refers to.
  std::vector<int> TableCodesOf(CodeGridKind kind) const;
  // Rank 0: checks and renumbers the whole grid of entry and logs the lines;
  // returns the exit code of a failure (its FATAL entry logged) or 0.
  int CheckWholeCodeGrid(GridEntry &entry, CodeGridKind kind);
  void CheckCodeGrid(int registryIndex, CodeGridKind kind);
  void BroadcastLayerCodes();
  // A code grid that was just re-read: checked on rank 0 (which holds every
  // row), renumbered on every process; a re-read "landuse" with a multilayer
  // table also rebuilds the layer grids. Collective.
  void RenumberRereadCodeGrid(int registryIndex);
  // A code grid whose initial values came back: the layer grids follow a
  // restored "landuse" of a multilayer land use.
  void FollowRestoredCodeGrid(int registryIndex);
  // Every held cell of each layer grid: the layer code of the cell's
  // multilayer type in the own valid cells, nodata elsewhere; then the halo.
  void FillLanduseLayerGrids();
  // The first free registry entry; none left is fatal (12).
  int FreeRegistryIndex();
  // The own valid cells of this process.
  CellIteration OwnCells() const;
  // A parameter grid: the registered grid of that identifier, or a new one
  // (validValue on cells with a zone value, nodata elsewhere) in an entry of
  // its own with the given writecode.
  Grid &FindOrCreateParameterGrid(const std::string &identifier, double validValue,
                                  int writecode = 0);
  // The grids of land-use layer k; newStages tells whether its stage stack
  // (stageLevels > 0) was created.
  LayerParameterGrids MakeLayerGrids(int k, bool phenology, int stageLevels, bool &newStages);
  void MakeMovingMeanGrids(LanduseSingleGrids &single);
  Stack &NewStack(long lastLevel);
  int StartDayOfYear() const; // of the model start, February 28 days
  void FindPhenologyInputs();
  void CloseLanduseDay(long hour, long day, long month, long year);
  void LogDayProgress(long hour, long day, long month, long year);
  void RaiseVegetationPeriodFlags(int day, int month, int year);
  void WriteStartTimesAtEnd();

  // Derived grids: a new set-up grid over the held rows, filled with nodata,
  // at the first free registry entry (none: "FATAL: <noFreeText> (at position
  // 1000<noFreeTail>", exit code 12); returns its index.
  int CreateDerivedGrid(const std::string &identifier, const std::string &fileName,
                        std::string_view noFreeText, std::string_view noFreeTail);
  [[noreturn]] void FailNoFreeGrid(std::string_view text, std::string_view tail);
  // Every held cell outside the zones takes the nodata value.
  void SetInvalidCellsToNoData(Grid &grid) const;
  // Rank 0's whole-raster values to the owners' strips, then the halo rows.
  void DistributeFromRoot(int registryIndex);
  // One call of the grid output with output kind 1, then back to 0.
  void WriteOnce(int registryIndex);
  // "[region_transition_distance]" from the control-file copy.
  double ReadTransitionDistance();
  // The FATAL entry of a cell-size problem other than None (exit code 66).
  [[noreturn]] void FailCellSizes(CellSizeProblem problem, long row, long column,
                                  const CellSizes &cell, int xIndex, int yIndex, int areaIndex);

  StatisticsRegistry *statisticsRegistry_ = nullptr;
  int statisticsCapacity_ = 0;
  int soilModelVariant_ = kSoilModelVariant;
  std::string pathBuffer_; // the original control-file name, then the copy's name
  bool pathBufferFreed_ = false;
  GeneralSettings settings_;
  GridSections sections_;
  MpiDecomposition decomposition_;
  bool decomposed_ = false;
  ZoneRanking zones_;
  OneBasedArray<RowColumnRange> rowRanges_;
  RegionRanking regions_;
  std::vector<std::unique_ptr<Grid>> ownedGrids_;
  std::vector<int> setupGrids_;    // registry indexes, elevation model first
  std::vector<int> variableGrids_; // registry indexes of the variable grids
  std::vector<int> decompositionGrids_;
  int variableGridCount_ = 0;
  int firstVariableGrid_ = 0;
  OneBasedArray<int> variableReadFlags_;
  double maxElevation_ = 0.0;
  const Grid *iceFirn_ = nullptr;
  // Registry indexes of the grids of step 20 (0: absent), level by level:
  // regions 1, weights 1, regions 2, weights 2, regions 3, weights 3.
  std::array<int, 6> regionGrids_{};
  double transitionDistance_ = 0.0;
  int landuseLayerCount_ = 0;
  std::vector<int> landuseLayerGrids_;
  // The code grids checked at set-up, checked again whenever they are re-read.
  struct CheckedCodeGrid {
    int registryIndex = 0;
    CodeGridKind kind = CodeGridKind::Soil;
  };
  std::vector<CheckedCodeGrid> checkedCodeGrids_;
  const CheckedCodeGrid *CheckedCodeGridAt(int registryIndex) const; // none when not checked
  bool irrigationSwitch_ = false;
  // Land-use parameter grids.
  std::unique_ptr<LanduseParameterGrids> landuseParameters_;
  std::vector<int> parameterGrids_; // registry entries created for them
  std::vector<std::unique_ptr<Stack>> ownedStacks_;
  int startTimesIndex_ = 0; // registry entry of layer 1's stage stack
  int movingMeanIndex_ = 0; // entry of a new "TemperatureMOVAVG7", written at each day's end
  int movingAverageDays_ = 0;
  int stepsOfDay_ = 0;
  ModelDate lastDayClose_;
  bool phenologyInputsFound_ = false;
  const Grid *temperature_ = nullptr;
  const Grid *rootZoneWater_ = nullptr;
  OneBasedArray<soil_class> soilTable_;
  bool soilTableRead_ = false;
  OneBasedArray<landuse_class> landuseTable_;
  bool landuseTableRead_ = false;
  std::optional<MultilayerLanduseTable> multilayerTable_;
  IrrigationSettings irrigation_;
  // Standard-grid statistics: per set-up grid with a statfile.
  struct GridStatistic {
    int registryIndex = 0;
    std::vector<ZoneRecord> zones; // the table's own copy of the zone table
    std::unique_ptr<zonalstatistic> statistic;
  };
  std::vector<GridStatistic> gridStatistics_;
  std::vector<HydrologicResponseUnit> hydrologicResponseUnits_;
  int unitGridIndex_ = 0;
  int masterGridIndex_ = 0;
  std::vector<int> spinUpGrids_; // registry entries made for the units
  ExternalCouplingSettings coupling_;
  int step_ = 0;
  bool released_ = false;
};

} // namespace tavro
