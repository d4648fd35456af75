// What the evapotranspiration and interception modules need to be built in a
// test: their sections in the control-file copy (rows given as text, so a
// test can change one), a small raster with the set-up grids, and the
// weather and land-use parameter grids they look up by identifier, each from
// a function of the cell. The land-use parameter grids are registered here as
// the set-up registers them for a run.
#pragma once

#include "kernel/grid.h"
#include "kernel/grid_registry.h"
#include "kernel/module_settings.h"
#include "landsurface/radiation_correction_fixture.h"
#include "support/setup_grids.h"
#include "tables/landuse_class.h"
#include "tables/multilayer_landuse.h"

#include <map>
#include <string>
#include <vector>

namespace tavro::test {

// Rows 3 to 32 of "[evapotranspiration]" by row number; a row's text may
// span lines and an empty text leaves the row out.
struct EvapotranspirationRows {
  std::map<int, std::string> rows{
      {3, "1 Methode fuer"},
      {4, "1.0 1.0 1.1 1.2 1.3 1.4 1.4 1.3 1.2 1.1 1.0 1.0"},
      {5, "0.22 0.22 0.22 0.29 0.29 0.28 0.26 0.25 0.23 0.22 0.22 0.22"},
      {6, "1.0 fk - Coastfactor (WENDLING)"},
      {7, "etp.grd Name of the ETP-Grids"},
      {8, "0 Writegrid ETP"},
      {9, "etp.stat 0 Name of ETP-stat.file"},
      {10, "etr.grd Name of the ETR-Grids"},
      {11, "0 Writegrid ETR"},
      {12, "etr.stat 0 Name of the ETR-stat.file"},
      {13, "evap.grd Name of the evaporation_potential-grid"},
      {14, "0 Writegrid EVAP"},
      {15, "evap.stat 0 stat.file"},
      {16, "evar.grd Name of the evaporation_real grid"},
      {17, "0 Writegrid evaporation real"},
      {18, "evar.stat 0 stat.file"},
      {19, "snowevap.grd Name of the snow evaporation grid"},
      {20, "0 Writegrid snow evaporation"},
      {21, "snowevap.stat 0 stat.file"},
      {22, "eip.grd Name of the EIP-Grids"},
      {23, "0 Writegrid EIP"},
      {24, "eip.stat 0 Name of EIP-stat.file"},
      {25, "rgex.stat 0 Name of the RGEX-stat.file"},
      {26, "0.2 0.45 0.45 -0.1 relative global radiation from sunshine"},
      {27, "0.072 -0.808 1.749 -0.239 sunshine from relative global radiation"},
      {28, "0.7 0.05 transmissivity, mean and amplitude"},
      {29, "1000 elevation scale of the amplitude"},
      {30, "4 5 6 7 8 9 9 8 7 6 5 4 day-night amplitudes"},
      {31, "0.6 0.1 amplitude_fraction_day and its annual amplitude"},
      {32, "cloud.stat 0"},
  };

