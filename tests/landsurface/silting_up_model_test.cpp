// The silting-up step on a small raster of one process: the water input it
// chooses, the time since tillage, rain pause and energy over a sequence of
// days, the capacity and direct runoff against the formulas of a cell, the
// water balance of every cell, method 3 with the built-in formulas against
// method 1, a failing formula, the tracers, the refusal of a soil without
// sand, the state grids read at the start, the statistics and the release.
#include "landsurface/silting_up_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "kernel/tracer_info.h"
#include "landsurface/silting_up/silting_up_kernels.h"
#include "landsurface/silting_up_fixture.h"
#include "raster/handover/tracer_grid_hooks.h"
#include "support/diagnostics_entries.h"
#include "support/test_support.h"
#include "tables/multilayer_landuse.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace tavro {
namespace {

using namespace siltingup;

constexpr const char *kControl = "control.txt_0.$$$";
constexpr long kRows = 4;
constexpr long kCols = 5;
constexpr double N = -9999.0;

// Zone 1 in columns 1 and 2, zone 2 in 3 to 5; one cell outside.
double Zone(long r, long c) {
  if (r == 4 && c == 5)
    return N;
  return c <= 2 ? 1.0 : 2.0;
}
// Columns 1 to 3 are a tilled field (record 1), 4 and 5 a meadow (record 2).
double Landuse(long, long c) { return c <= 3 ? 1.0 : 2.0; }
// Rows 1 and 2 loam (record 1), rows 3 and 4 sandy (record 2).
double Soil(long r, long) { return r <= 2 ? 1.0 : 2.0; }
double Cover(long r, long) { return 0.1 * r; }
double Rain(long r, long c) { return 2.0 * r + 5.0 * c; } // mm per day

constexpr double kResidue = 0.1;

// The cells of a grid, row by row.
std::vector<double> Values(const Grid &grid) {
  std::vector<double> values;
  for (long r = 1; r <= kRows; ++r)
    for (long c = 1; c <= kCols; ++c)
      values.push_back(grid[r][c]);
  return values;
}
std::size_t Cell(long r, long c) { return static_cast<std::size_t>((r - 1) * kCols + c - 1); }

class SiltingUpModelTest : public testing::Test {
protected:
  SiltingUpModelTest() {
    grids_.FillSettings(settings_, registry_, kControl, landuse_, soils_, statistics_);
    landuse_[1] = test::SiltingUpLanduse(log_, 1, {100, 250}, kResidue);
    landuse_[2] = test::SiltingUpLanduse(log_, 2, {}, 0.0);
    soils_[1] = test::SiltingUpSoil(1, 0.3, 0.5, 0.2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    soils_[2] = test::SiltingUpSoil(2, 0.7, 0.2, 0.1);
    InstallTracerGridHooks(registry_);
  }

  std::unique_ptr<siltingupclass> Make(const test::SiltingUpRows &rows = {},
                                       double minutes = 1440.0) {
    test::WriteFixture(kControl, test::SiltingUpSection(1, minutes, rows));
    settings_.MinToIntEnd = minutes;
    int error = -1;
    auto module = std::make_unique<siltingupclass>(error, settings_);
    EXPECT_EQ(error, 0);
    module->SelectWaterInput(false);
    return module;
  }

  const Grid &Registered(const std::string &identifier) const {
    const int index = registry_.FindGrid(identifier, false);
    EXPECT_GT(index, 0) << identifier;
    return *registry_[index].Data;
  }

  void SetRain(const test::CellFunction &rain) { grids_.terrain.Set(grids_.precipitation, rain); }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  GridRegistry registry_;
  StatisticsRegistry statistics_;
  test::SiltingUpGrids grids_{
      log_, registry_, {kRows, kCols, 2, 1, kRows}, Zone, {Landuse, Cover, Soil}};
  OneBasedArray<landuse_class> landuse_{2};
  OneBasedArray<soil_class> soils_{2};
  ModuleSettings settings_;
};

TEST_F(SiltingUpModelTest, WaterInputInTheOrderOfTheInterceptionFlag) {
  Grid &throughfall = grids_.Add("throughfall0", [](long, long) { return 1.0; });
  Grid &snow = grids_.Add("snowcover_outflow", [](long, long) { return 2.0; });
  auto module = Make();
  EXPECT_EQ(module->WaterInput(), &throughfall);
  EXPECT_FALSE(module->WaterInputFromInterception());
  // A second call keeps the grid chosen first, the flag follows.
  module->SelectWaterInput(true);
  EXPECT_EQ(module->WaterInput(), &throughfall);
  EXPECT_TRUE(module->WaterInputFromInterception());
  module->ReleaseMemory();

  test::WriteFixture(kControl, test::SiltingUpSection(1, 1440.0));
  int error = -1;
  siltingupclass first(error, settings_);
  first.SelectWaterInput(true);
  EXPECT_EQ(first.WaterInput(), &snow);
  first.ReleaseMemory();

  // Only precipitation.
  registry_.ReleaseGrid(registry_.Find("throughfall0"));
  registry_.ReleaseGrid(registry_.Find("snowcover_outflow"));
  module = Make();
  EXPECT_EQ(module->WaterInput(), &grids_.precipitation);
  module->ReleaseMemory();
}

TEST_F(SiltingUpModelTest, RegistersFiveConsecutiveGridsAndReleasesThem) {
  // A hole of two entries early in the registry is left alone.
  const int hole = registry_.FirstFreeIndex();
  grids_.Add("x1", [](long, long) { return 0.0; });
  grids_.Add("x2", [](long, long) { return 0.0; });
  grids_.Add("x3", [](long, long) { return 0.0; });
  registry_.ReleaseGrid(hole);
  registry_.ReleaseGrid(hole + 1);
  auto module = Make(test::SiltingUpRows().Set(7, "3 writecode"));
  const int first = registry_.Find("SiltingUpDisposition");
  EXPECT_EQ(first, hole + 3);
  const char *ids[] = {"SiltingUpDisposition", "RainPause", "KineticEnergy",
                       "TimeSinceLastSoilTillage", "DirectRunoffSiltingUp"};
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(registry_.Find(ids[k]), first + k) << ids[k];
    const Grid &grid = *registry_[first + k].Data;
    EXPECT_EQ(grid[1][1], 0.0);
    EXPECT_EQ(grid[4][5], N);
  }
  EXPECT_EQ(registry_[first].FileName, "sdisp.asc");
  EXPECT_EQ(registry_[first].OutputKind, 3);
  EXPECT_EQ(registry_[first + 4].FileName, "qdsu.asc");
  module->ReleaseMemory();
  for (const char *id : ids)
    EXPECT_EQ(registry_.Find(id), 0) << id;
}

TEST_F(SiltingUpModelTest, MeadowWithoutTillageOnlyPassesTheWaterOn) {
  SetRain(Rain);
  grids_.terrain.Set(grids_.storage, [](long, long) { return 3.0; });
  auto module = Make();
  module->ComputeTimeStep(0, 10, 4, 2011);
  const Grid &tillage = Registered("TimeSinceLastSoilTillage");
  const Grid &energy = Registered("KineticEnergy");
  const Grid &disposition = Registered("SiltingUpDisposition");
  const Grid &runoff = Registered("DirectRunoffSiltingUp");
  for (long r = 1; r <= kRows; ++r)
    for (long c = 4; c <= kCols; ++c) {
      if (Zone(r, c) == N)
        continue;
      EXPECT_EQ(tillage[r][c], 0.0);
      EXPECT_EQ(energy[r][c], 0.0);
      EXPECT_EQ(disposition[r][c], 0.0);
      EXPECT_EQ(runoff[r][c], 0.0);
      // Without surface routing the storage starts from 0 in every step.
      EXPECT_EQ(grids_.precipitation[r][c], Rain(r, c));
      EXPECT_EQ(grids_.storage[r][c], Rain(r, c));
    }
  module->ReleaseMemory();

  // With surface routing the storage is kept and joins the input.
  grids_.Add("SurfaceRoutingWeights", [](long, long) { return 1.0; });
  SetRain(Rain);
  grids_.terrain.Set(grids_.storage, [](long, long) { return 3.0; });
  module = Make();
  module->ComputeTimeStep(0, 10, 4, 2011);
  EXPECT_TRUE(module->SurfaceRoutingActive());
  EXPECT_EQ(grids_.precipitation[2][4], Rain(2, 4) + 3.0);
  EXPECT_EQ(grids_.storage[2][4], Rain(2, 4) + 3.0);
  EXPECT_EQ(grids_.storage[4][5], 3.0); // outside: untouched
  module->ReleaseMemory();
}

TEST_F(SiltingUpModelTest, TillagePauseAndEnergyDayByDay) {
  auto module = Make();
  const Grid &tillage = Registered("TimeSinceLastSoilTillage");
  const Grid &pause = Registered("RainPause");
  const Grid &energy = Registered("KineticEnergy");
  const Grid &disposition = Registered("SiltingUpDisposition");
  const Grid &runoff = Registered("DirectRunoffSiltingUp");
  // Cell (2, 1): tilled loam of zone 1 (minimum pause 2 days), cover 0.1 +
  // 0.2; 24 mm a day is 1 mm/h.
  const long r = 2, c = 1;
  const double cover = kResidue + Cover(r, c);
  const MethodParameters p;
  const double texture = TextureValue({0.3, 0.5, 0.2, 0, 0, 0, 0});
  struct Day {
    int day, month;
    double rain;
    double sinceTillage, pause;
  };
  // 2011: 9 April is day 99, tillage on days 100 (10 April) and 250.
  const Day days[] = {
      {9, 4, 24.0, 215, 0},  // counts from day 250 of the year before
      {10, 4, 24.0, 0.3, 0}, // the day of tillage
      {11, 4, 0.0, 1, 1},    {12, 4, 48.0, 2, 0}, {13, 4, 0.0, 3, 1},
      {14, 4, 0.0, 4, 2}, // a pause as long as the minimum: the energy restarts
      {15, 4, 1.2, 5, 3}, // 0.05 mm/h: still no rain
      {16, 4, 240.0, 6, 0},
  };
  double expectedEnergy = 0.0;
  for (const Day &d : days) {
    SCOPED_TRACE(d.day);
    SetRain([&](long, long) { return d.rain; });
    module->ComputeTimeStep(0, d.day, d.month, 2011);
    EXPECT_EQ(tillage[r][c], d.sinceTillage);
    EXPECT_DOUBLE_EQ(pause[r][c], d.pause);
    const double intensity = d.rain / 24.0;
    const double increment = intensity * RainEnergyFactor(intensity) * (1.0 - cover) * 24.0;
    expectedEnergy = d.pause >= 2.0 ? increment : expectedEnergy + increment;
    EXPECT_NEAR(energy[r][c], expectedEnergy, 1e-9 * (1.0 + expectedEnergy));
    const double cv = Disposition(p, texture, 0.3, d.sinceTillage);
    EXPECT_EQ(disposition[r][c], cv);
    const double capacity =
        InfiltrationCapacity(p.A, FinalInfiltrationRate(p, texture, 0.3), cv, energy[r][c], 1440.0);
    EXPECT_NEAR(runoff[r][c], std::max(0.0, d.rain - capacity), 1e-9);
    EXPECT_NEAR(grids_.precipitation[r][c], std::min(d.rain, capacity), 1e-9);
  }
  // The heavy rain of the last day runs off in part.
  EXPECT_GT(runoff[r][c], 0.0);
  module->ReleaseMemory();
}

TEST_F(SiltingUpModelTest, EveryCellClosesItsWaterBalance) {
  auto module =
      Make(test::SiltingUpRows().Method2({20, 12.2, 0.52, -0.64, 0.5, -1.03, 0.7, -0.19}), 360.0);
  for (int step = 0; step < 8; ++step) {
    SetRain([step](long r, long c) { return step % 3 == 2 ? 0.0 : 30.0 * r + 40.0 * c + step; });
    const std::vector<double> before = Values(grids_.precipitation);
    module->ComputeTimeStep(6 * (step % 4), 20 + step / 4, 6, 2011);
    const Grid &runoff = Registered("DirectRunoffSiltingUp");
    double water = 0.0, out = 0.0;
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kCols; ++c) {
        if (Zone(r, c) == N)
          continue;
        // Input before + storage (0 without surface routing) = input after + runoff.
        EXPECT_DOUBLE_EQ(before[Cell(r, c)], grids_.precipitation[r][c] + runoff[r][c])
            << r << "/" << c;
        EXPECT_GE(runoff[r][c], 0.0);
        water += before[Cell(r, c)];
        out += grids_.precipitation[r][c] + runoff[r][c];
      }
    const siltingupclass::StepBalance &balance = module->LastBalance();
    EXPECT_NEAR(balance.water, water, 1e-9);
    EXPECT_NEAR(balance.infiltrating + balance.directRunoff, out, 1e-9);
  }
  // The low capacity of these parameters leaves runoff on the field.
  EXPECT_GT(module->LastBalance().directRunoff, 0.0);
  module->ReleaseMemory();
}

