// One soil column for one call of the soil-water step: the number of
// internal steps, and per internal step the water input with the pond and
// the silting-up water, the macropores, the root water uptake and soil
// evaporation, the baseflow, the iteration that solves the Richards
// equation with the column kernels, and the groundwater table, recharge and
// runoff components after it. In: the cell's values and its stack columns;
// out: what the module accumulates in its grids, the iteration reports and
// the last internal step's per-layer transpiration and interflow.
//
// The hydraulic look-ups are a template parameter (see
// soil/column/soil_hydraulics.h). No MPI, logging or grid access.
#pragma once

#include "soil/column/balance_layers.h"
#include "soil/column/column_state.h"
#include "soil/column/groundwater_recharge.h"
#include "soil/column/hydraulic_heads.h"
#include "soil/column/integrate_over_depth.h"
#include "soil/column/macropore_infiltration.h"
#include "soil/column/permafrost_ksat.h"
#include "soil/column/root_water_uptake.h"
#include "soil/column/update_iterate.h"
#include "soil/column/vertical_fluxes.h"
#include "soil/column_heat.h"
#include "soil/column_tracers.h"
#include "soil/water_stages.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

namespace tavro {

// The values of the module that are the same for every cell of a call.
struct ColumnStepSettings {
  int methode = 2;                // 2 fixed, 3 dynamic number of internal steps
  double dParameterMinStep = 0.0; // s, shortest internal step of methode 3
  int substeps = 1;               // D, calls per model time step
  double intervalMinutes = 60.0;  // the model time step
  double maxError = 1e-5;
  int maxIterations = 100;
  double ksatClay = 0.0;     // m/s
  double reducedKsat = 1e-9; // m/s, frozen soil over permafrost
  double cellSize = 0.0;     // m
  double noData = -9999.0;
  bool siltingUpIsStorage = false; // the silting-up water is surface storage
  int lakeFlowControl = 0;
  bool groundwaterCoupled = false;
  bool externalTable = false;
  int surfaceInteraction = 0;
};

// One land-use layer of the cell.
struct LanduseLayerValues {
  bool valid = false;                  // its land-use code is not no-data
  double potentialTranspiration = 0.0; // mm per model step
  double coverage = 0.0;
  double rootDepth = 0.0; // m
  double rootDist = 0.0;
  double hReduDry = 0.0;
  double tReduWet = 1.0;
  double limitReduWet = 0.0;
};

// The cell's inputs of the call.
struct ColumnCellInputs {
  std::span<const LanduseLayerValues> landuse; // elements 1..L
  double waterInput = 0.0;                     // mm per model step
  double potentialEvaporation = 0.0;           // mm per model step
  double siltingUp = 0.0;                      // mm, the silting-up grid's value (0 without)
  double snowStorage = -1.0;                   // mm of solid snow; negative without the grid
  double snowRunoffFraction = 0.0;
  double maxPonding = 0.0; // mm; 0 without ponding
  bool lakeCell = false;   // a cell of a lake
  double clayDepth = 0.0;  // m; 0 without clay
  int drainageLevel = 0;
  double drainageDistance = 0.0; // m
  double tanBeta = 0.0;
  double drainageDensity = 0.0;
  double maxBaseflow = 0.0;   // mm per model step
  double invKelsqlat = 0.0;   // 1/m
  double thawDepth = -9999.0; // m, negative below the surface; no-data without
  double baseflowRate = 0.0;  // m/s, the baseflow grid's value when coupled
  // With the groundwater module coupled: the cell at its river (its table
  // and pond are the step's own); none without.
  const RiverCell *river = nullptr;
  // The river the cell may take water from, which books each internal
  // step's share of the step's mean exchange; none: the cell takes nothing.
  RiverExchangeBook *riverBook = nullptr;
};

// The cell's state grids, read and written.
struct ColumnCellState {
  double ponding = 0.0;             // mm
  double groundwaterDistance = 0.0; // m, negative below the surface
  double groundwaterLevel = 1.0;    // layer
  double thetaInGwLevel = 0.0;
};

// The balance of the call (mm): input - evapotranspiration - direct runoff -
// interflow - baseflow equals the change of storage (soil water and pond).
struct ColumnBalance {
  double input = 0.0; // water input and silting-up water
  double evapotranspiration = 0.0;
  double directRunoff = 0.0;
  double interflow = 0.0;
  double baseflow = 0.0; // negative: a supply from below
  double riverInfiltration = 0.0;
  double riverExfiltration = 0.0;
  double storageBefore = 0.0;
  double storageAfter = 0.0;
  double Residual() const {
    return input + riverInfiltration - evapotranspiration - directRunoff - interflow - baseflow -
           riverExfiltration - (storageAfter - storageBefore);
  }
};

// What the call gives the module (mm summed over the internal steps unless
// noted).
struct ColumnStepOutputs {
  double drainage = 0.0;
  double directflow = 0.0;
  double interflow = 0.0;
  double macropore = 0.0;
  double recharge = 0.0;
  double percolation = 0.0;
  double capillaryRise = 0.0;
  double soilEvaporation = 0.0;
  double infiltrationExcess = 0.0;
  double totalInfiltration = 0.0;
  double riverInfiltration = 0.0;
  double riverExfiltration = 0.0;
  std::vector<double> realTranspiration; // 0..L, element 0 the cell's total
  double baseflow = 0.0;                 // delivered withdrawal, a supply negative
  int internalSteps = 1;
  long iterations = 0;             // summed over the internal steps
  double sb1 = 0.0;                // mean water content of the root zone
  double meanSuction = 0.0;        // "MeanThetaInRootZone"
  double sb2 = 0.0;                // water of the column, mm
  double root = 0.0;               // root depth, mm
  double storageCoefficient = 0.0; // of the groundwater layer, at least 0.01
  // The last internal step: soil evaporation in [0] and transpiration per
  // layer, and the interflow per layer (mm), for the control point.
  std::vector<double> lastTranspiration;
  std::vector<double> lastInterflow;
  double lastInfiltration = 0.0; // mm
  // The pond of a cell with ponding: what evaporated from it, what it
  // exchanged with the column and the surface around it (silting-up water
  // in; infiltration and macropores out, negative; a supply from below in)
  // and what spilled over its largest depth as direct runoff. The pond's
  // change is the water input plus the exchange less the other two, which
  // is what a lake on the cell books.
  double pondEvaporation = 0.0;
  double pondExchange = 0.0;
  double pondOverflow = 0.0;
  ColumnBalance balance;

