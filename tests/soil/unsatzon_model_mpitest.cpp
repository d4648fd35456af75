// The soil-water module built on a catchment divided over one or three
// processes: the initial state of every own cell, the registered grids in
// their documented order, the state read from the files of an earlier run,
// the ponding depths in millimetres, the glacier table, the control-point
// files, the lower-boundary temperature written once, the start-of-run
// report, and the refusals with their exit codes. The results are the same
// under any number of processes.
#include "soil/soil_module_fixture.h"

#include "kernel/fatal_error.h"
#include "soil/initial_soil_state.h"
#include "tables/irrigation_table.h"
#include "tables/soil_class.h"

#include <mpi.h>

#include <cmath>
#include <cstdio>
#include <span>
#include <sstream>

namespace tavro {
namespace {

using test::kSoilColumns;
using test::kSoilNoData;
using test::kSoilRows;
using test::Logged;
using test::Rank;
using test::SoilSection;
using test::SoilSectionText;
using test::ThreeSubbasins;

// Optional grids and sections that switch the module's options on.
struct Options {
  bool ponding = false;
  bool drainage = false;
  bool heat = false;
  bool irrigation = false;
};

class UnsatzonModelTest : public test::SoilModuleTest {
protected:
  // The control file for the options, with the section's further choices.
  std::string Control(const Options &o, SoilSectionText s = ThreeSubbasins(),
                      const std::string &more = "") {
    s.pond = o.ponding ? 1 : 0;
    s.drainage = o.drainage ? 1 : 0;
    return SoilSection(s) + (o.heat ? test::HeatSection(1) : std::string()) + more;
  }

  // Registers the grids the options need.
  void AddOptionGrids(const Options &o) {
    if (o.ponding)
      AddGrid("max_ponding_storage", [](long, long) { return 0.05; });
    if (o.drainage) {
      AddGrid("drainage_depth", [](long, long) { return 0.5; });
      AddGrid("drainage_distance", [](long, long) { return 10.0; });
    }
    if (o.heat) {
      AddGrid("temperature", [](long, long) { return 1.0; });
      AddGrid("gw_k_x_1", [](long, long) { return 1e-4; });
      AddGrid("gw_k_y_1", [](long, long) { return 1e-4; });
    }
    if (o.irrigation) {
      AddGrid("irrigation_codes", [](long r, long) { return r <= 2 ? 1.0 : kSoilNoData; });
      irrigation_ = OneBasedArray<IrrigationTableEntry>(1);
      irrigation_[1].Method = 3;
      irrigation_[1].psi_dry = 3.0;
      irrigation_[1].psi_wet = 0.5;
    }
  }

  std::unique_ptr<unsatzonmodellklasse>
  BuildWith(const Options &o, SoilSectionText s = ThreeSubbasins(), const std::string &more = "") {
    return Build(Control(o, s, more), o.irrigation ? &irrigation_ : nullptr);
  }

  // The registered identifiers in registry order from the module's first entry.
  std::vector<std::string> RegistryFrom(int first) const {
    std::vector<std::string> identifiers;
    for (int i = first; i <= GridRegistry::LastIndex && !registry_[i].IsFree(); ++i)
      identifiers.push_back(registry_[i].Identifier);
    return identifiers;
  }

  // The equilibrium profile of a soil record for groundwater layer g.
  std::vector<double> Profile(int record, int g) const {
    const soil_class &soil = soils_[static_cast<std::size_t>(record)];
    std::vector<double> geo(11);
    std::vector<double> theta(11);
    ComputeGeodeticHeads(0.0, soil.thickness, geo);
    ComputeEquilibriumTheta(soil, g, geo, theta);
    return theta;
  }

