// Size check of grid and stack files against their headers.
#include "raster/files/grid_file_size.h"

#include "kernel/fatal_error.h"

#include <sys/stat.h>

#include <cmath>
#include <limits>

namespace tavro {
namespace {

constexpr std::uint64_t kMaxBytes = std::numeric_limits<std::uint64_t>::max();
constexpr int kHeaderSizeExitCode = 22;

// base + count * factor, at most kMaxBytes.
std::uint64_t SaturatedBytes(std::uint64_t base, std::uint64_t count, std::uint64_t factor) {
  if (count > (kMaxBytes - base) / factor)
    return kMaxBytes;
  return base + count * factor;
}

// A header count as a whole number of at least 0 (rounded down, as read).
std::uint64_t WholeCount(double value) {
  if (!std::isfinite(value) || value < 1.0)
    return 0;
  const double whole = std::floor(value);
  if (whole >= 18446744073709551616.0) // 2^64
    return kMaxBytes;
  return static_cast<std::uint64_t>(whole);
}

} // namespace

std::uint64_t MinimumFileBytes(GridFileFormat format, std::uint64_t values) {
  switch (format) {
  case GridFileFormat::BinaryDouble:
    return SaturatedBytes(DoubleHeaderBytes, values, sizeof(double));
  case GridFileFormat::BinaryFloat:
    return SaturatedBytes(FloatHeaderBytes, values, sizeof(float));
  case GridFileFormat::Ascii:
    return SaturatedBytes(0, values, 2);
  case GridFileFormat::Gif:
    break;
  }
  return 0;
}

std::optional<std::uint64_t> OpenFileBytes(std::FILE *file) {
  struct stat status {};
  if (file == nullptr || fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode))
    return std::nullopt;
  return static_cast<std::uint64_t>(status.st_size);
}

std::uint64_t HeaderValueCount(double ncols, double nrows, int levels) {
  const std::uint64_t columns = WholeCount(ncols);
  const std::uint64_t rows = WholeCount(nrows);
  const std::uint64_t perCell = levels > 0 ? static_cast<std::uint64_t>(levels) + 1 : 1;
  if (columns == 0 || rows == 0)
    return 0;
  if (rows > kMaxBytes / columns || rows * columns > kMaxBytes / perCell)
    return kMaxBytes;
  return rows * columns * perCell;
}

void CheckHeaderFitsFile(DiagnosticsLog &log, const std::string &path, GridFileFormat format,
                         const GridFileHeader &header, int levels,
                         std::optional<std::uint64_t> fileBytes) {
  if (!fileBytes)
    return;
  const std::uint64_t need =
      MinimumFileBytes(format, HeaderValueCount(header.ncols, header.nrows, levels));
  if (*fileBytes >= need)
    return;
  const std::string levelText =
      levels > 0 ? Concat(" of ", levels + 1, " values per cell (levels 0 to ", levels, ")") : "";
  ThrowFatal(log, kHeaderSizeExitCode,
             Concat("error reading ", path, ": the header announces ", WholeCount(header.nrows),
                    " rows and ", WholeCount(header.ncols), " columns", levelText,
                    ", which need at least ", need, " bytes, but the file holds ", *fileBytes,
                    " bytes"));
}

} // namespace tavro
