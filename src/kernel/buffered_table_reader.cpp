// Block-wise reading of time-series tables through a bounded row buffer.
#include "kernel/buffered_table_reader.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <limits>
#include <sstream>

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"

namespace tavro {
namespace {

// Bytes left after the last row below which the data are taken to end.
constexpr long kEndSlack = 10;

[[noreturn]] void Fail(DiagnosticsLog *log, int code, const std::string &text) {
  if (log != nullptr)
    ThrowFatal(*log, code, text);
  throw code;
}

// Number of reals that can be read one after the other from text.
long CountReals(const std::string &text) {
  std::istringstream in(text);
  long count = 0;
  double value = 0;
  while (in >> value)
    ++count;
  return count;
}

} // namespace

BufferedTableReader::BufferedTableReader(const std::string &fileName, unsigned int count,
                                         unsigned long bufferBytes, DiagnosticsLog *log) {
  Open(fileName, count, bufferBytes, log);
}

int BufferedTableReader::Open(const std::string &fileName, unsigned int /*count*/,
                              unsigned long bufferBytes, DiagnosticsLog *log) {
  if (state_ != kNotOpened)
    return 0;
  fileName_ = fileName;
  bufferBytes_ = bufferBytes;

  std::ifstream in(fileName_, std::ios::binary);
  if (!in) {
    state_ = kNoFile;
    return kNoFile;
  }
  int headerLines = 0;
  for (;;) {
    const int next = in.peek();
    if (next == std::char_traits<char>::eof()) {
      state_ = kParseError;
      return kParseError;
    }
    if (std::isdigit(next))
      break;
    in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    ++headerLines;
  }

  const std::streamoff firstData = in.tellg();
  if (!in.good() || firstData < 0)
    Fail(log, 202, Concat("table ", fileName_, ": no position of the first data line"));
  dataPosition_ = static_cast<long>(firstData);
  long date[4] = {};
  if (!(in >> date[0] >> date[1] >> date[2] >> date[3])) {
    state_ = kParseError;
    return kParseError;
  }
  std::string rest;
  std::getline(in, rest);
  if (rest.size() > kMaxFirstLineRest) {
    Fail(log, 201,
         Concat("table ", fileName_, ": first data line longer than ", kMaxFirstLineRest,
                " characters after its date"));
  }
  columnCount_ = CountReals(rest);

  in.clear();
  in.seekg(0, std::ios::end);
  fileSize_ = static_cast<long>(in.tellg());
  in.close();

  // A budget that holds no row would leave every block empty and the walk
  // refilling forever.
  const unsigned long rowBytes = static_cast<unsigned long>(columnCount_) * 8 + 16;
  const unsigned long budgetRows = bufferBytes_ / rowBytes;
  if (budgetRows == 0) {
    state_ = kNoRowFits;
    return kNoRowFits;
  }
  rowCapacity_ =
      static_cast<long>(std::min<unsigned long>(budgetRows, std::numeric_limits<long>::max()));
  // Records are made as rows are read, so a generous budget for a short
  // table costs no more than the table.
  rows_.clear();
  rowCount_ = rowCapacity_;

  state_ = kReady;
  currentRow_ = rowCount_ + 1;
  blockStart_ = nextBlockStart_ = failedRow_ = 0;
  Refill();
  return headerLines;
}

void BufferedTableReader::Refill() {
  currentRow_ = 0;
  std::ifstream in(fileName_, std::ios::binary);
  if (!in) {
    state_ = kNoFile;
    rowCount_ = 0;
    return;
  }
  in.seekg(dataPosition_);
  long read = 0;
  bool end = false;
  while (in.good() && read < rowCapacity_) {
    const std::streamoff position = in.tellg();
    if (position < 0 || fileSize_ - static_cast<long>(position) < kEndSlack) {
      end = true;
      break;
    }
    // Trailing blank lines end the data as well instead of reading as a bad row.
    in >> std::ws;
    if (in.eof()) {
      end = true;
      break;
    }
    if (static_cast<std::size_t>(read) == rows_.size())
      rows_.emplace_back().values.assign(static_cast<std::size_t>(columnCount_), 0.0);
    TableReaderRow &row = rows_[static_cast<std::size_t>(read)];
    in >> row.year >> row.month >> row.day >> row.hour;
    for (double &value : row.values)
      in >> value;
    if (in.fail()) {
      // No row of a block that failed is handed out.
      state_ = kParseError;
      failedRow_ = nextBlockStart_ + read + 1;
      rowCount_ = 0;
      return;
    }
    ++read;
    // A last row without its final line break is still a whole row.
    if (in.eof())
      end = true;
  }
  in.clear();
  const std::streamoff position = in.tellg();
  state_ = end ? kDataEnd : kReady;
  rowCount_ = read;
  currentRow_ = 0;
  blockStart_ = nextBlockStart_;
  nextBlockStart_ += read;
  if (position >= 0)
    dataPosition_ = static_cast<long>(position);
}

void BufferedTableReader::RefillIfReady() {
  if (state_ == kReady)
    Refill();
}

void BufferedTableReader::NextRow() {
  if (state_ == kNoFile || state_ == kParseError)
    return;
  if (currentRow_ < rowCount_ - 1) {
    ++currentRow_;
    return;
  }
  if (state_ != kReady) {
    state_ = kPastEnd;
    return;
  }
  // The data may end exactly with the block: then nothing is read, and the
  // last row stays current instead of a stale record of the buffer.
  const long previousRow = currentRow_;
  const long previousCount = rowCount_;
  const long previousStart = blockStart_;
  Refill();
  if (state_ == kDataEnd && rowCount_ == 0) {
    blockStart_ = previousStart;
    rowCount_ = previousCount;
    currentRow_ = previousRow;
    state_ = kPastEnd;
  }
}

void BufferedTableReader::SetRow(long index) {
  if (index >= -1 && index <= rowCount_)
    currentRow_ = index;
}

void BufferedTableReader::MoveRow(long offset) {
  const long target = currentRow_ + offset;
  if (target >= -1 && target <= rowCount_)
    currentRow_ = target;
}

const TableReaderRow *BufferedTableReader::Current() const {
  if (currentRow_ < 0 || currentRow_ >= rowCount_ ||
      static_cast<std::size_t>(currentRow_) >= rows_.size())
    return nullptr;
  return &rows_[static_cast<std::size_t>(currentRow_)];
}

void BufferedTableReader::GetDate(int &year, int &month, int &day, int &hour) const {
  const TableReaderRow *row = Current();
  if (row == nullptr) {
    year = month = day = hour = static_cast<int>(kMissing);
    return;
  }
  year = static_cast<int>(row->year);
  month = static_cast<int>(row->month);
  day = static_cast<int>(row->day);
  hour = static_cast<int>(row->hour);
}

double BufferedTableReader::GetValue(int column) const {
  const TableReaderRow *row = Current();
  if (row == nullptr || column < 0 || column >= columnCount_)
    return kMissing;
  return row->values[static_cast<std::size_t>(column)];
}

void BufferedTableReader::FreeBuffer() {
  rows_.clear();
  rows_.shrink_to_fit();
  rowCapacity_ = 0;
  rowCount_ = 0;
  currentRow_ = -1;
  state_ = kNotOpened;
}

} // namespace tavro
