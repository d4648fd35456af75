// Routing steps per second of one routing subbasin with three long river
// channels (several sub-channels, delays of tens of sub-intervals) and two
// tracers: the table lookups, chain moves and linear storages of a step.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "kernel/diagnostics_log.h"
#include "kernel/module_settings.h"
#include "routing/routing_subbasin.h"

namespace {

void BM_RouteSubbasin(benchmark::State &state) {
  tavro::DiagnosticsLog log("routing_bench.xml", 0);
  const int subbasins = 4;
  tavro::OneBasedArray<int> codeIndex(static_cast<std::size_t>(subbasins), 0);
  tavro::DischargeRelations abfrel;
  abfrel.RelativeArea = tavro::OneBasedArray<double>(static_cast<std::size_t>(subbasins), 0.25);
  abfrel.RelativeArea[0] = 400.0;
  abfrel.AreaFactor = tavro::OneBasedArray<double>(static_cast<std::size_t>(subbasins), 1.0);
  for (int code = 1; code <= subbasins; ++code)
    codeIndex[static_cast<std::size_t>(code)] = code;

  tavro::ModuleSettings settings;
  settings.Log = &log;
  tavro::RoutingSubbasinSetup setup;
  setup.TgCode = 4;
  setup.TgArea = 400.0;
  setup.Counts.OL = 3;
  setup.SubbasinCount = subbasins;
  setup.TimeStep = 60.0;
  setup.SubIntervals = 4;
  setup.Abfrel = &abfrel;
  setup.Codes = tavro::SubbasinCodes{&codeIndex, subbasins, subbasins};
  setup.TracerCount = 2;
  setup.HalfLives = {0.0, 30.0, -9999.0};
  int error = 0;
  tavro::routingclass subbasin(error, settings, setup);
  for (int i = 1; i <= 3; ++i)
    subbasin.SetChannel(i, i, {}, 4, 0, {4, 12, 20, 200, 2, 30, 15, 0.0005, 40000.0 * i, 100}, 1,
                        2000, 50);
  subbasin.CheckAreas();

  tavro::RoutingFlowArrays flows;
  flows.Resize(2, subbasins, 0, 0, 4);
  for (int i = 1; i <= subbasins; ++i)
    for (int k = 0; k <= 2; ++k)
      flows.RoutingInput[k][i] = 1.0 + i + k;
  subbasin.SetInputArrays(&flows);
  subbasin.InitChannelStorages();

  long step = 0;
  for (auto _ : state) {
    // A slow wave, so that the table rows and delays keep changing.
    const double runoff = 2.0 + 1.5 * std::sin(0.05 * static_cast<double>(step++));
    for (int s = 1; s <= 4; ++s)
      for (int i = 1; i <= subbasins; ++i)
        flows.SubIntervalInput.Row(0, s)[i] = runoff * i;
    subbasin.Route(2012, 1, 1, 0);
    benchmark::DoNotOptimize(flows.RoutingInput[0][4]);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["storage elements"] = subbasin.GetMaxStorageElements(0);
}
BENCHMARK(BM_RouteSubbasin);

} // namespace
