// The coupled soil columns on the test catchment divided over one or three
// processes. With exfiltration only (surface interaction 1, which several
// processes may run), the water that the tables give to the deep river of
// column 5 is the baseflow of the subbasins, the same for any process count,
// and every column closes its balance. The groundwater module's "baseflow"
// grid is a rate (m/s) that the columns take, and after the call the grid
// holds the amount they delivered (mm), as the uncoupled module leaves it.
#include "soil/soil_module_fixture.h"

#include "tables/soil_class.h"

#include <mpi.h>

#include <cmath>
#include <vector>

namespace tavro {
namespace {

using test::Rank;
using test::SoilSection;
using test::SoilSubbasin;

constexpr int kCalls = 3;
constexpr double kCallSeconds = 3600.0 / kCalls; // hourly steps

double Precipitation(long r, long c) { return 0.5 + 0.2 * r + 0.1 * c; }

class RiverExfiltrationTest : public test::SoilModuleTest {
protected:
  void SetUp() override {
    test::SoilModuleTest::SetUp();
    AddGrid("precipitation", [](long r, long c) { return Precipitation(r, c); });
    AddAquiferGrids();
    AddGrid("river_depth", [](long, long c) { return c == 5 ? 1.4 : 0.0; });
    AddGrid("river_width", [](long, long c) { return c == 5 ? 5.0 : 0.0; });
    AddGrid("river_links", [](long r, long c) { return c == 5 ? SoilSubbasin(r, c) : 0.0; });
  }

  // The module coupled to the groundwater module, hourly steps of three calls; the table
  // lies above the bed of the river (1.4 m).
  std::unique_ptr<unsatzonmodellklasse> Coupled(int surfaceInteraction) {
    return BuildCoupled(SoilSection(test::CoupledHourly(surfaceInteraction)), kCalls);
  }

  // What leaves a column in a call besides the exchange and the baseflow (mm).
  double Outflow(const unsatzonmodellklasse &m, long r, long c) const {
    const SoilWaterGrids &g = m.Grids;
    return g.DirectFlow.Values[r][c] + g.Interflow.Values[r][c] +
           Registered("real_transpiration0")[r][c];
  }
};

TEST_F(RiverExfiltrationTest, TheTablesGiveTheDeepRiverTheBaseflowOfTheirSubbasins) {
  auto m = Coupled(1);
  std::vector<double> exfiltration(4, 0.0); // mm summed over the cells of each subbasin
  std::vector<double> cells(4, 0.0);
  std::vector<double> before;
  ForOwnCell(*m, [&](long r, long c) { before.push_back(ColumnWater(*m, r, c)); });
  std::vector<double> gain(before.size(), 0.0);
  std::vector<double> river(before.size(), 0.0);
  m->BeginTimeStep(1, 2, 1, 2012);
  for (int call = 0; call < kCalls; ++call) {
    ForOwnCell(*m, [&](long r, long c) { m->Grids.Baseflow.Values[r][c] = 0.0; });
    m->ComputeTimeStep(1, 2, 1, 2012);
    std::size_t i = 0;
    ForOwnCell(*m, [&](long r, long c) {
      const SoilWaterGrids &g = m->Grids;
      EXPECT_EQ(g.RiverInfiltration.Values[r][c], 0.0) << r << "," << c;
      const double e = g.RiverExfiltration.Values[r][c];
      if (c != 5) {
        EXPECT_EQ(e, 0.0) << r << "," << c;
      }
      river[i] += e;
      const auto k = static_cast<std::size_t>(SoilSubbasin(r, c));
      exfiltration[k] += e;
      if (call == 0)
        cells[k] += 1.0;
      gain[i] += (call == 0 ? Precipitation(r, c) : 0.0) - e - Outflow(*m, r, c);
      ++i;
    });
    m->AddStepRunoffToZones();
  }
  m->ConcentrateRunoff(1, 2, 1, 2012);
  std::size_t i = 0;
  ForOwnCell(*m, [&](long r, long c) {
    EXPECT_NEAR(ColumnWater(*m, r, c) - before[i], gain[i], 1e-9 * (1.0 + std::abs(gain[i])))
        << r << "," << c;
    if (c == 5) {
      EXPECT_GT(river[i], 0.0) << r << "," << c;
    }
    ++i;
  });
  std::vector<double> all(4, 0.0);
  std::vector<double> allCells(4, 0.0);
  MPI_Reduce(exfiltration.data(), all.data(), 4, MPI_DOUBLE, MPI_SUM, 0, MPI_COMM_WORLD);
  MPI_Reduce(cells.data(), allCells.data(), 4, MPI_DOUBLE, MPI_SUM, 0, MPI_COMM_WORLD);
  if (Rank() == 0) {
    const OneBasedArray<double> &qb = m->GetQBb()->Components[0];
    for (std::size_t k = 1; k <= 3; ++k) {
      const double mean = all[k] / allCells[k];
      EXPECT_GT(mean, 0.0) << k;
      EXPECT_NEAR(qb[k], mean, 1e-12 * mean) << k;
    }
  }
  m->ReleaseMemory();
}

TEST_F(RiverExfiltrationTest, TheBaseflowGridIsARateInAndTheDeliveredAmountOut) {
  struct Case {
    const char *name;
    double rate; // m/s, as the groundwater module leaves it
  };
  for (const Case &k : {Case{"withdrawal", 2e-7}, Case{"supply", -2e-7}}) {
    auto m = Coupled(0);
    std::vector<double> before;
    ForOwnCell(*m, [&](long r, long c) { before.push_back(ColumnWater(*m, r, c)); });
    std::vector<double> gain(before.size(), 0.0);
    m->BeginTimeStep(1, 2, 1, 2012);
    for (int call = 0; call < kCalls; ++call) {
      ForOwnCell(*m, [&](long r, long c) { m->Grids.Baseflow.Values[r][c] = k.rate; });
      m->ComputeTimeStep(1, 2, 1, 2012);
      std::size_t i = 0;
      ForOwnCell(*m, [&](long r, long c) {
        const double amount = k.rate * kCallSeconds * 1000.0; // mm of the call
        const double left = m->Grids.Baseflow.Values[r][c];
        EXPECT_NEAR(left, amount, 1e-9 * std::abs(amount)) << k.name << " " << r << "," << c;
        gain[i] += (call == 0 ? Precipitation(r, c) : 0.0) - left - Outflow(*m, r, c);
        ++i;
      });
    }
    std::size_t i = 0;
    ForOwnCell(*m, [&](long r, long c) {
      EXPECT_NEAR(ColumnWater(*m, r, c) - before[i], gain[i], 1e-9 * (1.0 + std::abs(gain[i])))
          << k.name << " " << r << "," << c;
      ++i;
    });
    m->ReleaseMemory();
  }
}

} // namespace
} // namespace tavro
