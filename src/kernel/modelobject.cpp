// Construction, control-file access, dates, the rank log and the registry
// forwarding of the model-object base.
#include "kernel/modelobject.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"

#include <mpi.h>

#include <array>
#include <cstdio>
#include <ctime>

namespace tavro {

modelobject::modelobject(DiagnosticsLog &log, std::string moduleName, std::string controlFileName,
                         const ModelObjectOptions &options)
    : memory_handling(log, std::move(moduleName)), ControlFileName(std::move(controlFileName)),
      WriteAsciiGrids(options.WriteAsciiGrids), WriteDoubleGrids(options.WriteDoubleGrids),
      DefaultOutputDirectory(options.DefaultOutputDirectory),
      InitialStateDirectory(options.InitialStateDirectory), Halo(options.Halo),
      controlFile_(log, ModuleName) {
  if (ControlFileName.size() > MaxControlFileNameLength)
    ThrowFatal(log, 17,
               Concat("control-file name of ", ModuleName, " longer than ",
                      MaxControlFileNameLength, " characters: ", ControlFileName.substr(0, 80),
                      "..."));
  MPI_Comm_rank(MPI_COMM_WORLD, &MPIRank);
  MPI_Comm_size(MPI_COMM_WORLD, &MPIProcessCount);
}

modelobject::~modelobject() = default;

bool modelobject::OpenControlFile() { return controlFile_.Open(ControlFileName); }

bool modelobject::CloseControlFile() { return controlFile_.Close(); }

int modelobject::ReadControlValue(int &target, std::string_view label) {
  target = controlFile_.ReadInt(label);
  return 1;
}

int modelobject::ReadControlValue(long &target, std::string_view label) {
  target = controlFile_.ReadLong(label);
  return 1;
}

int modelobject::ReadControlValue(double &target, std::string_view label) {
  target = controlFile_.ReadDouble(label);
  return 1;
}

int modelobject::ReadControlValue(std::string &target, std::string_view label) {
  target = controlFile_.ReadWord(label);
  return 1;
}

int modelobject::ReadControlValues2(std::string &word, int &value, std::string_view label) {
  std::tie(word, value) = controlFile_.ReadWordAndInt(label);
  return 2;
}

int modelobject::ReadControlValues2(int &first, int &second, std::string_view label) {
  std::tie(first, second) = controlFile_.ReadTwoInts(label);
  return 2;
}

void modelobject::SetActualDate(long year, long month, long day, long hour) {
  EndYear = year;
  EndMonth = month;
  EndDay = day;
  EndHour = hour;
  EndDateCode = DateCode(year, month, day, hour);
}

double modelobject::LinearInterpolate(double x1, double y1, double x2, double y2, double x) {
  if (x1 == x2)
    return y1;
  return y1 * (x2 - x) / (x2 - x1) + y2 * (x - x1) / (x2 - x1);
}

void modelobject::WriteRankLog(std::string_view text) const {
  if (MPIRank != 0)
    return;
  std::array<char, 32> name{};
  std::snprintf(name.data(), name.size(), "modell_%d.log", MPIRank);
  std::FILE *file = std::fopen(name.data(), "a");
  if (file == nullptr)
    return;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  // The 24-character calendar form with its line break, as ctime writes it.
  std::array<char, 64> stamp{};
  if (asctime_r(&local, stamp.data()) == nullptr)
    stamp[0] = '\0';
  std::fputs(stamp.data(), file);
  std::fputs(": ", file);
  std::fwrite(text.data(), 1, text.size(), file);
  std::fputc('\n', file);
  std::fflush(file);
  std::fclose(file);
}

void modelobject::ReleaseMemory() {
  if (released_)
    return;
  released_ = true;
  Log->Entry(Concat("DEBUG: deleting module ", ModuleName, DiagnosticsLog::EndToken));
  controlFile_.Close();
  ModuleName.clear();
  ControlFileName.clear();
}

GridRegistry &modelobject::LinkedRegistry() const {
  if (Registry == nullptr)
    ThrowFatal(*Log, GridRegistry::RegistryExitCode,
               Concat("no grid registry linked to ", ModuleName));
  return *Registry;
}

int modelobject::FindGrid(std::string_view identifier, bool acceptWithoutData) const {
  return LinkedRegistry().FindGrid(identifier, acceptWithoutData);
}

int modelobject::GetGridIndex(std::string_view identifier) const {
  return LinkedRegistry().GetGridIndex(identifier, *Log, ModuleName);
}

int modelobject::GetGridIndexOf3(std::string_view a, std::string_view b, std::string_view c) const {
  return LinkedRegistry().GetGridIndexOf3(a, b, c, *Log, ModuleName);
}

int modelobject::GetGridIndexOf4(std::string_view a, std::string_view b, std::string_view c,
                                 std::string_view d) const {
  return LinkedRegistry().GetGridIndexOf4(a, b, c, d, *Log, ModuleName);
}

void modelobject::AddGrid(int index, const std::string &fileName, Grid *data, Stack *stack,
                          int levels, const std::string &identifier, int writecode, long firstRow,
                          long lastRow) {
  GridRegistry &registry = LinkedRegistry();
  registry.AddGrid(index, fileName, data, stack, levels, identifier, writecode, firstRow, lastRow,
                   NCols, NRows, *Log);
  if (registry[index].OutputKind == 8 && registry.ImmediateOutput)
    registry.ImmediateOutput(*this, index);
}

void modelobject::ReleaseGrid(int index) { LinkedRegistry().ReleaseGrid(index); }

long modelobject::HeldFirstRow() const {
  if (MPIRank == 0)
    return 1;
  return FirstRow > 1 ? FirstRow - 1 : FirstRow;
}

long modelobject::HeldLastRow() const {
  if (MPIRank == 0)
    return NRows;
  return LastRow < NRows ? LastRow + 1 : LastRow;
}

} // namespace tavro
