// Control-point file headers, buffer sizes and creation.
#include "soil/control_point_files.h"

#include "kernel/fatal_error.h"
#include "raster/parallel/interrupts_ignored.h"

#include <algorithm>
#include <cstdio>

namespace tavro {
namespace {

constexpr std::size_t kBufferBytes = 2097152;

// "[%d]\t" for layers first..last.
std::string LayerColumns(int first, int last) {
  std::string text;
  for (int i = first; i <= last; ++i)
    text += Concat("[", i, "]\t");
  return text;
}

std::string DateColumns(const char *name, int row, int column) {
  return Concat("YY\tMM\tDD\tHH\t", name, "[", row, "][", column, "]");
}

} // namespace

std::string ControlPointHeader(ControlPointFile file, int row, int column, int layers,
                               int landuseLayers) {
  switch (file) {
  case ControlPointFile::Hhyd:
    return DateColumns("hhyd", row, column) + LayerColumns(1, layers) + "\n";
  case ControlPointFile::Otherdata: {
    std::string text =
        DateColumns("otherdata", row, column) +
        "QD\tQI\tDELTAGW/QB\tQINF\tGWIN\tGWEX\tGWN\tUPRISE\tPERCOL\tMACR\tQDRAIN\tACT_"
        "POND\tINFEX\tGWST\tGWLEVEL\tROOT\tAlbedo\tRSE";
    for (int l = 1; l <= landuseLayers; ++l)
      text += Concat("\tLAI_", l, "\tVCF_", l, "\tRSC_", l, "\tRSI_", l, "\tROOT_", l, "\tZ0_", l);
    return text + "\n";
  }
  case ControlPointFile::Theta:
    return DateColumns("theta", row, column) + LayerColumns(1, layers) + "\n";
  case ControlPointFile::Qbottom:
    return DateColumns("q_bottom", row, column) + LayerColumns(1, layers) + "\n";
  case ControlPointFile::EtrDetail:
    return DateColumns("etr", row, column) + "(etr[0] is evaporation from first layer)" +
           LayerColumns(0, layers) + "\n";
  case ControlPointFile::Interflow:
    return DateColumns("interflow_per_layer", row, column) + LayerColumns(1, layers) + "\n";
  case ControlPointFile::Temperature:
    return DateColumns("temper", row, column) + LayerColumns(1, layers) + "\n";
  }
  return {};
}

std::string ControlPointOpenError(ControlPointFile file) {
  const char *what = "";
  switch (file) {
  case ControlPointFile::Hhyd:
    what = "hydraulic head (single point)";
    break;
  case ControlPointFile::Otherdata:
    what = "other detail data (single point)";
    break;
  case ControlPointFile::Theta:
    what = "soil theta (single point)";
    break;
  case ControlPointFile::Qbottom:
    what = "q_bottom (single point)";
    break;
  case ControlPointFile::EtrDetail:
    what = "transpiration/evaporation per layer (single point)";
    break;
  case ControlPointFile::Interflow:
    what = "interflow (single point)";
    break;
  case ControlPointFile::Temperature:
    what = "soil temperatures (single point details)";
    break;
  }
  return Concat("error opening file for ", what, " \n-> check disk space or user rights");
}

int ControlPointValueCount(ControlPointFile file, int layers, int landuseLayers) {
  return file == ControlPointFile::Otherdata ? 6 * landuseLayers + 19 : layers + 1;
}

std::size_t ControlPointRecordCapacity(int valueCount) {
  const std::size_t perRecord = 8 * static_cast<std::size_t>(valueCount < 0 ? 0 : valueCount) + 32;
  const std::size_t records = kBufferBytes / perRecord;
  return records < 1 ? 1 : records;
}

namespace {

// Creates (or truncates) the file with its header; false when that fails.
bool WriteHeaderFile(const std::string &fileName, const std::string &header) {
  const InterruptsIgnored quiet;
  bool written = false;
  if (std::FILE *stream = std::fopen(fileName.c_str(), "w")) {
    written = std::fputs(header.c_str(), stream) >= 0;
    written = std::fclose(stream) == 0 && written;
  }
  return written;
}

ControlPointBuffer EmptyBuffer(ControlPointFile file, const std::string &fileName, int valueCount) {
  ControlPointBuffer buffer;
  buffer.File = file;
  buffer.FileName = fileName;
  buffer.ValueCount = valueCount;
  buffer.Capacity = ControlPointRecordCapacity(buffer.ValueCount);
  buffer.Dates.assign(buffer.Capacity * 4, 0);
  buffer.Values.assign(buffer.Capacity * static_cast<std::size_t>(buffer.ValueCount), 0.0);
  return buffer;
}

} // namespace

ControlPointBuffer CreateControlPointFile(DiagnosticsLog &log, ControlPointFile file,
                                          const std::string &fileName, int row, int column,
                                          int layers, int landuseLayers) {
  if (!WriteHeaderFile(fileName, ControlPointHeader(file, row, column, layers, landuseLayers)))
    ThrowFatal(log, kControlPointExitCode, ControlPointOpenError(file));
  return EmptyBuffer(file, fileName, ControlPointValueCount(file, layers, landuseLayers));
}

std::string TracerControlPointHeader(const std::string &title, int row, int column, int layers) {
  return DateColumns(title.c_str(), row, column) + LayerColumns(1, layers) + "\n";
}

ControlPointBuffer CreateTracerControlPointFile(DiagnosticsLog &log, const std::string &fileName,
                                                const std::string &title, int row, int column,
                                                int layers) {
  if (!WriteHeaderFile(fileName, TracerControlPointHeader(title, row, column, layers)))
    ThrowFatal(log, kTracerControlPointExitCode,
               "error opening tracer concentration file " + fileName);
  // A layer file: values 1..layers are written.
  return EmptyBuffer(ControlPointFile::Theta, fileName, layers + 1);
}

void AppendControlPointRecord(ControlPointBuffer &b, std::int64_t year, std::int64_t month,
                              std::int64_t day, std::int64_t hour, const double *values,
                              std::size_t count) {
  if (b.Count >= b.Capacity)
    return;
  const std::int64_t stamp[4] = {year, month, day, hour};
  std::copy(stamp, stamp + 4, b.Dates.begin() + static_cast<std::ptrdiff_t>(4 * b.Count));
  const auto width = static_cast<std::size_t>(b.ValueCount);
  const auto first = b.Values.begin() + static_cast<std::ptrdiff_t>(width * b.Count);
  std::fill(first, first + static_cast<std::ptrdiff_t>(width), 0.0);
  std::copy(values, values + std::min(width, count), first);
  ++b.Count;
}

} // namespace tavro