TEST_F(SiltingUpModelTest, Method3WithTheBuiltInFormulasEqualsMethod1) {
  const char *names[] = {"SiltingUpDisposition", "RainPause", "KineticEnergy",
                         "TimeSinceLastSoilTillage", "DirectRunoffSiltingUp"};
  std::vector<std::vector<std::vector<double>>> results(2);
  for (int method : {1, 3}) {
    test::SiltingUpRows rows;
    if (method == 3)
      rows.Method3(test::BuiltInFormulaBlock());
    auto module = Make(rows, 720.0);
    for (int step = 0; step < 6; ++step) {
      // Up to 100 mm/h: above the cap of the energy factor.
      SetRain([step](long r, long c) { return step == 2 ? 0.0 : 100.0 * r * c * step; });
      module->ComputeTimeStep(12 * (step % 2), 9 + step / 2, 4, 2011);
    }
    auto &grids = results[method == 1 ? 0 : 1];
    for (const char *name : names)
      grids.push_back(Values(Registered(name)));
    grids.push_back(Values(grids_.precipitation));
    module->ReleaseMemory();
  }
  for (std::size_t g = 0; g < results[0].size(); ++g)
    EXPECT_EQ(results[0][g], results[1][g]) << names[std::min<std::size_t>(g, 4)];
  // Not all zero: the comparison means something.
  EXPECT_GT(results[0][0][Cell(1, 1)], 0.0);
  EXPECT_GT(results[0][4][Cell(3, 3)], 0.0);
}

