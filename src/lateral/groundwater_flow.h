// The groundwater module (section "[groundwater_flow]"): groundwater flow in
// sub-steps, coupled to the soil-water module when its flow control
// parameter is not 0. It works with the zone table of the soil-water module.
// The physics comes later; this class fixes the module's interface.
#pragma once

#include "kernel/module_exchange.h"
#include "kernel/module_settings.h"
#include "kernel/teilmodellklasse.h"

namespace tavro {

struct IrrigationTableEntry;

class gwflowclass : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "groundwater_flow";

  // settings carry the soil-water module's zone table.
  gwflowclass(int &error, const ModuleSettings &settings,
              const OneBasedArray<IrrigationTableEntry> *irrigationTable, int substepCount);

  void InitTracerGrids(int &error, int tracerCount, OneBasedArray<TracerInfo> *info,
                       StatisticsRegistry *registry, int capacity) override;
  void SetSubstepCount(int count) override;
  virtual void SetRiverflowTable(riverflow_table *table); // when active
  virtual void SetQg(SubbasinRunoffArrays *qg);           // when active
  virtual void BeginTimeStep(long hour, long day, long month, long year);
  // Groundwater flow of one sub-step.
  void ComputeTimeStep(long hour, long day, long month, long year) override;
  virtual void WriteStepOutput(long hour, long day, long month, long year);
  virtual void FlushStatistics();
  void FinishTracerGrids() override;
  void ReleaseMemory() override;

  const OneBasedArray<IrrigationTableEntry> *IrrigationTable = nullptr; // not owned
  riverflow_table *RiverflowTable() const { return riverflow_; }
  SubbasinRunoffArrays *Qg() const { return qg_; }

private:
  riverflow_table *riverflow_ = nullptr;
  SubbasinRunoffArrays *qg_ = nullptr;
};

} // namespace tavro
