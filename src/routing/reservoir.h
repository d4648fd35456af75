// One reservoir or lake "SP" of a routing subbasin (`SP_class`): it stores
// the routed water of its subbasin, releases it by its operation rule, gives
// water to irrigation and to the abstractions, mixes the tracers and writes
// one table row per step. The rule, the release and the lake table are the
// kernels of reservoirs/; this class reads the element and the rule
// section, keeps the state and the table.
#pragma once

#include "routing/element_table_writer.h"
#include "routing/reservoirs/lake_table.h"
#include "routing/reservoirs/lake_water.h"
#include "routing/reservoirs/operation_rule.h"

#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tavro {

class DiagnosticsLog;
class ComponentTable;
class AL_class;
class Grid;

// The terms of one step, m3 (what the table reports as m3, mm and m3/s).
struct ReservoirReport {
  enum Term { Qin, Qout, Irrig, QGW, ETR, PREC, dV, Abstr, Err, Count };
  std::array<double, Count> m3{};
  double area = 0.0;       // lake area with water, m2
  double inflowRate = 0.0; // m3/s
  double outflowRate = 0.0;
  double seconds = 0.0; // length of the step
};

// The water that a lake's cells exchanged in the step (m3), gathered by the
// routing before the balance.
struct LakeExchange {
  double volume = 0.0;                // ponded water on the lake's cells
  std::vector<double> concentrations; // [1..n]
  double groundwater = 0.0;
  double evaporation = 0.0;
  double precipitation = 0.0;
  double overflow = 0.0; // spilled over the cells' largest depth
  double wetArea = 0.0;  // m2 of cells with water
};

// Rank 0's whole-raster copies of the grids the lakes read and write (the
// routing module gathers the lake cells into them before the routing and
// sends the ponding back after it).
struct LakeGrids {
  Grid *ponding = nullptr;       // mm
  Grid *evaporation = nullptr;   // mm per step, of the ponds
  Grid *exchange = nullptr;      // mm per step, into the ponds
  Grid *overflow = nullptr;      // mm per step, out of the ponds
  Grid *precipitation = nullptr; // mm per step
  std::vector<Grid *> tracers;   // per tracer 1..n at k - 1
};

class SP_class {
public:
  static constexpr int kFileExitCode = 37;

  // decayPerStep[k]: factor per routing step of radioactive tracer k, 1 otherwise.
  void Setup(DiagnosticsLog &log, const std::vector<std::string> &tracerNames,
             std::vector<double> decayPerStep, int subbasinCode, std::string outputDirectory);
  // Reads "file", "V0", "C0" and "dTmin" behind `position` of the description;
  // a key missing there is fatal (35) even when it stands before the element.
  void ReadParameters(const std::string &description, std::size_t position, int number);
  // A lake's table (lake switch on): levels for the W column and the spill.
  void SetLakeTable(LakeTable table) { lake_ = std::move(table); }
  const LakeTable *Lake() const { return lake_ ? &*lake_ : nullptr; }
  // The lake's cells (row, column), row by row, their elevations (m) and
  // the area of one cell (m2).
  void SetLakeCells(std::vector<std::pair<long, long>> cells, std::vector<double> elevations,
                    double cellArea);
  bool IsLake() const { return lake_.has_value() && !lakeCells_.empty(); }
  const std::vector<std::pair<long, long>> &LakeCells() const { return lakeCells_; }
  // The cells' values from the grids, and their ponding and tracers back.
  void LoadLakeCells(const LakeGrids &grids);
  void StoreLakeCells(LakeGrids &grids) const;
  // The start: from the water ponded on the cells (fromCells) or the
  // initial volume spread over them.
  void StartLake(bool fromCells);
  // A lake step's start: the terms the cells exchanged, their water gathered
  // and spread again with one level, and the area then wet.
  LakeExchange TakeWaterFromCells();
  // The stored volume spread over the cells; returns the level (m).
  double SpreadOverCells();
  void WriteHeader();
  // Reads "[abstraction_rule_reservoir_<n>]" (34; for a lake also when the
  // rule's row count lies past its level table).
  void ReadRules(std::FILE *controlFile);

  // Mean release (m3/s) over a step of dt minutes from the current volume;
  // the direct abstractions (mode 8) get their rates, within the water.
  double EvaluateRules(double inflow, double dt, const ComponentTable &routingInput,
                       const std::vector<AL_class *> &direct, int year, int month, int day,
                       int hour);
  // One step: irrigation and abstraction volumes (m3) leave first, then the
  // rule's release and the direct abstractions; inflowConcentrations[k] is
  // the concentration of the inflow. lake: the water gathered from its cells.
  void ComputeBalance(double dt, double irrigation, double abstraction,
                      const ComponentTable &routingInput, double inflow,
                      const double *inflowConcentrations, const std::vector<AL_class *> &direct,
                      const LakeExchange *lake, int year, int month, int day, int hour);

  void BufferRow(int year, int month, int day, int hour);
  void FlushBuffer(int flag);

  static double MixConcentration(double c, double cIn, double v, double vIn);

  int number = 0;
  std::vector<double> state;         // [0] m3, [k] concentrations
  std::vector<double> previousState; // at the start of the step
  double outflow = 0.0;              // m3/s
  double dTmin = 60.0;               // s
  std::string outputFile;
  OperationRule rule;
  ReservoirReport report;

private:
  [[noreturn]] void Fail(int exitCode, const std::string &text) const;

  DiagnosticsLog *log_ = nullptr;
  std::vector<std::string> tracerNames_;
  std::vector<double> decay_;
  int subbasinCode_ = 0;
  std::string outputDirectory_;
  std::optional<LakeTable> lake_;
  std::vector<std::pair<long, long>> lakeCells_;
  LakeCellValues lakeValues_;
  double cellArea_ = 0.0;
  ElementTableWriter table_;
  std::vector<double> taken_; // per direct abstraction, m3 of the step
  std::vector<double> row_;
};

} // namespace tavro
