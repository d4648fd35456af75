// Glaciers in the snow module over the real decomposition, under any number
// of processes and threads: the glacier share of the subbasins broadcast from
// rank 0 as the same bytes everywhere, and a run with dynamic glaciers, snow
// slides and a yearly update that gives the same bits with one and two
// threads, and split in two before the evaluation day (carried by the state
// section and double grids and stack) equals one long run bit for bit.
#include "landsurface/snow_model.h"

#include "glacier_fixture.h"
#include "kernel/module_exchange.h"
#include "snow_fixture.h"

#include <gtest/gtest.h>
#include <mpi.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::IceFirnText;
using test::Rank;
using test::SnowSectionText;

constexpr long kRows = 9;
constexpr long kCols = 7;
constexpr double N = -9999.0;

// Subbasin 1 west, 2 east, a few cells outside.
double Zone(long r, long c) {
  if ((r == 1 && c <= 2) || (r == 9 && c >= 5))
    return N;
  return c <= 4 ? 1.0 : 2.0;
}
double Elevation(long r, long c) { return 3000.0 - 60.0 * r - 45.0 * c; }
// Glacier 1 in subbasin 1, glacier 2 in subbasin 2.
double Glacierized(long r, long c) {
  if (r >= 2 && r <= 4 && c <= 3)
    return 1.0 - 0.15 * (r - 2) - 0.1 * (c - 1);
  if (r >= 2 && r <= 3 && (c == 5 || c == 6))
    return 0.7;
  return Zone(r, c) == N ? N : 0.0;
}
double Codes(long r, long c) {
  if (!(Glacierized(r, c) > 0.0))
    return N;
  return c <= 4 ? 1.0 : 2.0;
}

TEST(GlacierModuleMpiTest, GlacierShareIsTheSameOnEveryProcess) {
  DiagnosticsLog log("Tavro_Diag.xml", 4);
  test::SnowCatchment catchment(log, kRows, kCols, 2, Zone, Elevation);
  catchment.AddCommonInputs([](long, long) { return 0.0; }, [](long, long) { return 0.0; });
  catchment.AddInput("temperature_night", 0.0);
  catchment.AddInput("ice_firn", [](long r, long c) {
    if (r == 2 && c == 1)
      return 1.5;
    return r == 2 && c == 6 ? -0.2 : 0.0;
  });
  IceFirnText glacier;
  glacier.method = 1;
  test::WriteFixture(test::kSnowControl, SnowSectionText{}.Text() + glacier.Text());
  ModuleSettings settings = catchment.Settings(ModelDate{0, 31, 1, 2012});
  int error = -1;
  schneemodellklasse module(error, settings);
  ASSERT_EQ(error, 0);
  const auto &share = module.GlacierSubbasins();
  ASSERT_EQ(share.size(), 3u);
  EXPECT_TRUE(share[1].HasGlacier);
  EXPECT_EQ(share[1].Glacierized, 1.0) << "1.5 counts as 1";
  EXPECT_EQ(share[1].Unglacierized, 33.0); // 34 cells
  EXPECT_FALSE(share[2].HasGlacier) << "-0.2 counts as 0";
  EXPECT_EQ(share[2].Glacierized, 0.0);
  EXPECT_EQ(share[2].Unglacierized, 24.0); // 24 cells, none glacierized
  // The same bytes on every process.
  const std::size_t bytes = share.size() * sizeof(glacier::GlacierSubbasinRecord);
  std::vector<unsigned char> mine(bytes);
  std::memcpy(mine.data(), share.data(), bytes);
  std::vector<unsigned char> first = mine;
  MPI_Bcast(first.data(), static_cast<int>(bytes), MPI_UNSIGNED_CHAR, 0, MPI_COMM_WORLD);
  EXPECT_EQ(mine, first);
  module.ReleaseMemory();
}

