// The grid list of method 9: one row per step that names a grid file holding
// the variable's values, already interpolated.
//
//   line 1      title (ignored)
//   lines 2-4   4 + A labels, then at least one number per line as in a
//               station file; the first column gives the cell size (line 2)
//               and the lower-left x and y (lines 3, 4) of the GIF images
//               the list names (further columns are accepted and not used)
//   line 5      ignored
//   lines 6...  year month day hour, A additional tokens, the grid file name
//               ("-9999": the last valid one again), anything else ignored
//
// A year up to 99 is 1900 plus the year. The list is positioned at the start
// of the model time and then stays open from step to step; it is closed when
// its data end and reopened at the start row after a rewind.
//
// Errors (FATAL entry, exit code): not opened 49, unreadable row 49, not
// closed 50, start date missing 51.
#pragma once

#include "kernel/model_date.h"

#include <cstdio>
#include <memory>
#include <string>

namespace tavro {

class DiagnosticsLog;

class GridListFile {
public:
  static constexpr int OpenExitCode = 49;
  static constexpr int ReadExitCode = 49;
  static constexpr int CloseExitCode = 50;
  static constexpr int StartDateExitCode = 51;
  // Longest grid file name of a row.
  static constexpr std::size_t MaxNameLength = 1200;

  GridListFile(DiagnosticsLog &log, std::string variableName, std::string path,
               int additionalColumns);
  ~GridListFile();
  GridListFile(const GridListFile &) = delete;
  GridListFile &operator=(const GridListFile &) = delete;

  // Reads lines 2 to 4 with the station-file header reader; a list without a
  // number there is fatal (49).
  void ReadHeader(double nodataBound);
  // Finds the row dated start (hour, day, month and year) and takes its grid
  // name; fatal 51 when there is none.
  void FindStartDate(const ModelDate &start);
  // Makes the next row current. Returns false (the data have ended, the file
  // is closed) when the current date has reached endDateCode or the file has
  // no further row.
  bool NextEntry(long endDateCode);
  // Back to the start row: the next NextEntry delivers it again.
  void Rewind();

  const std::string &Path() const { return path_; }
  double CellSize() const { return cellSize_; }
  double LowerLeftX() const { return xll_; }
  double LowerLeftY() const { return yll_; }
  // Date and grid file name of the current row.
  const ModelDate &Date() const { return date_; }
  const std::string &GridName() const { return gridName_; }
  bool IsOpen() const { return file_ != nullptr; }

private:
  struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
  };

  // Reads the next row at the file's position into date and name; false at
  // the end of the file.
  bool ReadRow(std::FILE *file, long &lineNumber, ModelDate &date, std::string &name) const;
  void Close();

  DiagnosticsLog &log_;
  std::string variableName_;
  std::string path_;
  int additionalColumns_ = 0;
  double cellSize_ = 0.0, xll_ = 0.0, yll_ = 0.0;
  ModelDate date_;
  ModelDate startDate_;
  std::string gridName_;
  long startPosition_ = 0; // the start row
  long startLine_ = 0;
  long openPosition_ = 0; // where the next opening continues
  long openLine_ = 0;
  long line_ = 0; // last line read while open
  std::unique_ptr<std::FILE, FileCloser> file_;
};

} // namespace tavro