  void Resize(int layers, int landuseLayers);
  void Clear();
};

// The heat model of a cell in a call: its inputs and temperature column,
// the thread's scratch and, after the call, the thaw outputs and the number
// of heat steps.
struct ColumnHeatContext {
  ColumnHeatCell cell;
  const ColumnHeatSettings *settings = nullptr;
  ColumnHeatWork *work = nullptr;
  ThawOutputs thaw;
  int heatSteps = 0;
};

// Receives the internal steps that needed more than 100 iterations.
class IterationReporter {
public:
  virtual ~IterationReporter() = default;
  virtual void Report(int iterations, double change) = 0;
};

// What one internal step shows an inspector: its number and length, the
// column before the iteration (BeforeIteration) or after the iteration and
// the heat steps (AfterIteration). An inspector may clamp the water
// contents, the baseflow rate and the temperatures it is shown.
struct InternalStepView {
  int step = 1;  // k, from 1
  int steps = 1; // n of the call
  double dt = 0.0;
  const ColumnGeometry *geometry = nullptr;
  ColumnState *state = nullptr;
  int rootedLayers = 0;           // of the step's last root water uptake
  double inputRate = 0.0;         // surface input after the macropores, m/s
  double *baseflowRate = nullptr; // qb, m/s
  // Evapotranspiration of the call so far (mm): [0] the cell's total,
  // [l] land-use layer l.
  std::span<const double> transpiration;
  ColumnHeatContext *heat = nullptr; // none without the heat model
  double heatSeconds = 0.0;          // one heat step
  int heatSteps = 1;                 // H of the call
  int heatPerInternal = 1;           // h
};

// Looks at every internal step of a cell (dump mode only; without an
// inspector the step copies nothing).
class StepInspector {
public:
  virtual ~StepInspector() = default;
  virtual void BeforeIteration(const InternalStepView &view) = 0;
  virtual void AfterIteration(const InternalStepView &view) = 0;
};

// The scratch of one thread: the column state and the outputs, on cache
// lines of its own.
struct alignas(64) ColumnWorkspace {
  ColumnWorkspace(int maxLayers, int landuseLayers) : state(maxLayers) {
    outputs.Resize(maxLayers, landuseLayers);
    etp.assign(static_cast<std::size_t>(landuseLayers) + 1, 0.0);
    real.assign(static_cast<std::size_t>(landuseLayers) + 1, 0.0);
    valid.assign(static_cast<std::size_t>(landuseLayers) + 1, 0);
    landuse.resize(static_cast<std::size_t>(landuseLayers) + 1);
    transpirationSoFar.assign(static_cast<std::size_t>(landuseLayers) + 1, 0.0);
  }
  ColumnState state;
  ColumnStepOutputs outputs;
  std::vector<double> etp;  // potential transpiration left per land-use layer, mm
  std::vector<double> real; // evapotranspiration per land-use layer, mm
  std::vector<char> valid;  // the land-use layer is present
  long iterations = 0;      // of the cells this thread solved in a call
  // The cell's land-use layers, filled by the caller (elements 1..L).
  std::vector<LanduseLayerValues> landuse;
  std::vector<double> transpirationSoFar; // for an inspector, mm (0..L)
};

// The cell's stack columns, levels 0..n.
struct ColumnStacks {
  std::span<double> theta;          // level 0: theta_s of layer 1
  std::span<const double> geodetic; // level 0: the surface
  std::span<double> hydraulicHeads;
  std::span<double> qDown;
};

// The number of internal steps of a call (methode 3: from the fastest layer
// above the groundwater layer, never shorter than dParameterMinStep).
template <class Hydraulics>
int InternalStepCount(const Hydraulics &soil, const ColumnGeometry &geometry,
                      const ColumnState &state, const ColumnStepSettings &settings, bool hasInput) {
  if (settings.methode != 3)
    return 1;
  const double call = settings.intervalMinutes * 60.0 / settings.substeps;
  double tmin = call;
  const int g = state.groundwater_layer;
  for (int j = 1; j == 1 || j < g; ++j) {
    if (j > geometry.layers)
      break;
    const auto i = static_cast<std::size_t>(j);
    const double kr =
        hasInput ? 1.0 : soil.Krel(j, state.theta[i], std::max(0.5, LiquidFraction(state, j)));
    if (kr <= 0.0)
      continue;
    tmin = std::min(tmin, geometry.dz[i] / (kr * state.ksat[i]));
  }
  return std::max(1,
                  static_cast<int>(std::ceil(call / std::max(settings.dParameterMinStep, tmin))));
}

// Water of the column (m) over layers 1..n.
double ColumnWaterDepth(const ColumnGeometry &geometry, const ColumnState &state);

// The iteration of one internal step; returns the iterations used and the
// last change.
template <class Hydraulics>
int IterateColumn(const Hydraulics &soil, const ColumnGeometry &geometry, ColumnState &state,
                  const FluxCellValues &cell, const ColumnStepSettings &settings, int startLayer,
                  double dt, double &change) {
  const BalanceOptions balance{settings.groundwaterCoupled, settings.surfaceInteraction};
  double tolerance = settings.maxError;
  int i = 0;
  do {
    ComputeHydraulicHeads(soil, geometry, state, i, startLayer);
    ++i;
    ComputeVerticalFluxes(soil, geometry, state, cell, startLayer, dt);
    BalanceLayers(geometry, state, startLayer, dt, balance);
    if (i == 21)
      tolerance = 5.0 * settings.maxError;
    change = UpdateIterate(geometry, state, i, startLayer, dt);
  } while (change > tolerance && i < settings.maxIterations);
  return i;
}

// One call for one cell. geometry describes the cell's soil type; the
// workspace belongs to the calling thread; tracers (none without) carries the
// cell's tracers through the call.
template <class Hydraulics>
void ColumnStep(const Hydraulics &soil, const ColumnGeometry &geometry,
                const ColumnStepSettings &settings, const ColumnCellInputs &in,
                ColumnCellState &cell, const ColumnStacks &stacks, ColumnWorkspace &work,
                IterationReporter *reporter, ColumnHeatContext *heat = nullptr,
                ColumnTracers *tracers = nullptr, StepInspector *inspector = nullptr) {
  const int n = geometry.layers;
  const int landuseLayers = static_cast<int>(in.landuse.size()) - 1;
  ColumnState &state = work.state;
  ColumnStepOutputs &out = work.outputs;
  out.Clear();
  state.use_liquid_fraction = false;
  for (int k = 0; k <= n; ++k) {
    const auto i = static_cast<std::size_t>(k);
    state.theta[i] = stacks.theta[i];
    state.z_bottom[i] = stacks.geodetic[i];
    state.head[i] = stacks.hydraulicHeads[i];
    state.flux[i] = stacks.qDown[i];
  }
  const bool topFrozen =
      PermafrostKsat(geometry, in.thawDepth, settings.noData, settings.reducedKsat, state.ksat);
  state.groundwater_layer = std::clamp(static_cast<int>(cell.groundwaterLevel), 1, n);
  const double D = settings.substeps;
  // The heat pre-stage gives the liquid shares the step count reads.
  const int heatCount = heat != nullptr ? HeatPreStage(heat->cell, *heat->settings, geometry, state,
                                                       settings.intervalMinutes * 60.0, *heat->work)
                                        : 1;
  const int waterSteps = InternalStepCount(soil, geometry, state, settings, in.waterInput != 0.0);
  const HeatStepPlan plan =
      ReconcileHeatSteps(heatCount, waterSteps, settings.methode == 3 ? 2 * waterSteps : 2);
  const int steps = heat != nullptr ? plan.internalSteps : waterSteps;
  const double heatSeconds = settings.intervalMinutes * 60.0 / D / plan.heatSteps;
  if (heat != nullptr)
    heat->heatSteps = plan.heatSteps;
  const double dt = settings.intervalMinutes * 60.0 / D / steps;
  const double t_ms = 60000.0 * settings.intervalMinutes / D / steps;
  out.internalSteps = steps;
  if (tracers != nullptr)
    BeginTracerCall(*tracers, steps);

  FluxCellValues fluxCell;
  fluxCell.clayLayer = ClayLayer(geometry.dz, n, in.clayDepth);
  fluxCell.ksatClay = settings.ksatClay;
  fluxCell.drainageDensity = in.drainageDensity;
  fluxCell.tanBeta = in.tanBeta;
  fluxCell.drainageLevel = in.drainageLevel;
  fluxCell.drainageDistance = in.drainageDistance;
  fluxCell.cellSize = settings.cellSize;
  fluxCell.topFrozen = topFrozen;
  fluxCell.reducedKsat = settings.reducedKsat;
  RiverCell river;
  if (in.river != nullptr) {
    river = *in.river;
    river.river = in.riverBook;
    fluxCell.river = &river;
  }
  // The routing takes the exchange once per model step as a mean flow.
  const double stepSeconds = settings.intervalMinutes * 60.0;

  const bool ponding = in.maxPonding > 0.0;
  const bool siltingRunsOff = !ponding && !settings.siltingUpIsStorage;
  // Water written once per model step is spread over its calls; surface
  // storage left by the routing after every call is new in each.
  const double siltingPerStep =
      settings.siltingUpIsStorage ? in.siltingUp / steps : in.siltingUp / D / steps;
  out.balance.storageBefore =
      ColumnWaterDepth(geometry, state) * 1000.0 + (ponding ? cell.ponding : 0.0);

  for (int k = 1; k <= steps; ++k) {
    // Inputs of the internal step.
    double potentialEvaporation = in.potentialEvaporation / D / steps; // mm
    double x = in.waterInput / D / steps;                              // mm
    double silting = siltingPerStep;
    out.balance.input += x + silting;
    for (int l = 1; l <= landuseLayers; ++l) {
      const auto li = static_cast<std::size_t>(l);
      work.etp[li] = in.landuse[li].potentialTranspiration / D / steps;
      work.real[li] = 0.0;
      work.valid[li] = in.landuse[li].valid;
    }
    state.ResetStep(n);
    const int oldLayer = std::clamp(static_cast<int>(cell.groundwaterLevel), 1, n);
    state.groundwater_layer = oldLayer;
    const double oldTable = state.z_bottom[0] + cell.groundwaterDistance;
    state.table_height = oldTable;
    if (tracers != nullptr && settings.groundwaterCoupled)
      TracersBelowTable(*tracers, state, oldLayer, n, geometry.dz);

    // Water input, snow share, pond and silting-up storage.
    double snow = SnowShare(x, in.snowStorage, in.snowRunoffFraction);
    if (tracers != nullptr)
      MixTracerInput(*tracers, SurfaceWater{x, snow, silting, cell.ponding, ponding,
                                            settings.siltingUpIsStorage});
    if (ponding) {
      double pond = cell.ponding + silting + snow;
      const double unevaporated = pond;
      EvaporateStore(pond, work.etp, work.real, work.valid);
      out.pondEvaporation += unevaporated - pond;
      out.pondExchange += silting;
      x += pond;
      cell.ponding = x;
      silting = 0.0;
      snow = 0.0;
    } else if (settings.siltingUpIsStorage) {
      EvaporateStore(silting, work.etp, work.real, work.valid);
      x += silting;
      silting = 0.0;
    }
    const double snowRate = snow / t_ms;
    double inputRate = x / t_ms;

    // Macropores.
    double macropore = 0.0;
    if (settings.lakeFlowControl == 0 ||
        (settings.lakeFlowControl == 1 && (!in.lakeCell || cell.ponding < 1.0)))
      macropore = MacroporeInfiltration(geometry, state, inputRate, t_ms);
    int startLayer = 1;

    // Root water uptake and soil evaporation.
    double rootMax = 0.0;
    int lastRooted = 0;
    double soilEvaporation = 0.0;
    for (int l = 1; l <= landuseLayers; ++l) {
      const auto li = static_cast<std::size_t>(l);
      const LanduseLayerValues &layer = in.landuse[li];
      if (!layer.valid)
        continue;
      const bool lastValid = l == landuseLayers || !in.landuse[li + 1].valid;
      RootUptakeInputs uptake;
      uptake.rootDist = layer.rootDist;
      uptake.hReduDry = layer.hReduDry;
      uptake.tReduWet = layer.tReduWet;
      uptake.limitReduWet = layer.limitReduWet;
      uptake.coverage = layer.coverage;
      uptake.potentialTranspiration = work.etp[li] / t_ms;
      uptake.potentialEvaporation = lastValid ? potentialEvaporation / t_ms : 0.0;
      double rootDepth = layer.rootDepth;
      const int rooted = RootWaterUptake(soil, geometry, state, uptake, rootDepth, dt);
      lastRooted = rooted;
      rootMax = std::max(rootMax, rootDepth);
      const double transpiration = TakeTranspiration(geometry, state, rooted, dt);
      int evaporating = 0;
      const double evaporation = TakeSoilEvaporation(geometry, state, rooted, dt, evaporating);
      startLayer = std::max(startLayer, evaporating);
      work.real[li] += transpiration * t_ms;
      soilEvaporation += evaporation * t_ms;
    }

    // Baseflow and groundwater layer.
    double qb = in.baseflowRate;
    if (!settings.groundwaterCoupled && !settings.externalTable)
      qb =
          in.maxBaseflow * std::exp(cell.groundwaterDistance * in.invKelsqlat) / (D * t_ms * steps);
    qb = ApplyBaseflow(geometry, state, qb, dt,
                       settings.groundwaterCoupled ? BaseflowDelivery::Whole
                                                   : BaseflowDelivery::Drainable);
    cell.groundwaterLevel = state.groundwater_layer;
    std::copy(state.theta.begin(), state.theta.begin() + n + 1, state.theta_old.begin());
    std::copy(state.theta.begin(), state.theta.begin() + n + 1, state.theta_new.begin());
    std::copy(state.theta.begin(), state.theta.begin() + n + 1, state.theta_iter.begin());

    InternalStepView view;
    if (inspector != nullptr) {
      for (int l = 1; l <= landuseLayers; ++l) {
        const auto li = static_cast<std::size_t>(l);
        work.transpirationSoFar[li] = out.realTranspiration[li] + work.real[li];
      }
      work.transpirationSoFar[0] = out.realTranspiration[0];
      view = InternalStepView{k,
                              steps,
                              dt,
                              &geometry,
                              &state,
                              lastRooted,
                              inputRate,
                              &qb,
                              work.transpirationSoFar,
                              heat,
                              heatSeconds,
                              plan.heatSteps,
                              plan.heatPerInternal};
      inspector->BeforeIteration(view);
    }

    // The iteration.
    fluxCell.inputRate = inputRate;
    river.groundwaterDistance = cell.groundwaterDistance;
    river.ponding = cell.ponding;
    double change = 0.0;
    const int iterations =
        IterateColumn(soil, geometry, state, fluxCell, settings, startLayer, dt, change);
    if (heat != nullptr)
      for (int h = 0; h < plan.heatPerInternal; ++h)
        HeatStep(heat->cell, *heat->settings, geometry, state, heatSeconds, *heat->work);
    if (inspector != nullptr)
      inspector->AfterIteration(view);
    out.iterations += iterations;
    // River exchange: this internal step's share of the step's mean flow.
    if (in.riverBook != nullptr && state.river_infiltration_sum > 0.0)
      in.riverBook->Book(state.river_infiltration_sum * settings.cellSize * settings.cellSize * dt /
                         stepSeconds);
    if (iterations > 100 && reporter != nullptr)
      reporter->Report(iterations, change);

    // Interflow, groundwater table and recharge.
    const int g = state.groundwater_layer;
    const auto gi = static_cast<std::size_t>(g);
    double interflowSum = 0.0;
    for (int j = 1; j < g; ++j)
      interflowSum += state.interflow_out[static_cast<std::size_t>(j)];
    double netOutflow = state.flux[gi - 1] + state.transpiration[gi] + state.evaporation[gi] + qb +
                        state.interflow_out[gi] - state.exchange_in[gi];
    if (settings.groundwaterCoupled)
      netOutflow += state.exchange_out[gi];
    const double table = TableHeight(geometry, state, netOutflow, dt, cell.thetaInGwLevel);
    cell.groundwaterDistance = table - state.z_bottom[0];
    RechargeInputs recharge;
    recharge.oldLayer = oldLayer;
    recharge.newLayer = g;
    recharge.oldTable = oldTable;
    recharge.newTable = table;
    recharge.baseflowRate = qb;
    recharge.dt = dt;
    recharge.t_ms = t_ms;
    recharge.externalTable = settings.externalTable;
    recharge.groundwaterCoupled = settings.groundwaterCoupled;
    const double r = ComputeGroundwaterRecharge(geometry, state, recharge);

    // Surface: infiltration, excess, direct runoff and pond.
    const SurfaceRunoff surface =
        FormSurfaceRunoff(inputRate, snowRate, state.flux[0], state.supply[0],
                          siltingRunsOff ? silting : 0.0, in.maxPonding, t_ms, cell.ponding);
    if (ponding) {
      out.pondExchange += (state.flux[0] + state.supply[0]) * t_ms - macropore;
      out.pondOverflow += surface.direct;
    }
    if (tracers != nullptr) {
      TracerSurface moved;
      moved.pond = ponding;
      moved.direct = surface.direct;
      moved.silting = siltingRunsOff ? silting : 0.0;
      moved.directRate = ponding ? surface.direct / t_ms : (surface.direct - moved.silting) / t_ms;
      const double pondBefore = cell.ponding + surface.direct;
      moved.pondShare = ponding && pondBefore > 0.0 ? surface.direct / pondBefore : 0.0;
      moved.interflow = interflowSum * t_ms;
      moved.baseflowRate = qb;
      moved.groundwaterCoupled = settings.groundwaterCoupled;
      MoveColumnTracers(*tracers, geometry, state, moved, dt, t_ms);
    }

    // Accumulation.
    double evapotranspiration = soilEvaporation;
    for (int l = 1; l <= landuseLayers; ++l) {
      const auto li = static_cast<std::size_t>(l);
      if (!work.valid[li])
        continue;
      out.realTranspiration[li] += work.real[li];
      evapotranspiration += work.real[li];
    }
    out.realTranspiration[0] += evapotranspiration;
    out.soilEvaporation += soilEvaporation;
    // Only what left the drained layer counts: the balance may have cut its outflow.
    if (fluxCell.drainageLevel >= 1 && fluxCell.drainageLevel < g)
      out.drainage +=
          std::min(state.drainage_rate,
                   state.interflow_out[static_cast<std::size_t>(fluxCell.drainageLevel)]) *
          t_ms;
    out.directflow += surface.direct;
    out.interflow += interflowSum * t_ms;
    out.macropore += macropore;
    out.recharge += r;
    (r >= 0.0 ? out.percolation : out.capillaryRise) += r;
    out.infiltrationExcess += surface.excess;
    out.totalInfiltration += surface.infiltration;
    out.riverInfiltration += state.river_infiltration_sum * t_ms;
    out.riverExfiltration += state.exfiltration_sum * t_ms;
    out.baseflow += qb * t_ms;
    out.balance.evapotranspiration += evapotranspiration;

    // Root zone and column.
    const std::span<const double> theta(state.theta.data(), static_cast<std::size_t>(n) + 1);
    if (rootMax > 0.0) {
      out.sb1 = IntegrateOverDepth(geometry.dz, geometry.theta_s, n, theta, 1, 0.0, rootMax,
                                   settings.noData) /
                rootMax;
      out.meanSuction = soil.Suction(1, IntegrateOverDepth(geometry.dz, geometry.theta_s, n, theta,
                                                           0, 0.0, rootMax, settings.noData));
    } else {
      out.sb1 = state.theta[1];
    }
    out.sb2 = IntegrateOverDepth(geometry.dz, geometry.theta_s, n, theta, 1, 0.0, kColumnBottom,
                                 settings.noData) *
              1000.0;
    out.root = 1000.0 * rootMax;

    if (k == steps) {
      out.lastTranspiration[0] = soilEvaporation;
      out.lastInfiltration = surface.infiltration;
      for (int j = 1; j <= n; ++j) {
        const auto i = static_cast<std::size_t>(j);
        out.lastTranspiration[i] = state.transpiration[i] * t_ms;
        out.lastInterflow[i] = state.interflow_out[i] * t_ms;
      }
    }
  }

  if (heat != nullptr)
    heat->thaw = ColumnThawOutputs(heat->cell, *heat->settings, geometry, state, *heat->work);
  const auto g = static_cast<std::size_t>(state.groundwater_layer);
  out.storageCoefficient = std::max(0.01, geometry.theta_s[g] - geometry.theta_fc[g]);
  out.balance.directRunoff = out.directflow;
  out.balance.interflow = out.interflow;
  out.balance.baseflow = out.baseflow;
  out.balance.riverInfiltration = out.riverInfiltration;
  out.balance.riverExfiltration = out.riverExfiltration;
  out.balance.storageAfter =
      ColumnWaterDepth(geometry, state) * 1000.0 + (ponding ? cell.ponding : 0.0);
  for (int k = 0; k <= n; ++k) {
    const auto i = static_cast<std::size_t>(k);
    stacks.theta[i] = k == 0 ? stacks.theta[0] : state.theta[i];
    stacks.hydraulicHeads[i] = k == 0 ? stacks.hydraulicHeads[0] : state.head[i];
    stacks.qDown[i] = state.flux[i];
  }
}

} // namespace tavro
