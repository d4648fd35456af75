// Base of every object that owns a section of the control file and works on
// grids (set-up object, interpolators, modules): the raster geometry and the
// process's strip, the date of the current step and the end date, the grid
// registry it shares, its control-file reader, the rank log, and the grid,
// stack and strip-exchange operations.
//
// The grid file, output and MPI exchange members are declared here and
// defined with the raster code; they are non-virtual so that the kernel
// links without them. Only ReleaseMemory (and the destructor) is virtual.
#pragma once

#include "kernel/control_file_reader.h"
#include "kernel/grid.h"
#include "kernel/grid_registry.h"
#include "kernel/grid_statistics.h"
#include "kernel/memory_handling.h"
#include "kernel/model_date.h"
#include "kernel/one_based_array.h"
#include "kernel/zone_record.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavro {

// Shared records defined with the decomposition and the parameter tables.
struct RowColumnRange;
struct HaloRecord;
class landuse_class;
class soil_class;
class multilayer_landuse_class;

struct MpiDecomposition;

// The halo send and receive lists of the decomposition, as received (not
// owned), and the whole division that the strip exchanges work from.
struct HaloLists {
  const std::vector<HaloRecord> *Send = nullptr;
  const std::vector<HaloRecord> *Receive = nullptr;
  const MpiDecomposition *Decomposition = nullptr;
};

// Settings handed to every model object at construction.
struct ModelObjectOptions {
  bool WriteAsciiGrids = false;
  bool WriteDoubleGrids = false;
  std::string InitialStateDirectory;  // put before read names; empty: none
  std::string DefaultOutputDirectory; // put before written names; empty: none
  HaloLists Halo;
};

class modelobject : public memory_handling {
public:
  // Longest name of the control-file copy.
  static constexpr std::size_t MaxControlFileNameLength = ControlFileReader::MaxLineLength;

  // A control-file name longer than 1200 characters is fatal (17).
  modelobject(DiagnosticsLog &log, std::string moduleName, std::string controlFileName,
              const ModelObjectOptions &options = {});
  ~modelobject() override;

  // --- Control file -------------------------------------------------------
  // Opens ControlFileName for reading; false when it cannot be opened
  // (callers report their own error).
  bool OpenControlFile();
  // Closes it; false when closing failed.
  bool CloseControlFile();
  ControlFileReader &ControlFile() { return controlFile_; }
  bool FindControlKey(std::string_view key, bool fatal) {
    return controlFile_.FindControlKey(key, fatal);
  }
  // One positional value (format "%d", "%ld", "%lf" or "%s"); returns 1, or
  // ends the run with the documented entries (17). The rest of the line is
  // ControlFile().LastRest().
  int ReadControlValue(int &target, std::string_view label);
  int ReadControlValue(long &target, std::string_view label);
  int ReadControlValue(double &target, std::string_view label);
  int ReadControlValue(std::string &target, std::string_view label);
  // A word and an int ("%s %d"), such as a file name and its writecode; returns 2.
  int ReadControlValues2(std::string &word, int &value, std::string_view label);
  // Two ints on one line ("%d %d"), such as a row and a column; returns 2.
  int ReadControlValues2(int &first, int &second, std::string_view label);
  [[noreturn]] void ControlFileError(std::string_view what, std::string_view where) {
    controlFile_.ControlFileError(what, where);
  }
  [[noreturn]] void WriteError(std::string_view fileName, int code) {
    controlFile_.WriteError(fileName, code);
  }
  [[noreturn]] void ReadError(std::string_view fileName, int code) {
    controlFile_.ReadError(fileName, code);
  }

