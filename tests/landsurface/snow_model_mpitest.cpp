// The snow module over the real decomposition, under any number of processes
// and threads: its stores, outflow and slide grids equal a computation of the
// whole raster at once by the kernels; the water of every zone closes over a
// long random run with slides; one and two threads give the same bits; and a
// run split in two through its state grids equals one long run bit for bit.
#include "landsurface/snow_model.h"

#include "landsurface/snow/snow_formulas.h"
#include "landsurface/snow/snow_pack.h"
#include "landsurface/snow/snow_slides.h"
#include "raster/parallel/non_finite_water.h"
#include "slide_raster.h"
#include "snow_fixture.h"
#include "support/diagnostics_entries.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::Rank;
using test::SnowSectionText;

constexpr long kRows = 9;
constexpr long kCols = 7;
constexpr double N = -9999.0;

// Two zones side by side, a few cells outside.
double Zone(long r, long c) {
  if ((r == 1 && c <= 2) || (r == 6 && c == 7) || (r == 9 && c >= 5))
    return N;
  return c <= 4 ? 1.0 : 2.0;
}
// A slope falling to the south-east, with equal heights along its diagonals.
double Elevation(long r, long c) { return 2000.0 - 60.0 * r - 45.0 * c; }

// Weather of step n at a cell: cold at first, then melting.
double Temperature(long r, long c, int n) {
  return -6.0 + 1.2 * n - 0.3 * r + 0.1 * c + 2.0 * std::sin(0.7 * n + r);
}
double Precipitation(long r, long c, int n) {
  return (n + r + c) % 3 == 0 ? 0.0 : 3.0 + 1.5 * ((r * c + n) % 5);
}

// The weather and terrain grids a module of the given method reads, updated each step.
class Weather {
public:
  Weather(test::SnowCatchment &catchment, int method) : catchment_(catchment) {
    catchment.AddCommonInputs([](long, long) { return 0.0; }, [](long, long) { return 0.0; });
    catchment.AddInput("temperature_night", 0.0);
    if (snow::UsesWind(method))
      catchment.AddInput("wind_speed", [](long r, long c) { return 1.0 + 0.3 * r + 0.2 * c; });
    if (snow::IsEnergyBalance(method)) {
      catchment.AddInput("air_humidity", [](long r, long c) { return 0.4 + 0.05 * ((r + c) % 9); });
      catchment.AddInput("cloudiness", [](long r, long) { return 0.1 * (r % 8); });
      catchment.AddInput("AspectCorrectedGlobalRadiation", 0.0);
    }
    if (snow::HasSlides(method)) {
      for (int k = 1; k <= 4; ++k)
        catchment.AddInput("slidefraction" + std::to_string(k),
                           [k](long r, long c) { return 0.1 + 0.2 * ((r * k + c) % 4); });
      catchment.AddInput("slope_angle",
                         [](long r, long c) { return 20.0 + 4.0 * ((r + 2 * c) % 9); });
    }
    if (snow::UsesDepositionIndex(method))
      catchment.AddInput("deposition_index",
                         [](long r, long c) { return -0.4 + 0.15 * ((r + c) % 7); });
  }
  void Set(int n) {
    const auto fill = [&](const char *identifier, auto value) {
      Grid &grid = catchment_.Input(identifier);
      for (long r = grid.FirstRow(); r <= grid.LastRow(); ++r)
        for (long c = 1; c <= kCols; ++c)
          grid[r][c] = value(r, c);
    };
    fill("temperature", [n](long r, long c) { return Temperature(r, c, n); });
    fill("temperature_night", [n](long r, long c) { return Temperature(r, c, n) - 3.0; });
    fill("precipitation", [n](long r, long c) { return Precipitation(r, c, n); });
    if (catchment_.registry.FindGrid("AspectCorrectedGlobalRadiation", false) > 0)
      fill("AspectCorrectedGlobalRadiation",
           [n](long r, long c) { return 400.0 * n + 20.0 * r * c; });
  }

private:
  test::SnowCatchment &catchment_;
};

// A module with its own catchment and weather.
struct SnowRun {
  SnowRun(DiagnosticsLog &log, const SnowSectionText &text, const ModelDate &end,
          bool doubleGrids = false)
      : catchment(log, kRows, kCols, 2, Zone, Elevation), weather(catchment, text.method) {
    test::WriteFixture(test::kSnowControl, text.Text());
    ModuleSettings settings = catchment.Settings(end);
    settings.MinToIntEnd = text.minutes;
    settings.WriteDoubleGrids = doubleGrids;
    int error = 0;
    module = std::make_unique<schneemodellklasse>(error, settings);
    module->SelectWaterInput(false);
  }
  // Step n on day first + n (whole days) or at 0 and 12 h (half days).
  void Step(int n, double minutes) {
    weather.Set(n);
    if (minutes > 720.0)
      module->ComputeTimeStep(0, 1 + n, 1, 2012);
    else
      module->ComputeTimeStep(12 * (n % 2), 1 + n / 2, 1, 2012);
  }
  Grid Gather(const char *identifier) { return test::Gathered(*module, identifier); }

