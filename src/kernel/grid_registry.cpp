// Lookups, registration and release of the grid registry's entries.
#include "kernel/grid_registry.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"

#include <cassert>

namespace tavro {
namespace {

bool IsUsableIndex(int index) { return index >= 1 && index <= GridRegistry::LastIndex; }

// Allocates an aggregate grid with its name buffer when the digit asks for
// one; otherwise the grid and name of an earlier registration are dropped.
void PrepareAggregate(bool wanted, std::unique_ptr<Grid> &grid, std::string &name,
                      const std::string &fileName, long firstRow, long lastRow, long nCols,
                      long nRows, DiagnosticsLog &log) {
  if (!wanted) {
    grid.reset();
    name.clear();
    return;
  }
  grid = std::make_unique<Grid>(firstRow, lastRow, nCols, nRows, log);
  name = fileName;
}

} // namespace

WritecodeDigits DecodeWritecode(int writecode) {
  WritecodeDigits digits;
  digits.OutputKind = writecode % 10;
  digits.PeriodAggregate = (writecode % 100) / 10;
  const int hundreds = (writecode % 1000) / 100;
  digits.WriteMinimum = (hundreds == 1 || hundreds == 3) ? 1 : 0;
  digits.WriteMaximum = (hundreds == 2 || hundreds == 3) ? 1 : 0;
  digits.VegetationPeriod = (writecode % 10000) / 1000;
  return digits;
}

GridRegistry::GridRegistry() : entries_(EntryCount) {}

GridEntry &GridRegistry::operator[](int index) {
  assert(index >= 0 && index < EntryCount);
  return entries_[static_cast<std::size_t>(index)];
}

const GridEntry &GridRegistry::operator[](int index) const {
  assert(index >= 0 && index < EntryCount);
  return entries_[static_cast<std::size_t>(index)];
}

int GridRegistry::FindGrid(std::string_view identifier, bool acceptWithoutData) const {
  if (identifier.empty())
    return 0;
  if ((*this)[1].Identifier == identifier)
    return 1;
  for (int i = 2; i <= LastIndex; ++i) {
    const GridEntry &entry = (*this)[i];
    if (entry.IsFree() || (!acceptWithoutData && !entry.HasData()))
      continue;
    if (entry.Identifier == identifier)
      return i;
  }
  return 0;
}

int GridRegistry::Find(std::string_view identifier) const {
  if (identifier.empty())
    return 0;
  for (int i = 1; i <= LastIndex; ++i)
    if ((*this)[i].Identifier == identifier)
      return i;
  return 0;
}

int GridRegistry::FirstFreeIndex() const {
  for (int i = 1; i <= LastIndex; ++i)
    if ((*this)[i].IsFree())
      return i;
  return 0;
}

void GridRegistry::ThrowNotFound(DiagnosticsLog &log, const std::string &entry) const {
  ThrowFatal(log, NotFoundExitCode, entry);
}

int GridRegistry::GetGridIndex(std::string_view identifier, DiagnosticsLog &log,
                               std::string_view callerName) const {
  if (const int index = Find(identifier); index > 0)
    return index;
  ThrowNotFound(log,
                Concat("\n---------------- !!! ERROR !!!  --------------------------\n", identifier,
                       " not found in memory,\nThese data are needed within ", callerName,
                       " \nif they are interpolated data, please specify an interpolator for\n",
                       identifier,
                       " in the control file or read it in as a standardfile,\n"
                       "-----------------------------------------------------------\n"));
}

namespace {

// "a, b or c" / "a, b, c or d" as the alternatives are listed in messages.
template <std::size_t N> std::string Alternatives(const std::array<std::string_view, N> &names) {
  std::string list;
  for (std::size_t i = 0; i < N; ++i) {
    if (i > 0)
      list += (i + 1 == N) ? " or " : ", ";
    list += names[i];
  }
  return list;
}

template <std::size_t N>
std::string NoneFoundEntry(const std::array<std::string_view, N> &names,
                           std::string_view callerName) {
  const std::string list = Alternatives(names);
  return Concat(
      "\n---------------- !!! ERROR !!!  ------------------------------------\n", "Wether ", list,
      " \nwhere found in memory,\n", "One of these data sets has to be present within ", callerName,
      " \n", "If the data are to be interpolated, please specify an interpolatior for\n", list,
      " in the control file,\n", "or read it as a standard grid \n", std::string(71, '-'), "\n");
}

} // namespace

int GridRegistry::GetGridIndexOf3(std::string_view a, std::string_view b, std::string_view c,
                                  DiagnosticsLog &log, std::string_view callerName) const {
  const std::array<std::string_view, 3> names{a, b, c};
  for (const auto name : names)
    if (const int index = Find(name); index > 0)
      return index;
  ThrowNotFound(log, NoneFoundEntry(names, callerName));
}

int GridRegistry::GetGridIndexOf4(std::string_view a, std::string_view b, std::string_view c,
                                  std::string_view d, DiagnosticsLog &log,
                                  std::string_view callerName) const {
  const std::array<std::string_view, 4> names{a, b, c, d};
  for (const auto name : names)
    if (const int index = Find(name); index > 0)
      return index;
  ThrowNotFound(log, NoneFoundEntry(names, callerName));
}

void GridRegistry::AddGrid(int index, const std::string &fileName, Grid *data, Stack *stack,
                           int levels, const std::string &identifier, int writecode, long firstRow,
                           long lastRow, long nCols, long nRows, DiagnosticsLog &log) {
  if (index >= LastIndex + 1)
    ThrowFatal(log, RegistryExitCode, Concat("no free grid in memory,(max. ", LastIndex + 1, ")!"));
  if (!IsUsableIndex(index))
    ThrowFatal(log, RegistryExitCode,
               Concat("grid registry index ", index, " for ", identifier, " outside 1 to ",
                      LastIndex, "!"));
  // An entry without identifier is free, so a nameless grid could never be
  // found again and would be overwritten by the next registration.
  if (identifier.empty())
    ThrowFatal(log, RegistryExitCode,
               Concat("grid registered at index ", index, " without identifier (file name ",
                      fileName, ")"));
  if (identifier.size() > MaxIdentifierLength)
    ThrowFatal(log, RegistryExitCode,
               Concat("grid identifier longer than ", MaxIdentifierLength,
                      " characters: ", identifier.substr(0, 80), "..."));
  if (fileName.size() > MaxFileNameLength)
    ThrowFatal(log, RegistryExitCode,
               Concat("file name of grid ", identifier, " longer than ", MaxFileNameLength,
                      " characters: ", fileName.substr(0, 80), "..."));
  if (writecode < 0)
    ThrowFatal(log, RegistryExitCode,
               Concat("negative writecode ", writecode, " for grid ", identifier));

  GridEntry &entry = (*this)[index];
  entry.FileName = fileName.empty() ? identifier : fileName;
  // An output name of our own follows the file name; one given by the grid's
  // definition is kept.
  if (entry.outname.empty() || entry.OwnsOutname == 1) {
    entry.outname = entry.FileName;
    entry.OwnsOutname = 1;
  }
  entry.Identifier = identifier;
  entry.Data = data;
  entry.StackData = stack;
  entry.Levels = levels;
  entry.FirstRow = firstRow;
  entry.LastRow = lastRow;
  entry.AggregateCount = 0.0;
  entry.MinMaxStarted = 0;
  entry.VegetationPeriodEnded = 0;
  entry.VegetationPeriodBegins = 0;
  entry.StampCount = 0;
  entry.StampDate = ModelDate{};

  const WritecodeDigits digits = DecodeWritecode(writecode);
  entry.OutputKind = digits.OutputKind;
  entry.PeriodAggregate = digits.PeriodAggregate;
  entry.WriteMinimum = digits.WriteMinimum;
  entry.WriteMaximum = digits.WriteMaximum;
  entry.VegetationPeriod = digits.VegetationPeriod;

  PrepareAggregate(entry.PeriodAggregate != 0, entry.Aggregate, entry.AggregateFileName,
                   entry.FileName, firstRow, lastRow, nCols, nRows, log);
  PrepareAggregate(entry.WriteMinimum != 0, entry.Minimum, entry.MinimumFileName, entry.FileName,
                   firstRow, lastRow, nCols, nRows, log);
  PrepareAggregate(entry.WriteMaximum != 0, entry.Maximum, entry.MaximumFileName, entry.FileName,
                   firstRow, lastRow, nCols, nRows, log);
  PrepareAggregate(entry.VegetationPeriod != 0, entry.VegetationPeriodGrid,
                   entry.VegetationPeriodFileName, entry.FileName, firstRow, lastRow, nCols, nRows,
                   log);
}

void GridRegistry::ReleaseGrid(int index) {
  if (!IsUsableIndex(index))
    return;
  (*this)[index] = GridEntry{};
}

} // namespace tavro
