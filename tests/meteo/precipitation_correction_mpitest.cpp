// The precipitation correction and the regional superposition over the real
// decomposition (the suite runs under 1 and 3 processes): the corrected
// station values and regression are the same on every process, the grid
// correction and the superposition of the gathered grids equal their cell
// formulas on the whole raster, and one thread gives what two give.
#include "decomposed_meteo_raster.h"
#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "meteo/correction/precipitation_factor.h"
#include "meteo/meteointerpol.h"
#include "meteo/precipitation_correction.h"
#include "meteo/regional_superposition.h"
#include "raster/parallel/mpi_decomposition.h"
#include "station_file_fixture.h"
#include "support/setup_grids.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <mpi.h>
#include <omp.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::Rank;

// The raster, its zones and elevations, and the stations.
using namespace meteo_test;
constexpr const char *kControl = "control.txt_0.$$$";

std::string Section(const std::string &name, int method, const std::string &stations,
                    const std::string &methodLine) {
  return "[" + name + "]\n" + std::to_string(method) + "\n" + stations + "\n" + methodLine + "\n" +
         name + ".grd\n0\n1.0\n" + name + ".stat 0\n9999\n2\n0.5\n2500\n0\n1\n-100\n-100\n100\n" +
         "100\n0\n";
}

const double kThreshold = 5.0;
const correction::CorrectionParameters kFactors{kThreshold, 1.1, 0.02, 1.3, 0.1};

std::string CorrectionSection(int doIt) {
  return "[precipitation_correction]\n" + std::to_string(doIt) + "\n5.0\n1.1\n0.02\n1.3\n0.1\n";
}

// "mix": precipitation in region 1, temperature in region 3, half each in 2.
const char *kSuperposition =
    "[RegionalSuperposition]\n1\n1440\nNumberOfEntities = 1;\n"
    "mix { entityinputgrid = precipitation; regions = 1 2 3; weights = 1 0.5 0;\n"
    "  entityinputgrid = temperature; regions = 1 2 3; weights = 0 0.5 1;\n"
    "  outputgrid = mix.asc; writecode = 0; outputtable = mix.stat; statcode = 2001; }\n";

struct Outcome {
  std::vector<Grid> precipitation, temperature, wind, mix; // gathered, per day (rank 0)
  std::vector<std::vector<double>> stationValues;          // per day, every process
  std::vector<std::array<double, 8>> regressions;          // per day: intercepts, slopes
  std::string table;                                       // mix.stat (rank 0)
};

class PrecipitationCorrectionMpiTest : public testing::Test {
protected:
  void SetUp() override {
    test::WriteFixture("stations.dat", StationFile(kStations,
                                                   {{1.5, 4.0, -99999.0, 3.25},
                                                    {0.0, 12.5, 7.0, 2.0},
                                                    {-99999.0, -99999.0, -99999.0, -99999.0}},
                                                   3, 1));
    test::WriteFixture(
        "wind.dat",
        StationFile(kStations,
                    {{2.0, 6.0, 1.0, -99999.0}, {0.0, 3.0, 4.0, 5.0}, {1.0, 1.0, 1.0, 1.0}}, 3, 1));
    std::vector<std::vector<double>> meshDays(3);
    for (const auto &s : kMesh)
      for (std::size_t d = 0; d < 3; ++d)
        meshDays[d].push_back(2.0 + 0.002 * s.x - 0.001 * s.y + static_cast<double>(d));
    test::WriteFixture("mesh.dat", StationFile(kMesh, meshDays, 3, 1));
    test::WriteFixture(
        "temp4.dat",
        StationFile(kStations,
                    {{3.0, 7.0, 5.0, 6.0}, {4.0, 8.0, -99999.0, 2.0}, {6.0, 6.0, 6.0, 6.0}}, 3, 1));
    raster_.Build(log_, registry_, settings_, "precipitation", kControl);
    const StripRows held = raster_.decomposition.HeldRows();
    regions_ = Grid(held.first, held.last, kCols, kRows, log_);
    weights_ = Grid(held.first, held.last, kCols, kRows, log_);
    for (long r = held.first; r <= held.last; ++r)
      for (long c = 1; c <= kCols; ++c) {
        regions_[r][c] = ZoneCode(r, c);
        weights_[r][c] = 1.0;
      }
    registry_.AddGrid(10, "regions", &regions_, nullptr, 1, "regression_regions", 0, held.first,
                      held.last, kCols, kRows, log_);
    registry_.AddGrid(11, "weights", &weights_, nullptr, 1, "regression_weights1", 0, held.first,
                      held.last, kCols, kRows, log_);
    ranks_ = OneBasedArray<int>(3, 0);
    for (std::size_t k = 1; k <= 3; ++k)
      ranks_[k] = static_cast<int>(k);
  }

