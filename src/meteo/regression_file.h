// The regression file of the methods that take an elevation regression per
// step from a file (2: regression alone; 3: with inverse distance), read row
// by row from the start of the model time. One record per step: year, month,
// day, hour, then the eleven values intercept 1, slope 1, lower inversion
// height, intercept 2, slope 2, upper inversion height, intercept 3, slope 3,
// trend constant, trend coefficient of x, trend coefficient of y.
//
// Two forms, told apart by the first five bytes:
//   text    "jr?mo..." (any third byte): the rest of that header line is
//           ignored, then one record per line, anything after the eleventh
//           value ignored;
//   binary  any other file: no header, records of 120 bytes, little-endian:
//           the four date fields as signed 64-bit integers, then the eleven
//           values as IEEE doubles, decoded field by field.
// A year of 999 or less is 1900 plus the year (95 is 1995, 105 is 2005);
// reached by the advance, the date 0 0 0 ends the data.
//
// Like a station file, the file is opened only to find the start date and
// to refill a buffer of 16384 records; between refills only its byte
// position is kept.
//
// Errors (FATAL entry, exit code): not opened 49, unreadable record 49, not
// closed 50, start date missing 51.
#pragma once

#include "kernel/model_date.h"
#include "meteo/interpolation/elevation_regression.h"

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace tavro {

class DiagnosticsLog;

inline constexpr std::size_t RegressionRecordBytes = 120;

// One record as stored (the year not yet expanded).
struct RegressionFileRow {
  ModelDate Date;
  interpolation::RegressionRecord Record;
};

// True when the first five bytes are "j", "r", any byte, "m", "o".
bool IsTextRegressionFile(std::span<const unsigned char> firstBytes);

// Decodes one binary record; false when a value is not a finite number or
// the date cannot be held by a DateCode.
bool DecodeRegressionRecord(std::span<const unsigned char, RegressionRecordBytes> bytes,
                            RegressionFileRow &row);

// The year of a regression record as used: 999 or less means 1900 plus it.
long ExpandRegressionYear(long year);

class RegressionFile {
public:
  static constexpr int OpenExitCode = 49;
  static constexpr int ReadExitCode = 49;
  static constexpr int CloseExitCode = 50;
  static constexpr int StartDateExitCode = 51;
  static constexpr long BufferRecords = 16384;

  RegressionFile(DiagnosticsLog &log, std::string variableName, std::string path);

  // Decides the form and makes the record dated start (hour, day, month,
  // year) the current one; fatal 51 when there is none.
  void FindStartDate(const ModelDate &start);
  // Makes the next record current. Returns false (the data have ended) when
  // endDateTest is set and the current date has reached endDateCode, when the
  // file has no further record, or when the record dated 0 0 0 is reached.
  bool NextRecord(bool endDateTest, long endDateCode);
  // Back to the start record: the next NextRecord delivers it again.
  void Rewind();

  const std::string &Path() const { return path_; }
  bool IsText() const { return text_; }
  // Date of the current record (hour, day, month, year; the year expanded).
  const ModelDate &Date() const { return date_; }
  const interpolation::RegressionRecord &Record() const { return record_; }

private:
  struct Cursor; // an open file with its position and line number

  // Reads the next record at the cursor; false at the end of the file.
  bool ReadRecord(Cursor &cursor, RegressionFileRow &row) const;
  // False when no record was read because the file had ended.
  bool Refill();

  DiagnosticsLog &log_;
  std::string variableName_;
  std::string path_;
  bool text_ = true;
  ModelDate date_;
  ModelDate startDate_;
  interpolation::RegressionRecord record_;
  long startPosition_ = 0;
  long startLine_ = 0;
  long refillPosition_ = 0;
  long refillLine_ = 0;
  std::vector<RegressionFileRow> buffer_;
  long held_ = 0;
  long next_ = BufferRecords + 1; // 1-based index of the next record
};

} // namespace tavro
