// The surface routing module (section "[SurfaceRoutingModel]"): overland
// flow in sub-steps. It takes the direct runoff that the soil-water module
// leaves in "directflow", routes it over the terrain in inner steps of a
// stable length until it reaches a river cell, and concentrates the water of
// the river cells and the interflow per subbasin through flow-time zones and
// two linear storages into its own Qg, which the routing takes in place of
// the soil-water module's. Per-cell physics lives in lateral/overland/.
#pragma once

#include "kernel/module_exchange.h"
#include "kernel/module_settings.h"
#include "kernel/registry_entries.h"
#include "kernel/teilmodellklasse.h"
#include "lateral/overland/flow_velocity.h"
#include "lateral/overland_passes.h"
#include "lateral/surface_tracers.h"
#include "raster/handover/runoff_concentration.h"
#include "raster/output/module_statistic.h"
#include "raster/parallel/cell_iteration.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace tavro {

// Water of the overland flow over one sub-step on this process (mm summed
// over the own valid cells): what the soil handed over, what stays on the
// surface, what reached the river cells.
struct OverlandBalance {
  double Input = 0.0;
  double Surface = 0.0;
  double Rivers = 0.0;
  double Residual() const { return Input - Surface - Rivers; }
};

class surfaceroutingclass : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "SurfaceRoutingModel";
  static constexpr const char *StateSection = "[SurfaceRoutingModel]";
  static constexpr int NotInitializedExitCode = 57;
  static constexpr int GlacierExitCode = 2;
  static constexpr int MethodExitCode = 10;
  static constexpr int NoDataZonesExitCode = 6;
  static constexpr int FirstZoneEmptyExitCode = 61;
  static constexpr int StackLevels = 10; // levels 0..9

  surfaceroutingclass(int &error, const ModuleSettings &settings, int substepCount);
  ~surfaceroutingclass() override;

  virtual void SetQBb(SubbasinRunoffArrays *qbb); // stored when active
  virtual void SetKelsqd(SubbasinValues *constants);
  virtual void SetKelsqi(SubbasinValues *constants);
  // When active: its Qg (fatal 57 when never set up); none when inactive.
  virtual SubbasinRunoffArrays *GetQg();
  void InitTracerGrids(int &error, int tracerCount, OneBasedArray<TracerInfo> *info,
                       StatisticsRegistry *registry, int capacity) override;
  void FinishTracerGrids() override;
  void SetSubstepCount(int count) override;
  // The base step (progress line), then the statistics reset and the move
  // of the flow-time zones.
  virtual void BeginTimeStep(long hour, long day, long month, long year);
  // Overland flow of one sub-step; nothing when inactive.
  void ComputeTimeStep(long hour, long day, long month, long year) override;
  // The first zones through the linear storages into Qg; collective.
  virtual void ConcentrateRunoff(long hour, long day, long month, long year);
  virtual void FlushStatistics();
  // With FlowControl above 0: writes its per-cell state files and its state
  // section when marked initialised and a state file name is known (the
  // section appended when append), then releases its tracer grids and the
  // base resources.
  virtual void FinishRun(bool append);
  virtual void WriteStorage(const std::string &fileName, bool append);
  void ReadStorage();
  // The per-cell overland flow beside the state section: whole-raster binary
  // stacks gathered on rank 0 (collective). Reading takes every process's
  // own cells; a missing file leaves that part of the flow at rest.
  void WriteFlowState();
  void ReadFlowState();
  // The name of a per-cell state file: the state file without "_<rank>",
  // then suffix.
  std::string FlowStateFileName(const std::string &suffix) const;
  void ReleaseMemory() override;

  // --- Parts of the sub-step (public for the tests) -------------------------
  // The smallest stable inner step of the own cells (1e36 when none limits).
  double MinimumTimeStep() const;
  // One inner step: kernel pass, stable step at i = 0, limiter, storage pass.
  void InnerStep(int innerStep, int &recomputeStep);
  const OverlandBalance &LastBalance() const { return balance_; }
  double InnerTimeStep() const { return innerStep_; }
  int InnerStepsRun() const { return innerStepsRun_; }

  SubbasinRunoffArrays *QBb() const { return qbb_; }
  SubbasinValues *Kelsqd() const { return kelsqd_; }
  SubbasinValues *Kelsqi() const { return kelsqi_; }

  // --- Settings ---------------------------------------------------------------
  int FlowPathMethod = 1;
  std::array<StatisticsFile, 5> StatisticsFiles{}; // QDSR, QISR, QBSR, QGSR, storage
  std::string VelocityStackFile;
  int VelocityWritecode = 0;
  std::string FluxesStackFile;
  int FluxesWritecode = 0;
  overland::VelocitySettings Velocity;
  std::string StorageFileName; // state file, "_<rank>" appended
  double SubstepLength = 0.0;  // s
  int LanduseLayerCount = 1;

  // --- Grids ------------------------------------------------------------------
  const Grid *Zone = nullptr;      // registry entry 1
  const Grid *Elevation = nullptr; // registry entry 2
  std::vector<const Grid *> Landuse;
  Grid *SurfaceStorage = nullptr; // "SurfStorSiltingUp", mm
  Grid *DirectFlow = nullptr;     // "directflow", mm
  Grid *Interflow = nullptr;      // "interflow", mm
  const Grid *RiverDepth = nullptr;
  const Grid *RiverWidth = nullptr;
  const Grid *FlowTimes = nullptr; // zone numbers; none: one zone
  Stack VelocityStack, FluxStack, WeightStack;
  Grid Depth; // "SurfaceRoutingTotalInput", m
  Grid *PlanCurvature = nullptr, *QIn = nullptr, *QOut = nullptr, *CriticalShear = nullptr;
  int VelocityIndex = 0, FluxIndex = 0, WeightIndex = 0, DepthIndex = 0, CurvatureIndex = 0;

  // --- Runoff concentration ---------------------------------------------------
  std::vector<int> MaxZone; // 0..n
  FlowTimeZones ZonesQD, ZonesQI;
  std::vector<ZoneAdditions> AdditionsQD, AdditionsQI; // per row 0..T
  SubbasinRunoffArrays QDInflow, QDd, QIInflow, QIi;

  // --- Tracers ------------------------------------------------------------------
  std::vector<SurfaceTracerGrids> Tracers; // 1..T, element 0 unused
  // Every tracer's storage grid comes from the silting-up module: its
  // incoming direct runoff then keeps its concentration without decay.
  bool AllStorageFromSiltingUp = true;
  // c_t of the surface water, the module's own concentration grid.
  Grid &TracerConcentration(int tracer);

