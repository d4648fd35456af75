// Cost of preparing log text for the XML file (every entry passes through it).
#include <benchmark/benchmark.h>

#include <string>

#include "kernel/diagnostics_log.h"

static void BM_EscapeForXml(benchmark::State &state) {
  const std::string text = "INFO: reading grid <dem.asc> & checking 'header' ----- value \"5\"\n";
  for (auto _ : state)
    benchmark::DoNotOptimize(tavro::DiagnosticsLog::EscapeForXml(text));
}
BENCHMARK(BM_EscapeForXml);
