// Pure parsing and formatting of the grid and stack file formats: format
// recognition from the first bytes, the ASCII six-line grid header, the
// twelve-line ASCII stack header, the 12-value binary header in double and
// float form, the geometry checks against the model raster, file offsets and
// the statistics stored in binary headers. No MPI, no logging, no files.
#pragma once

#include "kernel/grid_statistics.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tavro {

// Codes as stored and broadcast: binary float 0, ASCII 1, binary double 2, GIF 3.
enum class GridFileFormat : int { BinaryFloat = 0, Ascii = 1, BinaryDouble = 2, Gif = 3 };

// The raster every grid file of a run must match.
struct RasterGeometry {
  int ncols = 0;
  int nrows = 0;
  double xllcorner = 0.0;
  double yllcorner = 0.0;
  double cellsize = 0.0;
  double nodata = -9999.0;
};

// The twelve header values of a binary grid or stack file, in file order. In
// stack files the twelfth value holds the number of levels.
struct GridFileHeader {
  double ncols = 0.0;
  double nrows = 0.0;
  double xllcorner = 0.0;
  double yllcorner = 0.0;
  double cellsize = 0.0;
  double nodata = 0.0;
  double count = 0.0;
  double minimum = 0.0;
  double maximum = 0.0;
  double sum = 0.0;
  double mean = 0.0;
  double deviation = 0.0; // standard deviation; number of levels in stacks

  static constexpr std::size_t ValueCount = 12;
  std::array<double, ValueCount> Values() const;
  static GridFileHeader FromValues(std::span<const double, ValueCount> values);
  // Geometry and nodata of the model, statistics zero.
  static GridFileHeader FromGeometry(const RasterGeometry &geometry);
};

inline constexpr std::size_t DoubleHeaderBytes = GridFileHeader::ValueCount * sizeof(double);
inline constexpr std::size_t FloatHeaderBytes = GridFileHeader::ValueCount * sizeof(float);
// Bytes read to recognise a file: enough for a whole double header.
inline constexpr std::size_t RecognitionBytes = DoubleHeaderBytes;
// The nodata value that marks a binary grid or stack.
inline constexpr double BinaryMarkerNodata = -9999.0;
// Longest file name (directory included) the file operations accept.
inline constexpr std::size_t MaxPathLength = 1200;

// Recognises a grid file from its first bytes (up to RecognitionBytes): "ncol"
// ASCII, then a binary double header with nodata -9999, then a binary float
// header with nodata -9999, then "GIF8". nullopt: not recognised.
std::optional<GridFileFormat> RecognizeGridFormat(std::span<const std::byte> start);

enum class StackRecognition { Ascii, BinaryDouble, BinaryFloat, ShortHeader, Unknown };
// "stack" ASCII, then the double and the float header with nodata -9999.
// ShortHeader: fewer bytes than one binary float header.
StackRecognition RecognizeStackFormat(std::span<const std::byte> start);

// Binary headers in the byte order of the machine.
std::array<std::byte, DoubleHeaderBytes> EncodeDoubleHeader(const GridFileHeader &header);
std::array<std::byte, FloatHeaderBytes> EncodeFloatHeader(const GridFileHeader &header);
GridFileHeader DecodeDoubleHeader(std::span<const std::byte, DoubleHeaderBytes> bytes);
GridFileHeader DecodeFloatHeader(std::span<const std::byte, FloatHeaderBytes> bytes);
// Header values 7 to 12 alone, as rewritten after the rows: bytes 48..95 of a
// double file or 24..47 of a float file.
inline constexpr std::size_t StatisticsOffsetDouble = 6 * sizeof(double);
inline constexpr std::size_t StatisticsOffsetFloat = 6 * sizeof(float);
std::array<std::byte, 6 * sizeof(double)> EncodeDoubleStatistics(const GridFileHeader &header);
std::array<std::byte, 6 * sizeof(float)> EncodeFloatStatistics(const GridFileHeader &header);

// Longest token of a grid or stack text file that can be a number.
inline constexpr std::size_t MaxNumberTokenLength = 4096;
// One number of a grid or stack text file: the whole token must be the number,
// and the value equals what strtod gives for it. A token longer than
// MaxNumberTokenLength is not a number.
std::optional<double> ParseGridNumber(std::string_view token);

// A header number as written: "%g" when that reads back to the same value,
// otherwise the fewest significant digits that do, so that the model reads its
// own headers back exactly (3512345.5 stays 3512345.5, not 3.51235e+06).
std::string FormatHeaderNumber(double value);
// A cell value as "%g" writes it (six significant digits), appended to text.
void AppendCellValue(std::string &text, double value);

// "ncols\t<n>\nnrows\t<n>\nxllcorner\t<x>\nyllcorner\t<y>\ncellsize\t<c>\nnodata_value\t<v>\n"
std::string FormatAsciiGridHeader(const RasterGeometry &geometry);
// "stack_ncols\t..\nnrows\t..\nxll\t..\nyll\t..\ncs\t..\nnodata\t..\ncnt\t0\nmin\t0\nmax\t0\n"
// "sum\t0\naverage\t0\nnumlevels\t<levels>\n"
std::string FormatAsciiStackHeader(const RasterGeometry &geometry, int levels);

// Corner coordinates rounded down to whole units, as the grid reader keeps them.
void RoundCornersDown(GridFileHeader &header);
// A grid file fits the model when ncols and nrows (rounded down) and the
// corners in whole units are equal, the cell size is exactly equal and the
// file's nodata is not above the model's. Values that are not finite or out
// of the int range never fit. Expects the corners already rounded down.
bool GridHeaderFits(const GridFileHeader &header, const RasterGeometry &model);
// A stack file fits when ncols and nrows (rounded down) are equal and corners,
// cell size and nodata are exactly equal.
bool StackHeaderFits(const GridFileHeader &header, const RasterGeometry &model);
// The level count of a stack header (twelfth value rounded down), or nullopt
// when it is not a count of 0 to MaxStackLevels.
inline constexpr int MaxStackLevels = 100000;
std::optional<int> StackLevels(const GridFileHeader &header);

// Text of the geometry mismatch entry (without "FATAL: " and "[end-entry]"):
// "<path> has not the specified grid measures (in <module>)!\n<zone tail> <path tail>"
// and the pairs "\n<model> <file>" of ncols, nrows, xllcorner, yllcorner,
// cellsize and nodata. Stacks write ")\n" without the "!".
std::string GeometryMismatchText(std::string_view path, std::string_view moduleName,
                                 std::string_view zoneGridName, const RasterGeometry &model,
                                 const GridFileHeader &header, bool stack);
// The last count characters of text (all of it when shorter).
std::string_view TailOf(std::string_view text, std::size_t count);

// Byte offset of cell (row, column), both 1-based, in a binary grid file.
std::int64_t GridCellOffset(int row, int column, int ncols, bool doubleFile);
// Element index (counted in doubles or floats from the start of the file) of
// level k of cell (row, column) in a binary stack file.
std::int64_t StackElementIndex(int row, int column, int level, int ncols, int levels);

// Header values 7 to 12 (count, minimum, maximum, sum, mean, standard
// deviation) from the writers' statistics accumulator.
void StoreStatistics(const GridStatisticsResult &statistics, GridFileHeader &header);

} // namespace tavro
