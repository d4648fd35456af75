// The temperature pre-spin-up of the soil-water module over one or three
// processes: 24 hourly steps make one daily mean in the degree days, the
// end sets every column around TTOP with the geothermal flux below, writes
// the grids and frees the ones it created.
#include "soil/soil_module_fixture.h"

#include <cstdio>
#include <filesystem>

namespace tavro {
namespace {

using test::kSoilColumns;
using test::kSoilNoData;
using test::Rank;
using test::SoilSection;
using test::ThreeSubbasins;

// Hourly air temperature of step s (0..23) at row r: a cold day.
double Hourly(int s, long r) { return -9.0 + 0.5 * s + 0.1 * r; }

class PreSpinUpTest : public test::SoilModuleTest {
protected:
  void SetUp() override {
    test::SoilModuleTest::SetUp();
    settings_.MinToIntEnd = 60.0; // hourly data: step s ends at hour s + 1
    temperature_ = &AddGrid("temperature", [](long r, long) { return Hourly(0, r); });
  }
  Grid *temperature_ = nullptr;
};

TEST_F(PreSpinUpTest, DegreeDaysAndTheProfileAroundTtop) {
  std::string section = SoilSection(ThreeSubbasins()) + test::HeatSection(1);
  section.replace(section.find("1 method"), 8, "11 method");
  auto m = Build(section);
  for (int s = 0; s < 24; ++s) {
    for (long r = settings_.FirstRow; r <= settings_.LastRow; ++r)
      for (long c = 1; c <= kSoilColumns; ++c)
        if (temperature_->HasRow(r))
          (*temperature_)[r][c] = Hourly(s, r);
    m->PreSpinUpAccumulate(s, 2, 1, 2012);
    if (s == 22) {
      // The day is still open: its sum waits in "DailyTemperature".
      for (long r = settings_.FirstRow; r <= settings_.LastRow; ++r)
        for (long c = 1; c <= kSoilColumns; ++c)
          if (test::SoilSubbasin(r, c) != kSoilNoData && Own(r, c)) {
            EXPECT_EQ(Registered("FreezingDegreeDays")[r][c], 0.0);
            EXPECT_NE(Registered("DailyTemperature")[r][c], 0.0);
          }
    }
  }
  const int n = m->MaxSoilLayers;
  int cells = 0;
  for (long r = settings_.FirstRow; r <= settings_.LastRow; ++r)
    for (long c = 1; c <= kSoilColumns; ++c) {
      if (test::SoilSubbasin(r, c) == kSoilNoData || !Own(r, c))
        continue;
      ++cells;
      // The mean of -9 + 0.5 s over s = 0..23 is -3.25.
      const double mean = -3.25 + 0.1 * r;
      EXPECT_NEAR(Registered("FreezingDegreeDays")[r][c], -mean, 1e-12);
      EXPECT_EQ(Registered("thawingDegreeDays")[r][c], 0.0);
      EXPECT_EQ(Registered("DailyTemperature")[r][c], 0.0);
      EXPECT_NEAR(Registered("AnnualTemperature")[r][c], 24.0 * mean, 1e-12);
    }
  EXPECT_GT(cells, 0);

  m->PreSpinUpFinish();
  EXPECT_EQ(m->FindGrid("DailyTemperature", false), 0);
  EXPECT_EQ(m->FindGrid("FreezingDegreeDays", false), 0);
  for (long r = settings_.FirstRow; r <= settings_.LastRow; ++r)
    for (long c = 1; c <= kSoilColumns; ++c) {
      if (test::SoilSubbasin(r, c) == kSoilNoData || !Own(r, c))
        continue;
      // 24 steps of the module's 1440 minutes: P * 365 = 24 days; with
      // n-factors 1 and no thawing, TTOP = -FDD / 24 in the layer reaching
      // 1 m (7 layers of 0.15 m), warmer below by the geothermal flux.
      const double mean = -3.25 + 0.1 * r;
      const double *T = m->Grids.SoilTemperature.Levels[r][c];
      EXPECT_NEAR(T[7], mean / 24.0, 1e-12) << r << "," << c;
      for (int j = 8; j <= n; ++j)
        EXPECT_GT(T[j], T[j - 1]);
      // Above it the profile runs towards the annual mean at the surface.
      EXPECT_LT(T[1], T[6]);
      EXPECT_GT(T[1], mean);
    }
  if (Rank() == 0)
    for (const char *file :
         {"FreezingDegreeDays", "thawingDegreeDays", "AnnualTemperature", "Soil_Temperature_Stack"})
      EXPECT_TRUE(std::filesystem::exists(file)) << file;
  MPI_Barrier(MPI_COMM_WORLD);
  if (Rank() == 0)
    for (const char *file :
         {"FreezingDegreeDays", "thawingDegreeDays", "AnnualTemperature", "Soil_Temperature_Stack"})
      std::remove(file);
  m->ReleaseMemory();
}

} // namespace
} // namespace tavro