TEST_F(SiltingUpModelTest, FormulasSeeTheCellValues) {
  // Disposition and capacity from the soil's parameters and the cell values.
  auto module = Make(test::SiltingUpRows().Method3(
      "SiltingUpExpressions {Z = A + J/100 + O; W = 2; V = M + N + L + Q/1000 + R; }"));
  SetRain([](long, long) { return 24.0; });
  module->ComputeTimeStep(0, 12, 4, 2011); // 2 days since tillage
  const Grid &disposition = Registered("SiltingUpDisposition");
  EXPECT_DOUBLE_EQ(disposition[1][1], 1.0 + 0.1 + 2.0);
  // Soil 2 has no parameters: A and J are 0.
  EXPECT_DOUBLE_EQ(disposition[3][1], 2.0);
  const Grid &energy = Registered("KineticEnergy");
  const double increment = 1.0 * 2.0 * (1.0 - (kResidue + Cover(1, 1))) * 24.0;
  EXPECT_DOUBLE_EQ(energy[1][1], increment);
  // V = clay + silt + sand + the new energy / 1000 + 1440 mm: no runoff.
  EXPECT_EQ(Registered("DirectRunoffSiltingUp")[1][1], 0.0);
  module->ReleaseMemory();

  // Without V the capacity is 0: all the water of a tilled cell runs off;
  // without Z the disposition is 0.
  module = Make(test::SiltingUpRows().Method3("SiltingUpExpressions {W = 1;}"));
  SetRain([](long, long) { return 24.0; });
  module->ComputeTimeStep(0, 12, 4, 2011);
  EXPECT_EQ(Registered("DirectRunoffSiltingUp")[1][1], 24.0);
  EXPECT_EQ(grids_.precipitation[1][1], 0.0);
  EXPECT_EQ(Registered("SiltingUpDisposition")[1][1], 0.0);
  module->ReleaseMemory();
}

