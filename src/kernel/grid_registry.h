// The table of all grids of one model run, through which modules find one
// another's data by identifier. Each entry also carries the output settings
// of its grid (the writecode and the aggregate grids it implies), which the
// grid output drives at the end of every step.
//
// Ownership: the registry never owns a registered grid or stack (the module
// or set-up object that registered it does); it owns the aggregate, minimum,
// maximum and vegetation-period grids it creates for the writecode, and the
// saved initial values of a periodic standard grid.
//
// Entries 1..999 are usable (1 the zone grid, 2 the elevation model). A
// released entry is a hole: lookups scan every entry and skip holes, and a
// new grid takes the first empty entry.
#pragma once

#include "kernel/grid.h"
#include "kernel/model_date.h"
#include "kernel/tracer_record.h"

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

class DiagnosticsLog;
class modelobject;
class zonalstatistic;

// The digits of a writecode: units the output kind (8: write at once with
// filled holes), tens the period aggregate (1/5 run, 2/6 year, 3/7 month,
// 4/8 day; the first of each pair sums, the second averages), hundreds the
// minimum (1), maximum (2) or both (3), thousands the vegetation-period sum
// or mean. Higher digits play no part.
struct WritecodeDigits {
  int OutputKind = 0;
  int PeriodAggregate = 0;
  int WriteMinimum = 0;
  int WriteMaximum = 0;
  int VegetationPeriod = 0;

  friend bool operator==(const WritecodeDigits &, const WritecodeDigits &) = default;
};

// Digits of a non-negative writecode.
WritecodeDigits DecodeWritecode(int writecode);

// Re-reading state of a standard grid with a periodicity.
struct GridPeriodicState {
  int First = -1;   // first periodicity number; above 0: the grid is re-read
  std::string Unit; // unit word of the periodicity
  int Second = -1;  // second periodicity number
  int PeriodCounter = 0;
  int StepCounter = 0;
  long LastWatchedDate = 9999;
  int Persistent = 1; // 0: restore the initial values RestoreAfter steps after a re-read
  int RestoreAfter = 0;
  int RestoreCountdown = 0;
  bool RestorePending = false;
  std::unique_ptr<Grid> InitialValues; // only for Persistent 0
  std::string DatedFileName;
};

struct GridEntry {
  Grid *Data = nullptr; // not owned
  std::unique_ptr<Grid> Aggregate;
  std::unique_ptr<Grid> Minimum;
  std::unique_ptr<Grid> Maximum;
  Stack *StackData = nullptr; // the layered data of a stack entry; not owned
  int Levels = 1;
  std::string FileName; // never empty for a registered grid
  std::string AggregateFileName;
  std::string MinimumFileName;
  std::string MaximumFileName;
  std::string Identifier; // empty: the entry is free
  int OutputKind = 0;
  int PeriodAggregate = 0;
  int WriteMinimum = 0;
  int WriteMaximum = 0;
  int fillcode = 0;
  double AggregateCount = 1.0;
  int VegetationPeriod = 0;
  std::unique_ptr<Grid> VegetationPeriodGrid;
  std::string VegetationPeriodFileName;
  GridPeriodicState Periodic;
  double defaultValue = 0.0;
  std::string outname;
  int statcode = 0;
  std::string statfile;
  zonalstatistic *ZonalStatistic = nullptr; // not owned
  int readcode = 1;
  int OwnsOutname = 0; // 1 when outname is the copy of FileName made by AddGrid
  long FirstRow = 0;   // rows of the aggregate grids
  long LastRow = 0;
  // State of the grid output.
  int MinMaxStarted = 0;
  int VegetationPeriodEnded = 0;
  int VegetationPeriodBegins = 0;
  Grid *VegetationStartGrid = nullptr; // not owned
  Grid *VegetationStopGrid = nullptr;
  Grid *VegetationDurationGrid = nullptr;
  long StampCount = 0;
  ModelDate StampDate; // year, month, day and hour of the last date-stamped file

  bool IsFree() const { return Identifier.empty(); }
  bool HasData() const { return Data != nullptr || StackData != nullptr; }
};

class GridRegistry {
public:
  static constexpr int EntryCount = 1001; // indexes 0..1000; 0 and 1000 are never used
  static constexpr int LastIndex = 999;
  static constexpr int RegistryExitCode = 12;
  static constexpr int NotFoundExitCode = 33;
  static constexpr std::size_t MaxIdentifierLength = 100;
  static constexpr std::size_t MaxFileNameLength = 1200;

  // Every entry holds its presets: Levels 1, AggregateCount 1, both
  // periodicity numbers -1, persistent 1, readcode 1, everything else empty.
  GridRegistry();
  GridRegistry(const GridRegistry &) = delete;
  GridRegistry &operator=(const GridRegistry &) = delete;

  // Entry 0..1000.
  GridEntry &operator[](int index);
  const GridEntry &operator[](int index) const;

  // Index 1..999 of the entry with this identifier (exact, case-sensitive),
  // skipping free entries and, unless acceptWithoutData, entries without a
  // grid or stack (entry 1 is matched with or without data); 0 when absent.
  // An empty identifier is never found.
  int FindGrid(std::string_view identifier, bool acceptWithoutData) const;

  // Index of the entry with this identifier, data or not; 0 when absent.
  int Find(std::string_view identifier) const;

  // As Find, but an absent identifier is fatal (exit code 33) with the
  // entry that names the needing object.
  int GetGridIndex(std::string_view identifier, DiagnosticsLog &log,
                   std::string_view callerName) const;
  // The first present of the alternatives; fatal (33) when none is.
  int GetGridIndexOf3(std::string_view a, std::string_view b, std::string_view c,
                      DiagnosticsLog &log, std::string_view callerName) const;
  int GetGridIndexOf4(std::string_view a, std::string_view b, std::string_view c,
                      std::string_view d, DiagnosticsLog &log, std::string_view callerName) const;

  // First free entry 1..999, or 0 when the table is full (callers log their
  // own message and throw 12).
  int FirstFreeIndex() const;

  // Fills entry index (1..999; any other index is fatal, exit code 12):
  // names (an empty file name becomes the identifier), grid, stack, levels,
  // rows, the writecode's digits, and the aggregate grids of rows
  // firstRow..lastRow, columns 1..nCols, table of nRows rows. Registering an
  // index again overwrites its settings. Modules register through
  // modelobject::AddGrid, which also runs the immediate output (kind 8).
  void AddGrid(int index, const std::string &fileName, Grid *data, Stack *stack, int levels,
               const std::string &identifier, int writecode, long firstRow, long lastRow,
               long nCols, long nRows, DiagnosticsLog &log);

  // Leaves a hole: the entry returns to its presets and the aggregate grids
  // are released; the registered grid itself is not. Indexes outside 1..999
  // are ignored.
  void ReleaseGrid(int index);

  // Writes a grid with output kind 8 at once (set by the grid output; unset:
  // nothing is written).
  std::function<void(modelobject &caller, int index)> ImmediateOutput;

  // The raster operations of the modules' tracer grids (set by
  // InstallTracerGridHooks; unset: a module with tracers cannot build them).
  TracerGridHooks TracerHooks;

private:
  [[noreturn]] void ThrowNotFound(DiagnosticsLog &log, const std::string &entry) const;

  std::vector<GridEntry> entries_;
};

} // namespace tavro
