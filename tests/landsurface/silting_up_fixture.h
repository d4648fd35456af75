// What the silting-up module needs to be built in a test: its section (rows
// given as text, so a test can change one), a small raster with zones, the
// land-use layer, vegetation cover, soil, surface storage and water input
// grids it looks up, and land-use and soil tables with the tillage days,
// residue cover and grain sizes of their records. The grids that other
// modules make in a run ("vegetation_coverage_degree1", "throughfall0") are
// registered here by the test as stand-ins.
#pragma once

#include "kernel/grid.h"
#include "kernel/grid_registry.h"
#include "kernel/module_settings.h"
#include "landsurface/radiation_correction_fixture.h"
#include "raster/output/statistics_registry.h"
#include "support/setup_grids.h"
#include "tables/landuse_class.h"
#include "tables/soil_class.h"

#include <map>
#include <string>
#include <vector>

namespace tavro::test {

// The rows of "[SiltingUpModel]" after the time interval, by item number
// (3 the method, 16 the zone codes, 17 the minimum pauses, 27 the formula
// block); an empty text leaves the row out.
struct SiltingUpRows {
  std::map<int, std::string> rows{
      {3, "1 method"},
      {4, "sdisp.stat 0 statistics of the disposition"},
      {5, "qdsu.stat 0 statistics of the direct runoff"},
      {6, "sdisp.asc disposition grid"},
      {7, "0 writecode"},
      {8, "rainpause.asc rain pause grid"},
      {9, "0 writecode"},
      {10, "ekin.asc energy grid"},
      {11, "0 writecode"},
      {12, "tsbb.asc time since tillage grid"},
      {13, "0 writecode"},
      {14, "qdsu.asc direct runoff grid"},
      {15, "0 writecode"},
      {16, "1 2 zone codes"},
      {17, "2 2 minimum rain pauses (days)"},
      {18, "0 read the state grids"},
  };

  SiltingUpRows &Set(int item, std::string text) {
    rows[item] = std::move(text);
    return *this;
  }
  // Method 2 with the parameters A to H.
  SiltingUpRows &Method2(const std::vector<double> &parameters) {
    Set(3, "2 method");
    for (std::size_t i = 0; i < parameters.size(); ++i)
      Set(19 + static_cast<int>(i), std::to_string(parameters[i]) + " parameter");
    return *this;
  }
  // Method 3 with a formula block.
  SiltingUpRows &Method3(std::string block) {
    Set(3, "3 method");
    return Set(27, std::move(block));
  }
  std::string Text() const {
    std::string text;
    for (const auto &[item, line] : rows)
      if (!line.empty())
        text += line + "\n";
    return text;
  }
};

inline std::string SiltingUpSection(int flowControl, double minutes,
                                    const SiltingUpRows &rows = {}) {
  return "[SiltingUpModel]\n" + std::to_string(flowControl) + " flow control parameter\n" +
         std::to_string(minutes) + " time interval\n" + rows.Text();
}

// The built-in formulas of method 1 as a formula block (the energy per mm of
// rain capped at 76.2 mm/h, 0 at or below 0.05 mm/h).
inline std::string BuiltInFormulaBlock() {
  return "SiltingUpExpressions\n{\n"
         "  Z = 0.013 * (100*L)^(-1.03) * K^0.7 * (O + (O <= 0))^(-0.19) * (O > 0);\n"
         "  W = (P > 0.05) * (P < 76.2) * (11.89 + 8.73 * LOG10(P + (P <= 0.05)))"
         " + (P >= 76.2) * 28.33;\n"
         "  X = 12.2 * K^0.52 * (100*L)^(-0.64);\n"
         "  V = (X + (65 - X) * EXP(-Z * Q)) * R / 60;\n"
         "}";
}

// A land-use record with tillage days (none: {}) and a constant residue cover.
inline landuse_class SiltingUpLanduse(DiagnosticsLog &log, int code,
                                      const std::vector<int> &tillage, double residue) {
  LanduseParameters p;
  p.Code = code;
  p.Name = tillage.empty() ? "meadow" : "field";
  p.Method = landuse::VariableDayCount;
  p.FixPointCount = 2;
  p.JulDays = {-66, 100, 300};
  for (auto *list : {&p.rsc, &p.rs_interception, &p.rs_evaporation, &p.Albedo, &p.LAI, &p.Z0,
                     &p.VCF, &p.RootDepth, &p.SR_StemDiameter, &p.NFactor})
    *list = {1.0, 1.0, 1.0};
  p.AltDep = {0.0, 0.0, 0.0};
  p.SR_ResidCovrg = {residue, residue, residue};
  if (tillage.empty()) {
    p.SoilTillageCount = 0;
    p.SoilTillage = {-9999};
  } else {
    p.SoilTillageCount = static_cast<int>(tillage.size());
    p.SoilTillage = {tillage.back() - 366};
    p.SoilTillage.insert(p.SoilTillage.end(), tillage.begin(), tillage.end());
  }
  return landuse_class(log, p);
}

// A soil record with its grain sizes (sand, silt, clay) and SU_PAR01..10.
inline soil_class SiltingUpSoil(int code, double sand, double silt, double clay,
                                const std::vector<double> &parameters = {}) {
  soil_class soil(code);
  soil.Name = "soil" + std::to_string(code);
  soil.GrainSizeDist = {sand, silt, clay, 0, 0, 0, 0};
  for (std::size_t i = 0; i < parameters.size() && i < 10; ++i)
    soil.SU_PAR[i + 1] = parameters[i];
  return soil;
}

// The grids of the module on a raster, each from a function of the cell.
struct SiltingUpCells {
  CellFunction landuse = [](long, long) { return 1.0; };       // record number
  CellFunction cover = [](long, long) { return 0.2; };         // vegetation cover
  CellFunction soil = [](long, long) { return 1.0; };          // record number
  CellFunction storage = [](long, long) { return 0.0; };       // "SurfStorSiltingUp"
  CellFunction precipitation = [](long, long) { return 0.0; }; // mm per step
};

class SiltingUpGrids {
public:
  SiltingUpGrids(DiagnosticsLog &log, GridRegistry &registry, const SetupRaster &raster,
                 const CellFunction &zone, const SiltingUpCells &cells = {})
      : terrain(log, registry, raster, zone, [](long r, long c) { return 300.0 + r + c; }),
        landuse(terrain.Add("landuse1", cells.landuse)),
        cover(terrain.Add("vegetation_coverage_degree1", cells.cover)),
        soil(terrain.Add("soil_types", cells.soil)),
        storage(terrain.Add("SurfStorSiltingUp", cells.storage)),
        precipitation(terrain.Add("precipitation", cells.precipitation)) {}

  Grid &Add(const std::string &identifier, const CellFunction &value) {
    return terrain.Add(identifier, value);
  }

  // The settings of the module on this raster with its tables.
  void FillSettings(ModuleSettings &settings, GridRegistry &registry,
                    const std::string &controlFile, const OneBasedArray<landuse_class> &landuse,
                    const OneBasedArray<soil_class> &soils, StatisticsRegistry &statistics) {
    terrain.setup.FillSettings(settings, registry, "SiltingUpModel", controlFile);
    settings.LanduseTable = &landuse;
    settings.SoilTable = &soils;
    settings.Statistics = &statistics;
  }

  TerrainGrids terrain;
  Grid &landuse;
  Grid &cover;
  Grid &soil;
  Grid &storage;
  Grid &precipitation;
};

} // namespace tavro::test
