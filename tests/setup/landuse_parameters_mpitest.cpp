// The land-use parameter grids of the staged set-up and their update in every
// step, on the fixture catchment with two land-use layers, under one and
// three processes: the values at the start date against fix points
// interpolated by hand at 400 m and 1400 m, a declared grid that keeps its
// values where the record's bit is clear, a missing second layer, the
// phenology grids and stage stacks, the day's and the seven-day mean
// temperature, the steps of the balance period and its reset, the
// vegetation-period flags, the dynamic start and the failures.
#include "setup/setup_catchment.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace tavro {
namespace {

constexpr double N = -9999.0;

// Multilayer types 100 (forest, code 30, over grass, code 10) and 200 (grass
// alone) alternate like a chess board; odd columns lie at 400 m, even ones
// at 1400 m.
bool IsForestOverGrass(long r, long c) { return (r + c) % 2 == 0; }
bool IsHigh(long, long c) { return c % 2 == 0; }
bool IsCatchmentCell(long r, long c) { return test::ZoneAt(r, c) != N; }

// Grass: fix points 91, 121, 213 and 305 (1 April, 1 May, 1 August,
// 1 November 2001); the second moves 10 days later at 1400 m. Its balance
// period runs from fix point 2 to fix point 4 and restarts on day 213.
const std::string kGrass = "10 grass { method = VariableDayCount;\n"
                           "  RootDist = 1; TReduWet = 0.9; HReduDry = 3.45;\n"
                           "  StartVegetationPeriodForBalance = 2;\n"
                           "  StopVegetationPeriodForBalance = 4;\n"
                           "  JDVegetationResetForBalance = 213;\n"
                           "  JDVegetationWriteForBalance = 214;\n"
                           "  JulDays = 91 121 213 305;\n"
                           "  Albedo = 0.25 0.2 0.15 0.25;\n"
                           "  rsc = 100 80 60 100;\n"
                           "  rs_evaporation = 300 250 200 300;\n"
                           "  LAI = 1 3 5 1;\n"
                           "  Z0 = 0.01 0.03 0.05 0.01;\n"
                           "  VCF = 0.2 0.6 1.0 0.2;\n"
                           "  RootDepth = 0.1 0.3 0.5 0.1;\n"
                           "  AltDep = 0 0.01 0 0;\n"
                           "}\n";

// Forest on the same days without altitude shift; its canopy resistance
// does not come from the table (sixth switch 0).
const std::string kForest =
    "30 forest { method = VariableDayCount; useInternalParameters = 11111011;\n"
    "  RootDist = 1; TReduWet = 0.9; HReduDry = 3.45;\n"
    "  JulDays = 91 121 213 305;\n"
    "  Albedo = 0.12 0.14 0.16 0.12;\n"
    "  rsc = 150 140 130 150;\n"
    "  rs_evaporation = 400 350 300 400;\n"
    "  LAI = 2 4 6 2;\n"
    "  Z0 = 1 1.2 1.5 1;\n"
    "  VCF = 0.8 0.9 0.95 0.8;\n"
    "  RootDepth = 1 1.2 1.5 1;\n"
    "  AltDep = 0 0 0 0;\n"
    "}\n";

// Forest whose leaves come out 30 days after its dynamic start (fix point 2).
std::string DynamicForest(int dormancyEnd, int latestStart) {
  return "30 forest { method = DynamicPhenology_1;\n"
         "  RootDist = 1; TReduWet = 0.9; HReduDry = 3.45;\n"
         "  JulDays = 60 -1 30 290;\n"
         "  F* = 28.4; DP1_t1_dorm = " +
         std::to_string(dormancyEnd) +
         "; DP1_T_Bf = 0; JDReset_TStart = 300;\n"
         "  maxStartJDforDP1 = " +
         std::to_string(latestStart) +
         ";\n"
         "  Albedo = 0.14 0.14 0.14 0.14; rsc = 150 140 130 150;\n"
         "  LAI = 0.5 0.5 5 5; Z0 = 1 1 1.5 1.5; VCF = 0.8 0.8 0.9 0.9;\n"
         "  RootDepth = 1 1 1.2 1.2; AltDep = 0 0 0 0;\n"
         "}\n";
}

// Forest with stages, dormancy and leaf fall; every fix point would move
// 10 days later at 1400 m.
const std::string kStagedForest =
    "30 forest { method = DynamicPhenology_4;\n"
    "  RootDist = 1; TReduWet = 0.9; HReduDry = 3.45;\n"
    "  JulDays = 30 -1 40 250 330;\n"
    "  F* = 100; DP1_t1_dorm = 60; DP1_T_Bf = 0; JDReset_TStart = 340;\n"
    "  maxStartJDforDP1 = 200; DP4_t0_dorm = 280; DP4_t1_dorm = 60;\n"
    "  DP4_T0 = 5; DP4_T1 = 5; DP4_Par_a = 200; DP4_Par_b = -20;\n"
    "  DP4_T_xylstop = 10; DP4_t_xs1 = 200; DP4_SPSLF = 4;\n"
    "  Albedo = 0.14 0.14 0.14 0.14 0.14; rsc = 150 140 130 150 150;\n"
    "  LAI = 0.5 0.5 5 5 0.5; Z0 = 1 1 1.5 1.5 1;\n"
    "  VCF = 0.8 0.8 0.9 0.9 0.8; RootDepth = 1 1 1.2 1.2 1;\n"
    "  AltDep = 0.01 0.01 0.01 0.01 0.01;\n"
    "}\n";

struct Catchment {
  std::string forest = kForest;
  bool albedo = true;
  int intervalMinutes = 30;
  std::string dayTemperatureWritecode; // declares "TemperatureAVG" with it when set
};

// The fixture catchment, starting on 1 May 2001, with land use in two layers
// and a declared canopy-resistance grid of layer 1 holding 77.
void WriteLanduseCatchment(const Catchment &catchment) {
  test::WriteFixture(
      "landuse.asc", test::CatchmentGrid([](long r, long c) {
        return !IsCatchmentCell(r, c) ? 999.0 : IsForestOverGrass(r, c) ? 100.0 : 200.0;
      }));
  std::vector<std::pair<std::string, std::string>> replacements = {
      {"4 number of standard grids", catchment.dayTemperatureWritecode.empty()
                                         ? "5 number of standard grids"
                                         : "6 number of standard grids"},
      {"albedo.asc       albedo       fillcode = 0 periodicity = 1 D 1 persistent = 0 2",
       "landuse.asc landuse fillcode = 0\n"
       "rsc.asc SurfaceCanopyResistance1 readcode = 0 defaultValue = 77 fillcode = 0" +
           (catchment.dayTemperatureWritecode.empty()
                ? std::string()
                : "\ntavg.asc TemperatureAVG readcode = 0 defaultValue = 0 fillcode = 0 "
                  "writecode = " +
                      catchment.dayTemperatureWritecode)},
      {"[landuse_table]\n0 land-use types\n", "[multilayer_landuse]\n2 types\n"
                                              "100 forest_grass { Landuse_Layers = 30, 10; }\n"
                                              "200 grass { Landuse_Layers = 10, -9999; }\n\n"
                                              "[landuse_table]\n2 land-use types\n" +
                                                  kGrass + catchment.forest},
      {"[model_time]\n0\n1\n1\n2001", "[model_time]\n0\n1\n5\n2001"},
      {"30 minutes to the interval end",
       std::to_string(catchment.intervalMinutes) + " minutes to the interval end"}};
  if (catchment.albedo)
    replacements.push_back({"vg_made.asc  vg_made", "vg_made.asc  albedo"});
  test::WriteCatchment(replacements);
  test::WriteFixture("elevation.asc", test::CatchmentGrid([](long r, long c) {
                       return !IsCatchmentCell(r, c) ? N : IsHigh(r, c) ? 1400.0 : 400.0;
                     }));
}

struct LanduseRun : test::CatchmentSetup {
  Grid temperature;