  OneBasedArray<IrrigationTableEntry> irrigation_;
};

int SumOverProcesses(int value) {
  int total = 0;
  MPI_Allreduce(&value, &total, 1, MPI_INT, MPI_SUM, MPI_COMM_WORLD);
  return total;
}

TEST_F(UnsatzonModelTest, InitialStateOfEveryOwnCell) {
  auto m = BuildWith({});
  ASSERT_EQ(m->MaxSoilLayers, 10);
  EXPECT_EQ(m->LanduseLayerCount, 1);
  EXPECT_EQ(m->ZoneCount, 3);
  const SoilWaterGrids &g = m->Grids;
  const std::vector<double> loam = Profile(1, 5);
  const std::vector<double> sandy = Profile(2, 5);
  for (long r = m->FirstRow; r <= m->LastRow; ++r)
    for (long c = 1; c <= kSoilColumns; ++c) {
      const double *theta = g.Theta.Levels[r][c];
      const double *geo = g.GeodeticHeads.Levels[r][c];
      if (!Own(r, c)) {
        EXPECT_EQ(theta[5], kSoilNoData);
        EXPECT_EQ(geo[10], kSoilNoData);
        EXPECT_EQ(g.GroundwaterLevel.Values[r][c], kSoilNoData);
        continue;
      }
      const std::vector<double> &expected = r >= 5 ? sandy : loam;
      for (int i = 0; i <= 10; ++i) {
        EXPECT_NEAR(theta[i], expected[static_cast<std::size_t>(i)], 1e-12) << r << c << i;
        EXPECT_NEAR(geo[i], test::SoilElevation(r, c) - 0.15 * i, 1e-9);
      }
      // Equilibrium: one hydraulic head above the table (centre of layer 6).
      const double table = test::SoilElevation(r, c) - 0.825;
      for (int i = 1; i <= 5; ++i)
        EXPECT_NEAR(g.HydraulicHeads.Levels[r][c][i], table, 1e-9);
      EXPECT_EQ(g.GroundwaterLevel.Values[r][c], 6.0);
      EXPECT_NEAR(g.GroundwaterDistance.Values[r][c], -0.75, 1e-9);
      EXPECT_EQ(g.ThetaInGwLevel.Values[r][c], theta[5]);
      EXPECT_NEAR(g.TangensBeta.Values[r][c], 0.5235987755, 1e-10);
      EXPECT_EQ(g.Etr2Etp.Values[r][c], 1.0);
      EXPECT_EQ(g.Baseflow.Values[r][c], 0.0);
      EXPECT_EQ(g.QDown.Levels[r][c][3], 0.0);
    }
  // Without "flow_times" the module says how surface runoff is routed.
  if (Rank() == 0)
    EXPECT_TRUE(Logged("INFO: \n------------------------------------------------------------------"
                       "------\n\nWarning! There was no flow travel time grid for surface runoff "
                       "read in\n"));
  m->ReleaseMemory();
}

TEST_F(UnsatzonModelTest, TheSectionsValuesReachTheModule) {
  SoilSectionText s = ThreeSubbasins();
  s.storageFile = "state.txt";
  s.surfaceInteraction = 1;
  auto m = Build(SoilSection(s) + "[unsatzon_tuning]\nmax_error = 1e-4\nmax_iterations=50\n");
  EXPECT_EQ(m->GetStorageFileName(), "state.txt_" + std::to_string(Rank()));
  EXPECT_EQ(m->GetReadGrids(), 0);
  EXPECT_EQ(m->GetStateReadMode(), 0);
  EXPECT_EQ(m->Config.Tuning.max_error, 1e-4);
  EXPECT_EQ(m->Config.Tuning.max_iterations, 50.0);
  EXPECT_EQ(m->ProcessTag, "+srf1");
  const std::vector<double> kelsqd(m->GetKelsqd()->Values.begin(), m->GetKelsqd()->Values.end());
  EXPECT_EQ(kelsqd, std::vector<double>({60, 120, 180}));
  EXPECT_EQ(m->GetKelsqi()->Values[3], 1800.0);
  // The runoff arrays exist once the module is linked after construction.
  EXPECT_EQ(test::ExitCodeOf([&] { m->GetQg(); }), 57);
  int error = -1;
  m->InitTracerGrids(error, 0, nullptr, &statistics_, 200);
  ASSERT_EQ(error, 0);
  for (SubbasinRunoffArrays *arrays : {m->GetQg(), m->GetQD(), m->GetQI(), m->GetQBb()})
    EXPECT_EQ(arrays->SubbasinCount(), 3);
  // Without the groundwater module there is no river exchange.
  EXPECT_EQ(m->GetRiverflowTable(), nullptr);
  m->ReleaseMemory();
}

TEST_F(UnsatzonModelTest, GridsAreRegisteredInTheirOrder) {
  const std::vector<std::string> tail = {"q_down", "q_downext", "SB_1_grid", "MeanThetaInRootZone"};
  const std::vector<std::string> rest = {"GWTableExtern",
                                         "Balance",
                                         "tangens_beta",
                                         "SB_2_grid",
                                         "macropore_infiltration",
                                         "ROOTgrid",
                                         "groundwater_recharge",
                                         "Capillar_Uprise",
                                         "Percolation",
                                         "directflow",
                                         "interflow",
                                         "infiltration_excess",
                                         "total_infiltration",
                                         "infiltration_saturation"};
  auto join = [](std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (auto &part : parts)
      all.insert(all.end(), part.begin(), part.end());
    return all;
  };
  const std::vector<std::string> plain =
      join({{"groundwater_distance", "geodetic_heads", "theta", "hydraulic_heads", "baseflow",
             "groundwater_level", "Theta_in_GWLEVEL"},
            tail,
            {"ETR2ETP"},
            rest});
  const std::vector<std::string> everything =
      join({{"groundwater_distance", "ponding_storage", "geodetic_heads", "theta",
             "hydraulic_heads", "T_Lower_Boundary_Condition", "Soil_Temperature_Stack", "baseflow",
             "groundwater_level", "Theta_in_GWLEVEL"},
            tail,
            {"irrigation_amounts", "Max_Pumping", "SBLOW_grid", "SBHIGH_grid", "ETR2ETP"},
            rest,
            {"frozenSoilInGroundwater", "ThawDepthTMod", "drainage_flow", "drainage_level",
             "pond_evaporation", "pond_exchange", "pond_overflow"}});
  const std::vector<std::string> plainRead =
      join({{"theta", "geodetic_heads", "hydraulic_heads", "groundwater_distance",
             "groundwater_level", "Theta_in_GWLEVEL", "baseflow"},
            tail,
            {"ETR2ETP"},
            rest});
  const std::vector<std::string> everythingRead =
      join({{"theta", "geodetic_heads", "hydraulic_heads", "T_Lower_Boundary_Condition",
             "Soil_Temperature_Stack", "groundwater_distance", "groundwater_level",
             "Theta_in_GWLEVEL", "baseflow", "ponding_storage"},
            tail,
            {"irrigation_amounts", "Max_Pumping", "SBLOW_grid", "SBHIGH_grid", "ETR2ETP"},
            rest,
            {"frozenSoilInGroundwater", "ThawDepthTMod", "drainage_flow", "drainage_level",
             "pond_evaporation", "pond_exchange", "pond_overflow"}});

  const Options all{true, true, true, true};
  AddOptionGrids(all);
  struct Case {
    const char *what;
    Options options;
    const std::vector<std::string> &computed;
    const std::vector<std::string> &read;
  };
  for (const Case &c :
       {Case{"no options", {}, plain, plainRead},
        Case{"ponding, drainage, heat, irrigation", all, everything, everythingRead}}) {
    SCOPED_TRACE(c.what);
    const int first = registry_.FirstFreeIndex();
    auto written = BuildWith(c.options);
    EXPECT_EQ(written->RegisteredIdentifiers, c.computed);
    EXPECT_EQ(RegistryFrom(first), c.computed); // consecutive entries
    WriteStateFiles(*written);
    written->ReleaseMemory();
    SoilSectionText s = ThreeSubbasins();
    s.readgrids = 1;
    auto read = BuildWith(c.options, s);
    EXPECT_EQ(read->RegisteredIdentifiers, c.read);
    EXPECT_EQ(RegistryFrom(first), c.read);
    read->ReleaseMemory();
    EXPECT_EQ(registry_.FirstFreeIndex(), first); // every entry released
  }
}

TEST_F(UnsatzonModelTest, EntriesTakenByOthersArePassedOver) {
  const int first = registry_.FirstFreeIndex();
  Grid foreign(1, 1, kSoilColumns, kSoilRows, log_);
  registry_.AddGrid(first + 2, "foreign", &foreign, nullptr, 1, "foreign", 0, 1, 1, kSoilColumns,
                    kSoilRows, log_);
  auto m = BuildWith({});
  EXPECT_EQ(registry_[first + 1].Identifier, "geodetic_heads");
  EXPECT_EQ(registry_[first + 2].Identifier, "foreign");
  EXPECT_EQ(registry_[first + 3].Identifier, "theta");
  m->ReleaseMemory();
  EXPECT_EQ(registry_[first + 2].Identifier, "foreign");
}

TEST_F(UnsatzonModelTest, TheStateOfAnEarlierRunIsRead) {
  SoilSectionText earlier = ThreeSubbasins();
  earlier.iniGwLevel = 9.0; // layers 3..10 saturated
  auto first = Build(SoilSection(earlier));
  WriteStateFiles(*first);
  first->ReleaseMemory();

  SoilSectionText s = ThreeSubbasins();
  s.readgrids = 3;
  auto m = Build(SoilSection(s));
  const std::vector<double> loam = Profile(1, 2);
  for (long r = m->FirstRow; r <= m->LastRow; ++r)
    for (long c = 1; c <= kSoilColumns; ++c)
      if (Own(r, c) && r <= 4) {
        EXPECT_NEAR(m->Grids.Theta.Levels[r][c][2], loam[2], 1e-12);
        EXPECT_NEAR(m->Grids.Theta.Levels[r][c][3], 0.43, 1e-12);
        EXPECT_EQ(m->Grids.GroundwaterLevel.Values[r][c], 3.0);
        EXPECT_NEAR(m->Grids.GroundwaterDistance.Values[r][c], -0.30, 1e-9);
        EXPECT_NEAR(m->Grids.GeodeticHeads.Levels[r][c][10], test::SoilElevation(r, c) - 1.5, 1e-9);
      }
  m->ReleaseMemory();
}

TEST_F(UnsatzonModelTest, AStackWithAnotherNumberOfLayersIsRefused) {
  soils_ = test::LoamAndSandyLoam(log_, 9);
  auto nine = BuildWith({});
  WriteStateFiles(*nine);
  nine->ReleaseMemory();
  soils_ = test::LoamAndSandyLoam(log_, 10);
  SoilSectionText s = ThreeSubbasins();
  s.readgrids = 1;
  EXPECT_EQ(Failure(SoilSection(s)), 13);
  if (Rank() == 0)
    EXPECT_TRUE(Logged("FATAL: wrong number of levels in stack soilgrid_4.asc (there are 9 level, "
                       "it must be 10"));
  EXPECT_EQ(registry_.FindGrid("theta", true), 0); // nothing left behind
}

TEST_F(UnsatzonModelTest, ADistanceReadWithinTheFirstLayerSaturatesEveryLayer) {
  std::string grid = "ncols 5\nnrows 6\nxllcorner 0\nyllcorner 0\ncellsize 1000\n"
                     "nodata_value -9999\n";
  for (long r = 1; r <= kSoilRows; ++r) {
    for (long c = 1; c <= kSoilColumns; ++c)
      grid += r <= 2 ? "-0.05 " : "-0.35 ";
    grid += "\n";
  }
  test::WriteFixture("soilgrid_8.asc", grid);
  SoilSectionText s = ThreeSubbasins();
  s.readgrids = 2;
  s.iniGwLevel = 0.5; // not used with a distance read
  auto m = Build(SoilSection(s));
  const std::vector<double> loamAtTwo = Profile(1, 2);
  for (long r = m->FirstRow; r <= m->LastRow; ++r)
    for (long c = 1; c <= kSoilColumns; ++c) {
      if (!Own(r, c) || r > 4)
        continue;
      const double *theta = m->Grids.Theta.Levels[r][c];
      if (r <= 2) {
        for (int i = 1; i <= 10; ++i)
          EXPECT_EQ(theta[i], 0.43);
        EXPECT_EQ(m->Grids.GroundwaterLevel.Values[r][c], 1.0);
        EXPECT_EQ(m->Grids.GroundwaterDistance.Values[r][c], -0.05); // as read
      } else {
        EXPECT_NEAR(theta[1], loamAtTwo[1], 1e-12);
        EXPECT_EQ(m->Grids.GroundwaterLevel.Values[r][c], 3.0);
        EXPECT_EQ(m->Grids.GroundwaterDistance.Values[r][c], -0.35);
      }
    }
  m->ReleaseMemory();
}

TEST_F(UnsatzonModelTest, PondingDepthsAreMillimetresOnEveryProcess) {
  AddOptionGrids({true});
  auto m = BuildWith({true});
  const Grid &ponding = Registered("max_ponding_storage");
  for (long r = held_.first; r <= held_.last; ++r)
    for (long c = 1; c <= kSoilColumns; ++c) {
      const bool held = Rank() == 0 || Own(r, c) ||
                        (decomposition_.halo.HasRow(r) && decomposition_.halo[r][c] >= 0);
      if (test::SoilSubbasin(r, c) != kSoilNoData && held)
        EXPECT_NEAR(ponding[r][c], 50.0, 1e-9) << r << " " << c;
    }
  EXPECT_EQ(m->ProcessTag, "+po,");
  m->ReleaseMemory();
}

TEST_F(UnsatzonModelTest, GlacierTableIsTheSameOnEveryProcess) {
  // Half glacier in row 3, whole glacier at (5, 2).
  AddGrid("ice_firn", [](long r, long c) { return r == 3 ? 0.5 : (r == 5 && c == 2 ? 1.0 : 0.0); });
  auto m = BuildWith({});
  ASSERT_EQ(m->GlacierTable.Count(), 3u);
  const GlacierRecord &one = m->GlacierTable[1];
  const GlacierRecord &two = m->GlacierTable[2];
  const GlacierRecord &three = m->GlacierTable[3];
  EXPECT_FALSE(one.HasGlacier);
  EXPECT_EQ(one.UnglacierizedSum, 9.0);
  EXPECT_TRUE(two.HasGlacier);
  EXPECT_EQ(two.GlacierSum, 2.5);
  EXPECT_EQ(two.UnglacierizedSum, 7.5);
  EXPECT_TRUE(three.HasGlacier);
  EXPECT_EQ(three.GlacierSum, 1.0);
  EXPECT_EQ(three.UnglacierizedSum, 8.0);
  m->ReleaseMemory();
}

TEST_F(UnsatzonModelTest, OneProcessCreatesTheControlPointFiles) {
  AddOptionGrids({false, false, true});
  SoilSectionText s = ThreeSubbasins();
  s.controlPoint = "3 2";
  auto m = BuildWith({false, false, true}, s);
  EXPECT_EQ(SumOverProcesses(m->HasControlPoint ? 1 : 0), 1);
  EXPECT_EQ(m->HasControlPoint, Own(3, 2));
  if (m->HasControlPoint) {
    EXPECT_EQ(m->ControlPointBuffers.size(), 7u); // with the temperature file
    EXPECT_EQ(test::ReadWholeFile("theta.cp"),
              "YY\tMM\tDD\tHH\ttheta[3][2][1]\t[2]\t[3]\t[4]\t[5]\t[6]\t[7]\t[8]\t[9]\t[10]\t\n");
    EXPECT_EQ(m->ControlPointBuffers[1].ValueCount, 25); // other data of one land-use layer
  }
  MPI_Barrier(MPI_COMM_WORLD);
  EXPECT_TRUE(test::FileExists("temperature.cp"));
  m->ReleaseMemory();
}

TEST_F(UnsatzonModelTest, AControlPointFileThatCannotBeCreatedEndsEveryProcess) {
  SoilSectionText s = ThreeSubbasins();
  s.controlPoint = "4 4";
  std::string control = SoilSection(s);
  control.replace(control.find("theta.cp"), 8, "missing/theta.cp");
  EXPECT_EQ(Failure(control), 62);
  if (Rank() == 0 && Own(4, 4))
    EXPECT_TRUE(Logged("FATAL: error opening file for soil theta (single point) \n-> check disk "
                       "space or user rights"));
}

TEST_F(UnsatzonModelTest, LowerBoundaryTemperatureIsWrittenOnce) {
  settings_.WriteAsciiGrids = true;
  AddOptionGrids({false, false, true});
  auto m = BuildWith({false, false, true});
  MPI_Barrier(MPI_COMM_WORLD);
  std::istringstream file(test::ReadWholeFile("T_Lower_Boundary_Condition"));
  std::string word;
  double value = 0.0;
  for (int header = 0; header < 12; ++header)
    file >> word;
  for (long r = 1; r <= kSoilRows; ++r)
    for (long c = 1; c <= kSoilColumns; ++c) {
      ASSERT_TRUE(file >> value);
      const double expected = test::SoilSubbasin(r, c) == kSoilNoData
                                  ? kSoilNoData
                                  : 12.0 - 0.007 * test::SoilElevation(r, c);
      EXPECT_NEAR(value, expected, 1e-4) << r << " " << c;
    }
  EXPECT_FALSE(file >> value);
  m->ReleaseMemory();
}

TEST_F(UnsatzonModelTest, StartOfRunReportIsTheSameUnderAnyProcessCount) {
  SoilSectionText s = ThreeSubbasins();
  s.controlPoint = "5 3";
  auto m = Build(SoilSection(s));
  m->ReleaseMemory();
  auto water = [](const std::vector<double> &theta) {
    double sum = 0.0;
    for (int i = 1; i <= 10; ++i)
      sum += theta[static_cast<std::size_t>(i)] * 0.15;
    return sum;
  };
  // 19 loam cells and 9 sandy-loam cells.
  const double loam = water(Profile(1, 5));
  const double sandy = water(Profile(2, 5));
  const double mean = (19 * loam + 9 * sandy) / 28;
  if (Rank() != 0)
    return;
  const std::string log = test::ReadWholeFile("modell_0.log");
  char line[200];
  std::snprintf(line, sizeof line,
                "soil water content (for control point r=5 c=3) at model-start: %lf mm\n",
                sandy * 1000.0);
  EXPECT_NE(log.find(line), std::string::npos) << log;
  std::snprintf(line, sizeof line,
                "mean soil water content for all cells at model-start: %lf m^3/m^2\n", mean);
  EXPECT_NE(log.find(line), std::string::npos) << log;
  std::snprintf(line, sizeof line,
                "mean soil water content for unglacierized or only partly unglacierized cells at "
                "model-start: %lf m^3/m^2\n",
                mean);
  EXPECT_NE(log.find(line), std::string::npos);
  EXPECT_NE(log.find("mean soil water content for partly or completely glacierized cells at "
                     "model-start: 0.000000 m^3/m^2\n"),
            std::string::npos);
}

TEST_F(UnsatzonModelTest, IrrigationThresholdsAndRootZoneWater) {
  AddOptionGrids({false, false, false, true});
  // Roots of 0.4 m in subbasin 1.
  registry_.ReleaseGrid(registry_.FindGrid("root_depth1", false));
  AddGrid("root_depth1", [](long, long) { return 0.4; });
  auto m = BuildWith({false, false, false, true});
  const soil_class &loam = soils_[1];
  const std::vector<double> theta = Profile(1, 5);
  for (long r = m->FirstRow; r <= m->LastRow; ++r)
    for (long c = 1; c <= kSoilColumns; ++c) {
      if (!Own(r, c) || r > 4)
        continue;
      const double sb1 = (theta[1] * 0.15 + theta[2] * 0.15 + theta[3] * 0.1) / 0.4;
      EXPECT_NEAR(m->Grids.SB1.Values[r][c], sb1, 1e-12);
      EXPECT_NEAR(m->Grids.MeanThetaInRootZone.Values[r][c], loam.GetSuction(1, sb1), 1e-12);
      if (r <= 2) {
        EXPECT_EQ(m->Grids.SBLow.Values[r][c], loam.GetTheta(2, 3.0));
        EXPECT_EQ(m->Grids.SBHigh.Values[r][c], loam.GetTheta(2, 0.5));
      } else {
        EXPECT_EQ(m->Grids.SBLow.Values[r][c], kSoilNoData); // no irrigation code
      }
      EXPECT_EQ(m->Grids.IrrigationAmounts.Values[r][c], 0.0);
    }
  EXPECT_EQ(m->ProcessTag, "+ir,");
  m->ReleaseMemory();
}

TEST_F(UnsatzonModelTest, ASingleLayerSoilTakesItsThresholdsFromThatLayer) {
  soils_ = test::LoamAndSandyLoam(log_, 1);
  AddOptionGrids({false, false, false, true});
  auto m = BuildWith({false, false, false, true});
  for (long r = m->FirstRow; r <= m->LastRow; ++r)
    for (long c = 1; c <= kSoilColumns; ++c)
      if (Own(r, c) && r <= 2)
        EXPECT_EQ(m->Grids.SBLow.Values[r][c], soils_[1].GetTheta(1, 3.0));
  m->ReleaseMemory();
}

TEST_F(UnsatzonModelTest, DrainageLevelsAndDrainsBelowTheProfile) {
  AddGrid("drainage_depth", [](long r, long) { return r >= 5 ? 2.0 : 0.5; });
  AddGrid("drainage_distance", [](long, long) { return 10.0; });
  auto m = BuildWith({false, true});
  for (long r = m->FirstRow; r <= m->LastRow; ++r)
    for (long c = 1; c <= kSoilColumns; ++c)
      if (Own(r, c))
        EXPECT_EQ(m->Grids.DrainageLevel.Values[r][c], r >= 5 ? 0.0 : 4.0);
  if (Rank() == 0)
    EXPECT_TRUE(Logged("WARNING: in 9 cells the drainage depth lies at or below the bottom of the "
                       "soil profile (unsatzon_model): they get no drainage (drainage level 0)"));
  EXPECT_EQ(m->ProcessTag, "+dr,");
  m->ReleaseMemory();
}

TEST_F(UnsatzonModelTest, AnInactiveModuleReadsNothingMore) {
  const int first = registry_.FirstFreeIndex();
  SoilSectionText s;
  s.flowControl = 0;
  auto m = Build(SoilSection(s) + "[heat_transfer]\nnot a number\n[unsatzon_tuning]\n"
                                  "max_error = abc\n\n[permafrost]\n");
  EXPECT_EQ(m->IsActive(), 0);
  EXPECT_EQ(m->GetQg(), nullptr);
  EXPECT_EQ(m->GetQD(), nullptr);
  EXPECT_EQ(m->GetQI(), nullptr);
  EXPECT_EQ(m->GetQBb(), nullptr);
  EXPECT_EQ(m->GetKelsqd(), nullptr);
  EXPECT_EQ(m->GetKelsqi(), nullptr);
  EXPECT_EQ(m->GetRiverflowTable(), nullptr);
  EXPECT_EQ(m->GetStorageFileName(), "");
  m->SelectWaterInput(true); // nothing to choose from, nothing chosen
  EXPECT_EQ(m->Links.WaterInput, nullptr);
  EXPECT_EQ(registry_.FirstFreeIndex(), first);
  EXPECT_FALSE(m->ControlFile().IsOpen());
  m->ReleaseMemory();
}

TEST_F(UnsatzonModelTest, RefusalsEndEveryProcessWithTheirCodes) {
  struct Case {
    const char *what;
    std::function<std::string()> control;
    int code;
    std::string entry;
  };
  const int processes = test::ProcessCount();
  // In this order: each case keeps the grids the one before took away or added.
  const std::vector<Case> cases = {
      {"ponding without its grid", [&] { return Control({true}); }, 33,
       "max_ponding_storage not found in memory"},
      {"heat without temperature",
       [&] {
         return Control({false, false, true});
       },
       33, "temperature not found in memory"},
      {"surface interaction 2",
       [&] {
         SoilSectionText s = ThreeSubbasins();
         s.surfaceInteraction = 2;
         return SoilSection(s);
       },
       processes > 1 ? 9 : -1, processes > 1 ? "can only be 0 or 1 for MPI version" : ""},
      {"ini_gw_level 1",
       [&] {
         SoilSectionText s = ThreeSubbasins();
         s.iniGwLevel = 1.0;
         return SoilSection(s);
       },
       17, "ini_gw_level (must be greater than 1)"},
      {"a needed grid is missing",
       [&] {
         registry_.ReleaseGrid(registry_.FindGrid("RoughnessLength1", false));
         return SoilSection(ThreeSubbasins());
       },
       33, "RoughnessLength1 not found in memory,;These data are needed within unsatzon_model "},
      {"missing [permafrost]",
       [&] {
         for (const char *name : {"PermafrostThawDepth", "SnowFreeDaysGrid", "ThawCoeffPermaFrost"})
           AddGrid(name, [](long, long) { return 0.0; });
         return SoilSection(ThreeSubbasins());
       },
       17, "FATAL: error in control file, [permafrost]; (EOF)not found!"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string control = c.control();
    const int first = registry_.FirstFreeIndex();
    EXPECT_EQ(Failure(control), c.code);
    if (c.code > 0) {
      if (Rank() == 0)
        EXPECT_TRUE(Logged(c.entry));
      EXPECT_EQ(registry_.FirstFreeIndex(), first);
    }
  }
}

TEST_F(UnsatzonModelTest, PermafrostGivesTheReducedConductivity) {
  for (const char *name : {"PermafrostThawDepth", "SnowFreeDaysGrid", "ThawCoeffPermaFrost"})
    AddGrid(name, [](long, long) { return 0.0; });
  auto m = Build(SoilSection(ThreeSubbasins()) +
                 "[permafrost]\n1\n0.5\n0.2\nthaw.asc 3\n3e-10 reduced k_sat (in m/s)\n");
  EXPECT_EQ(m->Config.ReducedKsat, 3e-10);
  EXPECT_NE(m->Links.PermafrostThawDepth, nullptr);
  m->ReleaseMemory();
}

TEST_F(UnsatzonModelTest, GlacierResizeTableBesideTheSoilMoistureTable) {
  for (const char *name : {"GlacierizedCells", "GlacierMassBalance", "GlacierizedCellsOld"})
    AddGrid(name, [](long, long) { return 0.0; });
  for (const std::string name : {"sb2.stat", "sb2"}) {
    SoilSectionText s = ThreeSubbasins();
    s.statisticsCode = 2001;
    s.sb2File = name;
    auto m = Build(SoilSection(s));
    EXPECT_NE(m->GlacierResizeTable, nullptr);
    EXPECT_EQ(m->GlacierTable.Count(), 3u);
    m->ReleaseMemory();
  }
  if (Rank() == 0) {
    EXPECT_NE(test::ReadWholeFile("sb2_immo.stat")
                  .find("immobilised or mobilised soil water by glacier resizing 0..profile depth "
                        "per zone _submodel:unsatzon_model"),
              std::string::npos);
    EXPECT_TRUE(test::FileExists("sb2_immo"));
  }
}

} // namespace
} // namespace tavro
