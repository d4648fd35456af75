// The grids of the soil-water module as plain data: the grids of other
// objects it reads (links, not owned) and the grids and stacks it owns and
// registers, each with its registry entry. The column solver works on these
// members directly, row by row over the module's own cells.
//
// Rows held: "strip" is the process's strip, "extended" the strip widened by
// one row at each end where the raster continues, "whole on rank 0" every row
// on rank 0 and the strip (or the extended strip) elsewhere. An own grid that
// a condition leaves out stays unallocated with entry 0.
#pragma once

#include "kernel/grid.h"
#include "kernel/one_based_array.h"

#include <vector>

namespace tavro {

// The grids of one land-use layer d (layers 1..LanduseLayerCount).
struct LanduseLayerLinks {
  const Grid *Landuse = nullptr;                // "landuse%d": record index, -9999 without
  const Grid *RootDepth = nullptr;              // "root_depth%d", m
  const Grid *VegetationCover = nullptr;        // "vegetation_coverage_degree%d"
  const Grid *LeafAreaIndex = nullptr;          // "leaf_area_index%d"
  const Grid *CanopyResistance = nullptr;       // "SurfaceCanopyResistance%d", s/m
  const Grid *InterceptionResistance = nullptr; // "SurfaceIntercepResistance%d", s/m
  const Grid *RoughnessLength = nullptr;        // "RoughnessLength%d", m
};

// Grids of the set-up and of the modules built before, read (and a few
// written, as noted) by the soil-water module.
struct SoilWaterLinks {
  const Grid *Subbasins = nullptr; // "zonegrid_soilmodel"
  Grid *Elevation = nullptr;       // registry entry 2, m; lowered in lake cells
  // Elements 1..LanduseLayerCount.
  OneBasedArray<LanduseLayerLinks> Layers;
  // Elements 0..LanduseLayerCount (0: the cell's total), mm per step.
  std::vector<Grid *> PotentialTranspiration; // "pot_transpiration%d"
  std::vector<Grid *> RealTranspiration;      // "real_transpiration%d", added to
  const Grid *SurfaceEvaporationResistance = nullptr;
  const Grid *Albedo = nullptr;
  Grid *PotentialEvaporation = nullptr; // "potential_evaporation", mm per step
  Grid *RealEvaporation = nullptr;      // "real_evaporation", added to
  Grid *Slope = nullptr;                // "slope_angle", degrees; 0 in saturated lake cells
  const Grid *SoilTypes = nullptr;      // "soil_types": soil record index
  // Groundwater layer 1 (optional); the storage coefficient is written.
  Grid *GwStorageCoefficient = nullptr; // "gw_storage_coeff_1"
  const Grid *GwKx = nullptr;           // "gw_k_x_1"
  const Grid *GwKy = nullptr;           // "gw_k_y_1"
  Grid *MaxPonding = nullptr;           // "max_ponding_storage", mm (read in m)
  const Grid *DrainageDepth = nullptr;  // m
  const Grid *DrainageDistance = nullptr;
  const Grid *ClayDepth = nullptr;          // m
  const Grid *SnowStorageSolid = nullptr;   // "snowstorage_solid", mm (optional)
  const Grid *FlowTimes = nullptr;          // "flow_times" (optional)
  const Grid *Temperature = nullptr;        // heat on: air temperature, degC
  Grid *LowerBoundaryTemperature = nullptr; // "T_Lower_Boundary_Condition", degC
  const Grid *LowerBoundaryHeatFlux = nullptr;
  bool HasLowerBoundaryHeatFlux = false;
  const Grid *PermafrostThawDepth = nullptr; // m, negative below the surface
  const Grid *IrrigationCodes = nullptr;     // "irrigation_codes": irrigation record index
  Grid *Etr2Etp = nullptr;                   // "ETR2ETP", found or the module's own
  const Grid *SiltingUp = nullptr;           // "DirectRunoffSiltingUp" or "SurfStorSiltingUp", mm
  int SiltingUpIsStorage = 0;                // 1 for "SurfStorSiltingUp"
  Grid *Glacier = nullptr;          // glacier fraction 0..1 ("GlacierizedCells" or "ice_firn")
  const Grid *GlacierOld = nullptr; // "GlacierizedCellsOld"
  const Grid *GlacierMassBalance = nullptr;
  const Grid *LakeCodes = nullptr; // "lake_codes": lake cell where >= 0
  const Grid *HydrologicResponseUnits = nullptr;
  const Grid *MasterHydrologicResponseUnits = nullptr;
  // With the groundwater module coupled.
  const Grid *RiverDepth = nullptr;       // "river_depth", m
  const Grid *RiverWidth = nullptr;       // "river_width", m
  const Grid *RiverLinks = nullptr;       // "river_links": subbasin code of the river
  const Grid *Kolmation = nullptr;        // "kolmation"
  const Grid *AquiferThickness = nullptr; // "aquifer_thickness_1", m
  Grid *WaterInput = nullptr;             // water reaching the soil surface, mm per step
  int WaterInputIndex = 0;
};

// A registered stack with its level-1 plane, which the grid output keeps
// aggregates of. Levels 0..MaxSoilLayers; level i >= 1 is soil layer i.
struct SoilStack {
  Stack Levels;
  Grid Plane;
  int Index = 0;
};

// A registered grid of the module.
struct SoilGrid {
  Grid Values;
  int Index = 0;
};

// The grids and stacks the module owns.
struct SoilWaterGrids {
  SoilStack Theta;           // m3/m3; level 0 theta_s of layer 1
  SoilStack GeodeticHeads;   // m; level 0 surface, level i bottom of layer i
  SoilStack HydraulicHeads;  // m
  SoilStack QDown;           // m/s across the bottom of each layer
  SoilStack SoilTemperature; // degC, heat on ("Soil_Temperature_Stack")
  bool SoilTemperatureRead = false;
  SoilGrid LowerBoundaryTemperature; // own only when computed
  SoilGrid GroundwaterDistance;      // m, negative below the surface; extended strip
  SoilGrid GroundwaterLevel;         // layer number, 0 = none
  SoilGrid ThetaInGwLevel;           // m3/m3
  SoilGrid Baseflow;                 // mm; whole on rank 0
  SoilGrid Ponding;                  // mm; whole on rank 0, extended elsewhere
  SoilGrid QDownExt;                 // whole on rank 0
  SoilGrid SB1;                      // mean root-zone water content
  SoilGrid MeanThetaInRootZone;      // suction at SB1, m
  SoilGrid IrrigationAmounts;        // mm
  SoilGrid MaxPumping;
  SoilGrid SBLow;         // water content at which irrigation starts
  SoilGrid SBHigh;        // water content at which irrigation stops
  SoilGrid Etr2Etp;       // own only when no grid of that name exists
  SoilGrid GwTableExtern; // m, geodetic height from the coupling
  SoilGrid Balance;
  SoilGrid TangensBeta; // slope in radians
  SoilGrid SB2;
  SoilGrid MacroporeInfiltration;
  SoilGrid NumberOfSubsteps; // methode 3
  SoilGrid Root;
  SoilGrid GroundwaterRecharge;
  SoilGrid CapillarUprise;
  SoilGrid Percolation;
  SoilGrid DirectFlow;
  SoilGrid Interflow;
  SoilGrid InfiltrationExcess;
  SoilGrid TotalInfiltration;
  SoilGrid InfiltrationSaturation;
  SoilGrid FrozenSoilInGroundwater; // m, profile depth; extended strip
  SoilGrid ThawDepth;               // "ThawDepthTMod"; extended strip
  SoilGrid DrainageFlow;
  SoilGrid DrainageLevel; // layer of the drain, 0 = none, -1 = lake
  // With the groundwater module coupled, mm per step.
  SoilGrid RiverInfiltration; // "river_infiltration"
  SoilGrid RiverExfiltration; // "river_exfiltration"
  // With ponding, mm summed over the calls of a model step: the pond's own
  // evaporation, exchange and overflow (see ColumnStepOutputs), which a lake
  // on the cell books.
  SoilGrid PondEvaporation; // "pond_evaporation"
  SoilGrid PondExchange;    // "pond_exchange"
  SoilGrid PondOverflow;    // "pond_overflow"
};

// Per subbasin: whether it has glacier cells, the sum of their glacier
// fractions and the sum of the unglacierized fractions of its cells.
struct GlacierRecord {
  bool HasGlacier = false;
  double GlacierSum = 0.0;
  double UnglacierizedSum = 0.0;
};

} // namespace tavro
