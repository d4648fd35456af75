// Soil water and surface routing coupled on the soil's test catchment
// (silting-up module off): the water surface routing leaves on the surface
// goes back into the soil at its next call, and its tracer with it, so the
// tracer in the soil, in the aquifer below it and on the surface, with what
// left through the river cells and the interflow, is what the rain brought.
#include "soil/soil_module_fixture.h"
#include "surface_routing_fixture.h"

#include "kernel/tracer_info.h"
#include "lateral/surface_routing.h"
#include "raster/handover/tracer_grid_hooks.h"
#include "tables/landuse_class.h"

#include <mpi.h>

#include <algorithm>
#include <memory>

namespace tavro {
namespace {

using test::kSoilColumns;

constexpr double kAquifer = 10.0; // m
constexpr int kCalls = 2;         // calls of both modules a step

bool RiverCell(long r, long c) { return r == 6 && c <= 4; }
double InputConcentration(long r, long c) { return 2.0 + 0.1 * r + 0.05 * c; }

template <class Body> void Quietly(Body &&body) {
  testing::internal::CaptureStdout();
  body();
  testing::internal::GetCapturedStdout();
}

class SurfaceWaterTracerTest : public test::SoilModuleTest {
protected:
  void SetUp() override {
    SoilModuleTest::SetUp();
    InstallTracerGridHooks(registry_);
    AddGrid("concflux_tracer_1_input", InputConcentration);
    rain_ = &AddGrid("precipitation", [](long, long) { return 0.0; });
    AddGrid("aquifer_thickness_1", [](long, long) { return kAquifer; });
    AddGrid("gw_storage_coeff_1", [](long, long) { return 0.1; });
    aquifer_ =
        &AddGrid("concstor_tracer_1_layer_1_groundwater_flow", [](long, long) { return 1.0; });
    AddGrid("[elevation_model]", test::SoilElevation);
    AddGrid("MPIRegions", [this](long r, long c) { return decomposition_.regions[r][c]; });
    storage_ = &AddGrid("SurfStorSiltingUp", [](long, long) { return 0.0; });
    const auto river = [](long r, long c) { return RiverCell(r, c) ? 1.0 : 0.0; };
    AddGrid("river_depth", river);
    AddGrid("river_width", river);
    AddGrid("river_links", river);
    info_ = OneBasedArray<TracerInfo>(1);
    info_[1] = test::Tracer("chl", 0); // neither decaying nor evaporating
    info_[1].soilini = 0.5;
    info_[1].gwini = 1.0;
    LanduseParameters p;
    p.SR_cultivation = 3;
    p.SR_K_ST = 20.0;
    landuse_ = OneBasedArray<landuse_class>(1);
    landuse_[1] = landuse_class(log_, p);
  }

  // Both modules from one control file, set up in the application's order
  // (soil water before surface routing) and wired as it wires them.
  void BuildBoth() {
    test::SoilSectionText s = test::ThreeSubbasins();
    s.timeStep = 60.0;
    test::SurfaceSectionText sr;
    sr.timeStep = 60;
    soil_ = Build(test::SoilSection(s) + sr.Text());
    soil_->SetGroundwaterCoupling(1);
    soil_->SetSubstepCount(kCalls);
    soil_->SetSurfaceRoutingActive(1);
    int error = -1;
    Quietly([&] { soil_->InitTracerGrids(error, 1, &info_, &statistics_, 200); });
    ASSERT_EQ(error, 0);
    soil_->SelectWaterInput(false);
    ModuleSettings routing = settings_;
    routing.LanduseTable = &landuse_;
    Quietly([&] { surface_ = std::make_unique<surfaceroutingclass>(error, routing, kCalls); });
    ASSERT_EQ(error, 0);
    Quietly([&] { surface_->InitTracerGrids(error, 1, &info_, &statistics_, 200); });
    ASSERT_EQ(error, 0);
    surface_->SetQBb(soil_->GetQBb());
    surface_->SetKelsqd(soil_->GetKelsqd());
    surface_->SetKelsqi(soil_->GetKelsqi());
  }

