// Surface routing: the section "[SurfaceRoutingModel]" of the state file,
// which carries the flow-time zones and the two linear storages from one run
// to the next. Each process writes and reads the file of its own rank, so a
// restart needs the same process count and decomposition. The overland flow
// of every cell goes beside it in whole-raster files (surface_routing_flow_state.cpp).
#include "lateral/surface_routing.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/state_file.h"
#include "kernel/string_helpers.h"

#include <optional>

namespace tavro {
namespace {

constexpr const char *kNoZonesSentence =
    ". This means that the actual model run will not initialize the flow travel time zones for "
    "direct runoff and interflow, as it was before version 9.08.06.";

} // namespace

void surfaceroutingclass::WriteStorage(const std::string &fileName, bool append) {
  StateFileWriter file(*this, fileName, append);
  file.Header(StateSection);
  const int n = std::max(ZoneCount, 0);
  file.Text(Concat(n, " (number of subasins)\n"));
  file.Text(Concat(TracerCount, " (number of tracers)\n"));
  const bool zones = ZonesQD.RowCount() > 0;
  for (int r = 0; r <= TracerCount; ++r) {
    file.Text(Concat(r, " (0=runoff, 1...9 = tracers)\n"));
    for (int k = 1; k <= n && zones; ++k) {
      const int maxZone = MaxZone[static_cast<std::size_t>(k)];
      file.Text(Concat(k, " ", maxZone, " (zone ", k, " and maxzeit)\n"));
      for (int z = 1; z <= maxZone; ++z) {
        for (FlowTimeZones *component : {&ZonesQD, &ZonesQI}) {
          const ZoneRecord &record = component->At(r, k, z);
          for (double v : {record.n, record.sx, record.zonenwert, record.rel, record.RelCellSum}) {
            file.Real(v);
            file.Text(" ");
          }
          file.Text(component == &ZonesQD ? "(zoneFZT_QD.n/.sx/.zonenwert/.rel/.RelCellSum)\n"
                                          : "(zoneFZT_QI.n/.sx/.zonenwert/.rel/.RelCellSum)\n");
        }
      }
      const auto at = static_cast<std::size_t>(k);
      const auto row = static_cast<std::size_t>(r);
      file.Real(QDd.Components[row][at]);
      file.Text(Concat(" (QDd[", r, "][", k, "])\n"));
      file.Real(QIi.Components[row][at]);
      file.Text(Concat(" (QIi[", r, "][", k, "])\n"));
    }
  }
  file.Text("\n");
  file.Close();
}

void surfaceroutingclass::ReadStorage() {
  StateFileReader file(
      *this, StorageFileName,
      [this](std::string_view description, double current, std::optional<double> stored) {
        ThrowStateMismatch(*Log, "", description, current, stored);
      });
  if (!file.IsOpen()) {
    Log->Entry(Concat("WARNING: error opening storage content file ", file.Path(), kNoZonesSentence,
                      DiagnosticsLog::EndToken));
    return;
  }
  if (!file.FindSection(StateSection)) {
    // The reader closes the file when it goes out of scope.
    Log->Entry(Concat("WARNING: error locking for the section [", FixedName, "] in ", file.Path(),
                      kNoZonesSentence, DiagnosticsLog::EndToken));
    return;
  }
  const int n = std::max(ZoneCount, 0);
  file.ExpectInteger(n, "number of subbasins");
  file.SkipLine();
  file.ExpectInteger(TracerCount, "number of tracers");
  file.SkipLine();
  for (int r = 0; r <= TracerCount; ++r) {
    file.ExpectInteger(r, "actual tracers(0=runoff)");
    file.SkipLine();
    for (int k = 1; k <= n; ++k) {
      const int maxZone = MaxZone[static_cast<std::size_t>(k)];
      file.ExpectInteger(k, "actual zone");
      file.ExpectInteger(maxZone, "maxzeit of actual subbasin");
      file.SkipLine();
      for (int z = 1; z <= maxZone; ++z) {
        for (FlowTimeZones *component : {&ZonesQD, &ZonesQI}) {
          std::array<double, 5> v{};
          int count = 0;
          for (double &value : v) {
            const std::optional<double> read = file.TryReadReal();
            if (!read)
              break;
            value = *read;
            ++count;
          }
          if (count != 5)
            ThrowStateMismatch(*Log, "",
                               component == &ZonesQD ? "number of fields for zonal statistics QD"
                                                     : "number of fields for zonal statistics QI",
                               5.0, static_cast<double>(count));
          file.SkipLine();
          ZoneRecord &record = component->At(r, k, z);
          record.n = v[0];
          record.sx = v[1];
          record.zonenwert = v[2];
          record.rel = v[3];
          record.RelCellSum = v[4];
        }
      }
      const auto at = static_cast<std::size_t>(k);
      const auto row = static_cast<std::size_t>(r);
      QDd.Components[row][at] = file.ReadReal("QDd", QDd.Components[row][at]);
      file.SkipLine();
      QIi.Components[row][at] = file.ReadReal("QIi", QIi.Components[row][at]);
      file.SkipLine();
    }
  }
}

} // namespace tavro