  test::SnowCatchment catchment;
  Weather weather;
  std::unique_ptr<schneemodellklasse> module;
};

void ExpectSameGrid(const Grid &a, const Grid &b, const char *what) {
  if (Rank() != 0)
    return;
  for (long r = 1; r <= kRows; ++r)
    for (long c = 1; c <= kCols; ++c)
      ASSERT_EQ(a[r][c], b[r][c]) << what << " at " << r << "," << c;
}

// --- The whole raster at once, by the kernels -------------------------------------

class Reference {
public:
  Reference(DiagnosticsLog &log, const SnowSection &section)
      : section_(section), raster_(log, kRows, kCols), solid(raster_.solid), liquid(raster_.liquid),
        total(raster_.total), input(raster_.input), mobile(raster_.mobile),
        deposition(raster_.deposited) {
    outflow = Grid(1, kRows, kCols, kRows, log);
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kCols; ++c) {
        raster_.zone[r][c] = Zone(r, c);
        raster_.elevation[r][c] = Elevation(r, c);
        raster_.slope[r][c] = 20.0 + 4.0 * ((r + 2 * c) % 9);
        for (int k = 1; k <= 4; ++k)
          raster_.shares[static_cast<std::size_t>(k - 1)][r][c] = 0.1 + 0.2 * ((r * k + c) % 4);
        for (Grid *g : {&solid, &liquid, &total, &outflow})
          (*g)[r][c] = Zone(r, c) == N ? N : 0.0;
      }
    snow::BuildDepositionCapacity(raster_.extent, raster_.zone, raster_.slope,
                                  section.MaxDepositionSlope, section.MaxDepositionFactor,
                                  raster_.capacity);
  }

  // One step on every cell, with the night and day shares of the module.
  void Step(int n, double night, double day, double minutes) {
    const snow::StepConstants step{minutes, 1440.0 / minutes, 1.0};
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kCols; ++c) {
        if (Zone(r, c) == N)
          continue;
        snow::CellForcing f;
        f.Precipitation = Precipitation(r, c, n);
        f.DepositionIndex = -0.4 + 0.15 * ((r + c) % 7);
        snow::PackState pack;
        pack.Solid = solid[r][c];
        pack.Liquid = liquid[r][c];
        pack.Total = total[r][c];
        std::vector<snow::StepPart> parts{{Temperature(r, c, n), 1.0}};
        if (minutes > 720.0)
          parts = {{Temperature(r, c, n) - 3.0, night}, {Temperature(r, c, n), day}};
        snow::PrecipitationSplit split;
        outflow[r][c] = snow::AdvanceCellWater(section_.Pack, step, f, parts, split, pack).Outflow;
        solid[r][c] = pack.Solid;
        liquid[r][c] = pack.Liquid;
        total[r][c] = pack.Total;
      }
    if (snow::HasSlides(section_.Pack.Method))
      raster_.Slide({section_.MinSlideSlope, section_.SlideMassFrac});
  }

private:
  const SnowSection &section_;
  test::SlideRaster raster_;

public:
  Grid &solid, &liquid, &total, &input, &mobile, &deposition;
  Grid outflow;
};

class SnowModuleMpiTest : public testing::Test {
protected:
  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
};

