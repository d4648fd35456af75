// Surface routing: its tracers. At set-up the soil's runoff tracer grids
// and the storage grid of the water left on the surface; per sub-step the
// input of the direct runoff's tracer (as a concentration), its booking into
// the flow-time zones as flow-weighted concentrations, and the hand-back of
// the surface water's tracer; the release at the end. The storage pass
// carries the concentrations with the water (OverlandPasses).
#include "lateral/surface_routing.h"

#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/module_construction.h"
#include "kernel/string_helpers.h"
#include "kernel/tracer_concentration.h"
#include "kernel/tracer_info.h"

#include <algorithm>

namespace tavro {
namespace {

std::size_t At(int i) { return static_cast<std::size_t>(i); }

} // namespace

Grid &surfaceroutingclass::TracerConcentration(int tracer) {
  return TracerRecords[At(tracer)].StorageGrid;
}

void surfaceroutingclass::SetUpTracers() {
  Tracers.clear();
  passes_.SetTracers({});
  if (TracerCount < 1)
    return;
  if (TracerCount > kMaxOverlandTracers || TracerInfoTable == nullptr ||
      TracerInfoTable->Count() < At(TracerCount))
    ThrowFatal(*Log, OtherFailureExitCode,
               Concat("tracer grids of module ", ModuleName, ": ", TracerCount,
                      " tracers, at most ", kMaxOverlandTracers, " with a description each"));
  if (Registry->FirstFreeIndex() == 0)
    ThrowFatal(*Log, GridRegistry::RegistryExitCode,
               Concat("no free grid anymore, allowed number of grids is ", 1000, "!"));
  AllStorageFromSiltingUp = true;
  Tracers.resize(At(TracerCount) + 1);
  std::vector<OverlandTracer> carried;
  for (int t = 1; t <= TracerCount; ++t) {
    const TracerInfo &info = (*TracerInfoTable)[At(t)];
    SurfaceTracerGrids &s = Tracers[At(t)];
    s.direct = RequiredGridData(*this, Concat("_CONC_QD_", t, "_"));
    s.interflow = RequiredGridData(*this, Concat("_CONC_QI_", t, "_"));
    LinkSiltingGrid(t, info);
    s.evaporating = info.evaporating == 1;
    // The water of a sub-step decays over the sub-step alone.
    s.decay = info.radioactive == 1
                  ? TracerDecayFactor(TimeStep / std::max(1, SubstepCount), info.half_time)
                  : 1.0;
    s.start = Grid(haloFirst_, haloLast_, NCols, NRows, *Log);
    carried.push_back(OverlandTracer{&TracerConcentration(t), &s.start, s.direct});
  }
  passes_.SetTracers(std::move(carried));
}

void surfaceroutingclass::LinkSiltingGrid(int t, const TracerInfo &info) {
  SurfaceTracerGrids &s = Tracers[At(t)];
  const std::string identifier = Concat("concstor_tracer_", t, "_SiltingUpModel");
  const int found = FindGrid(identifier, false);
  if (found != 0) {
    s.silting = (*Registry)[found].Data;
    s.siltingIndex = -1;
    return;
  }
  AllStorageFromSiltingUp = false;
  const int free = Registry->FirstFreeIndex();
  if (free == 0)
    ThrowFatal(*Log, GridRegistry::RegistryExitCode,
               Concat("no free grid anymore, allowed number of grids is ", 1000, "!"));
  s.siltingOwn = Grid(haloFirst_, haloLast_, NCols, NRows, *Log);
  s.siltingOwn.Fill(NoData);
  ForOwnCells([&](long r, long c) { s.siltingOwn[r][c] = 0.0; });
  AddGrid(free, TracerRecords[At(t)].GridFileName, &s.siltingOwn, nullptr, 1, identifier,
          info.gridcode, haloFirst_, haloLast_);
  entries_.Add(free);
  s.siltingIndex = free;
  s.silting = &s.siltingOwn;
  MPIExchangeHalo(free, nullptr);
}

void surfaceroutingclass::TakeCellTracers(long r, long c, double direct) {
  for (int t = 1; t <= TracerCount; ++t) {
    SurfaceTracerGrids &s = Tracers[At(t)];
    double &delivered = (*s.direct)[r][c];
    // An amount tracer arrives as the amount its water carried.
    double concentration = s.evaporating ? delivered : (direct > 0.0 ? delivered / direct : 0.0);
    if (!AllStorageFromSiltingUp)
      concentration *= s.decay;
    TracerConcentration(t)[r][c] = concentration;
    (*s.silting)[r][c] = 0.0;
    delivered = 0.0;
  }
}

void surfaceroutingclass::BookCellTracers(long r, long c, int k, int z, double w, bool river,
                                          double direct) {
  const double inter = (*Interflow)[r][c];
  for (int t = 1; t <= TracerCount; ++t) {
    SurfaceTracerGrids &s = Tracers[At(t)];
    Grid &own = TracerConcentration(t);
    // The water left on the surface goes back to the soil with its tracer.
    (*s.silting)[r][c] = own[r][c];
    own[r][c] = 0.0;
    double &delivered = (*s.direct)[r][c];
    if (river)
      delivered = direct > 0.0 ? delivered / direct : 0.0;
    if (k < 1 || AdditionsQD.empty())
      continue;
    // Flow-weighted: each cell weighs its concentration by its water.
    const double water = river ? direct : 0.0;
    AdditionsQD[At(t)].Add(k, z, water, w * water * (river ? delivered : 0.0), w * water);
    const double interConc = s.evaporating ? (*s.interflow)[r][c]
                             : inter > 0.0 ? (*s.interflow)[r][c] / inter
                                           : 0.0;
    AdditionsQI[At(t)].Add(k, z, inter, w * inter * interConc, w * inter);
  }
}

void surfaceroutingclass::WriteSiltingGrids(int t) {
  const SurfaceTracerGrids &s = Tracers[At(t)];
  if (s.siltingIndex > 0)
    WriteGridOutput(s.siltingIndex);
}

void surfaceroutingclass::ReleaseTracers() {
  passes_.SetTracers({});
  for (SurfaceTracerGrids &s : Tracers)
    if (s.siltingIndex > 0)
      entries_.Release(s.siltingIndex);
  Tracers.clear();
}

} // namespace tavro