  double SoilContent(long r, long c) const {
    return CoupledTracerContent(*soil_, *aquifer_, kAquifer, r, c);
  }

  double SurfaceContent(long r, long c) const {
    return (*storage_)[r][c] * (*surface_->Tracers[1].silting)[r][c];
  }

  // Sums over every process's cells.
  template <class Value> double Total(Value &&value) const {
    return TotalOverProcesses(*soil_, value);
  }

  Grid *rain_ = nullptr;
  Grid *aquifer_ = nullptr;
  Grid *storage_ = nullptr;
  OneBasedArray<TracerInfo> info_;
  OneBasedArray<landuse_class> landuse_;
  std::unique_ptr<unsatzonmodellklasse> soil_;
  std::unique_ptr<surfaceroutingclass> surface_;
};

TEST_F(SurfaceWaterTracerTest, TracerOfTheSurfaceWaterReturnsToTheSoil) {
  BuildBoth();
  ASSERT_NE(soil_->Links.SiltingUp, nullptr);
  ASSERT_EQ(soil_->Links.SiltingUpIsStorage, 1);
  const SoilTracerGrids &tracer = soil_->SoilTracers[1];
  const Grid &direct = Registered("directflow");
  double surfaceMassSeen = 0.0;
  double leftInAll = 0.0;
  for (int step = 1; step <= 4; ++step) {
    // Rain beyond the loam's infiltration, then none: the water left on the
    // surface is all the soil gets.
    for (long r = held_.first; r <= held_.last; ++r)
      for (long c = 1; c <= kSoilColumns; ++c)
        (*rain_)[r][c] = step <= 2 ? 60.0 + 2.0 * r + c : 0.0;
    const double before = Total([&](long r, long c) { return SoilContent(r, c); }) +
                          Total([&](long r, long c) { return SurfaceContent(r, c); });
    const double input =
        Total([&](long r, long c) { return InputConcentration(r, c) * (*rain_)[r][c]; });
    double left = 0.0;
    Quietly([&] {
      soil_->BeginTimeStep(0, step, 6, 2012);
      surface_->BeginTimeStep(0, step, 6, 2012);
    });
    for (int call = 0; call < kCalls; ++call) {
      // No water to or from the aquifer through the baseflow grid.
      ForOwnCell(*soil_, [&](long r, long c) { soil_->Grids.Baseflow.Values[r][c] = 0.0; });
      Quietly([&] { soil_->ComputeTimeStep(0, step, 6, 2012); });
      left += Total([&](long r, long c) { return tracer.interflow[r][c]; });
      Quietly([&] { surface_->ComputeTimeStep(0, step, 6, 2012); });
      // The river cells' water leaves with its concentration.
      left += Total([&](long r, long c) {
        return RiverCell(r, c) ? direct[r][c] * tracer.direct[r][c] : 0.0;
      });
    }
    Quietly([&] {
      soil_->ConcentrateRunoff(0, step, 6, 2012);
      surface_->ConcentrateRunoff(0, step, 6, 2012);
    });
    const double surface = Total([&](long r, long c) { return SurfaceContent(r, c); });
    const double after = Total([&](long r, long c) { return SoilContent(r, c); }) + surface;
    EXPECT_NEAR(after + left, before + input, 1e-12 * (before + input)) << "step " << step;
    surfaceMassSeen = std::max(surfaceMassSeen, surface / (before + input));
    leftInAll += left;
    // Linked at the step's begin, after surface routing made its grid.
    EXPECT_EQ(tracer.siltingUp, surface_->Tracers[1].silting);
  }
  // The surface water held a share of the tracer that the closure tests,
  // and some left through the rivers and the interflow.
  EXPECT_GT(surfaceMassSeen, 1e-3);
  EXPECT_GT(leftInAll, 0.0);
  surface_->FinishRun(false);
  soil_->ReleaseMemory();
}

} // namespace
} // namespace tavro
