// The groundwater module (section "[groundwater_flow]"): lateral flow in one
// or more stacked aquifer layers, solved per sub-step layer by layer with
// red-black Gauss-Seidel sweeps and over-relaxation, coupled vertically by
// leakage. Layer 1 is driven by the soil-water module: its heads are reset
// from "groundwater_distance" at the start of every sub-step, and the head
// change that lateral flow causes in it goes back as "baseflow".
//
// The module also writes a control cell's heads every sub-step, reads the
// groundwater part of "[lake_model]", and carries dissolved tracers through
// the layers. Per-cell physics lives in lateral/groundwater/; the sweep in
// groundwater_sweep.h.
#pragma once

#include "kernel/fatal_error.h"
#include "kernel/module_exchange.h"
#include "kernel/module_settings.h"
#include "kernel/registry_entries.h"
#include "kernel/teilmodellklasse.h"
#include "lateral/groundwater_sweep.h"
#include "raster/parallel/mpi_regions.h"

#include <algorithm>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavro {

struct IrrigationTableEntry;
class zonalstatistic;

// A file name and its writecode, as the section gives them.
struct GroundwaterFile {
  std::string name;
  int code = 0;
};

// The eleven state grids of a layer in the order of their registration.
enum GroundwaterGridSlot {
  kHead,
  kHeadOld,
  kHeadPrevStep,
  kHeadPrevIter,
  kTransmissivityX,
  kTransmissivityY,
  kFlowX,
  kFlowY,
  kBalance,
  kLeakage,
  kUpperLimit,
  kGroundwaterGridCount
};

// One aquifer layer: its input grids (not owned) and its state grids.
struct GroundwaterLayerGrids {
  // Inputs found in the registry.
  Grid *Thickness = nullptr; // "aquifer_thickness_<k>" (layer 1 rewritten from the soil profile)
  const Grid *ConductivityX = nullptr;
  const Grid *ConductivityY = nullptr;
  const Grid *Storage = nullptr;
  const Grid *FixedHead = nullptr;
  const Grid *FixedInflow = nullptr;
  const Grid *Leakance = nullptr; // towards layer k + 1; none in the last layer
  // Files of the section.
  GroundwaterFile Heads, HeadsOld, FlowX, FlowY, Balance;
  std::string HeadsOldOld, HeadsOldIter; // formed, not used
  // State grids and their registry entries, in GroundwaterGridSlot order.
  std::array<Grid, kGroundwaterGridCount> State;
  std::array<int, kGroundwaterGridCount> Index{};
  SweepCells Cells; // the cells the sweep updates
  Grid &operator[](GroundwaterGridSlot slot) { return State[slot]; }
  const Grid &operator[](GroundwaterGridSlot slot) const { return State[slot]; }
};

// What the last layer solve measured, for the progress log.
struct GroundwaterSolveReport {
  int Iterations = 0;
  double Change = 0.0;
  double FactorSum = 0.0;
  long FactorCount = 0;
  double OscillationCount = 0.0;
  double AmplitudeSum = 0.0;
  double AmplitudeMax = 0.0;
};

// One tracer's grids and tables in every layer.
struct GroundwaterTracer {
  double DecayFactor = 1.0; // per sub-step
  bool Radioactive = false;
  std::vector<Grid> Concentration; // layers 1..L at 0..L-1
  std::vector<int> ConcentrationIndex;
  std::vector<std::vector<ZoneRecord>> Zones;
  std::vector<std::unique_ptr<zonalstatistic>> Statistics;
  Grid Working; // "concflux_tracer_<t>_groundwater_flow"
  int WorkingIndex = 0;
};

