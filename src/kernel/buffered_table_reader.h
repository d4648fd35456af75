// Reads a time-series table of any length through a bounded buffer of rows:
// the file is opened only while a block of rows is parsed into memory, and
// the caller walks the rows one by one; leaving the block reads the next one
// from the remembered file position.
//
// Format: every line before the first line that starts with a digit is a
// header line; then one row per record: year, month, day, hour (whole
// numbers) and as many real values as the first data line holds after its
// date, separated by white space (a row may run over lines). The data end when
// fewer than 10 bytes, or nothing but white space, are left after a row.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tavro {

class DiagnosticsLog;

struct TableReaderRow {
  long year = 0;
  long month = 0;
  long day = 0;
  long hour = 0;
  std::vector<double> values; // ColumnCount values, from column 0
};

class BufferedTableReader {
public:
  // Reader states; callers inspect State() and the result of Open.
  enum : int {
    kNotOpened = 0,
    kReady = 1,      // more data may follow the buffered block
    kDataEnd = 2,    // the buffered block reaches the end of the data
    kNoFile = 3,     // the file did not open
    kPastEnd = 4,    // NextRow was called at the last row of the data
    kParseError = 5, // no data line, or a row failed to parse
    kNoRowFits = 6,  // the budget holds not even one row
  };

  // Value of GetValue (and of the date fields) where there is no such value.
  static constexpr double kMissing = -9999.0;
  // Longest text after the date on the first data line.
  static constexpr std::size_t kMaxFirstLineRest = 2047;

  BufferedTableReader() = default;
  // Calls Open (fileName, count, bufferBytes, log).
  BufferedTableReader(const std::string &fileName, unsigned int count, unsigned long bufferBytes,
                      DiagnosticsLog *log = nullptr);

  BufferedTableReader(BufferedTableReader &&) noexcept = default;
  BufferedTableReader &operator=(BufferedTableReader &&) noexcept = default;
  BufferedTableReader(const BufferedTableReader &) = delete;
  BufferedTableReader &operator=(const BufferedTableReader &) = delete;

  // Opens and sizes the reader and reads the first block. Returns the number
  // of header lines, or kNoFile, kParseError or kNoRowFits with that State
  // (the codes can equal a header count: check State()). Returns 0 without
  // effect when the reader is not in kNotOpened. count is not used. Throws
  // 202 when the first data line has no file position and 201 when its text
  // after the date exceeds kMaxFirstLineRest characters (logged as FATAL when
  // a log is given).
  int Open(const std::string &fileName, unsigned int count, unsigned long bufferBytes,
           DiagnosticsLog *log = nullptr);

  // Advances to the next row, reading the next block at the end of this one.
  // At the last row of the data the row stays current and State becomes
  // kPastEnd, also when the data end exactly with a block. The error states
  // kNoFile and kParseError are kept.
  void NextRow();
  // Sets the current row when index lies from -1 to RowCount(), else nothing.
  void SetRow(long index);
  // Moves the current row when the result lies from -1 to RowCount(), else nothing.
  void MoveRow(long offset);

  // Date of the current row; every field kMissing without a current row.
  void GetDate(int &year, int &month, int &day, int &hour) const;
  // Value of the current row in column (from 0); kMissing outside 0 to
  // ColumnCount() - 1 or without a current row.
  double GetValue(int column) const;

  // Reads the next block from the remembered position; the current row
  // becomes its first row.
  void Refill();
  void RefillIfReady();
  // Releases the buffer; the reader returns to kNotOpened and may be opened again.
  void FreeBuffer();

  int State() const { return state_; }
  // Number of the current row among all data rows of the file (1 for the
  // first data row), 0 without a current row.
  long DataRow() const { return Current() != nullptr ? blockStart_ + currentRow_ + 1 : 0; }
  // Number of the data row that could not be read (kParseError), 0 when no
  // row failed (or no data line was found at all).
  long FailedRow() const { return failedRow_; }
  long CurrentRow() const { return currentRow_; }
  long RowCount() const { return rowCount_; }
  long RowCapacity() const { return rowCapacity_; }
  long ColumnCount() const { return columnCount_; }
  long FileSize() const { return fileSize_; }
  const std::string &FileName() const { return fileName_; }
  unsigned long BufferBytes() const { return bufferBytes_; }

private:
  const TableReaderRow *Current() const;

  std::string fileName_;
  std::vector<TableReaderRow> rows_;
  unsigned long bufferBytes_ = 0;
  long rowCapacity_ = 0;
  long currentRow_ = -1;
  long rowCount_ = 0;
  long columnCount_ = 0;
  long fileSize_ = 0;
  long dataPosition_ = 0;
  long blockStart_ = 0;     // data rows before the buffered block
  long nextBlockStart_ = 0; // data rows before the next block
  long failedRow_ = 0;
  int state_ = kNotOpened;
};

} // namespace tavro
