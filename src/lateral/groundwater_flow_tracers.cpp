// Groundwater module: dissolved tracers in every layer: their grids and
// statistics tables, the decay per sub-step, the upwind mixing with the
// lateral and vertical flows, and their release.
#include "lateral/groundwater_flow.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/tracer_info.h"
#include "lateral/groundwater/tracer_mixing.h"
#include "raster/output/module_statistic.h"
#include "raster/output/zonal_statistic.h"

#include <cstdio>
#include <new>

namespace tavro {
namespace {

std::string Formatted(const char *format, auto... values) {
  char text[2600];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

} // namespace

void gwflowclass::InitTracerGrids(int &error, int tracerCount, OneBasedArray<TracerInfo> *info,
                                  StatisticsRegistry *registry, int capacity) {
  error = 0;
  if (FlowControl == 0 || tracerCount < 1)
    return;
  try {
    if (!Tracers.empty())
      FinishTracerGrids();
    TracerCount = tracerCount;
    TracerInfoTable = info;
    if (info == nullptr || info->Count() < static_cast<std::size_t>(tracerCount))
      ThrowFatal(*Log, OtherFailureExitCode,
                 Concat("tracer grids of module ", ModuleName, ": the tracer description holds ",
                        info == nullptr ? 0 : info->Count(), " of ", tracerCount, " tracers"));
    const int layers = LayerCount();
    const double dtDays = TimeStep / SubstepCount / 1440.0;
    TotalVolume = Grid(FirstRow, LastRow, NCols, NRows, *Log);
    Tracers.resize(static_cast<std::size_t>(tracerCount));
    for (int t = 1; t <= tracerCount; ++t) {
      const TracerInfo &ti = (*info)[static_cast<std::size_t>(t)];
      GroundwaterTracer &tracer = Tracers[static_cast<std::size_t>(t - 1)];
      tracer.Radioactive = ti.radioactive == 1;
      if (tracer.Radioactive)
        tracer.DecayFactor = groundwater::DecayFactor(dtDays, ti.half_time);
      tracer.Concentration.resize(static_cast<std::size_t>(layers));
      tracer.ConcentrationIndex.assign(static_cast<std::size_t>(layers), 0);
      tracer.Zones.resize(static_cast<std::size_t>(layers));
      tracer.Statistics.resize(static_cast<std::size_t>(layers));
      for (int k = 1; k <= layers; ++k) {
        const std::size_t l = static_cast<std::size_t>(k - 1);
        tracer.Zones[l] = CopyZoneTable(ZoneTable, ZoneCount);
        int failure = 0;
        tracer.Statistics[l] = std::make_unique<zonalstatistic>(
            failure, *Log, registry, capacity, CellWeights, NRows, NCols,
            std::span<ZoneRecord>(tracer.Zones[l]), ti.statcode, zonalstatistic::SignificantDigits,
            Formatted("%s%.3s%.4s%.1d.%s", ti.path.c_str(), ti.name.c_str(), ModuleName.c_str(), k,
                      ti.statext.c_str()),
            DefaultOutputDirectory, OutputCodes(*this), NoData);
        if (failure != 0)
          throw failure;
        tracer.Statistics[l]->WriteHeader(
            Formatted("tracer concentration for tracer %d in layer %d (%s) ", t, k,
                      ti.name.c_str()),
            ModuleName, registry, capacity);
        const int index = Registry->FirstFreeIndex();
        if (index == 0)
          ThrowFatal(*Log, GridRegistry::RegistryExitCode, Concat("no free grid left ", 1000));
        const std::string identifier =
            Formatted("concstor_tracer_%d_layer_%d_%s", t, k, ModuleName.c_str());
        const std::string fileName =
            Formatted("%s%.3s%.1d%.4s.%s", ti.path.c_str(), ti.name.c_str(), k, ModuleName.c_str(),
                      ti.gridext.c_str());
        Grid &conc = tracer.Concentration[l];
        if (GridReadParameter == 1) {
          ReadGrid(fileName, conc, 0, true, true, 0.0, false, false, false, true);
        } else {
          conc = Grid(HaloFirstRow, HaloLastRow, NCols, NRows, *Log);
          conc.Fill(NoData);
          // Every tracer is a concentration here: the mixing weighs it with
          // the water volumes, and the soil-water module reads and writes
          // layer 1 as the concentration of its groundwater.
          ForModelCells([&](long r, long c) { conc[r][c] = ti.gwini; });
        }
        AddGrid(index, fileName, &conc, nullptr, 1, identifier, ti.gridcode, conc.FirstRow(),
                conc.LastRow());
        tracerEntries_.Add(index);
        tracer.ConcentrationIndex[l] = index;
        if (GridReadParameter != 1)
          MPIExchangeHalo(index, nullptr);
      }
      const int index = Registry->FirstFreeIndex();
      if (index == 0)
        ThrowFatal(*Log, GridRegistry::RegistryExitCode, Concat("no free grid left ", 1000));
      tracer.Working = Grid(HaloFirstRow, HaloLastRow, NCols, NRows, *Log);
      const std::string working = Formatted("concflux_tracer_%d_%s", t, ModuleName.c_str());
      AddGrid(index, working, &tracer.Working, nullptr, 1, working, 0, HaloFirstRow, HaloLastRow);
      tracerEntries_.Add(index);
      tracer.WorkingIndex = index;
    }
  } catch (int code) {
    error = code;
  } catch (const std::bad_alloc &) {
    error = 1;
    Log->Entry(Concat("FATAL: memory allocation error in ", ModuleName, DiagnosticsLog::EndToken));
  }
}

void gwflowclass::DecayTracers(int k, long r, long c) {
  for (GroundwaterTracer &tracer : Tracers)
    if (tracer.Radioactive)
      tracer.Concentration[static_cast<std::size_t>(k - 1)][r][c] *= tracer.DecayFactor;
}

void gwflowclass::MixTracers(int k, long r, long c, double volume,
                             const std::array<double, 6> &inflows) {
  if (Tracers.empty())
    return;
  const GroundwaterLayerGrids &layer = Layer(k);
  const Grid &qx = layer[kFlowX];
  const Grid &qy = layer[kFlowY];
  const std::size_t l = static_cast<std::size_t>(k - 1);
  for (GroundwaterTracer &tracer : Tracers) {
    const Grid &conc = tracer.Concentration[l];
    const double own = conc[r][c];
    groundwater::CellInflows from{own, own, own, own, own, own};
    if (r > 1 && inflows[groundwater::kNorth] != 0.0 && qy[r - 1][c] > 0.0)
      from[groundwater::kNorth] = conc[r - 1][c];
    if (c < NCols && inflows[groundwater::kEast] != 0.0 && qx[r][c] <= 0.0)
      from[groundwater::kEast] = conc[r][c + 1];
    if (r < NRows && inflows[groundwater::kSouth] != 0.0 && qy[r][c] <= 0.0)
      from[groundwater::kSouth] = conc[r + 1][c];
    if (c > 1 && inflows[groundwater::kWest] != 0.0 && qx[r][c - 1] > 0.0)
      from[groundwater::kWest] = conc[r][c - 1];
    if (k > 1 && Layer(k - 1)[kLeakage][r][c] < 0.0)
      from[groundwater::kAbove] = tracer.Concentration[l - 1][r][c];
    if (k < LayerCount() && !(layer[kLeakage][r][c] < 0.0))
      from[groundwater::kBelow] = tracer.Concentration[l + 1][r][c];
    double total = 0.0;
    tracer.Working[r][c] = groundwater::MixedConcentration(own, volume, inflows, from, total);
    TotalVolume[r][c] = total;
  }
}

void gwflowclass::AddTracerStatistics(int k) {
  const std::size_t l = static_cast<std::size_t>(k - 1);
  const GroundwaterLayerGrids &layer = Layer(k);
  // Row and column order, after the parallel pass.
  for (GroundwaterTracer &tracer : Tracers) {
    zonalstatistic *table = tracer.Statistics[l].get();
    if (table == nullptr || !table->Active())
      continue;
    for (long r = FirstRow; r <= LastRow; ++r)
      for (long c = 1; c <= NCols; ++c)
        if (IsModelCell(r, c) && GlacierAt(r, c) < 1.0 && ConductsAt(layer, r, c))
          table->AddValue(r, c, ZoneIndexOf(*this, (*Zone)[r][c]), tracer.Working[r][c], 1.0);
  }
}

void gwflowclass::FinishTracerGrids() {
  if (FlowControl == 0)
    return;
  for (GroundwaterTracer &tracer : Tracers) {
    for (std::size_t l = 0; l < tracer.Concentration.size(); ++l) {
      if (tracer.Statistics[l])
        tracer.Statistics[l]->ReleaseMemory();
    }
  }
  tracerEntries_.ReleaseAll();
  Tracers.clear();
}

} // namespace tavro
