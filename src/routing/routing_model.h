// The routing module (section "[routing_model]"): routes the subbasin runoff
// through rivers, reservoirs and lakes. On rank 0 its construction reads the
// module's values and the routing descriptions, builds one routing subbasin
// per description with its channels, water-level/discharge tables (written
// as "wq_table.%.3d" and "wq_tabZL.%.3d") and inflows, and fixes the order in
// which they are computed: upstream first. Each step it routes the runoff
// of every subbasin, compares it with observed discharge and writes the
// routed-discharge table (with the goodness of fit at the end of the run).
// It provides the irrigation arrays and writes the "[routing_model]" state
// section, which starts the state file. Every other rank stops after the base
// construction; it keeps whether the routing is on and takes part in the
// exchanges of the river table and of the lake cells.
#pragma once

#include "kernel/model_date.h"
#include "kernel/module_exchange.h"
#include "kernel/module_settings.h"
#include "kernel/teilmodellklasse.h"
#include "raster/output/goodness_of_fit.h"
#include "raster/output/route_statistic.h"
#include "routing/observed_discharge.h"
#include "routing/routing_description.h"
#include "routing/routing_flow_arrays.h"
#include "routing/routing_network.h"
#include "routing/routing_subbasin.h"

#include <memory>
#include <string>
#include <vector>

namespace tavro {

class abflussmodellklasse : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "routing_model";
  static constexpr const char *StateSection = "[routing_model]";
  static constexpr int StorageOpenExitCode = 64;
  static constexpr int NoDischargesExitCode = 43;
  static constexpr const char *DefaultStateFile = "storage.ftz";
  // Bounds of the table intervals N and the sub-intervals K of a step.
  static constexpr double MaxTableIntervals = 10000.0;
  static constexpr int MaxSubIntervals = 1440;

  // settings carry the soil-water module's zone table and the START of the
  // model time as their date; stateReadMode is the soil-water module's.
  abflussmodellklasse(int &error, const ModuleSettings &settings, int tracerCount,
                      OneBasedArray<TracerInfo> *tracerInfo, int stateReadMode);

  // When active: stores the arrays to be routed; none is fatal (43).
  virtual void SetQg(SubbasinRunoffArrays *qg);
  virtual void InitLakeModel(bool interceptionFirst = false);
  // The first discharges in the flow arrays, the channel storages, and the
  // initialisation passes (none with LakeGridSwitch set).
  virtual void InitializeDischarges();
  virtual void SetIrrigationAmounts(IrrigationAmounts *amounts); // when active
  // On every rank where the routing is on (collective): keeps the table;
  // rank 0 fills it through the routing subbasins and sends it to the others.
  virtual void SetRiverflowTable(riverflow_table *table);
  // Keeps the name for WriteStorage; with a read mode other than 0, 2 and 4
  // reads the section (64 when the file does not open, 71 when the section
  // is missing or does not fit the network).
  virtual void ReadStorage(const std::string &fileName, int readMode);
  // The section, creating the file (the kept name, else "storage.ftz").
  virtual void WriteStorage();
  // The irrigation arrays on every rank when the routing is on (filled on
  // rank 0), none when it is off.
  virtual IrrigationLimits *GetMaxIrrig();
  virtual IrrigationLimits *GetMaxIrrigFromReservoirs();
  virtual RoutingTargets *GetRoutingTarget();
  virtual DischargeRelations *GetAbfrel();
  // On every rank: lake gathers, the river exchange to rank 0, the routing
  // (rank 0), the river flows to every rank, the ponding back to the lake cells.
  void ComputeTimeStep(long hour, long day, long month, long year) override;
  // The routed value of subbasin j in RoutingDischargeUnit.
  double RoutedDischarge(int subbasin) const;
  virtual void FlushStatistics();
  // Module on: per tracer the concentration table of the routed water of
  // every subbasin, and the decay factors of the routing step and of its
  // sub-intervals (0 for a half-life of 0 or less, 1 for a tracer that does
  // not decay), kept here: the shared tracer description is not written.
  void InitTracerGrids(int &error, int tracerCount, OneBasedArray<TracerInfo> *info,
                       StatisticsRegistry *registry, int capacity) override;
  void FinishTracerGrids() override;
  double StepDecay(int tracer) const;
  double SubIntervalDecay(int tracer) const;
  // Appends the buffered tables of every abstraction and reservoir.
  virtual void FlushOutputs();
  // With FlowControl above 0 and marked initialised: writes its state
  // section, creating the state file named to ReadStorage; then releases.
  void ReleaseMemory() override;

  SubbasinRunoffArrays *Qg() const { return qg_; }
  IrrigationAmounts *Irrigation() const { return irrigationAmounts_; }
  riverflow_table *RiverflowTable() const { return riverflow_; }
  const std::string &StorageFileName() const { return storageFileName_; }