// A module with dynamic glaciers (method 11), snow slides (method 9) and its
// own weather; its year closes on 30 September.
struct GlacierRun {
  GlacierRun(DiagnosticsLog &log, int readGrid, const ModelDate &end, int stateMode)
      : catchment(log, kRows, kCols, 2, Zone, Elevation) {
    catchment.AddCommonInputs([](long, long) { return 0.0; }, [](long, long) { return 0.0; });
    catchment.AddInput("temperature_night", 0.0);
    for (int k = 1; k <= 4; ++k)
      catchment.AddInput("slidefraction" + std::to_string(k),
                         [k](long r, long c) { return 0.1 + 0.2 * ((r * k + c) % 4); });
    catchment.AddInput("slope_angle",
                       [](long r, long c) { return 20.0 + 4.0 * ((r + 2 * c) % 9); });
    catchment.AddInput("deposition_index",
                       [](long r, long c) { return -0.2 + 0.1 * ((r + c) % 5); });
    // A restart reads the glacier grids its first part ended with.
    fraction = &catchment.AddInput("GlacierizedCells", Glacierized);
    codes = &catchment.AddInput("GlacierCodes", Codes);
    SnowSectionText snow;
    snow.method = 9;
    snow.minSlideSlope = 30.0;
    snow.slideMassFraction = 0.1;
    snow.readGrid = readGrid;
    for (const char *grid : {"solid", "liquid", "total", "snowdays", "snowage"})
      snow.writecodes[grid] = 3;
    IceFirnText glacier;
    glacier.readGrid = readGrid;
    glacier.stackCode = glacier.massBalanceCode = glacier.oldMassBalanceCode = 3;
    glacier.packCode = 3;
    glacier.newGlacierRow = "60 0.25"; // deep snow makes new glacier cells
    test::WriteFixture(test::kSnowControl, snow.Text() + glacier.Text());
    ModuleSettings settings = catchment.Settings(end);
    settings.MinToIntEnd = snow.minutes;
    settings.WriteDoubleGrids = true;
    int error = -1;
    module = std::make_unique<schneemodellklasse>(error, settings);
    EXPECT_EQ(error, 0);
    module->SelectWaterInput(false);
    qg.Resize(2);
    module->SetQg(&qg);
    module->ReadStorage(Rank() == 0 ? "state.txt" : "state.txt_" + std::to_string(Rank()),
                        stateMode);
  }
  // Day n of the run (26 September is day 0): cold and snowy, then warm.
  void Step(int n) {
    const auto fill = [&](const char *identifier, auto value) {
      Grid &grid = catchment.Input(identifier);
      for (long r = grid.FirstRow(); r <= grid.LastRow(); ++r)
        for (long c = 1; c <= kCols; ++c)
          grid[r][c] = value(r, c);
    };
    const auto temperature = [n](long r, long c) {
      return (n < 3 ? -4.0 : 6.0) - 0.3 * r + 0.2 * c + std::sin(0.9 * n + r);
    };
    fill("temperature", temperature);
    fill("temperature_night", [&](long r, long c) { return temperature(r, c) - 3.0; });
    fill("precipitation",
         [n](long r, long c) { return n < 3 ? 40.0 + 3.0 * ((r + c + n) % 4) : 2.0; });
    const long day = 26 + n;
    module->ComputeTimeStep(0, day <= 30 ? day : day - 30, day <= 30 ? 9 : 10, 2012);
  }
  Grid Gather(const char *identifier) { return test::Gathered(*module, identifier); }

  test::SnowCatchment catchment;
  Grid *fraction = nullptr;
  Grid *codes = nullptr;
  SubbasinRunoffArrays qg;
  std::unique_ptr<schneemodellklasse> module;
};

const std::vector<const char *> kCompared{
    "GlacierizedCells",   "GlacierCodes",          "firn_WE_stack",
    "GlacierMassBalance", "OldGlacierMassBalance", "TotalSnowStorage_onGlacier",
    "snow_storage_total", "snowstorage_liquid",    "melt_from_ice",
    "melt_from_firn",     "SnowMelt_onGlacier",    "GlacierCodesOld"};

