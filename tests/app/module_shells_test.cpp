// The module shells: each reads its section's flow control parameter and
// time interval (off / on), a missing section ends the run with 17 and the
// documented entry (the special output stays off instead), the construction
// error convention, and the documented wiring and state-file effects.
#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "kernel/module_settings.h"
#include "landsurface/interception_model.h"
#include "landsurface/radiation_correction.h"
#include "landsurface/radiation_correction_fixture.h"
#include "landsurface/silting_up_model.h"
#include "landsurface/snow_model.h"
#include "lateral/groundwater_flow.h"
#include "lateral/irrigation_model.h"
#include "lateral/surface_routing.h"
#include "meteo/precipitation_correction.h"
#include "meteo/regional_superposition.h"
#include "raster/output/special_output.h"
#include "routing/routing_model.h"
#include "setup/tracer_ini_class.h"
#include "soil/unsatzon_model.h"
#include "support/decomposed_raster.h"
#include "support/diagnostics_entries.h"
#include "support/soil_water_inputs.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tavro {
namespace {

constexpr const char *kControl = "control.txt_0.$$$";
// The values of an active surface routing section after its two base values.
constexpr const char *kSurfaceRoutingValues =
    "1 method\nqdsr.sta 0\nqisr.sta 0\nqbsr.sta 0\nqgsr.sta 0\nvelocity.stk\n0\n"
    "fluxes.stk\n0\n0.0001\n30\n0.0001\n50\n10\n600\n0.005\n1\n0 readgrids\n"
    "sstor.sta 0\nsurface_state.txt\n";
using test::Logged;

class ModuleShellsTest : public testing::Test {
protected:
  ModuleShellsTest() {
    zoneTable_[1].zonenwert = 1;
    settings_.Log = &log_;
    settings_.ControlFileName = kControl;
    settings_.Registry = &registry_;
    settings_.ZoneIndex = &zoneIndex_;
    settings_.ZoneTable = &zoneTable_;
    settings_.ZoneCount = 2;
    settings_.MaxZoneCode = 2;
    settings_.NCols = 4;
    settings_.NRows = 3;
    settings_.FirstRow = 1;
    settings_.LastRow = 3;
    settings_.EndDate = ModelDate{23, 31, 12, 2001};
    // The soil-water module ranks its subbasins 4 and 9 from this grid.
    subbasins_.Fill(9.0);
    subbasins_[1][1] = 4.0;
    subbasins_[3][4] = -9999.0;
    registry_.AddGrid(3, "subbasins.asc", &subbasins_, nullptr, 1, "zonegrid_soilmodel", 0, 1, 3, 4,
                      3, log_);
    // What an active snow module reads every step.
    std::size_t k = 0;
    for (const char *identifier : {"albedo", "landuse1", "temperature", "precipitation"}) {
      Grid &grid = snowInputs_[k++];
      grid = Grid(1, 3, 4, 3, log_);
      grid.Fill(1.0);
      registry_.AddGrid(registry_.FirstFreeIndex(), identifier, &grid, nullptr, 1, identifier, 0, 1,
                        3, 4, 3, log_);
    }
    // What an active soil-water module links: land use, evapotranspiration,
    // soil types of a four-layer soil table.
    soilInputs_.AddSoilModuleInputs(1, 3, 30.0, [](long, long) { return 1.0; });
    settings_.SoilTable = &soils_;
    // Surface routing exchanges halo rows: one process, one strip.
    Grid whole;
    decomposition_ = test::DecomposeZones(
        whole, 4, 3, -9999.0, [](long r, long c) { return r == 3 && c == 4 ? -9999.0 : 1.0; },
        log_);
    settings_.Halo.Decomposition = &decomposition_;
    // What an active surface routing links besides the soil-water grids.
    for (const char *identifier :
         {"SurfStorSiltingUp", "river_depth", "river_width", "river_links"})
      soilInputs_.Add(identifier, 1, 3, [](long, long) { return 0.0; });
  }

  // The soil-water module's runoff grids for a surface routing built alone;
  // their registry entries.
  std::vector<int> AddSoilRunoffGrids() {
    std::vector<int> entries;
    for (const char *identifier : {"directflow", "interflow"}) {
      soilInputs_.Add(identifier, 1, 3, [](long, long) { return 0.0; });
      entries.push_back(registry_.FindGrid(identifier, false));
    }
    return entries;
  }

