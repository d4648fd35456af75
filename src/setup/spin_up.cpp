// The set-up object's "[SpinUp]" section and the hydrologic response units
// of spin-up mode: rank 0 numbers the units over the whole raster, every
// process takes its strip of the unit grid and picks its own masters, and
// both grids are written per process and, gathered, by rank 0.
#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "raster/parallel/collective_failure.h"
#include "raster/parallel/strip_exchange.h"
#include "setup/defaultini.h"
#include "setup/hydrologic_response_units.h"

#include <mpi.h>

#include <cstdio>
#include <optional>

namespace tavro {
namespace {

constexpr int kOpenErrorExitCode = 28;
constexpr int kCloseErrorExitCode = 11;
constexpr int kNoUnitGridExitCode = 1030;
constexpr int kClassExitCode = 1031;
constexpr const char *kUnitIdentifier = "HydrologicResponseUnits";
constexpr const char *kMasterIdentifier = "MasterHydrologicResponseUnits";
constexpr const char *kUnitFileName = "All_HydrologicResponseUnits";
constexpr const char *kMasterFileFromGrids = "Master_HydrologicResponseUnits";
constexpr const char *kRowLabel = " error reading HRU defintions ";

std::string RankFileName(const std::string &name, int rank) {
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "_%03d", rank);
  return name + suffix;
}

// The unit list as rank 0 numbered it, on every process: the count and the
// keys (masters follow per process).
void BroadcastUnits(std::vector<HydrologicResponseUnit> &units) {
  long count = static_cast<long>(units.size());
  MPI_Bcast(&count, 1, MPI_LONG, 0, MPI_COMM_WORLD);
  std::string keys;
  for (const HydrologicResponseUnit &unit : units)
    keys += unit.key + '\n';
  long length = static_cast<long>(keys.size());
  MPI_Bcast(&length, 1, MPI_LONG, 0, MPI_COMM_WORLD);
  keys.resize(static_cast<std::size_t>(length));
  MPI_Bcast(keys.data(), static_cast<int>(length), MPI_CHAR, 0, MPI_COMM_WORLD);
  units.assign(static_cast<std::size_t>(count), HydrologicResponseUnit{});
  std::size_t at = 0;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const std::size_t end = keys.find('\n', at);
    units[i].number = static_cast<std::int64_t>(i);
    units[i].key = keys.substr(at, end - at);
    at = end + 1;
  }
}

} // namespace

void defaultini::InitSpinUp(int &spinUpSwitch, int &doTemperaturePreSpinUp, int &repeatCnt,
                            const std::vector<HydrologicResponseUnit> *&units) {
  Log->Entry(Concat("DEBUG: Creating HRUs", DiagnosticsLog::EndToken));
  hydrologicResponseUnits_.assign(1, HydrologicResponseUnit{});
  units = &hydrologicResponseUnits_;
  if (!OpenControlFile())
    ThrowFatal(*Log, kOpenErrorExitCode, Concat("Error opening ", ControlFileName));
  if (!FindControlKey("[SpinUp]", false)) {
    spinUpSwitch = 0;
    doTemperaturePreSpinUp = 0;
    repeatCnt = 0;
    CloseControlFileOrFail();
    return;
  }
  ReadControlValue(spinUpSwitch, "SpinUp-switch not found");
  if (spinUpSwitch == 0) {
    CloseControlFileOrFail();
    return;
  }
  ReadControlValue(doTemperaturePreSpinUp, "doTemperaturePreSpinUp not found");
  ReadControlValue(repeatCnt, "repeatCnt not found");
  int numGrids = 0;
  ReadControlValue(numGrids, "numGrids not found");
  if (numGrids < 0)
    ControlFileError("numGrids not found", ModuleName);

  std::vector<HruClassGrid> classGrids;
  for (int i = 0; i < numGrids; ++i)
    classGrids.push_back(ReadHruClassGrid());
  CloseControlFileOrFail();

  const bool given = numGrids == 0;
  if (given && FindGrid(kUnitIdentifier, false) == 0)
    ThrowFatal(*Log, kNoUnitGridExitCode,
               Concat("standard grid with identifier ", kUnitIdentifier,
                      " not found (Hydrologic Respond Units, HRU; used for SpinUp mode)"));
  RegisterUnitGrids(given);
  BuildUnits(classGrids, given);
  WriteUnitGrids();
}