int CountOccurrences(const std::string &text, const std::string &part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

TEST_F(SiltingUpModelTest, FailingFormulaEndsTheStepWith403LoggedOnce) {
  struct Case {
    const char *block;
    std::string entry;
  };
  const Case cases[] = {
      {"SiltingUpExpressions {Z=1; W=2+; V=1;}",
       "FATAL: \n-----------------error------------\nin instance SiltingUpModel\nexpression W=2+ "
       "could not be parsed correctly. Parser message: Error: Unexpected end of expression (col "
       "5)"},
      // Two ";" in a row: the empty formula stops the first cell.
      {"SiltingUpExpressions {Z=1;;V=1;}",
       "FATAL: \n-----------------error------------\nin instance SiltingUpModel\nexpression  "
       "could not be parsed correctly. Parser message: Error: Empty expression (col 1)"},
      // A failure of the second pass.
      {"SiltingUpExpressions {Z=1; V=FOO(1);}",
       "FATAL: \n-----------------error------------\nin instance SiltingUpModel\nexpression "
       "V=FOO(1) could not be parsed correctly. Parser message: Error: Unknown function FOO (col "
       "9)"},
  };
  int logged = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.block);
    auto module = Make(test::SiltingUpRows().Method3(c.block));
    EXPECT_EQ(test::ExitCodeOf([&] { module->ComputeTimeStep(0, 12, 4, 2011); }), 403);
    EXPECT_TRUE(test::Logged(c.entry));
    // One entry, however many cells and threads met the failure.
    const std::string xml = test::ReadWholeFile("Tavro_Diag_0.xml");
    EXPECT_EQ(CountOccurrences(xml, "Parser message"), ++logged);
    module->ReleaseMemory();
  }
}

