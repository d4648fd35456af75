// The soil-water module (section "[unsatzon_model]"): the unsaturated zone,
// runoff generation and its concentration per subbasin.
//
// Its constructor reads the module's configuration ("[unsatzon_model]",
// "[heat_transfer]", "[unsatzon_tuning]", "[permafrost]"), ranks its
// subbasins from "zonegrid_soilmodel", links the grids of the set-up and of
// the modules built before it, registers its own grids and stacks, reads or
// computes the initial soil state, creates its statistics tables and
// control-point files, applies the soil-water part of "[lake_model]", builds
// the glacier table and logs the soil water at the start of the run.
//
// It owns the subbasin runoff arrays (Qg, QD, QI, QBb), the storage
// constants, the river exchange table and the zone table of its subbasins
// that the application hands to the lateral and routing modules, and the
// "[unsatzon_model]" state section.
//
// The configuration (Config), the grids (Links, Grids) and the per-subbasin
// values are plain public members: the column solver and the state section
// work on them directly.
#pragma once

#include "kernel/grid.h"
#include "kernel/module_exchange.h"
#include "kernel/module_settings.h"
#include "kernel/teilmodellklasse.h"
#include "raster/handover/runoff_concentration.h"
#include "raster/output/module_statistic.h"
#include "raster/parallel/cell_iteration.h"
#include "soil/column/column_boundaries.h"
#include "soil/column_heat.h"
#include "soil/control_point_files.h"
#include "soil/soil_column_parameters.h"
#include "soil/soil_configuration.h"
#include "soil/soil_tracer_grids.h"
#include "soil/soil_water_grids.h"

#include <array>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

struct IrrigationTableEntry;
struct ColumnTracers;
class zonalstatistic;
class ModuleStatistic;
class StateFileReader;

// The degree-day grids of the temperature pre-spin-up pass, alive between its
// first step and its end.
struct PreSpinUpGrids {
  Grid ownFreezing; // unless a grid "FreezingDegreeDays" was there
  Grid *freezing = nullptr;
  Grid thawing, daily, annual;
  int freezingIndex = 0, thawingIndex = 0, dailyIndex = 0, annualIndex = 0;
  bool ownsFreezing = false;
  long daySteps = 0;
  long steps = 0;
};

