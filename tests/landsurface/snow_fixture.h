// A small catchment for the snow module's tests: the raster divided over the
// processes of the test job, the set-up grids in the registry (zone grid,
// elevation, "RelCellArea", the decomposition and "zonegrid_soilmodel"), a
// land-use table of one record with albedo 0.25, the input grids a test
// registers by identifier in place of the interpolators and the other
// modules, and the text of a "[snow_model]" section.
#pragma once

#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "kernel/module_settings.h"
#include "landsurface/snow_model.h"
#include "raster/handover/tracer_grid_hooks.h"
#include "raster/output/statistics_registry.h"
#include "raster/parallel/mpi_decomposition.h"
#include "support/setup_grids.h"
#include "support/test_support.h"
#include "tables/landuse_class.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace tavro::test {

using CellValue = std::function<double(long row, long column)>;

inline constexpr const char *kSnowControl = "control.txt_0.$$$";

// The text of "[snow_model]": every value of the section in its order.
struct SnowSectionText {
  int flowControl = 1;
  double minutes = 1440.0;
  int method = 1;
  double transZone = 1.0, t0r = 1.0, t0 = 0.0, cwh = 0.1, crfr = 0.5, c0 = 3.0, c1 = 2.0, c2 = 0.5,
         z0 = 0.01, rmfMin = 1.0, rmfMax = 1.0, albedoMin = 0.45, albedoMax = 0.9;
  std::map<std::string, int> writecodes; // by grid file stem ("solid"), default 0
  std::map<std::string, int> statcodes;  // by table file stem, default 0
  int readGrid = 0;
  std::string snowTemperatureLine = "snowtemp.grd  # snow pack temperature";
  double maxDepositionSlope = 55.0, maxDepositionFactor = 1.0, minSlideSlope = 30.0,
         slideMassFraction = 0.01, lwIn = 1.0, lwOut = 1.0;
  std::string enBalScaling = "1.0  # EnBalScaling";

  std::string Text() const {
    std::ostringstream s;
    const auto code = [](const std::map<std::string, int> &codes, const std::string &stem) {
      const auto found = codes.find(stem);
      return found == codes.end() ? 0 : found->second;
    };
    const auto grid = [&](const std::string &stem) {
      s << stem << ".grd  # grid\n" << code(writecodes, stem) << "  # writecode\n";
    };
    const auto table = [&](const std::string &stem) {
      s << stem << ".sta " << code(statcodes, stem) << "  # statistics\n";
    };
    s << "[snow_model]\n"
      << flowControl << "  # flow control parameter\n"
      << minutes << "  # time interval\n";
    if (flowControl == 0)
      return s.str();
    s << method << "  # method\n"
      << transZone << "\n"
      << t0r << "\n"
      << t0 << "\n"
      << cwh << "\n"
      << crfr << "\n"
      << c0 << "\n"
      << c1 << "\n"
      << c2 << "\n"
      << z0 << "\n"
      << rmfMin << "\n"
      << rmfMax << "\n"
      << albedoMin << "\n"
      << albedoMax << "\n";
    grid("rain");
    table("rain");
    grid("snow");
    table("snow");
    grid("snowdays");
    table("snowdays");
    grid("snowage");
    table("snowage");
    table("albedo");
    grid("outflow");
    table("outflow");
    grid("meltonly");
    table("meltonly");
    grid("solid");
    grid("liquid");
    table("storage");
    grid("total");
    s << readGrid << "  # readgrid\n";
    if (method <= 4)
      return s.str();
    s << snowTemperatureLine << "\n" << code(writecodes, "snowtemp") << "\n";
    table("snowtemp");
    grid("surftemp");
    table("surftemp");
    grid("inputmass");
    table("inputmass");
    grid("mobilemass");
    table("mobilemass");
    grid("deposition");
    table("deposition");
    s << maxDepositionSlope << "\n"
      << maxDepositionFactor << "\n"
      << minSlideSlope << "\n"
      << slideMassFraction << "\n"
      << lwIn << "\n"
      << lwOut << "\n"
      << enBalScaling << "\n";
    return s.str();
  }
};

// A land-use record whose albedo is 0.25 on every day.
inline landuse_class ConstantAlbedoRecord(DiagnosticsLog &log) {
  LanduseParameters p;
  p.Code = 10;
  p.Name = "meadow";
  p.Method = landuse::VariableDayCount;
  p.FixPointCount = 4;
  p.JulDays = {-36, 100, 150, 250, 330};
  for (auto *list : {&p.rsc, &p.rs_interception, &p.rs_evaporation, &p.LAI, &p.Z0, &p.VCF,
                     &p.RootDepth, &p.SR_StemDiameter, &p.SR_ResidCovrg, &p.NFactor})
    *list = std::vector<double>(5, 1.0);
  p.Albedo = std::vector<double>(5, 0.25);
  p.AltDep = std::vector<double>(5, 0.0);
  p.SoilTillage = {-9999};
  return landuse_class(log, p);
}

