// What the soil-water module keeps for each tracer beside its TracerRecord:
// the stack of the tracer in every layer (level 0 the water at the
// surface) with its concentration grid, the grids of the tracer in the
// direct runoff, the interflow and the baseflow of a call, the linked
// concentrations of the water input, the silting-up water and the aquifer,
// and the exact sums of a step before they are reduced to rank 0.
#pragma once

#include "kernel/grid.h"
#include "raster/handover/runoff_concentration.h"
#include "raster/parallel/zone_reduction.h"
#include "soil/column/solute_transport.h"
#include "soil/control_point_files.h"

#include <optional>
#include <vector>

namespace tavro {

struct SoilTracerGrids {
  SoluteKind kind; // decay: the fraction left after one call
  Stack storage;   // "concstor_tracer_<r>_unsatzon_model", levels 0..n
  Grid concentration;
  Grid direct;    // "_CONC_QD_<r>_": an amount, or a concentration when evaporating
  Grid interflow; // "_CONC_QI_<r>_"
  // The tracer of the water the baseflow row counts (the baseflow, or with
  // coupling the exfiltration), as the column released it: like direct.
  Grid baseflow;
  int storageIndex = 0, directIndex = 0, interflowIndex = 0;
  const Grid *input = nullptr;     // concentration of the water input
  const Grid *siltingUp = nullptr; // of the silting-up water, when a module keeps one
  Grid *groundwater = nullptr;     // the aquifer's layer-1 concentration (coupled)
  int groundwaterIndex = 0;
  ZoneAdditions additionsQD; // the tracer row of the step
  ZoneAdditions additionsQI;
  std::vector<ExactZoneSums> baseflowSums; // subbasins 0..n
  // The concentrations of the control cell's layers (on its process only).
  std::optional<ControlPointBuffer> point;
};

} // namespace tavro
