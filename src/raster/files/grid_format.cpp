// Pure parsing and formatting of grid and stack files.
#include "raster/files/grid_format.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace tavro {

namespace {

bool StartsWith(std::span<const std::byte> bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() &&
         std::memcmp(bytes.data(), prefix.data(), prefix.size()) == 0;
}

template <class T> T ValueAt(std::span<const std::byte> bytes, std::size_t index) {
  T value;
  std::memcpy(&value, bytes.data() + index * sizeof(T), sizeof(T));
  return value;
}

bool HasBinaryMarker(std::span<const std::byte> bytes, bool doubles) {
  if (doubles)
    return bytes.size() >= 6 * sizeof(double) && ValueAt<double>(bytes, 5) == BinaryMarkerNodata;
  return bytes.size() >= 6 * sizeof(float) &&
         static_cast<double>(ValueAt<float>(bytes, 5)) == BinaryMarkerNodata;
}

// Header count values (ncols, nrows) as whole numbers, when they are any.
std::optional<double> WholeCount(double value) {
  if (!std::isfinite(value))
    return std::nullopt;
  const double whole = std::floor(value);
  if (whole < static_cast<double>(INT_MIN) || whole > static_cast<double>(INT_MAX))
    return std::nullopt;
  return whole;
}

std::string PrintG(double value, int precision) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*g", precision, value);
  return text;
}

template <class Number> std::string Streamed(Number value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

} // namespace

std::array<double, GridFileHeader::ValueCount> GridFileHeader::Values() const {
  return {ncols, nrows,   xllcorner, yllcorner, cellsize, nodata,
          count, minimum, maximum,   sum,       mean,     deviation};
}

GridFileHeader GridFileHeader::FromValues(std::span<const double, ValueCount> v) {
  return {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11]};
}

GridFileHeader GridFileHeader::FromGeometry(const RasterGeometry &g) {
  GridFileHeader header;
  header.ncols = g.ncols;
  header.nrows = g.nrows;
  header.xllcorner = g.xllcorner;
  header.yllcorner = g.yllcorner;
  header.cellsize = g.cellsize;
  header.nodata = g.nodata;
  return header;
}

std::optional<GridFileFormat> RecognizeGridFormat(std::span<const std::byte> start) {
  if (StartsWith(start, "ncol"))
    return GridFileFormat::Ascii;
  if (start.size() >= DoubleHeaderBytes && HasBinaryMarker(start, true))
    return GridFileFormat::BinaryDouble;
  if (HasBinaryMarker(start, false))
    return GridFileFormat::BinaryFloat;
  if (StartsWith(start, "GIF8"))
    return GridFileFormat::Gif;
  return std::nullopt;
}

StackRecognition RecognizeStackFormat(std::span<const std::byte> start) {
  if (StartsWith(start, "stack"))
    return StackRecognition::Ascii;
  if (start.size() >= DoubleHeaderBytes && HasBinaryMarker(start, true))
    return StackRecognition::BinaryDouble;
  if (start.size() < FloatHeaderBytes)
    return StackRecognition::ShortHeader;
  if (HasBinaryMarker(start, false))
    return StackRecognition::BinaryFloat;
  return StackRecognition::Unknown;
}

std::array<std::byte, DoubleHeaderBytes> EncodeDoubleHeader(const GridFileHeader &header) {
  std::array<std::byte, DoubleHeaderBytes> bytes;
  const auto values = header.Values();
  std::memcpy(bytes.data(), values.data(), bytes.size());
  return bytes;
}

std::array<std::byte, FloatHeaderBytes> EncodeFloatHeader(const GridFileHeader &header) {
  std::array<std::byte, FloatHeaderBytes> bytes;
  const auto values = header.Values();
  for (std::size_t i = 0; i < values.size(); ++i) {
    const float value = static_cast<float>(values[i]);
    std::memcpy(bytes.data() + i * sizeof(float), &value, sizeof(float));
  }
  return bytes;
}

