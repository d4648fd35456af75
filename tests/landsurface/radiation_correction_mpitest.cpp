// The radiation correction over the real decomposition: a ridge whose winter
// afternoon shadow reaches across the strips of the processes. The gathered
// "radiation_correction", "corr_temperature" and "Shadow" grids equal, to the
// last bit, the same step computed here from the kernels over the whole
// raster, whatever the number of processes (the suite runs under 1 and 3) and
// threads.
#include "landsurface/radiation_correction.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "landsurface/radiation/exposure_geometry.h"
#include "landsurface/radiation/shadow_casting.h"
#include "landsurface/radiation_correction_fixture.h"
#include "raster/parallel/mpi_decomposition.h"
#include "support/decomposed_raster.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <memory>
#include <set>
#include <string>

namespace tavro {
namespace {

using test::Rank;

constexpr long kRows = 24;
constexpr long kCols = 8;
constexpr double kCell = 100.0;
constexpr double N = -9999.0;
constexpr const char *kControl = "control.txt_0.$$$";
constexpr double kScaling = 1.5;

// An east-west ridge 300 m high along row 16 on ground that rises gently to
// the east; a few cells outside the catchment, one of them in the shadow.
double Zone(long r, long c) {
  if ((r == 1 && c == 1) || (r == 24 && c == 8) || (r == 10 && c == 5))
    return N;
  return r <= 12 ? 1.0 : 2.0;
}
double Elevation(long r, long c) {
  return 300.0 * std::max(0.0, 1.0 - std::fabs(static_cast<double>(r - 16)) / 3.0) + 3.0 * c;
}
double Slope(long r, long c) { return test::TerrainSlope(Elevation, r, c, kCell).Slope; }
double Aspect(long r, long c) { return test::TerrainSlope(Elevation, r, c, kCell).Aspect; }
double Temperature(long r, long c) { return 1.0 - 0.0065 * Elevation(r, c) + 0.01 * c; }
// Two overcast columns, counted as horizontal.
double Sunshine(long, long c) { return c == 3 || c == 4 ? 0.05 : 0.7; }

// 21 December, 09:00 to 15:00 in six sub-steps; the last ends in the low sun
// of the afternoon.
constexpr long kHour = 9, kDay = 21, kMonth = 12, kYear = 2003;
constexpr double kMinutes = 360.0;
constexpr int kSplittings = 6;
const solar::Observer kObserver{47.0, 15.0, 15.0};

// The step computed from the kernels over the whole raster (rank 0).
struct Expected {
  Grid factor, temperature, shadow;
};

Expected ComputeWhole(DiagnosticsLog &log) {
  Grid zone(1, kRows, kCols, kRows, log), elevation(1, kRows, kCols, kRows, log);
  Expected e{Grid(1, kRows, kCols, kRows, log), Grid(1, kRows, kCols, kRows, log),
             Grid(1, kRows, kCols, kRows, log)};
  Grid beamSum(1, kRows, kCols, kRows, log);
  for (long r = 1; r <= kRows; ++r)
    for (long c = 1; c <= kCols; ++c) {
      zone[r][c] = Zone(r, c);
      elevation[r][c] = Elevation(r, c);
    }
  const radiation::SubStepFrame frame =
      radiation::MakeSubStepFrame(kHour + kMinutes / 60.0, kMinutes, kSplittings);
  double horizontal = 0.0;
  for (int i = 0; i < frame.count; ++i) {
    const double centre = radiation::SubStepCentre(frame, i);
    const solar::Daylight light =
        radiation::SubStepDaylight(centre, frame.length, kDay, kMonth, kObserver);
    EXPECT_EQ(light.isNight, 0);
    const solar::SunDirection sun = solar::SunAzimuth(
        kDay, kMonth, 47.0, 15.0, radiation::SunlitMiddle(centre, frame.length, light), 15.0);
    const radiation::DirectBeam beam =
        radiation::DirectBeamOfSubStep(frame.length, light.dayFraction, sun.elevation);
    horizontal += beam.energy * beam.cosZenith;
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kCols; ++c)
        e.shadow[r][c] = Zone(r, c) == N ? N : 0.0;
    radiation::CastShadows(elevation, zone, {kRows, kCols, kCell, N}, {sun.azimuth, sun.elevation},
                           e.shadow);
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kCols; ++c)
        if (Zone(r, c) != N && e.shadow[r][c] < 0.5 && beam.energy > 0.0)
          beamSum[r][c] += radiation::CappedIncidence(Aspect(r, c), Slope(r, c), sun.azimuth, beam,
                                                      Sunshine(r, c) < 0.1) *
                           beam.energy;
  }
  for (long r = 1; r <= kRows; ++r)
    for (long c = 1; c <= kCols; ++c) {
      if (Zone(r, c) == N) {
        e.factor[r][c] = e.temperature[r][c] = N;
        continue;
      }
      e.factor[r][c] = beamSum[r][c] / horizontal;
      e.temperature[r][c] = radiation::CorrectedTemperature(Temperature(r, c), e.factor[r][c],
                                                            kScaling, Sunshine(r, c), true);
    }
  return e;
}

