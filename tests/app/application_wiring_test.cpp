// The application's set-up and teardown with recording doubles: the order of
// construction, every getter-to-setter hand-over by pointer identity, the
// modules marked initialised, the constructor error convention, and the
// flush, release and deletion order at the end of a run.
#include "modell_application.h"

#include "kernel/diagnostics_log.h"
#include "recording_modules.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavro {
namespace {

using test::CallList;
using test::RecordingConfig;
using test::RecordingFactory;

char program[] = "tavro";
char controlArgument[] = "run.ctl";
char dumpArgument[] = "-repairAfterDump";

class ApplicationTest : public testing::Test {
protected:
  std::unique_ptr<ModellApplication> Build() {
    test::WriteRecordingFixture(factory.config);
    ApplicationServices services;
    services.Factory = &factory;
    auto application = std::make_unique<ModellApplication>(log, services);
    char *argv[] = {program, controlArgument, dumpArgument, nullptr};
    application->Init(3, argv, 1);
    return application;
  }

  template <class Double, class Base> Double &As(const std::unique_ptr<Base> &module) {
    return dynamic_cast<Double &>(*module);
  }
  std::string Diagnostics() const { return test::ReadWholeFile("Tavro_Diag_0.xml"); }

  DiagnosticsLog log{"Tavro_Diag.xml", 4};
  RecordingFactory factory{RecordingConfig{}};
};

TEST_F(ApplicationTest, BuildsEveryModuleInItsOrder) {
  auto application = Build();
  const std::vector<std::string> expected{"defaults",
                                          "temperature",
                                          "precipitation",
                                          "tracer_ini",
                                          "RegionalSuperposition",
                                          "precipitation_correction",
                                          "radiation_correction",
                                          "evapotranspiration",
                                          "snow_model",
                                          "interception_model",
                                          "SiltingUpModel",
                                          "unsatzon_model",
                                          "SurfaceRoutingModel",
                                          "irrigation",
                                          "groundwater_flow",
                                          "routing_model",
                                          "special_output"};
  EXPECT_EQ(factory.constructed, expected);
  EXPECT_EQ(application->Initialized, 1);
  EXPECT_NE(Diagnostics().find("end of initialization reached..."), std::string::npos);
  // The set-up is driven to its end before anything else is built.
  const CallList &calls = factory.calls;
  EXPECT_LT(calls.Find("defaults.InitStep(done)"),
            calls.Find("defaults.CreateStandardGridStatistics"));
  EXPECT_LT(calls.Find("defaults.CreateStandardGridStatistics"),
            calls.Find("defaults.GetSettings"));
  EXPECT_LT(calls.Find("defaults.GetSettings"), calls.Find("defaults.SetInitialized(1)"));
  EXPECT_LT(calls.Find("defaults.SetInitialized(1)"), calls.Find("defaults.InitSpinUp"));
  EXPECT_EQ(calls.Find("defaults.LinkExternalGrids"), static_cast<int>(calls.calls.size()) - 1);
  // Tracer grids in their documented order.
  std::vector<std::string> tracerOrder;
  for (const auto &call : calls.calls)
    if (call.ends_with(".InitTracerGrids"))
      tracerOrder.push_back(call);
  EXPECT_EQ(tracerOrder, (std::vector<std::string>{
                             "irrigation.InitTracerGrids", "snow_model.InitTracerGrids",
                             "interception_model.InitTracerGrids", "SiltingUpModel.InitTracerGrids",
                             "groundwater_flow.InitTracerGrids", "unsatzon_model.InitTracerGrids",
                             "SurfaceRoutingModel.InitTracerGrids"}));
}

TEST_F(ApplicationTest, HandsEveryArrayAndGridOverByIdentity) {
  auto application = Build();
  const ApplicationModules &m = application->Modules();
  auto &radiation = As<test::RecordingRadiationCorrection>(m.RadiationCorrection);
  auto &evapo = As<test::RecordingEvapotranspiration>(m.Evapotranspiration);
  auto &snow = As<test::RecordingSnow>(m.Snow);
  auto &soil = As<test::RecordingSoilWater>(m.SoilWater);
  auto &surface = As<test::RecordingSurfaceRouting>(m.SurfaceRouting);
  auto &irrigation = As<test::RecordingIrrigation>(m.Irrigation);
  auto &groundwater = As<test::RecordingGroundwater>(m.Groundwater);
  auto &routing = As<test::RecordingRouting>(m.Routing);
  auto &correction = As<test::RecordingPrecipitationCorrection>(m.PrecipitationCorrection);

  EXPECT_EQ(evapo.radiation, &radiation.grid);
  EXPECT_EQ(snow.radiation, &radiation.grid);
  EXPECT_EQ(evapo.snowStorage, &snow.storage);
  EXPECT_EQ(evapo.snowMethod, 7);
  EXPECT_EQ(evapo.substeps, 2);
  EXPECT_DOUBLE_EQ(correction.maxElevation, 4321.0);
  ASSERT_EQ(correction.variables.size(), 2u);
  EXPECT_EQ(correction.variables[0], m.Interpolators[0].get());
  EXPECT_EQ(correction.variables[1], m.Interpolators[1].get());
  EXPECT_EQ(correction.names, (std::vector<std::string>{"temperature", "precipitation"}));

  EXPECT_EQ(surface.qbb, &soil.qbbArrays);
  EXPECT_EQ(surface.kelsqd, &soil.kelsqd);
  EXPECT_EQ(surface.kelsqi, &soil.kelsqi);
  EXPECT_EQ(soil.surfaceRoutingActive, 1);
  EXPECT_EQ(routing.qg, &surface.qgArrays); // surface routing active: its Qg is routed
  EXPECT_EQ(irrigation.qg, &soil.qgArrays);
  EXPECT_EQ(groundwater.qg, &soil.qgArrays);
  EXPECT_EQ(snow.qg, &soil.qgArrays);
  EXPECT_EQ(groundwater.riverflow, &soil.riverflow);
  EXPECT_EQ(routing.riverflow, &soil.riverflow);
  EXPECT_EQ(irrigation.riverflow, &soil.riverflow);
  EXPECT_EQ(routing.irrigation, &irrigation.amounts);
  EXPECT_EQ(irrigation.maxIrrig, &routing.maxIrrig);
  EXPECT_EQ(irrigation.maxIrrigReservoirs, &routing.maxIrrigReservoirs);
  EXPECT_EQ(irrigation.target, &routing.target);
  EXPECT_EQ(irrigation.abfrel, &routing.abfrel);
  EXPECT_EQ(routing.storageFile, "state.txt");
  EXPECT_EQ(routing.readMode, 3);
  EXPECT_EQ(snow.storageFile, "state.txt");
  EXPECT_EQ(snow.readMode, 3);
  EXPECT_EQ(routing.readModeGiven, 3);

  // Irrigation, groundwater and routing count zones as soil water does;
  // routing starts at the start of the model time.
  EXPECT_EQ(irrigation.zoneIndex, &soil.zoneIndex);
  EXPECT_EQ(groundwater.zoneIndex, &soil.zoneIndex);
  EXPECT_EQ(routing.zoneIndex, &soil.zoneIndex);
  EXPECT_EQ(routing.date, (ModelDate{0, 1, 1, 2001}));
  EXPECT_EQ(factory.settingsOf["snow_model"].EndDate, (ModelDate{0, 31, 12, 2001}));
  EXPECT_EQ(soil.GroundwaterCoupling, 1);
  EXPECT_EQ(soil.dump, (std::vector<bool>{false, false, true}));

  auto &temperature = As<test::RecordingInterpolator>(m.Interpolators[0]);
  EXPECT_EQ(temperature.warnings, 1);
  EXPECT_DOUBLE_EQ(temperature.timeStepHours, 24.0);

  // Marked initialised: all but the superposition and the special output.
  EXPECT_EQ(temperature.Initialized, 1);
  for (const memory_handling *module : std::vector<const memory_handling *>{
           m.Tracers.get(), m.PrecipitationCorrection.get(), m.RadiationCorrection.get(),
           m.Evapotranspiration.get(), m.Snow.get(), m.Interception.get(), m.SiltingUp.get(),
           m.SoilWater.get(), m.SurfaceRouting.get(), m.Irrigation.get(), m.Groundwater.get(),
           m.Routing.get()})
    EXPECT_EQ(module->Initialized, 1) << module->ModuleName;
  EXPECT_EQ(m.Superposition->Initialized, 0);
  EXPECT_EQ(m.SpecialOutput->Initialized, 0);
  EXPECT_EQ(dynamic_cast<test::FakeSetup &>(*m.Setup).initialized, 1);
}

TEST_F(ApplicationTest, RoutesTheRunoffOfTheActiveModules) {
  struct Case {
    int surface, routing;
  };
  for (const Case c : {Case{1, 1}, Case{0, 1}, Case{1, 0}, Case{0, 0}}) {
    factory = RecordingFactory(RecordingConfig{});
    factory.config.FlowControl = {{"SurfaceRoutingModel", c.surface}, {"routing_model", c.routing}};
    auto application = Build();
    const ApplicationModules &m = application->Modules();
    auto &soil = As<test::RecordingSoilWater>(m.SoilWater);
    auto &surface = As<test::RecordingSurfaceRouting>(m.SurfaceRouting);
    auto &routing = As<test::RecordingRouting>(m.Routing);
    SubbasinRunoffArrays *expected =
        c.routing == 0 ? nullptr : (c.surface != 0 ? &surface.qgArrays : &soil.qgArrays);
    EXPECT_EQ(routing.qg, expected) << c.surface << c.routing;
    EXPECT_EQ(soil.surfaceRoutingActive, c.surface) << c.surface << c.routing;
    // The soil water knows it before it builds its flow-time zones.
    const int told = factory.calls.Find("unsatzon_model.SetSurfaceRoutingActive(1)");
    if (c.surface != 0) {
      EXPECT_GE(told, 0);
      EXPECT_LT(told, factory.calls.Find("unsatzon_model.InitTracerGrids"));
    } else {
      EXPECT_EQ(told, -1);
    }
    EXPECT_EQ(surface.qbb, c.surface != 0 ? &soil.qbbArrays : nullptr);
    EXPECT_EQ(routing.Initialized, c.routing);
    EXPECT_EQ(factory.calls.Count("routing_model.ReadStorage"), c.routing);
    EXPECT_EQ(factory.calls.Count("routing_model.InitLakeModel"), 1);
  }
}

TEST_F(ApplicationTest, InterceptionRunsFirstAboveMethodTen) {
  struct Case {
    int method, flow;
    bool first;
  };
  for (const Case c : {Case{11, 1, true}, Case{10, 1, false}, Case{11, 0, false}}) {
    factory = RecordingFactory(RecordingConfig{});
    factory.config.InterceptionMethod = c.method;
    factory.config.FlowControl = {{"interception_model", c.flow}};
    auto application = Build();
    const ApplicationModules &m = application->Modules();
    EXPECT_EQ(application->InterceptionFirst(), c.first) << c.method;
    EXPECT_EQ(As<test::RecordingSnow>(m.Snow).interceptionFirst, c.first);
    EXPECT_EQ(As<test::RecordingSiltingUp>(m.SiltingUp).interceptionFirst, c.first);
    EXPECT_EQ(As<test::RecordingSoilWater>(m.SoilWater).interceptionFirst, c.first);
  }
}

TEST_F(ApplicationTest, SnowReadsItsStateOnlyWhenActive) {
  factory.config.FlowControl = {{"snow_model", 0}, {"groundwater_flow", 0}};
  auto application = Build();
  const ApplicationModules &m = application->Modules();
  EXPECT_EQ(factory.calls.Count("snow_model.ReadStorage"), 0);
  EXPECT_EQ(As<test::RecordingSnow>(m.Snow).qg, nullptr);
  EXPECT_EQ(m.Snow->Initialized, 0);
  EXPECT_EQ(m.SoilWater->GroundwaterCoupling, 0);
}

TEST_F(ApplicationTest, IrrigationVariablesNeverWarn) {
  factory.config.VariableNames = {"temperature", "irrigation_amounts_x"};
  auto application = Build();
  const ApplicationModules &m = application->Modules();
  EXPECT_EQ(As<test::RecordingInterpolator>(m.Interpolators[0]).warnings, 1);
  EXPECT_EQ(As<test::RecordingInterpolator>(m.Interpolators[1]).warnings, 0);
  // The switch was set first and then cleared.
  EXPECT_LT(factory.calls.Find("irrigation_amounts_x.SetWarnings(1)"),
            factory.calls.Find("irrigation_amounts_x.SetWarnings(0)"));
}

TEST_F(ApplicationTest, FailedConstructionThrowsItsCodeAndDeletesEachModuleOnce) {
  for (const std::string failing : {"defaults", "precipitation", "SurfaceRoutingModel",
                                    "RegionalSuperposition", "special_output"}) {
    factory = RecordingFactory(RecordingConfig{});
    factory.config.FailingConstructor = failing;
    factory.config.FailureCode = 133;
    test::WriteRecordingFixture(factory.config);
    ApplicationServices services;
    services.Factory = &factory;
    char *argv[] = {program, controlArgument, nullptr};
    int thrown = 0;
    try {
      ModellApplication application(log, 2, argv, 1, services);
    } catch (int code) {
      thrown = code;
    }
    EXPECT_EQ(thrown, 133) << failing;
    // Every module built before the failing one is deleted exactly once.
    for (const auto &name : factory.constructed) {
      const int expected = name == failing ? 0 : 1;
      EXPECT_EQ(factory.calls.Count(name + ".delete"), expected) << failing << " " << name;
    }
    EXPECT_EQ(factory.calls.Count("special_output.delete"), 0);
  }
  EXPECT_NE(Diagnostics().find("exceptions in ModellApplication::init() caught!"),
            std::string::npos);
}

TEST_F(ApplicationTest, ClearMemoryAfterAFailedSetUpFlushesNothing) {
  factory.config.FailingConstructor = "groundwater_flow";
  factory.config.FailureCode = 17;
  test::WriteRecordingFixture(factory.config);
  ApplicationServices services;
  services.Factory = &factory;
  ModellApplication application(log, services);
  char *argv[] = {program, controlArgument, nullptr};
  EXPECT_THROW(application.Init(2, argv, 1), int);
  const ApplicationModules &m = application.Modules();
  EXPECT_EQ(m.Groundwater, nullptr);
  application.ClearMemory();
  for (const auto &call : factory.calls.calls) {
    EXPECT_FALSE(call.ends_with(".FlushStatistics")) << call;
    EXPECT_FALSE(call.ends_with(".FlushFiles")) << call;
  }
  EXPECT_NE(factory.calls.Find("defaults.SetInitialized(0)"), -1);
  for (const auto &name : factory.constructed) {
    if (name != "groundwater_flow") {
      EXPECT_EQ(factory.calls.Count(name + ".delete"), 1) << name;
    }
  }
  EXPECT_EQ(application.Modules().SoilWater, nullptr);
}

// The release order fixes the order of the state-file sections: routing
// creates the file, soil water appends when routing wrote, surface routing
// appends when either wrote, snow appends last.
TEST_F(ApplicationTest, StateSectionsFollowTheReleaseOrder) {
  struct Case {
    int routing, soil;
    const char *soilFinish, *surfaceFinish;
  };
  const Case cases[] = {
      {1, 1, "unsatzon_model.FinishRun(append)", "SurfaceRoutingModel.FinishRun(append)"},
      {0, 1, "unsatzon_model.FinishRun(create)", "SurfaceRoutingModel.FinishRun(append)"},
      {1, 0, "unsatzon_model.FinishRun(append)", "SurfaceRoutingModel.FinishRun(append)"},
      {0, 0, "unsatzon_model.FinishRun(create)", "SurfaceRoutingModel.FinishRun(create)"}};
  for (const Case &c : cases) {
    factory = RecordingFactory(RecordingConfig{});
    factory.config.FlowControl = {{"routing_model", c.routing}, {"unsatzon_model", c.soil}};
    auto application = Build();
    factory.calls.calls.clear();
    application->ClearMemory();
    const CallList &calls = factory.calls;
    const int routing = calls.Find("routing_model.ReleaseMemory");
    const int soil = calls.Find(c.soilFinish);
    const int silting = calls.Find("SiltingUpModel.ReleaseMemory");
    const int surface = calls.Find(c.surfaceFinish);
    const int snow = calls.Find("snow_model.ReleaseMemory");
    ASSERT_NE(routing, -1);
    ASSERT_NE(soil, -1) << c.routing << c.soil;
    ASSERT_NE(surface, -1) << c.routing << c.soil;
    EXPECT_LT(routing, soil);
    EXPECT_LT(soil, silting);
    EXPECT_LT(silting, surface);
    EXPECT_LT(surface, snow);
  }
}

TEST_F(ApplicationTest, ClearMemoryFlushesReleasesAndDeletesInOrder) {
  auto application = Build();
  factory.calls.calls.clear();
  application->ClearMemory();
  std::vector<std::string> flushes, releases, deletes;
  for (const auto &call : factory.calls.calls) {
    if (call.ends_with(".FlushStatistics") || call.ends_with(".FlushFiles"))
      flushes.push_back(call);
    if (call.ends_with(".ReleaseMemory") || call.ends_with(".FinishRun(append)"))
      releases.push_back(call.substr(0, call.find('.')));
    if (call.ends_with(".delete"))
      deletes.push_back(call.substr(0, call.find('.')));
  }
  EXPECT_EQ(flushes,
            (std::vector<std::string>{
                "temperature.FlushStatistics", "precipitation.FlushStatistics",
                "RegionalSuperposition.FlushStatistics", "evapotranspiration.FlushStatistics",
                "snow_model.FlushStatistics", "interception_model.FlushStatistics",
                "irrigation.FlushStatistics", "SiltingUpModel.FlushStatistics",
                "unsatzon_model.FlushStatistics", "SurfaceRoutingModel.FlushStatistics",
                "groundwater_flow.FlushStatistics", "routing_model.FlushStatistics",
                "special_output.FlushFiles", "defaults.FlushStatistics"}));
  EXPECT_EQ(releases, (std::vector<std::string>{
                          "precipitation", "temperature", "routing_model", "unsatzon_model",
                          "SiltingUpModel", "SurfaceRoutingModel", "interception_model",
                          "irrigation", "snow_model", "evapotranspiration", "radiation_correction",
                          "RegionalSuperposition", "precipitation_correction", "groundwater_flow",
                          "tracer_ini", "special_output", "defaults"}));
  EXPECT_EQ(deletes, (std::vector<std::string>{
                         "precipitation", "temperature", "tracer_ini", "routing_model",
                         "groundwater_flow", "irrigation", "SiltingUpModel", "SurfaceRoutingModel",
                         "unsatzon_model", "interception_model", "snow_model", "evapotranspiration",
                         "radiation_correction", "RegionalSuperposition",
                         "precipitation_correction", "special_output", "defaults"}));
  EXPECT_EQ(application->Registry(), nullptr);
  EXPECT_EQ(application->Statistics(), nullptr);
  const std::string diagnostics = Diagnostics();
  EXPECT_LT(diagnostics.find("reached end of simulation sucessfully"),
            diagnostics.find("deleting modules..."));
}

} // namespace
} // namespace tavro