class SnowCatchment {
public:
  // zone(row, column): the zone code 1..zoneCount of a cell, -9999 outside.
  SnowCatchment(DiagnosticsLog &log, long rows, long cols, int zoneCount, const CellValue &zone,
                const CellValue &elevation)
      : log_(log), rows_(rows), cols_(cols) {
    WriteFixture(kSpeedFactorFileName, "1\n");
    SetupRaster whole{rows, cols, zoneCount, 1, rows, 500000.0, 5200000.0, 1000.0};
    std::unique_ptr<SetupGrids> wholeGrids;
    if (Rank() == 0)
      wholeGrids = std::make_unique<SetupGrids>(log, whole, zone, elevation);
    testing::internal::CaptureStdout();
    decomposition = DistributeMpiRegions(Rank() == 0 ? &wholeGrids->zone : nullptr,
                                         RasterShape{cols, rows, -9999.0}, log);
    testing::internal::GetCapturedStdout();
    const StripRows held = decomposition.HeldRows();
    SetupRaster raster = whole;
    raster.firstRow = held.first;
    raster.lastRow = held.last;
    setup = std::make_unique<SetupGrids>(log, raster, zone, elevation);
    setup->Register(registry);
    Register("MPIRegions_0", &decomposition.regions, kRegionsGridName);
    Register("zones.asc", &setup->zone, "zonegrid_soilmodel");
    InstallTracerGridHooks(registry);
    landuse = OneBasedArray<landuse_class>(1);
    landuse[1] = ConstantAlbedoRecord(log);
  }

  // Registers a grid of the held rows under identifier at the first free entry.
  Grid &AddInput(const std::string &identifier, const CellValue &value) {
    const StripRows held = decomposition.HeldRows();
    inputs_.push_back(std::make_unique<Grid>(held.first, held.last, cols_, rows_, log_));
    Grid &grid = *inputs_.back();
    for (long r = held.first; r <= held.last; ++r)
      for (long c = 1; c <= cols_; ++c)
        grid[r][c] = value(r, c);
    Register(identifier, &grid, identifier);
    return grid;
  }
  Grid &AddInput(const std::string &identifier, double value) {
    return AddInput(identifier, [value](long, long) { return value; });
  }
  // The grids every method needs: albedo, land use, temperature, precipitation.
  void AddCommonInputs(const CellValue &temperature, const CellValue &precipitation) {
    AddInput("albedo", 0.2);
    AddInput("landuse1", 1.0);
    AddInput("temperature", temperature);
    AddInput("precipitation", precipitation);
  }
  // The shares of the four directions and the slope of the slide methods.
  void AddSlideInputs(double value) {
    for (const char *id :
         {"slidefraction1", "slidefraction2", "slidefraction3", "slidefraction4", "slope_angle"})
      AddInput(id, value);
  }
  Grid &Input(const std::string &identifier) {
    return *registry[registry.FindGrid(identifier, false)].Data;
  }

  ModuleSettings Settings(const ModelDate &end) {
    ModuleSettings s;
    setup->FillSettings(s, registry, schneemodellklasse::FixedName, kSnowControl);
    s.FirstRow = static_cast<int>(decomposition.strip.first);
    s.LastRow = static_cast<int>(decomposition.strip.last);
    s.RowRanges = &decomposition.rowRanges;
    s.Halo.Decomposition = &decomposition;
    s.EndDate = end;
    s.Statistics = &statistics;
    s.LanduseTable = &landuse;
    s.Latitude = 47.0;
    s.Longitude = 11.0;
    s.ReferenceMeridian = 15.0;
    return s;
  }

  bool Owns(long r, long c) const {
    return decomposition.regions.HasRow(r) &&
           static_cast<int>(decomposition.regions[r][c]) == decomposition.rank &&
           setup->zone[r][c] != -9999.0;
  }

  MpiDecomposition decomposition;
  std::unique_ptr<SetupGrids> setup;
  GridRegistry registry;
  StatisticsRegistry statistics;
  OneBasedArray<landuse_class> landuse;

private:
  void Register(const std::string &file, Grid *grid, const std::string &identifier) {
    const int index = registry.FirstFreeIndex();
    const StripRows held = decomposition.HeldRows();
    registry.AddGrid(index, file, grid, nullptr, 1, identifier, 0, held.first, held.last, cols_,
                     rows_, log_);
  }

  DiagnosticsLog &log_;
  long rows_;
  long cols_;
  std::vector<std::unique_ptr<Grid>> inputs_;
};

// The registered grid of a module at rank 0 after a gather for output.
inline Grid Gathered(modelobject &module, const std::string &identifier) {
  const int index = module.Registry->FindGrid(identifier, false);
  return module.MPIGatherGridForOutput(index, nullptr);
}

} // namespace tavro::test
