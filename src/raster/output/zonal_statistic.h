// A zonal statistics table: averages or sums the cell values of each zone (and
// of all zones) over the steps of an output interval, reduces the per-process
// sums to rank 0, buffers the rows in about 2 MiB and appends them to a
// tab-separated text file. Rank 0 also enters the table into the run's
// StatisticsRegistry. After EndOfStep with reduction, rank 0's zone records
// hold the global sums, which modules may read through Zones().
//
// The spatial sums of a step are held exactly (ExactSum, beside the zone
// records) and reduced over the processes exactly, so the sums, rows and
// files are bit-identical for any process count, thread count or order in
// which cells are added. EndOfStep writes them, rounded once, into the zone
// records; between ResetStep and EndOfStep the records' n, sx and RelCellSum
// stay 0. A sum that is not finite or beyond about 1.47e20 in magnitude shows
// as NaN (with a warning) rather than a wrong number.
//
// Statistics code: up to 1000 the table is off (every operation does nothing);
// otherwise mode = code / 1000 and interval = code % 1000 (in steps):
//   1 areal mean, average     2 every zone + areal mean, average
//   3 areal mean, sum         4 every zone + areal mean, sum
//   5 output-list zones + areal mean, average
//   6 output-list zones + areal mean, sum
//   above 6: areal mean, sum.
// An interval of 0 never writes a row; 1 writes one every step.
#pragma once

#include "kernel/zone_record.h"
#include "raster/output/statistics_registry.h"
#include "raster/parallel/zone_reduction.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

class DiagnosticsLog;
class Grid;

class zonalstatistic {
public:
  static constexpr std::size_t BufferBytes = 2097152;
  static constexpr double WeightNoData = -9999.0;
  // Precision that selects six significant digits ("%.6g").
  static constexpr int SignificantDigits = 99;
  static constexpr int OpenErrorExitCode = 15;
  static constexpr int CloseErrorExitCode = 16;

  // error: 0 on success, 1 when the table could not be built (an output-list
  // code without zone, no memory, no zone record 0); the owner stops with it.
  // zones: the records 0..N the table works on (not owned; record 0 takes part
  // in sums and reduction but never in a column). weights: the "RelCellArea"
  // grid or null, read within rows 1..rows and columns 1..columns.
  // outputList: the codes of the output list (without a count element).
  // noData: values at or below noData + 1 are holes and are not added.
  // The registry and its capacity are accepted for the usual argument
  // order; registration happens in WriteHeader.
  zonalstatistic(int &error, DiagnosticsLog &log, StatisticsRegistry *registry, int capacity,
                 const Grid *weights, long rows, long columns, std::span<ZoneRecord> zones,
                 int statisticsCode, int precision, std::string fileName,
                 const std::string &outputDirectory, std::span<const int> outputList,
                 double noData = -9999.0);
  virtual ~zonalstatistic();
  zonalstatistic(const zonalstatistic &) = delete;
  zonalstatistic &operator=(const zonalstatistic &) = delete;

  // Opens the file with an fopen mode; "FATAL: error opening \n<name>", 15.
  virtual void OpenFile(const char *mode);
  // "FATAL: cannot close <name>", 16 (also when a write to the file failed).
  virtual void CloseFile();
  // Appends the buffered rows to the file (rank 0 holds all rows).
  virtual void FlushBuffer();
  // Adds one cell value with its weight to zone zoneIndex (0..N). Not
  // thread-safe: callers adding from several threads serialise the calls
  // (e.g. a critical section); the sums stay exact, so they do not depend on
  // the order in which the threads get there.
  virtual void AddValue(long row, long column, int zoneIndex, double value, double weight);
  // Begins a step: counts it and clears the step sums of every zone.
  virtual void ResetStep();
  // Ends a step; reduce > 0 first sums the zones over all processes to rank 0
  // (collective: every process calls it for the same table; the other
  // processes' records then hold 0), otherwise each process's records get its
  // own sums. Completes a row when the interval is reached.
  virtual void EndOfStep(std::int64_t year, std::int64_t month, std::int64_t day, std::int64_t hour,
                         int reduce);
  // Writes the three header lines (rank 0) and registers the table in the
  // first free registry entry of 0..capacity-1. Returns the entry index, or -1
  // on other processes, for an inactive table or when no entry is free.
  virtual int WriteHeader(std::string_view description, std::string_view moduleName,
                          StatisticsRegistry *registry, int capacity);
  // Writes the remaining rows and releases the buffers; the table is inactive
  // afterwards.
  virtual void ReleaseMemory();