TEST_F(SiltingUpModelTest, CellWithoutLanduseRecordEndsTheStepOnce) {
  grids_.terrain.Set(grids_.landuse, [](long r, long c) { return r == 2 && c == 3 ? 7.0 : 1.0; });
  auto module = Make();
  EXPECT_EQ(test::ExitCodeOf([&] { module->ComputeTimeStep(0, 12, 4, 2011); }), 31);
  const std::string entry =
      "SiltingUpModel: the land use 7 of layer 1 in cell (2, 3) is no record of the land-use table";
  EXPECT_TRUE(test::Logged("FATAL: " + entry));
  EXPECT_EQ(CountOccurrences(test::ReadWholeFile("Tavro_Diag_0.xml"), entry), 1);
  module->ReleaseMemory();
}

TEST_F(SiltingUpModelTest, SoilWithoutSandIsRefusedByTheBuiltInMethods) {
  soils_[2] = test::SiltingUpSoil(27, 0.0, 0.6, 0.4);
  soils_[2].Name = "clay_loam";
  test::WriteFixture(kControl, test::SiltingUpSection(1, 1440.0));
  int error = -1;
  EXPECT_EQ(test::ExitCodeOf([&] { siltingupclass module(error, settings_); }), 10);
  EXPECT_EQ(error, 10);
  EXPECT_TRUE(
      test::Logged("FATAL: soil type 27 (clay_loam) of cells of SiltingUpModel has no sand, "
                   "but parameter D (-0.64) or F (-1.03) is negative"));
  // Method 3 has its own formulas; method 2 with D and F not negative too.
  auto module = Make(test::SiltingUpRows().Method3("SiltingUpExpressions {Z=1;}"));
  module->ReleaseMemory();
  module = Make(test::SiltingUpRows().Method2({65, 12.2, 0.52, 0.64, 0.013, 1.03, 0.7, -0.19}));
  SetRain(Rain);
  module->ComputeTimeStep(0, 12, 4, 2011);
  EXPECT_TRUE(std::isfinite(Registered("DirectRunoffSiltingUp")[3][1]));
  EXPECT_TRUE(std::isfinite(Registered("SiltingUpDisposition")[3][1]));
  module->ReleaseMemory();
}