TEST_F(SnowModuleMpiTest, StoresEqualTheWholeRasterComputedAtOnce) {
  for (const int method : {1, 9})
    for (const double minutes : {1440.0, 720.0}) {
      SCOPED_TRACE(testing::Message() << "method " << method << ", " << minutes << " min");
      SnowSectionText text;
      text.method = method;
      text.minutes = minutes;
      text.minSlideSlope = 32.0;
      text.slideMassFraction = 0.2;
      text.maxDepositionSlope = 50.0;
      text.maxDepositionFactor = 3.0;
      text.statcodes["storage"] = 2001;
      SnowRun run(log_, text, ModelDate{0, 31, 1, 2012});
      Reference reference(log_, run.module->Section());
      for (int n = 0; n < 12; ++n) {
        run.Step(n, minutes);
        reference.Step(n, run.module->NightFraction, run.module->DayFraction, minutes);
      }
      ExpectSameGrid(run.Gather("snowstorage_solid"), reference.solid, "solid");
      ExpectSameGrid(run.Gather("snowstorage_liquid"), reference.liquid, "liquid");
      ExpectSameGrid(run.Gather("snow_storage_total"), reference.total, "total");
      ExpectSameGrid(run.Gather("snowcover_outflow"), reference.outflow, "outflow");
      if (method == 9) {
        ExpectSameGrid(run.Gather("input_mass"), reference.input, "input_mass");
        ExpectSameGrid(run.Gather("mobile_mass"), reference.mobile, "mobile_mass");
        ExpectSameGrid(run.Gather("deposition"), reference.deposition, "deposition");
        if (Rank() == 0) {
          double moved = 0.0;
          for (long r = 1; r <= kRows; ++r)
            for (long c = 1; c <= kCols; ++c)
              moved += Zone(r, c) == N ? 0.0 : reference.input[r][c];
          EXPECT_GT(moved, 0.0); // the slides did move snow
        }
      }
      // The last row of the storage table: the zone means of the whole raster.
      run.module->ReleaseMemory();
      if (Rank() == 0) {
        std::map<double, std::pair<double, int>> zones;
        for (long r = 1; r <= kRows; ++r)
          for (long c = 1; c <= kCols; ++c)
            if (Zone(r, c) != N) {
              zones[Zone(r, c)].first += reference.total[r][c];
              zones[Zone(r, c)].second += 1;
            }
        std::string expected = "2012\t 1\t" + std::string(minutes > 720.0 ? "12" : " 6") + "\t" +
                               std::string(minutes > 720.0 ? " 0" : "12");
        for (const auto &[zone, sum] : zones) {
          std::array<char, 40> value{};
          std::snprintf(value.data(), value.size(), "\t%.3f", sum.first / sum.second);
          expected += value.data();
        }
        const std::string table = test::ReadWholeFile("storage.sta");
        EXPECT_NE(table.find(expected + "\t"), std::string::npos) << expected << "\n" << table;
      }
    }
}

