// Regression files: form, start search, record buffer and advance.
#include "meteo/regression_file.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "meteo/station_file.h"
#include "meteo/text_lines.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <utility>

namespace tavro {
namespace {

constexpr std::size_t kTextTestBytes = 5;
constexpr int kValuesPerRecord = 11;

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};
using FilePointer = std::unique_ptr<std::FILE, FileCloser>;

std::uint64_t LittleEndian64(const unsigned char *bytes) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i)
    value = (value << 8) | bytes[i];
  return value;
}

// The eleven values in file order into the record's fields.
void StoreValues(const double *v, interpolation::RegressionRecord &r) {
  r.Intercept = {0.0, v[0], v[3], v[6]};
  r.Slope = {0.0, v[1], v[4], v[7]};
  r.LowerHeight = v[2];
  r.UpperHeight = v[5];
  r.TrendConstant = v[8];
  r.TrendX = v[9];
  r.TrendY = v[10];
}

bool IsZeroDate(const ModelDate &date) {
  return date.Year == 0 && date.Month == 0 && date.Day == 0;
}

} // namespace

struct RegressionFile::Cursor {
  FilePointer file;
  long line = 0;   // text: number of the last line read
  long record = 0; // binary: number of the last record read
};

bool IsTextRegressionFile(std::span<const unsigned char> b) {
  return b.size() >= kTextTestBytes && b[0] == 'j' && b[1] == 'r' && b[3] == 'm' && b[4] == 'o';
}

bool DecodeRegressionRecord(std::span<const unsigned char, RegressionRecordBytes> bytes,
                            RegressionFileRow &row) {
  std::array<long, 4> date{};
  for (std::size_t i = 0; i < 4; ++i)
    date[i] = static_cast<long>(static_cast<std::int64_t>(LittleEndian64(&bytes[8 * i])));
  std::array<double, kValuesPerRecord> values{};
  for (std::size_t i = 0; i < values.size(); ++i) {
    values[i] = std::bit_cast<double>(LittleEndian64(&bytes[32 + 8 * i]));
    if (!std::isfinite(values[i]))
      return false;
  }
  row.Date = ModelDate{date[3], date[2], date[1], date[0]};
  StoreValues(values.data(), row.Record);
  return DateCodeFits(date[0], date[1], date[2], date[3]);
}

long ExpandRegressionYear(long year) { return year <= 999 ? year + 1900 : year; }

RegressionFile::RegressionFile(DiagnosticsLog &log, std::string variableName, std::string path)
    : log_(log), variableName_(std::move(variableName)), path_(std::move(path)) {}

bool RegressionFile::ReadRecord(Cursor &cursor, RegressionFileRow &row) const {
  if (!text_) {
    std::array<unsigned char, RegressionRecordBytes> bytes{};
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), cursor.file.get());
    if (got == 0)
      return false;
    ++cursor.record;
    if (got < bytes.size())
      ThrowFatal(log_, ReadExitCode,
                 Concat("error reading regression file ", path_, ": the file ends inside record ",
                        cursor.record, " (", got, " of ", RegressionRecordBytes, " bytes)"));
    if (!DecodeRegressionRecord(bytes, row))
      ThrowFatal(log_, ReadExitCode,
                 Concat("error reading regression file ", path_, ", record ", cursor.record,
                        ": a value is not a finite number or the date is out of range"));
    return true;
  }
  std::string line;
  while (ReadTextLine(cursor.file.get(), line)) {
    ++cursor.line;
    std::array<double, kValuesPerRecord + 1> values{}; // 1..11
    // No value is a nodata marker here: every finite number is kept.
    const StationRowParse parse = ParseStationRow(
        line, 0, kValuesPerRecord, std::numeric_limits<double>::max(), values.data());
    if (parse.isBlank)
      continue;
    if (!parse.ok)
      ThrowFatal(log_, ReadExitCode,
                 Concat("error reading regression file ", path_, ", line ", cursor.line,
                        parse.failedValue == 0
                            ? std::string(": no date (year month day hour) could be read")
                            : Concat(": value ", parse.failedValue, " of ", kValuesPerRecord,
                                     " is missing or not a number")));
    row.Date = ModelDate{parse.hour, parse.day, parse.month, parse.year};
    StoreValues(values.data() + 1, row.Record);
    return true;
  }
  return false;
}

