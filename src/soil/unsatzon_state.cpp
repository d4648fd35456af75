// Soil-water module: its "[unsatzon_model]" section of the state file. The
// restated parameters guard against continuing with another configuration;
// the flow-time zones (runoff in transit) and the storage outflows are
// written with round-trip digits, so a continued run resumes exactly where
// the previous one stopped.
#include "soil/unsatzon_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/state_file.h"

#include <array>
#include <cstdio>
#include <optional>

namespace tavro {
namespace {

template <class... Values> std::string Format(const char *format, Values... values) {
  std::array<char, 128> text{};
  std::snprintf(text.data(), text.size(), format, values...);
  return text.data();
}

struct ParameterLine {
  OneBasedArray<double> SubbasinParameters::*values;
  const char *label;       // written after the values
  const char *description; // named in a mismatch
};

constexpr std::array<ParameterLine, 6> kParameterLines{{
    {&SubbasinParameters::kelsqd, "(kelsqd in min)\n", "m"},
    {&SubbasinParameters::kelsqi, "(kelsqi in min)\n", "kelsqi"},
    {&SubbasinParameters::DrainageDensity, "(drainage density)\n", "flussdichte"},
    {&SubbasinParameters::InvKelsqlat,
     "(inverse recession constant for baseflow [needed when using no groundwater model])\n",
     "kelsqlat"},
    {&SubbasinParameters::MaxBaseflow, "(max. baseflow [needed when using no groundwater model])\n",
     "Q0"},
    {&SubbasinParameters::SnowRunoff_fraction, "(surface runoff fraction of snowmelt)\n",
     "SR_Anteil"},
}};

void WriteZone(StateFileWriter &file, const ZoneRecord &zone, const char *label) {
  for (const double value : {zone.n, zone.sx, zone.zonenwert, zone.rel, zone.RelCellSum}) {
    file.Real(value);
    file.Text(" ");
  }
  file.Text(label);
}

} // namespace

void unsatzonmodellklasse::WriteStorage(const std::string &fileName, bool append) {
  const int n = ZoneCount;
  const SubbasinParameters &p = Config.Subbasins;
  StateFileWriter file(*this, fileName, append);
  file.Header(StateSection);
  file.Text(Format("%d (number of subasins)\n", n));
  for (int k = 1; k <= n; ++k)
    file.Text(Format("%.0f\t", subbasinTable_[static_cast<std::size_t>(k)].zonenwert));
  file.Text("(code)\n");
  for (const ParameterLine &line : kParameterLines) {
    for (int k = 1; k <= n; ++k)
      file.Text(Format("%g ", (p.*line.values)[static_cast<std::size_t>(k)]));
    file.Text(line.label);
  }
  file.Text(Format("%d (number of tracers)\n", TracerCount));
  for (int row = 0; row <= TracerCount && row < ZonesQD.RowCount(); ++row) {
    file.Text(Format("%d (0=runoff, 1...9 = tracers)\n", row));
    for (int k = 1; k <= n; ++k) {
      const int last = MaxZone[static_cast<std::size_t>(k)];
      file.Text(Format("%d %d (zone %d and maxzeit)\n", k, last, k));
      for (int z = 1; z <= last; ++z) {
        WriteZone(file, ZonesQD.At(row, k, z), "(zoneFZT_QD.n/.sx/.zonenwert/.rel/.RelCellSum)\n");
        WriteZone(file, ZonesQI.At(row, k, z), "(zoneFZT_QI.n/.sx/.zonenwert/.rel/.RelCellSum)\n");
      }
      const auto at = static_cast<std::size_t>(k);
      file.Real(QDd.Components[static_cast<std::size_t>(row)][at]);
      file.Text(Format(" (QDd[%d][%d])\n", row, k));
      file.Real(QIi.Components[static_cast<std::size_t>(row)][at]);
      file.Text(Format(" (QIi[%d][%d])\n", row, k));
    }
  }
  file.Text("\n");
  file.Close();
}

void unsatzonmodellklasse::CheckStorageValue(StateFileReader &file, double value,
                                             std::string_view text) {
  file.CheckReal(value, text);
}

void unsatzonmodellklasse::ReadStorage() {
  const int n = ZoneCount;
  SubbasinParameters &p = Config.Subbasins;
  StateFileReader file(
      *this, StorageFileName,
      [this](std::string_view description, double current, std::optional<double> stored) {
        ThrowStateMismatch(*Log, "", description, current, stored);
      });
  if (!file.IsOpen())
    ThrowFatal(*Log, StateOpenExitCode, "error opening storage content file " + file.Path());
  if (!file.FindSection(StateSection))
    ThrowFatal(*Log, StorageMismatchExitCode,
               "error locking for the section [unsatzon_model] in " + file.Path());
  file.ExpectInteger(n, "number of subbasins");
  file.SkipLine();
  for (int k = 1; k <= n; ++k)
    file.ExpectInteger(static_cast<int>(subbasinTable_[static_cast<std::size_t>(k)].zonenwert),
                       "subbasin code");
  file.SkipLine();
  for (const ParameterLine &line : kParameterLines) {
    for (int k = 1; k <= n; ++k)
      CheckStorageValue(file, (p.*line.values)[static_cast<std::size_t>(k)], line.description);
    file.SkipLine();
  }
  file.ExpectInteger(TracerCount, "number of tracers");
  file.SkipLine();
  auto readZone = [&](ZoneRecord &zone, const char *description) {
    std::array<double, 5> fields{};
    int count = 0;
    for (double &field : fields) {
      const std::optional<double> value = file.TryReadReal();
      if (!value)
        break;
      field = *value;
      ++count;
    }
    if (count < 5)
      ThrowStorageMismatch(description, 5.0, count);
    zone = ZoneRecord{fields[0], fields[1], fields[2], fields[3], fields[4]};
    file.SkipLine();
  };
  for (int row = 0; row <= TracerCount; ++row) {
    file.ExpectInteger(row, "actual tracers(0=runoff)");
    file.SkipLine();
    for (int k = 1; k <= n; ++k) {
      const auto at = static_cast<std::size_t>(k);
      file.ExpectInteger(k, "actual zone");
      file.ExpectInteger(MaxZone[at], "maxzeit of actual subbasin");
      file.SkipLine();
      for (int z = 1; z <= MaxZone[at]; ++z) {
        readZone(ZonesQD.At(row, k, z), "number of fields for zonal statistics QD");
        readZone(ZonesQI.At(row, k, z), "number of fields for zonal statistics QI");
      }
      double &qdd = QDd.Components[static_cast<std::size_t>(row)][at];
      qdd = file.ReadReal("QDd", qdd);
      file.SkipLine();
      double &qii = QIi.Components[static_cast<std::size_t>(row)][at];
      qii = file.ReadReal("QIi", qii);
      file.SkipLine();
    }
  }
  // The delay line lives on rank 0 alone, whatever another process's file holds.
  if (MPIRank != 0) {
    ZonesQD.ClearSums();
    ZonesQI.ClearSums();
  }
}

} // namespace tavro
