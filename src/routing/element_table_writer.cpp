// Buffered reservoir and abstraction tables.
#include "routing/element_table_writer.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "raster/files/grid_file_context.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace tavro {
namespace {
struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;
} // namespace

ElementTableWriter::ElementTableWriter(std::string fileName, int valuesPerRow, long capacity)
    : fileName_(std::move(fileName)), width_(4 + valuesPerRow), capacity_(std::max(1L, capacity)),
      buffer_(static_cast<std::size_t>(capacity_) * static_cast<std::size_t>(width_), 0.0) {}

bool ElementTableWriter::Create(const std::string &header) const {
  File file(std::fopen(fileName_.c_str(), "w"));
  if (!file)
    return false;
  return std::fputs(header.c_str(), file.get()) >= 0;
}

void ElementTableWriter::Append(DiagnosticsLog &log, int year, int month, int day, int hour,
                                const double *values) {
  if (rows_ >= capacity_)
    Flush(log);
  double *row = buffer_.data() + static_cast<std::size_t>(rows_) * static_cast<std::size_t>(width_);
  row[0] = year;
  row[1] = month;
  row[2] = day;
  row[3] = hour;
  std::copy(values, values + (width_ - 4), row + 4);
  ++rows_;
}

std::string FormatElementRow(const double *row, int count) {
  std::string line;
  char piece[64];
  std::snprintf(piece, sizeof piece, "%2.0lf\t%2.0lf\t%2.0lf\t%2.0lf", row[0], row[1], row[2],
                row[3]);
  line += piece;
  for (int i = 4; i < count; ++i) {
    std::snprintf(piece, sizeof piece, "\t%lg", row[i]);
    line += piece;
  }
  line += "\n";
  return line;
}

void ElementTableWriter::Flush(DiagnosticsLog &log) {
  if (rows_ == 0)
    return;
  InterruptPause pause(InterruptPause::After::ProgramHandler, nullptr);
  log.Entry(Concat("flushing to disk: ", fileName_, " (", kElementTableBufferBytes, " buffersize)",
                   DiagnosticsLog::EndToken));
  File file(std::fopen(fileName_.c_str(), "a+"));
  if (!file)
    ThrowFatal(log, kElementTableAppendExitCode,
               Concat("error opening reservoir file ", fileName_));
  for (long r = 0; r < rows_; ++r) {
    const std::string line = FormatElementRow(
        buffer_.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(width_), width_);
    std::fputs(line.c_str(), file.get());
  }
  rows_ = 0;
}

} // namespace tavro
