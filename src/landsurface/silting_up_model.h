// The silting-up module (section "[SiltingUpModel]"): the sealing of the
// surface of tilled soils by the impact of rain. Every step and cell it
// accumulates the kinetic energy of the rain since the last long rain pause,
// reduced by plant and residue cover; lets the infiltration capacity decay
// with that energy from an initial to a final rate, at a rate (the
// disposition) that depends on the soil texture and the time since tillage;
// and takes the water above the capacity out of the cell's water input as
// direct runoff, before the soil-water module sees the input. Tracers leave
// with the direct runoff.
//
// Methods 1 and 2 use the built-in formulas (method 1 with the default
// parameters A to H, method 2 with the section's), method 3 the user's
// formulas, evaluated by the expression parser (silting_up_expressions.h).
// The formulas of a cell are in silting_up/silting_up_kernels.h, the section
// in silting_up_section.h; this class owns the grids and the loops.
//
// Registers "SiltingUpDisposition", "RainPause", "KineticEnergy",
// "TimeSinceLastSoilTillage" and "DirectRunoffSiltingUp" in consecutive
// registry entries; works on the water input it selects ("snowcover_outflow",
// "throughfall0" or "precipitation") and on the standard grid
// "SurfStorSiltingUp" (surface storage, mm), which the control file defines.
#pragma once

#include "kernel/grid.h"
#include "kernel/module_settings.h"
#include "kernel/registry_entries.h"
#include "kernel/teilmodellklasse.h"
#include "landsurface/silting_up/silting_up_expressions.h"
#include "landsurface/silting_up/silting_up_kernels.h"
#include "landsurface/silting_up_section.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavro {

class ModuleStatistic;
class ParallelErrors;
class landuse_class;
class soil_class;

class siltingupclass : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "SiltingUpModel";
  static constexpr int GlacierExitCode = 2;
  static constexpr int NoSandExitCode = 10;
  static constexpr int CloseExitCode = 11;
  static constexpr int NoFreeGridExitCode = 12;
  static constexpr int ExpressionExitCode = 403;
  static constexpr int StatisticsDecimals = 4;

  // Sums over this process's cells of the last step (mm), in the order of
  // the raster: the water at the surface (input and surface storage before
  // the step, the surface storage after it), the water that infiltrates (the
  // new input) and the direct runoff; water = infiltrating + directRunoff.
  struct StepBalance {
    double water = 0.0;
    double infiltrating = 0.0;
    double directRunoff = 0.0;
  };

  // error: 0, or the exit code (also thrown) of a failed construction.
  siltingupclass(int &error, const ModuleSettings &settings);
  ~siltingupclass() override;

  // When active: keeps the flag and, the first time, chooses the water
  // input: "snowcover_outflow", "throughfall0", "precipitation" when
  // interception runs first, else "throughfall0", "snowcover_outflow",
  // "precipitation" (the first registered; none is fatal, 33).
  virtual void SelectWaterInput(bool interceptionFirst);
  // When active: the tracer records, each with the input concentration of
  // the first registered flux of interception, snow, irrigation or input.
  void InitTracerGrids(int &error, int tracerCount, OneBasedArray<TracerInfo> *info,
                       StatisticsRegistry *registry, int capacity) override;
  // The step (collective): every computed cell in parallel over rows, the
  // response-unit copies, the statistics and the output grids. A failing
  // formula ends the run with 403 after the region, its FATAL entry logged
  // once.
  void ComputeTimeStep(long hour, long day, long month, long year) override;
  virtual void FlushStatistics();
  void FinishTracerGrids() override;
  // Releases the statistics, the grids and their entries, then the base.
  void ReleaseMemory() override;

  bool WaterInputFromInterception() const { return interceptionFirst_; }
  const Grid *WaterInput() const { return waterInput_; }
  int Method() const { return section_.method; }
  const SiltingUpSection &Section() const { return section_; }
  const StepBalance &LastBalance() const { return balance_; }
  bool SurfaceRoutingActive() const { return surfaceRouting_; }

private:
  // The values of the step that every cell shares.
  struct StepDate {
    int day = 0;
    int month = 0;
    int year = 0;
  };

  void FindInputGrids();
  void CheckSandOfTheCells() const;
  void CreateStatistics();
  void RegisterOutputGrids();
  const landuse_class &LanduseRecord(long row, long column) const;
  const soil_class &SoilRecord(long row, long column) const;
  int ZoneOfCell(long row, long column) const;

  // One cell; evaluator: the thread's formulas (method 3 only).
  void ComputeCell(long row, long column, const StepDate &date,
                   siltingup::ExpressionEvaluator *evaluator);
  double CellCover(const landuse_class &record, long row, long column, const StepDate &date) const;
  void AddTracerInput(long row, long column, double input, double storage);
  void ExportTracers(long row, long column, double directRunoff, double storage);
  // The disposition and the capacity of the formulas; the energy updated.
  double FormulaCapacity(long row, long column, const siltingup::ExpressionInputs &inputs,
                         siltingup::EnergyStep energy, siltingup::ExpressionEvaluator &evaluator);
  [[noreturn]] void FormulaFailed(const siltingup::ExpressionEvaluator &evaluator) const;
  // Inside the cell loop the first failure is kept for the calling thread to
  // log once after the loop; outside it is logged and thrown at once.
  [[noreturn]] void CellFailed(int exitCode, const std::string &message) const;
  void RunCells(const StepDate &date);
  // The statistics and the balance of the step; returns the sum of the
  // disposition over the same cells.
  double CompleteStep();
  // Ends the run (collectively) when the step's sums are not finite, naming
  // the first cell that is not.
  void StopIfNotFinite(double dispositionSum) const;
  void WriteOutput();

  SiltingUpSection section_;
  bool surfaceRouting_ = false;
  bool surfaceRoutingLookedUp_ = false;
  bool interceptionFirst_ = false;
  int layerCount_ = 1;
  const Grid *elevation_ = nullptr;
  Grid *waterInput_ = nullptr;                // mm per step, not owned
  std::string waterInputName_;                // its registry identifier
  std::vector<const Grid *> landuse_;         // layers 1..L
  std::vector<const Grid *> vegetationCover_; // layers 1..L
  const Grid *soilTypes_ = nullptr;
  Grid *surfaceStorage_ = nullptr;             // "SurfStorSiltingUp" (mm), not owned
  std::array<Grid, SiltingUpGridCount> grids_; // in the order of SiltingUpGrid
  std::array<int, SiltingUpGridCount> gridIndex_{};
  std::unique_ptr<ModuleStatistic> dispositionStatistics_;
  std::unique_ptr<ModuleStatistic> runoffStatistics_;
  std::vector<const Grid *> tracerInput_; // tracers 1..n: input concentration
  // Method 3: one evaluator per thread, built at the first step.
  std::vector<std::unique_ptr<siltingup::ExpressionEvaluator>> evaluators_;
  // The first failed cell of a step's parallel region.
  ParallelErrors *cellErrors_ = nullptr;
  StepBalance balance_;
  bool released_ = false;
  // Declared last: its entries are released before the grids go.
  RegistryEntries entries_;
};

} // namespace tavro