  bool Active() const { return mode_ >= 1; }
  bool Constructed() const { return constructed_; }
  int Mode() const { return mode_; }
  int Interval() const { return interval_; }
  int Precision() const { return precision_; }
  const std::string &FileName() const { return fileName_; }
  std::span<ZoneRecord> Zones() { return zones_; }
  std::span<const ZoneRecord> Zones() const { return zones_; }
  int ZoneCount() const { return zoneCount_; }
  int StepsSinceRow() const { return stepCounter_; }
  std::size_t BufferedRows() const { return rowCount_; }
  std::size_t RowCapacity() const { return rowCapacity_; }
  // Number of values in the latest row.
  int RowWidth() const { return rowWidth_; }
  // Values slots of a row including the unused slot 0.
  std::size_t SlotCount() const { return slotCount_; }
  // The column arrays shared with the registry entry (null when inactive).
  const std::shared_ptr<StatisticsColumns> &Columns() const { return columns_; }
  double LastArealMean() const { return lastArealMean_; }

protected:
  // Rank of this process in the world communicator (rank 0 writes the files).
  static int WorldRank();
  // Zones named in the header, in column order (1-based indexes into Zones()).
  std::vector<int> ColumnZones() const;
  // Starts a new buffered row with its date (rank 0).
  void BeginRow(std::int64_t year, std::int64_t month, std::int64_t day, std::int64_t hour);
  // Appends a value to the current row and to the values column array.
  void AppendRowValue(double value);
  // Interval accumulators: with interval >= 2, adds them into the zone sums
  // (all three sums or sx only) and the reverse copy.
  void AddAccumulators(bool allSums);
  void StoreAccumulators();
  void ClearAccumulators();
  void FlushIfFull();
  // "<description>_submodel:<module>"; longer than the registry's titles: fatal (1).
  std::string ComposeTitle(std::string_view description, std::string_view moduleName) const;
  // Enters a set of output fields (date, the table's value count, columns,
  // title) into an entry; the columns' accumulator is cleared.
  struct OutputDate {
    std::int64_t year = 0;
    std::int64_t month = 0;
    std::int64_t day = 0;
    std::int64_t hour = 0;
  };
  void FillRegistryEntry(StatisticsRegistryEntry &target, const OutputDate &date,
                         const std::shared_ptr<StatisticsColumns> &columns,
                         const std::string &title, bool hasArealMean) const;
  // Registers the table in the first free entry of 0..capacity-1; returns
  // its index or -1.
  int RegisterTable(StatisticsRegistry *registry, int capacity, bool hasArealMean);
  // The three header lines into the open file: the column zones' codes (with
  // "tot_average" when arealMean), the title, and columnAreas (one per column
  // zone, seven decimals; then "1.0000" when arealMean). Sets the codes and
  // areas of the columns and clears their values.
  void WriteHeaderLines(std::span<const double> columnAreas, bool arealMean);
  // Writes the exact step sums, rounded once, into the zone records; warns
  // (rank 0, once per table) about sums that became invalid.
  void PublishExactSums();

  DiagnosticsLog &log_;
  std::span<ZoneRecord> zones_;
  int zoneCount_ = 0;
  const Grid *weights_ = nullptr;
  long weightRows_ = 0;
  long weightColumns_ = 0;
  double noData_ = -9999.0;
  int mode_ = -1;
  int interval_ = 0;
  int precision_ = 0;
  std::vector<int> listCodes_; // 1..L, element 0 unused
  std::vector<int> listZones_; // zone index of each listed code
  std::string fileName_;
  std::FILE *file_ = nullptr;
  bool writeFailed_ = false;
  int stepCounter_ = 0;

  // Row buffer: per row the date and slotCount_ values (index 1.. used).
  std::size_t rowCapacity_ = 0;
  std::size_t rowCount_ = 0;
  std::size_t slotCount_ = 0;
  int rowWidth_ = 0;
  std::vector<std::int64_t> rowDates_; // 4 per row
  std::vector<double> rowValues_;      // slotCount_ per row

  // This step's exact sums per zone 0..N, beside zones_.
  std::vector<ExactZoneSums> sums_;
  bool invalidSumsReported_ = false;

  // Interval sums of n, sx and RelCellSum per zone 0..N (interval >= 2).
  std::vector<double> accN_;
  std::vector<double> accSx_;
  std::vector<double> accRel_;

  double lastZoneMean_ = 0.0;
  double lastArealMean_ = 0.0;
  bool constructed_ = false;
  long long refusedZoneIndexes_ = 0;

  // The output fields a registry entry copies.
  std::int64_t year_ = 0;
  std::int64_t month_ = 0;
  std::int64_t day_ = 0;
  std::int64_t hour_ = 0;
  std::int64_t valueCount_ = 0;
  std::shared_ptr<StatisticsColumns> columns_;
  std::string title_;

private:
  void Construct();
  bool MapOutputList(std::span<const int> outputList);
  void WriteRows();
  bool IsHole(double value) const { return value <= noData_ + 1.0; }
};

} // namespace tavro
