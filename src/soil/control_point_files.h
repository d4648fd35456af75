// The control-point files of the soil-water module: the column details of
// one chosen cell, one file per quantity. At set-up the owning process
// creates each file with its header line; the records of the run are
// collected in memory buffers of about 2 MiB and appended later.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tavro {

class DiagnosticsLog;

// The files in the order they are created.
enum class ControlPointFile { Hhyd, Otherdata, Theta, Qbottom, EtrDetail, Interflow, Temperature };
inline constexpr int kControlPointFileCount = 7;
inline constexpr int kControlPointExitCode = 62;

// The header line of a file for the control cell (row, column), with layers
// soil layers and landuseLayers land-use layers; it ends with a line break.
std::string ControlPointHeader(ControlPointFile file, int row, int column, int layers,
                               int landuseLayers);

// The FATAL text (without "FATAL: ") when a file cannot be created.
std::string ControlPointOpenError(ControlPointFile file);

// Values per record: layers + 1 for the layer files, 6 x landuseLayers + 19
// for the other-data file.
int ControlPointValueCount(ControlPointFile file, int layers, int landuseLayers);

// Records held by a buffer: floor(2097152 / (8 x values + 32)), at least 1.
std::size_t ControlPointRecordCapacity(int valueCount);

// The records of one file waiting to be appended: per record the date
// (year, month, day, hour) and its values.
struct ControlPointBuffer {
  ControlPointFile File = ControlPointFile::Hhyd;
  std::string FileName;
  int ValueCount = 0;
  std::size_t Capacity = 0;
  std::size_t Count = 0;
  std::vector<std::int64_t> Dates; // 4 per record
  std::vector<double> Values;      // ValueCount per record
  // The first value written of a record: 0 for the evapotranspiration
  // details (soil evaporation first), 1 for the others.
  int FirstWritten() const { return File == ControlPointFile::EtrDetail ? 0 : 1; }
};

// Creates the file with its header (fatal 62 with the file's entry when it
// cannot be written) and returns its empty buffer.
ControlPointBuffer CreateControlPointFile(DiagnosticsLog &log, ControlPointFile file,
                                          const std::string &fileName, int row, int column,
                                          int layers, int landuseLayers);

// A tracer's file: the concentration in layers 1..layers of every record.
inline constexpr int kTracerControlPointExitCode = 65;
// "YY\tMM\tDD\tHH\t<title>[row][column]" and "[j]\t" for every layer.
std::string TracerControlPointHeader(const std::string &title, int row, int column, int layers);
// Creates the file with its header (fatal 65 when it cannot be created) and
// returns its empty buffer of layers + 1 values per record.
ControlPointBuffer CreateTracerControlPointFile(DiagnosticsLog &log, const std::string &fileName,
                                                const std::string &title, int row, int column,
                                                int layers);

// Appends one record (the date and values 0..ValueCount-1, missing ones 0);
// a full buffer takes nothing.
void AppendControlPointRecord(ControlPointBuffer &buffer, std::int64_t year, std::int64_t month,
                              std::int64_t day, std::int64_t hour, const double *values,
                              std::size_t count);

} // namespace tavro
