// Surface routing: one sub-step of overland flow. The soil's direct runoff
// becomes surface water; inner steps of one stable length (the smallest over
// all processes) compute every cell's fluxes from its neighbourhood, limit
// each cell's outflow to its water, then update every cell from the fluxes
// of its neighbours; water reaching a river cell leaves into "directflow".
// At the end the river cells' water and the interflow go to the flow-time
// zones and the surface storage to its statistics.
#include "lateral/surface_routing.h"

#include "kernel/fatal_error.h"
#include "kernel/string_helpers.h"
#include "lateral/overland/outflow_weights.h"
#include "lateral/overland/stable_step.h"
#include "lateral/overland/storage_update.h"
#include "lateral/overland/surface_slope.h"
#include "raster/output/zonal_statistic.h"
#include "raster/parallel/cell_iteration.h"
#include "raster/parallel/non_finite_water.h"
#include "tables/landuse_class.h"

#include <mpi.h>

#include <algorithm>
#include <array>
#include <cmath>

namespace tavro {

using overland::kDirections;

bool surfaceroutingclass::IsLandUseRecord(double code) const {
  // The layer grids hold record numbers; a missing layer holds the run's
  // no-data value or the -9999 of the multilayer table.
  if (code == NoData || code == -9999.0)
    return false;
  if (LanduseTable == nullptr)
    return true; // built without a table: nothing to look up yet
  const long record = std::lround(code);
  return record >= 1 && static_cast<std::size_t>(record) <= LanduseTable->Count();
}

overland::LandUseResistance surfaceroutingclass::LandUseOf(long r, long c) const {
  overland::LandUseResistance u;
  for (int layer = LanduseLayerCount; layer >= 1; --layer) {
    const double code = (*Landuse[static_cast<std::size_t>(layer - 1)])[r][c];
    if (!IsLandUseRecord(code))
      continue;
    const landuse_class &record = (*LanduseTable)[static_cast<std::size_t>(std::lround(code))];
    u.Cultivation = record.GetSRCultivation();
    u.Strickler = record.GetSRKST();
    const double z = (*Elevation)[r][c];
    const int day = static_cast<int>(ActualDay), month = static_cast<int>(ActualMonth),
              year = static_cast<int>(ActualYear);
    if (u.Cultivation == 1) {
      record.GetSRRoughCoeff1(u.RoughCoefficients1[0], u.RoughCoefficients1[1],
                              u.RoughCoefficients1[2]);
      record.GetSRRoughCoeff2(u.RoughCoefficients2[0], u.RoughCoefficients2[1],
                              u.RoughCoefficients2[2]);
      u.ResidueCover = record.GetSRResidCovrg(*Log, day, month, year, layer, static_cast<int>(r),
                                              static_cast<int>(c), z);
    } else if (u.Cultivation == 2) {
      u.DragCoefficient = record.GetSRCWR();
      u.StemSpacingX = record.GetSRCropDistX();
      u.StemSpacingY = record.GetSRCropDistY();
      u.StemDiameter = record.GetSRStemDiameter(*Log, day, month, year, layer, static_cast<int>(r),
                                                static_cast<int>(c), z);
    }
    return u;
  }
  return u; // construction refused cells without a land use
}

void surfaceroutingclass::ExchangeFlowHalos() {
  MPIExchangeHalo(DepthIndex, nullptr);
  MPIExchangeStackHalo(FluxIndex, nullptr);
  // A cell's tracer inflow reads its neighbours' concentrations.
  for (int t = 1; t <= TracerCount && !Tracers.empty(); ++t)
    MPIExchangeHalo(TracerRecords[static_cast<std::size_t>(t)].StorageGridIndex, nullptr);
}

void surfaceroutingclass::BuildPasses() {
  OverlandGrids g;
  g.Zone = Zone;
  g.Elevation = Elevation;
  g.RiverDepth = RiverDepth;
  g.RiverWidth = RiverWidth;
  g.PlanCurvature = PlanCurvature;
  g.CriticalShear = CriticalShear;
  g.Depth = &Depth;
  g.Storage = SurfaceStorage;
  g.DirectFlow = DirectFlow;
  g.QIn = QIn;
  g.QOut = QOut;
  g.Velocity = &VelocityStack;
  g.Fluxes = &FluxStack;
  g.Weights = &WeightStack;
  passes_ =
      OverlandPasses(StripCellsOf(*this, Zone), OverlandRaster{NRows, NCols, CellSize, NoData}, g,
                     Velocity, [this](long r, long c) { return LandUseOf(r, c); });
  passes_.SetFloatingPointReport(
      {&FpeFlag, [this](long r, long c, int slopeCase, int innerStep, double slope, double aspect,
                        double depth, double direct, double storage) {
         ReportFPE(static_cast<int>(r), static_cast<int>(c), slopeCase, innerStep, slope, aspect,
                   depth, direct, storage);
       }});
}

double surfaceroutingclass::MinimumTimeStep() const { return passes_.MinimumTimeStep(); }

bool surfaceroutingclass::IsRiver(long r, long c) const { return passes_.IsRiver(r, c); }

void surfaceroutingclass::StartSubstep() {
  double input = 0.0;
  CellIteration(StripCellsOf(*this, Zone)).ForEachOwnCell([&](long r, long c) {
    double &d = (*DirectFlow)[r][c];
    input += d;
    TakeCellTracers(r, c, d);
    Depth[r][c] = d / 1000.0;
    (*SurfaceStorage)[r][c] = d;
    d = 0.0;
  });
  balance_ = OverlandBalance{};
  balance_.Input = input;
}

void surfaceroutingclass::InnerStep(int innerStep, int &recomputeStep) {
  ExchangeFlowHalos();
  passes_.KernelPass(innerStep, recomputeStep);
  const double perRecompute = SubstepLength / Velocity.MaxSubTimeStep;
  if (innerStep == 0) {
    double local = MinimumTimeStep();
    double minimum = 0.0;
    MPI_Reduce(&local, &minimum, 1, MPI_DOUBLE, MPI_MIN, 0, MPI_COMM_WORLD);
    MPI_Bcast(&minimum, 1, MPI_DOUBLE, 0, MPI_COMM_WORLD);
    const overland::InnerSteps steps = overland::StableInnerStep(
        SubstepLength, minimum, Velocity.MinSubTimeStep, Velocity.MaxSubTimeStep);
    innerStep_ = steps.Length;
    foreseenSteps_ = steps.Foreseen;
    recomputeStep = static_cast<int>(recomputeStep + foreseenSteps_ / perRecompute);
  } else if (innerStep == recomputeStep) {
    recomputeStep = static_cast<int>(recomputeStep + foreseenSteps_ / perRecompute);
  }
  passes_.LimitOutflow(innerStep_);
  ExchangeFlowHalos();
  passes_.StoragePass(innerStep_);
  ExchangeFlowHalos();
}

void surfaceroutingclass::BookSubstep() {
  const double m = SubstepCount;
  ModuleStatistic *storage = Table(4);
  double surface = 0.0, rivers = 0.0;
  CellIteration(StripCellsOf(*this, Zone)).ForEachOwnCell([&](long r, long c) {
    const int k = ZoneIndexOf(*this, (*Zone)[r][c]);
    const double s = (*SurfaceStorage)[r][c];
    const bool river = IsRiver(r, c);
    const double d = (*DirectFlow)[r][c];
    surface += s;
    rivers += river ? d : 0.0;
    const int z = FlowTimes != nullptr ? static_cast<int>((*FlowTimes)[r][c]) : 1;
    const double w = CellWeights != nullptr && CellWeights->HasRow(r) ? (*CellWeights)[r][c] : 1.0;
    BookCellTracers(r, c, k, z, w, river, d);
    if (k < 1)
      return;
    if (storage != nullptr)
      (*storage)->AddValue(r, c, k, s, 1.0);
    if (AdditionsQD.empty())
      return;
    // Both reach the routing whole: m sub-steps of mm per sub-step.
    AdditionsQD[0].Add(k, z, 1.0, river ? w * m * d : 0.0, w);
    AdditionsQI[0].Add(k, z, 1.0, w * m * (*Interflow)[r][c], w);
  });
  balance_.Surface = surface;
  balance_.Rivers = rivers;
}

void surfaceroutingclass::ComputeTimeStep(long hour, long day, long month, long year) {
  if (FlowControl == 0)
    return;
  SetActualStep(hour, day, month, year);
  StartSubstep();
  innerStepsRun_ = 0;
  const double end = SubstepLength - 0.5 * Velocity.MinSubTimeStep;
  if (end > 0.0) {
    double elapsed = 0.0;
    int i = 0;
    int recompute = 0;
    do {
      InnerStep(i, recompute);
      ++i;
      elapsed += innerStep_;
    } while (elapsed < end);
    innerStepsRun_ = i;
  }
  BookSubstep();
  StopIfNotFinite();
}

// The sub-step's balance sums the input, the stored and the river water of
// every own cell.
void surfaceroutingclass::StopIfNotFinite() const {
  const std::array<WaterGrid, 2> grids{
      {{"SurfStorSiltingUp", SurfaceStorage}, {"directflow", DirectFlow}}};
  StopIfWaterNotFinite(*this, CellIteration(StripCellsOf(*this, Zone)),
                       balance_.Input + balance_.Surface + balance_.Rivers, grids);
}

} // namespace tavro