  bool Owns(long r, long c) const {
    const MpiDecomposition &d = setup->Decomposition();
    return IsCatchmentCell(r, c) && d.regions.HasRow(r) && d.regions[r][c] == d.rank;
  }
  void ForOwnCells(const std::function<void(long, long)> &check) const {
    int checked = 0;
    ForOwnAndHaloCells([&](long r, long c) {
      if (Owns(r, c)) {
        check(r, c);
        ++checked;
      }
    });
    EXPECT_GT(checked, 0);
  }

  // A "temperature" grid over the held rows, as an interpolator registers it.
  void RegisterTemperature() {
    const StripRows held = setup->Decomposition().HeldRows();
    temperature = Grid(held.first, held.last, 6, 5, log);
    const int index = registry.FirstFreeIndex();
    registry.AddGrid(index, "temperature", &temperature, nullptr, 1, "temperature", 0, held.first,
                     held.last, 6, 5, log);
  }
  void SetTemperature(const std::function<double(long, long)> &value) {
    for (long r = temperature.FirstRow(); r <= temperature.LastRow(); ++r)
      for (long c = 1; c <= 6; ++c)
        temperature[r][c] = value(r, c);
  }

  // Daily steps on the days of the year first..last.
  void RunDays(int first, int last, double temperatureValue = 10.0) {
    if (temperature.Allocated())
      SetTemperature([&](long, long) { return temperatureValue; });
    const int monthStart[] = {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    for (int day = first; day <= last; ++day) {
      int month = 12;
      while (monthStart[month] >= day)
        --month;
      setup->UpdateLanduseParameters(0, day - monthStart[month], month, 2001, 1440);
    }
  }

  double Value(const char *identifier, long r, long c) const { return GridOf(identifier)[r][c]; }
};

// Sets up the catchment with the dynamic forest (forcing from day
// dormancyEnd, latest start day 250) and data of the given interval, and
// registers "temperature" when asked.
void StartDynamicRun(LanduseRun &run, int dormancyEnd, int intervalMinutes,
                     bool withTemperature = true) {
  Catchment catchment;
  catchment.forest = DynamicForest(dormancyEnd, 250);
  catchment.intervalMinutes = intervalMinutes;
  WriteLanduseCatchment(catchment);
  const test::SetupOutcome outcome = run.Run();
  ASSERT_EQ(outcome.code, 0) << outcome.console;
  if (withTemperature)
    run.RegisterTemperature();
}

// The expected value of a parameter at the start date, 1 May (day 121):
// grass at 400 m on its fix point 2, at 1400 m three quarters of the way
// from fix point 1 (day 91) to the shifted fix point 2 (day 131).
struct StartValue {
  const char *identifier;
  double forest;
  double grassLow;
  double grassHigh;
};

const StartValue kLayer1[] = {
    {"root_depth1", 1.2, 0.3, 0.1 + 0.2 * 0.75},
    {"leaf_area_index1", 4.0, 3.0, 1.0 + 2.0 * 0.75},
    {"vegetation_coverage_degree1", 0.9, 0.6, 0.2 + 0.4 * 0.75},
    {"RoughnessLength1", 1.2, 0.03, 0.01 + 0.02 * 0.75},
    {"SurfaceIntercepResistance1", 20.0, 20.0, 20.0},       // the default list
    {"SurfaceCanopyResistance1", 77.0, 80.0, 85.0},         // forest: the declared grid
    {"albedo", 0.14, 0.2, 0.25 - 0.05 * 0.75},              // follows layer 1
    {"SurfaceEvaporationResistance", 350.0, 250.0, 262.5}}; // follows layer 1

TEST(LanduseParameterGrids, StartValuesFollowTheFixPointsOfEveryLayer) {
  WriteLanduseCatchment({});
  LanduseRun run;
  const test::SetupOutcome outcome = run.Run();
  ASSERT_EQ(outcome.code, 0) << outcome.console;
  ASSERT_NE(run.setup->ParameterGrids(), nullptr);
  EXPECT_EQ(run.setup->ParameterGrids()->LayerCount(), 2);

  int checked = 0;
  run.ForOwnAndHaloCells([&](long r, long c) {
    const bool forest = IsForestOverGrass(r, c);
    for (const StartValue &v : kLayer1) {
      const double expected = forest ? v.forest : IsHigh(r, c) ? v.grassHigh : v.grassLow;
      EXPECT_NEAR(run.Value(v.identifier, r, c), expected, 1e-12)
          << v.identifier << " " << r << "/" << c;
    }
    // Layer 2 is grass under the forest and missing elsewhere.
    for (const StartValue &v : kLayer1) {
      const std::string layer1 = v.identifier;
      if (layer1.back() != '1')
        continue;
      const std::string layer2 = layer1.substr(0, layer1.size() - 1) + "2";
      const double grass = IsHigh(r, c) ? v.grassHigh : v.grassLow;
      EXPECT_NEAR(run.Value(layer2.c_str(), r, c), forest ? grass : N, 1e-12)
          << layer2 << " " << r << "/" << c;
    }
    ++checked;
  });
  EXPECT_GT(checked, 0);

  // The balance period of grass begins on its fix point 2: on the start date
  // at 400 m, not yet at 1400 m; forest has no balance period.
  run.ForOwnCells([&](long r, long c) {
    const bool forest = IsForestOverGrass(r, c);
    EXPECT_EQ(run.Value("VegetationStart1", r, c), forest ? 0.0 : IsHigh(r, c) ? -1.0 : 121.0);
    EXPECT_EQ(run.Value("VegetationStop1", r, c), -1.0);
    EXPECT_EQ(run.Value("VegetationDuration1", r, c), 0.0);
    EXPECT_EQ(run.Value("VegetationStart2", r, c), !forest ? N : IsHigh(r, c) ? -1.0 : 121.0);
    EXPECT_EQ(run.Value("VegetationStop2", r, c), forest ? -1.0 : N);
    EXPECT_EQ(run.Value("VegetationDuration2", r, c), forest ? 0.0 : N);
  });

  // Without a dynamic phenology there are no phenology grids.
  for (const char *identifier :
       {"SumOfForcingUnits1", "Pheno_start1", "SumOfChillingUnits1", "FStar_ForcingThreshold1",
        "MultipleStartTimes1", "TemperatureAVG", "StartDayOfLeaveFall", "TemperatureMOVAVG7"})
    EXPECT_EQ(run.registry.Find(identifier), 0) << identifier;
}

TEST(LanduseParameterGrids, EveryNewGridTakesAnEntryOfItsOwn) {
  WriteLanduseCatchment({});
  LanduseRun run;
  ASSERT_EQ(run.Run().code, 0);
  std::vector<std::string> identifiers;
  for (int i = 1; i <= GridRegistry::LastIndex; ++i)
    if (!run.registry[i].IsFree())
      identifiers.push_back(run.registry[i].Identifier);
  std::vector<std::string> sorted = identifiers;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
  for (const char *name : {"root_depth2", "VegetationDuration2", "SurfaceEvaporationResistance",
                           "SurfaceCanopyResistance1", "landuse1", "soil_depth"})
    EXPECT_EQ(std::count(identifiers.begin(), identifiers.end(), name), 1) << name;
  // Released, the grids leave the registry.
  run.setup->ReleaseMemory();
  EXPECT_EQ(run.registry.Find("root_depth2"), 0);
  EXPECT_EQ(run.registry.Find("SurfaceEvaporationResistance"), 0);
}

TEST(LanduseParameterGrids, WithoutAlbedoGridTheSetUpStops) {
  Catchment catchment;
  catchment.albedo = false;
  WriteLanduseCatchment(catchment);
  LanduseRun run;
  const test::SetupOutcome outcome = run.Run();
  EXPECT_EQ(outcome.code, 12);
  EXPECT_EQ(outcome.calls, 15);
  if (test::Rank() == 0) {
    EXPECT_NE(outcome.console.find("Albedo Grid not found for use within Landuse-Table.\n This "
                                   "grid must be read in as standard or variable grid (there, it "
                                   "can be created automatically)"),
              std::string::npos)
        << outcome.console;
  }
}

TEST(LanduseParameterGrids, PhenologyGridsStartFromTheEntry) {
  // The start date (day 121) lies after the latest dynamic start (day 100):
  // the start is preset to day 70, 30 days before it, so the leaves are out.
  Catchment catchment;
  catchment.forest = DynamicForest(60, 100);
  WriteLanduseCatchment(catchment);
  LanduseRun run;
  ASSERT_EQ(run.Run().code, 0);
  run.ForOwnCells([&](long r, long c) {
    if (!IsForestOverGrass(r, c))
      return;
    EXPECT_EQ(run.Value("Pheno_start1", r, c), 70.0);
    EXPECT_EQ(run.Value("SumOfForcingUnits1", r, c), 0.0);
    EXPECT_EQ(run.Value("SumOfChillingUnits1", r, c), 0.0);
    EXPECT_EQ(run.Value("FStar_ForcingThreshold1", r, c), 28.4);
    EXPECT_EQ(run.Value("leaf_area_index1", r, c), 5.0);
    EXPECT_EQ(run.Value("TemperatureAVG", r, c), 0.0);
    EXPECT_EQ(run.Value("TemperatureMOVAVG7", r, c), 0.0);
    EXPECT_EQ(run.Value("StartDayOfLeaveFall", r, c), 0.0);
  });
  EXPECT_EQ(run.registry.Find("MultipleStartTimes1"), 0); // no staged entry
}

TEST(LanduseParameterGrids, StageStacksHoldTheFixPointsAndAreWrittenAtTheEnd) {
  Catchment catchment;
  catchment.forest = kStagedForest;
  WriteLanduseCatchment(catchment);
  LanduseRun run;
  ASSERT_EQ(run.Run().code, 0);
  const int index = run.registry.FindGrid("MultipleStartTimes1", false);
  ASSERT_GT(index, 0);
  const Stack &stages = *run.registry[index].StackData;
  EXPECT_EQ(stages.LastLevel(), 5);
  EXPECT_EQ(run.registry[index].Levels, 5);
  run.ForOwnCells([&](long r, long c) {
    const double shift = IsHigh(r, c) ? 10.0 : 0.0;
    const double *s = stages[r][c];
    const std::vector<double> levels(s, s + 6);
    if (IsForestOverGrass(r, c)) // the start and its offset do not move with altitude
      EXPECT_EQ(levels, (std::vector<double>{0, 30 + shift, -1, 40, 250 + shift, 330 + shift}));
    else // grass: only fix point 2 moves; it has no fifth
      EXPECT_EQ(levels, (std::vector<double>{0, 91, 121 + shift, 213, 305, N}));
  });
  run.setup->ReleaseMemory();
  if (test::Rank() == 0) {
    EXPECT_TRUE(test::FileExists("MultipleStartTimes1_End"));
  }
}

TEST(LanduseParameterSteps, TheDaysMeanIsTheMeanOfItsSteps) {
  // Hourly data whose hour marks the start of the step: hour 23 closes the
  // day. The step length the loop passes does not matter.
  for (const int minutes : {60, 1440}) {
    SCOPED_TRACE(minutes);
    LanduseRun run;
    ASSERT_NO_FATAL_FAILURE(StartDynamicRun(run, 200, 60));
    for (int hour = 0; hour <= 23; ++hour) {
      run.SetTemperature([&](long r, long c) { return hour + r + c; });
      run.setup->UpdateLanduseParameters(hour, 1, 5, 2001, minutes);
      if (hour == 11)
        run.ForOwnCells([&](long r, long c) {
          EXPECT_DOUBLE_EQ(run.Value("TemperatureAVG", r, c), 5.5 + r + c);
        });
    }
    EXPECT_EQ(run.setup->MovingAverageDays(), 1);
    run.ForOwnCells([&](long r, long c) {
      EXPECT_DOUBLE_EQ(run.Value("TemperatureMOVAVG7", r, c), 11.5 + r + c);
      EXPECT_EQ(run.Value("TemperatureAVG", r, c), 0.0); // cleared after the day
      // Every step counts: forest always, grass once its period has begun.
      const double grass = IsHigh(r, c) ? 0.0 : 24.0;
      const bool forest = IsForestOverGrass(r, c);
      EXPECT_EQ(run.Value("VegetationDuration1", r, c), forest ? 24.0 : grass);
      EXPECT_EQ(run.Value("VegetationDuration2", r, c), forest ? grass : N);
    });
    if (test::Rank() == 0) {
      EXPECT_NE(test::ReadWholeFile("Tavro_Diag_0.xml").find("   actual parameters 1.5.2001 23. h"),
                std::string::npos);
    }
  }
}

TEST(LanduseParameterSteps, TheSevenDayMeanAveragesTheDaysSoFar) {
  LanduseRun run;
  ASSERT_NO_FATAL_FAILURE(StartDynamicRun(run, 200, 1440));
  const double days[] = {3.0, 6.0, 12.0};
  for (int day = 1; day <= 3; ++day) {
    run.SetTemperature([&](long, long c) { return days[day - 1] + c; });
    run.setup->UpdateLanduseParameters(0, day, 5, 2001, 1440);
  }
  EXPECT_EQ(run.setup->MovingAverageDays(), 3);
  run.ForOwnCells(
      [&](long r, long c) { EXPECT_DOUBLE_EQ(run.Value("TemperatureMOVAVG7", r, c), 7.0 + c); });
}

TEST(LanduseParameterSteps, TheSevenDayMeanIsWrittenByTheDayMeansWritecode) {
  // The units digit of the declared day's mean's writecode (1: every call)
  // writes the new seven-day mean at the end of every day.
  Catchment catchment;
  catchment.forest = DynamicForest(200, 250);
  catchment.intervalMinutes = 1440;
  catchment.dayTemperatureWritecode = "51";
  WriteLanduseCatchment(catchment);
  LanduseRun run;
  ASSERT_EQ(run.Run().code, 0);
  run.RegisterTemperature();
  EXPECT_EQ(run.registry[run.registry.Find("TemperatureMOVAVG7")].OutputKind, 1);
  EXPECT_EQ(run.registry[run.registry.Find("TemperatureMOVAVG7")].PeriodAggregate, 0);
  run.RunDays(121, 121, 4.5);
  if (test::Rank() == 0) {
    const std::string written = test::ReadWholeFile("TemperatureMOVAVG7");
    EXPECT_NE(written.find("nodata_value"), std::string::npos);
    EXPECT_NE(written.find("4.5"), std::string::npos) << written;
  }
}

TEST(LanduseParameterSteps, TheResetDayRestartsThePeriodBeforeItsStartTest) {
  Catchment catchment;
  catchment.intervalMinutes = 1440;
  WriteLanduseCatchment(catchment);
  LanduseRun run;
  ASSERT_EQ(run.Run().code, 0);
  run.RunDays(121, 212);
  const int zone = 1;
  const int soilDepth = run.registry.FindGrid("soil_depth", false);
  EXPECT_EQ(run.registry[zone].VegetationPeriodBegins, 0);
  run.ForOwnCells([&](long r, long c) {
    if (IsForestOverGrass(r, c))
      return;
    // Grass began its period on fix point 2: day 121 at 400 m, day 131 at 1400 m.
    EXPECT_EQ(run.Value("VegetationStart1", r, c), IsHigh(r, c) ? 131.0 : 121.0);
    EXPECT_EQ(run.Value("VegetationDuration1", r, c), IsHigh(r, c) ? 82.0 : 92.0);
  });
  // Day 213 is the reset day and fix point 3: the period begins again at once.
  run.RunDays(213, 213);
  run.ForOwnCells([&](long r, long c) {
    if (IsForestOverGrass(r, c))
      return;
    EXPECT_EQ(run.Value("VegetationStart1", r, c), 213.0);
    EXPECT_EQ(run.Value("VegetationStop1", r, c), -1.0);
    EXPECT_EQ(run.Value("VegetationDuration1", r, c), 1.0);
  });
  // The table's reset day restarts the vegetation-period output of every grid,
  // its write day writes it.
  EXPECT_EQ(run.registry[zone].VegetationPeriodBegins, 1);
  EXPECT_EQ(run.registry[soilDepth].VegetationPeriodBegins, 1);
  EXPECT_EQ(run.registry[soilDepth].VegetationPeriodEnded, 0);
  run.setup->UpdateLanduseParameters(0, 2, 8, 2001, 1440);
  EXPECT_EQ(run.registry[zone].VegetationPeriodEnded, 1);
  EXPECT_EQ(run.registry[soilDepth].VegetationPeriodEnded, 1);
}

TEST(LanduseParameterSteps, TheDynamicStartMovesTheLeafOut) {
  // Forcing from day 121 at 18.4 degrees, 14.2 a day against F* = 28.4:
  // the start comes on day 123, the leaves grow over the 30 days after it.
  LanduseRun run;
  ASSERT_NO_FATAL_FAILURE(StartDynamicRun(run, 121, 1440));
  run.RunDays(121, 122, 18.4);
  run.ForOwnCells([&](long r, long c) {
    if (IsForestOverGrass(r, c)) {
      EXPECT_EQ(run.Value("Pheno_start1", r, c), -1.0);
      EXPECT_EQ(run.Value("SumOfForcingUnits1", r, c), 28.4);
      EXPECT_EQ(run.Value("leaf_area_index1", r, c), 0.5);
    }
  });
  run.setup->UpdateLanduseParameters(0, 3, 5, 2001, 1440);
  run.setup->UpdateLanduseParameters(0, 4, 5, 2001, 1440);
  run.ForOwnCells([&](long r, long c) {
    if (IsForestOverGrass(r, c)) {
      EXPECT_EQ(run.Value("Pheno_start1", r, c), 123.0);
      EXPECT_DOUBLE_EQ(run.Value("leaf_area_index1", r, c), 0.5 + 4.5 / 30.0);
    }
  });
}

TEST(LanduseParameterSteps, OneOrTwoThreadsGiveTheSameGrids) {
  const int before = omp_get_max_threads();
  std::vector<std::vector<double>> results;
  for (const int threads : {1, 2}) {
    omp_set_num_threads(threads);
    LanduseRun run;
    ASSERT_NO_FATAL_FAILURE(StartDynamicRun(run, 121, 1440));
    run.RunDays(121, 130, 15.0);
    std::vector<double> values;
    run.ForOwnCells([&](long r, long c) {
      for (const char *identifier : {"leaf_area_index1", "root_depth2", "Pheno_start1",
                                     "TemperatureMOVAVG7", "VegetationDuration2"})
        values.push_back(run.Value(identifier, r, c));
    });
    results.push_back(values);
  }
  omp_set_num_threads(before);
  EXPECT_EQ(results[0], results[1]);
}

TEST(LanduseParameterSteps, WithoutTemperatureTheDynamicPhenologyStops) {
  LanduseRun run;
  ASSERT_NO_FATAL_FAILURE(StartDynamicRun(run, 121, 30, false));
  const test::CallOutcome outcome =
      test::RunCapturingConsole([&] { run.setup->UpdateLanduseParameters(0, 1, 5, 2001, 1440); });
  EXPECT_EQ(outcome.code, 33);
  if (test::Rank() == 0) {
    EXPECT_NE(outcome.console.find("could not find grid with label \"temperature\". \nThis grid "
                                   "must be present (either by interpolating or by reading or as "
                                   "standard grid) for using dynamic phenology"),
              std::string::npos)
        << outcome.console;
  }
}

} // namespace
} // namespace tavro
