// Reading of grid files on rank 0 with a scatter, or on every process through MPI-IO.
#include "raster/files/grid_reader.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid.h"
#include "raster/files/ascii_grid_cells.h"
#include "raster/files/ascii_token_reader.h"
#include "raster/files/finite_input_check.h"
#include "raster/files/grid_file_size.h"
#include "raster/files/grid_hole_filling.h"
#include "raster/files/mpi_file_chunks.h"
#include "raster/parallel/collective_failure.h"

#include <mpi.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace tavro {

namespace {

constexpr int OpenRetries = 5;
constexpr int RetryWaitMilliseconds = 200;

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};
using FilePointer = std::unique_ptr<std::FILE, FileCloser>;

// What rank 0 learns of the file before any cell is read.
struct RootFile {
  FilePointer file;
  std::unique_ptr<AsciiTokenReader> tokens; // ASCII: positioned after the header
  GridFileFormat format = GridFileFormat::Ascii;
  GridFileHeader header;
};

bool IsBinary(GridFileFormat format) {
  return format == GridFileFormat::BinaryDouble || format == GridFileFormat::BinaryFloat;
}

void CloseStream(DiagnosticsLog &log, RootFile &root, const std::string &path) {
  if (std::fclose(root.file.release()) != 0)
    ThrowFatal(log, 23, Concat("error closing grid ", path));
}

GridFileHeader ReadAsciiHeader(DiagnosticsLog &log, AsciiTokenReader &tokens,
                               const std::string &path) {
  std::array<double, GridFileHeader::ValueCount> values{};
  for (int i = 1; i <= 6; ++i) {
    const auto keyword = tokens.Next(); // any word: keywords are not compared
    const auto number = keyword ? tokens.NextNumber() : std::nullopt;
    if (!number)
      ThrowFatal(log, 22, Concat("error reading ascii value #", i, " from ", path));
    values[static_cast<std::size_t>(i - 1)] = *number;
  }
  return GridFileHeader::FromValues(values);
}

GridFileHeader ReadBinaryHeader(DiagnosticsLog &log, std::FILE *file, bool doubles,
                                const std::string &path) {
  if (doubles) {
    std::array<std::byte, DoubleHeaderBytes> bytes;
    if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size())
      ThrowFatal(log, 22, Concat("error reading double value from the header of ", path));
    return DecodeDoubleHeader(bytes);
  }
  std::array<std::byte, FloatHeaderBytes> bytes;
  const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
  if (got != bytes.size())
    ThrowFatal(log, 22,
               Concat("error reading double value #", got / sizeof(float) + 1,
                      " from the header of ", path));
  return DecodeFloatHeader(bytes);
}

// Rank 0: open (with retries), recognise, read and check the header.
void OpenAndCheck(const GridFileContext &context, const std::string &path,
                  const GridReadOptions &options, RootFile &root) {
  DiagnosticsLog &log = context.log;
  root.file.reset(OpenWithRetries(
      log, path, [&path] { return std::fopen(path.c_str(), "rb"); },
      [] { std::this_thread::sleep_for(std::chrono::milliseconds(RetryWaitMilliseconds)); }));

  std::array<std::byte, RecognitionBytes> start;
  const std::size_t got = std::fread(start.data(), 1, start.size(), root.file.get());
  const auto format = RecognizeGridFormat(std::span<const std::byte>(start.data(), got));
  if (!format)
    ThrowFatal(log, 22,
               Concat("could not recognise file format (neither ascii, nor single, double, or "
                      "GIF) for ",
                      path));
  root.format = *format;
  std::rewind(root.file.get());
  if (options.verbose)
    log.Entry(Concat("reading ", path, " for ", context.moduleName, "...[end-entry]"));

  switch (root.format) {
  case GridFileFormat::Ascii:
    root.tokens = std::make_unique<AsciiTokenReader>(root.file.get());
    root.header = ReadAsciiHeader(log, *root.tokens, path);
    break;
  case GridFileFormat::BinaryDouble:
  case GridFileFormat::BinaryFloat:
    root.header =
        ReadBinaryHeader(log, root.file.get(), root.format == GridFileFormat::BinaryDouble, path);
    break;
  case GridFileFormat::Gif:
    root.header = GridFileHeader::FromGeometry(context.geometry);
    break;
  }

  RoundCornersDown(root.header);
  if (!GridHeaderFits(root.header, context.geometry)) {
    const std::string text = GeometryMismatchText(path, context.moduleName, context.zoneGridName,
                                                  context.geometry, root.header, false);
    if (std::fclose(root.file.release()) != 0)
      ThrowFatal(log, 23, text);
    ThrowFatal(log, 24, text);
  }
  CheckHeaderFitsFile(log, path, root.format, root.header, 0, OpenFileBytes(root.file.get()));
}

