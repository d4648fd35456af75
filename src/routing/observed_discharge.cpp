// Reading the observed-discharge table row by row along the model time.
#include "routing/observed_discharge.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"

#include <algorithm>

namespace tavro {
namespace {

// Two- and three-digit years are years of the 1900s.
long FullYear(long year) { return year < 1000 ? 1900 + year : year; }

std::string DateText(const ModelDate &d) {
  return Concat(d.Day, ".", d.Month, ".", d.Year, " ", d.Hour, "h");
}

} // namespace

ModelDate ObservedDischarge::CurrentDate() const {
  int year = 0, month = 0, day = 0, hour = 0;
  reader_.GetDate(year, month, day, hour);
  return ModelDate{hour, day, month, FullYear(year)};
}

void ObservedDischarge::Open(const std::string &fileName, const ModelDate &start,
                             DiagnosticsLog &log) {
  fileName_ = fileName;
  lastTakenRow_ = 0;
  lastChecked_ = false;
  reader_.Open(fileName, 0, BufferBytes, &log);
  if (reader_.State() == BufferedTableReader::kNoFile) {
    log.Entry(Concat("INFO: error opening ", fileName,
                     "\nRouting will be done without comparison to observed discharge data!",
                     DiagnosticsLog::EndToken));
    endOfFileCount_ = EndOfFileLimit;
    return;
  }
  if (reader_.State() == BufferedTableReader::kParseError && reader_.FailedRow() > 0)
    ThrowFatal(log, ReadErrorExitCode,
               Concat("error reading ", fileName, " at row ", reader_.FailedRow(), ": a date and ",
                      reader_.ColumnCount(),
                      " values expected (e.g. a value missing or not a number)"));
  if (reader_.State() == BufferedTableReader::kParseError ||
      reader_.State() == BufferedTableReader::kNoRowFits)
    ThrowFatal(log, ReadErrorExitCode,
               Concat("error analysing or reading ", fileName, " at row ", reader_.RowCount() + 1,
                      " or before \n(e.g. due to wrong formatting or wrong number of columns or "
                      "start date not found)"));
  log_ = &log;
  opened_ = true;
  ring_.Resize(static_cast<int>(reader_.ColumnCount()));
  reader_.SetRow(-1);
  for (;;) {
    reader_.NextRow();
    if (reader_.State() == BufferedTableReader::kPastEnd) {
      ++endOfFileCount_;
      break;
    }
    if (CurrentDate() == start)
      break;
  }
  for (int row = ObservedDischargeRing::CurrentRow; row < ObservedDischargeRing::Rows; ++row) {
    TakeRow(row, true);
    reader_.NextRow();
  }
  for (int row = 0; row < ObservedDischargeRing::CurrentRow; ++row) {
    std::copy_n(ring_.Row(ObservedDischargeRing::CurrentRow), ring_.Columns() + 1, ring_.Row(row));
    dates_[static_cast<std::size_t>(row)] = dates_[ObservedDischargeRing::CurrentRow];
    dated_[static_cast<std::size_t>(row)] = dated_[ObservedDischargeRing::CurrentRow];
    rows_[static_cast<std::size_t>(row)] = rows_[ObservedDischargeRing::CurrentRow];
  }
  readerDate_ = CurrentDate();
}

void ObservedDischarge::TakeRow(int row, bool countPastEnd) {
  const bool pastEnd = reader_.State() == BufferedTableReader::kPastEnd;
  if (pastEnd && countPastEnd)
    ++endOfFileCount_;
  double *values = ring_.Row(row);
  for (int c = 1; c <= ring_.Columns(); ++c)
    values[c] = reader_.GetValue(c - 1);
  const ModelDate date = CurrentDate();
  dates_[static_cast<std::size_t>(row)] = date;
  dated_[static_cast<std::size_t>(row)] = !pastEnd;
  rows_[static_cast<std::size_t>(row)] = reader_.DataRow();
  if (pastEnd)
    return;
  // Rows are paired with the steps by position: a row that does not follow
  // the one before (unsorted or repeated) would pair wrong days.
  if (lastTakenRow_ > 0 && reader_.DataRow() > lastTakenRow_ &&
      DateCode(date) <= DateCode(lastTakenDate_))
    ThrowFatal(*log_, ReadErrorExitCode,
               Concat("observed runoff: row ", reader_.DataRow(), " of ", fileName_, " holds ",
                      DateText(date), ", which does not follow ", DateText(lastTakenDate_),
                      " of row ", lastTakenRow_, " (rows unsorted or repeated)"));
  lastTakenRow_ = std::max(lastTakenRow_, reader_.DataRow());
  lastTakenDate_ = date;
}

bool ObservedDischarge::CheckDate(const ModelDate &model, DiagnosticsLog &log) {
  if (!Comparing())
    return false;
  constexpr auto current = static_cast<std::size_t>(ObservedDischargeRing::CurrentRow);
  // Rows repeated past the end carry no date of their own; they count
  // towards the end of the comparison instead.
  // A spin-up pass starts the model time again: the table has been compared
  // with the first pass, the later passes are not compared.
  const bool timeRestarted = lastChecked_ && DateCode(model) <= DateCode(lastCheckedDate_);
  lastChecked_ = true;
  lastCheckedDate_ = model;
  if (timeRestarted) {
    log.Entry(Concat("INFO: observed runoff: the model time starts again at ", DateText(model),
                     "; the comparison with observed discharge covers the first pass only",
                     DiagnosticsLog::EndToken));
    endOfFileCount_ = EndOfFileLimit;
    return false;
  }
  if (!dated_[current] || dates_[current] == model)
    return true;
  ThrowFatal(log, ReadErrorExitCode,
             Concat("observed runoff: row ", rows_[current], " of ", fileName_, " holds ",
                    DateText(dates_[current]), ", but the model date is ", DateText(model),
                    " (a missing or an extra row)"));
}

void ObservedDischarge::Advance(const ModelDate &model, DiagnosticsLog &log) {
  if (!opened_)
    return;
  if (endOfFileCount_ >= EndOfFileLimit)
    log.Entry(Concat("INFO: observed runoff: actual date ", model.Day, ".", model.Month, ".",
                     model.Year, " ", model.Hour, "h not found (end of discharge file at ",
                     readerDate_.Day, ".", readerDate_.Month, ".", readerDate_.Year, ", ",
                     readerDate_.Hour, "h)", DiagnosticsLog::EndToken));
  constexpr int last = ObservedDischargeRing::Rows - 1;
  const std::size_t width = static_cast<std::size_t>(ring_.Columns()) + 1;
  std::vector<double> first(ring_.Row(0), ring_.Row(0) + width);
  for (int row = 0; row < last; ++row) {
    std::copy_n(ring_.Row(row + 1), width, ring_.Row(row));
    dates_[static_cast<std::size_t>(row)] = dates_[static_cast<std::size_t>(row) + 1];
    dated_[static_cast<std::size_t>(row)] = dated_[static_cast<std::size_t>(row) + 1];
    rows_[static_cast<std::size_t>(row)] = rows_[static_cast<std::size_t>(row) + 1];
  }
  std::copy(first.begin(), first.end(), ring_.Row(last));
  if (endOfFileCount_ < EndOfFileLimit) {
    TakeRow(last, false);
    reader_.NextRow();
    if (reader_.State() == BufferedTableReader::kPastEnd) {
      log.Entry(Concat("INFO: end of discharge file reached!", DiagnosticsLog::EndToken));
      ++endOfFileCount_;
    } else {
      readerDate_ = CurrentDate();
    }
  } else {
    std::fill_n(ring_.Row(last), width, 0.0);
    dated_[last] = false;
  }
}

void ObservedDischarge::Close() {
  reader_.FreeBuffer();
  opened_ = false;
}

} // namespace tavro
