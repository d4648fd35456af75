// The soil-water module (section "[unsatzon_model]"): the unsaturated zone,
// runoff generation and its concentration per subbasin. It owns the subbasin
// runoff arrays (Qg, QBb), the storage constants, the river exchange table and
// the zone table of "zonegrid_soilmodel" that the application hands to the
// lateral and routing modules, and the "[unsatzon_model]" state section.
// When active, it ranks its subbasins from "zonegrid_soilmodel" in its
// constructor and creates the handed-over arrays (zero) for them; the physics
// come later.
#pragma once

#include "kernel/grid.h"
#include "kernel/module_exchange.h"
#include "kernel/module_settings.h"
#include "kernel/teilmodellklasse.h"

#include <string>

namespace tavro {

struct IrrigationTableEntry;

class unsatzonmodellklasse : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "unsatzon_model";
  static constexpr const char *StateSection = "[unsatzon_model]";
  static constexpr const char *MeanThetaGridName = "MeanThetaInRootZone";
  static constexpr int NotInitializedExitCode = 57;
  static constexpr int PreSpinUpExitCode = 1040;

  unsatzonmodellklasse(int &error, const ModuleSettings &settings,
                       const OneBasedArray<IrrigationTableEntry> *irrigationTable,
                       int substepCount);

  // Hands the module's zone table (index, records, count, highest code) to
  // the settings of the irrigation, groundwater and routing modules: when
  // active its own subbasins, which live as long as the module.
  virtual void CopyZoneTableTo(ModuleSettings &settings) const;

  virtual void ComputeMaxPumping();
  virtual void SelectWaterInput(bool interceptionFirst); // when active
  virtual void SetDumpOptions(bool dumpMode, bool closeAfterDump, bool repairAfterDump);
  void InitTracerGrids(int &error, int tracerCount, OneBasedArray<TracerInfo> *info,
                       StatisticsRegistry *registry, int capacity) override;
  void SetSubstepCount(int count) override;

  // When active: the arrays (fatal 57 when never set up); none when inactive.
  virtual SubbasinRunoffArrays *GetQg();
  virtual SubbasinRunoffArrays *GetQBb();
  virtual SubbasinValues *GetKelsqd(); // none when inactive
  virtual SubbasinValues *GetKelsqi();
  virtual void SetSurfaceRoutingActive(int active);
  virtual riverflow_table *GetRiverflowTable(); // none when inactive
  // The state file name when active, empty otherwise.
  virtual std::string GetStorageFileName() const;
  // 1 when the groundwater module is coupled (set by the application).
  virtual void SetGroundwaterCoupling(int coupled) { GroundwaterCoupling = coupled; }
  virtual int GetStateReadMode() const { return StateReadMode; }

  virtual void AdjustToGroundwaterTable();
  virtual void BeginTimeStep(long hour, long day, long month, long year);
  // Soil water of one sub-step.
  void ComputeTimeStep(long hour, long day, long month, long year) override;
  virtual void ConcentrateRunoff(long hour, long day, long month, long year);
  virtual void FlushStatistics();
  // Pre-spin-up: requires the heat transfer model (fatal 1040 without it).
  virtual void PreSpinUpAccumulate(long hour, long day, long month, long year);
  virtual void PreSpinUpFinish();
  // With FlowControl above 0: when marked initialised and a state file name is
  // known, writes its state section (appended when append, else creating the
  // file); then releases its tracer grids, its grids and the base resources.
  virtual void FinishRun(bool append);
  virtual void WriteStorage(const std::string &fileName, bool append);
  void ReleaseMemory() override;

  // --- Fields the application and the later physics use -------------------
  int GroundwaterCoupling = 0;
  int StateReadMode = 0;       // handed to the routing and snow ReadStorage
  std::string StorageFileName; // state file; read from the section later
  int HeatTransferModel = 0;   // 0: no soil heat model (pre-spin-up refused)
  int SurfaceRoutingActive = 0;
  bool DumpMode = false;
  bool CloseAfterDump = false;
  bool RepairAfterDump = false;
  bool WaterInputFromInterception = false;
  const OneBasedArray<IrrigationTableEntry> *IrrigationTable = nullptr; // not owned

private:
  void CreateExchangeArrays();

  SubbasinRunoffArrays qg_;
  SubbasinRunoffArrays qbb_;
  SubbasinValues kelsqd_;
  SubbasinValues kelsqi_;
  riverflow_table riverflow_;
  // The subbasins of "zonegrid_soilmodel", which ZoneTable and ZoneIndex
  // point at once they are ranked.
  const Grid *subbasinGrid_ = nullptr;
  OneBasedArray<ZoneRecord> subbasinTable_;
  OneBasedArray<int> subbasinIndex_;
  Grid meanTheta_;
  int meanThetaIndex_ = 0;
  bool exchangeArraysCreated_ = false;
};

} // namespace tavro
