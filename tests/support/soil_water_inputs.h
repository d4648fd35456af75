// What an active soil-water module needs, for the tests that build one: the
// whole "[unsatzon_model]" section written from a few choices, a soil table
// of van Genuchten soils read through the soil table's own block reader, and
// the grids of the set-up and of the land-surface modules (landuse and
// vegetation parameters of one land-use layer, evapotranspiration, slope,
// soil types) registered in a test's registry.
#pragma once

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid.h"
#include "kernel/grid_registry.h"
#include "tables/soil_table_reader.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace tavro::test {

// The choices of a "[unsatzon_model]" section.
struct SoilSectionText {
  int flowControl = 1;
  double timeStep = 1440.0;
  int methode = 2;
  int surfaceInteraction = 0;
  int pond = 0;
  int drainage = 0;
  int clay = 0;
  double iniGwLevel = 2.0;
  std::string controlPoint = "0 0";
  // The subbasin table: the code row and the six value rows.
  std::string codeRow = "1 3";
  std::vector<std::string> valueRows = {"1 2", "10 20", "0.5 0.5", "20 -1", "1 1", "0 0"};
  int readgrids = 0;
  std::string storageFile = "state.txt";
  // Statistics codes (0: off) and file name of every table; grid names are
  // "soilgrid_<order>.asc" with writecode 0 unless given here.
  int statisticsCode = 0;
  std::string sb2File = "sb2.stat";
  std::vector<std::pair<int, std::string>> gridNames;
};

// The values of the section after its flow control parameter and time interval.
inline std::string SoilSectionValues(const SoilSectionText &s) {
  std::string t =
      Concat(s.methode, " methode\n", s.surfaceInteraction, " surface water interaction\n", s.pond,
             " pond_use\n", s.drainage, " drainage_use\n", s.clay, " clay_use\n",
             "1e-8 ksat of the clay layer\n", s.iniGwLevel, " ini_gw_level\n");
  const char *labels[] = {"qdrain", "gwstand", "gwn", "sb1", "sb2",  "root", "infex", "pond",
                          "qd",     "qi",      "qb",  "qg",  "gwin", "gwex", "macro", "infilt"};
  for (const char *label : labels) {
    const std::string name = std::string(label) == "sb2" ? s.sb2File : Concat(label, ".stat");
    t += Concat(name, " ", s.statisticsCode, " statistics file\n");
  }
  for (int g = 1; g <= 24; ++g) {
    std::string name = Concat("soilgrid_", g, ".asc");
    for (const auto &[order, given] : s.gridNames)
      if (order == g)
        name = given;
    t += Concat(name, " grid file\n0 writecode\n");
  }
  t += s.controlPoint + " control row and column\n";
  for (const char *file : {"qbottom", "theta", "hhyd", "other", "etr", "interflow"})
    t += Concat(file, ".cp control-point file\n");
  t += s.codeRow + " subbasin codes\n";
  for (const std::string &row : s.valueRows)
    t += row + " values\n";
  t += Concat(s.readgrids, " readgrids\n", s.storageFile, " storage file\n");
  if (s.methode == 3)
    t += "1 minimum step\nsubsteps.stat 0\nsubsteps.asc grid\n0 writecode\n";
  return t;
}

inline std::string SoilSection(const SoilSectionText &s) {
  const std::string head = Concat("[unsatzon_model]\n", s.flowControl, " flow control parameter\n",
                                  s.timeStep, " time interval in minutes\n");
  return s.flowControl == 0 ? head : head + SoilSectionValues(s);
}

// A "[heat_transfer]" section that switches the heat model on with the
// default values.
inline std::string HeatSection(int active = 1) {
  std::string t = Concat("[heat_transfer]\n", active, " active\n");
  if (active <= 0)
    return t;
  t += "1 method\n0 unused\n0 unused\n";
  for (double v : {12.0, -0.007, 800.0, 1500.0, 0.58, 1e-10, 0.5562, 2.33, 4187.0, 1940.0, 2090.0,
                   334000.0, 1000.0, 1.22, 0.5, 60.0, 1800.0, 1.0, 1.0})
    t += Concat(v, " heat value\n");
  t += "temperature.cp\ntemper.stat 0\ntemper.stack\n0\nthawdepth.asc\n0\n";
  return t;
}

