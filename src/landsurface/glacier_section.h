// The control-file sections "[ice_firn]" (glacier melt, glacier reservoirs,
// dynamic glaciers) and "[permafrost]" (thaw of frozen ground under a
// snow-free surface) of the snow module, with the checks of their values.
#pragma once

#include "landsurface/glacier/dynamic_glaciers.h"
#include "landsurface/glacier/glacier_melt.h"
#include "landsurface/snow_section.h"
#include "raster/output/module_statistic.h"

#include <string>

namespace tavro {

class modelobject;

struct IceFirnSection {
  static constexpr int ValueExitCode = 80;
  static constexpr int NameExitCode = 103;

  glacier::MeltParameters Melt; // method, degree-day and melt factors
  double Aice_min = 0.0;
  double Aice_max = 0.0;
  double Asnow_min = 0.0;
  double Asnow_max = 0.0;
  double kice_els = 0.0; // storage constants of the reservoirs, steps
  double kfirn_els = 0.0;
  double ksnow_els = 0.0;
  double InitialQice = 0.0;
  double InitialQfirn = 0.0;
  double InitialQsnow = 0.0;
  SnowGridFile FirnMelt; // "melt_from_firn"
  StatisticsFile FirnMeltTable;
  SnowGridFile IceMelt; // "melt_from_ice"
  StatisticsFile IceMeltTable;
  StatisticsFile TotalMeltTable;
  StatisticsFile SnowMeltTable; // "snow_melt_from_ice_areas__"

  // Dynamic methods only.
  int GlacierReadGrid = 0;
  int FirnLevels = 0;
  double FirnBase = 0.0;
  double DeltaFirnPerMetre = 0.0; // mm per metre above the base
  int GMBEvalDay = 0;
  int GMBEvalMonth = 0;
  glacier::GlacierParameters Glaciers; // volume-area relation, bands, new cells
  SnowGridFile FirnStack;              // "firn_WE_stack"
  StatisticsFile FirnTable;
  SnowGridFile MassBalance;    // "GlacierMassBalance"
  SnowGridFile OldMassBalance; // "OldGlacierMassBalance"
  StatisticsFile MassBalanceTable;
  StatisticsFile MassBalanceGlacierTable;
  StatisticsFile SnowWithoutGlaciersTable;
  SnowGridFile SolidOnGlacier;
  SnowGridFile LiquidOnGlacier;
  SnowGridFile TotalOnGlacier;
  SnowGridFile MeltOnGlacier;
  SnowGridFile SurfaceTemperatureOnGlacier;
  SnowGridFile SnowTemperatureOnGlacier;
  SnowGridFile EvaporationOnGlacier;
  double MaxSnowPackToCreateGlacier = 1000.0; // mm
};

// Reads "[ice_firn]" on from the module's open control file (positioned
// after the section header). Exit codes: 17 for an unreadable described
// value, 80 for a method outside 1, 2, 11, 12, 13, short rows 25 to 27 and
// values out of range, 103 for a static qglac file name without ".".
IceFirnSection ReadIceFirnSection(modelobject &module, const std::array<int, 14> &daysPerMonth);

// "a.b.txt" -> "a.b_qsgl_.txt"; empty when the name holds no ".".
std::string SnowOnGlacierFileName(const std::string &totalMeltFile);

// Refuses a firn stack of fewer than one layer (80).
void CheckFirnLevels(modelobject &module, int levels);

struct PermafrostSection {
  int Method = 1;
  double MinSnowAgeRefreeze = 0.0; // days
  double MaxSWESnowFree = 0.0;     // mm
  StatisticsFile ThawDepthTable;
  double ReducedKsat = 0.0; // m/s
};

// Reads "[permafrost]" on from the open control file; a method other than 1
// is fatal (80).
PermafrostSection ReadPermafrostSection(modelobject &module);

} // namespace tavro