  // --- Dates and steps ----------------------------------------------------
  // Moves the end date and EndDateCode.
  void SetActualDate(long year, long month, long day, long hour);
  ModelDate ActualDate() const { return {ActualHour, ActualDay, ActualMonth, ActualYear}; }
  // The date of the step being computed, as the time loop passes it.
  void SetActualStep(long hour, long day, long month, long year) {
    ActualHour = hour;
    ActualDay = day;
    ActualMonth = month;
    ActualYear = year;
  }
  long ActualDateCode() const { return DateCode(ActualDate()); }
  void SetHourDivisor(int divisor) { HourDivisor = divisor; }
  int GetHourDivisor() const { return HourDivisor; }
  double GetHoursToIntervalEnd() const { return HoursToIntervalEnd; }
  // y1 when x1 equals x2, else the line through both points at x
  // (extrapolated outside [x1, x2]).
  static double LinearInterpolate(double x1, double y1, double x2, double y2, double x);
  void SetInitialized(int value) { Initialized = value; }

  // Appends "<calendar time>\n: <text>\n" to "modell_<rank>.log" on rank 0;
  // failures are not reported.
  void WriteRankLog(std::string_view text) const;

  // Logs "DEBUG: deleting module <ModuleName>" and releases the base
  // resources; overrides release their own first and call this last. Only
  // the first call does anything.
  virtual void ReleaseMemory();

  // --- Grid registry (the run's Registry; fatal 12 when none is linked) ----
  int FindGrid(std::string_view identifier, bool acceptWithoutData) const;
  int GetGridIndex(std::string_view identifier) const;
  int GetGridIndexOf3(std::string_view a, std::string_view b, std::string_view c) const;
  int GetGridIndexOf4(std::string_view a, std::string_view b, std::string_view c,
                      std::string_view d) const;
  // Registers a grid or stack at index (1..999) with the object's raster
  // size for the aggregate grids; writecode output kind 8 writes it at once
  // through the registry's ImmediateOutput.
  void AddGrid(int index, const std::string &fileName, Grid *data, Stack *stack, int levels,
               const std::string &identifier, int writecode, long firstRow, long lastRow);
  void ReleaseGrid(int index);
  // Rows of the grids this process holds for the raster: 1..NRows on rank 0,
  // elsewhere the strip with one halo row on each side inside the raster.
  long HeldFirstRow() const;
  long HeldLastRow() const;

  // --- Grid statistics of the grid writers ----------------------------------
  void ResetGridStatistics(double noData) { Statistics.Reset(noData); }
  void AddToGridStatistics(double value, double weight) { Statistics.Add(value, weight); }
  GridStatisticsResult GetGridStatistics() const { return Statistics.Get(); }

  // --- Grid and stack files (defined with the raster code) ------------------
  void ReadGrid(const std::string &fileName, Grid &grid, int fillMode, bool allocate, bool verbose,
                double fillValue, bool searchNeighbours, bool keepWholeOnRoot, bool rootOnly,
                bool withHalo);
  // Returns the number of levels read; stack is newly allocated.
  int ReadStack(const std::string &fileName, Stack &stack, bool keepWholeOnRoot);
  void WriteGrid(const std::string &fileName, const Grid &grid, bool writeAscii, bool writeDouble);
  // Sets the cells outside each row's column range to nodata, then writes.
  void WriteStripGrid(const std::string &fileName, Grid &grid, bool writeAscii, bool writeDouble);
  void WriteStack(const std::string &fileName, const Stack &stack, int levels, bool writeAscii,
                  bool writeDouble);
  // Collective: gathers the registered stack at index on rank 0 and writes
  // its levels 0..levels as a binary double stack of the whole raster, rank 0
  // writing every cell, so that the file is the same for any decomposition
  // and nothing is rounded. Failures as WriteStack.
  void WriteGatheredStack(int index, const std::string &fileName, int levels);
  // accumulateOnly: the grid joins its period sums, means, minimum and
  // maximum, but no period, minimum or maximum file is written by this call
  // (a grid written several times within one step, before the last time).
  void WriteGridOutput(int index, bool accumulateOnly = false);
  void WriteStackOutput(int index);
  // Stores where the object's image grids lie; from then on its grid reads
  // decode GIF files (resampled and mapped with the Gif* fields).
  void SetGifGeoreference(const Grid *mask, double xllCorner, double yllCorner, double cellSize);