class unsatzonmodellklasse : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "unsatzon_model";
  static constexpr const char *StateSection = "[unsatzon_model]";
  static constexpr const char *LakeSection = "[lake_model]";
  static constexpr const char *MeanThetaGridName = "MeanThetaInRootZone";
  static constexpr int NotInitializedExitCode = 57;
  static constexpr int FlowTimeNoDataExitCode = 6;
  static constexpr int FirstZoneEmptyExitCode = 61;
  static constexpr int StateOpenExitCode = 64;
  static constexpr int PointFileExitCode = 65;
  static constexpr int StorageMismatchExitCode = 71;
  static constexpr int LakeExitCode = 215;
  static constexpr int WrongLevelCountExitCode = 13;
  static constexpr int PreSpinUpExitCode = 1040;
  static constexpr int SoilTableExitCode = 29;
  static constexpr int InvalidRiverLinkExitCode = 199;

  unsatzonmodellklasse(int &error, const ModuleSettings &settings,
                       const OneBasedArray<IrrigationTableEntry> *irrigationTable,
                       int substepCount);
  ~unsatzonmodellklasse() override;

  // Hands the module's zone table (index, records, count, highest code) to
  // the settings of the irrigation, groundwater and routing modules: when
  // active its own subbasins, which live as long as the module.
  virtual void CopyZoneTableTo(ModuleSettings &settings) const;

  // --- Wiring after construction -------------------------------------------
  virtual void ComputeMaxPumping();
  // When active and no water input is linked yet: the first registered of
  // "snowcover_outflow", "throughfall0", "precipitation" (interception
  // first: "throughfall0" before "snowcover_outflow"); none is fatal (33).
  virtual void SelectWaterInput(bool interceptionFirst);
  virtual void SetDumpOptions(bool dumpMode, bool closeAfterDump, bool repairAfterDump);
  void InitTracerGrids(int &error, int tracerCount, OneBasedArray<TracerInfo> *info,
                       StatisticsRegistry *registry, int capacity) override;
  void SetSubstepCount(int count) override;

  // When active: the arrays (fatal 57 when never set up); none when inactive.
  virtual SubbasinRunoffArrays *GetQg();
  virtual SubbasinRunoffArrays *GetQD();
  virtual SubbasinRunoffArrays *GetQI();
  virtual SubbasinRunoffArrays *GetQBb();
  virtual SubbasinValues *GetKelsqd(); // minutes; none when inactive
  virtual SubbasinValues *GetKelsqi();
  virtual void SetSurfaceRoutingActive(int active);
  virtual riverflow_table *GetRiverflowTable(); // none when inactive
  // The state file name when active, empty otherwise.
  virtual std::string GetStorageFileName() const;
  // 1 when the groundwater module is coupled (set by the application).
  virtual void SetGroundwaterCoupling(int coupled) { GroundwaterCoupling = coupled; }
  // readgrids: where the initial state came from, also the state read mode
  // of the routing and snow modules.
  virtual int GetStateReadMode() const { return StateReadMode; }
  int GetReadGrids() const { return StateReadMode; }

  // Logs the mismatch of a state-file value with the control file and ends
  // the run (71).
  [[noreturn]] virtual void ThrowStorageMismatch(std::string_view description, double controlValue,
                                                 double storedValue);
  // The soil-water part of the section: lake cells saturated, with method 2
  // the elevation lowered by the ponding depth and slope and drainage
  // level cleared. Called by the constructor.
  virtual void ReadLakeParameters(const std::string &section);

  // --- Time loop -----------------------------------------------------------
  virtual void AdjustToGroundwaterTable();
  virtual void BeginTimeStep(long hour, long day, long month, long year);
  // Soil water of one sub-step.
  void ComputeTimeStep(long hour, long day, long month, long year) override;
  virtual void ConcentrateRunoff(long hour, long day, long month, long year);
  // The column solver of one call: every computed cell of the strip, rows
  // over the OpenMP threads with one workspace per thread.
  virtual void SolveRows();
  long IterationsOfLastCall = 0; // summed over the cells and internal steps
  // --- River exchange (groundwater module coupled) ---------------------------
  // Cells may take river water: coupled, surface_interaction 2 and the river
  // grids linked. The same on every process.
  bool RiverCellsTakeWater() const;
  // A river cell (depth, width and kolmation above 0) with a link; such
  // cells are solved after the parallel loop, in row and column order.
  bool MayTakeRiverWater(long row, long column) const;
  // Collective: a link of a computed cell that names no subbasin ends the
  // run on every process (199; the largest such code is reported).
  void CheckRiverLinks() const;
  // The cell at its river, without its table, pond and river record.
  RiverCell RiverCellOf(long row, long column) const;
  // The record of the subbasin the cell's valid link names.
  RiverflowRecord &RiverRecordOf(long row, long column);
  // Copies the results of every response unit's master cell to its members.
  virtual void CopyMasterHRUStates();
  // The step's output grids and stacks, each by its writecode.
  virtual void WriteStepOutputs();
  virtual void FlushStatistics();
  // Pre-spin-up: requires the heat transfer model (fatal 1040 without it).
  virtual void PreSpinUpAccumulate(long hour, long day, long month, long year);
  virtual void PreSpinUpFinish();
  // With FlowControl above 0: when marked initialised and a state file name is
  // known, writes its state section (appended when append, else creating the
  // file); then releases its tracer grids, its grids and the base resources.
  virtual void FinishRun(bool append);
  // Writes the "[unsatzon_model]" section to fileName (the output directory
  // in front), appended or creating the file; a file that cannot be written
  // ends the run (18).
  virtual void WriteStorage(const std::string &fileName, bool append);
  // Reads the section from the state file (the initial-state directory in
  // front): 64 when it cannot be opened, 71 without the section or for a
  // value that does not fit the run.
  virtual void ReadStorage();
  // Reads one number and compares it with the run's value (71 when they differ).
  virtual void CheckStorageValue(StateFileReader &file, double value, std::string_view text);
  // Appends the buffered records (values first..last, last 0 = MaxSoilLayers)
  // to the buffer's file and empties it; nothing for an empty buffer; 65
  // when the file cannot be opened.
  virtual void WritePointRecords(ControlPointBuffer &buffer, int first, int last);
  void FinishTracerGrids() override;
  void ReleaseMemory() override;

  // --- Runoff concentration -------------------------------------------------
  // Builds the flow-time zones from "flow_times" (collective; 6 and 61).
  virtual void InitFlowTimeZones();
  // Adds the runoff and baseflow of every own cell of the sub-step just
  // computed to the step's exact zone and baseflow sums (after the column step).
  // Returns the sum of the runoff components and the root-zone and soil
  // water over the own cells of the subbasins (0 before the zones exist).
  double AddStepRunoffToZones();
  // Collective: ends the run when that sum is no usable number, naming the
  // first cell that is not.
  void StopIfNotFinite(double stepWater) const;
  // Appends the layer records of the step to the control-point buffers and
  // writes the full ones (after the statistics of a sub-step).
  void RecordControlPoint();
  // The control cell's records of its last internal step (called for the
  // control cell by the column loop): soil evaporation then the
  // transpiration of layers 1..n (mm), the interflow of layers 1..n (mm,
  // element 0 unused) and the infiltration (mm); the other data from the
  // cell's grids.
  void RecordControlCellDetails(std::span<const double> evaporationAndTranspiration,
                                std::span<const double> interflow, double infiltration);

  // Flow-time zones of direct runoff and interflow; their sums are held by
  // rank 0 only (the other processes keep zeros there).
  FlowTimeZones ZonesQD;
  FlowTimeZones ZonesQI;
  std::vector<int> MaxZone; // maxzeit, subbasins 1..n
  // What the cells of the current step add, exact, per process until
  // ConcentrateRunoff reduces them to rank 0.
  ZoneAdditions AdditionsQD;
  ZoneAdditions AdditionsQI;
  std::vector<ExactZoneSums> BaseflowSums; // subbasins 0..n
  // Storage outflows of direct runoff and interflow (mm per step).
  SubbasinRunoffArrays QDd;
  SubbasinRunoffArrays QIi;
  // The balance of every subbasin's concentration in the last step (rank 0).
  std::vector<SubbasinRunoffBalance> RunoffBalance; // subbasins 0..n
  // The snow module writes the glacier runoff into Qg before the
  // concentration (grid "snowcover_outflow" registered).
  bool SnowWritesGlacierRunoff = false;

  // --- Settings and flags --------------------------------------------------
  int GroundwaterCoupling = 0;
  int StateReadMode = 0;       // readgrids
  std::string StorageFileName; // state file, "<name>_<rank>"
  int HeatTransferModel = 0;   // above 0: soil heat model on
  // Set by the first AdjustToGroundwaterTable, never cleared: the table then
  // comes from outside and the recharge is the flux into its layer.
  bool ExternalGWTableApplied = false;
  int SurfaceRoutingActive = 0;
  bool DumpMode = false;
  bool CloseAfterDump = false;
  bool RepairAfterDump = false;
  // Calls of the current model step so far (1..D after each call); with
  // D > 1 it names the call in the dump files.
  int CallOfStep = 0;
  int LakeFlowControl = 0;
  int LakeInitMethod = 0;
  const OneBasedArray<IrrigationTableEntry> *IrrigationTable = nullptr; // not owned

  // --- Configuration and derived values -------------------------------------
  SoilConfiguration Config;
  int MaxSoilLayers = 0;     // layers of every soil type; levels of every stack
  int LanduseLayerCount = 1; // layers of the multilayer land use
  std::string ProcessTag;    // "+ft,", "+ir,", "+srf1"/"+srf2,", "+dr,", "+cl,", "+po,"
  long ExtendedFirstRow = 0; // the strip widened by one row where the raster continues
  long ExtendedLastRow = -1;
  bool HasControlPoint = false; // the control cell is one of this process's own cells

  // --- Grids, tables and files ------------------------------------------------
  SoilWaterLinks Links;
  SoilWaterGrids Grids;
  OneBasedArray<GlacierRecord> GlacierTable; // empty without a glacier grid
  // Per statistics table (SoilStatistic order, element 0 unused) the table,
  // null where it is not created; the substeps, thaw-depth and glacier
  // tables beside them.
  std::vector<std::unique_ptr<ModuleStatistic>> StatisticsTables;
  std::unique_ptr<ModuleStatistic> SubstepsTable;
  std::unique_ptr<ModuleStatistic> ThawDepthTable;
  std::unique_ptr<ModuleStatistic> GlacierResizeTable;
  // Control-point buffers in ControlPointFile order (only with HasControlPoint).
  std::vector<ControlPointBuffer> ControlPointBuffers;
  // Identifiers in the order the module registered them.
  std::vector<std::string> RegisteredIdentifiers;
  // The tracers 1..TracerCount (element 0 unused), built by InitTracerGrids.
  std::vector<SoilTracerGrids> SoilTracers;

