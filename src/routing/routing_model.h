// The routing module (section "[routing_model]"): routes the subbasin runoff
// through rivers, reservoirs and lakes. On rank 0 its construction reads the
// module's values and the routing descriptions, builds one routing subbasin
// per description with its channels, water-level/discharge tables (written
// as "wq_table.%.3d" and "wq_tabZL.%.3d") and inflows, and fixes the order in
// which they are computed: upstream first. It provides the irrigation arrays
// and writes the "[routing_model]" state section, which starts the state
// file. Every other rank stops after the base construction and only keeps
// whether the routing is on.
#pragma once

#include "kernel/model_date.h"
#include "kernel/module_exchange.h"
#include "kernel/module_settings.h"
#include "kernel/teilmodellklasse.h"
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
  // Bounds of the table intervals N and the sub-intervals K of a step.
  static constexpr double MaxTableIntervals = 10000.0;
  static constexpr int MaxSubIntervals = 1440;

  // settings carry the soil-water module's zone table and the START of the
  // model time as their date; stateReadMode is the soil-water module's.
  abflussmodellklasse(int &error, const ModuleSettings &settings, int tracerCount,
                      OneBasedArray<TracerInfo> *tracerInfo, int stateReadMode);

  // When active: stores the arrays to be routed.
  virtual void SetQg(SubbasinRunoffArrays *qg);
  virtual void InitLakeModel();
  virtual void InitializeDischarges();
  virtual void SetIrrigationAmounts(IrrigationAmounts *amounts); // when active
  virtual void SetRiverflowTable(riverflow_table *table);        // when active
  // When fileName is given and readMode is neither 0, 2 nor 4: reads its state
  // section; a file that does not open is fatal (64).
  virtual void ReadStorage(const std::string &fileName, int readMode);
  virtual void WriteStorage(const std::string &fileName, bool append);
  // The irrigation arrays when active, none otherwise.
  virtual IrrigationLimits *GetMaxIrrig();
  virtual IrrigationLimits *GetMaxIrrigFromReservoirs();
  virtual RoutingTargets *GetRoutingTarget();
  virtual DischargeRelations *GetAbfrel();
  // Stores the date; when active, routes the step's runoff (later).
  void ComputeTimeStep(long hour, long day, long month, long year) override;
  virtual void FlushStatistics();
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
  void FinishRoutingSubbasins();
  SubbasinCodes Codes() const;

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
};

} // namespace tavro
