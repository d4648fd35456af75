// The buffered table of a reservoir or an abstraction: the file is created
// with its header at set-up, rows of a date and values are kept in a block
// of 2097152 bytes and appended to the file when the block is full or the
// routing flushes its outputs.
#pragma once

#include <string>
#include <vector>

namespace tavro {

class DiagnosticsLog;

inline constexpr long kElementTableBufferBytes = 2097152;
inline constexpr int kElementTableCreateExitCode = 37;
inline constexpr int kElementTableAppendExitCode = 65;

class ElementTableWriter {
public:
  ElementTableWriter() = default;
  // valuesPerRow values follow the four date values; capacity rows (at least 1).
  ElementTableWriter(std::string fileName, int valuesPerRow, long capacity);

  // Creates the file with the given text (the header lines); false on failure.
  bool Create(const std::string &header) const;
  // Stores one row, flushing first when the block is full.
  void Append(DiagnosticsLog &log, int year, int month, int day, int hour, const double *values);
  // Appends the buffered rows ("%2.0lf" for the date, "\t%lg" after); an
  // unopenable file is fatal (65).
  void Flush(DiagnosticsLog &log);

  const std::string &FileName() const { return fileName_; }
  long Capacity() const { return capacity_; }
  long BufferedRows() const { return rows_; }

private:
  std::string fileName_;
  int width_ = 0; // 4 + valuesPerRow
  long capacity_ = 1;
  long rows_ = 0;
  std::vector<double> buffer_;
};

// One table row as it is written, line break included.
std::string FormatElementRow(const double *row, int count);

} // namespace tavro