class RadiationCorrectionMpiTest : public testing::Test {
protected:
  void SetUp() override {
    Grid wholeZone;
    decomposition_ = test::DecomposeZones(wholeZone, kCols, kRows, N, Zone, log_);
    const StripRows held = decomposition_.HeldRows();
    terrain_ = std::make_unique<test::TerrainGrids>(
        log_, registry_, test::SetupRaster{kRows, kCols, 2, held.first, held.last, 0.0, 0.0, kCell},
        Zone, Elevation);
    registry_.AddGrid(registry_.FirstFreeIndex(), "MPIRegions_0", &decomposition_.regions, nullptr,
                      1, kRegionsGridName, 0, held.first, held.last, kCols, kRows, log_);
    terrain_->Add("temperature", Temperature);
    terrain_->Add("sunshine_duration", Sunshine);
    terrain_->setup.FillSettings(settings_, registry_, "radiation_correction", kControl);
    settings_.FirstRow = static_cast<int>(decomposition_.strip.first);
    settings_.LastRow = static_cast<int>(decomposition_.strip.last);
    settings_.RowRanges = &decomposition_.rowRanges;
    settings_.Halo.Decomposition = &decomposition_;
    settings_.Latitude = kObserver.latitude;
    settings_.Longitude = kObserver.longitude;
    settings_.ReferenceMeridian = kObserver.referenceMeridian;
    settings_.MinToIntEnd = kMinutes;
    settings_.EndDate = ModelDate{0, 31, 12, kYear};
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  GridRegistry registry_;
  MpiDecomposition decomposition_;
  std::unique_ptr<test::TerrainGrids> terrain_;
  ModuleSettings settings_;
};

TEST_F(RadiationCorrectionMpiTest, RidgeShadowAcrossStripsIsTheSameForAnyProcessAndThreadCount) {
  test::RadiationCorrectionValues values;
  values.method = 2;
  values.splittings = kSplittings;
  values.scaling = kScaling;
  test::WriteFixture(kControl, test::RadiationCorrectionSection(1, kMinutes, values));
  Expected expected;
  if (Rank() == 0)
    expected = ComputeWhole(log_);

  for (const int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    omp_set_num_threads(threads);
    int error = -1;
    expokorrklasse module(error, settings_);
    ASSERT_EQ(error, 0);
    module.ComputeTimeStep(kHour, kDay, kMonth, kYear);
    const Grid factor =
        module.MPIGatherGridForOutput(registry_.Find("radiation_correction"), nullptr);
    const Grid temperature =
        module.MPIGatherGridForOutput(registry_.Find("corr_temperature"), nullptr);
    const Grid shadow = module.MPIGatherGridForOutput(registry_.Find("Shadow"), nullptr);
    module.SetInitialized(1);
    module.ReleaseMemory();
    if (Rank() != 0)
      continue;

    // Counted, not asserted: rank 0 must not leave the loop that the other
    // processes go on with.
    int differing = 0;
    std::set<long> shadedRows;
    std::set<long> shadingOwners;
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kCols; ++c) {
        const bool same = factor[r][c] == expected.factor[r][c] &&
                          temperature[r][c] == expected.temperature[r][c] &&
                          shadow[r][c] == expected.shadow[r][c];
        if (!same && ++differing <= 5)
          ADD_FAILURE() << "cell " << r << "/" << c << ": factor " << factor[r][c] << " vs "
                        << expected.factor[r][c] << ", temperature " << temperature[r][c] << " vs "
                        << expected.temperature[r][c] << ", shadow " << shadow[r][c] << " vs "
                        << expected.shadow[r][c];
        if (shadow[r][c] == 1.0) {
          shadedRows.insert(r);
          shadingOwners.insert(std::lround(decomposition_.regions[r][c]));
        }
      }
    EXPECT_EQ(differing, 0);
    // The afternoon shadow falls north of the ridge, over several strips.
    EXPECT_GE(shadedRows.size(), 8u);
    EXPECT_TRUE(shadedRows.empty() || *shadedRows.rbegin() < 16);
    if (test::ProcessCount() == 3) {
      EXPECT_GE(shadingOwners.size(), 2u);
    }
    // Shaded all day in the lee of the ridge; the sunny south face gains.
    EXPECT_LT(expected.factor[15][6], 0.5);
    EXPECT_GT(expected.factor[17][6], 1.5);
  }
}

} // namespace
} // namespace tavro