  std::string Diagnostics() const { return test::ReadWholeFile("Tavro_Diag_0.xml"); }
  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  MpiDecomposition decomposition_;
  GridRegistry registry_;
  // The set-up grids the radiation correction reads when it is on.
  test::TerrainGrids terrain_{log_,
                              registry_,
                              {3, 4, 2, 1, 3},
                              [](long, long) { return 1.0; },
                              [](long r, long c) { return 100.0 * r + 10.0 * c; }};
  OneBasedArray<int> zoneIndex_{2, 1};
  OneBasedArray<ZoneRecord> zoneTable_{2};
  Grid subbasins_{1, 3, 4, 3, log_};
  std::array<Grid, 4> snowInputs_;
  test::RegisteredGrids soilInputs_{log_, registry_, 3, 4};
  SoilTable soils_ = test::LoamAndSandyLoam(log_, 4);
  ModuleSettings settings_;
};

// The two statistics lines of "[irrigation]" (no output).
constexpr const char *kIrrigationValues = "irrgw.sta 0\nirrsw.sta 0\n";

// The values of "[snow_model]" after its first two: the degree-day method,
// its parameters, and the grid and statistics files (no output).
constexpr const char *kSnowValues =
    "1\n1.0\n0.5\n0.0\n0.1\n0.05\n3.0\n2.0\n0.5\n0.01\n1.0\n1.0\n0.45\n0.9\n"
    "rain.asc\n0\nrain.sta 0\nsnow.asc\n0\nsnow.sta 0\ndays.asc\n0\ndays.sta 0\n"
    "age.asc\n0\nage.sta 0\nalbedo.sta 0\noutflow.asc\n0\noutflow.sta 0\nmelt.asc\n0\n"
    "melt.sta 0\nsolid.asc\n0\nliquid.asc\n0\nstorage.sta 0\ntotal.asc\n0\n0\n";

// The soil-water section of the subbasins 4 and 9.
test::SoilSectionText SoilWaterValues(int flowControl) {
  test::SoilSectionText s;
  s.flowControl = flowControl;
  s.timeStep = 60;
  s.codeRow = "4 9";
  s.valueRows = {"1 1", "1 1", "1 1", "20 20", "1 1", "0 0"};
  return s;
}

std::string SoilWaterSection(int flowControl) {
  return test::SoilSection(SoilWaterValues(flowControl));
}

using Factory = std::function<std::unique_ptr<teilmodellklasse>(int &, const ModuleSettings &)>;

struct ShellCase {
  const char *section;
  Factory make;
  std::string ownValues = {}; // what the module reads after the two head values
};

template <class T> Factory Plain() {
  return [](int &error, const ModuleSettings &s) { return std::make_unique<T>(error, s); };
}

std::vector<ShellCase> Shells() {
  return {
      {"radiation_correction", Plain<expokorrklasse>(), test::RadiationCorrectionLines({})},
      {"snow_model", Plain<schneemodellklasse>(), kSnowValues},
      {"unsatzon_model",
       [](int &e, const ModuleSettings &s) {
         return std::make_unique<unsatzonmodellklasse>(e, s, nullptr, 2);
       },
       test::SoilSectionValues(SoilWaterValues(1))},
      {"SurfaceRoutingModel",
       [](int &e, const ModuleSettings &s) {
         return std::make_unique<surfaceroutingclass>(e, s, 2);
       },
       kSurfaceRoutingValues},
      {"irrigation",
       [](int &e, const ModuleSettings &s) {
         return std::make_unique<irrigationclass>(e, s, nullptr);
       },
       kIrrigationValues},
      {"routing_model",
       [](int &e, const ModuleSettings &s) {
         return std::make_unique<abflussmodellklasse>(e, s, 0, nullptr, 1);
       }},
      {"RegionalSuperposition",
       [](int &e, const ModuleSettings &s) {
         e = 0;
         return std::make_unique<RegionalSuperposition>(s, RegionTableRef{});
       },
       "NumberOfEntities = 0;\n"},
      {"special_output",
       [](int &e, const ModuleSettings &s) {
         return std::make_unique<SpecialOutputClass>(e, s, 2);
       },
       "numfiles = 0;\n"},
  };
}

std::string Section(const std::string &name, int flowControl, double interval) {
  std::string text = "[" + name + "]\n" + std::to_string(flowControl) +
                     "  # flow control parameter\n" + std::to_string(interval) +
                     "  # time interval\n";
  // An active routing reads its values and descriptions (none) on.
  if (name == "routing_model" && flowControl != 0)
    text += "1 1000 10 1\nq.stat 0\nobserved.dat\n0\n0\n\n";
  return text;
}

TEST_F(ModuleShellsTest, EveryShellReadsItsSectionOffAndOn) {
  for (const ShellCase &shell : Shells()) {
    SCOPED_TRACE(shell.section);
    for (int flowControl : {0, 3}) {
      test::WriteFixture(kControl, "[other]\n1\n" + Section(shell.section, flowControl, 60.0) +
                                       shell.ownValues + "[after]\n");
      std::vector<int> runoff;
      if (shell.section == std::string("SurfaceRoutingModel") && flowControl != 0)
        runoff = AddSoilRunoffGrids();
      int error = -1;
      auto module = shell.make(error, settings_);
      EXPECT_EQ(error, 0);
      EXPECT_EQ(module->ModuleName, shell.section);
      EXPECT_EQ(module->IsActive(), flowControl);
      EXPECT_EQ(module->GetTimeStep(), 60);
      // The shell closes the section whether the module is on or off.
      EXPECT_FALSE(module->ControlFile().IsOpen());
      module->ReleaseMemory();
      for (int entry : runoff)
        registry_.ReleaseGrid(entry);
    }
  }
}

TEST_F(ModuleShellsTest, MissingSectionEndsTheRunWithItsEntry) {
  test::WriteFixture(kControl, "[other]\n1\n60\n");
  for (const ShellCase &shell : Shells()) {
    if (std::string(shell.section) == "special_output")
      continue;
    SCOPED_TRACE(shell.section);
    int error = -1;
    int thrown = 0;
    try {
      shell.make(error, settings_);
    } catch (int code) {
      thrown = code;
    }
    EXPECT_EQ(thrown, 17);
    if (std::string(shell.section) != "RegionalSuperposition") {
      EXPECT_EQ(error, 17);
    }
    EXPECT_TRUE(Logged(std::string("FATAL: error in control file, [") + shell.section +
                       "]; (EOF)not found!"));
  }
}

TEST_F(ModuleShellsTest, MissingSpecialOutputSectionLeavesItOffWithoutFatal) {
  test::WriteFixture(kControl, "[other]\n1\n60\n");
  int error = -1;
  SpecialOutputClass output(error, settings_, 2);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(output.IsActive(), 0);
  output.SampleStep(0, 1, 1, 2000, true, 1);
  output.FlushFiles();
  output.ReleaseMemory();
  EXPECT_EQ(Diagnostics().find("level=\"0\""), std::string::npos);
  EXPECT_TRUE(Logged("INFO: no section [special_output]: special output is off"));
}

TEST_F(ModuleShellsTest, ConstructionFailuresThatAreNoExitCodeBecomeTheModulesCode) {
  test::WriteFixture(kControl, Section("snow_model", 1, 60) + Section("special_output", 1, 60));
  ModuleSettings withoutLog = settings_;
  withoutLog.Log = nullptr; // the base refuses settings without a log
  struct Case {
    std::function<void(int &)> make;
    int code;
  };
  const std::vector<Case> cases = {
      {[&](int &e) { schneemodellklasse m(e, withoutLog); }, 103},
      {[&](int &e) { SpecialOutputClass m(e, withoutLog, 1); }, 104},
  };
  for (const Case &c : cases) {
    int error = -1;
    int thrown = 0;
    try {
      c.make(error);
    } catch (int code) {
      thrown = code;
    }
    EXPECT_EQ(error, c.code);
    EXPECT_EQ(thrown, c.code);
  }
}

TEST_F(ModuleShellsTest, LandSurfaceHandOversFollowTheFlowControlParameter) {
  test::WriteFixture(kControl, test::RadiationCorrectionSection(1, 60) +
                                   Section("snow_model", 2, 60) + kSnowValues +
                                   Section("SiltingUpModel", 0, 60));
  int error = 0;
  expokorrklasse radiation(error, settings_);
  schneemodellklasse snow(error, settings_);
  siltingupclass silting(error, settings_);

  Grid *correction = radiation.GetRadiationCorrectionGrid();
  ASSERT_NE(correction, nullptr);
  EXPECT_EQ((*correction)[2][3], 0.0);
  snow.SetRadiationCorrectionGrid(correction);
  EXPECT_EQ(snow.RadiationCorrection(), correction);
  EXPECT_NE(snow.GetSnowStorage(), nullptr);
  EXPECT_EQ(snow.GetMethod(), 1); // the method of the section, not its switch

  snow.SelectWaterInput(true);
  silting.SelectWaterInput(true); // inactive: keeps precipitation as input
  EXPECT_TRUE(snow.WaterInputFromInterception());
  EXPECT_FALSE(silting.WaterInputFromInterception());
}

TEST_F(ModuleShellsTest, InactiveModulesHandOverNothing) {
  test::WriteFixture(kControl,
                     test::RadiationCorrectionSection(2, 60) + Section("snow_model", 0, 60) +
                         Section("interception_model", 0, 60) + Section("unsatzon_model", 0, 60) +
                         Section("SurfaceRoutingModel", 0, 60) + Section("irrigation", 0, 60) +
                         Section("routing_model", 0, 60));
  int error = 0;
  expokorrklasse radiation(error, settings_);
  schneemodellklasse snow(error, settings_);
  interzeptionsmodellklasse interception(error, settings_);
  unsatzonmodellklasse soil(error, settings_, nullptr, 1);
  surfaceroutingclass surface(error, settings_, 1);
  irrigationclass irrigation(error, settings_, nullptr);
  abflussmodellklasse routing(error, settings_, 0, nullptr, 1);

  EXPECT_EQ(radiation.GetRadiationCorrectionGrid(), nullptr); // only method 1 has one
  EXPECT_EQ(snow.GetSnowStorage(), nullptr);
  EXPECT_EQ(snow.GetMethod(), 0);
  EXPECT_EQ(interception.GetMethod(), 0);
  EXPECT_EQ(soil.GetQg(), nullptr);
  EXPECT_EQ(soil.GetQBb(), nullptr);
  EXPECT_EQ(soil.GetKelsqd(), nullptr);
  EXPECT_EQ(soil.GetRiverflowTable(), nullptr);
  EXPECT_EQ(surface.GetQg(), nullptr);
  EXPECT_EQ(irrigation.GetIrrigationAmounts(), nullptr);
  EXPECT_EQ(routing.GetMaxIrrig(), nullptr);
  EXPECT_EQ(routing.GetAbfrel(), nullptr);
  // An inactive irrigation accepts routing's missing arrays.
  irrigation.SetMaxIrrig(routing.GetMaxIrrig(), routing.GetMaxIrrigFromReservoirs());
  EXPECT_EQ(registry_.FindGrid("MeanThetaInRootZone", false), 0);
}

TEST_F(ModuleShellsTest, SoilSurfaceAndRoutingHandOverTheirArrays) {
  test::WriteFixture(kControl, SoilWaterSection(1) + Section("SurfaceRoutingModel", 1, 60) +
                                   kSurfaceRoutingValues + Section("irrigation", 1, 60) +
                                   kIrrigationValues + Section("groundwater_flow", 0, 60) +
                                   Section("routing_model", 1, 60));
  int error = 0;
  unsatzonmodellklasse soil(error, settings_, nullptr, 2);
  ModuleSettings soilZones = settings_;
  soil.CopyZoneTableTo(soilZones);
  surfaceroutingclass surface(error, settings_, 2);
  irrigationclass irrigation(error, soilZones, nullptr);
  gwflowclass groundwater(error, soilZones, nullptr, 2);
  abflussmodellklasse routing(error, soilZones, 0, nullptr, 1);
  soil.InitTracerGrids(error, 0, nullptr, nullptr, 0); // creates the runoff arrays
  ASSERT_EQ(error, 0);
  surface.InitTracerGrids(error, 0, nullptr, nullptr, 0); // creates Qg
  ASSERT_EQ(error, 0);

  EXPECT_EQ(soil.GetSubstepCount(), 2);
  // The soil module's own subbasins, not the set-up's zones, go to the others.
  ASSERT_EQ(soilZones.ZoneCount, 2);
  EXPECT_EQ(soilZones.MaxZoneCode, 9);
  EXPECT_EQ((*soilZones.ZoneIndex)[4], 1);
  EXPECT_EQ((*soilZones.ZoneIndex)[9], 2);
  EXPECT_EQ((*soilZones.ZoneTable)[2].zonenwert, 9.0);
  EXPECT_EQ((*soilZones.ZoneTable)[2].sx, 10.0);
  EXPECT_NE(soilZones.ZoneTable, settings_.ZoneTable);
  ASSERT_NE(soil.GetQg(), nullptr);
  EXPECT_EQ(soil.GetQg()->SubbasinCount(), 2);
  EXPECT_NE(soil.GetQg(), soil.GetQBb());
  const int meanTheta = registry_.FindGrid("MeanThetaInRootZone", false);
  ASSERT_GT(meanTheta, 0);
  EXPECT_EQ((*registry_[meanTheta].Data)[1][1], 0.0);
  EXPECT_EQ((*registry_[meanTheta].Data)[3][4], -9999.0); // outside the subbasins

  surface.SetQBb(soil.GetQBb());
  surface.SetKelsqd(soil.GetKelsqd());
  surface.SetKelsqi(soil.GetKelsqi());
  routing.SetQg(surface.GetQg());
  EXPECT_EQ(surface.QBb(), soil.GetQBb());
  EXPECT_EQ(surface.Kelsqi(), soil.GetKelsqi());
  ASSERT_NE(surface.GetQg(), nullptr);
  EXPECT_EQ(routing.Qg(), surface.GetQg());

  routing.SetIrrigationAmounts(irrigation.GetIrrigationAmounts());
  routing.SetRiverflowTable(soil.GetRiverflowTable());
  groundwater.SetRiverflowTable(soil.GetRiverflowTable()); // off: keeps none
  irrigation.SetMaxIrrig(routing.GetMaxIrrig(), routing.GetMaxIrrigFromReservoirs());
  irrigation.SetRoutingTarget(routing.GetRoutingTarget());
  irrigation.SetAbfrel(routing.GetAbfrel());
  EXPECT_EQ(routing.Irrigation(), irrigation.GetIrrigationAmounts());
  EXPECT_EQ(groundwater.RiverflowTable(), nullptr);
  EXPECT_EQ(irrigation.MaxIrrig(), routing.GetMaxIrrig());
  EXPECT_EQ(irrigation.Abfrel(), routing.GetAbfrel());

  soil.ReleaseMemory();
  EXPECT_EQ(registry_.FindGrid("MeanThetaInRootZone", true), 0); // entry released
}

TEST_F(ModuleShellsTest, ActiveSoilWaterNeedsItsZoneGrid) {
  registry_.ReleaseGrid(3);
  test::WriteFixture(kControl, SoilWaterSection(1));
  int error = 0;
  EXPECT_EQ(test::ExitCodeOf([&] { unsatzonmodellklasse soil(error, settings_, nullptr, 1); }), 33);
  EXPECT_EQ(error, 33);
  EXPECT_TRUE(Logged("zonegrid_soilmodel not found in memory,;These data are needed within "
                     "unsatzon_model"));
}

TEST_F(ModuleShellsTest, ActiveIrrigationWithoutRoutingArraysIsFatal) {
  test::WriteFixture(kControl, Section("irrigation", 1, 60) + kIrrigationValues);
  int error = 0;
  irrigationclass irrigation(error, settings_, nullptr);
  IrrigationLimits limits;
  RoutingTargets targets;
  DischargeRelations relations;
  const struct {
    std::function<void()> call;
    const char *entry;
  } cases[] = {
      {[&] { irrigation.SetMaxIrrig(nullptr, &limits); },
       "FATAL: if irrigation is modelled, also routing has to be modelled!;(Adress of array "
       "maxirrig[] is NULL;"},
      {[&] { irrigation.SetMaxIrrig(&limits, nullptr); },
       "FATAL: if irrigation is modelled, also routing has to be modelled!;(Adress of array "
       "maxirrigFromReservoirs[] is NULL;"},
      {[&] { irrigation.SetRoutingTarget(nullptr); },
       "FATAL: if irrigation is modelled, also routing has to be modelled! ;(Adress of array "
       "routing-target is NULL);"},
      {[&] { irrigation.SetAbfrel(nullptr); },
       "FATAL: if irrigation is modelled, also routing has to be modelled! ;(Adress of array "
       "abfrel is NULL);"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(test::ExitCodeOf(c.call), 60) << c.entry;
    EXPECT_TRUE(Logged(c.entry)) << c.entry;
  }
  irrigation.SetRoutingTarget(&targets);
  irrigation.SetAbfrel(&relations);
  EXPECT_EQ(irrigation.RoutingTarget(), &targets);
}

TEST_F(ModuleShellsTest, StateSectionsFollowTheReleaseOrder) {
  test::WriteFixture(kControl, SoilWaterSection(1) + Section("SurfaceRoutingModel", 1, 60) +
                                   kSurfaceRoutingValues + Section("snow_model", 1, 60) +
                                   kSnowValues + Section("routing_model", 1, 60));
  const std::string state = "state.ska";
  test::WriteFixture(state, "left over from an earlier run\n");
  int error = 0;
  unsatzonmodellklasse soil(error, settings_, nullptr, 1);
  soil.StorageFileName = state;
  surfaceroutingclass surface(error, settings_, 1);
  surface.StorageFileName = state;
  schneemodellklasse snow(error, settings_);
  abflussmodellklasse routing(error, settings_, 0, nullptr, 1);
  soil.InitTracerGrids(error, 0, nullptr, nullptr, 0);
  routing.ReadStorage(soil.GetStorageFileName(), 2);
  snow.SetQg(soil.GetQg()); // marks the snow module initialised
  snow.ReadStorage(soil.GetStorageFileName(), 1);
  EXPECT_EQ(snow.Initialized, 1);
  for (modelobject *module : std::vector<modelobject *>{&soil, &surface, &routing})
    module->SetInitialized(1);

  routing.ReleaseMemory();
  soil.FinishRun(true);
  surface.FinishRun(true);
  snow.ReleaseMemory();
  snow.ReleaseMemory(); // a second release writes nothing more
  // Without glaciers the snow section holds empty reservoirs of the two subbasins.
  std::string snowSection = "[snow_model]\n2 (number of subasins)\n";
  for (const char *subbasin : {"1", "2"})
    for (const char *reservoir : {"Qice_slr", "Qfirn_slr", "Qsnow_slr"})
      snowSection += std::string(subbasin) + "\t0(TG code and " + reservoir + " value)\n";
  const std::string written = test::ReadWholeFile(state);
  // A routing section without routing descriptions: its header and the empty line.
  const std::string head = "[routing_model]\n\n[unsatzon_model]\n2 (number of subasins)\n";
  const std::string tail = "\n" + snowSection + "\n";
  ASSERT_GT(written.size(), head.size() + tail.size());
  EXPECT_EQ(written.substr(0, head.size()), head);
  EXPECT_EQ(written.substr(written.size() - tail.size()), tail);
  // Surface routing's section (never set up here: counts only) between them.
  const std::size_t surfaceAt = written.find("\n[SurfaceRoutingModel]\n2 (number of subasins)\n");
  ASSERT_NE(surfaceAt, std::string::npos);
  EXPECT_GT(surfaceAt, head.size());
  EXPECT_LT(surfaceAt, written.size() - tail.size());
}

TEST_F(ModuleShellsTest, StateIsOnlyWrittenByModulesMarkedInitialised) {
  test::WriteFixture(kControl, SoilWaterSection(1) + Section("snow_model", 1, 60) + kSnowValues);
  const std::string state = "state.ska";
  int error = 0;
  unsatzonmodellklasse soil(error, settings_, nullptr, 1);
  soil.StorageFileName = state;
  schneemodellklasse snow(error, settings_);
  snow.ReadStorage(state, 1); // no glacier reservoirs: nothing to read, no warning
  soil.FinishRun(false);      // not marked: nothing written
  snow.ReleaseMemory();       // never given Qg: nothing written
  EXPECT_FALSE(test::FileExists(state));
  EXPECT_FALSE(Logged("WARNING: in snow/glacier model: error opening storage content "
                      "file state.ska"));
}

TEST_F(ModuleShellsTest, RoutingStateThatDoesNotOpenIsFatal) {
  test::WriteFixture(kControl, Section("routing_model", 1, 60));
  int error = 0;
  abflussmodellklasse routing(error, settings_, 0, nullptr, 1);
  for (int mode : {0, 2, 4})
    routing.ReadStorage("missing.ska", mode); // these modes read no state
  int thrown = 0;
  try {
    routing.ReadStorage("missing.ska", 1);
  } catch (int code) {
    thrown = code;
  }
  EXPECT_EQ(thrown, 64);
  EXPECT_TRUE(Logged("FATAL: error opening storage content file missing.ska"));
}

TEST_F(ModuleShellsTest, PreSpinUpNeedsTheHeatTransferModel) {
  test::WriteFixture(kControl, SoilWaterSection(1));
  int error = 0;
  unsatzonmodellklasse soil(error, settings_, nullptr, 1);
  int thrown = 0;
  try {
    soil.PreSpinUpAccumulate(0, 1, 1, 2000);
  } catch (int code) {
    thrown = code;
  }
  EXPECT_EQ(thrown, 1040);
  EXPECT_TRUE(Logged("FATAL: heat transfer model not active in unsatzon_model. This is "
                     "required for pre-SpinUp!"));
}

TEST_F(ModuleShellsTest, TracerDescriptionReadsTheNumberOfTracers) {
  struct Case {
    std::string section;
    int code;
    const char *entry;
  };
  const std::vector<Case> cases = {
      {"[substance_transport]\n0  # number of tracers\n", 0, nullptr},
      {"[substance_transport]\n10\n", 58,
       "FATAL: not more than 9 tracer species are allowed at one time"},
      {"[substance_transport]\n2\n", 56, "FATAL: error reading parameters for tracer 1:"},
      {"[other]\n", 17, "FATAL: error in control file, [substance_transport]; (EOF)not found!"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.section);
    test::WriteFixture(kControl, c.section);
    int error = -1;
    int thrown = 0;
    try {
      tracer_ini_class tracers(error, settings_);
      EXPECT_EQ(tracers.GetTracerCount(), 0);
      EXPECT_EQ(tracers.GetTracerInfo(), nullptr);
      EXPECT_FALSE(tracers.ControlFile().IsOpen());
    } catch (int code) {
      thrown = code;
    }
    EXPECT_EQ(error, c.code);
    EXPECT_EQ(thrown, c.code);
    if (c.entry != nullptr) {
      EXPECT_TRUE(Logged(c.entry));
    }
  }
}

TEST_F(ModuleShellsTest, PrecipitationCorrectionReadsItsSixValues) {
  test::WriteFixture(kControl, "[precipitation_correction]\n1 do_it\n0.5\n1.1\n0.02\n1.3\n0.05\n");
  int error = -1;
  precicorrclass correction(error, settings_, {nullptr, nullptr, nullptr},
                            {"temperature", "precipitation", "wind_speed"}, 0);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(correction.DoIt, 1);
  EXPECT_DOUBLE_EQ(correction.ThresholdTemperature, 0.5);
  EXPECT_DOUBLE_EQ(correction.RainConstant, 1.1);
  EXPECT_DOUBLE_EQ(correction.RainSlope, 0.02);
  EXPECT_DOUBLE_EQ(correction.SnowConstant, 1.3);
  EXPECT_DOUBLE_EQ(correction.SnowSlope, 0.05);
  EXPECT_EQ(correction.PrecipitationIndex, 2);
  EXPECT_EQ(correction.TemperatureIndex, 1);
  EXPECT_EQ(correction.WindIndex, 3);
  EXPECT_EQ(correction.RegionCount, 1);
  correction.SetMaxElevation(2500.0);
  EXPECT_DOUBLE_EQ(correction.MaxElevation, 2500.0);

  test::WriteFixture(kControl, "[precipitation_correction]\n1\n0.5\n1.1\n");
  int thrown = 0;
  try {
    precicorrclass incomplete(error, settings_, {}, {}, 1);
  } catch (int code) {
    thrown = code;
  }
  EXPECT_EQ(thrown, 17);
  EXPECT_EQ(error, 17);
  EXPECT_TRUE(Logged("Anstieg Regen fuer "));
}

} // namespace
} // namespace tavro
