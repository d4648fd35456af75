// Variable grids and the standard-grid statistics tables.
#include "setup/variable_grids.h"

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/string_helpers.h"
#include "raster/files/grid_reader.h"
#include "raster/output/zonal_statistic.h"
#include "raster/parallel/strip_exchange.h"
#include "setup/defaultini.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <span>

namespace tavro {
namespace {

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

constexpr int kOpenErrorExitCode = 28;
constexpr int kCloseErrorExitCode = 11;
constexpr int kControlFileExitCode = 17;

} // namespace

std::optional<VariableGridDefinition> ParseVariableGridLine(std::string_view line) {
  std::size_t pos = 0;
  VariableGridDefinition definition;
  const std::string_view fileName = NextWord(line, pos);
  const std::string_view identifier = NextWord(line, pos);
  const std::string fillcode(NextWord(line, pos));
  const std::string defaultValue(NextWord(line, pos));
  if (defaultValue.empty() || fileName.size() > GridRegistry::MaxFileNameLength ||
      identifier.size() > GridRegistry::MaxIdentifierLength)
    return std::nullopt;
  // As "%d" and "%lf" read them: a number at the start of the item.
  char *end = nullptr;
  errno = 0;
  const long code = std::strtol(fillcode.c_str(), &end, 10);
  if (end == fillcode.c_str() || errno == ERANGE || code < INT32_MIN || code > INT32_MAX)
    return std::nullopt;
  errno = 0;
  const double value = std::strtod(defaultValue.c_str(), &end);
  if (end == defaultValue.c_str() || errno == ERANGE || !std::isfinite(value))
    return std::nullopt;
  definition.FileName = fileName;
  definition.Identifier = identifier;
  definition.fillcode = static_cast<int>(code);
  definition.defaultValue = value;
  return definition;
}

std::string ReadNonBlankLine(ControlFileReader &reader, std::string_view section) {
  std::FILE *file = reader.Handle();
  std::string line;
  for (;;) {
    line.clear();
    int c = 0;
    while ((c = std::getc(file)) != EOF && c != '\n') {
      line += static_cast<char>(c);
      if (line.size() > ControlFileReader::MaxLineLength)
        ThrowFatal(reader.Log(), 17,
                   Concat("error in control file ", reader.FileName(), ", line longer than ",
                          ControlFileReader::MaxLineLength, " characters in ", section, ": ",
                          line.substr(0, 80), "..."));
    }
    for (const char ch : line)
      if (!IsBlank(ch))
        return line;
    if (c == EOF)
      return {};
  }
}

int defaultini::ReadVariableGrids() {
  if (!OpenControlFile())
    ThrowFatal(*Log, kOpenErrorExitCode, Concat("error opening ", ControlFileName));
  ControlFileReader &reader = ControlFile();
  reader.FindControlKey("[variable_grids]", true);
  const int count = reader.ReadInt(" number of variable grids ");
  // More grids than the registry holds cannot be set up; nothing is sized
  // from the count, the flags grow with the definitions read.
  if (count > GridRegistry::LastIndex)
    ThrowFatal(*Log, kControlFileExitCode,
               Concat("error in control file ", ControlFileName,
                      ", number of variable grids in [variable_grids] is ", count,
                      ", but the grid registry holds at most ", GridRegistry::LastIndex, " grids"));
  variableGridCount_ = count > 0 ? count : 0;
  variableReadFlags_ = OneBasedArray<int>(0);
  if (count > 0) {
    firstVariableGrid_ = Registry->FirstFreeIndex();
    if (firstVariableGrid_ == 0)
      ThrowFatal(
          *Log, GridRegistry::RegistryExitCode,
          Concat("no free grid found in memory (an Position ", GridRegistry::LastIndex + 1, ")\n"));
    const StripRows held = HeldRows();
    for (int i = 1; i <= count; ++i) {
      const auto parsed = ParseVariableGridLine(ReadNonBlankLine(reader, "[variable_grids]"));
      if (!parsed)
        reader.ControlFileError(Concat("\nfile for vargrid ", i,
                                       " or the identifier or the fillcode or the defaultvalue "
                                       "(which is new in version 7.7) in "),
                                ModuleName);
      VariableGridDefinition definition = *parsed;
      definition.writecode = reader.ReadInt("Writegrid for a variable grid ");
      definition.readgrid = reader.ReadInt("Readgrid for a variable grid ");
      variableReadFlags_.Resize(static_cast<std::size_t>(i));
      variableReadFlags_[static_cast<std::size_t>(i)] = definition.readgrid;

      const int index = Registry->FirstFreeIndex();
      if (index == 0)
        ThrowFatal(*Log, GridRegistry::RegistryExitCode,
                   Concat("no free grid found in memory (an Position ", GridRegistry::LastIndex + 1,
                          ")\n"));
      auto owned = std::make_unique<Grid>();
      Grid &grid = *owned;
      ownedGrids_.push_back(std::move(owned));
      if (definition.readgrid == 1) {
        const GridReadOptions options{
            definition.fillcode, true, true, 0.0, true, true, false, true};
        tavro::ReadGrid(FileContext(), definition.FileName, grid, options);
      } else {
        grid = Grid(held.first, held.last, NCols, NRows, *Log);
        grid.Fill(NoData);
        CreateGrid(grid, definition.defaultValue, true);
      }
      AddGrid(index, definition.FileName, &grid, nullptr, 1, definition.Identifier,
              definition.writecode, held.first, held.last);
      (*Registry)[index].fillcode = definition.fillcode;
      (*Registry)[index].defaultValue = definition.defaultValue;
      setupGrids_.push_back(index);
      variableGrids_.push_back(index);
    }
  }
  if (!CloseControlFile())
    ThrowFatal(*Log, kCloseErrorExitCode, Concat("error closing ", ControlFileName));
  return count;
}

void defaultini::CreateStandardGridStatistics() {
  for (const int index : setupGrids_) {
    GridEntry &entry = (*Registry)[index];
    if (entry.statfile.empty() || entry.Data == nullptr)
      continue;
    // A successful ranking leaves at least one zone.
    if (zones_.Count == 0)
      memory_error(81);
    GridStatistic table;
    table.registryIndex = index;
    table.zones.resize(static_cast<std::size_t>(zones_.Count) + 1);
    for (int k = 0; k <= zones_.Count; ++k) {
      const ZoneRecord &source = zones_.Records[static_cast<std::size_t>(k)];
      ZoneRecord &copy = table.zones[static_cast<std::size_t>(k)];
      copy.zonenwert = source.zonenwert;
      copy.rel = source.rel;
      copy.RelCellSum = source.RelCellSum;
    }
    int error = 0;
    table.statistic = std::make_unique<zonalstatistic>(
        error, *Log, statisticsRegistry_, statisticsCapacity_, CellWeights, NRows, NCols,
        std::span<ZoneRecord>(table.zones), entry.statcode, 5, entry.statfile,
        settings_.DefaultOutputDirectory, std::span<const int>(), NoData);
    if (error != 0)
      throw error;
    table.statistic->WriteHeader(entry.Identifier, "(default)", statisticsRegistry_,
                                 statisticsCapacity_);
    entry.ZonalStatistic = table.statistic.get();
    gridStatistics_.push_back(std::move(table));
  }
}

const zonalstatistic *defaultini::StandardGridStatistic(int registryIndex) const {
  for (const GridStatistic &table : gridStatistics_)
    if (table.registryIndex == registryIndex)
      return table.statistic.get();
  return nullptr;
}

void defaultini::ResetStandardGridStatistics() {
  for (GridStatistic &table : gridStatistics_)
    table.statistic->ResetStep();
}

void defaultini::AddStandardGridStatistics() {
  const Grid &zone = *(*Registry)[1].Data;
  const StripRows strip = decomposition_.strip;
  for (GridStatistic &table : gridStatistics_) {
    const Grid &values = *(*Registry)[table.registryIndex].Data;
    for (long r = strip.first; r <= strip.last; ++r) {
      const RowColumnRange range = rowRanges_[static_cast<std::size_t>(r)];
      for (long c = std::max<long>(range.first, 1); c <= range.last; ++c) {
        // A cell of a row shared with a neighbour is added by its owner only.
        if (zone[r][c] == NoData || !OwnsCell(r, c))
          continue;
        const int code = static_cast<int>(zone[r][c]);
        if (code < 0 || code > zones_.MaxCode)
          continue;
        table.statistic->AddValue(r, c, zones_.CodeIndex[static_cast<std::size_t>(code)],
                                  values[r][c], 1.0);
      }
    }
  }
}

void defaultini::EndStepStandardGridStatistics(long hour, long day, long month, long year) {
  for (GridStatistic &table : gridStatistics_)
    table.statistic->EndOfStep(year, month, day, hour, 1);
}

void defaultini::FlushStatistics() {
  for (GridStatistic &table : gridStatistics_)
    table.statistic->FlushBuffer();
}

} // namespace tavro