HruClassGrid defaultini::ReadHruClassGrid() {
  ControlFileReader &reader = ControlFile();
  HruClassGrid row;
  row.identifier = reader.NextWord();
  const std::optional<double> width = ScanDouble(reader.Handle());
  const std::string spacing = reader.NextWord();
  // A class width of 0 or less would divide by zero: the row is unreadable.
  if (row.identifier.empty() || !width || spacing.empty() || !(*width > 0.0))
    ControlFileError(kRowLabel, ModuleName);
  ReadWholeLine(reader.Handle(), ControlFileReader::MaxLineLength); // the free label
  row.classWidth = *width;
  row.squareRoot = spacing.find("sqrt") != std::string::npos;
  const std::string bracketed = "[" + row.identifier + "]";
  const int index = GetGridIndexOf3(row.identifier, bracketed, bracketed);
  row.grid = (*Registry)[index].Data;
  return row;
}

int defaultini::FreeEntryForUnits(const char *what) {
  const int index = Registry->FirstFreeIndex();
  if (index == 0)
    ThrowFatal(*Log, GridRegistry::RegistryExitCode,
               Concat("when trying to create ", what,
                      " grid: no free grid found in memory (max position ",
                      GridRegistry::LastIndex + 1, ")"));
  return index;
}

void defaultini::RegisterUnitGrids(bool given) {
  const StripRows held = HeldRows();
  if (given) {
    unitGridIndex_ = FindGrid(kUnitIdentifier, false);
  } else {
    const int index = FreeEntryForUnits("HRU");
    AddGrid(index, kUnitFileName, &NewGrid(held.first, held.last), nullptr, 1, kUnitIdentifier, 0,
            held.first, held.last);
    unitGridIndex_ = index;
    spinUpGrids_.push_back(index);
  }
  const int master = FreeEntryForUnits("HRUMaster");
  const char *masterFile = given ? kMasterIdentifier : kMasterFileFromGrids;
  AddGrid(master, masterFile, &NewGrid(held.first, held.last), nullptr, 1, kMasterIdentifier, 0,
          held.first, held.last);
  masterGridIndex_ = master;
  spinUpGrids_.push_back(master);
}

void defaultini::BuildUnits(const std::vector<HruClassGrid> &classGrids, bool given) {
  Grid &unitGrid = *(*Registry)[unitGridIndex_].Data;
  const HruRaster raster{NRows, NCols, NoData, (*Registry)[1].Data, &rowRanges_};
  int failure = 0;
  if (MPIRank == 0) {
    failure = CaptureExitCode([&] {
      HruNumbering numbering = given ? NumberGivenUnits(raster, unitGrid)
                                     : NumberUnitsFromGrids(classGrids, raster, unitGrid);
      if (numbering.failure)
        ThrowFatal(*Log, kClassExitCode,
                   Concat("Creating HRUs resulted in a re-classify result of ",
                          numbering.failure->classNumber, " for grid ",
                          numbering.failure->identifier, " at row=", numbering.failure->row,
                          " and col=", numbering.failure->column,
                          ". Only 10'000 Classes are allowed for each grid. Choose a larger class "
                          "width or use lg2 spacing to reduce the amount of HRUs."));
      hydrologicResponseUnits_ = std::move(numbering.units);
    });
  }
  ThrowIfAnyFailed(*Log, failure);
  BroadcastUnits(hydrologicResponseUnits_);
  ScatterGrid(decomposition_, unitGrid, *Log);
  ExchangeHalo(decomposition_, unitGrid, *Log);
  const StripRows strip = decomposition_.strip;
  const HruStrip own{strip.first, strip.last, decomposed_ ? &decomposition_.regions : nullptr,
                     MPIRank};
  AssignMasterCells(hydrologicResponseUnits_, raster, own, unitGrid,
                    *(*Registry)[masterGridIndex_].Data);
}

void defaultini::WriteUnitGrids() {
  Grid &unitGrid = *(*Registry)[unitGridIndex_].Data;
  Grid &masterGrid = *(*Registry)[masterGridIndex_].Data;
  const std::string masterName = (*Registry)[masterGridIndex_].FileName;
  // A file that cannot be written stops every process before the gathers.
  ThrowIfAnyFailed(*Log, CaptureExitCode([&] {
    WriteGrid(RankFileName(kUnitFileName, MPIRank), unitGrid, WriteAsciiGrids, WriteDoubleGrids);
    WriteGrid(RankFileName(masterName, MPIRank), masterGrid, WriteAsciiGrids, WriteDoubleGrids);
  }));
  GatherGrid(decomposition_, unitGrid, *Log);
  GatherGrid(decomposition_, masterGrid, *Log);
  ThrowIfAnyFailed(*Log, CaptureExitCode([&] {
    if (MPIRank != 0)
      return;
    WriteGrid(kUnitFileName, unitGrid, WriteAsciiGrids, WriteDoubleGrids);
    WriteGrid(masterName, masterGrid, WriteAsciiGrids, WriteDoubleGrids);
  }));
}

} // namespace tavro