private:
  // A stack of the per-cell state and the levels 0..Levels it carries.
  struct FlowStateStack {
    Stack *Data;
    int Index;
    const char *Suffix;
    int Levels;
    bool LevelZeroCounts; // level 0 a direction or a count of directions
    bool Halo;            // held with the neighbours' rows
  };
  std::vector<FlowStateStack> FlowStateStacks();
  void ReadFlowStack(const FlowStateStack &target);
  void ReadSettings();
  void AdjustInnerStepLimits();
  void ReadStorageSettings();
  void LinkInputGrids();
  void RegisterGrids();
  Grid *OptionalOwnGrid(Grid &own, const char *identifier, long first, long last, double start,
                        int *index);
  void ComputePlanCurvature();
  void CheckLandUseLayers() const;
  void CreateStatistics();
  void InitFlowTimeZones();
  void ShareZones(const std::string &flowFileName);
  void CheckWiring() const;
  bool IsRiver(long r, long c) const;
  // Whether a land-use layer value names a record of the land-use table.
  bool IsLandUseRecord(double code) const;
  overland::LandUseResistance LandUseOf(long r, long c) const;
  void BuildPasses();
  void StartSubstep();
  void BookSubstep();
  // Collective: ends the run when the sub-step's balance is no usable number,
  // naming the first cell that is not.
  void StopIfNotFinite() const;
  void ExchangeFlowHalos();
  void SetUpTracers();
  void LinkSiltingGrid(int t, const TracerInfo &info);
  void TakeCellTracers(long r, long c, double direct);
  void BookCellTracers(long r, long c, int k, int z, double w, bool river, double direct);
  void WriteSiltingGrids(int t);
  void ReleaseTracers();
  double ConcentrateComponent(FlowTimeZones &zones, SubbasinRunoffArrays &inflow,
                              SubbasinRunoffArrays &outflow, double storageMinutes, int k);
  ModuleStatistic *Table(int which) const;
  zonalstatistic *TracerTable(int tracer) const; // the base's concentration table
  template <class Body> void ForOwnCells(Body &&body) const;

  std::array<std::unique_ptr<ModuleStatistic>, 5> tables_;
  Grid curvatureOwn_, qInOwn_, qOutOwn_, shearOwn_;
  SubbasinRunoffArrays qg_;
  bool qgCreated_ = false;
  SubbasinRunoffArrays *qbb_ = nullptr;
  SubbasinValues *kelsqd_ = nullptr;
  SubbasinValues *kelsqi_ = nullptr;
  double innerStep_ = 0.0;
  int innerStepsRun_ = 0;
  int foreseenSteps_ = 0;
  OverlandBalance balance_;
  OverlandPasses passes_;
  std::vector<ExactZoneSums> reductionBatch_;
  long haloFirst_ = 0, haloLast_ = -1;
  // Declared after the grids they point at.
  RegistryEntries entries_;
};

// Every valid own cell of the strip, rows spread over the threads.
template <class Body> void surfaceroutingclass::ForOwnCells(Body &&body) const {
  CellIteration(StripCellsOf(*this, Zone)).ForEachCell(body);
}

} // namespace tavro
