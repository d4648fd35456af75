// Writing of ASCII and binary grid files.
#include "raster/files/grid_writer.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid.h"
#include "raster/files/text_rows.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace tavro {

namespace {

constexpr int WriteErrorCode = 18;

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};
using FilePointer = std::unique_ptr<std::FILE, FileCloser>;

[[noreturn]] void WriteError(DiagnosticsLog &log, const std::string &path) {
  ThrowFatal(log, WriteErrorCode, Concat("write error ", path, " ! (", WriteErrorCode, ")"));
}

// The row's column range clamped to the raster; first > last when it has none.
struct ColumnSpan {
  int first = 1;
  int last = 0;
  bool hasRange = false;
};

ColumnSpan RangeOf(const GridFileContext &context, int row) {
  const int ncols = context.geometry.ncols;
  if (!context.rowRange)
    return {};
  const auto [first, last] = context.rowRange(row);
  if (last < 1)
    return {};
  return {std::max(first, 1), std::min(last, ncols), true};
}

void MaskToRanges(const GridFileContext &context, Grid &grid) {
  const RasterGeometry &g = context.geometry;
  for (int r = 1; r <= g.nrows; ++r) {
    if (!grid.HasRow(r))
      continue;
    double *row = grid[r];
    const ColumnSpan span = RangeOf(context, r);
    for (int c = 1; c <= g.ncols; ++c)
      if (!span.hasRange || c < span.first || c > span.last)
        row[c] = g.nodata;
  }
}

void AddRowStatistics(const GridFileContext &context, const Grid &grid, int r,
                      GridStatistics &statistics) {
  const RasterGeometry &g = context.geometry;
  const double *row = grid[r];
  const ColumnSpan span = RangeOf(context, r);
  if (!span.hasRange) {
    for (int c = 1; c <= g.ncols; ++c)
      statistics.Add(row[c], 1.0);
    return;
  }
  const Grid *weights = context.cellWeights;
  const double *weightRow =
      weights != nullptr && weights->HasRow(r) && weights->LastColumn() >= g.ncols ? (*weights)[r]
                                                                                   : nullptr;
  for (int c = span.first; c <= span.last; ++c)
    statistics.Add(row[c], weightRow != nullptr ? weightRow[c] : 1.0);
}

void WriteAsciiRows(const GridFileContext &context, const std::string &path, const Grid &grid,
                    std::FILE *file) {
  const RasterGeometry &g = context.geometry;
  const std::string header = FormatAsciiGridHeader(g);
  if (std::fwrite(header.data(), 1, header.size(), file) != header.size())
    WriteError(context.log, path);
  const bool written = WriteTextRows(file, 1, g.nrows, [&](long r, std::string &text) {
    const double *row = grid.HasRow(r) ? grid[r] : nullptr;
    for (int c = 1; c <= g.ncols; ++c) {
      if (c > 1)
        text += '\t';
      AppendCellValue(text, row != nullptr ? row[c] : g.nodata);
    }
    text += '\n';
  });
  if (!written)
    WriteError(context.log, path);
}