// Rank 0: the cells of an ASCII grid after its header, row after row.
void ReadAsciiCells(DiagnosticsLog &log, const std::string &path, const AsciiTokenReader &header,
                    std::FILE *file, const RasterGeometry &g, Grid &grid) {
  std::vector<double *> rows(static_cast<std::size_t>(g.nrows) + 1, nullptr);
  for (int r = 1; r <= g.nrows; ++r)
    rows[static_cast<std::size_t>(r)] = grid[r];
  const CellTarget target{rows.data(), g.ncols, static_cast<std::int64_t>(g.nrows) * g.ncols};
  if (const auto unread = ReadAsciiGridCells(file, header.Pending(), target))
    ThrowFatal(log, 22,
               Concat("error reading ascii grid ", path, " in ASCII-Format in row ",
                      *unread / g.ncols + 1, ", col ", *unread % g.ncols + 1));
}

// Rank 0: every row 1..nrows from the open stream.
void ReadWholeOnRoot(const GridFileContext &context, const std::string &path, RootFile &root,
                     Grid &grid) {
  DiagnosticsLog &log = context.log;
  const RasterGeometry &g = context.geometry;
  const auto ncols = static_cast<std::size_t>(g.ncols);
  switch (root.format) {
  case GridFileFormat::Ascii:
    ReadAsciiCells(log, path, *root.tokens, root.file.get(), g, grid);
    break;
  case GridFileFormat::BinaryDouble:
    for (int r = 1; r <= g.nrows; ++r)
      if (std::fread(grid[r] + 1, sizeof(double), ncols, root.file.get()) != ncols)
        ThrowFatal(log, 22, Concat("error reading double grid ", path));
    break;
  case GridFileFormat::BinaryFloat: {
    std::vector<float> buffer(ncols + 1);
    for (int r = 1; r <= g.nrows; ++r) {
      if (std::fread(buffer.data(), sizeof(float), ncols, root.file.get()) != ncols)
        ThrowFatal(log, 22, Concat("error reading double grid ", path));
      double *row = grid[r];
      for (std::size_t c = 0; c < ncols; ++c)
        row[c + 1] = static_cast<double>(buffer[c]);
    }
    break;
  }
  case GridFileFormat::Gif: {
    const std::string message =
        context.decodeGif ? context.decodeGif(path, grid) : std::string("no GIF decoder available");
    if (!message.empty())
      ThrowFatal(log, 22, Concat("error reading GIF ", path, " (", message, ")"));
    break;
  }
  }
  root.tokens.reset();
  CloseStream(log, root, path);
}

// Every process: the rows firstRow..lastRow of a binary file at their offsets.
void ReadStripThroughMpiIo(const GridFileContext &context, const std::string &path,
                           GridFileFormat format, int firstRow, int lastRow, Grid &grid) {
  const RasterGeometry &g = context.geometry;
  const bool doubles = format == GridFileFormat::BinaryDouble;
  MPI_File file;
  const int opened =
      MPI_File_open(MPI_COMM_WORLD, path.c_str(), MPI_MODE_RDONLY, MPI_INFO_NULL, &file);
  ThrowFatalIfAny(context.log, context.rank, opened != MPI_SUCCESS, 21,
                  Concat("error opening ", path));

  bool failed = false;
  std::vector<float> buffer(doubles ? 0 : static_cast<std::size_t>(g.ncols) + 1);
  for (int r = firstRow; r <= lastRow && !failed; ++r) {
    const MPI_Offset offset = GridCellOffset(r, 1, g.ncols, doubles);
    const bool read = doubles ? ReadAllAt(file, offset, grid[r] + 1, g.ncols, MPI_DOUBLE)
                              : ReadAllAt(file, offset, buffer.data(), g.ncols, MPI_FLOAT);
    if (!read) {
      failed = true;
      break;
    }
    if (!doubles) {
      double *row = grid[r];
      for (int c = 0; c < g.ncols; ++c)
        row[c + 1] = static_cast<double>(buffer[static_cast<std::size_t>(c)]);
    }
  }
  const bool closeFailed = MPI_File_close(&file) != MPI_SUCCESS;
  ThrowFatalIfAny(context.log, context.rank, failed, 22,
                  Concat("error reading double grid ", path));
  ThrowFatalIfAny(context.log, context.rank, closeFailed, 23, Concat("error closing grid ", path));
}

bool CoversRows(const Grid &grid, int firstRow, int lastRow, int ncols) {
  if (!grid.Allocated() || grid.LastColumn() < ncols)
    return false;
  for (int r = firstRow; r <= lastRow; ++r)
    if (!grid.HasRow(r))
      return false;
  return true;
}

// Rank 0 gives up the whole grid for the rows of its strip.
void ReduceToStrip(const GridFileContext &context, int heldFirst, int heldLast, Grid &grid) {
  const RasterGeometry &g = context.geometry;
  Grid strip(heldFirst, heldLast, g.ncols, g.nrows, context.log);
  strip.Fill(g.nodata);
  for (int r = context.firstRow; r <= context.lastRow; ++r)
    std::copy(grid[r] + 1, grid[r] + g.ncols + 1, strip[r] + 1);
  grid = std::move(strip);
}

} // namespace