class gwflowclass : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "groundwater_flow";
  static constexpr const char *LakeSection = "[lake_model]";
  static constexpr int ControlRowExitCode = 8;
  static constexpr int ControlColumnExitCode = 9;
  static constexpr int ControlFileCreateExitCode = 62;
  static constexpr int ControlFileAppendExitCode = 65;
  static constexpr int LakeExitCode = 214;
  static constexpr int NoPondGridExitCode = 28;

  // settings carry the soil-water module's zone table.
  gwflowclass(int &error, const ModuleSettings &settings,
              const OneBasedArray<IrrigationTableEntry> *irrigationTable, int substepCount);
  ~gwflowclass() override;

  void InitTracerGrids(int &error, int tracerCount, OneBasedArray<TracerInfo> *info,
                       StatisticsRegistry *registry, int capacity) override;
  void SetSubstepCount(int count) override;
  virtual void SetRiverflowTable(riverflow_table *table); // when active
  virtual void SetQg(SubbasinRunoffArrays *qg);           // when active
  // Stores the date and writes the progress line; resets the tracer
  // statistics of the step.
  virtual void BeginTimeStep(long hour, long day, long month, long year);
  // Groundwater flow of one sub-step.
  void ComputeTimeStep(long hour, long day, long month, long year) override;
  virtual void WriteStepOutput(long hour, long day, long month, long year);
  virtual void FlushStatistics();
  void FinishTracerGrids() override;
  void ReleaseMemory() override;
  virtual void ReadLakeParameters(const std::string &section);

  // --- Parts of the sub-step (public for the tests) -------------------------
  void ComputeLeakage();
  void StartSubstep();
  void ComputeTransmissivities();
  // Solves layer k (1..L): fixed heads, sweeps until converged or maxiter.
  void SolveLayer(int k);
  // One red-black sweep of layer k with the halo of the heads exchanged
  // before each colour; the largest change on this process.
  SweepResult SweepLayer(int k);
  // Oscillating cells of layer k on this process; amplitude sum and maximum,
  // and the sum of the layer's heads over this process's cells (non-finite
  // when any head is).
  long CountOscillations(int k, double &amplitudeSum, double &amplitudeMax, double &headSum) const;
  void ComputeFlows();
  void ComputeBaseflow();
  // Balance and tracer transport of layer k.
  void ComputeBalance(int k);
  // Stops the run (collectively) when a head or balance became non-finite.
  void StopIfHeadsNotFinite() const;
  void RecordControlPoint();
  void WriteControlPointFluxes();

  riverflow_table *RiverflowTable() const { return riverflow_; }
  SubbasinRunoffArrays *Qg() const { return qg_; }
  int LayerCount() const { return static_cast<int>(Layers.size()); }
  GroundwaterLayerGrids &Layer(int k) { return Layers[static_cast<std::size_t>(k - 1)]; }
  const GroundwaterLayerGrids &Layer(int k) const {
    return Layers[static_cast<std::size_t>(k - 1)];
  }
  double SubstepSeconds() const { return TimeStep * 60.0 / SubstepCount; }

  // --- Settings ---------------------------------------------------------------
  int Method = 0;
  int MaxIterations = 0;
  double MaxErrorAllowed = 0.0;
  double Alpha = 1.0;
  double SorParameter = 1.0;
  bool AdaptiveSor = false;
  int ControlRow = 0;
  int ControlColumn = 0;
  std::string ControlPointFileName;
  int PondUse = 0;
  int LakeFlowControl = 0;
  int LakeInitMethod = 0;
  const OneBasedArray<IrrigationTableEntry> *IrrigationTable = nullptr; // not owned

  // --- Grids ----------------------------------------------------------------
  std::vector<GroundwaterLayerGrids> Layers;
  const Grid *Zone = nullptr;      // registry entry 1
  const Grid *Elevation = nullptr; // "[elevation_model]"
  const Grid *Recharge = nullptr;  // "groundwater_recharge" (looked up only)
  Grid *GroundwaterDistance = nullptr;
  const Grid *SoilTypes = nullptr;
  Grid *Baseflow = nullptr;
  const Grid *CellSizeX = nullptr; // with "RelCellArea"
  const Grid *CellSizeY = nullptr;
  const Grid *Glacier = nullptr;
  Grid *ThawDepth = nullptr;
  Grid *FrozenSoil = nullptr;
  const Grid *SiltingUpStorage = nullptr;
  Grid *Ponding = nullptr;
  const Grid *LakeCodes = nullptr; // lake section: linked, not used by the solver
  const Grid *LakePonding = nullptr;
  Grid TotalVolume; // water of each cell after the sub-step (tracer weights), m³
  int ThawIndex = 0, FrozenIndex = 0, PondingIndex = 0, DistanceIndex = 0, ThicknessIndex = 0;
  long HaloFirstRow = 0; // the strip widened by one row where the raster continues
  long HaloLastRow = -1;
  GroundwaterSolveReport LastSolve;
  // Sum of the heads of every layer after the solves of the sub-step on this
  // process's cells: the test that the step's water is still finite.
  double StepHeadSum = 0.0;
  std::vector<GroundwaterTracer> Tracers;

  // --- Control-point buffer ---------------------------------------------------
  bool OwnsControlCell = false;
  std::size_t ControlCapacity = 0;
  std::size_t ControlCount = 0;
  std::vector<std::int64_t> ControlDates; // 4 per record
  std::vector<double> ControlValues;      // 6 per layer per record

