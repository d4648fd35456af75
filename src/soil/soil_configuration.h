// The configuration of the soil-water module as one plain struct, and its
// readers: the section "[unsatzon_model]" (positional values, statistics and
// grid file names, the control point, the subbasin table, the state source),
// "[heat_transfer]", "[unsatzon_tuning]" and the soil-water line of
// "[permafrost]". The readers work on an open control-file copy and end the
// run through the log with the documented exit codes; they do no MPI and
// touch no grid, so a text fixture tests them.
//
// Units: conductivities in m/s, depths in m, temperatures in degC, the
// storage constants of the subbasin table in minutes (read in hours).
#pragma once

#include "raster/output/module_statistic.h"
#include "soil/subbasin_parameter_table.h"

#include <array>
#include <cstdio>
#include <string>
#include <string_view>

namespace tavro {

class ControlFileReader;
class DiagnosticsLog;

// A file name with the code read beside it (statistics code or writecode).
using FileAndCode = StatisticsFile;

// The statistics files of "[unsatzon_model]" in the order they are read.
enum class SoilStatistic {
  QDRAIN = 1,
  GWSTAND,
  GWN,
  SB_1,
  SB_2,
  ROOT,
  INFEX,
  POND,
  QD,
  QI,
  QB,
  Qg,
  GWIN,
  GWEX,
  MACRO,
  INFILT,
};
inline constexpr int kSoilStatisticCount = 16;

// The grid and stack files of "[unsatzon_model]" in the order they are read.
enum class SoilGridFile {
  SB_1 = 1,       // "SB_1_grid"
  SB_2,           // "SB_2_grid"
  ROOT,           // "ROOTgrid"
  Theta,          // stack "theta"
  HydraulicHeads, // stack "hydraulic_heads"
  GeodeticHeads,  // stack "geodetic_heads"
  QDown,          // stack "q_down"
  GwDistance,     // "groundwater_distance"
  ThetaInGwLevel, // "Theta_in_GWLEVEL"
  GwRecharge,     // "groundwater_recharge"
  GwLevel,        // "groundwater_level"
  DrainageFlow,   // "drainage_flow"
  Saturation,     // "infiltration_saturation"
  InfiltrationExcess,
  DirectFlow, // "directflow"
  Interflow,  // "interflow"
  Baseflow,   // "baseflow"
  RiverInfiltration,
  RiverExfiltration,
  Ponding,        // "ponding_storage"
  CapillarUprise, // "Capillar_Uprise"
  Percolation,    // "Percolation"
  Macropore,      // "macropore_infiltration"
  Irrigation,     // "irrigation_amounts"
};
inline constexpr int kSoilGridFileCount = 24;

// The six control-point files (their names carry the output directory).
struct ControlPointFileNames {
  std::string Qbottom;
  std::string Theta;
  std::string Hhyd;
  std::string Otherdata;
  std::string EtrDetail;
  std::string Interflow;
};

// Values of "[heat_transfer]"; the defaults hold when the section is missing
// or its first value is not above 0.
struct HeatTransferConfiguration {
  int HeatTransferActive = 0; // above 0: the soil heat model is on
  int HeatTransferMethod = 0;
  double dTModLowBoundBase = 12.0; // degC
  double dTModLapseRate = -0.007;  // K/m
  double dTModCDrySoil = 800.0;    // J/(kg K)
  double dTModRhoDrySoil = 1500.0; // kg/m3
  double dTModLamDrySoil = 0.58;   // W/(m K)
  double dTModKmin = 1e-10;        // minimum relative conductivity of frozen soil
  double dTModLamWat = 0.5562;     // W/(m K)
  double dTModLamIce = 2.33;       // W/(m K)
  double dTModCWater = 4187.0;     // J/(kg K)
  double dTModCIce20 = 1940.0;     // J/(kg K) at -20 degC
  double dTModCIce0 = 2090.0;      // J/(kg K) at 0 degC
  double dTModLatHeat = 334000.0;  // J/kg
  double dTModRhoWater = 1000.0;   // kg/m3
  double dTModFactor = 1.22;       // factor of the freezing curves
  double dTModSEForStat = 0.5;
  double dTModShortestStep = 60.0;   // s
  double dTModLongestStep = 1800.0;  // s
  double dTModNFactorFreezing = 1.0; // surface n-factor while freezing
  double dTModNFactorThawing = 1.0;  // surface n-factor while thawing
  std::string TemperatureFile;       // control-point temperatures (output directory in front)
  FileAndCode TemperStatistics;      // the thaw-depth statistics table
  FileAndCode TemperatureStack;      // "Soil_Temperature_Stack"
  FileAndCode ThawDepthGrid;         // "ThawDepthTMod"
};

// Values of "[unsatzon_tuning]".
struct TuningConfiguration {
  double max_error = 1e-5; // convergence bound of the column iteration
  double max_iterations = 100.0;
};

// Everything "[unsatzon_model]" holds after the flow control parameter and
// the time interval.
struct SoilConfiguration {
  int methode = 0;             // 2 fixed step, 3 dynamic step
  int surface_interaction = 0; // 0 none, 1, 2 (one process only)
  int pond_use = 0;            // 0 or 1
  int drainage_use = 0;        // 0 or 1
  int clay_use = 0;            // 0 or 1
  double ksat_clay = 0.0;      // m/s
  double ini_gw_level = 0.0;   // divisor of the initial groundwater layer, above 1
  // Elements 1..16 in the order of SoilStatistic (element 0 unused).
  std::array<FileAndCode, kSoilStatisticCount + 1> Statistics{};
  // Elements 1..24 in the order of SoilGridFile (element 0 unused).
  std::array<FileAndCode, kSoilGridFileCount + 1> Grids{};
  int control_row = 0; // 0: no control point
  int control_column = 0;
  ControlPointFileNames ControlPointFiles;
  SubbasinParameters Subbasins;
  int readgrids = 0;           // 0 computed, 1 read with state section, 2 distance read, 3 read
  std::string StorageFileName; // with "_<rank>" appended
  // Only with methode 3.
  double dParameterMinStep = 0.0; // s
  FileAndCode SubstepsStatistics;
  FileAndCode SubstepsGrid; // "number_of_substeps"