TEST_F(SiltingUpModelTest, TracersLeaveWithTheDirectRunoff) {
  Grid &inputConcentration =
      grids_.Add("concflux_tracer_1_snow_model", [](long, long c) { return 2.0 * c; });
  OneBasedArray<TracerInfo> tracers(2);
  for (int t = 1; t <= 2; ++t) {
    TracerInfo &info = tracers[static_cast<std::size_t>(t)];
    info.name = t == 1 ? "chl" : "dox";
    info.evaporating = t == 2 ? 1 : 0;
    info.max_conc = 1000.0;
    info.statcode = 0;
    info.path = "./";
    info.statext = "sta";
    info.gridext = "asc";
  }
  grids_.Add("concflux_tracer_2_input", [](long, long) { return 5.0; });
  auto module = Make(test::SiltingUpRows().Method2({5, 1, 0.52, -0.64, 0.5, -1.03, 0.7, -0.19}));
  int error = -1;
  module->InitTracerGrids(error, 2, &tracers, &statistics_, 200);
  ASSERT_EQ(error, 0);
  const Grid &stored = Registered("concstor_tracer_1_SiltingUpModel");
  const Grid &outflow = Registered("concflux_tracer_1_SiltingUpModel");
  const Grid &storedConcentration = Registered("concstor_tracer_2_SiltingUpModel");
  SetRain(Rain);
  module->ComputeTimeStep(0, 12, 4, 2011);
  const Grid &runoff = Registered("DirectRunoffSiltingUp");
  int withRunoff = 0;
  for (long r = 1; r <= kRows; ++r)
    for (long c = 1; c <= kCols; ++c) {
      if (Zone(r, c) == N)
        continue;
      const double mass = Rain(r, c) * inputConcentration[r][c];
      const double exported = runoff[r][c] > 0.0 ? outflow[r][c] * runoff[r][c] : 0.0;
      // The mass in the store and the mass exported make the mass brought in.
      EXPECT_NEAR(stored[r][c] + exported, mass, 1e-9 * mass);
      EXPECT_LE(exported, mass);
      EXPECT_EQ(storedConcentration[r][c], 5.0); // mixed into an empty store
      withRunoff += runoff[r][c] > 0.0;
    }
  EXPECT_GT(withRunoff, 0);
  module->FinishTracerGrids();
  module->ReleaseMemory();
}

