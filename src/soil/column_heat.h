// The heat part of one column step: the pre-stage that fixes the number of
// heat steps and the liquid shares, the heat steps after each iteration, and
// the thaw outputs at the end of the cell. Works on the cell's column of the
// soil temperature stack with the soil table's freezing curves and heat
// capacities and the heat kernels. No MPI, logging or grid access.
#pragma once

#include "soil/column/column_state.h"
#include "soil/column/soil_heat.h"

#include <span>
#include <vector>

namespace tavro {

class soil_class;

// The heat model's constants of a call.
struct ColumnHeatSettings {
  int method = 11; // 10 or less explicit, 11 implicit, 12 and more with the water
  double lamWater = 0.5562;
  double lamIce = 2.33;
  double latentHeat = 334000.0;
  double rhoWater = 1000.0;
  double cWater = 4187.0;
  double cIce0 = 2090.0;
  double cIce20 = 1940.0;
  double shortestStep = 60.0;
  double longestStep = 1800.0;
  double seForStat = 0.5;
  bool fluxLowerBoundary = false; // the lower boundary is a heat flux
};

// One cell's heat inputs and its temperature column (levels 0..n).
struct ColumnHeatCell {
  const soil_class *soil = nullptr;
  const SaturatedHeatConductivity *saturated = nullptr; // of the cell's soil type
  std::span<double> T;
  double airT = 0.0;
  double lowerT = 0.0;
  double lowerFlux = 0.0; // W/m2, with the heat-flux lower boundary
  double nFactor = 1.0;
  double macroporeT = 0.0; // temperature of the water entering the macropores
};

// Scratch of one thread.
struct ColumnHeatWork {
  explicit ColumnHeatWork(int layers)
      : f(layers + 1), lambda(layers + 1), s(layers + 1), C(layers + 1), q(layers + 1),
        change(layers + 1), old(layers + 1), tridiagonal(layers) {}
  std::vector<double> f, lambda, s, C, q, change, old;
  TridiagonalWork tridiagonal;
};

// Thaw outputs of a cell.
struct ThawOutputs {
  double thawDepth = 0.0;           // m, negative below the surface
  double frozenInGroundwater = 0.0; // m
};

// Pre-stage: liquid shares into state (and use_liquid_fraction set), and the
// heat step count H of one trial step over stepSeconds. T is not changed.
int HeatPreStage(const ColumnHeatCell &cell, const ColumnHeatSettings &settings,
                 const ColumnGeometry &geometry, ColumnState &state, double stepSeconds,
                 ColumnHeatWork &work);

// One heat step of seconds from the stored temperatures; the liquid shares
// in state follow the new temperatures.
void HeatStep(ColumnHeatCell &cell, const ColumnHeatSettings &settings,
              const ColumnGeometry &geometry, ColumnState &state, double seconds,
              ColumnHeatWork &work);

// Thaw depth and frozen soil in the groundwater of the stored temperatures.
ThawOutputs ColumnThawOutputs(const ColumnHeatCell &cell, const ColumnHeatSettings &settings,
                              const ColumnGeometry &geometry, const ColumnState &state,
                              ColumnHeatWork &work);

} // namespace tavro
