// The temperature pre-spin-up of the soil-water module over one or three
// processes: 24 hourly steps make one daily mean in the degree days, the
// end sets every column around TTOP with the geothermal flux below, writes
// the grids and frees the ones it created.
#include "soil/soil_module_fixture.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

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

  // The 24 hourly steps of one cold day.
  void AccumulateTheDay(unsatzonmodellklasse &m) {
    for (int s = 0; s < 24; ++s) {
      SetHour(s);
      m.PreSpinUpAccumulate(s, 2, 1, 2012);
    }
  }

  void SetHour(int s) {
    for (long r = settings_.FirstRow; r <= settings_.LastRow; ++r)
      for (long c = 1; c <= kSoilColumns; ++c)
        if (temperature_->HasRow(r))
          (*temperature_)[r][c] = Hourly(s, r);
  }

  Grid *temperature_ = nullptr;
};

constexpr std::array<const char *, 4> kOutputs{"FreezingDegreeDays", "thawingDegreeDays",
                                               "AnnualTemperature", "Soil_Temperature_Stack"};

// Once every process is done with them.
void RemoveOutputs() {
  MPI_Barrier(MPI_COMM_WORLD);
  if (Rank() == 0)
    for (const char *file : kOutputs)
      std::remove(file);
}

std::string HeatSectionWithOutputsOnly() {
  std::string section = SoilSection(ThreeSubbasins()) + test::HeatSection(1);
  section.replace(section.find("1 method"), 8, "11 method");
  return section;
}

TEST_F(PreSpinUpTest, DegreeDaysAndTheProfileAroundTtop) {
  auto m = Build(HeatSectionWithOutputsOnly());
  for (int s = 0; s < 24; ++s) {
    SetHour(s);
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
    for (const char *file : kOutputs)
      EXPECT_TRUE(std::filesystem::exists(file)) << file;
  RemoveOutputs();
  m->ReleaseMemory();
}

// A binary stack is written by every process for its own cells, so each
// owner's profile must be in the file, wherever the gathered copy lives.
TEST_F(PreSpinUpTest, BinaryTemperatureStackHoldsEveryOwnersProfile) {
  settings_.WriteDoubleGrids = true;
  auto m = Build(HeatSectionWithOutputsOnly());
  AccumulateTheDay(*m);
  m->PreSpinUpFinish();
  MPI_Barrier(MPI_COMM_WORLD);
  const int n = m->MaxSoilLayers;
  std::ifstream file("Soil_Temperature_Stack", std::ios::binary);
  ASSERT_TRUE(file.good());
  const auto perCell = static_cast<std::streamoff>(n) + 1;
  int cells = 0;
  ForOwnCell(*m, [&](long r, long c) {
    const std::streamoff cell = (r - 1) * kSoilColumns + (c - 1);
    file.seekg(static_cast<std::streamoff>(sizeof(double)) * (12 + cell * perCell));
    std::vector<double> profile(static_cast<std::size_t>(perCell));
    file.read(reinterpret_cast<char *>(profile.data()),
              static_cast<std::streamsize>(profile.size() * sizeof(double)));
    ASSERT_TRUE(file.good()) << r << "," << c;
    const double *T = m->Grids.SoilTemperature.Levels[r][c];
    for (int k = 0; k <= n; ++k)
      EXPECT_EQ(profile[static_cast<std::size_t>(k)], T[k]) << r << "," << c << " level " << k;
    ++cells;
  });
  EXPECT_GT(cells, 0);
  file.close();
  RemoveOutputs();
  m->ReleaseMemory();
}

} // namespace
} // namespace tavro
