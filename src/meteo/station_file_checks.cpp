// Station count, station places and dates agree between station files.
#include "meteo/station_file_checks.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"

#include <mutex>

namespace tavro {

void CheckSameStations(DiagnosticsLog &log, const StationDataFile &first,
                       const StationDataFile &second) {
  const StationTable &a = first.Table();
  const StationTable &b = second.Table();
  const std::string &firstName = first.Path();
  const std::string &secondName = second.Path();
  if (a.Count != b.Count)
    ThrowFatal(log, StationFileAgreementExitCode,
               Concat("\n------- Error 73 in Interpolation input data ---------\n",
                      "meteorological station files ", secondName, " \nand ", firstName,
                      " contain a different number of stations \n(", b.Count, " and ", a.Count,
                      ", resp.)\n",
                      "these data has to be identical in both files for interpolation "
                      "method 6\n",
                      "------- Program terminated due to input data error ---------\n\n"));
  for (std::size_t i = 1; i <= static_cast<std::size_t>(a.Count); ++i) {
    if (a.Altitude[i] == b.Altitude[i] && a.X[i] == b.X[i] && a.Y[i] == b.Y[i])
      continue;
    ThrowFatal(log, StationFileAgreementExitCode,
               Concat("\n------- Error 73 in Interpolation input data ---------\n",
                      "Altitude and/or coordinates of station ", i,
                      " are different in\nmeteorological station files ", secondName,
                      "\nH: ", b.Altitude[i], ",\tX: ", b.X[i], "\tY: ", b.Y[i], "\nand\n",
                      firstName, "\nH: ", a.Altitude[i], ",\tX: ", a.X[i], "\tY: ", a.Y[i], "\n",
                      "These data has to be identical in both files for interpolation "
                      "method 6\n",
                      "------- Program terminated due to input data error ---------\n\n"));
  }
}

void CheckStationDates(DiagnosticsLog &log,
                       const std::vector<std::unique_ptr<StationDataFile>> &files,
                       const ModelDate &date) {
  for (const auto &file : files) {
    if (file->Date() == date)
      continue;
    std::lock_guard lock(log.Mutex());
    log.Entry(Concat("FATAL: error reading date from stationfiles:", DiagnosticsLog::EndToken));
    for (const auto &each : files) {
      const ModelDate &d = each->Date();
      log.Entry(Concat("file ", each->Path(), ": YYYY=", d.Year, ", MM=", d.Month, ", DD=", d.Day,
                       ", HH=", d.Hour, DiagnosticsLog::EndToken));
    }
    log.Entry(DiagnosticsLog::EndToken);
    throw StationFileAgreementExitCode;
  }
}

} // namespace tavro