TEST_F(SiltingUpModelTest, StateGridsReadAtTheStart) {
  const char *files[] = {"sdisp_start.asc", "pause_start.asc", "ekin_start.asc", "tsbb_start.asc"};
  for (int k = 0; k < 4; ++k) {
    std::string text = "ncols 5\nnrows 4\nxllcorner 0\nyllcorner 0\ncellsize 1000\n"
                       "nodata_value -9999\n";
    for (long r = 1; r <= kRows; ++r) {
      for (long c = 1; c <= kCols; ++c)
        text += std::to_string(Zone(r, c) == N ? N : 10.0 * k + r + 0.5 * c) + " ";
      text += "\n";
    }
    test::WriteFixture(files[k], text);
  }
  auto module = Make(test::SiltingUpRows()
                         .Set(6, "sdisp_start.asc")
                         .Set(8, "pause_start.asc")
                         .Set(10, "ekin_start.asc")
                         .Set(12, "tsbb_start.asc")
                         .Set(18, "1 read the state grids"));
  EXPECT_EQ(Registered("SiltingUpDisposition")[2][3], 0.0 + 2 + 1.5);
  EXPECT_EQ(Registered("RainPause")[2][3], 10.0 + 2 + 1.5);
  EXPECT_EQ(Registered("KineticEnergy")[3][1], 20.0 + 3 + 0.5);
  EXPECT_EQ(Registered("TimeSinceLastSoilTillage")[1][1], 30.0 + 1 + 0.5);
  EXPECT_EQ(Registered("DirectRunoffSiltingUp")[1][1], 0.0);
  // A dry step goes on from the pause read.
  module->ComputeTimeStep(0, 12, 4, 2011);
  EXPECT_EQ(Registered("RainPause")[2][3], 10.0 + 2 + 1.5 + 1.0);
  module->ReleaseMemory();
}

TEST_F(SiltingUpModelTest, StatisticsOfDispositionAndDirectRunoff) {
  auto module = Make(test::SiltingUpRows()
                         .Set(4, "sdisp.stat 2001 statistics")
                         .Set(5, "qdsu.stat 2001 statistics")
                         .Method2({5, 1, 0.52, -0.64, 0.5, -1.03, 0.7, -0.19}));
  SetRain(Rain);
  module->ComputeTimeStep(0, 12, 4, 2011);
  const Grid &runoff = Registered("DirectRunoffSiltingUp");
  module->FlushStatistics();
  const std::string table = test::ReadWholeFile("qdsu.stat");
  EXPECT_NE(table.find("Direct_Discharge_Silting_Up_submodel:SiltingUpModel"), std::string::npos);
  EXPECT_NE(
      test::ReadWholeFile("sdisp.stat").find("Silting_up_disposition__submodel:SiltingUpModel"),
      std::string::npos);
  // The mean of zone 1 (columns 1 and 2) with four decimals.
  double sum = 0.0;
  for (long r = 1; r <= kRows; ++r)
    for (long c = 1; c <= 2; ++c)
      sum += runoff[r][c];
  char mean[32];
  std::snprintf(mean, sizeof mean, "\t%.4f\t", sum / 8.0);
  EXPECT_NE(table.find(mean), std::string::npos) << table;
  module->ReleaseMemory();
}

TEST_F(SiltingUpModelTest, CoverOfTheTopLayer) {
  // Two layers: in columns 1 and 2 a second layer (grass, record 2) above
  // the field of layer 1, elsewhere none (-9999, or nodata).
  MultilayerLanduseTable types(1);
  types[1].LayerCount = 2;
  settings_.MultilayerTable = &types;
  grids_.Add("landuse2", [](long, long c) { return c == 1 ? 2.0 : c == 2 ? -9999.0 : N; });
  grids_.Add("vegetation_coverage_degree2", [](long, long) { return 0.6; });
  auto module = Make();
  SetRain([](long, long) { return 24.0; });
  module->ComputeTimeStep(0, 12, 4, 2011);
  const Grid &energy = Registered("KineticEnergy");
  // 1 mm/h; the field's residue cover joins the top layer's vegetation cover.
  const double factor = RainEnergyFactor(1.0) * 24.0;
  EXPECT_DOUBLE_EQ(energy[1][1], factor * (1.0 - (kResidue + 0.6)));
  EXPECT_DOUBLE_EQ(energy[1][2], factor * (1.0 - (kResidue + Cover(1, 2))));
  EXPECT_DOUBLE_EQ(energy[1][3], factor * (1.0 - (kResidue + Cover(1, 3))));
  module->ReleaseMemory();
}

} // namespace
} // namespace tavro
