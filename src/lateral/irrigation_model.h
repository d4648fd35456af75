// The irrigation module (section "[irrigation]"): water taken from rivers,
// reservoirs and groundwater onto irrigated cells. It works with the zone
// table of the soil-water module and needs routing when it is active. The
// physics comes later; this class fixes the module's interface and the
// documented wiring checks.
#pragma once

#include "kernel/module_exchange.h"
#include "kernel/module_settings.h"
#include "kernel/teilmodellklasse.h"

namespace tavro {

struct IrrigationTableEntry;

class irrigationclass : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "irrigation";
  static constexpr int RoutingMissingExitCode = 60;

  // settings carry the soil-water module's zone table.
  irrigationclass(int &error, const ModuleSettings &settings,
                  const OneBasedArray<IrrigationTableEntry> *irrigationTable);

  // When active and SpinUpSwitch is not 1.
  void InitTracerGrids(int &error, int tracerCount, OneBasedArray<TracerInfo> *info,
                       StatisticsRegistry *registry, int capacity) override;
  virtual void SetRiverflowTable(riverflow_table *table); // when active
  virtual void SetQg(SubbasinRunoffArrays *qg);           // when active
  virtual void LinkSoilTracerGrids();
  // When active: stored; a missing array (routing inactive) is fatal 60.
  virtual void SetMaxIrrig(IrrigationLimits *maxIrrig, IrrigationLimits *maxIrrigFromReservoirs);
  virtual void SetRoutingTarget(RoutingTargets *targets);
  virtual void SetAbfrel(DischargeRelations *relations);
  // The amounts (zero per subbasin) when active, none otherwise.
  virtual IrrigationAmounts *GetIrrigationAmounts();
  void ComputeTimeStep(long hour, long day, long month, long year) override;
  virtual void FlushStatistics();
  void FinishTracerGrids() override;
  void ReleaseMemory() override;

  const OneBasedArray<IrrigationTableEntry> *IrrigationTable = nullptr; // not owned
  riverflow_table *RiverflowTable() const { return riverflow_; }
  SubbasinRunoffArrays *Qg() const { return qg_; }
  IrrigationLimits *MaxIrrig() const { return maxIrrig_; }
  IrrigationLimits *MaxIrrigFromReservoirs() const { return maxIrrigFromReservoirs_; }
  RoutingTargets *RoutingTarget() const { return routingTarget_; }
  DischargeRelations *Abfrel() const { return abfrel_; }

private:
  bool WorksThisRun() const { return FlowControl != 0 && SpinUpSwitch != 1; }

  IrrigationAmounts amounts_;
  riverflow_table *riverflow_ = nullptr;
  SubbasinRunoffArrays *qg_ = nullptr;
  IrrigationLimits *maxIrrig_ = nullptr;
  IrrigationLimits *maxIrrigFromReservoirs_ = nullptr;
  RoutingTargets *routingTarget_ = nullptr;
  DischargeRelations *abfrel_ = nullptr;
};

} // namespace tavro