  HeatTransferConfiguration Heat;
  TuningConfiguration Tuning;
  double ReducedKsat = 1e-9; // m/s, saturated conductivity of permafrost

  const FileAndCode &Statistic(SoilStatistic which) const {
    return Statistics[static_cast<std::size_t>(which)];
  }
  const FileAndCode &Grid(SoilGridFile which) const {
    return Grids[static_cast<std::size_t>(which)];
  }
  // readgrids 1 and 3 read the state grids and stacks.
  bool ReadsState() const { return readgrids == 1 || readgrids == 3; }
  // The initial state is computed from ini_gw_level (readgrids 0 and others).
  bool ComputesFromIniGwLevel() const { return readgrids != 1 && readgrids != 2 && readgrids != 3; }
};

// What the section reader needs of the run.
struct SoilSectionContext {
  int rows = 0; // raster rows and columns, the bounds of the control point
  int columns = 0;
  int processCount = 1; // surface_interaction 2 needs a single process
  int rank = 0;         // appended to the storage file name
  std::string outputDirectory;
  std::string moduleName = "unsatzon_model";
  SubbasinRanks codes; // the subbasins of "zonegrid_soilmodel"
};

// Exit codes of the section's checks.
inline constexpr int kControlRowExitCode = 8;
inline constexpr int kControlColumnExitCode = 9;
inline constexpr int kSurfaceInteractionExitCode = 9;
inline constexpr int kMethodExitCode = 91;

// Reads "[unsatzon_model]" from the value after the time interval to the end:
// the values, the statistics and grid file names, the control point and its
// files, the subbasin table, readgrids and the state file name, and with
// methode 3 the dynamic-step values. Fatal: 17 for a value that cannot be
// read (and an ini_gw_level of 1 or less when the state is computed from
// it), 9 for surface_interaction 2 or more with several processes, 8 and 9
// for a control point outside the raster, 91 for another methode, 10 for the
// subbasin table.
SoilConfiguration ReadSoilSection(ControlFileReader &reader, const SoilSectionContext &context);

// Reads the open "[heat_transfer]" section from its first value on.
HeatTransferConfiguration ReadHeatTransferSection(ControlFileReader &reader,
                                                  const std::string &outputDirectory);

// Reads the lines of "[unsatzon_tuning]" from file (positioned after its
// header) up to the end of the file, an empty line or a line without a line
// break; a following section header does not stop it. A number that cannot
// be read after the "=" of a max_error or max_iterations line is fatal (17).
TuningConfiguration ReadTuningLines(std::FILE *file, DiagnosticsLog &log);

// Reads the soil-water value of the open "[permafrost]" section: four lines
// of the snow model are passed over, then the reduced saturated conductivity.
double ReadPermafrostReducedKsat(ControlFileReader &reader);

} // namespace tavro
