// The tracer set-up frame.
#include "kernel/tracer_set_up.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/memory_handling.h"

#include <exception>
#include <new>

namespace tavro {
namespace {

constexpr int kOtherFailureExitCode = 103;

} // namespace

void SetUpTracerRecords(memory_handling &module, int &error, int tracerCount,
                        const OneBasedArray<TracerInfo> *info, OneBasedArray<TracerRecord> &records,
                        const std::function<void()> &build) {
  DiagnosticsLog &log = *module.Log;
  try {
    if (info == nullptr || info->Count() < static_cast<std::size_t>(tracerCount))
      ThrowFatal(log, kOtherFailureExitCode,
                 Concat("tracer grids of module ", module.ModuleName,
                        ": the tracer description holds ", info == nullptr ? 0 : info->Count(),
                        " of ", tracerCount, " tracers"));
    records = OneBasedArray<TracerRecord>(static_cast<std::size_t>(tracerCount));
    build();
  } catch (int code) {
    error = code;
  } catch (const std::bad_alloc &) {
    try {
      module.memory_error(1);
    } catch (int code) {
      error = code;
    }
  } catch (const std::exception &failure) {
    log.Entry(Concat("FATAL: tracer grids of module ", module.ModuleName, ": ", failure.what(),
                     DiagnosticsLog::EndToken));
    error = kOtherFailureExitCode;
  }
}

} // namespace tavro
