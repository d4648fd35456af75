// Grid lists of method 9: header, start search and the advance of the open list.
#include "meteo/grid_list_file.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "meteo/station_file.h"
#include "meteo/text_lines.h"

#include <utility>
#include <vector>

namespace tavro {

GridListFile::GridListFile(DiagnosticsLog &log, std::string variableName, std::string path,
                           int additionalColumns)
    : log_(log), variableName_(std::move(variableName)), path_(std::move(path)),
      additionalColumns_(additionalColumns < 0 ? 0 : additionalColumns) {}

GridListFile::~GridListFile() = default;

void GridListFile::ReadHeader(double nodataBound) {
  StationDataFile header(log_, variableName_, path_, additionalColumns_, nodataBound);
  header.ReadDescription();
  const StationTable &table = header.Table();
  if (table.Count < 1)
    ThrowFatal(log_, ReadExitCode,
               Concat("error reading grid list ", path_, ": line 2 holds no number after its ",
                      4 + additionalColumns_, " labels (the cell size of its GIF images)"));
  cellSize_ = table.Altitude[1];
  xll_ = table.X[1];
  yll_ = table.Y[1];
}

bool GridListFile::ReadRow(std::FILE *file, long &lineNumber, ModelDate &date,
                           std::string &name) const {
  std::string line;
  while (ReadTextLine(file, line)) {
    ++lineNumber;
    const StationRowParse parse = ParseStationRow(line, additionalColumns_, 0, 0.0, nullptr);
    if (parse.isBlank)
      continue;
    const std::vector<std::string_view> tokens = TextTokens(line);
    const std::size_t at = 4 + static_cast<std::size_t>(additionalColumns_);
    if (!parse.ok || tokens.size() <= at)
      ThrowFatal(log_, ReadExitCode,
                 Concat("error reading grid list ", path_, ", line ", lineNumber,
                        parse.ok ? ": no grid file name after the date"
                                 : ": no date (year month day hour) could be read"));
    if (tokens[at].size() > MaxNameLength)
      ThrowFatal(log_, ReadExitCode,
                 Concat("error reading grid list ", path_, ", line ", lineNumber,
                        ": the grid file name is longer than ", MaxNameLength, " characters"));
    date = ModelDate{parse.hour, parse.day, parse.month, ExpandStationYear(parse.year)};
    name = std::string(tokens[at]);
    return true;
  }
  return false;
}

void GridListFile::FindStartDate(const ModelDate &start) {
  startDate_ = start;
  std::string entry = Concat("looking for starting date ", start.Day, ".", start.Month, ".",
                             start.Year, " for ", variableName_, " in ", path_);
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path_.c_str(), "r"));
  if (!file)
    ThrowFatal(log_, OpenExitCode, "\nerror opening file " + path_);
  std::string line;
  long lineNumber = 0;
  for (int i = 0; i < 5; ++i) // title, three header lines, line 5
    if (ReadTextLine(file.get(), line))
      ++lineNumber;
  bool found = false;
  while (true) {
    const long position = std::ftell(file.get());
    const long before = lineNumber;
    ModelDate date;
    std::string name;
    if (!ReadRow(file.get(), lineNumber, date, name))
      break;
    if (date == start) {
      date_ = date;
      gridName_ = name;
      startPosition_ = position;
      startLine_ = before;
      openPosition_ = std::ftell(file.get());
      openLine_ = lineNumber;
      found = true;
      break;
    }
    if ((date.Hour == 0 || date.Hour > 23) && date.Day == 1)
      entry += "."; // one dot per month passed over
  }
  log_.Entry(Concat(entry, DiagnosticsLog::EndToken));
  if (!found)
    ThrowFatal(log_, StartDateExitCode,
               Concat("\nfile ", path_, " dosnt contain date ", start.Day, ".", start.Month, ".",
                      start.Year, ", hour ", start.Hour, "(feof)!"));
  if (std::fclose(file.release()) != 0)
    ThrowFatal(log_, CloseExitCode, "error closing " + path_);
}

void GridListFile::Close() {
  if (!file_)
    return;
  // A later opening continues where this one stopped.
  openPosition_ = std::ftell(file_.get());
  openLine_ = line_;
  if (std::fclose(file_.release()) != 0)
    ThrowFatal(log_, CloseExitCode, "error closing " + path_);
}

bool GridListFile::NextEntry(long endDateCode) {
  if (DateCode(date_) >= endDateCode) {
    Close();
    return false;
  }
  if (!file_) {
    file_.reset(std::fopen(path_.c_str(), "r"));
    if (!file_)
      ThrowFatal(log_, OpenExitCode, "\nerror opening file " + path_);
    if (std::fseek(file_.get(), openPosition_, SEEK_SET) != 0)
      ThrowFatal(
          log_, ReadExitCode,
          Concat("error reading grid list ", path_, ": cannot return to byte ", openPosition_));
    line_ = openLine_;
  }
  ModelDate date;
  std::string name;
  if (!ReadRow(file_.get(), line_, date, name)) {
    Close();
    return false;
  }
  date_ = date;
  gridName_ = name;
  return true;
}

void GridListFile::Rewind() {
  Close();
  openPosition_ = startPosition_;
  openLine_ = startLine_;
  date_ = startDate_;
}

} // namespace tavro