// A van Genuchten soil of layers layers of thickness m each, read by the soil
// table's block reader.
inline soil_class VanGenuchtenSoil(DiagnosticsLog &log, int code, int layers, double thickness,
                                   double thetaSat, double thetaRes, double alpha, double n,
                                   double ksat) {
  soil_class soil(code);
  ReadSoilBlock(log,
                Concat(code, " soil_", code, " {\n method = MultipleHorizons;\n layers = ", layers,
                       ";\n ksat = ", ksat, ";\n theta_sat = ", thetaSat,
                       ";\n theta_res = ", thetaRes, ";\n alpha = ", alpha, ";\n Par_n = ", n,
                       ";\n thickness = ", thickness, ";\n}\n"),
                soil);
  return soil;
}

// Loam and sandy loam of Carsel and Parrish (1988), layers of 0.15 m.
inline SoilTable LoamAndSandyLoam(DiagnosticsLog &log, int layers) {
  SoilTable table(2);
  table[0] = soil_class(2);
  table[1] = VanGenuchtenSoil(log, 1, layers, 0.15, 0.43, 0.078, 3.6, 1.56, 2.89e-6);
  table[2] = VanGenuchtenSoil(log, 2, layers, 0.15, 0.41, 0.065, 7.5, 1.89, 1.23e-5);
  return table;
}

// Grids registered by a test at the first free entries, each over rows
// first..last, kept alive as long as the object.
class RegisteredGrids {
public:
  RegisteredGrids(DiagnosticsLog &log, GridRegistry &registry, long rows, long columns)
      : log_(log), registry_(registry), rows_(rows), columns_(columns) {}

  Grid &Add(const std::string &identifier, long first, long last,
            const std::function<double(long, long)> &value) {
    Grid &grid = grids_.emplace_back(first, last, columns_, rows_, log_);
    for (long r = first; r <= last; ++r)
      for (long c = 1; c <= columns_; ++c)
        grid[r][c] = value(r, c);
    const int index = registry_.FirstFreeIndex();
    registry_.AddGrid(index, identifier, &grid, nullptr, 1, identifier, 0, first, last, columns_,
                      rows_, log_);
    return grid;
  }

  // The grids an active soil-water module links with one land-use layer
  // that are not registered yet: each 0 except "landuse1" and "soil_types"
  // (record 1 or soilType(r, c)) and "slope_angle" (slope degrees).
  void AddSoilModuleInputs(long first, long last, double slope,
                           const std::function<double(long, long)> &soilType) {
    const auto missing = [&](const char *identifier) {
      return registry_.FindGrid(identifier, false) == 0;
    };
    const auto zero = [](long, long) { return 0.0; };
    if (missing("landuse1"))
      Add("landuse1", first, last, [](long, long) { return 1.0; });
    for (const char *name :
         {"root_depth1", "vegetation_coverage_degree1", "leaf_area_index1",
          "SurfaceCanopyResistance1", "SurfaceIntercepResistance1", "RoughnessLength1",
          "pot_transpiration0", "real_transpiration0", "pot_transpiration1", "real_transpiration1",
          "SurfaceEvaporationResistance", "albedo", "potential_evaporation", "real_evaporation"})
      if (missing(name))
        Add(name, first, last, zero);
    if (missing("slope_angle"))
      Add("slope_angle", first, last, [slope](long, long) { return slope; });
    if (missing("soil_types"))
      Add("soil_types", first, last, soilType);
  }

private:
  DiagnosticsLog &log_;
  GridRegistry &registry_;
  long rows_;
  long columns_;
  std::deque<Grid> grids_;
};

} // namespace tavro::test
