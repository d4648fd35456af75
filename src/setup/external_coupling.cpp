// The set-up object's side of the external coupling: the "[ExternalCoupling]"
// section, the binding of its lists to internal grids and statistics, the
// reading (and renaming or deleting) of the partner's grids, and the
// accumulation and writing of the grids and statistics for the partner.
#include "setup/external_coupling.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "raster/files/grid_file_context.h"
#include "setup/defaultini.h"

#include <mpi.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
#include <sstream>

namespace tavro {
namespace {

constexpr int kMalformedSectionExitCode = 10;
constexpr int kOpenErrorExitCode = 14;
constexpr int kReadFailureExitCode = 1001;
constexpr int kRenameFailureExitCode = 1002;
constexpr int kReadGridMissingExitCode = 1003;
constexpr int kWriteGridMissingExitCode = 1004;
constexpr int kStatisticMissingExitCode = 1005;
constexpr int kMoreThanOneProcessExitCode = 1009;
constexpr int kCreateErrorExitCode = 26;
constexpr int kWriteErrorExitCode = 18;
constexpr int kCloseErrorExitCode = 27;
constexpr std::size_t kLongTitle = 100;

constexpr const char *kLetterFailure =
    "error reading Coupling Mode (I, H, D, M or Y) for external gw table grid ";
constexpr const char *kReadRowFailure =
    "error reading external (read) grid name/entity/fill code/rename code ";
constexpr const char *kWriteRowFailure =
    "error reading external (write) grid name/entity/Writecode";
constexpr const char *kStatisticRowFailure =
    "error reading external (write) Statfile name/entity/writecode";

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Every cell: the source added where the zone grid is valid, nodata elsewhere.
void AddValidCells(Grid &accumulation, const Grid &source, const Grid &zone, int nrows, int ncols,
                   double noData) {
  for (int r = 1; r <= nrows; ++r) {
    double *sum = accumulation[r];
    const double *values = source.HasRow(r) ? source[r] : nullptr;
    const double *zones = zone.HasRow(r) ? zone[r] : nullptr;
    for (int c = 1; c <= ncols; ++c) {
      if (zones == nullptr || zones[c] == noData || values == nullptr)
        sum[c] = noData;
      else
        sum[c] += values[c];
    }
  }
}

void ResetValidCells(Grid &accumulation, const Grid &zone, int nrows, int ncols, double noData) {
  for (int r = 1; r <= nrows; ++r) {
    double *sum = accumulation[r];
    const double *zones = zone.HasRow(r) ? zone[r] : nullptr;
    for (int c = 1; c <= ncols; ++c)
      sum[c] = zones == nullptr || zones[c] == noData ? noData : 0.0;
  }
}

} // namespace

// --- Pure rules ----------------------------------------------------------------

CouplingWritecode ClassifyCouplingWritecode(std::string_view writecode) {
  if (writecode == "Sum")
    return CouplingWritecode::Sum;
  if (writecode == "Mean")
    return CouplingWritecode::Mean;
  if (StartsWith(writecode, "SumTotal"))
    return CouplingWritecode::SumTotal;
  return CouplingWritecode::Plain;
}

std::vector<std::string> SumTotalEndOfPeriodNames(const std::string &fileName,
                                                  std::string_view writecode, long day, long month,
                                                  long year, bool dayEnded, bool monthEnded,
                                                  bool yearEnded) {
  const std::size_t slash = fileName.find_last_of("/\\");
  const std::string directory = slash == std::string::npos ? "" : fileName.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
  std::vector<std::string> names;
  char date[64];
  if (dayEnded && StartsWith(writecode, "SumTotal_D")) {
    std::snprintf(date, sizeof date, "%.04ld_%.02ld_%.02ld_", year, month, day);
    names.push_back(directory + "SumTotal_EndOf_Day_" + date + base);
  }
  if (monthEnded && (StartsWith(writecode, "SumTotal_M") || StartsWith(writecode, "SumTotal_DM"))) {
    std::snprintf(date, sizeof date, "%.04ld_%.02ld_", year, month);
    names.push_back(directory + "SumTotal_EndOf_Month_" + date + base);
  }
  if (yearEnded &&
      (writecode == "SumTotal_Y" || writecode == "SumTotal_MY" || writecode == "SumTotal_DMY")) {
    std::snprintf(date, sizeof date, "%.04ld_", year);
    names.push_back(directory + "SumTotal_EndOf_Year_" + date + base);
  }
  return names;
}

std::string CouplingStatisticsHeader(std::string_view title, int zoneCount) {
  std::ostringstream header;
  if (title.size() <= kLongTitle)
    header << title << "; " << zoneCount << " zones\n";
  else
    header << title.substr(0, kLongTitle) << "..."
           << "; " << zoneCount << " Gebiete\n";
  return header.str();
}

long ZoneColumnsOf(const StatisticsRegistryEntry &record) {
  const long count = static_cast<long>(record.valueCount) - (record.hasArealMean ? 1 : 0);
  const long slots = record.columns ? static_cast<long>(record.columns->values.size()) - 1 : 0;
  return std::max(0L, std::min(count, slots));
}

bool TitleNamesEntity(std::string_view title, std::string_view entity) {
  std::string underscored(title);
  for (char &c : underscored)
    if (c == ' ')
      c = '_';
  return underscored.find(entity) != std::string::npos;
}

// --- Reading the section -------------------------------------------------------

void defaultini::CouplingSectionFailure(const char *text) {
  ThrowFatal(*Log, kMalformedSectionExitCode,
             Concat("-----------------error------------\n", text, ModuleName,
                    "\npossible reason: parameter missing or a linefeed \nbefore the end of the "
                    "parameter block"));
}

int defaultini::ReadCouplingCount(const char *label) {
  int count = 0;
  ReadControlValue(count, label);
  if (count < 0)
    ControlFileError(label, ModuleName);
  return count;
}

void defaultini::GetCouplingParameters() {
  coupling_ = ExternalCouplingSettings{};
  if (!OpenControlFile())
    ThrowFatal(*Log, kOpenErrorExitCode, Concat("error opening ", ControlFileName));
  if (!FindControlKey("[ExternalCoupling]", false))
    return;
  ReadControlValue(coupling_.Mode, "Coupling mode ");
  if (coupling_.Mode == 0)
    return;
  if (MPIProcessCount > 1)
    ThrowFatal(*Log, kMoreThanOneProcessExitCode,
               "-----------------error------------\nexternal coupling does not work when running "
               "in MPI mode with more than 1 instance (i.e. you should use the non-MPI-version)");
  ReadControlValue(coupling_.SemaphoreFile, "name of the semaphore file ");
  ReadControlValue(coupling_.WaitInterval, "wait interval for scanning for external grids ");
  // The letter is the first character of its line, not its first word.
  std::FILE *file = ControlFile().Handle();
  const int letter = std::getc(file);
  if (letter != '\n' && letter != EOF)
    ReadWholeLine(file, ControlFileReader::MaxLineLength);
  if (letter == EOF ||
      std::string_view("IHDMY").find(static_cast<char>(letter)) == std::string_view::npos)
    CouplingSectionFailure(kLetterFailure);
  coupling_.IntervalLetter = static_cast<char>(letter);
  ReadControlValue(coupling_.ExternalTimeStep, "the external model's timestep in minutes ");

  ReadCouplingLists(file);
  ReadControlValue(coupling_.OwnSemaphoreFile,
                   "semaphore file name for informing the external model ");
  ReadControlValue(coupling_.OwnSemaphoreContent,
                   "semaphore Content for informing the external model ");
}

void defaultini::ReadCouplingLists(std::FILE *file) {
  ControlFileReader &reader = ControlFile();
  // The rows of a list are read word after word across line ends; the rest
  // of the last row's line is a free label.
  auto endOfList = [&](int count) {
    if (count > 0)
      ReadWholeLine(file, ControlFileReader::MaxLineLength);
  };
  const int reads = ReadCouplingCount("number external grids (to read)");
  for (int i = 0; i < reads; ++i) {
    ExternalReadGrid row;
    row.fileName = reader.NextWord();
    row.entity = reader.NextWord();
    const std::optional<int> fill = row.entity.empty() ? std::nullopt : ScanInt(file);
    const std::optional<int> rename = fill ? ScanInt(file) : std::nullopt;
    if (!rename)
      CouplingSectionFailure(kReadRowFailure);
    row.fillCode = *fill;
    row.renameCode = *rename;
    coupling_.ReadGrids.push_back(std::move(row));
  }
  endOfList(reads);

  auto readTriple = [&](std::string &fileName, std::string &entity, std::string &writecode,
                        const char *failure) {
    fileName = reader.NextWord();
    entity = reader.NextWord();
    writecode = reader.NextWord();
    if (writecode.empty() || writecode.size() > kMaxCouplingWritecodeLength)
      CouplingSectionFailure(failure);
  };
  const int writes = ReadCouplingCount("number external grids (to write)");
  for (int i = 0; i < writes; ++i) {
    ExternalWriteGrid row;
    readTriple(row.fileName, row.entity, row.writecode, kWriteRowFailure);
    if (Accumulates(ClassifyCouplingWritecode(row.writecode))) {
      row.accumulation = std::make_unique<Grid>(1, NRows, NCols, NRows, *Log);
      row.accumulation->Fill(0.0);
    }
    coupling_.WriteGrids.push_back(std::move(row));
  }
  endOfList(writes);

  const int statistics = ReadCouplingCount("number external Stats (to write)");
  for (int i = 0; i < statistics; ++i) {
    ExternalStatistic row;
    readTriple(row.fileName, row.entity, row.writecode, kStatisticRowFailure);
    coupling_.Statistics.push_back(std::move(row));
  }
  endOfList(statistics);
}

// --- Binding ---------------------------------------------------------------------

void defaultini::LinkExternalGrids(StatisticsRegistry *statistics, int capacity) {
  auto internalGrid = [&](const std::string &fileName, const std::string &entity,
                          const char *direction, const char *separator, int exitCode) {
    const int index = FindGrid(entity, false);
    if (index == 0)
      ThrowFatal(*Log, exitCode,
                 Concat("-----------------error------------\nerror looking for internal grid to ",
                        direction, " ", fileName, separator, " with internal name \"", entity,
                        "\"\npossible reason: internal name of the grid is wrong (case "
                        "sensitive!)"));
    return (*Registry)[index].Data;
  };
  for (ExternalReadGrid &row : coupling_.ReadGrids)
    row.target = internalGrid(row.fileName, row.entity, "read from", ",", kReadGridMissingExitCode);
  for (ExternalWriteGrid &row : coupling_.WriteGrids)
    row.source = internalGrid(row.fileName, row.entity, "write to", "", kWriteGridMissingExitCode);

  for (ExternalStatistic &row : coupling_.Statistics) {
    const StatisticsRegistryEntry *found = nullptr;
    const int limit = statistics == nullptr ? 0 : std::min(capacity, statistics->Capacity() + 1);
    for (int i = 0; i < limit && !(*statistics)[i].Free(); ++i)
      if (TitleNamesEntity((*statistics)[i].title, row.entity)) {
        found = &(*statistics)[i];
        break;
      }
    if (found == nullptr)
      ThrowFatal(*Log, kStatisticMissingExitCode,
                 Concat("-----------------error------------\nerror looking for zonal statistic "
                        "with internal name \"",
                        row.entity,
                        "\"\npossible reason: name of the statistic entity is wrong (case "
                        "sensitive!)"));
    row.record = *found;
    row.accumulator.assign(row.record.columns->values.size(), 0.0);
  }
}

// --- The exchange ----------------------------------------------------------------

bool defaultini::HasExternalGWTable() const {
  for (const ExternalReadGrid &row : coupling_.ReadGrids)
    if (row.entity == "GWTableExtern")
      return true;
  return false;
}

int defaultini::ReadExternalGrids(long year, long month, long day, long hour) {
  // The reader leaves SIGINT at its default action; the program's handler
  // (whatever was installed before) returns after each file.
  for (ExternalReadGrid &row : coupling_.ReadGrids) {
    {
      const InterruptPause pause(InterruptPause::After::ProgramHandler, nullptr);
      try {
        ReadGrid(row.fileName, *row.target, row.fillCode, false, false, 0.0, true, true, false,
                 true);
      } catch (int) {
        throw;
      } catch (...) {
        ThrowFatal(*Log, kReadFailureExitCode,
                   Concat("error reading external grid ", row.fileName));
      }
    }
    // The file that was read: the name with the input directory in front.
    const std::string path = PrefixedPath(InitialStateDirectory, row.fileName);
    if (row.renameCode == 1) {
      char stamp[128];
      std::snprintf(stamp, sizeof stamp, "_%.4ld_%.2ld_%.2ld_%.2ld_%ld", year, month, day, hour,
                    static_cast<long>(std::clock()));
      const std::string renamed = path + stamp;
      if (std::rename(path.c_str(), renamed.c_str()) != 0)
        ThrowFatal(*Log, kRenameFailureExitCode,
                   Concat("error renaming external grid ", path, " nach ", renamed));
    } else if (row.renameCode == 0) {
      if (std::remove(path.c_str()) != 0)
        ThrowFatal(*Log, kRenameFailureExitCode, Concat("error deleting external grid ", path));
    }
  }
  if (std::remove(coupling_.SemaphoreFile.c_str()) != 0)
    ThrowFatal(*Log, kReadFailureExitCode,
               Concat("error deleting semaphore file ", coupling_.SemaphoreFile));
  return 0;
}

void defaultini::AccumulateExternalOutput() {
  const Grid &zone = *(*Registry)[1].Data;
  for (ExternalWriteGrid &row : coupling_.WriteGrids) {
    const CouplingWritecode kind = ClassifyCouplingWritecode(row.writecode);
    if (kind == CouplingWritecode::Sum || kind == CouplingWritecode::Mean)
      AddValidCells(*row.accumulation, *row.source, zone, NRows, NCols, NoData);
  }
  for (ExternalStatistic &row : coupling_.Statistics) {
    if (!Accumulates(ClassifyCouplingWritecode(row.writecode)))
      continue;
    const std::vector<double> &latest = row.record.columns->values;
    for (long k = 1; k <= ZoneColumnsOf(row.record); ++k)
      row.accumulator[static_cast<std::size_t>(k)] += latest[static_cast<std::size_t>(k)];
  }
  ++coupling_.StepsSinceExchange;
}

void defaultini::WriteExternalOutput(long day, long month, long year, int dayEnded, int monthEnded,
                                     int yearEnded) {
  const int steps = ++coupling_.StepsSinceExchange;
  const Grid &zone = *(*Registry)[1].Data;
  for (ExternalWriteGrid &row : coupling_.WriteGrids) {
    const CouplingWritecode kind = ClassifyCouplingWritecode(row.writecode);
    if (kind == CouplingWritecode::Plain) {
      WriteGrid(row.fileName, *row.source, WriteAsciiGrids, WriteDoubleGrids);
      continue;
    }
    Grid &sum = *row.accumulation;
    AddValidCells(sum, *row.source, zone, NRows, NCols, NoData);
    if (kind == CouplingWritecode::Mean)
      for (int r = 1; r <= NRows; ++r)
        for (int c = 1; c <= NCols; ++c)
          if (sum[r][c] != NoData)
            sum[r][c] /= steps;
    WriteGrid(row.fileName, sum, WriteAsciiGrids, WriteDoubleGrids);
    if (kind == CouplingWritecode::SumTotal) {
      // Never reset: the total of all exchanges of the run.
      for (const std::string &name :
           SumTotalEndOfPeriodNames(row.fileName, row.writecode, day, month, year, dayEnded != 0,
                                    monthEnded != 0, yearEnded != 0))
        WriteGrid(name, sum, WriteAsciiGrids, WriteDoubleGrids);
    } else {
      ResetValidCells(sum, zone, NRows, NCols, NoData);
    }
  }
  for (ExternalStatistic &row : coupling_.Statistics)
    WriteCouplingStatistic(row, steps);
  coupling_.StepsSinceExchange = 0;
}

void defaultini::WriteCouplingStatistic(ExternalStatistic &row, int steps) {
  const CouplingWritecode kind = ClassifyCouplingWritecode(row.writecode);
  std::ostringstream text;
  text << CouplingStatisticsHeader(row.record.title, zones_.Count);
  const std::vector<double> &latest = row.record.columns->values;
  const std::vector<std::uint64_t> &codes = row.record.columns->codes;
  for (long k = 1; k <= ZoneColumnsOf(row.record); ++k) {
    const auto slot = static_cast<std::size_t>(k);
    double &sum = row.accumulator[slot];
    text << codes[slot] << '\t';
    if (kind == CouplingWritecode::Plain) {
      text << latest[slot];
    } else {
      sum += latest[slot];
      text << (kind == CouplingWritecode::Mean ? sum / steps : sum);
      if (kind != CouplingWritecode::SumTotal)
        sum = 0.0;
    }
    text << '\n';
  }
  // The partner reads this file next: a failure must not leave it stale.
  const InterruptPause pause(InterruptPause::After::ProgramHandler, nullptr);
  std::FILE *file = std::fopen(row.fileName.c_str(), "w");
  if (file == nullptr)
    ThrowFatal(*Log, kCreateErrorExitCode,
               Concat("error creating ", row.fileName, " for writing in text mode."));
  const std::string content = text.str();
  const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  const bool closed = std::fclose(file) == 0;
  if (!written)
    ThrowFatal(*Log, kWriteErrorExitCode,
               Concat("write error ", row.fileName, " ! (", kWriteErrorExitCode, ")"));
  if (!closed)
    ThrowFatal(*Log, kCloseErrorExitCode, Concat("error closing ", row.fileName));
}

} // namespace tavro
