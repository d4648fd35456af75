// Station data files: header, start search, read-ahead buffer and advance.
#include "meteo/station_file.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "meteo/text_lines.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace tavro {
namespace {

constexpr unsigned long kBufferBudget = 2097152; // 2 MiB per file

// A whole token as an integer.
bool ParseLong(std::string_view token, long &value) {
  const std::string text(token);
  char *end = nullptr;
  errno = 0;
  value = std::strtol(text.c_str(), &end, 10);
  return end != text.c_str() && *end == '\0' && errno == 0;
}

// A whole token as a finite number.
bool ParseDouble(std::string_view token, double &value) {
  const std::string text(token);
  char *end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end != text.c_str() && *end == '\0' && std::isfinite(value);
}

// A number read from the start of the token (the station count of line 2).
bool StartsWithNumber(std::string_view token) {
  const std::string text(token);
  char *end = nullptr;
  std::strtod(text.c_str(), &end);
  return end != text.c_str();
}

double ApplyNodata(double value, double bound) {
  return (value < -bound || value > bound) ? -bound - 1.0 : value;
}

} // namespace

long StationBufferRows(int stationCount) {
  const unsigned long rowBytes = 8UL * (static_cast<unsigned long>(stationCount) + 1UL) + 32UL;
  const long rows = static_cast<long>(kBufferBudget / rowBytes);
  return rows < 1 ? 1 : rows;
}

long ExpandStationYear(long year) { return year <= 99 ? year + 1900 : year; }

StationRowParse ParseStationRow(const std::string &line, int additionalColumns, int stationCount,
                                double nodataBound, double *values) {
  StationRowParse result;
  const std::vector<std::string_view> tokens = TextTokens(line);
  if (tokens.empty()) {
    result.isBlank = true;
    return result;
  }
  // A date beyond what the date code holds is refused like a number too long
  // for 64 bits: no date arithmetic may overflow.
  if (tokens.size() < 4 || !ParseLong(tokens[0], result.year) ||
      !ParseLong(tokens[1], result.month) || !ParseLong(tokens[2], result.day) ||
      !ParseLong(tokens[3], result.hour) ||
      !DateCodeFits(result.year, result.month, result.day, result.hour))
    return result; // failedValue 0: the date
  if (values == nullptr) {
    result.ok = true;
    return result;
  }
  const std::size_t first = 4 + static_cast<std::size_t>(additionalColumns);
  for (int i = 1; i <= stationCount; ++i) {
    const std::size_t at = first + static_cast<std::size_t>(i - 1);
    double value = 0.0;
    if (at >= tokens.size() || !ParseDouble(tokens[at], value)) {
      result.failedValue = i;
      return result;
    }
    values[i] = ApplyNodata(value, nodataBound);
  }
  result.ok = true;
  return result;
}

StationDataFile::StationDataFile(DiagnosticsLog &log, std::string variableName, std::string path,
                                 int additionalColumns, double nodataBound)
    : log_(log), variableName_(std::move(variableName)), path_(std::move(path)),
      additionalColumns_(additionalColumns < 0 ? 0 : additionalColumns), nodataBound_(nodataBound) {
}

