// The irrigation module (section "[irrigation]"): per step and cell the
// amount each irrigation code asks for, taken from groundwater (up to the
// soil's "Max_Pumping") or from surface water (reservoirs first, then the
// river, as far as the routing reports them), added to "precipitation". The
// cells are computed by the processes that own them; the subbasins' demands
// meet on the routing process, which decides the supply and sends back the
// supplied fraction per subbasin.
#pragma once

#include "kernel/exact_sum.h"
#include "kernel/grid.h"
#include "kernel/module_exchange.h"
#include "kernel/module_settings.h"
#include "kernel/teilmodellklasse.h"

#include <memory>
#include <string>
#include <vector>

namespace tavro {

struct IrrigationTableEntry;
class ModuleStatistic;
class CellIteration;

class irrigationclass : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "irrigation";
  static constexpr int RoutingMissingExitCode = 60;

  // settings carry the soil-water module's zone table.
  irrigationclass(int &error, const ModuleSettings &settings,
                  const OneBasedArray<IrrigationTableEntry> *irrigationTable);
  ~irrigationclass() override;

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
  // The surface-water amounts per subbasin when active, none otherwise.
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
  // Per subbasin 1..count of the last step: the supplied fraction of the
  // surface-water demand, the demand (m3) and the applied surface water (m3).
  const std::vector<double> &SuppliedFraction() const { return fraction_; }
  const std::vector<double> &DemandVolume() const { return demandVolume_; }
  const std::vector<double> &AppliedVolume() const { return appliedVolume_; }

private:
  bool WorksThisRun() const { return FlowControl != 0 && SpinUpSwitch != 1; }
  CellIteration Cells() const;
  void LinkGrids();
  // The entry of a cell's code, or null for a code outside the table.
  const IrrigationTableEntry *EntryOf(long row, long column) const;
  double CellArea(long row, long column) const; // m2, weighted
  void ComputeDemand(long month, long day);
  void DecideSupply();
  void ApplySupply();
  void EndStatistics(long hour, long day, long month, long year);
  // Collective: ends the run when the step's water is no usable number,
  // naming the first cell that is not.
  void StopIfNotFinite(double water) const;

  IrrigationAmounts amounts_;
  riverflow_table *riverflow_ = nullptr;
  SubbasinRunoffArrays *qg_ = nullptr;
  IrrigationLimits *maxIrrig_ = nullptr;
  IrrigationLimits *maxIrrigFromReservoirs_ = nullptr;
  RoutingTargets *routingTarget_ = nullptr;
  DischargeRelations *abfrel_ = nullptr;

  std::string groundwaterFile_;
  int groundwaterCode_ = 0;
  std::string surfaceFile_;
  int surfaceCode_ = 0;
  std::unique_ptr<ModuleStatistic> groundwaterTable_;
  std::unique_ptr<ModuleStatistic> surfaceTable_;

  Grid *precipitation_ = nullptr;
  const Grid *codes_ = nullptr;
  const Grid *maxPumping_ = nullptr;
  Grid *amountsGrid_ = nullptr; // "irrigation_amounts"
  int amountsIndex_ = 0;        // its registry entry, written by its writecode every step
  const Grid *sb1_ = nullptr;
  const Grid *sbLow_ = nullptr;
  const Grid *sbHigh_ = nullptr;
  const Grid *etr2etp_ = nullptr;
  const Grid *rootDepth_ = nullptr;
  Grid previous_;                         // the module's own amount of the last step, per cell
  Grid demand_;                           // this step's amount before the supply, per cell
  std::vector<const Grid *> tracerInput_; // [1..n] "concflux_tracer_<k>_input"
  std::vector<const Grid *> tracerSoil_;  // [1..n] "concstor_tracer_<k>_unsatzon_model"

  std::vector<double> fraction_;      // [1..count]
  std::vector<double> riverConc_;     // [k * (count + 1) + i]
  std::vector<double> demandVolume_;  // [1..count] m3
  std::vector<double> appliedVolume_; // [1..count] m3
};

} // namespace tavro
