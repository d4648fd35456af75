// Tracer description: the number of tracers of "[substance_transport]".
#include "setup/tracer_ini_class.h"

#include "kernel/fatal_error.h"
#include "kernel/module_construction.h"

namespace tavro {

tracer_ini_class::tracer_ini_class(int &error, const ModuleSettings &settings) try
    : modelobject(LogOf(error, settings), FixedName, settings.ControlFileName,
                  OptionsOf(settings)) {
  if (!OpenControlFile())
    ThrowFatal(*Log, 28, "error opening " + ControlFileName);
  FindControlKey(SectionKey, true);
  int count = 0;
  ReadControlValue(count, " number of tracers in ");
  if (count > MaxTracers)
    ThrowFatal(*Log, TooManyTracersExitCode,
               "not more than 9 tracer species are allowed at one time (they need a very lot of "
               "memory!)");
  if (count > 0)
    // The tracer lines and every module's tracer grids come with substance
    // transport; a run must not go on as if they existed.
    ThrowFatal(*Log, OtherConstructionFailure,
               Concat("substance transport of ", count,
                      " tracers is not available in this build; set the number of tracers in ",
                      SectionKey, " to 0"));
  CloseModuleSection(*this);
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

void tracer_ini_class::ReleaseMemory() {
  table_.Clear();
  tracerCount_ = 0;
  modelobject::ReleaseMemory();
}

} // namespace tavro
