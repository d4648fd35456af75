// The silting-up step over the real decomposition: the gathered grids of
// several steps equal, to the last bit, the same steps computed here from the
// formulas of a cell over the whole raster, for methods 1 and 3, under any
// number of processes (the suite runs under 1 and 3) and threads (1 and 2).
// A failing formula ends the step with 403 on every process, logged once.
#include "landsurface/silting_up_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "landsurface/silting_up/silting_up_kernels.h"
#include "landsurface/silting_up_fixture.h"
#include "raster/parallel/mpi_decomposition.h"
#include "support/decomposed_raster.h"
#include "support/diagnostics_entries.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace tavro {
namespace {

using namespace siltingup;
using test::Rank;

constexpr long kRows = 15;
constexpr long kCols = 7;
constexpr double N = -9999.0;
constexpr const char *kControl = "control.txt_0.$$$";
constexpr double kMinutes = 720.0;
constexpr int kSteps = 6;

double Zone(long r, long c) {
  if ((r == 1 && c == 1) || (r == 15 && c == 7) || (r == 8 && c == 4))
    return N;
  return r <= 7 ? 1.0 : 2.0;
}
// A tilled field (record 1) left of column 6, a meadow (record 2) right of it.
double Landuse(long, long c) { return c <= 5 ? 1.0 : 2.0; }
double Soil(long r, long c) { return (r + c) % 3 == 0 ? 2.0 : 1.0; }
double Cover(long r, long c) { return 0.05 * ((r * c) % 7); }
double Rain(long r, long c, int step) {
  return step == 2 || step == 3 ? 0.0 : 4.0 * r + 9.0 * c + 30.0 * step; // mm per step
}
constexpr double kResidue = 0.15;
constexpr double kPause[] = {0.0, 0.5, 1.0}; // zones 1 and 2, days

struct Step {
  long hour, day, month, year;
};
Step StepOf(int i) { return {12L * (i % 2), 9L + i / 2, 4, 2011}; } // from 9 April 2011

// The expected grids of the whole raster after the steps (rank 0).
struct Expected {
  std::vector<double> disposition, pause, energy, tillage, runoff, input;
};

std::size_t At(long r, long c) { return static_cast<std::size_t>((r - 1) * kCols + c - 1); }

Expected ComputeWhole(DiagnosticsLog &log, const OneBasedArray<landuse_class> &landuse,
                      const OneBasedArray<soil_class> &soils) {
  const std::size_t cells = static_cast<std::size_t>(kRows * kCols);
  Expected e{std::vector<double>(cells, 0.0), std::vector<double>(cells, 0.0),
             std::vector<double>(cells, 0.0), std::vector<double>(cells, 0.0),
             std::vector<double>(cells, 0.0), std::vector<double>(cells, 0.0)};
  const MethodParameters p;
  for (int i = 0; i < kSteps; ++i) {
    const Step s = StepOf(i);
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kCols; ++c) {
        if (Zone(r, c) == N)
          continue;
        const std::size_t k = At(r, c);
        const landuse_class &record = landuse[static_cast<std::size_t>(Landuse(r, c))];
        const soil_class &soil = soils[static_cast<std::size_t>(Soil(r, c))];
        const double texture = TextureValue(soil.GrainSizeDist);
        const double sand = soil.GrainSizeDist[0];
        const double input = Rain(r, c, i);
        e.tillage[k] =
            TimeSinceTillage(record.DayOfYear(log, static_cast<int>(s.day),
                                              static_cast<int>(s.month), static_cast<int>(s.year)),
                             record.GetSoilTillage());
        const double intensity = RainIntensity(input, kMinutes);
        e.pause[k] = RainPauseAfter(e.pause[k], intensity, kMinutes);
        EnergyStep step;
        step.sinceTillage = e.tillage[k];
        step.intensity = intensity;
        step.energyFactor = RainEnergyFactor(intensity);
        step.cover = std::min(1.0, (Landuse(r, c) == 1.0 ? kResidue : 0.0) + Cover(r, c));
        step.dtMinutes = kMinutes;
        step.minimumPause = kPause[static_cast<std::size_t>(Zone(r, c))];
        step.rainPause = e.pause[k];
        e.disposition[k] = Disposition(p, texture, sand, e.tillage[k]);
        e.energy[k] = KineticEnergyAfter(e.energy[k], step);
        const double capacity = InfiltrationCapacity(p.A, FinalInfiltrationRate(p, texture, sand),
                                                     e.disposition[k], e.energy[k], kMinutes);
        const WaterSplit split =
            SplitWater(input, 0.0, capacity, HasTillage(record.GetSoilTillage()));
        e.runoff[k] = split.directRunoff;
        e.input[k] = split.infiltrating;
      }
  }
  return e;
}