GridFileHeader DecodeDoubleHeader(std::span<const std::byte, DoubleHeaderBytes> bytes) {
  std::array<double, GridFileHeader::ValueCount> values;
  std::memcpy(values.data(), bytes.data(), bytes.size());
  return GridFileHeader::FromValues(values);
}

GridFileHeader DecodeFloatHeader(std::span<const std::byte, FloatHeaderBytes> bytes) {
  std::array<double, GridFileHeader::ValueCount> values;
  for (std::size_t i = 0; i < values.size(); ++i)
    values[i] = static_cast<double>(ValueAt<float>(bytes, i));
  return GridFileHeader::FromValues(values);
}

std::array<std::byte, 6 * sizeof(double)> EncodeDoubleStatistics(const GridFileHeader &header) {
  const auto all = EncodeDoubleHeader(header);
  std::array<std::byte, 6 * sizeof(double)> bytes;
  std::memcpy(bytes.data(), all.data() + StatisticsOffsetDouble, bytes.size());
  return bytes;
}

std::array<std::byte, 6 * sizeof(float)> EncodeFloatStatistics(const GridFileHeader &header) {
  const auto all = EncodeFloatHeader(header);
  std::array<std::byte, 6 * sizeof(float)> bytes;
  std::memcpy(bytes.data(), all.data() + StatisticsOffsetFloat, bytes.size());
  return bytes;
}

std::optional<double> ParseGridNumber(std::string_view token) {
  if (token.empty() || token.size() > MaxNumberTokenLength)
    return std::nullopt;
  double value = 0.0;
  const char *end = token.data() + token.size();
  const auto [stop, error] = std::from_chars(token.data(), end, value);
  if (error == std::errc() && stop == end && !std::isnan(value))
    return value;
  // Forms the fast path does not take (a leading '+', hexadecimal, values out
  // of range) are left to strtod, whose result is the reference; so are NaNs,
  // whose payload ("nan(123)") from_chars drops.
  constexpr std::size_t longestToken = 512;
  if (token.size() > longestToken)
    return std::nullopt;
  char text[longestToken + 1];
  std::memcpy(text, token.data(), token.size());
  text[token.size()] = '\0';
  char *parsedEnd = nullptr;
  value = std::strtod(text, &parsedEnd);
  if (parsedEnd != text + token.size())
    return std::nullopt;
  return value;
}

std::string FormatHeaderNumber(double value) {
  for (int precision = 6; precision < 17; ++precision) {
    std::string text = PrintG(value, precision);
    if (std::strtod(text.c_str(), nullptr) == value || !std::isfinite(value))
      return text;
  }
  return PrintG(value, 17);
}

void AppendCellValue(std::string &text, double value) {
  char buffer[64];
  // The general format with precision 6 is defined to print as "%g" does.
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
  text.append(buffer, result.ptr);
}

std::string FormatAsciiGridHeader(const RasterGeometry &g) {
  std::string text;
  text += "ncols\t" + std::to_string(g.ncols) + "\n";
  text += "nrows\t" + std::to_string(g.nrows) + "\n";
  text += "xllcorner\t" + FormatHeaderNumber(g.xllcorner) + "\n";
  text += "yllcorner\t" + FormatHeaderNumber(g.yllcorner) + "\n";
  text += "cellsize\t" + FormatHeaderNumber(g.cellsize) + "\n";
  text += "nodata_value\t" + FormatHeaderNumber(g.nodata) + "\n";
  return text;
}

std::string FormatAsciiStackHeader(const RasterGeometry &g, int levels) {
  std::string text;
  text += "stack_ncols\t" + FormatHeaderNumber(g.ncols) + "\n";
  text += "nrows\t" + FormatHeaderNumber(g.nrows) + "\n";
  text += "xll\t" + FormatHeaderNumber(g.xllcorner) + "\n";
  text += "yll\t" + FormatHeaderNumber(g.yllcorner) + "\n";
  text += "cs\t" + FormatHeaderNumber(g.cellsize) + "\n";
  text += "nodata\t" + FormatHeaderNumber(g.nodata) + "\n";
  text += "cnt\t0\nmin\t0\nmax\t0\nsum\t0\naverage\t0\n";
  text += "numlevels\t" + FormatHeaderNumber(levels) + "\n";
  return text;
}

