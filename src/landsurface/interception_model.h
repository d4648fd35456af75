// The interception module (section "[interception_model]"): for every cell
// and vegetation layer a store of intercepted water. Each step the water that
// reaches a layer falls partly through the gaps of its cover, is partly caught
// up to the store's capacity, drips through beyond it, and the store
// evaporates at the layer's potential rate from the evapotranspiration module,
// which is lowered by what the store took. The throughfall of one layer feeds
// the next; the last layer's is "throughfall0". Methods 1 and 2 run after
// snow and take its outflow (or the precipitation), 11 and 12 run before it
// and take the precipitation; methods 1 and 11 evaporate at the potential
// transpiration, 2 and 12 at the potential interception evaporation.
//
// Grids it registers (k = 0 the cell's total, 1..L the layers):
// "interception_storage" + k (mm), "interception_evaporation" + k and
// "throughfall" + k (mm per step). An undivided canopy also carries the
// tracers through its store.
#pragma once

#include "kernel/grid.h"
#include "kernel/module_settings.h"
#include "kernel/registry_entries.h"
#include "kernel/teilmodellklasse.h"
#include "landsurface/interception_store/interception_store.h"
#include "raster/output/module_statistic.h"
#include "raster/parallel/cell_iteration.h"

#include <memory>
#include <string>
#include <vector>

namespace tavro {

class interzeptionsmodellklasse : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "interception_model";

  // error: 0, or the exit code (also thrown) of a failed construction.
  interzeptionsmodellklasse(int &error, const ModuleSettings &settings);
  ~interzeptionsmodellklasse() override;

  // The method when the module is active (flow control parameter above 0),
  // else 0, so an inactive interception never runs first.
  virtual int GetMethod() const;
  // The base tracer grids, then for every tracer the input concentration:
  // the flux of snow, of irrigation or of the input, the first that exists.
  void InitTracerGrids(int &error, int tracerCount, OneBasedArray<TracerInfo> *info,
                       StatisticsRegistry *registry, int capacity) override;
  void ComputeTimeStep(long hour, long day, long month, long year) override;
  virtual void FlushStatistics();
  void FinishTracerGrids() override;
  void ReleaseMemory() override;

  // --- For tests ----------------------------------------------------------
  int LayerCount() const { return layerCount_; }
  double MaxWaterLayerThickness() const { return maxThickness_; }
  const std::string &WaterInputName() const { return waterInputName_; }
  // Registry entries per layer 0..L.
  const std::vector<int> &StorageIndexes() const { return storageIndex_; }
  const std::vector<int> &EvaporationIndexes() const { return evaporationIndex_; }
  const std::vector<int> &ThroughfallIndexes() const { return throughfallIndex_; }
  // The water of the last step over the cells of this process (the
  // non-glacierised and the glacierised cells alike, as the grids hold them).
  const interception::InterceptionBalance &StepBalance() const { return balance_; }

private:
  struct LayerStatistics {
    std::unique_ptr<ModuleStatistic> evaporation;
    std::unique_ptr<ModuleStatistic> storage;
    std::unique_ptr<ModuleStatistic> throughfall;
  };
  // The names of a layer's grids and statistics.
  struct LayerNames {
    std::string throughfall, evaporation, storage;
    StatisticsFile throughfallStatistics, evaporationStatistics, storageStatistics;
  };

  void ReadSection();
  void FindGrids();
  void RegisterLayer(int k, const LayerNames &names);
  int FreeIndex() const;
  CellIterationSetup Cells() const;
  double GlacierFraction(long row, long column) const;
  // The cell's water in the step; the tracers only with one layer.
  interception::InterceptionBalance InterceptCell(long row, long column);
  void InterceptLayers(long row, long column, double input);
  void InterceptSingleLayer(long row, long column, double input);
  void CarryTracers(long row, long column, double storeBefore,
                    const interception::StoreFilling &filling);
  // A fully glacierised cell: no store, no evaporation; water, the cell's
  // water input and what its stores held, goes on only when interception
  // runs before snow.
  void ClearGlacierCell(long row, long column, double water);
  // Ends the run (collectively) when the step's balance is not a usable
  // number, naming the first cell that is not.
  void StopIfNotFinite() const;
  void AddStatistics();
  void EndStep(long hour, long day, long month, long year);
  double Capacity(long row, long column, int k) const;

  int method_ = 0;
  interception::EvaporationRate rate_ = interception::EvaporationRate::None;
  int layerCount_ = 1;
  double maxThickness_ = 0.0; // mm per unit of leaf area index
  int storageWritecode_ = 0;
  int evaporationWritecode_ = 0;
  int throughfallWritecode_ = 0;
  LayerNames layer0_;
  std::string waterInputName_;

  // Grids of others (not owned).
  const Grid *zone_ = nullptr;
  const Grid *waterInput_ = nullptr;
  const Grid *glacier_ = nullptr;
  std::vector<const Grid *> landuse_;               // 1..L
  std::vector<const Grid *> leafAreaIndex_;         // 1..L
  std::vector<const Grid *> vegetationCover_;       // 1..L
  std::vector<Grid *> potentialTranspiration_;      // 0..L, lowered in place
  std::vector<const Grid *> potentialInterception_; // 0..L
  std::vector<const Grid *> tracerInput_;           // 1..tracers

  // Own grids per layer 0..L; never moved once registered.
  std::vector<std::unique_ptr<Grid>> storage_;
  std::vector<std::unique_ptr<Grid>> evaporation_;
  std::vector<std::unique_ptr<Grid>> throughfall_;
  std::vector<int> storageIndex_;
  std::vector<int> evaporationIndex_;
  std::vector<int> throughfallIndex_;
  RegistryEntries entries_;
  std::vector<LayerStatistics> statistics_;
  std::vector<StatisticsCell> statisticsCells_; // the valid cells of the process

  interception::InterceptionBalance balance_;
  bool released_ = false;
};

} // namespace tavro
