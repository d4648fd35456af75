// Inflows of a routing subbasin: constant, internal (fed by an abstraction)
// or read from a time-series file, one row per routing step.
#include "routing/routing_subbasin.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"

namespace tavro {
namespace {

constexpr int kInflowOpenExitCode = 37;
constexpr int kInflowStartExitCode = 38;
constexpr int kInflowEndExitCode = 39;
constexpr int kInflowDateExitCode = 36;

// A value of -9998 or less is missing and counts as 0.
double Present(double value) { return value <= -9998.0 ? 0.0 : value; }

// Two- and three-digit years are years of the 1900s.
int FullYear(int year) { return year < 1000 ? year + 1900 : year; }

bool Unreadable(const BufferedTableReader &reader) {
  const int state = reader.State();
  return state == BufferedTableReader::kParseError || state == BufferedTableReader::kNoRowFits ||
         state == BufferedTableReader::kNoFile;
}

} // namespace

void routingclass::OpenInflow(int channelIndex, int number, InflowKind kind,
                              const std::string &fileName, int startRow, double constant,
                              int firstTracerColumn, int year, int month, int day, int hour) {
  const int position = channelIndex - counts_.OL - counts_.SUMTRIB;
  RoutingInflow &inflow = inflows_.at(static_cast<std::size_t>(position));
  inflow.number = number;
  inflow.kind = kind;
  inflow.startRow = startRow;
  if (kind != InflowKind::External) {
    inflow.values[0] = constant;
    return;
  }
  OpenInflowFile(inflow, position, fileName, startRow, firstTracerColumn, year, month, day, hour);
}

void routingclass::OpenInflowFile(RoutingInflow &inflow, int position, const std::string &fileName,
                                  int startRow, int firstTracerColumn, int year, int month, int day,
                                  int hour) {
  BufferedTableReader &reader = inflow.reader;
  int row = reader.Open(fileName, 0, TableBufferBytes, Log);
  if (reader.State() == BufferedTableReader::kNoFile)
    ThrowFatal(*Log, kInflowOpenExitCode,
               Concat("error opening ", fileName, " for inflow ", position));
  if (Unreadable(reader))
    ThrowFatal(*Log, kInflowStartExitCode,
               Concat("error analysing or reading ", fileName, " for inflow ", position,
                      ": no readable rows of year, month, day, hour and values"));
  while (row < startRow - 1) {
    reader.NextRow();
    if (reader.State() == BufferedTableReader::kPastEnd || Unreadable(reader))
      ThrowFatal(*Log, kInflowStartExitCode,
                 Concat("error searching in ", fileName, " for row ", startRow,
                        "\nactual reached row: ", row));
    ++row;
  }

  int found[4] = {0, 0, 0, 0}; // year, month, day, hour
  reader.MoveRow(-1);
  while (found[0] != year || found[1] != month || found[2] != day || found[3] != hour) {
    reader.NextRow();
    if (reader.State() == BufferedTableReader::kPastEnd || Unreadable(reader))
      ThrowFatal(*Log, kInflowStartExitCode,
                 Concat("starting date ", day, ".", month, ".", year, ", ", hour, ". h in ",
                        fileName, " not found (search started at row ", startRow, ")"));
    reader.GetDate(found[0], found[1], found[2], found[3]);
    found[0] = FullYear(found[0]);
  }
  // The first tracer column only serves this check: the values are always
  // taken from the columns 0..n.
  if (reader.ColumnCount() < static_cast<long>(firstTracerColumn) + tracerCount_ - 4)
    ThrowFatal(*Log, kInflowStartExitCode,
               Concat("there is not the required number of columns in ", fileName,
                      " for reading ZL[", position, "] and the follwoing ", tracerCount_,
                      " tracer values starting from column ", firstTracerColumn));
  for (int k = 0; k <= tracerCount_; ++k)
    inflow.values[static_cast<std::size_t>(k)] = Present(reader.GetValue(k));
}

void routingclass::ReadInflows(ComponentTable &routingInput, int year, int month, int day,
                               int hour) {
  const int firstInflowChannel = counts_.OL + counts_.SUMTRIB + 1;
  for (int j = 1; j <= counts_.ZL; ++j) {
    RoutingInflow &inflow = inflows_[static_cast<std::size_t>(j)];
    if (inflow.kind != InflowKind::External)
      continue;
    BufferedTableReader &reader = inflow.reader;
    if (reader.State() == BufferedTableReader::kPastEnd)
      ThrowFatal(*Log, kInflowEndExitCode,
                 Concat("error reading from ", reader.FileName(),
                        " (or from its buffer) for inflow ", inflow.number,
                        "\nreached end of file!"));
    if (Unreadable(reader))
      ThrowFatal(*Log, kInflowEndExitCode,
                 Concat("error reading from ", reader.FileName(),
                        " (or from its buffer) for inflow ", inflow.number,
                        "\na row cannot be read (wrong format or number of columns)!"));
    int read[4] = {0, 0, 0, 0};
    reader.GetDate(read[0], read[1], read[2], read[3]);
    read[0] = FullYear(read[0]);
    if (read[0] != year || read[1] != month || read[2] != day || read[3] != hour)
      ThrowFatal(*Log, kInflowDateExitCode,
                 Concat("error comparing dates in ", reader.FileName(), ":\n     read: ", read[0],
                        ".", read[1], ".", read[2], ", ", read[3], ". h,\nshould be: ", year, ".",
                        month, ".", day, ", ", hour, ". h.\n"));
    const int flowIndex = nsub_ + inflow.number;
    for (int k = 1; k <= tracerCount_; ++k)
      routingInput[k][flowIndex] = Present(reader.GetValue(k));
    const double area =
        channels_[static_cast<std::size_t>(firstInflowChannel + j - 1)].parameters.channelArea;
    routingInput[0][flowIndex] = ToMillimetres(Present(reader.GetValue(0)), area, dt_);
    reader.NextRow();
  }
}

} // namespace tavro