  // Three days of precipitation (method), temperature (method 4 or 5) and
  // wind speed (method 4), corrected on the stations or on the grids.
  Outcome Run(int precipitationMethod, int temperatureMethod, bool onGrids, int doIt) {
    const std::string temperatureStations = temperatureMethod == 5 ? "mesh.dat" : "temp4.dat";
    test::WriteFixture(kControl,
                       Section("precipitation", precipitationMethod, "stations.dat",
                               precipitationMethod == 11 ? "600 800 100 0 50" : "none") +
                           Section("temperature", temperatureMethod, temperatureStations, "none") +
                           Section("wind_speed", 4, "wind.dat", "none") + CorrectionSection(doIt) +
                           kSuperposition);
    const std::vector<std::string> names = {"precipitation", "temperature", "wind_speed"};
    const std::array<int, 3> indexes = {5, 7, 9};
    std::vector<std::unique_ptr<meteointerpol>> variables;
    std::vector<meteointerpol *> pointers;
    for (std::size_t v = 0; v < names.size(); ++v) {
      ModuleSettings settings = settings_;
      settings.ModuleName = names[v];
      int error = 0;
      variables.push_back(
          std::make_unique<meteointerpol>(error, settings, ModelDate{0, 1, 3, 2001}, indexes[v]));
      pointers.push_back(variables.back().get());
    }
    ModuleSettings moduleSettings = settings_;
    moduleSettings.ModuleName = RegionalSuperposition::FixedName;
    RegionalSuperposition superposition(moduleSettings, RegionTableRef{&ranks_, nullptr, 3, 3});
    int error = 0;
    precicorrclass correction(error, settings_, pointers, names, 3);
    correction.SetMaxElevation(700.0);
    correction.SetGridRenewedEveryStep(
        superposition.ComputesGrid(correction.PrecipitationGridIndex()));

    Outcome outcome;
    meteointerpol &precipitation = *variables[0];
    for (int day = 0; day < 3; ++day) {
      long h = 0, d = 0, m = 0, y = 0;
      precipitation.GetActualDate(h, d, m, y);
      for (auto &variable : variables)
        if (variable->InterpolationMethod == 11)
          variable->CalcElevationRegression(0);
      if (!onGrids)
        correction.CorrectStationData();
      for (auto &variable : variables)
        variable->Interpolate(h, d, m, y);
      superposition.ComputeTimeStep(h, d, m, y);
      if (onGrids)
        correction.CorrectGrids();
      const OneBasedArray<double> &values = precipitation.StationFile(0).Values();
      outcome.stationValues.emplace_back(values.Data() + 1, values.Data() + 1 + kStations.size());
      double lo = 0, hi = 0;
      std::array<double, 4> intercepts{}, slopes{};
      precipitation.GetRegressionParameters(1, lo, hi, intercepts, slopes);
      outcome.regressions.push_back({intercepts[0], intercepts[1], intercepts[2], intercepts[3],
                                     slopes[0], slopes[1], slopes[2], hi});
      outcome.precipitation.push_back(precipitation.MPIGatherGridForOutput(5, nullptr));
      outcome.temperature.push_back(variables[1]->MPIGatherGridForOutput(7, nullptr));
      outcome.wind.push_back(variables[2]->MPIGatherGridForOutput(9, nullptr));
      const int mix = superposition.Entities()[0]->OutputGridIndex();
      outcome.mix.push_back(superposition.MPIGatherGridForOutput(mix, nullptr));
      superposition.WriteStepOutput();
      for (auto &variable : variables)
        variable->ReadNextData();
    }
    superposition.FlushStatistics();
    correction.ReleaseMemory();
    superposition.ReleaseMemory();
    for (auto &variable : variables) {
      variable->SetInitialized(1);
      variable->ReleaseMemory();
    }
    outcome.table = Rank() == 0 ? test::ReadWholeFile("mix.stat") : "";
    return outcome;
  }