void RoundCornersDown(GridFileHeader &header) {
  header.xllcorner = std::floor(header.xllcorner);
  header.yllcorner = std::floor(header.yllcorner);
}

bool GridHeaderFits(const GridFileHeader &header, const RasterGeometry &model) {
  const auto ncols = WholeCount(header.ncols);
  const auto nrows = WholeCount(header.nrows);
  return ncols && nrows && *ncols == model.ncols && *nrows == model.nrows &&
         std::floor(model.xllcorner) == header.xllcorner &&
         std::floor(model.yllcorner) == header.yllcorner && header.cellsize == model.cellsize &&
         header.nodata <= model.nodata;
}

bool StackHeaderFits(const GridFileHeader &header, const RasterGeometry &model) {
  const auto ncols = WholeCount(header.ncols);
  const auto nrows = WholeCount(header.nrows);
  return ncols && nrows && *ncols == model.ncols && *nrows == model.nrows &&
         header.xllcorner == model.xllcorner && header.yllcorner == model.yllcorner &&
         header.cellsize == model.cellsize && header.nodata == model.nodata;
}

std::optional<int> StackLevels(const GridFileHeader &header) {
  if (!std::isfinite(header.deviation))
    return std::nullopt;
  const double levels = std::floor(header.deviation);
  if (levels < 0.0 || levels > MaxStackLevels)
    return std::nullopt;
  return static_cast<int>(levels);
}

std::string_view TailOf(std::string_view text, std::size_t count) {
  return text.size() <= count ? text : text.substr(text.size() - count);
}

std::string GeometryMismatchText(std::string_view path, std::string_view moduleName,
                                 std::string_view zoneGridName, const RasterGeometry &model,
                                 const GridFileHeader &header, bool stack) {
  std::string text;
  text.append(path);
  text += " has not the specified grid measures (in ";
  text.append(moduleName);
  text += stack ? ")\n" : ")!\n";
  text.append(TailOf(zoneGridName, 35));
  text += " ";
  text.append(TailOf(path, 35));
  const auto pair = [&text](const std::string &modelValue, double fileValue) {
    text += "\n" + modelValue + " " + Streamed(fileValue);
  };
  pair(Streamed(model.ncols), header.ncols);
  pair(Streamed(model.nrows), header.nrows);
  pair(Streamed(model.xllcorner), header.xllcorner);
  pair(Streamed(model.yllcorner), header.yllcorner);
  pair(Streamed(model.cellsize), header.cellsize);
  pair(Streamed(model.nodata), header.nodata);
  return text;
}

std::int64_t GridCellOffset(int row, int column, int ncols, bool doubleFile) {
  const std::int64_t element = doubleFile ? sizeof(double) : sizeof(float);
  const std::int64_t header = doubleFile ? DoubleHeaderBytes : FloatHeaderBytes;
  return header + ((static_cast<std::int64_t>(row) - 1) * ncols + (column - 1)) * element;
}

std::int64_t StackElementIndex(int row, int column, int level, int ncols, int levels) {
  return static_cast<std::int64_t>(GridFileHeader::ValueCount) +
         ((static_cast<std::int64_t>(row) - 1) * ncols + (column - 1)) *
             (static_cast<std::int64_t>(levels) + 1) +
         level;
}

void StoreStatistics(const GridStatisticsResult &statistics, GridFileHeader &header) {
  header.count = statistics.WeightSum;
  header.minimum = statistics.Minimum;
  header.maximum = statistics.Maximum;
  header.sum = statistics.WeightedSum;
  header.mean = statistics.Mean;
  header.deviation = statistics.StandardDeviation;
}

} // namespace tavro