// Each process keeps a state file of its own; the reservoirs computed on
// rank 0 count on every process, when read and when written.
TEST_F(SnowModuleMpiTest, RankZerosReservoirsCount) {
  SnowSectionText text;
  SnowRun run(log_, text, ModelDate{0, 31, 1, 2012});
  schneemodellklasse &module = *run.module;
  SubbasinRunoffArrays qg;
  module.SetQg(&qg);
  GlacierReservoirOutflows &reservoirs = module.Reservoirs();
  reservoirs.Allocate(module.SubbasinCount());
  const std::string own = "state_" + std::to_string(Rank()) + ".txt";
  std::string section = "[snow_model]\n2 (number of subasins)\n";
  for (int i = 1; i <= 2; ++i)
    for (const char *label : {"Qice_slr", "Qfirn_slr", "Qsnow_slr"})
      section += std::to_string(i) + "\t" + std::to_string(10 * Rank() + i) + "(" + label + ")\n";
  std::FILE *file = std::fopen(own.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fputs(section.c_str(), file);
  std::fclose(file);
  module.ReadStorage(own, 1);
  EXPECT_EQ(reservoirs.Ice[1], 1.0);
  EXPECT_EQ(reservoirs.Snow[2], 2.0);
  reservoirs.Firn[2] = 5.0 + Rank(); // as if every process had computed its own
  module.ReleaseMemory();
  const std::string written = test::ReadWholeFile(own);
  EXPECT_NE(written.find("2\t5(TG code and Qfirn_slr value)"), std::string::npos) << written;
}

// 60 random steps with slides: within every zone, what fell stays, flows out
// or is held in the packs (the slides move it between the zone's cells).
TEST_F(SnowModuleMpiTest, WaterOfEveryZoneClosesWithSlides) {
  for (const double minutes : {1440.0, 720.0}) {
    SCOPED_TRACE(minutes);
    SnowSectionText text;
    text.method = 9;
    text.minutes = minutes;
    text.minSlideSlope = 25.0;
    text.slideMassFraction = 0.3;
    SnowRun run(log_, text, ModelDate{0, 31, 3, 2012});
    std::map<double, double> stored; // per zone
    for (int n = 0; n < 60; ++n) {
      run.Step(n, minutes);
      const Grid total = run.Gather("snow_storage_total");
      const Grid input = run.Gather("precipitation");
      const Grid outflow = run.Gather("snowcover_outflow");
      if (Rank() != 0)
        continue;
      std::map<double, double> now, in, out;
      for (long r = 1; r <= kRows; ++r)
        for (long c = 1; c <= kCols; ++c)
          if (Zone(r, c) != N) {
            now[Zone(r, c)] += total[r][c];
            in[Zone(r, c)] += input[r][c];
            out[Zone(r, c)] += outflow[r][c];
          }
      for (const auto &[zone, sum] : now)
        ASSERT_NEAR(in[zone], sum - stored[zone] + out[zone], 1e-9)
            << "zone " << zone << ", step " << n;
      stored = now;
    }
  }
}

TEST_F(SnowModuleMpiTest, OneAndTwoThreadsGiveTheSameBits) {
  for (const int method : {1, 5, 9}) {
    SCOPED_TRACE(method);
    std::vector<std::vector<Grid>> results;
    for (const int threads : {1, 2}) {
      omp_set_num_threads(threads);
      SnowSectionText text;
      text.method = method;
      SnowRun run(log_, text, ModelDate{0, 31, 1, 2012});
      for (int n = 0; n < 10; ++n)
        run.Step(n, 1440.0);
      std::vector<Grid> grids;
      for (const char *id :
           {"snow_storage_total", "snowstorage_liquid", "snowcover_outflow", "snow_age", "albedo"})
        grids.push_back(run.Gather(id));
      if (snow::IsEnergyBalance(method))
        for (const char *id : {"snowtemp", "surftemp"})
          grids.push_back(run.Gather(id));
      results.push_back(std::move(grids));
    }
    omp_set_num_threads(2);
    for (std::size_t k = 0; k < results[0].size(); ++k)
      ExpectSameGrid(results[0][k], results[1][k], "grid");
  }
}

// Days 1 to 8 at once, and days 1 to 4 then 5 to 8 through the state grids
// written as doubles at the end of the first part and read by the second.
TEST_F(SnowModuleMpiTest, RunSplitThroughItsStateGridsEqualsOneLongRun) {
  SnowSectionText text;
  text.method = 7; // energy balance, deposition index and slides
  text.minSlideSlope = 30.0;
  text.slideMassFraction = 0.1;
  for (const char *grid :
       {"solid", "liquid", "total", "snowdays", "snowage", "snowtemp", "surftemp"})
    text.writecodes[grid] = 3;
  const std::vector<const char *> state{
      "snowstorage_solid", "snowstorage_liquid", "snow_storage_total", "days_snow",
      "snow_age",          "snowtemp",           "surftemp",           "snowcover_outflow"};
  std::vector<Grid> first;
  {
    SnowRun part(log_, text, ModelDate{0, 4, 1, 2012}, true);
    for (int n = 0; n < 4; ++n)
      part.Step(n, 1440.0);
  }
  std::vector<Grid> split;
  {
    text.readGrid = 1;
    SnowRun part(log_, text, ModelDate{0, 8, 1, 2012}, true);
    for (int n = 4; n < 8; ++n)
      part.Step(n, 1440.0);
    for (const char *id : state)
      split.push_back(part.Gather(id));
  }
  text.readGrid = 0;
  SnowRun whole(log_, text, ModelDate{0, 8, 1, 2012}, true);
  for (int n = 0; n < 8; ++n)
    whole.Step(n, 1440.0);
  for (std::size_t k = 0; k < state.size(); ++k) {
    SCOPED_TRACE(state[k]);
    ExpectSameGrid(whole.Gather(state[k]), split[k], state[k]);
  }
  const Grid temperature = whole.Gather("snowtemp"); // collective
  if (Rank() == 0) {
    int known = 0;
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kCols; ++c)
        known += temperature[r][c] > 0.0 ? 1 : 0;
    EXPECT_GT(known, 5); // the energy balance did keep temperatures
  }
}

// Weather that is no usable number at one cell of the last rows stops the
// step on every process with the exit code, and rank 0's FATAL entry names
// the module, the pack's grid and the cell.
TEST_F(SnowModuleMpiTest, WaterThatIsNoNumberStopsTheRun) {
  struct Case {
    const char *input;
    double value;
    const char *named; // the grid and value the entry names
  };
  const double inf = std::numeric_limits<double>::infinity();
  for (const Case &k : {Case{"precipitation", std::nan(""), "snowstorage_solid holds nan"},
                        Case{"precipitation", inf, "snowstorage_solid holds inf"},
                        Case{"temperature", std::nan(""), "snowstorage_solid holds nan"}}) {
    SCOPED_TRACE(testing::Message() << k.input << " " << k.value);
    SnowRun run(log_, SnowSectionText{}, ModelDate{0, 31, 1, 2012});
    run.weather.Set(0);
    if (run.catchment.Owns(kRows, 1))
      run.catchment.Input(k.input)[kRows][1] = k.value;
    const int code = test::ExitCodeOf([&] { run.module->ComputeTimeStep(0, 1, 1, 2012); });
    EXPECT_EQ(code, NonFiniteWaterExitCode);
    if (Rank() == 0) {
      EXPECT_TRUE(
          test::Logged(std::string("FATAL: snow_model: water out of range on 1.1.2012 0h: ") +
                       k.named + " at row 9, col 1"))
          << test::ReadWholeFile("Tavro_Diag_0.xml");
    }
    run.module->ReleaseMemory();
  }
}

} // namespace
} // namespace tavro