  // The same on every process: the largest equals the smallest.
  static void ExpectSameEverywhere(const std::vector<double> &values, const char *what) {
    std::vector<double> high(values.size()), low(values.size());
    const int n = static_cast<int>(values.size());
    MPI_Allreduce(values.data(), high.data(), n, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
    MPI_Allreduce(values.data(), low.data(), n, MPI_DOUBLE, MPI_MIN, MPI_COMM_WORLD);
    EXPECT_EQ(high, low) << what;
  }

  static void ExpectSameGrids(const std::vector<Grid> &a, const std::vector<Grid> &b) {
    for (std::size_t d = 0; d < a.size(); ++d)
      for (long r = 1; r <= kRows; ++r)
        for (long c = 1; c <= kCols; ++c)
          ASSERT_EQ(a[d][r][c], b[d][r][c]) << "day " << d << " cell " << r << "/" << c;
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  GridRegistry registry_;
  meteo_test::DecomposedMeteoRaster raster_;
  Grid regions_, weights_;
  OneBasedArray<int> ranks_;
  ModuleSettings settings_;
};

TEST_F(PrecipitationCorrectionMpiTest, StationCorrectionIsTheSameOnEveryProcess) {
  for (const int precipitationMethod : {1, 11})
    for (const int temperatureMethod : {4, 5}) {
      SCOPED_TRACE(testing::Message() << precipitationMethod << " " << temperatureMethod);
      const Outcome corrected = Run(precipitationMethod, temperatureMethod, false, 1);
      const Outcome raw = Run(precipitationMethod, temperatureMethod, false, 0);
      for (std::size_t d = 0; d < 3; ++d) {
        ExpectSameEverywhere(corrected.stationValues[d], "station values");
        ExpectSameEverywhere({corrected.regressions[d].begin(), corrected.regressions[d].end()},
                             "regression");
      }
      // Day 1: station 2 (7 deg C by Thiessen, 6 m/s) is rain.
      if (temperatureMethod == 4) {
        EXPECT_DOUBLE_EQ(corrected.stationValues[0][1], 4.0 * (1.1 + 0.02 * 6.0));
      }
      EXPECT_EQ(corrected.stationValues[0][2], raw.stationValues[0][2]); // missing
    }
}

// Rank 0: the gathered grids of the grid path against the cell formulas.
void ExpectCellFormulas(const Outcome &raw, const Outcome &one) {
  const correction::MissingBound bound = correction::MissingBound::OfInterpolator(9999.0);
  for (std::size_t d = 0; d < 3; ++d)
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kCols; ++c) {
        if (ZoneCode(r, c) < 0.0)
          continue;
        const double p = raw.precipitation[d][r][c];
        const double t = one.temperature[d][r][c], u = one.wind[d][r][c];
        double expected = p;
        if (d == 2) {
          // No valid station value on day 3: the grid keeps day 2's
          // correction and is not multiplied again.
          expected = one.precipitation[1][r][c];
        } else if (!bound.IsMissing(p)) {
          expected = correction::CorrectionFactor(
                         kFactors, correction::TemperatureOrRain(kFactors, t, bound.IsMissing(t)),
                         correction::WindOrCalm(u, bound.IsMissing(u))) *
                     p;
        }
        ASSERT_DOUBLE_EQ(one.precipitation[d][r][c], expected)
            << "day " << d << " cell " << r << "/" << c;
        // The superposition reads the grid before the correction; on day 3
        // that grid still holds day 2's correction.
        const double read = d == 2 ? one.precipitation[1][r][c] : p;
        const int region = static_cast<int>(ZoneCode(r, c));
        const double pw = region == 1 ? 1.0 : (region == 2 ? 0.5 : 0.0);
        double mix = pw * read + (1.0 - pw) * t;
        if ((pw > 0.0 && read <= -9999.0) || (pw < 1.0 && t <= -9999.0))
          mix = -9999.0;
        ASSERT_DOUBLE_EQ(one.mix[d][r][c], mix) << "day " << d << " cell " << r << "/" << c;
      }
}

TEST_F(PrecipitationCorrectionMpiTest, GridCorrectionAndSuperpositionFollowTheirCellFormulas) {
  const int saved = omp_get_max_threads();
  for (const int temperatureMethod : {4, 5}) {
    SCOPED_TRACE(temperatureMethod);
    omp_set_num_threads(1);
    const Outcome raw = Run(1, temperatureMethod, true, 0);
    const Outcome one = Run(1, temperatureMethod, true, 1);
    omp_set_num_threads(2);
    const Outcome two = Run(1, temperatureMethod, true, 1);
    omp_set_num_threads(saved);
    if (Rank() != 0)
      continue;
    ExpectSameGrids(one.precipitation, two.precipitation);
    ExpectSameGrids(one.mix, two.mix);
    EXPECT_EQ(one.table, two.table);
    ExpectCellFormulas(raw, one);
    EXPECT_NE(one.table.find("mix_submodel:RegionalSuperposition"), std::string::npos);
  }
}

} // namespace
} // namespace tavro