  EvapotranspirationRows &Set(int row, std::string text) {
    rows[row] = std::move(text);
    return *this;
  }
  std::string Text() const {
    std::string text;
    for (const auto &[row, line] : rows)
      if (!line.empty())
        text += line + "\n";
    return text;
  }
};

inline std::string EvapotranspirationSection(int flowControl, double minutes,
                                             const EvapotranspirationRows &rows = {}) {
  return "[evapotranspiration]\n" + std::to_string(flowControl) + " flow control parameter\n" +
         std::to_string(minutes) + " time interval\n" + rows.Text();
}

// Positions 3 to 14 of "[interception_model]".
struct InterceptionValues {
  int method = 1;
  std::string throughfall = "tf.grd";
  int throughfallWritecode = 0;
  std::string throughfallStatistics = "tf.stat 0";
  std::string evaporation = "ei.grd";
  int evaporationWritecode = 0;
  std::string evaporationStatistics = "ei.stat 0";
  std::string storage = "si.grd";
  int storageWritecode = 0;
  std::string storageStatistics = "si.stat 0";
  double thickness = 0.2;
  int readGrid = 0;
};

inline std::string InterceptionSection(int flowControl, double minutes,
                                       const InterceptionValues &v = {}) {
  return "[interception_model]\n" + std::to_string(flowControl) + " flow control parameter\n" +
         std::to_string(minutes) + " time interval\n" + std::to_string(v.method) + " method\n" +
         v.throughfall + " name outflow grid\n" + std::to_string(v.throughfallWritecode) +
         " write code\n" + v.throughfallStatistics + " statistics\n" + v.evaporation +
         " name evaporation grid\n" + std::to_string(v.evaporationWritecode) + " write code\n" +
         v.evaporationStatistics + " statistics\n" + v.storage + " name storage grid\n" +
         std::to_string(v.storageWritecode) + " write code\n" + v.storageStatistics +
         " statistics\n" + std::to_string(v.thickness) + " maximum water layer thickness\n" +
         std::to_string(v.readGrid) + " readgrid parameter\n";
}

// The vegetation of one land-use layer, cell by cell.
struct LayerVegetationFunctions {
  CellFunction landuse = [](long, long) { return 1.0; }; // record number, -9999 absent
  CellFunction leafAreaIndex = [](long, long) { return 2.0; };
  CellFunction cover = [](long, long) { return 0.8; };
  CellFunction canopyResistance = [](long, long) { return 60.0; };
  CellFunction interceptionResistance = [](long, long) { return 20.0; };
  CellFunction roughness = [](long, long) { return 0.1; };
};

// The weather of method 1 with sunshine and humidity, cell by cell.
struct WeatherFunctions {
  CellFunction temperature = [](long, long c) { return 12.0 + 0.5 * c; };
  CellFunction sunshine = [](long r, long) { return 0.2 + 0.1 * (r % 5); };
  CellFunction humidity = [](long, long c) { return 0.55 + 0.02 * c; };
  CellFunction wind = [](long r, long) { return 1.0 + 0.5 * r; };
  CellFunction albedo = [](long, long) { return 0.2; };
  CellFunction soilResistance = [](long, long) { return 150.0; };
};

class LandSurfaceGrids {
public:
  LandSurfaceGrids(DiagnosticsLog &log, GridRegistry &registry, const SetupRaster &raster,
                   const CellFunction &zone, const CellFunction &elevation)
      : terrain(log, registry, raster, zone, elevation), raster_(raster) {}

  Grid &Add(const std::string &identifier, const CellFunction &value) {
    return terrain.Add(identifier, value);
  }

  // "landuse" + k and the parameter grids of layers 1..L, and with several
  // layers "landuse", the multilayer type (record 1) of every cell.
  void AddLayers(const std::vector<LayerVegetationFunctions> &layers) {
    if (layers.size() > 1)
      Add("landuse", [](long, long) { return 1.0; });
    for (std::size_t i = 0; i < layers.size(); ++i) {
      const std::string k = std::to_string(i + 1);
      const LayerVegetationFunctions &l = layers[i];
      Add("landuse" + k, l.landuse);
      Add("leaf_area_index" + k, l.leafAreaIndex);
      Add("vegetation_coverage_degree" + k, l.cover);
      Add("SurfaceCanopyResistance" + k, l.canopyResistance);
      Add("SurfaceIntercepResistance" + k, l.interceptionResistance);
      Add("RoughnessLength" + k, l.roughness);
    }
  }

  void AddWeather(const WeatherFunctions &w = {}) {
    Add("temperature", w.temperature);
    Add("sunshine_duration", w.sunshine);
    Add("air_humidity", w.humidity);
    Add("wind_speed", w.wind);
    Add("albedo", w.albedo);
    Add("SurfaceEvaporationResistance", w.soilResistance);
  }

  // Settings of a land-surface module on this raster.
  void FillSettings(ModuleSettings &settings, GridRegistry &registry, const std::string &name,
                    const std::string &controlFile) {
    terrain.setup.FillSettings(settings, registry, name, controlFile);
    settings.EndDate = ModelDate{0, 31, 12, 2010};
    settings.Latitude = 47.0;
    settings.Longitude = 8.0;
    settings.ReferenceMeridian = 15.0;
    settings.MinToIntEnd = 0.0;
  }

  TerrainGrids terrain;

private:
  SetupRaster raster_;
};

// A multilayer table whose one type has the given layer count.
inline MultilayerLanduseTable MultilayerTableOf(int layers, double extinction = 0.5,
                                                double laiScale = 8.0) {
  MultilayerLanduseTable table(1);
  table[1].LayerCount = layers;
  table[1].k_extinct = extinction;
  table[1].LAI_scale = laiScale;
  return table;
}

// A land-use table of records 1..n with the given IntercepCap values
// (negative: none given).
inline OneBasedArray<landuse_class> LanduseTableOf(DiagnosticsLog &log,
                                                   const std::vector<double> &intercepCaps) {
  OneBasedArray<landuse_class> table(intercepCaps.size());
  for (std::size_t i = 0; i < intercepCaps.size(); ++i) {
    LanduseParameters p;
    p.Code = static_cast<int>(i + 1);
    p.IntercepCap = intercepCaps[i];
    table[i + 1] = landuse_class(log, p);
  }
  return table;
}

} // namespace tavro::test
