// The soil heat model inside the soil-water step on the test catchment over
// one or three processes: the start profile at the first step, temperatures
// that stay between the air and the lower boundary, the thaw depth of a
// thawed column, and the same bits with one and two threads, explicit,
// implicit and with the water.
#include "soil/soil_module_fixture.h"

#include <omp.h>

#include <algorithm>

namespace tavro {
namespace {

using test::kSoilColumns;
using test::kSoilNoData;
using test::SoilSection;
using test::ThreeSubbasins;

// Air temperature of a cell, degC: freezing in the north, above 0 but below
// the lower boundary (about 5 degC) in the south.
double Air(long r, long c) { return r <= 2 ? -12.0 + 0.5 * c : 1.0 + 0.2 * c; }

class SoilHeatModuleTest : public test::SoilModuleTest {
protected:
  void SetUp() override {
    test::SoilModuleTest::SetUp();
    AddGrid("precipitation", [](long r, long c) { return 2.0 + r + 0.5 * c; });
    AddGrid("temperature", Air);
  }

  std::unique_ptr<unsatzonmodellklasse> BuildHeat(int method) {
    std::string heat = test::HeatSection(1);
    heat.replace(heat.find("1 method"), 8, std::to_string(method) + " method");
    auto m = Build(SoilSection(ThreeSubbasins()) + heat);
    m->SelectWaterInput(false);
    return m;
  }

  bool Counted(long r, long c) const {
    return test::SoilSubbasin(r, c) != kSoilNoData && Own(r, c);
  }

  // The temperature columns of the own cells after a number of calls.
  std::vector<double> Run(int method, int threads, int calls) {
    omp_set_num_threads(threads);
    auto m = BuildHeat(method);
    for (int call = 0; call < calls; ++call) {
      m->BeginTimeStep(call % 24, 2, 1, 2012);
      m->ComputeTimeStep(call % 24, 2, 1, 2012);
    }
    std::vector<double> t;
    for (long r = settings_.FirstRow; r <= settings_.LastRow; ++r)
      for (long c = 1; c <= kSoilColumns; ++c)
        if (Counted(r, c)) {
          const double *column = m->Grids.SoilTemperature.Levels[r][c];
          t.insert(t.end(), column, column + m->MaxSoilLayers + 1);
          t.push_back(m->Grids.ThawDepth.Values[r][c]);
        }
    m->ReleaseMemory();
    omp_set_num_threads(2);
    return t;
  }
};

TEST_F(SoilHeatModuleTest, StartProfileAndTemperaturesBetweenAirAndLowerBoundary) {
  for (const int method : {10, 11, 12}) {
    auto m = BuildHeat(method);
    const int n = m->MaxSoilLayers;
    m->BeginTimeStep(0, 2, 1, 2012);
    const Stack &T = m->Grids.SoilTemperature.Levels;
    const Grid &lower = Registered("T_Lower_Boundary_Condition");
    for (long r = settings_.FirstRow; r <= settings_.LastRow; ++r)
      for (long c = 1; c <= kSoilColumns; ++c) {
        if (!Counted(r, c))
          continue;
        const double *z = m->Grids.GeodeticHeads.Levels[r][c];
        EXPECT_EQ(T[r][c][0], lower[r][c]);
        const double a = (z[0] - (z[0] + z[1]) / 2.0) / (z[0] - z[n]);
        EXPECT_NEAR(T[r][c][1], a * lower[r][c] + (1.0 - a) * Air(r, c), 1e-12);
      }
    for (int call = 0; call < 6; ++call) {
      m->BeginTimeStep(call, 2, 1, 2012);
      m->ComputeTimeStep(call, 2, 1, 2012);
    }
    int cells = 0;
    for (long r = settings_.FirstRow; r <= settings_.LastRow; ++r)
      for (long c = 1; c <= kSoilColumns; ++c) {
        if (!Counted(r, c))
          continue;
        ++cells;
        const double low = std::min(Air(r, c), lower[r][c]) - 1e-9;
        const double high = std::max(Air(r, c), lower[r][c]) + 1e-9;
        for (int j = 1; j <= n; ++j) {
          EXPECT_GE(T[r][c][j], low) << method << " " << r << "," << c << " layer " << j;
          EXPECT_LE(T[r][c][j], high) << method << " " << r << "," << c << " layer " << j;
        }
        // Air above 0 over a warmer lower boundary: thawed to the bottom.
        if (Air(r, c) > 0.0 && lower[r][c] > 0.0)
          EXPECT_NEAR(m->Grids.ThawDepth.Values[r][c],
                      m->Grids.GeodeticHeads.Levels[r][c][n] -
                          m->Grids.GeodeticHeads.Levels[r][c][0],
                      1e-12);
      }
    EXPECT_GT(cells, 0);
    m->ReleaseMemory();
  }
}

TEST_F(SoilHeatModuleTest, OneAndTwoThreadsGiveTheSameBits) {
  for (const int method : {10, 12}) {
    const std::vector<double> one = Run(method, 1, 4);
    const std::vector<double> two = Run(method, 2, 4);
    EXPECT_EQ(one, two) << method;
  }
}

// Method 0, the default, and every method up to 10 advance the columns by
// the explicit scheme; a method above 0 only adds the outputs.
TEST_F(SoilHeatModuleTest, DefaultMethodZeroRunsTheExplicitScheme) {
  const std::vector<double> zero = Run(0, 1, 4);
  EXPECT_EQ(zero, Run(1, 1, 4));
  EXPECT_TRUE(std::any_of(zero.begin(), zero.end(), [](double t) { return t != 0.0; }));
}

} // namespace
} // namespace tavro
