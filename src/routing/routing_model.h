// The routing module (section "[routing_model]"): routes the subbasin runoff
// through rivers, reservoirs and lakes. It provides the irrigation arrays for
// water from rivers and reservoirs and writes the "[routing_model]" state
// section, which starts the state file. The routing itself comes later; this
// class fixes the module's interface and creates the arrays (zero) it hands
// over when it is active.
#pragma once

#include "kernel/model_date.h"
#include "kernel/module_exchange.h"
#include "kernel/module_settings.h"
#include "kernel/teilmodellklasse.h"

#include <string>

namespace tavro {

class abflussmodellklasse : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "routing_model";
  static constexpr const char *StateSection = "[routing_model]";
  static constexpr int StorageOpenExitCode = 64;

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
  virtual SubbasinValues *GetMaxIrrig();
  virtual SubbasinValues *GetMaxIrrigFromReservoirs();
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
  int StateReadMode = 0;
  ModelDate StartDate; // start of the model time
  bool LakeModelInitialized = false;
  bool DischargesInitialized = false;

private:
  SubbasinRunoffArrays *qg_ = nullptr;
  IrrigationAmounts *irrigationAmounts_ = nullptr;
  riverflow_table *riverflow_ = nullptr;
  SubbasinValues maxIrrig_;
  SubbasinValues maxIrrigFromReservoirs_;
  RoutingTargets routingTarget_;
  DischargeRelations abfrel_;
  std::string storageFileName_;
};

} // namespace tavro