void StationDataFile::ReadDescription() {
  log_.Entry(Concat("reading station description for ", variableName_, " from ", path_, " ...",
                    DiagnosticsLog::EndToken));
  const std::size_t labels = 4 + static_cast<std::size_t>(additionalColumns_);
  std::string line;
  {
    std::FILE *file = std::fopen(path_.c_str(), "r");
    if (file == nullptr)
      ThrowFatal(log_, OpenExitCode, "\nerror opening " + path_);
    const bool read = ReadTextLine(file, line) && ReadTextLine(file, line);
    std::fclose(file);
    if (!read)
      ThrowFatal(log_, ReadExitCode,
                 Concat("error reading station description from ", path_,
                        ": the file ends before its line 2 (altitudes)"));
  }
  const std::vector<std::string_view> tokens = TextTokens(line);
  int count = 0;
  for (std::size_t i = labels; i < tokens.size() && StartsWithNumber(tokens[i]); ++i)
    ++count;

  table_.Count = count;
  table_.Altitude = OneBasedArray<double>(static_cast<std::size_t>(count));
  table_.X = OneBasedArray<double>(static_cast<std::size_t>(count));
  table_.Y = OneBasedArray<double>(static_cast<std::size_t>(count));
  values_ = OneBasedArray<double>(static_cast<std::size_t>(count), -nodataBound_ - 1.0);
  log_.Entry(Concat(" (", count, ") Stationen ", DiagnosticsLog::EndToken));

  std::FILE *file = std::fopen(path_.c_str(), "r");
  if (file == nullptr)
    ThrowFatal(log_, OpenExitCode, "error opening file " + path_);
  ReadTextLine(file, line); // title
  OneBasedArray<double> *targets[3] = {&table_.Altitude, &table_.X, &table_.Y};
  for (int l = 0; l < 3; ++l) {
    const bool read = ReadTextLine(file, line);
    const std::vector<std::string_view> fields = TextTokens(line);
    for (int i = 1; i <= count; ++i) {
      const std::size_t at = labels + static_cast<std::size_t>(i - 1);
      double value = 0.0;
      if (!read || at >= fields.size() || !ParseDouble(fields[at], value)) {
        std::fclose(file);
        ThrowFatal(log_, ReadExitCode,
                   Concat("error reading station description from ", path_, ": line ", l + 2,
                          " holds no readable value for station ", i, " of ", count));
      }
      (*targets[l])[static_cast<std::size_t>(i)] = value;
    }
  }
  if (std::fclose(file) != 0)
    ThrowFatal(log_, CloseExitCode, "error closing " + path_);
}

void StationDataFile::FindStartDate(const ModelDate &start) {
  startDate_ = start;
  std::string entry = Concat("looking for starting date ", start.Day, ".", start.Month, ".",
                             start.Year, " for ", variableName_, " in ", path_);
  std::FILE *file = std::fopen(path_.c_str(), "r");
  if (file == nullptr)
    ThrowFatal(log_, OpenExitCode, "\nerror opening file " + path_);
  std::string line;
  long lineNumber = 0;
  for (int i = 0; i < 5; ++i) // title, three header lines, station names
    if (ReadTextLine(file, line))
      ++lineNumber;
  for (auto &value : values_)
    value = -nodataBound_ - 1.0;

  const int count = table_.Count;
  bool found = false;
  while (true) {
    const long position = std::ftell(file);
    if (!ReadTextLine(file, line))
      break;
    ++lineNumber;
    StationRowParse date = ParseStationRow(line, additionalColumns_, count, nodataBound_, nullptr);
    if (date.isBlank)
      continue;
    if (!date.ok) {
      std::fclose(file);
      RowError(lineNumber, date);
    }
    const ModelDate rowDate{date.hour, date.day, date.month, ExpandStationYear(date.year)};
    if (rowDate == start) {
      const StationRowParse row =
          ParseStationRow(line, additionalColumns_, count, nodataBound_, values_.Data());
      if (!row.ok) {
        std::fclose(file);
        RowError(lineNumber, row);
      }
      date_ = rowDate;
      startPosition_ = position;
      startLine_ = lineNumber - 1;
      refillPosition_ = std::ftell(file);
      refillLine_ = lineNumber;
      found = true;
      break;
    }
    if ((date.hour == 0 || date.hour > 23) && date.day == 1)
      entry += "."; // one dot per month passed over
  }
  if (!found) {
    std::fclose(file);
    // The search entry ends here; the missing date is a FATAL entry of its
    // own, so that it reaches the diagnostics file.
    log_.Entry(Concat(entry, DiagnosticsLog::EndToken));
    ThrowFatal(log_, StartDateExitCode,
               Concat("\nfile ", path_, " dosnt contain date ", start.Day, ".", start.Month, ".",
                      start.Year, ", hour ", start.Hour, "(feof)!"));
  }
  // The start row is judged like every later row, so that the first step
  // computes what any other step with the same values would.
  uniform_ = AllValidValuesEqual() ? 1 : 0;
  log_.Entry(Concat(entry, DiagnosticsLog::EndToken));
  if (std::fclose(file) != 0)
    ThrowFatal(log_, CloseExitCode, "error closing " + path_);

  capacity_ = StationBufferRows(count);
  held_ = 0;
  next_ = capacity_ + 1; // the first advance fills the buffer
}