class SiltingUpMpiTest : public testing::Test {
protected:
  void SetUp() override {
    Grid wholeZone;
    decomposition_ = test::DecomposeZones(wholeZone, kCols, kRows, N, Zone, log_);
    const StripRows held = decomposition_.HeldRows();
    grids_ = std::make_unique<test::SiltingUpGrids>(
        log_, registry_, test::SetupRaster{kRows, kCols, 2, held.first, held.last}, Zone,
        test::SiltingUpCells{Landuse, Cover, Soil});
    registry_.AddGrid(registry_.FirstFreeIndex(), "MPIRegions_0", &decomposition_.regions, nullptr,
                      1, kRegionsGridName, 0, held.first, held.last, kCols, kRows, log_);
    landuse_[1] = test::SiltingUpLanduse(log_, 1, {100, 250}, kResidue);
    landuse_[2] = test::SiltingUpLanduse(log_, 2, {}, 0.0);
    soils_[1] = test::SiltingUpSoil(1, 0.3, 0.5, 0.2);
    soils_[2] = test::SiltingUpSoil(2, 0.65, 0.25, 0.1);
    grids_->FillSettings(settings_, registry_, kControl, landuse_, soils_, statistics_);
    settings_.FirstRow = static_cast<int>(decomposition_.strip.first);
    settings_.LastRow = static_cast<int>(decomposition_.strip.last);
    settings_.RowRanges = &decomposition_.rowRanges;
    settings_.Halo.Decomposition = &decomposition_;
    settings_.MinToIntEnd = kMinutes;
  }

  test::SiltingUpRows Rows() const {
    return test::SiltingUpRows().Set(16, "1 2").Set(17, "0.5 1.0");
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  GridRegistry registry_;
  StatisticsRegistry statistics_;
  MpiDecomposition decomposition_;
  std::unique_ptr<test::SiltingUpGrids> grids_;
  OneBasedArray<landuse_class> landuse_{2};
  OneBasedArray<soil_class> soils_{2};
  ModuleSettings settings_;
};

TEST_F(SiltingUpMpiTest, StepsAreTheSameForAnyProcessAndThreadCount) {
  Expected expected;
  if (Rank() == 0)
    expected = ComputeWhole(log_, landuse_, soils_);
  const char *names[] = {"SiltingUpDisposition",  "RainPause",
                         "KineticEnergy",         "TimeSinceLastSoilTillage",
                         "DirectRunoffSiltingUp", "precipitation"};
  for (const int method : {1, 3})
    for (const int threads : {1, 2}) {
      SCOPED_TRACE(testing::Message() << "method " << method << ", threads " << threads);
      omp_set_num_threads(threads);
      test::SiltingUpRows rows = Rows();
      if (method == 3)
        rows.Method3(test::BuiltInFormulaBlock());
      test::WriteFixture(kControl, test::SiltingUpSection(1, kMinutes, rows));
      int error = -1;
      siltingupclass module(error, settings_);
      ASSERT_EQ(error, 0);
      module.SelectWaterInput(false);
      for (int i = 0; i < kSteps; ++i) {
        grids_->terrain.Set(grids_->precipitation, [i](long r, long c) { return Rain(r, c, i); });
        const Step s = StepOf(i);
        module.ComputeTimeStep(s.hour, s.day, s.month, s.year);
      }
      std::vector<Grid> gathered;
      for (const char *name : names)
        gathered.push_back(module.MPIGatherGridForOutput(registry_.Find(name), nullptr));
      module.ReleaseMemory();
      if (Rank() != 0)
        continue;
      const std::vector<double> *values[] = {&expected.disposition, &expected.pause,
                                             &expected.energy,      &expected.tillage,
                                             &expected.runoff,      &expected.input};
      // Counted, not asserted: rank 0 must not leave the loop the others go on with.
      int differing = 0;
      double runoff = 0.0;
      for (std::size_t g = 0; g < gathered.size(); ++g)
        for (long r = 1; r <= kRows; ++r)
          for (long c = 1; c <= kCols; ++c) {
            if (Zone(r, c) == N)
              continue;
            const double want = (*values[g])[At(r, c)];
            if (gathered[g][r][c] != want && ++differing <= 5)
              ADD_FAILURE() << names[g] << " " << r << "/" << c << ": " << gathered[g][r][c]
                            << " vs " << want;
            if (g == 4)
              runoff += want;
          }
      EXPECT_EQ(differing, 0);
      EXPECT_GT(runoff, 0.0);
    }
}

int CountOccurrences(const std::string &text, const std::string &part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

TEST_F(SiltingUpMpiTest, FailingFormulaEndsEveryProcessWith403) {
  omp_set_num_threads(2);
  test::WriteFixture(
      kControl,
      test::SiltingUpSection(1, kMinutes, Rows().Method3("SiltingUpExpressions {Z=1; V=O!;}")));
  int error = -1;
  siltingupclass module(error, settings_);
  ASSERT_EQ(error, 0);
  module.SelectWaterInput(false);
  // 0.3 days since tillage on 10 April: not an integer.
  const int code = test::ExitCodeOf([&] { module.ComputeTimeStep(0, 10, 4, 2011); });
  EXPECT_EQ(code, 403);
  module.ReleaseMemory();
  if (Rank() == 0) {
    const std::string xml = test::ReadWholeFile("Tavro_Diag_0.xml");
    EXPECT_EQ(CountOccurrences(xml, "Parser message"), 1);
    EXPECT_TRUE(test::Logged("FATAL: \n-----------------error------------\nin instance "
                             "SiltingUpModel\nexpression V=O! could not be parsed correctly. "
                             "Parser message: Error: Integer value expected in function "
                             "factorial (col -1)"));
  }
}

} // namespace
} // namespace tavro
