// Tracer description: the number of tracers of "[substance_transport]" and
// one line per tracer.
#include "setup/tracer_ini_class.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/module_construction.h"
#include "setup/tracer_line.h"

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
  OneBasedArray<TracerInfo> table;
  if (count > 0)
    table = ReadTracerLines(count);
  CloseModuleSection(*this);
  tracerCount_ = count > 0 ? count : 0;
  table_ = std::move(table);
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

OneBasedArray<TracerInfo> tracer_ini_class::ReadTracerLines(int count) {
  OneBasedArray<TracerInfo> table(static_cast<std::size_t>(count));
  for (int i = 1; i <= count; ++i) {
    Log->Entry(Concat("reading parameters for tracer ", i, " ...", DiagnosticsLog::EndToken));
    const WholeLine line = ReadWholeLine(ControlFile().Handle(), MaxLineLength);
    if (line.tooLong)
      ThrowFatal(*Log, kTracerLineExitCode,
                 Concat("error reading parameters for tracer ", i, ": line longer than ",
                        MaxLineLength, " characters"));
    auto parsed = ParseTracerLine(
        line.text, i, count,
        std::span<const TracerInfo>(table.Data() + 1, static_cast<std::size_t>(i - 1)));
    if (const auto *failure = std::get_if<TracerLineFailure>(&parsed))
      ThrowFatal(*Log, failure->code, failure->text);
    table[static_cast<std::size_t>(i)] = std::get<TracerInfo>(std::move(parsed));
    Log->Entry(Concat("done.", DiagnosticsLog::EndToken));
  }
  return table;
}

void tracer_ini_class::ReleaseMemory() {
  table_.Clear();
  tracerCount_ = 0;
  modelobject::ReleaseMemory();
}

} // namespace tavro
