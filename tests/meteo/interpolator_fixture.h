// The fixture of the interpolator's tests on a small raster of 3 x 4 cells
// of 1 km: the variable's section (positional, as the reader expects it), a
// station file of two stations, uniform ASCII grids of the raster, and the
// set-up grids, registry and settings an interpolator is built with.
#pragma once

#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "kernel/module_settings.h"
#include "meteo/meteointerpol.h"
#include "station_file_fixture.h"
#include "support/setup_grids.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace tavro {

constexpr const char *kControl = "control.txt_0.$$$";
constexpr int kResultIndex = 5;

// The variable's section, positional as the reader expects it.
struct SectionSpec {
  int method = 1;
  std::string stationLines = "stations.dat AdditionalColumns=0"; // one per file
  std::string methodLine = "regression.dat";
  double scaling = 1.0;
  std::string statistics = "temp.stat 0";
  double weight = 2.0;
  double fraction = 0.5; // of inverse distance weighting (methods 3, 11)
  double radius = 50000.0;
  double nodata = 9999.0; // the bound N
  double slope = 0.0;
  double ratio = 1.0;
  double lower = -100.0, lowerReplacement = -100.0;
  double upper = 100.0, upperReplacement = 100.0;
  std::string scenario = "0"; // SzenUse and what follows
};

inline std::string Section(const SectionSpec &s) {
  std::ostringstream text;
  text << "[temperature]\n"
       << s.method << "  # method\n"
       << s.stationLines << "\n"
       << s.methodLine << "\nresult.grd\n0\n"
       << s.scaling << "\n"
       << s.statistics << "\n"
       << s.nodata << "  # nodata\n"
       << s.weight << "\n"
       << s.fraction << "\n"
       << s.radius << "\n"
       << s.slope << "\n"
       << s.ratio << "\n"
       << s.lower << "\n"
       << s.lowerReplacement << "\n"
       << s.upper << "\n"
       << s.upperReplacement << "\n"
       << s.scenario << "\n";
  return text.str();
}

// Station 1 on cell (1, 1) at 500 m, station 2 on cell (3, 4) at 1000 m.
inline std::string Stations(const std::vector<std::string> &rows) {
  std::string text = "title\nYY MM DD HH 500 1000\nYY MM DD HH 0 3000\nYY MM DD HH 2000 0\n"
                     "YY MM DD HH one two\n";
  for (const auto &row : rows)
    text += row + "\n";
  return text;
}

// An ASCII grid of the test raster with one value everywhere.
inline std::string UniformGrid(double value) {
  std::ostringstream text;
  text << "ncols 4\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 1000\nnodata_value -9999\n";
  for (int r = 0; r < 3; ++r)
    text << value << " " << value << " " << value << " " << value << "\n";
  return text.str();
}

class InterpolatorFixture : public testing::Test {
protected:
  // The 3 x 4 raster, or another one with its zone codes and elevations.
  InterpolatorFixture(const test::SetupRaster &raster = {},
                      const std::function<double(long, long)> &zoneCode = DefaultZone,
                      const std::function<double(long, long)> &elevation = DefaultElevation)
      : setup_(log_, raster, zoneCode, elevation) {
    setup_.FillSettings(settings_, registry_, "temperature", kControl);
    settings_.HourDivisor = 1;
    settings_.EndDate = ModelDate{0, 31, 12, 2001};
    setup_.Register(registry_, 3, 4, 7); // entry 6 stays free for the scenario test
  }

  std::unique_ptr<meteointerpol> Make(const SectionSpec &spec,
                                      const ModelDate &start = {0, 2, 1, 2001}) {
    test::WriteFixture(kControl, Section(spec));
    int error = -1;
    auto variable = std::make_unique<meteointerpol>(error, settings_, start, kResultIndex);
    EXPECT_EQ(error, 0);
    return variable;
  }

  int ConstructionCode(const SectionSpec &spec) {
    test::WriteFixture(kControl, Section(spec));
    return test::ExitCodeOf([&] {
      int error = 0;
      meteointerpol variable(error, settings_, ModelDate{0, 2, 1, 2001}, kResultIndex);
    });
  }

  static void Step(meteointerpol &variable) {
    long h = 0, d = 0, m = 0, y = 0;
    variable.GetActualDate(h, d, m, y);
    variable.Interpolate(h, d, m, y);
  }

  std::vector<std::string> Identifiers() const {
    std::vector<std::string> identifiers;
    for (int i = 1; i <= GridRegistry::LastIndex; ++i)
      identifiers.push_back(registry_[i].Identifier);
    return identifiers;
  }

  // Zone 1 everywhere but cell (3, 1), which lies outside the catchment.
  static double DefaultZone(long r, long c) { return r == 3 && c == 1 ? -9999.0 : 1.0; }
  static double DefaultElevation(long r, long c) { return 400.0 + 100.0 * r + 10.0 * c; }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  GridRegistry registry_;
  test::SetupGrids setup_;
  ModuleSettings settings_;
};

} // namespace tavro