std::FILE *OpenWithRetries(DiagnosticsLog &log, const std::string &path,
                           const std::function<std::FILE *()> &open,
                           const std::function<void()> &wait) {
  for (int retriesLeft = OpenRetries;; --retriesLeft) {
    if (std::FILE *file = open())
      return file;
    if (retriesLeft == 0)
      ThrowFatal(log, 21, Concat("still error opening ", path, " - no retry."));
    log.Entry(Concat("FATAL: error opening ", path, ". Will try again in ", RetryWaitMilliseconds,
                     " ms... (retriesleft = ", retriesLeft, ")[end-entry]"));
    wait();
  }
}

GridFileHeader ReadGrid(const GridFileContext &context, const std::string &fileName, Grid &grid,
                        const GridReadOptions &options) {
  InterruptPause pause(InterruptPause::After::DefaultAction, nullptr);
  DiagnosticsLog &log = context.log;
  const RasterGeometry &g = context.geometry;
  const bool root = context.rank == 0;
  const bool collective = !options.rootOnly;

  std::string path = PrefixedPath(context.inputDirectory, fileName);
  if (path.size() > MaxPathLength)
    ThrowFatal(
        log, 21,
        Concat("error opening ", path, ": the name is longer than ", MaxPathLength, " characters"));

  RootFile rootFile;
  int failure = root ? CaptureExitCode([&] { OpenAndCheck(context, path, options, rootFile); }) : 0;
  if (collective) {
    // The path, format and header as rank 0 has them; a failure stops all.
    ThrowIfAnyFailed(log, failure);
    std::vector<char> pathBuffer(MaxPathLength + 1, '\0');
    path.copy(pathBuffer.data(), MaxPathLength);
    MPI_Bcast(pathBuffer.data(), static_cast<int>(pathBuffer.size()), MPI_CHAR, 0, MPI_COMM_WORLD);
    path = pathBuffer.data();
    int format = static_cast<int>(rootFile.format);
    MPI_Bcast(&format, 1, MPI_INT, 0, MPI_COMM_WORLD);
    rootFile.format = static_cast<GridFileFormat>(format);
    auto values = rootFile.header.Values();
    MPI_Bcast(values.data(), static_cast<int>(values.size()), MPI_DOUBLE, 0, MPI_COMM_WORLD);
    rootFile.header = GridFileHeader::FromValues(values);
    MPI_Barrier(MPI_COMM_WORLD);
  } else if (failure != 0) {
    throw failure;
  }

  const bool mpiIo =
      IsBinary(rootFile.format) && options.fillMode == 0 && !options.keepWholeOnRoot && collective;
  const int stripFirst = options.withHalo ? context.HaloFirstRow() : context.firstRow;
  const int stripLast = options.withHalo ? context.HaloLastRow() : context.lastRow;
  const bool whole = root && !mpiIo;
  const int heldFirst = whole ? 1 : stripFirst;
  const int heldLast = whole ? g.nrows : stripLast;
  if (collective)
    MPI_Barrier(MPI_COMM_WORLD);

  failure = CaptureExitCode([&] {
    if (options.allocate) {
      grid = Grid(heldFirst, heldLast, g.ncols, g.nrows, log);
      grid.Fill(g.nodata);
    } else if (!CoversRows(grid, heldFirst, heldLast, g.ncols)) {
      ThrowFatal(log, 22,
                 Concat("error reading grid ", path,
                        " no memory allocated (pointer given to function is NULL)"));
    }
  });
  if (collective)
    ThrowIfAnyFailed(log, failure);
  else if (failure != 0)
    throw failure;
  if (options.rootOnly && !root)
    return GridFileHeader::FromGeometry(g);

  if (mpiIo) {
    failure = root ? CaptureExitCode([&] { CloseStream(log, rootFile, path); }) : 0;
    ThrowIfAnyFailed(log, failure);
    ReadStripThroughMpiIo(context, path, rootFile.format, stripFirst, stripLast, grid);
    RefuseNonFiniteValue(context, path, FirstNonFiniteValue(context, grid, stripFirst, stripLast),
                         -1, true);
  } else {
    failure = root ? CaptureExitCode([&] {
      ReadWholeOnRoot(context, path, rootFile, grid);
      if (options.fillMode == 1 || options.fillMode == 2) {
        if (context.zoneGrid == nullptr)
          ThrowFatal(log, 25, Concat("cannot fill the holes of ", path, ": no zone grid"));
        FillGridHoles(
            log, context.rank, path, grid, *context.zoneGrid, g, rootFile.header.nodata,
            {options.fillMode, options.fillValue, options.searchNeighbours, options.verbose});
      }
    })
                   : 0;
    if (collective)
      ThrowIfAnyFailed(log, failure);
    else if (failure != 0)
      throw failure;
    RefuseNonFiniteValue(context, path,
                         root ? FirstNonFiniteValue(context, grid, 1, g.nrows) : std::nullopt, -1,
                         collective);
    if (collective && context.scatterGrid && context.processCount > 1)
      context.scatterGrid(grid);
    if (root && !options.keepWholeOnRoot)
      ReduceToStrip(context, stripFirst, stripLast, grid);
  }
  if (collective && options.withHalo && context.exchangeHalo)
    context.exchangeHalo(grid);
  return rootFile.header;
}

} // namespace tavro