  // --- The routing network (rank 0, module on) --------------------------------
  // 1 on rank 0; elsewhere the flow control parameter as read.
  int RoutingOn() const { return routingOn_; }
  // The flow control parameter as read, the same on every rank: the
  // collective exchanges take place when it is not 0.
  bool ExchangesOn() const { return flowControlRead_ != 0; }
  const GoodnessOfFitSums &FitSums() const { return fit_; }
  const ObservedDischarge &Observed() const { return observed_; }
  routstatistic *DischargeTable() { return statistic_.get(); }
  const std::vector<std::int64_t> &LakeCellsPerRank() const { return lakeCellsPerRank_; }
  int PrecOnLakesIndex() const { return precOnLakesIndex_; }
  // The two halves of the lake exchange of a step (collective): the values
  // of every lake cell into rank 0's copies, and the ponding back to the
  // owners from rank 0's copy.
  void GatherLakeCells();
  void ScatterPonding();
  // Rank 0: the whole-raster copy of a gathered grid (registry index); none
  // elsewhere or for a grid that is not gathered.
  Grid *LakeCopy(int registryIndex);
  int WaterInputIndex() const { return waterInputIndex_; }
  int RoutingSubbasinCount() const {
    return subbasins_.empty() ? 0 : static_cast<int>(subbasins_.size()) - 1;
  }
  // Routing subbasin 1..count, in the order of the descriptions.
  routingclass &RoutingSubbasin(int number) {
    return *subbasins_.at(static_cast<std::size_t>(number));
  }
  // Description numbers in the order of computation: upstream first.
  const std::vector<int> &ComputationOrder() const { return order_.Order; }
  const std::vector<RoutingDescription> &Descriptions() const { return descriptions_; }
  RoutingFlowArrays &Flows() { return flows_; }
  const DescriptionCountResult &DescriptionCounts() const { return counts_; }
  int MaxStorageElements() const { return maxStorageElements_; }

  int StateReadMode = 0;
  ModelDate StartDate; // start of the model time
  bool LakeModelInitialized = false;
  bool DischargesInitialized = false;
  long InitializationPasses = 0; // ceil(travel times x 60 / dt), at least 1
  int RoutingDischargeUnit = 0;
  int LakeGridSwitch = 0;
  int LakeSwitch = 0;

  // --- Values of "[routing_model]" ------------------------------------------------
  double QspecMin = 0.0;       // l/s/km2
  double QspecMax = 0.0;       // l/s/km2
  double TableIntervals = 0.0; // N
  int SubIntervals = 0;        // K
  int ObservedComparison = 0;  // 1 with flow control parameter 2
  std::string StatisticsFileName;
  int StatisticsCode = 0;
  std::string ObservedFileName;
  OneBasedArray<int> ObservedColumn; // per subbasin 1..nsub, 0 = none
  int FitStartOffset = 0;

private:
  void ReadValues();
  void ReadColumnDescriptors(int count);
  void CountDescriptions();
  void FindDescriptionsAgain();
  void BuildRoutingSubbasins();
  void BuildRoutingSubbasin(const RoutingDescription &description);
  // Before the routing: the rivers' part of each subbasin's applied surface
  // water (mm); after it: the upstream demands added to the limits below.
  void IrrigationDemandOfTheRivers();
  void IrrigationLimitsDownstream();
  // Every internal inflow to the internal abstraction of its number (300-303).
  void ConnectInternalAbstractions();
  void FinishRoutingSubbasins();
  void ReadDischargeUnit();
  void OpenObservedDischarge();
  void ReleasePrecOnLakes();
  void CreateDischargeTable();
  SubbasinCodes Codes() const;
  // The runoff of the step into RoutingInput and the copies per sub-interval.
  void CopyRunoff();
  void CopySubIntervals();
  void RouteAll(long year, long month, long day, long hour);
  void RouteStep(long hour, long day, long month, long year);
  // Collective: ends the run when a routed flow is no usable number.
  void StopIfFlowsNotFinite() const;
  void CompareWithObserved();
  void WriteStepStatistics(long hour, long day, long month, long year);
  double ToDischargeUnit(int subbasin, double runoff) const;
  void BuildTracerStatistic(int tracer, const TracerInfo &info, StatisticsRegistry *registry,
                            int capacity);
  void WriteTracerStatistics(long hour, long day, long month, long year);
  void FlushTracerStatistics();
  // Lakes.
  void ReadLakeParameters(const std::string &section);
  // On the ranks whose construction stopped early: the same from the
  // control file opened anew.
  void ReadLakeParametersAgain();
  void CreatePrecOnLakes();
  void FindLakeGrids(bool interceptionFirst);
  void CountLakeCells();
  bool LakeExchangeOn() const;

  ModuleSettings settings_;
  int routingOn_ = 0;
  int descriptorCount_ = 0;
  DescriptionCountResult counts_;
  std::vector<RoutingDescription> descriptions_;
  RoutingOrder order_;
  std::vector<std::unique_ptr<routingclass>> subbasins_; // 0 holds none
  int maxStorageElements_ = 0;
  RoutingFlowArrays flows_;

  SubbasinRunoffArrays *qg_ = nullptr;
  IrrigationAmounts *irrigationAmounts_ = nullptr;
  riverflow_table *riverflow_ = nullptr;
  IrrigationLimits maxIrrig_;
  IrrigationLimits maxIrrigFromReservoirs_;
  RoutingTargets routingTarget_;
  DischargeRelations abfrel_;
  std::string storageFileName_;
  int flowControlRead_ = 0;
  GoodnessOfFitSums fit_;
  int fitStepCounter_ = 0;
  ObservedDischarge observed_;
  std::vector<double> saved_; // initialisation passes: RoutingInput[k][1..nsub]
  std::unique_ptr<routstatistic> statistic_;
  std::vector<ZoneRecord> statisticZones_;
  std::vector<double> subIntervalDecay_; // per tracer 1..n
  std::vector<double> statisticAreas_;
  // Lakes: cells per rank, the exchanged grids' registry entries.
  std::vector<std::int64_t> lakeCellsPerRank_;
  int lakeMaskIndex_ = 0;
  std::vector<int> lakeGatherIndices_; // in the order of the exchange
  int waterInputIndex_ = 0;
  int pondingIndex_ = 0;
  int precOnLakesIndex_ = 0;
  Grid precOnLakes_;
  Grid lakeMask_;                // valid, owned lake cells: 1, else nodata
  std::vector<Grid> lakeCopies_; // rank 0, per gathered grid
  LakeGrids lakeGrids_;          // rank 0: the copies the lakes work on
};

} // namespace tavro
