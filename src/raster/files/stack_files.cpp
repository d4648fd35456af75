// Reading and writing of ASCII and binary stack files.
#include "raster/files/stack_files.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid.h"
#include "raster/files/ascii_token_reader.h"
#include "raster/files/finite_input_check.h"
#include "raster/files/grid_file_size.h"
#include "raster/files/mpi_file_chunks.h"
#include "raster/files/stack_write_cells.h"
#include "raster/files/text_rows.h"
#include "raster/parallel/collective_failure.h"

#include <mpi.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

namespace tavro {

namespace {

constexpr int WriteErrorCode = 18;

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};
using FilePointer = std::unique_ptr<std::FILE, FileCloser>;

enum class StackFormat : int { BinaryFloat = 0, Ascii = 1, BinaryDouble = 2 };

struct RootStackFile {
  FilePointer file;
  std::unique_ptr<AsciiTokenReader> tokens;
  StackFormat format = StackFormat::Ascii;
  GridFileHeader header;
  int levels = 0;
};

[[noreturn]] void WriteError(DiagnosticsLog &log, const std::string &path) {
  ThrowFatal(log, WriteErrorCode, Concat("write error ", path, " ! (", WriteErrorCode, ")"));
}

std::int64_t ValuesPerRow(const RasterGeometry &g, int levels) {
  return static_cast<std::int64_t>(g.ncols) * (levels + 1);
}

// Values of columns 1..ncols of a stack row: they follow level 0..L of column 0.
double *RowValues(Stack &stack, int row) { return stack.RowData(row) + stack.LastLevel() + 1; }

GridFileHeader ReadAsciiStackHeader(DiagnosticsLog &log, AsciiTokenReader &tokens,
                                    const std::string &path) {
  std::array<double, GridFileHeader::ValueCount> values{};
  for (std::size_t i = 0; i < values.size(); ++i) {
    const auto keyword = tokens.Next(); // words are not compared
    const auto number = keyword ? tokens.NextNumber() : std::nullopt;
    if (!number)
      ThrowFatal(log, 22, Concat("error reading ascii value #", i + 1, " from ", path));
    values[i] = *number;
  }
  return GridFileHeader::FromValues(values);
}

// Rank 0: open, recognise, read and check the header.
void OpenAndCheckStack(const GridFileContext &context, const std::string &path,
                       RootStackFile &root) {
  DiagnosticsLog &log = context.log;
  root.file.reset(std::fopen(path.c_str(), "rb"));
  if (!root.file)
    ThrowFatal(log, 21, Concat("error opening ", path));
  log.Entry(Concat("reading ", path, " for ", context.moduleName, "...[end-entry]"));

  std::array<std::byte, RecognitionBytes> start;
  const std::size_t got = std::fread(start.data(), 1, start.size(), root.file.get());
  const std::span<const std::byte> bytes(start.data(), got);
  switch (RecognizeStackFormat(bytes)) {
  case StackRecognition::Ascii:
    root.format = StackFormat::Ascii;
    std::rewind(root.file.get());
    root.tokens = std::make_unique<AsciiTokenReader>(root.file.get());
    root.header = ReadAsciiStackHeader(log, *root.tokens, path);
    break;
  case StackRecognition::BinaryDouble:
    root.format = StackFormat::BinaryDouble;
    root.header = DecodeDoubleHeader(std::span<const std::byte, DoubleHeaderBytes>(start));
    break;
  case StackRecognition::BinaryFloat:
    root.format = StackFormat::BinaryFloat;
    root.header = DecodeFloatHeader(
        std::span<const std::byte, FloatHeaderBytes>(start.data(), FloatHeaderBytes));
    break;
  case StackRecognition::ShortHeader:
    ThrowFatal(log, 22, Concat("error reading from ", path));
  case StackRecognition::Unknown:
    ThrowFatal(
        log, 22,
        Concat("could not recognise file format (ascii, double or double) for stack ", path));
  }
  if (root.format != StackFormat::Ascii) {
    const long dataStart = static_cast<long>(
        root.format == StackFormat::BinaryDouble ? DoubleHeaderBytes : FloatHeaderBytes);
    if (std::fseek(root.file.get(), dataStart, SEEK_SET) != 0)
      ThrowFatal(log, 22, Concat("error reading from ", path));
  }

  if (!StackHeaderFits(root.header, context.geometry)) {
    const std::string text = GeometryMismatchText(path, context.moduleName, context.zoneGridName,
                                                  context.geometry, root.header, true);
    if (std::fclose(root.file.release()) != 0)
      ThrowFatal(log, 23, Concat("error closing stack ", path));
    ThrowFatal(log, 24, text);
  }
  const auto levels = StackLevels(root.header);
  if (!levels)
    ThrowFatal(log, 22,
               Concat("invalid number of levels ", root.header.deviation, " in stack ", path,
                      " (0 to ", MaxStackLevels, " expected)"));
  root.levels = *levels;
  CheckHeaderFitsFile(log, path, static_cast<GridFileFormat>(static_cast<int>(root.format)),
                      root.header, root.levels, OpenFileBytes(root.file.get()));
}

// Rank 0: rows 1..nrows from the stream.
void ReadStackOnRoot(const GridFileContext &context, const std::string &path, RootStackFile &root,
                     Stack &stack) {
  DiagnosticsLog &log = context.log;
  const RasterGeometry &g = context.geometry;
  const int levels = root.levels;
  const auto perRow = static_cast<std::size_t>(ValuesPerRow(g, levels));
  const auto perCell = static_cast<std::size_t>(levels) + 1;
  std::vector<float> buffer(root.format == StackFormat::BinaryFloat ? perRow : 0);
  for (int r = 1; r <= g.nrows; ++r) {
    double *values = RowValues(stack, r);
    switch (root.format) {
    case StackFormat::Ascii:
      for (int c = 1; c <= g.ncols; ++c)
        for (int k = 0; k <= levels; ++k) {
          const auto value = root.tokens->NextNumber();
          if (!value)
            ThrowFatal(log, 22,
                       Concat("error reading ascii stack ", path, "at row ", r, ", column ", c,
                              ", level ", k));
          *values++ = *value;
        }
      break;
    case StackFormat::BinaryDouble: {
      const std::size_t got = std::fread(values, sizeof(double), perRow, root.file.get());
      if (got != perRow)
        ThrowFatal(log, 22,
                   Concat("error reading double stack ", path, "at row ", r, ", column ",
                          got / perCell + 1));
      break;
    }
    case StackFormat::BinaryFloat: {
      const std::size_t got = std::fread(buffer.data(), sizeof(float), perRow, root.file.get());
      if (got != perRow)
        ThrowFatal(log, 22,
                   Concat("error reading float stack ", path, "at row ", r, ", column ",
                          got / perCell + 1));
      std::transform(buffer.begin(), buffer.end(), values,
                     [](float value) { return static_cast<double>(value); });
      break;
    }
    }
  }
  root.tokens.reset();
  if (std::fclose(root.file.release()) != 0)
    ThrowFatal(log, 23, Concat("error closing stack ", path));
}

// Every process: its strip rows of a binary stack, opened read-only.
void ReadStackStripThroughMpiIo(const GridFileContext &context, const std::string &path,
                                StackFormat format, int levels, Stack &stack) {
  const RasterGeometry &g = context.geometry;
  const bool doubles = format == StackFormat::BinaryDouble;
  MPI_File file;
  const int opened =
      MPI_File_open(MPI_COMM_WORLD, path.c_str(), MPI_MODE_RDONLY, MPI_INFO_NULL, &file);
  ThrowFatalIfAny(context.log, context.rank, opened != MPI_SUCCESS, 21,
                  Concat("error opening ", path));
  const std::int64_t perRow = ValuesPerRow(g, levels);
  const MPI_Offset elementSize = doubles ? sizeof(double) : sizeof(float);
  std::vector<float> buffer(doubles ? 0 : static_cast<std::size_t>(perRow));
  int failedRow = 0;
  for (int r = context.firstRow; r <= context.lastRow && failedRow == 0; ++r) {
    const MPI_Offset offset = StackElementIndex(r, 1, 0, g.ncols, levels) * elementSize;
    double *values = RowValues(stack, r);
    const bool read = doubles ? ReadAllAt(file, offset, values, perRow, MPI_DOUBLE)
                              : ReadAllAt(file, offset, buffer.data(), perRow, MPI_FLOAT);
    if (!read) {
      failedRow = r;
      break;
    }
    if (!doubles)
      std::transform(buffer.begin(), buffer.end(), values,
                     [](float value) { return static_cast<double>(value); });
  }
  const bool closeFailed = MPI_File_close(&file) != MPI_SUCCESS;
  // The first failing row of all processes is the one named.
  int firstFailed = failedRow > 0 ? failedRow : g.nrows + 1;
  MPI_Allreduce(MPI_IN_PLACE, &firstFailed, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  ThrowFatalIfAny(context.log, context.rank, failedRow > 0, 22,
                  Concat("error reading ", doubles ? "double" : "float", " stack ", path, "at row ",
                         firstFailed));
  ThrowFatalIfAny(context.log, context.rank, closeFailed, 23, Concat("error closing stack ", path));
}

void Broadcast(std::string &path, RootStackFile &root) {
  std::vector<char> pathBuffer(MaxPathLength + 1, '\0');
  path.copy(pathBuffer.data(), MaxPathLength);
  MPI_Bcast(pathBuffer.data(), static_cast<int>(pathBuffer.size()), MPI_CHAR, 0, MPI_COMM_WORLD);
  path = pathBuffer.data();
  std::array<int, 2> codes{static_cast<int>(root.format), root.levels};
  MPI_Bcast(codes.data(), 2, MPI_INT, 0, MPI_COMM_WORLD);
  root.format = static_cast<StackFormat>(codes[0]);
  root.levels = codes[1];
  auto values = root.header.Values();
  MPI_Bcast(values.data(), static_cast<int>(values.size()), MPI_DOUBLE, 0, MPI_COMM_WORLD);
  root.header = GridFileHeader::FromValues(values);
}

// Cells of the strip rows that the decomposition gives to another process
// hold nodata in levels 1..levels after a scatter.
void BlankForeignCells(const GridFileContext &context, int levels, Stack &stack) {
  const Grid *owners = context.mpiRegions;
  if (owners == nullptr)
    return;
  for (int r = context.firstRow; r <= context.lastRow; ++r) {
    if (!owners->HasRow(r) || !stack.HasRow(r))
      continue;
    for (int c = 1; c <= context.geometry.ncols; ++c)
      if ((*owners)[r][c] != context.rank)
        std::fill(stack[r][c] + 1, stack[r][c] + levels + 1, context.geometry.nodata);
  }
}

void WriteAsciiStack(const GridFileContext &context, const std::string &path, const Stack &stack,
                     int levels) {
  DiagnosticsLog &log = context.log;
  const RasterGeometry &g = context.geometry;
  FilePointer file(std::fopen(path.c_str(), "w"));
  if (!file)
    ThrowFatal(log, 26, Concat("error opening ", path));
  std::setvbuf(file.get(), nullptr, _IOFBF, 1 << 20);
  const std::string header = FormatAsciiStackHeader(g, levels);
  if (std::fwrite(header.data(), 1, header.size(), file.get()) != header.size())
    WriteError(log, path);
  const bool written = WriteTextRows(file.get(), 1, g.nrows, [&](long r, std::string &text) {
    const bool held = stack.HasRow(r);
    for (int c = 1; c <= g.ncols; ++c)
      for (int k = 0; k <= levels; ++k) {
        AppendCellValue(text, held ? stack[r][c][k] : g.nodata);
        text += '\n';
      }
  });
  if (!written)
    WriteError(log, path);
  if (std::fclose(file.release()) != 0)
    ThrowFatal(log, 27, Concat("error closing ", path));
}

// The values of the cells of a span: a cell this process owns from the
// stack, every other cell (without owner) nodata in all levels.
template <class Value>
bool WriteSpans(MPI_File file, const GridFileContext &context, const Stack &stack, int levels,
                const std::vector<CellSpan> &spans) {
  const RasterGeometry &g = context.geometry;
  const Grid *owners = context.mpiRegions;
  const MPI_Datatype type = sizeof(Value) == sizeof(double) ? MPI_DOUBLE : MPI_FLOAT;
  const auto owned = [&](int r, int c) {
    if (!stack.HasRow(r))
      return false;
    if (owners == nullptr)
      return true;
    return owners->HasRow(r) && owners->LastColumn() >= c && (*owners)[r][c] == context.rank;
  };
  std::vector<Value> buffer;
  for (const CellSpan &span : spans) {
    buffer.clear();
    buffer.reserve(static_cast<std::size_t>(span.count * (levels + 1)));
    const int firstRow = static_cast<int>(span.first / g.ncols) + 1;
    const int firstColumn = static_cast<int>(span.first % g.ncols) + 1;
    int r = firstRow;
    int c = firstColumn;
    for (std::int64_t i = 0; i < span.count; ++i) {
      const bool own = owned(r, c);
      for (int k = 0; k <= levels; ++k)
        buffer.push_back(static_cast<Value>(own ? stack[r][c][k] : g.nodata));
      if (++c > g.ncols) {
        c = 1;
        ++r;
      }
    }
    const MPI_Offset offset =
        StackElementIndex(firstRow, firstColumn, 0, g.ncols, levels) * MPI_Offset{sizeof(Value)};
    if (!WriteAllAt(file, offset, buffer.data(), static_cast<std::int64_t>(buffer.size()), type))
      return false;
  }
  return true;
}

void WriteBinaryStack(const GridFileContext &context, const std::string &path, const Stack &stack,
                      int levels, bool writeDouble) {
  DiagnosticsLog &log = context.log;
  const RasterGeometry &g = context.geometry;
  const bool root = context.rank == 0;
  MPI_File file;
  const int opened = MPI_File_open(MPI_COMM_WORLD, path.c_str(), MPI_MODE_CREATE | MPI_MODE_WRONLY,
                                   MPI_INFO_NULL, &file);
  ThrowFatalIfAny(log, context.rank, opened != MPI_SUCCESS, 26, Concat("error opening ", path));

  // The file gets exactly its size, so no bytes of an older, longer file remain.
  const MPI_Offset elementSize = writeDouble ? sizeof(double) : sizeof(float);
  const MPI_Offset size =
      StackElementIndex(g.nrows, g.ncols, levels + 1, g.ncols, levels) * elementSize;
  bool ok = MPI_File_set_size(file, size) == MPI_SUCCESS;
  const std::vector<CellSpan> spans = DistributeStackWriteSpans(
      context.mpiRegions, g.ncols, g.nrows, context.rank, context.processCount);

  GridFileHeader header = GridFileHeader::FromGeometry(g);
  header.deviation = levels;
  if (ok && root) {
    if (writeDouble) {
      const auto bytes = EncodeDoubleHeader(header);
      ok = WriteAllAt(file, 0, bytes.data(), static_cast<std::int64_t>(bytes.size()), MPI_BYTE);
    } else {
      const auto bytes = EncodeFloatHeader(header);
      ok = WriteAllAt(file, 0, bytes.data(), static_cast<std::int64_t>(bytes.size()), MPI_BYTE);
    }
  }
  if (ok) {
    ok = writeDouble ? WriteSpans<double>(file, context, stack, levels, spans)
                     : WriteSpans<float>(file, context, stack, levels, spans);
  }
  const bool closeFailed = MPI_File_close(&file) != MPI_SUCCESS;
  ThrowFatalIfAny(log, context.rank, !ok, WriteErrorCode,
                  Concat("write error ", path, " ! (", WriteErrorCode, ")"));
  ThrowFatalIfAny(log, context.rank, closeFailed, 27, Concat("error closing ", path));
}

bool StackCovers(const Stack &stack, int firstRow, int lastRow, int ncols, int levels) {
  if (stack.LastColumn() < ncols || stack.LastLevel() < levels)
    return false;
  for (int r = firstRow; r <= lastRow; ++r)
    if (!stack.HasRow(r))
      return false;
  return true;
}

} // namespace

StackReadResult ReadStack(const GridFileContext &context, const std::string &fileName, Stack &stack,
                          bool keepWholeOnRoot) {
  InterruptPause pause(InterruptPause::After::DefaultAction, nullptr);
  DiagnosticsLog &log = context.log;
  const RasterGeometry &g = context.geometry;
  const bool root = context.rank == 0;

  std::string path = PrefixedPath(context.inputDirectory, fileName);
  if (path.size() > MaxPathLength)
    ThrowFatal(
        log, 21,
        Concat("error opening ", path, ": the name is longer than ", MaxPathLength, " characters"));

  RootStackFile rootFile;
  ThrowIfAnyFailed(log,
                   root ? CaptureExitCode([&] { OpenAndCheckStack(context, path, rootFile); }) : 0);
  Broadcast(path, rootFile);
  const int levels = rootFile.levels;
  const bool wholeOnRoot = rootFile.format == StackFormat::Ascii || keepWholeOnRoot;
  const int heldFirst = root && wholeOnRoot ? 1 : context.firstRow;
  const int heldLast = root && wholeOnRoot ? g.nrows : context.lastRow;
  MPI_Barrier(MPI_COMM_WORLD);

  ThrowIfAnyFailed(log, CaptureExitCode([&] {
                     stack = Stack(heldFirst, heldLast, g.ncols, levels, g.nrows, log);
                     if (!StackCovers(stack, heldFirst, heldLast, g.ncols, levels))
                       ThrowFatal(log, 22,
                                  Concat("error reading stack ", path, ": no memory for its rows"));
                   }));

  if (!wholeOnRoot) {
    ThrowIfAnyFailed(log, root ? CaptureExitCode([&] {
                       if (std::fclose(rootFile.file.release()) != 0)
                         ThrowFatal(log, 23, Concat("error closing grid ", path));
                     })
                               : 0);
    ReadStackStripThroughMpiIo(context, path, rootFile.format, levels, stack);
    RefuseNonFiniteValue(
        context, path,
        FirstNonFiniteValue(context, stack, levels, context.firstRow, context.lastRow), levels,
        true);
  } else {
    ThrowIfAnyFailed(
        log, root ? CaptureExitCode([&] { ReadStackOnRoot(context, path, rootFile, stack); }) : 0);
    RefuseNonFiniteValue(context, path,
                         root ? FirstNonFiniteValue(context, stack, levels, 1, g.nrows)
                              : std::nullopt,
                         levels, true);
    if (context.scatterStack && context.processCount > 1)
      context.scatterStack(stack, levels);
    if (!root) {
      BlankForeignCells(context, levels, stack);
    } else if (!keepWholeOnRoot) {
      Stack strip(context.firstRow, context.lastRow, g.ncols, levels, g.nrows, log);
      const auto perRow = ValuesPerRow(g, levels);
      for (int r = context.firstRow; r <= context.lastRow; ++r)
        std::copy(RowValues(stack, r), RowValues(stack, r) + perRow, RowValues(strip, r));
      stack = std::move(strip);
    }
  }
  return {levels, rootFile.header};
}

void WriteStack(const GridFileContext &context, const std::string &fileName, const Stack &stack,
                int levels, bool writeAscii, bool writeDouble) {
  InterruptPause pause(InterruptPause::After::ProgramHandler, context.interruptHandler);
  DiagnosticsLog &log = context.log;
  const RasterGeometry &g = context.geometry;
  const std::string path = PrefixedPath(context.outputDirectory, fileName);
  const bool root = context.rank == 0;
  if (writeAscii && !root)
    return;

  // Every process checks its own arguments; for a binary stack all agree.
  const int failure = CaptureExitCode([&] {
    if (path.size() > MaxPathLength)
      ThrowFatal(log, 26,
                 Concat("error opening ", path, ": the name is longer than ", MaxPathLength,
                        " characters"));
    if (levels < 0 ||
        (stack.Allocated() && (stack.LastColumn() < g.ncols || stack.LastLevel() < levels)))
      ThrowFatal(log, WriteErrorCode,
                 Concat("cannot write ", path, ": the stack does not hold ", g.ncols,
                        " columns of levels 0..", levels));
  });
  if (writeAscii) {
    if (failure != 0)
      throw failure;
    WriteAsciiStack(context, path, stack, levels);
    return;
  }
  ThrowIfAnyFailed(log, failure);
  WriteBinaryStack(context, path, stack, levels, writeDouble);
}

} // namespace tavro
