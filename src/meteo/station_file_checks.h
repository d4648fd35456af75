// Agreement between the station files of one variable (two files for the
// methods that combine residuals and gradients): the same stations at the
// same places, and the same date after every advance. Disagreement is fatal
// with exit code 73 and the entries that name both files.
#pragma once

#include "kernel/model_date.h"
#include "meteo/station_file.h"

#include <memory>
#include <string>
#include <vector>

namespace tavro {

class DiagnosticsLog;

inline constexpr int StationFileAgreementExitCode = 73;

// The second file's header must equal the first one's: station count, then
// altitude, x and y of every station (exactly).
void CheckSameStations(DiagnosticsLog &log, const StationDataFile &first,
                       const StationDataFile &second);

// Every file's current date must equal date; otherwise logs "FATAL: error
// reading date from stationfiles:" and one entry per file, and throws 73.
void CheckStationDates(DiagnosticsLog &log,
                       const std::vector<std::unique_ptr<StationDataFile>> &files,
                       const ModelDate &date);

} // namespace tavro
