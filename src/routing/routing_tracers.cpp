// Tracers of the routing: per tracer the concentration table of the routed
// water of every subbasin, and the decay of a radioactive tracer over one
// routing step and over one of its sub-intervals. The routing keeps both
// factors itself: the tracer description is shared by every module, and a
// factor written there would be the last writer's, not the routing's.
#include "routing/routing_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/tracer_concentration.h"
#include "kernel/tracer_info.h"
#include "kernel/tracer_set_up.h"
#include "raster/output/module_statistic.h"
#include "raster/output/zonal_statistic.h"

#include <cmath>

namespace tavro {
namespace {

// Fraction left after minutes for a radioactive tracer; none for a half-life
// of 0 or less, as the routing defines it.
double RoutingDecay(double minutes, double halfTimeDays) {
  return halfTimeDays > 0.0 ? TracerDecayFactor(minutes, halfTimeDays) : 0.0;
}

} // namespace

void abflussmodellklasse::InitTracerGrids(int &error, int tracerCount,
                                          OneBasedArray<TracerInfo> *info,
                                          StatisticsRegistry *registry, int capacity) {
  error = 0;
  if (!TracerRecords.Empty())
    FinishTracerGrids();
  TracerCount = tracerCount;
  TracerInfoTable = info;
  if (FlowControl == 0 || tracerCount < 1)
    return;
  SetUpTracerRecords(*this, error, tracerCount, info, TracerRecords, [&] {
    if (Registry == nullptr || !Registry->TracerHooks.Installed())
      ThrowFatal(*Log, OtherFailureExitCode,
                 Concat("tracer grids of module ", ModuleName,
                        ": the statistics of the raster code are not installed"));
    subIntervalDecay_.assign(static_cast<std::size_t>(tracerCount) + 1, 1.0);
    for (int t = 1; t <= tracerCount; ++t)
      BuildTracerStatistic(t, (*info)[static_cast<std::size_t>(t)], registry, capacity);
  });
}

void abflussmodellklasse::BuildTracerStatistic(int tracer, const TracerInfo &info,
                                               StatisticsRegistry *registry, int capacity) {
  TracerRecord &record = TracerRecords[static_cast<std::size_t>(tracer)];
  if (info.radioactive == 1) {
    record.DecayFactor = RoutingDecay(TimeStep, info.half_time);
    subIntervalDecay_[static_cast<std::size_t>(tracer)] =
        RoutingDecay(TimeStep / SubIntervals, info.half_time);
  }
  record.ZoneConcentrations = CopyZoneTable(ZoneTable, ZoneCount);
  record.StatisticsFileName = TracerFileName(info.path, info.name, ModuleName, info.statext);
  Registry->TracerHooks.CreateStatistics(*this, record, tracer, info, registry, capacity);
}

void abflussmodellklasse::FinishTracerGrids() {
  subIntervalDecay_.clear();
  teilmodellklasse::FinishTracerGrids();
}

double abflussmodellklasse::StepDecay(int tracer) const {
  return TracerRecords[static_cast<std::size_t>(tracer)].DecayFactor;
}

double abflussmodellklasse::SubIntervalDecay(int tracer) const {
  return subIntervalDecay_.at(static_cast<std::size_t>(tracer));
}

void abflussmodellklasse::WriteTracerStatistics(long hour, long day, long month, long year) {
  // The routed values are whole on rank 0: nothing is combined over the
  // processes.
  for (int t = 1; t <= static_cast<int>(TracerRecords.Count()); ++t) {
    zonalstatistic *table = TracerRecords[static_cast<std::size_t>(t)].Statistics.get();
    if (table == nullptr || t >= flows_.RoutingInput.Components())
      continue;
    table->ResetStep();
    const double *routed = flows_.RoutingInput[t];
    for (int j = 1; j <= ZoneCount; ++j)
      table->AddValue(0, 0, j, routed[j], 1.0);
    table->EndOfStep(year, month, day, hour, 0);
  }
}

void abflussmodellklasse::FlushTracerStatistics() {
  for (TracerRecord &record : TracerRecords)
    if (record.Statistics)
      record.Statistics->FlushBuffer();
}

} // namespace tavro
