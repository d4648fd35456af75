// Special output: the optional section and the flush points.
#include "raster/special_output.h"

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "kernel/module_construction.h"

namespace tavro {

namespace {
// The section is optional: without it the base is given no zone table, so it
// reads nothing and the module stays off without a FATAL entry in the log of a
// successful run. A copy that does not open is left to the base (28).
ModuleSettings SettingsOf(int &error, const ModuleSettings &settings, int substepCount) {
  ModuleSettings named =
      BeginModuleConstruction(error, settings, SpecialOutputClass::FixedName, substepCount);
  if (named.Log == nullptr)
    return named;
  ControlFileReader reader(*named.Log, named.ModuleName);
  if (reader.Open(named.ControlFileName) &&
      !reader.FindControlKey("[" + named.ModuleName + "]", false)) {
    named.Log->Entry(Concat("INFO: no section [", named.ModuleName, "]: special output is off",
                            DiagnosticsLog::EndToken));
    named.ZoneIndex = nullptr;
  }
  return named;
}
} // namespace

SpecialOutputClass::SpecialOutputClass(int &error, const ModuleSettings &settings,
                                       int substepCount) try
    : teilmodellklasse(SettingsOf(error, settings, substepCount), /*sectionMandatory=*/false) {
  CloseModuleSection(*this);
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName, OtherFailureExitCode);
}

void SpecialOutputClass::SampleStep(long, long, long, long, bool, int) {}

void SpecialOutputClass::FlushFiles() {}

void SpecialOutputClass::ReleaseMemory() {
  fileCount_ = 0;
  teilmodellklasse::ReleaseMemory();
}

} // namespace tavro