template <class Value>
GridFileHeader WriteBinaryRows(const GridFileContext &context, const std::string &path,
                               const Grid &grid, std::FILE *file) {
  const RasterGeometry &g = context.geometry;
  const auto ncols = static_cast<std::size_t>(g.ncols);
  constexpr bool doubles = sizeof(Value) == sizeof(double);
  GridFileHeader header = GridFileHeader::FromGeometry(g);
  if constexpr (doubles) {
    const auto bytes = EncodeDoubleHeader(header);
    if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
      WriteError(context.log, path);
  } else {
    const auto bytes = EncodeFloatHeader(header);
    for (std::size_t i = 0; i < bytes.size(); i += sizeof(float))
      if (std::fwrite(bytes.data() + i, sizeof(float), 1, file) != 1)
        WriteError(context.log, path);
  }

  GridStatistics local;
  GridStatistics &statistics = context.statistics != nullptr ? *context.statistics : local;
  statistics.Reset(g.nodata);
  std::vector<Value> buffer(ncols + 1);
  for (int r = 1; r <= g.nrows; ++r) {
    if (grid.HasRow(r)) {
      AddRowStatistics(context, grid, r, statistics);
      const double *row = grid[r];
      std::transform(row + 1, row + ncols + 1, buffer.begin(),
                     [](double value) { return static_cast<Value>(value); });
    } else {
      std::fill(buffer.begin(), buffer.end(), static_cast<Value>(g.nodata));
    }
    if (std::fwrite(buffer.data(), sizeof(Value), ncols, file) != ncols)
      WriteError(context.log, path);
  }

  StoreStatistics(statistics.Get(), header);
  const auto offset = doubles ? StatisticsOffsetDouble : StatisticsOffsetFloat;
  bool written = std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0;
  if constexpr (doubles) {
    const auto bytes = EncodeDoubleStatistics(header);
    written = written && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  } else {
    const auto bytes = EncodeFloatStatistics(header);
    written = written && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  }
  if (!written)
    WriteError(context.log, path);
  return header;
}

// A grid narrower than the raster would be read beyond its rows.
void CheckColumns(const GridFileContext &context, const std::string &fileName, const Grid &grid) {
  if (grid.Allocated() && grid.LastColumn() < context.geometry.ncols)
    ThrowFatal(context.log, WriteErrorCode,
               Concat("cannot write ", PrefixedPath(context.outputDirectory, fileName),
                      ": the grid has ", grid.LastColumn(), " columns, the raster ",
                      context.geometry.ncols));
}

GridFileHeader WriteFile(const GridFileContext &context, const std::string &fileName,
                         const Grid &grid, bool writeAscii, bool writeDouble) {
  DiagnosticsLog &log = context.log;
  CheckColumns(context, fileName, grid);
  const std::string path = PrefixedPath(context.outputDirectory, fileName);
  const char *mode = writeAscii ? "text" : "binary";
  if (path.size() > MaxPathLength)
    ThrowFatal(log, 26,
               Concat("error creating ", path, " for writing in ", mode,
                      " mode. (the name is longer than ", MaxPathLength, " characters)"));
  FilePointer file(std::fopen(path.c_str(), writeAscii ? "w" : "wb"));
  if (!file)
    ThrowFatal(log, 26, Concat("error creating ", path, " for writing in ", mode, " mode."));
  std::setvbuf(file.get(), nullptr, _IOFBF, 1 << 20);

  GridFileHeader header = GridFileHeader::FromGeometry(context.geometry);
  if (writeAscii)
    WriteAsciiRows(context, path, grid, file.get());
  else if (writeDouble)
    header = WriteBinaryRows<double>(context, path, grid, file.get());
  else
    header = WriteBinaryRows<float>(context, path, grid, file.get());

  if (std::fclose(file.release()) != 0)
    ThrowFatal(log, 27, Concat("error closing ", path));
  return header;
}

} // namespace

GridFileHeader WriteGrid(const GridFileContext &context, const std::string &fileName,
                         const Grid &grid, bool writeAscii, bool writeDouble) {
  InterruptPause pause(InterruptPause::After::ProgramHandler, context.interruptHandler);
  return WriteFile(context, fileName, grid, writeAscii, writeDouble);
}

GridFileHeader WriteStripGrid(const GridFileContext &context, const std::string &fileName,
                              Grid &grid, bool writeAscii, bool writeDouble) {
  InterruptPause pause(InterruptPause::After::ProgramHandler, context.interruptHandler);
  // After masking, a row without range holds nodata only and adds nothing to
  // the statistics, so both writers share the statistics rule.
  CheckColumns(context, fileName, grid);
  MaskToRanges(context, grid);
  return WriteFile(context, fileName, grid, writeAscii, writeDouble);
}

} // namespace tavro
