// One station data file of a meteorological variable, read row by row:
//
//   line 1      title (ignored)
//   lines 2-4   4 + A labels, then the altitude, x and y of each station
//   line 5      ignored (station names)
//   lines 6...  year month day hour, A additional tokens, the N station values,
//               anything else up to the line end (ignored)
//
// A is the file's number of additional columns, N the number of consecutive
// numeric tokens on line 2 after its labels. A year up to 99 is 1900 plus
// the year; while advancing, the date 0 0 0 ends the data. A value outside
// [-V, V] (V the variable's positive nodata bound) becomes -V - 1.
//
// The file is opened only to read its header, to find the start date and to
// refill a read-ahead buffer of about 2 MiB of rows; between refills only its
// byte position is kept. Every process reads its files itself.
//
// Errors (FATAL entry, exit code): not opened 49, unreadable header or data
// row 49, not closed 50, start date missing 51.
#pragma once

#include "kernel/model_date.h"
#include "kernel/one_based_array.h"

#include <string>
#include <vector>

namespace tavro {

class DiagnosticsLog;

struct StationTable {
  int Count = 0; // N
  OneBasedArray<double> Altitude;
  OneBasedArray<double> X;
  OneBasedArray<double> Y;
};

// Rows per read-ahead buffer for N stations: a budget of 2 MiB with 32 bytes of
// date and 8 bytes per value slot (slot 0 included), at least 1.
long StationBufferRows(int stationCount);

// The year as stored: up to 99 means 1900 plus it.
long ExpandStationYear(long year);

// Parses one data row: the date, A skipped tokens and N values with the
// nodata rule. False when the date or a value cannot be read; whitespace-only
// text is no row (false with isBlank set).
struct StationRowParse {
  bool ok = false;
  bool isBlank = false;
  int failedValue = 0; // station whose value did not read (0: the date)
  long year = 0, month = 0, day = 0, hour = 0;
};
StationRowParse ParseStationRow(const std::string &line, int additionalColumns, int stationCount,
                                double nodataBound, double *values /* 1..N */);

class StationDataFile {
public:
  static constexpr int OpenExitCode = 49;
  static constexpr int ReadExitCode = 49;
  static constexpr int CloseExitCode = 50;
  static constexpr int StartDateExitCode = 51;

  StationDataFile(DiagnosticsLog &log, std::string variableName, std::string path,
                  int additionalColumns, double nodataBound);

  // Reads lines 2 to 4 into the station table; the current values become
  // -V - 1.
  void ReadDescription();
  // Positions the file at the row whose date equals start (hour, day, month
  // and year) and reads its values; fatal 51 when there is none.
  void FindStartDate(const ModelDate &start);
  // Makes the next row current. Returns false (the data have ended) when the
  // current date has reached endDateCode, the file has no further row, or the
  // row dated 0 0 0 is reached.
  bool NextRow(long endDateCode);
  // Back to the start row: the next NextRow delivers it again.
  void Rewind();

  const std::string &Path() const { return path_; }
  int AdditionalColumns() const { return additionalColumns_; }
  const StationTable &Table() const { return table_; }
  // Date of the current row (hour, day, month, year).
  const ModelDate &Date() const { return date_; }
  // Station values of the current row, 1..N.
  const OneBasedArray<double> &Values() const { return values_; }
  // 1 when all valid values of the current row are equal (or there is none,
  // or no station), else 0.
  int UniformValues() const { return uniform_; }
  // Replaces every value v of station i of the current row by change(i, v)
  // (the precipitation correction) and judges the row's uniformity anew.
  template <class Change> void ChangeValues(Change &&change) {
    for (int i = 1; i <= table_.Count; ++i) {
      double &value = values_[static_cast<std::size_t>(i)];
      value = change(i, value);
    }
    uniform_ = AllValidValuesEqual() ? 1 : 0;
  }
  long BufferCapacity() const { return capacity_; }

private:
  struct Row {
    ModelDate date;
    std::vector<double> values; // 1..N, slot 0 unused
  };

  // False when no row was read because the file had ended.
  bool Refill();
  // True when the current row has no valid value, no station, or only equal
  // valid values.
  bool AllValidValuesEqual() const;
  [[noreturn]] void RowError(long lineNumber, const StationRowParse &parse) const;

  DiagnosticsLog &log_;
  std::string variableName_;
  std::string path_;
  int additionalColumns_ = 0;
  double nodataBound_ = 0.0;
  StationTable table_;
  OneBasedArray<double> values_;
  int uniform_ = 0;
  ModelDate date_;
  ModelDate startDate_;
  long startPosition_ = 0;
  long startLine_ = 0;
  long refillPosition_ = 0;
  long refillLine_ = 0; // line number at the refill position (for messages)
  long capacity_ = 1;
  std::vector<Row> buffer_;
  long held_ = 0;
  long next_ = 1; // 1-based index of the next row to deliver
  std::vector<long> bufferLines_;
};

} // namespace tavro
