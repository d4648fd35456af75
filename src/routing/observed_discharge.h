// The observed discharges that the routing compares with: a reader of the
// observed-discharge table positioned at the model's start date, and the ring
// of the observations of the ten steps before and after the current one
// (rows 0..20, row 10 the current step), moved one row per step. Every ring
// row keeps the date of its table row, so a table with a gap (a missing or
// extra row) stops the comparison instead of pairing wrong days.
#pragma once

#include "kernel/buffered_table_reader.h"
#include "kernel/model_date.h"
#include "routing/routing_flow_arrays.h"

#include <array>
#include <string>

namespace tavro {

class DiagnosticsLog;

class ObservedDischarge {
public:
  // The comparison ends after this many reads past the end of the table.
  static constexpr int EndOfFileLimit = 10;
  static constexpr unsigned long BufferBytes = 1000000;
  // An unreadable table, or rows that do not fit the model dates.
  static constexpr int ReadErrorExitCode = 203;

  // Opens the table and fills the ring from the row of the start date. A
  // table that does not open: an information entry, no ring (Opened false).
  // An unreadable table is fatal (203).
  void Open(const std::string &fileName, const ModelDate &start, DiagnosticsLog &log);
  bool Opened() const { return opened_; }
  // True while the current step is compared (fewer than ten reads past the
  // end, no date mismatch).
  bool Comparing() const { return opened_ && endOfFileCount_ < EndOfFileLimit; }
  // True while comparing and the current ring row's table date equals the
  // model date; a different date is fatal (203), naming the file and row. A
  // model date that is not after the last one checked (a new spin-up pass)
  // ends the comparison with an information entry.
  bool CheckDate(const ModelDate &model, DiagnosticsLog &log);
  // The move to the next step (after the comparison of this one).
  void Advance(const ModelDate &model, DiagnosticsLog &log);
  void Close();

  const ObservedDischargeRing &Ring() const { return ring_; }
  // Number of value columns of the table (0 when not opened).
  int Columns() const { return ring_.Columns(); }
  int EndOfFileCount() const { return endOfFileCount_; }
  const ModelDate &ReaderDate() const { return readerDate_; }

private:
  // The reader's current row into a ring row; a reader past its end repeats
  // its last row (without a date) and, when countPastEnd, counts a read
  // past the end.
  void TakeRow(int row, bool countPastEnd);
  ModelDate CurrentDate() const;

  BufferedTableReader reader_;
  ObservedDischargeRing ring_;
  std::array<ModelDate, ObservedDischargeRing::Rows> dates_{};
  std::array<bool, ObservedDischargeRing::Rows> dated_{};
  std::array<long, ObservedDischargeRing::Rows> rows_{}; // data row numbers of the file
  long lastTakenRow_ = 0;
  bool lastChecked_ = false;
  ModelDate lastCheckedDate_;
  ModelDate lastTakenDate_;
  DiagnosticsLog *log_ = nullptr;
  ModelDate readerDate_;
  int endOfFileCount_ = 0;
  bool opened_ = false;
  std::string fileName_;
};

} // namespace tavro