private:
  // The arrays when active (fatal 57 when never created), none when inactive.
  SubbasinRunoffArrays *RunoffArrays(SubbasinRunoffArrays &arrays, const char *name);
  void CreateExchangeArrays();
  void CreateRunoffArrays();
  void LinkGroundwaterCoupling();
  void ComputeInitialRunoff();
  void CheckGlacierRunoffSource();
  void ConcentrateSubbasins();
  void ShareFlowTimeZones(const std::string &flowFileName);
  void EndStatisticsStep();
  void ResetStatisticsStep();
  void ReportEndOfRun();
  // Collective: the soil water of the own cells for the start and end reports.
  std::array<ExactZoneSums, 2> SoilWaterSums() const;
  void FlushControlPointBuffers();
  ModuleStatistic *Table(SoilStatistic which) const;
  // The glacierized fraction of a cell, 0..1 (0 without a glacier grid).
  double GlacierFraction(long row, long column) const;
  double CellWeight(long row, long column) const;
  void ReadConfiguration();
  void ReadHeatTransfer();
  void ReadTuning();
  void ReadPermafrost();
  void ReopenControlFile();
  void CloseReopenedControlFile();
  void DeriveLayerCounts();
  void DeriveSoilLayerCount();
  // Construction steps after the reading.
  void LinkGrids();
  void LinkLanduseLayerGrids();
  void ScalePondingDepths();
  void CreateStatisticsTables();
  void CreateLateStatisticsTables();
  void CreateGlacierResizeTable();
  void RegisterStateGrids(int &next);
  void RegisterRemainingGrids(int &next);
  void ReadStateFiles();
  void ComputeInitialState();
  void ComputeLowerBoundaryTemperature(int &next);
  void ComputeIrrigationGrids();
  void ComputeDrainageLevels();
  void RecomputeLakeCells();
  void CreateControlPointFiles();
  void BuildProcessTag();
  void BuildGlacierTable();
  void ReportStartOfRun();
  void LinkResponseUnitGrids();
  // Registration helpers.
  int NextFreeEntry(int from) const;
  void Register(int &next, const std::string &identifier, Grid *grid, Stack *stack,
                const FileAndCode &file, long firstRow, long lastRow, int &index);
  Grid NewGrid(long firstRow, long lastRow) const;
  Stack NewStack(long firstRow, long lastRow) const;
  void ResetOwnGrid(Grid &grid, double ownValue) const;
  void ResetOwnStack(SoilStack &stack, double ownValue) const;
  bool IsValid(long row, long column) const;
  bool IsOwn(long row, long column) const;
  // The soil type of a cell, null outside the table.
  const soil_class *SoilOf(long row, long column) const;
  template <class Body> void ForOwnCells(Body &&body) const;
  void ReleaseOwnGrids();
  // Builds the column geometry of every soil type once, before the first use.
  void EnsureColumnParameters();
  // Soil heat: the per-layer saturated conductivities of every soil type and
  // the constants, built before the first step (never lazily from threads).
  void PrepareHeat();
  // With the heat model on: the module's own copy of the soil table, its
  // missing heat properties filled with the module's defaults and the
  // freezing curves built; the module reads that copy from then on.
  void CompleteSoilHeatProperties();
  // The heat model advances the columns whatever its method (0, the
  // default, and up to 10 being the explicit scheme) ...
  bool HeatRuns() const;
  // ... while its thaw-depth table, stack and grid output need a method above 0.
  bool HeatOutputsRun() const;
  // The cell's heat inputs for the call; its land use gives the n-factor.
  ColumnHeatCell HeatCellOf(long row, long column, std::size_t soilIndex,
                            const soil_class &soil) const;
  // The linear start profile of every own cell, once, unless it was read.
  void InitialiseSoilTemperatures();

  SubbasinRunoffArrays qg_;
  SubbasinRunoffArrays qd_;
  SubbasinRunoffArrays qi_;
  SubbasinRunoffArrays qbb_;
  SubbasinValues kelsqd_;
  SubbasinValues kelsqi_;
  riverflow_table riverflow_;
  // The subbasins of "zonegrid_soilmodel", which ZoneTable and ZoneIndex
  // point at once they are ranked.
  const Grid *subbasinGrid_ = nullptr;
  OneBasedArray<ZoneRecord> subbasinTable_;
  OneBasedArray<int> subbasinIndex_;
  bool exchangeArraysCreated_ = false;
  std::vector<ExactZoneSums> reductionBatch_; // one batched reduction per step
  std::vector<double> otherData_;             // a record of the control cell's other data
  std::vector<double> pointValues_;           // a record of the control cell's tracer
  std::vector<int> ownEntries_;               // registry entries to release
  // The column geometry of soil records 1..n (element 0 empty), built at the
  // first call.
  std::vector<std::unique_ptr<SoilColumnParameters>> columnParameters_;
  std::unique_ptr<OneBasedArray<soil_class>> heatSoilTable_;
  std::unique_ptr<PreSpinUpGrids> preSpinUp_;
  std::vector<SaturatedHeatConductivity> heatConductivity_; // per soil record
  ColumnHeatSettings heatSettings_;
  bool soilTemperaturesSet_ = false;
  void StartPreSpinUp();
  std::vector<StatisticsCell> statisticsCells_; // the own valid cells with their zones
  // Adds the cells of the call to the statistics tables.
  void AddStepStatistics();
  CellIteration SolverCells() const;

  // --- Tracers (unsatzon_tracers.cpp) ------------------------------------------
  // The records, stacks ("concstor_tracer_<r>_unsatzon_model", read when
  // readgrids is 1 (13 for another level count) or filled from soilini and
  // gwini), the runoff tracer grids and the links of every tracer.
  void CreateSoilTracers(OneBasedArray<TracerInfo> *info, StatisticsRegistry *registry,
                         int capacity);
  void CreateSoilTracer(int tracer, const TracerInfo &info, StatisticsRegistry *registry,
                        int capacity);
  void FillStartTracers(SoilTracerGrids &tracer, const TracerInfo &info);
  // Links the concentration of the silting-up grid's water: the silting-up
  // module's outflow grid, else the surface water's grid of surface routing.
  void LinkSurfaceWaterTracers();
  // Collective: the initial concentrations and the tracer rows of Qg from
  // the baseflow of all processes' cells.
  void ComputeInitialTracerRunoff();
  // Collective: the aquifer's tracer grids that the cells wrote, to the
  // neighbours' halo rows.
  void ShareGroundwaterTracers();
  // The cell's soil geometry, null without one.
  const ColumnGeometry *GeometryOf(long row, long column) const;
  int GroundwaterLayerOf(long row, long column) const;
  // Concentration of a tracer in a layer (withoutWater when the layer holds
  // none).
  double TracerInLayer(int tracer, long row, long column, int layer, double withoutWater) const;
  // river: the record of the river the cell may take water from, or null.
  void FillColumnTracers(ColumnTracers &tracers, long row, long column,
                         const RiverflowRecord *river) const;
  void StoreColumnTracers(const ColumnTracers &tracers, long row, long column);
  void ClearCellTracers(long row, long column);
  // The tracer rows of the zone sums and the baseflow records of a cell.
  void AddCellTracersToZones(long row, long column, int subbasin, int zone, double weight,
                             double share);
  void AppendTracerSums(std::vector<ExactZoneSums> &batch);
  // Rank 0: takes the reduced sums (after the water's) into the tracer rows;
  // returns how many it took.
  std::size_t TakeTracerSums(std::span<const ExactZoneSums> reduced);
  struct TracerRowInputs {
    double previousQDd = 0.0; // row 0 of QDd before the step
    double previousQIi = 0.0;
    double directFactor = 0.0; // storage factors of the step
    double interflowFactor = 0.0;
  };
  // Rank 0, after row 0 of subbasin k: the tracer rows of QD, QDd, QI, QIi,
  // QBb and Qg.
  void ConcentrateTracerRows(int k, const TracerRowInputs &in);
  // Collective: the tracer rows of QBb and Qg to every process, the
  // concentration grids, the stacks and the tracer tables of the step.
  void EndTracerStep();
  void ReleaseSoilTracers();
  // The control cell's concentration of every tracer in layers 1..n.
  void AppendTracerPointRecords(const ModelDate &date);
};

// Calls body(row, column) for every own valid cell of the strip, rows spread
// over the OpenMP threads (spin-up units play no part here).
template <class Body> void unsatzonmodellklasse::ForOwnCells(Body &&body) const {
  CellIteration(StripCellsOf(*this, Links.Subbasins)).ForEachCell(body);
}

} // namespace tavro