private:
  void ReadSettings();
  void ReadPondFlag();
  void ReadLayerFiles();
  void LinkInputGrids();
  void TakeSoilThickness();
  void CountUnusableCells();
  void RegisterStateGrids();
  void InitialiseHeads(GroundwaterLayerGrids &layer, int k);
  void InitialiseOtherGrids(GroundwaterLayerGrids &layer, int k);
  // Collective: the owner of the control cell creates its file.
  void CreateControlPointFile();
  void CreateOwnControlPointFile();
  int RegisterState(GroundwaterLayerGrids &layer, GroundwaterGridSlot slot,
                    const std::string &identifier, const GroundwaterFile &file, long first,
                    long last);
  int NextFreeEntry() const;
  bool IsModelCell(long r, long c) const;
  bool IsZoneCell(long r, long c) const;
  double GlacierAt(long r, long c) const;
  double LayerOneHead(long r, long c) const;
  double Dx(long r, long c) const { return CellSizeX != nullptr ? (*CellSizeX)[r][c] : CellSize; }
  double Dy(long r, long c) const { return CellSizeY != nullptr ? (*CellSizeY)[r][c] : CellSize; }
  bool ConductsAt(const GroundwaterLayerGrids &layer, long r, long c) const;
  void MarkSweepCells(int k);
  void ApplyFixedHeads(int k);
  void ExchangeSlot(int k, GroundwaterGridSlot slot);
  template <class Body> void ForModelCells(Body &&body) const;
  template <class Body> void ForStripCells(Body &&body) const;
  void MixTracers(int k, long r, long c, double volume, const std::array<double, 6> &inflows);
  void DecayTracers(int k, long r, long c);
  void AddTracerStatistics(int k);
  void ReleaseStateGrids();

  riverflow_table *riverflow_ = nullptr;
  SubbasinRunoffArrays *qg_ = nullptr;
  SweepScratch scratch_;
  // Declared after the grids they point at, so that a half-built module
  // leaves no registry entry behind when it is destroyed.
  RegistryEntries stateEntries_;
  RegistryEntries tracerEntries_;
};

// Every cell of the strip rows within each row's column range, rows spread
// over the threads.
template <class Body> void gwflowclass::ForStripCells(Body &&body) const {
  ParallelErrors errors;
#pragma omp parallel for schedule(runtime)
  for (long r = FirstRow; r <= LastRow; ++r) {
    long first = 1, last = NCols;
    if (RowRanges != nullptr) {
      first = (*RowRanges)[static_cast<std::size_t>(r)].first;
      last = (*RowRanges)[static_cast<std::size_t>(r)].last;
    }
    try {
      for (long c = std::max(first, 1L); c <= std::min(last, static_cast<long>(NCols)); ++c)
        body(r, c);
    } catch (int code) {
      errors.RecordLogged(code);
    }
  }
  if (errors.Any())
    throw errors.ExitCode();
}

template <class Body> void gwflowclass::ForModelCells(Body &&body) const {
  ForStripCells([&](long r, long c) {
    if (IsModelCell(r, c))
      body(r, c);
  });
}

} // namespace tavro