  // --- Strip exchange (collective; defined with the raster code) ------------
  // grid/stack null: the registered one at index.
  void MPIScatterGrid(int index, Grid *grid);
  void MPIGatherGrid(int index, Grid *grid);
  // Rank 0: a new whole-raster copy (caller owns it); elsewhere unallocated.
  Grid MPIGatherGridForOutput(int index, Grid *grid);
  void MPIGatherStack(int index, Stack *stack);
  Stack MPIGatherStackForOutput(int index, Stack *stack);
  void MPIScatterStack(int index, Stack *stack, int levels);
  void MPIExchangeHalo(int index, Grid *grid);
  void MPIExchangeStackHalo(int index, Stack *stack);
  void MPIGatherMaskedCells(int valueIndex, int maskIndex,
                            const std::vector<std::int64_t> &cellCountsPerRank, Grid *target);
  void MPIScatterMaskedCells(int valueIndex, int maskIndex,
                             const std::vector<std::int64_t> &cellCountsPerRank);
  // Sums records 0..highestIndex to rank 0 (defined with the zone statistics).
  void MPIReduceZones(ZoneRecord *zones, int highestIndex, bool copyWeights);

  // --- Fields -----------------------------------------------------------
  int OutputListCount = 0;
  const OneBasedArray<int> *OutputList = nullptr; // not owned
  double MinToIntEnd = 0.0;
  double HoursToIntervalEnd = 0.0;
  // February is 28 days in every model object; entries 0 and 13 unused.
  std::array<int, 14> DaysPerMonth{0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31, 0};
  std::string ControlFileName;
  GridStatistics Statistics;
  int NCols = 0;
  int NRows = 0;
  int FirstRow = 0;
  int LastRow = 0;
  double XllCorner = 0.0;
  double YllCorner = 0.0;
  double CellSize = 0.0;
  double NoData = 0.0;
  const Grid *CellWeights = nullptr;                        // "RelCellArea" when registered
  OneBasedArray<ZoneRecord> *ZoneTable = nullptr;           // records 0..ZoneCount
  OneBasedArray<int> *ZoneIndex = nullptr;                  // zone number of codes 0..MaxZoneCode
  const OneBasedArray<RowColumnRange> *RowRanges = nullptr; // rows 0..NRows
  int ZoneCount = 0;
  int MaxZoneCode = 0;
  long ActualHour = 0;
  long ActualDay = 0;
  long ActualMonth = 0;
  long ActualYear = 0;
  long EndHour = 0;
  long EndDay = 0;
  long EndMonth = 0;
  long EndYear = 0;
  long YearFactor = tavro::YearFactor;
  long MonthFactor = tavro::MonthFactor;
  long DayFactor = tavro::DayFactor;
  long HourFactor = tavro::HourFactor;
  long EndDateCode = 0;
  const OneBasedArray<multilayer_landuse_class> *MultilayerTable = nullptr; // not owned
  const OneBasedArray<landuse_class> *LanduseTable = nullptr;
  const OneBasedArray<soil_class> *SoilTable = nullptr;
  bool WriteAsciiGrids = false;
  bool WriteDoubleGrids = false;
  std::string DefaultOutputDirectory;
  std::string InitialStateDirectory;
  GridRegistry *Registry = nullptr; // the run's registry, not owned
  int MPIRank = 0;
  int MPIProcessCount = 1;
  HaloLists Halo;
  const Grid *MPIRegions = nullptr; // owner rank of every cell, when linked
  const Grid *MPIHelper = nullptr;  // strips of every row, when linked
  int HourDivisor = 0;
  double GifXllCorner = 0.0;
  double GifYllCorner = 0.0;
  double GifCellSize = 0.0;
  const Grid *GifMask = nullptr;
  bool GifGeoreferenced = false; // set by SetGifGeoreference
  double GifF1 = 0.0;
  double GifX1 = 0.0;
  int GifThreshold = 0;
  double GifF2 = 0.0;
  double GifX2 = 0.0;

private:
  GridRegistry &LinkedRegistry() const;

  ControlFileReader controlFile_;
  bool released_ = false;
};

} // namespace tavro