bool StationDataFile::Refill() {
  std::FILE *file = std::fopen(path_.c_str(), "r");
  if (file == nullptr)
    ThrowFatal(log_, OpenExitCode, "\nerror opening file " + path_);
  if (std::fseek(file, refillPosition_, SEEK_SET) != 0) {
    std::fclose(file);
    ThrowFatal(log_, ReadExitCode,
               Concat("error reading station data file ", path_, ": cannot return to byte ",
                      refillPosition_));
  }
  const int count = table_.Count;
  if (buffer_.empty())
    buffer_.reserve(static_cast<std::size_t>(capacity_ < 1024 ? capacity_ : 1024));
  held_ = 0;
  std::string line;
  long lineNumber = refillLine_;
  while (held_ < capacity_ && ReadTextLine(file, line)) {
    ++lineNumber;
    if (static_cast<long>(buffer_.size()) <= held_)
      buffer_.push_back(Row{{}, std::vector<double>(static_cast<std::size_t>(count) + 1, 0.0)});
    Row &row = buffer_[static_cast<std::size_t>(held_)];
    const StationRowParse parse =
        ParseStationRow(line, additionalColumns_, count, nodataBound_, row.values.data());
    if (parse.isBlank)
      continue;
    const bool endMarker =
        parse.failedValue > 0 && parse.year == 0 && parse.month == 0 && parse.day == 0;
    if (!parse.ok && !endMarker) {
      std::fclose(file);
      RowError(lineNumber, parse);
    }
    row.date = ModelDate{parse.hour, parse.day, parse.month, parse.year};
    ++held_;
    if (endMarker || (parse.year == 0 && parse.month == 0 && parse.day == 0))
      break; // nothing after the end marker is used
  }
  next_ = held_ > 0 ? 1 : 0;
  refillPosition_ = std::ftell(file);
  refillLine_ = lineNumber;
  if (std::fclose(file) != 0)
    ThrowFatal(log_, CloseExitCode, "error closing " + path_);
  return held_ > 0;
}

bool StationDataFile::NextRow(long endDateCode) {
  if (DateCode(date_) >= endDateCode)
    return false;
  if (next_ < 1 || next_ > held_) {
    if (!Refill())
      return false;
  }
  const Row &row = buffer_[static_cast<std::size_t>(next_ - 1)];
  ModelDate date = row.date;
  if (date.Year == 0 && date.Month == 0 && date.Day == 0)
    return false; // the end marker; the last real row stays current
  if (date.Year == 0 || (date.Year >= 1 && date.Year <= 99))
    date.Year += 1900;
  date_ = date;

  const int count = table_.Count;
  for (int i = 1; i <= count; ++i)
    values_[static_cast<std::size_t>(i)] = row.values[static_cast<std::size_t>(i)];
  uniform_ = AllValidValuesEqual() ? 1 : 0;
  ++next_;
  return true;
}

bool StationDataFile::AllValidValuesEqual() const {
  double lowest = 0.0;
  double highest = 0.0;
  bool any = false;
  for (const double value : values_) {
    if (value < -nodataBound_)
      continue;
    if (!any || value < lowest)
      lowest = value;
    if (!any || value > highest)
      highest = value;
    any = true;
  }
  return !any || lowest == highest;
}

void StationDataFile::Rewind() {
  refillPosition_ = startPosition_;
  refillLine_ = startLine_;
  next_ = held_ + 1;
  date_ = startDate_;
}

void StationDataFile::RowError(long lineNumber, const StationRowParse &parse) const {
  if (parse.failedValue == 0)
    ThrowFatal(log_, ReadExitCode,
               Concat("error reading station data file ", path_, ", line ", lineNumber,
                      ": no date (year month day hour) could be read"));
  ThrowFatal(log_, ReadExitCode,
             Concat("error reading station data file ", path_, ", line ", lineNumber, " (date ",
                    parse.year, " ", parse.month, " ", parse.day, " ", parse.hour,
                    "): no readable value for station ", parse.failedValue, " of ", table_.Count));
}

} // namespace tavro
