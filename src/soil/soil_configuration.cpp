// Readers of the soil-water module's sections: "[unsatzon_model]" value by
// value in the documented order with its checks, "[heat_transfer]",
// "[unsatzon_tuning]" line by line, and the soil-water line of "[permafrost]".
#include "soil/soil_configuration.h"

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/string_helpers.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

namespace tavro {
namespace {

constexpr int kControlFileExitCode = 17;

// Descriptions of the statistics lines, in the order of SoilStatistic.
constexpr const char *kStatisticLabels[kSoilStatisticCount] = {
    "QDRAIN", "GWSTAND", "GWN", "SB_1_", "SB_2_", "ROOT", "INFEX", "POND",
    "QD",     "QI",      "QB",  "Qg",    "GWIN",  "GWEX", "MACRO", "INFILT"};

// Descriptions of the grid name and writecode lines, in the order of SoilGridFile.
struct GridLines {
  const char *name;
  const char *code;
};
constexpr GridLines kGridLines[kSoilGridFileCount] = {
    {"name of the SB05-Grids in ", "Writegrid SB05-Grid in   "},
    {"name of the SB1_-Grids in ", "Writegrid SB1_-Grid in   "},
    {"name of the WURZ-Grids in ", "Writegrid WURZ-Grid in   "},
    {"name of the Theta_stacks in ", "Writecode Theta in "},
    {"name of the hh-stacks in ", "Writecode hh in "},
    {"name of the hgeo-stacks in ", "Writecode hgeo  in "},
    {"name of the q_unten-stacks in ", "Writecode qunten in "},
    {"name of the GWSTAND-Grids in ", "Writegrid GWSTAND-Grid in   "},
    {"name of the GWtheta-Grids in ", "Writegrid GWtheta-Grid in   "},
    {"name of the GWN-Grids in ", "Writegrid GWN-Grid in   "},
    {"name of the GWLEVEL-Grids in ", "Writegrid GWLEVEL-Grid in   "},
    {"name of the QDRAIN-Grids in ", "Writegrid QDRAIN-Grid in   "},
    {"name of the saturation grid in ", "Writegrid Satt-Merker in "},
    {"name of the infiltration excess grid in ", "Writegrid INFEX in "},
    {"name of the QD-Grids in ", "Writegrid QD-Grid in   "},
    {"name of the QI-Grids in ", "Writegrid QI-Grid in   "},
    {"name of the DELTAGW-Grids in ", "Writegrid DELTAGW-Grid in   "},
    {"name of the GWIN-Grids in ", "Writegrid GWIN-Grid in   "},
    {"name of the GWEX-Grids in ", "Writegrid GWEX-Grid in   "},
    {"name of the POND-Grids in ", "Writegrid POND-Grid in   "},
    {"name of the GWN-Uprise-Grids in ", "Writegrid GWN-Uprise-Grid in   "},
    {"name of the GWN-PERCOL-Grids in ", "Writegrid GWN-PERCOL-Grid in   "},
    {"name of MACROPORE-Infiltration-Grids for ", "Writegrid MACROPORE-Infiltration-Grid in   "},
    {"name of the IRRIG-Grids in ", "Writegrid IRRIG-Grid in   "},
};

std::string PrefixedName(DiagnosticsLog &log, const std::string &directory, std::string name) {
  AddPathPrefix(directory, name, log);
  return name;
}

// Steps 1 to 7: the scheme, the options and the two reals.
void ReadOptions(ControlFileReader &reader, const SoilSectionContext &context,
                 SoilConfiguration &c) {
  c.methode = reader.ReadInt(" methode of ");
  c.surface_interaction = reader.ReadInt(" surface water interaction parameter of ");
  if (c.surface_interaction > 1 && context.processCount > 1)
    ThrowFatal(reader.Log(), kSurfaceInteractionExitCode,
               Concat("in modul ", context.moduleName,
                      ":\nparameter for surface_interaction (actual value: ", c.surface_interaction,
                      ") can only be 0 or 1 for MPI version when running more than one "
                      "instance!"));
  c.pond_use = reader.ReadInt(" pond parameter of ");
  c.drainage_use = reader.ReadInt(" drainage parameter of ");
  c.clay_use = reader.ReadInt(" clay parameter ");
  // The module links the grids of an option only for 1; other values would
  // leave the option half on.
  const std::pair<const char *, int> switches[] = {
      {"pond_use", c.pond_use}, {"drainage_use", c.drainage_use}, {"clay_use", c.clay_use}};
  for (const auto &[key, value] : switches)
    if (value != 0 && value != 1)
      ThrowFatal(reader.Log(), kControlFileExitCode,
                 Concat("error in control file, ", key, " (must be 0 or 1, found ", value, "); ",
                        context.moduleName));
  c.ksat_clay = reader.ReadDouble(" k_sat. for clay  ");
  c.ini_gw_level = reader.ReadDouble(" ini_gw_level  ");
}

// Steps 8 to 11: the statistics and grid files, the control point and its files.
void ReadFiles(ControlFileReader &reader, const SoilSectionContext &context, SoilConfiguration &c) {
  for (int s = 1; s <= kSoilStatisticCount; ++s) {
    auto [name, code] =
        reader.ReadWordAndInt(Concat("name of the ", kStatisticLabels[s - 1], "statfiles in "));
    c.Statistics[static_cast<std::size_t>(s)] = {std::move(name), code};
  }
  for (int g = 1; g <= kSoilGridFileCount; ++g) {
    FileAndCode &file = c.Grids[static_cast<std::size_t>(g)];
    file.name = reader.ReadWord(kGridLines[g - 1].name);
    file.code = reader.ReadInt(kGridLines[g - 1].code);
  }
  std::tie(c.control_row, c.control_column) =
      reader.ReadTwoInts("control_row/column for control point in ");
  ControlPointFileNames &f = c.ControlPointFiles;
  const std::pair<std::string *, const char *> files[] = {
      {&f.Qbottom, "Name of the Qbottom-file in "},
      {&f.Theta, "Name of the Theta-file in "},
      {&f.Hhyd, "Name of the hhyd-file in "},
      {&f.Otherdata, "Name of the Otherdata file in "},
      {&f.EtrDetail, "Name of the etr-detail file in "},
      {&f.Interflow, "Name of the interflow file in "}};
  for (const auto &[name, label] : files)
    *name = PrefixedName(reader.Log(), context.outputDirectory, reader.ReadWord(label));
}

// Step 12.
void CheckControlPointAndMethod(DiagnosticsLog &log, const SoilSectionContext &context,
                                const SoilConfiguration &c) {
  if (c.control_row < 0 || c.control_row > context.rows)
    ThrowFatal(log, kControlRowExitCode,
               Concat("in modul ", context.moduleName, ":\nrow index (", c.control_row,
                      ") for output-cell must be between 1 and ", context.rows,
                      " (Input as row col) or 0 0 "));
  if (c.control_column < 0 || c.control_column > context.columns)
    ThrowFatal(log, kControlColumnExitCode,
               Concat("in modul ", context.moduleName, ":\ncolumn index (", c.control_column,
                      ") for output-cell must be between 1 and ", context.columns,
                      " (Input as row col) "));
  if (c.methode != 2 && c.methode != 3)
    ThrowFatal(log, kMethodExitCode,
               Concat("in modul ", context.moduleName, ":\ninvalid method (", c.methode,
                      ")\npossible values are:\n 2 for Finite Differences with fixed timestep\n "
                      "3 for Finite Differences with dynamically calculated timestep\n"));
}

// Steps 14 to 16.
void ReadStateSource(ControlFileReader &reader, const SoilSectionContext &context,
                     SoilConfiguration &c) {
  c.readgrids = reader.ReadInt("read control parameter for storage grids for ");
  // Below 2 the initial groundwater layer leaves no layer beneath it.
  if (c.ComputesFromIniGwLevel() && !(c.ini_gw_level > 1.0))
    reader.ControlFileError("ini_gw_level (must be greater than 1)", context.moduleName);
  c.StorageFileName =
      Concat(reader.ReadWord("name of the storage content file "), "_", context.rank);
  if (c.methode != 3)
    return;
  c.dParameterMinStep = reader.ReadDouble("minimum dynamic time step in secounds ");
  // The internal step count divides the call by it.
  reader.RequireAbove0("dParameterMinStep", c.dParameterMinStep);
  auto [name, code] = reader.ReadWordAndInt("name of the SUBSTEPSstatfiles in ");
  c.SubstepsStatistics = {std::move(name), code};
  c.SubstepsGrid.name = reader.ReadWord("name of SUBSTEPS-Grids for ");
  c.SubstepsGrid.code = reader.ReadInt("Writegrid SUBSTEPS-Grid in   ");
}

// The number after the first "=" of a tuning line.
double TuningValue(DiagnosticsLog &log, const std::string &line, const char *key) {
  const std::size_t equals = line.find('=');
  if (equals != std::string::npos) {
    const char *text = line.c_str() + equals + 1;
    char *end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (end != text && errno != ERANGE && std::isfinite(value))
      return value;
  }
  std::string shown = line;
  while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r'))
    shown.pop_back();
  ThrowFatal(log, kControlFileExitCode,
             Concat("error in control file, ", key,
                    " in [unsatzon_tuning] needs a number after \"=\": ", shown));
}

} // namespace

SoilConfiguration ReadSoilSection(ControlFileReader &reader, const SoilSectionContext &context) {
  SoilConfiguration c;
  ReadOptions(reader, context, c);
  ReadFiles(reader, context, c);
  CheckControlPointAndMethod(reader.Log(), context, c);
  c.Subbasins = ReadSubbasinParameterTable(reader.Handle(), reader.Log(), context.codes,
                                           context.moduleName, reader.FileName());
  ReadStateSource(reader, context, c);
  return c;
}

HeatTransferConfiguration ReadHeatTransferSection(ControlFileReader &reader,
                                                  const std::string &outputDirectory) {
  HeatTransferConfiguration h;
  h.HeatTransferActive = reader.ReadInt("");
  if (h.HeatTransferActive <= 0)
    return h;
  h.HeatTransferMethod = reader.ReadInt(" method of heat transfer modelling ");
  reader.ReadInt(""); // two lines that the model does not use
  reader.ReadInt("");
  const std::pair<const char *, double *> reals[] = {
      {" dTModLowBoundBase ", &h.dTModLowBoundBase},
      {" dTModLapseRate ", &h.dTModLapseRate},
      {" dTModCDrySoil ", &h.dTModCDrySoil},
      {" dTModRhoDrySoil ", &h.dTModRhoDrySoil},
      {" dTModLamDrySoil ", &h.dTModLamDrySoil},
      {" dTModKmin ", &h.dTModKmin},
      {" dTModLamWat ", &h.dTModLamWat},
      {" dTModLamIce ", &h.dTModLamIce},
      {" dTModCWater ", &h.dTModCWater},
      {" dTModCIce20 ", &h.dTModCIce20},
      {" dTModCIce0 ", &h.dTModCIce0},
      {" dTModLatHeat ", &h.dTModLatHeat},
      {" dTModRhoWater ", &h.dTModRhoWater},
      {" dTModFactor ", &h.dTModFactor},
      {" dTModSEForStat ", &h.dTModSEForStat},
      {" dTModShortestStep ", &h.dTModShortestStep},
      {" dTModLongestStep ", &h.dTModLongestStep},
      {" dTModNFactorFreezing ", &h.dTModNFactorFreezing},
      {" dTModNFactorThawing ", &h.dTModNFactorThawing},
  };
  for (const auto &[label, target] : reals)
    *target = reader.ReadDouble(label);
  // The heat step count halves the module step until it is short enough: a
  // limit not above 0 would never be met.
  RequireAbove0(reader.Log(), "dTModShortestStep", h.dTModShortestStep, "[heat_transfer]");
  RequireAbove0(reader.Log(), "dTModLongestStep", h.dTModLongestStep, "[heat_transfer]");
  h.TemperatureFile = PrefixedName(reader.Log(), outputDirectory,
                                   reader.ReadWord("Name of the temperature-file in "));
  auto [name, code] = reader.ReadWordAndInt("name of the temperstatfiles in ");
  h.TemperStatistics = {std::move(name), code};
  h.TemperatureStack.name = reader.ReadWord("name of the temper-stacks in ");
  h.TemperatureStack.code = reader.ReadInt("Writecode temper in ");
  h.ThawDepthGrid.name = reader.ReadWord("name of the thawdepth-grid (heat-tr.mod.) in ");
  h.ThawDepthGrid.code = reader.ReadInt("Writecode thawdepth (heat-tr.mod.) in ");
  return h;
}

TuningConfiguration ReadTuningLines(std::FILE *file, DiagnosticsLog &log) {
  TuningConfiguration t;
  constexpr std::size_t kLongestLine = 1199;
  for (;;) {
    const WholeLine whole = ReadWholeLine(file, kLongestLine);
    if (whole.atEnd || whole.tooLong || whole.text.empty() || whole.text.back() != '\n')
      break;
    const std::size_t start = whole.text.find_first_not_of(" \t");
    const std::string line = start == std::string::npos ? std::string() : whole.text.substr(start);
    if (line == "\n" || line == "\r\n")
      break;
    if (line.find("max_error") != std::string::npos)
      t.max_error = TuningValue(log, line, "max_error");
    else if (line.find("max_iterations") != std::string::npos)
      t.max_iterations = TuningValue(log, line, "max_iterations");
  }
  RequireAbove0(log, "max_iterations", t.max_iterations, "[unsatzon_tuning]");
  return t;
}

double ReadPermafrostReducedKsat(ControlFileReader &reader) {
  // The first four lines belong to the snow model.
  reader.ReadInt(" permafrost switch of the snow model ");
  reader.ReadDouble(" first permafrost value of the snow model ");
  reader.ReadDouble(" second permafrost value of the snow model ");
  reader.ReadWordAndInt(" permafrost grid of the snow model ");
  return reader.ReadDouble("reduced k_sat (in m/s)");
}

} // namespace tavro
