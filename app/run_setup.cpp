// The real set-up object behind the application's set-up interface.
#include "run_setup.h"

namespace tavro {

DefaultiniSetup::DefaultiniSetup(int &error, DiagnosticsLog &log,
                                 const std::string &controlFileName, StatisticsRegistry *statistics,
                                 int capacity, int soilModelVariant, GridRegistry *registry)
    : setup_(error, log, controlFileName, statistics, capacity, soilModelVariant, registry) {}

SpinUpSettings DefaultiniSetup::InitSpinUp() {
  SpinUpSettings settings;
  setup_.InitSpinUp(settings.SpinUpSwitch, settings.doTemperaturePreSpinUp, settings.RepeatCount,
                    settings.HydrologicResponseUnits);
  return settings;
}

} // namespace tavro