void RegressionFile::FindStartDate(const ModelDate &start) {
  startDate_ = start;
  log_.Entry(Concat("looking for starting date ", start.Day, ".", start.Month, ".", start.Year,
                    " for ", variableName_, " in ", path_, DiagnosticsLog::EndToken));
  Cursor cursor{FilePointer(std::fopen(path_.c_str(), "rb"))};
  if (!cursor.file)
    ThrowFatal(log_, OpenExitCode, "\nerror opening file " + path_);
  std::array<unsigned char, kTextTestBytes> first{};
  const std::size_t got = std::fread(first.data(), 1, first.size(), cursor.file.get());
  text_ = IsTextRegressionFile(std::span<const unsigned char>(first.data(), got));
  if (text_) {
    std::string rest;
    ReadTextLine(cursor.file.get(), rest); // the rest of the header line
    cursor.line = 1;
  } else {
    std::rewind(cursor.file.get());
  }

  std::string dots;
  bool found = false;
  RegressionFileRow row;
  while (true) {
    const long position = std::ftell(cursor.file.get());
    const long line = cursor.line;
    if (!ReadRecord(cursor, row))
      break;
    const ModelDate date{row.Date.Hour, row.Date.Day, row.Date.Month,
                         ExpandRegressionYear(row.Date.Year)};
    if (date == start) {
      date_ = date;
      record_ = row.Record;
      startPosition_ = position;
      startLine_ = line;
      refillPosition_ = std::ftell(cursor.file.get());
      refillLine_ = cursor.line;
      found = true;
      break;
    }
    if ((date.Hour == 0 || date.Hour > 23) && date.Day == 1)
      dots += "."; // one dot per month passed over
  }
  if (!dots.empty())
    log_.Entry(Concat(dots, DiagnosticsLog::EndToken));
  if (!found)
    ThrowFatal(log_, StartDateExitCode,
               Concat("\nEOF reached: ", path_, ", date ", start.Day, ".", start.Month, ".",
                      start.Year, ", ", start.Hour, ". h not found!"));
  if (std::fclose(cursor.file.release()) != 0)
    ThrowFatal(log_, CloseExitCode, "error closing " + path_);
  held_ = 0;
  next_ = BufferRecords + 1; // the first advance fills the buffer
}

bool RegressionFile::Refill() {
  Cursor cursor{FilePointer(std::fopen(path_.c_str(), "rb")), refillLine_, 0};
  if (!cursor.file)
    ThrowFatal(log_, OpenExitCode,
               text_ ? "\nerror opening file " + path_
                     : "error opening regression file " + path_ + " in binary mode");
  if (std::fseek(cursor.file.get(), refillPosition_, SEEK_SET) != 0)
    ThrowFatal(log_, ReadExitCode,
               Concat("error reading regression file ", path_, ": cannot return to byte ",
                      refillPosition_));
  cursor.record = refillPosition_ / static_cast<long>(RegressionRecordBytes);
  if (buffer_.empty())
    buffer_.reserve(1024);
  held_ = 0;
  RegressionFileRow row;
  while (held_ < BufferRecords && ReadRecord(cursor, row)) {
    if (static_cast<long>(buffer_.size()) <= held_)
      buffer_.push_back(row);
    else
      buffer_[static_cast<std::size_t>(held_)] = row;
    ++held_;
    if (IsZeroDate(row.Date))
      break; // nothing after the end marker is used
  }
  next_ = held_ > 0 ? 1 : 0;
  refillPosition_ = std::ftell(cursor.file.get());
  refillLine_ = cursor.line;
  if (std::fclose(cursor.file.release()) != 0)
    ThrowFatal(log_, CloseExitCode, "error closing " + path_);
  return held_ > 0;
}

bool RegressionFile::NextRecord(bool endDateTest, long endDateCode) {
  if (endDateTest && DateCode(date_) >= endDateCode)
    return false;
  if (next_ < 1 || next_ > held_) {
    if (!Refill())
      return false;
  }
  const RegressionFileRow &row = buffer_[static_cast<std::size_t>(next_ - 1)];
  if (IsZeroDate(row.Date))
    return false; // the end marker; the last real record stays current
  // The year is expanded before the date becomes current, so that two- and
  // three-digit years agree with the station files and the step's date.
  date_ =
      ModelDate{row.Date.Hour, row.Date.Day, row.Date.Month, ExpandRegressionYear(row.Date.Year)};
  record_ = row.Record;
  ++next_;
  return true;
}

void RegressionFile::Rewind() {
  refillPosition_ = startPosition_;
  refillLine_ = startLine_;
  next_ = held_ + 1;
  date_ = startDate_;
}

} // namespace tavro
