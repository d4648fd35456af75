// The snow module's "[snow_model]" section of the state file and its lake
// switch.
#include "landsurface/snow_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/state_file.h"
#include "raster/parallel/collective_failure.h"

#include <mpi.h>

#include <array>
#include <utility>

namespace tavro {
namespace {

constexpr const char *kColdStart =
    "WARNING: glacier model will be run with cold start initialization values";

// The three reservoirs of a subbasin in the order of their lines, with the
// label that follows each value.
using ReservoirLine = std::pair<OneBasedArray<double> GlacierReservoirOutflows::*, const char *>;
constexpr std::array<ReservoirLine, 3> kReservoirLines{{
    {&GlacierReservoirOutflows::Ice, "(TG code and Qice_slr value)\n"},
    {&GlacierReservoirOutflows::Firn, "(TG code and Qfirn_slr value)\n"},
    {&GlacierReservoirOutflows::Snow, "(TG code and Qsnow_slr value)\n"},
}};

} // namespace

void schneemodellklasse::ReadStorage(const std::string &fileName, int readMode) {
  if (FlowControl == 0 || fileName.empty() || readMode == 2 || readMode == 4)
    return;
  // Written at the end of the run, also when nothing is read now.
  storageFileName_ = fileName;
  if (readMode == 0 || !reservoirs_.Present())
    return;
  const int failure = CaptureExitCode([&] {
    StateFileReader file(
        *this, fileName,
        [this](std::string_view description, double current, std::optional<double> stored) {
          ThrowStorageMismatch(description, current, stored);
        });
    if (!file.IsOpen()) {
      Log->Entry(Concat("WARNING: in snow/glacier model: error opening storage content file ",
                        file.Path(), DiagnosticsLog::EndToken));
      Log->Entry(Concat(kColdStart, DiagnosticsLog::EndToken));
      return;
    }
    if (!file.FindSection(StateSection)) {
      Log->Entry(Concat("WARNING: in snow/glacier model: [snow_model] not found in storage "
                        "content file ",
                        file.Path(), DiagnosticsLog::EndToken));
      Log->Entry(Concat(kColdStart, DiagnosticsLog::EndToken));
      return;
    }
    ReadStateSection(file);
  });
  ThrowIfAnyFailed(*Log, failure);
  ShareRankZeroReservoirs();
}

void schneemodellklasse::ReadStateSection(StateFileReader &file) {
  file.ExpectInteger(subbasinCount_, "number of subbasins");
  file.SkipLine();
  for (int i = 1; i <= subbasinCount_; ++i)
    for (const auto &[member, label] : kReservoirLines) {
      double &value = (reservoirs_.*member)[static_cast<std::size_t>(i)];
      file.ExpectInteger(i, "subbasin code");
      value = file.ReadReal(label, value);
      file.SkipLine();
    }
}

// Each process keeps a state file of its own; rank 0 computes the reservoirs,
// so its values count everywhere.
void schneemodellklasse::ShareRankZeroReservoirs() {
  if (MPIProcessCount < 2 || !reservoirs_.Present())
    return;
  for (const auto &[member, label] : kReservoirLines) {
    OneBasedArray<double> &values = reservoirs_.*member;
    MPI_Bcast(values.Data(), static_cast<int>(values.Count() + 1), MPI_DOUBLE, 0, MPI_COMM_WORLD);
  }
}

void schneemodellklasse::WriteStorage(bool append) {
  if (storageFileName_.empty())
    return;
  ShareRankZeroReservoirs();
  StateFileWriter file(*this, storageFileName_, append);
  file.Header(StateSection);
  file.Integer(subbasinCount_);
  file.Text(" (number of subasins)\n");
  for (int i = 1; i <= subbasinCount_; ++i)
    for (const auto &[member, label] : kReservoirLines) {
      file.Integer(i);
      file.Text("\t");
      // Without glaciers every reservoir is written empty.
      file.Real(reservoirs_.Present() ? (reservoirs_.*member)[static_cast<std::size_t>(i)] : 0.0);
      file.Text(label);
    }
  file.Text("\n");
  file.Close();
}

void schneemodellklasse::ThrowStorageMismatch(std::string_view description, double current,
                                              std::optional<double> stored) const {
  ThrowStateMismatch(*Log, "(snow model) ", description, current, stored);
}

void schneemodellklasse::CheckStorageValue(StateFileReader &file, double current,
                                           std::string_view description) {
  file.CheckReal(current, description);
}

void schneemodellklasse::ReadLakeParameters(std::string_view sectionName) {
  if (FlowControl == 0)
    return;
  if (FindGrid("lake_codes", false) == 0) {
    Log->Entry(Concat("INFO: no LAKE-grid was found in ", ModuleName, "\n",
                      "Lake modelling is switched off for ", ModuleName, ".",
                      DiagnosticsLog::EndToken));
    lakeFlag_ = 0;
    return;
  }
  if (!OpenControlFile())
    ThrowFatal(*Log, LakeFileExitCode, "error opening " + ControlFileName);
  FindControlKey(sectionName, true);
  ReadControlValue(lakeFlag_, "flow control parameter for ");
  if (SpinUpSwitch != 0) {
    lakeFlag_ = 0;
  } else if (lakeFlag_ != 0) {
    lakeCodes_ = Required("lake_codes");
    ponding_ = Optional("ponding_storage");
    if (ponding_ == nullptr)
      ponding_ = Optional("ponding_storage_top");
    if (ponding_ == nullptr)
      ThrowFatal(*Log, LakeFileExitCode,
                 Concat("\n\n=======================================\n", "!!!! ERROR !!!! \n\n",
                        "\nLAKE-grid was found, but no POND-Grid. For using lakes,",
                        "\nboth grids as well as the MAXPOND grid must be present.",
                        "\n\n=======================================\n"));
  }
  if (!CloseControlFile())
    ThrowFatal(*Log, LakeCloseExitCode,
               Concat("error closing ", ControlFileName, "after reading initialization method for ",
                      sectionName));
}

} // namespace tavro