void ExpectSameGrid(const Grid &a, const Grid &b, const char *what) {
  if (Rank() != 0)
    return;
  for (long r = 1; r <= kRows; ++r)
    for (long c = 1; c <= kCols; ++c)
      ASSERT_EQ(a[r][c], b[r][c]) << what << " at " << r << "," << c;
}

struct Result {
  std::vector<Grid> grids;
  Stack firn;
  std::array<double, 3> reservoirs{};
};

Result Collect(GlacierRun &run) {
  Result result;
  for (const char *id : kCompared)
    result.grids.push_back(run.Gather(id));
  const int stack = run.module->FindGrid("firn_WE_stack", false);
  result.firn = run.module->MPIGatherStackForOutput(stack, nullptr);
  result.reservoirs = {run.module->Reservoirs().Ice[1], run.module->Reservoirs().Firn[1],
                       run.module->Reservoirs().Snow[1]};
  return result;
}

void ExpectSame(const Result &a, const Result &b) {
  for (std::size_t k = 0; k < kCompared.size(); ++k)
    ExpectSameGrid(a.grids[k], b.grids[k], kCompared[k]);
  if (Rank() != 0)
    return;
  for (long r = 1; r <= kRows; ++r)
    for (long c = 1; c <= kCols; ++c)
      for (long l = 0; l <= 4; ++l)
        ASSERT_EQ(a.firn[r][c][l], b.firn[r][c][l]) << r << "," << c << " level " << l;
  EXPECT_EQ(a.reservoirs, b.reservoirs);
}

constexpr int kDays = 8; // 26 September to 3 October
const ModelDate kEnd{0, 3, 10, 2012};

TEST(GlacierModuleMpiTest, OneAndTwoThreadsGiveTheSameBitsAcrossAYearlyUpdate) {
  DiagnosticsLog log("Tavro_Diag.xml", 4);
  std::vector<Result> results;
  for (const int threads : {1, 2}) {
    omp_set_num_threads(threads);
    GlacierRun run(log, 0, kEnd, 4);
    for (int n = 0; n < kDays; ++n)
      run.Step(n);
    results.push_back(Collect(run));
    run.module->ReleaseMemory();
  }
  omp_set_num_threads(2);
  ExpectSame(results[0], results[1]);
  // The update made new glacier cells of the deep snow and melt followed.
  if (Rank() == 0) {
    int added = 0;
    double melt = 0.0;
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kCols; ++c) {
        added += Codes(r, c) == N && results[0].grids[1][r][c] > 0.0 ? 1 : 0;
        melt += results[0].grids[8][r][c] > 0.0 ? results[0].grids[8][r][c] : 0.0;
      }
    EXPECT_GT(added, 0);
    EXPECT_GT(melt, 0.0);
    EXPECT_GT(results[0].reservoirs[0] + results[0].reservoirs[1], 0.0);
  }
}

// Days 26 to 28 September, then 29 September to 3 October (with the yearly
// update on the 30th) through the state section, the double grids and the
// firn stack, against all eight days at once.
TEST(GlacierModuleMpiTest, RunSplitBeforeTheEvaluationDayEqualsOneLongRun) {
  DiagnosticsLog log("Tavro_Diag.xml", 4);
  constexpr int kFirst = 3;
  {
    GlacierRun part(log, 0, ModelDate{0, 28, 9, 2012}, 0);
    for (int n = 0; n < kFirst; ++n)
      part.Step(n);
    part.module->ReleaseMemory(); // writes the state section
  }
  Result split;
  {
    GlacierRun part(log, 1, kEnd, 1);
    for (int n = kFirst; n < kDays; ++n)
      part.Step(n);
    split = Collect(part);
    part.module->ReleaseMemory();
  }
  GlacierRun whole(log, 0, kEnd, 4);
  for (int n = 0; n < kDays; ++n)
    whole.Step(n);
  ExpectSame(Collect(whole), split);
  whole.module->ReleaseMemory();
}

} // namespace
} // namespace tavro
